// The virtual deck: the machine end of a 9-pin RS-422 line.
//
// A Deck behaves like a professional VTR (or a VDR disc recorder, or a ZDKR
// machine) answering the Sony/SMPTE 9-pin protocol. It is a serial endpoint:
// bind it to a COM number with platform::BindVirtualPort and the driver's
// serial layer talks to it in-process, or run it on a pseudo-terminal with the
// vtrsim program.
//
//   DeckConfig cfg = DeckConfig::For("BVW-75");
//   cfg.standard = VideoStandard::kNtscDropFrame;
//   auto deck = std::make_shared<Deck>(cfg);
//   platform::BindVirtualPort(1, deck);
//   ...
//   deck->InjectFault({.kind = FaultKind::kCorruptChecksum});
//   for (const TraceEntry& e : deck->Trace()) ...
//
// Time comes from platform::Now(): replies are due a latency after the
// command's last byte, and the transport (play, shuttle, cue-up, ...) moves
// with the clock, virtual or real. Nothing runs in the background: the model
// catches up with the clock whenever the deck is called.
//
// Positions are frame counts from the start of the tape; the timecode track
// reads start_timecode + position. All methods are thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_ports.h"
#include "sim/personalities.h"

namespace vtr::sim {

using platform::Micros;

enum class VideoStandard { kNtsc, kNtscDropFrame, kPal };

// The strictness of a real machine; each can be relaxed for a controller that
// is not (yet) as careful as real machines want.
struct Strictness {
  // A block whose first byte comes before the deck has sent its reply to the
  // previous one is not carried out: it is answered, after that reply, with
  // NAK 0x20 (buffer overrun).
  bool early_blocks = true;
  // A block whose bytes stop coming for more than 10 ms is dropped and answered
  // with NAK 0x80 (time out). Relaxed, bytes however far apart join a block.
  bool byte_timeout = true;
  // Under local control (the panel has the deck) transport and preset commands
  // are acknowledged and not carried out; sense requests are answered.
  bool local = true;
  // Without a cassette, transport commands are acknowledged and not carried
  // out. Relaxed, a motion command loads a blank cassette first.
  bool tape = true;
  // The servo locks `servo_lock_frames` after play starts; before that a REC or
  // EDIT ON during play is acknowledged and not carried out.
  bool servo = true;
};

struct DeckConfig {
  // The machine: a BVW-75 unless said otherwise. For(...) sets the fields
  // below that come from a personality.
  DeckConfig();
  static DeckConfig For(const Personality& personality);
  // For(FindPersonality(name)), the generic deck for a name the table lacks.
  static DeckConfig For(std::string_view name);

  const Personality* personality;
  std::optional<std::uint16_t> device_type;  // raw code; overrides the personality's
  Family family = Family::kAuto;             // kAuto: the personality's
  VideoStandard standard = VideoStandard::kNtsc;
  bool pal_type_variant = true;  // a PAL deck reports the 625/50 variant of its code

  // Capabilities.
  bool can_record;              // false: a player; recording commands are undefined
  bool can_edit;                // runs edits itself (preview, review, auto edit)
  bool can_cue = true;          // false: CUE_DATA is refused as unknown
  bool can_step = true;         // false: STEP_FWD/STEP_REV are refused as unknown
  bool has_timecode = true;     // false: time sense answers timer-1, timer mode 01
  bool has_vitc;                // false: VITC requests answer "time data missing" (70 0D)
  bool record_inhibit = false;  // record and edit-on are acknowledged and do nothing
  int audio_tracks = 2;         // 1..4; the edit preset selects tracks 1 and 2

  // Timing.
  Micros latency{2000};         // command's last byte to reply's first byte
  bool line_pacing = false;     // each byte takes 11 bits at 38400 baud
  int status_delay_frames = 5;  // play/record bits show this long after motion starts
  int servo_lock_frames = 15;   // play to servo lock
  double wind_speed;            // fast forward, rewind and cue search, times play
  double shuttle_max;           // shuttle and jog limit, times play
  double var_max;               // var limit, times play
  int edit_on_delay;            // frames from a controller's REC or EDIT ON to the first recorded
  int edit_off_delay;           // frames from EDIT OFF to the end of the recording

  Strictness strict;

  // Tape.
  bool tape_loaded = true;
  std::uint32_t tape_frames = 30u * 60u * 30u;  // tape length (30 minutes at 30 fps)
  std::uint32_t start_timecode = 0;             // timecode frame count at position 0
  std::uint32_t position = 0;                   // initial position
  std::uint32_t near_end_frames = 60u * 30u;    // near-end bit this close to the end
  // Preroll time as the deck starts (PRETIME_422 changes it); unset: the
  // personality's.
  std::optional<std::uint32_t> preroll_frames;
  std::uint32_t postroll_frames = 60;  // an edit run plays on after the out point

  // Blocks the deck keeps for Trace(); older ones are dropped (0: none kept;
  // the trace sink still sees every block).
  std::size_t trace_limit = 10000;

 private:
  void Apply(const Personality& p);
};

enum class FaultKind {
  kSilence,          // answer nothing (and trace nothing: the line stays quiet)
  kNak,              // answer NAK with nak_bits instead of the real reply
  kCorruptChecksum,  // the reply's checksum byte is wrong
  kDropByte,         // byte `byte_index` of the reply is never sent
  kDelayByte,        // byte `byte_index` (and those after it) comes `delay` late
  kNoise,            // `noise` bytes go out before the reply
  kWrongReply,       // answer with the reply to the previous command
};

struct Fault {
  static constexpr int kAlways = -1;
  FaultKind kind = FaultKind::kSilence;
  int times = 1;  // how many replies it affects; kAlways until cleared
  std::uint8_t nak_bits = 0x01;
  std::size_t byte_index = 1;
  Micros delay{20000};
  std::vector<std::uint8_t> noise{0x55, 0xAA};
};

enum class Direction { kToDeck, kFromDeck };

struct TraceEntry {
  Direction direction;
  Micros time;  // arrival of the block's last byte (to deck) or first byte (from deck)
  std::vector<std::uint8_t> bytes;
  std::string name;  // PLAY_422, STATSENSE_422, ACK, NAK, STATUS_DATA, ...
};

// "   12.345 ms  -> deck  20 01 21  PLAY_422"
std::string FormatTraceEntry(const TraceEntry& e);

// Speed law of the shuttle, jog and var commands: 10^(N/32 - 2) times play,
// `fine` refining between N and N+1; speed byte 0 holds still.
double SpeedForByte(std::uint8_t n, std::uint8_t fine = 0);

enum class TransportMode {
  kStop,
  kPlay,
  kRecord,
  kFastForward,
  kRewind,
  kShuttle,
  kJog,
  kVar,
  kStill,
  kCue,
  kEject,   // cassette on its way out
  kNoTape,  // cassette out
};

// A snapshot of the deck for tests and the front panel.
struct DeckState {
  TransportMode mode;
  std::uint32_t position;  // frames from the start of the tape
  double speed;            // times play speed, negative in reverse
  bool local;
  bool cue_complete;
  bool edit;
  std::uint32_t timer1;  // control-track counter, frames
};

// What a recording laid down on a track: frames [first, end) of the tape.
enum class TakeKind { kRecord, kAssemble, kInsert };
struct RecordedSpan {
  std::uint32_t first = 0;
  std::uint32_t end = 0;
  int take = 0;  // recordings numbered from 1 since the cassette went in
  TakeKind kind = TakeKind::kRecord;
  std::optional<std::uint32_t> timecode;  // timecode track: the count written at `first`
  bool operator==(const RecordedSpan&) const = default;
};
// Per track ("video", "audio 1".., "timecode"), spans in tape order; a later
// recording replaces the frames it covers.
struct RecordedTrack {
  std::string name;
  std::vector<RecordedSpan> spans;
};

// One line per span: "video      300-599  take 2 insert", the timecode track
// with the timecode written ("01:00:00:00-01:00:59:29").
std::string FormatRecordMap(const std::vector<RecordedTrack>& tracks, VideoStandard standard);

// Where the latest take landed against the frames asked for, [first, end):
// "take 2 landed at 304-403: in +4, out +4 frames"; empty when nothing is
// recorded.
std::string FormatLanding(const std::vector<RecordedTrack>& tracks, std::uint32_t first,
                          std::uint32_t end);

class Deck : public platform::SerialEndpoint {
 public:
  explicit Deck(DeckConfig config = {});
  ~Deck() override;
  Deck(const Deck&) = delete;
  Deck& operator=(const Deck&) = delete;

  // SerialEndpoint.
  void Receive(std::span<const std::uint8_t> bytes) override;
  std::size_t Transmit(std::span<std::uint8_t> out) override;
  std::optional<Micros> NextArrival() const override;
  void DiscardArrived() override;
  bool Connected() const override;

  // Faults apply to the next replies, in the order injected.
  void InjectFault(Fault fault);
  void ClearFaults();
  void SetConnected(bool connected);  // false: the port vanished

  // Front panel and tape handling.
  void PanelStop();
  void PanelEject();
  void LoadTape(std::uint32_t position = 0);  // a cassette goes in, wound to `position`
  void SetPosition(std::uint32_t frames);
  void SetLocal(bool local);
  void SetHardError(bool error);

  DeckState State() const;
  std::vector<std::uint8_t> StatusBytes() const;  // all 16 status bytes, as sensed now
  const DeckConfig& Config() const { return config_; }
  std::uint16_t ReportedDeviceType() const;
  std::uint8_t ZdkrValue(std::uint8_t set_cmd2, std::uint8_t channel = 0) const;
  // What is recorded where, including a recording still running.
  std::vector<RecordedTrack> Recorded() const;

  std::vector<TraceEntry> Trace() const;
  std::string TraceText() const;
  void ClearTrace();
  // Called (under the deck's lock: do not call back into the deck) for every
  // block as it is traced.
  void SetTraceSink(std::function<void(const TraceEntry&)> sink);

 private:
  struct Impl;
  const DeckConfig config_;
  std::unique_ptr<Impl> impl_;
};

}  // namespace vtr::sim

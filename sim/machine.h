// The deck's mechanism: transport, tape, edit points and the settings the
// status bytes report. Protocol-free; the Deck drives it and guards it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/deck.h"
#include "sim/timecode.h"

namespace vtr::sim {

// Auto edit, preview, review and preroll move through the same phases.
enum class EditRun { kNone, kPreroll, kAutoEdit, kPreview, kReview };

class Machine {
 public:
  explicit Machine(const DeckConfig& config);

  // Moves the model to `now`; earlier times are ignored.
  void Update(Micros now);
  Micros Time() const { return now_; }

  // Transport commands; each takes effect at Time(). Motion commands are
  // ignored without a tape and under local control (the panel owns the deck),
  // as strict as the configuration asks.
  bool Accepts();
  void Stop();
  void Play();
  void Record();
  void Wind(bool forward);
  void Scan(TransportMode kind, double speed);  // shuttle, jog, var; signed speed
  void Still();
  void Cue(std::uint32_t timecode);  // timecode frame count
  void Step(int direction);
  void StartRun(EditRun run);
  void EditOn();
  void EditOff();
  void Standby(bool on) { standby_ = on; }

  // Panel and tape handling.
  void Eject();
  void Load(std::uint32_t position);
  void SetPosition(std::uint32_t position);
  void SetLocal(bool local) { local_ = local; }
  void SetHardError(bool error) { hard_error_ = error; }

  // Readings.
  TransportMode Mode() const { return mode_; }
  std::uint32_t Position() const;
  std::uint32_t Timecode() const;  // timecode frame count at the current position
  std::uint32_t Timer1() const;
  double Speed() const;  // times play, signed
  bool CueComplete() const { return cue_complete_; }
  bool Editing() const { return edit_; }
  bool Local() const { return local_; }
  bool ServoLocked() const;
  bool BetweenInAndOut() const;
  bool Slow() const;  // below a quarter of play speed: VITC reads, LTC does not
  std::array<std::uint8_t, 16> StatusBytes() const;
  std::uint16_t VdrStatus() const;
  const FrameRate& Rate() const { return rate_; }
  std::vector<RecordedTrack> Recorded();

  // Settings.
  void PresetTimer1(std::uint32_t count);
  std::array<std::uint8_t, 4> user_bits{};
  std::uint32_t tc_generator = 0;
  std::uint8_t edit_preset = 0;
  std::uint8_t timer_mode = 0;  // 0 timecode, 1 timer-1
  bool full_ee = false;
  bool select_ee = false;
  bool auto_mode = false;
  bool dual_play = false;
  std::uint32_t preroll_frames;
  // Frames a controller's REC or EDIT ON and its EDIT OFF take to reach the
  // tape (a ZDKR machine's edit durations set them).
  int edit_on_delay;
  int edit_off_delay;
  // Edit points (timecode frame counts): in, out, audio in, audio out.
  std::array<std::optional<std::uint32_t>, 4> points{};
  std::array<std::optional<std::uint32_t>, 4> recall{};

 private:
  enum class Phase { kNone, kCueing, kRolling, kEditing, kPostroll };
  // A recording running: it lays `tracks` (a bit per track: video, audio
  // 1..4, timecode) from `from`, until `until` once an edit off is given.
  struct Laying {
    unsigned tracks;
    double from;
    std::optional<double> until;
    int take;
    TakeKind kind;
    std::uint32_t tc;  // the generator's count at `from`
  };
  static constexpr std::size_t kTracks = 6;
  static constexpr unsigned kTimecodeTrack = 5;

  void BeginLaying(unsigned tracks, TakeKind kind, int delay_frames);
  void EndLaying(int delay_frames);
  void EndEdit(int delay_frames);
  void SettleLaying();
  // Lays `l` up to `end` into `map`; answers the frames laid.
  std::uint32_t Lay(std::array<std::vector<RecordedSpan>, kTracks>& map, const Laying& l,
                    double end) const;
  unsigned AllTracks() const;
  unsigned PresetTracks() const;
  void StartEdit(int delay_frames);

  void SetMode(TransportMode mode);
  void CancelRun();
  void StartCue(std::int64_t target_position);
  void Arrive();
  void ReachEnd(bool forward);
  void RunEvent();
  std::optional<double> EventPosition() const;
  double MotionSpeed() const;  // times play, signed, for constant-speed modes
  bool Shows(TransportMode m) const;
  TransportMode DisplayedMode() const;

  const DeckConfig& config_;
  FrameRate rate_;
  Micros now_{0};
  TransportMode mode_;
  TransportMode shown_before_;  // what the status showed before the last change
  Micros mode_since_{0};
  Micros locked_at_{0};  // the servo locks then, after play starts
  double pos_;
  double scan_speed_ = 0;
  double cue_target_ = 0;
  bool cue_reachable_ = true;
  bool cue_complete_ = false;
  bool standby_ = true;
  bool local_ = false;
  bool hard_error_ = false;
  bool edit_ = false;
  EditRun run_ = EditRun::kNone;
  Phase phase_ = Phase::kNone;
  double run_in_ = 0;
  double run_out_ = -1;
  // The points of the last edit run, for REVIEW.
  std::optional<std::uint32_t> last_in_, last_out_;
  std::int64_t timer1_offset_ = 0;
  Micros eject_done_{0};
  std::vector<Laying> laying_;
  std::array<std::vector<RecordedSpan>, kTracks> recorded_;
  int takes_ = 0;
};

}  // namespace vtr::sim

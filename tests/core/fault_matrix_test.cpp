// Faults against every kind of command, in virtual time: a line that fails, a
// deck that acknowledges and then does not do the work, targets off the
// tape's clock, and an application that breaks or replaces a wait. Each
// answer is bounded and says what happened: "ok" and "successful" only where
// the deck did the work, one notification that agrees with the answer, and
// the device works again once the fault is gone.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/clock.h"
#include "tests/support/driver_fixture.h"

namespace vtr::test {
namespace {

using namespace std::chrono_literals;
using vtr::sim::FaultKind;
using ms = std::chrono::milliseconds;

constexpr DWORD_PTR kCallback = 0x4242;
constexpr UINT kNoNote = 0;
constexpr DWORD kStart = 100;  // where the tape is when a command starts
// How far past its end a play or record to a position may leave the tape: a
// poll period and the visit, and as much again for a reading lost on the way.
constexpr DWORD kPastEnd = 10;
constexpr DWORD kMinus5 = 0xFFFFFFFB;
constexpr DWORD k24Hours = 24 * 3600 * 30;  // frames at 30 a second, non-drop

enum class Fault {
  kNone,
  kAfterSeek,  // healthy, right after a seek to 1000 with wait
  // The line.
  kSilence,
  kNak,
  kChecksum,
  kDropByte,
  kLateByte,
  kNoise,
  kWrongReply,
  kVanish,
  // The deck acknowledges and then does not do the work.
  kLocal,         // switched to local control after a seek to 1000
  kLocalPlaying,  // switched to local control while it plays
  kRecordInhibit,
  kNoTape,
  kNoCue,       // its profile section says CanCue=0
  kNoAutoEdit,  // its profile section says CanAuto=0
  kPanelStop,   // at `at`: stopped from its own panel
  kPanelStill,  // at `at`: held still by another controller
  kEject,       // at `at`: the tape taken out
  kJump,        // at `at`: the tape is far past the end before anyone looks
  // The application, at `at` into the command's wait.
  kBreak,         // the yield answers break from then on
  kBreakCommand,  // "break" sent from the yield
  kLaterCommand,  // a seek without wait sent from the yield
  kStatusQuery,   // "status position" sent from the yield
};

// What must hold of the deck when the command says "ok" or "successful".
enum class Truth {
  kNone,
  kStored,
  kAt,
  kUnmoved,
  kPlayedTo,
  kRecordedTo,
  kStepped,
  kAtStart,
  kPlaying,  // still playing a second after the answer
};

struct Command {
  const char* text;
  UINT msg;
  DWORD flags;
  DWORD w0, w1, w2;  // the block after the callback
  Truth truth;
  DWORD target = 0;      // the position (or frames) the truth is about
  DWORD start = kStart;  // where the tape is when it starts
};

constexpr DWORD kToWait = MCI_TO | MCI_WAIT | MCI_NOTIFY;
constexpr DWORD kFromToWait = MCI_FROM | MCI_TO | MCI_WAIT | MCI_NOTIFY;
constexpr UINT kCalibrate = 0x0C86;
constexpr UINT kStripe = 0x0C85;
constexpr UINT kFf = 0x0C80, kRw = 0x0C81;

const Command kOpen{"open", MCI_OPEN_DRIVER, 0, 0, 0, 0, Truth::kNone};
const Command kClose{"close", MCI_CLOSE_DRIVER, MCI_NOTIFY, 0, 0, 0, Truth::kNone};
const Command kPosition{"status position", MCI_STATUS, MCI_STATUS_ITEM, 0, 2, 0, Truth::kStored};
const Command kMode{"status mode", MCI_STATUS, MCI_STATUS_ITEM, 0, 4, 0, Truth::kNone};
const Command kMedia{"status media present", MCI_STATUS, MCI_STATUS_ITEM, 0, 5, 0, Truth::kNone};
const Command kReady{"status ready", MCI_STATUS, MCI_STATUS_ITEM, 0, 7, 0, Truth::kNone};
const Command kPlay{"play notify", MCI_PLAY, MCI_NOTIFY, 0, 0, 0, Truth::kNone};
const Command kRecord{"record wait", MCI_RECORD, MCI_WAIT | MCI_NOTIFY, 0, 0, 0, Truth::kNone};
const Command kSeek{"seek to 20000 wait", MCI_SEEK, kToWait, 20000, 0, 0, Truth::kAt, 20000};
const Command kPlayTo{
    "play from 300 to 1200 wait", MCI_PLAY, kFromToWait, 300, 1200, 0, Truth::kPlayedTo, 1200};
// The deck acknowledges and does not do the work.
const Command kSeek2000{"seek to 2000 wait", MCI_SEEK, kToWait, 2000, 0, 0, Truth::kAt, 2000};
const Command kCue3000{"cue to 3000 wait", MCI_CUE, kToWait, 0, 3000, 0, Truth::kAt, 3000};
const Command kSeek600{"seek to 600 wait", MCI_SEEK, kToWait, 600, 0, 0, Truth::kAt, 600};
const Command kSeekHere{"seek to 100 wait", MCI_SEEK, kToWait, 100, 0, 0, Truth::kAt, 100};
const Command kRecordTo1300{"record to 1300 wait", MCI_RECORD, kToWait, 0, 1300, 0,
                            Truth::kRecordedTo,    1300};
const Command kRecordTo600{"record to 600 wait", MCI_RECORD, kToWait, 0, 600, 0,
                           Truth::kRecordedTo,   600};
const Command kRecordFromTo{"record from 700 to 800 notify",
                            MCI_RECORD,
                            MCI_FROM | MCI_TO | MCI_NOTIFY,
                            700,
                            800,
                            0,
                            Truth::kRecordedTo,
                            800};
const Command kRecordFromToWait{
    "record from 700 to 800 wait", MCI_RECORD, kFromToWait, 700, 800, 0, Truth::kRecordedTo, 800};
const Command kRecordFrom{
    "record from 700 notify", MCI_RECORD, MCI_FROM | MCI_NOTIFY, 700, 0, 0, Truth::kNone};
const Command kPlayFrom{
    "play from 700 notify", MCI_PLAY, MCI_FROM | MCI_NOTIFY, 700, 0, 0, Truth::kNone};
const Command kSeekAt500{"seek at 500 wait", MCI_SEEK, 0x40000 | MCI_WAIT | MCI_NOTIFY, 0, 0, 500,
                         Truth::kNone};
const Command kRecordFromOffTape{"record from 60000 (off the tape)",
                                 MCI_RECORD,
                                 MCI_FROM | MCI_NOTIFY,
                                 60000,
                                 0,
                                 0,
                                 Truth::kNone};
const Command kPlayToBehind{"play to 50 wait", MCI_PLAY, kToWait, 0, 50, 0, Truth::kPlayedTo, 50};
const Command kStopWait{"stop wait", MCI_STOP, MCI_WAIT | MCI_NOTIFY, 0, 0, 0, Truth::kNone};
const Command kPauseWait{"pause wait", MCI_PAUSE, MCI_WAIT | MCI_NOTIFY, 0, 0, 0, Truth::kNone};
const Command kFfWait{"ff wait", kFf, MCI_WAIT | MCI_NOTIFY, 0, 0, 0, Truth::kNone};
const Command kRwWait{"rw wait", kRw, MCI_WAIT | MCI_NOTIFY, 0, 0, 0, Truth::kNone};
const Command kPlayWait{"play wait", MCI_PLAY, MCI_WAIT | MCI_NOTIFY, 0, 0, 0, Truth::kPlaying};
const Command kStepWait{"step by 3 wait", MCI_STEP, 0x10000 | MCI_WAIT | MCI_NOTIFY, 3, 0, 0,
                        Truth::kStepped,  3};
const Command kCalibrateWait{"calibrate wait", kCalibrate, MCI_WAIT | MCI_NOTIFY, 0, 0, 0,
                             Truth::kAtStart};
const Command kStripeNotify{
    "stripe to 300", kStripe, 0x20000 | MCI_NOTIFY, 0, 0, 300, Truth::kNone, 0, 600};
const Command kPlayTo5000{"play to 5000 notify", MCI_PLAY, MCI_TO | MCI_NOTIFY, 0, 5000, 0,
                          Truth::kPlayedTo,      5000};
// Off the tape's clock.
const Command kSeek100h{"seek to 100 h + 1000", MCI_SEEK, kToWait, 10801000, 0, 0, Truth::kUnmoved};
const Command kSeekMinus5{"seek to -5 wait", MCI_SEEK, kToWait, kMinus5, 0, 0, Truth::kUnmoved};
const Command kSeekAt24h{"seek at 24 h", MCI_SEEK,       0x40000 | MCI_WAIT | MCI_NOTIFY, 0, 0,
                         k24Hours,       Truth::kUnmoved};
const Command kCue24h{"cue to 24 h", MCI_CUE, kToWait, 0, k24Hours, 0, Truth::kUnmoved};
const Command kPlayFromMinus5{"play from -5 to 300", MCI_PLAY, kFromToWait, kMinus5, 300, 0,
                              Truth::kUnmoved};
const Command kRecordTo24h{"record to 24 h", MCI_RECORD, kToWait, 0, k24Hours, 0, Truth::kUnmoved};
const Command kStepBack200{
    "step reverse by 200", MCI_STEP, 0x30000 | MCI_WAIT | MCI_NOTIFY, 200, 0, 0, Truth::kUnmoved};
// Waits on a healthy deck.
const Command kSeekOffTape{
    "seek to 60000 (off the tape)", MCI_SEEK, kToWait, 60000, 0, 0, Truth::kAt, 60000};
const Command kSeekAtHere{
    "seek at where the tape is", MCI_SEEK, 0x40000 | MCI_WAIT, 0, 0, kStart, Truth::kNone};
const Command kCalibrateNear{
    "calibrate near the start", kCalibrate, MCI_WAIT | MCI_NOTIFY, 0, 0, 0, Truth::kAtStart, 0, 10};
const Command kCalibrateFar{"calibrate far from the start",
                            kCalibrate,
                            MCI_WAIT | MCI_NOTIFY,
                            0,
                            0,
                            0,
                            Truth::kAtStart,
                            0,
                            20000};
// Short plays and records: within kPastEnd of the end, whatever the length.
const Command kPlay1{"play from 300 to 301", MCI_PLAY, kFromToWait, 300, 301, 0,
                     Truth::kPlayedTo,       301};
const Command kPlay5{"play from 300 to 305", MCI_PLAY, kFromToWait, 300, 305, 0,
                     Truth::kPlayedTo,       305};
const Command kPlay30{"play from 300 to 330", MCI_PLAY, kFromToWait, 300, 330, 0,
                      Truth::kPlayedTo,       330};
const Command kPlay70{"play from 300 to 370", MCI_PLAY, kFromToWait, 300, 370, 0,
                      Truth::kPlayedTo,       370};
const Command kPlayTo1{"play to 101", MCI_PLAY, kToWait, 0, 101, 0, Truth::kPlayedTo, 101};
const Command kPlayTo30{"play to 130", MCI_PLAY, kToWait, 0, 130, 0, Truth::kPlayedTo, 130};
const Command kRecordTo1{"record to 101", MCI_RECORD, kToWait, 0, 101, 0, Truth::kRecordedTo, 101};
const Command kRecordTo5{"record to 105", MCI_RECORD, kToWait, 0, 105, 0, Truth::kRecordedTo, 105};
const Command kRecordTo70{"record to 170", MCI_RECORD, kToWait, 0, 170, 0, Truth::kRecordedTo, 170};

struct Row {
  const Command* cmd;
  Fault fault;
  ms at;     // into the command
  ms burst;  // line faults: 0 for one reply only
  DWORD result;
  UINT note;  // the notification, kNoNote for none
};

const char* Name(Fault f) {
  static const char* const names[] = {
      "healthy",      "after a seek",  "silence",        "NAK",         "bad checksum",
      "dropped byte", "late byte",     "noise",          "wrong reply", "vanished port",
      "local",        "local playing", "record inhibit", "no tape",     "CanCue=0",
      "CanAuto=0",    "panel stop",    "held still",     "eject",       "jump",
      "break",        "break command", "later command",  "status query"};
  static_assert(std::size(names) == static_cast<int>(Fault::kStatusQuery) + 1);
  return names[static_cast<int>(f)];
}

std::string Describe(const Row& r) {
  return std::string(Name(r.fault)) + " x " + r.cmd->text + " at " + std::to_string(r.at.count()) +
         " ms for " + std::to_string(r.burst.count()) + " ms";
}

bool IsLine(Fault f) { return f >= Fault::kSilence && f <= Fault::kVanish; }

vtr::sim::Fault LineFault(Fault f, bool burst) {
  const int times = burst ? vtr::sim::Fault::kAlways : 1;
  switch (f) {
    case Fault::kNak:
      return {.kind = FaultKind::kNak, .times = times, .nak_bits = 0x10};
    case Fault::kChecksum:
      return {.kind = FaultKind::kCorruptChecksum, .times = times};
    case Fault::kDropByte:
      return {.kind = FaultKind::kDropByte, .times = times, .byte_index = 2};
    case Fault::kLateByte:
      return {.kind = FaultKind::kDelayByte, .times = times, .byte_index = 2, .delay = 60ms};
    case Fault::kNoise:
      return {.kind = FaultKind::kNoise, .times = times};
    case Fault::kWrongReply:
      return {.kind = FaultKind::kWrongReply, .times = times};
    default:
      return {.kind = FaultKind::kSilence, .times = times};
  }
}

struct Block {
  DWORD_PTR callback;
  DWORD w[4];
};

class FaultMatrix : public DriverFixture {
 protected:
  vtr::sim::DeckConfig DeckSetup() override {
    auto cfg = DriverFixture::DeckSetup();
    cfg.record_inhibit = fault_ == Fault::kRecordInhibit;
    return cfg;
  }
  std::string InitialProfile() override {
    if (fault_ == Fault::kNoCue) return "[videotape]\nVTRID=19\nCanCue=0\n";
    if (fault_ == Fault::kNoAutoEdit) return "[videotape]\nVTRID=19\nCanAuto=0\n";
    return DriverFixture::InitialProfile();
  }

  DWORD Wait(const Command& c, DWORD w0) {
    Block b{0, {w0, 0, 0, 0}};
    return Send(c.msg, MCI_TO | MCI_WAIT, &b);
  }
  // The deck's state before the command.
  void Prepare(const Row& row) {
    const Command seek1000{"", MCI_SEEK, 0, 0, 0, 0, Truth::kNone};
    switch (row.fault) {
      case Fault::kAfterSeek:
        EXPECT_EQ(Wait(seek1000, 1000), 0u);
        break;
      case Fault::kLocal:
        EXPECT_EQ(Wait(seek1000, 1000), 0u);
        deck_->SetLocal(true);
        break;
      case Fault::kLocalPlaying: {
        EXPECT_EQ(Wait(seek1000, 1000), 0u);
        Block play{0, {}};
        EXPECT_EQ(Send(MCI_PLAY, 0, &play), 0u);
        Run(500);
        deck_->SetLocal(true);
        break;
      }
      case Fault::kNoTape:
        deck_->PanelEject();
        Run(2000);
        break;
      default:
        break;
    }
    host_.ClearNotifications();
  }
  void Start(const Row& row) {
    row_ = row;
    on_ = over_ = false;
    t0_ = vtr::platform::Now();
    host_.OnYield([this](UINT) {
      // A wait that never ends breaks here instead of hanging the run.
      if (vtr::platform::Now() - t0_ > kLimit) return 1u;
      return Tick() ? 1u : 0u;
    });
    Tick();
  }
  // Starts and ends the fault on its schedule; true while a break is asked for.
  bool Tick() {
    const auto t = vtr::platform::Now() - t0_;
    if (!on_ && !over_ && t >= row_.at) {
      on_ = true;
      Block b{0, {}};
      switch (row_.fault) {
        case Fault::kVanish:
          deck_->SetConnected(false);
          break;
        case Fault::kPanelStop:
          deck_->PanelStop();
          break;
        case Fault::kPanelStill:
          deck_->Receive(std::vector<std::uint8_t>{0x21, 0x13, 0x00, 0x34});
          break;
        case Fault::kEject:
          deck_->PanelEject();
          break;
        case Fault::kJump:
          deck_->SetPosition(row_.cmd->target + 130);
          break;
        case Fault::kBreakCommand:
          Send(MCI_BREAK, 0, &b);
          break;
        case Fault::kLaterCommand:
          b.w[0] = 600;
          Send(MCI_SEEK, MCI_TO, &b);
          break;
        case Fault::kStatusQuery:
          b.w[1] = 2;
          Send(MCI_STATUS, MCI_STATUS_ITEM, &b);
          break;
        default:
          if (IsLine(row_.fault)) deck_->InjectFault(LineFault(row_.fault, row_.burst.count() > 0));
          break;
      }
    }
    if (on_ && row_.fault == Fault::kVanish && row_.burst.count() == 0) Clear();
    if (on_ && IsLine(row_.fault) && row_.burst.count() > 0 && t >= row_.at + row_.burst) Clear();
    return on_ && row_.fault == Fault::kBreak;
  }
  void Clear() {
    deck_->ClearFaults();
    deck_->SetConnected(true);
    on_ = false;
    over_ = true;
  }
  // The latest take on the video track.
  std::optional<vtr::sim::RecordedSpan> LastTake() const {
    std::optional<vtr::sim::RecordedSpan> last;
    for (const auto& track : deck_->Recorded()) {
      if (track.name != "video") continue;
      for (const auto& s : track.spans) {
        if (!last || s.take > last->take) last = s;
      }
    }
    return last;
  }
  void CheckTruth(const Command& c, const Block& b, DWORD began) {
    const auto pos = deck_->State().position;
    switch (c.truth) {
      case Truth::kStored:
        EXPECT_EQ(b.w[0], pos);
        break;
      case Truth::kAt:
        EXPECT_LE((pos ^ c.target) & ~1u, 0u) << "at " << pos;
        break;
      case Truth::kUnmoved:
        EXPECT_EQ(pos, began);
        break;
      case Truth::kPlayedTo:
        EXPECT_GT(pos, c.target);
        EXPECT_LE(pos, c.target + kPastEnd);
        EXPECT_NE(deck_->State().mode, vtr::sim::TransportMode::kPlay);
        break;
      case Truth::kRecordedTo: {
        const auto take = LastTake();
        if (!take) {
          ADD_FAILURE() << "nothing recorded";
          break;
        }
        EXPECT_LE(take->first, std::max(began, c.w0) + 1);
        EXPECT_GE(take->end + 5, c.target);
        EXPECT_LE(take->end, c.target + kPastEnd);
        break;
      }
      case Truth::kStepped:
        EXPECT_EQ(pos, began + c.target);
        break;
      case Truth::kAtStart:
        EXPECT_EQ(pos, 0u);
        EXPECT_EQ(deck_->State().timer1, 0u);
        break;
      case Truth::kPlaying:
        EXPECT_EQ(deck_->State().mode, vtr::sim::TransportMode::kPlay);
        break;
      case Truth::kNone:
        break;
    }
  }

  static constexpr vtr::platform::Micros kLimit = 90s;
  Fault fault_ = Fault::kNone;
  Row row_{&kOpen, Fault::kNone, 0ms, 0ms, 0, kNoNote};
  bool on_ = false, over_ = false;
  vtr::platform::Micros t0_{};
};

TEST_F(FaultMatrix, AnswersTellWhatTheDeckDid) {
  constexpr auto kAll = 4000ms;  // longer than any immediate command
  const Row rows[] = {
      // Open: a machine that cannot acknowledge is not opened.
      {&kOpen, Fault::kSilence, 0ms, kAll, 262, kNoNote},
      {&kOpen, Fault::kNak, 0ms, kAll, 262, kNoNote},
      {&kOpen, Fault::kChecksum, 0ms, kAll, 262, kNoNote},
      {&kOpen, Fault::kDropByte, 0ms, kAll, 262, kNoNote},
      {&kOpen, Fault::kLateByte, 0ms, kAll, 262, kNoNote},
      {&kOpen, Fault::kNoise, 0ms, kAll, 262, kNoNote},
      {&kOpen, Fault::kVanish, 0ms, kAll, 262, kNoNote},
      {&kOpen, Fault::kSilence, 0ms, 0ms, 0, kNoNote},  // the first stop may be lost
      // Status: a deck that gives no answer is not reported with a stale or
      // neutral value (a repeated reply to the same query is an answer).
      {&kPosition, Fault::kSilence, 0ms, kAll, 262, kNoNote},
      {&kPosition, Fault::kChecksum, 0ms, kAll, 262, kNoNote},
      {&kPosition, Fault::kDropByte, 0ms, kAll, 262, kNoNote},
      {&kPosition, Fault::kNoise, 0ms, kAll, 262, kNoNote},
      {&kPosition, Fault::kVanish, 0ms, kAll, 262, kNoNote},
      {&kPosition, Fault::kWrongReply, 0ms, kAll, 0, kNoNote},
      {&kMode, Fault::kSilence, 0ms, kAll, 262, kNoNote},
      {&kMedia, Fault::kSilence, 0ms, kAll, 262, kNoNote},
      {&kReady, Fault::kSilence, 0ms, kAll, 262, kNoNote},
      {&kReady, Fault::kNone, 0ms, 0ms, 0, kNoNote},
      // An immediate command answers and notifies the failure.
      {&kPlay, Fault::kSilence, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {&kPlay, Fault::kNak, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {&kPlay, Fault::kChecksum, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {&kPlay, Fault::kLateByte, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {&kPlay, Fault::kWrongReply, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {&kPlay, Fault::kVanish, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {&kRecord, Fault::kNak, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {&kRecord, Fault::kNoise, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {&kRecord, Fault::kVanish, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      // The command went through, then the line failed during its wait.
      {&kRecord, Fault::kSilence, 50ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {&kClose, Fault::kSilence, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {&kClose, Fault::kNak, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {&kClose, Fault::kVanish, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      // A burst in the middle of a long seek or play-to gives the command up.
      {&kSeek, Fault::kSilence, 3000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {&kSeek, Fault::kNak, 3000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {&kSeek, Fault::kChecksum, 3000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {&kSeek, Fault::kDropByte, 3000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {&kSeek, Fault::kLateByte, 3000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {&kSeek, Fault::kNoise, 3000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {&kSeek, Fault::kWrongReply, 3000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {&kSeek, Fault::kVanish, 3000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {&kPlayTo, Fault::kSilence, 6000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {&kPlayTo, Fault::kChecksum, 6000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {&kPlayTo, Fault::kWrongReply, 6000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {&kPlayTo, Fault::kVanish, 6000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      // One glitch does not move the poll's idea of the tape: the work gets done.
      {&kSeek, Fault::kDropByte, 3000ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kSeek, Fault::kChecksum, 3000ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kSeek, Fault::kWrongReply, 3000ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kSeek, Fault::kNoise, 3000ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kPlayTo, Fault::kDropByte, 6000ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kPlayTo, Fault::kChecksum, 6000ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},

      // The deck acknowledges and does not do the work.
      {&kSeek2000, Fault::kLocal, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kCue3000, Fault::kLocal, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kRecordTo1300, Fault::kLocal, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kStopWait, Fault::kLocal, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kFfWait, Fault::kLocal, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kRwWait, Fault::kLocal, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kPlayWait, Fault::kLocal, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kStepWait, Fault::kLocal, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kCalibrateWait, Fault::kLocal, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kPauseWait, Fault::kLocalPlaying, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kPauseWait, Fault::kLocal, 0ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},  // still already
      {&kSeek600, Fault::kLocal, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kRecordTo600, Fault::kRecordInhibit, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kRecordFromTo, Fault::kRecordInhibit, 0ms, 0ms, 0, MCI_NOTIFY_FAILURE},
      {&kRecord, Fault::kRecordInhibit, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kRecordFrom, Fault::kRecordInhibit, 0ms, 0ms, 0, MCI_NOTIFY_FAILURE},
      {&kRecordFrom, Fault::kNone, 0ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kPlayFrom, Fault::kLocal, 0ms, 0ms, 0, MCI_NOTIFY_FAILURE},
      {&kSeekAt500, Fault::kLocal, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kRecordFromToWait, Fault::kNoAutoEdit, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kStripeNotify, Fault::kRecordInhibit, 0ms, 0ms, 0, MCI_NOTIFY_FAILURE},
      {&kRecordTo1300, Fault::kPanelStop, 1000ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kPlayTo, Fault::kPanelStop, 6000ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kPlayTo, Fault::kEject, 3000ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kPlayTo5000, Fault::kPanelStop, 2700ms, 0ms, 0, MCI_NOTIFY_FAILURE},
      {&kPlayTo5000, Fault::kEject, 2700ms, 0ms, 0, MCI_NOTIFY_FAILURE},
      {&kPlayTo5000, Fault::kPanelStill, 2700ms, 0ms, 0, MCI_NOTIFY_FAILURE},
      {&kPlayTo5000, Fault::kJump, 2700ms, 0ms, 0, MCI_NOTIFY_FAILURE},
      {&kSeek2000, Fault::kNoTape, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kSeek600, Fault::kNoCue, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kSeekHere, Fault::kNoCue, 0ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kSeekOffTape, Fault::kNone, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kRecordFromOffTape, Fault::kNone, 0ms, 0ms, 0, MCI_NOTIFY_FAILURE},
      {&kPlayToBehind, Fault::kNone, 0ms, 0ms, 262, MCI_NOTIFY_FAILURE},
      {&kSeekHere, Fault::kNak, 0ms, 150ms, 262, MCI_NOTIFY_FAILURE},  // the cue refused

      // Off the tape's clock: refused before anything moves.
      {&kSeek100h, Fault::kNone, 0ms, 0ms, 282, MCI_NOTIFY_FAILURE},
      {&kSeekMinus5, Fault::kNone, 0ms, 0ms, 282, MCI_NOTIFY_FAILURE},
      {&kSeekAt24h, Fault::kNone, 0ms, 0ms, 282, MCI_NOTIFY_FAILURE},
      {&kCue24h, Fault::kNone, 0ms, 0ms, 282, MCI_NOTIFY_FAILURE},
      {&kPlayFromMinus5, Fault::kNone, 0ms, 0ms, 282, MCI_NOTIFY_FAILURE},
      {&kRecordTo24h, Fault::kNone, 0ms, 0ms, 282, MCI_NOTIFY_FAILURE},
      {&kStepBack200, Fault::kNone, 0ms, 0ms, 282, MCI_NOTIFY_FAILURE},

      // A wait the application breaks, or that a later command replaces.
      {&kSeek, Fault::kBreak, 3000ms, 0ms, 262, MCI_NOTIFY_ABORTED},
      {&kSeek, Fault::kBreakCommand, 3000ms, 0ms, 262, MCI_NOTIFY_ABORTED},
      {&kSeek, Fault::kLaterCommand, 3000ms, 0ms, 262, MCI_NOTIFY_SUPERSEDED},
      {&kSeek, Fault::kStatusQuery, 3000ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kPlayTo, Fault::kBreak, 3000ms, 0ms, 262, MCI_NOTIFY_ABORTED},
      {&kStopWait, Fault::kBreak, 100ms, 0ms, 262, MCI_NOTIFY_ABORTED},
      {&kStopWait, Fault::kLaterCommand, 100ms, 0ms, 262, MCI_NOTIFY_SUPERSEDED},

      // A healthy deck: waits that end where they were asked to.
      {&kSeekAtHere, Fault::kNone, 0ms, 0ms, 0, kNoNote},
      {&kPlayWait, Fault::kAfterSeek, 0ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},  // the seek is over
      {&kCalibrateNear, Fault::kNone, 0ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kCalibrateFar, Fault::kNone, 0ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kStepWait, Fault::kNone, 0ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kPlay1, Fault::kNone, 0ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kPlay5, Fault::kNone, 0ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kPlay30, Fault::kNone, 0ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kPlay70, Fault::kNone, 0ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kPlayTo1, Fault::kNone, 0ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kPlayTo30, Fault::kNone, 0ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kRecordTo1, Fault::kNone, 0ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kRecordTo5, Fault::kNone, 0ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {&kRecordTo70, Fault::kNone, 0ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Describe(row));
    const Command& c = *row.cmd;
    fault_ = row.fault;
    TearDown();
    SetUp();
    if (c.msg == MCI_OPEN_DRIVER) {
      DriverOpen(u"videotape", 1, 101);
    } else {
      OpenQuietly();
      deck_->SetPosition(c.start);
      Block pos{0, {0, 2, 0, 0}};
      EXPECT_EQ(Send(MCI_STATUS, MCI_STATUS_ITEM, &pos), 0u);  // the stored position
      Prepare(row);
    }
    const DWORD began = deck_->State().position;
    deck_->ClearTrace();
    Start(row);
    const auto t0 = vtr::platform::Now();
    Block b{kCallback, {c.w0, c.w1, c.w2, 0}};
    // Status from the stored readings follows a query of the deck.
    if (c.msg == MCI_STATUS && c.w1 == 7) {
      Block first{0, {0, 2, 0, 0}};
      Send(MCI_STATUS, MCI_STATUS_ITEM, &first);
    }
    const DWORD result = Send(c.msg, c.flags, &b);
    const auto spent = vtr::platform::Now() - t0;
    EXPECT_EQ(result, row.result);
    EXPECT_LT(spent, kLimit) << "the wait ran into the test's limit";
    // A command the machine refused returns at once, with or without a wait.
    if (c.msg == MCI_RECORD && IsLine(row.fault) && row.at.count() == 0) {
      EXPECT_LT(spent, 200ms);
    }
    // Anything still owed comes, once, and agrees.
    for (int i = 0; i < 900 && host_.Notifications().empty() && row.note != kNoNote; ++i) {
      Tick();
      Run(100);
    }
    if (c.msg == MCI_CLOSE_DRIVER) {
      EXPECT_EQ(Record()->nOpenCount, 0u);
    }
    Run(1000);
    const auto notes = host_.Notifications();
    if (row.note == kNoNote) {
      EXPECT_TRUE(notes.empty());
    } else {
      EXPECT_EQ(notes.size(), 1u);
      EXPECT_EQ(notes.empty() ? 0u : notes[0].status, row.note);
    }
    // Refused before anything moved.
    if (result == MCIERR_OUTOFRANGE) {
      for (const auto& name : SentNames()) {
        EXPECT_TRUE(name == "CURTCSENSE_422" || name == "STATSENSE_422" || name == "PAUSE_422")
            << name;
      }
    }
    // "ok" only where the deck did the work.
    const bool ok = result == 0 && (row.note == kNoNote || row.note == MCI_NOTIFY_SUCCESSFUL);
    if (ok) CheckTruth(c, b, began);
    if (row.fault == Fault::kRecordInhibit) {
      EXPECT_FALSE(LastTake().has_value());
    }

    // Recovery once the fault is gone.
    host_.OnYield(nullptr);
    Clear();
    deck_->SetLocal(false);
    if (deck_->State().mode == vtr::sim::TransportMode::kNoTape) deck_->LoadTape(kStart);
    Record()->CanCue = 1;
    Run(200);  // late bytes of the last faulty reply have come and gone
    EXPECT_EQ(Record()->nOpenCount == 0 ? OpenDevice() : 0u, 0u);
    Block stop{0, {}};
    EXPECT_EQ(Send(MCI_STOP, MCI_WAIT, &stop), 0u);
    Block seek{0, {600, 0, 0, 0}};
    EXPECT_EQ(Send(MCI_SEEK, MCI_TO | MCI_WAIT, &seek), 0u);
    EXPECT_EQ(deck_->State().position, 600u);
  }
}

}  // namespace
}  // namespace vtr::test

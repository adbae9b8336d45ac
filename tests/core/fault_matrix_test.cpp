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
constexpr UINT kNoNote = 0, kOk = MCI_NOTIFY_SUCCESSFUL, kFail = MCI_NOTIFY_FAILURE;
constexpr DWORD kStart = 100;  // where the tape is when a command starts
// How far past its end a play or record to a position may leave the tape: a
// poll period and the visit, and as much again for a reading lost on the way.
constexpr DWORD kPastEnd = 10;
constexpr DWORD kEditDelay = 5;  // the BVW-75's, in frames
constexpr DWORD kMinus5 = 0xFFFFFFFB;
constexpr DWORD k24Hours = 24 * 3600 * 30;  // frames at 30 a second, non-drop
constexpr DWORD kW = MCI_WAIT | MCI_NOTIFY;
constexpr DWORD kAtFlag = 0x40000, kByFlag = 0x10000, kReverseFlag = 0x20000;

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
  kStored,      // status position: the deck's position
  kAt,          // at `target` by the arrival rule
  kUnmoved,     // where it began
  kPlayedTo,    // paused past `target` by at most kPastEnd
  kRecordedTo,  // a take from where it began that ends at `target`
  kStepped,     // `target` frames on
  kAtStart,     // at the tape's start with the counter preset
  kPlaying,     // still playing a second after the answer
};

struct Command {
  UINT msg;
  DWORD flags;
  DWORD w[3];  // the block after the callback
  Truth truth = Truth::kNone;
  DWORD target = 0;
  DWORD start = kStart;  // where the tape is when it starts
};

Command Seek(DWORD to) { return {MCI_SEEK, MCI_TO | kW, {to, 0, 0}, Truth::kAt, to}; }
Command SeekAt(DWORD at, DWORD flags = kW) { return {MCI_SEEK, kAtFlag | flags, {0, 0, at}}; }
Command Cue(DWORD to) { return {MCI_CUE, MCI_TO | kW, {0, to, 0}, Truth::kAt, to}; }
// A play or record; a from or to of 0 is not given.
Command Move(UINT msg, DWORD from, DWORD to, DWORD flags = kW) {
  const Truth truth = to == 0           ? Truth::kNone
                      : msg == MCI_PLAY ? Truth::kPlayedTo
                                        : Truth::kRecordedTo;
  return {
      msg, flags | (from != 0 ? MCI_FROM : 0) | (to != 0 ? MCI_TO : 0), {from, to, 0}, truth, to};
}
Command Play(DWORD from, DWORD to, DWORD flags = kW) { return Move(MCI_PLAY, from, to, flags); }
Command Rec(DWORD from, DWORD to, DWORD flags = kW) { return Move(MCI_RECORD, from, to, flags); }
Command Simple(UINT msg, DWORD flags = kW, Truth truth = Truth::kNone) {
  return {msg, flags, {0, 0, 0}, truth};
}
Command Status(DWORD item) {
  return {MCI_STATUS, MCI_STATUS_ITEM, {0, item, 0}, item == 2 ? Truth::kStored : Truth::kNone};
}
Command Step(DWORD flags, DWORD by) {
  return {MCI_STEP, flags | kW, {by, 0, 0}, Truth::kStepped, by};
}
Command Unmoved(Command c) {
  c.truth = Truth::kUnmoved;
  return c;
}
Command From(DWORD start, Command c) {
  c.start = start;
  return c;
}

constexpr UINT kStripe = 0x0C85, kCalibrate = 0x0C86;

struct Row {
  Command cmd;
  Fault fault;
  DWORD result;
  UINT note;       // the notification, kNoNote for none
  ms at = 0ms;     // into the command
  ms burst = 0ms;  // line faults: 0 for one reply only
};

bool IsLine(Fault f) { return f >= Fault::kSilence && f <= Fault::kVanish; }

// The deck's fault for a line fault from kSilence to kWrongReply; the byte
// lost or late is the third, a late one by more than the reply budget.
vtr::sim::Fault LineFault(Fault f, bool burst) {
  constexpr FaultKind kKinds[] = {
      FaultKind::kSilence,   FaultKind::kNak,   FaultKind::kCorruptChecksum, FaultKind::kDropByte,
      FaultKind::kDelayByte, FaultKind::kNoise, FaultKind::kWrongReply};
  return {.kind = kKinds[static_cast<int>(f) - static_cast<int>(Fault::kSilence)],
          .times = burst ? vtr::sim::Fault::kAlways : 1,
          .nak_bits = 0x10,
          .byte_index = 2,
          .delay = 60ms};
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

  // The deck's state before the command.
  void Prepare(Fault fault) {
    Block b{0, {1000, 0, 0, 0}};
    if (fault == Fault::kAfterSeek || fault == Fault::kLocal || fault == Fault::kLocalPlaying) {
      EXPECT_EQ(Send(MCI_SEEK, MCI_TO | MCI_WAIT, &b), 0u);
    }
    if (fault == Fault::kLocalPlaying) {
      EXPECT_EQ(Send(MCI_PLAY, 0, &b), 0u);
      Run(500);
    }
    if (fault == Fault::kLocal || fault == Fault::kLocalPlaying) deck_->SetLocal(true);
    if (fault == Fault::kNoTape) {
      deck_->PanelEject();
      Run(2000);
    }
    host_.ClearNotifications();
  }
  void Start(const Row& row) {
    row_ = &row;
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
    const Row& r = *row_;
    const auto t = vtr::platform::Now() - t0_;
    if (!on_ && !over_ && t >= r.at) {
      on_ = true;
      Block b{0, {600, 2, 0, 0}};
      switch (r.fault) {
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
          deck_->SetPosition(r.cmd.target + 130);
          break;
        case Fault::kBreakCommand:
          Send(MCI_BREAK, 0, &b);
          break;
        case Fault::kLaterCommand:
          Send(MCI_SEEK, MCI_TO, &b);
          break;
        case Fault::kStatusQuery:
          Send(MCI_STATUS, MCI_STATUS_ITEM, &b);
          break;
        default:
          if (IsLine(r.fault)) deck_->InjectFault(LineFault(r.fault, r.burst.count() > 0));
          break;
      }
    }
    if (on_ && r.fault == Fault::kVanish && r.burst.count() == 0) Clear();
    if (on_ && IsLine(r.fault) && r.burst.count() > 0 && t >= r.at + r.burst) Clear();
    return on_ && r.fault == Fault::kBreak;
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
      for (const auto& s : track.spans) {
        if (track.name == "video" && (!last || s.take > last->take)) last = s;
      }
    }
    return last;
  }
  void CheckTruth(const Command& c, const Block& b, DWORD began) {
    const auto s = deck_->State();
    const auto take = LastTake();
    switch (c.truth) {
      case Truth::kStored:
        EXPECT_EQ(b.w[0], s.position);
        break;
      case Truth::kAt:
        EXPECT_EQ((s.position ^ c.target) & ~1u, 0u) << "at " << s.position;
        break;
      case Truth::kUnmoved:
        EXPECT_EQ(s.position, began);
        break;
      case Truth::kPlayedTo:
        EXPECT_GT(s.position, c.target);
        EXPECT_LE(s.position, c.target + kPastEnd);
        EXPECT_NE(s.mode, vtr::sim::TransportMode::kPlay);
        break;
      case Truth::kRecordedTo:
        // A take the driver times starts the machine's edit delay late.
        EXPECT_TRUE(take && take->first <= std::max(began, c.w[0]) + 1 + kEditDelay &&
                    take->end + 5 >= c.target && take->end <= c.target + kPastEnd)
            << (take ? std::to_string(take->first) + "-" + std::to_string(take->end) : "none");
        break;
      case Truth::kStepped:
        EXPECT_EQ(s.position, began + c.target);
        break;
      case Truth::kAtStart:
        EXPECT_EQ(s.position, 0u);
        EXPECT_EQ(s.timer1, 0u);
        break;
      case Truth::kPlaying:
        EXPECT_EQ(s.mode, vtr::sim::TransportMode::kPlay);
        break;
      case Truth::kNone:
        break;
    }
  }

  static constexpr vtr::platform::Micros kLimit = 90s;
  Fault fault_ = Fault::kNone;
  const Row* row_ = nullptr;
  bool on_ = false, over_ = false;
  vtr::platform::Micros t0_{};
};

TEST_F(FaultMatrix, AnswersTellWhatTheDeckDid) {
  using enum Fault;
  constexpr auto kAll = 4000ms;  // longer than any immediate command
  constexpr UINT kAborted = MCI_NOTIFY_ABORTED, kSuperseded = MCI_NOTIFY_SUPERSEDED;
  const Command open = Simple(MCI_OPEN_DRIVER, 0), close = Simple(MCI_CLOSE_DRIVER, MCI_NOTIFY);
  const Command play = Simple(MCI_PLAY, MCI_NOTIFY), record = Simple(MCI_RECORD);
  const Command seek = Seek(20000), playTo = Play(300, 1200),
                playTo5000 = Play(0, 5000, MCI_NOTIFY);
  const Command stop = Simple(MCI_STOP), stepBy3 = Step(kByFlag, 3);
  const Row rows[] = {
      // Open: a machine that cannot acknowledge is not opened.
      {open, kSilence, 262, kNoNote, 0ms, kAll},
      {open, kNak, 262, kNoNote, 0ms, kAll},
      {open, kVanish, 262, kNoNote, 0ms, kAll},
      {open, kSilence, 0, kNoNote},  // the first stop may be lost
      // Status: a deck that gives no answer is not reported with a stale or
      // neutral value (a repeated reply to the same query is an answer).
      {Status(2), kSilence, 262, kNoNote, 0ms, kAll},
      {Status(2), kChecksum, 262, kNoNote, 0ms, kAll},
      {Status(2), kWrongReply, 0, kNoNote, 0ms, kAll},
      {Status(4), kSilence, 262, kNoNote, 0ms, kAll},  // mode
      {Status(5), kSilence, 262, kNoNote, 0ms, kAll},  // media present
      {Status(7), kSilence, 262, kNoNote, 0ms, kAll},  // ready, after a query got no answer
      {Status(7), kNone, 0, kNoNote},
      // An immediate command answers and notifies the failure.
      {play, kSilence, 262, kFail, 0ms, kAll},
      {play, kNak, 262, kFail, 0ms, kAll},
      {play, kVanish, 262, kFail, 0ms, kAll},
      {record, kNak, 262, kFail, 0ms, kAll},
      // The command went through, then the line failed during its wait.
      {record, kSilence, 262, kFail, 50ms, kAll},
      {close, kSilence, 262, kFail, 0ms, kAll},
      // A burst in the middle of a long seek or play-to gives the command up.
      {seek, kSilence, 262, kFail, 3000ms, 3000ms},
      {seek, kChecksum, 262, kFail, 3000ms, 3000ms},
      {seek, kWrongReply, 262, kFail, 3000ms, 3000ms},
      {seek, kVanish, 262, kFail, 3000ms, 3000ms},
      {playTo, kSilence, 262, kFail, 6000ms, 3000ms},
      {playTo, kVanish, 262, kFail, 6000ms, 3000ms},
      // One glitch does not move the poll's idea of the tape: the work gets done.
      {seek, kDropByte, 0, kOk, 3000ms},
      {seek, kWrongReply, 0, kOk, 3000ms},
      {playTo, kChecksum, 0, kOk, 6000ms},

      // The deck acknowledges and does not do the work.
      {Seek(2000), kLocal, 262, kFail},
      {Cue(3000), kLocal, 262, kFail},
      {Rec(0, 1300), kLocal, 262, kFail},
      {stop, kLocal, 262, kFail},
      {Simple(MCI_PLAY, kW, Truth::kPlaying), kLocal, 262, kFail},
      {stepBy3, kLocal, 262, kFail},
      {Simple(kCalibrate), kLocal, 262, kFail},
      {Simple(MCI_PAUSE), kLocalPlaying, 262, kFail},
      {Simple(MCI_PAUSE), kLocal, 0, kOk},  // still already
      {Play(700, 0, MCI_NOTIFY), kLocal, 0, kFail},
      {SeekAt(500), kLocal, 262, kFail},
      {Rec(0, 600), kRecordInhibit, 262, kFail},
      {Rec(700, 800, MCI_NOTIFY), kRecordInhibit, 0, kFail},  // an automatic edit
      {record, kRecordInhibit, 262, kFail},
      {Rec(700, 0, MCI_NOTIFY), kRecordInhibit, 0, kFail},
      {Rec(700, 0, MCI_NOTIFY), kNone, 0, kOk},
      {From(600, {kStripe, 0x20000 | MCI_NOTIFY, {0, 0, 300}}), kRecordInhibit, 0, kFail},
      {Rec(700, 800), kNoAutoEdit, 262, kFail},
      {Rec(0, 1300), kPanelStop, 262, kFail, 1000ms},
      {playTo, kPanelStop, 262, kFail, 6000ms},
      {playTo, kEject, 262, kFail, 3000ms},
      {playTo5000, kPanelStop, 0, kFail, 2700ms},
      {playTo5000, kPanelStill, 0, kFail, 2700ms},
      {playTo5000, kJump, 0, kFail, 2700ms},
      {Seek(2000), kNoTape, 262, kFail},
      {Seek(600), kNoCue, 262, kFail},
      {Seek(kStart), kNoCue, 0, kOk},
      // Without cueing a cue ends where the deck rests: done only on its target.
      {From(101, Cue(100)), kNoCue, 0, kOk},
      {From(102, Cue(101)), kNoCue, 262, kFail},
      {Seek(60000), kNone, 262, kFail},              // off the tape
      {Rec(60000, 0, MCI_NOTIFY), kNone, 0, kFail},  // off the tape
      {Play(0, 50), kNone, 262, kFail},              // behind the tape
      {Seek(kStart), kNak, 262, kFail, 0ms, 150ms},  // the cue refused

      // Off the tape's clock: refused before anything moves.
      {Unmoved(Seek(10801000)), kNone, 282, kFail},  // 100 hours and 1000 frames
      {Unmoved(SeekAt(k24Hours)), kNone, 282, kFail},
      {Unmoved(Cue(k24Hours)), kNone, 282, kFail},
      {Unmoved(Play(kMinus5, 300)), kNone, 282, kFail},
      {Unmoved(Rec(0, k24Hours)), kNone, 282, kFail},
      {Unmoved(Step(kByFlag | kReverseFlag, 200)), kNone, 282, kFail},

      // A wait the application breaks, or that a later command replaces.
      {seek, kBreak, 262, kAborted, 3000ms},
      {seek, kBreakCommand, 262, kAborted, 3000ms},
      {seek, kLaterCommand, 262, kSuperseded, 3000ms},
      {seek, kStatusQuery, 0, kOk, 3000ms},
      {playTo, kBreak, 262, kAborted, 3000ms},
      {stop, kBreak, 262, kAborted, 100ms},

      // A healthy deck: waits that end where they were asked to.
      {SeekAt(kStart, MCI_WAIT), kNone, 0, kNoNote},
      {Simple(MCI_PLAY, kW, Truth::kPlaying), kAfterSeek, 0, kOk},  // the seek is over
      {From(10, Simple(kCalibrate, kW, Truth::kAtStart)), kNone, 0, kOk},
      {From(20000, Simple(kCalibrate, kW, Truth::kAtStart)), kNone, 0, kOk},
      {stepBy3, kNone, 0, kOk},
      {Play(1000, 2000, MCI_NOTIFY), kNone, 0, kOk},  // told once past its end
      // Plays and records of any length end within kPastEnd of their end.
      {Play(300, 301), kNone, 0, kOk},
      {Play(0, 101), kNone, 0, kOk},
      // A record that ends before the deck shows it records (its edit delay
      // later) holds nothing: it cannot be told done.
      {Rec(0, 105), kNone, 262, kFail},
      {Rec(0, 170), kNone, 0, kOk},
  };
  for (const Row& row : rows) {
    const Command& c = row.cmd;
    SCOPED_TRACE(testing::Message() << "row " << &row - rows << ": message " << c.msg << ", fault "
                                    << static_cast<int>(row.fault));
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
      Prepare(row.fault);
    }
    const DWORD began = deck_->State().position;
    deck_->ClearTrace();
    Start(row);
    const auto t0 = vtr::platform::Now();
    Block b{kCallback, {c.w[0], c.w[1], c.w[2], 0}};
    if (c.msg == MCI_STATUS && c.w[1] == 7) {
      Block first{0, {0, 2, 0, 0}};  // the deck's latest answer is what "ready" is about
      Send(MCI_STATUS, MCI_STATUS_ITEM, &first);
    }
    const DWORD result = Send(c.msg, c.flags, &b);
    const auto spent = vtr::platform::Now() - t0;
    EXPECT_EQ(result, row.result);
    EXPECT_LT(spent, kLimit) << "the wait ran into the test's limit";
    // A command the machine refused returns at once, with or without a wait.
    EXPECT_TRUE(c.msg != MCI_RECORD || !IsLine(row.fault) || row.at > 0ms || spent < 200ms);
    // Anything still owed comes, once, and agrees.
    for (int i = 0; i < 900 && host_.Notifications().empty() && row.note != kNoNote; ++i) {
      Tick();
      Run(100);
    }
    EXPECT_TRUE(c.msg != MCI_CLOSE_DRIVER || Record()->nOpenCount == 0);
    Run(1000);
    const auto notes = host_.Notifications();
    EXPECT_EQ(notes.size(), row.note == kNoNote ? 0u : 1u);
    EXPECT_EQ(notes.empty() ? kNoNote : notes[0].status, row.note);
    EXPECT_TRUE(notes.empty() || (notes[0] == Notification{kCallback, 1, notes[0].status}));
    // Refused before anything moved.
    for (const auto& name :
         result == MCIERR_OUTOFRANGE ? SentNames() : std::vector<std::string>{}) {
      EXPECT_TRUE(name == "CURTCSENSE_422" || name == "STATSENSE_422" || name == "PAUSE_422")
          << name;
    }
    // "ok" only where the deck did the work.
    if (result == 0 && (row.note == kNoNote || row.note == kOk)) CheckTruth(c, b, began);
    EXPECT_TRUE(row.fault != kRecordInhibit || !LastTake());

    // Recovery once the fault is gone.
    host_.OnYield(nullptr);
    Clear();
    deck_->SetLocal(false);
    if (deck_->State().mode == vtr::sim::TransportMode::kNoTape) deck_->LoadTape(kStart);
    Record()->CanCue = 1;
    Run(200);  // late bytes of the last faulty reply have come and gone
    EXPECT_EQ(Record()->nOpenCount == 0 ? OpenDevice() : 0u, 0u);
    Block stopBlock{0, {}};
    EXPECT_EQ(Send(MCI_STOP, MCI_WAIT, &stopBlock), 0u);
    Block seekBlock{0, {600, 0, 0, 0}};
    EXPECT_EQ(Send(MCI_SEEK, MCI_TO | MCI_WAIT, &seekBlock), 0u);
    EXPECT_EQ(deck_->State().position, 600u);
  }
}

}  // namespace
}  // namespace vtr::test

// Line faults against every kind of command, in virtual time: each answer is
// bounded, says what a user would expect (no "ok" for work that did not
// happen, one notification that agrees with the answer), and the device works
// again once the line is healthy.
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>

#include "monitor/poll.h"
#include "platform/clock.h"
#include "tests/support/driver_fixture.h"

namespace vtr::test {
namespace {

using namespace std::chrono_literals;
using vtr::sim::Fault;
using vtr::sim::FaultKind;

constexpr DWORD_PTR kCallback = 0x4242;
constexpr DWORD kSeekTarget = 20000;  // about 22 s of winding from the tape start
constexpr DWORD kPlayFrom = 300, kPlayTo = 1200;

enum class Cmd { kOpen, kStatus, kPlayNotify, kSeekWait, kPlayToWait, kRecord, kClose };
enum class Line { kSilence, kNak, kChecksum, kDropByte, kLateByte, kNoise, kWrongReply, kVanish };
constexpr UINT kNone = 0;

struct Row {
  Cmd cmd;
  Line line;
  std::chrono::milliseconds at;     // into the command
  std::chrono::milliseconds burst;  // 0: one reply only
  DWORD result;
  UINT note;  // the notification, kNone for none
};

std::string Describe(const Row& r) {
  static const char* const cmds[] = {"open",         "status",      "play notify", "seek wait",
                                     "play-to wait", "record wait", "close"};
  static const char* const lines[] = {"silence",   "NAK",   "bad checksum", "dropped byte",
                                      "late byte", "noise", "wrong reply",  "vanished port"};
  return std::string(lines[static_cast<int>(r.line)]) + " x " + cmds[static_cast<int>(r.cmd)] +
         " at " + std::to_string(r.at.count()) + " ms for " + std::to_string(r.burst.count()) +
         " ms";
}

Fault FaultFor(Line line, bool burst) {
  const int times = burst ? Fault::kAlways : 1;
  switch (line) {
    case Line::kNak:
      return {.kind = FaultKind::kNak, .times = times, .nak_bits = 0x10};
    case Line::kChecksum:
      return {.kind = FaultKind::kCorruptChecksum, .times = times};
    case Line::kDropByte:
      return {.kind = FaultKind::kDropByte, .times = times, .byte_index = 2};
    case Line::kLateByte:
      return {.kind = FaultKind::kDelayByte, .times = times, .byte_index = 2, .delay = 60ms};
    case Line::kNoise:
      return {.kind = FaultKind::kNoise, .times = times};
    case Line::kWrongReply:
      return {.kind = FaultKind::kWrongReply, .times = times};
    default:
      return {.kind = FaultKind::kSilence, .times = times};
  }
}

class FaultMatrix : public DriverFixture {
 protected:
  void Start(const Row& row) {
    row_ = row;
    on_ = false;
    over_ = false;
    t0_ = vtr::platform::Now();
    host_.OnYield([this](UINT) {
      Tick();
      // A wait that never ends breaks here instead of hanging the run.
      return vtr::platform::Now() - t0_ > kLimit ? 1u : 0u;
    });
    Tick();
  }
  // Starts and ends the fault on its schedule.
  void Tick() {
    const auto t = vtr::platform::Now() - t0_;
    if (!on_ && !over_ && t >= row_.at) {
      on_ = true;
      if (row_.line == Line::kVanish) {
        deck_->SetConnected(false);
      } else {
        deck_->InjectFault(FaultFor(row_.line, row_.burst.count() > 0));
      }
    }
    if (on_ && row_.line == Line::kVanish && row_.burst.count() == 0) Clear();
    if (on_ && row_.burst.count() > 0 && t >= row_.at + row_.burst) Clear();
  }
  void Clear() {
    deck_->ClearFaults();
    deck_->SetConnected(true);
    on_ = false;
    over_ = true;
  }

  static constexpr vtr::platform::Micros kLimit = 90s;
  Row row_{};
  bool on_ = false, over_ = false;
  vtr::platform::Micros t0_{};
};

TEST_F(FaultMatrix, BoundedHonestAnswersAndRecovery) {
  constexpr auto kAll = 4000ms;  // longer than any immediate command
  const Row rows[] = {
      // Open: a machine that cannot acknowledge is not opened.
      {Cmd::kOpen, Line::kSilence, 0ms, kAll, 262, kNone},
      {Cmd::kOpen, Line::kNak, 0ms, kAll, 262, kNone},
      {Cmd::kOpen, Line::kChecksum, 0ms, kAll, 262, kNone},
      {Cmd::kOpen, Line::kDropByte, 0ms, kAll, 262, kNone},
      {Cmd::kOpen, Line::kLateByte, 0ms, kAll, 262, kNone},
      {Cmd::kOpen, Line::kNoise, 0ms, kAll, 262, kNone},
      {Cmd::kOpen, Line::kVanish, 0ms, kAll, 262, kNone},
      {Cmd::kOpen, Line::kSilence, 0ms, 0ms, 0, kNone},  // the first stop may be lost
      // Status: the stored position stands (checked below), whatever the line does.
      {Cmd::kStatus, Line::kSilence, 0ms, kAll, 0, kNone},
      {Cmd::kStatus, Line::kChecksum, 0ms, kAll, 0, kNone},
      {Cmd::kStatus, Line::kDropByte, 0ms, kAll, 0, kNone},
      {Cmd::kStatus, Line::kWrongReply, 0ms, kAll, 0, kNone},
      {Cmd::kStatus, Line::kNoise, 0ms, kAll, 0, kNone},
      // An immediate command answers and notifies the failure.
      {Cmd::kPlayNotify, Line::kSilence, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kPlayNotify, Line::kNak, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kPlayNotify, Line::kChecksum, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kPlayNotify, Line::kLateByte, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kPlayNotify, Line::kWrongReply, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kPlayNotify, Line::kVanish, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kRecord, Line::kNak, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kRecord, Line::kNoise, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kRecord, Line::kVanish, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      // The command went through, then the line failed during its wait.
      {Cmd::kRecord, Line::kSilence, 50ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kClose, Line::kSilence, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kClose, Line::kNak, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kClose, Line::kVanish, 0ms, kAll, 262, MCI_NOTIFY_FAILURE},
      // A burst in the middle of a long seek or play-to gives the command up.
      {Cmd::kSeekWait, Line::kSilence, 3000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kSeekWait, Line::kNak, 3000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kSeekWait, Line::kChecksum, 3000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kSeekWait, Line::kDropByte, 3000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kSeekWait, Line::kLateByte, 3000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kSeekWait, Line::kNoise, 3000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kSeekWait, Line::kWrongReply, 3000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kSeekWait, Line::kVanish, 3000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kPlayToWait, Line::kSilence, 6000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kPlayToWait, Line::kChecksum, 6000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kPlayToWait, Line::kWrongReply, 6000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      {Cmd::kPlayToWait, Line::kVanish, 6000ms, 3000ms, 262, MCI_NOTIFY_FAILURE},
      // One glitch does not move the poll's idea of the tape: the work gets done.
      {Cmd::kSeekWait, Line::kDropByte, 3000ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {Cmd::kSeekWait, Line::kChecksum, 3000ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {Cmd::kSeekWait, Line::kWrongReply, 3000ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {Cmd::kSeekWait, Line::kNoise, 3000ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {Cmd::kPlayToWait, Line::kDropByte, 6000ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
      {Cmd::kPlayToWait, Line::kChecksum, 6000ms, 0ms, 0, MCI_NOTIFY_SUCCESSFUL},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(Describe(row));
    TearDown();
    SetUp();
    if (row.cmd == Cmd::kOpen) {
      DriverOpen(u"videotape", 1, 101);
    } else {
      OpenQuietly();
      deck_->SetPosition(100);
      VTR_STATUS_PARMS pos{0, 0, 2, 0};
      ASSERT_EQ(Send(MCI_STATUS, MCI_STATUS_ITEM, &pos), 0u);  // the stored position: 100
    }
    Start(row);
    const auto t0 = vtr::platform::Now();
    DWORD result = 0;
    DWORD target = 0;
    switch (row.cmd) {
      case Cmd::kOpen: {
        VTR_GENERIC_PARMS p{kCallback};
        result = Send(MCI_OPEN_DRIVER, 0, &p);
        break;
      }
      case Cmd::kStatus: {
        VTR_STATUS_PARMS p{0, 0, 2, 0};
        result = Send(MCI_STATUS, MCI_STATUS_ITEM, &p);
        EXPECT_EQ(p.dwReturn, 100u);
        break;
      }
      case Cmd::kPlayNotify: {
        VTR_PLAY_PARMS p{kCallback, 0, 0, 0};
        result = Send(MCI_PLAY, MCI_NOTIFY, &p);
        break;
      }
      case Cmd::kRecord: {
        VTR_RECORD_PARMS p{kCallback, 0, 0, 0};
        result = Send(MCI_RECORD, MCI_NOTIFY | MCI_WAIT, &p);
        break;
      }
      case Cmd::kClose: {
        VTR_GENERIC_PARMS p{kCallback};
        result = Send(MCI_CLOSE_DRIVER, MCI_NOTIFY, &p);
        EXPECT_EQ(Record()->nOpenCount, 0u);
        break;
      }
      case Cmd::kSeekWait: {
        VTR_SEEK_PARMS p{kCallback, kSeekTarget, 0, 0};
        result = Send(MCI_SEEK, MCI_TO | MCI_WAIT | MCI_NOTIFY, &p);
        target = kSeekTarget;
        break;
      }
      case Cmd::kPlayToWait: {
        VTR_PLAY_PARMS p{kCallback, kPlayFrom, kPlayTo, 0};
        result = Send(MCI_PLAY, MCI_FROM | MCI_TO | MCI_WAIT | MCI_NOTIFY, &p);
        target = kPlayTo;
        break;
      }
    }
    const auto spent = vtr::platform::Now() - t0;
    EXPECT_EQ(result, row.result);
    EXPECT_LT(spent, kLimit) << "the wait ran into the test's limit";
    // A command the machine refused returns at once, with or without a wait.
    if (row.cmd == Cmd::kRecord && row.at.count() == 0) {
      EXPECT_LT(spent, 200ms);
    }
    // Once answered, the owed notification has come, once, and agrees.
    if (row.cmd == Cmd::kSeekWait || row.cmd == Cmd::kPlayToWait) Run(1000);
    const auto notes = host_.Notifications();
    if (row.note == kNone) {
      EXPECT_TRUE(notes.empty());
    } else {
      ASSERT_EQ(notes.size(), 1u);
      EXPECT_EQ(notes[0].status, row.note);
    }
    // "ok" only where the deck is where it was asked to be.
    if (result == 0 && target != 0) {
      EXPECT_GE(deck_->State().position, target);
      EXPECT_LE(deck_->State().position, target + 30);
    }

    // Recovery once the line is healthy.
    host_.OnYield(nullptr);
    Clear();
    Run(200);  // late bytes of the last faulty reply have come and gone
    if (Record()->nOpenCount == 0) {
      ASSERT_EQ(OpenDevice(), 0u);
    }
    VTR_GENERIC_PARMS stop{0};
    EXPECT_EQ(Send(MCI_STOP, MCI_WAIT, &stop), 0u);
    VTR_SEEK_PARMS seek{0, 600, 0, 0};
    EXPECT_EQ(Send(MCI_SEEK, MCI_TO | MCI_WAIT, &seek), 0u);
    EXPECT_EQ(deck_->State().position, 600u);
  }
}

}  // namespace
}  // namespace vtr::test

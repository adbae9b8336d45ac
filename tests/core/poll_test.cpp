// The poll timer and command completion, seen from outside: commands in,
// blocks on the wire and notifications out, in virtual time against the deck.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>

#include "link/frames.h"
#include "monitor/poll.h"
#include "platform/clock.h"
#include "platform/serial_ports.h"
#include "tests/support/driver_fixture.h"

namespace vtr::test {
namespace {

constexpr DWORD_PTR kCallback = 0x4242;

class PollTest : public DriverFixture {};

// Without "wait" a play between positions returns at once; its one
// notification comes once the deck has passed the end, never before. A from
// position of 0 is none: no cue, the play starts where the tape is.
TEST_F(PollTest, PlayBetweenPositionsNotifiesOnceItHasPassedTheEnd) {
  struct Row {
    DWORD start, from, to;
    int cues;
  } rows[] = {{0, 1000, 2000, 1}, {300, 0, 400, 0}};
  for (const auto& row : rows) {
    TearDown();
    SetUp();
    OpenQuietly();
    deck_->SetPosition(row.start);
    VTR_PLAY_PARMS p{kCallback, row.from, row.to, 0};
    ASSERT_EQ(Send(MCI_PLAY, MCI_NOTIFY | MCI_FROM | MCI_TO, &p), 0u);
    EXPECT_TRUE(host_.Notifications().empty());
    RunUntil([&] { return !host_.Notifications().empty(); }, 120000);
    EXPECT_GT(deck_->State().position, row.to);
    EXPECT_LE(deck_->State().position, row.to + 10);
    EXPECT_EQ(Count("CUE_DATA_422"), row.cues);
    Run(133 * 5);
    EXPECT_EQ(host_.Notifications(),
              (std::vector<Notification>{{kCallback, 1, MCI_NOTIFY_SUCCESSFUL}}));
  }
}

// A cue on a machine that cannot cue ends on the 26th visit (18 of delay, one
// in state 32, six of pause, then the still) and judges where the deck rests:
// within one frame of an even target is arrival.
TEST_F(PollTest, CueWithoutCueingEndsOnThe26thVisitAndJudgesArrival) {
  struct Row {
    DWORD target, rest;
    UINT status;
  } rows[] = {{100, 101, MCI_NOTIFY_SUCCESSFUL},
              {101, 102, MCI_NOTIFY_FAILURE},
              {100, 100, MCI_NOTIFY_SUCCESSFUL}};
  OpenQuietly();
  Record()->CanCue = 0;
  for (const auto& row : rows) {
    host_.ClearNotifications();
    deck_->SetPosition(row.rest);
    deck_->ClearTrace();
    VTR_CUE_PARMS p{kCallback, 0, row.target};
    ASSERT_EQ(Send(MCI_CUE, MCI_NOTIFY | MCI_TO, &p), 0u);
    EXPECT_EQ(RunUntil([&] { return !host_.Notifications().empty(); }, 133 * 40), 133 * 26);
    EXPECT_EQ(Statuses(), std::vector<UINT>{row.status}) << row.target << " at " << row.rest;
    EXPECT_EQ(Commands(), std::vector<std::string>{"PAUSE_422"});
  }
}

// A play to a position that ends otherwise: a stop command supersedes and the
// poll then stills quietly; the deck stopped from its panel, ejected, stilled
// and staying so, or seen far past the end (a jump) is failure.
TEST_F(PollTest, PlayToThatEndsEarly) {
  VTR_GENERIC_PARMS stop{0};
  struct Row {
    const char* what;
    std::function<void()> end;
    UINT status;
  } rows[] = {
      {"stop command", [&] { Send(MCI_STOP, 0, &stop); }, MCI_NOTIFY_SUPERSEDED},
      {"panel stop", [&] { deck_->PanelStop(); }, MCI_NOTIFY_FAILURE},
      {"eject", [&] { deck_->PanelEject(); }, MCI_NOTIFY_FAILURE},
      {"still",
       [&] {
         deck_->Receive(std::vector<std::uint8_t>{0x21, 0x13, 0x00, 0x34});
       },
       MCI_NOTIFY_FAILURE},
      {"jump", [&] { deck_->SetPosition(5000 + kOvershootFrames + 100); }, MCI_NOTIFY_FAILURE},
  };
  OpenQuietly();
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    host_.ClearNotifications();
    deck_->LoadTape(0);
    VTR_PLAY_PARMS p{kCallback, 0, 5000, 0};
    ASSERT_EQ(Send(MCI_PLAY, MCI_NOTIFY | MCI_TO, &p), 0u);
    Run(133 * 20);
    row.end();
    deck_->ClearTrace();
    Run(133 * 8);
    EXPECT_EQ(Statuses(), std::vector<UINT>{row.status});
    EXPECT_EQ(Count("PAUSE_422"), 1);
  }
}

// An idle device costs nothing; ten completions read the timer mode once.
TEST_F(PollTest, IdleDeviceCausesNoTrafficAndTenCompletionsOneTimerModeQuery) {
  OpenQuietly();
  Run(133);  // a new record's first completion
  deck_->ClearTrace();
  Run(133 * 20);
  EXPECT_TRUE(deck_->Trace().empty());
  for (int i = 0; i < 9; ++i) {
    VTR_PLAY_PARMS p{0, 0, 1, 0};
    ASSERT_EQ(Send(MCI_PLAY, MCI_TO | MCI_WAIT, &p), 0u);
  }
  EXPECT_EQ(Count("TMODESENSE_422"), 1);
}

TEST_F(PollTest, ChkWaitLastsTwoPeriodsOnAStoppedMachine) {
  OpenQuietly();
  VTR_GENERIC_PARMS p{0};
  const auto start = vtr::platform::Now();
  ASSERT_EQ(Send(MCI_STOP, MCI_WAIT, &p), 0u);
  EXPECT_GE(vtr::platform::Now() - start, vtr::platform::Micros{2 * 132000});
}

// Waits on a machine that answers: each ends, within its bound, with the
// answer and notification a user would expect.
TEST_F(PollTest, WaitsOnAnAnsweringMachineEnd) {
  enum Panel { kNone, kEjectAt3s };
  struct Row {
    const char* what;
    DWORD start;
    Panel panel;
    UINT msg;
    DWORD flags;
    DWORD w1, w2, w3;  // the block after the callback: to, mark, at (seek); from, to, at (play)
    DWORD result;
    UINT note;
    int timerPresets;
  } rows[] = {
      {"calibrate far from the start", 20000, kNone, 0x0C86, MCI_WAIT | MCI_NOTIFY, 0, 0, 0, 0,
       MCI_NOTIFY_SUCCESSFUL, 1},
      {"calibrate whose rewind ends in the first delay", 10, kNone, 0x0C86, MCI_WAIT | MCI_NOTIFY,
       0, 0, 0, 0, MCI_NOTIFY_SUCCESSFUL, 1},
      {"seek to a target off the tape", 100, kNone, MCI_SEEK, MCI_TO | MCI_WAIT | MCI_NOTIFY, 60000,
       0, 0, MCIERR_HARDWARE, MCI_NOTIFY_FAILURE, 0},
      {"seek at where the tape already is", 100, kNone, MCI_SEEK, 0x40000 | MCI_WAIT, 0, 0, 100, 0,
       0, 0},
      {"play between positions", 100, kNone, MCI_PLAY, MCI_FROM | MCI_TO | MCI_WAIT | MCI_NOTIFY,
       300, 400, 0, 0, MCI_NOTIFY_SUCCESSFUL, 0},
      {"play between positions, the tape taken out", 100, kEjectAt3s, MCI_PLAY,
       MCI_FROM | MCI_TO | MCI_WAIT | MCI_NOTIFY, 300, 5000, 0, MCIERR_HARDWARE, MCI_NOTIFY_FAILURE,
       0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    TearDown();
    SetUp();
    OpenQuietly();
    deck_->SetPosition(row.start);
    const auto t0 = vtr::platform::Now();
    bool ejected = false;
    host_.OnYield([&](UINT) {
      if (row.panel == kEjectAt3s && !ejected &&
          vtr::platform::Now() - t0 > std::chrono::seconds(3)) {
        deck_->PanelEject();
        ejected = true;
      }
      return vtr::platform::Now() - t0 > std::chrono::seconds(120);
    });
    VTR_PLAY_PARMS parms{kCallback, row.w1, row.w2, row.w3};
    EXPECT_EQ(Send(row.msg, row.flags, &parms), row.result);
    EXPECT_LT(vtr::platform::Now() - t0, std::chrono::seconds(100));
    EXPECT_EQ(Statuses(), row.note != 0 ? std::vector<UINT>{row.note} : std::vector<UINT>{});
    EXPECT_EQ(Count("TIMER1PRE_422"), row.timerPresets);
    if (row.timerPresets != 0) {
      EXPECT_EQ(deck_->State().position, 0u);
    }
    if (row.msg == MCI_PLAY && row.result == 0) {
      EXPECT_GT(deck_->State().position, row.w2);
    }
    host_.OnYield(nullptr);
  }
}

TEST_F(PollTest, StripeRecordsToItsEndAndWindsBack) {
  OpenQuietly();
  deck_->SetPosition(600);
  VTR_STRIPE_PARMS p{0, 0, 0, 300};
  ASSERT_EQ(Send(0x0C85, 0x20000, &p), 0u);
  EXPECT_LT(RunUntil([&] { return Record()->fMotionDone == 1; }, 120000), 120000);
  EXPECT_GE(Count("REC_422"), 1);
  EXPECT_EQ(Count("STOP_422"), 1);
  EXPECT_EQ(deck_->State().position, 0u);
}

// Two devices: a record-to on one runs the timer at 33 ms, during which the
// other (133 ms) is visited on every tick, and the end restores 133 ms.
class TwoDevicePollTest : public DriverFixture {
 protected:
  std::string InitialProfile() override {
    return "[videotape]\nVTRID=19\n[videotape1]\nVTRID=19\nComPort=3\n";
  }
  void SetUp() override {
    DriverFixture::SetUp();
    second_ = std::make_shared<vtr::sim::Deck>(vtr::sim::DeckConfig::For("BVW-75"));
    vtr::platform::BindVirtualPort(3, second_);
  }
  void TearDown() override {
    DriverFixture::TearDown();
    vtr::platform::UnbindPort(3);
  }
  std::shared_ptr<vtr::sim::Deck> second_;
};

TEST_F(TwoDevicePollTest, RecordToRunsTheTimerAt33msAndBack) {
  OpenQuietly();
  ASSERT_EQ(DriverOpen(u"videotape1", 2, 202), 2u);
  VTR_GENERIC_PARMS g{0};
  ASSERT_EQ(Send(MCI_OPEN_DRIVER, 0, &g, 2), 0u);
  VTR_PLAY_PARMS rec{kCallback, 0, 150, 0};
  ASSERT_EQ(Send(MCI_RECORD, MCI_NOTIFY | MCI_TO, &rec), 0u);
  VTR_PLAY_PARMS play{0, 0, 100000, 0};
  ASSERT_EQ(Send(MCI_PLAY, MCI_TO, &play, 2), 0u);
  RunUntil([&] { return drvTimerSt.wPeriod == 33; }, 5000);
  ASSERT_EQ(drvTimerSt.wPeriod, 33);
  second_->ClearTrace();
  Run(33 * 6);
  int positionQueries = 0;
  for (const auto& e : second_->Trace()) positionQueries += e.name == "CURTCSENSE_422";
  EXPECT_EQ(positionQueries, 6);
  RunUntil([&] { return !host_.Notifications().empty(); }, 30000);
  EXPECT_EQ(Statuses(), std::vector<UINT>{MCI_NOTIFY_SUCCESSFUL});
  EXPECT_EQ(drvTimerSt.wPeriod, 133);
}

}  // namespace
}  // namespace vtr::test

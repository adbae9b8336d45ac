// The poll timer and command completion, in virtual time against the deck.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "link/frames.h"
#include "monitor/poll.h"
#include "platform/clock.h"
#include "platform/serial_ports.h"
#include "tests/support/driver_fixture.h"

namespace vtr::test {
namespace {

constexpr DWORD_PTR kCallback = 0x4242;

class PollTest : public DriverFixture {
 protected:
  // Runs the clock tick by tick until `done` or `limitMs` passes; returns the ms spent.
  template <typename Pred>
  int RunUntil(Pred done, int limitMs) {
    int spent = 0;
    while (!done() && spent < limitMs) {
      Run(133);
      spent += 133;
    }
    return spent;
  }
  std::vector<UINT> Statuses() const {
    std::vector<UINT> s;
    for (const auto& n : host_.Notifications()) s.push_back(n.status);
    return s;
  }
  int Count(const std::string& name) const {
    const auto names = SentNames();
    return static_cast<int>(std::count(names.begin(), names.end(), name));
  }
};

TEST_F(PollTest, PlayFromZeroSendsNoCue) {
  OpenQuietly();
  deck_->SetPosition(300);
  VTR_PLAY_PARMS p{kCallback, 0, 400, 0};
  ASSERT_EQ(Send(MCI_PLAY, MCI_NOTIFY | MCI_FROM | MCI_TO, &p), 0u);
  RunUntil([&] { return !host_.Notifications().empty(); }, 60000);
  EXPECT_EQ(Count("CUE_DATA_422"), 0);
  EXPECT_EQ(Statuses(), std::vector<UINT>{MCI_NOTIFY_SUCCESSFUL});
}

// A cue that comes to rest next to its target: one frame off an even target succeeds.
TEST_F(PollTest, SeekArrivalRuleToleratesTheLowestBitOnly) {
  struct Case {
    DWORD target, rest;
    UINT status;
  } cases[] = {{100, 101, MCI_NOTIFY_SUCCESSFUL},
               {101, 102, MCI_NOTIFY_FAILURE},
               {100, 100, MCI_NOTIFY_SUCCESSFUL}};
  OpenQuietly();
  for (const auto& c : cases) {
    host_.ClearNotifications();
    deck_->SetPosition(c.rest);
    DeviceRecord* rec = Record();
    rec->fMotionDone = 0;
    rec->dwPendingState = kStateCueDone;
    rec->dwPendingDelay = 0;
    rec->dwPendingTo = c.target;
    rec->fNotifyPending = 1;
    rec->dwNotifyCallback = kCallback;
    Run(133);
    EXPECT_EQ(Statuses(), std::vector<UINT>{c.status}) << c.target << " at " << c.rest;
  }
}

TEST_F(PollTest, StopDuringPlayToSupersedesAndThePollEndsQuietly) {
  OpenQuietly();
  VTR_PLAY_PARMS p{kCallback, 0, 5000, 0};
  ASSERT_EQ(Send(MCI_PLAY, MCI_NOTIFY | MCI_TO, &p), 0u);
  Run(133 * 12);
  ASSERT_EQ(Record()->dwPendingState, kStatePlayToWatch);
  VTR_GENERIC_PARMS stop{0};
  ASSERT_EQ(Send(MCI_STOP, 0, &stop), 0u);
  EXPECT_EQ(Statuses(), std::vector<UINT>{MCI_NOTIFY_SUPERSEDED});
  deck_->ClearTrace();
  RunUntil([&] { return Record()->fMotionDone == 1; }, 5000);
  EXPECT_EQ(Record()->dwPendingState, kStateNone);
  EXPECT_EQ(Count("PAUSE_422"), 1);
  EXPECT_EQ(Statuses(), std::vector<UINT>{MCI_NOTIFY_SUPERSEDED});
}

TEST_F(PollTest, CueWithoutCueCapabilityNotifiesOnThe26thVisit) {
  OpenQuietly();
  deck_->SetPosition(500);  // a machine that cannot cue is only ever where it is
  Record()->CanCue = 0;
  VTR_CUE_PARMS p{kCallback, 0, 500};
  ASSERT_EQ(Send(MCI_CUE, MCI_NOTIFY | MCI_TO, &p), 0u);
  EXPECT_EQ(Count("CUE_DATA_422"), 0);
  int visits = 0;
  while (host_.Notifications().empty() && visits < 40) {
    Run(133);
    ++visits;
  }
  EXPECT_EQ(visits, 26);
  EXPECT_EQ(Count("PAUSE_422"), 1);
}

TEST_F(PollTest, TenCompletionsReadTheTimerModeOnce) {
  OpenQuietly();
  for (int i = 0; i < 10; ++i) {
    Record()->dwPendingState = kStateNone;
    Record()->fMotionDone = 0;
    Run(133);
    ASSERT_EQ(Record()->fMotionDone, 1u);
  }
  EXPECT_EQ(Count("TMODESENSE_422"), 1);
}

TEST_F(PollTest, IdleAndClosedDevicesCauseNoTraffic) {
  OpenQuietly();
  Run(133);  // a new record's first completion
  deck_->ClearTrace();
  Run(133 * 20);  // idle: fMotionDone 1, no state
  EXPECT_TRUE(deck_->Trace().empty());
  ASSERT_EQ(CloseDevice(), 0u);
  deck_->ClearTrace();
  Record()->dwPendingState = kStatePlayTo;
  Record()->fMotionDone = 0;
  Run(133 * 20);
  EXPECT_TRUE(deck_->Trace().empty());
}

TEST_F(PollTest, UnknownStateReadsTheTimerModeAndEnds) {
  OpenQuietly();
  Record()->fMotionDone = 0;
  Record()->dwPendingState = 999;
  Run(133);
  EXPECT_EQ(Count("TMODESENSE_422"), 1);
  EXPECT_EQ(Record()->dwPendingState, kStateNone);
}

TEST_F(PollTest, ChkWaitLastsTwoPeriodsOnAStoppedMachine) {
  OpenQuietly();
  VTR_GENERIC_PARMS p{0};
  const auto start = vtr::platform::Now();
  ASSERT_EQ(Send(MCI_STOP, MCI_WAIT, &p), 0u);
  EXPECT_GE(vtr::platform::Now() - start, vtr::platform::Micros{2 * 132000});
}

TEST_F(PollTest, StripeRecordsToItsEndAndWindsBack) {
  OpenQuietly();
  deck_->SetPosition(600);
  VTR_STRIPE_PARMS p{0, 0, 0, 300};
  ASSERT_EQ(Send(0x0C85, 0x20000, &p), 0u);
  RunUntil([&] { return Record()->dwPendingState == kStateNone && Record()->fMotionDone == 1; },
           120000);
  EXPECT_EQ(Record()->dwPendingState, kStateNone);
  EXPECT_GE(Count("REC_422"), 1);
  EXPECT_EQ(Count("STOP_422"), 1);
  EXPECT_EQ(deck_->State().position, 0u);
}

// Two devices: a record-to on one speeds the timer up for both.
class TwoDevicePollTest : public PollTest {
 protected:
  std::string InitialProfile() override {
    return "[videotape]\nVTRID=19\n[videotape1]\nVTRID=19\nComPort=3\n";
  }
  void SetUp() override {
    PollTest::SetUp();
    second_ = std::make_shared<vtr::sim::Deck>(vtr::sim::DeckConfig::ForModel(19));
    vtr::platform::BindVirtualPort(3, second_);
  }
  void TearDown() override {
    PollTest::TearDown();
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
  // The second device keeps its 133 ms period and is visited on every 33 ms tick.
  second_->ClearTrace();
  Run(33 * 6);
  int positionQueries = 0;
  for (const auto& e : second_->Trace()) positionQueries += e.name == "CURTCSENSE_422";
  EXPECT_EQ(positionQueries, 6);
  EXPECT_EQ(GetDevState(2)->wPollPeriod, 133);

  RunUntil([&] { return !host_.Notifications().empty(); }, 30000);
  EXPECT_EQ(Statuses(), std::vector<UINT>{MCI_NOTIFY_SUCCESSFUL});
  EXPECT_EQ(drvTimerSt.wPeriod, 133);
  EXPECT_EQ(Record()->wPollPeriod, 133);
}

}  // namespace
}  // namespace vtr::test

// The poll timer and command completion, seen from outside: commands in,
// blocks on the wire and notifications out, in virtual time against the deck.
#include <gtest/gtest.h>

#include "monitor/poll.h"
#include "platform/clock.h"
#include "tests/support/driver_fixture.h"

namespace vtr::test {
namespace {

constexpr DWORD_PTR kCallback = 0x4242;

class PollTest : public DriverFixture {};

// A stop command during a play to a position supersedes its notification, and
// the poll then stills the deck quietly. (Ends by the deck are rows of the
// fault matrix.)
TEST_F(PollTest, StopDuringPlayToSupersedesAndThePollEndsQuietly) {
  VTR_GENERIC_PARMS stop{0};
  OpenQuietly();
  VTR_PLAY_PARMS p{kCallback, 0, 5000, 0};
  ASSERT_EQ(Send(MCI_PLAY, MCI_NOTIFY | MCI_TO, &p), 0u);
  Run(133 * 20);
  ASSERT_EQ(Send(MCI_STOP, 0, &stop), 0u);
  deck_->ClearTrace();
  Run(133 * 8);
  EXPECT_EQ(Statuses(), std::vector<UINT>{MCI_NOTIFY_SUPERSEDED});
  EXPECT_EQ(Count("PAUSE_422"), 1);
}

// An idle device costs nothing; ten completions read the timer mode once.
TEST_F(PollTest, IdleDeviceCausesNoTrafficAndTenCompletionsOneTimerModeQuery) {
  OpenQuietly();
  Run(133);  // a new record's first completion
  deck_->ClearTrace();
  Run(133 * 20);
  EXPECT_TRUE(deck_->Trace().empty());
  for (int i = 0; i < 9; ++i) {
    VTR_PLAY_PARMS p{0, 0, deck_->State().position + 1, 0};
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
using TwoDevicePollTest = TwoDeckFixture;

TEST_F(TwoDevicePollTest, RecordToRunsTheTimerAt33msAndBack) {
  OpenBoth();
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

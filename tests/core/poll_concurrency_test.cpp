// Several application threads drive two devices while the poll runs; in the
// end every owed notification has been answered.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "commands/handlers.h"
#include "platform/clock.h"
#include "tests/support/driver_fixture.h"

namespace vtr::test {
namespace {

class StressTest : public TwoDeckFixture {
 protected:
  void SetUp() override {
    TwoDeckFixture::SetUp();
    OpenBoth();
  }
  // Random commands for the two devices from `threads` threads. Nothing waits
  // for a play to a position: another thread's pause would hold it for good.
  void Drive(int threads, int commands) {
    std::vector<std::thread> pool;
    for (int i = 0; i < threads; ++i) {
      pool.emplace_back([this, i, commands] {
        std::minstd_rand rng(static_cast<unsigned>(1234 + i));
        auto r = [&rng](unsigned n) { return static_cast<DWORD>(rng() % n); };
        for (int k = 0; k < commands; ++k) {
          const UINT device = 1 + r(2);
          const DWORD_PTR cb = 0x1000 + r(16);
          VTR_PLAY_PARMS play{cb, 100 + r(500), 700 + r(500), 0};
          VTR_STATUS_PARMS status{cb, 0, 2 + 2 * r(2), 0};  // position or mode
          VTR_SEEK_PARMS seek{cb, r(2000), 0, 0};
          VTR_STEP_PARMS step{cb, 1 + r(5)};
          VTR_SETZDKR_PARMS zdkr{cb, 0, 0, 0, 0, r(200), 8, 7};  // pauses 200 ms, yielding
          const struct {
            UINT msg;
            DWORD flags;
            void* parms;
          } choices[] = {{MCI_PLAY, MCI_NOTIFY | MCI_FROM | MCI_TO, &play},
                         {MCI_PLAY, MCI_TO, &play},
                         {MCI_STATUS, MCI_STATUS_ITEM | MCI_NOTIFY * r(2), &status},
                         {MCI_PAUSE, MCI_WAIT, &step},
                         {MCI_SEEK, MCI_TO | MCI_NOTIFY, &seek},
                         {MCI_STEP, 0x10000, &step},
                         {MCI_STOP, MCI_NOTIFY, &step},
                         {MCI_VTR_SETZDKR, 0x400 | MCI_WAIT, &zdkr}};
          const auto& c = choices[r(std::size(choices))];
          Send(c.msg, c.flags, c.parms, device);
        }
      });
    }
    for (auto& t : pool) t.join();
  }
};

// Virtual time: every thread's yields dispatch the poll, on whichever thread sleeps.
TEST_F(StressTest, ThreadsAndThePollInVirtualTime) {
  Drive(4, 40);
  RunUntil([&] { return Record(1)->fMotionDone != 0 && Record(2)->fMotionDone != 0; }, 60000);
  EXPECT_EQ(Record(1)->fNotifyPending, 0u);
  EXPECT_EQ(Record(2)->fNotifyPending, 0u);
}

// Real time: the poll runs on the platform's timer thread.
TEST_F(StressTest, ThreadsAndThePollTimerThreadInRealTime) {
  vtr::platform::UseRealClock();
  Drive(3, 10);
}

}  // namespace
}  // namespace vtr::test

// Real threads: a second command for a device runs while the first one waits.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "link/frames.h"
#include "tests/support/driver_fixture.h"

namespace {

class WaitConcurrency : public vtr::test::DriverFixture {};

TEST_F(WaitConcurrency, StatusRunsDuringAWaitingPauseOfTheSameDevice) {
  ASSERT_EQ(OpenDevice(), 0u);
  std::mutex mu;
  std::condition_variable cv;
  bool bDone = false, aDone = false, bDoneBeforeA = false;
  DWORD bResult = 1;
  VTR_STATUS_PARMS status{0, 0, 4, 0};  // item: mode
  std::thread b;

  host_.OnYield([&](UINT id) {
    if (id != 1 || b.joinable()) return 0u;
    // First yield of the pause's wait: the status command must get the device now.
    b = std::thread([&] {
      const DWORD r = Send(MCI_STATUS, MCI_STATUS_ITEM, &status);
      std::lock_guard lock(mu);
      bResult = r;
      bDone = true;
      bDoneBeforeA = !aDone;
      cv.notify_all();
    });
    std::unique_lock lock(mu);
    cv.wait_for(lock, std::chrono::seconds(10), [&] { return bDone; });
    return 0u;
  });

  VTR_GENERIC_PARMS pause{0};
  std::thread a([&] {
    const DWORD r = Send(MCI_PAUSE, MCI_WAIT, &pause);
    EXPECT_EQ(r, 0u);
    std::lock_guard lock(mu);
    aDone = true;
  });
  a.join();
  if (b.joinable()) b.join();
  host_.OnYield(nullptr);

  EXPECT_TRUE(bDoneBeforeA);
  EXPECT_EQ(bResult, static_cast<DWORD>(MCI_RESOURCE_RETURNED));
  EXPECT_EQ(status.dwReturn & 0xFFFF, static_cast<DWORD>(MCI_MODE_PAUSE));
  EXPECT_EQ(fComInUse, 0u);
}

}  // namespace

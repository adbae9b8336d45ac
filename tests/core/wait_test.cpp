// The timed wait: its length in virtual time, the tick counter's wrap, breaks,
// and the device lock given up only inside the yield.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "completion/completion.h"
#include "platform/clock.h"
#include "tests/support/recording_host.h"

namespace {

using vtr::platform::Micros;
using vtr::platform::Now;

class Wait : public ::testing::Test {
 protected:
  void SetUp() override {
    vtr::platform::UseVirtualClock();
    InitDevStruct(&rec_);
    rec_.wDeviceID = 1;
    InitializeCriticalSection(&rec_.csCommand);
    EnterCriticalSection(&rec_.csCommand);  // waits run holding the device
  }
  void TearDown() override {
    LeaveCriticalSection(&rec_.csCommand);
    DeleteCriticalSection(&rec_.csCommand);
    vtr::platform::UseRealClock();
  }
  // Milliseconds of virtual time `f` took.
  template <class F>
  std::int64_t Elapsed(F f) {
    const Micros t0 = Now();
    f();
    return std::chrono::duration_cast<std::chrono::milliseconds>(Now() - t0).count();
  }
  vtr::test::RecordingHost host_;
  DeviceRecord rec_{};
};

// A wait lasts just over its time wherever the tick counter wraps, and ends
// at the yield where the application (of the device waiting) asks to break.
TEST_F(Wait, LastsItsTimeWhereverTheTickCounterWrapsOrUntilABreak) {
  struct Row {
    std::uint32_t tickBase;
    DWORD ms;
    int breakAt;  // the yield that answers break; 0: none
    std::int64_t elapsed;
    int yields;
  } rows[] = {
      {0, 500, 0, 510, 51},
      {0xFFFFFFFFu - 100, 500, 0, 510, 51},  // wraps halfway
      {0xFFFFFFFFu, 500, 0, 510, 51},        // wraps on the first
      {0xFFFFFFFFu - 9, 10, 0, 20, 2},
      {0, 0, 0, 10, 1},
      {0, 500, 3, 30, 3},
  };
  for (const auto& row : rows) {
    vtr::platform::UseVirtualClock(Micros{0}, row.tickBase);
    host_.ResetYields();
    // Past 1000 yields a wait that never ends breaks instead of hanging the run.
    host_.OnYield([&](UINT id) {
      return id == 1 && (host_.Yields() == row.breakAt || host_.Yields() > 1000) ? 1u : 0u;
    });
    bool broke = false;
    EXPECT_EQ(Elapsed([&] { broke = waitTimeOrBreak(&rec_, row.ms); }), row.elapsed)
        << row.tickBase;
    EXPECT_EQ(host_.Yields(), row.yields) << row.tickBase;
    EXPECT_EQ(broke, row.breakAt != 0);
  }
}

TEST_F(Wait, DeviceLockIsFreeOnlyInsideTheYield) {
  auto freeElsewhere = [this] {
    bool got = false;
    std::thread([&] {
      got = TryEnterCriticalSection(&rec_.csCommand) != 0;
      if (got) LeaveCriticalSection(&rec_.csCommand);
    }).join();
    return got;
  };
  int inside = 0;
  host_.OnYield([&](UINT) {
    inside += freeElsewhere() ? 1 : 0;
    return 0u;
  });
  EXPECT_FALSE(freeElsewhere());
  waitTime(&rec_, 100);
  EXPECT_EQ(inside, 11);
  EXPECT_FALSE(freeElsewhere());  // held again on return
}

}  // namespace

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
    // A wait that never ends breaks here instead of hanging the run.
    host_.OnYield([this](UINT) { return host_.Yields() > 1000 ? 1u : 0u; });
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

TEST_F(Wait, LastsJustOverItsTimeWhereverTheTickCounterWraps) {
  struct Row {
    std::uint32_t tickBase;
    DWORD ms;
    std::int64_t elapsed;
    int yields;
  } rows[] = {
      {0, 500, 510, 51},
      {0xFFFFFFFFu - 100, 500, 510, 51},  // wraps halfway
      {0xFFFFFFFFu, 500, 510, 51},        // wraps on the first
      {0xFFFFFFFFu - 9, 10, 20, 2},
      {0, 0, 10, 1},
      {0, 1000, 1010, 101},
  };
  for (const auto& row : rows) {
    vtr::platform::UseVirtualClock(Micros{0}, row.tickBase);
    host_.ResetYields();
    EXPECT_EQ(Elapsed([&] { waitTime(&rec_, row.ms); }), row.elapsed) << row.tickBase;
    EXPECT_EQ(host_.Yields(), row.yields) << row.tickBase;
  }
}

TEST_F(Wait, BreakEndsTheWaitAtOnce) {
  host_.OnYield([this](UINT id) { return id == 1 && host_.Yields() == 3 ? 1u : 0u; });
  bool broke = false;
  EXPECT_EQ(Elapsed([&] { broke = waitTimeOrBreak(&rec_, 500); }), 30);
  EXPECT_TRUE(broke);
  host_.ResetYields();
  EXPECT_EQ(Elapsed([&] { waitTime(&rec_, 500); }), 30);
  EXPECT_EQ(host_.Yields(), 3);
  host_.OnYield(nullptr);
  EXPECT_FALSE(waitTimeOrBreak(&rec_, 50));
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

// Real threads: driver opens and closes straight into DriverProc, as a
// multimedia library that does not serialise them would send them.
#include <gtest/gtest.h>

#include <barrier>
#include <set>
#include <thread>
#include <vector>

#include "tests/support/driver_fixture.h"

namespace {

class DriverOpenConcurrency : public vtr::test::DriverFixture {};

// 8 threads open at once, two per device number, then close at once: each
// number gets one record in a slot of its own, every open answers that
// record's ID, and the closes leave the table empty.
TEST_F(DriverOpenConcurrency, EightThreadsOpenAndCloseThroughDriverProc) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 400;
  std::barrier sync(kThreads + 1);
  std::vector<DWORD> answers(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      const std::u16string params =
          u"videotape" + std::u16string(1, static_cast<char16_t>(u'1' + t / 2));
      const auto hDriver = static_cast<UINT_PTR>(200 + t);
      for (int round = 0; round < kRounds; ++round) {
        sync.arrive_and_wait();
        answers[static_cast<std::size_t>(t)] =
            DriverOpen(params.c_str(), static_cast<UINT>(10 + t), hDriver);
        sync.arrive_and_wait();  // the main thread checks the table
        sync.arrive_and_wait();
        DriverProc(0, reinterpret_cast<HDRVR>(hDriver), DRV_CLOSE, 0, 0);
        sync.arrive_and_wait();
      }
    });
  }
  for (int round = 0; round < kRounds; ++round) {
    sync.arrive_and_wait();
    sync.arrive_and_wait();
    std::set<DeviceRecord*> records;
    std::set<DWORD> numbers;
    for (int i = 0; i < kDeviceSlots; ++i) {
      if (DeviceRecord* rec = LoadSlotRecord(i)) {
        records.insert(rec);
        numbers.insert(rec->nDeviceNumber);
      }
    }
    EXPECT_EQ(records.size(), static_cast<std::size_t>(kThreads / 2)) << "round " << round;
    EXPECT_EQ(numbers.size(), records.size()) << "round " << round;
    for (int t = 0; t < kThreads; ++t) {
      const DeviceRecord* rec = GetDevState(answers[static_cast<std::size_t>(t)]);
      if (rec == nullptr) {  // no return: the threads wait at the barrier
        ADD_FAILURE() << "round " << round << ", thread " << t << ": no record for its answer";
        continue;
      }
      EXPECT_EQ(rec->nDeviceNumber, static_cast<DWORD>(1 + t / 2));
    }
    sync.arrive_and_wait();
    sync.arrive_and_wait();
    for (int i = 0; i < kDeviceSlots; ++i) EXPECT_EQ(LoadSlotRecord(i), nullptr) << "slot " << i;
  }
  for (auto& th : threads) th.join();
}

}  // namespace

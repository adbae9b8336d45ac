// Several application threads drive two devices while the poll runs.
#include <gtest/gtest.h>

#include <random>
#include <thread>

#include "platform/clock.h"
#include "platform/serial_ports.h"
#include "tests/support/driver_fixture.h"

namespace vtr::test {
namespace {

class StressTest : public DriverFixture {
 protected:
  std::string InitialProfile() override {
    return "[videotape]\nVTRID=19\n[videotape1]\nVTRID=19\nComPort=3\n";
  }
  void SetUp() override {
    DriverFixture::SetUp();
    second_ = std::make_shared<vtr::sim::Deck>(vtr::sim::DeckConfig::For("BVW-75"));
    vtr::platform::BindVirtualPort(3, second_);
    ASSERT_EQ(OpenDevice(0, 1), 0u);
    ASSERT_EQ(DriverOpen(u"videotape1", 2, 202), 2u);
    VTR_GENERIC_PARMS g{0};
    ASSERT_EQ(Send(MCI_OPEN_DRIVER, 0, &g, 2), 0u);
  }
  void TearDown() override {
    DriverFixture::TearDown();
    vtr::platform::UnbindPort(3);
  }


 public:
  // One random command for one of the two devices. Nothing waits for a play to
  // a position: another thread's pause would hold it still, and it would wait
  // for good, as it should.
  void RandomCommand(std::minstd_rand& rng) {
    auto r = [&rng](unsigned n) { return static_cast<DWORD>(rng() % n); };
    const UINT device = 1 + r(2);
    const DWORD_PTR callback = 0x1000 + r(16);
    VTR_PLAY_PARMS play{callback, 100 + r(500), 700 + r(500), 0};
    VTR_STATUS_PARMS status{callback, 0, 2, 0};
    VTR_SEEK_PARMS seek{callback, r(2000), 0, 0};
    VTR_GENERIC_PARMS plain{callback};
    VTR_STEP_PARMS step{callback, 1 + r(5)};
    VTR_SETZDKR_PARMS zdkr{callback, 0, 0, 0, 0, r(200), 8, 7};
    switch (r(9)) {
      case 0:
        Send(MCI_PLAY, MCI_NOTIFY | MCI_FROM | MCI_TO, &play, device); break;
      case 1: Send(MCI_STATUS, MCI_STATUS_ITEM, &status, device); break;
      case 2: status.dwItem = 4; Send(MCI_STATUS, MCI_STATUS_ITEM | MCI_NOTIFY, &status, device); break;
      case 3: Send(MCI_PAUSE, MCI_WAIT, &plain, device); break;
      case 4: Send(MCI_SEEK, MCI_TO | MCI_NOTIFY, &seek, device); break;
      case 5: Send(MCI_STEP, 0x10000, &step, device); break;
      case 6: Send(MCI_STOP, MCI_NOTIFY, &plain, device); break;
      case 8:  // pauses 200 ms after its exchange, yielding
        Send(0x0C87, 0x400 | MCI_WAIT, &zdkr, device);
        break;
      default: Send(MCI_PLAY, MCI_TO, &play, device); break;
    }
  }


 protected:
  std::shared_ptr<vtr::sim::Deck> second_;
};

void Drive(StressTest* t, int threads, int commands) {
  std::vector<std::thread> pool;
  for (int i = 0; i < threads; ++i) {
    pool.emplace_back([t, i, commands] {
      std::minstd_rand rng(static_cast<unsigned>(1234 + i));
      for (int k = 0; k < commands; ++k) t->RandomCommand(rng);
    });
  }
  for (auto& th : pool) th.join();
}

// Virtual time: every thread's yields dispatch the poll, on whichever thread sleeps.
TEST_F(StressTest, ThreadsAndThePollInVirtualTime) {
  Drive(this, 4, 40);
  // Let everything pending finish; every owed notification is then answered.
  for (int i = 0; i < 400 && (Record(1)->fMotionDone == 0 || Record(2)->fMotionDone == 0); ++i) Run(133);
  EXPECT_EQ(Record(1)->fNotifyPending, 0u);
  EXPECT_EQ(Record(2)->fNotifyPending, 0u);
}

// Real time: the poll runs on the platform's timer thread.
TEST_F(StressTest, ThreadsAndThePollTimerThreadInRealTime) {
  vtr::platform::UseRealClock();
  Drive(this, 3, 10);
}

}  // namespace
}  // namespace vtr::test

// The driver in real time against the vtrsim program on a pseudo-terminal:
// opens on a paced line, and a notified play through the library.
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "host/driver_binding.h"
#include "mci/mci_library.h"
#include "platform/clock.h"
#include "platform/serial_ports.h"
#include "tests/integration/child_process.h"
#include "tests/support/driver_fixture.h"

#ifndef VTRSIM_PATH
#define VTRSIM_PATH ""
#endif

namespace {

constexpr int kCom = 5;

// Each open wakes the machine with one-way blocks; none may be cut short by
// the next block's purge, on a line whose bytes take their time. And a
// notified play between positions through the library, in real time.
TEST(PtyTest, OpensNeverDeliverACorruptBlockAndAPlayNotifies) {
  if (access(VTRSIM_PATH, X_OK) != 0) GTEST_SKIP() << "vtrsim program not built";
  if (access("/dev/ptmx", R_OK | W_OK) != 0) GTEST_SKIP() << "no /dev/ptmx: no pseudo-terminals";
  vtr::platform::UseRealClock();
  vtr::test::TempProfileDir profile;
  const std::string trace = (profile.Path() / "trace.txt").string();
  std::optional<vtr::test::ChildProcess> sim;
  sim.emplace(VTRSIM_PATH, std::vector<std::string>{"--pacing", "--trace"}, trace);
  const std::string tty = sim->ReadLine();  // vtrsim's first line: its terminal
  ASSERT_FALSE(tty.empty()) << "vtrsim printed no terminal path";
  vtr::platform::BindPortPath(kCom, tty);
  profile.WriteIni("[videotape]\nVTRID=19\nComPort=5\n");
  std::mutex mu;
  std::condition_variable cv;
  std::vector<UINT> codes;
  {
    vtr::mci::MciLibrary lib(vtr::host::RealDriver());
    for (int i = 0; i < 10; ++i) {
      ASSERT_EQ(lib.SendString("open vcr alias tape").error, 0u) << i;
      if (i == 9) {
        auto cb = lib.RegisterCallback([&](const vtr::mci::Notification& n) {
          std::lock_guard lock(mu);
          codes.push_back(n.code);
          cv.notify_all();
        });
        ASSERT_EQ(lib.SendString("play tape from 100 to 160 notify", cb).error, 0u);
        std::unique_lock lock(mu);
        EXPECT_TRUE(cv.wait_for(lock, std::chrono::seconds(15), [&] { return !codes.empty(); }));
        lock.unlock();
        const vtr::mci::CommandResult pos = lib.SendString("status tape position");
        EXPECT_GE(std::stoi(pos.text), 160);  // stilled just past the end
        EXPECT_LT(std::stoi(pos.text), 190);
      }
      ASSERT_EQ(lib.SendString("close tape").error, 0u) << i;
    }
  }
  EXPECT_EQ(codes, std::vector<UINT>{MCI_NOTIFY_SUCCESSFUL});
  sim.reset();  // the trace is complete once the program has gone
  std::ifstream in(trace);
  int stops = 0;
  for (std::string line; std::getline(in, line);) {
    if (line.find("-> deck") != std::string::npos && line.find("STOP_422") != std::string::npos) {
      ++stops;
    }
    // The one refusal expected: the machine is no ZDKR.
    if (line.find("NAK") != std::string::npos) {
      EXPECT_NE(line.find("undefined command"), std::string::npos) << line;
    }
  }
  EXPECT_EQ(stops, 10 * 4);  // three to wake it, one at close
  vtr::platform::UnbindPort(kCom);
}

}  // namespace

// Wall and processor time of the exchange's read budget (9,500 empty attempts) on a
// pseudo-terminal, against the cost of a bare non-blocking read.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include <benchmark/benchmark.h>

#include "bench/bench_support.h"
#include "platform/clock.h"
#include "platform/serial_ports.h"
#include "platform/win32.h"

namespace {

constexpr int kPort = 97;
constexpr int kBudget = 9500;

HANDLE OpenPaced(const std::string& path) {
  vtr::platform::BindPortPath(kPort, path);
  HANDLE h =
      CreateFileA("COM97", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return h;
  COMMTIMEOUTS t{MAXDWORD, 0, 0, MAXDWORD, MAXDWORD};
  SetCommTimeouts(h, &t);
  return h;
}

void BM_EmptyReadBudget(benchmark::State& state) {
  vtr::platform::UseRealClock();
  vtr::test::PtyPair pty;
  HANDLE h = !pty.ok() ? INVALID_HANDLE_VALUE : OpenPaced(pty.slave());
  if (h == INVALID_HANDLE_VALUE) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  double totalMs = 0;
  double cpuMs = 0;
  for (auto _ : state) {
    const double cpu0 = vtr::bench::ThreadCpuSeconds();
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kBudget; ++i) {
      std::uint8_t b = 0;
      DWORD got = 0;
      ReadFile(h, &b, 1, &got, nullptr);
    }
    totalMs +=
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    cpuMs += 1000 * (vtr::bench::ThreadCpuSeconds() - cpu0);
    // Start the next budget as a new run.
    const std::uint8_t nothing = 0;
    DWORD put = 0;
    WriteFile(h, &nothing, 0, &put, nullptr);
  }
  state.counters["budget_ms"] = totalMs / static_cast<double>(state.iterations());
  state.counters["cpu_ms"] = cpuMs / static_cast<double>(state.iterations());
  CloseHandle(h);
  vtr::platform::UnbindPort(kPort);
}
BENCHMARK(BM_EmptyReadBudget)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_BareNonBlockingRead(benchmark::State& state) {
  vtr::test::PtyPair pty;
  const int fd = !pty.ok() ? -1 : open(pty.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) {
    std::uint8_t b = 0;
    benchmark::DoNotOptimize(read(fd, &b, 1));
  }
  const double perReadMs =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() /
      static_cast<double>(state.iterations());
  // What the budget would last without pacing.
  state.counters["budget_ms"] = perReadMs * kBudget;
  close(fd);
}
BENCHMARK(BM_BareNonBlockingRead);

// The least any reader that sleeps until each byte pays on this machine: a
// byte every 286.5 us into a pty, and a thread that waits in ppoll and reads
// it. An exchange that receives n bytes one at a time costs at least n of these.
void BM_WakePerByteFloor(benchmark::State& state) {
  vtr::test::PtyPair pty;
  const int fd = !pty.ok() ? -1 : open(pty.slave().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  constexpr int kBytes = 500;
  std::thread line([&pty] {
    auto at = std::chrono::steady_clock::now();
    for (int i = 0; i < kBytes; ++i) {
      at += std::chrono::nanoseconds(static_cast<long>(vtr::bench::kByteUs * 1000));
      std::this_thread::sleep_until(at);
      const std::uint8_t b = 0x55;
      if (write(pty.master(), &b, 1) != 1) return;
    }
  });
  double cpu = 0;
  for (auto _ : state) {
    const double c0 = vtr::bench::ThreadCpuSeconds();
    for (int got = 0; got < kBytes;) {
      pollfd pfd{fd, POLLIN, 0};
      if (poll(&pfd, 1, 1000) <= 0) break;
      std::uint8_t b = 0;
      got += read(fd, &b, 1) == 1 ? 1 : 0;
    }
    cpu += vtr::bench::ThreadCpuSeconds() - c0;
  }
  line.join();
  close(fd);
  state.counters["cpu_us_per_byte"] = 1e6 * cpu / kBytes / static_cast<double>(state.iterations());
}
BENCHMARK(BM_WakePerByteFloor)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

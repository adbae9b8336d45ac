// Wall and processor time of the exchange's read budget (9,500 empty attempts) on a
// pseudo-terminal, against the cost of a bare non-blocking read.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <string>

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

}  // namespace

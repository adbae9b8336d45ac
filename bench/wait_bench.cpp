// Processor time of waiting for a deck, in real time on pseudo-terminals
// with the virtual deck pacing its bytes as on the line:
// - per exchange (acknowledged command, position, status) against its wire
//   time, and the reply latency the driver adds after the deck's last byte;
// - per second for devices tracking a play, and for idle open devices.
// Processor-time figures hold on a busy machine; wall figures (latency) do not.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_support.h"
#include "driver/driver.h"
#include "link/frames.h"
#include "link/queries.h"
#include "link/serial.h"
#include "platform/clock.h"
#include "platform/mci_host.h"
#include "platform/serial_ports.h"
#include "record/device.h"

namespace {

using vtr::bench::kByteUs;
using vtr::platform::Micros;
using vtr::platform::Now;

constexpr int kExchangePort = 40;
constexpr int kFleetPort = 41;

struct Exchange {
  const char* name;
  int wireBytes;  // out and back
  bool (*run)(DeviceRecord*);
};

const Exchange kExchanges[] = {
    // STOP_422 and ACK: 3 bytes out, 3 back.
    {"ack", 6, [](DeviceRecord* r) { return kestrelSendCmd(r, STOP_422, 1) == 0; }},
    // CURTCSENSE_422 and the time data: 4 out, 7 back.
    {"position", 11,
     [](DeviceRecord* r) {
       r->dwPosition = 0xFFFFFFFF;  // a refused answer leaves it as it was
       return kestrelGetPosition(r, 0) != 0xFFFFFFFF;
     }},
    // STATSENSE_422 for 8 bytes and the status data: 4 out, 11 back.
    {"status", 15, [](DeviceRecord* r) { return kestrelGetStatus(r) != 0; }},
};

// Args: exchange index, deck latency in ms, whether the pty's output takes
// line time as a UART's does.
void BM_ExchangeOnPty(benchmark::State& state) {
  const Exchange& ex = kExchanges[state.range(0)];
  vtr::platform::UseRealClock();
  vtr::bench::PtyDeck deck(std::chrono::milliseconds(state.range(1)), state.range(2) != 0);
  if (!deck.ok()) {
    state.SkipWithError("no pseudo-terminal");
    return;
  }
  DllInstanceInit(vtr::platform::DriverModule(), 1, nullptr);
  vtr::platform::BindPortPath(kExchangePort, deck.Slave());
  DeviceRecord rec{};
  InitDevStruct(&rec);
  rec.hComm = OpenComm("COM40", 1024, 1024);
  ConfigureComm(rec.hComm, "COM40:38400,o,8,1");

  std::vector<double> added;
  double cpu = 0;
  int failed = 0;
  for (auto _ : state) {
    const double c0 = vtr::bench::ThreadCpuSeconds();
    const bool ok = ex.run(&rec);
    const Micros back = Now();
    cpu += vtr::bench::ThreadCpuSeconds() - c0;
    if (ok) {
      added.push_back(static_cast<double>((back - deck.LastByteAt()).count()));
    } else {
      ++failed;
    }
  }
  CloseComm(rec.hComm);
  vtr::platform::UnbindPort(kExchangePort);
  DllInstanceInit(vtr::platform::DriverModule(), 0, nullptr);

  const double wireUs = ex.wireBytes * kByteUs;
  const double cpuUs = cpu * 1e6 / static_cast<double>(state.iterations());
  state.SetLabel(ex.name);
  state.counters["wire_us"] = wireUs;
  state.counters["cpu_us"] = cpuUs;
  state.counters["cpu_pct_of_wire"] = 100 * cpuUs / wireUs;
  state.counters["added_p50_us"] = vtr::bench::Quantile(added, 0.5);
  state.counters["added_p90_us"] = vtr::bench::Quantile(added, 0.9);
  state.counters["added_p99_us"] = vtr::bench::Quantile(added, 0.99);
  state.counters["failed"] = failed;
}
BENCHMARK(BM_ExchangeOnPty)
    ->ArgNames({"exchange", "latency_ms", "uart"})
    ->ArgsProduct({{0, 1, 2}, {2, 9}, {0, 1}})
    ->Iterations(300)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Ten devices opened on ten paced pty decks (`uart`: whose output takes line
// time); `tracking` of them then play towards a far position (the poll at 133
// ms follows them), the others idle.
void BM_DevicesPerSecond(benchmark::State& state, bool idle, bool uart) {
  constexpr int kDevices = 10;
  const int tracking = idle ? 0 : static_cast<int>(state.range(0));
  vtr::platform::UseRealClock();
  vtr::bench::Profile profile(kDevices, kFleetPort);
  std::vector<std::unique_ptr<vtr::bench::PtyDeck>> decks;
  for (int i = 0; i < kDevices; ++i) {
    decks.push_back(std::make_unique<vtr::bench::PtyDeck>(std::chrono::milliseconds(2), uart));
    if (!decks.back()->ok()) {
      state.SkipWithError("no pseudo-terminal");
      return;
    }
    vtr::platform::BindPortPath(kFleetPort + i, decks.back()->Slave());
  }
  DllInstanceInit(vtr::platform::DriverModule(), 1, nullptr);
  {
    // An open spends over a second in fixed waits: open them side by side.
    for (int i = 0; i < kDevices; ++i) vtr::bench::DriverOpen(i);
    std::vector<std::thread> openers;
    std::vector<DWORD> results(kDevices);
    for (int i = 0; i < kDevices; ++i) {
      openers.emplace_back(
          [i, &results] { results[static_cast<std::size_t>(i)] = vtr::bench::OpenDevice(i); });
    }
    for (auto& t : openers) t.join();
    // A loaded machine can fail an open's exchange: say so, and try once more alone.
    for (int i = 0; i < kDevices; ++i) {
      if (results[static_cast<std::size_t>(i)] == 0) continue;
      std::fprintf(stderr, "device %d: open answered %u, opening again\n", i + 1,
                   static_cast<unsigned>(results[static_cast<std::size_t>(i)]));
      vtr::bench::OpenDevice(i);
    }
  }
  int open = 0;
  for (int i = 0; i < kDevices; ++i) {
    const DeviceRecord* rec = GetDevState(static_cast<DWORD_PTR>(i + 1));
    open += rec != nullptr && rec->nOpenCount > 0 ? 1 : 0;
  }
  for (int i = 0; i < tracking; ++i) vtr::bench::StartTo(i, MCI_PLAY, 50000);
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));  // into the watching state

  auto decksCpu = [&] {
    double s = 0;
    for (const auto& d : decks) s += d->CpuSeconds();
    return s;
  };
  auto blocks = [&] {
    std::size_t n = 0;
    for (const auto& d : decks) n += d->BlocksReceived();
    return n;
  };
  std::size_t exchanges = 0;
  double driverCpu = 0;
  double wall = 0;
  for (auto _ : state) {
    const double p0 = vtr::bench::ProcessCpuSeconds();
    const double d0 = decksCpu();
    const std::size_t b0 = blocks();
    const auto w0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(4));
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
    driverCpu += (vtr::bench::ProcessCpuSeconds() - p0) - (decksCpu() - d0);
    exchanges += blocks() - b0;
  }
  for (int i = 0; i < kDevices; ++i) vtr::bench::CloseDevice(i);
  DllInstanceInit(vtr::platform::DriverModule(), 0, nullptr);
  for (int i = 0; i < kDevices; ++i) vtr::platform::UnbindPort(kFleetPort + i);

  state.counters["devices_open"] = open;
  state.counters["devices_tracking"] = tracking;
  state.counters["cpu_ms_per_s"] = 1000 * driverCpu / wall;
  state.counters["cpu_pct_of_core"] = 100 * driverCpu / wall;
  state.counters["exchanges_per_s"] = static_cast<double>(exchanges) / wall;
}
BENCHMARK_CAPTURE(BM_DevicesPerSecond, tracking, false, false)
    ->ArgName("devices")
    ->Arg(1)
    ->Arg(4)
    ->Arg(10)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_DevicesPerSecond, tracking_uart, false, true)
    ->ArgName("devices")
    ->Arg(10)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_DevicesPerSecond, idle, true, false)
    ->ArgName("devices")
    ->Arg(10)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace

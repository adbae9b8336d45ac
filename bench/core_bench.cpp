// The link layer's CPU cost: conversions per call, and one status query and
// one acknowledged command against the in-process deck (zero latency, virtual
// clock), as a fraction of the time their bytes take on the line.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <memory>

#include "link/frames.h"
#include "link/queries.h"
#include "link/timecode.h"
#include "sim/deck.h"
#include "tests/support/fake_line.h"

namespace {

// One byte at 38400 baud with start, parity and stop bits: 11 bits.
constexpr double kByteNs = 11.0 / 38400 * 1e9;

DeviceRecord MakeRecord(DWORD pal, DWORD timeFormat) {
  DeviceRecord r{};
  InitDevStruct(&r);
  r.Pal = pal;
  r.dwTimeFormat = timeFormat;
  return r;
}

void BM_ConvertPosition(benchmark::State& state) {
  const DeviceRecord rec = MakeRecord(0, 3);
  const auto format = static_cast<DWORD>(state.range(0));
  DWORD frames = 0, out = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(convertPosition(&rec, format, frames, &out));
    benchmark::DoNotOptimize(out);
    frames = (frames + 7919) % 2589408;
  }
}
BENCHMARK(BM_ConvertPosition)->Arg(0)->Arg(2)->Arg(6)->Arg(7)->Arg(10);

void BM_PositionConvert(benchmark::State& state) {
  const DeviceRecord rec = MakeRecord(0, static_cast<DWORD>(state.range(0)));
  DWORD v = 0x02000100;
  for (auto _ : state) {
    benchmark::DoNotOptimize(positionConvert(&rec, v));
    v ^= 0x00010000;
  }
}
BENCHMARK(BM_PositionConvert)->Arg(0)->Arg(2)->Arg(6)->Arg(7)->Arg(10);

void BM_Frame422tc(benchmark::State& state) {
  const DeviceRecord rec = MakeRecord(0, 3);
  const auto format = static_cast<WORD>(state.range(0));
  BYTE tc[4];
  DWORD frames = 0;
  for (auto _ : state) {
    frame422tc(&rec, frames, tc, format, 0);
    benchmark::DoNotOptimize(tc);
    frames = (frames + 7919) % 2589408;
  }
}
BENCHMARK(BM_Frame422tc)->Arg(5)->Arg(6)->Arg(7);

void BM_ReadTimecode(benchmark::State& state) {
  BYTE tc[4] = {0x55, 0x30, 0x59, 0x09};
  WORD format = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(readTimecode(tc, 0, &format));
    tc[0] ^= 0x40;
  }
}
BENCHMARK(BM_ReadTimecode);

void BM_DropFrameDecompose(benchmark::State& state) {
  DWORD frames = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(dropFrameDecompose(frames));
    frames = (frames + 7919) % 2589408;
  }
}
BENCHMARK(BM_DropFrameDecompose);

// Runs `exchange` and reports its CPU share of the line time of `wireBytes`.
template <class F>
void ExchangeBench(benchmark::State& state, int wireBytes, F exchange) {
  // The driver attached, a deck answering at once, virtual time.
  auto cfg = vtr::sim::DeckConfig::For("BVW-75");
  cfg.latency = vtr::platform::Micros{0};
  const auto deck = std::make_shared<vtr::sim::Deck>(cfg);
  vtr::test::LinkedRecord link(deck);
  const double wireNs = wireBytes * kByteNs;
  std::int64_t n = 0;
  double ns = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    exchange(&link.rec);
    ns += std::chrono::duration<double, std::nano>(std::chrono::steady_clock::now() - t0).count();
    if (++n % 1024 == 0) deck->ClearTrace();  // the trace grows with every block
  }
  state.counters["wire_us"] = wireNs / 1000;
  state.counters["cpu_of_wire"] =
      benchmark::Counter(ns / wireNs, benchmark::Counter::kAvgIterations);
}

// Status: 4 bytes out, 11 in.
void BM_StatusQueryVsWire(benchmark::State& state) {
  ExchangeBench(state, 15, [](DeviceRecord* rec) {
    if (kestrelGetStatus(rec) == 0) std::abort();
  });
}
BENCHMARK(BM_StatusQueryVsWire);

// STOP_422 and its acknowledgement: 3 bytes out, 3 in.
void BM_AcknowledgedSendVsWire(benchmark::State& state) {
  ExchangeBench(state, 6, [](DeviceRecord* rec) {
    if (kestrelSendCmd(rec, STOP_422, 1) != 0) std::abort();
  });
}
BENCHMARK(BM_AcknowledgedSendVsWire);

}  // namespace

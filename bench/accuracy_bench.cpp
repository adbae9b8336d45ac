// Frame accuracy: how many frames past its target a background command
// leaves the tape, against the virtual deck with line pacing, in virtual
// time. Each benchmark runs 60 commands from positions and poll phases that
// vary run to run, and reports the distribution of the overshoot.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <iterator>
#include <memory>
#include <vector>

#include "bench/bench_support.h"
#include "driver/driver.h"
#include "platform/clock.h"
#include "platform/mci_host.h"
#include "platform/serial_ports.h"
#include "record/device.h"
#include "record/parms.h"
#include "sim/deck.h"

namespace {

using namespace std::chrono_literals;

constexpr int kPort = 30;
constexpr int kRuns = 60;

struct Case {
  const char* name;
  UINT message;    // MCI_PLAY, MCI_RECORD or MCI_CUE
  DWORD distance;  // frames from the start position to the target, run 0
  DWORD spread;    // added per run, over a cycle of 30 runs
  bool from;       // a play from the start position to the target
};

const Case kCases[] = {
    {"play_to_long", MCI_PLAY, 600, 7, false},     // 1x, 20 s and more
    {"play_to_short", MCI_PLAY, 1, 1, false},      // 1x, within the play step's own delays
    {"play_from_to_short", MCI_PLAY, 1, 1, true},  // 1x, the deck already plays from the start
    {"record_to", MCI_RECORD, 300, 7, false},      // 1x, the poll at 33 ms
    {"record_to_short", MCI_RECORD, 1, 1, false},  // 1x, within the record step's delays
    {"cue", MCI_CUE, 1000, 37, false},             // the deck's fastest search (wind speed)
};

void BM_FramesPastTarget(benchmark::State& state) {
  const Case& c = kCases[state.range(0)];
  vtr::bench::Profile profile(1, kPort);
  vtr::platform::UseVirtualClock();
  DllInstanceInit(vtr::platform::DriverModule(), 1, nullptr);
  auto cfg = vtr::sim::DeckConfig::For("BVW-75");
  cfg.line_pacing = true;
  auto deck = std::make_shared<vtr::sim::Deck>(cfg);
  vtr::platform::BindVirtualPort(kPort, deck);
  if (vtr::bench::OpenDevice(0) != 0) {
    state.SkipWithError("open failed");
    return;
  }
  DeviceRecord* rec = GetDevState(1);

  std::vector<double> past;
  double aimOffset = 0;
  int unfinished = 0;
  int failed = 0;
  std::uint32_t seed = 12345;
  for (auto _ : state) {
    for (int run = 0; run < kRuns; ++run) {
      const DWORD start = 3000 + static_cast<DWORD>(run) * 400;
      const DWORD target = start + c.distance + c.spread * static_cast<DWORD>(run % 30);
      deck->PanelStop();
      deck->SetPosition(start);
      // A different phase against the poll's ticks on every run.
      seed = seed * 1103515245u + 12345u;
      vtr::platform::Advance(std::chrono::milliseconds(200 + (seed >> 16) % 133));
      if (c.message == MCI_CUE) {
        VTR_CUE_PARMS p{0, 0, target};
        DriverProc(1, nullptr, MCI_CUE, MCI_TO, reinterpret_cast<LPARAM>(&p));
      } else if (c.from) {
        VTR_PLAY_PARMS p{0, start, target, 0};
        DriverProc(1, nullptr, c.message, MCI_FROM | MCI_TO, reinterpret_cast<LPARAM>(&p));
      } else {
        vtr::bench::StartTo(0, c.message, target);
      }
      // Where the driver itself aims: a record stops the edit-out delay early.
      const DWORD aim = c.from ? rec->dwNextTo : rec->dwPendingTo;  // a from-to queues its end
      aimOffset = static_cast<double>(aim) - static_cast<double>(target);
      const auto giveUp = vtr::platform::Now() + 120s;
      while (rec->fMotionDone == 0 && vtr::platform::Now() < giveUp) {
        vtr::platform::Advance(10ms);
      }
      if (rec->fMotionDone == 0) {
        ++unfinished;
        continue;
      }
      if (rec->fCmdFailed != 0) ++failed;
      past.push_back(static_cast<double>(deck->State().position) - static_cast<double>(target));
    }
  }
  vtr::bench::CloseDevice(0);
  vtr::platform::UnbindPort(kPort);
  DllInstanceInit(vtr::platform::DriverModule(), 0, nullptr);
  vtr::platform::UseRealClock();

  state.SetLabel(c.name);
  state.counters["runs"] = static_cast<double>(past.size());
  state.counters["aim_offset"] = aimOffset;
  state.counters["unfinished"] = unfinished;
  state.counters["failed"] = failed;
  state.counters["past_min"] = vtr::bench::Quantile(past, 0);
  state.counters["past_p50"] = vtr::bench::Quantile(past, 0.5);
  state.counters["past_p90"] = vtr::bench::Quantile(past, 0.9);
  state.counters["past_max"] = vtr::bench::Quantile(past, 1);
}
BENCHMARK(BM_FramesPastTarget)
    ->ArgName("case")
    ->DenseRange(0, static_cast<int>(std::size(kCases)) - 1)
    ->Iterations(1);

}  // namespace

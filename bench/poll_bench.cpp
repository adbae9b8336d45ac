// CPU cost of one poll tick with ten open devices, idle and busy, against
// in-process decks (zero latency, virtual clock), and the serial traffic of
// an idle tick (none is expected).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "driver/driver.h"
#include "monitor/poll.h"
#include "platform/clock.h"
#include "platform/mci_host.h"
#include "platform/serial_ports.h"
#include "record/device.h"
#include "record/parms.h"
#include "sim/deck.h"

namespace {

constexpr int kDevices = 10;

// Ten opened devices on ten decks (COM11..COM20), profile in a temporary directory.
class TenDevices {
 public:
  TenDevices() : profile_(kDevices, 11) {
    vtr::platform::UseVirtualClock();
    DllInstanceInit(vtr::platform::DriverModule(), 1, nullptr);
    for (int i = 0; i < kDevices; ++i) {
      vtr::sim::DeckConfig cfg = vtr::sim::DeckConfig::For("BVW-75");
      cfg.latency = vtr::platform::Micros{0};
      decks_.push_back(std::make_shared<vtr::sim::Deck>(cfg));
      vtr::platform::BindVirtualPort(11 + i, decks_.back());
      vtr::bench::OpenDevice(i);
    }
    TimerProc(nullptr, WM_TIMER, 0, 0);  // the first completion of every new record
  }
  ~TenDevices() {
    for (int i = 0; i < kDevices; ++i) {
      vtr::bench::CloseDevice(i);
      vtr::platform::UnbindPort(11 + i);
    }
    DllInstanceInit(vtr::platform::DriverModule(), 0, nullptr);
    vtr::platform::UseRealClock();
  }
  // Every device starts a play to a far position: the poll has work on each.
  void MakeBusy() {
    for (int i = 0; i < kDevices; ++i) vtr::bench::StartTo(i, MCI_PLAY, 0xFFFFFF);
    for (int k = 0; k < 20; ++k) Tick();  // into the watching state, the decks playing
  }
  // One timer period of virtual time: the deck moves on, the poll runs once.
  static void Tick() { vtr::platform::Advance(std::chrono::milliseconds(133)); }
  int OpenDevices() const {
    int n = 0;
    for (int i = 0; i < kDevices; ++i) {
      const DeviceRecord* rec = GetDevState(static_cast<DWORD_PTR>(1 + i));
      n += rec != nullptr && rec->nOpenCount > 0 ? 1 : 0;
    }
    return n;
  }
  std::size_t Blocks() const {
    std::size_t n = 0;
    for (const auto& d : decks_) n += d->Trace().size();
    return n;
  }
  void ClearTraces() {
    for (const auto& d : decks_) d->ClearTrace();
  }

 private:
  vtr::bench::Profile profile_;
  std::vector<std::shared_ptr<vtr::sim::Deck>> decks_;
};

void BM_PollTickIdle(benchmark::State& state) {
  TenDevices devices;
  devices.ClearTraces();
  for (auto _ : state) TenDevices::Tick();
  state.counters["serial_blocks_per_tick"] =
      static_cast<double>(devices.Blocks()) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_PollTickIdle);

void BM_PollTickBusy(benchmark::State& state) {
  TenDevices devices;
  devices.MakeBusy();
  devices.ClearTraces();
  for (auto _ : state) TenDevices::Tick();
  state.counters["serial_blocks_per_tick"] =
      static_cast<double>(devices.Blocks()) / static_cast<double>(state.iterations());
  state.counters["open_devices"] = devices.OpenDevices();
}
BENCHMARK(BM_PollTickBusy)->Unit(benchmark::kMicrosecond);

}  // namespace

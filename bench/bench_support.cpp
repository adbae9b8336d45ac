#include "bench/bench_support.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "driver/driver.h"
#include "platform/mci_host.h"
#include "record/device.h"
#include "record/parms.h"

namespace vtr::bench {

using platform::Micros;

namespace {
double Seconds(clockid_t clock) {
  timespec ts{};
  clock_gettime(clock, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}
UINT DeviceId(int i) { return static_cast<UINT>(i + 1); }
}  // namespace

double ThreadCpuSeconds() { return Seconds(CLOCK_THREAD_CPUTIME_ID); }
double ProcessCpuSeconds() { return Seconds(CLOCK_PROCESS_CPUTIME_ID); }

double Quantile(std::vector<double> samples, double q) {
  if (samples.empty()) return 0;
  std::sort(samples.begin(), samples.end());
  const auto at = static_cast<std::size_t>(q * static_cast<double>(samples.size() - 1) + 0.5);
  return samples[std::min(at, samples.size() - 1)];
}

Profile::Profile(int devices, int firstPort) {
  char templ[] = "/tmp/vtr422-bench-XXXXXX";
  if (mkdtemp(templ) == nullptr) std::abort();
  dir_ = templ;
  setenv("VTR422_PROFILE_DIR", dir_.c_str(), 1);
  std::ofstream ini(dir_ + "/VTR.INI");
  for (int i = 0; i < devices; ++i) {
    ini << "[videotape" << i + 1 << "]\nVTRID=19\nComPort=" << firstPort + i << "\n";
  }
}

Profile::~Profile() {
  std::error_code ec;
  std::filesystem::remove_all(dir_, ec);
}

void DriverOpen(int i) {
  const std::u16string params = u"videotape" + platform::Widen(std::to_string(i + 1));
  MCI_OPEN_DRIVER_PARMS op{DeviceId(i), params.c_str(), 0, 0};
  DriverProc(0, reinterpret_cast<HDRVR>(static_cast<UINT_PTR>(100 + i)), DRV_OPEN, 0,
             reinterpret_cast<LPARAM>(&op));
}

DWORD OpenDevice(int i) {
  if (GetDevState(DeviceId(i)) == nullptr) DriverOpen(i);
  VTR_GENERIC_PARMS g{0};
  return static_cast<DWORD>(
      DriverProc(DeviceId(i), nullptr, MCI_OPEN_DRIVER, 0, reinterpret_cast<LPARAM>(&g)));
}

void CloseDevice(int i) {
  VTR_GENERIC_PARMS g{0};
  DriverProc(DeviceId(i), nullptr, MCI_CLOSE_DRIVER, 0, reinterpret_cast<LPARAM>(&g));
  DriverProc(0, reinterpret_cast<HDRVR>(static_cast<UINT_PTR>(100 + i)), DRV_CLOSE, 0, 0);
}

DWORD StartTo(int i, UINT message, DWORD to) {
  VTR_PLAY_PARMS p{0, 0, to, 0};
  return static_cast<DWORD>(
      DriverProc(DeviceId(i), nullptr, message, MCI_TO, reinterpret_cast<LPARAM>(&p)));
}

PtyDeck::PtyDeck(Micros latency, bool uart) {
  if (!pty_.ok()) return;
  if (uart) uart_ = std::make_unique<test::UartModel>(pty_.slave());
  slave_ = open(pty_.slave().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  auto cfg = sim::DeckConfig::For("BVW-75");
  cfg.latency = latency;
  cfg.line_pacing = true;
  deck_ = std::make_shared<sim::Deck>(cfg);
  thread_ = std::thread([this] { Serve(); });
  haveClock_ = pthread_getcpuclockid(thread_.native_handle(), &clock_) == 0;
}

PtyDeck::~PtyDeck() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (slave_ >= 0) close(slave_);
}

// Without the clock the deck's work counts as the driver's: figures err high.
double PtyDeck::CpuSeconds() const { return haveClock_ ? Seconds(clock_) : 0; }

std::size_t PtyDeck::BlocksReceived() const {
  const auto trace = deck_->Trace();
  return static_cast<std::size_t>(std::count_if(trace.begin(), trace.end(), [](const auto& e) {
    return e.direction == sim::Direction::kToDeck;
  }));
}

void PtyDeck::Serve() {
  std::uint8_t buf[256];
  while (!stop_) {
    // Wake for the driver's bytes, or when the deck's next byte is due.
    Micros wait{20000};
    if (const auto next = deck_->NextArrival()) {
      wait = std::clamp(*next - platform::Now(), Micros{0}, wait);
    }
    const timespec ts{0, static_cast<long>(wait.count()) * 1000};
    pollfd pfd{pty_.master(), POLLIN, 0};
    const int rc = ppoll(&pfd, 1, &ts, nullptr);
    if (rc < 0 && errno != EINTR) return;
    if (rc > 0 && (pfd.revents & POLLIN) != 0) {
      // On a UART the byte is on the wire for a byte time before it is here.
      if (uart_) std::this_thread::sleep_for(test::kUartByteTime);
      const auto n = read(pty_.master(), buf, uart_ ? 1 : sizeof buf);
      if (n > 0) deck_->Receive(std::span<const std::uint8_t>(buf, static_cast<std::size_t>(n)));
      if (n > 0 && uart_) uart_->Taken(static_cast<std::size_t>(n));
    }
    const std::size_t n = deck_->Transmit(buf);
    // Stamped before the write: the driver may have the byte at once.
    if (n > 0 && !deck_->NextArrival()) lastByte_ = platform::Now().count();
    for (std::size_t done = 0; done < n;) {
      const auto put = write(pty_.master(), buf + done, n - done);
      if (put <= 0) return;
      done += static_cast<std::size_t>(put);
    }
  }
}

}  // namespace vtr::bench

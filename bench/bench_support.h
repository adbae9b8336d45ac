// Shared pieces of the benchmarks: processor clocks, a profile of numbered
// devices, opening them the way the multimedia library does, and a virtual
// deck answering on a pseudo-terminal in real time.
#pragma once

#include <time.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/win32.h"
#include "sim/deck.h"
#include "tests/platform/pty_pair.h"
#include "tests/platform/uart_pty.h"

namespace vtr::bench {

// One byte at 38400 baud with start, parity and stop bits: 11 bits.
inline constexpr double kByteUs = 11.0 / 38400 * 1e6;

// Processor time in seconds: this thread's, and the whole process's.
double ThreadCpuSeconds();
double ProcessCpuSeconds();

// Value at fraction q (0..1) of the sorted samples; 0 when there are none.
double Quantile(std::vector<double> samples, double q);

// A temporary profile directory whose "VTR.INI" has sections "videotape1"
// .. "videotapeN" for model row 19 on COM(firstPort) .. COM(firstPort+N-1).
class Profile {
 public:
  Profile(int devices, int firstPort);
  ~Profile();
  Profile(const Profile&) = delete;
  Profile& operator=(const Profile&) = delete;

 private:
  std::string dir_;
};

// Device i (0-based) of a Profile: DRV_OPEN with device ID i + 1. The
// multimedia library sends these one at a time.
void DriverOpen(int i);
// DRV_OPEN when not done yet, then MCI_OPEN_DRIVER; the open's result (0 = success).
DWORD OpenDevice(int i);
void CloseDevice(int i);
// MCI_PLAY or MCI_RECORD with a "to" position, no wait.
DWORD StartTo(int i, UINT message, DWORD to);

// The virtual deck behind a pseudo-terminal, served by its own thread in
// real time: the far end of a line to a real deck, bytes paced as on the wire.
// With `uart`, the driver's bytes too: the deck takes each a byte time after
// it was written, and until then the port's output queue counts it, as a
// serial port's UART does (a pseudo-terminal alone sends at once).
class PtyDeck {
 public:
  explicit PtyDeck(platform::Micros latency, bool uart = false);
  ~PtyDeck();
  PtyDeck(const PtyDeck&) = delete;
  PtyDeck& operator=(const PtyDeck&) = delete;

  bool ok() const { return pty_.ok(); }
  const std::string& Slave() const { return pty_.slave(); }
  // When the last byte of the latest reply went into the line.
  platform::Micros LastByteAt() const { return platform::Micros{lastByte_.load()}; }
  // Processor time the serving thread has used so far.
  double CpuSeconds() const;
  // Blocks the deck has received so far.
  std::size_t BlocksReceived() const;

 private:
  void Serve();

  test::PtyPair pty_;
  std::unique_ptr<test::UartModel> uart_;
  int slave_ = -1;  // held open so the master never sees a hang-up between opens
  std::shared_ptr<sim::Deck> deck_;
  std::atomic<bool> stop_{false};
  std::atomic<std::int64_t> lastByte_{0};
  std::thread thread_;
  clockid_t clock_{};  // the serving thread's processor clock
  bool haveClock_ = false;
};

}  // namespace vtr::bench

// Pseudo-terminals that behave towards the port code like serial ports with
// a UART: the far end takes the bytes at the line's rate (11 bits at 38400
// baud, 286.5 us a byte), and TIOCOUTQ on the slave counts the bytes written
// and not yet taken, as a serial driver counts what its UART has not sent. A
// pseudo-terminal alone reports its output queue empty at once, so nothing
// that waits for output to leave would wait on it.
//
// The counting is done by write() and ioctl() of uart_pty.cpp, which stand in
// for the C library's in the program it is linked into and pass everything
// else on.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/platform/pty_pair.h"

namespace vtr::test {

// One byte's time on the line.
inline constexpr auto kUartByteTime = std::chrono::nanoseconds(286458);

// The output queue of the pseudo-terminal slave `slave`, while it lives: the
// bytes written to it less those its far end reports Taken.
class UartModel {
 public:
  explicit UartModel(const std::string& slave);
  ~UartModel();
  UartModel(const UartModel&) = delete;
  UartModel& operator=(const UartModel&) = delete;
  void Taken(std::size_t n);

 private:
  dev_t rdev_ = 0;
  std::shared_ptr<struct UartCounts> counts_;
};

// A pseudo-terminal whose far end is such a line, taking the bytes one at a
// time, a byte time after each is written; unpaced, a plain one whose far end
// is read through master().
class UartPty {
 public:
  explicit UartPty(bool paced = true);
  ~UartPty() { HangUp(); }

  bool ok() const { return pty_.ok(); }
  const std::string& slave() const { return pty_.slave(); }
  // The far end's descriptor, for bytes towards the port.
  int master() const { return pty_.master(); }
  // What the line has taken so far, removed from it.
  std::vector<std::uint8_t> Take();
  std::size_t TakenCount() const;
  // The far end goes away: the slave sees a hang-up.
  void HangUp();

 private:
  void Line();

  PtyPair pty_;
  std::unique_ptr<UartModel> model_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::uint8_t> taken_;
  std::size_t count_ = 0;
  std::thread thread_;
};

}  // namespace vtr::test

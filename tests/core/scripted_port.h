// A serial line whose far end answers each complete block with the next
// scripted reply, for link tests that need exact bytes on the wire.
#pragma once

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <vector>

#include "driver/driver.h"
#include "link/serial.h"
#include "platform/clock.h"
#include "platform/mci_host.h"
#include "platform/serial_ports.h"
#include "record/device.h"

namespace vtr::test {

using Bytes = std::vector<std::uint8_t>;

// Appends the 9-pin checksum.
inline Bytes WithSum(Bytes b) {
  std::uint8_t s = 0;
  for (auto x : b) s = static_cast<std::uint8_t>(s + x);
  b.push_back(s);
  return b;
}

class ScriptedLine : public vtr::platform::SerialEndpoint {
 public:
  void Receive(std::span<const std::uint8_t> bytes) override {
    std::lock_guard lock(mu_);
    for (auto b : bytes) {
      received_.push_back(b);
      block_.push_back(b);
      if (block_.size() == 3u + (block_[0] & 0x0Fu)) {
        block_.clear();
        if (!replies_.empty()) {
          pending_.insert(pending_.end(), replies_.front().begin(), replies_.front().end());
          replies_.pop_front();
        }
      }
    }
  }
  std::size_t Transmit(std::span<std::uint8_t> out) override {
    std::lock_guard lock(mu_);
    ++reads_;
    const std::size_t n = std::min(out.size(), pending_.size());
    std::copy_n(pending_.begin(), n, out.begin());
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
  }
  std::optional<vtr::platform::Micros> NextArrival() const override {
    std::lock_guard lock(mu_);
    if (pending_.empty()) return std::nullopt;
    return vtr::platform::Now();
  }
  void DiscardArrived() override {
    std::lock_guard lock(mu_);
    pending_.clear();
  }
  // The line breaks once `writeLimit_` bytes have gone out.
  bool Connected() const override {
    std::lock_guard lock(mu_);
    return received_.size() < writeLimit_;
  }

  // Replies to the next blocks, in order; an empty reply is silence.
  void Script(std::vector<Bytes> replies) {
    std::lock_guard lock(mu_);
    replies_.assign(replies.begin(), replies.end());
  }
  void BreakAfter(std::size_t bytes) {
    std::lock_guard lock(mu_);
    writeLimit_ = bytes;
  }
  void Reset() {
    std::lock_guard lock(mu_);
    received_.clear();
    block_.clear();
    pending_.clear();
    replies_.clear();
    reads_ = 0;
    writeLimit_ = SIZE_MAX;
  }
  Bytes Received() const {
    std::lock_guard lock(mu_);
    return received_;
  }
  std::uint64_t Reads() const {
    std::lock_guard lock(mu_);
    return reads_;
  }

 private:
  mutable std::mutex mu_;
  Bytes received_, block_;
  std::deque<std::uint8_t> pending_;
  std::deque<Bytes> replies_;
  std::uint64_t reads_ = 0;
  std::size_t writeLimit_ = SIZE_MAX;
};

// A device record on an open scripted line, in virtual time, with the
// driver module attached (its locks and module-wide state as loaded).
class ScriptedPort {
 public:
  static constexpr int kPort = 9;
  ScriptedPort() : line(std::make_shared<ScriptedLine>()), rec{} {
    vtr::platform::UseVirtualClock();
    DllInstanceInit(vtr::platform::DriverModule(), 1, nullptr);
    vtr::platform::BindVirtualPort(kPort, line);
    InitDevStruct(&rec);
    rec.hComm = OpenComm("COM9", 1024, 1024);
    COMMTIMEOUTS t{MAXDWORD, 0, 0, MAXDWORD, MAXDWORD};
    SetCommTimeouts(rec.hComm, &t);
  }
  ~ScriptedPort() {
    CloseComm(rec.hComm);
    vtr::platform::UnbindPort(kPort);
    DllInstanceInit(vtr::platform::DriverModule(), 0, nullptr);
    vtr::platform::UseRealClock();
  }
  ScriptedPort(const ScriptedPort&) = delete;
  ScriptedPort& operator=(const ScriptedPort&) = delete;

  std::shared_ptr<ScriptedLine> line;
  DeviceRecord rec;
};

}  // namespace vtr::test

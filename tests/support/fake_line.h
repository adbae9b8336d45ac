// The far end of a serial line in this process, for tests and benches: it
// keeps what the driver sends, hands the driver bytes at given clock times and
// may answer each whole 9-pin block with the next scripted reply. And a device
// record on an open port to any far end (this one, or the virtual deck).
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "driver/driver.h"
#include "link/serial.h"
#include "platform/clock.h"
#include "platform/mci_host.h"
#include "platform/serial_ports.h"
#include "record/device.h"

namespace vtr::test {

using Bytes = std::vector<std::uint8_t>;

// `b` with its 9-pin checksum appended.
inline Bytes WithSum(Bytes b) {
  std::uint8_t sum = 0;
  for (const std::uint8_t x : b) sum = static_cast<std::uint8_t>(sum + x);
  b.push_back(sum);
  return b;
}

class FakeLine : public vtr::platform::SerialEndpoint {
 public:
  void Receive(std::span<const std::uint8_t> bytes) override {
    for (const std::uint8_t b : bytes) {
      received.push_back(b);
      block_.push_back(b);
      if (block_.size() < 3u + (block_[0] & 0x0Fu)) continue;  // CMD-1, CMD-2, data, checksum
      block_.clear();
      if (replies.empty()) continue;
      for (const std::uint8_t r : replies.front()) queue.emplace_back(vtr::platform::Now(), r);
      replies.pop_front();
    }
  }
  std::size_t Transmit(std::span<std::uint8_t> out) override {
    ++reads;
    std::size_t n = 0;
    for (; n < out.size() && !queue.empty() && queue.front().first <= vtr::platform::Now();
         queue.pop_front()) {
      out[n++] = queue.front().second;
    }
    return n;
  }
  std::optional<vtr::platform::Micros> NextArrival() const override {
    return queue.empty() ? std::nullopt : std::optional(queue.front().first);
  }
  void DiscardArrived() override {
    while (!queue.empty() && queue.front().first <= vtr::platform::Now()) queue.pop_front();
  }
  bool Connected() const override { return connected && received.size() < breakAfter; }

  // Answers to the next whole blocks, in order, each there at once; empty: silence.
  void Script(std::vector<Bytes> answers) {
    received.clear();
    queue.clear();
    block_.clear();
    replies.assign(answers.begin(), answers.end());
    reads = 0;
  }

  Bytes received;                                                    // what the driver sent
  std::deque<std::pair<vtr::platform::Micros, std::uint8_t>> queue;  // bytes on their way
  std::deque<Bytes> replies;
  bool connected = true;
  std::size_t breakAfter = SIZE_MAX;  // the line breaks once this many bytes went out
  std::uint64_t reads = 0;            // read attempts, empty ones included

 private:
  Bytes block_;
};

// A device record on an open port whose far end is `far`, in virtual time,
// with the driver module attached (its locks and module-wide state as loaded).
class LinkedRecord {
 public:
  explicit LinkedRecord(std::shared_ptr<vtr::platform::SerialEndpoint> far, int com = 9)
      : rec{}, com_(com) {
    vtr::platform::UseVirtualClock();
    DllInstanceInit(vtr::platform::DriverModule(), 1, nullptr);
    vtr::platform::BindVirtualPort(com, std::move(far));
    InitDevStruct(&rec);
    rec.hComm = OpenComm(("COM" + std::to_string(com)).c_str(), 1024, 1024);
    COMMTIMEOUTS t{MAXDWORD, 0, 0, MAXDWORD, MAXDWORD};
    SetCommTimeouts(rec.hComm, &t);
  }
  ~LinkedRecord() {
    CloseComm(rec.hComm);
    vtr::platform::UnbindPort(com_);
    DllInstanceInit(vtr::platform::DriverModule(), 0, nullptr);
    vtr::platform::UseRealClock();
  }
  LinkedRecord(const LinkedRecord&) = delete;
  LinkedRecord& operator=(const LinkedRecord&) = delete;

  DeviceRecord rec;

 private:
  int com_;
};

}  // namespace vtr::test

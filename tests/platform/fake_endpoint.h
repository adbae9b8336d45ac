// An in-process far end for the serial tests.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_ports.h"

namespace vtr::test {

// A far end whose bytes arrive at given clock times.
class FakeEndpoint : public vtr::platform::SerialEndpoint {
 public:
  void Receive(std::span<const std::uint8_t> bytes) override {
    received.insert(received.end(), bytes.begin(), bytes.end());
  }
  std::size_t Transmit(std::span<std::uint8_t> out) override {
    std::size_t n = 0;
    while (n < out.size() && !queue.empty() && queue.front().first <= vtr::platform::Now()) {
      out[n++] = queue.front().second;
      queue.pop_front();
    }
    return n;
  }
  std::optional<vtr::platform::Micros> NextArrival() const override {
    if (queue.empty()) return std::nullopt;
    return queue.front().first;
  }
  void DiscardArrived() override {
    ++discards;
    while (!queue.empty() && queue.front().first <= vtr::platform::Now()) queue.pop_front();
  }
  bool Connected() const override { return connected; }

  void Send(vtr::platform::Micros at, std::vector<std::uint8_t> bytes) {
    for (auto b : bytes) queue.emplace_back(at, b);
  }

  std::vector<std::uint8_t> received;
  std::deque<std::pair<vtr::platform::Micros, std::uint8_t>> queue;
  bool connected = true;
  int discards = 0;
};

}  // namespace vtr::test

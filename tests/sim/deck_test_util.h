// Helpers for driving a virtual deck on the virtual clock.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/clock.h"
#include "sim/deck.h"

namespace vtr::sim::testing {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;
using std::chrono::seconds;

inline Bytes WithSum(Bytes b) {
  unsigned s = 0;
  for (auto v : b) s += v;
  b.push_back(static_cast<std::uint8_t>(s & 0xFF));
  return b;
}

class DeckTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::UseVirtualClock(Micros{5'000'000}); }
  void TearDown() override { platform::UseRealClock(); }

  void Make(DeckConfig c = {}) { deck_ = std::make_shared<Deck>(std::move(c)); }
  Deck& deck() {
    if (!deck_) Make();
    return *deck_;
  }

  // Everything that has arrived from the deck by now.
  Bytes Drain() {
    Bytes got;
    std::uint8_t buf[64];
    for (std::size_t n; (n = deck().Transmit(buf)) > 0;) got.insert(got.end(), buf, buf + n);
    return got;
  }
  // Sends `block` as is, lets `wait` pass and returns what came back.
  Bytes SendRaw(const Bytes& block, Micros wait = milliseconds(20)) {
    deck().Receive(block);
    platform::Pass(wait);
    return Drain();
  }
  // Sends a block with its checksum appended.
  Bytes Send(const Bytes& block, Micros wait = milliseconds(20)) {
    return SendRaw(WithSum(block), wait);
  }
  std::vector<std::uint8_t> Status() {
    const Bytes r = Send({0x61, 0x20, 0x0A});
    EXPECT_EQ(r.size(), 13u);
    if (r.size() != 13u) return Bytes(10, 0xEE);
    return Bytes(r.begin() + 2, r.end() - 1);
  }
  bool StatusBit(int byte, int bit) {
    return (Status()[static_cast<std::size_t>(byte)] >> bit) & 1;
  }
  // A config: `edit` applied to `c`.
  template <typename F>
  static DeckConfig With(DeckConfig c, F&& edit) {
    edit(c);
    return c;
  }
  void Wait(Micros d) { platform::Pass(d); }

  std::shared_ptr<Deck> deck_;
};

const Bytes kAck{0x10, 0x01, 0x11};
inline Bytes NakOf(std::uint8_t bits) { return WithSum({0x11, 0x12, bits}); }
inline Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

}  // namespace vtr::sim::testing

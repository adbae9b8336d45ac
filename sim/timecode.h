// Timecode arithmetic of the deck: frame counts and the 9-pin BCD layout.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "sim/deck.h"

namespace vtr::sim {

struct FrameRate {
  int fps;          // frames per timecode second: 25 or 30
  bool drop;        // NTSC drop-frame labels
  double real_fps;  // frames per second of real time
  std::uint32_t per_day;
};

inline FrameRate RateOf(VideoStandard s) {
  switch (s) {
    case VideoStandard::kPal:
      return {25, false, 25.0, 24u * 90000u};
    case VideoStandard::kNtscDropFrame:
      return {30, true, 30000.0 / 1001.0, 24u * 107892u};
    case VideoStandard::kNtsc:
      break;
  }
  return {30, false, 30000.0 / 1001.0, 24u * 108000u};
}

inline std::uint8_t ToBcd(unsigned v) { return static_cast<std::uint8_t>((v / 10) * 16 + v % 10); }

// Frames, seconds, minutes, hours; the frames byte carries the drop-frame
// flag (bit 6) when the rate counts drop-frame and `flag_drop` is set.
std::array<std::uint8_t, 4> CountToBcd(std::uint32_t count, const FrameRate& r,
                                       bool flag_drop = true);
std::uint32_t BcdToCount(std::span<const std::uint8_t, 4> bcd, const FrameRate& r);

}  // namespace vtr::sim

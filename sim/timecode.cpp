#include "sim/timecode.h"

namespace vtr::sim {

std::array<std::uint8_t, 4> CountToBcd(std::uint32_t count, const FrameRate& r, bool flag_drop) {
  count %= r.per_day;
  unsigned h = 0, m = 0, s = 0, f = 0;
  if (r.drop) {
    h = count / 107892u;
    const unsigned rest = count % 107892u;
    const unsigned tens = rest / 17982u;
    unsigned r10 = rest % 17982u;
    // The first minute of every ten keeps labels ;00 and ;01, the others skip them.
    if (r10 < 1800u) {
      m = tens * 10;
    } else {
      r10 -= 1800u;
      m = tens * 10 + 1 + r10 / 1798u;
      r10 = r10 % 1798u + 2u;
    }
    s = r10 / 30u;
    f = r10 % 30u;
  } else {
    const unsigned fps = static_cast<unsigned>(r.fps);
    f = count % fps;
    s = (count / fps) % 60u;
    m = (count / (fps * 60u)) % 60u;
    h = count / (fps * 3600u);
  }
  std::uint8_t fb = ToBcd(f);
  if (r.drop && flag_drop) fb = static_cast<std::uint8_t>(fb | 0x40);
  return {fb, ToBcd(s), ToBcd(m), ToBcd(h)};
}

std::uint32_t BcdToCount(std::span<const std::uint8_t, 4> b, const FrameRate& r) {
  const unsigned f = (b[0] & 0x0Fu) + 10u * ((b[0] >> 4) & 3u);
  const unsigned s = (b[1] & 0x0Fu) + 10u * ((b[1] >> 4) & 7u);
  const unsigned m = (b[2] & 0x0Fu) + 10u * ((b[2] >> 4) & 7u);
  const unsigned h = (b[3] & 0x0Fu) + 10u * ((b[3] >> 4) & 3u);
  if (r.drop) {
    unsigned within = s * 30u + f;
    if (m % 10u != 0) within = within >= 2u ? within - 2u : 0u;  // no ;00 or ;01 here
    return (h * 6u + m / 10u) * 17982u + (m % 10u == 0 ? 0u : 1800u + (m % 10u - 1u) * 1798u) +
           within;
  }
  const unsigned fps = static_cast<unsigned>(r.fps);
  return ((h * 60u + m) * 60u + s) * fps + f;
}

}  // namespace vtr::sim

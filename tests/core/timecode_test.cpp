// Frame counts, BCD timecode and the MCI time formats, at their edges.
#include "link/timecode.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace {

using Tc = std::array<BYTE, 4>;  // frames, seconds, minutes, hours

constexpr DWORD kDay30 = 108000 * 24, kDayDrop = 107892 * 24;

DeviceRecord Rec(DWORD pal, DWORD timeFormat = MCI_FORMAT_FRAMES) {
  DeviceRecord r{};
  InitDevStruct(&r);
  r.Pal = pal;
  r.dwTimeFormat = timeFormat;
  return r;
}

Tc Written(DWORD frames, WORD format, DWORD pal = 0, DWORD timeFormat = 3, DWORD convert = 0) {
  DeviceRecord rec = Rec(pal, timeFormat);
  Tc tc{0xEE, 0xEE, 0xEE, 0xEE};
  frame422tc(&rec, frames, tc.data(), format, convert);
  return tc;
}

TEST(Timecode, Frame422tcWritesBcdAtEveryRate) {
  struct Row {
    WORD format;
    DWORD frames;
    Tc tc;
  } rows[] = {
      {7, 1799, {0x29, 0x59, 0x00, 0x00}},   // last frame of minute 0
      {7, 1800, {0x02, 0x00, 0x01, 0x00}},   // ;00 and ;01 skipped, no flag bit
      {7, 17982, {0x00, 0x00, 0x10, 0x00}},  // tenth minute keeps ;00
      {6, 108000, {0x00, 0x00, 0x00, 0x01}},
      {6, kDay30 - 1, {0x29, 0x59, 0x59, 0x23}},
      {6, 108000 * 123 + 1, {0x01, 0x00, 0x00, 0x23}},    // 123 h keeps its two low digits
      {3, 108000 + 1800 + 31, {0x01, 0x01, 0x01, 0x01}},  // any other format counts at 30
      {0, 59, {0x29, 0x01, 0x00, 0x00}},
      {5, 90000, {0x00, 0x00, 0x00, 0x01}},
      {5, 90000 + 1500 + 26, {0x01, 0x01, 0x01, 0x01}},
      {4, 86399, {0x23, 0x59, 0x59, 0x00}},
      {4, 86400 + 1440 + 25, {0x01, 0x01, 0x01, 0x01}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(Written(row.frames, row.format), row.tc) << row.format << " " << row.frames;
  }
  // A position in the device's time format is converted first.
  EXPECT_EQ(Written(0x02000100, 7, 0, MCI_FORMAT_SMPTE_30DROP, 1), (Tc{0x02, 0x00, 0x01, 0x00}));
  EXPECT_EQ(Written(1001, 6, 0, MCI_FORMAT_MILLISECONDS, 1), (Tc{0x29, 0x00, 0x00, 0x00}));
  EXPECT_EQ(Written(1000, 5, 1, MCI_FORMAT_MILLISECONDS, 1), (Tc{0x00, 0x01, 0x00, 0x00}));
}

TEST(Timecode, ConvertPositionPacksEveryFormat) {
  constexpr DWORD kUntouched = 0xDEADBEEF;
  struct Row {
    DWORD pal, format, frames, value, type;
  } rows[] = {
      {0, 0, 30, 1001, 0},
      {0, 0, 1287074, 42949659, 0},       // the last count whose product fits 32 bits
      {0, 0, 1287075, 42949692, 0},       // beyond: 64-bit product, no wrap
      {0, 0, 0xFFFFFFFF, 0xFFFFFFFF, 0},  // saturates
      {1, 0, 25, 1000, 0},
      {1, 0, 1073741, 42949640, 0},
      {1, 0, 1073742, 42949680, 0},
      {0, 1, 486000 + 157, 0x051E04, 0x20000},  // 4:30:05
      {0, 1, 107892, 0x383B00, 0x20000},        // HMS counts non-drop
      {0, 1, 108000 * 300, 0x00002C, 0x20000},  // hours byte wraps at 256
      {0, 2, 486000 + 157, 0x07050E, 0x20000},  // 270 minutes carry 14
      {1, 2, 405000 + 132, 0x07050E, 0x20000},
      {0, 3, 12345, 12345, 0},
      {0, 9, 12345, 12345, 0},
      {0, 4, 86400 + 1440 + 25, 0x01010101, 0x40000},
      {0, 5, 90000 + 1500 + 26, 0x01010101, 0x40000},
      {1, 6, 108000 + 1800 + 31, 0x01010101, 0x40000},
      {0, 7, 1800, 0x02000100, 0x40000},
      {0, 10, 486000 + 157, 0x07050E01, 0x40000},
      {1, 10, 405000 + 132, 0x07050E01, 0x40000},
      {0, 8, 100, kUntouched, 293},
      {1, 0xFFFF, 100, kUntouched, 293},
  };
  for (const auto& row : rows) {
    DeviceRecord rec = Rec(row.pal);
    DWORD value = kUntouched;
    EXPECT_EQ(convertPosition(&rec, row.format, row.frames, &value), row.type)
        << row.format << " " << row.frames;
    EXPECT_EQ(value, row.value) << row.format << " " << row.frames;
  }
}

TEST(Timecode, PositionConvertReadsEveryFormat) {
  struct Row {
    DWORD pal, format, value, frames;
  } rows[] = {
      {0, 0, 1001, 29},           // truncated
      {0, 0, 42949672, 1287074},  // the last value whose product fits 32 bits
      {0, 0, 42949673, 1287074},
      {0, 0, 0xFFFFFFFF, 128707440},
      {1, 0, 1000, 25},
      {1, 0, 42949672, 1073741},
      {0, 1, 0x001E04, 486000},
      {1, 1, 0x001E04, 405000},
      {0, 2, 0x07050E, 25357},
      {1, 2, 0x07050E, 21132},
      {0, 3, 0xFFFFFFFF, 0xFFFFFFFF},
      {0, 4, 0x01010101, 87865},
      {0, 5, 0x01010101, 91526},
      {1, 6, 0x01010101, 109831},
      {0, 6, 0x00004B00, 135000},  // 75 minutes are not rejected
      {0, 7, 0x1D3B3B17, kDayDrop - 1},
      {0, 10, 0x07050E05, 25357},  // track ignored
      {1, 10, 0x07050E01, 21132},
      {0, 8, 5, 293},
  };
  for (const auto& row : rows) {
    DeviceRecord rec = Rec(row.pal, row.format);
    EXPECT_EQ(positionConvert(&rec, row.value), row.frames) << row.format << " " << row.value;
  }
}

// Every frame of a day of drop-frame timecode: decomposed, written, read back
// and converted both ways, the count survives, and the labels are legal.
TEST(Timecode, DropFrameDayRoundTripsExhaustively) {
  DeviceRecord rec = Rec(0, MCI_FORMAT_SMPTE_30DROP);
  for (DWORD f = 0; f < kDayDrop; ++f) {
    const Hmsf t = dropFrameDecompose(f);
    Tc tc{};
    frame422tc(&rec, f, tc.data(), 7, 0);
    const BYTE flagged[4] = {static_cast<BYTE>(tc[0] | 0x40), tc[1], tc[2], tc[3]};
    WORD format = 0;
    DWORD packed = 0;
    convertPosition(&rec, 7, f, &packed);
    const bool skipped = t.seconds == 0 && t.frames < 2 && t.minutes % 10 != 0;
    if (readTimecode(flagged, 0, &format) != f || format != 7 ||
        positionConvert(&rec, packed) != f || (tc[0] & 0xC0) != 0 || skipped || t.frames > 29 ||
        t.seconds > 59 || t.minutes > 59) {
      FAIL() << "frame " << f << " -> " << t.hours << ":" << t.minutes << ":" << t.seconds << ";"
             << t.frames;
    }
  }
}

}  // namespace

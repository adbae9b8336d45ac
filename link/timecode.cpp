// Timecode and position conversion. Frames are the one internal unit.
#include "link/timecode.h"

#include <cstdint>

namespace {

BYTE toBcd(DWORD v) {
  // Two decimal digits; hours of 100 or more keep their two low digits.
  v %= 100;
  return static_cast<BYTE>((v / 10) * 16 + v % 10);
}

DWORD packBytes(DWORD b0, DWORD b1, DWORD b2, DWORD b3) {
  return (b0 & 0xFF) | (b1 & 0xFF) << 8 | (b2 & 0xFF) << 16 | (b3 & 0xFF) << 24;
}

DWORD byteOf(DWORD v, int i) { return (v >> (8 * i)) & 0xFF; }

// Milliseconds per 100 frames.
DWORD msPer100Frames(const DeviceRecord* rec) { return rec->Pal != 0 ? 4000 : 3337; }

DWORD saturate(std::uint64_t v) { return v > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<DWORD>(v); }

}  // namespace

DWORD readTimecode(const BYTE tc[4], DWORD pal, WORD* pwTCFormat) {
  const DWORD f = tc[0], s = tc[1], m = tc[2], h = tc[3];
  const DWORD frames = (f & 0x0F) + 10 * ((f >> 4) & 3);
  const DWORD seconds = (s & 0x0F) + 10 * ((s >> 4) & 7);
  const DWORD minutes = (m & 0x0F) + 10 * ((m >> 4) & 7);
  const DWORD hours = (h & 0x0F) + 10 * ((h >> 4) & 3);
  if (pal != 0) {
    *pwTCFormat = MCI_FORMAT_SMPTE_25;
    return ((hours * 60 + minutes) * 60 + seconds) * 25 + frames;
  }
  if ((f & 0x40) == 0) {
    *pwTCFormat = MCI_FORMAT_SMPTE_30;
    return ((hours * 60 + minutes) * 60 + seconds) * 30 + frames;
  }
  *pwTCFormat = MCI_FORMAT_SMPTE_30DROP;
  return (hours * 6 + minutes / 10) * kFramesPer10MinDrop + (minutes % 10) * kFramesPerMinuteDrop +
         seconds * 30 + frames;
}

Hmsf dropFrameDecompose(DWORD frames) {
  Hmsf t{};
  t.hours = frames / kFramesPerHourDrop;
  const DWORD r = frames % kFramesPerHourDrop;
  const DWORD tens = r / kFramesPer10MinDrop;
  const DWORD r10 = r % kFramesPer10MinDrop;
  const DWORD k = r10 / kFramesPerMinuteDrop;
  DWORD rest = r10;
  if (k == 0) {
    t.minutes = tens * 10;
  } else {
    rest = r10 % kFramesPerMinuteDrop;
    if (rest < 2) {
      // The last two frames of a ten-minute block's k-th 1798 belong to the
      // previous minute, whose labels run to ;29.
      t.minutes = tens * 10 + k - 1;
      rest += kFramesPerMinuteDrop;
    } else {
      t.minutes = tens * 10 + k;
    }
  }
  t.seconds = rest / 30;
  t.frames = rest % 30;
  return t;
}

Hmsf splitFrames(DWORD frames, DWORD rate) {
  const DWORD perHour = rate * 3600, perMinute = rate * 60;
  return Hmsf{frames / perHour, (frames % perHour) / perMinute, (frames % perMinute) / rate,
              frames % rate};
}

void frame422tc(const DeviceRecord* rec, DWORD dwPosition, BYTE* lpTC, WORD wFormat,
                DWORD fConvert) {
  const DWORD F = fConvert != 0 ? positionConvert(rec, dwPosition) : dwPosition;
  Hmsf t{};
  switch (wFormat) {
    case MCI_FORMAT_SMPTE_24:
      t = splitFrames(F, 24);
      break;
    case MCI_FORMAT_SMPTE_25:
      t = splitFrames(F, 25);
      break;
    case MCI_FORMAT_SMPTE_30DROP:
      t = dropFrameDecompose(F);
      break;
    default:
      t = splitFrames(F, 30);
      break;
  }
  // Written timecode carries no flag bits, drop-frame included.
  lpTC[0] = toBcd(t.frames);
  lpTC[1] = toBcd(t.seconds);
  lpTC[2] = toBcd(t.minutes);
  lpTC[3] = toBcd(t.hours);
}

DWORD convertPosition(const DeviceRecord* rec, DWORD dwFormat, DWORD dwFrames, DWORD* lpResult) {
  const DWORD R = rec->Pal != 0 ? 25 : 30;
  const Hmsf base = splitFrames(dwFrames, R);
  const DWORD H = base.hours & 0xFF;
  switch (dwFormat) {
    case MCI_FORMAT_MILLISECONDS:
      *lpResult = saturate(static_cast<std::uint64_t>(dwFrames) * msPer100Frames(rec) / 100);
      return 0;
    case MCI_FORMAT_HMS:
      *lpResult = packBytes(H, base.minutes, base.seconds, 0);
      return MCI_COLONIZED3_RETURN;
    case MCI_FORMAT_MSF:
      *lpResult = packBytes((base.hours * 60 + base.minutes) % 256, base.seconds, base.frames, 0);
      return MCI_COLONIZED3_RETURN;
    case MCI_FORMAT_FRAMES:
    case MCI_FORMAT_SAMPLES:
      *lpResult = dwFrames;
      return 0;
    case MCI_FORMAT_SMPTE_24:
    case MCI_FORMAT_SMPTE_25:
    case MCI_FORMAT_SMPTE_30: {
      const DWORD rate = dwFormat == MCI_FORMAT_SMPTE_24   ? 24
                         : dwFormat == MCI_FORMAT_SMPTE_25 ? 25
                                                           : 30;
      const Hmsf t = splitFrames(dwFrames, rate);
      *lpResult = packBytes(t.hours, t.minutes, t.seconds, t.frames);
      return MCI_COLONIZED4_RETURN;
    }
    case MCI_FORMAT_SMPTE_30DROP: {
      const Hmsf t = dropFrameDecompose(dwFrames);
      *lpResult = packBytes(t.hours, t.minutes, t.seconds, t.frames);
      return MCI_COLONIZED4_RETURN;
    }
    case MCI_FORMAT_TMSF:
      *lpResult = packBytes(1, (base.hours * 60 + base.minutes) % 256, base.seconds, base.frames);
      return MCI_COLONIZED4_RETURN;
    default:
      return MCIERR_BAD_TIME_FORMAT;
  }
}

DWORD positionConvert(const DeviceRecord* rec, DWORD dwValue) {
  const DWORD R = rec->Pal != 0 ? 25 : 30;
  const DWORD b0 = byteOf(dwValue, 0), b1 = byteOf(dwValue, 1), b2 = byteOf(dwValue, 2),
              b3 = byteOf(dwValue, 3);
  switch (rec->dwTimeFormat) {
    case MCI_FORMAT_MILLISECONDS:
      return saturate(static_cast<std::uint64_t>(dwValue) * 100 / msPer100Frames(rec));
    case MCI_FORMAT_HMS:
      return ((b0 * 60 + b1) * 60 + b2) * R;
    case MCI_FORMAT_MSF:
      return (b0 * 60 + b1) * R + b2;
    case MCI_FORMAT_FRAMES:
    case MCI_FORMAT_SAMPLES:
      return dwValue;
    case MCI_FORMAT_SMPTE_24:
      return ((b0 * 60 + b1) * 60 + b2) * 24 + b3;
    case MCI_FORMAT_SMPTE_25:
      return ((b0 * 60 + b1) * 60 + b2) * 25 + b3;
    case MCI_FORMAT_SMPTE_30:
      return ((b0 * 60 + b1) * 60 + b2) * 30 + b3;
    case MCI_FORMAT_SMPTE_30DROP:
      return b0 * kFramesPerHourDrop + (b1 / 10) * kFramesPer10MinDrop +
             (b1 % 10) * kFramesPerMinuteDrop + b2 * 30 + b3;
    case MCI_FORMAT_TMSF:
      return (b1 * 60 + b2) * R + b3;
    default:
      return MCIERR_BAD_TIME_FORMAT;
  }
}

DWORD FramesPerDay(const DeviceRecord* rec) {
  if (rec->Pal != 0) return 24 * 90000;
  return rec->wTCFormat == MCI_FORMAT_SMPTE_30DROP ? 24 * kFramesPerHourDrop : 24 * 108000;
}

bool PositionInRange(const DeviceRecord* rec, DWORD dwValue) {
  return positionConvert(rec, dwValue) < FramesPerDay(rec);
}

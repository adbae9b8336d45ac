// Positions: frame counts inside the driver, BCD timecode on the line, MCI
// time formats at the application's side.
#pragma once

#include "record/device.h"

// MCI time formats.
inline constexpr DWORD MCI_FORMAT_MILLISECONDS = 0;
inline constexpr DWORD MCI_FORMAT_HMS = 1;
inline constexpr DWORD MCI_FORMAT_MSF = 2;
inline constexpr DWORD MCI_FORMAT_FRAMES = 3;
inline constexpr DWORD MCI_FORMAT_SMPTE_24 = 4;
inline constexpr DWORD MCI_FORMAT_SMPTE_25 = 5;
inline constexpr DWORD MCI_FORMAT_SMPTE_30 = 6;
inline constexpr DWORD MCI_FORMAT_SMPTE_30DROP = 7;
inline constexpr DWORD MCI_FORMAT_BYTES = 8;
inline constexpr DWORD MCI_FORMAT_SAMPLES = 9;
inline constexpr DWORD MCI_FORMAT_TMSF = 10;

inline constexpr DWORD kFramesPerHourDrop = 107892;
inline constexpr DWORD kFramesPer10MinDrop = 17982;
inline constexpr DWORD kFramesPerMinuteDrop = 1798;

// Hours, minutes, seconds, frames.
struct Hmsf {
  DWORD hours;
  DWORD minutes;
  DWORD seconds;
  DWORD frames;
};

// Four timecode bytes as the machine sends them (frames first) to a frame
// count; stores the kind of timecode (5, 6 or 7) in *pwTCFormat.
DWORD readTimecode(const BYTE tc[4], DWORD pal, WORD* pwTCFormat);
// Drop-frame labels of a real frame count.
Hmsf dropFrameDecompose(DWORD frames);
// A frame count at a fixed rate (24, 25 or 30 non-drop).
Hmsf splitFrames(DWORD frames, DWORD rate);

// Frames in the 24 hours after which the machine's timecode wraps: at 25 a
// second on a PAL machine, else at 30, counted drop-frame on a drop-frame tape.
DWORD FramesPerDay(const DeviceRecord* rec);
// A position in the device's time format lies on the machine's clock: short
// of 24 hours once converted to frames. A negative frame or millisecond
// value (the word read as signed) converts to far more than that.
bool PositionInRange(const DeviceRecord* rec, DWORD dwValue);

void frame422tc(const DeviceRecord* rec, DWORD dwPosition, BYTE* lpTC, WORD wFormat,
                DWORD fConvert);
DWORD convertPosition(const DeviceRecord* rec, DWORD dwFormat, DWORD dwFrames, DWORD* lpResult);
DWORD positionConvert(const DeviceRecord* rec, DWORD dwValue);

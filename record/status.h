// The names of the machine's state as the driver keeps it: status word bits
// and the combinations the poll and the waits test, the transport modes, and
// the background command states.
#pragma once

#include "platform/win32.h"

// Status word bits (dwStatus), composed from the eight bytes of a status reply.
inline constexpr DWORD VTR_STAT_LOCAL = 0x40000000;
inline constexpr DWORD VTR_STAT_HARD_ERROR = 0x20000000;
inline constexpr DWORD VTR_STAT_NO_TAPE = 0x10000000;  // cassette out, or eject
inline constexpr DWORD VTR_STAT_PLAY = 0x40;
inline constexpr DWORD VTR_STAT_RECORD = 0x20;
inline constexpr DWORD VTR_STAT_S1_BIT6 = 0x2;
inline constexpr DWORD VTR_STAT_STOP = 0x4;
inline constexpr DWORD VTR_STAT_STILL = 0x400;
inline constexpr DWORD VTR_STAT_FAST_FORWARD = 0x10;
inline constexpr DWORD VTR_STAT_REWIND = 0x8;
inline constexpr DWORD VTR_STAT_VAR = 0x200;
inline constexpr DWORD VTR_STAT_JOG = 0x100;
inline constexpr DWORD VTR_STAT_SHUTTLE = 0x80;
inline constexpr DWORD VTR_STAT_REVERSE = 0x2000;
inline constexpr DWORD VTR_STAT_FORWARD = 0x4000;
inline constexpr DWORD VTR_STAT_SERVO_LOCK = 0x800;
inline constexpr DWORD VTR_STAT_CUE_COMPLETE = 0x8000;
inline constexpr DWORD VTR_STAT_EDIT = 0x400000;
inline constexpr DWORD VTR_STAT_REVIEW = 0x800000;
inline constexpr DWORD VTR_STAT_PREVIEW = 0x2000000;
inline constexpr DWORD VTR_STAT_AUTO_EDIT = 0x1000000;
inline constexpr DWORD VTR_STAT_PREROLL = 0x200000;
inline constexpr DWORD VTR_STAT_FULL_EE = 0x100000;
inline constexpr DWORD VTR_STAT_S3_BIT7 = 0x10000;
inline constexpr DWORD VTR_STAT_S3_BIT0 = 0x80000;
inline constexpr DWORD VTR_STAT_S3_BIT1 = 0x40000;
inline constexpr DWORD VTR_STAT_S5_BIT6 = 0x4000000;
inline constexpr DWORD VTR_STAT_S5_BIT5 = 0x8000000;
inline constexpr DWORD VTR_STAT_S7_BIT0 = 0x20000;

// Combinations. At rest: stopped or still (0x404).
inline constexpr DWORD VTR_STAT_AT_REST = VTR_STAT_STOP | VTR_STAT_STILL;
// A cue has arrived: at rest or cue-up complete (0x8404).
inline constexpr DWORD VTR_STAT_CUE_ARRIVED = VTR_STAT_AT_REST | VTR_STAT_CUE_COMPLETE;
// A play has ended before its end: stopped, wound, recording, no tape or a
// fault (0x3000003C).
inline constexpr DWORD VTR_STAT_PLAY_ENDED = VTR_STAT_STOP | VTR_STAT_REWIND |
                                             VTR_STAT_FAST_FORWARD | VTR_STAT_RECORD |
                                             VTR_STAT_NO_TAPE | VTR_STAT_HARD_ERROR;
// An edit is running: preroll, edit or auto edit (0x1600000).
inline constexpr DWORD VTR_STAT_EDIT_RUNNING =
    VTR_STAT_PREROLL | VTR_STAT_EDIT | VTR_STAT_AUTO_EDIT;
// A recording deck shows play as well as record, and the status word keeps
// only the first: either bit means it records (0x60).
inline constexpr DWORD VTR_STAT_PLAY_OR_RECORD = VTR_STAT_PLAY | VTR_STAT_RECORD;
// The deck cannot take commands: local control, a fault or no tape (0x70000000).
inline constexpr DWORD VTR_STAT_NOT_READY = VTR_STAT_LOCAL | VTR_STAT_HARD_ERROR | VTR_STAT_NO_TAPE;

// Transport modes (dwMode): the MCI modes 524..530 (platform/win32.h) and the
// driver's own.
inline constexpr DWORD VTR_MODE_FAST_FORWARD = 388;
inline constexpr DWORD VTR_MODE_LOCAL = 389;
inline constexpr DWORD VTR_MODE_IDLE = 390;  // no transport state recognised
inline constexpr DWORD VTR_MODE_REWIND = 391;
inline constexpr DWORD VTR_MODE_SCAN_FORWARD = 397;
inline constexpr DWORD VTR_MODE_SCAN_REVERSE = 398;

// Background command states (dwPendingState).
inline constexpr DWORD kStateNone = 0;
inline constexpr DWORD kStateCalibrateRewind = 16;
inline constexpr DWORD kStateCalibrateEnd = 31;
inline constexpr DWORD kStateCue = 32;
// A machine that cannot cue passes 34, 36, ... 44, one visit each, before 47.
inline constexpr DWORD kStateCuePause = 34;
inline constexpr DWORD kStateCuePauseLast = 44;
inline constexpr DWORD kStateCueDone = 47;
inline constexpr DWORD kStatePlayFrom = 48;
inline constexpr DWORD kStatePlayFromStart = 63;
inline constexpr DWORD kStatePlayTo = 64;
inline constexpr DWORD kStatePlayToWatch = 79;
inline constexpr DWORD kStateRecordFrom = 80;
inline constexpr DWORD kStateRecordFromStart = 95;
inline constexpr DWORD kStateRecordTo = 96;
inline constexpr DWORD kStateRecordToWatch = 111;
inline constexpr DWORD kStateStripeRewind = 112;
inline constexpr DWORD kStateStripeRecord = 114;
inline constexpr DWORD kStateStripeEnd = 116;
inline constexpr DWORD kStateAutoEdit = 768;

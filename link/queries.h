// Sense and status queries: everything the driver knows about the machine.
#pragma once

#include "driver/device.h"
#include "link/frames.h"

// Status bytes 0..7 of the last status reply, one per slot.
extern DWORD statStruct[8];
extern BYTE tmpChar[4];
extern DWORD dwChkRtn;

// Status word bits.
inline constexpr DWORD VTR_STAT_LOCAL = 0x40000000;
inline constexpr DWORD VTR_STAT_HARD_ERROR = 0x20000000;
inline constexpr DWORD VTR_STAT_NO_TAPE = 0x10000000;
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

// Composes the status word from the eight status bytes.
DWORD ComposeStatusWord(const DWORD s[8]);

DWORD kestrelGetPosition(DeviceRecord* rec, DWORD fCounter);
DWORD kestrelGetStatus(DeviceRecord* rec);
DWORD kestrelGetMode(DeviceRecord* rec);
DWORD kestrelGetModeX(DeviceRecord* rec);
DWORD kestrelGetHeader(DeviceRecord* rec);
DWORD kestrelSetTimer(DeviceRecord* rec);
// `pfPassed`, when given, tells whether a whole reply with a good checksum came
// (a code of 0 is also the generic row's).
DWORD kestrelGetID(DeviceRecord* rec, bool* pfPassed = nullptr);
// 0, or with MCI_WAIT MCIERR_HARDWARE when the machine stopped answering or
// the condition did not come within kVdrWaitPolls one-second looks.
DWORD kestrelGetStatusVDR(DeviceRecord* rec, DWORD dwFlags);
inline constexpr int kVdrWaitPolls = 30;
MCIERROR kestrelGetStatusZDKR(DeviceRecord* rec, CommandFrame frame, BYTE* lpResult,
                              LPVOID lpParms);

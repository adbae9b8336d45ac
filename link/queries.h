// Sense and status queries: everything the driver knows about the machine.
#pragma once

#include "link/frames.h"
#include "record/device.h"

// Status bytes 0..7 of the last status reply, one per slot.
extern DWORD statStruct[8];
extern BYTE tmpChar[4];
extern DWORD dwChkRtn;

// Composes the status word from the eight status bytes.
DWORD ComposeStatusWord(const DWORD s[8]);

// The queries answer their stored or neutral value when the machine gives no
// answer (or one that fails its checks); `pfAnswered`, when given, tells
// which it was, and the record's `sense.fNoAnswer` keeps it for the items
// answered from stored readings.
DWORD kestrelGetPosition(DeviceRecord* rec, DWORD fCounter, bool* pfAnswered = nullptr);
DWORD kestrelGetStatus(DeviceRecord* rec, bool* pfAnswered = nullptr);
DWORD kestrelGetMode(DeviceRecord* rec, bool* pfAnswered = nullptr);
DWORD kestrelGetModeX(DeviceRecord* rec, bool* pfAnswered = nullptr);
DWORD kestrelGetHeader(DeviceRecord* rec, bool* pfAnswered = nullptr);
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

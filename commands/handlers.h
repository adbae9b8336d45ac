// The MCI command handlers: handler(record, flags, parameter block) -> MCI
// error code, run by the dispatcher inside the record's csCommand.
#pragma once

#include "record/device.h"

using MciHandler = DWORD (*)(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);

// Open and close
DWORD kestrelMciOpen(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciClose(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);

// Transport
DWORD kestrelMciStop(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciBreak(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciPause(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciPlay(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciCue(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciSeek(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciStep(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciShuttle(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciFf(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciRw(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);

// Recording and editing
DWORD kestrelMciRecord(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciEditPoint(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciEditPointStatus(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciStripe(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciCalibrate(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);

// Status, capabilities and information
DWORD kestrelMciStatus(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciGetDevCaps(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciInfo(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciList(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciSysInfo(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciIndex(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciMark(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciEscape(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);

// Settings
DWORD kestrelMciSet(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciSetAudio(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciSetVideo(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciSetTuner(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);

// Extended device commands
DWORD kestrelMciSetZDKR(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciSetZDKRVid(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciSetZDKRAud(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciGetZDKR(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
DWORD kestrelMciVDR(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);

// The driver's own messages.
inline constexpr UINT MCI_VTR_FF = 0x0C80;
inline constexpr UINT MCI_VTR_RW = 0x0C81;
inline constexpr UINT MCI_VTR_SHUTTLE = 0x0C82;
inline constexpr UINT MCI_VTR_EDIT = 0x0C83;
inline constexpr UINT MCI_VTR_EDIT_STATUS = 0x0C84;
inline constexpr UINT MCI_VTR_STRIPE = 0x0C85;
inline constexpr UINT MCI_VTR_CALIBRATE = 0x0C86;
inline constexpr UINT MCI_VTR_SETZDKR = 0x0C87;
inline constexpr UINT MCI_VTR_SETZDKRVID = 0x0C88;
inline constexpr UINT MCI_VTR_SETZDKRAUD = 0x0C89;
inline constexpr UINT MCI_VTR_GETZDKR = 0x0C8A;
inline constexpr UINT MCI_VTR_GETZDKRVID = 0x0C8B;
inline constexpr UINT MCI_VTR_GETZDKRAUD = 0x0C8C;
inline constexpr UINT MCI_VTR_VDR = 0x0C8D;

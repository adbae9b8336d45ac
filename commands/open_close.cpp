// Open and close: connect a device record to its machine and let it go again.
#include <cstdio>

#include "commands/handlers.h"
#include "completion/completion.h"
#include "config/ballistics.h"
#include "link/frames.h"
#include "link/queries.h"
#include "link/serial.h"

namespace {
char szOpenName[8];   // "COMx" or "COMxx"
char szSettings[24];  // "COMx:9600,n,8,1" or "COMxx:9600,n,8,1"
constexpr int kHighestPort = 98;

void forgetPort(DeviceRecord* rec) { rec->hComm = nullptr; }
}  // namespace

DWORD kestrelMciOpen(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  // Shareable shortcut: both opens shareable and the port still open.
  if ((rec->dwOpenFlags & MCI_OPEN_SHAREABLE) != 0 && (dwFlags & MCI_OPEN_SHAREABLE) != 0 &&
      rec->nOpenCount > 0) {
    ++rec->nOpenCount;
    return 0;
  }
  // A second full open must not take the open port away from the first.
  if (rec->nOpenCount > 0 && PortIsOpen(rec)) return MCIERR_HARDWARE;
  if (rec->ComPort == 0) return MCIERR_HARDWARE;

  const unsigned port = rec->ComPort & 0xFFu;
  if (port > kHighestPort) return MCIERR_HARDWARE;  // no COM name of one or two digits
  std::snprintf(szOpenName, sizeof(szOpenName), "COM%u", port);
  std::snprintf(szSettings, sizeof(szSettings), "COM%u:9600,n,8,1", port);

  rec->hComm = OpenComm(szOpenName, 1024, 1024);
  if (!PortIsOpen(rec)) {
    forgetPort(rec);
    return MCIERR_HARDWARE;
  }
  HANDLE h = rec->hComm;

  if (!ConfigureComm(h, szSettings)) {
    CloseComm(h);
    forgetPort(rec);
    return MCIERR_HARDWARE;
  }

  FlushComm(h, 0);
  FlushComm(h, 1);
  waitTime(rec, 500);

  // Wake the machine: the first stop may be lost while it comes up.
  kestrelSendCmd(rec, STOP_422, 1);
  if (kestrelSendCmd(rec, STOP_422, 1) != 0) {
    rec->nOpenCount = 0;
    FlushComm(h, 0);
    FlushComm(h, 1);
    CloseComm(h);
    forgetPort(rec);
    return MCIERR_HARDWARE;
  }
  kestrelSendCmd(rec, STND_BYOFF_422, 0);
  waitTime(rec, 500);
  // A machine still answering the stop refuses a block that arrives meanwhile
  // (buffer overrun): the standby off goes once the stop is answered.
  kestrelSendCmd(rec, STOP_422, 1);
  kestrelSendCmd(rec, STND_BYOFF_422, 0);

  if (rec->VTRID == kVtrIdDetect) {
    waitTime(rec, 33);
    FlushComm(h, 0);
    FlushComm(h, 1);
    // A code read off a glitch would pick, and save for good, the wrong model.
    bool passed = false;
    const DWORD code = kestrelGetID(rec, &passed);
    if (passed) {
      SetVTRBallistics(rec, code);
    } else {
      KeepDetecting(rec);
    }
  }

  waitTime(rec, 100);
  FlushComm(h, 0);
  FlushComm(h, 1);

  rec->bIsZDKR = kestrelSendCmd(rec, ISZDKR_422, 1) == 0 ? 1 : 0;
  rec->HasTC = kestrelSetTimer(rec);
  rec->nOpenCount = 1;
  rec->dwSpeed = 1000;
  chkNotify(rec, dwFlags, lpParms, 0);
  rec->dwOpenFlags = dwFlags;
  return 0;
}

DWORD kestrelMciClose(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  chkEntry(rec, dwFlags, lpParms);
  DWORD result = 0;
  if (rec->nOpenCount > 1) {
    --rec->nOpenCount;
  } else if (PortIsOpen(rec)) {
    result = kestrelSendCmd(rec, STOP_422, 1);
    FlushComm(rec->hComm, 0);
    FlushComm(rec->hComm, 1);
    CloseComm(rec->hComm);
    forgetPort(rec);
    rec->nOpenCount = 0;
  } else {
    rec->nOpenCount = 0;  // nothing is open: nothing to stop
  }
  chkNotify(rec, dwFlags, lpParms, result);
  return result;
}

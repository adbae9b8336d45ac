// Command completion: notify, wait and yield.
#include "driver/completion.h"

#include "driver/driver.h"
#include "driver/parms.h"
#include "link/queries.h"

namespace {
DWORD_PTR callbackOf(LPVOID lpParms) {
  return lpParms != nullptr ? static_cast<VTR_GENERIC_PARMS*>(lpParms)->dwCallback : 0;
}
}  // namespace

void notifyCallback(DWORD dwCallback, WORD wDeviceID, UINT uStatus) {
  mciDriverNotify(reinterpret_cast<HANDLE>(static_cast<DWORD_PTR>(dwCallback)), wDeviceID, uStatus);
}

void chkEntry(DeviceRecord* rec, DWORD /*dwFlags*/, LPVOID /*lpParms*/) {
  if (rec->fNotifyPending != 0) {
    notifyCallback(rec->dwNotifyCallback, rec->wDeviceID, MCI_NOTIFY_SUPERSEDED);
    rec->fNotifyPending = 0;
    rec->dwNotifyCallback = 0;
  }
}

void chkNotify(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms, DWORD dwError) {
  const DWORD_PTR callback = callbackOf(lpParms);
  if ((dwFlags & MCI_NOTIFY) == 0 || callback == 0) return;
  if (rec->fNotifyPending != 0) {
    notifyCallback(rec->dwNotifyCallback, rec->wDeviceID, MCI_NOTIFY_SUPERSEDED);
  }
  mciDriverNotify(reinterpret_cast<HANDLE>(callback), rec->wDeviceID,
                  dwError == 0 ? MCI_NOTIFY_SUCCESSFUL : MCI_NOTIFY_FAILURE);
  rec->fNotifyPending = 0;
  rec->dwNotifyCallback = 0;
}

void oweNotify(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  const DWORD_PTR callback = callbackOf(lpParms);
  if ((dwFlags & MCI_NOTIFY) != 0 && callback != 0) {
    rec->dwNotifyCallback = static_cast<DWORD>(callback);
    rec->fNotifyPending = 1;
  }
}

void chkWait(DeviceRecord* rec, DWORD dwFlags, DWORD dwMask, DWORD dwError) {
  if ((dwFlags & MCI_WAIT) == 0 || dwError != 0) return;
  if (waitTimeOrBreak(rec, 132)) return;
  int silent = 0;
  for (;;) {
    if (waitTimeOrBreak(rec, 132)) return;
    const DWORD mode = kestrelGetMode(rec);
    if ((rec->dwStatus & dwMask) != 0 || mode == MCI_MODE_STOP || mode == VTR_MODE_IDLE) return;
    // A machine that no longer answers would keep the wait going forever.
    silent = rec->dwStatus == 0 ? silent + 1 : 0;
    if (silent >= kSilentPeriodsBeforeGivingUp) return;
  }
}

void CheckWait(DeviceRecord* rec, DWORD dwFlags, DWORD /*dwUnused*/, DWORD dwError) {
  if ((dwFlags & MCI_WAIT) == 0 || dwError != 0) return;
  DWORD ticks = TimerTicks();
  if (waitTimeOrBreak(rec, TimerPeriod())) return;
  for (;;) {
    if (rec->fMotionDone != 0) return;
    if (TimerTicks() == ticks) {
      // No tick ran during the wait: keep the background command moving.
      TimerProc(nullptr, WM_TIMER, 0, 0);
    }
    ticks = TimerTicks();
    if (waitTimeOrBreak(rec, TimerPeriod())) return;
    const DWORD mode = kestrelGetMode(rec);
    if (mode == MCI_MODE_OPEN || mode == VTR_MODE_IDLE) return;
  }
}

int DriverYield(DeviceRecord* rec) {
  LeaveCriticalSection(&rec->csCommand);
  const UINT result = mciDriverYield(rec->wDeviceID);
  Sleep(10);
  EnterCriticalSection(&rec->csCommand);
  return static_cast<int>(result);
}

bool waitTimeOrBreak(DeviceRecord* rec, DWORD dwMilliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    // Unsigned difference: a wrap of the tick counter neither ends nor lengthens the wait.
    if (GetTickCount() - start > dwMilliseconds) return false;
    if (rec->wDeviceID < 0xFFFF && DriverYield(rec) != 0) return true;
  }
}

void waitTime(DeviceRecord* rec, DWORD dwMilliseconds) { waitTimeOrBreak(rec, dwMilliseconds); }

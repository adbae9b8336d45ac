// Command completion: notify, wait and yield.
#include "driver/completion.h"

#include "driver/driver.h"
#include "driver/parms.h"
#include "link/queries.h"
#include "monitor/poll.h"

namespace {
DWORD_PTR callbackOf(LPVOID lpParms) {
  return lpParms != nullptr ? static_cast<VTR_GENERIC_PARMS*>(lpParms)->dwCallback : 0;
}
}  // namespace

void notifyCallback(DWORD dwCallback, WORD wDeviceID, UINT uStatus) {
  mciDriverNotify(reinterpret_cast<HANDLE>(static_cast<DWORD_PTR>(dwCallback)), wDeviceID, uStatus);
}

void chkEntry(DeviceRecord* rec, DWORD /*dwFlags*/, LPVOID /*lpParms*/) {
  rec->fCmdFailed = 0;  // a new command: an earlier one's failure is told
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

namespace {

// The machine answered and shows it at rest (stopped or still, not cueing).
bool atRest(DWORD status) {
  return status != 0 && (status & (VTR_STAT_STOP | VTR_STAT_STILL)) != 0 &&
         (status & VTR_STAT_PREROLL) == 0;
}

// Keeps the background command moving when no poll tick came during a period.
void pollIfNoTick(DWORD& ticks) {
  if (TimerTicks() == ticks) TimerProc(nullptr, WM_TIMER, 0, 0);
  ticks = TimerTicks();
}

// How a finished background command's wait answers.
DWORD verdict(const DeviceRecord* rec) { return rec->fCmdFailed != 0 ? MCIERR_HARDWARE : 0; }

// The wait of chkWait. `own`: the handler has just started a background
// command, whose end and verdict the wait also follows.
DWORD waitMotion(DeviceRecord* rec, DWORD dwFlags, DWORD dwMask, DWORD dwError, bool own) {
  if ((dwFlags & MCI_WAIT) == 0 || dwError != 0) return dwError;
  DWORD ticks = TimerTicks();
  if (waitTimeOrBreak(rec, 132)) return 0;
  int silent = 0;
  int rest = 0;
  for (;;) {
    if (waitTimeOrBreak(rec, 132)) return 0;
    const DWORD mode = kestrelGetMode(rec);
    const DWORD status = rec->dwStatus;
    if ((status & dwMask) != 0) return 0;
    if (own) {
      // A stop or idle reading says nothing of arrival: the poll judges it.
      if (rec->dwPendingState == 0 && rec->dwNextState == 0) return verdict(rec);
      pollIfNoTick(ticks);
    } else if (mode == MCI_MODE_STOP || mode == VTR_MODE_IDLE) {
      return 0;
    }
    // A machine that no longer answers would keep the wait going forever.
    silent = status == 0 ? silent + 1 : 0;
    if (silent >= kSilentPeriodsBeforeGivingUp) return AbandonWait(rec);
    // So would a machine come to rest short of what the wait looks for.
    rest = atRest(status) ? rest + 1 : 0;
    if (!own && rest >= kRestPeriodsBeforeGivingUp) {
      return (status & VTR_STAT_CUE_COMPLETE) != 0 ? 0 : AbandonWait(rec);
    }
  }
}

}  // namespace

DWORD AbandonWait(DeviceRecord* rec) {
  if (rec->fMotionDone == 0) AbandonCommand(rec);
  return MCIERR_HARDWARE;
}

DWORD chkWait(DeviceRecord* rec, DWORD dwFlags, DWORD dwMask, DWORD dwError) {
  return waitMotion(rec, dwFlags, dwMask, dwError, false);
}

DWORD chkWaitOwn(DeviceRecord* rec, DWORD dwFlags, DWORD dwMask, DWORD dwError) {
  return waitMotion(rec, dwFlags, dwMask, dwError, true);
}

DWORD CheckWait(DeviceRecord* rec, DWORD dwFlags, DWORD /*dwUnused*/, DWORD dwError) {
  if ((dwFlags & MCI_WAIT) == 0 || dwError != 0) return dwError;
  DWORD ticks = TimerTicks();
  if (waitTimeOrBreak(rec, TimerPeriod())) return 0;
  int idle = 0;
  for (;;) {
    if (rec->fMotionDone != 0) return verdict(rec);
    pollIfNoTick(ticks);
    if (waitTimeOrBreak(rec, TimerPeriod())) return 0;
    const DWORD mode = kestrelGetMode(rec);
    if (mode != MCI_MODE_OPEN && mode != VTR_MODE_IDLE) {
      idle = 0;
      continue;
    }
    if (rec->fMotionDone != 0) return verdict(rec);
    // No tape: the command cannot finish. A deck shows no transport state for
    // a moment after a play starts; one that stays so (ejecting) cannot finish.
    if (mode == MCI_MODE_OPEN || ++idle >= kRestPeriodsBeforeGivingUp) return AbandonWait(rec);
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

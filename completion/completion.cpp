// Command completion: notify and wait.
#include "completion/completion.h"

#include "link/queries.h"
#include "monitor/poll.h"

void chkEntry(DeviceRecord* rec, DWORD /*dwFlags*/, LPVOID /*lpParms*/) {
  rec->fCmdFailed = 0;  // a new command: an earlier one's failure is told
  SupersedeOwed(rec);
}

void chkNotify(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms, DWORD dwError) {
  const DWORD_PTR callback = CallbackOf(lpParms);
  if ((dwFlags & MCI_NOTIFY) == 0 || callback == 0) return;
  SupersedeOwed(rec);
  NotifyCallback(callback, rec->wDeviceID,
                 dwError == 0 ? MCI_NOTIFY_SUCCESSFUL : MCI_NOTIFY_FAILURE);
}

namespace {

// The period of the motion waits: one less than the poll's.
constexpr DWORD kWaitPeriod = 132;

// The machine answered and shows it at rest (stopped or still, not cueing).
bool atRest(DWORD status) {
  return status != 0 && (status & VTR_STAT_AT_REST) != 0 && (status & VTR_STAT_PREROLL) == 0;
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
  if (waitTimeOrBreak(rec, kWaitPeriod)) return 0;
  Streak silent{};
  Streak rest{};
  for (;;) {
    if (waitTimeOrBreak(rec, kWaitPeriod)) return 0;
    const DWORD mode = kestrelGetMode(rec);
    const DWORD status = rec->dwStatus;
    if ((status & dwMask) != 0) return 0;
    if (own) {
      // A stop or idle reading says nothing of arrival: the poll judges it.
      if (rec->dwPendingState == kStateNone && rec->dwNextState == kStateNone) return verdict(rec);
      pollIfNoTick(ticks);
    } else if (mode == MCI_MODE_STOP || mode == VTR_MODE_IDLE) {
      return 0;
    }
    // A machine that no longer answers would keep the wait going forever.
    if (silent.Add(status == 0, kSilentPeriodsBeforeGivingUp)) return AbandonWait(rec);
    // So would a machine come to rest short of what the wait looks for.
    if (rest.Add(atRest(status), kRestPeriodsBeforeGivingUp) && !own) {
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
  Streak idle{};
  for (;;) {
    if (rec->fMotionDone != 0) return verdict(rec);
    pollIfNoTick(ticks);
    if (waitTimeOrBreak(rec, TimerPeriod())) return 0;
    const DWORD mode = kestrelGetMode(rec);
    if (mode != MCI_MODE_OPEN && mode != VTR_MODE_IDLE) {
      idle.Reset();
      continue;
    }
    if (rec->fMotionDone != 0) return verdict(rec);
    // No tape: the command cannot finish. A deck shows no transport state for
    // a moment after a play starts; one that stays so (ejecting) cannot finish.
    if (mode == MCI_MODE_OPEN || idle.Add(true, kRestPeriodsBeforeGivingUp)) {
      return AbandonWait(rec);
    }
  }
}

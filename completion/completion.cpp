// Command completion: notify and wait.
#include "completion/completion.h"

#include "link/queries.h"
#include "monitor/poll.h"

void chkEntry(DeviceRecord* rec, DWORD /*dwFlags*/, LPVOID /*lpParms*/) {
  rec->fCmdFailed = 0;  // a new command: an earlier one's failure is told
  // A later command: a wait of an earlier one that yields sees the count move.
  ++rec->poll.dwGeneration;
  rec->poll.bWaitEnd = kWaitEndAsAsked;
  SupersedeOwed(rec);
}

void chkNotify(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms, DWORD dwError) {
  const BYTE waitEnd = rec->poll.bWaitEnd;
  rec->poll.bWaitEnd = kWaitEndAsAsked;
  const DWORD_PTR callback = CallbackOf(lpParms);
  if ((dwFlags & MCI_NOTIFY) == 0 || callback == 0) return;
  SupersedeOwed(rec);
  UINT code = dwError == 0 ? MCI_NOTIFY_SUCCESSFUL : MCI_NOTIFY_FAILURE;
  if (dwError != 0 && waitEnd == kWaitEndBroken) code = MCI_NOTIFY_ABORTED;
  if (dwError != 0 && waitEnd == kWaitEndSuperseded) code = MCI_NOTIFY_SUPERSEDED;
  NotifyCallback(callback, rec->wDeviceID, code);
}

namespace {

// The period of the motion waits: one less than the poll's.
constexpr DWORD kWaitPeriod = 132;
constexpr DWORD kBothDirections = VTR_STAT_FORWARD | VTR_STAT_REVERSE;

// The machine answered and shows it at rest (stopped or still, not cueing).
bool atRest(DWORD status) {
  return status != 0 && (status & VTR_STAT_AT_REST) != 0 && (status & VTR_STAT_PREROLL) == 0;
}

// The status shows one of the asked bits; record also from the status
// byte's own bit, which the word's chain hides behind play.
bool shows(const DeviceRecord* rec, DWORD status, DWORD asked) {
  return (status & asked) != 0 || ((asked & VTR_STAT_RECORD) != 0 && rec->sense.fRecordBit);
}

// Keeps the background command moving when no poll tick came during a period.
void pollIfNoTick(DWORD& ticks) {
  if (TimerTicks() == ticks) TimerProc(nullptr, WM_TIMER, 0, 0);
  ticks = TimerTicks();
}

// The background command the wait of generation `gen` started is still pending.
bool ownPending(const DeviceRecord* rec, DWORD gen) {
  return rec->poll.dwCmdGeneration == gen && rec->fMotionDone == 0;
}

// How a finished background command's wait answers.
DWORD verdict(const DeviceRecord* rec) { return rec->fCmdFailed != 0 ? MCIERR_HARDWARE : 0; }

// The wait cannot end as asked: its own background command, if pending, is
// given up with `uStatus` for its owed notification.
DWORD giveUp(DeviceRecord* rec, DWORD gen, UINT uStatus = MCI_NOTIFY_FAILURE) {
  if (ownPending(rec, gen)) AbandonCommand(rec, uStatus);
  return MCIERR_HARDWARE;
}

// One period of a wait: 0 to go on, else the wait's answer. A break abandons
// the wait's own command before its end; after a later command took the
// device, what is pending is that one's business.
DWORD period(DeviceRecord* rec, DWORD gen, DWORD ms, BYTE& end) {
  if (waitTimeOrBreak(rec, ms)) {
    end = kWaitEndBroken;
    return giveUp(rec, gen, MCI_NOTIFY_ABORTED);
  }
  if (rec->poll.dwGeneration != gen) {
    end = kWaitEndSuperseded;
    return MCIERR_HARDWARE;
  }
  return 0;
}

// The wait of chkWait; `target` (frames) for a cue's.
DWORD waitMotion(DeviceRecord* rec, DWORD dwFlags, DWORD dwMask, DWORD dwError, const DWORD* target,
                 BYTE& end) {
  if ((dwFlags & MCI_WAIT) == 0 || dwError != 0) return dwError;
  const DWORD gen = rec->poll.dwGeneration;
  const bool state = (dwMask & kBothDirections) == kBothDirections;
  const DWORD asked = state ? ~dwMask : dwMask;
  if (const DWORD r = period(rec, gen, kWaitPeriod, end)) return r;
  Streak silent{};
  Streak rest{};
  for (;;) {
    if (const DWORD r = period(rec, gen, kWaitPeriod, end)) return r;
    bool answered = false;
    const DWORD mode = kestrelGetMode(rec, &answered);
    const DWORD status = rec->dwStatus;
    // A machine that no longer answers would keep the wait going forever.
    if (silent.Add(!answered, kSilentPeriodsBeforeGivingUp)) return giveUp(rec, gen);
    if (!answered) continue;
    // A deck under local control shows the place where it already was.
    const bool local = (status & VTR_STAT_LOCAL) != 0;
    if (shows(rec, status, asked) && (state || !local)) return 0;
    // Under local control, without tape or in a fault the deck will not do it.
    if ((status & VTR_STAT_NOT_READY) != 0) return giveUp(rec, gen);
    // Nor will one that rests short of it (or shows no transport state).
    if (rest.Add(atRest(status) || mode == VTR_MODE_IDLE, kRestPeriodsBeforeGivingUp)) {
      // A cue that had nothing to travel: done when the deck is at its target.
      if (target != nullptr && (status & VTR_STAT_CUE_COMPLETE) != 0) {
        const DWORD pos = kestrelGetPosition(rec, 0, &answered);
        if (answered && Arrived(*target, pos)) return 0;
      }
      return giveUp(rec, gen);
    }
  }
}

// chkWait's, telling chkNotify how it ended.
DWORD waitThenTell(DeviceRecord* rec, DWORD dwFlags, DWORD dwMask, DWORD dwError,
                   const DWORD* target) {
  BYTE end = kWaitEndAsAsked;
  const DWORD r = waitMotion(rec, dwFlags, dwMask, dwError, target, end);
  rec->poll.bWaitEnd = end;
  return r;
}

}  // namespace

DWORD chkWait(DeviceRecord* rec, DWORD dwFlags, DWORD dwMask, DWORD dwError) {
  return waitThenTell(rec, dwFlags, dwMask, dwError, nullptr);
}

DWORD chkWaitCue(DeviceRecord* rec, DWORD dwFlags, DWORD dwMask, DWORD dwError, DWORD dwTarget) {
  return waitThenTell(rec, dwFlags, dwMask, dwError, &dwTarget);
}

DWORD chkWaitOwn(DeviceRecord* rec, DWORD dwFlags, DWORD /*dwMask*/, DWORD dwError) {
  if ((dwFlags & MCI_WAIT) == 0 || dwError != 0) return dwError;
  const DWORD gen = rec->poll.dwGeneration;
  DWORD ticks = TimerTicks();
  BYTE end = kWaitEndAsAsked;  // the owed notification tells it
  if (const DWORD r = period(rec, gen, kWaitPeriod, end)) return r;
  Streak silent{};
  for (;;) {
    if (const DWORD r = period(rec, gen, kWaitPeriod, end)) return r;
    bool answered = false;
    kestrelGetMode(rec, &answered);
    // Cue-up complete says nothing of this cue: a deck under local control
    // keeps an earlier one's where that one ended. The poll's end of the
    // command, its still included, is the answer; a wait that ended earlier
    // would leave that still to stop the next command.
    if (rec->poll.dwCmdGeneration == gen && rec->dwPendingState == kStateNone &&
        rec->dwNextState == kStateNone) {
      return verdict(rec);
    }
    pollIfNoTick(ticks);
    if (silent.Add(!answered, kSilentPeriodsBeforeGivingUp)) return giveUp(rec, gen);
  }
}

DWORD CheckWait(DeviceRecord* rec, DWORD dwFlags, DWORD /*dwUnused*/, DWORD dwError) {
  if ((dwFlags & MCI_WAIT) == 0 || dwError != 0) return dwError;
  const DWORD gen = rec->poll.dwGeneration;
  // Only a command that runs in the background has anything to wait for.
  if (rec->poll.dwCmdGeneration != gen) return dwError;
  DWORD ticks = TimerTicks();
  BYTE end = kWaitEndAsAsked;  // the owed notification tells it
  if (const DWORD r = period(rec, gen, TimerPeriod(), end)) return r;
  Streak idle{};
  for (;;) {
    if (rec->fMotionDone != 0) return verdict(rec);
    pollIfNoTick(ticks);
    if (const DWORD r = period(rec, gen, TimerPeriod(), end)) return r;
    const DWORD mode = kestrelGetMode(rec);
    if (mode != MCI_MODE_OPEN && mode != VTR_MODE_IDLE) {
      idle.Reset();
      continue;
    }
    if (rec->fMotionDone != 0) return verdict(rec);
    // No tape: the command cannot finish. A deck shows no transport state for
    // a moment after a play starts; one that stays so (ejecting) cannot finish.
    if (mode == MCI_MODE_OPEN || idle.Add(true, kRestPeriodsBeforeGivingUp)) {
      return giveUp(rec, gen);
    }
  }
}

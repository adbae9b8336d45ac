// The poll timer and the background command state machine.
#include "monitor/poll.h"

#include <atomic>

#include "link/frames.h"
#include "link/queries.h"
#include "link/timecode.h"
#include "record/notify.h"

std::int16_t nTimerCheck = 10;
CRITICAL_SECTION csPoll;

namespace {

void setTimerPeriod(WORD wPeriod, WORD wSlowTicks) {
  std::atomic_ref<WORD>(drvTimerSt.wPeriod).store(wPeriod);
  drvTimerSt.wSlowTicks = wSlowTicks;
  SetTimer(nullptr, drvTimerSt.idTimer, wPeriod, drvTimerSt.lpfnTimerProc);
}

void finish(DeviceRecord* rec) { rec->dwPendingState = kStateNone; }

// The delay rule: true when this visit was spent counting the delay down.
bool delaying(DeviceRecord* rec) {
  if (rec->dwPendingDelay == 0) return false;
  --rec->dwPendingDelay;
  return true;
}

// The countdown of states 32, 64 and 96: the target is converted into frames
// one visit before the delay runs out. True while still counting.
bool convertingDelay(DeviceRecord* rec) {
  if (rec->dwPendingDelay == 1) {
    rec->dwPendingTo = positionConvert(rec, rec->dwPendingTo);
    --rec->dwPendingDelay;
    return true;
  }
  if (rec->dwPendingDelay > 1) {
    --rec->dwPendingDelay;
    return true;
  }
  return false;
}

void sendCue(DeviceRecord* rec) {
  frame422tc(rec, rec->dwPendingFrom, &CUE_DATA_422[3], rec->wTCFormat, 1);
  kestrelSendCmd(rec, CUE_DATA_422, 1);
  rec->dwPendingFrom = 0;
}

// A command that ended short of its work: the owed notification, if any, is
// failure, and a wait for the command answers so.
void notifyFailure(DeviceRecord* rec) {
  rec->fCmdFailed = 1;
  DeliverOwed(rec, MCI_NOTIFY_FAILURE);
}

void abortPending(DeviceRecord* rec) {
  rec->fCmdFailed = 1;
  rec->dwPendingState = rec->dwNextState = kStateNone;
  rec->dwPendingDelay = rec->dwNextDelay = 0;
  rec->dwPendingTo = rec->dwNextTo = 0;
  rec->dwPendingFrom = rec->dwNextFrom = 0;
  if (NotifyIsOwed(rec)) {
    rec->fMotionDone = 1;
    DeliverOwed(rec, MCI_NOTIFY_FAILURE);
  }
}

// Counts a visit that finds the machine at rest (stopped or still);
// true once it has done so for the give-up number of visits in a row.
bool restedTooLong(DeviceRecord* rec, DWORD status) {
  return rec->poll.rest.Add((status & VTR_STAT_AT_REST) != 0, kRestPeriodsBeforeGivingUp);
}

void act(DeviceRecord* rec, DWORD pos, DWORD mode, DWORD status) {
  switch (rec->dwPendingState) {
    case kStateNone:
      if (rec->dwNextState != kStateNone) {
        rec->dwPendingState = rec->dwNextState;
        rec->dwPendingDelay = rec->dwNextDelay;
        rec->dwPendingTo = rec->dwNextTo;
        rec->dwPendingFrom = rec->dwNextFrom;
        rec->dwNextState = rec->dwNextDelay = rec->dwNextTo = rec->dwNextFrom = 0;
        return;
      }
      rec->fMotionDone = 1;
      DeliverOwed(rec, MCI_NOTIFY_SUCCESSFUL);
      if (rec->wPollPeriod != kPollPeriodNormal || TimerPeriod() != kPollPeriodNormal) {
        rec->wPollPeriod = kPollPeriodNormal;
        setTimerPeriod(kPollPeriodNormal, kSlowTicksNormal);
      }
      if (--nTimerCheck < 1) {
        rec->HasTC = kestrelSetTimer(rec);
        nTimerCheck = 10;
      }
      return;

    case kStateCalibrateRewind:
      if (delaying(rec)) return;
      // A rewind that ended within the delay (near the tape start) shows no
      // motion at all: once the machine has rested long enough, it is over.
      if (restedTooLong(rec, status)) {
        rec->dwPendingState = kStateCalibrateEnd;
        return;
      }
      if ((status & VTR_STAT_AT_REST) != 0) return;
      rec->dwPendingDelay = 10;
      rec->dwPendingState = kStateCalibrateEnd;
      return;

    case kStateCalibrateEnd:
      if (delaying(rec)) return;
      if ((status & VTR_STAT_AT_REST) != 0 || mode == VTR_MODE_IDLE) {
        kestrelSendCmd(rec, TIMER1PRE_422, 1);
        finish(rec);
      }
      return;

    case kStateCue:
      if (rec->CanCue == 0) {
        if (delaying(rec)) return;
        rec->dwPendingState = kStateCuePause;
        return;
      }
      if (convertingDelay(rec)) return;
      if ((status & VTR_STAT_CUE_ARRIVED) != 0 || mode == VTR_MODE_IDLE ||
          pos == rec->dwPendingTo) {
        rec->dwPendingDelay = 3;
        rec->dwPendingState = kStateCueDone;
      }
      return;

    case kStateCuePause:
    case kStateCuePause + 2:
    case kStateCuePause + 4:
    case kStateCuePause + 6:
    case kStateCuePause + 8:
      if (delaying(rec)) return;
      rec->dwPendingState += 2;
      return;
    case kStateCuePauseLast:
      if (delaying(rec)) return;
      rec->dwPendingState = kStateCueDone;
      return;

    case kStateCueDone:
      if (delaying(rec)) return;
      kestrelSendCmd(rec, PAUSE_422, 1);
      // Arrival within one frame of an even target counts.
      if (((rec->dwPendingTo ^ pos) & ~1u) == 0) {
        DeliverOwed(rec, MCI_NOTIFY_SUCCESSFUL);
      } else {
        notifyFailure(rec);
      }
      finish(rec);
      return;

    case kStatePlayFrom:
      if (rec->dwPendingFrom != 0) sendCue(rec);
      if (delaying(rec)) return;
      if ((status & VTR_STAT_CUE_ARRIVED) != 0) {
        rec->dwPendingDelay = 1;
        rec->dwPendingState = kStatePlayFromStart;
      }
      return;

    case kStatePlayFromStart:
      if (rec->dwPendingDelay != 0) {
        kestrelSendCmd(rec, PAUSE_422, 1);
        --rec->dwPendingDelay;
        return;
      }
      kestrelSendCmd(rec, PLAY_422, 1);
      finish(rec);
      return;

    case kStatePlayTo:
      if (convertingDelay(rec)) return;
      kestrelSendCmd(rec, PLAY_422, 1);
      rec->dwPendingDelay = 8;
      rec->dwPendingState = kStatePlayToWatch;
      return;

    case kStatePlayToWatch:
      if (delaying(rec)) return;
      if (pos > rec->dwPendingTo) {
        // A refused still, or an end that earlier visits saw short of it and
        // this one sees far past (the readings in between were lost), leaves
        // the deck away from where it was asked to stop.
        const bool stopped = kestrelSendCmd(rec, PAUSE_422, 1) == 0;
        const bool blind = rec->poll.fWatched && pos - rec->dwPendingTo > kOvershootFrames;
        if (stopped && !blind) {
          DeliverOwed(rec, MCI_NOTIFY_SUCCESSFUL);
        } else {
          notifyFailure(rec);
        }
        finish(rec);
      } else if ((status & VTR_STAT_PLAY_ENDED) != 0 || restedTooLong(rec, status)) {
        // The play ended early: stopped, wound, recording, no tape, a fault,
        // or left play (paused) and stayed out of it.
        kestrelSendCmd(rec, PAUSE_422, 1);
        notifyFailure(rec);
        finish(rec);
      } else {
        rec->poll.fWatched = true;
      }
      return;

    case kStateRecordFrom:
      if (rec->dwPendingFrom != 0) sendCue(rec);
      if (delaying(rec)) return;
      if ((status & VTR_STAT_CUE_ARRIVED) != 0) {
        rec->dwPendingDelay = 2;
        rec->dwPendingState = kStateRecordFromStart;
      }
      return;

    case kStateRecordFromStart:
      if (delaying(rec)) return;
      kestrelSendCmd(rec, REC_422, 1);
      finish(rec);
      return;

    case kStateRecordTo:
      if (convertingDelay(rec)) return;
      kestrelSendCmd(rec, REC_422, 1);
      rec->wPollPeriod = kPollPeriodRecord;
      setTimerPeriod(kPollPeriodRecord, kSlowTicksRecord);
      rec->dwPendingDelay = 4;
      rec->dwPendingState = kStateRecordToWatch;
      return;

    case kStateRecordToWatch:
      if (delaying(rec)) return;
      if ((status & VTR_STAT_PLAY) != 0 && !(pos > rec->dwPendingTo)) return;
      kestrelSendCmd(rec, PAUSE_422, 1);
      rec->wPollPeriod = kPollPeriodNormal;
      setTimerPeriod(kPollPeriodNormal, kSlowTicksNormal);
      finish(rec);
      return;

    case kStateStripeRewind:
      if (delaying(rec)) return;
      if ((status & VTR_STAT_REWIND) != 0 && mode != VTR_MODE_IDLE) return;
      rec->dwPendingDelay = 10;
      rec->dwPendingState = kStateStripeRecord;
      kestrelSendCmd(rec, REC_422, 1);
      return;

    case kStateStripeRecord: {
      // A recording deck shows play as well as record: either bit means the
      // stripe is running.
      const bool recording = (status & VTR_STAT_PLAY_OR_RECORD) != 0;
      // A stripe given an end stops recording there.
      if (rec->dwPendingTo != 0 && recording && pos > positionConvert(rec, rec->dwPendingTo)) {
        kestrelSendCmd(rec, STOP_422, 1);
      }
      if (delaying(rec)) return;
      if (recording && mode != VTR_MODE_IDLE) return;
      // Recording has ended: wind back once, then finish when the rewind ends.
      kestrelSendCmd(rec, FAST_REV_422, 1);
      rec->dwPendingDelay = 4;
      rec->dwPendingState = kStateStripeEnd;
      return;
    }

    case kStateStripeEnd:
      if (delaying(rec)) return;
      if ((status & VTR_STAT_REWIND) != 0 && mode != VTR_MODE_IDLE) return;
      finish(rec);
      return;

    case kStateAutoEdit:
      if (delaying(rec)) return;
      if ((status & VTR_STAT_EDIT_RUNNING) != 0 && mode != VTR_MODE_IDLE) return;
      finish(rec);
      return;

    default:
      rec->HasTC = kestrelSetTimer(rec);
      rec->dwPendingState = kStateNone;
      return;
  }
}

void visit(DeviceRecord* rec) {
  const WORD period = TimerPeriod();
  if (period != rec->wPollPeriod) {
    const WORD quotient = static_cast<WORD>(period / rec->wPollPeriod);
    if (rec->wPollSkip < quotient) {
      ++rec->wPollSkip;
      return;
    }
    rec->wPollSkip = 0;
  }

  // Fresh readings only when no other exchange is under way; otherwise the
  // stored ones, and wait for the line before sending anything.
  DWORD pos, mode;
  const bool haveLine = TryEnterCriticalSection(&csLink) != 0;
  if (haveLine && !LinkBusy()) {
    pos = kestrelGetPosition(rec, 0);
    mode = kestrelGetMode(rec);
  } else {
    pos = rec->dwPosition;
    mode = rec->dwMode;
  }
  if (!haveLine) EnterCriticalSection(&csLink);
  const DWORD status = rec->dwStatus;

  PollTracking& t = rec->poll;
  const bool gone = mode == MCI_MODE_NOT_READY || mode == MCI_MODE_OPEN;
  if (t.gone.Add(rec->dwPendingState != kStateNone && gone, kCmdRetryLimit)) {
    t.gone.Reset();
    abortPending(rec);
    LeaveCriticalSection(&csLink);
    return;
  }
  if (rec->dwPendingState != t.dwRestState) {
    t.dwRestState = rec->dwPendingState;
    t.rest.Reset();
    t.fWatched = false;
  }
  // A visit without a reading (no answer, or one that failed its checksum)
  // moves no state: several states would read the missing bits as the end of
  // a motion. It only counts toward the abort above.
  if (status != 0 || rec->dwPendingState == kStateNone) act(rec, pos, mode, status);
  LeaveCriticalSection(&csLink);
}

}  // namespace

void ResetPollState() { nTimerCheck = 10; }

void AbandonCommand(DeviceRecord* rec) {
  abortPending(rec);
  rec->fMotionDone = 1;
}

void CALLBACK TimerProc(HWND /*hwnd*/, UINT /*uMsg*/, UINT_PTR /*idEvent*/, DWORD /*dwTime*/) {
  EnterCriticalSection(&csPoll);
  std::atomic_ref<DWORD>(drvTimerSt.dwTicks).fetch_add(1);
  for (int i = 0; i < kDeviceSlots; ++i) {
    DeviceRecord* rec = LoadSlotRecord(i);
    if (rec == nullptr) continue;
    // A record whose command is running (and not yielding) is visited next tick.
    if (!TryEnterCriticalSection(&rec->csCommand)) continue;
    if (rec->nOpenCount != 0 && !(rec->dwPendingState == kStateNone && rec->fMotionDone == 1)) {
      visit(rec);
    }
    LeaveCriticalSection(&rec->csCommand);
  }
  LeaveCriticalSection(&csPoll);
}

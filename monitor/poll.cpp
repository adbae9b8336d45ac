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

// A record-to is watched every 33 ms: its rest rule counts as many visits as
// a watch at 133 ms would in the same time.
constexpr int kRecordRestVisits =
    kRestPeriodsBeforeGivingUp * (kPollPeriodNormal / kPollPeriodRecord);

void setTimerPeriod(WORD wPeriod, WORD wSlowTicks) {
  std::atomic_ref<WORD>(drvTimerSt.wPeriod).store(wPeriod);
  drvTimerSt.wSlowTicks = wSlowTicks;
  SetTimer(nullptr, drvTimerSt.idTimer, wPeriod, drvTimerSt.lpfnTimerProc);
}

void finish(DeviceRecord* rec) { rec->dwPendingState = kStateNone; }

void dropQueued(DeviceRecord* rec) {
  rec->dwNextState = rec->dwNextDelay = rec->dwNextTo = rec->dwNextFrom = 0;
}

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

// The end of a play or record to a position in frames; states 64 and 96 keep
// it in the time format until their delay's last visit converts it.
DWORD framesTo(const DeviceRecord* rec) {
  const bool starting =
      rec->dwPendingState == kStatePlayTo || rec->dwPendingState == kStateRecordTo;
  return starting && rec->dwPendingDelay >= 1 ? positionConvert(rec, rec->dwPendingTo)
                                              : rec->dwPendingTo;
}

void sendCue(DeviceRecord* rec) {
  PollTracking& t = rec->poll;
  t.dwFromFrames = positionConvert(rec, rec->dwPendingFrom);
  t.fCued = true;
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

// Ends the command as failed now, with its queued step; `pause` holds the
// picture where the deck is when the command had set it moving.
void fail(DeviceRecord* rec, bool pause) {
  if (pause) kestrelSendCmd(rec, PAUSE_422, 1);
  dropQueued(rec);
  notifyFailure(rec);
  finish(rec);
}

void abortPending(DeviceRecord* rec, UINT uStatus) {
  rec->fCmdFailed = 1;
  rec->dwPendingState = rec->dwNextState = kStateNone;
  rec->dwPendingDelay = rec->dwNextDelay = 0;
  rec->dwPendingTo = rec->dwNextTo = 0;
  rec->dwPendingFrom = rec->dwNextFrom = 0;
  if (NotifyIsOwed(rec)) {
    rec->fMotionDone = 1;
    DeliverOwed(rec, uStatus);
  }
}

// Counts a visit that finds the machine at rest (stopped or still);
// true once it has done so for the give-up number of visits in a row.
bool restedTooLong(DeviceRecord* rec, DWORD status) {
  return rec->poll.rest.Add((status & VTR_STAT_AT_REST) != 0, kRestPeriodsBeforeGivingUp);
}

bool isRecordTo(DWORD state) { return state == kStateRecordTo || state == kStateRecordToWatch; }

// A record-to ends: still, and the poll back at its normal period.
bool endRecording(DeviceRecord* rec) {
  const bool paused = kestrelSendCmd(rec, PAUSE_422, 1) == 0;
  rec->wPollPeriod = kPollPeriodNormal;
  setTimerPeriod(kPollPeriodNormal, kSlowTicksNormal);
  return paused;
}

// The play or record toward the end has passed it at `pos`: the deck holds
// still there. It did what it was asked when it began short of the end, the
// still was taken, it stopped within the overshoot, and a record was seen
// recording. A record that ends before the deck shows its record bit has not
// been seen to record: a machine starts recording its edit delay after the
// command, about when the bit shows, so such a short one may hold nothing.
void endTo(DeviceRecord* rec, DWORD pos, DWORD end) {
  const PollTracking& t = rec->poll;
  const bool record = isRecordTo(rec->dwPendingState);
  const bool paused = record ? endRecording(rec) : kestrelSendCmd(rec, PAUSE_422, 1) == 0;
  dropQueued(rec);
  bool done = paused && !t.fRefused && pos - end <= kOvershootFrames;
  if (record) {
    done = done && t.dwStartPos <= t.dwAskedTo && t.fRecordSeen;
    // A record's success is told by state 0, as its end without a failure.
    if (!done) notifyFailure(rec);
  } else {
    done = done && t.dwStartPos <= end;
    if (done) {
      DeliverOwed(rec, MCI_NOTIFY_SUCCESSFUL);
    } else {
      notifyFailure(rec);
    }
  }
  finish(rec);
}

// Every visit of a play or record toward its end, once the deck moves toward
// it, looks for the end: true when this one found it passed and ended the
// command.
bool watchTo(DeviceRecord* rec, DWORD pos) {
  const DWORD end = framesTo(rec);
  if (pos <= end) return false;
  endTo(rec, pos, end);
  return true;
}

// States whose work the deck does under our control; a cue or seek is judged
// by where the deck is, whoever moved it.
bool isWorkState(DWORD state) {
  return state != kStateNone && (state < kStateCue || state > kStateCueDone);
}

// What the deck shows at this visit, for the background command's verdict.
void observe(DeviceRecord* rec, DWORD status) {
  PollTracking& t = rec->poll;
  if (rec->sense.fRecordBit) t.fRecordSeen = true;
  if (rec->dwPendingState == kStateAutoEdit &&
      ((status & VTR_STAT_EDIT) != 0 || rec->sense.fRecordBit)) {
    t.fEditSeen = true;
  }
}

void act(DeviceRecord* rec, DWORD pos, DWORD mode, DWORD status) {
  PollTracking& t = rec->poll;
  // A deck under its own front panel's control does none of our work.
  if ((status & VTR_STAT_LOCAL) != 0 && isWorkState(rec->dwPendingState)) {
    if (isRecordTo(rec->dwPendingState)) endRecording(rec);
    fail(rec, false);
    return;
  }
  switch (rec->dwPendingState) {
    case kStateNone:
      if (rec->dwNextState != kStateNone) {
        rec->dwPendingState = rec->dwNextState;
        rec->dwPendingDelay = rec->dwNextDelay;
        rec->dwPendingTo = rec->dwNextTo;
        rec->dwPendingFrom = rec->dwNextFrom;
        dropQueued(rec);
        // The from step's play or record already runs toward the queued end.
        if (t.fStarted && status != 0) watchTo(rec, pos);
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
        // Done when the rewind was taken and the counter preset too.
        if (kestrelSendCmd(rec, TIMER1PRE_422, 1) != 0 || t.fRefused) notifyFailure(rec);
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
      // A refused cue fails, wherever the deck happens to be.
      if (Arrived(rec->dwPendingTo, pos) && !t.fRefused) {
        DeliverOwed(rec, MCI_NOTIFY_SUCCESSFUL);
      } else {
        notifyFailure(rec);
      }
      finish(rec);
      return;

    case kStatePlayFrom:
    case kStateRecordFrom:
      if (rec->dwPendingFrom != 0) sendCue(rec);
      if (delaying(rec)) return;
      if ((status & VTR_STAT_CUE_ARRIVED) != 0) {
        // The play or record starts only where it was asked to.
        if (t.fCued && !Arrived(t.dwFromFrames, pos)) {
          fail(rec, false);
          return;
        }
        const bool play = rec->dwPendingState == kStatePlayFrom;
        rec->dwPendingDelay = play ? 1 : 2;
        rec->dwPendingState = play ? kStatePlayFromStart : kStateRecordFromStart;
      }
      return;

    case kStatePlayFromStart:
      if (rec->dwPendingDelay != 0) {
        kestrelSendCmd(rec, PAUSE_422, 1);
        --rec->dwPendingDelay;
        return;
      }
      t.dwStartPos = pos;
      t.fStarted = true;
      if (kestrelSendCmd(rec, PLAY_422, 1) != 0) {
        fail(rec, false);
        return;
      }
      finish(rec);
      return;

    case kStatePlayTo:
    case kStateRecordTo: {
      const bool play = rec->dwPendingState == kStatePlayTo;
      if (t.fStarted && watchTo(rec, pos)) return;
      if (convertingDelay(rec)) return;
      const bool moving = t.fStarted;
      if (!moving) {
        // A play or record that begins past its end cannot do what it was asked.
        t.dwStartPos = pos;
        if (pos > (play ? rec->dwPendingTo : t.dwAskedTo)) {
          fail(rec, false);
          return;
        }
      }
      t.fStarted = true;
      if (kestrelSendCmd(rec, play ? PLAY_422 : REC_422, 1) != 0) {
        fail(rec, moving);
        return;
      }
      if (play) {
        rec->dwPendingDelay = 8;
        rec->dwPendingState = kStatePlayToWatch;
      } else {
        rec->wPollPeriod = kPollPeriodRecord;
        setTimerPeriod(kPollPeriodRecord, kSlowTicksRecord);
        rec->dwPendingDelay = 4;
        rec->dwPendingState = kStateRecordToWatch;
      }
      return;
    }

    case kStatePlayToWatch:
      // Every visit looks for the end, the delay's too; only the early-end
      // statuses wait for the delay, since a play shows a few frames late.
      if (watchTo(rec, pos)) return;
      if (delaying(rec)) return;
      if ((status & VTR_STAT_PLAY_ENDED) != 0 || restedTooLong(rec, status)) {
        // The play ended early: stopped, wound, recording, no tape, a fault,
        // or left play (paused) and stayed out of it.
        fail(rec, true);
      }
      return;

    case kStateRecordFromStart:
      if (!t.fStarted) {
        if (delaying(rec)) return;
        t.dwStartPos = pos;
        t.fStarted = true;
        if (kestrelSendCmd(rec, REC_422, 1) != 0) {
          fail(rec, false);
        } else if (rec->dwNextState != kStateNone) {
          finish(rec);  // the queued record-to watches it from here
        }
        return;
      }
      // A record from a position alone is done once the deck shows it records;
      // one that does not within the rest rule's time (record inhibited), or
      // loses its tape, is not.
      if (t.fRecordSeen) {
        finish(rec);
      } else if ((status & (VTR_STAT_NO_TAPE | VTR_STAT_HARD_ERROR)) != 0 ||
                 t.rest.Add(true, kRestPeriodsBeforeGivingUp)) {
        fail(rec, false);
      }
      return;

    case kStateRecordToWatch:
      if (watchTo(rec, pos)) return;
      if (delaying(rec)) return;
      if ((status & VTR_STAT_PLAY) != 0) return;  // a recording deck shows play
      // Not recording: a deck that has not begun yet gets the rest rule's time
      // (in this period's visits) to show it; one that has, ended short of its end.
      if (!t.fRecordSeen && pos <= t.dwStartPos &&
          (status & (VTR_STAT_NO_TAPE | VTR_STAT_HARD_ERROR)) == 0 &&
          !t.rest.Add(true, kRecordRestVisits)) {
        return;
      }
      endRecording(rec);
      fail(rec, false);
      return;

    case kStateStripeRewind:
      if (delaying(rec)) return;
      if ((status & VTR_STAT_REWIND) != 0 && mode != VTR_MODE_IDLE) return;
      rec->dwPendingDelay = 10;
      rec->dwPendingState = kStateStripeRecord;
      if (kestrelSendCmd(rec, REC_422, 1) != 0) t.fRefused = true;
      return;

    case kStateStripeRecord: {
      // A recording deck shows play as well as record: either bit means the
      // stripe is running.
      const bool recording = (status & VTR_STAT_PLAY_OR_RECORD) != 0;
      // A stripe given an end stops recording there.
      if (rec->dwPendingTo != 0 && recording && pos > positionConvert(rec, rec->dwPendingTo)) {
        kestrelSendCmd(rec, STOP_422, 1);
        t.fReached = true;
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
      // Striped when the deck was seen recording, to its end position when it
      // was given one.
      if (t.fRefused || !t.fRecordSeen || (rec->dwPendingTo != 0 && !t.fReached)) {
        notifyFailure(rec);
      }
      finish(rec);
      return;

    case kStateAutoEdit:
      if (delaying(rec)) return;
      if ((status & VTR_STAT_EDIT_RUNNING) != 0 && mode != VTR_MODE_IDLE) return;
      // Edited when the deck was seen editing and ran through the out point.
      if (t.fRefused || !t.fEditSeen || pos < t.dwAskedTo) notifyFailure(rec);
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
    abortPending(rec, MCI_NOTIFY_FAILURE);
    LeaveCriticalSection(&csLink);
    return;
  }
  if (rec->dwPendingState != t.dwRestState) {
    t.dwRestState = rec->dwPendingState;
    t.rest.Reset();
  }
  // A visit without a reading (no answer, or one that failed its checksum)
  // moves no state: several states would read the missing bits as the end of
  // a motion. It only counts toward the abort above.
  if (status != 0) observe(rec, status);
  if (status != 0 || rec->dwPendingState == kStateNone) act(rec, pos, mode, status);
  LeaveCriticalSection(&csLink);
}

}  // namespace

void ResetPollState() { nTimerCheck = 10; }

void TrackCommand(DeviceRecord* rec) {
  PollTracking& t = rec->poll;
  const DWORD generation = t.dwGeneration;
  const BYTE waitEnd = t.bWaitEnd;
  t = PollTracking{};
  t.dwGeneration = generation;
  t.dwCmdGeneration = generation;
  t.bWaitEnd = waitEnd;
}

void AbandonCommand(DeviceRecord* rec, UINT uStatus) {
  abortPending(rec, uStatus);
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

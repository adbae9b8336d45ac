// Transport commands: stop, pause, play, cue, seek, step, shuttle, fast
// forward and rewind.
#include <cstdint>

#include "commands/handlers.h"
#include "completion/completion.h"
#include "link/frames.h"
#include "link/queries.h"
#include "link/timecode.h"
#include "monitor/poll.h"
#include "record/parms.h"

// Shuttle speed bytes by shuttle factor; factor 7 is normal play speed.
const BYTE bSpeedLevels[16] = {0x05, 0x05, 0x0F, 0x19, 0x23, 0x2C, 0x36, 0x40,
                               0x49, 0x53, 0x5D, 0x66, 0x70, 0x79, 0x83, 0x83};

namespace {

constexpr DWORD kFlagPlayReverse = 0x10000;
constexpr DWORD kFlagPlayAt = 0x20000;
constexpr DWORD kFlagPlayScan = 0x40000;
constexpr DWORD kFlagCueInput = 0x10000;
constexpr DWORD kFlagCueOutput = 0x20000;
constexpr DWORD kFlagCueReverse = 0x80000;
constexpr DWORD kFlagSeekToStart = 0x100;
constexpr DWORD kFlagSeekToEnd = 0x200;
constexpr DWORD kFlagSeekAt = 0x40000;
constexpr DWORD kFlagStepBy = 0x10000;
constexpr DWORD kFlagStepReverse = 0x20000;
constexpr DWORD kFlagShuttleFactor = 0x10000;
constexpr BYTE kShuttleSpeedAtLoad = 0x60;
constexpr BYTE kScanSpeed = 0x66;
constexpr BYTE kPlaySpeed = 0x40;

// Sends a table entry whose speed byte is set first; the byte stays.
DWORD sendWithSpeed(DeviceRecord* rec, CommandFrame frame, BYTE speed) {
  LinkGuard link;
  frame[3] = speed;
  return kestrelSendCmd(rec, frame, 1);
}

// Immediate pattern: send, wait with the mask, notify.
DWORD immediate(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms, CommandFrame frame, DWORD mask) {
  const DWORD r = chkWait(rec, dwFlags, mask, kestrelSendCmd(rec, frame, 1));
  chkNotify(rec, dwFlags, lpParms, r);
  return r;
}

// Fills CUE_DATA_422 with a position and sends it.
DWORD sendCueTo(DeviceRecord* rec, DWORD position, DWORD fConvert) {
  LinkGuard link;
  frame422tc(rec, position, &CUE_DATA_422[3], rec->wTCFormat, fConvert);
  return kestrelSendCmd(rec, CUE_DATA_422, 1);
}

void background(DeviceRecord* rec, DWORD state, DWORD delay, DWORD from, DWORD to) {
  rec->fMotionDone = 0;
  rec->dwPendingFrom = from;
  rec->dwPendingTo = to;
  rec->dwPendingDelay = delay;
  rec->dwPendingState = state;
  rec->dwNextState = kStateNone;
  TrackCommand(rec);
}

// Answers and notifies a command that ends before anything moves.
DWORD endNow(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms, DWORD result) {
  chkNotify(rec, dwFlags, lpParms, result);
  return result;
}

// A machine that cannot cue leaves the tape where it is: a cue or seek there
// is where it was asked to be; anywhere else it cannot be done.
bool alreadyThere(DeviceRecord* rec, DWORD target) {
  bool answered = false;
  const DWORD pos = kestrelGetPosition(rec, 0, &answered);
  return answered && Arrived(positionConvert(rec, target), pos);
}

}  // namespace

DWORD kestrelMciStop(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  chkEntry(rec, dwFlags, lpParms);
  return immediate(rec, dwFlags, lpParms, STOP_422, ~VTR_STAT_STOP);
}

DWORD kestrelMciBreak(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  // A break ends the owed command before its end, which its notification says.
  DeliverOwed(rec, MCI_NOTIFY_ABORTED);
  return kestrelMciStop(rec, dwFlags, lpParms);
}

DWORD kestrelMciPause(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  chkEntry(rec, dwFlags, lpParms);
  return immediate(rec, dwFlags, lpParms, PAUSE_422, ~VTR_STAT_STILL);
}

DWORD kestrelMciFf(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  const DWORD mode = kestrelGetModeX(rec);
  chkEntry(rec, dwFlags, lpParms);
  if (mode == MCI_MODE_STOP || mode == VTR_MODE_SCAN_FORWARD) {
    return immediate(rec, dwFlags, lpParms, FAST_FWD_422, ~VTR_STAT_FAST_FORWARD);
  }
  return immediate(rec, dwFlags, lpParms, SHTL_FWD_422, ~VTR_STAT_SHUTTLE);
}

DWORD kestrelMciRw(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  const DWORD mode = kestrelGetModeX(rec);
  chkEntry(rec, dwFlags, lpParms);
  if (mode == MCI_MODE_STOP || mode == VTR_MODE_SCAN_REVERSE) {
    return immediate(rec, dwFlags, lpParms, FAST_REV_422, ~VTR_STAT_REWIND);
  }
  return immediate(rec, dwFlags, lpParms, SHTL_REV_422, ~VTR_STAT_SHUTTLE);
}

DWORD kestrelMciShuttle(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  chkEntry(rec, dwFlags, lpParms);
  if ((dwFlags & kFlagShuttleFactor) == 0) return MCIERR_MISSING_PARAMETER;
  auto* parms = static_cast<VTR_SHUTTLE_PARMS*>(lpParms);
  int factor = static_cast<std::int32_t>(parms->dwFactor);
  factor = factor < -15 ? -15 : factor > 15 ? 15 : factor;
  parms->dwFactor = static_cast<DWORD>(factor);
  {
    LinkGuard link;
    CommandFrame frame = factor < 0 ? SHTL_REV_422 : SHTL_FWD_422;
    frame[3] = bSpeedLevels[factor < 0 ? -factor : factor];
    kestrelSendCmd(rec, frame, 1);
    frame[3] = kShuttleSpeedAtLoad;
  }
  // A shuttle reports success whatever the machine answered, but not a wait
  // given up on a machine that stopped answering.
  const DWORD r = chkWait(rec, dwFlags, ~VTR_STAT_SHUTTLE, 0);
  chkNotify(rec, dwFlags, lpParms, r);
  return r;
}

DWORD kestrelMciStep(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  chkEntry(rec, dwFlags, lpParms);
  auto* parms = static_cast<VTR_STEP_PARMS*>(lpParms);
  const bool reverse = (dwFlags & kFlagStepReverse) != 0;
  const bool by = (dwFlags & kFlagStepBy) != 0;
  const DWORD frames = by ? parms->dwFrames : 1;
  if (frames >= FramesPerDay(rec)) return endNow(rec, dwFlags, lpParms, MCIERR_OUTOFRANGE);
  kestrelSendCmd(rec, PAUSE_422, 1);  // the step's result is that of the last send
  const bool wait = (dwFlags & MCI_WAIT) != 0;
  bool known = false;
  DWORD pos = 0;
  DWORD r;
  if (rec->CanStep != 0 && !by) {
    // With wait the step is judged by where it leaves the tape.
    if (wait) pos = kestrelGetPosition(rec, 0, &known);
    r = kestrelSendCmd(rec, reverse ? STEP_REV_422 : STEP_FWD_422, 1);
  } else {
    pos = kestrelGetPosition(rec, 0, &known);
    // Off the tape's clock: before its start, or past the 24 hours where it wraps.
    if (reverse ? frames > pos : pos + frames >= FramesPerDay(rec)) {
      return endNow(rec, dwFlags, lpParms, MCIERR_OUTOFRANGE);
    }
    r = sendCueTo(rec, reverse ? pos - frames : pos + frames, 0);
  }
  r = chkWait(rec, dwFlags, ~(VTR_STAT_STOP | VTR_STAT_STILL), r);
  if (wait && r == 0) {
    // Done when the deck moved the asked way and arrived the asked frames on.
    bool answered = false;
    const DWORD now = kestrelGetPosition(rec, 0, &answered);
    const DWORD target = reverse ? pos - frames : pos + frames;
    const bool moved = reverse ? now < pos : now > pos;
    if (!known || !answered || !moved || !Arrived(target, now)) r = MCIERR_HARDWARE;
  }
  chkNotify(rec, dwFlags, lpParms, r);
  return r;
}

DWORD kestrelMciPlay(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  chkEntry(rec, dwFlags, lpParms);
  auto* parms = static_cast<VTR_PLAY_PARMS*>(lpParms);
  const DWORD combo =
      dwFlags & (MCI_FROM | MCI_TO | kFlagPlayReverse | kFlagPlayAt | kFlagPlayScan);

  if (combo == MCI_FROM || combo == kFlagPlayAt || combo == MCI_TO ||
      combo == (MCI_FROM | MCI_TO)) {
    // Positions off the tape's clock are refused before anything moves.
    const bool fromOk = (combo & (MCI_FROM | kFlagPlayAt)) == 0 ||
                        PositionInRange(rec, combo == kFlagPlayAt ? parms->dwAt : parms->dwFrom);
    const bool toOk = (combo & MCI_TO) == 0 || PositionInRange(rec, parms->dwTo);
    if (!fromOk || !toOk) return endNow(rec, dwFlags, lpParms, MCIERR_OUTOFRANGE);
    if (combo == MCI_TO) {
      background(rec, kStatePlayTo, 6, 0, parms->dwTo);
    } else {
      background(rec, kStatePlayFrom, 18, combo == kFlagPlayAt ? parms->dwAt : parms->dwFrom, 0);
      if (combo == (MCI_FROM | MCI_TO)) {
        rec->dwNextState = kStatePlayTo;
        rec->dwNextDelay = 6;
        rec->dwNextTo = parms->dwTo;
        rec->dwNextFrom = 0;
      }
    }
    OweNotify(rec, dwFlags, lpParms);
    return CheckWait(rec, dwFlags, 0, 0);
  }

  DWORD r = 0;
  DWORD mask = ~VTR_STAT_SHUTTLE;
  if (combo == kFlagPlayScan) {
    r = sendWithSpeed(rec, SHTL_FWD_422, kScanSpeed);
  } else if (combo == (kFlagPlayScan | kFlagPlayReverse)) {
    r = sendWithSpeed(rec, SHTL_REV_422, kScanSpeed);
  } else {
    // The speed rule: near normal speed play (or reverse play); otherwise shuttle.
    const bool reverse = combo == kFlagPlayReverse;
    if (rec->dwSpeed >= 951 && rec->dwSpeed <= 1049) {
      if (reverse) {
        r = sendWithSpeed(rec, SHTL_REV_422, kPlaySpeed);
      } else {
        r = kestrelSendCmd(rec, PLAY_422, 1);
        mask = ~VTR_STAT_PLAY;
      }
    } else {
      const std::int64_t speed = rec->dwSpeed;
      VTR_SHUTTLE_PARMS shuttle{
          0, static_cast<DWORD>(static_cast<std::int32_t>(reverse ? speed / -143 : speed / 143))};
      kestrelMciShuttle(rec, kFlagShuttleFactor, &shuttle);
      // A play asked to notify is told, whatever the speed; with wait, once
      // the deck shuttles.
      r = chkWait(rec, dwFlags, ~VTR_STAT_SHUTTLE, 0);
      chkNotify(rec, dwFlags & ~MCI_WAIT, lpParms, r);
      return r;
    }
  }
  r = chkWait(rec, dwFlags, mask, r);
  chkNotify(rec, dwFlags & ~MCI_WAIT, lpParms, r);
  CheckWait(rec, dwFlags & ~MCI_WAIT, 0, r);
  return r;
}

DWORD kestrelMciCue(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  chkEntry(rec, dwFlags, lpParms);
  auto* parms = static_cast<VTR_CUE_PARMS*>(lpParms);
  DWORD target;
  if ((dwFlags & MCI_TO) != 0) {
    target = parms->dwTo;
  } else if ((dwFlags & MCI_FROM) != 0) {
    target = parms->dwFrom;
  } else if ((dwFlags & kFlagCueInput) != 0) {
    target = rec->dwInPoint;
  } else if ((dwFlags & (kFlagCueOutput | kFlagCueReverse)) != 0) {
    target = rec->dwOutPoint;
  } else {
    const DWORD preroll = rec->fUseRecPreRoll != 0 ? rec->RecPreRoll : rec->PreRoll;
    if (rec->dwInPoint < preroll) return endNow(rec, dwFlags, lpParms, MCIERR_BAD_INTEGER);
    target = rec->dwInPoint - preroll;
  }
  if (!PositionInRange(rec, target)) return endNow(rec, dwFlags, lpParms, MCIERR_OUTOFRANGE);
  if (rec->CanCue == 0 && !alreadyThere(rec, target)) {
    return endNow(rec, dwFlags, lpParms, MCIERR_HARDWARE);
  }
  DWORD r = 0;
  if (rec->CanCue != 0) r = sendCueTo(rec, target, 1);
  // The poll checks arrival against the target actually cued, whatever chose
  // it; a wait follows that command to its verdict.
  background(rec, kStateCue, 18, 0, target);
  rec->poll.fRefused = r != 0;
  OweNotify(rec, dwFlags, lpParms);
  return chkWaitOwn(rec, dwFlags, VTR_STAT_CUE_COMPLETE, r);
}

DWORD kestrelMciSeek(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  chkEntry(rec, dwFlags, lpParms);
  auto* parms = static_cast<VTR_SEEK_PARMS*>(lpParms);
  if ((dwFlags & kFlagSeekToStart) != 0) {
    return immediate(rec, dwFlags, lpParms, FAST_REV_422, VTR_STAT_STOP | VTR_STAT_STILL);
  }
  if ((dwFlags & kFlagSeekToEnd) != 0) {
    return immediate(rec, dwFlags, lpParms, FAST_FWD_422, VTR_STAT_STOP | VTR_STAT_STILL);
  }
  const bool to = (dwFlags & MCI_TO) != 0;
  if (to || (dwFlags & kFlagSeekAt) != 0) {
    const DWORD target = to ? parms->dwTo : parms->dwAt;
    if (!PositionInRange(rec, target)) return endNow(rec, dwFlags, lpParms, MCIERR_OUTOFRANGE);
    if (rec->CanCue == 0) {
      return endNow(rec, dwFlags, lpParms, alreadyThere(rec, target) ? 0 : MCIERR_HARDWARE);
    }
  }
  if (to) {
    kestrelSendCmd(rec, PAUSE_422, 1);
    const DWORD r = sendCueTo(rec, parms->dwTo, 1);
    background(rec, kStateCue, 18, 0, parms->dwTo);
    rec->poll.fRefused = r != 0;
    OweNotify(rec, dwFlags, lpParms);
    return chkWaitOwn(rec, dwFlags, VTR_STAT_CUE_COMPLETE, r);
  }
  if ((dwFlags & kFlagSeekAt) != 0) {
    DWORD r = sendCueTo(rec, parms->dwAt, 1);
    r = chkWaitCue(rec, dwFlags, VTR_STAT_PREROLL, r, positionConvert(rec, parms->dwAt));
    chkNotify(rec, dwFlags, lpParms, r);
    return r;
  }
  return endNow(rec, dwFlags, lpParms, MCIERR_UNSUPPORTED_FUNCTION);
}

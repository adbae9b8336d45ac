// Recording and editing: record, edit points, striping and calibration.
#include "commands/handlers.h"
#include "completion/completion.h"
#include "link/frames.h"
#include "link/timecode.h"
#include "monitor/poll.h"
#include "record/parms.h"

namespace {

constexpr DWORD kEditTrack = 0x10000;
constexpr DWORD kEditInPoint = 0x100000;
constexpr DWORD kEditOutPoint = 0x200000;
constexpr DWORD kEditDuration = 0x400000;
constexpr DWORD kEditSrcIn = 0x40000;
constexpr DWORD kEditSrcOut = 0x80000;
constexpr DWORD kEditPreRoll = 0x800000;
constexpr DWORD kEditRecPreRoll = 0x4000000;
constexpr DWORD kEditPostRoll = 0x1000000;
constexpr DWORD kEditReset = 0x2000000;
constexpr DWORD kEditUseRecPreRoll = 0x40000000;
constexpr DWORD kEditAssemble = 0x80000000;

constexpr DWORD kRecordInitialize = 0x10000;
constexpr DWORD kRecordAt = 0x20000;
constexpr DWORD kRecordPreview = 0x40000;
constexpr DWORD kStripeStart = 0x10000;
constexpr DWORD kStripeEnd = 0x20000;
constexpr DWORD kStripeLimit = 2392000;

constexpr BYTE kPresetAssemble = 0x20;
constexpr BYTE kPresetInsert = 0x40;

// The edit preset byte from the edit selection.
BYTE editPresetByte(const DeviceRecord* rec) {
  BYTE b = static_cast<BYTE>(rec->dwInsertAudio & 3);
  if (rec->fInsertTC != 0) b |= 0x04;
  if (rec->fInsertVideo != 0) b |= 0x10;
  return rec->fAssembleRecord != 0 ? kPresetAssemble : static_cast<BYTE>(b | kPresetInsert);
}

DWORD sendPreset(DeviceRecord* rec, BYTE preset) {
  LinkGuard link;
  EDITPRE_422[3] = preset;
  return kestrelSendCmd(rec, EDITPRE_422, 1);
}

// Fills a timecode entry and sends it.
DWORD sendTimecode(DeviceRecord* rec, CommandFrame frame, DWORD position, DWORD fConvert) {
  LinkGuard link;
  frame422tc(rec, position, &frame[3], rec->wTCFormat, fConvert);
  return kestrelSendCmd(rec, frame, 1);
}

// Sent only when the machine can edit; otherwise success without traffic.
DWORD sendIfCanEdit(DeviceRecord* rec, CommandFrame frame, DWORD position, DWORD fConvert) {
  return rec->CanEdit != 0 ? sendTimecode(rec, frame, position, fConvert) : 0;
}

// Hands a command to the poll: what the poll observes from now on is its.
void handOver(DeviceRecord* rec, DWORD state, DWORD delay) {
  rec->fMotionDone = 0;
  rec->dwPendingDelay = delay;
  rec->dwPendingState = state;
  rec->dwNextState = kStateNone;
  TrackCommand(rec);
}

}  // namespace

DWORD EditPresetByte(const DeviceRecord* rec) { return editPresetByte(rec); }

DWORD kestrelMciEditPoint(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  auto* p = static_cast<VTR_EDIT_PARMS*>(lpParms);
  // Words the command-string interface leaves 0 take the in or out point.
  if (p->dwOutPoint == 0) p->dwOutPoint = p->dwInPoint;
  if (p->dwSrcInPoint == 0) p->dwSrcInPoint = p->dwInPoint;
  if (p->dwSrcOutPoint == 0) p->dwSrcOutPoint = p->dwInPoint;
  if (p->dwPreRoll == 0) p->dwPreRoll = p->dwOutPoint;
  if (p->dwRecPreRoll == 0) p->dwRecPreRoll = p->dwOutPoint;
  if (p->dwPostRoll == 0) p->dwPostRoll = p->dwOutPoint;
  if (p->dwDuration == 0) p->dwDuration = p->dwOutPoint;

  switch (dwFlags) {
    case kEditTrack: {
      rec->dwInsertAudio = p->dwTrack & 3;
      rec->fInsertTC = (p->dwTrack >> 2) & 1;
      rec->fInsertVideo = (p->dwTrack >> 4) & 1;
      return rec->CanEdit != 0 ? sendPreset(rec, editPresetByte(rec)) : 0;
    }
    case kEditInPoint:
      rec->dwInPoint = p->dwInPoint;
      if (rec->dwOutPoint != 0) rec->dwDuration = rec->dwOutPoint - p->dwInPoint;
      return sendIfCanEdit(rec, INDATA_422, p->dwInPoint, 1);
    case kEditOutPoint:
      rec->dwOutPoint = p->dwOutPoint;
      if (rec->dwInPoint != 0) rec->dwDuration = p->dwOutPoint - rec->dwInPoint;
      return sendIfCanEdit(rec, OUTDATA_422, p->dwOutPoint, 1);
    case kEditDuration:
      rec->dwDuration = p->dwDuration;
      if (rec->dwInPoint != 0) {
        rec->dwOutPoint = rec->dwInPoint + p->dwDuration;
        return sendIfCanEdit(rec, OUTDATA_422, rec->dwOutPoint, 0);
      }
      if (rec->dwOutPoint != 0) {
        rec->dwInPoint = rec->dwOutPoint - p->dwDuration;
        return sendIfCanEdit(rec, INDATA_422, rec->dwInPoint, 0);
      }
      return 0;
    case kEditSrcIn:
      rec->dwSrcInPoint = p->dwSrcInPoint;
      return 0;
    case kEditSrcOut:
      rec->dwSrcOutPoint = p->dwSrcOutPoint;
      return 0;
    case kEditPreRoll:
      rec->PreRoll = static_cast<WORD>(p->dwPreRoll);
      return sendIfCanEdit(rec, PRETIME_422, p->dwPreRoll, 1);
    case kEditRecPreRoll:
      rec->RecPreRoll = static_cast<WORD>(p->dwRecPreRoll);
      return sendIfCanEdit(rec, PRETIME_422, p->dwRecPreRoll, 1);
    case kEditPostRoll:
      rec->PostRoll = rec->RecPostRoll = static_cast<WORD>(p->dwPostRoll);
      return 0;
    case kEditReset: {
      rec->dwInPoint = rec->dwSrcInPoint = 0;
      kestrelSendCmd(rec, INFLAGRST_422, 1);
      rec->dwOutPoint = rec->dwSrcOutPoint = 0;
      kestrelSendCmd(rec, OUTFLAGRST_422, 1);
      rec->dwDuration = 0;
      rec->PreRoll = rec->RecPreRoll = rec->InsPreRoll;
      const DWORD r = sendTimecode(rec, PRETIME_422, rec->InsPreRoll, 0);
      rec->PostRoll = rec->RecPostRoll = rec->InsPostRoll;
      rec->fUseRecPreRoll = rec->fAssembleRecord = 0;
      sendPreset(rec, 0);
      rec->dwInsertAudio = 0;
      return r;
    }
    case 0x08000000:
    case 0x10000000:
    case 0x20000000:
      return 0;
    case kEditUseRecPreRoll:
      rec->fUseRecPreRoll = 1;
      return 0;
    case kEditAssemble:
      rec->fAssembleRecord = 1;
      return rec->CanEdit != 0 ? sendPreset(rec, kPresetAssemble) : 0;
    case 0x8000:
    case 0x20000:
      return MCIERR_UNSUPPORTED_FUNCTION;
    default:
      return MCIERR_MISSING_PARAMETER;
  }
}

DWORD kestrelMciEditPointStatus(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  auto* p = static_cast<VTR_EDITSTATUS_PARMS*>(lpParms);
  switch (dwFlags) {
    case kEditSrcIn:
      p->dwReturn = rec->dwSrcInPoint;
      return 0;
    case kEditSrcOut:
      p->dwReturn = rec->dwSrcOutPoint;
      return 0;
    case kEditInPoint:
      p->dwReturn = rec->dwInPoint;
      return 0;
    case kEditOutPoint:
      p->dwReturn = rec->dwOutPoint;
      return 0;
    case kEditDuration:
      p->dwReturn = rec->dwDuration;
      p->dwExtra = 0x10000;
      return 0;
    case kEditPreRoll:
      p->dwReturn = rec->PreRoll;
      return 0;
    case kEditPostRoll:
      p->dwReturn = rec->PostRoll;
      return 0;
    case kEditRecPreRoll:
      p->dwReturn = rec->RecPreRoll;
      return 0;
    default:
      return MCIERR_MISSING_PARAMETER;
  }
}

DWORD kestrelMciStripe(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  auto* p = static_cast<VTR_STRIPE_PARMS*>(lpParms);
  chkEntry(rec, dwFlags, lpParms);
  kestrelSendCmd(rec, FAST_REV_422, 1);
  {
    LinkGuard link;
    UBPRE_422[3] = static_cast<BYTE>(rec->UserBits >> 24);
    UBPRE_422[4] = static_cast<BYTE>(rec->UserBits >> 16);
    UBPRE_422[5] = static_cast<BYTE>(rec->UserBits >> 8);
    UBPRE_422[6] = static_cast<BYTE>(rec->UserBits);
    kestrelSendCmd(rec, UBPRE_422, 1);
  }
  sendPreset(rec, 0x35);  // assemble with video, timecode and audio channel 1
  rec->dwPendingTo = (dwFlags & kStripeEnd) != 0 && p->dwEnd < kStripeLimit ? p->dwEnd : 0;
  const bool haveStart = (dwFlags & kStripeStart) != 0 && p->dwStart < kStripeLimit;
  const DWORD r = sendTimecode(rec, TCPRE_422, haveStart ? p->dwStart : 0, haveStart ? 1 : 0);
  rec->dwPendingFrom = 0;
  handOver(rec, kStateStripeRewind, 18);
  if (r != 0) {
    chkNotify(rec, dwFlags, lpParms, r);
    return r;
  }
  // The stripe's notification, and a wait, tell how the recording ended.
  OweNotify(rec, dwFlags, lpParms);
  return CheckWait(rec, dwFlags, 4, r);
}

DWORD kestrelMciCalibrate(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  chkEntry(rec, dwFlags, lpParms);
  {
    LinkGuard link;
    TIMER1PRE_422[3] = TIMER1PRE_422[4] = TIMER1PRE_422[5] = TIMER1PRE_422[6] = 0;
  }
  const DWORD r = kestrelSendCmd(rec, FAST_REV_422, 1);
  handOver(rec, kStateCalibrateRewind, 18);
  rec->poll.fRefused = r != 0;
  OweNotify(rec, dwFlags, lpParms);
  return CheckWait(rec, dwFlags, 4, r);
}

DWORD kestrelMciRecord(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  auto* p = static_cast<VTR_RECORD_PARMS*>(lpParms);
  chkEntry(rec, dwFlags, lpParms);
  const DWORD sel = dwFlags & 0x7000C;
  DWORD r = 0;
  bool handedOver = false;

  // Positions off the tape's clock are refused before anything moves.
  const bool fromUsed = sel == MCI_FROM || sel == kRecordAt || sel == (MCI_FROM | MCI_TO);
  const bool toUsed = sel == MCI_TO || sel == (MCI_FROM | MCI_TO);
  if ((fromUsed && !PositionInRange(rec, p->dwFrom)) ||
      (toUsed && !PositionInRange(rec, p->dwTo))) {
    chkNotify(rec, dwFlags, lpParms, MCIERR_OUTOFRANGE);
    return MCIERR_OUTOFRANGE;
  }

  if (sel == MCI_FROM || sel == kRecordAt) {
    rec->dwPendingFrom = p->dwFrom;  // the from word also for "at"
    handOver(rec, kStateRecordFrom, 18);
    handedOver = true;
  } else if (sel == MCI_TO) {
    rec->dwPendingTo = p->dwTo + static_cast<DWORD>(static_cast<int>(rec->EditOut));
    handOver(rec, kStateRecordTo, 6);
    rec->poll.dwAskedTo = positionConvert(rec, p->dwTo);
    handedOver = true;
  } else if (sel == (MCI_FROM | MCI_TO)) {
    if (rec->CanEdit == 0) {
      rec->dwPendingFrom = p->dwFrom;
      handOver(rec, kStateRecordFrom, 18);
      rec->dwNextTo = p->dwTo - static_cast<DWORD>(static_cast<int>(rec->EditOut));
      rec->dwNextDelay = 6;
      rec->dwNextState = kStateRecordTo;
      rec->poll.dwAskedTo = positionConvert(rec, p->dwTo);
      handedOver = true;
    } else {
      BYTE preset = editPresetByte(rec);
      if (preset == kPresetInsert) preset = 0x53;  // insert of video and both audio channels
      if (rec->CanAuto != 0) {
        r = sendPreset(rec, preset);
        r |= sendTimecode(rec, INDATA_422, p->dwFrom, 1);
        r |= sendTimecode(rec, OUTDATA_422, p->dwTo, 1);
        if (r == 0) {
          r = kestrelSendCmd(rec, AUTOEDIT_422, 1);
          rec->dwPendingFrom = 0;
          rec->dwPendingTo = 0;
          handOver(rec, kStateAutoEdit, 16);
          rec->poll.fRefused = r != 0;
          rec->poll.dwAskedTo = positionConvert(rec, p->dwTo);  // the out point
          handedOver = true;
        }
      } else {
        r = sendPreset(rec, preset);
        // Only armed: nothing will record, so a wait for it cannot end as asked.
        if (r == 0 && (dwFlags & MCI_WAIT) != 0) r = MCIERR_HARDWARE;
        if (r != 0) {
          chkNotify(rec, dwFlags, lpParms, r);
          return r;
        }
        handedOver = true;  // owed like the other forms, though no background command follows
      }
    }
  } else if (sel == kRecordPreview) {
    return MCIERR_UNSUPPORTED_FUNCTION;
  } else {
    if (sel == kRecordInitialize) {
      VTR_STRIPE_PARMS stripe{0, 0, 2392001, 2391999};
      kestrelMciStripe(rec, 0xF0000, &stripe);
      dwFlags &= ~MCI_WAIT;
    }
    r = kestrelSendCmd(rec, REC_422, 1);
    r = chkWait(rec, dwFlags, ~VTR_STAT_RECORD, r);
    dwFlags &= ~MCI_WAIT;
    chkNotify(rec, dwFlags, lpParms, r);
  }
  if (handedOver) OweNotify(rec, dwFlags, lpParms);
  return CheckWait(rec, dwFlags, 4, r);
}

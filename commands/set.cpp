// Set commands: formats, speed, time mode, edit selection, eject.
#include "commands/handlers.h"
#include "completion/completion.h"
#include "link/frames.h"
#include "link/timecode.h"
#include "record/parms.h"

DWORD EditPresetByte(const DeviceRecord* rec);

namespace {

constexpr DWORD kSetDoorOpen = 0x100;
constexpr DWORD kSetTimeFormat = 0x400;
constexpr DWORD kSetAudio = 0x800;
constexpr DWORD kSetVideo = 0x1000;
constexpr DWORD kSetOn = 0x2000;
constexpr DWORD kSetTimeMode = 0x10000;
constexpr DWORD kSetPower = 0x20000;
constexpr DWORD kSetRecordFormat = 0x40000;
constexpr DWORD kSetCounterFormat = 0x80000;
constexpr DWORD kSetIndex = 0x100000;
constexpr DWORD kSetAssemble = 0x200000;
constexpr DWORD kSetSpeed = 0x800000;
constexpr DWORD kSetLength = 0x1000000;
constexpr DWORD kSetCounter = 0x2000000;

constexpr DWORD kAvRecord = 0x10000;
constexpr DWORD kAvSource = 0x20000;
constexpr DWORD kAvMonitor = 0x40000;

constexpr DWORD kTimeModeTimecode = 0x50C;
constexpr DWORD kTimeModeCounter = 0x50D;
constexpr DWORD kTimeModeDetect = 0x50E;

bool acceptedFormat(DWORD f) { return f <= MCI_FORMAT_SMPTE_30DROP || f == MCI_FORMAT_TMSF; }

DWORD sendByte(DeviceRecord* rec, CommandFrame frame, BYTE value) {
  LinkGuard link;
  frame[3] = value;
  return kestrelSendCmd(rec, frame, 1);
}

DWORD setTimeMode(DeviceRecord* rec, DWORD value) {
  WORD select;
  const bool ltc = rec->HasLTC != 0, vitc = rec->HasVTC != 0;
  if (value == kTimeModeTimecode) {
    if (rec->HasTC == 0) return MCIERR_MISSING_PARAMETER;
    select = ltc && vitc ? 3 : (vitc && !ltc ? 2 : 1);
  } else if (value == kTimeModeCounter) {
    select = 4;
  } else if (value == kTimeModeDetect) {
    select = ltc && vitc ? 3 : vitc ? 2 : ltc ? 1 : 4;
  } else {
    return MCIERR_MISSING_PARAMETER;
  }
  rec->TimerSelect = select;
  return sendByte(rec, TIMEMODE_422, select == 4 ? 1 : 0);
}

DWORD sendPresetIfCanEdit(DeviceRecord* rec, DWORD result) {
  if (rec->CanEdit == 0) return result;
  return sendByte(rec, EDITPRE_422, static_cast<BYTE>(EditPresetByte(rec)));
}

}  // namespace

DWORD kestrelMciSet(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  auto* p = static_cast<VTR_SET_PARMS*>(lpParms);
  DWORD result = 0;
  if ((dwFlags & kSetSpeed) != 0) rec->dwSpeed = p->dwSpeed;
  if ((dwFlags & kSetDoorOpen) != 0) {
    result = kestrelSendCmd(rec, EJECT_422, 1);
    result = chkWait(rec, dwFlags, ~VTR_STAT_NO_TAPE, result);
  }
  if ((dwFlags & kSetTimeFormat) != 0) {
    if (acceptedFormat(p->dwTimeFormat)) {
      rec->dwTimeFormat = p->dwTimeFormat;
    } else {
      result = MCIERR_BAD_INTEGER;
    }
  }
  if ((dwFlags & kSetAudio) != 0) {
    result = p->dwAudio <= 2 ? MCIERR_UNSUPPORTED_FUNCTION : MCIERR_BAD_INTEGER;
  }
  if ((dwFlags & kSetVideo) != 0) result = MCIERR_UNSUPPORTED_FUNCTION;
  if ((dwFlags & kSetCounterFormat) != 0) {
    if (acceptedFormat(p->dwCounterFormat)) {
      rec->dwCounterFormat = p->dwCounterFormat;
    } else {
      result = MCIERR_BAD_INTEGER;
    }
  }
  if ((dwFlags & kSetTimeMode) != 0) result = setTimeMode(rec, p->dwTimeMode);
  if ((dwFlags & kSetRecordFormat) != 0) result = MCIERR_UNSUPPORTED_FUNCTION;
  if ((dwFlags & kSetLength) != 0) result = MCIERR_UNSUPPORTED_FUNCTION;
  if ((dwFlags & kSetIndex) != 0) result = MCIERR_UNSUPPORTED_FUNCTION;
  if ((dwFlags & kSetCounter) != 0) {
    // The counter is given in the time format, not the counter format.
    LinkGuard link;
    frame422tc(rec, p->dwCounter, &TIMER1PRE_422[3], rec->wTCFormat, 1);
    result = kestrelSendCmd(rec, TIMER1PRE_422, 1);
  }
  if ((dwFlags & kSetAssemble) != 0) {
    if ((dwFlags & kSetOn) != 0) {
      rec->fAssembleRecord = rec->CanAssemble != 0 ? 1 : 0;
      if (rec->CanAssemble == 0) result = MCIERR_UNSUPPORTED_FUNCTION;
    } else {
      rec->fAssembleRecord = 0;
    }
  }
  if ((dwFlags & kSetPower) != 0) result = MCIERR_UNSUPPORTED_FUNCTION;
  chkNotify(rec, dwFlags, lpParms, result);
  return result;
}

DWORD kestrelMciSetAudio(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  auto* p = static_cast<VTR_SETAV_PARMS*>(lpParms);
  DWORD result = 0;
  if ((dwFlags & (kAvSource | kAvMonitor)) != 0) result = MCIERR_UNSUPPORTED_FUNCTION;
  if ((dwFlags & kAvRecord) != 0) {
    const DWORD t = p->dwTrack;
    if (t == 0 || t > rec->AudioTracks) {
      result = MCIERR_OUTOFRANGE;
    } else {
      const DWORD bit = 1u << (t - 1);
      rec->dwInsertAudio =
          (dwFlags & kSetOn) != 0 ? (rec->dwInsertAudio | bit) : (rec->dwInsertAudio & ~bit);
      result = sendPresetIfCanEdit(rec, result);
    }
  }
  chkNotify(rec, dwFlags, lpParms, result);
  return result;
}

DWORD kestrelMciSetVideo(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  DWORD result = 0;
  if ((dwFlags & (kAvSource | kAvMonitor)) != 0) result = MCIERR_UNSUPPORTED_FUNCTION;
  if ((dwFlags & kAvRecord) != 0) {
    rec->fInsertVideo = (dwFlags & kSetOn) != 0 ? 1 : 0;
    result = sendPresetIfCanEdit(rec, result);
  }
  chkNotify(rec, dwFlags, lpParms, result);
  return result;
}

DWORD kestrelMciSetTuner(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  chkNotify(rec, dwFlags, lpParms, MCIERR_UNSUPPORTED_FUNCTION);
  return MCIERR_UNSUPPORTED_FUNCTION;
}

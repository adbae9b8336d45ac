// Status, capabilities and information.
#include <cstring>

#include "commands/handlers.h"
#include "completion/completion.h"
#include "link/frames.h"
#include "link/queries.h"
#include "link/timecode.h"
#include "record/parms.h"

namespace {

constexpr DWORD kFlagItem = 0x100;
constexpr DWORD kFlagVersion = 0x10000;
constexpr DWORD kListVideo = 0x10000;
constexpr DWORD kListAudio = 0x20000;
constexpr DWORD kListCount = 0x40000;
constexpr DWORD kListNumber = 0x80000;

// The product name answered by "info product" (at most 29 characters).
constexpr const char* kProductName = "vtr422 RS-422 VTR driver";
constexpr const char* kVersionText = "Version 4.1";
static_assert(sizeof("vtr422 RS-422 VTR driver") - 1 <= 29);

BYTE szEscape[256];

// Copies ASCII text as a wide string with its terminator when it fits.
DWORD copyWide(LPWSTR dst, DWORD size, DWORD needed, const char* text) {
  if (size < needed || dst == nullptr) return MCIERR_PARAM_OVERFLOW;
  std::size_t i = 0;
  for (; text[i] != 0; ++i) dst[i] = static_cast<WCHAR>(text[i]);
  dst[i] = 0;
  return 0;
}

// Notifies the error part of a result, which may carry a return-type flag.
DWORD finish(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms, DWORD result) {
  chkNotify(rec, dwFlags, lpParms, result & 0xFFFF);
  return result;
}

}  // namespace

DWORD kestrelMciStatus(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  auto* p = static_cast<VTR_STATUS_PARMS*>(lpParms);
  if ((dwFlags & kFlagItem) == 0) return finish(rec, dwFlags, lpParms, MCIERR_MISSING_PARAMETER);
  DWORD result = 0;
  // Items that read the machine now answer only what it answers; those from
  // its stored readings, only while its latest answer came.
  bool answered = true;
  const bool heard = !rec->sense.fNoAnswer;
  DWORD value = 0;
  switch (p->dwItem) {
    case 1:  // length
      p->dwReturn = 0;
      break;
    case 2:  // position
      value = kestrelGetPosition(rec, 0, &answered);
      if (answered) result = convertPosition(rec, rec->dwTimeFormat, value, &p->dwReturn);
      break;
    case 3:  // number of tracks
    case 8:  // current track
    case 0x401F:
      p->dwReturn = 1;
      break;
    case 4: {  // mode
      const DWORD mode = (dwFlags & MCI_TEST) != 0 ? kestrelGetModeX(rec, &answered)
                                                   : kestrelGetMode(rec, &answered);
      if (answered) {
        p->dwReturn = (mode & 0xFFFF) * 0x10001u;
        result = MCI_RESOURCE_RETURNED;
      }
      break;
    }
    case 5:  // media present
      value = kestrelGetStatus(rec, &answered);
      if (answered) p->dwReturn = (value & VTR_STAT_NO_TAPE) != 0 ? 0 : 1;
      break;
    case 6:  // time format
    case 0x4010:
    case 0x4011:
      p->dwReturn = 3;
      break;
    case 7:  // ready: from the stored status word, no query
      answered = heard;
      if (answered) p->dwReturn = (rec->dwStatus & VTR_STAT_NOT_READY) != 0 ? 0 : 1;
      break;
    case 0x140:
    case 0x4003:
    case 0x4004:
    case 0x4005:
      p->dwReturn = rec->TapeFormat;
      break;
    case 0x141:  // timecode source: the kind last read
      answered = heard;
      if (answered) p->dwReturn = rec->wTCFormat;
      break;
    case 0x142:
      value = kestrelGetHeader(rec, &answered);
      if (answered) p->dwReturn = value;
      break;
    case 0x143:  // drop frame: of the kind last read
      answered = heard;
      if (answered) p->dwReturn = rec->wTCFormat == MCI_FORMAT_SMPTE_30DROP ? 1 : 0;
      break;
    case 0x4001:
      p->dwReturn = rec->Pal != 0 ? 25 : 30;
      break;
    case 0x4002:
      p->dwReturn = rec->dwSpeed;
      break;
    case 0x4006:
    case 0x4007:
    case 0x4008:
    case 0x4009:
    case 0x400A:
    case 0x400B:
    case 0x400C:
    case 0x400D:
      p->dwReturn = 1;
      break;
    case 0x400E:
    case 0x400F:
    case 0x4012:
    case 0x4015:
    case 0x4019:
    case 0x401A:
    case 0x401C:
    case 0x4021:
    case 0x80000:
      p->dwReturn = 0;
      break;
    case 0x4013:  // counter: timer 1
      value = kestrelGetPosition(rec, 1, &answered);
      if (answered) result = convertPosition(rec, rec->dwCounterFormat, value, &p->dwReturn);
      break;
    case 0x4014:  // channel
      p->dwReturn = 0;
      result = MCIERR_UNSUPPORTED_FUNCTION;
      break;
    case 0x4016:
      p->dwReturn = rec->CanInsTC;
      break;
    case 0x4017:
      p->dwReturn = rec->CanInsVid;
      break;
    case 0x4018:
      p->dwReturn = rec->CanInsAud;
      break;
    case 0x401B:  // power on: from the stored mode
      answered = heard;
      if (answered) p->dwReturn = rec->dwMode != VTR_MODE_IDLE ? 1 : 0;
      break;
    case 0x401D:
      p->dwReturn = rec->CanAssemble;
      break;
    case 0x401E:
      p->dwReturn = rec->HasTC;
      break;
    case 0x4020:
      p->dwReturn = rec->AudioTracks;
      break;
    default:
      result = MCIERR_BAD_INTEGER;
      break;
  }
  // A deck that gave no answer (silent, gone, or a reply that failed its
  // checks) is not reported with a stale or neutral value.
  if (!answered) result = MCIERR_HARDWARE;
  return finish(rec, dwFlags, lpParms, result);
}

DWORD kestrelMciGetDevCaps(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  auto* p = static_cast<VTR_GETDEVCAPS_PARMS*>(lpParms);
  if ((dwFlags & kFlagItem) == 0) return finish(rec, dwFlags, lpParms, MCIERR_MISSING_PARAMETER);
  DWORD& ret = p->dwReturn;
  switch (p->dwItem) {
    case 1:
      ret = rec->CanRecord;
      break;
    case 2:
    case 3:
    case 8:
    case 0x101:
    case 0x104:
    case 0x4007:
      ret = 1;
      break;
    case 4:
      ret = MCI_DEVTYPE_VCR;
      break;
    case 5:
    case 6:
    case 9:
    case 0x106:
    case 0x10C:
    case 0x111:
    case 0x4001:
    case 0x4002:
    case 0x4003:
    case 0x4004:
    case 0x4005:
    case 0x4006:
    case 0x4008:
    case 0x4009:
    case 0x401B:
    case 0x401D:
    case 0x8004:
      ret = 0;
      break;
    case 7:
    case 0x103:
      ret = rec->CanEject;
      break;
    case 0x100:
      ret = 0;
      if (rec->HasCTL != 0) ret |= 0x162;
      if (rec->HasLTC != 0) ret |= 0x160;
      if (rec->HasVTC != 0) ret |= 0x161;
      break;
    case 0x102:
      ret = rec->Pal != 0 ? 25 : 30;
      break;
    case 0x105:
      ret = rec->BumpPlay;
      break;
    case 0x107:
    case 0x108:
      p->dwValue1 = 0x10000;
      p->dwValue2 = 0x10000;
      break;
    case 0x109:
    case 0x401E:
      ret = rec->PreRoll;
      break;
    case 0x10A:
    case 0x8002:
      ret = rec->PostRoll;
      break;
    case 0x10B:
      ret = 128;
      break;
    case 0x10D:
      ret = rec->AudioTracks;
      break;
    case 0x10E:
      ret = rec->LTCTrack;
      break;
    case 0x10F:
    case 0x8000:  // "preroll" answers the record pre-roll
    case 0x8001:
      ret = rec->RecPreRoll;
      break;
    case 0x110:
      ret = rec->wTCFormat;
      break;
    case 0x112:
      ret = 65535;
      break;
    case 0x113:
      ret = rec->HasTC == 0 ? 1 : 0;
      break;
    case 0x114:
      ret = rec->CanInsAud & rec->CanInsVid;
      break;
    case 0x115:
      ret = rec->CanAssemble;
      break;
    case 0x400A:
      ret = rec->HasTC;
      break;
    case 0x8003:
      ret = rec->RecPostRoll;
      break;
    default:
      return finish(rec, dwFlags, lpParms, MCIERR_FLAGS_NOT_COMPATIBLE);
  }
  return finish(rec, dwFlags, lpParms, 0);
}

DWORD kestrelMciInfo(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  auto* p = static_cast<VTR_INFO_PARMS*>(lpParms);
  DWORD result;
  if ((dwFlags & MCI_INFO_PRODUCT) != 0) {
    result = copyWide(p->lpstrReturn, p->dwRetSize, 62, kProductName);
  } else if ((dwFlags & kFlagVersion) != 0) {
    result = copyWide(p->lpstrReturn, p->dwRetSize, 26, kVersionText);
  } else {
    result = MCIERR_MISSING_PARAMETER;
  }
  return finish(rec, dwFlags, lpParms, result);
}

DWORD kestrelMciList(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  auto* p = static_cast<VTR_LIST_PARMS*>(lpParms);
  DWORD result = 0;
  if ((dwFlags & kListVideo) != 0 && (dwFlags & kListCount) != 0) {
    p->dwReturn = rec->VideoSources;
  } else if ((dwFlags & kListVideo) != 0 && (dwFlags & kListNumber) != 0) {
    const DWORD n = p->dwNumber;
    if (n == 1)
      p->dwReturn = 0x510;
    else if (n == 2)
      p->dwReturn = 0x511;
    else if (n == 3 || n == 4)
      p->dwReturn = 0x513;
    if (n > rec->VideoSources || n < 1 || n > 4) result = MCIERR_BAD_INTEGER;
  } else if ((dwFlags & kListVideo) == 0 && (dwFlags & kListAudio) != 0 &&
             (dwFlags & kListCount) != 0) {
    p->dwReturn = rec->AudioSources;
  } else if ((dwFlags & kListVideo) == 0 && (dwFlags & kListAudio) != 0 &&
             (dwFlags & kListNumber) != 0) {
    p->dwReturn = 0x510;
    if (p->dwNumber > rec->AudioSources) result = MCIERR_BAD_INTEGER;
  } else {
    result = MCIERR_MISSING_PARAMETER;
  }
  return finish(rec, dwFlags, lpParms, result);
}

DWORD kestrelMciSysInfo(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  return finish(rec, dwFlags, lpParms, 0);
}

DWORD kestrelMciIndex(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  return finish(rec, dwFlags, lpParms, MCIERR_UNSUPPORTED_FUNCTION);
}

DWORD kestrelMciMark(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  return finish(rec, dwFlags, lpParms, MCIERR_UNSUPPORTED_FUNCTION);
}

DWORD kestrelMciEscape(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  auto* p = static_cast<VTR_ESCAPE_PARMS*>(lpParms);
  if ((dwFlags & kFlagItem) == 0 || p->lpstrCommand == nullptr)
    return MCIERR_MISSING_STRING_ARGUMENT;
  // The command string is read as bytes, up to its first zero byte.
  const auto* bytes = reinterpret_cast<const BYTE*>(p->lpstrCommand);
  DWORD n = 0;
  while (n < 255 && bytes[n] != 0) ++n;
  if (n == 0) return MCIERR_MISSING_STRING_ARGUMENT;  // no frame to send
  chkEntry(rec, dwFlags, lpParms);
  DWORD r;
  {
    LinkGuard link;
    std::memcpy(&szEscape[1], bytes, n);
    szEscape[n] = 0;
    szEscape[0] = static_cast<BYTE>(n - 1);  // the last byte read is not sent
    r = kestrelSendCmd(rec, szEscape, 1);
  }
  chkNotify(rec, dwFlags, lpParms, r);
  return r;
}

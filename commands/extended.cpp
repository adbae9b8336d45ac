// Extended device commands: ZDKR settings and VDR play modes.
#include "commands/handlers.h"
#include "completion/completion.h"
#include "link/frames.h"
#include "link/queries.h"
#include "record/parms.h"

namespace {

enum class Kind { Numeric, Choice, None };

// One settable ZDKR item: where its word is, how it is limited, its frame.
struct SetItem {
  DWORD selector;
  std::size_t wordOffset;  // offset of the item's word in the parameter block
  Kind kind;
  DWORD low, high, replacement;  // numeric: the bounds; choice: high is the largest value
  BYTE* frame;
};

#define W(parms, field) offsetof(parms, field)
const SetItem kSetZDKR[] = {
    {0x100, W(VTR_SETZDKR_PARMS, dwVTRType), Kind::Numeric, 0, 53, 45, SETZDKR_VTR_TYPE},
    {0x300, W(VTR_SETZDKR_PARMS, dwTCType), Kind::Choice, 0, 1, 1, SETZDKR_TC_TYPE},
    {0x400, W(VTR_SETZDKR_PARMS, dwQuality), Kind::Numeric, 0, 100, 50, SETZDKR_QUALITY},
    {0x500, W(VTR_SETZDKR_PARMS, dwGenlock), Kind::Choice, 0, 1, 1, SETZDKR_GENLOCK},
    {0x600, W(VTR_SETZDKR_PARMS, dwGenlockType), Kind::Choice, 0, 1, 1, SETZDKR_GENLOCK_TYPE},
    {0x700, W(VTR_SETZDKR_PARMS, dwEditOnDur), Kind::Numeric, 7, 30, 8, SETZDKR_EDIT_ON_DUR},
    {0x800, W(VTR_SETZDKR_PARMS, dwEditOffDur), Kind::Numeric, 7, 30, 7, SETZDKR_EDIT_OFF_DUR},
    {0x1C00, 0, Kind::None, 0, 0, 0, SETZDKR_SHUTDOWN_DEVICE},
};

// For choices, `replacement` is what a value above `high` becomes.
const SetItem kSetZDKRVid[] = {
    {0x900, W(VTR_SETZDKRVID_PARMS, dwInput), Kind::Choice, 0, 2, 2, SETZDKR_INPUT},
    {0xA00, W(VTR_SETZDKRVID_PARMS, dwChromaHue), Kind::Numeric, 0, 255, 128, SETZDKR_CHROMA_HUE},
    {0xB00, W(VTR_SETZDKRVID_PARMS, dwChromaSaturation), Kind::Numeric, 0, 63, 31,
     SETZDKR_CHROMA_SATURATION},
    {0xC00, W(VTR_SETZDKRVID_PARMS, dwChromaUSaturation), Kind::Numeric, 0, 63, 0,
     SETZDKR_CHROMA_U_SATURATION},
    {0xD00, W(VTR_SETZDKRVID_PARMS, dwChromaVSaturation), Kind::Numeric, 0, 63, 0,
     SETZDKR_CHROMA_V_SATURATION},
    {0xE00, W(VTR_SETZDKRVID_PARMS, dwLuminance), Kind::Choice, 0, 1, 0, SETZDKR_LUMA},
    {0xF00, W(VTR_SETZDKRVID_PARMS, dwBrightness), Kind::Numeric, 0, 63, 31,
     SETZDKR_LUMA_BRIGHTNESS},
    {0x1000, W(VTR_SETZDKRVID_PARMS, dwContrastBrightness), Kind::Numeric, 0, 63, 31,
     SETZDKR_CONTRAST_BRIGHTNESS},
    {0x1100, W(VTR_SETZDKRVID_PARMS, dwLumaCoring), Kind::Choice, 0, 1, 1, SETZDKR_LUMA_CORING},
    {0x1200, W(VTR_SETZDKRVID_PARMS, dwSharpness), Kind::Numeric, 0, 7, 7, SETZDKR_LUMA_SHARPNESS},
    {0x1300, W(VTR_SETZDKRVID_PARMS, dwEncoderChromaBand), Kind::Choice, 0, 1, 0,
     SETZDKR_ENCODER_CHROMA_BAND},
    {0x1400, W(VTR_SETZDKRVID_PARMS, dwHorizontalPhase), Kind::Numeric, 0, 63, 46,
     SETZDKR_HORIZONTAL_PHASE},
    {0x1500, W(VTR_SETZDKRVID_PARMS, dwSubCarrierPhase), Kind::Numeric, 0, 255, 127,
     SETZDKR_SUB_CARRIER_PHASE},
    {0x1600, W(VTR_SETZDKRVID_PARMS, dwOutBlankPedestal), Kind::Choice, 0, 1, 0,
     SETZDKR_COMP_OUT_BLANK_PED},
    {0x1700, W(VTR_SETZDKRVID_PARMS, dwOutCoring), Kind::Choice, 0, 2, 1, SETZDKR_COMP_OUT_CORING},
    {0x1800, W(VTR_SETZDKRVID_PARMS, dwOutPeaking), Kind::Numeric, 0, 3, 3,
     SETZDKR_COMP_OUT_PEAKING},
    {0x1D00, W(VTR_SETZDKRVID_PARMS, dwSetup), Kind::Numeric, 0, 255, 127, SETZDKR_SETUP},
    {0x1E00, W(VTR_SETZDKRVID_PARMS, dwVideo), Kind::Numeric, 0, 255, 127, SETZDKR_VIDEO},
    {0x1F00, W(VTR_SETZDKRVID_PARMS, dwHue), Kind::Numeric, 0, 255, 0, SETZDKR_HUE},
    {0x2000, W(VTR_SETZDKRVID_PARMS, dwChroma), Kind::Numeric, 0, 255, 127, SETZDKR_CHROMA},
    {0x2100, W(VTR_SETZDKRVID_PARMS, dwPSetup), Kind::Numeric, 0, 255, 127, SETZDKR_PSETUP},
    {0x2200, W(VTR_SETZDKRVID_PARMS, dwPVideo), Kind::Numeric, 0, 255, 127, SETZDKR_PVIDEO},
    {0x2300, W(VTR_SETZDKRVID_PARMS, dwPHue), Kind::Numeric, 0, 255, 0, SETZDKR_PHUE},
    {0x2400, W(VTR_SETZDKRVID_PARMS, dwPChroma), Kind::Numeric, 0, 255, 127, SETZDKR_PCHROMA},
};

struct AudItem {
  DWORD selector;
  std::size_t channelOffset;
  BYTE* frame;
};
const AudItem kSetZDKRAud[] = {
    {0x1900, W(VTR_SETZDKRAUD_PARMS, dwAudioInChannel), SETZDKR_AUDIO_IN_LEVEL},
    {0x1A00, W(VTR_SETZDKRAUD_PARMS, dwAudioOutChannel), SETZDKR_AUDIO_OUT_LEVEL},
    {0x1B00, W(VTR_SETZDKRAUD_PARMS, dwAudioPlayChannel), SETZDKR_AUDIO_PLAY_LEVEL},
};
#undef W

struct GetItem {
  DWORD selector;
  BYTE* frame;
  int index;         // where the answer is kept in abZDKRReply
  int channelIndex;  // audio level items: where the channel is kept, else -1
};
const GetItem kGetZDKR[] = {
    {0x100, GETZDKR_VTR_TYPE, 0, -1},
    {0x200, GETZDKR_TC_TYPE, 1, -1},
    {0x300, GETZDKR_QUALITY, 2, -1},
    {0x400, GETZDKR_GENLOCK, 3, -1},
    {0x500, GETZDKR_GENLOCK_TYPE, 4, -1},
    {0x600, GETZDKR_EDIT_ON_DUR, 5, -1},
    {0x700, GETZDKR_EDIT_OFF_DUR, 6, -1},
    {0x1F00, GETZDKR_SETUP, 7, -1},
    {0x2000, GETZDKR_VIDEO, 8, -1},
    {0x2100, GETZDKR_HUE, 9, -1},
    {0x2200, GETZDKR_CHROMA, 10, -1},
    {0x2300, GETZDKR_PSETUP, 11, -1},
    {0x2400, GETZDKR_PVIDEO, 12, -1},
    {0x2500, GETZDKR_PHUE, 13, -1},
    {0x2600, GETZDKR_PCHROMA, 14, -1},
    {0x900, GETZDKR_INPUT, 15, -1},
    {0xA00, GETZDKR_CUR_CHROMA, 16, -1},
    {0xB00, GETZDKR_CUR_CHROMA_SATURATION, 17, -1},
    {0xC00, GETZDKR_CUR_CHROMA_U_SATURATION, 18, -1},
    {0xD00, GETZDKR_CUR_CHROMA_V_SATURATION, 19, -1},
    {0xE00, GETZDKR_CUR_LUMINANCE, 20, -1},
    {0xF00, GETZDKR_CUR_LUMA_BRIGHTNESS, 21, -1},
    {0x1000, GETZDKR_CUR_CONTRAST_BRIGHTNESS, 22, -1},
    {0x1100, GETZDKR_CUR_LUMA_CORING, 23, -1},
    {0x1200, GETZDKR_CUR_LUMA_SHARPNESS, 24, -1},
    {0x1300, GETZDKR_ENCODER_CHROMA_BAND, 25, -1},
    {0x1400, GETZDKR_HORIZONTAL_PHASE, 26, -1},
    {0x1500, GETZDKR_SUB_CARRIER_PHASE, 27, -1},
    {0x1600, GETZDKR_COMP_OUT_BLANK_PEDESTAL, 28, -1},
    {0x1700, GETZDKR_COMP_OUT_CORING, 29, -1},
    {0x1800, GETZDKR_COMP_OUT_PEAKING, 30, -1},
    {0x1900, GETZDKR_AUDIO_INPUTS, 31, -1},
    {0x1A00, GETZDKR_AUDIO_OUTPUTS, 32, -1},
    {0x1B00, GETZDKR_AUDIO_IN_LEVEL, 34, 33},
    {0x1C00, GETZDKR_AUDIO_OUT_LEVEL, 36, 35},
    {0x1D00, GETZDKR_AUDIO_PLAY_LEVEL, 38, 37},
};

constexpr DWORD kIsItZDKR = 0x2700;

DWORD& wordAt(LPVOID lpParms, std::size_t offset) {
  return *reinterpret_cast<DWORD*>(static_cast<unsigned char*>(lpParms) + offset);
}

// Numbers outside their bounds are replaced, and the caller sees the replacement.
BYTE limitedValue(const SetItem& item, LPVOID lpParms) {
  DWORD& word = wordAt(lpParms, item.wordOffset);
  if (item.kind == Kind::Choice) {
    DWORD v = word >> 4;
    if (v > item.high) v = item.replacement;
    return static_cast<BYTE>(v);
  }
  if (word < item.low || word > item.high) word = item.replacement;
  return static_cast<BYTE>(word & 0xFF);
}

DWORD finishZDKR(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms, DWORD result) {
  if ((dwFlags & MCI_WAIT) != 0) waitTime(rec, 200);
  chkNotify(rec, dwFlags, lpParms, result);
  return result;
}

template <std::size_t N>
DWORD setFromTable(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms, const SetItem (&table)[N]) {
  chkEntry(rec, dwFlags, lpParms);
  const DWORD selector = dwFlags & 0xFF00;
  DWORD result = MCIERR_BAD_INTEGER;
  for (const auto& item : table) {
    if (item.selector != selector) continue;
    LinkGuard link;  // released before the pause: never held across a yield
    if (item.kind != Kind::None) item.frame[3] = limitedValue(item, lpParms);
    result = kestrelSendCmd(rec, item.frame, 1);
    break;
  }
  return finishZDKR(rec, dwFlags, lpParms, result);
}

DWORD limitChannel(DWORD& word) {
  if (word > 32) word = 1;
  return word;
}

}  // namespace

DWORD kestrelMciSetZDKR(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  return setFromTable(rec, dwFlags, lpParms, kSetZDKR);
}

DWORD kestrelMciSetZDKRVid(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  return setFromTable(rec, dwFlags, lpParms, kSetZDKRVid);
}

DWORD kestrelMciSetZDKRAud(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  chkEntry(rec, dwFlags, lpParms);
  auto* p = static_cast<VTR_SETZDKRAUD_PARMS*>(lpParms);
  const DWORD selector = dwFlags & 0xFF00;
  DWORD result = MCIERR_BAD_INTEGER;
  for (const auto& item : kSetZDKRAud) {
    if (item.selector != selector) continue;
    if (p->dwLevel > 255) p->dwLevel = 127;
    const DWORD channel = limitChannel(wordAt(lpParms, item.channelOffset));
    LinkGuard link;
    item.frame[3] = static_cast<BYTE>(channel);
    item.frame[4] = static_cast<BYTE>(p->dwLevel);
    result = kestrelSendCmd(rec, item.frame, 1);
    break;
  }
  return finishZDKR(rec, dwFlags, lpParms, result);
}

DWORD kestrelMciGetZDKR(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  chkEntry(rec, dwFlags, lpParms);
  auto* p = static_cast<VTR_GETZDKR_PARMS*>(lpParms);
  const DWORD selector = dwFlags & 0xFF00;
  if (selector == kIsItZDKR) {
    p->dwReturn = rec->bIsZDKR;
    return finishZDKR(rec, dwFlags, lpParms, 0);
  }
  DWORD result = MCIERR_BAD_INTEGER;
  for (const auto& item : kGetZDKR) {
    if (item.selector != selector) continue;
    LinkGuard link;
    if (item.channelIndex >= 0) {
      const DWORD channel = limitChannel(p->dwChannel);
      rec->abZDKRReply[item.channelIndex] = static_cast<BYTE>(channel);
      item.frame[3] = static_cast<BYTE>(channel);
    }
    result = kestrelGetStatusZDKR(rec, item.frame, &rec->abZDKRReply[item.index], lpParms);
    break;
  }
  return finishZDKR(rec, dwFlags, lpParms, result);
}

DWORD kestrelMciVDR(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  chkEntry(rec, dwFlags, lpParms);
  auto* p = static_cast<VTR_VDR_PARMS*>(lpParms);
  DWORD result;
  switch (p->dwCommand) {
    case 0x10:
      result = kestrelGetStatusVDR(rec, dwFlags | 0x10);
      break;
    case 0x20:
      result = kestrelSendCmd(rec, VDR_AUTOPLAY, 1);
      break;
    case 0x30:
      result = kestrelSendCmd(rec, VDR_DUALPLAY_ON, 1);
      break;
    case 0x40:
      result = kestrelSendCmd(rec, VDR_DUALPLAY_OFF, 1);
      break;
    case 0x50:
      result = kestrelSendCmd(rec, VDR_AUTOMODE_ON, 1);
      break;
    case 0x60:
      result = kestrelSendCmd(rec, VDR_AUTOMODE_OFF, 1);
      break;
    default:
      result = MCIERR_BAD_INTEGER;
      break;
  }
  chkNotify(rec, dwFlags, lpParms, result);
  return result;
}

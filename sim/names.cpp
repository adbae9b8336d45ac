#include "sim/names.h"

#include <array>
#include <cstdio>

namespace vtr::sim {
namespace {

struct Named {
  std::uint8_t cmd1;
  std::uint8_t cmd2;
  const char* name;
};

// clang-format off
constexpr Named kCommands[] = {
    {0x00, 0x0C, "LOC_DISABLE_422"}, {0x00, 0x11, "DEV_TYPE_422"}, {0x00, 0x1D, "LOC_ENABLE_422"},
    {0x20, 0x00, "STOP_422"}, {0x20, 0x01, "PLAY_422"}, {0x20, 0x02, "REC_422"},
    {0x20, 0x04, "STND_BYOFF_422"}, {0x20, 0x05, "STND_BYON_422"}, {0x20, 0x0F, "EJECT_422"},
    {0x20, 0x10, "FAST_FWD_422"}, {0x21, 0x11, "JOG_FWD_422"}, {0x21, 0x12, "VAR_FWD_422"},
    {0x21, 0x13, "SHTL_FWD_422"}, {0x20, 0x14, "STEP_FWD_422"}, {0x20, 0x20, "FAST_REV_422"},
    {0x21, 0x21, "JOG_REV_422"}, {0x21, 0x22, "VAR_REV_422"}, {0x21, 0x23, "SHTL_REV_422"},
    {0x20, 0x24, "STEP_REV_422"}, {0x20, 0x30, "PREROLL_422"}, {0x24, 0x31, "CUE_DATA_422"},
    {0x25, 0x31, "CUE_SRCH_422"}, {0x20, 0x40, "PREVIEWV_422"}, {0x20, 0x41, "REVIEWV_422"},
    {0x20, 0x42, "AUTOEDIT_422"}, {0x20, 0x43, "OUTPREV_422"}, {0x21, 0x5C, "DMCFWD_422"},
    {0x21, 0x5D, "DMCREV_422"}, {0x20, 0x60, "EMODEOFF_422"}, {0x20, 0x61, "EMODEON_422"},
    {0x20, 0x63, "SELECTEEON_422"}, {0x20, 0x64, "EDITOFF_422"}, {0x20, 0x65, "EDITON_422"},
    {0x44, 0x00, "TIMER1PRE_422"}, {0x44, 0x04, "TCPRE_422"}, {0x44, 0x05, "UBPRE_422"},
    {0x40, 0x08, "TIMER1RST_422"}, {0x40, 0x10, "INENTRY_422"}, {0x40, 0x11, "OUTENTRY_422"},
    {0x40, 0x12, "AINENTRY_422"}, {0x40, 0x13, "AOUTENTRY_422"}, {0x44, 0x14, "INDATA_422"},
    {0x44, 0x15, "OUTDATA_422"}, {0x44, 0x16, "AINDATA_422"}, {0x44, 0x17, "AOUTDATA_422"},
    {0x40, 0x18, "INPLUS_422"}, {0x40, 0x19, "INMINUS_422"}, {0x40, 0x1A, "OUTPLUS_422"},
    {0x40, 0x1B, "OUTMINUS_422"}, {0x40, 0x1C, "AINPLUS_422"}, {0x40, 0x1D, "AINMINUS_422"},
    {0x40, 0x1E, "AOUTPLUS_422"}, {0x40, 0x1F, "AOUTMINUS_422"}, {0x40, 0x20, "INFLAGRST_422"},
    {0x40, 0x21, "OUTFLAGRST_422"}, {0x40, 0x22, "AINFLAGRST_422"}, {0x40, 0x23, "AOUTFLAGRST_422"},
    {0x40, 0x24, "INRECALL_422"}, {0x40, 0x25, "OUTRECALL_422"}, {0x40, 0x26, "AINRECALL_422"},
    {0x40, 0x27, "AOUTRECALL_422"}, {0x40, 0x2D, "LLOCRESET_422"}, {0x41, 0x30, "EDITPRE_422"},
    {0x44, 0x31, "PRETIME_422"}, {0x41, 0x35, "COLORFRAME_422"}, {0x41, 0x36, "TIMEMODE_422"},
    {0x41, 0x38, "PBFRMSEL_422"}, {0x41, 0x39, "RECFRMSEL_422"}, {0x41, 0x3A, "EDITFLDSEL_422"},
    {0x61, 0x0A, "TCGENSENSE_422"}, {0x61, 0x0C, "CURTCSENSE_422"}, {0x60, 0x10, "INSENSE_422"},
    {0x60, 0x11, "OUTSENSE_422"}, {0x60, 0x12, "AINSENSE_422"}, {0x60, 0x13, "AOUTSENSE_422"},
    {0x61, 0x20, "STATSENSE_422"}, {0x60, 0x36, "TMODESENSE_422"},
    // Standard blocks the driver does not send.
    {0x20, 0x34, "SYNC_PLAY"}, {0x41, 0x32, "TAPE_AUDIO_SELECT"}, {0x41, 0x33, "SERVO_REF_SELECT"},
    {0x41, 0x34, "HEAD_SELECT"}, {0x41, 0x37, "INPUT_CHECK"}, {0x41, 0x3B, "FREEZE_MODE_SELECT"},
    {0x40, 0x42, "SPOT_ERASE_OFF"}, {0x40, 0x43, "SPOT_ERASE_ON"}, {0x40, 0x44, "AUDIO_SPLIT_OFF"},
    {0x40, 0x45, "AUDIO_SPLIT_ON"}, {0x60, 0x2B, "REMAIN_TIME_SENSE"}, {0x60, 0x2E, "SPEED_SENSE"},
    {0x61, 0x30, "EDIT_PRESET_SENSE"}, {0x60, 0x31, "PREROLL_TIME_SENSE"},
    {0x60, 0x3E, "REC_INHIBIT_SENSE"},
    {0xE0, 0xFF, "ISZDKR_422"}, {0xE1, 0x11, "STATSENSE_VDR"}, {0xE0, 0x15, "VDR_AUTOPLAY"},
    {0xE0, 0x2A, "VDR_DUALPLAY_ON"}, {0xE0, 0x2B, "VDR_DUALPLAY_OFF"},
    {0x40, 0x41, "VDR_AUTOMODE_ON"}, {0x40, 0x40, "VDR_AUTOMODE_OFF"},
    {0xC1, 0x08, "SETZDKR_VTR_TYPE"}, {0xC0, 0x09, "GETZDKR_VTR_TYPE"},
    {0xC1, 0x10, "SETZDKR_DISPLAY_IMAGE"},
    {0xC1, 0x18, "SETZDKR_TC_TYPE"}, {0xC0, 0x19, "GETZDKR_TC_TYPE"},
    {0xC1, 0x1A, "SETZDKR_QUALITY"}, {0xC0, 0x1B, "GETZDKR_QUALITY"},
    {0xC1, 0x1C, "SETZDKR_GENLOCK"}, {0xC0, 0x1D, "GETZDKR_GENLOCK"},
    {0xC1, 0x1E, "SETZDKR_GENLOCK_TYPE"}, {0xC0, 0x1F, "GETZDKR_GENLOCK_TYPE"},
    {0xC1, 0x38, "SETZDKR_EDIT_ON_DUR"}, {0xC0, 0x39, "GETZDKR_EDIT_ON_DUR"},
    {0xC1, 0x3A, "SETZDKR_EDIT_OFF_DUR"}, {0xC0, 0x3B, "GETZDKR_EDIT_OFF_DUR"},
    {0xC1, 0x50, "SETZDKR_VIDEO"}, {0xC0, 0x51, "GETZDKR_VIDEO"},
    {0xC1, 0x52, "SETZDKR_SETUP"}, {0xC0, 0x53, "GETZDKR_SETUP"},
    {0xC1, 0x54, "SETZDKR_HUE"}, {0xC0, 0x55, "GETZDKR_HUE"},
    {0xC1, 0x56, "SETZDKR_CHROMA"}, {0xC0, 0x57, "GETZDKR_CHROMA"},
    {0xC1, 0x58, "SETZDKR_PVIDEO"}, {0xC0, 0x59, "GETZDKR_PVIDEO"},
    {0xC1, 0x5A, "SETZDKR_PSETUP"}, {0xC0, 0x5B, "GETZDKR_PSETUP"},
    {0xC1, 0x5C, "SETZDKR_PHUE"}, {0xC0, 0x5D, "GETZDKR_PHUE"},
    {0xC1, 0x5E, "SETZDKR_PCHROMA"}, {0xC0, 0x5F, "GETZDKR_PCHROMA"},
    {0xC1, 0x60, "SETZDKR_INPUT"}, {0xC0, 0x61, "GETZDKR_INPUT"},
    {0xC1, 0x66, "SETZDKR_CHROMA_HUE"}, {0xC0, 0x67, "GETZDKR_CUR_CHROMA"},
    {0xC1, 0x68, "SETZDKR_CHROMA_SATURATION"}, {0xC0, 0x69, "GETZDKR_CUR_CHROMA_SATURATION"},
    {0xC1, 0x6A, "SETZDKR_CHROMA_U_SATURATION"}, {0xC0, 0x6B, "GETZDKR_CUR_CHROMA_U_SATURATION"},
    {0xC1, 0x6C, "SETZDKR_CHROMA_V_SATURATION"}, {0xC0, 0x6D, "GETZDKR_CUR_CHROMA_V_SATURATION"},
    {0xC1, 0x70, "SETZDKR_LUMA"}, {0xC0, 0x71, "GETZDKR_CUR_LUMINANCE"},
    {0xC1, 0x72, "SETZDKR_LUMA_BRIGHTNESS"}, {0xC0, 0x73, "GETZDKR_CUR_LUMA_BRIGHTNESS"},
    {0xC1, 0x74, "SETZDKR_CONTRAST_BRIGHTNESS"}, {0xC0, 0x75, "GETZDKR_CUR_CONTRAST_BRIGHTNESS"},
    {0xC1, 0x76, "SETZDKR_LUMA_CORING"}, {0xC0, 0x77, "GETZDKR_CUR_LUMA_CORING"},
    {0xC1, 0x78, "SETZDKR_LUMA_SHARPNESS"}, {0xC0, 0x79, "GETZDKR_CUR_LUMA_SHARPNESS"},
    {0xC1, 0x80, "SETZDKR_ENCODER_CHROMA_BAND"}, {0xC0, 0x81, "GETZDKR_ENCODER_CHROMA_BAND"},
    {0xC1, 0x82, "SETZDKR_HORIZONTAL_PHASE"}, {0xC0, 0x83, "GETZDKR_HORIZONTAL_PHASE"},
    {0xC1, 0x84, "SETZDKR_SUB_CARRIER_PHASE"}, {0xC0, 0x85, "GETZDKR_SUB_CARRIER_PHASE"},
    {0xC1, 0x8A, "SETZDKR_COMP_OUT_BLANK_PED"}, {0xC0, 0x8B, "GETZDKR_COMP_OUT_BLANK_PEDESTAL"},
    {0xC1, 0x8C, "SETZDKR_COMP_OUT_CORING"}, {0xC0, 0x8D, "GETZDKR_COMP_OUT_CORING"},
    {0xC1, 0x8E, "SETZDKR_COMP_OUT_PEAKING"}, {0xC0, 0x8F, "GETZDKR_COMP_OUT_PEAKING"},
    {0xC0, 0x90, "GETZDKR_AUDIO_INPUTS"}, {0xC0, 0x91, "GETZDKR_AUDIO_OUTPUTS"},
    {0xC2, 0x92, "SETZDKR_AUDIO_IN_LEVEL"}, {0xC1, 0x93, "GETZDKR_AUDIO_IN_LEVEL"},
    {0xC2, 0x9C, "SETZDKR_AUDIO_OUT_LEVEL"}, {0xC1, 0x9D, "GETZDKR_AUDIO_OUT_LEVEL"},
    {0xC2, 0x9E, "SETZDKR_AUDIO_PLAY_LEVEL"}, {0xC1, 0x9F, "GETZDKR_AUDIO_PLAY_LEVEL"},
    {0xC0, 0xEF, "SETZDKR_SHUTDOWN_DEVICE"},
};
// clang-format on

const char* NakReason(std::uint8_t bits) {
  if (bits & 0x01) return "undefined command";
  if (bits & 0x04) return "checksum error";
  if (bits & 0x10) return "parity error";
  if (bits & 0x20) return "buffer overrun";
  if (bits & 0x40) return "framing error";
  if (bits & 0x80) return "timeout";
  return "?";
}

}  // namespace

std::string CommandName(std::span<const std::uint8_t> b) {
  if (b.size() < 2) return "FRAGMENT";
  const std::uint8_t c1 = b[0], c2 = b[1];
  // Two blocks share their first bytes with another and differ by data.
  if (c1 == 0x21 && c2 == 0x13 && b.size() > 2 && b[2] == 0) return "PAUSE_422";
  if (c1 == 0x61 && c2 == 0x0C && b.size() > 2 && (b[2] & 0xF0) != 0) return "CURUBSENSE_422";
  for (const Named& n : kCommands) {
    if (n.cmd1 == c1 && n.cmd2 == c2) return n.name;
  }
  // Shuttle, jog and var also come with a second speed byte.
  for (const Named& n : kCommands) {
    if ((n.cmd1 & 0xF0) == (c1 & 0xF0) && n.cmd2 == c2) return n.name;
  }
  return "UNKNOWN";
}

std::string ReplyName(std::span<const std::uint8_t> b) {
  if (b.size() < 2) return "FRAGMENT";
  const std::uint8_t c1 = b[0], c2 = b[1];
  if (c1 == 0x10 && c2 == 0x01) return "ACK";
  if (c1 == 0x11 && c2 == 0x12) {
    return b.size() > 2 ? std::string("NAK (") + NakReason(b[2]) + ")" : "NAK";
  }
  if (c1 == 0x12 && c2 == 0x11) return "DEVICE_TYPE";
  if ((c1 & 0xF0) == 0xF0) return "VDR_STATUS";
  if (c1 == 0x81) return "ZDKR_VALUE";
  if (c1 == 0x70 && c2 == 0x0D) return "TIME_DATA_MISSING";
  if (c1 == 0x78 && c2 != 0x08) return "TIME_UB_DATA";
  if ((c1 & 0xF0) == 0x70) {
    switch (c2) {
      case 0x20:
        return "STATUS_DATA";
      case 0x36:
        return "TIMER_MODE_DATA";
      case 0x00:
      case 0x01:
      case 0x04:
      case 0x06:
      case 0x14:
      case 0x16:
        return "TIME_DATA";
      case 0x05:
      case 0x07:
        return "USER_BITS_DATA";
      case 0x08:
        return "TC_GEN_DATA";
      case 0x09:
        return "UB_GEN_DATA";
      case 0x2B:
        return "REMAIN_TIME_DATA";
      case 0x2E:
        return "SPEED_DATA";
      case 0x30:
        return "EDIT_PRESET_DATA";
      case 0x31:
        return "PREROLL_TIME_DATA";
      case 0x3E:
        return "REC_INHIBIT_DATA";
      case 0x10:
        return "IN_DATA";
      case 0x11:
        return "OUT_DATA";
      case 0x12:
        return "AUDIO_IN_DATA";
      case 0x13:
        return "AUDIO_OUT_DATA";
      default:
        return "SENSE_DATA";
    }
  }
  return "UNKNOWN";
}

}  // namespace vtr::sim

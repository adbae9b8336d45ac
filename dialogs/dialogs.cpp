// The configuration dialogs, written once against the Win32 dialog calls.
#include "dialogs/dialogs.h"

#include <cstdio>
#include <cstring>

#include "config/ballistics.h"
#include "config/profile.h"
#include "dialogs/dialog_ids.h"
#include "link/serial.h"

DeviceRecord VtrConfigInfo;
BYTE arbComs[9];

namespace {

// The section this dialog edits: szRequestedSection as it was when the dialog
// started, so that a driver open meanwhile cannot move its save elsewhere.
char szDialogSection[kSectionChars];

// Ports that opened at the main dialog's start, in probe order, the rest 0:
// COM1 to COM8 and the section's own port above them.
BYTE arbProbed[9];
// The highest port an open accepts.
constexpr WORD kHighestPort = 98;
// After a port the section names that did not open at the start: held by an
// open device or another program, or not there now. It stays the choice.
constexpr const char* kUnavailable = " (unavailable)";

constexpr int kNumberChars = 32;

// A check box and the flag field (by profile key) it shows.
struct FlagItem {
  int id;
  const char* szKey;
};

const FlagItem kCapabilityFlags[] = {
    {IDC_CAN_CUE, "CanCue"},         {IDC_CAN_RECORD, "CanRecord"},
    {IDC_CAN_EJECT, "CanEject"},     {IDC_CAN_EDIT, "CanEdit"},
    {IDC_CAN_AUTO, "CanAuto"},       {IDC_CAN_ASSEMBLE, "CanAssemble"},
    {IDC_CAN_INS_VID, "CanInsVid"},  {IDC_CAN_INS_AUD, "CanInsAud"},
    {IDC_CAN_INS_TC, "CanInsTC"},    {IDC_CAN_STEP, "CanStep"},
    {IDC_HAS_TC, "HasTC"},           {IDC_HAS_CTL, "HasCTL"},
    {IDC_HAS_LTC, "HasLTC"},         {IDC_HAS_VTC, "HasVTC"},
    {IDC_REC_INHIBIT, "RecInhibit"}, {IDC_HAS_DF_FLAG, "HasDFFlag"},
    {IDC_EE_STOP, "EEStop"},         {IDC_PROHIBIT_EE, "ProhibitEE"},
    {IDC_HAS_CF_FLAG, "HasCFFlag"},  {IDC_ENABLE_CF, "EnableCF"},
};
const FlagItem kCapabilityNumbers[] = {
    {IDC_SPEED_DELAY, "SpeedChgDelay"},
    {IDC_LTC_TRACK, "LTCTrack"},
};

const FlagItem kEditingFlags[] = {
    {IDC_CAN_BUMP, "CanBump"},
    {IDC_BUMP_ONCE, "BumpOnce"},
    {IDC_BUMP_PLAY, "BumpPlay"},
};
const FlagItem kEditingNumbers[] = {
    {IDC_PREROLL, "PreRoll"},
    {IDC_POSTROLL, "PostRoll"},
    {IDC_REC_PREROLL, "RecPreRoll"},
    {IDC_REC_POSTROLL, "RecPostRoll"},
    {IDC_INS_PREROLL, "InsPreRoll"},
    {IDC_INS_POSTROLL, "InsPostRoll"},
    {IDC_EDIT_IN, "EditIn"},
    {IDC_EDIT_OUT, "EditOut"},
    {IDC_EE_IN, "EEIn"},
    {IDC_EE_OUT, "EEOut"},
    {IDC_PRESET, "Preset"},
    {IDC_IN_DELAY, "InDelay"},
    {IDC_OUT_DELAY, "OutDelay"},
    {IDC_PRESET_DELAY, "PresetDelay"},
    {IDC_PREROLL_BIAS, "PrerollBias"},
    {IDC_BUMP_TYPE, "BumpType"},
    {IDC_BUMP_DELAY, "BumpDelay"},
    {IDC_BUMP_BIAS, "BumpBias"},
    {IDC_BUMP_PHASE, "BumpPhase"},
    {IDC_BUMP_FWD, "BumpFwdCmd"},
    {IDC_BUMP_REV, "BumpRevCmd"},
    {IDC_CF_PHASE, "CFPhase"},
};

// The seven flags an edit type sets, in the order of the preset table:
// CanRecord, CanEdit, CanAuto, CanAssemble, CanInsVid, CanInsAud, CanInsTC.
struct EditTypePreset {
  int id;
  BYTE flags[7];
};
const EditTypePreset kEditTypes[] = {
    {IDC_ET_PLAYER, {0, 0, 0, 0, 0, 0, 0}},
    {IDC_ET_REC_PAUSE, {1, 0, 0, 1, 0, 0, 0}},
    {IDC_ET_EDIT_ON_OFF, {1, 1, 0, 1, 1, 1, 1}},
    {IDC_ET_AUTO_EDIT, {1, 1, 1, 1, 1, 1, 1}},
};
const char* const kEditTypeKeys[7] = {"CanRecord", "CanEdit",   "CanAuto", "CanAssemble",
                                      "CanInsVid", "CanInsAud", "CanInsTC"};

// Time code radios of the main dialog and the TimerSelect each stands for.
struct TimeCodeItem {
  int id;
  WORD wTimerSelect;
};
const TimeCodeItem kTimeCodes[] = {
    {IDC_TC_AUTO, 3}, {IDC_TC_CTL, 4}, {IDC_TC_VITC, 2}, {IDC_TC_LTC, 1}};

// Decimal text to integer as atoi reads it (blanks, sign, digits up to the
// first other character, 0 without digits), wrapping modulo 2^32.
UINT textToInt(const char* p) {
  while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') ++p;
  const bool negative = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  UINT value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10u + static_cast<UINT>(*p - '0');
  return negative ? 0u - value : value;
}

void showFlags(HWND hDlg, const FlagItem* items, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    CheckDlgButton(
        hDlg, items[i].id,
        ProfileFieldValue(&VtrConfigInfo, items[i].szKey) != 0 ? BST_CHECKED : BST_UNCHECKED);
  }
}

void showNumbers(HWND hDlg, const FlagItem* items, std::size_t n) {
  char szNumber[kNumberChars];
  for (std::size_t i = 0; i < n; ++i) {
    FormatProfileField(&VtrConfigInfo, items[i].szKey, szNumber, sizeof(szNumber));
    SetDlgItemTextA(hDlg, items[i].id, szNumber);
  }
}

void readFlags(HWND hDlg, const FlagItem* items, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    StoreProfileField(&VtrConfigInfo, items[i].szKey,
                      IsDlgButtonChecked(hDlg, items[i].id) == BST_CHECKED ? 1u : 0u);
  }
}

// An empty field leaves its field as it was.
void readNumbers(HWND hDlg, const FlagItem* items, std::size_t n) {
  char szNumber[kNumberChars];
  for (std::size_t i = 0; i < n; ++i) {
    if (GetDlgItemTextA(hDlg, items[i].id, szNumber, sizeof(szNumber)) == 0) continue;
    StoreProfileField(&VtrConfigInfo, items[i].szKey, textToInt(szNumber));
  }
}

template <std::size_t N, std::size_t M>
INT_PTR advancedDialog(HWND hDlg, UINT uMsg, WPARAM wParam, const FlagItem (&flags)[N],
                       const FlagItem (&numbers)[M], bool fTimer) {
  if (uMsg == WM_INITDIALOG) {
    showFlags(hDlg, flags, N);
    showNumbers(hDlg, numbers, M);
    const WORD t = VtrConfigInfo.TimerSelect;
    if (fTimer && t >= 1 && t <= 4) {
      CheckRadioButton(hDlg, IDC_TIMER_LTC, IDC_TIMER_CTL, IDC_TIMER_LTC + t - 1);
    }
    return TRUE;
  }
  if (uMsg != WM_COMMAND) return 0;
  switch (LOWORD(wParam)) {
    case IDOK:
      readFlags(hDlg, flags, N);
      for (int id = IDC_TIMER_LTC; fTimer && id <= IDC_TIMER_CTL; ++id) {
        if (IsDlgButtonChecked(hDlg, id) == BST_CHECKED) {
          VtrConfigInfo.TimerSelect = static_cast<WORD>(id - IDC_TIMER_LTC + 1);
        }
      }
      readNumbers(hDlg, numbers, M);
      EndDialog(hDlg, 1);
      return TRUE;
    case IDCANCEL:
      EndDialog(hDlg, 2);
      return TRUE;
    default:
      return 0;
  }
}

bool probed(WORD wPort) {
  for (BYTE b : arbProbed) {
    if (b != 0 && b == wPort) return true;
  }
  return false;
}

void addPort(HWND hDlg, std::size_t& nEntries, WORD wPort, bool fOpened) {
  char szPort[32];
  std::snprintf(szPort, sizeof(szPort), "COM%u%s", static_cast<unsigned>(wPort),
                fOpened ? "" : kUnavailable);
  SendDlgItemMessageA(hDlg, IDC_COM_PORT, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(szPort));
  if (nEntries < sizeof(arbComs)) arbComs[nEntries++] = static_cast<BYTE>(wPort);
}

// Fills the port list from the probe and selects the record's port: the one
// the section names, listed as unavailable when it did not open (so that OK
// keeps it); without one, COM2 when it opened, else the first port that did.
void fillPortList(HWND hDlg) {
  WORD wPort = VtrConfigInfo.ComPort;
  if (wPort < 1 || wPort > kHighestPort) wPort = probed(2) || arbProbed[0] == 0 ? 2 : arbProbed[0];
  const bool fMissing = !probed(wPort);

  // The probe found its ports in rising order; the missing one goes in between.
  SendDlgItemMessageA(hDlg, IDC_COM_PORT, CB_RESETCONTENT, 0, 0);
  std::size_t nEntries = 0;
  bool fPlaced = !fMissing;
  for (BYTE b : arbProbed) {
    if (b == 0) break;
    if (!fPlaced && wPort < b) {
      addPort(hDlg, nEntries, wPort, false);
      fPlaced = true;
    }
    addPort(hDlg, nEntries, b, true);
  }
  if (!fPlaced) addPort(hDlg, nEntries, wPort, false);
  for (std::size_t i = nEntries; i < sizeof(arbComs); ++i) arbComs[i] = 0;

  VtrConfigInfo.ComPort = wPort;
  WPARAM wEntry = 0;
  while (wEntry < nEntries && arbComs[wEntry] != wPort) ++wEntry;
  SendDlgItemMessageA(hDlg, IDC_COM_PORT, CB_SETCURSEL, wEntry, 0);
}

void applyMainDialog(HWND hDlg) {
  const LRESULT port = SendDlgItemMessageA(hDlg, IDC_COM_PORT, CB_GETCURSEL, 0, 0);
  VtrConfigInfo.ComPort =
      port >= 0 && port < static_cast<LRESULT>(sizeof(arbComs)) ? arbComs[port] : WORD{0};
  VtrConfigInfo.VTRID =
      static_cast<DWORD>(SendDlgItemMessageA(hDlg, IDC_VTR_NAME, CB_GETCURSEL, 0, 0));
  for (const auto& preset : kEditTypes) {
    if (IsDlgButtonChecked(hDlg, preset.id) != BST_CHECKED) continue;
    for (int i = 0; i < 7; ++i)
      StoreProfileField(&VtrConfigInfo, kEditTypeKeys[i], preset.flags[i]);
  }
  for (const auto& tc : kTimeCodes) {
    if (IsDlgButtonChecked(hDlg, tc.id) == BST_CHECKED) VtrConfigInfo.TimerSelect = tc.wTimerSelect;
  }
  VtrConfigInfo.Pal = IsDlgButtonChecked(hDlg, IDC_PAL) == BST_CHECKED ? 1 : 0;
}

}  // namespace

void ResetConfigDialogs() {
  std::memset(static_cast<void*>(&VtrConfigInfo), 0, sizeof(VtrConfigInfo));
  szDialogSection[0] = 0;
  std::memset(arbProbed, 0, sizeof(arbProbed));
  for (int i = 0; i < 9; ++i) arbComs[i] = static_cast<BYTE>(i < 8 ? i + 1 : 0);
}

LRESULT ConfigDlgProc(HWND hwndParent, LPARAM lParam) {
  DialogBoxParamA(hInstance, "IDD_MAIN_SETTINGS", hwndParent, MainConfigDlgProc, lParam);
  return 0;
}

void InitialUpdate(HWND hDlg, BOOL fFillLists) {
  // Keys the section lacks show what a new device would use, not what an
  // earlier run left; ComPort starts at 0 to tell a port the section names
  // from none.
  InitDevStruct(&VtrConfigInfo);
  VtrConfigInfo.ComPort = 0;
  LoadDevINI(szDialogSection, &VtrConfigInfo);

  DWORD nModels = 0;
  if (fFillLists) {
    char szEntry[128];
    for (; vtrBallistics[nModels].wDeviceType != 0xFFFF; ++nModels) {
      const VTRBALLISTICS& row = vtrBallistics[nModels];
      std::snprintf(szEntry, sizeof(szEntry), "%s %s", szMachVendors[row.wVendor], row.szModel);
      SendDlgItemMessageA(hDlg, IDC_VTR_NAME, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(szEntry));
    }
    SendDlgItemMessageA(hDlg, IDC_VTR_NAME, CB_ADDSTRING, 0,
                        reinterpret_cast<LPARAM>("AUTO DETECT (next driver open)"));
  }
  if (VtrConfigInfo.VTRID >= nModels) VtrConfigInfo.VTRID = kVtrIdDetect;
  SendDlgItemMessageA(hDlg, IDC_VTR_NAME, CB_SETCURSEL, VtrConfigInfo.VTRID, 0);

  if (fFillLists) {
    std::size_t nFound = 0;
    auto probe = [&nFound](WORD wPort) {
      char szPort[16];
      std::snprintf(szPort, sizeof(szPort), "COM%u", static_cast<unsigned>(wPort));
      HANDLE h = OpenComm(szPort, 1024, 1024);
      if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
      CloseComm(h);
      arbProbed[nFound++] = static_cast<BYTE>(wPort);
    };
    for (WORD n = 1; n <= 8; ++n) probe(n);
    const WORD wNamed = VtrConfigInfo.ComPort;
    if (wNamed > 8 && wNamed <= kHighestPort) probe(wNamed);
    for (; nFound < sizeof(arbProbed); ++nFound) arbProbed[nFound] = 0;
  }
  fillPortList(hDlg);

  int nEditType = IDC_ET_REC_PAUSE;
  if (VtrConfigInfo.CanRecord == 0) {
    nEditType = IDC_ET_PLAYER;
  } else if (VtrConfigInfo.CanInsVid != 0) {
    nEditType = VtrConfigInfo.CanAuto != 0 ? IDC_ET_AUTO_EDIT : IDC_ET_EDIT_ON_OFF;
  }
  CheckRadioButton(hDlg, IDC_ET_PLAYER, IDC_ET_AUTO_EDIT, nEditType);

  int nTimeCode = IDC_TC_AUTO;
  for (const auto& tc : kTimeCodes) {
    if (tc.wTimerSelect == VtrConfigInfo.TimerSelect) nTimeCode = tc.id;
  }
  if (nTimeCode == IDC_TC_AUTO) VtrConfigInfo.TimerSelect = 3;
  CheckRadioButton(hDlg, IDC_TC_AUTO, IDC_TC_LTC, nTimeCode);

  CheckRadioButton(hDlg, IDC_NTSC, IDC_PAL, VtrConfigInfo.Pal == 0 ? IDC_NTSC : IDC_PAL);
}

INT_PTR CALLBACK MainConfigDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  if (uMsg == WM_INITDIALOG) {
    const auto* info = reinterpret_cast<const DRVCONFIGINFO*>(lParam);
    DWORD dwNumber = 0;
    FormDeviceName(info != nullptr ? info->lpszDCIAliasName : nullptr, szRequestedSection,
                   &dwNumber);
    std::strcpy(szDialogSection, szRequestedSection);
    InitialUpdate(hDlg, TRUE);
    return TRUE;
  }
  if (uMsg != WM_COMMAND) return 0;
  switch (LOWORD(wParam)) {
    case IDOK:
      applyMainDialog(hDlg);
      SaveDevINI(szDialogSection, &VtrConfigInfo);
      EndDialog(hDlg, 1);
      return TRUE;
    case IDCANCEL:
      EndDialog(hDlg, 2);
      return TRUE;
    case IDC_HARDWARE:
      DialogBoxParamA(hInstance, "IDD_3_ADV_CAPABILITIES", hDlg, AdvCapabilitiesConfigDlgProc, 0);
      return TRUE;
    case IDC_EDITING:
      DialogBoxParamA(hInstance, "IDD_4_ADV_EDITING", hDlg, AdvEditingConfigDlgProc, 0);
      return TRUE;
    case IDC_SET_DEFAULT:
      InitDevStruct(&VtrConfigInfo);
      SaveDevINI(szDialogSection, &VtrConfigInfo);
      InitialUpdate(hDlg, FALSE);
      return TRUE;
    default:
      return 0;
  }
}

INT_PTR CALLBACK AdvCapabilitiesConfigDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam,
                                              LPARAM /*lParam*/) {
  return advancedDialog(hDlg, uMsg, wParam, kCapabilityFlags, kCapabilityNumbers, true);
}

INT_PTR CALLBACK AdvEditingConfigDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM /*lParam*/) {
  return advancedDialog(hDlg, uMsg, wParam, kEditingFlags, kEditingNumbers, false);
}

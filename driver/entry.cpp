// Driver entry and message dispatch.
#include <atomic>
#include <cstring>

#include "commands/handlers.h"
#include "config/profile.h"
#include "dialogs/dialogs.h"
#include "driver/driver.h"
#include "link/frames.h"
#include "link/queries.h"
#include "monitor/poll.h"
#include "record/device.h"

namespace {

WORD wTableEntry = static_cast<WORD>(MCI_NO_COMMAND_TABLE);

struct DispatchEntry {
  UINT uMsg;
  MciHandler handler;  // null: answers 0 without a handler
  // The handler reads its parameter block beyond the callback (which a null
  // block simply lacks): a null block answers MCIERR_NULL_PARAMETER_BLOCK.
  bool fReadsBlock;
};

const DispatchEntry kDispatch[] = {
    {MCI_OPEN_DRIVER, kestrelMciOpen, false},
    {MCI_CLOSE_DRIVER, kestrelMciClose, false},
    {MCI_OPEN, nullptr, false},
    {MCI_CLOSE, nullptr, false},
    {MCI_ESCAPE, kestrelMciEscape, true},
    {MCI_PLAY, kestrelMciPlay, true},
    {MCI_SEEK, kestrelMciSeek, true},
    {MCI_STOP, kestrelMciStop, false},
    {MCI_PAUSE, kestrelMciPause, false},
    {MCI_INFO, kestrelMciInfo, true},
    {MCI_GETDEVCAPS, kestrelMciGetDevCaps, true},
    {MCI_SET, kestrelMciSet, true},
    {MCI_STEP, kestrelMciStep, true},
    {MCI_RECORD, kestrelMciRecord, true},
    {MCI_SYSINFO, kestrelMciSysInfo, false},
    {MCI_BREAK, kestrelMciBreak, false},
    {MCI_STATUS, kestrelMciStatus, true},
    {MCI_CUE, kestrelMciCue, true},
    {MCI_FREEZE, kestrelMciPause, false},
    {MCI_UNFREEZE, kestrelMciPause, false},
    {MCI_RESUME, nullptr, false},
    {MCI_SETAUDIO, kestrelMciSetAudio, true},
    {MCI_SETVIDEO, kestrelMciSetVideo, false},
    {MCI_LIST, kestrelMciList, true},
    {MCI_MARK, kestrelMciMark, false},
    {MCI_INDEX, kestrelMciIndex, false},
    {MCI_SETTUNER, kestrelMciSetTuner, false},
    {MCI_VTR_FF, kestrelMciFf, false},
    {MCI_VTR_RW, kestrelMciRw, false},
    {MCI_VTR_SHUTTLE, kestrelMciShuttle, true},
    {MCI_VTR_EDIT, kestrelMciEditPoint, true},
    {MCI_VTR_EDIT_STATUS, kestrelMciEditPointStatus, true},
    {MCI_VTR_STRIPE, kestrelMciStripe, true},
    {MCI_VTR_CALIBRATE, kestrelMciCalibrate, false},
    {MCI_VTR_SETZDKR, kestrelMciSetZDKR, true},
    {MCI_VTR_SETZDKRVID, kestrelMciSetZDKRVid, true},
    {MCI_VTR_SETZDKRAUD, kestrelMciSetZDKRAud, true},
    {MCI_VTR_GETZDKR, kestrelMciGetZDKR, true},
    {MCI_VTR_GETZDKRVID, kestrelMciGetZDKR, true},
    {MCI_VTR_GETZDKRAUD, kestrelMciGetZDKR, true},
    {MCI_VTR_VDR, kestrelMciVDR, true},
};

// Driver opens and closes change the device table; one at a time, so that
// two opens never take the same free slot or make two records for one
// device number.
CRITICAL_SECTION csDriverTable;

// Per slot, under csDriverTable: the record was created without a parameter
// string to name it (winmm under Wine hands the first device's driver open
// none), so its MCI open may still name it from the device's name.
bool abNameAtOpen[kDeviceSlots];

void storeSlot(int slot, DeviceRecord* rec, HGLOBAL hMem) {
  vtrStates[slot].hMem = hMem;
  std::atomic_ref<DeviceRecord*>(vtrStates[slot].lpRecord).store(rec, std::memory_order_release);
}

bool hasText(LPCWSTR s) { return s != nullptr && s[0] != 0; }

// The device's parameter string: lpstrParams, as Windows fills it; where it is
// empty, the text driver open receives as lParam1 (all Wine fills).
LPCWSTR deviceParams(LPARAM lParam1, const MCI_OPEN_DRIVER_PARMS* lpOpen) {
  if (hasText(lpOpen->lpstrParams)) return lpOpen->lpstrParams;
  const auto* text = reinterpret_cast<LPCWSTR>(lParam1);
  return hasText(text) ? text : nullptr;
}

// Creates or reuses the record; under csDriverTable.
DWORD openInTable(DWORD dwHandle, const MCI_OPEN_DRIVER_PARMS* lpOpen, LPCWSTR params) {
  char szSection[kSectionChars];
  DWORD dwNumber = 0;
  FormDeviceName(params, szSection, &dwNumber);
  const WORD wId = static_cast<WORD>(lpOpen->wDeviceID & 0xFFFF);

  for (int i = 0; i < kDeviceSlots; ++i) {
    DeviceRecord* rec = LoadSlotRecord(i);
    if (rec != nullptr &&
        (rec->hDriver == dwHandle || rec->wDeviceID == wId || rec->nDeviceNumber == dwNumber)) {
      return rec->wDeviceID;
    }
  }
  int slot = -1;
  for (int i = 0; i < kDeviceSlots && slot < 0; ++i) {
    if (LoadSlotRecord(i) == nullptr) slot = i;
  }
  if (slot < 0) return 0;

  HGLOBAL hMem = GlobalAlloc(GMEM_ZEROINIT, sizeof(DeviceRecord));
  if (hMem == nullptr) return 0;
  auto* rec = static_cast<DeviceRecord*>(GlobalLock(hMem));
  if (rec == nullptr) {
    GlobalFree(hMem);
    return 0;
  }
  InitializeCriticalSection(&rec->csCommand);
  InitDevStruct(rec);
  LoadDevINI(szSection, rec);
  rec->nDeviceNumber = dwNumber;
  std::strcpy(szRequestedSection, szSection);
  std::strcpy(rec->szSection, szSection);
  rec->hDriver = dwHandle;
  rec->wDeviceID = wId;
  abNameAtOpen[slot] = params == nullptr;
  // Published last, complete: the poll and the dispatcher scan the table without a lock.
  storeSlot(slot, rec, hMem);
  mciSetDriverData(wId, static_cast<DWORD_PTR>(slot));
  return lpOpen->wDeviceID;
}

// MCI open of a record that driver open could not name: the device's name in
// the open block ("vcr2", as the application opened it) names it, and the
// record starts again from that section. Runs under the record's csCommand.
void nameAtOpen(DeviceRecord* rec, DWORD dwFlags, LPARAM lParam2) {
  if (lParam2 == 0 || (dwFlags & MCI_OPEN_TYPE) == 0 || (dwFlags & MCI_OPEN_TYPE_ID) != 0) return;
  // The open block: callback, the device ID (32 bits), then the name's address, unaligned.
  LPCWSTR name = nullptr;
  std::memcpy(&name, reinterpret_cast<const unsigned char*>(lParam2) + sizeof(DWORD_PTR) + 4,
              sizeof(name));
  EnterCriticalSection(&csDriverTable);
  for (int i = 0; i < kDeviceSlots; ++i) {
    if (LoadSlotRecord(i) != rec || !abNameAtOpen[i] || rec->nOpenCount != 0) continue;
    abNameAtOpen[i] = false;
    char szSection[kSectionChars];
    DWORD dwNumber = 0;
    FormDeviceName(name, szSection, &dwNumber);
    if (std::strcmp(szSection, rec->szSection) != 0) {
      InitDevStruct(rec);
      LoadDevINI(szSection, rec);
      rec->nDeviceNumber = dwNumber;
      std::strcpy(szRequestedSection, szSection);
      std::strcpy(rec->szSection, szSection);
    }
  }
  LeaveCriticalSection(&csDriverTable);
}

}  // namespace

DWORD kestrelDriverOpen(HDRVR hDriver, LPARAM lParam1, LPMCI_OPEN_DRIVER_PARMS lpOpen);
DWORD kestrelDriverClose(HDRVR hDriver, LPARAM lParam1, LPARAM lParam2);
LRESULT kestrelMciDriverEntry(DWORD_PTR dwDriverID, UINT uMsg, LPARAM lParam1, LPARAM lParam2);

BOOL WINAPI DllInstanceInit(HINSTANCE hInst, DWORD dwReason, LPVOID /*lpReserved*/) {
  if (dwReason == 1) return LibMain(hInst, 0, 0);
  if (dwReason == 0) return WEP(0);
  return 1;
}

BOOL LibMain(HINSTANCE hInst, WORD /*wDataSeg*/, WORD /*cbHeapSize*/) {
  hInstance = hInst;
  for (auto& slot : vtrStates) storeSlot(static_cast<int>(&slot - vtrStates), nullptr, nullptr);
  // The module's writable data starts as loaded.
  ResetCommandTable();
  fComInUse = 0;
  std::memset(statStruct, 0, sizeof(statStruct));
  ResetPollState();
  ResetConfigDialogs();
  InitializeCriticalSection(&csLink);
  InitializeCriticalSection(&csPoll);
  InitializeCriticalSection(&csDriverTable);
  drvTimerSt.wPeriod = kPollPeriodNormal;
  drvTimerSt.wSlowTicks = kSlowTicksNormal;
  drvTimerSt.dwTicks = 0;
  drvTimerSt.lpfnTimerProc = TimerProc;
  drvTimerSt.idTimer =
      static_cast<WORD>(SetTimer(nullptr, 1, drvTimerSt.wPeriod, drvTimerSt.lpfnTimerProc));
  return 1;
}

int CALLBACK WEP(int /*nExitType*/) {
  KillTimer(nullptr, drvTimerSt.idTimer);
  // Records still in the table are not released; the locks are, once no poll can run.
  DeleteCriticalSection(&csDriverTable);
  DeleteCriticalSection(&csPoll);
  DeleteCriticalSection(&csLink);
  return 1;
}

LRESULT CALLBACK DriverProc(DWORD_PTR dwDriverID, HDRVR hDriver, UINT uMsg, LPARAM lParam1,
                            LPARAM lParam2) {
  switch (uMsg & 0xFFFF) {
    case DRV_LOAD: {
      const UINT table = mciLoadCommandResource(hInstance, VTR_WTEXT("vcr"), 0);
      wTableEntry = static_cast<WORD>(table);
      return (table & 0xFFFF) == 0xFFFF ? 0 : 1;  // the no-table value, whatever its width
    }
    case DRV_ENABLE:
      return 1;
    case DRV_OPEN: {
      if (lParam2 == 0) return 10000;
      auto* lpOpen = reinterpret_cast<LPMCI_OPEN_DRIVER_PARMS>(lParam2);
      lpOpen->wCustomCommandTable = wTableEntry;
      lpOpen->wType = MCI_DEVTYPE_VCR;
      return static_cast<LRESULT>(kestrelDriverOpen(hDriver, lParam1, lpOpen));
    }
    case DRV_CLOSE:
      kestrelDriverClose(hDriver, lParam1, lParam2);
      return 1;
    case DRV_DISABLE:
      return 1;
    case DRV_FREE:
      mciFreeCommandResource(wTableEntry);
      return 1;
    case DRV_CONFIGURE: {
      // The block's size is the caller's sizeof(DRVCONFIGINFO): 12 on 32-bit Windows.
      const auto* info = reinterpret_cast<const DRVCONFIGINFO*>(lParam2);
      if (lParam1 != 0 && info != nullptr && info->dwDCISize == sizeof(DRVCONFIGINFO)) {
        ConfigDlgProc(reinterpret_cast<HWND>(lParam1), lParam2);
      }
      return 0;
    }
    case DRV_QUERYCONFIGURE:
    case DRV_INSTALL:
      return 1;
    default:
      return kestrelMciDriverEntry(dwDriverID, uMsg, lParam1, lParam2);
  }
}

DWORD kestrelDriverOpen(HDRVR hDriver, LPARAM lParam1, LPMCI_OPEN_DRIVER_PARMS lpOpen) {
  const DWORD dwHandle = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(hDriver) & 0xFFFF);
  EnterCriticalSection(&csDriverTable);
  const DWORD id = openInTable(dwHandle, lpOpen, deviceParams(lParam1, lpOpen));
  LeaveCriticalSection(&csDriverTable);
  return id;
}

DWORD kestrelDriverClose(HDRVR hDriver, LPARAM /*lParam1*/, LPARAM /*lParam2*/) {
  const DWORD dwHandle = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(hDriver) & 0xFFFF);
  EnterCriticalSection(&csDriverTable);
  EnterCriticalSection(&csPoll);  // never free a record under a running poll
  for (int i = 0; i < kDeviceSlots; ++i) {
    DeviceRecord* rec = LoadSlotRecord(i);
    if (rec == nullptr || rec->hDriver != dwHandle) continue;
    // A record whose command is still running is in use: it stays.
    if (!TryEnterCriticalSection(&rec->csCommand)) break;
    const DWORD nOpen = rec->nOpenCount;
    LeaveCriticalSection(&rec->csCommand);
    if (nOpen == 0) {
      HGLOBAL hMem = vtrStates[i].hMem;
      DeleteCriticalSection(&rec->csCommand);
      GlobalUnlock(hMem);
      storeSlot(i, nullptr, hMem);
      GlobalFree(hMem);
      vtrStates[i].hMem = nullptr;
    }
    break;
  }
  LeaveCriticalSection(&csPoll);
  LeaveCriticalSection(&csDriverTable);
  return 1;
}

LRESULT kestrelMciDriverEntry(DWORD_PTR dwDriverID, UINT uMsg, LPARAM lParam1, LPARAM lParam2) {
  DeviceRecord* rec = GetDevState(dwDriverID);
  if (rec == nullptr) return MCIERR_INVALID_DEVICE_ID;

  EnterCriticalSection(&rec->csCommand);
  DWORD result = MCIERR_UNRECOGNIZED_COMMAND;
  const UINT msg = uMsg & 0xFFFF;
  const auto dwFlags = static_cast<DWORD>(lParam1);
  if (msg == MCI_OPEN_DRIVER) nameAtOpen(rec, dwFlags, lParam2);
  for (const auto& e : kDispatch) {
    if (e.uMsg != msg) continue;
    if (e.fReadsBlock && lParam2 == 0) {
      result = MCIERR_NULL_PARAMETER_BLOCK;
    } else if (e.handler != nullptr) {
      result = e.handler(rec, dwFlags, reinterpret_cast<LPVOID>(lParam2));
    } else {
      result = 0;
    }
    break;
  }
  LeaveCriticalSection(&rec->csCommand);
  return static_cast<LRESULT>(result);
}

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
};

const DispatchEntry kDispatch[] = {
    {MCI_OPEN_DRIVER, kestrelMciOpen},
    {MCI_CLOSE_DRIVER, kestrelMciClose},
    {MCI_OPEN, nullptr},
    {MCI_CLOSE, nullptr},
    {MCI_ESCAPE, kestrelMciEscape},
    {MCI_PLAY, kestrelMciPlay},
    {MCI_SEEK, kestrelMciSeek},
    {MCI_STOP, kestrelMciStop},
    {MCI_PAUSE, kestrelMciPause},
    {MCI_INFO, kestrelMciInfo},
    {MCI_GETDEVCAPS, kestrelMciGetDevCaps},
    {MCI_SET, kestrelMciSet},
    {MCI_STEP, kestrelMciStep},
    {MCI_RECORD, kestrelMciRecord},
    {MCI_SYSINFO, kestrelMciSysInfo},
    {MCI_BREAK, kestrelMciBreak},
    {MCI_STATUS, kestrelMciStatus},
    {MCI_CUE, kestrelMciCue},
    {MCI_FREEZE, kestrelMciPause},
    {MCI_UNFREEZE, kestrelMciPause},
    {MCI_RESUME, nullptr},
    {MCI_SETAUDIO, kestrelMciSetAudio},
    {MCI_SETVIDEO, kestrelMciSetVideo},
    {MCI_LIST, kestrelMciList},
    {MCI_MARK, kestrelMciMark},
    {MCI_INDEX, kestrelMciIndex},
    {MCI_SETTUNER, kestrelMciSetTuner},
    {MCI_VTR_FF, kestrelMciFf},
    {MCI_VTR_RW, kestrelMciRw},
    {MCI_VTR_SHUTTLE, kestrelMciShuttle},
    {MCI_VTR_EDIT, kestrelMciEditPoint},
    {MCI_VTR_EDIT_STATUS, kestrelMciEditPointStatus},
    {MCI_VTR_STRIPE, kestrelMciStripe},
    {MCI_VTR_CALIBRATE, kestrelMciCalibrate},
    {MCI_VTR_SETZDKR, kestrelMciSetZDKR},
    {MCI_VTR_SETZDKRVID, kestrelMciSetZDKRVid},
    {MCI_VTR_SETZDKRAUD, kestrelMciSetZDKRAud},
    {MCI_VTR_GETZDKR, kestrelMciGetZDKR},
    {MCI_VTR_GETZDKRVID, kestrelMciGetZDKR},
    {MCI_VTR_GETZDKRAUD, kestrelMciGetZDKR},
    {MCI_VTR_VDR, kestrelMciVDR},
};

void storeSlot(int slot, DeviceRecord* rec, HGLOBAL hMem) {
  vtrStates[slot].hMem = hMem;
  std::atomic_ref<DeviceRecord*>(vtrStates[slot].lpRecord).store(rec, std::memory_order_release);
}

}  // namespace

DWORD kestrelDriverOpen(HDRVR hDriver, LPARAM /*lParam1*/, LPMCI_OPEN_DRIVER_PARMS lpOpen);
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

DWORD kestrelDriverOpen(HDRVR hDriver, LPARAM /*lParam1*/, LPMCI_OPEN_DRIVER_PARMS lpOpen) {
  char szSection[kSectionChars];
  DWORD dwNumber = 0;
  FormDeviceName(lpOpen->lpstrParams, szSection, &dwNumber);
  const DWORD dwHandle = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(hDriver) & 0xFFFF);
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
  // Published last, complete: the poll and the dispatcher scan the table without a lock.
  storeSlot(slot, rec, hMem);
  mciSetDriverData(wId, static_cast<DWORD_PTR>(slot));
  return lpOpen->wDeviceID;
}

DWORD kestrelDriverClose(HDRVR hDriver, LPARAM /*lParam1*/, LPARAM /*lParam2*/) {
  const DWORD dwHandle = static_cast<DWORD>(reinterpret_cast<UINT_PTR>(hDriver) & 0xFFFF);
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
  return 1;
}

LRESULT kestrelMciDriverEntry(DWORD_PTR dwDriverID, UINT uMsg, LPARAM lParam1, LPARAM lParam2) {
  DeviceRecord* rec = GetDevState(dwDriverID);
  if (rec == nullptr) return MCIERR_INVALID_DEVICE_ID;

  EnterCriticalSection(&rec->csCommand);
  DWORD result = MCIERR_UNRECOGNIZED_COMMAND;
  const UINT msg = uMsg & 0xFFFF;
  for (const auto& e : kDispatch) {
    if (e.uMsg != msg) continue;
    result = e.handler != nullptr
                 ? e.handler(rec, static_cast<DWORD>(lParam1), reinterpret_cast<LPVOID>(lParam2))
                 : 0;
    break;
  }
  LeaveCriticalSection(&rec->csCommand);
  return static_cast<LRESULT>(result);
}

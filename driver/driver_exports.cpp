// The DLL's entry point and exported names. The core's entry points are C++
// functions; these C-linkage forwarders give the module the plain names
// winmm looks up (GetProcAddress "DriverProc"), mapped in mcivtr.def.
#include "driver/driver.h"

extern "C" {

// The CRT's DLL start-up runs static initialisation first and then calls
// DllMain, so the core's DllInstanceInit sees a ready runtime.
BOOL WINAPI DllMain(HINSTANCE hInst, DWORD dwReason, LPVOID lpReserved) {
  return DllInstanceInit(hInst, dwReason, lpReserved);
}

LRESULT CALLBACK vtrExportDriverProc(DWORD_PTR dwDriverID, HDRVR hDriver, UINT uMsg, LPARAM lParam1,
                                     LPARAM lParam2) {
  return DriverProc(dwDriverID, hDriver, uMsg, lParam1, lParam2);
}

int CALLBACK vtrExportWEP(int nExitType) { return WEP(nExitType); }

void CALLBACK vtrExportTimerProc(HWND hwnd, UINT uMsg, UINT_PTR idEvent, DWORD dwTime) {
  TimerProc(hwnd, uMsg, idEvent, dwTime);
}

BOOL WINAPI vtrExportDllInstanceInit(HINSTANCE hInst, DWORD dwReason, LPVOID lpReserved) {
  return DllInstanceInit(hInst, dwReason, lpReserved);
}

INT_PTR CALLBACK vtrExportMainConfigDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam) {
  return MainConfigDlgProc(hDlg, uMsg, wParam, lParam);
}

}  // extern "C"

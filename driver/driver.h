// The driver module's entry points, as a host (the multimedia library, our
// POSIX host, a test) sees them.
#pragma once

#include "platform/win32.h"

// Library entry: reason 1 attaches (LibMain), 0 detaches (WEP), others answer 1.
BOOL WINAPI DllInstanceInit(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved);
BOOL LibMain(HINSTANCE hInstance, WORD wDataSeg, WORD cbHeapSize);
int CALLBACK WEP(int nExitType);

// The installable-driver entry point.
LRESULT CALLBACK DriverProc(DWORD_PTR dwDriverID, HDRVR hDriver, UINT uMsg, LPARAM lParam1,
                            LPARAM lParam2);

// The poll timer's callback (exported, also run directly by waits).
void CALLBACK TimerProc(HWND hwnd, UINT uMsg, UINT_PTR idEvent, DWORD dwTime);

// The configuration dialog's procedure (exported).
INT_PTR CALLBACK MainConfigDlgProc(HWND hDlg, UINT uMsg, WPARAM wParam, LPARAM lParam);

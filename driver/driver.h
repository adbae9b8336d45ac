// The driver module's entry points, as a host (the multimedia library, our
// POSIX host, a test) sees them. The module also exports TimerProc and
// MainConfigDlgProc, which the rooms below declare.
#pragma once

#include "dialogs/dialogs.h"
#include "monitor/poll.h"
#include "platform/win32.h"

// Library entry: reason 1 attaches (LibMain), 0 detaches (WEP), others answer 1.
BOOL WINAPI DllInstanceInit(HINSTANCE hInstance, DWORD dwReason, LPVOID lpReserved);
BOOL LibMain(HINSTANCE hInstance, WORD wDataSeg, WORD cbHeapSize);
int CALLBACK WEP(int nExitType);

// The installable-driver entry point.
LRESULT CALLBACK DriverProc(DWORD_PTR dwDriverID, HDRVR hDriver, UINT uMsg, LPARAM lParam1,
                            LPARAM lParam2);

// Command completion: superseding, notifying, waiting and the timed wait.
#pragma once

#include "driver/device.h"

void chkEntry(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
void chkNotify(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms, DWORD dwError);
void chkWait(DeviceRecord* rec, DWORD dwFlags, DWORD dwMask, DWORD dwError);
void CheckWait(DeviceRecord* rec, DWORD dwFlags, DWORD dwUnused, DWORD dwError);

// Owes the command's notification to the poll (background commands).
void oweNotify(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
// Sends a notification to a stored callback handle.
void notifyCallback(DWORD dwCallback, WORD wDeviceID, UINT uStatus);

void waitTime(DeviceRecord* rec, DWORD dwMilliseconds);
// As waitTime; true when the application asked to break.
bool waitTimeOrBreak(DeviceRecord* rec, DWORD dwMilliseconds);
int DriverYield(DeviceRecord* rec);

// Periods a wait for the machine's motion goes on while the machine does
// not answer at all, before it gives up.
inline constexpr int kSilentPeriodsBeforeGivingUp = 10;

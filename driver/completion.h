// Command completion: superseding, notifying, waiting and the timed wait.
#pragma once

#include "driver/device.h"

void chkEntry(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
void chkNotify(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms, DWORD dwError);
// The waits answer `dwError` when it is nonzero, 0 when the wait ended as
// asked (or on a break), and MCIERR_HARDWARE when it was given up or the
// background command it waited for failed.
DWORD chkWait(DeviceRecord* rec, DWORD dwFlags, DWORD dwMask, DWORD dwError);
DWORD CheckWait(DeviceRecord* rec, DWORD dwFlags, DWORD dwUnused, DWORD dwError);
// chkWait for a handler that has just started a background command: the wait
// also ends when that command ends, with its verdict.
DWORD chkWaitOwn(DeviceRecord* rec, DWORD dwFlags, DWORD dwMask, DWORD dwError);
// Gives a wait up: the pending background command, if any, is abandoned (its
// owed notification answered with failure). Answers MCIERR_HARDWARE.
DWORD AbandonWait(DeviceRecord* rec);

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
// Periods (or poll visits) in a row a machine may sit at rest short of what a
// wait looks for before the wait, or the background command, gives up.
inline constexpr int kRestPeriodsBeforeGivingUp = 5;

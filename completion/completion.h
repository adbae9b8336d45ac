// Command completion: superseding, notifying and the waits for the machine.
#pragma once

#include "record/device.h"
#include "record/notify.h"
#include "record/wait.h"

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

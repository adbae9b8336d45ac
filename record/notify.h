// Owed notifications: a command that goes on in the background owes its
// notification until the poll ends the command or a later command supersedes
// it. At most one is owed per device; only these routines write
// fNotifyPending and dwNotifyCallback.
#pragma once

#include "record/device.h"

// The callback handle of a parameter block (its first slot); 0 without a block.
DWORD_PTR CallbackOf(LPVOID lpParms);
// Sends a notification to a callback handle.
void NotifyCallback(DWORD_PTR dwCallback, WORD wDeviceID, UINT uStatus);

// Owes the command's notification, when it asks for one (MCI_NOTIFY and a
// nonzero callback). The handler has superseded any older one first.
void OweNotify(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
bool NotifyIsOwed(const DeviceRecord* rec);
// Answers the owed notification, if any, with MCI_NOTIFY_SUPERSEDED.
void SupersedeOwed(DeviceRecord* rec);
// Answers the owed notification, if any, with `uStatus`: the end of its
// command (MCI_NOTIFY_SUCCESSFUL or MCI_NOTIFY_FAILURE).
void DeliverOwed(DeviceRecord* rec, UINT uStatus);

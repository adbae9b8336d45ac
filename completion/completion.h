// Command completion: superseding, notifying and the waits for the machine.
#pragma once

#include "record/device.h"
#include "record/notify.h"
#include "record/wait.h"

void chkEntry(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms);
// Notifies an error as failure, or, after a wait the application broke, as
// aborted, and after one a later command superseded, as superseded.
void chkNotify(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms, DWORD dwError);
// The waits answer `dwError` when it is nonzero, 0 when the machine is where
// the command asked, and MCIERR_HARDWARE when it is not: the wait was given
// up (the machine cannot do it, stopped answering or came to rest short of
// it), its background command failed, the application broke the wait, or a
// later command took the device over.
//
// chkWait waits for the state the handler's mask asks for: a mask holding
// both direction bits (one of which every reading shows) asks for the state
// of the bits it leaves out; any other mask asks for a place (the tape's
// start or end, a cue under way) and fails on a deck under local control.
DWORD chkWait(DeviceRecord* rec, DWORD dwFlags, DWORD dwMask, DWORD dwError);
// chkWait for a cue to `dwTarget` (frames): a deck that rests with cue-up
// complete without showing the mask had nothing to travel, when it is there.
DWORD chkWaitCue(DeviceRecord* rec, DWORD dwFlags, DWORD dwMask, DWORD dwError, DWORD dwTarget);
DWORD CheckWait(DeviceRecord* rec, DWORD dwFlags, DWORD dwUnused, DWORD dwError);
// The wait of a seek or cue to a position that the handler has just started
// in the background: it ends with the poll's verdict on the command.
DWORD chkWaitOwn(DeviceRecord* rec, DWORD dwFlags, DWORD dwMask, DWORD dwError);

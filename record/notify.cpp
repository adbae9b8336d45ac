// Owed notifications.
#include "record/notify.h"

#include "record/parms.h"

DWORD_PTR CallbackOf(LPVOID lpParms) {
  return lpParms != nullptr ? static_cast<VTR_GENERIC_PARMS*>(lpParms)->dwCallback : 0;
}

void NotifyCallback(DWORD_PTR dwCallback, WORD wDeviceID, UINT uStatus) {
  mciDriverNotify(reinterpret_cast<HANDLE>(dwCallback), wDeviceID, uStatus);
}

void OweNotify(DeviceRecord* rec, DWORD dwFlags, LPVOID lpParms) {
  const DWORD_PTR callback = CallbackOf(lpParms);
  if ((dwFlags & MCI_NOTIFY) != 0 && callback != 0) {
    rec->dwNotifyCallback = static_cast<DWORD>(callback);
    rec->fNotifyPending = 1;
  }
}

bool NotifyIsOwed(const DeviceRecord* rec) { return rec->fNotifyPending != 0; }

void SupersedeOwed(DeviceRecord* rec) {
  if (rec->fNotifyPending == 0) return;
  const DWORD callback = rec->dwNotifyCallback;
  rec->fNotifyPending = 0;
  rec->dwNotifyCallback = 0;
  NotifyCallback(callback, rec->wDeviceID, MCI_NOTIFY_SUPERSEDED);
}

void DeliverOwed(DeviceRecord* rec, UINT uStatus) {
  if (rec->fNotifyPending == 0 || rec->dwNotifyCallback == 0) return;
  const DWORD callback = rec->dwNotifyCallback;
  rec->fNotifyPending = 0;
  rec->dwNotifyCallback = 0;
  NotifyCallback(callback, rec->wDeviceID, uStatus);
}

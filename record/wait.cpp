// The timed wait and the yield.
#include "record/wait.h"

int DriverYield(DeviceRecord* rec) {
  LeaveCriticalSection(&rec->csCommand);
  const UINT result = mciDriverYield(rec->wDeviceID);
  Sleep(10);
  EnterCriticalSection(&rec->csCommand);
  return static_cast<int>(result);
}

bool waitTimeOrBreak(DeviceRecord* rec, DWORD dwMilliseconds) {
  const DWORD start = GetTickCount();
  for (;;) {
    // Unsigned difference: a wrap of the tick counter neither ends nor lengthens the wait.
    if (GetTickCount() - start > dwMilliseconds) return false;
    if (rec->wDeviceID < 0xFFFF && DriverYield(rec) != 0) return true;
  }
}

void waitTime(DeviceRecord* rec, DWORD dwMilliseconds) { waitTimeOrBreak(rec, dwMilliseconds); }

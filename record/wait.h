// The timed wait and the yield: every pause the driver makes while it holds a
// device lets the application run, and is the only place a command gives up
// its device's lock.
#pragma once

#include "record/device.h"

// Returns when more than `dwMilliseconds` have passed, or at a break.
void waitTime(DeviceRecord* rec, DWORD dwMilliseconds);
// As waitTime; true when the application asked to break.
bool waitTimeOrBreak(DeviceRecord* rec, DWORD dwMilliseconds);
// One yield to the application, outside csCommand; nonzero asks to break.
int DriverYield(DeviceRecord* rec);

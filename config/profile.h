// The device profile file "VTR.INI".
#pragma once

#include "driver/device.h"

inline constexpr const char* kProfileFile = "VTR.INI";

void LoadDevINI(LPCSTR szSection, DeviceRecord* rec);
void SaveDevINI(LPCSTR szSection, const DeviceRecord* rec);

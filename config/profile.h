// The device profile file "VTR.INI".
#pragma once

#include "record/device.h"

inline constexpr const char* kProfileFile = "VTR.INI";

// The section formed by the most recent driver open that created a record, or
// by the most recent start of the configuration dialog.
extern char szRequestedSection[kSectionChars];

// The profile section ("videotape" and the first one or two digits) and the
// device number formed from a device's parameter string; null has no digits.
void FormDeviceName(LPCWSTR lpstrParams, char* szSection, DWORD* pdwNumber);

void LoadDevINI(LPCSTR szSection, DeviceRecord* rec);
void SaveDevINI(LPCSTR szSection, const DeviceRecord* rec);

// One field by its key name, for the configuration dialogs: the field's value
// (sign-extended for signed fields), its decimal text as the profile writes
// it, and storing a number narrowed to the field's width. Unknown keys read as
// 0 and store nothing.
INT ProfileFieldValue(const DeviceRecord* rec, const char* szKey);
void FormatProfileField(const DeviceRecord* rec, const char* szKey, char* szBuf, std::size_t cb);
void StoreProfileField(DeviceRecord* rec, const char* szKey, UINT value);

// Machine models: the model table and the vendor names.
#pragma once

#include "platform/win32.h"

struct DeviceRecord;

// One row of the model table.
struct VTRBALLISTICS {
  DWORD fCanRecord;  // copied to CanRecord
  DWORD fCanInsVid;  // copied to CanInsVid
  DWORD fCanAuto;    // copied to CanAuto
  WORD wEditIn;      // stored negated in EditIn
  WORD wEditOut;     // stored negated in EditOut
  WORD wEEIn;        // stored negated in EEIn
  WORD wEEOut;       // stored negated in EEOut
  WORD wDeviceType;  // device type reply, first data byte high
  WORD wVendor;      // index into szMachVendors
  const char* szModel;
  const char* szShortName;  // may be null; nothing reads it
};

inline constexpr int kModelRows = 57;       // rows 0..55 are models, 56 is the end marker
inline constexpr DWORD kVtrIdDetect = 56;   // VTRID meaning "detect at the next open"
inline constexpr DWORD kVtrIdGeneric = 55;  // "Generic RS-422 Protocol"

extern const VTRBALLISTICS vtrBallistics[kModelRows];
extern const char* const szMachVendors[10];  // null-terminated

void SetVTRBallistics(DeviceRecord* rec, DWORD dwDeviceType);
void initSetVTRBallistics(DeviceRecord* rec, WORD wIndex);
// Detection got no code it can trust: nothing is saved, `VTRID` keeps asking
// for detection at the next open, and this open runs on the generic settings.
void KeepDetecting(DeviceRecord* rec);

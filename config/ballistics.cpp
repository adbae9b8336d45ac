// Model detection: a reported device type code selects a model row.
#include "config/ballistics.h"

#include "config/profile.h"
#include "record/device.h"

void initSetVTRBallistics(DeviceRecord* rec, WORD wIndex) {
  if (wIndex < kVtrIdDetect) {
    const VTRBALLISTICS& row = vtrBallistics[wIndex];
    rec->CanRecord = row.fCanRecord;
    rec->CanInsVid = row.fCanInsVid;
    rec->CanAuto = row.fCanAuto;
    rec->EditIn = static_cast<std::int16_t>(-static_cast<int>(row.wEditIn));
    rec->EditOut = static_cast<std::int16_t>(-static_cast<int>(row.wEditOut));
    rec->EEIn = static_cast<std::int16_t>(-static_cast<int>(row.wEEIn));
    rec->EEOut = static_cast<std::int16_t>(-static_cast<int>(row.wEEOut));
    return;
  }
  rec->CanRecord = rec->CanInsVid = rec->CanAuto = 1;
  rec->EditIn = rec->EditOut = rec->EEIn = rec->EEOut = -4;
}

void SetVTRBallistics(DeviceRecord* rec, DWORD dwDeviceType) {
  WORD row = static_cast<WORD>(kVtrIdGeneric);
  bool found = false;
  for (WORD i = 0; i < kVtrIdDetect; ++i) {
    if (vtrBallistics[i].wDeviceType == dwDeviceType) {
      row = i;
      found = true;
      break;
    }
  }
  rec->VTRID = row;
  initSetVTRBallistics(rec, found ? row : static_cast<WORD>(kVtrIdDetect));
  SaveDevINI(rec->szSection, rec);
}

void KeepDetecting(DeviceRecord* rec) {
  rec->VTRID = kVtrIdDetect;
  initSetVTRBallistics(rec, static_cast<WORD>(kVtrIdDetect));
}

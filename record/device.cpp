// The device table and the defaults of a new device record.
#include "record/device.h"

#include <atomic>
#include <type_traits>

DeviceSlot vtrStates[kDeviceSlots];
DrvTimer drvTimerSt;
HINSTANCE hInstance;

// Field widths are part of the profile format and of what the poll shares.
#define VTR_WIDTH(field, bytes) static_assert(sizeof(DeviceRecord::field) == (bytes), #field)
VTR_WIDTH(wDeviceID, 2);
VTR_WIDTH(hDriver, 4);
VTR_WIDTH(nDeviceNumber, 4);
VTR_WIDTH(dwOpenFlags, 4);
VTR_WIDTH(nOpenCount, 4);
VTR_WIDTH(dwSpeed, 4);
VTR_WIDTH(fNotifyPending, 4);
VTR_WIDTH(dwNotifyCallback, 4);
VTR_WIDTH(wPollPeriod, 2);
VTR_WIDTH(wPollSkip, 2);
VTR_WIDTH(fMotionDone, 4);
VTR_WIDTH(dwPendingState, 4);
VTR_WIDTH(dwPendingDelay, 4);
VTR_WIDTH(dwPendingFrom, 4);
VTR_WIDTH(dwPendingTo, 4);
VTR_WIDTH(dwNextState, 4);
VTR_WIDTH(dwNextDelay, 4);
VTR_WIDTH(dwNextFrom, 4);
VTR_WIDTH(dwNextTo, 4);
VTR_WIDTH(UseWinCom, 4);
VTR_WIDTH(ComPort, 2);
VTR_WIDTH(hComm, sizeof(HANDLE));
VTR_WIDTH(ComAddr, 2);
VTR_WIDTH(ComIrq, 2);
VTR_WIDTH(ComBaud, 2);
VTR_WIDTH(ComData, 2);
VTR_WIDTH(ComParity, 2);
VTR_WIDTH(ComStop, 2);
VTR_WIDTH(VTRID, 4);
VTR_WIDTH(UserBits, 4);
VTR_WIDTH(TapeFormat, 4);
VTR_WIDTH(Pal, 4);
VTR_WIDTH(AudioTracks, 2);
VTR_WIDTH(VideoSources, 2);
VTR_WIDTH(AudioSources, 2);
VTR_WIDTH(LTCTrack, 2);
VTR_WIDTH(dwPosition, 4);
VTR_WIDTH(wTCFormat, 2);
VTR_WIDTH(dwTimeFormat, 4);
VTR_WIDTH(dwCounterFormat, 4);
VTR_WIDTH(dwMode, 4);
VTR_WIDTH(dwStatus, 4);
VTR_WIDTH(dwInPoint, 4);
VTR_WIDTH(dwInsertAudio, 4);
VTR_WIDTH(PreRoll, 2);
VTR_WIDTH(InsPostRoll, 2);
VTR_WIDTH(CanCue, 4);
VTR_WIDTH(HasVTC, 4);
VTR_WIDTH(EditIn, 2);
VTR_WIDTH(PrerollBias, 2);
VTR_WIDTH(TimerSelect, 2);
VTR_WIDTH(RecInhibit, 4);
VTR_WIDTH(BumpType, 2);
VTR_WIDTH(BumpDelay, 2);
VTR_WIDTH(BumpFwdCmd, 1);
VTR_WIDTH(BumpRevCmd, 1);
VTR_WIDTH(BumpOnce, 4);
VTR_WIDTH(CFPhase, 2);
VTR_WIDTH(SpeedChgDelay, 2);
VTR_WIDTH(bIsZDKR, 1);
VTR_WIDTH(abZDKRReply, 39);
#undef VTR_WIDTH
static_assert(std::is_signed_v<decltype(DeviceRecord::EditIn)>);
static_assert(std::is_signed_v<decltype(DeviceRecord::Preset)>);

void InitDevStruct(DeviceRecord* rec) {
  rec->dwOpenFlags = 0;
  rec->nOpenCount = 0;
  rec->dwSpeed = 0;
  rec->fNotifyPending = 0;
  rec->dwNotifyCallback = 0;
  rec->wPollPeriod = kPollPeriodNormal;
  rec->wPollSkip = 0;
  rec->fMotionDone = 0;
  rec->dwPendingState = 0;
  rec->dwPendingDelay = 2;
  rec->dwPendingFrom = 0;
  rec->dwPendingTo = 0;
  rec->dwNextState = 0;
  rec->dwNextDelay = 2;
  rec->dwNextFrom = 0;
  rec->dwNextTo = 0;
  rec->fCmdFailed = 0;

  rec->UseWinCom = 1;
  rec->ComPort = 2;
  rec->hComm = nullptr;
  rec->ComAddr = rec->ComIrq = rec->ComBaud = 0;
  rec->ComData = rec->ComParity = rec->ComStop = 0;

  rec->VTRID = 56;
  rec->UserBits = 0;
  rec->TapeFormat = 0;
  rec->Pal = 0;
  rec->AudioTracks = 2;
  rec->VideoSources = 2;
  rec->AudioSources = 4;
  rec->LTCTrack = 0;

  rec->dwPosition = 0;
  rec->wTCFormat = 6;
  rec->dwTimeFormat = 3;
  rec->dwCounterFormat = 3;
  rec->dwMode = VTR_MODE_IDLE;
  rec->dwStatus = 0;

  rec->dwInPoint = rec->dwOutPoint = rec->dwDuration = 0;
  rec->dwSrcInPoint = rec->dwSrcOutPoint = 0;
  rec->fAssembleRecord = rec->fUseRecPreRoll = rec->fInsertVideo = 0;
  rec->dwInsertAudio = rec->fInsertTC = 0;

  rec->PreRoll = 300;
  rec->PostRoll = 60;
  rec->RecPreRoll = 120;
  rec->RecPostRoll = 60;
  rec->InsPreRoll = 300;
  rec->InsPostRoll = 60;

  rec->CanCue = rec->CanRecord = rec->CanEject = rec->CanEdit = rec->CanAuto = 1;
  rec->CanAssemble = rec->CanInsVid = rec->CanInsAud = rec->CanInsTC = rec->CanStep = 1;
  rec->HasTC = rec->HasCTL = rec->HasLTC = rec->HasVTC = 1;

  rec->EditIn = -4;
  rec->EditOut = -4;
  rec->EEIn = -2;
  rec->EEOut = -2;
  rec->Preset = -1;
  rec->InDelay = 4;
  rec->OutDelay = 4;
  rec->PresetDelay = 4;
  rec->PrerollBias = 0;

  rec->TimerSelect = 3;
  rec->RecInhibit = 1;
  rec->CanBump = 1;
  rec->BumpType = 0;
  rec->BumpDelay = rec->BumpBias = rec->BumpPhase = 0;
  rec->BumpFwdCmd = 0x65;
  rec->BumpRevCmd = 0x63;
  rec->BumpOnce = 0;
  rec->BumpPlay = 1;
  rec->HasDFFlag = 0;
  rec->EEStop = 0;
  rec->ProhibitEE = 0;
  rec->HasCFFlag = 1;
  rec->EnableCF = 0;
  rec->CFPhase = 0;
  rec->SpeedChgDelay = 0;
}

DeviceRecord* LoadSlotRecord(int slot) {
  return std::atomic_ref<DeviceRecord*>(vtrStates[slot].lpRecord).load(std::memory_order_acquire);
}

DWORD TimerTicks() { return std::atomic_ref<DWORD>(drvTimerSt.dwTicks).load(); }
WORD TimerPeriod() { return std::atomic_ref<WORD>(drvTimerSt.wPeriod).load(); }

DeviceRecord* GetDevState(DWORD_PTR dwDeviceID) {
  const WORD id = static_cast<WORD>(dwDeviceID & 0xFFFF);
  for (int i = 0; i < kDeviceSlots; ++i) {
    DeviceRecord* rec = LoadSlotRecord(i);
    if (rec != nullptr && rec->wDeviceID == id) return rec;
  }
  return nullptr;
}

// The device record, the device table and the driver's module-wide state.
#pragma once

#include "platform/win32.h"

// The driver's own transport modes, beside the MCI modes 524..530.
inline constexpr DWORD VTR_MODE_FAST_FORWARD = 388;
inline constexpr DWORD VTR_MODE_LOCAL = 389;
inline constexpr DWORD VTR_MODE_IDLE = 390;
inline constexpr DWORD VTR_MODE_REWIND = 391;
inline constexpr DWORD VTR_MODE_SCAN_FORWARD = 397;
inline constexpr DWORD VTR_MODE_SCAN_REVERSE = 398;

inline constexpr int kDeviceSlots = 10;
inline constexpr int kZDKRReplyBytes = 39;

// One opened device ("videotape", "videotape1" ... "videotape99"). Profile
// fields bear the names of their "VTR.INI" keys.
struct DeviceRecord {
  // Identity and open state
  WORD wDeviceID;
  DWORD hDriver;
  DWORD nDeviceNumber;
  DWORD dwOpenFlags;
  DWORD nOpenCount;

  // Transport settings kept per open
  DWORD dwSpeed;

  // Owed notification
  DWORD fNotifyPending;
  DWORD dwNotifyCallback;

  // Poll and background command
  WORD wPollPeriod;
  WORD wPollSkip;
  DWORD fMotionDone;
  DWORD dwPendingState;
  DWORD dwPendingDelay;
  DWORD dwPendingFrom;
  DWORD dwPendingTo;
  DWORD dwNextState;
  DWORD dwNextDelay;
  DWORD dwNextFrom;
  DWORD dwNextTo;
  // The last background command was given up, or ended short of its work; a
  // wait for it then answers MCIERR_HARDWARE. Cleared by chkEntry.
  DWORD fCmdFailed;

  // Serial port
  DWORD UseWinCom;
  WORD ComPort;
  HANDLE hComm;  // full platform handle width; INVALID_HANDLE_VALUE or null: not open
  WORD ComAddr;
  WORD ComIrq;
  WORD ComBaud;
  WORD ComData;
  WORD ComParity;
  WORD ComStop;

  // Machine description
  DWORD VTRID;
  DWORD UserBits;
  DWORD TapeFormat;
  DWORD Pal;
  WORD AudioTracks;
  WORD VideoSources;
  WORD AudioSources;
  WORD LTCTrack;

  // Position and formats
  DWORD dwPosition;
  WORD wTCFormat;
  DWORD dwTimeFormat;
  DWORD dwCounterFormat;
  DWORD dwMode;
  DWORD dwStatus;

  // Edit points and edit selection
  DWORD dwInPoint;
  DWORD dwOutPoint;
  DWORD dwDuration;
  DWORD dwSrcInPoint;
  DWORD dwSrcOutPoint;
  DWORD fAssembleRecord;
  DWORD fUseRecPreRoll;
  DWORD fInsertVideo;
  DWORD dwInsertAudio;
  DWORD fInsertTC;

  // Pre-roll and post-roll (frames)
  WORD PreRoll;
  WORD PostRoll;
  WORD RecPreRoll;
  WORD RecPostRoll;
  WORD InsPreRoll;
  WORD InsPostRoll;

  // Capabilities
  DWORD CanCue;
  DWORD CanRecord;
  DWORD CanEject;
  DWORD CanEdit;
  DWORD CanAuto;
  DWORD CanAssemble;
  DWORD CanInsVid;
  DWORD CanInsAud;
  DWORD CanInsTC;
  DWORD CanStep;
  DWORD HasTC;
  DWORD HasCTL;
  DWORD HasLTC;
  DWORD HasVTC;

  // Edit timing (frames)
  std::int16_t EditIn;
  std::int16_t EditOut;
  std::int16_t EEIn;
  std::int16_t EEOut;
  std::int16_t Preset;
  std::int16_t InDelay;
  std::int16_t OutDelay;
  std::int16_t PresetDelay;
  std::int16_t PrerollBias;

  // Timer and bump
  WORD TimerSelect;
  DWORD RecInhibit;
  DWORD CanBump;
  WORD BumpType;
  std::int16_t BumpDelay;
  std::int16_t BumpBias;
  std::int16_t BumpPhase;
  BYTE BumpFwdCmd;
  BYTE BumpRevCmd;
  DWORD BumpOnce;
  DWORD BumpPlay;
  DWORD HasDFFlag;
  DWORD EEStop;
  DWORD ProhibitEE;
  DWORD HasCFFlag;
  DWORD EnableCF;
  WORD CFPhase;
  std::int16_t SpeedChgDelay;

  // Extended machine state
  BYTE bIsZDKR;
  BYTE abZDKRReply[kZDKRReplyBytes];

  // Every MCI command for the device runs holding it.
  CRITICAL_SECTION csCommand;
};

// A slot of the device table.
struct DeviceSlot {
  DeviceRecord* lpRecord;  // null: the slot is free
  HGLOBAL hMem;
};

extern DeviceSlot vtrStates[kDeviceSlots];

// The poll timer.
struct DrvTimer {
  WORD idTimer;
  WORD wPeriod;
  WORD wSlowTicks;
  DWORD dwTicks;
  TIMERPROC lpfnTimerProc;
};
extern DrvTimer drvTimerSt;

extern HINSTANCE hInstance;
extern char szRequestedSection[16];

// The profile section ("videotape" and the first one or two digits) and the
// device number formed from a device's parameter string; null has no digits.
void FormDeviceName(LPCWSTR lpstrParams, char* szSection, DWORD* pdwNumber);

// Serialises whole exchanges on the serial lines: the owner of the link-busy
// flag holds it, and so do command handlers while they fill a shared command
// frame and send it. Never held across a yield.
extern CRITICAL_SECTION csLink;
// One poll at a time (the timer's, or a waiting command's direct call); also
// keeps records from being released under a running poll.
extern CRITICAL_SECTION csPoll;

// Scoped hold of csLink.
class LinkGuard {
 public:
  LinkGuard() { EnterCriticalSection(&csLink); }
  ~LinkGuard() { LeaveCriticalSection(&csLink); }
  LinkGuard(const LinkGuard&) = delete;
  LinkGuard& operator=(const LinkGuard&) = delete;
};

void InitDevStruct(DeviceRecord* rec);
DeviceRecord* GetDevState(DWORD_PTR dwDeviceID);

// Atomic access to the table slots and the timer fields the waits read,
// which the poll thread and command threads share.
DeviceRecord* LoadSlotRecord(int slot);
DWORD TimerTicks();
WORD TimerPeriod();

// True when the record's port handle names an open port.
inline bool PortIsOpen(const DeviceRecord* rec) {
  return rec->hComm != nullptr && rec->hComm != INVALID_HANDLE_VALUE;
}

// The device record, the device table and the poll timer's record: what
// every room of the driver shares.
#pragma once

#include "platform/win32.h"
#include "record/status.h"
#include "record/streak.h"

inline constexpr int kDeviceSlots = 10;
inline constexpr int kZDKRReplyBytes = 39;
// A profile section name: "videotape" and up to two digits.
inline constexpr int kSectionChars = 16;

// The poll's own tracking of a record's background command. The poll writes
// it, except the generation (each command that supersedes counts it up) and
// how the latest wait ended (the waits). What the poll observed belongs to
// the command of `dwCmdGeneration`; a handler that starts a background
// command begins it afresh.
struct PollTracking {
  Streak gone;        // visits that found the machine not ready, or without tape
  Streak rest;        // visits that found it at rest short of its work
  DWORD dwRestState;  // the state `rest` was counted in

  DWORD dwGeneration;     // counts the commands that superseded (chkEntry)
  DWORD dwCmdGeneration;  // the generation of the command the background work belongs to
  BYTE bWaitEnd;          // how the latest wait ended (kWaitEnd...), for its notification

  // What the deck was seen doing for the background command.
  bool fRefused;       // its first command was not acknowledged
  bool fCued;          // the from step cued, to dwFromFrames
  bool fStarted;       // the play or record toward the end has been sent
  bool fRecordSeen;    // the deck showed record (status byte 1 bit 1)
  bool fEditSeen;      // it showed edit or record during an automatic edit
  bool fReached;       // a stripe's recording reached its end position
  DWORD dwFromFrames;  // the from position, in frames
  DWORD dwStartPos;    // the position when the play or record toward the end began
  DWORD dwAskedTo;     // the end the caller asked for, in frames (play or record to, the
                       // out point of an automatic edit)
};

// How a wait ended, beside its MCI answer.
inline constexpr BYTE kWaitEndAsAsked = 0;
inline constexpr BYTE kWaitEndBroken = 1;      // the application broke it
inline constexpr BYTE kWaitEndSuperseded = 2;  // a later command took the device

// What the sense queries last heard from the machine, beside the fields they
// keep as designed.
struct SenseReadings {
  bool fNoAnswer;   // the record's latest query got no answer, or one that failed its checks
  bool fRecordBit;  // status byte 1 bit 1 of the latest status reply that passed (the status
                    // word shows play instead when both are set)
};

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

  // Kept beside the fields above, which stay as they are laid out.
  PollTracking poll;
  SenseReadings sense;
  // The profile section the record was loaded from, set at driver open;
  // model detection saves there.
  char szSection[kSectionChars];
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

// Timer periods, with the slow-tick count set beside each.
inline constexpr WORD kPollPeriodNormal = 133;
inline constexpr WORD kSlowTicksNormal = 25;
inline constexpr WORD kPollPeriodRecord = 33;
inline constexpr WORD kSlowTicksRecord = 5;

extern HINSTANCE hInstance;

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

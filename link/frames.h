// Command frames, the command byte table and the send/acknowledge exchange.
#pragma once

#include <span>

#include "platform/win32.h"
#include "record/device.h"

// A command as the driver stores it: byte 0 is the number of bytes to send
// (CMD-1, CMD-2 and the data bytes); the checksum is computed while sending.
using CommandFrame = BYTE*;

#define FRAME(name, ...) extern BYTE name[];
#include "link/frames.inc"
#undef FRAME

// One named entry of the command byte table.
struct CommandEntry {
  const char* szName;
  BYTE* lpFrame;
  const BYTE* lpInitial;  // the entry as loaded
};
std::span<const CommandEntry> CommandTable();
// Puts every entry back to its values at load (the module being loaded anew).
void ResetCommandTable();

// 1 while any exchange with any machine is under way.
extern DWORD fComInUse;
// Serialises whole exchanges on the serial lines: the owner of the link-busy
// flag holds it, and so do command handlers while they fill a shared command
// frame and send it. Never held across a yield.
extern CRITICAL_SECTION csLink;

// Scoped hold of csLink.
class LinkGuard {
 public:
  LinkGuard() { EnterCriticalSection(&csLink); }
  ~LinkGuard() { LeaveCriticalSection(&csLink); }
  LinkGuard(const LinkGuard&) = delete;
  LinkGuard& operator=(const LinkGuard&) = delete;
};
// Sets the link-busy flag; true when this call took ownership (found it 0).
bool ClaimLink();
// Clears the flag when `owner`.
void ReleaseLink(bool owner);
// Clears the flag whoever set it.
void ClearLink();
bool LinkBusy();

// Read attempt budgets of the reply reading rules.
inline constexpr DWORD kReplyBudget = 9500;
inline constexpr DWORD kAckBudget = 9499;

// Reads up to `count` bytes one at a time into `buf` under one shared budget
// of empty attempts; returns how many came.
int ReadReply(HANDLE hComm, BYTE* buf, int count, DWORD budget);
// Reads one byte with its own budget of kReplyBudget; false when none came.
bool ReadReplyByte(HANDLE hComm, BYTE* dst);

MCIERROR kestrelSendCmd(DeviceRecord* rec, CommandFrame frame, DWORD bWaitAck);

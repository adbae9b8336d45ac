// The poll timer: follows every open machine with a background command and
// finishes the command.
#pragma once

#include "record/device.h"

// Frames a play to a position may pass its end by between two watching
// visits: a few visits' worth, more only when readings were lost between.
inline constexpr DWORD kOvershootFrames = 30;

extern std::int16_t nTimerCheck;
// One poll at a time (the timer's, or a waiting command's direct call); also
// keeps records from being released under a running poll.
extern CRITICAL_SECTION csPoll;

// The poll timer's callback (exported, also run directly by the waits).
void CALLBACK TimerProc(HWND hwnd, UINT uMsg, UINT_PTR idEvent, DWORD dwTime);

// The poll's module data as loaded.
void ResetPollState();

// Gives up the record's pending background command as the poll's abort does
// (owed notification: failure) and marks it failed and done.
void AbandonCommand(DeviceRecord* rec);

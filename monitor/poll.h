// The poll timer: follows every open machine with a background command and
// finishes the command.
#pragma once

#include "record/device.h"

// Frames a play or record to a position may end past its end and still have
// done what it was asked: one poll period's worth and the visit, and as much
// again for a reading lost on the way.
inline constexpr DWORD kOvershootFrames = 10;

extern std::int16_t nTimerCheck;
// One poll at a time (the timer's, or a waiting command's direct call); also
// keeps records from being released under a running poll.
extern CRITICAL_SECTION csPoll;

// The poll timer's callback (exported, also run directly by the waits).
void CALLBACK TimerProc(HWND hwnd, UINT uMsg, UINT_PTR idEvent, DWORD dwTime);

// The poll's module data as loaded.
void ResetPollState();

// A handler has started a background command: what the poll observes from
// now on belongs to it (the current generation).
void TrackCommand(DeviceRecord* rec);
// Gives up the record's pending background command as the poll's abort does
// (owed notification: `uStatus`) and marks it failed and done.
void AbandonCommand(DeviceRecord* rec, UINT uStatus = MCI_NOTIFY_FAILURE);
// Arrival within one frame of an even target counts.
inline bool Arrived(DWORD target, DWORD pos) { return ((target ^ pos) & ~1u) == 0; }

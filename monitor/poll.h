// The poll timer: follows every open machine with a background command and
// finishes the command.
#pragma once

#include "driver/device.h"

// Background command states.
inline constexpr DWORD kStateNone = 0;
inline constexpr DWORD kStateCalibrateRewind = 16;
inline constexpr DWORD kStateCalibrateEnd = 31;
inline constexpr DWORD kStateCue = 32;
inline constexpr DWORD kStateCueDone = 47;
inline constexpr DWORD kStatePlayFrom = 48;
inline constexpr DWORD kStatePlayFromStart = 63;
inline constexpr DWORD kStatePlayTo = 64;
inline constexpr DWORD kStatePlayToWatch = 79;
inline constexpr DWORD kStateRecordFrom = 80;
inline constexpr DWORD kStateRecordFromStart = 95;
inline constexpr DWORD kStateRecordTo = 96;
inline constexpr DWORD kStateRecordToWatch = 111;
inline constexpr DWORD kStateStripeRewind = 112;
inline constexpr DWORD kStateStripeRecord = 114;
inline constexpr DWORD kStateStripeEnd = 116;
inline constexpr DWORD kStateAutoEdit = 768;

inline constexpr WORD kPollPeriodNormal = 133;
inline constexpr WORD kPollPeriodRecord = 33;

// Visits in a row that find a pending command's machine gone (not ready, or
// no tape) before the command is given up.
inline constexpr int kCmdRetryLimit = 5;

// Frames a play to a position may pass its end by between two watching
// visits: a few visits' worth, more only when readings were lost between.
inline constexpr DWORD kOvershootFrames = 30;

extern std::int16_t nTimerCheck;

// The poll's module data as loaded.
void ResetPollState();

// Gives up the record's pending background command as the poll's abort does
// (owed notification: failure) and marks it failed and done.
void AbandonCommand(DeviceRecord* rec);

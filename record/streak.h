// Readings in a row: how the poll and the waits tell a lasting state of the
// machine from a passing one.
#pragma once

// Counts readings in a row that show a condition; one that does not starts the
// count again. Zero-filled memory is a fresh count.
struct Streak {
  int nInARow;

  // Takes one reading; true once `limit` readings in a row have shown it.
  bool Add(bool fShows, int limit) {
    nInARow = fShows ? nInARow + 1 : 0;
    return nInARow >= limit;
  }
  void Reset() { nInARow = 0; }
};

// Periods a wait for the machine's motion goes on while the machine does not
// answer at all, before it gives up.
inline constexpr int kSilentPeriodsBeforeGivingUp = 10;
// Periods (or poll visits) in a row a machine may sit at rest short of what a
// wait looks for before the wait, or the background command, gives up.
inline constexpr int kRestPeriodsBeforeGivingUp = 5;
// Visits in a row that find a pending command's machine gone (not ready, or
// no tape) before the command is given up.
inline constexpr int kCmdRetryLimit = 5;

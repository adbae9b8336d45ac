// Sending commands for the programs (vtrctl, libvtr422): the library's own
// parser decides whether a command asks for a notification, and a command
// that waits learns how its wait ended: answered, broken by the user, or
// taken over by a later command.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mci/mci_library.h"

namespace vtr::host {

enum class Ending {
  kAnswered,     // the command's own answer stands
  kInterrupted,  // the user broke its wait (the break key, vtr_break)
  kSuperseded,   // a later command for the device replaced it while it waited
};

struct RunResult {
  mci::CommandResult result;   // for a message: error, detail and device only
  mci::MessageResult message;  // RunMessage's answer
  Ending ending = Ending::kAnswered;
  mci::CallbackHandle callback;  // the receiver's handle, when one was registered
  std::string rejected;          // the word the parser stopped at, for a parse error
};

// Called once with the command's notification, on the thread that posts it.
using Receiver = std::function<void(const mci::Notification&)>;
// Called with the receiver's handle once it is registered, before the command
// is sent (its notification may come before the send returns).
using Registered = std::function<void(mci::CallbackHandle)>;

class CommandRunner {
 public:
  explicit CommandRunner(mci::MciLibrary& lib) : lib_(lib) {}

  // Call before the break reaches a device (its yields' key, its "break"):
  // the waits of the device's commands running now end as interrupted.
  void NoteBreak(UINT deviceId);

  // Sends a command string. `receiver` gets the notification of a command
  // whose parsed flags hold MCI_NOTIFY (quoted text never counts), and is
  // released with it, or at once when the command fails. A command with
  // MCI_WAIT the driver handles is sent with a receiver of the runner's own
  // when it has none, so that a wait that ends superseded is known.
  RunResult Run(std::string_view command, const Receiver& receiver = {},
                const Registered& registered = {});

  // The raw message path, with the same rules for its flags word. With
  // MCI_NOTIFY and a receiver the callback slot (the first value) is filled
  // in for it.
  RunResult RunMessage(UINT deviceId, UINT message, DWORD flags, std::vector<DWORD_PTR> words,
                       const Receiver& receiver = {});

 private:
  struct Watch;
  std::uint64_t Breaks(UINT deviceId);
  Watch Start(bool asks, bool waits, bool listens, UINT deviceId, const Receiver& receiver);
  void Finish(Watch& watch, bool ok, RunResult& out);

  mci::MciLibrary& lib_;
  std::mutex mutex_;
  std::map<UINT, std::uint64_t> breaks_;
};

// The commands the library answers itself rather than a driver.
bool IsLibraryCommand(UINT message);
// The commands whose wait follows a command that goes on in the background
// (play, record, seek, cue, calibrate). Each supersedes an owed notification
// at its entry anyway, so a notification the runner asks of one to learn how
// its wait ended takes nothing from an earlier command; asked of a status
// query, it would answer an earlier command's owed notification "superseded".
bool WaitsOnABackgroundCommand(UINT message);

}  // namespace vtr::host

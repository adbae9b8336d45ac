// vtrctl's view of a deck: the ".watch ALIAS" display, refreshed in place,
// and the progress line of a waiting command.
#pragma once

#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "host/console_output.h"
#include "mci/mci_library.h"

namespace vtr::host {

struct DeckSample {
  std::string position;  // in the device's time format
  std::string timecode;  // HH:MM:SS:FF
  std::string mode;
  std::string speed;
};

// A position as "status" answers it, shown as timecode: a frame count at the
// deck's frame rate ("25" or "30") with non-drop labels; colonised text as it is.
std::string DisplayTimecode(const std::string& position, const std::string& frameRate);

// Reads the deck through the library; the first failing status's result
// when the alias is not open or the deck cannot be read.
std::optional<DeckSample> SampleDeck(mci::MciLibrary& lib, std::string_view alias,
                                     mci::CommandResult* failure = nullptr);

// "tape  00:00:12:05  playing  speed 1000  owed: play tape to 900 notify",
// or a JSON object with the same fields.
std::string FormatSample(const ConsoleOutput& out, std::string_view alias, const DeckSample& s,
                         const std::optional<std::string>& owed);

struct WatchIo {
  int input = 0;  // a key (or the end) of this descriptor ends the watch
  std::FILE* out = stdout;
  std::mutex* outMutex = nullptr;
  std::chrono::milliseconds period{200};
};

// Shows the deck until a key is pressed; false (with the failure printed)
// when it cannot be read. `owed` names the notification the console owes
// the device, if any.
bool RunWatch(mci::MciLibrary& lib, const ConsoleOutput& out, std::string_view alias,
              const std::function<std::optional<std::string>()>& owed, const WatchIo& io);

// The alias and target of a command that waits for a position: seek, cue or
// play with "to" and "wait".
std::optional<std::pair<std::string, std::string>> WaitTarget(std::string_view command);

// While it lives, a line on `io.out` shows the position of `alias` against
// `target`, refreshed in place; it clears the line when it ends.
class ProgressLine {
 public:
  ProgressLine(mci::MciLibrary& lib, std::string alias, std::string target, const WatchIo& io);
  ~ProgressLine();
  ProgressLine(const ProgressLine&) = delete;
  ProgressLine& operator=(const ProgressLine&) = delete;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool done_ = false;
  WatchIo io_;
  std::thread thread_;
};

}  // namespace vtr::host

// The terminal form: shows the dialogs of the POSIX dialog manager full
// screen with ncurses and turns keys into the user's actions.
#pragma once

#include "platform/dialogs.h"

namespace vtr::host {

class TerminalForm final : public platform::DialogUi {
 public:
  void Run(HWND dialog) override;
  // True when a dialog could not be shown (the terminal type is unknown).
  bool Failed() const { return failed_; }

 private:
  int depth_ = 0;           // dialogs open from dialogs share one screen
  void* screen_ = nullptr;  // the curses screen while a dialog shows
  bool failed_ = false;
};

}  // namespace vtr::host

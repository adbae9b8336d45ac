// The terminal form: shows the dialogs of the POSIX dialog manager full
// screen with ncurses and turns keys into the user's actions.
#pragma once

#include "platform/dialogs.h"

namespace vtr::host {

class TerminalForm final : public platform::DialogUi {
 public:
  void Run(HWND dialog) override;

 private:
  int depth_ = 0;           // dialogs open from dialogs share one screen
  void* screen_ = nullptr;  // the curses screen while a dialog shows
};

}  // namespace vtr::host

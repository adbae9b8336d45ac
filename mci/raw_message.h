// The console's ".send" (mci/send_request.h) against the MCI library.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "mci/mci_library.h"
#include "mci/send_request.h"

namespace vtr::mci {

struct SendOutcome {
  bool ok = false;
  // What the console prints after "LINE -> ": "ok" or "error N: TEXT" (an
  // argument error: "error: TEXT"), then " return TEXT" when the command
  // returned something, then " words=A,B,..." (decimal).
  std::string text;
  std::optional<MessageResult> sent;  // the answer, when the message went to the driver
  UINT deviceId = 0;                  // the device it went to
};

// Runs the arguments of ".send" against the device named by its alias. When
// the notify flag is given with a callback of 0, `notifyTo` supplies one.
SendOutcome RunSend(MciLibrary& lib, std::string_view args,
                    const std::function<CallbackHandle()>& notifyTo);

}  // namespace vtr::mci

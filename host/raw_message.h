// The console's form of the raw message path:
//   .send ALIAS MSG [flags=F] [words=A,B,...]
// Numbers are decimal (a minus sign gives the 32-bit two's complement) or
// hexadecimal with 0x.
#pragma once

#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "host/mci_library.h"

namespace vtr::host {

struct SendRequest {
  std::string alias;
  UINT message = 0;
  DWORD flags = 0;
  std::vector<DWORD_PTR> words;  // one value per slot, the callback first
};

// The arguments after ".send"; an error text when they are malformed.
std::variant<SendRequest, std::string> ParseSendRequest(std::string_view args);

// "ok" or "error N: TEXT", then " return TEXT" when the command returned
// something, then " words=A,B,..." (decimal).
std::string FormatMessageResult(const MessageResult& result);

}  // namespace vtr::host

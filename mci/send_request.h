// The consoles' form of the raw message path (vtrctl on POSIX and Windows):
//   .send ALIAS MSG [flags=F] [words=A,B,...] [block=null]
// Numbers are decimal (a minus sign gives the 32-bit two's complement) or
// hexadecimal with 0x.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/win32.h"

namespace vtr::mci {

struct SendRequest {
  std::string alias;
  UINT message = 0;
  DWORD flags = 0;
  std::vector<DWORD_PTR> words;  // one value per slot, the callback first
  bool nullBlock = false;        // "block=null": no parameter block at all
};

// One number of the form above; nullopt when it is not a 32-bit number.
std::optional<DWORD> ParseSendWord(std::string_view text);

// The arguments after ".send"; an error text when they are malformed.
std::variant<SendRequest, std::string> ParseSendRequest(std::string_view args);

}  // namespace vtr::mci

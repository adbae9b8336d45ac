#include "mci/send_request.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace vtr::mci {

std::optional<DWORD> ParseSendWord(std::string_view text) {
  const bool negative = !text.empty() && text.front() == '-';
  if (negative) text.remove_prefix(1);
  int base = 10;
  if (!negative && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  std::uint64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v, base);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  if (negative ? v > 0x80000000u : v > 0xFFFFFFFFu) return std::nullopt;
  return static_cast<DWORD>(negative ? 0u - v : v);
}

std::variant<SendRequest, std::string> ParseSendRequest(std::string_view args) {
  std::vector<std::string_view> fields;
  while (!args.empty()) {
    const std::size_t start = args.find_first_not_of(" \t");
    if (start == std::string_view::npos) break;
    args.remove_prefix(start);
    const std::size_t end = std::min(args.find_first_of(" \t"), args.size());
    fields.push_back(args.substr(0, end));
    args.remove_prefix(end);
  }
  if (fields.size() < 2) {
    return std::string("usage: .send ALIAS MSG [flags=F] [words=A,B,...] [block=null]");
  }
  SendRequest r;
  r.alias = std::string(fields[0]);
  const auto message = ParseSendWord(fields[1]);
  if (!message) return "message '" + std::string(fields[1]) + "' is not a number";
  r.message = *message;
  bool haveFlags = false;
  bool haveWords = false;
  for (std::size_t i = 2; i < fields.size(); ++i) {
    const std::string_view f = fields[i];
    if (f.starts_with("flags=") && !haveFlags) {
      const auto flags = ParseSendWord(f.substr(6));
      if (!flags) return "flags '" + std::string(f.substr(6)) + "' is not a 32-bit number";
      r.flags = *flags;
      haveFlags = true;
    } else if (f.starts_with("words=") && !haveWords && !r.nullBlock) {
      std::string_view list = f.substr(6);
      while (true) {
        const std::size_t comma = std::min(list.find(','), list.size());
        const auto word = ParseSendWord(list.substr(0, comma));
        if (!word) {
          return "word '" + std::string(list.substr(0, comma)) + "' is not a 32-bit number";
        }
        r.words.push_back(*word);
        if (comma == list.size()) break;
        list.remove_prefix(comma + 1);
      }
      haveWords = true;
    } else if (f == "block=null" && !haveWords && !r.nullBlock) {
      r.nullBlock = true;
    } else {
      return "unexpected '" + std::string(f) + "' (flags= once, and words= or block=null once)";
    }
  }
  return r;
}

}  // namespace vtr::mci

#include "mci/raw_message.h"

#include <algorithm>
#include <charconv>
#include <optional>

#include "mci/mci_text.h"

namespace vtr::mci {
namespace {

std::optional<DWORD> ParseWord(std::string_view text) {
  bool negative = !text.empty() && text.front() == '-';
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

}  // namespace

std::variant<SendRequest, std::string> ParseSendRequest(std::string_view args) {
  std::vector<std::string_view> fields;
  while (!args.empty()) {
    std::size_t start = args.find_first_not_of(" \t");
    if (start == std::string_view::npos) break;
    args.remove_prefix(start);
    std::size_t end = std::min(args.find_first_of(" \t"), args.size());
    fields.push_back(args.substr(0, end));
    args.remove_prefix(end);
  }
  if (fields.size() < 2) return std::string("usage: .send ALIAS MSG [flags=F] [words=A,B,...]");
  SendRequest r;
  r.alias = std::string(fields[0]);
  auto message = ParseWord(fields[1]);
  if (!message) return "message '" + std::string(fields[1]) + "' is not a number";
  r.message = *message;
  bool haveFlags = false;
  bool haveWords = false;
  for (std::size_t i = 2; i < fields.size(); ++i) {
    std::string_view f = fields[i];
    if (f.starts_with("flags=") && !haveFlags) {
      auto flags = ParseWord(f.substr(6));
      if (!flags) return "flags '" + std::string(f.substr(6)) + "' is not a 32-bit number";
      r.flags = *flags;
      haveFlags = true;
    } else if (f.starts_with("words=") && !haveWords) {
      std::string_view list = f.substr(6);
      while (true) {
        std::size_t comma = std::min(list.find(','), list.size());
        auto word = ParseWord(list.substr(0, comma));
        if (!word)
          return "word '" + std::string(list.substr(0, comma)) + "' is not a 32-bit number";
        r.words.push_back(*word);
        if (comma == list.size()) break;
        list.remove_prefix(comma + 1);
      }
      haveWords = true;
    } else {
      return "unexpected '" + std::string(f) + "' (flags= and words= once each)";
    }
  }
  return r;
}

namespace {
std::string FormatMessageResult(const MessageResult& result) {
  std::string out = result.ok()
                        ? std::string("ok")
                        : "error " + std::to_string(result.error) + ": " + ErrorText(result.error);
  if (!result.text.empty()) out += " return " + result.text;
  if (!result.words.empty()) {
    out += " words=";
    for (std::size_t i = 0; i < result.words.size(); ++i) {
      if (i > 0) out += ',';
      out += std::to_string(result.words[i]);
    }
  }
  return out;
}
}  // namespace

SendOutcome RunSend(MciLibrary& lib, std::string_view args,
                    const std::function<CallbackHandle()>& notifyTo) {
  auto parsed = ParseSendRequest(args);
  if (auto* error = std::get_if<std::string>(&parsed))
    return {false, "error: " + *error, std::nullopt, 0};
  auto& request = std::get<SendRequest>(parsed);
  std::optional<UINT> id = lib.DeviceIdOf(request.alias);
  if (!id) return {false, "error: no open device '" + request.alias + "'", std::nullopt, 0};
  if ((request.flags & MCI_NOTIFY) && (request.words.empty() || request.words[0] == 0)) {
    request.words.resize(std::max<std::size_t>(request.words.size(), 1));
    request.words[0] = notifyTo().value;
  }
  MessageResult r = lib.SendCommand(*id, request.message, request.flags, request.words);
  if (r.error == MCIERR_PARAM_OVERFLOW && r.words.empty())
    return {false, "error: too many words for the parameter block", std::nullopt, *id};
  return {r.ok(), FormatMessageResult(r), r, *id};
}

}  // namespace vtr::mci

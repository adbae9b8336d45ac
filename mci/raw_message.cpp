#include "mci/raw_message.h"

#include <algorithm>
#include <optional>

#include "mci/mci_text.h"

namespace vtr::mci {

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
  MessageResult r =
      lib.SendCommand(*id, request.message, request.flags, request.words, request.nullBlock);
  if (r.error == MCIERR_PARAM_OVERFLOW && r.words.empty())
    return {false, "error: too many words for the parameter block", std::nullopt, *id};
  return {r.ok(), FormatMessageResult(r), r, *id};
}

}  // namespace vtr::mci

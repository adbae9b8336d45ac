// How vtrctl prints what happens: "COMMAND -> RESULT" lines, or with --json
// one JSON object a line for scripts.
#pragma once

#include <string>
#include <string_view>

#include "mci/mci_library.h"

namespace vtr::host {

// `s` as a JSON string literal, quotes included.
std::string JsonQuote(std::string_view s);

class ConsoleOutput {
 public:
  explicit ConsoleOutput(bool json) : json_(json) {}
  bool Json() const { return json_; }

  // "CMD -> TEXT" / "CMD -> ok" / "CMD -> error N: TEXT", or
  // {"command":CMD,"ok":true[,"result":TEXT]} / {"command":CMD,"ok":false,"error":N,"text":TEXT}
  std::string Result(std::string_view command, const mci::CommandResult& r) const;
  // The raw message path's answer in JSON: as Result, plus "return" and
  // "words" (its text form is RunSend's).
  std::string MessageJson(std::string_view command, const mci::MessageResult& r) const;
  // "notify CODE: CMD" or {"notify":CODE,"code":N,"command":CMD}
  std::string Notify(std::string_view command, UINT code) const;
  // A directive that failed: "LINE -> error: WHY" or {"command":LINE,"ok":false,"text":WHY}
  std::string Failure(std::string_view line, std::string_view why) const;

 private:
  bool json_;
};

}  // namespace vtr::host

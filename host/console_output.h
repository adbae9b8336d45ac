// How vtrctl prints what happens: "COMMAND -> RESULT" lines, or with --json
// one JSON object a line for scripts.
#pragma once

#include <optional>
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

  // "CMD -> TEXT" / "CMD -> ok" / "CMD -> error N: TEXT[ ("WORD")][ (DETAIL)]", or
  // {"command":CMD,"ok":true[,"result":TEXT]} /
  // {"command":CMD,"ok":false,"error":N,"text":TEXT[,"word":WORD][,"detail":DETAIL]}:
  // WORD the word the parser rejected, DETAIL why the port failed.
  std::string Result(std::string_view command, const mci::CommandResult& r,
                     std::string_view rejected = {}) const;
  // A waiting command that did not end as asked (`ending` "interrupted" or
  // "superseded"), with where the deck is when it could be read:
  // "CMD -> interrupted at 00:05:59:12 (10782)", or
  // {"command":CMD,"ok":false,"ending":"interrupted"[,"error":N,"text":TEXT]
  //  [,"position":"10782","timecode":"00:05:59:12"]}.
  std::string Ended(std::string_view command, const mci::CommandResult& r, std::string_view ending,
                    const std::optional<std::string>& position,
                    const std::optional<std::string>& timecode) const;
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

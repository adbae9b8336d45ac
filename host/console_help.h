// What vtrctl tells a user about the commands, read from the command tables
// (the device's and the library's own): "help", "help COMMAND", and the words
// Tab offers where the cursor is.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "mci/command_table.h"

namespace vtr::host {

// One of vtrctl's own lines: ".wait MS" and the like.
struct Directive {
  std::string_view word;  // ".wait"
  std::string_view args;  // "MS"
  std::string_view what;  // one line
};
// Every directive, in the order ".help" lists them.
const std::vector<Directive>& Directives();

// "help": the commands of `device` (may be null: no device table to read)
// and the library's own, wrapped to `width` columns.
std::vector<std::string> CommandsHelp(const mci::CommandTable* device,
                                      const mci::CommandTable& core, std::size_t width = 78);

// "help COMMAND": its form, then one line per constant with its words.
std::vector<std::string> CommandHelp(const mci::CommandDef& command, std::size_t width = 78);

// ".help": one line per directive.
std::vector<std::string> DirectivesHelp();

// The words Tab may put at the cursor: `before` is the line up to the word
// being completed, `prefix` that word's start. First word: the commands,
// "help" and the directives; second: the open aliases (and "all", or the
// installed names after open); then the items of the command, a constant's
// words after its keyword, and the next word of a keyword of several words.
struct CompletionContext {
  const mci::CommandTable* device = nullptr;  // the table of the alias typed, if any
  const mci::CommandTable* core = nullptr;
  std::vector<std::string> aliases;
  std::vector<std::string> installed;  // "vcr", "vcr1", ...
};
std::vector<std::string> Completions(const CompletionContext& context, std::string_view before,
                                     std::string_view prefix);

}  // namespace vtr::host

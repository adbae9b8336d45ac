#include "host/console_help.h"

#include <algorithm>

namespace vtr::host {
namespace {

std::vector<std::string> Words(std::string_view text) {
  std::vector<std::string> out;
  std::size_t at = 0;
  while (at < text.size()) {
    std::size_t start = text.find_first_not_of(" \t", at);
    if (start == std::string_view::npos) break;
    std::size_t end = text.find_first_of(" \t", start);
    if (end == std::string_view::npos) end = text.size();
    out.push_back(mci::ToLowerAscii(text.substr(start, end - start)));
    at = end;
  }
  return out;
}

// `pieces` joined by spaces into lines of at most `width` columns (a longer
// piece gets a line of its own); the first line starts with `first`, the
// others with `indent`.
std::vector<std::string> Wrap(const std::vector<std::string>& pieces, std::string first,
                              const std::string& indent, std::size_t width) {
  std::vector<std::string> lines{std::move(first)};
  for (const std::string& piece : pieces) {
    const bool blank = lines.back().find_first_not_of(' ') == std::string::npos;
    if (!blank && lines.back().size() + 1 + piece.size() > width) {
      lines.push_back(indent);
    } else if (!blank) {
      lines.back() += ' ';
    }
    lines.back() += piece;
  }
  return lines;
}

std::vector<std::string> Verbs(const mci::CommandTable& table) {
  std::vector<std::string> out;
  for (const mci::CommandDef& c : table.Commands()) out.push_back(c.verb);
  std::sort(out.begin(), out.end());
  return out;
}

bool EndsWith(const std::vector<std::string>& typed, const std::vector<std::string>& tail) {
  if (tail.size() > typed.size()) return false;
  return std::equal(tail.begin(), tail.end(),
                    typed.end() - static_cast<std::ptrdiff_t>(tail.size()));
}

// The next word of `phrase` when the typed words end with `before` and its
// first words (for its first word, with `before` alone) and that word starts
// with `prefix`. A phrase's first word is a new item, which a keyword that
// waits for its number, text or word does not take (`fresh` false).
void NextWordOf(const std::vector<std::string>& before, const std::vector<std::string>& typed,
                std::string_view phrase, std::string_view prefix, bool fresh,
                std::vector<std::string>& out) {
  const std::vector<std::string> words = Words(phrase);
  for (std::size_t k = 0; k < words.size(); ++k) {
    if (k == 0 && before.empty() && !fresh) continue;
    std::vector<std::string> tail(before);
    tail.insert(tail.end(), words.begin(), words.begin() + static_cast<std::ptrdiff_t>(k));
    if (EndsWith(typed, tail) && words[k].starts_with(prefix)) out.push_back(words[k]);
  }
}

void ItemWords(const mci::CommandDef& def, const std::vector<std::string>& typed,
               std::string_view prefix, std::vector<std::string>& out) {
  // Every phrase with what must come before it: an item's keyword, a named
  // constant's words after its keyword, an unnamed constant's words anywhere.
  std::vector<std::pair<std::vector<std::string>, std::string>> phrases;
  bool awaiting = false;  // a keyword waits for its number, text or word
  for (const mci::CommandItem& item : def.items) {
    const std::vector<std::string> keyword = Words(item.keyword);
    if (!keyword.empty()) {
      phrases.emplace_back(std::vector<std::string>{}, item.keyword);
      if (item.type != mci::EntryType::kFlag && EndsWith(typed, keyword)) awaiting = true;
    }
    if (item.type != mci::EntryType::kConstant) continue;
    for (const mci::ConstantWord& w : item.words) phrases.emplace_back(keyword, w.keyword);
  }
  // Inside a phrase of several words (and at the end of none), only its next
  // word fits.
  bool inside = false, complete = false;
  for (const auto& [before, phrase] : phrases) {
    std::vector<std::string> tail(before);
    for (const std::string& word : Words(phrase)) {
      if (!tail.empty() && EndsWith(typed, tail)) inside = true;
      tail.push_back(word);
    }
    if (EndsWith(typed, tail)) complete = true;
  }
  const bool fresh = !awaiting && (!inside || complete);
  for (const auto& [before, phrase] : phrases)
    NextWordOf(before, typed, phrase, prefix, fresh, out);
}

}  // namespace

const std::vector<Directive>& Directives() {
  static const std::vector<Directive> kDirectives{
      {".wait", "MS", "let MS milliseconds pass"},
      {".notify", "[TIMEOUT_MS]", "wait for the next notification (default 30000 ms)"},
      {".send", "ALIAS MSG [flags=F] [words=A,B,...] [block=null]", "send command message MSG"},
      {".watch", "ALIAS", "show the deck's timecode, mode and speed until a key"},
      {".recorded", "[FROM TO]", "what the virtual deck recorded where (--sim)"},
      {".config", "[ALIAS]", "the configuration dialogs of an alias or installed name"},
      {".help", "", "this list"},
  };
  return kDirectives;
}

std::vector<std::string> CommandsHelp(const mci::CommandTable* device,
                                      const mci::CommandTable& core, std::size_t width) {
  std::vector<std::string> lines{
      "Commands: COMMAND ALIAS [ITEMS...], e.g. \"open vcr alias tape\", then \"play tape from "
      "300 to 600 notify\"."};
  if (device != nullptr) {
    auto more = Wrap(Verbs(*device), "  ", "  ", width);
    lines.insert(lines.end(), more.begin(), more.end());
  }
  auto own = Wrap(Verbs(core), "  the library's own:", "  ", width);
  lines.insert(lines.end(), own.begin(), own.end());
  lines.push_back("\"help COMMAND\" lists a command's items, \".help\" the directives; quit ends.");
  return lines;
}

std::vector<std::string> CommandHelp(const mci::CommandDef& command, std::size_t width) {
  std::vector<std::string> form;
  std::vector<std::string> constants;
  for (const mci::CommandItem& item : command.items) {
    const bool named = !item.keyword.empty();
    std::string shown;
    switch (item.type) {
      case mci::EntryType::kFlag:
        shown = "[" + item.keyword + "]";
        break;
      case mci::EntryType::kInteger:
        shown = named ? "[" + item.keyword + " N]" : "N";
        break;
      case mci::EntryType::kString:
        shown = named ? "[" + item.keyword + " TEXT]" : "TEXT";
        break;
      case mci::EntryType::kConstant: {
        shown = named ? "[" + item.keyword + " WORD]" : "ITEM";
        std::vector<std::string> words;
        for (const mci::ConstantWord& w : item.words) {
          if (std::find(words.begin(), words.end(), w.keyword) == words.end())
            words.push_back(w.keyword);
        }
        for (std::size_t i = 0; i + 1 < words.size(); ++i) words[i] += ",";
        auto lines =
            Wrap(words, "  " + (named ? item.keyword : std::string("ITEM")) + ":", "    ", width);
        constants.insert(constants.end(), lines.begin(), lines.end());
        break;
      }
      default:
        continue;
    }
    form.push_back(shown);
  }
  std::vector<std::string> lines = Wrap(form, command.verb + " ALIAS", "    ", width);
  if (command.returns == mci::ReturnKind::kInteger) lines.back() += "  -> a number";
  if (command.returns == mci::ReturnKind::kString) lines.back() += "  -> text";
  lines.insert(lines.end(), constants.begin(), constants.end());
  return lines;
}

std::vector<std::string> DirectivesHelp() {
  std::vector<std::string> lines;
  for (const Directive& d : Directives()) {
    std::string head = std::string(d.word) + (d.args.empty() ? "" : " ") + std::string(d.args);
    head.resize(std::max<std::size_t>(head.size() + 2, 24), ' ');
    lines.push_back(head + std::string(d.what));
  }
  return lines;
}

std::vector<std::string> Completions(const CompletionContext& context, std::string_view before,
                                     std::string_view prefixText) {
  const std::vector<std::string> typed = Words(before);
  const std::string prefix = mci::ToLowerAscii(prefixText);
  std::vector<std::string> out;
  auto offer = [&](const std::vector<std::string>& words) {
    for (const std::string& w : words) {
      if (w.starts_with(prefix)) out.push_back(w);
    }
  };
  auto verbs = [&] {
    if (context.device != nullptr) offer(Verbs(*context.device));
    if (context.core != nullptr) offer(Verbs(*context.core));
  };
  if (typed.empty()) {
    verbs();
    offer({"help", "quit"});
    for (const Directive& d : Directives()) offer({std::string(d.word)});
  } else if (typed.size() == 1) {
    const std::string& first = typed[0];
    if (first == "help") {
      verbs();
    } else if (first == "open" || first == ".config") {
      offer(context.installed);
      if (first == ".config") offer(context.aliases);
    } else if (first == ".wait" || first == ".notify" || first == ".recorded" || first == ".help") {
      // numbers, or nothing
    } else {
      offer(context.aliases);
      if (!first.starts_with(".")) offer({"all"});
    }
  } else {
    const mci::CommandDef* def = nullptr;
    if (context.device != nullptr) def = context.device->Find(typed[0]);
    if (def == nullptr && context.core != nullptr) def = context.core->Find(typed[0]);
    if (def != nullptr) {
      ItemWords(*def, std::vector<std::string>(typed.begin() + 2, typed.end()), prefix, out);
    }
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

}  // namespace vtr::host

#include "mci/parser.h"

#include <cstring>
#include <limits>

#include "platform/mci_host.h"

namespace vtr::mci {

void ParamBlock::PutWord(std::size_t offset, DWORD value) { Put(offset, value); }
DWORD ParamBlock::Word(std::size_t offset) const { return Get<DWORD>(offset); }
void ParamBlock::PutPointer(std::size_t offset, DWORD_PTR value) { Put(offset, value); }
DWORD_PTR ParamBlock::Pointer(std::size_t offset) const { return Get<DWORD_PTR>(offset); }
void ParamBlock::PutString(std::size_t offset, std::u16string text) {
  strings_.emplace_back(offset, std::move(text));
}
void ParamBlock::PutReturnBuffer(std::size_t offset, std::size_t chars) {
  returnOffset_ = offset;
  returnBuffer_.assign(chars, u'\0');
  PutWord(offset + kPointerSlot, static_cast<DWORD>(chars));
}
std::u16string ParamBlock::ReturnText() const {
  std::u16string out;
  for (char16_t c : returnBuffer_) {
    if (c == 0) break;
    out.push_back(c);
  }
  return out;
}
LPARAM ParamBlock::Bind() {
  for (auto& [offset, text] : strings_)
    PutPointer(offset, reinterpret_cast<DWORD_PTR>(text.c_str()));
  if (returnOffset_) PutPointer(*returnOffset_, reinterpret_cast<DWORD_PTR>(returnBuffer_.data()));
  return reinterpret_cast<LPARAM>(bytes_.data());
}

namespace {
bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
}  // namespace

DWORD Tokenize(std::string_view s, std::vector<Token>& out) {
  out.clear();
  std::size_t i = 0;
  while (i < s.size()) {
    if (IsSpace(s[i])) {
      ++i;
      continue;
    }
    if (s[i] == '"') {
      std::size_t close = s.find('"', i + 1);
      if (close == std::string_view::npos) return MCIERR_NO_CLOSING_QUOTE;
      if (close + 1 < s.size() && !IsSpace(s[close + 1])) return MCIERR_EXTRA_CHARACTERS;
      out.push_back(Token{std::string(s.substr(i + 1, close - i - 1)), true});
      i = close + 1;
      continue;
    }
    std::size_t end = i;
    while (end < s.size() && !IsSpace(s[end])) ++end;
    out.push_back(Token{std::string(s.substr(i, end - i)), false});
    i = end;
  }
  return 0;
}

std::optional<DWORD> ParseInteger(std::string_view text) {
  bool negative = false;
  if (!text.empty() && text[0] == '-') {
    negative = true;
    text.remove_prefix(1);
  }
  if (text.empty()) return std::nullopt;
  if (text.find(':') != std::string_view::npos) {
    if (negative) return std::nullopt;
    DWORD packed = 0;
    unsigned shift = 0;
    std::size_t start = 0;
    for (;;) {
      std::size_t colon = text.find(':', start);
      std::string_view field = text.substr(
          start, colon == std::string_view::npos ? std::string_view::npos : colon - start);
      if (field.empty() || field.size() > 3 || shift > 24) return std::nullopt;
      unsigned v = 0;
      for (char c : field) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + static_cast<unsigned>(c - '0');
      }
      if (v >= 256) return std::nullopt;
      packed |= static_cast<DWORD>(v) << shift;
      shift += 8;
      if (colon == std::string_view::npos) return packed;
      start = colon + 1;
    }
  }
  std::uint64_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    v = v * 10 + static_cast<unsigned>(c - '0');
    if (v > 0xFFFFFFFFull) return std::nullopt;
  }
  if (negative) {
    if (v > 0x80000000ull) return std::nullopt;
    return static_cast<DWORD>(0x100000000ull - v);
  }
  return static_cast<DWORD>(v);
}

namespace {

// Number of tokens from `pos` that spell `keyword` (words separated by single
// spaces in the table), or 0 when they do not. Quoted tokens never match.
std::size_t MatchWords(std::string_view keyword, std::span<const Token> args, std::size_t pos) {
  if (keyword.empty()) return 0;
  std::size_t n = 0;
  std::size_t start = 0;
  for (;;) {
    std::size_t space = keyword.find(' ', start);
    std::string_view word = keyword.substr(
        start, space == std::string_view::npos ? std::string_view::npos : space - start);
    if (pos + n >= args.size() || args[pos + n].quoted ||
        ToLowerAscii(args[pos + n].text) != word) {
      return 0;
    }
    ++n;
    if (space == std::string_view::npos) return n;
    start = space + 1;
  }
}

// The first word of `c` (table order) spelled at `pos`: its index and length.
std::optional<std::pair<std::size_t, std::size_t>> MatchConstantWord(const CommandItem& c,
                                                                     std::span<const Token> args,
                                                                     std::size_t pos) {
  for (std::size_t w = 0; w < c.words.size(); ++w) {
    if (std::size_t n = MatchWords(c.words[w].keyword, args, pos); n > 0) return std::pair{w, n};
  }
  return std::nullopt;
}

}  // namespace

DWORD ParseArguments(const CommandDef& command, std::span<const Token> args, DWORD& flags,
                     ParamBlock& block, std::size_t* rejected) {
  std::vector<bool> seen(command.items.size(), false);
  std::size_t pos = 0;
  // The error, with the word to blame.
  const auto fail = [rejected](DWORD error, std::size_t word) {
    if (rejected != nullptr) *rejected = word;
    return error;
  };
  while (pos < args.size()) {
    bool matched = false;
    for (std::size_t i = 0; i < command.items.size() && !matched; ++i) {
      const CommandItem& item = command.items[i];
      std::size_t used = 0;  // tokens taken by the item and its argument
      DWORD slotValue = 0;
      if (item.type == EntryType::kConstant) {
        std::size_t at = pos;
        if (!item.keyword.empty()) {
          std::size_t n = MatchWords(item.keyword, args, pos);
          if (n == 0) continue;
          at += n;
          if (auto w = MatchConstantWord(item, args, at)) {
            slotValue = item.words[w->first].value;
            at += w->second;
          } else if (at < args.size() && !args[at].quoted) {
            auto v = ParseInteger(args[at].text);
            if (!v) return fail(MCIERR_BAD_CONSTANT, at);
            slotValue = *v;
            ++at;
          } else {
            return fail(MCIERR_BAD_CONSTANT, at);
          }
        } else if (auto w = MatchConstantWord(item, args, at)) {
          slotValue = item.words[w->first].value;
          at += w->second;
        } else if (!args[at].quoted && ParseInteger(args[at].text)) {
          // A bare number stands for a word of the unnamed constant.
          slotValue = *ParseInteger(args[at].text);
          ++at;
        } else {
          continue;
        }
        used = at - pos;
      } else if (item.keyword.empty()) {
        // An unnamed string or integer takes the word itself.
        if (item.type == EntryType::kString) {
          if (args[pos].text.empty()) return fail(MCIERR_MISSING_STRING_ARGUMENT, pos);
        } else if (item.type == EntryType::kInteger) {
          auto v = ParseInteger(args[pos].text);
          if (!v) continue;
          slotValue = *v;
        } else {
          continue;
        }
        used = 1;
      } else {
        std::size_t n = MatchWords(item.keyword, args, pos);
        if (n == 0) continue;
        used = n;
        if (item.type == EntryType::kInteger) {
          if (pos + n >= args.size() || args[pos + n].quoted)
            return fail(MCIERR_BAD_INTEGER, pos + n);
          auto v = ParseInteger(args[pos + n].text);
          if (!v) return fail(MCIERR_BAD_INTEGER, pos + n);
          slotValue = *v;
          ++used;
        } else if (item.type == EntryType::kString) {
          if (pos + n >= args.size() || args[pos + n].text.empty())
            return fail(MCIERR_MISSING_STRING_ARGUMENT, pos + n);
          ++used;
        }
      }
      if (seen[i]) return fail(MCIERR_DUPLICATE_FLAGS, pos);
      seen[i] = true;
      matched = true;
      flags |= item.value;
      if (item.type == EntryType::kString) {
        block.PutString(*item.slot, platform::Widen(args[pos + used - 1].text));
      } else if (item.slot) {
        block.PutWord(*item.slot, slotValue);
      }
      pos += used;
    }
    if (!matched) return fail(MCIERR_UNRECOGNIZED_KEYWORD, pos);
  }
  return 0;
}

}  // namespace vtr::mci

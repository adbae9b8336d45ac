// The command string parser: turns the words after "<verb> <device>" into MCI
// flags and a parameter block, driven only by a command's table entries.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mci/command_table.h"
#include "platform/win32.h"

namespace vtr::mci {

// The parameter block handed to the driver: zeroed, larger than any table's
// slots because some handlers write answer words after them. Strings live
// here too; Bind() writes their addresses just before the block is sent, and
// the block must not move from then until the driver returns.
class ParamBlock {
 public:
  static constexpr std::size_t kBytes = 256;
  static constexpr std::size_t kReturnChars = 256;

  void PutWord(std::size_t offset, DWORD value);
  DWORD Word(std::size_t offset) const;
  void PutPointer(std::size_t offset, DWORD_PTR value);
  DWORD_PTR Pointer(std::size_t offset) const;
  void OrWord(std::size_t offset, DWORD value) { PutWord(offset, Word(offset) | value); }

  void PutString(std::size_t offset, std::u16string text);
  // A string return: buffer address at `offset`, its size in characters after it.
  void PutReturnBuffer(std::size_t offset, std::size_t chars = kReturnChars);
  std::u16string ReturnText() const;  // up to the first NUL

  LPARAM Bind();
  std::span<const std::uint8_t> Bytes() const { return bytes_; }

 private:
  // A value at `offset`, unaligned; a slot past the end is dropped or reads 0.
  template <class T>
  void Put(std::size_t offset, T value) {
    if (offset + sizeof value <= bytes_.size()) std::memcpy(&bytes_[offset], &value, sizeof value);
  }
  template <class T>
  T Get(std::size_t offset) const {
    T v{};
    if (offset + sizeof v <= bytes_.size()) std::memcpy(&v, &bytes_[offset], sizeof v);
    return v;
  }

  alignas(8) std::array<std::uint8_t, kBytes> bytes_{};
  std::deque<std::pair<std::size_t, std::u16string>> strings_;
  std::optional<std::size_t> returnOffset_;
  std::vector<char16_t> returnBuffer_;
};

struct Token {
  std::string text;
  bool quoted = false;
};

// Splits a command string into words; a double-quoted word may hold spaces.
// Errors: MCIERR_NO_CLOSING_QUOTE, MCIERR_EXTRA_CHARACTERS.
DWORD Tokenize(std::string_view command, std::vector<Token>& out);

// A decimal integer, optionally signed, or up to four colon-separated fields
// below 256 packed low byte first ("1:2:3:4" is 0x04030201).
std::optional<DWORD> ParseInteger(std::string_view text);

// Parses the argument words of one command; `flags` and `block` receive the
// bits and slots. Returns 0 or an MCIERR_* code; on an error `rejected` (when
// given) receives the index of the word to blame, or args.size() when a word
// is missing.
DWORD ParseArguments(const CommandDef& command, std::span<const Token> args, DWORD& flags,
                     ParamBlock& block, std::size_t* rejected = nullptr);

}  // namespace vtr::mci

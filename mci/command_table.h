// A command table resource as the string interface sees it: the raw entries
// (keyword, value, type) and, per command, its items with the parameter
// block slot each one fills. Built once per loaded table, after validation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/win32.h"

namespace vtr::mci {

enum class EntryType : std::uint16_t {
  kCommandHead = 0,
  kString = 1,
  kInteger = 2,
  kEndCommand = 3,
  kReturn = 4,
  kFlag = 5,
  kEndCommandList = 6,
  kRect = 7,
  kConstant = 8,
  kEndConstant = 9,
};
std::string_view EntryTypeName(EntryType type);

struct TableEntry {
  std::size_t offset = 0;  // byte offset in the resource
  std::u16string keyword;
  DWORD value = 0;
  EntryType type = EntryType::kEndCommandList;
};

enum class ReturnKind { kNone, kInteger, kString };

// One word of a constant ("frames" of "time format").
struct ConstantWord {
  std::string keyword;  // lower case, UTF-8
  DWORD value = 0;
  EntryType type = EntryType::kInteger;
};

struct CommandItem {
  std::string keyword;  // lower case, UTF-8; may be empty
  EntryType type = EntryType::kFlag;
  DWORD value = 0;
  // Byte offset of the item's slot in the parameter block; none for flags.
  std::optional<std::size_t> slot;
  std::vector<ConstantWord> words;  // constants only
};

struct CommandDef {
  std::string verb;  // lower case
  UINT message = 0;
  ReturnKind returns = ReturnKind::kNone;
  std::size_t returnSlot = 0;  // valid when returns != kNone
  std::vector<CommandItem> items;
  std::size_t itemEntries = 0;  // entries between the head and the end-command entry
  std::size_t blockBytes = 0;   // bytes of the slots the table defines
};

// Slot sizes of the parameter block layout.
inline constexpr std::size_t kPointerSlot = sizeof(DWORD_PTR);
inline constexpr std::size_t kWordSlot = sizeof(DWORD);

struct TableError {
  std::size_t offset = 0;
  std::string message;
};

// One slot of a parameter block: its byte offset and size.
struct BlockSlot {
  std::size_t offset = 0;
  std::size_t size = kWordSlot;
  bool operator==(const BlockSlot&) const = default;
};

// The slots of a command's parameter block in order: the callback, the return
// (a text return is its buffer and its size), then one per item with a slot.
// Without a command only the callback is known.
std::vector<BlockSlot> BlockLayout(const CommandDef* command);

class CommandTable {
 public:
  // Validates the bytes (well-formed entries, heads and ends, constants
  // closed, one end-of-list entry exactly at the end) and builds the view.
  static std::variant<CommandTable, TableError> Load(std::span<const std::uint8_t> bytes);

  const CommandDef* Find(std::string_view verb) const;  // case-insensitive
  const CommandDef* FindMessage(UINT message) const;
  const std::vector<CommandDef>& Commands() const { return commands_; }
  const std::vector<TableEntry>& Entries() const { return entries_; }
  std::size_t ByteSize() const { return byteSize_; }

 private:
  std::vector<TableEntry> entries_;
  std::vector<CommandDef> commands_;
  std::size_t byteSize_ = 0;
};

std::string ToLowerAscii(std::string_view s);

// Prints the table, one entry a line, commands indented (what vcrdump shows).
std::string DumpTable(const CommandTable& table);

}  // namespace vtr::mci

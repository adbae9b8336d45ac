#include "mci/command_table.h"

#include <algorithm>
#include <cstdio>

#include "platform/mci_host.h"

namespace vtr::mci {
namespace {

struct Reader {
  std::span<const std::uint8_t> bytes;
  std::size_t pos = 0;

  std::optional<TableEntry> Next(std::string& why) {
    TableEntry e;
    e.offset = pos;
    for (;;) {
      if (pos + 2 > bytes.size()) {
        why = "keyword runs past the end of the table";
        return std::nullopt;
      }
      auto c = static_cast<char16_t>(bytes[pos] | (bytes[pos + 1] << 8));
      pos += 2;
      if (c == 0) break;
      e.keyword.push_back(c);
    }
    if (pos + 6 > bytes.size()) {
      why = "entry cut short after its keyword";
      return std::nullopt;
    }
    e.value = static_cast<DWORD>(bytes[pos]) | static_cast<DWORD>(bytes[pos + 1]) << 8 |
              static_cast<DWORD>(bytes[pos + 2]) << 16 | static_cast<DWORD>(bytes[pos + 3]) << 24;
    auto type = static_cast<std::uint16_t>(bytes[pos + 4] | (bytes[pos + 5] << 8));
    pos += 6;
    if (type > 9 || type == 7) {
      why = "unknown entry type " + std::to_string(type);
      return std::nullopt;
    }
    e.type = static_cast<EntryType>(type);
    return e;
  }
};

TableError Fail(const TableEntry& e, std::string what) {
  return TableError{e.offset, std::move(what)};
}

}  // namespace

std::string ToLowerAscii(std::string_view s) {
  std::string out(s);
  std::transform(out.begin(), out.end(), out.begin(), [](char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
  });
  return out;
}

std::string_view EntryTypeName(EntryType type) {
  switch (type) {
    case EntryType::kCommandHead:
      return "command";
    case EntryType::kString:
      return "string";
    case EntryType::kInteger:
      return "integer";
    case EntryType::kEndCommand:
      return "end command";
    case EntryType::kReturn:
      return "return";
    case EntryType::kFlag:
      return "flag";
    case EntryType::kEndCommandList:
      return "end command list";
    case EntryType::kRect:
      return "rect";
    case EntryType::kConstant:
      return "constant";
    case EntryType::kEndConstant:
      return "end constant";
  }
  return "?";
}

std::variant<CommandTable, TableError> CommandTable::Load(std::span<const std::uint8_t> bytes) {
  CommandTable t;
  t.byteSize_ = bytes.size();
  Reader r{bytes};
  std::string why;
  while (r.pos < bytes.size()) {
    auto e = r.Next(why);
    if (!e) return TableError{r.pos, why};
    t.entries_.push_back(std::move(*e));
  }
  if (t.entries_.empty()) return TableError{0, "empty table"};

  enum class At { kTop, kCommand, kConstant } at = At::kTop;
  CommandDef* cmd = nullptr;
  std::size_t slot = 0;
  bool ended = false;
  for (const TableEntry& e : t.entries_) {
    if (ended) return Fail(e, "entry after the end of the command list");
    std::string keyword = ToLowerAscii(platform::Narrow(e.keyword));
    switch (at) {
      case At::kTop:
        if (e.type == EntryType::kEndCommandList) {
          if (!e.keyword.empty()) return Fail(e, "end of list with a keyword");
          ended = true;
        } else if (e.type == EntryType::kCommandHead) {
          if (keyword.empty()) return Fail(e, "command without a word");
          if (t.Find(keyword) != nullptr) return Fail(e, "command '" + keyword + "' given twice");
          t.commands_.push_back(CommandDef{keyword, e.value, ReturnKind::kNone, 0, {}, 0, 0});
          cmd = &t.commands_.back();
          slot = kPointerSlot;  // the callback
          at = At::kCommand;
        } else {
          return Fail(
              e, std::string("expected a command, found ") + std::string(EntryTypeName(e.type)));
        }
        break;
      case At::kCommand:
        if (e.type == EntryType::kEndCommand) {
          if (!e.keyword.empty()) return Fail(e, "end of command with a keyword");
          cmd->blockBytes = slot;
          at = At::kTop;
          break;
        }
        ++cmd->itemEntries;
        switch (e.type) {
          case EntryType::kReturn:
            if (cmd->itemEntries != 1) return Fail(e, "return entry is not the first item");
            if (e.value == 1) {
              cmd->returns = ReturnKind::kString;
              cmd->returnSlot = slot;
              slot += kPointerSlot + kWordSlot;  // buffer and its size
            } else if (e.value == 2) {
              cmd->returns = ReturnKind::kInteger;
              cmd->returnSlot = slot;
              slot += kWordSlot;
            } else {
              return Fail(e, "unsupported return type " + std::to_string(e.value));
            }
            break;
          case EntryType::kFlag:
            cmd->items.push_back(CommandItem{keyword, e.type, e.value, std::nullopt, {}});
            break;
          case EntryType::kInteger:
            cmd->items.push_back(CommandItem{keyword, e.type, e.value, slot, {}});
            slot += kWordSlot;
            break;
          case EntryType::kString:
            cmd->items.push_back(CommandItem{keyword, e.type, e.value, slot, {}});
            slot += kPointerSlot;
            break;
          case EntryType::kConstant:
            cmd->items.push_back(CommandItem{keyword, e.type, e.value, slot, {}});
            slot += kWordSlot;
            at = At::kConstant;
            break;
          default:
            return Fail(e, std::string("unexpected ") + std::string(EntryTypeName(e.type)) +
                               " in command '" + cmd->verb + "'");
        }
        break;
      case At::kConstant:
        ++cmd->itemEntries;
        if (e.type == EntryType::kEndConstant) {
          if (cmd->items.back().words.empty()) return Fail(e, "constant without words");
          at = At::kCommand;
        } else if (e.type == EntryType::kInteger || e.type == EntryType::kFlag) {
          if (keyword.empty()) return Fail(e, "constant word without a keyword");
          cmd->items.back().words.push_back(ConstantWord{keyword, e.value, e.type});
        } else {
          return Fail(e, std::string("unexpected ") + std::string(EntryTypeName(e.type)) +
                             " inside a constant");
        }
        break;
    }
  }
  if (!ended) {
    return TableError{bytes.size(),
                      at == At::kTop ? "no end-of-list entry" : "table ends inside a command"};
  }
  // Pointers into commands_ stay valid: the vector no longer grows.
  return t;
}

const CommandDef* CommandTable::Find(std::string_view verb) const {
  std::string v = ToLowerAscii(verb);
  for (const CommandDef& c : commands_) {
    if (c.verb == v) return &c;
  }
  return nullptr;
}

const CommandDef* CommandTable::FindMessage(UINT message) const {
  for (const CommandDef& c : commands_) {
    if (c.message == message) return &c;
  }
  return nullptr;
}

std::vector<BlockSlot> BlockLayout(const CommandDef* command) {
  std::vector<BlockSlot> slots{{0, kPointerSlot}};
  if (command == nullptr) return slots;
  if (command->returns == ReturnKind::kString) {
    slots.push_back({command->returnSlot, kPointerSlot});
    slots.push_back({command->returnSlot + kPointerSlot, kWordSlot});
  } else if (command->returns == ReturnKind::kInteger) {
    slots.push_back({command->returnSlot, kWordSlot});
  }
  for (const CommandItem& item : command->items) {
    if (item.slot)
      slots.push_back({*item.slot, item.type == EntryType::kString ? kPointerSlot : kWordSlot});
  }
  return slots;
}

std::string DumpTable(const CommandTable& table) {
  std::string out;
  char line[160];
  int depth = 0;
  for (const TableEntry& e : table.Entries()) {
    if (e.type == EntryType::kEndCommand || e.type == EntryType::kEndConstant) --depth;
    std::snprintf(line, sizeof line, "%05zu %*s%-16s \"%s\" 0x%X\n", e.offset,
                  2 * std::max(depth, 0), "", std::string(EntryTypeName(e.type)).c_str(),
                  platform::Narrow(e.keyword).c_str(), static_cast<unsigned>(e.value));
    out += line;
    if (e.type == EntryType::kCommandHead || e.type == EntryType::kConstant) ++depth;
  }
  std::snprintf(line, sizeof line, "%zu entries, %zu commands, %zu bytes\n", table.Entries().size(),
                table.Commands().size(), table.ByteSize());
  out += line;
  return out;
}

}  // namespace vtr::mci

// The generated "VCR" command table and string table, and the validator.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "host/command_table.h"
#include "vtr_resource/vcr_resources.h"

namespace vtr::host {
namespace {

const CommandTable& Vcr() {
  static const CommandTable table =
      std::get<CommandTable>(CommandTable::Load(resource::kVcrCommandTable));
  return table;
}

TEST(VcrTable, SizeAndEntryCount) {
  EXPECT_EQ(resource::kVcrCommandTable.size(), 11720u);
  EXPECT_EQ(Vcr().Entries().size(), 535u);
  EXPECT_EQ(resource::kVcrEntryCount, 535u);
  EXPECT_EQ(Vcr().Entries().back().type, EntryType::kEndCommandList);
}

TEST(VcrTable, CommandsInOrderWithMessagesAndItemCounts) {
  struct Row {
    const char* verb;
    UINT message;
    std::size_t items;
  };
  const std::vector<Row> rows{
      {"capability", 0x080B, 52}, {"info", 0x080A, 6},        {"list", 0x0878, 8},
      {"freeze", 0x0844, 7},      {"unfreeze", 0x0845, 5},    {"mark", 0x0C00, 5},
      {"stop", 0x0808, 3},        {"pause", 0x0809, 3},       {"play", 0x0806, 8},
      {"record", 0x080F, 10},     {"resume", 0x0855, 3},      {"step", 0x080E, 5},
      {"cue", 0x0830, 9},         {"seek", 0x0807, 9},        {"index", 0x0C01, 5},
      {"set", 0x080D, 67},        {"settuner", 0x0C02, 9},    {"setaudio", 0x0873, 18},
      {"setvideo", 0x0876, 20},   {"status", 0x0814, 58},     {"escape", 0x0805, 4},
      {"ff", 0x0C80, 3},          {"rw", 0x0C81, 3},          {"shuttle", 0x0C82, 4},
      {"edit", 0x0C83, 6},        {"vdr", 0x0C8D, 16},        {"setzdkr", 0x0C87, 20},
      {"setzdkrvid", 0x0C88, 47}, {"setzdkraud", 0x0C89, 7},  {"getzdkr", 0x0C8A, 12},
      {"getzdkrvid", 0x0C8B, 28}, {"getzdkraud", 0x0C8C, 10},
  };
  const auto& commands = Vcr().Commands();
  ASSERT_EQ(commands.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(rows[i].verb);
    EXPECT_EQ(commands[i].verb, rows[i].verb);
    EXPECT_EQ(commands[i].message, rows[i].message);
    EXPECT_EQ(commands[i].itemEntries, rows[i].items);
  }
}

TEST(VcrTable, EveryCommandStartsWithNotifyWaitTest) {
  const char* const keywords[] = {"notify", "wait", "test"};
  const DWORD values[] = {0x1, 0x2, 0x20};
  for (const CommandDef& c : Vcr().Commands()) {
    ASSERT_GE(c.items.size(), 3u) << c.verb;
    for (std::size_t k = 0; k < 3; ++k) {
      EXPECT_EQ(c.items[k].keyword, keywords[k]) << c.verb;
      EXPECT_EQ(c.items[k].value, values[k]) << c.verb;
      EXPECT_EQ(c.items[k].type, EntryType::kFlag) << c.verb;
    }
  }
}

const CommandItem* Item(std::string_view verb, std::string_view keyword) {
  const CommandDef* c = Vcr().Find(verb);
  if (c == nullptr) return nullptr;
  for (const CommandItem& i : c->items) {
    if (i.keyword == keyword) return &i;
  }
  return nullptr;
}

TEST(VcrTable, SpotValues) {
  struct Row {
    const char* verb;
    const char* keyword;
    DWORD value;
    EntryType type;
  };
  const std::vector<Row> rows{
      {"vdr", "play ok", 0x300, EntryType::kFlag},
      {"vdr", "next cmd ok", 0x100, EntryType::kFlag},
      {"setzdkraud", "level", 0x0, EntryType::kInteger},
      {"getzdkr", "is it zdkr", 0x2700, EntryType::kFlag},
      {"setzdkrvid", "setup", 0x1D00, EntryType::kInteger},
      {"getzdkrvid", "setup", 0x1F00, EntryType::kFlag},
      {"seek", "to start", 0x100, EntryType::kFlag},
      {"seek", "to", 0x8, EntryType::kInteger},
      {"set", "time format", 0x400, EntryType::kConstant},
      {"escape", "", 0x100, EntryType::kString},
      {"getzdkraud", "channel", 0x0, EntryType::kInteger},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.verb) + " " + r.keyword);
    const CommandItem* item = Item(r.verb, r.keyword);
    ASSERT_NE(item, nullptr);
    EXPECT_EQ(item->value, r.value);
    EXPECT_EQ(item->type, r.type);
  }
}

TEST(VcrTable, StringTableCoversIds1281To1315) {
  ASSERT_EQ(resource::kVcrStrings.size(), 35u);
  std::map<unsigned, std::string> strings;
  for (const auto& s : resource::kVcrStrings) strings[s.id] = s.text;
  EXPECT_EQ(strings.begin()->first, 1281u);
  EXPECT_EQ(strings.rbegin()->first, 1315u);
  EXPECT_EQ(strings[1281], "8mm");
  EXPECT_EQ(strings[1294], "detect");
  EXPECT_EQ(strings[1310], "smpte drop");
  EXPECT_EQ(strings[1315], "reset");
}

// ---- the validator -----------------------------------------------------------

std::vector<std::uint8_t> Entry(std::u16string_view keyword, DWORD value, std::uint16_t type) {
  std::vector<std::uint8_t> out;
  for (char16_t c : keyword) {
    out.push_back(static_cast<std::uint8_t>(c & 0xFF));
    out.push_back(static_cast<std::uint8_t>(c >> 8));
  }
  out.insert(out.end(), {0, 0});
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
  out.push_back(static_cast<std::uint8_t>(type & 0xFF));
  out.push_back(static_cast<std::uint8_t>(type >> 8));
  return out;
}

std::vector<std::uint8_t> Join(std::initializer_list<std::vector<std::uint8_t>> parts) {
  std::vector<std::uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(TableValidator, AcceptsMinimalTable) {
  auto bytes =
      Join({Entry(u"go", 0x900, 0), Entry(u"notify", 1, 5), Entry(u"", 0, 3), Entry(u"", 0, 6)});
  auto t = CommandTable::Load(bytes);
  ASSERT_TRUE(std::holds_alternative<CommandTable>(t));
  EXPECT_EQ(std::get<CommandTable>(t).Commands().at(0).verb, "go");
}

TEST(TableValidator, RejectsMalformedTables) {
  const auto head = Entry(u"go", 0x900, 0);
  const auto end = Entry(u"", 0, 3);
  const auto list = Entry(u"", 0, 6);
  struct Case {
    const char* name;
    std::vector<std::uint8_t> bytes;
  };
  std::vector<Case> cases{
      {"empty", {}},
      {"no end of list", Join({head, end})},
      {"entry after end of list", Join({head, end, list, head, end})},
      {"two ends of list", Join({head, end, list, list})},
      {"unclosed command", Join({head, list})},
      {"unclosed constant", Join({head, Entry(u"c", 1, 8), Entry(u"w", 1, 2), end, list})},
      {"empty constant", Join({head, Entry(u"c", 1, 8), Entry(u"", 0, 9), end, list})},
      {"string inside constant",
       Join({head, Entry(u"c", 1, 8), Entry(u"s", 1, 1), Entry(u"", 0, 9), end, list})},
      {"return not first", Join({head, Entry(u"f", 1, 5), Entry(u"", 2, 4), end, list})},
      {"item outside command", Join({Entry(u"f", 1, 5), list})},
      {"head without word", Join({Entry(u"", 1, 0), end, list})},
      {"duplicate command", Join({head, end, head, end, list})},
      {"unknown type", Join({head, Entry(u"x", 1, 12), end, list})},
      {"rect type", Join({head, Entry(u"x", 1, 7), end, list})},
      {"cut keyword", std::vector<std::uint8_t>{'g', 0, 'o'}},
      {"cut value", Join({head, std::vector<std::uint8_t>{0, 0, 1, 0}})},
      {"end command with keyword", Join({head, Entry(u"x", 0, 3), list})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto t = CommandTable::Load(c.bytes);
    ASSERT_TRUE(std::holds_alternative<TableError>(t));
    EXPECT_FALSE(std::get<TableError>(t).message.empty());
  }
}

TEST(TableValidator, EveryTruncationOfTheVcrTableIsRejected) {
  // Cutting the table anywhere must fail cleanly, never read past the end.
  std::vector<std::uint8_t> bytes(resource::kVcrCommandTable.begin(),
                                  resource::kVcrCommandTable.end());
  for (std::size_t n = 0; n < bytes.size(); n += 29) {
    auto t = CommandTable::Load(std::span(bytes.data(), n));
    EXPECT_TRUE(std::holds_alternative<TableError>(t)) << n;
  }
}

}  // namespace
}  // namespace vtr::host

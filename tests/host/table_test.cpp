// The command table validator, on hand-made tables and on the "VCR" table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "mci/command_table.h"
#include "vtr_resource/vcr_resources.h"

namespace vtr::mci {
namespace {

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
}  // namespace vtr::mci

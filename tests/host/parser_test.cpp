// The command table validator, on hand-made tables and on the "VCR" table;
// the string parser on the "VCR" table: words to flags and parameter block
// slots (its errors are in library_test's ParseAgreesWithSend).
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

#include "mci/command_table.h"
#include "mci/parser.h"
#include "platform/mci_host.h"
#include "record/parms.h"
#include "vtr_resource/vcr_resources.h"

namespace vtr::mci {
namespace {

const CommandTable& Vcr() {
  static const CommandTable table =
      std::get<CommandTable>(CommandTable::Load(resource::kVcrCommandTable));
  return table;
}

struct Parsed {
  DWORD error = 0;
  DWORD flags = 0;
  ParamBlock block;
};

void Parse(std::string_view verb, std::string_view args, Parsed& out) {
  std::vector<Token> tokens;
  out.error = Tokenize(args, tokens);
  if (out.error != 0) return;
  const CommandDef* def = Vcr().Find(verb);
  ASSERT_NE(def, nullptr) << verb;
  out.error = ParseArguments(*def, tokens, out.flags, out.block);
}

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
  const std::span<const std::uint8_t> table(resource::kVcrCommandTable);
  for (std::size_t n = 0; n < table.size(); n += 29) {
    auto t = CommandTable::Load(table.first(n));
    EXPECT_TRUE(std::holds_alternative<TableError>(t)) << n;
  }
}

TEST(ParseInteger, DecimalSignedAndColonFields) {
  // clang-format off
  const std::pair<const char*, std::optional<DWORD>> rows[] = {
      {"0", 0u},          {"1000", 1000u},           {"4294967295", 0xFFFFFFFFu},
      {"-1", 0xFFFFFFFFu}, {"-2147483648", 0x80000000u}, {"1:2:3:4", 0x04030201u},
      {"1:2:3", 0x030201u}, {"0:0:10:0", 0x000A0000u},   {"255:255:255:255", 0xFFFFFFFFu},
  };
  // clang-format on
  for (const auto& [text, value] : rows) EXPECT_EQ(ParseInteger(text), value) << text;
  for (const char* bad : {"4294967296", "99999999999999999999", "-2147483649", "1:2:3:256", "256:0",
                          "1:2:3:4:5", "1::2", "-1:2", "12a", "", "-", "0x10"}) {
    EXPECT_EQ(ParseInteger(bad), std::nullopt) << bad;
  }
}

// Slots where the driver's handlers read them: offsets from record/parms.h.
// A string item's slot points at its UTF-16 text.
TEST(ParseArguments, ItemsLandInTheDriversSlots) {
  struct Row {
    const char* verb;
    const char* args;
    DWORD flags;
    std::size_t offset;
    DWORD value;
    const char16_t* text = nullptr;
  };
  const std::vector<Row> rows{
      {"play", "from 1000 to 2000 notify", MCI_FROM | MCI_TO | MCI_NOTIFY,
       offsetof(VTR_PLAY_PARMS, dwTo), 2000},
      {"play", "at 7 reverse scan", 0x20000 | 0x10000 | 0x40000, offsetof(VTR_PLAY_PARMS, dwAt), 7},
      {"record", "from 1:2:3:4 insert", MCI_FROM | 0x100, offsetof(VTR_RECORD_PARMS, dwFrom),
       0x04030201},
      {"cue", "to 300 preroll wait", MCI_TO | 0x40000 | MCI_WAIT, offsetof(VTR_CUE_PARMS, dwTo),
       300},
      {"seek", "mark 3", 0x20000, offsetof(VTR_SEEK_PARMS, dwMark), 3},
      {"step", "by 5 reverse", 0x10000 | 0x20000, offsetof(VTR_STEP_PARMS, dwFrames), 5},
      {"shuttle", "factor -3", 0x10000, offsetof(VTR_SHUTTLE_PARMS, dwFactor), 0xFFFFFFFDu},
      {"status", "track 2", MCI_TRACK, offsetof(VTR_STATUS_PARMS, dwTrack), 2},
      {"capability", "forward variable", MCI_GETDEVCAPS_ITEM,
       offsetof(VTR_GETDEVCAPS_PARMS, dwItem), 0x107},
      {"set", "TIME   Format\tSMPTE 30   Drop", 0x400, offsetof(VTR_SET_PARMS, dwTimeFormat), 7},
      {"set", "audio right off", 0x800 | 0x4000, offsetof(VTR_SET_PARMS, dwAudio), 2},
      {"set", "time mode detect", 0x10000, offsetof(VTR_SET_PARMS, dwTimeMode), 0x50E},
      {"set", "counter format hms", 0x80000, offsetof(VTR_SET_PARMS, dwCounterFormat), 1},
      {"set", "speed 500", 0x800000, offsetof(VTR_SET_PARMS, dwSpeed), 500},
      {"set", "postroll duration 9", 0x20000000, offsetof(VTR_SET_PARMS, dwPostrollDuration), 9},
      {"setaudio", "to line source", 0x200000 | 0x20000, offsetof(VTR_SETAV_PARMS, dwTo), 0x510},
      {"setvideo", "to svideo number 2", 0x100000 | 0x200000, offsetof(VTR_SETAV_PARMS, dwNumber),
       2},
      {"setvideo", "track 3 record on", 0x10 | 0x10000 | 0x2000, offsetof(VTR_SETAV_PARMS, dwTrack),
       3},
      {"edit", "track 1 inpoint 100 outpoint 200", 0x10000 | 0x100000 | 0x200000,
       offsetof(VTR_EDIT_PARMS, dwOutPoint), 200},
      {"setzdkr", "tc type drop frames", 0x300, offsetof(VTR_SETZDKR_PARMS, dwTCType), 0x10},
      {"setzdkr", "edit off duration 6", 0x800, offsetof(VTR_SETZDKR_PARMS, dwEditOffDur), 6},
      {"setzdkrvid", "out coring two bits", 0x1700, offsetof(VTR_SETZDKRVID_PARMS, dwOutCoring),
       0x20},
      {"setzdkrvid", "pchroma 3", 0x2400, offsetof(VTR_SETZDKRVID_PARMS, dwPChroma), 3},
      {"setzdkraud", "level 77", 0x0, offsetof(VTR_SETZDKRAUD_PARMS, dwLevel), 77},
      {"setzdkraud", "audio play channel 2", 0x1B00,
       offsetof(VTR_SETZDKRAUD_PARMS, dwAudioPlayChannel), 2},
      {"getzdkraud", "audio in level channel 2", 0x1B00, offsetof(VTR_GETZDKR_PARMS, dwChannel), 2},
      {"vdr", "play ok autoplay", 0x300, offsetof(VTR_VDR_PARMS, dwCommand), 0x20},
      {"escape", "\"AB c\"", 0x100, offsetof(VTR_ESCAPE_PARMS, lpstrCommand), 0, u"AB c"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.verb) + " " + r.args);
    Parsed p;
    Parse(r.verb, r.args, p);
    ASSERT_EQ(p.error, 0u);
    EXPECT_EQ(p.flags, r.flags);
    if (r.text == nullptr) {
      EXPECT_EQ(p.block.Word(r.offset), r.value);
    } else {
      p.block.Bind();
      auto* text = reinterpret_cast<const char16_t*>(p.block.Pointer(r.offset));
      ASSERT_NE(text, nullptr);
      EXPECT_EQ(std::u16string(text), r.text);
    }
  }
}

}  // namespace
}  // namespace vtr::mci

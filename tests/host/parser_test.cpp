// The string parser on the "VCR" table: words to flags and parameter block
// slots, and errors.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>
#include <vector>

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
  std::string rejected;  // the word an error blames
};

void Parse(std::string_view verb, std::string_view args, Parsed& out) {
  std::vector<Token> tokens;
  out.error = Tokenize(args, tokens);
  if (out.error != 0) return;
  const CommandDef* def = Vcr().Find(verb);
  ASSERT_NE(def, nullptr) << verb;
  std::size_t at = tokens.size();
  out.error = ParseArguments(*def, tokens, out.flags, out.block, &at);
  if (out.error != 0 && at < tokens.size()) out.rejected = tokens[at].text;
}

TEST(ParseInteger, DecimalSignedAndColonFields) {
  struct Row {
    const char* text;
    std::optional<DWORD> value;
  };
  // clang-format off
  const std::vector<Row> rows{
      {"0", 0u},          {"1000", 1000u},           {"4294967295", 0xFFFFFFFFu},
      {"-1", 0xFFFFFFFFu}, {"-2147483648", 0x80000000u}, {"1:2:3:4", 0x04030201u},
      {"1:2:3", 0x030201u}, {"0:0:10:0", 0x000A0000u},   {"255:255:255:255", 0xFFFFFFFFu},
  };
  // clang-format on

  for (const Row& r : rows) EXPECT_EQ(ParseInteger(r.text), r.value) << r.text;
  for (const char* bad : {"4294967296", "99999999999999999999", "-2147483649", "1:2:3:256", "256:0",
                          "1:2:3:4:5", "1::2", "-1:2", "12a", "", "-", "0x10"}) {
    EXPECT_EQ(ParseInteger(bad), std::nullopt) << bad;
  }
}

// Slots where the driver's handlers read them: offsets from record/parms.h.
TEST(ParseArguments, ItemsLandInTheDriversSlots) {
  struct Row {
    const char* verb;
    const char* args;
    DWORD flags;
    std::size_t offset;
    DWORD value;
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
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.verb) + " " + r.args);
    Parsed p;
    Parse(r.verb, r.args, p);
    ASSERT_EQ(p.error, 0u);
    EXPECT_EQ(p.flags, r.flags);
    EXPECT_EQ(p.block.Word(r.offset), r.value);
  }
}

TEST(ParseArguments, StringItemsPointAtUtf16Text) {
  Parsed p;
  Parse("escape", "\"AB c\"", p);
  ASSERT_EQ(p.error, 0u);
  EXPECT_EQ(p.flags, 0x100u);
  p.block.Bind();
  auto* text =
      reinterpret_cast<const char16_t*>(p.block.Pointer(offsetof(VTR_ESCAPE_PARMS, lpstrCommand)));
  ASSERT_NE(text, nullptr);
  EXPECT_EQ(std::u16string(text), u"AB c");
}

// Errors, and the word each blames (none when a word is missing).
TEST(ParseArguments, Errors) {
  struct Row {
    const char* verb;
    const char* args;
    DWORD error;
    const char* word = "";
  };
  const std::vector<Row> rows{
      {"play", "from to 5", MCIERR_BAD_INTEGER, "to"},
      {"play", "from 99999999999", MCIERR_BAD_INTEGER, "99999999999"},
      {"play", "from \"12\"", MCIERR_BAD_INTEGER, "12"},
      {"play", "from", MCIERR_BAD_INTEGER},
      {"play", "from 1 from 2", MCIERR_DUPLICATE_FLAGS, "from"},
      {"play", "notify notify", MCIERR_DUPLICATE_FLAGS, "notify"},
      {"status", "mode position", MCIERR_DUPLICATE_FLAGS, "position"},
      {"status", "mdoe", MCIERR_UNRECOGNIZED_KEYWORD, "mdoe"},
      {"set", "time format", MCIERR_BAD_CONSTANT},
      {"set", "time format fortnights", MCIERR_BAD_CONSTANT, "fortnights"},
      {"set", "frames", MCIERR_UNRECOGNIZED_KEYWORD, "frames"},
      {"escape", "\"\"", MCIERR_MISSING_STRING_ARGUMENT},
      {"status", "\"mode\"", MCIERR_UNRECOGNIZED_KEYWORD, "mode"},
      {"escape", "\"abc\"def", MCIERR_EXTRA_CHARACTERS},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(std::string(r.verb) + " " + r.args);
    Parsed p;
    Parse(r.verb, r.args, p);
    EXPECT_EQ(p.error, r.error);
    EXPECT_EQ(p.rejected, r.word);
  }
}

// Every item of every command: its word sets exactly its bit, and an item with
// a slot fills that slot (the slot positions themselves are checked above).
TEST(ParseArguments, EveryItemOfEveryCommand) {
  for (const CommandDef& c : Vcr().Commands()) {
    for (const CommandItem& item : c.items) {
      std::vector<std::pair<std::string, DWORD>> forms;  // text, slot value
      switch (item.type) {
        case EntryType::kFlag:
          forms.emplace_back(item.keyword, 0);
          break;
        case EntryType::kInteger:
          forms.emplace_back(item.keyword + " 4660", 4660);
          break;
        case EntryType::kString:
          forms.emplace_back((item.keyword.empty() ? "" : item.keyword + " ") + "xyz", 0);
          break;
        case EntryType::kConstant:
          for (const ConstantWord& w : item.words)
            forms.emplace_back((item.keyword.empty() ? "" : item.keyword + " ") + w.keyword,
                               w.value);
          break;
        default:
          FAIL() << "unexpected item type";
      }
      for (const auto& [text, value] : forms) {
        SCOPED_TRACE(c.verb + " " + text);
        Parsed p;
        Parse(c.verb, text, p);
        ASSERT_EQ(p.error, 0u);
        EXPECT_EQ(p.flags, item.value);
        if (item.slot && item.type != EntryType::kString) {
          EXPECT_EQ(p.block.Word(*item.slot), value);
          EXPECT_LE(*item.slot + 4, c.blockBytes);
        }
      }
    }
    EXPECT_LE(c.blockBytes, 128u) << c.verb;
  }
}

}  // namespace
}  // namespace vtr::mci

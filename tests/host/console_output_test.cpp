// vtrctl's printed forms (the text lines of commands and notifications are
// pinned by the vtrctl_sim_* scripts, an interrupted wait by ctrl_c.sh, a
// port's detail in JSON by vtrctl_port_detail): directive failures as text,
// every form as JSON; the progress line's target.
#include <gtest/gtest.h>

#include <tuple>

#include "host/console_help.h"
#include "host/console_output.h"
#include "host/watch.h"
#include "vtr_resource/vcr_resources.h"

namespace vtr::host {
namespace {

TEST(ConsoleOutput, TextAndJsonForms) {
  const ConsoleOutput text(false), json(true);
  const mci::CommandResult ok{0, "stopped", 1}, done{0, "", 1};
  const mci::CommandResult port{MCIERR_HARDWARE, "", 1, "COM9 -> /dev/ttyUSB9: no such device"};
  const mci::MessageResult raw{0, 0, {0, 77, 2}, "77"};
  const DeckSample sample{"365", "00:00:12:05", "playing", "1000"};
  struct Row {
    std::string got, want;
  } rows[] = {
      {text.Failure(".notify 5", "no notification within 5 ms"),
       ".notify 5 -> error: no notification within 5 ms"},
      {json.Result("status tape mode", ok),
       R"({"command":"status tape mode","ok":true,"result":"stopped"})"},
      {json.Result("stop tape", done), R"({"command":"stop tape","ok":true})"},
      {json.Result("stop tape", {MCIERR_NO_CLOSING_QUOTE, "", 0}),
       R"({"command":"stop tape","ok":false,"error":294,"text":"A closing double-quotation mark )"
       R"(is missing from the parameter value. Please supply one."})"},
      {text.Result("open vcr9", port),
       "open vcr9 -> error 262: There is a problem with your media device. Make sure it is "
       "working correctly or contact the device manufacturer. (COM9 -> /dev/ttyUSB9: no such "
       "device)"},
      {json.Result("status tape mdoe", {MCIERR_UNRECOGNIZED_KEYWORD, "", 1}, "mdoe"),
       R"({"command":"status tape mdoe","ok":false,"error":259,"text":"The driver cannot )"
       R"(recognize the specified command parameter.","word":"mdoe"})"},
      {text.Ended("seek tape to 90000 wait", done, "superseded", std::nullopt, std::nullopt),
       "seek tape to 90000 wait -> superseded"},
      {json.Ended("seek tape to 9 wait", done, "superseded", "0:0:0:9", "0:0:0:9"),
       R"({"command":"seek tape to 9 wait","ok":false,"ending":"superseded",)"
       R"("position":"0:0:0:9","timecode":"0:0:0:9"})"},
      {json.Notify("play tape notify", MCI_NOTIFY_SUCCESSFUL),
       R"({"notify":"successful","code":1,"command":"play tape notify"})"},
      {json.Failure(".x \"a\"\t\\\x01", "unknown"),
       R"({"command":".x \"a\"\t\\\u0001","ok":false,"text":"unknown"})"},
      {json.MessageJson(".send tape 0x814", raw),
       R"({"command":".send tape 0x814","ok":true,"return":"77","words":[0,77,2]})"},
      {FormatSample(text, "tape", sample, "play tape to 900 notify"),
       "tape  00:00:12:05  playing  speed 1000  owed: play tape to 900 notify"},
      {FormatSample(json, "tape", sample, std::nullopt),
       R"({"watch":"tape","position":"365","timecode":"00:00:12:05","mode":"playing",)"
       R"("speed":"1000","owed":null})"},
  };
  for (const Row& r : rows) EXPECT_EQ(r.got, r.want);
}

TEST(DisplayTimecode, FramesAtTheDecksRate) {
  const std::tuple<const char*, const char*, const char*> rows[] = {
      {"365", "30", "00:00:12:05"},
      {"365", "25", "00:00:14:15"},
      {"0:0:20:0", "30", "0:0:20:0"},  // colonised: as the time format gives it
      {"", "30", ""},
  };
  for (const auto& [position, rate, want] : rows)
    EXPECT_EQ(DisplayTimecode(position, rate), want) << position << " at " << rate;
}

TEST(WaitTarget, OnlyWaitingMovesToAPosition) {
  using Target = std::optional<std::pair<std::string, std::string>>;
  const std::pair<const char*, Target> rows[] = {
      {"seek tape to 9000 wait", std::pair{"tape", "9000"}},
      {"CUE Deck TO 0:0:20:0 WAIT", std::pair{"Deck", "0:0:20:0"}},
      {"play tape from 10 to 40 wait", std::pair{"tape", "40"}},
      {"play tape to 40 notify", std::nullopt},  // does not wait
      {"seek tape to start wait", std::pair{"tape", "start"}},
      {"record tape to 40 wait", std::nullopt},   // not a move to a position
      {"seek tape wait", std::nullopt},           // no target
      {"seek tape \"to\" 5 wait", std::nullopt},  // quoted words are no keywords
  };
  for (const auto& [command, want] : rows) EXPECT_EQ(WaitTarget(command), want) << command;
}

// Tab: the words that fit where the cursor is, from the tables.
TEST(Completions, ByContext) {
  const auto vcr = std::get<mci::CommandTable>(mci::CommandTable::Load(resource::kVcrCommandTable));
  CompletionContext context{&vcr, nullptr, {"tape", "deck2"}, {"vcr", "vcr1"}};
  using Words = std::vector<std::string>;
  const std::tuple<const char*, const char*, Words> rows[] = {
      {"", "st", {"status", "step", "stop"}},
      {"", ".re", {".recorded"}},
      {"status ", "", {"all", "deck2", "tape"}},                  // after a command: the aliases
      {"open ", "v", {"vcr", "vcr1"}},                            // the installed names
      {"status tape ", "po", {"position", "postroll", "power"}},  // status items only
      {"status tape number of ", "", {"audio", "tracks", "video"}},
      {"set tape ", "po", {"postroll", "power"}},
      {"set tape time format ", "sm", {"smpte"}},  // a constant's words after it
      {"set tape time format smpte ", "", {"24", "25", "30"}},
      {"seek tape to ", "", {"end", "start"}},  // "to" waits for a number
      {"play tape from ", "", {}},
      {"help ",
       "se",
       {"seek", "set", "setaudio", "settuner", "setvideo", "setzdkr", "setzdkraud", "setzdkrvid"}},
  };
  for (const auto& [before, prefix, want] : rows)
    EXPECT_EQ(Completions(context, before, prefix), want) << before << "|" << prefix;
}

// "help COMMAND" reads the command's items from its table.
TEST(CommandHelp, FromTheTable) {
  const auto vcr = std::get<mci::CommandTable>(mci::CommandTable::Load(resource::kVcrCommandTable));
  EXPECT_EQ(CommandHelp(*vcr.Find("step")),
            std::vector<std::string>{"step ALIAS [notify] [wait] [test] [by N] [reverse]"});
  const auto set = CommandHelp(*vcr.Find("set"), 60);
  EXPECT_EQ(set[0], "set ALIAS [notify] [wait] [test] [time format WORD]");
  EXPECT_NE(std::find(set.begin(), set.end(), "  tracking: plus, minus, reset"), set.end());
}

}  // namespace
}  // namespace vtr::host

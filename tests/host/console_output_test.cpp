// vtrctl's printed forms (the text lines of commands and notifications are
// pinned by the vtrctl_sim_* scripts): directive failures as text, every
// form as JSON; the progress line's target.
#include <gtest/gtest.h>

#include <tuple>

#include "host/console_output.h"
#include "host/watch.h"

namespace vtr::host {
namespace {

TEST(ConsoleOutput, TextAndJsonForms) {
  const ConsoleOutput text(false), json(true);
  const mci::CommandResult ok{0, "stopped", 1}, done{0, "", 1};
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

}  // namespace
}  // namespace vtr::host

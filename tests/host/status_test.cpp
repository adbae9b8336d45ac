// Status, capability, list, info and escape of the real driver, through the
// library's command strings (and, where the library sizes or encodes the
// parameters itself, through messages), against the in-process deck in
// virtual time.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "driver/parms.h"
#include "host/mci_library.h"
#include "platform/clock.h"
#include "platform/serial_ports.h"
#include "sim/deck.h"
#include "tests/support/driver_fixture.h"

namespace vtr::host {
namespace {

constexpr int kPort = 2;

class StatusTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::UseVirtualClock(platform::Micros{0}, 1000); }
  void TearDown() override {
    lib_.reset();
    platform::UnbindPort(kPort);
    deck_.reset();
    platform::UseRealClock();
  }

  // Opens "tape" with VTRID=19 plus `ini` lines in its profile section.
  void Open(const std::string& ini = "", sim::DeckConfig cfg = sim::DeckConfig::For("BVW-75")) {
    profile_.WriteIni("[videotape]\nVTRID=19\n" + ini);
    deck_ = std::make_shared<sim::Deck>(cfg);
    platform::BindVirtualPort(kPort, deck_);
    lib_.emplace(RealDriver());
    ASSERT_EQ(lib_->SendString("open vcr alias tape").error, 0u);
    deck_->ClearTrace();
  }

  CommandResult Send(std::string_view cmd) { return lib_->SendString(cmd); }
  DWORD Message(UINT msg, DWORD flags, void* parms) {
    return static_cast<DWORD>(DriverProc(*lib_->DeviceIdOf("tape"), nullptr, msg,
                                         static_cast<LPARAM>(flags),
                                         reinterpret_cast<LPARAM>(parms)));
  }
  std::vector<sim::TraceEntry> ToDeck() const {
    std::vector<sim::TraceEntry> out;
    for (const auto& e : deck_->Trace())
      if (e.direction == sim::Direction::kToDeck) out.push_back(e);
    return out;
  }

  test::TempProfileDir profile_;
  std::shared_ptr<sim::Deck> deck_;
  std::optional<MciLibrary> lib_;
};

// The answer to one command string, for a profile.
struct Answer {
  const char* ini;
  const char* command;
  const char* text;  // expected return text when error is 0
  DWORD error;
};

TEST_F(StatusTest, AnswersFromTheProfileAndFixedItems) {
  const std::vector<Answer> rows{
      {"", "status tape channel", "", MCIERR_UNSUPPORTED_FUNCTION},
      {"", "status tape time format", "3", 0},
      {"Pal=1\n", "status tape frame rate", "25", 0},
      {"HasLTC=1\nHasCTL=0\nHasVTC=0\n", "capability tape timecode", "352", 0},
      {"HasLTC=0\nHasCTL=1\nHasVTC=1\n", "capability tape timecode", "355", 0},
      {"HasLTC=0\nHasCTL=0\nHasVTC=0\n", "capability tape timecode", "0", 0},
      // "preroll" is the record pre-roll, like "record preroll".
      {"PreRoll=5\nRecPreRoll=7\n", "capability tape preroll", "7", 0},
      {"PreRoll=5\nRecPreRoll=7\n", "capability tape default play preroll", "5", 0},
      {"VideoSources=2\n", "list tape video source number 2", "1297", 0},
      {"VideoSources=2\n", "list tape video source number 3", "", MCIERR_BAD_INTEGER},
      {"AudioSources=4\n", "list tape audio source number 2", "1296", 0},
      {"AudioSources=1\n", "list tape audio source number 2", "", MCIERR_BAD_INTEGER},
  };
  for (const Answer& row : rows) {
    SCOPED_TRACE(std::string(row.ini) + row.command);
    Open(row.ini);
    CommandResult r = Send(row.command);
    EXPECT_EQ(r.error, row.error);
    if (row.error == 0) {
      EXPECT_EQ(r.text, row.text);
    }
    TearDown();
    SetUp();
  }
}

TEST_F(StatusTest, PositionFollowsTheTimeFormatWhileTheFormatItemStaysFrames) {
  struct Row {
    const char* format;
    const char* position;  // at 300 frames
  };
  const std::vector<Row> rows{{"frames", "300"}, {"smpte 30", "00:00:10:00"}, {"hms", "00:00:10"}};
  Open();
  deck_->SetPosition(300);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.format);
    ASSERT_EQ(Send(std::string("set tape time format ") + row.format).error, 0u);
    EXPECT_EQ(Send("status tape time format").text, "3");
    EXPECT_EQ(Send("status tape position").text, row.position);
  }
}

TEST_F(StatusTest, ModeAsAWordOrTheDriversOwnValue) {
  struct Row {
    const char* setup;  // a command string, or "local" for the deck's panel switch
    const char* plain;  // "status tape mode"
    const char* test;   // "status tape mode test"
  };
  const std::vector<Row> rows{
      {"", "stopped", "stopped"},
      {"pause tape wait", "paused", "paused"},
      {"local", "stopped", "389"},  // a resource id without a string prints as a number
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.setup);
    Open();
    if (std::string(row.setup) == "local") {
      deck_->SetLocal(true);
    } else if (*row.setup != 0) {
      ASSERT_EQ(Send(row.setup).error, 0u);
    }
    EXPECT_EQ(Send("status tape mode").text, row.plain);
    EXPECT_EQ(Send("status tape mode test").text, row.test);
    TearDown();
    SetUp();
  }
}

TEST_F(StatusTest, ReadyIsStoredAndMediaPresentAsksOnce) {
  Open();
  EXPECT_EQ(Send("status tape ready").text, "1");
  EXPECT_TRUE(ToDeck().empty()) << deck_->TraceText();

  EXPECT_EQ(Send("status tape media present").text, "1");
  auto sent = ToDeck();
  ASSERT_EQ(sent.size(), 1u) << deck_->TraceText();
  EXPECT_EQ(sent[0].name, "STATSENSE_422");

  deck_->PanelEject();
  platform::Advance(platform::Micros{5'000'000});
  EXPECT_EQ(Send("status tape media present").text, "0");
}

TEST_F(StatusTest, InfoProductNeedsRoomForTwentyNineCharacters) {
  Open();
  const std::string product = Send("info tape product").text;
  ASSERT_FALSE(product.empty());
  EXPECT_LE(product.size(), 29u);
  for (DWORD size : {61u, 62u}) {
    SCOPED_TRACE(size);
    std::vector<WCHAR> buf(64, 0xAAAA);
    VTR_INFO_PARMS p{0, buf.data(), size};
    const DWORD r = Message(MCI_INFO, MCI_INFO_PRODUCT, &p);
    if (size < 62) {
      EXPECT_EQ(r, MCIERR_PARAM_OVERFLOW);
      EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](WCHAR c) { return c == 0xAAAA; }));
    } else {
      EXPECT_EQ(r, 0u);
      EXPECT_EQ(std::string(buf.begin(), buf.begin() + static_cast<long>(product.size())), product);
      EXPECT_EQ(buf[product.size()], 0);
    }
  }
}

TEST_F(StatusTest, EscapeSendsAllButTheLastByteAsAFrame) {
  struct Row {
    const char* bytes;
    std::vector<std::uint8_t> sent;
  };
  // "AB": length 1, 0x41, checksum 0x41; "A": length 0, the checksum alone.
  const std::vector<Row> rows{{"AB", {0x41, 0x41}}, {"A", {0x00}}};
  Open();
  for (const Row& row : rows) {
    SCOPED_TRACE(row.bytes);
    deck_->ClearTrace();
    VTR_ESCAPE_PARMS p{0, reinterpret_cast<LPCWSTR>(row.bytes)};
    // Neither is a whole block, so the deck times it out and does not acknowledge.
    EXPECT_EQ(Message(MCI_ESCAPE, 0x100, &p), MCIERR_HARDWARE);
    auto sent = ToDeck();
    ASSERT_EQ(sent.size(), 1u) << deck_->TraceText();
    EXPECT_EQ(sent[0].bytes, row.sent);
  }
}

}  // namespace
}  // namespace vtr::host

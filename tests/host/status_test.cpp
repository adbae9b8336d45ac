// Status, capability, list, info and escape of the real driver, through the
// library's command strings (and, where the library sizes or encodes the
// parameters itself, through messages), against the in-process deck in
// virtual time. The vtrctl_sim_* scripts pin the plain answers and the
// position in every time format.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "host/driver_binding.h"
#include "mci/mci_library.h"
#include "platform/clock.h"
#include "platform/serial_ports.h"
#include "record/parms.h"
#include "sim/deck.h"
#include "tests/support/driver_fixture.h"

namespace vtr::mci {
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
    lib_.emplace(host::RealDriver());
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

// One answer for a profile after a setup: a command string, "local" (the
// deck's panel switch) or "eject" (its eject button). `sent`: the names of the
// blocks the answer sends the deck, when it matters.
TEST_F(StatusTest, Answers) {
  struct Row {
    const char* ini;
    const char* setup;
    const char* command;
    const char* text;
    DWORD error = 0;
    const char* sent = nullptr;
  };
  // clang-format off
  const Row rows[] = {
      {"", "", "status tape channel", "", MCIERR_UNSUPPORTED_FUNCTION},
      {"", "set tape time format hms", "status tape time format", "3"},  // the item stays frames
      {"HasLTC=1\nHasCTL=0\nHasVTC=0\n", "", "capability tape timecode", "352"},
      {"HasLTC=0\nHasCTL=1\nHasVTC=1\n", "", "capability tape timecode", "355"},
      {"HasLTC=0\nHasCTL=0\nHasVTC=0\n", "", "capability tape timecode", "0"},
      // "preroll" is the record pre-roll, like "record preroll".
      {"PreRoll=5\nRecPreRoll=7\n", "", "capability tape preroll", "7"},
      {"PreRoll=5\nRecPreRoll=7\n", "", "capability tape default play preroll", "5"},
      {"VideoSources=2\n", "", "list tape video source number 2", "1297"},
      {"VideoSources=2\n", "", "list tape video source number 3", "", MCIERR_BAD_INTEGER},
      {"AudioSources=4\n", "", "list tape audio source number 2", "1296"},
      {"AudioSources=1\n", "", "list tape audio source number 2", "", MCIERR_BAD_INTEGER},
      {"", "pause tape wait", "status tape mode", "paused"},
      {"", "pause tape wait", "status tape mode test", "paused"},
      {"", "local", "status tape mode", "stopped"},
      {"", "local", "status tape mode test", "389"},  // a resource id without a string: a number
      {"", "", "status tape ready", "1", 0, ""},  // stored
      {"", "", "status tape media present", "1", 0, "STATSENSE_422"},
      {"", "eject", "status tape media present", "0"},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(row.ini) + row.setup + " / " + row.command);
    Open(row.ini);
    const std::string setup = row.setup;
    if (setup == "local") {
      deck_->SetLocal(true);
    } else if (setup == "eject") {
      deck_->PanelEject();
      platform::Advance(platform::Micros{5'000'000});
    } else if (!setup.empty()) {
      ASSERT_EQ(Send(setup).error, 0u);
    }
    deck_->ClearTrace();
    CommandResult r = Send(row.command);
    EXPECT_EQ(r.error, row.error);
    EXPECT_EQ(r.text, row.text);
    if (row.sent != nullptr) {
      std::string sent;
      for (const auto& e : ToDeck()) sent += (sent.empty() ? "" : " ") + e.name;
      EXPECT_EQ(sent, row.sent);
    }
    TearDown();
    SetUp();
  }
}

TEST_F(StatusTest, InfoProductNeedsRoomForTwentyNineCharacters) {
  Open();
  const std::string product = Send("info tape product").text;
  ASSERT_FALSE(product.empty());
  EXPECT_LE(product.size(), 29u);
  std::vector<WCHAR> buf(64, 0xAAAA);
  VTR_INFO_PARMS p{0, buf.data(), 61};
  EXPECT_EQ(Message(MCI_INFO, MCI_INFO_PRODUCT, &p), MCIERR_PARAM_OVERFLOW);
  EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](WCHAR c) { return c == 0xAAAA; }));
  p.dwRetSize = 62;
  EXPECT_EQ(Message(MCI_INFO, MCI_INFO_PRODUCT, &p), 0u);
  EXPECT_EQ(std::string(buf.begin(), buf.begin() + static_cast<long>(product.size())), product);
  EXPECT_EQ(buf[product.size()], 0);
}

// "AB": length 1, 0x41, checksum 0x41 (an empty frame, the checksum alone, is
// the exchange test's). Not a whole block: the deck times it out, unanswered.
TEST_F(StatusTest, EscapeSendsAllButTheLastByteAsAFrame) {
  Open();
  VTR_ESCAPE_PARMS p{0, reinterpret_cast<LPCWSTR>("AB")};
  EXPECT_EQ(Message(MCI_ESCAPE, 0x100, &p), MCIERR_HARDWARE);
  const auto sent = ToDeck();
  ASSERT_EQ(sent.size(), 1u) << deck_->TraceText();
  EXPECT_EQ(sent[0].bytes, (std::vector<std::uint8_t>{0x41, 0x41}));
}

}  // namespace
}  // namespace vtr::mci

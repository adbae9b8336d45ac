// Open and close through the dispatcher against the deck, and model detection.
#include <gtest/gtest.h>

#include "config/ballistics.h"
#include "platform/clock.h"
#include "tests/support/driver_fixture.h"

namespace vtr::test {
namespace {

constexpr DWORD_PTR kCallback = 0x77;

class OpenTest : public DriverFixture {};

// The open wakes the machine and reads its time source, and nothing else
// reaches the line meanwhile (the poll leaves a device alone until it is open).
TEST_F(OpenTest, OpenWakesTheMachineAndCloseStopsIt) {
  ASSERT_EQ(OpenDevice(), 0u);
  const std::vector<std::string> wake = {"STOP_422",      "STOP_422",       "STND_BYOFF_422",
                                         "STOP_422",      "STND_BYOFF_422", "ISZDKR_422",
                                         "TMODESENSE_422"};
  EXPECT_EQ(SentNames(), wake);
  // Every block was carried out: the machine ends the open in standby off.
  EXPECT_EQ(deck_->StatusBytes()[1] & 0x80, 0);
  EXPECT_EQ(Record()->nOpenCount, 1u);
  EXPECT_EQ(Record()->bIsZDKR, 0);
  EXPECT_EQ(Record()->HasTC, 1u);
  deck_->ClearTrace();
  ASSERT_EQ(CloseDevice(), 0u);
  EXPECT_EQ(SentNames(), std::vector<std::string>{"STOP_422"});
  EXPECT_EQ(Record()->nOpenCount, 0u);
  EXPECT_FALSE(PortIsOpen(Record()));
}

// Shareable opens share one port and the last close closes it; a second full
// open fails and leaves the first one's port alone.
TEST_F(OpenTest, OpensShareOnePortOnlyWhenShareable) {
  ASSERT_EQ(OpenDevice(MCI_OPEN_SHAREABLE), 0u);
  deck_->ClearTrace();
  ASSERT_EQ(OpenDevice(MCI_OPEN_SHAREABLE), 0u);
  ASSERT_EQ(CloseDevice(), 0u);
  EXPECT_TRUE(deck_->Trace().empty());
  EXPECT_TRUE(PortIsOpen(Record()));
  ASSERT_EQ(CloseDevice(), 0u);
  EXPECT_EQ(SentNames(), std::vector<std::string>{"STOP_422"});
  EXPECT_FALSE(PortIsOpen(Record()));
  ASSERT_EQ(OpenDevice(), 0u);
  HANDLE first = Record()->hComm;
  EXPECT_EQ(OpenDevice(), MCIERR_HARDWARE);
  EXPECT_EQ(Record()->hComm, first);
  EXPECT_EQ(Record()->nOpenCount, 1u);
}

// An open fails with 262, neither counted nor notified, on a port that cannot
// be opened or a machine that does not answer (after two stops, within 0.8 s;
// the fault matrix opens again once it answers).
TEST_F(OpenTest, FailedOpensCountNothing) {
  DriverOpen(u"videotape", 1, 101);
  VTR_GENERIC_PARMS p{kCallback};
  for (WORD port : {WORD{0}, WORD{99}, WORD{200}, WORD{7}}) {
    Record()->ComPort = port;
    EXPECT_EQ(Send(MCI_OPEN_DRIVER, MCI_NOTIFY, &p), MCIERR_HARDWARE) << port;
  }
  Record()->ComPort = kComPort;
  deck_->InjectFault({.kind = vtr::sim::FaultKind::kSilence, .times = vtr::sim::Fault::kAlways});
  const auto start = vtr::platform::Now();
  EXPECT_EQ(Send(MCI_OPEN_DRIVER, MCI_NOTIFY, &p), MCIERR_HARDWARE);
  EXPECT_GE(vtr::platform::Now() - start, vtr::platform::Micros{500000});
  EXPECT_LT(vtr::platform::Now() - start, vtr::platform::Micros{800000});
  EXPECT_EQ(Commands(), (std::vector<std::string>{"STOP_422", "STOP_422"}));
  EXPECT_TRUE(host_.Notifications().empty());
  EXPECT_EQ(Record()->nOpenCount, 0u);
}

// Model detection at the first open of a section without a model: the row of
// the deck's code (unknown codes: the generic row) goes into the record and
// the device's section (several devices: ConfigDialogTest); a later open asks
// no more. A reply not believed (a glitch on the line) saves
// nothing: the open runs on the generic settings and the next open asks again.
class DetectTest : public OpenTest {
 protected:
  std::string InitialProfile() override { return ""; }
  vtr::sim::DeckConfig DeckSetup() override {
    auto cfg = OpenTest::DeckSetup();
    cfg.device_type = code_;
    return cfg;
  }
  std::uint16_t code_ = 0x2025;
};

TEST_F(DetectTest, FirstOpenDetectsAndSavesTheModel) {
  struct Row {
    std::uint16_t code;
    DWORD row;
    const char* name;
  } rows[] = {{0x2025, 19, "Sony BVW-75"},
              {0xF001, 0, "Orvanta ZDKR"},  // the first of two rows with its code
              {0x1234, 55, "Sony Generic RS-422 Protocol"}};
  for (const auto& row : rows) {
    code_ = row.code;
    TearDown();
    SetUp();
    DriverOpen(u"videotape3", 1, 101);
    ASSERT_EQ(OpenDevice(), 0u);
    EXPECT_EQ(Record()->VTRID, row.row);
    EXPECT_EQ(Record()->EditIn, -static_cast<int>(vtrBallistics[row.row].wEditIn));
    const std::string ini = profile_.ReadIni();
    EXPECT_EQ(ini.find("[videotape3]\nVTRName=" + std::string(row.name) + "\n"), 0u) << ini;
    ASSERT_EQ(CloseDevice(), 0u);
    deck_->ClearTrace();
    ASSERT_EQ(OpenDevice(), 0u);
    EXPECT_EQ(Count("DEV_TYPE_422"), 0);
  }
  code_ = 0x2025;
  TearDown();
  SetUp();
  // A bad checksum on the reply to the device-type query, the first after the
  // wake-up (the query table has the other replies not believed).
  bool injected = false;
  host_.OnYield([&](UINT) {
    if (!injected && Count("STND_BYOFF_422") == 2) {
      deck_->InjectFault({.kind = vtr::sim::FaultKind::kCorruptChecksum});
      injected = true;
    }
    return 0u;
  });
  ASSERT_EQ(OpenDevice(), 0u);
  host_.OnYield(nullptr);
  EXPECT_EQ(Record()->VTRID, 56u);
  EXPECT_EQ(profile_.ReadIni(), "");
  ASSERT_EQ(CloseDevice(), 0u);
  ASSERT_EQ(OpenDevice(), 0u);
  EXPECT_EQ(Record()->VTRID, 19u);
}

}  // namespace
}  // namespace vtr::test

// Open, close and the transport commands, through the dispatcher, against the deck.
#include <gtest/gtest.h>

#include <algorithm>

#include "link/frames.h"
#include "monitor/poll.h"
#include "platform/clock.h"
#include "platform/serial_ports.h"
#include "tests/support/driver_fixture.h"

namespace vtr::test {
namespace {

constexpr DWORD_PTR kCallback = 0x77;
using Bytes = std::vector<std::uint8_t>;

class TransportTest : public DriverFixture {
 protected:
  void SetUp() override {
    DriverFixture::SetUp();
    ResetCommandTable();
  }
  // The block sent for `name` (the last one), without its checksum.
  Bytes Last(const std::string& name) const {
    const auto blocks = SentBlocks(name);
    if (blocks.empty()) return {};
    Bytes b = blocks.back();
    b.pop_back();
    return b;
  }
  // The names sent, without the queries of waits and polls.
  std::vector<std::string> Commands() const {
    std::vector<std::string> out;
    for (auto& n : SentNames()) {
      if (n != "CURTCSENSE_422" && n != "STATSENSE_422" && n != "TMODESENSE_422") out.push_back(n);
    }
    return out;
  }
  DWORD Play(DWORD flags, DWORD from = 0, DWORD to = 0) {
    VTR_PLAY_PARMS p{kCallback, from, to, 0};
    return Send(MCI_PLAY, flags, &p);
  }
};

TEST_F(TransportTest, OpenWakesTheMachineAndCloseStopsIt) {
  ASSERT_EQ(OpenDevice(), 0u);
  const auto names = Commands();
  const std::vector<std::string> wake = {"STOP_422", "STOP_422",       "STND_BYOFF_422",
                                         "STOP_422", "STND_BYOFF_422", "ISZDKR_422"};
  EXPECT_EQ(names, wake);
  EXPECT_EQ(Record()->nOpenCount, 1u);
  EXPECT_EQ(Record()->dwSpeed, 1000u);
  EXPECT_EQ(Record()->bIsZDKR, 0);
  EXPECT_EQ(Record()->HasTC, 1u);
  deck_->ClearTrace();
  ASSERT_EQ(CloseDevice(), 0u);
  EXPECT_EQ(Commands(), std::vector<std::string>{"STOP_422"});
  EXPECT_EQ(Record()->nOpenCount, 0u);
  EXPECT_FALSE(PortIsOpen(Record()));
}

TEST_F(TransportTest, TwoShareableOpensShareOnePort) {
  ASSERT_EQ(OpenDevice(MCI_OPEN_SHAREABLE), 0u);
  deck_->ClearTrace();
  ASSERT_EQ(OpenDevice(MCI_OPEN_SHAREABLE), 0u);
  EXPECT_TRUE(deck_->Trace().empty());
  EXPECT_EQ(Record()->nOpenCount, 2u);
  ASSERT_EQ(CloseDevice(), 0u);
  EXPECT_TRUE(deck_->Trace().empty());
  EXPECT_TRUE(PortIsOpen(Record()));
  ASSERT_EQ(CloseDevice(), 0u);
  EXPECT_EQ(Commands(), std::vector<std::string>{"STOP_422"});
  EXPECT_FALSE(PortIsOpen(Record()));
  // A closed record does not count a shareable open: it opens the port again.
  deck_->ClearTrace();
  ASSERT_EQ(OpenDevice(MCI_OPEN_SHAREABLE), 0u);
  EXPECT_FALSE(deck_->Trace().empty());
}

TEST_F(TransportTest, SecondFullOpenLeavesTheFirstPortAlone) {
  ASSERT_EQ(OpenDevice(), 0u);
  HANDLE first = Record()->hComm;
  EXPECT_EQ(OpenDevice(), MCIERR_HARDWARE);
  EXPECT_EQ(Record()->hComm, first);
  EXPECT_EQ(Record()->nOpenCount, 1u);
}

TEST_F(TransportTest, OpenWithoutAMachineFailsAndALaterOpenRetries) {
  deck_->InjectFault({.kind = vtr::sim::FaultKind::kSilence, .times = vtr::sim::Fault::kAlways});
  VTR_GENERIC_PARMS p{kCallback};
  DriverOpen(u"videotape", 1, 101);
  const auto start = vtr::platform::Now();
  EXPECT_EQ(Send(MCI_OPEN_DRIVER, MCI_NOTIFY, &p), MCIERR_HARDWARE);
  const auto spent = vtr::platform::Now() - start;
  EXPECT_GE(spent, vtr::platform::Micros{500000});
  EXPECT_LT(spent, vtr::platform::Micros{800000});
  EXPECT_EQ(Commands(), (std::vector<std::string>{"STOP_422", "STOP_422"}));
  EXPECT_TRUE(host_.Notifications().empty());
  EXPECT_EQ(Record()->nOpenCount, 0u);
  deck_->ClearFaults();
  deck_->ClearTrace();
  EXPECT_EQ(Send(MCI_OPEN_DRIVER, 0, &p), 0u);
}

TEST_F(TransportTest, PortsThatCannotBeOpenedFailWith262) {
  DriverOpen(u"videotape", 1, 101);
  VTR_GENERIC_PARMS p{0};
  for (WORD port : {WORD{0}, WORD{99}, WORD{200}, WORD{7}}) {
    Record()->ComPort = port;
    EXPECT_EQ(Send(MCI_OPEN_DRIVER, 0, &p), MCIERR_HARDWARE) << port;
    EXPECT_EQ(Record()->nOpenCount, 0u);
  }
}

class DetectTest : public TransportTest {
 protected:
  std::string InitialProfile() override { return ""; }
};

TEST_F(DetectTest, FirstOpenDetectsAndSavesTheModelOnce) {
  ASSERT_EQ(OpenDevice(), 0u);
  EXPECT_EQ(Record()->VTRID, 19u);
  EXPECT_NE(profile_.ReadIni().find("VTRName=Sony BVW-75"), std::string::npos);
  EXPECT_EQ(SentBlocks("DEV_TYPE_422").size(), 1u);
  ASSERT_EQ(CloseDevice(), 0u);
  deck_->ClearTrace();
  ASSERT_EQ(OpenDevice(), 0u);
  EXPECT_TRUE(SentBlocks("DEV_TYPE_422").empty());
}

// A device-type reply that is not believed (one glitch on the line) saves
// nothing: the open runs on the generic settings and the next open detects.
TEST_F(DetectTest, GlitchDuringDetectionSavesNothingAndTheNextOpenDetects) {
  const vtr::sim::Fault glitches[] = {
      {.kind = vtr::sim::FaultKind::kCorruptChecksum},
      {.kind = vtr::sim::FaultKind::kDropByte, .byte_index = 3},
      {.kind = vtr::sim::FaultKind::kSilence},
      {.kind = vtr::sim::FaultKind::kWrongReply},
  };
  for (const auto& glitch : glitches) {
    TearDown();
    SetUp();
    // The glitch hits the reply to the device-type query, the first after the wake-up.
    bool injected = false;
    host_.OnYield([&](UINT) {
      const auto names = SentNames();
      if (!injected && std::count(names.begin(), names.end(), "STND_BYOFF_422") == 2) {
        deck_->InjectFault(glitch);
        injected = true;
      }
      return 0u;
    });
    ASSERT_EQ(OpenDevice(), 0u);
    host_.OnYield(nullptr);
    EXPECT_TRUE(injected);
    EXPECT_EQ(Record()->VTRID, 56u);
    EXPECT_EQ(profile_.ReadIni(), "");
    ASSERT_EQ(CloseDevice(), 0u);
    ASSERT_EQ(OpenDevice(), 0u);
    EXPECT_EQ(Record()->VTRID, 19u);
    EXPECT_NE(profile_.ReadIni().find("VTRName=Sony BVW-75"), std::string::npos);
  }
}

TEST_F(TransportTest, PlaySpeedsAndDirections) {
  OpenQuietly();
  struct Case {
    DWORD speed;
    DWORD flags;
    const char* frame;
    Bytes bytes;
  } cases[] = {
      {2000, 0, "SHTL_FWD_422", {0x21, 0x13, 0x79}},
      {2000, 0x10000, "SHTL_REV_422", {0x21, 0x23, 0x79}},
      {1000, 0, "PLAY_422", {0x20, 0x01}},
      {1000, 0x10000, "SHTL_REV_422", {0x21, 0x23, 0x40}},
      {950, 0, "SHTL_FWD_422", {0x21, 0x13, 0x36}},
      {100, 0x10000, "SHTL_FWD_422", {0x21, 0x13, 0x05}},
  };
  for (const auto& c : cases) {
    Record()->dwSpeed = c.speed;
    deck_->ClearTrace();
    host_.ClearNotifications();
    EXPECT_EQ(Play(c.flags | MCI_NOTIFY), 0u);
    EXPECT_EQ(Commands().back(), c.frame) << c.speed;
    EXPECT_EQ(Last(c.frame), c.bytes) << c.speed;
    EXPECT_EQ(host_.Notifications().size(), 1u) << c.speed;  // notified at any speed
  }
  // The shuttle puts its byte back; scan leaves 0x66 in the entry.
  EXPECT_EQ(SHTL_FWD_422[3], 0x60);
  Play(0x40000);
  EXPECT_EQ(Last("SHTL_FWD_422"), (Bytes{0x21, 0x13, 0x66}));
  EXPECT_EQ(SHTL_FWD_422[3], 0x66);
}

TEST_F(TransportTest, FastForwardDependsOnTheMode) {
  OpenQuietly();
  VTR_GENERIC_PARMS p{0};
  // From stop: fast forward.
  ASSERT_EQ(Send(0x0C80, 0, &p), 0u);
  EXPECT_EQ(Commands().back(), "FAST_FWD_422");
  // While playing: shuttle forward with the stored byte.
  Send(MCI_STOP, 0, &p);
  Play(0);
  Run(400);
  deck_->ClearTrace();
  ASSERT_EQ(Send(0x0C80, 0, &p), 0u);
  EXPECT_EQ(Commands().back(), "SHTL_FWD_422");
  EXPECT_EQ(Last("SHTL_FWD_422"), (Bytes{0x21, 0x13, 0x60}));
  // While shuttling forward: fast forward.
  Run(400);
  deck_->ClearTrace();
  ASSERT_EQ(Send(0x0C80, 0, &p), 0u);
  EXPECT_EQ(Commands().back(), "FAST_FWD_422");
  // Rewind from stop.
  Send(MCI_STOP, 0, &p);
  Run(400);
  ASSERT_EQ(Send(0x0C81, 0, &p), 0u);
  EXPECT_EQ(Commands().back(), "FAST_REV_422");
}

TEST_F(TransportTest, ShuttleClampsAndRestoresTheSpeedByte) {
  OpenQuietly();
  VTR_SHUTTLE_PARMS p{0, 40};
  ASSERT_EQ(Send(0x0C82, 0x10000, &p), 0u);
  EXPECT_EQ(Last("SHTL_FWD_422"), (Bytes{0x21, 0x13, 0x83}));
  EXPECT_EQ(p.dwFactor, 15u);
  p.dwFactor = static_cast<DWORD>(-3);
  ASSERT_EQ(Send(0x0C82, 0x10000, &p), 0u);
  EXPECT_EQ(Last("SHTL_REV_422"), (Bytes{0x21, 0x23, 0x19}));
  EXPECT_EQ(SHTL_REV_422[3], 0x60);
  EXPECT_EQ(Send(0x0C82, 0, &p), MCIERR_MISSING_PARAMETER);
  // A shuttle reports success even when the machine refuses it.
  deck_->InjectFault({.kind = vtr::sim::FaultKind::kNak});
  EXPECT_EQ(Send(0x0C82, 0x10000, &p), 0u);
}

TEST_F(TransportTest, StepByFramesCuesAndPlainStepSteps) {
  OpenQuietly();
  deck_->SetPosition(1000);
  VTR_STEP_PARMS p{0, 5};
  ASSERT_EQ(Send(MCI_STEP, 0x10000, &p), 0u);
  // 1005 frames at 30 non-drop: 00:00:33:15
  EXPECT_EQ(Last("CUE_DATA_422"), (Bytes{0x24, 0x31, 0x15, 0x33, 0x00, 0x00}));
  deck_->ClearTrace();
  ASSERT_EQ(Send(MCI_STEP, 0, &p), 0u);
  EXPECT_EQ(Commands(), (std::vector<std::string>{"PAUSE_422", "STEP_FWD_422"}));
  deck_->ClearTrace();
  ASSERT_EQ(Send(MCI_STEP, 0x20000, &p), 0u);
  EXPECT_EQ(Commands().back(), "STEP_REV_422");
}

TEST_F(TransportTest, SeekForms) {
  OpenQuietly();
  VTR_SEEK_PARMS p{kCallback, 300, 0, 0};
  // Only "reverse": nothing usable.
  EXPECT_EQ(Send(MCI_SEEK, 0x10000 | MCI_NOTIFY, &p), MCIERR_UNSUPPORTED_FUNCTION);
  EXPECT_EQ(host_.Notifications().back().status, MCI_NOTIFY_FAILURE);
  // To a position: a background cue, notified by the poll on arrival.
  host_.ClearNotifications();
  ASSERT_EQ(Send(MCI_SEEK, MCI_TO | MCI_NOTIFY, &p), 0u);
  EXPECT_EQ(Last("CUE_DATA_422"), (Bytes{0x24, 0x31, 0x00, 0x10, 0x00, 0x00}));
  for (int i = 0; i < 100 && host_.Notifications().empty(); ++i) Run(133);
  EXPECT_EQ(host_.Notifications().back().status, MCI_NOTIFY_SUCCESSFUL);
  EXPECT_EQ(deck_->State().position, 300u);
}

TEST_F(TransportTest, CueBeforeTheTapeStartFailsWith270) {
  OpenQuietly();
  Record()->dwInPoint = 250;
  VTR_CUE_PARMS p{kCallback, 0, 0};
  EXPECT_EQ(Send(MCI_CUE, MCI_NOTIFY, &p), MCIERR_BAD_INTEGER);
  EXPECT_EQ(host_.Notifications().back().status, MCI_NOTIFY_FAILURE);
  EXPECT_TRUE(Commands().empty());
  // With the record pre-roll it fits, and the arrival there is a success.
  Record()->fUseRecPreRoll = 1;
  host_.ClearNotifications();
  EXPECT_EQ(Send(MCI_CUE, MCI_NOTIFY, &p), 0u);
  EXPECT_EQ(Last("CUE_DATA_422"), (Bytes{0x24, 0x31, 0x10, 0x04, 0x00, 0x00}));  // 130 frames
  for (int i = 0; i < 100 && host_.Notifications().empty(); ++i) Run(133);
  EXPECT_EQ(host_.Notifications().back().status, MCI_NOTIFY_SUCCESSFUL);
}

TEST_F(TransportTest, PauseFreezeAndUnfreezeAllStill) {
  OpenQuietly();
  VTR_GENERIC_PARMS p{0};
  for (UINT msg : {MCI_PAUSE, MCI_FREEZE, MCI_UNFREEZE}) {
    deck_->ClearTrace();
    ASSERT_EQ(Send(msg, 0, &p), 0u);
    EXPECT_EQ(Commands(), std::vector<std::string>{"PAUSE_422"});
  }
}

}  // namespace
}  // namespace vtr::test

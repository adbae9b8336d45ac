// Injected faults: what the controller sees on the line.
#include "tests/sim/deck_test_util.h"

namespace vtr::sim::testing {
namespace {

const Bytes kDevType = WithSum({0x12, 0x11, 0x20, 0x25});

// Each fault changes the next reply only.
TEST_F(DeckTest, FaultsChangeTheNextReplyOnly) {
  struct {
    const char* what;
    Fault fault;
    Bytes reply_to_device_type;
  } const cases[] = {
      // clang-format off
      {"silence", Fault{.kind = FaultKind::kSilence}, {}},
      {"NAK", Fault{.kind = FaultKind::kNak, .nak_bits = 0x10}, NakOf(0x10)},
      {"corrupt checksum", Fault{.kind = FaultKind::kCorruptChecksum}, {0x12, 0x11, 0x20, 0x25, 0x69}},
      {"dropped byte", Fault{.kind = FaultKind::kDropByte, .byte_index = 2}, {0x12, 0x11, 0x25, 0x68}},
      {"noise", Fault{.kind = FaultKind::kNoise, .noise = {0xFF, 0x00}},
       {0xFF, 0x00, 0x12, 0x11, 0x20, 0x25, 0x68}},
      {"wrong reply", Fault{.kind = FaultKind::kWrongReply}, kAck},
      // clang-format on
  };
  for (const auto& f : cases) {
    SCOPED_TRACE(f.what);
    Make();
    Send({0x20, 0x00});  // a previous reply, for the wrong-reply fault
    deck().InjectFault(f.fault);
    EXPECT_EQ(Send({0x00, 0x11}, milliseconds(50)), f.reply_to_device_type);
    EXPECT_EQ(Send({0x00, 0x11}), kDevType) << "only once";
  }
}

TEST_F(DeckTest, DelayedByteComesLate) {
  deck().InjectFault(
      Fault{.kind = FaultKind::kDelayByte, .byte_index = 3, .delay = milliseconds(30)});
  EXPECT_EQ(Send({0x00, 0x11}), (Bytes{0x12, 0x11, 0x20}));
  Wait(milliseconds(30));
  EXPECT_EQ(Drain(), (Bytes{0x25, 0x68}));
}

TEST_F(DeckTest, FaultsCountDownAndPersistUntilCleared) {
  deck().InjectFault(Fault{.kind = FaultKind::kSilence, .times = 2});
  deck().InjectFault(Fault{.kind = FaultKind::kNak, .times = Fault::kAlways, .nak_bits = 0x20});
  EXPECT_EQ(Send({0x20, 0x00}), Bytes{});
  EXPECT_EQ(Send({0x20, 0x00}), Bytes{});
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Send({0x20, 0x00}), NakOf(0x20));
  deck().ClearFaults();
  EXPECT_EQ(Send({0x20, 0x00}), kAck);
}

TEST_F(DeckTest, SilencedCommandStillActs) {
  deck().InjectFault(Fault{.kind = FaultKind::kSilence});
  EXPECT_EQ(Send({0x20, 0x01}), Bytes{});
  EXPECT_EQ(deck().State().mode, TransportMode::kPlay);
}

TEST_F(DeckTest, VanishedPortNeitherTakesNorGives) {
  deck().Receive(WithSum({0x20, 0x01}));
  deck().SetConnected(false);
  EXPECT_FALSE(deck().Connected());
  platform::Pass(milliseconds(10));
  EXPECT_EQ(deck().NextArrival(), std::nullopt);
  EXPECT_EQ(Send({0x20, 0x00}), Bytes{});
  deck().SetConnected(true);
  EXPECT_EQ(Send({0x20, 0x00}), kAck);
}

TEST_F(DeckTest, TraceMarksInjectedFaults) {
  deck().InjectFault(Fault{.kind = FaultKind::kCorruptChecksum});
  Send({0x20, 0x00});
  EXPECT_EQ(deck().Trace().back().name, "ACK [bad checksum]");
}

}  // namespace
}  // namespace vtr::sim::testing

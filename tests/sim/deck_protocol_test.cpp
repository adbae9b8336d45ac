// Block handling and the reply forms of the virtual deck.
#include <thread>

#include "tests/sim/deck_test_util.h"

namespace vtr::sim::testing {
namespace {

struct ReplyCase {
  const char* what;
  DeckConfig config;
  Bytes command;  // checksum appended
  Bytes reply;    // checksum appended unless it is the ACK
};

DeckConfig With(DeckConfig c, void (*edit)(DeckConfig&)) {
  edit(c);
  return c;
}

class ReplyForms : public DeckTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyForms, AnswersWithTheExpectedBlock) {
  const ReplyCase& c = GetParam();
  Make(c.config);
  const Bytes want = c.reply == kAck ? kAck : WithSum(c.reply);
  EXPECT_EQ(Send(c.command), want) << c.what;
}

const DeckConfig kBvw75 = DeckConfig::ForModel(19);
const DeckConfig kZdkr = DeckConfig::ForModel(0);
const DeckConfig kVdr = DeckConfig::ForModel(45);

INSTANTIATE_TEST_SUITE_P(
    Deck, ReplyForms,
    ::testing::Values(
        ReplyCase{"stop is acknowledged", kBvw75, {0x20, 0x00}, kAck},
        ReplyCase{"unknown command", kBvw75, {0x20, 0x7F}, {0x11, 0x12, 0x01}},
        ReplyCase{"known code, wrong data count", kBvw75, {0x21, 0x01, 0x00}, {0x11, 0x12, 0x01}},
        ReplyCase{"device type", kBvw75, {0x00, 0x11}, {0x12, 0x11, 0x20, 0x25}},
        ReplyCase{"PAL device type variant",
                  With(kBvw75, [](DeckConfig& c) { c.standard = VideoStandard::kPal; }),
                  {0x00, 0x11},
                  {0x12, 0x11, 0x21, 0x25}},
        ReplyCase{"raw device type",
                  With(kBvw75, [](DeckConfig& c) { c.device_type = 0x1234; }),
                  {0x00, 0x11},
                  {0x12, 0x11, 0x12, 0x34}},
        ReplyCase{"status sense, stopped",
                  kBvw75,
                  {0x61, 0x20, 0x08},
                  {0x78, 0x20, 0x00, 0xA0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        ReplyCase{"status sense from byte 1, two bytes",
                  kBvw75,
                  {0x61, 0x20, 0x12},
                  {0x72, 0x20, 0xA0, 0x00}},
        ReplyCase{"status sense past byte 15", kBvw75, {0x61, 0x20, 0xF2}, {0x11, 0x12, 0x01}},
        ReplyCase{"timer mode, timecode", kBvw75, {0x60, 0x36}, {0x71, 0x36, 0x00}},
        ReplyCase{"timer mode without timecode",
                  With(kBvw75, [](DeckConfig& c) { c.has_timecode = false; }),
                  {0x60, 0x36},
                  {0x71, 0x36, 0x01}},
        ReplyCase{"ZDKR check on a ZDKR machine", kZdkr, {0xE0, 0xFF}, kAck},
        ReplyCase{"ZDKR check elsewhere", kBvw75, {0xE0, 0xFF}, {0x11, 0x12, 0x01}},
        ReplyCase{"ZDKR get, initial value", kZdkr, {0xC0, 0x1B}, {0x81, 0x1B, 0x32}},
        ReplyCase{"ZDKR get audio level", kZdkr, {0xC1, 0x93, 0x02}, {0x81, 0x93, 0x7F}},
        ReplyCase{"ZDKR get on a plain VTR", kBvw75, {0xC0, 0x55}, {0x11, 0x12, 0x01}},
        ReplyCase{"ZDKR get of a write-only setting", kZdkr, {0xC0, 0x11}, {0x11, 0x12, 0x01}},
        ReplyCase{"ZDKR set", kZdkr, {0xC1, 0x54, 0x10}, kAck},
        ReplyCase{"VDR status, stopped", kVdr, {0xE1, 0x11, 0x02}, {0xF2, 0x11, 0x01, 0x01}},
        ReplyCase{"VDR status on a plain VTR", kBvw75, {0xE1, 0x11, 0x02}, {0x11, 0x12, 0x01}},
        ReplyCase{"cue refused without cue-up",
                  With(kBvw75, [](DeckConfig& c) { c.can_cue = false; }),
                  {0x24, 0x31, 0, 0, 0, 0},
                  {0x11, 0x12, 0x01}},
        ReplyCase{"step refused without stepping",
                  With(kBvw75, [](DeckConfig& c) { c.can_step = false; }),
                  {0x20, 0x14},
                  {0x11, 0x12, 0x01}},
        ReplyCase{"in-point sense, none set", kBvw75, {0x60, 0x10}, {0x74, 0x10, 0, 0, 0, 0}},
        ReplyCase{"timer-1 sense", kBvw75, {0x61, 0x0C, 0x04}, {0x74, 0x00, 0, 0, 0, 0}}));

TEST_F(DeckTest, BadChecksumIsRefusedWithChecksumError) {
  EXPECT_EQ(SendRaw({0x20, 0x01, 0x22}), NakOf(0x04));
  EXPECT_EQ(deck().State().mode, TransportMode::kStop);
}

TEST_F(DeckTest, BlockWhoseBytesStopComingIsDroppedWithTimeout) {
  deck().Receive(Bytes{0x20, 0x01});
  Wait(milliseconds(9));
  EXPECT_EQ(deck().NextArrival(), platform::Now() + milliseconds(1));
  EXPECT_TRUE(Drain().empty());
  Wait(milliseconds(2));
  EXPECT_EQ(Drain(), NakOf(0x80));
  // The next block starts afresh.
  EXPECT_EQ(Send({0x20, 0x01}), kAck);
}

TEST_F(DeckTest, BytesWithinTheTimeoutFormOneBlock) {
  deck().Receive(Bytes{0x20});
  Wait(milliseconds(9));
  deck().Receive(Bytes{0x01});
  Wait(milliseconds(9));
  EXPECT_EQ(SendRaw({0x21}), kAck);
}

TEST_F(DeckTest, ReplyComesAfterTheLatency) {
  DeckConfig c;
  c.latency = milliseconds(7);
  Make(c);
  const Micros sent = platform::Now();
  deck().Receive(WithSum({0x20, 0x00}));
  EXPECT_EQ(deck().NextArrival(), sent + milliseconds(7));
  Wait(Micros{6999});
  EXPECT_TRUE(Drain().empty());
  Wait(Micros{1});
  EXPECT_EQ(Drain(), kAck);
  EXPECT_EQ(deck().NextArrival(), std::nullopt);
}

TEST_F(DeckTest, LinePacingSpacesTheBytes) {
  DeckConfig c;
  c.line_pacing = true;
  Make(c);
  const Micros sent = platform::Now();
  deck().Receive(WithSum({0x20, 0x00}));
  // Three bytes in at 286.5 us each, 2 ms latency, then one byte out.
  EXPECT_EQ(deck().NextArrival(), sent + Micros{859 + 2000 + 286});
  Wait(Micros{859 + 2000 + 3 * 287});
  EXPECT_EQ(Drain(), kAck);
}

TEST_F(DeckTest, DiscardDropsOnlyWhatHasArrived) {
  deck().Receive(WithSum({0x20, 0x00}));
  Wait(milliseconds(5));
  deck().Receive(WithSum({0x00, 0x11}));
  deck().DiscardArrived();
  Wait(milliseconds(5));
  EXPECT_EQ(Drain(), WithSum({0x12, 0x11, 0x20, 0x25}));
}

struct TimeCase {
  const char* what;
  VideoStandard standard;
  bool has_vitc;
  bool still;
  std::uint32_t start_tc;
  std::uint32_t position;
  std::uint8_t source;
  Bytes reply;
};

class TimeSense : public DeckTest, public ::testing::WithParamInterface<TimeCase> {};

TEST_P(TimeSense, ReportsTheTrackAndItsTimecode) {
  const TimeCase& t = GetParam();
  DeckConfig c;
  c.standard = t.standard;
  c.has_vitc = t.has_vitc;
  c.start_timecode = t.start_tc;
  c.position = t.position;
  c.tape_frames = 4000000;
  Make(c);
  Send({0x44, 0x05, 0x12, 0x34, 0x56, 0x78});  // user bits
  Send({0x20, 0x01});                          // play
  if (t.still) Send({0x21, 0x13, 0x00});
  deck().SetPosition(t.position);
  EXPECT_EQ(Send({0x61, 0x0C, t.source}), WithSum(t.reply)) << t.what;
}

INSTANTIATE_TEST_SUITE_P(Deck, TimeSense,
                         ::testing::Values(TimeCase{"LTC",
                                                    VideoStandard::kNtsc,
                                                    true,
                                                    false,
                                                    0,
                                                    1079115,
                                                    0x01,
                                                    {0x74, 0x04, 0x15, 0x30, 0x59, 0x09}},
                                           TimeCase{"LTC from a start timecode",
                                                    VideoStandard::kNtsc,
                                                    true,
                                                    false,
                                                    108000,
                                                    30,
                                                    0x01,
                                                    {0x74, 0x04, 0x00, 0x01, 0x00, 0x01}},
                                           TimeCase{"drop-frame flag",
                                                    VideoStandard::kNtscDropFrame,
                                                    true,
                                                    false,
                                                    0,
                                                    1800,
                                                    0x01,
                                                    {0x74, 0x04, 0x42, 0x00, 0x01, 0x00}},
                                           TimeCase{"drop-frame ten minutes",
                                                    VideoStandard::kNtscDropFrame,
                                                    true,
                                                    false,
                                                    0,
                                                    17982,
                                                    0x01,
                                                    {0x74, 0x04, 0x40, 0x00, 0x10, 0x00}},
                                           TimeCase{"PAL hour",
                                                    VideoStandard::kPal,
                                                    true,
                                                    false,
                                                    0,
                                                    90000,
                                                    0x01,
                                                    {0x74, 0x04, 0x00, 0x00, 0x00, 0x01}},
                                           TimeCase{"VITC",
                                                    VideoStandard::kNtsc,
                                                    true,
                                                    true,
                                                    0,
                                                    31,
                                                    0x02,
                                                    {0x74, 0x06, 0x01, 0x01, 0x00, 0x00}},
                                           TimeCase{"either, playing: LTC",
                                                    VideoStandard::kNtsc,
                                                    true,
                                                    false,
                                                    0,
                                                    31,
                                                    0x03,
                                                    {0x74, 0x04, 0x01, 0x01, 0x00, 0x00}},
                                           TimeCase{"either, still: VITC",
                                                    VideoStandard::kNtsc,
                                                    true,
                                                    true,
                                                    0,
                                                    31,
                                                    0x03,
                                                    {0x74, 0x06, 0x01, 0x01, 0x00, 0x00}},
                                           TimeCase{"either, still, no VITC",
                                                    VideoStandard::kNtsc,
                                                    false,
                                                    true,
                                                    0,
                                                    31,
                                                    0x03,
                                                    {0x74, 0x04, 0x01, 0x01, 0x00, 0x00}},
                                           TimeCase{"timer-1",
                                                    VideoStandard::kNtsc,
                                                    true,
                                                    false,
                                                    108000,
                                                    31,
                                                    0x04,
                                                    {0x74, 0x00, 0x01, 0x01, 0x00, 0x00}},
                                           TimeCase{"LTC user bits",
                                                    VideoStandard::kNtsc,
                                                    true,
                                                    false,
                                                    0,
                                                    0,
                                                    0x10,
                                                    {0x74, 0x05, 0x12, 0x34, 0x56, 0x78}},
                                           TimeCase{"VITC user bits",
                                                    VideoStandard::kNtsc,
                                                    true,
                                                    false,
                                                    0,
                                                    0,
                                                    0x20,
                                                    {0x74, 0x07, 0x12, 0x34, 0x56, 0x78}},
                                           TimeCase{"either user bits, still",
                                                    VideoStandard::kNtsc,
                                                    true,
                                                    true,
                                                    0,
                                                    0,
                                                    0x30,
                                                    {0x74, 0x07, 0x12, 0x34, 0x56, 0x78}}));

TEST_F(DeckTest, WithoutTimecodeLtcQueriesAnswerTimer1) {
  DeckConfig c;
  c.has_timecode = false;
  c.start_timecode = 108000;
  c.position = 30;
  Make(c);
  EXPECT_EQ(Send({0x61, 0x0C, 0x03}), WithSum({0x74, 0x00, 0x00, 0x01, 0x00, 0x00}));
}

TEST_F(DeckTest, Timer1PresetSetsTheCounterWhichThenRuns) {
  Make();
  EXPECT_EQ(Send({0x44, 0x00, 0x00, 0x00, 0x10, 0x00}), kAck);  // 00:10:00:00
  EXPECT_EQ(Send({0x61, 0x0C, 0x04}), WithSum({0x74, 0x00, 0x00, 0x00, 0x10, 0x00}));
  Send({0x20, 0x01});
  Wait(seconds(10));
  // 10.02 s of play: 300 frames.
  EXPECT_EQ(Send({0x61, 0x0C, 0x04}), WithSum({0x74, 0x00, 0x00, 0x10, 0x10, 0x00}));
  Send({0x20, 0x00});
  EXPECT_EQ(Send({0x40, 0x08}), kAck);
  EXPECT_EQ(Send({0x61, 0x0C, 0x04}), WithSum({0x74, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(DeckTest, ZdkrSettingsAreStoredAndReadBack) {
  Make(DeckConfig::ForModel(47));
  EXPECT_EQ(Send({0xC1, 0x54, 0x42}), kAck);  // hue
  EXPECT_EQ(Send({0xC0, 0x55}), WithSum({0x81, 0x55, 0x42}));
  EXPECT_EQ(Send({0xC2, 0x9C, 0x02, 0x33}), kAck);  // audio out level, channel 2
  EXPECT_EQ(Send({0xC1, 0x9D, 0x02}), WithSum({0x81, 0x9D, 0x33}));
  EXPECT_EQ(Send({0xC1, 0x9D, 0x01}), WithSum({0x81, 0x9D, 0x7F}));
  EXPECT_EQ(deck().ZdkrValue(0x54), 0x42);
}

TEST_F(DeckTest, VdrCommandsDriveTheVdrStatus) {
  Make(DeckConfig::ForModel(46));
  EXPECT_EQ(Send({0xE0, 0x2A}), kAck);
  EXPECT_EQ(Send({0xE0, 0x15}), kAck);
  EXPECT_EQ(deck().State().mode, TransportMode::kPlay);
  // Next command ready, dual play, still ready.
  EXPECT_EQ(Send({0xE1, 0x11, 0x02}), WithSum({0xF2, 0x11, 0x81, 0x02}));
  EXPECT_EQ(Send({0x40, 0x41}), kAck);
  EXPECT_TRUE(StatusBit(3, 7));  // auto mode
}

TEST_F(DeckTest, TraceNamesEveryBlockInBothDirections) {
  Make();
  Send({0x21, 0x13, 0x00});
  Send({0x21, 0x13, 0x40});
  Send({0x61, 0x20, 0x08});
  Send({0x61, 0x0C, 0x30});
  SendRaw({0x20, 0x01, 0x00});
  Send({0x00, 0x11});
  Send({0x60, 0x36});
  std::vector<std::string> names;
  for (const TraceEntry& e : deck().Trace()) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"PAUSE_422", "ACK", "SHTL_FWD_422", "ACK",
                                             "STATSENSE_422", "STATUS_DATA", "CURUBSENSE_422",
                                             "USER_BITS_DATA", "PLAY_422 (bad checksum)",
                                             "NAK (checksum error)", "DEV_TYPE_422", "DEVICE_TYPE",
                                             "TMODESENSE_422", "TIMER_MODE_DATA"}));
  const auto trace = deck().Trace();
  EXPECT_EQ(trace[1].direction, Direction::kFromDeck);
  EXPECT_EQ(trace[1].time - trace[0].time, milliseconds(2));
  EXPECT_NE(FormatTraceEntry(trace[0]).find("-> deck  21 13 00 34  PAUSE_422"), std::string::npos);
  deck().ClearTrace();
  EXPECT_TRUE(deck().Trace().empty());
}

TEST_F(DeckTest, InspectionFromAnotherThreadIsSafe) {
  Make();
  std::thread reader([&] {
    for (int i = 0; i < 200; ++i) {
      (void)deck().State();
      (void)deck().Trace();
      (void)deck().StatusBytes();
    }
  });
  for (int i = 0; i < 200; ++i) {
    deck().Receive(WithSum({0x61, 0x20, 0x08}));
    platform::Pass(milliseconds(3));
    Drain();
  }
  reader.join();
  EXPECT_EQ(deck().Trace().size(), 400u);
}

}  // namespace
}  // namespace vtr::sim::testing

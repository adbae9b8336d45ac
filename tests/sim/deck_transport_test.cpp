// The deck's transport on the virtual clock: speeds, cue-up, tape ends, edits.
#include <cmath>

#include "sim/timecode.h"
#include "tests/sim/deck_test_util.h"

namespace vtr::sim::testing {
namespace {

constexpr double kNtscFps = 30000.0 / 1001.0;

TEST_F(DeckTest, MotionMovesAtItsSpeedAndShowsIt) {
  constexpr auto Sh = TransportMode::kShuttle;
  struct {
    const char* what;
    Bytes command;  // checksum appended
    TransportMode mode;
    double speed;                 // times play, signed
    int status_byte, status_bit;  // the bit the status shows
  } const cases[] = {
      {"play", {0x20, 0x01}, TransportMode::kPlay, 1.0, 1, 0},
      {"record", {0x20, 0x02}, TransportMode::kRecord, 1.0, 1, 1},
      {"fast forward", {0x20, 0x10}, TransportMode::kFastForward, 30.0, 1, 2},
      {"rewind", {0x20, 0x20}, TransportMode::kRewind, -30.0, 1, 3},
      {"still", {0x21, 0x13, 0x00}, TransportMode::kStill, 0.0, 2, 1},
      {"shuttle 1x", {0x21, 0x13, 0x40}, Sh, 1.0, 2, 5},
      {"shuttle 48.7x", {0x21, 0x13, 118}, Sh, 48.7, 2, 5},
      {"shuttle reverse 0.1x", {0x21, 0x23, 32}, Sh, -0.1, 2, 5},
      {"jog reverse", {0x21, 0x21, 0x40}, TransportMode::kJog, -1.0, 2, 4},
      {"var forward, limited", {0x21, 0x12, 0x60}, TransportMode::kVar, 3.0, 2, 3},
      {"shuttle, two speed bytes", {0x22, 0x13, 0x40, 0x80}, Sh, 1.037, 2, 5},
  };
  for (const auto& m : cases) {
    SCOPED_TRACE(m.what);
    DeckConfig c;
    c.position = 20000;
    c.tape_frames = 100000;
    Make(c);
    const Micros start = platform::Now();
    ASSERT_EQ(Send(m.command), kAck);
    Wait(seconds(2));
    const DeckState s = deck().State();
    EXPECT_EQ(s.mode, m.mode);
    EXPECT_NEAR(s.speed, m.speed, 0.01 * std::max(std::abs(m.speed), 1.0));
    const double secs = static_cast<double>((platform::Now() - start).count()) / 1e6;
    EXPECT_NEAR(static_cast<double>(s.position) - 20000.0, m.speed * secs * kNtscFps, 1.5);
    const Bytes st = Status();
    EXPECT_TRUE((st[static_cast<std::size_t>(m.status_byte)] >> m.status_bit) & 1);
    EXPECT_EQ(((st[2] >> 2) & 1) != 0, m.speed < 0);  // direction bit
  }
}

TEST_F(DeckTest, CueUpSettlesExactlyOnTheTargetAndRaisesCueUpComplete) {
  const Bytes cueTo1000{0x24, 0x31, 0x10, 0x33, 0x00, 0x00};
  // Preroll time 3 s, in point 00:02:00:00 (frame 3600), preroll.
  const std::vector<Bytes> preroll{
      {0x44, 0x31, 0x00, 0x03, 0x00, 0x00}, {0x44, 0x14, 0x00, 0x00, 0x02, 0x00}, {0x20, 0x30}};
  struct {
    const char* what;
    std::uint32_t from;
    std::vector<Bytes> commands;  // the last one starts the move
    std::uint32_t target;
  } const cases[] = {
      {"forward", 0, {{0x24, 0x31, 0x00, 0x00, 0x10, 0x00}}, 18000},
      {"reverse", 50000, {{0x24, 0x31, 0x15, 0x30, 0x02, 0x00}}, 4515},
      {"short hop", 900, {cueTo1000}, 1000},
      {"where it is", 1000, {cueTo1000}, 1000},
      {"preroll: 3 s before the in point", 0, preroll, 3600 - 90},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    DeckConfig c;
    c.position = k.from;
    c.tape_frames = 200000;
    Make(c);
    for (const Bytes& command : k.commands) EXPECT_EQ(Send(command), kAck);
    Bytes st = Status();
    EXPECT_EQ((st[4] & 0x01) != 0, k.from != k.target) << "preroll bit while cueing";
    EXPECT_EQ((st[2] & 0x01) != 0, k.from == k.target);
    // Search speed most of the way, a slower approach at the end.
    const double search = std::abs(double(k.target) - double(k.from)) / (30.0 * kNtscFps);
    Micros waited{0};
    for (; !deck().State().cue_complete && waited < seconds(120); waited += milliseconds(100)) {
      Wait(milliseconds(100));
    }
    EXPECT_GE(double(waited.count()) / 1e6, search);
    EXPECT_LE(double(waited.count()) / 1e6, search + 3.0);
    EXPECT_EQ(deck().State().position, k.target);
    st = Status();
    EXPECT_EQ(st[2] & 0x03, 0x03) << "still and cue-up complete";
    EXPECT_FALSE(st[4] & 0x01) << "preroll bit off";
    Wait(seconds(5));  // it stays there
    EXPECT_EQ(deck().State().position, k.target);
    Send({0x20, 0x01});  // any motion command clears cue-up complete
    EXPECT_FALSE(StatusBit(2, 0));
  }
}

TEST_F(DeckTest, PlayStopsAtTheEndOfTape) {
  DeckConfig c;
  c.tape_frames = 10000;
  c.near_end_frames = 600;
  c.position = 9000;
  Make(c);
  EXPECT_FALSE(StatusBit(8, 5));
  Send({0x20, 0x01});
  Wait(seconds(15));
  EXPECT_TRUE(StatusBit(8, 5)) << "near end";
  EXPECT_FALSE(StatusBit(8, 4));
  Wait(seconds(30));
  EXPECT_EQ(deck().State().position, 10000u);
  const Bytes st = Status();
  EXPECT_EQ(st[1] & 0x21, 0x20) << "stopped, not playing";
  EXPECT_TRUE(st[8] & 0x10) << "end of tape";
  // Fast forward at the end goes nowhere.
  Send({0x20, 0x10});
  Wait(seconds(1));
  EXPECT_EQ(deck().State().mode, TransportMode::kStop);
  // A cue beyond the tape stops at the end without cue-up complete.
  Send({0x20, 0x20});
  Wait(seconds(1));
  Send({0x24, 0x31, 0x00, 0x00, 0x00, 0x01});
  Wait(seconds(10));
  EXPECT_EQ(deck().State().position, 10000u);
  EXPECT_EQ(deck().State().mode, TransportMode::kStop);
  EXPECT_FALSE(StatusBit(2, 0));
}

// What recordings lay down, per track: the deck's own auto edit exactly on its
// points, a controller's REC, EDIT ON and EDIT OFF the machine's edit delay (5
// frames) late. In 00:01:00:00 is frame 1800, out 00:01:10:00 2100.
TEST_F(DeckTest, RecordingsLayTheirTracksWhereTheDeckRecords) {
  const Bytes kIn{0x44, 0x14, 0x00, 0x00, 0x01, 0x00};
  const Bytes kOut{0x44, 0x15, 0x00, 0x10, 0x01, 0x00};
  const Bytes kTcPreset{0x44, 0x04, 0x00, 0x00, 0x00, 0x01};  // 01:00:00:00
  const Bytes kRecord{0x20, 0x02}, kStop{0x20, 0x00}, kAutoEdit{0x20, 0x42};
  const auto preset = [](std::uint8_t b) { return Bytes{0x41, 0x30, b}; };
  struct Step {
    Bytes command;
    Micros then;
  };
  // clang-format off
  struct {
    const char* what;
    bool inhibit;
    std::vector<Step> steps;
    const char* recorded;  // the record map as printed
  } const cases[] = {
      {"auto assemble edit lays timecode from the generator", false,
       {{preset(0x20), {}}, {kTcPreset, {}}, {kIn, {}}, {kOut, {}}, {kAutoEdit, seconds(40)}},
       "video        1800-2099    take 1 assemble\n"
       "audio 1      1800-2099    take 1 assemble\n"
       "audio 2      1800-2099    take 1 assemble\n"
       "timecode     1800-2099    take 1 assemble  01:00:00:00-01:00:09:29\n"},
      {"record lays every track until the stop; an insert replaces its frames only", false,
       {{kTcPreset, {}}, {kRecord, seconds(80)}, {kStop, {}}, {preset(0x10), {}}, {kIn, {}}, {kOut, {}},
        {kAutoEdit, seconds(40)}},
       "video           5-1799    take 1 record\n"
       "video        1800-2099    take 2 insert\n"
       "video        2100-2397    take 1 record\n"
       "audio 1         5-2397    take 1 record\n"
       "audio 2         5-2397    take 1 record\n"
       "timecode        5-2397    take 1 record  01:00:00:00-01:01:19:22\n"},
      {"edit on and off during play, each after its delay", false,
       {{preset(0x12), {}}, {{0x20, 0x01}, seconds(10)}, {{0x20, 0x65}, seconds(10)}, {{0x20, 0x64}, seconds(5)},
        {kStop, {}}},
       "video         305-604     take 1 insert\n"
       "audio 2       305-604     take 1 insert\n"},
      {"record inhibit lays nothing", true,
       {{preset(0x20), {}}, {kRecord, seconds(5)}, {kIn, {}}, {kOut, {}}, {kAutoEdit, seconds(40)}},
       "nothing recorded\n"},
  };
  // clang-format on
  for (const auto& k : cases) {
    SCOPED_TRACE(k.what);
    DeckConfig c;
    c.record_inhibit = k.inhibit;
    Make(c);
    for (const Step& st : k.steps) {
      ASSERT_EQ(Send(st.command), kAck);
      Wait(st.then);
    }
    EXPECT_EQ(FormatRecordMap(deck().Recorded(), c.standard), k.recorded);
  }
}

// An auto edit as the status shows it: cue-up to the preroll point, the roll
// to the in point, the edit between the points (with the in-out bit), the
// postroll, parked (still, a postroll after the out point 2100).
TEST_F(DeckTest, AutoEditShowsEachPhaseInTheStatus) {
  Send({0x44, 0x14, 0x00, 0x00, 0x01, 0x00});
  Send({0x44, 0x15, 0x00, 0x10, 0x01, 0x00});
  Send({0x20, 0x42});
  std::vector<std::pair<std::uint8_t, std::uint8_t>> phases;  // status bytes 4 and 7
  for (int i = 0; i < 300; ++i) {
    const auto st = deck().StatusBytes();
    if (phases.empty() || phases.back() != std::pair{st[4], st[7]})
      phases.emplace_back(st[4], st[7]);
    Wait(milliseconds(100));
  }
  EXPECT_EQ(phases, (std::vector<std::pair<std::uint8_t, std::uint8_t>>{
                        {0x05, 0}, {0x04, 0}, {0x14, 1}, {0x04, 0}, {0x00, 0}}));
  EXPECT_EQ(deck().State().mode, TransportMode::kStill);
  EXPECT_EQ(deck().State().position, 2160u);
}

TEST(Timecode, LabelsAndCountsRoundTripOnEveryStandard) {
  for (VideoStandard s :
       {VideoStandard::kNtsc, VideoStandard::kNtscDropFrame, VideoStandard::kPal}) {
    const FrameRate r = RateOf(s);
    for (std::uint32_t f = 0; f < r.per_day; f += (f < 40000 ? 1 : 997)) {
      const auto bcd = CountToBcd(f, r);
      ASSERT_EQ(BcdToCount(bcd, r), f) << static_cast<int>(s);
    }
  }
  const FrameRate df = RateOf(VideoStandard::kNtscDropFrame);
  EXPECT_EQ(CountToBcd(1799, df), (std::array<std::uint8_t, 4>{0x69, 0x59, 0x00, 0x00}));
  EXPECT_EQ(CountToBcd(107892, df, false), (std::array<std::uint8_t, 4>{0x00, 0x00, 0x00, 0x01}));
}

}  // namespace
}  // namespace vtr::sim::testing

// Block handling, the reply forms of the virtual deck, its strictness and
// injected faults.
#include "tests/sim/deck_test_util.h"

namespace vtr::sim::testing {
namespace {

TEST_F(DeckTest, AnswersEachRequestAsItsMachineDoes) {
  const DeckConfig bvw, zdkr = DeckConfig::For("ZDKR"), vdr = DeckConfig::For("VDR-1000A"),
                        player = DeckConfig::For("BVW-65"), recorder = DeckConfig::For("BVW-70"),
                        dsr60 = DeckConfig::For("DSR-60");
  const auto pal = [](DeckConfig c) {
    return With(c, [](DeckConfig& d) { d.standard = VideoStandard::kPal; });
  };
  const DeckConfig raw = With(bvw, [](DeckConfig& c) { c.device_type = 0x1234; });
  const DeckConfig noTc = With(bvw, [](DeckConfig& c) { c.has_timecode = false; });
  const DeckConfig noCue = With(bvw, [](DeckConfig& c) { c.can_cue = false; });
  const DeckConfig noStep = With(bvw, [](DeckConfig& c) { c.can_step = false; });
  const DeckConfig inhibit = With(bvw, [](DeckConfig& c) { c.record_inhibit = true; });
  const Bytes nak{0x11, 0x12, 0x01};
  struct {
    const char* what;
    DeckConfig config;
    Bytes command;  // checksum appended
    Bytes reply;    // checksum appended unless it is the ACK
  } const cases[] = {
      // clang-format off
      {"unknown command", bvw, {0x20, 0x7F}, nak},
      {"known code, wrong data count", bvw, {0x21, 0x01, 0x00}, nak},
      {"625/50 device type", pal(bvw), {0x00, 0x11}, {0x12, 0x11, 0x21, 0x25}},
      {"raw device type", raw, {0x00, 0x11}, {0x12, 0x11, 0x12, 0x34}},
      {"raw device type, 625/50", pal(raw), {0x00, 0x11}, {0x12, 0x11, 0x11, 0x34}},
      {"HyperDeck, 625/50", pal(DeckConfig::For("HyperDeck")), {0x00, 0x11}, {0x12, 0x11, 0xF1, 0xE0}},
      {"status sense, stopped", bvw, {0x61, 0x20, 0x08}, {0x78, 0x20, 0, 0xA0, 0, 0, 0, 0, 0, 0}},
      {"status sense from byte 1, two bytes", bvw, {0x61, 0x20, 0x12}, {0x72, 0x20, 0xA0, 0x00}},
      {"status sense past byte 15", bvw, {0x61, 0x20, 0xF2}, nak},
      {"record inhibit in status byte 8", inhibit, {0x61, 0x20, 0x81}, {0x71, 0x20, 0x01}},
      {"timer mode, timecode", bvw, {0x60, 0x36}, {0x71, 0x36, 0x00}},
      {"timer mode without timecode", noTc, {0x60, 0x36}, {0x71, 0x36, 0x01}},
      {"in-point sense, none set", bvw, {0x60, 0x10}, {0x74, 0x10, 0, 0, 0, 0}},
      {"remaining time: 30 minutes of tape", bvw, {0x60, 0x2B}, {0x76, 0x2B, 0, 0, 0x30, 0, 0, 0}},
      {"command speed at rest", bvw, {0x60, 0x2E}, {0x71, 0x2E, 0x00}},
      {"preroll time: five seconds", bvw, {0x60, 0x31}, {0x74, 0x31, 0, 0x05, 0, 0}},
      {"edit preset, one byte", bvw, {0x61, 0x30, 0x01}, {0x71, 0x30, 0x00}},
      {"edit preset, two bytes", bvw, {0x61, 0x30, 0x02}, {0x72, 0x30, 0x00, 0x00}},
      {"edit preset, three bytes", bvw, {0x61, 0x30, 0x03}, nak},
      {"record inhibit sense", inhibit, {0x60, 0x3E}, {0x72, 0x3E, 0x01, 0x00}},
      {"generator time", bvw, {0x61, 0x0A, 0x01}, {0x74, 0x08, 0, 0, 0, 0}},
      {"generator user bits", bvw, {0x61, 0x0A, 0x10}, {0x74, 0x09, 0, 0, 0, 0}},
      {"generator time and user bits", bvw, {0x61, 0x0A, 0x11}, {0x78, 0x08, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"generator, no such data", bvw, {0x61, 0x0A, 0x02}, nak},
      {"no VITC reader", dsr60, {0x61, 0x0C, 0x02}, {0x70, 0x0D}},
      {"a player does not record", player, {0x20, 0x02}, nak},
      {"a player has no edit on", player, {0x20, 0x65}, nak},
      {"a player has no generator", player, {0x61, 0x0A, 0x01}, nak},
      {"a player has no timecode preset", player, {0x44, 0x04, 0, 0, 0, 0}, nak},
      {"a recorder without editing has no auto edit", recorder, {0x20, 0x42}, nak},
      {"ZDKR check on a ZDKR machine", zdkr, {0xE0, 0xFF}, kAck},
      {"ZDKR check elsewhere", bvw, {0xE0, 0xFF}, nak},
      {"ZDKR get, initial value", zdkr, {0xC0, 0x1B}, {0x81, 0x1B, 0x32}},
      {"ZDKR get audio level", zdkr, {0xC1, 0x93, 0x02}, {0x81, 0x93, 0x7F}},
      {"ZDKR get on a plain VTR", bvw, {0xC0, 0x55}, nak},
      {"ZDKR get of a write-only setting", zdkr, {0xC0, 0x11}, nak},
      {"ZDKR set", zdkr, {0xC1, 0x54, 0x10}, kAck},
      {"VDR status, stopped", vdr, {0xE1, 0x11, 0x02}, {0xF2, 0x11, 0x01, 0x01}},
      {"VDR status on a plain VTR", bvw, {0xE1, 0x11, 0x02}, nak},
      {"cue refused without cue-up", noCue, {0x24, 0x31, 0, 0, 0, 0}, nak},
      {"step refused without stepping", noStep, {0x20, 0x14}, nak},
      // clang-format on
  };
  for (const auto& c : cases) {
    Make(c.config);
    EXPECT_EQ(Send(c.command), c.reply == kAck ? kAck : WithSum(c.reply)) << c.what;
  }
}

TEST_F(DeckTest, TimeSenseReportsTheTrackAndItsTimecode) {
  constexpr auto N = VideoStandard::kNtsc, D = VideoStandard::kNtscDropFrame;
  struct {
    const char* what;
    VideoStandard standard;
    bool has_vitc, still;
    std::uint32_t start_tc, position;
    std::uint8_t source;
    Bytes reply;
    bool has_timecode = true;
  } const cases[] = {
      // clang-format off
      {"LTC", N, true, false, 0, 1079115, 0x01, {0x74, 0x04, 0x15, 0x30, 0x59, 0x09}},
      {"LTC from a start", N, true, false, 108000, 30, 0x01, {0x74, 0x04, 0x00, 0x01, 0x00, 0x01}},
      {"drop-frame 10 min", D, true, false, 0, 17982, 0x01, {0x74, 0x04, 0x40, 0x00, 0x10, 0x00}},
      {"LTC, still: corrected by the control track", N, true, true, 0, 31, 0x01, {0x74, 0x14, 0x01, 0x01, 0, 0}},
      {"VITC", N, true, true, 0, 31, 0x02, {0x74, 0x06, 0x01, 0x01, 0x00, 0x00}},
      {"either, playing: LTC", N, true, false, 0, 31, 0x03, {0x74, 0x04, 0x01, 0x01, 0, 0}},
      {"either, still: VITC", N, true, true, 0, 31, 0x03, {0x74, 0x06, 0x01, 0x01, 0, 0}},
      {"either, still, no VITC", N, false, true, 0, 31, 0x03, {0x74, 0x14, 0x01, 0x01, 0, 0}},
      {"timer-1", N, true, false, 108000, 31, 0x04, {0x74, 0x00, 0x01, 0x01, 0x00, 0x00}},
      {"timer-2", N, true, false, 108000, 31, 0x08, {0x74, 0x01, 0x01, 0x01, 0x00, 0x00}},
      {"LTC user bits", N, true, false, 0, 0, 0x10, {0x74, 0x05, 0x12, 0x34, 0x56, 0x78}},
      {"VITC user bits", N, true, false, 0, 0, 0x20, {0x74, 0x07, 0x12, 0x34, 0x56, 0x78}},
      {"either user bits, still", N, true, true, 0, 0, 0x30, {0x74, 0x07, 0x12, 0x34, 0x56, 0x78}},
      {"LTC and its user bits", N, true, false, 0, 31, 0x11,
       {0x78, 0x04, 0x01, 0x01, 0, 0, 0x12, 0x34, 0x56, 0x78}},
      {"VITC and its user bits", N, true, true, 0, 31, 0x22,
       {0x78, 0x06, 0x01, 0x01, 0, 0, 0x12, 0x34, 0x56, 0x78}},
      {"timer-1 and LTC user bits", N, true, false, 0, 31, 0x14,
       {0x78, 0x00, 0x01, 0x01, 0, 0, 0x12, 0x34, 0x56, 0x78}},
      {"nothing asked", N, true, false, 0, 0, 0x00, {0x11, 0x12, 0x01}},
      {"without timecode LTC answers timer-1", N, true, false, 108000, 30, 0x03,
       {0x74, 0x00, 0x00, 0x01, 0x00, 0x00}, false},
      // clang-format on
  };
  for (const auto& t : cases) {
    DeckConfig c;
    c.standard = t.standard;
    c.has_vitc = t.has_vitc;
    c.has_timecode = t.has_timecode;
    c.start_timecode = t.start_tc;
    c.tape_frames = 4000000;
    Make(c);
    Send({0x44, 0x05, 0x12, 0x34, 0x56, 0x78});  // user bits
    Send({0x20, 0x01});                          // play
    if (t.still) Send({0x21, 0x13, 0x00});
    deck().SetPosition(t.position);
    EXPECT_EQ(Send({0x61, 0x0C, t.source}), WithSum(t.reply)) << t.what;
  }
}

// Each strictness of a real machine, and what the deck does with it relaxed.
TEST_F(DeckTest, StrictnessAndItsSwitches) {
  using Relax = void (*)(Strictness&);
  struct Seen {
    Bytes replies;
    TransportMode mode;
    bool edit = false;
    std::uint8_t status2 = 0;  // status byte 2 as the act ends
    bool operator==(const Seen&) const = default;
  };
  const auto stopped = [](Bytes r) { return Seen{std::move(r), TransportMode::kStop}; };
  const auto playing = [](Bytes r) { return Seen{std::move(r), TransportMode::kPlay}; };
  const Bytes play = WithSum({0x20, 0x01});
  struct {
    const char* what;
    Relax relax;
    void (*prepare)(DeckConfig&);
    std::function<void()> act;
    Seen strict, relaxed;
  } const cases[] = {
      {"a block before the previous reply: NAK overrun after that reply, not carried out",
       [](Strictness& s) { s.early_blocks = false; }, [](DeckConfig&) {},
       [&] {
         deck().Receive(WithSum({0x20, 0x63}));  // select EE on
         deck().Receive(play);
       },
       stopped(Concat(kAck, NakOf(0x20))), playing(Concat(kAck, kAck))},
      {"bytes 11 ms apart: NAK time out, the partial block dropped",
       [](Strictness& s) { s.byte_timeout = false; }, [](DeckConfig&) {},
       [&] {
         deck().Receive(Bytes{play[0]});
         Wait(milliseconds(11));
         deck().Receive(Bytes{play[1], play[2]});
       },
       stopped(Concat(NakOf(0x80), NakOf(0x80))), playing(kAck)},
      {"under local control: acknowledged, not carried out", [](Strictness& s) { s.local = false; },
       [](DeckConfig&) {},
       [&] {
         deck().SetLocal(true);
         deck().Receive(play);
       },
       stopped(kAck), playing(kAck)},
      {"no tape: acknowledged, not carried out",
       [](Strictness& s) { s.tape = false; },
       [](DeckConfig& c) { c.tape_loaded = false; },
       [&] { deck().Receive(play); },
       {kAck, TransportMode::kNoTape},
       playing(kAck)},
      {"edit on before the servo locks: acknowledged, not carried out",
       [](Strictness& s) { s.servo = false; },
       [](DeckConfig&) {},
       [&] {
         Send({0x20, 0x01});
         Wait(milliseconds(300));
         deck().Receive(WithSum({0x20, 0x65}));
       },
       playing(kAck),
       {kAck, TransportMode::kRecord, true, 0x80}},
  };
  for (const auto& c : cases) {
    for (const bool strict : {true, false}) {
      SCOPED_TRACE(std::string(c.what) + (strict ? ", strict" : ", relaxed"));
      DeckConfig cfg;
      c.prepare(cfg);
      if (!strict) c.relax(cfg.strict);
      Make(cfg);
      c.act();
      const std::uint8_t status2 = deck().StatusBytes()[2];
      Wait(milliseconds(30));
      const Bytes replies = Drain();
      Wait(seconds(1));
      const DeckState s = deck().State();
      EXPECT_EQ((Seen{replies, s.mode, s.edit, status2}), strict ? c.strict : c.relaxed);
    }
  }
}

TEST_F(DeckTest, ReplyComesAfterTheLatencyAndThePacedBytes) {
  DeckConfig c;
  c.latency = milliseconds(7);
  c.line_pacing = true;
  Make(c);
  const Micros sent = platform::Now();
  deck().Receive(WithSum({0x20, 0x00}));
  // Three bytes in at 286.5 us each, the latency, then one byte out.
  const Micros first = sent + Micros{859 + 7000 + 286};
  EXPECT_EQ(deck().NextArrival(), first);
  Wait(first - sent - Micros{1});
  EXPECT_TRUE(Drain().empty());
  Wait(Micros{1 + 2 * 287});
  EXPECT_EQ(Drain(), kAck);
  EXPECT_EQ(deck().NextArrival(), std::nullopt);
}

TEST_F(DeckTest, DiscardDropsOnlyWhatHasArrived) {
  deck().Receive(WithSum({0x20, 0x00}));
  Wait(milliseconds(5));
  deck().Receive(WithSum({0x00, 0x11}));
  deck().DiscardArrived();
  Wait(milliseconds(5));
  EXPECT_EQ(Drain(), WithSum({0x12, 0x11, 0x20, 0x25}));
}

TEST_F(DeckTest, Timer1PresetSetsTheCounterWhichThenRuns) {
  EXPECT_EQ(Send({0x44, 0x00, 0x00, 0x00, 0x10, 0x00}), kAck);  // 00:10:00:00
  Send({0x20, 0x01});
  Wait(seconds(10));
  // 10.02 s of play: 300 frames on from the preset.
  EXPECT_EQ(Send({0x61, 0x0C, 0x04}), WithSum({0x74, 0x00, 0x00, 0x10, 0x10, 0x00}));
  Send({0x20, 0x00});
  EXPECT_EQ(Send({0x40, 0x08}), kAck);
  EXPECT_EQ(Send({0x61, 0x0C, 0x04}), WithSum({0x74, 0x00, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(DeckTest, VdrCommandsDriveTheVdrStatus) {
  Make(DeckConfig::For("VDR-1000A"));
  EXPECT_EQ(Send({0xE0, 0x2A}), kAck);
  EXPECT_EQ(Send({0xE0, 0x15}), kAck);
  EXPECT_EQ(deck().State().mode, TransportMode::kPlay);
  // Next command ready, dual play, still ready.
  EXPECT_EQ(Send({0xE1, 0x11, 0x02}), WithSum({0xF2, 0x11, 0x81, 0x02}));
  EXPECT_EQ(Send({0x40, 0x41}), kAck);
  EXPECT_TRUE(StatusBit(3, 7));  // auto mode
}

TEST_F(DeckTest, TraceNamesEveryBlockAndKeepsTheLatest) {
  DeckConfig c;
  c.trace_limit = 6;
  Make(c);
  Send({0x20, 0x00});
  deck().InjectFault(Fault{.kind = FaultKind::kCorruptChecksum});
  Send({0x21, 0x13, 0x00});
  // A block whose checksum is wrong is refused, and not carried out.
  EXPECT_EQ(SendRaw({0x20, 0x01, 0x00}), NakOf(0x04));
  EXPECT_EQ(deck().State().mode, TransportMode::kStill);
  Send({0x60, 0x36});
  std::vector<std::string> names;
  for (const TraceEntry& e : deck().Trace()) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"PAUSE_422", "ACK [bad checksum]",
                                             "PLAY_422 (bad checksum)", "NAK (checksum error)",
                                             "TMODESENSE_422", "TIMER_MODE_DATA"}));
  const auto trace = deck().Trace();
  EXPECT_EQ(trace[1].direction, Direction::kFromDeck);
  EXPECT_EQ(trace[1].time - trace[0].time, milliseconds(2));
  EXPECT_NE(FormatTraceEntry(trace[0]).find("-> deck  21 13 00 34  PAUSE_422"), std::string::npos);
  deck().ClearTrace();
  EXPECT_TRUE(deck().Trace().empty());
}

// Injected faults, as the controller sees them: each changes the next reply only.
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
    EXPECT_EQ(Send({0x00, 0x11}), WithSum({0x12, 0x11, 0x20, 0x25})) << "only once";
  }
}

TEST_F(DeckTest, FaultsCountDownAndPersistUntilCleared) {
  deck().InjectFault(Fault{.kind = FaultKind::kSilence, .times = 2});
  deck().InjectFault(Fault{.kind = FaultKind::kNak, .times = Fault::kAlways, .nak_bits = 0x20});
  EXPECT_EQ(Send({0x20, 0x01}), Bytes{});
  EXPECT_EQ(deck().State().mode, TransportMode::kPlay) << "a silenced command still acts";
  EXPECT_EQ(Send({0x20, 0x00}), Bytes{});
  for (int i = 0; i < 3; ++i) EXPECT_EQ(Send({0x20, 0x00}), NakOf(0x20));
  deck().ClearFaults();
  EXPECT_EQ(Send({0x20, 0x00}), kAck);
}

}  // namespace
}  // namespace vtr::sim::testing

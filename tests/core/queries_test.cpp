// The sense queries as protocol facts: what a deck answers on the wire and
// what the driver makes of it, the answers it must not believe included.
#include "link/queries.h"

#include <gtest/gtest.h>

#include <chrono>

#include "commands/handlers.h"
#include "link/timecode.h"
#include "platform/clock.h"
#include "tests/support/driver_fixture.h"
#include "tests/support/fake_line.h"

namespace vtr::test {
namespace {

using Status = std::array<BYTE, 8>;
const Bytes kRefused = WithSum({0x11, 0x12, 0x01});
constexpr WORD kUnset = 0xBEEF;

Bytes StatusReply(const Status& s) {
  Bytes b{0x78, 0x20};
  b.insert(b.end(), s.begin(), s.end());
  return WithSum(b);
}

// The record's port loads the driver module, which starts its command table,
// link flag and status slots as loaded.
class Queries : public ::testing::Test {
 protected:
  // The record, whose deck answers the next blocks with `replies`.
  DeviceRecord* Answer(std::vector<Bytes> replies, DWORD linkBusy = 0) {
    line_->Script(std::move(replies));
    wLastComErr = kUnset;
    fComInUse = linkBusy;
    return &port_.rec;
  }
  std::shared_ptr<FakeLine> line_ = std::make_shared<FakeLine>();
  LinkedRecord port_{line_};
};

// A reply that is short, fails its checksum, lost a byte or answers another
// query is not believed: the last position stands and the line error is kept.
TEST_F(Queries, PositionFromTheTimeAnswer) {
  constexpr DWORD kDayDrop = 107892 * 24;
  struct Row {
    Bytes reply;
    DWORD pal, position;
    WORD format;
  } rows[] = {
      {WithSum({0x74, 0x04, 0x15, 0x30, 0x59, 0x09}), 0, 1079115, 6},
      {WithSum({0x74, 0x04, 0x55, 0x30, 0x59, 0x09}), 0, 1078035, 7},  // drop-frame flag
      {WithSum({0x74, 0x04, 0x55, 0x30, 0x59, 0x09}), 1, 899265, 5},   // at 25 it means nothing
      {WithSum({0x74, 0x04, 0x95, 0xB0, 0xD9, 0xC9}), 0, 1079115, 6},  // other flag bits ignored
      {WithSum({0x74, 0x04, 0x69, 0x59, 0x59, 0x23}), 0, kDayDrop - 1, 7},
      {WithSum({0x74, 0x04, 0x3F, 0x7A, 0x00, 0x00}), 0, 45 + 80 * 30, 6},  // digits above 9
      {WithSum({0xF4, 0x00, 0, 0, 0, 0}), 0, 0, 6},  // any first byte with 0x70 set
      {{0x74, 0x04, 0x15, 0x30, 0x59, 0x09, 0xC8}, 0, 777, 5},
      {{0x74, 0x04, 0x15, 0x59, 0x09, 0xC7}, 0, 777, 5},
      {StatusReply({0, 0x20}), 0, 777, 5},
      {kRefused, 0, 777, 5},
      {{0x10, 0x01, 0x11}, 0, 777, 5},
      {{}, 0, 777, 5},
  };
  for (const auto& row : rows) {
    for (DWORD busy : {0u, 1u}) {  // the link flag is released only by its owner
      DeviceRecord* rec = Answer({row.reply}, busy);
      rec->Pal = row.pal;
      rec->dwPosition = 777;
      rec->wTCFormat = 5;
      EXPECT_EQ(kestrelGetPosition(rec, 0), row.position) << row.position;
      EXPECT_EQ(rec->dwPosition, row.position);
      EXPECT_EQ(rec->wTCFormat, row.format) << row.position;
      EXPECT_EQ(wLastComErr != kUnset, row.position == 777) << row.position;
      EXPECT_EQ(fComInUse, busy);
    }
  }
  // The time source asked for: timecode as TimerSelect says (3 when it names
  // none), the control-track counter without timecode or when asked for it.
  struct Source {
    DWORD hasTC;
    WORD timerSelect;
    DWORD counter;
    BYTE source;
  } sources[] = {{0, 1, 0, 4}, {1, 5, 0, 3}, {1, 2, 0, 2}, {1, 2, 1, 4}};
  for (const auto& s : sources) {
    DeviceRecord* rec = Answer({});
    rec->HasTC = s.hasTC;
    rec->TimerSelect = s.timerSelect;
    kestrelGetPosition(rec, s.counter);
    EXPECT_EQ(line_->received, WithSum({0x61, 0x0C, s.source})) << s.timerSelect;
  }
}

// One status answer, read as the status word and as both modes: each chain
// takes its first match (stop before play, local first in the extended one).
TEST_F(Queries, StatusWordAndModesFromTheStatusAnswer) {
  constexpr DWORD F = 0x4000, R = 0x2000;           // direction forward, reverse
  const Bytes sense = WithSum({0x61, 0x20, 0x08});  // eight status bytes from byte 0
  Bytes twoSenses = sense;
  twoSenses.insert(twoSenses.end(), sense.begin(), sense.end());
  struct Row {
    Status s;
    DWORD word, mode, modeX;
  } rows[] = {
      {{}, F, 390, 390},
      {{0, 0x01}, 0x40 | F, 526, 526},
      {{0, 0x21}, 0x40 | F, 525, 525},
      {{0, 0x22}, 0x20 | F, 525, 525},
      {{0, 0x02}, 0x20 | F, 527, 527},
      {{0x01, 0x01}, 0x40000040 | F, 526, 389},
      {{0x05}, 0x60000000 | F, 524, 389},
      {{0x20}, 0x10000000 | F, 530, 530},
      {{0x20, 0x01}, 0x10000000 | F, 530, 530},  // cassette out heads the chain
      {{0, 0x11}, 0x10000000 | F, 526, 526},     // eject too
      {{0, 0x04, 0x02}, 0x400 | F, 529, 529},    // still before fast forward
      {{0, 0x0C}, 0x10 | F, 528, 388},
      {{0, 0x08}, 0x8 | F, 528, 391},
      {{0, 0, 0x38}, 0x200 | F, 528, 397},
      {{0, 0, 0x0C}, 0x200 | R, 528, 398},
      {{0, 0, 0x24}, 0x80 | R, 528, 398},
      {{0, 0x01, 0x20}, 0x40 | F, 528, 397},
      {{0, 0, 0x04}, R, 390, 390},
      {{0, 0, 0x01}, 0x8000 | F, 390, 390},
      {{0, 0, 0, 0, 0x01}, 0x200000 | F, 528, 528},
      {{0, 0, 0, 0, 0x1F}, 0xC00000 | F, 528, 528},  // edit, and review heads its chain
      {{0, 0, 0, 0, 0x45}, 0x1100000 | F, 528, 528},
      {{0, 0, 0, 0, 0, 0, 0xFF, 0xFE}, F, 390, 390},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0x7CDFA800, 524, 389},
  };
  for (const auto& row : rows) {
    const Bytes reply = StatusReply(row.s);
    DeviceRecord* rec = Answer({reply, reply}, 1);  // both clear the flag whoever set it
    EXPECT_EQ(kestrelGetMode(rec), row.mode) << std::hex << row.word;
    EXPECT_EQ(rec->dwStatus, row.word) << std::hex << row.word;
    EXPECT_EQ(fComInUse, 0u);
    fComInUse = 1;
    EXPECT_EQ(kestrelGetModeX(rec), row.modeX) << std::hex << row.word;
    EXPECT_EQ(rec->dwMode, row.modeX);
    EXPECT_EQ(fComInUse, 0u);
    EXPECT_EQ(line_->received, twoSenses);
  }
  // No answer, or one not believed: status 0, not ready from the plain query,
  // the last mode from the other; the slots keep the last reply that passed.
  Bytes badSum = StatusReply({0, 0x01});
  badSum.back() ^= 0x40;
  for (const Bytes& bad : {Bytes{}, kRefused, Bytes{0x78, 0x20, 0x00, 0x01}, badSum}) {
    DeviceRecord* rec = Answer({bad, bad});
    statStruct[1] = 0x20;
    rec->dwMode = 529;
    EXPECT_EQ(kestrelGetMode(rec), 524u);
    EXPECT_EQ(rec->dwMode, 529u);
    EXPECT_EQ(rec->dwStatus, 0u);
    EXPECT_EQ(kestrelGetModeX(rec), 529u);
    EXPECT_EQ(statStruct[1], 0x20u);
    EXPECT_NE(wLastComErr, kUnset);
  }
}

TEST_F(Queries, TimerModeDeviceTypeAndZdkrSetting) {
  struct Timer {
    Bytes reply;
    DWORD hasTC, result;
  } timer[] = {
      {WithSum({0x71, 0x36, 0x00}), 0, 1},
      {WithSum({0x71, 0x36, 0x01}), 1, 0},
      {WithSum({0x71, 0x36, 0x02}), 0, 0},
      {WithSum({0x71, 0x36, 0x02}), 1, 1},
      {{0x71, 0x36, 0x01, 0xA9}, 1, 1},  // failed checksum: the stored value
      {{}, 1, 255},
      {kRefused, 0, 255},
  };
  for (const auto& row : timer) {
    DeviceRecord* rec = Answer({row.reply});
    rec->HasTC = row.hasTC;
    EXPECT_EQ(kestrelSetTimer(rec), row.result);
    EXPECT_EQ(line_->received, WithSum({0x60, 0x36}));
  }
  struct Id {
    Bytes reply;
    DWORD result;
  } ids[] = {
      {WithSum({0x12, 0x11, 0x20, 0x25}), 0x2025},
      {WithSum({0x12, 0x11, 0x00, 0x00}), 0},  // the generic row's code, and believed
      {kRefused, 0},
      {{}, 0},
  };
  for (const auto& row : ids) {
    DeviceRecord* rec = Answer({row.reply});
    rec->VTRID = 99;
    bool passed = false;
    EXPECT_EQ(kestrelGetID(rec, &passed), row.result);
    EXPECT_EQ(passed, row.reply.size() == 5);
    EXPECT_EQ(rec->VTRID, row.result);
    EXPECT_EQ(line_->received, WithSum({0x00, 0x11}));
  }
  // A ZDKR setting: only a well-formed answer is a value; a refusal or zeros
  // are an error without a line error.
  struct Zdkr {
    Bytes reply;
    MCIERROR result;
    BYTE value;
    bool lineError;
  } zdkr[] = {
      {WithSum({0x81, 0x55, 0x7F}), 0, 0x7F, false},
      {kRefused, 262, 0xAB, false},
      {{0x00, 0x00, 0x00, 0x00}, 262, 0xAB, false},
      {{0x81, 0x55, 0x7F, 0x00}, 262, 0xAB, true},
      {WithSum({0x82, 0x55, 0x7F}), 262, 0xAB, true},  // announces two data bytes
      {{}, 262, 0xAB, true},
  };
  for (const auto& row : zdkr) {
    for (DWORD busy : {0u, 1u}) {
      DeviceRecord* rec = Answer({row.reply}, busy);
      BYTE value = 0xAB;
      VTR_GETZDKR_PARMS parms{0, 0xABu, 0};
      EXPECT_EQ(kestrelGetStatusZDKR(rec, GETZDKR_HUE, &value, &parms), row.result);
      EXPECT_EQ(value, row.value);
      EXPECT_EQ(parms.dwReturn, row.value);
      EXPECT_EQ(wLastComErr != kUnset, row.lineError);
      EXPECT_EQ(fComInUse, busy);
      EXPECT_EQ(line_->received, WithSum({0xC0, 0x55}));
    }
  }
}

// The VDR readiness wait ("vdr status" with "play ok" and "wait") against the
// virtual deck: one look a second, the poll kept off the line meanwhile, the
// deck stilled when it is found stopped, and given up within its bound when
// the condition cannot come.
class VdrQuery : public DriverFixture {
 protected:
  vtr::sim::DeckConfig DeckSetup() override {
    auto cfg = vtr::sim::DeckConfig::For("VDR-1000A");
    cfg.tape_frames = 30 * 60 * 30;
    return cfg;
  }
  DWORD Wait() {
    VTR_VDR_PARMS p{0, 0, 0x10};
    return Send(MCI_VTR_VDR, 0x300 | MCI_WAIT, &p);
  }
};

TEST_F(VdrQuery, WaitPollsOnceASecondUntilReady) {
  OpenQuietly();
  frame422tc(Record(), 9000, &CUE_DATA_422[3], 6, 0);
  ASSERT_EQ(kestrelSendCmd(Record(), CUE_DATA_422, 1), 0u);
  deck_->ClearTrace();
  int yieldsWhileBusy = 0;
  host_.OnYield([&](UINT) {
    yieldsWhileBusy += fComInUse == 1 ? 1 : 0;
    return 0u;
  });
  EXPECT_EQ(Wait(), 0u);
  EXPECT_EQ(deck_->State().position, 9000u);
  std::vector<vtr::platform::Micros> polls;
  for (const auto& e : deck_->Trace()) {
    if (e.name == "STATSENSE_VDR") polls.push_back(e.time);
  }
  ASSERT_GE(polls.size(), 5u);
  for (std::size_t i = 1; i < polls.size(); ++i) {
    EXPECT_GT((polls[i] - polls[i - 1]).count(), 1000000);
    EXPECT_LT((polls[i] - polls[i - 1]).count(), 1100000);
  }
  EXPECT_EQ(Count("PAUSE_422"), 0);  // ended by the ready bit
  EXPECT_GT(yieldsWhileBusy, 90);
  deck_->PanelStop();
  deck_->ClearTrace();
  EXPECT_EQ(Wait(), 0u);
  EXPECT_EQ(SentNames(), (std::vector<std::string>{"STATSENSE_VDR", "STATSENSE_422", "PAUSE_422"}));
  ASSERT_EQ(kestrelSendCmd(Record(), PLAY_422, 1), 0u);
  // The deck plays on, the application breaks, the deck falls silent: each
  // is given up with an error within its bound.
  for (const char* end : {"plays on", "break", "silent"}) {
    SCOPED_TRACE(end);
    if (end[0] == 's') deck_->InjectFault({.kind = vtr::sim::FaultKind::kSilence, .times = -1});
    host_.OnYield([&](UINT) { return end[0] == 'b' ? 1u : 0u; });
    const auto t0 = vtr::platform::Now();
    EXPECT_EQ(Wait(), MCIERR_HARDWARE);
    EXPECT_LT(vtr::platform::Now() - t0,
              std::chrono::seconds(end[0] == 'b' ? 2 : kVdrWaitPolls + 1));
  }
  EXPECT_EQ(fComInUse, 0u);
}

}  // namespace
}  // namespace vtr::test

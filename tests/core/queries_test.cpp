// The sense queries: decoding, fallbacks on every kind of bad answer, and the
// VDR and ZDKR extensions against the virtual deck.
#include "link/queries.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <random>
#include <string>

#include "link/timecode.h"
#include "platform/clock.h"
#include "tests/core/scripted_port.h"
#include "tests/support/driver_fixture.h"

namespace {

using vtr::test::Bytes;
using vtr::test::WithSum;
using Status = std::array<DWORD, 8>;

const Bytes kRefused = WithSum({0x11, 0x12, 0x01});
constexpr WORD kUnset = 0xBEEF;

Bytes StatusReply(const Status& s) {
  Bytes b{0x78, 0x20};
  for (DWORD x : s) b.push_back(static_cast<std::uint8_t>(x));
  return WithSum(b);
}

class Queries : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetCommandTable();
    std::fill(std::begin(statStruct), std::end(statStruct), 0u);
    fComInUse = 0;
  }
  void TearDown() override {
    ResetCommandTable();
    fComInUse = 0;
  }
  DeviceRecord* Answer(std::vector<Bytes> replies) {
    port_.line->Reset();
    port_.line->Script(std::move(replies));
    wLastComErr = kUnset;
    return &port_.rec;
  }
  vtr::test::ScriptedPort port_;
};

TEST_F(Queries, PositionDecodesTheAnswerOrKeepsTheLastOne) {
  struct Row {
    Bytes reply;
    DWORD pal, position;
    WORD format;
    bool refused;
  } rows[] = {
      {WithSum({0x74, 0x04, 0x15, 0x30, 0x59, 0x09}), 0, 1079115, 6, false},
      {WithSum({0x74, 0x04, 0x55, 0x30, 0x59, 0x09}), 0, 1078035, 7, false},
      {WithSum({0x74, 0x04, 0x55, 0x30, 0x59, 0x09}), 1, 899265, 5, false},
      {WithSum({0xF4, 0x00, 0, 0, 0, 0}), 0, 0, 6, false},  // any 0x7x-like first byte is accepted
      // Replies that are not believed: short, or failing their checksum.
      {{0x74, 0x04, 0x15, 0x30}, 0, 777, 5, true},
      {{0x74, 0x04, 0x15, 0x30, 0x59, 0x09, 0xC8}, 0, 777, 5, true},
      {{0x74, 0x04, 0x15, 0x59, 0x09, 0xC7}, 0, 777, 5, true},  // a dropped byte
      {StatusReply({0, 0x20}), 0, 777, 5, true},  // another query's reply (a wrong reply)
      {kRefused, 0, 777, 5, true},
      {{0x10, 0x01, 0x11}, 0, 777, 5, true},
      {{}, 0, 777, 5, true},
  };
  for (const auto& row : rows) {
    for (DWORD flag : {0u, 1u}) {
      DeviceRecord* rec = Answer({row.reply});
      rec->Pal = row.pal;
      rec->dwPosition = 777;
      rec->wTCFormat = 5;
      fComInUse = flag;
      EXPECT_EQ(kestrelGetPosition(rec, 0), row.position) << row.position;
      EXPECT_EQ(rec->dwPosition, row.position);
      EXPECT_EQ(rec->wTCFormat, row.format);
      EXPECT_EQ(wLastComErr != kUnset, row.refused);
      EXPECT_EQ(fComInUse, flag);
    }
  }
}

TEST_F(Queries, PositionSourceFollowsHasTCTimerSelectAndCounterFlag) {
  struct Row {
    DWORD hasTC;
    WORD timerSelect;
    DWORD counter;
    BYTE source;
  } rows[] = {
      {0, 1, 0, 4}, {0, 3, 0, 4}, {1, 0, 0, 3}, {1, 5, 0, 3}, {1, 9, 0, 3}, {1, 1, 0, 1},
      {1, 2, 0, 2}, {1, 3, 0, 3}, {1, 4, 0, 4}, {1, 2, 1, 4}, {0, 0, 1, 4},
  };
  for (const auto& row : rows) {
    DeviceRecord* rec = Answer({WithSum({0x74, 0x04, 0, 0, 0, 0})});
    rec->HasTC = row.hasTC;
    rec->TimerSelect = row.timerSelect;
    kestrelGetPosition(rec, row.counter);
    EXPECT_EQ(port_.line->Received(), WithSum({0x61, 0x0C, row.source}))
        << row.hasTC << " " << row.timerSelect << " " << row.counter;
  }
}

TEST(StatusWord, BothChainsAndEveryPlainBit) {
  constexpr DWORD F = 0x4000;  // direction forward
  struct Row {
    Status s;
    DWORD word;
  } rows[] = {
      {{}, F},
      {{0, 0x21}, 0x40 | F},  // play wins over stop
      {{0, 0x20}, 0x4 | F},
      {{0, 0x60}, 0x2 | F},
      {{0, 0x22}, 0x20 | F},
      {{0x20, 0x01}, 0x10000000 | F},  // cassette out heads the chain
      {{0, 0x11}, 0x10000000 | F},     // eject too
      {{0x05}, 0x60000000 | F},
      {{0, 0x04, 0x02}, 0x400 | F},  // still before fast forward
      {{0, 0x0C}, 0x10 | F},
      {{0, 0x08}, 0x8 | F},
      {{0, 0, 0x38}, 0x200 | F},
      {{0, 0, 0x30}, 0x100 | F},
      {{0, 0, 0x24}, 0x80 | 0x2000},
      {{0, 0, 0x81}, 0x800 | 0x8000 | F},
      {{0, 0, 0, 0x83}, 0x10000 | 0x80000 | 0x40000 | F},
      {{0, 0, 0, 0, 0x1F}, 0x400000 | 0x800000 | F},  // edit, and review heads its chain
      {{0, 0, 0, 0, 0x07}, 0x2000000 | F},
      {{0, 0, 0, 0, 0x05}, 0x1000000 | F},
      {{0, 0, 0, 0, 0x41}, 0x200000 | 0x100000 | F},
      {{0, 0, 0, 0, 0, 0x60}, 0xC000000 | F},
      {{0, 0, 0, 0, 0, 0, 0xFF, 0x01}, 0x20000 | F},
      {{0, 0, 0, 0, 0, 0, 0, 0xFE}, F},
      {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, 0x7CDFA800},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(ComposeStatusWord(row.s.data()), row.word) << std::hex << row.word;
  }
}

TEST_F(Queries, ModeChainsFromOneStatusAnswer) {
  struct Row {
    Status s;
    DWORD mode, modeX;
  } rows[] = {
      {{0, 0x21}, 525, 525},  // stop is tested before play
      {{0x01, 0x01}, 526, 389},
      {{0x04}, 524, 524},
      {{0x05}, 524, 389},
      {{0x20}, 530, 530},
      {{0, 0x01, 0x02}, 529, 529},
      {{0, 0x02}, 527, 527},
      {{0, 0, 0, 0, 0x01}, 528, 528},
      {{0, 0x04}, 528, 388},
      {{0, 0x08}, 528, 391},
      {{0, 0, 0x08}, 528, 397},
      {{0, 0, 0x0C}, 528, 398},
      {{0, 0, 0x14}, 528, 398},
      {{0, 0x01, 0x20}, 528, 397},
      {{0, 0x01}, 526, 526},
      {{0, 0, 0x04}, 390, 390},
      {{}, 390, 390},
  };
  for (const auto& row : rows) {
    const Bytes reply = StatusReply(row.s);
    DeviceRecord* rec = Answer({reply, reply});
    fComInUse = 1;  // both clear the flag whoever set it
    EXPECT_EQ(kestrelGetMode(rec), row.mode) << row.mode;
    EXPECT_EQ(rec->dwMode, row.mode);
    EXPECT_EQ(fComInUse, 0u);
    fComInUse = 1;
    EXPECT_EQ(kestrelGetModeX(rec), row.modeX) << row.modeX;
    EXPECT_EQ(rec->dwMode, row.modeX);
    EXPECT_EQ(rec->dwStatus, ComposeStatusWord(row.s.data()));
    EXPECT_EQ(fComInUse, 0u);
    EXPECT_EQ(port_.line->Received().size(), 8u);
  }
  // No answer, or one not believed (short, failing its checksum): status 0, not
  // ready from the plain query, the last mode from the other; the slots keep
  // the last reply that passed.
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

TEST_F(Queries, TimerModeAndDeviceType) {
  struct TimerRow {
    Bytes reply;
    DWORD hasTC, result;
    bool lineError;
  } timer[] = {
      {WithSum({0x71, 0x36, 0x00}), 0, 1, false},
      {WithSum({0x71, 0x36, 0x01}), 1, 0, false},
      {WithSum({0x71, 0x36, 0x02}), 0, 0, false},
      {WithSum({0x71, 0x36, 0x02}), 1, 1, false},
      {{0x71, 0x36}, 1, 1, true},
      {{0x71, 0x36, 0x01, 0xA9}, 1, 1, true},  // failed checksum: the stored value
      {{}, 1, 255, false},
      {kRefused, 0, 255, false},
  };
  for (const auto& row : timer) {
    DeviceRecord* rec = Answer({row.reply});
    rec->HasTC = row.hasTC;
    EXPECT_EQ(kestrelSetTimer(rec), row.result);
    EXPECT_EQ(port_.line->Received(), WithSum({0x60, 0x36}));
    EXPECT_EQ(wLastComErr != kUnset, row.lineError);
  }
  struct Row {
    Bytes reply;
    DWORD result;
  } ids[] = {
      {WithSum({0x12, 0x11, 0x20, 0x25}), 0x2025},
      {WithSum({0x12, 0x11, 0x00, 0x00}), 0},  // the generic row's code, and believed
      {{0x12, 0x11, 0x20}, 0},
      {{0x12, 0x11, 0x20, 0x25, 0x69}, 0},
      {kRefused, 0},  // taken for a device type, and short
      {WithSum({0x74, 0x04, 0x01}), 0},
      {{}, 0},
  };
  for (const auto& row : ids) {
    DeviceRecord* rec = Answer({row.reply});
    rec->VTRID = 99;
    bool passed = true;
    EXPECT_EQ(kestrelGetID(rec, &passed), row.result);
    EXPECT_EQ(passed, row.reply.size() == 5 && row.reply[4] != 0x69);
    EXPECT_EQ(rec->VTRID, row.result);
    EXPECT_EQ(port_.line->Received(), WithSum({0x00, 0x11}));
  }
}

TEST_F(Queries, ZdkrSettingOnlyFromAWellFormedAnswer) {
  struct Row {
    Bytes reply;
    MCIERROR result;
    BYTE value;
    bool lineError;
  } rows[] = {
      {WithSum({0x81, 0x55, 0x7F}), 0, 0x7F, false},
      {WithSum({0x81, 0x55, 0x00}), 0, 0x00, false},
      {kRefused, 262, 0xAB, false},
      {{0x00, 0x00, 0x00, 0x00}, 262, 0xAB, false},
      {{0x81, 0x55, 0x7F, 0x00}, 262, 0xAB, true},
      {WithSum({0x82, 0x55, 0x7F}), 262, 0xAB, true},  // announces two data bytes
      {{0x81, 0x55, 0x7F}, 262, 0xAB, true},
      {{}, 262, 0xAB, true},
  };
  for (const auto& row : rows) {
    for (DWORD flag : {0u, 1u}) {
      DeviceRecord* rec = Answer({row.reply});
      BYTE value = 0xAB;
      VTR_GETZDKR_PARMS parms{0, 0xABu, 0};
      fComInUse = flag;
      EXPECT_EQ(kestrelGetStatusZDKR(rec, GETZDKR_HUE, &value, &parms), row.result);
      EXPECT_EQ(value, row.value);
      EXPECT_EQ(parms.dwReturn, row.value);
      EXPECT_EQ(wLastComErr != kUnset, row.lineError);
      EXPECT_EQ(fComInUse, flag);
      EXPECT_EQ(port_.line->Received(), WithSum({0xC0, 0x55}));
    }
  }
}

// Random answers of every shape: each query returns what its answer allows or
// its fallback, releases the link and reads no more than its budgets allow.
TEST_F(Queries, RandomAnswersGiveTheFallbacksAndEnd) {
  enum Q { kPosition, kStatus, kMode, kModeX, kHeader, kTimer, kId, kVdr, kZdkr, kCount };
  const Bytes valid[kCount] = {{0x74, 0x04, 0, 0, 0, 0},
                               {0x78, 0x20, 0, 0, 0, 0, 0, 0, 0, 0},
                               {0x78, 0x20, 0, 0, 0, 0, 0, 0, 0, 0},
                               {0x78, 0x20, 0, 0, 0, 0, 0, 0, 0, 0},
                               {0x74, 0x05, 0, 0, 0, 0},
                               {0x71, 0x36, 0},
                               {0x12, 0x11, 0, 0},
                               {0xF2, 0x11, 0, 0},
                               {0x81, 0x55, 0}};
  const std::uint64_t budgets[kCount] = {6, 10, 10, 10, 6, 3, 4, 4, 4};  // read budgets at most
  std::mt19937 rng(422);
  auto byte = [&] { return static_cast<std::uint8_t>(rng() & 0xFF); };
  for (int i = 0; i < 120; ++i) {
    const Q q = static_cast<Q>(rng() % kCount);
    Bytes r = valid[rng() % 3 == 0 ? rng() % kCount
                                   : static_cast<unsigned>(q)];  // sometimes another query's answer
    for (std::size_t k = 2; k < r.size(); ++k) r[k] = byte();
    if (rng() % 2) r = WithSum(r);
    switch (rng() % 4) {
      case 0:  // noise
        r.resize(rng() % 12);
        for (auto& x : r) x = byte();
        break;
      case 1:  // short
        r.resize(rng() % (r.size() + 1));
        break;
      case 2:  // too long
        for (int k = static_cast<int>(rng() % 8); k >= 0; --k) r.push_back(byte());
        break;
      default:
        break;
    }
    SCOPED_TRACE("case " + std::to_string(i) + " query " + std::to_string(q));
    const auto has = [&](std::size_t k) { return k < r.size(); };
    const auto at = [&](std::size_t k) -> DWORD { return has(k) ? r[k] : 0; };
    // The header announces n - 2 data bytes, and byte n is there and is the
    // checksum of the bytes before it.
    const auto sums = [&](std::size_t n) {
      if ((at(0) & 0x0F) != n - 2) return false;
      unsigned sum = 0;
      for (std::size_t k = 0; k < n && k < r.size(); ++k) sum += r[k];
      return has(n) && r[n] == (sum & 0xFF);
    };
    DeviceRecord* rec = Answer({r});
    rec->dwPosition = 4242;
    rec->wTCFormat = 5;
    rec->dwMode = 529;
    rec->HasTC = rng() % 2;
    rec->UserBits = 0x5A5A;
    Status before;
    for (auto& s : before) s = byte();
    std::copy(before.begin(), before.end(), statStruct);
    switch (q) {
      case kPosition: {
        const BYTE tc[4] = {static_cast<BYTE>(at(2)), static_cast<BYTE>(at(3)),
                            static_cast<BYTE>(at(4)), static_cast<BYTE>(at(5))};
        WORD format = 5;
        const bool ok = (at(0) & 0x70) == 0x70 && sums(6);
        const DWORD want = ok ? readTimecode(tc, 0, &format) : 4242;
        EXPECT_EQ(kestrelGetPosition(rec, 0), want);
        EXPECT_EQ(rec->wTCFormat, format);
        break;
      }
      case kStatus: {
        Status s = before;
        const bool ok = (at(0) & 0xF0) == 0x70 && sums(10);
        for (std::size_t k = 0; ok && k < 8; ++k) s[k] = r[2 + k];
        EXPECT_EQ(kestrelGetStatus(rec), ok ? ComposeStatusWord(s.data()) : 0u);
        EXPECT_TRUE(std::equal(s.begin(), s.end(), statStruct));
        break;
      }
      case kMode:
      case kModeX: {
        const bool ok = (at(0) & 0xF0) == 0x70 && sums(10);
        const DWORD mode = q == kMode ? kestrelGetMode(rec) : kestrelGetModeX(rec);
        if (!ok) {
          EXPECT_EQ(mode, q == kMode ? 524u : 529u);
        }
        EXPECT_EQ(rec->dwMode, ok ? mode : 529u);
        EXPECT_TRUE((mode >= 524 && mode <= 530) || (mode >= 388 && mode <= 398));
        break;
      }
      case kHeader:
        EXPECT_EQ(kestrelGetHeader(rec), (at(0) & 0xF0) != 0x70 ? 0u
                                         : sums(6) ? at(2) << 24 | at(3) << 16 | at(4) << 8 | at(5)
                                                   : 0x5A5Au);
        break;
      case kTimer: {
        const DWORD dd = sums(3) ? r[2] : 2;
        EXPECT_EQ(kestrelSetTimer(rec), (at(0) & 0x70) != 0x70 ? 255u
                                        : dd == 0              ? 1u
                                        : dd == 1              ? 0u
                                                               : rec->HasTC);
        break;
      }
      case kId:
        EXPECT_EQ(kestrelGetID(rec), (at(0) & 0xF0) == 0x10 && sums(4) ? at(2) << 8 | at(3) : 0u);
        break;
      case kVdr:
        EXPECT_EQ(kestrelGetStatusVDR(rec, 0x300), 0u);
        break;
      case kZdkr: {
        BYTE v = 0xAB;
        const bool ok = has(3) && r[3] == ((at(0) + at(1) + at(2)) & 0xFF) &&
                        !(at(0) == 0x11 && at(1) == 0x12 && at(2) == 0x01) &&
                        !(at(0) == 0 && at(1) == 0 && at(2) == 0);
        EXPECT_EQ(kestrelGetStatusZDKR(rec, GETZDKR_HUE, &v, nullptr), ok ? 0u : 262u);
        EXPECT_EQ(v, ok ? r[2] : 0xAB);
        break;
      }
      default:
        break;
    }
    EXPECT_EQ(fComInUse, 0u);
    EXPECT_LE(port_.line->Reads(), budgets[q] * 9500u + r.size() + 1);
  }
}

// Queries against the virtual deck.
class DeckQueries : public vtr::test::DriverFixture {
 protected:
  vtr::sim::DeckConfig DeckSetup() override {
    auto cfg = vtr::sim::DeckConfig::ForModel(45);
    cfg.tape_frames = 30 * 60 * 30;
    return cfg;
  }
  void TearDown() override {
    ResetCommandTable();
    DriverFixture::TearDown();
  }
};

TEST_F(DeckQueries, VdrWaitPollsOnceASecondUntilParked) {
  OpenQuietly();
  DeviceRecord* const rec_ = Record();
  ASSERT_EQ(deck_->ReportedDeviceType(), 0xF015);
  frame422tc(rec_, 9000, &CUE_DATA_422[3], 6, 0);
  ASSERT_EQ(kestrelSendCmd(rec_, CUE_DATA_422, 1), 0u);
  deck_->ClearTrace();

  int yieldsWhileBusy = 0;
  host_.OnYield([&](UINT) {
    yieldsWhileBusy += fComInUse == 1 ? 1 : 0;  // the poll keeps off the line
    return 0u;
  });
  EnterCriticalSection(&rec_->csCommand);
  EXPECT_EQ(kestrelGetStatusVDR(rec_, 0x300 | MCI_WAIT), 0u);
  LeaveCriticalSection(&rec_->csCommand);
  host_.OnYield(nullptr);

  EXPECT_EQ(deck_->State().mode, vtr::sim::TransportMode::kStill);
  EXPECT_EQ(deck_->State().position, 9000u);
  std::vector<vtr::platform::Micros> polls;
  for (const auto& e : deck_->Trace()) {
    if (e.direction == vtr::sim::Direction::kToDeck && e.name == "STATSENSE_VDR") {
      polls.push_back(e.time);
    }
  }
  ASSERT_GE(polls.size(), 5u);
  for (std::size_t i = 1; i < polls.size(); ++i) {
    const auto gap = polls[i] - polls[i - 1];
    EXPECT_GT(gap.count(), 1000000);
    EXPECT_LT(gap.count(), 1100000);
  }
  const auto names = SentNames();  // ended by the ready bit, not by a stop
  EXPECT_EQ(std::count(names.begin(), names.end(), "PAUSE_422"), 0);
  EXPECT_GT(yieldsWhileBusy, 90);
  EXPECT_EQ(fComInUse, 0u);

  // Stopped: the status check comes first and stills the machine.
  deck_->PanelStop();
  deck_->ClearTrace();
  EnterCriticalSection(&rec_->csCommand);
  EXPECT_EQ(kestrelGetStatusVDR(rec_, 0x300 | MCI_WAIT), 0u);
  LeaveCriticalSection(&rec_->csCommand);
  EXPECT_EQ(SentNames(), (std::vector<std::string>{"STATSENSE_VDR", "STATSENSE_422", "PAUSE_422"}));
  // Without the wait flag: one look.
  deck_->ClearTrace();
  EXPECT_EQ(kestrelGetStatusVDR(rec_, 0x300), 0u);
  EXPECT_EQ(SentNames(), std::vector<std::string>{"STATSENSE_VDR"});

  // A wait whose condition cannot come (the deck plays on), that the
  // application breaks, or whose machine falls silent is given up with an
  // error, within its bound.
  ASSERT_EQ(kestrelSendCmd(rec_, PLAY_422, 1), 0u);
  for (const char* end : {"plays on", "break", "silent"}) {
    SCOPED_TRACE(end);
    if (end[0] == 's') deck_->InjectFault({.kind = vtr::sim::FaultKind::kSilence, .times = -1});
    host_.OnYield([&](UINT) { return end[0] == 'b' ? 1u : 0u; });
    const auto t0 = vtr::platform::Now();
    EnterCriticalSection(&rec_->csCommand);
    EXPECT_EQ(kestrelGetStatusVDR(rec_, 0x300 | MCI_WAIT), MCIERR_HARDWARE);
    LeaveCriticalSection(&rec_->csCommand);
    EXPECT_LT(vtr::platform::Now() - t0,
              std::chrono::seconds(end[0] == 'b' ? 2 : kVdrWaitPolls + 1));
  }
}

}  // namespace

// The send/acknowledge exchange and the command byte table, against the
// virtual deck and a scripted line, in virtual time.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>

#include "link/frames.h"
#include "link/serial.h"
#include "platform/clock.h"
#include "sim/names.h"
#include "tests/support/driver_fixture.h"
#include "tests/support/fake_line.h"

namespace vtr::test {
namespace {

using vtr::platform::Micros;
using vtr::platform::Now;
using vtr::sim::Fault;
using vtr::sim::FaultKind;

constexpr WORD kUnset = 0xBEEF;
// The acknowledgement's budget of empty reads, each paced 5 us.
constexpr Micros kAckBudgetTime{9499 * 5};

class Exchange : public DriverFixture {
 protected:
  void SetUp() override {
    DriverFixture::SetUp();
    ASSERT_EQ(OpenDevice(), 0u);
    rec_ = Record();
    deck_->ClearTrace();
  }
  DeviceRecord* rec_ = nullptr;
};

TEST_F(Exchange, AcknowledgementIsExactlyTenOneElevenWithinTheBudget) {
  struct Row {
    const char* what;
    std::optional<Fault> fault;
    MCIERROR result;
    bool lineError;  // wLastComErr written
    std::optional<Micros> elapsed;
  };
  constexpr auto kDrop = FaultKind::kDropByte, kDelay = FaultKind::kDelayByte;
  using namespace std::chrono_literals;
  const Row rows[] = {
      {"accepted", std::nullopt, 0, false, std::nullopt},
      {"refused", Fault{.kind = FaultKind::kNak}, 262, false, std::nullopt},
      {"accepted: the refusal's fourth byte was purged", std::nullopt, 0, false, std::nullopt},
      {"wrong checksum", Fault{.kind = FaultKind::kCorruptChecksum}, 262, false, std::nullopt},
      {"noise first", Fault{.kind = FaultKind::kNoise}, 262, false, std::nullopt},
      {"third byte lost", Fault{.kind = kDrop, .byte_index = 2}, 262, true, kAckBudgetTime},
      {"silent", Fault{.kind = FaultKind::kSilence}, 262, true, kAckBudgetTime},
      {"late within budget", Fault{.kind = kDelay, .byte_index = 2, .delay = 40ms}, 0, false, {}},
      {"late past budget", Fault{.kind = kDelay, .byte_index = 2, .delay = 50ms}, 262, true,
       kAckBudgetTime},
  };
  for (const auto& row : rows) {
    for (DWORD flag : {0u, 1u}) {
      SCOPED_TRACE(std::string(row.what) + (flag ? ", link busy" : ", link free"));
      Run(100);  // late bytes of the previous row land and are purged by the send
      deck_->ClearFaults();
      if (row.fault) deck_->InjectFault(*row.fault);
      fComInUse = flag;
      wLastComErr = kUnset;
      const Micros t0 = Now();
      EXPECT_EQ(kestrelSendCmd(rec_, STOP_422, 1), row.result);
      if (row.elapsed) {
        EXPECT_EQ(Now() - t0, *row.elapsed);
      }
      EXPECT_EQ(fComInUse, flag);
      EXPECT_EQ(wLastComErr != kUnset, row.lineError);
    }
  }
}

// Writes on a line that breaks after a number of bytes (STOP_422 is 20 00 +
// 20) and nobody answers: a one-way send reads nothing and needs no machine.
TEST(ExchangeWrites, FailedByteStopsTheBlockFailedChecksumDoesNot) {
  struct Row {
    std::size_t limit;
    DWORD waitAck;
    MCIERROR result;
    Bytes wire;
  } rows[] = {
      {0, 0, 262, {}},
      {1, 0, 262, {0x20}},
      {2, 0, 0, {0x20, 0x00}},  // the checksum write fails unreported
      {3, 0, 0, {0x20, 0x00, 0x20}},
      {SIZE_MAX, 1, 262, {0x20, 0x00, 0x20}},  // nobody answers
  };
  const auto line = std::make_shared<FakeLine>();
  LinkedRecord port(line);
  for (const auto& row : rows) {
    for (DWORD flag : {0u, 1u}) {
      line->Script({});
      line->breakAfter = row.limit;
      fComInUse = flag;
      wLastComErr = kUnset;
      EXPECT_EQ(kestrelSendCmd(&port.rec, STOP_422, row.waitAck), row.result) << row.limit;
      EXPECT_EQ(line->received, row.wire) << row.limit;
      EXPECT_EQ(line->reads == 0, row.waitAck == 0) << row.limit;
      EXPECT_EQ(wLastComErr != kUnset, row.result != 0) << row.limit;
      EXPECT_EQ(fComInUse, flag) << row.limit;
    }
  }
  fComInUse = 0;
  // A count byte of 0 sends the checksum alone.
  line->Script({});
  line->breakAfter = SIZE_MAX;
  BYTE empty[] = {0};
  EXPECT_EQ(kestrelSendCmd(&port.rec, empty, 0), 0u);
  EXPECT_EQ(line->received, Bytes{0x00});
}

// Every entry: a unique name, a count byte that matches its command code, a
// frame that starts as the initial data, those bytes on the wire, and command
// bytes the virtual deck (which keeps its own list) knows by the same name.
TEST(CommandTable, EveryEntryIsWellFormedAndGoesOutAsItsFrame) {
  ResetCommandTable();
  const auto line = std::make_shared<FakeLine>();
  LinkedRecord port(line);
  std::set<std::string> names;
  for (const CommandEntry& e : CommandTable()) {
    const Bytes initial(e.lpInitial + 1, e.lpInitial + 1 + e.lpInitial[0]);
    EXPECT_TRUE(names.insert(e.szName).second) << "duplicate " << e.szName;
    EXPECT_EQ(Bytes(e.lpFrame + 1, e.lpFrame + 1 + e.lpFrame[0]), initial) << e.szName;
    EXPECT_EQ(e.lpInitial[0], 2 + (e.lpInitial[1] & 0x0F)) << e.szName;
    EXPECT_EQ(vtr::sim::CommandName(initial), e.szName);
    line->Script({});
    EXPECT_EQ(kestrelSendCmd(&port.rec, e.lpFrame, 0), 0u);
    EXPECT_EQ(line->received, WithSum(initial)) << e.szName;
  }
}

}  // namespace
}  // namespace vtr::test

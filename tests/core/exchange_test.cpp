// The send/acknowledge exchange and the command byte table, against the
// virtual deck and a scripted line, in virtual time.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "link/frames.h"
#include "link/serial.h"
#include "platform/clock.h"
#include "tests/core/scripted_port.h"
#include "tests/support/driver_fixture.h"

namespace {

using vtr::platform::Micros;
using vtr::platform::Now;
using vtr::sim::Fault;
using vtr::sim::FaultKind;
using vtr::test::Bytes;
using vtr::test::WithSum;

constexpr WORD kUnset = 0xBEEF;
// The acknowledgement's budget of empty reads, each paced 5 us.
constexpr Micros kAckBudgetTime{9499 * 5};

class Exchange : public vtr::test::DriverFixture {
 protected:
  void SetUp() override {
    DriverFixture::SetUp();
    ResetCommandTable();
    ASSERT_EQ(OpenDevice(), 0u);
    rec_ = Record();
    deck_->ClearTrace();
  }
  void TearDown() override {
    fComInUse = 0;
    ResetCommandTable();
    DriverFixture::TearDown();
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
      {"wrong checksum", Fault{.kind = FaultKind::kCorruptChecksum}, 262, false, std::nullopt},
      {"noise first", Fault{.kind = FaultKind::kNoise}, 262, false, std::nullopt},
      {"third byte lost", Fault{.kind = kDrop, .byte_index = 2}, 262, true, kAckBudgetTime},
      {"first byte lost", Fault{.kind = kDrop, .byte_index = 0}, 262, true, kAckBudgetTime},
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

TEST_F(Exchange, RefusalLeavesItsFourthByteForTheNextPurge) {
  deck_->InjectFault({.kind = FaultKind::kNak});
  EXPECT_EQ(kestrelSendCmd(rec_, STOP_422, 1), 262u);
  BYTE left = 0;
  EXPECT_EQ(ReadComm(rec_->hComm, &left, 1), 1);
  EXPECT_EQ(left, 0x24);  // checksum of 11 12 01

  deck_->InjectFault({.kind = FaultKind::kNak});
  EXPECT_EQ(kestrelSendCmd(rec_, STOP_422, 1), 262u);
  EXPECT_EQ(kestrelSendCmd(rec_, STOP_422, 1), 0u);
  EXPECT_EQ(SentNames(), (std::vector<std::string>{"STOP_422", "STOP_422", "STOP_422"}));
}

TEST_F(Exchange, OneWaySendsDoNotNeedAMachine) {
  deck_->InjectFault({.kind = FaultKind::kSilence, .times = Fault::kAlways});
  for (DWORD flag : {0u, 1u}) {
    fComInUse = flag;
    const Micros t0 = Now();
    EXPECT_EQ(kestrelSendCmd(rec_, STOP_422, 0), 0u);
    EXPECT_EQ(Now(), t0);  // no read at all
    EXPECT_EQ(fComInUse, flag);
  }
  // A line that is gone fails the first write.
  fComInUse = 0;
  deck_->SetConnected(false);
  wLastComErr = kUnset;
  EXPECT_EQ(kestrelSendCmd(rec_, STOP_422, 0), 262u);
  EXPECT_NE(wLastComErr, kUnset);
  EXPECT_EQ(fComInUse, 0u);
  deck_->SetConnected(true);
}

// Writes on a line that breaks after a number of bytes; STOP_422 is 20 00 + 20.
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
  vtr::test::ScriptedPort port;
  for (const auto& row : rows) {
    for (DWORD flag : {0u, 1u}) {
      port.line->Reset();
      port.line->BreakAfter(row.limit);
      fComInUse = flag;
      wLastComErr = kUnset;
      EXPECT_EQ(kestrelSendCmd(&port.rec, STOP_422, row.waitAck), row.result) << row.limit;
      EXPECT_EQ(port.line->Received(), row.wire) << row.limit;
      EXPECT_EQ(wLastComErr != kUnset, row.result != 0) << row.limit;
      EXPECT_EQ(fComInUse, flag) << row.limit;
    }
  }
  fComInUse = 0;
  // A count byte of 0 sends the checksum alone.
  port.line->Reset();
  BYTE empty[] = {0};
  EXPECT_EQ(kestrelSendCmd(&port.rec, empty, 0), 0u);
  EXPECT_EQ(port.line->Received(), Bytes{0x00});
}

TEST(ExchangeWrites, AnEntrySentUnfilledCarriesItsLastData) {
  vtr::test::ScriptedPort port;
  ResetCommandTable();
  auto sendShuttle = [&] {
    port.line->Reset();
    kestrelSendCmd(&port.rec, SHTL_FWD_422, 0);
    return port.line->Received();
  };
  EXPECT_EQ(sendShuttle(), WithSum({0x21, 0x13, 0x60}));
  SHTL_FWD_422[3] = 0x20;
  EXPECT_EQ(sendShuttle(), WithSum({0x21, 0x13, 0x20}));
  kestrelSendCmd(&port.rec, PAUSE_422, 0);  // same command, its own entry
  EXPECT_EQ(sendShuttle(), WithSum({0x21, 0x13, 0x20}));
  ResetCommandTable();
  EXPECT_EQ(sendShuttle(), WithSum({0x21, 0x13, 0x60}));
}

Bytes Hex(const std::string& s) {
  Bytes b;
  std::istringstream in(s);
  unsigned v = 0;
  while (in >> std::hex >> v) b.push_back(static_cast<std::uint8_t>(v));
  return b;
}

// Every entry as listed: name, bytes 1..N with the initial data.
const std::map<std::string, std::string> kListing = {
    // clang-format off
    {"LOC_DISABLE_422", "00 0C"}, {"DEV_TYPE_422", "00 11"}, {"LOC_ENABLE_422", "00 1D"},
    {"STOP_422", "20 00"}, {"PLAY_422", "20 01"}, {"REC_422", "20 02"}, {"STND_BYOFF_422", "20 04"},
    {"STND_BYON_422", "20 05"}, {"EJECT_422", "20 0F"}, {"FAST_FWD_422", "20 10"},
    {"JOG_FWD_422", "21 11 00"}, {"VAR_FWD_422", "21 12 00"}, {"SHTL_FWD_422", "21 13 60"},
    {"STEP_FWD_422", "20 14"}, {"FAST_REV_422", "20 20"}, {"JOG_REV_422", "21 21 00"},
    {"VAR_REV_422", "21 22 00"}, {"SHTL_REV_422", "21 23 60"}, {"STEP_REV_422", "20 24"},
    {"PREROLL_422", "20 30"}, {"CUE_DATA_422", "24 31 00 00 00 00"},
    {"CUE_SRCH_422", "25 31 00 00 00 00 00"}, {"PREVIEWV_422", "20 40"}, {"REVIEWV_422", "20 41"},
    {"AUTOEDIT_422", "20 42"}, {"OUTPREV_422", "20 43"}, {"DMCFWD_422", "21 5C 00"},
    {"DMCREV_422", "21 5D 00"}, {"EMODEOFF_422", "20 60"}, {"EMODEON_422", "20 61"},
    {"SELECTEEON_422", "20 63"}, {"EDITOFF_422", "20 64"}, {"EDITON_422", "20 65"},
    {"PAUSE_422", "21 13 00"}, {"TIMER1PRE_422", "44 00 00 00 00 00"},
    {"TCPRE_422", "44 04 00 00 00 00"}, {"UBPRE_422", "44 05 00 00 00 00"},
    {"TIMER1RST_422", "40 08"}, {"INENTRY_422", "40 10"}, {"OUTENTRY_422", "40 11"},
    {"AINENTRY_422", "40 12"}, {"AOUTENTRY_422", "40 13"}, {"INDATA_422", "44 14 00 00 00 00"},
    {"OUTDATA_422", "44 15 00 00 00 00"}, {"AINDATA_422", "44 16 00 00 00 00"},
    {"AOUTDATA_422", "44 17 00 00 00 00"}, {"INPLUS_422", "40 18"}, {"INMINUS_422", "40 19"},
    {"OUTPLUS_422", "40 1A"}, {"OUTMINUS_422", "40 1B"}, {"AINPLUS_422", "40 1C"},
    {"AINMINUS_422", "40 1D"}, {"AOUTPLUS_422", "40 1E"}, {"AOUTMINUS_422", "40 1F"},
    {"INFLAGRST_422", "40 20"}, {"OUTFLAGRST_422", "40 21"}, {"AINFLAGRST_422", "40 22"},
    {"AOUTFLAGRST_422", "40 23"}, {"INRECALL_422", "40 24"}, {"OUTRECALL_422", "40 25"},
    {"AINRECALL_422", "40 26"}, {"AOUTRECALL_422", "40 27"}, {"LLOCRESET_422", "40 2D"},
    {"EDITPRE_422", "41 30 50"}, {"PRETIME_422", "44 31 00 00 00 00"},
    {"COLORFRAME_422", "41 35 00"}, {"TIMEMODE_422", "41 36 00"}, {"PBFRMSEL_422", "41 38 00"},
    {"RECFRMSEL_422", "41 39 00"}, {"EDITFLDSEL_422", "41 3A 00"}, {"TCGENSENSE_422", "61 0A 00"},
    {"CURTCSENSE_422", "61 0C 03"}, {"CURUBSENSE_422", "61 0C 30"}, {"INSENSE_422", "60 10"},
    {"OUTSENSE_422", "60 11"}, {"AINSENSE_422", "60 12"}, {"AOUTSENSE_422", "60 13"},
    {"STATSENSE_422", "61 20 06"}, {"TMODESENSE_422", "60 36"}, {"ISZDKR_422", "E0 FF"},
    {"STATSENSE_VDR", "E1 11 02"}, {"VDR_AUTOPLAY", "E0 15"}, {"VDR_DUALPLAY_ON", "E0 2A"},
    {"VDR_DUALPLAY_OFF", "E0 2B"}, {"VDR_AUTOMODE_ON", "40 41"}, {"VDR_AUTOMODE_OFF", "40 40"},
    {"SETZDKR_VTR_TYPE", "C1 08 2D"}, {"GETZDKR_VTR_TYPE", "C0 09"},
    {"SETZDKR_DISPLAY_IMAGE", "C1 10 01"}, {"SETZDKR_TC_TYPE", "C1 18 01"},
    {"GETZDKR_TC_TYPE", "C0 19"}, {"SETZDKR_QUALITY", "C1 1A 32"}, {"GETZDKR_QUALITY", "C0 1B"},
    {"SETZDKR_GENLOCK", "C1 1C 01"}, {"GETZDKR_GENLOCK", "C0 1D"},
    {"SETZDKR_GENLOCK_TYPE", "C1 1E 01"}, {"GETZDKR_GENLOCK_TYPE", "C0 1F"},
    {"SETZDKR_EDIT_ON_DUR", "C1 38 08"}, {"GETZDKR_EDIT_ON_DUR", "C0 39"},
    {"SETZDKR_EDIT_OFF_DUR", "C1 3A 07"}, {"GETZDKR_EDIT_OFF_DUR", "C0 3B"},
    {"SETZDKR_VIDEO", "C1 50 00"}, {"GETZDKR_VIDEO", "C0 51"}, {"SETZDKR_SETUP", "C1 52 00"},
    {"GETZDKR_SETUP", "C0 53"}, {"SETZDKR_HUE", "C1 54 00"}, {"GETZDKR_HUE", "C0 55"},
    {"SETZDKR_CHROMA", "C1 56 00"}, {"GETZDKR_CHROMA", "C0 57"}, {"SETZDKR_PVIDEO", "C1 58 00"},
    {"GETZDKR_PVIDEO", "C0 59"}, {"SETZDKR_PSETUP", "C1 5A 00"}, {"GETZDKR_PSETUP", "C0 5B"},
    {"SETZDKR_PHUE", "C1 5C 00"}, {"GETZDKR_PHUE", "C0 5D"}, {"SETZDKR_PCHROMA", "C1 5E 00"},
    {"GETZDKR_PCHROMA", "C0 5F"}, {"SETZDKR_INPUT", "C1 60 01"}, {"GETZDKR_INPUT", "C0 61"},
    {"SETZDKR_CHROMA_HUE", "C1 66 80"}, {"GETZDKR_CUR_CHROMA", "C0 67"},
    {"SETZDKR_CHROMA_SATURATION", "C1 68 1F"}, {"GETZDKR_CUR_CHROMA_SATURATION", "C0 69"},
    {"SETZDKR_CHROMA_U_SATURATION", "C1 6A 00"}, {"GETZDKR_CUR_CHROMA_U_SATURATION", "C0 6B"},
    {"SETZDKR_CHROMA_V_SATURATION", "C1 6C 00"}, {"GETZDKR_CUR_CHROMA_V_SATURATION", "C0 6D"},
    {"SETZDKR_LUMA", "C1 70 00"}, {"GETZDKR_CUR_LUMINANCE", "C0 71"},
    {"SETZDKR_LUMA_BRIGHTNESS", "C1 72 1F"}, {"GETZDKR_CUR_LUMA_BRIGHTNESS", "C0 73"},
    {"SETZDKR_CONTRAST_BRIGHTNESS", "C1 74 1F"}, {"GETZDKR_CUR_CONTRAST_BRIGHTNESS", "C0 75"},
    {"SETZDKR_LUMA_CORING", "C1 76 01"}, {"GETZDKR_CUR_LUMA_CORING", "C0 77"},
    {"SETZDKR_LUMA_SHARPNESS", "C1 78 07"}, {"GETZDKR_CUR_LUMA_SHARPNESS", "C0 79"},
    {"SETZDKR_ENCODER_CHROMA_BAND", "C1 80 00"}, {"GETZDKR_ENCODER_CHROMA_BAND", "C0 81"},
    {"SETZDKR_HORIZONTAL_PHASE", "C1 82 2E"}, {"GETZDKR_HORIZONTAL_PHASE", "C0 83"},
    {"SETZDKR_SUB_CARRIER_PHASE", "C1 84 7F"}, {"GETZDKR_SUB_CARRIER_PHASE", "C0 85"},
    {"SETZDKR_COMP_OUT_BLANK_PED", "C1 8A 00"}, {"GETZDKR_COMP_OUT_BLANK_PEDESTAL", "C0 8B"},
    {"SETZDKR_COMP_OUT_CORING", "C1 8C 01"}, {"GETZDKR_COMP_OUT_CORING", "C0 8D"},
    {"SETZDKR_COMP_OUT_PEAKING", "C1 8E 01"}, {"GETZDKR_COMP_OUT_PEAKING", "C0 8F"},
    {"GETZDKR_AUDIO_INPUTS", "C0 90"}, {"GETZDKR_AUDIO_OUTPUTS", "C0 91"},
    {"SETZDKR_AUDIO_IN_LEVEL", "C2 92 01 7F"}, {"GETZDKR_AUDIO_IN_LEVEL", "C1 93 00"},
    {"SETZDKR_AUDIO_OUT_LEVEL", "C2 9C 01 7F"}, {"GETZDKR_AUDIO_OUT_LEVEL", "C1 9D 00"},
    {"SETZDKR_AUDIO_PLAY_LEVEL", "C2 9E 01 7F"}, {"GETZDKR_AUDIO_PLAY_LEVEL", "C1 9F 00"},
    {"SETZDKR_SHUTDOWN_DEVICE", "C0 EF"},
    // clang-format on
};

TEST(CommandTable, EveryEntryMatchesTheListingAndGoesOutAsListed) {
  ResetCommandTable();
  vtr::test::ScriptedPort port;
  std::map<std::string, Bytes> seen;
  for (const CommandEntry& e : CommandTable()) {
    const Bytes initial(e.lpInitial + 1, e.lpInitial + 1 + e.lpInitial[0]);
    EXPECT_TRUE(seen.emplace(e.szName, initial).second) << "duplicate " << e.szName;
    EXPECT_EQ(Bytes(e.lpFrame + 1, e.lpFrame + 1 + e.lpFrame[0]), initial) << e.szName;
    EXPECT_EQ(e.lpInitial[0], 2 + (e.lpInitial[1] & 0x0F)) << e.szName;
    port.line->Reset();
    EXPECT_EQ(kestrelSendCmd(&port.rec, e.lpFrame, 0), 0u);
    EXPECT_EQ(port.line->Received(), WithSum(initial)) << e.szName;
  }
  std::map<std::string, Bytes> listed;
  for (const auto& [name, hex] : kListing) listed[name] = Hex(hex);
  EXPECT_EQ(seen, listed);
}

TEST(CommandTable, BlocksAreNamedByCodeOrByTheirNamingDataByte) {
  const std::pair<const char*, const char*> rows[] = {
      {"21 13 00", "PAUSE_422"},       {"21 13 60", "SHTL_FWD_422"},
      {"21 13 20", "SHTL_FWD_422"},    {"21 13", "SHTL_FWD_422"},
      {"61 0C 30", "CURUBSENSE_422"},  {"61 0C 03", "CURTCSENSE_422"},
      {"61 0C 04", "CURTCSENSE_422"},  {"20 01", "PLAY_422"},
      {"24 31 01 02 03 04", "CUE_DATA_422"}, {"C1 54 12", "SETZDKR_HUE"},
      {"C0 55", "GETZDKR_HUE"},        {"40 41", "VDR_AUTOMODE_ON"},
      {"20", nullptr},                 {"7F 7F", nullptr},
  };
  for (const auto& [hex, name] : rows) EXPECT_STREQ(CommandName(Hex(hex)), name) << hex;
}

}  // namespace

// The driver spine: entry, device table, dispatch and the profile.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "commands/handlers.h"
#include "config/profile.h"
#include "tests/support/driver_fixture.h"

namespace vtr::test {
namespace {

// The driver-open table below has the plain names, "vcrN" and a null string.
TEST(DeviceName, NumbersAndSectionsFromTheParameterString) {
  struct Case {
    const char16_t* params;
    const char* section;
    DWORD number;
  } cases[] = {
      {u"videotape12", "videotape12", 12},
      {u"videotape123", "videotape12", 12},
      {u"", "videotape", 0},
      {u"a7b9", "videotape7", 7},
  };
  for (const auto& c : cases) {
    char section[16] = {};
    DWORD number = 99;
    FormDeviceName(c.params, section, &number);
    EXPECT_STREQ(section, c.section);
    EXPECT_EQ(number, c.number);
  }
}

class SpineTest : public DriverFixture {};

// Ten slots: an eleventh device fails, a freed slot is reused, and a second
// driver open for a number already open creates nothing.
TEST_F(SpineTest, DeviceTableHoldsTenNumbers) {
  for (UINT i = 0; i < 10; ++i) {
    const std::u16string params = u"videotape" + std::u16string(1, static_cast<char16_t>(u'0' + i));
    ASSERT_EQ(DriverOpen(params.c_str(), 10 + i, 500 + i), 10 + i);
  }
  EXPECT_EQ(DriverOpen(u"vcr5", 21, 601), 15u);
  EXPECT_EQ(Record(21), nullptr);
  EXPECT_EQ(DriverOpen(u"videotape42", 30, 530), 0u);
  DriverProc(0, reinterpret_cast<HDRVR>(static_cast<UINT_PTR>(503)), DRV_CLOSE, 0, 0);
  EXPECT_EQ(Record(13), nullptr);
  EXPECT_EQ(DriverOpen(u"videotape42", 30, 530), 30u);
  EXPECT_EQ(LoadSlotRecord(3), Record(30));
}

TEST_F(SpineTest, UnknownDeviceAnswers257WithoutTakingALock) {
  ASSERT_EQ(DriverOpen(u"videotape", 1, 101), 1u);
  // Another thread holds the device's lock and the link: the answer still comes at once.
  EnterCriticalSection(&Record(1)->csCommand);
  std::atomic<LRESULT> answer{-1};
  std::thread other([&] { answer = DriverProc(77, nullptr, MCI_STATUS, 0, 0); });
  other.join();
  LeaveCriticalSection(&Record(1)->csCommand);
  EXPECT_EQ(answer.load(), MCIERR_INVALID_DEVICE_ID);
}

// Every message with a null parameter block (and notify), the open first and
// the close last: a handler that reads its block answers 297 and the deck
// hears nothing; the others run, the handlerless answer 0 and the unlisted
// 261, all silently.
TEST_F(SpineTest, NullParameterBlockPerMessage) {
  const std::vector<UINT> readBlock = {MCI_ESCAPE,     MCI_PLAY, MCI_SEEK,     MCI_INFO,
                                       MCI_GETDEVCAPS, MCI_SET,  MCI_STEP,     MCI_RECORD,
                                       MCI_STATUS,     MCI_CUE,  MCI_SETAUDIO, MCI_LIST};
  const std::vector<UINT> vtrReadBlock = {MCI_VTR_SHUTTLE,    MCI_VTR_EDIT,    MCI_VTR_EDIT_STATUS,
                                          MCI_VTR_STRIPE,     MCI_VTR_SETZDKR, MCI_VTR_SETZDKRVID,
                                          MCI_VTR_SETZDKRAUD, MCI_VTR_GETZDKR, MCI_VTR_GETZDKRVID,
                                          MCI_VTR_GETZDKRAUD, MCI_VTR_VDR};
  const std::vector<UINT> runWithout = {MCI_STOP,     MCI_PAUSE,  MCI_BREAK,  MCI_FREEZE,
                                        MCI_UNFREEZE, MCI_VTR_FF, MCI_VTR_RW, MCI_VTR_CALIBRATE};
  const struct {
    DWORD answer;
    bool silent;
    std::vector<UINT> msgs;
  } cases[] = {
      {0, false, {MCI_OPEN_DRIVER}},
      {0, true, {MCI_OPEN, MCI_CLOSE, MCI_RESUME, MCI_SYSINFO, MCI_SETVIDEO}},
      {MCIERR_NULL_PARAMETER_BLOCK, true, readBlock},
      {MCIERR_NULL_PARAMETER_BLOCK, true, vtrReadBlock},
      {0, false, runWithout},
      {MCIERR_UNSUPPORTED_FUNCTION, true, {MCI_MARK, MCI_INDEX, MCI_SETTUNER}},
      {MCIERR_UNRECOGNIZED_COMMAND,
       true,
       {MCI_SPIN, MCI_SAVE, MCI_WHERE, MCI_LOAD, MCI_DELETE, 10}},
      {0, false, {MCI_CLOSE_DRIVER}},
  };
  ASSERT_EQ(DriverOpen(u"videotape", 1, 101), 1u);
  for (const auto& c : cases) {
    for (UINT msg : c.msgs) {
      deck_->ClearTrace();
      EXPECT_EQ(Send(msg, MCI_NOTIFY, nullptr), c.answer) << std::hex << msg;
      EXPECT_TRUE(!c.silent || deck_->Trace().empty()) << std::hex << msg;
    }
  }
  EXPECT_TRUE(host_.Notifications().empty());
}

// Where driver open finds the device's name: lpstrParams (Windows), else the
// text of lParam1 (Wine, once the module is loaded), else the MCI open's
// device name (Wine's first device), which reloads the record from its section.
TEST_F(SpineTest, DeviceNameFromTheFirstSourceThatHasOne) {
  struct Case {
    const char16_t* params;
    const char16_t* lParam1;
    const char16_t* openName;
    DWORD openFlags;
    const char* section;
    DWORD number;
    int preRoll;
  } cases[] = {
      {u"videotape4", u"videotape9", u"vcr7", MCI_OPEN_TYPE, "videotape4", 4, 14},
      {u"", u"videotape9", u"vcr7", MCI_OPEN_TYPE, "videotape9", 9, 19},
      {nullptr, nullptr, u"vcr7", MCI_OPEN_TYPE | MCI_OPEN_ALIAS, "videotape7", 7, 17},
      {nullptr, nullptr, u"vcr7", MCI_OPEN_TYPE | MCI_OPEN_TYPE_ID, "videotape", 0, 10},
      {nullptr, nullptr, u"player", MCI_OPEN_TYPE, "videotape", 0, 10},
      {nullptr, nullptr, nullptr, 0, "videotape", 0, 10},
  };
  profile_.WriteIni(
      "[videotape]\nVTRID=19\nPreRoll=10\n[videotape4]\nVTRID=19\nPreRoll=14\n"
      "[videotape7]\nVTRID=19\nPreRoll=17\n[videotape9]\nVTRID=19\nPreRoll=19\n");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.section);
    ASSERT_EQ(DriverOpen(c.params, 1, 101, c.lParam1), 1u);
    ASSERT_EQ(Send(MCI_OPEN_DRIVER, c.openFlags, OpenBlock(c.openName).bytes), 0u);
    EXPECT_STREQ(Record()->szSection, c.section);
    EXPECT_EQ(Record()->nDeviceNumber, c.number);
    EXPECT_EQ(Record()->PreRoll, c.preRoll);
    EXPECT_STREQ(szRequestedSection, c.section);
    ASSERT_EQ(CloseDevice(), 0u);
    DriverProc(0, reinterpret_cast<HDRVR>(static_cast<UINT_PTR>(101)), DRV_CLOSE, 0, 0);
  }
}

TEST_F(SpineTest, DriverMessagesAnswerAsInstalled) {
  for (UINT msg : {DRV_QUERYCONFIGURE, DRV_INSTALL, DRV_DISABLE}) {
    EXPECT_EQ(DriverProc(0, nullptr, msg, 0, 0), 1) << msg;
  }
  EXPECT_EQ(DriverProc(0, nullptr, DRV_OPEN, 0, 0), 10000);  // no parameter block
  EXPECT_EQ(LoadSlotRecord(0), nullptr);
  MCI_OPEN_DRIVER_PARMS op{3, u"videotape", 0, 0};
  DriverProc(0, reinterpret_cast<HDRVR>(static_cast<UINT_PTR>(103)), DRV_OPEN, 0,
             reinterpret_cast<LPARAM>(&op));
  EXPECT_EQ(op.wCustomCommandTable, 7u);  // the table the host loaded at DRV_LOAD
  EXPECT_EQ(op.wType, MCI_DEVTYPE_VCR);
  host_.SetTableHandle(MCI_NO_COMMAND_TABLE);
  EXPECT_EQ(DriverProc(0, nullptr, DRV_LOAD, 0, 0), 0);
  host_.SetTableHandle(7);
}

// ---- the profile ----------------------------------------------------------

class ProfileTest : public ::testing::Test {
 protected:
  TempProfileDir dir_;
  DeviceRecord Load(const char* section) {
    DeviceRecord rec;
    std::memset(&rec, 0, sizeof(rec));
    InitDevStruct(&rec);
    LoadDevINI(section, &rec);
    return rec;
  }
};

TEST_F(ProfileTest, AbsentKeysKeepDefaultsAndNarrowingFollowsTheFieldWidth) {
  dir_.WriteIni(
      "; written by hand\n[Videotape1]\nCanEdit=0\nEditIn=-4\nPreset=65535\nBumpFwdCmd=357\n"
      "ComAddr=9\nUseWinCom=0\nAudioTracks=65540\nUnknownKey=5\n[other]\nVTRID=3\n");
  DeviceRecord rec = Load("videotape1");
  EXPECT_EQ(rec.CanAuto, 0u);  // follows "CanEdit"
  EXPECT_EQ(rec.EditIn, -4);
  EXPECT_EQ(rec.Preset, -1);
  EXPECT_EQ(rec.BumpFwdCmd, 101);
  EXPECT_EQ(rec.AudioTracks, 4);
  EXPECT_EQ(rec.ComAddr, 0);
  EXPECT_EQ(rec.UseWinCom, 1u);
  EXPECT_EQ(rec.VTRID, 56u);
  EXPECT_EQ(rec.PreRoll, 300);

  SaveDevINI("videotape1", &rec);
  const std::string ini = dir_.ReadIni();
  for (const char* line : {"Preset=-1", "BumpFwdCmd=101", "UseWinCom=1", "ComAddr=0",
                           "VTRName=Sony Auto Detect (on next open)"}) {
    EXPECT_NE(ini.find(line), std::string::npos) << line;
  }
  const DeviceRecord again = Load("videotape1");
  EXPECT_EQ(std::memcmp(&again.ComPort, &rec.ComPort,
                        offsetof(DeviceRecord, csCommand) - offsetof(DeviceRecord, ComPort)),
            0);
}

}  // namespace
}  // namespace vtr::test

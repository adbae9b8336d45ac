// The configuration dialogs through DRV_CONFIGURE and the POSIX dialog
// manager, driven by a script in place of a user.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "commands/resource/module_resources.h"
#include "dialogs/dialog_ids.h"
#include "dialogs/dialogs.h"
#include "sim/personalities.h"
#include "platform/dialogs.h"
#include "platform/serial_ports.h"
#include "tests/support/driver_fixture.h"

namespace vtr::test {
namespace {

using platform::ChooseEntry;
using platform::ClickControl;
using platform::FindDialogControl;
using platform::TypeText;

using Action = std::function<void(HWND)>;
using Script = std::map<std::string, Action>;  // template name -> what the user does

// Clicks the controls in order.
Action Press(std::vector<int> ids) {
  return [ids](HWND h) {
    for (int id : ids) ClickControl(h, id);
  };
}

constexpr const char* kMain = "IDD_MAIN_SETTINGS";
constexpr const char* kHardware = "IDD_3_ADV_CAPABILITIES";
constexpr const char* kEditing = "IDD_4_ADV_EDITING";

class ConfigDialogTest : public DriverFixture {
 protected:
  std::string InitialProfile() override { return ""; }

  void SetUp() override {
    resource::RegisterModuleResources();  // as a loader maps the module
    DriverFixture::SetUp();               // a deck on COM2
    for (int n = 1; n <= 8; ++n) {
      if (n != kComPort) platform::BindPortPath(n, "/nonexistent/vtr422-port");
    }
    platform::SetDialogUi(&ui_);
  }
  void TearDown() override {
    platform::SetDialogUi(nullptr);
    for (int n = 1; n <= 8; ++n) {
      if (n != kComPort) platform::UnbindPort(n);
    }
    DriverFixture::TearDown();
  }

  // Ports that open, besides COM2 (which `keepCom2` decides).
  void Ports(const std::vector<int>& ports, bool keepCom2 = true) {
    if (!keepCom2) platform::BindPortPath(kComPort, "/nonexistent/vtr422-port");
    for (int n : ports) platform::BindVirtualPort(n, std::make_shared<sim::Deck>());
  }

  // DRV_CONFIGURE for the alias; each dialog that opens runs its script
  // action (Cancel when it has none).
  void Configure(Script script, const char16_t* alias = u"vcr3") {
    script_ = std::move(script);
    DRVCONFIGINFO info{sizeof(DRVCONFIGINFO), u"MCI", alias};
    EXPECT_EQ(
        DriverProc(0, nullptr, DRV_CONFIGURE, reinterpret_cast<LPARAM>(platform::ConsoleWindow()),
                   reinterpret_cast<LPARAM>(&info)),
        0);
  }

  static int Key(const char* key, const char* section = "videotape3") {
    return static_cast<int>(GetPrivateProfileIntA(section, key, -99999, "VTR.INI"));
  }
  static std::string Text(HWND h, int id) { return FindDialogControl(h, id)->text; }
  static int Selected(HWND h, int id) { return FindDialogControl(h, id)->selection; }
  static std::string SelectedText(HWND h, int id) {
    const auto* c = FindDialogControl(h, id);
    return c->selection < 0 ? "" : c->items[static_cast<std::size_t>(c->selection)];
  }
  // The checked radio among ids first..last, or 0.
  static int CheckedRadio(HWND h, int first, int last) {
    for (int id = first; id <= last; ++id) {
      if (FindDialogControl(h, id)->checked) return id;
    }
    return 0;
  }

  Script script_;
  std::vector<std::string> opened_;
  platform::ScriptedDialogUi ui_{[this](HWND h) {
    const std::string name = platform::DialogTemplateOf(h).name;
    opened_.push_back(name);
    auto it = script_.find(name);
    if (it != script_.end()) it->second(h);
    if (!platform::DialogEnded(h)) ClickControl(h, IDCANCEL);
  }};
};

TEST(DialogTemplates, UnknownControlTypeIsNamedInTheError) {
  std::vector<platform::DialogTemplate> out;
  std::string error;
  EXPECT_FALSE(platform::ParseDialogScript(
      "X DIALOGEX 0, 0, 10, 10\nBEGIN\n  SLIDER 1, 2, 3, 4, 5\nEND", "", out, error));
  EXPECT_NE(error.find("SLIDER"), std::string::npos);
}

TEST_F(ConfigDialogTest, ConfigureOpensTheMainDialogOnlyForAParentAndAMatchingBlock) {
  struct Case {
    bool parent;
    DWORD size;
    bool shown;
  } cases[] = {
      {true, sizeof(DRVCONFIGINFO), true},
      {false, sizeof(DRVCONFIGINFO), false},
      {true, sizeof(DRVCONFIGINFO) - 1, false},
      {true, 0, false},
  };
  for (const auto& c : cases) {
    opened_.clear();
    DRVCONFIGINFO info{c.size, nullptr, nullptr};
    const LPARAM parent = c.parent ? reinterpret_cast<LPARAM>(platform::ConsoleWindow()) : 0;
    EXPECT_EQ(DriverProc(0, nullptr, DRV_CONFIGURE, parent, reinterpret_cast<LPARAM>(&info)), 0);
    EXPECT_EQ(opened_.size(), c.shown ? 1u : 0u) << c.size;
  }
  EXPECT_EQ(
      DriverProc(0, nullptr, DRV_CONFIGURE, reinterpret_cast<LPARAM>(platform::ConsoleWindow()), 0),
      0);  // no block
  EXPECT_EQ(opened_.size(), 0u);
}

// What the main dialog shows as it starts, and what OK then writes.
TEST_F(ConfigDialogTest, MainDialogStartsFromTheSectionAndOkWritesIt) {
  struct Case {
    const char* name;
    std::string profile;
    std::vector<int> ports;  // open besides COM2
    bool com2;
    std::vector<int> heldOpen;
    int model;         // selected entry of the model list
    const char* port;  // selected port entry ("" for none)
    int editType, timeCode, video;
    int comPortSaved;
  } cases[] = {
      // clang-format off
      {"first run, no section", "", {}, true, {}, 0, "COM2", IDC_ET_PLAYER, IDC_TC_AUTO, IDC_NTSC, 2},
      {"first run, no COM2", "", {3, 5}, false, {}, 0, "COM3", IDC_ET_PLAYER, IDC_TC_AUTO, IDC_NTSC, 3},
      {"detect", "VTRID=56\nCanRecord=1\n", {}, true, {}, 56, "COM2", IDC_ET_REC_PAUSE, IDC_TC_AUTO,
       IDC_NTSC, 2},
      {"beyond the table", "VTRID=70\n", {}, true, {}, 56, "COM2", IDC_ET_PLAYER, IDC_TC_AUTO,
       IDC_NTSC, 2},
      {"stored port found", "VTRID=19\nComPort=5\nTimerSelect=1\nPal=1\n", {5}, true, {}, 19, "COM5",
       IDC_ET_PLAYER, IDC_TC_LTC, IDC_PAL, 5},
      {"stored port above the probe", "ComPort=9\nTimerSelect=4\n", {5}, true, {}, 0, "COM2",
       IDC_ET_PLAYER, IDC_TC_CTL, IDC_NTSC, 2},
      {"stored port in use", "ComPort=5\nTimerSelect=7\n", {5, 7}, false, {5}, 0, "COM7",
       IDC_ET_PLAYER, IDC_TC_AUTO, IDC_NTSC, 7},
      {"no port at all", "ComPort=2\nTimerSelect=2\n", {}, false, {}, 0, "", IDC_ET_PLAYER,
       IDC_TC_VITC, IDC_NTSC, 0},
      {"edit on/off", "CanRecord=1\nCanInsVid=1\nCanAuto=0\n", {}, true, {}, 0, "COM2",
       IDC_ET_EDIT_ON_OFF, IDC_TC_AUTO, IDC_NTSC, 2},
      {"auto edit", "CanRecord=1\nCanInsVid=1\nCanAuto=1\n", {}, true, {}, 0, "COM2",
       IDC_ET_AUTO_EDIT, IDC_TC_AUTO, IDC_NTSC, 2},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    profile_.WriteIni(c.profile.empty() ? "" : "[videotape3]\n" + c.profile);
    Ports(c.ports, c.com2);
    std::vector<HANDLE> held;
    for (int n : c.heldOpen)
      held.push_back(CreateFileA(("COM" + std::to_string(n)).c_str(), GENERIC_READ | GENERIC_WRITE,
                                 0, nullptr, OPEN_EXISTING, 0, nullptr));
    Configure({{kMain, [&](HWND h) {
                  EXPECT_EQ(Selected(h, IDC_VTR_NAME), c.model);
                  const auto& models = FindDialogControl(h, IDC_VTR_NAME)->items;
                  ASSERT_EQ(models.size(), 57u);
                  EXPECT_EQ(models[19], "Sony BVW-75");
                  EXPECT_EQ(models[56], "AUTO DETECT (next driver open)");
                  EXPECT_EQ(SelectedText(h, IDC_COM_PORT), c.port);
                  EXPECT_EQ(CheckedRadio(h, IDC_ET_PLAYER, IDC_ET_AUTO_EDIT), c.editType);
                  EXPECT_EQ(CheckedRadio(h, IDC_TC_AUTO, IDC_TC_LTC), c.timeCode);
                  EXPECT_EQ(CheckedRadio(h, IDC_NTSC, IDC_PAL), c.video);
                  ClickControl(h, IDOK);
                }}});
    for (HANDLE h : held) CloseHandle(h);
    EXPECT_EQ(Key("VTRID"), c.model);
    EXPECT_EQ(Key("ComPort"), c.comPortSaved);
    EXPECT_EQ(Key("UseWinCom"), 1);
    for (int n : c.ports) platform::UnbindPort(n);
  }
}

// The user's changes on the three dialogs and what the section holds after.
TEST_F(ConfigDialogTest, ChangesReachTheProfileOnlyThroughOkOrSetDefault) {
  struct Case {
    const char* name;
    std::string profile;
    Script script;
    const char* expected;        // "Key=value ...", -99999: key absent
    const char* text = nullptr;  // a line the file must hold
  } cases[] = {
      {"model, port, PAL, LTC, rec/pause",
       "",
       {{kMain,
         [](HWND h) {
           ChooseEntry(h, IDC_VTR_NAME, 19);
           ChooseEntry(h, IDC_COM_PORT, 1);
           ClickControl(h, IDC_PAL);
           ClickControl(h, IDC_TC_LTC);
           ClickControl(h, IDC_ET_REC_PAUSE);
           ClickControl(h, IDOK);
         }}},
       "VTRID=19 ComPort=5 Pal=1 TimerSelect=1 CanRecord=1 CanEdit=0 CanAuto=0 CanAssemble=1 "
       "CanInsVid=0 CanInsTC=0",
       "VTRName=Sony BVW-75"},
      {"edit on/off preset",
       "",
       {{kMain, Press({IDC_ET_EDIT_ON_OFF, IDOK})}},
       "CanRecord=1 CanEdit=1 CanAuto=0 CanAssemble=1 CanInsVid=1 CanInsAud=1 CanInsTC=1"},
      {"auto edit preset over a player section",
       "VTRID=2\nCanCue=0\n",
       {{kMain, Press({IDC_ET_AUTO_EDIT, IDOK})}},
       "VTRID=2 CanCue=0 CanRecord=1 CanAuto=1 CanInsAud=1",
       "VTRName=Sony BVU-800"},
      {"a device opened meanwhile leaves the dialog its section",
       "",
       {{kMain,
         [this](HWND h) {
           DriverOpen(u"videotape7", 7, 707);
           ChooseEntry(h, IDC_VTR_NAME, 19);
           ClickControl(h, IDOK);
         }}},
       "VTRID=19"},
      {"cancel writes nothing",
       "",
       {{kMain,
         [](HWND h) {
           ChooseEntry(h, IDC_VTR_NAME, 19);
           ClickControl(h, IDC_PAL);
           ClickControl(h, IDCANCEL);
         }}},
       "VTRID=-99999 Pal=-99999"},
      {"set default writes at once and survives cancel",
       "VTRID=19\nPreRoll=10\nCanCue=0\n",
       {{kMain,
         [](HWND h) {
           ClickControl(h, IDC_SET_DEFAULT);
           EXPECT_EQ(Selected(h, IDC_VTR_NAME), 56);
           EXPECT_EQ(SelectedText(h, IDC_COM_PORT), "COM2");
           EXPECT_EQ(CheckedRadio(h, IDC_ET_PLAYER, IDC_ET_AUTO_EDIT), IDC_ET_AUTO_EDIT);
           EXPECT_FALSE(platform::DialogEnded(h));
           ClickControl(h, IDCANCEL);
         }}},
       "VTRID=56 ComPort=2 CanCue=1 CanInsTC=1 PreRoll=300 RecPreRoll=120 InsPreRoll=300 "
       "PostRoll=60 BumpFwdCmd=101",
       "VTRName=Sony Auto Detect (on next open)"},
      {"hardware: flags, timer, numbers; main OK keeps its own time code",
       "CanRecord=1\nCanInsVid=1\nCanAuto=1\nCanCue=1\nHasLTC=0\nSpeedChgDelay=-3\nLTCTrack=2\n"
       "TimerSelect=1\n",
       {{kMain, Press({IDC_HARDWARE, IDOK})},
        {kHardware,
         [](HWND h) {
           EXPECT_TRUE(FindDialogControl(h, IDC_CAN_CUE)->checked);
           EXPECT_FALSE(FindDialogControl(h, IDC_HAS_LTC)->checked);
           EXPECT_EQ(CheckedRadio(h, IDC_TIMER_LTC, IDC_TIMER_CTL), IDC_TIMER_LTC);
           EXPECT_EQ(Text(h, IDC_SPEED_DELAY), "-3");
           ClickControl(h, IDC_CAN_CUE);
           ClickControl(h, IDC_HAS_LTC);
           ClickControl(h, IDC_TIMER_CTL);
           TypeText(h, IDC_SPEED_DELAY, " -7x");
           TypeText(h, IDC_LTC_TRACK, "abc");
           ClickControl(h, IDOK);
         }}},
       "CanCue=0 HasLTC=1 SpeedChgDelay=-7 LTCTrack=0 TimerSelect=1 CanAuto=1"},
      {"hardware cancel keeps the section's flags",
       "CanCue=1\n",
       {{kMain, Press({IDC_HARDWARE, IDOK})}, {kHardware, Press({IDC_CAN_CUE, IDCANCEL})}},
       "CanCue=1"},
      {"editing: defaults shown, byte and signed fields narrowed, empty kept",
       "",
       {{kMain, Press({IDC_SET_DEFAULT, IDC_EDITING, IDOK})},
        {kEditing,
         [](HWND h) {
           EXPECT_EQ(Text(h, IDC_BUMP_FWD), "101");
           EXPECT_EQ(Text(h, IDC_EDIT_IN), "-4");
           EXPECT_EQ(Text(h, IDC_PRESET), "-1");
           EXPECT_TRUE(FindDialogControl(h, IDC_BUMP_PLAY)->checked);
           TypeText(h, IDC_BUMP_FWD, "357");
           TypeText(h, IDC_PRESET, "65535");
           TypeText(h, IDC_PREROLL, "");
           TypeText(h, IDC_POSTROLL, "90");
           TypeText(h, IDC_IN_DELAY, "seven");
           ClickControl(h, IDC_BUMP_ONCE);
           ClickControl(h, IDOK);
         }}},
       "BumpFwdCmd=101 Preset=-1 PreRoll=300 PostRoll=90 InDelay=0 BumpOnce=1 BumpPlay=1"},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    profile_.WriteIni(c.profile.empty() ? "" : "[videotape3]\n" + c.profile);
    Ports({5});
    Configure(c.script);
    std::istringstream pairs(c.expected);
    for (std::string pair; pairs >> pair;) {
      const auto eq = pair.find('=');
      EXPECT_EQ(Key(pair.substr(0, eq).c_str()), std::stoi(pair.substr(eq + 1))) << pair;
    }
    if (c.text != nullptr) {
      EXPECT_NE(profile_.ReadIni().find(c.text), std::string::npos);
    }
    platform::UnbindPort(5);
  }
}

// The record keeps what the last run left for keys a new section lacks.
TEST_F(ConfigDialogTest, SectionNameComesFromTheAliasAndTheRecordCarriesOver) {
  Configure({{kMain, Press({IDC_SET_DEFAULT})}}, u"vcr12");
  EXPECT_EQ(Key("VTRID", "videotape12"), 56);
  Configure({{kMain, Press({IDOK})}}, nullptr);
  EXPECT_EQ(Key("PreRoll", "videotape"), 300);  // defaults of the last run, not zero
  EXPECT_EQ(Key("VTRID", "videotape"), 56);
}

// Model detection and the dialog save to the section of the device they
// belong to, whatever was opened or configured in between: vcr1 and vcr2 are
// driver-opened as Wine opens them (vcr1 named only by its MCI open, vcr2 by
// lParam1), vcr1's open and detection run while vcr3's dialog is up, and
// vcr2's after the dialog's OK.
TEST_F(ConfigDialogTest, DetectionAndTheDialogSaveToTheirOwnSections) {
  profile_.WriteIni("[videotape2]\nComPort=5\n");
  auto deckConfig = sim::DeckConfig::For(sim::GenericPersonality());
  deckConfig.device_type = 0xA000;  // the AU-650's code: model row 28
  platform::BindVirtualPort(5, std::make_shared<sim::Deck>(deckConfig));
  MCI_OPEN_DRIVER_PARMS op1{1, nullptr, 0, 0};
  MCI_OPEN_DRIVER_PARMS op2{2, nullptr, 0, 0};
  ASSERT_EQ(
      DriverProc(0, reinterpret_cast<HDRVR>(101), DRV_OPEN, 0, reinterpret_cast<LPARAM>(&op1)), 1);
  ASSERT_EQ(DriverProc(0, reinterpret_cast<HDRVR>(102), DRV_OPEN,
                       reinterpret_cast<LPARAM>(u"videotape2"), reinterpret_cast<LPARAM>(&op2)),
            2);
  Configure({{kMain, [this](HWND h) {
                EXPECT_EQ(Send(MCI_OPEN_DRIVER, MCI_OPEN_TYPE, OpenBlock(u"vcr1", 1).bytes, 1), 0u);
                ChooseEntry(h, IDC_VTR_NAME, 40);
                ClickControl(h, IDOK);
              }}});
  ASSERT_EQ(Send(MCI_OPEN_DRIVER, MCI_OPEN_TYPE, OpenBlock(u"vcr2", 2).bytes, 2), 0u);
  EXPECT_EQ(Key("VTRID", "videotape1"), 19);  // the BVW-75 on COM2
  EXPECT_EQ(Key("VTRID", "videotape2"), 28);  // the AU-650 on COM5
  EXPECT_EQ(Key("ComPort", "videotape2"), 5);
  EXPECT_EQ(Key("VTRID", "videotape3"), 40);  // the user's choice
  EXPECT_EQ(profile_.ReadIni().find("[videotape]"), std::string::npos);
}

}  // namespace
}  // namespace vtr::test

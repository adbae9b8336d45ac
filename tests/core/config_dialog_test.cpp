// The configuration dialogs through DRV_CONFIGURE and the POSIX dialog
// manager, driven by a script in place of a user: one table of what a run
// shows and what it leaves in "VTR.INI".
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "commands/resource/module_resources.h"
#include "dialogs/dialog_ids.h"
#include "platform/dialogs.h"
#include "platform/serial_ports.h"
#include "sim/personalities.h"
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

// The checked radio among ids first..last, or 0.
int CheckedRadio(HWND h, int first, int last) {
  for (int id = first; id <= last; ++id) {
    if (FindDialogControl(h, id)->checked) return id;
  }
  return 0;
}

// What the main dialog shows as it starts (or after "Set Default ").
struct Shown {
  int model = -1;  // selected entry of the model list; -1: not checked
  const char* port = "";
  int editType = 0, timeCode = 0, video = 0;
  std::vector<std::string> ports = {};  // the whole port list, when checked

  void Check(HWND h) const {
    EXPECT_EQ(FindDialogControl(h, IDC_VTR_NAME)->selection, model);
    const auto* list = FindDialogControl(h, IDC_COM_PORT);
    EXPECT_EQ(list->selection < 0 ? "" : list->items[static_cast<std::size_t>(list->selection)],
              port);
    EXPECT_EQ(CheckedRadio(h, IDC_ET_PLAYER, IDC_ET_AUTO_EDIT), editType);
    EXPECT_EQ(CheckedRadio(h, IDC_TC_AUTO, IDC_TC_LTC), timeCode);
    EXPECT_EQ(CheckedRadio(h, IDC_NTSC, IDC_PAL), video);
    if (!ports.empty()) {
      EXPECT_EQ(list->items, ports);
    }
  }
};

const Shown kNewDevice{56, "COM2", IDC_ET_AUTO_EDIT, IDC_TC_AUTO, IDC_NTSC};
Shown NewDeviceOn(const char* port, std::vector<std::string> ports) {
  Shown s = kNewDevice;
  s.port = port;
  s.ports = ports;
  return s;
}

struct DialogRun {
  const char* name = "";
  std::string lines = {};                    // of the section; empty: no section
  std::vector<int> open = {2};               // the ports that open (COM2 is the fixture's deck)
  bool held = false;                         // COM2 held by an open device while the dialog runs
  Shown shown = {};                          // checked as the main dialog starts
  Script script = {{kMain, Press({IDOK})}};  // a dialog without an action is cancelled
  const char* expected = "";                 // "Key=value ..." afterwards; -99999: absent
  const char* text = nullptr;                // a line the file must hold
  Script then = {};                          // a second run's script
  const char16_t* alias = u"vcr3";
  const char* section = "videotape3";
};

class ConfigDialogTest : public DriverFixture {
 protected:
  std::string InitialProfile() override { return ""; }

  void SetUp() override {
    resource::RegisterModuleResources();  // as a loader maps the module
    DriverFixture::SetUp();               // a deck on COM2
    platform::SetDialogUi(&ui_);
  }
  void TearDown() override {
    platform::SetDialogUi(nullptr);
    for (int n : kPorts) {
      if (n != kComPort) platform::UnbindPort(n);
    }
    DriverFixture::TearDown();
  }

  static constexpr int kPorts[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 99};
  // Of kPorts, those listed open, the others do not.
  void Ports(const std::vector<int>& open) {
    for (int n : kPorts) {
      if (std::find(open.begin(), open.end(), n) == open.end()) {
        platform::BindPortPath(n, "/nonexistent/vtr422-port");
      } else if (n != kComPort) {
        platform::BindVirtualPort(n, std::make_shared<sim::Deck>());
      }
    }
  }

  // DRV_CONFIGURE for the alias; each dialog that opens runs its script
  // action (Cancel when it has none).
  void Configure(Script script, const char16_t* alias, const Shown* shown = nullptr) {
    script_ = std::move(script);
    shown_ = shown;
    DRVCONFIGINFO info{sizeof(DRVCONFIGINFO), u"MCI", alias};
    EXPECT_EQ(DriverProc(0, nullptr, DRV_CONFIGURE, console_, reinterpret_cast<LPARAM>(&info)), 0);
  }

  const LPARAM console_ = reinterpret_cast<LPARAM>(platform::ConsoleWindow());  // a parent
  Script script_;
  const Shown* shown_ = nullptr;
  std::vector<std::string> opened_;
  platform::ScriptedDialogUi ui_{[this](HWND h) {
    const std::string name = platform::DialogTemplateOf(h).name;
    opened_.push_back(name);
    if (name == kMain && shown_ != nullptr && shown_->model >= 0) shown_->Check(h);
    auto it = script_.find(name);
    if (it != script_.end()) it->second(h);
    if (!platform::DialogEnded(h)) ClickControl(h, IDCANCEL);
  }};
};

TEST_F(ConfigDialogTest, ConfigureOpensTheMainDialogOnlyForAParentAndAMatchingBlock) {
  DRVCONFIGINFO full{sizeof(DRVCONFIGINFO), nullptr, nullptr}, shorter = full, empty = full;
  shorter.dwDCISize -= 1;
  empty.dwDCISize = 0;
  for (const auto& [parent, info, shown] : {std::tuple{console_, &full, 1u},
                                            {0, &full, 0u},
                                            {console_, &shorter, 0u},
                                            {console_, &empty, 0u},
                                            {console_, nullptr, 0u}}) {
    opened_.clear();
    EXPECT_EQ(DriverProc(0, nullptr, DRV_CONFIGURE, parent, reinterpret_cast<LPARAM>(info)), 0);
    EXPECT_EQ(opened_.size(), shown) << parent << " " << info;
  }
}

TEST_F(ConfigDialogTest, WhatARunShowsAndWhatItLeavesInTheProfile) {
  const Script cancel{{kMain, Press({IDCANCEL})}};
  // clang-format off
  const DialogRun cases[] = {
      // What the main dialog starts with (and OK writes).
      {.name = "no section: a new device's values, all written by OK", .shown = kNewDevice,
       .expected = "VTRID=56 ComPort=2 UseWinCom=1 CanCue=1 CanRecord=1 CanAuto=1 CanStep=1 "
                   "PreRoll=300 TimerSelect=3 Pal=0",
       .text = "VTRName=Sony Auto Detect (on next open)"},
      {.name = "a section of ComPort and VTRID keeps a new device's capabilities",
       .lines = "ComPort=2\nVTRID=19\n",
       .shown = {19, "COM2", IDC_ET_AUTO_EDIT, IDC_TC_AUTO, IDC_NTSC},
       .expected = "VTRID=19 ComPort=2 CanCue=1 CanRecord=1 CanEdit=1 CanInsVid=1 CanStep=1 "
                   "HasTC=1 RecInhibit=1 PreRoll=300 EditIn=-4 BumpFwdCmd=101"},
      {.name = "no section, no COM2: the first port that opens", .open = {3, 5},
       .shown = NewDeviceOn("COM3", {"COM3", "COM5"}), .expected = "ComPort=3"},
      {.name = "no port opens: COM2 as for a new device", .open = {},
       .shown = NewDeviceOn("COM2 (unavailable)", {"COM2 (unavailable)"}), .expected = "ComPort=2"},
      {.name = "the port is held by an open device: it stays", .lines = "ComPort=2\n",
       .open = {1, 2}, .held = true,
       .shown = NewDeviceOn("COM2 (unavailable)", {"COM1", "COM2 (unavailable)"}),
       .expected = "ComPort=2"},
      {.name = "the port does not open now: it stays, in its place", .lines = "ComPort=2\n",
       .open = {1, 3},
       .shown = NewDeviceOn("COM2 (unavailable)", {"COM1", "COM2 (unavailable)", "COM3"}),
       .expected = "ComPort=2"},
      {.name = "a port above COM8 is tried too", .lines = "ComPort=12\n", .open = {2, 12},
       .shown = NewDeviceOn("COM12", {"COM2", "COM12"}), .expected = "ComPort=12"},
      {.name = "a port no open accepts is replaced", .lines = "ComPort=99\n",
       .shown = NewDeviceOn("COM2", {"COM2"}), .expected = "ComPort=2"},
      {.name = "model, port, LTC, PAL, player from the section",
       .lines = "VTRID=19\nComPort=5\nTimerSelect=1\nPal=1\nCanRecord=0\n", .open = {2, 5},
       .shown = {19, "COM5", IDC_ET_PLAYER, IDC_TC_LTC, IDC_PAL},
       .expected = "VTRID=19 ComPort=5 TimerSelect=1 Pal=1 CanRecord=0 CanEdit=0 CanInsTC=0 "
                   "CanCue=1"},
      {.name = "beyond the model table, an unknown timer", .lines = "VTRID=70\nTimerSelect=7\n",
       .shown = kNewDevice, .script = cancel, .expected = "VTRID=70 TimerSelect=7"},
      {.name = "rec/pause shown and applied", .lines = "CanInsVid=0\nCanEdit=1\n",
       .shown = {56, "COM2", IDC_ET_REC_PAUSE, IDC_TC_AUTO, IDC_NTSC},
       .expected = "CanRecord=1 CanEdit=0 CanAuto=0 CanAssemble=1 CanInsVid=0 CanInsAud=0"},
      {.name = "edit on/off shown and applied", .lines = "CanAuto=0\nCanInsAud=0\n",
       .shown = {56, "COM2", IDC_ET_EDIT_ON_OFF, IDC_TC_AUTO, IDC_NTSC},
       .expected = "CanRecord=1 CanEdit=1 CanAuto=0 CanAssemble=1 CanInsVid=1 CanInsAud=1"},
      {.name = "without an alias the section is videotape", .expected = "VTRID=56",
       .alias = nullptr, .section = "videotape"},
      // The user's changes.
      {.name = "model, port, PAL, LTC, rec/pause", .open = {2, 5},
       .script = {{kMain, [](HWND h) {
         ChooseEntry(h, IDC_VTR_NAME, 19);
         ChooseEntry(h, IDC_COM_PORT, 1);
         Press({IDC_PAL, IDC_TC_LTC, IDC_ET_REC_PAUSE, IDOK})(h);
       }}},
       .expected = "VTRID=19 ComPort=5 Pal=1 TimerSelect=1 CanRecord=1 CanEdit=0 CanAuto=0 "
                   "CanAssemble=1 CanInsVid=0 CanInsTC=0",
       .text = "VTRName=Sony BVW-75"},
      {.name = "a device opened meanwhile leaves the dialog its section",
       .script = {{kMain, [this](HWND h) {
         DriverOpen(u"videotape7", 7, 707);
         ChooseEntry(h, IDC_VTR_NAME, 19);
         ClickControl(h, IDOK);
       }}},
       .expected = "VTRID=19"},
      {.name = "cancel writes nothing",
       .script = {{kMain, [](HWND h) {
         ChooseEntry(h, IDC_VTR_NAME, 19);
         ClickControl(h, IDC_PAL);
       }}},
       .expected = "VTRID=-99999 Pal=-99999"},
      {.name = "a cancelled edit is gone at the next run",
       .script = {{kMain, Press({IDC_EDITING, IDCANCEL})},
                  {kEditing, [](HWND h) {
                    TypeText(h, IDC_PREROLL, "10");
                    ClickControl(h, IDOK);
                  }}},
       .expected = "PreRoll=300", .then = {{kMain, Press({IDOK})}}},
      {.name = "set default writes at once and survives cancel",
       .lines = "VTRID=19\nPreRoll=10\nCanCue=0\nComPort=5\n", .open = {2, 5},
       .script = {{kMain, [](HWND h) {
         ClickControl(h, IDC_SET_DEFAULT);
         NewDeviceOn("COM2", {"COM2", "COM5"}).Check(h);
         EXPECT_FALSE(platform::DialogEnded(h));
       }}},
       .expected = "VTRID=56 ComPort=2 CanCue=1 CanInsTC=1 PreRoll=300 RecPreRoll=120 "
                   "InsPreRoll=300 PostRoll=60 BumpFwdCmd=101",
       .text = "VTRName=Sony Auto Detect (on next open)"},
      {.name = "hardware: flags, timer, numbers; main OK keeps its own time code",
       .lines = "HasLTC=0\nSpeedChgDelay=-3\nTimerSelect=1\n",
       .script = {{kMain, Press({IDC_HARDWARE, IDOK})}, {kHardware, [](HWND h) {
         EXPECT_TRUE(FindDialogControl(h, IDC_CAN_CUE)->checked);
         EXPECT_FALSE(FindDialogControl(h, IDC_HAS_LTC)->checked);
         EXPECT_EQ(CheckedRadio(h, IDC_TIMER_LTC, IDC_TIMER_CTL), IDC_TIMER_LTC);
         EXPECT_EQ(FindDialogControl(h, IDC_SPEED_DELAY)->text, "-3");
         TypeText(h, IDC_SPEED_DELAY, " -7x");
         TypeText(h, IDC_LTC_TRACK, "abc");
         Press({IDC_CAN_CUE, IDC_HAS_LTC, IDC_TIMER_CTL, IDOK})(h);
       }}},
       .expected = "CanCue=0 HasLTC=1 SpeedChgDelay=-7 LTCTrack=0 TimerSelect=1 CanAuto=1"},
      {.name = "hardware cancel keeps the section's flags", .lines = "CanCue=1\n",
       .script = {{kMain, Press({IDC_HARDWARE, IDOK})},
                  {kHardware, Press({IDC_CAN_CUE, IDCANCEL})}},
       .expected = "CanCue=1"},
      {.name = "editing: defaults shown, byte and signed fields narrowed, empty kept",
       .script = {{kMain, Press({IDC_EDITING, IDOK})}, {kEditing, [](HWND h) {
         EXPECT_EQ(FindDialogControl(h, IDC_BUMP_FWD)->text, "101");
         EXPECT_EQ(FindDialogControl(h, IDC_EDIT_IN)->text, "-4");
         EXPECT_EQ(FindDialogControl(h, IDC_PRESET)->text, "-1");
         EXPECT_TRUE(FindDialogControl(h, IDC_BUMP_PLAY)->checked);
         for (const auto& [id, text] : {std::pair{IDC_BUMP_FWD, "357"}, {IDC_PRESET, "65535"},
                                        {IDC_PREROLL, ""}, {IDC_POSTROLL, "90"},
                                        {IDC_IN_DELAY, "seven"}}) {
           TypeText(h, id, text);
         }
         Press({IDC_BUMP_ONCE, IDOK})(h);
       }}},
       .expected = "BumpFwdCmd=101 Preset=-1 PreRoll=300 PostRoll=90 InDelay=0 BumpOnce=1 "
                   "BumpPlay=1"},
  };
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TearDown();
    SetUp();
    profile_.WriteIni(c.lines.empty() ? "" : "[" + std::string(c.section) + "]\n" + c.lines);
    Ports(c.open);
    ASSERT_EQ(c.held ? OpenDevice() : 0u, 0u);
    Configure(c.script, c.alias, &c.shown);
    if (!c.then.empty()) Configure(c.then, c.alias);
    std::istringstream pairs(c.expected);
    for (std::string pair; pairs >> pair;) {
      const auto eq = pair.find('=');
      EXPECT_EQ(static_cast<int>(GetPrivateProfileIntA(c.section, pair.substr(0, eq).c_str(),
                                                       -99999, "VTR.INI")),
                std::stoi(pair.substr(eq + 1)))
          << pair;
    }
    if (c.text != nullptr) {
      EXPECT_NE(profile_.ReadIni().find(c.text), std::string::npos);
    }
  }
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
  ASSERT_EQ(DriverOpen(nullptr, 1, 101), 1u);
  ASSERT_EQ(DriverOpen(nullptr, 2, 102, u"videotape2"), 2u);
  Configure({{kMain,
              [this](HWND h) {
                EXPECT_EQ(Send(MCI_OPEN_DRIVER, MCI_OPEN_TYPE, OpenBlock(u"vcr1", 1).bytes, 1), 0u);
                ChooseEntry(h, IDC_VTR_NAME, 40);
                ClickControl(h, IDOK);
              }}},
            u"vcr3");
  ASSERT_EQ(Send(MCI_OPEN_DRIVER, MCI_OPEN_TYPE, OpenBlock(u"vcr2", 2).bytes, 2), 0u);
  auto key = [](const char* section, const char* name) {
    return static_cast<int>(GetPrivateProfileIntA(section, name, -1, "VTR.INI"));
  };
  EXPECT_EQ(key("videotape1", "VTRID"), 19);  // the BVW-75 on COM2
  EXPECT_EQ(key("videotape2", "VTRID"), 28);  // the AU-650 on COM5
  EXPECT_EQ(key("videotape2", "ComPort"), 5);
  EXPECT_EQ(key("videotape3", "VTRID"), 40);  // the user's choice
  EXPECT_EQ(profile_.ReadIni().find("[videotape]"), std::string::npos);
}

}  // namespace
}  // namespace vtr::test

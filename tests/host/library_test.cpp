// The library stand-in against a fake driver that carries the "VCR" table:
// life cycle, core commands, returns, the raw message path, notifications,
// breaks. The vtrctl_sim_* scripts run the same paths against the real driver.
#include <gtest/gtest.h>

#include <cstring>
#include <tuple>

#include "host/command_runner.h"
#include "mci/mci_library.h"
#include "mci/mci_text.h"
#include "mci/raw_message.h"
#include "platform/serial_ports.h"
#include "tests/host/fake_driver.h"

namespace vtr::mci {
namespace {

using testing::DriverCall;
using testing::FakeDriver;

constexpr UINT kStripe = 0x0C85;  // a message the "VCR" table lacks
constexpr std::size_t P = sizeof(DWORD_PTR);

// What a driver meets when its device's port leads nowhere, and what the
// port says about it.
constexpr const char* kMissingPort = "COM9 -> /nonexistent/ttyUSB9: no such device";
void OpenMissingPort() {
  platform::BindPortPath(9, "/nonexistent/ttyUSB9");
  EXPECT_EQ(CreateFileA("COM9", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  platform::UnbindPort(9);
}

class LibraryTest : public ::testing::Test {
 protected:
  FakeDriver fake;
  MciLibrary lib{fake.Entry()};

  // The closing library must not call back into a finished test's rows.
  void TearDown() override { fake.onCommand = nullptr; }

  CommandResult Send(std::string_view cmd, CallbackHandle cb = {}) {
    return lib.SendString(cmd, cb);
  }
};

// With "tape" (vcr) open.
class TapeTest : public LibraryTest {
 protected:
  void SetUp() override { ASSERT_EQ(Send("open vcr alias tape").error, 0u); }
};

TEST_F(LibraryTest, LifeCycle) {
  ASSERT_EQ(Send("open vcr1 alias tape shareable wait").error, 0u);  // "1", as in the scripts
  EXPECT_EQ(fake.Messages(),
            (std::vector<UINT>{DRV_LOAD, DRV_ENABLE, DRV_OPEN, DRV_OPEN, MCI_OPEN_DRIVER}));
  auto calls = fake.Calls();
  EXPECT_EQ(calls[3].params, u"videotape1");
  EXPECT_EQ(static_cast<DWORD>(calls[4].flags) &
                (MCI_OPEN_SHAREABLE | MCI_WAIT | MCI_OPEN_ALIAS | MCI_OPEN_TYPE),
            MCI_OPEN_SHAREABLE | MCI_WAIT | MCI_OPEN_ALIAS | MCI_OPEN_TYPE);
  EXPECT_EQ(calls[4].driverId, 1u);  // what DRV_OPEN answered
  EXPECT_EQ(lib.DriverData(1), DWORD_PTR{7});

  // A second shareable open is a device of its own on the loaded module.
  ASSERT_EQ(Send("open vcr1 alias b shareable").error, 0u);
  EXPECT_EQ(Send("status b mode").error, 0u);
  EXPECT_EQ(fake.Calls().back().driverId, 2u);
  EXPECT_EQ(fake.instanceInits, 1);
  ASSERT_EQ(Send("close b").error, 0u);
  EXPECT_TRUE(lib.ModuleLoaded());

  fake.Clear();
  ASSERT_EQ(Send("close all wait").error, 0u);
  EXPECT_EQ(fake.Messages(),
            (std::vector<UINT>{MCI_CLOSE_DRIVER, DRV_CLOSE, DRV_CLOSE, DRV_DISABLE, DRV_FREE}));
  EXPECT_EQ(fake.instanceExits, 1);
  EXPECT_FALSE(lib.ModuleLoaded());
  EXPECT_TRUE(lib.OpenAliases().empty());
  EXPECT_EQ(Send("close all").error, 0u);

  // A table the module's resources lack, or one that cannot be read.
  platform::AddModuleResource("BROKEN", std::vector<std::uint8_t>{1, 2, 3});
  EXPECT_EQ(mciLoadCommandResource(fake.Entry().module, u"broken", 0), MCI_NO_COMMAND_TABLE);
  EXPECT_EQ(mciLoadCommandResource(fake.Entry().module, u"nothere", 0), MCI_NO_COMMAND_TABLE);
}

TEST_F(LibraryTest, DriverFailuresUndoTheOpen) {
  // DRV_LOAD fails; DRV_OPEN fails; MCI_OPEN_DRIVER answers an error, its port
  // missing, which the answer's detail says.
  using Row = std::tuple<bool, bool, LRESULT, DWORD, std::string>;
  for (const Row& row : {Row{true, false, 0, MCIERR_CANNOT_LOAD_DRIVER, ""},
                         Row{false, true, 0, MCIERR_CANNOT_LOAD_DRIVER, ""},
                         Row{false, false, MCIERR_HARDWARE, MCIERR_HARDWARE, kMissingPort}}) {
    std::tie(fake.failLoad, fake.failOpen, std::ignore, std::ignore, std::ignore) = row;
    fake.onCommand = [answer = std::get<2>(row)](const DriverCall&, std::uint8_t*) {
      OpenMissingPort();
      return answer;
    };
    const CommandResult r = Send("open vcr alias tape");
    EXPECT_EQ(r.error, std::get<3>(row));
    EXPECT_EQ(r.detail, std::get<4>(row));
    EXPECT_FALSE(lib.ModuleLoaded());
    EXPECT_FALSE(lib.DeviceIdOf("tape"));
  }
}

// Command strings in order: the library's own commands and refusals, and the
// return text it makes of what the driver leaves in the return slot and answers.
TEST_F(TapeTest, StringAnswers) {
  struct Row {
    const char* cmd;
    DWORD error;
    const char* text = "";
    DWORD value = 0;
    LRESULT result = 0;
    bool portFails = false;  // the driver meets a missing port
    const char* detail = "";
  };
  // clang-format off
  const Row rows[] = {
      {"open vcr2", 0, "2"},
      {"sysinfo all quantity", 0, "100"},
      {"sysinfo vcr quantity open", 0, "2"},
      {"sysinfo all name 2 open", 0, "vcr2"},
      {"sysinfo vcr name 2", 0, "vcr1"},
      {"sysinfo all name 3 open", MCIERR_OUTOFRANGE},
      {"sysinfo tape name", MCIERR_BAD_INTEGER},
      {"sysinfo tape", MCIERR_MISSING_PARAMETER},
      {"sysinfo cdaudio quantity", MCIERR_INVALID_DEVICE_NAME},
      {"open vcr2", MCIERR_DEVICE_OPEN},
      {"open vcr7 alias tape", MCIERR_DUPLICATE_ALIAS},
      {"open tape", MCIERR_INVALID_DEVICE_NAME},
      {"open laserdisc", MCIERR_INVALID_DEVICE_NAME},
      {"open vcr alias other", MCIERR_MUST_USE_SHAREABLE},
      {"open vcr3 element x.tap", MCIERR_NO_ELEMENT_ALLOWED},
      {"open vcr3 alias", MCIERR_MISSING_STRING_ARGUMENT},
      {"open vcr3 alias all", MCIERR_CANNOT_USE_ALL},
      {"open", MCIERR_MISSING_DEVICE_NAME},
      {"", MCIERR_MISSING_COMMAND_STRING},
      {"status", MCIERR_MISSING_DEVICE_NAME},
      {"status tape mode", 0, "playing", 526u * 65537u, MCI_RESOURCE_RETURNED},
      {"list tape video source number 1", 0, "line", 1296, MCI_RESOURCE_RETURNED},
      {"index tape on", MCIERR_UNSUPPORTED_FUNCTION, "", 0, 0x00050000 | 274},  // the low word
      {"play tape", MCIERR_HARDWARE, "", 0, MCIERR_HARDWARE, true, kMissingPort},
      {"stop tape", 0, "", 0, 0, true},  // a port failure the command got past says nothing,
      {"pause tape", MCIERR_HARDWARE, "", 0, MCIERR_HARDWARE},  // nor later
  };
  // clang-format on
  const Row* row = nullptr;
  fake.onCommand = [&row](const DriverCall&, std::uint8_t* block) {
    std::memcpy(block + P, &row->value, sizeof row->value);
    if (row->portFails) OpenMissingPort();
    return row->result;
  };
  for (const Row& r : rows) {
    row = &r;
    CommandResult out = Send(r.cmd);
    EXPECT_EQ(out.error, r.error) << r.cmd;
    EXPECT_EQ(out.text, r.text) << r.cmd;
    EXPECT_EQ(out.detail, r.detail) << r.cmd;
  }
}

// The raw message path lays values out by the device's table (callback and
// text slots pointer-sized, the rest 32 bits), lays a message the table lacks
// out as words, and answers the block as the driver left it (here the driver
// writes 77 into the word after the callback).
TEST_F(TapeTest, SendCommandLaysTheBlockOutByTheTable) {
  fake.onCommand = [](const DriverCall&, std::uint8_t* block) -> LRESULT {
    const DWORD answer = 77;
    std::memcpy(block + P, &answer, sizeof answer);
    return 0;
  };
  struct Row {
    UINT id;
    UINT message;
    std::vector<DWORD_PTR> in;
    DWORD error;
    std::vector<std::pair<std::size_t, DWORD>> sent;  // words at byte offsets of the block
    std::vector<DWORD_PTR> out;
    const char* text = "";
  };
  // clang-format off
  const std::vector<Row> rows{
      {1, kStripe, {0x4000, 1, 0x00100000, 2392000}, 0, {{P, 1}, {P + 4, 0x00100000}, {P + 8, 2392000}},
       {0x4000, 77, 0x00100000, 2392000}},
      {1, MCI_STATUS, {0, 0, 2}, 0, {{P + 4, 2}}, {0, 77, 2, 0, 0, 0, 0, 0}, "77"},
      {1, MCI_ESCAPE, {0, 0, 9}, 0, {{2 * P, 9}}, {0, 77, 9}},  // a text slot is pointer-sized
      {1, MCI_STATUS, {0, 0, DWORD_PTR{0xFFFFFFFFu} + 1u}, MCIERR_OUTOFRANGE, {}, {}},
      {2, MCI_PLAY, {}, MCIERR_INVALID_DEVICE_ID, {}, {}},
      {1, MCI_OPEN_DRIVER, {}, MCIERR_UNRECOGNIZED_COMMAND, {}, {}},
      {1, DRV_OPEN, {}, MCIERR_UNRECOGNIZED_COMMAND, {}, {}},
  };
  // clang-format on
  for (const Row& r : rows) {
    SCOPED_TRACE(r.message);
    fake.Clear();
    MessageResult got = lib.SendCommand(r.id, r.message, 0x30000, r.in);
    EXPECT_EQ(got.error, r.error);
    std::vector<DriverCall> calls = fake.Calls();
    ASSERT_EQ(calls.size(), r.error == 0 ? 1u : 0u);  // refusals send nothing
    EXPECT_EQ(got.words, r.out);
    EXPECT_EQ(got.text, r.text);
    if (calls.empty()) continue;
    EXPECT_EQ(calls[0].message, r.message);
    EXPECT_EQ(calls[0].flags, 0x30000);
    for (const auto& [offset, word] : r.sent) {
      DWORD v;
      std::memcpy(&v, calls[0].block.data() + offset, sizeof v);
      EXPECT_EQ(v, word) << "offset " << offset;
    }
  }

  // A text return whose buffer slot is 0 gets the library's buffer.
  fake.onCommand = [](const DriverCall&, std::uint8_t* block) -> LRESULT {
    char16_t* buffer;
    std::memcpy(&buffer, block + P, sizeof buffer);
    std::memcpy(buffer, u"deck", 10);
    return 0;
  };
  EXPECT_EQ(lib.SendCommand(1, MCI_INFO, MCI_INFO_PRODUCT, {}).text, "deck");
  fake.onCommand = [](const DriverCall&, std::uint8_t*) -> LRESULT {
    OpenMissingPort();
    return MCIERR_HARDWARE;
  };
  EXPECT_EQ(lib.SendCommand(1, MCI_PLAY, 0, {}).detail, kMissingPort);
  fake.onCommand = nullptr;
  // A close through the raw path closes the device.
  EXPECT_EQ(lib.SendCommand(1, MCI_CLOSE, 0, {}).error, 0u);
  EXPECT_FALSE(lib.DeviceIdOf("tape"));
}

// The console's ".send": arguments, alias, a supplied callback, the printed
// answer (the vtrctl_sim_edit and _stripe scripts show well-formed ones).
TEST_F(TapeTest, SendDirective) {
  fake.onCommand = [](const DriverCall& c, std::uint8_t*) -> LRESULT {
    return c.flags == 0x4 ? MCIERR_HARDWARE : 0;
  };
  int callbacks = 0;
  const auto notifyTo = [&] {
    return CallbackHandle{0x5000u + static_cast<DWORD_PTR>(++callbacks)};
  };
  // clang-format off
  const std::pair<const char*, const char*> rows[] = {
      {"TAPE 3204 flags=1 words=0,-1", "ok words=20481,4294967295"},  // callback supplied
      {"tape 3204 flags=4", "error 262: There is a problem with your media device."},
      {"tape", "error: usage: .send ALIAS MSG [flags=F] [words=A,B,...] [block=null]"},
      {"disc 3204", "error: no open device 'disc'"},
      {"tape play", "error: message 'play' is not a number"},
      {"tape 3204 words=1,,2", "error: word '' is not a 32-bit number"},
      {"tape 3204 words=0x100000000", "error: word '0x100000000' is not a 32-bit number"},
      {"tape 3204 flags=1 flags=2", "error: unexpected 'flags=2' (flags= once, and words= or block=null once)"},
      {"tape 3204 words=0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0",
       "error: too many words for the parameter block"},
  };
  // clang-format on
  for (const auto& [args, text] : rows) {
    SendOutcome got = RunSend(lib, args, notifyTo);
    EXPECT_TRUE(got.text.starts_with(text)) << args << " -> " << got.text;
    EXPECT_EQ(got.ok, got.text.starts_with("ok")) << args;
  }
  EXPECT_EQ(callbacks, 1);
}

TEST_F(TapeTest, BreakGoesToTheDriverAndTheKeyReachesItsYield) {
  ASSERT_EQ(Send("break tape").error, 0u);
  EXPECT_EQ(fake.Calls().back().message, MCI_BREAK);

  // A running command sees the break key in its yields once it is pressed,
  // until it returns.
  UINT before = 1, after = 0;
  fake.onCommand = [&](const DriverCall& c, std::uint8_t*) -> LRESULT {
    if (c.message != MCI_PLAY) return 0;
    before = mciDriverYield(1);
    EXPECT_TRUE(lib.RequestBreak(1));
    after = mciDriverYield(1);
    return 0;
  };
  Send("play tape wait");
  EXPECT_EQ(before, 0u);
  EXPECT_NE(after, 0u);
  EXPECT_EQ(mciDriverYield(1), 0u);  // over with the command
  EXPECT_FALSE(lib.RequestBreak(1));

  fake.Clear();
  ASSERT_EQ(Send("break tape off").error, 0u);
  EXPECT_TRUE(fake.Calls().empty());
  EXPECT_TRUE(lib.BreakableDevices().empty());
  ASSERT_EQ(Send("break tape on 3").error, 0u);
  EXPECT_EQ(lib.BreakableDevices(), std::vector<UINT>{1});
}

// What SendString would answer, found without sending: the flags of a string
// that parses (a quoted word is text), else the error and the word it blames
// (none when a word is missing). The vtrctl_sim_script transcript shows more rejected words.
TEST_F(TapeTest, ParseAgreesWithSend) {
  struct Row {
    const char* cmd;
    DWORD error;
    DWORD flags;  // when it parses
    const char* word = "";
  };
  // clang-format off
  const Row rows[] = {
      {"status tape position notify wait", 0, MCI_NOTIFY | MCI_WAIT | MCI_STATUS_ITEM},
      {"escape tape \"a notify b\"", 0, 0x100},
      {"frobnicate all", MCIERR_UNRECOGNIZED_COMMAND, 0, "frobnicate"},
      {"play all", MCIERR_CANNOT_USE_ALL, 0},
      {"play tape from to 5", MCIERR_BAD_INTEGER, 0, "to"},
      {"play tape from \"12\"", MCIERR_BAD_INTEGER, 0, "12"},
      {"play tape from 1 from 2", MCIERR_DUPLICATE_FLAGS, 0, "from"},
      {"status tape mode position", MCIERR_DUPLICATE_FLAGS, 0, "position"},
      {"set tape time format", MCIERR_BAD_CONSTANT, 0},
      {"set tape time format fortnights", MCIERR_BAD_CONSTANT, 0, "fortnights"},
      {"set tape frames", MCIERR_UNRECOGNIZED_KEYWORD, 0, "frames"},
      {"escape tape \"\"", MCIERR_MISSING_STRING_ARGUMENT, 0},
      {"status tape \"mode\"", MCIERR_UNRECOGNIZED_KEYWORD, 0, "mode"},
      {"escape tape \"abc\"def", MCIERR_EXTRA_CHARACTERS, 0},
      {"break tape on 3", 0, 0x100},
      {"sysinfo all quantity wait", 0, MCI_WAIT | 0x100},
      {"close all notify", 0, MCI_NOTIFY},
  };
  // clang-format on
  for (const Row& r : rows) {
    ParsedCommand p = lib.Parse(r.cmd);
    EXPECT_EQ(p.error, r.error) << r.cmd;
    if (r.error == 0) {
      EXPECT_EQ(p.flags, r.flags) << r.cmd;
    }
    EXPECT_EQ(p.rejected, r.word) << r.cmd;
    EXPECT_EQ(Send(r.cmd).error, r.error) << r.cmd;
  }
}

// A notification reaches the callback its command went with, and no other.
// The programs' runner: the parsed flags decide whether the caller's receiver
// is registered; a waiting command goes with a notify of the runner's own, so
// that a wait a break or a later command cut short is told from an answer.
TEST_F(TapeTest, RunnerDecidesNotifyAndTellsHowAWaitEnded) {
  host::CommandRunner runner(lib);
  UINT code = MCI_NOTIFY_SUCCESSFUL;  // what the driver notifies the command's callback
  bool broken = false;                // the user breaks while the command runs
  fake.onCommand = [&](const DriverCall& c, std::uint8_t* block) -> LRESULT {
    DWORD_PTR cb;
    std::memcpy(&cb, block, sizeof cb);
    if (broken) runner.NoteBreak(1);
    if ((c.flags & MCI_NOTIFY) && code != 0) mciDriverNotify(reinterpret_cast<HANDLE>(cb), 1, code);
    return 0;
  };
  std::vector<int> heardBy;  // which of two callbacks of the library's own heard
  const CallbackHandle a = lib.RegisterCallback([&](const Notification& n) {
    heardBy.push_back(1);
    EXPECT_EQ(n.deviceId, 1u);
  });
  const CallbackHandle b = lib.RegisterCallback([&](const Notification&) { heardBy.push_back(2); });
  Send("play tape notify", a);
  Send("stop tape notify", b);
  using host::Ending;
  struct Row {
    const char* cmd;
    UINT code;
    bool broken;
    bool notifySent;  // the driver got MCI_NOTIFY
    int heard;        // times the caller's receiver was called
    Ending ending;
  };
  // clang-format off
  const Row rows[] = {
      {"play tape notify", MCI_NOTIFY_SUCCESSFUL, false, true, 1, Ending::kAnswered},
      {"escape tape \"a notify b\"", MCI_NOTIFY_SUCCESSFUL, false, false, 0, Ending::kAnswered},
      {"play tape wait", MCI_NOTIFY_SUCCESSFUL, false, true, 0, Ending::kAnswered},
      {"play tape wait", MCI_NOTIFY_SUPERSEDED, false, true, 0, Ending::kSuperseded},
      {"play tape wait", MCI_NOTIFY_ABORTED, false, true, 0, Ending::kInterrupted},
      {"play tape wait notify", MCI_NOTIFY_SUPERSEDED, false, true, 1, Ending::kSuperseded},
      {"play tape wait", 0, true, true, 0, Ending::kInterrupted},  // this host's break
      {"play tape", 0, true, false, 0, Ending::kAnswered},         // nothing waited
      // A waiting query asks nothing: notify would answer an owed one "superseded".
      {"status tape mode wait", 0, false, false, 0, Ending::kAnswered},
  };
  // clang-format on
  for (const Row& r : rows) {
    SCOPED_TRACE(r.cmd);
    std::tie(code, broken) = std::tie(r.code, r.broken);
    int heard = 0;
    host::RunResult out = runner.Run(r.cmd, [&](const Notification&) { ++heard; });
    EXPECT_EQ(out.result.error, 0u);
    EXPECT_EQ((fake.Calls().back().flags & MCI_NOTIFY) != 0, r.notifySent);
    EXPECT_EQ(heard, r.heard);
    EXPECT_EQ(out.ending, r.ending);
    // Every receiver went with its notification or its command.
    DWORD_PTR cb;
    std::memcpy(&cb, fake.Calls().back().block.data(), sizeof cb);
    EXPECT_FALSE(cb != 0 && mciDriverNotify(reinterpret_cast<HANDLE>(cb), 1, 1));
  }
  // The raw path: a watched wait leaves the caller's callback slot as given.
  std::tie(code, broken) = std::tuple{MCI_NOTIFY_SUPERSEDED, false};
  host::RunResult raw = runner.RunMessage(1, MCI_PLAY, MCI_WAIT, {7});
  EXPECT_EQ(raw.ending, Ending::kSuperseded);
  EXPECT_EQ(raw.message.words.at(0), 7u);
  EXPECT_EQ(heardBy, (std::vector<int>{1, 2})) << "and nothing of the runner's commands";
}

TEST(MciText, ErrorTextsByTheLowWord) {
  EXPECT_EQ(ErrorText(0x00010000u | MCIERR_UNRECOGNIZED_COMMAND),
            "The specified command is not recognized by the MCI device.");
  EXPECT_EQ(ErrorText(9999), "Unknown MCI error 9999.");
}

}  // namespace
}  // namespace vtr::mci

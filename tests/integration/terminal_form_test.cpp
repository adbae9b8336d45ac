// vtrconfig's terminal form in a real terminal: tmux runs it, send-keys types
// and capture-pane reads the screen. The dialogs' behaviour is the headless
// table's (tests/core/config_dialog_test.cpp); this checks that keys reach it
// and that its outcome appears through the form.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "tests/integration/child_process.h"
#include "tests/platform/temp_dir.h"

namespace vtr::test {
namespace {

int Key(const std::string& ini, const std::string& key) {
  const auto at = ini.find("\n" + key + "=");
  return at == std::string::npos ? -99999 : std::atoi(ini.c_str() + at + key.size() + 2);
}

class TerminalForm : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::system("command -v tmux >/dev/null 2>&1") != 0) {
      GTEST_SKIP() << "tmux not installed (apt-get install tmux): terminal form not tested";
    }
  }
  void TearDown() override { StopServer(); }
  // Each run gets a server of its own: a server whose last session ends
  // shuts down, and a new session could race with that.
  void StartServer(int run, const std::string& args) {
    socket_ = "vtr422-form-" + std::to_string(::getpid()) + "-" + std::to_string(run);
    Shell(Tmux("new-session -d -s form " + args));
  }
  void StopServer() {
    if (!socket_.empty()) Shell(Tmux("kill-server") + " 2>/dev/null");
    socket_.clear();
  }
  std::string Tmux(const std::string& args) const { return "tmux -L " + socket_ + " " + args; }
  std::string Screen() const { return Shell(Tmux("capture-pane -p -t form 2>/dev/null")); }
  // Waits (bounded) for text on the screen.
  bool WaitFor(const std::string& text) const {
    for (int i = 0; i < 200; ++i) {
      if (Screen().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

  std::string socket_;
};

TEST_F(TerminalForm, KeysReachTheDialogsAndTheirOutcomeReachesTheProfile) {
  // The section names its port and model only; keys it lacks stay a new device's.
  const std::string before = "; kept as is\n[videotape3]\nVTRID=19\nComPort=2\n";
  struct Case {
    const char* name;
    int cols, rows;
    bool com2;  // COM2 opens
    std::vector<std::string> keys;
    std::vector<std::string> shown;       // on the screen before the keys
    std::map<std::string, int> expected;  // empty: the file stays as it was
  } cases[] = {
      // clang-format off
      // The next model, the next port; on to "Hardware...", open it, clear "Can Cue", OK; on to
      // the main OK button.
      {"model, port, hardware's Can Cue, OK", 100, 30, true,
       {"Down", "Tab", "Down", "Tab", "Tab", "Tab", "Tab", "Space", "Space", "Enter", "Tab", "Tab",
        "Tab", "Enter"},
       {"[COM2 ", "v]  /dev/ptmx"},
       {{"VTRID", 20}, {"ComPort", 5}, {"CanCue", 0}, {"CanRecord", 1}, {"PreRoll", 300}}},
      {"a port that does not open stays", 100, 30, false, {"Enter"},
       {"[COM2 (unavailable) ", "v]  /nonexistent/vtr422"},
       {{"VTRID", 19}, {"ComPort", 2}, {"CanCue", 1}}},
      {"too small, Escape", 40, 10, true, {"Escape"}, {"too small"}, {}},
      // clang-format on
  };
  int run = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    const std::string ini = dir.path() + "/VTR.INI";
    std::ofstream(ini) << before;
    // COM2 (when it does) and COM5 open (each open of /dev/ptmx is a new terminal); no others.
    std::string env = "env";
    for (int n = 1; n <= 8; ++n) {
      env += " VTR422_COM" + std::to_string(n) + "=" +
             ((n == 2 && c.com2) || n == 5 ? "/dev/ptmx" : "/nonexistent/vtr422");
    }
    const std::string program = env + " " VTRCONFIG_PATH " --device vcr3 --profile-dir " +
                                dir.path() + "; echo vtrconfig-exit=$?; sleep 60";
    StartServer(++run, "-x " + std::to_string(c.cols) + " -y " + std::to_string(c.rows) + " '" +
                           program + "'");
    for (const auto& text : c.shown) ASSERT_TRUE(WaitFor(text)) << Screen();
    for (const auto& k : c.keys) Shell(Tmux("send-keys -t form " + k));
    ASSERT_TRUE(WaitFor("vtrconfig-exit=0")) << Screen();
    const std::string after = ReadAll(ini);
    if (c.expected.empty()) {
      EXPECT_EQ(after, before);
    } else {
      EXPECT_EQ(after.rfind("; kept as is\n", 0), 0u);
      for (const auto& [key, value] : c.expected) EXPECT_EQ(Key(after, key), value) << key;
    }
    StopServer();
  }
}

}  // namespace
}  // namespace vtr::test

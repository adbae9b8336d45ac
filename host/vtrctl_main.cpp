// vtrctl: a console for MCI "vcr" devices. Command strings go through the
// library stand-in to the driver; with --sim the driver talks to an embedded
// virtual deck.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "config/ballistics.h"
#ifdef VTR_HAVE_CURSES
#include "host/dialog_form.h"
#endif
#include "host/console_output.h"
#include "host/driver_binding.h"
#include "mci/mci_library.h"
#include "mci/mci_text.h"
#include "mci/raw_message.h"
#include "platform/serial_ports.h"
#ifdef VTR_HAVE_SIM
#include "host/virtual_deck.h"
#include "host/watch.h"
#include "sim/deck.h"
#endif
#ifdef VTR_HAVE_READLINE
#include <readline/history.h>
#include <readline/readline.h>
#endif

namespace {

using vtr::mci::CallbackHandle;
using vtr::mci::CommandResult;
using vtr::mci::MciLibrary;
using vtr::mci::Notification;

constexpr int kDefaultSimPort = 2;
constexpr long kDefaultNotifyTimeoutMs = 30000;
constexpr int kInterruptedStatus = 130;  // as a shell reports a Ctrl-C

struct Options {
  std::vector<std::string> commands;  // -e
  std::optional<std::string> script;
  bool sim = false;
  std::string simModel = "19";
  std::string simStandard = "ntsc";
  int simPort = kDefaultSimPort;
  std::vector<std::pair<int, std::string>> ports;
  std::optional<std::string> profileDir;
  std::vector<std::pair<std::string, std::string>> devices;
  bool trace = false;
  bool keepGoing = false;
  bool json = false;
};

void Usage(std::FILE* out) {
  std::fprintf(out,
               "usage: vtrctl [options]\n"
               "Sends MCI command strings to \"vcr\" devices (e.g. open vcr alias tape,\n"
               "play tape from 1000 to 2000 notify, status tape mode, close tape).\n"
               "\n"
               "  -e CMD             run CMD (repeatable); then exit\n"
               "  --script FILE      run the commands of FILE; then exit\n"
               "                     (with neither, commands come from stdin when it is not\n"
               "                     a terminal, else from an interactive prompt)\n"
               "  --sim[=MODEL]      run an embedded virtual deck (default model row 19,\n"
               "                     BVW-75); MODEL is a model row, a model name or a\n"
               "                     device type code such as 0x2025\n"
               "  --sim-standard S   the virtual deck's video: ntsc (default), drop (NTSC\n"
               "                     with a drop-frame tape) or pal (with vtrctl's own\n"
               "                     temporary profile, device vcr is then set to Pal=1)\n"
               "  --sim-port N       serial port the virtual deck is bound to (default COM%d)\n"
               "  --port COMn=PATH   bind COMn to a device path (tty, pty, USB adapter) or to\n"
               "                     tcp://HOST:PORT or rfc2217://HOST:PORT\n"
               "  --profile-dir DIR  where VTR.INI lives (default: the platform default; with\n"
               "                     --sim: a fresh temporary directory)\n"
               "  --device NAME=PARAMS  install or change an MCI device (default: vcr=videotape,\n"
               "                     vcr1..vcr99=videotape1..videotape99)\n"
               "  --trace            print the serial blocks exchanged with the virtual deck\n"
               "  --keep-going       run every batch command even after a failure, exit 0\n"
               "  --json             one JSON object a line per result and notification\n"
               "  -h, --help         this text\n"
               "\n"
               "Script lines: a command string, \"# comment\", \".wait MS\" (let MS\n"
               "milliseconds pass), \".notify [TIMEOUT_MS]\" (wait for the next notification,\n"
               "default %ld ms; fails on timeout), \".config [ALIAS]\" (the configuration\n"
               "dialogs of an open alias or an installed name, default vcr, in the terminal),\n"
               "\".send ALIAS MSG [flags=F] [words=A,B,...]\"\n"
               "(send command message MSG with flags F and a parameter block of one value\n"
               "per slot, the callback first; numbers decimal or 0x hex; with the notify\n"
               "flag 0x1 and callback 0 vtrctl supplies the callback; prints the result\n"
               "and the block's words as the driver left them), \".recorded [FROM TO]\" (with\n"
               "--sim: what the virtual deck recorded where, per track, and where the latest\n"
               "take landed against tape frames FROM..TO, the error in frames).\n"
               "\".watch ALIAS\" shows the deck's timecode, mode, speed and owed notification\n"
               "until a key is pressed.\n"
               "Output: \"COMMAND -> RESULT\" per command (the return string, \"ok\", or\n"
               "\"error N: TEXT\"), and \"notify CODE: COMMAND\" for each notification.\n"
               "Ctrl-C breaks a waiting command and ends a .wait or .notify; in a batch it\n"
               "also stops the batch (exit status 130).\n",
               kDefaultSimPort, kDefaultNotifyTimeoutMs);
}

std::optional<Options> ParseOptions(int argc, char** argv) {
  Options o;
  auto value = [&](int& i, std::string_view name) -> std::optional<std::string> {
    if (i + 1 >= argc) {
      std::fprintf(stderr, "vtrctl: %.*s needs a value\n", static_cast<int>(name.size()),
                   name.data());
      return std::nullopt;
    }
    return std::string(argv[++i]);
  };
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      Usage(stdout);
      std::exit(0);
    } else if (a == "-e") {
      auto v = value(i, a);
      if (!v) return std::nullopt;
      o.commands.push_back(*v);
    } else if (a == "--script") {
      auto v = value(i, a);
      if (!v) return std::nullopt;
      o.script = *v;
    } else if (a == "--sim") {
      o.sim = true;
    } else if (a.rfind("--sim=", 0) == 0) {
      o.sim = true;
      o.simModel = a.substr(6);
    } else if (a == "--sim-standard") {
      auto v = value(i, a);
      if (!v) return std::nullopt;
      if (*v != "ntsc" && *v != "drop" && *v != "pal") {
        std::fprintf(stderr, "vtrctl: --sim-standard takes ntsc, drop or pal\n");
        return std::nullopt;
      }
      o.simStandard = *v;
    } else if (a == "--sim-port") {
      auto v = value(i, a);
      if (!v) return std::nullopt;
      o.simPort = std::atoi(v->c_str());
      if (o.simPort < 1 || o.simPort > 98) {
        std::fprintf(stderr, "vtrctl: --sim-port takes 1..98\n");
        return std::nullopt;
      }
    } else if (a == "--port") {
      auto v = value(i, a);
      if (!v) return std::nullopt;
      auto eq = v->find('=');
      if (v->rfind("COM", 0) != 0 || eq == std::string::npos) {
        std::fprintf(stderr, "vtrctl: --port takes COMn=PATH\n");
        return std::nullopt;
      }
      o.ports.emplace_back(std::atoi(v->substr(3, eq - 3).c_str()), v->substr(eq + 1));
    } else if (a == "--profile-dir") {
      auto v = value(i, a);
      if (!v) return std::nullopt;
      o.profileDir = *v;
    } else if (a == "--device") {
      auto v = value(i, a);
      if (!v) return std::nullopt;
      auto eq = v->find('=');
      if (eq == std::string::npos) {
        std::fprintf(stderr, "vtrctl: --device takes NAME=PARAMS\n");
        return std::nullopt;
      }
      o.devices.emplace_back(v->substr(0, eq), v->substr(eq + 1));
    } else if (a == "--trace") {
      o.trace = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--keep-going") {
      o.keepGoing = true;
    } else {
      std::fprintf(stderr, "vtrctl: unknown option %s (try --help)\n", a.c_str());
      return std::nullopt;
    }
  }
  return o;
}

// ---- output -------------------------------------------------------------------

std::mutex gOutMutex;
vtr::host::ConsoleOutput gOutput{false};
void PrintLine(const std::string& line) {
  std::lock_guard lock(gOutMutex);
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// A notification posted on the console's own thread while its command runs
// is shown after the command's result line.
thread_local std::vector<std::string>* tDeferred = nullptr;

// Notifications as they arrive; each names the command that asked for it.
class Notifications {
 public:
  void Arrived(const std::string& command, const Notification& n, DWORD_PTR key) {
    {
      std::lock_guard lock(mutex_);
      ++pending_;
      owed_.erase(key);
    }
    std::string line = gOutput.Notify(command, n.code);
    if (tDeferred != nullptr) {
      tDeferred->push_back(std::move(line));
    } else {
      PrintLine(line);
    }
    cv_.notify_all();
  }
  // Consumes one notification; false when none came within `timeout` or
  // Ctrl-C came first.
  bool Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    if (!cv_.wait_for(lock, timeout, [&] { return pending_ > 0 || interrupted_; })) return false;
    if (pending_ == 0) return false;
    --pending_;
    return true;
  }
  // What .watch shows as owed: a command sent with notify whose notification
  // has not come. Owed from registration; Placed names its device once sent.
  void Owe(DWORD_PTR key, const std::string& command) {
    std::lock_guard lock(mutex_);
    owed_[key] = {0, command};
  }
  void Placed(DWORD_PTR key, UINT deviceId, bool sent) {
    std::lock_guard lock(mutex_);
    auto it = owed_.find(key);
    if (it == owed_.end()) return;
    if (sent) {
      it->second.first = deviceId;
    } else {
      owed_.erase(it);
    }
  }
  std::optional<std::string> OwedBy(UINT deviceId) {
    std::lock_guard lock(mutex_);
    std::optional<std::string> last;
    for (const auto& [key, owed] : owed_) {
      if (owed.first == deviceId) last = owed.second;
    }
    return last;
  }
  // Lets `duration` pass; false when Ctrl-C cut it short.
  bool Sleep(std::chrono::milliseconds duration) {
    std::unique_lock lock(mutex_);
    return !cv_.wait_for(lock, duration, [&] { return interrupted_; });
  }
  // Ctrl-C: ends the current .wait or .notify, and a batch after its command.
  void Interrupt() {
    {
      std::lock_guard lock(mutex_);
      interrupted_ = true;
    }
    cv_.notify_all();
  }
  bool Interrupted() {
    std::lock_guard lock(mutex_);
    return interrupted_;
  }
  // True once after each Ctrl-C.
  bool TakeInterrupt() {
    std::lock_guard lock(mutex_);
    return std::exchange(interrupted_, false);
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  int pending_ = 0;
  std::map<DWORD_PTR, std::pair<UINT, std::string>> owed_;
  bool interrupted_ = false;
};

// ---- the break key ----------------------------------------------------------------

int gBreakPipe[2] = {-1, -1};
extern "C" void OnInterrupt(int) {
  char c = 1;
  [[maybe_unused]] auto n = write(gBreakPipe[1], &c, 1);
}

// Ctrl-C: every device with a waiting command gets the break key in its
// yields and a break (which stops the machine, ending the wait); a .wait or
// .notify ends, and a batch stops after its current command.
void WatchBreaks(MciLibrary& lib, Notifications& notes, std::atomic<bool>& quit) {
  char c;
  while (!quit && read(gBreakPipe[0], &c, 1) == 1) {
    if (quit) break;
    notes.Interrupt();
    for (UINT id : lib.BreakableDevices()) {
      if (!lib.RequestBreak(id)) continue;
      if (auto alias = lib.AliasOf(id)) {
        CommandResult r = lib.SendString("break " + *alias);
        PrintLine(gOutput.Result("break " + *alias, r));
      }
    }
  }
}

// ---- running commands -----------------------------------------------------------------

class Console {
 public:
  Console(MciLibrary& lib, Notifications& notes) : lib_(lib), notes_(notes) {}
#ifdef VTR_HAVE_SIM
  std::shared_ptr<vtr::sim::Deck> deck;  // the embedded virtual deck, with --sim
#endif

  // Runs one line (command or directive); false when it failed.
  bool Run(const std::string& raw) {
    std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') return true;
    if (line[0] == '.') return Directive(line);
    CallbackHandle cb;
    if (MentionsNotify(line)) cb = NotifyTo(line);
    std::vector<std::string> deferred;
    tDeferred = &deferred;
    CommandResult r = WithProgress(line, [&] { return lib_.SendString(line, cb); });
    tDeferred = nullptr;
    if (cb) Placed(cb, r.deviceId, r.ok());
    if (r.ok() && vtr::mci::ToLowerAscii(line).starts_with("open ")) ReadPositionOnce(r.deviceId);
    PrintLine(gOutput.Result(line, r));
    // The port's own account of a failed open or a lost connection.
    if (!r.detail.empty()) std::fprintf(stderr, "vtrctl: %s\n", r.detail.c_str());
    for (const std::string& note : deferred) PrintLine(note);
    return r.ok();
  }

 private:
  // The driver writes positions as timecode of the kind it last read (30 frames
  // a second before the first read, even on a PAL machine): read one at once.
  void ReadPositionOnce(UINT deviceId) {
    if (auto alias = lib_.AliasOf(deviceId)) lib_.SendString("status " + *alias + " position");
  }
  CallbackHandle NotifyTo(const std::string& line) {
    auto key = std::make_shared<std::atomic<DWORD_PTR>>(0);
    // A command is notified once, so its receiver goes with its notification
    // (or with the command, when it fails and owes none): a long session
    // keeps no receivers behind.
    CallbackHandle cb = lib_.RegisterCallback([this, line, key](const Notification& n) {
      notes_.Arrived(line, n, key->load());
      lib_.UnregisterCallback(CallbackHandle{key->load()});
    });
    key->store(cb.value);
    notes_.Owe(cb.value, line);
    return cb;
  }
  void Placed(CallbackHandle cb, UINT deviceId, bool sent) {
    notes_.Placed(cb.value, deviceId, sent);
    if (!sent) lib_.UnregisterCallback(cb);
  }
  // A waiting seek, cue or play to a position shows its progress on a terminal.
  template <class F>
  CommandResult WithProgress(const std::string& line, F&& send) {
    auto target = vtr::host::WaitTarget(line);
    if (!target || gOutput.Json() || isatty(STDOUT_FILENO) != 1) return send();
    vtr::host::ProgressLine progress(lib_, target->first, target->second, WatchIo());
    return send();
  }
  static vtr::host::WatchIo WatchIo() { return {STDIN_FILENO, stdout, &gOutMutex}; }
  bool Send(const std::string& line, std::string_view args) {
    std::vector<std::string> deferred;
    tDeferred = &deferred;
    CallbackHandle cb;
    vtr::mci::SendOutcome outcome = vtr::mci::RunSend(lib_, args, [&] {
      cb = NotifyTo(line);
      return cb;
    });
    tDeferred = nullptr;
    if (cb) Placed(cb, outcome.deviceId, outcome.ok);
    if (!gOutput.Json()) {
      PrintLine(line + " -> " + outcome.text);
    } else if (outcome.sent) {
      PrintLine(gOutput.MessageJson(line, *outcome.sent));
    } else {
      PrintLine(gOutput.Failure(line, outcome.text.substr(std::string_view("error: ").size())));
    }
    for (const std::string& note : deferred) PrintLine(note);
    return outcome.ok;
  }
#ifdef VTR_HAVE_SIM
  // The deck's record map; with FROM TO (tape frames), where the latest take
  // landed against them.
  bool Recorded(const std::string& line, const std::string& arg) {
    const auto tracks = deck->Recorded();
    std::string map = vtr::sim::FormatRecordMap(tracks, deck->Config().standard);
    map.pop_back();
    unsigned from = 0, to = 0;
    char extra = 0;
    if (!arg.empty() &&
        (std::sscanf(arg.c_str(), "%u %u %c", &from, &to, &extra) != 2 || to < from)) {
      PrintLine(gOutput.Failure(line, ".recorded [FROM TO] takes two tape frames, FROM <= TO"));
      return false;
    }
    std::string landing;
    if (!arg.empty()) {
      landing = vtr::sim::FormatLanding(tracks, from, to);
      if (landing.empty()) landing = "nothing landed";
    }
    const bool ok = landing != "nothing landed";
    if (gOutput.Json()) {
      CommandResult r;
      r.text = landing.empty() ? map : map + "\n" + landing;
      if (!ok) r.error = MCIERR_HARDWARE;
      PrintLine(ok ? gOutput.Result(line, r) : gOutput.Failure(line, r.text));
      return ok;
    }
    PrintLine(map);
    if (!landing.empty()) PrintLine(landing);
    return ok;
  }
#endif
  static std::string Trim(const std::string& s) {
    auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return {};
    auto e = s.find_last_not_of(" \t\r\n");
    return s.substr(b, e - b + 1);
  }
  static bool MentionsNotify(const std::string& line) {
    std::string lower = vtr::mci::ToLowerAscii(line);
    std::size_t at = 0;
    while ((at = lower.find("notify", at)) != std::string::npos) {
      bool startOk = at == 0 || lower[at - 1] == ' ' || lower[at - 1] == '\t';
      bool endOk = at + 6 == lower.size() || lower[at + 6] == ' ' || lower[at + 6] == '\t';
      if (startOk && endOk) return true;
      at += 6;
    }
    return false;
  }
  bool Directive(const std::string& line) {
    std::string word = line.substr(0, line.find(' '));
    std::string arg = line.size() > word.size() ? Trim(line.substr(word.size())) : "";
    char* end = nullptr;
    long ms = arg.empty() ? -1 : std::strtol(arg.c_str(), &end, 10);
    bool numberOk = arg.empty() || (end != nullptr && *end == '\0' && ms >= 0);
    if (word == ".wait" && !arg.empty() && numberOk) {
      if (notes_.Sleep(std::chrono::milliseconds(ms))) return true;
      PrintLine(gOutput.Json() ? gOutput.Failure(line, "interrupted") : line + " -> interrupted");
      return false;
    }
    if (word == ".send") return Send(line, arg);
    if (word == ".watch" && !arg.empty()) {
      std::optional<UINT> id = lib_.DeviceIdOf(arg);
      return vtr::host::RunWatch(
          lib_, gOutput, arg, [&] { return id ? notes_.OwedBy(*id) : std::nullopt; }, WatchIo());
    }
    if (word == ".recorded") {
#ifdef VTR_HAVE_SIM
      if (deck) return Recorded(line, arg);
#endif
      PrintLine(gOutput.Failure(line, ".recorded needs the virtual deck (--sim)"));
      return false;
    }
    if (word == ".notify" && numberOk) {
      long timeout = arg.empty() ? kDefaultNotifyTimeoutMs : ms;
      if (notes_.Wait(std::chrono::milliseconds(timeout))) return true;
      PrintLine(
          notes_.Interrupted()
              ? (gOutput.Json() ? gOutput.Failure(line, "interrupted") : line + " -> interrupted")
              : gOutput.Failure(line, "no notification within " + std::to_string(timeout) + " ms"));
      return false;
    }
    if (word == ".config") return Configure(line, arg.empty() ? "vcr" : arg);
    PrintLine(gOutput.Failure(line,
                              "unknown directive (.wait MS, .notify [TIMEOUT_MS], .config [ALIAS], "
                              ".send ALIAS MSG ..., .watch ALIAS)"));
    return false;
  }

  bool Configure(const std::string& line, const std::string& name) {
#ifdef VTR_HAVE_CURSES
    if (::isatty(STDIN_FILENO) == 0 || ::isatty(STDOUT_FILENO) == 0) {
      PrintLine(gOutput.Failure(line, "the configuration dialogs need a terminal"));
      return false;
    }
    vtr::host::TerminalForm form;
    vtr::platform::SetDialogUi(&form);
    const DWORD err = lib_.Configure(name, vtr::platform::ConsoleWindow());
    vtr::platform::SetDialogUi(nullptr);
    if (err != 0) {
      CommandResult failed;
      failed.error = err;
      PrintLine(gOutput.Result(line, failed));
      return false;
    }
    if (form.Failed()) {
      PrintLine(gOutput.Failure(line, "the terminal cannot show the dialogs (check TERM)"));
      return false;
    }
    PrintLine(gOutput.Result(line, CommandResult{}));
    return true;
#else
    (void)name;
    PrintLine(gOutput.Failure(line, "built without ncurses (no terminal dialogs)"));
    return false;
#endif
  }

  MciLibrary& lib_;
  Notifications& notes_;
};

#ifdef VTR_HAVE_READLINE
MciLibrary* gCompletionLib = nullptr;
std::vector<std::string> gCompletionWords;

char* CompletionGenerator(const char* text, int state) {
  static std::size_t index;
  if (state == 0) {
    index = 0;
    gCompletionWords.clear();
    for (const std::string& phrase : gCompletionLib->Vocabulary()) {
      std::size_t start = 0;
      while (start <= phrase.size()) {  // each word of a multi-word keyword
        std::size_t space = phrase.find(' ', start);
        gCompletionWords.push_back(phrase.substr(start, space - start));
        if (space == std::string::npos) break;
        start = space + 1;
      }
    }
    for (const std::string& a : gCompletionLib->OpenAliases()) gCompletionWords.push_back(a);
    gCompletionWords.push_back("vcr");
    gCompletionWords.push_back("all");
    std::sort(gCompletionWords.begin(), gCompletionWords.end());
    gCompletionWords.erase(std::unique(gCompletionWords.begin(), gCompletionWords.end()),
                           gCompletionWords.end());
  }
  std::string_view prefix(text);
  while (index < gCompletionWords.size()) {
    const std::string& w = gCompletionWords[index++];
    if (w.rfind(prefix, 0) == 0) return strdup(w.c_str());
  }
  return nullptr;
}

char** Complete(const char* text, int, int) {
  rl_attempted_completion_over = 1;
  return rl_completion_matches(text, CompletionGenerator);
}
#endif

int Interactive(Console& console, MciLibrary& lib, Notifications& notes) {
#ifdef VTR_HAVE_READLINE
  gCompletionLib = &lib;
  rl_attempted_completion_function = Complete;
  std::string historyFile;
  if (const char* home = std::getenv("HOME")) historyFile = std::string(home) + "/.vtrctl_history";
  if (!historyFile.empty()) read_history(historyFile.c_str());
  while (char* input = readline("vtr> ")) {
    std::string line(input);
    std::free(input);
    if (line.find_first_not_of(" \t") == std::string::npos) continue;
    add_history(line.c_str());
    if (line == "quit" || line == "exit") break;
    console.Run(line);
    notes.TakeInterrupt();  // a Ctrl-C ends the line's wait, not the session
  }
  if (!historyFile.empty()) write_history(historyFile.c_str());
#else
  (void)lib;
  std::string line;
  while (std::fputs("vtr> ", stdout), std::fflush(stdout), std::getline(std::cin, line)) {
    if (line == "quit" || line == "exit") break;
    console.Run(line);
    notes.TakeInterrupt();  // a Ctrl-C ends the line's wait, not the session
  }
#endif
  std::fputc('\n', stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<Options> opts = ParseOptions(argc, argv);
  if (!opts) return 2;
  gOutput = vtr::host::ConsoleOutput(opts->json);

  std::optional<std::filesystem::path> tempProfile;
  if (opts->profileDir) {
    setenv("VTR422_PROFILE_DIR", opts->profileDir->c_str(), 1);
  } else if (opts->sim) {
    std::string tmpl = (std::filesystem::temp_directory_path() / "vtrctl-XXXXXX").string();
    if (mkdtemp(tmpl.data()) == nullptr) {
      std::perror("vtrctl: temporary profile directory");
      return 2;
    }
    tempProfile = tmpl;
    setenv("VTR422_PROFILE_DIR", tmpl.c_str(), 1);
  }
  for (const auto& [com, path] : opts->ports) vtr::platform::BindPortPath(com, path);

#ifdef VTR_HAVE_SIM
  std::shared_ptr<vtr::sim::Deck> deck;
  if (opts->sim) {
    auto cfg = vtr::host::VirtualDeckConfig(opts->simModel, opts->simStandard);
    if (!cfg) {
      std::fprintf(stderr, "vtrctl: unknown model %s\n", opts->simModel.c_str());
      return 2;
    }
    // The driver counts 25 frames a second only when the profile says so.
    if (opts->simStandard == "pal" && tempProfile)
      std::ofstream(*tempProfile / "VTR.INI") << "[videotape]\nPal=1\n";
    deck = std::make_shared<vtr::sim::Deck>(*cfg);
    if (opts->trace) {
      deck->SetTraceSink(
          [](const vtr::sim::TraceEntry& e) { PrintLine(vtr::sim::FormatTraceEntry(e)); });
    }
    vtr::platform::BindVirtualPort(opts->simPort, deck);
  }
#else
  if (opts->sim) {
    std::fprintf(stderr, "vtrctl: built without the virtual deck\n");
    return 2;
  }
#endif

  auto registry = vtr::mci::DeviceRegistry::Default();
  for (const auto& [name, params] : opts->devices) registry.Set(name, params);

  int status = 0;
  {
    Notifications notes;
    MciLibrary lib(vtr::host::RealDriver(), std::move(registry));
    Console console(lib, notes);
#ifdef VTR_HAVE_SIM
    console.deck = deck;
#endif

    std::atomic<bool> quit{false};
    std::thread breaks;
    if (pipe(gBreakPipe) == 0) {
      struct sigaction sa {};
      sa.sa_handler = OnInterrupt;
      sigemptyset(&sa.sa_mask);
      sigaction(SIGINT, &sa, nullptr);
      breaks = std::thread([&] { WatchBreaks(lib, notes, quit); });
    }

    std::vector<std::string> batch = opts->commands;
    bool interactive = batch.empty() && !opts->script && isatty(STDIN_FILENO);
    if (opts->script) {
      std::ifstream in(*opts->script);
      if (!in) {
        std::fprintf(stderr, "vtrctl: cannot read %s\n", opts->script->c_str());
        status = 2;
      }
      for (std::string line; std::getline(in, line);) batch.push_back(line);
    } else if (batch.empty() && !interactive) {
      for (std::string line; std::getline(std::cin, line);) batch.push_back(line);
    }
    if (interactive) {
      status = Interactive(console, lib, notes);
    } else if (status == 0) {
      for (const std::string& line : batch) {
        const bool ok = console.Run(line);
        if (notes.TakeInterrupt()) {
          status = kInterruptedStatus;
          break;
        }
        if (!ok) {
          if (!opts->keepGoing) {
            status = 1;
            break;
          }
        }
      }
    }
    lib.SendString("close all");
    quit = true;
    if (breaks.joinable()) {
      OnInterrupt(0);
      breaks.join();
    }
  }
#ifdef VTR_HAVE_SIM
  if (deck) {
    vtr::platform::UnbindPort(opts->simPort);
    deck->SetTraceSink(nullptr);
  }
#endif
  if (tempProfile) {
    std::error_code ec;
    std::filesystem::remove_all(*tempProfile, ec);
  }
  return status;
}

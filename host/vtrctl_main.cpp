// vtrctl: a console for MCI "vcr" devices. Command strings go through the
// library stand-in to the driver; with --sim the driver talks to an embedded
// virtual deck.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
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
#include "host/command_runner.h"
#include "host/console_help.h"
#include "host/console_output.h"
#include "host/driver_binding.h"
#include "mci/mci_library.h"
#include "mci/mci_text.h"
#include "mci/raw_message.h"
#include "platform/clock.h"
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

constexpr const char* kVersion = VTR422_VERSION_STRING;

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
               "                     BVW-75); MODEL is one of the deck's machines\n"
               "                     (vtrsim --list), a model row or name, or a device\n"
               "                     type code such as 0x2025\n"
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
               "  --version          vtrctl's version\n"
               "  -h, --help         this text\n"
               "\n"
               "At the prompt, \"help\" lists the commands of the device's command table and\n"
               "\"help COMMAND\" the items of one; Tab completes them.\n"
               "Script lines: a command string, \"# comment\", \".wait MS\" (let MS\n"
               "milliseconds pass), \".notify [TIMEOUT_MS]\" (wait for the next notification,\n"
               "default %ld ms; fails on timeout), \".config [ALIAS]\" (the configuration\n"
               "dialogs of an open alias or an installed name, default vcr, in the terminal),\n"
               "\".send ALIAS MSG [flags=F] [words=A,B,...] [block=null]\"\n"
               "(send command message MSG with flags F and a parameter block of one value\n"
               "per slot, the callback first; numbers decimal or 0x hex; with the notify\n"
               "flag 0x1 and callback 0 vtrctl supplies the callback; prints the result\n"
               "and the block's words as the driver left them), \".recorded [FROM TO]\" (with\n"
               "--sim: what the virtual deck recorded where, per track, and where the latest\n"
               "take landed against tape frames FROM..TO, the error in frames).\n"
               "\".watch ALIAS\" shows the deck's timecode, mode, speed and owed notification\n"
               "until a key is pressed. \".help\" lists the directives.\n"
               "Output: \"COMMAND -> RESULT\" per command (the return string, \"ok\", or\n"
               "\"error N: TEXT\"), and \"notify CODE: COMMAND\" for each notification. A\n"
               "waiting command that a break or a later command ended prints \"interrupted\"\n"
               "or \"superseded\" and where the deck is.\n"
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
    } else if (a == "--version") {
      std::printf("vtrctl %s\n", kVersion);
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
// While the prompt waits for a line, lines from other threads (notifications)
// wait for the prompt's loop, which prints them above the prompt and redraws
// it with what was typed; `gWakePipe` tells the loop.
bool gAtPrompt = false;
std::vector<std::string> gQueued;
int gWakePipe[2] = {-1, -1};

void Wake() {
  char c = 1;
  if (gWakePipe[1] >= 0) [[maybe_unused]]
    auto n = write(gWakePipe[1], &c, 1);
}
void PrintLine(const std::string& line) {
  std::lock_guard lock(gOutMutex);
  if (gAtPrompt) {
    gQueued.push_back(line);
    Wake();
    return;
  }
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}
// Leaves the prompt (printing what waited for it) or comes back to it.
void AtPrompt(bool on) {
  std::lock_guard lock(gOutMutex);
  gAtPrompt = on;
  if (on) return;
  for (const std::string& line : gQueued) std::printf("%s\n", line.c_str());
  gQueued.clear();
  std::fflush(stdout);
}
std::vector<std::string> TakeQueued() {
  std::lock_guard lock(gOutMutex);
  return std::exchange(gQueued, {});
}

#ifdef VTR_HAVE_SIM
// The virtual deck notes a reply when it makes it, stamped with the time its
// first byte leaves, which can be after a block the host sends meanwhile (the
// one-way sends of an open): the lines are printed in time order once their
// time has come, so their times never go backwards.
class TraceOrder {
 public:
  TraceOrder() : thread_([this] { Run(); }) {}
  ~TraceOrder() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    cv_.notify_all();
    thread_.join();
    Flush(vtr::platform::Micros::max());
  }
  TraceOrder(const TraceOrder&) = delete;
  TraceOrder& operator=(const TraceOrder&) = delete;

  void Add(const vtr::sim::TraceEntry& e) {
    {
      std::lock_guard lock(mutex_);
      pending_.emplace(std::pair{e.time, next_++}, vtr::sim::FormatTraceEntry(e));
    }
    cv_.notify_all();
  }
  // Prints every line whose time has come (before a command's result line).
  void FlushDue() { Flush(vtr::platform::Now()); }

 private:
  void Flush(vtr::platform::Micros upTo) {
    std::lock_guard order(flushing_);  // one flusher prints at a time
    std::vector<std::string> due;
    {
      std::lock_guard lock(mutex_);
      while (!pending_.empty() && pending_.begin()->first.first <= upTo) {
        due.push_back(std::move(pending_.begin()->second));
        pending_.erase(pending_.begin());
      }
    }
    for (const std::string& line : due) PrintLine(line);
  }
  void Run() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
      if (pending_.empty()) {
        cv_.wait(lock);
        continue;
      }
      const auto wait = pending_.begin()->first.first - vtr::platform::Now();
      if (wait > vtr::platform::Micros{0}) {
        cv_.wait_for(lock, wait);
        continue;
      }
      lock.unlock();
      FlushDue();
      lock.lock();
    }
  }

  std::mutex flushing_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::map<std::pair<vtr::platform::Micros, std::uint64_t>, std::string> pending_;
  std::uint64_t next_ = 0;
  bool stop_ = false;
  std::thread thread_;
};
std::unique_ptr<TraceOrder> gTrace;
#endif
void FlushTrace() {
#ifdef VTR_HAVE_SIM
  if (gTrace) gTrace->FlushDue();
#endif
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
// yields and a break (which stops the machine, ending the wait, which then
// reads "interrupted"); a .wait or .notify ends, and a batch stops after its
// current command; at the prompt the line typed so far goes.
void WatchBreaks(MciLibrary& lib, vtr::host::CommandRunner& runner, Notifications& notes,
                 std::atomic<bool>& quit) {
  char c;
  while (!quit && read(gBreakPipe[0], &c, 1) == 1) {
    if (quit) break;
    notes.Interrupt();
    Wake();
    for (UINT id : lib.BreakableDevices()) {
      runner.NoteBreak(id);
      if (!lib.RequestBreak(id)) continue;
      if (auto alias = lib.AliasOf(id)) {
        // Said only when it failed: the interrupted command's line tells the rest.
        CommandResult r = lib.SendString("break " + *alias);
        if (!r.ok()) PrintLine(gOutput.Result("break " + *alias, r));
      }
    }
  }
}

// ---- running commands -----------------------------------------------------------------

class Console {
 public:
  Console(MciLibrary& lib, vtr::host::CommandRunner& runner, Notifications& notes)
      : lib_(lib), runner_(runner), notes_(notes) {}
#ifdef VTR_HAVE_SIM
  std::shared_ptr<vtr::sim::Deck> deck;  // the embedded virtual deck, with --sim
#endif

  // Runs one line (command or directive); false when it failed.
  bool Run(const std::string& raw) {
    std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') return true;
    if (line[0] == '.') return Directive(line);
    if (vtr::mci::ToLowerAscii(line.substr(0, line.find(' '))) == "help") return Help(line);
    std::vector<std::string> deferred;
    tDeferred = &deferred;
    // The notification names its command; the receiver is owed from the
    // moment it is registered.
    auto key = std::make_shared<std::atomic<DWORD_PTR>>(0);
    vtr::host::RunResult out = WithProgress(line, [&] {
      return runner_.Run(
          line, [this, line, key](const Notification& n) { notes_.Arrived(line, n, key->load()); },
          [this, line, key](CallbackHandle cb) {
            key->store(cb.value);
            notes_.Owe(cb.value, line);
          });
    });
    tDeferred = nullptr;
    const CommandResult& r = out.result;
    if (out.callback) notes_.Placed(out.callback.value, r.deviceId, r.ok());
    if (r.ok() && vtr::mci::ToLowerAscii(line).starts_with("open ")) ReadPositionOnce(r.deviceId);
    FlushTrace();
    switch (out.ending) {
      case vtr::host::Ending::kAnswered:
        PrintLine(gOutput.Result(line, r, out.rejected));
        break;
      case vtr::host::Ending::kInterrupted:
        PrintLine(Ended(line, r, "interrupted"));
        break;
      case vtr::host::Ending::kSuperseded:
        PrintLine(Ended(line, r, "superseded"));
        break;
    }
    for (const std::string& note : deferred) PrintLine(note);
    return r.ok() && out.ending == vtr::host::Ending::kAnswered;
  }

  // The table "help" and Tab read: an open device's, else the one the
  // installed "vcr" leads to (read once).
  std::shared_ptr<const vtr::mci::CommandTable> DeckTable() {
    for (const std::string& alias : lib_.OpenAliases()) {
      if (auto table = lib_.DeviceTable(alias)) return table;
    }
    if (!vcrTable_) vcrTable_ = lib_.DeviceTable("vcr");
    return vcrTable_;
  }

 private:
  // "CMD -> interrupted at TIMECODE (POSITION)": where the deck is, read after
  // the command ended (the break has stopped it, or the later command moves it).
  std::string Ended(const std::string& line, const CommandResult& r, std::string_view ending) {
    std::optional<std::string> position, timecode;
    if (auto alias = lib_.AliasOf(r.deviceId)) {
      CommandResult at = lib_.SendString("status " + *alias + " position");
      CommandResult rate = lib_.SendString("status " + *alias + " frame rate");
      if (at.ok()) {
        position = at.text;
        timecode = vtr::host::DisplayTimecode(at.text, rate.ok() ? rate.text : "30");
      }
    }
    return gOutput.Ended(line, r, ending, position, timecode);
  }
  // "help" and "help COMMAND", from the command tables.
  bool Help(const std::string& line) {
    std::vector<vtr::mci::Token> words;
    vtr::mci::Tokenize(line, words);
    std::shared_ptr<const vtr::mci::CommandTable> table = DeckTable();
    std::vector<std::string> lines;
    if (words.size() == 1) {
      lines = vtr::host::CommandsHelp(table.get(), lib_.CoreTable());
    } else {
      const vtr::mci::CommandDef* def = table ? table->Find(words[1].text) : nullptr;
      if (def == nullptr) def = lib_.CoreTable().Find(words[1].text);
      if (def == nullptr || words.size() > 2) {
        PrintLine(gOutput.Failure(line, "no command \"" + words[1].text + "\" (help lists them)"));
        return false;
      }
      lines = vtr::host::CommandHelp(*def);
    }
    PrintLines(line, lines);
    return true;
  }
  // Lines of vtrctl's own text: as they are, or with --json one result.
  static void PrintLines(const std::string& line, const std::vector<std::string>& lines) {
    if (!gOutput.Json()) {
      for (const std::string& l : lines) PrintLine(l);
      return;
    }
    CommandResult r;
    for (const std::string& l : lines) r.text += (r.text.empty() ? "" : "\n") + l;
    PrintLine(gOutput.Result(line, r));
  }
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
      lib_.UnregisterCallback(CallbackHandle{key->load()});
      notes_.Arrived(line, n, key->load());
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
  vtr::host::RunResult WithProgress(const std::string& line, F&& send) {
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
    if (word == ".help" && arg.empty()) {
      PrintLines(line, vtr::host::DirectivesHelp());
      return true;
    }
    std::string known;
    for (const vtr::host::Directive& d : vtr::host::Directives())
      known += (known.empty() ? "" : ", ") + std::string(d.word);
    PrintLine(gOutput.Failure(line, "unknown directive or arguments (" + known + ")"));
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
  vtr::host::CommandRunner& runner_;
  Notifications& notes_;
  std::shared_ptr<const vtr::mci::CommandTable> vcrTable_;
};

#ifdef VTR_HAVE_READLINE
// Tab: the words that fit where the cursor is, from the command tables.
struct CompletionSource {
  MciLibrary* lib = nullptr;
  Console* console = nullptr;
  std::vector<std::string> installed;
};
CompletionSource gCompletion;
std::vector<std::string> gCompletionWords;

char* CompletionGenerator(const char*, int state) {
  static std::size_t index;
  if (state == 0) index = 0;
  if (index < gCompletionWords.size()) return strdup(gCompletionWords[index++].c_str());
  return nullptr;
}

char** Complete(const char* text, int start, int) {
  rl_attempted_completion_over = 1;  // no file names
  const std::string before(rl_line_buffer, static_cast<std::size_t>(start));
  vtr::host::CompletionContext context;
  context.core = &gCompletion.lib->CoreTable();
  context.aliases = gCompletion.lib->OpenAliases();
  context.installed = gCompletion.installed;
  // The table of the alias typed, else the deck's.
  std::vector<vtr::mci::Token> words;
  vtr::mci::Tokenize(before, words);
  std::shared_ptr<const vtr::mci::CommandTable> table;
  if (words.size() >= 2 && gCompletion.lib->DeviceIdOf(words[1].text))
    table = gCompletion.lib->DeviceTable(words[1].text);
  if (!table) table = gCompletion.console->DeckTable();
  context.device = table.get();
  gCompletionWords = vtr::host::Completions(context, before, text);
  return rl_completion_matches(text, CompletionGenerator);
}

// The prompt's loop (readline's callback interface), so that a notification
// arriving at the prompt is printed above it and the prompt comes back with
// what was typed.
struct PromptLoop {
  Console* console = nullptr;
  Notifications* notes = nullptr;
  bool done = false;
};
PromptLoop gPrompt;

void OnLine(char* input) {
  if (input == nullptr) {  // end of input
    gPrompt.done = true;
    std::fputc('\n', stdout);
    return;
  }
  std::string line(input);
  std::free(input);
  if (line.find_first_not_of(" \t") == std::string::npos) return;
  add_history(line.c_str());
  if (line == "quit" || line == "exit") {
    gPrompt.done = true;
    return;
  }
  gPrompt.notes->TakeInterrupt();  // a Ctrl-C at the prompt is over
  AtPrompt(false);
  gPrompt.console->Run(line);
  gPrompt.notes->TakeInterrupt();  // a Ctrl-C ends the line's wait, not the session
  AtPrompt(true);
}

// Lines that came while the prompt waited go above it; the prompt and the
// line being typed are drawn again beneath them.
void ShowQueued() {
  std::vector<std::string> lines = TakeQueued();
  const bool interrupted = gPrompt.notes->TakeInterrupt();
  if (lines.empty() && !interrupted) return;
  rl_clear_visible_line();
  for (const std::string& line : lines) std::printf("%s\n", line.c_str());
  if (interrupted) {  // Ctrl-C: the line typed so far goes
    rl_replace_line("", 0);
    rl_point = 0;
  }
  std::fflush(stdout);
  rl_forced_update_display();
}
#endif

void Greet() {
  std::printf("vtrctl %s: type help for the commands, .help for the directives, quit to leave\n",
              kVersion);
  std::fflush(stdout);
}

int Interactive(Console& console, MciLibrary& lib, Notifications& notes,
                std::vector<std::string> installed) {
  Greet();
#ifdef VTR_HAVE_READLINE
  gCompletion = {&lib, &console, std::move(installed)};
  gPrompt = {&console, &notes, false};
  rl_attempted_completion_function = Complete;
  rl_catch_signals = 0;  // Ctrl-C stays the break key
  std::string historyFile;
  if (const char* home = std::getenv("HOME")) historyFile = std::string(home) + "/.vtrctl_history";
  if (!historyFile.empty()) read_history(historyFile.c_str());
  if (pipe(gWakePipe) != 0) gWakePipe[0] = gWakePipe[1] = -1;
  AtPrompt(true);
  rl_callback_handler_install("vtr> ", OnLine);
  while (!gPrompt.done) {
    pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {gWakePipe[0], POLLIN, 0}};
    if (poll(fds, gWakePipe[0] >= 0 ? 2 : 1, -1) < 0) continue;  // a signal
    if (fds[1].revents & POLLIN) {
      char drain[64];
      [[maybe_unused]] auto n = read(gWakePipe[0], drain, sizeof drain);
      ShowQueued();
    }
    if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) rl_callback_read_char();
  }
  rl_callback_handler_remove();
  AtPrompt(false);
  if (!historyFile.empty()) write_history(historyFile.c_str());
#else
  (void)lib;
  (void)installed;
  std::string line;
  while (std::fputs("vtr> ", stdout), std::fflush(stdout), std::getline(std::cin, line)) {
    if (line == "quit" || line == "exit") break;
    console.Run(line);
    notes.TakeInterrupt();  // a Ctrl-C ends the line's wait, not the session
  }
  std::fputc('\n', stdout);
#endif
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
      gTrace = std::make_unique<TraceOrder>();
      deck->SetTraceSink([](const vtr::sim::TraceEntry& e) { gTrace->Add(e); });
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
  std::vector<std::string> installed;
  for (const auto& [name, params] : registry.Entries()) installed.push_back(name);

  int status = 0;
  {
    Notifications notes;
    MciLibrary lib(vtr::host::RealDriver(), std::move(registry));
    vtr::host::CommandRunner runner(lib);
    Console console(lib, runner, notes);
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
      breaks = std::thread([&] { WatchBreaks(lib, runner, notes, quit); });
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
      status = Interactive(console, lib, notes, std::move(installed));
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
    gTrace.reset();  // what is still to come is printed
  }
#endif
  if (tempProfile) {
    std::error_code ec;
    std::filesystem::remove_all(*tempProfile, ec);
  }
  return status;
}

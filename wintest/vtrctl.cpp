// vtrctl for Windows: a console for MCI "vcr" devices through the system's
// multimedia library (mciSendStringW, mciSendCommandW). It reads the scripts
// vtrctl reads on POSIX and prints the same lines:
//   COMMAND -> RESULT        the return string, "ok", or "error N: TEXT"
//   notify CODE: COMMAND     successful, superseded, aborted or failure
// Directives: .wait MS, .notify [TIMEOUT_MS], and
//   .send ALIAS MSG [flags=F] [words=A,B,...] [block=null]
// (a command message with a parameter block of one value per slot, laid out
// by the device's command table; block=null sends no block at all).
//
// Every MCI call and all message pumping stay on the main thread: winmm takes
// commands for a device only from the thread that opened it, and the driver's
// poll timer runs on the thread that loaded the driver whenever that thread
// dispatches messages. Notifications arrive on a message-only window.
#ifndef NOMINMAX
#define NOMINMAX
#endif
// Each needs the ones before it.
// clang-format off
#include <windows.h>
#include <mmsystem.h>
// clang-format on
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "mci/command_table.h"
#include "mci/mci_text.h"
#include "mci/parser.h"
#include "mci/send_request.h"
#include "vtr_mci/core_resources.h"
#include "vtr_resource/vcr_resources.h"

// The host's tables and blocks keep their text as UTF-16 in char16_t, which
// is wchar_t's size and encoding here.
namespace vtr::platform {

std::u16string Widen(std::string_view utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring w(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), w.data(), n);
  return std::u16string(w.begin(), w.end());
}

std::string Narrow(std::u16string_view utf16) {
  if (utf16.empty()) return {};
  const std::wstring w(utf16.begin(), utf16.end());
  const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string s(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                      nullptr);
  return s;
}

}  // namespace vtr::platform

namespace {

using vtr::mci::BlockSlot;
using vtr::mci::CommandDef;
using vtr::mci::CommandTable;
using vtr::mci::ParamBlock;
using vtr::mci::ReturnKind;

constexpr long kDefaultNotifyTimeoutMs = 30000;
constexpr int kInterruptedStatus = 130;  // as a shell reports a Ctrl-C
constexpr UINT kMciFirst = 0x0800;
constexpr UINT kMciLast = 0x0FFF;

std::wstring Wide(const std::string& s) {
  const std::u16string w = vtr::platform::Widen(s);
  return std::wstring(w.begin(), w.end());
}

std::string Utf8(const wchar_t* w) {
  const std::wstring_view v(w);
  return vtr::platform::Narrow(std::u16string(v.begin(), v.end()));
}

void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string Trim(const std::string& s) {
  const std::size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

std::vector<std::string> Words(const std::string& s) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while ((i = s.find_first_not_of(" \t", i)) != std::string::npos) {
    const std::size_t end = std::min(s.find_first_of(" \t", i), s.size());
    out.push_back(vtr::mci::ToLowerAscii(s.substr(i, end - i)));
    i = end;
  }
  return out;
}

std::string ErrorText(MCIERROR err) {
  wchar_t text[256] = {};
  if (!mciGetErrorStringW(err, text, static_cast<UINT>(std::size(text))))
    return "Unknown MCI error " + std::to_string(err & 0xFFFF) + ".";
  return Utf8(text);
}

// The command table entry that lays out a message's block: the driver's own
// table (the "VCR" resource of the loaded mcivtr.drv), else the library's.
class Tables {
 public:
  Tables()
      : core_(CommandTable::Load(vtr::mci::core::kCoreCommandTable)),
        vcr_(CommandTable::Load(vtr::resource::kVcrCommandTable)) {}
  const CommandDef* Find(UINT message) {
    LoadDriverTable();
    const CommandDef* def = Driver() != nullptr ? Driver()->FindMessage(message) : nullptr;
    const auto* core = std::get_if<CommandTable>(&core_);
    if (def == nullptr && core != nullptr) def = core->FindMessage(message);
    return def;
  }
  // The entry a command string's verb names, as winmm finds it: the driver's
  // table first (once the module is loaded), else the library's.
  const CommandDef* FindVerb(std::string_view verb) {
    LoadDriverTable();
    const CommandDef* def = Driver() != nullptr ? Driver()->Find(verb) : nullptr;
    const auto* core = std::get_if<CommandTable>(&core_);
    if (def == nullptr && core != nullptr) def = core->Find(verb);
    return def;
  }
  std::optional<std::string> DriverString(UINT id) const {
    wchar_t text[256] = {};
    if (module_ == nullptr ||
        LoadStringW(module_, id, text, static_cast<int>(std::size(text))) <= 0)
      return std::nullopt;
    return Utf8(text);
  }

 private:
  // The loaded module's table; else the console's own copy of the same
  // table (a driver that carries it under another module name, as the Wine
  // tier's probe does).
  const CommandTable* Driver() const {
    return driverTable_ != nullptr ? driverTable_ : std::get_if<CommandTable>(&vcr_);
  }
  void LoadDriverTable() {
    driver_.reset();
    driverTable_ = nullptr;
    module_ = GetModuleHandleW(L"mcivtr.drv");
    if (module_ != nullptr) {
      HRSRC res = FindResourceW(module_, L"VCR", MAKEINTRESOURCEW(10));  // RT_RCDATA
      HGLOBAL data = res != nullptr ? LoadResource(module_, res) : nullptr;
      const auto* bytes =
          data != nullptr ? static_cast<const std::uint8_t*>(LockResource(data)) : nullptr;
      if (bytes != nullptr) {
        driver_ = CommandTable::Load({bytes, SizeofResource(module_, res)});
        driverTable_ = std::get_if<CommandTable>(&*driver_);
      }
    }
  }

  std::variant<CommandTable, vtr::mci::TableError> core_;
  std::variant<CommandTable, vtr::mci::TableError> vcr_;
  std::optional<std::variant<CommandTable, vtr::mci::TableError>> driver_;
  const CommandTable* driverTable_ = nullptr;
  HMODULE module_ = nullptr;
};

// ---- the console -------------------------------------------------------------------

class Console {
 public:
  explicit Console(HANDLE interrupt) : interrupt_(interrupt) {}

  bool Init() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &Console::WndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"vtrctl.notify";
    if (!RegisterClassW(&wc)) return false;
    hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            wc.hInstance, this);
    return hwnd_ != nullptr;
  }

  // Runs one line (command or directive); false when it failed.
  bool Run(const std::string& raw) {
    const std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') return true;
    if (line[0] == '.') return Directive(line);
    return Command(line);
  }

  // Dispatches messages until `ms` have passed, or (`untilNotify`) one
  // notification is there to consume; false when Ctrl-C or the time came first.
  bool Pump(DWORD ms, bool untilNotify) {
    const DWORD start = GetTickCount();
    for (;;) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      if (untilNotify && unconsumed_ > 0) {
        --unconsumed_;
        return true;
      }
      if (WaitForSingleObject(interrupt_, 0) == WAIT_OBJECT_0) return false;
      const DWORD elapsed = GetTickCount() - start;
      if (elapsed >= ms) return !untilNotify;
      MsgWaitForMultipleObjects(1, &interrupt_, FALSE, ms - elapsed, QS_ALLINPUT);
    }
  }

  void CloseAll() { mciSendStringW(L"close all", nullptr, 0, nullptr); }

 private:
  bool Directive(const std::string& line) {
    const std::string word = line.substr(0, line.find(' '));
    const std::string arg = line.size() > word.size() ? Trim(line.substr(word.size())) : "";
    char* end = nullptr;
    const long ms = arg.empty() ? -1 : std::strtol(arg.c_str(), &end, 10);
    const bool numberOk = arg.empty() || (end != nullptr && *end == '\0' && ms >= 0);
    if (word == ".wait" && !arg.empty() && numberOk) {
      if (Pump(static_cast<DWORD>(ms), false)) return true;
      PrintLine(line + " -> interrupted");
      return false;
    }
    if (word == ".notify" && numberOk) {
      const long timeout = arg.empty() ? kDefaultNotifyTimeoutMs : ms;
      if (Pump(static_cast<DWORD>(timeout), true)) return true;
      PrintLine(WaitForSingleObject(interrupt_, 0) == WAIT_OBJECT_0
                    ? line + " -> interrupted"
                    : line + " -> error: no notification within " + std::to_string(timeout) +
                          " ms");
      return false;
    }
    if (word == ".send") return Send(line, arg);
    if (word == ".config" || word == ".watch" || word == ".recorded") {
      PrintLine(line + " -> error: " + word + " is not available in this console");
      return false;
    }
    PrintLine(line +
              " -> error: unknown directive (.wait MS, .notify [TIMEOUT_MS], .config [ALIAS], "
              ".send ALIAS MSG ..., .watch ALIAS)");
    return false;
  }

  // Whether the command string asks for a notification: its parsed flags, as
  // winmm parses it with the same table (quoted text never counts).
  bool AsksNotify(const std::string& line) {
    std::vector<vtr::mci::Token> tokens;
    if (vtr::mci::Tokenize(line, tokens) != 0 || tokens.size() < 2) return false;
    const CommandDef* def = tables_.FindVerb(tokens[0].text);
    if (def == nullptr) return false;
    DWORD flags = 0;
    ParamBlock block;
    const auto args = std::span<const vtr::mci::Token>(tokens).subspan(2);
    return vtr::mci::ParseArguments(*def, args, flags, block) == 0 && (flags & MCI_NOTIFY) != 0;
  }

  bool Command(const std::string& line) {
    const std::vector<std::string> words = Words(line);
    const bool notify = AsksNotify(line);
    wchar_t ret[512] = {};
    const std::wstring cmd = Wide(line);
    const MCIERROR err = mciSendStringW(cmd.c_str(), ret, static_cast<UINT>(std::size(ret)),
                                        notify ? hwnd_ : nullptr);
    const bool ok = (err & 0xFFFF) == 0;
    if (ok && words.size() >= 2 && words[0] == "open") ReadPositionOnce(words);
    PrintLine(line + " -> " +
              (!ok ? "error " + std::to_string(err & 0xFFFF) + ": " + ErrorText(err)
                   : (ret[0] != 0 ? Utf8(ret) : std::string("ok"))));
    if (notify) Placed(DeviceOf(words), line, ok);
    return ok;
  }

  // The driver writes positions as timecode of the kind it last read: read
  // one at once, as vtrctl does after every open.
  void ReadPositionOnce(const std::vector<std::string>& words) {
    std::string alias = words[1];
    for (std::size_t i = 2; i + 1 < words.size(); ++i)
      if (words[i] == "alias") alias = words[i + 1];
    wchar_t ret[64] = {};
    mciSendStringW(Wide("status " + alias + " position").c_str(), ret,
                   static_cast<UINT>(std::size(ret)), nullptr);
  }

  static MCIDEVICEID DeviceOf(const std::vector<std::string>& words) {
    if (words.size() < 2) return 0;
    std::string alias = words[1];
    if (words[0] == "open") {
      for (std::size_t i = 2; i + 1 < words.size(); ++i)
        if (words[i] == "alias") alias = words[i + 1];
    }
    return mciGetDeviceIDW(Wide(alias).c_str());
  }

  // A command that asked to be notified: its notification names it. One
  // that failed owes none, except what it posted while it ran.
  void Placed(MCIDEVICEID device, const std::string& line, bool sent) {
    if (device == 0) return;
    const unsigned long long id = ++lastPending_;
    pending_[device].push_back({id, line});
    MSG msg;
    while (PeekMessageW(&msg, hwnd_, MM_MCINOTIFY, MM_MCINOTIFY, PM_REMOVE))
      OnNotify(msg.wParam, msg.lParam);
    if (!sent) {
      auto& queue = pending_[device];
      std::erase_if(queue, [id](const Pending& p) { return p.id == id; });
    }
  }

  bool Send(const std::string& line, const std::string& args) {
    auto parsed = vtr::mci::ParseSendRequest(args);
    if (auto* error = std::get_if<std::string>(&parsed)) {
      PrintLine(line + " -> error: " + *error);
      return false;
    }
    vtr::mci::SendRequest& request = std::get<vtr::mci::SendRequest>(parsed);
    const MCIDEVICEID id = mciGetDeviceIDW(Wide(request.alias).c_str());
    if (id == 0) {
      PrintLine(line + " -> error: no open device '" + request.alias + "'");
      return false;
    }
    if (request.message < kMciFirst || request.message > kMciLast ||
        request.message == MCI_OPEN_DRIVER || request.message == MCI_CLOSE_DRIVER ||
        request.message == MCI_OPEN) {
      PrintLine(line + " -> error " + std::to_string(MCIERR_UNRECOGNIZED_COMMAND) + ": " +
                ErrorText(MCIERR_UNRECOGNIZED_COMMAND));
      return false;
    }
    const bool notify = (request.flags & MCI_NOTIFY) != 0;
    if (request.nullBlock) {
      const MCIERROR err = mciSendCommandW(id, request.message, request.flags, 0);
      const bool ok = (err & 0xFFFF) == 0;
      PrintLine(line + " -> " +
                (ok ? std::string("ok")
                    : "error " + std::to_string(err & 0xFFFF) + ": " + ErrorText(err)));
      if (notify) Placed(id, line, ok);
      return ok;
    }

    const CommandDef* def = tables_.Find(request.message);
    std::vector<BlockSlot> slots = vtr::mci::BlockLayout(def);
    std::size_t end = slots.back().offset + slots.back().size;
    while (slots.size() < request.words.size() && end + vtr::mci::kWordSlot <= ParamBlock::kBytes) {
      slots.push_back({end, vtr::mci::kWordSlot});
      end += vtr::mci::kWordSlot;
    }
    if (request.words.size() > slots.size()) {
      PrintLine(line + " -> error: too many words for the parameter block");
      return false;
    }
    ParamBlock block;
    for (std::size_t i = 0; i < request.words.size(); ++i) {
      if (slots[i].size == vtr::mci::kPointerSlot) {
        block.PutPointer(slots[i].offset, request.words[i]);
      } else {
        block.PutWord(slots[i].offset, static_cast<DWORD>(request.words[i]));
      }
    }
    if (notify && block.Pointer(0) == 0) block.PutPointer(0, reinterpret_cast<DWORD_PTR>(hwnd_));
    const bool ownBuffer = def != nullptr && def->returns == ReturnKind::kString &&
                           block.Pointer(def->returnSlot) == 0;
    if (ownBuffer) block.PutReturnBuffer(def->returnSlot);

    const MCIERROR result =
        mciSendCommandW(id, request.message, request.flags, static_cast<DWORD_PTR>(block.Bind()));
    const bool ok = (result & 0xFFFF) == 0;
    std::string out = ok ? std::string("ok")
                         : "error " + std::to_string(result & 0xFFFF) + ": " + ErrorText(result);
    if (ok && def != nullptr && (def->returns == ReturnKind::kInteger || ownBuffer)) {
      const std::string text = vtr::mci::FormatReturn(
          *def, result, block, [this](UINT sid) { return tables_.DriverString(sid); });
      if (!text.empty()) out += " return " + text;
    }
    out += " words=";
    for (std::size_t i = 0; i < slots.size(); ++i) {
      if (i > 0) out += ',';
      const DWORD_PTR v = slots[i].size == vtr::mci::kPointerSlot ? block.Pointer(slots[i].offset)
                                                                  : block.Word(slots[i].offset);
      out += std::to_string(v);
    }
    PrintLine(line + " -> " + out);
    if (notify) Placed(id, line, ok);
    return ok;
  }

  void OnNotify(WPARAM status, LPARAM device) {
    auto it = pending_.find(static_cast<MCIDEVICEID>(device));
    if (it == pending_.end() || it->second.empty()) return;  // nobody asked for it
    PrintLine(std::string("notify ") +
              std::string(vtr::mci::NotifyCodeName(static_cast<UINT>(status))) + ": " +
              it->second.front().line);
    it->second.pop_front();
    ++unconsumed_;
  }

  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<Console*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == MM_MCINOTIFY && self != nullptr) {
      self->OnNotify(wParam, lParam);
      return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }

  HANDLE interrupt_;
  HWND hwnd_ = nullptr;
  // Per device, the lines whose notifications are still owed, oldest first:
  // a newer one supersedes an older, which is then told first.
  struct Pending {
    unsigned long long id;
    std::string line;
  };
  std::map<MCIDEVICEID, std::deque<Pending>> pending_;
  unsigned long long lastPending_ = 0;
  int unconsumed_ = 0;  // notifications shown that no .notify has taken yet
  Tables tables_;
};

HANDLE gInterrupt = nullptr;

BOOL WINAPI OnControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
  SetEvent(gInterrupt);
  return TRUE;
}

void Usage(std::FILE* out) {
  std::fprintf(out,
               "usage: vtrctl [-e CMD]... [--script FILE] [--keep-going]\n"
               "Sends MCI command strings to \"vcr\" devices (e.g. open vcr1 alias tape,\n"
               "play tape from 1000 to 2000 notify, status tape mode, close tape).\n"
               "\n"
               "  -e CMD          run CMD (repeatable); then exit\n"
               "  --script FILE   run the commands of FILE; then exit\n"
               "                  (with neither, commands come from standard input, with a\n"
               "                  prompt on a console)\n"
               "  --keep-going    run every batch command even after a failure, exit 0\n"
               "  -h, --help      this text\n"
               "\n"
               "Script lines: a command string, \"# comment\", \".wait MS\" (let MS\n"
               "milliseconds pass), \".notify [TIMEOUT_MS]\" (wait for the next notification,\n"
               "default %ld ms; fails on timeout), \".send ALIAS MSG [flags=F] [words=A,B,...] [block=null]\n"
               "[block=null]\" (send command message MSG with flags F and a parameter block of\n"
               "one value per slot, the callback first, or with no block at all; numbers\n"
               "decimal or 0x hex; with the notify flag 0x1 and callback 0 vtrctl supplies the\n"
               "callback; prints the result and the block's words as the driver left them).\n"
               "Output: \"COMMAND -> RESULT\" per command (the return string, \"ok\", or\n"
               "\"error N: TEXT\"), and \"notify CODE: COMMAND\" for each notification.\n"
               "Ctrl-C ends a .wait or .notify and stops a batch after its command (exit\n"
               "status 130).\n",
               kDefaultNotifyTimeoutMs);
}

// Lines typed at the console come from a thread of their own, so that the
// main thread keeps dispatching messages (the driver's poll) while it waits.
// The two events hand each line over: the reader writes it and sets `ready`,
// the main thread takes it and sets `taken`.
class LineReader {
 public:
  LineReader() { thread_ = CreateThread(nullptr, 0, &LineReader::Main, this, 0, nullptr); }
  ~LineReader() {
    if (thread_ != nullptr) CloseHandle(thread_);  // it may sit in getline; the process ends
    CloseHandle(ready_);
    CloseHandle(taken_);
  }
  HANDLE Ready() const { return ready_; }
  // After Ready(): the line, or nullopt at the end of input.
  std::optional<std::string> Take() {
    std::optional<std::string> line = std::move(line_);
    SetEvent(taken_);
    return line;
  }

 private:
  static DWORD WINAPI Main(LPVOID self) {
    auto* r = static_cast<LineReader*>(self);
    for (;;) {
      std::fputs("vtr> ", stdout);
      std::fflush(stdout);
      std::string line;
      const bool got = static_cast<bool>(std::getline(std::cin, line));
      r->line_ = got ? std::optional<std::string>(std::move(line)) : std::nullopt;
      SetEvent(r->ready_);
      WaitForSingleObject(r->taken_, INFINITE);
      if (!got) return 0;
    }
  }

  HANDLE ready_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  HANDLE taken_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::optional<std::string> line_;
  HANDLE thread_ = nullptr;
};

int Interactive(Console& console) {
  LineReader reader;
  for (;;) {
    HANDLE ready = reader.Ready();
    while (MsgWaitForMultipleObjects(1, &ready, FALSE, INFINITE, QS_ALLINPUT) ==
           WAIT_OBJECT_0 + 1) {
      console.Pump(0, false);
    }
    const std::optional<std::string> line = reader.Take();
    if (!line || *line == "quit" || *line == "exit") break;
    console.Run(*line);
    ResetEvent(gInterrupt);  // a Ctrl-C ends the line's wait, not the session
  }
  std::fputc('\n', stdout);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> batch;
  std::optional<std::string> script;
  bool keepGoing = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "-h" || a == "--help") {
      Usage(stdout);
      return 0;
    }
    if ((a == "-e" || a == "--script") && i + 1 >= argc) {
      std::fprintf(stderr, "vtrctl: %s needs a value\n", a.c_str());
      return 2;
    }
    if (a == "-e") {
      batch.push_back(argv[++i]);
    } else if (a == "--script") {
      script = argv[++i];
    } else if (a == "--keep-going") {
      keepGoing = true;
    } else {
      std::fprintf(stderr, "vtrctl: unknown option %s (try --help)\n", a.c_str());
      return 2;
    }
  }

  gInterrupt = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  SetConsoleCtrlHandler(OnControl, TRUE);
  Console console(gInterrupt);
  if (!console.Init()) {
    std::fputs("vtrctl: cannot create the notification window\n", stderr);
    return 1;
  }

  const bool interactive = batch.empty() && !script && _isatty(_fileno(stdin)) != 0;
  int status = 0;
  if (script) {
    std::ifstream in(*script);
    if (!in) {
      std::fprintf(stderr, "vtrctl: cannot read %s\n", script->c_str());
      return 2;
    }
    for (std::string line; std::getline(in, line);) batch.push_back(line);
  } else if (batch.empty() && !interactive) {
    for (std::string line; std::getline(std::cin, line);) batch.push_back(line);
  }
  if (interactive) {
    status = Interactive(console);
  } else {
    for (const std::string& line : batch) {
      const bool ok = console.Run(line);
      if (WaitForSingleObject(gInterrupt, 0) == WAIT_OBJECT_0) {
        status = kInterruptedStatus;
        break;
      }
      if (!ok && !keepGoing) {
        status = 1;
        break;
      }
    }
  }
  // Whatever the script left open is closed, so the driver shuts down cleanly.
  console.CloseAll();
  return status;
}

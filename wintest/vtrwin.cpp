// vtrwin: sends MCI command strings through the real multimedia library
// (mciSendStringW) and prints one line per command in vtrctl's format:
//   <command> -> <return string> | ok | error N: <text>
// Notifications arrive on a message-only window as MM_MCINOTIFY and print as
//   notify successful: <command>   (superseded, aborted, failure alike)
//
// Commands come from a script file (-f FILE), from the arguments, or from
// standard input, one per line. Blank lines and lines starting with '#' are
// skipped. Directives:
//   .wait MS         pump messages for MS milliseconds
//   .notify [MS]     pump messages until a notification arrives (default 10000)
//   .echo TEXT       print TEXT
//
// All MCI calls and message pumping stay on the main thread: winmm accepts
// commands for a device only from the thread that opened it, and the driver's
// poll timer runs on that thread whenever it dispatches messages.
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>

#include <cstdio>
#include <cstdlib>
#include <cwctype>
#include <deque>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr DWORD kDefaultNotifyTimeoutMs = 10000;

std::string ToUtf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), s.data(), n, nullptr,
                      nullptr);
  return s;
}

std::wstring FromUtf8(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), w.data(), n);
  return w;
}

void PrintLine(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string Trim(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::vector<std::wstring> Words(const std::wstring& s) {
  std::vector<std::wstring> out;
  std::wistringstream in(s);
  std::wstring w;
  while (in >> w) {
    for (auto& c : w) c = static_cast<wchar_t>(std::towlower(c));
    out.push_back(w);
  }
  return out;
}

const char* NotifyWord(WPARAM status) {
  switch (status) {
    case MCI_NOTIFY_SUCCESSFUL: return "successful";
    case MCI_NOTIFY_SUPERSEDED: return "superseded";
    case MCI_NOTIFY_ABORTED: return "aborted";
    case MCI_NOTIFY_FAILURE: return "failure";
    default: return "unknown";
  }
}

class Runner {
 public:
  bool Init() {
    WNDCLASSW wc{};
    wc.lpfnWndProc = &Runner::WndProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"vtrwin.notify";
    if (!RegisterClassW(&wc)) return false;
    hwnd_ = CreateWindowExW(0, wc.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            wc.hInstance, this);
    return hwnd_ != nullptr;
  }

  // Returns false when the line was a command that failed.
  bool RunLine(const std::string& raw) {
    std::string line = Trim(raw);
    if (line.empty() || line[0] == '#') return true;
    if (line[0] == '.') return Directive(line);
    return Command(line);
  }

 private:
  bool Directive(const std::string& line) {
    std::istringstream in(line);
    std::string name;
    in >> name;
    if (name == ".wait") {
      long ms = 0;
      in >> ms;
      Pump(ms > 0 ? static_cast<DWORD>(ms) : 0, false);
      return true;
    }
    if (name == ".notify") {
      long ms = kDefaultNotifyTimeoutMs;
      if (!(in >> ms)) ms = kDefaultNotifyTimeoutMs;
      if (!Pump(static_cast<DWORD>(ms), true)) PrintLine("notify timeout");
      return true;
    }
    if (name == ".echo") {
      std::string rest;
      std::getline(in, rest);
      PrintLine(Trim(rest));
      return true;
    }
    PrintLine(line + " -> error: unknown directive");
    return false;
  }

  bool Command(const std::string& line) {
    std::wstring cmd = FromUtf8(line);
    std::vector<std::wstring> words = Words(cmd);
    bool wantsNotify = false;
    for (size_t i = 2; i < words.size(); ++i)
      if (words[i] == L"notify") wantsNotify = true;

    wchar_t ret[512] = {};
    MCIERROR err = mciSendStringW(cmd.c_str(), ret, static_cast<UINT>(std::size(ret)), hwnd_);
    if (err != 0) {
      wchar_t text[256] = {};
      if (!mciGetErrorStringW(err, text, static_cast<UINT>(std::size(text))))
        lstrcpyW(text, L"unknown error");
      PrintLine(line + " -> error " + std::to_string(err) + ": " + ToUtf8(text));
    } else {
      PrintLine(line + " -> " + (ret[0] ? ToUtf8(ret) : std::string("ok")));
    }
    // The owed notification is remembered by device: winmm reports the device
    // ID, and a newer notify command on the same device supersedes the older.
    if (words.size() >= 2 && wantsNotify) {
      MCIDEVICEID id = mciGetDeviceIDW(words[1].c_str());
      if (id != 0) pending_[id] = line;
    }
    return err == 0;
  }

  // Dispatches messages for up to `ms`; with `untilNotify`, returns true as
  // soon as one notification has been printed.
  bool Pump(DWORD ms, bool untilNotify) {
    const DWORD start = GetTickCount();
    const size_t seen = notifications_;
    for (;;) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      if (untilNotify && notifications_ != seen) return true;
      DWORD elapsed = GetTickCount() - start;
      if (elapsed >= ms) return !untilNotify;
      MsgWaitForMultipleObjects(0, nullptr, FALSE, ms - elapsed, QS_ALLINPUT);
    }
  }

  void OnNotify(WPARAM status, LPARAM deviceId) {
    std::string cmd = "?";
    auto it = pending_.find(static_cast<MCIDEVICEID>(deviceId));
    if (it != pending_.end()) {
      cmd = it->second;
      pending_.erase(it);
    }
    PrintLine(std::string("notify ") + NotifyWord(status) + ": " + cmd);
    ++notifications_;
  }

  static LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_NCCREATE) {
      auto* cs = reinterpret_cast<CREATESTRUCTW*>(lParam);
      SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<Runner*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (msg == MM_MCINOTIFY && self) {
      self->OnNotify(wParam, lParam);
      return 0;
    }
    return DefWindowProcW(hwnd, msg, wParam, lParam);
  }

  HWND hwnd_ = nullptr;
  std::map<MCIDEVICEID, std::string> pending_;
  size_t notifications_ = 0;
};

int Usage() {
  std::fputs(
      "usage: vtrwin [-k] -f SCRIPT | vtrwin [-k] COMMAND... | vtrwin [-k] < SCRIPT\n"
      "  -k  keep going after a failed command (default: stop, exit 1)\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  bool keepGoing = false;
  std::string script;
  std::vector<std::string> commands;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "-k") {
      keepGoing = true;
    } else if (a == "-f" && i + 1 < argc) {
      script = argv[++i];
    } else if (a == "-h" || a == "--help") {
      return Usage();
    } else {
      commands.push_back(a);
    }
  }

  Runner runner;
  if (!runner.Init()) {
    std::fputs("vtrwin: cannot create the notification window\n", stderr);
    return 1;
  }

  std::deque<std::string> lines;
  if (!script.empty()) {
    std::ifstream in(script);
    if (!in) {
      std::fprintf(stderr, "vtrwin: cannot read %s\n", script.c_str());
      return 1;
    }
    for (std::string l; std::getline(in, l);) lines.push_back(l);
  } else if (!commands.empty()) {
    lines.assign(commands.begin(), commands.end());
  } else {
    for (std::string l; std::getline(std::cin, l);) lines.push_back(l);
  }

  int status = 0;
  for (const auto& l : lines) {
    if (!runner.RunLine(l)) {
      status = 1;
      if (!keepGoing) break;
    }
  }
  // Close whatever the script left open so the driver shuts down cleanly.
  mciSendStringW(L"close all", nullptr, 0, nullptr);
  return status;
}

// Serial ports behind the Win32 communications calls: "COMn" leads to a tty
// (real port, USB adapter, pseudo-terminal), to a network port or to an
// in-process endpoint, each a backend of its own (port_backend.h). The calls
// here find the port, hold its lock, check their arguments, pace empty reads
// and say which port failed and why; the backend does what depends on the
// kind of line.
//
// The driver's exchange polls with reads that return at once and counts
// attempts instead of measuring time. A bare non-blocking read costs well
// under a microsecond, far less than on the system the budget was sized
// for, so empty attempts keep to a fixed schedule (see kEmptyReadPacing)
// and the budget spans a deck's reply time. The schedule is kept by
// sleeping in the backend until a byte arrives or the budget's time is up;
// attempts scheduled while the line was known to be empty are answered
// without asking it again.
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>

#include "platform/clock.h"
#include "platform/posix/net_port.h"
#include "platform/posix/port_backend.h"
#include "platform/serial_ports.h"
#include "platform/win32.h"

namespace vtr::platform {

// Text parsing, in serial_mode.cpp (ParseComPortName comes with serial_ports.h).
namespace detail {
// BuildCommDCBA's mode text into `dcb`; false (and `dcb` untouched) on garbage.
bool ParseCommMode(std::string_view text, DCB& dcb);
}  // namespace detail
using detail::ParseCommMode;

namespace {

using namespace std::chrono_literals;

// An empty attempt more than this long after the previous call starts a new
// run of attempts, and with it a new schedule.
constexpr Micros kRunGap = 1ms;

struct Port {
  std::string name;  // "COM9 -> /dev/ttyUSB0", for what a failure says
  std::mutex mutex;
  std::unique_ptr<port::Backend> line;  // null once closed
  DCB dcb{};
  COMMTIMEOUTS timeouts{};
  // The current run of empty read attempts.
  bool inRun = false;
  Micros runStart{};
  std::int64_t runAttempts = 0;
  Micros lastReturn{};
  // The line had nothing for us until then (within the run).
  Micros emptyUntil{};
};

struct Registry {
  std::mutex mutex;
  std::unordered_map<HANDLE, std::shared_ptr<Port>> live;
  std::map<int, std::string> paths;
  std::map<int, std::shared_ptr<SerialEndpoint>> endpoints;
};

// Why a call failed: the backend's few words (tNote), then the whole account
// that TakePortFailure hands out (tFailure). Only failures write them.
thread_local std::string tNote;
thread_local std::string tFailure;

// Fails the call, saying why: the backend's words, or `otherwise`.
BOOL Failed(const std::string& name, std::string_view otherwise) {
  tFailure = name + ": " + (tNote.empty() ? std::string(otherwise) : std::move(tNote));
  tNote.clear();
  return FALSE;
}

// A handle that is no open port.
BOOL NotOpen() {
  tFailure = "the port is not open";
  return FALSE;
}

Registry& Reg() {
  static Registry r;
  return r;
}

std::shared_ptr<Port> Find(HANDLE h) {
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return nullptr;
  auto& reg = Reg();
  std::lock_guard lock(reg.mutex);
  auto it = reg.live.find(h);
  return it == reg.live.end() ? nullptr : it->second;
}

// Bumped by every close: a thread's cached port below is then looked up again.
std::atomic<std::uint64_t> gClosings{0};

// The port of a thread's run of read attempts, found without the registry's
// lock while no port has been closed since. Holding it keeps the port object
// (and so its address, the handle) from being reused while cached.
Port* FindForRead(HANDLE h) {
  struct Cache {
    HANDLE handle = nullptr;
    std::uint64_t closings = 0;
    std::shared_ptr<Port> port;
  };
  thread_local Cache cache;
  const auto closings = gClosings.load(std::memory_order_acquire);
  if (h != cache.handle || closings != cache.closings || !cache.port) {
    cache.port = Find(h);
    cache.handle = h;
    cache.closings = closings;
  }
  return cache.port.get();
}

DCB DefaultDcb() {
  DCB d{};
  d.DCBlength = sizeof(DCB);
  d.BaudRate = 9600;
  d.fBinary = 1;
  d.ByteSize = 8;
  d.Parity = NOPARITY;
  d.StopBits = ONESTOPBIT;
  d.fDtrControl = DTR_CONTROL_ENABLE;
  d.fRtsControl = RTS_CONTROL_ENABLE;
  return d;
}

std::string PathFromPortsFile(int n) {
  const char* file = std::getenv("VTR422_PORTS");
  if (file == nullptr || *file == '\0') return {};
  std::ifstream in(file);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto first = line.find_first_not_of(" \t");
    if (first == std::string::npos || line[first] == '#') continue;
    const auto eq = line.find('=');
    if (eq == std::string::npos) continue;
    auto trim = [](std::string_view s) {
      const auto b = s.find_first_not_of(" \t");
      if (b == std::string_view::npos) return std::string_view{};
      return s.substr(b, s.find_last_not_of(" \t") - b + 1);
    };
    const auto key = trim(std::string_view(line).substr(0, eq));
    const auto value = trim(std::string_view(line).substr(eq + 1));
    if (ParseComPortName(key) == n && !value.empty()) return std::string(value);
  }
  return {};
}

std::string ResolveLocked(Registry& reg, int n) {
  if (n < 1 || n > 98) return {};
  if (reg.endpoints.count(n) != 0) return {};
  if (auto it = reg.paths.find(n); it != reg.paths.end()) return it->second;
  const std::string var = "VTR422_COM" + std::to_string(n);
  if (const char* env = std::getenv(var.c_str()); env != nullptr && *env != '\0') return env;
  if (auto fromFile = PathFromPortsFile(n); !fromFile.empty()) return fromFile;
  return "/dev/ttyS" + std::to_string(n - 1);
}

// ---- reading -----------------------------------------------------------------

bool ReturnsAtOnce(const COMMTIMEOUTS& t) {
  return t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
         t.ReadTotalTimeoutConstant == 0;
}

// An attempt scheduled before the time up to which the line is known to have
// been empty answers "no byte" without a system call or even a clock reading:
// the caller spends the attempts of the time it slept at a few nanoseconds each.
bool AnsweredEmpty(Port& p) {
  if (!p.inRun || p.runStart + kEmptyReadPacing * (p.runAttempts + 1) > p.emptyUntil) return false;
  ++p.runAttempts;
  return true;
}

// One attempt of a run of empty attempts on a port whose reads return at
// once. Attempt k of a run returns no earlier than the run's start + k x
// kEmptyReadPacing, unless a byte ends it; the first attempt ahead of its
// time sleeps until a byte comes or the whole budget's time is up, and the
// attempts scheduled before the line was last known empty then answer "no
// byte" at once (AnsweredEmpty), as they would have at their times.
std::optional<std::size_t> PacedAttempt(Port& p, std::span<std::uint8_t> buf) {
  const Micros now = Now();
  if (!p.inRun || now - p.lastReturn > kRunGap) {
    p.inRun = true;
    p.runStart = now;
    p.runAttempts = 0;
    p.emptyUntil = now;
  }
  const Micros deadline = p.runStart + kEmptyReadPacing * (p.runAttempts + 1);
  const bool real = !IsVirtualClock();
  const auto got = p.line->ReadNow(buf, !real || deadline <= now);
  if (!got || *got > 0) return got;
  ++p.runAttempts;
  if (!real) {
    // Time passes as it would on the line; no timer runs inside an exchange.
    Pass(kEmptyReadPacing);
    return 0;
  }
  if (deadline <= now) return 0;  // behind schedule: no wait
  const std::int64_t budgets = (p.runAttempts + kPacedBudget - 1) / kPacedBudget;
  const auto emptyUntil =
      p.line->WaitForBytes(now, p.runStart + kEmptyReadPacing * kPacedBudget * budgets);
  if (!emptyUntil) return std::nullopt;
  p.emptyUntil = *emptyUntil;
  // A byte that came by this attempt's time is this attempt's.
  return *emptyUntil <= deadline ? p.line->ReadNow(buf, true) : 0;
}

}  // namespace

// ---- port bindings -------------------------------------------------------------

void BindPortPath(int comNumber, std::string path) {
  auto& reg = Reg();
  std::lock_guard lock(reg.mutex);
  reg.endpoints.erase(comNumber);
  reg.paths[comNumber] = std::move(path);
}

void BindVirtualPort(int comNumber, std::shared_ptr<SerialEndpoint> endpoint) {
  auto& reg = Reg();
  std::lock_guard lock(reg.mutex);
  reg.paths.erase(comNumber);
  if (endpoint) {
    reg.endpoints[comNumber] = std::move(endpoint);
  } else {
    reg.endpoints.erase(comNumber);
  }
}

void UnbindPort(int comNumber) {
  auto& reg = Reg();
  std::lock_guard lock(reg.mutex);
  reg.paths.erase(comNumber);
  reg.endpoints.erase(comNumber);
}

std::string ResolvePortPath(int comNumber) {
  auto& reg = Reg();
  std::lock_guard lock(reg.mutex);
  return ResolveLocked(reg, comNumber);
}

std::string TakePortFailure() {
  tNote.clear();
  return std::exchange(tFailure, {});
}

void port::NoteFailure(std::string why) { tNote = std::move(why); }

}  // namespace vtr::platform

using namespace vtr::platform;

HANDLE CreateFileA(LPCSTR lpFileName, DWORD /*dwDesiredAccess*/, DWORD /*dwShareMode*/,
                   LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, DWORD /*dwCreationDisposition*/,
                   DWORD /*dwFlagsAndAttributes*/, HANDLE /*hTemplateFile*/) {
  if (lpFileName == nullptr) return INVALID_HANDLE_VALUE;
  const int n = ParseComPortName(lpFileName);
  if (n == 0) {
    tFailure = "'" + std::string(lpFileName) + "' is not a port name (COM1 to COM98)";
    return INVALID_HANDLE_VALUE;
  }
  tNote.clear();

  std::shared_ptr<SerialEndpoint> endpoint;
  std::string path;
  {
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    if (auto it = reg.endpoints.find(n); it != reg.endpoints.end()) {
      endpoint = it->second;
    } else {
      path = ResolveLocked(reg, n);
    }
  }
  auto port = std::make_shared<Port>();
  port->name = "COM" + std::to_string(n) + " -> " + (endpoint ? "in-process deck" : path);
  port->dcb = DefaultDcb();
  if (endpoint) {
    port->line = port::OpenEndpoint(std::move(endpoint));
  } else if (net::IsNetworkPath(path)) {
    port->line = port::OpenNetwork(path);
  } else {
    port->line = port::OpenTty(path);
  }
  if (!port->line) {
    Failed(port->name, "cannot open");
    return INVALID_HANDLE_VALUE;
  }
  auto* h = static_cast<HANDLE>(port.get());
  auto& reg = Reg();
  std::lock_guard lock(reg.mutex);
  reg.live.emplace(h, std::move(port));
  return h;
}

BOOL CloseHandle(HANDLE hObject) {
  std::shared_ptr<Port> port;
  {
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    auto it = reg.live.find(hObject);
    if (it == reg.live.end()) return NotOpen();
    port = std::move(it->second);
    reg.live.erase(it);
    gClosings.fetch_add(1, std::memory_order_release);
  }
  // Waits for a call in progress on another thread. The line goes now (a
  // thread's read cache may keep the port object a while longer), once
  // what was written has left.
  std::lock_guard portLock(port->mutex);
  port->line.reset();
  return TRUE;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED /*lpOverlapped*/) {
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
  Port* const port = FindForRead(hFile);
  if (!port) return NotOpen();
  if (nNumberOfBytesToRead > 0 && lpBuffer == nullptr) return FALSE;
  std::lock_guard lock(port->mutex);
  if (!port->line) return NotOpen();
  if (nNumberOfBytesToRead == 0) return TRUE;
  const std::span buf(static_cast<std::uint8_t*>(lpBuffer), nNumberOfBytesToRead);
  const bool paced = ReturnsAtOnce(port->timeouts);
  if (paced && AnsweredEmpty(*port)) return TRUE;
  const auto got = paced ? PacedAttempt(*port, buf) : port->line->ReadNow(buf, true);
  port->lastReturn = Now();
  if (!got) {
    port->inRun = false;
    return Failed(port->name, "read failed");
  }
  if (*got > 0) port->inRun = false;
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = static_cast<DWORD>(*got);
  return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED /*lpOverlapped*/) {
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
  const auto port = Find(hFile);
  if (!port) return NotOpen();
  if (nNumberOfBytesToWrite > 0 && lpBuffer == nullptr) return FALSE;
  std::lock_guard lock(port->mutex);
  if (!port->line) return NotOpen();
  port->inRun = false;  // a write starts a new exchange, and a new schedule
  std::size_t done = 0;
  const bool ok = port->line->Write(
      std::span(static_cast<const std::uint8_t*>(lpBuffer), nNumberOfBytesToWrite), done);
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = static_cast<DWORD>(done);
  return ok ? TRUE : Failed(port->name, "write failed");
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags) {
  const auto port = Find(hFile);
  if (!port) return NotOpen();
  std::lock_guard lock(port->mutex);
  if (!port->line) return NotOpen();
  port->inRun = false;
  return port->line->Purge(dwFlags) ? TRUE : Failed(port->name, "purge failed");
}

BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  if (lpErrors != nullptr) *lpErrors = 0;
  if (lpStat != nullptr) *lpStat = COMSTAT{};
  const auto port = Find(hFile);
  if (!port) return NotOpen();
  std::lock_guard lock(port->mutex);
  if (!port->line) return NotOpen();
  return port->line->CheckErrors(lpErrors, lpStat) ? TRUE
                                                   : Failed(port->name, "line state unknown");
}

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  const auto port = Find(hFile);
  if (!port) return NotOpen();
  if (lpCommTimeouts == nullptr) return FALSE;
  std::lock_guard lock(port->mutex);
  if (!port->line) return NotOpen();
  port->timeouts = *lpCommTimeouts;
  return TRUE;
}

BOOL SetupComm(HANDLE hFile, DWORD /*dwInQueue*/, DWORD /*dwOutQueue*/) {
  // The kernel sizes its own queues; the request is accepted as a hint.
  return Find(hFile) ? TRUE : NotOpen();
}

BOOL GetCommState(HANDLE hFile, LPDCB lpDCB) {
  const auto port = Find(hFile);
  if (!port) return NotOpen();
  if (lpDCB == nullptr) return FALSE;
  std::lock_guard lock(port->mutex);
  if (!port->line) return NotOpen();
  DCB d = port->dcb;
  if (!port->line->ReadBack(d)) return Failed(port->name, "line settings unknown");
  *lpDCB = d;
  return TRUE;
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB) {
  const auto port = Find(hFile);
  if (!port) return NotOpen();
  if (lpDCB == nullptr) return FALSE;
  std::lock_guard lock(port->mutex);
  if (!port->line) return NotOpen();
  // Checked the same way for every kind, so a bad DCB fails on any port.
  if (!port::LineSettingsValid(*lpDCB)) return Failed(port->name, "line settings not supported");
  if (!port->line->Apply(*lpDCB)) return Failed(port->name, "line settings not applied");
  port->dcb = *lpDCB;
  port->dcb.fBinary = 1;
  return TRUE;
}

BOOL BuildCommDCBA(LPCSTR lpDef, LPDCB lpDCB) {
  if (lpDef == nullptr || lpDCB == nullptr) return FALSE;
  return ParseCommMode(lpDef, *lpDCB) ? TRUE : FALSE;
}

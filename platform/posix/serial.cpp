// Serial ports behind the Win32 communications calls: "COMn" leads to a tty
// (real port, USB adapter, pseudo-terminal), to a network port (net_port.cpp)
// or to an in-process endpoint.
//
// The driver's exchange polls with reads that return at once and counts
// attempts instead of measuring time. A bare non-blocking read costs well
// under a microsecond, far less than on the system the budget was sized
// for, so empty attempts keep to a fixed schedule (see kEmptyReadPacing)
// and the budget spans a deck's reply time. The schedule is kept by
// sleeping in the kernel until a byte arrives or the budget's time is up;
// attempts scheduled while the line was known to be empty are answered
// without asking it again.
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <utility>

#include "platform/clock.h"
#include "platform/posix/net_port.h"
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
// The longest single sleep of a wait on a device: the precision with which a
// wait that a byte ends is charged (see WaitForLine).
constexpr Micros kWaitSlice = 5ms;
// How long a write may wait for room in the port's transmit queue.
constexpr auto kWriteBudget = 1s;

struct Port {
  std::mutex mutex;
  int fd = -1;                               // device ports; a network port's socket
  std::unique_ptr<net::NetLine> net;         // network ports
  std::shared_ptr<SerialEndpoint> endpoint;  // in-process ports
  bool closed = false;
  bool pty = false;  // a pseudo-terminal: no wire, so no parity or data bits
  DCB dcb{};
  COMMTIMEOUTS timeouts{};
  bool haveCounts = false;
  serial_icounter_struct counts{};
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
  std::set<const SerialEndpoint*> endpointsOpen;
};

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

HANDLE Register(std::shared_ptr<Port> port) {
  auto* h = static_cast<HANDLE>(port.get());
  auto& reg = Reg();
  std::lock_guard lock(reg.mutex);
  reg.live.emplace(h, std::move(port));
  return h;
}

// ---- termios <-> DCB -------------------------------------------------------

constexpr std::pair<DWORD, speed_t> kBauds[] = {
    {110, B110},       {300, B300},       {600, B600},       {1200, B1200},   {2400, B2400},
    {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400}, {57600, B57600},
    {115200, B115200}, {230400, B230400}, {460800, B460800},
};

std::optional<speed_t> SpeedOf(DWORD baud) {
  for (const auto& [rate, speed] : kBauds) {
    if (rate == baud) return speed;
  }
  return std::nullopt;
}

DWORD BaudOf(speed_t speed) {
  for (const auto& [rate, s] : kBauds) {
    if (s == speed) return rate;
  }
  return 0;
}

bool ApplyDcb(termios& t, const DCB& d) {
  const auto speed = SpeedOf(d.BaudRate);
  if (!speed) return false;
  tcflag_t size = 0;
  switch (d.ByteSize) {
    case 5:
      size = CS5;
      break;
    case 6:
      size = CS6;
      break;
    case 7:
      size = CS7;
      break;
    case 8:
      size = CS8;
      break;
    default:
      return false;
  }
  tcflag_t parity = 0;
  switch (d.Parity) {
    case NOPARITY:
      break;
    case ODDPARITY:
      parity = PARENB | PARODD;
      break;
    case EVENPARITY:
      parity = PARENB;
      break;
    case MARKPARITY:
      parity = PARENB | PARODD | CMSPAR;
      break;
    case SPACEPARITY:
      parity = PARENB | CMSPAR;
      break;
    default:
      return false;
  }
  tcflag_t stop = 0;
  switch (d.StopBits) {
    case ONESTOPBIT:
      break;
    case TWOSTOPBITS:
      stop = CSTOPB;
      break;
    case ONE5STOPBITS:  // 1.5 exists only with 5 data bits, where CSTOPB means it
      if (d.ByteSize != 5) return false;
      stop = CSTOPB;
      break;
    default:
      return false;
  }
  t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  t.c_cflag |= size | parity | stop | CLOCAL | CREAD;
  if (d.fOutxCtsFlow) t.c_cflag |= CRTSCTS;
  // Received bytes pass unchanged (no INPCK); parity errors still show in
  // the driver's error counters, which ClearCommError reports.
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | INPCK);
  if (d.fOutX) t.c_iflag |= IXON;
  if (d.fInX) t.c_iflag |= IXOFF;
  cfsetispeed(&t, *speed);
  cfsetospeed(&t, *speed);
  return true;
}

void ReadBackDcb(const termios& t, DCB& d) {
  d.DCBlength = sizeof(DCB);
  d.BaudRate = BaudOf(cfgetospeed(&t));
  d.fBinary = 1;
  switch (t.c_cflag & CSIZE) {
    case CS5:
      d.ByteSize = 5;
      break;
    case CS6:
      d.ByteSize = 6;
      break;
    case CS7:
      d.ByteSize = 7;
      break;
    default:
      d.ByteSize = 8;
      break;
  }
  if ((t.c_cflag & PARENB) == 0) {
    d.Parity = NOPARITY;
  } else if ((t.c_cflag & CMSPAR) != 0) {
    d.Parity = (t.c_cflag & PARODD) != 0 ? MARKPARITY : SPACEPARITY;
  } else {
    d.Parity = (t.c_cflag & PARODD) != 0 ? ODDPARITY : EVENPARITY;
  }
  if ((t.c_cflag & CSTOPB) == 0) {
    d.StopBits = ONESTOPBIT;
  } else {
    d.StopBits = d.ByteSize == 5 ? ONE5STOPBITS : TWOSTOPBITS;
  }
  d.fOutxCtsFlow = (t.c_cflag & CRTSCTS) != 0;
  d.fOutX = (t.c_iflag & IXON) != 0;
  d.fInX = (t.c_iflag & IXOFF) != 0;
}

// ---- reading -----------------------------------------------------------------

bool Hungup(int fd) {
  pollfd pfd{fd, POLLIN, 0};
  if (::poll(&pfd, 1, 0) < 0) return errno != EINTR;
  return (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// One non-waiting read; nullopt when the port is dead. A device port that
// yields nothing is asked whether it hung up unless `askHangup` is false
// (the caller's wait will learn it).
std::optional<std::size_t> ReadNow(Port& p, std::uint8_t* buf, std::size_t n,
                                   bool askHangup = true) {
  if (p.net) return p.net->Read(buf, n);
  if (p.endpoint) {
    if (!p.endpoint->Connected()) return std::nullopt;
    return p.endpoint->Transmit(std::span<std::uint8_t>(buf, n));
  }
  const auto got = ::read(p.fd, buf, n);
  if (got > 0) return static_cast<std::size_t>(got);
  if (got < 0 && errno != EAGAIN && errno != EINTR) return std::nullopt;
  // Nothing there. A hung-up line also reads as 0 bytes, so ask.
  if (askHangup && Hungup(p.fd)) return std::nullopt;
  return 0;
}

bool ReturnsAtOnce(const COMMTIMEOUTS& t) {
  return t.ReadIntervalTimeout == MAXDWORD && t.ReadTotalTimeoutMultiplier == 0 &&
         t.ReadTotalTimeoutConstant == 0;
}

// Waits until the port's transmit queue is empty, sleeping about as long as
// the queued bytes take on the line; false when `giveUp` comes first.
bool DrainOutput(int fd, std::chrono::steady_clock::time_point giveUp) {
  constexpr auto kByteTime = std::chrono::microseconds(287);  // 11 bits at 38400 baud
  for (;;) {
    int queued = 0;
    if (::ioctl(fd, TIOCOUTQ, &queued) != 0 || queued <= 0) return true;
    const auto now = std::chrono::steady_clock::now();
    if (now >= giveUp) return false;
    std::this_thread::sleep_for(
        std::min<std::chrono::steady_clock::duration>(kByteTime * queued, giveUp - now));
  }
}

// Sleeps until something arrives on the line or `until`; the line was seen
// empty at `seenEmpty`. Returns the time up to which the line is known to
// have been empty (`until` when nothing came), or nullopt when the port died.
std::optional<Micros> WaitForLine(Port& p, Micros seenEmpty, Micros until) {
  if (p.endpoint) {
    // The far end knows when its next byte lands; nothing else can arrive
    // while this port is held.
    const auto next = p.endpoint->NextArrival();
    const Micros wake = next ? std::min(*next, until) : until;
    if (const Micros now = Now(); wake > now) std::this_thread::sleep_for(wake - now);
    return wake;
  }
  // A wake-up says a byte is there, not when it came: under load the wake
  // can be late by tens of milliseconds, and charging that time as empty
  // attempts could spend a caller's budget with its byte waiting. So the
  // wait is cut into slices, and only a slice that ended empty is known empty.
  for (;;) {
    const Micros now = Now();
    if (now >= until) return until;
    const Micros sliceEnd = std::min(until, now + kWaitSlice);
    const auto wait = sliceEnd - now;
    const timespec ts{static_cast<time_t>(wait.count() / 1000000),
                      static_cast<long>((wait.count() % 1000000) * 1000)};
    pollfd pfd{p.fd, POLLIN, 0};
    const int rc = ::ppoll(&pfd, 1, &ts, nullptr);
    if (rc < 0 && errno == EINTR) continue;
    if (rc < 0) return std::nullopt;
    if (rc == 0) {
      seenEmpty = sliceEnd;
      continue;
    }
    if ((pfd.revents & POLLIN) != 0) return seenEmpty;
    return std::nullopt;  // hung up or failed, nothing to read
  }
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
std::optional<std::size_t> PacedAttempt(Port& p, std::uint8_t* buf, std::size_t n) {
  const Micros now = Now();
  if (!p.inRun || now - p.lastReturn > kRunGap) {
    p.inRun = true;
    p.runStart = now;
    p.runAttempts = 0;
    p.emptyUntil = now;
  }
  const Micros deadline = p.runStart + kEmptyReadPacing * (p.runAttempts + 1);
  const bool real = !IsVirtualClock();
  const auto got = ReadNow(p, buf, n, !real || deadline <= now);
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
      WaitForLine(p, now, p.runStart + kEmptyReadPacing * kPacedBudget * budgets);
  if (!emptyUntil) return std::nullopt;
  p.emptyUntil = *emptyUntil;
  // A byte that came by this attempt's time is this attempt's.
  return *emptyUntil <= deadline ? ReadNow(p, buf, n) : 0;
}

std::optional<std::pair<std::uint8_t*, std::size_t>> Buffer(LPVOID buf, DWORD n) {
  if (n > 0 && buf == nullptr) return std::nullopt;
  return std::pair{static_cast<std::uint8_t*>(buf), static_cast<std::size_t>(n)};
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

}  // namespace vtr::platform

using namespace vtr::platform;

HANDLE CreateFileA(LPCSTR lpFileName, DWORD /*dwDesiredAccess*/, DWORD /*dwShareMode*/,
                   LPSECURITY_ATTRIBUTES /*lpSecurityAttributes*/, DWORD /*dwCreationDisposition*/,
                   DWORD /*dwFlagsAndAttributes*/, HANDLE /*hTemplateFile*/) {
  if (lpFileName == nullptr) return INVALID_HANDLE_VALUE;
  const int n = ParseComPortName(lpFileName);
  if (n == 0) return INVALID_HANDLE_VALUE;
  net::ForgetFailure();

  auto port = std::make_shared<Port>();
  port->dcb = DefaultDcb();
  std::string path;
  {
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    if (auto it = reg.endpoints.find(n); it != reg.endpoints.end()) {
      // One holder at a time, as with a device opened with share mode 0.
      if (!reg.endpointsOpen.insert(it->second.get()).second) return INVALID_HANDLE_VALUE;
      port->endpoint = it->second;
    } else {
      path = ResolveLocked(reg, n);
    }
  }
  if (port->endpoint) return Register(std::move(port));
  if (net::IsNetworkPath(path)) {
    port->net = net::NetLine::Open(path);
    if (!port->net) return INVALID_HANDLE_VALUE;
    port->fd = port->net->fd();
    return Register(std::move(port));
  }

  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return INVALID_HANDLE_VALUE;
  termios t{};
  // flock rather than TIOCEXCL: it also holds against root and against a
  // second open within this process.
  if (!::isatty(fd) || ::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::tcgetattr(fd, &t) != 0) {
    ::close(fd);
    return INVALID_HANDLE_VALUE;
  }
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &t) != 0) {
    ::close(fd);
    return INVALID_HANDLE_VALUE;
  }
  port->fd = fd;
  struct stat st {};
  if (::fstat(fd, &st) == 0) {
    const auto major = ::major(st.st_rdev);
    port->pty = (major >= 136 && major <= 143) || major == 3;  // Unix98 and legacy slaves
  }
  // Line errors count from the open on.
  port->haveCounts = ::ioctl(fd, TIOCGICOUNT, &port->counts) == 0;
  return Register(std::move(port));
}

BOOL CloseHandle(HANDLE hObject) {
  std::shared_ptr<Port> port;
  {
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    auto it = reg.live.find(hObject);
    if (it == reg.live.end()) return FALSE;
    port = std::move(it->second);
    reg.live.erase(it);
    gClosings.fetch_add(1, std::memory_order_release);
  }
  // Waits for a call in progress on another thread.
  std::lock_guard portLock(port->mutex);
  port->closed = true;
  if (port->net) {
    port->net.reset();  // closes the socket
    port->fd = -1;
  }
  if (port->fd >= 0) {
    ::close(port->fd);  // also drops the exclusive lock
    port->fd = -1;
  }
  if (port->endpoint) {
    auto& reg = Reg();
    std::lock_guard lock(reg.mutex);
    reg.endpointsOpen.erase(port->endpoint.get());
  }
  return TRUE;
}

BOOL ReadFile(HANDLE hFile, LPVOID lpBuffer, DWORD nNumberOfBytesToRead,
              LPDWORD lpNumberOfBytesRead, LPOVERLAPPED /*lpOverlapped*/) {
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = 0;
  Port* const port = FindForRead(hFile);
  const auto buffer = Buffer(lpBuffer, nNumberOfBytesToRead);
  if (!port || !buffer) return FALSE;
  std::lock_guard lock(port->mutex);
  if (port->closed) return FALSE;
  auto [buf, n] = *buffer;
  if (n == 0) return TRUE;
  const bool paced = ReturnsAtOnce(port->timeouts);
  if (paced && AnsweredEmpty(*port)) return TRUE;
  const auto got = paced ? PacedAttempt(*port, buf, n) : ReadNow(*port, buf, n);
  port->lastReturn = Now();
  if (!got) {
    port->inRun = false;
    return FALSE;
  }
  if (*got > 0) port->inRun = false;
  if (lpNumberOfBytesRead != nullptr) *lpNumberOfBytesRead = static_cast<DWORD>(*got);
  return TRUE;
}

BOOL WriteFile(HANDLE hFile, LPCVOID lpBuffer, DWORD nNumberOfBytesToWrite,
               LPDWORD lpNumberOfBytesWritten, LPOVERLAPPED /*lpOverlapped*/) {
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = 0;
  const auto port = Find(hFile);
  if (!port || (nNumberOfBytesToWrite > 0 && lpBuffer == nullptr)) return FALSE;
  std::lock_guard lock(port->mutex);
  if (port->closed) return FALSE;
  port->inRun = false;  // a write starts a new exchange, and a new schedule
  const auto* bytes = static_cast<const std::uint8_t*>(lpBuffer);
  const std::size_t n = nNumberOfBytesToWrite;
  if (port->endpoint) {
    if (!port->endpoint->Connected()) return FALSE;
    // The endpoint takes the bytes as they are written: once written they
    // have left, as after a drained write to a tty.
    port->endpoint->Receive(std::span<const std::uint8_t>(bytes, n));
    if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = nNumberOfBytesToWrite;
    return TRUE;
  }
  if (port->net) {
    std::size_t done = 0;
    const bool ok = port->net->Write(bytes, n, done);
    if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = static_cast<DWORD>(done);
    return ok ? TRUE : FALSE;
  }
  std::size_t done = 0;
  const auto giveUp = std::chrono::steady_clock::now() + kWriteBudget;
  BOOL ok = TRUE;
  while (done < n) {
    const auto put = ::write(port->fd, bytes + done, n - done);
    if (put > 0) {
      done += static_cast<std::size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN) {
      ok = FALSE;
      break;
    }
    // The transmit queue is full: wait for room, within the budget.
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        giveUp - std::chrono::steady_clock::now());
    pollfd pfd{port->fd, POLLOUT, 0};
    const int rc = left.count() > 0 ? ::poll(&pfd, 1, static_cast<int>(left.count())) : 0;
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0 || (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
      ok = FALSE;
      break;
    }
  }
  // A serial write on Windows completes once its bytes are handed to the
  // hardware; here too, so that a following transmit purge cuts nothing. A
  // line that holds its output past the budget leaves the bytes queued and
  // counted as written: reporting them unwritten would have the caller queue
  // them again.
  if (ok) DrainOutput(port->fd, giveUp);
  if (lpNumberOfBytesWritten != nullptr) *lpNumberOfBytesWritten = static_cast<DWORD>(done);
  return ok;
}

BOOL PurgeComm(HANDLE hFile, DWORD dwFlags) {
  const auto port = Find(hFile);
  if (!port) return FALSE;
  std::lock_guard lock(port->mutex);
  if (port->closed) return FALSE;
  port->inRun = false;
  if (port->endpoint) {
    if (!port->endpoint->Connected()) return FALSE;
    if ((dwFlags & PURGE_RXCLEAR) != 0) port->endpoint->DiscardArrived();
    return TRUE;
  }
  if (port->net) return port->net->Purge(dwFlags) ? TRUE : FALSE;
  bool ok = true;
  // Writes drain, so only output a timed-out write left can be waiting. On a
  // pseudo-terminal the output flush would discard what the other side has
  // not read yet, bytes that have already left.
  if ((dwFlags & PURGE_TXCLEAR) != 0 && !port->pty) ok = ::tcflush(port->fd, TCOFLUSH) == 0 && ok;
  if ((dwFlags & PURGE_RXCLEAR) != 0) ok = ::tcflush(port->fd, TCIFLUSH) == 0 && ok;
  return ok ? TRUE : FALSE;
}

BOOL ClearCommError(HANDLE hFile, LPDWORD lpErrors, LPCOMSTAT lpStat) {
  if (lpErrors != nullptr) *lpErrors = 0;
  if (lpStat != nullptr) *lpStat = COMSTAT{};
  const auto port = Find(hFile);
  if (!port) return FALSE;
  std::lock_guard lock(port->mutex);
  if (port->closed) return FALSE;
  if (port->endpoint) return port->endpoint->Connected() ? TRUE : FALSE;
  if (port->net) return port->net->Check(lpErrors, lpStat) ? TRUE : FALSE;
  if (Hungup(port->fd)) return FALSE;

  DWORD errors = 0;
  serial_icounter_struct now{};
  if (port->haveCounts && ::ioctl(port->fd, TIOCGICOUNT, &now) == 0) {
    const auto& was = port->counts;
    if (now.frame != was.frame) errors |= CE_FRAME;
    if (now.overrun != was.overrun) errors |= CE_OVERRUN;
    if (now.parity != was.parity) errors |= CE_RXPARITY;
    if (now.brk != was.brk) errors |= CE_BREAK;
    if (now.buf_overrun != was.buf_overrun) errors |= CE_RXOVER;
    port->counts = now;
  }
  if (lpErrors != nullptr) *lpErrors = errors;
  if (lpStat != nullptr) {
    int inQueue = 0;
    int outQueue = 0;
    if (::ioctl(port->fd, FIONREAD, &inQueue) == 0 && inQueue > 0) {
      lpStat->cbInQue = static_cast<DWORD>(inQueue);
    }
    if (::ioctl(port->fd, TIOCOUTQ, &outQueue) == 0 && outQueue > 0) {
      lpStat->cbOutQue = static_cast<DWORD>(outQueue);
    }
  }
  return TRUE;
}

BOOL SetCommTimeouts(HANDLE hFile, LPCOMMTIMEOUTS lpCommTimeouts) {
  const auto port = Find(hFile);
  if (!port || lpCommTimeouts == nullptr) return FALSE;
  std::lock_guard lock(port->mutex);
  if (port->closed) return FALSE;
  port->timeouts = *lpCommTimeouts;
  return TRUE;
}

BOOL SetupComm(HANDLE hFile, DWORD /*dwInQueue*/, DWORD /*dwOutQueue*/) {
  // The kernel sizes its own queues; the request is accepted as a hint.
  const auto port = Find(hFile);
  return port ? TRUE : FALSE;
}

BOOL GetCommState(HANDLE hFile, LPDCB lpDCB) {
  const auto port = Find(hFile);
  if (!port || lpDCB == nullptr) return FALSE;
  std::lock_guard lock(port->mutex);
  if (port->closed) return FALSE;
  DCB d = port->dcb;
  if (!port->endpoint && !port->net) {
    termios t{};
    if (::tcgetattr(port->fd, &t) != 0) return FALSE;
    ReadBackDcb(t, d);
    if (port->pty) {
      d.ByteSize = port->dcb.ByteSize;
      d.Parity = port->dcb.Parity;
    }
  }
  *lpDCB = d;
  return TRUE;
}

BOOL SetCommState(HANDLE hFile, LPDCB lpDCB) {
  const auto port = Find(hFile);
  if (!port || lpDCB == nullptr) return FALSE;
  std::lock_guard lock(port->mutex);
  if (port->closed) return FALSE;
  termios t{};
  if (port->endpoint || port->net) {
    // Validated the same way, so a bad DCB fails on every kind of port.
    if (!ApplyDcb(t, *lpDCB)) return FALSE;
    if (port->net && !port->net->Apply(*lpDCB)) return FALSE;
  } else {
    if (::tcgetattr(port->fd, &t) != 0 || !ApplyDcb(t, *lpDCB)) return FALSE;
    if (port->pty) {
      // The pty driver forces 8 data bits without parity (and the C library
      // then reports the whole call as failed). With no wire they mean
      // nothing: keep the requested values for GetCommState only.
      t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR);
      t.c_cflag |= CS8;
    }
    if (::tcsetattr(port->fd, TCSANOW, &t) != 0) return FALSE;
  }
  port->dcb = *lpDCB;
  port->dcb.fBinary = 1;
  return TRUE;
}

BOOL BuildCommDCBA(LPCSTR lpDef, LPDCB lpDCB) {
  if (lpDef == nullptr || lpDCB == nullptr) return FALSE;
  return ParseCommMode(lpDef, *lpDCB) ? TRUE : FALSE;
}

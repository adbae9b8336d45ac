// Serial lines that are tty devices: a real port, a USB adapter or a
// pseudo-terminal, driven through termios.
#include <fcntl.h>
#include <grp.h>
#include <linux/serial.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <utility>
#include <vector>

#include "platform/posix/port_backend.h"

namespace vtr::platform::port {

namespace {

using namespace std::chrono_literals;

// The longest single sleep of a wait on a descriptor: the precision with
// which a wait that a byte ends is charged (see WaitOnDescriptor).
constexpr Micros kWaitSlice = 5ms;
// How long a write may wait for room in the transmit queue, and a drain for
// the queued bytes to leave.
constexpr auto kWriteBudget = 1s;

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

bool Hungup(int fd) {
  pollfd pfd{fd, POLLIN, 0};
  if (::poll(&pfd, 1, 0) < 0) return errno != EINTR;
  return (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// ---- why a call failed -------------------------------------------------------

constexpr const char* kHungUp = "hung up (unplugged, or its far end closed)";

bool Fail(std::string why) {
  NoteFailure(std::move(why));
  return false;
}
// `what` failed with errno.
bool FailErrno(const char* what) { return Fail(std::string(what) + ": " + std::strerror(errno)); }

// The process holding a lock on the file (`dev`, `ino`), as /proc/locks
// lists it ("1: FLOCK  ADVISORY  WRITE 4242 00:19:7 0 EOF"); 0 when none is
// listed. A flock, which this driver takes too, is preferred to other kinds.
pid_t LockHolder(dev_t dev, ino_t ino) {
  std::ifstream locks("/proc/locks");
  pid_t found = 0;
  for (std::string line; std::getline(locks, line);) {
    std::istringstream in(line);
    std::string id, type, mode, access, where;
    long pid = 0;
    if (!(in >> id >> type) || type == "->" || !(in >> mode >> access >> pid >> where)) continue;
    unsigned major = 0, minor = 0;
    unsigned long inode = 0;
    if (std::sscanf(where.c_str(), "%x:%x:%lu", &major, &minor, &inode) != 3) continue;
    if (major != ::major(dev) || minor != ::minor(dev) || inode != ino || pid <= 0) continue;
    found = static_cast<pid_t>(pid);
    if (type == "FLOCK") break;
  }
  return found;
}

bool Alive(pid_t pid) { return pid > 0 && (::kill(pid, 0) == 0 || errno == EPERM); }

// A living process other than this one that holds `path` by a UUCP lock
// file ("LCK..ttyUSB0", holding the process id in decimal or as a binary
// int), as minicom, cu and their kin take one; 0 when none does. The
// file's name goes to `lockFile`.
pid_t UucpHolder(const std::string& path, std::string& lockFile) {
  const std::string base = "LCK.." + path.substr(path.rfind('/') + 1);
  std::vector<std::string> dirs{"/run/lock", "/var/lock"};
  if (const char* dir = std::getenv("VTR422_LOCK_DIR"); dir != nullptr && *dir != '\0') {
    dirs = {dir};
  }
  for (const std::string& dir : dirs) {
    std::ifstream in(dir + "/" + base, std::ios::binary);
    char text[32] = {};
    if (!in.read(text, sizeof text - 1) && in.gcount() == 0) continue;
    const auto size = in.gcount();
    pid_t pid = static_cast<pid_t>(std::strtol(text, nullptr, 10));
    if (pid == 0 && size == sizeof(int)) std::memcpy(&pid, text, sizeof(int));
    if (pid != ::getpid() && Alive(pid)) {
      lockFile = dir + "/" + base;
      return pid;
    }
  }
  return 0;
}

// "in use by another program (process 4242)", or in this process.
std::string InUse(pid_t holder, const std::string& lockFile = {}) {
  if (holder == ::getpid()) return "already open in this process";
  if (holder <= 0) return "in use by another program";
  return "in use by another program (process " + std::to_string(holder) +
         (lockFile.empty() ? "" : ", lock file " + lockFile) + ")";
}

// Why open(2) of a terminal failed, in a user's words.
std::string OpenFailure(const std::string& path, int err) {
  struct stat st {};
  const bool there = ::stat(path.c_str(), &st) == 0;
  switch (err) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return "no such device";
    case EIO:  // a serial port whose hardware is not there
      return "no such device (input/output error)";
    case EBUSY:
      return InUse(there ? LockHolder(st.st_dev, st.st_ino) : 0);
    case EISDIR:
      return "not a serial device (a directory)";
    case EACCES:
    case EPERM: {
      std::string why = "permission denied";
      // The usual fix: join the group the device is opened for (dialout).
      const mode_t groupRw = S_IRGRP | S_IWGRP;
      if (there && (st.st_mode & groupRw) == groupRw) {
        std::vector<char> buf(4096);
        group g{};
        group* found = nullptr;
        if (::getgrgid_r(st.st_gid, &g, buf.data(), buf.size(), &found) == 0 && found) {
          why += std::string(" (members of group ") + found->gr_name + " may open it)";
        }
      }
      return why;
    }
    default:
      return std::string("cannot open: ") + std::strerror(err);
  }
}

std::string NotATerminal(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return "not a serial device";
  if (S_ISREG(st.st_mode)) return "not a serial device (a regular file)";
  if (S_ISCHR(st.st_mode)) return "not a serial device (a character device that is no terminal)";
  return "not a serial device";
}

// Waits until the transmit queue is empty, sleeping about as long as the
// queued bytes take on the line; false when `giveUp` comes first. A
// pseudo-terminal reports its queue empty at once.
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

class Tty final : public Backend {
 public:
  Tty(int fd, bool pty) : fd_(fd), pty_(pty) {
    // Line errors count from the open on.
    haveCounts_ = ::ioctl(fd_, TIOCGICOUNT, &counts_) == 0;
  }
  ~Tty() override {
    Drain();       // a last command (the stop at close) reaches the deck whole
    ::close(fd_);  // also drops the exclusive lock
  }
  Tty(const Tty&) = delete;
  Tty& operator=(const Tty&) = delete;

  std::optional<std::size_t> ReadNow(std::span<std::uint8_t> buf, bool askGone) override {
    const auto got = ::read(fd_, buf.data(), buf.size());
    if (got > 0) return static_cast<std::size_t>(got);
    if (got < 0 && errno != EAGAIN && errno != EINTR) {
      FailErrno("read failed");
      return std::nullopt;
    }
    // Nothing there. A hung-up line also reads as 0 bytes, so ask.
    if (askGone && Hungup(fd_)) {
      Fail(kHungUp);
      return std::nullopt;
    }
    return 0;
  }

  std::optional<Micros> WaitForBytes(Micros seenEmpty, Micros until) override {
    const auto emptyUntil = WaitOnDescriptor(fd_, seenEmpty, until);
    if (!emptyUntil) Fail(kHungUp);
    return emptyUntil;
  }

  bool Write(std::span<const std::uint8_t> bytes, std::size_t& done) override {
    done = 0;
    const auto giveUp = std::chrono::steady_clock::now() + kWriteBudget;
    while (done < bytes.size()) {
      const auto put = ::write(fd_, bytes.data() + done, bytes.size() - done);
      if (put > 0) {
        done += static_cast<std::size_t>(put);
        continue;
      }
      if (put < 0 && errno == EINTR) continue;
      if (put < 0 && errno != EAGAIN) return FailErrno("write failed");
      pending_ = true;
      // The transmit queue is full: wait for room, within the budget.
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
          giveUp - std::chrono::steady_clock::now());
      pollfd pfd{fd_, POLLOUT, 0};
      const int rc = left.count() > 0 ? ::poll(&pfd, 1, static_cast<int>(left.count())) : 0;
      if (rc < 0 && errno == EINTR) continue;
      if (rc == 0) return Fail("the line took no byte for 1 s (output held by flow control?)");
      if (rc < 0 || (pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) return Fail(kHungUp);
    }
    // As a serial write on Windows, done once the bytes are handed to the
    // port: the exchange writes a block one byte at a time, and waiting for
    // each byte to leave cost a wake-up per byte. The queue drains once,
    // before anything that would cut it (a transmit purge, new line
    // settings, the close).
    pending_ = pending_ || done > 0;
    return true;
  }

  bool Purge(DWORD flags) override {
    bool ok = true;
    if ((flags & PURGE_TXCLEAR) != 0) {
      // Only output a held line kept past the drain's budget is dropped. On
      // a pseudo-terminal the output flush would discard what the other side
      // has not read yet, bytes that have already left.
      Drain();
      if (!pty_ && ::tcflush(fd_, TCOFLUSH) != 0) ok = FailErrno("purge failed");
    }
    if ((flags & PURGE_RXCLEAR) != 0 && ::tcflush(fd_, TCIFLUSH) != 0) {
      ok = FailErrno("purge failed");
    }
    return ok;
  }

  bool CheckErrors(LPDWORD errors, LPCOMSTAT stat) override {
    if (Hungup(fd_)) return Fail(kHungUp);
    DWORD found = 0;
    serial_icounter_struct now{};
    if (haveCounts_ && ::ioctl(fd_, TIOCGICOUNT, &now) == 0) {
      const auto& was = counts_;
      if (now.frame != was.frame) found |= CE_FRAME;
      if (now.overrun != was.overrun) found |= CE_OVERRUN;
      if (now.parity != was.parity) found |= CE_RXPARITY;
      if (now.brk != was.brk) found |= CE_BREAK;
      if (now.buf_overrun != was.buf_overrun) found |= CE_RXOVER;
      counts_ = now;
    }
    if (errors != nullptr) *errors = found;
    if (stat != nullptr) {
      int inQueue = 0;
      int outQueue = 0;
      if (::ioctl(fd_, FIONREAD, &inQueue) == 0 && inQueue > 0) {
        stat->cbInQue = static_cast<DWORD>(inQueue);
      }
      if (::ioctl(fd_, TIOCOUTQ, &outQueue) == 0 && outQueue > 0) {
        stat->cbOutQue = static_cast<DWORD>(outQueue);
      }
    }
    return true;
  }

  bool Apply(const DCB& dcb) override {
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return FailErrno("line settings unknown");
    if (!ApplyDcb(t, dcb)) return Fail("line settings not supported");
    Drain();  // bytes still queued would leave in the new settings
    if (pty_) {
      // The pty driver forces 8 data bits without parity (and the C library
      // then reports the whole call as failed). With no wire they mean
      // nothing: they are kept for ReadBack only.
      t.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR);
      t.c_cflag |= CS8;
    }
    return ::tcsetattr(fd_, TCSANOW, &t) == 0 || FailErrno("line settings not applied");
  }

  bool ReadBack(DCB& dcb) override {
    termios t{};
    if (::tcgetattr(fd_, &t) != 0) return FailErrno("line settings unknown");
    const DCB applied = dcb;
    ReadBackDcb(t, dcb);
    if (pty_) {
      dcb.ByteSize = applied.ByteSize;
      dcb.Parity = applied.Parity;
    }
    return true;
  }

 private:
  // Waits (at most kWriteBudget) for what the writes since the last drain
  // queued to leave. Bytes a held line keeps past that count as written:
  // reporting them unwritten would make the exchange send them again.
  void Drain() {
    if (!std::exchange(pending_, false)) return;
    DrainOutput(fd_, std::chrono::steady_clock::now() + kWriteBudget);
  }

  int fd_;
  bool pty_;              // a pseudo-terminal: no wire, so no parity or data bits
  bool pending_ = false;  // written since the last drain
  bool haveCounts_ = false;
  serial_icounter_struct counts_{};
};

}  // namespace

bool LineSettingsValid(const DCB& dcb) {
  termios scratch{};
  return ApplyDcb(scratch, dcb);
}

std::optional<Micros> WaitOnDescriptor(int fd, Micros seenEmpty, Micros until) {
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
    pollfd pfd{fd, POLLIN, 0};
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

std::unique_ptr<Backend> OpenTty(const std::string& path) {
  // Before the open, which raises the modem lines of a port another program
  // is using.
  std::string lockFile;
  if (const pid_t holder = UucpHolder(path, lockFile); holder != 0) {
    Fail(InUse(holder, lockFile));
    return nullptr;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    Fail(OpenFailure(path, errno));
    return nullptr;
  }
  auto fail = [fd](std::string why) {
    ::close(fd);
    Fail(std::move(why));
    return nullptr;
  };
  if (!::isatty(fd)) return fail(NotATerminal(fd));
  // flock rather than TIOCEXCL: it also holds against root and against a
  // second open within this process.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    struct stat st {};
    return fail(InUse(::fstat(fd, &st) == 0 ? LockHolder(st.st_dev, st.st_ino) : 0));
  }
  termios t{};
  if (::tcgetattr(fd, &t) != 0) {
    return fail(std::string("cannot read the line settings: ") + std::strerror(errno));
  }
  ::cfmakeraw(&t);
  t.c_cflag |= CLOCAL | CREAD;
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  if (::tcsetattr(fd, TCSANOW, &t) != 0) {
    return fail(std::string("cannot set raw mode: ") + std::strerror(errno));
  }
  bool pty = false;
  struct stat st {};
  if (::fstat(fd, &st) == 0) {
    const auto major = ::major(st.st_rdev);
    pty = (major >= 136 && major <= 143) || major == 3;  // Unix98 and legacy slaves
  }
  return std::make_unique<Tty>(fd, pty);
}

}  // namespace vtr::platform::port

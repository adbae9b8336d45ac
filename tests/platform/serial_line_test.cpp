// Serial ports on real lines, in real time: the contract on a pseudo-terminal,
// on one that takes its bytes like a UART, on a network port and on an
// in-process endpoint; what each open failure says; what only a network port
// does (RFC 2217) against scripted servers on 127.0.0.1.
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/serial_ports.h"
#include "platform/win32.h"
#include "tests/platform/pty_pair.h"
#include "tests/platform/serial_contract.h"
#include "tests/platform/temp_dir.h"
#include "tests/platform/uart_pty.h"

namespace {

using Clock = std::chrono::steady_clock;
using vtr::test::Bytes;
using vtr::test::ExpectPortFailure;
using namespace std::chrono_literals;

// A TCP listener on 127.0.0.1, at a port the system chooses.
class Listener {
 public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(fd_, reinterpret_cast<sockaddr*>(&a), len);
    ::listen(fd_, 4);
    if (::getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0) port_ = ntohs(a.sin_port);
  }
  ~Listener() { ::close(fd_); }

  bool ok() const { return port_ != 0; }
  std::string Url(const char* scheme) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
  }
  // The next connection, or -1 when none comes within 5 s.
  int Accept() const {
    pollfd p{fd_, POLLIN, 0};
    return ::poll(&p, 1, 5000) == 1 ? ::accept(fd_, nullptr, nullptr) : -1;
  }

 private:
  int fd_ = -1;
  int port_ = 0;
};

// Up to `n` bytes from `fd`, each within `ms` of the one before.
Bytes ReadFd(int fd, std::size_t n, int ms) {
  Bytes got;
  pollfd p{fd, POLLIN, 0};
  std::uint8_t b = 0;
  while (got.size() < n && ::poll(&p, 1, ms) == 1 && ::read(fd, &b, 1) == 1) got.push_back(b);
  return got;
}

enum class Kind { kPty, kUart, kNet };

// A far end that is a descriptor: a pseudo-terminal's master (of one that
// takes its bytes like a UART, or not), or the accepted socket of a raw tcp://
// port (each open a new connection).
template <Kind kKind>
class FdLine {
  static constexpr bool kNet = kKind == Kind::kNet;

 public:
  static constexpr const char* kName = kNet ? "Network" : kKind == Kind::kUart ? "Uart" : "Pty";
  static constexpr bool kVirtual = false;
  static constexpr bool kGoneAtOnce = !kNet;  // a hang-up crosses the network a moment later
  static constexpr bool kLineTime = kKind == Kind::kUart;
  static constexpr const char* kBusyWhy = "already open in this process";
  static constexpr const char* kGoneWhy = kNet ? "connection lost" : "hung up";

  FdLine() { vtr::platform::UseRealClock(); }
  ~FdLine() { Vanish(); }
  const char* Unavailable() const {
    return (kNet ? listener_.ok() : pty_.ok()) ? nullptr : "no pseudo-terminal, or no listener";
  }
  void Bind(int com) {
    vtr::platform::BindPortPath(com, kNet ? listener_.Url("tcp") : pty_.slave());
  }
  void Opened() {
    if (kNet) Vanish();
    far_ = kNet ? listener_.Accept() : pty_.master();
  }
  void Vanish() {
    Join();
    if (kNet && far_ >= 0) ::close(far_);
    if (!kNet) pty_.HangUp();
    far_ = -1;
  }
  std::size_t ArrivedCount() const { return pty_.TakenCount(); }
  void AwaitArrival(HANDLE h, std::size_t n) {
    COMSTAT stat{};
    DWORD errors = 0;
    for (const auto giveUp = Clock::now() + 2s; stat.cbInQue < n && Clock::now() < giveUp;) {
      ASSERT_EQ(ClearCommError(h, &errors, &stat), TRUE);
    }
  }
  void Send(const Bytes& bytes) {
    EXPECT_EQ(::write(far_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
  // The delay counts from the return, whatever starting the sender cost.
  void SendAfter(vtr::test::Micros delay, Bytes bytes) {
    Join();
    sendAt_ = Clock::time_point::max();
    sender_ = std::thread([this, bytes] {
      while (sendAt_.load() == Clock::time_point::max()) std::this_thread::yield();
      std::this_thread::sleep_until(sendAt_.load());
      Send(bytes);
    });
    sendAt_ = Clock::now() + delay;
  }
  Bytes Received(std::size_t n) {
    if (kKind == Kind::kUart) {
      for (const auto giveUp = Clock::now() + 2s; ArrivedCount() < n && Clock::now() < giveUp;) {
        std::this_thread::sleep_for(1ms);
      }
      return pty_.Take();
    }
    return ReadFd(far_, n, 2000);
  }

 private:
  void Join() {
    if (sender_.joinable()) sender_.join();
  }
  vtr::test::UartPty pty_{kKind == Kind::kUart};  // unused by a network port
  Listener listener_;
  int far_ = -1;
  std::thread sender_;
  std::atomic<Clock::time_point> sendAt_;
};

}  // namespace

namespace vtr::test {
using RealLines = ::testing::Types<FdLine<Kind::kPty>, FdLine<Kind::kUart>, FdLine<Kind::kNet>,
                                   EndpointLine<false>>;
INSTANTIATE_TYPED_TEST_SUITE_P(Lines, SerialContract, RealLines, LineName);
}  // namespace vtr::test

namespace {

// ---- network ports only ------------------------------------------------------

constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WILL = 251, SB = 250, SE = 240;
constexpr int kCom = 9;
const Bytes kClientHello = {IAC, WILL, 44, IAC, WILL, 0, IAC, DO, 0, IAC, DO, 3};

Bytes Sb(std::uint8_t code, const Bytes& value) {
  Bytes b{IAC, SB, 44, code};
  b.insert(b.end(), value.begin(), value.end());
  b.insert(b.end(), {IAC, SE});
  return b;
}

// One step of the server's script: send bytes, wait for the client's bytes
// (all of them, in order), or hang up.
struct Step {
  enum { kSend, kExpect, kClose } kind;
  Bytes bytes;
};

// Accepts one connection and plays its script on a thread of its own.
class ScriptedServer : public Listener {
 public:
  explicit ScriptedServer(std::vector<Step> script)
      : thread_([this, script = std::move(script)] { Play(script); }) {}
  ~ScriptedServer() { Failure(); }
  // Waits for the script to end; what the client sent that no step expected.
  std::string Failure() {
    if (thread_.joinable()) thread_.join();
    return failure_;
  }

 private:
  void Play(const std::vector<Step>& script) {
    const int fd = Accept();
    if (fd < 0) return;
    for (const Step& s : script) {
      if (s.kind == Step::kSend) {
        ::send(fd, s.bytes.data(), s.bytes.size(), MSG_NOSIGNAL);
      } else if (s.kind == Step::kClose) {
        ::close(fd);
        return;
      } else {
        const Bytes got = ReadFd(fd, s.bytes.size(), 3000);
        if (got != s.bytes) {
          failure_ = "step " + std::to_string(&s - script.data()) + " got";
          for (auto x : got) failure_ += " " + std::to_string(x);
          break;
        }
      }
    }
    // Keep the connection until the client hangs up, or longer than any
    // wait of the client's.
    ReadFd(fd, SIZE_MAX, 4000);
    ::close(fd);
  }

  std::string failure_;
  std::thread thread_;  // last: starts once the rest is there
};

HANDLE OpenCom9(const std::string& path) {
  vtr::platform::BindPortPath(kCom, path);
  HANDLE h =
      CreateFileA("COM9", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  COMMTIMEOUTS t{MAXDWORD, 0, 0, MAXDWORD, MAXDWORD};
  EXPECT_TRUE(h == INVALID_HANDLE_VALUE || SetCommTimeouts(h, &t) == TRUE);
  vtr::platform::UnbindPort(kCom);
  return h;
}

// Another process, holding `path` with flock until it is destroyed.
class FlockHolder {
 public:
  explicit FlockHolder(const std::string& path) {
    int ready[2];
    if (::pipe(ready) != 0) return;
    pid_ = ::fork();
    if (pid_ == 0) {
      const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY);
      if (fd >= 0 && ::flock(fd, LOCK_EX) == 0 && ::write(ready[1], "1", 1) == 1) ::pause();
      ::_exit(0);
    }
    char held = 0;
    ::close(ready[1]);
    if (pid_ > 0 && ::read(ready[0], &held, 1) != 1) Stop();  // no byte: it holds nothing
    ::close(ready[0]);
  }
  ~FlockHolder() { Stop(); }
  pid_t pid() const { return pid_; }

 private:
  void Stop() {
    if (pid_ > 0 && ::kill(pid_, SIGKILL) == 0) ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  pid_t pid_ = -1;
};

// A line that cannot be opened fails within its bound, and TakePortFailure
// names the port, where it leads and why.
TEST(SerialOpenTest, FailuresSayWhyWithinTheirBound) {
  vtr::platform::UseRealClock();
  vtr::test::PtyPair flocked, uucp;
  vtr::test::TempDir dir;
  ASSERT_TRUE(flocked.ok() && uucp.ok() && !dir.path().empty());
  const FlockHolder holder(flocked.slave());
  ASSERT_GT(holder.pid(), 0);
  // A UUCP lock file naming process 1, which always lives.
  const std::string lockFile =
      dir.path() + "/LCK.." + uucp.slave().substr(uucp.slave().rfind('/') + 1);
  std::ofstream(lockFile) << "         1\n";
  ::setenv("VTR422_LOCK_DIR", dir.path().c_str(), 1);
  const std::string file = dir.path() + "/file";
  std::ofstream(file) << "not a line";
  ::chmod(file.c_str(), 0);

  const struct {
    std::string path;  // empty: rfc2217:// to a server playing `script`
    std::vector<Step> script;
    std::string why;
  } rows[] = {
      {"/nonexistent/ttyUSB9", {}, "no such device"},
      {"/dev/null", {}, "not a serial device (a character device that is no terminal)"},
      {file, {}, ::geteuid() == 0 ? "not a serial device (a regular file)" : "permission denied"},
      {flocked.slave(),
       {},
       "in use by another program (process " + std::to_string(holder.pid()) + ")"},
      {uucp.slave(), {}, "in use by another program (process 1, lock file " + lockFile + ")"},
      {"tcp://127.0.0.1", {}, "not tcp://HOST:PORT or rfc2217://HOST:PORT"},
      {"tcp://127.0.0.1:1", {}, "connection refused"},
      {"rfc2217://no-such-host.invalid:7000", {}, "'no-such-host.invalid'"},
      {{},
       {{Step::kExpect, kClientHello}, {Step::kSend, {IAC, DONT, 44}}},
       "the server does not speak RFC 2217 (it refused the Com Port Control option)"},
      {{}, {{Step::kExpect, kClientHello}}, "no answer to the Com Port Control option in 2 s"},
      {{},
       {{Step::kSend, {'P', 'o', 'r', 't', ' ', 'i', 'n', ' ', 'u', 's', 'e', '\r', '\n'}},
        {Step::kClose, {}}},
       "the server closed the connection: Port in use"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.why);
    std::optional<ScriptedServer> server;
    if (r.path.empty()) server.emplace(r.script);
    const std::string path = r.path.empty() ? server->Url("rfc2217") : r.path;
    const auto start = Clock::now();
    EXPECT_EQ(OpenCom9(path), INVALID_HANDLE_VALUE);
    EXPECT_LT(Clock::now() - start, 3s);
    ExpectPortFailure(r.why, "COM9 -> " + path + ": ");
    EXPECT_EQ(server ? server->Failure() : "", "");
  }
  // A lock file whose process is gone holds nothing (no process has pid_max).
  std::ofstream(lockFile) << vtr::test::ReadAll("/proc/sys/kernel/pid_max");
  HANDLE h = OpenCom9(uucp.slave());
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << vtr::platform::TakePortFailure();
  EXPECT_EQ(CloseHandle(h), TRUE);
  ::unsetenv("VTR422_LOCK_DIR");
}

// Line settings, purges, data both ways and line errors, byte for byte.
TEST(SerialNetTest, Rfc2217CarriesSettingsPurgesAndData) {
  vtr::platform::UseRealClock();
  // Each answer echoes a value; the client only waits for all five.
  Bytes answers;
  for (std::uint8_t code = 101; code <= 105; ++code) {
    const Bytes a = Sb(code, {1});
    answers.insert(answers.end(), a.begin(), a.end());
  }
  ScriptedServer server({
      {Step::kSend, {IAC, WILL, 1, IAC, DO, 44}},  // unwanted echo, then the option
      {Step::kExpect, kClientHello},
      {Step::kExpect, {IAC, DONT, 1}},
      {Step::kExpect, Sb(10, {0x1E})},          // line errors and break
      {Step::kExpect, Sb(11, {0})},             // no modem state
      {Step::kExpect, Sb(1, {0, 0, 0x96, 0})},  // 38400 8O1, no flow control
      {Step::kExpect, Sb(2, {8})},
      {Step::kExpect, Sb(3, {2})},
      {Step::kExpect, Sb(4, {1})},
      {Step::kExpect, Sb(5, {1})},
      {Step::kSend, answers},
      {Step::kExpect, Sb(12, {1})},  // the transmit purge sends nothing
      {Step::kSend, Sb(112, {1})},
      {Step::kExpect, {0x20, 0xFF, 0xFF, 0x20}},
      {Step::kSend, {0x10, IAC, IAC}},
      {Step::kSend, Sb(106, {0x04})},  // parity error
      {Step::kSend, {0x11}},
  });
  HANDLE h = OpenCom9(server.Url("rfc2217"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << vtr::platform::TakePortFailure();
  DCB dcb{};
  ASSERT_EQ(GetCommState(h, &dcb), TRUE);
  ASSERT_EQ(BuildCommDCBA("38400,o,8,1", &dcb), TRUE);
  EXPECT_EQ(SetCommState(h, &dcb), TRUE);
  EXPECT_EQ(PurgeComm(h, PURGE_TXCLEAR), TRUE);
  EXPECT_EQ(PurgeComm(h, PURGE_RXCLEAR), TRUE);
  const std::uint8_t out[] = {0x20, 0xFF, 0x20};
  DWORD n = 0;
  EXPECT_EQ(WriteFile(h, out, sizeof out, &n, nullptr), TRUE);
  EXPECT_EQ(n, sizeof out);
  EXPECT_EQ(vtr::test::ReadBytes(h, 3), (Bytes{0x10, 0xFF, 0x11}));
  DWORD errors = 0;
  EXPECT_EQ(ClearCommError(h, &errors, nullptr), TRUE);
  EXPECT_EQ(errors, static_cast<DWORD>(CE_RXPARITY));
  EXPECT_EQ(CloseHandle(h), TRUE);
  EXPECT_EQ(server.Failure(), "");
}

// An RFC 2217 server whose line is slower than the test: what it receives
// waits for the line until the client hangs up, unless PURGE-DATA 2 (what its
// line has not sent yet) drops it. It answers each purge.
class SlowLineServer : public Listener {
 public:
  SlowLineServer() : thread_([this] { Serve(); }) {}
  ~SlowLineServer() { Line(); }
  // What went out on the line, once the client has hung up.
  Bytes Line() {
    if (thread_.joinable()) thread_.join();
    return line_;
  }

 private:
  void Serve() {
    const int fd = Accept();
    if (fd < 0) return;
    const Bytes accept{IAC, DO, 44};
    ::send(fd, accept.data(), accept.size(), MSG_NOSIGNAL);
    Bytes sb;  // a subnegotiation's bytes
    bool iac = false, verb = false, inSb = false;
    pollfd p{fd, POLLIN, 0};
    std::uint8_t in[64];
    for (ssize_t got = 0; ::poll(&p, 1, 4000) == 1 && (got = ::recv(fd, in, sizeof in, 0)) > 0;) {
      for (ssize_t i = 0; i < got; ++i) {
        const std::uint8_t b = in[i];
        if (verb) {  // the option of a WILL, WONT, DO or DONT
          verb = false;
        } else if (iac) {
          iac = false;
          verb = b >= WILL && b != IAC;
          if (b == IAC) (inSb ? sb : line_).push_back(b);
          if (b == SB) sb.clear();
          if (b == SB || b == SE) inSb = b == SB;
          if (b == SE && sb.size() == 3 && sb[0] == 44 && sb[1] == 12) {
            if ((sb[2] & 2) != 0) line_.clear();
            const Bytes answer = Sb(112, {sb[2]});
            ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
          }
        } else if (b == IAC) {
          iac = true;
        } else {
          (inSb ? sb : line_).push_back(b);
        }
      }
    }
    ::close(fd);
  }

  Bytes line_;
  std::thread thread_;  // last: starts once the rest is there
};

// The exchange purges both ways before each block, while a terminal server
// may still be sending the previous block to its slower line: no purge cuts
// a block that was written.
TEST(SerialNetTest, Rfc2217PurgesCutNoBlockStillOnTheServersLine) {
  vtr::platform::UseRealClock();
  SlowLineServer server;
  HANDLE h = OpenCom9(server.Url("rfc2217"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << vtr::platform::TakePortFailure();
  Bytes all;
  for (const Bytes& block :
       {Bytes{0x20, 0x00, 0x20}, Bytes{0x61, 0x20, 0x08, 0x89}, Bytes{0x61, 0x0C, 0x03, 0x70}}) {
    EXPECT_EQ(PurgeComm(h, PURGE_TXCLEAR), TRUE);
    EXPECT_EQ(PurgeComm(h, PURGE_RXCLEAR), TRUE);
    for (const std::uint8_t b : block) {
      DWORD n = 0;
      EXPECT_EQ(WriteFile(h, &b, 1, &n, nullptr), TRUE);
    }
    all.insert(all.end(), block.begin(), block.end());
  }
  EXPECT_EQ(CloseHandle(h), TRUE);
  EXPECT_EQ(server.Line(), all);
}

}  // namespace

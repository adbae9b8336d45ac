// Network ports through the Win32 calls, against a scripted server: a thread
// in the test listening on 127.0.0.1.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/serial_ports.h"
#include "platform/win32.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WILL = 251, SB = 250, SE = 240;
constexpr int kPort = 9;

Bytes Sb(std::uint8_t code, const Bytes& value) {
  Bytes b{IAC, SB, 44, code};
  for (const std::uint8_t v : value) b.push_back(v);
  b.push_back(IAC);
  b.push_back(SE);
  return b;
}

// One step of the server's script: send bytes, wait for the client's bytes
// (all of them, in order), or hang up.
struct Step {
  enum { kSend, kExpect, kClose } kind;
  Bytes bytes;
};

// Accepts one connection and plays its script; records what it saw.
class ScriptedServer {
 public:
  explicit ScriptedServer(std::vector<Step> script) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), len);
    ::listen(listen_, 1);
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    thread_ = std::thread([this, script = std::move(script)] { Play(script); });
  }
  ~ScriptedServer() {
    if (thread_.joinable()) thread_.join();
    ::close(listen_);
  }
  std::string Url(const char* scheme) const {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port_);
  }
  // Waits for the script to end; what the client sent that no step expected.
  std::string Failure() {
    if (thread_.joinable()) thread_.join();
    return failure_;
  }

 private:
  void Play(const std::vector<Step>& script) {
    pollfd p{listen_, POLLIN, 0};
    if (::poll(&p, 1, 5000) != 1) return;
    const int fd = ::accept(listen_, nullptr, nullptr);
    for (const Step& s : script) {
      if (s.kind == Step::kSend) {
        ::send(fd, s.bytes.data(), s.bytes.size(), MSG_NOSIGNAL);
      } else if (s.kind == Step::kClose) {
        ::close(fd);
        return;
      } else {
        Bytes got;
        pollfd q{fd, POLLIN, 0};
        while (got.size() < s.bytes.size() && ::poll(&q, 1, 3000) == 1) {
          std::uint8_t b;
          if (::recv(fd, &b, 1, 0) != 1) break;
          got.push_back(b);
        }
        if (got != s.bytes) {
          failure_ = "expected " + Hex(s.bytes) + ", got " + Hex(got);
          break;
        }
      }
    }
    // Keep the connection until the client hangs up, or longer than any
    // wait of the client's.
    pollfd q{fd, POLLIN, 0};
    std::uint8_t b;
    while (::poll(&q, 1, 4000) == 1 && ::recv(fd, &b, 1, 0) == 1) {
    }
    ::close(fd);
  }
  static std::string Hex(const Bytes& b) {
    std::string s;
    for (auto x : b) s += " " + std::to_string(x);
    return s;
  }

  int listen_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::string failure_;
};

const Bytes kClientHello = {IAC, WILL, 44, IAC, WILL, 0, IAC, DO, 0, IAC, DO, 3};

class SerialNetTest : public ::testing::Test {
 protected:
  void SetUp() override { vtr::platform::UseRealClock(); }
  void TearDown() override { vtr::platform::UnbindPort(kPort); }
  HANDLE Open(const std::string& url) {
    vtr::platform::BindPortPath(kPort, url);
    HANDLE h =
        CreateFileA("COM9", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    COMMTIMEOUTS t{MAXDWORD, 0, 0, MAXDWORD, MAXDWORD};
    if (h != INVALID_HANDLE_VALUE) {
      EXPECT_EQ(SetCommTimeouts(h, &t), TRUE);
    }
    return h;
  }
};

TEST_F(SerialNetTest, FailedOpensSayWhyWithinTheirBound) {
  const struct {
    const char* what;
    const char* scheme;
    std::vector<Step> script;
    const char* why;
  } rows[] = {
      {"telnet server without the option",
       "rfc2217",
       {{Step::kExpect, kClientHello}, {Step::kSend, {IAC, DONT, 44}}},
       "refused the Com Port Control option"},
      {"raw server", "rfc2217", {{Step::kExpect, kClientHello}}, "no answer to the Com Port"},
      {"busy server",
       "rfc2217",
       {{Step::kSend, {'P', 'o', 'r', 't', ' ', 'i', 'n', ' ', 'u', 's', 'e', '\r', '\n'}},
        {Step::kClose, {}}},
       "closed the connection: Port in use"},
  };
  for (const auto& r : rows) {
    ScriptedServer server(r.script);
    const auto start = Clock::now();
    EXPECT_EQ(Open(server.Url(r.scheme)), INVALID_HANDLE_VALUE) << r.what;
    EXPECT_LT(Clock::now() - start, 3s) << r.what;
    EXPECT_NE(vtr::platform::TakePortFailure().find(r.why), std::string::npos) << r.what;
    EXPECT_EQ(server.Failure(), "") << r.what;
  }
  // Nothing listening, and a name that does not resolve.
  for (const char* url : {"tcp://127.0.0.1:1", "rfc2217://no-such-host.invalid:7000"}) {
    EXPECT_EQ(Open(url), INVALID_HANDLE_VALUE) << url;
    EXPECT_NE(vtr::platform::TakePortFailure(), "") << url;
  }
}

// Line settings, purges, data both ways and line errors, byte for byte.
TEST_F(SerialNetTest, Rfc2217CarriesSettingsPurgesAndData) {
  // Each answer echoes a value; the client only waits for all five.
  Bytes answers;
  for (std::uint8_t code = 101; code <= 105; ++code) {
    for (const std::uint8_t b : Sb(code, {1})) answers.push_back(b);
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
      {Step::kExpect, Sb(12, {2})},
      {Step::kSend, Sb(112, {2})},
      {Step::kExpect, Sb(12, {1})},
      {Step::kSend, Sb(112, {1})},
      {Step::kExpect, {0x20, 0xFF, 0xFF, 0x20}},
      {Step::kSend, {0x10, IAC, IAC}},
      {Step::kSend, Sb(106, {0x04})},  // parity error
      {Step::kSend, {0x11}},
  });
  HANDLE h = Open(server.Url("rfc2217"));
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
  Bytes in;
  for (const auto end = Clock::now() + 3s; in.size() < 3 && Clock::now() < end;) {
    std::uint8_t b = 0;
    if (ReadFile(h, &b, 1, &n, nullptr) == TRUE && n == 1) in.push_back(b);
  }
  EXPECT_EQ(in, (Bytes{0x10, 0xFF, 0x11}));
  DWORD errors = 0;
  EXPECT_EQ(ClearCommError(h, &errors, nullptr), TRUE);
  EXPECT_EQ(errors, static_cast<DWORD>(CE_RXPARITY));
  EXPECT_EQ(CloseHandle(h), TRUE);
  EXPECT_EQ(server.Failure(), "");
}

// A lost connection fails every call as a vanished tty does; the target is
// held while open and free again after close.
TEST_F(SerialNetTest, RawPortIsExclusiveAndDiesWithItsConnection) {
  ScriptedServer server({{Step::kExpect, {0x20}}, {Step::kClose, {}}});
  HANDLE h = Open(server.Url("tcp"));
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << vtr::platform::TakePortFailure();
  vtr::platform::BindPortPath(kPort + 1, server.Url("tcp"));
  EXPECT_EQ(CreateFileA("COM10", 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
  vtr::platform::UnbindPort(kPort + 1);
  EXPECT_NE(vtr::platform::TakePortFailure().find("already open"), std::string::npos);

  // The exchange's budget of empty reads spans the same wall time as on a tty.
  const auto start = Clock::now();
  std::uint8_t r = 0;
  DWORD n = 0;
  for (int i = 0; i < 9500; ++i) ASSERT_EQ(ReadFile(h, &r, 1, &n, nullptr), TRUE);
  EXPECT_GE(Clock::now() - start, 47ms);

  const std::uint8_t b = 0x20;
  EXPECT_EQ(WriteFile(h, &b, 1, &n, nullptr), TRUE);
  const auto end = Clock::now() + 3s;
  while (ReadFile(h, &r, 1, &n, nullptr) == TRUE && Clock::now() < end) {
  }
  EXPECT_LT(Clock::now(), end) << "the closed connection was not noticed";
  EXPECT_NE(vtr::platform::TakePortFailure().find("is gone"), std::string::npos);
  EXPECT_EQ(WriteFile(h, &b, 1, &n, nullptr), FALSE);
  DWORD errors = 0;
  EXPECT_EQ(ClearCommError(h, &errors, nullptr), FALSE);
  EXPECT_EQ(CloseHandle(h), TRUE);

  ScriptedServer again({});
  h = Open(again.Url("tcp"));
  EXPECT_NE(h, INVALID_HANDLE_VALUE);
  CloseHandle(h);
}

}  // namespace

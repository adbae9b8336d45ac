// Network port targets and the Telnet side of rfc2217:// ports, without
// sockets.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/posix/net_port.h"

namespace {

using vtr::platform::net::ParseTarget;
using vtr::platform::net::TelnetComPort;
using Bytes = std::vector<std::uint8_t>;

TEST(NetTargetTest, ParsesSchemeHostAndPort) {
  // An empty host: not a network target.
  const struct {
    const char* path;
    bool telnet;
    std::string host;
  } rows[] = {
      {"tcp://127.0.0.1:7000", false, "127.0.0.1"},
      {"rfc2217://deck-room.local:2001", true, "deck-room.local"},
      {"rfc2217://[::1]:65535", true, "::1"},
      {"tcp://::1:7000", false, ""},  // IPv6 without brackets
      {"tcp://127.0.0.1", false, ""},
      {"tcp://127.0.0.1:", false, ""},
      {"tcp://127.0.0.1:0", false, ""},
      {"tcp://127.0.0.1:65536", false, ""},
      {"tcp://127.0.0.1:07000", false, ""},
      {"tcp://127.0.0.1:7000/", false, ""},
      {"tcp://:7000", false, ""},
      {"telnet://127.0.0.1:7000", false, ""},
      {"/dev/ttyS0", false, ""},
  };
  for (const auto& r : rows) {
    const auto t = ParseTarget(r.path);
    ASSERT_EQ(t.has_value(), !r.host.empty()) << r.path;
    if (!t) continue;
    EXPECT_EQ(t->telnet, r.telnet) << r.path;
    EXPECT_EQ(t->host, r.host) << r.path;
  }
}

// What the client answers a server's bytes fed one at a time (so every
// sequence is also split at every byte), after its opening requests.
TEST(TelnetComPortTest, AnswersTheServerAndSeparatesData) {
  constexpr std::uint8_t IAC = 255, DONT = 254, DO = 253, WONT = 252, WILL = 251, SB = 250,
                         SE = 240;
  const struct {
    const char* what;
    Bytes in;
    Bytes data;
    Bytes answer;
  } rows[] = {
      {"data with an escaped 0xFF", {0x10, IAC, IAC, 0x11}, {0x10, 0xFF, 0x11}, {}},
      {"requests we made are not asked again",
       {IAC, DO, 44, IAC, DO, 0, IAC, WILL, 0, IAC, WILL, 3},
       {},
       {}},
      {"unwanted options are declined once",
       {IAC, WILL, 1, IAC, WILL, 1, IAC, DO, 24, IAC, DO, 24},
       {},
       {IAC, DONT, 1, IAC, WONT, 24}},
      {"the server's own request is granted", {IAC, DO, 3}, {}, {IAC, WILL, 3}},
      {"an enabled option switched off is confirmed",
       {IAC, WILL, 0, IAC, WONT, 0},
       {},
       {IAC, DONT, 0}},
      {"signature request",
       {IAC, SB, 44, 100, IAC, SE},
       {},
       {IAC, SB, 44, 0, 'v', 't', 'r', '4', '2', '2', IAC, SE}},
      {"notifications carry no data",
       {0x20, IAC, SB, 44, 106, 0x04, IAC, SE, IAC, SB, 44, 107, 0xFF, 0xFF, IAC, SE, 0x21},
       {0x20, 0x21},
       {}},
      {"other commands are dropped", {IAC, 241, 0x30, IAC, 249}, {0x30}, {}},
  };
  for (const auto& r : rows) {
    TelnetComPort t;
    t.outgoing.clear();
    for (const std::uint8_t b : r.in) t.Feed(std::span(&b, 1));
    EXPECT_EQ(Bytes(t.data.begin(), t.data.end()), r.data) << r.what;
    EXPECT_EQ(t.outgoing, r.answer) << r.what;
  }
}

}  // namespace

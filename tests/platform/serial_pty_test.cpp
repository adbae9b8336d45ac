// Serial ports on a real pseudo-terminal pair, in real time.
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/serial_ports.h"
#include "platform/win32.h"
#include "tests/platform/fake_endpoint.h"
#include "tests/platform/pty_pair.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr int kPort = 5;

class SerialPtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    vtr::platform::UseRealClock();
    if (!pty_.ok()) GTEST_SKIP() << "no pseudo-terminals here (posix_openpt failed)";
    vtr::platform::BindPortPath(kPort, pty_.slave());
  }
  void TearDown() override { vtr::platform::UnbindPort(kPort); }

  // Opened and configured as the driver does: 38400 8O1, reads return at once.
  HANDLE Open() {
    HANDLE h = CreateFileA("\\\\.\\COM5", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_WRITE_THROUGH, nullptr);
    if (h == INVALID_HANDLE_VALUE) return h;
    COMMTIMEOUTS t{MAXDWORD, 0, 0, MAXDWORD, MAXDWORD};
    DCB dcb{};
    EXPECT_TRUE(SetupComm(h, 1024, 1024) && SetCommTimeouts(h, &t) && GetCommState(h, &dcb) &&
                BuildCommDCBA("COM5:38400,o,8,1", &dcb));
    dcb.fBinary = 1;
    dcb.fDsrSensitivity = 0;
    EXPECT_EQ(SetCommState(h, &dcb), TRUE);
    return h;
  }

  vtr::test::PtyPair pty_;
};

// Configured as the driver does it, raw both ways (no byte is special), and
// a purge drops what has arrived.
TEST_F(SerialPtyTest, ConfiguresMovesRawBytesAndPurges) {
  HANDLE h = Open();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DCB back{};
  ASSERT_EQ(GetCommState(h, &back), TRUE);
  EXPECT_EQ(back.BaudRate, 38400u);
  EXPECT_EQ(back.ByteSize, 8);
  EXPECT_EQ(back.Parity, ODDPARITY);
  EXPECT_EQ(back.StopBits, ONESTOPBIT);
  EXPECT_EQ(back.fBinary, 1u);

  const std::vector<std::uint8_t> ack{0x10, 0x01, 0x11, 0x00, 0xFF};
  ASSERT_EQ(write(pty_.master(), ack.data(), ack.size()), static_cast<ssize_t>(ack.size()));
  std::vector<std::uint8_t> got;
  for (int attempt = 0; attempt < 200000 && got.size() < ack.size(); ++attempt) {
    std::uint8_t b = 0;
    DWORD n = 0;
    ASSERT_EQ(ReadFile(h, &b, 1, &n, nullptr), TRUE);
    if (n == 1) got.push_back(b);
  }
  EXPECT_EQ(got, ack);

  const std::vector<std::uint8_t> command{0x20, 0x00, 0x20, 0x0A, 0x0D};
  DWORD put = 0;
  ASSERT_EQ(WriteFile(h, command.data(), 5, &put, nullptr), TRUE);
  EXPECT_EQ(put, 5u);
  std::vector<std::uint8_t> seen;
  while (seen.size() < command.size()) {
    pollfd pfd{pty_.master(), POLLIN, 0};
    ASSERT_EQ(poll(&pfd, 1, 2000), 1);
    std::uint8_t buf[16];
    const auto n = read(pty_.master(), buf, sizeof buf);
    ASSERT_GT(n, 0);
    seen.insert(seen.end(), buf, buf + n);
  }
  EXPECT_EQ(seen, command);

  ASSERT_EQ(write(pty_.master(), ack.data(), 3), 3);
  COMSTAT stat{};
  DWORD errors = 99;
  for (const auto giveUp = Clock::now() + 2s; stat.cbInQue < 3 && Clock::now() < giveUp;) {
    ASSERT_EQ(ClearCommError(h, &errors, &stat), TRUE);
  }
  ASSERT_EQ(stat.cbInQue, 3u);
  EXPECT_EQ(errors, 0u);  // a pty has no line errors
  EXPECT_EQ(PurgeComm(h, PURGE_RXCLEAR), TRUE);
  EXPECT_EQ(PurgeComm(h, PURGE_TXCLEAR), TRUE);
  std::uint8_t b = 0;
  DWORD n = 1;
  EXPECT_EQ(ReadFile(h, &b, 1, &n, nullptr), TRUE);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(CloseHandle(h), TRUE);
}

// A line held open is refused under any name until closed; a missing path
// or a file that is no terminal never opens.
TEST_F(SerialPtyTest, OpensOnlyAFreeTerminal) {
  auto opens = [](const char* name) {
    HANDLE h = CreateFileA(name, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return h != INVALID_HANDLE_VALUE && CloseHandle(h) == TRUE;
  };
  HANDLE first = Open();
  ASSERT_NE(first, INVALID_HANDLE_VALUE);
  vtr::platform::BindPortPath(kPort + 1, pty_.slave());  // same device, other name
  EXPECT_FALSE(opens("COM5"));
  EXPECT_FALSE(opens("COM6"));
  vtr::platform::UnbindPort(kPort + 1);
  ASSERT_EQ(CloseHandle(first), TRUE);
  EXPECT_TRUE(opens("COM5"));
  for (const char* path : {"/nonexistent/tty", "/dev/null"}) {
    vtr::platform::BindPortPath(kPort, path);
    EXPECT_FALSE(opens("COM5")) << path;
  }
}

TEST_F(SerialPtyTest, VanishedLineFailsPromptly) {
  HANDLE h = Open();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  pty_.CloseMaster();
  const auto start = Clock::now();
  std::uint8_t b = 0x20;
  DWORD count = 99;
  EXPECT_EQ(ReadFile(h, &b, 1, &count, nullptr), FALSE);
  EXPECT_EQ(count, 0u);
  count = 99;
  EXPECT_EQ(WriteFile(h, &b, 1, &count, nullptr), FALSE);
  EXPECT_EQ(count, 0u);
  DWORD errors = 0;
  EXPECT_EQ(ClearCommError(h, &errors, nullptr), FALSE);
  EXPECT_LT(Clock::now() - start, 500ms);
  EXPECT_EQ(CloseHandle(h), TRUE);
}

// Empty attempts keep their schedule whether the port sleeps or not: on a
// silent line the budget spans its whole time; a byte ends the wait when it
// arrives, after the attempts scheduled before it have each answered nothing.
TEST_F(SerialPtyTest, WaitsKeepTheAttemptSchedule) {
  const struct {
    const char* name;
    bool endpoint;    // an in-process far end instead of the pty
    int byteAfterMs;  // < 0: the line stays silent
  } rows[] = {
      {"pty, silent", false, -1},
      {"pty, byte at 12 ms", false, 12},
      {"endpoint, silent", true, -1},
      {"endpoint, byte at 12 ms", true, 12},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    auto endpoint = std::make_shared<vtr::test::FakeEndpoint>();
    if (row.endpoint) vtr::platform::BindVirtualPort(kPort, endpoint);
    HANDLE h = Open();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    // The byte's time counts from just before the first read, whatever
    // starting the sender cost.
    std::atomic<Clock::time_point> byteAt{Clock::time_point::max()};
    std::thread sender;
    if (row.byteAfterMs >= 0 && !row.endpoint) {
      sender = std::thread([&] {
        while (byteAt.load() == Clock::time_point::max()) std::this_thread::yield();
        std::this_thread::sleep_until(byteAt.load());
        const std::uint8_t b = 0x10;
        EXPECT_EQ(write(pty_.master(), &b, 1), 1);
      });
    }
    if (row.byteAfterMs >= 0 && row.endpoint) {
      endpoint->Send(vtr::platform::Now() + std::chrono::milliseconds(row.byteAfterMs), {0x10});
    }
    const auto start = Clock::now();
    byteAt = start + std::chrono::milliseconds(row.byteAfterMs);
    int empty = 0;
    std::uint8_t b = 0;
    DWORD got = 0;
    for (; empty < 9500; ++empty) {
      ASSERT_EQ(ReadFile(h, &b, 1, &got, nullptr), TRUE);
      if (got != 0) break;
    }
    const auto ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (sender.joinable()) sender.join();
    if (row.byteAfterMs < 0) {
      EXPECT_EQ(got, 0u);
      EXPECT_GE(ms, 47.5);  // never faster than the schedule
    } else {
      EXPECT_EQ(got, 1u);
      EXPECT_EQ(b, 0x10);
      // 2,400 attempts fall before 12 ms; the port charges at least the 5 ms
      // slices of its wait that passed empty, so 1,000 even when load delays it.
      EXPECT_GE(empty, 1000);
    }
    EXPECT_EQ(CloseHandle(h), TRUE);
    vtr::platform::BindPortPath(kPort, pty_.slave());
  }
}

}  // namespace

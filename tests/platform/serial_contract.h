// The serial contract of the Win32 calls, the same on every kind of line, as a
// typed suite over "lines". A line binds a COM number to its far end and plays
// the far end; its constants say what differs between kinds (virtual time, a
// hang-up noticed at once, what TakePortFailure says, bytes that take their
// time on the line). The unit tests run it on an in-process endpoint in
// virtual time, the integration tests on a pseudo-terminal, one that takes
// its bytes like a UART, a network port and an endpoint in real time.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/serial_ports.h"
#include "platform/win32.h"
#include "tests/support/fake_line.h"

namespace vtr::test {

using vtr::platform::Micros;
using vtr::platform::Now;
using namespace std::chrono_literals;

// TakePortFailure starts with `start` and contains `part`.
inline void ExpectPortFailure(const std::string& part, const std::string& start = {}) {
  const std::string why = vtr::platform::TakePortFailure();
  EXPECT_TRUE(why.starts_with(start) && why.find(part) != std::string::npos) << why;
}

// Reads one byte at a time, as the exchange does, until `n` came or 200,000
// attempts (a second of the schedule) passed.
inline Bytes ReadBytes(HANDLE h, std::size_t n) {
  Bytes got;
  for (int attempt = 0; attempt < 200000 && got.size() < n; ++attempt) {
    std::uint8_t b = 0;
    DWORD count = 0;
    if (ReadFile(h, &b, 1, &count, nullptr) != TRUE) break;
    if (count == 1) got.push_back(b);
  }
  return got;
}

// The far end in this process, as the virtual deck is.
template <bool kVirtualTime>
class EndpointLine {
 public:
  static constexpr const char* kName = kVirtualTime ? "Endpoint" : "EndpointRealTime";
  static constexpr bool kVirtual = kVirtualTime;
  static constexpr bool kGoneAtOnce = true;
  static constexpr bool kLineTime = false;  // bytes arrive as written
  static constexpr const char* kBusyWhy = "in-process deck: already open in this process";
  static constexpr const char* kGoneWhy = "in-process deck: disconnected";

  EndpointLine() {
    if (kVirtual) vtr::platform::UseVirtualClock(Micros{1000000});
  }
  ~EndpointLine() { vtr::platform::UseRealClock(); }
  const char* Unavailable() const { return nullptr; }
  void Bind(int com) { vtr::platform::BindVirtualPort(com, far_); }
  void Opened() {}
  void AwaitArrival(HANDLE /*h*/, std::size_t /*n*/) {}  // sent now, there now
  void Send(const Bytes& bytes) { SendAfter(Micros{0}, bytes); }
  void SendAfter(Micros delay, const Bytes& bytes) {
    for (const std::uint8_t b : bytes) far_->queue.emplace_back(Now() + delay, b);
  }
  Bytes Received(std::size_t /*n*/) { return std::exchange(far_->received, {}); }
  void Vanish() { far_->connected = false; }

 private:
  std::shared_ptr<FakeLine> far_ = std::make_shared<FakeLine>();
};

// Names the instantiations after their kinds.
struct LineName {
  template <class Line>
  static std::string GetName(int /*index*/) {
    return Line::kName;
  }
};

template <class Line>
class SerialContract : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const char* why = line_.Unavailable()) GTEST_SKIP() << why;
    line_.Bind(7);
  }
  void TearDown() override {
    vtr::platform::UnbindPort(7);
    vtr::platform::UnbindPort(8);
  }

  // COM7 opened and configured as the driver does it: 38400 8O1, reads that
  // return at once.
  HANDLE Open() {
    HANDLE h = CreateFileA("\\\\.\\COM7", GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_WRITE_THROUGH, nullptr);
    if (h == INVALID_HANDLE_VALUE) return h;
    line_.Opened();
    COMMTIMEOUTS t{MAXDWORD, 0, 0, MAXDWORD, MAXDWORD};
    DCB dcb{};
    EXPECT_TRUE(SetupComm(h, 1024, 1024) && SetCommTimeouts(h, &t) && GetCommState(h, &dcb) &&
                BuildCommDCBA("COM7:38400,o,8,1", &dcb) && SetCommState(h, &dcb));
    return h;
  }

  Line line_;
};

TYPED_TEST_SUITE_P(SerialContract);

// Bytes that terminals, Telnet and line disciplines treat specially pass
// unchanged both ways. A write returns once its bytes are handed over, as the
// exchange writes a block, one byte at a time: it does not wait for each
// byte to leave. A transmit purge after it waits until they have, so it cuts
// nothing. Only a receive purge drops what has arrived.
TYPED_TEST_P(SerialContract, MovesRawBytesAndPurgesOnlyWhatIsAsked) {
  const Bytes raw{0x10, 0x01, 0x11, 0x13, 0x00, 0xFF, 0x0A, 0x0D, 0x03, 0x04, 0x7F, 0xFF};
  HANDLE h = this->Open();
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << vtr::platform::TakePortFailure();
  Bytes block;  // 10 ms on the line
  for (int i = 0; i < 3; ++i) block.insert(block.end(), raw.begin(), raw.end());
  for (const std::uint8_t b : block) {
    DWORD put = 0;
    ASSERT_EQ(WriteFile(h, &b, 1, &put, nullptr), TRUE);
    EXPECT_EQ(put, 1u);
  }
  if constexpr (TypeParam::kLineTime) {
    // Counted, not timed: a busy machine only makes the far end lag.
    EXPECT_LT(this->line_.ArrivedCount(), block.size()) << "each write waited for its byte";
  }
  EXPECT_EQ(PurgeComm(h, PURGE_TXCLEAR), TRUE);
  if constexpr (TypeParam::kLineTime) {
    EXPECT_EQ(this->line_.ArrivedCount(), block.size()) << "the purge did not wait";
  }
  EXPECT_EQ(this->line_.Received(block.size()), block);

  this->line_.Send(raw);
  this->line_.AwaitArrival(h, raw.size());
  for (const DWORD flags : {DWORD{PURGE_TXCLEAR}, DWORD{PURGE_TXABORT | PURGE_RXABORT}, DWORD{0}}) {
    EXPECT_EQ(PurgeComm(h, flags), TRUE) << flags;
  }
  EXPECT_EQ(ReadBytes(h, raw.size()), raw);
  this->line_.Send({4, 5});
  this->line_.AwaitArrival(h, 2);
  EXPECT_EQ(PurgeComm(h, PURGE_RXCLEAR | PURGE_RXABORT), TRUE);
  this->line_.Send({6});
  EXPECT_EQ(ReadBytes(h, 1), Bytes{6});
  DWORD errors = 99;
  EXPECT_EQ(ClearCommError(h, &errors, nullptr), TRUE);
  EXPECT_EQ(errors, 0u);
  EXPECT_EQ(CloseHandle(h), TRUE);
}

// Empty attempts keep a 5 us schedule however the port waits: on a silent
// line 9,500 span 47.5 ms; a byte ends the wait when it arrives, after the
// attempts scheduled before it have each answered nothing. 2,400 fall before a
// byte at 12 ms; a port that sleeps charges at least the 5 ms slices of its
// wait that passed empty, so 1,000, but none when the machine holds the reader
// off past the byte before its first slice ends: a byte gets three tries.
TYPED_TEST_P(SerialContract, EmptyReadsKeepTheSchedule) {
  int most = 0;
  for (int run = 0; run < 4 && most < 1000; ++run) {  // run 0: a silent line
    HANDLE h = this->Open();
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    if (run > 0) this->line_.SendAfter(12ms, {0x10});
    const Micros start = Now();
    int empty = 0;
    std::uint8_t b = 0;
    DWORD got = 0;
    while (empty < 9500 && ReadFile(h, &b, 1, &got, nullptr) == TRUE && got == 0) ++empty;
    const Micros took = Now() - start;
    EXPECT_EQ(CloseHandle(h), TRUE);
    if (run == 0) {
      EXPECT_EQ(empty, 9500);
      EXPECT_GE(took, 47500us);  // never faster than the schedule
      EXPECT_TRUE(!TypeParam::kVirtual || took == 47500us) << took.count();
    } else {
      EXPECT_EQ(got, 1u);
      EXPECT_EQ(b, 0x10);
      most = std::max(most, empty);
    }
  }
  EXPECT_GE(most, 1000);
  EXPECT_TRUE(!TypeParam::kVirtual || most == 2400) << most;
}

// What SetCommState took, GetCommState reports; settings no line can take
// fail on every kind and change nothing.
TYPED_TEST_P(SerialContract, LineSettingsReadBackAsApplied) {
  using Settings = std::tuple<DWORD, BYTE, BYTE, BYTE, DWORD, DWORD, DWORD, DWORD>;
  const auto settings = [](const DCB& d) {
    return Settings{d.BaudRate, d.ByteSize, d.Parity,       d.StopBits,
                    d.fOutX,    d.fInX,     d.fOutxCtsFlow, d.fBinary};
  };
  HANDLE h = this->Open();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DCB dcb{};
  DCB back{};
  for (const char* mode : {"9600,e,7,2", "19200,n,8,1,x", "57600,m,6,1,p", "38400,o,8,1"}) {
    ASSERT_TRUE(GetCommState(h, &dcb) && BuildCommDCBA(mode, &dcb) && SetCommState(h, &dcb));
    ASSERT_EQ(GetCommState(h, &back), TRUE);
    EXPECT_EQ(settings(back), settings(dcb)) << mode;
  }
  DCB bad[4] = {dcb, dcb, dcb, dcb};
  bad[0].BaudRate = 12345;
  bad[1].ByteSize = 9;
  bad[2].Parity = 5;
  bad[3].StopBits = ONE5STOPBITS;  // only with 5 data bits
  for (DCB& d : bad) EXPECT_EQ(SetCommState(h, &d), FALSE);
  ASSERT_EQ(GetCommState(h, &back), TRUE);
  EXPECT_EQ(settings(back), settings(dcb));
  EXPECT_EQ(CloseHandle(h), TRUE);
}

// A held line refuses a second open, under its own name or another bound to
// it, until it is closed; then it opens and works again. A far end that
// vanished fails reads, writes and ClearCommError (for which the driver
// reports CE_IOE), without pacing the failures; the handle still closes.
TYPED_TEST_P(SerialContract, HeldUntilClosedAndFailsOnceGone) {
  HANDLE h = this->Open();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  this->line_.Bind(8);
  for (const char* name : {"COM7", "COM8"}) {
    EXPECT_EQ(CreateFileA(name, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE)
        << name;
    ExpectPortFailure(TypeParam::kBusyWhy, std::string(name) + " -> ");
  }
  ASSERT_EQ(CloseHandle(h), TRUE);
  h = this->Open();
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  this->line_.Send({0x42});
  EXPECT_EQ(ReadBytes(h, 1), Bytes{0x42});

  this->line_.Vanish();
  const Micros start = Now();
  int reads = 0;
  std::uint8_t b = 0x20;
  DWORD count = 99;
  while (ReadFile(h, &b, 1, &count, nullptr) == TRUE && Now() - start < 3s) ++reads;
  EXPECT_LT(Now() - start, 3s) << "the vanished line was not noticed";
  EXPECT_EQ(count, 0u);
  EXPECT_TRUE(!TypeParam::kGoneAtOnce || reads == 0) << reads;
  EXPECT_TRUE(!TypeParam::kVirtual || Now() == start);
  ExpectPortFailure(TypeParam::kGoneWhy, "COM7 -> ");
  count = 99;
  EXPECT_EQ(WriteFile(h, &b, 1, &count, nullptr), FALSE);
  EXPECT_EQ(count, 0u);
  DWORD errors = 0;
  EXPECT_EQ(ClearCommError(h, &errors, nullptr), FALSE);
  EXPECT_EQ(CloseHandle(h), TRUE);
}

REGISTER_TYPED_TEST_SUITE_P(SerialContract, MovesRawBytesAndPurgesOnlyWhatIsAsked,
                            EmptyReadsKeepTheSchedule, LineSettingsReadBackAsApplied,
                            HeldUntilClosedAndFailsOnceGone);

}  // namespace vtr::test

// Serial ports on an in-process endpoint in virtual time (the contract of
// every kind of line, and the calls' own checks), port naming and resolution,
// and mode text parsing.
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <tuple>

#include <gtest/gtest.h>

#include "platform/clock.h"
#include "platform/serial_ports.h"
#include "platform/win32.h"
#include "tests/platform/serial_contract.h"
#include "tests/platform/temp_dir.h"

namespace vtr::test {
INSTANTIATE_TYPED_TEST_SUITE_P(InProcess, SerialContract, EndpointLine<true>, LineName);
}  // namespace vtr::test

namespace {

using vtr::platform::Micros;
using vtr::platform::Now;

using SerialVirtualTest = vtr::test::SerialContract<vtr::test::EndpointLine<true>>;

// Only the "return at once" time-outs are paced; other reads, and a read of
// no bytes, take no time. A handle that is no open port fails every call.
TEST_F(SerialVirtualTest, CallsCheckTheirTimeoutsAndHandles) {
  HANDLE stale = Open();
  const Micros start = Now();
  std::uint8_t b = 0;
  DWORD count = 1, errors = 5;
  EXPECT_EQ(ReadFile(stale, &b, 0, &count, nullptr), TRUE);
  for (COMMTIMEOUTS t : {COMMTIMEOUTS{0, 0, 0, 0, 0}, COMMTIMEOUTS{MAXDWORD, 1, 0, 0, 0},
                         COMMTIMEOUTS{MAXDWORD, 0, 1, 0, 0}}) {
    ASSERT_EQ(SetCommTimeouts(stale, &t), TRUE);
    EXPECT_EQ(ReadFile(stale, &b, 1, &count, nullptr), TRUE);
    EXPECT_EQ(count, 0u);
  }
  EXPECT_EQ(Now(), start);
  ASSERT_EQ(CloseHandle(stale), TRUE);
  int notAPort = 0;
  for (HANDLE h : {HANDLE{nullptr}, INVALID_HANDLE_VALUE, stale, HANDLE{&notAPort}}) {
    count = 99;
    EXPECT_EQ(ReadFile(h, &b, 1, &count, nullptr), FALSE);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(WriteFile(h, &b, 1, &count, nullptr), FALSE);
    EXPECT_EQ(PurgeComm(h, PURGE_RXCLEAR), FALSE);
    EXPECT_EQ(ClearCommError(h, &errors, nullptr), FALSE);
    COMMTIMEOUTS t{};
    EXPECT_EQ(SetCommTimeouts(h, &t), FALSE);
    DCB dcb{};
    EXPECT_EQ(GetCommState(h, &dcb), FALSE);
    EXPECT_EQ(CloseHandle(h), FALSE);
  }
}

TEST_F(SerialVirtualTest, PortNamesOutsideCom1To98FailToOpen) {
  auto opens = [](const char* name) {
    HANDLE h = CreateFileA(name, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    return h != INVALID_HANDLE_VALUE && h != nullptr && CloseHandle(h) == TRUE;
  };
  for (const char* name : {"\\\\.\\COM7", "COM7", "com7"}) EXPECT_TRUE(opens(name)) << name;
  for (int n : {1, 98, 12}) {
    line_.Bind(n);
    EXPECT_TRUE(opens(("\\\\.\\COM" + std::to_string(n)).c_str())) << n;
    vtr::platform::UnbindPort(n);
  }
  for (const char* name : {"\\\\.\\COM0", "\\\\.\\COM99", "COM100", "COM", "COM07", "COM7x", "LPT1",
                           "", "\\\\.\\", "/dev/ttyS0"}) {
    EXPECT_FALSE(opens(name)) << name;
  }
  vtr::test::ExpectPortFailure("'/dev/ttyS0' is not a port name (COM1 to COM98)");
  EXPECT_EQ(CreateFileA(nullptr, 0, 0, nullptr, OPEN_EXISTING, 0, nullptr), INVALID_HANDLE_VALUE);
}

TEST(SerialPortPathTest, ResolutionOrder) {
  vtr::test::TempDir dir;
  const std::string portsFile = dir.path() + "/ports";
  std::ofstream(portsFile) << "# adapters\n\n  COM12 = /dev/ttyUSB3  \nCOM3=/dev/pts/9\r\n"
                              "COM3=/dev/ignored\nbogus line\n";
  unsetenv("VTR422_COM12");
  unsetenv("VTR422_COM3");
  unsetenv("VTR422_PORTS");
  vtr::platform::UnbindPort(12);

  EXPECT_EQ(vtr::platform::ResolvePortPath(12), "/dev/ttyS11");
  EXPECT_EQ(vtr::platform::ResolvePortPath(1), "/dev/ttyS0");
  setenv("VTR422_PORTS", portsFile.c_str(), 1);
  EXPECT_EQ(vtr::platform::ResolvePortPath(12), "/dev/ttyUSB3");
  EXPECT_EQ(vtr::platform::ResolvePortPath(3), "/dev/pts/9");
  EXPECT_EQ(vtr::platform::ResolvePortPath(4), "/dev/ttyS3");
  setenv("VTR422_COM12", "/dev/ttyACM0", 1);
  EXPECT_EQ(vtr::platform::ResolvePortPath(12), "/dev/ttyACM0");
  vtr::platform::BindPortPath(12, "/tmp/bound");
  EXPECT_EQ(vtr::platform::ResolvePortPath(12), "/tmp/bound");
  vtr::platform::BindVirtualPort(12, std::make_shared<vtr::test::FakeLine>());
  EXPECT_EQ(vtr::platform::ResolvePortPath(12), "");
  vtr::platform::UnbindPort(12);
  EXPECT_EQ(vtr::platform::ResolvePortPath(12), "/dev/ttyACM0");
  EXPECT_EQ(vtr::platform::ResolvePortPath(0), "");
  EXPECT_EQ(vtr::platform::ResolvePortPath(99), "");
  unsetenv("VTR422_COM12");
  unsetenv("VTR422_PORTS");
}

TEST(BuildCommDcbTest, ParsesModeTextLikeWin32) {
  constexpr BYTE kKeep = 0xEE;  // marks a field the text must leave alone
  // Baud rate, parity, data bits, stop bits, XON/XOFF out, CTS flow.
  using Fields = std::tuple<DWORD, BYTE, BYTE, BYTE, DWORD, DWORD>;
  const struct {
    const char* text;
    Fields fields;
  } cases[] = {
      {"COM2:9600,n,8,1", {9600, NOPARITY, 8, ONESTOPBIT, 0, 0}},
      {"COM12: 38400,O,8,1", {38400, ODDPARITY, 8, ONESTOPBIT, 0, 0}},
      {"19200,e,7,2", {19200, EVENPARITY, 7, TWOSTOPBITS, 0, 0}},
      {"96,m,5,1.5", {9600, MARKPARITY, 5, ONE5STOPBITS, 0, 0}},
      {"115200,s,6,1,x", {115200, SPACEPARITY, 6, ONESTOPBIT, 1, 0}},
      {"57600,n,8,1,p", {57600, NOPARITY, 8, ONESTOPBIT, 0, 1}},
      {"19", {19200, kKeep, kKeep, kKeep, 0, 0}},
      {"110,n,8", {110, NOPARITY, 8, TWOSTOPBITS, 0, 0}},
      {"COM2: baud=1200 parity=E data=7 stop=2 octs=on", {1200, EVENPARITY, 7, TWOSTOPBITS, 0, 1}},
  };
  DCB before{};
  before.BaudRate = 4242;
  before.Parity = before.ByteSize = before.StopBits = kKeep;
  before.fOutX = before.fOutxCtsFlow = 1;
  for (const auto& c : cases) {
    DCB dcb = before;
    ASSERT_EQ(BuildCommDCBA(c.text, &dcb), TRUE) << c.text;
    EXPECT_EQ(Fields(dcb.BaudRate, dcb.Parity, dcb.ByteSize, dcb.StopBits, DWORD{dcb.fOutX},
                     DWORD{dcb.fOutxCtsFlow}),
              c.fields)
        << c.text;
  }
  for (const char* text : {"", "COM2:", "COM0:9600,n,8,1", "COM2 9600,n,8,1", "fast,n,8,1",
                           "0,n,8,1", "9600,q,8,1", "9600,n,9,1", "9600,n,8,3", "9600,n,8,1,z",
                           "9600,n,8,1,x,extra", "baud=9600 colour=blue", "baud=9600 parity"}) {
    DCB dcb = before;
    EXPECT_EQ(BuildCommDCBA(text, &dcb), FALSE) << text;
    EXPECT_EQ(dcb.BaudRate, 4242u) << text;
  }
  DCB dcb{};
  EXPECT_EQ(BuildCommDCBA(nullptr, &dcb), FALSE);
  EXPECT_EQ(BuildCommDCBA("9600,n,8,1", nullptr), FALSE);
}

}  // namespace

// A loaded driver, in virtual time, with a virtual deck on COM2 and a
// private profile directory.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "platform/serial_ports.h"
#include "record/device.h"
#include "record/parms.h"
#include "sim/deck.h"
#include "tests/platform/temp_dir.h"
#include "tests/support/recording_host.h"

namespace vtr::test {

// A temporary directory set as the profile directory for the test's life.
class TempProfileDir {
 public:
  TempProfileDir();
  ~TempProfileDir();
  const std::filesystem::path& Path() const { return path_; }
  std::filesystem::path IniPath() const { return path_ / "VTR.INI"; }
  std::string ReadIni() const;
  void WriteIni(const std::string& text) const;

 private:
  TempDir dir_;
  std::filesystem::path path_;
};

// The MCI open block as winmm lays it out: callback, device ID (32 bits), then
// the device name's address without padding; element and alias are null.
struct OpenBlock {
  explicit OpenBlock(const char16_t* name, UINT deviceId = 1);
  unsigned char bytes[64] = {};
};

// Messages to the loaded driver, the way the multimedia library sends them.
class DriverFixture : public ::testing::Test {
 protected:
  static constexpr int kComPort = 2;

  void SetUp() override;
  void TearDown() override;

  // Builds the deck (before OpenDevice); the default is a BVW-75 on NTSC.
  virtual vtr::sim::DeckConfig DeckSetup();
  // "VTR.INI" as the test starts; the default names the model, so opens skip detection.
  virtual std::string InitialProfile() { return "[videotape]\nVTRID=19\n"; }
  // Opens the device and forgets the traffic and notifications of the open.
  void OpenQuietly(DWORD flags = 0, UINT deviceId = 1);

  // DRV_OPEN for the parameter string (and the text Wine passes as lParam1);
  // returns the driver id (0 = failure).
  DWORD DriverOpen(const char16_t* params, UINT deviceId, UINT_PTR hDriver,
                   const char16_t* lParam1 = nullptr);
  // DRV_OPEN of "videotape" and MCI_OPEN_DRIVER; returns the open's result.
  DWORD OpenDevice(DWORD flags = 0, UINT deviceId = 1);
  DWORD CloseDevice(DWORD flags = 0, UINT deviceId = 1);
  // An MCI message with a parameter block.
  DWORD Send(UINT msg, DWORD flags, void* parms, UINT deviceId = 1);
  DeviceRecord* Record(UINT deviceId = 1) const { return GetDevState(deviceId); }
  // Lets virtual time pass with the poll timer running.
  void Run(int milliseconds);
  // Runs poll period by poll period until `done` or `limitMs`; returns the ms spent.
  int RunUntil(const std::function<bool()>& done, int limitMs);
  // Names of the blocks sent to the deck since the last ClearTrace.
  std::vector<std::string> SentNames() const;
  int Count(const std::string& name) const {
    return static_cast<int>(std::ranges::count(SentNames(), name));
  }
  // The blocks sent, without the sense queries of the waits and the poll; with
  // `bytes`, each as "NAME 20 01" (without its checksum).
  std::vector<std::string> Commands(bool bytes = false) const;
  // The codes of the notifications so far.
  std::vector<UINT> Statuses() const;

  TempProfileDir profile_;
  RecordingHost host_;
  std::shared_ptr<vtr::sim::Deck> deck_;
};

// Two devices: 1 as above, 2 ("videotape1") on a second BVW-75 on COM3.
class TwoDeckFixture : public DriverFixture {
 protected:
  std::string InitialProfile() override {
    return "[videotape]\nVTRID=19\n[videotape1]\nVTRID=19\nComPort=3\n";
  }
  void SetUp() override {
    DriverFixture::SetUp();
    vtr::platform::BindVirtualPort(3, second_);
  }
  void TearDown() override {
    DriverFixture::TearDown();
    vtr::platform::UnbindPort(3);
  }
  void OpenBoth() {
    ASSERT_EQ(OpenDevice(), 0u);
    ASSERT_EQ(DriverOpen(u"videotape1", 2, 202), 2u);
    ASSERT_EQ(OpenDevice(0, 2), 0u);
  }

  std::shared_ptr<vtr::sim::Deck> second_ =
      std::make_shared<vtr::sim::Deck>(vtr::sim::DeckConfig::For("BVW-75"));
};

}  // namespace vtr::test

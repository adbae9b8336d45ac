#include "tests/support/driver_fixture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>

#include "platform/clock.h"
#include "platform/mci_host.h"
#include "platform/serial_ports.h"

namespace vtr::test {

TempProfileDir::TempProfileDir() : path_(dir_.path()) {
  setenv("VTR422_PROFILE_DIR", dir_.path().c_str(), 1);
}

TempProfileDir::~TempProfileDir() { unsetenv("VTR422_PROFILE_DIR"); }

std::string TempProfileDir::ReadIni() const { return ReadAll(IniPath().string()); }

void TempProfileDir::WriteIni(const std::string& text) const {
  std::ofstream(IniPath(), std::ios::binary) << text;
}

OpenBlock::OpenBlock(const char16_t* name, UINT deviceId) {
  std::memcpy(bytes + sizeof(DWORD_PTR), &deviceId, 4);
  std::memcpy(bytes + sizeof(DWORD_PTR) + 4, &name, sizeof(name));
}

vtr::sim::DeckConfig DriverFixture::DeckSetup() { return vtr::sim::DeckConfig::For("BVW-75"); }

void DriverFixture::SetUp() {
  vtr::platform::UseVirtualClock(vtr::platform::Micros{0}, 1000);
  profile_.WriteIni(InitialProfile());
  deck_ = std::make_shared<vtr::sim::Deck>(DeckSetup());
  vtr::platform::BindVirtualPort(kComPort, deck_);
  DllInstanceInit(vtr::platform::DriverModule(), 1, nullptr);
  DriverProc(0, nullptr, DRV_LOAD, 0, 0);
  DriverProc(0, nullptr, DRV_ENABLE, 0, 0);
}

void DriverFixture::TearDown() {
  for (int i = 0; i < kDeviceSlots; ++i) {
    DeviceRecord* rec = LoadSlotRecord(i);
    if (rec == nullptr) continue;
    VTR_GENERIC_PARMS p{0};
    while (rec->nOpenCount > 0)
      DriverProc(rec->wDeviceID, nullptr, MCI_CLOSE_DRIVER, 0, reinterpret_cast<LPARAM>(&p));
    DriverProc(0, reinterpret_cast<HDRVR>(static_cast<UINT_PTR>(rec->hDriver)), DRV_CLOSE, 0, 0);
  }
  DriverProc(0, nullptr, DRV_FREE, 0, 0);
  DllInstanceInit(vtr::platform::DriverModule(), 0, nullptr);
  vtr::platform::UnbindPort(kComPort);
  deck_.reset();
  vtr::platform::UseRealClock();
}

DWORD DriverFixture::DriverOpen(const char16_t* params, UINT deviceId, UINT_PTR hDriver,
                                const char16_t* lParam1) {
  MCI_OPEN_DRIVER_PARMS op{deviceId, params, 0, 0};
  return static_cast<DWORD>(DriverProc(0, reinterpret_cast<HDRVR>(hDriver), DRV_OPEN,
                                       reinterpret_cast<LPARAM>(lParam1),
                                       reinterpret_cast<LPARAM>(&op)));
}

DWORD DriverFixture::OpenDevice(DWORD flags, UINT deviceId) {
  if (Record(deviceId) == nullptr) DriverOpen(u"videotape", deviceId, 100 + deviceId);
  VTR_GENERIC_PARMS p{0};
  return Send(MCI_OPEN_DRIVER, flags, &p, deviceId);
}

void DriverFixture::OpenQuietly(DWORD flags, UINT deviceId) {
  ASSERT_EQ(OpenDevice(flags, deviceId), 0u);
  deck_->ClearTrace();
  host_.ClearNotifications();
}

DWORD DriverFixture::CloseDevice(DWORD flags, UINT deviceId) {
  VTR_GENERIC_PARMS p{0};
  return Send(MCI_CLOSE_DRIVER, flags, &p, deviceId);
}

DWORD DriverFixture::Send(UINT msg, DWORD flags, void* parms, UINT deviceId) {
  return static_cast<DWORD>(DriverProc(deviceId, nullptr, msg, static_cast<LPARAM>(flags),
                                       reinterpret_cast<LPARAM>(parms)));
}

void DriverFixture::Run(int milliseconds) {
  vtr::platform::Advance(vtr::platform::Micros{static_cast<std::int64_t>(milliseconds) * 1000});
}

int DriverFixture::RunUntil(const std::function<bool()>& done, int limitMs) {
  int spent = 0;
  for (; !done() && spent < limitMs; spent += 133) Run(133);
  return spent;
}

std::vector<std::string> DriverFixture::Commands(bool bytes) const {
  std::vector<std::string> out;
  for (const auto& e : deck_->Trace()) {
    if (e.direction != vtr::sim::Direction::kToDeck || e.name == "CURTCSENSE_422" ||
        e.name == "STATSENSE_422" || e.name == "TMODESENSE_422") {
      continue;
    }
    std::string line = e.name;
    for (std::size_t i = 0; bytes && i + 1 < e.bytes.size(); ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, " %02X", e.bytes[i]);
      line += hex;
    }
    out.push_back(line);
  }
  return out;
}

std::vector<UINT> DriverFixture::Statuses() const {
  std::vector<UINT> codes;
  for (const auto& n : host_.Notifications()) codes.push_back(n.status);
  return codes;
}

std::vector<std::string> DriverFixture::SentNames() const {
  std::vector<std::string> names;
  for (const auto& e : deck_->Trace()) {
    if (e.direction == vtr::sim::Direction::kToDeck) names.push_back(e.name);
  }
  return names;
}

}  // namespace vtr::test

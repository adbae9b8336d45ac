#include "tests/host/fake_driver.h"

#include <cstring>

#include "platform/mci_host.h"
#include "vtr_resource/vcr_resources.h"

namespace vtr::mci::testing {
namespace {
FakeDriver* gFake = nullptr;
int gModuleTag;

void RegisterResources() {
  platform::AddModuleResource("VCR", std::span<const std::uint8_t>(resource::kVcrCommandTable));
  for (const auto& s : resource::kVcrStrings) platform::AddModuleString(s.id, s.text);
}
}  // namespace

FakeDriver::FakeDriver() { gFake = this; }
FakeDriver::~FakeDriver() { gFake = nullptr; }

DriverModuleEntry FakeDriver::Entry() const {
  return DriverModuleEntry{&FakeDriver::Init, &FakeDriver::Proc, &RegisterResources,
                           reinterpret_cast<HINSTANCE>(&gModuleTag)};
}

BOOL FakeDriver::Init(HINSTANCE, DWORD reason, LPVOID) {
  if (gFake == nullptr) return FALSE;
  (reason == 1 ? gFake->instanceInits : gFake->instanceExits)++;
  return TRUE;
}

LRESULT FakeDriver::Proc(DWORD_PTR id, HDRVR, UINT msg, LPARAM p1, LPARAM p2) {
  FakeDriver* f = gFake;
  if (f == nullptr) return 0;
  DriverCall call{id, msg, p1, {}, {}};
  LRESULT result = 0;
  switch (msg) {
    case DRV_LOAD:
      if (!f->failLoad)
        f->loadedTable =
            mciLoadCommandResource(reinterpret_cast<HINSTANCE>(&gModuleTag), u"vcr", 0);
      result = !f->failLoad && f->loadedTable != MCI_NO_COMMAND_TABLE;
      break;
    case DRV_FREE:
      mciFreeCommandResource(f->loadedTable);
      result = 1;
      break;
    case DRV_OPEN:
      if (p2 == 0) {
        result = 10000;
      } else if (f->failOpen) {
        result = 0;
      } else {
        auto* parms = reinterpret_cast<MCI_OPEN_DRIVER_PARMS*>(p2);
        parms->wCustomCommandTable = f->loadedTable;
        parms->wType = MCI_DEVTYPE_VCR;
        if (parms->lpstrParams != nullptr) call.params = parms->lpstrParams;
        mciSetDriverData(parms->wDeviceID, 7);
        result = static_cast<LRESULT>(parms->wDeviceID);
      }
      break;
    case DRV_ENABLE:
    case DRV_DISABLE:
    case DRV_CLOSE:
      result = 1;
      break;
    default: {
      auto* bytes = reinterpret_cast<std::uint8_t*>(p2);
      if (bytes != nullptr) call.block.assign(bytes, bytes + 128);
      if (f->onCommand) result = f->onCommand(call, bytes);
      break;
    }
  }
  f->calls_.push_back(std::move(call));
  return result;
}

std::vector<UINT> FakeDriver::Messages() const {
  std::vector<UINT> out;
  for (const auto& c : calls_) out.push_back(c.message);
  return out;
}

}  // namespace vtr::mci::testing

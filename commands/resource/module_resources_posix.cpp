// The driver module's resources on POSIX (the Windows build compiles them
// into the DLL's resource section instead).
#include <mutex>
#include <span>

#include "commands/resource/module_resources.h"
#include "platform/mci_host.h"
#include "vtr_resource/vcr_resources.h"

namespace vtr::resource {

void RegisterModuleResources() {
  static std::once_flag once;
  std::call_once(once, [] {
    platform::AddModuleResource("VCR", std::span<const std::uint8_t>(kVcrCommandTable));
    for (const ResourceString& s : kVcrStrings) platform::AddModuleString(s.id, s.text);
  });
}

namespace {
// The resource section exists as soon as the module is loaded.
const bool gRegistered = (RegisterModuleResources(), true);
}  // namespace

}  // namespace vtr::resource

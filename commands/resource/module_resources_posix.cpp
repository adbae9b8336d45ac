// The driver module's resources on POSIX (the Windows build compiles them
// into the DLL's resource section instead).
#include <cstdio>
#include <mutex>
#include <span>

#include "commands/resource/module_resources.h"
#include "platform/dialogs.h"
#include "platform/mci_host.h"
#include "vtr_resource/dialog_script.h"
#include "vtr_resource/vcr_resources.h"

namespace vtr::resource {

void RegisterModuleResources() {
  static std::once_flag once;
  std::call_once(once, [] {
    platform::AddModuleResource("VCR", std::span<const std::uint8_t>(kVcrCommandTable));
    for (const ResourceString& s : kVcrStrings) platform::AddModuleString(s.id, s.text);
    std::vector<platform::DialogTemplate> dialogs;
    std::string error;
    if (!platform::ParseDialogScript(kDialogScript, kDialogIds, dialogs, error)) {
      // The build's own script: a failure here is a bug the dialog tests catch.
      std::fprintf(stderr, "vtr422: dialog templates: %s\n", error.c_str());
    }
    for (auto& d : dialogs) platform::AddModuleDialog(std::move(d));
  });
}

namespace {
// The resource section exists as soon as the module is loaded.
const bool gRegistered = (RegisterModuleResources(), true);
}  // namespace

}  // namespace vtr::resource

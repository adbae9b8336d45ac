// The host's binding to the real driver module of vtr_core.
#include "commands/resource/module_resources.h"
#include "driver/driver.h"
#include "host/mci_library.h"
#include "platform/mci_host.h"

namespace vtr::host {

DriverModuleEntry RealDriver() {
  return DriverModuleEntry{&DllInstanceInit, &DriverProc, &resource::RegisterModuleResources,
                           platform::DriverModule()};
}

}  // namespace vtr::host

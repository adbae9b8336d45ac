#include "host/driver_binding.h"

#include "commands/resource/module_resources.h"
#include "driver/driver.h"
#include "platform/mci_host.h"

namespace vtr::host {

mci::DriverModuleEntry RealDriver() {
  return mci::DriverModuleEntry{&DllInstanceInit, &DriverProc, &resource::RegisterModuleResources,
                                platform::DriverModule()};
}

}  // namespace vtr::host

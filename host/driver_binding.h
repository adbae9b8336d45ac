// The MCI library's binding to the real driver module of vtr_core.
#pragma once

#include "mci/mci_library.h"

namespace vtr::host {

// DllInstanceInit, DriverProc, the module's resources and its handle.
mci::DriverModuleEntry RealDriver();

}  // namespace vtr::host

// The driver module's resources on POSIX: the "VCR" command table and the
// string table, registered with the platform's module resource registry.
#pragma once

namespace vtr::resource {

// Registers the resources (idempotent). They are also registered during static
// initialisation; loaders call this so that the registration is linked in even
// when the module is taken from a static archive.
void RegisterModuleResources();

}  // namespace vtr::resource

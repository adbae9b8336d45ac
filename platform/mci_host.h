// The MCI services the driver calls (mciDriverNotify, mciDriverYield,
// mciLoadCommandResource, ...) go to whichever host loaded the driver: the
// POSIX host of host/, or a test host. This is the interface it implements,
// and the module's resource section that mciLoadCommandResource reads.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/win32.h"

namespace vtr::platform {

class MciHost {
 public:
  virtual ~MciHost() = default;
  virtual BOOL DriverNotify(HANDLE callback, UINT deviceId, UINT status) = 0;
  virtual UINT DriverYield(UINT deviceId) = 0;
  virtual UINT LoadCommandResource(HINSTANCE module, LPCWSTR name, UINT type) = 0;
  virtual BOOL FreeCommandResource(UINT table) = 0;
  virtual BOOL SetDriverData(UINT deviceId, DWORD_PTR data) = 0;
};

// Installs the host the MCI services call; nullptr for none (then notify and
// set-data fail, yield answers 0, loading a table answers MCI_NO_COMMAND_TABLE).
void SetMciHost(MciHost* host);
MciHost* GetMciHost();

// The driver module's resources, standing in for a Windows module's resource
// section. Names compare without regard to case.
void AddModuleResource(std::string_view name, std::span<const std::uint8_t> bytes);
std::optional<std::span<const std::uint8_t>> FindModuleResource(std::string_view name);
void AddModuleString(UINT id, std::string_view text);
std::optional<std::string> LoadModuleString(UINT id);
// The handle the driver module is known by (what the host passes to DllInstanceInit).
HINSTANCE DriverModule();

// UTF-16 <-> UTF-8 for hosts and tests.
std::u16string Widen(std::string_view utf8);
std::string Narrow(std::u16string_view utf16);

}  // namespace vtr::platform

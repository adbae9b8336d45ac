// Texts the library itself supplies: error messages for every MCIERR_* code,
// the standard mode words, and the formatting of a command's return value.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "mci/command_table.h"
#include "mci/parser.h"
#include "platform/win32.h"

namespace vtr::mci {

// The library's text for an MCI error code (low 16 bits of `error`);
// "Unknown MCI error N." when none.
std::string ErrorText(DWORD error);

// "successful", "superseded", "aborted", "failure"; "unknown" for another code.
std::string_view NotifyCodeName(UINT code);

// "not ready" .. "open" for MCI_MODE_NOT_READY .. MCI_MODE_OPEN.
std::optional<std::string_view> ModeWord(UINT id);

// Resolves a driver string resource id.
using StringLookup = std::function<std::optional<std::string>(UINT id)>;

// The return string of a successful command: the integer slot as a number,
// a resource word (MCI_RESOURCE_RETURNED), colonised fields, or the text of a
// string return. Empty when the command returns nothing.
std::string FormatReturn(const CommandDef& command, DWORD result, const ParamBlock& block,
                         const StringLookup& driverStrings);

// MCI_RESOURCE_DRIVER: the resource id is the driver's even when it is a mode.
inline constexpr DWORD kMciResourceDriver = 0x00100000u;

}  // namespace vtr::mci

#include "mci/mci_text.h"

#include <array>
#include <cstdio>
#include <utility>

#include "platform/mci_host.h"

namespace vtr::mci {
namespace {

constexpr std::array<std::pair<unsigned, const char*>, 53> kErrors{{
    {MCIERR_INVALID_DEVICE_ID,
     "Invalid MCI device ID. Use the ID returned when opening the MCI device."},
    {MCIERR_UNRECOGNIZED_KEYWORD, "The driver cannot recognize the specified command parameter."},
    {MCIERR_UNRECOGNIZED_COMMAND, "The specified command is not recognized by the MCI device."},
    {MCIERR_HARDWARE,
     "There is a problem with your media device. Make sure it is working correctly or contact "
     "the device manufacturer."},
    {MCIERR_INVALID_DEVICE_NAME, "The specified device is not open or is not recognized by MCI."},
    {MCIERR_OUT_OF_MEMORY,
     "Not enough memory available for this task. Quit one or more applications to increase "
     "available memory, and then try again."},
    {MCIERR_DEVICE_OPEN,
     "The device name is already being used as an alias by this application. Use a unique "
     "alias."},
    {MCIERR_CANNOT_LOAD_DRIVER,
     "There is an undetectable problem in loading the specified device driver."},
    {MCIERR_MISSING_COMMAND_STRING, "No command was specified."},
    {MCIERR_PARAM_OVERFLOW,
     "The output string was too large to fit in the return buffer. Increase the size of the "
     "buffer."},
    {MCIERR_MISSING_STRING_ARGUMENT,
     "The specified command requires a character-string parameter. Please provide one."},
    {MCIERR_BAD_INTEGER, "The specified integer is invalid for this command."},
    {MCIERR_PARSER_INTERNAL,
     "The device driver returned an invalid return type. Check with the device manufacturer "
     "about obtaining a new driver."},
    {MCIERR_DRIVER_INTERNAL,
     "There is a problem with the device driver. Check with the device manufacturer about "
     "obtaining a new driver."},
    {MCIERR_MISSING_PARAMETER, "The specified command requires a parameter. Please supply one."},
    {MCIERR_UNSUPPORTED_FUNCTION,
     "The MCI device you are using does not support the specified command."},
    {MCIERR_FILE_NOT_FOUND,
     "Cannot find the specified file. Make sure the path and filename are correct."},
    {MCIERR_DEVICE_NOT_READY, "The device driver is not ready."},
    {MCIERR_INTERNAL, "A problem occurred in initializing MCI. Try restarting Windows."},
    {MCIERR_DRIVER,
     "There is a problem with the device driver. The driver has closed. Cannot access error."},
    {MCIERR_CANNOT_USE_ALL, "Cannot use 'all' as the device name with the specified command."},
    {MCIERR_MULTIPLE,
     "Errors occurred in more than one device. Specify each command and device separately to "
     "determine which devices caused the error."},
    {MCIERR_EXTENSION_NOT_FOUND,
     "Cannot determine the device type from the given filename extension."},
    {MCIERR_OUTOFRANGE, "The specified parameter is out of range for the specified command."},
    {MCIERR_FLAGS_NOT_COMPATIBLE, "The specified parameters cannot be used together."},
    {MCIERR_FILE_NOT_SAVED,
     "Cannot save the specified file. Make sure you have enough disk space or are still "
     "connected to the network."},
    {MCIERR_DEVICE_TYPE_REQUIRED,
     "Cannot find the specified device. Make sure it is installed or that the device name is "
     "spelled correctly."},
    {MCIERR_DEVICE_LOCKED,
     "The specified device is now being closed. Wait a few seconds, and then try again."},
    {MCIERR_DUPLICATE_ALIAS,
     "The specified alias is already being used in this application. Use a unique alias."},
    {MCIERR_BAD_CONSTANT, "The specified parameter is invalid for this command."},
    {MCIERR_MUST_USE_SHAREABLE,
     "The device driver is already in use. To share it, use the 'shareable' parameter with "
     "each 'open' command."},
    {MCIERR_MISSING_DEVICE_NAME,
     "The specified command requires an alias, file, driver, or device name. Please supply "
     "one."},
    {MCIERR_BAD_TIME_FORMAT,
     "The specified value for the time format is invalid. Refer to the MCI documentation for "
     "valid formats."},
    {MCIERR_NO_CLOSING_QUOTE,
     "A closing double-quotation mark is missing from the parameter value. Please supply one."},
    {MCIERR_DUPLICATE_FLAGS, "A parameter or value was specified twice. Only specify it once."},
    {MCIERR_INVALID_FILE,
     "The specified file cannot be played on the specified MCI device. The file may be "
     "corrupt, or not in the correct format."},
    {MCIERR_NULL_PARAMETER_BLOCK, "A null parameter block was passed to MCI."},
    {MCIERR_UNNAMED_RESOURCE, "Cannot save an unnamed file. Supply a filename."},
    {MCIERR_NEW_REQUIRES_ALIAS, "You must specify an alias when using the 'new' parameter."},
    {MCIERR_NOTIFY_ON_AUTO_OPEN, "Cannot use the 'notify' flag with auto-opened devices."},
    {MCIERR_NO_ELEMENT_ALLOWED, "Cannot use a filename with the specified device."},
    {MCIERR_NONAPPLICABLE_FUNCTION,
     "Cannot carry out the commands in the order specified. Correct the command sequence, and "
     "then try again."},
    {MCIERR_ILLEGAL_FOR_AUTO_OPEN,
     "Cannot carry out the specified command on an auto-opened device. Wait until the device "
     "is closed, and then try again."},
    {MCIERR_FILENAME_REQUIRED,
     "The filename is invalid. Make sure the filename is not longer than 8 characters, "
     "followed by a period and an extension."},
    {MCIERR_EXTRA_CHARACTERS,
     "Cannot specify extra characters after a string enclosed in quotation marks."},
    {MCIERR_DEVICE_NOT_INSTALLED,
     "The specified device is not installed on the system. Use the Drivers option in Control "
     "Panel to install the device."},
    {MCIERR_GET_CD,
     "Cannot access the specified file or MCI device. Try changing directories or restarting "
     "your computer."},
    {MCIERR_SET_CD,
     "Cannot access the specified file or MCI device because the application cannot change "
     "directories."},
    {MCIERR_SET_DRIVE,
     "Cannot access specified file or MCI device because the application cannot change "
     "drives."},
    {MCIERR_DEVICE_LENGTH, "Specify a device or driver name that is less than 79 characters."},
    {MCIERR_DEVICE_ORD_LENGTH, "Specify a device or driver name that is less than 69 characters."},
    {MCIERR_NO_INTEGER, "The specified command requires an integer parameter. Please provide one."},
    {0, "The specified command was carried out."},
}};

constexpr std::array<const char*, 7> kModes{"not ready", "stopped", "playing", "recording",
                                            "seeking",   "paused",  "open"};

}  // namespace

std::string ErrorText(DWORD error) {
  unsigned code = error & 0xFFFFu;
  for (const auto& [c, text] : kErrors) {
    if (c == code) return text;
  }
  return "Unknown MCI error " + std::to_string(code) + ".";
}

std::optional<std::string_view> ModeWord(UINT id) {
  if (id < MCI_MODE_NOT_READY || id > MCI_MODE_OPEN) return std::nullopt;
  return kModes[id - MCI_MODE_NOT_READY];
}

std::string FormatReturn(const CommandDef& command, DWORD result, const ParamBlock& block,
                         const StringLookup& driverStrings) {
  if (command.returns == ReturnKind::kString) return platform::Narrow(block.ReturnText());
  if (command.returns != ReturnKind::kInteger) return {};
  DWORD value = block.Word(command.returnSlot);
  DWORD kind = result & 0xFFFF0000u;
  char text[48];
  auto byte = [value](unsigned n) { return static_cast<unsigned>((value >> (8 * n)) & 0xFFu); };
  if (kind & MCI_RESOURCE_RETURNED) {
    auto id = static_cast<UINT>(value & 0xFFFFu);
    if (!(kind & kMciResourceDriver)) {
      if (auto mode = ModeWord(id)) return std::string(*mode);
    }
    if (driverStrings) {
      if (auto s = driverStrings(id)) return *s;
    }
    return std::to_string(id);
  }
  if (kind == MCI_COLONIZED3_RETURN) {
    std::snprintf(text, sizeof text, "%02u:%02u:%02u", byte(0), byte(1), byte(2));
    return text;
  }
  if (kind == MCI_COLONIZED4_RETURN) {
    std::snprintf(text, sizeof text, "%02u:%02u:%02u:%02u", byte(0), byte(1), byte(2), byte(3));
    return text;
  }
  return std::to_string(static_cast<std::int32_t>(value));
}

std::string_view NotifyCodeName(UINT code) {
  switch (code) {
    case MCI_NOTIFY_SUCCESSFUL:
      return "successful";
    case MCI_NOTIFY_SUPERSEDED:
      return "superseded";
    case MCI_NOTIFY_ABORTED:
      return "aborted";
    case MCI_NOTIFY_FAILURE:
      return "failure";
    default:
      return "unknown";
  }
}

}  // namespace vtr::mci

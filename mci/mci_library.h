// The multimedia library stand-in: the [mci] device registry, the driver's
// life cycle (module load, DRV_* messages, MCI_OPEN_DRIVER/MCI_CLOSE_DRIVER),
// the string interface (parse with the device's command table, send, format
// the return), the core commands the library answers itself (open, close,
// sysinfo, break), and the MCI services the driver calls back.
#pragma once

#include <atomic>
#include <compare>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mci/command_table.h"
#include "mci/parser.h"
#include "platform/mci_host.h"
#include "platform/win32.h"

namespace vtr::mci {

// The driver module's entry points: the only way the library reaches a
// driver. Programs pass the real driver's, tests a fake.
struct DriverModuleEntry {
  BOOL (*instanceInit)(HINSTANCE, DWORD, LPVOID) = nullptr;
  LRESULT (*driverProc)(DWORD_PTR, HDRVR, UINT, LPARAM, LPARAM) = nullptr;
  void (*registerResources)() = nullptr;  // maps the module's resource section
  HINSTANCE module = nullptr;
};

// Installed MCI devices: name ("vcr", "vcr1" ...) -> parameter string, in
// installation order, like the [mci] section of the system profile.
class DeviceRegistry {
 public:
  // "vcr" -> "videotape", "vcr1".."vcr99" -> "videotape1".."videotape99".
  static DeviceRegistry Default();
  void Set(std::string_view name, std::string_view params);
  void Remove(std::string_view name);
  std::optional<std::string> Params(std::string_view name) const;
  const std::vector<std::pair<std::string, std::string>>& Entries() const { return entries_; }
  // The device type of an installed name: its letters without trailing digits.
  static std::string TypeOf(std::string_view name);

 private:
  std::vector<std::pair<std::string, std::string>> entries_;
};

// Opaque handle of a notification receiver, what the parameter block's
// callback slot carries.
struct CallbackHandle {
  DWORD_PTR value = 0;
  explicit operator bool() const { return value != 0; }
  auto operator<=>(const CallbackHandle&) const = default;
};

struct Notification {
  UINT code = 0;      // MCI_NOTIFY_SUCCESSFUL, _SUPERSEDED, _ABORTED, _FAILURE
  UINT deviceId = 0;  // as the driver names it
};
using NotifyFn = std::function<void(const Notification&)>;

// `detail` of a result: why the device's port failed during a command the
// driver failed ("COM9 -> /dev/ttyUSB9: no such device", "COM5 ->
// tcp://deckroom:2001: connection lost"), as the platform's TakePortFailure
// tells it on the thread that sent the command, right after the driver
// returned; empty when the command succeeded, failed for another reason
// (the deck refused or did not answer, a bad argument), or was refused by
// the library. It explains the error code and never replaces it.
struct CommandResult {
  DWORD error = 0;       // MCI error code (low 16 bits of the driver's result)
  std::string text;      // the return string, when the command returns one
  UINT deviceId = 0;     // the MCI device addressed, 0 when none
  std::string detail{};  // why the port failed; see above (the braces: short
                         // initialisations of the other fields stay warning-free)
  bool ok() const { return error == 0; }
};

// What the raw message path answers.
struct MessageResult {
  DWORD error = 0;   // MCI error code: low 16 bits of the driver's result, or the library's refusal
  DWORD result = 0;  // the driver's whole result (the high word types an integer return)
  std::vector<DWORD_PTR> words;  // the parameter block after the call, one value per slot
  std::string text;              // the return as "status" would print it; empty when none
  std::string detail{};          // why the port failed, as CommandResult's
  bool ok() const { return error == 0; }
};

// What SendString makes of a command string, found without sending it: the
// same parser with the same command table.
struct ParsedCommand {
  DWORD error = 0;         // what SendString answers for a string that does not parse; else 0
  DWORD flags = 0;         // the flags word the command goes with (MCI_NOTIFY, MCI_WAIT, ...)
  UINT message = 0;        // MCI_OPEN, MCI_CLOSE, MCI_SYSINFO, MCI_BREAK for the library's own
  UINT deviceId = 0;       // the open device addressed; 0 for open, sysinfo and "all"
  std::string rejected{};  // the word parsing stopped at, when one is to blame
};

class MciLibrary final : public platform::MciHost {
 public:
  explicit MciLibrary(DriverModuleEntry driver,
                      DeviceRegistry registry = DeviceRegistry::Default());
  ~MciLibrary() override;  // closes every device; stops serving the driver
  MciLibrary(const MciLibrary&) = delete;
  MciLibrary& operator=(const MciLibrary&) = delete;

  CallbackHandle RegisterCallback(NotifyFn fn);
  void UnregisterCallback(CallbackHandle handle);

  // mciSendString: thread-safe; commands for one device may come from
  // several threads (the driver serialises them).
  //
  // `addFlags` join the flags of a command the driver handles (not open,
  // close, sysinfo or break): a host that watches a waiting command's own
  // notification adds MCI_NOTIFY with its callback.
  CommandResult SendString(std::string_view command, CallbackHandle callback = {},
                           DWORD addFlags = 0);

  // What SendString would answer for a string that does not parse, and the
  // flags of one that does, without sending anything. Open and sysinfo are
  // parsed only (the names they give are checked when they are sent).
  ParsedCommand Parse(std::string_view command) const;

  // The command table commands for `name` are parsed with: an open alias's
  // device table; else the table of the driver an installed name ("vcr")
  // leads to, the module loaded for the while when no device holds it; null
  // when `name` is neither or its driver has no table.
  std::shared_ptr<const CommandTable> DeviceTable(std::string_view name);
  // The library's own commands: open, close, sysinfo, break.
  const CommandTable& CoreTable() const { return *core_; }

  // mciSendCommand: sends `message` with `flags` and a parameter block built
  // from `words` to the open device `deviceId`, and answers the result and the
  // block as the driver left it. Thread-safe like SendString.
  //
  // One value per slot, in the order BlockLayout gives for the message's
  // entry in the device's command table: the callback (0, or a handle from
  // RegisterCallback), the return slot (a text return: buffer, then its size
  // in characters), then the items in table order. Callback and text slots
  // are pointer-sized, every other slot 32 bits, no padding. Values past the
  // table's slots, and every value after the callback for a message the table
  // lacks (edit point status 0x0C84, stripe 0x0C85, calibrate 0x0C86), are
  // 32-bit words. Missing values are 0. A text return whose buffer slot is 0
  // gets the library's own buffer. Other pointer slots reach the driver as
  // given: 0, or an address valid for the call.
  //
  // `words` of the answer: the block read back by the same layout, as many
  // values as were given and at least one per slot the table defines.
  // Refused before anything is sent: MCIERR_INVALID_DEVICE_ID (no such open
  // device); MCIERR_UNRECOGNIZED_COMMAND (a message outside 0x0800..0x0FFF, or
  // an open, which only the library sends); MCIERR_PARAM_OVERFLOW (more
  // values than the block holds); MCIERR_OUTOFRANGE (a value above 32 bits in
  // a 32-bit slot). MCI_CLOSE closes the device as "close" does.
  //
  // `nullBlock`: the message goes with no parameter block at all (a null
  // address), as mciSendCommand(id, msg, flags, 0) sends it; `words` must
  // then be empty, and the answer has none.
  MessageResult SendCommand(UINT deviceId, UINT message, DWORD flags,
                            std::span<const DWORD_PTR> words, bool nullBlock = false);

  // The break key was pressed while commands for `deviceId` may be waiting:
  // the driver's yields answer nonzero until those commands return.
  // Returns whether a command of the device was running with its key on.
  bool RequestBreak(UINT deviceId);
  // Devices whose break key is on (the default; "break x off" turns it off).
  std::vector<UINT> BreakableDevices() const;

  // DRV_CONFIGURE over `parent` for an open device's alias or an installed
  // name ("vcr", "vcr3"), as the control panel sends it: the configuration
  // block names the installed device. Loads the module for the while when no
  // device holds it. 0, or an MCI error for an unknown name.
  DWORD Configure(std::string_view name, HWND parent);

  std::optional<UINT> DeviceIdOf(std::string_view alias) const;
  std::optional<std::string> AliasOf(UINT deviceId) const;
  std::vector<std::string> OpenAliases() const;
  // Words for completion: verbs and keywords of the core and loaded tables.
  std::vector<std::string> Vocabulary() const;
  std::optional<DWORD_PTR> DriverData(UINT deviceId) const;
  bool ModuleLoaded() const;

  // platform::MciHost
  BOOL DriverNotify(HANDLE callback, UINT deviceId, UINT status) override;
  UINT DriverYield(UINT deviceId) override;
  UINT LoadCommandResource(HINSTANCE module, LPCWSTR name, UINT type) override;
  BOOL FreeCommandResource(UINT table) override;
  BOOL SetDriverData(UINT deviceId, DWORD_PTR data) override;

 private:
  struct Device {
    UINT id = 0;
    std::string alias;        // lower case
    std::string installName;  // lower case registry name
    DWORD_PTR driverId = 0;   // what DRV_OPEN answered
    HDRVR hDriver = nullptr;
    UINT table = MCI_NO_COMMAND_TABLE;
    UINT type = 0;
    bool shareable = false;
    bool breakKeyOn = true;
    std::atomic<int> breakRequests{0};
    std::atomic<int> running{0};
  };
  using DevicePtr = std::shared_ptr<Device>;

  CommandResult Open(std::span<const Token> tokens, CallbackHandle callback);
  CommandResult Close(const std::vector<DevicePtr>& devices, DWORD flags, CallbackHandle callback);
  CommandResult SysInfo(std::span<const Token> tokens, CallbackHandle callback);
  CommandResult Break(const DevicePtr& device, std::span<const Token> args,
                      CallbackHandle callback);
  CommandResult Driver(const DevicePtr& device, const CommandDef& def, std::span<const Token> args,
                       CallbackHandle callback, DWORD addFlags);
  // What the driver answered a command: its whole result, for a successful
  // command that returns something the return as text, for a failed one
  // why its port failed.
  struct Answer {
    DWORD result = 0;
    std::string text;
    std::string detail;
  };
  // Sends one command of `device` to the driver, for the string and the raw
  // message paths and the open alike. `def` (none for a message the table
  // lacks) decides the return buffer and the text.
  // `block` null: the message goes without a parameter block.
  Answer CallDriver(Device& device, const CommandDef* def, UINT message, DWORD flags,
                    ParamBlock* block);
  DWORD LoadModule();   // lifecycle_ held
  void UnloadModule();  // lifecycle_ held
  LRESULT Proc(DWORD_PTR id, HDRVR h, UINT msg, LPARAM p1, LPARAM p2) const;
  // Proc for an MCI command: what the port says about a failure goes to
  // `detail`, and only this command's.
  LRESULT ProcCommand(DWORD_PTR id, HDRVR h, UINT msg, LPARAM p1, LPARAM p2,
                      std::string& detail) const;
  DevicePtr FindDevice(std::string_view alias) const;
  std::shared_ptr<const CommandTable> Table(UINT handle) const;
  void Notify(CallbackHandle callback, UINT code, UINT deviceId);

  DriverModuleEntry driver_;
  DeviceRegistry registry_;
  std::shared_ptr<const CommandTable> core_;

  std::mutex lifecycle_;      // open, close, module load and unload
  mutable std::mutex mutex_;  // everything below
  std::map<UINT, DevicePtr> devices_;
  std::map<UINT, std::shared_ptr<const CommandTable>> tables_;
  UINT nextTable_ = 1;
  std::map<DWORD_PTR, std::shared_ptr<NotifyFn>> callbacks_;
  DWORD_PTR nextCallback_ = 0x4000;
  std::map<UINT, DWORD_PTR> driverData_;
  std::uintptr_t nextDriverHandle_ = 0x100;
  bool moduleLoaded_ = false;
  HDRVR queryDriver_ = nullptr;
  DWORD_PTR queryDriverId_ = 0;
};

}  // namespace vtr::mci

#include "mci/mci_library.h"

#include <algorithm>

#include "mci/mci_text.h"
#include "platform/serial_ports.h"
#include "vtr_mci/core_resources.h"

namespace vtr::mci {
namespace {

constexpr DWORD kSysInfoQuantity = 0x100u;
constexpr DWORD kSysInfoOpen = 0x200u;
constexpr DWORD kSysInfoName = 0x400u;
constexpr DWORD kSysInfoInstallName = 0x800u;
constexpr DWORD kBreakOn = 0x100u;
constexpr DWORD kBreakOff = 0x400u;
constexpr UINT kVkCancel = 3;        // the Ctrl-Break / Ctrl-C key
constexpr UINT kMciFirst = 0x0800u;  // the range of MCI command messages
constexpr UINT kMciLast = 0x0FFFu;

std::shared_ptr<const CommandTable> LoadCore() {
  auto loaded = CommandTable::Load(core::kCoreCommandTable);
  // The core table is built with the library; a broken one is a build error.
  return std::make_shared<const CommandTable>(std::get<CommandTable>(std::move(loaded)));
}

std::string Lower(std::string_view s) { return ToLowerAscii(s); }

// The slot of the item `keyword` of a core command.
std::size_t SlotOf(const CommandDef& def, std::string_view keyword) {
  for (const CommandItem& item : def.items) {
    if (item.keyword == keyword && item.slot) return *item.slot;
  }
  return 0;
}

}  // namespace

// ---- registry ---------------------------------------------------------------

DeviceRegistry DeviceRegistry::Default() {
  DeviceRegistry r;
  r.Set("vcr", "videotape");
  for (int n = 1; n <= 99; ++n) r.Set("vcr" + std::to_string(n), "videotape" + std::to_string(n));
  return r;
}
void DeviceRegistry::Set(std::string_view name, std::string_view params) {
  std::string key = Lower(name);
  for (auto& [n, p] : entries_) {
    if (n == key) {
      p = std::string(params);
      return;
    }
  }
  entries_.emplace_back(std::move(key), std::string(params));
}
void DeviceRegistry::Remove(std::string_view name) {
  std::string key = Lower(name);
  std::erase_if(entries_, [&](const auto& e) { return e.first == key; });
}
std::optional<std::string> DeviceRegistry::Params(std::string_view name) const {
  std::string key = Lower(name);
  for (const auto& [n, p] : entries_) {
    if (n == key) return p;
  }
  return std::nullopt;
}
std::string DeviceRegistry::TypeOf(std::string_view name) {
  std::string s = Lower(name);
  while (!s.empty() && s.back() >= '0' && s.back() <= '9') s.pop_back();
  return s;
}

// ---- construction -------------------------------------------------------------

MciLibrary::MciLibrary(DriverModuleEntry driver, DeviceRegistry registry)
    : driver_(driver), registry_(std::move(registry)), core_(LoadCore()) {
  platform::SetMciHost(this);
}

MciLibrary::~MciLibrary() {
  std::vector<DevicePtr> all;
  {
    std::lock_guard lock(mutex_);
    for (auto& [id, d] : devices_) all.push_back(d);
  }
  if (!all.empty()) Close(all, 0, {});
  if (platform::GetMciHost() == this) platform::SetMciHost(nullptr);
}

CallbackHandle MciLibrary::RegisterCallback(NotifyFn fn) {
  std::lock_guard lock(mutex_);
  DWORD_PTR h = nextCallback_++;
  callbacks_[h] = std::make_shared<NotifyFn>(std::move(fn));
  return CallbackHandle{h};
}
void MciLibrary::UnregisterCallback(CallbackHandle handle) {
  std::lock_guard lock(mutex_);
  callbacks_.erase(handle.value);
}

LRESULT MciLibrary::Proc(DWORD_PTR id, HDRVR h, UINT msg, LPARAM p1, LPARAM p2) const {
  return driver_.driverProc != nullptr ? driver_.driverProc(id, h, msg, p1, p2) : 0;
}

LRESULT MciLibrary::ProcCommand(DWORD_PTR id, HDRVR h, UINT msg, LPARAM p1, LPARAM p2,
                                std::string& detail) const {
  // The driver exchanges with the deck on this thread, so its port's
  // failures are noted here. One left from before is not this command's.
  platform::TakePortFailure();
  const LRESULT result = Proc(id, h, msg, p1, p2);
  std::string why = platform::TakePortFailure();
  if ((static_cast<DWORD>(result) & 0xFFFFu) != 0) detail = std::move(why);
  return result;
}

MciLibrary::DevicePtr MciLibrary::FindDevice(std::string_view alias) const {
  std::string key = Lower(alias);
  std::lock_guard lock(mutex_);
  for (const auto& [id, d] : devices_) {
    if (d->alias == key) return d;
  }
  return nullptr;
}

std::shared_ptr<const CommandTable> MciLibrary::Table(UINT handle) const {
  std::lock_guard lock(mutex_);
  auto it = tables_.find(handle);
  return it == tables_.end() ? nullptr : it->second;
}

void MciLibrary::Notify(CallbackHandle callback, UINT code, UINT deviceId) {
  DriverNotify(reinterpret_cast<HANDLE>(callback.value), deviceId, code);
}

// ---- the string interface ---------------------------------------------------

CommandResult MciLibrary::SendString(std::string_view command, CallbackHandle callback,
                                     DWORD addFlags) {
  std::vector<Token> tokens;
  if (DWORD err = Tokenize(command, tokens)) return {err, {}, 0};
  if (tokens.empty()) return {MCIERR_MISSING_COMMAND_STRING, {}, 0};
  std::string verb = Lower(tokens[0].text);
  if (tokens.size() < 2) return {MCIERR_MISSING_DEVICE_NAME, {}, 0};
  if (verb == "open") return Open(tokens, callback);
  if (verb == "sysinfo") return SysInfo(tokens, callback);

  std::span<const Token> args = std::span<const Token>(tokens).subspan(2);
  if (Lower(tokens[1].text) == "all" && !tokens[1].quoted) {
    if (verb == "close") {
      DWORD flags = 0;
      ParamBlock block;
      if (DWORD err = ParseArguments(*core_->Find("close"), args, flags, block))
        return {err, {}, 0};
      std::vector<DevicePtr> all;
      {
        std::lock_guard lock(mutex_);
        for (auto& [id, d] : devices_) all.push_back(d);
      }
      return Close(all, flags, callback);
    }
    bool known = core_->Find(verb) != nullptr;
    {
      std::lock_guard lock(mutex_);
      for (const auto& [h, t] : tables_) known = known || t->Find(verb) != nullptr;
    }
    return {known ? MCIERR_CANNOT_USE_ALL : MCIERR_UNRECOGNIZED_COMMAND, {}, 0};
  }

  DevicePtr device = FindDevice(tokens[1].text);
  if (!device) return {MCIERR_INVALID_DEVICE_NAME, {}, 0};
  std::shared_ptr<const CommandTable> table = Table(device->table);
  const CommandDef* def = table ? table->Find(verb) : nullptr;
  if (def == nullptr) {
    if (verb == "close") {
      DWORD flags = 0;
      ParamBlock block;
      if (DWORD err = ParseArguments(*core_->Find("close"), args, flags, block))
        return {err, {}, device->id};
      return Close({device}, flags, callback);
    }
    if (verb == "break") return Break(device, args, callback);
    return {MCIERR_UNRECOGNIZED_COMMAND, {}, device->id};
  }
  return Driver(device, *def, args, callback, addFlags);
}

ParsedCommand MciLibrary::Parse(std::string_view command) const {
  ParsedCommand out;
  std::vector<Token> tokens;
  if ((out.error = Tokenize(command, tokens)) != 0) return out;
  if (tokens.empty()) return {MCIERR_MISSING_COMMAND_STRING};
  if (tokens.size() < 2) return {MCIERR_MISSING_DEVICE_NAME};
  const std::string verb = Lower(tokens[0].text);
  const CommandDef* def = nullptr;
  std::shared_ptr<const CommandTable> table;  // keeps `def` alive
  if (verb == "open" || verb == "sysinfo") {
    def = core_->Find(verb);
  } else if (Lower(tokens[1].text) == "all" && !tokens[1].quoted) {
    def = verb == "close" ? core_->Find(verb) : nullptr;
    if (def == nullptr) {
      bool known = core_->Find(verb) != nullptr;
      {
        std::lock_guard lock(mutex_);
        for (const auto& [h, t] : tables_) known = known || t->Find(verb) != nullptr;
      }
      if (!known) out.rejected = tokens[0].text;
      out.error = known ? MCIERR_CANNOT_USE_ALL : MCIERR_UNRECOGNIZED_COMMAND;
      return out;
    }
  } else {
    DevicePtr device = FindDevice(tokens[1].text);
    if (!device) return {MCIERR_INVALID_DEVICE_NAME, 0, 0, 0, tokens[1].text};
    out.deviceId = device->id;
    table = Table(device->table);
    def = table ? table->Find(verb) : nullptr;
    if (def == nullptr && (verb == "close" || verb == "break")) def = core_->Find(verb);
    if (def == nullptr) {
      out.error = MCIERR_UNRECOGNIZED_COMMAND;
      out.rejected = tokens[0].text;
      return out;
    }
  }
  out.message = def->message;
  ParamBlock block;
  std::span<const Token> args = std::span<const Token>(tokens).subspan(2);
  std::size_t at = args.size();
  out.error = ParseArguments(*def, args, out.flags, block, &at);
  if (out.error != 0 && at < args.size()) out.rejected = args[at].text;
  return out;
}

std::shared_ptr<const CommandTable> MciLibrary::DeviceTable(std::string_view name) {
  if (DevicePtr device = FindDevice(name)) return Table(device->table);
  const std::string install = Lower(name);
  if (!registry_.Params(install)) return nullptr;
  std::lock_guard life(lifecycle_);
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, d] : devices_) {
      if (d->installName == install) {
        auto it = tables_.find(d->table);
        return it == tables_.end() ? nullptr : it->second;
      }
    }
  }
  // The table the driver loads at DRV_LOAD, which its devices are given.
  const bool loadedHere = !ModuleLoaded();
  if (LoadModule() != 0) return nullptr;
  std::shared_ptr<const CommandTable> table;
  {
    std::lock_guard lock(mutex_);
    if (!tables_.empty()) table = tables_.begin()->second;
  }
  if (loadedHere) UnloadModule();
  return table;
}

CommandResult MciLibrary::Driver(const DevicePtr& device, const CommandDef& def,
                                 std::span<const Token> args, CallbackHandle callback,
                                 DWORD addFlags) {
  DWORD flags = 0;
  ParamBlock block;
  if (DWORD err = ParseArguments(def, args, flags, block)) return {err, {}, device->id};
  flags |= addFlags;
  block.PutPointer(0, callback.value);
  Answer answer = CallDriver(*device, &def, def.message, flags, &block);
  return {answer.result & 0xFFFFu, std::move(answer.text), device->id, std::move(answer.detail)};
}

MciLibrary::Answer MciLibrary::CallDriver(Device& device, const CommandDef* def, UINT message,
                                          DWORD flags, ParamBlock* block) {
  // A caller's own text buffer is the caller's to read; only the library's is
  // turned into the return text.
  const bool ownBuffer = block != nullptr && def != nullptr &&
                         def->returns == ReturnKind::kString &&
                         block->Pointer(def->returnSlot) == 0;
  if (ownBuffer) block->PutReturnBuffer(def->returnSlot);
  // Counted as running, the command sees a break request in its yields.
  ++device.running;
  Answer out;
  const auto result = static_cast<DWORD>(
      ProcCommand(device.driverId, device.hDriver, message, static_cast<LPARAM>(flags),
                  block != nullptr ? block->Bind() : 0, out.detail));
  if (--device.running == 0) device.breakRequests = 0;
  out.result = result;
  if ((result & 0xFFFFu) == 0 && block != nullptr && def != nullptr &&
      (def->returns == ReturnKind::kInteger || ownBuffer)) {
    out.text =
        FormatReturn(*def, result, *block, [](UINT id) { return platform::LoadModuleString(id); });
  }
  return out;
}

// ---- the raw message path ---------------------------------------------------

MessageResult MciLibrary::SendCommand(UINT deviceId, UINT message, DWORD flags,
                                      std::span<const DWORD_PTR> words, bool nullBlock) {
  DevicePtr device;
  {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(deviceId);
    if (it != devices_.end()) device = it->second;
  }
  if (!device) return {MCIERR_INVALID_DEVICE_ID, 0, {}, {}};
  if (message < kMciFirst || message > kMciLast || message == MCI_OPEN_DRIVER ||
      message == MCI_CLOSE_DRIVER || message == MCI_OPEN)
    return {MCIERR_UNRECOGNIZED_COMMAND, 0, {}, {}};

  std::shared_ptr<const CommandTable> table = Table(device->table);
  const CommandDef* def = table ? table->FindMessage(message) : nullptr;
  if (def == nullptr) def = core_->FindMessage(message);
  if (nullBlock) {
    if (!words.empty() || message == MCI_CLOSE) return {MCIERR_FLAGS_NOT_COMPATIBLE, 0, {}, {}};
    Answer answer = CallDriver(*device, def, message, flags, nullptr);
    return {answer.result & 0xFFFFu, answer.result, {}, {}, std::move(answer.detail)};
  }
  std::vector<BlockSlot> slots = BlockLayout(def);
  std::size_t end = slots.back().offset + slots.back().size;
  while (slots.size() < words.size() && end + kWordSlot <= ParamBlock::kBytes) {
    slots.push_back({end, kWordSlot});
    end += kWordSlot;
  }
  if (words.size() > slots.size()) return {MCIERR_PARAM_OVERFLOW, 0, {}, {}};

  ParamBlock block;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (slots[i].size == kPointerSlot) {
      block.PutPointer(slots[i].offset, words[i]);
    } else if (words[i] > 0xFFFFFFFFu) {
      return {MCIERR_OUTOFRANGE, 0, {}, {}};
    } else {
      block.PutWord(slots[i].offset, static_cast<DWORD>(words[i]));
    }
  }
  if (message == MCI_CLOSE) {
    CommandResult closed = Close({device}, flags, CallbackHandle{block.Pointer(0)});
    return {closed.error, closed.error, {}, {}, std::move(closed.detail)};
  }
  Answer answer = CallDriver(*device, def, message, flags, &block);
  MessageResult out{
      answer.result & 0xFFFFu, answer.result, {}, std::move(answer.text), std::move(answer.detail)};
  for (const BlockSlot& s : slots) {
    out.words.push_back(s.size == kPointerSlot ? block.Pointer(s.offset) : block.Word(s.offset));
  }
  return out;
}

// ---- open and close ------------------------------------------------------------

DWORD MciLibrary::Configure(std::string_view name, HWND parent) {
  std::string install = Lower(name);
  if (DevicePtr device = FindDevice(name)) {
    install = device->installName;
  } else if (!registry_.Params(install)) {
    return MCIERR_INVALID_DEVICE_NAME;
  }
  std::lock_guard lock(lifecycle_);
  const bool loadedHere = !ModuleLoaded();
  if (DWORD err = LoadModule()) return err;
  const std::u16string alias = platform::Widen(install);
  DRVCONFIGINFO info{sizeof(DRVCONFIGINFO), u"MCI", alias.c_str()};
  Proc(queryDriverId_, queryDriver_, DRV_CONFIGURE, reinterpret_cast<LPARAM>(parent),
       reinterpret_cast<LPARAM>(&info));
  if (loadedHere) UnloadModule();
  return 0;
}

DWORD MciLibrary::LoadModule() {
  if (ModuleLoaded()) return 0;
  if (driver_.registerResources != nullptr) driver_.registerResources();
  if (driver_.instanceInit != nullptr && !driver_.instanceInit(driver_.module, 1, nullptr))
    return MCIERR_CANNOT_LOAD_DRIVER;
  if (Proc(0, nullptr, DRV_LOAD, 0, 0) == 0) {
    if (driver_.instanceInit != nullptr) driver_.instanceInit(driver_.module, 0, nullptr);
    return MCIERR_CANNOT_LOAD_DRIVER;
  }
  Proc(0, nullptr, DRV_ENABLE, 0, 0);
  {
    std::lock_guard lock(mutex_);
    queryDriver_ = reinterpret_cast<HDRVR>(nextDriverHandle_++);
  }
  queryDriverId_ = static_cast<DWORD_PTR>(Proc(0, queryDriver_, DRV_OPEN, 0, 0));
  std::lock_guard lock(mutex_);
  moduleLoaded_ = true;
  return 0;
}

void MciLibrary::UnloadModule() {
  if (!ModuleLoaded()) return;
  Proc(queryDriverId_, queryDriver_, DRV_CLOSE, 0, 0);
  Proc(0, nullptr, DRV_DISABLE, 0, 0);
  Proc(0, nullptr, DRV_FREE, 0, 0);
  if (driver_.instanceInit != nullptr) driver_.instanceInit(driver_.module, 0, nullptr);
  std::lock_guard lock(mutex_);
  moduleLoaded_ = false;
  tables_.clear();  // whatever the driver did not free goes with the module
}

CommandResult MciLibrary::Open(std::span<const Token> tokens, CallbackHandle callback) {
  const CommandDef& def = *core_->Find("open");
  DWORD flags = 0;
  ParamBlock block;
  if (DWORD err = ParseArguments(def, tokens.subspan(2), flags, block)) return {err, {}, 0};
  if (flags & MCI_OPEN_ELEMENT) return {MCIERR_NO_ELEMENT_ALLOWED, {}, 0};

  // "open vcr1 ..." names the installed device; with "type", the word after
  // open is the name the device is opened under.
  std::string name = tokens[1].text;
  std::string installName = Lower(name);
  std::string alias = Lower(name);
  for (std::size_t i = 2; i + 1 < tokens.size(); ++i) {
    std::string word = Lower(tokens[i].text);
    if (tokens[i].quoted) continue;
    if (word == "type") installName = Lower(tokens[i + 1].text);
    if (word == "alias") alias = Lower(tokens[i + 1].text);
  }
  if (!(flags & MCI_OPEN_TYPE)) {
    flags |= MCI_OPEN_TYPE;
    block.PutString(SlotOf(def, "type"), platform::Widen(installName));
  }
  if (alias == "all") return {MCIERR_CANNOT_USE_ALL, {}, 0};
  std::optional<std::string> params = registry_.Params(installName);
  if (!params) return {MCIERR_INVALID_DEVICE_NAME, {}, 0};
  bool shareable = (flags & MCI_OPEN_SHAREABLE) != 0;

  std::lock_guard life(lifecycle_);
  auto device = std::make_shared<Device>();
  {
    std::lock_guard lock(mutex_);
    for (const auto& [id, d] : devices_) {
      if (d->alias == alias)
        return {(flags & MCI_OPEN_ALIAS) ? MCIERR_DUPLICATE_ALIAS : MCIERR_DEVICE_OPEN, {}, 0};
    }
    for (const auto& [id, d] : devices_) {
      if (d->installName == installName && !(d->shareable && shareable))
        return {MCIERR_MUST_USE_SHAREABLE, {}, 0};
    }
    UINT id = 1;
    while (devices_.count(id) != 0) ++id;
    device->id = id;
    device->alias = alias;
    device->installName = installName;
    device->shareable = shareable;
    device->hDriver = reinterpret_cast<HDRVR>(nextDriverHandle_++);
    devices_[id] = device;
  }
  auto forget = [&] {
    std::lock_guard lock(mutex_);
    devices_.erase(device->id);
    driverData_.erase(device->id);
  };
  auto unloadIfIdle = [&] {
    bool idle;
    {
      std::lock_guard lock(mutex_);
      idle = devices_.empty();
    }
    if (idle) UnloadModule();
  };
  if (DWORD err = LoadModule()) {
    forget();
    return {err, {}, 0};
  }
  std::u16string wideParams = platform::Widen(*params);
  MCI_OPEN_DRIVER_PARMS parms{};
  parms.wDeviceID = device->id;
  parms.lpstrParams = wideParams.c_str();
  parms.wCustomCommandTable = MCI_NO_COMMAND_TABLE;
  auto driverId = static_cast<DWORD_PTR>(
      Proc(0, device->hDriver, DRV_OPEN, 0, reinterpret_cast<LPARAM>(&parms)));
  if (driverId == 0) {
    forget();
    unloadIfIdle();
    return {MCIERR_CANNOT_LOAD_DRIVER, {}, 0};
  }
  device->driverId = driverId;
  device->table = parms.wCustomCommandTable & 0xFFFFu;
  device->type = parms.wType;

  block.PutPointer(0, callback.value);
  block.PutWord(def.returnSlot, device->id);
  Answer answer = CallDriver(*device, nullptr, MCI_OPEN_DRIVER, flags, &block);
  if ((answer.result & 0xFFFFu) != 0) {
    Proc(driverId, device->hDriver, DRV_CLOSE, 0, 0);
    forget();
    unloadIfIdle();
    return {answer.result & 0xFFFFu, {}, 0, std::move(answer.detail)};
  }
  return {0, std::to_string(device->id), device->id};
}

CommandResult MciLibrary::Close(const std::vector<DevicePtr>& devices, DWORD flags,
                                CallbackHandle callback) {
  std::lock_guard life(lifecycle_);
  DWORD first = 0;
  std::string firstDetail;
  for (const DevicePtr& d : devices) {
    {
      std::lock_guard lock(mutex_);
      if (devices_.count(d->id) == 0) continue;  // closed meanwhile
    }
    ParamBlock block;
    block.PutPointer(0, callback.value);
    std::string detail;
    auto result = static_cast<DWORD>(ProcCommand(d->driverId, d->hDriver, MCI_CLOSE_DRIVER,
                                                 static_cast<LPARAM>(flags), block.Bind(), detail));
    if (first == 0) {
      first = result & 0xFFFFu;
      firstDetail = std::move(detail);
    }
    Proc(d->driverId, d->hDriver, DRV_CLOSE, 0, 0);
    bool idle;
    {
      std::lock_guard lock(mutex_);
      devices_.erase(d->id);
      driverData_.erase(d->id);
      idle = devices_.empty();
    }
    if (idle) UnloadModule();
  }
  return {first, {}, devices.size() == 1 ? devices[0]->id : 0, std::move(firstDetail)};
}

// ---- sysinfo and break ----------------------------------------------------------

CommandResult MciLibrary::SysInfo(std::span<const Token> tokens, CallbackHandle callback) {
  const CommandDef& def = *core_->Find("sysinfo");
  DWORD flags = 0;
  ParamBlock block;
  if (DWORD err = ParseArguments(def, tokens.subspan(2), flags, block)) return {err, {}, 0};
  std::string dev = Lower(tokens[1].text);
  bool all = dev == "all";
  bool open = (flags & kSysInfoOpen) != 0;
  DevicePtr aliased = all ? nullptr : FindDevice(dev);

  std::vector<std::string> names;  // what quantity counts and name picks from
  std::string type =
      all ? std::string() : DeviceRegistry::TypeOf(aliased ? aliased->installName : dev);
  if (open) {
    std::lock_guard lock(mutex_);
    for (const auto& [id, d] : devices_) {
      if (all || DeviceRegistry::TypeOf(d->installName) == type) names.push_back(d->alias);
    }
  } else {
    for (const auto& [n, p] : registry_.Entries()) {
      if (all || DeviceRegistry::TypeOf(n) == type) names.push_back(n);
    }
  }
  std::string text;
  if (flags & kSysInfoInstallName) {
    if (!aliased) return {MCIERR_INVALID_DEVICE_NAME, {}, 0};
    text = aliased->installName;
  } else if (!all && !aliased && registry_.Params(dev) == std::nullopt && names.empty() && !open) {
    return {MCIERR_INVALID_DEVICE_NAME, {}, 0};
  } else if (flags & kSysInfoQuantity) {
    text = std::to_string(names.size());
  } else if (flags & kSysInfoName) {
    DWORD n = block.Word(SlotOf(def, "name"));
    if (n == 0 || n > names.size()) return {MCIERR_OUTOFRANGE, {}, 0};
    text = names[n - 1];
  } else {
    return {MCIERR_MISSING_PARAMETER, {}, 0};
  }
  if (flags & MCI_NOTIFY) Notify(callback, MCI_NOTIFY_SUCCESSFUL, aliased ? aliased->id : 0);
  return {0, text, aliased ? aliased->id : 0};
}

CommandResult MciLibrary::Break(const DevicePtr& device, std::span<const Token> args,
                                CallbackHandle callback) {
  const CommandDef& def = *core_->Find("break");
  DWORD flags = 0;
  ParamBlock block;
  if (DWORD err = ParseArguments(def, args, flags, block)) return {err, {}, device->id};
  if ((flags & kBreakOn) && (flags & kBreakOff))
    return {MCIERR_FLAGS_NOT_COMPATIBLE, {}, device->id};
  if (flags & (kBreakOn | kBreakOff)) {
    // Only the cancel key exists in a console; any other key turns breaking off.
    DWORD key = block.Word(SlotOf(def, "on"));
    {
      std::lock_guard lock(mutex_);
      device->breakKeyOn = (flags & kBreakOn) != 0 && key == kVkCancel;
    }
    if (flags & MCI_NOTIFY) Notify(callback, MCI_NOTIFY_SUCCESSFUL, device->id);
    return {0, {}, device->id};
  }
  block.PutPointer(0, callback.value);
  std::string detail;
  auto result = static_cast<DWORD>(ProcCommand(device->driverId, device->hDriver, MCI_BREAK,
                                               static_cast<LPARAM>(flags), block.Bind(), detail));
  return {result & 0xFFFFu, {}, device->id, std::move(detail)};
}

bool MciLibrary::RequestBreak(UINT deviceId) {
  std::lock_guard lock(mutex_);
  auto it = devices_.find(deviceId);
  if (it == devices_.end() || !it->second->breakKeyOn || it->second->running == 0) return false;
  ++it->second->breakRequests;
  return true;
}

std::vector<UINT> MciLibrary::BreakableDevices() const {
  std::lock_guard lock(mutex_);
  std::vector<UINT> out;
  for (const auto& [id, d] : devices_) {
    if (d->breakKeyOn) out.push_back(id);
  }
  return out;
}

// ---- queries ------------------------------------------------------------------

std::optional<UINT> MciLibrary::DeviceIdOf(std::string_view alias) const {
  if (DevicePtr d = FindDevice(alias)) return d->id;
  return std::nullopt;
}
std::optional<std::string> MciLibrary::AliasOf(UINT deviceId) const {
  std::lock_guard lock(mutex_);
  auto it = devices_.find(deviceId);
  if (it == devices_.end()) return std::nullopt;
  return it->second->alias;
}
std::vector<std::string> MciLibrary::OpenAliases() const {
  std::lock_guard lock(mutex_);
  std::vector<std::string> out;
  for (const auto& [id, d] : devices_) out.push_back(d->alias);
  return out;
}
std::vector<std::string> MciLibrary::Vocabulary() const {
  std::vector<std::shared_ptr<const CommandTable>> tables{core_};
  {
    std::lock_guard lock(mutex_);
    for (const auto& [h, t] : tables_) tables.push_back(t);
  }
  std::vector<std::string> words;
  for (const auto& t : tables) {
    for (const CommandDef& c : t->Commands()) {
      words.push_back(c.verb);
      for (const CommandItem& item : c.items) {
        if (!item.keyword.empty()) words.push_back(item.keyword);
        for (const ConstantWord& w : item.words) words.push_back(w.keyword);
      }
    }
  }
  std::sort(words.begin(), words.end());
  words.erase(std::unique(words.begin(), words.end()), words.end());
  return words;
}
std::optional<DWORD_PTR> MciLibrary::DriverData(UINT deviceId) const {
  std::lock_guard lock(mutex_);
  auto it = driverData_.find(deviceId);
  if (it == driverData_.end()) return std::nullopt;
  return it->second;
}
bool MciLibrary::ModuleLoaded() const {
  std::lock_guard lock(mutex_);
  return moduleLoaded_;
}

// ---- services the driver calls ------------------------------------------------

BOOL MciLibrary::DriverNotify(HANDLE callback, UINT deviceId, UINT status) {
  std::shared_ptr<NotifyFn> fn;
  {
    std::lock_guard lock(mutex_);
    auto it = callbacks_.find(reinterpret_cast<DWORD_PTR>(callback));
    if (it == callbacks_.end()) return FALSE;
    fn = it->second;
  }
  (*fn)(Notification{status, deviceId});
  return TRUE;
}

UINT MciLibrary::DriverYield(UINT deviceId) {
  // Nothing to dispatch here: notifications are delivered as they are posted.
  std::lock_guard lock(mutex_);
  for (const auto& [id, d] : devices_) {
    if ((d->id == deviceId || d->driverId == deviceId) && d->breakRequests > 0) return 1;
  }
  return 0;
}

UINT MciLibrary::LoadCommandResource(HINSTANCE /*module*/, LPCWSTR name, UINT /*type*/) {
  if (name == nullptr) return MCI_NO_COMMAND_TABLE;
  auto bytes = platform::FindModuleResource(platform::Narrow(name));
  if (!bytes) return MCI_NO_COMMAND_TABLE;
  auto loaded = CommandTable::Load(*bytes);
  if (!std::holds_alternative<CommandTable>(loaded)) return MCI_NO_COMMAND_TABLE;
  std::lock_guard lock(mutex_);
  UINT handle = nextTable_++;
  if (nextTable_ == MCI_NO_COMMAND_TABLE) nextTable_ = 1;
  tables_[handle] = std::make_shared<const CommandTable>(std::get<CommandTable>(std::move(loaded)));
  return handle;
}

BOOL MciLibrary::FreeCommandResource(UINT table) {
  std::lock_guard lock(mutex_);
  return tables_.erase(table) != 0 ? TRUE : FALSE;
}

BOOL MciLibrary::SetDriverData(UINT deviceId, DWORD_PTR data) {
  std::lock_guard lock(mutex_);
  driverData_[deviceId] = data;
  return TRUE;
}

}  // namespace vtr::mci

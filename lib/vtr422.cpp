// The C interface over the library stand-in (mci::MciLibrary) and the
// embedded virtual deck.
#include "lib/include/vtr422.h"

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "host/command_runner.h"
#include "host/driver_binding.h"
#include "host/virtual_deck.h"
#include "mci/mci_library.h"
#include "mci/mci_text.h"
#include "mci/parser.h"
#include "platform/serial_ports.h"
#include "sim/deck.h"

namespace {

std::atomic<bool> gLibraryOpen{false};

// Why the port failed in this thread's latest send (vtr_last_detail).
thread_local std::string tDetail;

// Exceptions (only std::bad_alloc in practice) never cross the C boundary.
template <class F>
unsigned Guarded(F&& f) noexcept {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return MCIERR_OUT_OF_MEMORY;
  } catch (...) {
    return MCIERR_INTERNAL;
  }
}

// The answer to a command that waited: the library's own code when it did
// not end as asked.
unsigned Answer(const vtr::host::RunResult& r) {
  tDetail = r.result.detail;
  switch (r.ending) {
    case vtr::host::Ending::kInterrupted:
      return VTR_ERR_INTERRUPTED;
    case vtr::host::Ending::kSuperseded:
      return VTR_ERR_SUPERSEDED;
    case vtr::host::Ending::kAnswered:
      break;
  }
  return r.result.error;
}

// Copies `text` with its terminating zero into at most `len` bytes; false
// when it had to be cut.
bool CopyOut(const std::string& text, char* buf, std::size_t len) {
  if (buf == nullptr || len == 0) return text.empty() || buf == nullptr;
  std::size_t n = text.size() < len ? text.size() : len - 1;
  std::memcpy(buf, text.data(), n);
  buf[n] = '\0';
  return n == text.size();
}

}  // namespace

struct vtr_library {
  vtr_library() : lib(vtr::host::RealDriver()) {
    dispatcher = std::thread([this] { Dispatch(); });
  }
  ~vtr_library() {
    lib.SendString("close all");
    {
      std::lock_guard lock(queueMutex);
      stopping = true;
    }
    queueCv.notify_all();
    dispatcher.join();
    std::lock_guard lock(portMutex);
    for (const auto& [com, deck] : ports) vtr::platform::UnbindPort(com);
  }

  // Notifications are posted to the dispatcher, as the multimedia library
  // posts them to a window, so a callback may send commands of its own.
  struct Posted {
    vtr_notify_fn fn;
    void* user;
    unsigned deviceId;
    unsigned code;
  };
  void Post(const Posted& p) {
    {
      std::lock_guard lock(queueMutex);
      queue.push_back(p);
    }
    queueCv.notify_one();
  }
  void Dispatch() {
    std::unique_lock lock(queueMutex);
    for (;;) {
      queueCv.wait(lock, [&] { return stopping || !queue.empty(); });
      if (queue.empty()) return;  // stopping, and everything delivered
      Posted p = queue.front();
      queue.pop_front();
      lock.unlock();
      p.fn(this, p.deviceId, p.code, p.user);
      lock.lock();
    }
  }

  // A receiver that posts the command's one notification to `fn`.
  vtr::host::Receiver PostTo(vtr_notify_fn fn, void* user) {
    if (fn == nullptr) return {};
    return [this, fn, user](const vtr::mci::Notification& n) {
      Post({fn, user, n.deviceId, n.code});
    };
  }

  vtr::mci::MciLibrary lib;
  vtr::host::CommandRunner runner{lib};
  std::mutex queueMutex;
  std::condition_variable queueCv;
  std::deque<Posted> queue;
  bool stopping = false;
  std::thread dispatcher;
  std::mutex portMutex;
  // Ports this library bound: to a virtual deck, or (null) to a device path.
  std::map<int, std::shared_ptr<vtr::sim::Deck>> ports;
};

extern "C" {

const char* vtr_version(void) { return VTR422_VERSION_STRING; }

vtr_library* vtr_open_library(void) {
  bool expected = false;
  if (!gLibraryOpen.compare_exchange_strong(expected, true)) return nullptr;
  try {
    return new vtr_library;
  } catch (...) {
    gLibraryOpen = false;
    return nullptr;
  }
}

void vtr_close_library(vtr_library* lib) {
  if (lib == nullptr) return;
  delete lib;
  gLibraryOpen = false;
}

unsigned vtr_send_string(vtr_library* lib, const char* command, char* ret, size_t ret_len,
                         vtr_notify_fn notify_fn, void* user) {
  tDetail.clear();
  if (lib == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
  if (command == nullptr) return MCIERR_MISSING_COMMAND_STRING;
  return Guarded([&]() -> unsigned {
    CopyOut({}, ret, ret_len);
    vtr::host::RunResult r = lib->runner.Run(command, lib->PostTo(notify_fn, user));
    if (unsigned err = Answer(r)) return err;
    return CopyOut(r.result.text, ret, ret_len) ? 0u : MCIERR_PARAM_OVERFLOW;
  });
}

unsigned vtr_command_flags(vtr_library* lib, const char* command, uint32_t* flags) {
  if (flags != nullptr) *flags = 0;
  if (lib == nullptr || flags == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
  if (command == nullptr) return MCIERR_MISSING_COMMAND_STRING;
  return Guarded([&]() -> unsigned {
    vtr::mci::ParsedCommand parsed = lib->lib.Parse(command);
    if (parsed.error == 0) *flags = parsed.flags;
    return parsed.error;
  });
}

unsigned vtr_send_command(vtr_library* lib, unsigned device_id, unsigned msg, uint32_t flags,
                          uintptr_t* words, size_t n, vtr_notify_fn notify_fn, void* user) {
  tDetail.clear();
  if (lib == nullptr || (words == nullptr && n != 0)) return MCIERR_NULL_PARAMETER_BLOCK;
  return Guarded([&]() -> unsigned {
    vtr::host::RunResult r =
        lib->runner.RunMessage(device_id, msg, flags, std::vector<DWORD_PTR>(words, words + n),
                               lib->PostTo(notify_fn, user));
    for (std::size_t i = 0; i < n && i < r.message.words.size(); ++i) words[i] = r.message.words[i];
    return Answer(r);
  });
}

unsigned vtr_device_id(vtr_library* lib, const char* alias) {
  if (lib == nullptr || alias == nullptr) return 0;
  return Guarded([&]() -> unsigned { return lib->lib.DeviceIdOf(alias).value_or(0); });
}

unsigned vtr_break(vtr_library* lib, unsigned device_id) {
  if (lib == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
  return Guarded([&]() -> unsigned {
    auto alias = lib->lib.AliasOf(device_id);
    if (!alias) return MCIERR_INVALID_DEVICE_ID;
    lib->runner.NoteBreak(device_id);
    lib->lib.RequestBreak(device_id);
    return lib->lib.SendString("break " + *alias).error;
  });
}

size_t vtr_error_text(unsigned code, char* buf, size_t len) {
  try {
    std::string text;
    if (code == VTR_ERR_INTERRUPTED) {
      text = "The command was interrupted before it ended; the deck stops where it is.";
    } else if (code == VTR_ERR_SUPERSEDED) {
      text = "A later command for the device replaced the command before it ended.";
    } else {
      text = vtr::mci::ErrorText(code);
    }
    CopyOut(text, buf, len);
    return text.size();
  } catch (...) {
    CopyOut({}, buf, len);
    return 0;
  }
}

size_t vtr_last_detail(char* buf, size_t len) {
  CopyOut(tDetail, buf, len);
  return tDetail.size();
}

unsigned vtr_bind_port(vtr_library* lib, const char* port, const char* path) {
  if (lib == nullptr || port == nullptr || path == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
  int com = vtr::platform::ParseComPortName(port);
  if (com == 0 || *path == '\0') return MCIERR_OUTOFRANGE;
  return Guarded([&]() -> unsigned {
    std::lock_guard lock(lib->portMutex);
    lib->ports[com] = nullptr;
    vtr::platform::BindPortPath(com, path);
    return 0;
  });
}

unsigned vtr_attach_virtual_deck(vtr_library* lib, const char* port, const char* model,
                                 const char* standard) {
  if (lib == nullptr || port == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
  int com = vtr::platform::ParseComPortName(port);
  if (com == 0) return MCIERR_OUTOFRANGE;
  return Guarded([&]() -> unsigned {
    auto cfg = vtr::host::VirtualDeckConfig(model != nullptr ? model : "19",
                                            standard != nullptr ? standard : "ntsc");
    if (!cfg) return MCIERR_BAD_CONSTANT;
    auto deck = std::make_shared<vtr::sim::Deck>(*cfg);
    std::lock_guard lock(lib->portMutex);
    lib->ports[com] = deck;
    vtr::platform::BindVirtualPort(com, deck);
    return 0;
  });
}

unsigned vtr_detach_virtual_deck(vtr_library* lib, const char* port) {
  if (lib == nullptr || port == nullptr) return MCIERR_NULL_PARAMETER_BLOCK;
  int com = vtr::platform::ParseComPortName(port);
  if (com == 0) return MCIERR_OUTOFRANGE;
  return Guarded([&]() -> unsigned {
    std::lock_guard lock(lib->portMutex);
    auto it = lib->ports.find(com);
    if (it == lib->ports.end() || !it->second) return MCIERR_INVALID_DEVICE_NAME;
    lib->ports.erase(it);
    vtr::platform::UnbindPort(com);
    return 0;
  });
}

}  // extern "C"

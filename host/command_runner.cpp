#include "host/command_runner.h"

#include <atomic>
#include <memory>

#include "platform/serial_ports.h"

namespace vtr::host {

bool IsLibraryCommand(UINT message) {
  return message == MCI_OPEN || message == MCI_CLOSE || message == MCI_SYSINFO ||
         message == MCI_BREAK;
}

bool WaitsOnABackgroundCommand(UINT message) {
  constexpr UINT kCalibrate = 0x0C86;  // the driver's own message
  return message == MCI_PLAY || message == MCI_RECORD || message == MCI_SEEK ||
         message == MCI_CUE || message == kCalibrate;
}

// One command's receiver and what it heard.
struct CommandRunner::Watch {
  bool waits = false;
  bool userReceiver = false;
  UINT deviceId = 0;
  std::uint64_t breaksBefore = 0;
  std::shared_ptr<std::atomic<UINT>> heard = std::make_shared<std::atomic<UINT>>(0);
  mci::CallbackHandle callback;
};

void CommandRunner::NoteBreak(UINT deviceId) {
  std::lock_guard lock(mutex_);
  ++breaks_[deviceId];
}

std::uint64_t CommandRunner::Breaks(UINT deviceId) {
  std::lock_guard lock(mutex_);
  auto it = breaks_.find(deviceId);
  return it == breaks_.end() ? 0 : it->second;
}

CommandRunner::Watch CommandRunner::Start(bool asks, bool waits, bool listens, UINT deviceId,
                                          const Receiver& receiver) {
  Watch w;
  w.waits = waits;
  w.deviceId = deviceId;
  w.breaksBefore = Breaks(deviceId);
  w.userReceiver = asks && receiver != nullptr;
  if (!w.userReceiver && !listens) return w;
  auto self = std::make_shared<std::atomic<DWORD_PTR>>(0);
  Receiver fn = w.userReceiver ? receiver : Receiver{};
  // A command is notified once, so its receiver goes with its notification:
  // a long session keeps no receivers behind.
  w.callback = lib_.RegisterCallback([this, self, heard = w.heard, fn](const mci::Notification& n) {
    heard->store(n.code);
    lib_.UnregisterCallback(mci::CallbackHandle{self->load()});
    if (fn) fn(n);
  });
  self->store(w.callback.value);
  return w;
}

void CommandRunner::Finish(Watch& w, bool ok, RunResult& out) {
  // The runner's own receiver has heard what a waiting command hears before
  // it returns; a failed command owes nothing.
  if (w.callback && (!w.userReceiver || !ok)) lib_.UnregisterCallback(w.callback);
  if (w.userReceiver) out.callback = w.callback;
  // What the port said about a failure on this thread (kept by the library
  // in `detail` where it does so itself).
  std::string why = platform::TakePortFailure();
  if (!ok && out.result.detail.empty()) out.result.detail = std::move(why);
  if (!w.waits) return;
  // A break this host sent wins: the driver answers a broken wait as it
  // answers a replaced one.
  if (Breaks(w.deviceId) != w.breaksBefore || w.heard->load() == MCI_NOTIFY_ABORTED) {
    out.ending = Ending::kInterrupted;
  } else if (w.heard->load() == MCI_NOTIFY_SUPERSEDED) {
    out.ending = Ending::kSuperseded;
  }
}

RunResult CommandRunner::Run(std::string_view command, const Receiver& receiver,
                             const Registered& registered) {
  RunResult out;
  const mci::ParsedCommand parsed = lib_.Parse(command);
  if (parsed.error != 0) {
    // Sent all the same: the library answers it as parsed, without the driver.
    out.result = lib_.SendString(command);
    if (out.result.error == parsed.error) out.rejected = parsed.rejected;
    return out;
  }
  const bool asks = (parsed.flags & MCI_NOTIFY) != 0;
  const bool waits = (parsed.flags & MCI_WAIT) != 0 && !IsLibraryCommand(parsed.message);
  const bool listens = waits && WaitsOnABackgroundCommand(parsed.message);
  Watch w = Start(asks, waits, listens, parsed.deviceId, receiver);
  if (w.userReceiver && registered) registered(w.callback);
  out.result = lib_.SendString(command, w.callback, w.callback && !asks ? MCI_NOTIFY : 0);
  Finish(w, out.result.ok(), out);
  return out;
}

RunResult CommandRunner::RunMessage(UINT deviceId, UINT message, DWORD flags,
                                    std::vector<DWORD_PTR> words, const Receiver& receiver) {
  RunResult out;
  const bool asks = (flags & MCI_NOTIFY) != 0;
  const bool waits = (flags & MCI_WAIT) != 0 && !IsLibraryCommand(message);
  Watch w = Start(asks, waits, waits && WaitsOnABackgroundCommand(message), deviceId, receiver);
  const DWORD_PTR given = words.empty() ? 0 : words[0];
  if (w.callback) {
    if (words.empty()) words.push_back(0);
    words[0] = w.callback.value;
    flags |= MCI_NOTIFY;
  }
  out.message = lib_.SendCommand(deviceId, message, flags, words);
  // The runner's own receiver is no business of the caller's.
  if (w.callback && !w.userReceiver && !out.message.words.empty()) out.message.words[0] = given;
  out.result.error = out.message.error;
  out.result.detail = out.message.detail;
  out.result.deviceId = deviceId;
  Finish(w, out.message.ok(), out);
  out.message.detail = out.result.detail;
  return out;
}

}  // namespace vtr::host

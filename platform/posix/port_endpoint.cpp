// Serial lines whose far end lives in this process (the virtual deck): bytes
// move through SerialEndpoint calls, at the clock's time, real or virtual.
#include <algorithm>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "platform/posix/port_backend.h"
#include "platform/serial_ports.h"

namespace vtr::platform::port {

namespace {

// The endpoints held by an open port: one holder at a time, as with a device
// opened with share mode 0. Never destroyed: ports still open at exit close
// from the port registry's destructor, which may run after this one's would.
std::mutex gHeldMutex;
std::set<const SerialEndpoint*>& Held() {
  static auto* held = new std::set<const SerialEndpoint*>;
  return *held;
}

// The far end went away (a vanished port).
bool Gone() {
  NoteFailure("disconnected");
  return false;
}

class Endpoint final : public Backend {
 public:
  explicit Endpoint(std::shared_ptr<SerialEndpoint> far) : far_(std::move(far)) {}
  ~Endpoint() override {
    std::lock_guard lock(gHeldMutex);
    Held().erase(far_.get());
  }
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  std::optional<std::size_t> ReadNow(std::span<std::uint8_t> buf, bool /*askGone*/) override {
    if (!far_->Connected()) {
      Gone();
      return std::nullopt;
    }
    return far_->Transmit(buf);
  }

  std::optional<Micros> WaitForBytes(Micros /*seenEmpty*/, Micros until) override {
    // The far end knows when its next byte lands; nothing else can arrive
    // while this port is held.
    const auto next = far_->NextArrival();
    const Micros wake = next ? std::min(*next, until) : until;
    if (const Micros now = Now(); wake > now) std::this_thread::sleep_for(wake - now);
    return wake;
  }

  bool Write(std::span<const std::uint8_t> bytes, std::size_t& done) override {
    done = 0;
    if (!far_->Connected()) return Gone();
    // The endpoint takes the bytes as they are written: once written they
    // have left, as after a drained write to a tty.
    far_->Receive(bytes);
    done = bytes.size();
    return true;
  }

  bool Purge(DWORD flags) override {
    if (!far_->Connected()) return Gone();
    if ((flags & PURGE_RXCLEAR) != 0) far_->DiscardArrived();
    return true;
  }

  bool CheckErrors(LPDWORD /*errors*/, LPCOMSTAT /*stat*/) override {
    return far_->Connected() || Gone();
  }
  bool Apply(const DCB& /*dcb*/) override { return true; }
  bool ReadBack(DCB& /*dcb*/) override { return true; }

 private:
  std::shared_ptr<SerialEndpoint> far_;
};

}  // namespace

std::unique_ptr<Backend> OpenEndpoint(std::shared_ptr<SerialEndpoint> endpoint) {
  {
    std::lock_guard lock(gHeldMutex);
    if (!Held().insert(endpoint.get()).second) {
      NoteFailure("already open in this process");
      return nullptr;
    }
  }
  return std::make_unique<Endpoint>(std::move(endpoint));
}

}  // namespace vtr::platform::port

// An MCI host for tests: records the notifications the driver sends and lets a
// test act on every yield.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "platform/mci_host.h"

namespace vtr::test {

struct Notification {
  DWORD_PTR callback;
  UINT deviceId;
  UINT status;
  bool operator==(const Notification&) const = default;
};

class RecordingHost : public vtr::platform::MciHost {
 public:
  RecordingHost() { vtr::platform::SetMciHost(this); }
  ~RecordingHost() override { vtr::platform::SetMciHost(nullptr); }

  BOOL DriverNotify(HANDLE callback, UINT deviceId, UINT status) override {
    std::lock_guard lock(mutex_);
    notifications_.push_back({reinterpret_cast<DWORD_PTR>(callback), deviceId, status});
    return TRUE;
  }
  UINT DriverYield(UINT deviceId) override {
    ++yields_;
    std::function<UINT(UINT)> f;
    {
      std::lock_guard lock(mutex_);
      f = onYield_;
    }
    return f ? f(deviceId) : 0;
  }
  UINT LoadCommandResource(HINSTANCE, LPCWSTR, UINT) override { return tableHandle_; }
  BOOL FreeCommandResource(UINT) override { return TRUE; }
  BOOL SetDriverData(UINT, DWORD_PTR) override { return TRUE; }

  std::vector<Notification> Notifications() const {
    std::lock_guard lock(mutex_);
    return notifications_;
  }
  void ClearNotifications() {
    std::lock_guard lock(mutex_);
    notifications_.clear();
  }
  // Called on every yield (outside the driver's device lock); its result is the
  // yield's (nonzero asks for a break).
  void OnYield(std::function<UINT(UINT deviceId)> f) {
    std::lock_guard lock(mutex_);
    onYield_ = std::move(f);
  }
  int Yields() const { return yields_.load(); }
  void ResetYields() { yields_ = 0; }
  // The table handle LoadCommandResource answers (MCI_NO_COMMAND_TABLE to fail).
  void SetTableHandle(UINT h) { tableHandle_ = h; }

 private:
  mutable std::mutex mutex_;
  std::vector<Notification> notifications_;
  std::function<UINT(UINT)> onYield_;
  std::atomic<int> yields_{0};
  UINT tableHandle_ = 7;
};

}  // namespace vtr::test

#include "tests/support/recording_host.h"

namespace vtr::test {

BOOL RecordingHost::DriverNotify(HANDLE callback, UINT deviceId, UINT status) {
  std::lock_guard lock(mutex_);
  notifications_.push_back({reinterpret_cast<DWORD_PTR>(callback), deviceId, status});
  return TRUE;
}

UINT RecordingHost::DriverYield(UINT deviceId) {
  ++yields_;
  std::function<UINT(UINT)> f;
  {
    std::lock_guard lock(mutex_);
    f = onYield_;
  }
  return f ? f(deviceId) : 0;
}

UINT RecordingHost::LoadCommandResource(HINSTANCE, LPCWSTR, UINT) { return tableHandle_; }

BOOL RecordingHost::FreeCommandResource(UINT table) {
  std::lock_guard lock(mutex_);
  freed_.push_back(table);
  return TRUE;
}

BOOL RecordingHost::SetDriverData(UINT, DWORD_PTR) { return TRUE; }

std::vector<Notification> RecordingHost::Notifications() const {
  std::lock_guard lock(mutex_);
  return notifications_;
}

void RecordingHost::ClearNotifications() {
  std::lock_guard lock(mutex_);
  notifications_.clear();
}

void RecordingHost::OnYield(std::function<UINT(UINT)> f) {
  std::lock_guard lock(mutex_);
  onYield_ = std::move(f);
}

std::vector<UINT> RecordingHost::FreedTables() const {
  std::lock_guard lock(mutex_);
  return freed_;
}

}  // namespace vtr::test

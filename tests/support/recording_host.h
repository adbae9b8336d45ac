// An MCI host for tests: records every call the driver makes to it.
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

  BOOL DriverNotify(HANDLE callback, UINT deviceId, UINT status) override;
  UINT DriverYield(UINT deviceId) override;
  UINT LoadCommandResource(HINSTANCE module, LPCWSTR name, UINT type) override;
  BOOL FreeCommandResource(UINT table) override;
  BOOL SetDriverData(UINT deviceId, DWORD_PTR data) override;

  std::vector<Notification> Notifications() const;
  void ClearNotifications();
  int Yields() const { return yields_.load(); }
  void ResetYields() { yields_ = 0; }
  // Called on every yield (outside the driver's device lock); its result is
  // the yield's (nonzero asks for a break).
  void OnYield(std::function<UINT(UINT deviceId)> f);
  // The table handle LoadCommandResource answers (MCI_NO_COMMAND_TABLE to fail).
  void SetTableHandle(UINT h) { tableHandle_ = h; }
  std::vector<UINT> FreedTables() const;

 private:
  mutable std::mutex mutex_;
  std::vector<Notification> notifications_;
  std::vector<UINT> freed_;
  std::function<UINT(UINT)> onYield_;
  std::atomic<int> yields_{0};
  UINT tableHandle_ = 7;
};

}  // namespace vtr::test

// Tick count, Sleep and thread timers on one clock, real or virtual.
#include "platform/clock.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/win32.h"

namespace vtr::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct Timer {
  UINT_PTR id;
  Micros period;
  Micros due;
  TIMERPROC proc;
  std::uint64_t order;  // creation order, breaks ties between equal due times
};

class ClockState {
 public:
  Micros Now() {
    if (virtual_.load(std::memory_order_acquire)) {
      return Micros{virtualNow_.load(std::memory_order_acquire)};
    }
    return std::chrono::duration_cast<Micros>(SteadyClock::now() - realEpoch_);
  }

  std::uint32_t TickBase() const { return tickBaseMs_.load(std::memory_order_relaxed); }

  void UseReal() {
    std::lock_guard lock(mutex_);
    virtual_.store(false, std::memory_order_release);
    tickBaseMs_.store(0, std::memory_order_relaxed);
    RescheduleAllLocked();
    cv_.notify_all();
  }

  void UseVirtual(Micros start, std::uint32_t tickBase) {
    std::lock_guard lock(mutex_);
    virtualNow_.store(start.count(), std::memory_order_release);
    virtual_.store(true, std::memory_order_release);
    tickBaseMs_.store(tickBase, std::memory_order_relaxed);
    RescheduleAllLocked();
    cv_.notify_all();
  }

  bool IsVirtual() const { return virtual_.load(std::memory_order_acquire); }

  void Advance(Micros d) {
    if (!IsVirtual()) {
      std::this_thread::sleep_for(d);
      return;
    }
    const Micros target = Now() + d;
    // Run due timers one at a time, at their due times, on this thread.
    for (;;) {
      Timer fire{};
      {
        std::unique_lock lock(mutex_);
        auto next = NextDueLocked();
        if (next == timers_.end() || next->due > target) break;
        fire = *next;
        if (fire.due.count() > virtualNow_.load()) virtualNow_.store(fire.due.count());
        next->due = fire.due + fire.period;
        if (next->due <= Micros{virtualNow_.load()})
          next->due = Micros{virtualNow_.load()} + fire.period;
      }
      RunCallback(fire);
    }
    std::lock_guard lock(mutex_);
    if (target.count() > virtualNow_.load()) virtualNow_.store(target.count());
  }

  void Pass(Micros d) {
    if (!IsVirtual()) {
      std::this_thread::sleep_for(d);
      return;
    }
    std::lock_guard lock(mutex_);
    virtualNow_.fetch_add(d.count());
  }

  UINT_PTR Set(UINT_PTR id, UINT periodMs, TIMERPROC proc) {
    std::lock_guard lock(mutex_);
    const Micros period{std::max<std::int64_t>(periodMs, 1) * 1000};
    for (auto& t : timers_) {
      if (t.id == id) {  // an existing timer is re-armed with the new period
        t.period = period;
        t.proc = proc;
        t.due = Now() + period;
        cv_.notify_all();
        return id;
      }
    }
    // With no window, Win32 ignores an unknown identifier and picks a new one.
    const UINT_PTR newId = nextId_++;
    timers_.push_back(Timer{newId, period, Now() + period, proc, order_++});
    EnsureThreadLocked();
    cv_.notify_all();
    return newId;
  }

  BOOL Kill(UINT_PTR id) {
    std::unique_lock lock(mutex_);
    auto it =
        std::find_if(timers_.begin(), timers_.end(), [&](const Timer& t) { return t.id == id; });
    if (it == timers_.end()) return FALSE;
    timers_.erase(it);
    cv_.notify_all();
    if (timers_.empty() && thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
      stop_ = true;
      cv_.notify_all();
      std::thread t = std::move(thread_);
      lock.unlock();
      t.join();
      lock.lock();
      stop_ = false;
    }
    return TRUE;
  }

  std::uint64_t CallbacksRun() const { return callbacksRun_.load(); }

  ~ClockState() {
    std::unique_lock lock(mutex_);
    stop_ = true;
    cv_.notify_all();
    if (thread_.joinable()) {
      std::thread t = std::move(thread_);
      lock.unlock();
      t.join();
    }
  }

 private:
  std::vector<Timer>::iterator NextDueLocked() {
    return std::min_element(timers_.begin(), timers_.end(), [](const Timer& a, const Timer& b) {
      return a.due != b.due ? a.due < b.due : a.order < b.order;
    });
  }

  void RescheduleAllLocked() {
    const Micros now = Now();
    for (auto& t : timers_) t.due = now + t.period;
  }

  void RunCallback(const Timer& t) {
    callbacksRun_.fetch_add(1);
    t.proc(nullptr, WM_TIMER, t.id, static_cast<DWORD>(GetTickCount()));
  }

  void EnsureThreadLocked() {
    if (!thread_.joinable()) thread_ = std::thread([this] { ThreadMain(); });
  }

  // Real mode: the timer thread dispatches due ticks. A tick that falls due
  // while the previous one still runs is coalesced, as WM_TIMER is.
  void ThreadMain() {
    std::unique_lock lock(mutex_);
    while (!stop_) {
      if (virtual_.load() || timers_.empty()) {
        cv_.wait(lock);
        continue;
      }
      auto next = NextDueLocked();
      const Micros now = Now();
      if (next->due > now) {
        cv_.wait_for(lock, next->due - now);
        continue;
      }
      Timer fire = *next;
      next->due = std::max(next->due + next->period, now + Micros{1});
      lock.unlock();
      RunCallback(fire);
      lock.lock();
    }
  }

  std::mutex mutex_;
  std::condition_variable cv_;
  std::thread thread_;
  bool stop_ = false;
  std::vector<Timer> timers_;
  UINT_PTR nextId_ = 1;
  std::uint64_t order_ = 0;
  std::atomic<bool> virtual_{false};
  std::atomic<std::int64_t> virtualNow_{0};
  std::atomic<std::uint32_t> tickBaseMs_{0};
  std::atomic<std::uint64_t> callbacksRun_{0};
  const SteadyClock::time_point realEpoch_ = SteadyClock::now();
};

ClockState& State() {
  static ClockState state;
  return state;
}

}  // namespace

Micros Now() { return State().Now(); }
void UseRealClock() { State().UseReal(); }
void UseVirtualClock(Micros start, std::uint32_t tickBaseMs) {
  State().UseVirtual(start, tickBaseMs);
}
bool IsVirtualClock() { return State().IsVirtual(); }
void Advance(Micros d) { State().Advance(d); }
void Pass(Micros d) { State().Pass(d); }
std::uint64_t TimerCallbacksRun() { return State().CallbacksRun(); }

}  // namespace vtr::platform

using vtr::platform::State;

DWORD GetTickCount() {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(vtr::platform::Now()).count();
  return static_cast<DWORD>(static_cast<std::uint64_t>(ms) + State().TickBase());
}

void Sleep(DWORD dwMilliseconds) {
  vtr::platform::Advance(vtr::platform::Micros{static_cast<std::int64_t>(dwMilliseconds) * 1000});
}

UINT_PTR SetTimer(HWND, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc) {
  if (lpTimerFunc == nullptr) return 0;
  return State().Set(nIDEvent, uElapse, lpTimerFunc);
}

BOOL KillTimer(HWND, UINT_PTR uIDEvent) { return State().Kill(uIDEvent); }

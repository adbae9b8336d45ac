// The one clock all platform time comes from (tick count, Sleep, thread
// timers, serial pacing, the virtual deck's transport model).
//
// Real mode: the monotonic clock; thread timers run on a timer thread that
// the platform owns (the POSIX stand-in for "the thread that loaded the
// driver dispatching its messages").
// Virtual mode: time moves only when told to. Sleep() and Advance() move it
// and run due timer callbacks on the calling thread, in due-time order
// (ties in creation order); Pass() moves it without running any, the way
// time passes inside a serial exchange that dispatches no messages.
#pragma once

#include <chrono>
#include <cstdint>

namespace vtr::platform {

using Micros = std::chrono::microseconds;

// Microseconds since the clock's epoch.
Micros Now();

// Real time (the default).
void UseRealClock();
// Virtual time starting at `start`. `tickBaseMs` is added to GetTickCount(),
// so a test can put the 32-bit tick counter just before its wrap.
void UseVirtualClock(Micros start = Micros{0}, std::uint32_t tickBaseMs = 0);
bool IsVirtualClock();

// Virtual mode: time moves by d; every timer that falls due runs, at its due
// time, on this thread. Real mode: sleeps for d.
void Advance(Micros d);
// Virtual mode: time moves by d and no timer runs. Real mode: sleeps for d.
void Pass(Micros d);

// Number of timer callbacks run so far (both modes); for tests and benchmarks.
std::uint64_t TimerCallbacksRun();

}  // namespace vtr::platform

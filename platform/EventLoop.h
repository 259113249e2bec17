#pragma once
// The main thread's message loop and its clock.
//
// Everything but the serial ports' threads runs on the main thread. Code that
// lets the loop run (a decode between blocks, a wait that must keep the
// program alive) calls ProcessMessages; work for the main thread is queued
// with PostCall, or run there synchronously from a worker with Synchronize.
//
// The clock is real, or virtual for tests: a virtual clock stands still until
// AdvanceClock moves it, so minutes of timers run in milliseconds.

#include <cstdint>
#include <functional>

#include "platform/DateUtils.h"

namespace nuq {

// Runs every call that was pending when it started, then returns; never
// blocks. Calls posted meanwhile wait for the next pass, so a handler that
// posts again cannot keep a pass from ending.
void ProcessMessages();

// Queues Call to run on the main thread's next message pass. Safe from any thread.
void PostCall(std::function<void()> call);

// Runs Call on the main thread and returns when it has run. On the main thread
// it runs at once. From another thread it waits for the main thread's next
// message pass; it returns false without running Call when Abandon becomes
// true first (the owner is closing and will not pump for this thread).
bool Synchronize(std::function<void()> call, const bool* abandon = nullptr);

// Pumps the loop until Done returns true or TimeoutMs pass on the loop's
// clock; returns Done's last answer. For tests and for waits that keep the
// program alive.
bool ProcessMessagesUntil(const std::function<bool()>& done, uint32_t timeoutMs);

// Milliseconds since an arbitrary start, on the loop's clock; wraps as a
// 32-bit count does.
uint32_t GetTickCount();

// The date and time on the loop's clock.
TDateTime Now();

// Sleeps on the loop's clock: a real sleep, or a jump of the virtual clock.
void SleepMs(uint32_t ms);

// Switches this process to a virtual clock starting at Start, or back to the real one.
void UseVirtualClock(TDateTime start);
void UseRealClock();
bool VirtualClockInUse();
// Moves the virtual clock forward; no effect on the real clock.
void AdvanceClock(uint32_t ms);

} // namespace nuq

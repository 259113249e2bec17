#include "acquisition/SerClasses.h"

#include <chrono>

#include "platform/EventLoop.h"

namespace nuq {

void TSerPersistent::EndUpdate() {
    if (UpdateCount > 0) --UpdateCount;
    Changed();
}

void TSerPersistent::Changed() {
    if (UpdateCount == 0 && OnChange) OnChange(*this);
}

void TSerEvent::SetEvent() {
    {
        std::lock_guard<std::mutex> guard(Lock);
        Signalled = true;
    }
    Signal.notify_all();
}

void TSerEvent::ResetEvent() {
    std::lock_guard<std::mutex> guard(Lock);
    Signalled = false;
}

bool TSerEvent::IsSet() const {
    std::lock_guard<std::mutex> guard(Lock);
    return Signalled;
}

TSerWaitResult TSerWaitEvent::WaitFor(uint32_t timeout) {
    std::unique_lock<std::mutex> lock(Lock);
    if (timeout == SerInfinite) {
        Signal.wait(lock, [this] { return Signalled; });
        return wrSignaled;
    }
    return Signal.wait_for(lock, std::chrono::milliseconds(timeout), [this] { return Signalled; })
               ? wrSignaled
               : wrTimeout;
}

bool IsFlagSet(uint32_t mask, uint32_t value) {
    return int32_t(value & mask) > 0;
}

void StartTimeout(TSerTimeout& t, uint32_t duration) {
    t.Start = GetTickCount();
    t.Duration = duration;
}

uint32_t TimeoutElapsed(const TSerTimeout& t, uint32_t now) {
    // The wrapped case counts one millisecond short, as the tick arithmetic always has.
    return now >= t.Start ? now - t.Start : now + (0xFFFFFFFFu - t.Start);
}

bool TimedOut(const TSerTimeout& t) {
    return TimeoutElapsed(t, GetTickCount()) > t.Duration;
}

} // namespace nuq

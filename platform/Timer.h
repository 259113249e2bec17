#pragma once
// The runtime's timer on the main thread's message loop.
//
// A timer fires only while enabled, with an interval above 0 and a handler.
// Changing any of the three restarts its period (setting the same Enabled or
// Interval again changes nothing; assigning a handler always counts as a
// change). A late loop fires a timer once, not once per missed period, and
// the next period is counted from that tick. The period is re-armed before
// the handler runs, so the handler may disable or destroy its own timer, and a
// message pass nested in the handler fires it again once another period has
// gone by. Ticks come from the loop's passes, on the main thread only; a timer
// is created, changed and destroyed there.
//
// As the runtime's timer, a new one is enabled with an interval of 1000 ms;
// it does nothing until it gets a handler.

#include <cstdint>
#include <functional>

namespace nuq {

class TTimer {
public:
    TTimer() = default;
    ~TTimer();
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;

    bool Enabled() const { return FEnabled; }
    uint32_t Interval() const { return FInterval; } // milliseconds
    const std::function<void()>& OnTimer() const { return FOnTimer; }

    void SetEnabled(bool value);
    void SetInterval(uint32_t ms);
    void SetOnTimer(std::function<void()> handler);

    int Tag = 0; // free for the owner

private:
    friend struct TimerQueue;
    void Update();

    bool FEnabled = true;
    uint32_t FInterval = 1000;
    std::function<void()> FOnTimer;
    // Place in the loop's timer queue while armed.
    bool Armed = false;
    uint64_t Due = 0;
    uint64_t Seq = 0;
};

} // namespace nuq

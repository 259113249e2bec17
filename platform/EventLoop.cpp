#include "platform/EventLoop.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

namespace nuq {

namespace {

std::mutex queueLock;
std::condition_variable queueChanged;
std::deque<std::function<void()>> queue;
const std::thread::id mainThread = std::this_thread::get_id();

std::mutex clockLock;
bool virtualClock = false;
TDateTime virtualNow = 0;
uint64_t virtualTicks = 0;

uint64_t RealTicks() {
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

void PostCall(std::function<void()> call) {
    {
        std::lock_guard<std::mutex> guard(queueLock);
        queue.push_back(std::move(call));
    }
    queueChanged.notify_all();
}

void ProcessMessages() {
    std::deque<std::function<void()>> pending;
    {
        std::lock_guard<std::mutex> guard(queueLock);
        pending.swap(queue);
    }
    for (auto& call : pending)
        if (call) call();
}

bool Synchronize(std::function<void()> call, const bool* abandon) {
    if (std::this_thread::get_id() == mainThread) {
        call();
        return true;
    }
    struct State {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        bool cancelled = false;
    };
    auto state = std::make_shared<State>();
    PostCall([state, call = std::move(call)] {
        {
            std::lock_guard<std::mutex> g(state->m);
            if (state->cancelled) return;
        }
        call();
        std::lock_guard<std::mutex> g(state->m);
        state->done = true;
        state->cv.notify_all();
    });
    std::unique_lock<std::mutex> lock(state->m);
    while (!state->done) {
        if (abandon && *abandon) {
            state->cancelled = true;
            return false;
        }
        state->cv.wait_for(lock, std::chrono::milliseconds(10));
    }
    return true;
}

bool ProcessMessagesUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
    uint32_t start = GetTickCount();
    for (;;) {
        ProcessMessages();
        if (done()) return true;
        if (GetTickCount() - start >= timeoutMs) return false;
        if (VirtualClockInUse()) {
            AdvanceClock(1);
        } else {
            std::unique_lock<std::mutex> lock(queueLock);
            queueChanged.wait_for(lock, std::chrono::milliseconds(5), [] { return !queue.empty(); });
        }
    }
}

uint32_t GetTickCount() {
    std::lock_guard<std::mutex> guard(clockLock);
    return uint32_t(virtualClock ? virtualTicks : RealTicks());
}

TDateTime Now() {
    std::lock_guard<std::mutex> guard(clockLock);
    return virtualClock ? virtualNow : SystemNow();
}

void SleepMs(uint32_t ms) {
    if (VirtualClockInUse()) AdvanceClock(ms);
    else std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

void UseVirtualClock(TDateTime start) {
    std::lock_guard<std::mutex> guard(clockLock);
    virtualClock = true;
    virtualNow = start;
    virtualTicks = RealTicks();
}

void UseRealClock() {
    std::lock_guard<std::mutex> guard(clockLock);
    virtualClock = false;
}

bool VirtualClockInUse() {
    std::lock_guard<std::mutex> guard(clockLock);
    return virtualClock;
}

void AdvanceClock(uint32_t ms) {
    std::lock_guard<std::mutex> guard(clockLock);
    if (!virtualClock) return;
    virtualTicks += ms;
    virtualNow += double(ms) / 86400000.0;
}

} // namespace nuq

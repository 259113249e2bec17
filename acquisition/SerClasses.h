#pragma once
// The thin objects the serial-port library is built from: a persistent base
// that batches change notices, events and critical sections of our own, a
// wait with four outcomes, and a tick time-out that survives the wrap of the
// 32-bit tick counter.

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/SysUtils.h"

namespace nuq {

// Every failure of the serial-port library.
class ESerCommError : public Exception {
public:
    using Exception::Exception;
};

// A wait without time limit.
inline constexpr uint32_t SerInfinite = 0xFFFFFFFF;

enum TSerWaitResult { wrSignaled, wrTimeout, wrAbandoned, wrError };

// Base of the property groups: changes made between BeginUpdate and
// EndUpdate are announced once.
class TSerPersistent {
public:
    virtual ~TSerPersistent() = default;
    std::function<void(TSerPersistent& sender)> OnChange;

    void BeginUpdate() { ++UpdateCount; }
    void EndUpdate();
    int32_t GetUpdateCount() const { return UpdateCount; }

protected:
    void Changed();

private:
    int32_t UpdateCount = 0;
};

// Base of the library's components.
class TSerComponent {
public:
    virtual ~TSerComponent() = default;
};

// Keeps the error code of the last failed wait.
class TSerHandleObject {
public:
    virtual ~TSerHandleObject() = default;
    uint32_t LastError = 0;
};

// An unnamed manual-reset event, created unsignalled.
class TSerEvent : public TSerHandleObject {
public:
    void SetEvent();
    void ResetEvent();
    bool IsSet() const;

protected:
    mutable std::mutex Lock;
    std::condition_variable Signal;
    bool Signalled = false;
};

class TSerWaitEvent : public TSerEvent {
public:
    // Timeout in milliseconds, or SerInfinite.
    TSerWaitResult WaitFor(uint32_t timeout);
};

// Recursive for its owner, as the handlers running inside a locked section
// may enter it again.
class TSerCriticalSection {
public:
    void Enter() { Section.lock(); }
    void Leave() { Section.unlock(); }

private:
    std::recursive_mutex Section;
};

// Holds a critical section for a scope.
class TSerLock {
public:
    explicit TSerLock(TSerCriticalSection& s) : S(s) { S.Enter(); }
    ~TSerLock() { S.Leave(); }
    TSerLock(const TSerLock&) = delete;
    TSerLock& operator=(const TSerLock&) = delete;

private:
    TSerCriticalSection& S;
};

struct TSerTimeout {
    uint32_t Start = 0;    // tick count when started
    uint32_t Duration = 0; // milliseconds
};

// Whether Value holds a flag of Mask: Value AND Mask read as a signed
// 32-bit number is above 0, so bit 31 alone reads as not set.
bool IsFlagSet(uint32_t mask, uint32_t value);

void StartTimeout(TSerTimeout& t, uint32_t duration);
// Milliseconds since T started, as seen at tick count Now.
uint32_t TimeoutElapsed(const TSerTimeout& t, uint32_t now);
bool TimedOut(const TSerTimeout& t);

} // namespace nuq

#pragma once
// Named mutexes as the system uses them: opened by name, recursive for the
// owning thread, held and released explicitly. Names are shared within the
// process; two opens of one name give the same mutex.

#include <memory>
#include <mutex>
#include <string>

namespace nuq {

class TNamedMutex {
public:
    explicit TNamedMutex(std::string name) : Name(std::move(name)) {}
    const std::string Name;

    void Acquire() { Lock.lock(); } // waits without time limit
    bool TryAcquire() { return Lock.try_lock(); }
    void Release() { Lock.unlock(); }

private:
    std::recursive_mutex Lock;
};

// A handle keeps its mutex alive; closing the last handle of a name forgets it.
using TMutexHandle = std::shared_ptr<TNamedMutex>;

// Opens the mutex of Name, creating it when no handle to it is open.
// Raises Exception with the system's reason when it cannot be made.
TMutexHandle OpenNamedMutex(const std::string& name);

// Holds a mutex for a scope.
class TMutexHold {
public:
    explicit TMutexHold(const TMutexHandle& m) : M(m) { M->Acquire(); }
    ~TMutexHold() { M->Release(); }
    TMutexHold(const TMutexHold&) = delete;
    TMutexHold& operator=(const TMutexHold&) = delete;

private:
    TMutexHandle M;
};

} // namespace nuq

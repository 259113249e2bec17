#pragma once
// Clean-up that must run on every way out of a scope, the normal one and an
// exception's (or on an exception's alone), held by a small object instead
// of a catch that repeats it.
//
// A clean-up that fails on the normal way out raises its error as any call
// would. One that fails while an exception is already leaving the scope is
// dropped: the caller hears of the first fault, and a second one thrown from
// a destructor then would end the program.

#include <exception>
#include <utility>

namespace nuq {

namespace ScopeGuardDetail {

template <class F> void RunOnExit(int exceptionsAtEntry, F& cleanUp) {
    if (std::uncaught_exceptions() <= exceptionsAtEntry) {
        cleanUp();
        return;
    }
    try {
        cleanUp();
    } catch (...) {
        // The fault already leaving the scope is the one reported.
    }
}

} // namespace ScopeGuardDetail

// Runs CleanUp when the scope is left, however it is left.
template <class F> class TScopeExit {
public:
    explicit TScopeExit(F cleanUp) : FCleanUp(std::move(cleanUp)) {}
    ~TScopeExit() noexcept(false) { ScopeGuardDetail::RunOnExit(FExceptions, FCleanUp); }
    TScopeExit(const TScopeExit&) = delete;
    TScopeExit& operator=(const TScopeExit&) = delete;

private:
    F FCleanUp;
    int FExceptions = std::uncaught_exceptions();
};

// Runs Undo only when the scope is left by an exception: a half-done step
// is taken back, a finished one stays.
template <class F> class TScopeFail {
public:
    explicit TScopeFail(F undo) : FUndo(std::move(undo)) {}
    ~TScopeFail() {
        if (std::uncaught_exceptions() > FExceptions)
            ScopeGuardDetail::RunOnExit(FExceptions, FUndo);
    }
    TScopeFail(const TScopeFail&) = delete;
    TScopeFail& operator=(const TScopeFail&) = delete;

private:
    F FUndo;
    int FExceptions = std::uncaught_exceptions();
};

// Holds an update of Target (BeginUpdate now, EndUpdate when the scope is left).
template <class T> class TUpdateScope {
public:
    explicit TUpdateScope(T& target) : FTarget(target) { FTarget.BeginUpdate(); }
    ~TUpdateScope() noexcept(false) {
        auto end = [this] { FTarget.EndUpdate(); };
        ScopeGuardDetail::RunOnExit(FExceptions, end);
    }
    TUpdateScope(const TUpdateScope&) = delete;
    TUpdateScope& operator=(const TUpdateScope&) = delete;

private:
    T& FTarget;
    int FExceptions = std::uncaught_exceptions();
};

} // namespace nuq

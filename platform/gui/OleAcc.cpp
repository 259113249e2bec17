// References to accessible objects: the table holds the objects weakly, so a
// reference never keeps an object alive nor outlives it.

#include "platform/gui/OleAcc.h"

#include <map>
#include <mutex>

namespace nuq {

namespace {

struct TAccessibility {
    std::mutex Lock;
    int Providers = 0;
    LRESULT LastReference = 0;
    std::map<LRESULT, std::weak_ptr<void>> Objects;
};

TAccessibility& Accessibility() {
    static auto* a = new TAccessibility; // outlives every other static
    return *a;
}

} // namespace

void RegisterAccessibilityProvider() {
    auto& a = Accessibility();
    std::lock_guard<std::mutex> guard(a.Lock);
    ++a.Providers;
}

void UnregisterAccessibilityProvider() {
    auto& a = Accessibility();
    std::lock_guard<std::mutex> guard(a.Lock);
    if (a.Providers > 0) --a.Providers;
}

bool AccessibilityLibraryPresent() {
    auto& a = Accessibility();
    std::lock_guard<std::mutex> guard(a.Lock);
    return a.Providers > 0;
}

LRESULT LresultFromObject(const std::shared_ptr<void>& object) {
    if (!object) return 0;
    auto& a = Accessibility();
    std::lock_guard<std::mutex> guard(a.Lock);
    for (auto it = a.Objects.begin(); it != a.Objects.end();) {
        std::shared_ptr<void> kept = it->second.lock();
        if (!kept) {
            it = a.Objects.erase(it); // gone: a new object at its address gets a new reference
            continue;
        }
        if (kept == object) return it->first;
        ++it;
    }
    a.Objects.emplace(++a.LastReference, object);
    return a.LastReference;
}

std::shared_ptr<void> ObjectFromLresult(LRESULT reference) {
    auto& a = Accessibility();
    std::lock_guard<std::mutex> guard(a.Lock);
    auto it = a.Objects.find(reference);
    return it == a.Objects.end() ? nullptr : it->second.lock();
}

} // namespace nuq

#include "platform/SyncObjs.h"

#include <unordered_map>

namespace nuq {

namespace {

std::mutex registryLock;
// Never destroyed: a handle closed during exit still finds it.
std::unordered_map<std::string, std::weak_ptr<TNamedMutex>>& Registry() {
    static auto* registry = new std::unordered_map<std::string, std::weak_ptr<TNamedMutex>>;
    return *registry;
}

// Frees a named mutex with its last handle and forgets its name, unless the
// name already belongs to a newer mutex, so the table holds only open names.
void Forget(TNamedMutex* m) {
    {
        std::lock_guard<std::mutex> guard(registryLock);
        auto it = Registry().find(m->Name);
        if (it != Registry().end() && it->second.expired()) Registry().erase(it);
    }
    delete m;
}

} // namespace

TMutexHandle OpenNamedMutex(const std::string& name) {
    if (name.empty()) return std::make_shared<TNamedMutex>(name); // unnamed: private
    std::lock_guard<std::mutex> guard(registryLock);
    auto& slot = Registry()[name];
    if (auto existing = slot.lock()) return existing;
    TMutexHandle created(new TNamedMutex(name), Forget);
    slot = created;
    return created;
}

} // namespace nuq

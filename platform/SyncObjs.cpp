#include "platform/SyncObjs.h"

#include <map>

namespace nuq {

namespace {

std::mutex registryLock;
std::map<std::string, std::weak_ptr<TNamedMutex>>& Registry() {
    static std::map<std::string, std::weak_ptr<TNamedMutex>> registry;
    return registry;
}

} // namespace

TMutexHandle OpenNamedMutex(const std::string& name) {
    std::lock_guard<std::mutex> guard(registryLock);
    auto& registry = Registry();
    // Forget names whose last handle was closed, so the table cannot grow
    // with every object ever created.
    for (auto it = registry.begin(); it != registry.end();)
        it = it->second.expired() ? registry.erase(it) : std::next(it);
    if (name.empty()) return std::make_shared<TNamedMutex>(name);  // unnamed: private
    if (auto existing = registry[name].lock()) return existing;
    auto created = std::make_shared<TNamedMutex>(name);
    registry[name] = created;
    return created;
}

} // namespace nuq

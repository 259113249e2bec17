#include "platform/EventLoop.h"

#include <deque>
#include <mutex>

namespace nuq {

namespace {

std::mutex queueLock;
std::deque<std::function<void()>> queue;

} // namespace

void PostCall(std::function<void()> call) {
    std::lock_guard<std::mutex> guard(queueLock);
    queue.push_back(std::move(call));
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

} // namespace nuq

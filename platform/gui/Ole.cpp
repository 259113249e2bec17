#include "platform/gui/Ole.h"

#include <map>
#include <mutex>

namespace nuq {

namespace {
std::mutex lock;
std::map<HWND, IDropTarget*>& Targets() {
    static auto* t = new std::map<HWND, IDropTarget*>;
    return *t;
}
} // namespace

long RegisterDragDrop(HWND wnd, IDropTarget* target) {
    std::lock_guard<std::mutex> guard(lock);
    if (!wnd || !target) return E_FAIL;
    if (Targets().count(wnd)) return DRAGDROP_E_ALREADYREGISTERED;
    Targets()[wnd] = target;
    return S_OK;
}

long RevokeDragDrop(HWND wnd) {
    std::lock_guard<std::mutex> guard(lock);
    return Targets().erase(wnd) ? S_OK : DRAGDROP_E_NOTREGISTERED;
}

IDropTarget* RegisteredDropTarget(HWND wnd) {
    std::lock_guard<std::mutex> guard(lock);
    auto it = Targets().find(wnd);
    return it == Targets().end() ? nullptr : it->second;
}

long OleInitialize() { return S_OK; }
void OleUninitialize() {}

} // namespace nuq

#pragma once
// The in-process OLE model's registration of drop targets per window.

#include "platform/gui/WinTypes.h"

namespace nuq {

class IDropTarget {
public:
    virtual ~IDropTarget() = default;
};

// 0 on success; a window that already has a target gives DRAGDROP_E_ALREADYREGISTERED.
inline constexpr long S_OK = 0;
inline constexpr long E_FAIL = long(0x80004005);
inline constexpr long DRAGDROP_E_NOTREGISTERED = long(0x80040100);
inline constexpr long DRAGDROP_E_ALREADYREGISTERED = long(0x80040101);
long RegisterDragDrop(HWND wnd, IDropTarget* target);
long RevokeDragDrop(HWND wnd);
IDropTarget* RegisteredDropTarget(HWND wnd); // null when none

// The thread's OLE initialisation; always succeeds here.
long OleInitialize();
void OleUninitialize();

} // namespace nuq

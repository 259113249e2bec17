// The tree in the framework's own drag: as its source (start, end, cancel)
// and as the control a framework drag passes over and drops on.

#include "treeview/LazyTrees.h"

namespace nuq {

void TBaseLazyTree::DoStartDrag(TDragObject*& dragObject) {
    TCustomControl::DoStartDrag(dragObject);
    if (dragObject) DoStateChange(TS(tsUserDragObject));
}

void TBaseLazyTree::DoEndDrag(TControl* target, int x, int y) {
    TCustomControl::DoEndDrag(target, x, y);
    DragFinished();
}

void TBaseLazyTree::DragCanceled() {
    TCustomControl::DragCanceled();
    DragFinished();
}

void TBaseLazyTree::DragFinished() {
    DoStateChange(0, TS(tsUserDragObject, tsFrameworkDragging, tsFrameworkDragPending));
    // The drag took the button's release: the tree hears it now, so that its
    // button bookkeeping ends.
    TPoint p;
    GetCursorPos(p);
    if (WindowHandle()) MapWindowPoints(0, WindowHandle(), &p, 1);
    UINT up = (FStates & TS(tsRightButtonDown))    ? WM_RBUTTONUP
              : (FStates & TS(tsMiddleButtonDown)) ? WM_MBUTTONUP
                                                   : WM_LBUTTONUP;
    Perform(up, 0, MakeLParam(p.X, p.Y));
}

bool TBaseLazyTree::HandleFrameworkDrag(TMessage& m) {
    auto* rec = reinterpret_cast<TDragRec*>(m.LParam);
    if (!rec || rec->Docking) return false; // docking is the framework's
    const auto message = TDragMessage(m.WParam);
    if (message == dmFindTarget) {
        DoStateChange(0, TS(tsFrameworkDragPending));
        m.Result = LRESULT(static_cast<TControl*>(this));
        return true;
    }
    // The dragged control is the source, unless the owner gave its own object.
    TPersistent* source = rec->Source;
    if (auto* own = dynamic_cast<TDragControlObject*>(rec->Source);
        own && !(FStates & TS(tsUserDragObject)))
        source = own->Control;
    TPoint p = rec->Pos;
    if (WindowHandle()) MapWindowPoints(0, WindowHandle(), &p, 1);
    DWORD keys = 0;
    if (GetKeyState(VK_SHIFT) < 0) keys |= MK_SHIFT;
    if (GetKeyState(VK_CONTROL) < 0) keys |= MK_CONTROL;
    const TShiftState shift = DragShift(keys);
    if (message == dmDragDrop) {
        if (FDropTargetNode) InvalidateNode(FDropTargetNode);
        FDropTargetNode = FFrameworkDropTarget;
        DWORD effect = FFrameworkDragEffect;
        DoDragDrop(source, nullptr, {}, shift, p, effect, FLastDropMode);
        if (FDropTargetNode) InvalidateNode(FDropTargetNode);
        FDropTargetNode = FFrameworkDropTarget = nullptr;
        // No leave follows a drop: the drag is over here too.
        DoStateChange(0, TS(tsFrameworkDragging));
        return true;
    }
    if (message != dmDragEnter && message != dmDragLeave && message != dmDragMove) return false;
    TDragState state = dsDragMove;
    if (message == dmDragEnter) {
        DoStateChange(TS(tsFrameworkDragging));
        state = dsDragEnter;
    } else if (message == dmDragLeave) {
        DoStateChange(0, TS(tsFrameworkDragging));
        state = dsDragLeave;
    } else
        DoAutoScroll(p.X, p.Y);
    THitInfo hit;
    GetHitTestInfoAt(p.X, p.Y, true, hit);
    const TDropMode mode = message == dmDragLeave ? FLastDropMode : DropModeAt(hit, p);
    DWORD effect = DROPEFFECT_COPY | DROPEFFECT_MOVE;
    const bool accept = DoDragOver(source, shift, state, p, mode, effect);
    PLazyNode target = message == dmDragLeave ? nullptr : hit.HitNode;
    if (target != FDropTargetNode || mode != FLastDropMode) {
        if (FDropTargetNode) InvalidateNode(FDropTargetNode);
        if (target) InvalidateNode(target);
    }
    FDropTargetNode = FFrameworkDropTarget = target;
    FLastDropMode = mode;
    FFrameworkDragEffect = effect;
    m.Result = accept ? 1 : 0;
    return true;
}

// The drag object's picture lies over the screen: it goes away while the
// window paints and comes back over what was painted.
bool TBaseLazyTree::PaintUnderFrameworkDrag(TMessage& m) {
    TDragObject* object = CurrentDragObject();
    if (m.Msg != WM_PAINT || !object || !(FStates & TS(tsFrameworkDragging))) return false;
    object->HideDragImage();
    TCustomControl::Dispatch(m);
    object->ShowDragImage();
    return true;
}

} // namespace nuq

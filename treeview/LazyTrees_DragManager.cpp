// The tree's drag manager: the drop source of the drags it starts and the
// drop target of its window, forwarding to the tree's drag handling.

#include "treeview/LazyTrees.h"

namespace nuq {

TLTDragManager::TLTDragManager(TBaseLazyTree* owner) : FOwner(owner) {
    // The desktop has no drop-target helper that draws drag images here, so
    // FDropTargetHelper stays null and the tree draws its own.
}

std::shared_ptr<IDataObject> TLTDragManager::GetDataObject() {
    if (FDataObject) {
        // A drop under way: its object is not ours to own, so it is lent, not shared.
        return std::shared_ptr<IDataObject>(std::shared_ptr<IDataObject>{}, FDataObject);
    }
    std::shared_ptr<IDataObject> result = FOwner->DoCreateDataObject();
    if (!result) result = std::make_shared<TLTDataObject>(FOwner, false);
    return result;
}

HRESULT TLTDragManager::DragEnter(IDataObject* data, DWORD keyState, TPoint pt, DWORD& effect) {
    FDataObject = data;
    FIsDropTarget = true;
    FFullDragging = DragFullWindows();
    if (FDropTargetHelper && FFullDragging)
        FDropTargetHelper->DragEnter(data, keyState, pt, effect);
    FDragSource = FOwner->GetTreeFromDataObject(data);
    return FOwner->DragEnter(keyState, data, pt, effect);
}

HRESULT TLTDragManager::DragOver(DWORD keyState, TPoint pt, DWORD& effect) {
    if (FDropTargetHelper && FFullDragging) FDropTargetHelper->DragOver(keyState, pt, effect);
    return FOwner->DragOver(FDragSource, keyState, dsDragMove, pt, effect);
}

HRESULT TLTDragManager::DragLeave() {
    if (FDropTargetHelper && FFullDragging) FDropTargetHelper->DragLeave();
    FOwner->DragLeave();
    FDragSource = nullptr;
    FDataObject = nullptr;
    FIsDropTarget = false;
    return S_OK;
}

HRESULT TLTDragManager::Drop(IDataObject* data, DWORD keyState, TPoint pt, DWORD& effect) {
    if (FDropTargetHelper && FFullDragging) FDropTargetHelper->Drop(data, keyState, pt, effect);
    HRESULT result = FOwner->DragDrop(data, keyState, pt, effect);
    FDataObject = nullptr;
    FIsDropTarget = false;
    return result;
}

void TLTDragManager::ForceDragLeave() {
    if (FDropTargetHelper && FFullDragging) FDropTargetHelper->DragLeave();
}

HRESULT TLTDragManager::GiveFeedback(DWORD) {
    return DRAGDROP_S_USEDEFAULTCURSORS;
}

HRESULT TLTDragManager::QueryContinueDrag(bool escapePressed, DWORD keyState) {
    DWORD buttons = keyState & (MK_LBUTTON | MK_RBUTTON);
    if (escapePressed || buttons == (MK_LBUTTON | MK_RBUTTON)) return DRAGDROP_S_CANCEL;
    if (buttons) return S_OK;
    return DRAGDROP_S_DROP;
}

// --- the tree's side of a drop ---------------------------------------------------------------

DWORD TBaseLazyTree::DragOperationsToEffects() const {
    DWORD effects = 0;
    if (DragOperations & doCopy) effects |= DROPEFFECT_COPY;
    if (DragOperations & doMove) effects |= DROPEFFECT_MOVE;
    if (DragOperations & doLink) effects |= DROPEFFECT_LINK;
    return effects ? effects : DROPEFFECT_COPY | DROPEFFECT_MOVE | DROPEFFECT_LINK;
}

} // namespace nuq

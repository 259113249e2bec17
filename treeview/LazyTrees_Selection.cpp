// Focus, selection and change notices. The selection is an array sorted by
// node address, searched by bisection and merged in batches; entries that
// are to go are marked by their lowest address bit until the next packing.

#include "treeview/LazyTrees.h"

#include <algorithm>

namespace nuq {

namespace {

inline bool Marked(PLazyNode p) {
    return reinterpret_cast<uintptr_t>(p) & 1;
}

inline PLazyNode Mark(PLazyNode p) {
    return reinterpret_cast<PLazyNode>(reinterpret_cast<uintptr_t>(p) | 1);
}

} // namespace

// --- the selection store ---------------------------------------------------------------

int TBaseLazyTree::PackArray(std::vector<PLazyNode>& items, int count) {
    // An empty array packs to an empty one: a count of -1 would wreck its holder.
    count = std::min(count, int(items.size()));
    if (count <= 0) return 0;
    int kept = 0;
    for (int i = 0; i < count; ++i)
        if (!Marked(items[size_t(i)])) items[size_t(kept++)] = items[size_t(i)];
    items.erase(items.begin() + kept, items.begin() + count);
    return kept;
}

void TBaseLazyTree::PackSelection() {
    if (FSelection.size() != FSelectionCount)
        FSelectionCount = uint32_t(PackArray(FSelection, int(FSelection.size())));
}

bool TBaseLazyTree::FindNodeInSelection(PLazyNode p, int& index, int lowBound,
                                        int highBound) const {
    int low = lowBound < 0 ? 0 : lowBound;
    int high = highBound < 0 ? int(FSelection.size()) - 1 : highBound;
    bool found = false;
    while (low <= high) {
        int middle = low + (high - low) / 2;
        PLazyNode m = FSelection[size_t(middle)];
        if (m < p)
            low = middle + 1;
        else {
            if (m == p) found = true; // go on to the left for the lowest match
            high = middle - 1;
        }
    }
    index = low;
    return found;
}

void TBaseLazyTree::RemoveSelectionEntry(PLazyNode node) {
    node->States &= ~vsSelected;
    int index = 0;
    if (FindNodeInSelection(node, index)) {
        FSelection.erase(FSelection.begin() + index);
        --FSelectionCount;
    } else if (FindNodeInSelection(Mark(node), index)) {
        FSelection.erase(FSelection.begin() + index); // marked already, counted out already
    }
}

bool TBaseLazyTree::InternalAddToSelection(PLazyNode node, bool forceInsert) {
    FSingletonNodeArray.assign(1, node);
    return InternalAddToSelection(FSingletonNodeArray, forceInsert);
}

bool TBaseLazyTree::InternalAddToSelection(std::vector<PLazyNode> newItems, bool forceInsert) {
    if (newItems.empty()) return false;
    PackSelection();
    TLTSelectionOptions options = FOptions->SelectionOptions();
    if (!forceInsert) {
        if ((options & toLevelSelectConstraint) && FLastSelectionLevel < 0)
            FLastSelectionLevel = int(GetNodeLevel(newItems.front()));
        if ((options & toSiblingSelectConstraint) && !FRangeAnchor) FRangeAnchor = newItems.front();
    }
    for (PLazyNode& n : newItems) {
        // A node already in the array never goes in twice, forced or not.
        bool accept = n && n != FRoot && !(n->States & vsSelected);
        if (accept && !forceInsert) {
            accept = !(n->States & vsDisabled);
            if (accept && (options & toLevelSelectConstraint))
                accept = int(GetNodeLevel(n)) == FLastSelectionLevel;
            if (accept && (options & toSiblingSelectConstraint) && FRangeAnchor)
                accept = n->Parent == FRangeAnchor->Parent;
        }
        if (accept)
            n->States |= vsSelected;
        else
            n = Mark(n);
    }
    int count = PackArray(newItems, int(newItems.size()));
    if (count == 0) return false;
    if (count > 1) std::sort(newItems.begin(), newItems.end());
    size_t middle = FSelection.size();
    FSelection.insert(FSelection.end(), newItems.begin(), newItems.end());
    std::inplace_merge(FSelection.begin(), FSelection.begin() + std::ptrdiff_t(middle),
                       FSelection.end());
    FSelectionCount += uint32_t(count);
    return true;
}

void TBaseLazyTree::InternalRemoveFromSelection(PLazyNode node) {
    if (!node || !(node->States & vsSelected)) return;
    node->States &= ~vsSelected;
    int index = 0;
    if (FindNodeInSelection(node, index)) {
        FSelection[size_t(index)] = Mark(node);
        --FSelectionCount;
    }
}

void TBaseLazyTree::InternalClearSelection() {
    if (FUpdateCount > 0) PackSelection();
    for (PLazyNode n : FSelection)
        if (!Marked(n)) n->States &= ~vsSelected;
    ResetRangeAnchor();
    FSelection.clear();
    FSelectionCount = 0;
    DoStateChange(0, TS(tsClearPending));
}

void TBaseLazyTree::ResetRangeAnchor() {
    FRangeAnchor = FFocusedNode;
    FLastSelectionLevel = -1;
}

// --- selecting -------------------------------------------------------------------------

void TBaseLazyTree::AddToSelection(PLazyNode node) {
    if (SelectionLocked || !node) return;
    if (InternalAddToSelection(node, false)) {
        InvalidateNode(node);
        Change(node);
    }
}

void TBaseLazyTree::AddToSelection(const std::vector<PLazyNode>& items, bool force) {
    if (SelectionLocked) return;
    if (!InternalAddToSelection(items, force)) return;
    if (items.size() == 1) {
        InvalidateNode(items.front());
        Change(items.front());
    } else {
        if (FUpdateCount == 0 && HandleAllocated()) Invalidate();
        Change(nullptr);
    }
}

void TBaseLazyTree::RemoveFromSelection(PLazyNode node) {
    if (SelectionLocked || !node || !(node->States & vsSelected)) return;
    PackSelection();
    RemoveSelectionEntry(node);
    if (FSelectionCount == 0) ResetRangeAnchor();
    InvalidateNode(node);
    Change(node);
}

void TBaseLazyTree::SetSelected(PLazyNode node, bool value) {
    if (SelectionLocked || !node || node == FRoot || value == bool(node->States & vsSelected))
        return;
    if (value) {
        if (FSelectionCount == 0)
            FRangeAnchor = node;
        else if (!(FOptions->SelectionOptions() & toMultiSelect))
            ClearSelection();
        AddToSelection(node);
        // A selection shows in the focused column: it needs one that shows.
        const bool shown = FHeader->IsValidColumn(FFocusedColumn) &&
                           (FHeader->Columns()[FFocusedColumn].Options() & coVisible);
        if (!shown && FHeader->MainColumn() > NoColumn) {
            TColumnIndex column = FocusableMainColumn();
            if (FHeader->IsValidColumn(column)) FFocusedColumn = column;
        }
        if (!FRangeAnchor) FRangeAnchor = node;
    } else {
        RemoveFromSelection(node);
        if (FSelectionCount == 0) ResetRangeAnchor();
    }
    if (FullyVisible(node)) InvalidateNode(node);
}

TColumnIndex TBaseLazyTree::FocusableMainColumn() const {
    const TColumnIndex main = FHeader->MainColumn();
    if (!FHeader->IsValidColumn(main)) return main;
    const TLTColumnOptions options = FHeader->Columns()[main].Options();
    if ((options & coVisible) && (options & coAllowFocus)) return main;
    return FHeader->Columns().FirstVisibleColumn(true);
}

void TBaseLazyTree::ClearSelection() {
    if (SelectionLocked || (ComponentState & csDestroying)) return;
    PackSelection();
    if (FSelectionCount == 0) return;
    if (FUpdateCount == 0 && HandleAllocated() && FVisibleCount > 0) Invalidate();
    InternalClearSelection();
    Change(nullptr);
}

void TBaseLazyTree::SelectAll(bool visibleOnly) {
    if (SelectionLocked || !(FOptions->SelectionOptions() & toMultiSelect)) return;
    std::vector<PLazyNode> nodes;
    nodes.reserve(visibleOnly ? FVisibleCount : TotalCount());
    if (visibleOnly) {
        for (PLazyNode n = GetFirstVisible(); n; n = GetNextVisible(n))
            if (!(n->States & vsSelected)) nodes.push_back(n);
    } else {
        for (PLazyNode n = GetFirst(); n; n = GetNext(n))
            if (!(n->States & vsSelected)) nodes.push_back(n);
    }
    AddToSelection(nodes, false);
}

PLazyNode TBaseLazyTree::GetFirstSelected() const {
    if (FSelectionCount == 0) return nullptr;
    for (PLazyNode n = FRoot->FirstChild; n;) {
        if (n->States & vsSelected) return n;
        if (n->FirstChild)
            n = n->FirstChild;
        else {
            while (n != FRoot && !n->NextSibling) n = n->Parent;
            n = n == FRoot ? nullptr : n->NextSibling;
        }
    }
    return nullptr;
}

namespace {

// Nodes carrying State in tree order; with Resolve a node's subtree is
// skipped once the node itself is taken.
std::vector<PLazyNode> CollectInTreeOrder(PLazyNode root, TLazyNodeStates state, bool resolve,
                                          size_t expected) {
    std::vector<PLazyNode> result;
    result.reserve(expected);
    PLazyNode n = root->FirstChild;
    while (n) {
        bool taken = n->States & state;
        if (taken) result.push_back(n);
        if (n->FirstChild && !(taken && resolve)) {
            n = n->FirstChild;
            continue;
        }
        while (n != root && !n->NextSibling) n = n->Parent;
        n = n == root ? nullptr : n->NextSibling;
    }
    return result;
}

} // namespace

std::vector<PLazyNode> TBaseLazyTree::GetSortedSelection(bool resolve) const {
    if (FSelectionCount == 0) return {};
    return CollectInTreeOrder(FRoot, vsSelected, resolve, FSelectionCount);
}

std::vector<PLazyNode> TBaseLazyTree::GetSortedCutCopySet(bool resolve) {
    return CollectInTreeOrder(FRoot, vsCutOrCopy, resolve, 0);
}

void TBaseLazyTree::MarkCutCopyNodes() {
    for (PLazyNode n : FSelection)
        if (!Marked(n) && !(n->States & vsDisabled)) n->States |= vsCutOrCopy;
}

void TBaseLazyTree::CancelCutOrCopy() {
    if (!(FStates & TS(tsCutPending, tsCopyPending))) return;
    for (PLazyNode n = GetFirstNoInit(); n; n = GetNextNoInit(n)) n->States &= ~vsCutOrCopy;
    DoStateChange(0, TS(tsCutPending, tsCopyPending));
}

namespace {

// A start that is not shown becomes the shown node before it; none, the first.
PLazyNode RangeStart(TBaseLazyTree& t, PLazyNode node) {
    if (!node) return t.GetFirstVisible();
    if (t.IsFullyVisible(node)) return node;
    PLazyNode p = t.GetPreviousVisible(node);
    while (p && !t.IsFullyVisible(p)) p = t.GetPreviousVisible(p);
    return p ? p : t.GetFirstVisible();
}

} // namespace

void TBaseLazyTree::SelectNodes(PLazyNode startNode, PLazyNode endNode, bool addOnly) {
    if (SelectionLocked) return;
    startNode = RangeStart(*this, startNode);
    endNode = RangeStart(*this, endNode);
    if (!startNode || !endNode) return;
    if (CompareNodePositions(startNode, endNode, true) > 0) std::swap(startNode, endNode);
    PLazyNode anchor = FRangeAnchor;
    if (!addOnly) InternalClearSelection();
    std::vector<PLazyNode> nodes;
    for (PLazyNode n = startNode; n; n = GetNextVisible(n)) {
        nodes.push_back(n);
        if (n == endNode) break;
    }
    InternalAddToSelection(nodes, false);
    if (anchor && (anchor->States & vsSelected)) FRangeAnchor = anchor;
    if (FUpdateCount == 0 && HandleAllocated()) Invalidate();
    Change(nullptr);
}

void TBaseLazyTree::UnselectNodes(PLazyNode startNode, PLazyNode endNode) {
    if (SelectionLocked) return;
    startNode = RangeStart(*this, startNode);
    endNode = RangeStart(*this, endNode);
    if (!startNode || !endNode) return;
    if (CompareNodePositions(startNode, endNode, true) > 0) std::swap(startNode, endNode);
    for (PLazyNode n = startNode; n; n = GetNextVisible(n)) {
        if (n != FRangeAnchor) InternalRemoveFromSelection(n);
        if (n == endNode) break;
    }
    PackSelection();
    if (FUpdateCount == 0 && HandleAllocated()) Invalidate();
    Change(nullptr);
}

void TBaseLazyTree::ToggleSelection(PLazyNode startNode, PLazyNode endNode) {
    if (SelectionLocked || startNode == endNode) return;
    startNode = RangeStart(*this, startNode);
    endNode = RangeStart(*this, endNode);
    if (!startNode || !endNode || startNode == endNode) return;
    if (CompareNodePositions(startNode, endNode, true) > 0) std::swap(startNode, endNode);
    std::vector<PLazyNode> added;
    auto toggle = [&](PLazyNode n) {
        if (n->States & vsSelected)
            InternalRemoveFromSelection(n);
        else
            added.push_back(n);
    };
    // The ends change only on the side away from the anchor.
    if (FRangeAnchor && CompareNodePositions(startNode, FRangeAnchor, true) < 0) toggle(startNode);
    for (PLazyNode n = GetNextVisible(startNode); n && n != endNode; n = GetNextVisible(n))
        toggle(n);
    if (FRangeAnchor && CompareNodePositions(endNode, FRangeAnchor, true) > 0) toggle(endNode);
    PackSelection();
    if (FRangeAnchor && !(FRangeAnchor->States & vsSelected)) added.push_back(FRangeAnchor);
    InternalAddToSelection(added, false);
    if (FUpdateCount == 0 && HandleAllocated()) Invalidate();
    Change(nullptr);
}

// --- focus -----------------------------------------------------------------------------

void TBaseLazyTree::SetFocusedNode(PLazyNode node) {
    PLazyNode before = FFocusedNode;
    DoFocusNode(node, true);
    if (node != before && FFocusedNode == node) DoFocusChange(FFocusedNode, FFocusedColumn);
}

void TBaseLazyTree::SetFocusedNodeAndColumn(PLazyNode node, TColumnIndex column) {
    TColumnIndex oldColumn = FFocusedColumn;
    PLazyNode oldNode = FFocusedNode;
    if (FHeader->ColumnAllowsFocus(column)) FFocusedColumn = column;
    DoFocusNode(node, true);
    if (node && FFocusedNode == node) {
        ScrollIntoView(node, FOptions->SelectionOptions() & toCenterScrollIntoView, true);
        if (oldNode != node || oldColumn != FFocusedColumn)
            DoFocusChange(FFocusedNode, FFocusedColumn);
    } else {
        FFocusedColumn = oldColumn;
    }
}

void TBaseLazyTree::SetFocusedColumn(TColumnIndex column) {
    if (column == FFocusedColumn ||
        !DoFocusChanging(FFocusedNode, FFocusedNode, FFocusedColumn, column))
        return;
    if (FStates & TS(tsEditing, tsEditPending)) DoCancelEdit();
    FFocusedColumn = column;
    if (FFocusedNode && !(FOptions->AutoOptions() & toDisableAutoscrollOnFocus)) {
        if (ScrollIntoView(FFocusedNode, FOptions->SelectionOptions() & toCenterScrollIntoView,
                           true))
            InvalidateNode(FFocusedNode);
    }
    if (FDropTargetNode) InvalidateNode(FDropTargetNode);
    if (HandleAllocated() && FUpdateCount == 0) Invalidate();
    DoFocusChange(FFocusedNode, FFocusedColumn);
}

// --- change notices --------------------------------------------------------------------

void TBaseLazyTree::AdviseChangeEvent(bool structureChange, PLazyNode node, TChangeReason reason) {
    if (structureChange) {
        if (FStates & TS(tsStructureChangePending)) {
            if (std::exchange(FStructureTimerSet, false)) StopTimer(StructureChangeTimer);
        } else
            DoStateChange(TS(tsStructureChangePending));
        FLastStructureChangeNode = node;
        if (FLastStructureChangeReason == crIgnore)
            FLastStructureChangeReason = reason;
        else if (reason != crIgnore)
            FLastStructureChangeReason = crAccumulated;
    } else {
        if (FStates & TS(tsChangePending))
            StopTimer(ChangeTimer);
        else
            DoStateChange(TS(tsChangePending));
        FLastChangedNode = node;
    }
}

void TBaseLazyTree::Change(PLazyNode node) {
    AdviseChangeEvent(false, node, crIgnore);
    if (FUpdateCount > 0) return;
    if (ChangeDelay > 0 && !(FStates & TS(tsSynchMode)) && !(ComponentState & csDestroying))
        SetTimer(Handle(), ChangeTimer, ChangeDelay);
    else
        DoChange(node);
}

void TBaseLazyTree::StructureChange(PLazyNode node, TChangeReason reason) {
    ++FStructureChanges;
    AdviseChangeEvent(true, node, reason);
    if (FUpdateCount > 0) return;
    if (ChangeDelay > 0 && !(FStates & TS(tsSynchMode)) && !(ComponentState & csDestroying))
        FStructureTimerSet = SetTimer(Handle(), StructureChangeTimer, ChangeDelay);
    else
        DoStructureChange(FLastStructureChangeNode, FLastStructureChangeReason);
}

void TBaseLazyTree::DoTimer(uintptr_t id) {
    if (id == ChangeTimer)
        DoChange(FLastChangedNode);
    else if (id == StructureChangeTimer)
        DoStructureChange(FLastStructureChangeNode, FLastStructureChangeReason);
}

} // namespace nuq

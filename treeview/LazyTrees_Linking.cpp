// Node linking: every node enters and leaves its place through
// InternalConnectNode and InternalDisconnectNode, which keep indexes, child
// counts, total counts, total heights and the visible count right. Adding,
// inserting, moving, deleting, child counts and sorting build on them.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include "platform/ScopeGuard.h"

#include <algorithm>
#include <cstring>

namespace nuq {

bool TBaseLazyTree::ResolveAttachPlace(PLazyNode& target, TLTNodeAttachMode& mode) const {
    if (!target) target = FRoot;
    switch (mode) {
    case amInsertBefore:
    case amInsertAfter:
        // Linked as the root's sibling a node would write into the tree object itself.
        if (target == FRoot) mode = amAddChildLast;
        return true;
    case amAddChildFirst:
    case amAddChildLast:
        return true;
    default:
        return false;
    }
}

void TBaseLazyTree::InternalConnectNode(PLazyNode node, PLazyNode destination,
                                        TLTNodeAttachMode mode) {
    if (!ResolveAttachPlace(destination, mode)) return;
    PLazyNode parent = nullptr;
    switch (mode) {
    case amInsertBefore:
        parent = destination->Parent;
        node->PrevSibling = destination->PrevSibling;
        node->NextSibling = destination;
        destination->PrevSibling = node;
        if (node->PrevSibling)
            node->PrevSibling->NextSibling = node;
        else
            parent->FirstChild = node;
        node->Index = destination->Index;
        for (PLazyNode s = destination; s; s = s->NextSibling) ++s->Index;
        break;
    case amInsertAfter:
        parent = destination->Parent;
        node->NextSibling = destination->NextSibling;
        node->PrevSibling = destination;
        destination->NextSibling = node;
        if (node->NextSibling)
            node->NextSibling->PrevSibling = node;
        else
            parent->LastChild = node;
        node->Index = destination->Index;
        for (PLazyNode s = node; s; s = s->NextSibling) ++s->Index;
        break;
    case amAddChildFirst:
        parent = destination;
        node->PrevSibling = nullptr;
        node->NextSibling = destination->FirstChild;
        if (destination->FirstChild)
            destination->FirstChild->PrevSibling = node;
        else
            destination->LastChild = node;
        destination->FirstChild = node;
        node->Index = 0;
        for (PLazyNode s = node->NextSibling; s; s = s->NextSibling) ++s->Index;
        break;
    case amAddChildLast:
        parent = destination;
        node->NextSibling = nullptr;
        node->PrevSibling = destination->LastChild;
        if (destination->LastChild)
            destination->LastChild->NextSibling = node;
        else
            destination->FirstChild = node;
        destination->LastChild = node;
        node->Index = node->PrevSibling ? node->PrevSibling->Index + 1 : 0;
        break;
    default:
        return;
    }
    node->Parent = parent;
    ++parent->ChildCount;
    parent->States |= vsHasChildren;
    AdjustTotalCount(parent, node->TotalCount);
    bool visible = IsEffectivelyVisible(node);
    if ((parent->States & vsExpanded) && visible) AdjustTotalHeight(parent, node->TotalHeight);
    if (visible && ChildrenDisplayed(parent))
        FVisibleCount += 1 + ((node->States & vsExpanded) ? CountVisibleChildren(node) : 0);
    node->States =
        TLazyNodeStates(node->States & ~(vsChecking | vsCutOrCopy | vsDeleting | vsClearing));
    if (parent != FRoot) {
        if (visible)
            parent->States &= ~vsAllChildrenHidden;
        else if (parent->ChildCount == 1)
            parent->States |= vsAllChildrenHidden;
    }
}

void TBaseLazyTree::InternalDisconnectNode(PLazyNode node, bool keepFocus, bool reindex) {
    if (node == FFocusedNode && !keepFocus) {
        DoFocusNode(nullptr, false);
        DoFocusChange(FFocusedNode, FFocusedColumn);
    }
    if (node == FRangeAnchor) ResetRangeAnchor();
    if (node == FRangeAnchor) FRangeAnchor = nullptr; // the focused node itself leaves
    if (node->States & vsDeleting) return;            // already on its way out
    node->States &= ~vsChecking;
    PLazyNode parent = node->Parent;
    bool visible = IsEffectivelyVisible(node);
    if (visible && ChildrenDisplayed(parent))
        FVisibleCount -= 1 + ((node->States & vsExpanded) ? CountVisibleChildren(node) : 0);
    if ((parent->States & vsExpanded) && visible)
        AdjustTotalHeight(parent, -int64_t(node->TotalHeight));
    AdjustTotalCount(parent, -int64_t(node->TotalCount));
    if (node->PrevSibling)
        node->PrevSibling->NextSibling = node->NextSibling;
    else
        parent->FirstChild = node->NextSibling;
    if (node->NextSibling)
        node->NextSibling->PrevSibling = node->PrevSibling;
    else
        parent->LastChild = node->PrevSibling;
    if (reindex) {
        uint32_t index = node->Index;
        for (PLazyNode s = node->NextSibling; s; s = s->NextSibling) s->Index = index++;
    }
    node->PrevSibling = node->NextSibling = nullptr;
    if (--parent->ChildCount == 0) {
        if (parent != FRoot) parent->States &= ~(vsHasChildren | vsAllChildrenHidden | vsExpanded);
        if (parent != FRoot) FExpandedNodes.Erase(parent);
    } else if (parent != FRoot && !(parent->States & vsClearing)) {
        // Recomputed without the node that left.
        if (FUpdateCount > 0)
            DoStateChange(TS(tsUpdateHiddenChildrenNeeded));
        else
            UpdateAllChildrenHidden(parent);
    }
}

// --- adding ----------------------------------------------------------------------------

PLazyNode TBaseLazyTree::AddChild(PLazyNode parent, const void* userData) {
    return InsertNode(parent, amAddChildLast, userData);
}

PLazyNode TBaseLazyTree::InsertNode(PLazyNode node, TLTNodeAttachMode mode, const void* userData) {
    if ((FOptions->MiscOptions() & toReadOnly) || !ResolveAttachPlace(node, mode)) return nullptr;
    PLazyNode parent = (mode == amInsertBefore || mode == amInsertAfter) ? node->Parent : node;
    // Before the parent's initialisation writes to it: the validation thread may be reading it.
    InterruptValidation();
    if (parent != FRoot && !(parent->States & vsInitialized)) InitNode(parent);
    // The user data holds a whole pointer, so it needs a pointer's room.
    if (userData && FNodeDataSize < int(sizeof(void*)))
        RaiseTreeError(
            u"Cannot set initial user data because there is not enough user data space allocated.",
            2008);
    PLazyNode added = MakeNewNode();
    if (userData) {
        if (void* data = GetNodeData(added)) {
            std::memcpy(data, &userData, sizeof userData);
            added->States |= vsInitialUserData;
        }
    }
    InternalConnectNode(added, node, mode);
    InvalidateCache();
    if (FUpdateCount == 0) InvalidateChangedRows(parent, added->PrevSibling);
    StructureChange(parent == FRoot ? nullptr : parent,
                    mode == amAddChildLast ? crChildAdded : crNodeAdded);
    if (FUpdateCount == 0) QueueValidation(); // which waits for the update's end anyway
    return added;
}

// --- moving ----------------------------------------------------------------------------

void TBaseLazyTree::MoveTo(PLazyNode source, PLazyNode target, TLTNodeAttachMode mode) {
    if (!source || source == FRoot || (FOptions->MiscOptions() & toReadOnly) ||
        !ResolveAttachPlace(target, mode))
        return;
    // A node cannot go into its own subtree, nor next to itself.
    if (target == source || HasAsParent(target, source)) return;
    PLazyNode newParent =
        (mode == amInsertBefore || mode == amInsertAfter) ? target->Parent : target;
    if (!DoNodeMoving(source, newParent == FRoot ? nullptr : newParent)) return;
    InterruptValidation();
    PLazyNode oldParent = source->Parent;
    InternalDisconnectNode(source, true, true);
    if (newParent != FRoot && !(newParent->States & vsInitialized)) InitNode(newParent);
    InternalConnectNode(source, target, mode);
    if (oldParent != FRoot && oldParent->ChildCount == 0) oldParent->States &= ~vsAllChildrenHidden;
    InvalidateCache();
    // Rows from the old place to the new one show other nodes now.
    if (FUpdateCount == 0 && HandleAllocated()) Invalidate();
    DoNodeMoved(source);
    StructureChange(source, crNodeMoved);
    QueueValidation();
}

// --- deleting --------------------------------------------------------------------------

void TBaseLazyTree::DeleteSubtree(PLazyNode node, TLazyWalkAhead ahead) {
    // Deepest and last first; the caller has taken the subtree out of the counts.
    // Walked through the parent links, not by recursion: a deep chain must not
    // exhaust the stack. A node is freed once all its children are.
    node->States |= vsClearing;
    PLazyNode run = node->LastChild;
    while (run) {
        if (run->FirstChild) {
            run->States |= vsClearing;
            run = run->LastChild;
            continue;
        }
        for (;;) {
            ahead.Step();
            PLazyNode prev = run->PrevSibling;
            PLazyNode parent = run->Parent;
            run->States |= vsDeleting;
            if (run->States & vsSelected) RemoveSelectionEntry(run);
            ForgetHintNode(run);
            DoFreeNode(run);
            if (prev) {
                run = prev;
                break;
            }
            if (parent == node) {
                run = nullptr;
                break;
            }
            // The last child of Parent is gone: Parent itself goes next.
            parent->FirstChild = parent->LastChild = nullptr;
            parent->ChildCount = 0;
            parent->States &= ~vsClearing;
            run = parent;
        }
    }
    node->FirstChild = node->LastChild = nullptr;
    node->ChildCount = 0;
    node->States &= ~vsClearing;
}

void TBaseLazyTree::DeleteChildren(PLazyNode node, bool resetHasChildren) {
    if (!node) return;
    if (node->ChildCount == 0) {
        if (resetHasChildren && node != FRoot) node->States &= ~vsHasChildren;
        return;
    }
    InterruptValidation();
    // The root's children show every node shown, a count spared on a whole tree.
    if (node == FRoot)
        FVisibleCount = 0;
    else if (ChildrenDisplayed(node))
        FVisibleCount -= CountVisibleChildren(node);
    if (node->States & vsExpanded)
        AdjustTotalHeight(node, -(int64_t(node->TotalHeight) - node->NodeHeight));
    // When every block of the store is in the tree, the whole tree goes: the
    // events still come for every node, the blocks go back with their slabs.
    FFreeingAllNodes = node == FRoot && FNodeSlabs.Live() == FRoot->TotalCount - 1;
    TLazyWalkAhead ahead;
    if (FFreeingAllNodes) {
        ahead = WalkAhead(FRoot, true);
        FExpandedNodes.Track({}); // none left; spares a look-up per node freed
    }
    AdjustTotalCount(node, -(int64_t(node->TotalCount) - 1));
    {
        TScopeExit freed([this] { FFreeingAllNodes = false; });
        DeleteSubtree(node, std::move(ahead));
        if (FFreeingAllNodes) FNodeSlabs.ReleaseAll();
    }
    node->States &= ~vsAllChildrenHidden;
    if (resetHasChildren && node != FRoot) node->States &= ~vsHasChildren;
    InvalidateCache();
    InvalidateChangedRows(node, nullptr);
    StructureChange(node == FRoot ? nullptr : node, crChildDeleted);
    QueueValidation();
}

void TBaseLazyTree::DeleteNode(PLazyNode node, bool reindex) {
    if (!node) return;
    if (node == FRoot) {
        DeleteChildren(FRoot, true);
        return;
    }
    PLazyNode parent = node->Parent, before = node->PrevSibling;
    if (InternalDeleteNode(node, reindex)) InvalidateChangedRows(parent, before);
}

bool TBaseLazyTree::InternalDeleteNode(PLazyNode node, bool reindex) {
    if (node->States & vsDeleting) return false;
    InterruptValidation();
    PLazyNode parent = node->Parent;
    InternalDisconnectNode(node, false, reindex);
    node->States |= vsDeleting;
    if (node->FirstChild) DeleteSubtree(node);
    if (node->States & vsSelected) {
        RemoveSelectionEntry(node);
        if (FSelectionCount == 0) ResetRangeAnchor();
        Change(nullptr);
    }
    ForgetHintNode(node);
    DoFreeNode(node);
    InvalidateCache();
    StructureChange(parent == FRoot ? nullptr : parent, crChildDeleted);
    QueueValidation();
    return true;
}

void TBaseLazyTree::Clear() {
    if ((FOptions->MiscOptions() & toReadOnly) && !(ComponentState & csDestroying)) return;
    TUpdateScope update(*this);
    CancelCutOrCopy();
    InternalClearSelection();
    FFocusedNode = nullptr;
    FRangeAnchor = nullptr;
    DeleteChildren(FRoot, true);
    FRoot->States |= vsHasChildren; // the root may always have children
}

// --- child counts ----------------------------------------------------------------------

void TBaseLazyTree::SetChildCount(PLazyNode node, uint32_t newCount) {
    if (FOptions->MiscOptions() & toReadOnly) return;
    DoSetChildCountInternal(node ? node : FRoot, newCount);
}

void TBaseLazyTree::DoSetChildCountInternal(PLazyNode node, uint32_t newCount) {
    if (newCount == 0) {
        DeleteChildren(node);
        return;
    }
    if (newCount == node->ChildCount) return;
    InterruptValidation();
    // A count above the children linked stops when none is left to delete.
    // The rows are repainted once, not per node deleted.
    while (node->ChildCount > newCount && node->LastChild)
        InternalDeleteNode(node->LastChild, false);
    if (!node->LastChild) node->ChildCount = 0;
    PLazyNode before = node->LastChild;
    if (newCount > node->ChildCount) {
        uint32_t add = newCount - node->ChildCount;
        uint32_t index = node->LastChild ? node->LastChild->Index + 1 : 0;
        if (!node->FirstChild) node->States |= vsHasChildren;
        node->States = TLazyNodeStates(node->States & ~(vsAllChildrenHidden | vsHeightMeasured));
        int64_t heights = 0;
        for (uint32_t i = 0; i < add; ++i) {
            PLazyNode child = MakeNewNode();
            child->Parent = node;
            child->Index = index++;
            child->PrevSibling = node->LastChild;
            if (node->LastChild)
                node->LastChild->NextSibling = child;
            else
                node->FirstChild = child;
            node->LastChild = child;
            heights += child->NodeHeight;
        }
        if (node->States & vsExpanded) {
            AdjustTotalHeight(node, heights);
            if (ChildrenDisplayed(node)) FVisibleCount += add;
        }
        AdjustTotalCount(node, add);
        node->ChildCount = newCount;
        if (FUpdateCount == 0 && (FOptions->AutoOptions() & toAutoSort) &&
            FHeader->SortColumn > InvalidColumn) {
            Sort(node, FHeader->SortColumn, FHeader->SortDirection, false);
            before = nullptr; // the old children may have moved down among the new
        }
        InvalidateCache();
        InvalidateChangedRows(node, before);
        StructureChange(node == FRoot ? nullptr : node, crChildAdded);
    } else {
        InvalidateCache();
        InvalidateChangedRows(node, before);
    }
    QueueValidation();
}

// --- sorting ---------------------------------------------------------------------------

namespace {

// A stable merge sort of one row of siblings. A comparison reads two nodes
// and whatever data of the owner's they lead to, which in a long row lie far
// apart in memory. Halves are sorted whole before they merge, so that most
// merges work on a part of the row that stays in the processor's caches, and
// the nodes the next comparison may read are fetched while the current pair
// is compared.
class TSiblingSort {
public:
    template <class Less>
    static void Run(std::vector<PLazyNode>& rows, size_t dataOffset, Less less) {
        TSiblingSort sort(dataOffset);
        std::vector<PLazyNode> buffer(rows.size());
        sort.SortRange(rows.data(), rows.size(), buffer.data(), less);
    }

private:
    static constexpr size_t RunLength = 8;
    size_t FDataOffset;

    explicit TSiblingSort(size_t dataOffset) : FDataOffset(dataOffset) {}

    void Fetch(PLazyNode node) const {
        __builtin_prefetch(node);
        __builtin_prefetch(reinterpret_cast<const uint8_t*>(node) + FDataOffset);
    }
    template <class Less>
    void SortRange(PLazyNode* rows, size_t count, PLazyNode* buffer, Less& less) const {
        if (count <= RunLength) {
            for (size_t i = 1; i < count; ++i) {
                PLazyNode n = rows[i];
                size_t j = i;
                for (; j > 0 && less(n, rows[j - 1]); --j) rows[j] = rows[j - 1];
                rows[j] = n;
            }
            return;
        }
        size_t half = count / 2;
        SortRange(rows, half, buffer, less);
        SortRange(rows + half, count - half, buffer, less);
        Merge(rows, rows + half, rows + count, buffer, less);
        std::copy(buffer, buffer + count, rows);
    }
    template <class Less>
    void Merge(PLazyNode* a, PLazyNode* aEnd, PLazyNode* bEnd, PLazyNode* out, Less& less) const {
        PLazyNode* b = aEnd;
        while (a != aEnd && b != bEnd) {
            if (a + 1 != aEnd) Fetch(a[1]);
            if (b + 1 != bEnd) Fetch(b[1]);
            // Equal nodes keep their order: the left run's goes first.
            *out++ = less(*b, *a) ? *b++ : *a++;
        }
        out = std::copy(a, aEnd, out);
        std::copy(b, bEnd, out);
    }
};

} // namespace

void TBaseLazyTree::Sort(PLazyNode node, TColumnIndex column, TSortDirection direction,
                         bool doInit) {
    if (!node) node = FRoot;
    if (node->ChildCount < 2) return;
    InterruptValidation();
    std::vector<PLazyNode> children;
    children.reserve(node->ChildCount);
    for (PLazyNode c = node->FirstChild; c; c = c->NextSibling) {
        if (doInit && !(c->States & vsInitialized)) InitNode(c);
        children.push_back(c);
    }
    size_t dataOffset = size_t(TreeNodeSize + FTotalInternalDataSize);
    if (direction == sdAscending)
        TSiblingSort::Run(children, dataOffset,
                          [&](PLazyNode a, PLazyNode b) { return DoCompare(a, b, column) < 0; });
    else
        TSiblingSort::Run(children, dataOffset,
                          [&](PLazyNode a, PLazyNode b) { return DoCompare(b, a, column) < 0; });
    PLazyNode prev = nullptr;
    uint32_t index = 0;
    for (PLazyNode c : children) {
        // Sorted, a long row of siblings lies all over memory.
        if (index + 8 < children.size()) __builtin_prefetch(children[index + 8], 1);
        c->Index = index++;
        c->PrevSibling = prev;
        if (prev) prev->NextSibling = c;
        prev = c;
    }
    prev->NextSibling = nullptr;
    node->FirstChild = children.front();
    node->LastChild = prev;
    InvalidateCache();
    if (FUpdateCount == 0 && HandleAllocated()) Invalidate();
    QueueValidation();
}

void TBaseLazyTree::SortTree(TColumnIndex column, TSortDirection direction, bool doInit) {
    InterruptValidation();
    // Every level, parents before their children; only nodes that exist are sorted.
    std::vector<PLazyNode> pending{FRoot};
    while (!pending.empty()) {
        PLazyNode n = pending.back();
        pending.pop_back();
        if (doInit) {
            // Initialising may give nodes children: they are looked for after the sort.
            Sort(n, column, direction, true);
            for (PLazyNode c = n->FirstChild; c; c = c->NextSibling)
                if (c->FirstChild) pending.push_back(c);
            continue;
        }
        // The parents among the children are noted before the sort scatters
        // the row in memory, then put in their new order.
        size_t mark = pending.size();
        for (PLazyNode c = n->FirstChild; c; c = c->NextSibling)
            if (c->FirstChild) pending.push_back(c);
        Sort(n, column, direction, false);
        std::sort(pending.begin() + ptrdiff_t(mark), pending.end(),
                  [](PLazyNode a, PLazyNode b) { return a->Index < b->Index; });
    }
    InvalidateCache();
    if (HandleAllocated()) Invalidate();
    QueueValidation();
}

} // namespace nuq

// Node bookkeeping: the derived fields of the node record (counts, heights,
// the visible count, vsAllChildrenHidden), visibility questions, heights on
// demand, the order of two nodes, expanding and collapsing, and the
// check-state change with its tri-state and radio-button propagation.

#include "treeview/LazyTrees.h"

#include "platform/ScopeGuard.h"

namespace nuq {

// --- visibility ------------------------------------------------------------------------

bool TBaseLazyTree::IsDisplayed(PLazyNode node) const {
    for (PLazyNode run = node; run != FRoot; run = run->Parent) {
        if (!IsEffectivelyVisible(run)) return false;
        if (run->Parent != FRoot && !(run->Parent->States & vsExpanded)) return false;
    }
    return true;
}

bool TBaseLazyTree::FullyVisible(PLazyNode node) const {
    return node && IsDisplayed(node);
}

uint32_t TBaseLazyTree::CountVisibleChildren(PLazyNode node) const {
    // A closed node shows none of its children. Iterative: a deep chain must
    // not exhaust the stack.
    if (node != FRoot && !(node->States & vsExpanded)) return 0;
    uint32_t count = 0;
    PLazyNode run = node->FirstChild;
    while (run) {
        bool descend = false;
        if (IsEffectivelyVisible(run)) {
            ++count;
            descend = (run->States & vsExpanded) && run->FirstChild;
        }
        if (descend) {
            run = run->FirstChild;
            continue;
        }
        while (run != node && !run->NextSibling) run = run->Parent;
        if (run == node) break;
        run = run->NextSibling;
    }
    return count;
}

void TBaseLazyTree::UpdateAllChildrenHidden(PLazyNode node) {
    if (node == FRoot) return;
    bool hidden = node->ChildCount > 0;
    for (PLazyNode c = node->FirstChild; c && hidden; c = c->NextSibling)
        if (IsEffectivelyVisible(c)) hidden = false;
    node->States = TLazyNodeStates(hidden ? (node->States | vsAllChildrenHidden)
                                          : (node->States & ~vsAllChildrenHidden));
}

void TBaseLazyTree::RecountAfterHiddenNodesChange() {
    // Hidden nodes flip all at once, so the whole tree is counted again.
    FixupTotalHeight(FRoot);
    FVisibleCount = CountVisibleChildren(FRoot);
    for (PLazyNode n = GetFirstNoInit(); n; n = GetNextNoInit(n))
        if (n->ChildCount) UpdateAllChildrenHidden(n);
    InvalidateCache();
}

void TBaseLazyTree::VisibilityChanged(PLazyNode node, bool show) {
    PLazyNode parent = node->Parent;
    if (parent->States & vsExpanded)
        AdjustTotalHeight(parent, show ? int64_t(node->TotalHeight) : -int64_t(node->TotalHeight));
    if (ChildrenDisplayed(parent)) {
        uint32_t n = 1 + ((node->States & vsExpanded) ? CountVisibleChildren(node) : 0);
        FVisibleCount = show ? FVisibleCount + n : FVisibleCount - n;
    }
    if (FUpdateCount > 0)
        DoStateChange(TS(tsUpdateHiddenChildrenNeeded));
    else
        UpdateAllChildrenHidden(parent);
    InvalidateCache();
}

bool TBaseLazyTree::IsVisible(PLazyNode node) {
    if (!node) node = FRoot;
    if (!(node->States & vsInitialized)) InitNode(node);
    return node->States & vsVisible;
}

void TBaseLazyTree::SetIsVisible(PLazyNode node, bool value) {
    if (!node || node == FRoot || value == bool(node->States & vsVisible)) return;
    InterruptValidation();
    bool before = IsEffectivelyVisible(node);
    node->States =
        TLazyNodeStates(value ? (node->States | vsVisible) : (node->States & ~vsVisible));
    if (before != IsEffectivelyVisible(node)) VisibilityChanged(node, !before);
    QueueValidation();
}

void TBaseLazyTree::SetIsHidden(PLazyNode node, bool value) {
    if (!node || node == FRoot || value == bool(node->States & vsHidden)) return;
    InterruptValidation();
    bool before = IsEffectivelyVisible(node);
    node->States = TLazyNodeStates(value ? (node->States | vsHidden) : (node->States & ~vsHidden));
    if (before != IsEffectivelyVisible(node)) VisibilityChanged(node, !before);
    QueueValidation();
}

bool TBaseLazyTree::HasVisibleParents(PLazyNode node) const {
    if (!node || node == FRoot) return true;
    for (PLazyNode run = node->Parent; run != FRoot; run = run->Parent)
        if (!(run->States & vsExpanded) || !(run->States & vsVisible)) return false;
    return true;
}

bool TBaseLazyTree::HasVisibleNextSibling(PLazyNode node) const {
    if (!node || node == FRoot) return false;
    for (PLazyNode s = node->NextSibling; s; s = s->NextSibling)
        if (IsEffectivelyVisible(s)) return true;
    return false;
}

bool TBaseLazyTree::HasVisiblePreviousSibling(PLazyNode node) const {
    if (!node || node == FRoot) return false;
    for (PLazyNode s = node->PrevSibling; s; s = s->PrevSibling)
        if (IsEffectivelyVisible(s)) return true;
    return false;
}

bool TBaseLazyTree::IsFirstVisibleChild(PLazyNode parent, PLazyNode node) const {
    if (!parent) parent = FRoot;
    for (PLazyNode c = parent->FirstChild; c; c = c->NextSibling)
        if (IsEffectivelyVisible(c)) return c == node;
    return false;
}

bool TBaseLazyTree::IsLastVisibleChild(PLazyNode parent, PLazyNode node) const {
    if (!parent) parent = FRoot;
    for (PLazyNode c = parent->LastChild; c; c = c->PrevSibling)
        if (IsEffectivelyVisible(c)) return c == node;
    return false;
}

// --- counts and heights ----------------------------------------------------------------

// Both fix-ups walk the subtree through the parent links instead of recursing,
// so that a deep chain cannot exhaust the stack: a node is summed into its
// parent once its own subtree is done.

void TBaseLazyTree::FixupTotalCount(PLazyNode node) {
    // Node.TotalCount holds the node's own count on entry.
    PLazyNode run = node->FirstChild;
    while (run) {
        run->TotalCount = 1;
        if (run->FirstChild) {
            run = run->FirstChild;
            continue;
        }
        for (;;) {
            PLazyNode parent = run->Parent;
            parent->TotalCount += run->TotalCount;
            if (run->NextSibling) {
                run = run->NextSibling;
                break;
            }
            run = parent == node ? nullptr : parent;
            if (!run) break;
        }
    }
}

namespace {

// Total heights below Node counted afresh, in one walk that also counts the
// nodes shown below it (as CountVisibleChildren does): on a million nodes
// every walk costs a cache miss per node.
uint32_t FixupHeightsAndCount(const TBaseLazyTree& tree, PLazyNode node, TLazyWalkAhead ahead) {
    auto visible = [&tree](PLazyNode n) { return tree.IsEffectivelyVisible(n); };
    auto open = [&](PLazyNode n) { return (n->States & vsExpanded) && visible(n); };
    uint32_t shown = 0;
    uint32_t closed = 0; // ancestors between Node and the walk that do not show their children
    node->TotalHeight = node->NodeHeight;
    PLazyNode run = node->FirstChild;
    while (run) {
        ahead.Step();
        run->TotalHeight = run->NodeHeight;
        bool runVisible = visible(run);
        if (closed == 0 && runVisible) ++shown;
        if (run->FirstChild) {
            if (!((run->States & vsExpanded) && runVisible)) ++closed;
            run = run->FirstChild;
            continue;
        }
        for (;;) {
            PLazyNode parent = run->Parent;
            if ((parent->States & vsExpanded) && visible(run))
                parent->TotalHeight += run->TotalHeight;
            if (PLazyNode next = run->NextSibling) {
                __builtin_prefetch(next->NextSibling);
                run = next;
                break;
            }
            if (parent == node) {
                run = nullptr;
                break;
            }
            if (!open(parent)) --closed;
            run = parent;
        }
    }
    return shown;
}

} // namespace

void TBaseLazyTree::FixupTotalHeight(PLazyNode node) {
    FixupHeightsAndCount(*this, node, WalkAhead(node, false));
}

uint32_t TBaseLazyTree::GetNodeHeight(PLazyNode node) {
    if (!node || node == FRoot) return 0;
    if (FOptions->MiscOptions() & toVariableNodeHeight) {
        if (!(node->States & vsInitialized)) InitNode(node);
        MeasureItemHeight(Canvas(), node);
    }
    return node->NodeHeight;
}

void TBaseLazyTree::MeasureItemHeight(TCanvas& canvas, PLazyNode node) {
    if (!node || node == FRoot || (node->States & vsHeightMeasured)) return;
    node->States |= vsHeightMeasured;
    int height = node->NodeHeight;
    DoMeasureItem(canvas, node, height);
    if (height >= 0 && uint32_t(height) != node->NodeHeight) SetNodeHeight(node, uint32_t(height));
}

void TBaseLazyTree::SetNodeHeight(PLazyNode node, uint32_t value) {
    if (!node || node == FRoot || (FOptions->MiscOptions() & toReadOnly)) return;
    value = std::min<uint32_t>(value, UINT16_MAX);
    if (value == node->NodeHeight) return;
    int64_t delta = int64_t(value) - node->NodeHeight;
    node->NodeHeight = uint16_t(value);
    AdjustTotalHeight(node, delta);
    UpdateEditBounds();
    if (!(FStates & TS(tsValidating)) && FullyVisible(node)) {
        InvalidateCache();
        QueueValidation();
        if (FUpdateCount == 0 && HandleAllocated()) {
            InvalidateToBottom(node);
            UpdateVerticalScrollBar(true);
        }
    }
}

// --- order -----------------------------------------------------------------------------

int TBaseLazyTree::CompareNodePositions(PLazyNode node1, PLazyNode node2,
                                        bool considerChildrenAbove) {
    if (node1 == node2) return 0;
    bool above = considerChildrenAbove && (FOptions->PaintOptions() & toChildrenAbove);
    if (HasAsParent(node1, node2)) return above ? -1 : 1;
    if (HasAsParent(node2, node1)) return above ? 1 : -1;
    unsigned level1 = GetNodeLevel(node1), level2 = GetNodeLevel(node2);
    for (; level1 > level2; --level1) node1 = node1->Parent;
    for (; level2 > level1; --level2) node2 = node2->Parent;
    while (node1->Parent != node2->Parent) {
        node1 = node1->Parent;
        node2 = node2->Parent;
    }
    return int(int64_t(node1->Index) - int64_t(node2->Index));
}

// --- the expanded nodes ----------------------------------------------------------------

size_t TLazyNodeSet::Find(PLazyNode node) const {
    if (FSlots.empty()) return 0;
    size_t mask = FSlots.size() - 1;
    for (size_t i = Home(node);; i = (i + 1) & mask) {
        if (FSlots[i] == node) return i;
        if (!FSlots[i]) return FSlots.size();
    }
}

bool TLazyNodeSet::Contains(PLazyNode node) const {
    return Find(node) < FSlots.size();
}

void TLazyNodeSet::Insert(PLazyNode node, size_t most) {
    ++FInsertions;
    if (!FTracking || Contains(node)) return;
    if (FSize >= most && FKeeps == 0) {
        Clear();
        FTracking = false;
        return;
    }
    if ((FSize + 1) * 2 > FSlots.size()) Rehash(std::max<size_t>(16, FSlots.size() * 2));
    size_t mask = FSlots.size() - 1;
    size_t i = Home(node);
    while (FSlots[i]) i = (i + 1) & mask;
    FSlots[i] = node;
    ++FSize;
}

void TLazyNodeSet::Track(const std::vector<PLazyNode>& members) {
    Clear();
    size_t capacity = 16;
    while (capacity < members.size() * 2) capacity *= 2;
    Rehash(capacity);
    FTracking = true;
    size_t mask = capacity - 1;
    for (PLazyNode n : members) {
        size_t i = Home(n);
        while (FSlots[i] && FSlots[i] != n) i = (i + 1) & mask;
        if (!FSlots[i]) ++FSize;
        FSlots[i] = n;
    }
}

void TLazyNodeSet::EraseMember(PLazyNode node) {
    size_t i = Find(node);
    if (i >= FSlots.size()) return;
    // Later members of the run move up into the hole unless their home
    // lies after it (cyclically), so that every probe still finds them.
    size_t mask = FSlots.size() - 1;
    for (size_t j = (i + 1) & mask; FSlots[j]; j = (j + 1) & mask) {
        size_t home = Home(FSlots[j]);
        bool stays = i <= j ? (i < home && home <= j) : (i < home || home <= j);
        if (stays) continue;
        FSlots[i] = FSlots[j];
        i = j;
    }
    FSlots[i] = nullptr;
    if (--FSize == 0) {
        Clear();
    } else if (FSlots.size() > 64 && FSize * 8 < FSlots.size()) {
        // A table left mostly empty by a collapse would cost every visit its size.
        try {
            Rehash(FSlots.size() / 4);
        } catch (const std::bad_alloc&) {
            // The larger table serves as well.
        }
    }
}

void TLazyNodeSet::Clear() {
    FSlots = {};
    FSize = 0;
    FShift = 64;
}

void TLazyNodeSet::Rehash(size_t capacity) {
    std::vector<PLazyNode> old = std::exchange(FSlots, std::vector<PLazyNode>(capacity, nullptr));
    FShift = 64;
    for (size_t c = capacity; c > 1; c >>= 1) --FShift;
    size_t mask = capacity - 1;
    for (PLazyNode n : old) {
        if (!n) continue;
        size_t i = Home(n);
        while (FSlots[i]) i = (i + 1) & mask;
        FSlots[i] = n;
    }
}

// --- expanding and collapsing ----------------------------------------------------------

void TBaseLazyTree::SetExpanded(PLazyNode node, bool value) {
    if (!node || node == FRoot || value == bool(node->States & vsExpanded)) return;
    ToggleNode(node);
}

void TBaseLazyTree::ToggleNode(PLazyNode node) {
    InternalToggleNode(node, false);
}

bool TBaseLazyTree::InternalToggleNode(PLazyNode node, bool countLater) {
    // CountLater leaves the heights and the visible count to the caller
    // (FinishDeferredToggles): keeping them exact at every node costs a walk
    // up to the root each, which a deep subtree cannot afford.
    if (!node || node == FRoot || (node->States & vsToggling)) return false;
    if (node->States & vsExpanded) {
        if (!DoCollapsing(node)) return false;
        // The nodes below move: the validation thread must be off the tree.
        InterruptValidation();
        node->States |= vsToggling;
        DoStateChange(TS(tsCollapsing));
        if (!countLater && ChildrenDisplayed(node)) FVisibleCount -= CountVisibleChildren(node);
        int64_t delta = int64_t(node->TotalHeight) - node->NodeHeight;
        node->States &= ~vsExpanded;
        FExpandedNodes.Erase(node);
        if (!countLater) {
            AdjustTotalHeight(node, -delta);
            AnimateToggle(node, false, delta);
        } else {
            // Nothing below a closed node counts: its own total is known
            // now, while a handler may still free it. Its ancestors are the caller's.
            node->TotalHeight = node->NodeHeight;
        }
        InvalidateCache();
        DoStateChange(0, TS(tsCollapsing));
        node->States &= ~vsToggling;
        const uint64_t frees = FFreedNodes;
        DoCollapsed(node);
        if (!countLater && FFreedNodes == frees) FocusOntoCollapsed();
    } else {
        if (!DoExpanding(node)) return false;
        InterruptValidation();
        node->States |= vsToggling;
        DoStateChange(TS(tsExpanding));
        InitChildren(node);
        FExpandedNodes.Insert(node, TLazyNodeSet::Worthwhile(FRoot->TotalCount));
        node->States |= vsExpanded;
        if (!countLater) {
            int64_t delta = 0;
            for (PLazyNode c = node->FirstChild; c; c = c->NextSibling)
                if (IsEffectivelyVisible(c)) delta += c->TotalHeight;
            AdjustTotalHeight(node, delta);
            if (ChildrenDisplayed(node)) FVisibleCount += CountVisibleChildren(node);
            AnimateToggle(node, true, delta);
        }
        InvalidateCache();
        DoStateChange(0, TS(tsExpanding));
        node->States &= ~vsToggling;
        DoExpanded(node);
    }
    if (FUpdateCount == 0 && HandleAllocated()) Invalidate();
    if (!countLater) QueueValidation();
    return true;
}

// A focused node hidden by closing a group above it: the focus moves onto
// the outermost closed group, where a person sees it and the keys go on from
// there (not opening it again as they would from a hidden node).
void TBaseLazyTree::FocusOntoCollapsed() {
    PLazyNode shown = nullptr;
    for (PLazyNode up = FFocusedNode ? FFocusedNode->Parent : nullptr; up && up != FRoot;
         up = up->Parent)
        if (!(up->States & vsExpanded)) shown = up;
    if (!shown) return;
    // Focusing must not open it again (automatic expansion of the focused node).
    const bool toggling = shown->States & vsToggling;
    shown->States |= vsToggling;
    TScopeExit back([&] {
        if (!toggling) shown->States &= ~vsToggling;
    });
    SetFocusedNode(shown);
}

void TBaseLazyTree::FinishDeferredToggles(PLazyNode node, TLazyWalkAhead ahead) {
    // Heights below Node are counted afresh; its ancestors have seen every
    // change that passed through Node, so they take the difference to its old
    // total. Toggles by handlers elsewhere kept the visible count by deltas; a
    // recount of the displayed nodes covers both.
    uint32_t old = node->TotalHeight;
    uint32_t shown = FixupHeightsAndCount(*this, node, std::move(ahead).Again(false));
    if (node == FRoot) {
        FVisibleCount = shown;
        return;
    }
    if (IsEffectivelyVisible(node) && (node->Parent->States & vsExpanded))
        AdjustTotalHeight(node->Parent, int64_t(node->TotalHeight) - int64_t(old));
    FVisibleCount = CountVisibleChildren(FRoot);
}

void TBaseLazyTree::FullExpand(PLazyNode node) {
    TUpdateScope update(*this);
    // Parents first; the heights and the visible count are counted once at the end.
    bool toggled = false;
    TLazyWalkAhead ahead;
    TScopeExit recount([&] {
        if (toggled) FinishDeferredToggles(node ? node : FRoot, std::move(ahead));
    });
    PLazyNode stop = nullptr;
    PLazyNode run = node;
    if (node) {
        for (PLazyNode up = node; up != FRoot && !stop; up = up->Parent) stop = up->NextSibling;
    } else {
        ahead = WalkAhead(FRoot, false);
        run = GetFirst();
    }
    while (run && run != stop) {
        ahead.Step();
        if ((run->States & vsHasChildren) && !(run->States & vsExpanded) &&
            InternalToggleNode(run, true))
            toggled = true;
        run = GetNext(run);
    }
}

namespace {

// The total height of an open node whose children's totals are right.
uint32_t OpenNodeHeight(const TBaseLazyTree& tree, PLazyNode node) {
    uint32_t height = node->NodeHeight;
    for (PLazyNode c = node->FirstChild; c; c = c->NextSibling)
        if (tree.IsEffectivelyVisible(c)) height += c->TotalHeight;
    return height;
}

} // namespace

bool TBaseLazyTree::ExpandedBelowByIndex(PLazyNode top, std::vector<PLazyNode>& found) const {
    // Worth it while the expanded nodes and their paths are few beside the
    // nodes a walk would read (or few at all); each is placed by its path
    // of indexes from Top.
    size_t budget = TLazyNodeSet::Worthwhile(top->TotalCount);
    if (!FExpandedNodes.Tracking() || FExpandedNodes.Size() > budget) return false;
    struct TPlaced {
        PLazyNode Node;
        size_t First, End; // of its path in Paths
    };
    std::vector<uint32_t> paths;
    std::vector<TPlaced> placed;
    size_t steps = 0;
    FExpandedNodes.ForEach([&](PLazyNode n) {
        if (!(n->States & vsExpanded)) return true;
        size_t first = paths.size();
        PLazyNode run = n;
        for (; run != top && run != FRoot; run = run->Parent) paths.push_back(run->Index);
        steps += paths.size() - first + 1;
        if (run != top) {
            paths.resize(first); // outside the subtree
        } else {
            std::reverse(paths.begin() + ptrdiff_t(first), paths.end());
            placed.push_back({n, first, paths.size()});
        }
        return steps <= budget;
    });
    if (steps > budget) return false;
    // Pre-order is the order of the paths, a parent's before its children's; backwards here.
    auto at = [&paths](size_t i) { return paths.begin() + ptrdiff_t(i); };
    std::sort(placed.begin(), placed.end(), [&](const TPlaced& a, const TPlaced& b) {
        return std::lexicographical_compare(at(b.First), at(b.End), at(a.First), at(a.End));
    });
    found.reserve(placed.size());
    for (const TPlaced& p : placed) found.push_back(p.Node);
    return true;
}

std::vector<PLazyNode> TBaseLazyTree::ExpandedBelow(PLazyNode top) {
    std::vector<PLazyNode> found;
    if (ExpandedBelowByIndex(top, found)) return found;
    return ExpandedBelowByWalk(top);
}

std::vector<PLazyNode> TBaseLazyTree::ExpandedBelowByWalk(PLazyNode top) {
    std::vector<PLazyNode> found;
    TLazyWalkAhead ahead = WalkAhead(top, false);
    PLazyNode run = top == FRoot ? top->FirstChild : top;
    while (run) {
        ahead.Step();
        if (run->States & vsExpanded) found.push_back(run);
        if (run->FirstChild) {
            run = run->FirstChild;
            continue;
        }
        while (run != top && !run->NextSibling) run = run->Parent;
        run = run == top ? nullptr : run->NextSibling;
    }
    std::reverse(found.begin(), found.end());
    return found;
}

void TBaseLazyTree::FullCollapse(PLazyNode node) {
    TUpdateScope update(*this);
    PLazyNode top = node ? node : FRoot;
    std::vector<PLazyNode> open = ExpandedBelow(top);
    if (open.empty()) return;
    // Children close before their parents. A node's total height is right
    // once it is closed, or refused and counted from its children, all of
    // which are done by then; Top closes as any single toggle does, which
    // keeps its ancestors right. What stays is the root's total and the
    // visible count, counted over the nodes still shown. Nodes a handler
    // opened, added, moved or deleted on the way may leave stale totals
    // where this does not look: then everything is counted afresh, as on
    // any way out by an exception.
    const uint64_t insertions = FExpandedNodes.Insertions(), changes = FStructureChanges,
                   frees = FFreedNodes;
    bool changed = false, done = false;
    std::vector<PLazyNode> refused;
    TScopeExit focus([&] {
        if (done && changed) FocusOntoCollapsed();
    });
    TScopeExit recount([&] {
        if (!done) InterruptValidation();
        if (!done || FExpandedNodes.Insertions() != insertions || FStructureChanges != changes) {
            FinishDeferredToggles(FRoot, {});
            return;
        }
        if (!changed) return;
        if (top != FRoot) {
            FVisibleCount = CountVisibleChildren(FRoot);
            return;
        }
        // One pass over the top level: each node there is a cache miss.
        uint32_t height = FRoot->NodeHeight, shown = 0;
        for (PLazyNode c = FRoot->FirstChild; c; c = c->NextSibling) {
            if (!IsEffectivelyVisible(c)) continue;
            height += c->TotalHeight;
            shown += 1 + ((c->States & vsExpanded) ? CountVisibleChildren(c) : 0);
        }
        FRoot->TotalHeight = height;
        FVisibleCount = shown;
        // What stays open is known now: the set may track again.
        if (FExpandedNodes.Tracking()) return;
        std::erase_if(refused, [](PLazyNode n) { return !(n->States & vsExpanded); });
        FExpandedNodes.Track(refused);
    });
    // Whether N is still a node of the tree: a handler may have freed nodes
    // since they were found. The set then tells, made exact first if need
    // be, and kept tracking until the collapse ends.
    FExpandedNodes.Keep();
    TScopeExit release([this] { FExpandedNodes.Release(); });
    auto live = [&](PLazyNode n) {
        if (FFreedNodes == frees) return true;
        if (!FExpandedNodes.Tracking()) FExpandedNodes.Track(ExpandedBelowByWalk(FRoot));
        return FExpandedNodes.Contains(n);
    };
    for (PLazyNode n : open) {
        if (!live(n) || !(n->States & vsExpanded)) continue;
        if (InternalToggleNode(n, n != top)) {
            changed = true;
        } else if (live(n) && (n->States & vsExpanded)) {
            // Refused: its children may have closed.
            InterruptValidation();
            changed = true;
            refused.push_back(n);
            uint32_t old = n->TotalHeight;
            n->TotalHeight = OpenNodeHeight(*this, n);
            if (n == top && IsEffectivelyVisible(n) && (n->Parent->States & vsExpanded))
                AdjustTotalHeight(n->Parent, int64_t(n->TotalHeight) - int64_t(old));
        }
    }
    done = true;
}

// --- check states ----------------------------------------------------------------------

void TBaseLazyTree::UpdateColumnCheckState(TLazyTreeColumn* column) {
    column->SetCheckState(DetermineNextCheckState(column->CheckType(), column->CheckState()));
}

TCheckState TBaseLazyTree::DetermineNextCheckState(TCheckType checkType, TCheckState checkState) {
    switch (checkType) {
    case ctTriStateCheckBox:
    case ctCheckBox:
        return checkState == csCheckedNormal ? csUncheckedNormal : csCheckedNormal;
    case ctRadioButton:
        return csCheckedNormal;
    case ctButton:
        return csUncheckedNormal;
    default:
        return checkState;
    }
}

void TBaseLazyTree::SetCheckState(PLazyNode node, TCheckState value) {
    if (!node || node == FRoot || node->CheckState == value || (node->States & vsDisabled)) return;
    if (DoChecking(node, value)) DoCheckClick(node, value);
}

namespace {

// A two- or three-state check box.
bool IsCheckBox(PLazyNode node) {
    return node->CheckType == ctTriStateCheckBox || node->CheckType == ctCheckBox;
}

// With tri-state tracking, a plain check or uncheck of a tri-state node goes
// to its check-box children; the node then shows what they took.
TCheckState CheckChildrenAlike(TBaseLazyTree& tree, PLazyNode node, TCheckState value) {
    if (node->CheckType != ctTriStateCheckBox || !node->ChildCount ||
        (value != csUncheckedNormal && value != csCheckedNormal))
        return value;
    int unchecked = 0, checked = 0, mixed = 0;
    for (PLazyNode c = node->FirstChild; c; c = c->NextSibling) {
        if (!IsCheckBox(c)) continue;
        tree.SetCheckState(c, value);
        if (c->CheckState == csUncheckedNormal)
            ++unchecked;
        else if (c->CheckState == csCheckedNormal)
            ++checked;
        else if (c->CheckState == csMixedNormal)
            ++mixed;
    }
    if (mixed) return csMixedNormal;
    if (checked) return unchecked ? csMixedNormal : csCheckedNormal;
    return value;
}

// A radio button that becomes checked unchecks its sibling radio buttons (itself too, until set).
void UncheckRadioSiblings(TBaseLazyTree& tree, PLazyNode node) {
    for (PLazyNode s = node->Parent->FirstChild; s; s = s->NextSibling)
        if (s->CheckType == ctRadioButton) s->CheckState = csUncheckedNormal;
    if (tree.HandleAllocated()) tree.Invalidate();
}

} // namespace

bool TBaseLazyTree::ChangeCheckState(PLazyNode node, TCheckState value) {
    if (node->States & vsChecking) return false; // a change of this node is already running
    node->States |= vsChecking;
    if (!(node->States & vsInitialized)) InitNode(node);
    // The change of the node, and the tree's check propagation with the
    // outermost change, last until this call ends, however it ends.
    if (FCheckPropagationCount++ == 0) DoStateChange(TS(tsCheckPropagation));
    TScopeExit leave([this, node] {
        node->States &= ~vsChecking;
        if (--FCheckPropagationCount == 0) DoStateChange(0, TS(tsCheckPropagation));
    });
    const bool tracking = FOptions->AutoOptions() & toAutoTristateTracking;
    if (tracking) value = CheckChildrenAlike(*this, node, value);
    if (node->CheckType == ctRadioButton && value == csCheckedNormal)
        UncheckRadioSiblings(*this, node);
    node->CheckState = value;
    PLazyNode parent = node->Parent;
    if (parent != FRoot && !(parent->States & vsInitialized)) InitNode(parent);
    bool result = true;
    if (tracking && parent != FRoot && !(parent->States & (vsChecking | vsDisabled)) &&
        IsCheckBox(node) && parent->CheckType == ctTriStateCheckBox) {
        result = CheckParentCheckState(node, value);
        FParentUpdateOf = node;
        FParentUpdateResult = result;
    }
    InvalidateNode(node);
    return result;
}

bool TBaseLazyTree::CheckParentCheckState(PLazyNode node, TCheckState newState) {
    PLazyNode parent = node->Parent;
    int count = 0, checked = 0;
    bool mixed = false;
    for (PLazyNode c = parent->FirstChild; c; c = c->NextSibling) {
        if (!IsCheckBox(c)) continue;
        TCheckState s = c == node ? newState : c->CheckState;
        ++count;
        if (s == csCheckedNormal || s == csCheckedPressed) ++checked;
        if (s == csMixedNormal) mixed = true;
    }
    TCheckState state = csCheckedNormal;
    if (checked == 0 && !mixed)
        state = csUncheckedNormal;
    else if (checked < count)
        state = csMixedNormal;
    if (!DoChecking(parent, state)) return false;
    FParentUpdateOf = nullptr;
    DoCheckClick(parent, state);
    // The parent's own change has already updated the levels above it; doing
    // that once more here would fire their events again, and each level would
    // double the work of the one below.
    if (FParentUpdateOf == parent) return FParentUpdateResult;
    PLazyNode grand = parent->Parent;
    if (grand != FRoot && !(grand->States & vsInitialized)) InitNode(grand);
    if (grand != FRoot && !(grand->States & (vsChecking | vsDisabled)) &&
        grand->CheckType == ctTriStateCheckBox)
        return CheckParentCheckState(parent, state);
    return true;
}

// --- click selection -------------------------------------------------------------------

void TBaseLazyTree::HandleClickSelection(PLazyNode, PLazyNode newNode, TShiftState shift,
                                         bool dragPending) {
    if (shift & ssCtrl) {
        if (shift & ssShift) {
            SelectNodes(FRangeAnchor, newNode, true);
            if (HandleAllocated()) Invalidate();
            return;
        }
        if (!(FOptions->SelectionOptions() & toSiblingSelectConstraint)) FRangeAnchor = newNode;
        if (dragPending)
            DoStateChange(TS(tsToggleFocusedSelection));
        else if (newNode->States & vsSelected)
            RemoveFromSelection(newNode);
        else
            AddToSelection(newNode);
        return;
    }
    if (shift & ssShift) {
        // Without an anchor the range starts at the first top-level node.
        if (!FRangeAnchor) FRangeAnchor = FRoot->FirstChild;
        SelectNodes(FRangeAnchor, newNode, false);
        if (HandleAllocated()) Invalidate();
        return;
    }
    if (!(newNode->States & vsSelected)) {
        AddToSelection(newNode);
        InvalidateNode(newNode);
    }
    FRangeAnchor = newNode;
}

} // namespace nuq

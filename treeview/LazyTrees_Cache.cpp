// The position cache: every 2000th visible node with its absolute top, built
// by the validation thread, and the lookups of a node by vertical position.
// The temporary node cache that batch operations collect nodes in.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Worker.h"

#include <algorithm>

namespace nuq {

// Runs on the validation thread while the user-interface thread may wait for
// it: it reads the nodes but initialises none, so it fires no event, and it
// gives up as soon as tsStopValidation is set.
bool TBaseLazyTree::DoValidateCache() {
    if (FStates & TS(tsStopValidation)) return false;
    if (FStartIndex == 0) FPositionCache.clear();
    if (FVisibleCount <= CacheThreshold) return false;

    uint32_t size = (FVisibleCount + CacheThreshold - 1) / CacheThreshold;
    FPositionCache.resize(size, TCacheEntry{nullptr, 0});
    if (FStartIndex > size) FStartIndex = size;

    uint32_t index;
    PLazyNode node;
    uint32_t top;
    if (FStartIndex == 0 || !FPositionCache[FStartIndex - 1].Node) {
        index = 0;
        node = GetFirstVisibleNoInit();
        top = 0;
    } else {
        index = FStartIndex - 1;
        node = FPositionCache[index].Node;
        top = FPositionCache[index].AbsoluteTop;
    }

    PLazyNode last = nullptr;
    uint32_t lastTop = 0, number = 0;
    bool stopped = false, full = false;
    while (node) {
        if (FStates & TS(tsStopValidation)) {
            stopped = true;
            break;
        }
        if (number % CacheThreshold == 0) {
            FPositionCache[index++] = {node, top};
            if (index == size) {
                last = node;
                full = true;
                break;
            }
        }
        last = node;
        lastTop = top;
        top += node->NodeHeight;
        ++number;
        node = GetNextVisibleNoInit(node);
    }
    if (!last) {
        // Counted visible, yet nothing is shown (every node lies under a collapsed parent).
        if (!stopped) FPositionCache.clear();
        return false;
    }
    if (!stopped && !full) {
        // Fewer nodes are shown than are counted visible: the last one closes the cache.
        FPositionCache.resize(index + 1);
        FPositionCache[index] = {last, lastTop};
    }
    return !stopped;
}

void TBaseLazyTree::ValidateCache() {
    InterruptValidation();
    FStartIndex = 0;
    // A tree on its way out is never queued again.
    if (!FThreadReferenced || (ComponentState & csDestroying)) return;
    TWorkerThread* w = WorkerThread();
    if (w && (FStates & TS(tsValidationNeeded))) {
        w->AddTree(this);
        SignalWorkEvent();
    }
}

void TBaseLazyTree::QueueValidation() {
    // Trees the cache does not serve are walked, and a tree without a window
    // cannot be told that its cache is ready: no thread is woken for them.
    // Inside the thread's own message the thread is not waited for: the
    // change made there waits for the next request.
    if (FUpdateCount == 0 && (FStates & TS(tsValidationNeeded)) && FVisibleCount > CacheThreshold &&
        HandleAllocated() && FChangeStateDepth == 0)
        ValidateCache();
}

namespace {

// The last cache entry not after the one sought (After tells whether an entry
// lies beyond it): its node and top, or nil and 0.
template <class TEntries, class TAfter>
PLazyNode LastCachedBefore(const TEntries& cache, uint32_t& top, TAfter after) {
    top = 0;
    int low = 0, high = int(cache.size()) - 1;
    while (low <= high) {
        int middle = (low + high) / 2;
        if (after(cache[size_t(middle)]))
            high = middle - 1;
        else
            low = middle + 1;
    }
    if (low == 0) return nullptr;
    const auto& e = cache[size_t(low - 1)];
    top = e.AbsoluteTop;
    return e.Node;
}

} // namespace

PLazyNode TBaseLazyTree::FindInPositionCache(uint32_t position, uint32_t& top) const {
    return LastCachedBefore(FPositionCache, top,
                            [position](const auto& e) { return e.AbsoluteTop > position; });
}

PLazyNode TBaseLazyTree::FindInPositionCache(PLazyNode node, uint32_t& top) {
    return LastCachedBefore(FPositionCache, top, [this, node](const auto& e) {
        return CompareNodePositions(e.Node, node, false) > 0;
    });
}

// The node shown at Position, which lies above Node, whose top is Top: the
// walk goes backwards from Node, passing over whole subtrees by their total
// height and going into the one that holds the position from its end.
PLazyNode TBaseLazyTree::NodeBefore(PLazyNode node, uint64_t top, uint64_t position,
                                    uint64_t& nodeTop) const {
    const bool showHidden = FOptions->PaintOptions() & toShowHiddenNodes;
    auto shown = [showHidden](PLazyNode n) {
        return (n->States & vsVisible) && (showHidden || !(n->States & vsHidden));
    };
    auto previousShown = [&](PLazyNode n) {
        do n = n->PrevSibling;
        while (n && !shown(n));
        return n;
    };
    // Candidate is the shown node whose block (the node and its shown
    // descendants) ends at End; none means the parent's own row ends there.
    PLazyNode candidate = previousShown(node), parent = node->Parent;
    uint64_t end = top;
    for (;;) {
        if (!candidate) {
            if (parent == FRoot || end < parent->NodeHeight) return nullptr;
            uint64_t start = end - parent->NodeHeight;
            if (position >= start) {
                nodeTop = start;
                return parent;
            }
            end = start;
            candidate = previousShown(parent);
            parent = parent->Parent;
            continue;
        }
        uint64_t block =
            (candidate->States & vsExpanded) ? candidate->TotalHeight : candidate->NodeHeight;
        if (end < block) return nullptr;
        uint64_t start = end - block;
        if (position >= start) {
            if (position < start + candidate->NodeHeight) {
                nodeTop = start;
                return candidate;
            }
            // Into its children, from the last shown one.
            parent = candidate;
            candidate = candidate->LastChild;
            while (candidate && !shown(candidate)) candidate = candidate->PrevSibling;
            continue;
        }
        end = start;
        candidate = previousShown(candidate);
    }
}

PLazyNode TBaseLazyTree::GetNodeAt(int x, int y) {
    int nodeTop;
    return GetNodeAt(x, y, true, nodeTop);
}

PLazyNode TBaseLazyTree::GetNodeAt(int, int y, bool relative, int& nodeTop) {
    nodeTop = 0;
    int64_t position = relative ? int64_t(y) - FOffsetY : int64_t(y);
    if (position < 0 || !FRoot) return nullptr;
    const uint64_t p = uint64_t(position);
    auto found = [&](PLazyNode node, uint64_t top) {
        nodeTop = int(relative ? int64_t(top) + FOffsetY : int64_t(top));
        return node;
    };

    PLazyNode node = nullptr;
    uint64_t top = 0;
    const bool useCache = (FStates & TS(tsUseCache)) && !FPositionCache.empty();
    if (useCache) {
        if (PLazyNode hit = RecentHit(p, top)) return found(hit, top);
        PLazyNode backFrom = NearestStart(p, node, top);
        if (backFrom) {
            const uint64_t backTop = top;
            PLazyNode before = NodeBefore(backFrom, backTop, p, top);
            if (!before) return nullptr;
            RememberHit(before, top);
            return found(before, top);
        }
    }
    if (!node) {
        const bool showHidden = FOptions->PaintOptions() & toShowHiddenNodes;
        top = 0;
        node = FRoot->FirstChild;
        while (node && !IsShownRow(node, showHidden)) node = node->NextSibling;
    }
    node = WalkToPosition(node, p, top);
    if (!node) return nullptr;
    if (useCache) RememberHit(node, top);
    return found(node, top);
}

PLazyNode TBaseLazyTree::RecentHit(uint64_t position, uint64_t& top) {
    if (!FLastHitNode) std::fill(std::begin(FHits), std::end(FHits), THit{});
    // A row found lately starts in this step of the hits or the one before.
    for (uint64_t step : {position >> 4, (position >> 4) - 1}) {
        const THit& hit = FHits[step & 63];
        if (hit.Node && hit.Top <= position && position < hit.Top + hit.Node->NodeHeight) {
            FLastHitNode = hit.Node;
            FLastHitTop = hit.Top;
            top = hit.Top;
            return hit.Node;
        }
    }
    return nullptr;
}

PLazyNode TBaseLazyTree::NearestStart(uint64_t p, PLazyNode& node, uint64_t& top) const {
    // The entries around the position and the last hit; the walk starts from
    // the nearest of them, forwards from one above or backwards from one below.
    auto after =
        std::upper_bound(FPositionCache.begin(), FPositionCache.end(), p,
                         [](uint64_t q, const TCacheEntry& e) { return q < e.AbsoluteTop; });
    if (after != FPositionCache.begin()) {
        node = after[-1].Node;
        top = after[-1].AbsoluteTop;
    }
    uint64_t distance = node ? p - top : UINT64_MAX;
    PLazyNode backFrom = nullptr;
    uint64_t backTop = 0;
    if (after != FPositionCache.end() && after->Node && after->AbsoluteTop - p < distance) {
        backFrom = after->Node;
        backTop = after->AbsoluteTop;
        distance = backTop - p;
    }
    if (FLastHitNode) {
        const uint64_t d = p >= FLastHitTop ? p - FLastHitTop : FLastHitTop - p;
        if (d < distance) {
            if (p >= FLastHitTop) {
                node = FLastHitNode;
                top = FLastHitTop;
                backFrom = nullptr;
            } else {
                backFrom = FLastHitNode;
                backTop = FLastHitTop;
            }
        }
    }
    if (backFrom) top = backTop;
    return backFrom;
}

PLazyNode TBaseLazyTree::WalkToPosition(PLazyNode node, uint64_t position, uint64_t& top) const {
    const bool showHidden = FOptions->PaintOptions() & toShowHiddenNodes;
    // From the start node on in display order, passing over whole subtrees
    // by their total height and going into the one that holds the position.
    while (node) {
        uint64_t height = node->NodeHeight;
        if (position < top + height) break;
        if ((node->States & vsExpanded) && position < top + node->TotalHeight) {
            PLazyNode child = node->FirstChild;
            while (child && !IsShownRow(child, showHidden)) child = child->NextSibling;
            if (child) {
                top += height;
                node = child;
                continue;
            }
        }
        top += (node->States & vsExpanded) ? node->TotalHeight : height;
        // The next shown sibling, else that of the nearest ancestor having one.
        PLazyNode next = nullptr;
        for (PLazyNode run = node; run != FRoot && !next; run = run->Parent) {
            next = run->NextSibling;
            while (next && !IsShownRow(next, showHidden)) next = next->NextSibling;
        }
        node = next;
    }
    return node;
}

void TBaseLazyTree::RememberHit(PLazyNode node, uint64_t top) {
    FLastHitNode = node;
    FLastHitTop = top;
    FHits[(top >> 4) & 63] = {node, top};
}

void TBaseLazyTree::InternalCacheNode(PLazyNode node) {
    size_t length = FTempNodeCache.size();
    if (FTempNodeCount == length) FTempNodeCache.resize(length < 100 ? 100 : length + length / 10);
    FTempNodeCache[FTempNodeCount++] = node;
}

void TBaseLazyTree::ClearTempCache() {
    FTempNodeCache.clear();
    FTempNodeCount = 0;
}

int TBaseLazyTree::CountLevelDifference(PLazyNode node1, PLazyNode node2) {
    return int(GetNodeLevel(node2)) - int(GetNodeLevel(node1));
}

} // namespace nuq

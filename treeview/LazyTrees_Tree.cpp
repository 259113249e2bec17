// The tree's data model: construction and destruction, the root, node
// blocks, adding, deleting and initialising nodes, and the node walks.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"
#include "treeview/LazyTrees_Worker.h"

#include "platform/EventLoop.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

namespace nuq {

namespace {

// The unit's start and end.
struct TUnitLife {
    TUnitLife() { LazyTreesInitialization(); }
    ~TUnitLife() {
        LazyTreesFinalization();
        FinalizeAccessibility();
    }
} unitLife;

const TTreeClass baseTreeClass{"TBaseLazyTree", nullptr};

} // namespace

const TTreeClass* TBaseLazyTree::ClassInfo() {
    return &baseTreeClass;
}

// --- construction ------------------------------------------------------------------------------

TBaseLazyTree::TBaseLazyTree(TComponent* owner) : TCustomControl(owner) {
    if (!GlobalsInitialised) InitializeGlobalStructures();
    ControlStyle = (ControlStyle & ~csSetCaption) | csCaptureMouse | csOpaque | csReplicatable |
                   csDisplayDragImage | csReflector;
    FTotalInternalDataSize = 0;
    RegisterLazyTreeClasses();
    FNodeDataSize = -1;
    SetBounds(FLeft, FTop, 200, 100);
    TabStop = true;
    ParentColor = false;
    FScrollBarOptions = std::make_unique<TScrollBarOptions>(this);
    FFocusedColumn = NoColumn;
    FLastSelectionLevel = -1;
    FPlusBM = std::make_unique<TBitmap>();
    FHotPlusBM = std::make_unique<TBitmap>();
    FMinusBM = std::make_unique<TBitmap>();
    FHotMinusBM = std::make_unique<TBitmap>();
    DoubleBuffered = false;
    CheckImages = LightCheckImages;
    FBackground = std::make_unique<TBitmap>();
    FColors = std::make_unique<TLTColors>(this);
    FDragImage = std::make_unique<TLTDragImage>(this);
    FDragImage->Transparency = 200;
    FDragImage->PrepareBias = 0;
    FDragImage->BlendBias = 0;
    FDragImage->Fade = true;
    FSingletonNodeArray.assign(1, nullptr);
    FClipboardFormats = std::make_unique<TClipboardFormats>(this);
    FOptions = GetOptionsClass();
    for (TChangeLink* link : {&FImageChangeLink, &FStateChangeLink, &FCustomCheckChangeLink})
        link->OnChange = [this](TChangeLink&) {
            if (HandleAllocated() && !(ComponentState & csDestroying)) Invalidate();
        };
    // However the font is written, the tree, its bitmaps and header follow.
    Font.OnChange = [this](TFont&) {
        FFontChanged = true;
        Perform(CM_FONTCHANGED, 0, 0);
    };
    AddThreadReference();
    FThreadReferenced = true;
}

void TBaseLazyTree::AfterConstruction() {
    TCustomControl::AfterConstruction();
    FHeader.get(); // of the class the finished tree asks for
    if (!FRoot) InitRootNode(0);
}

std::unique_ptr<TLTHeader> TBaseLazyTree::GetHeaderClass() {
    return std::make_unique<TLTHeader>(this);
}

std::unique_ptr<TCustomLazyTreeOptions> TBaseLazyTree::GetOptionsClass() {
    return std::make_unique<TCustomLazyTreeOptions>(this);
}

TBaseLazyTree::~TBaseLazyTree() {
    ReleaseWorker();
    Destroying();
    FOptions->SetMiscOptions(FOptions->MiscOptions() & ~toReadOnly);
    if (GetCapture() && GetCapture() == WindowHandle()) ReleaseCapture(); // wheel panning ends
    FStates &= ~TS(tsWheelPanning, tsWheelScrolling);
    if (FPanningWindow) DestroyWindow(std::exchange(FPanningWindow, HWND(0))); // not a child
    if (FEditLink) DoCancelEdit();
    FEditLink.reset();
    ReleaseClipboardData();
    FClipboardFormats.reset();
    FHintWindow.reset(); // it may show one of the nodes
    if (FRoot) Clear();
    FDragImage.reset();
    FColors.reset();
    FBackground.reset();
    FScrollBarOptions.reset();
    if (HandleAllocated()) {
        RevokeDragDrop(WindowHandle());
        DestroyHandle();
    }
    FOptions.reset();
    FHeader.reset();
    std::free(FRoot);
    FRoot = nullptr;
    FPlusBM.reset();
    FHotPlusBM.reset();
    FMinusBM.reset();
    FHotMinusBM.reset();
    if (FDottedBrush) DeleteObject(FDottedBrush);
    FDragManager.reset();
}

// --- root and blocks
// ------------------------------------------------------------------------------

PLazyNode TBaseLazyTree::InitRootNode(int oldSize) {
    size_t newSize = size_t(TreeNodeSize + FTotalInternalDataSize);
    bool fresh = !FRoot;
    if (fresh) {
        FRoot = static_cast<PLazyNode>(std::calloc(1, newSize));
        if (!FRoot) throw std::bad_alloc();
    } else {
        auto* grown = static_cast<PLazyNode>(std::realloc(FRoot, newSize));
        if (!grown) throw std::bad_alloc();
        FRoot = grown;
        if (size_t(oldSize) < newSize)
            std::fill(reinterpret_cast<uint8_t*>(FRoot) + oldSize,
                      reinterpret_cast<uint8_t*>(FRoot) + newSize, 0);
        // The block may have moved: the children must point at it again.
        for (PLazyNode c = FRoot->FirstChild; c; c = c->NextSibling) c->Parent = FRoot;
    }
    FRoot->PrevSibling = FRoot;
    FRoot->NextSibling = FRoot;
    FRoot->Parent = reinterpret_cast<PLazyNode>(this); // the sentinel of every upward walk
    FRoot->States = vsInitialized | vsExpanded | vsHasChildren | vsVisible;
    FRoot->NodeHeight = uint16_t(FDefaultNodeHeight);
    FRoot->Align = 50;
    if (fresh) {
        FRoot->TotalCount = 1;
        FRoot->TotalHeight = FDefaultNodeHeight;
    }
    return FRoot;
}

int TBaseLazyTree::AllocateInternalDataArea(int size) {
    int oldSize = TreeNodeSize + FTotalInternalDataSize;
    // Every area, and the user data behind them, starts where any type may sit.
    constexpr int Align = int(alignof(std::max_align_t));
    FTotalInternalDataSize += (std::max(size, 0) + Align - 1) / Align * Align;
    InitRootNode(oldSize);
    return oldSize;
}

namespace {

// The owner's record in a node; a size beyond it is a fault, refused before
// any node is made with it.
constexpr int MaxNodeDataSize = 1 << 20;

[[noreturn]] void RefuseNodeDataSize() {
    RaiseTreeError(u"Node data size is out of range.", 2007);
}

} // namespace

PLazyNode TBaseLazyTree::MakeNewNode() {
    if (FNodeDataSize == -1) {
        DoGetNodeDataSize(FNodeDataSize);
        if (FNodeDataSize > MaxNodeDataSize) {
            FNodeDataSize = -1; // asked again at the next node
            RefuseNodeDataSize();
        }
    }
    int data = (ComponentState & csDesigning) ? 0 : std::max(FNodeDataSize, 0);
    auto* node = static_cast<PLazyNode>(
        FNodeSlabs.Take(size_t(TreeNodeSize + FTotalInternalDataSize + data)));
    node->States = vsVisible;
    node->TotalCount = 1;
    node->NodeHeight = uint16_t(FDefaultNodeHeight);
    node->TotalHeight = FDefaultNodeHeight;
    node->Align = 50;
    return node;
}

void TBaseLazyTree::FreeNodeBlock(PLazyNode node) {
    FExpandedNodes.Erase(node); // whatever its flag says: the set keeps no freed node
    ++FFreedNodes;
    if (FFreeingAllNodes) {
        FNodeSlabs.Forget();
    } else {
        node->Parent = nullptr; // how WalkAhead tells a block given back
        FNodeSlabs.Give(node);
    }
}

TLazyWalkAhead TBaseLazyTree::WalkAhead(PLazyNode subtree, bool backwards) const {
    // Below this the tree stays in the caches anyway.
    constexpr uint32_t Worthwhile = 1 << 16;
    if ((subtree && subtree != FRoot) || FRoot->TotalCount < Worthwhile) return {};
    // Nodes in pre-order that mostly lie one after the other, as a tree built
    // and never sorted has them, are fetched ahead by the processor itself.
    int far = 0;
    PLazyNode n = FRoot->FirstChild;
    for (int step = 0; step < 64 && n; ++step) {
        PLazyNode next = n->FirstChild;
        for (PLazyNode run = n; !next && run != FRoot; run = run->Parent) next = run->NextSibling;
        if (next &&
            std::abs(reinterpret_cast<intptr_t>(next) - reinterpret_cast<intptr_t>(n)) > 4096)
            ++far;
        n = next;
    }
    if (far < 16) return {};
    try {
        return {WalkOrder(), backwards};
    } catch (const std::bad_alloc&) {
        return {}; // the walk goes on without
    }
}

std::vector<PLazyNode> TBaseLazyTree::WalkOrder() const {
    // One read of the slabs in address order, which memory serves fast, notes
    // each node's place; every node's children then get a row of places and a
    // child sits at its index.
    struct TSeen {
        uintptr_t Node; // its lowest bit set when the node has children
        PLazyNode Parent;
        uint32_t Index;
    };
    struct TRow {
        PLazyNode Parent;
        size_t First;
        uint32_t Count;
    };
    // The top level's places are known at once; other nodes wait for their rows.
    const size_t nodes = FRoot->TotalCount - 1, top = FRoot->ChildCount;
    std::vector<uintptr_t> places(nodes, 0);
    std::vector<TSeen> seen;
    seen.reserve(FNodeSlabs.Live() - std::min(FNodeSlabs.Live(), top));
    std::vector<TRow> rows{{FRoot, 0, FRoot->ChildCount}};
    size_t total = top;
    bool clash = false;
    FNodeSlabs.ForEachBlock([&](void* block) {
        auto* b = static_cast<PLazyNode>(block);
        if (!b->Parent) return;
        uintptr_t place = reinterpret_cast<uintptr_t>(b) | (b->ChildCount ? 1 : 0);
        if (b->Parent == FRoot) {
            if (b->Index >= top || places[b->Index])
                clash = true;
            else
                places[b->Index] = place;
        } else {
            seen.push_back({place, b->Parent, b->Index});
        }
        if (b->ChildCount) {
            rows.push_back({b, total, b->ChildCount});
            total += b->ChildCount;
        }
    });
    // Live blocks outside the tree would leave places empty: no order then.
    if (clash || total != nodes) return {};
    std::sort(rows.begin(), rows.end(),
              [](const TRow& a, const TRow& b) { return a.Parent < b.Parent; });
    auto rowOf = [&rows](PLazyNode parent) {
        auto it = std::lower_bound(rows.begin(), rows.end(), parent,
                                   [](const TRow& r, PLazyNode p) { return r.Parent < p; });
        return it != rows.end() && it->Parent == parent ? &*it : nullptr;
    };
    const TRow* row = nullptr;
    for (const TSeen& s : seen) {
        if (!row || row->Parent != s.Parent) row = rowOf(s.Parent);
        if (!row || s.Index >= row->Count || places[row->First + s.Index]) return {};
        places[row->First + s.Index] = s.Node;
    }
    seen = {};
    std::vector<PLazyNode> order;
    order.reserve(total);
    std::vector<std::pair<size_t, size_t>> pending{{0, top}};
    while (!pending.empty()) {
        auto [at, end] = pending.back();
        if (at == end) {
            pending.pop_back();
            continue;
        }
        ++pending.back().first;
        uintptr_t place = places[at];
        auto* node = reinterpret_cast<PLazyNode>(place & ~uintptr_t(1));
        order.push_back(node);
        if (const TRow* below = place & 1 ? rowOf(node) : nullptr)
            pending.push_back({below->First, below->First + below->Count});
    }
    return order;
}

TLazyWalkAhead::TLazyWalkAhead(std::vector<PLazyNode> order, bool backwards)
    : FOrder(std::move(order)), FBackwards(backwards) {
    if (backwards) std::reverse(FOrder.begin(), FOrder.end());
    while (FAt < std::min(Distance, FOrder.size())) Step();
}

TLazyWalkAhead TLazyWalkAhead::Again(bool backwards) && {
    if (FBackwards) std::reverse(FOrder.begin(), FOrder.end());
    return {std::move(FOrder), backwards};
}

namespace {

// A block's bytes for the address sanitizer: out of bounds while the slabs
// hold it, in bounds while a node lives in it.
void Poison([[maybe_unused]] void* at, [[maybe_unused]] size_t size) {
#ifdef NUQ_ASAN
    __asan_poison_memory_region(at, size);
#endif
}

void Unpoison([[maybe_unused]] void* at, [[maybe_unused]] size_t size) {
#ifdef NUQ_ASAN
    __asan_unpoison_memory_region(at, size);
#endif
}

// Slabs of large nodes stay small: a slab is cut whole out of address space.
constexpr size_t MaxSlabBytes = size_t(16) << 20;

} // namespace

TLazyNodeSlabs::TFreeBlock*& TLazyNodeSlabs::FreeList(size_t blockSize) {
    for (TFreeList& list : FFreeLists)
        if (list.BlockSize == blockSize) return list.First;
    FFreeLists.push_back({blockSize, nullptr});
    return FFreeLists.back().First;
}

size_t TLazyNodeSlabs::BlockSizeOf(const void* block) const {
    if (FFreeLists.size() == 1) return FFreeLists.front().BlockSize; // one size was ever cut
    auto* b = static_cast<const uint8_t*>(block);
    auto it = std::upper_bound(FByAddress.begin(), FByAddress.end(), b,
                               [](const uint8_t* p, const TSlab& s) { return p < s.Begin; });
    return std::prev(it)->BlockSize;
}

void* TLazyNodeSlabs::Take(size_t size) {
    size = (size + alignof(TLazyNode) - 1) / alignof(TLazyNode) * alignof(TLazyNode);
    if (size != FBlockSize) {
        // Blocks of the old size stay where they are until their slabs go.
        if (FNext) FSlabs.back().End = FNext;
        FBlockSize = size;
        FNext = FEnd = nullptr;
    }
    TFreeBlock*& free = FreeList(size);
    if (free) {
        void* block = free;
        Unpoison(block, size);
        free = free->Next;
        std::memset(block, 0, size);
        ++FLive;
        return block;
    }
    if (FNext == FEnd) {
        // Slabs grow with the tree, up to a few megabytes each.
        FSlabBlocks = std::clamp<size_t>(FSlabBlocks * 2, 32, size_t(1) << 16);
        const size_t blocks = std::clamp<size_t>(MaxSlabBytes / size, 1, FSlabBlocks);
        FSlabs.reserve(FSlabs.size() + 1);
        FByAddress.reserve(FByAddress.size() + 1);
        void* slab = std::calloc(blocks, size);
        if (!slab) throw std::bad_alloc();
        FNext = static_cast<uint8_t*>(slab);
        FEnd = FNext + blocks * size;
        FSlabs.push_back({FNext, FEnd, FEnd, size});
        FByAddress.insert(
            std::upper_bound(FByAddress.begin(), FByAddress.end(), FNext,
                             [](const uint8_t* p, const TSlab& s) { return p < s.Begin; }),
            FSlabs.back());
        Poison(slab, blocks * size);
    }
    void* block = FNext;
    FNext += size;
    Unpoison(block, size);
    ++FLive;
    return block;
}

void TLazyNodeSlabs::Give(void* block) {
    --FLive;
    const size_t size = BlockSizeOf(block);
    TFreeBlock*& free = FreeList(size);
    auto* given = static_cast<TFreeBlock*>(block);
    given->Next = free;
    free = given;
    Poison(block, size);
}

void TLazyNodeSlabs::ReleaseAll() {
    for (const TSlab& slab : FSlabs) {
        Unpoison(slab.Begin, size_t(slab.Limit - slab.Begin));
        std::free(slab.Begin);
    }
    FSlabs.clear();
    FByAddress.clear();
    FFreeLists.clear();
    FNext = FEnd = nullptr;
    FBlockSize = 0;
    FSlabBlocks = 0;
    FLive = 0;
}

void TBaseLazyTree::SetNodeDataSize(int value) {
    if (value < -1) value = -1;
    if (value > MaxNodeDataSize) RefuseNodeDataSize();
    if (value == FNodeDataSize) return;
    FNodeDataSize = value;
    if (ComponentState & (csLoading | csDesigning)) return;
    uint32_t count = RootNodeCount();
    Clear();
    SetRootNodeCount(count);
}

// --- counts
// ---------------------------------------------------------------------------------------

void TBaseLazyTree::AdjustTotalCount(PLazyNode node, int64_t delta) {
    for (PLazyNode run = node;; run = run->Parent) {
        run->TotalCount = uint32_t(int64_t(run->TotalCount) + delta);
        if (run == FRoot) break;
    }
}

void TBaseLazyTree::AdjustTotalHeight(PLazyNode node, int64_t delta) {
    for (PLazyNode run = node;; run = run->Parent) {
        run->TotalHeight = uint32_t(int64_t(run->TotalHeight) + delta);
        if (run == FRoot || !IsEffectivelyVisible(run) || !(run->Parent->States & vsExpanded))
            break;
    }
}

void TBaseLazyTree::SetRootNodeCount(uint32_t value) {
    if (ComponentState & csLoading) {
        // Recorded only: the nodes are made, or the count dropped, when the read ends.
        if (!FRootCountBeforeLoading) FRootCountBeforeLoading = FRoot->ChildCount;
        FRoot->ChildCount = value;
        DoStateChange(TS(tsNeedRootCountUpdate));
        return;
    }
    if (value == RootNodeCount()) return;
    BeginUpdate();
    InterruptValidation();
    SetChildCount(FRoot, value);
    EndUpdate();
}

// --- initialising
// ---------------------------------------------------------------------------------

void TBaseLazyTree::InitNode(PLazyNode node) {
    node->States |= vsInitialized;
    TLazyNodeInitStates init = 0;
    DoInitNode(node->Parent == FRoot ? nullptr : node->Parent, node, init);
    if (init & ivsDisabled) node->States |= vsDisabled;
    if (init & ivsHasChildren) node->States |= vsHasChildren;
    if (init & ivsMultiline) node->States |= vsMultiline;
    if (init & ivsSelected) InternalAddToSelection(node, false);
    if ((init & ivsExpanded) && !(node->States & vsExpanded)) ToggleNode(node);
}

void TBaseLazyTree::InitChildren(PLazyNode node) {
    if (!(node->States & vsHasChildren) || node->ChildCount != 0) return;
    uint32_t count = 0;
    DoInitChildren(node, count);
    DoSetChildCountInternal(node, count);
    if (count == 0) {
        node->States &= ~vsHasChildren;
        // Often asked by a paint that has drawn the node's button already;
        // from the row down, which spares counting to a row far below.
        if (node != FRoot) InvalidateToBottom(node);
    }
}

void TBaseLazyTree::ReinitNode(PLazyNode node, bool recursive) {
    if (!node) return;
    auto reinit = [this](PLazyNode n) {
        if (n == FRoot) return;
        n->States = TLazyNodeStates(n->States &
                                    ~(vsChecking | vsCutOrCopy | vsDeleting | vsHeightMeasured));
        if (n->States & vsInitialized) InitNode(n);
    };
    reinit(node);
    if (!recursive) return;
    // Parents before children, walked through the parent links so that a deep
    // subtree cannot exhaust the stack; a node's children are looked at only
    // after the node itself is initialised again.
    PLazyNode run = node->FirstChild;
    while (run) {
        reinit(run);
        if (run->FirstChild) {
            run = run->FirstChild;
            continue;
        }
        while (run != node && !run->NextSibling) run = run->Parent;
        run = run == node ? nullptr : run->NextSibling;
    }
}

// --- updates, structure changes, validation
// ------------------------------------------------------------

void TBaseLazyTree::SetRedraw(bool on) {
    if (Visible() && HandleAllocated() && FUpdateCount == 0)
        SendMessage(WindowHandle(), WM_SETREDRAW, on ? 1 : 0, 0);
}

void TBaseLazyTree::BeginUpdate() {
    if (FUpdateCount == 0) SetRedraw(false);
    if (FUpdateCount++ == 0) {
        DoUpdating(usBegin);
        DoStateChange(TS(tsUpdating));
    } else {
        DoUpdating(usUpdate);
    }
}

void TBaseLazyTree::EndUpdate() {
    if (FUpdateCount == 0) return;
    if (--FUpdateCount > 0) {
        DoUpdating(usUpdate);
        return;
    }
    DoStateChange(0, TS(tsUpdating));
    if (FStates & TS(tsUpdateHiddenChildrenNeeded)) {
        DoStateChange(0, TS(tsUpdateHiddenChildrenNeeded));
        for (PLazyNode n = GetFirstNoInit(); n; n = GetNextNoInit(n)) UpdateAllChildrenHidden(n);
    }
    PackSelection();
    // What the update held back is reported now, once.
    if (FStates & TS(tsStructureChangePending))
        DoStructureChange(FLastStructureChangeNode, FLastStructureChangeReason);
    if (FStates & TS(tsChangePending)) DoChange(FLastChangedNode);
    QueueValidation();
    SetRedraw(true);
    if (HandleAllocated()) Invalidate();
    DoUpdating(usEnd);
}

void TBaseLazyTree::Dispatch(TMessage& m) {
    if (m.Msg == WM_CHANGESTATE) {
        struct Depth {
            int& D;
            ~Depth() { --D; }
        } depth{++FChangeStateDepth};
        DoStateChange(DecodeChangeStates(m.WParam), DecodeChangeStates(uintptr_t(m.LParam)));
        return;
    }
    switch (m.Msg) {
    case 0x00A1: // a button pressed on the frame (the header): the focus comes first
    case 0x00A4:
    case 0x00A7:
        if (HandleAllocated() && GetFocus() != WindowHandle() && Enabled && Visible() &&
            !(ComponentState & csDesigning))
            SetFocus(WindowHandle());
        break;
    case WM_COPY:
        CopyToClipboard();
        return;
    case WM_CUT:
        CutToClipboard();
        return;
    case WM_PASTE:
        PasteFromClipboard();
        return;
    }
    if (m.Msg == WM_TIMER && (m.WParam == ChangeTimer || m.WParam == StructureChangeTimer)) {
        DoTimer(m.WParam);
        return;
    }
    if (m.Msg == CM_DRAG && HandleFrameworkDrag(m)) return;
    if (PaintUnderFrameworkDrag(m)) return;
    if (HintMessage(m)) return;
    if (FHeader && FHeader->HandleMessage(m)) return;
    if (InputMessage(m)) return;
    if (HandleWindowMessage(m)) return;
    if (m.Msg == WM_NCCALCSIZE || m.Msg == WM_NCPAINT) {
        HeaderNonClient(m);
        return;
    }
    TCustomControl::Dispatch(m);
}

std::shared_ptr<ILTDragManager> TBaseLazyTree::GetDragManager() {
    if (!FDragManager) {
        FDragManager = DoCreateDragManager();
        if (!FDragManager) FDragManager = std::make_shared<TLTDragManager>(this);
    }
    return FDragManager;
}

// --- walks
// -------------------------------------------------------------------------------------------

namespace {

inline bool Initialized(PLazyNode n) {
    return n->States & vsInitialized;
}

} // namespace

PLazyNode TBaseLazyTree::GetFirst() {
    InitChildren(FRoot);
    PLazyNode r = FRoot->FirstChild;
    if (r && !Initialized(r)) InitNode(r);
    return r;
}

PLazyNode TBaseLazyTree::GetNext(PLazyNode node) {
    if (!node || node == FRoot) return nullptr;
    InitChildren(node);
    PLazyNode r = node->FirstChild;
    if (!r) {
        for (PLazyNode run = node; run != FRoot; run = run->Parent)
            if (run->NextSibling) {
                r = run->NextSibling;
                break;
            }
    }
    if (r && !Initialized(r)) InitNode(r);
    return r;
}

PLazyNode TBaseLazyTree::GetLast(PLazyNode node) {
    PLazyNode run = node ? node : FRoot;
    for (;;) {
        InitChildren(run);
        PLazyNode next = run->LastChild;
        if (!next) break;
        if (!Initialized(next)) InitNode(next);
        run = next;
    }
    return run == FRoot ? nullptr : run;
}

PLazyNode TBaseLazyTree::GetPrevious(PLazyNode node) {
    if (!node || node == FRoot) return nullptr;
    if (PLazyNode p = node->PrevSibling) {
        if (!Initialized(p)) InitNode(p);
        PLazyNode last = GetLast(p);
        return last ? last : p;
    }
    return node->Parent == FRoot ? nullptr : node->Parent;
}

PLazyNode TBaseLazyTree::GetFirstNoInit() {
    return FRoot->FirstChild;
}

PLazyNode TBaseLazyTree::GetNextNoInit(PLazyNode node) {
    if (!node || node == FRoot) return nullptr;
    if (node->FirstChild) return node->FirstChild;
    for (PLazyNode run = node; run != FRoot; run = run->Parent)
        if (run->NextSibling) return run->NextSibling;
    return nullptr;
}

PLazyNode TBaseLazyTree::GetPreviousNoInit(PLazyNode node) {
    if (!node || node == FRoot) return nullptr;
    if (PLazyNode p = node->PrevSibling) {
        while (p->LastChild) p = p->LastChild;
        return p;
    }
    return node->Parent == FRoot ? nullptr : node->Parent;
}

PLazyNode TBaseLazyTree::GetFirstInitialized() {
    PLazyNode r = GetFirstNoInit();
    return r && !Initialized(r) ? GetNextInitialized(r) : r;
}

PLazyNode TBaseLazyTree::GetNextInitialized(PLazyNode node) {
    do node = GetNextNoInit(node);
    while (node && !Initialized(node));
    return node;
}

PLazyNode TBaseLazyTree::NextVisible(PLazyNode node, bool init) {
    if (!node || node == FRoot) return nullptr;
    // Into an expanded node first, then on to the siblings and the ancestors' siblings.
    if (node->States & vsExpanded) {
        if (init) InitChildren(node);
        for (PLazyNode c = node->FirstChild; c; c = c->NextSibling) {
            if (init && !Initialized(c)) InitNode(c);
            if (IsEffectivelyVisible(c)) return c;
        }
    }
    for (PLazyNode run = node; run != FRoot; run = run->Parent)
        for (PLazyNode s = run->NextSibling; s; s = s->NextSibling) {
            if (init && !Initialized(s)) InitNode(s);
            if (IsEffectivelyVisible(s)) return s;
        }
    return nullptr;
}

PLazyNode TBaseLazyTree::LastVisibleBelow(PLazyNode node) {
    for (;;) {
        if (!(node->States & vsExpanded)) return node;
        InitChildren(node);
        PLazyNode found = nullptr;
        for (PLazyNode c = node->LastChild; c; c = c->PrevSibling) {
            if (!Initialized(c)) InitNode(c);
            if (IsEffectivelyVisible(c)) {
                found = c;
                break;
            }
        }
        if (!found) return node;
        node = found;
    }
}

PLazyNode TBaseLazyTree::GetFirstVisible() {
    return GetFirstVisibleChild(nullptr);
}

PLazyNode TBaseLazyTree::GetFirstVisibleChild(PLazyNode node) {
    if (!node) node = FRoot;
    InitChildren(node);
    for (PLazyNode c = node->FirstChild; c; c = c->NextSibling) {
        if (!Initialized(c)) InitNode(c);
        if (IsEffectivelyVisible(c)) return c;
    }
    return nullptr;
}

PLazyNode TBaseLazyTree::GetNextVisible(PLazyNode node) {
    return NextVisible(node, true);
}

PLazyNode TBaseLazyTree::GetPreviousVisible(PLazyNode node) {
    if (!node || node == FRoot) return nullptr;
    for (PLazyNode s = node->PrevSibling; s; s = s->PrevSibling) {
        if (!Initialized(s)) InitNode(s);
        if (IsEffectivelyVisible(s)) return LastVisibleBelow(s);
    }
    return node->Parent == FRoot ? nullptr : node->Parent;
}

PLazyNode TBaseLazyTree::GetLastVisible() {
    PLazyNode r = LastVisibleBelow(FRoot);
    return r == FRoot ? nullptr : r;
}

PLazyNode TBaseLazyTree::GetFirstVisibleNoInit() {
    for (PLazyNode c = FRoot->FirstChild; c; c = c->NextSibling)
        if (IsEffectivelyVisible(c)) return c;
    return nullptr;
}

PLazyNode TBaseLazyTree::GetNextVisibleNoInit(PLazyNode node) {
    return NextVisible(node, false);
}

unsigned TBaseLazyTree::GetNodeLevel(PLazyNode node) const {
    unsigned level = 0;
    if (!node || node == FRoot) return 0;
    for (PLazyNode run = node->Parent; run != FRoot; run = run->Parent) ++level;
    return level;
}

bool TBaseLazyTree::HasAsParent(PLazyNode node, PLazyNode potentialParent) const {
    if (!node || !potentialParent || node == potentialParent || node == FRoot) return false;
    for (PLazyNode run = node->Parent;; run = run->Parent) {
        if (run == potentialParent) return true;
        if (run == FRoot) return false;
    }
}

} // namespace nuq

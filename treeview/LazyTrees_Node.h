#pragma once
// The node record of the lazy tree, the states of its nodes and of the tree,
// and the window messages the tree answers besides the usual ones.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/SysUtils.h"
#include "platform/gui/WinTypes.h"

#if defined(__SANITIZE_ADDRESS__)
#define NUQ_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define NUQ_ASAN 1
#endif
#endif
#ifdef NUQ_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace nuq {

class TBaseLazyTree;
class TCustomLazyStringTree;
class TReader;
class TWriter;

class ELazyTreeError : public Exception {
public:
    using Exception::Exception;
};

// --- node record -------------------------------------------------------------------

using TLazyNodeStates = uint16_t;
enum : TLazyNodeStates {
    vsInitialized = 1 << 0,
    vsChecking = 1 << 1,
    vsCutOrCopy = 1 << 2,
    vsDisabled = 1 << 3,
    vsDeleting = 1 << 4,
    vsExpanded = 1 << 5,
    vsHasChildren = 1 << 6,
    vsVisible = 1 << 7,
    vsSelected = 1 << 8,
    vsInitialUserData = 1 << 9,
    vsAllChildrenHidden = 1 << 10,
    vsClearing = 1 << 11,
    vsMultiline = 1 << 12,
    vsHeightMeasured = 1 << 13,
    vsToggling = 1 << 14,
    vsHidden = 1 << 15,
};

using TLazyNodeInitStates = uint8_t;
enum : TLazyNodeInitStates {
    ivsDisabled = 1,
    ivsExpanded = 2,
    ivsHasChildren = 4,
    ivsMultiline = 8,
    ivsSelected = 16,
};

enum TCheckState : uint8_t {
    csUncheckedNormal,
    csUncheckedPressed,
    csCheckedNormal,
    csCheckedPressed,
    csMixedNormal,
    csMixedPressed
};
enum TCheckType : uint8_t { ctNone, ctTriStateCheckBox, ctCheckBox, ctRadioButton, ctButton };
// The same check state shown pressed (while a box is held down) or normal again.
inline TCheckState PressedCheckState(TCheckState s) {
    return (s == csUncheckedNormal || s == csCheckedNormal || s == csMixedNormal)
               ? TCheckState(s + 1)
               : s;
}
inline TCheckState NormalCheckState(TCheckState s) {
    return (s == csUncheckedPressed || s == csCheckedPressed || s == csMixedPressed)
               ? TCheckState(s - 1)
               : s;
}

// A node: these fields, then the tree classes' internal data areas, then the
// owner's user data, in one zero-filled block that only the tree frees. Each
// part starts where any type may sit.
struct alignas(std::max_align_t) TLazyNode {
    uint32_t Index;
    uint32_t ChildCount;
    uint16_t NodeHeight;
    TLazyNodeStates States;
    uint8_t Align;
    TCheckState CheckState;
    TCheckType CheckType;
    uint8_t Dummy;
    uint32_t TotalCount;
    uint32_t TotalHeight;
    TLazyNode* Parent;
    TLazyNode* PrevSibling;
    TLazyNode* NextSibling;
    TLazyNode* FirstChild;
    TLazyNode* LastChild;
};
using PLazyNode = TLazyNode*;
inline constexpr int TreeNodeSize = int(sizeof(TLazyNode));

// The node blocks of one tree, cut from slabs of its own: a block keeps its
// address while it lives, freed blocks are reused, and a tree that goes
// empty gives all its slabs back at once. A block goes back to the blocks of
// the size it was cut with: nodes made before a change of the data size
// keep their size until they are freed. In builds with the address
// sanitizer a block not handed out is poisoned, so that a node used after
// it was freed is caught as a heap block of its own would be.
class TLazyNodeSlabs {
public:
    TLazyNodeSlabs() = default;
    TLazyNodeSlabs(const TLazyNodeSlabs&) = delete;
    TLazyNodeSlabs& operator=(const TLazyNodeSlabs&) = delete;
    ~TLazyNodeSlabs() { ReleaseAll(); }
    void* Take(size_t size); // zero-filled
    void Give(void* block);
    void Forget() { --FLive; } // a block that ReleaseAll will take back with its slab
    void ReleaseAll();
    size_t Live() const { return FLive; }
    // Every block handed out, live or given back, in address order within a
    // slab (given-back blocks the sanitizer guards are left out).
    template <class F> void ForEachBlock(F&& visit) const {
        for (size_t i = 0; i < FSlabs.size(); ++i) {
            const TSlab& s = FSlabs[i];
            uint8_t* end = i + 1 == FSlabs.size() && FNext ? FNext : s.End;
            for (uint8_t* b = s.Begin; b < end; b += s.BlockSize)
                if (!Guarded(b)) visit(static_cast<void*>(b));
        }
    }

private:
    struct TFreeBlock {
        TFreeBlock* Next;
    };
    struct TSlab {
        uint8_t* Begin;
        uint8_t* End; // of the blocks handed out once the slab is no longer cut
        uint8_t* Limit;
        size_t BlockSize;
    };
    struct TFreeList {
        size_t BlockSize;
        TFreeBlock* First;
    };
    static bool Guarded(const void* block);
    TFreeBlock*& FreeList(size_t blockSize);
    size_t BlockSizeOf(const void* block) const;
    std::vector<TSlab> FSlabs;
    std::vector<TSlab> FByAddress;     // the same slabs, by their start
    std::vector<TFreeList> FFreeLists; // one per block size; a tree has one or two
    uint8_t* FNext = nullptr;
    uint8_t* FEnd = nullptr;
    size_t FBlockSize = 0;
    size_t FSlabBlocks = 0;
    size_t FLive = 0;
};

inline bool TLazyNodeSlabs::Guarded([[maybe_unused]] const void* block) {
#ifdef NUQ_ASAN
    return __asan_address_is_poisoned(block);
#else
    return false;
#endif
}

// Fetches the nodes a whole-tree walk will reach some steps before it gets
// there. Sibling links after a sort lead all over the slabs, and a walk that
// follows them waits for memory at every node; the order, read off the
// slabs beforehand, lets the fetches overlap. A walk that strays from the
// order only fetches in vain.
class TLazyWalkAhead {
public:
    TLazyWalkAhead() = default;
    TLazyWalkAhead(std::vector<PLazyNode> order, bool backwards);
    void Step() {
        if (FAt < FOrder.size()) Fetch(FOrder[FAt++]);
    }
    // The same nodes for another walk, when the tree has not changed meanwhile.
    TLazyWalkAhead Again(bool backwards) &&;

private:
    static constexpr size_t Distance = 16;
    static void Fetch(PLazyNode node) {
        __builtin_prefetch(node);
        __builtin_prefetch(reinterpret_cast<const char*>(node) + sizeof(TLazyNode) - 1);
    }
    std::vector<PLazyNode> FOrder;
    size_t FAt = 0;
    bool FBackwards = false;
};

// The nodes of one tree that hold vsExpanded, the root aside: collapsing
// all of a million nodes reads these instead of every node. A set of node
// addresses by open addressing; it never holds a node the tree has freed.
// Kept only while it is worth it: with expanded nodes in numbers a walk
// reads faster, it stops tracking them until the tree hands it all of them again.
class TLazyNodeSet {
public:
    // The most members worth keeping for a tree of Nodes nodes. Measured: a
    // member costs as much as some 30 nodes walked in build order, or 3 in
    // an order scattered by sorting, and its upkeep a cache miss per toggle.
    static size_t Worthwhile(size_t nodes) { return std::max<size_t>(nodes / 16, 64); }

    bool Tracking() const { return FTracking; }
    bool Contains(PLazyNode node) const; // only while tracking
    // Beyond Most members the set stops tracking; may throw bad_alloc, the set unchanged.
    void Insert(PLazyNode node, size_t most);
    void Erase(PLazyNode node) { // never throws
        if (FSize) EraseMember(node);
    }
    void Clear(); // gives the table back
    // Tracks again, with every expanded node of the tree.
    void Track(const std::vector<PLazyNode>& members);
    // While kept (by nested callers too), a tracking set goes on tracking
    // however many members it gets.
    void Keep() { ++FKeeps; }
    void Release() { --FKeeps; }
    size_t Size() const { return FSize; }
    // Nodes ever opened, tracked or not: tells whether any node opened meanwhile.
    uint64_t Insertions() const { return FInsertions; }
    // Visits the members in no particular order while Visit returns true.
    template <class F> void ForEach(F&& visit) const {
        for (PLazyNode n : FSlots)
            if (n && !visit(n)) return;
    }

private:
    size_t Home(PLazyNode node) const {
        return size_t((uint64_t(reinterpret_cast<uintptr_t>(node)) >> 4) * 0x9E3779B97F4A7C15ull >>
                      FShift);
    }
    size_t Find(PLazyNode node) const; // its slot, or the table's size
    void EraseMember(PLazyNode node);
    void Rehash(size_t capacity);
    std::vector<PLazyNode> FSlots; // empty, or a power of two long and at most half full
    size_t FSize = 0;
    unsigned FShift = 64;
    uint64_t FInsertions = 0;
    bool FTracking = true;
    int FKeeps = 0;
};

// --- tree states ---------------------------------------------------------------------

using TLazyTreeStates = uint64_t;
enum TLazyTreeState : int {
    tsCancelHintAnimation,
    tsChangePending,
    tsCheckPropagation,
    tsCollapsing,
    tsToggleFocusedSelection,
    tsClearPending,
    tsClipboardFlushing,
    tsCopyPending,
    tsCutPending,
    tsDrawSelPending,
    tsDrawSelecting,
    tsEditing,
    tsEditPending,
    tsExpanding,
    tsNodeHeightTracking,
    tsNodeHeightTrackPending,
    tsHint,
    tsInAnimation,
    tsIncrementalSearching,
    tsIncrementalSearchPending,
    tsIterating,
    tsKeyCheckPending,
    tsLeftButtonDown,
    tsLeftDblClick,
    tsMouseCheckPending,
    tsMiddleButtonDown,
    tsMiddleDblClick,
    tsNeedScale,
    tsNeedRootCountUpdate,
    tsOLEDragging,
    tsOLEDragPending,
    tsPainting,
    tsRightButtonDown,
    tsRightDblClick,
    tsPopupMenuShown,
    tsScrolling,
    tsScrollPending,
    tsSizing,
    tsStopValidation,
    tsStructureChangePending,
    tsSynchMode,
    tsThumbTracking,
    tsToggling,
    tsUpdateHiddenChildrenNeeded,
    tsUpdating,
    tsUseCache,
    tsUserDragObject,
    tsUseThemes,
    tsValidating,
    tsValidationNeeded,
    tsFrameworkDragging,
    tsFrameworkDragPending,
    tsWheelPanning,
    tsWheelScrolling,
    tsWindowCreating,
};
constexpr TLazyTreeStates TS(TLazyTreeState s) {
    return TLazyTreeStates(1) << s;
}
template <class... S> constexpr TLazyTreeStates TS(TLazyTreeState s, S... more) {
    return TS(s) | TS(more...);
}

// The tree's private change-state message: enter in WParam, leave in LParam,
// four bits each: 1 tsStopValidation, 2 tsUseCache, 4 tsValidating, 8 tsValidationNeeded.
inline constexpr UINT WM_CHANGESTATE = 0x8020;
// Printing the window into a given context, and what to print.
enum : UINT { WM_PRINT = 0x0317 };
enum : UINT { PRF_CHECKVISIBLE = 0x01, PRF_NONCLIENT = 0x02, PRF_CLIENT = 0x04 };
// The tree-view item queries the tree answers for accessibility tools; the
// item handle is a node.
enum : UINT { TVM_GETITEMRECT = 0x1104, TVM_GETNEXTITEM = 0x110A, TVM_GETITEM = 0x110C };
enum : UINT {
    TVIF_TEXT = 0x01,
    TVIF_IMAGE = 0x02,
    TVIF_STATE = 0x08,
    TVIF_HANDLE = 0x10,
    TVIF_SELECTEDIMAGE = 0x20,
    TVIF_CHILDREN = 0x40,
};
enum : UINT {
    TVIS_FOCUSED = 0x01,
    TVIS_SELECTED = 0x02,
    TVIS_CUT = 0x04,
    TVIS_DROPHILITED = 0x08,
    TVIS_EXPANDED = 0x20,
};
struct TTVItem {
    UINT Mask = 0;
    void* Item = nullptr;
    UINT State = 0, StateMask = 0;
    char* Text = nullptr; // the caller's buffer, in the ANSI code page
    int TextMax = 0;
    int Image = 0, SelectedImage = 0, Children = 0;
    LPARAM Param = 0;
};

} // namespace nuq

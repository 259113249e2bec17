#pragma once
// The lazy tree control: a tree that keeps no captions and creates and
// initialises its nodes only when something walks over them, asking its
// owner through events for everything it shows.
//
// This header holds the node record, the state and option sets, the shared
// structures of the unit, the clipboard format registry, the text builders
// and the tree classes.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/SysUtils.h"
#include "platform/gui/Clipbrd.h"
#include "platform/gui/Controls.h"
#include "platform/gui/FrameworkDrag.h"
#include "platform/gui/ImgList.h"
#include "platform/gui/Menus.h"
#include "platform/gui/Ole.h"

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
// empty gives all its slabs back at once.
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

private:
    struct TFreeBlock {
        TFreeBlock* Next;
    };
    std::vector<void*> FSlabs;
    uint8_t* FNext = nullptr;
    uint8_t* FEnd = nullptr;
    TFreeBlock* FFree = nullptr;
    size_t FBlockSize = 0;
    size_t FSlabBlocks = 0;
    size_t FLive = 0;
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

// The framework's component messages: a control tells itself of a change of
// what it inherits, so that what follows it can follow.
enum : UINT {
    CM_BASE = 0xB000,
    CM_ENABLEDCHANGED = CM_BASE + 1,
    CM_COLORCHANGED,
    CM_FONTCHANGED,
    CM_BIDIMODECHANGED,
    CM_CTL3DCHANGED,
    CM_SYSCOLORCHANGE,
    CM_HINTSHOWPAUSE, // WParam: a hint was showing; LParam: the pause (int*) to adjust
    CM_DENYSUBCLASSING = CM_BASE + 2000,
};

// --- options ---------------------------------------------------------------------------

using TLTAnimationOptions = uint8_t;
enum : TLTAnimationOptions { toAnimatedToggle = 1, toAdvancedAnimatedToggle = 2 };
using TLTAutoOptions = uint16_t;
enum : TLTAutoOptions {
    toAutoDropExpand = 1 << 0,
    toAutoExpand = 1 << 1,
    toAutoScroll = 1 << 2,
    toAutoScrollOnExpand = 1 << 3,
    toAutoSort = 1 << 4,
    toAutoSpanColumns = 1 << 5,
    toAutoTristateTracking = 1 << 6,
    toAutoHideButtons = 1 << 7,
    toAutoDeleteMovedNodes = 1 << 8,
    toDisableAutoscrollOnFocus = 1 << 9,
    toAutoChangeScale = 1 << 10,
    toAutoFreeOnCollapse = 1 << 11,
    toDisableAutoscrollOnEdit = 1 << 12,
    toAutoBidiColumnOrdering = 1 << 13,
};
using TLTMiscOptions = uint16_t;
enum : TLTMiscOptions {
    toAcceptOLEDrop = 1 << 0,
    toCheckSupport = 1 << 1,
    toEditable = 1 << 2,
    toFullRepaintOnResize = 1 << 3,
    toGridExtensions = 1 << 4,
    toInitOnSave = 1 << 5,
    toReportMode = 1 << 6,
    toToggleOnDblClick = 1 << 7,
    toWheelPanning = 1 << 8,
    toReadOnly = 1 << 9,
    toVariableNodeHeight = 1 << 10,
    toFullRowDrag = 1 << 11,
    toNodeHeightResize = 1 << 12,
    toNodeHeightDblClickResize = 1 << 13,
    toEditOnClick = 1 << 14,
    toEditOnDblClick = 1 << 15,
};
using TLTPaintOptions = uint32_t;
enum : TLTPaintOptions {
    toHideFocusRect = 1 << 0,
    toHideSelection = 1 << 1,
    toHotTrack = 1 << 2,
    toPopupMode = 1 << 3,
    toShowBackground = 1 << 4,
    toShowButtons = 1 << 5,
    toShowDropmark = 1 << 6,
    toShowHorzGridLines = 1 << 7,
    toShowRoot = 1 << 8,
    toShowTreeLines = 1 << 9,
    toShowVertGridLines = 1 << 10,
    toThemeAware = 1 << 11,
    toUseBlendedImages = 1 << 12,
    toGhostedIfUnfocused = 1 << 13,
    toFullVertGridLines = 1 << 14,
    toAlwaysHideSelection = 1 << 15,
    toUseBlendedSelection = 1 << 16,
    toStaticBackground = 1 << 17,
    toChildrenAbove = 1 << 18,
    toFixedIndent = 1 << 19,
    toUseExplorerTheme = 1 << 20,
    toHideTreeLinesIfThemed = 1 << 21,
    toShowHiddenNodes = 1 << 22,
};
using TLTSelectionOptions = uint16_t;
enum : TLTSelectionOptions {
    toDisableDrawSelection = 1 << 0,
    toExtendedFocus = 1 << 1,
    toFullRowSelect = 1 << 2,
    toLevelSelectConstraint = 1 << 3,
    toMiddleClickSelect = 1 << 4,
    toMultiSelect = 1 << 5,
    toRightClickSelect = 1 << 6,
    toSiblingSelectConstraint = 1 << 7,
    toCenterScrollIntoView = 1 << 8,
    toSimpleDrawSelection = 1 << 9,
};
enum TLTExportMode : uint8_t { emAll, emChecked, emUnchecked };
using TLTStringOptions = uint8_t;
enum : TLTStringOptions { toSaveCaptions = 1, toShowStaticText = 2, toAutoAcceptEditChange = 4 };

inline constexpr TLTAutoOptions DefaultAutoOptions =
    toAutoDropExpand | toAutoScrollOnExpand | toAutoTristateTracking | toAutoDeleteMovedNodes;
inline constexpr TLTMiscOptions DefaultMiscOptions = toAcceptOLEDrop | toFullRepaintOnResize |
                                                     toInitOnSave | toToggleOnDblClick |
                                                     toWheelPanning | toEditOnClick;
inline constexpr TLTPaintOptions DefaultPaintOptions = toShowButtons | toShowDropmark | toShowRoot |
                                                       toShowTreeLines | toThemeAware |
                                                       toUseBlendedImages;
inline constexpr TLTStringOptions DefaultStringOptions = toSaveCaptions | toAutoAcceptEditChange;

class TCustomLazyTreeOptions : public TPersistent {
public:
    explicit TCustomLazyTreeOptions(TBaseLazyTree* owner);
    virtual ~TCustomLazyTreeOptions() = default;

    TBaseLazyTree* Owner() const { return FOwner; }
    TLTPaintOptions PaintOptions() const { return FPaintOptions; }
    TLTAnimationOptions AnimationOptions() const { return FAnimationOptions; }
    TLTAutoOptions AutoOptions() const { return FAutoOptions; }
    TLTSelectionOptions SelectionOptions() const { return FSelectionOptions; }
    TLTMiscOptions MiscOptions() const { return FMiscOptions; }
    TLTExportMode ExportMode() const { return FExportMode; }
    void SetPaintOptions(TLTPaintOptions value);
    void SetAnimationOptions(TLTAnimationOptions value);
    void SetAutoOptions(TLTAutoOptions value);
    void SetSelectionOptions(TLTSelectionOptions value);
    void SetMiscOptions(TLTMiscOptions value);
    void SetExportMode(TLTExportMode value) { FExportMode = value; }
    virtual void AssignTo(TCustomLazyTreeOptions& dest) const;

protected:
    TBaseLazyTree* FOwner;
    TLTPaintOptions FPaintOptions = DefaultPaintOptions;
    TLTAnimationOptions FAnimationOptions = 0;
    TLTAutoOptions FAutoOptions = DefaultAutoOptions;
    TLTSelectionOptions FSelectionOptions = 0;
    TLTMiscOptions FMiscOptions = DefaultMiscOptions;
    TLTExportMode FExportMode = emAll;
};

class TCustomStringTreeOptions : public TCustomLazyTreeOptions {
public:
    using TCustomLazyTreeOptions::TCustomLazyTreeOptions;
    TLTStringOptions StringOptions() const { return FStringOptions; }
    void SetStringOptions(TLTStringOptions value) { FStringOptions = value; }
    void AssignTo(TCustomLazyTreeOptions& dest) const override;

protected:
    TLTStringOptions FStringOptions = DefaultStringOptions;
};
using TStringTreeOptions = TCustomStringTreeOptions;

// --- tree classes as values --------------------------------------------------------------

// A tree class reference: a class and what it descends from.
struct TTreeClass {
    const char* Name;
    const TTreeClass* Parent;
    bool InheritsFrom(const TTreeClass* other) const {
        for (const TTreeClass* c = this; c; c = c->Parent)
            if (c == other) return true;
        return false;
    }
};

// --- clipboard format registry -------------------------------------------------------------

struct TClipboardFormatListEntry {
    std::string Description;
    const TTreeClass* TreeClass = nullptr;
    uint32_t Priority = 0;
    TFormatEtc FormatEtc;
};

class TClipboardFormatList {
public:
    ~TClipboardFormatList() { Clear(); }
    void AddFormat(const std::string& description, const TTreeClass* treeClass, uint32_t priority,
                   const TFormatEtc& formatEtc);
    void Clear();
    // The descriptors for TreeClass and its ancestors, in list order; with
    // Allowed, only the names it holds (compared without case).
    void FormatsForClass(const TTreeClass* treeClass, std::vector<TFormatEtc>& formats,
                         const std::vector<std::string>* allowed) const;
    // The class registered under Description (last entry first), null when none.
    const TTreeClass* FindByName(const std::string& description, WORD& format) const;
    const std::vector<std::unique_ptr<TClipboardFormatListEntry>>& Entries() const { return FList; }

private:
    void Sort(int low, int high);
    std::vector<std::unique_ptr<TClipboardFormatListEntry>> FList;
};

struct TClipboardFormatEntry {
    WORD ID;
    const char* Description;
};
extern const TClipboardFormatEntry ClipboardDescriptions[16];

// The process's registry; null until the first registration.
TClipboardFormatList* InternalClipboardFormats();
void FreeClipboardFormatList(); // the next registration makes a new registry
WORD RegisterTreeClipboardFormat(const std::string& description, const TTreeClass* treeClass,
                                 uint32_t priority, DWORD medium = TYMED_HGLOBAL,
                                 void* targetDevice = nullptr, DWORD aspect = DVASPECT_CONTENT,
                                 int index = -1);
void RegisterTreeClipboardFormat(WORD format, const TTreeClass* treeClass, uint32_t priority);

// --- shared structures ----------------------------------------------------------------------

class TCriticalSection {
public:
    void Enter() { FLock.lock(); }
    void Leave() { FLock.unlock(); }

private:
    std::recursive_mutex FLock;
};

extern bool GlobalsInitialised;
extern bool OleInitialised;
extern bool ProcessorHasMMX;
extern bool IsNTFamily, IsVersion50, IsVersion51, IsVersion6OrLater;
extern WORD TreeReferenceFormat, TreeDataFormat, HtmlFormat, RtfFormat, RtfNoObjectsFormat,
    CsvFormat;
extern TCustomImageList* LightCheckImages;
extern TCustomImageList* DarkCheckImages;
extern TCustomImageList* LightTickImages;
extern TCustomImageList* DarkTickImages;
extern TCustomImageList* FlatImages;
extern TCustomImageList* XPImages;
extern TCustomImageList* UtilityImages;
extern TCustomImageList* PlatformCheckImages;
extern TCustomImageList* PlatformFlatCheckImages;
extern TCriticalSection* TreeGlobalLock;
inline constexpr int crHeaderSplit = 63, crVertSplit = 62;

// The unit's start and end.
void LazyTreesInitialization();
void LazyTreesFinalization();
void InitializeGlobalStructures();
void FinalizeGlobalStructures();
// The bitmap resources of the unit by name ("LT_CHECK_LIGHT", ...); null for
// an unknown name. ColourMapped applies the system colour map.
std::unique_ptr<TBitmap> LoadTreeBitmapResource(const std::string& name, bool colourMapped);
void LoadCheckImageStrip(TCustomImageList& imageList, const std::string& resourceName,
                         bool colourMapped);
void BuildPlatformCheckImages(std::unique_ptr<TCustomImageList>& imageList, UINT flags, bool flat);
// Loads the colour-mapped check strips again, so that they follow new system colours.
void ReloadCheckImageStrips();
// The unit's cursor pictures by name ("LT_HEADERSPLIT", "LT_VERTSPLIT", the
// panning "LT_MOVE..." ones); null for an unknown name.
std::unique_ptr<TCursorObject> LoadTreeCursorResource(const std::string& name);
// The panning cursor of that name, made once and kept by the unit.
HCURSOR TreeCursor(const std::string& name);

void BlendRectangle(HDC source, HDC destination, const TRect& r, TPoint target, int mode,
                    int constantAlpha, int bias);
void ComputeDragRects(int width, int height, int deltaX, int deltaY, TRect& clip, TRect& scroll,
                      TRect& sampleA, TRect& sampleB, TRect& draw, TRect& erase);
std::u16string ShortenWithEllipsis(HDC dc, const std::u16string& text, int width,
                                   int ellipsisWidth = 0);
std::u16string WrapWideText(HDC dc, const std::u16string& text, const TRect& bounds,
                            bool rightToLeft, UINT drawFormat);
void MeasureWideText(HDC dc, const std::u16string& text, TRect& bounds, UINT drawFormat);
void DrawWideTextSubstitute(HDC dc, const char16_t* text, int count, TRect& bounds, UINT format,
                            bool adjustRight);
TRect NormalizeRect(const TRect& r);
TBaseLazyTree* TreeOfNode(PLazyNode node);
[[noreturn]] void RaiseTreeError(const std::u16string& message, int helpContext);
uint32_t ColorToImageListColor(TColor color);
void SortNodeAddresses(std::vector<PLazyNode>& nodes, int low, int high);

// --- text builders -----------------------------------------------------------------------------

class TBufferedAnsiString {
public:
    void Add(std::string_view s);
    void AddNewLine();
    std::string AsString() const { return std::string(FBuffer.data(), FPosition); }
    size_t Capacity() const { return FBuffer.size(); }

private:
    std::vector<char> FBuffer; // Start .. End
    size_t FPosition = 0;
};

class TWideBufferedString {
public:
    void Add(std::u16string_view s);
    void AddNewLine();
    std::u16string AsString() const { return std::u16string(FBuffer.data(), FPosition); }
    size_t Capacity() const { return FBuffer.size(); } // characters

private:
    std::vector<char16_t> FBuffer;
    size_t FPosition = 0;
};

// --- accessibility
// --------------------------------------------------------------------------------

class IAccessible {
public:
    virtual ~IAccessible() = default;
};
class ILTAccessibleProvider {
public:
    virtual ~ILTAccessibleProvider() = default;
    virtual std::shared_ptr<IAccessible> CreateIAccessible(TBaseLazyTree* tree) = 0;
};
bool BindAccessibilityLibrary();
void ReleaseAccessibilityLibrary();
class TLTAccessibilityFactory {
public:
    ~TLTAccessibilityFactory();
    std::shared_ptr<IAccessible> CreateAccessible(TBaseLazyTree* tree);
    std::vector<std::shared_ptr<ILTAccessibleProvider>> Providers;
};
TLTAccessibilityFactory* AccessibilityFactory();
int AccessibilityUseCount();  // the binding's use count
void FinalizeAccessibility(); // the binding unit's end

// --- the worker thread ---------------------------------------------------------------------------

class TWorkerThread {
public:
    TWorkerThread();
    ~TWorkerThread(); // terminates and waits for the thread
    void AddTree(TBaseLazyTree* tree);
    void RemoveTree(TBaseLazyTree* tree);
    TBaseLazyTree* CurrentTree() const { return FCurrentTree.load(); }
    int RefCount = 0;
    size_t Waiting() const;
    // Removes Tree from the queue; true when the thread is working on it
    // (checked under the same lock, so it cannot take the tree in between).
    bool RemoveOrHeld(TBaseLazyTree* tree);
    // Returns once the thread has let go of Tree, answering meanwhile the
    // messages the thread sends to Wnd (0: the tree has no window).
    void WaitForRelease(TBaseLazyTree* tree, HWND wnd);
    // For a tree that cannot wait (it is inside the thread's own message):
    // the thread reads nothing more of it and only reports the end.
    void Abandon(TBaseLazyTree* tree);

private:
    struct TWaiter {
        TBaseLazyTree* Tree;
        HWND Window; // taken when queued: the thread never reads the tree's fields for it
    };
    void Execute();
    void ChangeTreeStates(TLazyTreeStates enter, TLazyTreeStates leave);
    void Release();
    std::atomic<TBaseLazyTree*> FCurrentTree{nullptr};
    HWND FCurrentWindow = 0; // the thread's own
    mutable std::mutex FListLock;
    std::vector<TWaiter> FWaiterList;
    std::atomic<bool> FTerminated{false};
    // Wakes a tree waiting for release: a message on its way or the tree let go.
    std::mutex FWakeLock;
    std::condition_variable FWake;
    bool FSending = false;
    bool FAbandoned = false;
    std::thread FThread;
};
void AddThreadReference();
void ReleaseThreadReference(TBaseLazyTree* tree);
TWorkerThread* WorkerThread();
void SignalWorkEvent();
TLazyTreeStates DecodeChangeStates(uintptr_t bits); // the four bits of WM_CHANGESTATE

// --- owned objects of a tree
// ------------------------------------------------------------------------

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TScrollBarStyle { sbmRegular, sbmFlat, sbm3D };
class TScrollBarOptions : public TPersistent {
public:
    explicit TScrollBarOptions(TBaseLazyTree* owner) : FOwner(owner) {}
    bool AlwaysVisible() const { return FAlwaysVisible; }
    void SetAlwaysVisible(bool value);
    TScrollStyle ScrollBars() const { return FScrollBars; }
    void SetScrollBars(TScrollStyle value);
    TScrollBarStyle ScrollBarStyle = sbmRegular;
    uint16_t HorizontalIncrement = 20;
    uint16_t VerticalIncrement = 20;
    void Assign(const TScrollBarOptions& source);

private:
    TBaseLazyTree* FOwner;
    bool FAlwaysVisible = false;
    TScrollStyle FScrollBars = ssBoth;
};

class TLTColors : public TPersistent {
public:
    explicit TLTColors(TBaseLazyTree* owner);
    enum : int {
        DisabledColor,
        DropMarkColor,
        DropTargetColor,
        FocusedSelectionColor,
        GridLineColor,
        TreeLineColor,
        UnfocusedSelectionColor,
        BorderColor,
        HotColor,
        FocusedSelectionBorderColor,
        UnfocusedSelectionBorderColor,
        DropTargetBorderColor,
        SelectionRectangleBlendColor,
        SelectionRectangleBorderColor,
        HeaderHotColor,
    };
    TColor Color(int index) const { return FColors[index]; }
    void SetColor(int index, TColor value);
    void Assign(const TLTColors& source);

private:
    TBaseLazyTree* FOwner;
    TColor FColors[15];
};

// The names of the formats a tree offers: sorted, no duplicates, only names
// the registry knows for the tree's class.
class TClipboardFormats {
public:
    explicit TClipboardFormats(TBaseLazyTree* owner) : FOwner(owner) {}
    int Add(const std::string& s); // the index, -1 when refused
    void Insert(int index, const std::string& s);
    const std::vector<std::string>& Strings() const { return FStrings; }
    int Count() const { return int(FStrings.size()); }
    void Clear() { FStrings.clear(); }

private:
    bool Accepts(const std::string& s) const;
    TBaseLazyTree* FOwner;
    std::vector<std::string> FStrings;
};

// Column indices and positions; the header and its columns are declared at
// the end of this file.
using TColumnIndex = int;
using TColumnPosition = uint32_t;
enum TSortDirection { sdAscending, sdDescending };
inline constexpr TColumnIndex NoColumn = -1;
inline constexpr TColumnIndex InvalidColumn = -2;
class TLTHeader;
class TLazyTreeColumn;
class TLazyTreeColumns;
enum TBevelKind { bkNone, bkTile, bkSoft, bkFlat };
enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum : unsigned { beLeft = 1, beTop = 2, beRight = 4, beBottom = 8 }; // TBevelEdges
enum TSmartAutoFitType { smaAllColumns, smaNoColumn, smaUseColumnOption };

// --- drag image -------------------------------------------------------------------------------

enum TLTDragImageState : uint8_t {
    dgHidden = 1,
    dgInDrag = 2,
    dgPrepared = 4,
    dgSystemSupport = 8
};
enum TLTImageRestriction : uint8_t { rmNone, rmHorizontalOnly, rmVerticalOnly };

// The translucent picture of the dragged nodes that follows the mouse. It is
// drawn straight onto the screen over a copy of what it covers; a move puts
// back only the strips it uncovers and copies only those it newly covers.
// Where the desktop's drag-image service takes the picture, this stays passive.
class TLTDragImage {
public:
    explicit TLTDragImage(TBaseLazyTree* owner) : Owner(owner) {}
    ~TLTDragImage();
    TLTDragImage(const TLTDragImage&) = delete;
    TLTDragImage& operator=(const TLTDragImage&) = delete;

    TBaseLazyTree* Owner;
    // The screen under the picture, the blending work area and the picture
    // with its alpha channel; they live from PrepareDrag to EndDrag.
    std::unique_ptr<TBitmap> ScreenCopy, BlendImage, Picture;
    TPoint PicturePosition;   // screen coordinates of the picture's top-left corner
    TPoint LastMousePosition; // the last point the picture followed
    uint8_t Transparency = 128;
    int8_t PrepareBias = 0, BlendBias = 0;
    bool Fade = false; // the picture fades out from its centre
    TLTImageRestriction Restriction = rmNone;
    TColor ColorKey = clNone; // pixels of this colour are not drawn
    uint8_t States = 0;

    void PrepareDrag(TBitmap& source, TPoint position, TPoint hotSpot, IDataObject* dataObject);
    // Follows the mouse; true when the picture moved or was repainted.
    bool DragTo(TPoint p, bool forceRepaint);
    void ShowPicture();
    void HidePicture();
    void EndDrag();
    TRect PictureRect() const; // empty while not visible
    // After the tree painted R (client coordinates) while the picture was
    // hidden: the tree paints that part again into the background copy.
    void RecaptureScreenCopy(TWinControl& tree, TRect r, HRGN visibleRegion, bool captureNCArea,
                             bool reshow);
    bool WillMove(TPoint p) const;
    bool IsVisible() const;

private:
    int PictureWidth() const { return Picture ? Picture->Width() : 0; }
    int PictureHeight() const { return Picture ? Picture->Height() : 0; }
    void BuildAlphaChannel(TBitmap& source, TBitmap& target);
    void BlendAndDraw(HDC screenDC);
};

// What a tree needs of its drag manager: the drop source of the drags it
// starts, the drop target of its window and the drag under way. An owner may
// supply its own (OnCreateDragManager).
class ILTDragManager : public IDropTarget, public IDropSource {
public:
    // The data object of the drop under way, else one made by the tree.
    virtual std::shared_ptr<IDataObject> GetDataObject() = 0;
    virtual TBaseLazyTree* DragSource() const = 0;
    virtual bool DropTargetHelperSupported() const = 0;
    virtual bool IsDropTarget() const = 0;
    virtual void ForceDragLeave() = 0;
};

// The tree's own drag manager, forwarding to the tree's drag handling.
class TLTDragManager : public ILTDragManager {
public:
    explicit TLTDragManager(TBaseLazyTree* owner);
    TBaseLazyTree* Owner() const { return FOwner; }
    std::shared_ptr<IDataObject> GetDataObject() override;
    TBaseLazyTree* DragSource() const override { return FDragSource; }
    bool DropTargetHelperSupported() const override { return FDropTargetHelper != nullptr; }
    bool IsDropTarget() const override { return FIsDropTarget; }
    void ForceDragLeave() override;

    HRESULT DragEnter(IDataObject* data, DWORD keyState, TPoint pt, DWORD& effect) override;
    HRESULT DragOver(DWORD keyState, TPoint pt, DWORD& effect) override;
    HRESULT DragLeave() override;
    HRESULT Drop(IDataObject* data, DWORD keyState, TPoint pt, DWORD& effect) override;
    HRESULT QueryContinueDrag(bool escapePressed, DWORD keyState) override;
    HRESULT GiveFeedback(DWORD effect) override;

private:
    TBaseLazyTree* FOwner;
    TBaseLazyTree* FDragSource = nullptr;
    bool FIsDropTarget = false;
    IDataObject* FDataObject = nullptr;
    IDropTarget* FDropTargetHelper = nullptr; // the desktop offers none here
    bool FFullDragging = false;
};

// --- events
// -----------------------------------------------------------------------------------------

enum TChangeReason {
    crIgnore,
    crAccumulated,
    crChildAdded,
    crChildDeleted,
    crNodeAdded,
    crNodeCopied,
    crNodeMoved
};
enum TLTUpdateState { usBegin, usBeginSynch, usSynch, usUpdate, usEnd, usEndSynch };
enum THintAnimationType { hatNone, hatFade, hatSlide, hatSystemDefault };
enum TLTTooltipLineBreakStyle { hlbDefault, hlbForceSingleLine, hlbForceMultiLine };
enum TLTCellPaintMode { cpmPaint, cpmGetContentMargin };
enum TLTImageKind { ikNormal, ikSelected, ikState, ikOverlay };
enum TItemEraseAction { eaColor, eaDefault, eaNone };
enum TDragState { dsDragEnter, dsDragLeave, dsDragMove };
enum TDropMode { dmNowhere, dmAbove, dmOnNode, dmBelow };
enum TMouseButton { mbLeft, mbRight, mbMiddle };
using TShiftState = uint8_t;
enum : TShiftState {
    ssShift = 1,
    ssAlt = 2,
    ssCtrl = 4,
    ssLeft = 8,
    ssRight = 16,
    ssMiddle = 32,
    ssDouble = 64
};
enum TDragOperation : uint8_t { doCopy = 1, doMove = 2, doLink = 4 };
enum TDragType { dtOLE, dtFramework };
enum TLTDragImageKind { diComplete, diMainColumnOnly, diNoImage };
enum TLTIncrementalSearch { isAll, isNone, isInitializedOnly, isVisibleOnly };
enum TLTSearchStart { ssAlwaysStartOver, ssLastHit, ssFocusedNode };
enum TLTSearchDirection { sdForward, sdBackward };
enum TLTNodeAlignment { naFromBottom, naFromTop, naProportional };
enum TLTNodeAttachMode {
    amNoWhere,
    amInsertBefore,
    amInsertAfter,
    amAddChildFirst,
    amAddChildLast
};
enum TLTButtonStyle { bsRectangle, bsTriangle };
enum TLTButtonFillMode { fmTreeColor, fmWindowColor, fmShaded, fmTransparent };
enum TLTLineStyle { lsCustomStyle, lsDotted, lsSolid };
enum TLTLineMode { lmNormal, lmBands };
enum TCheckImageKind {
    ckLightCheck,
    ckDarkCheck,
    ckLightTick,
    ckDarkTick,
    ckFlat,
    ckXP,
    ckCustom,
    ckSystemFlat,
    ckSystemDefault
};
enum THintMode { hmDefault, hmHint, hmHintAndDefault, hmTooltip };
enum TLTDrawSelectionMode { smDottedRectangle, smBlendedRectangle };
enum TAlignment { taLeftJustify, taRightJustify, taCenter };
using THeaderHitPositions = uint8_t;
enum : THeaderHitPositions { hpNowhere = 1, hpOnColumn = 2, hpOnIcon = 4, hpOnCheckBox = 8 };
struct TLTHeaderHitInfo {
    int X = 0, Y = 0;
    TMouseButton Button = mbLeft;
    TShiftState Shift = 0;
    TColumnIndex Column = NoColumn;
    THeaderHitPositions HitPosition = 0;
};
enum TLTDropMarkMode { dmmNone, dmmLeft, dmmRight };
// What the advanced header drawing events see of one cell (or of the background).
struct THeaderPaintInfo {
    TCanvas* Canvas = nullptr;
    TLazyTreeColumn* Column = nullptr;
    TRect PaintRect, TextRect;
    bool IsHot = false, IsPressed = false, IsEnabled = false, ShowGlyph = false,
         ShowSortGlyph = false, ShowRightBorder = false;
    TLTDropMarkMode DropMark = dmmNone;
    TPoint GlyphPos, SortGlyphPos;
};
using THeaderPaintElements = uint8_t;
enum : THeaderPaintElements {
    hpeBackground = 1,
    hpeDropMark = 2,
    hpeHeaderGlyph = 4,
    hpeSortGlyph = 8,
    hpeText = 16,
};
enum TLTLineType {
    ltNone,
    ltBottomRight,
    ltTopDown,
    ltTopDownRight,
    ltRight,
    ltTopRight,
    ltLeft,
    ltLeftBottom
};
using TLineImage = std::vector<TLTLineType>;
// What the row painter passes to the pieces of a cell.
enum TLTImageInfoIndex { iiNormal, iiState, iiCheck, iiOverlay };
struct TLTImageInfo {
    int Index = -1;
    int XPos = 0, YPos = 0;
    bool Ghosted = false;
    TCustomImageList* Images = nullptr;
};
using TLTRowPaintOptions = uint32_t;
enum : TLTRowPaintOptions {
    poBackground = 1,
    poColumnColor = 2,
    poDrawFocusRect = 4,
    poDrawSelection = 8,
    poDrawDropMark = 16,
    poGridLines = 32,
    poMainOnly = 64,
    poSelectedOnly = 128,
    poBands = 256,
};
inline constexpr TLTRowPaintOptions DefaultPaintTreeOptions =
    poBackground | poColumnColor | poDrawFocusRect | poDrawSelection | poDrawDropMark | poGridLines;
struct TLTPaintInfo {
    TCanvas* Canvas = nullptr;
    PLazyNode Node = nullptr;
    TColumnIndex Column = NoColumn;
    TRect CellRect, ContentRect;
    TLTRowPaintOptions PaintOptions = 0;
    TColumnPosition Position = 0;
    bool RightToLeft = false;
    TAlignment Alignment = taLeftJustify; // of the cell's text, as seen on the screen
    int NodeWidth = 0; // the text with its margins (DoGetNodeWidth), measured once per cell
    int IndentX = 0;   // where the row's tree lines start
    int VAlign = 0;    // the row's join of lines, buttons and images, from its top
    TLTImageInfo ImageInfo[4];
    TLineImage LineImage;
    TPoint BrushOrigin; // where the content's top-left lies: dotted lines move with it
};
// The in-place editor's side of an edit.
class ILTEditLink {
public:
    virtual ~ILTEditLink() = default;
    virtual bool BeginEdit() = 0;
    virtual bool CancelEdit() = 0;
    virtual bool EndEdit() = 0;
    virtual bool PrepareEdit(TBaseLazyTree* tree, PLazyNode node, TColumnIndex column) = 0;
    virtual TRect GetBounds() = 0;
    virtual void SetBounds(const TRect& r) = 0;
};
using TCursor = int;

// --- OLE data object and format enumerator -------------------------------------------------------

// The nodes of a tree offered to the clipboard or a drag, in the formats the
// tree renders, plus whatever others set on it. Made with std::make_shared.
class TLTDataObject : public IDataObject, public std::enable_shared_from_this<TLTDataObject> {
public:
    TLTDataObject(TBaseLazyTree* owner, bool forClipboard);
    ~TLTDataObject() override;
    TBaseLazyTree* Owner() const { return FOwner; }
    bool ForClipboard() const { return FForClipboard; }
    const std::vector<TFormatEtc>& FormatEtcArray() const { return FFormatEtcArray; }
    void Detach() { FOwner = nullptr; } // the owner goes; only stored data remains

    HRESULT GetData(const TFormatEtc& format, TStgMedium& medium) override;
    HRESULT GetDataHere(const TFormatEtc& format, TStgMedium& medium) override;
    HRESULT QueryGetData(const TFormatEtc& format) override;
    HRESULT GetCanonicalFormatEtc(const TFormatEtc& in, TFormatEtc& out) override;
    HRESULT SetData(const TFormatEtc& format, TStgMedium& medium, bool release) override;
    HRESULT EnumFormatEtc(DWORD direction, std::shared_ptr<IEnumFORMATETC>& result) override;
    HRESULT DAdvise(const TFormatEtc& format, DWORD advf, std::shared_ptr<IAdviseSink> sink,
                    DWORD& connection) override;
    HRESULT DUnadvise(DWORD connection) override;
    HRESULT EnumDAdvise(std::vector<DWORD>& connections) override;

private:
    struct TInternalStgMedium {
        WORD Format;
        TStgMedium Medium;
    };
    int FindFormatEtc(const TFormatEtc& format) const;
    TInternalStgMedium* FindInternalStgMedium(WORD format);
    HRESULT HGlobalClone(const HGLOBAL& source, HGLOBAL& result);
    HRESULT StgMediumIncRef(const TStgMedium& in, TStgMedium& out, bool copyMedium);

    TBaseLazyTree* FOwner;
    bool FForClipboard;
    std::vector<TFormatEtc> FFormatEtcArray;
    std::vector<TInternalStgMedium> FInternalStgMediumArray;
    std::unique_ptr<TDataAdviseHolder> FAdviseHolder;
};

class TEnumFormatEtc : public IEnumFORMATETC {
public:
    TEnumFormatEtc(TBaseLazyTree* tree, std::vector<TFormatEtc> formats, size_t index = 0)
        : FTree(tree), FFormatEtcArray(std::move(formats)), FCurrentIndex(index) {}
    HRESULT Next(DWORD count, TFormatEtc* formats, DWORD* fetched) override;
    HRESULT Skip(DWORD count) override;
    HRESULT Reset() override;
    HRESULT Clone(std::shared_ptr<IEnumFORMATETC>& result) override;

private:
    TBaseLazyTree* FTree;
    std::vector<TFormatEtc> FFormatEtcArray;
    size_t FCurrentIndex;
};

// Reads node chunks out of a byte block: the position and the end that the
// enclosing chunk (or the data) allows.
struct TNodeReader {
    const std::string* Data = nullptr;
    size_t Position = 0;
    size_t Limit = 0;
    size_t Remaining() const { return Limit - Position; }
    int32_t ReadInt32(); // the caller has made sure four bytes remain
};

enum TLTSTextSourceType { tstAll, tstInitialized, tstSelected, tstCutCopySet, tstVisible };

// --- hint window --------------------------------------------------------------------------------

enum TLTSTextType { ttNormal, ttStatic };

// What a tree hands its hint window for one hint.
struct TLTHintData {
    TBaseLazyTree* Tree = nullptr;
    PLazyNode Node = nullptr; // nil for header and control hints
    TColumnIndex Column = NoColumn;
    TRect HintRect;           // used by draw trees only
    std::u16string GivenHint; // a text the caller supplies, may be empty
    std::u16string HintText;  // the text finally shown
    TBiDiMode BidiMode = bdLeftToRight;
    TAlignment Alignment = taLeftJustify;
    TLTTooltipLineBreakStyle LineBreakStyle = hlbDefault;
};

// Set while no hint window exists (from its destructor on) and cleared when
// one is made or hidden; a running hint animation stops when it is set.
extern bool HintWindowGone;

// The pop-up in which trees show hints and tool tips. It measures the hint
// (empty when the cell shows the whole text already), keeps itself on the
// desktop, captures the screen under it and fades or slides in.
class TLazyTreeHintWindow : public THintWindow {
public:
    explicit TLazyTreeHintWindow(TComponent* owner = nullptr);
    ~TLazyTreeHintWindow() override;

    // Data points to a TLTHintData; an empty result means no hint.
    TRect CalcHintRect(int maxWidth, const std::u16string& hint, void* data) override;
    void ActivateHint(TRect rect, const std::u16string& hint) override;
    bool IsHintMsg(const TMsg& msg) override;
    void Dispatch(TMessage& msg) override;
    const TLTHintData& HintData() const { return FHintData; }

    // The screen under the window, the rendered hint and the fade's work area.
    std::unique_ptr<TBitmap> ScreenCopy, HintImage, BlendImage;
    int LineHeight = 0;

protected:
    void CreateParams(TCreateParams& params) override;
    void Paint() override;

private:
    TLTHintData FHintData;
    bool FFading = false; // a fade runs: plain paints must not show the finished hint early
    // Lives as long as the window: an animation step still due when it goes is dropped.
    std::shared_ptr<char> FLife = std::make_shared<char>();
    bool AnimationStep(TBaseLazyTree* tree, int step, int stepSize);
    void RenderHint(int step, int stepSize);
    void ShowImage(TBitmap& image, int top, int height, int sourceTop);
};

// Where a point lies in the tree: one bit per position.
using THitPositions = uint32_t;
enum : THitPositions {
    hiAbove = 1 << 0,
    hiBelow = 1 << 1,
    hiNowhere = 1 << 2,
    hiOnItem = 1 << 3,
    hiOnItemButton = 1 << 4,
    hiOnItemButtonExact = 1 << 5,
    hiOnItemCheckbox = 1 << 6,
    hiOnItemIndent = 1 << 7,
    hiOnItemLabel = 1 << 8,
    hiOnItemLeft = 1 << 9,
    hiOnItemRight = 1 << 10,
    hiOnNormalIcon = 1 << 11,
    hiOnStateIcon = 1 << 12,
    hiToLeft = 1 << 13,
    hiToRight = 1 << 14,
    hiUpperSplitter = 1 << 15,
    hiLowerSplitter = 1 << 16,
};
struct THitInfo {
    PLazyNode HitNode = nullptr;
    THitPositions HitPositions = 0;
    TColumnIndex HitColumn = NoColumn;
};
using TScrollDirections = uint8_t;
enum : TScrollDirections { sdLeft = 1, sdUp = 2, sdRight = 4, sdDown = 8 };

// --- the base tree
// ------------------------------------------------------------------------------------

class TBaseLazyTree : public TCustomControl {
public:
    explicit TBaseLazyTree(TComponent* owner = nullptr);
    ~TBaseLazyTree() override;
    static const TTreeClass* ClassInfo();
    virtual const TTreeClass* ClassType() const { return ClassInfo(); }
    void AfterConstruction() override;

    // Node interface.
    virtual PLazyNode AddChild(PLazyNode parent, const void* userData = nullptr);
    virtual void Clear();
    void DeleteChildren(PLazyNode node, bool resetHasChildren = false);
    void DeleteNode(PLazyNode node, bool reindex = true);
    virtual void ReinitNode(PLazyNode node, bool recursive);
    PLazyNode GetFirst();
    PLazyNode GetNext(PLazyNode node);
    PLazyNode GetLast(PLazyNode node = nullptr);
    PLazyNode GetPrevious(PLazyNode node);
    PLazyNode GetFirstVisible();
    PLazyNode GetNextVisible(PLazyNode node);
    PLazyNode GetPreviousVisible(PLazyNode node);
    PLazyNode GetLastVisible();
    PLazyNode GetFirstVisibleChild(PLazyNode node);
    PLazyNode GetFirstNoInit();
    PLazyNode GetNextNoInit(PLazyNode node);
    PLazyNode GetPreviousNoInit(PLazyNode node);
    PLazyNode GetFirstVisibleNoInit();
    PLazyNode GetNextVisibleNoInit(PLazyNode node);
    PLazyNode GetFirstInitialized();
    PLazyNode GetNextInitialized(PLazyNode node);
    unsigned GetNodeLevel(PLazyNode node) const;
    bool HasAsParent(PLazyNode node, PLazyNode potentialParent) const;
    bool IsEffectivelyHidden(PLazyNode node) const;
    bool IsEffectivelyVisible(PLazyNode node) const;
    virtual void BeginUpdate();
    virtual void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }
    void* GetNodeData(PLazyNode node) const;
    bool Expanded(PLazyNode node) const { return node && (node->States & vsExpanded); }
    void SetExpanded(PLazyNode node, bool value);
    bool IsHidden(PLazyNode node) const { return node && (node->States & vsHidden); }
    void SetIsHidden(PLazyNode node, bool value);
    void SetChildCount(PLazyNode node, uint32_t newCount);
    PLazyNode RootNode() const { return FRoot; }
    uint32_t RootNodeCount() const { return FRoot ? FRoot->ChildCount : 0; }
    void SetRootNodeCount(uint32_t value);
    // Nodes shown: visible themselves, under open and shown parents.
    uint32_t VisibleCount() const { return FVisibleCount; }
    uint32_t TotalCount() const { return FRoot ? FRoot->TotalCount - 1 : 0; }
    virtual void ClearSelection();
    void CancelCutOrCopy();
    void InterruptValidation();
    PLazyNode FocusedNode() const { return FFocusedNode; }
    PLazyNode HotNode() const { return FCurrentHotNode; }
    int SelectedCount() const { return int(FSelectionCount); }

    // --- scrolling ---------------------------------------------------------------------
    // Offsets are 0 or negative: the content moves left/up by their amount.
    enum : unsigned {
        suoRepaintHeader = 1,
        suoRepaintScrollBars = 2,
        suoScrollClientArea = 4,
        suoUpdateNCArea = 8,
        DefaultScrollUpdateFlags =
            suoRepaintHeader | suoRepaintScrollBars | suoScrollClientArea | suoUpdateNCArea,
    };
    // The one place the offsets change; False when the clamped value is the current one.
    virtual bool DoSetOffsetXY(TPoint value, unsigned options = DefaultScrollUpdateFlags,
                               const TRect* clipRect = nullptr);
    int OffsetX() const { return FOffsetX; }
    void SetOffsetX(int value);
    void SetOffsetY(int value);
    TPoint OffsetXY() const { return {FOffsetX, FOffsetY}; }
    void SetOffsetXY(TPoint value) { DoSetOffsetXY(value); }
    // The rows at the top and at the bottom of the client area; setting one
    // opens the node's ancestors and scrolls it to that place.
    PLazyNode GetTopNode();
    PLazyNode GetBottomNode();
    PLazyNode TopNode() { return GetTopNode(); }
    PLazyNode BottomNode() { return GetBottomNode(); }
    void SetTopNode(PLazyNode node);
    void SetBottomNode(PLazyNode node);
    // The content's width (the columns' total, else the widest node painted) and height.
    int RangeX() const;
    int RangeY() const { return ContentHeight(); }
    // Opens the ancestors and scrolls the node into the client area; True when it scrolled.
    virtual bool ScrollIntoView(PLazyNode node, bool center, bool horizontally = false);
    virtual void UpdateScrollBars(bool doRepaint);
    void UpdateHorizontalScrollBar(bool doRepaint);
    void UpdateVerticalScrollBar(bool doRepaint);
    // The top of a shown node in content coordinates (offset not applied).
    int GetNodeTop(PLazyNode node);
    // The node's cell in client coordinates; column -1 is the whole row.
    TRect GetDisplayRect(PLazyNode node, TColumnIndex column, bool textOnly, bool unclipped = false,
                         bool applyCellContentMargin = false);
    virtual TRect InvalidateNode(PLazyNode node);
    void RepaintNode(PLazyNode node);
    // Invalidates from the node's top (the whole client area for nil) down.
    void InvalidateToBottom(PLazyNode node);
    // The width of the check box and images left of a node's text in Column.
    int ContentIndentWidth(PLazyNode node, TColumnIndex column);

    // --- painting ------------------------------------------------------------------------
    // Paints the rows inside Window (content coordinates: x from the content's
    // left edge, y from the first row's top) with Window's top-left at Target.
    virtual void PaintTree(TCanvas& targetCanvas, TRect window, TPoint target,
                           TLTRowPaintOptions paintOptions = DefaultPaintTreeOptions);
    void Paint() override;
    // The check image index for a node (or, without one, for the given type, state and enabled
    // flag).
    virtual int GetCheckImage(PLazyNode node, TCheckType imgCheckType = ctNone,
                              TCheckState imgCheckState = csUncheckedNormal,
                              bool imgEnabled = true);
    virtual void GetImageIndex(TLTPaintInfo& info, TLTImageKind kind, TLTImageInfoIndex infoIndex,
                               TCustomImageList* defaultImages);
    virtual void PaintNodeButton(TCanvas& canvas, PLazyNode node, TColumnIndex column, TRect r,
                                 int horizontalOffset, int verticalOffset, TBiDiMode bidiMode);
    // The bevel and the BorderWidth band around header and client, in window coordinates.
    virtual void PaintNonClientBorder(HDC dc);
    virtual void PaintTreeLines(const TLTPaintInfo& info, int vAlignment, int indentSize,
                                const TLineImage& lineImage);
    void DrawDottedHLine(const TLTPaintInfo& info, int left, int right, int top);
    void DrawDottedVLine(const TLTPaintInfo& info, int top, int bottom, int left);
    virtual void PaintCheckImage(const TLTPaintInfo& info);
    virtual void PaintImage(TLTPaintInfo& info, TLTImageInfoIndex imageInfoIndex, bool doOverlay);
    virtual void PaintSelectionRectangle(TCanvas& canvas, int windowOrgX,
                                         const TRect& selectionRect, TRect targetRect);
    virtual void PaintCellSelection(TLTPaintInfo& info);
    // Rebuilds the button bitmaps and the dotted line brush.
    void PrepareBitmaps(bool needButtons, bool needLines);
    // Layout of a row.
    void CalculateVerticalAlignments(bool showImages, bool showStateImages, PLazyNode node,
                                     int& vAlign, int& vButtonAlign);
    void AdjustCoordinatesByIndent(TLTPaintInfo& info, int indent);
    void AdjustImageBorder(TCustomImageList* images, bool rightToLeft, int vAlign, TRect& r,
                           TLTImageInfo& imageInfo);
    int DetermineLineImagesAndSelectLevel(PLazyNode node, TLineImage& lineImage);
    void DrawLineImage(const TLTPaintInfo& info, int x, int y, int h, int vAlign, TLTLineType style,
                       bool reverse);
    // MoveToOrigin: the row is painted on its own at the canvas top (R moves up to top 0).
    void PaintItemErase(TLTPaintInfo& info, bool useBackground, TRect r, bool moveToOrigin);
    // The background picture in R: tiled and scrolling with the content (whose top-left lies
    // at ContentOrigin), or with toStaticBackground once at the offsets within the client
    // area and the tree's colour around it.
    void PaintBackgroundPicture(TCanvas& canvas, TRect r, TPoint contentOrigin);
    void EraseBackground(TCanvas& canvas, TRect r, bool useBackground, TPoint contentOrigin);
    const TBitmap& Background() const { return *FBackground; }
    void SetBackground(const TBitmap& picture);
    void WriteBackground(std::ostream& out);
    void ReadBackground(std::istream& in);
    void SetFirstPaintColumn(TLTPaintInfo& info);
    void ClipCanvas(TCanvas& canvas, const TRect& clipRect);
    // Whether the tree's window holds the keyboard focus.
    bool TreeFocused() const;
    TFont Font; // the rows' font
    TDropMode LastDropMode() const { return FLastDropMode; }
    void SetLastDropMode(TDropMode value) { FLastDropMode = value; }
    void SetDropTargetNode(PLazyNode node) { FDropTargetNode = node; }
    PLazyNode DropTargetNode() const { return FDropTargetNode; }

    // --- window creation, scaling, old forms and animation ---------------------------------
    void CreateWnd() override;
    // The window's styles: clipping, the scroll bars of ScrollBarOptions and the border.
    void CreateParams(TCreateParams& params) override;
    // How far the window's border reaches in on each side, across (X) and down
    // (Y): 0 or negative.
    virtual TPoint GetBorderDimensions();
    // Follows the form's scaling by M / D under toAutoChangeScale.
    virtual void ChangeScale(int m, int d);
    // Reads the single option set of old form resources (its member names) into the option sets.
    void ReadOldOptions(const std::vector<std::string>& names);

    // --- window messages -----------------------------------------------------------------
    // The tree's own handling of scroll, size, erase, focus, enable and print
    // messages; False leaves the message to the framework.
    bool HandleWindowMessage(TMessage& m);
    // Posted by a paint that found the content's size changed.
    static constexpr UINT WM_UPDATESCROLLBARS = WM_APP + 33;
    void HandleHScroll(int code);
    void HandleVScroll(int code);
    void HandleSize();
    // Whether the mouse is over the header now; the columns forget the mouse's hover and press.
    bool MouseOverHeader();
    void ForgetHeaderHover();
    // The tree-view item queries (TVM_GETITEM, TVM_GETITEMRECT, TVM_GETNEXTITEM).
    LRESULT ItemQuery(const TMessage& m);
    // The framework's change notices (CM_...); False leaves the message to the framework.
    bool HandleFrameworkMessage(TMessage& m);
    // Setters of what the tree inherits from the framework: each tells the tree
    // of the change, so that its header, columns and bitmaps follow.
    void SetFont(const TFont& value);
    void SetColor(TColor value);
    void SetBiDiMode(TBiDiMode value);
    void SetEnabled(bool value);
    bool Ctl3D() const { return FCtl3D; }
    void SetCtl3D(bool value);

    // Properties the constructor sets.
    int NodeDataSize() const { return FNodeDataSize; }
    void SetNodeDataSize(int value);
    int TotalInternalDataSize() const { return FTotalInternalDataSize; }
    uint8_t DragOperations = doCopy | doMove;
    TDragType DragType = dtOLE;
    TLTDragImageKind DragImageKind = diComplete;
    int DragWidth = 200, DragHeight = 350;
    TCursor HotCursor = 0;
    THintAnimationType HintAnimation = hatSystemDefault;
    uint8_t SelectionBlendFactor = 128;
    TCustomImageList* CheckImages = nullptr; // the current check images
    uint32_t AutoExpandDelay = 1000, AutoScrollDelay = 1000, AutoScrollInterval = 1;
    uint32_t EditDelay = 1000;
    TLTSearchStart IncrementalSearchStart = ssFocusedNode;
    uint32_t IncrementalSearchTimeout = 1000;
    TLTSearchDirection IncrementalSearchDirection = sdForward;
    TLTNodeAttachMode DefaultPasteMode = amAddChildLast;
    uint32_t ChangeDelay = 0;
    bool WantTabs = false;
    THintMode HintMode = hmDefault;
    TLTDrawSelectionMode DrawSelectionMode = smDottedRectangle;
    std::u16string Hint;
    bool DoubleBuffered = false;
    TColumnIndex FocusedColumn() const { return FFocusedColumn; }
    int LastSelectionLevel() const { return FLastSelectionLevel; }

    // Owned objects.
    TScrollBarOptions& ScrollBarOptions() { return *FScrollBarOptions; }
    TLTHeader& Header() { return *FHeader; }
    TLTColors& Colors() { return *FColors; }
    TLTDragImage& DragImage() { return *FDragImage; }
    // Whether node drags out of this tree show a picture of the dragged nodes.
    virtual bool CanShowDragImage() const { return DragImageKind != diNoImage; }
    TClipboardFormats& ClipboardFormats() { return *FClipboardFormats; }
    TCustomLazyTreeOptions& TreeOptions() { return *FOptions; }
    TBitmap& PlusBM() { return *FPlusBM; }
    // The drag manager, made on first demand: the owner's (DoCreateDragManager), else the tree's
    // own.
    std::shared_ptr<ILTDragManager> GetDragManager();
    ILTDragManager* DragManager() { return GetDragManager().get(); }
    std::shared_ptr<ILTEditLink> EditLink() const { return FEditLink; }
    // While editing: the editor over the focused cell's text (the whole cell
    // for a multiline node), wherever the cell now lies.
    virtual void UpdateEditBounds();
    std::shared_ptr<IAccessible> Accessible() const { return FAccessible; }

    TLazyTreeStates TreeStates() const { return FStates.load(); }
    bool HasState(TLazyTreeState s) const { return FStates & TS(s); }
    // The one entry through which the state set changes.
    virtual void DoStateChange(TLazyTreeStates enter, TLazyTreeStates leave = 0);

    // --- hint support ---------------------------------------------------------------
    using TLTAnimationCallback = std::function<bool(int step, int stepSize, void* data)>;
    // Calls Callback for Steps steps spread over Duration ms of the loop's
    // clock (steps are merged when there are more than milliseconds), then
    // once more with step size 0 to finish the picture; stops when it answers false.
    virtual void Animate(uint32_t steps, uint32_t duration, const TLTAnimationCallback& callback,
                         void* data);
    TRect LastHintRect;   // the hint rectangle last computed for the node under the mouse
    bool ShowHint = true; // whether the tree shows hints at all
    // How long the mouse must rest before a hint shows (ms of the loop's clock).
    uint32_t HintPause = 500;
    TLazyTreeHintWindow* HintWindow() const { return FHintWindow.get(); }
    // Hides a shown hint and stops waiting for one.
    void CancelNodeHint();
    // The font a node's text is shown in (set on the tree's canvas), the text and its rectangle.
    virtual void GetTextInfo(PLazyNode node, TColumnIndex column, const TFont& font, TRect& r,
                             std::u16string& text);

    // --- node streaming --------------------------------------------------------------
    // The stream: a 12-byte header, a node count, then one node chunk per node
    // (the node, its fields, its children and the owner's data). Loading checks
    // the whole stream before it changes the tree.
    void SaveToStream(std::ostream& stream, PLazyNode node = nullptr);
    void LoadFromStream(std::istream& stream);
    virtual void WriteNode(std::string& stream, PLazyNode node);
    virtual void WriteChunks(std::string& stream, PLazyNode node);
    virtual void FinishChunkHeader(std::string& stream, size_t startPos, size_t endPos);
    virtual void ReadNode(TNodeReader& stream, int version, PLazyNode node);
    virtual bool ReadChunk(TNodeReader& stream, int version, PLazyNode node, int chunkType,
                           int chunkSize);
    virtual void SkipNode(TNodeReader& stream);
    // Reads one node chunk into a new node placed relative to Target; the new node.
    virtual PLazyNode InternalAddFromStream(TNodeReader& stream, int version, PLazyNode target,
                                            TLTNodeAttachMode mode);
    // Raises the stream error a damaged run of node chunks gives; Count -1 reads to the end.
    static void CheckNodeChunks(const std::string& data, size_t from, int version, int64_t count);

    // --- clipboard, OLE data and drag manager -------------------------------------------
    virtual void CopyToClipboard();
    virtual void CutToClipboard();
    virtual bool PasteFromClipboard();
    // Adds the nodes Data holds at Target; a move from this tree moves the nodes themselves.
    virtual bool ProcessOLEData(TBaseLazyTree* source, IDataObject* data, PLazyNode target,
                                TLTNodeAttachMode mode, bool optimized);
    virtual void GetNativeClipboardFormats(std::vector<TFormatEtc>& formats);
    virtual HRESULT RenderOLEData(const TFormatEtc& formatEtcIn, TStgMedium& medium,
                                  bool forClipboard);
    TBaseLazyTree* GetTreeFromDataObject(IDataObject* data) const;
    uint32_t TreeReference(); // this tree's number in the process, for other trees to find it
    static TBaseLazyTree* TreeByReference(uint32_t reference);
    DWORD DragOperationsToEffects() const;
    // Drop-target handling the drag manager forwards to.
    virtual HRESULT DragEnter(DWORD keyState, IDataObject* data, TPoint pt, DWORD& effect);
    virtual HRESULT DragOver(TBaseLazyTree* source, DWORD keyState, TDragState state, TPoint pt,
                             DWORD& effect);
    virtual HRESULT DragDrop(IDataObject* data, DWORD keyState, TPoint pt, DWORD& effect);
    virtual void DragLeave();
    // --- dragging nodes -------------------------------------------------------------------
    // Starts an OLE drag at once at the last click, or makes it pending until
    // the pointer moves Threshold pixels (the system's threshold when negative).
    void BeginDrag(bool immediate, int threshold = -1);
    bool Dragging() const;
    // The framework's drag: its start (a drag object from the owner marks a
    // user drag), its end on a target or nowhere, a cancel, and the tree as
    // target of a framework drag (CM_DRAG).
    void DoStartDrag(TDragObject*& dragObject) override;
    void DoEndDrag(TControl* target, int x, int y) override;
    void DragCanceled() override;
    // Ends a framework drag: the states go and the tree hears its button go up.
    virtual void DragFinished();
    bool HandleFrameworkDrag(TMessage& m);
    bool PaintUnderFrameworkDrag(TMessage& m);
    virtual void DoDragging(TPoint p);
    virtual void DoDragExpand();
    virtual HRESULT DragAndDrop(DWORD allowedEffects, IDataObject* dataObject, DWORD& dragEffect);
    virtual DWORD SuggestDropEffect(TBaseLazyTree* source, TShiftState shift, TPoint pt,
                                    DWORD allowedEffects);
    // Ends this tree's part in the clipboard before it goes.
    void ReleaseClipboardData();
    TLTDataObject* ClipboardData() const { return FClipboardData; }
    void Dispatch(TMessage& msg) override;

    // --- node bookkeeping ---------------------------------------------------------
    // Counts and heights along the ancestors, visibility, heights on demand, the
    // order of two nodes and the check-state change with its propagation.
    void FixupTotalCount(PLazyNode node);
    void FixupTotalHeight(PLazyNode node);
    bool IsVisible(PLazyNode node); // nil means the root
    void SetIsVisible(PLazyNode node, bool value);
    bool IsFullyVisible(PLazyNode node) const { return FullyVisible(node); }
    bool HasVisibleParents(PLazyNode node) const;
    bool HasVisibleNextSibling(PLazyNode node) const;
    bool HasVisiblePreviousSibling(PLazyNode node) const;
    bool IsFirstVisibleChild(PLazyNode parent, PLazyNode node) const;
    bool IsLastVisibleChild(PLazyNode parent, PLazyNode node) const;
    uint32_t GetNodeHeight(PLazyNode node);
    void SetNodeHeight(PLazyNode node, uint32_t value);
    void MeasureItemHeight(TCanvas& canvas, PLazyNode node);
    // Negative when Node1 comes first in the tree, 0 for the same node.
    int CompareNodePositions(PLazyNode node1, PLazyNode node2, bool considerChildrenAbove = false);
    bool ChangeCheckState(PLazyNode node, TCheckState value);
    virtual bool CheckParentCheckState(PLazyNode node, TCheckState newState);
    virtual TCheckState DetermineNextCheckState(TCheckType checkType, TCheckState checkState);
    // A click on a column's header check box moves it on to its next state.
    virtual void UpdateColumnCheckState(TLazyTreeColumn* column);
    TCheckState CheckState(PLazyNode node) const {
        return node ? node->CheckState : csUncheckedNormal;
    }
    void SetCheckState(PLazyNode node, TCheckState value);
    void HandleClickSelection(PLazyNode lastFocused, PLazyNode newNode, TShiftState shift,
                              bool dragPending);
    uint32_t CheckPropagationCount() const { return FCheckPropagationCount; }

    // --- structure -----------------------------------------------------------------
    void ToggleNode(PLazyNode node);
    virtual void FullExpand(PLazyNode node = nullptr);
    virtual void FullCollapse(PLazyNode node = nullptr);
    virtual void SortTree(TColumnIndex column, TSortDirection direction, bool doInit = true);
    virtual void Sort(PLazyNode node, TColumnIndex column, TSortDirection direction,
                      bool doInit = true);
    PLazyNode InsertNode(PLazyNode node, TLTNodeAttachMode mode, const void* userData = nullptr);
    // Moves Source with its subtree to a place relative to Target in this tree.
    void MoveTo(PLazyNode source, PLazyNode target, TLTNodeAttachMode mode);
    // The place a target and mode name, checked once for every way in: no
    // target is the root, and the root, having no siblings, takes a node
    // inserted before or after it as its last child. False for amNoWhere.
    bool ResolveAttachPlace(PLazyNode& target, TLTNodeAttachMode& mode) const;
    virtual void InternalConnectNode(PLazyNode node, PLazyNode destination, TLTNodeAttachMode mode);
    virtual void InternalDisconnectNode(PLazyNode node, bool keepFocus, bool reindex = true);

    // --- focus, selection and change notices ------------------------------------------
    void SetFocusedNode(PLazyNode node);
    void SetFocusedColumn(TColumnIndex column);
    bool Selected(PLazyNode node) const { return node && (node->States & vsSelected); }
    void SetSelected(PLazyNode node, bool value);
    virtual void AddToSelection(PLazyNode node);
    virtual void AddToSelection(const std::vector<PLazyNode>& items, bool force);
    virtual void RemoveFromSelection(PLazyNode node);
    void InternalRemoveFromSelection(PLazyNode node); // marks the entry; the next packing drops it
    bool FindNodeInSelection(PLazyNode p, int& index, int lowBound = -1, int highBound = -1) const;
    bool InternalAddToSelection(PLazyNode node, bool forceInsert);
    bool InternalAddToSelection(std::vector<PLazyNode> newItems, bool forceInsert);
    virtual void InternalClearSelection();
    virtual void MarkCutCopyNodes();
    // Drops the entries marked by their lowest address bit; the new count.
    static int PackArray(std::vector<PLazyNode>& items, int count);
    void SelectAll(bool visibleOnly);
    PLazyNode GetFirstSelected() const;
    std::vector<PLazyNode> GetSortedSelection(bool resolve) const;
    std::vector<PLazyNode> GetSortedCutCopySet(bool resolve);
    void SelectNodes(PLazyNode startNode, PLazyNode endNode, bool addOnly);
    void UnselectNodes(PLazyNode startNode, PLazyNode endNode);
    void ToggleSelection(PLazyNode startNode, PLazyNode endNode);
    void SetFocusedNodeAndColumn(PLazyNode node, TColumnIndex column);
    const std::vector<PLazyNode>& SelectionArray() const { return FSelection; } // sorted by address
    PLazyNode RangeAnchor() const { return FRangeAnchor; }
    uint32_t SelectionLocked = 0; // while not 0 nothing is selected or deselected
    virtual void Change(PLazyNode node);
    virtual void AdviseChangeEvent(bool structureChange, PLazyNode node, TChangeReason reason);

    // --- properties with effects -------------------------------------------------------
    uint32_t DefaultNodeHeight() const { return FDefaultNodeHeight; }
    void SetDefaultNodeHeight(uint32_t value);
    uint32_t AnimationDuration() const { return FAnimationDuration; }
    void SetAnimationDuration(uint32_t value);
    TCheckImageKind CheckImageKind() const { return FCheckImageKind; }
    void SetCheckImageKind(TCheckImageKind value);
    virtual TCustomImageList* GetCheckImageListFor(TCheckImageKind kind);
    TCustomImageList* Images() const { return FImages; }
    void SetImages(TCustomImageList* value);
    TCustomImageList* StateImages() const { return FStateImages; }
    void SetStateImages(TCustomImageList* value);
    TCustomImageList* CustomCheckImages() const { return FCustomCheckImages; }
    void SetCustomCheckImages(TCustomImageList* value);
    void Notification(TComponent* component, TOperation operation) override;
    // Visual properties: a changed value repaints a live tree.
    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);
    int BackgroundOffsetX() const { return FBackgroundOffset[0]; }
    int BackgroundOffsetY() const { return FBackgroundOffset[1]; }
    void SetBackgroundOffset(int index, int value);  // 0 horizontal, 1 vertical
    int BorderStyle() const { return FBorderStyle; } // 0 none, 1 single
    void SetBorderStyle(int value);
    uint32_t BottomSpace() const { return FBottomSpace; }
    void SetBottomSpace(uint32_t value);
    TLTButtonFillMode ButtonFillMode() const { return FButtonFillMode; }
    void SetButtonFillMode(TLTButtonFillMode value);
    TLTButtonStyle ButtonStyle() const { return FButtonStyle; }
    void SetButtonStyle(TLTButtonStyle value);
    void SetClipboardFormats(const TClipboardFormats& value);
    TLTIncrementalSearch IncrementalSearch() const { return FIncrementalSearch; }
    void SetIncrementalSearch(TLTIncrementalSearch value);
    uint32_t Indent() const { return FIndent; }
    void SetIndent(uint32_t value);
    TLTLineMode LineMode() const { return FLineMode; }
    void SetLineMode(TLTLineMode value);
    TLTLineStyle LineStyle() const { return FLineStyle; }
    void SetLineStyle(TLTLineStyle value);
    int Margin() const { return FMargin; }
    void SetMargin(int value);
    int TextMargin() const { return FTextMargin; }
    void SetTextMargin(int value);
    TLTNodeAlignment NodeAlignment() const { return FNodeAlignment; }
    void SetNodeAlignment(TLTNodeAlignment value);
    uint32_t SelectionCurveRadius() const { return FSelectionCurveRadius; }
    void SetSelectionCurveRadius(uint32_t value);
    // Ends loading from stored properties: a stored root node count is made real.
    void Loaded() override;
    // Form resources: the header's columns as "Columns", and the single
    // option set of old forms as "Options" (read, never written).
    void DefineProperties(TFiler& filer) override;
    // Builds the position cache (on the worker thread); true when finished.
    virtual bool DoValidateCache();

    // Position cache: every 2000th visible node with its absolute top, built
    // in the background so that large trees find positions without walking.
    struct TCacheEntry {
        PLazyNode Node;
        uint32_t AbsoluteTop;
    };
    using TCache = std::vector<TCacheEntry>;
    static constexpr uint32_t CacheThreshold = 2000;
    // Stops a running build and queues the tree when its cache needs building.
    virtual void ValidateCache();
    void InvalidateCache();
    // After a change is complete: outside an update, a stale cache of a tree
    // large enough to have one is queued for building.
    void QueueValidation();
    const TCache& PositionCache() const { return FPositionCache; }
    // The last cache entry whose top is at or above Position, with that top; nil and 0 when none.
    PLazyNode FindInPositionCache(uint32_t position, uint32_t& top) const;
    // The node at a vertical position (client-relative when Relative, else
    // absolute) and its top in the same terms; nil above the first node and
    // below the last. Initialises nothing.
    PLazyNode GetNodeAt(int x, int y, bool relative, int& nodeTop);
    PLazyNode GetNodeAt(int x, int y);
    int OffsetY() const { return FOffsetY; }
    // Nodes collected for a batch operation.
    const std::vector<PLazyNode>& TempNodeCache() const { return FTempNodeCache; }
    uint32_t TempNodeCount() const { return FTempNodeCount; }
    virtual void ClearTempCache();
    // Level of node2 less level of node1.
    virtual int CountLevelDifference(PLazyNode node1, PLazyNode node2);
    virtual void InternalCacheNode(PLazyNode node);

    // Events.
    std::function<void(TBaseLazyTree&, PLazyNode, PLazyNode, TLazyNodeInitStates&)> OnInitNode;
    std::function<void(TBaseLazyTree&, PLazyNode, uint32_t&)> OnInitChildren;
    std::function<void(TBaseLazyTree&, PLazyNode)> OnFreeNode;
    std::function<void(TBaseLazyTree&, int&)> OnGetNodeDataSize;
    std::function<void(TBaseLazyTree&, TLazyTreeStates, TLazyTreeStates)> OnStateChange;
    std::function<void(TBaseLazyTree&, PLazyNode, TChangeReason)> OnStructureChange;
    std::function<void(TBaseLazyTree&, TLTUpdateState)> OnUpdating;
    std::function<void(TBaseLazyTree&, PLazyNode)> OnChange;
    std::function<void(TBaseLazyTree&, PLazyNode)> OnChecked;
    std::function<void(TBaseLazyTree&, PLazyNode, TCheckState&, bool&)> OnChecking;
    std::function<void(TBaseLazyTree&, PLazyNode)> OnCollapsed;
    std::function<void(TBaseLazyTree&, PLazyNode, bool&)> OnCollapsing;
    std::function<void(TBaseLazyTree&, PLazyNode)> OnExpanded;
    std::function<void(TBaseLazyTree&, PLazyNode, bool&)> OnExpanding;
    std::function<void(TBaseLazyTree&, TColumnIndex, TShiftState)> OnColumnClick;
    std::function<void(TBaseLazyTree&, TColumnIndex, TShiftState)> OnColumnDblClick;
    std::function<void(TLTHeader&, TColumnIndex)> OnColumnResize;
    std::function<void(TBaseLazyTree&, PLazyNode, PLazyNode, TColumnIndex, int&)> OnCompareNodes;
    std::function<void(TBaseLazyTree&, std::shared_ptr<IDataObject>&)> OnCreateDataObject;
    std::function<void(TBaseLazyTree&, std::shared_ptr<ILTDragManager>&)> OnCreateDragManager;
    std::function<void(TBaseLazyTree&, PLazyNode, TColumnIndex, std::shared_ptr<ILTEditLink>&)>
        OnCreateEditor;
    std::function<void(TBaseLazyTree&, PLazyNode, TColumnIndex, bool&)> OnDragAllowed;
    std::function<void(TBaseLazyTree&, TPersistent*, TShiftState, TDragState, TPoint, TDropMode,
                       DWORD&, bool&)>
        OnDragOver;
    std::function<void(TBaseLazyTree&, IDataObject*, const std::vector<WORD>&, TShiftState, TPoint,
                       DWORD&, TDropMode)>
        OnDragDrop;
    std::function<void(TBaseLazyTree&, TColumnIndex)> OnEditCancelled;
    std::function<void(TBaseLazyTree&, PLazyNode, TColumnIndex)> OnEdited;
    std::function<void(TBaseLazyTree&, PLazyNode, TColumnIndex, bool&)> OnEditing;
    std::function<void(TBaseLazyTree&, PLazyNode, TColumnIndex)> OnFocusChanged;
    std::function<void(TBaseLazyTree&, PLazyNode, PLazyNode, TColumnIndex, TColumnIndex, bool&)>
        OnFocusChanging;
    std::function<void(TBaseLazyTree&, TCursor&)> OnGetCursor;
    std::function<void(TLTHeader&, TCursor&)> OnGetHeaderCursor;
    std::function<void(TBaseLazyTree&, PLazyNode, TLTImageKind, TColumnIndex, bool&, int&)>
        OnGetImageIndex;
    std::function<void(TBaseLazyTree&, PLazyNode, TLTImageKind, TColumnIndex, bool&, int&,
                       TCustomImageList*&)>
        OnGetImageIndexEx;
    std::function<void(TBaseLazyTree&, PLazyNode, TLTImageKind, TColumnIndex, std::u16string&)>
        OnGetImageText;
    std::function<void(TBaseLazyTree&, const void*&)> OnGetLineStyle;
    std::function<void(TBaseLazyTree&, PLazyNode, TColumnIndex, TPoint, bool&, TPopupMenu*&)>
        OnGetPopupMenu;
    std::function<void(TBaseLazyTree&, std::vector<TFormatEtc>&)> OnGetUserClipboardFormats;
    std::function<void(TLTHeader&, TLTHeaderHitInfo)> OnHeaderClick;
    std::function<void(TLTHeader&, TLTHeaderHitInfo)> OnHeaderDblClick;
    std::function<void(TLTHeader&, TColumnIndex, int)> OnHeaderDragged;
    std::function<void(TLTHeader&, TColumnIndex, TPoint)> OnHeaderDraggedOut;
    std::function<void(TLTHeader&, TColumnIndex, bool&)> OnHeaderDragging;
    std::function<void(TLTHeader&, TCanvas&, TColumnIndex, TRect, bool, bool, TLTDropMarkMode)>
        OnHeaderDraw;
    std::function<void(TLTHeader&, THeaderPaintInfo&, THeaderPaintElements&)>
        OnHeaderDrawQueryElements;
    std::function<void(TLTHeader&, THeaderPaintInfo&, THeaderPaintElements)> OnAdvancedHeaderDraw;
    std::function<void(TLTHeader&, TMouseButton, TShiftState, int, int)> OnHeaderMouseDown;
    std::function<void(TLTHeader&, TShiftState, int, int)> OnHeaderMouseMove;
    std::function<void(TLTHeader&, TMouseButton, TShiftState, int, int)> OnHeaderMouseUp;
    std::function<void(TBaseLazyTree&, PLazyNode, PLazyNode)> OnHotChange;
    std::function<void(TBaseLazyTree&, PLazyNode, const std::u16string&, int&)> OnIncrementalSearch;
    std::function<void(TBaseLazyTree&, WORD&, TShiftState&, bool&)> OnKeyAction;
    std::function<void(TBaseLazyTree&, PLazyNode, std::istream&)> OnLoadNode;
    std::function<void(TBaseLazyTree&, PLazyNode, std::ostream&)> OnSaveNode;
    std::function<void(TBaseLazyTree&, TCanvas&, PLazyNode, int&)> OnMeasureItem;
    std::function<void(TBaseLazyTree&, PLazyNode)> OnNodeCopied;
    std::function<void(TBaseLazyTree&, PLazyNode, PLazyNode, bool&)> OnNodeCopying;
    std::function<void(TBaseLazyTree&, PLazyNode, TColumnIndex, TShiftState, TPoint, bool&)>
        OnNodeHeightDblClickResize;
    std::function<void(TBaseLazyTree&, PLazyNode, TColumnIndex, TShiftState, TPoint&, TPoint,
                       bool&)>
        OnNodeHeightTracking;
    std::function<void(TBaseLazyTree&, PLazyNode)> OnNodeMoved;
    std::function<void(TBaseLazyTree&, PLazyNode, PLazyNode, bool&)> OnNodeMoving;
    std::function<void(TBaseLazyTree&, TCanvas&, TRect, bool&)> OnPaintBackground;
    std::function<void(TBaseLazyTree&, const TFormatEtc&, TStgMedium&, bool, HRESULT&)>
        OnRenderOLEData;
    std::function<void(TBaseLazyTree&, PLazyNode)> OnResetNode;
    std::function<void(TBaseLazyTree&, int, int)> OnScroll;
    std::function<void(TBaseLazyTree&, int, bool)> OnShowScrollbar;
    std::function<void(TBaseLazyTree&, TCanvas&, PLazyNode, TColumnIndex, TRect)> OnAfterCellPaint;
    std::function<void(TBaseLazyTree&, TCanvas&, PLazyNode, TRect)> OnAfterItemErase;
    std::function<void(TBaseLazyTree&, TCanvas&, PLazyNode, TRect)> OnAfterItemPaint;
    std::function<void(TBaseLazyTree&, TCanvas&)> OnAfterPaint;
    std::function<void(TBaseLazyTree&, TCanvas&, PLazyNode, TColumnIndex, TLTCellPaintMode, TRect,
                       TRect&)>
        OnBeforeCellPaint;
    std::function<void(TBaseLazyTree&, TCanvas&, PLazyNode, TRect, TColor&, TItemEraseAction&)>
        OnBeforeItemErase;
    std::function<void(TBaseLazyTree&, TCanvas&, PLazyNode, TRect, bool&)> OnBeforeItemPaint;
    std::function<void(TBaseLazyTree&, TCanvas&)> OnBeforePaint;

    // Dispatchers: each fires its event when assigned, else gives its default.
    virtual void DoAdvancedHeaderDraw(THeaderPaintInfo& info, THeaderPaintElements elements);
    virtual void DoAfterCellPaint(TCanvas& canvas, PLazyNode node, TColumnIndex column,
                                  TRect cellRect);
    virtual void DoAfterItemErase(TCanvas& canvas, PLazyNode node, TRect itemRect);
    virtual void DoAfterItemPaint(TCanvas& canvas, PLazyNode node, TRect itemRect);
    virtual void DoAfterPaint(TCanvas& canvas);
    virtual bool DoBeforeDrag(PLazyNode node, TColumnIndex column);
    virtual void DoBeforeCellPaint(TCanvas& canvas, PLazyNode node, TColumnIndex column,
                                   TLTCellPaintMode mode, TRect cellRect, TRect& contentRect);
    virtual void DoBeforeItemErase(TCanvas& canvas, PLazyNode node, TRect itemRect, TColor& color,
                                   TItemEraseAction& eraseAction);
    virtual bool DoBeforeItemPaint(TCanvas& canvas, PLazyNode node, TRect itemRect);
    virtual void DoBeforePaint(TCanvas& canvas);
    virtual bool DoCancelEdit();
    virtual void DoCanEdit(PLazyNode node, TColumnIndex column, bool& allowed);
    virtual void DoChange(PLazyNode node);
    virtual void DoCheckClick(PLazyNode node, TCheckState newCheckState);
    virtual void DoChecked(PLazyNode node);
    virtual bool DoChecking(PLazyNode node, TCheckState& newCheckState);
    virtual void DoCollapsed(PLazyNode node);
    virtual bool DoCollapsing(PLazyNode node);
    virtual void DoColumnClick(TColumnIndex column, TShiftState shift);
    virtual void DoColumnDblClick(TColumnIndex column, TShiftState shift);
    virtual void DoColumnResize(TColumnIndex column);
    virtual int DoCompare(PLazyNode node1, PLazyNode node2, TColumnIndex column);
    virtual std::shared_ptr<IDataObject> DoCreateDataObject();
    virtual std::shared_ptr<ILTDragManager> DoCreateDragManager();
    virtual std::shared_ptr<ILTEditLink> DoCreateEditor(PLazyNode node, TColumnIndex column);
    // Source: the tree an OLE drag comes from (null for another program's), or
    // in a framework drag the dragged control or the owner's drag object.
    virtual bool DoDragOver(TPersistent* source, TShiftState shift, TDragState state, TPoint pt,
                            TDropMode mode, DWORD& effect);
    virtual void DoDragDrop(IDataObject* dataObject, const std::vector<WORD>& formats,
                            TShiftState shift, TPoint pt, DWORD& effect, TDropMode mode);
    virtual void DoEdit();
    virtual bool DoEndEdit();
    virtual void DoExpanded(PLazyNode node);
    virtual bool DoExpanding(PLazyNode node);
    virtual void DoFocusChange(PLazyNode node, TColumnIndex column);
    virtual bool DoFocusChanging(PLazyNode oldNode, PLazyNode newNode, TColumnIndex oldColumn,
                                 TColumnIndex newColumn);
    virtual void DoFocusNode(PLazyNode node, bool ask);
    virtual void DoFreeNode(PLazyNode node);
    virtual THintAnimationType DoGetAnimationType();
    virtual TPoint DoGetCellContentMargin(PLazyNode node, TColumnIndex column, int marginType,
                                          TCanvas* canvas);
    virtual void DoGetCursor(TCursor& cursor);
    virtual void DoGetHeaderCursor(TCursor& cursor);
    virtual TCustomImageList* DoGetImageIndex(PLazyNode node, TLTImageKind kind,
                                              TColumnIndex column, bool& ghosted, int& index);
    virtual void DoGetImageText(PLazyNode node, TLTImageKind kind, TColumnIndex column,
                                std::u16string& imageText);
    virtual void DoGetLineStyle(const void*& bits);
    virtual std::u16string DoGetNodeHint(PLazyNode node, TColumnIndex column,
                                         TLTTooltipLineBreakStyle& style);
    virtual std::u16string DoGetNodeTooltip(PLazyNode node, TColumnIndex column,
                                            TLTTooltipLineBreakStyle& style);
    virtual int DoGetNodeWidth(PLazyNode node, TColumnIndex column, TCanvas* canvas);
    virtual TPopupMenu* DoGetPopupMenu(PLazyNode node, TColumnIndex column, TPoint position);
    // F1: the help context of the focused node or, asked up its parents, of one of them;
    // 0 leaves the tree's own HelpContext.
    std::function<void(TBaseLazyTree&, PLazyNode, TColumnIndex, int&)> OnGetHelpContext;
    int HelpContext = 0;
    // The menu a right click shows when set (the framework's); else the owner's through
    // OnGetPopupMenu.
    TPopupMenu* PopupMenu = nullptr;
    void SetPopupMenu(TPopupMenu* value);
    bool HasPopupMenu(PLazyNode node, TColumnIndex column, TPoint position);
    virtual bool HasImage(PLazyNode node, TLTImageKind kind, TColumnIndex column);
    virtual void DoGetUserClipboardFormats(std::vector<TFormatEtc>& formats);
    virtual void DoHeaderClick(TLTHeaderHitInfo hitInfo);
    virtual void DoHeaderDblClick(TLTHeaderHitInfo hitInfo);
    virtual void DoHeaderDragged(TColumnIndex column, int oldPosition);
    virtual void DoHeaderDraggedOut(TColumnIndex column, TPoint dropPosition);
    virtual bool DoHeaderDragging(TColumnIndex column);
    virtual void DoHeaderDraw(TCanvas& canvas, TColumnIndex column, TRect r, bool hover,
                              bool pressed, TLTDropMarkMode dropMark);
    virtual void DoHeaderDrawQueryElements(THeaderPaintInfo& info, THeaderPaintElements& elements);
    virtual void DoHeaderMouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void DoHeaderMouseMove(TShiftState shift, int x, int y);
    virtual void DoHeaderMouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void DoHotChange(PLazyNode oldNode, PLazyNode newNode);
    virtual int DoIncrementalSearch(PLazyNode node, const std::u16string& text);
    virtual void DoInitChildren(PLazyNode node, uint32_t& childCount);
    virtual void DoInitNode(PLazyNode parent, PLazyNode node, TLazyNodeInitStates& initStates);
    virtual bool DoKeyAction(WORD& charCode, TShiftState& shift);
    virtual void DoLoadUserData(PLazyNode node, std::istream& stream);
    virtual void DoMeasureItem(TCanvas& canvas, PLazyNode node, int& nodeHeight);
    virtual void DoNodeCopied(PLazyNode node);
    virtual bool DoNodeCopying(PLazyNode node, PLazyNode newParent);
    virtual bool DoNodeHeightDblClickResize(PLazyNode node, TColumnIndex column, TShiftState shift,
                                            TPoint p);
    virtual bool DoNodeHeightTracking(PLazyNode node, TColumnIndex column, TShiftState shift,
                                      TPoint& trackPoint, TPoint p);
    virtual void DoNodeMoved(PLazyNode node);
    virtual bool DoNodeMoving(PLazyNode node, PLazyNode newParent);
    virtual bool DoPaintBackground(TCanvas& canvas, TRect r);
    virtual void DoPaintDropMark(TCanvas& canvas, PLazyNode node, TRect r);
    virtual void DoPaintNode(TLTPaintInfo& paintInfo);
    virtual void DoPopupMenu(PLazyNode node, TColumnIndex column, TPoint position);
    virtual HRESULT DoRenderOLEData(const TFormatEtc& formatEtcIn, TStgMedium& medium,
                                    bool forClipboard);
    virtual void DoReset(PLazyNode node);
    virtual void DoSaveUserData(PLazyNode node, std::ostream& stream);
    virtual void DoScroll(int deltaX, int deltaY);
    virtual void DoShowScrollbar(int bar, bool show);
    virtual void DoStructureChange(PLazyNode node, TChangeReason reason);
    virtual void DoUpdating(TLTUpdateState state);
    virtual void DoGetNodeDataSize(int& size);
    virtual void MainColumnChanged();

    // Reserves a per-node area for a tree class; the offset from a node's start.
    virtual int AllocateInternalDataArea(int size);

    // --- header and columns --------------------------------------------------------
    // The header sits in the non-client area above the client; its rectangle is
    // in window coordinates.
    friend class TLTHeader;
    friend class TLazyTreeColumns;
    friend class TLazyTreeColumn;
    TRect HeaderRect() const { return FHeaderRect; }
    virtual void UpdateHeaderRect();
    // The horizontal scroll amount (0 or more) and its setter for the scrolling code.
    int EffectiveOffsetX() const { return FEffectiveOffsetX; }
    void SetEffectiveOffsetX(int value) { FEffectiveOffsetX = value; }
    bool UseRightToLeftAlignment() const { return BiDiMode == bdRightToLeft; }
    // How far right-to-left painting shifts the columns: the room the header leaves right of
    // them; excludeScrollBar leaves out the room a shown vertical scroll bar takes.
    virtual int ComputeRTLOffset(bool excludeScrollBar = false);
    // The shift of the columns in the client area (0 unless right-to-left).
    int RTLColumnShift();
    TBevelKind BevelKind = bkNone;
    TBevelCut BevelInner = bvRaised, BevelOuter = bvLowered;
    unsigned BevelEdges = beLeft | beTop | beRight | beBottom;
    int BevelWidth = 1;
    int BorderWidth = 0;
    // What bevel and border band take from each side of the window (a rectangle of insets).
    TRect BevelInsets() const;
    TCursor Cursor = 0;
    // The height of all rows plus BottomSpace.
    int ContentHeight() const;
    int GetMaxColumnWidth(TColumnIndex column, bool useSmartColumnWidth = false);
    void InvalidateColumn(TColumnIndex column);
    // The long operations (the header auto-fit) OperationCanceled stops. Only the outermost
    // start forgets an earlier cancel request, so a nested start cannot undo a cancel.
    void BeginOperation() {
        if (FOperationCount++ == 0) FOperationCanceled = false;
    }
    void EndOperation() {
        if (FOperationCount > 0) --FOperationCount;
    }
    bool OperationCanceled() const { return FOperationCanceled && FOperationCount > 0; }
    void CancelOperation() {
        if (FOperationCount > 0) FOperationCanceled = true;
    }
    std::function<void(TLTHeader&, TPoint, TColumnIndex, bool&)> OnCanSplitterResizeColumn;
    std::function<void(TLTHeader&, TColumnIndex)> OnAfterAutoFitColumn;
    std::function<void(TLTHeader&)> OnAfterAutoFitColumns;
    std::function<void(TLTHeader&, TColumnIndex)> OnAfterColumnWidthTracking;
    std::function<void(TLTHeader&)> OnAfterHeaderHeightTracking;
    std::function<void(TLTHeader&, TColumnIndex, TSmartAutoFitType&, bool&)> OnBeforeAutoFitColumn;
    std::function<void(TLTHeader&, TSmartAutoFitType&)> OnBeforeAutoFitColumns;
    std::function<void(TLTHeader&, TColumnIndex, TShiftState)> OnBeforeColumnWidthTracking;
    std::function<void(TLTHeader&, TShiftState)> OnBeforeHeaderHeightTracking;
    std::function<void(TLTHeader&, TColumnIndex, TShiftState, TPoint, bool&)>
        OnColumnWidthDblClickResize;
    std::function<void(TLTHeader&, TColumnIndex, TShiftState, TPoint&, TPoint, bool&)>
        OnColumnWidthTracking;
    std::function<void(TLTHeader&, TPoint&, TShiftState, bool&)> OnHeaderHeightTracking;
    std::function<void(TLTHeader&, TPoint&, TShiftState, bool&)> OnHeaderHeightDblClickResize;
    std::function<void(TLTHeader&, TColumnIndex, TPoint, TPopupMenu*&)> OnGetHeaderPopupMenu;

    // --- input: hit testing, mouse, keyboard, search, editing, auto-scroll -------------
    // Where a point lies: node, column and positions. Relative takes client
    // coordinates, else tree coordinates.
    virtual void GetHitTestInfoAt(int x, int y, bool relative, THitInfo& hitInfo);
    virtual void DetermineHitPositionLTR(THitInfo& hitInfo, int x, int right, TAlignment alignment);
    virtual void DetermineHitPositionRTL(THitInfo& hitInfo, int x, int right, TAlignment alignment);
    // Whether Node shows nothing in Column, so that a caption beside it may run
    // on into it under toAutoSpanColumns: the owner decides, else it is.
    virtual bool ColumnIsEmpty(PLazyNode node, TColumnIndex column);
    std::function<void(TBaseLazyTree&, PLazyNode, TColumnIndex, bool&)> OnGetCellIsEmpty;
    // The visible columns beside Column (after it in position when Forward,
    // else before it) that are empty for Node, up to the first that is not:
    // their number and total width. Reading 0 takes every column, 1 only
    // left-to-right ones, 2 only right-to-left ones.
    int AutoSpanWidth(PLazyNode node, TColumnIndex column, bool forward, int reading,
                      int* count = nullptr);
    // Before a cell is painted: NextNonEmpty is the next column the loop paints;
    // a descendant may widen the cell over the columns it skips.
    virtual void AdjustPaintCellRect(TLTPaintInfo& info, TColumnIndex& nextNonEmpty);
    virtual bool CanEdit(PLazyNode node, TColumnIndex column);
    bool IsEditing() const { return FStates & TS(tsEditing); }
    bool IsMouseSelecting() const { return FStates & TS(tsDrawSelPending, tsDrawSelecting); }
    bool EndEditNode();
    bool CancelEditNode();
    virtual void HandleMouseDown(TMessage& message, const THitInfo& hitInfo);
    virtual void HandleMouseUp(WPARAM keys, const THitInfo& hitInfo);
    virtual void HandleMouseDblClick(TMessage& message, const THitInfo& hitInfo);
    virtual void HandleHotTrack(int x, int y);
    virtual void HandleIncrementalSearch(WORD charCode);
    virtual void MouseMove(TShiftState shift, int x, int y);
    // The rubber band: its rectangles in tree coordinates, and the selection change it makes.
    virtual bool CalculateSelectionRect(int x, int y);
    virtual bool HandleDrawSelection();
    virtual bool CollectSelectedNodesLTR(int mainColumn, int nodeLeft, TAlignment alignment,
                                         TRect oldRect, TRect newRect, int maxValue);
    virtual bool CollectSelectedNodesRTL(int mainColumn, int nodeLeft, TAlignment alignment,
                                         TRect oldRect, TRect newRect, int maxValue);
    TRect SelectRectangle() const { return FNewSelRect; }
    virtual bool CanAutoScroll();
    virtual TScrollDirections DetermineScrollDirections(int x, int y);
    virtual void DoAutoScroll(int x, int y);
    TScrollDirections ScrollDirections() const { return FScrollDirections; }
    const std::u16string& SearchBuffer() const { return FSearchBuffer; }
    TColumnIndex HotColumn() const { return FHotColumn; }
    TColumnIndex EditColumn() const { return FEditColumn; }
    // One tick of the auto-scroll timer; the wheel; middle-button panning.
    virtual void DoTimerScroll();
    virtual void HandleMouseWheel(TMessage& message);
    void StartWheelPanning(TPoint position);
    void StopWheelPanning();
    // The panning cursor for a pointer position (the name of its picture).
    virtual void AdjustPanningCursor(int x, int y);
    const std::string& PanningCursor() const { return FPanningCursor; }
    HWND PanningWindow() const { return FPanningWindow; }
    std::function<void(TBaseLazyTree&, TShiftState, int, TPoint, bool&)> OnMouseWheel;
    // Input messages: true when handled here.
    bool InputMessage(TMessage& message);
    // The control's own key and click events: a key handler may set the key to 0 to swallow it.
    std::function<void(TBaseLazyTree&, WORD&, TShiftState)> OnKeyDown;
    std::function<void(TBaseLazyTree&, WORD&, TShiftState)> OnKeyUp;
    std::function<void(TBaseLazyTree&, char16_t&)> OnKeyPress;
    std::function<void(TBaseLazyTree&)> OnDblClick;

    // The largest right edge of the main column's content over the rows in
    // view (indent, images, check image and text), plus Margin.
    int GetMaxRightExtend();

protected:
    virtual std::unique_ptr<TLTHeader> GetHeaderClass();
    virtual std::unique_ptr<TCustomLazyTreeOptions> GetOptionsClass();
    // The classes a descendant may replace: of each new column, of the hint window.
    virtual std::unique_ptr<TLazyTreeColumn> GetColumnClass(TLazyTreeColumns* columns);
    virtual std::unique_ptr<TLazyTreeHintWindow> GetHintWindowClass();
    PLazyNode InitRootNode(int oldSize = 0);
    PLazyNode MakeNewNode();
    void InitNode(PLazyNode node);
    void InitChildren(PLazyNode node);
    void FreeNodeBlock(PLazyNode node);
    void AdjustTotalCount(PLazyNode node, int64_t delta);
    void AdjustTotalHeight(PLazyNode node, int64_t delta);
    void StructureChange(PLazyNode node, TChangeReason reason);
    void StopTimer(uintptr_t id);
    void NotifyAccessible(DWORD event);
    bool FullyVisible(PLazyNode node) const;
    void DeleteSubtree(PLazyNode node); // frees the children of Node, deepest and last first
    // Toggles Node; CountLater leaves heights and the visible count to FinishDeferredToggles.
    bool InternalToggleNode(PLazyNode node, bool countLater); // false when nothing changed
    void FinishDeferredToggles(PLazyNode node); // recounts after toggles within Node's subtree
    // The walks behind WriteNode/WriteChunks and ReadNode/ReadChunk(base chunk):
    // they keep the open nodes in a list of their own, not on the call stack,
    // and do not call those virtuals again for the nodes below.
    void WriteSubtree(std::string& stream, PLazyNode node, bool nodeChunk);
    void ReadSubtree(TNodeReader& stream, int version, PLazyNode node, int baseChunkSize);
    void DoSetChildCountInternal(PLazyNode node, uint32_t newCount);
    PLazyNode NextVisible(PLazyNode node, bool init);
    void OpenAncestors(PLazyNode node);
    // The rows below a node that opened (Expanding) or closed slide down or up by
    // Distance pixels over AnimationDuration, before the window repaints them.
    void AnimateToggle(PLazyNode node, bool expanding, int64_t distance);
    // One step of it: the bands of the record scroll by the step size; the strip
    // they leave takes the background.
    struct TToggleAnimationData {
        HDC DC = 0;
        TRect R1, R2;
        int Mode1 = 2, Mode2 = 2; // 0 up, 1 down, 2 left alone
        double ScaleFactor = 0, MissedSteps = 0;
    };
    bool ToggleAnimationStep(int step, int stepSize, TToggleAnimationData& data);
    void FillAnimationStrip(HDC dc, const TRect& r);
    PLazyNode LastVisibleBelow(PLazyNode node);

    // Bookkeeping helpers.
    friend class TCustomLazyTreeOptions;
    bool IsDisplayed(PLazyNode node) const;       // shown, with every ancestor open and shown
    bool ChildrenDisplayed(PLazyNode node) const; // the root, or an expanded node that is displayed
    virtual uint32_t CountVisibleChildren(PLazyNode node) const; // 0 for a closed node
    void UpdateAllChildrenHidden(PLazyNode node);
    void VisibilityChanged(PLazyNode node, bool show); // Node started (Show) or stopped being shown
    void RecountAfterHiddenNodesChange();
    void ResetRangeAnchor();
    void PackSelection();
    void RemoveSelectionEntry(PLazyNode node); // quietly, for a node that goes
    void ReplaceImageList(TCustomImageList*& field, TCustomImageList* value, TChangeLink& link);
    void DoTimer(uintptr_t id);
    void RepaintIfLive();    // invalidates a tree whose window exists, unless it is loading
    void SetRedraw(bool on); // the window's redrawing, switched outside updates only

    uint32_t FSelectionCount = 0;
    uint32_t FCheckPropagationCount = 0;
    // The last parent update a check-state change ran: for which node, and its result.
    PLazyNode FParentUpdateOf = nullptr;
    bool FParentUpdateResult = true;
    uint32_t FDefaultNodeHeight = 18;
    uint32_t FAnimationDuration = 200;
    TCheckImageKind FCheckImageKind = ckSystemDefault;
    TCustomImageList* FImages = nullptr;
    TCustomImageList* FStateImages = nullptr;
    TCustomImageList* FCustomCheckImages = nullptr;
    // A change of an assigned list (an image added, say) repaints the tree.
    TChangeLink FImageChangeLink, FStateChangeLink, FCustomCheckChangeLink;
    TAlignment FAlignment = taLeftJustify;
    int FBackgroundOffset[2] = {0, 0};
    int FBorderStyle = 1;
    bool FCtl3D = true;
    uint32_t FBottomSpace = 0;
    TLTButtonFillMode FButtonFillMode = fmTreeColor;
    TLTButtonStyle FButtonStyle = bsRectangle;
    TLTIncrementalSearch FIncrementalSearch = isNone;
    uint32_t FIndent = 18;
    TLTLineMode FLineMode = lmNormal;
    TLTLineStyle FLineStyle = lsDotted;
    int FMargin = 4, FTextMargin = 4;
    TLTNodeAlignment FNodeAlignment = naProportional;
    uint32_t FSelectionCurveRadius = 0;

    enum : uintptr_t { EditTimer = 2, ChangeTimer = 5, StructureChangeTimer = 6, SearchTimer = 7 };

    // Gives up the worker thread for good; the destructors of the tree classes
    // call it first, so the thread is done with the tree before any part of it
    // goes. A descendant that overrides DoValidateCache calls it first too.
    void ReleaseWorker();
    PLazyNode NodeBefore(PLazyNode node, uint64_t top, uint64_t position, uint64_t& nodeTop) const;
    TCache FPositionCache;
    // The node the last lookup through the cache found and its absolute top:
    // lookups close to it (a viewport's rows) start there. Valid only while
    // the cache is, so it goes whenever tsUseCache is entered or left.
    PLazyNode FLastHitNode = nullptr;
    uint64_t FLastHitTop = 0;
    uint32_t FStartIndex = 0; // leading cache entries known to be valid
    int FOffsetY = 0;
    int FOffsetX = 0;
    int FRangeX = 0; // without columns: the widest node row painted so far
    HBRUSH FDottedBrush = nullptr;
    int FBarRangeX = -1, FBarRangeY = -1; // the ranges the scroll bars last showed
    // What the button bitmaps and the line brush were last built from.
    uint64_t FBitmapKey[2] = {~0ull, ~0ull};
    TDropMode FLastDropMode = dmNowhere;
    int FChangeStateDepth = 0; // inside the worker's change-state message
    std::vector<PLazyNode> FTempNodeCache;
    uint32_t FTempNodeCount = 0;

    PLazyNode FRoot = nullptr;
    TLazyNodeSlabs FNodeSlabs;
    bool FFreeingAllNodes = false; // the blocks go back with their slabs, not one by one
    // Kept so that adding node after node costs no lock: a tree never handed
    // to the validation thread, or no structure timer set, needs none.
    bool FWithWorker = false;
    bool FStructureTimerSet = false;
    int FNodeDataSize = -1;
    int FTotalInternalDataSize = 0;
    std::atomic<TLazyTreeStates> FStates{0}; // read by the worker thread
    int FUpdateCount = 0;
    uint32_t FVisibleCount = 0;
    TColumnIndex FFocusedColumn = NoColumn;
    TColumnIndex FEditColumn = NoColumn;
    int FLastSelectionLevel = -1;
    PLazyNode FFocusedNode = nullptr;
    PLazyNode FCurrentHotNode = nullptr;
    PLazyNode FDropTargetNode = nullptr;
    PLazyNode FLastChangedNode = nullptr;
    PLazyNode FRangeAnchor = nullptr;
    PLazyNode FLastStructureChangeNode = nullptr;
    TChangeReason FLastStructureChangeReason = crIgnore;
    std::vector<PLazyNode> FSelection;
    std::vector<PLazyNode> FSingletonNodeArray;
    std::unique_ptr<TScrollBarOptions> FScrollBarOptions;
    std::unique_ptr<TBitmap> FPlusBM, FHotPlusBM, FMinusBM, FHotMinusBM;
    std::unique_ptr<TLTHeader> FHeader;
    std::unique_ptr<TBitmap> FBackground;
    std::unique_ptr<TLTColors> FColors;
    std::unique_ptr<TLTDragImage> FDragImage;
    std::unique_ptr<TClipboardFormats> FClipboardFormats;
    std::unique_ptr<TCustomLazyTreeOptions> FOptions;
    std::shared_ptr<ILTDragManager> FDragManager;
    // Dragging nodes.
    enum : uintptr_t { ExpandTimer = 1 };
    int FDragThreshold = 5;
    std::vector<PLazyNode> FDragSelection;    // the nodes of the running drag, in tree order
    PLazyNode FFrameworkDropTarget = nullptr; // the drop target a framework drop lands on
    DWORD FFrameworkDragEffect = 0;
    bool FDroppedOnSelf = false;
    TShiftState DragShift(DWORD keyState) const;
    TDropMode DropModeAt(const THitInfo& hit, TPoint pt) const;
    void StartDropExpand(); // the hover timer for the drop target node
    std::shared_ptr<ILTEditLink> FEditLink;
    std::shared_ptr<IAccessible> FAccessible;
    bool FThreadReferenced = false;

    // Clipboard and OLE data.
    friend class TLTDataObject;
    friend class TWorkerThread;
    TLTDataObject* FClipboardData = nullptr; // this tree's object on the clipboard
    uint32_t FTreeReference = 0;
    std::vector<PLazyNode> LoadedSelection; // nodes read as selected, added in one batch
    // Header and columns.
    TRect FHeaderRect;
    int FEffectiveOffsetX = 0;
    int FOperationCount = 0;
    bool FOperationCanceled = false;
    void HeaderNonClient(TMessage& m); // non-client size and painting with the header
    TRect FBorderBandRect; // the outer edge of bevel and border band, in window coordinates
    // Input state.
    enum : uintptr_t { ScrollTimerId = 4 };
    // Hints: the mouse rests for HintPause, then the hint for the point shows.
    enum : uintptr_t { HintTimer = 8 };
    std::unique_ptr<TLazyTreeHintWindow> FHintWindow;
    TPoint FHintPoint;             // client point the pending hint is for
    bool HintMessage(TMessage& m); // true when the message was the hint timer
    void ShowNodeHint(TPoint p);
    bool HintWanted(const THitInfo& info);
    bool HasHintFocus() const;
    void ForgetHintNode(PLazyNode node); // a freed node's hint must not paint it
    // The picture of the dragged nodes around HotSpot (client point), handed to the drag image.
    void PrepareDragImage(TPoint hotSpot, IDataObject* dataObject);
    // The drag image of Source (a tree dragging nodes over this one), when this tree draws it.
    TLTDragImage* SourceDragImage(TBaseLazyTree* source);
    void HandleKeyDown(TMessage& message);
    void HandleKeyUp(TMessage& message);
    void HandleChar(TMessage& message);
    void EndPendingMouseStates(bool killFocus);
    TShiftState KeysToShift(WPARAM keys) const;
    PLazyNode FCheckNode = nullptr;
    TCheckState FPendingCheckState = csUncheckedNormal;
    PLazyNode FHeightTrackNode = nullptr;
    TColumnIndex FHeightTrackColumn = NoColumn;
    TPoint FHeightTrackPoint;
    TPoint FLastClickPos;
    TColumnIndex FHotColumn = NoColumn;
    bool FHotNodeButtonHit = false;
    std::u16string FSearchBuffer;
    PLazyNode FLastSearchNode = nullptr;
    TRect FOldSelRect, FNewSelRect;
    TShiftState FDrawSelShiftState = 0;
    TScrollDirections FScrollDirections = 0;
    TPoint FPanningAnchor;
    HWND FPanningWindow = 0;
    std::unique_ptr<TBitmap> FPanningImage;
    std::string FPanningCursor;
    uint32_t FLastScrollTick = 0;
    bool FScrollArmed = false;
};

// Declares the published properties of the trees, their options, header and
// columns for form resources; the first tree made does it.
void RegisterLazyTreeClasses();

// Redraws TreeRect (client coordinates) of Tree at once while Image (Tree's
// own when null) is shown over it: the window paints around the picture and
// the part under it is painted into the picture's background copy.
void UpdateWindowAndDragImage(TBaseLazyTree* tree, TRect treeRect, bool updateNCArea,
                              bool reshowDragImage, TLTDragImage* image = nullptr);

// --- the string tree
// ------------------------------------------------------------------------------------

class TCustomLazyStringTree : public TBaseLazyTree {
public:
    explicit TCustomLazyStringTree(TComponent* owner = nullptr);
    ~TCustomLazyStringTree() override;
    static const TTreeClass* ClassInfo();
    const TTreeClass* ClassType() const override { return ClassInfo(); }

    std::u16string DefaultText = u"Node";
    int InternalDataOffset() const { return FInternalDataOffset; }
    TCustomStringTreeOptions& TreeOptions() {
        return static_cast<TCustomStringTreeOptions&>(*FOptions);
    }

    std::function<void(TBaseLazyTree&, PLazyNode, TColumnIndex, TLTTooltipLineBreakStyle&,
                       std::u16string&)>
        OnGetHint;
    std::function<void(TBaseLazyTree&, PLazyNode, TColumnIndex, int, std::u16string&)> OnGetText;

    // --- hint support ---------------------------------------------------------------
    std::function<void(TBaseLazyTree&, TCanvas&, PLazyNode, TColumnIndex, TLTSTextType)>
        OnPaintText;
    // Lets the owner set the canvas font for a node's text.
    virtual void DoPaintText(PLazyNode node, TCanvas& canvas, TColumnIndex column,
                             TLTSTextType textType);
    void GetTextInfo(PLazyNode node, TColumnIndex column, const TFont& font, TRect& r,
                     std::u16string& text) override;
    std::u16string DoGetNodeHint(PLazyNode node, TColumnIndex column,
                                 TLTTooltipLineBreakStyle& style) override;
    std::u16string DoGetNodeTooltip(PLazyNode node, TColumnIndex column,
                                    TLTTooltipLineBreakStyle& style) override;

    // --- content renderers ---------------------------------------------------------------
    // The text of a cell as the owner gives it (DefaultText when it gives none).
    virtual std::u16string DoGetText(PLazyNode node, TColumnIndex column);
    // One line per node in tree order, a tab per level before it, cells parted by Separator.
    std::u16string ContentToUnicode(TLTSTextSourceType source, const std::u16string& separator);
    std::string ContentToText(TLTSTextSourceType source, const std::string& separator); // cp1251
    // Cells parted by commas, a cell with a comma, quote or line break quoted.
    std::string ContentToCSV(TLTSTextSourceType source);
    std::string ContentToHTML(TLTSTextSourceType source,
                              const std::u16string& caption = {}); // UTF-8
    std::string ContentToRTF(TLTSTextSourceType source);
    HRESULT RenderOLEData(const TFormatEtc& formatEtcIn, TStgMedium& medium,
                          bool forClipboard) override;

    // --- searching and editing captions ----------------------------------------------------
    // The owner takes an edited caption here; the tree keeps no texts.
    std::function<void(TBaseLazyTree&, PLazyNode, TColumnIndex, const std::u16string&)> OnNewText;
    virtual void DoNewText(PLazyNode node, TColumnIndex column, const std::u16string& text);
    int DoIncrementalSearch(PLazyNode node, const std::u16string& text) override;
    std::shared_ptr<ILTEditLink> DoCreateEditor(PLazyNode node, TColumnIndex column) override;
    // The row rectangle of a node in client coordinates (the whole client width).
    TRect NodeRowRect(PLazyNode node);
    std::unique_ptr<TWinControl> RetiredEditor; // an editor that ended inside its own message

    // --- painting the texts ----------------------------------------------------------------
    int DoGetNodeWidth(PLazyNode node, TColumnIndex column, TCanvas* canvas) override;
    void DoPaintNode(TLTPaintInfo& info) override;
    // A cell is empty when its text is (unless the owner decides); under
    // toAutoSpanColumns a caption widens its cell over the empty cells after it.
    bool ColumnIsEmpty(PLazyNode node, TColumnIndex column) override;
    void AdjustPaintCellRect(TLTPaintInfo& info, TColumnIndex& nextNonEmpty) override;

protected:
    std::unique_ptr<TCustomLazyTreeOptions> GetOptionsClass() override;

private:
    int FInternalDataOffset = 0;
    // The text height last measured and the font it was measured for.
    int FTextHeight = -1, FTextHeightSize = 0;
    unsigned FTextHeightStyle = 0;
    std::string FTextHeightFace;
};

class TLazyStringTree : public TCustomLazyStringTree {
public:
    using TCustomLazyStringTree::TCustomLazyStringTree;
    ~TLazyStringTree() override;
};

// --- columns and header
// ------------------------------------------------------------------------------

enum TLazyTreeColumnStyle { vsText, vsOwnerDraw };
enum TLTHeaderColumnLayout { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
using TLTColumnOptions = uint16_t;
enum : TLTColumnOptions {
    coAllowClick = 1 << 0,
    coDraggable = 1 << 1,
    coEnabled = 1 << 2,
    coParentBidiMode = 1 << 3,
    coParentColor = 1 << 4,
    coResizable = 1 << 5,
    coShowDropMark = 1 << 6,
    coVisible = 1 << 7,
    coAutoSpring = 1 << 8,
    coFixed = 1 << 9,
    coSmartResize = 1 << 10,
    coAllowFocus = 1 << 11,
    coDisableAnimatedResize = 1 << 12,
    coWrapCaption = 1 << 13,
    coUseCaptionAlignment = 1 << 14,
};
inline constexpr TLTColumnOptions DefaultColumnOptions = 0x08FF;

using TLTHeaderOptions = uint16_t;
enum : TLTHeaderOptions {
    hoAutoResize = 1 << 0,
    hoColumnResize = 1 << 1,
    hoDblClickResize = 1 << 2,
    hoDrag = 1 << 3,
    hoHotTrack = 1 << 4,
    hoOwnerDraw = 1 << 5,
    hoRestrictDrag = 1 << 6,
    hoShowHint = 1 << 7,
    hoShowImages = 1 << 8,
    hoShowSortGlyphs = 1 << 9,
    hoVisible = 1 << 10,
    hoAutoSpring = 1 << 11,
    hoFullRepaintOnResize = 1 << 12,
    hoDisableAnimatedResize = 1 << 13,
    hoHeightResize = 1 << 14,
    hoHeightDblClickResize = 1 << 15,
};
using TLTHeaderStates = uint16_t;
enum : TLTHeaderStates {
    hsDragging = 1 << 1,
    hsDragPending = 1 << 2,
    hsLoading = 1 << 3,
    hsColumnWidthTracking = 1 << 4,
    hsColumnWidthTrackPending = 1 << 5,
    hsHeightTracking = 1 << 6,
    hsHeightTrackPending = 1 << 7,
    hsResizing = 1 << 8,
    hsScaling = 1 << 9,
    hsNeedScaling = 1 << 10,
};
enum TLTHeaderStyle { hsThickButtons, hsFlatButtons, hsPlates, hsXPStyle };

// A stream record that cannot be read: too short, or a count or length the
// stream cannot hold.
class EColumnStreamError : public Exception {
public:
    using Exception::Exception;
};

// One column of a header. Its index is its place in the collection; its
// position its place on screen.
class TLazyTreeColumn : public TPersistent {
public:
    explicit TLazyTreeColumn(TLazyTreeColumns* collection);
    virtual ~TLazyTreeColumn();
    TLazyTreeColumn(const TLazyTreeColumn&) = delete;
    TLazyTreeColumn& operator=(const TLazyTreeColumn&) = delete;

    TLazyTreeColumns* Owner() const { return FOwner; }
    TColumnIndex Index() const;
    // Moves the column to another place in its collection; out-of-range places are ignored.
    virtual void SetIndex(TColumnIndex value);
    // Moves the column to the end of another collection; it cannot be left without one.
    virtual void SetCollection(TLazyTreeColumns* value);
    // The name is the text's (see GetDisplayName); setting it only tells the collection.
    virtual void SetDisplayName(const std::u16string& value);

    TAlignment Alignment() const { return FAlignment; }
    void SetAlignment(TAlignment value);
    TBiDiMode BiDiMode() const { return FBiDiMode; }
    void SetBiDiMode(TBiDiMode value);
    TAlignment CaptionAlignment() const;
    void SetCaptionAlignment(TAlignment value);
    const std::u16string& CaptionText() const { return FCaptionText; }
    TCheckType CheckType() const { return FCheckType; }
    void SetCheckType(TCheckType value);
    TCheckState CheckState() const { return FCheckState; }
    void SetCheckState(TCheckState value);
    bool CheckBox() const { return FCheckBox; }
    void SetCheckBox(bool value);
    TColor Color() const { return FColor; }
    void SetColor(TColor value);
    std::u16string Hint;
    int ImageIndex() const { return FImageIndex; }
    void SetImageIndex(int value);
    TLTHeaderColumnLayout Layout() const { return FLayout; }
    void SetLayout(TLTHeaderColumnLayout value);
    int Margin() const { return FMargin; }
    void SetMargin(int value);
    int MaxWidth() const { return FMaxWidth; }
    void SetMaxWidth(int value);
    int MinWidth() const { return FMinWidth; }
    void SetMinWidth(int value);
    TLTColumnOptions Options() const { return FOptions; }
    void SetOptions(TLTColumnOptions value);
    TColumnPosition Position() const { return FPosition; }
    void SetPosition(TColumnPosition value);
    int Spacing() const { return FSpacing; }
    void SetSpacing(int value);
    TLazyTreeColumnStyle Style() const { return FStyle; }
    void SetStyle(TLazyTreeColumnStyle value);
    int Tag = 0;
    const std::u16string& Text() const { return FText; }
    void SetText(const std::u16string& value);
    int Width() const { return FWidth; }
    void SetWidth(int value);

    int Left() const { return FLeft; }
    int LastWidth() const { return FLastWidth; }
    bool ExtraPixel = false;
    float SpringRemainder = 0;
    bool GlyphDrawn() const { return FGlyphDrawn; }
    TRect GlyphRect() const { return FGlyphRect; }

    virtual TRect GetHeaderRect() const;
    void GetAbsoluteBounds(int& left, int& right) const;
    int ScrolledLeft() const;
    std::u16string GetDisplayName() const;
    void Assign(const TLazyTreeColumn& source);
    bool SameAs(const TLazyTreeColumn& other) const;
    void SyncParentBiDiMode();
    void SyncParentColor();
    void RestoreLastWidth();
    bool IsRightToLeftReading() const { return FBiDiMode != bdLeftToRight; }
    void SaveToStream(std::ostream& stream) const;
    void LoadFromStream(std::istream& stream, int version);
    // Form resources: the caption and hint as "WideText" and "WideHint".
    void DefineProperties(TFiler& filer) override;
    // Places caption, header glyph and sort glyph inside Client.
    void LayoutCell(HDC dc, const TRect& client, bool useGlyph, bool useSortGlyph, TPoint& glyphPos,
                    TPoint& sortGlyphPos, TRect& textBounds, UINT drawFormat);

private:
    friend class TLazyTreeColumns;
    friend class TLTHeader;
    void Changed(); // the item's change notice to its collection
    TBaseLazyTree* Tree() const;
    TLTHeader* Header() const;

    TLazyTreeColumns* FOwner;
    // Where the column last was in its collection, checked before it is searched for.
    mutable TColumnIndex FIndexHint = NoColumn;
    std::u16string FText, FCaptionText;
    int FLeft = 0, FWidth = 0, FMinWidth = 10, FMaxWidth = 10000, FSpacing = 4, FMargin = 4;
    int FImageIndex = -1, FLastWidth = 0;
    TColumnPosition FPosition = 0;
    TAlignment FAlignment = taLeftJustify, FCaptionAlignment = taLeftJustify;
    TBiDiMode FBiDiMode = bdLeftToRight;
    TColor FColor = clWindow;
    TLTHeaderColumnLayout FLayout = blGlyphLeft;
    TLazyTreeColumnStyle FStyle = vsText;
    TLTColumnOptions FOptions = DefaultColumnOptions;
    TCheckType FCheckType = ctCheckBox;
    TCheckState FCheckState = csUncheckedNormal;
    bool FCheckBox = false, FGlyphDrawn = false;
    TRect FGlyphRect;
};

// The header's fixed-area limits, in percent of the tree's client size; 0 is no limit.
class TLTFixedAreaConstraints : public TPersistent {
public:
    explicit TLTFixedAreaConstraints(TLTHeader* header) : FHeader(header) {}
    uint8_t MaxHeightPercent() const { return FMaxHeightPercent; }
    uint8_t MaxWidthPercent() const { return FMaxWidthPercent; }
    uint8_t MinHeightPercent() const { return FMinHeightPercent; }
    uint8_t MinWidthPercent() const { return FMinWidthPercent; }
    void SetMaxHeightPercent(uint8_t value);
    void SetMaxWidthPercent(uint8_t value);
    void SetMinHeightPercent(uint8_t value);
    void SetMinWidthPercent(uint8_t value);
    void Assign(const TLTFixedAreaConstraints& source);
    std::function<void()> OnChange;

private:
    friend class TLTHeader;
    void Change() {
        if (OnChange) OnChange();
    }
    TLTHeader* FHeader;
    uint8_t FMaxHeightPercent = 0, FMaxWidthPercent = 0, FMinHeightPercent = 0,
            FMinWidthPercent = 0;
};

enum TColumnNotification { cnAdded, cnExtracting, cnDeleting };

// The columns of one header, with the map from screen position to index.
class TLazyTreeColumns {
public:
    explicit TLazyTreeColumns(TLTHeader* header);
    virtual ~TLazyTreeColumns();
    TLazyTreeColumns(const TLazyTreeColumns&) = delete;
    TLazyTreeColumns& operator=(const TLazyTreeColumns&) = delete;

    TLTHeader* Header() const { return FHeader; }
    int Count() const { return int(FItems.size()); }
    TLazyTreeColumn& operator[](TColumnIndex index) const { return *FItems.at(size_t(index)); }
    TLazyTreeColumn* Items(TColumnIndex index) const;
    virtual TLazyTreeColumn* Add();
    virtual void Clear();
    void Delete(TColumnIndex index);
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }
    void Assign(const TLazyTreeColumns& source);
    bool SameAs(const TLazyTreeColumns& other) const;

    // Positions.
    const std::vector<TColumnIndex>& PositionMap() const { return FPositionToIndex; }
    void RebuildPositionArray();
    void ResetPositionOrder(bool rightToLeft);
    void RecalculatePositions(bool force);

    // Hit tests; header points are client points with the header height added to Y.
    virtual TColumnIndex ColumnAtPoint(TPoint p, bool relative = false);
    TColumnIndex ColumnAndBoundsAt(TPoint p, int& left, int& right, bool relative = true);
    virtual TColumnIndex ColumnAtPosition(TColumnPosition positionIndex) const;
    void GetColumnBounds(TColumnIndex column, int& left, int& right);
    bool CanResizeAtSplitter(TPoint p, TColumnIndex column);

    // Navigation in screen order.
    TColumnIndex FirstVisibleColumn(bool considerAllowFocus = false) const;
    TColumnIndex LastVisibleColumn(bool considerAllowFocus = false) const;
    TColumnIndex NextColumn(TColumnIndex column) const;
    TColumnIndex PreviousColumn(TColumnIndex column) const;
    TColumnIndex NextVisibleColumn(TColumnIndex column, bool considerAllowFocus = false) const;
    TColumnIndex PreviousVisibleColumn(TColumnIndex column, bool considerAllowFocus = false) const;
    std::vector<TLazyTreeColumn*> VisibleColumns() const;
    bool IsValidColumn(TColumnIndex column) const { return column >= 0 && column < Count(); }

    // Widths.
    int VisibleFixedWidth() const;
    int TotalWidth() const;
    int AverageScrollWidth() const;
    void ApplyAutoSize(TColumnIndex currentIndex, bool force);
    void AnimatedResize(TColumnIndex column, int newWidth);
    int DefaultWidth = 50;

    // Mouse state.
    TColumnIndex HoverIndex = NoColumn, DownIndex = NoColumn, TrackedIndex = NoColumn,
                 ClickIndex = NoColumn;
    TColumnIndex DragIndex = NoColumn, DropTarget = NoColumn;
    bool DropOnLeft = false;
    bool UpdateHoverColumn(TPoint p);
    TColumnIndex UpdateDownColumn(TPoint p);
    virtual void HandleHeaderClick(TPoint p, TMouseButton button, bool force, bool dblClick);

    // Painting.
    virtual void PaintHeader(HDC dc, const TRect& r, int hOffset);
    void DrawCaptionText(HDC dc, const std::u16string& caption, TRect bounds, bool enabled,
                         bool hot, UINT drawFormat, bool wrapCaption);
    void DrawXPButtonFace(HDC dc, const TRect& rect, bool drawSplitter, bool pressed, bool hot);
    TBitmap& HeaderBitmap() { return *FHeaderBitmap; }

    // Streaming.
    void SaveToStream(std::ostream& stream) const;
    void LoadFromStream(std::istream& stream, int version);

    // Called for every change of a column (Item) or of the whole collection (null).
    virtual void Update(TLazyTreeColumn* item);

protected:
    // A column joined, is leaving or is about to be destroyed; Notify hands on to the hooks.
    virtual void Added(TLazyTreeColumn& item) { (void)item; }
    virtual void Deleting(TLazyTreeColumn& item) { (void)item; }
    virtual void Notify(TLazyTreeColumn& item, TColumnNotification action);
    // A column has joined; its name is its text, so there is nothing to give it.
    virtual void SetItemName(TLazyTreeColumn& item) { (void)item; }

private:
    friend class TLazyTreeColumn;
    friend class TLTHeader;
    TBaseLazyTree* Tree() const;
    std::unique_ptr<TLazyTreeColumn> NewColumn(); // of the tree's column class
    void Changed(TLazyTreeColumn* item);
    void SyncPositionArray();
    void MovePositionEntry(TColumnIndex column, TColumnPosition newPosition);
    void RemoveIndexFromPositions(TColumnIndex oldIndex);
    void AdjustIndex(TColumnIndex& value, TColumnIndex removed) const;
    TLazyTreeColumn* Insert(std::unique_ptr<TLazyTreeColumn> column);
    std::unique_ptr<TLazyTreeColumn> Extract(TColumnIndex index);

    TLTHeader* FHeader;
    std::vector<std::unique_ptr<TLazyTreeColumn>> FItems;
    std::unique_ptr<TBitmap> FHeaderBitmap;
    std::vector<TColumnIndex> FPositionToIndex;
    bool FPositionsNeedFix = false;
    bool FClearing = false;
    int FUpdateCount = 0;
};

// The column header of a tree: a bar in the tree's non-client area.
class TLTHeader : public TPersistent {
public:
    explicit TLTHeader(TBaseLazyTree* owner);
    virtual ~TLTHeader();
    TLTHeader(const TLTHeader&) = delete;
    TLTHeader& operator=(const TLTHeader&) = delete;

    TBaseLazyTree* Treeview() const { return FOwner; }
    TLazyTreeColumns& Columns() { return *FColumns; }
    const TLazyTreeColumns& Columns() const { return *FColumns; }
    int ColumnCount() const { return FColumns->Count(); }
    bool IsValidColumn(TColumnIndex c) const { return FColumns->IsValidColumn(c); }
    bool ColumnAllowsFocus(TColumnIndex c) const { return AllowFocus(c); }
    bool AllowFocus(TColumnIndex c) const;
    bool UseColumns() const { return ColumnCount() > 0; }

    // Read directly; changed through the setters.
    int Height = 17;
    TColumnIndex SortColumn = NoColumn;
    TSortDirection SortDirection = sdAscending;
    void SetHeight(int value);
    void SetSortColumn(TColumnIndex value);
    void SetSortDirection(TSortDirection value);

    TColumnIndex AutoSizeIndex() const { return FAutoSizeIndex; }
    void SetAutoSizeIndex(TColumnIndex value);
    TColor Background() const { return FBackground; }
    void SetBackground(TColor value);
    int DefaultHeight() const { return FDefaultHeight; }
    void SetDefaultHeight(int value);
    TFont& Font() { return FFont; }
    void SetFont(const TFont& value);
    bool ParentFont() const { return FParentFont; }
    void SetParentFont(bool value);
    TLTFixedAreaConstraints& FixedAreaConstraints() { return *FFixedAreaConstraints; }
    TCustomImageList* Images() const { return FImages; }
    void SetImages(TCustomImageList* value);
    TColumnIndex MainColumn() const { return ColumnCount() == 0 ? NoColumn : FMainColumn; }
    void SetMainColumn(TColumnIndex value);
    int MaxHeight() const { return FMaxHeight; }
    void SetMaxHeight(int value);
    int MinHeight() const { return FMinHeight; }
    void SetMinHeight(int value);
    TLTHeaderOptions Options() const { return FOptions; }
    void SetOptions(TLTHeaderOptions value);
    TPopupMenu* PopupMenu = nullptr;
    TLTHeaderStyle Style() const { return FStyle; }
    void SetStyle(TLTHeaderStyle value);
    TLTHeaderStates States() const { return FStates; }
    TPoint TrackPoint() const { return FTrackPoint; }
    TLTDragImage& DragImage() { return *FDragImage; }

    void AutoFitColumns(bool animated = true,
                        TSmartAutoFitType smartAutoFitType = smaUseColumnOption,
                        int rangeStartCol = NoColumn, int rangeEndCol = NoColumn);
    void Invalidate(TLazyTreeColumn* column, bool expandToBorder = false);
    void RescaleHeader();
    int ResizeColumns(int changeBy, TColumnIndex rangeStartCol, TColumnIndex rangeEndCol,
                      TLTColumnOptions options = coVisible);
    void RestoreColumns();
    void AdjustAutoSpring(); // shares a change of the header width among spring columns
    void FixupMainColumn();  // keeps the main column within the columns
    virtual void RecalculateHeader();
    virtual bool InHeader(TPoint p);
    virtual bool InHeaderSplitterArea(TPoint p);
    virtual bool DetermineSplitterIndex(TPoint p);
    virtual bool HandleMessage(TMessage& message);
    virtual void LoadFromStream(std::istream& stream);
    virtual void SaveToStream(std::ostream& stream) const;
    virtual void Assign(const TLTHeader& source);
    virtual void ChangeScale(int m, int d);
    void ParentFontChanged(); // the tree's font changed
    // The tree's "Columns" in a form resource.
    virtual bool CanWriteColumns() const { return true; }
    void ReadColumns(TReader& reader);
    void WriteColumns(TWriter& writer);

    virtual void DoAfterAutoFitColumn(TColumnIndex column);
    virtual void DoAfterColumnWidthTracking(TColumnIndex column);
    virtual void DoAfterHeaderHeightTracking();
    virtual bool DoBeforeAutoFitColumn(TColumnIndex column, TSmartAutoFitType smartAutoFitType);
    virtual void DoBeforeColumnWidthTracking(TColumnIndex column, TShiftState shift);
    virtual void DoBeforeHeaderHeightTracking(TShiftState shift);
    virtual bool DoColumnWidthDblClickResize(TColumnIndex column, TPoint p, TShiftState shift);
    virtual bool DoColumnWidthTracking(TColumnIndex column, TShiftState shift, TPoint& trackPoint,
                                       TPoint p);
    virtual TPopupMenu* DoGetPopupMenu(TColumnIndex column, TPoint position);
    virtual bool DoHeaderHeightTracking(TPoint& p, TShiftState shift);
    virtual bool DoHeaderHeightDblClickResize(TPoint& p, TShiftState shift);
    virtual void DoSetSortColumn(TColumnIndex value);

    enum : uintptr_t { HeaderTimer = 3, ScrollTimer = 4 };

private:
    friend class TLazyTreeColumns;
    friend class TLazyTreeColumn;
    friend class TBaseLazyTree;
    bool HandleHeaderMouseMove(TMessage& message);
    bool DragTo(TPoint p);
    void PrepareDrag(TPoint p, TPoint start);
    bool ColumnBorderHit(TPoint p);
    void EndDrag();
    bool TreeLoading() const;
    TShiftState ShiftOf(WPARAM keys) const;

    TBaseLazyTree* FOwner;
    std::unique_ptr<TLazyTreeColumns> FColumns;
    TFont FFont;
    bool FParentFont = false;
    TLTHeaderOptions FOptions = hoColumnResize | hoDrag | hoShowSortGlyphs;
    TLTHeaderStates FStates = 0;
    TPoint FTrackPoint;
    TLTHeaderStyle FStyle = hsThickButtons;
    TColor FBackground = clBtnFace;
    TColumnIndex FAutoSizeIndex = 0;
    TColumnIndex FMainColumn = -1;
    int FMaxHeight = 10000, FMinHeight = 10, FDefaultHeight = 17;
    std::unique_ptr<TLTFixedAreaConstraints> FFixedAreaConstraints;
    TCustomImageList* FImages = nullptr;
    TChangeLink FImageChangeLink; // repaints the header when its list changes
    TPoint FTrackStart;
    TPoint FDragStart; // screen coordinates
    std::unique_ptr<TLTDragImage> FDragImage;
    int FLastWidth = 0;
    WPARAM FLastKeys = 0; // key flags of the last mouse message, for the shift state
};

} // namespace nuq

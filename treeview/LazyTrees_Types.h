#pragma once
// The value types the trees' events, painting and hit tests speak in: tree
// classes, column indices, event enumerations, paint and hit records and the
// in-place editor's interface.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "platform/gui/Graphics.h"
#include "platform/gui/ImgList.h"
#include "treeview/LazyTrees_Node.h"

namespace nuq {

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

// An owned part made by its maker on first use. A constructor does not reach a
// descendant's override of the virtual that makes a part; made later, the part
// is of the class the most derived owner asks for.
template <class T> class TPartOnDemand {
public:
    explicit TPartOnDemand(std::function<std::unique_ptr<T>()> maker) : FMaker(std::move(maker)) {}
    T* get() const {
        if (!FPart && FMaker) FPart = FMaker();
        return FPart.get();
    }
    T* operator->() const { return get(); }
    T& operator*() const { return *get(); }
    T* Made() const { return FPart.get(); } // null until first use; never makes it
    // False once freed: an owner that is going makes no new part.
    explicit operator bool() const { return FPart || FMaker; }
    void reset() {
        FMaker = nullptr;
        FPart.reset();
    }

private:
    std::function<std::unique_ptr<T>()> FMaker;
    mutable std::unique_ptr<T> FPart;
};

// Column indices and positions; the header and its columns are declared in
// LazyTrees_Columns.h.
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

} // namespace nuq

#pragma once
// The column header of a tree: its columns, the collection that orders them
// on screen, the fixed-area limits and the header itself.

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "platform/gui/Controls.h"
#include "platform/gui/ImgList.h"
#include "platform/gui/Menus.h"
#include "platform/gui/TypInfo.h"
#include "treeview/LazyTrees_DragDrop.h"
#include "treeview/LazyTrees_Types.h"

namespace nuq {

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
class TLazyTreeColumn : public TCollectionItem {
public:
    explicit TLazyTreeColumn(TLazyTreeColumns* collection);
    ~TLazyTreeColumn() override;

    TLazyTreeColumns* Owner() const { return FOwner; }

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
    std::string GetDisplayName() const override;
    void Assign(const TCollectionItem& source) override;
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
    // The caption's size as LayoutCell places it; Wrap measures the wrapped caption.
    void MeasureCaption(HDC dc, bool wrap, UINT drawFormat, int& width, int& height);
    TBaseLazyTree* Tree() const;
    TLTHeader* Header() const;

    // The collection while it is a column collection; every setter asks for it,
    // so it is kept rather than looked up (the collection keeps it current).
    TLazyTreeColumns* FOwner;
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

// The columns of one header, with the map from screen position to index.
class TLazyTreeColumns : public TCollection {
public:
    explicit TLazyTreeColumns(TLTHeader* header);
    ~TLazyTreeColumns() override;

    TLTHeader* Header() const { return FHeader; }
    TLazyTreeColumn& operator[](TColumnIndex index) const {
        return static_cast<TLazyTreeColumn&>(*Item(index));
    }
    TLazyTreeColumn* Items(TColumnIndex index) const;
    virtual TLazyTreeColumn* Add();
    virtual void Clear();
    void Assign(const TCollection& source) override;
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
    void Update(TCollectionItem* item) override;

protected:
    // A column leaving for another collection takes its index with it; joining
    // or leaving keeps the column's owner current.
    void Notify(TCollectionItem& item, TCollectionNotification action) override;

private:
    friend class TLazyTreeColumn;
    friend class TLTHeader;
    TBaseLazyTree* Tree() const;
    void SyncPositionArray();
    void MovePositionEntry(TColumnIndex column, TColumnPosition newPosition);
    void RemoveIndexFromPositions(TColumnIndex oldIndex);
    void AdjustIndex(TColumnIndex& value, TColumnIndex removed) const;
    void ForgetIndex(TColumnIndex index);
    // PaintHeader's steps: the background, and each column's face and content.
    struct THeaderPaintPass;
    void PaintHeaderBackground(const THeaderPaintPass& pass, THeaderPaintInfo& info,
                               const TRect& headerRect);
    void PaintHeaderColumn(const THeaderPaintPass& pass, THeaderPaintInfo& info, TColumnIndex index,
                           const TRect& cell);
    void DrawColumnFace(const THeaderPaintPass& pass, const THeaderPaintInfo& info,
                        const TRect& cell, bool rightSide);
    void PaintColumnContent(const THeaderPaintPass& pass, THeaderPaintInfo& info,
                            const TRect& inner, UINT format, THeaderPaintElements requested);
    void DrawColumnGlyph(const THeaderPaintPass& pass, const THeaderPaintInfo& info);

    TLTHeader* FHeader;
    std::unique_ptr<TBitmap> FHeaderBitmap;
    std::vector<TColumnIndex> FPositionToIndex;
    bool FPositionsNeedFix = false;
    bool FClearing = false;
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
    void AdjustAutoSpring();           // shares a change of the header width among spring columns
    void FixupMainColumn();            // keeps the main column within the columns
    TShiftState GetShiftState() const; // Shift, Ctrl and Alt as the keys are now
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

protected:
    // The class of the column collection, made on first use so that a
    // descendant's override counts.
    virtual std::unique_ptr<TLazyTreeColumns> GetColumnsClass();
    TPartOnDemand<TLazyTreeColumns> FColumns{[this] { return GetColumnsClass(); }};

private:
    friend class TLazyTreeColumns;
    friend class TLazyTreeColumn;
    friend class TBaseLazyTree;
    // HandleMessage's steps, one per message; True when the message was used up.
    TPoint ClientPointOf(const TMessage& m) const;
    bool HandleSize();
    bool HandleLeftButtonDown(TMessage& m);
    bool ReportButtonDown(const TMessage& m, TMouseButton button);
    bool HandleMiddleButtonUp(const TMessage& m);
    bool HandleRightButtonUp(TMessage& m); // the popup menu
    bool HandleDoubleClick(TMessage& m);
    bool HandleLeftButtonUp(TMessage& m);
    void DropDraggedColumn(TMessage& m);
    bool HandleNonClientMouseMove(const TMessage& m);
    bool HandleHoverTimer(TMessage& m);
    bool HandleSetCursor(TMessage& m);
    bool CancelMouseStates(TMessage& m); // Escape or the focus gone
    bool HandleHeaderMouseMove(TMessage& message);
    bool DragTo(TPoint p);
    void PrepareDrag(TPoint p, TPoint start);
    bool ColumnBorderHit(TPoint p);
    void EndDrag();
    bool TreeLoading() const;

    TBaseLazyTree* FOwner;
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
};

} // namespace nuq

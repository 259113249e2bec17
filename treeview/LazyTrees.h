#pragma once
// The lazy tree control: a tree that keeps no captions and creates and
// initialises its nodes only when something walks over them, asking its
// owner through events for everything it shows.
//
// The one header users include: it brings in the node record and states,
// the options, the value types, the clipboard, drag and drop, hints,
// accessibility and the column header, and declares the unit's start and
// end and the tree classes.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/SysUtils.h"
#include "platform/gui/Clipbrd.h"
#include "platform/gui/Controls.h"
#include "platform/gui/FrameworkDrag.h"
#include "platform/gui/ImgList.h"
#include "platform/gui/Menus.h"
#include "platform/gui/Ole.h"
#include "treeview/LazyTrees_Accessibility.h"
#include "treeview/LazyTrees_Clipboard.h"
#include "treeview/LazyTrees_Columns.h"
#include "treeview/LazyTrees_DragDrop.h"
#include "treeview/LazyTrees_Hints.h"
#include "treeview/LazyTrees_Node.h"
#include "treeview/LazyTrees_Options.h"
#include "treeview/LazyTrees_Types.h"

namespace nuq {

inline constexpr int crHeaderSplit = 63, crVertSplit = 62;

// The unit's start and end.
void LazyTreesInitialization();
void LazyTreesFinalization();
void InitializeGlobalStructures();
void FinalizeGlobalStructures();

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
    // Inline: every count and height kept up asks them at each node.
    bool IsEffectivelyHidden(PLazyNode node) const {
        return node && (node->States & vsHidden) && !(FOptions->PaintOptions() & toShowHiddenNodes);
    }
    bool IsEffectivelyVisible(PLazyNode node) const {
        return node && (node->States & vsVisible) && !IsEffectivelyHidden(node);
    }
    virtual void BeginUpdate();
    virtual void EndUpdate();
    int UpdateCount() const { return FUpdateCount; }
    // Inline: the owner's comparisons in a sort call it twice each.
    void* GetNodeData(PLazyNode node) const {
        if (!node || node == FRoot || FNodeDataSize < 1) return nullptr;
        return reinterpret_cast<uint8_t*>(node) + TreeNodeSize + FTotalInternalDataSize;
    }
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

protected:
    // The one place the offsets change; False when the clamped value is the current one.
    virtual bool DoSetOffsetXY(TPoint value, unsigned options = DefaultScrollUpdateFlags,
                               const TRect* clipRect = nullptr);

public:
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
    // The top of a shown node in content coordinates (offset not applied);
    // the count stops once it passes Limit.
    int GetNodeTop(PLazyNode node, int64_t limit = INT64_MAX);
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
    // While painting, the canvas font's change notice: the next cell starts again
    // from the tree's font; the handler installed before hears of it too.
    virtual void FontChanged(TFont& sender);
    // The check image index for a node (or, without one, for the given type, state and enabled
    // flag).
    virtual int GetCheckImage(PLazyNode node, TCheckType imgCheckType = ctNone,
                              TCheckState imgCheckState = csUncheckedNormal,
                              bool imgEnabled = true);

protected:
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
    void SetFirstPaintColumn(TLTPaintInfo& info);
    void ClipCanvas(TCanvas& canvas, const TRect& clipRect, HRGN visibleRegion = 0);

public:
    const TBitmap& Background() const { return *FBackground; }
    void SetBackground(const TBitmap& picture);
    void WriteBackground(std::ostream& out);
    void ReadBackground(std::istream& in);
    // Whether the tree's window holds the keyboard focus.
    bool TreeFocused() const;
    TFont Font; // the rows' font
    TDropMode LastDropMode() const { return FLastDropMode; }
    void SetLastDropMode(TDropMode value) { FLastDropMode = value; }
    void SetDropTargetNode(PLazyNode node) { FDropTargetNode = node; }
    PLazyNode DropTargetNode() const { return FDropTargetNode; }

    // --- window creation, scaling, old forms and animation ---------------------------------
protected:
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

public:
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
    // An accessibility client asks for an object of the tree; false: the default handling.
    bool AnswerObjectQuery(TMessage& m);
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

protected:
    // Whether node drags out of this tree show a picture of the dragged nodes.
    virtual bool CanShowDragImage() const { return DragImageKind != diNoImage; }

public:
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
    std::shared_ptr<IAccessible> AccessibleItem() const { return FAccessibleItem; }

    TLazyTreeStates TreeStates() const { return FStates.load(); }
    bool HasState(TLazyTreeState s) const { return FStates & TS(s); }

protected:
    // The one entry through which the state set changes.
    virtual void DoStateChange(TLazyTreeStates enter, TLazyTreeStates leave = 0);

public:
    // --- hint support ---------------------------------------------------------------
    using TLTAnimationCallback = std::function<bool(int step, int stepSize, void* data)>;

protected:
    // Calls Callback for Steps steps spread over Duration ms of the loop's
    // clock (steps are merged when there are more than milliseconds), then
    // once more with step size 0 to finish the picture; stops when it answers false.
    virtual void Animate(uint32_t steps, uint32_t duration, const TLTAnimationCallback& callback,
                         void* data);

public:
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

protected:
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

public:
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

protected:
    virtual void DoDragging(TPoint p);
    virtual void DoDragExpand();

public:
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

protected:
    virtual bool CheckParentCheckState(PLazyNode node, TCheckState newState);
    virtual TCheckState DetermineNextCheckState(TCheckType checkType, TCheckState checkState);

public:
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

protected:
    virtual void InternalConnectNode(PLazyNode node, PLazyNode destination, TLTNodeAttachMode mode);
    virtual void InternalDisconnectNode(PLazyNode node, bool keepFocus, bool reindex = true);

public:
    // --- focus, selection and change notices ------------------------------------------
    void SetFocusedNode(PLazyNode node);
    void SetFocusedColumn(TColumnIndex column);
    bool Selected(PLazyNode node) const { return node && (node->States & vsSelected); }
    void SetSelected(PLazyNode node, bool value);

protected:
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

public:
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

protected:
    virtual void Change(PLazyNode node);
    virtual void AdviseChangeEvent(bool structureChange, PLazyNode node, TChangeReason reason);

public:
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
    // A read that broke off: the recorded root node count is dropped and the
    // header's loading ends, so that the tree stays as it was.
    void ReadFailed() override;

protected:
    // Form resources: the header's columns as "Columns", and the single
    // option set of old forms as "Options" (read, never written).
    void DefineProperties(TFiler& filer) override;
    // Builds the position cache (on the worker thread); true when finished.
    virtual bool DoValidateCache();

public:
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
    void InvalidateCache() {
        // Already so (as after every node added but the first): nothing to tell.
        if ((FStates & TS(tsValidationNeeded, tsUseCache)) != TS(tsValidationNeeded) ||
            FLastHitNode)
            DoStateChange(TS(tsValidationNeeded), TS(tsUseCache));
    }
    // After a change is complete: outside an update, a stale cache of a tree
    // large enough to have one is queued for building.
    void QueueValidation();
    const TCache& PositionCache() const { return FPositionCache; }
    // The last cache entry whose top is at or above Position, with that top; nil and 0 when none.
    PLazyNode FindInPositionCache(uint32_t position, uint32_t& top) const;
    // The last cached node at or before Node in tree order, and its top.
    PLazyNode FindInPositionCache(PLazyNode node, uint32_t& top);
    // The node at a vertical position (client-relative when Relative, else
    // absolute) and its top in the same terms; nil above the first node and
    // below the last. Initialises nothing.
    PLazyNode GetNodeAt(int x, int y, bool relative, int& nodeTop);
    PLazyNode GetNodeAt(int x, int y);
    int OffsetY() const { return FOffsetY; }
    // Nodes collected for a batch operation.
    const std::vector<PLazyNode>& TempNodeCache() const { return FTempNodeCache; }
    uint32_t TempNodeCount() const { return FTempNodeCount; }

protected:
    virtual void ClearTempCache();
    // Level of node2 less level of node1.
    virtual int CountLevelDifference(PLazyNode node1, PLazyNode node2);
    virtual void InternalCacheNode(PLazyNode node);

public:
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
    std::function<void(TBaseLazyTree&, TPersistent*, IDataObject*, const std::vector<WORD>&,
                       TShiftState, TPoint, DWORD&, TDropMode)>
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

    // F1: the help context of the focused node or, asked up its parents, of one of them;
    // 0 leaves the tree's own HelpContext.
    std::function<void(TBaseLazyTree&, PLazyNode, TColumnIndex, int&)> OnGetHelpContext;
    // The menu a right click shows when set (the framework's); else the owner's through
    // OnGetPopupMenu.
    TPopupMenu* PopupMenu = nullptr;
    void SetPopupMenu(TPopupMenu* value);
    bool HasPopupMenu(PLazyNode node, TColumnIndex column, TPoint position);
    virtual bool HasImage(PLazyNode node, TLTImageKind kind, TColumnIndex column);

protected:
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
    virtual void DoDragDrop(TPersistent* source, IDataObject* dataObject,
                            const std::vector<WORD>& formats, TShiftState shift, TPoint pt,
                            DWORD& effect, TDropMode mode);
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

public:
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

protected:
    // How far right-to-left painting shifts the columns: the room the header leaves right of
    // them; excludeScrollBar leaves out the room a shown vertical scroll bar takes.
    virtual int ComputeRTLOffset(bool excludeScrollBar = false);

public:
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

protected:
    // The long operations (the header auto-fit) OperationCanceled stops. Only the outermost
    // start forgets an earlier cancel request, so a nested start cannot undo a cancel.
    void BeginOperation() {
        if (FOperationCount++ == 0) FOperationCanceled = false;
    }
    void EndOperation() {
        if (FOperationCount > 0) --FOperationCount;
    }
    bool OperationCanceled() const { return FOperationCanceled && FOperationCount > 0; }

public:
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

protected:
    // Where X lies in a cell Right wide: indent, button, check box, images or text,
    // the row read from the right edge when RightToLeft.
    virtual void DetermineHitPosition(THitInfo& hitInfo, int x, int right, TAlignment alignment,
                                      bool rightToLeft);
    // Whether Node shows nothing in Column, so that a caption beside it may run
    // on into it under toAutoSpanColumns: the owner decides, else it is.
    virtual bool ColumnIsEmpty(PLazyNode node, TColumnIndex column);

public:
    std::function<void(TBaseLazyTree&, PLazyNode, TColumnIndex, bool&)> OnGetCellIsEmpty;
    // The visible columns beside Column (after it in position when Forward,
    // else before it) that are empty for Node, up to the first that is not:
    // their number and total width. Reading 0 takes every column, 1 only
    // left-to-right ones, 2 only right-to-left ones.
    int AutoSpanWidth(PLazyNode node, TColumnIndex column, bool forward, int reading,
                      int* count = nullptr);

protected:
    // Before a cell is painted: NextNonEmpty is the next column the loop paints;
    // a descendant may widen the cell over the columns it skips.
    virtual void AdjustPaintCellRect(TLTPaintInfo& info, TColumnIndex& nextNonEmpty);

public:
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

protected:
    // The rubber band: its rectangles in tree coordinates, and the selection change it makes.
    virtual bool CalculateSelectionRect(int x, int y);
    virtual bool HandleDrawSelection();
    virtual bool CollectSelectedNodesLTR(int mainColumn, int nodeLeft, TAlignment alignment,
                                         TRect oldRect, TRect newRect, int maxValue);
    virtual bool CollectSelectedNodesRTL(int mainColumn, int nodeLeft, TAlignment alignment,
                                         TRect oldRect, TRect newRect, int maxValue);

public:
    TRect SelectRectangle() const { return FNewSelRect; }
    virtual bool CanAutoScroll();
    virtual TScrollDirections DetermineScrollDirections(int x, int y);

protected:
    virtual void DoAutoScroll(int x, int y);

public:
    TScrollDirections ScrollDirections() const { return FScrollDirections; }
    const std::u16string& SearchBuffer() const { return FSearchBuffer; }
    TColumnIndex HotColumn() const { return FHotColumn; }
    TColumnIndex EditColumn() const { return FEditColumn; }

protected:
    // One tick of the auto-scroll timer.
    virtual void DoTimerScroll();

public:
    // The wheel; middle-button panning.
    virtual void HandleMouseWheel(TMessage& message);
    void StartWheelPanning(TPoint position);
    void StopWheelPanning();

protected:
    // The panning cursor for a pointer position (the name of its picture).
    virtual void AdjustPanningCursor(int x, int y);

public:
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
    // For a walk over Subtree in pre-order or backwards; it fetches
    // ahead only over a whole tree too big for the caches.
    TLazyWalkAhead WalkAhead(PLazyNode subtree, bool backwards) const;
    std::vector<PLazyNode> WalkOrder() const; // the whole tree in pre-order, read off the slabs
    void AdjustTotalCount(PLazyNode node, int64_t delta);
    void AdjustTotalHeight(PLazyNode node, int64_t delta);
    void StructureChange(PLazyNode node, TChangeReason reason);
    void StopTimer(uintptr_t id);
    void NotifyAccessible(DWORD event);
    bool FullyVisible(PLazyNode node) const;
    // Frees the children of Node, deepest and last first.
    void DeleteSubtree(PLazyNode node, TLazyWalkAhead ahead = {});
    // Toggles Node; CountLater leaves heights and the visible count to FinishDeferredToggles.
    bool InternalToggleNode(PLazyNode node, bool countLater); // false when nothing changed
    // Recounts after toggles within Node's subtree.
    void FinishDeferredToggles(PLazyNode node, TLazyWalkAhead ahead);
    // The expanded nodes of Top's subtree (Top too, unless it is the root),
    // children before their parents as a backward walk meets them.
    std::vector<PLazyNode> ExpandedBelow(PLazyNode top);
    bool ExpandedBelowByIndex(PLazyNode top, std::vector<PLazyNode>& found) const;
    std::vector<PLazyNode> ExpandedBelowByWalk(PLazyNode top);
    const TLazyNodeSet& ExpandedNodes() const { return FExpandedNodes; }
    // The walks behind WriteNode/WriteChunks and ReadNode/ReadChunk(base chunk):
    // they keep the open nodes in a list of their own, not on the call stack,
    // and do not call those virtuals again for the nodes below.
    void WriteSubtree(std::string& stream, PLazyNode node, bool nodeChunk);
    void ReadSubtree(TNodeReader& stream, int version, PLazyNode node, int baseChunkSize);
    void DoSetChildCountInternal(PLazyNode node, uint32_t newCount);
    bool InternalDeleteNode(PLazyNode node, bool reindex); // false when nothing was deleted
    // Rows from Before's (the sibling above a change of Parent's children, when
    // it is shown) or else Parent's down show other nodes now.
    void InvalidateChangedRows(PLazyNode parent, PLazyNode before);
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
    bool IsDisplayed(PLazyNode node) const; // shown, with every ancestor open and shown
    // The root, or an expanded node that is displayed.
    bool ChildrenDisplayed(PLazyNode node) const {
        return node == FRoot || ((node->States & vsExpanded) && IsDisplayed(node));
    }
    virtual uint32_t CountVisibleChildren(PLazyNode node) const; // 0 for a closed node
    void UpdateAllChildrenHidden(PLazyNode node);
    void VisibilityChanged(PLazyNode node, bool show); // Node started (Show) or stopped being shown
    void RecountAfterHiddenNodesChange();
    void ResetRangeAnchor();
    // The column a selection or a click focuses: the main column when it shows and
    // takes the focus, else the first shown one that does (NoColumn without columns).
    TColumnIndex FocusableMainColumn() const;
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
    static constexpr TColor ButtonKeyColor = clFuchsia; // button pixels that are not drawn
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
    // The nodes lately found, by their tops in steps of 16 pixels: the rows
    // in view are found again without a walk. Valid while FLastHitNode is set.
    struct THit {
        PLazyNode Node;
        uint64_t Top;
    };
    THit FHits[64] = {};
    void RememberHit(PLazyNode node, uint64_t top);
    // A drag near an edge scrolls; true when it did.
    bool DragScroll(TPoint clientPoint, bool treeSource, TLTDragImage* shownImage);
    // The steps of finding the row at a position.
    static bool IsShownRow(PLazyNode node, bool showHidden) {
        return (node->States & vsVisible) && (showHidden || !(node->States & vsHidden));
    }
    PLazyNode RecentHit(uint64_t position, uint64_t& top);
    PLazyNode NearestStart(uint64_t position, PLazyNode& node, uint64_t& top) const;
    PLazyNode WalkToPosition(PLazyNode node, uint64_t position, uint64_t& top) const;
    uint32_t FStartIndex = 0; // leading cache entries known to be valid
    int FOffsetY = 0;
    int FOffsetX = 0;
    int FRangeX = 0; // without columns: the widest node row painted so far
    HBRUSH FDottedBrush = nullptr;
    int FBarRangeX = -1, FBarRangeY = -1; // the ranges the scroll bars last showed
    // What the button bitmaps and the line brush were last built from.
    uint64_t FBitmapKey[2] = {~0ull, ~0ull};
    bool FFontChanged = false; // the paint canvas's font is no longer the tree's
    std::function<void(TFont&)> FOldFontChange;
    void ResetCanvasFont(TCanvas& canvas);
    TDropMode FLastDropMode = dmNowhere;
    int FChangeStateDepth = 0; // inside the worker's change-state message
    std::vector<PLazyNode> FTempNodeCache;
    uint32_t FTempNodeCount = 0;

    PLazyNode FRoot = nullptr;
    TLazyNodeSlabs FNodeSlabs;
    bool FFreeingAllNodes = false; // the blocks go back with their slabs, not one by one
    // The root's real child count while a read records one in its place.
    std::optional<uint32_t> FRootCountBeforeLoading;
    void EndHeaderLoading();
    // The nodes that hold vsExpanded. Every change of the flag goes through
    // the tree (the heights and counts rely on that too); a flag written
    // into the record directly is not seen here.
    TLazyNodeSet FExpandedNodes;
    // How a full collapse sees what handlers did on the way.
    uint64_t FStructureChanges = 0; // StructureChange calls
    uint64_t FFreedNodes = 0;
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
    // Made on first use (at the latest after construction) so that a descendant's
    // GetHeaderClass counts.
    TPartOnDemand<TLTHeader> FHeader{[this] { return GetHeaderClass(); }};
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
    std::shared_ptr<IAccessible> FAccessible, FAccessibleItem;
    bool FThreadReferenced = false;

    // Clipboard and OLE data.
    friend class TLTDataObject;
    friend class TWorkerThread;
    // The unit's own classes that call the tree's protected hooks.
    friend class TLTDragManager;
    friend class TLazyTreeHintWindow;
    TLTDataObject* FClipboardData = nullptr; // this tree's object on the clipboard
    // Marks the selection for cut or copy and hands the clipboard a data object for it.
    void PutOnClipboard(TLazyTreeState pending);
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

private:
    // Steps of the window message handling.
    void HandleKillFocus();
    void ReleaseWindowTies();
    bool PrintSkipped(HDC dc, UINT flags);
    void PrintClient(HDC dc, UINT flags);
    void Print(HDC dc, UINT flags);
    // The item queries, one member each; TextOnly asks for the text's rectangle.
    LRESULT QueryItem(TTVItem* item);
    int ItemImage(PLazyNode node, TLTImageKind kind);
    UINT ItemState(PLazyNode node);
    LRESULT QueryItemRect(TRect* rect, bool textOnly);
    PLazyNode QueryNextItem(WPARAM relation, PLazyNode node);
    // PaintTree's steps: the bitmaps, the columns, each row and each of its cells.
    struct TTreePaintPass;
    void RefreshPaintBitmaps();
    void CollectPaintColumns(TTreePaintPass& pass);
    void PaintRow(TTreePaintPass& pass, TLTPaintInfo& info, PLazyNode node, int y, int height);
    void PaintCell(TTreePaintPass& pass, TLTPaintInfo& info, TColumnIndex column, int left,
                   int right, TColumnPosition position, int& coveredTo);
    void PaintCellIndent(TTreePaintPass& pass, TLTPaintInfo& info, const TRect& cell);
    void PaintCellContent(TTreePaintPass& pass, TLTPaintInfo& info, const TRect& cell);
    // Key handling by key group.
    void AbandonKeyCheck();
    void HandleNavigationKey(WORD key, TShiftState keys);
    bool MoveFocusByKey(WORD key, TShiftState keys, bool extend, PLazyNode oldFocus);
    void SelectAfterKeyMove(PLazyNode oldFocus, TShiftState keys, bool clear, bool range,
                            bool repaintAll);
    void TabToNextCell(bool forward);
    void HandlePageKey(bool up, TShiftState keys);
    void PageFocusedColumn(bool up, int clientWidth);
    void PageFocusedNode(bool up, int clientHeight);
    void HandleHomeEndKey(bool home, TShiftState keys);
    bool HandleLeftRightKey(bool left, TShiftState keys, bool extend);
    bool StepOutToParent(TShiftState keys, bool extend);
    void StepInToChild(TShiftState keys, bool extend);
    void HandleUpDownKey(bool up, TShiftState keys, bool extend, PLazyNode oldFocus);
    void HandleCommandKey(WORD key, TShiftState keys);
    void HandleExpandKey(WORD key, TShiftState keys);
    void HandleSpaceKey();
    bool PressCheckBox(PLazyNode node, TLazyTreeState pending);
    void PopupMenuAtFocus();
    void ShowHelpForFocus();
    // Input messages, one member per message or button.
    bool HeaderIdle() const;
    void LeftButtonMessage(TMessage& m);
    void RightButtonMessage(TMessage& m);
    void RightButtonReleased(TMessage& m, bool select);
    void MiddleButtonMessage(TMessage& m);
    bool ChooseCursor(TMessage& m);
    void ChooseCursorAtRest();
    PLazyNode HeightSplitterNode(const THitInfo& info);
    PLazyNode HotNodeAt(int x, int y, THitInfo& info);
    void FocusOntoCollapsed();
    void MouseLeftWindow();
    void FocusLost();
    void ContextMenuMessage(TMessage& m);
    bool TimerMessage(TMessage& m);
    // The steps of a button press and of a double click.
    struct TMouseClick;
    void CancelPendingEdit();
    void ClassifyClick(TMouseClick& click, WPARAM keys);
    bool StartHeightTracking(const THitInfo& hit);
    bool ClickStartsDrag(const TMouseClick& click);
    void SelectOnMouseDown(const TMouseClick& click, bool rightButton);
    void ArmEditOnClick(const TMouseClick& click);
    bool StartRubberBand(const TMouseClick& click);
    void FocusClickedNode(const TMouseClick& click);
    bool DoubleClickActs(TMessage& message, const THitInfo& hitInfo, TLTMiscOptions misc);
    // The rubber band's collection, written once for both reading directions.
    bool CollectSelectedNodes(bool rightToLeft, int mainColumn, int nodeLeft, TAlignment alignment,
                              TRect oldRect, TRect newRect, int maxValue);
    int LeadingImagesWidth(PLazyNode node, TColumnIndex column);
    // The steps of the incremental search.
    void SearchFor(char16_t c);
    PLazyNode SearchStartNode();
    PLazyNode NextSearchNode(PLazyNode node);
    PLazyNode FirstSearchNode();
    // The steps of an auto-scroll tick.
    TScrollDirections PanningDirections(TPoint p) const;
    TPoint TimerScrollDelta(TPoint p, TRect client, bool panning);
};

// Declares the published properties of the trees, their options, header and
// columns for form resources; the first tree made does it.
void RegisterLazyTreeClasses();

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

protected:
    // Lets the owner set the canvas font for a node's text.
    virtual void DoPaintText(PLazyNode node, TCanvas& canvas, TColumnIndex column,
                             TLTSTextType textType);

public:
    void GetTextInfo(PLazyNode node, TColumnIndex column, const TFont& font, TRect& r,
                     std::u16string& text) override;

protected:
    std::u16string DoGetNodeHint(PLazyNode node, TColumnIndex column,
                                 TLTTooltipLineBreakStyle& style) override;
    std::u16string DoGetNodeTooltip(PLazyNode node, TColumnIndex column,
                                    TLTTooltipLineBreakStyle& style) override;

public:
    // --- content renderers ---------------------------------------------------------------

protected:
    // The text of a cell as the owner gives it (DefaultText when it gives none).
    virtual std::u16string DoGetText(PLazyNode node, TColumnIndex column);

public:
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

protected:
    virtual void DoNewText(PLazyNode node, TColumnIndex column, const std::u16string& text);
    int DoIncrementalSearch(PLazyNode node, const std::u16string& text) override;
    std::shared_ptr<ILTEditLink> DoCreateEditor(PLazyNode node, TColumnIndex column) override;

public:
    // The row rectangle of a node in client coordinates (the whole client width).
    TRect NodeRowRect(PLazyNode node);
    // A row repainted may show other text: its height is asked for again.
    TRect InvalidateNode(PLazyNode node) override;
    std::unique_ptr<TWinControl> RetiredEditor; // an editor that ended inside its own message

protected:
    // --- painting the texts ----------------------------------------------------------------
    int DoGetNodeWidth(PLazyNode node, TColumnIndex column, TCanvas* canvas) override;
    void DoPaintNode(TLTPaintInfo& info) override;
    // A cell is empty when its text is (unless the owner decides); under
    // toAutoSpanColumns a caption widens its cell over the empty cells after it.
    bool ColumnIsEmpty(PLazyNode node, TColumnIndex column) override;
    void AdjustPaintCellRect(TLTPaintInfo& info, TColumnIndex& nextNonEmpty) override;
    std::unique_ptr<TCustomLazyTreeOptions> GetOptionsClass() override;

private:
    // The unit's own classes that call the text dispatchers.
    friend class TBaseLazyTree;
    friend class TLazyTreeHintWindow;
    friend class TStringEditLink;
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

} // namespace nuq

// The dispatchers: every event of the tree passes through one of these, which
// fires it when the owner assigned a handler and otherwise gives the default.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include "platform/ScopeGuard.h"

namespace nuq {

namespace {

// Accessibility notices (window events of the platform).
enum : DWORD {
    EVENT_OBJECT_FOCUS = 0x8005,
    EVENT_OBJECT_SELECTION = 0x8006,
    EVENT_OBJECT_STATECHANGE = 0x800A,
    EVENT_OBJECT_LOCATIONCHANGE = 0x800B,
    EVENT_OBJECT_NAMECHANGE = 0x800C,
    EVENT_OBJECT_VALUECHANGE = 0x800E,
};

} // namespace

void TBaseLazyTree::NotifyAccessible(DWORD) {
    // Notices go out only for a tree with an accessible object; none exists here.
}

void TBaseLazyTree::StopTimer(uintptr_t id) {
    if (HandleAllocated()) KillTimer(WindowHandle(), id);
}

void TBaseLazyTree::DoStateChange(TLazyTreeStates enter, TLazyTreeStates leave) {
    TLazyTreeStates current = FStates.load();
    if (OnStateChange) {
        TLazyTreeStates entered = enter & ~current, left = leave & current;
        if (entered || left) OnStateChange(*this, entered, left);
    }
    if ((enter | leave) & TS(tsUseCache)) FLastHitNode = nullptr;
    FStates = (FStates.load() | enter) & ~leave;
}

void TBaseLazyTree::DoAdvancedHeaderDraw(THeaderPaintInfo& info, THeaderPaintElements elements) {
    if (OnAdvancedHeaderDraw) OnAdvancedHeaderDraw(*FHeader, info, elements);
}

void TBaseLazyTree::DoAfterCellPaint(TCanvas& canvas, PLazyNode node, TColumnIndex column,
                                     TRect cellRect) {
    if (OnAfterCellPaint) OnAfterCellPaint(*this, canvas, node, column, cellRect);
}

void TBaseLazyTree::DoAfterItemErase(TCanvas& canvas, PLazyNode node, TRect itemRect) {
    if (OnAfterItemErase) OnAfterItemErase(*this, canvas, node, itemRect);
}

void TBaseLazyTree::DoAfterItemPaint(TCanvas& canvas, PLazyNode node, TRect itemRect) {
    if (OnAfterItemPaint) OnAfterItemPaint(*this, canvas, node, itemRect);
}

void TBaseLazyTree::DoAfterPaint(TCanvas& canvas) {
    if (OnAfterPaint) OnAfterPaint(*this, canvas);
}

bool TBaseLazyTree::DoBeforeDrag(PLazyNode node, TColumnIndex column) {
    bool result = false;
    if (OnDragAllowed) OnDragAllowed(*this, node, column, result);
    return result;
}

void TBaseLazyTree::DoBeforeCellPaint(TCanvas& canvas, PLazyNode node, TColumnIndex column,
                                      TLTCellPaintMode mode, TRect cellRect, TRect& contentRect) {
    if (!OnBeforeCellPaint) return;
    if (mode != cpmGetContentMargin) {
        OnBeforeCellPaint(*this, canvas, node, column, mode, cellRect, contentRect);
        return;
    }
    // Only margins are asked for: whatever the handler draws must not reach the screen.
    bool quiet = Visible() && HandleAllocated() && FUpdateCount == 0;
    TRect pending;
    bool hadUpdate = quiet && GetUpdateRect(WindowHandle(), pending, false);
    if (quiet) SendMessage(WindowHandle(), WM_SETREDRAW, 0, 0);
    {
        TScopeExit redraw([this, quiet] {
            if (quiet) SendMessage(WindowHandle(), WM_SETREDRAW, 1, 0);
        });
        OnBeforeCellPaint(*this, canvas, node, column, mode, cellRect, contentRect);
    }
    if (quiet && hadUpdate) InvalidateRect(WindowHandle(), &pending, false);
}

void TBaseLazyTree::DoBeforeItemErase(TCanvas& canvas, PLazyNode node, TRect itemRect,
                                      TColor& color, TItemEraseAction& eraseAction) {
    if (OnBeforeItemErase) OnBeforeItemErase(*this, canvas, node, itemRect, color, eraseAction);
}

bool TBaseLazyTree::DoBeforeItemPaint(TCanvas& canvas, PLazyNode node, TRect itemRect) {
    bool customDraw = false;
    if (OnBeforeItemPaint) OnBeforeItemPaint(*this, canvas, node, itemRect, customDraw);
    return customDraw;
}

void TBaseLazyTree::DoBeforePaint(TCanvas& canvas) {
    if (OnBeforePaint) OnBeforePaint(*this, canvas);
}

bool TBaseLazyTree::DoCancelEdit() {
    StopTimer(EditTimer);
    DoStateChange(0, TS(tsEditPending));
    bool result = false;
    if ((FStates & TS(tsEditing)) && FEditLink) {
        result = FEditLink->CancelEdit();
        if (result) {
            DoStateChange(0, TS(tsEditing));
            if (OnEditCancelled) OnEditCancelled(*this, FFocusedColumn);
            if (!(ComponentState & csDestroying)) FEditLink.reset();
        }
    }
    return result;
}

void TBaseLazyTree::DoCanEdit(PLazyNode node, TColumnIndex column, bool& allowed) {
    if (OnEditing) OnEditing(*this, node, column, allowed);
}

void TBaseLazyTree::DoChange(PLazyNode node) {
    StopTimer(ChangeTimer);
    if (OnChange) OnChange(*this, node);
    DoStateChange(0, TS(tsChangePending));
    FLastChangedNode = nullptr;
}

void TBaseLazyTree::DoCheckClick(PLazyNode node, TCheckState newCheckState) {
    if (node && ChangeCheckState(node, newCheckState)) DoChecked(node);
}

void TBaseLazyTree::DoChecked(PLazyNode node) {
    if (OnChecked) OnChecked(*this, node);
    NotifyAccessible(EVENT_OBJECT_STATECHANGE);
}

bool TBaseLazyTree::DoChecking(PLazyNode node, TCheckState& newCheckState) {
    if (FOptions->MiscOptions() & toReadOnly) return false;
    bool allowed = true;
    if (OnChecking) OnChecking(*this, node, newCheckState, allowed);
    return allowed;
}

void TBaseLazyTree::DoCollapsed(PLazyNode node) {
    if (OnCollapsed) OnCollapsed(*this, node);
    NotifyAccessible(EVENT_OBJECT_STATECHANGE);
}

bool TBaseLazyTree::DoCollapsing(PLazyNode node) {
    bool allowed = true;
    if (OnCollapsing) OnCollapsing(*this, node, allowed);
    return allowed;
}

void TBaseLazyTree::DoColumnClick(TColumnIndex column, TShiftState shift) {
    if (OnColumnClick) OnColumnClick(*this, column, shift);
}

void TBaseLazyTree::DoColumnDblClick(TColumnIndex column, TShiftState shift) {
    if (OnColumnDblClick) OnColumnDblClick(*this, column, shift);
}

void TBaseLazyTree::DoColumnResize(TColumnIndex column) {
    if ((ComponentState & csLoading) || !HandleAllocated()) return;
    for (PLazyNode n = GetFirstInitialized(); n; n = GetNextInitialized(n))
        if (n->States & vsMultiline) n->States &= ~vsHeightMeasured;
    UpdateHorizontalScrollBar(false);
    Invalidate();
    // While the header tracks a border the window follows at once; while it
    // distributes widths over several columns nobody is told of each one.
    TLTHeaderStates headerStates = FHeader->States();
    if (FHeader->IsValidColumn(column)) FHeader->Invalidate(&FHeader->Columns()[column]);
    if ((headerStates & hsColumnWidthTracking) && !(headerStates & hsResizing))
        UpdateWindow(WindowHandle());
    if (OnColumnResize && !(headerStates & hsResizing)) OnColumnResize(*FHeader, column);
    UpdateEditBounds();
}

int TBaseLazyTree::DoCompare(PLazyNode node1, PLazyNode node2, TColumnIndex column) {
    int result = 0;
    if (OnCompareNodes) OnCompareNodes(*this, node1, node2, column, result);
    return result;
}

std::shared_ptr<IDataObject> TBaseLazyTree::DoCreateDataObject() {
    std::shared_ptr<IDataObject> result;
    if (OnCreateDataObject) OnCreateDataObject(*this, result);
    return result;
}

std::shared_ptr<ILTDragManager> TBaseLazyTree::DoCreateDragManager() {
    std::shared_ptr<ILTDragManager> result;
    if (OnCreateDragManager) OnCreateDragManager(*this, result);
    return result;
}

std::shared_ptr<ILTEditLink> TBaseLazyTree::DoCreateEditor(PLazyNode node, TColumnIndex column) {
    std::shared_ptr<ILTEditLink> result;
    if (OnCreateEditor) {
        OnCreateEditor(*this, node, column, result);
        if (!result) RaiseTreeError(u"Edit link must not be nil.", 2000);
    }
    return result;
}

bool TBaseLazyTree::DoDragOver(TPersistent* source, TShiftState shift, TDragState state, TPoint pt,
                               TDropMode mode, DWORD& effect) {
    bool accept = false;
    if (OnDragOver) OnDragOver(*this, source, shift, state, pt, mode, effect, accept);
    return accept;
}

void TBaseLazyTree::DoDragDrop(TPersistent* source, IDataObject* dataObject,
                               const std::vector<WORD>& formats, TShiftState shift, TPoint pt,
                               DWORD& effect, TDropMode mode) {
    if (OnDragDrop) OnDragDrop(*this, source, dataObject, formats, shift, pt, effect, mode);
}

void TBaseLazyTree::DoEdit() {
    Application().CancelHint();
    StopTimer(EditTimer);
    DoStateChange(0, TS(tsEditPending));
    if (!FFocusedNode || (FFocusedNode->States & vsDisabled) ||
        (FOptions->MiscOptions() & toReadOnly) || FEditLink)
        return;
    FEditLink = DoCreateEditor(FFocusedNode, FEditColumn);
    if (!FEditLink) return;
    DoStateChange(TS(tsEditing), TS(tsToggleFocusedSelection, tsClearPending, tsDrawSelPending,
                                    tsDrawSelecting, tsMouseCheckPending, tsOLEDragging,
                                    tsOLEDragPending, tsScrolling, tsScrollPending));
    ScrollIntoView(FFocusedNode, FOptions->SelectionOptions() & toCenterScrollIntoView,
                   !(FOptions->AutoOptions() & toDisableAutoscrollOnEdit));
    if (FEditLink->PrepareEdit(this, FFocusedNode, FEditColumn)) {
        UpdateEditBounds();
        InvalidateNode(FFocusedNode);
        if (!FEditLink->BeginEdit()) DoStateChange(0, TS(tsEditing));
    } else {
        DoStateChange(0, TS(tsEditing));
    }
    if (!(FStates & TS(tsEditing))) FEditLink.reset();
}

bool TBaseLazyTree::DoEndEdit() {
    StopTimer(EditTimer);
    bool result = true;
    if ((FStates & TS(tsEditing)) && FEditLink) {
        result = FEditLink->EndEdit();
        if (result) {
            DoStateChange(0, TS(tsEditing));
            FEditLink.reset();
            if (OnEdited) OnEdited(*this, FFocusedNode, FFocusedColumn);
        }
    }
    DoStateChange(0, TS(tsEditPending));
    return result;
}

void TBaseLazyTree::DoExpanded(PLazyNode node) {
    if (OnExpanded) OnExpanded(*this, node);
    NotifyAccessible(EVENT_OBJECT_STATECHANGE);
}

bool TBaseLazyTree::DoExpanding(PLazyNode node) {
    bool allowed = true;
    if (OnExpanding) OnExpanding(*this, node, allowed);
    return allowed;
}

void TBaseLazyTree::DoFocusChange(PLazyNode node, TColumnIndex column) {
    if (OnFocusChanged) OnFocusChanged(*this, node, column);
    for (DWORD e : {EVENT_OBJECT_LOCATIONCHANGE, EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_VALUECHANGE,
                    EVENT_OBJECT_STATECHANGE, EVENT_OBJECT_SELECTION, EVENT_OBJECT_FOCUS})
        NotifyAccessible(e);
}

bool TBaseLazyTree::DoFocusChanging(PLazyNode oldNode, PLazyNode newNode, TColumnIndex oldColumn,
                                    TColumnIndex newColumn) {
    bool allowed = oldColumn == newColumn || FHeader->ColumnAllowsFocus(newColumn);
    if (OnFocusChanging) OnFocusChanging(*this, oldNode, newNode, oldColumn, newColumn, allowed);
    return allowed;
}

void TBaseLazyTree::DoFocusNode(PLazyNode node, bool ask) {
    if ((FStates & TS(tsEditing)) && !DoEndEdit()) return;
    if (node == FRoot) node = nullptr;
    if (node != FFocusedNode &&
        !(ask && !DoFocusChanging(FFocusedNode, node, FFocusedColumn, FFocusedColumn))) {
        if (FFocusedNode) {
            if ((FOptions->AutoOptions() & toAutoExpand) && node &&
                node->Parent == FFocusedNode->Parent && (FFocusedNode->States & vsExpanded))
                SetExpanded(FFocusedNode, false);
            else
                InvalidateNode(FFocusedNode);
        }
        FFocusedNode = node;
    }
    if (FFocusedNode) {
        if (FHeader->ColumnCount() > 0 && !FHeader->IsValidColumn(FFocusedColumn))
            FFocusedColumn = FHeader->MainColumn();
        if ((FOptions->AutoOptions() & toAutoExpand) && !(FFocusedNode->States & vsExpanded))
            SetExpanded(FFocusedNode, true);
        InvalidateNode(FFocusedNode);
        if (FUpdateCount == 0 && !(FOptions->AutoOptions() & toDisableAutoscrollOnFocus))
            ScrollIntoView(
                FFocusedNode,
                (FOptions->SelectionOptions() & toCenterScrollIntoView) &&
                    !(FStates & TS(tsLeftButtonDown, tsMiddleButtonDown, tsRightButtonDown)),
                true);
    }
    if (FSelectionCount == 0) {
        FRangeAnchor = FFocusedNode;
        FLastSelectionLevel = -1;
    }
}

void TBaseLazyTree::DoFreeNode(PLazyNode node) {
    if (node == FLastChangedNode) FLastChangedNode = nullptr;
    if (node == FCurrentHotNode) FCurrentHotNode = nullptr;
    if (node == FDropTargetNode) FDropTargetNode = nullptr;
    if (node == FFocusedNode) FFocusedNode = nullptr;
    if (node == FRangeAnchor) FRangeAnchor = nullptr;
    if (node == FLastStructureChangeNode) FLastStructureChangeNode = nullptr;
    // Input state must not keep a node that goes.
    if (node == FCheckNode) FCheckNode = nullptr;
    if (node == FLastSearchNode) FLastSearchNode = nullptr;
    if (node == FHeightTrackNode) FHeightTrackNode = nullptr;
    if (OnFreeNode && (node->States & (vsInitialized | vsInitialUserData))) OnFreeNode(*this, node);
    FreeNodeBlock(node);
}

THintAnimationType TBaseLazyTree::DoGetAnimationType() {
    THintAnimationType result = HintAnimation;
    // The platform has no tooltip animation settings: sliding, as off the NT family.
    if (result == hatSystemDefault) result = hatSlide;
    if (result == hatFade && !ProcessorHasMMX) result = hatSlide;
    return result;
}

TPoint TBaseLazyTree::DoGetCellContentMargin(PLazyNode node, TColumnIndex column, int marginType,
                                             TCanvas* canvas) {
    if (!OnBeforeCellPaint) return {0, 0};
    TRect cell = GetDisplayRect(node, column, false);
    TRect content = cell;
    DoBeforeCellPaint(canvas ? *canvas : Canvas(), node, column, cpmGetContentMargin, cell,
                      content);
    switch (marginType) {
    case 1:
        return {content.Left - cell.Left, content.Top - cell.Top};
    case 2:
        return {cell.Right - content.Right, cell.Bottom - content.Bottom};
    default:
        return {cell.Width() - content.Width(), cell.Height() - content.Height()};
    }
}

void TBaseLazyTree::DoGetCursor(TCursor& cursor) {
    if (OnGetCursor) OnGetCursor(*this, cursor);
}

void TBaseLazyTree::DoGetHeaderCursor(TCursor& cursor) {
    if (OnGetHeaderCursor) OnGetHeaderCursor(*FHeader, cursor);
}

TCustomImageList* TBaseLazyTree::DoGetImageIndex(PLazyNode node, TLTImageKind kind,
                                                 TColumnIndex column, bool& ghosted, int& index) {
    TCustomImageList* result = nullptr;
    if (OnGetImageIndexEx)
        OnGetImageIndexEx(*this, node, kind, column, ghosted, index, result);
    else if (OnGetImageIndex)
        OnGetImageIndex(*this, node, kind, column, ghosted, index);
    return result;
}

void TBaseLazyTree::DoGetImageText(PLazyNode node, TLTImageKind kind, TColumnIndex column,
                                   std::u16string& imageText) {
    if (OnGetImageText) OnGetImageText(*this, node, kind, column, imageText);
}

void TBaseLazyTree::DoGetLineStyle(const void*& bits) {
    if (OnGetLineStyle) OnGetLineStyle(*this, bits);
}

std::u16string TBaseLazyTree::DoGetNodeHint(PLazyNode, TColumnIndex,
                                            TLTTooltipLineBreakStyle& style) {
    style = hlbDefault;
    return Hint;
}

std::u16string TBaseLazyTree::DoGetNodeTooltip(PLazyNode, TColumnIndex,
                                               TLTTooltipLineBreakStyle& style) {
    style = hlbDefault;
    return Hint;
}

int TBaseLazyTree::DoGetNodeWidth(PLazyNode, TColumnIndex, TCanvas*) {
    return 0;
}

TPopupMenu* TBaseLazyTree::DoGetPopupMenu(PLazyNode node, TColumnIndex column, TPoint position) {
    TPopupMenu* result = nullptr;
    if (!OnGetPopupMenu) return nullptr;
    if (node) {
        bool askParent = true;
        for (PLazyNode run = node; run && run != FRoot && !result && askParent; run = run->Parent)
            OnGetPopupMenu(*this, run, column, position, askParent, result);
    } else {
        bool askParent = true;
        OnGetPopupMenu(*this, nullptr, NoColumn, position, askParent, result);
    }
    return result;
}

void TBaseLazyTree::DoGetUserClipboardFormats(std::vector<TFormatEtc>& formats) {
    if (OnGetUserClipboardFormats) OnGetUserClipboardFormats(*this, formats);
}

void TBaseLazyTree::DoHeaderClick(TLTHeaderHitInfo hitInfo) {
    if (OnHeaderClick) OnHeaderClick(*FHeader, hitInfo);
}

void TBaseLazyTree::DoHeaderDblClick(TLTHeaderHitInfo hitInfo) {
    if (OnHeaderDblClick) OnHeaderDblClick(*FHeader, hitInfo);
}

void TBaseLazyTree::DoHeaderDragged(TColumnIndex column, int oldPosition) {
    if (OnHeaderDragged) OnHeaderDragged(*FHeader, column, oldPosition);
}

void TBaseLazyTree::DoHeaderDraggedOut(TColumnIndex column, TPoint dropPosition) {
    if (OnHeaderDraggedOut) OnHeaderDraggedOut(*FHeader, column, dropPosition);
}

bool TBaseLazyTree::DoHeaderDragging(TColumnIndex column) {
    bool result = true;
    if (OnHeaderDragging) OnHeaderDragging(*FHeader, column, result);
    return result;
}

void TBaseLazyTree::DoHeaderDraw(TCanvas& canvas, TColumnIndex column, TRect r, bool hover,
                                 bool pressed, TLTDropMarkMode dropMark) {
    if (OnHeaderDraw) OnHeaderDraw(*FHeader, canvas, column, r, hover, pressed, dropMark);
}

void TBaseLazyTree::DoHeaderDrawQueryElements(THeaderPaintInfo& info,
                                              THeaderPaintElements& elements) {
    if (OnHeaderDrawQueryElements) OnHeaderDrawQueryElements(*FHeader, info, elements);
}

void TBaseLazyTree::DoHeaderMouseDown(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnHeaderMouseDown) OnHeaderMouseDown(*FHeader, button, shift, x, y);
}

void TBaseLazyTree::DoHeaderMouseMove(TShiftState shift, int x, int y) {
    if (OnHeaderMouseMove) OnHeaderMouseMove(*FHeader, shift, x, y);
}

void TBaseLazyTree::DoHeaderMouseUp(TMouseButton button, TShiftState shift, int x, int y) {
    if (OnHeaderMouseUp) OnHeaderMouseUp(*FHeader, button, shift, x, y);
}

void TBaseLazyTree::DoHotChange(PLazyNode oldNode, PLazyNode newNode) {
    if (OnHotChange) OnHotChange(*this, oldNode, newNode);
}

int TBaseLazyTree::DoIncrementalSearch(PLazyNode node, const std::u16string& text) {
    int result = 0;
    if (OnIncrementalSearch) OnIncrementalSearch(*this, node, text, result);
    return result;
}

void TBaseLazyTree::DoInitChildren(PLazyNode node, uint32_t& childCount) {
    if (OnInitChildren) OnInitChildren(*this, node, childCount);
}

void TBaseLazyTree::DoInitNode(PLazyNode parent, PLazyNode node, TLazyNodeInitStates& initStates) {
    if (OnInitNode) OnInitNode(*this, parent, node, initStates);
}

bool TBaseLazyTree::DoKeyAction(WORD& charCode, TShiftState& shift) {
    bool doDefault = true;
    if (OnKeyAction) OnKeyAction(*this, charCode, shift, doDefault);
    return doDefault;
}

void TBaseLazyTree::DoLoadUserData(PLazyNode node, std::istream& stream) {
    if (OnLoadNode) OnLoadNode(*this, node == FRoot ? nullptr : node, stream);
}

void TBaseLazyTree::DoMeasureItem(TCanvas& canvas, PLazyNode node, int& nodeHeight) {
    if (OnMeasureItem) OnMeasureItem(*this, canvas, node, nodeHeight);
}

void TBaseLazyTree::DoNodeCopied(PLazyNode node) {
    if (OnNodeCopied) OnNodeCopied(*this, node);
}

bool TBaseLazyTree::DoNodeCopying(PLazyNode node, PLazyNode newParent) {
    bool result = true;
    if (OnNodeCopying) OnNodeCopying(*this, node, newParent, result);
    return result;
}

bool TBaseLazyTree::DoNodeHeightDblClickResize(PLazyNode node, TColumnIndex column,
                                               TShiftState shift, TPoint p) {
    bool result = true;
    if (OnNodeHeightDblClickResize)
        OnNodeHeightDblClickResize(*this, node, column, shift, p, result);
    return result;
}

bool TBaseLazyTree::DoNodeHeightTracking(PLazyNode node, TColumnIndex column, TShiftState shift,
                                         TPoint& trackPoint, TPoint p) {
    bool result = true;
    if (OnNodeHeightTracking)
        OnNodeHeightTracking(*this, node, column, shift, trackPoint, p, result);
    return result;
}

void TBaseLazyTree::DoNodeMoved(PLazyNode node) {
    if (OnNodeMoved) OnNodeMoved(*this, node);
}

bool TBaseLazyTree::DoNodeMoving(PLazyNode node, PLazyNode newParent) {
    bool result = true;
    if (OnNodeMoving) OnNodeMoving(*this, node, newParent, result);
    return result;
}

bool TBaseLazyTree::DoPaintBackground(TCanvas& canvas, TRect r) {
    bool handled = false;
    if (OnPaintBackground) OnPaintBackground(*this, canvas, r, handled);
    return handled;
}

void TBaseLazyTree::DoPaintNode(TLTPaintInfo&) {}

void TBaseLazyTree::SetPopupMenu(TPopupMenu* value) {
    if (PopupMenu == value) return;
    if (PopupMenu && PopupMenu != FHeader->PopupMenu) RemoveFreeNotification(PopupMenu);
    PopupMenu = value;
    if (value) FreeNotification(value);
}

bool TBaseLazyTree::HasPopupMenu(PLazyNode node, TColumnIndex column, TPoint position) {
    return PopupMenu || DoGetPopupMenu(node, column, position);
}

void TBaseLazyTree::DoPopupMenu(PLazyNode node, TColumnIndex column, TPoint position) {
    TPopupMenu* menu = DoGetPopupMenu(node, column, position);
    if (!menu) return;
    DoStateChange(TS(tsPopupMenuShown));
    StopTimer(EditTimer);
    menu->PopupComponent = this;
    TPoint p = position;
    if (HandleAllocated()) MapWindowPoints(WindowHandle(), 0, &p, 1);
    menu->Popup(p);
}

HRESULT TBaseLazyTree::DoRenderOLEData(const TFormatEtc& formatEtcIn, TStgMedium& medium,
                                       bool forClipboard) {
    HRESULT result = E_FAIL;
    if (OnRenderOLEData) OnRenderOLEData(*this, formatEtcIn, medium, forClipboard, result);
    return result;
}

void TBaseLazyTree::DoReset(PLazyNode node) {
    if (OnResetNode) OnResetNode(*this, node);
}

void TBaseLazyTree::DoSaveUserData(PLazyNode node, std::ostream& stream) {
    if (OnSaveNode) OnSaveNode(*this, node == FRoot ? nullptr : node, stream);
}

void TBaseLazyTree::DoScroll(int deltaX, int deltaY) {
    if (OnScroll) OnScroll(*this, deltaX, deltaY);
}

void TBaseLazyTree::DoShowScrollbar(int bar, bool show) {
    if (HandleAllocated()) ShowScrollBar(WindowHandle(), bar, show);
    if (OnShowScrollbar) OnShowScrollbar(*this, bar, show);
}

void TBaseLazyTree::DoStructureChange(PLazyNode node, TChangeReason reason) {
    StopTimer(StructureChangeTimer);
    FStructureTimerSet = false;
    if (OnStructureChange) OnStructureChange(*this, node, reason);
    DoStateChange(0, TS(tsStructureChangePending));
    FLastStructureChangeNode = nullptr;
    FLastStructureChangeReason = crIgnore;
}

void TBaseLazyTree::DoUpdating(TLTUpdateState state) {
    if (OnUpdating) OnUpdating(*this, state);
}

void TBaseLazyTree::DoGetNodeDataSize(int& size) {
    size = 0;
    if (OnGetNodeDataSize) OnGetNodeDataSize(*this, size);
}

void TBaseLazyTree::MainColumnChanged() {
    DoCancelEdit();
    NotifyAccessible(EVENT_OBJECT_NAMECHANGE);
}

} // namespace nuq

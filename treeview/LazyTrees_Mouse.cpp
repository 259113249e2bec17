// Mouse input: the button, double-click and move messages of the tree window,
// the decisions a click makes (focus, selection, check box, toggle, edit,
// drag) and the hot node under the mouse.

#include "treeview/LazyTrees.h"

#include <algorithm>
#include <cstdlib>

namespace nuq {

namespace {

TPoint MessagePoint(LPARAM l) {
    return {int(int16_t(LoWord(uintptr_t(l)))), int(int16_t(HiWord(uintptr_t(l))))};
}

// What lies under a mouse message's point (client coordinates).
THitInfo HitAt(TBaseLazyTree& tree, LPARAM l) {
    const TPoint p = MessagePoint(l);
    THitInfo info;
    tree.GetHitTestInfoAt(p.X, p.Y, true, info);
    return info;
}

// How far the pointer must move before a pending clear or rubber band gives way: the
// desktop's own drag distance, so the tree feels like the rest of the desktop.
bool BeyondDragThreshold(int dx, int dy, bool inclusive) {
    int cx = GetSystemMetrics(SM_CXDRAG), cy = GetSystemMetrics(SM_CYDRAG);
    dx = std::abs(dx);
    dy = std::abs(dy);
    return inclusive ? dx >= cx || dy >= cy : dx > cx || dy > cy;
}

} // namespace

TShiftState TBaseLazyTree::KeysToShift(WPARAM keys) const {
    TShiftState s = 0;
    if (keys & MK_SHIFT) s |= ssShift;
    if (keys & MK_CONTROL) s |= ssCtrl;
    if (GetKeyState(VK_MENU) < 0) s |= ssAlt;
    if (keys & MK_LBUTTON) s |= ssLeft;
    if (keys & MK_RBUTTON) s |= ssRight;
    if (keys & MK_MBUTTON) s |= ssMiddle;
    return s;
}

bool TBaseLazyTree::CanEdit(PLazyNode node, TColumnIndex column) {
    bool allowed = (FOptions->MiscOptions() & toEditable) && Enabled &&
                   !(FOptions->MiscOptions() & toReadOnly);
    DoCanEdit(node, column, allowed);
    return allowed;
}

bool TBaseLazyTree::EndEditNode() {
    if (FStates & TS(tsEditing, tsEditPending)) return DoEndEdit();
    return true;
}

bool TBaseLazyTree::CancelEditNode() {
    if (HandleAllocated() && (FStates & TS(tsEditing, tsEditPending))) return DoCancelEdit();
    return true;
}

void TBaseLazyTree::EndPendingMouseStates(bool killFocus) {
    for (uintptr_t id :
         {uintptr_t(1), uintptr_t(EditTimer), uintptr_t(3), uintptr_t(ScrollTimerId)})
        StopTimer(id);
    StopTimer(SearchTimer);
    FSearchBuffer.clear();
    FLastSearchNode = nullptr;
    if (killFocus)
        DoStateChange(0, TS(tsEditPending, tsNodeHeightTracking, tsNodeHeightTrackPending,
                            tsIncrementalSearching, tsLeftButtonDown, tsMiddleButtonDown,
                            tsOLEDragPending, tsRightButtonDown, tsScrolling, tsScrollPending,
                            tsFrameworkDragPending));
    else
        DoStateChange(0, TS(tsClearPending, tsDrawSelPending, tsDrawSelecting, tsEditPending,
                            tsIncrementalSearching, tsOLEDragPending, tsFrameworkDragPending));
}

bool TBaseLazyTree::MouseOverHeader() {
    if (!HandleAllocated() || !(FHeader->Options() & hoVisible)) return false;
    TPoint p;
    GetCursorPos(p);
    MapWindowPoints(0, WindowHandle(), &p, 1);
    return FHeader->InHeader(p);
}

void TBaseLazyTree::ForgetHeaderHover() {
    TLazyTreeColumns& columns = FHeader->Columns();
    if (columns.HoverIndex == NoColumn && columns.DownIndex == NoColumn) return;
    columns.HoverIndex = NoColumn;
    columns.DownIndex = NoColumn;
    FHeader->Invalidate(nullptr);
}

// The window's input messages, one member per message or button; true when handled here.
bool TBaseLazyTree::InputMessage(TMessage& m) {
    switch (m.Msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_LBUTTONDBLCLK:
        LeftButtonMessage(m);
        return true;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONUP:
    case WM_RBUTTONDBLCLK:
        RightButtonMessage(m);
        return true;
    case WM_MBUTTONDOWN:
    case WM_MBUTTONUP:
    case WM_MBUTTONDBLCLK:
        MiddleButtonMessage(m);
        return true;
    case WM_MOUSEWHEEL:
        HandleMouseWheel(m);
        return true;
    case WM_MOUSEMOVE: {
        TPoint p = MessagePoint(m.LParam);
        if (FStates & TS(tsWheelPanning, tsWheelScrolling))
            AdjustPanningCursor(p.X, p.Y);
        else
            MouseMove(KeysToShift(m.WParam), p.X, p.Y);
        return true;
    }
    case WM_SETCURSOR:
        return ChooseCursor(m);
    case WM_MOUSELEAVE:
        MouseLeftWindow();
        return false; // the header and the hints see it too
    case WM_NCMOUSELEAVE:
        if (!MouseOverHeader()) ForgetHeaderHover();
        return false;
    case WM_CANCELMODE:
        EndPendingMouseStates(false);
        return false; // the default handling follows
    case WM_KILLFOCUS:
        FocusLost();
        return false;
    case WM_CONTEXTMENU:
        ContextMenuMessage(m);
        return true;
    case WM_CAPTURECHANGED:
        if (IsMouseSelecting() && HWND(m.LParam) != WindowHandle()) {
            DoStateChange(0, TS(tsDrawSelPending, tsDrawSelecting));
            Invalidate();
        }
        return false;
    case WM_KEYDOWN:
        HandleKeyDown(m);
        return true;
    case WM_KEYUP:
        HandleKeyUp(m);
        return true;
    case WM_CHAR:
        HandleChar(m);
        return true;
    case WM_GETDLGCODE:
        m.Result = 0x81 | (WantTabs ? 2 : 0);
        return true;
    case WM_TIMER:
        return TimerMessage(m);
    }
    return false;
}

bool TBaseLazyTree::HeaderIdle() const {
    return !(FHeader->States() & (hsDragging | hsColumnWidthTracking));
}

void TBaseLazyTree::LeftButtonMessage(TMessage& m) {
    switch (m.Msg) {
    case WM_LBUTTONDOWN:
        DoStateChange(TS(tsLeftButtonDown));
        HandleMouseDown(m, HitAt(*this, m.LParam));
        break;
    case WM_LBUTTONUP:
        DoStateChange(0, TS(tsNodeHeightTracking, tsNodeHeightTrackPending, tsLeftButtonDown));
        HandleMouseUp(m.WParam, HitAt(*this, m.LParam));
        break;
    case WM_LBUTTONDBLCLK:
        DoStateChange(TS(tsLeftDblClick));
        HandleMouseDblClick(m, HitAt(*this, m.LParam));
        if (OnDblClick) OnDblClick(*this);
        DoStateChange(0, TS(tsLeftDblClick));
        break;
    }
}

// The right button selects only with toRightClickSelect.
void TBaseLazyTree::RightButtonMessage(TMessage& m) {
    const bool headerIdle = HeaderIdle();
    const bool select = FOptions->SelectionOptions() & toRightClickSelect;
    switch (m.Msg) {
    case WM_RBUTTONDOWN:
        DoStateChange(TS(tsRightButtonDown));
        if (headerIdle && select) HandleMouseDown(m, HitAt(*this, m.LParam));
        break;
    case WM_RBUTTONUP:
        DoStateChange(0, TS(tsRightButtonDown, tsPopupMenuShown));
        if (headerIdle) RightButtonReleased(m, select);
        break;
    case WM_RBUTTONDBLCLK:
        DoStateChange(TS(tsRightDblClick));
        HandleMouseDblClick(m, HitAt(*this, m.LParam));
        DoStateChange(0, TS(tsRightDblClick));
        break;
    }
}

// The release ends a rubber band that a popup menu would interrupt and brings the
// context menu.
void TBaseLazyTree::RightButtonReleased(TMessage& m, bool select) {
    Application().CancelHint();
    CancelNodeHint();
    if (PopupMenu && IsMouseSelecting()) {
        DoStateChange(0, TS(tsDrawSelPending, tsDrawSelecting));
        Invalidate();
    }
    // As the default handling would: the context menu follows the button's release.
    if (HandleAllocated()) {
        TPoint screen = MessagePoint(m.LParam);
        MapWindowPoints(WindowHandle(), 0, &screen, 1);
        SendMessage(WindowHandle(), WM_CONTEXTMENU, WPARAM(WindowHandle()),
                    MakeLParam(screen.X, screen.Y));
    }
    const THitInfo info = HitAt(*this, m.LParam);
    if (select) HandleMouseUp(m.WParam, info);
    if (!PopupMenu) DoPopupMenu(info.HitNode, info.HitColumn, MessagePoint(m.LParam));
}

// The middle button pans the view when there is something to scroll and
// toWheelPanning is set; otherwise it selects only with toMiddleClickSelect.
void TBaseLazyTree::MiddleButtonMessage(TMessage& m) {
    const bool headerIdle = HeaderIdle();
    const bool select = FOptions->SelectionOptions() & toMiddleClickSelect;
    switch (m.Msg) {
    case WM_MBUTTONDOWN: {
        DoStateChange(TS(tsMiddleButtonDown));
        if (!headerIdle) break;
        const TRect client = ClientRect();
        if ((FOptions->MiscOptions() & toWheelPanning) &&
            !(FStates & TS(tsWheelPanning, tsWheelScrolling)) &&
            (client.Width() < RangeX() || client.Height() < RangeY())) {
            StartWheelPanning(MessagePoint(m.LParam));
        } else {
            StopWheelPanning();
            if (select) HandleMouseDown(m, HitAt(*this, m.LParam));
        }
        break;
    }
    case WM_MBUTTONUP:
        DoStateChange(0, TS(tsMiddleButtonDown));
        if (FStates & TS(tsWheelPanning, tsWheelScrolling)) {
            if (FStates & TS(tsWheelScrolling))
                DoStateChange(0, TS(tsWheelPanning));
            else
                StopWheelPanning();
        } else if (headerIdle && select) {
            HandleMouseUp(m.WParam, HitAt(*this, m.LParam));
        }
        break;
    case WM_MBUTTONDBLCLK:
        DoStateChange(TS(tsMiddleDblClick));
        if (select) HandleMouseDblClick(m, HitAt(*this, m.LParam));
        DoStateChange(0, TS(tsMiddleDblClick));
        break;
    }
}

// The header had its say first; here the row edges and the hot node choose,
// unless the program shows one cursor over all its windows.
bool TBaseLazyTree::ChooseCursor(TMessage& m) {
    if (FStates & TS(tsWheelPanning, tsWheelScrolling) || (ComponentState & csDesigning) ||
        HWND(m.WParam) != WindowHandle() || Screen().GlobalCursor != crDefault)
        return false;
    TCursor cursor = crDefault;
    TPoint p;
    GetCursorPos(p);
    MapWindowPoints(0, WindowHandle(), &p, 1);
    // The cursor is asked for before the move reaches the tree: it follows
    // where the pointer is now, not the hot node of the move before.
    THitInfo info;
    const PLazyNode hot = HotNodeAt(p.X, p.Y, info);
    if ((FOptions->MiscOptions() & toNodeHeightResize) && HeightSplitterNode(info))
        cursor = crVertSplit;
    else if ((FOptions->PaintOptions() & toHotTrack) && hot && HotCursor != 0)
        cursor = HotCursor;
    DoGetCursor(cursor);
    SetCursor(Screen().Cursor(cursor));
    m.Result = 1;
    return true;
}

// What changed under a pointer that did not move (a scroll, the end of
// panning) changes its cursor as a move would; a capture keeps its own.
void TBaseLazyTree::ChooseCursorAtRest() {
    if (!HandleAllocated() || GetCapture()) return;
    TPoint p;
    GetCursorPos(p);
    MapWindowPoints(0, WindowHandle(), &p, 1);
    if (ClientRect().Contains(p))
        SendMessage(WindowHandle(), WM_SETCURSOR, WPARAM(WindowHandle()),
                    MakeLParam(HTCLIENT, WM_MOUSEMOVE));
}

// The row whose lower edge a splitter hit in a fixed column lies on (the row
// above for the upper edge), or null.
PLazyNode TBaseLazyTree::HeightSplitterNode(const THitInfo& info) {
    if (!(info.HitPositions & hiOnItem) || !FHeader->IsValidColumn(info.HitColumn) ||
        !(FHeader->Columns()[info.HitColumn].Options() & coFixed))
        return nullptr;
    PLazyNode node = nullptr;
    if (info.HitPositions & hiLowerSplitter)
        node = info.HitNode;
    else if (info.HitPositions & hiUpperSplitter)
        node = GetPreviousVisible(info.HitNode);
    return node == FRoot ? nullptr : node;
}

// The mouse left the window: nothing is hot any more and the edges no longer scroll.
void TBaseLazyTree::MouseLeftWindow() {
    if (!(FStates & TS(tsWheelPanning, tsWheelScrolling))) {
        StopTimer(ScrollTimerId);
        DoStateChange(0, TS(tsScrolling, tsScrollPending));
    }
    if (FCurrentHotNode) {
        DoHotChange(FCurrentHotNode, nullptr);
        if ((FOptions->PaintOptions() & toHotTrack) || (FOptions->MiscOptions() & toCheckSupport))
            InvalidateNode(FCurrentHotNode);
        FCurrentHotNode = nullptr;
    }
    FHotColumn = NoColumn;
    FHotNodeButtonHit = false;
    // Gone to the header, the mouse may still hover a column there.
    if (!MouseOverHeader()) ForgetHeaderHover();
}

void TBaseLazyTree::FocusLost() {
    Application().CancelHint();
    StopWheelPanning();
    EndPendingMouseStates(true);
    if (FSelectionCount == 0 && (FOptions->PaintOptions() & toGhostedIfUnfocused))
        InvalidateNode(FFocusedNode);
    else if (HandleAllocated())
        Invalidate();
}

void TBaseLazyTree::ContextMenuMessage(TMessage& m) {
    DoStateChange(0, TS(tsClearPending, tsEditPending, tsOLEDragPending, tsFrameworkDragPending));
    // Unless the tree showed its own menu on button up, the framework shows PopupMenu.
    if (!(FStates & TS(tsPopupMenuShown)) && PopupMenu) {
        PopupMenu->PopupComponent = this;
        PopupMenu->Popup(MessagePoint(m.LParam));
    }
}

bool TBaseLazyTree::TimerMessage(TMessage& m) {
    switch (m.WParam) {
    case EditTimer:
        DoEdit();
        return true;
    case SearchTimer:
        DoStateChange(0, TS(tsIncrementalSearching));
        StopTimer(SearchTimer);
        FSearchBuffer.clear();
        FLastSearchNode = nullptr;
        return true;
    case ExpandTimer:
        DoDragExpand();
        return true;
    case ScrollTimerId:
        if (FStates & TS(tsScrollPending)) {
            Application().CancelHint();
            SetTimer(Handle(), ScrollTimerId, AutoScrollInterval);
            DoStateChange(TS(tsScrolling), TS(tsScrollPending));
        }
        DoTimerScroll();
        return true;
    }
    return false;
}

// What a button press hit and how the tree takes it, worked out once for the
// steps of HandleMouseDown.
struct TBaseLazyTree::TMouseClick {
    TLTSelectionOptions Sel;
    TLTMiscOptions Misc;
    TPoint Point;
    THitInfo Hit;
    PLazyNode Node = nullptr;
    THitPositions Positions = 0;
    TShiftState Shift = 0; // Shift and Ctrl; Alt is taken apart
    bool Alt = false;
    bool LabelHit = false, CellHit = false, AnyHit = false, NodeSelected = false;
    TColumnIndex NewColumn = NoColumn; // the column the click focuses
    bool ColumnChange = false;
    bool FullRowDrag = false, AutoDrag = false;
    bool MultiSelect() const { return Sel & toMultiSelect; }
};

void TBaseLazyTree::HandleMouseDown(TMessage& message, const THitInfo& hitInfo) {
    TMouseClick click{FOptions->SelectionOptions(), FOptions->MiscOptions(),
                      MessagePoint(message.LParam), hitInfo};
    if (FStates & TS(tsWheelPanning, tsWheelScrolling)) {
        StopWheelPanning();
        return;
    }
    CancelPendingEdit();
    if ((FStates & TS(tsEditing)) && !DoEndEdit()) return;

    if (HandleAllocated() && GetFocus() != WindowHandle() && Enabled && Visible()) {
        SetFocus(WindowHandle());
        GetHitTestInfoAt(click.Point.X, click.Point.Y, true, click.Hit);
    }
    ClassifyClick(click, message.WParam);
    if (message.Msg == WM_LBUTTONDOWN && (click.Misc & toNodeHeightResize) &&
        StartHeightTracking(click.Hit))
        return;
    click.FullRowDrag = (click.Misc & toFullRowDrag) && click.Node;
    click.AutoDrag = ClickStartsDrag(click);

    PLazyNode node = click.Node;
    if ((click.Positions & hiOnItemButton) && node && (node->States & vsHasChildren)) {
        ToggleNode(node);
        return;
    }
    if (click.Positions & hiOnItemCheckbox) {
        if (node) PressCheckBox(node, tsMouseCheckPending);
        return;
    }
    SelectOnMouseDown(click, message.Msg == WM_RBUTTONDOWN);
    ArmEditOnClick(click);
    if (StartRubberBand(click) && !click.CellHit) return;
    FLastClickPos = click.Point;
    if (click.AnyHit && DoFocusChanging(FFocusedNode, node, FFocusedColumn, click.NewColumn))
        FocusClickedNode(click);
    if (click.AutoDrag && click.AnyHit &&
        (FStates & TS(tsLeftButtonDown, tsMiddleButtonDown, tsRightButtonDown)) &&
        !(FStates & TS(tsOLEDragging)) && !TCustomControl::Dragging())
        BeginDrag(false);
}

// A click or double click drops an edit that was about to start.
void TBaseLazyTree::CancelPendingEdit() {
    if (FStates & TS(tsEditPending)) {
        StopTimer(EditTimer);
        DoStateChange(0, TS(tsEditPending));
    }
}

// The column the click focuses, the keys held, and whether the caption or the
// cell was hit.
void TBaseLazyTree::ClassifyClick(TMouseClick& click, WPARAM keys) {
    const TLTSelectionOptions sel = click.Sel;
    const TLTMiscOptions misc = click.Misc;
    click.Node = click.Hit.HitNode;
    click.Positions = click.Hit.HitPositions;
    const THitPositions hp = click.Positions;
    FHeader->Columns().ClickIndex = click.Hit.HitColumn;

    click.NewColumn = FFocusedColumn;
    if ((hp & hiOnItemLabel) || (sel & toFullRowSelect) || (misc & toGridExtensions)) {
        // A click beside the focused column changes the column even where the
        // main column takes it back: no edit, and the focus change is reported.
        const bool change = click.Hit.HitColumn != FFocusedColumn;
        // Not a hidden main column: nothing of the node would show focused.
        TColumnIndex candidate =
            (sel & toExtendedFocus) ? click.Hit.HitColumn : FocusableMainColumn();
        if (change && FHeader->AllowFocus(candidate)) {
            click.NewColumn = candidate;
            click.ColumnChange = true;
        }
    }

    TShiftState shift = KeysToShift(keys) & (ssShift | ssAlt | ssCtrl);
    click.Alt = shift & ssAlt;
    click.Shift = shift & TShiftState(~ssAlt);
    click.LabelHit =
        !click.Alt && !(sel & toSimpleDrawSelection) && (hp & (hiOnItemLabel | hiOnNormalIcon));
    click.CellHit =
        !click.Alt && !click.LabelHit && click.Node &&
        !(hp & (hiOnItemButton | hiOnItemCheckbox)) &&
        ((sel & toFullRowSelect) || ((misc & toGridExtensions) && click.Hit.HitColumn > NoColumn));
    click.AnyHit = click.LabelHit || click.CellHit;
    click.NodeSelected = click.AnyHit && Selected(click.Node);
}

// Height tracking starts at a row's edge in a fixed column.
bool TBaseLazyTree::StartHeightTracking(const THitInfo& hit) {
    PLazyNode target = HeightSplitterNode(hit);
    if (!target) return false;
    FHeightTrackNode = target;
    FHeightTrackColumn = hit.HitColumn;
    TRect r = GetDisplayRect(target, NoColumn, false);
    FHeightTrackPoint = TPoint{r.Left, r.Top};
    DoStateChange(TS(tsNodeHeightTrackPending));
    return true;
}

// Whether dragging the mouse from here drags the node: the caption always may,
// a cell only with toFullRowDrag; outside an automatic drag the owner decides.
bool TBaseLazyTree::ClickStartsDrag(const TMouseClick& click) {
    const bool draggable = !click.CellHit || (click.Misc & toFullRowDrag);
    if (DragMode == dmAutomatic || (FStates & TS(tsOLEDragging, tsOLEDragPending)) ||
        TCustomControl::Dragging())
        return draggable;
    if (click.Node) return draggable && DoBeforeDrag(click.Node, click.Hit.HitColumn);
    return false;
}

// A plain click selects the clicked node alone (a selected one only once it is
// clear that no drag follows); a click beside the nodes clears the selection.
void TBaseLazyTree::SelectOnMouseDown(const TMouseClick& click, bool rightButton) {
    const bool multiSelect = click.MultiSelect();
    PLazyNode node = click.Node;
    if ((TotalCount() > 0 && click.Shift == 0) || FSelectionCount == 0) {
        PLazyNode levelNode = node ? node : GetFirstVisibleNoInit();
        FLastSelectionLevel = levelNode ? int(GetNodeLevel(levelNode)) : -1;
    }
    if (multiSelect && click.Shift == 0 && click.AnyHit && click.NodeSelected && click.AutoDrag)
        DoStateChange(TS(tsClearPending));
    if (SelectionLocked != 0) return;

    const bool rightPopup = rightButton && DoGetPopupMenu(node, click.Hit.HitColumn, click.Point);
    const bool clearBeside = !click.AnyHit && !click.FullRowDrag && multiSelect && click.Shift == 0;
    const bool clearOnNode = click.AnyHit &&
                             (!click.NodeSelected || (!click.AutoDrag && !rightPopup)) &&
                             (click.Shift == 0 || !multiSelect);
    if (!clearBeside && !clearOnNode) return;
    if (click.NodeSelected || (click.Alt && node && click.Hit.HitColumn == FHeader->MainColumn())) {
        const bool many = FSelectionCount > 1;
        InternalClearSelection();
        InternalAddToSelection(node, true);
        if (many) {
            Invalidate();
            Change(nullptr);
        }
    } else {
        ClearSelection();
    }
}

// A plain click on the caption of a node already selected arms the edit that
// the button's release starts.
void TBaseLazyTree::ArmEditOnClick(const TMouseClick& click) {
    if (GetFocus() == WindowHandle() &&
        ((click.Positions & hiOnItemLabel) ||
         ((click.Misc & toGridExtensions) && (click.Positions & hiOnItem))) &&
        click.NodeSelected && !click.ColumnChange && click.Shift == 0)
        DoStateChange(TS(tsEditPending));
}

// Outside a caption (and a full-row drag) of a multi-select tree the rubber band
// is pending from the point until the mouse moves far enough. True when it is.
bool TBaseLazyTree::StartRubberBand(const TMouseClick& click) {
    if ((click.Sel & toDisableDrawSelection) || click.LabelHit || click.FullRowDrag ||
        !click.MultiSelect())
        return false;
    SetCapture(Handle());
    DoStateChange(TS(tsDrawSelPending));
    FDrawSelShiftState = click.Shift;
    const TPoint p{click.Point.X + FEffectiveOffsetX, click.Point.Y - FOffsetY};
    FNewSelRect = TRect{p.X, p.Y, p.X, p.Y};
    FOldSelRect = FNewSelRect;
    return true;
}

// The clicked node and column take the focus; a plain click selects the node
// and sets the anchor, Shift or Ctrl extend or toggle the selection.
void TBaseLazyTree::FocusClickedNode(const TMouseClick& click) {
    PLazyNode node = click.Node;
    if (click.ColumnChange) {
        InvalidateColumn(FFocusedColumn);
        InvalidateColumn(click.NewColumn);
        FFocusedColumn = click.NewColumn;
    }
    // A docking drag moves the tree itself: no auto-scroll may run under it.
    if (DragKind == dkDock) {
        StopTimer(ScrollTimerId);
        DoStateChange(0, TS(tsScrolling, tsScrollPending));
    }
    PLazyNode lastFocused = FFocusedNode;
    const bool nodeChange = node != FFocusedNode;
    if (nodeChange) DoFocusNode(node, false);
    if (click.Shift == 0 || !click.MultiSelect()) {
        if (!Selected(node)) {
            AddToSelection(node);
            InvalidateNode(node);
        }
        if (click.Shift == 0) FRangeAnchor = node;
    } else {
        HandleClickSelection(lastFocused, node, click.Shift, click.AutoDrag);
    }
    if (nodeChange || click.ColumnChange) {
        ScrollIntoView(FFocusedNode, false,
                       !(FOptions->AutoOptions() & toDisableAutoscrollOnFocus));
        DoFocusChange(FFocusedNode, FFocusedColumn);
    }
}

void TBaseLazyTree::HandleMouseUp(WPARAM keys, const THitInfo& hitInfo) {
    if (GetCapture() == WindowHandle() && WindowHandle()) ReleaseCapture();
    if (FStates & TS(tsFrameworkDragPending)) return;
    if (FStates & TS(tsDrawSelPending, tsDrawSelecting)) {
        DoStateChange(0, TS(tsDrawSelPending, tsDrawSelecting, tsToggleFocusedSelection));
        Invalidate();
    }
    if (FStates & TS(tsClearPending)) {
        const bool focusedSelected = Selected(FFocusedNode);
        ClearSelection();
        if (focusedSelected) AddToSelection(FFocusedNode);
    }
    if ((FStates & TS(tsToggleFocusedSelection)) && hitInfo.HitNode == FFocusedNode &&
        FFocusedNode) {
        if (Selected(FFocusedNode))
            RemoveFromSelection(FFocusedNode);
        else
            AddToSelection(FFocusedNode);
        InvalidateNode(FFocusedNode);
    }
    DoStateChange(0, TS(tsToggleFocusedSelection, tsClearPending, tsDrawSelPending, tsOLEDragging,
                        tsOLEDragPending, tsScrolling, tsScrollPending));
    StopTimer(ScrollTimerId);

    if (FStates & TS(tsMouseCheckPending)) {
        DoStateChange(0, TS(tsMouseCheckPending));
        if (PLazyNode node = FCheckNode) {
            node->CheckState = NormalCheckState(node->CheckState);
            if ((hitInfo.HitPositions & hiOnItem) && hitInfo.HitNode == node)
                DoCheckClick(node, FPendingCheckState);
            InvalidateNode(node);
        }
        FCheckNode = nullptr;
    }
    TColumnIndex clickIndex = FHeader->Columns().ClickIndex;
    if (FHeader->IsValidColumn(clickIndex) && clickIndex == hitInfo.HitColumn)
        DoColumnClick(clickIndex, KeysToShift(keys));

    if (FStates & TS(tsEditPending)) {
        if ((hitInfo.HitPositions & hiOnItem) && hitInfo.HitNode == FFocusedNode && FFocusedNode &&
            CanEdit(FFocusedNode, hitInfo.HitColumn) && (FOptions->MiscOptions() & toEditOnClick)) {
            FEditColumn = FFocusedColumn;
            SetTimer(Handle(), EditTimer, EditDelay);
        } else {
            DoStateChange(0, TS(tsEditPending));
        }
    }
}

void TBaseLazyTree::HandleMouseDblClick(TMessage& message, const THitInfo& hitInfo) {
    const TLTMiscOptions misc = FOptions->MiscOptions();
    bool canEdit = !(FStates & TS(tsEditing)) && (misc & toEditOnDblClick);
    CancelPendingEdit();
    const bool editEnded = !(FStates & TS(tsEditing)) || DoEndEdit();
    if (editEnded && DoubleClickActs(message, hitInfo, misc)) canEdit = false;
    PLazyNode node = hitInfo.HitNode;
    if (canEdit && editEnded && node && node == FFocusedNode &&
        hitInfo.HitColumn == FFocusedColumn && CanEdit(FFocusedNode, hitInfo.HitColumn)) {
        DoStateChange(TS(tsEditPending));
        FEditColumn = FFocusedColumn;
        SetTimer(Handle(), EditTimer, EditDelay);
    }
}

// What a double click does besides the column's own double click: a row edge
// resets the row's height, a check box is pressed, a button toggles and, with
// toToggleOnDblClick, so does the node. True when it did one of these, so that
// no edit starts.
bool TBaseLazyTree::DoubleClickActs(TMessage& message, const THitInfo& hitInfo,
                                    TLTMiscOptions misc) {
    PLazyNode node = hitInfo.HitNode;
    const THitPositions hp = hitInfo.HitPositions;
    if (hitInfo.HitColumn == FHeader->Columns().ClickIndex)
        DoColumnDblClick(hitInfo.HitColumn, KeysToShift(message.WParam));
    PLazyNode heightNode = HeightSplitterNode(hitInfo);
    if (heightNode && (misc & toNodeHeightDblClickResize) &&
        DoNodeHeightDblClickResize(heightNode, hitInfo.HitColumn, KeysToShift(message.WParam),
                                   MessagePoint(message.LParam))) {
        SetNodeHeight(heightNode, FDefaultNodeHeight);
        Update();
        return true;
    }
    if (!node) return false;
    if (hp & hiOnItemCheckbox) {
        PressCheckBox(node, tsMouseCheckPending);
        return true;
    }
    if ((hp & hiOnItemButton) ||
        ((misc & toToggleOnDblClick) && ((hp & (hiOnItemLabel | hiOnNormalIcon | hiOnStateIcon)) ||
                                         (FOptions->SelectionOptions() & toFullRowSelect)))) {
        ToggleNode(node);
        return true;
    }
    return false;
}

// The node a pointer at client point (x, y) makes hot, or null.
PLazyNode TBaseLazyTree::HotNodeAt(int x, int y, THitInfo& info) {
    GetHitTestInfoAt(x, y, true, info);
    if ((info.HitPositions & (hiOnItemCheckbox | hiOnItemLabel)) ||
        (FOptions->SelectionOptions() & toFullRowSelect))
        return info.HitNode;
    return nullptr;
}

void TBaseLazyTree::HandleHotTrack(int x, int y) {
    THitInfo info;
    PLazyNode newNode = HotNodeAt(x, y, info);
    const bool invalidate =
        FOptions->PaintOptions() & toHotTrack || (FOptions->MiscOptions() & toCheckSupport);
    const TColumnIndex newColumn = newNode ? info.HitColumn : NoColumn;
    bool changed = false;
    if (newNode != FCurrentHotNode || newColumn != FHotColumn) {
        DoHotChange(FCurrentHotNode, newNode);
        if (invalidate && FCurrentHotNode) InvalidateNode(FCurrentHotNode);
        FCurrentHotNode = newNode;
        FHotColumn = newColumn;
        changed = true;
    }
    const bool buttonHit = FCurrentHotNode && (info.HitPositions & hiOnItemButtonExact) &&
                           (FOptions->PaintOptions() & toHotTrack);
    const bool buttonChanged = buttonHit != FHotNodeButtonHit;
    FHotNodeButtonHit = buttonHit;
    if (FCurrentHotNode && ((changed && invalidate) || buttonChanged))
        InvalidateNode(FCurrentHotNode);
}

void TBaseLazyTree::MouseMove(TShiftState shift, int x, int y) {
    if (FStates & TS(tsNodeHeightTrackPending)) {
        Application().CancelHint();
        StopWheelPanning();
        for (uintptr_t id : {uintptr_t(1), uintptr_t(EditTimer), uintptr_t(3),
                             uintptr_t(ScrollTimerId), uintptr_t(SearchTimer)})
            StopTimer(id);
        FSearchBuffer.clear();
        FLastSearchNode = nullptr;
        DoStateChange(TS(tsNodeHeightTracking),
                      TS(tsEditPending, tsNodeHeightTrackPending, tsIncrementalSearching,
                         tsOLEDragPending, tsScrolling, tsScrollPending, tsFrameworkDragPending));
    }
    if (!(FStates & TS(tsDrawSelPending))) {
        if (FStates & TS(tsNodeHeightTracking)) {
            TPoint p{x, y};
            if (FHeightTrackNode && DoNodeHeightTracking(FHeightTrackNode, FHeightTrackColumn,
                                                         shift, FHeightTrackPoint, p)) {
                // The new height runs from the row's top (the track point) to the pointer.
                int height = y - FHeightTrackPoint.Y;
                if (height > 0) SetNodeHeight(FHeightTrackNode, uint32_t(height));
                Update();
            }
            return;
        }
        if ((FStates & TS(tsClearPending)) && !(FStates & TS(tsWheelPanning, tsWheelScrolling)) &&
            BeyondDragThreshold(FLastClickPos.X - x, FLastClickPos.Y - y, true))
            DoStateChange(0, TS(tsClearPending));
        if ((FStates & TS(tsOLEDragPending)) && (std::abs(FLastClickPos.X - x) >= FDragThreshold ||
                                                 std::abs(FLastClickPos.Y - y) >= FDragThreshold)) {
            DoDragging(FLastClickPos);
            return;
        }
        DoAutoScroll(x, y);
        if (!(FStates & TS(tsDrawSelecting))) {
            if ((FOptions->PaintOptions() & toHotTrack) ||
                (FOptions->MiscOptions() & toCheckSupport) || FCurrentHotNode)
                HandleHotTrack(x, y);
        } else if (CalculateSelectionRect(x, y)) {
            HandleDrawSelection();
            Invalidate();
        }
        return;
    }
    // A pending rubber band starts once it is larger than the drag threshold.
    if (CalculateSelectionRect(x, y)) Invalidate();
    TRect r = FNewSelRect;
    if (BeyondDragThreshold(r.Right - r.Left, r.Bottom - r.Top, false)) {
        if (FStates & TS(tsClearPending)) {
            DoStateChange(0, TS(tsClearPending));
            ClearSelection();
        }
        DoStateChange(TS(tsDrawSelecting), TS(tsDrawSelPending));
        FOldSelRect = TRect{}; // nothing was covered yet
        HandleDrawSelection();
        Invalidate();
    }
}

// --- rubber band ---------------------------------------------------------------------------------

namespace {

TRect Normalized(TRect r) {
    if (r.Left > r.Right) std::swap(r.Left, r.Right);
    if (r.Top > r.Bottom) std::swap(r.Top, r.Bottom);
    return r;
}

} // namespace

bool TBaseLazyTree::CalculateSelectionRect(int x, int y) {
    if (FStates & TS(tsDrawSelecting)) FOldSelRect = FNewSelRect;
    const TRect client = ClientRect();
    const int maxX = std::max(client.Width(), RangeX()), maxY = std::max(client.Height(), RangeY());
    TRect r = FNewSelRect;
    r.Right = std::clamp(x + FEffectiveOffsetX, 0, maxX);
    r.Bottom = std::clamp(y - FOffsetY, 0, maxY);
    const bool changed = r.Left != FNewSelRect.Left || r.Top != FNewSelRect.Top ||
                         r.Right != FNewSelRect.Right || r.Bottom != FNewSelRect.Bottom;
    FNewSelRect = r;
    return changed;
}

bool TBaseLazyTree::HandleDrawSelection() {
    if (!FRoot || FRoot->TotalCount <= 2 || !(FStates & TS(tsDrawSelecting))) return false;
    // (The root counts itself; more than one node besides it is needed.)
    const TRect oldRect = Normalized(FOldSelRect), newRect = Normalized(FNewSelRect);
    FTempNodeCount = 0;
    TColumnIndex main = FHeader->MainColumn();
    TAlignment alignment = FAlignment;
    int nodeLeft = 0, maxValue = ClientRect().Width();
    if (FHeader->UseColumns() && FHeader->IsValidColumn(main)) {
        TLazyTreeColumn& c = FHeader->Columns()[main];
        alignment = c.Alignment();
        int left = 0, right = 0;
        FHeader->Columns().GetColumnBounds(main, left, right);
        nodeLeft = left + FEffectiveOffsetX; // in tree terms, as the rectangles are
        maxValue = nodeLeft + c.Width();
    }
    TBiDiMode bidi = BiDiMode;
    if (FHeader->UseColumns() && FHeader->IsValidColumn(main))
        bidi = FHeader->Columns()[main].BiDiMode();
    const bool changed =
        bidi == bdLeftToRight
            ? CollectSelectedNodesLTR(main, nodeLeft, alignment, oldRect, newRect, maxValue)
            : CollectSelectedNodesRTL(main, nodeLeft, alignment, oldRect, newRect, maxValue);
    if (changed) {
        PackSelection();
        if (FTempNodeCount > 0) {
            std::vector<PLazyNode> added(FTempNodeCache.begin(),
                                         FTempNodeCache.begin() + FTempNodeCount);
            InternalAddToSelection(std::move(added), false);
        }
        ClearTempCache();
        Change(nullptr);
    }
    return changed;
}

namespace {

// The caption's edges in a row of the rubber band. Start is where the text
// begins in reading order (after indent, check box and images), Limit the
// farthest the cell (with its span) reaches; Width is the text's measured
// width, or -1 when it was not measured and the caption is taken to fill the
// cell. The alignment is the column's as set, left meaning "at the start"
// only when reading left to right.
struct TCaptionEdges {
    int Left, Right;
};

TCaptionEdges CaptionEdges(int start, int limit, int width, TAlignment alignment,
                           bool rightToLeft) {
    const int dir = rightToLeft ? -1 : 1;
    int nearEdge = start, farEdge = limit;
    if (width >= 0 && width < dir * (limit - start)) {
        if (alignment == taLeftJustify) {
            farEdge = start + dir * width;
        } else if (alignment == taRightJustify) {
            nearEdge = limit - dir * width;
        } else {
            const int left = (start + limit - width) / 2;
            return {left, left + width};
        }
    }
    return rightToLeft ? TCaptionEdges{farEdge, nearEdge} : TCaptionEdges{nearEdge, farEdge};
}

} // namespace

bool TBaseLazyTree::CollectSelectedNodesLTR(int mainColumn, int nodeLeft, TAlignment alignment,
                                            TRect oldRect, TRect newRect, int maxValue) {
    return CollectSelectedNodes(false, mainColumn, nodeLeft, alignment, oldRect, newRect, maxValue);
}

// The mirror image: the content runs leftwards from the cell's right edge.
bool TBaseLazyTree::CollectSelectedNodesRTL(int mainColumn, int nodeLeft, TAlignment alignment,
                                            TRect oldRect, TRect newRect, int maxValue) {
    return CollectSelectedNodes(true, mainColumn, nodeLeft, alignment, oldRect, newRect, maxValue);
}

// The rows between the two rectangles' extremes whose captions lie in exactly
// one of them change: with Ctrl they turn over, else a row now inside goes to
// the cache (added to the selection afterwards) and one now outside leaves the
// selection. Right to left every horizontal step is mirrored.
bool TBaseLazyTree::CollectSelectedNodes(bool rightToLeft, int mainColumn, int nodeLeft,
                                         TAlignment alignment, TRect oldRect, TRect newRect,
                                         int maxValue) {
    const int dir = rightToLeft ? -1 : 1;
    const int minY = std::min(oldRect.Top, newRect.Top),
              maxY = std::max(oldRect.Bottom, newRect.Bottom);
    const bool withCtrl = FDrawSelShiftState & ssCtrl;
    const bool simple = FOptions->SelectionOptions() & toSimpleDrawSelection;
    const bool autoSpan = FHeader->UseColumns() && (FOptions->AutoOptions() & toAutoSpanColumns);
    // A caption is measured unless it starts within both rectangles' near sides
    // and is aligned to its start.
    auto startsBefore = [&](int start, const TRect& r) {
        return rightToLeft ? start > r.Right : start < r.Left;
    };

    int top = 0;
    PLazyNode node = GetNodeAt(0, minY, false, top);
    if (!node) return false;
    int level = int(GetNodeLevel(node));
    const int indents = level + ((FOptions->PaintOptions() & toShowRoot) ? 1 : 0);
    int contentStart =
        (rightToLeft ? maxValue : nodeLeft) + dir * (indents * int(FIndent) + FMargin);
    bool result = false;
    for (;;) {
        const int start = contentStart + dir * LeadingImagesWidth(node, mainColumn);
        const int nextTop = top + int(GetNodeHeight(node));
        bool inOld, inNew;
        if (simple) {
            inOld = nextTop > oldRect.Top && top < oldRect.Bottom;
            inNew = nextTop > newRect.Top && top < newRect.Bottom;
        } else {
            // The caption runs on into the empty cells after it (before it, reading leftwards).
            const int span =
                autoSpan ? AutoSpanWidth(node, mainColumn, !rightToLeft, rightToLeft ? 2 : 1) : 0;
            const int limit = (rightToLeft ? nodeLeft : maxValue) + dir * span;
            int width = -1;
            if (startsBefore(start, oldRect) || startsBefore(start, newRect) ||
                alignment != taLeftJustify)
                width = DoGetNodeWidth(node, mainColumn, nullptr);
            const TCaptionEdges text = CaptionEdges(start, limit, width, alignment, rightToLeft);
            auto in = [&](const TRect& r) {
                return text.Right >= r.Left && r.Right >= text.Left && nextTop > r.Top &&
                       top < r.Bottom;
            };
            inOld = in(oldRect);
            inNew = in(newRect);
        }
        if (inOld != inNew) {
            result = true;
            if (withCtrl ? !(node->States & vsSelected) : inNew)
                InternalCacheNode(node);
            else
                InternalRemoveFromSelection(node);
        }
        PLazyNode next = GetNextVisibleNoInit(node);
        if (!next || nextTop > maxY) break;
        int nextLevel = int(GetNodeLevel(next));
        contentStart += dir * (nextLevel - level) * int(FIndent);
        level = nextLevel;
        node = next;
        top = nextTop;
    }
    return result;
}

// The room the check box, the normal and the state image take before a
// node's caption in Column (each with its 2-pixel gap). The band measures with
// the tree's own image lists, not a list a node may be given for painting.
int TBaseLazyTree::LeadingImagesWidth(PLazyNode node, TColumnIndex column) {
    int width = 0;
    if ((FOptions->MiscOptions() & toCheckSupport) && CheckImages && node->CheckType != ctNone)
        width += CheckImages->Width() + 2;
    bool ghosted = false;
    int index = -1;
    if (FImages) {
        DoGetImageIndex(node, ikNormal, column, ghosted, index);
        if (index > -1) width += FImages->Width() + 2;
    }
    index = -1;
    if (FStateImages) {
        DoGetImageIndex(node, ikState, column, ghosted, index);
        if (index > -1) width += FStateImages->Width() + 2;
    }
    return width;
}

} // namespace nuq

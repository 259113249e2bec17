// Dragging nodes: starting an OLE drag from the selection, and the tree as
// the drop target of a drag (drop mode, drop target node, expanding a node
// hovered over, scrolling near the edges, the drop itself).

#include "treeview/LazyTrees.h"

#include "platform/ScopeGuard.h"

#include <algorithm>

namespace nuq {

namespace {

constexpr DWORD ScrollEffectFlag = 0x80000000;

} // namespace

// --- starting a drag -------------------------------------------------------------------------

void TBaseLazyTree::BeginDrag(bool immediate, int threshold) {
    if (DragType != dtOLE) {
        DoStateChange(TS(tsFrameworkDragPending));
        TCustomControl::BeginDrag(immediate, threshold);
        return;
    }
    if (FStates & TS(tsOLEDragging)) return;
    FDragThreshold = threshold < 0 ? GetSystemMetrics(SM_CXDRAG) : threshold;
    if (immediate)
        DoDragging(FLastClickPos);
    else
        DoStateChange(TS(tsOLEDragPending));
}

bool TBaseLazyTree::Dragging() const {
    return (FStates & TS(tsOLEDragging, tsOLEDragPending)) || TCustomControl::Dragging();
}

HRESULT TBaseLazyTree::DragAndDrop(DWORD allowedEffects, IDataObject* dataObject,
                                   DWORD& dragEffect) {
    return ::nuq::DoDragDrop(dataObject, DragManager(), allowedEffects, dragEffect);
}

void TBaseLazyTree::DoDragging(TPoint p) {
    if (FCurrentHotNode) {
        InvalidateNode(FCurrentHotNode);
        FCurrentHotNode = nullptr;
    }
    if (FFocusedNode && !Selected(FFocusedNode)) {
        AddToSelection(FFocusedNode);
        InvalidateNode(FFocusedNode);
    }
    Update();
    FDragSelection = GetSortedSelection(true);
    FDroppedOnSelf = false;
    DoStateChange(TS(tsOLEDragging), TS(tsOLEDragPending, tsClearPending));
    // However the drag ends, it leaves no dragged nodes and no drag states behind.
    TScopeExit endDrag([this] {
        FDragSelection.clear();
        DoStateChange(0,
                      TS(tsOLEDragging, tsLeftButtonDown, tsMiddleButtonDown, tsRightButtonDown));
    });
    DWORD effect = DROPEFFECT_NONE;
    {
        TScopeExit hidePicture([this] { FDragImage->EndDrag(); });
        std::shared_ptr<IDataObject> data = DragManager()->GetDataObject();
        if (CanShowDragImage()) PrepareDragImage(p, data.get());
        FLastDropMode = dmOnNode;
        DragAndDrop(DragOperationsToEffects(), data.get(), effect);
        DragManager()->ForceDragLeave();
        // The framework's end-drag notice, as its own drags give; the tree's
        // own end-drag steps are for those drags only.
        TPoint at;
        GetCursorPos(at);
        if (WindowHandle()) MapWindowPoints(0, WindowHandle(), &at, 1);
        TCustomControl::DoEndDrag(this, at.X, at.Y);
    }
    // The loop took the button's release, so the tree never sees it go up.
    if (GetCapture() == WindowHandle() && WindowHandle()) ReleaseCapture();
    // Dropped on this tree, the nodes were moved in place: nothing is left to delete.
    if (effect == DROPEFFECT_MOVE && (FOptions->AutoOptions() & toAutoDeleteMovedNodes) &&
        !FDroppedOnSelf && !FDragSelection.empty()) {
        TUpdateScope update(*this);
        for (PLazyNode n : FDragSelection) DeleteNode(n);
    }
}

void TBaseLazyTree::PrepareDragImage(TPoint hotSpot, IDataObject* dataObject) {
    // The dragged rows that show, at most DragWidth x DragHeight around the hot spot.
    const TColumnIndex column = DragImageKind == diMainColumnOnly && FHeader->UseColumns()
                                    ? FHeader->MainColumn()
                                    : NoColumn;
    const TRect client = ClientRect();
    TRect r;
    for (PLazyNode n : FDragSelection) {
        if (!FullyVisible(n)) continue;
        TRect cell = GetDisplayRect(n, column, false);
        if (cell.Bottom <= client.Top || cell.Top >= client.Bottom) continue;
        r = UnionRects(r, cell);
    }
    r = IntersectRects(r, client);
    if (r.IsEmpty()) return;
    if (r.Width() > DragWidth) {
        r.Left = std::clamp(hotSpot.X - DragWidth / 2, r.Left, r.Right - DragWidth);
        r.Right = r.Left + DragWidth;
    }
    if (r.Height() > DragHeight) {
        r.Top = std::clamp(hotSpot.Y - DragHeight / 2, r.Top, r.Bottom - DragHeight);
        r.Bottom = r.Top + DragHeight;
    }
    TBitmap image(r.Width(), r.Height());
    image.Canvas().Brush.Color = Color;
    image.Canvas().FillRect({0, 0, r.Width(), r.Height()});
    PaintTree(image.Canvas(), r.Offset(-FOffsetX, -FOffsetY), {0, 0},
              poColumnColor | poDrawSelection | poSelectedOnly);
    TPoint position{r.Left, r.Top}, hot = hotSpot;
    MapWindowPoints(WindowHandle(), 0, &position, 1);
    MapWindowPoints(WindowHandle(), 0, &hot, 1);
    FDragImage->PrepareDrag(image, position, hot, dataObject);
}

TLTDragImage* TBaseLazyTree::SourceDragImage(TBaseLazyTree* source) {
    if (!source || DragManager()->DropTargetHelperSupported()) return nullptr;
    return &source->DragImage();
}

// --- the drop target ---------------------------------------------------------------------------

TShiftState TBaseLazyTree::DragShift(DWORD keyState) const {
    TShiftState shift = 0;
    if (keyState & MK_SHIFT) shift |= ssShift;
    if (keyState & MK_CONTROL) shift |= ssCtrl;
    if (keyState & MK_ALT) shift |= ssAlt;
    if (FStates & TS(tsLeftButtonDown)) shift |= ssLeft;
    if (FStates & TS(tsMiddleButtonDown)) shift |= ssMiddle;
    if (FStates & TS(tsRightButtonDown)) shift |= ssRight;
    return shift;
}

DWORD TBaseLazyTree::SuggestDropEffect(TBaseLazyTree* source, TShiftState shift, TPoint,
                                       DWORD allowedEffects) {
    auto allowedOr = [&](DWORD e, DWORD otherwise) { return (allowedEffects & e) ? e : otherwise; };
    DWORD result = allowedOr(source == this ? DROPEFFECT_MOVE : DROPEFFECT_COPY, allowedEffects);
    const TShiftState keys = shift & (ssShift | ssCtrl | ssAlt);
    if (keys == ssShift)
        result = allowedOr(DROPEFFECT_MOVE, result);
    else if (keys == ssCtrl)
        result = allowedOr(DROPEFFECT_COPY, result);
    else if (keys == (ssShift | ssCtrl) || ((keys & ssAlt) && !(keys & ssCtrl)))
        result = allowedOr(DROPEFFECT_LINK, result);
    return result;
}

TDropMode TBaseLazyTree::DropModeAt(const THitInfo& hit, TPoint pt) const {
    if (!hit.HitNode) return dmNowhere;
    if ((hit.HitPositions & (hiOnItemLabel | hiOnNormalIcon | hiOnStateIcon)) ||
        !(FOptions->PaintOptions() & toShowDropmark))
        return dmOnNode;
    TRect r = const_cast<TBaseLazyTree*>(this)->GetDisplayRect(hit.HitNode, NoColumn, false);
    return pt.Y < (r.Top + r.Bottom) / 2 ? dmAbove : dmBelow;
}

HRESULT TBaseLazyTree::DragEnter(DWORD keyState, IDataObject*, TPoint pt, DWORD& effect) {
    TShiftState shift = DragShift(keyState);
    TPoint p = pt;
    MapWindowPoints(0, WindowHandle(), &p, 1);
    TBaseLazyTree* source = DragManager()->DragSource();
    effect = SuggestDropEffect(source, shift, p, effect);
    if (!DoDragOver(source, shift, dsDragEnter, p, FLastDropMode, effect)) {
        effect = DROPEFFECT_NONE;
        return S_OK;
    }
    THitInfo hit;
    GetHitTestInfoAt(p.X, p.Y, true, hit);
    FDropTargetNode = hit.HitNode;
    FLastDropMode = DropModeAt(hit, p);
    if (FDropTargetNode) InvalidateNode(FDropTargetNode);
    if (TLTDragImage* image = SourceDragImage(source)) image->ShowPicture();
    // The node entered first expands on hover like any other: drag-over
    // starts the timer only when the target changes.
    StartDropExpand();
    return S_OK;
}

bool TBaseLazyTree::DragScroll(TPoint p, bool treeSource, TLTDragImage* shownImage) {
    // Near an edge the tree scrolls, as far as its range goes.
    if (!(FOptions->AutoOptions() & toAutoScroll)) return false;
    const TRect client = ClientRect();
    TScrollDirections directions = DetermineScrollDirections(p.X, p.Y);
    int dx = 0, dy = 0;
    if ((directions & sdUp) && FOffsetY < 0)
        dy = std::min<int>(FScrollBarOptions->VerticalIncrement, client.Height());
    if ((directions & sdDown) && client.Height() - FOffsetY < RangeY())
        dy = -std::min<int>(FScrollBarOptions->VerticalIncrement, client.Height());
    if ((directions & sdLeft) && FEffectiveOffsetX < 0) dx = FScrollBarOptions->HorizontalIncrement;
    if ((directions & sdRight) && client.Width() + FEffectiveOffsetX < RangeX())
        dx = -FScrollBarOptions->HorizontalIncrement;
    if (UseRightToLeftAlignment()) dx = -dx;
    unsigned options = DefaultScrollUpdateFlags;
    if (!DragManager()->DropTargetHelperSupported() && treeSource) options = suoUpdateNCArea;
    if (!(dx || dy) || !DoSetOffsetXY({FOffsetX + dx, FOffsetY + dy}, options)) return false;
    // Only the non-client part was updated: the rows and the drop mark are painted anew.
    if (shownImage)
        UpdateWindowAndDragImage(this, ClientRect(), true, true, shownImage);
    else // the scroll bars too: they were not repainted either
        RedrawWindow(WindowHandle(), nullptr, RDW_INVALIDATE | RDW_FRAME);
    return true;
}

HRESULT TBaseLazyTree::DragOver(TBaseLazyTree* source, DWORD keyState, TDragState state, TPoint pt,
                                DWORD& effect) {
    TPoint p = pt;
    MapWindowPoints(0, WindowHandle(), &p, 1);
    // A tree's picture shown over this window takes what the window paints
    // into its background copy; the screen beneath is not the window's.
    TLTDragImage* image = SourceDragImage(source);
    const bool underImage = image && image->IsVisible();

    const bool scrolled = DragScroll(p, source != nullptr, underImage ? image : nullptr);
    TShiftState shift = DragShift(keyState);
    THitInfo hit;
    GetHitTestInfoAt(p.X, p.Y, true, hit);
    if ((FOptions->MiscOptions() & toReportMode) &&
        (!(hit.HitPositions & (hiOnItemLabel | hiOnNormalIcon | hiOnStateIcon)) ||
         hit.HitColumn != FHeader->MainColumn()))
        hit.HitNode = nullptr;
    TDropMode mode = DropModeAt(hit, p);
    if (hit.HitNode != FDropTargetNode) {
        StopTimer(ExpandTimer);
        PLazyNode old = FDropTargetNode;
        FDropTargetNode = hit.HitNode;
        if (FFocusedColumn < 0) FFocusedColumn = FHeader->MainColumn();
        const TRect rows = UnionRects(InvalidateNode(old), InvalidateNode(FDropTargetNode));
        if (underImage) UpdateWindowAndDragImage(this, rows, false, true, image);
        StartDropExpand();
    } else if (mode != FLastDropMode && FDropTargetNode) {
        InvalidateNode(FDropTargetNode);
    }
    FLastDropMode = mode;
    // The picture sits on the screen over this window: it goes away while the
    // window repaints and is put back over what was painted.
    const bool reshow = image && image->IsVisible();
    if (reshow) image->HidePicture();
    Update();
    if (reshow) image->ShowPicture();
    if (image) image->DragTo(pt, false);

    effect = SuggestDropEffect(source, shift, p, effect);
    if (!DoDragOver(source, shift, state, p, mode, effect)) effect = DROPEFFECT_NONE;
    if (scrolled) effect |= ScrollEffectFlag;
    return S_OK;
}

HRESULT TBaseLazyTree::DragDrop(IDataObject* data, DWORD keyState, TPoint pt, DWORD& effect) {
    StopTimer(ExpandTimer);
    StopTimer(ScrollTimerId);
    DoStateChange(0, TS(tsScrolling, tsScrollPending));
    TBaseLazyTree* source = DragManager()->DragSource();
    if (TLTDragImage* image = SourceDragImage(source)) image->HidePicture();
    HRESULT result = E_FAIL;
    DragOver(source, keyState, dsDragMove, pt, effect);
    if (TLTDragImage* image = SourceDragImage(source)) image->HidePicture();
    if (effect & ~ScrollEffectFlag) {
        effect &= ~ScrollEffectFlag;
        TPoint p = pt;
        MapWindowPoints(0, WindowHandle(), &p, 1);
        std::vector<WORD> formats;
        std::shared_ptr<IEnumFORMATETC> e;
        if (data && data->EnumFormatEtc(DATADIR_GET, e) == S_OK && e) {
            TFormatEtc f;
            DWORD fetched = 0;
            while (e->Next(1, &f, &fetched) == S_OK && fetched == 1) formats.push_back(f.cfFormat);
        }
        if (source == this) FDroppedOnSelf = true;
        // The target's row as it is now: the drop may move it elsewhere.
        if (FDropTargetNode) InvalidateNode(FDropTargetNode);
        DoDragDrop(source, data, formats, DragShift(keyState), p, effect, FLastDropMode);
        result = S_OK;
    } else {
        effect = DROPEFFECT_NONE;
    }
    if (FDropTargetNode) InvalidateNode(FDropTargetNode);
    FDropTargetNode = nullptr;
    return result;
}

void TBaseLazyTree::DragLeave() {
    StopTimer(ExpandTimer);
    if (TLTDragImage* image = SourceDragImage(DragManager()->DragSource())) image->HidePicture();
    if (FDropTargetNode) InvalidateNode(FDropTargetNode);
    FDropTargetNode = nullptr;
    Update();
    DWORD effect = DROPEFFECT_NONE;
    DoDragOver(nullptr, 0, dsDragLeave, TPoint{0, 0}, FLastDropMode, effect);
}

void TBaseLazyTree::StartDropExpand() {
    if ((FOptions->AutoOptions() & toAutoDropExpand) && FDropTargetNode &&
        (FDropTargetNode->States & vsHasChildren))
        SetTimer(Handle(), ExpandTimer, AutoExpandDelay);
}

void TBaseLazyTree::DoDragExpand() {
    StopTimer(ExpandTimer);
    if (FDropTargetNode && (FDropTargetNode->States & vsHasChildren) &&
        !Expanded(FDropTargetNode)) {
        TLTDragImage* image = SourceDragImage(DragManager()->DragSource());
        const bool reshow = image && image->IsVisible();
        if (reshow) image->HidePicture();
        ToggleNode(FDropTargetNode);
        Update();
        if (reshow) image->ShowPicture();
    }
}

} // namespace nuq

// The header's mouse and keyboard handling: clicks, resizing a column by its
// border, resizing the header height, dragging a column to a new position,
// double clicks, the popup menu, the hover highlight and the cursor.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include <algorithm>

namespace nuq {

namespace {

enum : UINT {
    WM_NCRBUTTONDOWN = 0x00A4,
    WM_NCRBUTTONUP = 0x00A5,
    WM_NCRBUTTONDBLCLK = 0x00A6,
    WM_NCMBUTTONDOWN = 0x00A7,
    WM_NCMBUTTONUP = 0x00A8,
    WM_NCMBUTTONDBLCLK = 0x00A9,
};
constexpr TLTHeaderStates MouseStates = hsDragging | hsDragPending | hsColumnWidthTracking |
                                        hsColumnWidthTrackPending | hsHeightTracking |
                                        hsHeightTrackPending;
constexpr TLTHeaderStates TrackStates =
    hsColumnWidthTracking | hsColumnWidthTrackPending | hsHeightTracking | hsHeightTrackPending;

TPoint PointOf(LPARAM l) {
    return {int(int16_t(LoWord(uintptr_t(l)))), int(int16_t(HiWord(uintptr_t(l))))};
}

bool NonClient(UINT msg) {
    return msg >= WM_NCMOUSEMOVE && msg <= WM_NCMBUTTONDBLCLK;
}

} // namespace

// Non-client messages carry no key flags: the keys as they are now.
TShiftState TLTHeader::GetShiftState() const {
    return KeyShiftState();
}

bool TLTHeader::InHeader(TPoint p) {
    if (!FOwner->HandleAllocated()) return false;
    TPoint origin = ClientOrigin(FOwner->WindowHandle());
    return FOwner->HeaderRect().Offset(-origin.X, -origin.Y).Contains(p);
}

bool TLTHeader::InHeaderSplitterArea(TPoint p) {
    if (p.Y < -2 || p.Y > 2 || !(FOptions & hoVisible) || !FOwner->HandleAllocated()) return false;
    TPoint origin = ClientOrigin(FOwner->WindowHandle());
    TRect r = FOwner->HeaderRect().Offset(-origin.X, -origin.Y);
    r.Bottom += 2;
    return r.Contains(p);
}

bool TLTHeader::DetermineSplitterIndex(TPoint p) {
    TLazyTreeColumns& cols = *FColumns;
    cols.TrackedIndex = NoColumn;
    if (cols.Count() == 0) return false;
    int fixedWidth = cols.VisibleFixedWidth();
    int offset = FOwner->EffectiveOffsetX();
    int count = int(cols.FPositionToIndex.size());
    if (!FOwner->UseRightToLeftAlignment()) {
        int x = cols.TotalWidth() - offset;
        for (int pos = count - 1; pos >= 0; --pos) {
            TColumnIndex i = cols.FPositionToIndex[size_t(pos)];
            if (!cols.IsValidColumn(i)) continue;
            TLazyTreeColumn& c = cols[i];
            if (!(c.Options() & coVisible)) continue;
            bool fixed = c.Options() & coFixed;
            int edge = fixed ? x + offset : x;
            if (edge - 3 < p.X && p.X < edge + 5 && (fixed || p.X > fixedWidth) &&
                cols.CanResizeAtSplitter(p, i)) {
                cols.TrackedIndex = i;
                FTrackPoint = {c.Left() - (fixed ? 0 : offset), p.Y};
                return true;
            }
            x -= c.Width();
        }
    } else {
        int clientWidth = FOwner->ClientRect().Width(), range = cols.TotalWidth();
        int x = -offset + std::max(0, clientWidth - range);
        for (int pos = 0; pos < count; ++pos) {
            TColumnIndex i = cols.FPositionToIndex[size_t(pos)];
            if (!cols.IsValidColumn(i)) continue;
            TLazyTreeColumn& c = cols[i];
            if (!(c.Options() & coVisible)) continue;
            if (x - 5 < p.X && p.X < x + 3 && cols.CanResizeAtSplitter(p, i)) {
                cols.TrackedIndex = i;
                FTrackPoint = {x + c.Width(), p.Y};
                return true;
            }
            x += c.Width();
        }
    }
    return false;
}

bool TLTHeader::ColumnBorderHit(TPoint p) {
    if (!(FOptions & hoColumnResize) || !DetermineSplitterIndex(p)) return false;
    if (InHeader(p)) return true;
    // Below the header only the border between the fixed area and the scrolled columns counts.
    TLazyTreeColumns& cols = *FColumns;
    TColumnIndex track = cols.TrackedIndex;
    TColumnIndex next = cols.NextVisibleColumn(track);
    bool hit = (cols[track].Options() & coFixed) && cols.IsValidColumn(next) &&
               !(cols[next].Options() & coFixed) && p.Y <= FOwner->ContentHeight();
    if (!hit) cols.TrackedIndex = NoColumn;
    return hit;
}

bool TLTHeader::HandleMessage(TMessage& m) {
    switch (m.Msg) {
    case WM_SIZE:
        return HandleSize();
    case WM_LBUTTONDOWN:
    case WM_NCLBUTTONDOWN:
        return HandleLeftButtonDown(m);
    case WM_NCMBUTTONDOWN:
        return ReportButtonDown(m, mbMiddle);
    case WM_NCMBUTTONUP:
        return HandleMiddleButtonUp(m);
    case WM_NCRBUTTONDOWN:
        return ReportButtonDown(m, mbRight);
    case WM_NCRBUTTONUP:
        return HandleRightButtonUp(m);
    case WM_LBUTTONDBLCLK:
    case WM_NCLBUTTONDBLCLK:
    case WM_NCRBUTTONDBLCLK:
    case WM_NCMBUTTONDBLCLK:
        return HandleDoubleClick(m);
    case WM_LBUTTONUP:
    case WM_NCLBUTTONUP:
        return HandleLeftButtonUp(m);
    case WM_NCMOUSEMOVE:
        return HandleNonClientMouseMove(m);
    case WM_TIMER:
        return m.WParam == HeaderTimer && HandleHoverTimer(m);
    case WM_MOUSEMOVE:
        return HandleHeaderMouseMove(m);
    case WM_SETCURSOR:
        return HandleSetCursor(m);
    case WM_KEYDOWN:
    case WM_KILLFOCUS:
        if (m.Msg == WM_KEYDOWN && m.WParam != VK_ESCAPE) return false;
        return CancelMouseStates(m);
    default:
        return false;
    }
}

TPoint TLTHeader::ClientPointOf(const TMessage& m) const {
    // Non-client points are screen points; client ones are already in client coordinates.
    TPoint p = PointOf(m.LParam);
    HWND wnd = FOwner->WindowHandle();
    if (NonClient(m.Msg) && wnd) MapWindowPoints(0, wnd, &p, 1);
    return p;
}

bool TLTHeader::HandleSize() {
    if (FOwner->HasState(tsWindowCreating)) return false;
    if (FOptions & hoAutoResize) {
        FColumns->ApplyAutoSize(InvalidColumn, false);
        Invalidate(nullptr);
    } else if (!(FStates & hsScaling)) {
        RescaleHeader();
        Invalidate(nullptr);
    }
    return false;
}

bool TLTHeader::HandleLeftButtonDown(TMessage& m) {
    TBaseLazyTree& tree = *FOwner;
    HWND wnd = tree.WindowHandle();
    if (m.Msg == WM_LBUTTONDOWN && (tree.ComponentState & csDesigning)) return false;
    const TShiftState shift = GetShiftState();
    Application().CancelHint();
    tree.StopTimer(ScrollTimer);
    tree.StopTimer(TBaseLazyTree::EditTimer);
    tree.DoStateChange(0, TS(tsScrollPending, tsScrolling, tsEditPending));
    FDragStart = PointOf(m.LParam);
    if (m.Msg != WM_NCLBUTTONDOWN && wnd) MapWindowPoints(wnd, 0, &FDragStart, 1);
    TPoint p = ClientPointOf(m);
    bool consumed = false;
    bool heightHit = (FOptions & hoHeightResize) && InHeaderSplitterArea(p);
    bool borderHit = !heightHit && ColumnBorderHit(p);
    if (heightHit || borderHit) {
        FTrackStart = p;
        FColumns->HoverIndex = NoColumn;
        if (heightHit) {
            DoBeforeHeaderHeightTracking(shift);
            FStates |= hsHeightTrackPending;
        } else {
            DoBeforeColumnWidthTracking(FColumns->TrackedIndex, shift);
            FStates |= hsColumnWidthTrackPending;
        }
        SetCapture(wnd);
        m.Result = 0;
        consumed = true;
    } else if (InHeader(p)) {
        TColumnIndex c = FColumns->UpdateDownColumn(p);
        if ((FOptions & hoDrag) && IsValidColumn(c) && ((*FColumns)[c].Options() & coDraggable)) {
            FStates |= hsDragPending;
            SetCapture(wnd);
            consumed = true;
        }
    }
    if (InHeader(p)) tree.DoHeaderMouseDown(mbLeft, shift, p.X, p.Y + Height);
    return consumed;
}

bool TLTHeader::ReportButtonDown(const TMessage& m, TMouseButton button) {
    TPoint p = ClientPointOf(m);
    if (InHeader(p)) FOwner->DoHeaderMouseDown(button, GetShiftState(), p.X, p.Y + Height);
    return false;
}

bool TLTHeader::HandleMiddleButtonUp(const TMessage& m) {
    TPoint p = ClientPointOf(m);
    if (InHeader(p)) {
        FColumns->HandleHeaderClick(p, mbMiddle, true, false);
        FOwner->DoHeaderMouseUp(mbMiddle, GetShiftState(), p.X, p.Y + Height);
        FColumns->DownIndex = NoColumn;
    }
    return false;
}

bool TLTHeader::HandleRightButtonUp(TMessage& m) {
    TBaseLazyTree& tree = *FOwner;
    if (tree.ComponentState & csDesigning) return false;
    Application().CancelHint();
    TPoint p = ClientPointOf(m);
    if (!InHeader(p)) return false;
    FColumns->HandleHeaderClick(p, mbRight, true, false);
    tree.DoHeaderMouseUp(mbRight, GetShiftState(), p.X, p.Y + Height);
    FColumns->DownIndex = NoColumn;
    FColumns->TrackedIndex = NoColumn;
    TPoint headerPoint{p.X, p.Y + Height};
    TPopupMenu* menu =
        PopupMenu ? PopupMenu
                  : DoGetPopupMenu(FColumns->ColumnAtPoint(headerPoint, true), headerPoint);
    if (!menu) return false;
    tree.StopTimer(ScrollTimer);
    tree.StopTimer(HeaderTimer);
    // The menu takes the pointer: the caption under it shows hot no longer.
    const TColumnIndex hover = FColumns->HoverIndex;
    FColumns->HoverIndex = NoColumn;
    if (IsValidColumn(hover)) Invalidate(&(*FColumns)[hover]);
    tree.DoStateChange(0, TS(tsScrollPending, tsScrolling));
    menu->PopupComponent = &tree;
    menu->Popup(PointOf(m.LParam));
    m.Result = 0;
    return true;
}

bool TLTHeader::HandleDoubleClick(TMessage& m) {
    TPoint p = ClientPointOf(m);
    const TShiftState shift = GetShiftState();
    if ((FOptions & hoHeightDblClickResize) && InHeaderSplitterArea(p) && FDefaultHeight > 0) {
        // The double click resets the height: back to the default one.
        if (DoHeaderHeightDblClickResize(p, shift) && FDefaultHeight > 0) SetHeight(FDefaultHeight);
        return true;
    }
    bool left = m.Msg == WM_LBUTTONDBLCLK || m.Msg == WM_NCLBUTTONDBLCLK;
    if (left && (FOptions & hoDblClickResize) && ColumnBorderHit(p) &&
        FColumns->TrackedIndex >= 0) {
        TColumnIndex track = FColumns->TrackedIndex;
        if (DoColumnWidthDblClickResize(track, p, shift))
            AutoFitColumns(true, smaUseColumnOption, track, track);
        m.Result = 0;
        return true;
    }
    if (NonClient(m.Msg) && InHeader(p)) {
        TMouseButton button = m.Msg == WM_NCRBUTTONDBLCLK   ? mbRight
                              : m.Msg == WM_NCMBUTTONDBLCLK ? mbMiddle
                                                            : mbLeft;
        FColumns->HandleHeaderClick(p, button, true, true);
    }
    return false;
}

bool TLTHeader::HandleLeftButtonUp(TMessage& m) {
    TBaseLazyTree& tree = *FOwner;
    Application().CancelHint();
    TPoint p = ClientPointOf(m);
    const TShiftState shift = GetShiftState();
    bool hadState = FStates & MouseStates;
    if (hadState) {
        ReleaseCapture();
        // A drop ends like a click or a resize: the owner hears the button go up.
        if (FStates & hsDragging) DropDraggedColumn(m);
    }
    if (m.Msg == WM_NCLBUTTONUP) {
        FColumns->HandleHeaderClick(p, mbLeft, false, false);
        tree.DoHeaderMouseUp(mbLeft, shift, p.X, p.Y + Height);
    } else {
        if (FColumns->DownIndex >= 0) FColumns->HandleHeaderClick(p, mbLeft, false, false);
        if (hadState) tree.DoHeaderMouseUp(mbLeft, shift, p.X, p.Y + Height);
    }
    if (FColumns->TrackedIndex >= 0) {
        TColumnIndex track = FColumns->TrackedIndex;
        if (FStates & hsColumnWidthTracking) DoAfterColumnWidthTracking(track);
        if (IsValidColumn(track)) Invalidate(&(*FColumns)[track]);
        FColumns->TrackedIndex = NoColumn;
    }
    if (FColumns->DownIndex >= 0) {
        TColumnIndex down = FColumns->DownIndex;
        FColumns->DownIndex = NoColumn; // before the cell repaints, so that it shows released
        if (IsValidColumn(down)) Invalidate(&(*FColumns)[down]);
    }
    if (FStates & hsHeightTracking) DoAfterHeaderHeightTracking();
    FStates &= ~MouseStates;
    return hadState;
}

void TLTHeader::DropDraggedColumn(TMessage& m) {
    TBaseLazyTree& tree = *FOwner;
    HWND wnd = tree.WindowHandle();
    EndDrag();
    TLazyTreeColumns& cols = *FColumns;
    TPoint screen = PointOf(m.LParam);
    if (!NonClient(m.Msg) && wnd) MapWindowPoints(wnd, 0, &screen, 1);
    // The window on the screen: a child's window rectangle is in its parent's client.
    TRect window;
    GetWindowRect(wnd, window);
    TPoint origin{}, inset = ClientOrigin(wnd);
    MapWindowPoints(wnd, 0, &origin, 1);
    window = Bounds(origin.X - inset.X, origin.Y - inset.Y, window.Width(), window.Height());
    if (cols.IsValidColumn(cols.DropTarget) && cols.DropTarget != cols.DragIndex &&
        window.Contains(screen) && cols.IsValidColumn(cols.DragIndex)) {
        TLazyTreeColumn& dragged = cols[cols.DragIndex];
        int oldPosition = int(dragged.Position());
        int target = int(cols[cols.DropTarget].Position());
        bool wasLeft = oldPosition < target;
        int position = cols.DropOnLeft ? (wasLeft ? std::max(target - 1, 0) : target)
                                       : (wasLeft ? target : target + 1);
        dragged.SetPosition(TColumnPosition(position));
        tree.DoHeaderDragged(cols.DragIndex, oldPosition);
    } else {
        tree.DoHeaderDraggedOut(cols.DragIndex, screen);
    }
    cols.DropTarget = NoColumn;
    Invalidate(nullptr);
    FStates &= ~(hsDragging | hsDragPending);
    m.Result = 0;
}

bool TLTHeader::HandleNonClientMouseMove(const TMessage& m) {
    TPoint p = ClientPointOf(m);
    FOwner->DoHeaderMouseMove(GetShiftState(), p.X, p.Y + Height);
    if (InHeader(p)) {
        bool hoverChanged = FColumns->UpdateHoverColumn(p);
        if (hoverChanged ||
            (FColumns->DownIndex >= 0 && FColumns->DownIndex != FColumns->HoverIndex))
            SetTimer(FOwner->WindowHandle(), HeaderTimer, 50);
    }
    return false;
}

bool TLTHeader::HandleHoverTimer(TMessage& m) {
    HWND wnd = FOwner->WindowHandle();
    TPoint p;
    GetCursorPos(p);
    if (wnd) MapWindowPoints(0, wnd, &p, 1);
    bool inside = InHeader(p);
    if (inside && (FColumns->DownIndex < 0 ||
                   FColumns->DownIndex == FColumns->ColumnAtPoint({p.X, p.Y + Height}, true)))
        return true;
    KillTimer(wnd, HeaderTimer);
    FColumns->HoverIndex = NoColumn;
    FColumns->ClickIndex = NoColumn;
    FColumns->DownIndex = NoColumn;
    Invalidate(nullptr);
    m.Result = 0;
    return true;
}

bool TLTHeader::HandleSetCursor(TMessage& m) {
    TBaseLazyTree& tree = *FOwner;
    if ((tree.ComponentState & csDesigning) || (FStates & MouseStates)) {
        m.Result = 1;
        return true;
    }
    HWND wnd = tree.WindowHandle();
    TPoint p;
    GetCursorPos(p);
    if (wnd) MapWindowPoints(0, wnd, &p, 1);
    TCursor cursor = tree.Cursor;
    if (ColumnBorderHit(p))
        cursor = crHeaderSplit;
    else if ((FOptions & hoHeightResize) && InHeaderSplitterArea(p))
        cursor = crVertSplit;
    FColumns->TrackedIndex = NoColumn;
    tree.DoGetHeaderCursor(cursor);
    if (cursor == 0) return false; // the default cursor: the tree's own handling
    SetCursor(Screen().Cursor(cursor));
    m.Result = 1;
    return true;
}

bool TLTHeader::CancelMouseStates(TMessage& m) {
    if (FStates & hsDragging) {
        ReleaseCapture();
        EndDrag();
        FStates &= ~(hsDragging | hsDragPending);
        FColumns->DropTarget = NoColumn;
        Invalidate(nullptr);
        m.Result = 0;
        return true;
    }
    if (FStates & TrackStates) {
        ReleaseCapture();
        if (FStates & hsColumnWidthTracking) DoAfterColumnWidthTracking(FColumns->TrackedIndex);
        if (FStates & hsHeightTracking) DoAfterHeaderHeightTracking();
        FStates &= ~TrackStates;
        m.Result = 0;
        return true;
    }
    FStates &= ~TrackStates;
    return false;
}

bool TLTHeader::HandleHeaderMouseMove(TMessage& m) {
    TBaseLazyTree& tree = *FOwner;
    TPoint p = PointOf(m.LParam);
    TShiftState shift = GetShiftState();
    if (FStates & hsColumnWidthTrackPending) {
        tree.StopTimer(HeaderTimer);
        FStates = TLTHeaderStates((FStates & ~hsColumnWidthTrackPending) | hsColumnWidthTracking);
        return true;
    }
    if (FStates & hsHeightTrackPending) {
        tree.StopTimer(HeaderTimer);
        FStates = TLTHeaderStates((FStates & ~hsHeightTrackPending) | hsHeightTracking);
        return true;
    }
    if (FStates & hsColumnWidthTracking) {
        TColumnIndex track = FColumns->TrackedIndex;
        if (IsValidColumn(track) && DoColumnWidthTracking(track, shift, FTrackPoint, p)) {
            int width = tree.UseRightToLeftAlignment() ? FTrackPoint.X - p.X : p.X - FTrackPoint.X;
            (*FColumns)[track].SetWidth(width);
        }
        return true;
    }
    if (FStates & hsHeightTracking) {
        if (DoHeaderHeightTracking(p, shift)) SetHeight(Height + p.Y);
        return true;
    }
    if (FStates & hsDragPending) {
        if (!(FOptions & hoDrag) || !tree.DoHeaderDragging(FColumns->DownIndex)) return false;
        TPoint screen = p;
        MapWindowPoints(tree.WindowHandle(), 0, &screen, 1);
        if (std::abs(screen.X - FDragStart.X) <= GetSystemMetrics(SM_CXDRAG) &&
            std::abs(screen.Y - FDragStart.Y) <= GetSystemMetrics(SM_CYDRAG))
            return false;
        tree.StopTimer(HeaderTimer);
        TColumnIndex down = FColumns->DownIndex;
        FColumns->DownIndex = NoColumn;
        FColumns->HoverIndex = NoColumn;
        if (IsValidColumn(down)) Invalidate(&(*FColumns)[down]);
        PrepareDrag(screen, FDragStart);
        FStates = TLTHeaderStates((FStates & ~hsDragPending) | hsDragging);
        m.Result = 0;
        return true;
    }
    if (FStates & hsDragging) {
        TPoint screen = p;
        MapWindowPoints(tree.WindowHandle(), 0, &screen, 1);
        DragTo(screen);
        m.Result = 0;
        return true;
    }
    return false;
}

bool TLTHeader::DragTo(TPoint p) {
    TBaseLazyTree& tree = *FOwner;
    TLazyTreeColumns& cols = *FColumns;
    TPoint client = p;
    MapWindowPoints(0, tree.WindowHandle(), &client, 1);
    client.Y += Height;
    TColumnIndex c = cols.ColumnAtPoint(client, true);
    // Past the right end of the last column: dropped there it goes last.
    if (TColumnIndex last = cols.LastVisibleColumn();
        c == InvalidColumn && cols.IsValidColumn(last) && !tree.UseRightToLeftAlignment()) {
        int left, right;
        cols.GetColumnBounds(last, left, right);
        if (client.X >= right && client.Y >= 0 && client.Y <= tree.Height()) c = last;
    }
    bool needRepaint = c != InvalidColumn && c != cols.DropTarget;
    if (cols.IsValidColumn(c)) {
        int left, right;
        cols.GetColumnBounds(c, left, right);
        // A column that runs past the header's end is split where it shows, or its right
        // half could never be reached.
        right = std::min(right, tree.HeaderRect().Width());
        bool onLeft = client.X < (left + right) / 2;
        if (onLeft != cols.DropOnLeft) needRepaint = true;
        cols.DropOnLeft = onLeft;
    }
    if (needRepaint) {
        // The cells repaint at once: with the picture off them, so that what it
        // keeps of the screen under it is the header as it now is, not an old mark
        // it would put back when it moves or ends.
        FDragImage->HidePicture();
        TColumnIndex old = cols.DropTarget;
        cols.DropTarget = NoColumn;
        if (cols.IsValidColumn(old)) Invalidate(&cols[old]);
        cols.DropTarget = c;
        if (cols.IsValidColumn(c)) Invalidate(&cols[c]);
        FDragImage->ShowPicture();
    }
    FDragImage->DragTo(p, needRepaint);
    return needRepaint;
}

void TLTHeader::PrepareDrag(TPoint p, TPoint start) {
    TBaseLazyTree& tree = *FOwner;
    TLazyTreeColumns& cols = *FColumns;
    cols.DropTarget = NoColumn;
    TPoint s = start;
    MapWindowPoints(0, tree.WindowHandle(), &s, 1);
    s.Y += Height;
    cols.DragIndex = cols.ColumnAtPoint(s, true);
    if (!cols.IsValidColumn(cols.DragIndex)) return;
    // The image of the dragged cell; the drag image itself shows it. The cell is
    // painted where it shows, scrolled, so the bitmaps never grow past the header
    // however wide the columns left of it are.
    TLazyTreeColumn& c = cols[cols.DragIndex];
    int width = std::min(c.Width(), std::max(tree.Width(), 1));
    TBitmap image(width, Height);
    HDC dc = image.Canvas().Handle();
    HBRUSH b = CreateSolidBrush(ColorToRGB(clBtnFace));
    FillRect(dc, {0, 0, width, Height}, b);
    DeleteObject(b);
    // Right to left the collection paints every cell that much further right; the
    // rectangle starts as much further left, so the cell lands at its own left edge.
    const int shift = tree.RTLColumnShift(), shown = c.ScrolledLeft() + shift;
    TPoint old;
    SetWindowOrgEx(dc, c.ScrolledLeft(), 0, &old);
    int right = std::min(cols.TotalWidth(), tree.HeaderRect().Right);
    cols.PaintHeader(dc, {-tree.BorderWidth - shift, 0, right - tree.BorderWidth, Height},
                     -tree.EffectiveOffsetX());
    SetWindowOrgEx(dc, old.X, old.Y);
    // The picture starts where the cell shows, at the header's top, on the screen.
    TPoint at{shown + tree.BorderWidth, -Height};
    MapWindowPoints(tree.WindowHandle(), 0, &at, 1);
    FDragImage->Restriction = (FOptions & hoRestrictDrag) ? rmHorizontalOnly : rmNone;
    FDragImage->PrepareDrag(image, at, p, nullptr);
    FDragImage->ShowPicture();
}

void TLTHeader::EndDrag() {
    FDragImage->EndDrag();
}

} // namespace nuq

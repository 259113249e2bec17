// Scrolling: the offsets, the ranges behind them, the scroll bars that show
// them and bringing a node into view.

#include "treeview/LazyTrees.h"

#include "platform/ScopeGuard.h"

#include <algorithm>

namespace nuq {

namespace {

bool ShowsBar(TScrollStyle style, int bar) {
    return style == ssBoth || (bar == SB_HORZ ? style == ssHorizontal : style == ssVertical);
}

} // namespace

int TBaseLazyTree::RangeX() const {
    if (FHeader && FHeader->UseColumns()) return FHeader->Columns().TotalWidth();
    return FRangeX;
}

bool TBaseLazyTree::DoSetOffsetXY(TPoint value, unsigned options, const TRect* clipRect) {
    TRect client = ClientRect();
    // 64 bits: a huge negative request minus a range must not wrap.
    int64_t minX = std::min<int64_t>(0, int64_t(client.Width()) - RangeX());
    int64_t minY = std::min<int64_t>(0, int64_t(client.Height()) - RangeY());
    int x = int(std::clamp<int64_t>(value.X, minX, 0));
    int y = int(std::clamp<int64_t>(value.Y, minY, 0));
    int dx = x - FOffsetX, dy = y - FOffsetY;
    if (UseRightToLeftAlignment()) dx = -dx;
    if (dx == 0 && dy == 0) return false;

    FOffsetX = x;
    FOffsetY = y;
    // Whatever scrolled, a shown hint no longer sits over its text.
    Application().CancelHint();
    if (FStates & TS(tsHint)) CancelNodeHint();
    FEffectiveOffsetX =
        UseRightToLeftAlignment() ? std::max(0, RangeX() - client.Width() + FOffsetX) : -FOffsetX;

    if (FUpdateCount == 0 && HandleAllocated()) {
        HWND wnd = WindowHandle();
        // The framework drag's picture lies on the screen: moved with the rows it would smear.
        TDragObject* dragged = (FStates & TS(tsFrameworkDragging)) ? CurrentDragObject() : nullptr;
        if (dragged) dragged->HideDragImage();
        TScopeExit showPicture([dragged] {
            if (dragged) dragged->ShowDragImage();
        });
        if ((options & suoScrollClientArea) && !(FStates & TS(tsToggling))) {
            if ((FOptions->PaintOptions() & toShowBackground) && FBackground &&
                FBackground->Width() > 0) {
                // A fixed background cannot be moved with the rows.
                Invalidate();
            } else {
                int fixed = FHeader->UseColumns() ? FHeader->Columns().VisibleFixedWidth() : 0;
                if (fixed > 0 && dx != 0) {
                    TRect area = clipRect ? *clipRect : client;
                    if (UseRightToLeftAlignment())
                        area.Right = std::min(area.Right, client.Right - fixed);
                    else
                        area.Left = std::max(area.Left, fixed);
                    ScrollWindow(wnd, dx, 0, &area);
                    if (dy != 0) ScrollWindow(wnd, 0, dy, clipRect);
                } else {
                    ScrollWindow(wnd, dx, dy, clipRect);
                }
            }
        }
        if (options & suoUpdateNCArea) {
            bool repaintBars = options & suoRepaintScrollBars;
            bool horzBar = ShowsBar(FScrollBarOptions->ScrollBars(), SB_HORZ);
            if (dx != 0) {
                if ((options & suoRepaintHeader) && (FHeader->Options() & hoVisible))
                    FHeader->Invalidate(nullptr);
                if (!(FStates & TS(tsSizing)) && horzBar) UpdateHorizontalScrollBar(repaintBars);
            }
            if (dy != 0 && !(FStates & (TS(tsSizing) | TS(tsThumbTracking)))) {
                UpdateVerticalScrollBar(repaintBars);
                if (!FHeader->UseColumns() && !(FStates & TS(tsDrawSelecting)) && horzBar)
                    UpdateHorizontalScrollBar(repaintBars);
            }
        }
    }
    UpdateEditBounds(); // the editor is a window of its own: it moves with its cell
    // The rows moved under a pointer that did not: what it is over now is hot.
    TPoint pointer;
    GetCursorPos(pointer);
    if (HandleAllocated()) {
        MapWindowPoints(0, WindowHandle(), &pointer, 1);
        if (ClientRect().Contains(pointer)) {
            PLazyNode hot = FCurrentHotNode;
            HandleHotTrack(pointer.X, pointer.Y);
            if (hot != FCurrentHotNode) ChooseCursorAtRest();
        }
    }
    DoScroll(dx, dy);
    return true;
}

void TBaseLazyTree::SetOffsetX(int value) {
    DoSetOffsetXY({value, FOffsetY});
}

void TBaseLazyTree::SetOffsetY(int value) {
    DoSetOffsetXY({FOffsetX, value});
}

PLazyNode TBaseLazyTree::GetTopNode() {
    return GetNodeAt(0, 0);
}

PLazyNode TBaseLazyTree::GetBottomNode() {
    return GetNodeAt(0, ClientRect().Height() - 1);
}

void TBaseLazyTree::OpenAncestors(PLazyNode node) {
    for (PLazyNode run = node->Parent; run && run != FRoot; run = run->Parent)
        if (!(run->States & vsExpanded)) ToggleNode(run);
}

void TBaseLazyTree::SetTopNode(PLazyNode node) {
    if (!node || node == FRoot) return;
    OpenAncestors(node);
    TRect r = GetDisplayRect(node, FHeader->MainColumn(), true);
    SetOffsetY(FOffsetY - r.Top);
}

void TBaseLazyTree::SetBottomNode(PLazyNode node) {
    if (!node || node == FRoot) return;
    OpenAncestors(node);
    TRect r = GetDisplayRect(node, FHeader->MainColumn(), true);
    DoSetOffsetXY({FOffsetX, ClientRect().Height() + FOffsetY - r.Top - int(GetNodeHeight(node))},
                  suoRepaintScrollBars | suoUpdateNCArea);
}

void TBaseLazyTree::AnimateToggle(PLazyNode node, bool expanding, int64_t distance) {
    if (!(FOptions->AnimationOptions() & toAnimatedToggle) || FAnimationDuration == 0 ||
        FUpdateCount > 0 || !HandleAllocated() || distance <= 0 || !IsDisplayed(node))
        return;
    const TRect client = ClientRect();
    const int rowBottom = GetNodeTop(node) + FOffsetY + int(node->NodeHeight);
    if (rowBottom < 0 || rowBottom >= client.Height()) return;
    TToggleAnimationData data;
    data.R1 = {0, rowBottom, client.Width(), client.Height()};
    data.Mode1 = expanding ? 1 : 0;
    const int steps = int(std::min<int64_t>(distance, data.R1.Height()));
    data.DC = GetDC(WindowHandle());
    Animate(
        uint32_t(steps), FAnimationDuration,
        [this, &data](int step, int stepSize, void*) {
            return ToggleAnimationStep(step, stepSize, data);
        },
        nullptr);
    ReleaseDC(WindowHandle(), data.DC);
}

bool TBaseLazyTree::ToggleAnimationStep(int, int stepSize, TToggleAnimationData& data) {
    if (stepSize <= 0) return true;
    auto scroll = [&](const TRect& band, int mode, int by) {
        if (mode == 2 || by <= 0 || band.Height() <= 0) return;
        by = std::min(by, band.Height());
        ScrollWindow(WindowHandle(), 0, mode == 1 ? by : -by, &band);
        FillAnimationStrip(data.DC,
                           mode == 1 ? TRect{band.Left, band.Top, band.Right, band.Top + by}
                                     : TRect{band.Left, band.Bottom - by, band.Right, band.Bottom});
    };
    scroll(data.R1, data.Mode1, stepSize);
    if (data.ScaleFactor > 0) {
        // The second band moves in proportion; the rounding remainder is carried on.
        const double exact = stepSize * data.ScaleFactor + data.MissedSteps;
        const int by = int(exact);
        data.MissedSteps = exact - by;
        scroll(data.R2, data.Mode2, by);
    }
    return true;
}

void TBaseLazyTree::FillAnimationStrip(HDC dc, const TRect& r) {
    auto fill = [dc](const TRect& part, TColor color) {
        HBRUSH brush = CreateSolidBrush(ColorToRGB(color));
        FillRect(dc, part, brush);
        DeleteObject(brush);
    };
    if (!FHeader->UseColumns()) {
        fill(r, Color);
        return;
    }
    // Column by column, each in its own colour.
    const int clientWidth = ClientRect().Width();
    TLazyTreeColumns& columns = FHeader->Columns();
    for (TColumnIndex c = columns.FirstVisibleColumn(); c > NoColumn;
         c = columns.NextVisibleColumn(c)) {
        int left = 0, right = 0;
        columns.GetColumnBounds(c, left, right);
        if (left >= clientWidth) break;
        const TLazyTreeColumn& column = columns[c];
        fill({std::max(r.Left, left), r.Top, std::min(r.Right, right), r.Bottom},
             (column.Options() & coParentColor) ? Color : column.Color());
    }
}

void TBaseLazyTree::UpdateScrollBars(bool doRepaint) {
    if (FStates & TS(tsUpdating)) return;
    UpdateVerticalScrollBar(doRepaint);
    UpdateHorizontalScrollBar(doRepaint);
}

void TBaseLazyTree::UpdateHorizontalScrollBar(bool doRepaint) {
    if (!HandleAllocated() || (FStates & TS(tsUpdating))) return;
    TRect client = ClientRect();
    int range = RangeX();
    // Keep the offset valid for the new range (it may have shrunk).
    int64_t minX = std::min<int64_t>(0, int64_t(client.Width()) - range);
    if (FOffsetX < minX)
        DoSetOffsetXY({int(minX), FOffsetY}, DefaultScrollUpdateFlags & ~suoUpdateNCArea);
    FEffectiveOffsetX =
        UseRightToLeftAlignment() ? std::max(0, range - client.Width() + FOffsetX) : -FOffsetX;

    FBarRangeX = range;
    bool show = ShowsBar(FScrollBarOptions->ScrollBars(), SB_HORZ) &&
                (range > client.Width() || FScrollBarOptions->AlwaysVisible());
    TScrollInfo info;
    info.Mask = SIF_ALL;
    info.Min = 0;
    info.Max = std::max(0, range - 1);
    info.Page = UINT(std::max(0, client.Width()));
    info.Pos = FEffectiveOffsetX;
    HWND wnd = WindowHandle();
    bool shown = GetWindowLongPtr(wnd, GWL_STYLE) & WS_HSCROLL;
    if (show != shown) DoShowScrollbar(SB_HORZ, show);
    // A bar that has just appeared was drawn before it knew its thumb.
    if (show) SetScrollInfo(wnd, SB_HORZ, info, doRepaint || !shown);
}

void TBaseLazyTree::UpdateVerticalScrollBar(bool doRepaint) {
    if (!HandleAllocated() || (FStates & TS(tsUpdating))) return;
    TRect client = ClientRect();
    int range = RangeY();
    int64_t minY = std::min<int64_t>(0, int64_t(client.Height()) - range);
    if (FOffsetY < minY)
        DoSetOffsetXY({FOffsetX, int(minY)}, DefaultScrollUpdateFlags & ~suoUpdateNCArea);

    FBarRangeY = range;
    bool show = ShowsBar(FScrollBarOptions->ScrollBars(), SB_VERT) &&
                (range > client.Height() || FScrollBarOptions->AlwaysVisible());
    TScrollInfo info;
    info.Mask = SIF_ALL;
    info.Min = 0;
    info.Max = std::max(0, range - 1);
    info.Page = UINT(std::max(0, client.Height()));
    info.Pos = -FOffsetY;
    HWND wnd = WindowHandle();
    bool shown = GetWindowLongPtr(wnd, GWL_STYLE) & WS_VSCROLL;
    if (show != shown) DoShowScrollbar(SB_VERT, show);
    // A bar that has just appeared was drawn before it knew its thumb.
    if (show) SetScrollInfo(wnd, SB_VERT, info, doRepaint || !shown);
}

int TBaseLazyTree::GetNodeTop(PLazyNode node, int64_t limit) {
    if (!node || node == FRoot) return 0;
    const bool showHidden = FOptions->PaintOptions() & toShowHiddenNodes;
    auto shown = [showHidden](PLazyNode n) {
        return (n->States & vsVisible) && (showHidden || !(n->States & vsHidden));
    };
    // Every shown sibling before the node on each level, plus the parents' own rows.
    int64_t top = 0;
    for (PLazyNode run = node; run != FRoot; run = run->Parent) {
        for (PLazyNode s = run->PrevSibling; s; s = s->PrevSibling)
            if (shown(s)) {
                top += (s->States & vsExpanded) ? s->TotalHeight : s->NodeHeight;
                if (top > limit) return int(std::min<int64_t>(top, INT32_MAX));
            }
        if (run->Parent != FRoot) top += run->Parent->NodeHeight;
    }
    return int(top);
}

bool TBaseLazyTree::ScrollIntoView(PLazyNode node, bool center, bool horizontally) {
    if (!node || node == FRoot || (FStates & TS(tsUpdating))) return false;
    for (PLazyNode p = node->Parent; p != FRoot; p = p->Parent)
        if (!(p->States & vsExpanded)) SetExpanded(p, true);
    if (!HandleAllocated() || !FullyVisible(node)) return false;

    TRect client = ClientRect();
    bool fullRow = FOptions->SelectionOptions() & toFullRowSelect;
    TRect r = GetDisplayRect(node, NoColumn, !fullRow, true);
    if (r.Height() == 0 && r.Width() == 0) return false;
    TPoint target{FOffsetX, FOffsetY};
    if (center) {
        if (r.Top < 0 || r.Bottom > client.Height())
            target.Y = FOffsetY - r.Top + (client.Height() - r.Height()) / 2;
    } else if (r.Bottom > client.Height()) {
        // A row taller than the client area shows its top.
        target.Y = FOffsetY - std::min(r.Bottom - client.Height(), r.Top);
    } else if (r.Top < 0) {
        target.Y = FOffsetY - r.Top;
    }
    if (horizontally && !fullRow) {
        int fixed = FHeader->UseColumns() ? FHeader->Columns().VisibleFixedWidth() : 0;
        TRect text = GetDisplayRect(node, FHeader->MainColumn(), true, true);
        int left = fixed, width = client.Width() - fixed;
        if (text.Right > left + width && text.Width() <= width)
            target.X = FOffsetX - (text.Right - (left + width));
        else if (text.Left < left || text.Right > left + width)
            target.X = FOffsetX - (text.Left - left);
    }
    if (target.X == FOffsetX && target.Y == FOffsetY) return false;
    return DoSetOffsetXY(target);
}

TRect TBaseLazyTree::InvalidateNode(PLazyNode node) {
    if (!node || node == FRoot || FUpdateCount > 0 || !HandleAllocated()) return {};
    if (!FullyVisible(node)) return {};
    TRect r = GetDisplayRect(node, NoColumn, false, true);
    TRect client = ClientRect();
    r.Left = 0;
    r.Right = client.Width();
    if (r.Bottom <= 0 || r.Top >= client.Height()) return r;
    InvalidateRect(WindowHandle(), &r, false);
    return r;
}

void TBaseLazyTree::RepaintNode(PLazyNode node) {
    if (!node || node == FRoot || FUpdateCount > 0 || !HandleAllocated()) return;
    TRect r = InvalidateNode(node);
    if (r.Height() > 0) UpdateWindow(WindowHandle());
}

void TBaseLazyTree::InvalidateToBottom(PLazyNode node) {
    if (FUpdateCount > 0 || !HandleAllocated()) return;
    TRect client = ClientRect();
    if (node && node != FRoot) {
        if (!FullyVisible(node)) return;
        // A row far below the client area is not counted to its end.
        int64_t top = int64_t(GetNodeTop(node, int64_t(client.Height()) - FOffsetY)) + FOffsetY;
        if (top >= client.Height()) return;
        client.Top = int(std::max<int64_t>(0, top));
    }
    InvalidateRect(WindowHandle(), &client, false);
}

void TBaseLazyTree::InvalidateChangedRows(PLazyNode parent, PLazyNode before) {
    // During an update nothing: its end repaints the whole client.
    if (FUpdateCount > 0 || !HandleAllocated()) return;
    // The sibling above a change: its tree line now reaches further or less far down.
    PLazyNode from = before && FullyVisible(before) ? before : parent;
    if (from == FRoot || (FOptions->PaintOptions() & toChildrenAbove)) from = nullptr;
    InvalidateToBottom(from);
}

} // namespace nuq

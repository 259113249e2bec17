// The tree's own window messages: scroll bars and thumb tracking, sizing,
// erasing, focus and enable changes and painting into a given context.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include <algorithm>
#include <utility>

namespace nuq {

bool TBaseLazyTree::HandleWindowMessage(TMessage& m) {
    switch (m.Msg) {
    case WM_HSCROLL:
        HandleHScroll(int(m.WParam & 0xFFFF));
        m.Result = 0;
        return true;
    case WM_VSCROLL:
        HandleVScroll(int(m.WParam & 0xFFFF));
        m.Result = 0;
        return true;
    case WM_GETOBJECT:
        return AnswerObjectQuery(m);
    case TVM_GETITEM:
    case TVM_GETITEMRECT:
    case TVM_GETNEXTITEM:
        m.Result = ItemQuery(m);
        return true;
    case WM_ERASEBKGND:
        // The paint draws every pixel.
        m.Result = 1;
        return true;
    case WM_SIZE:
        TCustomControl::Dispatch(m);
        HandleSize();
        return true;
    case WM_SETFOCUS:
        TCustomControl::Dispatch(m);
        if (FSelectionCount > 0 || !(FOptions->PaintOptions() & toGhostedIfUnfocused)) Invalidate();
        return true;
    case WM_KILLFOCUS:
        TCustomControl::Dispatch(m);
        HandleKillFocus();
        return true;
    case WM_UPDATESCROLLBARS:
        if (RangeX() != FBarRangeX || RangeY() != FBarRangeY) UpdateScrollBars(true);
        return true;
    case WM_NCDESTROY:
        ReleaseWindowTies();
        TCustomControl::Dispatch(m);
        return true;
    case WM_PRINTCLIENT:
        PrintClient(reinterpret_cast<HDC>(m.WParam), UINT(m.LParam));
        return true;
    case CM_ENABLEDCHANGED:
    case CM_COLORCHANGED:
    case CM_FONTCHANGED:
    case CM_BIDIMODECHANGED:
    case CM_CTL3DCHANGED:
    case CM_SYSCOLORCHANGE:
    case CM_HINTSHOWPAUSE:
    case CM_DENYSUBCLASSING:
        return HandleFrameworkMessage(m);
    case WM_PRINT:
        Print(reinterpret_cast<HDC>(m.WParam), UINT(m.LParam));
        return true;
    case WM_ENABLE:
        TCustomControl::Dispatch(m);
        RedrawWindow(WindowHandle(), nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_NOCHILDREN);
        return true;
    }
    return false;
}

void TBaseLazyTree::HandleKillFocus() {
    StopTimer(ScrollTimerId);
    DoStateChange(0, TS(tsScrolling) | TS(tsScrollPending) | TS(tsLeftButtonDown) |
                         TS(tsMiddleButtonDown) | TS(tsRightButtonDown));
    if (FSelectionCount == 0 && (FOptions->PaintOptions() & toGhostedIfUnfocused)) {
        if (FFocusedNode) InvalidateNode(FFocusedNode);
    } else {
        Invalidate();
    }
}

void TBaseLazyTree::ReleaseWindowTies() {
    // The window may go while the tree stays (a new border recreates it): nothing
    // may keep pointing at the old one.
    InterruptValidation();
    StopTimer(ChangeTimer);
    StopTimer(StructureChangeTimer);
    FStructureTimerSet = false;
    if (!(ComponentState & csDesigning) && (FOptions->MiscOptions() & toAcceptOLEDrop))
        RevokeDragDrop(WindowHandle());
    if (FDottedBrush) DeleteObject(std::exchange(FDottedBrush, nullptr));
    // A hint animating over this tree stops at its next step.
    if (HasState(tsInAnimation)) HintWindowGone = true;
}

// "Only if visible": a hidden tree prints nothing.
bool TBaseLazyTree::PrintSkipped(HDC dc, UINT flags) {
    return !dc ||
           ((flags & PRF_CHECKVISIBLE) && !(HandleAllocated() && IsWindowVisible(WindowHandle())));
}

void TBaseLazyTree::PrintClient(HDC dc, UINT flags) {
    // The client area as it shows now, into the given context.
    if (PrintSkipped(dc, flags)) return;
    TCanvas canvas;
    canvas.SetHandle(dc);
    TRect client = ClientRect();
    PaintTree(canvas, client.Offset(-FOffsetX, -FOffsetY), {0, 0}, DefaultPaintTreeOptions);
    canvas.SetHandle(nullptr);
}

void TBaseLazyTree::Print(HDC dc, UINT flags) {
    if (PrintSkipped(dc, flags)) return;
    if ((flags & PRF_NONCLIENT) && (FHeader->Options() & hoVisible) && !FHeaderRect.IsEmpty())
        FHeader->Columns().PaintHeader(dc, FHeaderRect, -FEffectiveOffsetX);
    // As the default handling would: the client area below the header, at its place.
    if (flags & PRF_CLIENT) {
        const TPoint origin = ClientOrigin(WindowHandle());
        TPoint old;
        GetViewportOrgEx(dc, old);
        SetViewportOrgEx(dc, old.X + origin.X, old.Y + origin.Y);
        SendMessage(WindowHandle(), WM_PRINTCLIENT, reinterpret_cast<WPARAM>(dc), LPARAM(flags));
        SetViewportOrgEx(dc, old.X, old.Y);
    }
}

bool TBaseLazyTree::HandleFrameworkMessage(TMessage& m) {
    const bool loading = ComponentState & csLoading;
    switch (m.Msg) {
    case CM_FONTCHANGED:
        // The plus and minus bars are drawn in the font's colour.
        if (!loading) PrepareBitmaps(true, false);
        FHeader->ParentFontChanged();
        if (!loading && HandleAllocated()) Invalidate();
        return true;
    case CM_COLORCHANGED:
        if (!loading) PrepareBitmaps(true, false);
        for (int i = 0; i < FHeader->Columns().Count(); ++i)
            FHeader->Columns()[i].SyncParentColor();
        if (HandleAllocated()) Invalidate();
        return true;
    case CM_BIDIMODECHANGED: {
        const int width = ClientRect().Width();
        FEffectiveOffsetX =
            UseRightToLeftAlignment() ? std::max(0, RangeX() - width + FOffsetX) : -FOffsetX;
        TLazyTreeColumns& columns = FHeader->Columns();
        for (int i = 0; i < columns.Count(); ++i) columns[i].SyncParentBiDiMode();
        if (FOptions->AutoOptions() & toAutoBidiColumnOrdering)
            columns.ResetPositionOrder(UseRightToLeftAlignment());
        FHeader->RecalculateHeader();
        if (HandleAllocated()) Invalidate();
        return true;
    }
    case CM_ENABLEDCHANGED:
        if (HandleAllocated())
            RedrawWindow(WindowHandle(), nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_NOCHILDREN);
        return true;
    case CM_CTL3DCHANGED:
        // The sunken edge is a window style.
        if (FBorderStyle == 1 && HandleAllocated()) RecreateWnd();
        return true;
    case CM_SYSCOLORCHANGE: {
        TCustomControl::Dispatch(m);
        ReloadCheckImageStrips();
        TMessage sys{WM_SYSCOLORCHANGE, m.WParam, m.LParam, 0};
        TCustomControl::DefaultHandler(sys);
        if (HandleAllocated()) Invalidate();
        return true;
    }
    case CM_HINTSHOWPAUSE:
        if (auto* pause = reinterpret_cast<int*>(m.LParam)) {
            TPoint p;
            GetCursorPos(p);
            MapWindowPoints(0, WindowHandle(), &p, 1);
            if (HintMode == hmTooltip ||
                (HintWindowGone && FHeader->UseColumns() && (FHeader->Options() & hoShowHint) &&
                 FHeader->InHeader(p)))
                *pause = 0;
        }
        return true;
    case CM_DENYSUBCLASSING:
        m.Result = 1; // no theme manager subclasses the tree
        return true;
    }
    return false;
}

void TBaseLazyTree::SetFont(const TFont& value) {
    Font.Assign(value); // a real change tells the tree through the font's handler
}

void TBaseLazyTree::SetColor(TColor value) {
    if (Color == value) return;
    Color = value;
    ParentColor = false;
    Perform(CM_COLORCHANGED, 0, 0);
}

void TBaseLazyTree::SetBiDiMode(TBiDiMode value) {
    if (BiDiMode == value) return;
    BiDiMode = value;
    Perform(CM_BIDIMODECHANGED, 0, 0);
}

void TBaseLazyTree::SetEnabled(bool value) {
    if (Enabled == value) return;
    Enabled = value;
    if (HandleAllocated()) EnableWindow(WindowHandle(), value);
    Perform(CM_ENABLEDCHANGED, 0, 0);
}

void TBaseLazyTree::SetCtl3D(bool value) {
    if (FCtl3D == value) return;
    FCtl3D = value;
    Perform(CM_CTL3DCHANGED, 0, 0);
}

void TBaseLazyTree::HandleHScroll(int code) {
    int factor = UseRightToLeftAlignment() ? -1 : 1;
    TRect client = ClientRect();
    int fixed = FHeader->UseColumns() ? FHeader->Columns().VisibleFixedWidth() : 0;
    int page = client.Width() - fixed;
    switch (code) {
    case SB_LINELEFT:
        SetOffsetX(FOffsetX + factor * FScrollBarOptions->HorizontalIncrement);
        break;
    case SB_LINERIGHT:
        SetOffsetX(FOffsetX - factor * FScrollBarOptions->HorizontalIncrement);
        break;
    case SB_PAGELEFT:
        SetOffsetX(FOffsetX + factor * page);
        break;
    case SB_PAGERIGHT:
        SetOffsetX(FOffsetX - factor * page);
        break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: {
        DoStateChange(TS(tsThumbTracking));
        // The bar's own track position: the message carries only 16 bits.
        TScrollInfo info;
        info.Mask = SIF_TRACKPOS;
        GetScrollInfo(WindowHandle(), SB_HORZ, info);
        if (UseRightToLeftAlignment())
            SetOffsetX(client.Width() - RangeX() + info.TrackPos);
        else
            SetOffsetX(-info.TrackPos);
        break;
    }
    case SB_LEFT:
        SetOffsetX(0);
        break;
    case SB_RIGHT:
        SetOffsetX(-RangeX());
        break;
    case SB_ENDSCROLL:
        DoStateChange(0, TS(tsThumbTracking));
        UpdateHorizontalScrollBar(false);
        break;
    }
}

void TBaseLazyTree::HandleVScroll(int code) {
    TRect client = ClientRect();
    switch (code) {
    case SB_LINEUP:
        SetOffsetY(FOffsetY + FScrollBarOptions->VerticalIncrement);
        break;
    case SB_LINEDOWN:
        SetOffsetY(FOffsetY - FScrollBarOptions->VerticalIncrement);
        break;
    case SB_PAGEUP:
        SetOffsetY(FOffsetY + client.Height());
        break;
    case SB_PAGEDOWN:
        SetOffsetY(FOffsetY - client.Height());
        break;
    case SB_THUMBPOSITION:
    case SB_THUMBTRACK: {
        DoStateChange(TS(tsThumbTracking));
        TScrollInfo info;
        info.Mask = SIF_TRACKPOS;
        GetScrollInfo(WindowHandle(), SB_VERT, info);
        SetOffsetY(-info.TrackPos);
        break;
    }
    case SB_TOP:
        SetOffsetY(0);
        break;
    case SB_BOTTOM:
        SetOffsetY(-int(std::min<uint32_t>(FRoot->TotalHeight, INT32_MAX)));
        break;
    case SB_ENDSCROLL:
        DoStateChange(0, TS(tsThumbTracking));
        UpdateScrollBars(false);
        RedrawWindow(WindowHandle(), nullptr, RDW_INVALIDATE | RDW_FRAME);
        break;
    }
}

void TBaseLazyTree::HandleSize() {
    if (!HandleAllocated() || (FStates & (TS(tsSizing) | TS(tsWindowCreating)))) return;
    if (ClientRect().Height() <= 0) return;
    DoStateChange(TS(tsSizing));
    UpdateHeaderRect();
    UpdateScrollBars(true);
    FHeader->AdjustAutoSpring(); // the scroll bars may have changed the width once more
    // The editor reaches at most to the client's right edge, which may just have moved.
    UpdateEditBounds();
    DoStateChange(0, TS(tsSizing));
}

} // namespace nuq

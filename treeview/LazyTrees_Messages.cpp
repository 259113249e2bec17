// The tree's own window messages: scroll bars and thumb tracking, sizing,
// erasing, focus and enable changes and painting into a given context.

#include "treeview/LazyTrees.h"

#include <algorithm>

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
        StopTimer(4); // auto-scroll
        DoStateChange(0, TS(tsScrolling) | TS(tsScrollPending) | TS(tsLeftButtonDown) |
                             TS(tsMiddleButtonDown) | TS(tsRightButtonDown));
        if (FSelectionCount == 0 && (FOptions->PaintOptions() & toGhostedIfUnfocused)) {
            if (FFocusedNode) InvalidateNode(FFocusedNode);
        } else {
            Invalidate();
        }
        return true;
    case WM_ENABLE:
        TCustomControl::Dispatch(m);
        RedrawWindow(WindowHandle(), nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_NOCHILDREN);
        return true;
    }
    return false;
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
    DoStateChange(0, TS(tsSizing));
}

} // namespace nuq

// The tree's side of hints: the mouse rests over a point for HintPause, then
// the tree decides what (if anything) to show there and opens its hint window;
// moving out of the hint's rectangle, a button, a key, leaving the window or
// losing the focus takes it away.

#include "treeview/LazyTrees.h"

#include "platform/gui/Forms.h"

namespace nuq {

namespace {

TPoint HintMessagePoint(LPARAM l) {
    return {int(int16_t(LoWord(uintptr_t(l)))), int(int16_t(HiWord(uintptr_t(l))))};
}

} // namespace

void TBaseLazyTree::CancelNodeHint() {
    if (HandleAllocated()) KillTimer(WindowHandle(), HintTimer);
    if (FHintWindow && FHintWindow->HandleAllocated() &&
        IsWindowVisible(FHintWindow->WindowHandle()))
        ShowWindow(FHintWindow->WindowHandle(), SW_HIDE);
    LastHintRect = {};
    DoStateChange(0, TS(tsHint));
}

void TBaseLazyTree::ForgetHintNode(PLazyNode node) {
    if (!FHintWindow || FHintWindow->HintData().Node != node) return;
    CancelNodeHint();
    // Hidden or not, the window must not keep the node for a later paint.
    FHintWindow.reset();
}

bool TBaseLazyTree::HintMessage(TMessage& m) {
    switch (m.Msg) {
    case WM_TIMER:
        if (m.WParam != HintTimer) return false;
        KillTimer(WindowHandle(), HintTimer);
        ShowNodeHint(FHintPoint);
        return true;
    case WM_NCMOUSEMOVE:
    case WM_MOUSEMOVE: {
        TPoint p = HintMessagePoint(m.LParam);
        if (m.Msg == WM_NCMOUSEMOVE) {
            // Over the header its columns give hints; elsewhere in the frame nothing does.
            MapWindowPoints(0, WindowHandle(), &p, 1);
            if (!(FHeader->Options() & hoVisible) || !(FHeader->Options() & hoShowHint) ||
                !FHeader->InHeader(p)) {
                if (FStates & TS(tsHint)) CancelNodeHint();
                return false;
            }
        }
        FHintPoint = p;
        const bool shown = FStates & TS(tsHint);
        // Inside the shown hint's rectangle the hint stays.
        if (shown && LastHintRect.Contains(p)) return false;
        if (shown) CancelNodeHint();
        if (ShowHint) {
            // The tree may shorten the pause (a tool tip needs none).
            int pause = int(HintPause);
            Perform(CM_HINTSHOWPAUSE, shown, reinterpret_cast<LPARAM>(&pause));
            if (pause <= 0)
                ShowNodeHint(p);
            else
                SetTimer(WindowHandle(), HintTimer, UINT(pause));
        }
        return false;
    }
    // A shown hint stays through key presses; what they scroll takes it away.
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
    case WM_MBUTTONDOWN:
    case WM_MOUSEWHEEL:
    case WM_MOUSELEAVE:
    case WM_NCMOUSELEAVE: // out of the header, into the rows or off the window
    case WM_KILLFOCUS:
        CancelNodeHint();
        return false;
    }
    return false;
}

// Hints are for the program the user works in: the tree, or its form while the
// program is active.
bool TBaseLazyTree::HasHintFocus() const {
    const HWND focus = GetFocus();
    if (focus && focus == WindowHandle()) return true;
    for (TWinControl* c = Parent(); c; c = c->Parent())
        if (auto* form = dynamic_cast<TForm*>(c))
            return (focus && focus == form->WindowHandle()) || Application().Active();
    return false;
}

bool TBaseLazyTree::HintWanted(const THitInfo& info) {
    if (FStates & TS(tsEditing)) {
        if (info.HitNode == FFocusedNode) return false;
    }
    if (!ShowHint || !Application().ShowHint || GetCapture()) return false;
    if (!HasHintFocus()) return false;
    if (FStates & TS(tsOLEDragging, tsOLEDragPending, tsFrameworkDragging, tsFrameworkDragPending,
                     tsDrawSelPending, tsDrawSelecting, tsScrolling))
        return false;
    if (FHeader->States() & (hsDragging | hsDragPending | hsColumnWidthTracking |
                             hsColumnWidthTrackPending | hsHeightTracking | hsHeightTrackPending))
        return false;
    return true;
}

void TBaseLazyTree::ShowNodeHint(TPoint p) {
    if (!HandleAllocated() || (ComponentState & csDestroying)) return;
    THitInfo info;
    GetHitTestInfoAt(p.X, p.Y, true, info);
    if (!HintWanted(info)) return;

    TLTHintData data;
    data.Tree = this;
    data.Column = info.HitColumn;
    std::u16string given;
    TRect area = ClientRect(); // where the hint belongs; moving out of it hides the hint
    TPoint at = p;             // client point of the hint's top-left corner
    const bool overHeader = (FHeader->Options() & hoVisible) && (FHeader->Options() & hoShowHint) &&
                            FHeader->InHeader(p);
    if (overHeader) {
        // The column under the mouse gives the hint, over its header cell.
        TLazyTreeColumns& columns = FHeader->Columns();
        TColumnIndex c = columns.ColumnAtPoint({p.X, p.Y + FHeader->Height}, true);
        if (!columns.IsValidColumn(c)) return;
        given = columns[c].Hint.substr(0, columns[c].Hint.find(u'|'));
        if (given.empty()) return;
        int left, right;
        columns.GetColumnBounds(c, left, right);
        area = {left, -FHeader->Height, right, 0};
        data.Column = c;
        data.GivenHint = given;
        at = {p.X, p.Y + 20};
    }
    const bool nodeHint = !overHeader && HintMode != hmDefault && info.HitNode &&
                          info.HitColumn >= NoColumn && (info.HitPositions & hiOnItem);
    if (overHeader) {
        // Set above.
    } else if (nodeHint) {
        data.Node = info.HitNode;
        area = GetDisplayRect(info.HitNode, info.HitColumn, false, false);
        if (HintMode == hmTooltip) {
            // A tool tip only for a text that is cut off.
            TRect text = GetDisplayRect(info.HitNode, info.HitColumn, true, true, true);
            TRect client = ClientRect();
            if (text.Right <= area.Right && text.Left >= area.Left &&
                text.Bottom <= client.Bottom && text.Top >= client.Top)
                return;
            // Over the text itself: its whole text lies where the cut-off one was
            // (in the main column the text starts after the indent and the images).
            at = {text.Left - TextMargin(), area.Top};
        } else {
            at = {p.X, p.Y + 20}; // below the cursor
        }
    } else {
        if (HintMode != hmDefault && HintMode != hmHintAndDefault) return;
        // Right of the last column no node's hint applies: the control's own shows.
        if (HintMode == hmHintAndDefault && info.HitNode && info.HitColumn >= NoColumn) return;
        // Of "Short|long" the control's hint shows the short part.
        given = Hint.substr(0, Hint.find(u'|'));
        if (given.empty()) return;
        data.GivenHint = given;
        at = {p.X, p.Y + 20};
    }
    LastHintRect = area;

    if (!FHintWindow) FHintWindow = GetHintWindowClass();
    TRect r = FHintWindow->CalcHintRect(Screen().Width, given, &data);
    if (r.IsEmpty()) {
        LastHintRect = {};
        DoStateChange(0, TS(tsHint));
        return;
    }
    // Right to left a tool tip's text ends where the cell's does: the tip
    // grows leftwards from the cell's right edge.
    if (nodeHint && HintMode == hmTooltip && FHintWindow->HintData().BidiMode != bdLeftToRight)
        at.X = area.Right - r.Right;
    MapWindowPoints(WindowHandle(), 0, &at, 1);
    // The measured rectangle starts at (-1, -1) so that the text lands where the cell's is.
    r = r.Offset(at.X, at.Y);
    DoStateChange(TS(tsHint));
    FHintWindow->ActivateHint(r, FHintWindow->HintData().HintText);
}

} // namespace nuq

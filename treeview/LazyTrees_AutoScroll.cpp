// Scrolling by itself: the auto-scroll timer near the edges during a rubber
// band or a drag, the mouse wheel, and panning with the middle button.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include <algorithm>
#include <cmath>

#include "platform/gui/Gdi.h"

namespace nuq {

namespace {

// Pixels around the panning anchor that do not scroll.
constexpr int PanningDeadZone = 8;

// One tick's step along an axis: panning, the pointer's distance from the
// anchor beyond the dead zone; otherwise the increment, times how far the
// pointer lies past the window's edge.
int TimerScrollStep(int pointer, int anchor, int extent, int increment, bool panning) {
    if (panning) return std::abs(pointer - anchor) - PanningDeadZone;
    if (pointer < 0) return increment * -pointer;
    if (pointer >= extent) return increment * (pointer - extent + 1);
    return increment;
}

} // namespace

void TBaseLazyTree::DoTimerScroll() {
    TPoint p;
    GetCursorPos(p);
    MapWindowPoints(0, WindowHandle(), &p, 1);
    const TRect client = ClientRect();
    const bool inside = p.X >= 0 && p.Y >= 0 && p.X < client.Width() && p.Y < client.Height();
    const bool panning = FStates & TS(tsWheelPanning, tsWheelScrolling);
    const bool banding = IsMouseSelecting();
    if (banding || inside || panning) {
        if (panning) FScrollDirections = PanningDirections(p);
        const TPoint delta = TimerScrollDelta(p, client, panning);
        if (delta.X != 0 || delta.Y != 0) {
            DoSetOffsetXY({FOffsetX + delta.X, FOffsetY + delta.Y});
            // The band is kept in tree coordinates: only its moving corner follows the pointer.
            if (banding) {
                if (CalculateSelectionRect(p.X, p.Y)) HandleDrawSelection();
                Invalidate();
            }
        }
        Update();
    }
    if (FScrollDirections == 0 && !panning) {
        StopTimer(ScrollTimerId);
        DoStateChange(0, TS(tsScrolling, tsScrollPending));
    }
}

// Panning scrolls towards the pointer, faster the farther it is from the anchor.
TScrollDirections TBaseLazyTree::PanningDirections(TPoint p) const {
    TScrollDirections directions = 0;
    if (p.Y < FPanningAnchor.Y - PanningDeadZone) directions |= sdUp;
    if (p.Y > FPanningAnchor.Y + PanningDeadZone) directions |= sdDown;
    if (p.X < FPanningAnchor.X - PanningDeadZone) directions |= sdLeft;
    if (p.X > FPanningAnchor.X + PanningDeadZone) directions |= sdRight;
    return directions;
}

// One tick's scroll for the scroll directions; a direction at the end of its
// range is dropped. Right to left the horizontal step is mirrored.
TPoint TBaseLazyTree::TimerScrollDelta(TPoint p, TRect client, bool panning) {
    int dy = 0, dx = 0;
    if (FScrollDirections & (sdUp | sdDown)) {
        const int increment = std::min<int>(FScrollBarOptions->VerticalIncrement, client.Height());
        dy = TimerScrollStep(p.Y, FPanningAnchor.Y, client.Height(), increment, panning);
        if (FScrollDirections & sdDown) dy = -dy;
    }
    if ((FScrollDirections & sdUp) && FOffsetY == 0)
        FScrollDirections &= TScrollDirections(~sdUp), dy = 0;
    if ((FScrollDirections & sdDown) && client.Height() - FOffsetY >= RangeY())
        FScrollDirections &= TScrollDirections(~sdDown), dy = 0;
    if (FScrollDirections & (sdLeft | sdRight)) {
        const int increment = FScrollBarOptions->HorizontalIncrement;
        dx = TimerScrollStep(p.X, FPanningAnchor.X, client.Width(), increment, panning);
        if (FScrollDirections & sdRight) dx = -dx;
    }
    if ((FScrollDirections & sdLeft) && FEffectiveOffsetX == 0)
        FScrollDirections &= TScrollDirections(~sdLeft), dx = 0;
    if ((FScrollDirections & sdRight) && client.Width() + FEffectiveOffsetX >= RangeX())
        FScrollDirections &= TScrollDirections(~sdRight), dx = 0;
    if (UseRightToLeftAlignment()) dx = -dx;
    return {dx, dy};
}

void TBaseLazyTree::HandleMouseWheel(TMessage& m) {
    StopWheelPanning();
    const int delta = int(int16_t(HiWord(m.WParam)));
    const TShiftState shift = KeysToShift(LoWord(m.WParam));
    bool handled = false;
    if (OnMouseWheel) {
        TPoint p{int(int16_t(LoWord(uintptr_t(m.LParam)))),
                 int(int16_t(HiWord(uintptr_t(m.LParam))))};
        OnMouseWheel(*this, shift, delta, p, handled);
    }
    if (handled) return;
    m.Result = 1;
    const double amount = delta / 120.0;
    const TRect client = ClientRect();
    const unsigned lines = GetWheelScrollLines();
    const bool pages = lines == WHEEL_PAGESCROLL;
    if (client.Height() < RangeY() && !(shift & ssShift)) {
        double step = (shift & ssCtrl) || pages ? client.Height() * amount
                                                : lines * amount * double(FDefaultNodeHeight);
        SetOffsetY(FOffsetY + int(std::trunc(step)));
    } else {
        int fixed = FHeader->UseColumns() ? FHeader->Columns().VisibleFixedWidth() : 0;
        int average =
            FHeader->UseColumns() ? FHeader->Columns().AverageScrollWidth() : int(FIndent);
        // The page setting pages sideways too (its lines value is no count).
        double step = (shift & ssCtrl) || pages ? (client.Width() - fixed) * amount
                                                : average * double(lines) * amount;
        int d = int(std::trunc(step));
        SetOffsetX(FOffsetX + (UseRightToLeftAlignment() ? -d : d));
    }
}

namespace {

// The picture's pixels that are not the magenta key, as a region.
HRGN PictureShape(TBitmap& picture) {
    HRGN shape = CreateRectRgn(0, 0, 0, 0);
    const uint32_t key = ColorToRGB(clFuchsia) & 0xFFFFFF;
    for (int y = 0; y < picture.Height(); ++y)
        for (int x = 0; x < picture.Width();) {
            auto keyed = [&](int at) {
                return (ColorToRGB(picture.Canvas().Pixel(at, y)) & 0xFFFFFF) == key;
            };
            if (keyed(x)) {
                ++x;
                continue;
            }
            int end = x;
            while (end < picture.Width() && !keyed(end)) ++end;
            HRGN run = CreateRectRgn(x, y, end, y + 1);
            CombineRgn(shape, shape, run, RGN_OR);
            DeleteObject(run);
            x = end;
        }
    return shape;
}

} // namespace

void TBaseLazyTree::StartWheelPanning(TPoint position) {
    StopTimer(ScrollTimerId);
    DoStateChange(TS(tsWheelPanning, tsWheelScrolling));
    FPanningAnchor = position;
    const TRect client = ClientRect();
    const char* name = RangeX() <= client.Width()    ? "LT_MOVENS"
                       : RangeY() <= client.Height() ? "LT_MOVEEW"
                                                     : "LT_MOVEALL";
    FPanningImage = LoadTreeBitmapResource(name, false);
    TPoint screen = position;
    MapWindowPoints(WindowHandle(), 0, &screen, 1);
    TCreateParams params;
    params.ClassName = "LTPanningWindow";
    params.Style = WS_POPUP;
    params.X = screen.X - 16;
    params.Y = screen.Y - 16;
    params.Width = 32;
    params.Height = 32;
    // A window of its own over the screen, placed in screen coordinates: a
    // child of the tree would take them as the tree's.
    params.Parent = 0;
    TBitmap* image = FPanningImage.get();
    params.Proc.Call = [image](HWND wnd, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        if (msg == WM_PAINT && image) {
            TPaintStruct ps;
            HDC dc = BeginPaint(wnd, ps);
            BitBlt(dc, 0, 0, image->Width(), image->Height(), image->Canvas().Handle(), 0, 0,
                   SRCCOPY);
            EndPaint(wnd, ps);
            return 0;
        }
        return DefWindowProc(wnd, msg, w, l);
    };
    FPanningWindow = CreateWindowEx(params);
    if (FPanningWindow && image) SetWindowRgn(FPanningWindow, PictureShape(*image), false);
    if (FPanningWindow) ShowWindow(FPanningWindow, SW_SHOW);
    SetFocus(WindowHandle());
    SetCapture(WindowHandle());
    AdjustPanningCursor(position.X, position.Y);
    SetTimer(WindowHandle(), ScrollTimerId, 20);
}

void TBaseLazyTree::StopWheelPanning() {
    if (!(FStates & TS(tsWheelPanning, tsWheelScrolling))) return;
    StopTimer(ScrollTimerId);
    if (GetCapture() == WindowHandle() && WindowHandle()) ReleaseCapture();
    DoStateChange(0, TS(tsWheelPanning, tsWheelScrolling));
    if (FPanningWindow) DestroyWindow(FPanningWindow);
    FPanningWindow = 0;
    FPanningImage.reset();
    FPanningCursor.clear();
    ChooseCursorAtRest();
}

void TBaseLazyTree::AdjustPanningCursor(int x, int y) {
    const TRect client = ClientRect();
    const bool horizontal = client.Width() < RangeX(), vertical = client.Height() < RangeY();
    const int dx = x - FPanningAnchor.X, dy = y - FPanningAnchor.Y;
    const bool nearX = std::abs(dx) <= PanningDeadZone, nearY = std::abs(dy) <= PanningDeadZone;
    std::string name;
    if (nearX && nearY) {
        name = vertical && !horizontal ? "LT_MOVENS" : vertical ? "LT_MOVEALL" : "LT_MOVEEW";
    } else if (horizontal && vertical) {
        if (nearX)
            name = dy < 0 ? "LT_MOVEN" : "LT_MOVES";
        else if (dx < 0)
            name = dy < -PanningDeadZone  ? "LT_MOVENW"
                   : dy > PanningDeadZone ? "LT_MOVESW"
                                          : "LT_MOVEW";
        else
            name = dy < -PanningDeadZone  ? "LT_MOVENE"
                   : dy > PanningDeadZone ? "LT_MOVESE"
                                          : "LT_MOVEE";
    } else if (vertical) {
        name = dy < 0 ? "LT_MOVEN" : "LT_MOVES";
    } else {
        name = dx < 0 ? "LT_MOVEW" : "LT_MOVEE";
    }
    FPanningCursor = name;
    SetCursor(TreeCursor(name));
}

} // namespace nuq

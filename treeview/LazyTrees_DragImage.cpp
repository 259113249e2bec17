// The drag image: the translucent picture of dragged nodes drawn onto the
// screen over a copy of the background it covers.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include <cmath>
#include <cstdlib>

namespace nuq {

namespace {

HDC DC(std::unique_ptr<TBitmap>& bitmap) {
    return bitmap->Canvas().Handle();
}

// Copies a rectangle given as (x, y, width, height), as the drag rectangle
// routine hands them out; Shift moves the destination.
void CopyPart(HDC dest, TPoint destOrigin, HDC src, TPoint srcOrigin, const TRect& part) {
    if (part.Right <= 0 || part.Bottom <= 0) return;
    BitBlt(dest, destOrigin.X + part.Left, destOrigin.Y + part.Top, part.Right, part.Bottom, src,
           srcOrigin.X + part.Left, srcOrigin.Y + part.Top, SRCCOPY);
}

// Where the screen no longer shows the drawn picture, a window under it
// painted there since (it moved, shrank or changed): that is the background
// now, and putting the old copy back would leave a stale piece of it behind.
void TakeWindowChanges(HDC screen, TPoint at, TBitmap& drawn, TBitmap& background) {
    const int width = drawn.Width(), height = drawn.Height();
    TBitmap now(width, height);
    BitBlt(now.Canvas().Handle(), 0, 0, width, height, screen, at.X, at.Y, SRCCOPY);
    for (int y = 0; y < height; ++y) {
        const uint32_t *shown = now.Scanline(y), *was = drawn.Scanline(y);
        uint32_t* under = background.Scanline(y);
        for (int x = 0; x < width; ++x)
            if ((shown[x] ^ was[x]) & 0xFFFFFF) under[x] = shown[x];
    }
}

} // namespace

TLTDragImage::~TLTDragImage() {
    EndDrag();
}

void TLTDragImage::PrepareDrag(TBitmap& source, TPoint position, TPoint hotSpot,
                               IDataObject* dataObject) {
    int width = source.Width(), height = source.Height();

    States &= ~dgSystemSupport;
    if (dataObject) {
        if (auto helper = CreateDragSourceHelper()) {
            States |= dgSystemSupport;
            TShDragImage image;
            image.DragImageSize = {width, height};
            image.Offset = {width / 2, height / 2};
            image.DragImage = CreateBitmap(width, height, 32);
            image.DragImage->Bits = source.Handle()->Bits;
            image.ColorKey = ColorToRGB(ColorKey);
            if (helper->InitializeFromBitmap(image, dataObject) != S_OK) {
                DeleteObject(image.DragImage);
                States &= ~dgSystemSupport;
            }
        }
    }

    if (!ProcessorHasMMX || (States & dgSystemSupport)) return;
    LastMousePosition = hotSpot;
    Picture = std::make_unique<TBitmap>(width, height);
    BlendImage = std::make_unique<TBitmap>(width, height);
    ScreenCopy = std::make_unique<TBitmap>(width, height);
    if (PrepareBias == 0)
        BitBlt(DC(Picture), 0, 0, width, height, source.Canvas().Handle(), 0, 0, SRCCOPY);
    else
        BlendRectangle(source.Canvas().Handle(), DC(Picture), {0, 0, width, height}, {0, 0}, 0, 255,
                       PrepareBias);
    BuildAlphaChannel(source, *Picture);
    PicturePosition = position;
    States |= dgHidden | dgInDrag | dgPrepared;
}

void TLTDragImage::BuildAlphaChannel(TBitmap& source, TBitmap& target) {
    int width = target.Width(), height = target.Height();
    double m = std::max(width, height);
    int cx = width / 2, cy = height / 2;
    bool keyed = ColorKey != clNone;
    COLORREF key = ColorToRGB(ColorKey) & 0xFFFFFF;
    for (int y = 0; y < height; ++y) {
        uint32_t* row = target.Scanline(y);
        const uint32_t* src = source.Scanline(y);
        for (int x = 0; x < width; ++x) {
            double dx = (x - cx) / m, dy = (y - cy) / m;
            uint32_t alpha =
                uint32_t(std::lround(255 * std::exp(-8 * std::sqrt(dx * dx + dy * dy))));
            uint32_t p = src[x];
            if (keyed && RGB((p >> 16) & 255, (p >> 8) & 255, p & 255) == key) alpha = 0;
            row[x] = (row[x] & 0xFFFFFF) | alpha << 24;
        }
    }
}

void TLTDragImage::BlendAndDraw(HDC screenDC) {
    int width = PictureWidth(), height = PictureHeight();
    BitBlt(DC(BlendImage), 0, 0, width, height, DC(ScreenCopy), 0, 0, SRCCOPY);
    // The picture's own alpha counts only when it fades or has a colour key.
    int mode = Fade || ColorKey != clNone ? 2 : 0;
    BlendRectangle(DC(Picture), DC(BlendImage), {0, 0, width, height}, {0, 0}, mode, Transparency,
                   BlendBias);
    BitBlt(screenDC, PicturePosition.X, PicturePosition.Y, width, height, DC(BlendImage), 0, 0,
           SRCCOPY);
}

bool TLTDragImage::DragTo(TPoint p, bool forceRepaint) {
    int deltaX = Restriction == rmVerticalOnly ? 0 : LastMousePosition.X - p.X;
    int deltaY = Restriction == rmHorizontalOnly ? 0 : LastMousePosition.Y - p.Y;
    bool result = deltaX != 0 || deltaY != 0 || forceRepaint;
    if (!result) return false;

    if (IsVisible()) {
        HDC screen = GetDC(0);
        TakeWindowChanges(screen, PicturePosition, *BlendImage, *ScreenCopy);
        int width = PictureWidth(), height = PictureHeight();
        if (std::abs(deltaX) >= width || std::abs(deltaY) >= height || forceRepaint) {
            // No overlap to reuse: put the whole old area back and take the whole new one.
            BitBlt(screen, PicturePosition.X, PicturePosition.Y, width, height, DC(ScreenCopy), 0,
                   0, SRCCOPY);
            if (forceRepaint && Owner && Owner->HandleAllocated())
                UpdateWindow(Owner->WindowHandle());
            PicturePosition.X -= deltaX;
            PicturePosition.Y -= deltaY;
            BitBlt(DC(ScreenCopy), 0, 0, width, height, screen, PicturePosition.X,
                   PicturePosition.Y, SRCCOPY);
        } else {
            TRect clip, scroll, sampleA, sampleB, draw, erase;
            ComputeDragRects(width, height, deltaX, deltaY, clip, scroll, sampleA, sampleB, draw,
                             erase);
            // Restore what the picture uncovers.
            if (deltaX != 0) CopyPart(screen, PicturePosition, DC(ScreenCopy), {0, 0}, draw);
            if (deltaY != 0) CopyPart(screen, PicturePosition, DC(ScreenCopy), {0, 0}, erase);
            // Shift the kept background; the work bitmap holds it meanwhile so
            // the copy never reads what it has just written.
            scroll = IntersectRects(scroll, clip);
            if (!scroll.IsEmpty()) {
                BitBlt(DC(BlendImage), scroll.Left, scroll.Top, scroll.Width(), scroll.Height(),
                       DC(ScreenCopy), scroll.Left, scroll.Top, SRCCOPY);
                BitBlt(DC(ScreenCopy), scroll.Left + deltaX, scroll.Top + deltaY, scroll.Width(),
                       scroll.Height(), DC(BlendImage), scroll.Left, scroll.Top, SRCCOPY);
            }
            PicturePosition.X -= deltaX;
            PicturePosition.Y -= deltaY;
            // Capture what it newly covers.
            if (deltaX != 0) CopyPart(DC(ScreenCopy), {0, 0}, screen, PicturePosition, sampleA);
            if (deltaY != 0) CopyPart(DC(ScreenCopy), {0, 0}, screen, PicturePosition, sampleB);
        }
        BlendAndDraw(screen);
        ReleaseDC(0, screen);
    }
    LastMousePosition = p;
    return result;
}

void TLTDragImage::ShowPicture() {
    if (States != (dgHidden | dgInDrag | dgPrepared)) return;
    States &= ~dgHidden;
    HDC screen = GetDC(0);
    BitBlt(DC(ScreenCopy), 0, 0, PictureWidth(), PictureHeight(), screen, PicturePosition.X,
           PicturePosition.Y, SRCCOPY);
    BlendAndDraw(screen);
    ReleaseDC(0, screen);
}

void TLTDragImage::HidePicture() {
    if (!IsVisible()) return;
    States |= dgHidden;
    HDC screen = GetDC(0);
    TakeWindowChanges(screen, PicturePosition, *BlendImage, *ScreenCopy);
    BitBlt(screen, PicturePosition.X, PicturePosition.Y, PictureWidth(), PictureHeight(),
           DC(ScreenCopy), 0, 0, SRCCOPY);
    ReleaseDC(0, screen);
}

void TLTDragImage::EndDrag() {
    HidePicture();
    States &= ~(dgInDrag | dgPrepared);
    Picture.reset();
    BlendImage.reset();
    ScreenCopy.reset();
}

TRect TLTDragImage::PictureRect() const {
    if (!IsVisible()) return {};
    return Bounds(PicturePosition.X, PicturePosition.Y, PictureWidth(), PictureHeight());
}

void TLTDragImage::RecaptureScreenCopy(TWinControl& tree, TRect r, HRGN visibleRegion,
                                       bool captureNCArea, bool reshow) {
    if (!IsVisible() || !tree.HandleAllocated()) return;
    HWND wnd = tree.WindowHandle();
    TPoint origin{};
    MapWindowPoints(wnd, 0, &origin, 1);
    TRect part = IntersectRects(r.Offset(origin.X, origin.Y), PictureRect());
    HDC dc = DC(ScreenCopy);
    int saved = SaveDC(dc);
    // The visible region arrives in screen pixels; the copy's pixels start at the picture.
    HRGN clip = nullptr;
    if (visibleRegion) {
        clip = CreateRectRgn(0, 0, 0, 0);
        for (const TRect& piece : visibleRegion->Rects)
            clip->Rects.push_back(piece.Offset(-PicturePosition.X, -PicturePosition.Y));
        SelectClipRgn(dc, clip);
    }
    if (captureNCArea) {
        TRect window;
        GetWindowRect(wnd, window);
        HDC windowDC = GetWindowDC(wnd);
        BitBlt(dc, window.Left - PicturePosition.X, window.Top - PicturePosition.Y, window.Width(),
               window.Height(), windowDC, 0, 0, SRCCOPY);
        ReleaseDC(wnd, windowDC);
    }
    if (!part.IsEmpty()) {
        // The tree paints the part in its own client coordinates.
        TRect local = part.Offset(-PicturePosition.X, -PicturePosition.Y);
        IntersectClipRect(dc, local.Left, local.Top, local.Right, local.Bottom);
        SetWindowOrgEx(dc, PicturePosition.X - origin.X, PicturePosition.Y - origin.Y);
        tree.PaintWindow(dc);
    }
    RestoreDC(dc, saved);
    SelectClipRgn(dc, nullptr);
    if (clip) DeleteObject(clip);
    if (reshow) {
        HDC screen = GetDC(0);
        BlendAndDraw(screen);
        ReleaseDC(0, screen);
    }
}

bool TLTDragImage::WillMove(TPoint p) const {
    if (!IsVisible()) return false;
    int deltaX = Restriction == rmVerticalOnly ? 0 : LastMousePosition.X - p.X;
    int deltaY = Restriction == rmHorizontalOnly ? 0 : LastMousePosition.Y - p.Y;
    return deltaX != 0 || deltaY != 0;
}

bool TLTDragImage::IsVisible() const {
    return (States & (dgInDrag | dgPrepared)) == (dgInDrag | dgPrepared) &&
           !(States & (dgHidden | dgSystemSupport));
}

} // namespace nuq

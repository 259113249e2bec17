#include "foundation/gui/fhWinUtils.h"

#include "platform/ScopeGuard.h"

namespace nuq {

namespace {

void MoveWindowOrg(HDC dc, int dx, int dy) {
    TPoint p;
    GetWindowOrgEx(dc, p);
    SetWindowOrgEx(dc, p.X - dx, p.Y - dy);
}

} // namespace

COLORREF PaletteColor(TColor color) {
    return ColorToRGB(color) | 0x02000000;
}

void CopyParentImage(TControl* control, TCanvas& dest) {
    if (!control || !control->Parent()) return;
    TWinControl* parent = control->Parent();
    parent->ControlState |= csPaintCopy;
    int x = control->Left(), y = control->Top();
    TRect bounds = control->BoundsRect();
    HDC dc = dest.Handle();
    int saved = SaveDC(dc);
    MoveWindowOrg(dc, -x, -y);
    TRect client = parent->ClientRect();
    IntersectClipRect(dc, 0, 0, client.Width(), client.Height());
    parent->Perform(WM_ERASEBKGND, WPARAM(dc), 0);
    parent->PaintWindow(dc);
    RestoreDC(dc, saved);
    for (TControl* c : std::vector<TControl*>(parent->Controls())) {
        if (c == control) break;
        if (c->IsWindowed() || !c->Visible() || IntersectRects(bounds, c->BoundsRect()).IsEmpty())
            continue;
        c->ControlState |= csPaintCopy;
        int s = SaveDC(dc);
        MoveWindowOrg(dc, c->Left() - x, c->Top() - y);
        IntersectClipRect(dc, 0, 0, c->Width(), c->Height());
        c->Perform(WM_PAINT, WPARAM(dc), 0);
        RestoreDC(dc, s);
        c->ControlState &= ~csPaintCopy;
    }
    parent->ControlState &= ~csPaintCopy;
}

void StretchBltTransparent(HDC dstDC, int dstX, int dstY, int dstW, int dstH, HDC srcDC, int srcX,
                           int srcY, int srcW, int srcH, HPALETTE palette,
                           COLORREF transparentColor) {
    if (dstW <= 0 || dstH <= 0 || srcW <= 0 || srcH <= 0) return;
    HPALETTE oldPal = nullptr;
    if (palette) {
        oldPal = SelectPalette(dstDC, palette, true);
        RealizePalette(dstDC);
    }
    // The source's colour pixels.
    HDC imageDC = CreateCompatibleDC(dstDC);
    HBITMAP image = CreateBitmap(srcW, srcH, 32);
    HGDIOBJ oldImage = SelectObject(imageDC, image);
    SetMapMode(srcDC, GetMapMode(dstDC));
    SetMapMode(imageDC, GetMapMode(dstDC));
    BitBlt(imageDC, 0, 0, srcW, srcH, srcDC, srcX, srcY, SRCCOPY);
    // Masks: 1 where the source is transparent, and the inverse.
    COLORREF oldBk = SetBkColor(imageDC, transparentColor & 0xFFFFFF);
    HDC maskDC = CreateCompatibleDC(dstDC);
    HBITMAP mask = CreateBitmap(srcW, srcH, 1);
    HGDIOBJ oldMask = SelectObject(maskDC, mask);
    BitBlt(maskDC, 0, 0, srcW, srcH, imageDC, 0, 0, SRCCOPY);
    // The background goes back to white before the inverse mask is applied,
    // or the opaque pixels would be ANDed with the transparent colour.
    SetBkColor(imageDC, oldBk);
    HDC invDC = CreateCompatibleDC(dstDC);
    HBITMAP inv = CreateBitmap(srcW, srcH, 1);
    HGDIOBJ oldInv = SelectObject(invDC, inv);
    BitBlt(invDC, 0, 0, srcW, srcH, maskDC, 0, 0, NOTSRCCOPY);
    // What the destination shows now.
    HDC workDC = CreateCompatibleDC(dstDC);
    HBITMAP work = CreateBitmap(dstW, dstH, 32);
    HGDIOBJ oldWork = SelectObject(workDC, work);
    BitBlt(workDC, 0, 0, dstW, dstH, dstDC, dstX, dstY, SRCCOPY);
    StretchBlt(workDC, 0, 0, dstW, dstH, maskDC, 0, 0, srcW, srcH, SRCAND);
    BitBlt(imageDC, 0, 0, srcW, srcH, invDC, 0, 0, SRCAND);
    StretchBlt(workDC, 0, 0, dstW, dstH, imageDC, 0, 0, srcW, srcH, SRCPAINT);
    BitBlt(dstDC, dstX, dstY, dstW, dstH, workDC, 0, 0, SRCCOPY);
    for (auto [dc, old, bmp] :
         {std::tuple{workDC, oldWork, work}, std::tuple{invDC, oldInv, inv},
          std::tuple{maskDC, oldMask, mask}, std::tuple{imageDC, oldImage, image}}) {
        SelectObject(dc, old);
        DeleteDC(dc);
        DeleteObject(bmp);
    }
    if (palette) SelectPalette(dstDC, oldPal, true);
}

void DrawTransparentBitmapRect(TCanvas& dest, TBitmap& bitmap, TColor transparentColor, int dstX,
                               int dstY, int dstW, int dstH, int srcX, int srcY, int srcW,
                               int srcH) {
    if (dstW < 1) dstW = bitmap.Width();
    if (dstH < 1) dstH = bitmap.Height();
    if (srcW < 1 || srcH < 1) {
        srcX = srcY = 0;
        srcW = bitmap.Width();
        srcH = bitmap.Height();
    }
    HDC dc = dest.Handle();
    if (!bitmap.Monochrome()) SetStretchBltMode(dc, COLORONCOLOR);
    TCanvas& canvas = bitmap.Canvas();
    canvas.Lock();
    TPoint oldOrg;
    SetWindowOrgEx(canvas.Handle(), 0, 0, &oldOrg);
    TScopeExit restore([&] {
        SetWindowOrgEx(canvas.Handle(), oldOrg.X, oldOrg.Y);
        canvas.Unlock();
    });
    if (transparentColor == clNone) {
        StretchBlt(dc, dstX, dstY, dstW, dstH, canvas.Handle(), srcX, srcY, srcW, srcH,
                   dest.CopyMode);
    } else {
        COLORREF tc;
        if (bitmap.Monochrome())
            tc = 0xFFFFFF;
        else if (transparentColor == clDefault)
            tc = COLORREF(canvas.Pixel(0, bitmap.Height() - 1));
        else
            tc = ColorToRGB(transparentColor);
        StretchBltTransparent(dc, dstX, dstY, dstW, dstH, canvas.Handle(), srcX, srcY, srcW, srcH,
                              bitmap.Palette(), tc);
    }
}

void DrawTransparentBitmap(TCanvas& dest, int dstX, int dstY, int dstW, int dstH, const TRect& src,
                           TBitmap& bitmap, TColor transparentColor) {
    DrawTransparentBitmapRect(dest, bitmap, transparentColor, dstX, dstY, dstW, dstH, src.Left,
                              src.Top, src.Width(), src.Height());
}

} // namespace nuq

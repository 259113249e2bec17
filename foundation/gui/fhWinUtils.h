#pragma once
// Drawing for controls without a window of their own that must look
// transparent: what the parent and the graphic siblings below would show,
// and bitmaps drawn (stretched) without the pixels of one colour.

#include "platform/gui/Controls.h"

namespace nuq {

// Paints into Dest what Control's parent and the windowless siblings below
// Control show under it. Nothing happens without a control or a parent.
void CopyParentImage(TControl* control, TCanvas& dest);

// A masked stretched copy: every source pixel of TransparentColor (a
// red-green-blue value) leaves the destination as it was.
void StretchBltTransparent(HDC dstDC, int dstX, int dstY, int dstW, int dstH, HDC srcDC, int srcX, int srcY,
                           int srcW, int srcH, HPALETTE palette, COLORREF transparentColor);

// A destination size below 1 is the bitmap's size; a source size below 1
// selects the whole bitmap. TransparentColor clNone copies plainly with
// Dest's copy mode; clDefault takes the bitmap's bottom-left pixel; a
// monochrome bitmap is always transparent in white.
void DrawTransparentBitmapRect(TCanvas& dest, TBitmap& bitmap, TColor transparentColor, int dstX, int dstY,
                               int dstW, int dstH, int srcX, int srcY, int srcW, int srcH);
void DrawTransparentBitmap(TCanvas& dest, int dstX, int dstY, int dstW, int dstH, const TRect& src, TBitmap& bitmap,
                           TColor transparentColor);

// The colour's red-green-blue value with the palette-relative flag.
COLORREF PaletteColor(TColor color);

} // namespace nuq

// The pieces of a painted row: expand buttons, tree lines, check and node
// images, selection and focus marks and the drop mark; and the button
// bitmaps and dotted line brush they are drawn with.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include <algorithm>

namespace nuq {

namespace {

// A dotted focus frame drawn in the inverting colours, whatever the context had.
void DrawInvertedFocusRect(HDC dc, const TRect& r) {
    COLORREF text = SetTextColor(dc, 0xFFFFFF), bk = SetBkColor(dc, 0);
    DrawFocusRect(dc, r);
    SetTextColor(dc, text);
    SetBkColor(dc, bk);
}

// The part of a content rectangle a text of the given width takes, by alignment.
TRect TextPart(TRect inner, int width, TAlignment alignment) {
    switch (alignment) {
    case taLeftJustify:
        inner.Right = std::min(inner.Right, inner.Left + width);
        break;
    case taRightJustify:
        inner.Left = std::max(inner.Left, inner.Right - width);
        break;
    case taCenter: {
        int left = (inner.Left + inner.Right - width) / 2;
        inner.Left = std::max(inner.Left, left);
        inner.Right = std::min(inner.Right, left + width);
        break;
    }
    }
    return inner;
}

// Check image indexes by type row (check box, radio button, push button),
// state, and disabled / disabled hot / enabled / enabled hot.
constexpr int CheckImageTable[3][6][4] = {
    {{12, 12, 9, 10},
     {12, 12, 11, 11},
     {16, 16, 13, 14},
     {16, 16, 15, 15},
     {20, 20, 17, 18},
     {20, 20, 19, 19}},
    {{4, 4, 1, 2}, {4, 4, 3, 3}, {8, 8, 5, 6}, {8, 8, 7, 7}, {20, 20, 17, 18}, {20, 20, 19, 19}},
    {{24, 24, 21, 22},
     {24, 24, 23, 23},
     {24, 24, 21, 22},
     {24, 24, 23, 23},
     {20, 20, 17, 18},
     {20, 20, 19, 19}},
};

int CheckTableRow(TCheckType type) {
    switch (type) {
    case ctRadioButton:
        return 1;
    case ctButton:
        return 2;
    default:
        return 0; // tri-state boxes look like plain ones
    }
}

// Polygon with the canvas's own pen and brush.
void CanvasPolygon(TCanvas& canvas, const TPoint* points, int count) {
    HDC dc = canvas.Handle();
    HGDIOBJ oldPen = SelectObject(dc, canvas.Pen.Handle());
    HGDIOBJ oldBrush = SelectObject(dc, canvas.Brush.Handle());
    Polygon(dc, points, count);
    SelectObject(dc, oldPen);
    SelectObject(dc, oldBrush);
}

// Blends a colour over a rectangle of the canvas at the given opacity (0..255);
// false when the canvas has no pixels of its own to blend into.
bool BlendCanvasRect(TCanvas& canvas, TRect r, TColor color, int alpha) {
    HDC dc = canvas.Handle();
    TBitmapInfo bits;
    if (!dc || !GetBitmapInfo(GetDCBitmap(dc), bits) || bits.BitsPerPixel != 32 || !bits.Bits)
        return false;
    TRect clip = canvas.ClipRect();
    r = {std::max(r.Left, clip.Left), std::max(r.Top, clip.Top), std::min(r.Right, clip.Right),
         std::min(r.Bottom, clip.Bottom)};
    if (r.Width() <= 0 || r.Height() <= 0) return true;
    BlendRectangle(dc, dc, r, {r.Left, r.Top}, 3, alpha, int(ColorToRGB(color)));
    return true;
}

} // namespace

bool TBaseLazyTree::TreeFocused() const {
    return WindowHandle() && GetFocus() == WindowHandle();
}

int TBaseLazyTree::GetCheckImage(PLazyNode node, TCheckType imgCheckType, TCheckState imgCheckState,
                                 bool imgEnabled) {
    bool hot = false;
    if (node) {
        if (node->CheckType == ctNone) return -1;
        imgCheckType = node->CheckType;
        imgCheckState = node->CheckState;
        imgEnabled = !(node->States & vsDisabled) && Enabled;
        hot = node == FCurrentHotNode;
    } else if (imgCheckType == ctNone) {
        return -1;
    }
    int column = (imgEnabled ? 2 : 0) + (hot ? 1 : 0);
    return CheckImageTable[CheckTableRow(imgCheckType)][std::min<int>(imgCheckState, 5)][column];
}

void TBaseLazyTree::GetImageIndex(TLTPaintInfo& info, TLTImageKind kind,
                                  TLTImageInfoIndex infoIndex, TCustomImageList* defaultImages) {
    TLTImageInfo& slot = info.ImageInfo[infoIndex];
    bool ghosted = false;
    int index = -1;
    TCustomImageList* list = DoGetImageIndex(info.Node, kind, info.Column, ghosted, index);
    slot.Index = index < 0 ? -1 : index;
    slot.Ghosted = ghosted;
    slot.Images = list ? list : defaultImages;
}

void TBaseLazyTree::PaintNodeButton(TCanvas& canvas, PLazyNode node, TColumnIndex, TRect r,
                                    int horizontalOffset, int verticalOffset, TBiDiMode bidiMode) {
    bool expanded = node->States & vsExpanded;
    // The hot forms only while the mouse is over this very button.
    bool hot =
        (FOptions->PaintOptions() & toHotTrack) && node == FCurrentHotNode && FHotNodeButtonHit;
    TBitmap& bitmap = expanded ? (hot ? *FHotMinusBM : *FMinusBM) : (hot ? *FHotPlusBM : *FPlusBM);
    int x = bidiMode == bdLeftToRight ? r.Left + horizontalOffset
                                      : r.Right - horizontalOffset - bitmap.Width();
    // Key-coloured pixels let the row show through: a selected or coloured row
    // keeps its colour around a transparent button.
    const uint32_t key = ColorToRGB(ButtonKeyColor) & 0xFFFFFF;
    HDC dc = canvas.Handle();
    const int y = r.Top + verticalOffset;
    for (int py = 0; py < bitmap.Height(); ++py)
        for (int px = 0; px < bitmap.Width(); ++px) {
            COLORREF c = ColorToRGB(bitmap.Canvas().Pixel(px, py));
            if ((c & 0xFFFFFF) != key) SetPixel(dc, x + px, y + py, c);
        }
}

namespace {

// A dotted line's rectangle filled with the dotted brush. A brush origin counts
// in device pixels, so a canvas with an origin of its own (a drag image's copy
// of the screen) moves it along, or the dots fall between those the window shows.
void FillDotted(HDC dc, const TRect& r, TPoint origin, TColor background, HBRUSH brush) {
    TPoint window, viewport, old;
    GetWindowOrgEx(dc, window);
    GetViewportOrgEx(dc, viewport);
    SetBkColor(dc, ColorToRGB(background));
    SetBrushOrgEx(dc, origin.X - window.X + viewport.X, origin.Y - window.Y + viewport.Y, &old);
    FillRect(dc, r, brush);
    SetBrushOrgEx(dc, old.X, old.Y);
}

} // namespace

void TBaseLazyTree::DrawDottedHLine(const TLTPaintInfo& info, int left, int right, int top) {
    if (!FDottedBrush) PrepareBitmaps(false, true);
    FillDotted(info.Canvas->Handle(),
               {std::min(left, right), top, std::max(left, right) + 1, top + 1}, info.BrushOrigin,
               Color, FDottedBrush);
}

void TBaseLazyTree::DrawDottedVLine(const TLTPaintInfo& info, int top, int bottom, int left) {
    if (!FDottedBrush) PrepareBitmaps(false, true);
    FillDotted(info.Canvas->Handle(),
               {left, std::min(top, bottom), left + 1, std::max(top, bottom) + 1}, info.BrushOrigin,
               Color, FDottedBrush);
}

void TBaseLazyTree::PaintTreeLines(const TLTPaintInfo& info, int vAlignment, int indentSize,
                                   const TLineImage& lineImage) {
    int step = int(FIndent);
    int x = info.IndentX;
    bool reverse = info.RightToLeft;
    if (reverse) {
        step = -step;
        x = info.CellRect.Right - int(FIndent);
    }
    int count = std::min<int>(indentSize, int(lineImage.size()));
    int y = info.CellRect.Top;
    int h = int(info.Node->NodeHeight);
    HDC dc = info.Canvas->Handle();
    if (FLineMode == lmNormal) {
        SetTextColor(dc, ColorToRGB(FColors->Color(TLTColors::TreeLineColor)));
        for (int i = 0; i < count; ++i, x += step)
            DrawLineImage(info, x, y, h, vAlignment, lineImage[size_t(i)], reverse);
        return;
    }
    if (!(info.PaintOptions & poBands)) return;
    // Bands: derived from the line image, deepest level first.
    TLineImage bands(size_t(count), ltNone);
    bool open = (info.Node->States & vsExpanded) && !(info.Node->States & vsAllChildrenHidden);
    TLTLineType deeperLine = ltNone, deeperBand = ltNone;
    for (int i = count - 1; i >= 0; --i) {
        TLTLineType line = lineImage[size_t(i)], band = ltNone;
        if (open) {
            band = ltLeft;
        } else {
            switch (line) {
            case ltBottomRight:
            case ltTopDownRight:
            case ltRight:
            case ltTopRight:
                band = ltLeftBottom;
                break;
            case ltNone:
            case ltTopDown:
                band = (deeperLine == ltNone || deeperLine == ltTopRight) ? deeperBand : ltLeft;
                break;
            case ltLeft:
            case ltLeftBottom:
                band = ltNone;
                break;
            }
        }
        bands[size_t(i)] = band;
        deeperLine = line;
        deeperBand = band;
    }
    SetTextColor(dc, ColorToRGB(FColors->Color(TLTColors::GridLineColor)));
    for (int i = 0; i < count; ++i, x += step)
        DrawLineImage(info, x, y, h - 1, vAlignment, bands[size_t(i)], reverse);
}

void TBaseLazyTree::PaintCheckImage(const TLTPaintInfo& info) {
    const TLTImageInfo& slot = info.ImageInfo[iiCheck];
    if (!slot.Images || slot.Index < 0) return;
    TCustomImageList& list = *slot.Images;
    TColor oldBk = list.BkColor;
    if (info.Node->States & vsSelected) {
        bool focused = TreeFocused() || (FOptions->PaintOptions() & toPopupMode);
        list.BkColor = FColors->Color(focused ? TLTColors::FocusedSelectionColor
                                              : TLTColors::UnfocusedSelectionColor);
    }
    list.Draw(*info.Canvas, slot.XPos, slot.YPos, slot.Index);
    list.BkColor = oldBk;
}

void TBaseLazyTree::PaintImage(TLTPaintInfo& info, TLTImageInfoIndex imageInfoIndex,
                               bool doOverlay) {
    TLTImageInfo& slot = info.ImageInfo[imageInfoIndex];
    if (!slot.Images || slot.Index < 0) return;
    PLazyNode node = info.Node;
    bool cut = (node->States & vsCutOrCopy) && (FStates & TS(tsCutPending));
    bool selected = node->States & vsSelected;
    if (doOverlay)
        GetImageIndex(info, ikOverlay, iiOverlay, FImages);
    else
        info.ImageInfo[iiOverlay].Index = -1;
    TCustomImageList& list = *slot.Images;
    TColor oldBk = list.BkColor;
    auto oldStyle = list.DrawingStyle;
    list.DrawingStyle = TCustomImageList::dsTransparent;
    if (!selected || slot.Ghosted || cut) list.BkColor = Color;
    bool enabled = !(node->States & vsDisabled) && Enabled;
    // Ghosted, cut and selected images let some of the row show through them.
    const TLTPaintOptions paint = FOptions->PaintOptions();
    const bool focusedPainting = TreeFocused() || (paint & toGhostedIfUnfocused);
    const bool selectedLook = selected && !(FOptions->SelectionOptions() & toFullRowSelect) &&
                              !(FOptions->MiscOptions() & toGridExtensions);
    const UINT blend =
        (paint & toUseBlendedImages) && focusedPainting && (slot.Ghosted || selectedLook || cut)
            ? UINT(ILD_BLEND25)
            : 0;
    list.DrawBlended(*info.Canvas, slot.XPos, slot.YPos, slot.Index, blend, enabled);
    const TLTImageInfo& overlay = info.ImageInfo[iiOverlay];
    if (overlay.Index >= 0 && overlay.Images) {
        auto overlayStyle = overlay.Images->DrawingStyle;
        overlay.Images->DrawingStyle = TCustomImageList::dsTransparent;
        overlay.Images->DrawBlended(*info.Canvas, slot.XPos, slot.YPos, overlay.Index, blend,
                                    enabled);
        overlay.Images->DrawingStyle = overlayStyle;
    }
    list.BkColor = oldBk;
    list.DrawingStyle = oldStyle;
}

void TBaseLazyTree::PaintSelectionRectangle(TCanvas& canvas, int windowOrgX,
                                            const TRect& selectionRect, TRect targetRect) {
    TRect r{std::min(selectionRect.Left, selectionRect.Right),
            std::min(selectionRect.Top, selectionRect.Bottom),
            std::max(selectionRect.Left, selectionRect.Right),
            std::max(selectionRect.Top, selectionRect.Bottom)};
    HDC dc = canvas.Handle();
    // The blend needs the processor's help; without it the dotted band serves.
    if ((DrawSelectionMode == smBlendedRectangle || HasState(tsUseThemes)) && ProcessorHasMMX) {
        r = r.Offset(windowOrgX, 0);
        TRect clipped{std::max(r.Left, targetRect.Left), std::max(r.Top, targetRect.Top),
                      std::min(r.Right, targetRect.Right), std::min(r.Bottom, targetRect.Bottom)};
        if (clipped.Width() <= 0 || clipped.Height() <= 0) return;
        // Constant-alpha blend of the band colour over what is there.
        COLORREF blend = ColorToRGB(FColors->Color(TLTColors::SelectionRectangleBlendColor));
        int a = SelectionBlendFactor;
        for (int y = clipped.Top; y < clipped.Bottom; ++y)
            for (int x = clipped.Left; x < clipped.Right; ++x) {
                COLORREF p = GetPixel(dc, x, y);
                auto mix = [a](int s, int d) { return (s * a + d * (255 - a)) / 255; };
                SetPixel(dc, x, y,
                         RGB(mix(GetRValue(blend), GetRValue(p)),
                             mix(GetGValue(blend), GetGValue(p)),
                             mix(GetBValue(blend), GetBValue(p))));
            }
        canvas.Brush.Style = bsSolid;
        canvas.Brush.Color = FColors->Color(TLTColors::SelectionRectangleBorderColor);
        canvas.FrameRect(r);
        return;
    }
    DrawInvertedFocusRect(dc, r);
}

void TBaseLazyTree::PaintCellSelection(TLTPaintInfo& info) {
    const TLTSelectionOptions sel = FOptions->SelectionOptions();
    const TLTPaintOptions paint = FOptions->PaintOptions();
    TCanvas& canvas = *info.Canvas;
    PLazyNode node = info.Node;
    bool useColumns = FHeader->UseColumns();

    // The text's part of the content rectangle.
    const TRect inner = FOptions->MiscOptions() & toGridExtensions
                            ? info.ContentRect
                            : TextPart(info.ContentRect, info.NodeWidth, info.Alignment);
    TRect fill = (sel & toFullRowSelect) || (FOptions->MiscOptions() & toGridExtensions)
                     ? info.CellRect
                     : inner;
    if ((paint & toShowHorzGridLines) && (info.PaintOptions & poGridLines)) --fill.Bottom;
    bool focusedColumn = !useColumns || info.Column == FFocusedColumn || (sel & toFullRowSelect);
    bool focused = TreeFocused() || (paint & toPopupMode);
    const int radius = int(FSelectionCurveRadius);
    auto draw = [&](int fillIndex, int borderIndex) {
        canvas.Pen.Style = psSolid;
        canvas.Pen.Color = FColors->Color(borderIndex);
        if ((paint & toUseBlendedSelection) && ProcessorHasMMX &&
            BlendCanvasRect(canvas, fill, FColors->Color(fillIndex), SelectionBlendFactor)) {
            // The blend is the fill: only the frame goes on top.
            canvas.Brush.Style = bsClear;
        } else {
            canvas.Brush.Style = bsSolid;
            canvas.Brush.Color = FColors->Color(fillIndex);
        }
        canvas.RoundRect(fill.Left, fill.Top, fill.Right, fill.Bottom, radius, radius);
        canvas.Brush.Style = bsSolid;
    };
    if ((info.PaintOptions & poDrawSelection) && focusedColumn &&
        !(paint & toHideSelection && !focused)) {
        if (node == FDropTargetNode && (FLastDropMode == dmOnNode || (node->States & vsSelected))) {
            draw(TLTColors::DropTargetColor, TLTColors::DropTargetBorderColor);
        } else if ((node->States & vsSelected) &&
                   !(sel & toFullRowSelect && !(paint & toUseBlendedSelection))) {
            if (focused)
                draw(TLTColors::FocusedSelectionColor, TLTColors::FocusedSelectionBorderColor);
            else
                draw(TLTColors::UnfocusedSelectionColor, TLTColors::UnfocusedSelectionBorderColor);
        }
    }
    if ((info.PaintOptions & poDrawFocusRect) && !(paint & toHideFocusRect) && focused &&
        node == FFocusedNode && (!useColumns || info.Column == FFocusedColumn)) {
        DrawInvertedFocusRect(canvas.Handle(), inner);
    }
}

void TBaseLazyTree::DoPaintDropMark(TCanvas& canvas, PLazyNode, TRect r) {
    if (FLastDropMode != dmAbove && FLastDropMode != dmBelow) return;
    TPenStyle oldPen = canvas.Pen.Style;
    TColor oldBrush = canvas.Brush.Color;
    canvas.Pen.Style = psClear;
    canvas.Brush.Style = bsSolid;
    canvas.Brush.Color = FColors->Color(TLTColors::DropMarkColor);
    const int l = r.Left, t = r.Top, rt = r.Right, b = r.Bottom;
    if (FLastDropMode == dmAbove) {
        const TPoint p[6] = {{l + 2, t},      {rt - 2, t},    {rt - 2, t + 6},
                             {rt - 6, t + 2}, {l + 6, t + 2}, {l + 2, t + 6}};
        CanvasPolygon(canvas, p, 6);
    } else {
        const TPoint p[6] = {{l + 2, b - 1},  {rt - 2, b - 1}, {rt - 2, b - 8},
                             {rt - 7, b - 3}, {l + 7, b - 3},  {l + 2, b - 8}};
        CanvasPolygon(canvas, p, 6);
    }
    canvas.Pen.Style = oldPen;
    canvas.Brush.Color = oldBrush;
}

TRect TBaseLazyTree::BevelInsets() const {
    int bevel = 0;
    if (BevelKind != bkNone)
        bevel = ((BevelInner != bvNone) + (BevelOuter != bvNone)) * std::max(0, BevelWidth);
    const int band = std::max(0, BorderWidth);
    auto side = [&](unsigned edge) { return ((BevelEdges & edge) ? bevel : 0) + band; };
    return {side(beLeft), side(beTop), side(beRight), side(beBottom)};
}

void TBaseLazyTree::PaintNonClientBorder(HDC dc) {
    if (BevelKind == bkNone && BorderWidth <= 0) return;
    TRect r = FBorderBandRect;
    if (BevelKind != bkNone) {
        UINT flags = (BevelEdges & BF_RECT) | BF_ADJUST;
        if (BevelKind == bkSoft) flags |= BF_SOFT;
        if (BevelKind == bkFlat) flags |= BF_FLAT;
        if (!FCtl3D) flags |= BF_MONO;
        // Each cut is BevelWidth rings deep, the outer one first.
        auto cut = [&](TBevelCut kind, UINT raised, UINT lowered) {
            for (int i = 0; i < BevelWidth && kind != bvNone; ++i) {
                if (kind == bvSpace) {
                    TRect inner = r;
                    DrawEdge(dc, inner, raised, flags & ~(BF_SOFT | BF_FLAT | BF_MONO));
                    HBRUSH face = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
                    FillRect(dc, {r.Left, r.Top, r.Right, inner.Top}, face);
                    FillRect(dc, {r.Left, inner.Bottom, r.Right, r.Bottom}, face);
                    FillRect(dc, {r.Left, inner.Top, inner.Left, inner.Bottom}, face);
                    FillRect(dc, {inner.Right, inner.Top, r.Right, inner.Bottom}, face);
                    DeleteObject(face);
                    r = inner;
                } else {
                    DrawEdge(dc, r, kind == bvRaised ? raised : lowered, flags);
                }
            }
        };
        cut(BevelOuter, BDR_RAISEDOUTER, BDR_SUNKENOUTER);
        cut(BevelInner, BDR_RAISEDINNER, BDR_SUNKENINNER);
    }
    const int w = std::max(0, BorderWidth);
    if (w == 0 || r.Width() <= 0 || r.Height() <= 0) return;
    HBRUSH brush = CreateSolidBrush(ColorToRGB(FColors->Color(TLTColors::BorderColor)));
    const int inner = std::min(w, std::min(r.Width(), r.Height()) / 2);
    FillRect(dc, {r.Left, r.Top, r.Right, r.Top + inner}, brush);
    FillRect(dc, {r.Left, r.Bottom - inner, r.Right, r.Bottom}, brush);
    FillRect(dc, {r.Left, r.Top + inner, r.Left + inner, r.Bottom - inner}, brush);
    FillRect(dc, {r.Right - inner, r.Top + inner, r.Right, r.Bottom - inner}, brush);
    DeleteObject(brush);
}

void TBaseLazyTree::PrepareBitmaps(bool needButtons, bool needLines) {
    if (needButtons) {
        const int size = 9;
        auto build = [&](TBitmap& bm, bool plus) {
            bm.SetSize(size, size);
            TCanvas& c = bm.Canvas();
            c.Brush.Style = bsSolid;
            c.Brush.Color = ButtonKeyColor; // transparent unless a fill mode says otherwise
            if (FButtonStyle == bsRectangle && FButtonFillMode == fmTreeColor)
                c.Brush.Color = Color;
            else if (FButtonStyle == bsRectangle && FButtonFillMode == fmWindowColor)
                c.Brush.Color = clWindow;
            c.FillRect({0, 0, size, size});
            if (FButtonStyle == bsRectangle && FButtonFillMode == fmShaded) {
                if (auto shaded = LoadTreeBitmapResource(
                        plus ? "LT_XPBUTTONPLUS" : "LT_XPBUTTONMINUS", false)) {
                    bm.SetSize(shaded->Width(), shaded->Height());
                    c.Draw(0, 0, *shaded);
                    return;
                }
            }
            if (FButtonStyle == bsTriangle) {
                c.Brush.Color = clBlack;
                c.Pen.Color = clBlack;
                c.Pen.Style = psSolid;
                const TPoint minus[3] = {{0, 2}, {8, 2}, {4, 6}};
                const TPoint plusPts[3] = {{2, 0}, {6, 4}, {2, 8}};
                CanvasPolygon(c, plus ? plusPts : minus, 3);
                return;
            }
            c.Brush.Color = FColors->Color(TLTColors::TreeLineColor);
            c.FrameRect({0, 0, size, size});
            c.Pen.Style = psSolid;
            c.Pen.Color = Font.Color;
            c.MoveTo(2, size / 2);
            c.LineTo(size - 2, size / 2);
            if (plus) {
                c.MoveTo(size / 2, 2);
                c.LineTo(size / 2, size - 2);
            }
        };
        build(*FPlusBM, true);
        build(*FHotPlusBM, true);
        build(*FMinusBM, false);
        build(*FHotMinusBM, false);
    }
    if (needLines) {
        HBITMAP pattern = CreateBitmap(8, 8, 1);
        const void* custom = nullptr;
        if (FLineStyle == lsCustomStyle) DoGetLineStyle(custom);
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x) {
                bool line;
                if (FLineStyle == lsSolid)
                    line = true;
                else if (FLineStyle == lsCustomStyle && custom)
                    line = !(static_cast<const uint16_t*>(custom)[y] & (1u << (7 - x)));
                else
                    line = (x + y) % 2 == 0;
                // Pattern pixels that are 0 take the text colour, the others the background.
                pattern->Scanline(y)[x] = line ? 0u : 0xFFFFFFu;
            }
        if (FDottedBrush) DeleteObject(FDottedBrush);
        FDottedBrush = CreatePatternBrush(pattern);
        DeleteObject(pattern);
    }
}

} // namespace nuq

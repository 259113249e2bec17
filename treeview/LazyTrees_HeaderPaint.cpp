// Header painting: every visible column that meets the rectangle is painted
// into the collection's off-screen bitmap, each cell clipped to itself, and
// the rectangle goes to the target in one block transfer.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include <algorithm>

namespace nuq {

namespace {

struct TEdgeStyle {
    UINT Normal, NormalFlags, Pressed, PressedFlags, Hot, HotFlags;
};

TEdgeStyle EdgeStyle(TLTHeaderStyle style) {
    switch (style) {
    case hsThickButtons:
        return {BDR_RAISEDINNER | BDR_RAISEDOUTER, 0x380B,
                BDR_RAISEDINNER | BDR_RAISEDOUTER, 0x780F,
                BDR_RAISEDINNER | BDR_RAISEDOUTER, 0x380B};
    case hsFlatButtons:
        return {BDR_RAISEDINNER, 0x280B, BDR_SUNKENOUTER, 0x280F, BDR_RAISEDINNER, 0x280B};
    default:
        // The right side comes with the cell's right-side flag, so the last cell can go without it.
        return {BDR_RAISEDINNER, 0x380B, BDR_SUNKENOUTER, 0x280F, BDR_RAISEDINNER, 0x280B};
    }
}

void Line(HDC dc, COLORREF color, std::initializer_list<TPoint> points) {
    HPEN pen = CreatePen(PS_SOLID, 1, color);
    HGDIOBJ old = SelectObject(dc, pen);
    auto it = points.begin();
    MoveToEx(dc, it->X, it->Y);
    for (++it; it != points.end(); ++it) LineTo(dc, it->X, it->Y);
    SelectObject(dc, old);
    DeleteObject(pen);
}

void Fill(HDC dc, const TRect& r, COLORREF color) {
    HBRUSH b = CreateSolidBrush(color);
    FillRect(dc, r, b);
    DeleteObject(b);
}

TPoint ImageSize(TCustomImageList* list) {
    return list ? TPoint{list->Width(), list->Height()} : TPoint{};
}

} // namespace

// --- one cell's layout
// -------------------------------------------------------------------------------------

namespace {

// Where caption, glyph and sort glyph go inside a header cell W by H, counted
// from the cell's corner: the sizes come in, the positions go out. Glyph and
// Sort start as the caller's, which a position not placed keeps.
struct TCellLayout {
    int W, H;
    int GW, GH, SW, SH; // glyph and sort glyph
    int TW, TH, TSp;    // the caption, and the spacing after it (none without a caption)
    int Margin, Spacing;
    bool RightToLeft, UseGlyph, UseSortGlyph, SideGlyph;
    TLTHeaderColumnLayout Layout;
    TPoint Glyph, Sort;
    int TextX = 0, TextY = 0;

    void Place(TAlignment align, bool hasText) {
        if (UseSortGlyph) Sort.Y = (H - SH) / 2;
        if (!hasText && !UseGlyph) {
            Sort = {(W - SW) / 2, (H - SH) / 2};
            return;
        }
        PlaceVertically();
        if (align == taLeftJustify)
            PlaceFromLeft();
        else if (align == taCenter)
            PlaceCentred();
        else
            PlaceFromRight();
    }

    void PlaceVertically() {
        if (SideGlyph || !UseGlyph) {
            Glyph.Y = (H - GH) / 2;
            TextY = TH >= H ? 0 : (H - TH) / 2;
            return;
        }
        int y0 = (H - GH - TH - TSp) / 2;
        if (Layout == blGlyphTop) {
            Glyph.Y = y0;
            TextY = y0 + GH + TSp;
        } else {
            TextY = y0;
            Glyph.Y = y0 + TH + TSp;
        }
    }

    void PlaceFromLeft() {
        int x = Margin;
        if (RightToLeft && UseSortGlyph) {
            Sort.X = x;
            x += SW + Spacing;
        }
        if (!SideGlyph) {
            TextX = x;
            if (UseGlyph) {
                Glyph.X = std::max((W - GW) / 2, x);
                x = std::max(TextX + TW + TSp, Glyph.X + GW + Spacing);
            } else {
                x = TextX + TW + TSp;
            }
        } else {
            if (UseGlyph && Layout == blGlyphLeft) {
                Glyph.X = x;
                x += GW + Spacing;
            }
            TextX = x;
            x += TSp + TW;
            if (UseGlyph && Layout == blGlyphRight) {
                Glyph.X = x;
                x += GW + Spacing;
            }
        }
        if (!RightToLeft && UseSortGlyph) Sort.X = x;
    }

    void PlaceCentred() {
        if (SideGlyph) {
            int start = (W - GW - TSp - TW) / 2;
            TextX = start;
            if (UseGlyph && Layout == blGlyphLeft) {
                Glyph.X = start;
                TextX = start + GW + TSp;
            } else if (UseGlyph) {
                Glyph.X = start + TSp + TW;
            }
        } else {
            Glyph.X = (W - GW) / 2;
            TextX = (W - TW) / 2;
            if (UseSortGlyph) {
                Glyph.X -= SW / 2;
                TextX -= SW / 2;
            }
        }
        int l = TextX, r = TextX + TW;
        if (UseGlyph) {
            l = std::min(l, Glyph.X);
            r = std::max(r, Glyph.X + GW);
        }
        if (UseSortGlyph) Sort.X = RightToLeft ? l - Spacing - SW : r + Spacing;
    }

    void PlaceFromRight() {
        int x = W - Margin;
        if (!RightToLeft && UseSortGlyph) {
            Sort.X = x - SW;
            x = Sort.X - Spacing;
        }
        if (SideGlyph) {
            if (UseGlyph && Layout == blGlyphRight) {
                Glyph.X = x - GW;
                x = Glyph.X - Spacing;
            }
            TextX = x - TW;
            x = TextX - TSp;
            if (UseGlyph && Layout == blGlyphLeft) {
                Glyph.X = x - GW;
                x = Glyph.X - Spacing;
            }
        } else {
            TextX = x - TW;
            if (UseGlyph) {
                Glyph.X = (W - GW) / 2;
                if (Glyph.X + GW + Spacing > x) Glyph.X = x - Spacing - GW;
                x = std::min(TextX - TSp, Glyph.X - Spacing);
            } else {
                x = TextX - TSp;
            }
        }
        if (RightToLeft && UseSortGlyph) Sort.X = x - SW;
    }

    // Keeps the glyphs inside the margins; what they leave between them is the
    // caption's, which gives way to them.
    void KeepInsideMargins(int& minLeft, int& maxRight) {
        minLeft = Margin;
        maxRight = W - Margin;
        if (UseSortGlyph) {
            if (!RightToLeft) {
                if (Sort.X + SW > maxRight) Sort.X = maxRight - SW;
                maxRight = Sort.X - Spacing;
            }
            if (Sort.X < minLeft) Sort.X = minLeft;
            if (RightToLeft) minLeft = Sort.X + SW + Spacing;
        }
        if (UseGlyph) {
            if (Glyph.X + GW > maxRight) Glyph.X = maxRight - GW;
            if (Layout == blGlyphRight) maxRight = Glyph.X - Spacing;
            if (Glyph.X < minLeft) Glyph.X = minLeft;
            if (Layout == blGlyphLeft) minLeft = Glyph.X + GW + Spacing;
        }
    }
};

} // namespace

void TLazyTreeColumn::MeasureCaption(HDC dc, bool wrap, UINT drawFormat, int& width, int& height) {
    if (wrap) {
        if (FCaptionText.empty()) FCaptionText = FText;
        TRect b{0, 0, 1, 1};
        DrawTextW(dc, FCaptionText.c_str(), int(FCaptionText.size()), b, drawFormat | DT_CALCRECT);
        width = b.Width();
        height = b.Height();
    } else {
        FCaptionText = FText;
        TPoint size;
        GetTextExtentPoint32W(dc, FCaptionText.c_str(), int(FCaptionText.size()), size);
        width = size.X + 2;
        height = size.Y;
    }
}

void TLazyTreeColumn::LayoutCell(HDC dc, const TRect& client, bool useGlyph, bool useSortGlyph,
                                 TPoint& glyphPos, TPoint& sortGlyphPos, TRect& textBounds,
                                 UINT drawFormat) {
    TBaseLazyTree* tree = Tree();
    TLTHeader* header = Header();
    bool hasText = !FText.empty();
    if (!hasText && !useGlyph && !useSortGlyph) return;
    TPoint glyphSize = !useGlyph           ? TPoint{}
                       : FCheckBox && tree ? ImageSize(tree->CheckImages)
                                           : ImageSize(header ? header->Images() : nullptr);
    TPoint sortSize = useSortGlyph ? ImageSize(UtilityImages) : TPoint{};
    bool rtl = IsRightToLeftReading();
    TAlignment align = CaptionAlignment();
    if (rtl && align == taLeftJustify)
        align = taRightJustify;
    else if (rtl && align == taRightJustify)
        align = taLeftJustify;
    bool wrap = FOptions & coWrapCaption;

    int tw = 0, th = 0;
    if (hasText) MeasureCaption(dc, wrap, drawFormat, tw, th);
    TCellLayout layout{.W = client.Width(),
                       .H = client.Height(),
                       .GW = glyphSize.X,
                       .GH = glyphSize.Y,
                       .SW = sortSize.X,
                       .SH = sortSize.Y,
                       .TW = tw,
                       .TH = th,
                       .TSp = hasText ? FSpacing : 0,
                       .Margin = FMargin,
                       .Spacing = FSpacing,
                       .RightToLeft = rtl,
                       .UseGlyph = useGlyph,
                       .UseSortGlyph = useSortGlyph,
                       .SideGlyph = FLayout == blGlyphLeft || FLayout == blGlyphRight,
                       .Layout = FLayout,
                       .Glyph = glyphPos,
                       .Sort = sortGlyphPos};
    layout.Place(align, hasText);
    int minLeft, maxRight;
    layout.KeepInsideMargins(minLeft, maxRight);

    glyphPos = {layout.Glyph.X + client.Left, layout.Glyph.Y + client.Top};
    sortGlyphPos = {layout.Sort.X + client.Left, layout.Sort.Y + client.Top};
    textBounds = TRect{0, 0, tw, th}.Offset(std::max(layout.TextX, minLeft), layout.TextY);
    if (textBounds.Right > maxRight) textBounds.Right = maxRight;
    textBounds = textBounds.Offset(client.Left, client.Top);
    if (wrap && hasText) {
        FCaptionText = WrapWideText(dc, FText, textBounds, rtl, drawFormat);
        TRect b{0, 0, 1, 1};
        DrawTextW(dc, FCaptionText.c_str(), int(FCaptionText.size()), b, drawFormat | DT_CALCRECT);
        textBounds.Bottom = textBounds.Top + b.Height();
    }
}

// --- caption and XP face
// -------------------------------------------------------------------------------------

void TLazyTreeColumns::DrawCaptionText(HDC dc, const std::u16string& caption, TRect bounds,
                                       bool enabled, bool hot, UINT drawFormat, bool wrapCaption) {
    std::u16string text = caption;
    if (!wrapCaption) {
        TPoint size;
        GetTextExtentPoint32W(dc, text.c_str(), int(text.size()), size);
        if (size.X > bounds.Width()) text = ShortenWithEllipsis(dc, text, bounds.Width());
    }
    SetBkMode(dc, TRANSPARENT);
    if (enabled) {
        TBaseLazyTree* tree = Tree();
        TColor color =
            hot && tree ? tree->Colors().Color(TLTColors::HeaderHotColor) : FHeader->Font().Color;
        SetTextColor(dc, ColorToRGB(color));
        DrawTextW(dc, text.c_str(), int(text.size()), bounds, drawFormat);
    } else {
        // Engraved: a highlight one pixel down and right, the shadow in place.
        TRect shifted = bounds.Offset(1, 1);
        SetTextColor(dc, ColorToRGB(clBtnHighlight));
        DrawTextW(dc, text.c_str(), int(text.size()), shifted, drawFormat);
        SetTextColor(dc, ColorToRGB(clBtnShadow));
        DrawTextW(dc, text.c_str(), int(text.size()), bounds, drawFormat);
    }
}

void TLazyTreeColumns::DrawXPButtonFace(HDC dc, const TRect& rect, bool drawSplitter, bool pressed,
                                        bool hot) {
    const COLORREF face = pressed ? RGB(0xDE, 0xDF, 0xD8)
                          : hot   ? RGB(0xFA, 0xF8, 0xF3)
                                  : RGB(0xEB, 0xEA, 0xDB);
    Fill(dc, rect, face);
    if (drawSplitter && !hot && !pressed) {
        Line(dc, RGB(0xC7, 0xC5, 0xB2),
             {{rect.Right - 2, rect.Top + 3}, {rect.Right - 2, rect.Bottom - 5}});
        Line(dc, RGB(0xFF, 0xFF, 0xFF),
             {{rect.Right - 1, rect.Top + 3}, {rect.Right - 1, rect.Bottom - 5}});
    }
    if (pressed) {
        Line(dc, RGB(0xA5, 0xA5, 0x97),
             {{rect.Left, rect.Top},
              {rect.Left, rect.Bottom - 1},
              {rect.Right - 1, rect.Bottom - 1},
              {rect.Right - 1, rect.Top - 1}});
        Line(dc, RGB(0xC1, 0xC2, 0xB8),
             {{rect.Left + 1, rect.Bottom - 2},
              {rect.Left + 1, rect.Top},
              {rect.Right - 1, rect.Top}});
        Line(dc, RGB(0xD0, 0xD1, 0xC9),
             {{rect.Left + 2, rect.Bottom - 2},
              {rect.Left + 2, rect.Top + 1},
              {rect.Right - 1, rect.Top + 1}});
    } else if (hot) {
        if (!UtilityImages) return;
        TCanvas canvas;
        canvas.SetHandle(dc);
        int y = rect.Bottom - 16; // the underline is the images' bottom three rows
        if (rect.Width() > 32) {
            UtilityImages->Draw(canvas, rect.Left, y, 6);
            int x = rect.Left + 16;
            do {
                UtilityImages->Draw(canvas, x, y, 7);
                x += 16;
            } while (x + 16 < rect.Right);
            UtilityImages->Draw(canvas, rect.Right - 16, y, 8);
        } else {
            UtilityImages->Draw(canvas, rect.Right - 16, y, 8);
            int save = SaveDC(dc);
            IntersectClipRect(dc, rect.Left, rect.Top, rect.Left + rect.Width() / 2, rect.Bottom);
            UtilityImages->Draw(canvas, rect.Left, y, 6);
            RestoreDC(dc, save);
        }
        canvas.SetHandle(nullptr);
    } else {
        Fill(dc, {rect.Left, rect.Bottom - 3, rect.Right, rect.Bottom - 2}, RGB(0xE0, 0xDE, 0xCF));
        Fill(dc, {rect.Left, rect.Bottom - 2, rect.Right, rect.Bottom - 1}, RGB(0xD5, 0xD2, 0xC3));
        Fill(dc, {rect.Left, rect.Bottom - 1, rect.Right, rect.Bottom}, RGB(0xCB, 0xC7, 0xB8));
    }
}

// --- the header
// ---------------------------------------------------------------------------------------------

// What stays the same for every column of one header paint.
struct TLazyTreeColumns::THeaderPaintPass {
    TCanvas& Canvas;
    HDC DC;
    TRect Rect; // the part painted
    bool OwnerDraw, Advanced, Themed, ShowRightBorder;
    TLTHeaderStyle Style;
    TColumnIndex LastVisible;
};

void TLazyTreeColumns::PaintHeader(HDC dc, const TRect& r, int hOffset) {
    TBaseLazyTree* tree = Tree();
    if (!tree) return;
    TRect headerRect = tree->HeaderRect();
    int width = std::max(headerRect.Right, r.Width()),
        height = std::max(headerRect.Bottom, r.Bottom);
    if (width <= 0 || height <= 0) return;
    if (FHeaderBitmap->Width() != width || FHeaderBitmap->Height() != height)
        FHeaderBitmap->SetSize(width, height);
    TCanvas& canvas = FHeaderBitmap->Canvas();
    canvas.Font.Assign(FHeader->Font());
    HDC bdc = canvas.Handle();
    SelectObject(bdc, canvas.Font.Handle());

    bool designing = tree->ComponentState & csDesigning;
    bool ownerDraw = (FHeader->Options() & hoOwnerDraw) && tree->OnHeaderDraw && !designing;
    bool advanced = (FHeader->Options() & hoOwnerDraw) && tree->OnAdvancedHeaderDraw &&
                    tree->OnHeaderDrawQueryElements && !designing;
    if (advanced) ownerDraw = false;
    TLTHeaderStyle style = FHeader->Style();
    bool showRightBorder = style == hsThickButtons || !(FHeader->Options() & hoAutoResize) ||
                           tree->BevelKind == bkNone;
    const THeaderPaintPass pass{.Canvas = canvas,
                                .DC = bdc,
                                .Rect = r,
                                .OwnerDraw = ownerDraw,
                                .Advanced = advanced,
                                .Themed = tree->HasState(tsUseThemes),
                                .ShowRightBorder = showRightBorder,
                                .Style = style,
                                .LastVisible = LastVisibleColumn()};

    THeaderPaintInfo info;
    info.Canvas = &canvas;
    PaintHeaderBackground(pass, info, headerRect);

    int edge = r.Left;
    if (tree->UseRightToLeftAlignment()) edge += tree->RTLColumnShift();
    int clipRight = edge;
    info.ShowRightBorder = showRightBorder;
    bool offsetApplied = false;
    for (TColumnIndex index : FPositionToIndex) {
        if (!IsValidColumn(index)) continue;
        TLazyTreeColumn& c = (*this)[index];
        if (!(c.FOptions & coVisible)) continue;
        if (!offsetApplied && !(c.FOptions & coFixed)) {
            edge += hOffset;
            offsetApplied = true;
        }
        int end = int(std::clamp<int64_t>(int64_t(edge) + c.FWidth, INT32_MIN, INT32_MAX));
        TRect clip{clipRight, r.Top, std::max(clipRight, end), r.Bottom};
        clipRight = clip.Right;
        TRect cell{edge, r.Top, end, r.Bottom};
        edge = end;
        if (cell.Right <= r.Left || cell.Right <= clip.Left) continue;
        if (cell.Left > r.Right) break;
        clip = IntersectRects(clip, r);
        int saved = SaveDC(bdc);
        IntersectClipRect(bdc, clip.Left, clip.Top, clip.Right, clip.Bottom);
        PaintHeaderColumn(pass, info, index, cell);
        RestoreDC(bdc, saved);
    }
    BitBlt(dc, r.Left, r.Top, r.Width(), r.Height(), bdc, r.Left, r.Top, SRCCOPY);
}

void TLazyTreeColumns::PaintHeaderBackground(const THeaderPaintPass& pass, THeaderPaintInfo& info,
                                             const TRect& headerRect) {
    TBaseLazyTree* tree = Tree();
    THeaderPaintElements requested = 0;
    if (pass.Advanced) {
        info.PaintRect = pass.Rect;
        info.Column = nullptr;
        tree->DoHeaderDrawQueryElements(info, requested);
    }
    if (pass.Advanced && (requested & hpeBackground))
        tree->DoAdvancedHeaderDraw(info, hpeBackground);
    else if (pass.Style == hsXPStyle && !pass.Themed)
        DrawXPButtonFace(pass.DC, headerRect, false, false, false);
    else
        Fill(pass.DC, pass.Rect, ColorToRGB(FHeader->Background()));
}

void TLazyTreeColumns::PaintHeaderColumn(const THeaderPaintPass& pass, THeaderPaintInfo& info,
                                         TColumnIndex index, const TRect& cell) {
    TBaseLazyTree* tree = Tree();
    TLazyTreeColumn& c = (*this)[index];
    info.Column = &c;
    info.IsHot =
        index == HoverIndex && (FHeader->Options() & hoHotTrack) && (c.FOptions & coEnabled);
    info.IsPressed = index == DownIndex;
    info.DropMark = (c.FOptions & coShowDropMark) && index == DropTarget && index != DragIndex
                        ? (DropOnLeft ? dmmLeft : dmmRight)
                        : dmmNone;
    info.IsEnabled = (c.FOptions & coEnabled) && tree->Enabled;
    info.ShowGlyph = (FHeader->Options() & hoShowImages) && FHeader->Images() && c.FImageIndex > -1;
    info.ShowSortGlyph = index == FHeader->SortColumn && (FHeader->Options() & hoShowSortGlyphs);
    info.PaintRect = cell;
    info.GlyphPos = info.SortGlyphPos = {};
    info.TextRect = {};

    if (c.FStyle == vsOwnerDraw && pass.OwnerDraw) {
        tree->DoHeaderDraw(pass.Canvas, index, cell, info.IsHot, info.IsPressed, info.DropMark);
        return;
    }

    THeaderPaintElements requested = 0;
    if (pass.Advanced) tree->DoHeaderDrawQueryElements(info, requested);
    if (pass.Advanced && (requested & hpeBackground))
        tree->DoAdvancedHeaderDraw(info, hpeBackground);
    else
        DrawColumnFace(pass, info, cell, pass.ShowRightBorder || index != pass.LastVisible);

    TRect inner{cell.Left + 2, cell.Top + 2, cell.Right - 2, cell.Bottom - 2};
    UINT format = DT_NOPREFIX;
    TAlignment captionAlign = c.CaptionAlignment();
    if (captionAlign == taRightJustify)
        format |= DT_RIGHT;
    else if (captionAlign == taCenter)
        format |= DT_CENTER;
    if (c.IsRightToLeftReading()) format |= DT_RTLREADING;
    c.LayoutCell(pass.DC, inner, info.ShowGlyph, info.ShowSortGlyph, info.GlyphPos,
                 info.SortGlyphPos, info.TextRect, format);
    if (info.IsPressed) {
        info.TextRect = info.TextRect.Offset(1, 1);
        info.GlyphPos = {info.GlyphPos.X + 1, info.GlyphPos.Y + 1};
        info.SortGlyphPos = {info.SortGlyphPos.X + 1, info.SortGlyphPos.Y + 1};
    }
    c.FGlyphDrawn = false;
    PaintColumnContent(pass, info, inner, format, requested);
}

void TLazyTreeColumns::DrawColumnFace(const THeaderPaintPass& pass, const THeaderPaintInfo& info,
                                      const TRect& cell, bool rightSide) {
    if (pass.Style == hsXPStyle && !pass.Themed) {
        DrawXPButtonFace(pass.DC, cell, rightSide, info.IsPressed, info.IsHot);
        return;
    }
    const TEdgeStyle edges = EdgeStyle(pass.Style);
    const TLTColumnOptions options = info.Column->FOptions;
    TRect e = cell;
    UINT right = rightSide ? UINT(BF_RIGHT) : 0u;
    if (info.IsPressed)
        DrawEdge(pass.DC, e, edges.Pressed, edges.PressedFlags);
    else if (pass.Style == hsPlates && info.IsHot && (options & coAllowClick) &&
             (options & coEnabled))
        DrawEdge(pass.DC, e, edges.Hot, edges.HotFlags | right);
    else
        DrawEdge(pass.DC, e, edges.Normal, edges.NormalFlags | right);
}

void TLazyTreeColumns::PaintColumnContent(const THeaderPaintPass& pass, THeaderPaintInfo& info,
                                          const TRect& inner, UINT format,
                                          THeaderPaintElements requested) {
    TBaseLazyTree* tree = Tree();
    TLazyTreeColumn& c = *info.Column;
    if (info.ShowGlyph && !(requested & hpeHeaderGlyph)) DrawColumnGlyph(pass, info);
    if (!c.FText.empty() && !(requested & hpeText)) {
        bool wrap = c.FOptions & coWrapCaption;
        SelectObject(pass.DC, pass.Canvas.Font.Handle());
        DrawCaptionText(pass.DC, wrap ? c.FCaptionText : c.FText, info.TextRect, info.IsEnabled,
                        info.IsHot && (FHeader->Options() & hoHotTrack) && !pass.Themed, format,
                        wrap);
    }
    if (info.ShowSortGlyph && !(requested & hpeSortGlyph) && UtilityImages) {
        int image = FHeader->SortDirection == sdAscending ? 3 : 2;
        if (pass.Themed) image += 2;
        UtilityImages->Draw(pass.Canvas, info.SortGlyphPos.X, info.SortGlyphPos.Y, image);
    }
    if (info.DropMark != dmmNone && !(requested & hpeDropMark) && UtilityImages) {
        int y = inner.Top + (inner.Height() - UtilityImages->Height()) / 2;
        if (info.DropMark == dmmLeft)
            UtilityImages->Draw(pass.Canvas, inner.Left, y, 0);
        else // at the end that shows of a cell running past the header
            UtilityImages->Draw(pass.Canvas, std::min(inner.Right, pass.Rect.Right - 2) - 16, y, 1);
    }
    THeaderPaintElements foreground =
        requested & (hpeDropMark | hpeHeaderGlyph | hpeSortGlyph | hpeText);
    if (foreground) {
        int state = SaveDC(pass.DC);
        tree->DoAdvancedHeaderDraw(info, foreground);
        RestoreDC(pass.DC, state);
    }
}

void TLazyTreeColumns::DrawColumnGlyph(const THeaderPaintPass& pass, const THeaderPaintInfo& info) {
    TBaseLazyTree* tree = Tree();
    TLazyTreeColumn& c = *info.Column;
    TCustomImageList* list =
        c.FCheckBox ? tree->CheckImages : FHeader->Images(); // the custom ones too
    TPoint size = ImageSize(list);
    // Not over the sort glyph it would run into.
    if (!list || (info.ShowSortGlyph && !c.IsRightToLeftReading() &&
                  info.GlyphPos.X + size.X > info.SortGlyphPos.X))
        return;
    // A check box asks the tree, as a node's does, so that a tree's own images reach the header.
    int image = c.FCheckBox
                    ? tree->GetCheckImage(nullptr, c.FCheckType, c.FCheckState, info.IsEnabled)
                    : c.FImageIndex;
    list->Draw(pass.Canvas, info.GlyphPos.X, info.GlyphPos.Y, image, info.IsEnabled);
    c.FGlyphRect = {info.GlyphPos.X, info.GlyphPos.Y, info.GlyphPos.X + size.X,
                    info.GlyphPos.Y + size.Y};
    c.FGlyphDrawn = true;
}

} // namespace nuq

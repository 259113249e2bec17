// Where the pieces of a row go: node rectangles in client coordinates, the
// vertical alignment of buttons, lines and images, image placement, the line
// image of a row, the row erase, the first paint column and clipping.

#include "treeview/LazyTrees.h"

#include <algorithm>

namespace nuq {

int TBaseLazyTree::ContentIndentWidth(PLazyNode node, TColumnIndex column) {
    // The room left of the text: check box, state image and normal image.
    int width = 0;
    if ((FOptions->MiscOptions() & toCheckSupport) && CheckImages && node->CheckType != ctNone)
        width += CheckImages->Width() + 2;
    bool ghosted = false;
    int index = -1;
    if (TCustomImageList* list = DoGetImageIndex(node, ikState, column, ghosted, index);
        list && index >= 0)
        width += list->Width() + 2;
    index = -1;
    TCustomImageList* images = DoGetImageIndex(node, ikNormal, column, ghosted, index);
    if (!images) images = FImages;
    if (images && index >= 0) width += images->Width() + 2;
    return width;
}

TRect TBaseLazyTree::GetDisplayRect(PLazyNode node, TColumnIndex column, bool textOnly,
                                    bool unclipped, bool applyCellContentMargin) {
    if (!node || node == FRoot || !FullyVisible(node)) return {};
    if (!(node->States & vsInitialized)) InitNode(node);
    int top = GetNodeTop(node) + FOffsetY;
    TRect r{0, top, 0, top + int(node->NodeHeight)};
    TLazyTreeColumns& columns = FHeader->Columns();
    bool useColumns = FHeader->UseColumns();
    TRect client = ClientRect();
    if (useColumns && columns.IsValidColumn(column)) {
        columns.GetColumnBounds(column, r.Left, r.Right);
    } else if (useColumns) {
        r.Left = -FEffectiveOffsetX;
        r.Right = r.Left + std::max(columns.TotalWidth(), client.Width());
        column = FHeader->MainColumn();
    } else {
        r.Left = FOffsetX;
        r.Right = FOffsetX + std::max(RangeX(), client.Width());
        column = NoColumn;
    }
    if (!textOnly) return r;

    TColumnIndex textColumn = useColumns && columns.IsValidColumn(column) ? column : NoColumn;
    int cellLeft = r.Left, cellRight = r.Right;
    if (useColumns && columns.IsValidColumn(column))
        columns.GetColumnBounds(column, cellLeft, cellRight);
    bool main = !useColumns || column == FHeader->MainColumn();
    int left = cellLeft + FMargin;
    if (main) {
        int levels = int(GetNodeLevel(node)) + ((FOptions->PaintOptions() & toShowRoot) ? 1 : 0);
        left += levels * int(FIndent) + ContentIndentWidth(node, textColumn);
    }
    // The owner may push the content in from the cell's left (the text is centred
    // vertically, so only the horizontal part moves it).
    if (applyCellContentMargin)
        left += FTextMargin + DoGetCellContentMargin(node, textColumn, 1, nullptr).X;
    int right = left + DoGetNodeWidth(node, textColumn, &Canvas());
    if (!unclipped) right = std::min(right, cellRight);
    r.Left = left;
    r.Right = std::max(left, right);
    return r;
}

} // namespace nuq

namespace nuq {

namespace {

bool Shown(PLazyNode n, bool showHidden) {
    return (n->States & vsVisible) && (showHidden || !(n->States & vsHidden));
}

bool HasShownNext(PLazyNode n, bool showHidden) {
    for (PLazyNode s = n->NextSibling; s; s = s->NextSibling)
        if (Shown(s, showHidden)) return true;
    return false;
}

bool HasShownPrevious(PLazyNode n, bool showHidden) {
    for (PLazyNode s = n->PrevSibling; s; s = s->PrevSibling)
        if (Shown(s, showHidden)) return true;
    return false;
}

} // namespace

void TBaseLazyTree::CalculateVerticalAlignments(bool showImages, bool showStateImages,
                                                PLazyNode node, int& vAlign, int& vButtonAlign) {
    int height = int(GetNodeHeight(node));
    switch (FNodeAlignment) {
    case naFromBottom:
        vAlign = height - node->Align;
        break;
    case naFromTop:
        vAlign = node->Align;
        break;
    case naProportional:
        if ((showImages && FImages) || (showStateImages && FStateImages)) {
            int ih = showImages && FImages ? FImages->Height() : FStateImages->Height();
            vAlign = MulDiv(height - ih, node->Align, 100) + ih / 2;
        } else if (FOptions->PaintOptions() & toShowButtons) {
            int ih = FPlusBM->Height();
            vAlign = MulDiv(height - ih, node->Align, 100) + ih / 2;
        } else {
            vAlign = MulDiv(node->NodeHeight, node->Align, 100);
        }
        break;
    }
    vButtonAlign = vAlign - FPlusBM->Height() / 2;
}

void TBaseLazyTree::AdjustCoordinatesByIndent(TLTPaintInfo& info, int indent) {
    int offset = indent * int(FIndent);
    int sign = info.RightToLeft ? -1 : 1;
    if (info.RightToLeft)
        info.ContentRect.Right -= offset;
    else
        info.ContentRect.Left += offset;
    for (TLTImageInfoIndex i : {iiNormal, iiState, iiCheck})
        info.ImageInfo[i].XPos += sign * offset;
}

void TBaseLazyTree::AdjustImageBorder(TCustomImageList* images, bool rightToLeft, int vAlign,
                                      TRect& r, TLTImageInfo& imageInfo) {
    if (rightToLeft) {
        imageInfo.XPos = r.Right - images->Width();
        r.Right -= images->Width() + 2;
    } else {
        imageInfo.XPos = r.Left;
        r.Left += images->Width() + 2;
    }
    imageInfo.YPos = r.Top + vAlign - images->Height() / 2;
}

int TBaseLazyTree::DetermineLineImagesAndSelectLevel(PLazyNode node, TLineImage& lineImage) {
    const TLTPaintOptions paint = FOptions->PaintOptions();
    const bool showHidden = paint & toShowHiddenNodes;
    const bool showRoot = paint & toShowRoot;
    int levels = 0, selected = 0;
    for (PLazyNode run = node->Parent; run != FRoot; run = run->Parent) {
        ++levels;
        if (run->States & vsSelected) ++selected;
    }
    int count = levels + (showRoot ? 1 : 0);
    lineImage.assign(size_t(count), ltNone);
    bool lines = (paint & toShowTreeLines) &&
                 !((paint & toHideTreeLinesIfThemed) && (FStates & TS(tsUseThemes)));
    if (!lines || count == 0) return selected;

    int last = count - 1;
    if (paint & toChildrenAbove) {
        bool more = node->Parent != FRoot || HasShownNext(node, showHidden);
        if (!HasShownPrevious(node, showHidden))
            lineImage[size_t(last)] = more ? ltBottomRight : ltRight;
        else
            lineImage[size_t(last)] = more ? ltTopDownRight : ltTopRight;
        int level = last - 1;
        for (PLazyNode run = node->Parent; run != FRoot && level >= 0; run = run->Parent, --level)
            if (HasShownPrevious(run, showHidden)) lineImage[size_t(level)] = ltTopDown;
        return selected;
    }
    if (node->Parent != FRoot) {
        lineImage[size_t(last)] = HasShownNext(node, showHidden) ? ltTopDownRight : ltTopRight;
        // Every ancestor below the top level carries on its line while it has a next sibling.
        int level = last - 1;
        for (PLazyNode run = node->Parent; run->Parent != FRoot; run = run->Parent, --level)
            lineImage[size_t(level)] = HasShownNext(run, showHidden) ? ltTopDown : ltNone;
    }
    if (showRoot) {
        if (node->Parent != FRoot) {
            PLazyNode top = node;
            while (top->Parent != FRoot) top = top->Parent;
            lineImage[0] = HasShownNext(top, showHidden) ? ltTopDown : ltNone;
        } else {
            bool hasNext = HasShownNext(node, showHidden);
            if (HasShownPrevious(node, showHidden))
                lineImage[0] = hasNext ? ltTopDownRight : ltTopRight;
            else
                lineImage[0] = hasNext ? ltBottomRight : ltRight;
        }
    }
    return selected;
}

void TBaseLazyTree::DrawLineImage(const TLTPaintInfo& info, int x, int y, int h, int vAlign,
                                  TLTLineType style, bool reverse) {
    const int i = int(FIndent), half = i / 2, t = reverse ? 0 : i;
    auto v = [&](int top, int bottom, int left) { DrawDottedVLine(info, top, bottom, left); };
    auto l = [&](int left, int right, int top) { DrawDottedHLine(info, left, right, top); };
    switch (style) {
    case ltNone:
        break;
    case ltBottomRight:
        v(y + vAlign, y + h, x + half);
        l(x + half, x + t, y + vAlign);
        break;
    case ltTopDown:
        v(y, y + h, x + half);
        break;
    case ltTopDownRight:
        v(y, y + h, x + half);
        l(x + half, x + t, y + vAlign);
        break;
    case ltRight:
        l(x + half, x + t, y + vAlign);
        break;
    case ltTopRight:
        v(y, y + vAlign, x + half);
        l(x + half, x + t, y + vAlign);
        break;
    case ltLeft:
        v(y, y + h, reverse ? x + i : x);
        break;
    case ltLeftBottom:
        v(y, y + h, reverse ? x + i : x);
        l(x, x + i, y + h);
        break;
    }
}

void TBaseLazyTree::PaintItemErase(TLTPaintInfo& info, bool useBackground, TRect r,
                                   bool moveToOrigin) {
    TCanvas& canvas = *info.Canvas;
    TItemEraseAction action = eaDefault;
    TColor color = Color;
    // Where the content's top-left lies on the canvas: the background picture
    // scrolls with it. A row painted on its own at the canvas top has it moved too.
    TPoint origin = info.BrushOrigin;
    if (moveToOrigin) {
        origin = {-FEffectiveOffsetX, origin.Y - r.Top};
        r = r.Offset(0, -r.Top);
    }
    DoBeforeItemErase(canvas, info.Node, r, color, action);
    switch (action) {
    case eaColor:
        canvas.Brush.Style = bsSolid;
        canvas.Brush.Color = color;
        canvas.FillRect(r);
        break;
    case eaNone:
        break;
    case eaDefault: {
        const TLTSelectionOptions sel = FOptions->SelectionOptions();
        bool fullRowSelected = (info.PaintOptions & poDrawSelection) && (sel & toFullRowSelect) &&
                               (info.Node->States & vsSelected) &&
                               !(FOptions->PaintOptions() & toUseBlendedSelection);
        canvas.Brush.Style = bsSolid;
        if (useBackground && FBackground && FBackground->Width() > 0 && FBackground->Height() > 0) {
            PaintBackgroundPicture(canvas, r, origin);
        } else if (fullRowSelected) {
            if (FOptions->PaintOptions() & toShowHorzGridLines) --r.Bottom;
            bool focused = TreeFocused() || (FOptions->PaintOptions() & toPopupMode);
            canvas.Brush.Color = FColors->Color(focused ? TLTColors::FocusedSelectionColor
                                                        : TLTColors::UnfocusedSelectionColor);
            canvas.Pen.Style = psSolid;
            canvas.Pen.Color = FColors->Color(focused ? TLTColors::FocusedSelectionBorderColor
                                                      : TLTColors::UnfocusedSelectionBorderColor);
            canvas.RoundRect(r.Left, r.Top, r.Right, r.Bottom, int(FSelectionCurveRadius),
                             int(FSelectionCurveRadius));
        } else {
            // A column with a colour of its own keeps it under its cells when the caller asks.
            TColor fill = Color;
            if ((info.PaintOptions & poColumnColor) && FHeader->UseColumns() &&
                FHeader->Columns().IsValidColumn(info.Column)) {
                const TLazyTreeColumn& column = FHeader->Columns()[info.Column];
                if (!(column.Options() & coParentColor)) fill = column.Color();
            }
            canvas.Brush.Color = fill;
            canvas.FillRect(r);
        }
        break;
    }
    }
    DoAfterItemErase(canvas, info.Node, r);
}

void TBaseLazyTree::PaintBackgroundPicture(TCanvas& canvas, TRect r, TPoint contentOrigin) {
    const int bw = FBackground->Width(), bh = FBackground->Height();
    HDC dc = canvas.Handle();
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, r.Left, r.Top, r.Right, r.Bottom);
    if (FOptions->PaintOptions() & toStaticBackground) {
        // Once, at the offsets within the client area whatever the scrolling; the tree's colour
        // around it.
        const int x = contentOrigin.X - FOffsetX + FBackgroundOffset[0];
        const int y = contentOrigin.Y - FOffsetY + FBackgroundOffset[1];
        canvas.Brush.Style = bsSolid;
        canvas.Brush.Color = Color;
        canvas.FillRect(r);
        canvas.Draw(x, y, *FBackground);
    } else {
        // Tiled from the content's origin moved by the offsets: the picture scrolls with the rows.
        const int originX = contentOrigin.X + FBackgroundOffset[0];
        const int originY = contentOrigin.Y + FBackgroundOffset[1];
        const int startX = r.Left - ((r.Left - originX) % bw + bw) % bw;
        const int startY = r.Top - ((r.Top - originY) % bh + bh) % bh;
        for (int y = startY; y < r.Bottom; y += bh)
            for (int x = startX; x < r.Right; x += bw) canvas.Draw(x, y, *FBackground);
    }
    RestoreDC(dc, saved);
}

void TBaseLazyTree::SetFirstPaintColumn(TLTPaintInfo& info) {
    TLazyTreeColumns& columns = FHeader->Columns();
    info.Column = columns.FirstVisibleColumn();
    if (columns.IsValidColumn(info.Column)) {
        info.CellRect.Right = info.CellRect.Left + columns[info.Column].Width();
        info.Position = columns[info.Column].Position();
    } else {
        info.Position = 0;
    }
}

void TBaseLazyTree::ClipCanvas(TCanvas& canvas, const TRect& clipRect, HRGN visibleRegion) {
    HDC dc = canvas.Handle();
    TPoint org;
    GetWindowOrgEx(dc, org);
    TPoint vp;
    GetViewportOrgEx(dc, vp);
    HRGN region = CreateRectRgn(clipRect.Left - org.X + vp.X, clipRect.Top - org.Y + vp.Y,
                                clipRect.Right - org.X + vp.X, clipRect.Bottom - org.Y + vp.Y);
    if (visibleRegion) CombineRgn(region, region, visibleRegion, RGN_AND);
    SelectClipRgn(dc, region);
    DeleteObject(region);
}

} // namespace nuq

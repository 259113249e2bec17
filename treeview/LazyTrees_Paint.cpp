// The row painting loop: every shown row inside a window of the content is
// laid out and painted cell by cell onto a target canvas; and the string
// tree's text painting.

#include "treeview/LazyTrees.h"

#include <algorithm>
#include <climits>
#include <functional>
#include <utility>

namespace nuq {

namespace {

// Routes the paint canvas font's change notice to the tree while it paints;
// the handler installed before comes back on every way out.
class TFontNoticeRoute {
public:
    TFontNoticeRoute(TFont& font, std::function<void(TFont&)>& saved,
                     std::function<void(TFont&)> handler)
        : FFont(font), FSaved(saved),
          FOuter(std::exchange(saved, std::exchange(font.OnChange, std::move(handler)))) {}
    ~TFontNoticeRoute() { FFont.OnChange = std::exchange(FSaved, std::move(FOuter)); }
    TFontNoticeRoute(const TFontNoticeRoute&) = delete;
    TFontNoticeRoute& operator=(const TFontNoticeRoute&) = delete;

private:
    TFont& FFont;
    std::function<void(TFont&)>& FSaved;
    std::function<void(TFont&)> FOuter; // of a paint this one runs inside
};

} // namespace

void TBaseLazyTree::Paint() {
    TCanvas& canvas = Canvas();
    TRect r = canvas.ClipRect();
    TRect client = ClientRect();
    if (r.Width() <= 0 || r.Height() <= 0) r = client;
    // Nodes added, removed, opened or closed since the bars were set: they follow
    // after this paint (a frame change inside a paint would be painted over).
    if (FUpdateCount == 0 && (RangeX() != FBarRangeX || RangeY() != FBarRangeY))
        PostMessage(WindowHandle(), WM_UPDATESCROLLBARS, 0, 0);
    DoBeforePaint(canvas);
    PaintTree(canvas, r.Offset(-FOffsetX, -FOffsetY), {r.Left, r.Top}, DefaultPaintTreeOptions);
    DoAfterPaint(canvas);
}

// What stays the same for every row of one paint, and the row being painted.
struct TBaseLazyTree::TTreePaintPass {
    struct TColumn {
        TColumnIndex Index;
        int Left, Right; // content coordinates
        TColumnPosition Position;
    };
    TCanvas& Canvas;
    HDC DC;
    TRect Window; // content coordinates
    TRect Target; // where the window goes on the canvas
    int DX, DY;   // from content to target
    TLTRowPaintOptions RowOptions;
    TLTPaintOptions Paint;
    TLTMiscOptions Misc;
    bool UseColumns, UseBackground;
    TColumnIndex MainColumn;
    std::vector<TColumn> Columns{}; // fixed ones last
    int ContentRight = 0;
    int Widest = 0; // of the rows, for the horizontal range
    // The row being painted.
    PLazyNode Node = nullptr;
    TRect Row{};
    bool Selected = false;
    int IndentLevels = 0, VAlign = 0, VButtonAlign = 0;
};

void TBaseLazyTree::PaintTree(TCanvas& canvas, TRect window, TPoint target,
                              TLTRowPaintOptions paintOptions) {
    if (window.Width() <= 0 || window.Height() <= 0) return;
    RefreshPaintBitmaps();
    // The walk below initialises nodes, which the validation thread must not
    // be reading meanwhile: a running build stops and starts again afterwards.
    const bool resumeValidation = FStates & TS(tsValidating);
    if (resumeValidation) InterruptValidation();
    DoStateChange(TS(tsPainting));
    const TLTPaintOptions paint = FOptions->PaintOptions();
    const int dx = target.X - window.Left, dy = target.Y - window.Top;
    TTreePaintPass pass{
        .Canvas = canvas,
        .DC = canvas.Handle(),
        .Window = window,
        .Target = window.Offset(dx, dy),
        .DX = dx,
        .DY = dy,
        .RowOptions = paintOptions,
        .Paint = paint,
        .Misc = FOptions->MiscOptions(),
        .UseColumns = FHeader->UseColumns(),
        .UseBackground = (paint & toShowBackground) && FBackground && FBackground->Width() > 0,
        .MainColumn = FHeader->MainColumn(),
    };
    CollectPaintColumns(pass);

    TFontNoticeRoute route(canvas.Font, FOldFontChange, [this](TFont& f) { FontChanged(f); });
    canvas.Font.Assign(Font);
    FFontChanged = false;
    pass.Widest = FRangeX;
    int nodeTop = 0;
    PLazyNode node = window.Top >= 0 ? GetNodeAt(0, window.Top, false, nodeTop) : nullptr;
    if (!node && window.Top < 0) {
        node = GetFirstVisible();
        nodeTop = 0;
    }
    int y = nodeTop;
    TLTPaintInfo info;
    info.Canvas = &canvas;
    info.PaintOptions = paintOptions;
    info.BrushOrigin = {dx, dy};
    while (node && y < window.Bottom) {
        if (!(node->States & vsInitialized)) InitNode(node);
        const int height = int(node->NodeHeight);
        PaintRow(pass, info, node, y, height);
        y += height;
        node = GetNextVisible(node);
    }

    // Below the last row.
    if ((paintOptions & poBackground) && y < window.Bottom) {
        TRect rest{pass.Target.Left, std::max(pass.Target.Top, y + dy), pass.Target.Right,
                   pass.Target.Bottom};
        if (!DoPaintBackground(canvas, rest))
            EraseBackground(canvas, rest, pass.UseBackground, info.BrushOrigin);
    }
    // The rubber band over the rows it covers; it is kept in the coordinates
    // the mouse handling gives it (client point plus the effective offset).
    if ((paintOptions & poDrawSelection) && (FStates & TS(tsDrawSelecting))) {
        const TRect band = FNewSelRect.Offset(-FEffectiveOffsetX - FOffsetX + dx, dy);
        PaintSelectionRectangle(canvas, 0, band, pass.Target);
    }
    DoStateChange(0, TS(tsPainting));
    if (resumeValidation) ValidateCache();
    if (pass.Widest > FRangeX) {
        // A wider row than seen so far: the horizontal bar learns the new range.
        FRangeX = pass.Widest;
        if (!pass.UseColumns) UpdateHorizontalScrollBar(false);
    }
}

void TBaseLazyTree::RefreshPaintBitmaps() {
    // Styles and colours may have changed since the bitmaps were made.
    uint64_t buttonKey = uint64_t(FButtonStyle) | uint64_t(FButtonFillMode) << 4 |
                         uint64_t(ColorToRGB(Color)) << 8 | uint64_t(ColorToRGB(Font.Color)) << 32;
    buttonKey ^= uint64_t(ColorToRGB(FColors->Color(TLTColors::TreeLineColor))) << 36;
    uint64_t lineKey = uint64_t(FLineStyle) | (FDottedBrush ? 0 : 1ull << 8);
    bool buttons = buttonKey != FBitmapKey[0],
         lines = lineKey != FBitmapKey[1] || FLineStyle == lsCustomStyle;
    if (buttons || lines) PrepareBitmaps(buttons, lines);
    FBitmapKey[0] = buttonKey;
    FBitmapKey[1] = uint64_t(FLineStyle);
}

void TBaseLazyTree::CollectPaintColumns(TTreePaintPass& pass) {
    // The visible columns in content coordinates; fixed ones stay put when scrolled.
    if (!pass.UseColumns) {
        pass.ContentRight = std::max(pass.Window.Right, RangeX());
        pass.Columns.push_back({NoColumn, 0, pass.ContentRight, 0});
        return;
    }
    for (TLazyTreeColumn* c : FHeader->Columns().VisibleColumns()) {
        int left = c->Left();
        if (c->Options() & coFixed) left += FEffectiveOffsetX;
        pass.Columns.push_back({c->Index(), left, left + c->Width(), c->Position()});
        pass.ContentRight = std::max(pass.ContentRight, left + c->Width());
    }
    // In screen order, which a moved column leaves different from index order: a
    // caption running on into empty cells skips only the cells right of it.
    std::sort(pass.Columns.begin(), pass.Columns.end(),
              [](const TTreePaintPass::TColumn& a, const TTreePaintPass::TColumn& b) {
                  return a.Position < b.Position;
              });
    // Fixed columns last, so that they cover what scrolls under them.
    std::stable_partition(pass.Columns.begin(), pass.Columns.end(),
                          [this](const TTreePaintPass::TColumn& c) {
                              return !(FHeader->Columns()[c.Index].Options() & coFixed);
                          });
}

void TBaseLazyTree::PaintRow(TTreePaintPass& pass, TLTPaintInfo& info, PLazyNode node, int y,
                             int height) {
    TCanvas& canvas = pass.Canvas;
    pass.Row = {pass.Target.Left, y + pass.DY, pass.Target.Right, y + pass.DY + height};
    pass.Selected = node->States & vsSelected;
    if (((pass.RowOptions & poSelectedOnly) && !pass.Selected) ||
        pass.Row.Bottom <= pass.Target.Top)
        return;
    pass.Node = node;
    info.Node = node;
    DetermineLineImagesAndSelectLevel(node, info.LineImage);
    pass.IndentLevels = int(info.LineImage.size());
    pass.VAlign = pass.VButtonAlign = 0;
    CalculateVerticalAlignments(FImages != nullptr, FStateImages != nullptr, node, pass.VAlign,
                                pass.VButtonAlign);
    info.VAlign = pass.VAlign;
    const TRect& row = pass.Row;
    TRect itemRect{pass.ContentRight > 0 ? pass.DX : row.Left, row.Top, pass.ContentRight + pass.DX,
                   row.Bottom};
    if (!DoBeforeItemPaint(canvas, node, itemRect)) {
        int coveredTo = INT_MIN; // content x up to which a caption runs on
        for (const TTreePaintPass::TColumn& col : pass.Columns)
            PaintCell(pass, info, col.Index, col.Left, col.Right, col.Position, coveredTo);
        // Right of the last column.
        const int contentEnd = pass.ContentRight + pass.DX;
        if ((pass.RowOptions & poBackground) && contentEnd < pass.Target.Right)
            EraseBackground(
                canvas,
                {std::max(pass.Target.Left, contentEnd), row.Top, pass.Target.Right, row.Bottom},
                pass.UseBackground, info.BrushOrigin);
    }
    if ((pass.RowOptions & poDrawDropMark) && (pass.Paint & toShowDropmark) &&
        node == FDropTargetNode)
        DoPaintDropMark(canvas, node, itemRect);
    DoAfterItemPaint(canvas, node, itemRect);
}

void TBaseLazyTree::PaintCell(TTreePaintPass& pass, TLTPaintInfo& info, TColumnIndex column,
                              int left, int right, TColumnPosition position, int& coveredTo) {
    const bool useColumns = pass.UseColumns;
    const bool fixed = useColumns && (FHeader->Columns()[column].Options() & coFixed);
    if (!fixed && left < coveredTo) return;
    // Right-to-left columns mirror the whole row: indent from the right edge.
    const bool rtl =
        useColumns ? FHeader->Columns()[column].IsRightToLeftReading() : BiDiMode != bdLeftToRight;
    const TRect& row = pass.Row;
    const TRect& target = pass.Target;
    info.Node = pass.Node;
    info.Column = column;
    info.RightToLeft = rtl;
    info.CellRect = {left + pass.DX, row.Top, right + pass.DX, row.Bottom};
    if (useColumns) {
        TColumnIndex nextNonEmpty;
        AdjustPaintCellRect(info, nextNonEmpty);
        if (!fixed) coveredTo = info.CellRect.Right - pass.DX;
    }
    const TRect cell = info.CellRect;
    if (cell.Right <= target.Left || cell.Left >= target.Right) return;
    const bool main = !useColumns || column == pass.MainColumn;
    if ((pass.RowOptions & poMainOnly) && !main) return;
    int saved = SaveDC(pass.DC);
    ResetCanvasFont(pass.Canvas); // an event of the cell before may have changed it
    IntersectClipRect(pass.DC, std::max(cell.Left, target.Left), row.Top,
                      std::min(cell.Right, target.Right), row.Bottom);
    info.Position = position;
    info.ContentRect = cell;
    if (rtl)
        info.ContentRect.Right -= FMargin;
    else
        info.ContentRect.Left += FMargin;
    // Right-to-left reading swaps left and right alignment.
    info.Alignment = useColumns ? FHeader->Columns()[column].Alignment() : FAlignment;
    if (rtl && info.Alignment != taCenter)
        info.Alignment = info.Alignment == taLeftJustify ? taRightJustify : taLeftJustify;
    info.IndentX = cell.Left;
    for (TLTImageInfo& slot : info.ImageInfo) slot = {};
    if (pass.RowOptions & poBackground) PaintItemErase(info, pass.UseBackground, cell, false);
    DoBeforeCellPaint(pass.Canvas, pass.Node, column, cpmPaint, cell, info.ContentRect);
    if (main) PaintCellIndent(pass, info, cell);
    PaintCellContent(pass, info, cell);
    DoAfterCellPaint(pass.Canvas, pass.Node, column, cell);
    RestoreDC(pass.DC, saved);
}

void TBaseLazyTree::PaintCellIndent(TTreePaintPass& pass, TLTPaintInfo& info, const TRect& cell) {
    // Lines, button, check image and state image: the main column's alone.
    PLazyNode node = pass.Node;
    const bool rtl = info.RightToLeft;
    const int levels = pass.IndentLevels;
    if (FLineMode == lmNormal || (pass.RowOptions & poBands))
        PaintTreeLines(info, pass.VAlign, levels, info.LineImage);
    if ((pass.Paint & toShowButtons) && (node->States & vsHasChildren) && levels > 0 &&
        !((node->States & vsAllChildrenHidden) && (FOptions->AutoOptions() & toAutoHideButtons))) {
        // Centred on the line of the deepest level, seen from the column's reading side.
        const int w = FPlusBM->Width(), indent = int(FIndent);
        int buttonX = rtl ? levels * indent - indent / 2 - (w - w / 2)
                          : (levels - 1) * indent + indent / 2 - w / 2;
        PaintNodeButton(pass.Canvas, node, info.Column, cell, buttonX, pass.VButtonAlign,
                        rtl ? bdRightToLeft : bdLeftToRight);
    }
    AdjustCoordinatesByIndent(info, levels);
    if ((pass.Misc & toCheckSupport) && CheckImages && node->CheckType != ctNone) {
        TLTImageInfo& slot = info.ImageInfo[iiCheck];
        AdjustImageBorder(CheckImages, rtl, pass.VAlign, info.ContentRect, slot);
        slot.Index = GetCheckImage(node);
        slot.Images = CheckImages;
    }
    GetImageIndex(info, ikState, iiState, FStateImages);
    if (info.ImageInfo[iiState].Index >= 0 && info.ImageInfo[iiState].Images)
        AdjustImageBorder(info.ImageInfo[iiState].Images, rtl, pass.VAlign, info.ContentRect,
                          info.ImageInfo[iiState]);
}

void TBaseLazyTree::PaintCellContent(TTreePaintPass& pass, TLTPaintInfo& info, const TRect& cell) {
    // The image, selection, text and grid lines of every column.
    PLazyNode node = pass.Node;
    const bool selected = pass.Selected;
    GetImageIndex(info, selected ? ikSelected : ikNormal, iiNormal, FImages);
    if (selected && info.ImageInfo[iiNormal].Index < 0)
        GetImageIndex(info, ikNormal, iiNormal, FImages);
    if (info.ImageInfo[iiNormal].Index >= 0 && info.ImageInfo[iiNormal].Images)
        AdjustImageBorder(info.ImageInfo[iiNormal].Images, info.RightToLeft, pass.VAlign,
                          info.ContentRect, info.ImageInfo[iiNormal]);

    // Measuring is dear: only where selection, focus, drop target or range need the width.
    bool needWidth =
        !pass.UseColumns || selected || node == FFocusedNode || node == FDropTargetNode;
    info.NodeWidth = needWidth ? DoGetNodeWidth(node, info.Column, &pass.Canvas) : 0;
    if (!pass.UseColumns)
        pass.Widest = std::max(pass.Widest, info.ContentRect.Left - cell.Left + info.NodeWidth);
    PaintCellSelection(info);
    PaintCheckImage(info);
    PaintImage(info, iiState, false);
    PaintImage(info, iiNormal, true);
    DoPaintNode(info);

    if (pass.RowOptions & poGridLines) {
        SetTextColor(pass.DC, ColorToRGB(FColors->Color(TLTColors::GridLineColor)));
        if (pass.Paint & toShowHorzGridLines)
            DrawDottedHLine(info, cell.Left, cell.Right - 1, pass.Row.Bottom - 1);
        if (pass.UseColumns && (pass.Paint & toShowVertGridLines))
            DrawDottedVLine(info, pass.Row.Top, pass.Row.Bottom - 1, cell.Right - 1);
    }
}

void TBaseLazyTree::FontChanged(TFont& sender) {
    FFontChanged = true;
    if (FOldFontChange) FOldFontChange(sender);
}

void TBaseLazyTree::ResetCanvasFont(TCanvas& canvas) {
    if (!FFontChanged) return;
    canvas.Font.Assign(Font);
    FFontChanged = false;
}

void TBaseLazyTree::EraseBackground(TCanvas& canvas, TRect r, bool useBackground,
                                    TPoint contentOrigin) {
    if (useBackground) {
        PaintBackgroundPicture(canvas, r, contentOrigin);
        return;
    }
    canvas.Brush.Style = bsSolid;
    canvas.Brush.Color = Color;
    canvas.FillRect(r);
}

void TBaseLazyTree::AdjustPaintCellRect(TLTPaintInfo& info, TColumnIndex& nextNonEmpty) {
    nextNonEmpty = FHeader->Columns().NextVisibleColumn(info.Column);
}

// --- the string tree's texts ---------------------------------------------------------------------

bool TCustomLazyStringTree::ColumnIsEmpty(PLazyNode node, TColumnIndex column) {
    if (OnGetCellIsEmpty) return TBaseLazyTree::ColumnIsEmpty(node, column);
    return DoGetText(node, column).empty();
}

void TCustomLazyStringTree::AdjustPaintCellRect(TLTPaintInfo& info, TColumnIndex& nextNonEmpty) {
    TBaseLazyTree::AdjustPaintCellRect(info, nextNonEmpty);
    if (!(FOptions->AutoOptions() & toAutoSpanColumns) || !FHeader->UseColumns() ||
        info.Column <= NoColumn)
        return;
    // The caption runs on rightwards into the empty cells after it. A left-to-right
    // one only into cells that read alike; a right-to-left one is laid out from the
    // right edge of its whole span, where a click finds it too.
    int skipped = 0;
    info.CellRect.Right +=
        AutoSpanWidth(info.Node, info.Column, true, info.RightToLeft ? 0 : 1, &skipped);
    while (skipped-- > 0) nextNonEmpty = FHeader->Columns().NextVisibleColumn(nextNonEmpty);
}

namespace {

TCanvas& MeasureCanvas(TCanvas* canvas) {
    if (canvas && canvas->HandleAllocated()) return *canvas;
    static TBitmap scratch(1, 1);
    return scratch.Canvas();
}

} // namespace

int TCustomLazyStringTree::DoGetNodeWidth(PLazyNode node, TColumnIndex column, TCanvas* canvas) {
    // The text with its margins: what the selection shows and a click finds.
    TCanvas& c = MeasureCanvas(canvas);
    if (&c != canvas) c.Font.Assign(Font);
    return c.TextWidth(DoGetText(node, column)) + 2 * TextMargin();
}

void TCustomLazyStringTree::DoPaintNode(TLTPaintInfo& info) {
    TCanvas& canvas = *info.Canvas;
    PLazyNode node = info.Node;
    std::u16string text = DoGetText(node, info.Column);
    if (text.empty()) return;
    ResetCanvasFont(canvas);
    const TLTSelectionOptions sel = FOptions->SelectionOptions();
    bool focusedColumn =
        !Header().UseColumns() || info.Column == FocusedColumn() || (sel & toFullRowSelect);
    bool selectedLook = (info.PaintOptions & poDrawSelection) && (node->States & vsSelected) &&
                        focusedColumn &&
                        (TreeFocused() || (FOptions->PaintOptions() & toPopupMode));
    if (node->States & vsDisabled || !Enabled)
        canvas.Font.Color = FColors->Color(TLTColors::DisabledColor);
    else if (selectedLook)
        canvas.Font.Color = clHighlightText;
    DoPaintText(node, canvas, info.Column, ttNormal);
    HDC dc = canvas.Handle();
    int x = info.ContentRect.Left + TextMargin();
    if (info.Alignment != taLeftJustify) {
        int width = canvas.TextWidth(text);
        x = info.Alignment == taRightJustify
                ? info.ContentRect.Right - TextMargin() - width
                : (info.ContentRect.Left + info.ContentRect.Right - width) / 2;
    }
    // One height per font: measuring every row would cost as much as drawing it.
    const TFont& f = canvas.Font;
    if (FTextHeight < 0 || f.Height != FTextHeightSize || f.Style != FTextHeightStyle ||
        f.Name != FTextHeightFace) {
        FTextHeight = canvas.TextHeight(u"Wg");
        FTextHeightSize = f.Height;
        FTextHeightStyle = f.Style;
        FTextHeightFace = f.Name;
    }
    int textHeight = FTextHeight;
    int y = info.CellRect.Top + (info.CellRect.Height() - textHeight) / 2;
    SetBkMode(dc, TRANSPARENT);
    canvas.Brush.Style = bsClear;
    canvas.TextOut(x, y, text);
    canvas.Brush.Style = bsSolid;
}

} // namespace nuq

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

struct TPaintColumn {
    TColumnIndex Index;
    int Left, Right; // content coordinates
    TColumnPosition Position;
};

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

void TBaseLazyTree::PaintTree(TCanvas& canvas, TRect window, TPoint target,
                              TLTRowPaintOptions paintOptions) {
    if (window.Width() <= 0 || window.Height() <= 0) return;
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
    // The walk below initialises nodes, which the validation thread must not
    // be reading meanwhile: a running build stops and starts again afterwards.
    const bool resumeValidation = FStates & TS(tsValidating);
    if (resumeValidation) InterruptValidation();
    DoStateChange(TS(tsPainting));
    HDC dc = canvas.Handle();
    const TLTPaintOptions paint = FOptions->PaintOptions();
    const TLTMiscOptions misc = FOptions->MiscOptions();
    const int dx = target.X - window.Left, dy = target.Y - window.Top;
    const TRect targetRect = window.Offset(dx, dy);
    const bool useColumns = FHeader->UseColumns();
    const TColumnIndex mainColumn = FHeader->MainColumn();
    const bool useBackground =
        (paint & toShowBackground) && FBackground && FBackground->Width() > 0;

    // The visible columns in content coordinates; fixed ones stay put when scrolled.
    std::vector<TPaintColumn> columns;
    int contentRight = 0;
    if (useColumns) {
        for (TLazyTreeColumn* c : FHeader->Columns().VisibleColumns()) {
            int left = c->Left();
            if (c->Options() & coFixed) left += FEffectiveOffsetX;
            columns.push_back({c->Index(), left, left + c->Width(), c->Position()});
            contentRight = std::max(contentRight, left + c->Width());
        }
        // Fixed columns last, so that they cover what scrolls under them.
        std::stable_partition(columns.begin(), columns.end(), [this](const TPaintColumn& c) {
            return !(FHeader->Columns()[c.Index].Options() & coFixed);
        });
    } else {
        contentRight = std::max(window.Right, RangeX());
        columns.push_back({NoColumn, 0, contentRight, 0});
    }

    TFontNoticeRoute route(canvas.Font, FOldFontChange, [this](TFont& f) { FontChanged(f); });
    canvas.Font.Assign(Font);
    FFontChanged = false;
    int widest = FRangeX;
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
        const TRect row{targetRect.Left, y + dy, targetRect.Right, y + dy + height};
        const bool selected = node->States & vsSelected;
        if (!((paintOptions & poSelectedOnly) && !selected) && row.Bottom > targetRect.Top) {
            info.Node = node;
            DetermineLineImagesAndSelectLevel(node, info.LineImage);
            const int indentLevels = int(info.LineImage.size());
            int vAlign = 0, vButtonAlign = 0;
            CalculateVerticalAlignments(FImages != nullptr, FStateImages != nullptr, node, vAlign,
                                        vButtonAlign);
            info.VAlign = vAlign;
            TRect itemRect{contentRight > 0 ? dx : row.Left, row.Top, contentRight + dx,
                           row.Bottom};
            if (!DoBeforeItemPaint(canvas, node, itemRect)) {
                int coveredTo = INT_MIN; // content x up to which a caption runs on
                for (const TPaintColumn& col : columns) {
                    const bool fixed =
                        useColumns && (FHeader->Columns()[col.Index].Options() & coFixed);
                    if (!fixed && col.Left < coveredTo) continue;
                    // Right-to-left columns mirror the whole row: indent from the right edge.
                    const bool rtl = useColumns
                                         ? FHeader->Columns()[col.Index].IsRightToLeftReading()
                                         : BiDiMode != bdLeftToRight;
                    info.Node = node;
                    info.Column = col.Index;
                    info.RightToLeft = rtl;
                    info.CellRect = {col.Left + dx, row.Top, col.Right + dx, row.Bottom};
                    if (useColumns) {
                        TColumnIndex nextNonEmpty;
                        AdjustPaintCellRect(info, nextNonEmpty);
                        if (!fixed) coveredTo = info.CellRect.Right - dx;
                    }
                    const TRect cell = info.CellRect;
                    if (cell.Right <= targetRect.Left || cell.Left >= targetRect.Right) continue;
                    const bool main = !useColumns || col.Index == mainColumn;
                    if ((paintOptions & poMainOnly) && !main) continue;
                    int saved = SaveDC(dc);
                    ResetCanvasFont(canvas); // an event of the cell before may have changed it
                    IntersectClipRect(dc, std::max(cell.Left, targetRect.Left), row.Top,
                                      std::min(cell.Right, targetRect.Right), row.Bottom);
                    info.Position = col.Position;
                    info.ContentRect = cell;
                    if (rtl)
                        info.ContentRect.Right -= FMargin;
                    else
                        info.ContentRect.Left += FMargin;
                    // Right-to-left reading swaps left and right alignment.
                    info.Alignment =
                        useColumns ? FHeader->Columns()[col.Index].Alignment() : FAlignment;
                    if (rtl && info.Alignment != taCenter)
                        info.Alignment =
                            info.Alignment == taLeftJustify ? taRightJustify : taLeftJustify;
                    info.IndentX = cell.Left;
                    for (TLTImageInfo& slot : info.ImageInfo) slot = {};
                    if (paintOptions & poBackground)
                        PaintItemErase(info, useBackground, cell, false);
                    DoBeforeCellPaint(canvas, node, col.Index, cpmPaint, cell, info.ContentRect);

                    if (main) {
                        if (FLineMode == lmNormal || (paintOptions & poBands))
                            PaintTreeLines(info, vAlign, indentLevels, info.LineImage);
                        if ((paint & toShowButtons) && (node->States & vsHasChildren) &&
                            indentLevels > 0 &&
                            !((node->States & vsAllChildrenHidden) &&
                              (FOptions->AutoOptions() & toAutoHideButtons))) {
                            // Centred on the line of the deepest level, seen from the
                            // column's reading side.
                            const int w = FPlusBM->Width(), indent = int(FIndent);
                            int buttonX = rtl ? indentLevels * indent - indent / 2 - (w - w / 2)
                                              : (indentLevels - 1) * indent + indent / 2 - w / 2;
                            PaintNodeButton(canvas, node, col.Index, cell, buttonX, vButtonAlign,
                                            rtl ? bdRightToLeft : bdLeftToRight);
                        }
                        AdjustCoordinatesByIndent(info, indentLevels);
                        if ((misc & toCheckSupport) && CheckImages && node->CheckType != ctNone) {
                            TLTImageInfo& slot = info.ImageInfo[iiCheck];
                            AdjustImageBorder(CheckImages, rtl, vAlign, info.ContentRect, slot);
                            slot.Index = GetCheckImage(node);
                            slot.Images = CheckImages;
                        }
                        GetImageIndex(info, ikState, iiState, FStateImages);
                        if (info.ImageInfo[iiState].Index >= 0 && info.ImageInfo[iiState].Images)
                            AdjustImageBorder(info.ImageInfo[iiState].Images, rtl, vAlign,
                                              info.ContentRect, info.ImageInfo[iiState]);
                    }
                    GetImageIndex(info, selected ? ikSelected : ikNormal, iiNormal, FImages);
                    if (selected && info.ImageInfo[iiNormal].Index < 0)
                        GetImageIndex(info, ikNormal, iiNormal, FImages);
                    if (info.ImageInfo[iiNormal].Index >= 0 && info.ImageInfo[iiNormal].Images)
                        AdjustImageBorder(info.ImageInfo[iiNormal].Images, rtl, vAlign,
                                          info.ContentRect, info.ImageInfo[iiNormal]);

                    // Measuring is dear: only where selection, focus, drop target or range need the
                    // width.
                    bool needWidth =
                        !useColumns || selected || node == FFocusedNode || node == FDropTargetNode;
                    info.NodeWidth = needWidth ? DoGetNodeWidth(node, col.Index, &canvas) : 0;
                    if (!useColumns)
                        widest =
                            std::max(widest, info.ContentRect.Left - cell.Left + info.NodeWidth);
                    PaintCellSelection(info);
                    PaintCheckImage(info);
                    PaintImage(info, iiState, false);
                    PaintImage(info, iiNormal, true);
                    DoPaintNode(info);

                    if (paintOptions & poGridLines) {
                        SetTextColor(dc, ColorToRGB(FColors->Color(TLTColors::GridLineColor)));
                        if (paint & toShowHorzGridLines)
                            DrawDottedHLine(info, cell.Left, cell.Right - 1, row.Bottom - 1);
                        if (useColumns && (paint & toShowVertGridLines))
                            DrawDottedVLine(info, row.Top, row.Bottom - 1, cell.Right - 1);
                    }
                    DoAfterCellPaint(canvas, node, col.Index, cell);
                    RestoreDC(dc, saved);
                }
                // Right of the last column.
                if ((paintOptions & poBackground) && contentRight + dx < targetRect.Right)
                    EraseBackground(canvas,
                                    {std::max(targetRect.Left, contentRight + dx), row.Top,
                                     targetRect.Right, row.Bottom},
                                    useBackground, info.BrushOrigin);
            }
            if ((paintOptions & poDrawDropMark) && (paint & toShowDropmark) &&
                node == FDropTargetNode)
                DoPaintDropMark(canvas, node, itemRect);
            DoAfterItemPaint(canvas, node, itemRect);
        }
        y += height;
        node = GetNextVisible(node);
    }

    // Below the last row.
    if ((paintOptions & poBackground) && y < window.Bottom) {
        TRect rest{targetRect.Left, std::max(targetRect.Top, y + dy), targetRect.Right,
                   targetRect.Bottom};
        if (!DoPaintBackground(canvas, rest))
            EraseBackground(canvas, rest, useBackground, info.BrushOrigin);
    }
    DoStateChange(0, TS(tsPainting));
    if (resumeValidation) ValidateCache();
    if (widest > FRangeX) {
        // A wider row than seen so far: the horizontal bar learns the new range.
        FRangeX = widest;
        if (!useColumns) UpdateHorizontalScrollBar(false);
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

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
    if (applyCellContentMargin) left += FTextMargin;
    int right = left + DoGetNodeWidth(node, textColumn, &Canvas()) + 2 * FTextMargin;
    if (!unclipped) right = std::min(right, cellRight);
    r.Left = left;
    r.Right = std::max(left, right);
    return r;
}

} // namespace nuq

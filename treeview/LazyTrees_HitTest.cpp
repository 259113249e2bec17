// Hit testing: where a point lies in a row (button, check box, images, text),
// and the directions in which the tree scrolls by itself near its edges.

#include "treeview/LazyTrees.h"

#include <algorithm>

#include "platform/EventLoop.h"

namespace nuq {

bool TBaseLazyTree::HasImage(PLazyNode node, TLTImageKind kind, TColumnIndex column) {
    bool ghosted = false;
    int index = -1;
    DoGetImageIndex(node, kind, column, ghosted, index);
    return index > -1;
}

void TBaseLazyTree::GetHitTestInfoAt(int x, int y, bool relative, THitInfo& hitInfo) {
    hitInfo = THitInfo{};
    TRect client = ClientRect();
    const int rangeX = RangeX(), rangeY = RangeY();
    if (x < 0) hitInfo.HitPositions |= hiToLeft;
    if (x > std::max(client.Width(), rangeX)) hitInfo.HitPositions |= hiToRight;
    if (y < 0) hitInfo.HitPositions |= hiAbove;
    if (y > std::max(client.Height(), rangeY)) hitInfo.HitPositions |= hiBelow;
    if (hitInfo.HitPositions) return;

    if (relative) {
        y -= FOffsetY;
        if (x > FHeader->Columns().VisibleFixedWidth()) x += FEffectiveOffsetX;
    }
    int nodeTop = 0;
    PLazyNode node = GetNodeAt(x, y, false, nodeTop);
    if (!node) {
        hitInfo.HitPositions = hiNowhere;
        return;
    }
    if (!(node->States & vsInitialized)) InitNode(node);
    hitInfo.HitNode = node;

    int cellLeft = 0, cellRight = std::max(client.Width(), rangeX);
    TAlignment alignment = FAlignment;
    TBiDiMode bidi = BiDiMode;
    if (FHeader->UseColumns()) {
        // The columns' bounds come in client terms; the point is in tree terms here.
        int left = 0, right = 0;
        TPoint p{x, y};
        TColumnIndex column = FHeader->Columns().ColumnAndBoundsAt(p, left, right, false);
        hitInfo.HitColumn = column;
        if (column == InvalidColumn) {
            hitInfo.HitPositions = hiOnItem;
            return;
        }
        if (FOptions->AutoOptions() & toAutoSpanColumns) {
            // An empty cell belongs to the caption left of it that runs on into it.
            TLazyTreeColumns& columns = FHeader->Columns();
            for (TColumnIndex previous = columns.PreviousVisibleColumn(column);
                 previous > NoColumn && ColumnIsEmpty(node, column);
                 previous = columns.PreviousVisibleColumn(column)) {
                left -= columns[previous].Width();
                column = previous;
            }
            hitInfo.HitColumn = column;
            right = left + columns[column].Width() + AutoSpanWidth(node, column, true, 0);
        }
        cellLeft = left;
        cellRight = right;
        TLazyTreeColumn& c = FHeader->Columns()[column];
        alignment = c.Alignment();
        bidi = c.BiDiMode();
    }
    hitInfo.HitPositions = hiOnItem;
    if (FOptions->MiscOptions() & toNodeHeightResize) {
        int bottom = nodeTop + int(GetNodeHeight(node));
        if (y <= nodeTop + 1) hitInfo.HitPositions |= hiUpperSplitter;
        if (y >= bottom - 3) hitInfo.HitPositions |= hiLowerSplitter;
    }
    DetermineHitPosition(hitInfo, x - cellLeft, cellRight - cellLeft, alignment,
                         bidi != bdLeftToRight);
}

namespace {

// A cell read from the side its indentation starts at: left to right from the
// left edge, right to left from the right edge. Hit positions name the
// physical side, so the one nearest the reading start changes with it.
struct TReadingSide {
    bool RightToLeft;
    int Right; // the cell's width

    // How far X lies from the reading start, counted as X is left to right.
    int Distance(int x) const { return RightToLeft ? Right - 1 - x : x; }
    THitPositions Near() const { return RightToLeft ? hiOnItemRight : hiOnItemLeft; }
    THitPositions Far() const { return RightToLeft ? hiOnItemLeft : hiOnItemRight; }

    // Beside or on a text TextWidth wide placed by Alignment, with Offset taken by
    // indent, check box and images from the reading start.
    THitPositions TextPosition(int x, int offset, int textWidth, TAlignment alignment) const {
        if (textWidth > Right - offset) return hiOnItemLabel;
        const int d = Distance(x);
        // Right to left a left-aligned column reads from the right.
        switch (alignment) {
        case taLeftJustify:
            return d >= offset + textWidth ? Far() : hiOnItemLabel;
        case taRightJustify:
            return d < Right - textWidth ? Near() : hiOnItemLabel;
        case taCenter: {
            // Centred in what the content leaves of the cell, on the screen's own terms.
            const int areaLeft = RightToLeft ? 0 : offset;
            const int areaRight = RightToLeft ? Right - offset : Right;
            const int left = (areaLeft + areaRight - textWidth) / 2;
            if (x < left) return hiOnItemLeft;
            return x >= left + textWidth ? hiOnItemRight : hiOnItemLabel;
        }
        }
        return 0;
    }
};

} // namespace

void TBaseLazyTree::DetermineHitPosition(THitInfo& hitInfo, int x, int right, TAlignment alignment,
                                         bool rightToLeft) {
    PLazyNode node = hitInfo.HitNode;
    const TLTPaintOptions paint = FOptions->PaintOptions();
    const bool mainColumn = hitInfo.HitColumn == FHeader->MainColumn();
    const TReadingSide side{rightToLeft, right};
    const int d = side.Distance(x);
    int indent = 0;
    if (mainColumn) {
        if (paint & toFixedIndent)
            indent = int(FIndent);
        else
            indent = int(FIndent) * int(GetNodeLevel(node) + ((paint & toShowRoot) ? 1 : 0));
    }
    if (d < indent) {
        if ((paint & toShowButtons) && (node->States & vsHasChildren)) {
            if (d >= indent - int(FIndent)) hitInfo.HitPositions |= hiOnItemButton;
            if (d >= indent - FPlusBM->Width()) hitInfo.HitPositions |= hiOnItemButtonExact;
        }
        if (!(hitInfo.HitPositions & (hiOnItemButton | hiOnItemButtonExact)))
            hitInfo.HitPositions |= hiOnItemIndent;
        return;
    }
    if (!mainColumn && (FOptions->MiscOptions() & toReportMode)) return;

    int offset = indent + FMargin; // from the reading start
    if (mainColumn && (FOptions->MiscOptions() & toCheckSupport) && CheckImages &&
        node->CheckType != ctNone)
        offset += CheckImages->Width() + 2;
    if (mainColumn && d < offset) {
        // The margin and the check box form one area.
        hitInfo.HitPositions =
            hiOnItem | (hitInfo.HitPositions & (hiUpperSplitter | hiLowerSplitter));
        if (node->CheckType != ctNone) hitInfo.HitPositions |= hiOnItemCheckbox;
        return;
    }
    if (FStateImages && HasImage(node, ikState, hitInfo.HitColumn)) {
        offset += FStateImages->Width() + 2;
        if (d < offset) {
            hitInfo.HitPositions |= hiOnStateIcon;
            return;
        }
    }
    if (FImages && HasImage(node, ikNormal, hitInfo.HitColumn)) {
        offset += FImages->Width() + 2;
        if (d < offset) {
            hitInfo.HitPositions |= hiOnNormalIcon;
            return;
        }
    }
    hitInfo.HitPositions |=
        side.TextPosition(x, offset, DoGetNodeWidth(node, hitInfo.HitColumn, nullptr), alignment);
}

bool TBaseLazyTree::ColumnIsEmpty(PLazyNode node, TColumnIndex column) {
    bool empty = true;
    if (OnGetCellIsEmpty) OnGetCellIsEmpty(*this, node, column, empty);
    return empty;
}

int TBaseLazyTree::AutoSpanWidth(PLazyNode node, TColumnIndex column, bool forward, int reading,
                                 int* count) {
    TLazyTreeColumns& columns = FHeader->Columns();
    int width = 0, n = 0;
    for (TColumnIndex c = forward ? columns.NextVisibleColumn(column)
                                  : columns.PreviousVisibleColumn(column);
         c > NoColumn;
         c = forward ? columns.NextVisibleColumn(c) : columns.PreviousVisibleColumn(c)) {
        if (reading != 0 && columns[c].IsRightToLeftReading() != (reading == 2)) break;
        if (!ColumnIsEmpty(node, c)) break;
        width += columns[c].Width();
        ++n;
    }
    if (count) *count = n;
    return width;
}

bool TBaseLazyTree::CanAutoScroll() {
    const bool panning = FStates & TS(tsWheelPanning, tsWheelScrolling);
    if (!((FOptions->AutoOptions() & toAutoScroll) || panning)) return false;
    if (FHeader->States() & (hsDragging | hsColumnWidthTracking | hsHeightTracking)) return false;
    // A drag counts over the tree it would drop on, whichever tree it started from.
    const bool dropTarget = FDragManager && FDragManager->IsDropTarget();
    return (FStates & TS(tsDrawSelPending, tsDrawSelecting, tsFrameworkDragging)) || dropTarget ||
           panning;
}

TScrollDirections TBaseLazyTree::DetermineScrollDirections(int x, int y) {
    TScrollDirections result = 0;
    if (!CanAutoScroll() || (FStates & TS(tsWheelPanning, tsWheelScrolling))) {
        FScrollArmed = false;
        return 0;
    }
    const TRect client = ClientRect();
    const int threshold = int(FDefaultNodeHeight);
    if (x < threshold && FEffectiveOffsetX != 0) result |= sdLeft;
    if (client.Width() + FEffectiveOffsetX < RangeX() && x > client.Width() - threshold)
        result |= sdRight;
    if (y < threshold && FOffsetY != 0) result |= sdUp;
    if (client.Height() - FOffsetY < RangeY() && y > client.Height() - threshold) result |= sdDown;
    if (result) {
        // Only while the pointer is over this tree; a drop target may lie under a drag image.
        TPoint screen;
        GetCursorPos(screen);
        const bool dropTarget = FDragManager && FDragManager->IsDropTarget();
        if (WindowFromPoint(screen) != WindowHandle() && !dropTarget) result = 0;
    }
    if (!result) {
        FScrollArmed = false;
        return 0;
    }
    if (!FScrollArmed) {
        FScrollArmed = true;
        FLastScrollTick = GetTickCount();
    }
    if (GetTickCount() - FLastScrollTick < AutoScrollDelay) return 0;
    return result;
}

void TBaseLazyTree::DoAutoScroll(int x, int y) {
    FScrollDirections = DetermineScrollDirections(x, y);
    if (FStates & TS(tsWheelPanning, tsWheelScrolling)) return;
    if (FScrollDirections && !(FStates & TS(tsScrolling, tsScrollPending))) {
        DoStateChange(TS(tsScrollPending));
        SetTimer(Handle(), ScrollTimerId, AutoScrollDelay);
    } else if (!FScrollDirections && (FStates & TS(tsScrolling, tsScrollPending))) {
        StopTimer(ScrollTimerId);
        DoStateChange(0, TS(tsScrolling, tsScrollPending));
    }
}

} // namespace nuq

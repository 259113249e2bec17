// The tree's overridable class points (the column and hint window classes),
// the widest content of the rows in view, and redrawing a part of the tree
// while a drag image is shown over it.

#include "treeview/LazyTrees.h"

#include <algorithm>

namespace nuq {

std::unique_ptr<TLazyTreeColumn> TBaseLazyTree::GetColumnClass(TLazyTreeColumns* columns) {
    return std::make_unique<TLazyTreeColumn>(columns);
}

std::unique_ptr<TLazyTreeHintWindow> TBaseLazyTree::GetHintWindowClass() {
    return std::make_unique<TLazyTreeHintWindow>(nullptr);
}

// Every visible node counts, not only those on the screen: the extent must not
// change as the tree scrolls.
int TBaseLazyTree::GetMaxRightExtend() {
    const TLTPaintOptions paint = FOptions->PaintOptions();
    int imagesWidth = 0;
    if (FStateImages) imagesWidth += FStateImages->Width() + 2;
    if (FImages) imagesWidth += FImages->Width() + 2;
    const bool withCheck = (FOptions->MiscOptions() & toCheckSupport) && CheckImages;
    int result = 0;
    for (PLazyNode node = GetFirstVisible(); node; node = GetNextVisible(node)) {
        if (!(node->States & vsInitialized)) InitNode(node);
        int left =
            int(GetNodeLevel(node) + ((paint & toShowRoot) ? 1 : 0)) * int(FIndent) + imagesWidth;
        if (withCheck && node->CheckType != ctNone) left += CheckImages->Width();
        result = std::max(result, left + DoGetNodeWidth(node, FHeader->MainColumn(), nullptr));
    }
    return result + FMargin;
}

void UpdateWindowAndDragImage(TBaseLazyTree* tree, TRect treeRect, bool updateNCArea,
                              bool reshowDragImage, TLTDragImage* image) {
    HWND wnd = tree ? tree->WindowHandle() : 0;
    if (!wnd) return;
    treeRect = IntersectRects(treeRect, tree->ClientRect());
    if (treeRect.IsEmpty()) return;
    if (!image) image = &tree->DragImage();
    // The window's image is its own, not the screen's, so it is painted whole;
    // the picture on the screen keeps its place, and only the part of its
    // background copy that the tree covers is painted again.
    RedrawWindow(wnd, &treeRect,
                 RDW_INVALIDATE | RDW_UPDATENOW | RDW_NOCHILDREN |
                     (updateNCArea ? UINT(RDW_FRAME) : 0u));
    image->RecaptureScreenCopy(*tree, treeRect, nullptr, updateNCArea, reshowDragImage);
}

} // namespace nuq

#pragma once
// A string tree that opens the tree's protected hooks to the tests that drive
// them one at a time: the dispatchers, the selection and state primitives, the
// stream and paint steps. Tests that need them make their trees of this class
// (or derive their own test trees from it).

#include "treeview/LazyTrees.h"

namespace nuq {

class TTreeProbe : public TLazyStringTree {
public:
    using TLazyStringTree::TLazyStringTree;
    // The worker may still be validating this tree: stop it before the
    // object stops being a probe.
    ~TTreeProbe() override { ReleaseWorker(); }

    // States, scrolling, the position cache and window set-up.
    using TBaseLazyTree::AllocateInternalDataArea;
    using TBaseLazyTree::Animate;
    using TBaseLazyTree::ChangeScale;
    using TBaseLazyTree::ComputeRTLOffset;
    using TBaseLazyTree::CountLevelDifference;
    using TBaseLazyTree::DoSetOffsetXY;
    using TBaseLazyTree::DoStateChange;
    using TBaseLazyTree::DoValidateCache;
    using TBaseLazyTree::ExpandedNodes;
    using TBaseLazyTree::GetBorderDimensions;
    using TBaseLazyTree::InternalCacheNode;
    using TBaseLazyTree::ReadOldOptions;

    // Long operations.
    using TBaseLazyTree::BeginOperation;
    using TBaseLazyTree::EndOperation;
    using TBaseLazyTree::OperationCanceled;

    // The selection and the cut and copy marks.
    using TBaseLazyTree::AddToSelection;
    using TBaseLazyTree::FindNodeInSelection;
    using TBaseLazyTree::InternalClearSelection;
    using TBaseLazyTree::InternalRemoveFromSelection;
    using TBaseLazyTree::MarkCutCopyNodes;
    using TBaseLazyTree::PackArray;
    using TBaseLazyTree::RemoveFromSelection;

    // Streaming and painting steps.
    using TBaseLazyTree::ClipCanvas;
    using TBaseLazyTree::PaintItemErase;
    using TBaseLazyTree::PaintNonClientBorder;
    using TBaseLazyTree::PaintSelectionRectangle;
    using TBaseLazyTree::WriteNode;

    // Dispatchers.
    using TBaseLazyTree::DoBeforeDrag;
    using TBaseLazyTree::DoCancelEdit;
    using TBaseLazyTree::DoChange;
    using TBaseLazyTree::DoChecking;
    using TBaseLazyTree::DoCollapsing;
    using TBaseLazyTree::DoCompare;
    using TBaseLazyTree::DoEdit;
    using TBaseLazyTree::DoEndEdit;
    using TBaseLazyTree::DoExpanding;
    using TBaseLazyTree::DoFocusChanging;
    using TBaseLazyTree::DoFocusNode;
    using TBaseLazyTree::DoGetAnimationType;
    using TBaseLazyTree::DoGetCellContentMargin;
    using TBaseLazyTree::DoGetImageIndex;
    using TBaseLazyTree::DoGetPopupMenu;
    using TBaseLazyTree::DoKeyAction;
    using TBaseLazyTree::DoPopupMenu;
    using TBaseLazyTree::DoRenderOLEData;
    using TBaseLazyTree::DoShowScrollbar;
    using TBaseLazyTree::DoStructureChange;
    using TCustomLazyStringTree::DoCreateEditor;
    using TCustomLazyStringTree::DoGetNodeHint;
    using TCustomLazyStringTree::DoGetNodeWidth;

    // The base tree's own answers, past the string tree's overrides.
    int BaseDoIncrementalSearch(PLazyNode node, const std::u16string& text) {
        return TBaseLazyTree::DoIncrementalSearch(node, text);
    }
    std::shared_ptr<ILTEditLink> BaseDoCreateEditor(PLazyNode node, TColumnIndex column) {
        return TBaseLazyTree::DoCreateEditor(node, column);
    }
    int BaseDoGetNodeWidth(PLazyNode node, TColumnIndex column, TCanvas* canvas) {
        return TBaseLazyTree::DoGetNodeWidth(node, column, canvas);
    }
};

} // namespace nuq

// The string tree: a tree whose nodes show texts asked from the owner.

#include "treeview/LazyTrees.h"

namespace nuq {

namespace {

const TTreeClass stringTreeClass{"TCustomLazyStringTree", TBaseLazyTree::ClassInfo()};

} // namespace

const TTreeClass* TCustomLazyStringTree::ClassInfo() {
    return &stringTreeClass;
}

TCustomLazyStringTree::TCustomLazyStringTree(TComponent* owner) : TBaseLazyTree(owner) {
    FOptions = GetOptionsClass(); // the string options, now that this class exists
    DefaultText = u"Node";
    FInternalDataOffset = AllocateInternalDataArea(4);
}

TRect TCustomLazyStringTree::InvalidateNode(PLazyNode node) {
    TRect r = TBaseLazyTree::InvalidateNode(node);
    if (node) node->States &= ~vsHeightMeasured;
    return r;
}

TCustomLazyStringTree::~TCustomLazyStringTree() {
    ReleaseWorker();
    Destroying();
    // Nodes go while this class's overrides still run; so does the rendering
    // of what this tree left on the clipboard.
    ReleaseClipboardData();
    // An editor of this tree goes while the tree it edits still stands.
    if (FEditLink) DoCancelEdit();
    FEditLink.reset();
    RetiredEditor.reset();
    FOptions->SetMiscOptions(FOptions->MiscOptions() & ~toReadOnly);
    if (FRoot) Clear();
}

std::unique_ptr<TCustomLazyTreeOptions> TCustomLazyStringTree::GetOptionsClass() {
    return std::make_unique<TCustomStringTreeOptions>(this);
}

} // namespace nuq

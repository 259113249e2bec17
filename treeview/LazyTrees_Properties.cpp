// Tree properties whose setters do more than store: the default node
// height, the animation switch, the check images and the image lists the
// tree refers to (forgotten when they are freed).

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include "platform/ScopeGuard.h"

namespace nuq {

namespace {

bool Loading(const TBaseLazyTree& t) {
    return t.ComponentState & csLoading;
}

} // namespace

void TBaseLazyTree::SetDefaultNodeHeight(uint32_t value) {
    if (value == 0) value = 18;
    value = std::min<uint32_t>(value, UINT16_MAX); // what a node's height holds
    if (value == FDefaultNodeHeight) return;
    DoStateChange(TS(tsNeedScale));
    int64_t delta = int64_t(value) - int64_t(FDefaultNodeHeight);
    FRoot->TotalHeight = uint32_t(int64_t(FRoot->TotalHeight) + delta);
    FRoot->NodeHeight = uint16_t(int64_t(FRoot->NodeHeight) + delta);
    FDefaultNodeHeight = value;
    InvalidateCache();
    if (FUpdateCount == 0 && HandleAllocated() && !Loading(*this)) {
        QueueValidation();
        UpdateScrollBars(false);
        if (FFocusedNode)
            ScrollIntoView(FFocusedNode, FOptions->SelectionOptions() & toCenterScrollIntoView,
                           true);
        Invalidate();
    }
}

void TBaseLazyTree::SetAnimationDuration(uint32_t value) {
    FAnimationDuration = value;
    TLTAnimationOptions o = FOptions->AnimationOptions();
    FOptions->SetAnimationOptions(value != 0 ? (o | toAnimatedToggle) : (o & ~toAnimatedToggle));
}

TCustomImageList* TBaseLazyTree::GetCheckImageListFor(TCheckImageKind kind) {
    switch (kind) {
    case ckLightCheck:
        return LightCheckImages;
    case ckDarkCheck:
        return DarkCheckImages;
    case ckLightTick:
        return LightTickImages;
    case ckDarkTick:
        return DarkTickImages;
    case ckFlat:
        return FlatImages;
    case ckXP:
        return XPImages;
    case ckSystemFlat:
        return PlatformFlatCheckImages;
    case ckSystemDefault:
        return PlatformCheckImages;
    default:
        return nullptr;
    }
}

void TBaseLazyTree::SetCheckImageKind(TCheckImageKind value) {
    FCheckImageKind = value;
    CheckImages = GetCheckImageListFor(value);
    if (!CheckImages) CheckImages = FCustomCheckImages;
    if (HandleAllocated() && FUpdateCount == 0 && !Loading(*this)) Invalidate();
}

void TBaseLazyTree::ReplaceImageList(TCustomImageList*& field, TCustomImageList* value,
                                     TChangeLink& link) {
    if (field == value) return;
    if (field) field->UnRegisterChanges(&link);
    if (value) value->RegisterChanges(&link);
    // The old list keeps notifying while another slot still holds it.
    TCustomImageList* old = field;
    field = value;
    if (old && old != FImages && old != FStateImages && old != FCustomCheckImages)
        RemoveFreeNotification(old);
    if (value) FreeNotification(value);
}

void TBaseLazyTree::SetImages(TCustomImageList* value) {
    if (value == FImages) return;
    ReplaceImageList(FImages, value, FImageChangeLink);
    if (HandleAllocated() && !Loading(*this)) Invalidate();
}

void TBaseLazyTree::SetStateImages(TCustomImageList* value) {
    if (value == FStateImages) return;
    ReplaceImageList(FStateImages, value, FStateChangeLink);
    if (HandleAllocated() && !Loading(*this)) Invalidate();
}

void TBaseLazyTree::SetCustomCheckImages(TCustomImageList* value) {
    if (value == FCustomCheckImages) return;
    TCustomImageList* old = FCustomCheckImages;
    ReplaceImageList(FCustomCheckImages, value, FCustomCheckChangeLink);
    if (FCheckImageKind == ckCustom)
        CheckImages = value;
    else if (CheckImages && CheckImages == old)
        CheckImages = nullptr;
    if (HandleAllocated() && !Loading(*this)) Invalidate();
}

void TBaseLazyTree::Notification(TComponent* component, TOperation operation) {
    if (operation == opRemove && component && component != this) {
        bool changed = false;
        if (component == FImages) {
            FImages = nullptr;
            changed = true;
        }
        if (component == FStateImages) {
            FStateImages = nullptr;
            changed = true;
        }
        if (FHeader && component == FHeader->Images())
            FHeader->FImages = nullptr; // the header's glyphs
        if (component == PopupMenu) PopupMenu = nullptr;
        if (FHeader && component == FHeader->PopupMenu) FHeader->PopupMenu = nullptr;
        if (component == FCustomCheckImages) {
            FCustomCheckImages = nullptr;
            if (CheckImages == component) CheckImages = nullptr;
            FCheckImageKind = ckSystemDefault;
            CheckImages = GetCheckImageListFor(ckSystemDefault);
            changed = true;
        }
        if (changed && !(ComponentState & csDestroying) && HandleAllocated()) Invalidate();
    }
    TCustomControl::Notification(component, operation);
}

} // namespace nuq

namespace nuq {

void TBaseLazyTree::Loaded() {
    TCustomControl::Loaded();
    if (FRootCountBeforeLoading) {
        DoStateChange(0, TS(tsNeedRootCountUpdate));
        uint32_t count = FRoot->ChildCount;
        FRoot->ChildCount = *FRootCountBeforeLoading; // only recorded so far
        FRootCountBeforeLoading.reset();
        if (count != FRoot->ChildCount) {
            TLTMiscOptions misc = FOptions->MiscOptions();
            FOptions->SetMiscOptions(misc & ~toReadOnly);
            TScopeExit restoreOptions([this, misc] { FOptions->SetMiscOptions(misc); });
            TUpdateScope update(*this);
            SetChildCount(FRoot, count);
        }
    }
    EndHeaderLoading();
}

void TBaseLazyTree::ReadFailed() {
    TCustomControl::ReadFailed();
    if (FRootCountBeforeLoading) {
        FRoot->ChildCount = *FRootCountBeforeLoading;
        FRootCountBeforeLoading.reset();
        DoStateChange(0, TS(tsNeedRootCountUpdate));
    }
    if (FHeader->FStates & hsLoading) EndHeaderLoading();
}

void TBaseLazyTree::EndHeaderLoading() {
    // Column positions and widths were only recorded while loading: now they take effect.
    TLTHeader& header = *FHeader;
    header.RecalculateHeader();
    header.FColumns->RebuildPositionArray();
    if (FOptions->AutoOptions() & toAutoBidiColumnOrdering)
        header.FColumns->ResetPositionOrder(UseRightToLeftAlignment());
    header.FStates &= ~hsLoading;
    header.FixupMainColumn(); // stored unclamped while the columns were still coming
    if (header.Options() & hoAutoResize) header.FColumns->ApplyAutoSize(InvalidColumn, false);
}

} // namespace nuq

// --- visual properties ----------------------------------------------------------------------

namespace nuq {

namespace {

// Stores a changed value; the caller repaints when it returns true.
template <class T> bool Store(T& field, T value) {
    if (field == value) return false;
    field = value;
    return true;
}

} // namespace

void TBaseLazyTree::RepaintIfLive() {
    if (HandleAllocated() && !(ComponentState & csLoading)) Invalidate();
}

void TBaseLazyTree::SetAlignment(TAlignment value) {
    if (Store(FAlignment, value)) RepaintIfLive();
}

void TBaseLazyTree::SetBackground(const TBitmap& picture) {
    FBackground->Assign(picture);
    RepaintIfLive();
}

void TBaseLazyTree::SetBackgroundOffset(int index, int value) {
    if (index >= 0 && index < 2 && Store(FBackgroundOffset[index], value)) RepaintIfLive();
}

void TBaseLazyTree::SetBorderStyle(int value) {
    // The border is a window style: a live window is made again.
    if (Store(FBorderStyle, value) && HandleAllocated()) RecreateWnd();
}

void TBaseLazyTree::SetBottomSpace(uint32_t value) {
    Store(FBottomSpace, value);
    UpdateVerticalScrollBar(true); // the range and a bottom-clamped offset follow at once
}

void TBaseLazyTree::SetButtonFillMode(TLTButtonFillMode value) {
    if (Store(FButtonFillMode, value)) RepaintIfLive();
}

void TBaseLazyTree::SetButtonStyle(TLTButtonStyle value) {
    if (Store(FButtonStyle, value)) RepaintIfLive();
}

void TBaseLazyTree::SetClipboardFormats(const TClipboardFormats& value) {
    std::vector<std::string> names = value.Strings(); // Value may be the tree's own list
    FClipboardFormats->Clear();
    for (const std::string& name : names) FClipboardFormats->Add(name);
}

void TBaseLazyTree::SetIncrementalSearch(TLTIncrementalSearch value) {
    if (!Store(FIncrementalSearch, value) || value != isNone) return;
    // A search running now ends here, as its timer would have ended it.
    StopTimer(SearchTimer);
    DoStateChange(0, TS(tsIncrementalSearching));
    FSearchBuffer.clear();
    FLastSearchNode = nullptr;
}

void TBaseLazyTree::SetIndent(uint32_t value) {
    if (!Store(FIndent, value) || (ComponentState & csLoading)) return;
    if (FUpdateCount == 0 && HandleAllocated()) {
        UpdateHorizontalScrollBar(false);
        Invalidate();
    }
}

void TBaseLazyTree::SetLineMode(TLTLineMode value) {
    if (Store(FLineMode, value)) RepaintIfLive();
}

void TBaseLazyTree::SetLineStyle(TLTLineStyle value) {
    if (Store(FLineStyle, value)) RepaintIfLive();
}

void TBaseLazyTree::SetMargin(int value) {
    if (Store(FMargin, value)) RepaintIfLive();
}

void TBaseLazyTree::SetTextMargin(int value) {
    if (Store(FTextMargin, value)) RepaintIfLive();
}

void TBaseLazyTree::SetNodeAlignment(TLTNodeAlignment value) {
    if (Store(FNodeAlignment, value) && !(ComponentState & csReading)) RepaintIfLive();
}

void TBaseLazyTree::SetSelectionCurveRadius(uint32_t value) {
    if (Store(FSelectionCurveRadius, value)) RepaintIfLive();
}

} // namespace nuq

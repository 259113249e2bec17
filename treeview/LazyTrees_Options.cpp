// Option sets of a tree, and the small objects a tree owns (scroll-bar
// options, colours, clipboard format names). Setters apply what a changed
// bit means to the owning tree at once.

#include "treeview/LazyTrees.h"

#include <strings.h>

namespace nuq {

namespace {

bool Loading(TBaseLazyTree* t) {
    return t->ComponentState & csLoading;
}

bool Live(TBaseLazyTree* t) {
    return !Loading(t) && t->HandleAllocated();
}

} // namespace

TCustomLazyTreeOptions::TCustomLazyTreeOptions(TBaseLazyTree* owner) : FOwner(owner) {}

void TCustomLazyTreeOptions::SetAnimationOptions(TLTAnimationOptions value) {
    FAnimationOptions = value;
}

void TCustomLazyTreeOptions::SetAutoOptions(TLTAutoOptions value) {
    if (value == FAutoOptions) return;
    TLTAutoOptions changed = value ^ FAutoOptions;
    FAutoOptions = value;
    if ((changed & toAutoSpanColumns) && Live(FOwner)) FOwner->Invalidate();
}

void TCustomLazyTreeOptions::SetSelectionOptions(TLTSelectionOptions value) {
    if (value == FSelectionOptions) return;
    TLTSelectionOptions old = FSelectionOptions;
    FSelectionOptions = value;
    TLTSelectionOptions added = value & ~old;
    if (((value ^ old) & toMultiSelect) ||
        (added & (toLevelSelectConstraint | toSiblingSelectConstraint)))
        FOwner->ClearSelection();
    if ((old & toExtendedFocus) && !(value & toExtendedFocus) && FOwner->FocusedColumn() > 0 &&
        FOwner->HandleAllocated()) {
        FOwner->FFocusedColumn = FOwner->Header().MainColumn();
        FOwner->Invalidate();
    }
    if (!(value & toExtendedFocus)) FOwner->FFocusedColumn = FOwner->Header().MainColumn();
}

void TCustomLazyTreeOptions::SetMiscOptions(TLTMiscOptions value) {
    if (value == FMiscOptions) return;
    TLTMiscOptions changed = value ^ FMiscOptions;
    FMiscOptions = value;
    if (!Live(FOwner)) return;
    if (changed & toCheckSupport) FOwner->Invalidate();
    if (FOwner->ComponentState & csDesigning) return;
    if (changed & toFullRepaintOnResize) FOwner->RecreateWnd();
    if (changed & toAcceptOLEDrop) {
        if (value & toAcceptOLEDrop)
            RegisterDragDrop(FOwner->Handle(), FOwner->DragManager());
        else
            RevokeDragDrop(FOwner->Handle());
    }
}

void TCustomLazyTreeOptions::SetPaintOptions(TLTPaintOptions value) {
    if (value == FPaintOptions) return;
    TLTPaintOptions changed = value ^ FPaintOptions;
    FPaintOptions = value;
    if (!Live(FOwner) && !(changed & toShowHiddenNodes)) return;
    if (changed & toShowHiddenNodes) {
        // Hidden nodes start or stop counting as visible, whatever else changed with them.
        FOwner->BeginUpdate();
        FOwner->InterruptValidation();
        FOwner->RecountAfterHiddenNodesChange();
        FOwner->EndUpdate();
    }
    if (!(changed & (toThemeAware | toUseExplorerTheme))) {
        if (!(changed & toShowHiddenNodes) && Live(FOwner)) FOwner->Invalidate();
        return;
    }
    // Visual themes are not available here: a tree never uses them.
    FOwner->DoStateChange(0, TS(tsUseThemes));
    if (Live(FOwner))
        RedrawWindow(FOwner->Handle(), nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_ERASE);
}

void TCustomLazyTreeOptions::AssignTo(TCustomLazyTreeOptions& dest) const {
    dest.SetPaintOptions(FPaintOptions);
    dest.SetAnimationOptions(FAnimationOptions);
    dest.SetAutoOptions(FAutoOptions);
    dest.SetSelectionOptions(FSelectionOptions);
    dest.SetMiscOptions(FMiscOptions);
}

void TCustomStringTreeOptions::AssignTo(TCustomLazyTreeOptions& dest) const {
    TCustomLazyTreeOptions::AssignTo(dest);
    if (auto* s = dynamic_cast<TCustomStringTreeOptions*>(&dest))
        s->SetStringOptions(FStringOptions);
}

// --- scroll-bar options, colours, clipboard formats ---------------------------------------------

void TScrollBarOptions::SetAlwaysVisible(bool value) {
    if (value == FAlwaysVisible) return;
    FAlwaysVisible = value;
    if (Live(FOwner)) FOwner->RecreateWnd();
}

void TScrollBarOptions::SetScrollBars(TScrollStyle value) {
    if (value == FScrollBars) return;
    FScrollBars = value;
    if (Live(FOwner)) FOwner->RecreateWnd();
}

void TScrollBarOptions::Assign(const TScrollBarOptions& source) {
    SetAlwaysVisible(source.FAlwaysVisible);
    HorizontalIncrement = source.HorizontalIncrement;
    SetScrollBars(source.FScrollBars);
    ScrollBarStyle = source.ScrollBarStyle;
    VerticalIncrement = source.VerticalIncrement;
}

TLTColors::TLTColors(TBaseLazyTree* owner) : FOwner(owner) {
    const TColor start[15] = {clBtnShadow, clHighlight, clHighlight, clHighlight,  clBtnFace,
                              clBtnShadow, clBtnFace,   clBtnFace,   clWindowText, clHighlight,
                              clBtnFace,   clHighlight, clHighlight, clHighlight,  clBtnShadow};
    std::copy(std::begin(start), std::end(start), FColors);
}

void TLTColors::SetColor(int index, TColor value) {
    if (index < 0 || index >= 15 || FColors[index] == value) return;
    FColors[index] = value;
    if (!Live(FOwner)) return;
    if (index == BorderColor)
        RedrawWindow(FOwner->Handle(), nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_NOCHILDREN);
    else
        FOwner->Invalidate();
}

void TLTColors::Assign(const TLTColors& source) {
    std::copy(std::begin(source.FColors), std::end(source.FColors), FColors);
    if (FOwner->UpdateCount() == 0) FOwner->Invalidate();
}

bool TClipboardFormats::Accepts(const std::string& s) const {
    TClipboardFormatList* list = InternalClipboardFormats();
    if (!list) return false;
    WORD format = 0;
    const TTreeClass* cls = list->FindByName(s, format);
    return cls && FOwner->ClassType()->InheritsFrom(cls);
}

namespace {

bool LessText(const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
}

} // namespace

int TClipboardFormats::Add(const std::string& s) {
    if (!Accepts(s)) return -1;
    auto it = std::lower_bound(FStrings.begin(), FStrings.end(), s, LessText);
    if (it != FStrings.end() && !LessText(s, *it))
        return int(it - FStrings.begin()); // duplicates ignored
    int index = int(it - FStrings.begin());
    FStrings.insert(it, s);
    return index;
}

void TClipboardFormats::Insert(int, const std::string& s) {
    // A sorted list keeps its order; inserting adds in place.
    Add(s);
}

} // namespace nuq

// The tree's window creation, rescaling with its form, the option set of old
// form resources and the timed animation loop.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include <algorithm>
#include <cmath>

namespace nuq {

void TBaseLazyTree::CreateWnd() {
    DoStateChange(TS(tsWindowCreating));
    TCustomControl::CreateWnd();
    DoStateChange(0, TS(tsWindowCreating));
    DoStateChange(0, TS(tsUseThemes)); // the window layer draws no themes
    if (FHeader->Options() & hoAutoResize) FHeader->Columns().ApplyAutoSize(InvalidColumn, false);
    PrepareBitmaps(true, true);
    UpdateScrollBars(true);
    UpdateHeaderRect();
    // A height or constraint set before the window existed could not be bounded then.
    if (FHeader->States() & hsNeedScaling) FHeader->RescaleHeader();
    FHeader->AdjustAutoSpring(); // the width spring columns follow from now on
    if (FOptions->MiscOptions() & toAcceptOLEDrop) RegisterDragDrop(WindowHandle(), DragManager());
}

void TBaseLazyTree::CreateParams(TCreateParams& params) {
    TCustomControl::CreateParams(params);
    params.Style |= WS_CLIPCHILDREN | WS_CLIPSIBLINGS;
    if (FOptions->MiscOptions() & toFullRepaintOnResize)
        params.ClassStyle |= CS_HREDRAW | CS_VREDRAW;
    else
        params.ClassStyle &= ~UINT(CS_HREDRAW | CS_VREDRAW);
    const TScrollStyle bars = FScrollBarOptions->ScrollBars();
    if (bars == ssHorizontal || bars == ssBoth) params.Style |= WS_HSCROLL;
    if (bars == ssVertical || bars == ssBoth) params.Style |= WS_VSCROLL;
    params.Style &= ~WS_BORDER;
    params.ExStyle &= ~WS_EX_CLIENTEDGE;
    if (FBorderStyle == 1) {
        if (FCtl3D)
            params.ExStyle |= WS_EX_CLIENTEDGE;
        else
            params.Style |= WS_BORDER;
    }
}

TPoint TBaseLazyTree::GetBorderDimensions() {
    TPoint result{0, 0};
    if (!HandleAllocated()) return result;
    // The layer has no sizing frames; a plain border and a client edge remain.
    if (GetWindowLongPtr(WindowHandle(), GWL_STYLE) & WS_BORDER) result = {-1, -1};
    if (GetWindowLongPtr(WindowHandle(), GWL_EXSTYLE) & WS_EX_CLIENTEDGE)
        result = {result.X - GetSystemMetrics(SM_CXEDGE), result.Y - GetSystemMetrics(SM_CYEDGE)};
    return result;
}

void TBaseLazyTree::ChangeScale(int m, int d) {
    if (m == d || d == 0 || !(FOptions->AutoOptions() & toAutoChangeScale)) return;
    if ((ComponentState & csLoading) && !(FStates & TS(tsNeedScale))) return;
    int scaled = MulDiv(int(FDefaultNodeHeight), m, d);
    if (scaled > 0) FDefaultNodeHeight = uint32_t(scaled);
    FHeader->ChangeScale(m, d);
}

void TBaseLazyTree::ReadOldOptions(const std::vector<std::string>& names) {
    struct TOld {
        const char* Name;
        enum { Misc, Animation, Auto, Selection, Paint } Set;
        uint32_t Option;
    };
    static const TOld old[] = {
        {"voAcceptOLEDrop", TOld::Misc, toAcceptOLEDrop},
        {"voAnimatedToggle", TOld::Animation, toAnimatedToggle},
        {"voAutoDropExpand", TOld::Auto, toAutoDropExpand},
        {"voAutoExpand", TOld::Auto, toAutoExpand},
        {"voAutoScroll", TOld::Auto, toAutoScroll},
        {"voAutoSort", TOld::Auto, toAutoSort},
        {"voAutoSpanColumns", TOld::Auto, toAutoSpanColumns},
        {"voAutoTristateTracking", TOld::Auto, toAutoTristateTracking},
        {"voCheckSupport", TOld::Misc, toCheckSupport},
        {"voDisableDrawSelection", TOld::Selection, toDisableDrawSelection},
        {"voEditable", TOld::Misc, toEditable},
        {"voExtendedFocus", TOld::Selection, toExtendedFocus},
        {"voFullRowSelect", TOld::Selection, toFullRowSelect},
        {"voGridExtensions", TOld::Misc, toGridExtensions},
        {"voHideFocusRect", TOld::Paint, toHideFocusRect},
        {"voHideSelection", TOld::Paint, toHideSelection},
        {"voHotTrack", TOld::Paint, toHotTrack},
        {"voInitOnSave", TOld::Misc, toInitOnSave},
        {"voLevelSelectConstraint", TOld::Selection, toLevelSelectConstraint},
        {"voMiddleClickSelect", TOld::Selection, toMiddleClickSelect},
        {"voMultiSelect", TOld::Selection, toMultiSelect},
        {"voRightClickSelect", TOld::Selection, toRightClickSelect},
        {"voPopupMode", TOld::Paint, toPopupMode},
        {"voShowBackground", TOld::Paint, toShowBackground},
        {"voShowButtons", TOld::Paint, toShowButtons},
        {"voShowDropmark", TOld::Paint, toShowDropmark},
        {"voShowHorzGridLines", TOld::Paint, toShowHorzGridLines},
        {"voShowRoot", TOld::Paint, toShowRoot},
        {"voShowTreeLines", TOld::Paint, toShowTreeLines},
        {"voShowVertGridLines", TOld::Paint, toShowVertGridLines},
        {"voSiblingSelectConstraint", TOld::Selection, toSiblingSelectConstraint},
        {"voToggleOnDblClick", TOld::Misc, toToggleOnDblClick},
    };
    uint32_t sets[5] = {0, 0, 0, 0, 0};
    for (const std::string& name : names)
        for (const TOld& o : old)
            if (name == o.Name) sets[o.Set] |= o.Option;
    TCustomLazyTreeOptions& options = *FOptions;
    options.SetMiscOptions(TLTMiscOptions(sets[TOld::Misc]));
    options.SetAnimationOptions(TLTAnimationOptions(sets[TOld::Animation]));
    options.SetAutoOptions(TLTAutoOptions(sets[TOld::Auto]));
    options.SetSelectionOptions(TLTSelectionOptions(sets[TOld::Selection]));
    options.SetPaintOptions(TLTPaintOptions(sets[TOld::Paint]));
}

} // namespace nuq

#pragma once
// The option sets of the trees and the option, scroll bar and colour objects
// a tree owns.

#include <cstdint>

#include "platform/gui/Classes.h"
#include "platform/gui/Graphics.h"
#include "treeview/LazyTrees_Node.h"

namespace nuq {

// --- options ---------------------------------------------------------------------------

using TLTAnimationOptions = uint8_t;
enum : TLTAnimationOptions { toAnimatedToggle = 1, toAdvancedAnimatedToggle = 2 };
using TLTAutoOptions = uint16_t;
enum : TLTAutoOptions {
    toAutoDropExpand = 1 << 0,
    toAutoExpand = 1 << 1,
    toAutoScroll = 1 << 2,
    toAutoScrollOnExpand = 1 << 3,
    toAutoSort = 1 << 4,
    toAutoSpanColumns = 1 << 5,
    toAutoTristateTracking = 1 << 6,
    toAutoHideButtons = 1 << 7,
    toAutoDeleteMovedNodes = 1 << 8,
    toDisableAutoscrollOnFocus = 1 << 9,
    toAutoChangeScale = 1 << 10,
    toAutoFreeOnCollapse = 1 << 11,
    toDisableAutoscrollOnEdit = 1 << 12,
    toAutoBidiColumnOrdering = 1 << 13,
};
using TLTMiscOptions = uint16_t;
enum : TLTMiscOptions {
    toAcceptOLEDrop = 1 << 0,
    toCheckSupport = 1 << 1,
    toEditable = 1 << 2,
    toFullRepaintOnResize = 1 << 3,
    toGridExtensions = 1 << 4,
    toInitOnSave = 1 << 5,
    toReportMode = 1 << 6,
    toToggleOnDblClick = 1 << 7,
    toWheelPanning = 1 << 8,
    toReadOnly = 1 << 9,
    toVariableNodeHeight = 1 << 10,
    toFullRowDrag = 1 << 11,
    toNodeHeightResize = 1 << 12,
    toNodeHeightDblClickResize = 1 << 13,
    toEditOnClick = 1 << 14,
    toEditOnDblClick = 1 << 15,
};
using TLTPaintOptions = uint32_t;
enum : TLTPaintOptions {
    toHideFocusRect = 1 << 0,
    toHideSelection = 1 << 1,
    toHotTrack = 1 << 2,
    toPopupMode = 1 << 3,
    toShowBackground = 1 << 4,
    toShowButtons = 1 << 5,
    toShowDropmark = 1 << 6,
    toShowHorzGridLines = 1 << 7,
    toShowRoot = 1 << 8,
    toShowTreeLines = 1 << 9,
    toShowVertGridLines = 1 << 10,
    toThemeAware = 1 << 11,
    toUseBlendedImages = 1 << 12,
    toGhostedIfUnfocused = 1 << 13,
    toFullVertGridLines = 1 << 14,
    toAlwaysHideSelection = 1 << 15,
    toUseBlendedSelection = 1 << 16,
    toStaticBackground = 1 << 17,
    toChildrenAbove = 1 << 18,
    toFixedIndent = 1 << 19,
    toUseExplorerTheme = 1 << 20,
    toHideTreeLinesIfThemed = 1 << 21,
    toShowHiddenNodes = 1 << 22,
};
using TLTSelectionOptions = uint16_t;
enum : TLTSelectionOptions {
    toDisableDrawSelection = 1 << 0,
    toExtendedFocus = 1 << 1,
    toFullRowSelect = 1 << 2,
    toLevelSelectConstraint = 1 << 3,
    toMiddleClickSelect = 1 << 4,
    toMultiSelect = 1 << 5,
    toRightClickSelect = 1 << 6,
    toSiblingSelectConstraint = 1 << 7,
    toCenterScrollIntoView = 1 << 8,
    toSimpleDrawSelection = 1 << 9,
};
enum TLTExportMode : uint8_t { emAll, emChecked, emUnchecked };
using TLTStringOptions = uint8_t;
enum : TLTStringOptions { toSaveCaptions = 1, toShowStaticText = 2, toAutoAcceptEditChange = 4 };

inline constexpr TLTAutoOptions DefaultAutoOptions =
    toAutoDropExpand | toAutoScrollOnExpand | toAutoTristateTracking | toAutoDeleteMovedNodes;
inline constexpr TLTMiscOptions DefaultMiscOptions = toAcceptOLEDrop | toFullRepaintOnResize |
                                                     toInitOnSave | toToggleOnDblClick |
                                                     toWheelPanning | toEditOnClick;
inline constexpr TLTPaintOptions DefaultPaintOptions = toShowButtons | toShowDropmark | toShowRoot |
                                                       toShowTreeLines | toThemeAware |
                                                       toUseBlendedImages;
inline constexpr TLTStringOptions DefaultStringOptions = toSaveCaptions | toAutoAcceptEditChange;

class TCustomLazyTreeOptions : public TPersistent {
public:
    explicit TCustomLazyTreeOptions(TBaseLazyTree* owner);
    virtual ~TCustomLazyTreeOptions() = default;

    TBaseLazyTree* Owner() const { return FOwner; }
    TLTPaintOptions PaintOptions() const { return FPaintOptions; }
    TLTAnimationOptions AnimationOptions() const { return FAnimationOptions; }
    TLTAutoOptions AutoOptions() const { return FAutoOptions; }
    TLTSelectionOptions SelectionOptions() const { return FSelectionOptions; }
    TLTMiscOptions MiscOptions() const { return FMiscOptions; }
    TLTExportMode ExportMode() const { return FExportMode; }
    void SetPaintOptions(TLTPaintOptions value);
    void SetAnimationOptions(TLTAnimationOptions value);
    void SetAutoOptions(TLTAutoOptions value);
    void SetSelectionOptions(TLTSelectionOptions value);
    void SetMiscOptions(TLTMiscOptions value);
    void SetExportMode(TLTExportMode value) { FExportMode = value; }
    virtual void AssignTo(TCustomLazyTreeOptions& dest) const;

protected:
    TBaseLazyTree* FOwner;
    TLTPaintOptions FPaintOptions = DefaultPaintOptions;
    TLTAnimationOptions FAnimationOptions = 0;
    TLTAutoOptions FAutoOptions = DefaultAutoOptions;
    TLTSelectionOptions FSelectionOptions = 0;
    TLTMiscOptions FMiscOptions = DefaultMiscOptions;
    TLTExportMode FExportMode = emAll;
};

class TCustomStringTreeOptions : public TCustomLazyTreeOptions {
public:
    using TCustomLazyTreeOptions::TCustomLazyTreeOptions;
    TLTStringOptions StringOptions() const { return FStringOptions; }
    void SetStringOptions(TLTStringOptions value) { FStringOptions = value; }
    void AssignTo(TCustomLazyTreeOptions& dest) const override;

protected:
    TLTStringOptions FStringOptions = DefaultStringOptions;
};
using TStringTreeOptions = TCustomStringTreeOptions;

// --- owned objects of a tree
// ------------------------------------------------------------------------

enum TScrollStyle { ssNone, ssHorizontal, ssVertical, ssBoth };
enum TScrollBarStyle { sbmRegular, sbmFlat, sbm3D };
class TScrollBarOptions : public TPersistent {
public:
    explicit TScrollBarOptions(TBaseLazyTree* owner) : FOwner(owner) {}
    bool AlwaysVisible() const { return FAlwaysVisible; }
    void SetAlwaysVisible(bool value);
    TScrollStyle ScrollBars() const { return FScrollBars; }
    void SetScrollBars(TScrollStyle value);
    TScrollBarStyle ScrollBarStyle = sbmRegular;
    uint16_t HorizontalIncrement = 20;
    uint16_t VerticalIncrement = 20;
    void Assign(const TScrollBarOptions& source);

private:
    TBaseLazyTree* FOwner;
    bool FAlwaysVisible = false;
    TScrollStyle FScrollBars = ssBoth;
};

class TLTColors : public TPersistent {
public:
    explicit TLTColors(TBaseLazyTree* owner);
    enum : int {
        DisabledColor,
        DropMarkColor,
        DropTargetColor,
        FocusedSelectionColor,
        GridLineColor,
        TreeLineColor,
        UnfocusedSelectionColor,
        BorderColor,
        HotColor,
        FocusedSelectionBorderColor,
        UnfocusedSelectionBorderColor,
        DropTargetBorderColor,
        SelectionRectangleBlendColor,
        SelectionRectangleBorderColor,
        HeaderHotColor,
    };
    TColor Color(int index) const { return FColors[index]; }
    void SetColor(int index, TColor value);
    void Assign(const TLTColors& source);

private:
    TBaseLazyTree* FOwner;
    TColor FColors[15];
};

} // namespace nuq

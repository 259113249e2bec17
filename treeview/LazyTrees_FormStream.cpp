// The tree in form resources: its published properties with their stored
// defaults, the header's and the columns', the header's columns as the
// tree's "Columns", and the single option set that old forms hold.

#include "treeview/LazyTrees.h"

#include "platform/Cp1251.h"
#include "platform/gui/Filer.h"

#include <cstring>
#include <istream>
#include <iterator>
#include <mutex>
#include <ostream>

namespace nuq {

namespace {

using Ids = std::vector<std::string>;

const Ids BooleanIds{"False", "True"};
const Ids AlignmentIds{"taLeftJustify", "taRightJustify", "taCenter"};
const Ids BiDiModeIds{"bdLeftToRight", "bdRightToLeft", "bdRightToLeftNoAlign",
                      "bdRightToLeftReadingOnly"};

// The option sets, their members in bit order.
void RegisterOptions() {
    TPublisher<TCustomLazyTreeOptions> o;
    o.Ordinal(
         "AnimationOptions", tkSet, [](auto& t) { return t.AnimationOptions(); },
         [](auto& t, int64_t v) { t.SetAnimationOptions(TLTAnimationOptions(v)); },
         {"toAnimatedToggle", "toAdvancedAnimatedToggle"})
        .Default(0);
    o.Ordinal(
         "AutoOptions", tkSet, [](auto& t) { return t.AutoOptions(); },
         [](auto& t, int64_t v) { t.SetAutoOptions(TLTAutoOptions(v)); },
         {"toAutoDropExpand", "toAutoExpand", "toAutoScroll", "toAutoScrollOnExpand", "toAutoSort",
          "toAutoSpanColumns", "toAutoTristateTracking", "toAutoHideButtons",
          "toAutoDeleteMovedNodes", "toDisableAutoscrollOnFocus", "toAutoChangeScale",
          "toAutoFreeOnCollapse", "toDisableAutoscrollOnEdit", "toAutoBidiColumnOrdering"})
        .Default(DefaultAutoOptions);
    o.Ordinal(
         "ExportMode", tkEnumeration, [](auto& t) { return t.ExportMode(); },
         [](auto& t, int64_t v) { t.SetExportMode(TLTExportMode(v)); },
         {"emAll", "emChecked", "emUnchecked"})
        .Default(emAll);
    o.Ordinal(
         "MiscOptions", tkSet, [](auto& t) { return t.MiscOptions(); },
         [](auto& t, int64_t v) { t.SetMiscOptions(TLTMiscOptions(v)); },
         {"toAcceptOLEDrop", "toCheckSupport", "toEditable", "toFullRepaintOnResize",
          "toGridExtensions", "toInitOnSave", "toReportMode", "toToggleOnDblClick",
          "toWheelPanning", "toReadOnly", "toVariableNodeHeight", "toFullRowDrag",
          "toNodeHeightResize", "toNodeHeightDblClickResize", "toEditOnClick", "toEditOnDblClick"})
        .Default(DefaultMiscOptions);
    o.Ordinal(
         "PaintOptions", tkSet, [](auto& t) { return t.PaintOptions(); },
         [](auto& t, int64_t v) { t.SetPaintOptions(TLTPaintOptions(v)); },
         {"toHideFocusRect",
          "toHideSelection",
          "toHotTrack",
          "toPopupMode",
          "toShowBackground",
          "toShowButtons",
          "toShowDropmark",
          "toShowHorzGridLines",
          "toShowRoot",
          "toShowTreeLines",
          "toShowVertGridLines",
          "toThemeAware",
          "toUseBlendedImages",
          "toGhostedIfUnfocused",
          "toFullVertGridLines",
          "toAlwaysHideSelection",
          "toUseBlendedSelection",
          "toStaticBackground",
          "toChildrenAbove",
          "toFixedIndent",
          "toUseExplorerTheme",
          "toHideTreeLinesIfThemed",
          "toShowHiddenNodes"})
        .Default(DefaultPaintOptions);
    o.Ordinal(
         "SelectionOptions", tkSet, [](auto& t) { return t.SelectionOptions(); },
         [](auto& t, int64_t v) { t.SetSelectionOptions(TLTSelectionOptions(v)); },
         {"toDisableDrawSelection", "toExtendedFocus", "toFullRowSelect", "toLevelSelectConstraint",
          "toMiddleClickSelect", "toMultiSelect", "toRightClickSelect", "toSiblingSelectConstraint",
          "toCenterScrollIntoView", "toSimpleDrawSelection"})
        .Default(0);
    RegisterClass<TCustomLazyTreeOptions>("TCustomLazyTreeOptions", o);

    TPublisher<TCustomStringTreeOptions> s;
    s.Ordinal(
         "StringOptions", tkSet, [](auto& t) { return t.StringOptions(); },
         [](auto& t, int64_t v) { t.SetStringOptions(TLTStringOptions(v)); },
         {"toSaveCaptions", "toShowStaticText", "toAutoAcceptEditChange"})
        .Default(DefaultStringOptions);
    RegisterClass<TCustomStringTreeOptions, TCustomLazyTreeOptions>("TCustomStringTreeOptions", s);
}

void RegisterScrollBarsAndColors() {
    TPublisher<TScrollBarOptions> b;
    b.Ordinal(
         "AlwaysVisible", tkEnumeration, [](auto& t) { return t.AlwaysVisible(); },
         [](auto& t, int64_t v) { t.SetAlwaysVisible(v != 0); }, BooleanIds)
        .Default(0);
    b.Integer(
         "HorizontalIncrement", [](auto& t) { return t.HorizontalIncrement; },
         [](auto& t, int64_t v) { t.HorizontalIncrement = uint16_t(v); })
        .Default(20);
    b.Ordinal(
         "ScrollBars", tkEnumeration, [](auto& t) { return t.ScrollBars(); },
         [](auto& t, int64_t v) { t.SetScrollBars(TScrollStyle(v)); },
         {"ssNone", "ssHorizontal", "ssVertical", "ssBoth"})
        .Default(ssBoth);
    b.Ordinal(
         "ScrollBarStyle", tkEnumeration, [](auto& t) { return t.ScrollBarStyle; },
         [](auto& t, int64_t v) { t.ScrollBarStyle = TScrollBarStyle(v); },
         {"sbmRegular", "sbmFlat", "sbm3D"})
        .Default(sbmRegular);
    b.Integer(
         "VerticalIncrement", [](auto& t) { return t.VerticalIncrement; },
         [](auto& t, int64_t v) { t.VerticalIncrement = uint16_t(v); })
        .Default(20);
    RegisterClass<TScrollBarOptions>("TScrollBarOptions", b);

    static const char* const names[15] = {"DisabledColor",
                                          "DropMarkColor",
                                          "DropTargetColor",
                                          "FocusedSelectionColor",
                                          "GridLineColor",
                                          "TreeLineColor",
                                          "UnfocusedSelectionColor",
                                          "BorderColor",
                                          "HotColor",
                                          "FocusedSelectionBorderColor",
                                          "UnfocusedSelectionBorderColor",
                                          "DropTargetBorderColor",
                                          "SelectionRectangleBlendColor",
                                          "SelectionRectangleBorderColor",
                                          "HeaderHotColor"};
    const TLTColors start(nullptr);
    TPublisher<TLTColors> c;
    for (int i = 0; i < 15; ++i)
        c.Integer(
             names[i], [i](auto& t) { return t.Color(i); },
             [i](auto& t, int64_t v) { t.SetColor(i, TColor(v)); })
            .Default(start.Color(i));
    RegisterClass<TLTColors>("TLTColors", c);
}

// The header's font as the form stores it: a view of the font, made for
// each use (the font itself is no persistent object).
struct THeaderFont : TPersistent {
    TLTHeader* Header = nullptr;
};

// A column's look: alignments, check box, colour, image and layout.
void PublishColumnLook(TPublisher<TLazyTreeColumn>& c) {
    c.Ordinal(
         "Alignment", tkEnumeration, [](auto& t) { return t.Alignment(); },
         [](auto& t, int64_t v) { t.SetAlignment(TAlignment(v)); }, AlignmentIds)
        .Default(taLeftJustify);
    c.Ordinal(
         "BiDiMode", tkEnumeration, [](auto& t) { return t.BiDiMode(); },
         [](auto& t, int64_t v) { t.SetBiDiMode(TBiDiMode(v)); }, BiDiModeIds)
        .Default(bdLeftToRight)
        .Stored([](auto& t) { return !(t.Options() & coParentBidiMode); });
    c.Ordinal(
         "CaptionAlignment", tkEnumeration, [](auto& t) { return t.CaptionAlignment(); },
         [](auto& t, int64_t v) { t.SetCaptionAlignment(TAlignment(v)); }, AlignmentIds)
        .Default(taLeftJustify)
        .Stored([](auto& t) { return (t.Options() & coUseCaptionAlignment) != 0; });
    c.Ordinal(
         "CheckType", tkEnumeration, [](auto& t) { return t.CheckType(); },
         [](auto& t, int64_t v) { t.SetCheckType(TCheckType(v)); },
         {"ctNone", "ctTriStateCheckBox", "ctCheckBox", "ctRadioButton", "ctButton"})
        .Default(ctCheckBox);
    c.Ordinal(
         "CheckState", tkEnumeration, [](auto& t) { return t.CheckState(); },
         [](auto& t, int64_t v) { t.SetCheckState(TCheckState(v)); },
         {"csUncheckedNormal", "csUncheckedPressed", "csCheckedNormal", "csCheckedPressed",
          "csMixedNormal", "csMixedPressed"})
        .Default(csUncheckedNormal);
    c.Ordinal(
         "CheckBox", tkEnumeration, [](auto& t) { return t.CheckBox(); },
         [](auto& t, int64_t v) { t.SetCheckBox(v != 0); }, BooleanIds)
        .Default(0);
    c.Integer(
         "Color", [](auto& t) { return t.Color(); },
         [](auto& t, int64_t v) { t.SetColor(TColor(v)); })
        .Default(clWindow)
        .Stored([](auto& t) { return !(t.Options() & coParentColor); });
    c.Integer(
         "ImageIndex", [](auto& t) { return t.ImageIndex(); },
         [](auto& t, int64_t v) { t.SetImageIndex(int(v)); })
        .Default(-1);
    c.Ordinal(
         "Layout", tkEnumeration, [](auto& t) { return t.Layout(); },
         [](auto& t, int64_t v) { t.SetLayout(TLTHeaderColumnLayout(v)); },
         {"blGlyphLeft", "blGlyphRight", "blGlyphTop", "blGlyphBottom"})
        .Default(blGlyphLeft);
}

// A column's sizes, options, place and style.
void PublishColumnSizes(TPublisher<TLazyTreeColumn>& c) {
    c.Integer(
         "Margin", [](auto& t) { return t.Margin(); },
         [](auto& t, int64_t v) { t.SetMargin(int(v)); })
        .Default(4);
    c.Integer(
         "MaxWidth", [](auto& t) { return t.MaxWidth(); },
         [](auto& t, int64_t v) { t.SetMaxWidth(int(v)); })
        .Default(10000);
    c.Integer(
         "MinWidth", [](auto& t) { return t.MinWidth(); },
         [](auto& t, int64_t v) { t.SetMinWidth(int(v)); })
        .Default(10);
    c.Ordinal(
         "Options", tkSet, [](auto& t) { return t.Options(); },
         [](auto& t, int64_t v) { t.SetOptions(TLTColumnOptions(v)); },
         {"coAllowClick", "coDraggable", "coEnabled", "coParentBidiMode", "coParentColor",
          "coResizable", "coShowDropMark", "coVisible", "coAutoSpring", "coFixed", "coSmartResize",
          "coAllowFocus", "coDisableAnimatedResize", "coWrapCaption", "coUseCaptionAlignment"})
        .Default(DefaultColumnOptions);
    c.Integer( // always written: the end of loading rebuilds the position map from it
        "Position", [](auto& t) { return t.Position(); },
        [](auto& t, int64_t v) { t.SetPosition(TColumnPosition(v)); });
    c.Integer(
         "Spacing", [](auto& t) { return t.Spacing(); },
         [](auto& t, int64_t v) { t.SetSpacing(int(v)); })
        .Default(4);
    c.Ordinal(
         "Style", tkEnumeration, [](auto& t) { return t.Style(); },
         [](auto& t, int64_t v) { t.SetStyle(TLazyTreeColumnStyle(v)); }, {"vsText", "vsOwnerDraw"})
        .Default(vsText);
    c.Integer(
         "Tag", [](auto& t) { return t.Tag; }, [](auto& t, int64_t v) { t.Tag = int(v); })
        .Default(0);
    c.Integer(
         "Width", [](auto& t) { return t.Width(); }, [](auto& t, int64_t v) { t.SetWidth(int(v)); })
        .Default(50);
}

void RegisterColumn() {
    TPublisher<TLazyTreeColumn> c;
    PublishColumnLook(c);
    PublishColumnSizes(c);
    RegisterClass<TLazyTreeColumn>("TLazyTreeColumn", c);
}

void RegisterFixedAreaConstraints() {
    TPublisher<TLTFixedAreaConstraints> f;
    f.Integer(
         "MaxHeightPercent", [](auto& t) { return t.MaxHeightPercent(); },
         [](auto& t, int64_t v) { t.SetMaxHeightPercent(uint8_t(v)); })
        .Default(0);
    f.Integer(
         "MaxWidthPercent", [](auto& t) { return t.MaxWidthPercent(); },
         [](auto& t, int64_t v) { t.SetMaxWidthPercent(uint8_t(v)); })
        .Default(0);
    f.Integer(
         "MinHeightPercent", [](auto& t) { return t.MinHeightPercent(); },
         [](auto& t, int64_t v) { t.SetMinHeightPercent(uint8_t(v)); })
        .Default(0);
    f.Integer(
         "MinWidthPercent", [](auto& t) { return t.MinWidthPercent(); },
         [](auto& t, int64_t v) { t.SetMinWidthPercent(uint8_t(v)); })
        .Default(0);
    RegisterClass<TLTFixedAreaConstraints>("TLTFixedAreaConstraints", f);
}

void RegisterHeaderProperties() {
    TPublisher<TLTHeader> h;
    h.Integer(
         "AutoSizeIndex", [](auto& t) { return t.AutoSizeIndex(); },
         [](auto& t, int64_t v) { t.SetAutoSizeIndex(TColumnIndex(v)); })
        .Default(0);
    h.Integer(
         "Background", [](auto& t) { return t.Background(); },
         [](auto& t, int64_t v) { t.SetBackground(TColor(v)); })
        .Default(clBtnFace);
    h.Integer(
         "DefaultHeight", [](auto& t) { return t.DefaultHeight(); },
         [](auto& t, int64_t v) { t.SetDefaultHeight(int(v)); })
        .Default(17);
    h.Object("FixedAreaConstraints", [](auto& t) { return &t.FixedAreaConstraints(); });
    h.Object("Font", [](auto& t) -> TPersistent* {
         static thread_local THeaderFont view;
         view.Header = &t;
         return &view;
     }).Stored([](auto& t) { return !t.ParentFont(); });
    h.Integer(
         "Height", [](auto& t) { return t.Height; },
         [](auto& t, int64_t v) { t.SetHeight(int(v)); })
        .Default(17);
    h.Integer(
         "MainColumn", [](auto& t) { return t.MainColumn(); },
         [](auto& t, int64_t v) { t.SetMainColumn(TColumnIndex(v)); })
        .Default(0);
    h.Integer(
         "MaxHeight", [](auto& t) { return t.MaxHeight(); },
         [](auto& t, int64_t v) { t.SetMaxHeight(int(v)); })
        .Default(10000);
    h.Integer(
         "MinHeight", [](auto& t) { return t.MinHeight(); },
         [](auto& t, int64_t v) { t.SetMinHeight(int(v)); })
        .Default(10);
    h.Ordinal(
         "Options", tkSet, [](auto& t) { return t.Options(); },
         [](auto& t, int64_t v) { t.SetOptions(TLTHeaderOptions(v)); },
         {"hoAutoResize", "hoColumnResize", "hoDblClickResize", "hoDrag", "hoHotTrack",
          "hoOwnerDraw", "hoRestrictDrag", "hoShowHint", "hoShowImages", "hoShowSortGlyphs",
          "hoVisible", "hoAutoSpring", "hoFullRepaintOnResize", "hoDisableAnimatedResize",
          "hoHeightResize", "hoHeightDblClickResize"})
        .Default(hoColumnResize | hoDrag | hoShowSortGlyphs);
    h.Ordinal(
         "ParentFont", tkEnumeration, [](auto& t) { return t.ParentFont(); },
         [](auto& t, int64_t v) { t.SetParentFont(v != 0); }, BooleanIds)
        .Default(0);
    h.Integer(
         "SortColumn", [](auto& t) { return t.SortColumn; },
         [](auto& t, int64_t v) { t.SetSortColumn(TColumnIndex(v)); })
        .Default(NoColumn);
    h.Ordinal(
         "SortDirection", tkEnumeration, [](auto& t) { return t.SortDirection; },
         [](auto& t, int64_t v) { t.SetSortDirection(TSortDirection(v)); },
         {"sdAscending", "sdDescending"})
        .Default(sdAscending);
    h.Ordinal(
         "Style", tkEnumeration, [](auto& t) { return t.Style(); },
         [](auto& t, int64_t v) { t.SetStyle(TLTHeaderStyle(v)); },
         {"hsThickButtons", "hsFlatButtons", "hsPlates", "hsXPStyle"})
        .Default(hsThickButtons);
    RegisterClass<TLTHeader>("TLTHeader", h);
}

void RegisterHeaderFont() {
    // Read while loading: the font's fields change in place; its handle
    // follows them. What a new font has is not stored.
    static const TFont fresh;
    TPublisher<THeaderFont> font;
    font.Integer(
            "Color", [](auto& v) { return v.Header->Font().Color; },
            [](auto& v, int64_t c) { v.Header->Font().Color = TColor(c); })
        .Default(fresh.Color);
    font.Integer(
            "Height", [](auto& v) { return v.Header->Font().Height; },
            [](auto& v, int64_t h) { v.Header->Font().Height = int(h); })
        .Default(fresh.Height);
    font.String(
            "Name", [](auto& v) { return v.Header->Font().Name; },
            [](auto& v, const std::string& n) { v.Header->Font().Name = n; })
        .Stored([](auto& v) { return v.Header->Font().Name != fresh.Name; });
    font.Ordinal(
            "Style", tkSet, [](auto& v) { return v.Header->Font().Style; },
            [](auto& v, int64_t st) { v.Header->Font().Style = unsigned(st); },
            {"fsBold", "fsItalic", "fsUnderline", "fsStrikeOut"})
        .Default(fresh.Style);
    RegisterClass<THeaderFont>("TFont", font);
}

void RegisterHeader() {
    RegisterFixedAreaConstraints();
    RegisterHeaderProperties();
    RegisterHeaderFont();
}

// A plain field of the tree with a default.
template <class C, class F>
void Field(TPublisher<TBaseLazyTree>& p, const char* name, F C::*field, int64_t byDefault,
           TTypeKind kind = tkInteger, Ids ids = {}) {
    p.Ordinal(
         name, kind, [field](TBaseLazyTree& t) { return int64_t(t.*field); },
         [field](TBaseLazyTree& t, int64_t v) { t.*field = F(v); }, std::move(ids))
        .Default(byDefault);
}

// The tree's alignment, delays, border, buttons and check images.
void PublishTreeLookAndDelays(TPublisher<TBaseLazyTree>& p) {
    p.Ordinal(
         "Alignment", tkEnumeration, [](auto& t) { return t.Alignment(); },
         [](auto& t, int64_t v) { t.SetAlignment(TAlignment(v)); }, AlignmentIds)
        .Default(taLeftJustify);
    p.Integer(
         "AnimationDuration", [](auto& t) { return t.AnimationDuration(); },
         [](auto& t, int64_t v) { t.SetAnimationDuration(uint32_t(v)); })
        .Default(200);
    Field(p, "AutoExpandDelay", &TBaseLazyTree::AutoExpandDelay, 1000);
    Field(p, "AutoScrollDelay", &TBaseLazyTree::AutoScrollDelay, 1000);
    Field(p, "AutoScrollInterval", &TBaseLazyTree::AutoScrollInterval, 1);
    for (int i : {0, 1})
        p.Integer(
             i == 0 ? "BackgroundOffsetX" : "BackgroundOffsetY",
             [i](auto& t) { return i == 0 ? t.BackgroundOffsetX() : t.BackgroundOffsetY(); },
             [i](auto& t, int64_t v) { t.SetBackgroundOffset(i, int(v)); })
            .Default(0);
    p.Ordinal(
         "BorderStyle", tkEnumeration, [](auto& t) { return t.BorderStyle(); },
         [](auto& t, int64_t v) { t.SetBorderStyle(int(v)); }, {"bsNone", "bsSingle"})
        .Default(1);
    p.Integer(
         "BottomSpace", [](auto& t) { return t.BottomSpace(); },
         [](auto& t, int64_t v) { t.SetBottomSpace(uint32_t(v)); })
        .Default(0);
    p.Ordinal(
         "ButtonFillMode", tkEnumeration, [](auto& t) { return t.ButtonFillMode(); },
         [](auto& t, int64_t v) { t.SetButtonFillMode(TLTButtonFillMode(v)); },
         {"fmTreeColor", "fmWindowColor", "fmShaded", "fmTransparent"})
        .Default(fmTreeColor);
    p.Ordinal(
         "ButtonStyle", tkEnumeration, [](auto& t) { return t.ButtonStyle(); },
         [](auto& t, int64_t v) { t.SetButtonStyle(TLTButtonStyle(v)); },
         {"bsRectangle", "bsTriangle"})
        .Default(bsRectangle);
    Field(p, "ChangeDelay", &TBaseLazyTree::ChangeDelay, 0);
    p.ComponentRef(
        "CustomCheckImages", [](auto& t) { return t.CustomCheckImages(); },
        [](auto& t, TComponent* v) { t.SetCustomCheckImages(dynamic_cast<TCustomImageList*>(v)); });
    p.Ordinal(
         "CheckImageKind", tkEnumeration, [](auto& t) { return t.CheckImageKind(); },
         [](auto& t, int64_t v) { t.SetCheckImageKind(TCheckImageKind(v)); },
         {"ckLightCheck", "ckDarkCheck", "ckLightTick", "ckDarkTick", "ckFlat", "ckXP", "ckCustom",
          "ckSystemFlat", "ckSystemDefault"})
        .Default(ckSystemDefault);
}

// Node height, pasting, dragging, the selection rectangle and editing.
void PublishTreeDragAndEdit(TPublisher<TBaseLazyTree>& p) {
    p.Integer(
         "DefaultNodeHeight", [](auto& t) { return t.DefaultNodeHeight(); },
         [](auto& t, int64_t v) { t.SetDefaultNodeHeight(uint32_t(v)); })
        .Default(18);
    Field(p, "DefaultPasteMode", &TBaseLazyTree::DefaultPasteMode, amAddChildLast, tkEnumeration,
          {"amNoWhere", "amInsertBefore", "amInsertAfter", "amAddChildFirst", "amAddChildLast"});
    Field(p, "DragHeight", &TBaseLazyTree::DragHeight, 350);
    Field(p, "DragImageKind", &TBaseLazyTree::DragImageKind, diComplete, tkEnumeration,
          {"diComplete", "diMainColumnOnly", "diNoImage"});
    Field(p, "DragKind", &TBaseLazyTree::DragKind, dkDrag, tkEnumeration, {"dkDrag", "dkDock"});
    Field(p, "DragMode", &TBaseLazyTree::DragMode, dmManual, tkEnumeration,
          {"dmManual", "dmAutomatic"});
    Field(p, "DragOperations", &TBaseLazyTree::DragOperations, doCopy | doMove, tkSet,
          {"doCopy", "doMove", "doLink"});
    Field(p, "DragType", &TBaseLazyTree::DragType, dtOLE, tkEnumeration, {"dtOLE", "dtFramework"});
    Field(p, "DragWidth", &TBaseLazyTree::DragWidth, 200);
    Field(p, "DrawSelectionMode", &TBaseLazyTree::DrawSelectionMode, smDottedRectangle,
          tkEnumeration, {"smDottedRectangle", "smBlendedRectangle"});
    Field(p, "EditDelay", &TBaseLazyTree::EditDelay, 1000);
}

// Colours, header, hints, images and incremental search.
void PublishTreePartsAndSearch(TPublisher<TBaseLazyTree>& p) {
    p.Object("Colors", [](auto& t) { return &t.Colors(); });
    p.Object("Header", [](auto& t) { return &t.Header(); });
    Field(p, "HintAnimation", &TBaseLazyTree::HintAnimation, hatSystemDefault, tkEnumeration,
          {"hatNone", "hatFade", "hatSlide", "hatSystemDefault"});
    Field(p, "HintMode", &TBaseLazyTree::HintMode, hmDefault, tkEnumeration,
          {"hmDefault", "hmHint", "hmHintAndDefault", "hmTooltip"});
    Field(p, "HotCursor", &TBaseLazyTree::HotCursor, 0);
    p.ComponentRef(
        "Images", [](auto& t) { return t.Images(); },
        [](auto& t, TComponent* v) { t.SetImages(dynamic_cast<TCustomImageList*>(v)); });
    p.Ordinal(
         "IncrementalSearch", tkEnumeration, [](auto& t) { return t.IncrementalSearch(); },
         [](auto& t, int64_t v) { t.SetIncrementalSearch(TLTIncrementalSearch(v)); },
         {"isAll", "isNone", "isInitializedOnly", "isVisibleOnly"})
        .Default(isNone);
    Field(p, "IncrementalSearchDirection", &TBaseLazyTree::IncrementalSearchDirection, sdForward,
          tkEnumeration, {"sdForward", "sdBackward"});
    Field(p, "IncrementalSearchStart", &TBaseLazyTree::IncrementalSearchStart, ssFocusedNode,
          tkEnumeration, {"ssAlwaysStartOver", "ssLastHit", "ssFocusedNode"});
    Field(p, "IncrementalSearchTimeout", &TBaseLazyTree::IncrementalSearchTimeout, 1000);
}

// Indent, lines, margins, node counts, menus, scroll bars, selection and options.
void PublishTreeLayout(TPublisher<TBaseLazyTree>& p) {
    p.Integer(
         "Indent", [](auto& t) { return t.Indent(); },
         [](auto& t, int64_t v) { t.SetIndent(uint32_t(v)); })
        .Default(18);
    p.Ordinal(
         "LineMode", tkEnumeration, [](auto& t) { return t.LineMode(); },
         [](auto& t, int64_t v) { t.SetLineMode(TLTLineMode(v)); }, {"lmNormal", "lmBands"})
        .Default(lmNormal);
    p.Ordinal(
         "LineStyle", tkEnumeration, [](auto& t) { return t.LineStyle(); },
         [](auto& t, int64_t v) { t.SetLineStyle(TLTLineStyle(v)); },
         {"lsCustomStyle", "lsDotted", "lsSolid"})
        .Default(lsDotted);
    p.Integer(
         "Margin", [](auto& t) { return t.Margin(); },
         [](auto& t, int64_t v) { t.SetMargin(int(v)); })
        .Default(4);
    p.Ordinal(
         "NodeAlignment", tkEnumeration, [](auto& t) { return t.NodeAlignment(); },
         [](auto& t, int64_t v) { t.SetNodeAlignment(TLTNodeAlignment(v)); },
         {"naFromBottom", "naFromTop", "naProportional"})
        .Default(naProportional);
    p.Integer(
         "NodeDataSize", [](auto& t) { return t.NodeDataSize(); },
         [](auto& t, int64_t v) { t.SetNodeDataSize(int(v)); })
        .Default(-1);
    p.Integer(
         "RootNodeCount", [](auto& t) { return t.RootNodeCount(); },
         [](auto& t, int64_t v) { t.SetRootNodeCount(uint32_t(v)); })
        .Default(0);
    p.ComponentRef(
        "PopupMenu", [](auto& t) { return t.PopupMenu; },
        [](auto& t, TComponent* v) { t.SetPopupMenu(dynamic_cast<TPopupMenu*>(v)); });
    Field(p, "SelectionBlendFactor", &TBaseLazyTree::SelectionBlendFactor, 128);
    p.Object("ScrollBarOptions", [](auto& t) { return &t.ScrollBarOptions(); });
    p.Integer(
         "SelectionCurveRadius", [](auto& t) { return t.SelectionCurveRadius(); },
         [](auto& t, int64_t v) { t.SetSelectionCurveRadius(uint32_t(v)); })
        .Default(0);
    p.ComponentRef(
        "StateImages", [](auto& t) { return t.StateImages(); },
        [](auto& t, TComponent* v) { t.SetStateImages(dynamic_cast<TCustomImageList*>(v)); });
    p.Integer(
         "TextMargin", [](auto& t) { return t.TextMargin(); },
         [](auto& t, int64_t v) { t.SetTextMargin(int(v)); })
        .Default(4);
    p.Object("TreeOptions", [](auto& t) { return &t.TreeOptions(); });
    Field(p, "WantTabs", &TBaseLazyTree::WantTabs, 0, tkEnumeration, BooleanIds);
}

void RegisterTree() {
    TPublisher<TBaseLazyTree> p;
    PublishTreeLookAndDelays(p);
    PublishTreeDragAndEdit(p);
    PublishTreePartsAndSearch(p);
    PublishTreeLayout(p);
    RegisterClass<TBaseLazyTree>("TBaseLazyTree", p);
    RegisterClass<TCustomLazyStringTree, TBaseLazyTree>("TCustomLazyStringTree");
    RegisterClass<TLazyStringTree, TCustomLazyStringTree>("TLazyStringTree");
}

} // namespace

void RegisterLazyTreeClasses() {
    static std::once_flag once;
    std::call_once(once, [] {
        RegisterOptions();
        RegisterScrollBarsAndColors();
        RegisterColumn();
        RegisterHeader();
        RegisterTree();
    });
}

void TBaseLazyTree::DefineProperties(TFiler& filer) {
    TCustomControl::DefineProperties(filer);
    // Columns equal to those of the ancestor form are the ancestor's to store.
    auto* ancestor = dynamic_cast<TBaseLazyTree*>(filer.Ancestor);
    bool storeColumns = FHeader->CanWriteColumns() &&
                        (!ancestor || !FHeader->Columns().SameAs(ancestor->Header().Columns()));
    filer.DefineProperty(
        "Columns", [this](TReader& r) { FHeader->ReadColumns(r); },
        [this](TWriter& w) { FHeader->WriteColumns(w); }, storeColumns);
    filer.DefineProperty(
        "Options",
        [this](TReader& r) {
            if (r.NextValue() == vaSet)
                ReadOldOptions(r.ReadSet());
            else
                r.SkipValue();
        },
        nullptr, false);
    filer.DefineProperty(
        "ClipboardFormats",
        [this](TReader& r) {
            FClipboardFormats->Clear();
            r.ReadListBegin();
            while (!r.EndOfList()) FClipboardFormats->Add(r.ReadString());
            r.ReadListEnd();
        },
        [this](TWriter& w) {
            w.WriteListBegin();
            for (const std::string& name : FClipboardFormats->Strings()) w.WriteString(name);
            w.WriteListEnd();
        },
        FClipboardFormats->Count() > 0);
    filer.DefineBinaryProperty(
        "Background", [this](std::istream& in) { ReadBackground(in); },
        [this](std::ostream& out) { WriteBackground(out); },
        FBackground->Width() > 0 && FBackground->Height() > 0);
}

// The picture as its width, its height and its 32-bit pixels, rows top-down.
void TBaseLazyTree::WriteBackground(std::ostream& out) {
    const int32_t size[2] = {FBackground->Width(), FBackground->Height()};
    out.write(reinterpret_cast<const char*>(size), sizeof size);
    for (int y = 0; y < size[1]; ++y)
        out.write(reinterpret_cast<const char*>(FBackground->Scanline(y)),
                  std::streamsize(size[0]) * 4);
}

void TBaseLazyTree::ReadBackground(std::istream& in) {
    int32_t size[2] = {};
    const bool sized = bool(in.read(reinterpret_cast<char*>(size), sizeof size));
    const std::string pixels(std::istreambuf_iterator<char>(in), {});
    if (!sized || size[0] < 0 || size[1] < 0 ||
        int64_t(pixels.size()) != int64_t(size[0]) * size[1] * 4)
        throw EReadError("Ошибка чтения формы: повреждена картинка фона");
    if (pixels.empty()) size[0] = size[1] = 0; // no picture, however long its empty side
    TBitmap picture(size[0], size[1]);
    for (int y = 0; y < size[1]; ++y)
        std::memcpy(picture.Scanline(y), pixels.data() + size_t(y) * size[0] * 4,
                    size_t(size[0]) * 4);
    SetBackground(picture);
}

void TLTHeader::ReadColumns(TReader& reader) {
    FStates |= hsLoading;
    FColumns->Clear();
    reader.ReadCollection([this]() -> TPersistent* { return FColumns->Add(); });
}

void TLTHeader::WriteColumns(TWriter& writer) {
    std::vector<TPersistent*> items;
    for (int i = 0; i < FColumns->Count(); ++i) items.push_back(FColumns->Items(i));
    // The columns' properties are their own, not the header's.
    std::string path = writer.PropPath;
    writer.PropPath.clear();
    writer.WriteCollection(items);
    writer.PropPath = path;
}

void TLazyTreeColumn::DefineProperties(TFiler& filer) {
    TPersistent::DefineProperties(filer);
    filer.DefineProperty(
        "WideText", [this](TReader& r) { SetText(r.ReadWideString()); },
        [this](TWriter& w) { w.WriteWideString(FText); }, !FText.empty());
    filer.DefineProperty(
        "WideHint", [this](TReader& r) { Hint = r.ReadWideString(); },
        [this](TWriter& w) { w.WriteWideString(Hint); }, !Hint.empty());
}

} // namespace nuq

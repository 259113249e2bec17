// Where rows, cells and their pieces lie: the label a click finds against the
// highlight painted, captions running on into empty cells, the background
// picture, the rows at the top and bottom, the editor over its cell, and the
// position cache the validation thread builds in normal use.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include "platform/EventLoop.h"

#include "TreeProbe.h"

#include <gtest/gtest.h>

#include <map>

using namespace nuq;

namespace {

constexpr TColor Mark = clLime;

class LayoutTree : public TTreeProbe {
public:
    using TBaseLazyTree::CountVisibleChildren;
    using TTreeProbe::TTreeProbe;
    std::vector<std::pair<uint32_t, uint32_t>> Animations; // steps and duration asked for
    void Animate(uint32_t steps, uint32_t duration, const TLTAnimationCallback& callback,
                 void* data) override {
        Animations.push_back({steps, duration});
        TLazyStringTree::Animate(steps, duration, callback, data);
    }
};

struct Layout : ::testing::Test {
    std::unique_ptr<LayoutTree> Tree;
    std::unique_ptr<TBitmap> Target;
    HWND Wnd = 0;
    std::map<std::pair<PLazyNode, TColumnIndex>, std::u16string> Texts;
    void SetUp() override {
        SetMainThread();
        EnsureGuiToolkit();
        InitializeGlobalStructures();
        UseVirtualClock(TDateTime(46000.0));
        Tree = NewComponent<LayoutTree>();
        Tree->SetBounds(0, 0, 400, 200);
        Tree->Handle();
        Wnd = Tree->WindowHandle();
        Tree->Color = clWhite;
        Tree->OnGetText = [this](TBaseLazyTree&, PLazyNode n, TColumnIndex c, int,
                                 std::u16string& s) {
            auto it = Texts.find({n, c});
            s = it == Texts.end() ? u"" : it->second;
        };
        Target = std::make_unique<TBitmap>(400, 200);
    }
    void TearDown() override {
        ReleaseCapture();
        Tree.reset();
        UseRealClock();
    }
    PLazyNode Add(std::initializer_list<const char16_t*> cells, PLazyNode parent = nullptr) {
        PLazyNode n = Tree->AddChild(parent);
        TColumnIndex c = Tree->Header().UseColumns() ? 0 : NoColumn;
        for (const char16_t* t : cells) Texts[{n, c++}] = t;
        return n;
    }
    void Columns(int count, int width) {
        TLTHeader& h = Tree->Header();
        h.SetOptions(h.Options() | hoVisible);
        for (int i = 0; i < count; ++i) h.Columns().Add()->SetWidth(width);
    }
    // The client area as the window paints it.
    void Paint() {
        TRect client = Tree->ClientRect();
        Tree->PaintTree(Target->Canvas(), client.Offset(-Tree->OffsetX(), -Tree->OffsetY()),
                        {0, 0});
    }
    COLORREF Px(int x, int y) { return ColorToRGB(TColor(Target->Canvas().Pixel(x, y))); }
    int Count(TRect r, TColor c) {
        int n = 0;
        for (int y = r.Top; y < r.Bottom; ++y)
            for (int x = r.Left; x < r.Right; ++x)
                if (Px(x, y) == ColorToRGB(c)) ++n;
        return n;
    }
    THitInfo Hit(int x, int y) {
        THitInfo info;
        Tree->GetHitTestInfoAt(x, y, true, info);
        return info;
    }
    void Mouse(UINT msg, int x, int y, WPARAM keys = 0) {
        SendMessage(Wnd, msg, keys, MakeLParam(x, y));
    }
};

} // namespace

// The label reaches as far as the highlight painted under a selected caption.
TEST_F(Layout, LabelCoversThePaintedHighlight) {
    for (int c : {TLTColors::FocusedSelectionColor, TLTColors::UnfocusedSelectionColor,
                  TLTColors::FocusedSelectionBorderColor, TLTColors::UnfocusedSelectionBorderColor})
        Tree->Colors().SetColor(c, Mark);
    PLazyNode n = Add({u"Wide caption"});
    Tree->SetSelected(n, true);
    for (TAlignment a : {taLeftJustify, taRightJustify}) {
        Tree->SetAlignment(a);
        Paint();
        int left = -1, right = -1;
        for (int x = 0; x < 400; ++x)
            if (Px(x, 9) == ColorToRGB(Mark)) (left < 0 ? left : right) = x, right = x;
        ASSERT_GT(right, left) << a;
        EXPECT_TRUE(Hit(left, 9).HitPositions & hiOnItemLabel) << a;
        EXPECT_TRUE(Hit(right, 9).HitPositions & hiOnItemLabel) << a;
        EXPECT_FALSE(Hit(a == taLeftJustify ? right + 1 : left - 1, 9).HitPositions & hiOnItemLabel)
            << a;
    }
}

// A caption runs on into the empty cells after it: painted there, hit there
// and caught there by a rubber band.
TEST_F(Layout, CaptionRunsOnIntoEmptyCells) {
    Columns(3, 100);
    PLazyNode a = Add({u"WWWWWWWWWWWWWWWWWWWW", u"", u"z"}), b = Add({u"W", u"y", u""});
    ASSERT_GT(Tree->DoGetNodeWidth(a, 0, nullptr), 150);
    Tree->TreeOptions().SetSelectionOptions(toMultiSelect);
    struct Case {
        bool span;
        TColumnIndex aAt150, bAt250;
        bool paintedIntoSecond, bandSelectsA;
    };
    for (auto c : {Case{false, 1, 2, false, false}, Case{true, 0, 1, true, true}}) {
        auto o = Tree->TreeOptions().AutoOptions();
        Tree->TreeOptions().SetAutoOptions(c.span ? o | toAutoSpanColumns : o & ~toAutoSpanColumns);
        THitInfo h = Hit(150, 9);
        EXPECT_EQ(h.HitColumn, c.aAt150) << c.span;
        EXPECT_EQ(bool(h.HitPositions & hiOnItemLabel), c.span) << c.span;
        EXPECT_EQ(Hit(250, 27).HitColumn, c.bAt250) << c.span;
        EXPECT_EQ(Hit(150, 27).HitColumn, 1) << c.span;
        Paint();
        EXPECT_EQ(Count({100, 0, 200, 18}, clBlack) > 0, c.paintedIntoSecond) << c.span;
        Tree->ClearSelection();
        Mouse(WM_LBUTTONDOWN, 130, 100, MK_LBUTTON); // below the rows: a band
        Mouse(WM_MOUSEMOVE, 140, 5, MK_LBUTTON);
        EXPECT_EQ(Tree->Selected(a), c.bandSelectsA) << c.span;
        EXPECT_FALSE(Tree->Selected(b)) << c.span;
        Mouse(WM_LBUTTONUP, 140, 5);
    }
}

// Read from the right, a cell spanned over empty cells is painted and hit
// from the right edge of its span.
TEST_F(Layout, SpannedCellIsHitRightToLeft) {
    Columns(2, 100);
    Add({u"WWWWWWWWWWWWWWWWWWWW", u""});
    Tree->Header().Columns()[0].SetBiDiMode(bdRightToLeft);
    for (bool span : {false, true}) {
        auto o = Tree->TreeOptions().AutoOptions();
        Tree->TreeOptions().SetAutoOptions(span ? o | toAutoSpanColumns : o & ~toAutoSpanColumns);
        THitInfo h = Hit(150, 9);
        EXPECT_EQ(h.HitColumn, span ? 0 : 1) << span;
        EXPECT_EQ(bool(h.HitPositions & hiOnItemLabel), span) << span;
        EXPECT_EQ(bool(Hit(195, 9).HitPositions & hiOnItemIndent), span)
            << span << ": the indentation lies at the spanned cell's right edge";
        Paint();
        EXPECT_EQ(Count({100, 0, 200, 18}, clBlack) > 0, span) << span;
    }
}

// Tiled, the picture starts at the offsets and scrolls with the rows; static,
// it stays once at the offsets of the client area, the tree's colour around it.
TEST_F(Layout, BackgroundAtItsOffsets) {
    TBitmap picture(10, 10);
    picture.Canvas().Brush.Color = clRed;
    picture.Canvas().FillRect({0, 0, 10, 10});
    picture.Canvas().Brush.Color = clBlue;
    picture.Canvas().FillRect({0, 0, 1, 1});
    Tree->SetBackground(picture);
    Tree->SetBackgroundOffset(0, 5);
    Tree->SetBackgroundOffset(1, 7);
    for (int i = 0; i < 30; ++i) Add({u""});
    const auto paint = Tree->TreeOptions().PaintOptions() & ~toShowTreeLines;
    Tree->SetOffsetY(-4);
    struct Case {
        bool fixed;
        TPoint blue[2];
        TPoint white;
    };
    for (auto c :
         {Case{false, {{5, 3}, {15, 113}}, {-1, -1}}, Case{true, {{5, 7}, {5, 7}}, {15, 17}}}) {
        Tree->TreeOptions().SetPaintOptions(
            paint | toShowBackground |
            (c.fixed ? TLTPaintOptions(toStaticBackground) : TLTPaintOptions(0)));
        Paint();
        for (TPoint p : c.blue) EXPECT_EQ(Px(p.X, p.Y), ColorToRGB(clBlue)) << c.fixed;
        EXPECT_EQ(Px(6, c.blue[0].Y + 1), ColorToRGB(clRed)) << c.fixed;
        if (c.white.X >= 0) {
            EXPECT_EQ(Px(c.white.X, c.white.Y), ColorToRGB(clWhite)) << c.fixed;
            EXPECT_EQ(Count({0, 0, 400, 200}, clBlue), 1) << c.fixed;
        }
    }
}

// A row painted on its own is erased at the canvas top.
TEST_F(Layout, ItemEraseMovesTheRowToTheTop) {
    PLazyNode n = Add({u""});
    Tree->OnBeforeItemErase = [](TBaseLazyTree&, TCanvas&, PLazyNode, TRect, TColor& color,
                                 TItemEraseAction& action) {
        color = Mark;
        action = eaColor;
    };
    TRect erased;
    Tree->OnAfterItemErase = [&](TBaseLazyTree&, TCanvas&, PLazyNode, TRect r) { erased = r; };
    for (bool move : {false, true}) {
        TBitmap row(100, 100);
        TLTPaintInfo info;
        info.Canvas = &row.Canvas();
        info.Node = n;
        Tree->PaintItemErase(info, false, {0, 40, 50, 58}, move);
        TRect expected = move ? TRect{0, 0, 50, 18} : TRect{0, 40, 50, 58};
        EXPECT_EQ(erased, expected) << move;
        EXPECT_EQ(ColorToRGB(TColor(row.Canvas().Pixel(10, expected.Top))), ColorToRGB(Mark))
            << move;
    }
}

// Setting the top or bottom node opens its ancestors and scrolls it there.
TEST_F(Layout, TopAndBottomNodes) {
    std::vector<PLazyNode> n;
    for (int i = 0; i < 30; ++i) n.push_back(Add({u"x"}));
    PLazyNode child = Add({u"c"}, n[10]);
    const int h = Tree->ClientRect().Height();
    EXPECT_EQ(Tree->GetTopNode(), n[0]);
    EXPECT_EQ(Tree->GetBottomNode(), n[(h - 1) / 18]);
    Tree->SetTopNode(child);
    EXPECT_TRUE(Tree->Expanded(n[10]));
    EXPECT_EQ(Tree->TopNode(), child);
    EXPECT_EQ(Tree->OffsetY(), -11 * 18);
    Tree->SetBottomNode(n[20]);
    EXPECT_EQ(Tree->BottomNode(), n[20]);
    EXPECT_EQ(Tree->GetDisplayRect(n[20], NoColumn, false).Bottom, h);
}

// An update keeps the window from redrawing until the outermost one ends.
TEST_F(Layout, UpdatesSwitchRedrawingOff) {
    Add({u"x"});
    int paints = 0;
    Tree->OnBeforePaint = [&](TBaseLazyTree&, TCanvas&) { ++paints; };
    Tree->BeginUpdate();
    Tree->BeginUpdate();
    InvalidateRect(Wnd, nullptr, true);
    UpdateWindow(Wnd);
    Tree->EndUpdate();
    UpdateWindow(Wnd);
    EXPECT_EQ(paints, 0);
    Tree->EndUpdate();
    UpdateWindow(Wnd);
    EXPECT_EQ(paints, 1);
}

// The editor follows its cell when the tree scrolls, the row grows, the
// column is resized or the window changes size.
TEST_F(Layout, EditorFollowsItsCell) {
    for (int i = 0; i < 20; ++i) Add({u"x"});
    PLazyNode n = Add({std::u16string(60, u'W').c_str()});
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toEditable);
    Tree->SetFocusedNode(n);
    SendMessage(Wnd, WM_KEYDOWN, VK_F2, 0);
    ASSERT_TRUE(Tree->IsEditing());
    auto bounds = [&] { return Tree->EditLink()->GetBounds(); };
    EXPECT_EQ(bounds().Right, Tree->ClientRect().Width()) << "a long caption: up to the edge";
    const int top = bounds().Top;
    Tree->SetOffsetY(Tree->OffsetY() + 18);
    EXPECT_EQ(bounds().Top, top + 18) << "scrolled";
    Tree->SetNodeHeight(n, 30);
    EXPECT_EQ(bounds().Height(), 30) << "a taller row";
    Tree->SetBounds(0, 0, 300, 200);
    EXPECT_EQ(bounds().Right, Tree->ClientRect().Width()) << "a narrower window";
    Tree->CancelEditNode();

    Columns(2, 120);
    Texts[{n, 0}] = Texts[{n, NoColumn}];
    SendMessage(Wnd, WM_KEYDOWN, VK_F2, 0);
    ASSERT_TRUE(Tree->IsEditing());
    Tree->Header().Columns()[0].SetWidth(80);
    EXPECT_EQ(bounds().Right, 80) << "a narrower column";
    Texts[{n, 0}] = u"x";
    TCustomLazyTreeOptions& o = Tree->TreeOptions();
    o.SetMiscOptions(o.MiscOptions() | toGridExtensions);
    o.SetPaintOptions(o.PaintOptions() | toShowHorzGridLines);
    Tree->UpdateEditBounds();
    EXPECT_EQ(bounds().Right, 80) << "a short caption with grid extensions: the whole cell";
    EXPECT_EQ(bounds().Height(), 29) << "above the grid line";
    Tree->CancelEditNode();
}

TEST_F(Layout, CollapsedNodeShowsNoChildren) {
    PLazyNode p = Add({u"p"});
    for (int i = 0; i < 3; ++i) Add({u"c"}, p);
    Tree->SetIsHidden(p->LastChild, true);
    for (bool open : {false, true}) {
        Tree->SetExpanded(p, open);
        EXPECT_EQ(Tree->CountVisibleChildren(p), open ? 2u : 0u) << open;
    }
}

// The content margin of a cell is measured on the cell, not on the row.
TEST_F(Layout, CellContentMarginOfTheCell) {
    Columns(2, 100);
    Tree->Header().Columns()[1].SetWidth(150);
    PLazyNode n = Add({u"a", u"b"});
    TRect seen;
    Tree->OnBeforeCellPaint = [&](TBaseLazyTree&, TCanvas&, PLazyNode, TColumnIndex,
                                  TLTCellPaintMode, TRect cell, TRect& content) {
        seen = cell;
        content = {cell.Left + 3, cell.Top + 1, cell.Right - 10, cell.Bottom};
    };
    EXPECT_EQ(Tree->DoGetCellContentMargin(n, 1, 2, nullptr), (TPoint{10, 0}));
    EXPECT_EQ(seen.Left, 100);
    EXPECT_EQ(seen.Width(), 150);
}

// Without the processor's blend the rubber band is the dotted rectangle.
TEST_F(Layout, BlendedBandFallsBackToDots) {
    Tree->DrawSelectionMode = smBlendedRectangle;
    Tree->Colors().SetColor(TLTColors::SelectionRectangleBlendColor, clBlack);
    const bool had = ProcessorHasMMX;
    for (bool mmx : {true, false}) {
        ProcessorHasMMX = mmx;
        Target->Canvas().Brush.Color = clWhite;
        Target->Canvas().FillRect({0, 0, 400, 200});
        Tree->PaintSelectionRectangle(Target->Canvas(), 0, {10, 10, 60, 60}, {0, 0, 400, 200});
        EXPECT_EQ(Px(30, 30) != ColorToRGB(clWhite), mmx) << mmx;
        EXPECT_GT(400 * 200 - Count({0, 0, 400, 200}, clWhite), 0) << mmx;
    }
    ProcessorHasMMX = had;
}

// Turning the search off ends a search under way.
TEST_F(Layout, SearchOffEndsASearch) {
    Add({u"apple"});
    Tree->SetIncrementalSearch(isAll);
    SendMessage(Wnd, WM_KEYDOWN, 'A', 0);
    SendMessage(Wnd, WM_CHAR, u'a', 0);
    SendMessage(Wnd, WM_KEYUP, 'A', 0);
    ASSERT_TRUE(Tree->HasState(tsIncrementalSearching));
    Tree->SetIncrementalSearch(isNone);
    EXPECT_FALSE(Tree->HasState(tsIncrementalSearching));
    EXPECT_EQ(Tree->SearchBuffer(), u"");
}

// Auto-scroll runs only while the pointer is over the tree.
TEST_F(Layout, AutoScrollOnlyOverTheTree) {
    for (int i = 0; i < 30; ++i) Add({u"x"});
    Tree->TreeOptions().SetSelectionOptions(toMultiSelect);
    Tree->TreeOptions().SetAutoOptions(Tree->TreeOptions().AutoOptions() | toAutoScroll);
    const int h = Tree->ClientRect().Height();
    TPoint over{30, h - 2};
    MapWindowPoints(Wnd, 0, &over, 1);
    for (TPoint cursor : {over, TPoint{1000, 700}}) {
        SetCursorPos(cursor);
        Mouse(WM_LBUTTONDOWN, 100, 5, MK_LBUTTON);
        Mouse(WM_MOUSEMOVE, 30, h / 2, MK_LBUTTON);
        Mouse(WM_MOUSEMOVE, 30, h - 2, MK_LBUTTON);
        AdvanceClock(Tree->AutoScrollDelay);
        Mouse(WM_MOUSEMOVE, 30, h - 2, MK_LBUTTON);
        EXPECT_EQ(Tree->ScrollDirections(), cursor.X == over.X ? sdDown : 0) << cursor.X;
        Mouse(WM_LBUTTONUP, 30, h - 2);
    }
}

// In normal use the validation thread builds the cache after each change: the
// structure's, the end of an update, a row's new height, a node opened.
TEST(PositionCacheInUse, BuiltAfterEachChange) {
    SetMainThread();
    auto tree = NewComponent<TLazyStringTree>();
    tree->Handle();
    const uint32_t n = TBaseLazyTree::CacheThreshold + 1;
    struct Case {
        const char* change;
        std::function<void()> run;
        size_t entries;
    };
    for (const Case& c :
         {Case{"child count", [&] { tree->SetRootNodeCount(n); }, 2},
          Case{"node added", [&] { tree->AddChild(tree->GetFirst()); }, 2},
          Case{"update",
               [&] { tree->BeginUpdate(), tree->SetRootNodeCount(3 * n), tree->EndUpdate(); }, 4},
          Case{"height", [&] { tree->SetNodeHeight(tree->GetFirst(), 40); }, 4},
          Case{"opened", [&] { tree->SetExpanded(tree->GetFirst(), true); }, 4}}) {
        c.run();
        ASSERT_TRUE(ProcessMessagesUntil([&] { return tree->HasState(tsUseCache); }, 20000))
            << c.change;
        EXPECT_EQ(tree->PositionCache().size(), c.entries) << c.change;
    }
    // The first row is 40 high and its child above the 2000th row now.
    EXPECT_EQ(tree->PositionCache()[1].AbsoluteTop, 40u + 1999u * 18u);
}

// The animation loop spreads its steps evenly over the duration, merging them
// only when there are more steps than milliseconds.
TEST_F(Layout, AnimationKeepsItsSteps) {
    struct Case {
        uint32_t steps, duration;
        size_t calls;
        int size;
        uint32_t spacing;
    };
    for (auto c : {Case{100, 200, 100, 1, 2}, Case{100, 50, 50, 2, 1}, Case{10, 0, 0, 0, 0}}) {
        std::vector<uint32_t> ticks;
        int size = 0;
        Tree->Animate(
            c.steps, c.duration,
            [&](int, int stepSize, void*) {
                if (stepSize > 0) ticks.push_back(GetTickCount()), size = stepSize;
                return true;
            },
            nullptr);
        ASSERT_EQ(ticks.size(), c.calls) << c.steps << "/" << c.duration;
        EXPECT_EQ(size, c.size);
        for (size_t i = 1; i < ticks.size(); ++i)
            EXPECT_EQ(ticks[i] - ticks[i - 1], c.spacing)
                << c.steps << "/" << c.duration << " " << i;
    }
}

// Opening a node slides the rows below it down, closing slides them up, step
// by step in the window before it repaints; without the option nothing slides.
TEST_F(Layout, ToggleSlidesTheRowsBelow) {
    PLazyNode p = Add({u"p"});
    for (int i = 0; i < 3; ++i) Add({u"c"}, p);
    Add({u"WWW"});
    auto textRows = [&](int top, int bottom) {
        HDC dc = GetDC(Wnd);
        int n = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 30; x < 80; ++x)
                if (ColorToRGB(TColor(GetPixel(dc, x, y))) == ColorToRGB(clBlack)) ++n;
        ReleaseDC(Wnd, dc);
        return n;
    };
    struct Case {
        uint32_t duration;
        bool open;
        size_t animations;
        int lastRowTop; // of the row after P, in the window before it repaints
    };
    for (auto c : {Case{0, true, 0, 18}, Case{0, false, 0, 72}, Case{100, true, 1, 72},
                   Case{100, false, 2, 18}}) {
        Tree->SetAnimationDuration(c.duration);
        InvalidateRect(Wnd, nullptr, true);
        UpdateWindow(Wnd);
        Tree->SetExpanded(p, c.open);
        EXPECT_EQ(Tree->Animations.size(), c.animations) << c.duration << c.open;
        EXPECT_GT(textRows(c.lastRowTop, c.lastRowTop + 18), 0) << c.duration << c.open;
        if (c.duration > 0) {
            EXPECT_EQ(Tree->Animations.back(), (std::pair<uint32_t, uint32_t>{54, 100}));
        }
    }
}

// Painted rows checked as pixels: tree lines per style, buttons and their
// vertical placement, check images from the image table, node images with
// overlays, selection and focus marks, grid lines, drop marks and the row erase.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include "TreeProbe.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

constexpr TColor LineColor = clRed, GridColor = clBlue, Background = clWhite;

struct PaintFixture : ::testing::Test {
    std::unique_ptr<TTreeProbe> Tree;
    std::unique_ptr<TBitmap> Target;
    void SetUp() override {
        SetMainThread();
        EnsureGuiToolkit();
        InitializeGlobalStructures();
        Tree = NewComponent<TTreeProbe>();
        Tree->SetBounds(0, 0, 300, 200);
        Tree->Handle();
        Tree->Color = Background;
        Tree->Colors().SetColor(TLTColors::TreeLineColor, LineColor);
        Tree->Colors().SetColor(TLTColors::GridLineColor, GridColor);
        Tree->OnGetText = [](TBaseLazyTree&, PLazyNode, TColumnIndex, int, std::u16string& t) {
            t = u"W";
        };
        Tree->SetRootNodeCount(3);
        Target = std::make_unique<TBitmap>(300, 200);
    }
    void TearDown() override { Tree.reset(); }
    PLazyNode Node(int i) {
        PLazyNode n = Tree->GetFirst();
        while (i-- > 0) n = Tree->GetNextVisible(n);
        return n;
    }
    void Paint(TLTRowPaintOptions options = DefaultPaintTreeOptions) {
        Tree->PaintTree(Target->Canvas(), {0, 0, 300, 200}, {0, 0}, options);
    }
    TColor Px(int x, int y) { return TColor(Target->Canvas().Pixel(x, y)); }
    // How many pixels of a colour lie in a rectangle.
    int Count(TRect r, TColor c) {
        COLORREF rgb = ColorToRGB(c);
        int n = 0;
        for (int y = r.Top; y < r.Bottom; ++y)
            for (int x = r.Left; x < r.Right; ++x)
                if (ColorToRGB(Px(x, y)) == rgb) ++n;
        return n;
    }
};

std::unique_ptr<TCustomImageList> SolidImages(std::initializer_list<TColor> colors) {
    auto list = std::make_unique<TCustomImageList>(16, 16);
    for (TColor c : colors) {
        TBitmap b(16, 16);
        b.Canvas().Brush.Color = clFuchsia;
        b.Canvas().FillRect({0, 0, 16, 16});
        b.Canvas().Brush.Color = c;
        // The overlay colour covers only a corner, so the image shows beside it.
        b.Canvas().FillRect(c == clYellow ? TRect{0, 0, 6, 6} : TRect{0, 0, 16, 16});
        list->AddMasked(b, clFuchsia);
    }
    return list;
}

} // namespace

// Rows of three top-level nodes with root lines, 18 pixels each, joins at
// y 9 of each row and the vertical line at x 9 (half the indent).
TEST_F(PaintFixture, TreeLinesFollowTheLineImageAndStyle) {
    struct Case {
        TLTLineStyle style;
        int minimumInSegment, maximumInSegment; // of 8 pixels on a line
    };
    for (const Case& c : {Case{lsDotted, 3, 5}, Case{lsSolid, 8, 8}}) {
        Tree->SetLineStyle(c.style);
        Paint();
        // First row: from the join down only; the horizontal part right to the indent.
        EXPECT_EQ(Count({9, 0, 10, 9}, LineColor), 0) << c.style;
        int below = Count({9, 10, 10, 18}, LineColor);
        EXPECT_GE(below, c.minimumInSegment) << c.style;
        EXPECT_LE(below, c.maximumInSegment) << c.style;
        EXPECT_GE(Count({10, 9, 18, 10}, LineColor), c.minimumInSegment) << c.style;
        // Middle row: through the whole row.
        EXPECT_GE(Count({9, 18, 10, 26}, LineColor), c.minimumInSegment) << c.style;
        EXPECT_GE(Count({9, 28, 10, 36}, LineColor), c.minimumInSegment) << c.style;
        // Last row: down to the join only.
        EXPECT_GE(Count({9, 37, 10, 45}, LineColor), c.minimumInSegment) << c.style;
        EXPECT_EQ(Count({9, 46, 10, 54}, LineColor), 0) << c.style;
        // Nothing left of the line or beyond the rows.
        EXPECT_EQ(Count({0, 0, 9, 54}, LineColor), 0) << c.style;
        EXPECT_EQ(Count({0, 54, 40, 200}, LineColor), 0) << c.style;
    }
    // Without tree lines nothing is drawn in the line colour.
    Tree->TreeOptions().SetPaintOptions(Tree->TreeOptions().PaintOptions() & ~toShowTreeLines);
    Paint();
    EXPECT_EQ(Count({0, 0, 40, 54}, LineColor), 0);
}

TEST_F(PaintFixture, ChildLevelsCarryTheirParentsLines) {
    Tree->SetChildCount(Node(0), 2);
    Tree->SetExpanded(Node(0), true);
    Tree->SetLineStyle(lsSolid);
    Paint();
    // Children (rows 1 and 2) sit one indent in: their own line at x 27.
    EXPECT_EQ(Count({27, 18, 28, 36}, LineColor), 18); // first child: top to bottom
    EXPECT_EQ(Count({27, 36, 28, 46}, LineColor), 10); // last child: top to the join
    EXPECT_EQ(Count({27, 46, 28, 54}, LineColor), 0);
    EXPECT_EQ(Count({9, 18, 10, 54}, LineColor), 36); // the parent's sibling line goes on
}

TEST_F(PaintFixture, ButtonsShowPlusOrMinusAndFollowTheNodeAlignment) {
    Tree->SetChildCount(Node(0), 2);
    // The 9 x 9 button centres on the line at x 9: pixels 5..13; its frame in the line colour.
    struct Case {
        TLTNodeAlignment alignment;
        uint8_t align;
        int buttonTop;
    };
    for (const Case& c : {Case{naProportional, 50, 5}, Case{naFromTop, 0, -4},
                          Case{naFromTop, 9, 5}, Case{naFromBottom, 9, 5}}) {
        Tree->SetNodeAlignment(c.alignment);
        Node(0)->Align = c.align;
        Tree->SetExpanded(Node(0), false);
        Paint();
        int top = std::max(0, c.buttonTop);
        EXPECT_GT(Count({5, top, 6, c.buttonTop + 9}, LineColor), 0)
            << c.alignment << "/" << int(c.align);
        // The plus: black vertical bar through the middle.
        EXPECT_EQ(ColorToRGB(Px(9, c.buttonTop + 6)), ColorToRGB(clBlack)) << c.alignment;
        Tree->SetExpanded(Node(0), true);
        Paint();
        EXPECT_NE(ColorToRGB(Px(9, c.buttonTop + 6)), ColorToRGB(clBlack)) << c.alignment; // minus
        EXPECT_EQ(ColorToRGB(Px(9, c.buttonTop + 4)), ColorToRGB(clBlack)) << c.alignment;
    }
    // A node without children and a tree without buttons show none.
    Tree->TreeOptions().SetPaintOptions(Tree->TreeOptions().PaintOptions() & ~toShowButtons);
    Paint();
    EXPECT_EQ(Count({5, 0, 14, 18}, clBlack), 0);
}

// Inside the button's square (clear of its glyph) a selected full row shows
// through unless the fill mode paints the square.
TEST_F(PaintFixture, ButtonFillModesOverASelectedRow) {
    auto& o = Tree->TreeOptions();
    o.SetSelectionOptions(o.SelectionOptions() | toFullRowSelect);
    Tree->Colors().SetColor(TLTColors::UnfocusedSelectionColor, clSilver);
    Tree->Colors().SetColor(TLTColors::UnfocusedSelectionBorderColor, clSilver);
    Tree->Color = clYellow;
    Tree->SetChildCount(Node(0), 2);
    Tree->SetSelected(Node(0), true);
    struct Case {
        TLTButtonStyle style;
        TLTButtonFillMode fill;
        TColor inside; // pixel (6, 6): the bitmap's (1, 1)
    };
    for (const Case& c :
         {Case{bsRectangle, fmTreeColor, clYellow}, Case{bsRectangle, fmWindowColor, clWindow},
          Case{bsRectangle, fmTransparent, clSilver},
          Case{bsRectangle, fmShaded, clWhite}, // the shaded picture's face
          Case{bsTriangle, fmTreeColor, clSilver}, Case{bsTriangle, fmShaded, clSilver}}) {
        Tree->SetButtonStyle(c.style);
        Tree->SetButtonFillMode(c.fill);
        Paint();
        EXPECT_EQ(ColorToRGB(Px(6, 6)), ColorToRGB(c.inside)) << c.style << "/" << c.fill;
        EXPECT_EQ(Count({5, 5, 14, 14}, TColor(0x998877)),
                  c.fill == fmShaded && c.style == bsRectangle ? 32 : 0)
            << c.style << "/" << c.fill; // the shaded picture's frame
    }
}

// The clip is the rectangle within the visible region.
TEST_F(PaintFixture, ClipCanvasKeepsToTheVisibleRegion) {
    struct Case {
        bool region;
        int painted;
    };
    for (auto c : {Case{false, 100 * 50}, Case{true, 50 * 50}}) {
        TBitmap b(100, 100);
        b.Canvas().Brush.Color = clWhite;
        b.Canvas().FillRect({0, 0, 100, 100});
        HRGN region = c.region ? CreateRectRgn(50, 0, 100, 100) : HRGN(0);
        Tree->ClipCanvas(b.Canvas(), {0, 0, 100, 50}, region);
        if (region) DeleteObject(region);
        HBRUSH black = CreateSolidBrush(0);
        FillRect(b.Canvas().Handle(), {0, 0, 100, 100}, black);
        DeleteObject(black);
        SelectClipRgn(b.Canvas().Handle(), nullptr); // pixels are read through the clip too
        int n = 0;
        for (int y = 0; y < 100; ++y)
            for (int x = 0; x < 100; ++x) n += ColorToRGB(b.Canvas().Pixel(x, y)) == 0;
        EXPECT_EQ(n, c.painted) << c.region;
    }
}

TEST_F(PaintFixture, CheckImagesComeFromTheImageTable) {
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toCheckSupport);
    Tree->SetCheckImageKind(ckLightCheck);
    TCustomImageList* list = Tree->CheckImages;
    ASSERT_TRUE(list);
    Tree->OnGetText = nullptr; // no text where the image would be
    Tree->DefaultText.clear();
    struct Case {
        TCheckType type;
        TCheckState state;
        bool disabled;
        int expected; // -1: none painted
    };
    for (const Case& c :
         {Case{ctCheckBox, csCheckedNormal, false, 13}, Case{ctCheckBox, csCheckedNormal, true, 16},
          Case{ctTriStateCheckBox, csMixedNormal, false, 17},
          Case{ctTriStateCheckBox, csUncheckedPressed, true, 12},
          Case{ctRadioButton, csCheckedNormal, false, 5}, Case{ctButton, csMixedPressed, false, 19},
          Case{ctNone, csCheckedNormal, false, -1}}) {
        PLazyNode n = Node(0);
        n->CheckType = c.type;
        n->CheckState = c.state;
        if (c.disabled)
            n->States |= vsDisabled;
        else
            n->States &= ~vsDisabled;
        EXPECT_EQ(Tree->GetCheckImage(n), c.expected) << int(c.type) << "/" << int(c.state);
        Paint();
        // The image sits after the indent and the margin, centred on the row's join.
        int x = 18 + Tree->Margin(), y = 9 - list->Height() / 2;
        TBitmap expected(list->Width(), list->Height());
        expected.Canvas().Brush.Color = Background;
        expected.Canvas().FillRect({0, 0, list->Width(), list->Height()});
        if (c.expected >= 0) {
            auto style = list->DrawingStyle;
            list->DrawingStyle = TCustomImageList::dsTransparent;
            list->Draw(expected.Canvas(), 0, 0, c.expected);
            list->DrawingStyle = style;
        }
        int differences = 0;
        for (int py = 0; py < list->Height(); ++py)
            for (int px = 0; px < list->Width(); ++px)
                if (ColorToRGB(expected.Canvas().Pixel(px, py)) != ColorToRGB(Px(x + px, y + py)))
                    ++differences;
        EXPECT_EQ(differences, 0) << int(c.type) << "/" << int(c.state) << "/" << c.disabled;
    }
    // Without a node the given type, state and enabled flag count.
    EXPECT_EQ(Tree->GetCheckImage(nullptr, ctRadioButton, csUncheckedNormal, false), 4);
    EXPECT_EQ(Tree->GetCheckImage(nullptr, ctNone, csUncheckedNormal, true), -1);
}

TEST_F(PaintFixture, NodeImagesAndOverlays) {
    auto images = SolidImages({clGreen, clYellow});
    Tree->SetImages(images.get());
    bool overlay = false;
    Tree->OnGetImageIndex = [&](TBaseLazyTree&, PLazyNode, TLTImageKind kind, TColumnIndex, bool&,
                                int& index) {
        if (kind == ikNormal || kind == ikSelected) index = 0;
        if (kind == ikOverlay && overlay) index = 1;
    };
    Paint();
    // At the content's left, 16 x 16, centred on the row's join (proportional: the image's middle).
    int x = 18 + Tree->Margin();
    EXPECT_EQ(Count({x, 1, x + 16, 17}, clGreen), 256);
    EXPECT_EQ(Count({x, 19, x + 16, 35}, clGreen), 256);
    overlay = true;
    Paint();
    EXPECT_EQ(Count({x, 1, x + 16, 17}, clYellow), 36);
    EXPECT_EQ(Count({x, 1, x + 16, 17}, clGreen), 256 - 36);
    Tree->SetImages(nullptr);
}

TEST_F(PaintFixture, SelectionAndFocusMarks) {
    Tree->Colors().SetColor(TLTColors::FocusedSelectionColor, clLime);
    Tree->Colors().SetColor(TLTColors::FocusedSelectionBorderColor, clLime);
    Tree->Colors().SetColor(TLTColors::UnfocusedSelectionColor, clSilver);
    Tree->Colors().SetColor(TLTColors::UnfocusedSelectionBorderColor, clSilver);
    Tree->SetSelected(Node(1), true);
    Tree->SetFocusedNode(Node(1));
    TRect text{18 + Tree->Margin(), 18, 60, 36};
    struct Case {
        bool focused;
        TColor fill;
    };
    for (const Case& c : {Case{false, clSilver}, Case{true, clLime}}) {
        if (c.focused) SetFocus(Tree->WindowHandle());
        ASSERT_EQ(Tree->TreeFocused(), c.focused);
        Paint();
        EXPECT_GT(Count(text, c.fill), 100) << c.focused;
        EXPECT_EQ(Count({0, 0, 300, 18}, c.fill), 0) << c.focused; // unselected rows stay clear
        // The dotted focus rectangle breaks the selection's left edge.
        int edge = 18 - Count({text.Left, 18, text.Left + 1, 36}, c.fill);
        if (c.focused)
            EXPECT_GT(edge, 0);
        else
            EXPECT_EQ(edge, 0);
    }
    // Without selection drawing only the erase remains.
    Paint(DefaultPaintTreeOptions & ~(poDrawSelection | poDrawFocusRect));
    EXPECT_EQ(Count(text, clLime), 0);
}

// An owner's font for one node's text stays with that node; the canvas's own
// handler hears of the changes and is back after the paint.
TEST_F(PaintFixture, TextFontOfOneNodeDoesNotReachTheNext) {
    Tree->Colors().SetColor(TLTColors::UnfocusedSelectionColor, clSilver);
    Tree->Colors().SetColor(TLTColors::UnfocusedSelectionBorderColor, clSilver);
    Tree->SetSelected(Node(1), true);
    Tree->OnPaintText = [this](TBaseLazyTree&, TCanvas& canvas, PLazyNode node, TColumnIndex,
                               TLTSTextType) {
        if (node != Node(0)) return;
        canvas.Font.Height = -40;
        canvas.Font.Color = clGreen;
    };
    int notices = 0;
    Target->Canvas().Font.OnChange = [&](TFont&) { ++notices; };
    Paint();
    EXPECT_GT(Count({0, 0, 300, 18}, clGreen), 0);
    // Row 1: the selection as wide as "W" in the tree's font, the text in its colour.
    EXPECT_GT(Count({18, 18, 40, 36}, clSilver), 100);
    EXPECT_EQ(Count({45, 18, 300, 36}, clSilver), 0);
    EXPECT_EQ(Count({0, 18, 300, 36}, clGreen), 0);
    EXPECT_GT(notices, 0);
    notices = 0;
    Target->Canvas().Font.Color = clBlue;
    EXPECT_EQ(notices, 1);
}

TEST_F(PaintFixture, GridLinesAndColumns) {
    for (int w : {100, 120}) Tree->Header().Columns().Add()->SetWidth(w);
    Tree->TreeOptions().SetPaintOptions(Tree->TreeOptions().PaintOptions() | toShowHorzGridLines |
                                        toShowVertGridLines);
    Tree->SetLineStyle(lsSolid);
    Paint();
    EXPECT_GT(Count({0, 17, 220, 18}, GridColor), 200); // bottom row of each node
    EXPECT_GT(Count({99, 0, 100, 17}, GridColor), 10);  // right edge of the first column
    EXPECT_GT(Count({219, 0, 220, 17}, GridColor), 10);
    EXPECT_EQ(Count({0, 0, 300, 16}, GridColor) - Count({99, 0, 100, 16}, GridColor) -
                  Count({219, 0, 220, 16}, GridColor),
              0);
    Paint(DefaultPaintTreeOptions & ~poGridLines);
    EXPECT_EQ(Count({0, 0, 300, 54}, GridColor), 0);
}

// A column moved before the others paints its own cells where it now shows,
// whichever column it passed.
TEST_F(PaintFixture, MovedColumnsPaintInTheirNewPlace) {
    for (int w : {100, 60, 80}) Tree->Header().Columns().Add()->SetWidth(w);
    Tree->OnGetText = [](TBaseLazyTree&, PLazyNode, TColumnIndex column, int, std::u16string& t) {
        t = column == 2 ? u"WWW" : u"";
    };
    for (int position : {2, 0, 1}) {
        Tree->Header().Columns()[2].SetPosition(TColumnPosition(position));
        int left = Tree->Header().Columns()[2].Left();
        Target->Canvas().Brush.Color = clLime;
        Target->Canvas().FillRect({0, 0, 300, 200});
        Paint();
        EXPECT_EQ(Count({left, 0, left + 80, 18}, clLime), 0) << position;
        EXPECT_GT(Count({left, 0, left + 80, 18}, clBlack), 10) << position;
    }
}

TEST_F(PaintFixture, DropMarksAndDropTarget) {
    Tree->Colors().SetColor(TLTColors::DropMarkColor, clFuchsia);
    Tree->Colors().SetColor(TLTColors::DropTargetColor, clAqua);
    Tree->Colors().SetColor(TLTColors::DropTargetBorderColor, clAqua);
    Tree->SetDropTargetNode(Node(1));
    struct Case {
        TDropMode mode;
        int markTop, markBottom; // rows holding the mark, -1 for none
        bool highlighted;
    };
    for (const Case& c : {Case{dmAbove, 18, 25, false}, Case{dmBelow, 28, 36, false},
                          Case{dmOnNode, -1, -1, true}, Case{dmNowhere, -1, -1, false}}) {
        Tree->SetLastDropMode(c.mode);
        Paint();
        int marks = Count({0, 0, 300, 200}, clFuchsia);
        if (c.markTop >= 0) {
            EXPECT_GT(Count({2, c.markTop, 298, c.markBottom}, clFuchsia), 0) << c.mode;
            EXPECT_EQ(Count({2, c.markTop, 298, c.markBottom}, clFuchsia), marks) << c.mode;
        } else {
            EXPECT_EQ(marks, 0) << c.mode;
        }
        EXPECT_EQ(Count({18, 18, 60, 36}, clAqua) > 0, c.highlighted) << c.mode;
    }
    Tree->SetDropTargetNode(nullptr);
}

TEST_F(PaintFixture, RowEraseActions) {
    std::vector<PLazyNode> afterErase;
    Tree->OnBeforeItemErase = [&](TBaseLazyTree&, TCanvas&, PLazyNode n, TRect, TColor& color,
                                  TItemEraseAction& action) {
        if (n == Node(1)) action = eaNone;
        if (n == Node(2)) {
            action = eaColor;
            color = clNavy;
        }
    };
    Tree->OnAfterItemErase = [&](TBaseLazyTree&, TCanvas&, PLazyNode n, TRect) {
        afterErase.push_back(n);
    };
    Target->Canvas().Brush.Color = clMaroon;
    Target->Canvas().FillRect({0, 0, 300, 200});
    Paint();
    EXPECT_EQ(ColorToRGB(Px(200, 5)), ColorToRGB(Background));
    EXPECT_EQ(ColorToRGB(Px(200, 25)), ColorToRGB(clMaroon)); // left unpainted
    EXPECT_EQ(ColorToRGB(Px(200, 45)), ColorToRGB(clNavy));
    EXPECT_EQ(ColorToRGB(Px(200, 150)), ColorToRGB(Background)); // below the rows
    ASSERT_EQ(afterErase.size(), 3u);
    EXPECT_EQ(afterErase[1], Node(1)); // fires for the skipped row too
    Tree->OnBeforeItemErase = nullptr;
    Tree->OnAfterItemErase = nullptr;
}

TEST_F(PaintFixture, ScrolledWindowsPaintTheRowsAtTheirPlace) {
    Tree->SetRootNodeCount(1000);
    Tree->SetLineStyle(lsSolid);
    // Window from row 500 on, drawn at the target's top.
    Tree->PaintTree(Target->Canvas(), {0, 500 * 18, 300, 500 * 18 + 200}, {0, 0});
    EXPECT_EQ(Count({9, 0, 10, 200}, LineColor), 200); // middle rows: the line all the way
    EXPECT_EQ(Count({10, 9, 18, 10}, LineColor), 8);
}

TEST(LayoutHelpers, MulDivRoundsHalfAwayFromZero) {
    struct Case {
        int n, m, d, expected;
    };
    for (const Case& c :
         {Case{18, 120, 96, 23}, Case{9, 50, 100, 5}, Case{-9, 50, 100, -5}, Case{7, 1, 2, 4},
          Case{10, 3, 0, -1}, Case{INT32_MAX, 2, 1, -1}, Case{INT32_MAX, 2, 2, INT32_MAX}})
        EXPECT_EQ(MulDiv(c.n, c.m, c.d), c.expected) << c.n << "*" << c.m << "/" << c.d;
}

TEST_F(PaintFixture, PrintClientPaintsTheVisibleRowsAndBarsFollowTheContent) {
    Tree->SetLineStyle(lsSolid);
    HWND wnd = Tree->WindowHandle();
    SendMessage(wnd, WM_PRINTCLIENT, WPARAM(Target->Canvas().Handle()), 0);
    EXPECT_EQ(Count({9, 10, 10, 18}, LineColor), 8);
    // More rows than fit: the next paint shows the vertical bar.
    EXPECT_FALSE(GetWindowLongPtr(wnd, GWL_STYLE) & WS_VSCROLL);
    Tree->SetRootNodeCount(1000);
    InvalidateRect(wnd, nullptr, false);
    UpdateWindow(wnd);
    ProcessMessagesUntil([&] { return GetWindowLongPtr(wnd, GWL_STYLE) & WS_VSCROLL; }, 1000);
    EXPECT_TRUE(GetWindowLongPtr(wnd, GWL_STYLE) & WS_VSCROLL);
}

// A right-to-left column mirrors the row: lines, button, image and text start
// at the cell's right edge (one 300 pixel column; the levels' lines sit half an
// indent into their level from either side).
TEST_F(PaintFixture, RightToLeftColumnsMirrorTheRow) {
    auto images = SolidImages({clGreen});
    Tree->SetImages(images.get());
    Tree->OnGetImageIndex = [&](TBaseLazyTree&, PLazyNode, TLTImageKind kind, TColumnIndex, bool&,
                                int& index) {
        if (kind == ikNormal) index = 0;
    };
    Tree->Header().Columns().Add()->SetWidth(300);
    Tree->SetChildCount(Node(0), 1);
    Tree->SetLineStyle(lsSolid);
    const int image = 18 + Tree->Margin(); // left edge of the image when read left to right
    struct Case {
        TBiDiMode mode;
        int lineX, joinLeft, buttonX, imageLeft;
    };
    for (const Case& c : {Case{bdLeftToRight, 9, 10, 9, image},
                          Case{bdRightToLeft, 291, 282, 291, 300 - image - 16}}) {
        Tree->Header().Columns()[0].SetBiDiMode(c.mode);
        Paint();
        // The vertical line through the middle row and down to the last row's join.
        EXPECT_EQ(Count({c.lineX, 27, c.lineX + 1, 54}, LineColor), 19) << c.mode;
        EXPECT_EQ(Count({c.joinLeft, 27, c.joinLeft + 8, 28}, LineColor), 8) << c.mode;
        // The plus of the first node centres on its line.
        EXPECT_EQ(ColorToRGB(Px(c.buttonX, 11)), ColorToRGB(clBlack)) << c.mode;
        EXPECT_EQ(Count({c.imageLeft, 1, c.imageLeft + 16, 17}, clGreen), 256) << c.mode;
        // The text sits next to the image, on the reading side.
        const TRect beside = c.mode == bdLeftToRight ? TRect{c.imageLeft + 16, 0, 120, 18}
                                                     : TRect{180, 0, c.imageLeft, 18};
        EXPECT_GT(Count(beside, clBlack), 5) << c.mode;
        EXPECT_EQ(
            Count(c.mode == bdLeftToRight ? TRect{150, 0, 300, 18} : TRect{0, 0, 150, 18}, clBlack),
            0)
            << c.mode;
    }
    Tree->SetImages(nullptr);
}

// A column's own colour fills its cells when the caller asks for column colours;
// a column that follows the tree's colour, or a paint without the option, shows the tree's.
TEST_F(PaintFixture, ColumnsWithTheirOwnColourFillTheirCells) {
    for (int w : {100, 120}) Tree->Header().Columns().Add()->SetWidth(w);
    Tree->Header().Columns()[1].SetColor(clYellow); // drops the parent colour
    ASSERT_FALSE(Tree->Header().Columns()[1].Options() & coParentColor);
    struct Case {
        TLTRowPaintOptions options;
        int yellowInSecondColumn;
    };
    const TRect second{100, 0, 220, 54}, first{0, 0, 100, 54};
    for (const Case& c : {Case{DefaultPaintTreeOptions, 120 * 54},
                          Case{DefaultPaintTreeOptions & ~poColumnColor, 0}}) {
        Paint(c.options);
        // The text of the second column (its main column is the first) is "W" in black.
        EXPECT_GT(Count(second, clYellow), c.yellowInSecondColumn - 200) << c.options;
        EXPECT_LE(Count(second, clYellow), c.yellowInSecondColumn) << c.options;
        EXPECT_EQ(Count(first, clYellow), 0) << c.options;
        EXPECT_EQ(ColorToRGB(Px(250, 5)), ColorToRGB(Background))
            << c.options; // beyond the columns
    }
}

// The selection fill: square by default, rounded with a curve radius (the
// corner pixel keeps the background), and a blend of the selection colour over
// the background when blended selection is on.
TEST_F(PaintFixture, SelectionFillsRoundedOrBlended) {
    Tree->Colors().SetColor(TLTColors::UnfocusedSelectionColor, clBlue);
    Tree->Colors().SetColor(TLTColors::UnfocusedSelectionBorderColor, clBlue);
    Tree->SetSelected(Node(1), true);
    const int left = 18 + Tree->Margin();
    const COLORREF half = RGB(127, 127, 255); // blue at 128/256 over white, rounded down
    struct Case {
        uint32_t radius;
        bool blended;
        COLORREF corner, inside;
    };
    for (const Case& c : {Case{0, false, ColorToRGB(clBlue), ColorToRGB(clBlue)},
                          Case{8, false, ColorToRGB(Background), ColorToRGB(clBlue)},
                          Case{0, true, ColorToRGB(clBlue), half}}) {
        Tree->SetSelectionCurveRadius(c.radius);
        auto options = Tree->TreeOptions().PaintOptions();
        Tree->TreeOptions().SetPaintOptions(c.blended ? options | toUseBlendedSelection
                                                      : options & ~toUseBlendedSelection);
        Paint();
        EXPECT_EQ(ColorToRGB(Px(left, 18)), c.corner) << c.radius << "/" << c.blended;
        COLORREF inside = ColorToRGB(Px(left + 3, 27));
        EXPECT_NEAR(GetRValue(inside), GetRValue(c.inside), 1) << c.radius << "/" << c.blended;
        EXPECT_NEAR(GetGValue(inside), GetGValue(c.inside), 1) << c.radius << "/" << c.blended;
        EXPECT_EQ(GetBValue(inside), GetBValue(c.inside)) << c.radius << "/" << c.blended;
    }
}

// Ghosted images and those of selected nodes let a quarter of the row show
// through under blended images, while the tree paints focused.
TEST_F(PaintFixture, BlendedImagesShowTheRowThrough) {
    auto images = SolidImages({clGreen});
    Tree->SetImages(images.get());
    bool ghosted = false;
    Tree->OnGetImageIndex = [&](TBaseLazyTree&, PLazyNode n, TLTImageKind kind, TColumnIndex,
                                bool& ghost, int& index) {
        if (kind == ikNormal || kind == ikSelected) index = 0;
        if (n == Node(0)) ghost = ghosted;
    };
    const COLORREF plain = ColorToRGB(clGreen), blended = RGB(63, 159, 63); // over white
    const int x = 18 + Tree->Margin() + 8;
    struct Case {
        bool ghosted, blendedOption, ghostedIfUnfocused;
        COLORREF expected;
    };
    for (const Case& c : {Case{false, true, true, plain}, Case{true, true, true, blended},
                          Case{true, false, true, plain}, Case{true, true, false, plain}}) {
        ghosted = c.ghosted;
        auto options =
            Tree->TreeOptions().PaintOptions() & ~(toUseBlendedImages | toGhostedIfUnfocused);
        if (c.blendedOption) options |= toUseBlendedImages;
        if (c.ghostedIfUnfocused) options |= toGhostedIfUnfocused;
        Tree->TreeOptions().SetPaintOptions(options);
        Paint();
        EXPECT_EQ(ColorToRGB(Px(x, 9)), c.expected)
            << c.ghosted << c.blendedOption << c.ghostedIfUnfocused;
    }
    // A selected node's image is blended too (the selection covers only the text).
    ghosted = false;
    Tree->SetSelected(Node(1), true);
    Tree->TreeOptions().SetPaintOptions(Tree->TreeOptions().PaintOptions() | toGhostedIfUnfocused);
    Paint();
    EXPECT_EQ(ColorToRGB(Px(x, 27)), blended);
    EXPECT_EQ(ColorToRGB(Px(x, 9)), plain);
    Tree->SetImages(nullptr);
}

namespace {

// Reaches the hot state and the button bitmaps that the mouse and the
// bitmap preparation otherwise own.
class THotButtonTree : public TLazyStringTree {
public:
    using TLazyStringTree::TLazyStringTree;
    void SetHot(PLazyNode node, bool onButton) {
        FCurrentHotNode = node;
        FHotNodeButtonHit = onButton;
    }
    void MarkHotBitmaps(TColor color) {
        for (TBitmap* b : {FHotPlusBM.get(), FHotMinusBM.get()}) {
            b->Canvas().Brush.Color = color;
            b->Canvas().FillRect({0, 0, b->Width(), b->Height()});
        }
    }
};

} // namespace

// The hot plus and minus show only for the hot node's button under the mouse
// with hot tracking on.
TEST_F(PaintFixture, HotButtonsUnderTheMouse) {
    auto tree = NewComponent<THotButtonTree>();
    tree->SetBounds(0, 0, 300, 200);
    tree->Handle();
    tree->Color = Background;
    tree->SetRootNodeCount(2);
    tree->SetChildCount(tree->GetFirst(), 1);
    tree->SetChildCount(tree->GetFirst()->NextSibling, 1);
    tree->Colors().SetColor(TLTColors::TreeLineColor, LineColor);
    auto paint = [&] { tree->PaintTree(Target->Canvas(), {0, 0, 300, 200}, {0, 0}); };
    paint(); // the bitmaps are made for the tree's colours first
    tree->MarkHotBitmaps(clAqua);
    struct Case {
        bool hotTrack, onButton, expanded;
        int aquaInFirstButton;
    };
    for (const Case& c : {Case{true, true, false, 81}, Case{true, true, true, 81},
                          Case{true, false, false, 0}, Case{false, true, false, 0}}) {
        auto options = tree->TreeOptions().PaintOptions() & ~toHotTrack;
        tree->TreeOptions().SetPaintOptions(c.hotTrack ? options | toHotTrack : options);
        tree->SetExpanded(tree->GetFirst(), c.expanded);
        tree->SetHot(tree->GetFirst(), c.onButton);
        paint();
        const TRect button{5, 5, 14, 14};
        EXPECT_EQ(Count(button, clAqua), c.aquaInFirstButton)
            << c.hotTrack << c.onButton << c.expanded;
        // The other node's button is never hot.
        const int second = c.expanded ? 36 : 18;
        EXPECT_EQ(Count({5, second + 5, 14, second + 14}, clAqua), 0);
    }
    tree->SetHot(nullptr, false);
}

// Bevel and border band take their room from the client and are painted
// around it: two bevel pixels, then BorderWidth pixels in the border colour.
TEST(NonClientBorder, BevelAndBorderBandAroundTheClient) {
    SetMainThread();
    EnsureGuiToolkit();
    InitializeGlobalStructures();
    struct Case {
        TBevelKind bevel;
        int borderWidth, band;
    };
    for (const Case& c :
         {Case{bkNone, 0, 0}, Case{bkNone, 3, 3}, Case{bkFlat, 3, 5}, Case{bkTile, 0, 2}}) {
        auto tree = NewComponent<TTreeProbe>();
        tree->BevelKind = c.bevel;
        tree->BorderWidth = c.borderWidth;
        tree->Colors().SetColor(TLTColors::BorderColor, clRed);
        tree->SetBounds(0, 0, 100, 80);
        tree->SetBorderStyle(0);
        tree->Handle();
        TRect client = tree->ClientRect();
        EXPECT_EQ(client.Width(), 100 - 2 * c.band) << c.bevel << "/" << c.borderWidth;
        EXPECT_EQ(client.Height(), 80 - 2 * c.band) << c.bevel << "/" << c.borderWidth;
        TBitmap frame(100, 80);
        frame.Canvas().Brush.Color = clWhite;
        frame.Canvas().FillRect({0, 0, 100, 80});
        tree->PaintNonClientBorder(frame.Canvas().Handle());
        auto px = [&](int x, int y) { return ColorToRGB(TColor(frame.Canvas().Pixel(x, y))); };
        const int bevel = c.bevel == bkNone ? 0 : 2;
        for (int i = 0; i < 100; ++i) {
            COLORREF expected = i < bevel           ? px(i, 40) // bevel: not checked here
                                : i < c.band        ? ColorToRGB(clRed)
                                : i >= 100 - bevel  ? px(i, 40)
                                : i >= 100 - c.band ? ColorToRGB(clRed)
                                                    : ColorToRGB(clWhite);
            EXPECT_EQ(px(i, 40), expected) << c.bevel << "/" << c.borderWidth << " x " << i;
        }
        if (bevel) {
            EXPECT_NE(px(0, 40), ColorToRGB(clWhite)) << c.bevel;
        }
        // The band runs along the top as well.
        if (c.band > bevel) {
            EXPECT_EQ(px(50, c.band - 1), ColorToRGB(clRed)) << c.bevel << "/" << c.borderWidth;
        }
        EXPECT_EQ(px(50, c.band), ColorToRGB(clWhite)) << c.bevel << "/" << c.borderWidth;
    }
}

// Rows the program adds or removes while the tree is shown appear or vanish
// at once, outside an update as at its end, and the scroll bar follows.
TEST(PaintWindow, NodesAddedOrRemovedByTheProgramShowAtOnce) {
    SetMainThread();
    EnsureGuiToolkit();
    InitializeGlobalStructures();
    struct Case {
        const char* name;
        std::function<void(TLazyStringTree&)> change;
    };
    auto nth = [](TLazyStringTree& t, int i) {
        PLazyNode n = t.GetFirst();
        while (i-- > 0) n = n->NextSibling;
        return n;
    };
    const Case cases[] = {
        {"AddChild top level", [](TLazyStringTree& t) { t.AddChild(nullptr); }},
        {"AddChild under a collapsed node", [&](TLazyStringTree& t) { t.AddChild(nth(t, 1)); }},
        {"AddChild under an expanded node", [&](TLazyStringTree& t) { t.AddChild(nth(t, 2)); }},
        {"InsertNode before the first",
         [&](TLazyStringTree& t) { t.InsertNode(nth(t, 0), amInsertBefore); }},
        {"DeleteNode", [&](TLazyStringTree& t) { t.DeleteNode(nth(t, 1)); }},
        {"DeleteNode of the last child",
         [&](TLazyStringTree& t) { t.DeleteNode(nth(t, 2)->FirstChild); }},
        {"ChildCount more rows than fit", [](TLazyStringTree& t) { t.SetChildCount(nullptr, 20); }},
        {"ChildCount fewer", [](TLazyStringTree& t) { t.SetChildCount(nullptr, 1); }},
        {"ChildCount of an expanded node",
         [&](TLazyStringTree& t) { t.SetChildCount(nth(t, 2), 4); }},
        {"RootNodeCount", [](TLazyStringTree& t) { t.SetRootNodeCount(2); }},
        {"DeleteChildren", [&](TLazyStringTree& t) { t.DeleteChildren(nth(t, 2)); }},
        {"Clear", [](TLazyStringTree& t) { t.Clear(); }},
    };
    for (const Case& c : cases)
        for (bool inUpdate : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (inUpdate ? " in an update" : ""));
            auto tree = NewComponent<TLazyStringTree>();
            tree->SetBounds(0, 0, 200, 120);
            tree->OnGetText = [](TBaseLazyTree&, PLazyNode n, TColumnIndex, int,
                                 std::u16string& t) { t = std::u16string(1, u'A' + n->Index); };
            HWND wnd = tree->Handle();
            tree->SetRootNodeCount(3);
            PLazyNode last = nth(*tree, 2);
            tree->SetChildCount(last, 1);
            tree->SetExpanded(last, true);
            ProcessMessages();
            UpdateWindow(wnd);
            if (inUpdate) tree->BeginUpdate();
            c.change(*tree);
            if (inUpdate) tree->EndUpdate();
            for (int i = 0; i < 3; ++i) ProcessMessages(); // the paint, then the bars it asks for
            UpdateWindow(wnd);
            const std::vector<uint32_t> shown = GetWindowImage(wnd)->Bits;
            RedrawWindow(wnd, nullptr, RDW_INVALIDATE | RDW_FRAME | RDW_UPDATENOW);
            EXPECT_TRUE(shown == GetWindowImage(wnd)->Bits);
            const bool barShown = GetWindowLongPtr(wnd, GWL_STYLE) & WS_VSCROLL;
            EXPECT_EQ(barShown, tree->RangeY() > tree->ClientRect().Height());
        }
}

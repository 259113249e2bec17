// Header painting, checked as pixels of the tree window's image: cells and
// their clipping, captions, sort glyphs, drop marks, edges per style and the
// owner-drawing events.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include "TreeProbe.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

// A tree that may answer the check image itself, as a descendant with its own images would.
class CheckImageTree : public TTreeProbe {
public:
    using TTreeProbe::TTreeProbe;
    int OwnCheckImage = -1; // -1: the tree's usual answer
    int GetCheckImage(PLazyNode node, TCheckType type, TCheckState state, bool enabled) override {
        return OwnCheckImage >= 0 ? OwnCheckImage
                                  : TTreeProbe::GetCheckImage(node, type, state, enabled);
    }
};

struct HeaderPaintFixture : ::testing::Test {
    std::unique_ptr<CheckImageTree> Tree;
    HWND Wnd = 0;
    void SetUp() override {
        SetMainThread();
        EnsureGuiToolkit();
        Tree = NewComponent<CheckImageTree>();
        Tree->SetBounds(0, 0, 400, 120);
        Tree->SetBorderStyle(0);
        Tree->Handle();
        Wnd = Tree->WindowHandle();
        Header().SetOptions(Header().Options() | hoVisible);
    }
    void TearDown() override { Tree.reset(); }
    TLTHeader& Header() { return Tree->Header(); }
    TLazyTreeColumns& Columns() { return Tree->Header().Columns(); }
    TLazyTreeColumn& Add(int width, const std::u16string& text = u"") {
        TLazyTreeColumn* c = Columns().Add();
        c->SetWidth(width);
        c->SetText(text);
        return *c;
    }
    void Paint() { RedrawWindow(Wnd, nullptr, RDW_FRAME); }
    COLORREF Px(int x, int y) {
        HBITMAP img = GetWindowImage(Wnd);
        uint32_t p = img->Bits[size_t(y) * size_t(img->Width) + size_t(x)];
        return RGB((p >> 16) & 255, (p >> 8) & 255, p & 255);
    }
    // The bounds of the pixels of one colour inside Area; empty when none.
    TRect Find(TRect area, COLORREF color) {
        TRect r{INT32_MAX, INT32_MAX, INT32_MIN, INT32_MIN};
        for (int y = area.Top; y < area.Bottom; ++y)
            for (int x = area.Left; x < area.Right; ++x)
                if (Px(x, y) == color) {
                    r = {std::min(r.Left, x), std::min(r.Top, y), std::max(r.Right, x + 1),
                         std::max(r.Bottom, y + 1)};
                }
        return r.Left == INT32_MAX ? TRect{} : r;
    }
    // The inside of a cell, clear of its edges.
    TRect Inside(const TLazyTreeColumn& c) {
        return {c.Left() + 3, 3, c.Left() + c.Width() - 3, 15};
    }
    int TextWidth(const std::u16string& s) {
        TBitmap b(10, 10);
        b.Canvas().Font.Assign(Header().Font());
        HDC dc = b.Canvas().Handle();
        SelectObject(dc, b.Canvas().Font.Handle());
        TPoint size;
        GetTextExtentPoint32W(dc, s.c_str(), int(s.size()), size);
        return size.X;
    }
    const COLORREF Black = RGB(0, 0, 0), Gray = RGB(128, 128, 128), Navy = RGB(0, 0, 128);
    COLORREF Face() { return GetSysColor(COLOR_BTNFACE); }
};

using HeaderPaint = HeaderPaintFixture;

} // namespace

TEST_F(HeaderPaint, HeaderSitsAboveTheClientInTheFrame) {
    Add(100, u"Name");
    EXPECT_EQ(Tree->HeaderRect(), (TRect{0, 0, 400, 17}));
    EXPECT_EQ(ClientOrigin(Wnd).Y, 17);
    Paint();
    EXPECT_FALSE(Find(Inside(Columns()[0]), Black).IsEmpty());
    Header().SetOptions(Header().Options() & ~hoVisible);
    EXPECT_EQ(ClientOrigin(Wnd).Y, 0);
}

TEST_F(HeaderPaint, ScrolledCellsAreClippedAtTheirEdgesAndPaintingStopsPastTheRectangle) {
    struct Cell {
        TColumnIndex column;
        TRect r;
        COLORREF fill;
    };
    std::vector<Cell> drawn;
    const COLORREF fills[] = {RGB(200, 0, 0), RGB(0, 200, 0), RGB(0, 0, 200), RGB(200, 200, 0),
                              RGB(0, 200, 200)};
    Tree->OnHeaderDraw = [&](TLTHeader&, TCanvas& canvas, TColumnIndex c, TRect r, bool, bool,
                             TLTDropMarkMode) {
        drawn.push_back({c, r, fills[c]});
        HBRUSH b = CreateSolidBrush(fills[c]);
        FillRect(canvas.Handle(), r, b);
        DeleteObject(b);
    };
    Header().SetOptions(Header().Options() | hoOwnerDraw);
    for (int i = 0; i < 5; ++i) Add(100).SetStyle(vsOwnerDraw);

    TBitmap target(400, 17);
    drawn.clear();
    Columns().PaintHeader(target.Canvas().Handle(), {0, 0, 200, 17}, -150);
    ASSERT_EQ(drawn.size(), 3u);
    EXPECT_EQ(drawn[0].column, 1);
    EXPECT_EQ(drawn[0].r, (TRect{-50, 0, 50, 17}));
    EXPECT_EQ(drawn[2].column, 3); // starts at 150, inside; the next starts past 200
    EXPECT_EQ(GetPixel(target.Canvas().Handle(), 49, 5), fills[1]);
    EXPECT_EQ(GetPixel(target.Canvas().Handle(), 50, 5), fills[2]);
    EXPECT_EQ(GetPixel(target.Canvas().Handle(), 199, 5), fills[3]);
    EXPECT_NE(GetPixel(target.Canvas().Handle(), 200, 5), fills[3]); // outside R: not copied

    // A fixed column stays put; scrolled cells under it are cut at its edge.
    Columns()[0].SetOptions(Columns()[0].Options() | coFixed);
    Columns()[0].SetWidth(60);
    drawn.clear();
    Columns().PaintHeader(target.Canvas().Handle(), {0, 0, 400, 17}, -150);
    ASSERT_GE(drawn.size(), 2u);
    EXPECT_EQ(drawn[0].column, 0);
    EXPECT_EQ(drawn[1].column, 2); // column 1 (-90 .. 10) lies wholly under the fixed one
    EXPECT_EQ(GetPixel(target.Canvas().Handle(), 30, 5), fills[0]);
    EXPECT_EQ(GetPixel(target.Canvas().Handle(), 60, 5), fills[2]);
}

TEST_F(HeaderPaint, PressedCellMovesItsCaptionOneDownAndRight) {
    TLazyTreeColumn& c = Add(120, u"Temp");
    Paint();
    TRect normal = Find(Inside(c), Black);
    ASSERT_FALSE(normal.IsEmpty());
    EXPECT_EQ(normal.Left,
              2 + c.Margin() + 0 + 0); // the text starts at the margin of the inner cell
    Columns().DownIndex = 0;
    Paint();
    EXPECT_EQ(Find(Inside(c), Black), normal.Offset(1, 1));
}

TEST_F(HeaderPaint, SortGlyphSitsSpacingBesideACentredCaption) {
    struct Case {
        TBiDiMode bidi;
        bool themes;
        COLORREF glyph;
    };
    for (auto k : {Case{bdLeftToRight, false, Gray}, Case{bdRightToLeft, false, Gray},
                   Case{bdLeftToRight, true, Navy}}) {
        Columns().Clear();
        TLazyTreeColumn& c = Add(200, u"Abc");
        c.SetCaptionAlignment(taCenter);
        c.SetBiDiMode(k.bidi);
        Header().SetSortColumn(0);
        Tree->DoStateChange(k.themes ? TS(tsUseThemes) : 0, k.themes ? 0 : TS(tsUseThemes));
        Paint();
        // From the layout: inner width 196, text width + 2, spacing 4 between text and glyph.
        int tw = TextWidth(u"Abc") + 2, W = 196, Sp = 4;
        int textX = 2 + (W - Sp - tw) / 2;
        int glyphX = k.bidi == bdLeftToRight ? textX + tw + Sp : textX - Sp - 16;
        TRect glyph = Find({3, 4, 197, 13}, k.glyph);
        ASSERT_FALSE(glyph.IsEmpty()) << k.bidi << k.themes;
        EXPECT_EQ(glyph.Left, glyphX + 4)
            << k.bidi << k.themes; // the glyph's arrow starts 4 pixels in
        EXPECT_FALSE(Find(Inside(c), Black).IsEmpty());
    }
    Tree->DoStateChange(0, TS(tsUseThemes));
}

TEST_F(HeaderPaint, NarrowCellKeepsTheSortGlyphInsideAndCutsTheCaption) {
    TLazyTreeColumn& c = Add(60, u"Температура подачи");
    Header().SetSortColumn(0);
    Header().SetSortDirection(sdDescending);
    Paint();
    TRect glyph = Find({3, 3, 57, 14}, Gray);
    ASSERT_FALSE(glyph.IsEmpty());
    // Glyph pulled in to end at the right margin: 2 + 56 - 4 - 16 = 38.
    EXPECT_EQ(glyph.Left, 38 + 4);
    EXPECT_LE(glyph.Right, 60 - 2 - 4);
    TRect text = Find(Inside(c), Black);
    ASSERT_FALSE(text.IsEmpty());
    EXPECT_LE(text.Right, 38 - 4); // cut at the glyph's left minus the spacing
    EXPECT_GE(text.Left, 2 + 4);
    // Shortened with an ellipsis: the last dot sits on the baseline at the right end.
    EXPECT_LT(TextWidth(u"Температура подачи"), 200);
}

TEST_F(HeaderPaint, DisabledCaptionIsEngraved) {
    TLazyTreeColumn& c = Add(120, u"Off");
    c.SetOptions(c.Options() & ~coEnabled);
    Paint();
    TRect light = Find(Inside(c), GetSysColor(COLOR_BTNHIGHLIGHT));
    TRect dark = Find(Inside(c), GetSysColor(COLOR_BTNSHADOW));
    ASSERT_FALSE(light.IsEmpty());
    ASSERT_FALSE(dark.IsEmpty());
    EXPECT_EQ(light.Right, dark.Right + 1);
    EXPECT_EQ(light.Bottom, dark.Bottom + 1);
    EXPECT_TRUE(Find(Inside(c), Black).IsEmpty());
}

TEST_F(HeaderPaint, DropMarkOnTheSideTheColumnWouldGo) {
    Add(100);
    TLazyTreeColumn& target = Add(100);
    Columns().DragIndex = 0;
    Paint();
    int left = target.Left() + 2 + 2, right = target.Left() + target.Width() - 2 - 16 + 13;
    EXPECT_NE(Px(left, 9), Black);
    Columns().DropTarget = 1;
    Columns().DropOnLeft = true;
    Paint();
    EXPECT_EQ(Px(left, 9), Black);
    EXPECT_NE(Px(right, 9), Black);
    Columns().DropOnLeft = false;
    Paint();
    EXPECT_EQ(Px(right, 9), Black);
    target.SetOptions(target.Options() & ~coShowDropMark);
    Paint();
    EXPECT_NE(Px(right, 9), Black);
}

TEST_F(HeaderPaint, LastColumnRightEdgePerStyle) {
    struct Case {
        TLTHeaderStyle style;
        TBevelKind bevel;
        bool edge;
    };
    Add(100);
    Add(100);
    Header().SetAutoSizeIndex(1);
    Header().SetOptions(Header().Options() | hoAutoResize);
    for (auto k : {Case{hsFlatButtons, bkSoft, false}, Case{hsPlates, bkSoft, false},
                   Case{hsThickButtons, bkSoft, true}, Case{hsFlatButtons, bkNone, true}}) {
        Header().SetStyle(k.style);
        Tree->BevelKind = k.bevel;
        Paint();
        int right = Columns().TotalWidth() - 1;
        EXPECT_EQ(right, 399);
        EXPECT_EQ(Px(right, 8) != Face(), k.edge) << k.style << " " << k.bevel;
        EXPECT_NE(Px(99, 8), Face()) << k.style; // other columns keep their right edge
    }
}

TEST_F(HeaderPaint, AdvancedHandlerPaintsOnlyTheSortGlyph) {
    TLazyTreeColumn& c = Add(150, u"Abc");
    Header().SetSortColumn(0);
    std::vector<THeaderPaintElements> asked;
    std::vector<bool> saved;
    Tree->OnHeaderDrawQueryElements = [&](TLTHeader&, THeaderPaintInfo& info,
                                          THeaderPaintElements& e) {
        if (info.Column) e = hpeSortGlyph;
    };
    Tree->OnAdvancedHeaderDraw = [&](TLTHeader&, THeaderPaintInfo& info, THeaderPaintElements e) {
        asked.push_back(e);
        EXPECT_EQ(info.Column, &Columns()[0]);
        EXPECT_TRUE(info.ShowSortGlyph);
        // A change here must not outlive the event.
        SetTextColor(info.Canvas->Handle(), RGB(255, 0, 0));
        SetBkMode(info.Canvas->Handle(), OPAQUE);
    };
    Header().SetOptions(Header().Options() | hoOwnerDraw);
    asked.clear();
    Paint();
    EXPECT_EQ(asked, (std::vector<THeaderPaintElements>{hpeSortGlyph}));
    EXPECT_TRUE(Find({3, 4, 147, 13}, Gray).IsEmpty());
    EXPECT_FALSE(Find(Inside(c), Black).IsEmpty());
    EXPECT_NE(Px(1, 8), Face()); // the edge is painted as usual
    Paint();
    EXPECT_TRUE(Find(Inside(c), RGB(255, 0, 0)).IsEmpty());
}

TEST_F(HeaderPaint, ClickOnAHeaderCheckBoxTogglesIt) {
    TCustomImageList images(16, 16);
    Header().SetImages(&images);
    Header().SetOptions(Header().Options() | hoShowImages);
    TLazyTreeColumn& c = Add(120, u"On");
    c.SetImageIndex(0);
    c.SetCheckBox(true);
    c.SetCheckType(ctCheckBox);
    Paint();
    ASSERT_TRUE(c.GlyphDrawn());
    std::vector<TLTHeaderHitInfo> clicks;
    Tree->OnHeaderClick = [&](TLTHeader&, TLTHeaderHitInfo i) { clicks.push_back(i); };
    TRect glyph = c.GlyphRect(); // window coordinates: the client starts 17 lower
    TPoint onGlyph{glyph.Left + 4, glyph.Top + 4 - 17}, onCaption{100, -9};
    Columns().HandleHeaderClick(onCaption, mbLeft, true, false);
    Columns().HandleHeaderClick(onGlyph, mbLeft, true, false);
    ASSERT_EQ(clicks.size(), 2u);
    EXPECT_EQ(clicks[0].HitPosition, hpOnColumn);
    EXPECT_EQ(clicks[1].HitPosition, hpOnColumn | hpOnIcon | hpOnCheckBox);
    EXPECT_EQ(c.CheckState(), csCheckedNormal);
}

// A header check box shows the image the tree gives for the column's type,
// state and enabled flag, as a node's check box with them would.
TEST_F(HeaderPaint, HeaderCheckBoxShowsTheTreesCheckImage) {
    TCustomImageList checks(16, 16), images(16, 16);
    for (int i = 0; i < 25; ++i) { // every image a colour of its own
        TBitmap b(16, 16);
        b.Canvas().Brush.Color = TColor(RGB(8 * i + 1, 50, 200));
        b.Canvas().FillRect({0, 0, 16, 16});
        checks.AddMasked(b, clFuchsia);
    }
    Tree->SetCustomCheckImages(&checks);
    Tree->SetCheckImageKind(ckCustom);
    Header().SetImages(&images);
    Header().SetOptions(Header().Options() | hoShowImages);
    TLazyTreeColumn& c = Add(120, u"On");
    c.SetImageIndex(0);
    c.SetCheckBox(true);
    struct Case {
        const char* name;
        TCheckType type;
        TCheckState state;
        bool enabled;
        int own, expected;
    };
    for (const Case& k : {Case{"mixed radio button", ctRadioButton, csMixedNormal, true, -1, 17},
                          Case{"mixed push button", ctButton, csMixedNormal, true, -1, 17},
                          Case{"disabled mixed radio", ctRadioButton, csMixedNormal, false, -1, 20},
                          Case{"checked box", ctCheckBox, csCheckedNormal, true, -1, 13},
                          Case{"the tree's own image", ctCheckBox, csCheckedNormal, true, 3, 3}}) {
        SCOPED_TRACE(k.name);
        Tree->OwnCheckImage = k.own;
        c.SetCheckType(k.type);
        c.SetCheckState(k.state);
        c.SetOptions(k.enabled ? c.Options() | coEnabled : c.Options() & ~coEnabled);
        Paint();
        ASSERT_TRUE(c.GlyphDrawn());
        TBitmap expected(16, 16);
        checks.Draw(expected.Canvas(), 0, 0, k.expected, k.enabled);
        TRect glyph = c.GlyphRect();
        EXPECT_EQ(Px(glyph.Left + 8, glyph.Top + 8),
                  ColorToRGB(TColor(expected.Canvas().Pixel(8, 8))));
    }
}

TEST_F(HeaderPaint, HeaderForgetsAnImageListThatGoes) {
    auto images = std::make_unique<TCustomImageList>(16, 16);
    Header().SetImages(images.get());
    Header().SetOptions(Header().Options() | hoShowImages);
    Add(100, u"x").SetImageIndex(0);
    images.reset();
    EXPECT_EQ(Header().Images(), nullptr);
    Paint();
}

TEST_F(HeaderPaint, XPButtonFacesInTheirFixedColours) {
    TBitmap b(60, 17);
    HDC dc = b.Canvas().Handle();
    struct Probe {
        int x, y;
        COLORREF color;
    };
    auto check = [&](bool splitter, bool pressed, bool hot, std::initializer_list<Probe> probes) {
        Columns().DrawXPButtonFace(dc, {0, 0, 60, 17}, splitter, pressed, hot);
        for (const Probe& p : probes)
            EXPECT_EQ(GetPixel(dc, p.x, p.y), p.color)
                << p.x << "," << p.y << " " << pressed << hot;
    };
    const COLORREF face = RGB(0xEB, 0xEA, 0xDB), white = RGB(255, 255, 255),
                   split = RGB(0xC7, 0xC5, 0xB2);
    check(true, false, false,
          {{10, 5, face},
           {58, 3, split},
           {59, 3, white},
           {58, 11, split},
           {58, 12, face},
           {58, 2, face},
           {10, 14, RGB(0xE0, 0xDE, 0xCF)},
           {10, 15, RGB(0xD5, 0xD2, 0xC3)},
           {10, 16, RGB(0xCB, 0xC7, 0xB8)}});
    check(true, true, false,
          {{10, 5, RGB(0xDE, 0xDF, 0xD8)},
           {0, 5, RGB(0xA5, 0xA5, 0x97)},
           {10, 16, RGB(0xA5, 0xA5, 0x97)},
           {59, 5, RGB(0xA5, 0xA5, 0x97)},
           {1, 5, RGB(0xC1, 0xC2, 0xB8)},
           {10, 0, RGB(0xC1, 0xC2, 0xB8)},
           {2, 5, RGB(0xD0, 0xD1, 0xC9)},
           {10, 1, RGB(0xD0, 0xD1, 0xC9)},
           {58, 5, RGB(0xDE, 0xDF, 0xD8)}});
    check(true, false, true,
          {{10, 5, RGB(0xFA, 0xF8, 0xF3)},
           {30, 15, RGB(0xF8, 0x9B, 0x3C)},
           {58, 5, RGB(0xFA, 0xF8, 0xF3)}});
}

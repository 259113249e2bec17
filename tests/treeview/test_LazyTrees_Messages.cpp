// The tree in its window: change notices of fonts, colours and image lists,
// the window's styles and border, the framework's messages and the item queries.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include "platform/EventLoop.h"
#include "platform/ScopeGuard.h"

#include "TreeProbe.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

using namespace nuq;

namespace {

struct MessagesFixture : ::testing::Test {
    std::unique_ptr<TTreeProbe> Tree;
    TComponent Owner;
    HWND Wnd = 0;
    void SetUp() override {
        SetMainThread();
        EnsureGuiToolkit();
        Tree = NewComponent<TTreeProbe>();
        Tree->SetBounds(0, 0, 300, 150);
        Tree->Color = clWhite;
        Tree->OnGetText = [](TBaseLazyTree&, PLazyNode, TColumnIndex, int, std::u16string& t) {
            t = u"W";
        };
        Tree->SetRootNodeCount(3);
        Wnd = Tree->Handle();
    }
    void TearDown() override { Tree.reset(); }
    TLTHeader& Header() { return Tree->Header(); }
    TLazyTreeColumn& AddColumn(int width, const std::u16string& text) {
        TLazyTreeColumn* c = Header().Columns().Add();
        c->SetWidth(width);
        c->SetText(text);
        return *c;
    }
    // Paints what is invalid now, and nothing else.
    void Settle() { UpdateWindow(Wnd); }
    // Hot tracking with a hand cursor, the pointer over the first node's label
    // (moved there, and the screen's pointer too); the label's rectangle.
    TRect HoverFirstLabel() {
        Tree->TreeOptions().SetPaintOptions(Tree->TreeOptions().PaintOptions() | toHotTrack);
        Tree->HotCursor = crHandPoint;
        const TRect label = Tree->GetDisplayRect(Tree->GetFirst(), NoColumn, true);
        const TPoint onLabel = Middle(label);
        Tree->Perform(WM_MOUSEMOVE, 0, MakeLParam(onLabel.X, onLabel.Y));
        TPoint screen = onLabel;
        MapWindowPoints(Wnd, 0, &screen, 1);
        SetCursorPos(screen);
        return label;
    }
    static TPoint Middle(const TRect& r) {
        return {(r.Left + r.Right) / 2, (r.Top + r.Bottom) / 2};
    }
    // Window image pixels (header and frame included).
    COLORREF Px(int x, int y) {
        HBITMAP img = GetWindowImage(Wnd);
        uint32_t p = img->Bits[size_t(y) * size_t(img->Width) + size_t(x)];
        return RGB((p >> 16) & 255, (p >> 8) & 255, p & 255);
    }
    int Count(TRect r, TColor c) {
        COLORREF rgb = ColorToRGB(c);
        int n = 0;
        for (int y = r.Top; y < r.Bottom; ++y)
            for (int x = r.Left; x < r.Right; ++x)
                if (Px(x, y) == rgb) ++n;
        return n;
    }
    TCustomImageList* Images(TColor first) {
        auto* list = new TCustomImageList(16, 16, &Owner);
        AddImage(*list, first);
        return list;
    }
    static void AddImage(TCustomImageList& list, TColor c) {
        TBitmap b(16, 16);
        b.Canvas().Brush.Color = c;
        b.Canvas().FillRect({0, 0, 16, 16});
        list.AddMasked(b, clFuchsia);
    }
};

} // namespace

TEST_F(MessagesFixture, AddingAnImageRepaintsWhatUsesTheList) {
    // Image 1 is asked for before the list has it; adding it must show it without another cause.
    enum Slot { TreeImages, StateImages, HeaderImages };
    for (Slot slot : {TreeImages, StateImages, HeaderImages}) {
        SCOPED_TRACE(int(slot));
        TearDown();
        SetUp();
        AddColumn(120, u"A");
        Header().SetOptions(Header().Options() | hoVisible | hoShowImages);
        TCustomImageList* list = Images(clGreen);
        Tree->OnGetImageIndex = [&](TBaseLazyTree&, PLazyNode, TLTImageKind kind, TColumnIndex,
                                    bool&, int& index) {
            if ((slot == StateImages) == (kind == ikState)) index = 1;
        };
        if (slot == TreeImages) Tree->SetImages(list);
        if (slot == StateImages) Tree->SetStateImages(list);
        if (slot == HeaderImages) {
            Header().SetImages(list);
            Header().Columns()[0].SetImageIndex(1);
        }
        Settle();
        TRect area = slot == HeaderImages ? TRect{0, 0, 120, 17} : TRect{0, 17, 120, 35};
        EXPECT_EQ(Count(area, clBlue), 0);
        AddImage(*list, clBlue);
        Settle();
        EXPECT_GT(Count(area, clBlue), 100);
        delete list; // the tree forgets it and its link
    }
}

TEST_F(MessagesFixture, HeaderAndColumnsFollowTheTreesLaterChanges) {
    // Column 0 follows the tree's colour and reading order; column 1 has its own.
    AddColumn(100, u"WWWW");
    AddColumn(100, u"WWWW").SetColor(clSilver);
    Header().SetOptions(Header().Options() | hoVisible);
    TLazyTreeColumn& own = Header().Columns()[1];
    own.SetOptions(own.Options() & ~coParentBidiMode);
    struct Case {
        bool parentFont;
        int headerRed;      // red caption pixels expected in the header: 1 some, 0 none
        TColor column0Fill; // the fill of column 0's rows after the change
    };
    for (const Case& c : {Case{true, 1, clYellow}, Case{false, 0, clYellow}}) {
        SCOPED_TRACE(c.parentFont);
        TFont black;
        Header().SetFont(black);
        Header().SetParentFont(c.parentFont);
        Tree->SetColor(clWhite);
        Tree->SetFont(black);
        Settle();
        TFont red;
        red.Color = clRed;
        Tree->SetFont(red);
        Settle();
        EXPECT_EQ(Count({0, 0, 200, 17}, clRed) > 0, c.headerRed == 1);
        Tree->SetColor(clYellow);
        Settle();
        EXPECT_GT(Count({60, 17, 100, 70}, c.column0Fill), 1000);
        EXPECT_EQ(Count({160, 17, 200, 70}, clYellow), 0);
        EXPECT_EQ(Header().Columns()[1].Color(), clSilver);
    }
    Tree->SetBiDiMode(bdRightToLeft);
    EXPECT_EQ(Header().Columns()[0].BiDiMode(), bdRightToLeft);
    EXPECT_EQ(Header().Columns()[1].BiDiMode(), bdLeftToRight);
}

// Fonts written field by field: the tree's repaints its buttons and the header
// that takes it; the header's own repaints the header.
TEST_F(MessagesFixture, FontsWrittenDirectlyRepaint) {
    AddColumn(100, u"WWWW");
    Header().SetOptions(Header().Options() | hoVisible);
    Header().SetParentFont(true);
    Tree->SetChildCount(Tree->GetFirst(), 1);
    const TRect header{0, 0, 100, 17}, button{5, 17, 14, 35};
    struct Case {
        const char* what;
        std::function<void()> write;
        TRect area;
        TColor colour;
    };
    const Case cases[] = {
        {"tree colour: the plus bars", [&] { Tree->Font.Color = clRed; }, button, clRed},
        {"tree colour: the header", [&] { Tree->Font.Color = clGreen; }, header, clGreen},
        {"header colour",
         [&] {
             Header().SetParentFont(false);
             Header().Font().Color = clBlue;
         },
         header, clBlue},
    };
    for (const Case& c : cases) {
        Settle();
        EXPECT_EQ(Count(c.area, c.colour), 0) << c.what;
        c.write();
        Settle();
        EXPECT_GT(Count(c.area, c.colour), 0) << c.what;
    }
}

TEST_F(MessagesFixture, SystemColourChangeReloadsTheCheckStrips) {
    ASSERT_TRUE(LightCheckImages);
    int count = LightCheckImages->Count();
    LightCheckImages->Clear();
    Tree->Perform(CM_SYSCOLORCHANGE, 0, 0);
    EXPECT_EQ(LightCheckImages->Count(), count);
    EXPECT_EQ(Tree->Perform(CM_DENYSUBCLASSING, 0, 0), 1);
}

// Growing the tree repaints it whole only with toFullRepaintOnResize;
// without, just the uncovered strip is painted and the rest keeps its pixels.
TEST_F(MessagesFixture, ResizeRepaintsWholeOnlyWithFullRepaintOnResize) {
    struct Case {
        bool full;
        int grow, growDown;
    };
    auto& o = Tree->TreeOptions();
    for (auto c : {Case{true, 40, 0}, Case{true, 0, 30}, Case{false, 40, 0}, Case{false, 0, 30}}) {
        SCOPED_TRACE(testing::Message() << c.full << " " << c.grow << "x" << c.growDown);
        o.SetMiscOptions(c.full ? o.MiscOptions() | toFullRepaintOnResize
                                : o.MiscOptions() & ~toFullRepaintOnResize);
        Tree->SetBounds(0, 0, 300, 150);
        Tree->Color = clYellow;
        Wnd = Tree->Handle();
        Settle();
        TRect before, after, update;
        GetClientRect(Wnd, before);
        Tree->SetBounds(0, 0, 300 + c.grow, 150 + c.growDown);
        GetClientRect(Wnd, after);
        ASSERT_TRUE(GetUpdateRect(Wnd, update, false));
        const TRect strip{c.grow ? before.Right : 0, c.growDown ? before.Bottom : 0, after.Right,
                          after.Bottom};
        EXPECT_EQ(update, c.full ? after : strip);
        Settle();
        const TPoint origin = ClientOrigin(Wnd);
        EXPECT_EQ(Px(origin.X + before.Right - 2, origin.Y + before.Bottom - 2),
                  ColorToRGB(clYellow));
    }
}

// A change of the system colours reaches the tree in its window as
// CM_SYSCOLORCHANGE, and its next paint uses the new window colour.
TEST_F(MessagesFixture, SystemColourChangeReachesTheWindowAndItsPaint) {
    ASSERT_TRUE(LightCheckImages);
    const int count = LightCheckImages->Count();
    Tree->Color = clWindow;
    Settle();
    const int window = COLOR_WINDOW;
    struct Restore {
        COLORREF Classic = GetSysColor(COLOR_WINDOW);
        ~Restore() {
            const int index = COLOR_WINDOW;
            SetSysColors(1, &index, &Classic);
        }
    } restore;
    const COLORREF cream = RGB(250, 240, 200);
    LightCheckImages->Clear();
    ASSERT_TRUE(SetSysColors(1, &window, &cream));
    EXPECT_EQ(LightCheckImages->Count(), count);
    Settle();
    const TPoint origin = ClientOrigin(Wnd);
    EXPECT_EQ(Px(origin.X + 290, origin.Y + 140), cream);
}

TEST_F(MessagesFixture, WindowStylesFollowBorderAndScrollBars) {
    struct Case {
        int borderStyle;
        bool ctl3D;
        TScrollStyle bars;
        bool clientEdge, border, hBar, vBar;
        int inset; // the border's depth on each side
    };
    for (const Case& c : {Case{1, true, ssVertical, true, false, false, true, 2},
                          Case{1, false, ssHorizontal, false, true, true, false, 1},
                          Case{0, true, ssBoth, false, false, true, true, 0},
                          Case{0, false, ssNone, false, false, false, false, 0}}) {
        SCOPED_TRACE(c.borderStyle * 100 + c.ctl3D * 10 + c.bars);
        Tree->ScrollBarOptions().SetAlwaysVisible(true);
        Tree->ScrollBarOptions().SetScrollBars(c.bars);
        Tree->SetBorderStyle(c.borderStyle);
        Tree->SetCtl3D(c.ctl3D);
        Tree->RecreateWnd();
        Wnd = Tree->Handle();
        const auto style = DWORD(GetWindowLongPtr(Wnd, GWL_STYLE));
        EXPECT_EQ(bool(GetWindowLongPtr(Wnd, GWL_EXSTYLE) & WS_EX_CLIENTEDGE), c.clientEdge);
        EXPECT_EQ(bool(style & WS_BORDER), c.border);
        EXPECT_EQ(bool(style & WS_HSCROLL), c.hBar);
        EXPECT_EQ(bool(style & WS_VSCROLL), c.vBar);
        EXPECT_EQ(style & (WS_CLIPCHILDREN | WS_CLIPSIBLINGS),
                  DWORD(WS_CLIPCHILDREN | WS_CLIPSIBLINGS));
        EXPECT_EQ(Tree->GetBorderDimensions(), (TPoint{-c.inset, -c.inset}));
        EXPECT_EQ(ClientOrigin(Wnd), (TPoint{c.inset, c.inset}));
    }
}

TEST_F(MessagesFixture, BevelsTakeTheirRoomAndDrawTheirEdges) {
    const unsigned all = beLeft | beTop | beRight | beBottom;
    struct Case {
        TBevelKind kind;
        TBevelCut inner, outer;
        unsigned edges;
        int width;
        bool ctl3D;
        TRect insets;       // left, top, right, bottom
        COLORREF outerLeft; // the window's leftmost pixel half-way down
    };
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW), light = GetSysColor(COLOR_3DLIGHT),
                   frame = GetSysColor(COLOR_WINDOWFRAME);
    for (const Case& c :
         {Case{bkTile, bvRaised, bvLowered, all, 2, true, {4, 4, 4, 4}, shadow},
          Case{bkTile, bvNone, bvRaised, beLeft | beTop, 1, true, {1, 1, 0, 0}, light},
          Case{bkTile, bvLowered, bvNone, all, 3, false, {3, 3, 3, 3}, frame},
          Case{bkNone, bvRaised, bvLowered, all, 2, true, {0, 0, 0, 0}, ColorToRGB(clWhite)}}) {
        SCOPED_TRACE(c.kind * 1000 + c.inner * 100 + c.outer * 10 + c.width);
        Tree->SetBorderStyle(0);
        Tree->BevelKind = c.kind;
        Tree->BevelInner = c.inner;
        Tree->BevelOuter = c.outer;
        Tree->BevelEdges = c.edges;
        Tree->BevelWidth = c.width;
        Tree->SetCtl3D(c.ctl3D);
        Tree->RecreateWnd();
        Wnd = Tree->Handle();
        RedrawWindow(Wnd, nullptr, RDW_FRAME | RDW_INVALIDATE | RDW_UPDATENOW);
        TRect client = Tree->ClientRect();
        EXPECT_EQ(ClientOrigin(Wnd), (TPoint{c.insets.Left, c.insets.Top}));
        EXPECT_EQ(client.Width(), 300 - c.insets.Left - c.insets.Right);
        EXPECT_EQ(client.Height(), 150 - c.insets.Top - c.insets.Bottom);
        EXPECT_EQ(Px(0, 100), c.outerLeft);
    }
}

TEST_F(MessagesFixture, RightButtonReleaseShowsTheTreesMenu) {
    TPopupMenu own(&Owner), asked(&Owner);
    own.Items.resize(1);
    asked.Items.resize(1);
    struct Case {
        bool popupMenu, onGet;
        TPopupMenu* shown;
    };
    for (const Case& c : {Case{true, true, &own}, Case{false, true, &asked},
                          Case{true, false, &own}, Case{false, false, nullptr}}) {
        SCOPED_TRACE(c.popupMenu * 10 + c.onGet);
        Tree->SetPopupMenu(c.popupMenu ? &own : nullptr);
        Tree->OnGetPopupMenu = nullptr;
        if (c.onGet)
            Tree->OnGetPopupMenu = [&](TBaseLazyTree&, PLazyNode, TColumnIndex, TPoint, bool&,
                                       TPopupMenu*& m) { m = &asked; };
        EXPECT_EQ(Tree->HasPopupMenu(Tree->GetFirst(), NoColumn, {5, 5}), c.shown != nullptr);
        Tree->Perform(WM_RBUTTONDOWN, MK_RBUTTON, MakeLParam(10, 5));
        Tree->Perform(WM_RBUTTONUP, 0, MakeLParam(10, 5));
        EXPECT_EQ(ShownPopupMenu(), c.shown);
        if (c.shown) {
            TPoint at{10, 5};
            MapWindowPoints(Wnd, 0, &at, 1);
            EXPECT_EQ(c.shown->PopupPoint(), at);
            EXPECT_EQ(c.shown->PopupComponent, Tree.get());
            c.shown->CloseUp(-1);
        }
        // Without toRightClickSelect the click selects nothing.
        EXPECT_EQ(Tree->SelectedCount(), 0);
    }
    Tree->SetPopupMenu(nullptr);
}

TEST_F(MessagesFixture, ItemQueriesAnswerForNodes) {
    PLazyNode a = Tree->GetFirst(), b = Tree->GetNext(a), c = Tree->GetNext(b);
    PLazyNode child = Tree->AddChild(b);
    Tree->SetExpanded(b, true);
    Tree->SetFocusedNode(child);
    Tree->SetSelected(b, true);
    Tree->SetDropTargetNode(c);
    Tree->OnGetImageIndex = [&](TBaseLazyTree&, PLazyNode n, TLTImageKind kind, TColumnIndex, bool&,
                                int& index) {
        if (n == b)
            index = kind == ikNormal ? 3 : kind == ikSelected ? 4 : kind == ikState ? 1 : -1;
    };
    auto next = [&](WPARAM code, PLazyNode n) {
        return reinterpret_cast<PLazyNode>(Tree->Perform(TVM_GETNEXTITEM, code, LPARAM(n)));
    };
    struct Case {
        WPARAM code;
        PLazyNode from, expected;
    };
    for (const Case& q :
         {Case{0, nullptr, a}, Case{1, a, b}, Case{2, b, a}, Case{3, child, b}, Case{3, a, nullptr},
          Case{4, b, child}, Case{5, nullptr, a}, Case{6, b, child}, Case{7, c, child},
          Case{8, nullptr, c}, Case{9, nullptr, child}, Case{10, nullptr, c}})
        EXPECT_EQ(next(q.code, q.from), q.expected) << q.code;

    char text[3] = "xx";
    TTVItem item;
    item.Mask =
        TVIF_HANDLE | TVIF_TEXT | TVIF_STATE | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_CHILDREN;
    item.Item = b;
    item.Text = text;
    item.TextMax = 2; // room for one character and the end
    ASSERT_EQ(Tree->Perform(TVM_GETITEM, 0, LPARAM(&item)), 1);
    EXPECT_EQ(std::string(text), "W");
    EXPECT_EQ(item.Children, 1);
    EXPECT_EQ(item.Image, 3);
    EXPECT_EQ(item.SelectedImage, 4);
    EXPECT_EQ(item.StateMask, 0xFF2Fu);
    EXPECT_EQ(item.State, UINT(TVIS_SELECTED | TVIS_EXPANDED | 2 << 12));
    item.Mask = TVIF_TEXT; // without the handle flag nothing is answered
    EXPECT_EQ(Tree->Perform(TVM_GETITEM, 0, LPARAM(&item)), 0);

    TRect r{};
    std::memcpy(static_cast<void*>(&r), &b, sizeof b);
    ASSERT_EQ(Tree->Perform(TVM_GETITEMRECT, 0, LPARAM(&r)), 1);
    EXPECT_EQ(r, Tree->GetDisplayRect(b, NoColumn, false));
    Tree->SetExpanded(b, false);
    std::memcpy(static_cast<void*>(&r), &child, sizeof child);
    EXPECT_EQ(Tree->Perform(TVM_GETITEMRECT, 0, LPARAM(&r)), 0); // a hidden node has none
}

TEST_F(MessagesFixture, PrintPaintsHeaderAndRowsIntoAContext) {
    AddColumn(300, u"WWWW");
    Header().SetOptions(Header().Options() | hoVisible);
    Tree->SetBorderStyle(0);
    Tree->RecreateWnd();
    Wnd = Tree->Handle();
    Tree->SetColor(clYellow);
    struct Case {
        UINT flags;
        bool header, rows;
    };
    for (const Case& c : {Case{PRF_NONCLIENT | PRF_CLIENT, true, true},
                          Case{PRF_CLIENT, false, true}, Case{PRF_NONCLIENT, true, false}}) {
        TBitmap target(300, 150);
        target.Canvas().Brush.Color = clFuchsia;
        target.Canvas().FillRect({0, 0, 300, 150});
        Tree->Perform(WM_PRINT, WPARAM(target.Canvas().Handle()), LPARAM(c.flags));
        auto px = [&](int x, int y) { return ColorToRGB(TColor(target.Canvas().Pixel(x, y))); };
        EXPECT_EQ(px(150, 8) == GetSysColor(COLOR_BTNFACE), c.header) << c.flags;
        EXPECT_EQ(px(150, 17 + 30) == ColorToRGB(clYellow), c.rows) << c.flags;
        EXPECT_NE(px(150, 8), ColorToRGB(clYellow)) << c.flags; // the rows start below the header
    }
}

// "Only if visible" leaves a hidden tree out of a print, the client part too.
TEST_F(MessagesFixture, PrintingOnlyIfVisibleSkipsAHiddenTree) {
    Tree->SetColor(clYellow);
    struct Case {
        UINT msg, flags;
        bool shown, painted;
    };
    for (const Case& c :
         {Case{WM_PRINTCLIENT, PRF_CHECKVISIBLE, false, false},
          Case{WM_PRINTCLIENT, PRF_CHECKVISIBLE, true, true}, Case{WM_PRINTCLIENT, 0, false, true},
          Case{WM_PRINT, PRF_CHECKVISIBLE | PRF_CLIENT, false, false},
          Case{WM_PRINT, PRF_CHECKVISIBLE | PRF_CLIENT, true, true}}) {
        ShowWindow(Wnd, c.shown ? SW_SHOW : SW_HIDE);
        ASSERT_EQ(IsWindowVisible(Wnd), c.shown);
        TBitmap target(300, 150);
        target.Canvas().Brush.Color = clFuchsia;
        target.Canvas().FillRect({0, 0, 300, 150});
        Tree->Perform(c.msg, WPARAM(target.Canvas().Handle()), LPARAM(c.flags));
        EXPECT_EQ(ColorToRGB(TColor(target.Canvas().Pixel(150, 100))) == ColorToRGB(clYellow),
                  c.painted)
            << c.msg << " " << c.flags << " " << c.shown;
    }
}

TEST_F(MessagesFixture, CursorsAreRealPictures) {
    for (const char* name :
         {"LT_HEADERSPLIT", "LT_VERTSPLIT", "LT_MOVEALL", "LT_MOVEEW", "LT_MOVENS", "LT_MOVEN",
          "LT_MOVES", "LT_MOVEE", "LT_MOVEW", "LT_MOVENE", "LT_MOVENW", "LT_MOVESE", "LT_MOVESW"}) {
        HCURSOR c = TreeCursor(name);
        ASSERT_TRUE(c) << name;
        ASSERT_EQ(c->Image.size(), 32u * 32u) << name;
        int shown = 0, dark = 0;
        for (uint32_t p : c->Image) {
            shown += (p >> 24) != 0;
            dark += (p >> 24) != 0 && (p & 0xFFFFFF) == 0;
        }
        EXPECT_GT(dark, 10) << name;    // a black shape ...
        EXPECT_GT(shown, dark) << name; // ... with a white rim
    }
    EXPECT_EQ(TreeCursor("LT_NOSUCH"), nullptr);
    for (int screenCursor : {crHeaderSplit, crVertSplit}) {
        HCURSOR c = Screen().Cursor(screenCursor);
        ASSERT_TRUE(c);
        EXPECT_GT(
            std::count_if(c->Image.begin(), c->Image.end(), [](uint32_t p) { return p >> 24; }), 10)
            << screenCursor;
    }

    // Over a hot node the tree shows its HotCursor.
    const TRect label = HoverFirstLabel();
    const TPoint onLabel = Middle(label);
    ASSERT_EQ(Tree->HotNode(), Tree->GetFirst());
    SetCursor(nullptr);
    EXPECT_EQ(Tree->Perform(WM_SETCURSOR, WPARAM(Wnd), MakeLParam(HTCLIENT, WM_MOUSEMOVE)), 1);
    EXPECT_EQ(GetCursor(), Screen().Cursor(crHandPoint));
    // The cursor is asked for before the move reaches the tree: it follows
    // the pointer's place, not the hot node of the move before.
    for (auto [at, cursor] : {std::pair{TPoint{label.Right + 40, onLabel.Y}, 0},
                              std::pair{onLabel, int(crHandPoint)}}) {
        TPoint screen = at;
        MapWindowPoints(Wnd, 0, &screen, 1);
        SetCursorPos(screen);
        Tree->Perform(WM_SETCURSOR, WPARAM(Wnd), MakeLParam(HTCLIENT, WM_MOUSEMOVE));
        EXPECT_EQ(GetCursor(), Screen().Cursor(cursor)) << at.X;
        Tree->Perform(WM_MOUSEMOVE, 0, MakeLParam(at.X, at.Y));
    }
}

// A cursor the program shows over all its windows wins over the tree's; else
// the hot node and the owner choose, also for a tree with its own cursor that
// the header hands back.
TEST_F(MessagesFixture, CursorFollowsTheScreensGlobalCursor) {
    HoverFirstLabel();
    ASSERT_EQ(Tree->HotNode(), Tree->GetFirst());
    TScopeExit restore([] { Screen().GlobalCursor = crDefault; });
    struct Case {
        const char* name;
        int global;
        TCursor own;
        bool headerHandsBack; // OnGetHeaderCursor makes it the default
        TCursor owner;        // OnGetCursor's choice (crDefault: none)
        int shown;
    };
    for (const Case& c : {
             Case{"hot node", crDefault, crDefault, false, crDefault, crHandPoint},
             Case{"global cursor", crHourGlass, crDefault, false, crDefault, crHourGlass},
             Case{"global over the owner", crHourGlass, crDefault, false, crHelp, crHourGlass},
             Case{"owner", crDefault, crDefault, false, crHelp, crHelp},
             Case{"own cursor, header claims it", crDefault, crIBeam, false, crDefault, crIBeam},
             Case{"own cursor handed back", crDefault, crIBeam, true, crDefault, crHandPoint},
             Case{"own cursor handed back, owner", crDefault, crIBeam, true, crHelp, crHelp},
         }) {
        Screen().GlobalCursor = c.global;
        Tree->Cursor = c.own;
        Tree->OnGetHeaderCursor = nullptr;
        if (c.headerHandsBack)
            Tree->OnGetHeaderCursor = [](TLTHeader&, TCursor& cursor) { cursor = crDefault; };
        Tree->OnGetCursor = nullptr;
        if (c.owner != crDefault)
            Tree->OnGetCursor = [&c](TBaseLazyTree&, TCursor& cursor) { cursor = c.owner; };
        SetCursor(nullptr);
        EXPECT_EQ(SendMessage(Wnd, WM_SETCURSOR, WPARAM(Wnd), MakeLParam(HTCLIENT, WM_MOUSEMOVE)),
                  1)
            << c.name;
        EXPECT_EQ(GetCursor(), Screen().Cursor(c.shown)) << c.name;
    }
}

// Scrolling: clamped offsets, the scroll event, scroll-bar messages with
// positions beyond 16 bits, bringing nodes into view and the size message.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include "TreeProbe.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

struct ScrollFixture : ::testing::Test {
    std::unique_ptr<TTreeProbe> Tree;
    std::vector<std::pair<int, int>> Scrolls;
    void SetUp() override {
        SetMainThread();
        EnsureGuiToolkit();
        Tree = NewComponent<TTreeProbe>();
        Tree->SetBounds(0, 0, 300, 200);
        Tree->Handle();
        Tree->OnScroll = [this](TBaseLazyTree&, int dx, int dy) { Scrolls.push_back({dx, dy}); };
    }
    void TearDown() override { Tree.reset(); }
    int ClientW() { return Tree->ClientRect().Width(); }
    int ClientH() { return Tree->ClientRect().Height(); }
    void AddColumns(std::initializer_list<int> widths) {
        for (int w : widths) Tree->Header().Columns().Add()->SetWidth(w);
    }
};

} // namespace

TEST_F(ScrollFixture, OffsetsClampToTheContent) {
    Tree->SetRootNodeCount(100); // 1800 pixels high
    AddColumns({300, 300, 300});
    Tree->UpdateScrollBars(false); // the bars take their room first
    struct Case {
        TPoint request, expected;
    };
    int minX = ClientW() - 900, minY = ClientH() - 1800;
    for (const Case& c :
         {Case{{50, 50}, {0, 0}}, Case{{-100, -300}, {-100, -300}},
          Case{{-100000, -100000}, {minX, minY}}, Case{{INT32_MIN, INT32_MIN}, {minX, minY}},
          Case{{INT32_MAX, -17}, {0, -17}}}) {
        Tree->DoSetOffsetXY({0, 0});
        Tree->DoSetOffsetXY(c.request);
        EXPECT_EQ(Tree->OffsetX(), c.expected.X) << c.request.X;
        EXPECT_EQ(Tree->OffsetY(), c.expected.Y) << c.request.Y;
    }
    // Content smaller than the client area cannot move.
    Tree->SetRootNodeCount(2);
    Tree->SetOffsetY(-50);
    EXPECT_EQ(Tree->OffsetY(), 0);
}

TEST_F(ScrollFixture, TheSameOffsetAgainIsNoScroll) {
    Tree->SetRootNodeCount(100);
    EXPECT_TRUE(Tree->DoSetOffsetXY({0, -40}));
    EXPECT_FALSE(Tree->DoSetOffsetXY({0, -40}));
    // Beyond the end clamps to an offset already held: no scroll either.
    EXPECT_TRUE(Tree->DoSetOffsetXY({0, -100000}));
    EXPECT_FALSE(Tree->DoSetOffsetXY({0, -200000}));
    ASSERT_EQ(Scrolls.size(), 2u);
    EXPECT_EQ(Scrolls[0], std::make_pair(0, -40));
    EXPECT_EQ(Scrolls[1], std::make_pair(0, ClientH() - 1800 + 40));
}

TEST_F(ScrollFixture, ScrollBarMessagesMoveTheOffsets) {
    Tree->SetRootNodeCount(100000); // 1,800,000 pixels: far beyond 16-bit positions
    Tree->UpdateScrollBars(false);
    HWND wnd = Tree->WindowHandle();
    struct Case {
        int code, expectedY;
    };
    int bottom = ClientH() - 1800000;
    Tree->SetOffsetY(-1000);
    for (const Case& c :
         {Case{SB_LINEDOWN, -1020}, Case{SB_LINEUP, -1000}, Case{SB_PAGEDOWN, -1000 - ClientH()},
          Case{SB_PAGEUP, -1000}, Case{SB_BOTTOM, bottom}, Case{SB_TOP, 0}}) {
        SendMessage(wnd, WM_VSCROLL, WPARAM(c.code), 0);
        EXPECT_EQ(Tree->OffsetY(), c.expectedY) << c.code;
    }
    // Thumb tracking reads the bar's track position, not the message's 16 bits.
    TScrollInfo info;
    info.Mask = SIF_TRACKPOS;
    info.TrackPos = 1234567;
    SetScrollInfo(wnd, SB_VERT, info, false);
    SendMessage(wnd, WM_VSCROLL, WPARAM(SB_THUMBTRACK | ((1234567 & 0xFFFF) << 16)), 0);
    EXPECT_EQ(Tree->OffsetY(), -1234567);
    EXPECT_TRUE(Tree->HasState(tsThumbTracking));
    SendMessage(wnd, WM_VSCROLL, WPARAM(SB_ENDSCROLL), 0);
    EXPECT_FALSE(Tree->HasState(tsThumbTracking));
    TScrollInfo after;
    GetScrollInfo(wnd, SB_VERT, after);
    EXPECT_EQ(after.Pos, 1234567);

    AddColumns({400, 400});
    SendMessage(wnd, WM_HSCROLL, WPARAM(SB_LINERIGHT), 0);
    EXPECT_EQ(Tree->OffsetX(), -20);
    SendMessage(wnd, WM_HSCROLL, WPARAM(SB_RIGHT), 0);
    EXPECT_EQ(Tree->OffsetX(), ClientW() - 800);
    EXPECT_EQ(Tree->EffectiveOffsetX(), 800 - ClientW());
    SendMessage(wnd, WM_HSCROLL, WPARAM(SB_LEFT), 0);
    EXPECT_EQ(Tree->OffsetX(), 0);
}

TEST_F(ScrollFixture, BottomSpaceChangesTheVerticalRangeAtOnce) {
    Tree->SetRootNodeCount(100); // 1800 pixels high
    Tree->UpdateScrollBars(false);
    HWND wnd = Tree->WindowHandle();
    for (int space : {100, 0}) {
        Tree->SetBottomSpace(uint32_t(space));
        TScrollInfo info;
        info.Mask = SIF_ALL;
        GetScrollInfo(wnd, SB_VERT, info);
        EXPECT_EQ(info.Max, 1800 + space - 1) << space;
        if (space) Tree->SetOffsetY(-100000); // at the bottom of the larger range
    }
    // Giving up the space at the bottom pulls the offset back into the content.
    EXPECT_EQ(Tree->OffsetY(), ClientH() - 1800);
}

TEST_F(ScrollFixture, ScrollIntoViewReachesTheLastOfAMillion) {
    Tree->SetRootNodeCount(1000000);
    PLazyNode last = Tree->GetLastVisible();
    ASSERT_TRUE(last);
    EXPECT_TRUE(Tree->ScrollIntoView(last, false));
    EXPECT_EQ(Tree->OffsetY(), ClientH() - 18000000);
    TRect r = Tree->GetDisplayRect(last, NoColumn, false);
    EXPECT_EQ(r.Bottom, ClientH());
    EXPECT_FALSE(Tree->ScrollIntoView(last, false)); // already there

    // Centred: the row's middle sits in the client's middle.
    PLazyNode middle = Tree->RootNode()->FirstChild;
    for (int i = 0; i < 500; ++i) middle = middle->NextSibling;
    EXPECT_TRUE(Tree->ScrollIntoView(middle, true));
    r = Tree->GetDisplayRect(middle, NoColumn, false);
    EXPECT_EQ(r.Top, (ClientH() - 18) / 2);

    // A node under collapsed parents: they open first.
    Tree->SetChildCount(Tree->RootNode()->FirstChild, 3);
    PLazyNode child = Tree->RootNode()->FirstChild->LastChild;
    EXPECT_TRUE(Tree->ScrollIntoView(child, false));
    EXPECT_TRUE(Tree->Expanded(Tree->RootNode()->FirstChild));
    EXPECT_EQ(Tree->GetDisplayRect(child, NoColumn, false).Top, 0); // it was above
    EXPECT_EQ(Tree->GetNodeTop(child), 3 * 18);
}

TEST_F(ScrollFixture, SizeMessagesRecalculateOnlyOnceTheWindowIsReady) {
    Tree->SetRootNodeCount(100);
    int resizes = 0;
    Tree->OnShowScrollbar = [&](TBaseLazyTree&, int, bool) { ++resizes; };
    HWND wnd = Tree->WindowHandle();
    // During creation the message is ignored.
    Tree->DoStateChange(TS(tsWindowCreating));
    SendMessage(wnd, WM_SIZE, 0, 0);
    EXPECT_EQ(resizes, 0);
    EXPECT_FALSE(GetWindowLongPtr(wnd, GWL_STYLE) & WS_VSCROLL);
    Tree->DoStateChange(0, TS(tsWindowCreating));
    SendMessage(wnd, WM_SIZE, 0, 0);
    EXPECT_TRUE(GetWindowLongPtr(wnd, GWL_STYLE) & WS_VSCROLL);
    // Shrunk to no height: nothing is recalculated (the bar stays).
    Tree->SetRootNodeCount(1);
    Tree->SetBounds(0, 0, 300, 0);
    SendMessage(wnd, WM_SIZE, 0, 0);
    EXPECT_TRUE(GetWindowLongPtr(wnd, GWL_STYLE) & WS_VSCROLL);
    Tree->OnShowScrollbar = nullptr;
}

TEST_F(ScrollFixture, ValidationStateMessageEntersOnlyValidating) {
    std::vector<std::pair<TLazyTreeStates, TLazyTreeStates>> changes;
    Tree->OnStateChange = [&](TBaseLazyTree&, TLazyTreeStates enter, TLazyTreeStates leave) {
        changes.push_back({enter, leave});
    };
    SendMessage(Tree->WindowHandle(), WM_CHANGESTATE, 4, 0);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].first, TS(tsValidating));
    EXPECT_EQ(changes[0].second, TLazyTreeStates(0));
    Tree->OnStateChange = nullptr;
}

// Moving the window's pixels and painting only the uncovered strip must give
// what a full paint at the new offsets gives.
TEST_F(ScrollFixture, ScrolledPixelsMatchAFullPaint) {
    Tree->SetRootNodeCount(200);
    Tree->SetChildCount(Tree->RootNode()->FirstChild->NextSibling, 3);
    Tree->SetExpanded(Tree->RootNode()->FirstChild->NextSibling, true);
    Tree->Color = clWhite;
    Tree->OnGetText = [](TBaseLazyTree&, PLazyNode n, TColumnIndex, int, std::u16string& t) {
        t = u"row " + Utf8ToUtf16(std::to_string(n->Index));
    };
    HWND wnd = Tree->WindowHandle();
    Tree->UpdateScrollBars(false);
    auto snapshot = [&] {
        HBITMAP img = GetWindowImage(wnd);
        return img->Bits;
    };
    for (int delta : {-20, -7, 25, -180, -400}) {
        InvalidateRect(wnd, nullptr, false);
        UpdateWindow(wnd);
        Tree->SetOffsetY(Tree->OffsetY() + delta);
        UpdateWindow(wnd);
        auto scrolled = snapshot();
        InvalidateRect(wnd, nullptr, false);
        UpdateWindow(wnd);
        EXPECT_TRUE(scrolled == snapshot()) << delta;
    }
    Tree->OnGetText = nullptr;
}

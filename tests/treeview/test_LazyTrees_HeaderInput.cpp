// Header mouse and keyboard handling as message sequences sent to the tree
// window: the split cursor, resizing by a column border, dragging a column,
// Escape, clicks and the popup menu.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

constexpr UINT WM_NCRBUTTONUP = 0x00A5;

// The tree sits at the screen's top-left without a border, so a header
// point (x, y) is the screen point (x, y) and the client point (x, y - 17).
struct HeaderInputFixture : ::testing::Test {
    std::unique_ptr<TLazyStringTree> Tree;
    HWND Wnd = 0;
    std::vector<std::string> Events;
    void SetUp() override {
        SetMainThread();
        EnsureGuiToolkit();
        Tree = NewComponent<TLazyStringTree>();
        Tree->SetBounds(0, 0, 400, 200);
        Tree->SetBorderStyle(0);
        Tree->Handle();
        Wnd = Tree->WindowHandle();
        Header().SetOptions(Header().Options() | hoVisible);
        for (int i = 0; i < 3; ++i) Columns().Add()->SetWidth(100);
        auto log = [this](std::string s) { Events.push_back(std::move(s)); };
        Tree->OnBeforeColumnWidthTracking = [log](TLTHeader&, TColumnIndex c, TShiftState) {
            log("before " + std::to_string(c));
        };
        Tree->OnAfterColumnWidthTracking = [log](TLTHeader&, TColumnIndex c) {
            log("after " + std::to_string(c));
        };
        Tree->OnColumnWidthTracking = [log](TLTHeader&, TColumnIndex c, TShiftState, TPoint&,
                                            TPoint p, bool&) {
            log("track " + std::to_string(c) + " " + std::to_string(p.X));
        };
        Tree->OnHeaderDragged = [log](TLTHeader&, TColumnIndex c, int old) {
            log("dragged " + std::to_string(c) + " from " + std::to_string(old));
        };
        Tree->OnHeaderDraggedOut = [log](TLTHeader&, TColumnIndex c, TPoint) {
            log("out " + std::to_string(c));
        };
        Tree->OnHeaderClick = [log](TLTHeader&, TLTHeaderHitInfo i) {
            log("click " + std::to_string(i.Column) + " " + std::to_string(i.HitPosition) + " " +
                std::to_string(i.Button));
        };
        SetCursor(nullptr);
    }
    void TearDown() override {
        ReleaseCapture();
        Tree.reset();
    }
    TLTHeader& Header() { return Tree->Header(); }
    TLazyTreeColumns& Columns() { return Tree->Header().Columns(); }
    LRESULT NonClient(UINT msg, int x, int y) { return SendMessage(Wnd, msg, 0, MakeLParam(x, y)); }
    LRESULT Client(UINT msg, int x, int y) {
        return SendMessage(Wnd, msg, MK_LBUTTON, MakeLParam(x, y - 17));
    }
    std::vector<int> Positions() {
        std::vector<int> v;
        for (int i = 0; i < Columns().Count(); ++i) v.push_back(int(Columns()[i].Position()));
        return v;
    }
    // Presses column 0 and moves far enough to start dragging it.
    void StartDrag() {
        NonClient(WM_NCLBUTTONDOWN, 50, 8);
        Client(WM_MOUSEMOVE, 80, 8);
        ASSERT_TRUE(Header().States() & hsDragging);
    }
};

using HeaderInput = HeaderInputFixture;

} // namespace

TEST_F(HeaderInput, SplitCursorOnlyJustRightOfAResizableBorder) {
    Columns()[2].SetOptions(Columns()[2].Options() & ~coResizable);
    struct Case {
        int x;
        bool split;
    };
    // Borders at 100, 200, 300 (the last column cannot be resized); zone X - 3 < x < X + 5.
    for (auto c : {Case{97, false}, Case{98, true}, Case{104, true}, Case{105, false},
                   Case{150, false}, Case{198, true}, Case{300, false}}) {
        SetCursor(nullptr);
        SetCursorPos({c.x, 8});
        LRESULT r = SendMessage(Wnd, WM_SETCURSOR, Wnd, 0);
        EXPECT_EQ(GetCursor() == Screen().Cursor(crHeaderSplit) && r == 1, c.split) << c.x;
    }
    EXPECT_EQ(Columns().TrackedIndex, NoColumn);
}

TEST_F(HeaderInput, ResizeDragTracksTheBorderAndReportsItsEnd) {
    EXPECT_EQ(NonClient(WM_NCLBUTTONDOWN, 101, 8), 0);
    EXPECT_EQ(GetCapture(), Wnd);
    EXPECT_TRUE(Header().States() & hsColumnWidthTrackPending);
    Client(WM_MOUSEMOVE, 120, 8); // the first move only makes the tracking active
    EXPECT_TRUE(Header().States() & hsColumnWidthTracking);
    EXPECT_EQ(Columns()[0].Width(), 100);
    Client(WM_MOUSEMOVE, 140, 8);
    EXPECT_EQ(Columns()[0].Width(), 140);
    EXPECT_EQ(Columns()[1].Left(), 140);
    Client(WM_MOUSEMOVE, 2, 8); // not below the minimum width
    EXPECT_EQ(Columns()[0].Width(), 10);
    Client(WM_LBUTTONUP, 2, 8);
    EXPECT_EQ(GetCapture(), 0u);
    EXPECT_EQ(Header().States() & ~hsNeedScaling, 0);
    EXPECT_EQ(Events,
              (std::vector<std::string>{"before 0", "track 0 140", "track 0 2", "after 0"}));
}

TEST_F(HeaderInput, PressAndReleaseOnABorderWithoutMovingChangesNothing) {
    NonClient(WM_NCLBUTTONDOWN, 200, 8);
    Client(WM_LBUTTONUP, 200, 8);
    EXPECT_EQ(Columns()[1].Width(), 100);
    EXPECT_EQ(Events, (std::vector<std::string>{"before 1"}));
    EXPECT_EQ(Columns().TrackedIndex, NoColumn);
}

TEST_F(HeaderInput, DragStartsOnlyBeyondTheSystemThreshold) {
    int threshold = GetSystemMetrics(SM_CXDRAG);
    NonClient(WM_NCLBUTTONDOWN, 50, 8);
    EXPECT_TRUE(Header().States() & hsDragPending);
    EXPECT_EQ(Columns().DownIndex, 0);
    Client(WM_MOUSEMOVE, 50 + threshold, 8);
    Client(WM_MOUSEMOVE, 50, 8 + threshold);
    EXPECT_FALSE(Header().States() & hsDragging);
    bool allow = false;
    Tree->OnHeaderDragging = [&](TLTHeader&, TColumnIndex, bool& allowed) { allowed = allow; };
    Client(WM_MOUSEMOVE, 51 + threshold, 8);
    EXPECT_FALSE(Header().States() & hsDragging); // the owner refused
    allow = true;
    Client(WM_MOUSEMOVE, 51 + threshold, 8);
    EXPECT_TRUE(Header().States() & hsDragging);
    EXPECT_EQ(Columns().DragIndex, 0);
    EXPECT_EQ(Columns().DownIndex, NoColumn);
}

TEST_F(HeaderInput, DroppedColumnsMoveAndDropsElsewhereAreReportedOut) {
    StartDrag();
    Client(WM_MOUSEMOVE, 260, 8); // right half of the third column
    EXPECT_EQ(Columns().DropTarget, 2);
    EXPECT_FALSE(Columns().DropOnLeft);
    Client(WM_LBUTTONUP, 260, 8);
    EXPECT_EQ(Positions(), (std::vector<int>{2, 0, 1}));
    EXPECT_EQ(Columns().DropTarget, NoColumn);
    EXPECT_EQ(GetCapture(), 0u);

    StartDrag(); // column 1 is at the left now
    EXPECT_EQ(Columns().DragIndex, 1);
    Client(WM_MOUSEMOVE, 210, 8); // left half of column 0, now at position 2
    EXPECT_TRUE(Columns().DropOnLeft);
    Client(WM_LBUTTONUP, 210, 8);
    EXPECT_EQ(Positions(), (std::vector<int>{2, 1, 0}));

    StartDrag();
    Client(WM_MOUSEMOVE, 150, 8);
    Client(WM_LBUTTONUP, 600, 8); // outside the window
    StartDrag();
    Client(WM_MOUSEMOVE, 40, 8); // over itself
    Client(WM_LBUTTONUP, 40, 8);
    EXPECT_EQ(Positions(), (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(Events,
              (std::vector<std::string>{"dragged 0 from 0", "dragged 1 from 0", "out 2", "out 2"}));
}

// Past the right end of the last column (the header runs on to 400) a
// dragged column is dropped after it.
TEST_F(HeaderInput, ColumnsDroppedPastTheLastOneGoLast) {
    StartDrag();
    Client(WM_MOUSEMOVE, 350, 8);
    EXPECT_EQ(Columns().DropTarget, 2);
    EXPECT_FALSE(Columns().DropOnLeft);
    Client(WM_LBUTTONUP, 350, 8);
    EXPECT_EQ(Positions(), (std::vector<int>{2, 0, 1}));
}

TEST_F(HeaderInput, EscapeEndsADragWithoutMovingTheColumn) {
    StartDrag();
    Client(WM_MOUSEMOVE, 260, 8);
    EXPECT_EQ(SendMessage(Wnd, WM_KEYDOWN, 0x1B, 0), 0);
    EXPECT_FALSE(Header().States() & (hsDragging | hsDragPending));
    EXPECT_EQ(Columns().DropTarget, NoColumn);
    EXPECT_EQ(GetCapture(), 0u);
    Client(WM_LBUTTONUP, 260, 8);
    EXPECT_EQ(Positions(), (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(Events.empty());

    // Escape while tracking a border ends the tracking with its end event.
    NonClient(WM_NCLBUTTONDOWN, 100, 8);
    Client(WM_MOUSEMOVE, 110, 8);
    SendMessage(Wnd, WM_KEYDOWN, 0x1B, 0);
    EXPECT_EQ(Events, (std::vector<std::string>{"before 0", "after 0"}));
    EXPECT_EQ(GetCapture(), 0u);
}

TEST_F(HeaderInput, ClickOnAColumn) {
    NonClient(WM_NCLBUTTONDOWN, 150, 8);
    Client(WM_LBUTTONUP, 150, 8);
    Header().SetOptions(Header().Options() & ~hoDrag); // no capture: the release comes in the frame
    NonClient(WM_NCLBUTTONDOWN, 250, 8);
    EXPECT_EQ(GetCapture(), 0u);
    NonClient(WM_NCLBUTTONUP, 250, 8);
    NonClient(WM_NCLBUTTONDOWN, 250, 8);
    NonClient(WM_NCLBUTTONUP, 50, 8); // released over another column
    EXPECT_EQ(Events, (std::vector<std::string>{"click 1 2 0", "click 2 2 0", "click -1 1 0"}));
    EXPECT_EQ(Columns().DownIndex, NoColumn);
}

// Non-client messages carry no key flags and client ones no Alt: the keys
// held now give the shift state of every header event.
TEST_F(HeaderInput, ShiftStateComesFromTheKeysHeldNow) {
    std::vector<TShiftState> seen;
    Tree->OnHeaderMouseDown = [&](TLTHeader&, TMouseButton, TShiftState s, int, int) {
        seen.push_back(s);
    };
    Tree->OnHeaderMouseUp = [&](TLTHeader&, TMouseButton, TShiftState s, int, int) {
        seen.push_back(s);
    };
    Tree->OnHeaderClick = [&](TLTHeader&, TLTHeaderHitInfo i) { seen.push_back(i.Shift); };
    struct Case {
        bool shift, ctrl, alt;
        TShiftState expected;
    };
    for (auto c : {Case{true, false, false, ssShift}, Case{false, true, true, ssCtrl | ssAlt},
                   Case{false, false, false, 0}}) {
        SetKeyState(VK_SHIFT, c.shift);
        SetKeyState(VK_CONTROL, c.ctrl);
        SetKeyState(VK_MENU, c.alt);
        seen.clear();
        NonClient(WM_NCLBUTTONDOWN, 150, 8); // down (captured for a drag), then up, click
        SendMessage(Wnd, WM_LBUTTONUP, MK_SHIFT | MK_CONTROL, MakeLParam(150, 8 - 17));
        EXPECT_EQ(seen, (std::vector<TShiftState>(3, c.expected))) << c.expected;
    }
}

// Right to left the columns sit shifted right of the free room; the dragged
// column's picture starts where the column shows and shows the cell as it is.
TEST_F(HeaderInput, DragPictureStartsAtTheShownColumnRightToLeft) {
    Tree->BiDiMode = bdRightToLeft;
    Columns()[2].SetWidth(50); // 250 wide in a 400 wide header: 150 free on the left
    const char16_t* captions[] = {u"Name", u"Level", u"Value"};
    for (int i = 0; i < 3; ++i) Columns()[i].SetText(captions[i]);
    Tree->Invalidate();
    ASSERT_EQ(Tree->RTLColumnShift(), 150);
    RedrawWindow(Wnd, nullptr, RDW_FRAME);
    const HBITMAP shown = GetWindowImage(Wnd);
    const std::vector<uint32_t> header(shown->Bits.begin(),
                                       shown->Bits.begin() + ptrdiff_t(shown->Width) * 17);
    const int stride = shown->Width;
    Header().DragImage().PrepareBias = 0; // the picture's colours as painted
    struct Case {
        TColumnIndex column;
        int left, width; // where it shows
    };
    for (const Case& c : {Case{0, 150, 100}, Case{1, 250, 100}, Case{2, 350, 50}}) {
        SCOPED_TRACE(c.column);
        NonClient(WM_NCLBUTTONDOWN, c.left + 20, 8);
        Client(WM_MOUSEMOVE, c.left + 40, 8);
        ASSERT_TRUE(Header().States() & hsDragging);
        EXPECT_EQ(Columns().DragIndex, c.column);
        EXPECT_EQ(Header().DragImage().PicturePosition.X, c.left);
        TBitmap* picture = Header().DragImage().Picture.get();
        ASSERT_TRUE(picture);
        ASSERT_EQ(picture->Width(), c.width);
        int differing = 0;
        for (int y = 0; y < 17; ++y)
            for (int x = 0; x < c.width; ++x)
                differing += (picture->Scanline(y)[x] & 0xFFFFFF) !=
                             (header[size_t(y * stride + c.left + x)] & 0xFFFFFF);
        EXPECT_EQ(differing, 0);
        SendMessage(Wnd, WM_KEYDOWN, 0x1B, 0); // the columns stay where they are
    }
}

// The owner hears the button go up over the header after a click, a border
// resize and a column drag alike, at the point in header coordinates.
TEST_F(HeaderInput, MouseUpFollowsEveryPressOfTheHeader) {
    std::vector<int> ups;
    Tree->OnHeaderMouseUp = [&](TLTHeader&, TMouseButton, TShiftState, int x, int y) {
        ups.push_back(x);
        EXPECT_EQ(y, 8);
    };
    struct Case {
        const char* name;
        int down, up; // X of the press in the frame and of the captured release
    };
    for (const Case& c :
         {Case{"column drag", 50, 260}, Case{"click", 150, 150}, Case{"border resize", 100, 130}}) {
        SCOPED_TRACE(c.name);
        ups.clear();
        NonClient(WM_NCLBUTTONDOWN, c.down, 8);
        Client(WM_MOUSEMOVE, (c.down + c.up) / 2, 8);
        Client(WM_MOUSEMOVE, c.up, 8);
        Client(WM_LBUTTONUP, c.up, 8);
        EXPECT_EQ(ups, std::vector<int>{c.up});
        EXPECT_EQ(Header().States(), 0);
    }
    EXPECT_EQ(Positions(), (std::vector<int>{2, 0, 1})); // the drag did move the column
}

TEST_F(HeaderInput, RightClickPopsUpTheHeaderMenu) {
    TPopupMenu menu;
    std::vector<TPoint> shown;
    menu.OnPopup = [&](TPopupMenu&, TPoint p) { shown.push_back(p); };
    std::vector<std::pair<TColumnIndex, TPoint>> asked;
    Tree->OnGetHeaderPopupMenu = [&](TLTHeader&, TColumnIndex c, TPoint p, TPopupMenu*& m) {
        asked.push_back({c, p});
        m = &menu;
    };
    EXPECT_EQ(NonClient(WM_NCRBUTTONUP, 150, 8), 0);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].first, 1);
    EXPECT_EQ(asked[0].second, (TPoint{150, 8}));
    EXPECT_EQ(shown, (std::vector<TPoint>{{150, 8}}));
    EXPECT_EQ(menu.PopupComponent, Tree.get());
    EXPECT_EQ(Events, (std::vector<std::string>{"click 1 2 1"}));
    // A menu of the header itself wins over the event.
    TPopupMenu own;
    Header().PopupMenu = &own;
    own.OnPopup = [&](TPopupMenu&, TPoint p) { shown.push_back(p); };
    NonClient(WM_NCRBUTTONUP, 20, 30); // below the header: no menu
    NonClient(WM_NCRBUTTONUP, 20, 5);
    EXPECT_EQ(asked.size(), 1u);
    EXPECT_EQ(shown.size(), 2u);
}

TEST_F(HeaderInput, HoverEndsWhenTheMouseLeavesTheHeader) {
    Header().SetOptions(Header().Options() | hoHotTrack);
    NonClient(WM_NCMOUSEMOVE, 150, 8);
    EXPECT_EQ(Columns().HoverIndex, 1);
    SetCursorPos({150, 8});
    SendMessage(Wnd, WM_TIMER, TLTHeader::HeaderTimer, 0);
    EXPECT_EQ(Columns().HoverIndex, 1);
    SetCursorPos({150, 60});
    SendMessage(Wnd, WM_TIMER, TLTHeader::HeaderTimer, 0);
    EXPECT_EQ(Columns().HoverIndex, NoColumn);
}

// The menu takes the pointer from the header: the caption it was over shows
// plain however the menu closes, as a fresh paint shows it.
TEST_F(HeaderInput, AMenuOverAHotCaptionLeavesItPlain) {
    Header().SetOptions(Header().Options() | hoHotTrack);
    Columns()[1].SetText(u"Level");
    // The header as shown: it repaints at once whenever it is invalidated.
    auto header = [this] {
        HBITMAP img = GetWindowImage(Wnd);
        return std::vector<uint32_t>(img->Bits.begin(), img->Bits.begin() + 17 * img->Width);
    };
    auto differing = [](const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
        size_t n = 0;
        for (size_t i = 0; i < a.size(); ++i) n += a[i] != b[i];
        return n;
    };
    RedrawWindow(Wnd, nullptr, RDW_FRAME);
    const std::vector<uint32_t> plain = header();
    TPopupMenu menu;
    menu.Items.resize(1);
    Header().PopupMenu = &menu;
    for (int chosen : {-1, 0}) {
        NonClient(WM_NCMOUSEMOVE, 150, 8);
        ASSERT_GT(differing(header(), plain), 0u) << "the caption under the pointer shows hot";
        NonClient(WM_NCRBUTTONUP, 150, 8);
        ASSERT_TRUE(menu.Showing());
        menu.CloseUp(chosen);
        EXPECT_EQ(differing(header(), plain), 0u) << "closed with " << chosen;
    }
}

TEST_F(HeaderInput, BottomEdgeDragResizesTheHeaderAndTheFrame) {
    Header().SetOptions(Header().Options() | hoHeightResize);
    int after = 0;
    Tree->OnAfterHeaderHeightTracking = [&](TLTHeader&) { ++after; };
    SetCursorPos({50, 17});
    EXPECT_EQ(SendMessage(Wnd, WM_SETCURSOR, Wnd, 0), 1);
    EXPECT_EQ(GetCursor(), Screen().Cursor(crVertSplit));
    NonClient(WM_NCLBUTTONDOWN, 50, 17);
    EXPECT_TRUE(Header().States() & hsHeightTrackPending);
    Client(WM_MOUSEMOVE, 50, 22);
    Client(WM_MOUSEMOVE, 50, 22); // five below the header's bottom
    EXPECT_EQ(Header().Height, 22);
    EXPECT_EQ(ClientOrigin(Wnd).Y, 22);
    EXPECT_EQ(Tree->HeaderRect().Bottom, 22);
    SendMessage(Wnd, WM_LBUTTONUP, 0, MakeLParam(50, 0));
    EXPECT_EQ(after, 1);
    EXPECT_EQ(GetCapture(), 0u);
    // A double click on the bottom edge puts the default height back.
    Header().SetOptions(Header().Options() | hoHeightDblClickResize);
    EXPECT_EQ(NonClient(0x00A3, 50, 22), 0);
    EXPECT_EQ(Header().Height, Header().DefaultHeight());
    EXPECT_EQ(ClientOrigin(Wnd).Y, 17);
}

namespace {

// A tree whose cells in column 0 are as wide as the node's index says.
class WideCellTree : public TLazyStringTree {
public:
    using TLazyStringTree::TLazyStringTree;
    int DoGetNodeWidth(PLazyNode node, TColumnIndex column, TCanvas*) override {
        return column == 0 ? 60 + 40 * int(node->Index) : 5;
    }
};

} // namespace

TEST(HeaderAutoFit, DoubleClickOnABorderFitsTheColumnToItsWidestCell) {
    SetMainThread();
    EnsureGuiToolkit();
    UseVirtualClock(TDateTime(46000.0));
    auto tree = NewComponent<WideCellTree>();
    tree->SetBounds(0, 0, 400, 200);
    tree->Handle();
    TLTHeader& h = tree->Header();
    h.SetOptions(h.Options() | hoVisible | hoDblClickResize);
    for (int i = 0; i < 2; ++i) h.Columns().Add()->SetWidth(50);
    tree->SetRootNodeCount(2);
    std::vector<TColumnIndex> fitted;
    tree->OnAfterAutoFitColumn = [&](TLTHeader&, TColumnIndex c) { fitted.push_back(c); };
    SendMessage(tree->WindowHandle(), 0x00A3 /* non-client left double click */, 0,
                MakeLParam(50, 8));
    EXPECT_EQ(fitted, (std::vector<TColumnIndex>{0}));
    int widest = h.Columns()[0].Width();
    EXPECT_GT(widest, 100); // the second node's cell, not the first
    tree->SetRootNodeCount(1);
    h.AutoFitColumns(false);
    EXPECT_EQ(widest - h.Columns()[0].Width(), 40);
    EXPECT_EQ(fitted.size(), 3u);
    UseRealClock();
}

// Fitting measures the rows one can scroll to (children of a collapsed node
// neither count nor cost), or with smart width the rows in view; the main
// column makes room for the indent and the check box.
TEST(HeaderAutoFit, MeasuresTheRowsShown) {
    SetMainThread();
    EnsureGuiToolkit();
    auto tree = NewComponent<WideCellTree>();
    tree->SetBounds(0, 0, 400, 200);
    tree->SetBorderStyle(0);
    tree->Handle();
    TLTHeader& h = tree->Header();
    h.SetOptions(h.Options() | hoVisible);
    h.Columns().Add()->SetWidth(50);
    auto& options = tree->TreeOptions();
    options.SetMiscOptions(options.MiscOptions() | toCheckSupport);
    tree->OnInitNode = [](TBaseLazyTree& t, PLazyNode parent, PLazyNode node,
                          TLazyNodeInitStates& states) {
        if (!parent || parent == t.RootNode())
            states |= ivsHasChildren;
        else
            node->CheckType = ctCheckBox;
    };
    tree->OnInitChildren = [](TBaseLazyTree&, PLazyNode, uint32_t& count) { count = 3; };
    tree->SetRootNodeCount(2);
    const int indent = int(tree->Indent()), margin = tree->Margin();
    const int check = tree->CheckImages->Width() + 2;
    struct Case {
        bool expanded, smart;
        int clientHeight, width;
    };
    for (auto c : {Case{false, false, 183, 100 + margin + indent},
                   Case{true, false, 183, 140 + margin + 2 * indent + check},
                   Case{true, true, 36, 60 + margin + 2 * indent + check}}) {
        tree->SetBounds(0, 0, 400, c.clientHeight + 17);
        tree->SetExpanded(tree->GetFirst(), c.expanded);
        h.AutoFitColumns(false, c.smart ? smaAllColumns : smaNoColumn);
        EXPECT_EQ(h.Columns()[0].Width(), c.width) << c.expanded << c.smart;
    }
}

// Columns may be as wide as an integer holds; dragging one that shows after a
// huge one paints only what shows.
TEST_F(HeaderInput, DraggingAColumnBehindAHugeOneStaysSmall) {
    Columns()[0].SetMaxWidth(2000000000);
    Columns()[0].SetWidth(1500000000);
    Tree->SetEffectiveOffsetX(1500000000 - 20);
    NonClient(WM_NCLBUTTONDOWN, 50, 8); // column 1, shown from 20 to 120
    EXPECT_EQ(Columns().DownIndex, 1);
    Client(WM_MOUSEMOVE, 80, 8);
    EXPECT_TRUE(Header().States() & hsDragging);
    EXPECT_EQ(Columns().DragIndex, 1);
    EXPECT_LE(Columns().HeaderBitmap().Width(), 400);
    Client(WM_LBUTTONUP, 80, 8);
}

TEST_F(HeaderInput, DropOnTheShownRightHalfOfAColumnRunningPastTheHeader) {
    Columns()[2].SetWidth(400); // 200 to 600 in a 400 wide header: 200 to 400 shows
    Columns()[2].SetText(u"");
    auto markPixels = [&] {
        RedrawWindow(Wnd, nullptr, RDW_FRAME);
        HBITMAP img = GetWindowImage(Wnd);
        int n = 0;
        for (int y = 2; y < 15; ++y)
            for (int x = 370; x < 397; ++x)
                if (uint32_t p = img->Bits[size_t(y) * size_t(img->Width) + size_t(x)];
                    RGB((p >> 16) & 255, (p >> 8) & 255, p & 255) != GetSysColor(COLOR_BTNFACE))
                    ++n;
        return n;
    };
    const int before = markPixels();
    StartDrag();
    Client(WM_MOUSEMOVE, 350, 8);
    EXPECT_EQ(Columns().DropTarget, 2);
    EXPECT_FALSE(Columns().DropOnLeft);
    EXPECT_GT(markPixels(), before); // the mark shows at the header's end
    Client(WM_LBUTTONUP, 350, 8);
    EXPECT_EQ(Positions(), (std::vector<int>{2, 0, 1}));
}

TEST_F(HeaderInput, LeavingForgetsTheHoverOnlyWhenTheMouseLeftTheHeader) {
    Header().SetOptions(Header().Options() | hoHotTrack);
    struct Case {
        UINT leave;
        TPoint cursor; // where the mouse went
        TColumnIndex hover;
    };
    for (const Case& c :
         {Case{WM_NCMOUSELEAVE, {150, 60}, NoColumn}, Case{WM_MOUSELEAVE, {150, 8}, 1},
          Case{WM_MOUSELEAVE, {900, 600}, NoColumn}, Case{WM_NCMOUSELEAVE, {150, 8}, 1}}) {
        NonClient(WM_NCMOUSEMOVE, 150, 8);
        ASSERT_EQ(Columns().HoverIndex, 1);
        SetCursorPos(c.cursor);
        SendMessage(Wnd, c.leave, 0, 0);
        EXPECT_EQ(Columns().HoverIndex, c.hover) << c.leave << " " << c.cursor.Y;
    }
    // A press on the header takes the focus first, as one on the rows does.
    SetFocus(0);
    NonClient(0x00A4, 150, 8); // the right button on the frame
    EXPECT_EQ(GetFocus(), Wnd);
}

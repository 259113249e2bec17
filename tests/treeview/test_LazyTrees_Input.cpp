// Hit testing, mouse and keyboard input, incremental search and caption
// editing, driven by the messages a user's actions send to the tree window.

#include "platform/gui/Ole.h"
#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>

using namespace nuq;

namespace {

// Captions from a table; a text width fixed per tree, so that positions are exact.
class InputTree : public TLazyStringTree {
public:
    using TLazyStringTree::TLazyStringTree;
    int TextWidth = 50;
    int DoGetNodeWidth(PLazyNode, TColumnIndex, TCanvas*) override { return TextWidth; }
};

struct InputFixture : ::testing::Test {
    std::unique_ptr<InputTree> Tree;
    HWND Wnd = 0;
    std::map<PLazyNode, std::u16string> Captions;
    std::vector<std::string> Log;
    void SetUp() override {
        SetMainThread();
        EnsureGuiToolkit();
        UseVirtualClock(TDateTime(46000.0));
        Tree = NewComponent<InputTree>();
        Tree->SetBounds(0, 0, 400, 200);
        Tree->Handle();
        Wnd = Tree->WindowHandle();
        // The button bitmaps come with the painting; the hit test needs only their size.
        if (Tree->PlusBM().Width() <= 1) Tree->PlusBM().SetSize(9, 9);
        Tree->OnGetText = [this](TBaseLazyTree&, PLazyNode n, TColumnIndex, int,
                                 std::u16string& s) {
            auto it = Captions.find(n);
            if (it != Captions.end()) s = it->second;
        };
        Tree->OnFocusChanged = [this](TBaseLazyTree&, PLazyNode n, TColumnIndex) {
            Log.push_back("focus " + Name(n));
        };
    }
    void TearDown() override {
        for (int vk : {VK_SHIFT, VK_CONTROL, VK_MENU}) SetKeyState(vk, false);
        ReleaseCapture();
        Tree.reset();
        UseRealClock();
    }
    // Top-level nodes with the given captions; each 18 pixels high.
    std::vector<PLazyNode> Nodes(std::initializer_list<const char16_t*> captions,
                                 PLazyNode parent = nullptr) {
        std::vector<PLazyNode> out;
        for (const char16_t* c : captions) {
            out.push_back(Tree->AddChild(parent));
            Captions[out.back()] = c;
        }
        return out;
    }
    std::string Name(PLazyNode n) {
        if (!n) return "none";
        auto it = Captions.find(n);
        return it == Captions.end() ? "?" : std::string(it->second.begin(), it->second.end());
    }
    THitPositions Hit(int x, int y) {
        THitInfo info;
        Tree->GetHitTestInfoAt(x, y, true, info);
        return info.HitPositions;
    }
    void Mouse(UINT msg, int x, int y, WPARAM keys = 0) {
        SendMessage(Wnd, msg, keys, MakeLParam(x, y));
    }
    void Click(int x, int y, WPARAM keys = 0) {
        Mouse(WM_LBUTTONDOWN, x, y, keys | MK_LBUTTON);
        Mouse(WM_LBUTTONUP, x, y, keys);
    }
    void Key(int vk, TShiftState shift = 0) {
        SetKeyState(VK_SHIFT, shift & ssShift);
        SetKeyState(VK_CONTROL, shift & ssCtrl);
        SendMessage(Wnd, WM_KEYDOWN, WPARAM(vk), 0);
        SendMessage(Wnd, WM_KEYUP, WPARAM(vk), 0);
        SetKeyState(VK_SHIFT, false);
        SetKeyState(VK_CONTROL, false);
    }
    void Type(const std::u16string& text) {
        for (char16_t c : text) {
            WPARAM vk = (c >= u'a' && c <= u'z') ? WPARAM(c - 32) : WPARAM(c);
            SendMessage(Wnd, WM_KEYDOWN, vk, 0);
            SendMessage(Wnd, WM_CHAR, WPARAM(c), 0);
            SendMessage(Wnd, WM_KEYUP, vk, 0);
        }
    }
    std::string Selection() {
        std::string s;
        for (PLazyNode n = Tree->GetFirst(); n; n = Tree->GetNext(n))
            if (Tree->Selected(n)) s += (s.empty() ? "" : " ") + Name(n);
        return s;
    }
    int ClientWidth() { return Tree->ClientRect().Width(); }
};

using HitTest = InputFixture;
using MouseInput = InputFixture;
using KeyInput = InputFixture;
using Search = InputFixture;
using CaptionEditing = InputFixture;

} // namespace

// --- hit testing -----------------------------------------------------------------------------

// Rows are 18 high; node "a" (row 0) has children, "b" (row 1) has a check box,
// "c" (row 2) has neither. Indent 18, margin 4, text 50 wide.
TEST_F(HitTest, PositionsAcrossARowLeftToRight) {
    auto n = Nodes({u"a", u"b", u"c"});
    Nodes({u"a1"}, n[0]);
    n[1]->CheckType = ctCheckBox;
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toCheckSupport);
    ASSERT_NE(Tree->CheckImages, nullptr);
    const int button = Tree->PlusBM().Width(), check = Tree->CheckImages->Width() + 2;
    const int w = ClientWidth();
    struct Case {
        int x, y;
        THitPositions expected;
        const char* what;
    };
    const Case cases[] = {
        {1, 5, hiOnItem | hiOnItemButton, "button level, left of the bitmap"},
        {18 - button, 5, hiOnItem | hiOnItemButton | hiOnItemButtonExact, "on the button bitmap"},
        {5, 41, hiOnItem | hiOnItemIndent, "indentation of a node without children"},
        {19, 23, hiOnItem | hiOnItemCheckbox, "the margin belongs to the check area"},
        {18 + 4 + check - 1, 23, hiOnItem | hiOnItemCheckbox, "last pixel of the check area"},
        {18 + 4 + check, 23, hiOnItem | hiOnItemLabel, "text right after the check box"},
        {19, 41, hiOnItem, "margin of a node without a check type"},
        {22, 41, hiOnItem | hiOnItemLabel, "first pixel of the text"},
        {71, 41, hiOnItem | hiOnItemLabel, "last pixel of the text"},
        {72, 41, hiOnItem | hiOnItemRight, "right of the text"},
        {100, 80, hiNowhere, "below the nodes, inside the window"},
        {-1, 5, hiToLeft, "left of the window"},
        {w + 1, 5, hiToRight, "right of the window"},
        {5, -1, hiAbove, "above"},
        {5, 1000, hiBelow, "below the window"},
    };
    for (const Case& c : cases) EXPECT_EQ(Hit(c.x, c.y), c.expected) << c.what;

    auto opts = Tree->TreeOptions().PaintOptions();
    Tree->TreeOptions().SetPaintOptions(opts & ~toShowButtons);
    EXPECT_EQ(Hit(15, 5), hiOnItem | hiOnItemIndent) << "no buttons shown";
    Tree->TreeOptions().SetPaintOptions(opts & ~toShowRoot);
    EXPECT_EQ(Hit(2, 5), hiOnItem) << "no root level: the margin starts at 0";
    Tree->TreeOptions().SetPaintOptions(opts);

    Tree->TextWidth = 1000;
    EXPECT_EQ(Hit(w - 2, 41), hiOnItem | hiOnItemLabel) << "text wider than the cell";
    Tree->TextWidth = 50;
    Tree->SetAlignment(taRightJustify);
    EXPECT_EQ(Hit(w - 51, 41), hiOnItem | hiOnItemLeft);
    EXPECT_EQ(Hit(w - 50, 41), hiOnItem | hiOnItemLabel);
    Tree->SetAlignment(taCenter);
    const int left = (22 + w - 50) / 2;
    EXPECT_EQ(Hit(left - 1, 41), hiOnItem | hiOnItemLeft);
    EXPECT_EQ(Hit(left, 41), hiOnItem | hiOnItemLabel);
    EXPECT_EQ(Hit(left + 50, 41), hiOnItem | hiOnItemRight);
}

TEST_F(HitTest, RightToLeftMirrorsTheRow) {
    auto n = Nodes({u"a", u"b"});
    Nodes({u"a1"}, n[0]);
    Tree->BiDiMode = bdRightToLeft;
    const int w = std::max(ClientWidth(), 0), button = Tree->PlusBM().Width();
    const int edge = w - 18, textRight = edge - 4;
    EXPECT_EQ(Hit(edge + button - 1, 5), hiOnItem | hiOnItemButton | hiOnItemButtonExact);
    EXPECT_EQ(Hit(w - 1, 5), hiOnItem | hiOnItemButton);
    EXPECT_EQ(Hit(w - 1, 23), hiOnItem | hiOnItemIndent);
    EXPECT_EQ(Hit(textRight + 1, 23), hiOnItem);
    EXPECT_EQ(Hit(textRight - 1, 23), hiOnItem | hiOnItemLabel);
    EXPECT_EQ(Hit(textRight - 50, 23), hiOnItem | hiOnItemLabel);
    EXPECT_EQ(Hit(textRight - 51, 23), hiOnItem | hiOnItemLeft);
}

TEST_F(HitTest, ColumnsReportModeAndSplitters) {
    auto n = Nodes({u"a", u"b"});
    TLTHeader& h = Tree->Header();
    for (int i = 0; i < 2; ++i) h.Columns().Add()->SetWidth(150);
    h.Columns()[1].SetOptions(h.Columns()[1].Options() | coFixed);
    THitInfo info;
    Tree->GetHitTestInfoAt(160, 23, true, info);
    EXPECT_EQ(info.HitColumn, 1);
    EXPECT_EQ(info.HitNode, n[1]);
    EXPECT_EQ(info.HitPositions, hiOnItem | hiOnItemLabel)
        << "a non-main column has no indentation";
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toReportMode);
    EXPECT_EQ(Hit(160, 23), hiOnItem);
    EXPECT_EQ(Hit(40, 23), hiOnItem | hiOnItemLabel) << "the main column still has its positions";
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toNodeHeightResize);
    EXPECT_EQ(Hit(160, 19), hiOnItem | hiUpperSplitter);
    EXPECT_EQ(Hit(160, 33), hiOnItem | hiLowerSplitter);
    EXPECT_EQ(Hit(160, 25), hiOnItem);
    EXPECT_EQ(Hit(320, 5), hiOnItem) << "beyond the last column";
}

// --- mouse -------------------------------------------------------------------------------------

// Labels span x 22..71 on top-level rows (rows 18 high).
TEST_F(MouseInput, ClicksCtrlAndShiftClicks) {
    auto n = Nodes({u"a", u"b", u"c", u"d"});
    Click(30, 5);
    EXPECT_EQ(Tree->FocusedNode(), n[0]);
    EXPECT_EQ(Selection(), "a");
    Click(30, 23);
    EXPECT_EQ(Selection(), "b") << "single selection moves";
    EXPECT_EQ(Log, (std::vector<std::string>{"focus a", "focus b"}));

    Tree->TreeOptions().SetSelectionOptions(toMultiSelect); // clears the selection
    Click(30, 23);
    Click(30, 59, MK_CONTROL);
    EXPECT_EQ(Selection(), "b d");
    Click(30, 23, MK_CONTROL);
    EXPECT_EQ(Selection(), "d") << "Ctrl toggles";
    Click(30, 5);
    Click(30, 41, MK_SHIFT);
    EXPECT_EQ(Selection(), "a b c") << "Shift: the range from the anchor";
    Click(30, 23, MK_SHIFT);
    EXPECT_EQ(Selection(), "a b");
    Click(100, 41);
    EXPECT_EQ(Selection(), "") << "a plain click right of the texts clears a multi-selection";
}

TEST_F(MouseInput, ClickOnASelectedNodeKeepsTheSelectionUntilTheButtonGoesUp) {
    auto n = Nodes({u"a", u"b", u"c"});
    Tree->TreeOptions().SetSelectionOptions(toMultiSelect);
    Tree->OnDragAllowed = [](TBaseLazyTree&, PLazyNode, TColumnIndex, bool& allowed) {
        allowed = true;
    };
    Click(30, 5);
    Click(30, 41, MK_SHIFT);
    ASSERT_EQ(Selection(), "a b c");
    Mouse(WM_LBUTTONDOWN, 30, 23, MK_LBUTTON);
    EXPECT_EQ(Selection(), "a b c") << "kept for a drag of the whole selection";
    EXPECT_EQ(Tree->FocusedNode(), n[1]);
    Mouse(WM_LBUTTONUP, 30, 23);
    EXPECT_EQ(Selection(), "b");
    // Moving away first drops the pending clear: the selection stays.
    Click(30, 5, MK_SHIFT);
    Mouse(WM_LBUTTONDOWN, 30, 5, MK_LBUTTON);
    // The move starts a drag, whose loop takes the release; dropped nowhere, it changes nothing.
    PostMessage(Wnd, WM_LBUTTONUP, 0, MakeLParam(30, 15));
    Mouse(WM_MOUSEMOVE, 30, 15, MK_LBUTTON);
    EXPECT_FALSE(Tree->Dragging());
    EXPECT_EQ(Selection(), "a b");
}

TEST_F(MouseInput, ButtonsToggleOnceAndNeverStartAnEdit) {
    auto n = Nodes({u"a", u"b"});
    Nodes({u"a1"}, n[0]);
    int expanded = 0, collapsed = 0;
    Tree->OnExpanded = [&](TBaseLazyTree&, PLazyNode) { ++expanded; };
    Tree->OnCollapsed = [&](TBaseLazyTree&, PLazyNode) { ++collapsed; };
    auto misc = Tree->TreeOptions().MiscOptions();
    Tree->TreeOptions().SetMiscOptions(misc | toEditable | toEditOnDblClick | toToggleOnDblClick);
    Click(12, 5);
    EXPECT_TRUE(Tree->Expanded(n[0]));
    EXPECT_EQ(Tree->FocusedNode(), nullptr) << "a button click does not focus";
    Mouse(WM_LBUTTONDBLCLK, 12, 5, MK_LBUTTON);
    Mouse(WM_LBUTTONUP, 12, 5);
    EXPECT_FALSE(Tree->Expanded(n[0]));
    EXPECT_EQ(expanded, 1);
    EXPECT_EQ(collapsed, 1);
    EXPECT_FALSE(Tree->HasState(tsEditPending));
    // A double click on the label toggles too (toToggleOnDblClick), and starts no edit.
    Click(30, 5);
    Mouse(WM_LBUTTONDBLCLK, 30, 5, MK_LBUTTON);
    Mouse(WM_LBUTTONUP, 30, 5);
    EXPECT_TRUE(Tree->Expanded(n[0]));
    EXPECT_FALSE(Tree->HasState(tsEditPending));
}

TEST_F(MouseInput, CheckBoxPressReleasedOnOrOffTheNode) {
    auto n = Nodes({u"a", u"b"});
    for (PLazyNode p : n) p->CheckType = ctCheckBox;
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toCheckSupport);
    int checked = 0;
    Tree->OnChecked = [&](TBaseLazyTree&, PLazyNode) { ++checked; };
    Mouse(WM_LBUTTONDOWN, 24, 5, MK_LBUTTON);
    EXPECT_EQ(n[0]->CheckState, csUncheckedPressed);
    Mouse(WM_LBUTTONUP, 24, 5);
    EXPECT_EQ(n[0]->CheckState, csCheckedNormal);
    EXPECT_EQ(checked, 1);
    Mouse(WM_LBUTTONDOWN, 24, 5, MK_LBUTTON);
    EXPECT_EQ(n[0]->CheckState, csCheckedPressed);
    Mouse(WM_LBUTTONUP, 24, 30); // released over the other node
    EXPECT_EQ(n[0]->CheckState, csCheckedNormal);
    EXPECT_EQ(n[1]->CheckState, csUncheckedNormal);
    EXPECT_EQ(checked, 1);
    n[1]->States |= vsDisabled;
    Mouse(WM_LBUTTONDOWN, 24, 23, MK_LBUTTON);
    EXPECT_EQ(n[1]->CheckState, csUncheckedNormal) << "a disabled node's box does not press";
    Mouse(WM_LBUTTONUP, 24, 23);
    EXPECT_EQ(n[1]->CheckState, csUncheckedNormal);
    EXPECT_EQ(checked, 1);
}

TEST_F(MouseInput, RubberBandSelectsAndShrinkingBackRestores) {
    Nodes({u"a", u"b", u"c", u"d"});
    Tree->TreeOptions().SetSelectionOptions(toMultiSelect);
    Mouse(WM_LBUTTONDOWN, 100, 5, MK_LBUTTON); // right of the text: starts a band
    EXPECT_TRUE(Tree->HasState(tsDrawSelPending));
    Mouse(WM_MOUSEMOVE, 30, 45, MK_LBUTTON);
    EXPECT_TRUE(Tree->HasState(tsDrawSelecting));
    EXPECT_EQ(Selection(), "a b c");
    // The band shows on the window while it is drawn: its edge right of the texts.
    auto darkAt = [&](int x) {
        UpdateWindow(Wnd);
        const TPoint o = ClientOrigin(Wnd);
        int dark = 0;
        for (int y = 10; y < 40; ++y) {
            const uint32_t p = GetWindowImage(Wnd)->Scanline(o.Y + y)[o.X + x];
            dark += (p & 255) + (p >> 8 & 255) + (p >> 16 & 255) < 384;
        }
        return dark;
    };
    EXPECT_GT(darkAt(99), 5);
    Mouse(WM_MOUSEMOVE, 30, 20, MK_LBUTTON);
    EXPECT_EQ(Selection(), "a b");
    Mouse(WM_MOUSEMOVE, 90, 45, MK_LBUTTON);
    EXPECT_EQ(Selection(), "") << "a band right of every text covers nothing";
    EXPECT_GT(darkAt(90), 5);
    Mouse(WM_MOUSEMOVE, 95, 45, MK_LBUTTON);
    EXPECT_EQ(darkAt(90), 0) << "the band's old edge is gone";
    EXPECT_GT(darkAt(95), 5);
    Mouse(WM_LBUTTONUP, 95, 45);
    EXPECT_FALSE(Tree->IsMouseSelecting());
    EXPECT_EQ(darkAt(95) + darkAt(99), 0) << "the band is gone with the button";

    // With Ctrl the band turns each node over; shrinking back turns it back.
    Click(30, 5);
    Click(30, 41, MK_CONTROL);
    ASSERT_EQ(Selection(), "a c");
    SetKeyState(VK_CONTROL, true);
    Mouse(WM_LBUTTONDOWN, 100, 5, MK_LBUTTON | MK_CONTROL);
    Mouse(WM_MOUSEMOVE, 30, 60, MK_LBUTTON | MK_CONTROL);
    EXPECT_EQ(Selection(), "b d");
    Mouse(WM_MOUSEMOVE, 30, 30, MK_LBUTTON | MK_CONTROL);
    EXPECT_EQ(Selection(), "b c");
    Mouse(WM_MOUSEMOVE, 30, 8, MK_LBUTTON | MK_CONTROL);
    EXPECT_EQ(Selection(), "c");
    Mouse(WM_MOUSEMOVE, 100, 8, MK_LBUTTON | MK_CONTROL);
    EXPECT_EQ(Selection(), "a c");
    Mouse(WM_LBUTTONUP, 100, 8, MK_CONTROL);
    SetKeyState(VK_CONTROL, false);
    EXPECT_EQ(Selection(), "a c");
}

TEST_F(MouseInput, HotNodeFollowsTheMouseOverLabels) {
    Nodes({u"a", u"b"});
    Tree->TreeOptions().SetPaintOptions(Tree->TreeOptions().PaintOptions() | toHotTrack);
    Tree->OnHotChange = [this](TBaseLazyTree&, PLazyNode from, PLazyNode to) {
        Log.push_back(Name(from) + ">" + Name(to));
    };
    for (auto p : {TPoint{30, 5}, TPoint{40, 6}, TPoint{30, 23}, TPoint{100, 23}, TPoint{30, 100}})
        Mouse(WM_MOUSEMOVE, p.X, p.Y);
    EXPECT_EQ(Log, (std::vector<std::string>{"none>a", "a>b", "b>none"}));
    EXPECT_EQ(Tree->HotNode(), nullptr);
    Mouse(WM_MOUSEMOVE, 30, 5);
    SendMessage(Wnd, WM_MOUSELEAVE, 0, 0);
    EXPECT_EQ(Log.back(), "a>none") << "leaving the window ends the hot node";
    EXPECT_EQ(Tree->HotNode(), nullptr);
    // A scroll moves "b" under the resting pointer: it becomes hot.
    for (int i = 0; i < 20; ++i) Nodes({u"c"});
    TPoint screen{30, 5};
    MapWindowPoints(Wnd, 0, &screen, 1);
    SetCursorPos(screen);
    Mouse(WM_MOUSEMOVE, 30, 5);
    Tree->SetOffsetY(-18);
    EXPECT_EQ(Log.back(), "a>b");
    EXPECT_EQ(Tree->HotNode(), Tree->GetNext(Tree->GetFirst()));
}

TEST_F(MouseInput, RightClickShowsTheTreesMenuWithoutSelecting) {
    auto n = Nodes({u"a", u"b"});
    TPopupMenu menu;
    std::vector<TPoint> shown;
    menu.OnPopup = [&](TPopupMenu&, TPoint p) { shown.push_back(p); };
    std::vector<std::string> asked;
    Tree->OnGetPopupMenu = [&](TBaseLazyTree&, PLazyNode node, TColumnIndex, TPoint p, bool&,
                               TPopupMenu*& m) {
        asked.push_back(Name(node) + " " + std::to_string(p.X) + "," + std::to_string(p.Y));
        m = &menu;
    };
    Mouse(WM_RBUTTONDOWN, 30, 23, MK_RBUTTON);
    Mouse(WM_RBUTTONUP, 30, 23);
    EXPECT_EQ(asked, (std::vector<std::string>{"b 30,23"}));
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(Selection(), "");
    EXPECT_TRUE(Tree->HasState(tsPopupMenuShown));
    SendMessage(Wnd, WM_CONTEXTMENU, 0, 0); // the tree already showed its menu
    Tree->TreeOptions().SetSelectionOptions(toRightClickSelect);
    Mouse(WM_RBUTTONDOWN, 30, 5, MK_RBUTTON);
    Mouse(WM_RBUTTONUP, 30, 5);
    EXPECT_EQ(Selection(), "a");
    EXPECT_EQ(Tree->FocusedNode(), n[0]);
}

// With the main column hidden a click focuses a column that shows, so that the
// clicked row shows selected: whether the row was selected before or not.
TEST_F(MouseInput, ClickWithTheMainColumnHiddenFocusesAShownColumn) {
    Nodes({u"a", u"b"});
    TLazyTreeColumns& columns = Tree->Header().Columns();
    for (int i = 0; i < 3; ++i) columns.Add()->SetWidth(100);
    Click(30, 5); // "a" in the main column
    ASSERT_EQ(Tree->FocusedColumn(), 0);
    columns[0].SetOptions(columns[0].Options() & ~coVisible); // "a" now starts at 0 in column 1
    struct Case {
        const char* name;
        int y;
        const char* selection;
    };
    for (const Case& c : {Case{"the selected row", 5, "a"}, Case{"another row", 23, "b"},
                          Case{"that row again", 23, "b"}}) {
        SCOPED_TRACE(c.name);
        Click(30, c.y);
        EXPECT_EQ(Selection(), c.selection);
        EXPECT_EQ(Tree->FocusedColumn(), 1);
    }
}

// A click beside the focused column of the focused, selected node changes the
// column even where the main column takes the focus back: the change is
// reported and no edit is armed. Only a click in the focused column arms one.
TEST_F(MouseInput, ClickInAnotherColumnIsAColumnChangeAndArmsNoEdit) {
    Nodes({u"a", u"b"});
    TLazyTreeColumns& columns = Tree->Header().Columns();
    for (int i = 0; i < 2; ++i) columns.Add()->SetWidth(100);
    ASSERT_TRUE(Hit(130, 5) & hiOnItemLabel);
    struct Case {
        const char* name;
        TLTSelectionOptions sel;
        int x;
        TColumnIndex column; // focused after the click
        bool reported, editArmed;
    };
    const Case cases[] = {
        {"another column, the main one takes it back", 0, 130, 0, true, false},
        {"another column with extended focus", toExtendedFocus, 130, 1, true, false},
        {"the focused column", 0, 30, 0, false, true},
        {"the focused column with extended focus", toExtendedFocus, 30, 0, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tree->TreeOptions().SetSelectionOptions(c.sel);
        Click(30, 5);
        ASSERT_EQ(Tree->FocusedColumn(), 0);
        ASSERT_EQ(Selection(), "a");
        Log.clear();
        Mouse(WM_LBUTTONDOWN, c.x, 5, MK_LBUTTON);
        EXPECT_EQ(Tree->HasState(tsEditPending), c.editArmed);
        Mouse(WM_LBUTTONUP, c.x, 5);
        EXPECT_EQ(Tree->FocusedColumn(), c.column);
        EXPECT_EQ(Log,
                  c.reported ? std::vector<std::string>{"focus a"} : std::vector<std::string>{});
    }
}

// A docking drag stops the auto-scroll that a click on a node finds running;
// an ordinary one leaves it to the button's release.
TEST_F(MouseInput, ClickStopsAutoScrollOnlyForADockingDrag) {
    for (int i = 0; i < 30; ++i) Nodes({u"x"});
    Tree->TreeOptions().SetSelectionOptions(toMultiSelect | toRightClickSelect);
    Tree->TreeOptions().SetAutoOptions(Tree->TreeOptions().AutoOptions() | toAutoScroll);
    const int h = Tree->ClientRect().Height();
    for (TDragKind kind : {dkDrag, dkDock}) {
        SCOPED_TRACE(kind == dkDock ? "dock" : "drag");
        Tree->DragKind = kind;
        Tree->SetOffsetY(0);
        // A rubber band held at the bottom edge has the scroll pending.
        Mouse(WM_LBUTTONDOWN, 100, 5, MK_LBUTTON);
        TPoint screen{30, h - 2};
        MapWindowPoints(Wnd, 0, &screen, 1);
        SetCursorPos(screen);
        for (int i = 0; i < 2; ++i) Mouse(WM_MOUSEMOVE, 30, h - 2, MK_LBUTTON);
        AdvanceClock(Tree->AutoScrollDelay);
        Mouse(WM_MOUSEMOVE, 30, h - 2, MK_LBUTTON);
        ASSERT_TRUE(Tree->HasState(tsScrollPending));
        // The right button goes down on a label meanwhile.
        Mouse(WM_RBUTTONDOWN, 30, 23, MK_LBUTTON | MK_RBUTTON);
        EXPECT_EQ(Tree->HasState(tsScrollPending), kind == dkDrag);
        AdvanceClock(Tree->AutoScrollDelay);
        ProcessMessages();
        EXPECT_EQ(Tree->HasState(tsScrolling), kind == dkDrag);
        EXPECT_EQ(Tree->OffsetY() < 0, kind == dkDrag) << "no tick scrolls after the stop";
        Mouse(WM_RBUTTONUP, 30, 23, MK_LBUTTON);
        Mouse(WM_LBUTTONUP, 30, h - 2);
    }
}

// --- keyboard
// -------------------------------------------------------------------------------------

TEST_F(KeyInput, ArrowsMoveFocusAndShiftRangesGoBackToTheAnchor) {
    auto n = Nodes({u"a", u"b", u"c", u"d"});
    Key(VK_DOWN);
    EXPECT_EQ(Tree->FocusedNode(), n[0]) << "the first key focuses the first node";
    Key(VK_DOWN);
    Key(VK_DOWN);
    EXPECT_EQ(Selection(), "c");
    Key(VK_UP);
    EXPECT_EQ(Selection(), "b");
    Key(VK_UP);
    Key(VK_UP);
    EXPECT_EQ(Tree->FocusedNode(), n[0]) << "the top stays";

    Tree->TreeOptions().SetSelectionOptions(toMultiSelect);
    Key(VK_DOWN); // anchor on b
    Key(VK_DOWN, ssShift);
    Key(VK_DOWN, ssShift);
    EXPECT_EQ(Selection(), "b c d");
    Key(VK_UP, ssShift);
    Key(VK_UP, ssShift);
    Key(VK_UP, ssShift);
    EXPECT_EQ(Selection(), "a b") << "past the anchor the range grows the other way";
    Key(VK_END, ssShift);
    EXPECT_EQ(Selection(), "b c d");
    Key(VK_HOME, ssShift);
    EXPECT_EQ(Selection(), "a b");
    Key(0x41, ssCtrl);
    EXPECT_EQ(Selection(), "a b c d");
    Key(VK_DOWN);
    EXPECT_EQ(Selection(), "b") << "a plain key clears";
}

TEST_F(KeyInput, PagesCountNodeHeightsAndCtrlScrollsOnly) {
    std::vector<PLazyNode> n;
    for (int i = 0; i < 30; ++i) n.push_back(Nodes({u"x"})[0]);
    Tree->SetNodeHeight(n[3], 100);
    const int h = Tree->ClientRect().Height();
    // The page ends at the last node whose height still leaves the client not full.
    auto pageFrom = [&](int from, int step) {
        int used = 0, i = from;
        while (i + step >= 0 && i + step < 30 &&
               h > used + int(Tree->GetNodeHeight(n[size_t(i)]))) {
            i += step;
            used += int(Tree->GetNodeHeight(n[size_t(i)]));
        }
        return i;
    };
    Key(VK_HOME);
    ASSERT_EQ(Tree->FocusedNode(), n[0]);
    Key(VK_NEXT);
    int expected = pageFrom(0, 1);
    EXPECT_EQ(Tree->FocusedNode(), n[size_t(expected)]);
    Key(VK_NEXT);
    EXPECT_EQ(Tree->FocusedNode(), n[size_t(pageFrom(expected, 1))]);
    int at = pageFrom(expected, 1);
    Key(VK_PRIOR);
    EXPECT_EQ(Tree->FocusedNode(), n[size_t(pageFrom(at, -1))]);

    Key(VK_HOME);
    Key(VK_END, ssCtrl);
    EXPECT_EQ(Tree->FocusedNode(), n[0]) << "Ctrl+End scrolls without moving the focus";
    EXPECT_EQ(Tree->OffsetY(), h - Tree->RangeY());
    Key(VK_HOME, ssCtrl);
    EXPECT_EQ(Tree->OffsetY(), 0);
    Key(VK_DOWN, ssCtrl);
    EXPECT_EQ(Tree->OffsetY(), -int(Tree->DefaultNodeHeight()));
    EXPECT_EQ(Tree->FocusedNode(), n[0]);
}

TEST_F(KeyInput, RightLeftAndBackspaceWalkTheLevels) {
    auto n = Nodes({u"a", u"b"});
    auto kids = Nodes({u"a1", u"a2"}, n[0]);
    Key(VK_HOME);
    Key(VK_RIGHT);
    EXPECT_TRUE(Tree->Expanded(n[0]));
    EXPECT_EQ(Tree->FocusedNode(), n[0]);
    Key(VK_RIGHT);
    EXPECT_EQ(Tree->FocusedNode(), kids[0]);
    Key(VK_DOWN);
    Key(VK_BACK);
    EXPECT_EQ(Tree->FocusedNode(), n[0]);
    Key(VK_LEFT);
    EXPECT_FALSE(Tree->Expanded(n[0]));
    Key(VK_LEFT);
    EXPECT_EQ(Tree->FocusedNode(), n[0]) << "a top-level node has no parent to go to";
    EXPECT_EQ(Selection(), "a");
}

TEST_F(KeyInput, SpaceChecksOnKeyUpAndAnotherKeyCancels) {
    auto n = Nodes({u"a", u"b"});
    for (PLazyNode p : n) p->CheckType = ctCheckBox;
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toCheckSupport);
    Key(VK_HOME);
    SendMessage(Wnd, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(n[0]->CheckState, csUncheckedPressed);
    SendMessage(Wnd, WM_KEYUP, VK_SPACE, 0);
    EXPECT_EQ(n[0]->CheckState, csCheckedNormal);
    SendMessage(Wnd, WM_KEYDOWN, VK_SPACE, 0);
    SendMessage(Wnd, WM_KEYDOWN, VK_DOWN, 0);
    SendMessage(Wnd, WM_KEYUP, VK_SPACE, 0);
    EXPECT_EQ(n[0]->CheckState, csCheckedNormal) << "the pressed box went back without a change";
    EXPECT_EQ(n[1]->CheckState, csUncheckedNormal);
    EXPECT_EQ(Tree->FocusedNode(), n[1]);
}

// The box the space bar pressed is the node it asked about, even when the
// question moved the focus: the press then lapses and no other node is checked.
TEST_F(KeyInput, ASpaceCheckStaysWithTheNodeItAskedAbout) {
    auto n = Nodes({u"a", u"b"});
    for (PLazyNode p : n) p->CheckType = ctCheckBox;
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toCheckSupport);
    Key(VK_HOME);
    Tree->OnChecking = [&](TBaseLazyTree& t, PLazyNode, TCheckState&, bool&) {
        t.SetFocusedNode(n[1]);
    };
    SendMessage(Wnd, WM_KEYDOWN, VK_SPACE, 0);
    EXPECT_EQ(n[0]->CheckState, csUncheckedPressed);
    EXPECT_EQ(n[1]->CheckState, csUncheckedNormal);
    SendMessage(Wnd, WM_KEYUP, VK_SPACE, 0);
    EXPECT_EQ(n[0]->CheckState, csUncheckedNormal);
    EXPECT_EQ(n[1]->CheckState, csUncheckedNormal);
}

TEST_F(KeyInput, AKeyCancelledByOnKeyDownDoesNothing) {
    auto n = Nodes({u"a", u"b"});
    Key(VK_HOME);
    Tree->OnKeyDown = [](TBaseLazyTree&, WORD& key, TShiftState) {
        if (key == VK_DOWN) key = 0;
    };
    Key(VK_DOWN);
    EXPECT_EQ(Tree->FocusedNode(), n[0]);
    Tree->OnKeyAction = [](TBaseLazyTree&, WORD& key, TShiftState&, bool& doDefault) {
        if (key == VK_END) doDefault = false;
    };
    Key(VK_END);
    EXPECT_EQ(Tree->FocusedNode(), n[0]);
    Tree->OnKeyAction = nullptr;
    Key(VK_END);
    EXPECT_EQ(Tree->FocusedNode(), n[1]);
}

// The key-up event gets the shift state the key-down event gets, Alt included.
TEST_F(KeyInput, KeyEventsCarryShiftCtrlAndAlt) {
    Nodes({u"a"});
    std::vector<TShiftState> downs, ups;
    Tree->OnKeyDown = [&](TBaseLazyTree&, WORD&, TShiftState s) { downs.push_back(s); };
    Tree->OnKeyUp = [&](TBaseLazyTree&, WORD&, TShiftState s) { ups.push_back(s); };
    for (TShiftState s : {TShiftState(0), TShiftState(ssShift), TShiftState(ssAlt),
                          TShiftState(ssCtrl | ssAlt), TShiftState(ssShift | ssCtrl | ssAlt)}) {
        downs.clear();
        ups.clear();
        SetKeyState(VK_SHIFT, s & ssShift);
        SetKeyState(VK_CONTROL, s & ssCtrl);
        SetKeyState(VK_MENU, s & ssAlt);
        SendMessage(Wnd, WM_KEYDOWN, VK_F1 + 4, 0);
        SendMessage(Wnd, WM_KEYUP, VK_F1 + 4, 0);
        EXPECT_EQ(downs, std::vector<TShiftState>{s}) << s;
        EXPECT_EQ(ups, std::vector<TShiftState>{s}) << s;
    }
}

// --- incremental search
// ----------------------------------------------------------------------------

TEST_F(Search, NothingFoundBeepsAndF1AsksTheNodesUpwardsForHelp) {
    auto n = Nodes({u"apple", u"banana"});
    Tree->SetIncrementalSearch(isAll);
    struct Typed {
        const char16_t* text;
        TLTSearchStart start;
        uint64_t beeps; // only a search that had a node to start from beeps
    };
    for (const Typed& t : {Typed{u"b", ssFocusedNode, 0}, Typed{u"z", ssFocusedNode, 1},
                           Typed{u"z", ssAlwaysStartOver, 0}}) {
        Tree->IncrementalSearchStart = t.start;
        uint64_t before = BeepCount();
        Type(t.text);
        EXPECT_EQ(BeepCount() - before, t.beeps) << Name(Tree->FocusedNode());
        AdvanceClock(Tree->IncrementalSearchTimeout);
        ProcessMessages();
    }

    PLazyNode child = Tree->AddChild(n[1]);
    Tree->SetFocusedNode(child);
    Tree->HelpContext = 7;
    std::vector<int> shown;
    Application().OnHelp = [&](int context) {
        shown.push_back(context);
        return true;
    };
    // Without a context of the nodes' or the tree's, the controls it lies within give one.
    auto form = NewComponent<TCustomControl>();
    form->HelpContext = 9;
    Tree->SetParent(form.get());
    Wnd = Tree->Handle(); // a new parent makes a new window
    struct Case {
        bool handler;
        int parentContext; // what the focused node's parent answers
        int treeContext;
        std::vector<int> shown;
    };
    for (const Case& c : {Case{true, 42, 7, {42}}, Case{true, 0, 7, {7}}, Case{true, 0, 0, {9}},
                          Case{false, 42, 7, {}}}) {
        shown.clear();
        Tree->HelpContext = c.treeContext;
        Tree->OnGetHelpContext = nullptr;
        if (c.handler)
            Tree->OnGetHelpContext = [&](TBaseLazyTree&, PLazyNode node, TColumnIndex, int& h) {
                if (node == n[1]) h = c.parentContext;
            };
        Key(VK_F1);
        EXPECT_EQ(shown, c.shown) << c.handler << "/" << c.parentContext << "/" << c.treeContext;
    }
    Application().OnHelp = nullptr;
    Tree->SetParent(nullptr);
    Wnd = Tree->Handle();
}

TEST_F(Search, OneLetterCyclesTwoLettersExtendAndTheTimeOutStartsAfresh) {
    auto n = Nodes({u"apple", u"banana", u"avocado", u"apricot", u"Яблоко"});
    Tree->SetIncrementalSearch(isAll);
    Type(u"a");
    EXPECT_EQ(Tree->FocusedNode(), n[0]);
    Type(u"a");
    EXPECT_EQ(Tree->FocusedNode(), n[2]) << "the same letter again: the next node with it";
    Type(u"a");
    EXPECT_EQ(Tree->FocusedNode(), n[3]);
    Type(u"a");
    EXPECT_EQ(Tree->FocusedNode(), n[0]) << "round the end to the beginning";
    EXPECT_EQ(Tree->SearchBuffer(), u"a");
    Type(u"v");
    EXPECT_EQ(Tree->FocusedNode(), n[2]) << "two letters: the text grows";
    EXPECT_EQ(Tree->SearchBuffer(), u"av");
    EXPECT_EQ(Selection(), "avocado");

    AdvanceClock(Tree->IncrementalSearchTimeout - 1);
    ProcessMessages();
    EXPECT_EQ(Tree->SearchBuffer(), u"av");
    SendMessage(Wnd, WM_KEYDOWN, VK_BACK, 0);
    SendMessage(Wnd, WM_CHAR, VK_BACK, 0);
    EXPECT_EQ(Tree->SearchBuffer(), u"a") << "Backspace takes the last letter back";
    AdvanceClock(Tree->IncrementalSearchTimeout - 1);
    ProcessMessages();
    EXPECT_TRUE(Tree->HasState(tsIncrementalSearching)) << "each key restarts the time-out";
    AdvanceClock(1);
    ProcessMessages();
    EXPECT_EQ(Tree->SearchBuffer(), u"");
    EXPECT_FALSE(Tree->HasState(tsIncrementalSearching));
    Type(u"b");
    EXPECT_EQ(Tree->FocusedNode(), n[1]);
    Type(u"я");
    EXPECT_EQ(Tree->FocusedNode(), n[1]) << "no node begins with \"bя\"";
    AdvanceClock(Tree->IncrementalSearchTimeout);
    ProcessMessages();
    Type(u"я");
    EXPECT_EQ(Tree->FocusedNode(), n[4]) << "Cyrillic letters match without case";
}

// Only the very same character repeats the letter; the letter in the other
// case is the next character of the search text.
TEST_F(Search, OnlyTheSameCharacterRepeatsTheLetter) {
    auto n = Nodes({u"apple", u"avocado", u"aardvark"});
    Tree->SetIncrementalSearch(isAll);
    struct Case {
        const char16_t* typed;
        int focused;
        const char16_t* buffer;
    };
    for (const Case& c : {Case{u"aa", 1, u"a"}, Case{u"aA", 2, u"aA"}, Case{u"Aa", 2, u"Aa"},
                          Case{u"AA", 1, u"A"}}) {
        SCOPED_TRACE(std::string(c.typed, c.typed + 2));
        Tree->SetFocusedNode(n[0]);
        Type(c.typed);
        EXPECT_EQ(Tree->FocusedNode(), n[c.focused]);
        EXPECT_EQ(Tree->SearchBuffer(), c.buffer);
        AdvanceClock(Tree->IncrementalSearchTimeout);
        ProcessMessages();
    }
}

TEST_F(Search, BackspaceWithAnEmptyBufferOnlyRestartsTheTimer) {
    auto n = Nodes({u"apple", u"banana"});
    Tree->SetIncrementalSearch(isAll);
    Key(VK_END);
    Tree->HandleIncrementalSearch(VK_BACK);
    EXPECT_EQ(Tree->FocusedNode(), n[1]);
    EXPECT_EQ(Tree->SearchBuffer(), u"");
    Tree->SetIncrementalSearch(isNone);
    Type(u"a");
    EXPECT_EQ(Tree->FocusedNode(), n[1]) << "no search when switched off";
}

// Control characters a key types are no search text: only Backspace's
// takes the last letter back (Ctrl+Backspace types DEL, Return CR).
TEST_F(Search, ControlCharactersOtherThanBackspaceLeaveTheSearchText) {
    auto n = Nodes({u"group 12", u"group 123", u"group 13"});
    Tree->SetIncrementalSearch(isAll);
    struct Step {
        int vk;
        TShiftState shift;
        char16_t typed;
        const char16_t* buffer; // after the step
    };
    const Step steps[] = {
        {VK_BACK, ssCtrl, 0x7F, u"group 12"}, {VK_F1 + 4, 0, 0, u"group 12"},
        {VK_RETURN, 0, 0x0D, u"group 12"},    {VK_ESCAPE, 0, 0x1B, u"group 12"},
        {'J', ssCtrl, 0x0A, u"group 12"},     {VK_BACK, 0, 0x08, u"group 1"},
        {'3', 0, u'3', u"group 13"},
    };
    Type(u"group 12");
    ASSERT_EQ(Tree->FocusedNode(), n[0]);
    for (const Step& step : steps) {
        SetKeyState(VK_CONTROL, step.shift & ssCtrl);
        SendMessage(Wnd, WM_KEYDOWN, WPARAM(step.vk), 0);
        if (step.typed) SendMessage(Wnd, WM_CHAR, WPARAM(step.typed), 0);
        SendMessage(Wnd, WM_KEYUP, WPARAM(step.vk), 0);
        SetKeyState(VK_CONTROL, false);
        EXPECT_EQ(Tree->SearchBuffer(), step.buffer) << std::hex << step.vk;
    }
    EXPECT_EQ(Tree->FocusedNode(), n[2]);
}

// --- editing
// ---------------------------------------------------------------------------------------

TEST_F(CaptionEditing, F2OrAClickEditsEnterCommitsEscapeCancels) {
    auto n = Nodes({u"a", u"b"});
    std::vector<std::string> texts;
    Tree->OnNewText = [&](TBaseLazyTree&, PLazyNode node, TColumnIndex, const std::u16string& t) {
        texts.push_back(Name(node) + "=" + std::string(t.begin(), t.end()));
        Captions[node] = t;
    };
    Key(VK_HOME);
    Key(VK_F2);
    EXPECT_FALSE(Tree->IsEditing()) << "not editable";
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toEditable);
    Key(VK_F2);
    ASSERT_TRUE(Tree->IsEditing());
    HWND editor = GetFocus();
    ASSERT_NE(editor, Wnd);
    for (char16_t c : std::u16string(u"xy")) SendMessage(editor, WM_CHAR, c, 0);
    SendMessage(editor, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_FALSE(Tree->IsEditing());
    EXPECT_EQ(texts, (std::vector<std::string>{"a=xy"})) << "typing replaces the text selected";
    EXPECT_EQ(GetFocus(), Wnd) << "the focus comes back to the tree";

    // A click on the focused, selected label edits after EditDelay.
    Click(30, 5);
    EXPECT_TRUE(Tree->HasState(tsEditPending));
    AdvanceClock(Tree->EditDelay);
    ProcessMessages();
    ASSERT_TRUE(Tree->IsEditing());
    editor = GetFocus();
    SendMessage(editor, WM_CHAR, u'z', 0);
    SendMessage(editor, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_FALSE(Tree->IsEditing());
    EXPECT_EQ(texts.size(), 1u) << "Escape keeps the old text";

    Tree->OnEditing = [](TBaseLazyTree&, PLazyNode, TColumnIndex, bool& allowed) {
        allowed = false;
    };
    Key(VK_F2);
    EXPECT_FALSE(Tree->IsEditing()) << "the owner refused";
}

// The editor is a one-line text box: caret keys, Shift selections, the
// clipboard keys, undo, the mouse; losing the focus ends the edit keeping the
// text. A key comes as the host sends it, with the character it types after it.
TEST_F(CaptionEditing, TheEditorEditsAsATextBoxDoes) {
    auto n = Nodes({u"alpha beta", u"b"});
    Tree->TextWidth = 150; // the box is wider than the text: nothing scrolled
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toEditable);
    std::u16string stored;
    Tree->OnNewText = [&](TBaseLazyTree&, PLazyNode, TColumnIndex, const std::u16string& t) {
        stored = t;
    };
    // Steps: a key with its shift state (and the character the desktop has it type),
    // typed text, a click (x; negative: the right edge), or an Alt key as the
    // system sends it (WM_SYSKEYDOWN).
    struct Step {
        int vk;
        TShiftState shift = 0;
        const char16_t* text = nullptr;
        UINT mouse = 0;
        int x = 0;
        char16_t ch = 0;
    };
    auto key = [](int vk, TShiftState shift = 0, char16_t ch = 0) {
        return Step{vk, shift, nullptr, 0, 0, ch};
    };
    auto type = [](const char16_t* t) { return Step{0, 0, t}; };
    auto mouse = [](UINT msg, int x) { return Step{0, 0, nullptr, msg, x}; };
    const char16_t* const empty = u"";
    struct Case {
        std::vector<Step> steps;
        const char16_t* text;
        const char16_t* clipboard = nullptr; // on the clipboard afterwards
        const char16_t* before = nullptr;    // put on the clipboard first (empty: nothing)
    };
    const std::vector<Case> cases = {
        {{type(u"x")}, u"x"},
        {{key(VK_END), type(u"!")}, u"alpha beta!"},
        {{key(VK_HOME), type(u"<")}, u"<alpha beta"},
        {{key(VK_END), key(VK_LEFT), key(VK_LEFT), key(VK_BACK)}, u"alpha bta"},
        {{key(VK_HOME), key(VK_DELETE)}, u"lpha beta"},
        {{key(VK_HOME), key(VK_RIGHT, ssShift), key(VK_RIGHT, ssShift), key(VK_RIGHT, ssShift),
          type(u"Z")},
         u"Zha beta"},
        {{key(VK_END), key(VK_LEFT, ssCtrl), key(VK_HOME, ssShift), key('C', ssCtrl)},
         u"alpha beta",
         u"alpha "},
        {{key('A', ssCtrl), key('X', ssCtrl), key('V', ssCtrl), key('V', ssCtrl)},
         u"alpha betaalpha beta",
         u"alpha beta"},
        {{key(VK_END), key(VK_LEFT, ssShift | ssCtrl), key(VK_DELETE, ssShift), key(VK_HOME),
          key(VK_INSERT, ssShift)},
         u"betaalpha ",
         u"beta"},
        {{mouse(WM_LBUTTONDOWN, 1), mouse(WM_LBUTTONUP, 1), type(u"<")}, u"<alpha beta"},
        {{mouse(WM_LBUTTONDBLCLK, -4), type(u"gamma")}, u"alpha gamma"},
        {{key(VK_END), mouse(WM_LBUTTONDOWN, 1), mouse(WM_MOUSEMOVE, -4), mouse(WM_LBUTTONUP, -4),
          type(u"q")},
         u"q"},
        // Keys that act bring control characters along: none of them is text.
        {{key(VK_HOME), key(VK_DELETE, 0, 0x7F)}, u"lpha beta"},
        {{key(VK_END), key(VK_LEFT, ssCtrl), key(VK_RIGHT, ssShift), key(VK_DELETE, ssShift, 0x7F)},
         u"alpha eta",
         u"b"},
        {{key(VK_END), key(VK_BACK, 0, 0x08), key(VK_BACK, ssCtrl, 0x7F), key(VK_TAB, 0, 0x09),
          key('B', ssCtrl, 0x02), type(u"\x01\x1b\x7f")},
         u"alpha "},
        // Alt with a letter is a menu key; Ctrl+Alt (AltGr) types.
        {{key(VK_END), key('F', ssAlt, u'f'), key('E', ssCtrl | ssAlt, u'€')}, u"alpha beta€"},
        // Pasting nothing leaves the text and its selection.
        {{key('V', ssCtrl), key(VK_INSERT, ssShift)}, u"alpha beta", nullptr, empty},
        {{key('V', ssCtrl)}, u"alpha beta", nullptr, u"\r\nsecond line"},
        // Undo takes back the last change, typing or erasing runs as one; again redoes it.
        {{type(u"xyz"), key('Z', ssCtrl)}, u"alpha beta"},
        {{type(u"xyz"), key('Z', ssCtrl), type(u"!")}, u"!"},
        {{type(u"xyz"), key('Z', ssCtrl), key('Z', ssCtrl), type(u"!")}, u"xyz!"},
        {{key(VK_END), type(u"ab"), key(VK_LEFT), type(u"c"), key('Z', ssCtrl)}, u"alpha betaab"},
        {{key(VK_END), type(u"!"), key(VK_BACK), key(VK_BACK), key(VK_BACK, ssAlt)},
         u"alpha beta!"},
        {{type(u"x"), Step{VK_BACK, ssAlt, nullptr, WM_SYSKEYDOWN}}, u"alpha beta"},
        {{key(VK_HOME), key(VK_DELETE), key(VK_DELETE), key('Z', ssCtrl)}, u"alpha beta"},
        {{key('A', ssCtrl), key('X', ssCtrl), key('Z', ssCtrl), key(VK_END), type(u"?")},
         u"alpha beta?"},
        // A Backspace that erases nothing is no change to undo.
        {{key(VK_END), type(u"!"), key(VK_HOME), key(VK_BACK), key('Z', ssCtrl)}, u"alpha beta"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        Captions[n[0]] = u"alpha beta";
        stored = u"(none)";
        if (c.before == empty)
            OleSetClipboard(nullptr);
        else if (c.before)
            SetClipboardText(c.before);
        Tree->SetFocusedNode(n[0]);
        Key(VK_F2);
        ASSERT_TRUE(Tree->IsEditing());
        HWND editor = GetFocus();
        TRect box;
        GetClientRect(editor, box);
        for (const Step& step : c.steps) {
            if (step.text) {
                for (const char16_t* t = step.text; *t; ++t) SendMessage(editor, WM_CHAR, *t, 0);
            } else if (step.mouse == WM_SYSKEYDOWN) {
                SendMessage(editor, WM_SYSKEYDOWN, WPARAM(step.vk), 0);
            } else if (step.mouse) {
                const int x = step.x < 0 ? box.Width() + step.x : step.x;
                WPARAM buttons = step.mouse == WM_LBUTTONUP ? WPARAM(0) : WPARAM(MK_LBUTTON);
                SendMessage(editor, step.mouse, buttons, MakeLParam(x, 5));
            } else {
                SetKeyState(VK_SHIFT, step.shift & ssShift);
                SetKeyState(VK_CONTROL, step.shift & ssCtrl);
                SetKeyState(VK_MENU, step.shift & ssAlt);
                DeliverKey(editor, WM_KEYDOWN, WPARAM(step.vk), step.ch);
                DeliverKey(editor, WM_KEYUP, WPARAM(step.vk), 0);
                for (int vk : {VK_SHIFT, VK_CONTROL, VK_MENU}) SetKeyState(vk, false);
            }
        }
        SendMessage(editor, WM_KEYDOWN, VK_RETURN, 0);
        const std::u16string expected = c.text;
        EXPECT_EQ(expected == u"alpha beta" ? u"(none)" : expected, stored) << "case " << i;
        if (c.clipboard) {
            EXPECT_EQ(GetClipboardText(), c.clipboard) << "case " << i;
        }
    }

    // The I-beam over the box; the box grows with its text up to the tree's edge, also in a
    // column that does not end there; the focus going elsewhere ends the edit with the text typed.
    Tree->Header().Columns().Add()->SetWidth(300);
    Tree->SetFocusedNode(n[0]);
    Key(VK_F2);
    HWND editor = GetFocus();
    SendMessage(editor, WM_SETCURSOR, editor, MakeLParam(HTCLIENT, WM_MOUSEMOVE));
    EXPECT_EQ(GetCursor(), LoadCursor(IDC_IBEAM));
    TRect before, after;
    GetWindowRect(editor, before);
    for (int i = 0; i < 200; ++i) SendMessage(editor, WM_CHAR, u'w', 0);
    GetWindowRect(editor, after);
    EXPECT_GT(after.Width(), before.Width());
    TRect client = Tree->ClientRect();
    MapWindowPoints(Wnd, 0, reinterpret_cast<TPoint*>(&client), 2);
    EXPECT_LE(after.Right, client.Right);
    Tree->UpdateEditBounds(); // the cell laid out again (a scroll): the box keeps its width
    GetWindowRect(editor, before);
    EXPECT_EQ(before.Width(), after.Width());
    Tree->SetBounds(0, 0, 250, 200); // the tree narrowed: the box keeps within it
    GetWindowRect(editor, after);
    client = Tree->ClientRect();
    MapWindowPoints(Wnd, 0, reinterpret_cast<TPoint*>(&client), 2);
    EXPECT_LE(after.Right, client.Right);
    SetFocus(0);
    EXPECT_FALSE(Tree->IsEditing());
    EXPECT_EQ(stored, std::u16string(200, u'w'));
}

// The control characters keys type (Backspace, Tab, Escape, Ctrl+letters,
// Ctrl+Backspace's DEL) are keys the editor took as keys, not text.
TEST_F(CaptionEditing, ControlCharactersAreNotText) {
    auto n = Nodes({u"item 1.3"});
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toEditable);
    std::u16string stored = u"(none)";
    Tree->OnNewText = [&](TBaseLazyTree&, PLazyNode, TColumnIndex, const std::u16string& t) {
        stored = t;
    };
    Key(VK_HOME);
    Key(VK_F2);
    ASSERT_TRUE(Tree->IsEditing());
    HWND editor = GetFocus();
    SendMessage(editor, WM_KEYDOWN, VK_END, 0);
    for (char16_t c : {0x01, 0x08, 0x09, 0x0A, 0x0D, 0x1B, 0x1F, 0x7F, 0x20})
        SendMessage(editor, WM_CHAR, WPARAM(c), 0);
    SendMessage(editor, WM_KEYDOWN, VK_RETURN, 0);
    EXPECT_EQ(stored, u"item 1.3 ");
}

// --- auto-scroll, wheel and panning ------------------------------------------------------------

using AutoScroll = InputFixture;

TEST_F(AutoScroll, StartsOnlyAfterTheDelayNearAnEdgeAndStopsAtTheEnd) {
    std::vector<PLazyNode> n;
    for (int i = 0; i < 30; ++i) n.push_back(Nodes({u"x"})[0]);
    Tree->TreeOptions().SetSelectionOptions(toMultiSelect);
    Tree->TreeOptions().SetAutoOptions(Tree->TreeOptions().AutoOptions() | toAutoScroll);
    const int h = Tree->ClientRect().Height(), edge = int(Tree->DefaultNodeHeight());
    auto moveTo = [&](int x, int y) {
        TPoint screen{x, y};
        MapWindowPoints(Wnd, 0, &screen, 1);
        SetCursorPos(screen);
        Mouse(WM_MOUSEMOVE, x, y, MK_LBUTTON);
    };
    Mouse(WM_LBUTTONDOWN, 100, 5, MK_LBUTTON);
    moveTo(30, h - edge); // not closer than the edge distance
    ASSERT_TRUE(Tree->HasState(tsDrawSelecting));
    AdvanceClock(Tree->AutoScrollDelay);
    moveTo(30, h - edge);
    EXPECT_EQ(Tree->ScrollDirections(), 0);
    moveTo(30, h - edge + 1);
    EXPECT_EQ(Tree->ScrollDirections(), 0) << "the delay starts now";
    AdvanceClock(Tree->AutoScrollDelay - 1);
    moveTo(30, h - 2);
    EXPECT_EQ(Tree->ScrollDirections(), 0);
    EXPECT_FALSE(Tree->HasState(tsScrollPending));
    AdvanceClock(1);
    moveTo(30, h - 2);
    EXPECT_EQ(Tree->ScrollDirections(), sdDown);
    EXPECT_TRUE(Tree->HasState(tsScrollPending));
    AdvanceClock(Tree->AutoScrollDelay - 1);
    ProcessMessages();
    EXPECT_EQ(Tree->OffsetY(), 0);
    AdvanceClock(1);
    ProcessMessages();
    EXPECT_TRUE(Tree->HasState(tsScrolling));
    EXPECT_EQ(Tree->OffsetY(), -20) << "one vertical increment per tick";
    for (int i = 0; i < 100 && Tree->HasState(tsScrolling); ++i) {
        AdvanceClock(Tree->AutoScrollInterval);
        ProcessMessages();
    }
    EXPECT_FALSE(Tree->HasState(tsScrolling)) << "stops by itself at the end";
    EXPECT_EQ(Tree->OffsetY(), h - Tree->RangeY());
    EXPECT_TRUE(Tree->Selected(n.back())) << "the band followed the scrolling";
    Mouse(WM_LBUTTONUP, 30, h - 2);
}

TEST_F(AutoScroll, WheelScrollsLinesPagesOrSideways) {
    for (int i = 0; i < 60; ++i) Nodes({u"x"});
    TLTHeader& hd = Tree->Header();
    for (int i = 0; i < 2; ++i) hd.Columns().Add()->SetWidth(500);
    const int h = Tree->ClientRect().Height();
    auto wheel = [&](int delta, WPARAM keys) {
        SendMessage(Wnd, WM_MOUSEWHEEL, keys | (WPARAM(uint16_t(int16_t(delta))) << 16),
                    MakeLParam(10, 10));
    };
    wheel(-120, 0);
    EXPECT_EQ(Tree->OffsetY(), -3 * int(Tree->DefaultNodeHeight()));
    wheel(60, 0);
    EXPECT_EQ(Tree->OffsetY(), -3 * int(Tree->DefaultNodeHeight()) + 27) << "half a notch";
    Tree->SetOffsetY(0);
    wheel(-120, MK_CONTROL);
    EXPECT_EQ(Tree->OffsetY(), -h);
    wheel(-120, MK_SHIFT);
    EXPECT_EQ(Tree->OffsetX(), std::max(-3 * 500, Tree->ClientRect().Width() - 1000));
    EXPECT_EQ(Tree->OffsetY(), -h);
    // The desktop's lines a notch; its page setting scrolls a page, sideways too.
    for (unsigned lines : {5u, WHEEL_PAGESCROLL}) {
        SetWheelScrollLines(lines);
        Tree->SetOffsetY(0);
        Tree->SetOffsetX(0);
        wheel(-120, 0);
        EXPECT_EQ(Tree->OffsetY(),
                  lines == WHEEL_PAGESCROLL ? -h : -5 * int(Tree->DefaultNodeHeight()));
        wheel(-24, MK_SHIFT); // a fifth of a notch
        const double fifth = -24 / 120.0;
        EXPECT_EQ(Tree->OffsetX(), int(std::trunc(lines == WHEEL_PAGESCROLL ? ClientWidth() * fifth
                                                                            : 500 * 5.0 * fifth)));
    }
    SetWheelScrollLines(3);
}

TEST_F(AutoScroll, MiddleButtonPansWithCursorsByDirection) {
    for (int i = 0; i < 60; ++i) Nodes({u"x"});
    Mouse(WM_MBUTTONDOWN, 100, 100, MK_MBUTTON);
    ASSERT_TRUE(Tree->HasState(tsWheelPanning));
    ASSERT_NE(Tree->PanningWindow(), HWND(0));
    // The panning picture is centred on the press on the screen, shaped to its arrows.
    TPoint press{100, 100};
    MapWindowPoints(Wnd, 0, &press, 1);
    TRect placed;
    GetWindowRect(Tree->PanningWindow(), placed);
    EXPECT_EQ(placed, (TRect{press.X - 16, press.Y - 16, press.X + 16, press.Y + 16}));
    HRGN shape = CreateRectRgn(0, 0, 0, 0);
    ASSERT_NE(GetWindowRgn(Tree->PanningWindow(), shape), RGN_ERROR);
    auto inShape = [&](int x, int y) {
        for (const TRect& r : shape->Rects)
            if (r.Contains({x, y})) return true;
        return false;
    };
    EXPECT_TRUE(inShape(16, 16)); // the centre dot
    EXPECT_FALSE(inShape(0, 0));  // the magenta around the arrows
    DeleteObject(shape);
    struct Case {
        int x, y;
        const char* cursor;
    };
    // Only vertical scrolling is possible here.
    for (auto c :
         {Case{104, 96, "LT_MOVENS"}, Case{150, 50, "LT_MOVEN"}, Case{50, 150, "LT_MOVES"}}) {
        Mouse(WM_MOUSEMOVE, c.x, c.y);
        EXPECT_EQ(Tree->PanningCursor(), c.cursor) << c.x << "," << c.y;
    }
    TPoint screen{100, 150};
    MapWindowPoints(Wnd, 0, &screen, 1);
    SetCursorPos(screen);
    Mouse(WM_MBUTTONUP, 100, 150);
    EXPECT_TRUE(Tree->HasState(tsWheelScrolling))
        << "released: panning goes on until the next click";
    AdvanceClock(20);
    ProcessMessages();
    EXPECT_EQ(Tree->OffsetY(), -(50 - 8)) << "the distance from the anchor less the dead zone";
    Mouse(WM_MBUTTONDOWN, 100, 150, MK_MBUTTON);
    EXPECT_FALSE(Tree->HasState(tsWheelScrolling));
    EXPECT_EQ(Tree->PanningWindow(), HWND(0));
    Mouse(WM_MBUTTONUP, 100, 150);
}

// --- nodes that go while input refers to them
// ------------------------------------------------------

// A node whose box is pressed from the keyboard is forgotten when it is deleted:
// a new node (often in the same memory) must not take the pending check.
TEST_F(KeyInput, ADeletedNodeLosesItsPendingCheck) {
    auto n = Nodes({u"apple", u"banana", u"cherry"});
    n[1]->CheckType = ctCheckBox;
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toCheckSupport);
    Key(VK_HOME);
    Key(VK_DOWN);
    SendMessage(Wnd, WM_KEYDOWN, VK_SPACE, 0);
    ASSERT_TRUE(Tree->HasState(tsKeyCheckPending));
    int checked = 0;
    Tree->OnChecked = [&](TBaseLazyTree&, PLazyNode) { ++checked; };
    Tree->DeleteNode(n[1]);
    PLazyNode fresh = Nodes({u"blueberry"})[0];
    fresh->CheckType = ctCheckBox;
    Tree->SetFocusedNode(fresh);
    SendMessage(Wnd, WM_KEYUP, VK_SPACE, 0);
    EXPECT_EQ(checked, 0);
    EXPECT_EQ(fresh->CheckState, csUncheckedNormal);
    EXPECT_FALSE(Tree->HasState(tsKeyCheckPending));
}

TEST_F(KeyInput, KeypadKeysTabAndTheMenuKey) {
    auto n = Nodes({u"a", u"b"});
    auto kids = Nodes({u"a1"}, n[0]);
    Nodes({u"a11"}, kids[0]);
    Key(VK_HOME);
    Key(VK_MULTIPLY);
    EXPECT_TRUE(Tree->Expanded(n[0]) && Tree->Expanded(kids[0])) << "* opens the whole branch";
    Key(VK_SUBTRACT);
    EXPECT_FALSE(Tree->Expanded(n[0]));
    Key(VK_ADD);
    EXPECT_TRUE(Tree->Expanded(n[0]));
    EXPECT_TRUE(Tree->Expanded(kids[0])) << "+ opens one level; the child kept its state";
    Key(VK_DIVIDE);
    EXPECT_FALSE(Tree->Expanded(n[0]) || Tree->Expanded(kids[0]));

    // Tab moves through the columns, then on to the next row.
    TLTHeader& h = Tree->Header();
    for (int i = 0; i < 2; ++i) h.Columns().Add()->SetWidth(150);
    Tree->TreeOptions().SetSelectionOptions(toExtendedFocus);
    Tree->SetFocusedColumn(0);
    Key(VK_TAB);
    EXPECT_EQ(Tree->FocusedNode(), n[0]);
    EXPECT_EQ(Tree->FocusedColumn(), 1);
    Key(VK_TAB);
    EXPECT_EQ(Tree->FocusedNode(), n[1]);
    EXPECT_EQ(Tree->FocusedColumn(), 0);
    Key(VK_TAB, ssShift);
    EXPECT_EQ(Tree->FocusedNode(), n[0]);
    EXPECT_EQ(Tree->FocusedColumn(), 1);
    // A typed Tab reaches the tree only with WantTabs; else it moves on to the next control.
    auto form = NewComponent<TCustomControl>();
    auto next = NewComponent<TCustomControl>(form.get());
    next->TabStop = true;
    next->SetParent(form.get());
    HWND nextWnd = next->Handle();
    Tree->SetParent(form.get());
    Wnd = Tree->Handle(); // a new parent makes a new window
    for (bool want : {false, true}) {
        Tree->WantTabs = want;
        SetFocus(Wnd);
        Tree->SetFocusedColumn(0);
        DeliverKey(Wnd, WM_KEYDOWN, VK_TAB, 0);
        EXPECT_EQ(GetFocus(), want ? Wnd : nextWnd) << want;
        EXPECT_EQ(Tree->FocusedColumn(), want ? 1 : 0) << want;
    }
    Tree->SetParent(nullptr);
    Wnd = Tree->Handle();

    // The menu key pops the menu up at the middle of the focused text.
    std::vector<std::string> asked;
    Tree->OnGetPopupMenu = [&](TBaseLazyTree&, PLazyNode node, TColumnIndex c, TPoint p, bool&,
                               TPopupMenu*&) {
        asked.push_back(Name(node) + " " + std::to_string(c) + " " + std::to_string(p.Y));
    };
    Key(VK_APPS);
    EXPECT_EQ(asked, (std::vector<std::string>{"a 1 9"}));
}

TEST_F(KeyInput, EscapeEndsARubberBandAndLosingTheFocusEndsSearchesAndPendingStates) {
    Nodes({u"apple", u"banana", u"cherry"});
    Tree->TreeOptions().SetSelectionOptions(toMultiSelect);
    Mouse(WM_LBUTTONDOWN, 100, 5, MK_LBUTTON);
    Mouse(WM_MOUSEMOVE, 30, 45, MK_LBUTTON);
    ASSERT_TRUE(Tree->IsMouseSelecting());
    Key(VK_ESCAPE);
    EXPECT_FALSE(Tree->IsMouseSelecting());
    Mouse(WM_LBUTTONUP, 30, 45);

    Tree->SetIncrementalSearch(isAll);
    Type(u"b");
    ASSERT_TRUE(Tree->HasState(tsIncrementalSearching));
    Mouse(WM_LBUTTONDOWN, 30, 41, MK_LBUTTON);
    SendMessage(Wnd, WM_KILLFOCUS, 0, 0);
    EXPECT_FALSE(Tree->HasState(tsIncrementalSearching));
    EXPECT_FALSE(Tree->HasState(tsLeftButtonDown));
    EXPECT_EQ(Tree->SearchBuffer(), u"");
    Type(u"c");
    EXPECT_EQ(Tree->SearchBuffer(), u"c") << "a new search after the focus came back";
}

TEST_F(MouseInput, RowEdgesOfAFixedColumnResizeTheirNodes) {
    auto n = Nodes({u"a", u"b", u"c"});
    TLTHeader& h = Tree->Header();
    for (int i = 0; i < 2; ++i) h.Columns().Add()->SetWidth(150);
    h.Columns()[0].SetOptions(h.Columns()[0].Options() | coFixed);
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toNodeHeightResize |
                                       toNodeHeightDblClickResize);
    Mouse(WM_LBUTTONDOWN, 100, 34, MK_LBUTTON); // the lower edge of row 1
    EXPECT_TRUE(Tree->HasState(tsNodeHeightTrackPending));
    Mouse(WM_MOUSEMOVE, 100, 60, MK_LBUTTON);
    EXPECT_EQ(Tree->GetNodeHeight(n[1]), 60u - 18u);
    Mouse(WM_LBUTTONUP, 100, 60);
    EXPECT_FALSE(Tree->HasState(tsNodeHeightTracking));
    EXPECT_EQ(Tree->FocusedNode(), nullptr) << "resizing does not focus";
    // The upper edge of row 2 (now at 60) belongs to row 1; a double click resets it.
    Mouse(WM_LBUTTONDBLCLK, 100, 61, MK_LBUTTON);
    EXPECT_EQ(Tree->GetNodeHeight(n[1]), Tree->DefaultNodeHeight());
    Mouse(WM_LBUTTONUP, 100, 61);
    EXPECT_EQ(Tree->GetNodeHeight(n[2]), Tree->DefaultNodeHeight());
    // The split cursor shows over the edges of the fixed column only.
    auto cursorAt = [&](int x, int y) {
        TPoint screen{x, y};
        MapWindowPoints(Wnd, 0, &screen, 1);
        SetCursorPos(screen);
        SetCursor(nullptr);
        SendMessage(Wnd, WM_SETCURSOR, WPARAM(Wnd), 1);
        return GetCursor();
    };
    EXPECT_EQ(cursorAt(100, 16), Screen().Cursor(crVertSplit));
    EXPECT_EQ(cursorAt(100, 9), Screen().Cursor(0));
    EXPECT_EQ(cursorAt(200, 16), Screen().Cursor(0));
    Mouse(WM_LBUTTONDOWN, 200, 34, MK_LBUTTON); // a column that is not fixed
    EXPECT_FALSE(Tree->HasState(tsNodeHeightTrackPending));
    Mouse(WM_LBUTTONUP, 200, 34);
}

// Right to left the texts end at the right: a band there covers them, one at
// the left of the window covers nothing.
TEST_F(MouseInput, RubberBandRightToLeft) {
    Nodes({u"a", u"b", u"c"});
    Tree->BiDiMode = bdRightToLeft;
    Tree->TreeOptions().SetSelectionOptions(toMultiSelect);
    const int w = ClientWidth(), textRight = w - 18 - 4;
    Mouse(WM_LBUTTONDOWN, 5, 5, MK_LBUTTON);
    Mouse(WM_MOUSEMOVE, 60, 45, MK_LBUTTON);
    EXPECT_TRUE(Tree->HasState(tsDrawSelecting));
    EXPECT_EQ(Selection(), "");
    Mouse(WM_LBUTTONUP, 60, 45);
    Mouse(WM_LBUTTONDOWN, textRight - 60, 5, MK_LBUTTON); // left of the texts
    Mouse(WM_MOUSEMOVE, textRight - 10, 30, MK_LBUTTON);
    EXPECT_EQ(Selection(), "a b");
    Mouse(WM_MOUSEMOVE, textRight - 55, 30, MK_LBUTTON);
    EXPECT_EQ(Selection(), "") << "left of the 50-pixel texts again";
    Mouse(WM_LBUTTONUP, textRight - 55, 30);
}

// The band starts once it is wider or taller than the desktop's drag distance, not sooner.
TEST_F(MouseInput, RubberBandStartsPastTheDesktopDragDistance) {
    Nodes({u"a", u"b", u"c"});
    Tree->TreeOptions().SetSelectionOptions(toMultiSelect);
    const int cx = GetSystemMetrics(SM_CXDRAG), cy = GetSystemMetrics(SM_CYDRAG);
    struct Case {
        int dx, dy;
        bool starts;
    } cases[] = {{cx, 0, false}, {0, cy, false}, {cx + 1, 0, true}, {0, cy + 1, true}};
    for (const Case& c : cases) {
        Mouse(WM_LBUTTONDOWN, 100, 5, MK_LBUTTON);
        Mouse(WM_MOUSEMOVE, 100 + c.dx, 5 + c.dy, MK_LBUTTON);
        EXPECT_EQ(Tree->HasState(tsDrawSelecting), c.starts) << c.dx << "," << c.dy;
        Mouse(WM_LBUTTONUP, 100 + c.dx, 5 + c.dy);
    }
}

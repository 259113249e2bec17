// Hints over a tree, driven by the mouse and key messages a user's actions
// send and the loop's virtual clock: which node gets one, when it shows and
// what takes it away.

#include "treeview/LazyTrees.h"

#include "platform/gui/Forms.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <map>

using namespace nuq;

namespace {

// Captions and their widths from tables, so that what fits is exact.
class HintTree : public TLazyStringTree {
public:
    using TLazyStringTree::TLazyStringTree;
    std::map<PLazyNode, int> Widths;
    int DoGetNodeWidth(PLazyNode n, TColumnIndex, TCanvas*) override {
        auto it = Widths.find(n);
        return it == Widths.end() ? 50 : it->second;
    }
};

struct Hints : ::testing::Test {
    std::unique_ptr<HintTree> Tree;
    HWND Wnd = 0;
    std::map<PLazyNode, std::u16string> Captions;
    PLazyNode Short = nullptr, Long = nullptr; // rows 0 and 1
    void SetUp() override {
        SetMainThread();
        EnsureGuiToolkit();
        UseVirtualClock(TDateTime(46000.0));
        SetScreenSize(1024, 768); // other tests shrink it
        Tree = NewComponent<HintTree>();
        Tree->SetBounds(50, 40, 200, 100); // off the screen edge, which would push hints in
        Tree->HintAnimation = hatNone;
        Tree->HintMode = hmTooltip;
        Tree->Handle();
        Wnd = Tree->WindowHandle();
        SetFocus(Wnd); // hints are only for the window the user works in
        if (Tree->PlusBM().Width() <= 1) Tree->PlusBM().SetSize(9, 9);
        Tree->OnGetText = [this](TBaseLazyTree&, PLazyNode n, TColumnIndex, int,
                                 std::u16string& s) { s = Captions[n]; };
        Short = Tree->AddChild(nullptr);
        Long = Tree->AddChild(nullptr);
        Captions[Short] = u"boiler 1";
        Captions[Long] = u"boiler room 7, district north, pump group B";
        Tree->Widths[Long] = 400; // far wider than the window
    }
    void TearDown() override {
        Tree.reset();
        UseRealClock();
    }
    void Move(int x, int y) { SendMessage(Wnd, WM_MOUSEMOVE, 0, MakeLParam(x, y)); }
    void Rest() {
        AdvanceClock(Tree->HintPause);
        ProcessMessages();
    }
    bool Shown() {
        TLazyTreeHintWindow* w = Tree->HintWindow();
        return w && w->HandleAllocated() && IsWindowVisible(w->WindowHandle());
    }
    std::u16string ShownText() { return Shown() ? Tree->HintWindow()->HintData().HintText : u""; }
};

TEST_F(Hints, ShowsAfterThePauseOnlyWhereWanted) {
    struct Case {
        const char* Name;
        THintMode Mode;
        bool ShowHint;
        int Row;
        std::u16string Expected; // empty: no hint
    } cases[] = {
        {"cut-off caption", hmTooltip, true, 1, u"boiler room 7, district north, pump group B"},
        {"caption that fits", hmTooltip, true, 0, u""},
        {"hints off", hmTooltip, false, 1, u""},
        {"below the last node", hmTooltip, true, 4, u""},
        {"node hint text", hmHint, true, 0, u"hint for boiler 1"},
        {"control hint", hmDefault, true, 0, u"object tree"},
    };
    Tree->Hint = u"object tree|every boiler room with its links"; // the short part shows
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        // With the hint event a tool tip would show its text too; only the hint case has it.
        Tree->OnGetHint = nullptr;
        if (c.Mode == hmHint)
            Tree->OnGetHint = [this](TBaseLazyTree&, PLazyNode n, TColumnIndex,
                                     TLTTooltipLineBreakStyle&,
                                     std::u16string& text) { text = u"hint for " + Captions[n]; };
        Tree->CancelNodeHint();
        Tree->HintMode = c.Mode;
        Tree->ShowHint = c.ShowHint;
        Move(100, c.Row * 18 + 9);
        AdvanceClock(Tree->HintPause - 1);
        ProcessMessages();
        // Not before the pause, except a tool tip, which needs none.
        EXPECT_EQ(Shown(), c.Mode == hmTooltip && !c.Expected.empty());
        AdvanceClock(1);
        ProcessMessages();
        EXPECT_EQ(ShownText(), c.Expected);
        EXPECT_EQ(Tree->HasState(tsHint), !c.Expected.empty());
    }
}

// Right of the last column no node's hint applies: with node hints and the
// control's own, the control's shows there. A tool tip counts the content
// margin the owner reports: a short caption it pushes past the cell is cut off.
TEST_F(Hints, RoomRightOfTheColumnsAndTheOwnersMarginDecide) {
    Tree->Hint = u"object tree";
    Tree->Header().Columns().Add()->SetWidth(150);
    Tree->OnGetHint = [this](TBaseLazyTree&, PLazyNode n, TColumnIndex, TLTTooltipLineBreakStyle&,
                             std::u16string& text) { text = u"hint for " + Captions[n]; };
    int margin = 0;
    Tree->OnBeforeCellPaint = [&](TBaseLazyTree&, TCanvas&, PLazyNode, TColumnIndex,
                                  TLTCellPaintMode, TRect,
                                  TRect& content) { content.Left += margin; };
    struct Case {
        const char* name;
        THintMode mode;
        int x, margin;
        std::u16string expected; // empty: no hint
    };
    for (const Case& c :
         {Case{"right of the last column", hmHintAndDefault, 180, 0, u"object tree"},
          Case{"over the column", hmHintAndDefault, 100, 0, u"hint for boiler 1"},
          Case{"caption pushed past its cell", hmTooltip, 60, 120, u"hint for boiler 1"},
          Case{"caption that fits", hmTooltip, 60, 0, u""}}) {
        SCOPED_TRACE(c.name);
        Tree->CancelNodeHint();
        Tree->HintMode = c.mode;
        margin = c.margin;
        Move(c.x, 9);
        Rest();
        EXPECT_EQ(ShownText(), c.expected);
    }
}

TEST_F(Hints, ToolTipSitsOverTheCellOnTheScreen) {
    // Right to left the text ends at the cell's right edge and the tip grows leftwards.
    Tree->SetBounds(600, 40, 200, 100); // room on the left for a right-to-left tip
    Tree->Header().Columns().Add()->SetWidth(150);
    for (TBiDiMode mode : {bdLeftToRight, bdRightToLeft}) {
        SCOPED_TRACE(int(mode));
        Tree->CancelNodeHint();
        Tree->SetBiDiMode(mode);
        Move(100, 27);
        Rest();
        ASSERT_TRUE(Shown());
        TPoint origin{0, 0};
        MapWindowPoints(Wnd, 0, &origin, 1);
        TRect cell = Tree->GetDisplayRect(Long, 0, false).Offset(origin.X, origin.Y);
        TRect text = Tree->GetDisplayRect(Long, 0, true, true, true).Offset(origin.X, origin.Y);
        TRect bounds = Tree->HintWindow()->BoundsRect();
        EXPECT_GT(bounds.Width(), cell.Width()) << "the whole caption, not the cut one";
        EXPECT_EQ(bounds.Top, cell.Top - 1);
        // Its text lies on the row's: after the indent, a text margin into the tip.
        if (mode == bdLeftToRight)
            EXPECT_EQ(bounds.Left, text.Left - Tree->TextMargin() - 1);
        else
            EXPECT_EQ(bounds.Right, cell.Right);
    }
}

TEST_F(Hints, TakenAwayByLeavingItsCellAKeyAButtonOrLeavingTheWindow) {
    struct Case {
        const char* Name;
        std::function<void()> Act;
    } cases[] = {
        {"move to a node that fits", [this] { Move(100, 9); }},
        {"scrolled", [this] { Tree->SetOffsetX(-10); }},
        {"button", [this] { SendMessage(Wnd, WM_LBUTTONDOWN, MK_LBUTTON, MakeLParam(100, 27)); }},
        {"mouse leaves", [this] { SendMessage(Wnd, WM_MOUSELEAVE, 0, 0); }},
        {"right button released",
         [this] { SendMessage(Wnd, WM_RBUTTONUP, 0, MakeLParam(120, 28)); }},
        {"focus lost", [this] { SendMessage(Wnd, WM_KILLFOCUS, 0, 0); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Name);
        Tree->SetOffsetX(0);
        SendMessage(Wnd, WM_LBUTTONUP, 0, MakeLParam(100, 27));
        ReleaseCapture();
        Move(100, 27);
        Rest();
        ASSERT_TRUE(Shown());
        Move(120, 28); // within the cell the hint stays
        EXPECT_TRUE(Shown());
        c.Act();
        EXPECT_FALSE(Shown());
        EXPECT_FALSE(Tree->HasState(tsHint));
        Rest(); // nor does it come back while the mouse stays put
        EXPECT_FALSE(Shown());
    }
    // A key that scrolls nothing leaves a shown hint alone.
    Move(100, 9);
    Move(100, 27);
    ASSERT_TRUE(Shown());
    SendMessage(Wnd, WM_KEYDOWN, VK_SHIFT, 0);
    EXPECT_TRUE(Shown());
}

TEST_F(Hints, HeaderColumnsGiveTheirHintsOverTheHeader) {
    Tree->HintMode = hmDefault;
    Tree->Hint = u"object tree";
    TLTHeader& header = Tree->Header();
    header.Columns().Add()->SetWidth(80);
    header.Columns().Add()->SetWidth(80);
    header.Columns()[0].Hint = u"Pump|the pump group of the room";
    header.SetOptions(header.Options() | hoVisible);
    auto overHeader = [this](int x) {
        TPoint screen{x, -8}; // half-way up the header, above the client area
        MapWindowPoints(Wnd, 0, &screen, 1);
        SendMessage(Wnd, WM_NCMOUSEMOVE, HTBORDER, MakeLParam(screen.X, screen.Y));
    };
    struct Case {
        bool showHint;
        int x;
        std::u16string expected;
    };
    for (const Case& c : {Case{true, 40, u"Pump"}, Case{true, 120, u""}, Case{false, 40, u""}}) {
        SCOPED_TRACE(c.x);
        Tree->CancelNodeHint();
        header.SetOptions(c.showHint ? header.Options() | hoShowHint
                                     : header.Options() & ~hoShowHint);
        overHeader(c.x);
        Rest();
        EXPECT_EQ(ShownText(), c.expected);
    }
    // Moving into the rows, pressing a column or leaving across the header takes
    // the header's hint away.
    header.SetOptions(header.Options() | hoShowHint);
    header.SetOptions(header.Options() & ~hoDrag); // a press that captures nothing
    TPoint press{40, -8};
    MapWindowPoints(Wnd, 0, &press, 1);
    struct Away {
        const char* Name;
        std::function<void()> Act;
    } aways[] = {
        {"into the rows", [this] { Move(100, 9); }},
        {"column pressed",
         [&] { SendMessage(Wnd, WM_NCLBUTTONDOWN, HTBORDER, MakeLParam(press.X, press.Y)); }},
        {"left the window", [this] { SendMessage(Wnd, WM_NCMOUSELEAVE, 0, 0); }},
    };
    for (const Away& a : aways) {
        SCOPED_TRACE(a.Name);
        SendMessage(Wnd, WM_NCLBUTTONUP, HTBORDER, MakeLParam(press.X, press.Y));
        overHeader(60);
        overHeader(40);
        Rest();
        ASSERT_TRUE(Shown());
        a.Act();
        EXPECT_FALSE(Shown());
        EXPECT_FALSE(Tree->HasState(tsHint));
    }
}

// The hint window paints its node's text; a node deleted under a shown hint
// (the data behind the tree changed) must take its hint along.
TEST_F(Hints, DeletingTheNodeTakesItsHintAway) {
    Tree->HintAnimation = hatSlide;
    Move(100, 27);
    Rest();
    ASSERT_TRUE(Shown());
    Tree->DeleteNode(Long);
    EXPECT_FALSE(Shown());
    EXPECT_FALSE(Tree->HasState(tsHint));
    Move(100, 9);
    Rest();
    EXPECT_FALSE(Shown()); // the short one fits
}

} // namespace

// Without the focus on the tree (nor on a form it sits on) no hint comes.
TEST_F(Hints, OnlyForTheFocusedTreeOrItsForm) {
    auto form = CreateForm<TForm>();
    for (bool onForm : {false, true})
        for (bool focused : {false, true}) {
            SCOPED_TRACE(onForm);
            if (onForm) Tree->SetParent(form.get());
            Wnd = Tree->Handle();
            SetFocus(!focused ? 0 : onForm ? form->Handle() : Wnd);
            Move(100, 27);
            Rest();
            EXPECT_EQ(Shown(), focused);
            SendMessage(Wnd, WM_MOUSELEAVE, 0, 0);
        }
    Tree->SetParent(nullptr);
}

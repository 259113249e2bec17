// Dispatchers with behaviour of their own: editing, content margins, popup
// menus, scroll bars and the child-count setter.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include "TreeProbe.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

// An edit link that answers as told and records what it was asked.
class TProbeLink : public ILTEditLink {
public:
    bool Prepare = true, Begin = true, Cancel = true, End = true;
    std::vector<std::string> Calls;
    bool BeginEdit() override {
        Calls.push_back("begin");
        return Begin;
    }
    bool CancelEdit() override {
        Calls.push_back("cancel");
        return Cancel;
    }
    bool EndEdit() override {
        Calls.push_back("end");
        return End;
    }
    bool PrepareEdit(TBaseLazyTree*, PLazyNode, TColumnIndex) override {
        Calls.push_back("prepare");
        return Prepare;
    }
    TRect GetBounds() override { return {}; }
    void SetBounds(const TRect&) override { Calls.push_back("bounds"); }
};

struct EditFixture : ::testing::Test {
    std::unique_ptr<TTreeProbe> Tree;
    std::shared_ptr<TProbeLink> Link = std::make_shared<TProbeLink>();
    PLazyNode Node = nullptr;
    void SetUp() override {
        SetMainThread();
        Tree = NewComponent<TTreeProbe>();
        Node = Tree->AddChild(nullptr);
        Tree->DoFocusNode(Node, false);
        Tree->OnCreateEditor = [this](TBaseLazyTree&, PLazyNode, TColumnIndex,
                                      std::shared_ptr<ILTEditLink>& l) { l = Link; };
    }
    void TearDown() override { Tree.reset(); }
};

using Editing = EditFixture;

} // namespace

TEST_F(Editing, DoEditPreparesAndBeginsThenEndEditEnds) {
    Tree->DoStateChange(TS(tsEditPending, tsDrawSelecting));
    Tree->DoEdit();
    EXPECT_EQ(Link->Calls, (std::vector<std::string>{"prepare", "bounds", "begin"}));
    EXPECT_TRUE(Tree->HasState(tsEditing));
    EXPECT_FALSE(Tree->HasState(tsEditPending));
    EXPECT_FALSE(Tree->HasState(tsDrawSelecting));
    EXPECT_EQ(Tree->EditLink(), Link);
    int edited = 0;
    Tree->OnEdited = [&](TBaseLazyTree&, PLazyNode n, TColumnIndex) {
        EXPECT_EQ(n, Node);
        ++edited;
    };
    EXPECT_TRUE(Tree->DoEndEdit());
    EXPECT_EQ(edited, 1);
    EXPECT_FALSE(Tree->HasState(tsEditing));
    EXPECT_EQ(Tree->EditLink(), nullptr);
    Tree->OnEdited = nullptr;
}

TEST_F(Editing, RefusedPreparationLeavesNoEdit) {
    Link->Prepare = false;
    Tree->DoEdit();
    EXPECT_FALSE(Tree->HasState(tsEditing));
    EXPECT_EQ(Tree->EditLink(), nullptr);
}

TEST_F(Editing, NoEditOnADisabledNodeOrUnderReadOnly) {
    Node->States |= vsDisabled;
    Tree->DoEdit();
    EXPECT_TRUE(Link->Calls.empty());
    Node->States &= ~vsDisabled;
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toReadOnly);
    Tree->DoEdit();
    EXPECT_TRUE(Link->Calls.empty());
}

TEST_F(Editing, ALinkThatRefusesKeepsTheEditGoing) {
    Tree->DoEdit();
    Link->Cancel = false;
    Link->End = false;
    EXPECT_FALSE(Tree->DoCancelEdit());
    EXPECT_FALSE(Tree->DoEndEdit());
    EXPECT_TRUE(Tree->HasState(tsEditing));
    EXPECT_EQ(Tree->EditLink(), Link);
    Link->Cancel = true;
    int cancelled = 0;
    Tree->OnEditCancelled = [&](TBaseLazyTree&, TColumnIndex) { ++cancelled; };
    EXPECT_TRUE(Tree->DoCancelEdit());
    EXPECT_EQ(cancelled, 1);
    EXPECT_EQ(Tree->EditLink(), nullptr);
    Tree->OnEditCancelled = nullptr;
}

TEST_F(Editing, FocusingAnotherNodeEndsTheEditFirst) {
    PLazyNode other = Tree->AddChild(nullptr);
    Tree->DoEdit();
    Link->End = false;
    Tree->DoFocusNode(other, false);
    EXPECT_EQ(Tree->FocusedNode(), Node); // the edit refused to end
    Link->End = true;
    Tree->DoFocusNode(other, false);
    EXPECT_EQ(Tree->FocusedNode(), other);
    EXPECT_FALSE(Tree->HasState(tsEditing));
}

TEST(Dispatchers, ContentMarginsAreAskedWithoutReachingTheScreen) {
    SetMainThread();
    auto tree = NewComponent<TTreeProbe>();
    PLazyNode n = tree->AddChild(nullptr);
    HWND h = tree->Handle();
    for (int i = 0; i < 5; ++i) ProcessMessages();
    TRect pending{1, 2, 3, 4};
    InvalidateRect(h, &pending, false);
    tree->OnBeforeCellPaint = [&](TBaseLazyTree& t, TCanvas&, PLazyNode, TColumnIndex,
                                  TLTCellPaintMode mode, TRect, TRect& content) {
        EXPECT_EQ(mode, cpmGetContentMargin);
        // Redrawing is off here: invalidating and pumping paints nothing.
        InvalidateRect(t.WindowHandle(), nullptr, false);
        UpdateWindow(t.WindowHandle());
        content.Left += 3;
        content.Top += 1;
        content.Right -= 2;
    };
    int painted = 0;
    TWindowProc old = GetWindowProc(h);
    SetWindowProc(h, {[&](HWND w, UINT m, WPARAM wp, LPARAM lp) {
                          if (m == WM_PAINT) ++painted;
                          return CallWindowProc(old, w, m, wp, lp);
                      },
                      nullptr});
    EXPECT_EQ(tree->DoGetCellContentMargin(n, 0, 1, nullptr), (TPoint{3, 1}));
    EXPECT_EQ(tree->DoGetCellContentMargin(n, 0, 2, nullptr), (TPoint{2, 0}));
    EXPECT_EQ(tree->DoGetCellContentMargin(n, 0, 0, nullptr), (TPoint{5, 1}));
    EXPECT_EQ(painted, 0);
    TRect u;
    EXPECT_TRUE(GetUpdateRect(h, u, false)); // the pending area is still due
    tree->OnBeforeCellPaint = nullptr;
    SetWindowProc(h, old); // the procedure above sees locals that go before the window does
}

TEST(Dispatchers, PopupMenuShowsAtScreenPosition) {
    SetMainThread();
    auto tree = NewComponent<TTreeProbe>();
    tree->SetBounds(30, 40, 200, 100);
    PLazyNode n = tree->AddChild(nullptr);
    tree->Handle();
    TPopupMenu menu;
    TPoint shownAt{-1, -1};
    menu.OnPopup = [&](TPopupMenu&, TPoint p) { shownAt = p; };
    tree->OnGetPopupMenu = [&](TBaseLazyTree&, PLazyNode, TColumnIndex, TPoint, bool&,
                               TPopupMenu*& m) { m = &menu; };
    tree->DoPopupMenu(n, 0, {5, 6});
    EXPECT_TRUE(tree->HasState(tsPopupMenuShown));
    EXPECT_EQ(menu.PopupComponent, tree.get());
    TPoint origin = ClientOrigin(tree->Handle());
    EXPECT_EQ(shownAt, (TPoint{30 + origin.X + 5, 40 + origin.Y + 6}));
}

TEST(Dispatchers, ShowScrollbarChangesTheWindowFirst) {
    SetMainThread();
    auto tree = NewComponent<TTreeProbe>();
    HWND h = tree->Handle();
    bool styleAtEvent = false;
    tree->OnShowScrollbar = [&](TBaseLazyTree&, int, bool) {
        styleAtEvent = GetWindowLongPtr(h, GWL_STYLE) & WS_VSCROLL;
    };
    tree->DoShowScrollbar(SB_VERT, true);
    EXPECT_TRUE(styleAtEvent);
    tree->DoShowScrollbar(SB_VERT, false);
    EXPECT_FALSE(GetWindowLongPtr(h, GWL_STYLE) & WS_VSCROLL);
    tree->OnShowScrollbar = nullptr;
}

TEST(Dispatchers, StructureChangeClearsThePendingState) {
    SetMainThread();
    auto tree = NewComponent<TTreeProbe>();
    tree->DoStateChange(TS(tsStructureChangePending));
    tree->DoStructureChange(nullptr, crIgnore);
    EXPECT_FALSE(tree->HasState(tsStructureChangePending));
    tree->DoStateChange(TS(tsChangePending));
    tree->DoChange(nullptr);
    EXPECT_FALSE(tree->HasState(tsChangePending));
}

TEST(ChildCount, GrowsAndShrinksFromTheEnd) {
    SetMainThread();
    auto tree = NewComponent<TLazyStringTree>();
    PLazyNode parent = tree->AddChild(nullptr);
    tree->SetExpanded(parent, true);
    tree->SetChildCount(parent, 5);
    EXPECT_EQ(parent->ChildCount, 5u);
    EXPECT_NE(parent->States & vsHasChildren, 0);
    EXPECT_EQ(parent->LastChild->Index, 4u);
    EXPECT_EQ(parent->TotalHeight, 6u * 18);
    EXPECT_EQ(tree->RootNode()->TotalCount, 7u);
    PLazyNode third = parent->FirstChild->NextSibling->NextSibling;
    tree->SetChildCount(parent, 3);
    EXPECT_EQ(parent->LastChild, third);
    EXPECT_EQ(third->Index, 2u);
    EXPECT_EQ(parent->TotalHeight, 4u * 18);
    EXPECT_EQ(tree->RootNode()->TotalCount, 5u);
    tree->SetExpanded(parent, false);
    EXPECT_EQ(parent->TotalHeight, 18u);
    EXPECT_EQ(tree->RootNode()->TotalHeight, 2u * 18);
    tree->DeleteChildren(parent, true);
    EXPECT_EQ(parent->States & vsHasChildren, 0);
    EXPECT_EQ(tree->RootNode()->TotalCount, 2u);
    auto& o = tree->TreeOptions();
    o.SetMiscOptions(o.MiscOptions() | toReadOnly);
    tree->SetChildCount(parent, 2); // ignored while read-only
    EXPECT_EQ(parent->ChildCount, 0u);
}

TEST(ChildCount, RootCountWhileLoadingIsOnlyRecorded) {
    SetMainThread();
    auto tree = NewComponent<TLazyStringTree>();
    tree->ComponentState |= csLoading;
    tree->SetRootNodeCount(4);
    EXPECT_TRUE(tree->HasState(tsNeedRootCountUpdate));
    EXPECT_EQ(tree->RootNode()->FirstChild, nullptr);
    tree->ComponentState &= ~csLoading;
    tree->RootNode()->ChildCount = 0; // as the loader would before making the nodes
}

TEST(Walks, LastAndPreviousInsideSubtrees) {
    SetMainThread();
    auto tree = NewComponent<TLazyStringTree>();
    PLazyNode a = tree->AddChild(nullptr);
    PLazyNode a1 = tree->AddChild(a);
    PLazyNode a11 = tree->AddChild(a1);
    PLazyNode b = tree->AddChild(nullptr);
    EXPECT_EQ(tree->GetLast(a), a11);
    EXPECT_EQ(tree->GetLast(b), b); // a node without children is its own last
    EXPECT_EQ(tree->GetPrevious(b), a11);
    EXPECT_EQ(tree->GetPrevious(a11), a1);
    EXPECT_EQ(tree->GetPreviousNoInit(b), a11);
    EXPECT_EQ(tree->GetNext(a11), b);
    EXPECT_EQ(tree->GetNextVisible(a), b); // a is collapsed
    tree->SetExpanded(a, true);
    EXPECT_EQ(tree->GetNextVisible(a), a1);
    EXPECT_EQ(tree->GetNextVisible(a1), b); // a1 is collapsed
    EXPECT_EQ(tree->GetPreviousVisible(b), a1);
}

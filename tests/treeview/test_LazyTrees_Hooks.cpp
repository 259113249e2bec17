// The tree's replaceable class points and the widest content in view.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include "TreeProbe.h"

#include <gtest/gtest.h>

#include <map>

using namespace nuq;

namespace {

struct OwnColumn : TLazyTreeColumn {
    using TLazyTreeColumn::TLazyTreeColumn;
};
struct OwnHintWindow : TLazyTreeHintWindow {
    using TLazyTreeHintWindow::TLazyTreeHintWindow;
};

struct OwnColumns : TLazyTreeColumns {
    using TLazyTreeColumns::TLazyTreeColumns;
};
// A header with a column collection of its own class; both classes come from
// the overrides alone.
class OwnHeader : public TLTHeader {
public:
    using TLTHeader::TLTHeader;

protected:
    std::unique_ptr<TLazyTreeColumns> GetColumnsClass() override {
        return std::make_unique<OwnColumns>(this);
    }
};
class OwnHeaderTree : public TTreeProbe {
public:
    using TTreeProbe::TTreeProbe;

protected:
    std::unique_ptr<TLTHeader> GetHeaderClass() override {
        return std::make_unique<OwnHeader>(this);
    }
};

// A tree with its own column and hint window classes and table-driven text widths.
class HookTree : public TTreeProbe {
public:
    using TTreeProbe::TTreeProbe;
    std::map<PLazyNode, int> Widths;
    int DoGetNodeWidth(PLazyNode n, TColumnIndex, TCanvas*) override {
        auto it = Widths.find(n);
        return it == Widths.end() ? 50 : it->second;
    }
    bool AllHaveImages = false;
    bool HasImage(PLazyNode n, TLTImageKind kind, TColumnIndex column) override {
        return (AllHaveImages && kind == ikNormal) || TLazyStringTree::HasImage(n, kind, column);
    }

protected:
    std::unique_ptr<TLazyTreeColumn> GetColumnClass(TLazyTreeColumns* columns) override {
        return std::make_unique<OwnColumn>(columns);
    }
    std::unique_ptr<TLazyTreeHintWindow> GetHintWindowClass() override {
        return std::make_unique<OwnHintWindow>(nullptr);
    }
};

struct Hooks : ::testing::Test {
    std::unique_ptr<HookTree> Tree;
    void SetUp() override {
        SetMainThread();
        EnsureGuiToolkit();
        Tree = NewComponent<HookTree>();
        Tree->SetBounds(0, 0, 200, 60);
    }
    void TearDown() override { Tree.reset(); }
};

// Columns made by adding, by assignment and by reading a stream are of the
// tree's column class; the hint window is of the tree's hint window class.
TEST_F(Hooks, DescendantClassesAreUsed) {
    TLazyTreeColumns& columns = Tree->Header().Columns();
    columns.Add();
    auto other = NewComponent<HookTree>();
    other->Header().Columns().Add();
    other->Header().Columns().Add();
    columns.Assign(other->Header().Columns());
    std::stringstream stream;
    other->Header().Columns().SaveToStream(stream);
    auto third = NewComponent<HookTree>();
    third->Header().Columns().LoadFromStream(stream, 6);
    for (TLazyTreeColumns* c : {&columns, &third->Header().Columns()}) {
        ASSERT_EQ(c->Count(), 2);
        for (int i = 0; i < c->Count(); ++i)
            EXPECT_NE(dynamic_cast<OwnColumn*>(c->Items(i)), nullptr);
    }

    // A header of its own class brings its own column collection, whether the
    // tree was finished as a component or only constructed.
    {
        std::unique_ptr<OwnHeaderTree> trees[] = {NewComponent<OwnHeaderTree>(),
                                                  std::make_unique<OwnHeaderTree>()};
        for (auto& headed : trees) {
            ASSERT_NE(dynamic_cast<OwnHeader*>(&headed->Header()), nullptr);
            EXPECT_NE(dynamic_cast<OwnColumns*>(&headed->Header().Columns()), nullptr);
            headed->Header().Columns().Add();
            EXPECT_EQ(headed->Header().ColumnCount(), 1);
        }
    }

    UseVirtualClock(TDateTime(46000.0));
    SetScreenSize(1024, 768);
    Tree->HintAnimation = hatNone;
    Tree->HintMode = hmTooltip;
    HWND wnd = Tree->Handle();
    SetFocus(wnd);
    PLazyNode wide = Tree->AddChild(nullptr);
    Tree->Widths[wide] = 400;
    Tree->OnGetText = [](TBaseLazyTree&, PLazyNode, TColumnIndex, int, std::u16string& s) {
        s = u"boiler room 7, district north, pump group B";
    };
    SendMessage(wnd, WM_MOUSEMOVE, 0, MakeLParam(30, 5));
    AdvanceClock(Tree->HintPause);
    ProcessMessages();
    EXPECT_NE(dynamic_cast<OwnHintWindow*>(Tree->HintWindow()), nullptr);
    Tree.reset();
    UseRealClock();
}

// Right edge = indent of the level (one more with toShowRoot) + images + check
// image + text width, the largest over the rows in view, plus Margin.
TEST_F(Hooks, MaxRightExtendCoversTheRowsInView) {
    TCustomImageList images, checks;
    images.SetWidth(16);
    checks.SetWidth(13);
    struct Case {
        const char* name;
        bool showRoot, withImages, withChecks, empty;
        int belowWidth; // of the rows below the window, which count as well
        int expected;
    };
    for (const Case& c : {
             Case{"show root", true, false, false, false, 50, 36 + 120 + 4},
             Case{"no root", false, false, false, false, 50, 18 + 120 + 4},
             Case{"images", true, true, false, false, 50, 36 + 18 + 120 + 4},
             Case{"check boxes", true, false, true, false, 50, 36 + 13 + 120 + 4},
             Case{"empty tree", true, false, false, true, 50, 4},
             Case{"wide below the window", true, false, false, false, 1000, 18 + 1000 + 4},
         }) {
        Tree = NewComponent<HookTree>();
        Tree->SetBounds(0, 0, 200, 50); // three rows of 18 show, the fourth starts at 54
        auto& o = Tree->TreeOptions();
        o.SetPaintOptions(c.showRoot ? o.PaintOptions() | toShowRoot
                                     : o.PaintOptions() & ~toShowRoot);
        if (c.withImages) Tree->SetImages(&images);
        if (c.withChecks) {
            o.SetMiscOptions(o.MiscOptions() | toCheckSupport);
            Tree->SetCustomCheckImages(&checks);
            Tree->SetCheckImageKind(ckCustom);
        }
        if (!c.empty) {
            PLazyNode a = Tree->AddChild(nullptr);
            PLazyNode b = Tree->AddChild(a);
            Tree->SetExpanded(a, true);
            if (c.withChecks) b->CheckType = ctCheckBox;
            Tree->Widths[b] = 120;
            Tree->AddChild(nullptr);
            PLazyNode below = Tree->AddChild(nullptr); // row 4: out of view
            Tree->AddChild(nullptr);
            Tree->Widths[below] = c.belowWidth;
        }
        Tree->Handle();
        EXPECT_EQ(Tree->GetMaxRightExtend(), c.expected) << c.name;
        Tree.reset();
    }
}

} // namespace

// A tree that says every node has an image gets the image hit where the text began.
TEST_F(Hooks, HitTestAsksTheTreeWhetherANodeHasAnImage) {
    TCustomImageList images;
    images.SetWidth(16);
    Tree->SetImages(&images);
    Tree->AddChild(nullptr);
    for (bool all : {false, true}) {
        Tree->AllHaveImages = all;
        THitInfo info;
        Tree->GetHitTestInfoAt(18 + 4 + 2, 5, true, info);
        EXPECT_EQ((info.HitPositions & hiOnNormalIcon) != 0, all);
    }
}

// A cancel request holds only while a long operation runs; a nested start keeps it.
TEST_F(Hooks, CancelHoldsOnlyWhileAnOperationRuns) {
    Tree->CancelOperation();
    EXPECT_FALSE(Tree->OperationCanceled()) << "nothing runs";
    Tree->BeginOperation();
    Tree->CancelOperation();
    Tree->BeginOperation();
    EXPECT_TRUE(Tree->OperationCanceled()) << "the nested start keeps the request";
    Tree->EndOperation();
    EXPECT_TRUE(Tree->OperationCanceled());
    Tree->EndOperation();
    EXPECT_FALSE(Tree->OperationCanceled()) << "the operation ended";
    Tree->BeginOperation();
    EXPECT_FALSE(Tree->OperationCanceled()) << "a new operation starts afresh";
    Tree->EndOperation();
}

TEST_F(Hooks, LevelDifferenceCountsFromTheFirstNodeToTheSecond) {
    PLazyNode a = Tree->AddChild(nullptr), b = Tree->AddChild(a), c = Tree->AddChild(b);
    struct Case {
        PLazyNode from, to;
        int expected;
    } cases[] = {{a, c, 2}, {c, a, -2}, {b, b, 0}};
    for (const Case& k : cases) EXPECT_EQ(Tree->CountLevelDifference(k.from, k.to), k.expected);
}

// Right to left, the columns move by the room the header leaves; a shown vertical bar
// takes its width of that room unless it is left out.
TEST_F(Hooks, RightToLeftOffsetCountsTheVerticalBarOnlyWhenShown) {
    Tree->BiDiMode = bdRightToLeft;
    Tree->Header().Columns().Add()->SetWidth(80);
    Tree->Header().SetOptions(Tree->Header().Options() | hoVisible);
    Tree->Handle();
    const int bar = GetSystemMetrics(SM_CXVSCROLL);
    for (int rows : {1, 10}) {
        while (int(Tree->RootNodeCount()) < rows) Tree->AddChild(nullptr);
        Tree->UpdateScrollBars(false);
        const int room = Tree->ClientRect().Width() - 80, shown = rows == 10 ? bar : 0;
        EXPECT_EQ(Tree->ComputeRTLOffset(true), room) << rows;
        EXPECT_EQ(Tree->ComputeRTLOffset(false), room + shown) << rows;
        EXPECT_EQ(Tree->RTLColumnShift(), room) << rows;
    }
}

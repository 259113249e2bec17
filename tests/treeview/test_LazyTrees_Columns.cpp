// Header columns: positions, widths and their limits, parent options, hit
// tests, navigation, sorting, resize distribution and the stream records.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

using namespace nuq;

namespace {

struct ColumnFixture : ::testing::Test {
    std::unique_ptr<TLazyStringTree> Tree;
    void SetUp() override {
        SetMainThread();
        Tree = NewComponent<TLazyStringTree>();
        Tree->SetBounds(0, 0, 400, 200);
    }
    void TearDown() override { Tree.reset(); }
    TLTHeader& Header() { return Tree->Header(); }
    TLazyTreeColumns& Columns() { return Tree->Header().Columns(); }
    TLazyTreeColumn& Add(int width, TLTColumnOptions options = DefaultColumnOptions) {
        TLazyTreeColumn* c = Columns().Add();
        c->SetOptions(options);
        c->SetWidth(width);
        return *c;
    }
    std::vector<int> Lefts() {
        std::vector<int> v;
        for (int i = 0; i < Columns().Count(); ++i) v.push_back(Columns()[i].Left());
        return v;
    }
};

using TreeColumns = ColumnFixture;

// A little-endian writer for expected stream bytes.
struct Bytes {
    std::string S;
    Bytes& I(int32_t v) {
        for (int k = 0; k < 4; ++k) S.push_back(char((uint32_t(v) >> (8 * k)) & 255));
        return *this;
    }
    Bytes& W(const std::u16string& t) {
        I(int32_t(t.size()));
        for (char16_t c : t) {
            S.push_back(char(c & 255));
            S.push_back(char(c >> 8));
        }
        return *this;
    }
    Bytes& A(const std::string& t) {
        for (char c : t) S.push_back(c);
        return *this;
    }
};

// Fields 1-17 of a column record.
Bytes& ColumnRecord(Bytes& b, const std::u16string& text, int width, int minWidth, int maxWidth,
                    int options, int tag = 0, int alignment = 0, int color = int(clWindow)) {
    return b.W(text)
        .W(u"")
        .I(width)
        .I(minWidth)
        .I(maxWidth)
        .I(0)
        .I(-1)
        .I(0)
        .I(4)
        .I(4)
        .I(0)
        .I(options)
        .I(tag)
        .I(alignment)
        .I(color);
}

} // namespace

TEST_F(TreeColumns, NewColumnsTakeTheNextPositionAndTheDefaultWidth) {
    for (int i = 0; i < 3; ++i) {
        TLazyTreeColumn* c = Columns().Add();
        EXPECT_EQ(c->Position(), TColumnPosition(i));
        EXPECT_EQ(c->Width(), 50);
        EXPECT_EQ(c->Options(), 0x08FF);
    }
    EXPECT_EQ(Columns().PositionMap(), (std::vector<TColumnIndex>{0, 1, 2}));
    EXPECT_EQ(Lefts(), (std::vector<int>{0, 50, 100}));
    EXPECT_EQ(Header().MainColumn(), 0);
}

TEST_F(TreeColumns, WidthLimitsThatCrossAndTheWidthFollowing) {
    TLazyTreeColumn& c = Add(100);
    c.SetMaxWidth(300);
    c.SetMinWidth(500); // above the maximum: the maximum
    EXPECT_EQ(c.MinWidth(), 300);
    EXPECT_EQ(c.Width(), 300);
    c.SetMinWidth(-4);
    EXPECT_EQ(c.MinWidth(), 0);
    c.SetMaxWidth(20);
    EXPECT_EQ(c.Width(), 20);
    c.SetMaxWidth(100);
    c.SetMinWidth(40);
    EXPECT_EQ(c.Width(), 40);
    c.SetMaxWidth(10); // below the minimum: the minimum
    EXPECT_EQ(c.MaxWidth(), 40);
    EXPECT_EQ(c.Width(), 40);
    c.SetMargin(-1);
    EXPECT_EQ(c.Margin(), 4);
}

TEST_F(TreeColumns, AutoSizeColumnKeepsItsWidthButStillReportsTheResize) {
    Tree->Handle();
    Add(100);
    Add(100);
    std::vector<TColumnIndex> resized;
    Tree->OnColumnResize = [&](TLTHeader&, TColumnIndex c) { resized.push_back(c); };
    Header().SetAutoSizeIndex(1);
    Header().SetOptions(Header().Options() | hoAutoResize);
    int client = Tree->ClientRect().Width();
    EXPECT_EQ(Columns()[1].Width(), client - 100); // the rest of the client
    resized.clear();
    Columns()[1].SetWidth(70);
    EXPECT_EQ(Columns()[1].Width(), client - 100);
    EXPECT_EQ(resized, (std::vector<TColumnIndex>{1}));
    Columns()[0].SetWidth(150); // another column: the auto-size column gives way
    EXPECT_EQ(Columns()[1].Width(), client - 150);
}

TEST_F(TreeColumns, FixedColumnsStayWithinTheirShareOfTheClient) {
    Tree->Handle();
    int client = Tree->ClientRect().Width();
    TLazyTreeColumn& a = Add(60, DefaultColumnOptions | coFixed);
    TLazyTreeColumn& b = Add(60, DefaultColumnOptions | coFixed);
    Header().FixedAreaConstraints().SetMaxWidthPercent(50);
    b.SetWidth(1000);
    EXPECT_EQ(b.Width(), client / 2 - a.Width());
    Header().FixedAreaConstraints().SetMaxWidthPercent(0);
    b.SetWidth(60);
    Header().FixedAreaConstraints().SetMinWidthPercent(40);
    b.SetWidth(10);
    EXPECT_EQ(b.Width(), client * 40 / 100 - a.Width());
}

// Limits set before the window exists bound the height once it is made.
TEST_F(TreeColumns, HeightSetWithoutAWindowIsBoundedWhenTheWindowIsMade) {
    struct Case {
        int maxHeight, maxPercent, height, expected;
    };
    for (auto c : {Case{30, 0, 80, 30}, Case{10000, 10, 80, 27}, Case{10000, 0, 80, 80}}) {
        Tree = NewComponent<TLazyStringTree>();
        Tree->SetBounds(0, 0, 400, 200);
        Header().SetMaxHeight(c.maxHeight);
        Header().FixedAreaConstraints().SetMaxHeightPercent(c.maxPercent);
        Header().SetHeight(c.height);
        ASSERT_TRUE(Header().States() & hsNeedScaling);
        Tree->Handle();
        EXPECT_EQ(Header().Height, c.expected) << c.maxHeight << " " << c.maxPercent;
        EXPECT_FALSE(Header().States() & hsNeedScaling);
    }
}

TEST(FixedAreaConstraints, MinimumAboveMaximumRaisesASetMaximumOnly) {
    TLTFixedAreaConstraints c(nullptr);
    int changes = 0;
    c.OnChange = [&] { ++changes; };
    c.SetMinWidthPercent(60);
    EXPECT_EQ(c.MaxWidthPercent(), 0);
    c.SetMaxWidthPercent(50);
    EXPECT_EQ(c.MinWidthPercent(), 50);
    c.SetMinWidthPercent(60);
    EXPECT_EQ(c.MaxWidthPercent(), 60);
    c.SetMaxHeightPercent(30);
    c.SetMinHeightPercent(20);
    EXPECT_EQ(c.MaxHeightPercent(), 30);
    EXPECT_EQ(changes, 5);
}

TEST_F(TreeColumns, ExplicitColourAndReadingOrderLeaveTheParentUntilAskedBack) {
    Tree->Color = clYellow;
    Tree->BiDiMode = bdRightToLeft;
    TLazyTreeColumn& c = Add(50);
    EXPECT_EQ(c.Color(), clYellow); // a new column follows the tree
    EXPECT_EQ(c.BiDiMode(), bdRightToLeft);
    c.SetColor(clRed);
    c.SetBiDiMode(bdLeftToRight);
    EXPECT_FALSE(c.Options() & coParentColor);
    EXPECT_FALSE(c.Options() & coParentBidiMode);
    c.SetOptions(c.Options() | coParentColor | coParentBidiMode);
    EXPECT_EQ(c.Color(), clYellow);
    EXPECT_EQ(c.BiDiMode(), bdRightToLeft);
    EXPECT_TRUE(c.IsRightToLeftReading());
    c.SetCaptionAlignment(taCenter);
    EXPECT_TRUE(c.Options() & coUseCaptionAlignment);
    EXPECT_EQ(c.CaptionAlignment(), taCenter);
}

TEST_F(TreeColumns, DisplayNames) {
    for (int i = 0; i < 4; ++i) Add(50);
    Columns()[3].SetText(u"Давление");
    EXPECT_EQ(Columns()[3].GetDisplayName(), "Column 3");
    Columns()[2].SetText(u"Name");
    EXPECT_EQ(Columns()[2].GetDisplayName(), "Name");
    EXPECT_EQ(Columns()[1].GetDisplayName(), "");
}

TEST_F(TreeColumns, LeftsTotalWidthAndHitsWithAHiddenMiddleColumn) {
    Add(100);
    Add(50, DefaultColumnOptions & ~coVisible);
    Add(80);
    EXPECT_EQ(Lefts(), (std::vector<int>{0, 100, 100}));
    EXPECT_EQ(Columns().TotalWidth(), 180);
    struct Case {
        int x;
        TColumnIndex column;
    };
    for (auto c : {Case{0, 0}, Case{99, 0}, Case{100, 2}, Case{179, 2}, Case{180, InvalidColumn},
                   Case{-1, InvalidColumn}})
        EXPECT_EQ(Columns().ColumnAtPoint({c.x, 5}), c.column) << c.x;
    EXPECT_EQ(Columns().ColumnAtPoint({10, -1}), InvalidColumn);
    EXPECT_EQ(Columns().ColumnAtPosition(3), NoColumn);
}

TEST_F(TreeColumns, MovesAndDeletesKeepThePositionMapAPermutation) {
    for (int i = 0; i < 3; ++i) Add(10 + 10 * i);
    Columns()[0].SetPosition(2);
    EXPECT_EQ(Columns().PositionMap(), (std::vector<TColumnIndex>{1, 2, 0}));
    EXPECT_EQ(Columns()[0].Position(), 2u);
    EXPECT_EQ(Lefts(), (std::vector<int>{50, 0, 20}));
    Columns()[0].SetPosition(99); // beyond the last: the last
    EXPECT_EQ(Columns()[0].Position(), 2u);
    Columns()[0].SetPosition(0);
    Columns()[2].SetPosition(0);
    Columns()[1].SetPosition(1);
    ASSERT_EQ(Columns().PositionMap(), (std::vector<TColumnIndex>{2, 1, 0}));
    Columns().Delete(1);
    EXPECT_EQ(Columns().PositionMap(), (std::vector<TColumnIndex>{1, 0}));
    EXPECT_EQ(Lefts(), (std::vector<int>{30, 0}));
}

TEST_F(TreeColumns, ANewIndexMovesTheColumnWithinItsCollection) {
    struct Case {
        TColumnIndex from, to;
        std::vector<int> widthsByIndex, lefts;
    };
    // The position map names places by index, so the screen order follows the new indices.
    for (const Case& c :
         {Case{2, 0, {30, 10, 20}, {0, 30, 40}}, Case{0, 2, {20, 30, 10}, {0, 20, 50}},
          Case{1, 1, {10, 20, 30}, {0, 10, 30}}, Case{1, 3, {10, 20, 30}, {0, 10, 30}},
          Case{1, -1, {10, 20, 30}, {0, 10, 30}}}) {
        Columns().Clear();
        for (int i = 0; i < 3; ++i) Add(10 + 10 * i);
        TLazyTreeColumn& moved = Columns()[c.from];
        moved.SetIndex(c.to);
        std::vector<int> widths;
        for (int i = 0; i < 3; ++i) widths.push_back(Columns()[i].Width());
        EXPECT_EQ(widths, c.widthsByIndex) << c.from << "->" << c.to;
        EXPECT_EQ(Lefts(), c.lefts) << c.from << "->" << c.to;
        EXPECT_EQ(moved.Index(), Columns().IsValidColumn(c.to) ? c.to : c.from);
        EXPECT_EQ(Columns().PositionMap(), (std::vector<TColumnIndex>{0, 1, 2}));
    }
}

TEST_F(TreeColumns, AColumnMovesToTheEndOfAnotherCollection) {
    auto other = NewComponent<TLazyStringTree>();
    other->Header().Columns().Add();
    for (int i = 0; i < 3; ++i) Add(10 + 10 * i);
    Header().SetSortColumn(2);
    TLazyTreeColumn& moved = Columns()[1];
    moved.SetCollection(&other->Header().Columns());
    EXPECT_EQ(Columns().Count(), 2);
    EXPECT_EQ(Columns().PositionMap(), (std::vector<TColumnIndex>{0, 1}));
    EXPECT_EQ(Header().SortColumn, 1); // still the same column
    EXPECT_EQ(Lefts(), (std::vector<int>{0, 10}));
    EXPECT_EQ(moved.Owner(), &other->Header().Columns());
    EXPECT_EQ(moved.Index(), 1);
    EXPECT_EQ(moved.Position(), 1u);
    EXPECT_EQ(moved.Left(), other->Header().Columns()[0].Width());
    // Without a collection the column would have no owner: refused, nothing moves.
    EXPECT_THROW(moved.SetCollection(nullptr), EListError);
    EXPECT_EQ(other->Header().Columns().Count(), 2);
}

TEST_F(TreeColumns, JoiningLeavingAndDeletingReachTheCollectionHooks) {
    struct Logging : TLazyTreeColumns {
        using TLazyTreeColumns::TLazyTreeColumns;
        std::string Log;
        void Added(TCollectionItem& c) override { Log += "+" + std::to_string(c.Index()); }
        void Deleting(TCollectionItem& c) override { Log += "-" + std::to_string(c.Index()); }
        void SetItemName(TCollectionItem& c) override { Log += "n" + std::to_string(c.Index()); }
    } logging(&Header());
    logging.Add();
    logging.Add();
    Add(10).SetCollection(&logging);      // joins: named like an added column
    logging[0].SetCollection(&Columns()); // leaves without being destroyed: no deleting
    logging.Delete(1);
    EXPECT_EQ(logging.Log, "+0n0+1n1+2n2-1");
}

TEST_F(TreeColumns, AColumnMovedBesideTheFixedAreaJoinsIt) {
    Add(50, DefaultColumnOptions | coFixed);
    Add(50);
    Add(50);
    Columns()[2].SetPosition(0);
    EXPECT_TRUE(Columns()[2].Options() & coFixed);
    Columns()[0].SetPosition(
        2); // the fixed one moved among the scrolled ones leaves the fixed area
    EXPECT_FALSE(Columns()[0].Options() & coFixed);
}

TEST_F(TreeColumns, DeletingColumnsAdjustsTheIndicesThatNameThem) {
    for (int i = 0; i < 4; ++i) Add(50);
    Header().SetMainColumn(2);
    Header().SetSortColumn(3);
    Columns().Delete(0); // left of both: they shift down and name the same columns
    EXPECT_EQ(Header().MainColumn(), 1);
    EXPECT_EQ(Header().SortColumn, 2);
    Columns().Delete(1); // the main column itself: the first one takes over
    EXPECT_EQ(Header().MainColumn(), 0);
    EXPECT_EQ(Header().SortColumn, 1);
    Columns().Delete(1);
    EXPECT_EQ(Header().SortColumn, NoColumn);
    Columns().Delete(0);
    EXPECT_EQ(Header().MainColumn(), NoColumn);
}

TEST_F(TreeColumns, VisibleNavigationInScreenOrder) {
    Add(50);
    Add(50, DefaultColumnOptions & ~coAllowFocus);
    Add(50, DefaultColumnOptions & ~coVisible);
    Add(50);
    EXPECT_EQ(Columns().NextVisibleColumn(0), 1);
    EXPECT_EQ(Columns().NextVisibleColumn(0, true), 3);
    EXPECT_EQ(Columns().NextVisibleColumn(3), InvalidColumn);
    EXPECT_EQ(Columns().PreviousVisibleColumn(3, true), 0);
    EXPECT_EQ(Columns().FirstVisibleColumn(), 0);
    EXPECT_EQ(Columns().LastVisibleColumn(), 3);
    Columns()[3].SetPosition(0);
    EXPECT_EQ(Columns().FirstVisibleColumn(), 3);
    EXPECT_EQ(Columns().NextColumn(-1), InvalidColumn);
    EXPECT_EQ(Columns().VisibleColumns().size(), 3u);
}

namespace {

class SortProbeTree : public TLazyStringTree {
public:
    using TLazyStringTree::TLazyStringTree;
    std::vector<std::pair<TColumnIndex, TSortDirection>> Sorts;
    void SortTree(TColumnIndex column, TSortDirection direction, bool) override {
        Sorts.push_back({column, direction});
    }
};

} // namespace

TEST(HeaderSort, SortColumnIsClampedAndAutoSortRunsOutsideUpdates) {
    SetMainThread();
    auto tree = NewComponent<SortProbeTree>();
    TLTHeader& h = tree->Header();
    for (int i = 0; i < 3; ++i) h.Columns().Add();
    struct Case {
        TColumnIndex in, out;
    };
    for (auto c : {Case{-5, -1}, Case{1, 1}, Case{7, 2}, Case{-1, -1}}) {
        h.SetSortColumn(c.in);
        EXPECT_EQ(h.SortColumn, c.out) << c.in;
    }
    EXPECT_TRUE(tree->Sorts.empty());
    tree->TreeOptions().SetAutoOptions(tree->TreeOptions().AutoOptions() | toAutoSort);
    h.SetSortColumn(1);
    h.SetSortDirection(sdDescending);
    tree->BeginUpdate();
    h.SetSortColumn(2);
    tree->EndUpdate();
    EXPECT_EQ(tree->Sorts, (std::vector<std::pair<TColumnIndex, TSortDirection>>{
                               {1, sdAscending}, {1, sdDescending}}));
}

TEST_F(TreeColumns, ResizeDistributionSharesPixelsAndStopsAtTheLimits) {
    for (int i = 0; i < 3; ++i) Add(100);
    EXPECT_EQ(Header().ResizeColumns(5, 0, 2), 5);
    EXPECT_EQ(Columns()[0].Width() + Columns()[1].Width() + Columns()[2].Width(), 305);
    for (int i = 0; i < 3; ++i) EXPECT_GE(Columns()[i].Width(), 101);
    EXPECT_EQ(Columns()[0].Width(), 102);
    // The next odd pixel goes to the column that had none.
    EXPECT_EQ(Header().ResizeColumns(1, 0, 2), 1);
    EXPECT_EQ(Columns()[2].Width(), 102);
    // More than the room: only the room.
    for (int i = 0; i < 3; ++i) Columns()[i].SetMaxWidth(110);
    EXPECT_EQ(Header().ResizeColumns(100, 0, 2), 330 - 306);
    EXPECT_EQ(Header().ResizeColumns(-1000, 0, 2), 30 - 330);
    EXPECT_EQ(Columns()[0].Width(), 10);
    EXPECT_EQ(Header().ResizeColumns(0, 0, 2), 0);
}

TEST_F(TreeColumns, DistributedResizeIsNotReportedColumnByColumn) {
    Tree->Handle();
    for (int i = 0; i < 3; ++i) Add(100);
    int reports = 0;
    Tree->OnColumnResize = [&](TLTHeader&, TColumnIndex) { ++reports; };
    EXPECT_EQ(Header().ResizeColumns(9, 0, 2), 9);
    EXPECT_EQ(reports, 0);
    Columns()[0].SetWidth(50);
    EXPECT_EQ(reports, 1);
}

TEST_F(TreeColumns, AnimatedResizeEndsAtTheClampedWidth) {
    UseVirtualClock(TDateTime(46000.0));
    Tree->Handle();
    Add(100).SetMaxWidth(150);
    Add(60);
    int resized = 0;
    Tree->OnColumnResize = [&](TLTHeader&, TColumnIndex) { ++resized; };
    Columns().AnimatedResize(0, 5000);
    EXPECT_EQ(Columns()[0].Width(), 150);
    EXPECT_EQ(Columns()[1].Left(), 150);
    EXPECT_EQ(resized, 1);
    Columns().AnimatedResize(0, 1);
    EXPECT_EQ(Columns()[0].Width(), 10);
    Columns().AnimatedResize(7, 50); // no such column: nothing
    Columns()[0].RestoreLastWidth();
    EXPECT_EQ(Columns()[0].Width(), 150);
    UseRealClock();
}

TEST_F(TreeColumns, ClickReleasedOverAnotherColumnHitsNothing) {
    Add(100);
    Add(100);
    std::vector<TLTHeaderHitInfo> clicks;
    Tree->OnHeaderClick = [&](TLTHeader&, TLTHeaderHitInfo i) { clicks.push_back(i); };
    Columns().DownIndex = 0;
    int h = Header().Height;
    Columns().HandleHeaderClick({150, 5 - h}, mbLeft, false, false);
    Columns().HandleHeaderClick({150, 5 - h}, mbLeft, true, false);
    Columns().HandleHeaderClick({50, 5 - h}, mbLeft, false, false);
    ASSERT_EQ(clicks.size(), 3u);
    EXPECT_EQ(clicks[0].Column, NoColumn);
    EXPECT_EQ(clicks[0].HitPosition, hpNowhere);
    EXPECT_EQ(clicks[1].Column, 1);
    EXPECT_EQ(clicks[1].HitPosition, hpOnColumn);
    EXPECT_EQ(clicks[2].Column, 0);
    EXPECT_EQ(Columns().ClickIndex, 0);
}

// --- stream records
// -------------------------------------------------------------------------------

TEST_F(TreeColumns, ColumnAndHeaderRecordsAreByteExact) {
    TLazyTreeColumn& c = Add(120);
    c.SetText(u"Ab");
    c.Hint = std::u16string(1, u'H');
    c.Tag = 7;
    c.SetCaptionAlignment(taRightJustify);
    Add(40);
    Columns()[1].SetPosition(0);
    Header().SetSortColumn(0);
    std::ostringstream out;
    Header().SaveToStream(out);

    Bytes b;
    b.I(-1).I(6).I(2);
    b.W(u"Ab").W(u"H").I(120).I(10).I(10000).I(0).I(-1).I(0).I(4).I(4).I(0).I(
        0x08FF | coUseCaptionAlignment);
    b.I(7).I(0).I(int(Tree->Color)).I(taRightJustify); // the colour follows the tree
    ColumnRecord(b, u"", 40, 10, 10000, 0x08FF, 0, 0, int(Tree->Color));
    b.I(1).I(0).I(50); // positions, default width
    b.I(0).I(int(clBtnFace)).I(17).I(hoColumnResize | hoDrag | hoShowSortGlyphs).I(0); // auto size
                                                                                       // .. style
    b.I(int(clWindowText)).I(-11).I(11).A("DejaVu Sans").I(0).I(0);                    // font
    b.I(0).I(0).I(0).I(0).I(10000).I(10).I(17).I(0).I(0).I(0).I(0);
    EXPECT_EQ(out.str(), b.S);

    // And it reads back into an equal header.
    auto other = NewComponent<TLazyStringTree>();
    std::istringstream in(out.str());
    other->Header().LoadFromStream(in);
    EXPECT_TRUE(other->Header().Columns().SameAs(Columns()));
    EXPECT_EQ(other->Header().SortColumn, 0);
    EXPECT_EQ(other->Header().Columns()[0].CaptionAlignment(), taRightJustify);
}

TEST_F(TreeColumns, OlderColumnRecordsConvertTheirOptions) {
    struct Case {
        int version;
        int stored;
        TLTColumnOptions loaded;
    };
    // Before version 2 bits 4-6 were resizable, drop mark and visible; version 2 kept eight bits.
    for (auto c : {Case{0, 0x7F, 0x0F | coResizable | coShowDropMark | coVisible},
                   Case{1, 0xFF0F, 0x0F}, Case{2, 0xFFFF, 0xFF}, Case{3, 0x1FFFF, 0xFFFF}}) {
        Bytes b;
        b.W(u"x").W(u"").I(80).I(10).I(10000).I(0).I(-1).I(0).I(4).I(4).I(0).I(c.stored);
        if (c.version >= 1) b.I(3).I(taCenter);
        if (c.version >= 2) b.I(int(Tree->Color)); // the tree's: the parent colour stays
        TLazyTreeColumn& col = Add(50);
        std::istringstream in(b.S);
        col.LoadFromStream(in, c.version);
        EXPECT_EQ(col.Options(), c.loaded) << c.version;
        EXPECT_EQ(in.peek(), EOF) << c.version;
        EXPECT_EQ(col.Tag, c.version >= 1 ? 3 : 0);
    }
}

TEST_F(TreeColumns, CollectionRecordsBeforeVersionFiveEndAfterThePositions) {
    for (int version : {4, 5}) {
        Bytes b;
        b.I(2);
        ColumnRecord(b, u"a", 60, 10, 10000, 0x08FF);
        ColumnRecord(b, u"b", 70, 10, 10000, 0x08FF);
        b.I(1).I(0);
        if (version >= 5) b.I(33);
        std::istringstream in(b.S);
        Columns().DefaultWidth = 50;
        Columns().LoadFromStream(in, version);
        EXPECT_EQ(in.peek(), EOF);
        EXPECT_EQ(Columns().Count(), 2);
        EXPECT_EQ(Columns().DefaultWidth, version >= 5 ? 33 : 50);
        EXPECT_EQ(Lefts(), (std::vector<int>{70, 0}));
    }
}

TEST_F(TreeColumns, HeaderRecordWithoutMarkerIsTheOldestLayout) {
    Bytes b;
    b.I(1);
    b.W(u"old").W(u"").I(90).I(10).I(10000).I(0).I(-1).I(0).I(4).I(4).I(0).I(
        0x7F); // no tag, alignment, colour
    b.I(0);    // the position array, no default width
    b.I(0).I(int(clGray)).I(21).I(hoVisible | hoDrag).I(hsPlates);
    b.I(int(clBlue)).I(-12).I(4).A("Mono").I(0).I(fsBold);
    b.I(12345); // not read: the oldest layout has nothing more
    std::istringstream in(b.S);
    Header().SortColumn = NoColumn;
    Header().LoadFromStream(in);
    EXPECT_EQ(Columns().Count(), 1);
    EXPECT_EQ(Columns()[0].Text(), u"old");
    EXPECT_TRUE(Columns()[0].Options() & coVisible);
    EXPECT_EQ(Header().Background(), clGray);
    EXPECT_EQ(Header().Height, 21);
    EXPECT_EQ(Header().Options(), hoVisible | hoDrag);
    EXPECT_EQ(Header().Style(), hsPlates);
    EXPECT_EQ(Header().Font().Name, "Mono");
    EXPECT_EQ(Header().Font().Style, unsigned(fsBold));
    EXPECT_EQ(Header().SortColumn, NoColumn);
    EXPECT_FALSE(Header().States() & hsLoading);
    EXPECT_EQ(in.tellg(), std::streampos(b.S.size() - 4));
}

TEST_F(TreeColumns, DamagedRecordsAreRefusedWithAClearError) {
    Bytes good;
    good.I(-1).I(6).I(1);
    ColumnRecord(good, u"a", 60, 10, 10000, 0x08FF);
    good.I(0).I(50);
    struct Case {
        const char* what;
        std::string bytes;
    };
    Bytes hugeCount, hugeText, badPosition, doubled;
    hugeCount.I(-1).I(6).I(0x7FFFFFFF);
    hugeText.I(-1).I(6).I(1).I(0x40000000);
    badPosition.I(-1).I(6).I(1);
    ColumnRecord(badPosition, u"a", 60, 10, 10000, 0x08FF).I(5).I(50);
    doubled.I(-1).I(6).I(2);
    ColumnRecord(doubled, u"a", 60, 10, 10000, 0x08FF);
    ColumnRecord(doubled, u"b", 60, 10, 10000, 0x08FF).I(0).I(0).I(50);
    for (const Case& c : {Case{"count", hugeCount.S}, Case{"text length", hugeText.S},
                          Case{"position", badPosition.S}, Case{"doubled position", doubled.S},
                          Case{"truncated", good.S}, Case{"empty", ""}}) {
        std::istringstream in(c.bytes);
        EXPECT_THROW(Header().LoadFromStream(in), EColumnStreamError) << c.what;
        EXPECT_FALSE(Header().States() & hsLoading) << c.what;
        const auto& map = Columns().PositionMap();
        EXPECT_EQ(int(map.size()), Columns().Count()) << c.what;
    }
}

// A count below one is no columns; the default width still follows it.
TEST_F(TreeColumns, NegativeColumnCountReadsNoColumns) {
    Add(60);
    Bytes b;
    b.I(-3).I(33);
    std::istringstream in(b.S);
    Columns().LoadFromStream(in, 6);
    EXPECT_EQ(Columns().Count(), 0);
    EXPECT_EQ(Columns().DefaultWidth, 33);
    EXPECT_EQ(in.peek(), EOF);
}

// A stream that cannot seek tells no size, so a length it gives cannot be
// checked first: read in pieces, a stream that ends early fails having taken
// no more than it held.
TEST_F(TreeColumns, LengthsFromAnUnseekableStreamAreReadInPieces) {
    struct TPipe : std::streambuf {
        explicit TPipe(std::string s) : Data(std::move(s)) {
            setg(Data.data(), Data.data(), Data.data() + Data.size());
        }
        std::streamsize xsgetn(char* p, std::streamsize n) override {
            Largest = std::max(Largest, n);
            return std::streambuf::xsgetn(p, n);
        }
        std::string Data;
        std::streamsize Largest = 0;
    };
    const int32_t huge = 0x01000000;
    Bytes caption, hint, font;
    caption.I(-1).I(6).I(1).I(huge).A("abcd");
    hint.I(-1).I(6).I(1).W(u"a").I(huge).A("ab");
    font.I(-1).I(6).I(0).I(50).I(0).I(int(clBtnFace)).I(17).I(0).I(0).I(0).I(-11).I(huge).A("Mo");
    for (const Bytes* b : {&caption, &hint, &font}) {
        TPipe pipe(b->S);
        std::istream in(&pipe);
        EXPECT_THROW(Header().LoadFromStream(in), EColumnStreamError);
        EXPECT_LE(pipe.Largest, 1 << 20);
    }
}

// A column narrower than the default minimum (or wider than the default
// maximum) must come back as it was saved, not clamped by the limits a fresh
// column starts with.
TEST_F(TreeColumns, ColumnRecordKeepsWidthsOutsideTheDefaultLimits) {
    struct Case {
        int width, minWidth, maxWidth;
    };
    for (auto c : {Case{5, 0, 100}, Case{15000, 10, 20000}, Case{10, 10, 10}}) {
        Bytes b;
        ColumnRecord(b, u"w", c.width, c.minWidth, c.maxWidth, 0x08FF);
        TLazyTreeColumn& col = Add(50);
        std::istringstream in(b.S);
        col.LoadFromStream(in, 6);
        EXPECT_EQ(col.Width(), c.width);
        EXPECT_EQ(col.MinWidth(), c.minWidth);
        EXPECT_EQ(col.MaxWidth(), c.maxWidth);
    }
}

// The stored colour goes through the colour setter: the tree's own colour
// leaves a column following the tree, any other becomes the column's own.
TEST_F(TreeColumns, ColumnRecordColourGoesThroughTheSetter) {
    Tree->Color = clAqua;
    struct Case {
        TLTColumnOptions options;
        TColor stored, loaded;
        bool follows;
    };
    for (auto c : {Case{0x08FF, clAqua, clAqua, true}, Case{0x08FF, clRed, clRed, false},
                   Case{0x08FF & ~coParentColor, clRed, clRed, false}}) {
        Bytes b;
        ColumnRecord(b, u"c", 50, 10, 10000, c.options, 0, 0, int(c.stored));
        TLazyTreeColumn& col = Add(50);
        std::istringstream in(b.S);
        col.LoadFromStream(in, 6);
        EXPECT_EQ(col.Color(), c.loaded);
        EXPECT_EQ(bool(col.Options() & coParentColor), c.follows);
    }
}

// Reading is done with the options cleared; a stream that breaks off before
// the options field must give the header its options back.
TEST_F(TreeColumns, BrokenHeaderRecordKeepsTheHeaderOptions) {
    Header().SetOptions(hoVisible | hoAutoResize | hoDrag);
    Bytes cut;
    cut.I(-1).I(6).I(0).I(50).I(0).I(int(clBtnFace)); // ends before the height
    for (const std::string& bytes : {cut.S, std::string("\xFF\xFF")}) {
        std::istringstream in(bytes);
        EXPECT_THROW(Header().LoadFromStream(in), EColumnStreamError);
        EXPECT_EQ(Header().Options(), hoVisible | hoAutoResize | hoDrag);
    }
}

// The default width is read from streams: a value outside a column's limits
// must not make columns narrower than their minimum (or negative).
TEST_F(TreeColumns, NewColumnsKeepTheirLimitsWhateverTheDefaultWidth) {
    struct Case {
        int defaultWidth, width;
    };
    for (auto c : {Case{-20, 10}, Case{4, 10}, Case{70, 70}, Case{20000, 10000}}) {
        Columns().DefaultWidth = c.defaultWidth;
        EXPECT_EQ(Columns().Add()->Width(), c.width) << c.defaultWidth;
    }
    EXPECT_GE(Columns().TotalWidth(), 0);
}

// The window's own size changes drive the springs, from the width it was made with.
TEST_F(TreeColumns, SpringColumnsShareWidthChangesWithTheirRemainders) {
    Tree->Handle();
    TLazyTreeColumn& a = Add(100, DefaultColumnOptions | coAutoSpring);
    Add(100);
    TLazyTreeColumn& b = Add(100, DefaultColumnOptions | coAutoSpring);
    Header().SetOptions(Header().Options() | hoAutoSpring);
    int width = Tree->Width();
    struct Step {
        int grow, a, b;
    };
    for (auto s : {Step{5, 102, 102}, Step{1, 103, 103}, Step{-3, 102, 102}}) {
        width += s.grow;
        Tree->SetBounds(0, 0, width, 200);
        EXPECT_EQ(a.Width(), s.a) << s.grow;
        EXPECT_EQ(b.Width(), s.b) << s.grow;
    }
    EXPECT_EQ(Columns()[1].Width(), 100);
}

TEST_F(TreeColumns, AutoSizeColumnFollowsTheWindowSize) {
    Tree->Handle();
    Add(100);
    Add(100);
    Header().SetAutoSizeIndex(1);
    Header().SetOptions(Header().Options() | hoAutoResize);
    Tree->SetBounds(0, 0, 300, 200);
    EXPECT_EQ(Columns()[1].Width(), Tree->ClientRect().Width() - 100);
    EXPECT_EQ(Columns().TotalWidth(), Tree->ClientRect().Width());
}

// The tree read from and written to a form resource: its properties, the
// header's and the columns', the old single option set, and the end of
// loading that makes recorded column positions and widths real.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

struct FormFixture : ::testing::Test {
    std::unique_ptr<TLazyStringTree> Tree;
    void SetUp() override {
        SetMainThread();
        Tree = NewComponent<TLazyStringTree>();
        Tree->SetBounds(0, 0, 400, 200);
    }
    void TearDown() override { Tree.reset(); }
    TLazyTreeColumns& Columns() { return Tree->Header().Columns(); }
};

using TreeForm = FormFixture;

// Positions and widths set while loading are only recorded; the end of
// loading builds the position map from them and fits the auto-size column.
TEST_F(TreeForm, LoadedAppliesRecordedColumnPositions) {
    struct Case {
        std::vector<TColumnPosition> positions;
        bool autoResize, bidiOrdering, rightToLeft;
        std::vector<TColumnIndex> map;
        int autoWidth; // the last column's width afterwards
    };
    for (const Case& c : {
             Case{{2, 0, 1}, false, false, false, {1, 2, 0}, 60},
             Case{{1, 0, 2}, true, false, false, {1, 0, 2}, 400 - 50 - 50},
             Case{{2, 0, 1}, false, true, true, {2, 1, 0}, 60},
         }) {
        Tree = NewComponent<TLazyStringTree>();
        Tree->SetBounds(0, 0, 400, 200);
        Tree->ComponentState |= csLoading;
        if (c.rightToLeft) Tree->BiDiMode = bdRightToLeft;
        if (c.bidiOrdering)
            Tree->TreeOptions().SetAutoOptions(Tree->TreeOptions().AutoOptions() |
                                               toAutoBidiColumnOrdering);
        Tree->Header().SetOptions(Tree->Header().Options() | (c.autoResize ? hoAutoResize : 0));
        Tree->Header().SetAutoSizeIndex(2);
        for (size_t i = 0; i < c.positions.size(); ++i) {
            TLazyTreeColumn* col = Columns().Add();
            col->SetWidth(i == 2 ? 60 : 50);
            col->SetPosition(c.positions[i]);
        }
        Tree->Loaded();
        EXPECT_EQ(Columns().PositionMap(), c.map) << c.positions[0];
        EXPECT_EQ(Columns()[2].Width(), c.autoWidth) << c.positions[0];
        TColumnIndex first = c.map[0];
        EXPECT_EQ(Columns()[first].Left(), 0);
        EXPECT_EQ(Columns()[c.map[1]].Left(), Columns()[first].Width());
    }
}

} // namespace

// The old single option set of stored forms, scaling with the form and the
// animation loop (on the loop's virtual clock).

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include "TreeProbe.h"
#include "common/CommaLocale.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

struct WindowFixture : ::testing::Test {
    std::unique_ptr<TTreeProbe> Tree;
    void SetUp() override {
        SetMainThread();
        EnsureGuiToolkit();
        UseVirtualClock(45000.0, 1000);
        Tree = NewComponent<TTreeProbe>();
    }
    void TearDown() override {
        Tree.reset();
        UseRealClock();
    }
};

} // namespace

TEST_F(WindowFixture, OldOptionSetReplacesAllOptionSets) {
    auto& o = Tree->TreeOptions();
    Tree->ReadOldOptions({"voShowRoot", "voMultiSelect", "voNoSuchOption", "voAcceptOLEDrop",
                          "voAutoSort", "voAnimatedToggle"});
    EXPECT_EQ(o.PaintOptions(), TLTPaintOptions(toShowRoot));
    EXPECT_EQ(o.SelectionOptions(), TLTSelectionOptions(toMultiSelect));
    EXPECT_EQ(o.MiscOptions(), TLTMiscOptions(toAcceptOLEDrop));
    EXPECT_EQ(o.AutoOptions(), TLTAutoOptions(toAutoSort));
    EXPECT_EQ(o.AnimationOptions(), TLTAnimationOptions(toAnimatedToggle));
    Tree->ReadOldOptions({});
    EXPECT_EQ(o.PaintOptions(), TLTPaintOptions(0));
    EXPECT_EQ(o.SelectionOptions(), TLTSelectionOptions(0));
}

TEST_F(WindowFixture, ScalingFollowsTheFormWithAutoChangeScale) {
    auto& o = Tree->TreeOptions();
    o.SetAutoOptions(o.AutoOptions() | toAutoChangeScale);
    Tree->ChangeScale(120, 96);
    EXPECT_EQ(Tree->DefaultNodeHeight(), 23u); // 22.5 rounds up
    Tree->ChangeScale(96, 96);
    EXPECT_EQ(Tree->DefaultNodeHeight(), 23u);
    o.SetAutoOptions(o.AutoOptions() & ~toAutoChangeScale);
    Tree->ChangeScale(2, 1);
    EXPECT_EQ(Tree->DefaultNodeHeight(), 23u);
    o.SetAutoOptions(o.AutoOptions() | toAutoChangeScale);
    Tree->ChangeScale(1, 0); // a zero divisor changes nothing
    EXPECT_EQ(Tree->DefaultNodeHeight(), 23u);
}

TEST_F(WindowFixture, AnimationStepsSpreadOverTheDuration) {
    struct Case {
        uint32_t steps, duration;
        size_t calls; // including the final call
        uint32_t firstStepSize;
    };
    // 100 steps in 50 ms: 50 steps of 2; with a step that runs out of steps and time together.
    for (const Case& c : {Case{100, 50, 51, 2}, Case{10, 100, 11, 1}, Case{3, 2, 2, 2},
                          Case{1, 1, 2, 1}, Case{5, 0, 0, 0}}) {
        std::vector<uint32_t> sizes;
        Tree->Animate(
            c.steps, c.duration,
            [&](uint32_t, uint32_t stepSize, void*) {
                sizes.push_back(stepSize);
                return true;
            },
            nullptr);
        EXPECT_EQ(sizes.size(), c.calls) << c.steps << "/" << c.duration;
        if (!sizes.empty()) {
            EXPECT_EQ(sizes.front(), c.firstStepSize) << c.steps << "/" << c.duration;
        }
        EXPECT_FALSE(Tree->HasState(tsInAnimation));
    }
    // A callback that answers False ends the loop; the picture is finished once more.
    int calls = 0;
    Tree->Animate(
        10, 100, [&](uint32_t, uint32_t, void*) { return ++calls < 3; }, nullptr);
    EXPECT_EQ(calls, 4);
}

// A program that draws trees without windows of its own starts the toolkit
// on first use; under a user's locale with a decimal comma its number texts
// still have a point.
TEST_F(WindowFixture, NumbersKeepTheirPointUnderACommaLocale) {
    if (!UnderCommaLocale())
        return RunUnderCommaLocale("WindowFixture.NumbersKeepTheirPointUnderACommaLocale");
    ExpectNumbersKeepTheirPoint();
}

// The validation thread and the position cache: what the thread tells a
// tree, when it lets go of it, and the node found at a vertical position.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Worker.h"

#include "platform/EventLoop.h"

#include "TreeProbe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <thread>

using namespace nuq;

namespace {

constexpr uint32_t Threshold = TBaseLazyTree::CacheThreshold;

using TChanges = std::vector<std::pair<TLazyTreeStates, TLazyTreeStates>>;

bool PumpUntil(const std::function<bool()>& done) {
    return ProcessMessagesUntil(done, 60000);
}

// The thread has neither the tree queued nor in hand.
bool LetGo(TBaseLazyTree* tree) {
    TWorkerThread* w = WorkerThread();
    return !w || (w->CurrentTree() != tree && w->Waiting() == 0);
}

// Lets the thread's first message in and no other: the tree is then being
// validated, and the thread's final message waits for the next message pass.
void StartValidating(TBaseLazyTree& tree) {
    tree.ValidateCache();
    while (WorkerThread()->CurrentTree() != &tree) std::this_thread::yield();
    while (!tree.HasState(tsValidating)) {
        TMsg m;
        PeekMessage(m, tree.WindowHandle(), 0, 0, PM_NOREMOVE);
        std::this_thread::yield();
    }
}

// Top-level nodes of the given heights; the expected display list alongside.
struct TFlatTree {
    std::unique_ptr<TTreeProbe> Tree = NewComponent<TTreeProbe>();
    std::vector<PLazyNode> Nodes;
    std::vector<uint32_t> Tops;
    explicit TFlatTree(uint32_t count) {
        uint32_t top = 0;
        Tree->BeginUpdate();
        for (uint32_t i = 0; i < count; ++i) {
            Tree->SetDefaultNodeHeight(10 + i % 7 * 5);
            Nodes.push_back(Tree->AddChild(nullptr));
            Tops.push_back(top);
            top += Tree->DefaultNodeHeight();
        }
        Tree->EndUpdate();
    }
};

} // namespace

// Every 2000th shown node with its top, and no cache up to 2000 visible nodes.
TEST(PositionCache, EntriesHoldEvery2000thNodeWithItsTop) {
    SetMainThread();
    struct Case {
        uint32_t count;
        std::vector<uint32_t> entries; // display numbers of the cached nodes
    };
    for (const Case& c :
         {Case{1, {}}, Case{Threshold, {}}, Case{Threshold + 1, {0, 2000}},
          Case{2 * Threshold, {0, 2000}}, Case{2 * Threshold + 1, {0, 2000, 4000}}}) {
        TFlatTree t(c.count);
        t.Tree->DoStateChange(0, TS(tsStopValidation)); // as the thread's queue leaves it
        EXPECT_EQ(t.Tree->DoValidateCache(), !c.entries.empty()) << c.count;
        const auto& cache = t.Tree->PositionCache();
        ASSERT_EQ(cache.size(), c.entries.size()) << c.count;
        for (size_t i = 0; i < cache.size(); ++i) {
            EXPECT_EQ(cache[i].Node, t.Nodes[c.entries[i]]) << c.count << " entry " << i;
            EXPECT_EQ(cache[i].AbsoluteTop, t.Tops[c.entries[i]]) << c.count << " entry " << i;
        }
    }
}

// Both look-ups give the last entry at or before what they are asked for.
TEST(PositionCache, LookupsByNodeAndByPositionFindTheEntryBefore) {
    SetMainThread();
    TFlatTree t(2 * Threshold + 500);
    t.Tree->DoStateChange(0, TS(tsStopValidation));
    ASSERT_TRUE(t.Tree->DoValidateCache());
    for (uint32_t asked : {0u, 1999u, 2000u, 2001u, 3999u, 4000u, 4499u}) {
        const uint32_t entry = asked / Threshold * Threshold;
        uint32_t top = 1;
        EXPECT_EQ(t.Tree->FindInPositionCache(t.Nodes[asked], top), t.Nodes[entry]) << asked;
        EXPECT_EQ(top, t.Tops[entry]) << asked;
        EXPECT_EQ(t.Tree->FindInPositionCache(t.Tops[asked], top), t.Nodes[entry]) << asked;
        EXPECT_EQ(top, t.Tops[entry]) << asked;
    }
}

TEST(PositionCache, ChildrenOfACollapsedNodeTakeNoEntries) {
    SetMainThread();
    // Children of a collapsed node are not shown, so they are neither counted nor cached.
    TFlatTree t(2500);
    t.Tree->SetChildCount(t.Nodes[0], 3000);
    ASSERT_EQ(t.Tree->VisibleCount(), 2500u);
    t.Tree->DoStateChange(0, TS(tsStopValidation));
    EXPECT_TRUE(t.Tree->DoValidateCache());
    const auto& cache = t.Tree->PositionCache();
    ASSERT_EQ(cache.size(), 2u);
    EXPECT_EQ(cache[0].Node, t.Nodes[0]);
    EXPECT_EQ(cache[1].Node, t.Nodes[2000]);
    EXPECT_EQ(cache[1].AbsoluteTop, t.Tops[2000]);
}

TEST(PositionCache, StopRequestLeavesTheCacheAndReportsUnfinished) {
    SetMainThread();
    TFlatTree t(Threshold + 1);
    t.Tree->DoStateChange(0, TS(tsStopValidation));
    ASSERT_TRUE(t.Tree->DoValidateCache());
    t.Tree->DoStateChange(TS(tsStopValidation));
    EXPECT_FALSE(t.Tree->DoValidateCache());
    EXPECT_EQ(t.Tree->PositionCache().size(), 2u);
}

TEST(PositionCache, TemporaryNodeCacheGrowsByATenth) {
    SetMainThread();
    auto tree = NewComponent<TTreeProbe>();
    std::vector<size_t> lengths{tree->TempNodeCache().size()};
    for (int i = 0; i < 122; ++i) {
        tree->InternalCacheNode(tree->RootNode());
        if (tree->TempNodeCache().size() != lengths.back())
            lengths.push_back(tree->TempNodeCache().size());
    }
    EXPECT_EQ(lengths, (std::vector<size_t>{0, 100, 110, 121, 133}));
    EXPECT_EQ(tree->TempNodeCount(), 122u);
}

// A million nodes with mixed heights, collapsed and hidden parts and a third
// level; the expected display list is made from the records the test keeps.
TEST(PositionCache, NodeAtMatchesTheDisplayListWithAndWithoutCache) {
    SetMainThread();
    struct TRec {
        PLazyNode Node = nullptr;
        uint16_t Height = 0;
        bool Hidden = false, Expanded = false;
        std::vector<TRec> Kids;
    };
    std::mt19937 rng(11);
    auto tree = NewComponent<TLazyStringTree>();
    std::vector<TRec> roots(1000);
    auto add = [&](PLazyNode parent) {
        tree->SetDefaultNodeHeight(8 + rng() % 40);
        TRec r;
        r.Node = tree->AddChild(parent);
        r.Height = uint16_t(tree->DefaultNodeHeight());
        return r;
    };
    tree->BeginUpdate();
    for (TRec& r : roots) {
        r = add(nullptr);
        for (int c = 0; c < 995; ++c) {
            r.Kids.push_back(add(r.Node));
            if (c % 50 == 7)
                for (int g = 0; g < 3; ++g) r.Kids.back().Kids.push_back(add(r.Kids.back().Node));
        }
    }
    for (TRec& r : roots) {
        for (TRec& k : r.Kids) {
            if (!k.Kids.empty() && rng() % 2) tree->SetExpanded(k.Node, k.Expanded = true);
            if (rng() % 20 == 0) tree->SetIsHidden(k.Node, k.Hidden = true);
        }
        if (rng() % 5) tree->SetExpanded(r.Node, r.Expanded = true);
    }
    tree->EndUpdate();
    ASSERT_GE(tree->TotalCount(), 1000000u);

    std::vector<PLazyNode> shown;
    std::vector<uint32_t> tops;
    uint32_t total = 0;
    std::function<void(const TRec&)> list = [&](const TRec& r) {
        if (r.Hidden) return;
        shown.push_back(r.Node);
        tops.push_back(total);
        total += r.Height;
        if (r.Expanded)
            for (const TRec& k : r.Kids) list(k);
    };
    for (const TRec& r : roots) list(r);

    std::vector<int> ys{0, -1, int(total), int(total) - 1};
    for (int i = 0; i < 2000; ++i) ys.push_back(int(rng() % (total + 50)));
    for (int i = 0; i < 200; ++i) {
        size_t k = rng() % shown.size();
        ys.push_back(int(tops[k]));
        if (tops[k] > 0) ys.push_back(int(tops[k]) - 1);
    }
    auto check = [&](const char* how) {
        for (int y : ys) {
            PLazyNode want = nullptr;
            int wantTop = 0;
            if (y >= 0 && uint32_t(y) < total) {
                size_t k =
                    size_t(std::upper_bound(tops.begin(), tops.end(), uint32_t(y)) - tops.begin()) -
                    1;
                want = shown[k];
                wantTop = int(tops[k]);
            }
            int top = -7;
            ASSERT_EQ(tree->GetNodeAt(0, y, false, top), want) << how << " y " << y;
            if (want) {
                ASSERT_EQ(top, wantTop) << how << " y " << y;
            }
            ASSERT_EQ(tree->GetNodeAt(0, y), want)
                << how << " y " << y; // client-relative, not scrolled
        }
    };
    check("walking");

    tree->Handle();
    tree->ValidateCache();
    ASSERT_TRUE(PumpUntil([&] { return tree->HasState(tsUseCache); }));
    const auto& cache = tree->PositionCache();
    ASSERT_GE(cache.size(), shown.size() / Threshold);
    for (size_t i = 0; i * Threshold < shown.size() && i < cache.size(); ++i) {
        EXPECT_EQ(cache[i].Node, shown[i * Threshold]) << i;
        EXPECT_EQ(cache[i].AbsoluteTop, tops[i * Threshold]) << i;
    }
    EXPECT_EQ(cache.size(), (shown.size() + Threshold - 1) / Threshold);
    check("cache");
}

// Expanding, collapsing or hiding a node moves every node below it: a cache
// built before must not be used for the new positions.
TEST(PositionCache, NodesMovedByToggleOrHidingAreNotFoundThroughTheOldCache) {
    SetMainThread();
    TFlatTree t(3 * Threshold);
    t.Tree->SetChildCount(t.Nodes[1], 10);
    const int children = 10 * int(t.Tree->DefaultNodeHeight());
    t.Tree->Handle();
    struct Step {
        const char* what;
        std::function<void()> change;
        int delta; // how far the nodes after the change move
    };
    for (const Step& s :
         {Step{"expand", [&] { t.Tree->SetExpanded(t.Nodes[1], true); }, children},
          Step{"collapse", [&] { t.Tree->SetExpanded(t.Nodes[1], false); }, 0},
          Step{"hide", [&] { t.Tree->SetIsHidden(t.Nodes[0], true); }, -int(t.Tops[1])}}) {
        t.Tree->InvalidateCache();
        t.Tree->ValidateCache();
        ASSERT_TRUE(PumpUntil([&] { return t.Tree->HasState(tsUseCache); })) << s.what;
        s.change();
        int y = int(t.Tops[4000]), top;
        auto k = std::upper_bound(t.Tops.begin(), t.Tops.end(), uint32_t(y - s.delta)) -
                 t.Tops.begin() - 1;
        EXPECT_EQ(t.Tree->GetNodeAt(0, y, false, top), t.Nodes[size_t(k)]) << s.what;
        EXPECT_EQ(top, int(t.Tops[size_t(k)]) + s.delta) << s.what;
    }
}

// --- the validation thread -----------------------------------------------------------------

TEST(ValidationThread, ReportsStartAndEndToTheTreesWindow) {
    SetMainThread();
    TChanges changes; // outlives the tree, which reports while it goes
    TFlatTree t(Threshold + 1);
    t.Tree->OnStateChange = [&](TBaseLazyTree&, TLazyTreeStates e, TLazyTreeStates l) {
        changes.push_back({e, l});
    };
    t.Tree->Handle();
    t.Tree->ValidateCache();
    ASSERT_TRUE(PumpUntil([&] { return t.Tree->HasState(tsUseCache); }));
    ASSERT_GE(changes.size(), 2u);
    EXPECT_EQ(changes[changes.size() - 2], std::make_pair(TS(tsValidating), TLazyTreeStates(0)));
    EXPECT_EQ(changes.back(), std::make_pair(TS(tsUseCache), TS(tsValidating, tsValidationNeeded)));
    EXPECT_EQ(t.Tree->PositionCache().size(), 2u);
    // A change of the structure stops using the cache until it is built again.
    t.Tree->AddChild(nullptr);
    EXPECT_FALSE(t.Tree->HasState(tsUseCache));
    t.Tree->ValidateCache();
    ASSERT_TRUE(PumpUntil([&] { return t.Tree->HasState(tsUseCache); }));
    EXPECT_EQ(t.Tree->PositionCache().size(), 2u);
}

TEST(ValidationThread, RunsWhileATreeIsLeftAndEndsWithTheLast) {
    SetMainThread();
    auto first = std::make_unique<TFlatTree>(Threshold + 1);
    auto second = std::make_unique<TFlatTree>(Threshold + 1);
    second->Tree->Handle();
    first->Tree->ValidateCache();
    first.reset();
    ASSERT_NE(WorkerThread(), nullptr);
    second->Tree->ValidateCache();
    EXPECT_TRUE(PumpUntil([&] { return second->Tree->HasState(tsUseCache); }));
    second.reset();
    EXPECT_EQ(WorkerThread(), nullptr);
}

// The thread may hold a tree before its first message has told the tree so;
// the interruption must wait for it then too, or the tree could change or go
// under the thread's hands.
TEST(ValidationThread, InterruptionWaitsForATreeTakenButNotYetTold) {
    SetMainThread();
    TFlatTree t(3 * Threshold);
    t.Tree->Handle();
    t.Tree->ValidateCache();
    while (WorkerThread()->CurrentTree() != t.Tree.get())
        std::this_thread::yield(); // no message pass meanwhile
    ASSERT_FALSE(t.Tree->HasState(tsValidating));
    t.Tree->InterruptValidation();
    EXPECT_NE(WorkerThread()->CurrentTree(), t.Tree.get());
    EXPECT_FALSE(t.Tree->HasState(tsValidating));
    EXPECT_TRUE(t.Tree->HasState(tsValidationNeeded));
    EXPECT_FALSE(t.Tree->HasState(tsUseCache));
}

TEST(ValidationThread, TreeDestroyedWhileValidatedWaitsForTheFinalMessage) {
    SetMainThread();
    auto keep = NewComponent<TLazyStringTree>(); // the thread outlives the tree
    int entered = 0, left = 0;
    {
        TFlatTree t(200 * Threshold);
        t.Tree->OnStateChange = [&](TBaseLazyTree&, TLazyTreeStates e, TLazyTreeStates l) {
            entered += (e & TS(tsValidating)) != 0;
            left += (l & TS(tsValidating)) != 0;
        };
        t.Tree->Handle();
        StartValidating(*t.Tree);
    }
    EXPECT_EQ(entered, 1);
    EXPECT_EQ(left, 1);
    EXPECT_EQ(WorkerThread()->CurrentTree(), nullptr);
}

TEST(ValidationThread, RequestDuringABuildStartsOverFromTheFirstEntry) {
    SetMainThread();
    TFlatTree t(200 * Threshold);
    t.Tree->Handle();
    StartValidating(*t.Tree);
    t.Tree->ValidateCache(); // stops the running build and asks for a new one
    EXPECT_FALSE(t.Tree->HasState(tsValidating));
    EXPECT_TRUE(t.Tree->HasState(tsValidationNeeded));
    ASSERT_TRUE(PumpUntil([&] { return t.Tree->HasState(tsUseCache); }));
    const auto& cache = t.Tree->PositionCache();
    ASSERT_EQ(cache.size(), 200u);
    for (size_t i = 0; i < cache.size(); ++i) {
        EXPECT_EQ(cache[i].Node, t.Nodes[i * Threshold]) << i;
        EXPECT_EQ(cache[i].AbsoluteTop, t.Tops[i * Threshold]) << i;
    }
}

// Tells when its build is done, so that a test can step in while the
// thread's final message is on its way.
struct TSignallingTree : TLazyStringTree {
    using TLazyStringTree::TLazyStringTree;
    ~TSignallingTree() override { ReleaseWorker(); }
    bool DoValidateCache() override {
        bool finished = TLazyStringTree::DoValidateCache();
        Built = true;
        return finished;
    }
    std::atomic<bool> Built{false};
};

// The final message of a build that ended just before an interruption says
// the cache may be used; the change that follows the interruption says no.
TEST(ValidationThread, InterruptionAfterAFinishedBuildStillDropsTheCache) {
    SetMainThread();
    auto tree = NewComponent<TSignallingTree>();
    tree->SetRootNodeCount(Threshold + 1);
    HWND wnd = tree->Handle();
    tree->ValidateCache();
    while (!tree->Built) {
        TMsg m;
        PeekMessage(m, wnd, 0, 0, PM_NOREMOVE); // lets the first message in, no other
        std::this_thread::yield();
    }
    tree->AddChild(nullptr);
    EXPECT_FALSE(tree->HasState(tsUseCache));
    EXPECT_TRUE(tree->HasState(tsValidationNeeded));
    int top;
    EXPECT_EQ(tree->GetNodeAt(0, int(Threshold + 1) * 18, false, top), tree->RootNode()->LastChild);
}

// A handler of the thread's message that changes the structure cannot wait
// for the thread, which waits for the handler.
TEST(ValidationThread, StructureChangedInsideTheThreadsMessage) {
    SetMainThread();
    bool added = false;
    TFlatTree t(3 * Threshold);
    t.Tree->OnStateChange = [&](TBaseLazyTree& tree, TLazyTreeStates e, TLazyTreeStates) {
        if ((e & TS(tsValidating)) && !added) {
            added = true;
            tree.AddChild(nullptr);
        }
    };
    t.Tree->Handle();
    t.Tree->ValidateCache();
    ASSERT_TRUE(
        PumpUntil([&] { return added && LetGo(t.Tree.get()) && !t.Tree->HasState(tsValidating); }));
    EXPECT_FALSE(t.Tree->HasState(tsUseCache));
    EXPECT_TRUE(t.Tree->HasState(tsValidationNeeded));
    t.Tree->ValidateCache();
    ASSERT_TRUE(PumpUntil([&] { return t.Tree->HasState(tsUseCache); }));
    EXPECT_EQ(t.Tree->PositionCache().size(), 4u);
}

// A new border or 3-D edge recreates the window while the tree stays: the
// thread lets the tree go and reports its end to the old window still, the
// drop target moves to the new window.
TEST(ValidationThread, RecreatedWindowLeavesNoTiesToTheOldOne) {
    SetMainThread();
    EnsureGuiToolkit();
    for (bool byBorder : {true, false}) {
        SCOPED_TRACE(byBorder);
        TFlatTree t(200 * Threshold);
        HWND old = t.Tree->Handle();
        StartValidating(*t.Tree);
        if (byBorder)
            t.Tree->SetBorderStyle(0);
        else
            t.Tree->SetCtl3D(false);
        HWND now = t.Tree->Handle();
        ASSERT_NE(now, old);
        EXPECT_TRUE(LetGo(t.Tree.get()));
        EXPECT_FALSE(t.Tree->HasState(tsValidating));
        EXPECT_TRUE(t.Tree->HasState(tsValidationNeeded));
        EXPECT_EQ(RegisteredDropTarget(old), nullptr);
        EXPECT_EQ(RegisteredDropTarget(now), t.Tree->DragManager());
        // The tree validates again through its new window.
        t.Tree->ValidateCache();
        EXPECT_TRUE(PumpUntil([&] { return t.Tree->HasState(tsUseCache); }));
    }
}

// Trees made, filled, validated, changed and destroyed in random order while
// the thread works on them; run under the thread sanitizer by scripts/test.
TEST(ValidationThread, StressCreateFillValidateDestroy) {
    SetMainThread();
    std::mt19937 rng(5);
    std::vector<std::unique_ptr<TLazyStringTree>> trees;
    auto fill = [&](TLazyStringTree& tree) {
        uint32_t roots = rng() % 4000;
        tree.SetRootNodeCount(roots);
        if (roots && rng() % 2) {
            PLazyNode n = tree.GetFirstNoInit();
            tree.SetChildCount(n, rng() % 3000);
            tree.SetExpanded(n, true);
        }
    };
    for (int round = 0; round < 150; ++round) {
        if (trees.size() < 4 || rng() % 3 == 0) {
            trees.push_back(NewComponent<TLazyStringTree>());
            if (rng() % 4) trees.back()->Handle();
            fill(*trees.back());
        }
        TLazyStringTree& tree = *trees[rng() % trees.size()];
        switch (rng() % 8) {
        case 0:
            tree.ValidateCache();
            break;
        case 1:
            tree.ValidateCache();
            ProcessMessages();
            break;
        case 2:
            tree.AddChild(tree.GetFirstNoInit());
            break;
        case 3:
            if (PLazyNode n = tree.GetFirstNoInit()) tree.DeleteNode(n);
            break;
        case 4:
            tree.Clear();
            fill(tree);
            break;
        case 5: {
            int top;
            tree.GetNodeAt(0, int(rng() % 50000), false, top);
            break;
        }
        case 6:
            if (PLazyNode n = tree.GetFirstNoInit()) tree.SetExpanded(n, !tree.Expanded(n));
            break;
        case 7:
            if (PLazyNode n = tree.RootNode()->LastChild) tree.SetIsHidden(n, !tree.IsHidden(n));
            break;
        }
        if (rng() % 3 == 0) ProcessMessages();
        if (rng() % 4 == 0) trees.erase(trees.begin() + long(rng() % trees.size()));
    }
    // Whatever is left finishes its validation, and the cache agrees with a walk.
    for (auto& tree : trees) {
        if (!tree->HandleAllocated()) continue;
        tree->InvalidateCache();
        tree->ValidateCache();
        ASSERT_TRUE(PumpUntil([&] { return LetGo(tree.get()); }));
        if (tree->VisibleCount() > Threshold) {
            ASSERT_TRUE(tree->HasState(tsUseCache));
            EXPECT_EQ(tree->PositionCache()[0].Node, tree->GetFirstVisibleNoInit());
        }
    }
    trees.clear();
    EXPECT_EQ(WorkerThread(), nullptr);
}

// Lookups close to each other (a viewport's rows, up and down) start from the
// node found last; that start is dropped with the cache when the rows move.
TEST(PositionCache, NearbyLookupsFollowTheRowsAndForgetThemWhenTheyMove) {
    SetMainThread();
    TFlatTree t(3 * Threshold + 500);
    t.Tree->DoStateChange(0, TS(tsStopValidation));
    ASSERT_TRUE(t.Tree->DoValidateCache());
    t.Tree->DoStateChange(TS(tsUseCache));
    auto expect = [&](int y, const char* how) {
        size_t k =
            size_t(std::upper_bound(t.Tops.begin(), t.Tops.end(), uint32_t(y)) - t.Tops.begin()) -
            1;
        int top = -1;
        ASSERT_EQ(t.Tree->GetNodeAt(0, y, false, top), t.Nodes[k]) << how << " y " << y;
        ASSERT_EQ(uint32_t(top), t.Tops[k]) << how << " y " << y;
    };
    const int middle = int(t.Tops[3000]);
    for (int y = middle; y < middle + 600; y += 7) expect(y, "down");
    for (int y = middle + 600; y > middle - 600; y -= 11) expect(y, "up");
    for (int y : {middle + 3, int(t.Tops[2000]) + 1, middle - 1, 5, middle}) expect(y, "jumps");

    // The first node grows: every row below moves, and the old start must not be used.
    t.Tree->SetNodeHeight(t.Nodes[0], t.Tree->GetNodeHeight(t.Nodes[0]) + 40);
    for (uint32_t& top : t.Tops) top += 40;
    t.Tops[0] = 0;
    t.Tree->DoStateChange(0, TS(tsStopValidation));
    ASSERT_TRUE(t.Tree->DoValidateCache());
    t.Tree->DoStateChange(TS(tsUseCache));
    for (int y = middle; y < middle + 300; y += 13) expect(y, "after the change");
}

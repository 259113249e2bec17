// The tree's data model, node interface, option sets and dispatchers.

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"
#include "treeview/LazyTrees_Worker.h"

#include "platform/EventLoop.h"

#include "TreeProbe.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <cstring>
#include <map>
#include <thread>

using namespace nuq;

namespace {

// Internal areas and user data start where any type may sit.
constexpr int Aligned = int(alignof(std::max_align_t));

struct TreeFixture : ::testing::Test {
    std::unique_ptr<TTreeProbe> Tree;
    std::vector<PLazyNode> Freed;
    std::map<PLazyNode, std::string> Names;
    void SetUp() override {
        SetMainThread();
        Tree = NewComponent<TTreeProbe>();
        Tree->OnFreeNode = [this](TBaseLazyTree&, PLazyNode n) { Freed.push_back(n); };
    }
    void TearDown() override { Tree.reset(); } // while the recording members still exist
    // Children named by their path ("1", "1.2") as the tree asks for them.
    void NameOnInit(uint32_t rootCount, uint32_t childCount) {
        Tree->OnInitNode = [this, childCount](TBaseLazyTree&, PLazyNode parent, PLazyNode n,
                                              TLazyNodeInitStates& s) {
            Names[n] = (parent ? Names[parent] + "." : "") + std::to_string(n->Index + 1);
            if (!parent && childCount) s |= ivsHasChildren;
        };
        Tree->OnInitChildren = [childCount](TBaseLazyTree&, PLazyNode, uint32_t& c) {
            c = childCount;
        };
        Tree->SetRootNodeCount(rootCount);
    }
    std::vector<std::string> Walk(PLazyNode (TBaseLazyTree::*first)(),
                                  PLazyNode (TBaseLazyTree::*next)(PLazyNode)) {
        std::vector<std::string> out;
        for (PLazyNode n = (Tree.get()->*first)(); n; n = (Tree.get()->*next)(n))
            out.push_back(Names[n]);
        return out;
    }
};

using TreeModel = TreeFixture;

} // namespace

TEST_F(TreeModel, StartValuesOfANewTree) {
    EXPECT_EQ(Tree->Width(), 200);
    EXPECT_EQ(Tree->Height(), 100);
    EXPECT_TRUE(Tree->TabStop);
    EXPECT_FALSE(Tree->ParentColor);
    EXPECT_EQ(Tree->DefaultNodeHeight(), 18u);
    EXPECT_EQ(Tree->Indent(), 18u);
    EXPECT_EQ(Tree->NodeDataSize(), -1);
    EXPECT_EQ(Tree->FocusedColumn(), NoColumn);
    EXPECT_EQ(Tree->LastSelectionLevel(), -1);
    EXPECT_EQ(Tree->DragOperations, doCopy | doMove);
    EXPECT_EQ(Tree->CheckImages, LightCheckImages);
    EXPECT_EQ(Tree->DefaultText, u"Node");
    EXPECT_EQ(Tree->TotalInternalDataSize(), Aligned);
    EXPECT_EQ(Tree->InternalDataOffset(), TreeNodeSize);
    EXPECT_EQ(Tree->ControlStyle & csSetCaption, 0u);
    EXPECT_NE(Tree->ControlStyle & csOpaque, 0u);
    EXPECT_EQ(Tree->DragImage().Transparency, 200);
    EXPECT_TRUE(Tree->DragImage().Fade);
    EXPECT_EQ(Tree->ScrollBarOptions().ScrollBars(), ssBoth);
    EXPECT_EQ(Tree->Colors().Color(TLTColors::FocusedSelectionColor), clHighlight);
    EXPECT_EQ(Tree->Colors().Color(TLTColors::HotColor), clWindowText);
}

TEST_F(TreeModel, OptionDefaults) {
    EXPECT_EQ(Tree->TreeOptions().PaintOptions(), 7008u);
    EXPECT_EQ(Tree->TreeOptions().AutoOptions(), 329);
    EXPECT_EQ(Tree->TreeOptions().MiscOptions(), 16809);
    EXPECT_EQ(Tree->TreeOptions().StringOptions(), 5);
    EXPECT_EQ(Tree->TreeOptions().SelectionOptions(), 0);
    EXPECT_EQ(Tree->TreeOptions().AnimationOptions(), 0);
    EXPECT_EQ(Tree->TreeOptions().ExportMode(), emAll);
}

TEST_F(TreeModel, RootIsExpandedVisibleAndNeverWalked) {
    PLazyNode root = Tree->RootNode();
    EXPECT_EQ(root->NextSibling, root);
    EXPECT_EQ(root->PrevSibling, root);
    EXPECT_EQ(root->States, vsInitialized | vsExpanded | vsHasChildren | vsVisible);
    EXPECT_EQ(TreeOfNode(root), Tree.get());
    EXPECT_FALSE(Tree->Expanded(nullptr));
    EXPECT_EQ(Tree->GetFirst(), nullptr);
    EXPECT_EQ(Tree->GetLast(), nullptr);
    EXPECT_EQ(Tree->GetFirstVisible(), nullptr);
    EXPECT_EQ(Tree->GetNodeData(root), nullptr);
    PLazyNode a = Tree->AddChild(nullptr);
    EXPECT_EQ(Tree->GetPrevious(a), nullptr);
    EXPECT_EQ(Tree->GetPreviousVisible(a), nullptr);
    EXPECT_EQ(Tree->GetNext(a), nullptr);
    EXPECT_EQ(TreeOfNode(a), Tree.get());
}

TEST_F(TreeModel, NodeDataSizeIsAskedAtTheFirstNodeOnly) {
    int asked = 0;
    Tree->OnGetNodeDataSize = [&](TBaseLazyTree&, int& size) {
        ++asked;
        size = 12;
    };
    PLazyNode a = Tree->AddChild(nullptr);
    PLazyNode b = Tree->AddChild(nullptr);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(Tree->NodeDataSize(), 12);
    auto* da = static_cast<uint8_t*>(Tree->GetNodeData(a));
    ASSERT_NE(da, nullptr);
    EXPECT_EQ(da - reinterpret_cast<uint8_t*>(a), TreeNodeSize + Aligned);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(da) % Aligned, 0u); // a double or pointer fits
    EXPECT_EQ(std::count(da, da + 12, 0), 12);                // zero-filled
    EXPECT_NE(Tree->GetNodeData(b), nullptr);
}

TEST_F(TreeModel, NoHandlerMeansNoUserData) {
    PLazyNode a = Tree->AddChild(nullptr);
    EXPECT_EQ(Tree->NodeDataSize(), 0);
    EXPECT_EQ(Tree->GetNodeData(a), nullptr);
}

TEST_F(TreeModel, AddChildWithUserDataNeedsRoomForIt) {
    int value = 5;
    // The data is a whole pointer: four bytes are too few on this platform.
    for (int size : {-1, 0, 2, 4, int(sizeof(void*)) - 1}) {
        Tree->SetNodeDataSize(size);
        try {
            Tree->AddChild(nullptr, &value);
            FAIL() << size;
        } catch (const ELazyTreeError& e) {
            EXPECT_EQ(e.HelpContext, 2008);
            EXPECT_EQ(e.Message(), "Cannot set initial user data because there is not enough user "
                                   "data space allocated.");
        }
    }
    EXPECT_EQ(Tree->RootNodeCount(), 0u);
    Tree->SetNodeDataSize(int(sizeof(void*)));
    PLazyNode n = Tree->AddChild(nullptr, &value);
    EXPECT_NE(n->States & vsInitialUserData, 0);
    void* stored = nullptr;
    std::memcpy(&stored, Tree->GetNodeData(n), sizeof stored);
    EXPECT_EQ(stored, &value);
    // A node holding initial user data is reported freed even though never initialised.
    Tree->Clear();
    EXPECT_EQ(Freed, std::vector<PLazyNode>{n});
}

TEST_F(TreeModel, AddChildCountsHeightsAndClearsAllChildrenHidden) {
    PLazyNode a = Tree->AddChild(nullptr);
    a->States |= vsAllChildrenHidden;
    PLazyNode b = Tree->AddChild(a);
    EXPECT_EQ(a->States & vsAllChildrenHidden, 0);
    EXPECT_NE(a->States & vsInitialized, 0); // the parent was initialised on demand
    EXPECT_EQ(b->Index, 0u);
    EXPECT_EQ(Tree->RootNode()->TotalCount, 3u);
    EXPECT_EQ(a->TotalCount, 2u);
    EXPECT_EQ(a->TotalHeight, 18u); // collapsed
    EXPECT_EQ(Tree->RootNode()->TotalHeight, 36u);
    Tree->SetExpanded(a, true);
    EXPECT_EQ(a->TotalHeight, 36u);
    EXPECT_EQ(Tree->RootNode()->TotalHeight, 54u);
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toReadOnly);
    EXPECT_EQ(Tree->AddChild(nullptr), nullptr);
}

TEST_F(TreeModel, WalksVisitInPreOrderAndBack) {
    NameOnInit(2, 2);
    auto all = std::vector<std::string>{"1", "1.1", "1.2", "2", "2.1", "2.2"};
    EXPECT_EQ(Walk(&TBaseLazyTree::GetFirst, &TBaseLazyTree::GetNext), all);
    EXPECT_EQ(Tree->RootNode()->TotalCount, 7u);
    std::vector<std::string> back;
    for (PLazyNode n = Tree->GetLast(); n; n = Tree->GetPrevious(n)) back.push_back(Names[n]);
    EXPECT_EQ(back, std::vector<std::string>(all.rbegin(), all.rend()));
    EXPECT_EQ(Walk(&TBaseLazyTree::GetFirstNoInit, &TBaseLazyTree::GetNextNoInit), all);
    EXPECT_EQ(Walk(&TBaseLazyTree::GetFirstInitialized, &TBaseLazyTree::GetNextInitialized), all);
}

TEST_F(TreeModel, NoInitWalksInitialiseNothing) {
    NameOnInit(3, 0);
    int count = 0;
    for (PLazyNode n = Tree->GetFirstNoInit(); n; n = Tree->GetNextNoInit(n)) {
        EXPECT_EQ(n->States & vsInitialized, 0);
        ++count;
    }
    EXPECT_EQ(count, 3);
    EXPECT_EQ(Tree->GetFirstInitialized(), nullptr);
    PLazyNode second = Tree->GetFirstNoInit()->NextSibling;
    Tree->ReinitNode(second, false); // not initialised: stays so
    EXPECT_EQ(second->States & vsInitialized, 0);
    Tree->GetNext(Tree->GetFirst()); // initialises the first two
    EXPECT_EQ(Names[Tree->GetFirstInitialized()], "1");
    EXPECT_EQ(Names[Tree->GetNextInitialized(Tree->GetFirstInitialized())], "2");
    EXPECT_EQ(Tree->GetNextInitialized(second), nullptr);
}

TEST_F(TreeModel, VisibleWalksFollowExpansionAndSkipHiddenSubtrees) {
    NameOnInit(3, 2);
    for (PLazyNode n = Tree->GetFirst(); n; n = Tree->GetNext(n)) {
    }
    PLazyNode one = Tree->GetFirst();
    PLazyNode two = one->NextSibling;
    PLazyNode three = two->NextSibling;
    EXPECT_EQ(Walk(&TBaseLazyTree::GetFirstVisible, &TBaseLazyTree::GetNextVisible),
              (std::vector<std::string>{"1", "2", "3"}));
    Tree->SetExpanded(one, true);
    Tree->SetExpanded(three, true);
    Tree->SetIsHidden(two, true);
    Tree->SetExpanded(two, true);
    auto shown = std::vector<std::string>{"1", "1.1", "1.2", "3", "3.1", "3.2"};
    EXPECT_EQ(Walk(&TBaseLazyTree::GetFirstVisible, &TBaseLazyTree::GetNextVisible), shown);
    EXPECT_EQ(Walk(&TBaseLazyTree::GetFirstVisibleNoInit, &TBaseLazyTree::GetNextVisibleNoInit),
              shown);
    std::vector<std::string> back;
    for (PLazyNode n = Tree->GetLastVisible(); n; n = Tree->GetPreviousVisible(n))
        back.push_back(Names[n]);
    EXPECT_EQ(back, std::vector<std::string>(shown.rbegin(), shown.rend()));
    EXPECT_EQ(Names[Tree->GetFirstVisibleChild(three)], "3.1");
    EXPECT_TRUE(Tree->IsEffectivelyHidden(two));
    EXPECT_FALSE(Tree->IsEffectivelyVisible(two));
}

TEST_F(TreeModel, LevelsAndAncestry) {
    PLazyNode a = Tree->AddChild(nullptr);
    PLazyNode b = Tree->AddChild(a);
    PLazyNode c = Tree->AddChild(b);
    struct Case {
        PLazyNode node;
        unsigned level;
    };
    for (auto k : {Case{nullptr, 0}, Case{Tree->RootNode(), 0}, Case{a, 0}, Case{b, 1}, Case{c, 2}})
        EXPECT_EQ(Tree->GetNodeLevel(k.node), k.level);
    EXPECT_TRUE(Tree->HasAsParent(c, a));
    EXPECT_TRUE(Tree->HasAsParent(c, Tree->RootNode()));
    EXPECT_FALSE(Tree->HasAsParent(a, c));
    EXPECT_FALSE(Tree->HasAsParent(c, c));
    EXPECT_FALSE(Tree->HasAsParent(nullptr, a));
    EXPECT_FALSE(Tree->HasAsParent(c, nullptr));
}

TEST_F(TreeModel, DeletingKeepsCountsAndReindexes) {
    NameOnInit(4, 0);
    PLazyNode first = Tree->GetFirst();
    PLazyNode second = Tree->GetNext(first);
    PLazyNode last = Tree->GetLast();
    Tree->AddChild(second);
    Tree->AddChild(second);
    Tree->SetExpanded(second, true);
    for (PLazyNode n = Tree->GetFirst(); n; n = Tree->GetNext(n)) {
    } // initialises them all
    uint32_t visible = Tree->VisibleCount();
    EXPECT_EQ(visible, 6u);
    Freed.clear();
    Tree->DeleteNode(second);
    EXPECT_EQ(Freed.size(), 3u); // the node and its two initialised children
    EXPECT_EQ(Freed.back(), second);
    EXPECT_EQ(Tree->RootNodeCount(), 3u);
    EXPECT_EQ(Tree->RootNode()->TotalCount, 4u);
    EXPECT_EQ(Tree->RootNode()->TotalHeight, 18u * 4);
    EXPECT_EQ(Tree->VisibleCount(), 3u);
    EXPECT_EQ(last->Index, 2u);
    EXPECT_EQ(first->NextSibling->PrevSibling, first);
    Freed.clear();
    Tree->DeleteChildren(nullptr);   // nothing
    Tree->SetChildCount(nullptr, 1); // shrinks from the end
    EXPECT_EQ(Tree->RootNodeCount(), 1u);
    EXPECT_EQ(Tree->GetFirst(), first);
    EXPECT_EQ(Freed.size(), 2u);
}

TEST_F(TreeModel, FreeNodeOnlyForInitialisedNodes) {
    NameOnInit(3, 0);
    Tree->GetFirst(); // only the first is initialised
    Tree->Clear();
    EXPECT_EQ(Freed.size(), 1u);
    EXPECT_EQ(Tree->RootNodeCount(), 0u);
    EXPECT_EQ(Tree->RootNode()->TotalCount, 1u);
    EXPECT_EQ(Tree->VisibleCount(), 0u);
}

TEST_F(TreeModel, ReinitClearsTransientStatesAndRunsInitAgain) {
    int inits = 0;
    Tree->OnInitNode = [&](TBaseLazyTree&, PLazyNode, PLazyNode, TLazyNodeInitStates&) { ++inits; };
    PLazyNode a = Tree->AddChild(nullptr);
    PLazyNode b = Tree->AddChild(a);
    Tree->GetNext(a);
    EXPECT_EQ(inits, 2);
    a->States |= vsChecking | vsCutOrCopy | vsHeightMeasured;
    Tree->ReinitNode(a, true);
    EXPECT_EQ(inits, 4);
    EXPECT_EQ(a->States & (vsChecking | vsCutOrCopy | vsDeleting | vsHeightMeasured), 0);
    EXPECT_NE(b->States & vsInitialized, 0);
}

TEST_F(TreeModel, InitialStatesFromTheOwner) {
    Tree->OnInitNode = [](TBaseLazyTree&, PLazyNode, PLazyNode n, TLazyNodeInitStates& s) {
        if (n->Index == 0) s = ivsMultiline | ivsSelected | ivsExpanded | ivsHasChildren;
    };
    Tree->OnInitChildren = [](TBaseLazyTree&, PLazyNode, uint32_t& c) { c = 3; };
    Tree->SetRootNodeCount(1);
    PLazyNode n = Tree->GetFirst();
    EXPECT_EQ(n->States & (vsDisabled | vsMultiline | vsSelected | vsExpanded | vsHasChildren),
              vsMultiline | vsSelected | vsExpanded | vsHasChildren);
    EXPECT_EQ(n->ChildCount, 3u);
    EXPECT_EQ(n->TotalHeight, 4u * 18);
    EXPECT_EQ(Tree->SelectedCount(), 1);
}

TEST_F(TreeModel, InternalDataAreaAfterConstructionKeepsTheRoot) {
    PLazyNode a = Tree->AddChild(nullptr);
    a->Index = 0;
    int offset = Tree->AllocateInternalDataArea(5);
    EXPECT_EQ(offset, TreeNodeSize + Aligned);
    EXPECT_EQ(Tree->TotalInternalDataSize(), 2 * Aligned);
    PLazyNode root = Tree->RootNode();
    EXPECT_EQ(root->ChildCount, 1u);
    EXPECT_EQ(root->TotalCount, 2u);
    EXPECT_EQ(root->FirstChild, a);
    EXPECT_EQ(a->Parent, root);
    auto* area = reinterpret_cast<uint8_t*>(root) + offset;
    EXPECT_EQ(std::count(area, area + 8, 0), 8);
    EXPECT_EQ(root->NextSibling, root);
}

TEST_F(TreeModel, NodeDataSizeChangeRebuildsTheTopLevel) {
    Tree->SetRootNodeCount(3);
    Tree->GetFirst();
    Freed.clear();
    Tree->SetNodeDataSize(8);
    EXPECT_EQ(Freed.size(), 1u);
    EXPECT_EQ(Tree->RootNodeCount(), 3u);
    EXPECT_NE(Tree->GetNodeData(Tree->GetFirst()), nullptr);
    Tree->SetRootNodeCount(0);
    Tree->SetNodeDataSize(-5);
    EXPECT_EQ(Tree->NodeDataSize(), -1);
}

// Node blocks share slabs, so only the slabs' own poisoning lets the
// address sanitizer see a node used after it was freed.
TEST_F(TreeModel, FreedNodeIsPoisonedForTheSanitizer) {
#ifndef NUQ_ASAN
    GTEST_SKIP() << "only with the address sanitizer";
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    Tree->SetRootNodeCount(3);
    PLazyNode second = Tree->GetFirst()->NextSibling;
    Tree->DeleteNode(second);
    EXPECT_DEATH(
        {
            volatile uint32_t index = second->Index;
            (void)index;
        },
        "use-after-poison");
    // Taken again, the block is a node like any other.
    PLazyNode again = Tree->AddChild(nullptr);
    EXPECT_EQ(again->ChildCount, 0u);
#endif
}

TEST(TreeLife, ReadOnlyTreeStillFreesItsNodes) {
    SetMainThread();
    int freed = 0;
    {
        auto tree = NewComponent<TLazyStringTree>();
        tree->OnFreeNode = [&](TBaseLazyTree&, PLazyNode) { ++freed; };
        tree->SetRootNodeCount(4);
        for (PLazyNode n = tree->GetFirst(); n; n = tree->GetNext(n)) {
        }
        tree->TreeOptions().SetMiscOptions(tree->TreeOptions().MiscOptions() | toReadOnly);
        tree->Clear(); // refused while read-only
        EXPECT_EQ(tree->RootNodeCount(), 4u);
    }
    EXPECT_EQ(freed, 4);
}

TEST(TreeLife, TheLastTreeStopsTheWorkerThread) {
    SetMainThread();
    auto a = NewComponent<TLazyStringTree>();
    auto b = NewComponent<TBaseLazyTree>();
    ASSERT_NE(WorkerThread(), nullptr);
    EXPECT_EQ(WorkerThread()->RefCount, 2);
    a.reset();
    ASSERT_NE(WorkerThread(), nullptr);
    b.reset();
    EXPECT_EQ(WorkerThread(), nullptr);
    auto c = NewComponent<TBaseLazyTree>();
    EXPECT_NE(WorkerThread(), nullptr);
}

TEST(TreeLife, WorkerReportsValidationToTheTreesWindow) {
    SetMainThread();
    auto tree = NewComponent<TLazyStringTree>();
    std::vector<std::pair<TLazyTreeStates, TLazyTreeStates>> changes;
    tree->OnStateChange = [&](TBaseLazyTree&, TLazyTreeStates e, TLazyTreeStates l) {
        changes.push_back({e, l});
    };
    // Small trees have no cache to finish.
    tree->SetRootNodeCount(TBaseLazyTree::CacheThreshold + 1);
    tree->Handle();
    WorkerThread()->AddTree(tree.get());
    WorkerThread()->AddTree(tree.get());
    EXPECT_EQ(WorkerThread()->Waiting(), 1u); // queued once
    SignalWorkEvent();
    ProcessMessagesUntil([&] { return tree->HasState(tsUseCache); }, 5000);
    EXPECT_TRUE(tree->HasState(tsUseCache));
    EXPECT_FALSE(tree->HasState(tsValidating));
    ASSERT_GE(changes.size(), 2u);
    EXPECT_EQ(changes[changes.size() - 2].first, TS(tsValidating));
    // Destroying the tree while it waits for validation must not hang.
    WorkerThread()->AddTree(tree.get());
    SignalWorkEvent();
    tree.reset();
}

namespace {

// Validation that holds the worker until the test lets it go.
class THeldTree : public TBaseLazyTree {
public:
    std::atomic<bool> Entered{false}, Release{false};
    bool DoValidateCache() override {
        Entered = true;
        while (!Release) std::this_thread::yield();
        return true;
    }
};

} // namespace

// Interrupting a validation in progress waits for the worker, answering the
// state reports it sends meanwhile, and returns once the worker lets go.
TEST(TreeLife, InterruptWaitsForTheValidationInProgress) {
    SetMainThread();
    auto tree = NewComponent<THeldTree>();
    // Painted first: a paint while the held build runs would wait for it for good.
    UpdateWindow(tree->Handle());
    WorkerThread()->AddTree(tree.get());
    SignalWorkEvent();
    // The worker reports "validating" first, synchronously: answer it.
    ProcessMessagesUntil([&] { return tree->Entered.load(); }, 5000);
    ASSERT_TRUE(tree->Entered);
    std::thread releaser([&] { tree->Release = true; });
    tree->InterruptValidation();
    releaser.join();
    EXPECT_NE(WorkerThread()->CurrentTree(), tree.get());
    EXPECT_FALSE(tree->HasState(tsValidating));
}

TEST_F(TreeModel, StateChangeReportsOnlyRealChanges) {
    std::vector<std::pair<TLazyTreeStates, TLazyTreeStates>> seen;
    Tree->OnStateChange = [&](TBaseLazyTree&, TLazyTreeStates e, TLazyTreeStates l) {
        seen.push_back({e, l});
    };
    Tree->DoStateChange(TS(tsEditing, tsHint));
    Tree->DoStateChange(TS(tsEditing), TS(tsScrolling)); // both already satisfied
    Tree->DoStateChange(TS(tsEditing, tsSizing), TS(tsHint, tsScrolling));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], std::make_pair(TS(tsEditing, tsHint), TLazyTreeStates(0)));
    EXPECT_EQ(seen[1], std::make_pair(TS(tsSizing), TS(tsHint)));
    EXPECT_TRUE(Tree->HasState(tsEditing));
    EXPECT_TRUE(Tree->HasState(tsSizing));
    EXPECT_FALSE(Tree->HasState(tsHint));
    Tree->OnStateChange = nullptr;
    Tree->DoStateChange(0, TS(tsEditing)); // without a handler the set still changes
    EXPECT_FALSE(Tree->HasState(tsEditing));
}

TEST_F(TreeModel, ChangeStateMessageUsesFourBits) {
    Tree->DoStateChange(TS(tsUseCache));
    SendMessage(Tree->Handle(), WM_CHANGESTATE, 4 | 8, 2);
    EXPECT_TRUE(Tree->HasState(tsValidating));
    EXPECT_TRUE(Tree->HasState(tsValidationNeeded));
    EXPECT_FALSE(Tree->HasState(tsUseCache));
}

TEST_F(TreeModel, DispatcherDefaults) {
    PLazyNode n = Tree->AddChild(nullptr);
    TCheckState cs = csCheckedNormal;
    EXPECT_TRUE(Tree->DoChecking(n, cs));
    EXPECT_TRUE(Tree->DoCollapsing(n));
    EXPECT_TRUE(Tree->DoExpanding(n));
    EXPECT_FALSE(Tree->DoBeforeDrag(n, 0));
    EXPECT_EQ(Tree->DoCompare(n, n, 0), 0);
    EXPECT_EQ(Tree->BaseDoIncrementalSearch(n, u"x"), 0); // the string tree has its own
    EXPECT_EQ(Tree->DoRenderOLEData(TFormatEtc{}, *std::make_unique<TStgMedium>(), true), E_FAIL);
    EXPECT_EQ(Tree->BaseDoCreateEditor(n, 0), nullptr);
    EXPECT_EQ(Tree->BaseDoGetNodeWidth(n, 0, nullptr),
              0); // the string tree measures its text
    EXPECT_EQ(Tree->DoGetAnimationType(), hatSlide);
    EXPECT_EQ(Tree->DoGetCellContentMargin(n, 0, 0, nullptr), (TPoint{0, 0}));
    EXPECT_FALSE(Tree->DoCancelEdit());
    EXPECT_TRUE(Tree->DoEndEdit());
    WORD key = 13;
    TShiftState shift = 0;
    EXPECT_TRUE(Tree->DoKeyAction(key, shift));
    Tree->Hint = u"hint";
    TLTTooltipLineBreakStyle style = hlbForceMultiLine;
    EXPECT_EQ(Tree->DoGetNodeHint(n, 0, style), u"hint");
    EXPECT_EQ(style, hlbDefault);
}

TEST_F(TreeModel, CheckingUnderReadOnlyIsRefusedWithoutAsking) {
    PLazyNode n = Tree->AddChild(nullptr);
    int asked = 0;
    Tree->OnChecking = [&](TBaseLazyTree&, PLazyNode, TCheckState&, bool&) { ++asked; };
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toReadOnly);
    TCheckState cs = csCheckedNormal;
    EXPECT_FALSE(Tree->DoChecking(n, cs));
    EXPECT_EQ(asked, 0);
}

TEST_F(TreeModel, CheckClickAppliesOnlyAllowedChanges) {
    PLazyNode n = Tree->AddChild(nullptr);
    int checked = 0;
    Tree->OnChecked = [&](TBaseLazyTree&, PLazyNode) { ++checked; };
    Tree->OnChecking = [](TBaseLazyTree&, PLazyNode, TCheckState& s, bool& allowed) {
        allowed = s != csMixedNormal;
        if (s == csCheckedPressed) s = csCheckedNormal;
    };
    Tree->SetCheckState(n, csMixedNormal);
    EXPECT_EQ(n->CheckState, csUncheckedNormal);
    Tree->SetCheckState(n, csCheckedPressed);
    EXPECT_EQ(n->CheckState, csCheckedNormal);
    EXPECT_EQ(checked, 1);
    n->States |= vsChecking; // a change in progress refuses a second one
    Tree->SetCheckState(n, csUncheckedNormal);
    EXPECT_EQ(n->CheckState, csCheckedNormal);
    EXPECT_EQ(checked, 1);
    n->States &= ~vsChecking;
    n->States |= vsDisabled; // a disabled node keeps its state
    Tree->SetCheckState(n, csUncheckedNormal);
    EXPECT_EQ(n->CheckState, csCheckedNormal);
}

TEST_F(TreeModel, FocusChangingBetweenColumnsNeedsFocusableColumn) {
    EXPECT_TRUE(Tree->DoFocusChanging(nullptr, nullptr, 1, 1));
    EXPECT_FALSE(Tree->DoFocusChanging(nullptr, nullptr, 0, 1)); // no such column allows focus
    Tree->OnFocusChanging = [](TBaseLazyTree&, PLazyNode, PLazyNode, TColumnIndex, TColumnIndex,
                               bool& a) { a = true; };
    EXPECT_TRUE(Tree->DoFocusChanging(nullptr, nullptr, 0, 1));
}

TEST_F(TreeModel, ExtendedImageHandlerWinsOverThePlainOne) {
    PLazyNode n = Tree->AddChild(nullptr);
    int plain = 0;
    TCustomImageList list;
    Tree->OnGetImageIndex = [&](TBaseLazyTree&, PLazyNode, TLTImageKind, TColumnIndex, bool&,
                                int& i) {
        ++plain;
        i = 1;
    };
    bool ghosted = false;
    int index = -1;
    EXPECT_EQ(Tree->DoGetImageIndex(n, ikNormal, 0, ghosted, index), nullptr);
    EXPECT_EQ(index, 1);
    Tree->OnGetImageIndexEx = [&](TBaseLazyTree&, PLazyNode, TLTImageKind, TColumnIndex, bool&,
                                  int& i, TCustomImageList*& l) {
        i = 2;
        l = &list;
    };
    EXPECT_EQ(Tree->DoGetImageIndex(n, ikNormal, 0, ghosted, index), &list);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(plain, 1);
}

TEST_F(TreeModel, EditorHandlerMustGiveALink) {
    Tree->OnCreateEditor = [](TBaseLazyTree&, PLazyNode, TColumnIndex,
                              std::shared_ptr<ILTEditLink>&) {};
    try {
        Tree->DoCreateEditor(nullptr, 0);
        FAIL();
    } catch (const ELazyTreeError& e) {
        EXPECT_EQ(e.HelpContext, 2000);
        EXPECT_EQ(e.Message(), "Edit link must not be nil.");
    }
}

TEST_F(TreeModel, PopupMenuIsAskedUpTheParents) {
    PLazyNode a = Tree->AddChild(nullptr);
    PLazyNode b = Tree->AddChild(a);
    TPopupMenu menu;
    std::vector<PLazyNode> asked;
    Tree->OnGetPopupMenu = [&](TBaseLazyTree&, PLazyNode n, TColumnIndex, TPoint, bool&,
                               TPopupMenu*& m) {
        asked.push_back(n);
        if (n == a) m = &menu;
    };
    EXPECT_EQ(Tree->DoGetPopupMenu(b, 0, {}), &menu);
    EXPECT_EQ(asked, (std::vector<PLazyNode>{b, a}));
    asked.clear();
    Tree->OnGetPopupMenu = [&](TBaseLazyTree&, PLazyNode n, TColumnIndex, TPoint, bool& askParent,
                               TPopupMenu*&) {
        asked.push_back(n);
        askParent = false;
    };
    EXPECT_EQ(Tree->DoGetPopupMenu(b, 0, {}), nullptr);
    EXPECT_EQ(asked.size(), 1u);
}

TEST_F(TreeModel, UpdatesAccumulateStructureChanges) {
    std::vector<TChangeReason> reasons;
    std::vector<TLTUpdateState> updates;
    Tree->OnStructureChange = [&](TBaseLazyTree&, PLazyNode, TChangeReason r) {
        reasons.push_back(r);
    };
    Tree->OnUpdating = [&](TBaseLazyTree&, TLTUpdateState s) { updates.push_back(s); };
    Tree->AddChild(nullptr);
    EXPECT_EQ(reasons, std::vector<TChangeReason>{crChildAdded});
    Tree->BeginUpdate();
    Tree->BeginUpdate();
    Tree->AddChild(nullptr);
    Tree->AddChild(nullptr);
    Tree->EndUpdate();
    EXPECT_EQ(reasons.size(), 1u);
    EXPECT_TRUE(Tree->HasState(tsUpdating));
    Tree->EndUpdate();
    EXPECT_EQ(reasons, (std::vector<TChangeReason>{crChildAdded, crAccumulated}));
    EXPECT_FALSE(Tree->HasState(tsUpdating));
    EXPECT_EQ(updates, (std::vector<TLTUpdateState>{usBegin, usUpdate, usUpdate, usEnd}));
    Tree->OnStructureChange = nullptr; // the handlers' vectors go before the tree
    Tree->OnUpdating = nullptr;
}

TEST_F(TreeModel, ShowingHiddenNodesAndBackRestoresTheCounts) {
    NameOnInit(3, 2);
    for (PLazyNode n = Tree->GetFirst(); n; n = Tree->GetNext(n)) Tree->SetExpanded(n, true);
    PLazyNode two = Tree->GetFirst()->NextSibling;
    Tree->SetIsHidden(two, true);
    Tree->SetIsHidden(two->FirstChild, true);
    uint32_t height = Tree->RootNode()->TotalHeight, visible = Tree->VisibleCount();
    EXPECT_EQ(height, 18u * (1 + 3 + 3)); // root, 1 and 3 with two children each
    auto& o = Tree->TreeOptions();
    // Alone, or in one assignment with a theme flag.
    for (TLTPaintOptions with :
         {TLTPaintOptions(0), TLTPaintOptions(toThemeAware), TLTPaintOptions(toUseExplorerTheme)}) {
        SCOPED_TRACE(with);
        o.SetPaintOptions(o.PaintOptions() ^ (toShowHiddenNodes | with));
        EXPECT_EQ(Tree->RootNode()->TotalHeight, 18u * 10);
        EXPECT_GT(Tree->VisibleCount(), visible);
        o.SetPaintOptions(o.PaintOptions() ^ (toShowHiddenNodes | with));
        EXPECT_EQ(Tree->RootNode()->TotalHeight, height);
        EXPECT_EQ(Tree->VisibleCount(), visible);
    }
}

TEST_F(TreeModel, SelectionOptionsClearTheSelection) {
    Tree->OnInitNode = [](TBaseLazyTree&, PLazyNode, PLazyNode, TLazyNodeInitStates& s) {
        s = ivsSelected;
    };
    Tree->SetRootNodeCount(2);
    Tree->GetNext(Tree->GetFirst());
    EXPECT_EQ(Tree->SelectedCount(), 2);
    auto& o = Tree->TreeOptions();
    o.SetSelectionOptions(toCenterScrollIntoView); // no bearing on the selection
    EXPECT_EQ(Tree->SelectedCount(), 2);
    o.SetSelectionOptions(toCenterScrollIntoView | toMultiSelect);
    EXPECT_EQ(Tree->SelectedCount(), 0);
    EXPECT_EQ(Tree->GetFirst()->States & vsSelected, 0);
}

TEST_F(TreeModel, AcceptOleDropRegistersTheDropTarget) {
    HWND h = Tree->Handle();
    auto& o = Tree->TreeOptions();
    o.SetMiscOptions(o.MiscOptions() & ~toAcceptOLEDrop);
    EXPECT_EQ(RegisteredDropTarget(h), nullptr);
    o.SetMiscOptions(o.MiscOptions() | toAcceptOLEDrop);
    EXPECT_EQ(RegisteredDropTarget(h), Tree->DragManager());
    o.SetMiscOptions(o.MiscOptions() & ~toAcceptOLEDrop);
    EXPECT_EQ(RegisteredDropTarget(h), nullptr);
}

TEST_F(TreeModel, FullRepaintOnResizeRecreatesTheWindow) {
    HWND h = Tree->Handle();
    auto& o = Tree->TreeOptions();
    o.SetMiscOptions(o.MiscOptions() & ~toFullRepaintOnResize);
    EXPECT_NE(Tree->Handle(), h);
    EXPECT_FALSE(IsWindow(h));
}

TEST_F(TreeModel, ScrollBarsChangeRecreatesOnlyALiveWindow) {
    Tree->ComponentState |= csLoading;
    Tree->Handle();
    HWND h = Tree->Handle();
    Tree->ScrollBarOptions().SetScrollBars(ssVertical);
    EXPECT_EQ(Tree->Handle(), h);
    Tree->ComponentState &= ~csLoading;
    Tree->ScrollBarOptions().SetScrollBars(ssNone);
    EXPECT_NE(Tree->Handle(), h);
}

TEST_F(TreeModel, ClipboardFormatNamesMustSuitTheTreeClass) {
    auto base = NewComponent<TBaseLazyTree>();
    EXPECT_EQ(base->ClipboardFormats().Add("CSV"), -1);
    EXPECT_EQ(base->ClipboardFormats().Add("Lazy Tree Data"), 0);
    EXPECT_EQ(Tree->ClipboardFormats().Add("CSV"), 0);
    EXPECT_EQ(Tree->ClipboardFormats().Add("csv"), 0); // duplicates ignored
    EXPECT_EQ(Tree->ClipboardFormats().Add("Bogus"), -1);
    EXPECT_EQ(Tree->ClipboardFormats().Add("HTML Format"), 1);
    EXPECT_EQ(Tree->ClipboardFormats().Count(), 2);
}

TEST_F(TreeModel, FocusNodeAutoExpandsAndResetsTheAnchor) {
    NameOnInit(2, 2);
    PLazyNode one = Tree->GetFirst(), two = one->NextSibling;
    auto& o = Tree->TreeOptions();
    o.SetAutoOptions(o.AutoOptions() | toAutoExpand);
    Tree->DoFocusNode(one, false);
    EXPECT_EQ(Tree->FocusedNode(), one);
    EXPECT_TRUE(Tree->Expanded(one));
    Tree->DoFocusNode(two, false);
    EXPECT_FALSE(Tree->Expanded(one)); // the old sibling collapses
    EXPECT_TRUE(Tree->Expanded(two));
    Tree->OnFocusChanging = [](TBaseLazyTree&, PLazyNode, PLazyNode, TColumnIndex, TColumnIndex,
                               bool& a) { a = false; };
    Tree->DoFocusNode(one, true);
    EXPECT_EQ(Tree->FocusedNode(), two);
    Tree->DoFocusNode(Tree->RootNode(), false); // the root counts as none
    EXPECT_EQ(Tree->FocusedNode(), nullptr);
}

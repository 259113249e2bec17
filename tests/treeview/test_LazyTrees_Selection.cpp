// Check states, selection, focus, change notices and the properties that
// rebuild or recount the tree.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include "TreeProbe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <random>
#include <stdexcept>

using namespace nuq;

namespace {

struct TreeCase : ::testing::Test {
    std::unique_ptr<TTreeProbe> Tree;
    void SetUp() override {
        SetMainThread();
        Tree = NewComponent<TTreeProbe>();
    }
    void TearDown() override { Tree.reset(); }
    std::vector<PLazyNode> Children(PLazyNode parent, int count, TCheckType type = ctNone) {
        std::vector<PLazyNode> out;
        for (int i = 0; i < count; ++i) {
            out.push_back(Tree->AddChild(parent));
            out.back()->CheckType = type;
        }
        return out;
    }
    void MultiSelect() { Tree->TreeOptions().SetSelectionOptions(toMultiSelect); }
};

using CheckStates = TreeCase;
using Selection = TreeCase;
using Notices = TreeCase;
using Properties = TreeCase;
using Structure = TreeCase;

} // namespace

// --- check states ----------------------------------------------------------------------

TEST_F(CheckStates, TriStateParentFollowsItsChildrenAndPassesItsStateDown) {
    PLazyNode parent = Tree->AddChild(nullptr);
    parent->CheckType = ctTriStateCheckBox;
    auto kids = Children(parent, 3, ctCheckBox);
    Tree->SetCheckState(parent, csCheckedNormal);
    for (PLazyNode k : kids) EXPECT_EQ(k->CheckState, csCheckedNormal);
    EXPECT_EQ(parent->CheckState, csCheckedNormal);
    Tree->SetCheckState(parent, csUncheckedNormal);
    // Upwards, one child at a time.
    struct Step {
        int child;
        TCheckState state;
        TCheckState parent;
    };
    for (auto s :
         {Step{0, csCheckedNormal, csMixedNormal}, Step{1, csCheckedNormal, csMixedNormal},
          Step{2, csCheckedNormal, csCheckedNormal}, Step{1, csUncheckedNormal, csMixedNormal},
          Step{0, csUncheckedNormal, csMixedNormal},
          Step{2, csUncheckedNormal, csUncheckedNormal}}) {
        Tree->SetCheckState(kids[size_t(s.child)], s.state);
        EXPECT_EQ(parent->CheckState, s.parent) << s.child << " " << int(s.state);
    }
    // A mixed child alone makes its tri-state parent mixed, two levels up.
    PLazyNode middle = kids[0];
    middle->CheckType = ctTriStateCheckBox;
    auto grand = Children(middle, 2, ctCheckBox);
    Tree->SetCheckState(grand[0], csCheckedNormal);
    EXPECT_EQ(middle->CheckState, csMixedNormal);
    EXPECT_EQ(parent->CheckState, csMixedNormal);
    EXPECT_EQ(Tree->CheckPropagationCount(), 0u);
    EXPECT_FALSE(Tree->HasState(tsCheckPropagation));
}

TEST_F(CheckStates, RadioButtonUnchecksItsSiblingsWithoutTheirEvents) {
    auto radios = Children(nullptr, 3, ctRadioButton);
    PLazyNode box = Tree->AddChild(nullptr);
    box->CheckType = ctCheckBox;
    box->CheckState = csCheckedNormal;
    radios[0]->CheckState = csCheckedNormal;
    std::vector<PLazyNode> checked;
    Tree->OnChecked = [&](TBaseLazyTree&, PLazyNode n) { checked.push_back(n); };
    Tree->SetCheckState(radios[2], csCheckedNormal);
    EXPECT_EQ(radios[0]->CheckState, csUncheckedNormal);
    EXPECT_EQ(radios[1]->CheckState, csUncheckedNormal);
    EXPECT_EQ(radios[2]->CheckState, csCheckedNormal);
    EXPECT_EQ(box->CheckState, csCheckedNormal); // not a radio button
    EXPECT_EQ(checked, std::vector<PLazyNode>{radios[2]});
    Tree->OnChecked = nullptr;
}

TEST_F(CheckStates, AChangeOfANodeWhoseChangeIsRunningIsRefused) {
    PLazyNode parent = Tree->AddChild(nullptr);
    parent->CheckType = ctTriStateCheckBox;
    PLazyNode child = Children(parent, 1, ctCheckBox)[0];
    int refused = 0, asked = 0;
    bool propagating = false;
    Tree->OnChecking = [&](TBaseLazyTree& t, PLazyNode n, TCheckState&, bool&) {
        if (n != child) return;
        ++asked;
        propagating = t.HasState(tsCheckPropagation);
        if (!t.ChangeCheckState(parent, csMixedNormal)) ++refused; // the parent's change is running
    };
    Tree->SetCheckState(parent, csCheckedNormal);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(refused, 1);
    EXPECT_TRUE(propagating);
    EXPECT_EQ(parent->CheckState, csCheckedNormal);
    EXPECT_EQ(parent->States & vsChecking, 0);
    EXPECT_FALSE(Tree->HasState(tsCheckPropagation));
    Tree->OnChecking = nullptr;
}

// --- selection -------------------------------------------------------------------------

TEST_F(Selection, ArrayStaysSortedAndALookupGivesTheInsertionPlace) {
    MultiSelect();
    Tree->SetRootNodeCount(60);
    std::vector<PLazyNode> nodes;
    for (PLazyNode n = Tree->GetFirst(); n; n = Tree->GetNext(n)) nodes.push_back(n);
    std::mt19937 random(5);
    std::shuffle(nodes.begin(), nodes.end(), random);
    for (size_t i = 0; i < 40; ++i) {
        if (i % 3 == 0)
            Tree->AddToSelection(std::vector<PLazyNode>{nodes[i], nodes[i + 20]}, false);
        else
            Tree->SetSelected(nodes[i], true);
        const auto& s = Tree->SelectionArray();
        ASSERT_TRUE(std::is_sorted(s.begin(), s.end()));
        ASSERT_EQ(std::adjacent_find(s.begin(), s.end()), s.end());
        ASSERT_EQ(int(s.size()), Tree->SelectedCount());
    }
    const auto& s = Tree->SelectionArray();
    for (PLazyNode n : nodes) {
        int index = -1;
        bool found = Tree->FindNodeInSelection(n, index);
        EXPECT_EQ(found, Tree->Selected(n));
        EXPECT_EQ(index, std::lower_bound(s.begin(), s.end(), n) - s.begin());
    }
}

TEST_F(Selection, DisabledSelectedAndConstrainedNodesAreIgnored) {
    MultiSelect();
    auto top = Children(nullptr, 3);
    auto kids = Children(top[0], 2);
    top[1]->States |= vsDisabled;
    Tree->SetSelected(top[0], true);
    Tree->AddToSelection(std::vector<PLazyNode>{top[0], top[1], top[0]}, false);
    EXPECT_EQ(Tree->SelectedCount(), 1);
    Tree->AddToSelection(std::vector<PLazyNode>{top[0], top[1]},
                         true); // forced: disabled too, never twice
    EXPECT_EQ(Tree->SelectionArray(),
              (std::vector<PLazyNode>{std::min(top[0], top[1]), std::max(top[0], top[1])}));
    Tree->ClearSelection();
    Tree->TreeOptions().SetSelectionOptions(toMultiSelect | toLevelSelectConstraint);
    Tree->AddToSelection(top[2]);
    Tree->AddToSelection(std::vector<PLazyNode>{kids[0], top[0], kids[1]}, false);
    EXPECT_EQ(Tree->GetSortedSelection(false), (std::vector<PLazyNode>{top[0], top[2]}));
}

TEST_F(Selection, AnchorRules) {
    MultiSelect();
    auto top = Children(nullptr, 5);
    Tree->SetFocusedNode(top[4]);
    Tree->SetSelected(top[1], true); // the first of an empty selection anchors
    EXPECT_EQ(Tree->RangeAnchor(), top[1]);
    Tree->SetSelected(top[2], true);
    EXPECT_EQ(Tree->RangeAnchor(), top[1]);
    Tree->SetSelected(top[1], false);
    Tree->SetSelected(top[2], false); // the last one gone: back to the focused node
    EXPECT_EQ(Tree->RangeAnchor(), top[4]);
    Tree->ClearSelection();
    // Shift-click without an anchor: from the first top-level node.
    Tree->SetFocusedNode(nullptr);
    Tree->SetSelected(top[0], true);
    Tree->SetSelected(top[0], false);
    EXPECT_EQ(Tree->RangeAnchor(), nullptr);
    Tree->HandleClickSelection(nullptr, top[2], ssShift, false);
    EXPECT_EQ(Tree->GetSortedSelection(false), (std::vector<PLazyNode>{top[0], top[1], top[2]}));
    // Shift again replaces the range; Ctrl+Shift adds to it; Ctrl toggles.
    Tree->HandleClickSelection(nullptr, top[1], ssShift, false);
    EXPECT_EQ(Tree->GetSortedSelection(false), (std::vector<PLazyNode>{top[0], top[1]}));
    Tree->HandleClickSelection(nullptr, top[4], ssCtrl, false);
    EXPECT_EQ(Tree->RangeAnchor(), top[4]);
    Tree->HandleClickSelection(nullptr, top[3], ssCtrl | ssShift, false);
    EXPECT_EQ(Tree->SelectedCount(), 4);
    Tree->HandleClickSelection(nullptr, top[0], ssCtrl, false);
    EXPECT_FALSE(Tree->Selected(top[0]));
    Tree->HandleClickSelection(nullptr, top[0], ssCtrl, true); // decided on mouse up
    EXPECT_FALSE(Tree->Selected(top[0]));
    EXPECT_TRUE(Tree->HasState(tsToggleFocusedSelection));
}

// A selection shows in the focused column: selecting while that column is
// hidden moves the focus to the main column when it shows and takes the focus,
// else to the first shown column on the screen that takes it.
TEST_F(Selection, SelectingMovesTheFocusOffAHiddenColumn) {
    struct Case {
        const char* name;
        TColumnIndex focused, hidden;
        unsigned refusing; // bit i: column i does not take the focus
        TColumnIndex expected;
    };
    // Screen order: column 2, then 0, then 1; column 0 is the main column.
    for (const Case& c :
         {Case{"main column hidden", 0, 0, 0, 2}, Case{"focused column hidden", 1, 1, 0, 0},
          Case{"main column refuses the focus", 1, 1, 1, 2},
          Case{"focused column shows", 1, 2, 0, 1}, Case{"no shown column takes it", 1, 1, 5, 1}}) {
        SCOPED_TRACE(c.name);
        Tree = NewComponent<TTreeProbe>();
        TLazyTreeColumns& columns = Tree->Header().Columns();
        for (int i = 0; i < 3; ++i) columns.Add()->SetWidth(100);
        columns[2].SetPosition(0);
        Tree->SetFocusedColumn(c.focused);
        columns[c.hidden].SetOptions(columns[c.hidden].Options() & ~coVisible);
        for (int i = 0; i < 3; ++i)
            if (c.refusing & (1u << i)) columns[i].SetOptions(columns[i].Options() & ~coAllowFocus);
        PLazyNode node = Tree->AddChild(nullptr);
        Tree->SetSelected(node, true);
        EXPECT_TRUE(Tree->Selected(node));
        EXPECT_EQ(Tree->FocusedColumn(), c.expected);
    }
}

TEST_F(Selection, ToggleChangesTheNodesBetweenAndKeepsTheAnchor) {
    MultiSelect();
    auto top = Children(nullptr, 6);
    Tree->SetSelected(top[2], true); // the anchor
    Tree->SetSelected(top[3], true);
    Tree->ToggleSelection(top[5], top[2]);
    EXPECT_EQ(Tree->GetSortedSelection(false), (std::vector<PLazyNode>{top[2], top[4], top[5]}));
    Tree->ToggleSelection(top[0], top[3]);
    EXPECT_EQ(Tree->GetSortedSelection(false),
              (std::vector<PLazyNode>{top[0], top[1], top[2], top[3], top[4], top[5]}));
    Tree->ToggleSelection(top[1], top[1]); // the same node: nothing
    EXPECT_EQ(Tree->SelectedCount(), 6);
    EXPECT_EQ(Tree->RangeAnchor(), top[2]);
}

TEST_F(Selection, ALockedSelectionDoesNotChange) {
    MultiSelect();
    auto top = Children(nullptr, 3);
    Tree->SetSelected(top[0], true);
    Tree->SelectionLocked = 1;
    Tree->SetSelected(top[1], true);
    Tree->SetSelected(top[0], false);
    Tree->AddToSelection(top[2]);
    Tree->AddToSelection(std::vector<PLazyNode>{top[1], top[2]}, false);
    Tree->RemoveFromSelection(top[0]);
    Tree->ClearSelection();
    Tree->SelectAll(false);
    EXPECT_EQ(Tree->GetSortedSelection(false), std::vector<PLazyNode>{top[0]});
    Tree->SelectionLocked = 0;
    Tree->SelectAll(false);
    EXPECT_EQ(Tree->SelectedCount(), 3);
}

TEST_F(Selection, SingleSelectionKeepsOneNode) {
    auto top = Children(nullptr, 3);
    Tree->SetSelected(top[0], true);
    Tree->SetSelected(top[2], true);
    EXPECT_EQ(Tree->GetSortedSelection(false), std::vector<PLazyNode>{top[2]});
    Tree->SelectAll(false); // needs multi-selection
    EXPECT_EQ(Tree->SelectedCount(), 1);
}

TEST_F(Selection, SortedSetsInTreeOrderAndCutOrCopyMarks) {
    MultiSelect();
    auto top = Children(nullptr, 3);
    auto kids = Children(top[0], 2);
    for (PLazyNode n : {top[2], kids[1], top[0], kids[0]}) Tree->SetSelected(n, true);
    EXPECT_EQ(Tree->GetFirstSelected(), top[0]);
    EXPECT_EQ(Tree->GetSortedSelection(false),
              (std::vector<PLazyNode>{top[0], kids[0], kids[1], top[2]}));
    EXPECT_EQ(Tree->GetSortedSelection(true), (std::vector<PLazyNode>{top[0], top[2]}));
    top[2]->States |= vsDisabled;
    Tree->MarkCutCopyNodes();
    Tree->DoStateChange(TS(tsCutPending));
    EXPECT_EQ(Tree->GetSortedCutCopySet(true), std::vector<PLazyNode>{top[0]});
    EXPECT_EQ(Tree->GetSortedCutCopySet(false), (std::vector<PLazyNode>{top[0], kids[0], kids[1]}));
    Tree->CancelCutOrCopy();
    EXPECT_TRUE(Tree->GetSortedCutCopySet(false).empty());
    EXPECT_FALSE(Tree->HasState(tsCutPending));
    Tree->ClearSelection();
    EXPECT_EQ(Tree->GetFirstSelected(), nullptr);
    EXPECT_TRUE(Tree->GetSortedSelection(false).empty());
}

TEST_F(Selection, PackingDropsMarkedEntriesAndAnEmptyArrayStaysEmpty) {
    std::vector<PLazyNode> none;
    EXPECT_EQ(TTreeProbe::PackArray(none, 0), 0);
    MultiSelect();
    auto top = Children(nullptr, 4);
    Tree->SelectAll(false);
    Tree->BeginUpdate();
    Tree->InternalRemoveFromSelection(top[1]);
    Tree->InternalRemoveFromSelection(top[3]);
    EXPECT_EQ(Tree->SelectedCount(), 2);
    Tree->EndUpdate();
    EXPECT_EQ(Tree->GetSortedSelection(false), (std::vector<PLazyNode>{top[0], top[2]}));
    EXPECT_EQ(Tree->SelectionArray().size(), 2u);
    // Clearing an empty selection inside an update leaves a usable, empty selection.
    Tree->ClearSelection();
    Tree->BeginUpdate();
    Tree->InternalClearSelection();
    Tree->EndUpdate();
    EXPECT_EQ(Tree->SelectedCount(), 0);
    Tree->SetSelected(top[3], true);
    EXPECT_EQ(Tree->SelectedCount(), 1);
}

TEST_F(Selection, DeletingASubtreeTakesItsSelectedNodesOut) {
    MultiSelect();
    PLazyNode parent = Tree->AddChild(nullptr);
    auto kids = Children(parent, 3);
    PLazyNode other = Tree->AddChild(nullptr);
    Tree->SetSelected(kids[1], true);
    Tree->SetSelected(other, true);
    Tree->DeleteNode(parent);
    EXPECT_EQ(Tree->SelectionArray(), std::vector<PLazyNode>{other});
    EXPECT_EQ(Tree->SelectedCount(), 1);
    Tree->AddChild(other);
    Tree->SetSelected(other->FirstChild, true);
    Tree->DeleteChildren(other);
    EXPECT_EQ(Tree->SelectionArray(), std::vector<PLazyNode>{other});
}

// --- focus -----------------------------------------------------------------------------

TEST_F(Selection, FocusChangesFireOnceAndARefusalKeepsTheFocus) {
    auto top = Children(nullptr, 2);
    std::vector<PLazyNode> changed;
    Tree->OnFocusChanged = [&](TBaseLazyTree&, PLazyNode n, TColumnIndex) { changed.push_back(n); };
    Tree->SetFocusedNode(top[0]);
    Tree->SetFocusedNode(top[0]);
    EXPECT_EQ(changed, std::vector<PLazyNode>{top[0]});
    Tree->OnFocusChanging = [](TBaseLazyTree&, PLazyNode, PLazyNode, TColumnIndex, TColumnIndex,
                               bool& a) { a = false; };
    Tree->SetFocusedNode(top[1]);
    EXPECT_EQ(Tree->FocusedNode(), top[0]);
    EXPECT_EQ(changed.size(), 1u);
    // A focused node that is deleted leaves the focus empty, and says so.
    Tree->OnFocusChanging = nullptr;
    Tree->DeleteNode(top[0]);
    EXPECT_EQ(Tree->FocusedNode(), nullptr);
    EXPECT_EQ(changed, (std::vector<PLazyNode>{top[0], nullptr}));
    // Node and column together: a refused node keeps the old column too.
    Tree->SetFocusedNodeAndColumn(top[1], 0);
    EXPECT_EQ(Tree->FocusedNode(), top[1]);
    EXPECT_EQ(changed.back(), top[1]);
    Tree->OnFocusChanging = [](TBaseLazyTree&, PLazyNode, PLazyNode, TColumnIndex, TColumnIndex,
                               bool& a) { a = false; };
    Tree->SetFocusedNodeAndColumn(nullptr, NoColumn);
    EXPECT_EQ(Tree->FocusedNode(), top[1]);
    EXPECT_EQ(Tree->FocusedColumn(), NoColumn);
    EXPECT_EQ(changed.size(), 3u);
    Tree->OnFocusChanging = nullptr;
    Tree->OnFocusChanged = nullptr;
}

// Closing a group above the focused node moves the focus onto the outermost
// closed group, which stays closed even where focusing opens nodes.
TEST_F(Selection, CollapsingAboveTheFocusMovesItOntoTheGroup) {
    auto top = Children(nullptr, 2);
    PLazyNode mid = Tree->AddChild(top[0]);
    PLazyNode leaf = Children(mid, 2)[1];
    Tree->TreeOptions().SetAutoOptions(Tree->TreeOptions().AutoOptions() | toAutoExpand);
    struct Case {
        std::function<void()> Close;
        PLazyNode Focus;
    };
    for (const Case& c : {Case{[&] { Tree->ToggleNode(mid); }, mid},
                          Case{[&] { Tree->FullCollapse(top[0]); }, top[0]},
                          Case{[&] { Tree->FullCollapse(); }, top[0]},
                          Case{[&] { Tree->SetExpanded(top[1], false); }, leaf}}) {
        Tree->FullExpand();
        Tree->SetFocusedNode(leaf);
        std::vector<PLazyNode> changed;
        Tree->OnFocusChanged = [&](TBaseLazyTree&, PLazyNode n, TColumnIndex) {
            changed.push_back(n);
        };
        c.Close();
        EXPECT_EQ(Tree->FocusedNode(), c.Focus);
        EXPECT_EQ(changed,
                  c.Focus == leaf ? std::vector<PLazyNode>{} : std::vector<PLazyNode>{c.Focus});
        EXPECT_TRUE(c.Focus == leaf || !Tree->Expanded(c.Focus));
        Tree->OnFocusChanged = nullptr;
    }
}

// --- change notices --------------------------------------------------------------------

TEST_F(Notices, StructureChangesInAnUpdateArriveAsOne) {
    std::vector<std::pair<PLazyNode, TChangeReason>> seen;
    Tree->OnStructureChange = [&](TBaseLazyTree&, PLazyNode n, TChangeReason r) {
        seen.push_back({n, r});
    };
    PLazyNode a = Tree->AddChild(nullptr);
    Tree->BeginUpdate();
    PLazyNode b = Tree->AddChild(a);
    Tree->EndUpdate();
    Tree->BeginUpdate();
    Tree->AddChild(a);
    Tree->DeleteNode(b);
    Tree->EndUpdate();
    Tree->MoveTo(a->FirstChild, nullptr, amAddChildFirst);
    EXPECT_EQ(seen,
              (std::vector<std::pair<PLazyNode, TChangeReason>>{{nullptr, crChildAdded},
                                                                {a, crChildAdded},
                                                                {a, crAccumulated},
                                                                {Tree->GetFirst(), crNodeMoved}}));
    Tree->OnStructureChange = nullptr;
}

TEST_F(Notices, ChangeDelayReportsABurstOnceForTheLastNode) {
    MultiSelect();
    auto top = Children(nullptr, 3);
    std::vector<PLazyNode> changes;
    Tree->OnChange = [&](TBaseLazyTree&, PLazyNode n) { changes.push_back(n); };
    Tree->SetSelected(top[0], true);
    EXPECT_EQ(changes, std::vector<PLazyNode>{top[0]}); // no delay: at once
    changes.clear();
    UseVirtualClock(0);
    Tree->ChangeDelay = 300;
    Tree->SetSelected(top[1], true);
    AdvanceClock(200);
    ProcessMessages();
    Tree->SetSelected(top[2], true);
    AdvanceClock(200);
    ProcessMessages();
    EXPECT_TRUE(changes.empty()); // the second change restarted the delay
    ProcessMessagesUntil([&] { return !changes.empty(); }, 1000);
    ProcessMessagesUntil([] { return false; }, 1000);
    UseRealClock();
    EXPECT_EQ(changes, std::vector<PLazyNode>{top[2]});
    EXPECT_FALSE(Tree->HasState(tsChangePending));
    Tree->OnChange = nullptr;
}

TEST_F(Notices, AChangeInsideAnUpdateIsDeliveredWhenItEnds) {
    MultiSelect();
    auto top = Children(nullptr, 2);
    int changes = 0;
    Tree->OnChange = [&](TBaseLazyTree&, PLazyNode) { ++changes; };
    Tree->BeginUpdate();
    Tree->SetSelected(top[0], true);
    Tree->SetSelected(top[1], true);
    EXPECT_EQ(changes, 0);
    Tree->EndUpdate();
    EXPECT_EQ(changes, 1);
    Tree->OnChange = nullptr;
}

// A handler's error leaves through the update or the check change it broke:
// both end on the way out, so the tree paints and propagates checks afterwards.
TEST_F(Notices, AHandlerThatThrowsEndsTheUpdateAndTheCheckChange) {
    struct Case {
        const char* what;
        std::function<void(PLazyNode parent, PLazyNode kid)> arm, act;
    };
    auto fail = [] { throw std::runtime_error("handler"); };
    auto failOn = [fail](PLazyNode target) {
        return [target, fail](TBaseLazyTree&, PLazyNode n, TCheckState&, bool&) {
            if (n == target) fail();
        };
    };
    const Case cases[] = {
        {"expanding", [&](PLazyNode, PLazyNode) { Tree->OnExpanding = [&](auto&&...) { fail(); }; },
         [&](PLazyNode, PLazyNode) { Tree->FullExpand(); }},
        {"collapsing",
         [&](PLazyNode parent, PLazyNode) {
             Tree->SetExpanded(parent, true);
             Tree->OnCollapsing = [&](auto&&...) { fail(); };
         },
         [&](PLazyNode, PLazyNode) { Tree->FullCollapse(); }},
        {"a child's check", [&](PLazyNode, PLazyNode kid) { Tree->OnChecking = failOn(kid); },
         [&](PLazyNode parent, PLazyNode) { Tree->SetCheckState(parent, csCheckedNormal); }},
        {"the parent's check",
         [&](PLazyNode parent, PLazyNode) { Tree->OnChecking = failOn(parent); },
         [&](PLazyNode, PLazyNode kid) { Tree->SetCheckState(kid, csCheckedNormal); }},
    };
    auto& o = Tree->TreeOptions();
    o.SetAutoOptions(o.AutoOptions() | toAutoTristateTracking);
    for (const Case& c : cases) {
        Tree->Clear();
        PLazyNode parent = Tree->AddChild(nullptr);
        parent->CheckType = ctTriStateCheckBox;
        auto kids = Children(parent, 2, ctCheckBox);
        c.arm(parent, kids[1]);
        EXPECT_THROW(c.act(parent, kids[1]), std::runtime_error) << c.what;
        Tree->OnExpanding = nullptr;
        Tree->OnCollapsing = nullptr;
        Tree->OnChecking = nullptr;
        EXPECT_EQ(Tree->UpdateCount(), 0) << c.what;
        EXPECT_FALSE(Tree->HasState(tsUpdating)) << c.what;
        EXPECT_EQ(Tree->CheckPropagationCount(), 0u) << c.what;
        EXPECT_FALSE(Tree->HasState(tsCheckPropagation)) << c.what;
        for (PLazyNode n : {parent, kids[0], kids[1]}) {
            EXPECT_EQ(n->States & vsChecking, 0) << c.what;
            n->CheckState = csUncheckedNormal;
        }
        Tree->SetCheckState(kids[0], csCheckedNormal);
        EXPECT_EQ(parent->CheckState, csMixedNormal) << c.what;
    }
}

// --- properties ------------------------------------------------------------------------

TEST_F(Properties, DefaultNodeHeight) {
    Tree->AddChild(nullptr);
    Tree->SetDefaultNodeHeight(0);
    EXPECT_EQ(Tree->DefaultNodeHeight(), 18u);
    Tree->SetDefaultNodeHeight(25);
    EXPECT_EQ(Tree->RootNode()->NodeHeight, 25);
    EXPECT_EQ(Tree->RootNode()->TotalHeight, 25u + 18);
    EXPECT_TRUE(Tree->HasState(tsNeedScale));
    EXPECT_EQ(Tree->AddChild(nullptr)->NodeHeight, 25);
    EXPECT_EQ(Tree->RootNode()->TotalHeight, 25u + 18 + 25);
}

TEST_F(Properties, RootNodeCountWhileLoadingIsMadeWhenLoadingEnds) {
    Tree->ComponentState |= csLoading;
    Tree->SetRootNodeCount(4);
    EXPECT_EQ(Tree->GetFirstNoInit(), nullptr);
    EXPECT_TRUE(Tree->HasState(tsNeedRootCountUpdate));
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toReadOnly);
    Tree->Loaded();
    EXPECT_EQ(Tree->RootNodeCount(), 4u);
    EXPECT_EQ(Tree->TotalCount(), 4u);
    EXPECT_EQ(Tree->VisibleCount(), 4u);
    EXPECT_FALSE(Tree->HasState(tsNeedRootCountUpdate));
    EXPECT_NE(Tree->TreeOptions().MiscOptions() & toReadOnly, 0); // restored
}

TEST_F(Properties, NodeHeightAndChildCountSetters) {
    PLazyNode a = Tree->AddChild(nullptr);
    uint32_t total = Tree->RootNode()->TotalHeight;
    Tree->SetNodeHeight(nullptr, 40);
    Tree->SetNodeHeight(Tree->RootNode(), 40);
    EXPECT_EQ(Tree->RootNode()->TotalHeight, total);
    Tree->SetChildCount(a, 5);
    auto kids = std::vector<PLazyNode>{a->FirstChild, a->FirstChild->NextSibling};
    Tree->SetChildCount(a, 2); // from the end; the rest keep their indexes
    EXPECT_EQ(a->FirstChild, kids[0]);
    EXPECT_EQ(a->LastChild, kids[1]);
    EXPECT_EQ(kids[1]->Index, 1u);
    EXPECT_EQ(a->TotalCount, 3u);
    Tree->SetExpanded(a, true);
    Tree->SetNodeHeight(kids[1], 30);
    EXPECT_EQ(a->TotalHeight, 18u + 18 + 30);
    EXPECT_EQ(Tree->RootNode()->TotalHeight, 18u + 18 + 18 + 30);
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toReadOnly);
    Tree->SetChildCount(a, 7);
    Tree->SetNodeHeight(kids[0], 50);
    EXPECT_EQ(a->ChildCount, 2u);
    EXPECT_EQ(kids[0]->NodeHeight, 18);
}

TEST_F(Properties, MeasuredHeightIsAskedOnce) {
    Tree->TreeOptions().SetMiscOptions(Tree->TreeOptions().MiscOptions() | toVariableNodeHeight);
    int asked = 0;
    Tree->OnMeasureItem = [&](TBaseLazyTree&, TCanvas&, PLazyNode, int& h) {
        ++asked;
        h = 33;
    };
    PLazyNode a = Tree->AddChild(nullptr);
    EXPECT_EQ(Tree->GetNodeHeight(a), 33u);
    EXPECT_EQ(Tree->GetNodeHeight(a), 33u);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(Tree->RootNode()->TotalHeight, 18u + 33);
    EXPECT_EQ(Tree->GetNodeHeight(nullptr), 0u);
    // A row invalidated may have changed: it is measured again.
    Tree->OnMeasureItem = [&](TBaseLazyTree&, TCanvas&, PLazyNode, int& h) {
        ++asked;
        h = 40;
    };
    Tree->InvalidateNode(a);
    EXPECT_EQ(Tree->GetNodeHeight(a), 40u);
    EXPECT_EQ(asked, 2);
    Tree->OnMeasureItem = nullptr;
}

TEST_F(Properties, AFreedImageListIsForgotten) {
    auto images = std::make_unique<TCustomImageList>();
    auto states = std::make_unique<TCustomImageList>();
    auto checks = std::make_unique<TCustomImageList>();
    Tree->SetImages(images.get());
    Tree->SetStateImages(images.get());
    Tree->SetStateImages(states.get()); // the first list stays referenced as Images
    Tree->SetCustomCheckImages(checks.get());
    Tree->SetCheckImageKind(ckCustom);
    EXPECT_EQ(Tree->CheckImages, checks.get());
    images.reset();
    EXPECT_EQ(Tree->Images(), nullptr);
    EXPECT_EQ(Tree->StateImages(), states.get());
    checks.reset();
    EXPECT_EQ(Tree->CustomCheckImages(), nullptr);
    EXPECT_EQ(Tree->CheckImageKind(), ckSystemDefault);
    EXPECT_NE(Tree->CheckImages, nullptr);
    Tree->SetCheckImageKind(ckCustom); // no custom list: no check images
    EXPECT_EQ(Tree->CheckImages, nullptr);
    Tree.reset(); // the list outlives the tree
    states.reset();
}

// --- structure -------------------------------------------------------------------------

TEST_F(Structure, InsertAndMoveRenumberAndRefuseAMoveIntoItsOwnSubtree) {
    auto top = Children(nullptr, 3);
    PLazyNode first = Tree->InsertNode(top[0], amInsertBefore);
    EXPECT_EQ(Tree->RootNode()->FirstChild, first);
    EXPECT_EQ(first->Index, 0u);
    EXPECT_EQ(top[2]->Index, 3u);
    PLazyNode after = Tree->InsertNode(top[2], amInsertAfter);
    EXPECT_EQ(Tree->RootNode()->LastChild, after);
    EXPECT_EQ(after->Index, 4u);
    auto kids = Children(top[0], 2);
    Tree->MoveTo(top[0], kids[1], amAddChildLast);
    EXPECT_EQ(top[0]->Parent, Tree->RootNode());
    Tree->MoveTo(kids[1], top[2], amInsertBefore);
    EXPECT_EQ(kids[1]->Index, 3u);
    EXPECT_EQ(top[2]->Index, 4u);
    EXPECT_EQ(top[0]->ChildCount, 1u);
    EXPECT_EQ(Tree->TotalCount(), 7u);
}

TEST_F(Structure, ComparePositions) {
    auto top = Children(nullptr, 2);
    auto kids = Children(top[0], 2);
    PLazyNode deep = Tree->AddChild(kids[1]);
    struct Case {
        PLazyNode a, b;
        int sign;
    };
    for (auto c : {Case{top[0], kids[0], -1}, Case{kids[0], top[0], 1}, Case{deep, top[1], -1},
                   Case{kids[0], deep, -1}, Case{top[1], top[1], 0}, Case{top[1], kids[1], 1}}) {
        int r = Tree->CompareNodePositions(c.a, c.b);
        EXPECT_EQ((r > 0) - (r < 0), c.sign);
    }
    auto& o = Tree->TreeOptions();
    o.SetPaintOptions(o.PaintOptions() | toChildrenAbove);
    EXPECT_EQ(Tree->CompareNodePositions(top[0], kids[0], true), 1);
    EXPECT_EQ(Tree->CompareNodePositions(top[0], kids[0], false), -1);
}

TEST_F(Structure, SortOrdersEveryLevelAndRenumbers) {
    Tree->OnCompareNodes = [](TBaseLazyTree&, PLazyNode a, PLazyNode b, TColumnIndex, int& r) {
        r = int(a->NodeHeight) - int(b->NodeHeight);
    };
    auto top = Children(nullptr, 3);
    auto kids = Children(top[1], 3);
    for (int i = 0; i < 3; ++i) {
        Tree->SetNodeHeight(top[size_t(i)], uint32_t(30 - i));
        Tree->SetNodeHeight(kids[size_t(i)], uint32_t(20 + i));
    }
    Tree->SortTree(NoColumn, sdAscending);
    EXPECT_EQ(Tree->RootNode()->FirstChild, top[2]);
    EXPECT_EQ(Tree->RootNode()->LastChild, top[0]);
    EXPECT_EQ(top[0]->Index, 2u);
    EXPECT_EQ(top[1]->FirstChild, kids[0]);
    Tree->SortTree(NoColumn, sdDescending);
    EXPECT_EQ(Tree->RootNode()->FirstChild, top[0]);
    EXPECT_EQ(top[1]->FirstChild, kids[2]);
    EXPECT_EQ(kids[2]->PrevSibling, nullptr);
    EXPECT_EQ(kids[0]->Index, 2u);
    Tree->OnCompareNodes = nullptr;
}

TEST_F(Structure, FullExpandAndCollapseFireTheToggleEvents) {
    auto top = Children(nullptr, 2);
    for (PLazyNode t : top) Children(Tree->AddChild(t), 2);
    int expanded = 0, collapsed = 0;
    Tree->OnExpanded = [&](TBaseLazyTree&, PLazyNode) { ++expanded; };
    Tree->OnCollapsed = [&](TBaseLazyTree&, PLazyNode) { ++collapsed; };
    Tree->OnCollapsing = [&](TBaseLazyTree&, PLazyNode n, bool& a) { a = n != top[1]; };
    Tree->FullExpand();
    EXPECT_EQ(expanded, 4);
    EXPECT_EQ(Tree->VisibleCount(), 8u);
    Tree->FullCollapse(top[0]);
    EXPECT_EQ(collapsed, 2);
    EXPECT_EQ(Tree->VisibleCount(), 5u);
    Tree->FullCollapse();
    EXPECT_EQ(Tree->VisibleCount(), 3u); // the second top-level node refused
    EXPECT_EQ(Tree->RootNode()->TotalHeight, 18u * 4);
    Tree->OnExpanded = nullptr;
    Tree->OnCollapsed = nullptr;
    Tree->OnCollapsing = nullptr;
}

// --- the unit's end --------------------------------------------------------------------

TEST(TreeUnit, FinalizationFreesTheClipboardFormatRegistry) {
    SetMainThread();
    ASSERT_NE(NewComponent<TLazyStringTree>(), nullptr); // the set-up has run
    ASSERT_NE(InternalClipboardFormats(), nullptr);
    LazyTreesFinalization();
    EXPECT_EQ(InternalClipboardFormats(), nullptr);
    LazyTreesInitialization();
    auto tree = NewComponent<TLazyStringTree>(); // sets the unit up again
    ASSERT_NE(InternalClipboardFormats(), nullptr);
    EXPECT_EQ(tree->ClipboardFormats().Add("CSV"), 0);
}

TEST_F(Properties, VisualSettersRepaintOnlyALiveTreeThatChanged) {
    struct Case {
        const char* name;
        std::function<void(TBaseLazyTree&)> same, changed;
    };
    const Case cases[] = {
        {"Alignment", [](TBaseLazyTree& t) { t.SetAlignment(taLeftJustify); },
         [](TBaseLazyTree& t) { t.SetAlignment(taCenter); }},
        {"BackgroundOffsetY", [](TBaseLazyTree& t) { t.SetBackgroundOffset(1, 0); },
         [](TBaseLazyTree& t) { t.SetBackgroundOffset(1, 5); }},
        {"ButtonFillMode", [](TBaseLazyTree& t) { t.SetButtonFillMode(fmTreeColor); },
         [](TBaseLazyTree& t) { t.SetButtonFillMode(fmWindowColor); }},
        {"ButtonStyle", [](TBaseLazyTree& t) { t.SetButtonStyle(bsRectangle); },
         [](TBaseLazyTree& t) { t.SetButtonStyle(bsTriangle); }},
        {"Indent", [](TBaseLazyTree& t) { t.SetIndent(18); },
         [](TBaseLazyTree& t) { t.SetIndent(30); }},
        {"LineMode", [](TBaseLazyTree& t) { t.SetLineMode(lmNormal); },
         [](TBaseLazyTree& t) { t.SetLineMode(lmBands); }},
        {"LineStyle", [](TBaseLazyTree& t) { t.SetLineStyle(lsDotted); },
         [](TBaseLazyTree& t) { t.SetLineStyle(lsSolid); }},
        {"Margin", [](TBaseLazyTree& t) { t.SetMargin(4); },
         [](TBaseLazyTree& t) { t.SetMargin(6); }},
        {"TextMargin", [](TBaseLazyTree& t) { t.SetTextMargin(4); },
         [](TBaseLazyTree& t) { t.SetTextMargin(2); }},
        {"NodeAlignment", [](TBaseLazyTree& t) { t.SetNodeAlignment(naProportional); },
         [](TBaseLazyTree& t) { t.SetNodeAlignment(naFromTop); }},
        {"SelectionCurveRadius", [](TBaseLazyTree& t) { t.SetSelectionCurveRadius(0); },
         [](TBaseLazyTree& t) { t.SetSelectionCurveRadius(3); }},
    };
    for (const Case& c : cases) {
        auto tree = NewComponent<TLazyStringTree>();
        HWND h = tree->Handle();
        TRect r;
        ValidateRect(h, nullptr);
        c.same(*tree);
        EXPECT_FALSE(GetUpdateRect(h, r, false)) << c.name;
        tree->ComponentState |= csLoading;
        c.changed(*tree);
        EXPECT_FALSE(GetUpdateRect(h, r, false)) << c.name;
        tree->ComponentState &= ~csLoading;
        c.same(*tree); // back to the start value, then a change while live
        c.changed(*tree);
        c.same(*tree);
        EXPECT_TRUE(GetUpdateRect(h, r, false)) << c.name;
    }
}

TEST_F(Properties, BorderStyleRecreatesTheWindowAndFormatsAreAssignedByName) {
    HWND h = Tree->Handle();
    Tree->SetBorderStyle(1);
    EXPECT_EQ(Tree->Handle(), h);
    Tree->SetBorderStyle(0);
    EXPECT_NE(Tree->Handle(), h);
    auto other = NewComponent<TLazyStringTree>();
    other->ClipboardFormats().Add("CSV");
    other->ClipboardFormats().Add("HTML Format");
    Tree->ClipboardFormats().Add("Rich Text Format");
    Tree->SetClipboardFormats(other->ClipboardFormats());
    EXPECT_EQ(Tree->ClipboardFormats().Strings(), other->ClipboardFormats().Strings());
    auto base = NewComponent<TBaseLazyTree>();
    base->SetClipboardFormats(other->ClipboardFormats()); // a plain tree renders neither
    EXPECT_EQ(base->ClipboardFormats().Count(), 0);
    Tree->SetClipboardFormats(Tree->ClipboardFormats()); // its own list
    EXPECT_EQ(Tree->ClipboardFormats().Count(), 2);
}

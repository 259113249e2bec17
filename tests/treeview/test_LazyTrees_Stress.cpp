// Random trees built, sorted, moved, toggled, deleted and cleared while the
// caller holds every node, checked against a plain model of the same tree
// after each step: every link, index and count, the events of freed nodes,
// the set of expanded nodes, and that a held node keeps its address and data.

#include "TreeProbe.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

using namespace nuq;

namespace {

// The expected tree: children of each node number in order, 0 being the root.
struct TModel {
    std::map<uintptr_t, std::vector<uintptr_t>> Children{{0, {}}};
    std::map<uintptr_t, uintptr_t> Parent;

    void Add(uintptr_t id, uintptr_t parent, size_t at) {
        auto& kids = Children[parent];
        kids.insert(kids.begin() + ptrdiff_t(at), id);
        Children[id];
        Parent[id] = parent;
    }
    size_t Detach(uintptr_t id) {
        auto& kids = Children[Parent[id]];
        auto at = std::find(kids.begin(), kids.end(), id);
        size_t index = size_t(at - kids.begin());
        kids.erase(at);
        return index;
    }
    void Remove(uintptr_t id, std::set<uintptr_t>& gone) {
        for (uintptr_t c : std::vector<uintptr_t>(Children[id])) Remove(c, gone);
        Children.erase(id);
        Parent.erase(id);
        gone.insert(id);
    }
    bool Within(uintptr_t id, uintptr_t ancestor) const {
        for (; id != 0; id = Parent.at(id))
            if (id == ancestor) return true;
        return ancestor == 0;
    }
};

struct Stress : ::testing::Test {
    std::unique_ptr<TTreeProbe> Tree;
    TModel Model;
    std::map<uintptr_t, PLazyNode> Held;
    std::map<uintptr_t, int> Keys;
    std::vector<uintptr_t> Freed;
    std::set<uintptr_t> Expected; // freed by the model, not yet reported
    std::mt19937 Random{1};
    uintptr_t NextId = 1;

    void SetUp() override {
        SetMainThread();
        Tree = NewComponent<TTreeProbe>();
        Tree->SetNodeDataSize(sizeof(void*));
        Tree->OnFreeNode = [this](TBaseLazyTree&, PLazyNode n) { Freed.push_back(Id(n)); };
        Tree->OnCompareNodes = [this](TBaseLazyTree&, PLazyNode a, PLazyNode b, TColumnIndex,
                                      int& result) { result = Keys[Id(a)] - Keys[Id(b)]; };
    }
    void TearDown() override { Tree.reset(); }

    uintptr_t Id(PLazyNode n) { return *static_cast<uintptr_t*>(Tree->GetNodeData(n)); }
    size_t Pick(size_t count) { return size_t(Random() % count); }
    uintptr_t AnyNode(bool orRoot) {
        size_t at = Pick(Held.size() + (orRoot ? 1 : 0));
        if (at == Held.size()) return 0;
        return std::next(Held.begin(), ptrdiff_t(at))->first;
    }
    PLazyNode NodeOf(uintptr_t id) { return id ? Held[id] : nullptr; }

    uintptr_t AddChild(uintptr_t parent) {
        uintptr_t id = NextId++;
        Held[id] = Tree->AddChild(NodeOf(parent), reinterpret_cast<void*>(id));
        Model.Add(id, parent, Model.Children[parent].size());
        return id;
    }
    void Add() {
        uintptr_t id = NextId++, target = AnyNode(true);
        Keys[id] = int(Random() % 8); // ties too: the sort must keep their order
        int mode = target ? int(Pick(3)) : 0;
        const TLTNodeAttachMode modes[] = {amAddChildLast, amInsertBefore, amInsertAfter};
        Held[id] = Tree->InsertNode(NodeOf(target), modes[mode], reinterpret_cast<void*>(id));
        ASSERT_TRUE(Held[id]);
        if (mode == 0) {
            Model.Add(id, target, Model.Children[target].size());
        } else {
            uintptr_t parent = Model.Parent[target];
            auto& kids = Model.Children[parent];
            size_t at = size_t(std::find(kids.begin(), kids.end(), target) - kids.begin());
            Model.Add(id, parent, at + (mode == 2 ? 1 : 0));
        }
    }
    void Forget(const std::set<uintptr_t>& gone) {
        for (uintptr_t g : gone) Held.erase(g);
        Expected.insert(gone.begin(), gone.end());
    }
    void Delete(uintptr_t id) {
        Tree->DeleteNode(Held[id]);
        Model.Detach(id);
        std::set<uintptr_t> gone;
        Model.Remove(id, gone);
        Forget(gone);
    }
    void DeleteChildren() {
        uintptr_t id = AnyNode(true);
        Tree->DeleteChildren(id ? Held[id] : Tree->RootNode());
        std::set<uintptr_t> gone;
        for (uintptr_t c : std::vector<uintptr_t>(Model.Children[id])) Model.Remove(c, gone);
        Model.Children[id].clear();
        Forget(gone);
    }
    void Clear() {
        Tree->Clear();
        std::set<uintptr_t> gone;
        for (uintptr_t c : std::vector<uintptr_t>(Model.Children[0])) Model.Remove(c, gone);
        Model.Children[0].clear();
        Forget(gone);
    }
    void Move() {
        uintptr_t id = AnyNode(false), target = AnyNode(true);
        if (Model.Within(target, id)) return; // refused: into its own subtree or itself
        bool child = target == 0 || Pick(2);
        Tree->MoveTo(Held[id], NodeOf(target), child ? amAddChildFirst : amInsertAfter);
        Model.Detach(id);
        if (child) {
            Model.Add(id, target, 0);
        } else {
            uintptr_t parent = Model.Parent[target];
            auto& kids = Model.Children[parent];
            Model.Add(id, parent,
                      size_t(std::find(kids.begin(), kids.end(), target) - kids.begin()) + 1);
        }
    }
    void Sort(bool all, TSortDirection direction) {
        uintptr_t id = all ? 0 : AnyNode(true);
        if (all)
            Tree->SortTree(NoColumn, direction, false);
        else
            Tree->Sort(NodeOf(id), NoColumn, direction, false);
        auto sort = [&](std::vector<uintptr_t>& kids) {
            std::stable_sort(kids.begin(), kids.end(), [&](uintptr_t a, uintptr_t b) {
                return direction == sdAscending ? Keys[a] < Keys[b] : Keys[b] < Keys[a];
            });
        };
        if (!all) return sort(Model.Children[id]);
        for (auto& [parent, kids] : Model.Children) sort(kids);
    }
    void Toggle() {
        uintptr_t id = Pick(2) ? 0 : AnyNode(false);
        switch (Pick(4)) {
        case 0:
            Tree->FullExpand(NodeOf(id));
            break;
        case 1:
            FullCollapse(id);
            break;
        default: {
            PLazyNode n = NodeOf(AnyNode(false));
            Tree->SetExpanded(n, !Tree->Expanded(n));
        }
        }
    }
    // The expanded nodes of the subtree close children first, later siblings
    // first: backwards in pre-order, as a walk meets them.
    void FullCollapse(uintptr_t id) {
        std::vector<uintptr_t> expected, closed;
        std::function<void(uintptr_t)> walk = [&](uintptr_t at) {
            if (at && Tree->Expanded(Held[at])) expected.push_back(at);
            for (uintptr_t c : Model.Children[at]) walk(c);
        };
        walk(id);
        std::reverse(expected.begin(), expected.end());
        Tree->OnCollapsed = [&](TBaseLazyTree&, PLazyNode n) { closed.push_back(Id(n)); };
        Tree->FullCollapse(NodeOf(id));
        Tree->OnCollapsed = nullptr;
        EXPECT_EQ(closed, expected);
    }

    // Links, indexes and counts of the whole tree, its shape against the
    // model's, and the held nodes where the model has them.
    void Check(const char* step) {
        SCOPED_TRACE(step);
        PLazyNode root = Tree->RootNode();
        uint32_t visible = 0;
        size_t seen = 0;
        struct TTotals {
            uint32_t Count, Height;
        };
        std::function<TTotals(PLazyNode, uintptr_t, bool)> walk = [&](PLazyNode n, uintptr_t id,
                                                                      bool shown) -> TTotals {
            const auto& kids = Model.Children[id];
            EXPECT_EQ(n->ChildCount, kids.size());
            TTotals totals{1, n->NodeHeight};
            PLazyNode prev = nullptr;
            uint32_t index = 0;
            for (PLazyNode c = n->FirstChild; c; prev = c, c = c->NextSibling, ++index) {
                if (index >= kids.size()) {
                    ADD_FAILURE() << "more children than the model's";
                    return totals;
                }
                uintptr_t cid = Id(c);
                EXPECT_EQ(cid, kids[index]);
                EXPECT_EQ(c, Held[cid]);
                EXPECT_EQ(c->Parent, n);
                EXPECT_EQ(c->PrevSibling, prev);
                EXPECT_EQ(c->Index, index);
                ++seen;
                bool childShown = shown && (n->States & vsExpanded);
                visible += childShown;
                TTotals t = walk(c, cid, childShown);
                totals.Count += t.Count;
                if (n->States & vsExpanded) totals.Height += t.Height;
            }
            EXPECT_EQ(index, kids.size());
            EXPECT_EQ(n->LastChild, prev);
            EXPECT_EQ(bool(n->FirstChild), !kids.empty());
            EXPECT_EQ(n->TotalCount, totals.Count);
            EXPECT_EQ(n->TotalHeight, totals.Height);
            return totals;
        };
        walk(root, 0, true);
        EXPECT_EQ(seen, Held.size());
        // The set, while it tracks, holds exactly the expanded nodes.
        size_t expanded = 0;
        bool tracking = Tree->ExpandedNodes().Tracking();
        for (auto [id, n] : Held) {
            expanded += Tree->Expanded(n);
            EXPECT_TRUE(!tracking || Tree->ExpandedNodes().Contains(n) == Tree->Expanded(n)) << id;
        }
        EXPECT_EQ(tracking ? Tree->ExpandedNodes().Size() : expanded, expanded);
        EXPECT_EQ(Tree->TotalCount(), Held.size());
        EXPECT_EQ(Tree->VisibleCount(), visible);
        // Every node the model lost is reported freed exactly once, and no other.
        std::multiset<uintptr_t> freed(Freed.begin(), Freed.end());
        EXPECT_EQ(freed, std::multiset<uintptr_t>(Expected.begin(), Expected.end()));
    }
};

} // namespace

TEST_F(Stress, RandomTreesKeepEveryLinkAndCount) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        Random.seed(seed);
        for (int step = 0; step < 400 && !HasFailure(); ++step) {
            unsigned roll = unsigned(Random() % 100);
            const char* name;
            if (roll < 3) {
                // Wide rows too, so that expanded nodes are few beside the rest.
                name = "add many";
                for (size_t i = 10 + Pick(50); i > 0; --i) Add();
            } else if (Held.empty() || roll < 40) {
                name = "add", Add();
            } else if (roll < 50) {
                name = "delete", Delete(AnyNode(false));
            } else if (roll < 53) {
                name = "delete children", DeleteChildren();
            } else if (roll < 68) {
                name = "move", Move();
            } else if (roll < 74) {
                name = "sort all", Sort(true, Random() % 2 ? sdAscending : sdDescending);
            } else if (roll < 78) {
                name = "sort one", Sort(false, sdAscending);
            } else if (roll < 99) {
                name = "toggle", Toggle();
            } else {
                name = "clear", Clear();
            }
            Check(name);
        }
        Clear();
        Check("final clear");
    }
}

// A tree too big for the caches, its sibling order scattered by a sort, with
// blocks given back among the live ones: the whole-tree walks keep every link
// and count, and clearing frees deepest and last first.
TEST_F(Stress, BigSortedTreeKeepsEveryLinkAndCount) {
    std::vector<uintptr_t> tops;
    for (uintptr_t id = 1; id <= 90000; ++id) {
        uintptr_t parent = id <= 8 ? 0 : tops[Pick(tops.size())];
        Keys[id] = int(Random() % 1000);
        Held[id] = Tree->AddChild(NodeOf(parent), reinterpret_cast<void*>(id));
        Model.Add(id, parent, Model.Children[parent].size());
        if (id <= 8 || id % 1000 == 0) tops.push_back(id);
    }
    NextId = 90001;
    for (int i = 0; i < 20; ++i) Delete(AnyNode(false));
    Sort(true, sdDescending);
    Check("sort all");
    Tree->FullExpand();
    Check("expand all");
    FullCollapse(0);
    Check("collapse all");
    std::vector<uintptr_t> order;
    std::function<void(uintptr_t)> last = [&](uintptr_t id) {
        const auto& kids = Model.Children[id];
        for (auto c = kids.rbegin(); c != kids.rend(); ++c) last(*c);
        if (id) order.push_back(id);
    };
    last(0);
    Freed.clear();
    Expected.clear();
    Clear();
    EXPECT_EQ(Freed, order);
    Check("clear");
}

// Handlers that delete, open or move nodes while a full collapse runs, with
// the expanded nodes found from the set or by a walk, or too many for the
// set to track: no event reaches a freed node, and every link, count and the
// set stay right.
TEST_F(Stress, HandlersChangingTheTreeDuringAFullCollapse) {
    // Four tops of Width kids of two grandchildren of Leaves leaves each.
    std::vector<uintptr_t> tops;
    std::vector<std::vector<uintptr_t>> kids;
    std::vector<std::vector<std::vector<uintptr_t>>> grands;
    struct Case {
        const char* Name;
        int Top;                       // of the subtree collapsed, -1 for the whole tree
        bool FirstClosed;              // the first top closed alone before, its kids left open
        std::function<uintptr_t()> At; // the handler acts once this node has closed
        std::function<void()> Act;
    };
    const Case cases[] = {
        {"a node waiting to close deleted", -1, false, [&] { return kids[3][0]; },
         [&] { Delete(tops[1]); }},
        {"the subtree's top deleted", 2, false, [&] { return kids[2][1]; },
         [&] { Delete(tops[2]); }},
        {"the closed node and a later one deleted", -1, false, [&] { return kids[2][1]; },
         [&] {
             Delete(kids[2][1]);
             Delete(kids[1][0]);
         }},
        {"a closed node with open kids opened", -1, true, [&] { return kids[2][0]; },
         [&] { Tree->SetExpanded(Held[tops[0]], true); }},
        {"a node waiting to close moved out of the subtree", 2, false,
         [&] { return grands[2][0][0]; },
         [&] {
             Tree->MoveTo(Held[kids[2][0]], Held[tops[1]], amAddChildFirst);
             Model.Detach(kids[2][0]);
             Model.Add(kids[2][0], tops[1], 0);
         }},
    };
    std::set<PLazyNode> freed;
    Tree->OnFreeNode = [&](TBaseLazyTree&, PLazyNode n) {
        Freed.push_back(Id(n));
        freed.insert(n);
    };
    for (auto [width, leaves] : {std::pair{2, 1}, {2, 100}, {8, 1}})
        for (const Case& c : cases) {
            SCOPED_TRACE(c.Name);
            Clear();
            tops.clear();
            kids.assign(4, {});
            grands.assign(4, std::vector<std::vector<uintptr_t>>(size_t(width)));
            for (size_t t = 0; t < 4; ++t) {
                tops.push_back(AddChild(0));
                for (size_t k = 0; k < size_t(width); ++k) {
                    kids[t].push_back(AddChild(tops[t]));
                    for (int g = 0; g < 2; ++g) {
                        grands[t][k].push_back(AddChild(kids[t][k]));
                        for (int l = 0; l < leaves; ++l) AddChild(grands[t][k].back());
                    }
                }
            }
            Tree->FullExpand();
            EXPECT_EQ(Tree->ExpandedNodes().Tracking(), width < 8);
            if (c.FirstClosed) Tree->SetExpanded(Held[tops[0]], false);
            freed.clear();
            PLazyNode at = Held[c.At()];
            Tree->OnCollapsing = [&](TBaseLazyTree&, PLazyNode n, bool&) {
                EXPECT_EQ(freed.count(n), 0u);
            };
            Tree->OnCollapsed = [&](TBaseLazyTree&, PLazyNode n) {
                if (n == at) c.Act();
            };
            uintptr_t top = c.Top < 0 ? 0 : tops[size_t(c.Top)];
            Tree->FullCollapse(NodeOf(top));
            Tree->OnCollapsing = nullptr;
            Tree->OnCollapsed = nullptr;
            Check("after the collapse");
            // Only a node opened by the handler after its turn stays open.
            for (auto [id, n] : Held) {
                bool closes = Model.Within(id, top) && !(c.FirstClosed && id == tops[0]);
                EXPECT_FALSE(closes && Tree->Expanded(n)) << id;
            }
        }
    Tree->OnFreeNode = nullptr; // it holds this test's set of freed nodes
}

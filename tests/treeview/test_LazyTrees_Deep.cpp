// Deep trees: every walk over a whole subtree (saving, loading, copying,
// expanding, collapsing, sorting, freeing) handles a chain far deeper than
// the stack could hold frames for, keeps the owner's events in their order
// and keeps the counts right. Streams here are built by hand from the format.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include "TreeProbe.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <sstream>

using namespace nuq;

namespace {

constexpr uint32_t Height = 18; // the default node height

void PutInt32(std::string& s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s.push_back(char(uint8_t(v >> (8 * i))));
}

std::string StreamHeader(uint32_t count) {
    std::string s;
    for (char16_t u : {char16_t(0x2045), u'V', u'T', char16_t(2), u' ', char16_t(0x2046)}) {
        s.push_back(char(u & 0xFF));
        s.push_back(char(u >> 8));
    }
    PutInt32(s, count);
    return s;
}

// A chain of Depth nodes, each the only child of the one before, each with
// a 4-byte user chunk holding its depth. The chunks nest, so every size is
// known beforehand: a node chunk is 8 + 8 + 17 + 12 bytes per node it holds.
std::string ChainStream(uint32_t depth, uint16_t states) {
    constexpr uint32_t perNode = 8 + 8 + 17 + 12;
    std::string s = StreamHeader(1);
    s.reserve(s.size() + size_t(depth) * perNode);
    for (uint32_t d = 0; d < depth; ++d) {
        uint32_t whole = perNode * (depth - d);
        bool last = d + 1 == depth;
        PutInt32(s, 1);
        PutInt32(s, whole - 8);
        PutInt32(s, 2);
        PutInt32(s, whole - 8 - 8 - 12);
        PutInt32(s, last ? 0 : 1);
        PutInt32(s, Height);
        uint16_t st = last ? uint16_t(states & ~(vsHasChildren | vsExpanded)) : states;
        s += {char(st & 0xFF), char(st >> 8), char(50), 0, 0};
        PutInt32(s, 0);
    }
    for (uint32_t d = depth; d-- > 0;) {
        PutInt32(s, 4);
        PutInt32(s, 4);
        PutInt32(s, d);
    }
    return s;
}

// Trees whose nodes carry a 4-byte label, saved and loaded with them; the
// events the tests look at are recorded by label.
struct DeepFixture : ::testing::Test {
    std::vector<std::unique_ptr<TLazyStringTree>> Trees;
    std::vector<uint32_t> SavedOrder, LoadedOrder, FreedOrder;

    void SetUp() override {
        SetMainThread();
        OleSetClipboard(nullptr);
    }
    void TearDown() override {
        OleSetClipboard(nullptr);
        Trees.clear();
    }
    static uint32_t& Label(TBaseLazyTree& t, PLazyNode n) {
        return *static_cast<uint32_t*>(t.GetNodeData(n));
    }
    TTreeProbe& MakeTree() {
        auto t = NewComponent<TTreeProbe>();
        t->SetNodeDataSize(4);
        t->TreeOptions().SetSelectionOptions(toMultiSelect);
        t->OnSaveNode = [this](TBaseLazyTree& tree, PLazyNode n, std::ostream& s) {
            SavedOrder.push_back(Label(tree, n));
            s.write(static_cast<const char*>(tree.GetNodeData(n)), 4);
        };
        t->OnLoadNode = [this](TBaseLazyTree& tree, PLazyNode n, std::istream& s) {
            s.read(static_cast<char*>(tree.GetNodeData(n)), 4);
            LoadedOrder.push_back(Label(tree, n));
        };
        t->OnFreeNode = [this](TBaseLazyTree& tree, PLazyNode n) {
            FreedOrder.push_back(Label(tree, n));
        };
        TTreeProbe& made = *t;
        Trees.push_back(std::move(t));
        return made;
    }
    std::string Save(TBaseLazyTree& t) {
        std::ostringstream out;
        t.SaveToStream(out);
        return out.str();
    }
    void Load(TBaseLazyTree& t, const std::string& bytes) {
        std::istringstream in(bytes);
        t.LoadFromStream(in);
    }
    // Builds the chain from the bottom up, so that no node is ever added below
    // a deep parent (each addition updates the counts of all the ancestors).
    PLazyNode BuildChain(TBaseLazyTree& t, uint32_t depth) {
        t.BeginUpdate();
        PLazyNode top = nullptr;
        for (uint32_t d = depth; d-- > 0;) {
            PLazyNode n = t.AddChild(nullptr);
            Label(t, n) = d;
            if (top) t.MoveTo(top, n, amAddChildLast);
            top = n;
        }
        t.EndUpdate();
        return top;
    }
    // The number of nodes below Top down the first-child links, checking labels and levels.
    static uint32_t ChainLength(TBaseLazyTree& t, PLazyNode top, uint32_t firstLabel = 0) {
        uint32_t length = 0;
        for (PLazyNode n = top; n; n = n->FirstChild, ++length) {
            if (Label(t, n) != firstLabel + length || n->ChildCount > 1) return 0;
        }
        return length;
    }
    static bool Descending(const std::vector<uint32_t>& order, uint32_t count) {
        if (order.size() != count) return false;
        for (uint32_t i = 0; i < count; ++i)
            if (order[i] != count - 1 - i) return false;
        return true;
    }
};

// A chain a million nodes deep, built by code, goes through every whole-tree
// walk; saving and freeing hand the nodes to the owner deepest first.
TEST_F(DeepFixture, MillionDeepChainSurvivesEveryWholeTreeWalk) {
    constexpr uint32_t depth = 1'000'000;
    TTreeProbe& a = MakeTree();
    PLazyNode top = BuildChain(a, depth);
    ASSERT_EQ(a.TotalCount(), depth);
    ASSERT_EQ(ChainLength(a, top), depth);

    // Saved: each node chunk holds its child's, and its user chunk follows them.
    std::string saved = Save(a);
    EXPECT_EQ(saved.size(), 16 + size_t(depth) * (8 + 25 + 12));
    EXPECT_TRUE(Descending(SavedOrder, depth));

    // Loaded back: the same nodes, the same user data, the same bytes again.
    TLazyStringTree& b = MakeTree();
    Load(b, saved);
    EXPECT_EQ(b.TotalCount(), depth);
    EXPECT_EQ(ChainLength(b, b.GetFirstNoInit()), depth);
    EXPECT_TRUE(Descending(LoadedOrder, depth));
    SavedOrder.clear();
    EXPECT_TRUE(Save(b) == saved);

    // Copied and pasted through the clipboard: a second chain beside the first.
    a.AddToSelection(top);
    a.CopyToClipboard();
    ASSERT_TRUE(b.PasteFromClipboard());
    EXPECT_EQ(b.TotalCount(), 2 * depth);
    EXPECT_EQ(ChainLength(b, b.GetFirstNoInit()->NextSibling), depth);
    OleSetClipboard(nullptr);

    a.FullExpand();
    EXPECT_EQ(a.VisibleCount(), depth);
    EXPECT_EQ(a.RootNode()->TotalHeight, Height * (depth + 1));
    EXPECT_EQ(top->TotalHeight, Height * depth);

    a.FullCollapse();
    EXPECT_EQ(a.VisibleCount(), 1u);
    EXPECT_EQ(a.RootNode()->TotalHeight, 2 * Height);
    EXPECT_EQ(top->TotalHeight, Height);

    a.FullExpand();
    a.SortTree(NoColumn, sdDescending);
    EXPECT_EQ(ChainLength(a, top), depth);
    uint32_t initialised = 0;
    a.OnInitNode = [&](TBaseLazyTree&, PLazyNode, PLazyNode, TLazyNodeInitStates&) {
        ++initialised;
    };
    a.ReinitNode(top, true);
    EXPECT_EQ(initialised, depth);

    FreedOrder.clear();
    a.Clear();
    EXPECT_EQ(a.TotalCount(), 0u);
    EXPECT_EQ(a.VisibleCount(), 0u);
    EXPECT_TRUE(Descending(FreedOrder, depth));

    // Deleting a deep subtree alone frees it the same way and leaves the rest.
    PLazyNode second = b.GetFirstNoInit()->NextSibling;
    FreedOrder.clear();
    b.DeleteNode(second);
    EXPECT_EQ(b.TotalCount(), depth);
    EXPECT_TRUE(Descending(FreedOrder, depth));
}

// A hostile stream nests 300,000 nodes: it loads, with every count right.
TEST_F(DeepFixture, DeeplyNestedStreamLoads) {
    constexpr uint32_t depth = 300'000;
    TLazyStringTree& t = MakeTree();
    Load(t, ChainStream(depth, vsInitialized | vsVisible | vsHasChildren | vsExpanded));
    EXPECT_EQ(t.TotalCount(), depth);
    EXPECT_EQ(t.VisibleCount(), depth);
    EXPECT_EQ(t.RootNode()->TotalHeight, Height * (depth + 1));
    PLazyNode top = t.GetFirstNoInit();
    EXPECT_EQ(top->TotalCount, depth);
    EXPECT_EQ(ChainLength(t, top), depth);
    EXPECT_TRUE(Descending(LoadedOrder, depth));

    // The same chain collapsed: only the top node shows, its height alone.
    TLazyStringTree& c = MakeTree();
    Load(c, ChainStream(depth, vsInitialized | vsVisible | vsHasChildren));
    EXPECT_EQ(c.VisibleCount(), 1u);
    EXPECT_EQ(c.RootNode()->TotalHeight, 2 * Height);

    // Cut short anywhere inside, it is refused and the tree keeps what it had.
    std::string cut = ChainStream(depth, vsInitialized | vsVisible);
    cut.resize(cut.size() / 2);
    try {
        Load(c, cut);
        ADD_FAILURE() << "a cut stream loaded";
    } catch (const ELazyTreeError& e) {
        EXPECT_EQ(e.HelpContext, 2004);
    }
    EXPECT_EQ(c.TotalCount(), depth);
}

// The owner sees a small tree's nodes in the order of a walk from parent to
// child: saved and loaded deepest first, freed last and deepest first,
// initialised, expanded and reinitialised parents first.
TEST_F(DeepFixture, EventsKeepTheirOrder) {
    TLazyStringTree& t = MakeTree();
    // 0(1(2) 3(4 5)) 6
    auto add = [&](PLazyNode parent, uint32_t label) {
        PLazyNode n = t.AddChild(parent);
        Label(t, n) = label;
        return n;
    };
    PLazyNode n0 = add(nullptr, 0);
    PLazyNode n1 = add(n0, 1);
    add(n1, 2);
    PLazyNode n3 = add(n0, 3);
    add(n3, 4);
    add(n3, 5);
    add(nullptr, 6);
    // As if none had been met yet, so that saving initialises them all.
    for (PLazyNode n = t.GetFirstNoInit(); n; n = t.GetNextNoInit(n)) n->States &= ~vsInitialized;

    std::vector<uint32_t> inits, expands, collapses;
    t.OnInitNode = [&](TBaseLazyTree& tree, PLazyNode, PLazyNode n, TLazyNodeInitStates&) {
        inits.push_back(Label(tree, n));
    };
    t.OnExpanding = [&](TBaseLazyTree& tree, PLazyNode n, bool&) {
        expands.push_back(Label(tree, n));
    };
    t.OnCollapsing = [&](TBaseLazyTree& tree, PLazyNode n, bool&) {
        collapses.push_back(Label(tree, n));
    };
    using Order = std::vector<uint32_t>;

    t.TreeOptions().SetMiscOptions(t.TreeOptions().MiscOptions() | toInitOnSave);
    std::string saved = Save(t);
    EXPECT_EQ(inits, (Order{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(SavedOrder, (Order{2, 1, 4, 5, 3, 0, 6}));

    TLazyStringTree& copy = MakeTree();
    Load(copy, saved);
    EXPECT_EQ(LoadedOrder, SavedOrder);

    t.FullExpand();
    t.FullCollapse();
    EXPECT_EQ(expands, (Order{0, 1, 3}));
    EXPECT_EQ(collapses, (Order{3, 1, 0}));

    inits.clear();
    t.ReinitNode(n0, true);
    EXPECT_EQ(inits, (Order{0, 1, 2, 3, 4, 5}));

    t.Clear();
    EXPECT_EQ(FreedOrder, (Order{6, 5, 4, 3, 2, 1, 0}));
}

// Full expansion and collapse count the heights and the visible nodes once at
// the end; the counts must come out as the node-by-node definition gives
// them, whatever was hidden, refused or added by handlers on the way.
TEST_F(DeepFixture, FullToggleCountsMatchTheDefinition) {
    TLazyStringTree& t = MakeTree();
    std::mt19937 random(11);
    std::vector<PLazyNode> nodes;
    for (uint32_t i = 0; i < 400; ++i) {
        PLazyNode parent =
            nodes.empty() || random() % 5 == 0 ? nullptr : nodes[random() % nodes.size()];
        PLazyNode n = t.AddChild(parent);
        Label(t, n) = i;
        nodes.push_back(n);
    }
    for (PLazyNode n : nodes) {
        switch (random() % 12) {
        case 0:
            t.SetIsHidden(n, true);
            break;
        case 1:
            t.SetIsVisible(n, false);
            break;
        case 2:
            t.SetNodeHeight(n, 30);
            break;
        case 3:
            t.SetExpanded(n, true);
            break;
        default:
            break;
        }
    }
    // Some nodes refuse to open; opening others adds a node next to them.
    uint32_t next = 1000;
    t.OnExpanding = [](TBaseLazyTree& tree, PLazyNode n, bool& allowed) {
        allowed = Label(tree, n) % 7 != 3;
    };
    t.OnExpanded = [&](TBaseLazyTree& tree, PLazyNode n) {
        if (Label(tree, n) % 11 == 5) Label(tree, tree.AddChild(n->Parent)) = next++;
    };

    // From the definitions: a node's total height is its own plus, when it is
    // open, its shown children's; a node counts as visible when it and all its
    // ancestors are shown and the ancestors are open.
    auto shown = [](PLazyNode n) { return (n->States & vsVisible) && !(n->States & vsHidden); };
    std::function<uint32_t(PLazyNode)> height = [&](PLazyNode n) {
        uint32_t h = n->NodeHeight;
        for (PLazyNode c = n->FirstChild; c; c = c->NextSibling) {
            uint32_t ch = height(c);
            if ((n->States & vsExpanded) && shown(c)) h += ch;
        }
        return h;
    };
    std::function<uint32_t(PLazyNode)> visibleBelow = [&](PLazyNode n) {
        uint32_t count = 0;
        for (PLazyNode c = n->FirstChild; c; c = c->NextSibling)
            if (shown(c)) count += 1 + ((c->States & vsExpanded) ? visibleBelow(c) : 0);
        return count;
    };
    auto check = [&](const std::string& step) {
        EXPECT_EQ(t.VisibleCount(), visibleBelow(t.RootNode())) << step;
        uint32_t wrong = 0;
        for (PLazyNode n = t.GetFirstNoInit(); n; n = t.GetNextNoInit(n))
            if (n->TotalHeight != height(n)) ++wrong;
        EXPECT_EQ(wrong, 0u) << step;
        EXPECT_EQ(t.RootNode()->TotalHeight, height(t.RootNode())) << step;
    };

    check("start");
    for (int step = 0; step < 60; ++step) {
        PLazyNode n = nodes[random() % nodes.size()];
        switch (step % 4) {
        case 0:
            t.FullExpand(n);
            break;
        case 1:
            t.FullCollapse(n);
            break;
        case 2:
            t.FullExpand(n->Parent == t.RootNode() ? nullptr : n->Parent);
            break;
        case 3:
            t.SetExpanded(n, !(n->States & vsExpanded));
            break;
        }
        check("step " + std::to_string(step));
    }
    t.FullExpand();
    check("all expanded");
    t.FullCollapse();
    check("all collapsed");
}

// Checking the leaf of a chain of tri-state boxes updates each ancestor once,
// nearest first; a refusal on the way stops there and no node reports a
// completed change.
TEST_F(DeepFixture, CheckingALeafUpdatesEachAncestorOnce) {
    constexpr uint32_t depth = 20;
    TLazyStringTree& t = MakeTree();
    t.TreeOptions().SetAutoOptions(t.TreeOptions().AutoOptions() | toAutoTristateTracking);
    PLazyNode leaf = nullptr;
    for (uint32_t d = 0; d < depth; ++d) {
        leaf = t.AddChild(leaf);
        Label(t, leaf) = d;
        leaf->CheckType = ctTriStateCheckBox;
    }
    std::vector<uint32_t> checking, checked;
    uint32_t refuse = depth; // none
    t.OnChecking = [&](TBaseLazyTree& tree, PLazyNode n, TCheckState&, bool& allowed) {
        checking.push_back(Label(tree, n));
        allowed = Label(tree, n) != refuse;
    };
    t.OnChecked = [&](TBaseLazyTree& tree, PLazyNode n) { checked.push_back(Label(tree, n)); };
    auto states = [&] {
        std::string s;
        for (PLazyNode n = t.GetFirstNoInit(); n; n = n->FirstChild)
            s += n->CheckState == csCheckedNormal ? 'x' : '.';
        return s;
    };

    t.SetCheckState(leaf, csCheckedNormal);
    EXPECT_TRUE(Descending(checking, depth));
    EXPECT_EQ(checked.size(), depth);
    EXPECT_EQ(states(), std::string(depth, 'x'));

    checking.clear();
    checked.clear();
    refuse = 5;
    t.SetCheckState(leaf, csUncheckedNormal);
    EXPECT_EQ(checking.size(), depth - 5);
    EXPECT_TRUE(checked.empty());
    EXPECT_EQ(states(), std::string(6, 'x') + std::string(depth - 6, '.'));
}

} // namespace

// Counts, heights, the visible count and vsAllChildrenHidden through long
// random sequences of structural changes, each step checked against a
// recount made from the node chains alone.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>

using namespace nuq;

namespace {

// What the derived fields must hold, recounted from the chains and the
// state bits with the definitions of the node record.
struct TRecount {
    const TBaseLazyTree& Tree;
    bool ShowHidden;
    std::ostringstream Problems;
    uint32_t Visible = 0;
    uint32_t Selected = 0;

    bool Shown(PLazyNode n) const {
        return (n->States & vsVisible) && (ShowHidden || !(n->States & vsHidden));
    }

    // Returns the subtree's node count; Displayed: the node's row is on screen.
    uint32_t Check(PLazyNode node, bool displayed) {
        uint32_t count = 1, children = 0, height = node->NodeHeight;
        bool anyShown = false;
        PLazyNode prev = nullptr;
        bool open = node == Tree.RootNode() || (node->States & vsExpanded);
        for (PLazyNode c = node->FirstChild; c; prev = c, c = c->NextSibling) {
            if (c->Parent != node) Problems << "parent link; ";
            if (c->PrevSibling != prev) Problems << "previous link; ";
            if (c->Index != children)
                Problems << "index " << c->Index << " at " << children << "; ";
            ++children;
            bool shown = Shown(c);
            anyShown |= shown;
            if (shown && displayed && open) ++Visible;
            if (c->States & vsSelected) ++Selected;
            count += Check(c, displayed && open && shown);
            if (open && shown) height += c->TotalHeight;
        }
        if (node->LastChild != prev) Problems << "last child; ";
        if (node->ChildCount != children)
            Problems << "child count " << node->ChildCount << " for " << children << "; ";
        if (node->TotalCount != count)
            Problems << "total count " << node->TotalCount << " for " << count << "; ";
        if (node->TotalHeight != height)
            Problems << "total height " << node->TotalHeight << " for " << height << "; ";
        if (node != Tree.RootNode()) {
            bool flag = node->States & vsAllChildrenHidden;
            if (flag != (children > 0 && !anyShown)) Problems << "all-children-hidden flag; ";
        }
        return count;
    }

    std::string Run(TBaseLazyTree& tree) {
        Check(tree.RootNode(), true);
        if (tree.VisibleCount() != Visible)
            Problems << "visible count " << tree.VisibleCount() << " for " << Visible << "; ";
        if (uint32_t(tree.SelectedCount()) != Selected) Problems << "selected count; ";
        const auto& s = tree.SelectionArray();
        if (s.size() != Selected || !std::is_sorted(s.begin(), s.end()) ||
            std::adjacent_find(s.begin(), s.end()) != s.end())
            Problems << "selection array; ";
        for (PLazyNode n : s)
            if (!(n->States & vsSelected)) Problems << "unselected entry; ";
        return Problems.str();
    }
};

struct RandomTree : ::testing::Test {
    std::unique_ptr<TLazyStringTree> Tree;
    std::mt19937 Random;
    void SetUp() override {
        SetMainThread();
        Tree = NewComponent<TLazyStringTree>();
        auto& o = Tree->TreeOptions();
        o.SetSelectionOptions(toMultiSelect);
        o.SetAutoOptions(o.AutoOptions() & ~toAutoTristateTracking);
        // Children made on demand: two or three for a node that asks.
        Tree->OnInitNode = [this](TBaseLazyTree&, PLazyNode, PLazyNode, TLazyNodeInitStates& s) {
            if (Random() % 4 == 0) s |= ivsHasChildren;
            if (Random() % 9 == 0) s |= ivsExpanded;
        };
        Tree->OnInitChildren = [this](TBaseLazyTree&, PLazyNode, uint32_t& c) { c = Random() % 4; };
        Tree->OnCompareNodes = [](TBaseLazyTree&, PLazyNode a, PLazyNode b, TColumnIndex, int& r) {
            r = int(a->NodeHeight) - int(b->NodeHeight);
        };
    }
    void TearDown() override { Tree.reset(); }
    uint32_t Pick(uint32_t n) { return n ? Random() % n : 0; }
    std::vector<PLazyNode> All() {
        std::vector<PLazyNode> nodes;
        for (PLazyNode n = Tree->GetFirstNoInit(); n; n = Tree->GetNextNoInit(n))
            nodes.push_back(n);
        return nodes;
    }
    // One random change; the larger the tree, the likelier it shrinks.
    void Step() {
        auto nodes = All();
        PLazyNode any = nodes.empty() ? nullptr : nodes[Pick(uint32_t(nodes.size()))];
        static const TLTNodeAttachMode modes[] = {amInsertBefore, amInsertAfter, amAddChildFirst,
                                                  amAddChildLast};
        switch (Pick(21)) {
        case 0:
            Tree->AddChild(nodes.size() < 250 ? any : nullptr);
            break;
        case 1:
            if (any) Tree->InsertNode(any, modes[Pick(4)]);
            break;
        case 2:
            if (any && nodes.size() > 1)
                Tree->MoveTo(any, nodes[Pick(uint32_t(nodes.size()))], modes[Pick(4)]);
            break;
        case 3:
        case 4:
            if (any && nodes.size() > 120) Tree->DeleteNode(any);
            break;
        case 5:
        case 17:
        case 18:
            Tree->SetIsHidden(any, !Tree->IsHidden(any));
            break;
        case 19:
        case 20:
        case 6:
            if (any) Tree->SetIsVisible(any, !(any->States & vsVisible));
            break;
        case 7:
        case 8:
            Tree->ToggleNode(any);
            break;
        case 9:
            Tree->SetChildCount(any, nodes.size() < 250 ? Pick(8) : Pick(2));
            break;
        case 10:
            Tree->SetNodeHeight(any, 1 + Pick(40));
            break;
        case 11: {
            auto& o = Tree->TreeOptions();
            if (Pick(4) == 0) o.SetPaintOptions(o.PaintOptions() ^ toShowHiddenNodes);
            break;
        }
        case 12:
            Tree->SetSelected(any, !Tree->Selected(any));
            break;
        case 13:
            if (Pick(3) == 0)
                Tree->SortTree(NoColumn, Pick(2) ? sdAscending : sdDescending);
            else if (any)
                Tree->Sort(any->Parent, NoColumn, sdAscending);
            break;
        case 14:
            if (Pick(3))
                Tree->FullExpand(Pick(2) ? any : nullptr);
            else
                Tree->FullCollapse(Pick(2) ? any : nullptr);
            break;
        case 15:
            if (any) Tree->GetNext(any); // initialises, which may expand or make children
            break;
        case 16:
            if (Pick(3) == 0)
                Tree->SelectAll(Pick(2));
            else if (Pick(2))
                Tree->ClearSelection();
            else if (any)
                Tree->DeleteChildren(any->Parent == Tree->RootNode() ? any : any->Parent);
            break;
        }
    }
};

} // namespace

TEST_F(RandomTree, DerivedFieldsMatchARecountAfterEveryStep) {
    for (unsigned seed : {1u, 7u, 2024u}) {
        Random.seed(seed);
        Tree->Clear();
        Tree->SetRootNodeCount(5);
        for (int step = 0; step < 3000; ++step) {
            // Now and then a burst inside an update, checked when it ends.
            bool update = Pick(10) == 0;
            if (update) Tree->BeginUpdate();
            for (int i = update ? 5 : 1; i > 0; --i) Step();
            if (update) Tree->EndUpdate();
            TRecount r{*Tree, bool(Tree->TreeOptions().PaintOptions() & toShowHiddenNodes), {}};
            std::string problems = r.Run(*Tree);
            ASSERT_EQ(problems, "") << "seed " << seed << ", step " << step;
        }
    }
}

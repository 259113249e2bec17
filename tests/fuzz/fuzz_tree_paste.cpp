// Arbitrary bytes pasted or dropped as node data into a tree that already
// has nodes, at any target node and in any mode, or the tree's own selection
// moved there: the data is added or refused with the tree's own error, and
// afterwards every link and count holds and no node that was there is lost.
//
// Input: target node, attach mode, how the data arrives (bit 0 the clipboard,
// bit 1 a stream medium, bit 2 a move of the selection picked by byte 3), then the data.
#include "treeview/LazyTrees.h"

#include "FuzzCheck.h"
#include "FuzzGuiSetup.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

using namespace nuq;

namespace {

constexpr uint32_t Mark = 0x4E6F6465; // in the user data of every node there before

TLazyStringTree* Tree() {
    static std::unique_ptr<TLazyStringTree> tree = [] {
        auto t = NewComponent<TLazyStringTree>();
        t->TreeOptions().SetSelectionOptions(toMultiSelect);
        t->SetNodeDataSize(8);
        t->OnSaveNode = [](TBaseLazyTree& tree, PLazyNode n, std::ostream& s) {
            s.write(static_cast<const char*>(tree.GetNodeData(n)), 8);
        };
        // Copies keep their data empty, so only the nodes that were there carry the mark.
        t->OnLoadNode = [](TBaseLazyTree&, PLazyNode, std::istream& s) {
            char got[8];
            s.read(got, 8);
        };
        return t;
    }();
    return tree.get();
}

// a(a1 a2(a21)) b c(c1): every node marked with its number.
std::vector<PLazyNode> Build(TLazyStringTree& t) {
    t.Clear();
    std::vector<PLazyNode> nodes;
    auto add = [&](PLazyNode parent) {
        PLazyNode n = t.AddChild(parent);
        uint32_t data[2] = {Mark, uint32_t(nodes.size())};
        std::memcpy(t.GetNodeData(n), data, sizeof data);
        nodes.push_back(n);
        return n;
    };
    PLazyNode a = add(nullptr);
    add(a);
    add(add(a));
    add(nullptr);
    add(add(nullptr));
    t.FullExpand();
    return nodes;
}

// Links, indexes, child counts and total counts of a subtree; its node count.
uint32_t CheckSubtree(TBaseLazyTree& t, PLazyNode parent) {
    uint32_t total = 1, children = 0;
    PLazyNode prev = nullptr;
    for (PLazyNode n = parent->FirstChild; n; n = n->NextSibling) {
        FUZZ_CHECK(n->Parent == parent);
        FUZZ_CHECK(n->PrevSibling == prev);
        FUZZ_CHECK(n->Index == children);
        FUZZ_CHECK(children < t.TotalCount() + 1); // a cycle ends here
        uint32_t sub = CheckSubtree(t, n);
        FUZZ_CHECK(n->TotalCount == sub);
        total += sub;
        ++children;
        prev = n;
    }
    FUZZ_CHECK(parent->LastChild == prev);
    FUZZ_CHECK(parent->ChildCount == children);
    return total;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    TLazyStringTree& tree = *Tree();
    std::vector<PLazyNode> before = Build(tree);
    PLazyNode target = data[0] % 8 < before.size() ? before[data[0] % 8] : nullptr;
    auto mode = TLTNodeAttachMode(data[1] % 5);
    const uint8_t how = data[2];
    const std::string bytes(reinterpret_cast<const char*>(data) + 4, size - 4);

    try {
        if (how & 4) {
            // The selection moved within the tree, as a drop of its own nodes.
            tree.ClearSelection();
            for (size_t i = 0; i < before.size(); ++i)
                if (data[3] & (1u << i)) tree.SetSelected(before[i], true);
            tree.ProcessOLEData(&tree, nullptr, target, mode, true);
        } else {
            auto object = std::make_shared<TLTDataObject>(nullptr, false);
            TFormatEtc native;
            native.cfFormat = TreeDataFormat;
            TStgMedium medium;
            if (how & 2) {
                medium.tymed = TYMED_ISTREAM;
                medium.pstm = std::make_shared<std::stringstream>(bytes);
            } else {
                medium.tymed = TYMED_HGLOBAL;
                medium.hGlobal = std::make_shared<std::string>(bytes);
            }
            object->SetData(native, medium, false);
            if (how & 1) {
                OleSetClipboard(object);
                tree.SetFocusedNode(target);
                tree.DefaultPasteMode = mode;
                tree.PasteFromClipboard();
                OleSetClipboard(nullptr);
            } else {
                tree.ProcessOLEData(nullptr, object.get(), target, mode, false);
            }
        }
    } catch (const ELazyTreeError&) {
    }

    PLazyNode root = tree.RootNode();
    uint32_t counted = CheckSubtree(tree, root) - 1;
    FUZZ_CHECK(counted == tree.TotalCount());
    uint32_t visible = 0;
    for (PLazyNode n = tree.GetFirstVisibleNoInit(); n; n = tree.GetNextVisibleNoInit(n))
        FUZZ_CHECK(++visible <= counted);
    FUZZ_CHECK(visible == tree.VisibleCount());
    // Every node that was there still is, and still carries its own data.
    std::vector<bool> found(before.size(), false);
    for (PLazyNode n = tree.GetFirstNoInit(); n; n = tree.GetNextNoInit(n)) {
        uint32_t d[2];
        std::memcpy(d, tree.GetNodeData(n), sizeof d);
        if (d[0] != Mark) continue;
        FUZZ_CHECK(d[1] < before.size() && before[d[1]] == n && !found[d[1]]);
        found[d[1]] = true;
    }
    for (bool f : found) FUZZ_CHECK(f);
    // Each added node took a node chunk header at least.
    FUZZ_CHECK(counted <= before.size() + bytes.size() / 8);
    return 0;
}

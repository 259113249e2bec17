// Arbitrary bytes as a tree stream: loading must either build a tree or
// raise the tree's own error, never more nodes than the bytes can describe,
// and a loaded tree must save and load back to the same bytes.
#include "treeview/LazyTrees.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>

using namespace nuq;

namespace {

TLazyStringTree* Tree() {
    static std::unique_ptr<TLazyStringTree> tree = [] {
        auto t = NewComponent<TLazyStringTree>();
        t->TreeOptions().SetSelectionOptions(toMultiSelect);
        t->SetNodeDataSize(4);
        return t;
    }();
    return tree.get();
}

std::string SaveAll(TBaseLazyTree& tree) {
    std::ostringstream out;
    tree.SaveToStream(out);
    return out.str();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    TLazyStringTree& tree = *Tree();
    // The owner keeps up to four bytes of each node and reads as much as the first byte says.
    size_t want = size ? data[0] % 8 : 0;
    tree.OnLoadNode = [want](TBaseLazyTree& t, PLazyNode n, std::istream& s) {
        std::string got(want, '\0');
        s.read(got.data(), std::streamsize(want));
        got.resize(std::min<size_t>(size_t(s.gcount()), 4));
        if (void* d = t.GetNodeData(n)) std::memcpy(d, got.data(), got.size());
    };
    tree.OnSaveNode = [](TBaseLazyTree& t, PLazyNode n, std::ostream& s) {
        if (const char* d = static_cast<const char*>(t.GetNodeData(n))) s.write(d, 4);
    };
    tree.Clear();
    try {
        std::istringstream in(bytes);
        tree.LoadFromStream(in);
    } catch (const ELazyTreeError&) {
        return 0;
    }
    // Each node takes a node chunk header at least.
    if (uint64_t(tree.TotalCount()) * 8 > size) std::abort();
    std::string first = SaveAll(tree);
    std::istringstream again(first);
    tree.LoadFromStream(again);
    if (SaveAll(tree) != first) std::abort();
    return 0;
}

// Saving and loading a tree of 100 top-level nodes with 1,000 children each,
// every node carrying 8 bytes of owner data, and copying the whole tree to
// the clipboard as text.

#include "platform/EventLoop.h"
#include "treeview/LazyTrees.h"

#include <benchmark/benchmark.h>

#include <sstream>

using namespace nuq;

namespace {

constexpr uint32_t Roots = 100, Children = 1000;

std::unique_ptr<TLazyStringTree> MakeTree() {
    SetMainThread();
    auto t = NewComponent<TLazyStringTree>();
    t->SetNodeDataSize(8);
    t->TreeOptions().SetSelectionOptions(toMultiSelect);
    t->OnInitNode = [](TBaseLazyTree&, PLazyNode parent, PLazyNode, TLazyNodeInitStates& s) {
        if (!parent) s |= ivsHasChildren;
    };
    t->OnInitChildren = [](TBaseLazyTree&, PLazyNode, uint32_t& c) { c = Children; };
    t->OnSaveNode = [](TBaseLazyTree& tree, PLazyNode n, std::ostream& s) {
        s.write(static_cast<const char*>(tree.GetNodeData(n)), 8);
    };
    t->OnLoadNode = [](TBaseLazyTree& tree, PLazyNode n, std::istream& s) {
        s.read(static_cast<char*>(tree.GetNodeData(n)), 8);
    };
    t->OnGetText = [](TBaseLazyTree&, PLazyNode n, TColumnIndex, int, std::u16string& s) {
        s = u"node " + std::u16string(1, char16_t(u'0' + n->Index % 10));
    };
    return t;
}

std::string Saved(TBaseLazyTree& t) {
    std::ostringstream out;
    t.SaveToStream(out);
    return out.str();
}

void SaveTree(benchmark::State& state) {
    auto tree = MakeTree();
    tree->SetRootNodeCount(Roots);
    size_t bytes = 0;
    for (auto _ : state) bytes = Saved(*tree).size();
    state.counters["nodes"] = double(tree->TotalCount());
    state.SetBytesProcessed(int64_t(bytes) * state.iterations());
}
BENCHMARK(SaveTree)->Unit(benchmark::kMillisecond);

void LoadTree(benchmark::State& state) {
    auto source = MakeTree();
    source->SetRootNodeCount(Roots);
    std::string bytes = Saved(*source);
    auto tree = MakeTree();
    for (auto _ : state) {
        std::istringstream in(bytes);
        tree->LoadFromStream(in);
    }
    state.counters["nodes"] = double(tree->TotalCount());
    state.SetBytesProcessed(int64_t(bytes.size()) * state.iterations());
}
BENCHMARK(LoadTree)->Unit(benchmark::kMillisecond);

void CopyAllAsText(benchmark::State& state) {
    auto tree = MakeTree();
    tree->SetRootNodeCount(Roots);
    tree->FullExpand();
    tree->SelectAll(false);
    TFormatEtc f;
    f.cfFormat = CF_UNICODETEXT;
    for (auto _ : state) {
        tree->CopyToClipboard();
        std::shared_ptr<IDataObject> data;
        OleGetClipboard(data);
        TStgMedium m;
        data->GetData(f, m);
        benchmark::DoNotOptimize(m.hGlobal->size());
    }
    OleSetClipboard(nullptr);
}
BENCHMARK(CopyAllAsText)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

// Whole-tree walks over a chain of nested nodes, each the only child of the
// one before: saving, loading, expanding and collapsing everything, and
// freeing. Beside them, expanding and collapsing a wide tree of 100 top-level
// nodes with 1,000 children each.

#include "platform/EventLoop.h"
#include "treeview/LazyTrees.h"

#include <benchmark/benchmark.h>

#include <sstream>

using namespace nuq;

namespace {

std::unique_ptr<TLazyStringTree> MakeTree() {
    SetMainThread();
    auto t = NewComponent<TLazyStringTree>();
    t->SetNodeDataSize(4);
    t->OnSaveNode = [](TBaseLazyTree& tree, PLazyNode n, std::ostream& s) {
        s.write(static_cast<const char*>(tree.GetNodeData(n)), 4);
    };
    t->OnLoadNode = [](TBaseLazyTree& tree, PLazyNode n, std::istream& s) {
        s.read(static_cast<char*>(tree.GetNodeData(n)), 4);
    };
    return t;
}

// Built from the bottom up: adding below a deep parent would update every ancestor's count.
void BuildChain(TBaseLazyTree& t, int64_t depth) {
    t.BeginUpdate();
    PLazyNode top = nullptr;
    for (int64_t d = 0; d < depth; ++d) {
        PLazyNode n = t.AddChild(nullptr);
        if (top) t.MoveTo(top, n, amAddChildLast);
        top = n;
    }
    t.EndUpdate();
}

std::string Saved(TBaseLazyTree& t) {
    std::ostringstream out;
    t.SaveToStream(out);
    return out.str();
}

void SaveChain(benchmark::State& state) {
    auto tree = MakeTree();
    BuildChain(*tree, state.range(0));
    size_t bytes = 0;
    for (auto _ : state) bytes = Saved(*tree).size();
    state.SetBytesProcessed(int64_t(bytes) * state.iterations());
}
BENCHMARK(SaveChain)->Arg(10'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void LoadChain(benchmark::State& state) {
    auto source = MakeTree();
    BuildChain(*source, state.range(0));
    std::string bytes = Saved(*source);
    source.reset();
    auto tree = MakeTree();
    for (auto _ : state) {
        std::istringstream in(bytes);
        tree->LoadFromStream(in);
    }
    state.SetBytesProcessed(int64_t(bytes.size()) * state.iterations());
}
BENCHMARK(LoadChain)->Arg(10'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void ExpandCollapseChain(benchmark::State& state) {
    auto tree = MakeTree();
    BuildChain(*tree, state.range(0));
    for (auto _ : state) {
        tree->FullExpand();
        tree->FullCollapse();
    }
}
BENCHMARK(ExpandCollapseChain)->Arg(10'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void BuildAndClearChain(benchmark::State& state) {
    auto tree = MakeTree();
    for (auto _ : state) {
        BuildChain(*tree, state.range(0));
        tree->Clear();
    }
}
BENCHMARK(BuildAndClearChain)->Arg(10'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void ExpandCollapseWide(benchmark::State& state) {
    auto tree = MakeTree();
    tree->OnInitNode = [](TBaseLazyTree&, PLazyNode parent, PLazyNode, TLazyNodeInitStates& s) {
        if (!parent) s |= ivsHasChildren;
    };
    tree->OnInitChildren = [](TBaseLazyTree&, PLazyNode, uint32_t& c) { c = 1000; };
    tree->SetRootNodeCount(100);
    for (auto _ : state) {
        tree->FullExpand();
        tree->FullCollapse();
    }
    state.counters["nodes"] = double(tree->TotalCount());
}
BENCHMARK(ExpandCollapseWide)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

// Input on a tree of 100 roots x 10,000 children, all expanded: a hit test at
// a random point (node, column and positions, with the position cache), and a
// type-ahead step that has to walk far to find its node.

#include "platform/EventLoop.h"
#include "platform/gui/WindowHost.h"
#include "treeview/LazyTrees.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>

using namespace nuq;

namespace {

constexpr int Roots = 100, Children = 10000;
constexpr size_t Probes = 1 << 14;

std::unique_ptr<TLazyStringTree> MakeTree() {
    auto tree = NewComponent<TLazyStringTree>();
    tree->SetBounds(0, 0, 400, 600);
    tree->Handle();
    tree->BeginUpdate();
    tree->SetRootNodeCount(Roots);
    for (PLazyNode r = tree->GetFirstNoInit(); r; r = r->NextSibling) {
        tree->SetChildCount(r, Children);
        tree->SetExpanded(r, true);
    }
    tree->EndUpdate();
    tree->OnGetText = [](TBaseLazyTree& t, PLazyNode n, TColumnIndex, int, std::u16string& s) {
        std::string name = t.GetNodeLevel(n) == 0 ? "root " + std::to_string(n->Index)
                                                  : "item " + std::to_string(n->Index);
        s.assign(name.begin(), name.end());
    };
    tree->ValidateCache();
    ProcessMessagesUntil([&] { return tree->HasState(tsUseCache); }, 60000);
    return tree;
}

void BM_HitTestAtRandomRows(benchmark::State& state) {
    auto tree = MakeTree();
    std::mt19937 rng(5);
    std::vector<TPoint> points(Probes);
    const uint32_t range = tree->RootNode()->TotalHeight - tree->DefaultNodeHeight();
    for (TPoint& p : points) p = {int(rng() % 300), int(rng() % range)};
    size_t i = 0;
    for (auto _ : state) {
        THitInfo info;
        const TPoint& p = points[i++ & (Probes - 1)];
        tree->GetHitTestInfoAt(p.X, p.Y, false, info);
        benchmark::DoNotOptimize(info);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HitTestAtRandomRows);

// From the first node, "root 9" is found after 90,000 nodes of the first roots.
void BM_IncrementalSearchAcrossManyNodes(benchmark::State& state) {
    auto tree = MakeTree();
    tree->SetIncrementalSearch(isAll);
    for (auto _ : state) {
        state.PauseTiming();
        tree->SetFocusedNode(tree->GetFirst());
        state.ResumeTiming();
        for (char16_t c : std::u16string(u"root 9")) tree->HandleIncrementalSearch(c);
        state.PauseTiming();
        SendMessage(tree->Handle(), WM_TIMER, 7, 0); // the search times out
        state.ResumeTiming();
    }
}
BENCHMARK(BM_IncrementalSearchAcrossManyNodes)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    InitGuiApplication(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

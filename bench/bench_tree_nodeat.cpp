// Finding the node at a vertical position on a tree of 100 roots x 10,000
// children, all expanded: the lazy tree through its position cache (and by
// walking, without it) beside QTreeView::indexAt over a QStandardItemModel;
// and the whole hit test of a tree filled in normal use, its cache built by
// the validation thread as the tree asks for it.

#include "platform/EventLoop.h"
#include "platform/gui/WindowHost.h"
#include "treeview/LazyTrees.h"

#include <QApplication>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <random>

using namespace nuq;

namespace {

constexpr int Roots = 100, Children = 10000;
constexpr size_t Probes = 1 << 14; // random positions, cycled through

// With Window the tree has its window while it is filled, as in a program.
std::unique_ptr<TLazyStringTree> MakeTree(bool window = false) {
    auto tree = NewComponent<TLazyStringTree>();
    if (window) {
        tree->SetBounds(0, 0, 400, 600);
        tree->Handle();
    }
    tree->BeginUpdate();
    tree->SetRootNodeCount(Roots);
    for (PLazyNode r = tree->GetFirstNoInit(); r; r = r->NextSibling) {
        tree->SetChildCount(r, Children);
        tree->SetExpanded(r, true);
    }
    tree->EndUpdate();
    return tree;
}

std::vector<int> RandomPositions(uint32_t range) {
    std::mt19937 rng(3);
    std::vector<int> ys(Probes);
    for (int& y : ys) y = int(rng() % range);
    return ys;
}

void RunNodeAt(benchmark::State& state, bool useCache) {
    auto tree = MakeTree();
    tree->Handle();
    tree->ValidateCache();
    ProcessMessagesUntil([&] { return tree->HasState(tsUseCache); }, 60000);
    if (!useCache) tree->InvalidateCache();
    if (tree->HasState(tsUseCache) != useCache) state.SkipWithError("cache not as asked");
    std::vector<int> ys =
        RandomPositions(tree->RootNode()->TotalHeight - tree->DefaultNodeHeight());
    size_t i = 0;
    for (auto _ : state) {
        int top;
        benchmark::DoNotOptimize(tree->GetNodeAt(0, ys[i++ & (Probes - 1)], false, top));
    }
    state.SetItemsProcessed(state.iterations());
}

// Positions in a 600-pixel viewport scrolled to the middle of the tree, as
// the view below is asked.
void BM_LazyTreeNodeAtInViewport(benchmark::State& state) {
    auto tree = MakeTree();
    tree->Handle();
    tree->ValidateCache();
    ProcessMessagesUntil([&] { return tree->HasState(tsUseCache); }, 60000);
    if (!tree->HasState(tsUseCache)) state.SkipWithError("no cache");
    const int middle = int(tree->RootNode()->TotalHeight / 2);
    std::vector<int> ys = RandomPositions(600);
    for (int& y : ys) y += middle;
    size_t i = 0;
    for (auto _ : state) {
        int top;
        benchmark::DoNotOptimize(tree->GetNodeAt(0, ys[i++ & (Probes - 1)], false, top));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LazyTreeNodeAtInViewport);

void BM_LazyTreeNodeAt(benchmark::State& state) {
    RunNodeAt(state, true);
}
BENCHMARK(BM_LazyTreeNodeAt);

void BM_LazyTreeNodeAtWithoutCache(benchmark::State& state) {
    RunNodeAt(state, false);
}
BENCHMARK(BM_LazyTreeNodeAtWithoutCache);

// Filled with its window present, as a program does, then left to the message
// loop: the tree queues its own validation; nothing asks for it here.
void BM_LazyTreeHitTestCacheByWorker(benchmark::State& state) {
    auto tree = MakeTree(true);
    ProcessMessagesUntil([&] { return tree->HasState(tsUseCache); }, 60000);
    state.counters["cache"] = tree->HasState(tsUseCache) ? 1 : 0;
    tree->SetOffsetY(-int(tree->RootNode()->TotalHeight / 2));
    std::vector<int> ys = RandomPositions(600);
    size_t i = 0;
    for (auto _ : state) {
        THitInfo hit;
        tree->GetHitTestInfoAt(5, ys[i++ & (Probes - 1)], true, hit);
        benchmark::DoNotOptimize(hit);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_LazyTreeHitTestCacheByWorker);

// The view answers for points in its viewport, so the positions are random
// within it, scrolled to the middle of the tree.
void BM_QTreeViewIndexAt(benchmark::State& state) {
    QStandardItemModel model;
    QStandardItem* top = model.invisibleRootItem();
    for (int r = 0; r < Roots; ++r) {
        auto* root = new QStandardItem(); // the model owns its items
        top->appendRow(root);
        for (int c = 0; c < Children; ++c) root->appendRow(new QStandardItem());
    }
    QTreeView view;
    view.setModel(&model);
    view.resize(400, 600);
    view.expandAll();
    view.show();
    QApplication::processEvents();
    view.verticalScrollBar()->setValue(view.verticalScrollBar()->maximum() / 2);
    QApplication::processEvents();
    std::vector<int> ys = RandomPositions(uint32_t(view.viewport()->height()));
    if (!view.indexAt(QPoint(5, ys[0])).isValid()) state.SkipWithError("no item in the viewport");
    size_t i = 0;
    for (auto _ : state) benchmark::DoNotOptimize(view.indexAt(QPoint(5, ys[i++ & (Probes - 1)])));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_QTreeViewIndexAt);

} // namespace

int main(int argc, char** argv) {
    InitGuiApplication(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

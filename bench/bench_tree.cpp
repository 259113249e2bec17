// Adding 1,000,000 nodes (100 roots x 10,000 children) and freeing them: the
// lazy tree beside a QTreeView over a QStandardItemModel.

#include "platform/EventLoop.h"
#include "platform/gui/WindowHost.h"
#include "treeview/LazyTrees.h"

#include <QApplication>
#include <QStandardItemModel>
#include <QTreeView>

#include <benchmark/benchmark.h>

using namespace nuq;

namespace {

constexpr int Roots = 100, Children = 10000;

void BM_LazyTreeAddAndFree(benchmark::State& state) {
    for (auto _ : state) {
        auto tree = NewComponent<TLazyStringTree>();
        tree->BeginUpdate();
        for (int r = 0; r < Roots; ++r) {
            PLazyNode root = tree->AddChild(nullptr);
            for (int c = 0; c < Children; ++c) tree->AddChild(root);
        }
        tree->EndUpdate();
        benchmark::DoNotOptimize(tree->TotalCount());
        tree.reset();
    }
    state.SetItemsProcessed(state.iterations() * Roots * (Children + 1));
}
BENCHMARK(BM_LazyTreeAddAndFree)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_QTreeViewAddAndFree(benchmark::State& state) {
    for (auto _ : state) {
        auto model = std::make_unique<QStandardItemModel>();
        auto view = std::make_unique<QTreeView>();
        view->setModel(model.get());
        QStandardItem* top = model->invisibleRootItem();
        for (int r = 0; r < Roots; ++r) {
            auto* root = new QStandardItem(); // the model owns its items
            top->appendRow(root);
            for (int c = 0; c < Children; ++c) root->appendRow(new QStandardItem());
        }
        benchmark::DoNotOptimize(model->rowCount());
        view.reset();
        model.reset();
    }
    state.SetItemsProcessed(state.iterations() * Roots * (Children + 1));
}
BENCHMARK(BM_QTreeViewAddAndFree)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

int main(int argc, char** argv) {
    InitGuiApplication(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

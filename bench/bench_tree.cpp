// The lazy tree beside a QTreeView over a QStandardItemModel, on a tree of
// 100 top-level nodes with 10,000 children each: adding and freeing,
// expanding all, collapsing all, sorting every level by the node text and
// deleting all. Expand all also runs on twice the nodes, to show it is linear.

#include "platform/EventLoop.h"
#include "platform/gui/WindowHost.h"
#include "treeview/LazyTrees.h"

#include <QApplication>
#include <QStandardItemModel>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <random>

using namespace nuq;

namespace {

constexpr int Roots = 100, Children = 10000;

// The same texts for both trees, in the same order.
const std::vector<std::u16string>& Texts(size_t count) {
    static std::vector<std::u16string> texts;
    if (texts.size() < count) {
        std::mt19937 random(42);
        texts.clear();
        texts.reserve(count);
        for (size_t i = 0; i < count; ++i) {
            std::u16string t(8, u'a');
            for (auto& c : t) c = char16_t(u'a' + random() % 26);
            texts.push_back(std::move(t));
        }
    }
    return texts;
}

// A string tree whose nodes hold the number of their text.
std::unique_ptr<TLazyStringTree> MakeLazyTree(int roots) {
    auto tree = NewComponent<TLazyStringTree>();
    tree->SetNodeDataSize(4);
    tree->BeginUpdate();
    tree->SetRootNodeCount(uint32_t(roots));
    uint32_t number = 0;
    for (PLazyNode r = tree->GetFirstNoInit(); r; r = r->NextSibling) {
        *static_cast<uint32_t*>(tree->GetNodeData(r)) = number++;
        tree->SetChildCount(r, Children);
        for (PLazyNode c = r->FirstChild; c; c = c->NextSibling)
            *static_cast<uint32_t*>(tree->GetNodeData(c)) = number++;
    }
    tree->EndUpdate();
    const auto& texts = Texts(number);
    tree->OnCompareNodes = [&texts](TBaseLazyTree& t, PLazyNode a, PLazyNode b, TColumnIndex,
                                    int& result) {
        const auto& ta = texts[*static_cast<uint32_t*>(t.GetNodeData(a))];
        const auto& tb = texts[*static_cast<uint32_t*>(t.GetNodeData(b))];
        result = ta.compare(tb);
    };
    return tree;
}

struct TQtTree {
    std::unique_ptr<QStandardItemModel> Model = std::make_unique<QStandardItemModel>();
    std::unique_ptr<QTreeView> View = std::make_unique<QTreeView>();
    explicit TQtTree(int roots) {
        const auto& texts = Texts(size_t(roots) * (Children + 1));
        size_t number = 0;
        auto text = [&] {
            const auto& t = texts[number++];
            return QString::fromUtf16(t.data(), qsizetype(t.size()));
        };
        QStandardItem* top = Model->invisibleRootItem();
        for (int r = 0; r < roots; ++r) {
            auto* root = new QStandardItem(text()); // the model owns its items
            QList<QStandardItem*> rows;
            rows.reserve(Children);
            for (int c = 0; c < Children; ++c) rows.append(new QStandardItem(text()));
            root->appendRows(rows);
            top->appendRow(root);
        }
        View->setModel(Model.get());
        View->resize(400, 300);
        View->show();
    }
    ~TQtTree() {
        View.reset();
        Model.reset();
    }
};

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

// --- expand, collapse, sort, delete ----------------------------------------------------

void BM_LazyTreeExpandAll(benchmark::State& state) {
    int roots = int(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto tree = MakeLazyTree(roots);
        state.ResumeTiming();
        tree->FullExpand();
        benchmark::DoNotOptimize(tree->VisibleCount());
        state.PauseTiming();
        tree.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * roots * (Children + 1));
}
BENCHMARK(BM_LazyTreeExpandAll)
    ->Arg(Roots)
    ->Arg(2 * Roots)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

void BM_QTreeViewExpandAll(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto qt = std::make_unique<TQtTree>(Roots);
        state.ResumeTiming();
        qt->View->expandAll();
        state.PauseTiming();
        qt.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_QTreeViewExpandAll)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LazyTreeCollapseAll(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto tree = MakeLazyTree(Roots);
        tree->FullExpand();
        state.ResumeTiming();
        tree->FullCollapse();
        benchmark::DoNotOptimize(tree->VisibleCount());
        state.PauseTiming();
        tree.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LazyTreeCollapseAll)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_QTreeViewCollapseAll(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto qt = std::make_unique<TQtTree>(Roots);
        qt->View->expandAll();
        state.ResumeTiming();
        qt->View->collapseAll();
        state.PauseTiming();
        qt.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_QTreeViewCollapseAll)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LazyTreeSortAll(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto tree = MakeLazyTree(Roots);
        state.ResumeTiming();
        tree->SortTree(0, sdAscending, false);
        state.PauseTiming();
        tree.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LazyTreeSortAll)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_QTreeViewSortAll(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto qt = std::make_unique<TQtTree>(Roots);
        state.ResumeTiming();
        qt->Model->sort(0);
        state.PauseTiming();
        qt.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_QTreeViewSortAll)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LazyTreeDeleteAll(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto tree = MakeLazyTree(Roots);
        tree->FullExpand();
        state.ResumeTiming();
        tree->Clear();
        benchmark::DoNotOptimize(tree->TotalCount());
        state.PauseTiming();
        tree.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_LazyTreeDeleteAll)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_QTreeViewDeleteAll(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto qt = std::make_unique<TQtTree>(Roots);
        qt->View->expandAll();
        state.ResumeTiming();
        qt->Model->clear();
        state.PauseTiming();
        qt.reset();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_QTreeViewDeleteAll)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

int main(int argc, char** argv) {
    InitGuiApplication(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

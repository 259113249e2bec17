// Painting the lazy tree beside a QTreeView over a QStandardItemModel, both
// 800 x 600 with three columns, on an expanded tree of 1,000 groups of 999
// items (1,000,000 nodes): one viewport in the middle of the tree, and
// scrolling through the whole tree page by page, each page painted.

#include "platform/EventLoop.h"
#include "platform/gui/WindowHost.h"
#include "treeview/LazyTrees.h"

#include <QApplication>
#include <QImage>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

using namespace nuq;

namespace {

constexpr int Groups = 1000, Items = 999, Width = 800, Height = 600;

std::u16string Text(uint32_t group, uint32_t item, int column) {
    std::string s = column == 0   ? "item " + std::to_string(group) + "." + std::to_string(item)
                    : column == 1 ? std::string("item")
                                  : std::to_string((item + 1) * 7 % 100000);
    return std::u16string(s.begin(), s.end());
}

void EnsureToolkit() {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    SetMainThread();
    EnsureGuiToolkit();
}

std::unique_ptr<TLazyStringTree> MakeLazyTree() {
    EnsureToolkit();
    InitializeGlobalStructures();
    auto tree = NewComponent<TLazyStringTree>();
    tree->SetBounds(0, 0, Width, Height);
    tree->Color = clWindow;
    tree->Handle();
    TLTHeader& header = tree->Header();
    for (int w : {300, 200, 200}) header.Columns().Add()->SetWidth(w);
    header.SetOptions(header.Options() | hoVisible);
    tree->OnGetText = [](TBaseLazyTree& t, PLazyNode n, TColumnIndex column, int,
                         std::u16string& text) {
        bool group = n->Parent == t.RootNode();
        text = group ? Text(n->Index, 0, column) : Text(n->Parent->Index, n->Index, column);
    };
    tree->BeginUpdate();
    tree->SetRootNodeCount(Groups);
    for (PLazyNode g = tree->GetFirstNoInit(); g; g = g->NextSibling) {
        tree->SetChildCount(g, Items);
        tree->SetExpanded(g, true);
    }
    tree->EndUpdate();
    tree->UpdateScrollBars(false);
    return tree;
}

struct TQtTree {
    std::unique_ptr<QStandardItemModel> Model = std::make_unique<QStandardItemModel>();
    std::unique_ptr<QTreeView> View = std::make_unique<QTreeView>();
    TQtTree() {
        EnsureToolkit();
        Model->setColumnCount(3);
        QStandardItem* top = Model->invisibleRootItem();
        auto item = [](uint32_t g, uint32_t i, int c) {
            std::u16string t = Text(g, i, c);
            return new QStandardItem(QString::fromUtf16(t.data(), qsizetype(t.size())));
        };
        for (uint32_t g = 0; g < Groups; ++g) {
            QList<QStandardItem*> group{item(g, 0, 0), item(g, 0, 1), item(g, 0, 2)};
            for (uint32_t i = 0; i < Items; ++i)
                group[0]->appendRow({item(g, i, 0), item(g, i, 1), item(g, i, 2)});
            top->appendRow(group);
        }
        View->setUniformRowHeights(true); // its fast path for rows of one height
        View->setModel(Model.get());
        View->resize(Width, Height);
        View->setColumnWidth(0, 300);
        View->setColumnWidth(1, 200);
        View->expandAll();
        View->show();
        QApplication::processEvents();
    }
    ~TQtTree() {
        View.reset();
        Model.reset();
    }
};

void BM_LazyTreePaintViewport(benchmark::State& state) {
    auto tree = MakeLazyTree();
    tree->SetOffsetY(-9000000); // the middle of the tree
    TBitmap target(Width, Height);
    TRect client = tree->ClientRect();
    TRect window = client.Offset(-tree->OffsetX(), -tree->OffsetY());
    for (auto _ : state) tree->PaintTree(target.Canvas(), window, {0, 0});
    state.counters["rows"] = double(client.Height() / 18);
}
BENCHMARK(BM_LazyTreePaintViewport)->Unit(benchmark::kMillisecond);

// The same, the tree left to the message loop first: its position cache is
// built by the validation thread as the tree asks for it after filling.
void BM_LazyTreePaintViewportCacheByWorker(benchmark::State& state) {
    auto tree = MakeLazyTree();
    ProcessMessagesUntil([&] { return tree->HasState(tsUseCache); }, 60000);
    state.counters["cache"] = tree->HasState(tsUseCache) ? 1 : 0;
    tree->SetOffsetY(-9000000);
    TBitmap target(Width, Height);
    TRect window = tree->ClientRect().Offset(-tree->OffsetX(), -tree->OffsetY());
    for (auto _ : state) tree->PaintTree(target.Canvas(), window, {0, 0});
}
BENCHMARK(BM_LazyTreePaintViewportCacheByWorker)->Unit(benchmark::kMillisecond);

void BM_QTreeViewPaintViewport(benchmark::State& state) {
    TQtTree qt;
    qt.View->verticalScrollBar()->setValue(qt.View->verticalScrollBar()->maximum() / 2);
    QApplication::processEvents();
    QImage image(Width, Height, QImage::Format_ARGB32_Premultiplied);
    for (auto _ : state) qt.View->viewport()->render(&image);
}
BENCHMARK(BM_QTreeViewPaintViewport)->Unit(benchmark::kMillisecond);

// Page by page from the top to the end, each page painted into the window.
void BM_LazyTreeScrollToEnd(benchmark::State& state) {
    auto tree = MakeLazyTree();
    HWND wnd = tree->WindowHandle();
    int pages = 0;
    for (auto _ : state) {
        tree->SetOffsetY(0);
        UpdateWindow(wnd);
        for (;;) {
            SendMessage(wnd, WM_VSCROLL, SB_PAGEDOWN, 0);
            UpdateWindow(wnd);
            ++pages;
            if (tree->OffsetY() <= tree->ClientRect().Height() - tree->RangeY()) break;
        }
    }
    state.counters["pages"] = double(pages) / double(state.iterations());
}
BENCHMARK(BM_LazyTreeScrollToEnd)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_QTreeViewScrollToEnd(benchmark::State& state) {
    TQtTree qt;
    QScrollBar* bar = qt.View->verticalScrollBar();
    int pages = 0;
    for (auto _ : state) {
        bar->setValue(0);
        qt.View->viewport()->repaint();
        while (bar->value() < bar->maximum()) {
            bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
            qt.View->viewport()->repaint();
            ++pages;
        }
    }
    state.counters["pages"] = double(pages) / double(state.iterations());
}
BENCHMARK(BM_QTreeViewScrollToEnd)->Unit(benchmark::kMillisecond)->Iterations(1);

} // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    InitGuiApplication(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

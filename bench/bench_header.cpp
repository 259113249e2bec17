// The tree header: painting a full header, hit tests across many columns and
// the header's stream record.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <sstream>

using namespace nuq;

namespace {

std::unique_ptr<TLazyStringTree> MakeTree(int columns, int width) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    SetMainThread();
    EnsureGuiToolkit();
    auto tree = NewComponent<TLazyStringTree>();
    tree->SetBounds(0, 0, 1600, 300);
    tree->Handle();
    TLTHeader& h = tree->Header();
    h.SetOptions(h.Options() | hoVisible | hoShowSortGlyphs);
    h.Columns().BeginUpdate();
    for (int i = 0; i < columns; ++i) {
        TLazyTreeColumn* c = h.Columns().Add();
        c->SetWidth(width);
        c->SetText(u"Температура " + Utf8ToUtf16(std::to_string(i)));
    }
    h.Columns().EndUpdate();
    h.SetSortColumn(1);
    return tree;
}

// Twenty captioned cells with a sort glyph, painted into the window frame.
void BM_PaintHeader(benchmark::State& state) {
    auto tree = MakeTree(20, 80);
    HWND wnd = tree->WindowHandle();
    for (auto _ : state) RedrawWindow(wnd, nullptr, RDW_FRAME);
    state.SetItemsProcessed(int64_t(state.iterations()) * 20);
}
BENCHMARK(BM_PaintHeader);

// The column under each of the header's pixels, across 100 columns.
void BM_ColumnAtPoint(benchmark::State& state) {
    auto tree = MakeTree(100, 16);
    TLazyTreeColumns& cols = tree->Header().Columns();
    int found = 0;
    for (auto _ : state)
        for (int x = 0; x < 1600; x += 4) found += cols.ColumnAtPoint({x, 5}) >= 0;
    benchmark::DoNotOptimize(found);
    state.SetItemsProcessed(int64_t(state.iterations()) * 400);
}
BENCHMARK(BM_ColumnAtPoint);

// Writing and reading back a header of 50 columns.
void BM_HeaderStream(benchmark::State& state) {
    auto tree = MakeTree(50, 30);
    auto other = NewComponent<TLazyStringTree>();
    for (auto _ : state) {
        std::ostringstream out;
        tree->Header().SaveToStream(out);
        std::istringstream in(out.str());
        other->Header().LoadFromStream(in);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 50);
}
BENCHMARK(BM_HeaderStream);

// Reading a header of many columns: each column's width is set as it is read.
void BM_HeaderLoad(benchmark::State& state) {
    const int columns = int(state.range(0));
    auto tree = NewComponent<TLazyStringTree>();
    TLazyTreeColumns& cols = tree->Header().Columns();
    cols.BeginUpdate();
    for (int i = 0; i < columns; ++i) {
        TLazyTreeColumn* c = cols.Add();
        c->SetText(u"c" + Utf8ToUtf16(std::to_string(i)));
        c->SetWidth(20 + i % 60);
    }
    cols.EndUpdate();
    std::ostringstream out;
    tree->Header().SaveToStream(out);
    const std::string bytes = out.str();
    auto other = NewComponent<TLazyStringTree>();
    for (auto _ : state) {
        std::istringstream in(bytes);
        other->Header().LoadFromStream(in);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * columns);
}
BENCHMARK(BM_HeaderLoad)->Arg(1000)->Arg(4000)->Arg(16000)->Unit(benchmark::kMillisecond);

// Fitting three columns to their content over a million expanded nodes (1,000
// groups of 999 items, all open), as Ctrl+keypad-plus does without animation.
void BM_AutoFitMillion(benchmark::State& state) {
    auto tree = MakeTree(3, 100);
    tree->OnInitNode = [](TBaseLazyTree& t, PLazyNode parent, PLazyNode, TLazyNodeInitStates& s) {
        if (!parent || parent == t.RootNode()) s |= ivsHasChildren;
    };
    tree->OnGetText = [](TBaseLazyTree& t, PLazyNode node, TColumnIndex column, int,
                         std::u16string& text) {
        text = column == 1 ? u"item" : Utf8ToUtf16(std::to_string(node->Index * 7 + column));
        if (column == 0 && t.GetNodeLevel(node) == 0) text += u" group";
    };
    tree->SetRootNodeCount(1000);
    for (PLazyNode group = tree->RootNode()->FirstChild; group; group = group->NextSibling)
        tree->SetChildCount(group, 999);
    tree->FullExpand();
    for (auto _ : state) {
        for (int i = 0; i < 3; ++i) tree->Header().Columns()[i].SetWidth(100);
        tree->Header().AutoFitColumns(false, smaUseColumnOption);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 3 * tree->TotalCount());
}
BENCHMARK(BM_AutoFitMillion)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();

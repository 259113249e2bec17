// The drag image following the mouse over the screen's picture: small moves
// that reuse the overlapping background against forced full repaints, and
// the hint window's fade step (one blend of the prepared bitmaps).

#include "treeview/LazyTrees.h"
#include "treeview/LazyTrees_Globals.h"

#include <benchmark/benchmark.h>

using namespace nuq;

namespace {

struct TDragSetup {
    std::unique_ptr<TLazyStringTree> Tree;
    TBitmap Source;
    std::unique_ptr<TLTDragImage> Image;
    explicit TDragSetup(int size) {
        EnsureGuiToolkit();
        Tree = std::make_unique<TLazyStringTree>();
        ProcessorHasMMX = true;
        SetScreenSize(1024, 768);
        Source.SetSize(size, size);
        Image = std::make_unique<TLTDragImage>(Tree.get());
        Image->PrepareDrag(Source, {300, 300}, {0, 0}, nullptr);
        Image->ShowPicture();
    }
};

// Moves of DX pixels right and back again: the strips path.
void BM_DragImageSmallMove(benchmark::State& state) {
    TDragSetup s(int(state.range(0)));
    int x = 0;
    for (auto _ : state) {
        x = x == 0 ? 4 : 0;
        benchmark::DoNotOptimize(s.Image->DragTo({x, 0}, false));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DragImageSmallMove)->Arg(100)->Arg(200);

// The same moves with a forced repaint: whole area restored and captured.
void BM_DragImageForcedMove(benchmark::State& state) {
    TDragSetup s(int(state.range(0)));
    int x = 0;
    for (auto _ : state) {
        x = x == 0 ? 4 : 0;
        benchmark::DoNotOptimize(s.Image->DragTo({x, 0}, true));
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_DragImageForcedMove)->Arg(100)->Arg(200);

// One fade step of a 300 x 40 hint: the screen copy and the hint blended.
void BM_HintFadeBlend(benchmark::State& state) {
    EnsureGuiToolkit();
    TBitmap screen(300, 40), hint(300, 40), blend(300, 40);
    int step = 0;
    for (auto _ : state) {
        BitBlt(blend.Canvas().Handle(), 0, 0, 300, 40, screen.Canvas().Handle(), 0, 0, SRCCOPY);
        BlendRectangle(hint.Canvas().Handle(), blend.Canvas().Handle(), {0, 0, 300, 40}, {0, 0}, 0,
                       step++ % 256, 0);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HintFadeBlend);

} // namespace

BENCHMARK_MAIN();

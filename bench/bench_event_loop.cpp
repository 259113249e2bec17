// Throughput of the native message loop: posted calls and timer ticks.

#include "platform/EventLoop.h"
#include "platform/Timer.h"

#include <benchmark/benchmark.h>

#include <memory>
#include <thread>
#include <vector>

using namespace nuq;

namespace {

// Calls posted on the main thread, run by passes of 1000.
void BM_PostCall(benchmark::State& state) {
    SetMainThread();
    int ran = 0;
    for (auto _ : state) {
        for (int i = 0; i < 1000; ++i) PostCall([&ran] { ++ran; });
        ProcessMessages();
    }
    benchmark::DoNotOptimize(ran);
    state.SetItemsProcessed(int64_t(state.iterations()) * 1000);
}
BENCHMARK(BM_PostCall);

// Calls posted by a worker while the main thread pumps.
void BM_PostCallFromThread(benchmark::State& state) {
    SetMainThread();
    UseRealClock();
    int ran = 0;
    for (auto _ : state) {
        ran = 0;
        std::thread worker([&] {
            for (int i = 0; i < 10000; ++i) PostCall([&ran] { ++ran; });
        });
        ProcessMessagesUntil([&] { return ran == 10000; }, 60000);
        worker.join();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 10000);
}
BENCHMARK(BM_PostCallFromThread)->Unit(benchmark::kMillisecond);

// Round trips of Synchronize from a worker.
void BM_Synchronize(benchmark::State& state) {
    SetMainThread();
    UseRealClock();
    for (auto _ : state) {
        bool finished = false;
        std::thread worker([&] {
            for (int i = 0; i < 1000; ++i) Synchronize([] {});
            Synchronize([&] { finished = true; });
        });
        ProcessMessagesUntil([&] { return finished; }, 60000);
        worker.join();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * 1001);
}
BENCHMARK(BM_Synchronize)->Unit(benchmark::kMillisecond);

// Ticks dispatched on the virtual clock with Range(0) armed timers of
// different periods; each pass jumps to the next due one.
void BM_TimerTicks(benchmark::State& state) {
    SetMainThread();
    UseVirtualClock(0);
    SetIdleGrace(0);
    int64_t ticks = 0;
    std::vector<std::unique_ptr<TTimer>> timers;
    for (int i = 0; i < state.range(0); ++i) {
        timers.push_back(std::make_unique<TTimer>());
        timers.back()->SetInterval(uint32_t(100 + i % 97));
        timers.back()->SetOnTimer([&ticks] { ++ticks; });
    }
    for (auto _ : state) HandleMessage();
    state.SetItemsProcessed(ticks);
    timers.clear();
    UseRealClock();
}
BENCHMARK(BM_TimerTicks)->Arg(1)->Arg(100)->Arg(10000);

} // namespace

BENCHMARK_MAIN();

// Throughput of the native message loop: posted calls, timer ticks, passes
// among many idle descriptors, and named mutexes among many names.

#include "platform/EventLoop.h"
#include "platform/SyncObjs.h"
#include "platform/Timer.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace nuq;

namespace {

// Thousands of descriptors need more than the usual soft limit.
void RaiseOpenFileLimit() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

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

// One busy descriptor among Range(0) idle watched ones: a pass that reads a
// byte should cost the same however many sit idle (one syscall per pass, not
// one poll entry per watch).
void BM_PassAmongIdleWatches(benchmark::State& state) {
    RaiseOpenFileLimit();
    SetMainThread();
    UseRealClock();
    std::vector<int> fds;
    std::vector<std::unique_ptr<TFdWatch>> watches;
    for (int i = 0; i < state.range(0); ++i) {
        int p[2];
        if (pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) {
            state.SkipWithError("out of descriptors");
            break;
        }
        fds.insert(fds.end(), {p[0], p[1]});
        watches.push_back(std::make_unique<TFdWatch>(p[0], fdRead, [](short) {}));
    }
    int busy[2];
    if (pipe2(busy, O_CLOEXEC | O_NONBLOCK) != 0) return;
    char byte = 0;
    TFdWatch w(busy[0], fdRead, [&](short) { benchmark::DoNotOptimize(read(busy[0], &byte, 1)); });
    for (auto _ : state) {
        benchmark::DoNotOptimize(write(busy[1], &byte, 1));
        ProcessMessages();
    }
    w.Stop();
    watches.clear();
    for (int fd : fds) close(fd);
    close(busy[0]);
    close(busy[1]);
}
BENCHMARK(BM_PassAmongIdleWatches)->Arg(10)->Arg(1000)->Arg(5000);

// Opening one name while Range(0) other names are open, as every boiler-room
// object does twice when it is made.
void BM_OpenNamedMutex(benchmark::State& state) {
    std::vector<TMutexHandle> open;
    for (int i = 0; i < state.range(0); ++i)
        open.push_back(OpenNamedMutex("SIP" + std::to_string(i)));
    int n = 0;
    for (auto _ : state) {
        auto m = OpenNamedMutex("OPCRM" + std::to_string(n++ % 1000));
        benchmark::DoNotOptimize(m.get());
    }
}
BENCHMARK(BM_OpenNamedMutex)->Arg(10)->Arg(20000);

} // namespace

BENCHMARK_MAIN();

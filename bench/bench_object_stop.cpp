// The empty decode a boiler-room object makes when it stops (one message-loop
// pass per block) while many other objects' links sit idle on the loop.

#include "acquisition/uNuqClasses.h"
#include "platform/EventLoop.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

namespace {

// Thousands of descriptors need more than the usual soft limit.
void RaiseOpenFileLimit() {
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
}

// Fifteen one-byte blocks, as a small plant's packet has.
std::string SmallScript() {
    std::string s = "#script;\n#length = 15;\n";
    for (int i = 1; i <= 15; ++i)
        s += "#defbyte " + std::to_string(i) + ";\n  Type = IsByte;\n  Caption = 'Параметр " +
             std::to_string(i) + "';\n#enddefbyte;\n";
    return s + "#endscript;\n";
}

void BM_StopDecodeAmongIdleLinks(benchmark::State& state) {
    RaiseOpenFileLimit();
    nuq::SetMainThread();
    nuq::UseRealClock();
    std::vector<int> fds;
    std::vector<std::unique_ptr<nuq::TFdWatch>> links;
    for (int i = 0; i < state.range(0); ++i) {
        int p[2];
        if (pipe2(p, O_CLOEXEC | O_NONBLOCK) != 0) {
            state.SkipWithError("out of descriptors");
            break;
        }
        fds.insert(fds.end(), {p[0], p[1]});
        links.push_back(std::make_unique<nuq::TFdWatch>(p[0], nuq::fdRead, [](short) {}));
    }
    nuq::TBoilerRoom room;
    room.LoadScript(SmallScript());
    if (room.Blocks.Count() != 15) state.SkipWithError("script did not load");
    for (auto _ : state) room.DecodePacketBuffer();
    state.counters["blocks"] = room.Blocks.Count();
    links.clear();
    for (int fd : fds) close(fd);
}
BENCHMARK(BM_StopDecodeAmongIdleLinks)->Arg(10)->Arg(1000)->Arg(5000);

} // namespace

BENCHMARK_MAIN();

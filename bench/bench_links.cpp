// Framing of received bytes on the serial and TCP links, and the trace line,
// as a busy link feeds them.

#include "acquisition/uNuqClasses.h"
#include "foundation/uTrace.h"
#include "platform/EventLoop.h"
#include "platform/Host.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace nuq;

namespace {

// Packets of 16 bytes as hex text, arriving in reads of Range(0) bytes.
void BM_FramePackets(benchmark::State& state) {
    TBoilerRoom room;
    int64_t lines = 0;
    room.OnData = [&](TBoilerRoom&, const std::string&) { ++lines; };
    std::string stream;
    while (stream.size() < 1 << 20) stream += "<410201F4000102030405060708090A0B>\r\n";
    const size_t chunk = size_t(state.range(0));
    for (auto _ : state)
        for (size_t at = 0; at < stream.size(); at += chunk)
            room.RxBuffer.AddString(std::string_view(stream).substr(at, chunk));
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(stream.size()));
    state.counters["lines"] = benchmark::Counter(double(lines), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_FramePackets)->Arg(64)->Arg(4096)->Arg(256 * 1024);

// A peer that never ends its line: each read costs the same however long the
// flood has gone on.
void BM_FloodWithoutLineEnd(benchmark::State& state) {
    TBoilerRoom room;
    const std::string chunk(size_t(state.range(0)), 'A');
    for (auto _ : state) room.RxBuffer.AddString(chunk);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(chunk.size()));
    state.counters["buffered"] = double(room.RxBuffer.Count());
}
BENCHMARK(BM_FloodWithoutLineEnd)->Arg(1)->Arg(4096);

// One traffic trace line: into the folder nuq run --trace fixes once
// (Range 1), or looked up from setting.ini for every call (Range 0).
void BM_TraceLine(benchmark::State& state) {
    char tmpl[] = "/tmp/nuq-bench-trace-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    std::ofstream(dir + "/setting.ini") << "[ShellSettings]\nLogDirectory=" << dir << "\n";
    SetHostFolder(dir);
    SetHostParameters({"/TRACE"});
    if (state.range(0)) SetTraceFolder(dir);
    for (auto _ : state) Trace("<<<410201F4...B");
    SetTraceFolder("");
    SetHostParameters({});
    SetHostFolder("");
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_TraceLine)->Arg(0)->Arg(1);

} // namespace

BENCHMARK_MAIN();

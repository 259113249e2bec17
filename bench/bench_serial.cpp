// Sustained throughput through the serial port component over a
// pseudo-terminal, beside cat moving the same bytes through the same kind
// of line. Each figure is the median of five runs of 16 MB, the runs of all
// benchmarks interleaved so a change in the machine's load touches each
// alike; the summary at the end gives the component's share of cat's rate.
// The far end is another program (cat of a file), as a line's peer is.
// A bare blocking read loop on a thread of this program is measured beside
// them: what any reader living here reaches on this machine.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "../tests/platform/PtyPair.h"
#include "acquisition/SerBuffer.h"
#include "acquisition/SerComm.h"
#include "platform/EventLoop.h"

using namespace nuq;

namespace {

const size_t Bytes = 16 << 20;
const int Patience = 120000; // ms

pid_t Cat(int in, int out, const char* arg);

// The bytes in a file of their own, for cat to send; removed with the object.
class TDataFile {
public:
    explicit TDataFile(const std::string& data) {
        char path[] = "/tmp/nuq-bench-XXXXXX";
        int fd = mkstemp(path);
        Ok = fd >= 0 && write(fd, data.data(), data.size()) == ssize_t(data.size());
        if (fd >= 0) close(fd);
        Path = path;
    }
    ~TDataFile() { unlink(Path.c_str()); }
    std::string Path;
    bool Ok = false;
};

// The far end: cat sending the file into the line's master end, which it
// writes to blocking; Join tells whether every byte went.
class TFarEnd {
public:
    TFarEnd(nuqtest::TPtyPair& pty, const TDataFile& file) : Pty(pty), File(file) {}
    void Start() {
        fcntl(Pty.Master, F_SETFL, fcntl(Pty.Master, F_GETFL) & ~O_NONBLOCK);
        int in = open("/dev/null", O_RDONLY);
        Pid = Cat(in, Pty.Master, File.Path.c_str());
        close(in);
    }
    bool Join() {
        int status = 0;
        bool sent = Pid > 0 && waitpid(Pid, &status, 0) == Pid && WIFEXITED(status) &&
                    WEXITSTATUS(status) == 0;
        Pid = -1;
        fcntl(Pty.Master, F_SETFL, fcntl(Pty.Master, F_GETFL) | O_NONBLOCK);
        return sent;
    }
    ~TFarEnd() {
        if (Pid > 0) {
            kill(Pid, SIGKILL);
            Join();
        }
    }

private:
    nuqtest::TPtyPair& Pty;
    const TDataFile& File;
    pid_t Pid = -1;
};

void Receive(benchmark::State& state) {
    TDataFile file(nuqtest::Pattern(Bytes));
    if (!file.Ok) state.SkipWithError("no file");
    for (auto _ : state) {
        state.PauseTiming();
        nuqtest::TPtyPair pty;
        TSerComm port;
        port.SetPortNum(pty.PortNum);
        port.SetBaudrate(br115200);
        TSerBuffer buffer; // as the link objects attach one
        buffer.SetSize(8192);
        buffer.SetComm(&port);
        size_t got = 0;
        port.OnRxBuf = [&](TSerCustomComm&, const char*, int n) { got += size_t(n); };
        port.Open();
        TFarEnd peer(pty, file);
        state.ResumeTiming();
        peer.Start();
        ProcessMessagesUntil([&] { return got >= Bytes; }, Patience);
        bool sent = peer.Join();
        state.PauseTiming();
        if (!sent || got != Bytes) state.SkipWithError("bytes lost");
        port.Close();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations() * Bytes));
}

void ThreadReceive(benchmark::State& state) {
    TDataFile file(nuqtest::Pattern(Bytes));
    if (!file.Ok) state.SkipWithError("no file");
    for (auto _ : state) {
        state.PauseTiming();
        nuqtest::TPtyPair pty;
        std::thread reader([&] {
            std::vector<char> buffer(65536);
            for (size_t got = 0; got < Bytes;) {
                ssize_t n = read(pty.Slave, buffer.data(), buffer.size());
                if (n <= 0) return;
                got += size_t(n);
            }
        });
        std::this_thread::sleep_for(
            std::chrono::milliseconds(5)); // reading before the clock starts
        TFarEnd peer(pty, file);
        state.ResumeTiming();
        peer.Start();
        reader.join();
        bool sent = peer.Join();
        state.PauseTiming();
        if (!sent) state.SkipWithError("bytes lost");
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations() * Bytes));
}

void Send(benchmark::State& state) {
    std::string data = nuqtest::Pattern(Bytes);
    const int chunk = 16384;
    for (auto _ : state) {
        state.PauseTiming();
        nuqtest::TPtyPair pty;
        TSerComm port;
        port.SetPortNum(pty.PortNum);
        port.Buffers().SetWriteSize(65536);
        port.Buffers().SetWriteTimeout(Patience);
        port.Open();
        std::string atPeer;
        state.ResumeTiming();
        std::thread peer([&] { atPeer = pty.Receive(Bytes, Patience); });
        for (size_t i = 0; i < Bytes; i += chunk) {
            port.Write(data.data() + i, chunk);
            ProcessMessages();
        }
        peer.join();
        state.PauseTiming();
        if (atPeer.size() != Bytes) state.SkipWithError("bytes lost");
        port.Close();
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations() * Bytes));
}

// Runs cat with the given ends and its complaints silenced; returns its process id.
pid_t Cat(int in, int out, const char* arg) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in, 0);
    posix_spawn_file_actions_adddup2(&fa, out, 1);
    posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    char cat[] = "cat";
    char* argv[] = {cat, const_cast<char*>(arg), nullptr};
    posix_spawnp(&pid, "cat", &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

// Bytes the process has read so far, files it loaded included.
uint64_t BytesRead(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    uint64_t value = 0;
    while (io >> key >> value)
        if (key == "rchar:") return value;
    return 0;
}

void CatReceive(benchmark::State& state) {
    TDataFile file(nuqtest::Pattern(Bytes));
    if (!file.Ok) state.SkipWithError("no file");
    int devNull = open("/dev/null", O_WRONLY);
    for (auto _ : state) {
        state.PauseTiming();
        nuqtest::TPtyPair pty;
        pid_t pid = Cat(pty.Slave, devNull, nullptr);
        // One byte first, so cat is running and reading before the clock starts.
        pty.Send("x");
        int queued = 1;
        while (queued > 0 && ioctl(pty.Slave, FIONREAD, &queued) == 0)
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        uint64_t before = BytesRead(pid);
        TFarEnd peer(pty, file);
        state.ResumeTiming();
        peer.Start();
        while (BytesRead(pid) < before + Bytes)
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        bool sent = peer.Join();
        state.PauseTiming();
        if (!sent) state.SkipWithError("bytes lost");
        pty.CloseMaster(); // cat ends when the line hangs up
        waitpid(pid, nullptr, 0);
        state.ResumeTiming();
    }
    close(devNull);
    state.SetBytesProcessed(int64_t(state.iterations() * Bytes));
}

void CatSend(benchmark::State& state) {
    TDataFile file(nuqtest::Pattern(Bytes));
    if (!file.Ok) state.SkipWithError("no file");
    for (auto _ : state) {
        state.PauseTiming();
        nuqtest::TPtyPair pty;
        int in = open("/dev/null", O_RDONLY);
        state.ResumeTiming();
        pid_t pid = Cat(in, pty.Slave, file.Path.c_str());
        std::string atPeer = pty.Receive(Bytes, Patience);
        state.PauseTiming();
        waitpid(pid, nullptr, 0);
        close(in);
        if (atPeer.size() != Bytes) state.SkipWithError("bytes lost");
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations() * Bytes));
}

// Keeps each benchmark's median rate for the summary.
class TMedianReporter : public benchmark::ConsoleReporter {
public:
    TMedianReporter() : ConsoleReporter(isatty(1) ? OO_Defaults : OO_Tabular) {}

    std::map<std::string, double> Rates; // bytes per second

    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs) {
            if (r.aggregate_name != "median") continue;
            auto c = r.counters.find("bytes_per_second");
            if (c != r.counters.end()) Rates[r.run_name.function_name] = c->second.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

BENCHMARK(Receive)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->UseRealTime();
BENCHMARK(ThreadReceive)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Repetitions(5)
    ->UseRealTime();
BENCHMARK(CatReceive)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->UseRealTime();
BENCHMARK(Send)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->UseRealTime();
BENCHMARK(CatSend)->Unit(benchmark::kMillisecond)->Iterations(1)->Repetitions(5)->UseRealTime();

int main(int argc, char** argv) {
    // Interleaved unless the command line says otherwise.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    TMedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    auto& r = reporter.Rates;
    auto line = [&](const char* what, const char* ours, const char* cat) {
        if (!r.count(ours) || !r.count(cat) || r[cat] <= 0) return;
        std::printf("%s: %.1f MB/s, cat %.1f MB/s, %.0f %% of cat\n", what, r[ours] / 1e6,
                    r[cat] / 1e6, 100 * r[ours] / r[cat]);
    };
    line("receive, component", "Receive", "CatReceive");
    line("receive, bare thread", "ThreadReceive", "CatReceive");
    line("send, component", "Send", "CatSend");
    benchmark::Shutdown();
    return 0;
}

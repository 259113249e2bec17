// Sustained throughput through the serial port component over a
// pseudo-terminal, beside cat moving the same bytes through the same kind
// of line.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>

#include "../tests/platform/PtyPair.h"
#include "acquisition/SerBuffer.h"
#include "acquisition/SerComm.h"
#include "platform/EventLoop.h"

using namespace nuq;

namespace {

const size_t Bytes = 8 << 20;

void Receive(benchmark::State& state) {
    std::string data = nuqtest::Pattern(Bytes);
    for (auto _ : state) {
        nuqtest::TPtyPair pty;
        TSerComm port;
        port.SetPortNum(pty.PortNum);
        port.SetBaudrate(br115200);
        TSerBuffer buffer;
        buffer.SetComm(&port);
        size_t got = 0;
        port.OnRxBuf = [&](TSerCustomComm&, const char*, int n) { got += size_t(n); };
        port.Open();
        std::thread peer([&] { pty.Send(data, 120000); });
        ProcessMessagesUntil([&] { return got >= Bytes; }, 120000);
        peer.join();
        if (got != Bytes) state.SkipWithError("bytes lost");
    }
    state.SetBytesProcessed(int64_t(state.iterations() * Bytes));
}

void Send(benchmark::State& state) {
    std::string data = nuqtest::Pattern(Bytes);
    const int chunk = 16384;
    for (auto _ : state) {
        nuqtest::TPtyPair pty;
        TSerComm port;
        port.SetPortNum(pty.PortNum);
        port.Buffers().SetWriteSize(65536);
        port.Buffers().SetWriteTimeout(120000);
        port.Open();
        std::string atPeer;
        std::thread peer([&] { atPeer = pty.Receive(Bytes, 120000); });
        for (size_t i = 0; i < Bytes; i += chunk) {
            port.Write(data.data() + i, chunk);
            ProcessMessages();
        }
        peer.join();
        if (atPeer.size() != Bytes) state.SkipWithError("bytes lost");
    }
    state.SetBytesProcessed(int64_t(state.iterations() * Bytes));
}

// Runs cat with the given ends; returns its process id.
pid_t Cat(int in, int out, const char* arg) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, in, 0);
    posix_spawn_file_actions_adddup2(&fa, out, 1);
    pid_t pid = -1;
    char cat[] = "cat";
    char* argv[] = {cat, const_cast<char*>(arg), nullptr};
    posix_spawnp(&pid, "cat", &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

void CatReceive(benchmark::State& state) {
    std::string data = nuqtest::Pattern(Bytes);
    int devNull = open("/dev/null", O_WRONLY);
    for (auto _ : state) {
        nuqtest::TPtyPair pty;
        pid_t pid = Cat(pty.Slave, devNull, nullptr);
        pty.Send(data, 120000);
        // cat ends when the line hangs up; give it the bytes first.
        while (true) {
            int n = 0;
            ioctl(pty.Slave, FIONREAD, &n);
            if (n == 0) break;
            std::this_thread::yield();
        }
        pty.CloseMaster();
        waitpid(pid, nullptr, 0);
    }
    close(devNull);
    state.SetBytesProcessed(int64_t(state.iterations() * Bytes));
}

void CatSend(benchmark::State& state) {
    std::string data = nuqtest::Pattern(Bytes);
    char path[] = "/tmp/nuq-bench-XXXXXX";
    int fd = mkstemp(path);
    if (write(fd, data.data(), data.size()) != ssize_t(data.size())) state.SkipWithError("no file");
    close(fd);
    for (auto _ : state) {
        nuqtest::TPtyPair pty;
        int in = open("/dev/null", O_RDONLY);
        pid_t pid = Cat(in, pty.Slave, path);
        std::string atPeer = pty.Receive(Bytes, 120000);
        waitpid(pid, nullptr, 0);
        close(in);
        if (atPeer.size() != Bytes) state.SkipWithError("bytes lost");
    }
    unlink(path);
    state.SetBytesProcessed(int64_t(state.iterations() * Bytes));
}

} // namespace

BENCHMARK(Receive)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(Send)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(CatReceive)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK(CatSend)->Unit(benchmark::kMillisecond)->Iterations(5)->UseRealTime();
BENCHMARK_MAIN();

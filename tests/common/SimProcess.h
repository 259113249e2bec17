#pragma once
// A peer program from sim/ as a child process of a test: control lines to its
// stdin, status lines from its stdout; killed when the test ends.

#include <gtest/gtest.h>

#include "platform/EventLoop.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace simtest {

constexpr int kWaitMs = 10000; // only a guard against a hung peer

// Reads from Fd into Buf until Buf holds Delim; returns what came before it
// (Delim removed) or "<timeout>" / "<eof>".
inline std::string ReadUntil(int fd, std::string& buf, const std::string& delim,
                             int* reads = nullptr) {
    for (;;) {
        const size_t p = buf.find(delim);
        if (p != std::string::npos) {
            std::string line = buf.substr(0, p);
            buf.erase(0, p + delim.size());
            return line;
        }
        pollfd pf{fd, POLLIN, 0};
        if (poll(&pf, 1, kWaitMs) != 1) return "<timeout>";
        char chunk[4096];
        const ssize_t n = read(fd, chunk, sizeof chunk);
        if (n <= 0) return "<eof>";
        if (reads) ++*reads;
        buf.append(chunk, size_t(n));
    }
}

inline void WriteAll(int fd, const std::string& bytes) {
    ASSERT_EQ(write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
}

// The peers' processes running now.
inline std::vector<pid_t>& Peers() {
    static std::vector<pid_t> peers;
    return peers;
}

// No thread under TaskDir but Skip is running or waiting for a processor.
inline bool ThreadsAsleep(const std::string& taskDir, pid_t skip) {
    DIR* dir = opendir(taskDir.c_str());
    if (!dir) return true; // gone
    bool asleep = true;
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.' || atoi(e->d_name) == skip) continue;
        std::ifstream f(taskDir + "/" + e->d_name + "/stat");
        std::string stat;
        std::getline(f, stat);
        const size_t name = stat.rfind(')'); // the name may hold blanks and brackets
        if (name != std::string::npos && name + 2 < stat.size() &&
            (stat[name + 2] == 'R' || stat[name + 2] == 'D')) {
            asleep = false;
            break;
        }
    }
    closedir(dir);
    return asleep;
}

// The virtual clock's jump waits while a peer, or a thread of ours (a serial
// port's), still has work: a loaded machine runs them late, not never. A
// peer that keeps running for seconds is let be, so a test cannot hang on it.
inline bool PeersAsleep() {
    using Clock = std::chrono::steady_clock;
    static Clock::time_point busySince{};
    bool asleep = ThreadsAsleep("/proc/self/task", gettid());
    for (pid_t p : Peers())
        asleep = asleep && ThreadsAsleep("/proc/" + std::to_string(p) + "/task", 0);
    if (asleep) {
        busySince = {};
        return true;
    }
    if (busySince == Clock::time_point{}) busySince = Clock::now();
    return Clock::now() - busySince > std::chrono::seconds(5);
}

// The simulator as a child process: control lines to its stdin, status lines
// from its stdout.
class SimProcess {
public:
    SimProcess(const std::string& program, const std::vector<std::string>& args) {
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) < 0 || pipe2(out, O_CLOEXEC) < 0) return;
        Pid = fork();
        if (Pid == 0) {
            dup2(in[0], STDIN_FILENO);
            dup2(out[1], STDOUT_FILENO);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(in[0]);
        close(out[1]);
        In = in[1];
        Out = out[0];
        if (Pid > 0) {
            if (Peers().empty()) nuq::SetIdleCheck(PeersAsleep);
            Peers().push_back(Pid);
        }
    }
    ~SimProcess() {
        if (Pid > 0) Terminate();
        if (In >= 0) close(In);
        if (Out >= 0) close(Out);
    }

    // The next status line that starts with Prefix; the ones before it are skipped.
    std::string WaitFor(const std::string& prefix) {
        for (;;) {
            std::string line = ReadUntil(Out, Buf, "\n");
            if (line.rfind(prefix, 0) == 0 || line == "<timeout>" || line == "<eof>") return line;
        }
    }
    // The next status line holding Text anywhere; the ones before it are skipped.
    std::string WaitForText(const std::string& text) {
        for (;;) {
            std::string line = ReadUntil(Out, Buf, "\n");
            if (line.find(text) != std::string::npos || line == "<timeout>" || line == "<eof>")
                return line;
        }
    }
    // Runs a control command and waits for it to be done.
    void Control(const std::string& command) {
        WriteAll(In, command + "\n");
        EXPECT_EQ(WaitFor("ok "), "ok " + command.substr(0, command.find(' ')));
    }
    int Port() {
        const std::string l = WaitFor("listening ");
        return l.rfind("listening ", 0) == 0 ? std::stoi(l.substr(10)) : 0;
    }
    // The exit status, -1 when it did not exit by itself.
    int Wait() {
        int status = 0;
        for (int i = 0; i < kWaitMs / 10; ++i) {
            if (waitpid(Pid, &status, WNOHANG) == Pid) {
                Gone();
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            usleep(10000);
        }
        kill(Pid, SIGKILL);
        waitpid(Pid, &status, 0);
        Gone();
        return -1;
    }
    int Terminate() {
        kill(Pid, SIGTERM);
        return Wait();
    }
    void CloseStdin() {
        close(In);
        In = -1;
    }

    pid_t Pid = -1;
    int In = -1, Out = -1;
    std::string Buf;

private:
    void Gone() {
        auto& peers = Peers();
        peers.erase(std::remove(peers.begin(), peers.end(), Pid), peers.end());
        if (peers.empty()) nuq::SetIdleCheck(nullptr);
        Pid = -1;
    }
};

// A TCP client on loopback, as a terminal's socket or a controller is.
struct TcpClient {
    int Fd = -1;
    std::string Buf;
    explicit TcpClient(int port) {
        Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(port));
        if (connect(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
            close(Fd);
            Fd = -1;
        }
    }
    ~TcpClient() {
        if (Fd >= 0) close(Fd);
    }
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;
    std::string Line(int* reads = nullptr) { return ReadUntil(Fd, Buf, "\r\n", reads); }
    void Send(const std::string& line) { WriteAll(Fd, line + "\r\n"); }
};

} // namespace simtest

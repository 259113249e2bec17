#pragma once
// The stand-in DDE server as a separate process for one test: a private
// socket folder (also set as NUQ_DDE_DIR for the client), commands on its
// stdin answered on its stdout, and the process killed and the folder removed
// however the test ends.

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

class SimDde {
public:
    // Starts the server on Items (the file's text) with extra Args; a failed
    // start is a test failure (check Started()).
    explicit SimDde(const std::string& items, std::vector<std::string> args = {}) {
        std::signal(SIGPIPE, SIG_IGN);
        char tmpl[] = "/tmp/nuq-dde-test-XXXXXX";
        Dir = mkdtemp(tmpl);
        ::setenv("NUQ_DDE_DIR", (Dir + "/s").c_str(), 1);
        std::ofstream(Dir + "/items.ini", std::ios::binary) << items;
        Args = std::move(args);
        Start();
    }

    ~SimDde() {
        Stop(SIGTERM);
        ::unsetenv("NUQ_DDE_DIR");
        std::error_code ec;
        std::filesystem::remove_all(Dir, ec);
    }

    SimDde(const SimDde&) = delete;
    SimDde& operator=(const SimDde&) = delete;

    static std::string Program() { return std::string(NUQ_BINARY_DIR) + "/sim/dde/nuq-sim-dde"; }

    bool Started() const { return Pid > 0; }

    // (Re)starts the server on the same folder and file.
    void Start() {
        Stop(SIGKILL);
        int in[2], out[2];
        if (pipe2(in, O_CLOEXEC) != 0) return;
        if (pipe2(out, O_CLOEXEC) != 0) {
            ::close(in[0]);
            ::close(in[1]);
            return;
        }
        std::vector<std::string> argv{Program(), "--dir", Dir + "/s"};
        argv.insert(argv.end(), Args.begin(), Args.end());
        argv.push_back(Dir + "/items.ini");
        std::vector<char*> cargv;
        for (auto& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);
        pid_t pid = fork();
        if (pid == 0) {
            prctl(PR_SET_PDEATHSIG, SIGKILL); // never outlive a crashed test
            dup2(in[0], 0);
            dup2(out[1], 1);
            execv(cargv[0], cargv.data());
            _exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        if (pid < 0) {
            ::close(in[1]);
            ::close(out[0]);
            return;
        }
        Pid = pid;
        In = in[1];
        Out = out[0];
        Buffered.clear();
        const std::string first = ReadLine();
        EXPECT_EQ(first, "ready") << "the DDE server did not start";
        if (first != "ready") Stop(SIGKILL);
    }

    // Sends a command and returns its answer line ("" when none came).
    std::string Command(const std::string& line) {
        if (!Started()) return {};
        std::string l = line + "\n";
        if (::write(In, l.data(), l.size()) != ssize_t(l.size())) return {};
        return ReadLine();
    }

    // Ends the server; returns its exit status, -1 when killed or absent.
    int Stop(int sig) {
        if (Pid <= 0) return -1;
        ::kill(Pid, sig);
        int status = 0;
        // A server that ignores SIGTERM would hang the test: force it.
        for (int i = 0; i < 500; ++i) {
            if (waitpid(Pid, &status, WNOHANG) == Pid) break;
            if (i == 499) {
                ::kill(Pid, SIGKILL);
                waitpid(Pid, &status, 0);
            }
            usleep(10000);
        }
        Pid = -1;
        ::close(In);
        ::close(Out);
        In = Out = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    std::string SocketPath(const std::string& service) const { return Dir + "/s/" + service; }

    std::string Dir;

private:
    std::string ReadLine() {
        for (;;) {
            size_t end = Buffered.find('\n');
            if (end != std::string::npos) {
                std::string line = Buffered.substr(0, end);
                Buffered.erase(0, end + 1);
                return line;
            }
            pollfd p{Out, POLLIN, 0};
            if (::poll(&p, 1, 10000) <= 0) return {};
            char buf[512];
            ssize_t n = ::read(Out, buf, sizeof buf);
            if (n <= 0) return {};
            Buffered.append(buf, size_t(n));
        }
    }

    std::vector<std::string> Args;
    pid_t Pid = -1;
    int In = -1, Out = -1;
    std::string Buffered;
};

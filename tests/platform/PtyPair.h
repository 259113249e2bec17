#pragma once
// A pseudo-terminal whose slave is linked as COMn in a private NUQ_PORT_DIR,
// standing in for a serial line with a peer at the master end.

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>
#include <string>

namespace nuqtest {

class TPtyPair {
public:
    explicit TPtyPair(int portNum = 7) : PortNum(portNum) {
        char name[256];
        if (openpty(&Master, &Slave, name, nullptr, nullptr) != 0)
            throw std::runtime_error("openpty failed");
        SlavePath = name;
        // A child started meanwhile must not keep the line up.
        fcntl(Master, F_SETFD, FD_CLOEXEC);
        fcntl(Slave, F_SETFD, FD_CLOEXEC);
        // Raw from the start, so nothing the peer sends is echoed or edited.
        struct termios tio;
        tcgetattr(Slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(Slave, TCSANOW, &tio);
        fcntl(Master, F_SETFL, fcntl(Master, F_GETFL) | O_NONBLOCK);
        char dir[] = "/tmp/nuq-ports-XXXXXX";
        if (!mkdtemp(dir)) throw std::runtime_error("mkdtemp failed");
        Dir = dir;
        Link = Dir + "/COM" + std::to_string(PortNum);
        if (symlink(SlavePath.c_str(), Link.c_str()) != 0)
            throw std::runtime_error("symlink failed");
        setenv("NUQ_PORT_DIR", Dir.c_str(), 1);
    }
    ~TPtyPair() {
        CloseMaster();
        if (Slave >= 0) close(Slave);
        unlink(Link.c_str());
        rmdir(Dir.c_str());
        unsetenv("NUQ_PORT_DIR");
    }

    void CloseMaster() {
        if (Master >= 0) close(Master);
        Master = -1;
    }

    // Writes all of S to the master end, giving up after TimeoutMs.
    bool Send(const std::string& s, int timeoutMs = 30000) {
        size_t done = 0;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (done < s.size()) {
            ssize_t n = write(Master, s.data() + done, s.size() - done);
            if (n > 0) {
                done += size_t(n);
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) return false;
            if (std::chrono::steady_clock::now() > end) return false;
            struct pollfd p = {Master, POLLOUT, 0};
            poll(&p, 1, 100);
        }
        return true;
    }

    // Reads from the master end until Count bytes came or TimeoutMs passed.
    std::string Receive(size_t count, int timeoutMs = 30000) {
        std::string s;
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        char buffer[65536];
        while (s.size() < count) {
            ssize_t n = read(Master, buffer, std::min(sizeof buffer, count - s.size()));
            if (n > 0) {
                s.append(buffer, size_t(n));
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR) break;
            if (std::chrono::steady_clock::now() > end) break;
            struct pollfd p = {Master, POLLIN, 0};
            poll(&p, 1, 100);
        }
        return s;
    }

    int PortNum;
    int Master = -1;
    int Slave = -1; // kept for looking at and stopping the line; never read
    std::string SlavePath;
    std::string Dir;
    std::string Link;
};

// Bytes 0..255 repeated, offset by Seed, so order and loss both show.
inline std::string Pattern(size_t size, unsigned seed = 0) {
    std::string s(size, '\0');
    for (size_t i = 0; i < size; ++i) s[i] = char((i * 7 + seed + i / 251) & 0xFF);
    return s;
}

} // namespace nuqtest

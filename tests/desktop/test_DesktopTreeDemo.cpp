// The tree demo in a real window: a virtual X server of our own, the demo
// shown on it, a screenshot of the screen taken by the X server's own dump
// tool, and the first rows checked where the layout puts their pieces.
// Skipped when no X server or dump tool can be had.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/OnPath.h"

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

// A screen dump in the X window dump format: 24-bit colour in 24- or 32-bit pixels.
struct TDump {
    int Width = 0, Height = 0;
    std::vector<uint32_t> Pixels; // 0xRRGGBB
    uint32_t At(int x, int y) const {
        if (x < 0 || y < 0 || x >= Width || y >= Height) return 0xFFFFFFFF;
        return Pixels[size_t(y) * size_t(Width) + size_t(x)];
    }
};

bool ReadDump(const std::string& data, TDump& dump) {
    auto card = [&](size_t i) {
        const auto* p = reinterpret_cast<const unsigned char*>(data.data()) + i * 4;
        return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
    };
    if (data.size() < 100) return false;
    uint32_t headerSize = card(0), format = card(2), width = card(4), height = card(5),
             byteOrder = card(7), bitsPerPixel = card(11), bytesPerLine = card(12), red = card(14),
             green = card(15), blue = card(16), colours = card(19);
    if (format != 2 || (bitsPerPixel != 32 && bitsPerPixel != 24) || red != 0xFF0000 ||
        green != 0xFF00 || blue != 0xFF)
        return false;
    size_t start = headerSize + size_t(colours) * 12;
    if (data.size() < start + size_t(bytesPerLine) * height) return false;
    dump.Width = int(width);
    dump.Height = int(height);
    dump.Pixels.resize(size_t(width) * height);
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x) {
            size_t bytes = bitsPerPixel / 8;
            const auto* p = reinterpret_cast<const unsigned char*>(data.data()) + start +
                            y * bytesPerLine + x * bytes;
            uint32_t v = 0;
            for (size_t i = 0; i < bytes; ++i)
                v |= uint32_t(p[i]) << (byteOrder == 0 ? 8 * i : 8 * (bytes - 1 - i));
            dump.Pixels[size_t(y) * width + x] = v & 0xFFFFFF;
        }
    return true;
}

bool Dark(uint32_t p) {
    return ((p >> 16 & 255) + (p >> 8 & 255) + (p & 255)) < 3 * 100;
}

struct TProcess {
    pid_t Pid = -1;
    int In = -1, Out = -1;
};

TProcess Spawn(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    int in[2], out[2];
    TProcess p;
    if (pipe(in) != 0) return p;
    if (pipe(out) != 0) return p;
    p.Pid = fork();
    if (p.Pid == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 2);
        close(in[1]);
        close(out[0]);
        for (const auto& e : env) putenv(const_cast<char*>(e.c_str()));
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    p.In = in[1];
    p.Out = out[0];
    return p;
}

// One line of a child's output; empty when none comes within the wait.
std::string ReadLine(int fd, int waitMs) {
    std::string line;
    char c;
    pollfd p{fd, POLLIN, 0};
    while (poll(&p, 1, waitMs) == 1 && read(fd, &c, 1) == 1 && c != '\n') line += c;
    return line;
}

// Waits for a child's end; its exit status, or -1 when it had to be killed.
int Reap(pid_t pid) {
    for (int i = 0; i < 200; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        usleep(50 * 1000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

struct TLayoutCheck {
    std::vector<std::string> Failures;
    void Expect(bool ok, const std::string& what) {
        if (!ok) Failures.push_back(what);
    }
};

// The first rows as the layout places them: rows 18 pixels high, indent 18,
// margin 4; the first group open with its button centred on the line at x 9.
TLayoutCheck CheckRows(const TDump& d, int x0, int y0) {
    TLayoutCheck c;
    uint32_t background = d.At(x0 + 200, y0 + 9 + 18 * 20);
    c.Expect(background == 0xFFFFFF, "window-coloured rows");
    auto count = [&](int l, int t, int r, int b, auto pred) {
        int n = 0;
        for (int y = t; y < b; ++y)
            for (int x = l; x < r; ++x)
                if (pred(d.At(x0 + x, y0 + y))) ++n;
        return n;
    };
    auto notBackground = [&](uint32_t p) { return p != background; };
    // Button of the open group: a frame from 5 to 13, a minus bar across its middle only.
    c.Expect(count(5, 5, 14, 6, notBackground) == 9, "button frame top");
    c.Expect(count(5, 13, 14, 14, notBackground) == 9, "button frame bottom");
    c.Expect(count(7, 9, 12, 10, Dark) == 5, "minus bar");
    c.Expect(count(9, 6, 10, 9, notBackground) == 0, "no plus bar");
    // Texts of the first rows: after the indent (one level and the root level for items).
    c.Expect(count(26, 2, 100, 16, Dark) > 20, "group text");
    c.Expect(count(44, 20, 120, 34, Dark) > 20, "item text");
    c.Expect(count(260 + 4, 2, 330, 16, Dark) > 20, "second column text");
    // Lines: the groups' line at x 9 goes on past the items; the items' own at x 27.
    for (int row = 1; row < 4; ++row) {
        int top = row * 18;
        c.Expect(count(9, top, 10, top + 18, notBackground) >= 8,
                 "group line in row " + std::to_string(row));
        c.Expect(count(27, top, 28, top + 9, notBackground) >= 4,
                 "item line in row " + std::to_string(row));
        c.Expect(count(28, top + 9, 36, top + 10, notBackground) >= 4,
                 "item join in row " + std::to_string(row));
        c.Expect(count(10, top, 26, top + 18, notBackground) ==
                     count(10, top + 9, 26, top + 10, notBackground),
                 "nothing else in the indent of row " + std::to_string(row));
    }
    c.Expect(count(0, 0, 5, 18 * 4, notBackground) == 0, "nothing left of the lines");
    return c;
}

} // namespace

TEST(DesktopTreeDemo, FirstRowsShowTextsLinesAndButtons) {
    if (!OnPath("Xvfb") || !OnPath("xwd")) GTEST_SKIP() << "Xvfb or xwd is missing";
    std::string demo = std::string(NUQ_BINARY_DIR) + "/app/treedemo/nuq-treedemo";
    if (access(demo.c_str(), X_OK) != 0) GTEST_SKIP() << "the demo is not built";

    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t server = fork();
    if (server == 0) {
        close(fds[0]);
        int devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, 2);
        std::string fd = std::to_string(fds[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
               "1024x768x24", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number = ReadLine(fds[0], 20000);
    close(fds[0]);
    if (number.empty()) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
        GTEST_SKIP() << "Xvfb did not start";
    }
    std::string display = "DISPLAY=:" + number;

    TProcess p = Spawn({demo}, {display, "QT_QPA_PLATFORM=xcb"});
    ASSERT_GT(p.Pid, 0);
    // Changes it logs come first; then the line that gives the rows' place.
    std::string ready;
    for (int i = 0; i < 50 && ready.rfind("ready", 0) != 0; ++i) ready = ReadLine(p.Out, 30000);
    int x0 = -1, y0 = -1;
    std::istringstream words(ready);
    std::string word, nodes, at;
    long count = 0;
    words >> word >> count >> nodes >> at >> x0 >> y0;
    EXPECT_EQ(word, "ready") << ready;
    EXPECT_EQ(count, 1000000) << ready;

    // The first paint may reach the server a little later: a few dumps until one shows it.
    TLayoutCheck check;
    check.Failures = {"no dump"};
    for (int attempt = 0; attempt < 20 && !check.Failures.empty() && x0 >= 0; ++attempt) {
        usleep(250 * 1000);
        std::string file = "/tmp/nuq-treedemo-" + std::to_string(getpid()) + ".xwd";
        TProcess dumpTool = Spawn({"xwd", "-root", "-silent", "-out", file}, {display});
        close(dumpTool.In);
        close(dumpTool.Out);
        if (Reap(dumpTool.Pid) != 0) continue;
        std::ifstream in(file, std::ios::binary);
        std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        unlink(file.c_str());
        TDump dump;
        if (!ReadDump(data, dump)) {
            check.Failures = {"unreadable dump of " + std::to_string(data.size()) + " bytes"};
            continue;
        }
        check = CheckRows(dump, x0, y0);
    }
    std::string failures;
    for (const auto& f : check.Failures) failures += f + "; ";
    EXPECT_TRUE(check.Failures.empty()) << failures;

    // Closed by its input: a clean exit.
    ASSERT_EQ(write(p.In, "quit\n", 5), 5);
    close(p.In);
    EXPECT_EQ(Reap(p.Pid), 0);
    close(p.Out);
    kill(server, SIGTERM);
    waitpid(server, nullptr, 0);
}

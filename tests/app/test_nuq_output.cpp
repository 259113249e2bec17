// The log's way out to a reader that may stop reading.

#include "app/nuq_output.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

using namespace nuq;
using namespace nuq::app;

namespace {

// What the reader end holds now.
std::string ReadAvailable(int fd) {
    std::string got;
    char buf[65536];
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;) got.append(buf, size_t(n));
    fcntl(fd, F_SETFL, flags);
    return got;
}

} // namespace

// A reader that stops: nothing waits on it, lines beyond the bound are
// dropped and said, where they were lost, once it reads again; lines of a
// run that goes on are neither lost nor doubled; the descriptor gets its
// blocking back; a reader that goes is told once.
TEST(LogOutput, StalledReaderLosesOnlyWhatTheBoundCannotHold) {
    std::signal(SIGPIPE, SIG_IGN);
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    const int capacity = fcntl(p[1], F_SETPIPE_SZ, 4096);
    ASSERT_GT(capacity, 0);
    std::vector<int> lost;
    {
        TLogOutput out(p[1], 100); // ten lines of ten bytes
        EXPECT_TRUE(fcntl(p[1], F_GETFL) & O_NONBLOCK);
        out.OnLost = [&](int error) { lost.push_back(error); };
        out.DroppedLine = [](uint64_t n) { return "dropped " + std::to_string(n) + "\n"; };
        const int lines = capacity / 10 + 10 + 7; // the pipe's, the queue's, 7 too many
        for (int i = 0; i < lines; ++i) {
            char line[16];
            std::snprintf(line, sizeof line, "line %04d\n", i);
            out.Add(line);
            out.Flush(); // never blocks
        }
        EXPECT_EQ(out.Queued(), 100u);
        std::string got = ReadAvailable(p[0]);
        out.Flush(); // as the loop does once the output is writable
        out.Add("after    \n");
        out.Flush();
        got += ReadAvailable(p[0]);
        std::string expected;
        for (int i = 0; i < lines - 7; ++i) {
            char line[16];
            std::snprintf(line, sizeof line, "line %04d\n", i);
            expected += line;
        }
        EXPECT_EQ(got, expected + "dropped 7\nafter    \n");
        EXPECT_TRUE(lost.empty());

        close(p[0]);
        out.Add("gone     \n");
        out.Flush();
        out.Add("gone too \n");
        out.Flush();
        EXPECT_EQ(lost, std::vector<int>{EPIPE});
    }
    EXPECT_FALSE(fcntl(p[1], F_GETFL) & O_NONBLOCK);
    close(p[1]);
}

// scripts/demo talks only to its own simulators, whatever else listens on
// the ports the example home names.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

TEST(Demo, NeverTalksToAForeignListener) {
    // A listener of another program on the example's controller port, and on
    // its modem port unless another program already listens there.
    std::vector<int> listeners;
    for (int port : {47031, 47032}) {
        const int l = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        const int on = 1; // a connection of an earlier run waiting out its close does not count
        setsockopt(l, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(uint16_t(port));
        if (bind(l, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(l, 8) != 0) {
            close(l);
            if (listeners.empty()) GTEST_SKIP() << "port " << port << " is taken";
            continue;
        }
        listeners.push_back(l);
    }
    const std::string cmd = "DEMO_SECONDS=4 NUQ_DEMO_BIN='" + std::string(NUQ_BINARY_DIR) + "' '" +
                            NUQ_SOURCE_DIR + "/scripts/demo' 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[4096];
    for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
    const int status = pclose(p);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
    for (int l : listeners) {
        EXPECT_LT(accept(l, nullptr, nullptr), 0) << "the demo connected to a foreign listener";
        close(l);
    }
    EXPECT_NE(out.find("Соединение с \"Котельная №3 (TCP)\" установлено"), std::string::npos)
        << out;
}

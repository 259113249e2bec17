// A copied selection reaches the desktop's clipboard: a virtual X server of
// our own, the tree copying on it, and xclip reading back what other
// programs would paste. Skipped when no X server can be had.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"
#include "platform/gui/Gdi.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/OnPath.h"

#include <cstdlib>
#include <filesystem>

using namespace nuq;

namespace {

// Starts a program with its output on a pipe; the pid, or -1.
pid_t Spawn(const std::vector<std::string>& args, int& out) {
    int fds[2];
    if (pipe(fds) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        close(fds[0]);
        std::vector<char*> argv;
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(fds[1]);
    out = fds[0];
    return pid;
}

class DesktopClipboard : public ::testing::Test {
protected:
    static pid_t Server;

    static void SetUpTestSuite() {
        if (!OnPath("Xvfb") || !OnPath("xclip")) return;
        // Xvfb picks a free display itself and writes its number to the pipe.
        int fds[2];
        if (pipe(fds) != 0) return;
        Server = fork();
        if (Server == 0) {
            close(fds[0]);
            int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 2);
            std::string fd = std::to_string(fds[1]);
            execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-nolisten", "tcp", "-screen", "0",
                   "320x240x24", static_cast<char*>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        pollfd p{fds[0], POLLIN, 0};
        char c;
        while (poll(&p, 1, 20000) == 1 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
        close(fds[0]);
        if (number.empty()) {
            StopServer();
            return;
        }
        setenv("DISPLAY", (":" + number).c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
        EnsureGuiToolkit();
    }

    static void TearDownTestSuite() { StopServer(); }

    static void StopServer() {
        if (Server > 0) {
            kill(Server, SIGTERM);
            waitpid(Server, nullptr, 0);
        }
        Server = 0;
    }

    void SetUp() override {
        if (Server <= 0) GTEST_SKIP() << "no X server: Xvfb or xclip is missing or did not start";
        if (QGuiApplication::platformName() != "xcb")
            GTEST_SKIP() << "Qt runs without its X platform here";
        SetMainThread();
    }

    // What xclip reads from the clipboard as Type; Qt serves it meanwhile.
    static std::string Paste(const std::string& type) {
        int out = -1;
        pid_t pid = Spawn({"xclip", "-selection", "clipboard", "-o", "-t", type}, out);
        if (pid < 0) return "<xclip did not start>";
        std::string text;
        for (;;) {
            QCoreApplication::processEvents();
            pollfd p{out, POLLIN, 0};
            if (poll(&p, 1, 10) == 1) {
                char buffer[4096];
                ssize_t n = read(out, buffer, sizeof buffer);
                if (n > 0) {
                    text.append(buffer, size_t(n));
                    continue;
                }
                break; // end of its output
            }
        }
        close(out);
        waitpid(pid, nullptr, 0);
        return text;
    }
};

pid_t DesktopClipboard::Server = 0;

TEST_F(DesktopClipboard, CopiedTextAndHtmlReachTheDesktop) {
    auto tree = NewComponent<TLazyStringTree>();
    tree->OnGetText = [](TBaseLazyTree&, PLazyNode n, TColumnIndex, int, std::u16string& s) {
        s = n->Index == 0 ? u"Котельная 1" : u"boiler <2>";
    };
    tree->TreeOptions().SetSelectionOptions(toMultiSelect);
    tree->SetRootNodeCount(3);
    tree->SetSelected(tree->GetFirst(), true);
    tree->SetSelected(tree->GetFirst()->NextSibling, true);
    tree->CopyToClipboard();

    EXPECT_EQ(Paste("text/plain"), "Котельная 1\r\nboiler <2>\r\n");
    std::string html = Paste("text/html");
    EXPECT_NE(html.find("<td>Котельная 1</td>"), std::string::npos) << html;
    EXPECT_NE(html.find("<td>boiler &lt;2&gt;</td>"), std::string::npos) << html;
    EXPECT_EQ(html.find("StartHTML:"), std::string::npos) << "the desktop gets the document alone";
    OleSetClipboard(nullptr);
}

} // namespace

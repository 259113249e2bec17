// The DDE conversation and its line protocol, against the stand-in server
// running as a separate process.

#include "platform/DdeClient.h"
#include "platform/EventLoop.h"
#include "platform/Timer.h"
#include "test_SimDdeFixture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <filesystem>
#include <thread>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

using namespace nuq;

namespace {

const char* kItems = "# plant\n"
                     "[Plant|Boiler1]\n"
                     "T1 = 12,5\n"
                     "Name=Котельная №1\n"
                     "Empty=\n"
                     "[Plant|Boiler2]\n"
                     "T1=7\n"
                     "[Other|Main]\n"
                     "X=1\n";

using Fields = std::vector<std::string>;

} // namespace

TEST(DdeLine, FieldsSurviveEscaping) {
    for (const Fields& f : {Fields{"OK"}, Fields{"OK", ""}, Fields{"POKE", "a b", "x\ty"},
                            Fields{"OK", "line1\r\nline2"}, Fields{"OK", "\\t is not a tab"},
                            Fields{"OK", "Котельная"}, Fields{"", "", ""}}) {
        const std::string line = DdeJoinLine(f);
        EXPECT_EQ(line.find('\n'), std::string::npos);
        Fields back;
        ASSERT_TRUE(DdeSplitLine(line, back)) << line;
        EXPECT_EQ(back, f) << line;
    }
}

TEST(DdeLine, MalformedLinesRejected) {
    Fields f;
    for (const char* bad : {"OK\\", "OK\\x", "OK\tvalue\\", "a\nb", "\\0"})
        EXPECT_FALSE(DdeSplitLine(bad, f)) << bad;
    ASSERT_TRUE(DdeSplitLine("", f));
    EXPECT_EQ(f, Fields{""});
}

TEST(DdeLine, SocketNames) {
    ::setenv("NUQ_DDE_DIR", "/tmp/x", 1);
    EXPECT_EQ(DdeSocketPath("Plant"), "/tmp/x/Plant");
    EXPECT_EQ(DdeSocketPath("Котельная"), "/tmp/x/Котельная");
    for (const std::string& bad : std::vector<std::string>{
             "", ".", "..", "a/b", std::string(120, 'a'), std::string("a\0b", 3)})
        EXPECT_EQ(DdeSocketPath(bad), "") << bad;
    ::unsetenv("NUQ_DDE_DIR");
    EXPECT_EQ(DdeServiceDir().rfind("/tmp/nuq-dde-", 0), 0u);
}

TEST(DdeConversation, RequestAndPoke) {
    SimDde sim(kItems);
    ASSERT_TRUE(sim.Started());
    TDdeClientConv c;
    EXPECT_THROW(c.RequestData("T1"), EDdeError); // not linked yet
    ASSERT_TRUE(c.SetLink("Plant", "Boiler1"));
    EXPECT_FALSE(c.Connected()); // connects only when asked
    ASSERT_TRUE(c.OpenLink());
    EXPECT_TRUE(c.Connected());

    EXPECT_EQ(c.RequestData("T1"), "12,5");
    EXPECT_EQ(c.RequestData("Name"), "Котельная №1");
    EXPECT_EQ(c.RequestData("Empty"), "");
    EXPECT_THROW(c.RequestData("Absent"), EDdeError);
    EXPECT_TRUE(c.Connected()); // a refused item keeps the link

    const std::string odd = "a\tb\r\nc\\d";
    EXPECT_TRUE(c.PokeData("Name", odd));
    EXPECT_EQ(c.RequestData("Name"), odd);
    EXPECT_FALSE(c.PokeData("Absent", "1"));

    // Another conversation sees the poked value; another topic its own items.
    TDdeClientConv d;
    ASSERT_TRUE(d.SetLink("Plant", "Boiler2"));
    ASSERT_TRUE(d.OpenLink());
    EXPECT_EQ(d.RequestData("T1"), "7");
    EXPECT_EQ(sim.Command("stats"), "stats links=2 requests=6 pokes=2");

    c.CloseLink();
    EXPECT_FALSE(c.Connected());
    EXPECT_THROW(c.RequestData("T1"), EDdeError);
    EXPECT_FALSE(c.PokeData("T1", "1"));
}

TEST(DdeConversation, LinkFailures) {
    SimDde sim(kItems);
    ASSERT_TRUE(sim.Started());
    struct Case {
        const char* service;
        const char* topic;
        bool set;
    };
    for (auto k : {Case{"Absent", "Boiler1", true}, Case{"Plant", "NoTopic", true},
                   Case{"Other", "Boiler1", true}, Case{"Plant", "", false},
                   Case{"", "Boiler1", false}, Case{"../Plant", "Boiler1", false}}) {
        TDdeClientConv c;
        EXPECT_EQ(c.SetLink(k.service, k.topic), k.set) << k.service << "|" << k.topic;
        EXPECT_FALSE(c.OpenLink()) << k.service << "|" << k.topic;
        EXPECT_FALSE(c.Connected());
    }

    // A refused topic links once the server accepts it again.
    EXPECT_EQ(sim.Command("refuse Boiler1"), "ok");
    TDdeClientConv c;
    ASSERT_TRUE(c.SetLink("Plant", "Boiler1"));
    EXPECT_FALSE(c.OpenLink());
    EXPECT_FALSE(c.OpenLink());
    EXPECT_EQ(sim.Command("accept Boiler1"), "ok");
    EXPECT_TRUE(c.OpenLink());
    EXPECT_EQ(c.RequestData("T1"), "12,5");
}

TEST(DdeConversation, StalledServerTimesOut) {
    SimDde sim(kItems);
    ASSERT_TRUE(sim.Started());
    TDdeClientConv c;
    c.Timeout = 200;
    ASSERT_TRUE(c.SetLink("Plant", "Boiler1"));
    ASSERT_TRUE(c.OpenLink());
    EXPECT_EQ(sim.Command("stall 60000"), "ok");
    EXPECT_THROW(c.RequestData("T1"), EDdeError);
    // Its late answer would be taken for the next request's: the link is closed.
    EXPECT_FALSE(c.Connected());
    EXPECT_EQ(sim.Command("stall 0"), "ok");
    ASSERT_TRUE(c.OpenLink());
    EXPECT_EQ(c.RequestData("T1"), "12,5");
}

TEST(DdeConversation, TimeoutFromEnvironment) {
    ::setenv("NUQ_DDE_TIMEOUT", "250", 1);
    TDdeClientConv a;
    ::setenv("NUQ_DDE_TIMEOUT", "junk", 1);
    TDdeClientConv b;
    ::unsetenv("NUQ_DDE_TIMEOUT");
    TDdeClientConv c;
    EXPECT_EQ(a.Timeout, 250u);
    EXPECT_EQ(b.Timeout, DefaultDdeTimeoutMs);
    EXPECT_EQ(c.Timeout, DefaultDdeTimeoutMs);
}

TEST(DdeConversation, LostServer) {
    SimDde sim(kItems);
    ASSERT_TRUE(sim.Started());
    TDdeClientConv c;
    ASSERT_TRUE(c.SetLink("Plant", "Boiler1"));
    ASSERT_TRUE(c.OpenLink());
    sim.Stop(SIGKILL);
    EXPECT_THROW(c.RequestData("T1"), EDdeError);
    EXPECT_FALSE(c.Connected());
    EXPECT_FALSE(c.PokeData("T1", "1"));
    EXPECT_FALSE(c.OpenLink());
    sim.Start();
    ASSERT_TRUE(sim.Started());
    EXPECT_TRUE(c.OpenLink());
    EXPECT_EQ(c.RequestData("T1"), "12,5");
}

// The wait keeps the loop running: a timer's request made inside another
// request's wait gets its own answer, and the outer one still gets its own.
TEST(DdeConversation, NestedCallsAnsweredInOrder) {
    SimDde sim(kItems);
    ASSERT_TRUE(sim.Started());
    SetMainThread();
    TDdeClientConv c;
    ASSERT_TRUE(c.SetLink("Plant", "Boiler1"));
    ASSERT_TRUE(c.OpenLink());
    EXPECT_EQ(sim.Command("stall 100"), "ok");
    std::string inner;
    int ticks = 0;
    TTimer t;
    t.SetInterval(10);
    t.SetOnTimer([&] {
        t.SetEnabled(false);
        ++ticks;
        inner = c.RequestData("Name");
    });
    EXPECT_EQ(c.RequestData("T1"), "12,5");
    EXPECT_EQ(ticks, 1);
    EXPECT_EQ(inner, "Котельная №1");
}

TEST(DdeServerProgram, EndsCleanlyOnSignals) {
    for (int sig : {SIGTERM, SIGINT}) {
        SimDde sim(kItems);
        ASSERT_TRUE(sim.Started());
        struct stat st;
        ASSERT_EQ(::stat(sim.SocketPath("Plant").c_str(), &st), 0);
        EXPECT_TRUE(S_ISSOCK(st.st_mode));
        EXPECT_EQ(sim.Stop(sig), 0) << sig;
        EXPECT_NE(::stat(sim.SocketPath("Plant").c_str(), &st), 0) << "socket left behind";
    }
}

TEST(DdeServerProgram, CommandsAndOptions) {
    SimDde sim(kItems, {"--failpokes", "T1", "2", "--refuse", "Boiler2"});
    ASSERT_TRUE(sim.Started());
    struct Case {
        const char* command;
        const char* answer;
    };
    for (auto k : {Case{"set New Topic Item some value", "ok"}, Case{"refuse Boiler1 2", "ok"},
                   Case{"refuse Boiler1 x", "error bad command: refuse Boiler1 x"},
                   Case{"failpokes T1 -1", "error bad command: failpokes T1 -1"},
                   Case{"stall", "error bad command: stall"},
                   Case{"frobnicate", "error bad command: frobnicate"},
                   Case{"stats extra", "error bad command: stats extra"},
                   Case{"stats", "stats links=0 requests=0 pokes=0"}})
        EXPECT_EQ(sim.Command(k.command), k.answer) << k.command;

    // "set" of a new service opens its socket.
    TDdeClientConv n;
    ASSERT_TRUE(n.SetLink("New", "Topic"));
    ASSERT_TRUE(n.OpenLink());
    EXPECT_EQ(n.RequestData("Item"), "some value");

    TDdeClientConv c;
    ASSERT_TRUE(c.SetLink("Plant", "Boiler1"));
    EXPECT_FALSE(c.OpenLink()); // refused twice, then accepted
    EXPECT_FALSE(c.OpenLink());
    ASSERT_TRUE(c.OpenLink());
    EXPECT_FALSE(c.PokeData("T1", "1")); // the option's two failures
    EXPECT_FALSE(c.PokeData("T1", "1"));
    EXPECT_TRUE(c.PokeData("T1", "1"));
    EXPECT_EQ(c.RequestData("T1"), "1");

    TDdeClientConv d;
    ASSERT_TRUE(d.SetLink("Plant", "Boiler2"));
    EXPECT_FALSE(d.OpenLink());
    EXPECT_EQ(sim.Command("quit"), "ok");
    EXPECT_EQ(sim.Stop(0), 0);
}

TEST(DdeServerProgram, BadItemFiles) {
    for (const char* bad : {"T1=1\n", "[Plant]\nT1=1\n", "[Plant|]\n",
                            "[Plant|Boiler1]\nno value\n", "[Plant|Boiler1]\n=1\n"}) {
        char tmpl[] = "/tmp/nuq-dde-bad-XXXXXX";
        std::string dir = mkdtemp(tmpl);
        std::ofstream(dir + "/items.ini") << bad;
        std::string cmd = "'";
        cmd.append(SimDde::Program()).append("' --dir ").append(dir).append("/s ");
        cmd.append(dir).append("/items.ini </dev/null >/dev/null 2>&1");
        int status = std::system(cmd.c_str());
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 2) << bad;
        std::filesystem::remove_all(dir);
    }
}

// A server that answers what was never asked breaks the protocol: the
// conversation is closed at once instead of keeping its answers (a flood of
// them would fill the memory) or taking them for later requests.
TEST(DdeConversation, UnaskedAnswersEndTheLink) {
    std::signal(SIGPIPE, SIG_IGN);
    char tmpl[] = "/tmp/nuq-dde-flood-XXXXXX";
    const std::string dir = mkdtemp(tmpl);
    ::setenv("NUQ_DDE_DIR", dir.c_str(), 1);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = dir + "/Flood";
    path.copy(addr.sun_path, path.size());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    std::atomic<size_t> sentBytes{0};
    std::thread server([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        char c;
        while (::recv(fd, &c, 1, 0) == 1 && c != '\n') {
        } // the LINK request
        const std::string answers = "OK\n" + [] {
            std::string s;
            for (int i = 0; i < 4096; ++i) s += "OK\tunasked\n";
            return s;
        }();
        ::send(fd, answers.data(), 3, MSG_NOSIGNAL);
        // Floods until the client hangs up, or 256 MB at most.
        while (sentBytes < (256u << 20)) {
            const ssize_t n = ::send(fd, answers.data() + 3, answers.size() - 3, MSG_NOSIGNAL);
            if (n <= 0) break;
            sentBytes += size_t(n);
        }
        ::close(fd);
    });
    {
        SetMainThread();
        TDdeClientConv c;
        ASSERT_TRUE(c.SetLink("Flood", "T"));
        EXPECT_TRUE(c.OpenLink());
        EXPECT_TRUE(ProcessMessagesUntil([&] { return !c.Connected(); }, 10000));
        EXPECT_THROW(c.RequestData("T1"), EDdeError);
        EXPECT_LT(sentBytes.load(), size_t(256u << 20));
    }
    server.join();
    ::close(listener);
    ::unsetenv("NUQ_DDE_DIR");
    std::filesystem::remove_all(dir);
}

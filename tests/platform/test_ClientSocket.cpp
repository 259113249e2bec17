#include "platform/ClientSocket.h"

#include "common/FullListener.h"
#include "platform/DateUtils.h"
#include "platform/EventLoop.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <string>
#include <thread>

using namespace nuq;

namespace {

// A listening socket on 127.0.0.1 with an ephemeral port, playing the controller.
struct Listener {
    int Fd = -1;
    int Port = 0;
    Listener() {
        Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (bind(Fd, reinterpret_cast<sockaddr*>(&a), len) == 0 && listen(Fd, 8) == 0 &&
            getsockname(Fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            Port = ntohs(a.sin_port);
    }
    ~Listener() { Stop(); }
    void Stop() {
        if (Fd >= 0) close(Fd);
        Fd = -1;
    }
    // The next connection, blocking; -1 when none comes.
    int Accept() const {
        pollfd p{Fd, POLLIN, 0};
        if (poll(&p, 1, 10000) != 1) return -1;
        return accept4(Fd, nullptr, nullptr, SOCK_CLOEXEC);
    }
};

// A port nobody listens on: taken from a listener that is then closed.
int ClosedPort() {
    Listener l;
    return l.Port;
}

void WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) return;
        done += size_t(n);
    }
}

std::string ReadExactly(int fd, size_t count) {
    std::string got;
    char buf[65536];
    while (got.size() < count) {
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, 10000) != 1) break;
        ssize_t n = recv(fd, buf, std::min(sizeof buf, count - got.size()), 0);
        if (n <= 0) break;
        got.append(buf, size_t(n));
    }
    return got;
}

// Closes with a reset instead of an orderly shutdown.
void Reset(int fd) {
    linger l{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    close(fd);
}

// What a socket reported, in order: C connect, D disconnect, E<code>.
struct Events {
    std::string Trail;
    std::string Received;
    void Attach(TClientSocket& s) {
        s.OnConnect = [this] { Trail += "C"; };
        s.OnDisconnect = [this] { Trail += "D"; };
        s.OnRead = [this](const std::string& bytes) { Received += bytes; };
        s.OnError = [this](int& code) {
            Trail += "E" + std::to_string(code);
            code = 0;
        };
    }
};

bool Pump(const std::function<bool()>& done) {
    return ProcessMessagesUntil(done, 10000);
}

// Runs the loop until everything queued before now has run, and a few passes more.
void Settle() {
    bool ran = false;
    PostCall([&] { ran = true; });
    Pump([&] { return ran; });
    for (int i = 0; i < 3; ++i) ProcessMessages();
}

class ClientSocketTest : public ::testing::Test {
protected:
    void SetUp() override {
        SetMainThread();
        UseRealClock();
        ASSERT_GT(server.Port, 0);
    }
    void TearDown() override {
        Settle();
        for (int fd : accepted) close(fd);
    }
    // Opens S on the listener and accepts its connection on the server side.
    int Connect(TClientSocket& s, Events& e, const std::string& host = "127.0.0.1") {
        e.Attach(s);
        s.Host = host;
        s.Port = server.Port;
        s.Open();
        int fd = server.Accept();
        EXPECT_GE(fd, 0);
        if (fd >= 0) accepted.push_back(fd);
        EXPECT_TRUE(Pump([&] { return !e.Trail.empty(); }));
        EXPECT_EQ(e.Trail, "C");
        return fd;
    }
    Listener server;
    std::vector<int> accepted;
};

} // namespace

// --- connecting -------------------------------------------------------------------

TEST_F(ClientSocketTest, ConnectsByNumberAndByLoopbackName) {
    for (const char* host : {"127.0.0.1", "localhost"}) {
        TClientSocket s;
        Events e;
        s.Host = host;
        s.Port = server.Port;
        e.Attach(s);
        s.Open();
        EXPECT_TRUE(s.Active()) << host;
        EXPECT_FALSE(s.Connected()) << host;
        const int fd = server.Accept();
        ASSERT_GE(fd, 0) << host;
        accepted.push_back(fd);
        EXPECT_TRUE(Pump([&] { return !e.Trail.empty(); })) << host;
        EXPECT_EQ(e.Trail, "C") << host;
        EXPECT_TRUE(s.Connected()) << host;
    }
}

TEST_F(ClientSocketTest, FailuresBeforeConnectingReportTheRuntimeNumbers) {
    struct Case {
        std::string host;
        int port;
        int code;
    };
    const int closed = ClosedPort();
    for (const auto& c : {Case{"127.0.0.1", closed, 10061}, Case{"localhost", closed, 10061},
                          Case{"", server.Port, 11001}, Case{"127.0.0.1", 0, 10049},
                          Case{"127.0.0.1", 70000, 10049}}) {
        TClientSocket s;
        Events e;
        e.Attach(s);
        s.Host = c.host;
        s.Port = c.port;
        s.Open();
        EXPECT_EQ(e.Trail, "") << c.host << ":" << c.port << " reported inside Open";
        EXPECT_TRUE(Pump([&] { return !e.Trail.empty(); }));
        Settle();
        EXPECT_EQ(e.Trail, "E" + std::to_string(c.code)) << c.host << ":" << c.port;
        EXPECT_FALSE(s.Active());
    }
}

TEST_F(ClientSocketTest, OpenWhileActiveDoesNothing) {
    TClientSocket s;
    Events e;
    Connect(s, e);
    s.Open();
    Settle();
    EXPECT_EQ(e.Trail, "C");
    EXPECT_TRUE(s.Connected());
}

// Peers in other processes answer within the loop's idle grace, before the
// virtual clock jumps.
TEST_F(ClientSocketTest, WorksOnTheVirtualClock) {
    UseVirtualClock(EncodeDateTime(2024, 3, 1, 12));
    SetIdleGrace(-1);
    TClientSocket s;
    Events e;
    const int fd = Connect(s, e);
    WriteAll(fd, "<01>\r\n");
    EXPECT_TRUE(Pump([&] { return e.Received.size() >= 6; }));
    EXPECT_EQ(e.Received, "<01>\r\n");
    s.Port = ClosedPort();
    s.Close();
    s.Open();
    EXPECT_TRUE(Pump([&] { return e.Trail.size() > 1; }));
    EXPECT_EQ(e.Trail, "CE10061");
    UseRealClock();
}

// A host that never answers the connect (here a listener whose queue is full,
// so its kernel drops the handshake) is given up after the socket's own limit,
// not the kernel's two minutes.
TEST_F(ClientSocketTest, SilentHostTimesOut) {
    UseVirtualClock(EncodeDateTime(2024, 3, 1, 12), 1000);
    SetIdleGrace(20);
    TFullListener full;
    ASSERT_GT(full.Port, 0);
    TClientSocket first, s;
    Events firstEvents, e;
    for (TClientSocket* sock : {&first, &s}) {
        sock->Host = "127.0.0.1";
        sock->Port = full.Port;
    }
    firstEvents.Attach(first);
    first.Open(); // takes the one place in the queue
    ASSERT_TRUE(Pump([&] { return !firstEvents.Trail.empty(); }));
    e.Attach(s);
    const uint32_t t0 = GetTickCount();
    s.Open();
    EXPECT_TRUE(ProcessMessagesUntil([&] { return !e.Trail.empty(); }, 60000));
    EXPECT_EQ(e.Trail, "E10060");
    EXPECT_EQ(GetTickCount() - t0, 20000u);
    EXPECT_FALSE(s.Active());
    SetIdleGrace(-1);
    UseRealClock();
}

// --- data -------------------------------------------------------------------------

TEST_F(ClientSocketTest, ExchangesTextBothWays) {
    TClientSocket s;
    Events e;
    const int fd = Connect(s, e);
    s.SendText("<PING>\r\n");
    EXPECT_EQ(ReadExactly(fd, 8), "<PING>\r\n");
    WriteAll(fd, std::string("<12\x00\xFF>\r\n", 9));
    EXPECT_TRUE(Pump([&] { return e.Received.size() >= 9; }));
    EXPECT_EQ(e.Received, std::string("<12\x00\xFF>\r\n", 9));
}

TEST_F(ClientSocketTest, MebibyteBothWaysArrivesWhole) {
    TClientSocket s;
    Events e;
    const int fd = Connect(s, e);
    std::string big(1 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i) big[i] = char((i * 7 + i / 251) & 0xFF);
    // The controller echoes everything back once it has all of it.
    std::string atServer;
    std::thread echo([&] {
        atServer = ReadExactly(fd, big.size());
        WriteAll(fd, atServer);
    });
    s.SendText(big.substr(0, 1000));
    s.SendText(big.substr(1000)); // queued behind the first part
    const bool done = Pump([&] { return e.Received.size() >= big.size(); });
    echo.join();
    EXPECT_TRUE(done);
    EXPECT_TRUE(atServer == big) << "server got " << atServer.size() << " bytes";
    EXPECT_TRUE(e.Received == big) << "client got " << e.Received.size() << " bytes";
    EXPECT_EQ(s.PendingBytes(), 0u);
    EXPECT_EQ(e.Trail, "C");
}

TEST_F(ClientSocketTest, SendWithoutConnectionRaises) {
    TClientSocket s;
    EXPECT_THROW(s.SendText("x"), ESocketError);
    s.Host = "127.0.0.1";
    s.Port = server.Port;
    s.Open(); // connecting, not yet connected
    EXPECT_THROW(s.SendText("x"), ESocketError);
}

// --- the end of a connection ------------------------------------------------------

TEST_F(ClientSocketTest, PeerCloseDeliversDataThenOneDisconnect) {
    TClientSocket s;
    Events e;
    const int fd = Connect(s, e);
    WriteAll(fd, "<LAST>\r\n");
    shutdown(fd, SHUT_RDWR);
    EXPECT_TRUE(Pump([&] { return e.Trail.size() > 1; }));
    Settle();
    EXPECT_EQ(e.Received, "<LAST>\r\n");
    EXPECT_EQ(e.Trail, "CD");
    EXPECT_FALSE(s.Active());
    EXPECT_FALSE(s.Connected());
}

TEST_F(ClientSocketTest, ResetIsAnErrorNotADisconnect) {
    TClientSocket s;
    Events e;
    const int fd = Connect(s, e);
    accepted.pop_back();
    Reset(fd);
    EXPECT_TRUE(Pump([&] { return e.Trail.size() > 1; }));
    Settle();
    EXPECT_EQ(e.Trail, "CE10054");
    EXPECT_FALSE(s.Active());
}

TEST_F(ClientSocketTest, SendOnResetConnectionReportsFromTheLoop) {
    TClientSocket s;
    Events e;
    const int fd = Connect(s, e);
    accepted.pop_back();
    Reset(fd);
    // Whether the reset has reached the client yet or not, the send must not
    // report anything itself.
    s.SendText("<CMD>\r\n");
    s.SendText("<CMD2>\r\n");
    EXPECT_EQ(e.Trail, "C");
    EXPECT_TRUE(Pump([&] { return e.Trail.size() > 1; }));
    Settle();
    EXPECT_EQ(e.Trail, "CE10054");
}

TEST_F(ClientSocketTest, CloseIsSilentAndDropsWhatWasPending) {
    TClientSocket s;
    Events e;
    const int fd = Connect(s, e);
    WriteAll(fd, "<UNREAD>\r\n");
    s.Close();
    EXPECT_FALSE(s.Active());
    Settle();
    EXPECT_EQ(e.Trail, "C");
    EXPECT_EQ(e.Received, "");
    // A refused attempt closed before its error was delivered stays silent too.
    s.Port = ClosedPort();
    s.Open();
    s.Close();
    Settle();
    EXPECT_EQ(e.Trail, "C");
}

// --- handlers that close, free or reopen the socket -------------------------------

TEST_F(ClientSocketTest, CloseOrFreeInsideEachHandler) {
    enum Where { InConnect, InRead, InDisconnect, InError };
    struct Case {
        Where where;
        bool free;
        std::string trail; // events seen, the acting one included
    };
    for (const auto& c :
         {Case{InConnect, false, "C"}, Case{InConnect, true, "C"}, Case{InRead, false, "CR"},
          Case{InRead, true, "CR"}, Case{InDisconnect, false, "CRD"},
          Case{InDisconnect, true, "CRD"}, Case{InError, false, "E"}, Case{InError, true, "E"}}) {
        auto s = std::make_unique<TClientSocket>();
        std::string trail;
        auto act = [&] {
            if (c.free)
                s.reset();
            else
                s->Close();
        };
        s->OnConnect = [&] {
            trail += "C";
            if (c.where == InConnect) act();
        };
        s->OnRead = [&](const std::string&) {
            trail += "R";
            if (c.where == InRead) act();
        };
        s->OnDisconnect = [&] {
            trail += "D";
            if (c.where == InDisconnect) act();
        };
        s->OnError = [&](int& code) {
            trail += "E";
            code = 0;
            if (c.where == InError) act();
        };
        s->Host = "127.0.0.1";
        s->Port = c.where == InError ? ClosedPort() : server.Port;
        s->Open();
        if (c.where != InError) {
            const int fd = server.Accept();
            ASSERT_GE(fd, 0);
            // Data and the close arrive together, so one pass sees both.
            WriteAll(fd, "<DATA>\r\n");
            close(fd);
        }
        EXPECT_TRUE(Pump([&] { return trail.size() >= c.trail.size(); }));
        Settle();
        EXPECT_EQ(trail, c.trail) << "case " << c.where << (c.free ? " free" : " close");
        if (s) {
            EXPECT_FALSE(s->Active());
        }
    }
}

TEST_F(ClientSocketTest, ReopensAfterCloseAndFromInsideItsErrorHandler) {
    TClientSocket s;
    Events e;
    Connect(s, e);
    s.Close();
    s.Open();
    const int fd = server.Accept();
    ASSERT_GE(fd, 0);
    accepted.push_back(fd);
    EXPECT_TRUE(Pump([&] { return e.Trail == "CC"; }));
    s.SendText("again\r\n");
    EXPECT_EQ(ReadExactly(fd, 7), "again\r\n");
    s.Close();

    // A refused attempt whose handler turns to a live port and opens again.
    s.Port = ClosedPort();
    s.OnError = [&](int& code) {
        e.Trail += "E" + std::to_string(code);
        code = 0;
        s.Port = server.Port;
        s.Open();
    };
    s.Open();
    EXPECT_TRUE(Pump([&] { return e.Trail.size() >= 9; }));
    Settle();
    EXPECT_EQ(e.Trail, "CCE10061C");
    EXPECT_TRUE(s.Connected());
    const int fd2 = server.Accept();
    ASSERT_GE(fd2, 0);
    accepted.push_back(fd2);
}

TEST_F(ClientSocketTest, UnhandledErrorStaysInsideTheSocket) {
    TClientSocket s; // no handlers at all
    s.Host = "127.0.0.1";
    s.Port = ClosedPort();
    s.Open();
    EXPECT_NO_THROW(Pump([&] { return !s.Active(); }));
    EXPECT_FALSE(s.Active());

    int seen = 0;
    s.OnError = [&](int& code) { seen = code; }; // left non-zero
    s.Open();
    EXPECT_NO_THROW(Pump([&] { return !s.Active(); }));
    EXPECT_EQ(seen, 10061);
}

// --- error numbers ----------------------------------------------------------------

TEST(SocketErrorNumbers, FromErrnoAndResolver) {
    struct Case {
        int err;
        int code;
    };
    for (auto c : {Case{ECONNREFUSED, 10061}, Case{ETIMEDOUT, 10060}, Case{ECONNRESET, 10054},
                   Case{EPIPE, 10054}, Case{ENETUNREACH, 10051}, Case{EHOSTUNREACH, 10065},
                   Case{ECONNABORTED, 10053}, Case{EADDRNOTAVAIL, 10049}, Case{EADDRINUSE, 10048},
                   Case{EACCES, 10013}, Case{ENOTCONN, 10057}})
        EXPECT_EQ(SocketErrorFromErrno(c.err), c.code) << c.err;
    EXPECT_NE(SocketErrorFromErrno(EIO), 0);
    EXPECT_EQ(SocketErrorFromResolver(EAI_NONAME, 0), 11001);
    EXPECT_EQ(SocketErrorFromResolver(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(SocketErrorFromResolver(EAI_SYSTEM, ECONNREFUSED), 10061);
}

// Every number the socket reports has a text a log line can carry beside it.
TEST(SocketErrorNumbers, Texts) {
    struct Case {
        int code;
        const char* text;
    };
    // In the log's language.
    for (auto c :
         {Case{10049, "Невозможно назначить запрошенный адрес"},
          Case{10054, "Соединение сброшено другой стороной"},
          Case{10060, "Время ожидания соединения истекло"}, Case{10061, "В соединении отказано"},
          Case{10065, "Нет маршрута до узла"}, Case{11001, "Узел не найден"},
          Case{EIO, "ошибка ввода-вывода"}, Case{99999, "Неизвестная ошибка"}})
        EXPECT_EQ(SocketErrorText(c.code), c.text) << c.code;
    for (int err : {EINTR, EACCES, EADDRINUSE, ENETDOWN, ENOBUFS, EHOSTDOWN, EIO})
        EXPECT_NE(SocketErrorText(SocketErrorFromErrno(err)), "Неизвестная ошибка") << err;
    for (int eai : {EAI_NONAME, EAI_AGAIN, EAI_FAIL, EAI_NODATA, EAI_MEMORY})
        EXPECT_NE(SocketErrorText(SocketErrorFromResolver(eai, 0)), "Неизвестная ошибка") << eai;
}

// The TCP link against a peer of the test's own making that misbehaves the
// way real ones do: connections reset in the middle of a line, floods without
// a line end, packets arriving while the owner is still busy with the last.

#include "acquisition/uNuqClasses.h"
#include "platform/Cp1251.h"
#include "platform/EventLoop.h"
#include "platform/Host.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace nuq;
namespace fs = std::filesystem;

namespace {

// A loopback listener speaking the controller's wire format by hand.
class Peer {
public:
    Peer() {
        Listener = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(Listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
        listen(Listener, 4);
        socklen_t len = sizeof a;
        getsockname(Listener, reinterpret_cast<sockaddr*>(&a), &len);
        Port = ntohs(a.sin_port);
    }
    ~Peer() {
        Close();
        close(Listener);
    }
    // Pumps the loop until the object has connected.
    bool Accept() {
        Close();
        ProcessMessagesUntil(
            [&] {
                Conn = accept(Listener, nullptr, nullptr);
                return Conn >= 0;
            },
            10000);
        return Conn >= 0;
    }
    void Send(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                send(Conn, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0)
                done += size_t(n);
            else
                ProcessMessagesUntil([] { return false; }, 1); // let the object read
        }
    }
    // Ends the connection with a reset, as a peer that crashes does.
    void Reset() {
        linger l{1, 0};
        setsockopt(Conn, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        Close();
    }
    void Close() {
        if (Conn >= 0) close(Conn);
        Conn = -1;
    }

    int Port = 0;

private:
    int Listener = -1;
    int Conn = -1;
};

class LinkFaults : public ::testing::Test {
protected:
    fs::path home = fs::temp_directory_path() / ("nuq-framing-" + std::to_string(getpid()));
    std::unique_ptr<TBoilerRoom> room = std::make_unique<TBoilerRoom>();
    std::vector<std::string> data;
    std::vector<std::string> messages;
    Peer peer;

    void SetUp() override {
        SetMainThread();
        fs::create_directories(home);
        SetHostFolder(home.string());
        std::ofstream(home / "setting.ini") << "[FlowSettings]\nReconnectQuick=1\n";
        room->Name = "ТК";
        room->OnData = [this](TBoilerRoom&, const std::string& line) { data.push_back(line); };
        room->OnStatusChange = [this](TBoilerRoom&, const std::string& m, int) {
            if (m.find("отброшен") != std::string::npos) messages.push_back(m);
        };
        room->SetTCPConnection("127.0.0.1", peer.Port);
    }
    void TearDown() override {
        room.reset();
        SetHostFolder("");
        SetIdleGrace(-1);
        UseRealClock();
        fs::remove_all(home);
    }
    bool WaitForData(size_t count) {
        return ProcessMessagesUntil([&] { return data.size() >= count; }, 10000);
    }
};

} // namespace

// The bytes of a line cut short by a reset belong to no packet: the first
// packet of the next connection arrives whole, with its own values, and the
// bytes dropped are said.
TEST_F(LinkFaults, HalfLineBeforeAResetIsDropped) {
    UseVirtualClock(EncodeDateTime(2026, 1, 10, 8), 1000);
    SetIdleGrace(20);
    room->Start(10, 0);
    ASSERT_TRUE(peer.Accept());
    peer.Send("<41 02 01F4>\r\n<4102");
    ASSERT_TRUE(WaitForData(1));
    ASSERT_TRUE(ProcessMessagesUntil([&] { return room->RxBuffer.Count() == 5; }, 10000));
    peer.Reset();
    ASSERT_TRUE(ProcessMessagesUntil([&] { return !room->Connected; }, 10000));
    ASSERT_TRUE(peer.Accept()); // the quick reconnect
    ASSERT_TRUE(ProcessMessagesUntil([&] { return room->Connected; }, 10000));
    peer.Send("<42 00 0000>\r\n");
    ASSERT_TRUE(WaitForData(2));
    EXPECT_EQ(data, (std::vector<std::string>{"41 02 01F4", "42 00 0000"}));
    EXPECT_EQ(messages, std::vector<std::string>{
                            "Строка от \"ТК\" оборвана разрывом связи, отброшено байт: 5"});
}

// Bytes without a line end cost at most the cap, the line dropped is said
// once with its size, and the link carries proper lines again as soon as
// they come.
TEST_F(LinkFaults, FloodWithoutLineEndIsBounded) {
    struct Case {
        const char* name;
        std::string flood;
        size_t chunk;
    };
    const std::string big(3 * TBoilerRoom::MaxLineBytes, 'A');
    for (const auto& c :
         {Case{"in pieces", big, 4096}, Case{"at once", big, big.size()},
          Case{"with CR at the cap", std::string(TBoilerRoom::MaxLineBytes, 'B') + "\r", 4096}}) {
        data.clear();
        messages.clear();
        room->Stop();
        room->Start(10, 0);
        ASSERT_TRUE(peer.Accept()) << c.name;
        int largest = 0;
        const auto framing = room->RxBuffer.OnChange;
        room->RxBuffer.OnChange = [&](tBuffer& b) {
            framing(b);
            largest = std::max(largest, b.Count());
        };
        for (size_t at = 0; at < c.flood.size(); at += c.chunk)
            peer.Send(c.flood.substr(at, c.chunk));
        peer.Send("\r\n<43>\r\n");
        ASSERT_TRUE(WaitForData(1)) << c.name;
        room->RxBuffer.OnChange = framing;
        EXPECT_EQ(data, std::vector<std::string>{"43"}) << c.name;
        // The line up to the cap, and a CR that may begin its line end.
        EXPECT_LE(largest, TBoilerRoom::MaxLineBytes + 1) << c.name;
        EXPECT_EQ(room->RxBuffer.Count(), 0) << c.name;
        EXPECT_EQ(messages,
                  std::vector<std::string>{
                      "Строка от \"ТК\" длиннее " + std::to_string(TBoilerRoom::MaxLineBytes) +
                      " байт отброшена, отброшено байт: " + std::to_string(c.flood.size())})
            << c.name;
    }
}

// A line of exactly the cap still arrives.
TEST_F(LinkFaults, LineAtTheCapIsKept) {
    room->Start(10, 0);
    ASSERT_TRUE(peer.Accept());
    const std::string line(TBoilerRoom::MaxLineBytes, '7');
    peer.Send(line + "\r\n");
    ASSERT_TRUE(WaitForData(1));
    EXPECT_EQ(data[0], line);
}

// The cap counts a line without its CR LF, however the reads cut it; a reset
// while a long line is being dropped counts every byte of it.
TEST_F(LinkFaults, CapCountsTheLineWhereverTheReadsFall) {
    UseVirtualClock(EncodeDateTime(2026, 1, 10, 8), 1000);
    SetIdleGrace(20);
    const int cap = TBoilerRoom::MaxLineBytes;
    const std::string atCap(cap, '7'), overCap(cap + 1, '8');
    const auto tooLong = [&](int bytes) {
        return "Строка от \"ТК\" длиннее " + std::to_string(cap) +
               " байт отброшена, отброшено байт: " + std::to_string(bytes);
    };
    struct Case {
        const char* name;
        std::vector<std::string> reads;
        bool reset; // the link goes down after the reads
        std::vector<std::string> data;
        std::vector<std::string> said;
    };
    const Case cases[] = {
        {"at once", {atCap + "\r\n"}, false, {atCap}, {}},
        {"CR ends a read, LF starts the next",
         {atCap + "\r", "\n<1>\r\n"},
         false,
         {atCap, "1"},
         {}},
        {"CR a read of its own", {atCap, "\r", "\n"}, false, {atCap}, {}},
        {"a CR inside the line counts",
         {atCap + "\r", "\r\n<1>\r\n"},
         false,
         {"1"},
         {tooLong(cap + 1)}},
        {"one over, at once", {overCap + "\r\n<1>\r\n"}, false, {"1"}, {tooLong(cap + 1)}},
        {"one over, CR ends a read",
         {overCap + "\r", "\n<1>\r\n"},
         false,
         {"1"},
         {tooLong(cap + 1)}},
        {"reset while dropping", {overCap + "\r"}, true, {}, {tooLong(cap + 2)}},
        {"reset after a line at the cap and its CR",
         {atCap + "\r"},
         true,
         {},
         {"Строка от \"ТК\" оборвана разрывом связи, отброшено байт: " + std::to_string(cap + 1)}},
    };
    for (const Case& c : cases) {
        room->Stop();
        room->Start(10, 0);
        ASSERT_TRUE(peer.Accept()) << c.name;
        ASSERT_TRUE(ProcessMessagesUntil([&] { return room->Connected; }, 10000)) << c.name;
        data.clear();
        messages.clear();
        for (const std::string& read : c.reads) room->RxBuffer.AddString(read);
        if (c.reset) {
            peer.Reset();
            ASSERT_TRUE(ProcessMessagesUntil([&] { return !room->Connected; }, 10000)) << c.name;
            ASSERT_TRUE(peer.Accept()) << c.name;
            ASSERT_TRUE(ProcessMessagesUntil([&] { return room->Connected; }, 10000)) << c.name;
        }
        EXPECT_EQ(data, c.data) << c.name;
        EXPECT_EQ(messages, c.said) << c.name;
        EXPECT_EQ(room->RxBuffer.Count(), 0) << c.name;
    }
}

// The owner's handler may run the loop (a decode does); lines that arrive
// meanwhile wait for it to return, and come in order.
TEST_F(LinkFaults, LinesArrivingDuringAHandlerWaitTheirTurn) {
    int depth = 0, deepest = 0;
    room->OnData = [&](TBoilerRoom&, const std::string& line) {
        ++depth;
        deepest = std::max(deepest, depth);
        data.push_back(line);
        if (line == "1") {
            peer.Send("<2>\r\n<3>\r\n");
            ProcessMessagesUntil([&] { return room->RxBuffer.Count() >= 10; }, 2000);
            data.push_back("1 done");
        }
        --depth;
    };
    room->Start(10, 0);
    ASSERT_TRUE(peer.Accept());
    peer.Send("<1>\r\n");
    ASSERT_TRUE(WaitForData(4));
    EXPECT_EQ(deepest, 1);
    EXPECT_EQ(data, (std::vector<std::string>{"1", "1 done", "2", "3"}));
}

// A handler that fails on one line loses none of the lines after it.
TEST_F(LinkFaults, HandlerFailureLosesNoOtherLine) {
    room->OnData = [&](TBoilerRoom&, const std::string& line) {
        data.push_back(line);
        if (line == "1") throw Exception("bad packet");
    };
    room->Start(10, 0);
    ASSERT_TRUE(peer.Accept());
    peer.Send("<1>\r\n<2>\r\n<3>\r\n");
    ASSERT_TRUE(WaitForData(3));
    EXPECT_EQ(data, (std::vector<std::string>{"1", "2", "3"}));
}

// The trace shows a long line by whole characters, and the peer's control
// characters escaped.
TEST_F(LinkFaults, TrafficTraceKeepsCharactersWhole) {
    std::ofstream(home / "setting.ini")
        << "[FlowSettings]\nReconnectQuick=1\n[ShellSettings]\nLogDirectory=" << home.string()
        << "\n";
    SetHostParameters({"/TRACE"});
    room->Start(10, 0);
    ASSERT_TRUE(peer.Accept());
    peer.Send("<" + Utf8ToCp1251("Котельная") + "\x1b>\r\n<ab\ncd>\r\n");
    ASSERT_TRUE(WaitForData(2));
    SetHostParameters({});
    std::string traced;
    for (const auto& e : fs::directory_iterator(home))
        if (e.path().filename().string().rfind("trace_", 0) == 0) {
            std::ifstream in(e.path());
            traced.assign(std::istreambuf_iterator<char>(in), {});
        }
    EXPECT_NE(traced.find(":  <<<Котел...\\x1B\n"), std::string::npos) << traced;
    EXPECT_NE(traced.find(":  <<<ab\\ncd\n"), std::string::npos) << traced;
}

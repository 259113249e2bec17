// The TCP link of a boiler room: against a refusing port on the virtual clock,
// and end to end against the controller simulator.

#include "acquisition/uNuqClasses.h"
#include "common/FullListener.h"
#include "common/SimProcess.h"
#include "foundation/uNuqUtils.h"
#include "platform/EventLoop.h"
#include "platform/Host.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>

using namespace nuq;
namespace fs = std::filesystem;

namespace {

const std::string kSimController =
    std::string(NUQ_BINARY_DIR) + "/sim/controller/nuq-sim-controller";

// A loopback port nobody listens on.
int FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    close(fd);
    return ntohs(a.sin_port);
}

class TcpLink : public ::testing::Test {
protected:
    fs::path home = fs::temp_directory_path() / ("nuq-tcp-" + std::to_string(getpid()));
    std::unique_ptr<TBoilerRoom> room = std::make_unique<TBoilerRoom>();
    struct Message {
        std::string text;
        int kind;
        uint32_t at;
    };
    std::vector<Message> messages;
    std::vector<std::string> data;

    void SetUp() override {
        SetMainThread();
        fs::create_directories(home);
        SetHostFolder(home.string());
        room->Name = "ТК-1";
        room->OnStatusChange = [this](TBoilerRoom&, const std::string& m, int kind) {
            if (!m.empty()) messages.push_back({m, kind, GetTickCount()});
        };
        room->OnData = [this](TBoilerRoom&, const std::string& line) { data.push_back(line); };
    }
    void TearDown() override {
        room.reset();
        SetHostFolder("");
        SetIdleGrace(-1);
        UseRealClock();
        fs::remove_all(home);
    }
    void Settings(const std::string& flow) {
        std::ofstream(home / "setting.ini") << "[FlowSettings]\n" << flow;
    }
    bool WaitFor(const std::function<bool()>& done, uint32_t ms = 10000) {
        return ProcessMessagesUntil(done, ms);
    }
};

} // namespace

TEST_F(TcpLink, RefusedHostRunsTheReconnectSeries) {
    UseVirtualClock(EncodeDateTime(2026, 1, 10, 8), 1000);
    SetIdleGrace(20); // a refusal comes back through the kernel, not the clock
    Settings("ReconnectQuick=2\nReconnectLong=30\nMaxConnectTry=3\n");
    room->SetTCPConnection("127.0.0.1", FreePort());
    const uint32_t t0 = GetTickCount();
    room->Start(10, 0);
    ASSERT_TRUE(WaitFor([&] { return messages.size() >= 9; }, 120000));
    const std::string name = "\"ТК-1\"";
    std::vector<std::pair<std::string, uint32_t>> seen;
    for (const auto& m : messages) seen.emplace_back(m.text, m.at - t0);
    EXPECT_EQ(
        seen,
        (std::vector<std::pair<std::string, uint32_t>>{
            {"Попытка соединения с " + name + " (0 из 3)...", 0},
            {"Попытка соединения с " + name + " (1 из 3)...", 2000},
            {"Попытка соединения с " + name + " (2 из 3)...", 4000},
            {"Попытка соединения с " + name + " (3 из 3)...", 6000},
            {"Количество попыток связи с " + name + " исчерпано. Повтор соединения через 30 сек.",
             6000},
            {"Попытка соединения с " + name + " (1 из 3)...", 36000},
            {"Попытка соединения с " + name + " (2 из 3)...", 38000},
            {"Попытка соединения с " + name + " (3 из 3)...", 40000},
            {"Количество попыток связи с " + name + " исчерпано. Повтор соединения через 30 сек.",
             40000}}));
    EXPECT_EQ(messages[4].kind, smError);
    EXPECT_FALSE(room->Connected);
    room->Stop();
    EXPECT_EQ(room->State, bsNotConnected);
    EXPECT_EQ(messages.back().text, "Соединение с " + name + " разорвано");
    const size_t count = messages.size();
    ProcessMessagesUntil([] { return false; }, 120000);
    EXPECT_EQ(messages.size(), count); // stopped: no more attempts
}

// A missing settings file must not leave a link that never retries.
TEST_F(TcpLink, MissingSettingsStillReconnect) {
    UseVirtualClock(EncodeDateTime(2026, 1, 10, 8), 1000);
    SetIdleGrace(20);
    room->SetTCPConnection("127.0.0.1", FreePort());
    room->Start(10, 0);
    ASSERT_TRUE(WaitFor([&] { return messages.size() >= 2; }, 10000));
    EXPECT_NE(messages[1].text.find("(1 из 5)"), std::string::npos);
    room->Stop();
}

// A host that never answers the connect is said when the attempt starts and
// given up after the socket's limit, then retried.
TEST_F(TcpLink, SilentHostIsGivenUpAfterTheConnectLimit) {
    UseVirtualClock(EncodeDateTime(2026, 1, 10, 8), 1000);
    SetIdleGrace(20);
    Settings("ReconnectQuick=1\nMaxConnectTry=5\n");
    TFullListener full;
    ASSERT_GT(full.Port, 0);
    ASSERT_TRUE(full.Fill());
    room->SetTCPConnection("127.0.0.1", full.Port);
    const uint32_t t0 = GetTickCount();
    room->Start(10, 0);
    ASSERT_TRUE(WaitFor([&] { return messages.size() >= 3; }, 60000));
    EXPECT_EQ(messages[0].text, "Попытка соединения с \"ТК-1\" (0 из 5)...");
    EXPECT_EQ(messages[0].at - t0, 0u);
    EXPECT_EQ(messages[1].text, "Ошибка связи с \"ТК-1\". Код ошибки: 10060 (Время ожидания "
                                "соединения истекло)");
    EXPECT_EQ(messages[1].at - t0, 20000u);
    EXPECT_EQ(messages[2].text, "Попытка соединения с \"ТК-1\" (1 из 5)...");
    room->Stop();
}

TEST_F(TcpLink, EndToEndWithTheController) {
    Settings("ReconnectQuick=1\nReconnectLong=5\nMaxConnectTry=5\n");
    simtest::SimProcess sim(kSimController,
                            {"--tcp", "0", "--packet", "41 02 01F4", "--packet", "42 00 0000",
                             "--echo", "--request", "REQ", "--stdin-control"});
    const int port = sim.Port();
    ASSERT_GT(port, 0);
    room->LoadScript(
        "#script;\n#defbyte 1;\nType = IsByte;\nCaption = 'T';\n#enddefbyte;\n#endscript;\n");
    room->Status = 1;
    std::vector<std::pair<std::string, bool>> sent;
    room->OnDataSent = [&](TBoilerRoom&, const std::string& text, bool ok) {
        sent.emplace_back(text, ok);
    };
    room->InitRequestTimer(1, [](TBoilerRoom& r) { r.SendText("REQ", true); });
    room->SetTCPConnection("localhost", port);
    room->Start(1, 0);
    room->EnableTimers(true);

    ASSERT_TRUE(WaitFor([&] { return data.size() >= 2; }));
    EXPECT_TRUE(room->Connected);
    EXPECT_EQ(room->State, bsConnected);
    EXPECT_EQ(messages.at(1).text, "Соединение с \"ТК-1\" установлено");
    EXPECT_EQ(data[0], "410201F4");
    EXPECT_EQ(data[1], "42000000");
    EXPECT_EQ(sent.front(), (std::pair<std::string, bool>{"<REQ>", true}));
    const TByteList bytes = HexToByteList(data[0]);
    room->DecodePacket(std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(room->Blocks.Items(0).DecodeList.GetItem(0).Value, "65");

    // A command reaches the controller framed, and its answer comes back.
    room->SendText("SET 55", true);
    ASSERT_TRUE(
        WaitFor([&] { return std::find(data.begin(), data.end(), "OK:SET 55") != data.end(); }));

    // Garbage and split lines never spoil the packet that follows.
    sim.Control("garbage 40");
    sim.Control("split 3 5");
    const size_t before = data.size();
    ASSERT_TRUE(WaitFor([&] { return data.size() >= before + 3; }));
    int whole = 0;
    for (size_t i = before; i < data.size(); ++i)
        if (data[i] == "410201F4" || data[i] == "42000000") ++whole;
    EXPECT_GE(whole, 2);

    // A dropped connection is reported, requests stop, and the link comes back.
    room->EnableTimers(false);
    sim.Control("drop");
    ASSERT_TRUE(WaitFor([&] { return !room->Connected; }));
    EXPECT_EQ(messages.back().text, "Соединение с \"ТК-1\" потеряно");
    EXPECT_EQ(messages.back().kind, smConnectionLost);
    const size_t sentBefore = sent.size();
    room->SendText("REQ", true); // not in state 2: dropped silently
    EXPECT_EQ(sent.size(), sentBefore);
    ASSERT_TRUE(WaitFor([&] { return room->Connected; }));
    EXPECT_EQ(room->State, bsConnected);

    room->Stop();
    EXPECT_FALSE(room->Connected);
    EXPECT_EQ(messages.back().text, "Соединение с \"ТК-1\" разорвано");
}

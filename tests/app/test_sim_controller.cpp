// The controller simulator as the terminal meets it: a separate process on a
// loopback port or a pseudo-terminal, checked by the bytes it sends and the
// lines it logs.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;

#include "common/SimProcess.h"

using namespace simtest;

namespace {

const std::string kSim = std::string(NUQ_BINARY_DIR) + "/sim/controller/nuq-sim-controller";

using Client = TcpClient;

class SimController : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("nuq-sim-" + std::to_string(getpid()));
    void SetUp() override {
        ASSERT_TRUE(fs::exists(kSim)) << kSim;
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
};

std::vector<std::string> ReadLines(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string l; std::getline(in, l);) lines.push_back(l);
    return lines;
}

} // namespace

// --- packets over TCP -------------------------------------------------------------

TEST_F(SimController, PeriodSendsThePacketsInTurnAsUpperCaseHex) {
    std::ofstream(dir / "packets") << "# two packets\n0a 0b\n\nff00\n";
    SimProcess sim(kSim, {"--tcp", "0", "--packet", "0102ab", "--packets",
                          (dir / "packets").string(), "--period", "20"});
    Client c(sim.Port());
    ASSERT_GE(c.Fd, 0);
    EXPECT_EQ(sim.WaitFor("connect"), "connect");
    for (const char* want : {"<0102AB>", "<0A0B>", "<FF00>", "<0102AB>"}) EXPECT_EQ(c.Line(), want);
    EXPECT_EQ(sim.Terminate(), 0);
}

TEST_F(SimController, AnswersRequestsAndCommands) {
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> sent;
        std::vector<std::string> answers;
    };
    const std::vector<Case> cases = {
        // Every framed line asks for the next packet; unframed ones are only logged.
        {{"--packet", "11", "--packet", "22"},
         {"<X>", "plain", "<Y>", "<Z>"},
         {"<11>", "<22>", "<11>"}},
        // One request text; other commands are acknowledged.
        {{"--packet", "11", "--request", "REQ", "--echo"},
         {"<SET 1>", "<REQ>", "<>", "<REQ>"},
         {"<OK:SET 1>", "<11>", "<OK:>", "<11>"}},
        // Without a request text a framed line is both acknowledged and answered.
        {{"--packet", "11", "--echo"}, {"<A>"}, {"<OK:A>", "<11>"}},
        {{"--echo"}, {"<Привет>", "  <B>  "}, {"<OK:Привет>", "<OK:B>"}},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const auto& c = cases[i];
        const fs::path log = dir / ("log" + std::to_string(i));
        std::vector<std::string> args{"--tcp", "0", "--log", log.string()};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SimProcess sim(kSim, args);
        Client client(sim.Port());
        ASSERT_GE(client.Fd, 0);
        for (const auto& s : c.sent) client.Send(s);
        for (const auto& want : c.answers) EXPECT_EQ(client.Line(), want) << "case " << i;
        EXPECT_EQ(sim.Terminate(), 0);
        std::vector<std::string> logged;
        for (const auto& s : c.sent) logged.push_back("rx " + s);
        EXPECT_EQ(ReadLines(log), logged) << "case " << i;
    }
}

// --- the serial line --------------------------------------------------------------

// Many peers at once, half of them gone again: each one left gets the answer
// to its own command.
TEST_F(SimController, ManyConnectionsEachGetTheirOwnAnswers) {
    SimProcess sim(kSim, {"--tcp", "0", "--request", "REQ", "--echo", "--packet", "01", "--log",
                          (dir / "rx").string()});
    const int port = sim.Port();
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 300; ++i) {
        clients.push_back(std::make_unique<Client>(port));
        ASSERT_GE(clients.back()->Fd, 0) << i;
    }
    for (size_t i = 1; i < clients.size(); i += 2) clients[i].reset();
    for (size_t i = 0; i < clients.size(); i += 2) clients[i]->Send("<C" + std::to_string(i) + ">");
    for (size_t i = 0; i < clients.size(); i += 2) {
        EXPECT_EQ(clients[i]->Line(), "<OK:C" + std::to_string(i) + ">");
        clients[i]->Send("<REQ>");
        EXPECT_EQ(clients[i]->Line(), "<01>");
    }
    EXPECT_EQ(sim.Terminate(), 0);
}

// Under a low soft limit the simulator first takes what the hard limit allows;
// out of descriptors it says so once and waits for one to free instead of
// asking again and again.
TEST_F(SimController, OutOfDescriptorsWaitsForOneToFree) {
    SimProcess sim("/bin/sh",
                   {"-c", "ulimit -Sn 16 && ulimit -Hn 48 && exec 2>&1 " + kSim + " --tcp 0"});
    const int port = sim.Port();
    ASSERT_GT(port, 0);
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 60; ++i) clients.push_back(std::make_unique<Client>(port));
    int accepted = 0;
    for (std::string l; (l = ReadUntil(sim.Out, sim.Buf, "\n")).rfind("cannot accept", 0) != 0;) {
        ASSERT_NE(l, "<timeout>");
        ASSERT_NE(l, "<eof>");
        accepted += l == "connect";
    }
    EXPECT_GT(accepted, 16);
    clients[0].reset();
    int failures = 0;
    for (std::string l; (l = ReadUntil(sim.Out, sim.Buf, "\n")) != "connect";) {
        ASSERT_NE(l, "<timeout>");
        ASSERT_NE(l, "<eof>");
        failures += l.rfind("cannot accept", 0) == 0;
    }
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(sim.Terminate(), 0);
}

TEST_F(SimController, PseudoTerminalLinkedAsComPort) {
    const fs::path com = dir / "COM7";
    SimProcess sim(kSim, {"--serial", com.string(), "--packet", "0A0B", "--request", "REQ",
                          "--echo", "--stdin-control"});
    EXPECT_EQ(sim.WaitFor("serial "), "serial " + com.string());
    ASSERT_TRUE(fs::is_symlink(com));
    EXPECT_EQ(fs::read_symlink(com).string().rfind("/dev/pts/", 0), 0u);

    for (int round = 0; round < 2; ++round) { // the port may be closed and opened again
        const int fd = open(com.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        EXPECT_EQ(sim.WaitFor("serial "), "serial open");
        std::string buf;
        WriteAll(fd, "<REQ>\r\n");
        EXPECT_EQ(ReadUntil(fd, buf, "\r\n"), "<0A0B>");
        WriteAll(fd, "<CMD 1>\r\n");
        EXPECT_EQ(ReadUntil(fd, buf, "\r\n"), "<OK:CMD 1>");
        EXPECT_EQ(sim.WaitFor("rx "), "rx <REQ>");
        EXPECT_EQ(sim.WaitFor("rx "), "rx <CMD 1>");
        sim.Control("send");
        EXPECT_EQ(ReadUntil(fd, buf, "\r\n"), "<0A0B>");
        sim.Control("send 0d0a");
        EXPECT_EQ(ReadUntil(fd, buf, "\r\n"), "<0D0A>");
        close(fd);
        EXPECT_EQ(sim.WaitFor("serial "), "serial closed");
    }
    sim.CloseStdin();
    EXPECT_EQ(sim.Wait(), 0);
    EXPECT_FALSE(fs::is_symlink(com));
}

TEST_F(SimController, TerminationRemovesTheComLink) {
    const fs::path com = dir / "COM3";
    fs::create_symlink("/nonexistent", com); // a stale link of an earlier run is replaced
    SimProcess sim(kSim, {"--serial", com.string()});
    EXPECT_EQ(sim.WaitFor("serial "), "serial " + com.string());
    EXPECT_NE(fs::read_symlink(com), "/nonexistent");
    EXPECT_EQ(sim.Terminate(), 0);
    EXPECT_FALSE(fs::is_symlink(com));
}

// --- misbehaviour -----------------------------------------------------------------

class SimMisbehaviour : public SimController {
protected:
    void SetUp() override {
        SimController::SetUp();
        sim = std::make_unique<SimProcess>(kSim, std::vector<std::string>{"--tcp", "0", "--packet",
                                                                          "11", "--packet", "22",
                                                                          "--stdin-control"});
        port = sim->Port();
        client = std::make_unique<Client>(port);
        ASSERT_GE(client->Fd, 0);
        EXPECT_EQ(sim->WaitFor("connect"), "connect");
    }
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<Client> client;
    int port = 0;
};

TEST_F(SimMisbehaviour, DropClosesTheConnectionAndANewOneIsServed) {
    sim->Control("drop");
    EXPECT_EQ(client->Line(), "<eof>");
    Client again(port);
    ASSERT_GE(again.Fd, 0);
    again.Send("<REQ>");
    EXPECT_EQ(again.Line(), "<11>");
}

TEST_F(SimMisbehaviour, GarbageEndsNoLineAndPrefixesTheNext) {
    sim->Control("garbage 40");
    sim->Control("send");
    const std::string line = client->Line();
    ASSERT_EQ(line.size(), 44u);
    EXPECT_EQ(line.substr(40), "<11>");
    EXPECT_EQ(line.substr(0, 40).find_first_of("\r\n"), std::string::npos);
}

TEST_F(SimMisbehaviour, SplitLinesArriveInPiecesButWhole) {
    sim->Control("split 1 30");
    sim->Control("send");
    int reads = 0;
    EXPECT_EQ(client->Line(&reads), "<11>");
    EXPECT_GE(reads, 2);
    sim->Control("split 0");
    client->Send("<REQ>");
    EXPECT_EQ(client->Line(), "<22>");
}

TEST_F(SimMisbehaviour, UnframedLine) {
    sim->Control("unframed HELLO 1");
    EXPECT_EQ(client->Line(), "HELLO 1");
}

TEST_F(SimMisbehaviour, StallLeavesRequestsUnanswered) {
    sim->Control("stall 1000");
    client->Send("<R1>");
    EXPECT_EQ(sim->WaitFor("rx "), "rx <R1>");
    EXPECT_EQ(sim->WaitFor("stall end"), "stall end");
    client->Send("<R2>");
    EXPECT_EQ(client->Line(), "<11>"); // the first packet: R1 got none
}

TEST_F(SimMisbehaviour, StdinClosedEndsTheProgram) {
    sim->CloseStdin();
    EXPECT_EQ(sim->Wait(), 0);
    EXPECT_EQ(client->Line(), "<eof>");
}

// --- command line -----------------------------------------------------------------

TEST_F(SimController, BadCommandLinesAreRefused) {
    for (const auto& args : std::vector<std::vector<std::string>>{{},
                                                                  {"--packet", "11"},
                                                                  {"--tcp", "0", "--packet", "123"},
                                                                  {"--tcp", "0", "--packet", "zz"},
                                                                  {"--tcp", "0", "--period", "0"},
                                                                  {"--tcp", "70000"},
                                                                  {"--tcp", "0", "--bogus"},
                                                                  {"--tcp"}}) {
        SimProcess sim(kSim, args);
        EXPECT_EQ(sim.Wait(), 2) << ::testing::PrintToString(args);
    }
}

// Client mode: the controller connects out, identifies, answers "WHO IS?",
// and connects again after its link went.
TEST(SimControllerClient, IdentifiesAndReconnects) {
    const int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&a), len), 0);
    ASSERT_EQ(listen(listener, 4), 0);
    ASSERT_EQ(getsockname(listener, reinterpret_cast<sockaddr*>(&a), &len), 0);
    SimProcess sim(kSim, {"--connect", "127.0.0.1:" + std::to_string(ntohs(a.sin_port)), "--ident",
                          "5", "--reconnect", "100"});
    EXPECT_EQ(sim.WaitFor("connected"), "connected");
    int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(fd, 0);
    std::string buf;
    EXPECT_EQ(ReadUntil(fd, buf, "\r\n"), "<ID:5,nuq-sim-controller>");
    WriteAll(fd, "WHO IS?\r\n");
    EXPECT_EQ(ReadUntil(fd, buf, "\r\n"), "<ID:5,nuq-sim-controller>");
    close(fd);
    EXPECT_EQ(sim.WaitFor("disconnect"), "disconnect");
    EXPECT_EQ(sim.WaitFor("connected"), "connected");
    fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(fd, 0);
    buf.clear();
    EXPECT_EQ(ReadUntil(fd, buf, "\r\n"), "<ID:5,nuq-sim-controller>");
    close(fd);
    close(listener);
}

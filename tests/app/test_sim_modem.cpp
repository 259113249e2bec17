// The modem simulator as the engine's tests use it: its answers on the
// pseudo-terminal, its rules, its unsolicited codes and its byte log.

#include "common/SimProcess.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

const std::string kSimModem = std::string(NUQ_BINARY_DIR) + "/sim/modem/nuq-sim-modem";

class SimModem : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("nuq-simmodem-" + std::to_string(getpid()));
    std::unique_ptr<simtest::SimProcess> sim;
    int fd = -1;
    std::string in;

    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override {
        if (fd >= 0) close(fd);
        sim.reset();
        fs::remove_all(dir);
    }
    void Start(std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--serial", (dir / "COM3").string(), "--log",
                                      (dir / "rx.log").string(), "--stdin-control"};
        args.insert(args.end(), extra.begin(), extra.end());
        sim = std::make_unique<simtest::SimProcess>(kSimModem, args);
        ASSERT_EQ(sim->WaitFor("serial "), "serial " + (dir / "COM3").string());
        OpenTerminal();
    }
    void OpenTerminal() {
        fd = open((dir / "COM3").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        ASSERT_GE(fd, 0);
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
        ASSERT_EQ(sim->WaitFor("serial open"), "serial open");
    }
    void Write(const std::string& s) { simtest::WriteAll(fd, s); }
    // Everything up to and including Delim.
    std::string Read(const std::string& delim) { return simtest::ReadUntil(fd, in, delim) + delim; }
    std::string Log() {
        std::ifstream f(dir / "rx.log", std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
};

} // namespace

TEST_F(SimModem, EchoUntilTurnedOff) {
    Start();
    Write("AT\r\n");
    EXPECT_EQ(Read("OK\r\n"), "AT\r\r\nOK\r\n");
    Write("ATE0\r\n");
    EXPECT_EQ(Read("OK\r\n"), "ATE0\r\r\nOK\r\n");
    Write("AT+CMGF=1\r\n");
    EXPECT_EQ(Read("OK\r\n"), "\r\nOK\r\n");
}

TEST_F(SimModem, RulesAnswerErrorLateOrNothing) {
    Start({"--no-echo"});
    sim->Control("error AT+CSDH 1");
    sim->Control("silent AT+X");
    sim->Control("late AT+Y 300");
    Write("at+csdh=1\r\n");
    EXPECT_EQ(Read("ERROR\r\n"), "\r\nERROR\r\n");
    Write("AT+CSDH=1\r\n"); // the rule was for once
    EXPECT_EQ(Read("OK\r\n"), "\r\nOK\r\n");
    Write("AT+X\r\nAT+Y\r\nAT\r\n");
    // Nothing for AT+X; the late answer still comes before the next one.
    EXPECT_EQ(Read("OK\r\n"), "\r\nOK\r\n");
    EXPECT_EQ(Read("OK\r\n"), "\r\nOK\r\n");
    sim->Control("clear");
    Write("AT+X\r\n");
    EXPECT_EQ(Read("OK\r\n"), "\r\nOK\r\n");
}

TEST_F(SimModem, StoredMessagesAreListedReadAndDeleted) {
    Start({"--no-echo"});
    sim->Control("store +7900 AB");
    sim->Control("sms +7901 Я");
    EXPECT_EQ(Read("\r\n+CMTI: \"SM\",2\r\n"), "\r\n+CMTI: \"SM\",2\r\n");
    Write("at+cmgl=\"all\"\r\n");
    EXPECT_EQ(
        Read("OK\r\n"),
        "\r\n+CMGL: 1,\"REC UNREAD\",\"+7900\",,\"26/01/10,08:00:00+12\"\r\n00410042"
        "\r\n+CMGL: 2,\"REC UNREAD\",\"+7901\",,\"26/01/10,08:00:00+12\"\r\n042F\r\n\r\nOK\r\n");
    Write("at+cmgr=2\r\n");
    EXPECT_EQ(Read("OK\r\n"),
              "\r\n+CMGR: \"REC UNREAD\",\"+7901\",,\"26/01/10,08:00:00+12\",145,4,0,8,"
              "\"+79000000000\",145,2\r\n042F\r\n\r\nOK\r\n");
    Write("at+cmgd=1\r\nat+cmgl=\"all\"\r\n");
    EXPECT_EQ(Read("OK\r\n"), "\r\nOK\r\n");
    EXPECT_EQ(Read("OK\r\n").find("+CMGL: 1,"), std::string::npos);
}

TEST_F(SimModem, ListenerAddressAndSocketServices) {
    Start({"--no-echo", "--ip", "10.1.1.1"});
    Write("AT^SISS=0,address,socktcp://listener:4444\r\n\r\nAT^SISO=0\r\nAT^SISO?\r\n");
    EXPECT_EQ(Read("OK\r\n"), "\r\nOK\r\n");
    EXPECT_EQ(Read("OK\r\n"), "\r\nOK\r\n");
    const std::string list = Read("\r\n\r\nOK\r\n");
    EXPECT_EQ(list.substr(0, 66),
              "\r\n^SISO: 0,\"Socket\",4,3,0,0,\"10.1.1.1:4444\",\"0.0.0.0:0\"\r\n^SISO: 1,");
    sim->Control("data 2 <12>");
    EXPECT_EQ(Read("\r\n^SISR: 2, 1\r\n"), "\r\n^SISR: 2, 1\r\n");
    // A refused read takes nothing away.
    sim->Control("error AT^SISR 1");
    Write("AT^SISR=2,1500\r\n");
    EXPECT_EQ(Read("ERROR\r\n"), "\r\nERROR\r\n");
    Write("AT^SISR=2,1500\r\n");
    EXPECT_EQ(Read("OK\r\n"), "\r\n^SISR: 2,4\r\n<12>\r\nOK\r\n");
    Write("AT^SISW=2,3\r\n");
    EXPECT_EQ(Read(",0\r\n"), "\r\n^SISW: 2,3,0\r\n");
    Write("abc\r\n");
    EXPECT_EQ(Read("OK\r\n"), "\r\nOK\r\n");
}

TEST_F(SimModem, UnsolicitedCodesOnRequest) {
    Start({"--no-echo"});
    sim->Control("ring +79001112233");
    EXPECT_EQ(Read(",0\r\n"), "\r\nRING\r\n\r\n+CLIP: \"+79001112233\",145,,,,0\r\n");
    sim->Control("cusd 10");
    EXPECT_EQ(Read(",72\r\n"), "\r\n+CUSD: 0,\"00310030\",72\r\n");
    sim->Control("emit \\r\\n^SIS: 0,1,3\\r\\n\\x41");
    EXPECT_EQ(Read("A"), "\r\n^SIS: 0,1,3\r\nA");
    sim->Control("dial BUSY");
    Write("atd+7900;\r\n");
    EXPECT_EQ(Read("BUSY\r\n"), "\r\nBUSY\r\n");
    Write("+++");
    EXPECT_EQ(Read("OK\r\n"), "\r\nOK\r\n");
}

TEST_F(SimModem, LogHoldsEveryByteReceived) {
    Start({"--no-echo"});
    const std::string sent = std::string("\x1B") + "AT\r\n+++ATH\r\n";
    Write(sent);
    Read("OK\r\n");
    Read("OK\r\n");
    Read("OK\r\n");
    EXPECT_EQ(Log(), sent);
    sim->Control("reset-log");
    EXPECT_EQ(Log(), "");
}

TEST_F(SimModem, HangupPutsANewLineUnderTheName) {
    Start({"--no-echo"});
    sim->Control("hangup");
    char c;
    EXPECT_LE(read(fd, &c, 1), 0); // the old line is dead
    close(fd);
    fd = -1;
    OpenTerminal();
    Write("AT\r\n");
    EXPECT_EQ(Read("OK\r\n"), "\r\nOK\r\n");
}

namespace {

// A controller's side of the simulator's listener.
using Peer = simtest::TcpClient;

} // namespace

TEST_F(SimModem, ListenerCarriesAControllersBytesBothWays) {
    sim = std::make_unique<simtest::SimProcess>(
        kSimModem, std::vector<std::string>{"--serial", (dir / "COM3").string(), "--stdin-control",
                                            "--no-echo", "--listen", "0"});
    const int port = sim->Port(); // printed before the terminal's line
    ASSERT_GT(port, 0);
    ASSERT_EQ(sim->WaitFor("serial "), "serial " + (dir / "COM3").string());
    OpenTerminal();
    {
        Peer early(port); // the listener service is not open yet: refused
        char c;
        EXPECT_EQ(read(early.Fd, &c, 1), 0);
    }
    Write("AT^SISO=0\r\n");
    EXPECT_EQ(Read("OK\r\n"), "\r\nOK\r\n");
    Peer peer(port);
    ASSERT_GE(peer.Fd, 0);
    EXPECT_EQ(Read("\r\n^SIS: 0,1,1\r\n"), "\r\n^SIS: 0,1,1\r\n");
    simtest::WriteAll(peer.Fd, "<ID:5,x>\r\n");
    Write("AT^SISO=1\r\n"); // accepted: the waiting data is announced
    EXPECT_EQ(Read(", 1\r\n"), "\r\nOK\r\n\r\n^SISR: 1, 1\r\n");
    Write("AT^SISR=1,4\r\n"); // a short read: the rest is announced again
    EXPECT_EQ(Read(", 1\r\n"), "\r\n^SISR: 1,4\r\n<ID:\r\nOK\r\n\r\n^SISR: 1, 1\r\n");
    Write("AT^SISR=1,1500\r\n");
    EXPECT_EQ(Read("OK\r\n"), "\r\n^SISR: 1,6\r\n5,x>\r\n\r\nOK\r\n");
    Write("AT^SISW=1,7\r\n");
    EXPECT_EQ(Read(",0\r\n"), "\r\n^SISW: 1,7,0\r\n");
    Write("<REQ>\r\n");
    EXPECT_EQ(Read("OK\r\n"), "\r\nOK\r\n");
    EXPECT_EQ(simtest::ReadUntil(peer.Fd, peer.Buf, "\r\n"), "<REQ>");
    close(peer.Fd); // the peer goes: announced
    peer.Fd = -1;
    EXPECT_EQ(Read("connection\"\r\n"),
              "\r\n^SIS: 1,0,48,\"Remote peer has closed the connection\"\r\n");
}

TEST_F(SimModem, SmsSubmitUssdAndDataCall) {
    Start({"--no-echo", "--balance", "Баланс 1 р."});
    Write("AT+CMGS=\"+7900\"\r\n");
    EXPECT_EQ(Read("> "), "\r\n> ");
    Write("050003070201" + std::string("0041") + "\x1A\r\n");
    EXPECT_EQ(Read("OK\r\n"), "\r\n+CMGS: 1\r\n\r\nOK\r\n");
    EXPECT_EQ(sim->WaitFor("smsout "), "smsout +7900 0500030702010041");
    Write("AT+CMGS=\"+7900\"\r\n");
    Read("> ");
    Write("0500030702020042\x1A\r\n");
    Read("OK\r\n");
    EXPECT_EQ(sim->WaitFor("smstext "), "smstext +7900 AB");
    // A refused submit takes no text.
    sim->Control("error AT+CMGS 1");
    Write("AT+CMGS=\"+7900\"\r\nAT\r\n");
    EXPECT_EQ(Read("OK\r\n"), "\r\nERROR\r\n\r\nOK\r\n");

    Write("AT+CUSD=1,*100#\r\n");
    EXPECT_EQ(Read(",72\r\n"),
              "\r\nOK\r\n\r\n+CUSD: 0,\"04110430043B0430043D04410020003100200440002E\",72\r\n");

    sim->Control("dial CONNECT 9600");
    Write("atd+7900\r\n");
    EXPECT_EQ(Read("9600\r\n"), "\r\nCONNECT 9600\r\n");
    Write("N:006 \r\n");
    EXPECT_EQ(sim->WaitFor("csd "), "csd N:006 ");
    EXPECT_EQ(Read("CARRIER\r\n"), "\r\nNO CARRIER\r\n");
}

// The simulator reads SMS text on its own: four hex digits per UTF-16 unit,
// surrogate pairs joined; anything else is reported, not guessed at.
TEST_F(SimModem, SmsTextIsReadAsUcs2) {
    Start({"--no-echo"});
    struct Case {
        std::string hex, status;
    };
    const Case cases[] = {
        {"041F04400438", "smstext +7900 При"},
        {"0041d83dde00", "smstext +7900 A\xF0\x9F\x98\x80"},
        {"D83D0041", "smstext +7900 \xEF\xBF\xBD"
                     "A"}, // a high half alone
        {"", "smstext +7900 "},
        {"04", "smsbad +7900 04"},
        {"04X1", "smsbad +7900 04X1"},
    };
    int reference = 1;
    for (const Case& c : cases) {
        Write("AT+CMGS=\"+7900\"\r\n");
        Read("> ");
        char header[16];
        std::snprintf(header, sizeof header, "050003%02X0101", reference++);
        Write(header + c.hex + "\x1A\r\n");
        Read("OK\r\n");
        EXPECT_EQ(sim->WaitFor("sms"), "smsout +7900 " + std::string(header) + c.hex);
        EXPECT_EQ(sim->WaitFor("sms"), c.status) << c.hex;
    }
    // Stored text goes out the same way, a character beyond 16 bits as a pair.
    sim->Control("store +7901 Я\xF0\x9F\x98\x80");
    Write("at+cmgr=1\r\n");
    EXPECT_NE(Read("OK\r\n").find("\r\n042FD83DDE00\r\n"), std::string::npos);
}

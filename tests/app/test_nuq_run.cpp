// nuq run as the main job: objects of a home folder polled against the
// controller simulator, logged, and stopped cleanly.

#include "common/FullListener.h"
#include "common/SimProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <signal.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cstdlib>
#include <netinet/in.h>
#include <regex>
#include <set>
#include <sstream>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using simtest::SimProcess;

namespace {

const std::string kSimController =
    std::string(NUQ_BINARY_DIR) + "/sim/controller/nuq-sim-controller";

class NuqRun : public ::testing::Test {
protected:
    fs::path home = fs::temp_directory_path() / ("nuq-run-" + std::to_string(getpid()));
    void SetUp() override {
        fs::create_directories(home);
        std::ofstream(home / "setting.ini") << "[FlowSettings]\nReconnectQuick=1\n";
        std::ofstream(home / "t.nqs")
            << "#script;\n#defbyte 1;\nType = IsByte;\nCaption = 'Температура';\n"
               "MetricUnit = '°C';\n#enddefbyte;\n#endscript;\n";
    }
    void TearDown() override { fs::remove_all(home); }
    void Objects(const std::string& text) { std::ofstream(home / "objects.ini") << text; }
};

struct Output {
    int status;
    std::string out, err;
};

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// nuq run in HOME for SECONDS, its two streams kept apart.
Output RunFor(const fs::path& home, const std::string& seconds, const std::string& more = "") {
    const std::string cmd = std::string(NUQ_EXE) + " --home '" + home.string() + "' run --for " +
                            seconds + more + " >'" + (home / "out").string() + "' 2>'" +
                            (home / "err").string() + "'";
    const int status = std::system(cmd.c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(home / "out"),
            ReadAll(home / "err")};
}

// A loopback listener standing for a controller the test plays itself.
struct TListener {
    int Fd = -1;
    int Port = 0; // 0 when none could be made
    TListener() {
        Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (Fd >= 0 && bind(Fd, reinterpret_cast<sockaddr*>(&a), len) == 0 && listen(Fd, 1) == 0 &&
            getsockname(Fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            Port = ntohs(a.sin_port);
    }
    ~TListener() {
        if (Fd >= 0) close(Fd);
    }
    TListener(const TListener&) = delete;
    TListener& operator=(const TListener&) = delete;
};

// A script of Blocks byte blocks captioned B1, B2...: a decode that runs
// the loop once per block.
void WriteBlocksScript(const fs::path& file, int blocks) {
    std::string script = "#script;\n";
    for (int i = 1; i <= blocks; ++i)
        script +=
            "#defbyte 1;\nType = IsByte;\nCaption = 'B" + std::to_string(i) + "';\n#enddefbyte;\n";
    std::ofstream(file) << script << "#endscript;\n";
}

} // namespace

TEST_F(NuqRun, PollsLogsAndStopsOnSignal) {
    SimProcess sim(kSimController, {"--tcp", "0", "--packet", "41", "--request", "REQ"});
    const int port = sim.Port();
    ASSERT_GT(port, 0);
    Objects("[A]\nName=Котельная А\nLink=TCP\nHost=127.0.0.1\nPort=" + std::to_string(port) +
            "\nRequestPeriod=1\nRequestText=REQ\nScript=t.nqs\n"
            "[B]\nName=Без связи\nLink=Радио\n"
            "[D]\nName=Статус\nStatus=300\nLink=TCP\n");
    SimProcess run(NUQ_EXE, {"--home", home.string(), "run"});
    const std::string skipped = run.WaitForText("не загружен");
    EXPECT_NE(skipped.find("Объект \"Без связи\" не загружен: неизвестный вид связи \"Радио\""),
              std::string::npos);
    // A value that a byte cannot hold is refused, not wrapped.
    const std::string outOfRange = run.WaitForText("вне диапазона");
    EXPECT_NE(outOfRange.find("Объект \"Статус\" не загружен: значение Status=300 вне диапазона"),
              std::string::npos)
        << outOfRange;
    // Log lines: date and time, a colon, two blanks, the text.
    const std::string connected = run.WaitForText("установлено");
    EXPECT_NE(connected.find(":  Соединение с \"Котельная А\" установлено"), std::string::npos)
        << connected;
    EXPECT_EQ(connected[2], '.');
    EXPECT_NE(run.WaitForText("Температура = 65 °C"), "<timeout>");
    // The state line follows the packets, not only the link: it comes
    // before the next packet.
    std::string next = run.WaitForText("");
    for (; next.find("(Норма)") == std::string::npos; next = run.WaitForText(""))
        ASSERT_EQ(next.find("Температура"), std::string::npos) << "no state line after a packet";
    EXPECT_NE(next.find("\"Котельная А\": Не определено (Норма)"), std::string::npos) << next;
    EXPECT_EQ(run.Terminate(), 0); // SIGTERM: objects stopped, links closed, exit 0
}

// Any positive run time ends the run by itself, however small; a long one
// does not end early (a 32-bit count of milliseconds would wrap). A link that
// keeps failing logs its attempts, not a state line at each.
TEST_F(NuqRun, RunTimeOfAnySize) {
    Objects("[A]\nName=A\nLink=TCP\nHost=127.0.0.1\nPort=1\n");
    SimProcess tiny(NUQ_EXE, {"--home", home.string(), "run", "--for", "0.0009"});
    EXPECT_NE(tiny.WaitForText("Опрос остановлен"), "<timeout>");
    EXPECT_EQ(tiny.Wait(), 0);

    SimProcess longRun(NUQ_EXE, {"--home", home.string(), "run", "--for", "4294968"});
    ASSERT_NE(longRun.WaitForText("Опрос запущен"), "<timeout>");
    // Past where the wrapped time would have ended it. The attempts to
    // connect are said, the state lines they pass through every second not.
    for (std::string line; line.find("Попытка соединения с \"A\" (2 из") == std::string::npos;) {
        line = longRun.WaitForText("");
        ASSERT_NE(line, "<timeout>");
        ASSERT_NE(line, "<eof>");
        EXPECT_EQ(line.find("\"A\": "), std::string::npos) << line;
    }
    EXPECT_EQ(waitpid(longRun.Pid, nullptr, WNOHANG), 0) << "stopped early";
    EXPECT_EQ(longRun.Terminate(), 0);
}

// A peer's text cannot forge log lines: every line starts with its stamp,
// control characters show escaped and an endless line is cut with a mark.
// Socket errors carry their text.
TEST_F(NuqRun, PeerTextCannotForgeLogLines) {
    const TListener listener;
    ASSERT_GT(listener.Port, 0);
    Objects("[A]\nName=Котельная А\nLink=TCP\nHost=127.0.0.1\nPort=" +
            std::to_string(listener.Port) + "\n[B]\nName=Б\nLink=TCP\nHost=256.0.0.1\nPort=1\n");
    SimProcess run(NUQ_EXE, {"--home", home.string(), "run"});
    const int conn = accept(listener.Fd, nullptr, nullptr);
    ASSERT_GE(conn, 0);
    // The controller's text is cp1251 on the wire; this one is plain ASCII.
    const std::string forged = "x\n01.01.2026 00:00:00:  Connection lost\x1b[2J";
    const std::string lines = "<" + forged + ">\r\n" + std::string(5000, 'Z') + "\r\nlast\r\n";
    ASSERT_EQ(write(conn, lines.data(), lines.size()), ssize_t(lines.size()));
    const std::regex stamped(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d:  .*)");
    std::vector<std::string> seen;
    for (;;) {
        const std::string line = run.WaitForText("");
        ASSERT_NE(line, "<timeout>");
        ASSERT_NE(line, "<eof>");
        EXPECT_TRUE(std::regex_match(line, stamped)) << line;
        seen.push_back(line);
        if (line.find("<<< last") != std::string::npos) break;
    }
    auto has = [&](const std::string& text) {
        return std::any_of(seen.begin(), seen.end(),
                           [&](const std::string& l) { return l.find(text) != std::string::npos; });
    };
    EXPECT_TRUE(has("<<< x\\n01.01.2026 00:00:00:  Connection lost\\x1B[2J"));
    EXPECT_TRUE(has("<<< " + std::string(900, 'Z')));
    EXPECT_TRUE(has("… (обрезано, всего"));
    EXPECT_FALSE(has(std::string(1001, 'Z')));
    EXPECT_TRUE(has("Ошибка связи с \"Б\". Код ошибки: 11001 (Узел не найден)"));
    EXPECT_EQ(run.Terminate(), 0);
    close(conn);
}

// --trace makes a missing log folder and writes the link's traffic there.
TEST_F(NuqRun, TraceMakesItsFolder) {
    std::ofstream(home / "setting.ini")
        << "[FlowSettings]\nReconnectQuick=1\n[ShellSettings]\nLogDirectory=Logs/trace\n";
    SimProcess sim(kSimController, {"--tcp", "0", "--packet", "41", "--request", "REQ"});
    const int port = sim.Port();
    ASSERT_GT(port, 0);
    Objects("[A]\nName=А\nLink=TCP\nHost=127.0.0.1\nPort=" + std::to_string(port) +
            "\nRequestPeriod=1\nRequestText=REQ\nScript=t.nqs\n");
    SimProcess run(NUQ_EXE, {"--home", home.string(), "run", "--trace"});
    ASSERT_NE(run.WaitForText("Температура = 65"), "<timeout>");
    EXPECT_EQ(run.Terminate(), 0);
    std::string traced;
    for (const auto& e : fs::directory_iterator(home / "Logs" / "trace")) {
        std::ifstream in(e.path());
        traced.assign(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_NE(traced.find(":  <<<41"), std::string::npos) << traced;
    EXPECT_NE(traced.find(":  >>><REQ>"), std::string::npos) << traced;
}

// Packets that arrive while the one before is being decoded (a decode lets
// the loop run once per block) are each shown with their own values.
TEST_F(NuqRun, PacketsArrivingDuringADecodeKeepTheirValues) {
    // Enough blocks that the decode's passes of the loop take a while.
    constexpr int Blocks = 1000, Packets = 40;
    WriteBlocksScript(home / "many.nqs", Blocks);
    const TListener listener;
    ASSERT_GT(listener.Port, 0);
    Objects("[A]\nName=А\nLink=TCP\nHost=127.0.0.1\nPort=" + std::to_string(listener.Port) +
            "\nScript=many.nqs\n");
    SimProcess run(NUQ_EXE, {"--home", home.string(), "run"});
    const int conn = accept(listener.Fd, nullptr, nullptr);
    ASSERT_GE(conn, 0);
    for (int k = 1; k <= Packets; ++k) {
        char packet[16];
        std::snprintf(packet, sizeof packet, "<%02X>\r\n", k);
        ASSERT_EQ(write(conn, packet, 6), 6);
        usleep(300);
    }
    // Each packet's lines follow its own heading, in the order sent.
    int packet = 0, shown = 0;
    std::string firstWrong;
    while (packet < Packets || shown < Blocks) {
        const std::string line = run.WaitForText("");
        ASSERT_NE(line, "<timeout>");
        ASSERT_NE(line, "<eof>");
        if (line.find(": пакет 1 байт") != std::string::npos) {
            if (shown != (packet ? Blocks : 0) && firstWrong.empty())
                firstWrong = "packet " + std::to_string(packet) + " showed " +
                             std::to_string(shown) + " lines";
            ++packet;
            shown = 0;
        } else if (line.find("    B") != std::string::npos) {
            ++shown;
            const std::string value = " = " + std::to_string(packet);
            if (line.substr(line.size() - std::min(line.size(), value.size())) != value &&
                firstWrong.empty())
                firstWrong = "packet " + std::to_string(packet) + ": " + line;
        }
    }
    EXPECT_EQ(firstWrong, "");
    EXPECT_EQ(run.Terminate(), 0);
    close(conn);
}

TEST_F(NuqRun, StopsByItselfAndReportsMissingObjects) {
    const Output none = RunFor(home, "1");
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(
        none.err.find("nuq run: файл объектов " + (home / "objects.ini").string() + " не найден"),
        std::string::npos)
        << none.err;

    Objects("[A]\nName=A\nLink=TCP\nHost=127.0.0.1\nPort=1\n");
    SimProcess run(NUQ_EXE, {"--home", home.string(), "run", "--for", "1.5"});
    EXPECT_NE(run.WaitForText("Опрос остановлен"), "<timeout>");
    EXPECT_EQ(run.Wait(), 0);
}

// Every TCP object holds a descriptor: a run takes all that its hard limit allows.
TEST_F(NuqRun, TakesTheHardLimitOfOpenFiles) {
    Objects("[A]\nName=A\nLink=TCP\nHost=127.0.0.1\nPort=1\n");
    SimProcess run("/bin/sh", {"-c", "ulimit -Sn 64 && exec " + std::string(NUQ_EXE) + " --home '" +
                                         home.string() + "' run"});
    ASSERT_NE(run.WaitForText("Опрос запущен"), "<timeout>");
    std::ifstream limits("/proc/" + std::to_string(run.Pid) + "/limits");
    std::string soft, hard;
    for (std::string line; std::getline(limits, line);)
        if (line.rfind("Max open files", 0) == 0)
            std::istringstream(line.substr(14)) >> soft >> hard;
    ASSERT_FALSE(hard.empty());
    EXPECT_EQ(soft, hard);
    EXPECT_EQ(run.Terminate(), 0);
}

// An object on a modem link: the modem simulator on a pseudo-terminal linked
// as COM7, its listener reached by a controller in client mode.
TEST_F(NuqRun, ObjectOnAModemLink) {
    const std::string modemSim = std::string(NUQ_BINARY_DIR) + "/sim/modem/nuq-sim-modem";
    setenv("NUQ_PORT_DIR", home.c_str(), 1);
    SimProcess modem(modemSim, {"--serial", (home / "COM7").string(), "--listen", "0", "--balance",
                                "Баланс 12,50 р.", "--stdin-control"});
    const int port = modem.Port();
    ASSERT_GT(port, 0);
    ASSERT_NE(modem.WaitFor("serial "), "<timeout>");
    modem.Control("error AT+NUQ 1"); // the step fails once: said with --trace
    SimProcess controller(kSimController,
                          {"--connect", "127.0.0.1:" + std::to_string(port), "--ident", "7",
                           "--packet", "41", "--request", "REQ", "--reconnect", "300"});
    std::ofstream(home / "setting.ini")
        << "[FlowSettings]\nReconnectQuick=1\nReCallStep=600\nReCallTryMax=1\n"
           "[Modem]\nModemCount=2\n"
           "[Modem_0]\nPortNumber=7\nBaudrate=115200\nTCPPort=2222\nCmdGetBalance=*100#\n"
           "[Modem_1]\nPortNumber=8\n"
           "[ModemInit]\nStepCount=2\nStep_0=ATE0\nStep_1=AT+NUQ\n";
    Objects("[G]\nName=Котельная Г\nLink=GPRS\nModemPort=7\nPhone=+79007\nIdent=7\nCallMode=0\n"
            "APN=internet\nRequestPeriod=1\nRequestText=REQ\nScript=t.nqs\n"
            "[H]\nName=Без модема\nLink=GPRS\nModemPort=9\n");
    SimProcess run(NUQ_EXE, {"--home", home.string(), "run", "--trace"});
    unsetenv("NUQ_PORT_DIR");
    EXPECT_NE(run.WaitForText("Объект \"Без модема\" не загружен: модем на COM9 не описан"),
              "<timeout>");
    // In whatever order they come.
    std::vector<std::string> wanted{
        "COM7  : Модем вернул сигнал \"Error\".", "Баланс модема (COM7): Баланс 12,50 р.",
        "Cоединение с \"Котельная Г\" установлено", "Температура = 65 °C"};
    while (!wanted.empty()) {
        const std::string line = run.WaitForText("");
        ASSERT_NE(line, "<timeout>") << wanted[0];
        ASSERT_NE(line, "<eof>") << wanted[0];
        for (size_t i = 0; i < wanted.size(); ++i)
            if (line.find(wanted[i]) != std::string::npos)
                wanted.erase(wanted.begin() + ptrdiff_t(i));
    }
    EXPECT_EQ(run.Terminate(), 0);
}

// What cannot run is not started, and the log says which object, which key
// or script, and why; the objects that can run still do.
TEST_F(NuqRun, RefusesWhatItCannotRun) {
    std::ofstream(home / "empty.nqs") << "";
    std::ofstream(home / "hello.nqs") << "hello world\n";
    std::ofstream(home / "random.nqs") << std::string("\x8f\x01\xfe;\x13\x80\xff\x00z", 9);
    std::ofstream(home / "open.nqs") << "#script;\n#defbyte 1;\nType = IsByte;\nCaption = 'a';\n"
                                        "#endscript;\n";
    std::ofstream(home / "noscale.nqs") << "#script;\n#defbyte 1;\nType = IsReal;\nCaption = 'a';\n"
                                           "#enddefbyte;\n#endscript;\n";
    std::ofstream(home / "mixed.nqs") << "#script;\n#defbyte 1;\nType = IsByte;\nCaption = 'Т';\n"
                                         "MetricUnit = '\xB0"
                                         "C';\nCaption = 'Т';\n#enddefbyte;\n"
                                         "#endscript;\n";
    struct Case {
        const char* keys;
        const char* logged;
    };
    const Case cases[] = {
        {"Script=mixed.nqs",
         "скрипт mixed.nqs не прошёл проверку: Стр. 5 - Строка не в кодировке UTF-8."},
        {"Script=empty.nqs", "скрипт empty.nqs не прошёл проверку: Не найден текст скрипта"},
        {"Script=hello.nqs", "скрипт hello.nqs не прошёл проверку: Отсутствует описание начала"},
        {"Script=random.nqs", "скрипт random.nqs не прошёл проверку: "},
        {"Script=open.nqs",
         "скрипт open.nqs не прошёл проверку: Стр. 2 - <#enddefbyte> не найдено."},
        {"Script=none.nqs", "скрипт none.nqs не прочитан: Не удалось открыть файл"},
        {"Script=noscale.nqs", "'' не является допустимым целым числом"},
        {"Link=COM\nComPort=abc", "значение ComPort=abc не является числом"},
        {"Link=COM\nComPort=0", "значение ComPort=0 вне диапазона 1..255"},
        {"Link=COM\nBaudRate=1234", "значение BaudRate=1234 не является скоростью порта"},
        {"Link=COM\nDataBits=4", "значение DataBits=4 вне диапазона 5..8"},
        {"Link=COM\nStopBits=x", "значение StopBits=x не является числом"},
        {"Link=COM\nParity=5", "значение Parity=5 вне диапазона 0..4"},
        {"Link=COM\nFlowControl=-1", "значение FlowControl=-1 вне диапазона 0..7"},
        {"Host=", "значение Host не задано"},
        {"Port=abc", "значение Port=abc не является числом"},
        {"Port=0", "значение Port=0 вне диапазона 1..65535"},
        {"Port=-1", "значение Port=-1 вне диапазона 1..65535"},
        {"Port=99999", "значение Port=99999 вне диапазона 1..65535"},
        {"RequestPeriod=soon", "значение RequestPeriod=soon не является числом"},
        {"DDEPeriod=-5", "значение DDEPeriod=-5 вне диапазона 0..4294967"},
        {"Link=GPRS\nModemPort=COM3", "значение ModemPort=COM3 не является числом"},
        {"SMSNotify=2", "значение SMSNotify=2 вне диапазона 0..1"},
        {"Link=DDE\nDDEService=S", "матрица соответствия OPCMap не задана"},
        {"Link=DDE\nOPCMap=not a map", "матрица соответствия OPCMap не читается"},
        {"Link=DDE\nOPCMap=MAIwAyADIA==", "матрица соответствия OPCMap пуста"},
    };
    std::string objects;
    for (size_t i = 0; i < std::size(cases); ++i)
        // The first of a key's lines counts: the case's before the defaults.
        objects += "[O" + std::to_string(i) + "]\nName=Объект " + std::to_string(i) + "\n" +
                   cases[i].keys + "\nLink=TCP\nPort=1\n";
    Objects(objects + "[Good]\nName=Годный\nLink=TCP\nPort=1\nScript=t.nqs\n");
    fs::remove(home / "setting.ini");
    const Output run = RunFor(home, "0.5");
    EXPECT_EQ(run.status, 0) << run.err;
    for (size_t i = 0; i < std::size(cases); ++i)
        EXPECT_NE(run.out.find("Объект \"Объект " + std::to_string(i) +
                               "\" не загружен: " + cases[i].logged),
                  std::string::npos)
            << cases[i].keys << "\n"
            << run.out;
    EXPECT_NE(run.out.find("Опрос запущен, объектов: 1"), std::string::npos) << run.out;
    // A missing setting.ini is said once, at start.
    const std::string noSettings = "Файл настроек " + (home / "setting.ini").string() +
                                   " не найден: действуют значения по умолчанию";
    const size_t said = run.out.find(noSettings);
    EXPECT_NE(said, std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(noSettings, said + 1), std::string::npos) << run.out;

    // Nothing left to run is a fatal error, on standard error.
    Objects("[O]\nName=О\nLink=TCP\n");
    const Output none = RunFor(home, "0.5");
    EXPECT_EQ(none.status, 2);
    EXPECT_NE(none.out.find("Объект \"О\" не загружен: значение Port не задано"), std::string::npos)
        << none.out;
    EXPECT_NE(none.err.find("nuq run: в файле "), std::string::npos) << none.err;

    // What the files hold that does not read is said once, where it stands;
    // each link once, with the device a COM number stands for here.
    const std::string ini = (home / "objects.ini").string() + ", строка ";
    std::ofstream(home / "setting.ini")
        << "[FlowSettings]\nReconnectQuick=soon\n[ShellSettings]\nAutoStart=yes\n"
           "[Modem]\nModemCount=1\n[Modem_0]\nPortNumber=6\nSMSReporting=1\nParity=odd\n";
    SimProcess sim(kSimController, {"--tcp", "0", "--packet", "41", "--request", "REQ"});
    const std::string port = std::to_string(sim.Port());
    Objects("junk\n[A]\nName=А\nLink=COM\nComPort=5\nHots=x\n[B]\nName=Б\nLink=COM\nComPort=5\n"
            "[C]\nName=В\nLink=COM\nComPort=6\n[a]\nName=Второе А\n"
            "[D]\nName=Г\nLink=TCP\nStatus=2\nScript=t.nqs\nRequestPeriod=1\nRequestText=REQ\n"
            "Port=" +
            port + "\n");
    fs::create_symlink("/nonexistent", home / "COM5");
    setenv("NUQ_PORT_DIR", home.c_str(), 1);
    const Output loaded = RunFor(home, "0.5");
    unsetenv("NUQ_PORT_DIR");
    const std::string settings = "Файл настроек " + (home / "setting.ini").string() + ": значение ";
    const std::string com5 = "COM5 (" + (home / "COM5").string() + ")";
    for (const std::string& line : std::vector<std::string>{
             settings + "[FlowSettings] ReconnectQuick=soon не читается: действует 1",
             settings + "[ShellSettings] AutoStart=yes не читается: действует No",
             settings + "[Modem_0] Parity=odd не читается: действует None",
             ini + "1: строка не является ключом и пропущена: junk",
             ini + "6: ключ Hots неизвестен и пропущен",
             ini + "15: раздел [a] повторяет раздел строки 2 и не загружен",
             "Объект \"Б\" не загружен: COM5 уже занят объектом \"А\"",
             "Объект \"В\" не загружен: COM6 уже занят модемом [Modem_0] из setting.ini",
             "\"А\": связь " + com5 +
                 ", 9600 бит/с; скрипт не задан, пакеты показываются без "
                 "расшифровки",
             "\"Г\": связь TCP 127.0.0.1:" + port +
                 "; не опрашивается автоматически: Status=2 (ручной опрос)",
             "Ошибка COM-порта для связи с \"А\": устройство " + com5 + " не найдено",
         }) {
        const size_t at = loaded.out.find(line);
        EXPECT_NE(at, std::string::npos) << line << "\n" << loaded.out;
        EXPECT_EQ(loaded.out.find(line, at + 1), std::string::npos) << line << "\n" << loaded.out;
    }
    // Manual polling sends no request on a link that is up.
    EXPECT_NE(loaded.out.find("Соединение с \"Г\" установлено"), std::string::npos) << loaded.out;
    EXPECT_EQ(loaded.out.find("\"Г\" >>>"), std::string::npos) << loaded.out;
    // Start and stop pass every object through "not connected": not news.
    EXPECT_EQ(loaded.out.find("Связь не установлена"), std::string::npos) << loaded.out;

    // Files that are not there, not files or not readable.
    struct FileCase {
        const char* objects; // "dir": a folder; "loop": a link to itself
        const char* settings;
        const char* said;
    };
    for (const FileCase& c : {FileCase{"dir", "", "objects.ini - папка, а не файл"},
                              FileCase{"loop", "",
                                       "objects.ini не прочитан: слишком много "
                                       "уровней символьных ссылок (код 40)"},
                              FileCase{"", "dir", "setting.ini - папка, а не файл: действуют"},
                              FileCase{"", "loop", "setting.ini не прочитан: слишком много"}}) {
        for (const char* name : {"objects.ini", "setting.ini"}) {
            const std::string kind = name[0] == 'o' ? c.objects : c.settings;
            fs::remove_all(home / name);
            if (kind == "dir")
                fs::create_directory(home / name);
            else if (kind == "loop")
                fs::create_symlink(name, home / name);
        }
        if (std::string(c.objects).empty()) Objects("[A]\nName=A\nLink=TCP\nPort=1\n");
        const Output r = RunFor(home, "0.1");
        EXPECT_NE((r.out + r.err).find(c.said), std::string::npos) << c.said << "\n"
                                                                   << r.out << r.err;
    }
}

// Every note of a file counts its lines alike: a lone CR ends one.
TEST_F(NuqRun, NotesOfAFileNameTheSameLine) {
    Objects("[A]\rName=Котельная\nLink=TCP\nPort=1\n\xCA\xEB\xFE\xF7=1\n");
    const Output r = RunFor(home, "0.2");
    for (const char* said :
         {"objects.ini, строка 5: ключ Ключ неизвестен и пропущен",
          "objects.ini, стр. 5: строка не в кодировке UTF-8, прочитана как cp1251"})
        EXPECT_NE(r.out.find(said), std::string::npos) << said << "\n" << r.out;
}

// The alarm code of a packet is shown with its text from the object's
// script, though the byte is hidden from the parameter table.
// Both files mix encodings: the cp1251 comment of the UTF-8 script and the
// cp1251 line of objects.ini are said, and the caption still matches.
TEST_F(NuqRun, ShowsTheAlarmCodesText) {
    std::ofstream(home / "alarm.nqs")
        << "#script;\n// \xCA\xEE\xE4 \xE0\xE2\xE0\xF0\xE8\xE8\n#defbyte 1;\nType = IsByte;\n"
           "Caption = 'Код аварии';\nVisible = False;\n"
           "#enddefbyte;\n#defcrash;\nCode 2 -> 'Загазованность помещения';\n#enddefcrash;\n"
           "#endscript;\n";
    SimProcess sim(kSimController, {"--tcp", "0", "--packet", "020000", "--request", "REQ"});
    const int port = sim.Port();
    ASSERT_GT(port, 0);
    Objects("[A]\nName=А\nLink=TCP\nHost=127.0.0.1\nPort=" + std::to_string(port) +
            "\nRequestPeriod=1\nRequestText=REQ\nScript=alarm.nqs\nKey=\xCA\xEB\xFE\xF7\n");
    SimProcess run(NUQ_EXE, {"--home", home.string(), "run"});
    EXPECT_NE(run.WaitForText("objects.ini, стр. 9: строка не в кодировке UTF-8, прочитана как "
                              "cp1251"),
              "<timeout>");
    EXPECT_NE(run.WaitForText("Скрипт alarm.nqs, стр. 2: строка не в кодировке UTF-8, прочитана "
                              "как cp1251 (комментарий)"),
              "<timeout>");
    EXPECT_NE(run.WaitForText("пакет 3 байта"), "<timeout>");
    const std::string shown = run.WaitForText("Код аварии");
    EXPECT_NE(shown.find("    Код аварии = 2 (Загазованность помещения)"), std::string::npos)
        << shown;
    EXPECT_EQ(run.Terminate(), 0);
}

// A host that never answers the connect (a listener whose one queue place is
// taken): the attempt is said when it starts, and 10060 follows within the
// connect's own limit of about 20 s, where the kernel would wait two minutes.
TEST_F(NuqRun, SilentHostIsSaidWithinTheConnectLimit) {
    TFullListener full;
    ASSERT_GT(full.Port, 0);
    ASSERT_TRUE(full.Fill());
    Objects("[A]\nName=А\nLink=TCP\nHost=127.0.0.1\nPort=" + std::to_string(full.Port) +
            "\nRequestPeriod=1\nRequestText=REQ\n");
    SimProcess run(NUQ_EXE, {"--home", home.string(), "run"});
    ASSERT_NE(run.WaitForText("Попытка соединения с \"А\" (0 из"), "<timeout>");
    // Each wait gives up after 10 s of silence; three of them bound the wait.
    std::string said = "<timeout>";
    for (int i = 0; i < 3 && said == "<timeout>"; ++i) said = run.WaitForText("Код ошибки: 10060");
    EXPECT_NE(said.find("Ошибка связи с \"А\". Код ошибки: 10060"), std::string::npos) << said;
    EXPECT_EQ(run.Terminate(), 0);
}

// A controller that never answers is said at each time-out, marked as not
// answering after MaxRequestFailCount of them, and its link opened anew.
TEST_F(NuqRun, MuteControllerIsReportedAndRestarted) {
    std::ofstream(home / "setting.ini")
        << "[FlowSettings]\nReconnectQuick=1\nWailAnswerTimeout=1\nMaxRequestFailCount=2\n";
    SimProcess sim(kSimController, {"--tcp", "0", "--packet", "41", "--request", "NEVER"});
    const int port = sim.Port();
    ASSERT_GT(port, 0);
    Objects("[A]\nName=А\nLink=TCP\nHost=127.0.0.1\nPort=" + std::to_string(port) +
            "\nRequestPeriod=1\nRequestText=REQ\nScript=t.nqs\n");
    SimProcess run(NUQ_EXE, {"--home", home.string(), "run"});
    for (const char* said :
         {"Соединение с \"А\" установлено", "Объект \"А\" не ответил на запрос за 1 сек. (1 из 2)",
          "Объект \"А\" не ответил на запрос за 1 сек. (2 из 2)", "\"А\": Объект не отвечает",
          "Связь с \"А\" открывается заново", "Соединение с \"А\" установлено",
          "Объект \"А\" не ответил на запрос за 1 сек. (1 из 2)"})
        EXPECT_NE(run.WaitForText(said), "<timeout>") << said;
    EXPECT_EQ(run.Terminate(), 0);
}

// A serial device that goes away (the controller's pseudo-terminal closed)
// and comes back is opened again and polled again, its old data forgotten.
TEST_F(NuqRun, SerialDeviceGoneAndBackIsPolledAgain) {
    std::ofstream(home / "setting.ini") << "[FlowSettings]\nReconnectLong=1\n";
    const std::string com = (home / "COM7").string();
    auto sim = std::make_unique<SimProcess>(
        kSimController, std::vector<std::string>{"--serial", com, "--packet", "41"});
    ASSERT_EQ(sim->WaitFor("serial "), "serial " + com);
    Objects("[C]\nName=К\nLink=COM\nComPort=7\nRequestPeriod=1\nRequestText=REQ\nScript=t.nqs\n");
    setenv("NUQ_PORT_DIR", home.c_str(), 1);
    SimProcess run(NUQ_EXE, {"--home", home.string(), "run"});
    unsetenv("NUQ_PORT_DIR");
    ASSERT_NE(run.WaitForText("Температура = 65 °C"), "<timeout>");
    sim.reset();
    EXPECT_NE(run.WaitForText("Ошибка COM-порта для связи с \"К\". Код ошибки: 1024 (устройство "
                              "COM7 (" +
                              com + ") отключено)"),
              "<timeout>");
    EXPECT_NE(run.WaitForText("COM-порт для связи с \"К\" закрыт"), "<timeout>");
    EXPECT_NE(run.WaitForText("Повтор открытия COM-порта для связи с \"К\" через 1 сек."),
              "<timeout>");
    // Its link gone, the port is still the folder's: not found there, and
    // never the built-in device of that number, which may be other equipment.
    const std::string notFound = run.WaitForText("не найдено");
    EXPECT_NE(notFound.find("Ошибка COM-порта для связи с \"К\": устройство COM7 (" + com +
                            ") не найдено"),
              std::string::npos)
        << notFound;
    sim = std::make_unique<SimProcess>(kSimController,
                                       std::vector<std::string>{"--serial", com, "--packet", "42"});
    ASSERT_EQ(sim->WaitFor("serial "), "serial " + com);
    // The packets before the link went say nothing of the plant now: no
    // "(Норма)" before the first packet of the new link.
    bool opened = false;
    for (std::string line; line.find("Температура = 66 °C") == std::string::npos;) {
        line = run.WaitForText("");
        ASSERT_NE(line, "<timeout>");
        ASSERT_NE(line, "<eof>");
        opened = opened || line.find("COM-порт для связи с \"К\" открыт") != std::string::npos;
        EXPECT_EQ(line.find("(Норма)"), std::string::npos) << line;
    }
    EXPECT_TRUE(opened);
    EXPECT_EQ(run.Terminate(), 0);
}

// Run as a service: one run per home folder (the second is refused, naming
// the first), stopped cleanly by a hang-up, and by its standard output going
// away (a pipe whose reader closed) with a status that says so.
TEST_F(NuqRun, OneRunPerHomeStoppedCleanly) {
    Objects("[A]\nName=A\nLink=TCP\nHost=127.0.0.1\nPort=1\n");
    SimProcess first(NUQ_EXE, {"--home", home.string(), "run"});
    ASSERT_NE(first.WaitForText("Опрос запущен"), "<timeout>");
    const Output second = RunFor(home, "0.5");
    EXPECT_EQ(second.status, 4);
    EXPECT_NE(second.err.find("уже занята другим запуском nuq run (PID " +
                              std::to_string(first.Pid) + ","),
              std::string::npos)
        << second.err;
    EXPECT_EQ(second.out, "");
    kill(first.Pid, SIGHUP);
    EXPECT_NE(first.WaitForText("Опрос остановлен"), "<timeout>");
    EXPECT_EQ(first.Wait(), 0);

    // The lock went with its holder.
    SimProcess piped(NUQ_EXE, {"--home", home.string(), "run"});
    ASSERT_NE(piped.WaitForText("Опрос запущен"), "<timeout>");
    close(piped.Out);
    piped.Out = -1;
    EXPECT_EQ(piped.Wait(), 3);
}

// A stop asked while a modem command or a DDE request waits for its answer
// does not wait for it; a second signal ends a stop that is itself waiting on
// a mute modem, as the signal ends a process.
TEST_F(NuqRun, StopsAtOnceInsideAPendingWait) {
    {
        std::ifstream plant(std::string(NUQ_SOURCE_DIR) + "/examples/plant/objects.ini");
        std::string map;
        for (std::string line; std::getline(plant, line);)
            if (line.rfind("OPCMap=", 0) == 0) map = line;
        Objects("[O]\nName=О\nLink=DDE\nDDEService=NuqPlant\n" + map + "\n");
        SimProcess dde(std::string(NUQ_BINARY_DIR) + "/sim/dde/nuq-sim-dde",
                       {"--dir", home.string(), "--stall", "600000",
                        std::string(NUQ_SOURCE_DIR) + "/sim/dde/plant.ini"});
        ASSERT_EQ(dde.WaitFor("ready"), "ready");
        setenv("NUQ_DDE_DIR", home.c_str(), 1);
        setenv("NUQ_DDE_TIMEOUT", "600000", 1); // longer than the test waits
        SimProcess run(NUQ_EXE, {"--home", home.string(), "run"});
        unsetenv("NUQ_DDE_DIR");
        unsetenv("NUQ_DDE_TIMEOUT");
        ASSERT_NE(run.WaitForText("Опрос запущен"), "<timeout>");
        kill(run.Pid, SIGTERM);
        EXPECT_NE(run.WaitForText("Опрос остановлен"), "<timeout>");
        EXPECT_EQ(run.Wait(), 0);
    }
    const std::string modemSim = std::string(NUQ_BINARY_DIR) + "/sim/modem/nuq-sim-modem";
    setenv("NUQ_PORT_DIR", home.c_str(), 1);
    SimProcess modem(modemSim, {"--serial", (home / "COM7").string(), "--stdin-control"});
    ASSERT_NE(modem.WaitFor("serial "), "<timeout>");
    std::ofstream(home / "setting.ini")
        << "[Modem]\nModemCount=1\n[Modem_0]\nPortNumber=7\nBaudrate=115200\n"
           "[ModemInit]\nStepCount=1\nStep_0=ATE0\n";
    Objects("[G]\nName=Г\nLink=GPRS\nModemPort=7\nIdent=7\n");
    modem.Control("silent ATE0 0");
    {
        SimProcess run(NUQ_EXE, {"--home", home.string(), "run"});
        ASSERT_NE(run.WaitForText("Шаг 1 из 1"), "<timeout>");
        kill(run.Pid, SIGTERM);
        // The wait gives up for the stop: no step is reported failed, and
        // the stop ends long before the step's answer time.
        for (std::string line; line.find("Опрос остановлен") == std::string::npos;) {
            line = run.WaitForText("");
            ASSERT_NE(line, "<timeout>");
            ASSERT_NE(line, "<eof>");
            EXPECT_EQ(line.find("Ошибка при инициализация"), std::string::npos) << line;
        }
        EXPECT_EQ(run.Wait(), 0);
    }
    modem.Control("clear");
    SimProcess run("/bin/sh",
                   {"-c", "\"$0\" --home \"$1\" run; echo exit $?", NUQ_EXE, home.string()});
    unsetenv("NUQ_PORT_DIR");
    ASSERT_NE(run.WaitForText("подключен к сети"), "<timeout>");
    modem.Control("silent AT 0");
    const pid_t nuq = std::stoi(ReadAll(home / "nuq.lock"));
    kill(nuq, SIGTERM);
    usleep(300 * 1000);
    kill(nuq, SIGTERM);
    EXPECT_EQ(run.WaitFor("exit "), "exit 143");
    kill(nuq, SIGKILL); // should it have outlived the test
}

// What stopped the run is said in its last lines. A hang-up ends the run
// with 0 so that the service manager starts it again on the home's files as
// they are now, and the log says so; a hang-up the caller ignores stays ignored.
TEST_F(NuqRun, LastLinesSayWhatStoppedTheRun) {
    Objects("[A]\nName=A\nLink=TCP\nHost=127.0.0.1\nPort=1\n");
    const std::string folder = home.string() + "/";
    struct Case {
        const char* invocationId; // the service manager's mark; "" for none
        bool hangUpIgnored;
        std::vector<int> signals;
        std::vector<std::string> last;
    };
    const Case cases[] = {
        {"a1b2",
         false,
         {SIGHUP},
         {"Опрос остановлен: сигнал SIGHUP",
          "Служба будет запущена заново и прочитает файлы папки " + folder +
              " в их нынешнем виде"}},
        {"",
         false,
         {SIGHUP},
         {"Опрос остановлен: сигнал SIGHUP",
          "Файлы папки " + folder + " на ходу не перечитываются: запустите nuq run заново"}},
        {"a1b2", true, {SIGHUP, SIGTERM}, {"Опрос остановлен: сигнал SIGTERM"}},
        {"", false, {SIGINT}, {"Опрос остановлен: сигнал SIGINT"}},
    };
    for (const Case& c : cases) {
        if (*c.invocationId) setenv("INVOCATION_ID", c.invocationId, 1);
        SimProcess run("/bin/sh", {"-c",
                                   std::string(c.hangUpIgnored ? "trap '' HUP; " : "") +
                                       "exec \"$0\" --home \"$1\" run",
                                   NUQ_EXE, home.string()});
        unsetenv("INVOCATION_ID");
        ASSERT_NE(run.WaitForText("Опрос запущен"), "<timeout>");
        for (int signal : c.signals) {
            kill(run.Pid, signal);
            usleep(200 * 1000); // an ignored signal has nothing to show for it
        }
        std::vector<std::string> lines;
        for (std::string line; (line = run.WaitForText("")) != "<eof>";) {
            ASSERT_NE(line, "<timeout>");
            lines.push_back(line.substr(line.find(":  ") + 3));
        }
        ASSERT_GE(lines.size(), c.last.size());
        EXPECT_EQ(std::vector<std::string>(lines.end() - ptrdiff_t(c.last.size()), lines.end()),
                  c.last)
            << c.signals.size() << " signals";
        EXPECT_EQ(run.Wait(), 0);
    }
    const Output timed = RunFor(home, "0.5");
    EXPECT_EQ(timed.status, 0);
    EXPECT_NE(timed.out.find(":  Опрос остановлен: истекло время работы (--for 0.5 сек.)\n"),
              std::string::npos)
        << timed.out;
}

// A reader of the log that stops reading (a paused pager, a slow journal)
// holds up neither the requests nor their answers' handling: the lines it
// does not take queue within a bound, and those dropped beyond it are
// counted and said once it reads again.
TEST_F(NuqRun, StalledLogReaderHoldsNothingUp) {
    constexpr int Blocks = 1000, Flood = 400; // some 14 MB of log
    WriteBlocksScript(home / "many.nqs", Blocks);
    const TListener listener;
    ASSERT_GT(listener.Port, 0);
    Objects("[A]\nName=А\nLink=TCP\nHost=127.0.0.1\nPort=" + std::to_string(listener.Port) +
            "\nRequestPeriod=1\nRequestText=REQ\nScript=many.nqs\n");
    SimProcess run(NUQ_EXE, {"--home", home.string(), "run"});
    const int conn = accept(listener.Fd, nullptr, nullptr);
    ASSERT_GE(conn, 0);
    std::string received;
    ASSERT_EQ(simtest::ReadUntil(conn, received, "\r\n"), "<REQ>");
    // From here the log is not read. The flood answers the request; each
    // later request is answered too, as a controller does.
    std::string flood;
    for (int k = 0; k < Flood; ++k) flood += "<01>\r\n";
    simtest::WriteAll(conn, flood);
    for (int k = 0; k < 3; ++k) {
        ASSERT_EQ(simtest::ReadUntil(conn, received, "\r\n"), "<REQ>") << "request " << k + 2;
        simtest::WriteAll(conn, "<02>\r\n");
    }
    // Read again: the gap is said, with its size.
    const std::string said = run.WaitForText("Стандартный вывод не принимал журнал");
    const std::regex dropped(
        R"(.*:  Стандартный вывод не принимал журнал, пропущено строк: [1-9]\d*)");
    EXPECT_TRUE(std::regex_match(said, dropped)) << said;
    kill(run.Pid, SIGTERM);
    EXPECT_NE(run.WaitForText("Опрос остановлен"), "<timeout>");
    EXPECT_EQ(run.Wait(), 0);
    close(conn);
}

// Without setting.ini every value takes its default: a mute controller
// is waited for (one request, not one each period) and a link that keeps
// failing counts its attempts against MaxConnectTry.
TEST_F(NuqRun, MissingSettingsTakeTheirDefaults) {
    fs::remove(home / "setting.ini");
    SimProcess sim(kSimController, {"--tcp", "0", "--packet", "41", "--request", "NEVER"});
    const int port = sim.Port();
    ASSERT_GT(port, 0);
    Objects("[A]\nName=А\nLink=TCP\nHost=127.0.0.1\nPort=" + std::to_string(port) +
            "\nRequestPeriod=1\nRequestText=REQ\n[B]\nName=Б\nLink=TCP\nHost=127.0.0.1\nPort=1\n");
    SimProcess run(NUQ_EXE, {"--home", home.string(), "run"});
    int requests = 0;
    for (std::string line; line.find("Попытка соединения с \"Б\" (3 из 5)") == std::string::npos;) {
        line = run.WaitForText("");
        ASSERT_NE(line, "<timeout>");
        ASSERT_NE(line, "<eof>");
        if (line.find("\"А\" >>> <REQ>") != std::string::npos) ++requests;
    }
    EXPECT_EQ(requests, 1);
    EXPECT_EQ(run.Terminate(), 0);
}

// A file-size limit on the trace is a full disk: the trace is said not
// written, once, and the run goes on.
TEST_F(NuqRun, FileSizeLimitIsAFullDisk) {
    SimProcess sim(kSimController, {"--tcp", "0", "--packet", "41", "--request", "REQ"});
    const int port = sim.Port();
    ASSERT_GT(port, 0);
    Objects("[A]\nName=А\nLink=TCP\nHost=127.0.0.1\nPort=" + std::to_string(port) +
            "\nRequestPeriod=1\nRequestText=REQ\nScript=t.nqs\n");
    // The trace files of this hour and the next already at the limit.
    fs::create_directories(home / "Logs");
    for (time_t t : {time(nullptr), time(nullptr) + 3600}) {
        tm local{};
        localtime_r(&t, &local);
        char name[64];
        strftime(name, sizeof name, "trace_%Y_%m_%d-%H.txt", &local);
        std::ofstream(home / "Logs" / name) << std::string(1024, '.');
    }
    SimProcess run("/bin/sh", {"-c", "ulimit -f 2 && exec \"$0\" --home \"$1\" run --trace",
                               NUQ_EXE, home.string()});
    const std::string said = run.WaitForText("не записана");
    EXPECT_NE(said.find("Трассировка в " + (home / "Logs").string()), std::string::npos) << said;
    for (int packets = 0; packets < 2;) {
        const std::string line = run.WaitForText("");
        ASSERT_NE(line, "<timeout>");
        ASSERT_NE(line, "<eof>");
        EXPECT_EQ(line.find("не записана"), std::string::npos) << line;
        if (line.find("Температура = 65 °C") != std::string::npos) ++packets;
    }
    EXPECT_EQ(run.Terminate(), 0);

    // No room even for the lock's PID: said, and a second run is still refused.
    SimProcess first(
        "/bin/sh", {"-c", "ulimit -f 0 && exec \"$0\" --home \"$1\" run", NUQ_EXE, home.string()});
    std::string start;
    for (std::string line; line.find("Опрос запущен") == std::string::npos;) {
        line = first.WaitForText("");
        ASSERT_NE(line, "<timeout>");
        ASSERT_NE(line, "<eof>");
        start += line + "\n";
    }
    EXPECT_NE(start.find("PID этого запуска не записан в " + (home / "nuq.lock").string() + " ("),
              std::string::npos)
        << start;
    const Output second = RunFor(home, "0.5");
    EXPECT_EQ(second.status, 4);
    EXPECT_NE(second.err.find("уже занята другим запуском nuq run (его PID не записан, "),
              std::string::npos)
        << second.err;
    EXPECT_EQ(first.Terminate(), 0);
}

// Raising the serial threads' priority needs a right the service's user has
// not: the log says so once, and the ports work.
TEST_F(NuqRun, PriorityNotRaisedIsSaidOnce) {
    std::vector<std::unique_ptr<SimProcess>> sims;
    for (const char* com : {"COM7", "COM8"}) {
        sims.push_back(std::make_unique<SimProcess>(
            kSimController,
            std::vector<std::string>{"--serial", (home / com).string(), "--packet", "41"}));
        ASSERT_EQ(sims.back()->WaitFor("serial "), "serial " + (home / com).string());
    }
    Objects("[C]\nName=К\nLink=COM\nComPort=7\nRequestPeriod=1\nRequestText=REQ\nScript=t.nqs\n"
            "[D]\nName=Д\nLink=COM\nComPort=8\nRequestPeriod=1\nRequestText=REQ\nScript=t.nqs\n");
    setenv("NUQ_PORT_DIR", home.c_str(), 1);
    // Without the right to raise priorities, as an unprivileged user is.
    SimProcess run("/usr/bin/setpriv", {"--inh-caps=-sys_nice", "--bounding-set=-sys_nice", NUQ_EXE,
                                        "--home", home.string(), "run", "--for", "3"});
    unsetenv("NUQ_PORT_DIR");
    int said = 0;
    std::set<std::string> polled;
    for (std::string line; (line = run.WaitForText("")) != "<eof>";) {
        ASSERT_NE(line, "<timeout>");
        if (line.find("Приоритет потока COM-порта не повышен (nice -10): ") != std::string::npos)
            ++said;
        if (line.find("Температура = 65 °C") != std::string::npos) polled.insert("packet");
        if (line.find("COM-порт для связи с \"Д\" открыт") != std::string::npos) polled.insert("Д");
        if (line.find("COM-порт для связи с \"К\" открыт") != std::string::npos) polled.insert("К");
    }
    EXPECT_EQ(said, 1);
    EXPECT_EQ(polled, (std::set<std::string>{"packet", "Д", "К"}));
    EXPECT_EQ(run.Wait(), 0);
}

// What will not go as the file seems to say is said once, at start, with
// where: an object polled only when it connects, two objects of one name,
// a trace folder that cannot be made.
TEST_F(NuqRun, SaysAtStartWhatWillNotGoAsWritten) {
    std::ofstream(home / "setting.ini") << "[ShellSettings]\nLogDirectory=t.nqs/Logs\n";
    Objects("[A]\nName=Один\nLink=TCP\nHost=127.0.0.1\nPort=1\nRequestPeriod=0\nRequestText=R\n"
            "[B]\nName=Один\nLink=TCP\nHost=127.0.0.1\nPort=2\n"
            "[C]\nName=Ручной\nStatus=2\nLink=TCP\nHost=127.0.0.1\nPort=3\nRequestPeriod=0\n");
    const Output r = RunFor(home, "0.3", " --trace");
    EXPECT_EQ(r.status, 0) << r.err;
    const std::string once[] = {
        "\"Один\": связь TCP 127.0.0.1:1; скрипт не задан, пакеты показываются без расшифровки; "
        "RequestPeriod=0: опрашивается один раз при соединении, а затем не опрашивается\n",
        "Имя \"Один\" носят несколько объектов ([A], [B]): в журнале их не различить\n",
        "Трассировка не ведётся: папка журналов " + home.string() + "/t.nqs/Logs не создана: ",
    };
    for (const std::string& line : once) {
        const size_t at = r.out.find(line);
        EXPECT_NE(at, std::string::npos) << line << "\n" << r.out;
        EXPECT_EQ(r.out.find(line, at + 1), std::string::npos) << line << "\n" << r.out;
    }
    EXPECT_EQ(r.out.find("RequestPeriod=0", r.out.find("\"Ручной\"")), std::string::npos) << r.out;
}

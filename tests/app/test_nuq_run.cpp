// nuq run as the main job: objects of a home folder polled against the
// controller simulator, logged, and stopped cleanly.

#include "common/SimProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <signal.h>

namespace fs = std::filesystem;
using simtest::SimProcess;

namespace {

const std::string kSimController = std::string(NUQ_BINARY_DIR) + "/sim/controller/nuq-sim-controller";

class NuqRun : public ::testing::Test {
protected:
    fs::path home = fs::temp_directory_path() / ("nuq-run-" + std::to_string(getpid()));
    void SetUp() override {
        fs::create_directories(home);
        std::ofstream(home / "setting.ini") << "[FlowSettings]\nReconnectQuick=1\n";
        std::ofstream(home / "t.nqs") << "#script;\n#defbyte 1;\nType = IsByte;\nCaption = 'Температура';\n"
                                         "MetricUnit = '°C';\n#enddefbyte;\n#endscript;\n";
    }
    void TearDown() override { fs::remove_all(home); }
    void Objects(const std::string& text) { std::ofstream(home / "objects.ini") << text; }
};

} // namespace

TEST_F(NuqRun, PollsLogsAndStopsOnSignal) {
    SimProcess sim(kSimController, {"--tcp", "0", "--packet", "41", "--request", "REQ"});
    const int port = sim.Port();
    ASSERT_GT(port, 0);
    Objects("[A]\nName=Котельная А\nLink=TCP\nHost=127.0.0.1\nPort=" + std::to_string(port) +
            "\nRequestPeriod=1\nRequestText=REQ\nScript=t.nqs\n"
            "[B]\nName=Без связи\nLink=Радио\n");
    SimProcess run(NUQ_EXE, {"--home", home.string(), "run"});
    const std::string skipped = run.WaitForText("не загружен");
    EXPECT_NE(skipped.find("Объект \"Без связи\" не загружен: неизвестный вид связи \"Радио\""), std::string::npos);
    // Log lines: date and time, a colon, two blanks, the text.
    const std::string connected = run.WaitForText("установлено");
    EXPECT_NE(connected.find(":  Соединение с \"Котельная А\" установлено"), std::string::npos) << connected;
    EXPECT_EQ(connected[2], '.');
    EXPECT_NE(run.WaitForText("Температура = 65 °C"), "<timeout>");
    EXPECT_EQ(run.Terminate(), 0);  // SIGTERM: objects stopped, links closed, exit 0
}

TEST_F(NuqRun, StopsByItselfAndReportsMissingObjects) {
    SimProcess none(NUQ_EXE, {"--home", home.string(), "run", "--for", "1"});
    EXPECT_NE(none.WaitForText("objects.ini"), "<timeout>");
    EXPECT_EQ(none.Wait(), 2);

    Objects("[A]\nName=A\nLink=TCP\nHost=127.0.0.1\nPort=1\n");
    SimProcess run(NUQ_EXE, {"--home", home.string(), "run", "--for", "1.5"});
    EXPECT_NE(run.WaitForText("Опрос остановлен"), "<timeout>");
    EXPECT_EQ(run.Wait(), 0);
}

// An object on a modem link: the modem simulator on a pseudo-terminal linked
// as COM7, its listener reached by a controller in client mode.
TEST_F(NuqRun, ObjectOnAModemLink) {
    const std::string modemSim = std::string(NUQ_BINARY_DIR) + "/sim/modem/nuq-sim-modem";
    setenv("NUQ_PORT_DIR", home.c_str(), 1);
    SimProcess modem(modemSim, {"--serial", (home / "COM7").string(), "--listen", "0",
                                "--balance", "Баланс 12,50 р."});
    const int port = modem.Port();
    ASSERT_GT(port, 0);
    ASSERT_NE(modem.WaitFor("serial "), "<timeout>");
    SimProcess controller(kSimController, {"--connect", "127.0.0.1:" + std::to_string(port),
                                           "--ident", "7", "--packet", "41", "--request", "REQ",
                                           "--reconnect", "300"});
    std::ofstream(home / "setting.ini")
        << "[FlowSettings]\nReconnectQuick=1\nReCallStep=600\nReCallTryMax=1\n"
           "[Modem]\nModemCount=2\n"
           "[Modem_0]\nPortNumber=7\nBaudrate=115200\nTCPPort=2222\nCmdGetBalance=*100#\n"
           "[Modem_1]\nPortNumber=8\n"
           "[ModemInit]\nStepCount=1\nStep_0=ATE0\n";
    Objects("[G]\nName=Котельная Г\nLink=GPRS\nModemPort=7\nPhone=+79007\nIdent=7\nCallMode=0\n"
            "APN=internet\nRequestPeriod=1\nRequestText=REQ\nScript=t.nqs\n"
            "[H]\nName=Без модема\nLink=GPRS\nModemPort=9\n");
    SimProcess run(NUQ_EXE, {"--home", home.string(), "run"});
    unsetenv("NUQ_PORT_DIR");
    EXPECT_NE(run.WaitForText("Объект \"Без модема\" не загружен: модем на COM9 не описан"),
              "<timeout>");
    // In whatever order they come.
    std::vector<std::string> wanted{"Баланс модема (COM7): Баланс 12,50 р.",
                                    "Cоединение с \"Котельная Г\" установлено",
                                    "Температура = 65 °C"};
    while (!wanted.empty()) {
        const std::string line = run.WaitForText("");
        ASSERT_NE(line, "<timeout>") << wanted[0];
        ASSERT_NE(line, "<eof>") << wanted[0];
        for (size_t i = 0; i < wanted.size(); ++i)
            if (line.find(wanted[i]) != std::string::npos) wanted.erase(wanted.begin() + ptrdiff_t(i));
    }
    EXPECT_EQ(run.Terminate(), 0);
}

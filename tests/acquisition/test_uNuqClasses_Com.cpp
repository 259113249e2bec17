// The serial link of a boiler room, against the controller simulator on a
// pseudo-terminal linked as COM7.

#include "acquisition/uNuqClasses.h"
#include "common/SimProcess.h"
#include "platform/DateUtils.h"
#include "platform/EventLoop.h"
#include "platform/Host.h"
#include "platform/PtyPair.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace nuq;
namespace fs = std::filesystem;

namespace {

const std::string kSimController =
    std::string(NUQ_BINARY_DIR) + "/sim/controller/nuq-sim-controller";

class ComLink : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("nuq-com-" + std::to_string(getpid()));
    std::unique_ptr<TBoilerRoom> room = std::make_unique<TBoilerRoom>();
    std::vector<std::pair<std::string, int>> messages;
    std::vector<std::string> data;

    void SetUp() override {
        SetMainThread();
        fs::create_directories(dir);
        setenv("NUQ_PORT_DIR", dir.c_str(), 1);
        room->Name = "КТ-7";
        room->Status = 1;
        room->OnStatusChange = [this](TBoilerRoom&, const std::string& m, int kind) {
            if (!m.empty()) messages.emplace_back(m, kind);
        };
        room->OnData = [this](TBoilerRoom&, const std::string& line) { data.push_back(line); };
    }
    void TearDown() override {
        room.reset();
        unsetenv("NUQ_PORT_DIR");
        fs::remove_all(dir);
    }
};

} // namespace

TEST_F(ComLink, LineSettingsFollowTheRecord) {
    struct Case {
        int baud;
        TSerBaudrate rate;
        int bits;
        TSerDatabits databits;
        int stop;
        TSerStopbits stopbits;
    };
    for (const auto& c :
         {Case{9600, br9600, 8, db8, 1, sb1}, Case{7200, br9600, 7, db7, 2, sb2},
          Case{115200, br115200, 4, db4, 0, sb1}, Case{14400, br14400, 9, db8, 3, sb1},
          Case{256000, br256000, 3, db8, 2, sb2}}) {
        room->SetComPortConnection(7, c.baud, c.bits, c.stop, 2, 0);
        EXPECT_EQ(room->SerialPort()->Baudrate(), c.rate) << c.baud;
        EXPECT_EQ(room->SerialPort()->Databits(), c.databits) << c.bits;
        EXPECT_EQ(room->SerialPort()->Stopbits(), c.stopbits) << c.stop;
        EXPECT_EQ(room->SerialPort()->Parity(), paEven);
        EXPECT_FALSE(room->SerialPort()->MonitorEvents().Contains(ceError));
    }
    room->SetComPortConnection(7, 9600, 8, 1, 0, 7);
    TSerFlowControl& flow = room->SerialPort()->FlowControl();
    EXPECT_TRUE(flow.OutDsrFlow());
    EXPECT_TRUE(flow.OutCtsFlow());
    EXPECT_TRUE(flow.XonXoffIn());
    EXPECT_TRUE(flow.XonXoffOut());
    EXPECT_EQ(flow.ControlDtr(), dtrEnabled);
    EXPECT_EQ(flow.ControlRts(), rtsEnabled);
    room->SetComPortConnection(7, 9600, 8, 1, 0, 2);
    EXPECT_FALSE(room->SerialPort()->FlowControl().OutDsrFlow());
    EXPECT_TRUE(room->SerialPort()->FlowControl().OutCtsFlow());
}

TEST_F(ComLink, MissingPortIsReportedNotRaised) {
    room->SetComPortConnection(9, 9600, 8, 1, 0, 0);
    EXPECT_NO_THROW(room->Start(5, 0));
    ASSERT_EQ(messages.size(), 2u);
    // In Russian, naming the device that was looked for; then when it is tried again.
    EXPECT_EQ(messages[0].first.rfind("Ошибка COM-порта для связи с \"КТ-7\": устройство COM9", 0),
              0u)
        << messages[0].first;
    EXPECT_NE(messages[0].first.find("не найдено"), std::string::npos) << messages[0].first;
    EXPECT_EQ(messages[0].second, smError);
    EXPECT_EQ(messages[1].first, "Повтор открытия COM-порта для связи с \"КТ-7\" через 60 сек.");
    EXPECT_TRUE(room->NoAnswer);
    EXPECT_FALSE(room->Connected);
    room->Stop();
}

TEST_F(ComLink, EndToEndWithTheController) {
    simtest::SimProcess sim(kSimController, {"--serial", (dir / "COM7").string(), "--packet",
                                             "41 02", "--request", "REQ", "--echo"});
    ASSERT_EQ(sim.WaitFor("serial "), "serial " + (dir / "COM7").string());
    room->LoadScript(
        "#script;\n#defbyte 1;\nType = IsByte;\nCaption = 'T';\n#enddefbyte;\n#endscript;\n");
    std::vector<std::string> sent;
    room->OnDataSent = [&](TBoilerRoom&, const std::string& text, bool ok) {
        if (ok) sent.push_back(text);
    };
    room->InitRequestTimer(60, [](TBoilerRoom& r) { r.SendText("REQ", true); });
    room->SetComPortConnection(7, 9600, 8, 1, 0, 0);
    room->EnableTimers(true);
    room->Start(60, 0);

    // The first request goes out as soon as the port opens.
    ASSERT_TRUE(ProcessMessagesUntil([&] { return !data.empty(); }, 10000));
    EXPECT_TRUE(room->Connected);
    EXPECT_EQ(room->State, bsConnected);
    EXPECT_EQ(messages.front(),
              (std::pair<std::string, int>{"COM-порт для связи с \"КТ-7\" открыт", smInfo}));
    EXPECT_EQ(sent.front(), "<REQ>");
    EXPECT_EQ(data.front(), "4102");

    room->SendText("SET 1", true);
    ASSERT_TRUE(ProcessMessagesUntil(
        [&] { return std::find(data.begin(), data.end(), "OK:SET 1") != data.end(); }, 10000));

    room->Stop();
    EXPECT_FALSE(room->Connected);
    EXPECT_EQ(room->State, bsNotConnected);
    EXPECT_EQ(messages.back(),
              (std::pair<std::string, int>{"COM-порт для связи с \"КТ-7\" закрыт", smInfo}));
}

// The port opened again starts with an empty receive buffer: the half line
// read before it was closed does not glue onto the next packet.
TEST(ComLinkReopen, HalfLineBeforeClosingIsDropped) {
    SetMainThread();
    nuqtest::TPtyPair pty(7);
    TBoilerRoom room;
    std::vector<std::string> data;
    room.OnData = [&](TBoilerRoom&, const std::string& line) { data.push_back(line); };
    room.SetComPortConnection(7, 9600, 8, 1, 0, 0);
    room.Start(10, 0);
    ASSERT_TRUE(room.Connected);
    ASSERT_TRUE(pty.Send("<4102"));
    ASSERT_TRUE(ProcessMessagesUntil([&] { return room.RxBuffer.Count() == 5; }, 10000));
    room.Stop();
    room.Start(10, 0);
    ASSERT_TRUE(room.Connected);
    ASSERT_TRUE(pty.Send("<4201>\r\n"));
    ASSERT_TRUE(ProcessMessagesUntil([&] { return !data.empty(); }, 10000));
    EXPECT_EQ(data, std::vector<std::string>{"4201"});
    room.Stop();
}

// A device that goes away (the pseudo-terminal closed, as an adapter pulled)
// is closed and said; while it is missing the port is tried every
// ReconnectLong seconds, its failure said once; once a device is back the
// object is polled again.
TEST(ComLinkReopen, DeviceGoneAndBackIsOpenedAgain) {
    SetMainThread();
    const fs::path home = fs::temp_directory_path() / ("nuq-com-back-" + std::to_string(getpid()));
    fs::create_directories(home);
    std::ofstream(home / "setting.ini") << "[FlowSettings]\nReconnectLong=2\n";
    SetHostFolder(home.string());
    UseVirtualClock(EncodeDateTime(2026, 1, 10, 8), 1000);
    SetIdleGrace(30);
    auto pty = std::make_unique<nuqtest::TPtyPair>(7);
    TBoilerRoom room;
    room.Name = "КТ-7";
    std::vector<std::string> messages, data;
    room.OnStatusChange = [&](TBoilerRoom&, const std::string& m, int) {
        if (!m.empty()) messages.push_back(m);
    };
    room.OnData = [&](TBoilerRoom&, const std::string& line) { data.push_back(line); };
    room.SetComPortConnection(7, 9600, 8, 1, 0, 0);
    room.Start(10, 0);
    ASSERT_TRUE(room.Connected);
    pty->CloseMaster();
    ASSERT_TRUE(ProcessMessagesUntil([&] { return !room.Connected; }, 10000));
    pty.reset();
    ProcessMessagesUntil([] { return false; }, 7000); // three tries without a device
    pty = std::make_unique<nuqtest::TPtyPair>(7);
    ASSERT_TRUE(ProcessMessagesUntil([&] { return room.Connected; }, 10000));
    ASSERT_TRUE(pty->Send("<4201>\r\n"));
    ASSERT_TRUE(ProcessMessagesUntil([&] { return !data.empty(); }, 10000));
    EXPECT_EQ(data, std::vector<std::string>{"4201"});
    const std::vector<std::string> said{
        "COM-порт для связи с \"КТ-7\" открыт",
        "Ошибка COM-порта для связи с \"КТ-7\". Код ошибки: ",
        "COM-порт для связи с \"КТ-7\" закрыт",
        "Повтор открытия COM-порта для связи с \"КТ-7\" через 2 сек.",
        "Ошибка COM-порта для связи с \"КТ-7\": устройство COM7",
        "Повтор открытия COM-порта для связи с \"КТ-7\" через 2 сек.",
        "COM-порт для связи с \"КТ-7\" открыт"};
    ASSERT_EQ(messages.size(), said.size()) << ::testing::PrintToString(messages);
    for (size_t i = 0; i < said.size(); ++i)
        EXPECT_EQ(messages[i].rfind(said[i], 0), 0u) << messages[i];
    room.Stop();
    SetIdleGrace(-1);
    UseRealClock();
    SetHostFolder("");
    fs::remove_all(home);
}

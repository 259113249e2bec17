// The modem's AT dialogue against the modem simulator: the exact byte stream
// of initialisation, going online and going offline, retries and give-ups,
// and the waits' edge cases.

#include "ModemFixture.h"

using namespace modemtest;

namespace {

const char* kFlow =
    "ReconnectQuick=2\nReconnectLong=60\nMaxConnectTry=3\nReInitModemStep=5\nReInitModemTryMax=2\n"
    "InternetConnectTryMax=3\nReCallStep=7\nReCallTryMax=1\n";

} // namespace

TEST_F(ModemTest, InitOnlineAndOfflineByteStreams) {
    Settings(kFlow, {"ATE0", "AT+CMGF=1"});
    StartSim();
    sim->Control("store +79001112233 старое");
    MakeModem();
    Attach("ТК-1", "+79001112233", "77");
    modem->Connect();
    EXPECT_EQ(SimLog(), Cmd("ATE0") + Cmd("AT+CMGF=1") + Cmd("at+cmgl=\"all\"") + Cmd("at+cmgd=1") +
                            InitSocketCommands() + InitProfileCommands());
    EXPECT_TRUE(HasTask(std::string("0") + TaskKindEnd));
    EXPECT_TRUE(HasMessage("COM7  : COM7 открыт"));

    ResetLog();
    ASSERT_TRUE(WaitFor([&] { return modem->Online; }));
    EXPECT_EQ(SimLog(), "\r\n" + Cmd("AT^SISO=0") + Cmd("AT^SISO?"));
    EXPECT_EQ(modem->LocalIP, "10.0.0.5");
    EXPECT_EQ(modem->LocalPort, 2222);
    EXPECT_TRUE(HasMessage("Модем (COM7) подключен к сети"));

    ResetLog();
    modem->Disconnect();
    std::string off = "\x1B";
    for (int n = 1; n <= 9; ++n)
        off += Cmd("AT^SISC=" + std::to_string(n)) +
               Cmd("AT^SISS=" + std::to_string(n) + ",srvtype,none");
    off += Cmd("AT^SISC=0") + Cmd("AT^SISS=0,srvtype,none") + Cmd("AT^SICC=0");
    EXPECT_EQ(SimLog(), off);
    EXPECT_FALSE(modem->Port->IsOpen());
    EXPECT_TRUE(modem->Tasks.empty());
}

TEST_F(ModemTest, NoStepsGoesStraightToSmsAndSockets) {
    Settings(kFlow, {});
    StartSim();
    MakeModem();
    modem->Connect();
    EXPECT_EQ(SimLog(), Cmd("at+cmgl=\"all\"") + InitSocketCommands() + InitProfileCommands());
    // Nothing attached: no network connection is started.
    EXPECT_TRUE(modem->Tasks.empty());
    EXPECT_EQ(modem->ReInitTimer(), nullptr);
}

TEST_F(ModemTest, FailingStepReinitialisesThenGivesUp) {
    Settings(kFlow, {"ATE0", "AT+CSDH=1"});
    StartSim();
    sim->Control("error AT+CSDH");
    MakeModem();
    TBoilerRoom& room = Attach("ТК-1", "+7900", "1");
    modem->Connect();
    EXPECT_TRUE(HasMessage("Ошибка при инициализация модема (COM7). Шаг 2"));
    ASSERT_NE(modem->ReInitTimer(), nullptr);
    EXPECT_TRUE(modem->ReInitTimer()->Enabled());
    ASSERT_TRUE(WaitFor([&] { return !failures.empty(); }));
    EXPECT_EQ(SimLog(), Cmd("ATE0") + Cmd("AT+CSDH=1") + Cmd("ATE0") + Cmd("AT+CSDH=1"));
    EXPECT_EQ(failures[0],
              "Не удалось произвести инициализацию модема COM7. Проверьте его работоспособность и "
              "корректность настроек.");
    EXPECT_EQ(room.State, bsModemInitError);
    EXPECT_TRUE(room.NoAnswer);
    EXPECT_EQ(modem->ReInitTimer(), nullptr); // given up for good
}

TEST_F(ModemTest, ProfileRefusedReinitialises) {
    Settings(kFlow, {"ATE0"});
    StartSim();
    sim->Control("error AT^SISS=0,srvtype,socket 1");
    MakeModem();
    Attach("ТК-1", "+7900", "1");
    modem->Connect();
    ASSERT_NE(modem->ReInitTimer(), nullptr);
    EXPECT_TRUE(modem->Tasks.empty());
    ASSERT_TRUE(WaitFor([&] { return !modem->Tasks.empty(); }));
    EXPECT_EQ(modem->InitAttempt, 2);
}

TEST_F(ModemTest, PortOpenRetriesThenState4) {
    Settings(kFlow);
    MakeModem(9); // nothing is linked as COM9
    TBoilerRoom& room = Attach("ТК-1", "+7900", "1");
    modem->Connect();
    EXPECT_TRUE(HasMessage("Открытие COM9 (1 из 3)..."));
    ASSERT_TRUE(WaitFor([&] { return room.State == bsComPortError; }));
    EXPECT_TRUE(HasMessage("Открытие COM9 (3 из 3)..."));
    EXPECT_TRUE(HasMessage("Не удалось открыть (COM9). Следуюшая попытка через 60 сек."));
    EXPECT_TRUE(room.NoAnswer);
    EXPECT_EQ(modem->OpenAttempt, 0);
    ASSERT_NE(modem->OpenTimer(), nullptr);
    EXPECT_EQ(modem->OpenTimer()->Interval(), 60000u);
    EXPECT_TRUE(modem->OpenTimer()->Enabled());
    // The next series says its attempts, not the same reason again.
    EXPECT_TRUE(HasMessage("Ошибка открытия COM9: устройство COM9"));
    messages.clear();
    ASSERT_TRUE(WaitFor([&] { return HasMessage("Не удалось открыть (COM9)"); }));
    EXPECT_TRUE(HasMessage("Открытие COM9 (1 из 3)..."));
    EXPECT_FALSE(HasMessage("Ошибка открытия COM9")) << messages[0];
}

TEST_F(ModemTest, ErrorEndsTheWaitAndIsReported) {
    Settings(kFlow, {});
    StartSim();
    MakeModem();
    modem->Connect();
    sim->Control("error AT+FOO");
    messages.clear();
    EXPECT_TRUE(modem->SendCommand(Cmd("AT+FOO")));
    EXPECT_FALSE(modem->WaitAnswer("OK", 600000));
    EXPECT_TRUE(HasMessage("Модем вернул сигнал \"Error\"."));
    EXPECT_TRUE(modem->SendCommand(Cmd("AT+FOO")));
    EXPECT_EQ(modem->WaitAnyAnswer({"OK", "CONNECT"}, 600000), -1);
}

TEST_F(ModemTest, StaleAnswerIsNotTakenForTheNextCommand) {
    Settings(kFlow, {});
    StartSim();
    MakeModem();
    modem->Connect();
    sim->Control("silent AT+SLOW 1");
    // An "OK" left over from an earlier exchange sits in the buffer.
    modem->ReceiveText("\r\nOK\r\n");
    EXPECT_TRUE(modem->SendCommand(Cmd("AT+SLOW")));
    EXPECT_FALSE(modem->WaitAnswer("OK", 3000));
}

TEST_F(ModemTest, SignalInTheMiddleOfADialogueIsQueued) {
    Settings(kFlow, {});
    StartSim({"--no-echo"});
    MakeModem();
    modem->Connect();
    sim->Control("inject AT+X \\r\\n+CMTI: \"SM\",4\\r\\n");
    EXPECT_TRUE(modem->SendCommand(Cmd("AT+X")));
    EXPECT_TRUE(modem->WaitAnswer("OK", 10000));
    ASSERT_EQ(modem->Signals.size(), 1u);
    EXPECT_EQ(modem->Signals[0], "+CMTI: \"SM\",4\r\n");
    // The dialogue sees only its own answer.
    EXPECT_EQ(modem->RxBuffer.AsString(), "\r\n\r\n\r\nOK\r\n");
}

TEST_F(ModemTest, OnlineAddressFailsWithoutAnAddress) {
    Settings(kFlow, {});
    StartSim();
    sim->Control("error AT^SISO=0 1");
    MakeModem();
    Attach("ТК-1", "+7900", "1");
    modem->Connect();
    modem->ExecuteTasks();
    EXPECT_FALSE(modem->Online);
    EXPECT_EQ(modem->LocalPort, 1);
    ASSERT_NE(modem->InternetTimer(), nullptr);
    EXPECT_EQ(modem->InternetTimer()->Interval(), 2000u);
    ASSERT_TRUE(WaitFor([&] { return modem->Online; }));
    EXPECT_EQ(modem->InternetAttempt, 2);
}

TEST_F(ModemTest, PortErrorIsRetriedLikeAFailedOpen) {
    Settings(kFlow, {"ATE0"});
    StartSim();
    MakeModem();
    modem->Connect();
    ASSERT_TRUE(modem->Port->IsOpen());
    ResetLog();
    sim->Control("hangup"); // the line dies; a new one takes its name
    ASSERT_TRUE(WaitFor([&] { return HasMessage("Ошибка COM7"); }));
    ASSERT_TRUE(WaitFor([&] { return SimLog().find(Cmd("ATE0")) != std::string::npos; }));
    EXPECT_TRUE(modem->Port->IsOpen());
}

TEST_F(ModemTest, ReinitialisationWaitsForTheRunningDialogue) {
    Settings(kFlow, {"ATE0", "AT+CSDH=1"});
    StartSim();
    sim->Control("error AT+CSDH 1");
    MakeModem();
    modem->Connect();
    ASSERT_NE(modem->ReInitTimer(), nullptr);
    ResetLog();
    sim->Control("silent AT+LONG");
    // A dialogue longer than the re-initialisation step: the step falls due inside it.
    EXPECT_TRUE(modem->SendCommand(Cmd("AT+LONG")));
    EXPECT_FALSE(modem->WaitAnswer("OK", 20000));
    EXPECT_EQ(SimLog(), Cmd("AT+LONG"));
    ASSERT_TRUE(WaitFor([&] { return SimLog().find(Cmd("AT^SICC=0")) != std::string::npos; }));
    EXPECT_EQ(SimLog().substr(0, 15), Cmd("AT+LONG") + Cmd("ATE0"));
}

// A modem that leaves a command of the stop unanswered is sent nothing more
// of the stop, and so not waited for again.
TEST_F(ModemTest, StopGivesUpOnAMuteModem) {
    Settings(kFlow, {});
    StartSim();
    MakeModem();
    Attach("ТК-1", "+79001112233", "77");
    modem->Connect();
    ASSERT_TRUE(WaitFor([&] { return modem->Online; }));
    sim->Control("silent AT 0");
    ResetLog();
    stopping = true;
    modem->Disconnect();
    EXPECT_EQ(SimLog(), "\x1B" + Cmd("AT^SISC=1"));
    EXPECT_FALSE(modem->Port->IsOpen());
}

TEST_F(ModemTest, HangUpIsBounded) {
    Settings(kFlow, {});
    StartSim();
    MakeModem();
    modem->Connect();
    sim->Control("silent +++");
    sim->Control("silent ATH");
    ResetLog();
    modem->HangUp();
    EXPECT_EQ(SimLog(), "+++" + Cmd("ATH") + "+++" + Cmd("ATH") + "+++" + Cmd("ATH"));
}

TEST_F(ModemTest, HangUpStopsAtTheFirstAnswer) {
    Settings(kFlow, {});
    StartSim();
    MakeModem();
    modem->Connect();
    ResetLog();
    modem->HangUp();
    EXPECT_EQ(SimLog(), "+++" + Cmd("ATH"));
}

TEST_F(ModemTest, CheckModem) {
    Settings(kFlow, {});
    StartSim({"--no-echo"});
    MakeModem();
    notRunning = true; // checks run while scanning is off
    EXPECT_TRUE(modem->CheckModem());
    EXPECT_FALSE(modem->Port->IsOpen());
    EXPECT_FALSE(modem->PortEventSeen);
    EXPECT_EQ(SimLog(), Cmd("AT"));
    EXPECT_TRUE(HasMessage("Модем COM7 в порядке"));
    sim->Control("silent AT");
    EXPECT_FALSE(modem->CheckModem());
    EXPECT_TRUE(HasMessage("Модем COM7 не отвечает"));
}

TEST_F(ModemTest, UnsolicitedCodeWhileIdleArrivesThroughTheReceiveEvent) {
    Settings(kFlow, {});
    StartSim();
    MakeModem();
    modem->Connect();
    std::vector<std::string> balance;
    modem->OnBalance = [&](int port, const std::string& reply) {
        balance.push_back(std::to_string(port) + reply);
    };
    sim->Control("cusd Баланс 10");
    ASSERT_TRUE(WaitFor([&] { return !balance.empty(); }));
    // "Баланс 10", four hex digits per character.
    EXPECT_EQ(balance[0], "704110430043B0430043D0441002000310030");
}

TEST(ModemPort, LineSettingsFromTheModemSection) {
    struct Case {
        int baud, bits, stop, flow;
        TSerBaudrate rate;
        TSerDatabits data;
        TSerStopbits stops;
    };
    const Case cases[] = {
        {115200, 8, 1, 0, br115200, db8, sb1}, {230400, 7, 2, 0, br9600, db7, sb2},
        {256000, 4, 0, 0, br256000, db4, sb1}, {14400, 9, 3, 0, br14400, db8, sb1},
        {0, 3, 2, 7, br9600, db8, sb2},
    };
    SetMainThread();
    for (const Case& c : cases) {
        TModemData d;
        d.PortNumber = 3;
        d.Baudrate = c.baud;
        d.Databits = c.bits;
        d.StopBits = c.stop;
        d.FlowControl = c.flow;
        d.Parity = 2;
        TGPRSModem modem(d);
        EXPECT_EQ(modem.Port->Baudrate(), c.rate) << c.baud;
        EXPECT_EQ(modem.Port->Databits(), c.data) << c.bits;
        EXPECT_EQ(modem.Port->Stopbits(), c.stops) << c.stop;
        EXPECT_EQ(modem.Port->Parity(), paEven);
        EXPECT_EQ(modem.Port->PortNum(), 3);
        EXPECT_EQ(modem.Port->Buffers().ReadSize(), 8192);
        EXPECT_FALSE(modem.Port->MonitorEvents().Contains(ceError));
        const TSerFlowControl& f = modem.Port->FlowControl();
        EXPECT_EQ(f.ControlDtr(), dtrEnabled);
        EXPECT_EQ(f.ControlRts(), rtsEnabled);
        EXPECT_EQ(f.OutDsrFlow(), (c.flow & 1) != 0);
        EXPECT_EQ(f.OutCtsFlow(), (c.flow & 2) != 0);
        EXPECT_EQ(f.XonXoffIn(), (c.flow & 4) != 0);
        EXPECT_EQ(f.XonXoffOut(), (c.flow & 4) != 0);
    }
}

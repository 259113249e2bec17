// Unsolicited signals: cut out of the modem's stream, queued once, and
// handled; the modem-side ones against the simulator.

#include "ModemFixture.h"
#include "foundation/uNuqUtils.h"

using namespace modemtest;

namespace {

const char* kFlow =
    "ReconnectQuick=2\nReconnectLong=60\nMaxConnectTry=3\nReInitModemStep=5\nReInitModemTryMax=2\n";

std::string Task(int kind, const std::string& param) {
    return std::to_string(kind) + TaskKindEnd + param;
}

} // namespace

TEST(ModemSignalCutter, CutsBlocksAndKeepsTheEndMarker) {
    struct Case {
        std::string rx, start, end;
        bool found;
        std::string entry, left;
    };
    const Case cases[] = {
        {"\r\n+CMTI: \"SM\",3\r\n", "+CMTI:", "\r\n", true, "+CMTI: \"SM\",3\r\n", "\r\n\r\n"},
        {"\r\n+CMTI: \"SM\",3", "+CMTI:", "\r\n", false, "", "\r\n+CMTI: \"SM\",3"},
        {"OK\r\n", "+CLIP:", "\r\n", false, "", "OK\r\n"},
        // The read answer: its lines joined by byte 1, its closing OK left for the dialogue.
        {"\r\n^SISR: 2,5\r\nab<c>\r\nOK\r\n", "^SISR:", "\r\nOK\r\n", true,
         "^SISR: 2,5\x01"
         "ab<c>\x01OK\x01",
         "\r\n\r\nOK\r\n"},
        {"^SISR: 3, 1\r\n", "^SISR: 3, 1\r", "\n", true, "^SISR: 3, 1\r\n", "\n"},
        // The end must come after the start.
        {"\r\n+CLIP: \"1\"", "+CLIP:", "\r\n", false, "", "\r\n+CLIP: \"1\""},
    };
    for (const Case& c : cases) {
        tBuffer rx;
        rx.AddString(c.rx);
        std::string entry;
        EXPECT_EQ(CutSignal(rx, c.start, c.end, entry), c.found) << c.rx;
        EXPECT_EQ(entry, c.entry) << c.rx;
        EXPECT_EQ(rx.AsString(), c.left) << c.rx;
    }
}

// Signals fed to the receive path of a modem with no port.
class ModemSignals : public ModemTest {
protected:
    void SetUp() override {
        ModemTest::SetUp();
        MakeModem();
    }
};

TEST_F(ModemSignals, DuplicatesAreQueuedOnce) {
    modem->ReceiveText("\r\n+CMTI: \"SM\",3\r\n");
    modem->ReceiveText("\r\n+cmti: \"sm\",3\r\n"); // case does not make it new
    modem->ReceiveText("\r\n+CMTI: \"SM\",4\r\n");
    ASSERT_EQ(modem->Signals.size(), 2u);
    EXPECT_EQ(modem->Signals[0], "+CMTI: \"SM\",3\r\n");
    // A read answer is data: the same packet read twice is two packets.
    modem->Signals.clear();
    for (int i = 0; i < 2; ++i) modem->ReceiveText("\r\n^SISR: 1,6\r\n<0102>\r\nOK\r\n");
    EXPECT_EQ(modem->Signals, std::vector<std::string>(2, "^SISR: 1,6\x01<0102>\x01OK\x01"));
}

TEST_F(ModemSignals, NothingIsCutWhileScanningIsOff) {
    notRunning = true;
    modem->ReceiveText("\r\n+CMTI: \"SM\",3\r\n");
    EXPECT_TRUE(modem->Signals.empty());
    EXPECT_NE(modem->RxBuffer.AsString().find("+CMTI"), std::string::npos);
}

TEST_F(ModemSignals, SignalsBecomeTasks) {
    struct Case {
        std::string rx;
        std::vector<std::string> tasks;
    };
    const Case cases[] = {
        {"\r\n^SIS: 0,1,3\r\n", {Task(ttProcessIncomingConnect, "3")}},
        {"\r\n^SISR: 2, 1\r\n", {Task(ttReadData, "")}},
        {"\r\n^SISR: 2,5\r\nab<c>\r\nOK\r\n",
         {Task(ttProcessIncomingPacket, "2\x02^SISR: 2,5\r\nab<c>\r\nOK\r\n")}},
        // A read answer without data is the modem's own; a short one is data.
        {"\r\n^SISR: 2,0\r\n\r\nOK\r\n", {}},
        {"\r\n^SISR: 2,2\r\n4>\r\nOK\r\n",
         {Task(ttProcessIncomingPacket, "2\x02^SISR: 2,2\r\n4>\r\nOK\r\n")}},
        // Malformed numbers are skipped.
        {"\r\n^SIS: x,1,3\r\n", {}},
        {"\r\n^SIS: 0,1,\r\n", {}},
        {"\r\n^SISR: 2,five\r\nab<c>\r\nOK\r\n", {}},
        {"\r\n^SIS: 0,0,0\r\n", {}},
    };
    for (const Case& c : cases) {
        modem->Tasks.clear();
        modem->ReceiveText(c.rx);
        modem->ProcessIncomingData();
        EXPECT_EQ(modem->Tasks, c.tasks) << c.rx;
        EXPECT_TRUE(modem->Signals.empty()) << c.rx;
        EXPECT_FALSE(modem->ProcessingSignals);
    }
}

TEST_F(ModemSignals, SystemReadAnswerLeavesItsOkForTheDialogue) {
    modem->ReceiveText("\r\n^SISR: 2,0\r\n\r\nOK\r\n");
    modem->ProcessIncomingData();
    EXPECT_TRUE(modem->Tasks.empty());
    EXPECT_EQ(modem->RxBuffer.AsString(), "\r\n\r\nOK\r\n");
}

TEST_F(ModemSignals, BalanceReply) {
    std::vector<std::string> replies;
    modem->OnBalance = [&](int port, const std::string& r) {
        replies.push_back(std::to_string(port) + ":" + r);
    };
    modem->ReceiveText("\r\n+CUSD: 0,\"0031\",72\r\n\r\n+CUSD: 4\r\n");
    modem->ProcessIncomingData();
    EXPECT_EQ(replies, std::vector<std::string>{"7:0031"});
}

TEST_F(ModemSignals, HandlerErrorLeavesNoBusyFlagNorItsSignal) {
    std::vector<std::string> replies;
    modem->OnBalance = [&](int, const std::string& r) {
        replies.push_back(r);
        if (replies.size() == 1) throw Exception("handler failed");
    };
    modem->ReceiveText("\r\n+CUSD: 0,\"0031\",72\r\n\r\n+CUSD: 0,\"0032\",72\r\n");
    modem->SignalTimerTick();
    EXPECT_FALSE(modem->ProcessingSignals);
    EXPECT_FALSE(modem->Extracting);
    // The run ended; the signal behind the failed one is handled on a later tick.
    ASSERT_TRUE(WaitFor([&] { return replies.size() == 2; }, 5000));
    EXPECT_EQ(replies, (std::vector<std::string>{"0031", "0032"}));
    EXPECT_TRUE(modem->Signals.empty());
}

TEST_F(ModemSignals, LostConnectionOfAnObjectsSocketQueuesItsReconnect) {
    TBoilerRoom& room = Attach("ТК-1", "+7900", "77");
    modem->Attached.FindByBoilerRoom(&room)->Channel = 4;
    modem->ReceiveText("\r\n^SIS: 4,0\r\n");
    modem->ProcessIncomingData();
    EXPECT_EQ(modem->Tasks, std::vector<std::string>{Task(ttReconnect, "4")});
    EXPECT_TRUE(HasMessage("Получен сигнал о потере соединения с \"ТК-1\"."));
}

// The signals that make the modem talk, against the simulator.
class ModemSignalDialogue : public ModemTest {
protected:
    void SetUp() override {
        ModemTest::SetUp();
        Settings(kFlow, {});
        StartSim({"--no-echo"});
        MakeModem();
        modem->Connect();
        ResetLog();
    }
};

TEST_F(ModemSignalDialogue, CallerOfAnObjectIsRejectedAndConfigured) {
    Attach("ТК-0", "+7901", "1");
    TBoilerRoom& room = Attach("ТК-1", "+79001112233", "77");
    auto* a = modem->Attached.FindByBoilerRoom(&room);
    a->Identified = true;
    modem->ReceiveText("\r\nRING\r\n\r\n+CLIP: \"+79001112233\",145,,,,0\r\n");
    modem->ProcessIncomingData();
    EXPECT_EQ(SimLog(), Cmd("ATH"));
    EXPECT_EQ(modem->Tasks, std::vector<std::string>{
                                Task(ttSendConfigurationToBoilerRoom, std::to_string(a->Ref))});
    EXPECT_FALSE(a->Identified);
}

TEST_F(ModemSignalDialogue, UnknownCallerIsOnlyRejected) {
    Attach("ТК-1", "+79001112233", "77");
    modem->ReceiveText("\r\n+CLIP: \"+79009999999\",145,,,,0\r\n");
    modem->ProcessIncomingData();
    EXPECT_EQ(SimLog(), Cmd("ATH"));
    EXPECT_TRUE(modem->Tasks.empty());
}

TEST_F(ModemSignalDialogue, LostSocketNobodyOwnsIsClosed) {
    Attach("ТК-1", "+7900", "77");
    modem->Sockets = {3, 4};
    modem->ReceiveText("\r\n^SIS: 4,0\r\n");
    modem->ProcessIncomingData();
    EXPECT_EQ(SimLog(), Cmd("AT^SISC=4") + Cmd("AT^SISS=4,srvtype,none"));
    EXPECT_EQ(modem->Sockets, std::vector<int>{3});
}

TEST_F(ModemSignalDialogue, NewSmsIsReadHandedOverAndDeleted) {
    std::vector<std::string> got;
    modem->OnSMSReceived = [&](const std::string& text, const std::string& phone) {
        got.push_back(phone + "|" + text);
    };
    sim->Control("sms +79001112233 Котельная-1");
    ASSERT_TRUE(WaitFor([&] { return !got.empty(); }, 10000));
    EXPECT_EQ(got[0], "+79001112233|Котельная-1");
    ASSERT_TRUE(
        WaitFor([&] { return SimLog().find(Cmd("at+cmgd=1")) != std::string::npos; }, 10000));
    EXPECT_EQ(SimLog(), Cmd("at+cmgr=1") + Cmd("at+cmgd=1"));
    EXPECT_TRUE(HasMessage("Принята СМС: +CMTI: \"SM\",1"));
}

TEST_F(ModemSignalDialogue, NewSmsWithoutAHandlerIsOnlyDeleted) {
    modem->ReceiveText("\r\n+CMTI: \"SM\",5\r\n\r\n+CMTI: \"SM\",x;ATH\r\n");
    modem->ProcessIncomingData();
    // An index that is no number never reaches a command.
    EXPECT_EQ(SimLog(), Cmd("at+cmgd=5"));
}

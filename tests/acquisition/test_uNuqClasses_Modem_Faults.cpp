// The modem engine against the faults a real line, a real modem and real
// controllers make: failed and unannounced socket reads, a connection that
// closes right after its last packet, a line that dies and comes back, an
// SMS prompt later than its wait, timers falling due inside a live data call,
// and a balance request before the modem is initialised.

#include "ModemFixture.h"
#include "platform/Timer.h"

using namespace modemtest;

namespace {

const char* kFlow = "ReconnectQuick=2\nReconnectLong=60\nMaxConnectTry=3\nReInitModemStep=5\n"
                    "ReInitModemTryMax=3\nInternetConnectTryMax=3\nReCallStep=600\n"
                    "ReCallTryMax=1\nPauseAfterSendCFG=9\nAnswerConnectTimeout=300\n";

const std::string kConfig = "N:054 ID:5 IP:10.0.0.5:2222 AP:internet LG:gdata PW:pw";

} // namespace

class ModemFaults : public ModemTest {
protected:
    std::vector<std::string> data;
    TTimer pace;

    void SetUp() override {
        ModemTest::SetUp();
        Settings(kFlow, {"ATE0"});
        StartSimListening();
        MakeModem();
    }
    TBoilerRoom& Room(const std::string& name, const std::string& ident, uint8_t mode = 0) {
        TBoilerRoom& r = Attach(name, "+7900" + ident, ident, mode);
        r.GPRSApn = "internet";
        r.GPRSLogin = "gdata";
        r.GPRSPassword = "pw";
        r.OnData = [this](TBoilerRoom& s, const std::string& line) {
            data.push_back(s.Name + ":" + line);
        };
        return r;
    }
    TAttachedBoilerRoom& Entry(TBoilerRoom& r) { return *modem->Attached.FindByBoilerRoom(&r); }
    void GoOnline() {
        modem->Connect();
        ASSERT_TRUE(WaitFor([&] { return modem->Online; }));
    }
    void Identified(TBoilerRoom& r, const std::string& ident,
                    const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args{"--reconnect", "600000"};
        args.insert(args.end(), extra.begin(), extra.end());
        StartController(ident, args);
        ASSERT_TRUE(WaitFor([&] { return Entry(r).LinkState == lsConnected; }));
    }
    int Count(const std::string& part) const {
        int n = 0;
        for (const auto& m : messages)
            if (m.find(part) != std::string::npos) ++n;
        return n;
    }
    // Keeps the virtual clock to small steps while the simulator takes its
    // time on the real one.
    void Pace() {
        pace.SetInterval(20);
        pace.SetOnTimer([] {});
        pace.SetEnabled(true);
    }
};

// A read the modem refuses leaves the socket's data with the modem, which
// announces nothing more until a read empties it. The periodic read fetches
// it although the terminal's own requests keep the modem talking meanwhile.
TEST_F(ModemFaults, RefusedReadsDoNotStopTheSocketsPackets) {
    TBoilerRoom& r = Room("ТК-5", "5");
    GoOnline();
    Identified(r, "5", {"--packet", "0A01"});
    TTimer requests; // each request is answered with a packet
    requests.SetInterval(2000);
    requests.SetOnTimer([&] { modem->SendText(r, "<REQ>\r\n"); });
    requests.SetEnabled(true);
    for (int refusals : {1, 3}) {
        ASSERT_TRUE(WaitFor([&] { return !data.empty(); }));
        sim->Control("error AT^SISR " + std::to_string(refusals));
        const size_t before = data.size();
        ASSERT_TRUE(WaitFor([&] { return data.size() >= before + 3; })) << refusals;
    }
    EXPECT_EQ(data.back(), "ТК-5:0A01");
}

// The data-ready notice and the loss of the connection come together or
// close behind each other: the last packet still reaches its object, and
// nobody is asked who it is on a socket already closed.
TEST_F(ModemFaults, LastPacketBeforeTheConnectionClosesIsDelivered) {
    TBoilerRoom& r = Room("ТК-5", "5");
    GoOnline();
    int losses = 0;
    for (int gapMs : {0, 400}) {
        Identified(r, "5");
        const std::string socket = std::to_string(Entry(r).Channel);
        const std::string last = "LAST" + std::to_string(gapMs);
        sim->Control("data " + socket + " <" + last + ">");
        Run(uint32_t(gapMs));
        sim->Control("close " + socket);
        ++losses;
        ASSERT_TRUE(WaitFor([&] {
            return Count("Потеряна связь с \"ТК-5\"") == losses && modem->Tasks.empty() &&
                   modem->Signals.empty();
        }));
        ASSERT_FALSE(data.empty()) << gapMs;
        EXPECT_EQ(data.back(), "ТК-5:" + last);
    }
    EXPECT_FALSE(HasMessage("без предварительной идентификации"));
    EXPECT_EQ(SimLog().find("WHO IS?"), std::string::npos);
}

// The modem's line dies and a new one takes its name: once the modem is set
// up again, the object that was connected is started over and its controller
// told the new settings, instead of waiting for it to call back by itself.
TEST_F(ModemFaults, ObjectsStartOverWhenTheLineComesBack) {
    TBoilerRoom& r = Room("ТК-5", "5");
    GoOnline();
    Identified(r, "5");
    ResetLog();
    sim->Control("hangup");
    ASSERT_TRUE(WaitFor([&] { return HasMessage("Ошибка COM7"); }));
    // Not taken for connected while the line is down: a request would be lost.
    EXPECT_NE(r.State, bsConnected);
    EXPECT_FALSE(r.Connected);
    ASSERT_TRUE(
        WaitFor([&] { return SimLog().find(Cmd("at+cmgs=\"+79005\"")) != std::string::npos; }));
    EXPECT_EQ(Entry(r).Channel, -1);
    EXPECT_NE(r.State, bsConnected);
    EXPECT_TRUE(modem->Online);
}

// The prompt comes after the wait gave up: the entry is cancelled, so the
// next command is a command again and not the text of a message.
TEST_F(ModemFaults, LateSmsPromptLeavesNoTextEntryOpen) {
    modem->Connect();
    sim->Control("late AT+CMGS 1500 1");
    ResetLog();
    EXPECT_FALSE(modem->SendSMS("+7900", "a"));
    Pace();
    ASSERT_TRUE(WaitFor([&] { return modem->RxBuffer.Find(">") >= 0; }, 10000));
    EXPECT_EQ(SimLog(), Cmd("at+cmgs=\"+7900\"") + "\x1B");
    EXPECT_TRUE(modem->SendCommand(Cmd("AT")));
    EXPECT_TRUE(modem->WaitAnswer("OK", 3000));
    // A refused command opened no entry: nothing to cancel.
    sim->Control("error AT+CMGS 1");
    ResetLog();
    EXPECT_FALSE(modem->SendSMS("+7900", "a"));
    EXPECT_EQ(SimLog(), Cmd("at+cmgs=\"+7900\""));
}

// The object is given up while its controller's incoming data call carries
// the configuration: the give-up, and the operator's reconnect it leads to,
// wait until the call has ended, so the call carries only the configuration
// and ends as the success it is.
TEST_F(ModemFaults, NothingIsWrittenIntoALiveDataCall) {
    Settings("ReCallStep=600\nReCallTryMax=1\nAnswerConnectTimeout=2\nInternetConnectTryMax=3\n"
             "MaxConnectTry=3\nReInitModemTryMax=2\n",
             {"ATE0"});
    TBoilerRoom& r = Room("ТК-5", "5", 1);
    int reconnects = 0;
    modem->OnNoObjectAnswers = [&](TGPRSModem& m) {
        ++reconnects;
        m.Reconnect();
    };
    GoOnline();
    sim->Control("dial CONNECT");
    modem->CSDIdent(Entry(r)); // now waits 2 s for the controller's connection
    ASSERT_EQ(Entry(r).LinkState, lsWaitingConnection);
    ASSERT_EQ(sim->WaitFor("csd "), "csd " + kConfig);
    // The controller calls in; the call is answered late, so the wait for
    // its connection runs out inside it.
    sim->Control("late ATA 3000 1");
    ResetLog();
    messages.clear();
    sim->Control("ring +79005");
    ASSERT_TRUE(WaitFor([&] { return reconnects > 0; }));
    EXPECT_EQ(sim->WaitFor("csd "), "csd " + kConfig);
    EXPECT_TRUE(HasMessage("Инициализация \"ТК-5\" выполнена. Ждем идентификации"));
    EXPECT_FALSE(HasMessage("Нет ответа"));
    const std::string log = SimLog();
    ASSERT_EQ(log.substr(0, 5), Cmd("ATA"));
    EXPECT_EQ(log.substr(5, kConfig.size() + 2), kConfig + "\r\n");
}

// A balance request made while the first initialisation has failed waits for
// the next one to succeed; the failed step is retried after its own pause,
// not behind the request.
TEST_F(ModemFaults, BalanceRequestWaitsForTheInitialisation) {
    Settings(kFlow, {"ATE0", "AT+CSDH=1"});
    sim->Control("error AT+CSDH 1");
    Room("ТК-5", "5");
    modem->ModemData.CmdGetBalance = "*100#";
    modem->Connect();
    ASSERT_NE(modem->ReInitTimer(), nullptr);
    modem->GetBalance();
    ASSERT_TRUE(
        WaitFor([&] { return SimLog().find(Cmd("AT+CUSD=1,*100#")) != std::string::npos; }));
    EXPECT_EQ(SimLog(), Cmd("ATE0") + Cmd("AT+CSDH=1") + Cmd("ATE0") + Cmd("AT+CSDH=1") +
                            Cmd("at+cmgl=\"all\"") + InitSocketCommands() + InitProfileCommands() +
                            "\r\n" + Cmd("AT^SISO=0") + Cmd("AT^SISO?") + Cmd("AT+CUSD=1,*100#"));
}

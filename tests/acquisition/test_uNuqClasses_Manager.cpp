// The modem list and manager, and boiler rooms on modem links through them;
// end to end with the modem simulator and a controller connected to it.

#include "ModemFixture.h"
#include "acquisition/uNuqClasses_Manager.h"

using namespace modemtest;

namespace {

const char* kFlow =
    "ReconnectQuick=2\nReconnectLong=60\nMaxConnectTry=3\nReInitModemStep=5\n"
    "ReInitModemTryMax=2\nInternetConnectTryMax=3\nReCallStep=600\nReCallTryMax=1\n";

TModemData OnPort(int port) {
    TModemData d;
    d.PortNumber = port;
    d.TCPPort = 2222;
    return d;
}

} // namespace

class Manager : public ModemTest {
protected:
    std::unique_ptr<TGPRSManager> manager = std::make_unique<TGPRSManager>();

    void TearDown() override {
        manager.reset();
        ModemTest::TearDown();
    }
    TBoilerRoom& Room(const std::string& name) {
        rooms.push_back(std::make_unique<TBoilerRoom>());
        rooms.back()->Name = name;
        rooms.back()->Manager = manager.get();
        return *rooms.back();
    }
};

TEST_F(Manager, EventsReachEveryModemAlsoOnesAddedLater) {
    manager->ModemList.AddModem(OnPort(7));
    manager->ModemList.AddModem(OnPort(8));
    std::vector<std::string> got;
    manager->SetOnMessage([&](const std::string& t, bool, bool) { got.push_back(t); });
    manager->SetOnIsStopping([] { return true; });
    manager->ModemList.AddModem(OnPort(9));
    for (int i = 0; i < 3; ++i) {
        TGPRSModem& m = manager->ModemList.Items(i);
        m.Report("x");
        ASSERT_TRUE(m.OnIsStopping);
        EXPECT_TRUE(m.OnIsStopping());
    }
    EXPECT_EQ(got, (std::vector<std::string>{"COM7  : x", "COM8  : x", "COM9  : x"}));
}

TEST_F(Manager, FindByPortAndDelete) {
    manager->ModemList.AddModem(OnPort(7));
    manager->ModemList.AddModem(OnPort(8));
    EXPECT_EQ(manager->ModemList.FindByPort(8), &manager->ModemList.Items(1));
    EXPECT_EQ(manager->ModemList.FindByPort(3), nullptr);
    manager->ModemList.Delete(0);
    EXPECT_EQ(manager->ModemList.Count(), 1);
    EXPECT_EQ(manager->ModemList.FindByPort(7), nullptr);
    EXPECT_THROW(manager->ModemList.Delete(5), EListError);
}

TEST_F(Manager, ObjectOnAPortWithoutAModemStaysUnattached) {
    manager->ModemList.AddModem(OnPort(7));
    TBoilerRoom& r = Room("ТК-1");
    r.SetGPRSConnection(4, "+7900", "1");
    EXPECT_EQ(r.LinkKind, lkGPRS);
    EXPECT_EQ(manager->ModemList.Items(0).Attached.Count(), 0);
    EXPECT_EQ(manager->StateText(r), "Не определено");
    EXPECT_EQ(r.StateText(), "Не определено");
    // Started and sent to, it goes nowhere.
    r.Start(0, 0);
    r.SendText("X", true);
    EXPECT_TRUE(manager->ModemList.Items(0).Tasks.empty());
}

TEST_F(Manager, GPRSLinkNeedsTheManager) {
    TBoilerRoom r;
    EXPECT_THROW(r.SetGPRSConnection(7, "+7900", "1"), Exception);
}

TEST_F(Manager, OnlyTheModemOfTheObjectActs) {
    manager->ModemList.AddModem(OnPort(7));
    manager->ModemList.AddModem(OnPort(8));
    TBoilerRoom& r = Room("ТК-1");
    r.SetGPRSConnection(8, "+7900", "1");
    TGPRSModem& m7 = manager->ModemList.Items(0);
    TGPRSModem& m8 = manager->ModemList.Items(1);
    r.Start(0, 0);
    TAttachedBoilerRoom* a = m8.Attached.FindByBoilerRoom(&r);
    ASSERT_NE(a, nullptr);
    EXPECT_NE(a->ProcessTimer, nullptr);
    EXPECT_EQ(m7.Attached.Count(), 0);
    // The link text is the entry's until the object is connected.
    EXPECT_EQ(r.StateText(), "Подключение к сети...");
    a->LinkState = lsConnected;
    r.SetState(bsConnected);
    r.SendText("PING", true);
    EXPECT_EQ(m8.Tasks,
              std::vector<std::string>{std::to_string(ttSendText) + TaskKindEnd +
                                       std::to_string(a->Ref) + TaskParamSplit + "<PING>\r\n"});
    EXPECT_TRUE(m7.Tasks.empty());
    r.Stop();
    EXPECT_EQ(a->ProcessTimer, nullptr);
    EXPECT_EQ(a->LinkState, lsIdle);
}

TEST_F(Manager, SamePhoneOnOneModemFindsTheFirst) {
    manager->ModemList.AddModem(OnPort(7));
    TBoilerRoom& r1 = Room("ТК-1");
    TBoilerRoom& r2 = Room("ТК-2");
    r1.SetGPRSConnection(7, "+7900", "1");
    r2.SetGPRSConnection(7, "+7900", "2");
    EXPECT_EQ(manager->ModemList.Items(0).Attached.FindByPhone("+7900")->BoilerRoom, &r1);
}

TEST_F(Manager, DeleteDisconnectsTheModemFirst) {
    Settings(kFlow, {});
    StartSim({"--no-echo"});
    manager->SetOnIsDestroying([] { return false; });
    manager->SetOnIsStopping([] { return false; });
    manager->SetOnIsNotRunning([] { return false; });
    manager->ModemList.AddModem(OnPort(7));
    TBoilerRoom& r = Room("ТК-1");
    r.SetGPRSConnection(7, "+7900", "1");
    manager->ModemList.Items(0).Connect();
    ResetLog();
    manager->ModemList.Delete(0);
    const std::string first = "\x1B" + Cmd("AT^SISC=1");
    EXPECT_EQ(SimLog().substr(0, first.size()), first);
    EXPECT_EQ(sim->WaitFor("serial closed"), "serial closed");
}

// The whole road through both simulators: a boiler room on a modem link.
TEST_F(Manager, ObjectOnAModemLinkEndToEnd) {
    Settings(kFlow, {"ATE0"});
    StartSimListening();
    manager->SetOnIsDestroying([] { return false; });
    manager->SetOnIsStopping([] { return false; });
    manager->SetOnIsNotRunning([] { return false; });
    manager->SetOnMessage([this](const std::string& t, bool, bool) { messages.push_back(t); });
    manager->ModemList.AddModem(Data(7));
    TGPRSModem& m = manager->ModemList.Items(0);
    TBoilerRoom& r = Room("ТК-5");
    std::vector<std::string> data, sent;
    r.OnData = [&](TBoilerRoom&, const std::string& line) { data.push_back(line); };
    r.OnDataSent = [&](TBoilerRoom&, const std::string& t, bool ok) {
        sent.push_back(t + (ok ? "" : "!"));
    };
    r.SetGPRSConnection(7, "+79005", "5");
    m.Connect();
    r.Start(30, 0);
    ASSERT_TRUE(WaitFor([&] { return m.Online; }));
    StartController("5", {"--packet", "25018500", "--period", "300", "--echo"});
    ASSERT_TRUE(WaitFor([&] { return !data.empty(); }));
    EXPECT_EQ(data[0], "25018500");
    EXPECT_EQ(r.State, bsConnected);
    EXPECT_TRUE(r.Connected);
    r.SendText("CMD1", true);
    EXPECT_EQ(sent, std::vector<std::string>{"<CMD1>"});
    ASSERT_TRUE(
        WaitFor([&] { return std::find(data.begin(), data.end(), "OK:CMD1") != data.end(); }));
    EXPECT_NE(ControllerLog(0).find("rx <CMD1>\n"), std::string::npos);
    r.Stop();
    EXPECT_EQ(r.State, bsNotConnected);
    EXPECT_EQ(sim->WaitForText("tcp close 1"), "tcp close 1");
}

// Sockets of the modem: reassembly of packets across reads, identification,
// "WHO IS?", sending text; end to end with a controller connected to the
// simulator's listener.

#include "ModemFixture.h"
#include "platform/Cp1251.h"

using namespace modemtest;

namespace {

const char* kFlow =
    "ReconnectQuick=2\nReconnectLong=60\nMaxConnectTry=3\nReInitModemStep=5\n"
    "ReInitModemTryMax=2\nInternetConnectTryMax=3\nReCallStep=600\nReCallTryMax=1\n";

std::string Task(int kind, const std::string& param) {
    return std::to_string(kind) + TaskKindEnd + param;
}

} // namespace

TEST(ModemReassembly, CutsPacketsAndKeepsTheUnfinishedOne) {
    struct Case {
        std::vector<std::string> reads;
        std::vector<std::string> packets;
        std::string left;
    };
    const Case cases[] = {
        // Split across reads; text outside brackets dropped.
        {{"xx<12", "34>yy<5"}, {"1234"}, "<5"},
        {{"<A><B>", "<C"}, {"A", "B"}, "<C"},
        {{"no brackets at all"}, {}, ""},
        {{"tail>", "<P>"}, {"P"}, ""},
        // An empty pair would hold up everything behind it: dropped.
        {{"<><Q>"}, {"Q"}, ""},
        // An opening bracket never closed is not glued to the next packet.
        {{"<12", "<34>"}, {"34"}, ""},
        {{"<", "", ">"}, {}, ""},
    };
    for (const Case& c : cases) {
        std::string buf;
        std::vector<std::string> got;
        for (const std::string& r : c.reads) {
            buf += r;
            for (auto& p : CutPackets(buf)) got.push_back(p);
        }
        EXPECT_EQ(got, c.packets) << c.reads[0];
        EXPECT_EQ(buf, c.left) << c.reads[0];
    }
}

TEST(ModemReassembly, IdentOfAPacket) {
    struct Case {
        std::string packet, id;
    };
    for (const Case& c : {Case{"ID:77,ver 2", "77"}, Case{"ID: 5 ,x", "5"}, Case{"ID:77", ""},
                          Case{"0102ID", ""}, Case{"xID:9,", "9"}, Case{"ID:,", ""}})
        EXPECT_EQ(IdentOf(c.packet), c.id) << c.packet;
}

// Packets fed straight to a modem whose port is closed: socket commands go
// nowhere, the bookkeeping is what is seen.
class ModemPackets : public ModemTest {
protected:
    std::vector<std::string> data;
    std::vector<int> connectedPeriods;

    void SetUp() override {
        ModemTest::SetUp();
        MakeModem();
    }
    TBoilerRoom& Room(const std::string& name, const std::string& ident) {
        TBoilerRoom& r = Attach(name, "+7900" + ident, ident);
        r.OnData = [this](TBoilerRoom& s, const std::string& line) {
            data.push_back(s.Name + ":" + line);
        };
        r.OnConnected = [this](TBoilerRoom&, int period) { connectedPeriods.push_back(period); };
        return r;
    }
    TAttachedBoilerRoom& Entry(TBoilerRoom& r) { return *modem->Attached.FindByBoilerRoom(&r); }
    // A read answer as the modem gives it, through the receive path and the queues.
    void Read(int socket, const std::string& bytes) {
        modem->ReceiveText("\r\n^SISR: " + std::to_string(socket) + "," +
                           std::to_string(bytes.size()) + "\r\n" + bytes + "\r\nOK\r\n");
        modem->ProcessIncomingData();
        modem->ExecuteTasks();
    }
};

TEST_F(ModemPackets, PacketSplitAcrossReadsIsReassembled) {
    TBoilerRoom& r = Room("ТК-1", "77");
    Entry(r).Channel = 3;
    Read(3, "xx<12");
    EXPECT_TRUE(data.empty());
    Read(3, "34>yy<5");
    EXPECT_EQ(data, std::vector<std::string>{"ТК-1:1234"});
    EXPECT_EQ(modem->SocketBuffer(3), "<5");
}

// An owner may free the object, and take it off the modem, from its data
// handler; the rest of the read is not delivered to it.
TEST_F(ModemPackets, ObjectDestroyedFromItsOwnHandler) {
    TBoilerRoom& r = Room("ТК-1", "77");
    Entry(r).Channel = 3;
    r.OnData = [this](TBoilerRoom&, const std::string& line) {
        data.push_back(line);
        modem->Attached.Clear();
        rooms.clear();
    };
    Read(3, "<1>\r\n<2>\r\n<3>");
    EXPECT_EQ(data, std::vector<std::string>{"1"});
}

TEST_F(ModemPackets, ShortReadsAreNotDropped) {
    TBoilerRoom& r = Room("ТК-1", "77");
    Entry(r).Channel = 2;
    // Reads of one and two bytes carry the ends of packets.
    Read(2, "<12");
    Read(2, "3>");
    Read(2, "<4");
    Read(2, ">");
    EXPECT_EQ(data, (std::vector<std::string>{"ТК-1:123", "ТК-1:4"}));
}

TEST_F(ModemPackets, UnfinishedPacketIsNotKeptWithoutBound) {
    TBoilerRoom& r = Room("ТК-1", "77");
    Entry(r).Channel = 2;
    // A controller that opens a packet and never closes it.
    Read(2, "<" + std::string(1400, 'A'));
    for (int i = 0; i < 15; ++i) {
        Read(2, std::string(1400, 'A'));
        ASSERT_LE(modem->SocketBuffer(2).size(), 16384u) << i;
    }
    Read(2, "<0102>");
    EXPECT_EQ(data, std::vector<std::string>{"ТК-1:0102"});
}

TEST_F(ModemPackets, IdentificationBindsTheSocketAndANewerOneReplacesIt) {
    Room("ТК-0", "1");
    TBoilerRoom& r = Room("ТК-1", "77");
    r.Status = 1;
    r.RequestPeriod = 30;
    modem->Sockets = {3, 4};
    modem->ProcessIncomingPacket(3, "^SISR: 3,13\r\n<ID:77,ver 2>\r\nOK\r\n");
    TAttachedBoilerRoom& a = Entry(r);
    EXPECT_EQ(a.Channel, 3);
    EXPECT_EQ(a.LinkState, lsConnected);
    EXPECT_TRUE(a.Identified);
    EXPECT_TRUE(r.Connected);
    EXPECT_EQ(r.State, bsConnected);
    EXPECT_EQ(connectedPeriods, std::vector<int>{30});
    EXPECT_TRUE(data.empty()); // the identification is no data
    EXPECT_TRUE(HasMessage("Cоединение с \"ТК-1\" установлено"));

    modem->ProcessIncomingPacket(4, "<ID:77,ver 2>");
    EXPECT_EQ(a.Channel, 4);
    EXPECT_EQ(modem->Sockets, std::vector<int>{4}); // the old socket was closed
}

TEST_F(ModemPackets, UnknownIdentifierClosesTheSocket) {
    Room("ТК-1", "77");
    modem->Sockets = {5};
    modem->ProcessIncomingPacket(5, "<ID:78,x>");
    EXPECT_TRUE(modem->Sockets.empty());
    EXPECT_TRUE(HasMessage("Получен запрос на соединение от неизвестного объекта. Идентификатор: "
                           "78.  Выполнено закрытие канала связи."));
}

TEST_F(ModemPackets, DataBeforeIdentificationAsksWhoIsAndIsDropped) {
    Room("ТК-1", "77");
    modem->Online = true;
    modem->Sockets = {2};
    modem->ProcessIncomingPacket(2, "<0102>");
    EXPECT_TRUE(data.empty());
    EXPECT_EQ(modem->Tasks, std::vector<std::string>{Task(
                                ttSendWhoIS, std::string("2") + TaskParamSplit + "WHO IS?\r\n")});
    EXPECT_TRUE(HasMessage("Зарегистрирован прием инфопакета без предварительной идентификации."));
    // An "OK" packet asks nothing; offline nobody is asked.
    modem->Tasks.clear();
    modem->ProcessIncomingPacket(2, "<ok>");
    modem->Online = false;
    modem->ProcessIncomingPacket(2, "<0102>");
    EXPECT_TRUE(modem->Tasks.empty());
}

TEST_F(ModemPackets, UnusedSocketsAreClosedOnlyWhenEveryObjectHasOne) {
    TBoilerRoom& r1 = Room("ТК-1", "1");
    TBoilerRoom& r2 = Room("ТК-2", "2");
    modem->Sockets = {1, 7};
    modem->ProcessIncomingPacket(1, "<ID:1,x>");
    EXPECT_EQ(modem->Sockets, (std::vector<int>{1, 7})); // ТК-2 has no socket yet
    modem->Sockets.push_back(2);
    modem->ProcessIncomingPacket(2, "<ID:2,x>");
    EXPECT_EQ(modem->Sockets, (std::vector<int>{1, 2}));
    EXPECT_EQ(Entry(r1).Channel, 1);
    EXPECT_EQ(Entry(r2).Channel, 2);
}

TEST_F(ModemPackets, WhoIsTimerAsksEveryStrangerAndStopsWhenNoneIsLeft) {
    TBoilerRoom& r = Room("ТК-1", "77");
    Entry(r).Channel = 1;
    modem->Online = true;
    modem->Sockets = {1, 2, 3};
    modem->WhoIsTimer().SetEnabled(true);
    modem->WhoIsTimerTick();
    EXPECT_EQ(modem->Tasks.size(), 2u);
    EXPECT_TRUE(modem->WhoIsTimer().Enabled());
    modem->Sockets = {1};
    modem->WhoIsTimerTick();
    EXPECT_FALSE(modem->WhoIsTimer().Enabled());
}

// A request asked for again while the modem is busy goes out once, as
// every other task does; another object's is its own.
TEST_F(ModemPackets, SendTextQueuesForAConnectedObjectOnlyAndOnce) {
    TBoilerRoom& r = Room("ТК-1", "77");
    TBoilerRoom& other = Room("ТК-2", "78");
    modem->SendText(r, "<A>\r\n");
    EXPECT_TRUE(modem->Tasks.empty()); // not connected
    Entry(r).LinkState = lsConnected;
    Entry(other).LinkState = lsConnected;
    modem->SendText(r, "<A>\r\n");
    modem->SendText(r, "<A>\r\n");
    modem->SendText(other, "<A>\r\n");
    modem->SendText(r, "<a>\r\n"); // compared without regard to case
    modem->SendText(r, "<B>\r\n");
    auto task = [&](TBoilerRoom& room, const std::string& text) {
        return Task(ttSendText, std::to_string(Entry(room).Ref) + TaskParamSplit + text);
    };
    EXPECT_EQ(modem->Tasks, (std::vector<std::string>{task(r, "<A>\r\n"), task(other, "<A>\r\n"),
                                                      task(r, "<B>\r\n")}));
}

TEST_F(ModemPackets, DoSendTextGuards) {
    EXPECT_TRUE(modem->DoSendText(-1, "x")); // no socket: nothing to do
    modem->Sending = true;
    EXPECT_FALSE(modem->DoSendText(1, "x"));
    modem->Sending = false;
    modem->ReadingAll = true;
    EXPECT_FALSE(modem->DoSendText(1, "x"));
}

// End to end: the simulator's listener, controllers in client mode.
class ModemSockets : public ModemTest {
protected:
    std::vector<std::string> data;

    void SetUp() override {
        ModemTest::SetUp();
        Settings(kFlow, {"ATE0"});
        StartSimListening();
        MakeModem();
    }
    TBoilerRoom& Room(const std::string& name, const std::string& ident) {
        TBoilerRoom& r = Attach(name, "+7900" + ident, ident);
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
    bool ControllerGot(size_t i, const std::string& line) {
        return ControllerLog(i).find("rx " + line + "\n") != std::string::npos;
    }
    int Count(const std::string& part) const {
        int n = 0;
        for (const auto& m : messages)
            if (m.find(part) != std::string::npos) ++n;
        return n;
    }
};

TEST_F(ModemSockets, ControllerIdentifiesAndItsPacketsReachItsObject) {
    TBoilerRoom& r = Room("ТК-5", "5");
    GoOnline();
    StartController("5", {"--packet", "0102A0", "--period", "300"});
    ASSERT_TRUE(WaitFor([&] { return !data.empty(); }));
    EXPECT_EQ(data[0], "ТК-5:0102A0");
    EXPECT_EQ(Entry(r).Channel, 1);
    EXPECT_EQ(Entry(r).LinkState, lsConnected);
    EXPECT_EQ(r.State, bsConnected);
    EXPECT_TRUE(HasMessage("Cоединение с \"ТК-5\" установлено"));
}

TEST_F(ModemSockets, TextSentToTheObjectArrivesWithItsExactLength) {
    TBoilerRoom& r = Room("ТК-5", "5");
    GoOnline();
    StartController("5");
    ASSERT_TRUE(WaitFor([&] { return Entry(r).LinkState == lsConnected; }));
    ResetLog();
    // As the object hands them over: each with its own line end.
    modem->SendText(r, "<Тест>\r\n");
    modem->SendText(r, "<REQ>\r\n");
    modem->SendText(r, "<REQ>\r\n"); // still waiting to go: sent once
    ASSERT_TRUE(WaitFor([&] { return ControllerGot(0, "<REQ>") && modem->Tasks.empty(); }));
    modem->SendText(r, "<REQ>\r\n"); // asked again once it went: sent again
    ASSERT_TRUE(WaitFor([&] { return modem->Tasks.empty(); }));
    const std::string want = "rx " + Utf8ToCp1251("<Тест>") + "\nrx <REQ>\nrx <REQ>\n";
    ASSERT_TRUE(WaitFor([&] { return ControllerLog(0).size() >= want.size(); }));
    // Each line once, without an empty one behind it.
    EXPECT_EQ(ControllerLog(0), want) << SimLog();
    // The announced length is the text's in cp1251 bytes, its line end
    // included; the CR LF behind the data is no data.
    const std::string first = Cmd("AT^SISW=1,8") + Utf8ToCp1251("<Тест>\r\n") + "\r\n";
    EXPECT_EQ(SimLog().substr(0, first.size()), first);
}

TEST_F(ModemSockets, UnknownSenderIsAskedWhoItIs) {
    Room("ТК-5", "5");
    Room("ТК-6", "6");
    GoOnline();
    StartController("", {"--packet", "0102", "--period", "300"});
    ASSERT_TRUE(WaitFor([&] { return ControllerGot(0, "WHO IS?"); }));
    EXPECT_TRUE(data.empty());
    EXPECT_TRUE(HasMessage("Отправлен запрос на аутентификацию."));
    // The question's own line end is all that reaches the controller.
    EXPECT_EQ(ControllerLog(0).find("rx \n"), std::string::npos) << ControllerLog(0);
}

TEST_F(ModemSockets, AnswerToWhoIsBindsTheController) {
    TBoilerRoom& r = Room("ТК-5", "5");
    Room("ТК-6", "6");
    GoOnline();
    // Sends data first, identifies only when asked.
    auto& c = StartController("", {"--packet", "0102", "--period", "300"});
    ASSERT_TRUE(WaitFor([&] { return ControllerGot(0, "WHO IS?"); }));
    c.Control("unframed <ID:5,late>");
    ASSERT_TRUE(WaitFor([&] { return Entry(r).LinkState == lsConnected; }));
    ASSERT_TRUE(WaitFor([&] { return !data.empty(); }));
    EXPECT_EQ(data[0], "ТК-5:0102");
}

TEST_F(ModemSockets, LostSocketIsReconnected) {
    TBoilerRoom& r = Room("ТК-5", "5");
    GoOnline();
    StartController("5", {"--reconnect", "500"});
    ASSERT_TRUE(WaitFor([&] { return Entry(r).LinkState == lsConnected; }));
    sim->Control("close 1");
    ASSERT_TRUE(WaitFor([&] {
        return HasMessage("Потеряна связь с \"ТК-5\". Запущен процесс "
                          "переподключения.");
    }));
    ASSERT_TRUE(WaitFor([&] { return Count("Cоединение с \"ТК-5\" установлено") == 2; }));
    EXPECT_EQ(Entry(r).LinkState, lsConnected);
    EXPECT_GE(Entry(r).Channel, 1);
}

TEST_F(ModemSockets, SecondIdentificationClosesTheOldSocket) {
    TBoilerRoom& r = Room("ТК-5", "5");
    GoOnline();
    StartController("5", {"--reconnect", "600000"});
    ASSERT_TRUE(WaitFor([&] { return Entry(r).Channel == 1; }));
    StartController("5", {"--reconnect", "600000"});
    ASSERT_TRUE(WaitFor([&] { return Entry(r).Channel == 2; }));
    EXPECT_EQ(sim->WaitForText("tcp close 1"), "tcp close 1");
    EXPECT_NE(SimLog().find(Cmd("AT^SISC=1")), std::string::npos);
    EXPECT_EQ(modem->Sockets, std::vector<int>{2});
}

// SMS in UCS-2 parts, the USSD balance, dialling and the configuration a
// controller is sent by SMS or inside a data call; against the simulator.

#include "ModemFixture.h"
#include "foundation/uNuqUtils.h"
#include "platform/Cp1251.h"

using namespace modemtest;

namespace {

const char* kFlow = "ReconnectQuick=2\nReconnectLong=60\nMaxConnectTry=3\nReInitModemStep=5\n"
                    "ReInitModemTryMax=2\nInternetConnectTryMax=3\nReCallStep=7\nReCallTryMax=2\n"
                    "PauseAfterSendCFG=9\nAnswerConnectTimeout=300\n";

std::string Repeat(const std::string& s, int n) {
    std::string r;
    for (int i = 0; i < n; ++i) r += s;
    return r;
}

} // namespace

TEST(ModemSmsText, PartsOf66Characters) {
    struct Case {
        int chars;
        size_t parts;
        size_t lastDigits;
    };
    for (auto c : {Case{0, 1, 0}, Case{1, 1, 4}, Case{66, 1, 264}, Case{67, 2, 4},
                   Case{132, 2, 264}, Case{133, 3, 4}}) {
        const auto pieces = SmsPieces(Repeat("ж", c.chars));
        ASSERT_EQ(pieces.size(), c.parts) << c.chars;
        EXPECT_EQ(pieces.back().size(), c.lastDigits) << c.chars;
    }
    EXPECT_EQ(SmsPartText(0xA5, 2, 1, "0416"), "050003A502010416");
    EXPECT_EQ(SmsPartText(7, 1, 1, ""), "050003070101");
}

TEST(ModemConfigText, LengthCountsTheWholeText) {
    struct Case {
        bool address, access;
        std::string apn, text;
    };
    const Case cases[] = {
        {true, false, "internet", "N:027 ID:5 IP:10.1.1.1:2222"},
        {false, true, "internet", "N:032 AP:internet LG:gdata PW:pw"},
        {true, true, "internet", "N:054 ID:5 IP:10.1.1.1:2222 AP:internet LG:gdata PW:pw"},
        // Counted in the controller's bytes, one per character.
        {false, true, "сеть", "N:028 AP:сеть LG:gdata PW:pw"},
        {false, false, "", "N:006 "},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ConfigText("5", "10.1.1.1", 2222, c.apn, "gdata", "pw", c.address, c.access),
                  c.text);
    const std::string longApn(1000, 'a');
    EXPECT_EQ(ConfigText("5", "", 1, longApn, "", "", false, true).substr(0, 7), "N:1017 ");
}

class ModemCalls : public ModemTest {
protected:
    void SetUp() override {
        ModemTest::SetUp();
        Settings(kFlow, {"ATE0"});
        StartSim();
        MakeModem();
    }
    TBoilerRoom& Room(uint8_t mode) {
        TBoilerRoom& r = Attach("ТК-5", "+79005", "5", mode);
        r.GPRSApn = "internet";
        r.GPRSLogin = "gdata";
        r.GPRSPassword = "pw";
        return r;
    }
    TAttachedBoilerRoom& Entry(TBoilerRoom& r) { return *modem->Attached.FindByBoilerRoom(&r); }
    void GoOnline() {
        modem->Connect();
        ASSERT_TRUE(WaitFor([&] { return modem->Online; }));
        ResetLog();
    }
    void Connected() {
        modem->Connect();
        ResetLog();
    }
};

TEST_F(ModemCalls, SmsOf66CharactersIsOnePartAnd67Two) {
    Connected();
    const std::string text66 = Repeat("Привет", 11);
    ASSERT_TRUE(modem->SendSMS(" +79001112233 ", text66));
    const std::string out = sim->WaitFor("smsout ");
    ASSERT_EQ(out.size(), std::string("smsout +79001112233 ").size() + 12 + 264);
    EXPECT_EQ(out.substr(20, 6), "050003");
    EXPECT_EQ(out.substr(28, 4), "0101");
    EXPECT_EQ(sim->WaitFor("smstext "), "smstext +79001112233 " + text66);
    const std::string pdu = out.substr(20);
    EXPECT_EQ(SimLog(), Cmd("at+cmgs=\"+79001112233\"") + pdu + "\x1A\r\n");

    ASSERT_TRUE(modem->SendSMS("+79001112233", text66 + "!"));
    const std::string p1 = sim->WaitFor("smsout ").substr(20);
    const std::string p2 = sim->WaitFor("smsout ").substr(20);
    EXPECT_EQ(p1.substr(6, 2), p2.substr(6, 2)); // one reference
    EXPECT_NE(p1.substr(6, 2), "00");
    EXPECT_EQ(p1.substr(8, 4), "0201");
    EXPECT_EQ(p2.substr(8, 4), "0202");
    EXPECT_EQ(p2.substr(12), "0021");
    EXPECT_EQ(sim->WaitFor("smstext "), "smstext +79001112233 " + text66 + "!");
}

TEST_F(ModemCalls, SmsPartNotConfirmedEndsTheMessage) {
    Connected();
    sim->Control("error AT+CMGS 1");
    EXPECT_FALSE(modem->SendSMS("+7900", Repeat("a", 100)));
    EXPECT_EQ(SimLog(), Cmd("at+cmgs=\"+7900\""));
    notRunning = true; // no SMS leave while scanning is off
    ResetLog();
    EXPECT_FALSE(modem->SendSMS("+7900", "a"));
    EXPECT_EQ(SimLog(), "");
}

TEST_F(ModemCalls, TextOfMoreThan255PartsIsRefused) {
    Connected();
    EXPECT_EQ(SmsPieces(Repeat("a", 255 * 66)).size(), 255u);
    // Part numbers are one byte: the 256th part would number itself 0.
    EXPECT_FALSE(modem->SendSMS("+7900", Repeat("a", 255 * 66 + 1)));
    EXPECT_EQ(SimLog(), "");
}

TEST_F(ModemCalls, PhoneNumberStaysInsideItsCommand) {
    Connected();
    sim->Control("error AT+CMGS");
    struct Case {
        std::string phone, number;
    };
    std::string expected;
    for (const Case& c : {Case{"\"+7900\"", "+7900"}, Case{" +7900\r\n", "+7900"},
                          Case{"+79\"00\r\nATD1", "+7900ATD1"}, Case{"+7900\n\"", "+7900"}}) {
        EXPECT_FALSE(modem->SendSMS(c.phone, "a"));
        expected += Cmd("at+cmgs=\"" + c.number + "\"");
    }
    EXPECT_EQ(SimLog(), expected);
}

TEST_F(ModemCalls, ReadSmsDecodesUcs2) {
    Connected();
    sim->Control("store +79001112233 AB");
    std::string phone, text;
    modem->ReadSMS(" 1 ", phone, text);
    EXPECT_EQ(phone, "+79001112233");
    EXPECT_EQ(text, "AB");
    EXPECT_TRUE(HasMessage(" - Кодировка: 8"));
    EXPECT_TRUE(HasMessage(" - Текст: 00410042"));
    modem->ReadSMS("9", phone, text); // nothing stored there
    EXPECT_EQ(phone, "");
    EXPECT_EQ(text, "");
}

TEST_F(ModemCalls, BalanceIsAskedOnlyWithACode) {
    std::vector<std::string> replies;
    modem->OnBalance = [&](int, const std::string& r) { replies.push_back(UCS2HexToText(r)); };
    Connected();
    modem->GetBalance();
    EXPECT_TRUE(HasTask(std::to_string(ttGetBalance) + TaskKindEnd));
    modem->ExecuteTasks();
    EXPECT_EQ(SimLog(), "");

    modem->ModemData.CmdGetBalance = " *100# ";
    modem->GetBalance();
    ASSERT_TRUE(WaitFor([&] { return !replies.empty(); }));
    EXPECT_EQ(SimLog(), Cmd("AT+CUSD=1,*100#"));
    EXPECT_EQ(replies[0], "Баланс 100,00 р.");
    EXPECT_TRUE(HasMessage("Запрос на получение информации о балансе для модема (COM7) отправлен"));
}

TEST_F(ModemCalls, DialAnswersMapToCallResults) {
    Connected();
    struct Case {
        std::string answer;
        TCallResult result;
    };
    for (const Case& c : {Case{"BUSY", clrBusy}, Case{"OK", clrConnect},
                          Case{"CONNECT 9600", clrConnect}, Case{"NO DIALTONE", clrNoDialTone},
                          Case{"NO CARRIER", clrNoCarrier}, Case{"ERROR", clrUnknown}}) {
        sim->Control("dial " + c.answer);
        EXPECT_EQ(modem->Call(" +7900 "), c.result) << c.answer;
        EXPECT_FALSE(modem->Dialling);
        // The far side ends a data call a real moment after the ATH: its
        // answer is waited for, else it would answer the next dial.
        UseRealClock();
        modem->SendCommand("ATH\r\n");
        EXPECT_TRUE(modem->WaitAnswer(c.answer.starts_with("CONNECT") ? "NO CARRIER" : "OK", 10000))
            << c.answer;
        UseVirtualClock(Now());
    }
    sim->Control("silent ATD 1");
    EXPECT_EQ(modem->Call("+7900"), clrUnknown); // 35 s on the virtual clock
}

TEST_F(ModemCalls, RingOfEachCallMode) {
    struct Case {
        uint8_t mode;
        std::string dial;
        std::string number;
    };
    for (const Case& c : {Case{0, "NO CARRIER", "+79005"}, Case{2, "NO CARRIER", "+79005;"}}) {
        rooms.clear();
        modem->Attached.Clear();
        TBoilerRoom& r = Room(c.mode);
        GoOnline();
        sim->Control("dial " + c.dial);
        modem->CallToBoilerRoom(Entry(r));
        EXPECT_EQ(SimLog(), Cmd("atd" + c.number) + Cmd("ATH")) << int(c.mode);
        EXPECT_EQ(Entry(r).LinkState, lsWaitingConnection);
        EXPECT_EQ(r.State, bsConnecting);
        ASSERT_NE(Entry(r).ProcessTimer, nullptr);
        EXPECT_EQ(Entry(r).ProcessTimer->Interval(), 300000u);
        modem->Disconnect();
    }
}

TEST_F(ModemCalls, RingTakenOrBusyMeansAWrongNumber) {
    TBoilerRoom& r = Room(0);
    GoOnline();
    sim->Control("dial BUSY");
    modem->CallToBoilerRoom(Entry(r));
    EXPECT_EQ(r.State, bsUndefined);
    EXPECT_TRUE(r.NoAnswer);
    EXPECT_EQ(Entry(r).ProcessTimer, nullptr); // no recall
    EXPECT_TRUE(HasMessage("Проверьте правильность ввода номера контроллера (+79005)"));
}

TEST_F(ModemCalls, RingWithoutDialToneIsRecalled) {
    TBoilerRoom& r = Room(0);
    GoOnline();
    sim->Control("dial NO DIALTONE");
    modem->CallToBoilerRoom(Entry(r));
    ASSERT_NE(Entry(r).ProcessTimer, nullptr);
    EXPECT_EQ(Entry(r).ProcessTimer->Interval(), 7000u);
    EXPECT_EQ(Entry(r).LinkState, lsIdle);
    EXPECT_TRUE(HasMessage("Дозвон к \"ТК-5\" не выполнен."));
}

TEST_F(ModemCalls, DataCallCarriesTheConfiguration) {
    TBoilerRoom& r = Room(1);
    GoOnline();
    sim->Control("dial CONNECT 9600");
    modem->CSDIdent(Entry(r));
    EXPECT_EQ(sim->WaitFor("csd "), "csd N:054 ID:5 IP:10.0.0.5:2222 AP:internet LG:gdata PW:pw");
    EXPECT_EQ(Entry(r).LinkState, lsWaitingConnection);
    EXPECT_EQ(r.State, bsConnecting);
    EXPECT_FALSE(modem->Answering);
    EXPECT_TRUE(HasMessage("Инициализация \"ТК-5\" выполнена. Ждем идентификации"));
}

TEST_F(ModemCalls, DataCallWithoutHangUpFails) {
    TBoilerRoom& r = Room(1);
    GoOnline();
    sim->Control("dial CONNECT");
    sim->Control("csd-hangup no");
    modem->CSDIdent(Entry(r));
    EXPECT_EQ(r.State, bsConfigNotSent);
    EXPECT_TRUE(r.NoAnswer);
    EXPECT_NE(SimLog().find("+++"), std::string::npos);
    EXPECT_NE(SimLog().find(Cmd("ATH")), std::string::npos);
    ASSERT_NE(Entry(r).ProcessTimer, nullptr);
    EXPECT_EQ(Entry(r).ProcessTimer->Interval(), 7000u);
    // While another data call is being answered, none is dialled.
    ResetLog();
    modem->Answering = true;
    modem->CSDIdent(Entry(r));
    EXPECT_EQ(SimLog(), "");
}

TEST_F(ModemCalls, IncomingCallOfADataCallObjectIsAnswered) {
    TBoilerRoom& r = Room(1);
    GoOnline();
    sim->Control("dial CONNECT");
    sim->Control("ring +79005");
    ASSERT_TRUE(WaitFor([&] {
        return SimLog().find(Cmd("ATA")) != std::string::npos && modem->Signals.empty() &&
               !modem->Answering;
    }));
    EXPECT_EQ(sim->WaitFor("csd "), "csd N:054 ID:5 IP:10.0.0.5:2222 AP:internet LG:gdata PW:pw");
    EXPECT_EQ(r.State, bsConnecting);
}

TEST_F(ModemCalls, ConfigurationSmsThenTheRing) {
    TBoilerRoom& r = Room(0);
    GoOnline();
    modem->SendConfigurationToBoilerRoom(Entry(r));
    const std::string access = sim->WaitFor("smstext ");
    const std::string address = sim->WaitFor("smstext ");
    EXPECT_EQ(access, "smstext +79005 N:032 AP:internet LG:gdata PW:pw");
    EXPECT_EQ(address, "smstext +79005 N:027 ID:5 IP:10.0.0.5:2222");
    EXPECT_EQ(r.State, bsConnecting);
    ASSERT_NE(Entry(r).ProcessTimer, nullptr);
    EXPECT_EQ(Entry(r).ProcessTimer->Interval(), 9000u);
    EXPECT_TRUE(HasMessage("Инициализация \"ТК-5\" выполнена"));

    // Identified since the modem went online: no SMS, only the ring.
    ResetLog();
    Entry(r).Identified = true;
    modem->SendConfigurationToBoilerRoom(Entry(r));
    EXPECT_EQ(SimLog(), "");
    ASSERT_NE(Entry(r).ProcessTimer, nullptr);
}

TEST_F(ModemCalls, ConfigurationSmsRefused) {
    TBoilerRoom& r = Room(0);
    GoOnline();
    sim->Control("error AT+CMGS");
    modem->SendConfigurationToBoilerRoom(Entry(r));
    EXPECT_EQ(r.State, bsConfigNotSent);
    EXPECT_TRUE(r.NoAnswer);
    EXPECT_TRUE(HasMessage("Инициализация \"ТК-5\" не выполнена"));
}

TEST_F(ModemCalls, ObjectSmsNotifyGoesToItsPhones) {
    Connected();
    TBoilerRoom room;
    room.Name = "ТК-9";
    room.Status = 0;
    room.SMSPhones = {"+7901", "+7902"};
    room.SendSmsNotify(modem.get(), "");
    EXPECT_EQ(SimLog(), ""); // notification off
    room.SMSNotify = true;
    room.SendSmsNotify(nullptr, "");
    room.SendSmsNotify(modem.get(), "");
    EXPECT_EQ(sim->WaitFor("smstext "), "smstext +7901 Обмен данными остановлен");
    EXPECT_EQ(sim->WaitFor("smstext "), "smstext +7902 Обмен данными остановлен");
    room.SendSmsNotify(modem.get(), "+7903");
    EXPECT_EQ(sim->WaitFor("smstext "), "smstext +7903 Обмен данными остановлен");
    room.SendSMS(modem.get(), "+7904", "Проверка");
    EXPECT_EQ(sim->WaitFor("smstext "), "smstext +7904 Проверка");
}

// The whole call cycle of an object whose controller waits to be told:
// configuration SMS, the ring it refuses, then its connection.
TEST_F(ModemTest, CallCycleBringsTheControllerOnline) {
    Settings("ReCallStep=2\nReCallTryMax=2\nPauseAfterSendCFG=3\nAnswerConnectTimeout=300\n"
             "InternetConnectTryMax=3\nMaxConnectTry=3\nReInitModemTryMax=2\n",
             {"ATE0"});
    StartSimListening();
    MakeModem();
    TBoilerRoom& r = Attach("ТК-5", "+79005", "5");
    r.GPRSApn = "internet";
    auto* a = modem->Attached.FindByBoilerRoom(&r);
    modem->Connect();
    modem->Start(r);
    ASSERT_TRUE(WaitFor([&] { return a->LinkState == lsWaitingConnection; }));
    EXPECT_EQ(sim->WaitFor("smstext "), "smstext +79005 N:025 AP:internet LG: PW:");
    EXPECT_EQ(sim->WaitFor("smstext "), "smstext +79005 N:027 ID:5 IP:10.0.0.5:2222");
    EXPECT_EQ(sim->WaitFor("dial "), "dial +79005");
    EXPECT_EQ(r.State, bsConnecting);
    StartController("5");
    ASSERT_TRUE(WaitFor([&] { return a->LinkState == lsConnected; }));
    EXPECT_EQ(a->ProcessTimer, nullptr);
    EXPECT_EQ(r.State, bsConnected);
}

// A read answer's fields, with the empty ones keeping their places.
TEST(ModemSmsText, ReadAnswerFields) {
    struct Case {
        const char* answer;
        const char* phone;
        const char* coding;
        const char* text;
    };
    for (auto c : {
             Case{"\r\n+CMGR: \"REC UNREAD\",\"+79001230007\",,\"26/12/07,10:15:00+12\",145,4,0,8,"
                  "\"+79000000000\",145,4\r\n04140430\r\n\r\nOK\r\n",
                  "+79001230007", "8", "Да"},
             Case{"+CMGR: \"REC READ\",\"+7900\",\"Иван\",\"26/12/07,10:15:00+12\",145,4,0,0,"
                  "\"+7901\",145,5\r\n  STATUS 7 \r\nOK\r\n",
                  "+7900", "0", "STATUS 7"},
             Case{"\r\nOK\r\n", "", "", ""},
         }) {
        const TSmsReading r = ReadSMSAnswer(c.answer);
        EXPECT_EQ(r.Phone, c.phone) << c.answer;
        EXPECT_EQ(r.Coding, c.coding) << c.answer;
        EXPECT_EQ(r.Text, c.text) << c.answer;
    }
}

// The indexes of a listing: the line after each entry is its text, and only
// a number goes back to the modem.
TEST(ModemSmsText, ListingIndexes) {
    struct Case {
        const char* listing;
        std::vector<int> indexes;
    };
    for (const auto& c : {
             Case{"\r\n+CMGL: 1,\"REC READ\",\"+7900\"\r\nhello\r\n+CMGL: 12 ,\"REC UNREAD\","
                  "\"+7901\"\r\nbye\r\n\r\nOK\r\n",
                  {1, 12}},
             Case{"+CMGL: 2,\"REC READ\"\r\n+CMGL: 3,\"text that looks like an entry\"\r\nOK\r\n",
                  {2}},
             Case{"+CMGL: 4;at+cmgd=1,\"REC READ\"\r\nx\r\n+CMGL: ,\"REC READ\"\r\ny\r\n", {}},
             Case{"+CMGL: 1234567890,\"REC READ\"\r\nx\r\n+CMGL: 5\r\n", {5}},
         }) {
        EXPECT_EQ(SmsListIndexes(c.listing), c.indexes) << c.listing;
    }
}

// The terminal's handlers behind the modem events, as the nuq run host has them.

#include "app/nuq_terminal.h"
#include "foundation/uNuqUtils.h"
#include "platform/EventLoop.h"

#include <gtest/gtest.h>

using namespace nuq;
using namespace nuq::app;

namespace {

class Terminal : public ::testing::Test {
protected:
    TTerminal terminal;
    std::vector<std::string> lines;
    int stops = 0;
    void SetUp() override {
        SetMainThread();
        terminal.Log = [this](const std::string& l) { lines.push_back(l); };
        terminal.StopScanning = [this] { ++stops; };
    }
};

TModemData Port(int n) {
    TModemData d;
    d.PortNumber = n;
    return d;
}

} // namespace

TEST_F(Terminal, MessagesFollowVerboseModeAndDialogs) {
    struct Case {
        bool verbose, verboseOnly, dialog;
        std::vector<std::string> out;
    };
    for (const Case& c : {Case{false, true, false, {}}, Case{true, true, false, {"t"}},
                          Case{false, false, false, {"t"}}, Case{false, false, true, {"[!] t"}}}) {
        lines.clear();
        terminal.Verbose = c.verbose;
        terminal.Message("t", c.verboseOnly, c.dialog);
        EXPECT_EQ(lines, c.out);
    }
}

TEST_F(Terminal, ConnectFailureStopsScanning) {
    terminal.ConnectFailed(3, "ignored");
    EXPECT_EQ(lines, (std::vector<std::string>{"Не удалось подключить модем (COM3) к сети.",
                                               "Сканирование остановлено."}));
    EXPECT_EQ(stops, 1);
}

TEST_F(Terminal, BalanceIsDecoded) {
    terminal.Balance(5, TextToUCS2Hex("Баланс: 10 р."));
    EXPECT_EQ(lines, std::vector<std::string>{"Баланс модема (COM5): Баланс: 10 р."});
}

TEST_F(Terminal, QueriesReachTheModem) {
    TGPRSModem modem(Port(4));
    terminal.AssignTo(modem);
    terminal.Stopping = true;
    EXPECT_TRUE(modem.OnIsStopping());
    EXPECT_TRUE(modem.OnIsNotRunning());
    EXPECT_FALSE(modem.OnIsDestroying());
    modem.Report("проверка");
    EXPECT_EQ(lines, std::vector<std::string>{"COM4  : проверка"});
}

TEST_F(Terminal, SmsForAnUnknownObjectIsRefused) {
    TGPRSModem modem(Port(4));
    terminal.ObjectInfo = [](const std::string& name) -> std::optional<std::string> {
        if (name == "ТК-1") return "ТК-1: норма";
        return std::nullopt;
    };
    terminal.SMSReceived(modem, " ТК-9 ", "+7900");
    EXPECT_EQ(lines, std::vector<std::string>{
                         "СМС-запрос от +7900: объект \"ТК-9\" не найден. Запрос отклонён."});
    lines.clear();
    // Known object: the answer goes through the modem, which cannot send SMS yet.
    terminal.SMSReceived(modem, "ТК-1", "+7900");
    EXPECT_EQ(lines, std::vector<std::string>{
                         "СМС-запрос от +7900: ответ по объекту \"ТК-1\" не отправлен."});
}

TEST_F(Terminal, NoObjectAnswersReconnectsWithoutAnOperator) {
    TGPRSModem modem(Port(4));
    terminal.AssignTo(modem);
    terminal.NotRunning = true; // scanning stopped meanwhile: no reconnect
    terminal.NoObjectAnswers(modem);
    ProcessMessages();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Оператора нет: да, переподключаем."), std::string::npos);
    EXPECT_FALSE(modem.Port->IsOpen());
}

TEST_F(Terminal, ManagerEventsAndEachModemsSmsHandler) {
    TGPRSManager manager;
    manager.ModemList.AddModem(Port(3));
    terminal.AssignTo(manager);
    manager.ModemList.AddModem(Port(4)); // gets the manager's seven
    terminal.NotRunning = false;
    terminal.Stopping = true;
    for (int i = 0; i < 2; ++i) {
        TGPRSModem& m = manager.ModemList.Items(i);
        ASSERT_TRUE(m.OnIsStopping);
        EXPECT_TRUE(m.OnIsStopping());
        ASSERT_TRUE(m.OnBalance);
        m.OnBalance(m.PortNumber(), "0031");
    }
    EXPECT_EQ(lines,
              (std::vector<std::string>{"Баланс модема (COM3): 1", "Баланс модема (COM4): 1"}));
    // The SMS handler is the modem's own, set when the terminal is assigned.
    EXPECT_TRUE(manager.ModemList.Items(0).OnSMSReceived);
}

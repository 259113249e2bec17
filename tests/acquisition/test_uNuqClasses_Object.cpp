// The boiler-room object's life on the virtual clock: timers, state, texts.

#include "acquisition/uNuqClasses.h"
#include "platform/EventLoop.h"
#include "platform/Host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace nuq;
namespace fs = std::filesystem;

namespace {

class BoilerRoom : public ::testing::Test {
protected:
    fs::path home = fs::temp_directory_path() / ("nuq-br-" + std::to_string(getpid()));
    std::unique_ptr<TBoilerRoom> room = std::make_unique<TBoilerRoom>();
    std::vector<std::pair<std::string, int>> messages;
    int requests = 0;

    void SetUp() override {
        SetMainThread();
        UseVirtualClock(EncodeDateTime(2026, 1, 10, 8), 1000);
        SetIdleGrace(0);
        fs::create_directories(home);
        SetHostFolder(home.string());
        room->Name = "Котельная №1";
        room->OnStatusChange = [this](TBoilerRoom&, const std::string& m, int kind) {
            messages.emplace_back(m, kind);
        };
    }
    void TearDown() override {
        room.reset();
        SetHostFolder("");
        SetIdleGrace(-1);
        UseRealClock();
        fs::remove_all(home);
    }
    // Runs the loop for Ms of virtual time.
    static void Run(uint32_t ms) {
        ProcessMessagesUntil([] { return false; }, ms);
    }
};

} // namespace

TEST_F(BoilerRoom, RequestTimerAsksOnlyWhenConnectedAndIdle) {
    room->Status = 1;
    room->InitRequestTimer(10, [this](TBoilerRoom&) { ++requests; });
    room->Start(10, 0);
    Run(60000);
    EXPECT_EQ(requests, 0); // the timer is not enabled by Start
    room->EnableTimers(true);
    Run(35000);
    EXPECT_EQ(requests, 0); // not connected
    room->Connected = true;
    Run(30000);
    EXPECT_EQ(requests, 3);
    room->StartProcessTimer(100);
    Run(30000);
    EXPECT_EQ(requests, 3); // an answer is awaited
    room->StopProcessTimer();
    EXPECT_EQ(room->LastRequestTime, 2.0);
    Run(10000);
    EXPECT_EQ(requests, 4);

    room->RequestTimer()->Tag = 7;
    room->RecreateRequestTimer();
    EXPECT_EQ(room->RequestTimer()->Interval(), 10000u);
    EXPECT_EQ(room->RequestTimer()->Tag, 7);
    Run(10000);
    EXPECT_EQ(requests, 5);

    room->Pause();
    Run(60000);
    EXPECT_EQ(requests, 5);
}

TEST_F(BoilerRoom, TimersStayOffWhenNotPolled) {
    for (uint8_t status : {0, 3, 255}) {
        TBoilerRoom r;
        r.Status = status;
        r.InitRequestTimer(1, nullptr);
        r.EnableTimers(true);
        EXPECT_FALSE(r.RequestTimer()->Enabled()) << int(status);
    }
    TBoilerRoom manual;
    manual.Status = 2;
    manual.InitRequestTimer(1, nullptr);
    manual.EnableTimers(true);
    EXPECT_TRUE(manual.RequestTimer()->Enabled());
}

TEST_F(BoilerRoom, RestartKeepsFailedRequestsOnlyWhenAsked) {
    room->Status = 1;
    room->InitRequestTimer(5, nullptr);
    room->Start(5, 0);
    room->EnableTimers(true);
    room->FailedRequests = 4;
    room->Restart(true);
    EXPECT_EQ(room->FailedRequests, 4);
    EXPECT_TRUE(room->RequestTimer()->Enabled());
    room->Restart(false);
    EXPECT_EQ(room->FailedRequests, 0);
    room->EnableTimers(false);
    room->Restart(true);
    EXPECT_FALSE(room->RequestTimer()->Enabled());
}

// The handler of a time-out may send the next request at once.
TEST_F(BoilerRoom, AnswerTimeoutClearsPendingFirst) {
    int timeouts = 0;
    room->OnAnswerTimeout = [&](TBoilerRoom& r) {
        EXPECT_FALSE(r.AnswerPending);
        if (++timeouts < 3) r.StartProcessTimer(30);
    };
    room->StartProcessTimer(30);
    EXPECT_TRUE(room->AnswerPending);
    Run(29999);
    EXPECT_EQ(timeouts, 0);
    Run(1);
    EXPECT_EQ(timeouts, 1);
    Run(120000);
    EXPECT_EQ(timeouts, 3);
    EXPECT_FALSE(room->AnswerPending);
}

TEST_F(BoilerRoom, LowTemperaturePeriodFollowsInfoBytes) {
    room->InfoBytes = std::make_unique<TNuqInfoBytes>();
    room->InfoBytes->LTPeriod = 2;
    int checks = 0;
    room->OnLowTemperatureCheck = [&](TBoilerRoom&) { ++checks; };
    room->StartWaitTimer();
    Run(2 * 60000);
    EXPECT_EQ(checks, 1);
    room->InfoBytes->LTPeriod = 5; // taken at the next tick's re-arming
    Run(2 * 60000);
    EXPECT_EQ(checks, 2);
    Run(5 * 60000 - 1);
    EXPECT_EQ(checks, 2);
    Run(1);
    EXPECT_EQ(checks, 3);
    room->LowTemperature = true;
    room->Stop();
    EXPECT_FALSE(room->LowTemperature);
    Run(60 * 60000);
    EXPECT_EQ(checks, 3);
}

TEST_F(BoilerRoom, StateChangesNotifyWithAnEmptyMessage) {
    room->SetState(bsConnecting);
    room->SetNoAnswer(true);
    EXPECT_EQ(room->State, bsConnecting);
    EXPECT_TRUE(room->NoAnswer);
    EXPECT_EQ(messages, (std::vector<std::pair<std::string, int>>{{"", 0}, {"", 0}}));
    room->OnStatusChange = nullptr;
    room->SetState(bsConnected); // made without anybody listening
    EXPECT_EQ(room->State, bsConnected);

    room->Status = 2;
    EXPECT_EQ(room->GetStatus(), 2);
    room->OnGetStatus = [](TBoilerRoom&) -> uint8_t { return 1; };
    EXPECT_EQ(room->GetStatus(), 1);
}

TEST_F(BoilerRoom, StopLeavesEveryBlockWithoutData) {
    room->LoadScript(
        "#script;\n#defbyte 1;\nType = IsByte;\nCaption = 'T';\n#enddefbyte;\n#endscript;\n");
    room->DecodePacket(std::string("\x05", 1));
    room->AlarmCode = 3;
    room->ModeText = "Зима";
    room->Start(0, 0);
    room->Stop();
    EXPECT_EQ(room->PacketLength, -1);
    EXPECT_EQ(room->Blocks.Items(0).DecodeList.GetItem(0).Value, "-");
    EXPECT_EQ(room->AlarmCode, 0);
    EXPECT_EQ(room->ModeText, "");
    EXPECT_FALSE(room->Running);
}

TEST_F(BoilerRoom, StartReloadsItsSettings) {
    std::ofstream(home / "setting.ini") << "[FlowSettings]\nReconnectQuick=3\nMaxConnectTry=7\n";
    room->Start(1, 1);
    EXPECT_EQ(room->Settings->ReconnectQuick, 3);
    EXPECT_EQ(room->Settings->MaxConnectTry, 7);
    std::ofstream(home / "setting.ini") << "[FlowSettings]\nReconnectQuick=9\n";
    room->Restart(false);
    EXPECT_EQ(room->Settings->ReconnectQuick, 9);
    // Objects reading the same file hold one copy; a changed file makes a new one.
    TBoilerRoom other;
    other.Start(1, 1);
    EXPECT_EQ(other.Settings, room->Settings);
    std::ofstream(home / "setting.ini") << "[FlowSettings]\nReconnectQuick=4\n";
    other.Restart(false);
    EXPECT_EQ(other.Settings->ReconnectQuick, 4);
    EXPECT_EQ(room->Settings->ReconnectQuick, 9);
}

// An owner may free the object from one of its handlers; nothing of it runs afterwards.
TEST_F(BoilerRoom, DestroyedFromItsOwnHandler) {
    room->OnAnswerTimeout = [this](TBoilerRoom&) { room.reset(); };
    room->StartProcessTimer(1);
    Run(5000);
    EXPECT_EQ(room, nullptr);

    auto other = std::make_unique<TBoilerRoom>();
    int calls = 0;
    other->OnData = [&](TBoilerRoom&, const std::string&) {
        ++calls;
        other.reset();
    };
    other->RxBuffer.AddString("<1>\r\n<2>\r\n");
    EXPECT_EQ(calls, 1);
}

// Received bytes are cut at CR LF; brackets are dropped wherever they stand.
TEST_F(BoilerRoom, FramingOfReceivedLines) {
    std::vector<std::string> lines;
    room->OnData = [&](TBoilerRoom&, const std::string& line) { lines.push_back(line); };
    room->RxBuffer.AddString("<12 34>\r\n<56");
    EXPECT_EQ(lines, std::vector<std::string>{"12 34"});
    EXPECT_EQ(room->RxBuffer.AsString(), "<56");
    room->RxBuffer.AddString(">\r\na<b>c\r\n\r\n  <x>  \r\n\xC0\xE1\r");
    EXPECT_EQ(lines, (std::vector<std::string>{"12 34", "56", "abc", "", "x"}));
    room->RxBuffer.AddString("\n");
    EXPECT_EQ(lines.back(), "Аб"); // cp1251 on the wire
}

TEST_F(BoilerRoom, SendTextOnlyWhenConnected) {
    std::vector<std::pair<std::string, bool>> sent;
    room->OnDataSent = [&](TBoilerRoom&, const std::string& text, bool ok) {
        sent.emplace_back(text, ok);
    };
    room->LinkKind = lkDDE;
    room->SendText("PING", true);
    EXPECT_TRUE(sent.empty());
    room->State = bsConnected;
    room->SendText("PING", true);
    room->SendText("RAW", false);
    EXPECT_EQ(sent, (std::vector<std::pair<std::string, bool>>{{"<PING>", true}, {"RAW", true}}));
}

TEST_F(BoilerRoom, StateText) {
    struct Case {
        uint8_t state;
        double lastData;
        std::string mode;
        int alarm;
        std::string text;
    };
    room->LoadScript("#script;\n#defcrash;\nCode 4 -> 'Перегрев';\n#enddefcrash;\n#endscript;\n");
    for (const auto& c :
         {Case{0, 0, "", 0, "Связь не установлена"}, Case{1, 0, "", 0, "Установление связи"},
          Case{2, 0, "Зима", 0, "Не определено"}, Case{3, 0, "", 0, "Не определено"},
          Case{4, 0, "", 0, "Ошибка открытия COM-порта"},
          Case{5, 0, "", 0, "Ошибка при инициализации модема"},
          Case{6, 0, "", 0, "Нет связи с сетью"},
          Case{7, 0, "", 0, "Не удалось отправить информацию о конфигурации"},
          Case{8, 0, "", 0, "Объект не отвечает"}, Case{9, 0, "", 0, "Не определено"},
          Case{2, 46000, "", 0, "Не определено (Норма)"},
          Case{2, 46000, "Зима", 4, "Зима (Перегрев)"},
          Case{2, 46000, "Лето ", 5, "Лето  (Неисправность)"},
          Case{0, 46000, "Зима", 4, "Связь не установлена"}}) {
        room->State = c.state;
        room->LastDataTime = c.lastData;
        room->ModeText = c.mode;
        room->AlarmCode = c.alarm;
        EXPECT_EQ(room->StateText(), c.text) << int(c.state) << " " << c.mode;
    }
}

TEST_F(BoilerRoom, SmsNotifyText) {
    room->Status = 0;
    EXPECT_EQ(room->BuildSmsNotifyText(), "Обмен данными остановлен");

    room->Status = 2;
    room->State = bsNotConnected;
    EXPECT_EQ(room->BuildSmsNotifyText(), "\"Котельная №1\"\r\nСвязь не установлена\r\n");

    auto add = [&](int num, uint8_t type, std::string t0, std::string t1, int byteNum, int bitNum,
                   uint8_t valueType = 0, int dimension = 100, double minRange = 0,
                   double maxRange = 1, std::string nan = "") {
        auto item = std::make_unique<tSmsNotifyTemplateItem>();
        item->Num = num;
        item->ItemType = type;
        item->Text0 = t0;
        item->Text1 = t1;
        item->ByteNum = byteNum;
        item->BitNum = bitNum;
        item->ValueType = valueType;
        item->Dimension = dimension;
        item->MinRange = minRange;
        item->MaxRange = maxRange;
        item->NaNText = nan;
        room->SMSTemplates.Add(std::move(item));
    };
    add(5, 0, "#Давление=", "", 2, 0, 4, 100, 0, 10);
    add(1, 2, "Котел_1:#Насос_", "", 0, 0);
    add(3, 1, "стоп", "работа", 1, 3);
    add(7, 0, "#Т=", "", 3, 0, 1);
    add(8, 0, "#X", "", 3, 0, 0, 100, 0, 1, "zz"); // a no-data code that is not hex
    add(9, 0, "#F=", "", 4, 0, 3);
    add(10, 0, "#N=", "", 3, 0, 0, 100, 0, 1, "85");
    add(11, 0, "#Big=", "", 4, 0, 4, 65535, 0, 100000000);
    room->SMSTemplates.Items(0)->Active = true;
    room->LowTemperature = true;
    room->DecodePacket(std::string("\x04\x32\x85\x49\x96\xB4\x38\x00\x02", 9));
    EXPECT_EQ(room->BuildSmsNotifyText(),
              "\"Котельная №1\"\r\nСвязь не установлена\r\nНизкая температура\r\n"
              "Котел 1:\r\nНасос работа\r\nДавление=5\r\nТ=-5\r\nX=<ER>\r\nF=1 234 567\r\nN=-\r\n"
              "Big=28 744 945.449");
    EXPECT_EQ(room->SMSTemplates.Items(0)->Num, 1); // the list keeps its new order

    room->SMSTemplates.Items(1)->Active = false;
    room->LowTemperature = false;
    const std::string text = room->BuildSmsNotifyText();
    EXPECT_EQ(text.find("работа"), std::string::npos);
}

// The DDE link of a boiler room against the stand-in data-source server.

#include "acquisition/uNuqClasses.h"
#include "foundation/uNuqUtils.h"
#include "platform/EventLoop.h"
#include "platform/Host.h"
#include "platform/test_SimDdeFixture.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

const char* kItems = "[NuqPlant|Boiler1]\nState=2\nT1=12,5\nP=-5\nLevel=300\nCmd=0\n";

std::unique_ptr<TOPCMapState> StateRow(const std::string& caption, const std::string& item,
                                       const std::string& values) {
    auto row = std::make_unique<TOPCMapState>();
    row->Caption = caption;
    row->Path = item.empty() ? "" : "Boiler1";
    row->Item = item;
    row->Values = values;
    return row;
}

std::unique_ptr<TOPCMapVar> Var(const std::string& name, int size, int position) {
    auto v = std::make_unique<TOPCMapVar>();
    v->Path = "Boiler1";
    v->Name = name;
    v->Size = uint8_t(size);
    v->Position = uint16_t(position);
    return v;
}

class DdeLink : public ::testing::Test {
protected:
    std::unique_ptr<TBoilerRoom> room = std::make_unique<TBoilerRoom>();
    std::vector<std::string> messages, data;

    void SetUp() override {
        SetMainThread();
        UseVirtualClock(EncodeDateTime(2026, 1, 10, 8), 1000);
        room->Name = "ДДЕ-1";
        room->Status = 1;
        room->OnStatusChange = [this](TBoilerRoom&, const std::string& m, int) {
            if (!m.empty()) messages.push_back(m);
        };
        room->OnData = [this](TBoilerRoom&, const std::string& line) { data.push_back(line); };
        room->OPCMap.States.Add(StateRow("Останов", "State", "0"));
        room->OPCMap.States.Add(StateRow("Выбег", "", ""));
        room->OPCMap.States.Add(StateRow("Работа", "State", "1, 2"));
        room->OPCMap.States.Add(StateRow("Аварийный останов", "", ""));
        room->OPCMap.Vars.Add(Var("Level", 2, 8));
        room->OPCMap.Vars.Add(Var("T1", 4, 2));
        room->OPCMap.Vars.Add(Var("P", 2, 6));
        room->SetDDEConnection("NuqPlant");
    }
    void TearDown() override {
        room.reset();
        SetIdleGrace(-1);
        UseRealClock();
    }
    static void Run(uint32_t ms) {
        ProcessMessagesUntil([] { return false; }, ms);
    }
};

} // namespace

TEST_F(DdeLink, PollsTheServerAndBuildsThePacket) {
    SimDde server(kItems);
    ASSERT_TRUE(server.Started());
    EXPECT_TRUE(room->Connected); // a DDE link counts as up from the start
    room->Start(10, 2);
    EXPECT_EQ(room->State, bsConnected);
    EXPECT_EQ(messages.back(), "OPC/DDE клиент для \"ДДЕ-1\" запущен");
    EXPECT_TRUE(room->DDETimer()->Enabled());
    EXPECT_EQ(room->DDETimer()->Interval(), 2000u);

    Run(2000);
    ASSERT_EQ(data.size(), 1u);
    // State byte "Работа" (row 2), then the variables by position: 12.5, -5, 300.
    EXPECT_EQ(data[0], "20414800008005012C");
    room->LoadScript(
        "#script;\n#defbyte 1;\nType = IsParameter;\nCaption = 'Состояние';\n#defparam;\n"
        "DefNumber 32 -> 'Работа';\n#enddefparam;\n#enddefbyte;\n#defbyte 2;\nType = IsFloat;\n"
        "Caption = 'T1';\n#enddefbyte;\n#defbyte 6;\nType = IsInteger;\nCaption = "
        "'P';\n#enddefbyte;\n"
        "#endscript;\n");
    const TByteList packet = HexToByteList(data[0]);
    room->DecodePacket(std::string(packet.begin(), packet.end()));
    EXPECT_EQ(room->Blocks.Items(0).DecodeList.GetItem(0).Value, "Работа");
    EXPECT_EQ(room->Blocks.Items(1).DecodeList.GetItem(0).Value, "12.5");
    EXPECT_EQ(room->Blocks.Items(2).DecodeList.GetItem(0).Value, "-5");

    EXPECT_EQ(server.Command("set NuqPlant Boiler1 State 7"), "ok");
    EXPECT_EQ(server.Command("set NuqPlant Boiler1 T1 0"), "ok");
    Run(2000);
    ASSERT_EQ(data.size(), 2u);
    EXPECT_EQ(data[1], "F0000000008005012C");

    // A value that does not convert spoils the whole packet.
    EXPECT_EQ(server.Command("set NuqPlant Boiler1 Level много"), "ok");
    Run(2000);
    ASSERT_EQ(data.size(), 3u);
    EXPECT_EQ(data[2], "");

    room->EnableTimers(false);
    EXPECT_FALSE(room->DDETimer()->Enabled());
    room->EnableTimers(true);
    EXPECT_TRUE(room->DDETimer()->Enabled());
    room->Pause();
    EXPECT_EQ(room->State, bsUndefined);

    room->Stop();
    EXPECT_EQ(room->State, bsNotConnected);
    EXPECT_EQ(messages.back(), "OPC/DDE клиент для \"ДДЕ-1\" отключен");
    EXPECT_EQ(room->OPCServer, nullptr);
    EXPECT_FALSE(room->DDETimer()->Enabled());
}

TEST_F(DdeLink, WritesReportWhatTheServerDid) {
    SimDde server(kItems);
    ASSERT_TRUE(server.Started());
    std::vector<std::pair<std::string, bool>> sent;
    room->OnDataSent = [&](TBoilerRoom&, const std::string& text, bool ok) {
        sent.emplace_back(text, ok);
    };
    room->WriteOPCValue("Boiler1", "Cmd", "5"); // not started: nothing
    EXPECT_TRUE(sent.empty());
    room->Start(10, 0);
    EXPECT_FALSE(room->DDETimer()->Enabled()); // a period of 0 polls nothing
    room->WriteOPCValue("Boiler1", "Cmd", "5");
    std::string value;
    ASSERT_TRUE(room->OPCServer->ReadItem("Boiler1", "Cmd", value));
    EXPECT_EQ(value, "5");
    EXPECT_EQ(server.Command("failpokes Cmd 6"), "ok");
    room->WriteOPCValue("Boiler1", "Cmd", "6");
    EXPECT_EQ(sent, (std::vector<std::pair<std::string, bool>>{{"Boiler1.Cmd = 5", true},
                                                               {"Boiler1.Cmd = 6", false}}));
}

// A failing read is said once, naming the service, topic, item and reason,
// and once more when reads work again.
TEST_F(DdeLink, LostServerGivesEmptyPackets) {
    room->Start(10, 1);
    messages.clear();
    Run(3000); // no server at all
    ASSERT_EQ(data, std::vector<std::string>(3, ""));
    SimDde server(kItems);
    ASSERT_TRUE(server.Started());
    Run(1000);
    ASSERT_EQ(data.size(), 4u);
    EXPECT_EQ(data[3], "20414800008005012C");
    EXPECT_EQ(messages, (std::vector<std::string>{
                            "Ошибка чтения OPC/DDE для \"ДДЕ-1\": сервис NuqPlant, раздел Boiler1, "
                            "элемент State: нет связи с сервисом",
                            "Чтение OPC/DDE для \"ДДЕ-1\" восстановлено"}));

    // Stopped with nobody listening: the state still changes.
    room->OnStatusChange = nullptr;
    room->Stop();
    EXPECT_EQ(room->State, bsNotConnected);
}

// The owner's handling of a packet may run the loop for longer than the poll
// period (a decode does); the poll that falls due meanwhile does not hand over
// a second packet in the middle of the first.
TEST_F(DdeLink, PollInsideTheOwnersHandlingWaits) {
    SimDde server(kItems);
    ASSERT_TRUE(server.Started());
    SetIdleGrace(20);
    int depth = 0, deepest = 0;
    room->OnData = [&](TBoilerRoom&, const std::string& line) {
        ++depth;
        deepest = std::max(deepest, depth);
        data.push_back(line);
        if (data.size() == 1) Run(3500); // spans the next poll's time
        --depth;
    };
    room->Start(10, 1);
    ProcessMessagesUntil([&] { return data.size() >= 3; }, 10000);
    EXPECT_GE(data.size(), 3u);
    EXPECT_EQ(deepest, 1);
}

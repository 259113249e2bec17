// The DDE client of an object against the stand-in server, run as a separate
// process, and the packet an object builds from the items it reads.

#include "acquisition/uOPCMap.h"
#include "acquisition/uOPCServer.h"
#include "platform/test_SimDdeFixture.h"

#include <gtest/gtest.h>

using namespace nuq;

namespace {

const char* kItems = "[Plant|Boiler1]\n"
                     "State = 2\n"
                     "T1 = 12,5\n"
                     "P = -5\n"
                     "Level = 300.4\n"
                     "Cmd = 0\n"
                     "[Plant|Boiler2]\n"
                     "State = 7\n"
                     "T1 = 1.0\n";

std::string Read(TOPCServer& s, const std::string& topic, const std::string& item,
                 bool* ok = nullptr) {
    std::string value = "stale";
    bool r = s.ReadItem(topic, item, value);
    if (ok) *ok = r;
    return value;
}

} // namespace

TEST(OPCServer, OneConversationPerTopicReused) {
    SimDde sim(kItems);
    ASSERT_TRUE(sim.Started());
    TOPCServer s("Plant");
    EXPECT_EQ(s.ServiceName, "Plant");
    EXPECT_EQ(Read(s, "Boiler1", "T1"), "12,5");
    TDdeClientConv* first = s.GetConversation("Boiler1");
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(Read(s, "Boiler1", "State"), "2");
    EXPECT_EQ(s.GetConversation("Boiler1"), first);
    EXPECT_EQ(s.ConversationCount(), 1);
    EXPECT_EQ(Read(s, "Boiler2", "State"), "7");
    EXPECT_NE(s.GetConversation("Boiler2"), first);
    EXPECT_EQ(s.ConversationCount(), 2);
    EXPECT_EQ(first->DdeService(), "Plant");
    EXPECT_EQ(first->DdeTopic(), "Boiler1");
    EXPECT_EQ(sim.Command("stats"), "stats links=2 requests=3 pokes=0");

    s.CloseAll();
    EXPECT_EQ(s.ConversationCount(), 0);
    EXPECT_EQ(Read(s, "Boiler1", "T1"), "12,5"); // still usable
}

TEST(OPCServer, NoConversation) {
    SimDde sim(kItems);
    ASSERT_TRUE(sim.Started());
    struct Case {
        const char* service;
        const char* topic;
    };
    for (auto c : {Case{"Absent", "Boiler1"}, Case{"Plant", "NoTopic"}, Case{"Plant", ""},
                   Case{"", "Boiler1"}, Case{"a/b", "Boiler1"}}) {
        TOPCServer s(c.service);
        bool ok = true;
        EXPECT_EQ(Read(s, c.topic, "T1", &ok), "") << c.service << "|" << c.topic;
        EXPECT_FALSE(ok);
        EXPECT_FALSE(s.WriteItem(c.topic, "T1", "1"));
        EXPECT_EQ(s.GetConversation(c.topic), nullptr);
        EXPECT_EQ(s.ConversationCount(), 0);
    }
}

TEST(OPCServer, FailedOpenRetriedOnNextCall) {
    SimDde sim(kItems);
    ASSERT_TRUE(sim.Started());
    TOPCServer s("Plant");
    EXPECT_EQ(sim.Command("refuse Boiler1 2"), "ok");
    bool ok = true;
    EXPECT_EQ(Read(s, "Boiler1", "T1", &ok), "");
    EXPECT_FALSE(ok);
    EXPECT_FALSE(s.WriteItem("Boiler1", "Cmd", "1"));
    EXPECT_EQ(s.ConversationCount(), 0);
    EXPECT_EQ(Read(s, "Boiler1", "T1", &ok), "12,5");
    EXPECT_TRUE(ok);
    EXPECT_EQ(s.ConversationCount(), 1);
    EXPECT_EQ(sim.Command("stats"), "stats links=1 requests=1 pokes=0");
}

TEST(OPCServer, FailedRequestGivesEmptyValue) {
    SimDde sim(kItems);
    ASSERT_TRUE(sim.Started());
    TOPCServer s("Plant");
    bool ok = false;
    EXPECT_EQ(Read(s, "Boiler1", "NoItem", &ok), "");
    EXPECT_TRUE(ok); // a conversation exists
    EXPECT_EQ(Read(s, "Boiler1", "T1"), "12,5");
}

TEST(OPCServer, PokesRetried) {
    struct Case {
        int failures;
        bool written;
        int pokes;
    };
    for (auto c : {Case{0, true, 1}, Case{1, true, 2}, Case{5, true, 6}, Case{6, false, 6},
                   Case{9, false, 6}}) {
        SimDde sim(kItems);
        ASSERT_TRUE(sim.Started());
        TOPCServer s("Plant");
        EXPECT_EQ(sim.Command("failpokes Cmd " + std::to_string(c.failures)), "ok");
        EXPECT_EQ(s.WriteItem("Boiler1", "Cmd", "3"), c.written) << c.failures;
        EXPECT_EQ(Read(s, "Boiler1", "Cmd"), c.written ? "3" : "0") << c.failures;
        // Each attempt asks for the item before it pokes.
        EXPECT_EQ(sim.Command("stats"), "stats links=1 requests=" + std::to_string(c.pokes + 1) +
                                            " pokes=" + std::to_string(c.pokes))
            << c.failures;
    }
}

TEST(OPCServer, WriteOfUnknownItemFails) {
    SimDde sim(kItems);
    ASSERT_TRUE(sim.Started());
    TOPCServer s("Plant");
    EXPECT_FALSE(s.WriteItem("Boiler1", "NoItem", "1"));
    EXPECT_EQ(sim.Command("stats"), "stats links=1 requests=6 pokes=6");
}

// A stalled server costs one time-out, not a hung terminal; the topic is
// linked again on the next call.
TEST(OPCServer, StalledServer) {
    SimDde sim(kItems);
    ASSERT_TRUE(sim.Started());
    // Conversations take their time-out when they are made; the first read
    // must get its answer within it on a loaded machine too.
    struct Timeout {
        Timeout() { ::setenv("NUQ_DDE_TIMEOUT", "1000", 1); }
        ~Timeout() { ::unsetenv("NUQ_DDE_TIMEOUT"); }
    } timeout;
    TOPCServer s("Plant");
    EXPECT_EQ(Read(s, "Boiler1", "T1"), "12,5");
    EXPECT_EQ(sim.Command("stall 60000"), "ok");
    bool ok = false;
    EXPECT_EQ(Read(s, "Boiler1", "T1", &ok), "");
    EXPECT_TRUE(ok);
    EXPECT_EQ(sim.Command("stall 0"), "ok");
    TDdeClientConv* conv = s.GetConversation("Boiler1");
    EXPECT_EQ(Read(s, "Boiler1", "T1", &ok), "12,5");
    EXPECT_TRUE(ok);
    EXPECT_EQ(s.GetConversation("Boiler1"), conv);
    EXPECT_EQ(s.ConversationCount(), 1);
    EXPECT_EQ(sim.Command("stats"), "stats links=2 requests=3 pokes=0");
}

// Without relinking, a server restart would leave the object reading empty
// values as success until it is restarted itself.
TEST(OPCServer, ServerRestart) {
    SimDde sim(kItems);
    ASSERT_TRUE(sim.Started());
    TOPCServer s("Plant");
    EXPECT_EQ(Read(s, "Boiler1", "T1"), "12,5");
    sim.Stop(SIGKILL);
    bool ok = true;
    std::string v = Read(s, "Boiler1", "T1", &ok);
    EXPECT_EQ(v, "");
    v = Read(s, "Boiler1", "T1", &ok);
    EXPECT_FALSE(ok); // no server to link to
    EXPECT_FALSE(s.WriteItem("Boiler1", "Cmd", "1"));
    sim.Start();
    ASSERT_TRUE(sim.Started());
    EXPECT_EQ(Read(s, "Boiler1", "T1", &ok), "12,5");
    EXPECT_TRUE(ok);
    EXPECT_EQ(s.ConversationCount(), 1);
}

// What the object does in its read cycle: every item read through the client,
// stored into the map, then the packet built.
TEST(OPCServer, PacketFromLiveItems) {
    SimDde sim(kItems);
    ASSERT_TRUE(sim.Started());
    TOPCServer s("Plant");
    TOPCMap m;
    for (const char* caption : {"Останов", "Выбег", "Работа", "Аварийный останов"}) {
        auto r = std::make_unique<TOPCMapState>();
        r->Caption = caption;
        r->Path = "Boiler1";
        r->Item = "State";
        m.States.Add(std::move(r));
    }
    m.States.GetItem(0)->Values = "0";
    m.States.GetItem(2)->Values = "1,2";
    struct V {
        const char* name;
        int size, position;
    };
    for (auto v : {V{"Level", 1, 7}, V{"T1", 4, 2}, V{"P", 2, 6}}) {
        auto var = std::make_unique<TOPCMapVar>();
        var->Path = "Boiler1";
        var->Name = v.name;
        var->Size = uint8_t(v.size);
        var->Position = uint16_t(v.position);
        m.Vars.Add(std::move(var));
    }
    auto readCycle = [&] {
        for (int i = 0; i < m.States.Count(); ++i) {
            auto* r = m.States.GetItem(i);
            std::string value;
            if (r->HasSource() && s.ReadItem(r->Path, r->Item, value))
                r->Value = StrToIntDef(Trim(value), 0);
        }
        for (int i = 0; i < m.Vars.Count(); ++i) {
            auto* v = m.Vars.GetItem(i);
            std::string value;
            if (!s.ReadItem(v->Path, v->Name, value)) continue;
            for (char& c : value)
                if (c == ',' || c == '.') c = DecimalSeparator;
            double d = 0;
            if (TryStrToFloat(value, d)) v->Value = float(d);
        }
        return m.BuildPacket();
    };
    EXPECT_EQ(readCycle(), (TByteList{0x20, 0x41, 0x48, 0x00, 0x00, 0x80, 0x05, 0x2C}));
    EXPECT_TRUE(s.WriteItem("Boiler1", "State", "0"));
    EXPECT_TRUE(s.WriteItem("Boiler1", "P", "-1,5"));
    EXPECT_EQ(readCycle(), (TByteList{0x00, 0x41, 0x48, 0x00, 0x00, 0x80, 0x02, 0x2C}));
    EXPECT_TRUE(s.WriteItem("Boiler1", "State", "5"));
    EXPECT_EQ(readCycle().front(), 0xF0);
    EXPECT_EQ(s.ConversationCount(), 1);
}

#include "platform/Timer.h"

#include "platform/EventLoop.h"
#include "platform/SysUtils.h"
#include "test_EventLoopFixture.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace nuq;

namespace {

// Steps the virtual clock 1 ms at a time, with a pass after each step, and
// returns the ticks (from the call) at which Count grew.
std::vector<uint32_t> TicksOfFires(const int& count, uint32_t span) {
    std::vector<uint32_t> at;
    uint32_t start = GetTickCount();
    int seen = count;
    for (uint32_t i = 0; i < span; ++i) {
        AdvanceClock(1);
        ProcessMessages();
        for (; seen < count; ++seen) at.push_back(GetTickCount() - start);
    }
    return at;
}

} // namespace

using Timer = LoopTest;

TEST_F(Timer, StartsEnabledAtOneSecondLikeTheRuntimes) {
    TTimer t;
    EXPECT_TRUE(t.Enabled());
    EXPECT_EQ(t.Interval(), 1000u);
    EXPECT_FALSE(t.OnTimer());
    EXPECT_EQ(t.Tag, 0);
    int fired = 0;
    t.SetOnTimer([&] { ++fired; });
    EXPECT_EQ(TicksOfFires(fired, 2500), (std::vector<uint32_t>{1000, 2000}));
}

TEST_F(Timer, FiresOnlyWhenEnabledWithIntervalAndHandler) {
    struct Case {
        bool enabled;
        uint32_t interval;
        bool handler;
        int fires;
    };
    for (auto c : {Case{true, 100, true, 3}, Case{false, 100, true, 0}, Case{true, 0, true, 0},
                   Case{true, 100, false, 0}, Case{false, 0, false, 0}}) {
        int fired = 0;
        TTimer t;
        t.SetEnabled(c.enabled);
        t.SetInterval(c.interval);
        if (c.handler) t.SetOnTimer([&] { ++fired; });
        EXPECT_EQ(TicksOfFires(fired, 350).size(), size_t(c.fires))
            << c.enabled << " " << c.interval << " " << c.handler;
    }
}

TEST_F(Timer, ChangeRestartsPeriod) {
    // Interval 100 armed at 0; the change comes at 60.
    struct Case {
        const char* what;
        std::function<void(TTimer&)> change;
        uint32_t firstFire;
    };
    std::vector<Case> cases{
        {"disable and enable",
         [](TTimer& t) {
             t.SetEnabled(false);
             t.SetEnabled(true);
         },
         160},
        {"enable again", [](TTimer& t) { t.SetEnabled(true); }, 100},
        {"same interval", [](TTimer& t) { t.SetInterval(100); }, 100},
        {"shorter interval", [](TTimer& t) { t.SetInterval(50); }, 110},
        {"longer interval", [](TTimer& t) { t.SetInterval(300); }, 360},
        {"handler assigned", [](TTimer& t) { t.SetOnTimer(t.OnTimer()); }, 160},
        {"interval 0 and back",
         [](TTimer& t) {
             t.SetInterval(0);
             t.SetInterval(100);
         },
         160},
    };
    for (const auto& c : cases) {
        int fired = 0;
        TTimer t;
        t.SetInterval(100);
        t.SetOnTimer([&] { ++fired; });
        AdvanceClock(60);
        ProcessMessages();
        c.change(t);
        auto at = TicksOfFires(fired, 400);
        ASSERT_FALSE(at.empty()) << c.what;
        EXPECT_EQ(at[0] + 60, c.firstFire) << c.what;
    }
}

TEST_F(Timer, LateLoopFiresOnceNotOncePerPeriod) {
    int fired = 0;
    TTimer t;
    t.SetInterval(100);
    t.SetOnTimer([&] { ++fired; });
    AdvanceClock(1000); // the loop was blocked for ten periods
    ProcessMessages();
    ProcessMessages();
    EXPECT_EQ(fired, 1);
    // The next period counts from that tick.
    EXPECT_EQ(TicksOfFires(fired, 150), (std::vector<uint32_t>{100}));
}

TEST_F(Timer, LateLoopOnRealClockFiresOnce) {
    UseRealClock();
    int fired = 0;
    TTimer t;
    t.SetInterval(1);
    t.SetOnTimer([&] { ++fired; });
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    ProcessMessages();
    EXPECT_EQ(fired, 1);
}

TEST_F(Timer, DisableInsideOwnTick) {
    int fired = 0;
    TTimer t;
    t.SetInterval(100);
    t.SetOnTimer([&] {
        ++fired;
        t.SetEnabled(false);
    });
    TicksOfFires(fired, 500);
    EXPECT_EQ(fired, 1);
    EXPECT_FALSE(t.Enabled());
}

TEST_F(Timer, DestroyInsideOwnTick) {
    // The handler's captures must stay usable after its timer is gone.
    std::string trail;
    auto t = std::make_unique<TTimer>();
    std::string big(200, 'x');
    t->SetInterval(100);
    t->SetOnTimer([&t, &trail, big] {
        t.reset();
        trail += big.substr(0, 3);
    });
    AdvanceClock(100);
    ProcessMessages();
    AdvanceClock(500);
    ProcessMessages();
    EXPECT_EQ(trail, "xxx");
    EXPECT_FALSE(t);
}

TEST_F(Timer, DestroyAnotherDueTimerInsideTick) {
    std::vector<int> order;
    auto first = std::make_unique<TTimer>();
    auto second = std::make_unique<TTimer>();
    first->SetInterval(100);
    second->SetInterval(100);
    first->SetOnTimer([&] {
        order.push_back(1);
        second.reset();
    });
    second->SetOnTimer([&] { order.push_back(2); });
    AdvanceClock(100);
    ProcessMessages();
    EXPECT_EQ(order, (std::vector<int>{1}));
}

TEST_F(Timer, NestedPassFiresItAgain) {
    int fired = 0, deepest = 0, depth = 0;
    TTimer t;
    t.SetInterval(100);
    t.SetOnTimer([&] {
        ++fired;
        deepest = std::max(deepest, ++depth);
        if (fired == 1) {
            SleepMs(100); // a handler that lets the loop run after a while
            ProcessMessages();
        }
        --depth;
    });
    AdvanceClock(100);
    ProcessMessages();
    EXPECT_EQ(fired, 2);
    EXPECT_EQ(deepest, 2);
}

TEST_F(Timer, NestedPassBeforeNextPeriodDoesNotRefire) {
    int fired = 0;
    TTimer t;
    t.SetInterval(100);
    t.SetOnTimer([&] {
        ++fired;
        ProcessMessages();
    });
    AdvanceClock(100);
    ProcessMessages();
    EXPECT_EQ(fired, 1);
}

TEST_F(Timer, DueTimersFireInDueOrder) {
    std::vector<int> order;
    TTimer a, b, c;
    for (auto [t, ms] : {std::pair{&a, 300u}, std::pair{&b, 100u}, std::pair{&c, 200u}}) {
        t->SetInterval(ms);
        t->SetOnTimer([&order, ms = ms] { order.push_back(int(ms)); });
    }
    AdvanceClock(300);
    ProcessMessages();
    EXPECT_EQ(order, (std::vector<int>{100, 200, 300}));
}

TEST_F(Timer, HandlerErrorReachesCallerAndTimerStaysArmed) {
    int fired = 0;
    TTimer t;
    t.SetInterval(100);
    t.SetOnTimer([&] {
        ++fired;
        throw Exception("tick failed");
    });
    AdvanceClock(100);
    EXPECT_THROW(ProcessMessages(), Exception);
    AdvanceClock(100);
    EXPECT_THROW(ProcessMessages(), Exception);
    EXPECT_EQ(fired, 2);
}

TEST_F(Timer, SixtySecondsInAnInstant) {
    bool fired = false;
    TTimer t;
    t.SetInterval(60000);
    t.SetOnTimer([&] { fired = true; });
    uint32_t start = GetTickCount();
    EXPECT_TRUE(ProcessMessagesUntil([&] { return fired; }, 120000));
    EXPECT_EQ(GetTickCount() - start, 60000u);
}

TEST_F(Timer, ClockSwitchKeepsTimeLeft) {
    int fired = 0;
    TTimer t;
    t.SetInterval(1000);
    t.SetOnTimer([&] { ++fired; });
    AdvanceClock(400);
    UseVirtualClock(EncodeDateTime(2030, 1, 1), 50000);
    ProcessMessages();
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(TicksOfFires(fired, 700), (std::vector<uint32_t>{600}));
}

TEST_F(Timer, FiresAcrossTickCountWrap) {
    UseVirtualClock(EncodeDateTime(2024, 1, 1), 0xFFFFFF00u);
    int fired = 0;
    TTimer t;
    t.SetInterval(0x200);
    t.SetOnTimer([&] { ++fired; });
    EXPECT_TRUE(ProcessMessagesUntil([&] { return fired == 2; }, 5000));
    EXPECT_EQ(GetTickCount(), 0x300u);
}

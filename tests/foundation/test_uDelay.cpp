#include "foundation/uTrace.h"
#include "platform/EventLoop.h"
#include "platform/Timer.h"

#include <gtest/gtest.h>

using namespace nuq;

// Delay keeps the loop running: timers and posted calls fire inside it, and
// it rounds the wait up to whole steps of 100 ms.
TEST(Delay, PumpsTheLoopInSteps) {
    UseVirtualClock(EncodeDateTime(2026, 1, 1));
    SetIdleGrace(0);
    struct Case {
        int ms;
        uint32_t waited;
    };
    for (auto c : {Case{0, 100}, Case{1, 100}, Case{100, 100}, Case{250, 300}, Case{5000, 5000}}) {
        const uint32_t start = GetTickCount();
        Delay(c.ms);
        EXPECT_EQ(GetTickCount() - start, c.waited) << c.ms;
    }

    int ticks = 0, posted = 0;
    TTimer timer;
    timer.SetInterval(300);
    timer.SetOnTimer([&] { ++ticks; });
    PostCall([&] { ++posted; });
    Delay(1000);
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(posted, 1);
    timer.SetEnabled(false);
    SetIdleGrace(-1);
    UseRealClock();
}

// Base objects of the serial-port library.

#include "acquisition/SerClasses.h"

#include <gtest/gtest.h>

#include <thread>

using namespace nuq;

namespace {
class TCounted : public TSerPersistent {
public:
    void Touch() { Changed(); }
};
} // namespace

TEST(SerPersistent, UpdatesAreBatched) {
    TCounted p;
    int calls = 0;
    TSerPersistent* sender = nullptr;
    p.OnChange = [&](TSerPersistent& s) {
        ++calls;
        sender = &s;
    };
    p.BeginUpdate();
    p.BeginUpdate();
    p.Touch();
    p.EndUpdate();
    EXPECT_EQ(calls, 0); // still inside the outer update
    p.EndUpdate();
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(sender, &p);
    // EndUpdate with nothing begun still announces, and the count stays at 0.
    p.EndUpdate();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(p.GetUpdateCount(), 0);
    p.OnChange = nullptr;
    p.Touch(); // no handler: nothing happens
}

TEST(SerTimeout, ElapsedAcrossTheWrap) {
    struct Case {
        uint32_t Start, Now, Elapsed;
    };
    for (auto c : {Case{0xFFFFFFF6u, 10, 19}, // 10 ms before the wrap, looked at 20 ms later
                   Case{100, 150, 50}, Case{7, 7, 0}, Case{0xFFFFFFFFu, 0, 0},
                   Case{0, 0xFFFFFFFFu, 0xFFFFFFFFu}}) {
        TSerTimeout t{c.Start, 0};
        EXPECT_EQ(TimeoutElapsed(t, c.Now), c.Elapsed) << c.Start << " " << c.Now;
    }
}

TEST(SerTimeout, StartedNowIsNotYetOver) {
    TSerTimeout t;
    StartTimeout(t, 60000);
    EXPECT_EQ(t.Duration, 60000u);
    EXPECT_FALSE(TimedOut(t));
}

TEST(SerWaitEvent, WaitOutcomes) {
    TSerWaitEvent e;
    EXPECT_FALSE(e.IsSet());
    EXPECT_EQ(e.WaitFor(0), wrTimeout);
    e.SetEvent();
    EXPECT_EQ(e.WaitFor(0), wrSignaled);
    EXPECT_EQ(e.WaitFor(SerInfinite), wrSignaled); // manual reset: stays set
    e.ResetEvent();
    EXPECT_EQ(e.WaitFor(0), wrTimeout);
    EXPECT_EQ(e.LastError, 0u);
}

TEST(SerWaitEvent, SetFromAnotherThreadEndsAnEndlessWait) {
    TSerWaitEvent e;
    std::thread t([&] { e.SetEvent(); });
    EXPECT_EQ(e.WaitFor(SerInfinite), wrSignaled);
    t.join();
}

TEST(SerCriticalSection, OwnerMayEnterAgain) {
    TSerCriticalSection s;
    s.Enter();
    s.Enter();
    s.Leave();
    bool other = false;
    std::thread t([&] {
        TSerLock lock(s); // waits until the owner has left twice
        other = true;
    });
    s.Leave();
    t.join();
    EXPECT_TRUE(other);
}

TEST(SerClasses, IsFlagSetReadsTheMaskedValueAsSigned) {
    struct Case {
        uint32_t Mask, Value;
        bool Set;
    };
    for (auto c : {Case{0x0200, 0x0201, true}, Case{0x0200, 0x0001, false},
                   Case{0x3000, 0x1000, true}, Case{0, 0xFFFFFFFF, false},
                   Case{0x80000000, 0x80000000, false}, // bit 31 alone is negative
                   Case{0xFFFFFFFF, 0x80000001, false}, Case{0x7FFFFFFF, 0x80000001, true}})
        EXPECT_EQ(IsFlagSet(c.Mask, c.Value), c.Set) << std::hex << c.Mask << " " << c.Value;
}

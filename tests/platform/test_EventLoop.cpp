#include "platform/EventLoop.h"

#include "platform/SysUtils.h"
#include "platform/Timer.h"
#include "test_EventLoopFixture.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace nuq;

namespace {

struct Pipe {
    int Read = -1, Write = -1;
    Pipe() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
            Read = fds[0];
            Write = fds[1];
        }
    }
    ~Pipe() {
        if (Read >= 0) close(Read);
        if (Write >= 0) close(Write);
    }
    void Put(const std::string& s) const {
        ASSERT_EQ(write(Write, s.data(), s.size()), ssize_t(s.size()));
    }
    std::string Take() const {
        char buf[256];
        ssize_t n = read(Read, buf, sizeof buf);
        return n > 0 ? std::string(buf, size_t(n)) : std::string();
    }
};

} // namespace

// --- posted calls ---------------------------------------------------------------

using PostedCalls = LoopTest;

TEST_F(PostedCalls, RunInOrderAndNestedPassKeepsIt) {
    std::string trail;
    PostCall([&] {
        trail += 'a';
        PostCall([&] {
            trail += 'd';
            PostCall([&] { trail += 'e'; }); // posted inside the passes: a later pass
        });
        ProcessMessages(); // runs b, c and d, which were waiting when it began
    });
    PostCall([&] { trail += 'b'; });
    std::thread([&] { PostCall([&] { trail += 'c'; }); }).join();
    ProcessMessages();
    EXPECT_EQ(trail, "abcd");
    ProcessMessages();
    EXPECT_EQ(trail, "abcde");
}

TEST_F(PostedCalls, ErrorLeavesTheRestQueued) {
    std::string trail;
    PostCall([&] { trail += 'a'; });
    PostCall([] { throw Exception("boom"); });
    PostCall([&] { trail += 'c'; });
    PostCall(nullptr); // empty: skipped
    EXPECT_THROW(ProcessMessages(), Exception);
    EXPECT_EQ(trail, "a");
    ProcessMessages();
    EXPECT_EQ(trail, "ac");
}

TEST_F(PostedCalls, ManyThreadsLoseNothing) {
    UseRealClock();
    std::vector<int> last(4, -1);
    bool inOrder = true;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 500; ++i)
                PostCall([&, t, i] {
                    inOrder = inOrder && last[t] == i - 1;
                    last[t] = i;
                });
        });
    for (auto& th : threads) th.join();
    EXPECT_TRUE(ProcessMessagesUntil([&] { return last == std::vector<int>(4, 499); }, 10000));
    EXPECT_TRUE(inOrder);
}

// --- Synchronize ----------------------------------------------------------------

using SynchronizeTest = LoopTest;

TEST_F(SynchronizeTest, RunsOnMainThreadFromSeveralThreads) {
    UseRealClock();
    int counter = 0; // touched on the main thread only
    bool foreign = false;
    std::atomic<int> finished{0}, failed{0};
    auto main = std::this_thread::get_id();
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i)
                if (!Synchronize([&] {
                        ++counter;
                        foreign = foreign || std::this_thread::get_id() != main;
                    }))
                    ++failed;
            ++finished;
        });
    EXPECT_TRUE(ProcessMessagesUntil([&] { return finished == 6; }, 20000));
    for (auto& th : threads) th.join();
    EXPECT_EQ(counter, 300);
    EXPECT_EQ(failed, 0);
    EXPECT_FALSE(foreign);
}

TEST_F(SynchronizeTest, OnMainThreadRunsAtOnce) {
    int ran = 0;
    EXPECT_TRUE(Synchronize([&] { ++ran; }));
    EXPECT_EQ(ran, 1);
}

TEST_F(SynchronizeTest, ErrorReachesTheCallingThread) {
    UseRealClock();
    std::atomic<bool> caught{false}, finished{false};
    std::thread worker([&] {
        try {
            Synchronize([] { throw Exception("on main"); });
        } catch (const Exception& e) {
            caught = e.Message() == "on main";
        }
        finished = true;
    });
    EXPECT_NO_THROW(ProcessMessagesUntil([&] { return finished.load(); }, 10000));
    worker.join();
    EXPECT_TRUE(caught);
}

TEST_F(SynchronizeTest, AbandonedCallNeverRunsLater) {
    bool closing = false, ran = false;
    std::atomic<bool> started{false};
    bool result = true;
    std::thread worker([&] {
        started = true;
        result = Synchronize([&] { ran = true; }, &closing);
    });
    while (!started) std::this_thread::yield();
    __atomic_store_n(&closing, true, __ATOMIC_RELEASE); // the owner closes without pumping
    worker.join();
    for (int i = 0; i < 3; ++i) ProcessMessages();
    EXPECT_FALSE(result);
    EXPECT_FALSE(ran);
}

// The owner abandons through AbandonSynchronize, which wakes the waiter; the
// call never runs, and a second waiter on another flag is left alone.
TEST_F(SynchronizeTest, AbandonWakesOnlyItsWaiters) {
    UseRealClock();
    bool closing = false, other = false;
    std::atomic<int> waiting{0};
    bool ran = false, result = true, otherResult = false;
    std::thread worker([&] {
        ++waiting;
        result = Synchronize([&] { ran = true; }, &closing);
    });
    std::thread second([&] {
        ++waiting;
        otherResult = Synchronize([] {}, &other);
    });
    while (waiting < 2) std::this_thread::yield();
    AbandonSynchronize(&closing);
    worker.join();
    EXPECT_FALSE(result);
    EXPECT_TRUE(ProcessMessagesUntil([&] { return otherResult; }, 10000));
    second.join();
    EXPECT_FALSE(ran);
    EXPECT_TRUE(otherResult);
}

TEST_F(SynchronizeTest, AlreadyAbandonedReturnsAtOnce) {
    bool closing = true, ran = false, result = true;
    std::thread([&] { result = Synchronize([&] { ran = true; }, &closing); }).join();
    ProcessMessages();
    EXPECT_FALSE(result);
    EXPECT_FALSE(ran);
}

// A port closed from inside its own event handler: the handler runs on the
// main thread through the port thread's Synchronize, sets the closing flag and
// joins that thread.
TEST_F(SynchronizeTest, OwnerClosingInsideTheCallDoesNotDeadlock) {
    UseRealClock();
    bool closing = false;
    int calls = 0;
    std::vector<bool> results;
    std::thread worker;
    bool closed = false;
    worker = std::thread([&] {
        for (;;) {
            bool ok = Synchronize(
                [&] {
                    if (++calls == 3) {
                        __atomic_store_n(&closing, true, __ATOMIC_RELEASE);
                        worker.join();
                        closed = true;
                    }
                },
                &closing);
            results.push_back(ok);
            if (!ok) return;
        }
    });
    EXPECT_TRUE(ProcessMessagesUntil([&] { return closed; }, 20000));
    EXPECT_EQ(calls, 3);
    EXPECT_EQ(results, (std::vector<bool>{true, true, false}));
}

// --- descriptor watches -----------------------------------------------------------

using FdWatch = LoopTest;

TEST_F(FdWatch, ReadableCallsBackFromThePass) {
    Pipe p;
    std::string got;
    short bits = 0;
    TFdWatch w(p.Read, fdRead, [&](short revents) {
        bits = revents;
        got += p.Take();
    });
    ProcessMessages();
    EXPECT_EQ(got, "");
    p.Put("abc");
    EXPECT_EQ(got, ""); // only from the loop
    ProcessMessages();
    EXPECT_EQ(got, "abc");
    EXPECT_TRUE(bits & POLLIN);
}

TEST_F(FdWatch, UnwatchInsideCallbacks) {
    Pipe a, b;
    int aCalls = 0, bCalls = 0, bId = 0;
    int aId = WatchFd(a.Read, fdRead, [&](short) {
        ++aCalls;
        UnwatchFd(aId); // its own watch
        UnwatchFd(bId); // and another one that is ready in the same pass
    });
    bId = WatchFd(b.Read, fdRead, [&](short) { ++bCalls; });
    a.Put("x");
    b.Put("y");
    ProcessMessages();
    ProcessMessages();
    EXPECT_EQ(aCalls, 1);
    EXPECT_EQ(bCalls, 0);
    UnwatchFd(aId); // twice: ignored
}

TEST_F(FdWatch, EventsChangeAndStop) {
    Pipe p;
    int calls = 0;
    TFdWatch w(p.Write, fdWrite, [&](short revents) {
        EXPECT_TRUE(revents & POLLOUT);
        ++calls;
    });
    ProcessMessages();
    EXPECT_EQ(calls, 1);
    w.SetEvents(0);
    ProcessMessages();
    EXPECT_EQ(calls, 1);
    w.SetEvents(fdWrite);
    ProcessMessages();
    EXPECT_EQ(calls, 2);
    w.Stop();
    EXPECT_FALSE(w.Active());
    ProcessMessages();
    EXPECT_EQ(calls, 2);
}

TEST_F(FdWatch, HangUpAndClosedFd) {
    Pipe p;
    short hup = 0;
    TFdWatch w(p.Read, fdRead, [&](short revents) { hup = revents; });
    close(p.Write);
    p.Write = -1;
    ProcessMessages();
    EXPECT_TRUE(hup & POLLHUP);
    w.Stop();

    // A watched fd closed under the watch is reported once, then forgotten.
    int fd = dup(p.Read);
    int calls = 0;
    short bits = 0;
    WatchFd(fd, fdRead, [&](short revents) {
        ++calls;
        bits = revents;
    });
    close(fd);
    ProcessMessages();
    ProcessMessages();
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(bits & POLLNVAL);
    EXPECT_EQ(IdleGraceMs(), 0); // SetUp's explicit 0; no watch left behind either
    SetIdleGrace(-1);
    EXPECT_EQ(IdleGraceMs(), 0);
}

TEST_F(FdWatch, InvalidFdIsRefused) {
    EXPECT_THROW(WatchFd(-1, fdRead, [](short) {}), Exception);
}

// A callback that drops its watch and watches the same descriptor anew: the
// new watch is not called in the pass that made it, but in the next one.
TEST_F(FdWatch, RewatchedInsideItsOwnCallback) {
    Pipe p;
    std::string trail;
    int id = 0;
    std::function<void(short)> first = [&](short) {
        trail += "1";
        UnwatchFd(id);
        id = WatchFd(p.Read, fdRead, [&](short) { trail += "2" + p.Take(); });
    };
    id = WatchFd(p.Read, fdRead, first);
    p.Put("x");
    ProcessMessages();
    EXPECT_EQ(trail, "1");
    ProcessMessages();
    EXPECT_EQ(trail, "12x");
    ProcessMessages();
    EXPECT_EQ(trail, "12x");
    UnwatchFd(id);
    EXPECT_FALSE(FdWatchesActive());
}

// Two watches of one descriptor wait for different things; each is called
// with its own share, and dropping one leaves the other waiting.
TEST_F(FdWatch, SharedDescriptorSplitsEvents) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
    ASSERT_EQ(write(fds[1], "a", 1), 1);
    short readBits = 0, writeBits = 0;
    int reader = WatchFd(fds[0], fdRead, [&](short r) { readBits = r; });
    int writer = WatchFd(fds[0], fdWrite, [&](short r) { writeBits = r; });
    ProcessMessages();
    EXPECT_EQ(readBits, POLLIN);
    EXPECT_EQ(writeBits, POLLOUT);
    UnwatchFd(writer);
    readBits = writeBits = 0;
    ProcessMessages();
    EXPECT_EQ(readBits, POLLIN);
    EXPECT_EQ(writeBits, 0);
    SetFdEvents(reader, 0);
    readBits = 0;
    ProcessMessages();
    EXPECT_EQ(readBits, 0);
    UnwatchFd(reader);
    close(fds[0]);
    close(fds[1]);
}

// A callback that turns off another watch ready in the same pass keeps it
// from being called; turned on again, it is called on the next pass.
TEST_F(FdWatch, WatchChangedMidPass) {
    Pipe a, b;
    std::string trail;
    int bId = 0;
    int aId = WatchFd(a.Read, fdRead, [&](short) {
        trail += "a" + a.Take();
        SetFdEvents(bId, 0);
    });
    bId = WatchFd(b.Read, fdRead, [&](short) { trail += "b" + b.Take(); });
    a.Put("1");
    b.Put("2");
    ProcessMessages();
    EXPECT_EQ(trail, "a1");
    SetFdEvents(bId, fdRead);
    ProcessMessages();
    EXPECT_EQ(trail, "a1b2");
    UnwatchFd(aId);
    UnwatchFd(bId);
}

// Hundreds of idle watches: only the ready one is called, and all of them go
// without a trace.
TEST_F(FdWatch, ManyIdleDescriptors) {
    std::vector<std::unique_ptr<Pipe>> pipes;
    std::vector<int> ids;
    int idleCalls = 0;
    for (int i = 0; i < 400; ++i) { // 800 descriptors: within the usual soft limit
        pipes.push_back(std::make_unique<Pipe>());
        ASSERT_GE(pipes.back()->Read, 0) << i;
        ids.push_back(WatchFd(pipes.back()->Read, fdRead, [&](short) { ++idleCalls; }));
    }
    Pipe busy;
    std::string got;
    TFdWatch w(busy.Read, fdRead, [&](short) { got += busy.Take(); });
    for (char c : std::string("abc")) {
        busy.Put(std::string(1, c));
        ProcessMessages();
    }
    EXPECT_EQ(got, "abc");
    EXPECT_EQ(idleCalls, 0);
    pipes[234]->Put("z");
    ProcessMessages();
    EXPECT_EQ(idleCalls, 1);
    for (int id : ids) UnwatchFd(id);
    w.Stop();
    EXPECT_FALSE(FdWatchesActive());
}

// A descriptor closed without dropping its watch, whose number a new file
// then takes: a new watch of that number sees the new file, whether the stale
// watch was made before the close or after it (refused as closed).
TEST_F(FdWatch, NumberTakenByANewFile) {
    for (bool watchedBeforeClose : {true, false}) {
        SCOPED_TRACE(watchedBeforeClose);
        auto oldPipe = std::make_unique<Pipe>();
        int number = oldPipe->Read;
        int stale = 0;
        if (watchedBeforeClose) stale = WatchFd(number, fdRead, [](short) {});
        oldPipe.reset(); // both ends closed: the file is gone
        if (!watchedBeforeClose) stale = WatchFd(number, fdRead, [](short) {});
        Pipe fresh;
        if (fresh.Read != number) { // the number went elsewhere: nothing to show
            UnwatchFd(stale);
            continue;
        }
        std::string got;
        int id = WatchFd(fresh.Read, fdRead, [&](short) { got += fresh.Take(); });
        fresh.Put("new");
        ProcessMessages();
        EXPECT_EQ(got, "new");
        UnwatchFd(stale);
        UnwatchFd(id);
        EXPECT_FALSE(FdWatchesActive());
    }
}

// Regular files cannot be waited on; as with poll, they are always ready.
TEST_F(FdWatch, RegularFileIsAlwaysReady) {
    char name[] = "/tmp/nuq-loop-XXXXXX";
    int fd = mkstemp(name);
    ASSERT_GE(fd, 0);
    unlink(name);
    int calls = 0;
    short bits = 0;
    int id = WatchFd(fd, fdRead, [&](short r) {
        ++calls;
        bits = r;
    });
    ProcessMessages();
    ProcessMessages();
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(bits, POLLIN);
    UnwatchFd(id);
    close(fd);
    EXPECT_FALSE(FdWatchesActive());
}

// --- blocking runs ----------------------------------------------------------------

using RunLoopTest = LoopTest;

TEST_F(RunLoopTest, QuitFromACallATimerAndAnotherThread) {
    PostCall(QuitLoop);
    RunLoop();

    TTimer t;
    t.SetInterval(60000);
    t.SetOnTimer(QuitLoop);
    uint32_t start = GetTickCount();
    RunLoop();
    EXPECT_EQ(GetTickCount() - start, 60000u);
    t.SetEnabled(false);

    UseRealClock();
    std::thread other([] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        QuitLoop();
    });
    RunLoop();
    other.join();
    QuitLoop(); // no loop running: nothing happens
}

// On the real clock the blocking wait must wake for a due timer and for a
// descriptor that a thread makes ready.
TEST_F(RunLoopTest, RealClockWakesForTimerAndDescriptor) {
    UseRealClock();
    std::string trail;
    TTimer t;
    t.SetInterval(3);
    t.SetOnTimer([&] {
        trail += "t";
        t.SetEnabled(false);
        QuitLoop();
    });
    RunLoop();

    Pipe p;
    TFdWatch w(p.Read, fdRead, [&](short) {
        trail += p.Take();
        QuitLoop();
    });
    std::thread writer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        p.Put("r");
    });
    RunLoop();
    writer.join();
    EXPECT_EQ(trail, "tr");
}

TEST_F(RunLoopTest, QuitEndsTheInnermostRun) {
    std::string trail;
    PostCall([&] {
        PostCall([&] {
            trail += "i";
            QuitLoop();
        });
        RunLoop();
        trail += "o";
        QuitLoop();
    });
    RunLoop();
    EXPECT_EQ(trail, "io");
}

TEST_F(RunLoopTest, HandleMessageWaitsForWork) {
    int ran = 0;
    PostCall([&] { ++ran; });
    uint32_t start = GetTickCount();
    HandleMessage();
    EXPECT_EQ(ran, 1);
    EXPECT_EQ(GetTickCount(), start); // a pending call takes no time

    TTimer t;
    t.SetInterval(10000);
    t.SetOnTimer([&] { ++ran; });
    HandleMessage();
    EXPECT_EQ(ran, 2);
    EXPECT_EQ(GetTickCount() - start, 10000u);
}

TEST_F(RunLoopTest, OtherThreadsCannotPump) {
    int ran = 0;
    PostCall([&] { ++ran; });
    bool threw = false, isMain = true;
    std::thread([&] {
        isMain = IsMainThread();
        ProcessMessages(); // nothing on a worker
        try {
            RunLoop();
        } catch (const Exception&) {
            threw = true;
        }
    }).join();
    EXPECT_FALSE(isMain);
    EXPECT_TRUE(threw);
    EXPECT_EQ(ran, 0);
    EXPECT_TRUE(IsMainThread());
    ProcessMessages();
    EXPECT_EQ(ran, 1);
}

// --- virtual clock ----------------------------------------------------------------

using VirtualClock = LoopTest;

TEST_F(VirtualClock, UntilJumpsToTimersAndTimeOut) {
    int fired = 0;
    TTimer t;
    t.SetInterval(7000);
    t.SetOnTimer([&] { ++fired; });
    uint32_t start = GetTickCount();
    EXPECT_TRUE(ProcessMessagesUntil([&] { return fired == 3; }, 60000));
    EXPECT_EQ(GetTickCount() - start, 21000u);
    t.SetEnabled(false);
    EXPECT_FALSE(ProcessMessagesUntil([] { return false; }, 60000));
    EXPECT_EQ(GetTickCount() - start, 81000u);
    EXPECT_TRUE(ProcessMessagesUntil([] { return true; }, 0));
    EXPECT_FALSE(ProcessMessagesUntil([] { return false; }, 0));
    EXPECT_EQ(GetTickCount() - start, 81000u);
}

TEST_F(VirtualClock, TimeOutAcrossTickCountWrap) {
    UseVirtualClock(EncodeDateTime(2024, 1, 1), 0xFFFFFFFFu - 100);
    uint32_t start = GetTickCount();
    EXPECT_FALSE(ProcessMessagesUntil([] { return false; }, 1000));
    EXPECT_EQ(GetTickCount(), 899u);
    EXPECT_EQ(GetTickCount() - start, 1000u);
}

TEST_F(VirtualClock, SleepMovesTimeButFiresNothing) {
    int fired = 0;
    TTimer t;
    t.SetInterval(100);
    t.SetOnTimer([&] { ++fired; });
    TDateTime before = Now();
    SleepMs(150);
    EXPECT_EQ(fired, 0);
    ProcessMessages();
    EXPECT_EQ(fired, 1);
    AdvanceClock(60000 - 150);
    EXPECT_NEAR((Now() - before) * 86400.0, 60.0, 1e-6);
    EXPECT_TRUE(VirtualClockInUse());
}

TEST_F(VirtualClock, GraceChosenByWatches) {
    SetIdleGrace(-1);
    EXPECT_EQ(IdleGraceMs(), 0);
    Pipe p;
    {
        TFdWatch w(p.Read, fdRead, [](short) {});
        EXPECT_EQ(IdleGraceMs(), DefaultIdleGraceMs);
        SetIdleGrace(5);
        EXPECT_EQ(IdleGraceMs(), 5);
        SetIdleGrace(-1);
    }
    EXPECT_EQ(IdleGraceMs(), 0);
}

// A peer process answers 10 ms of real time after the request; a 60-second
// time-out on the virtual clock must not overtake that answer.
TEST_F(VirtualClock, JumpWaitsForAnAnswerInFlight) {
    SetIdleGrace(250); // far above the peer's delay, so a busy machine cannot beat it
    Pipe p;
    std::vector<std::string> events;
    TFdWatch w(p.Read, fdRead, [&](short) { events.push_back(p.Take()); });
    TTimer timeout;
    timeout.SetInterval(60000);
    timeout.SetOnTimer([&] { events.push_back("timeout"); });
    pid_t peer = fork();
    ASSERT_GE(peer, 0);
    if (peer == 0) {
        usleep(10000);
        if (write(p.Write, "OK", 2) != 2) _exit(1);
        _exit(0);
    }
    uint32_t start = GetTickCount();
    EXPECT_TRUE(ProcessMessagesUntil([&] { return events.size() == 2; }, 120000));
    int status = 0;
    waitpid(peer, &status, 0);
    EXPECT_EQ(events, (std::vector<std::string>{"OK", "timeout"}));
    EXPECT_EQ(GetTickCount() - start, 60000u);
}

// The idle check holds the clock for as long as it says a peer is at work,
// however long the peer takes; then the clock jumps as before.
TEST_F(VirtualClock, IdleCheckHoldsTheJump) {
    Pipe p;
    std::vector<std::string> events;
    TFdWatch w(p.Read, fdRead, [&](short) { events.push_back(p.Take()); });
    TTimer timeout;
    timeout.SetInterval(60000);
    timeout.SetOnTimer([&] { events.push_back("timeout"); });
    pid_t peer = fork();
    ASSERT_GE(peer, 0);
    if (peer == 0) {
        usleep(300000); // far beyond the grace
        if (write(p.Write, "OK", 2) != 2) _exit(1);
        _exit(0);
    }
    int checks = 0;
    SetIdleCheck([&] {
        ++checks;
        return waitpid(peer, nullptr, WNOHANG) == peer;
    });
    EXPECT_TRUE(ProcessMessagesUntil([&] { return events.size() == 2; }, 120000));
    SetIdleCheck(nullptr);
    EXPECT_EQ(events, (std::vector<std::string>{"OK", "timeout"}));
    EXPECT_GT(checks, 1);
}

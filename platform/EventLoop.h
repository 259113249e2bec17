#pragma once
// The main thread's message loop and its clock.
//
// Everything but the serial ports' threads runs on the main thread. Code that
// lets the loop run (a decode between blocks, a wait that must keep the
// program alive) calls ProcessMessages; work for the main thread is queued
// with PostCall, or run there synchronously from a worker with Synchronize.
// Timers (platform/Timer.h) and file-descriptor watches fire from the loop,
// on the main thread only.
//
// The main thread is the one given to SetMainThread, else the first thread
// that pumps the loop (ProcessMessages, HandleMessage, ProcessMessagesUntil,
// RunLoop). Until one is known, a Synchronize from the process's initial
// thread claims it; PostCall and a Synchronize from any other thread never do.
// Timers and watches are created, changed and destroyed on the main thread.
//
// The clock is real, or virtual for tests: a virtual clock stands still until
// AdvanceClock or SleepMs moves it, or until a waiting loop finds itself idle
// and jumps to the next due timer, so minutes of timers run in milliseconds.

#include <cstdint>
#include <functional>

#include "platform/DateUtils.h"

namespace nuq {

// One pass: runs every call that was pending when it started, the callbacks
// of the watched descriptors that are ready, and the timers that are due;
// then returns; never blocks. Calls posted meanwhile wait for the next pass,
// so a handler that posts again cannot keep a pass from ending. A handler's
// exception leaves the pass and reaches the caller; nothing queued is lost.
// On a thread other than the main thread it does nothing.
void ProcessMessages();

// One pass that waits for work first when none is pending: a posted call, a
// ready descriptor or the next due timer (on the virtual clock, after the idle
// grace, the clock jumps to that timer). Blocks for good when there is
// nothing at all to wait for. Main thread only.
void HandleMessage();

// Queues Call to run on the main thread's next message pass. Safe from any thread.
void PostCall(std::function<void()> call);

// For a wait on the main thread that must answer calls of other threads (a
// message they send to its windows) without running anything else: the
// number of calls ever posted, and a wait until it has passed Seen. Read the
// number before looking at what is waited for, so no post is missed.
uint64_t PostedCallCount();
void WaitForPostedCall(uint64_t seen);

// Runs Call on the main thread and returns when it has run. On the main thread
// it runs at once. From another thread it waits for the main thread's next
// message pass; it returns false without running Call when Abandon becomes
// true first (the owner is closing and will not pump for this thread), and
// the abandoned call never runs later. When Abandon turns true while Call is
// already running on the main thread (the owner closes from inside it), it
// returns false at once and Call finishes on its own, so it must not use the
// worker's locals. Abandon is read atomically; the owner sets it and then
// joins the worker.
bool Synchronize(std::function<void()> call, const bool* abandon = nullptr);

// Sets *Abandon and wakes every Synchronize waiting on it at once. An owner
// that sets the flag by other means is still obeyed, with some delay.
void AbandonSynchronize(bool* abandon);

// Pumps the loop until Done returns true or TimeoutMs pass on the loop's
// clock; returns Done's last answer. For tests and for waits that keep the
// program alive. Done is asked after every pass, and at least every 10 ms as
// another thread may turn it; an empty Done never turns, so the loop sleeps
// until there is work or the time is out. On the virtual clock an idle
// loop jumps to the next due timer or to the time-out. On another thread than
// the main one it only waits for Done.
bool ProcessMessagesUntil(const std::function<bool()>& done, uint32_t timeoutMs);

// A program that is stopping: waits for a peer's answer (a DDE call) give
// up at once instead of running to their time-outs, so a stop asked inside
// one is not held. Off until set; main thread only.
void AbandonPeerWaits(bool abandon);
bool PeerWaitsAbandoned();

// Runs the loop, waiting in between, until QuitLoop. Nested runs are allowed;
// QuitLoop ends the innermost one. Main thread only.
void RunLoop();
// Ends the innermost RunLoop; from another thread, through a posted call.
// Without a running RunLoop it has no effect.
void QuitLoop();

// Makes the calling thread the main thread.
void SetMainThread();
bool IsMainThread();

// File-descriptor watches. Callback gets the poll(2) result bits (POLLIN,
// POLLOUT, POLLERR, POLLHUP, POLLNVAL) and runs from the loop only; the fd is
// level-triggered, so a callback that leaves data unread is called again. A
// watch may be removed or changed from inside any callback, its own included.
// A watch whose fd turns out closed (POLLNVAL) is removed before its callback
// runs, since nothing else can come from it. Close a descriptor only after
// its watch is gone: the loop sees a closed one when it is watched or when
// its file, still open elsewhere, has an event; one whose file is gone
// altogether is simply never ready again. A watch of a file that cannot be
// waited on (a plain file) is always ready, as poll(2) has it.
// Calls within a pass follow the order in which the watches were made; the
// cost of a pass does not grow with the number of idle watches.
enum TFdEvents : short { fdRead = 0x001 /*POLLIN*/, fdWrite = 0x004 /*POLLOUT*/ };
using TFdCallback = std::function<void(short revents)>;

// Returns the watch's id (above 0).
int WatchFd(int fd, short events, TFdCallback callback);
void UnwatchFd(int id);                 // an unknown or removed id is ignored
void SetFdEvents(int id, short events); // 0 keeps the watch but waits for nothing

// A watch that ends with its owner.
class TFdWatch {
public:
    TFdWatch() = default;
    TFdWatch(int fd, short events, TFdCallback callback) { Watch(fd, events, std::move(callback)); }
    ~TFdWatch() { Stop(); }
    TFdWatch(const TFdWatch&) = delete;
    TFdWatch& operator=(const TFdWatch&) = delete;

    void Watch(int fd, short events, TFdCallback callback); // replaces a previous watch
    void SetEvents(short events) { SetFdEvents(Id, events); }
    void Stop();
    bool Active() const { return Id != 0; }

private:
    int Id = 0;
};

// Milliseconds since an arbitrary start, on the loop's clock; wraps as a
// 32-bit count does.
uint32_t GetTickCount();

// The date and time on the loop's clock.
TDateTime Now();

// Sleeps on the loop's clock: a real sleep, or a jump of the virtual clock
// (which fires nothing by itself; due timers fire on the next pass).
void SleepMs(uint32_t ms);

// Switches this process to a virtual clock starting at Start, or back to the
// real one. The tick count goes on from where it was, or starts at StartTicks.
// Armed timers keep the time they had left. Main thread only.
void UseVirtualClock(TDateTime start);
void UseVirtualClock(TDateTime start, uint32_t startTicks);
void UseRealClock();
bool VirtualClockInUse();
// Moves the virtual clock forward; no effect on the real clock.
void AdvanceClock(uint32_t ms);

// How long, in real milliseconds, a waiting loop on the virtual clock must
// have been idle (no posted call, no ready descriptor) before it jumps to the
// next due timer, so a peer's answer still in flight is seen first. Ms < 0
// (the default) chooses by itself: DefaultIdleGraceMs while any descriptor is
// watched, else 0. Code whose peers reach the loop only through its own
// threads (serial ports) sets it when it runs on the virtual clock.
inline constexpr int DefaultIdleGraceMs = 30;
void SetIdleGrace(int ms);
int IdleGraceMs(); // the grace in force now
// A further condition for that jump, asked once the grace has passed: while
// it answers false the clock stands and the loop waits on, a grace at a time
// (a test asks whether its peers' processes and threads are all asleep, so
// a loaded machine that is slow to run them does not see a time-out). Empty
// (the default): none. Main thread only.
void SetIdleCheck(std::function<bool()> quiet);

// For a back end that runs the loop inside another event loop (the Qt back
// end): a descriptor that is readable while a posted call waits, its
// draining (call before the pass that runs the calls), the milliseconds to
// the next armed timer (-1: none) and whether descriptors are watched.
int LoopWakeFd();
void ClearLoopWake();
int64_t MsToNextTimer();
// Called on the main thread when a timer is armed to fire before every other
// armed one, so that such a back end shortens its wait (a timer set from the
// other loop's own events would wait for the next pass otherwise).
void SetTimerArmedHook(std::function<void()> hook);
bool FdWatchesActive();
// A descriptor that is readable while a watched descriptor is ready; a watch
// that cannot be waited on (a closed descriptor, a plain file) keeps the
// wake descriptor readable instead.
int LoopWatchFd();

} // namespace nuq

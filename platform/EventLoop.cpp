// The native back end of the message loop: it waits on an eventfd that other
// threads write to when they post and on an epoll set of the watched
// descriptors, for at most the time left to the next due timer; timers are
// kept ordered by due time.

#include "platform/EventLoop.h"

#include "platform/SysUtils.h"
#include "platform/Timer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

namespace nuq {

static_assert(fdRead == POLLIN && fdWrite == POLLOUT, "fd event bits are poll's");
static_assert(EPOLLIN == POLLIN && EPOLLOUT == POLLOUT && EPOLLERR == POLLERR &&
                  EPOLLHUP == POLLHUP,
              "epoll reports with poll's bits");

namespace {

constexpr uint64_t Never = UINT64_MAX;

uint64_t RealTicks() {
    using namespace std::chrono;
    return uint64_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

// --- clock -------------------------------------------------------------------

struct ClockState {
    std::mutex Lock;
    bool Virtual = false;
    TDateTime StartDate = 0;
    uint64_t StartTicks = 0;
    uint64_t Ticks = 0; // virtual ticks, 64 bits so timers never see a wrap
};

ClockState& Clock() {
    static ClockState* clock = new ClockState; // never destroyed: timers may outlive statics
    return *clock;
}

uint64_t Ticks64() {
    auto& c = Clock();
    std::lock_guard<std::mutex> guard(c.Lock);
    return c.Virtual ? c.Ticks : RealTicks();
}

bool ClockIsVirtual() {
    auto& c = Clock();
    std::lock_guard<std::mutex> guard(c.Lock);
    return c.Virtual;
}

// Moves the virtual clock to Target unless it is there already.
void JumpTo(uint64_t target) {
    auto& c = Clock();
    std::lock_guard<std::mutex> guard(c.Lock);
    if (c.Virtual && c.Ticks < target) c.Ticks = target;
}

// --- main thread ---------------------------------------------------------------

std::atomic<std::thread::id> mainThread{};

// True when the caller is the main thread, making it so when none is known yet.
bool ClaimMain() {
    auto me = std::this_thread::get_id();
    auto known = mainThread.load();
    if (known == std::thread::id()) {
        mainThread.compare_exchange_strong(known, me);
        return mainThread.load() == me;
    }
    return known == me;
}

bool IsInitialThread() {
    return gettid() == getpid();
}

// --- posted calls ----------------------------------------------------------------

struct PostQueue {
    std::mutex Lock;
    std::deque<std::function<void()>> Calls;
    uint64_t Posted = 0; // calls ever posted
    uint64_t Taken = 0;  // calls ever taken; the front call is number Taken
    bool WakePending = false;
    int WakeFd = -1;
    std::condition_variable PostedChanged; // for WaitForPostedCall
    int PostWaiters = 0;

    PostQueue() {
        WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (WakeFd < 0)
            throw Exception(std::string("Не удалось создать событие цикла сообщений: ") +
                            SystemErrorReason(errno));
    }
};

PostQueue& Queue() {
    static PostQueue* queue = new PostQueue;
    return *queue;
}

// Runs the calls posted before the pass began, one at a time from the front,
// so a nested pass keeps the order and a throwing call loses nothing else.
int RunPosted() {
    auto& q = Queue();
    uint64_t limit;
    {
        std::lock_guard<std::mutex> guard(q.Lock);
        limit = q.Posted;
    }
    int ran = 0;
    for (;;) {
        std::function<void()> call;
        {
            std::lock_guard<std::mutex> guard(q.Lock);
            if (q.Taken >= limit || q.Calls.empty()) break;
            call = std::move(q.Calls.front());
            q.Calls.pop_front();
            ++q.Taken;
        }
        ++ran;
        if (call) call();
    }
    return ran;
}

// --- descriptor watches ---------------------------------------------------------
//
// The watched descriptors live in one epoll set, changed only when a watch
// changes, so a pass costs the same however many watches sit idle. Several
// watches may share a descriptor: the set waits for the union of their events
// and each watch gets its own share of the result.

struct WatchEntry {
    int Fd;
    short Events;
    TFdCallback Callback;
};

struct FdEntry {
    std::vector<int> Ids; // the watches of this descriptor
    uint32_t InSet = 0;   // events the epoll set waits for; 0: not in the set
    bool Closed = false;  // refused by epoll as not open: reported as POLLNVAL
    bool Plain = false;   // a file epoll cannot wait on: always ready, as poll has it
};

struct WatchTable {
    std::map<int, WatchEntry> Watches; // by id, so a pass calls them in the order made
    std::map<int, FdEntry> Fds;
    int Special = 0; // descriptors that are closed or plain, reported without epoll
    int Epoll = -1;

    WatchTable() {
        Epoll = epoll_create1(EPOLL_CLOEXEC);
        if (Epoll < 0)
            throw Exception(std::string("Не удалось создать набор дескрипторов цикла сообщений: ") +
                            SystemErrorReason(errno));
    }

    // Brings the epoll set in line with what Fd's watches wait for.
    // Force asks epoll again even when nothing seems to change: a new watch
    // may be on a new file that took the number of a closed one.
    void Sync(int fd, bool force = false) {
        auto it = Fds.find(fd);
        if (it == Fds.end()) return;
        FdEntry& f = it->second;
        if (f.Ids.empty()) {
            if (f.InSet) epoll_ctl(Epoll, EPOLL_CTL_DEL, fd, nullptr); // EBADF: already closed
            if (f.Closed || f.Plain) --Special;
            Fds.erase(it);
            return;
        }
        if (force && (f.Closed || f.Plain)) { // perhaps a new file under the number
            f.Closed = f.Plain = false;
            --Special;
        }
        if (f.Closed || f.Plain) return;
        uint32_t want = 0;
        for (int id : f.Ids) want |= uint32_t(Watches.at(id).Events);
        if (want == f.InSet && !force) return;
        int rc;
        if (!want) {
            rc = epoll_ctl(Epoll, EPOLL_CTL_DEL, fd, nullptr);
            if (rc < 0 && errno == ENOENT) rc = 0; // gone with its file
        } else {
            epoll_event ev{};
            ev.events = want;
            ev.data.fd = fd;
            rc = epoll_ctl(Epoll, f.InSet ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, fd, &ev);
            // The file went and another took its number; or an old entry of this file.
            if (rc < 0 && errno == ENOENT)
                rc = epoll_ctl(Epoll, EPOLL_CTL_ADD, fd, &ev);
            else if (rc < 0 && errno == EEXIST)
                rc = epoll_ctl(Epoll, EPOLL_CTL_MOD, fd, &ev);
        }
        if (rc == 0) {
            f.InSet = want;
        } else if (errno == EPERM) {
            f.Plain = true;
            f.InSet = 0;
            ++Special;
        } else {
            f.Closed = true; // EBADF: nothing can come from it
            f.InSet = 0;
            ++Special;
        }
    }
};

// Main thread only; never destroyed, so a watch may outlive other statics.
WatchTable& Table() {
    static auto* table = new WatchTable;
    return *table;
}
int nextWatchId = 1;
std::atomic<int> watchCount{0};

std::atomic<int> idleGrace{-1};

std::function<bool()>& IdleCheck() {
    static std::function<bool()> check;
    return check;
}

bool IsOpen(int fd) {
    return fcntl(fd, F_GETFD) >= 0 || errno != EBADF;
}

// Keeps the wake descriptor readable, as a post does.
void WakeAgain() {
    auto& q = Queue();
    std::lock_guard<std::mutex> guard(q.Lock);
    if (q.WakePending) return;
    uint64_t one = 1;
    [[maybe_unused]] ssize_t w = write(q.WakeFd, &one, sizeof one);
    q.WakePending = true;
}

int DispatchFds() {
    auto& t = Table();
    if (t.Watches.empty()) return 0;
    struct Ready {
        int Id;
        short Revents;
    };
    std::vector<Ready> ready;
    auto collect = [&](FdEntry& f, short revents) {
        for (int id : f.Ids)
            if (t.Watches.at(id).Events || (revents & POLLNVAL)) ready.push_back({id, revents});
    };
    epoll_event events[256];
    int n = epoll_wait(t.Epoll, events, 256, 0);
    for (int i = 0; i < n; ++i) {
        int fd = events[i].data.fd;
        auto it = t.Fds.find(fd);
        if (it == t.Fds.end()) continue;
        // A descriptor closed under its watch while its file lives on elsewhere.
        collect(it->second, IsOpen(fd) ? short(events[i].events) : short(POLLNVAL));
    }
    if (t.Special > 0)
        for (auto& [fd, f] : t.Fds) {
            if (f.Closed)
                collect(f, POLLNVAL);
            else if (f.Plain) {
                short all = 0;
                for (int id : f.Ids) all |= t.Watches.at(id).Events;
                if (all) collect(f, all);
            }
        }
    if (t.Special > 0) WakeAgain(); // a back end waiting on descriptors must not sleep
    if (ready.empty()) return 0;
    std::sort(ready.begin(), ready.end(),
              [](const Ready& a, const Ready& b) { return a.Id < b.Id; });
    int ran = 0;
    for (auto [id, revents] : ready) {
        auto it = t.Watches.find(id);
        if (it == t.Watches.end()) continue; // removed by an earlier callback
        TFdCallback callback;
        if (revents & POLLNVAL) {
            callback = std::move(it->second.Callback);
            UnwatchFd(id);
        } else {
            // An earlier callback may have changed what this watch waits for.
            revents &= short(it->second.Events | POLLERR | POLLHUP);
            if (!revents) continue;
            callback = it->second.Callback; // a copy: the callback may remove its watch
        }
        ++ran;
        if (callback) callback(revents);
    }
    return ran;
}

// Waits up to TimeoutMs (-1: without limit) for a post or a ready watch;
// true when something arrived.
bool PollWait(int timeoutMs) {
    auto& q = Queue();
    auto& t = Table();
    if (t.Special > 0) timeoutMs = 0; // closed and plain descriptors are always ready
    pollfd fds[2] = {pollfd{q.WakeFd, POLLIN, 0}, pollfd{t.Epoll, POLLIN, 0}};
    int n = poll(fds, t.Watches.empty() ? 1 : 2, timeoutMs);
    if (n < 0) return errno == EINTR;
    if (fds[0].revents) {
        std::lock_guard<std::mutex> guard(q.Lock);
        uint64_t count;
        [[maybe_unused]] ssize_t r = read(q.WakeFd, &count, sizeof count); // EAGAIN: drained
        q.WakePending = false;
    }
    return n > 0 || t.Special > 0;
}

// One per running RunLoop, innermost last.
std::vector<bool*>& QuitFlags() {
    static auto* flags = new std::vector<bool*>;
    return *flags;
}

} // namespace

// --- timers -----------------------------------------------------------------------

struct TimerQueue {
    static std::map<std::pair<uint64_t, uint64_t>, TTimer*>& Armed() {
        static auto* armed = new std::map<std::pair<uint64_t, uint64_t>, TTimer*>;
        return *armed;
    }
    static inline uint64_t NextSeq = 0;
    static std::function<void()>& ArmedHook() {
        static auto* hook = new std::function<void()>;
        return *hook;
    }

    static void Arm(TTimer* t, uint64_t due) {
        const bool first = due < NextDue();
        t->Due = due;
        t->Seq = ++NextSeq;
        t->Armed = true;
        Armed().emplace(std::make_pair(t->Due, t->Seq), t);
        if (first && ArmedHook()) ArmedHook()();
    }
    static void Disarm(TTimer* t) {
        if (!t->Armed) return;
        Armed().erase(std::make_pair(t->Due, t->Seq));
        t->Armed = false;
    }
    static uint64_t NextDue() {
        auto& armed = Armed();
        return armed.empty() ? Never : armed.begin()->first.first;
    }

    // Fires each timer due when the pass began, once. It is re-armed before
    // its handler runs, so it is never due again within this pass and the
    // handler may do anything to it, destroying it included.
    static int FireDue() {
        auto& armed = Armed();
        if (armed.empty()) return 0;
        uint64_t now = Ticks64();
        int fired = 0;
        while (!armed.empty() && armed.begin()->first.first <= now) {
            TTimer* t = armed.begin()->second;
            Disarm(t);
            Arm(t, std::max(now, Ticks64()) + t->FInterval);
            auto handler = t->FOnTimer;
            ++fired;
            handler();
        }
        return fired;
    }

    // Keeps every armed timer's time left when the clock changes by Delta.
    static void Shift(int64_t delta) {
        auto& armed = Armed();
        std::vector<TTimer*> timers;
        for (auto& [key, t] : armed) timers.push_back(t);
        armed.clear();
        for (TTimer* t : timers) {
            int64_t due = int64_t(t->Due) + delta;
            t->Due = due < 0 ? 0 : uint64_t(due);
            armed.emplace(std::make_pair(t->Due, t->Seq), t);
        }
    }
};

TTimer::~TTimer() {
    TimerQueue::Disarm(this);
}

void TTimer::SetEnabled(bool value) {
    if (value == FEnabled) return;
    FEnabled = value;
    Update();
}

void TTimer::SetInterval(uint32_t ms) {
    if (ms == FInterval) return;
    FInterval = ms;
    Update();
}

void TTimer::SetOnTimer(std::function<void()> handler) {
    FOnTimer = std::move(handler);
    Update();
}

void TTimer::Update() {
    TimerQueue::Disarm(this);
    if (FEnabled && FInterval > 0 && FOnTimer) TimerQueue::Arm(this, Ticks64() + FInterval);
}

// --- the loop ---------------------------------------------------------------------

namespace {

// Posted calls first, then descriptors, then timers, as the runtime's queue
// ranks them.
int Pass() {
    int done = RunPosted();
    done += DispatchFds();
    done += TimerQueue::FireDue();
    return done;
}

// Waits until there may be work: a post, a ready watch, the next due timer or
// Deadline. On the virtual clock an idle loop jumps to whichever comes first,
// but only after the idle grace, so an answer on its way is seen first.
// CapMs (-1: none) bounds a real wait.
void WaitForWork(uint64_t deadline, int capMs) {
    uint64_t now = Ticks64();
    uint64_t target = std::min(TimerQueue::NextDue(), deadline);
    if (target <= now) return;
    if (!ClockIsVirtual()) {
        int64_t wait = target == Never ? -1 : int64_t(std::min<uint64_t>(target - now, INT_MAX));
        if (capMs >= 0 && (wait < 0 || wait > capMs)) wait = capMs;
        PollWait(int(wait));
        return;
    }
    if (target == Never) { // virtual time has nothing to jump to
        PollWait(capMs);
        return;
    }
    if (PollWait(IdleGraceMs())) return;
    if (IdleCheck() && !IdleCheck()()) return; // not yet: the caller waits again
    JumpTo(target);
}

void RequireMain(const char* what) {
    if (!ClaimMain()) throw Exception(std::string(what) + " called outside the main thread");
}

} // namespace

void ProcessMessages() {
    if (!ClaimMain()) return;
    Pass();
}

void HandleMessage() {
    RequireMain("HandleMessage");
    while (Pass() == 0) WaitForWork(Never, -1);
}

void PostCall(std::function<void()> call) {
    auto& q = Queue();
    std::lock_guard<std::mutex> guard(q.Lock);
    q.Calls.push_back(std::move(call));
    ++q.Posted;
    if (q.PostWaiters) q.PostedChanged.notify_all();
    if (!q.WakePending) {
        // Written under the lock, so a drain never misses it.
        uint64_t one = 1;
        [[maybe_unused]] ssize_t w = write(q.WakeFd, &one, sizeof one); // fails only when full
        q.WakePending = true;
    }
}

uint64_t PostedCallCount() {
    auto& q = Queue();
    std::lock_guard<std::mutex> guard(q.Lock);
    return q.Posted;
}

void WaitForPostedCall(uint64_t seen) {
    auto& q = Queue();
    std::unique_lock<std::mutex> lock(q.Lock);
    ++q.PostWaiters;
    q.PostedChanged.wait(lock, [&] { return q.Posted > seen; });
    --q.PostWaiters;
}

namespace {

// A Synchronize waiting on the main thread, findable by its Abandon flag so
// AbandonSynchronize can wake it.
struct SyncState {
    std::mutex Lock;
    std::condition_variable Changed;
    enum { Pending, Running, Done, Cancelled } Stage = Pending;
    std::function<void()> Call;
    std::exception_ptr Error;
};

struct SyncWaiters {
    std::mutex Lock;
    std::multimap<const bool*, SyncState*> ByFlag;
};

SyncWaiters& Waiters() {
    static auto* waiters = new SyncWaiters;
    return *waiters;
}

} // namespace

bool Synchronize(std::function<void()> call, const bool* abandon) {
    if (!call) return true;
    if (IsMainThread() ||
        (mainThread.load() == std::thread::id() && IsInitialThread() && ClaimMain())) {
        call();
        return true;
    }
    auto abandoned = [abandon] { return abandon && __atomic_load_n(abandon, __ATOMIC_ACQUIRE); };
    if (abandoned()) return false;

    auto state = std::make_shared<SyncState>();
    state->Call = std::move(call);
    PostCall([state] {
        {
            std::lock_guard<std::mutex> guard(state->Lock);
            if (state->Stage != SyncState::Pending) return; // abandoned
            state->Stage = SyncState::Running;
        }
        std::exception_ptr error;
        try {
            state->Call();
        } catch (...) {
            error = std::current_exception(); // belongs to the waiting thread
        }
        std::lock_guard<std::mutex> guard(state->Lock);
        state->Error = error;
        state->Stage = SyncState::Done;
        state->Changed.notify_all();
    });

    // Findable by AbandonSynchronize while it waits.
    struct Listed {
        std::optional<std::multimap<const bool*, SyncState*>::iterator> Entry;
        ~Listed() {
            if (!Entry) return;
            std::lock_guard<std::mutex> guard(Waiters().Lock);
            Waiters().ByFlag.erase(*Entry);
        }
    } listed;
    if (abandon) {
        std::lock_guard<std::mutex> guard(Waiters().Lock);
        listed.Entry = Waiters().ByFlag.emplace(abandon, state.get());
    }

    std::unique_lock<std::mutex> lock(state->Lock);
    while (state->Stage != SyncState::Done) {
        if (abandoned()) {
            if (state->Stage == SyncState::Pending) state->Stage = SyncState::Cancelled;
            return false;
        }
        if (!abandon) {
            state->Changed.wait(lock);
            continue;
        }
        // AbandonSynchronize wakes us; an owner that sets the flag by itself
        // is still seen, only later.
        state->Changed.wait_for(lock, std::chrono::milliseconds(100));
    }
    if (state->Error) std::rethrow_exception(state->Error);
    return true;
}

void AbandonSynchronize(bool* abandon) {
    __atomic_store_n(abandon, true, __ATOMIC_RELEASE);
    auto& w = Waiters();
    std::lock_guard<std::mutex> guard(w.Lock);
    auto [from, to] = w.ByFlag.equal_range(abandon);
    for (auto it = from; it != to; ++it) {
        // Taking its lock orders the wake after the waiter's last look at the flag.
        std::lock_guard<std::mutex> stateGuard(it->second->Lock);
        it->second->Changed.notify_all();
    }
}

bool ProcessMessagesUntil(const std::function<bool()>& done, uint32_t timeoutMs) {
    uint64_t deadline = Ticks64() + timeoutMs;
    if (!ClaimMain()) {
        if (!done) {
            std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMs));
            return false;
        }
        while (!done()) {
            if (Ticks64() >= deadline) return done();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }
    for (;;) {
        Pass();
        if (done && done()) return true;
        if (Ticks64() >= deadline) return false;
        // Done may turn on another thread without a post: look again soon.
        WaitForWork(deadline, done ? 10 : -1);
    }
}

void RunLoop() {
    RequireMain("RunLoop");
    bool quit = false;
    QuitFlags().push_back(&quit);
    struct Pop {
        ~Pop() { QuitFlags().pop_back(); }
    } pop;
    for (;;) {
        Pass();
        if (quit) return;
        WaitForWork(Never, -1);
    }
}

void QuitLoop() {
    if (!IsMainThread()) {
        PostCall(QuitLoop);
        return;
    }
    if (!QuitFlags().empty()) *QuitFlags().back() = true;
}

void SetMainThread() {
    mainThread.store(std::this_thread::get_id());
}

bool IsMainThread() {
    return mainThread.load() == std::this_thread::get_id();
}

// --- watches ----------------------------------------------------------------------

int WatchFd(int fd, short events, TFdCallback callback) {
    if (fd < 0) throw Exception("Нельзя следить за неверным дескриптором файла");
    auto& t = Table();
    int id = nextWatchId++;
    t.Watches.emplace(id, WatchEntry{fd, short(events & (POLLIN | POLLOUT)), std::move(callback)});
    t.Fds[fd].Ids.push_back(id);
    ++watchCount;
    t.Sync(fd, true);
    return id;
}

void UnwatchFd(int id) {
    auto& t = Table();
    auto it = t.Watches.find(id);
    if (it == t.Watches.end()) return;
    int fd = it->second.Fd;
    t.Watches.erase(it);
    --watchCount;
    auto& ids = t.Fds[fd].Ids;
    ids.erase(std::find(ids.begin(), ids.end(), id));
    t.Sync(fd);
}

void SetFdEvents(int id, short events) {
    auto& t = Table();
    auto it = t.Watches.find(id);
    if (it == t.Watches.end()) return;
    it->second.Events = short(events & (POLLIN | POLLOUT));
    t.Sync(it->second.Fd);
}

void TFdWatch::Watch(int fd, short events, TFdCallback callback) {
    Stop();
    Id = WatchFd(fd, events, std::move(callback));
}

void TFdWatch::Stop() {
    if (Id) UnwatchFd(Id);
    Id = 0;
}

// --- clock ------------------------------------------------------------------------

uint32_t GetTickCount() {
    return uint32_t(Ticks64());
}

TDateTime Now() {
    auto& c = Clock();
    {
        std::lock_guard<std::mutex> guard(c.Lock);
        if (c.Virtual) return c.StartDate + double(c.Ticks - c.StartTicks) / 86400000.0;
    }
    return SystemNow();
}

void SleepMs(uint32_t ms) {
    if (ClockIsVirtual())
        AdvanceClock(ms);
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

namespace {

void SwitchClock(bool toVirtual, TDateTime start, const uint64_t* startTicks) {
    auto& c = Clock();
    int64_t delta;
    {
        std::lock_guard<std::mutex> guard(c.Lock);
        uint64_t before = c.Virtual ? c.Ticks : RealTicks();
        c.Virtual = toVirtual;
        if (toVirtual) {
            c.Ticks = startTicks ? *startTicks : before;
            c.StartTicks = c.Ticks;
            c.StartDate = start;
        }
        uint64_t after = c.Virtual ? c.Ticks : RealTicks();
        delta = int64_t(after - before);
    }
    TimerQueue::Shift(delta);
}

} // namespace

void UseVirtualClock(TDateTime start) {
    SwitchClock(true, start, nullptr);
}

void UseVirtualClock(TDateTime start, uint32_t startTicks) {
    uint64_t ticks = startTicks;
    SwitchClock(true, start, &ticks);
}

void UseRealClock() {
    if (ClockIsVirtual()) SwitchClock(false, 0, nullptr);
}

bool VirtualClockInUse() {
    return ClockIsVirtual();
}

void AdvanceClock(uint32_t ms) {
    auto& c = Clock();
    std::lock_guard<std::mutex> guard(c.Lock);
    if (c.Virtual) c.Ticks += ms;
}

void SetIdleGrace(int ms) {
    idleGrace.store(ms < 0 ? -1 : ms);
}

namespace {
bool peerWaitsAbandoned = false;
}

void AbandonPeerWaits(bool abandon) {
    peerWaitsAbandoned = abandon;
}

bool PeerWaitsAbandoned() {
    return peerWaitsAbandoned;
}

void SetIdleCheck(std::function<bool()> quiet) {
    IdleCheck() = std::move(quiet);
}

int LoopWakeFd() {
    return Queue().WakeFd;
}

void ClearLoopWake() {
    auto& q = Queue();
    std::lock_guard<std::mutex> guard(q.Lock);
    uint64_t count;
    [[maybe_unused]] ssize_t r = read(q.WakeFd, &count, sizeof count); // EAGAIN: drained
    q.WakePending = false;
}

int LoopWatchFd() {
    return Table().Epoll;
}

int64_t MsToNextTimer() {
    uint64_t due = TimerQueue::NextDue();
    if (due == Never) return -1;
    uint64_t now = Ticks64();
    return due <= now ? 0 : int64_t(std::min<uint64_t>(due - now, INT_MAX));
}

void SetTimerArmedHook(std::function<void()> hook) {
    TimerQueue::ArmedHook() = std::move(hook);
}

bool FdWatchesActive() {
    return watchCount.load() > 0;
}

int IdleGraceMs() {
    int ms = idleGrace.load();
    if (ms >= 0) return ms;
    return watchCount.load() > 0 ? DefaultIdleGraceMs : 0;
}

} // namespace nuq

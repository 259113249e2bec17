#include "acquisition/SerComm.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/EventLoop.h"
#include "platform/ScopeGuard.h"
#include "platform/SysUtils.h"

namespace nuq {

namespace {

const char* const PortOpenText = "Can't perform this operation while port is open";
const char* const BufferFullText = "Output buffer is full. Please check comm status.";

// Completes one of the port's "(%d), %s" texts with the system's error number and its text.
std::string FormatError(const std::string& format, const TSerialError& error) {
    std::string s = format;
    auto d = s.find("%d");
    if (d != std::string::npos) s.replace(d, 2, std::to_string(error.Code));
    auto t = s.find("%s");
    if (t != std::string::npos) s.replace(t, 2, error.Text());
    return s;
}

// A device name as messages show it.
std::string ShownName(const std::string& name) {
    return name.substr(0, 4) == "\\\\.\\" ? name.substr(4) : name;
}

// A flag read by Synchronize on another thread.
void SetFlag(bool& flag, bool value) {
    if (value)
        AbandonSynchronize(&flag); // wakes a thread waiting on it at once
    else
        std::atomic_ref<bool>(flag).store(false);
}

// Priorities are a hint: without the right to raise a thread, it runs at normal priority.
void ApplyPriority(int tid, TSerThreadPriority p) {
    SetSerialThreadPriority(tid, int(p));
}

// The write thread's queue: a block of fixed size with a fill count.
class TSerCommBuffer {
public:
    explicit TSerCommBuffer(int size) : Data(size_t(size > 0 ? size : 0)) {}
    void Append(const char* bytes, int count) {
        std::memcpy(Data.data() + Count, bytes, size_t(count));
        Count += count;
    }
    void Remove(int count) {
        std::memmove(Data.data(), Data.data() + count, size_t(Count - count));
        Count -= count;
    }
    int Size() const { return int(Data.size()); }
    std::vector<char> Data;
    int Count = 0;
};

// Most bytes the event thread takes from the device before the main thread
// has handled them; beyond it they wait in the device as before.
const int32_t ReadAheadLimit = 2 * 1024 * 1024;

// Bytes after a quiet spell go to the main thread at once. While they keep
// coming, they go once per HandOverGap or per HandOverBytes, whichever comes
// first, and when the line has been quiet for QuietSpell: every wake-up of
// the main thread costs the reading thread time it would spend reading.
const auto HandOverGap = std::chrono::milliseconds(5);
const size_t HandOverBytes = 512 * 1024;
const auto QuietSpell = std::chrono::microseconds(200);

// Received bytes taken from the device ahead of their reader, in arrival
// order. The event thread reads straight into Room without the lock; while
// it does (Filling) the block stays where it is, and what lies behind Tail
// is not the reader's yet. The main thread borrows the kept bytes where
// they lie (Lend) and gives them back when it has handled them (Return);
// meanwhile the event thread only adds behind them.
class TSerReadAhead {
public:
    // The whole block at once, so it never moves or grows under a flood;
    // left uninitialised, it takes memory only as far as bytes have reached,
    // which for a line at its usual pace is its first few pages.
    explicit TSerReadAhead(size_t limit)
        : Size(limit), Block(limit > 0 ? new char[limit] : nullptr), Data(Block.get()) {}
    // Fixed for good: asked without the lock.
    bool Enabled() const { return Size > 0; }
    size_t Count() const { return Tail - Head; }
    // The free room behind the kept bytes, which move to the front first
    // unless some lent bytes lie before them.
    char* Room(size_t& room) {
        if (Head > 0 && !Lending) {
            std::memmove(Data, Data + Head, Tail - Head);
            Tail -= Head;
            Head = 0;
        }
        room = Size - Tail;
        return Data + Tail;
    }
    void Added(size_t count) { Tail += count; }
    size_t Take(char* bytes, size_t count) {
        count = std::min(count, Count());
        std::memcpy(bytes, Data + Head, count);
        Head += count;
        Settle();
        return count;
    }
    // Every kept byte at once, where it lies, until Return; nothing while
    // earlier bytes are still out.
    size_t Lend(const char*& bytes) {
        size_t count = Count();
        if (count == 0 || Lending) return 0;
        bytes = Data + Head;
        Head = Tail;
        Lending = true;
        return count;
    }
    void Return() {
        Lending = false;
        Settle();
    }

    bool Filling = false; // a read writes behind Tail

private:
    void Settle() {
        if (Head == Tail && !Filling && !Lending) Head = Tail = 0;
    }
    const size_t Size;
    const std::unique_ptr<char[]> Block;
    char* const Data;
    size_t Head = 0, Tail = 0;
    bool Lending = false; // bytes before Head are the main thread's
};

} // namespace

// What a port thread and the main thread share. The thread object lives
// while its thread runs or its port holds it, so a thread left running by
// a close from inside one of its own handlers ends by itself.
class TSerCommThread {
public:
    TSerCommThread(TSerCustomComm* port) : Port(port), Device(&port->FDevice) {}
    virtual ~TSerCommThread() = default;

    TSerCustomComm* Port;
    TSerialDevice* Device;
    std::thread Thread;
    std::atomic<bool> Terminated{false};
    std::atomic<bool> InSync{false}; // blocked in a synchronous call
    bool InHandler = false;          // main thread only: its call is running
    bool CloseAbandon = false;       // read by Synchronize
    std::atomic<int> Tid{0};
    TWakeFd Wake;
    // Main thread only: a call of this thread is running, and what comes for
    // it meanwhile (from a handler that pumps messages) waits to run after it.
    bool Running = false;
    uint32_t Deferred = 0;

    // Runs the port's handling of Mask on the main thread, or right after
    // the call of this thread that is running beneath, so its handlers are
    // never entered again from inside themselves.
    static void Run(const std::shared_ptr<TSerCommThread>& self, uint32_t mask) {
        if (self->Terminated) return;
        if (self->Running) {
            self->Deferred |= mask;
            return;
        }
        struct TRunning {
            const std::shared_ptr<TSerCommThread>& T;
            explicit TRunning(const std::shared_ptr<TSerCommThread>& t) : T(t) {
                T->Running = true;
            }
            ~TRunning() {
                T->Running = false;
                uint32_t m = T->Deferred;
                T->Deferred = 0;
                if (m && !T->Terminated) PostCall([t = T, m] { Run(t, m); });
            }
        } running(self);
        self->Port->RunEvents(mask);
    }

    // Runs the port's handling of Mask on the main thread while this thread
    // waits; false when Abandon became true first.
    static bool Sync(const std::shared_ptr<TSerCommThread>& self, uint32_t mask,
                     const bool* abandon) {
        self->InSync = true;
        bool done = Synchronize(
            [self, mask] {
                if (self->Terminated) return;
                self->InHandler = true;
                try {
                    Run(self, mask);
                } catch (...) {
                    // Raised again on the main thread's next pass, so this
                    // thread is never left waiting for a call that died.
                    auto e = std::current_exception();
                    PostCall([e] { std::rethrow_exception(e); });
                }
                self->InHandler = false;
            },
            abandon);
        self->InSync = false;
        return done;
    }
};

// Received bytes are read here as they arrive and handed to the main thread
// in batches: one call on its way stands for every byte that comes before it
// runs, and this thread does not wait for it. Other events are synchronous.
class TSerCommEventThread : public TSerCommThread {
public:
    TSerCommEventThread(TSerCustomComm* port, uint32_t mask)
        : TSerCommThread(port), Mask(mask), ReadSize(port->FBuffers->ReadSize()),
          // The event character is seen only in bytes read here.
          Ahead(mask & (EV_RXCHAR | EV_RXFLAG) ? size_t(std::max(ReadSize, ReadAheadLimit)) : 0) {}

    void Execute(const std::shared_ptr<TSerCommThread>& self);
    // Takes what has arrived into Ahead until the device is empty or a
    // hand-over is due at Due; false when the device is gone. Drained tells
    // whether the device was seen empty: when not, bytes may wait there
    // that no new arrival will announce.
    bool ReadAhead(size_t& fresh, size_t& kept, bool& drained,
                   std::chrono::steady_clock::time_point due);
    void PostRxChar(const std::shared_ptr<TSerCommThread>& self);

    uint32_t Mask;
    int32_t ReadSize;
    TSerialWaiter Waiter;
    std::atomic<bool> TxPending{false}; // a direct write waits to be seen drained
    // Bytes read and not yet taken by the port's Read: they count as
    // received and unread. While they are kept, nobody else reads the device.
    std::mutex AheadLock;
    TSerReadAhead Ahead;
    std::atomic<bool> AheadFull{false}; // the reader must wake us when it makes room
    std::atomic<bool> RxPosted{false};
    bool FlagSeen = false; // the event character came in the bytes read ahead
};

class TSerCommWriteThread : public TSerCommThread {
public:
    TSerCommWriteThread(TSerCustomComm* port, int size) : TSerCommThread(port), Queue(size) {}

    void Execute(const std::shared_ptr<TSerCommThread>& self);

    TSerWaitEvent DataReady;
    TSerWaitEvent Room; // set whenever bytes leave the queue
    TSerCommBuffer Queue;
    // Blocks queued so far. A "queue empty" still on its way to the main
    // thread is stale once more bytes are queued: they give their own.
    std::atomic<uint64_t> Queued{0};
};

// The read itself runs without the lock, straight into the block, so a
// reader waits for no more than a copy; Filling keeps it off the device
// meanwhile. Reads go on until one finds the device empty, as a blocking
// reader's would: a line discipline hands its bytes over in small pieces,
// and waiting for the next wake-up after each piece leaves the line idle
// between them.
bool TSerCommEventThread::ReadAhead(size_t& fresh, size_t& kept, bool& drained,
                                    std::chrono::steady_clock::time_point due) {
    fresh = 0;
    drained = false;
    for (;;) {
        size_t room;
        char* into;
        {
            std::lock_guard<std::mutex> lock(AheadLock);
            into = Ahead.Room(room);
            kept = Ahead.Count();
            if (room == 0) AheadFull = true;
            Ahead.Filling = room > 0;
        }
        if (room == 0) return true;
        ssize_t n = Device->Read(into, room);
        const bool lost = n < 0 && LastSerialError().Kind == TSerialError::TKind::Lost;
        {
            std::lock_guard<std::mutex> lock(AheadLock);
            if (n > 0) Ahead.Added(size_t(n));
            kept = Ahead.Count();
            Ahead.Filling = false;
            if (Device->FollowsFill()) Device->FollowFill(kept);
        }
        if (n < 0) return !lost;
        if (n == 0) {
            drained = true; // anything later wakes the waiter
            return true;
        }
        fresh += size_t(n);
        if ((Mask & EV_RXFLAG) && Device->HasEventChar(into, size_t(n))) FlagSeen = true;
        // The main thread gets its batch on time however long the bytes keep coming.
        if (fresh >= HandOverBytes || std::chrono::steady_clock::now() >= due) return true;
    }
}

void TSerCommEventThread::PostRxChar(const std::shared_ptr<TSerCommThread>& self) {
    if (RxPosted.exchange(true)) return; // the call on its way takes these too
    auto t = std::static_pointer_cast<TSerCommEventThread>(self);
    PostCall([t] {
        t->RxPosted = false;
        Run(t, EV_RXCHAR);
    });
}

void TSerCommEventThread::Execute(const std::shared_ptr<TSerCommThread>& self) {
    const uint32_t lineEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
    uint32_t lines = 0;
    bool watchLines = (Mask & lineEvents) && Device->GetModemStatus(lines);
    bool watchDevice = true;
    using TClock = std::chrono::steady_clock;
    TClock::time_point handedOver; // the last hand-over of received bytes
    bool holding = false;          // bytes wait for the next hand-over
    bool undrained = false;        // the last read ahead stopped with bytes maybe left
    while (!Terminated) {
        // Modem lines and a draining direct write have no descriptor to wait on: look often.
        int64_t timeout = (watchDevice && watchLines) || TxPending ? 20000 : -1; // microseconds
        // Bytes held back go when the line has kept quiet for a while, or
        // when their time is up.
        bool quietWait = false;
        if (holding) {
            auto left = std::chrono::ceil<std::chrono::microseconds>(handedOver + HandOverGap -
                                                                     TClock::now());
            int64_t us = std::max<int64_t>(left.count(), 0);
            if (us > QuietSpell.count()) {
                us = QuietSpell.count();
                quietWait = true;
            }
            timeout = timeout < 0 ? us : std::min(timeout, us);
        }
        // Bytes left in the device get no new wake-up: take them without waiting.
        if (undrained) {
            timeout = 0;
            quietWait = false;
        }
        unsigned r = Waiter.Wait(timeout);
        bool quiet = quietWait && r == 0;
        if (r & TSerialWaiter::Woken) Wake.Clear();
        if (Terminated) break;
        uint32_t events = 0;
        size_t kept = 0; // bytes read ahead and not yet taken
        if (watchDevice) {
            bool lost = r & TSerialWaiter::HangUp;
            size_t fresh = 0;
            bool drained = true;
            if (Ahead.Enabled() && !ReadAhead(fresh, kept, drained, handedOver + HandOverGap))
                lost = true;
            undrained = !drained && !AheadFull;
            // Bytes just read need no second look at the device, unless
            // some were left there or its fill level matters.
            int64_t count = int64_t(kept);
            bool arrived = fresh > 0;
            if ((r & TSerialWaiter::Input) &&
                (fresh == 0 || AheadFull || (Mask & EV_RX80FULL) || !Ahead.Enabled())) {
                int n = Device->InQueue();
                if (n < 0 && LastSerialError().Kind == TSerialError::TKind::Lost) lost = true;
                if (!Ahead.Enabled() && n >= 0 && Device->FollowsFill())
                    Device->FollowFill(size_t(n));
                if (n > 0) {
                    count += n;
                    arrived = true;
                }
            }
            if (std::exchange(FlagSeen, false)) events |= EV_RXFLAG;
            if (arrived) {
                events |= EV_RXCHAR;
                if (ReadSize > 0 && count * 10 >= int64_t(ReadSize) * 8) events |= EV_RX80FULL;
            }
            if (!lost) {
                bool brk = false;
                if (Device->LineErrorsChanged(brk)) events |= EV_ERR;
                if (brk) events |= EV_BREAK;
                uint32_t now = 0;
                if (watchLines && Device->GetModemStatus(now)) {
                    uint32_t changed = now ^ lines;
                    if (changed & MS_CTS_ON) events |= EV_CTS;
                    if (changed & MS_DSR_ON) events |= EV_DSR;
                    if (changed & MS_RLSD_ON) events |= EV_RLSD;
                    if (changed & now & MS_RING_ON) events |= EV_RING;
                    lines = now;
                }
            }
            events &= Mask;
            if (lost) {
                // Told once, whether or not errors are watched; the device is
                // not waited on again, so a dead line cannot keep us spinning.
                Waiter.DropDevice();
                watchDevice = false;
                undrained = false;
                if (Device->MarkLost()) events |= EV_ERR;
            }
        }
        if (TxPending) {
            int out = Device->OutQueue();
            if (out <= 0) {
                TxPending = false;
                events |= EV_TXEMPTY & Mask;
            }
        }
        if (events & EV_RXCHAR) holding = true;
        if (holding) {
            // Handed over ahead of any other event, so they keep their order.
            auto now = TClock::now();
            if ((events & ~EV_RXCHAR) || quiet || now - handedOver >= HandOverGap ||
                kept >= HandOverBytes) {
                holding = false;
                handedOver = now;
                PostRxChar(self);
            }
            events &= ~EV_RXCHAR;
        }
        if (events) Sync(self, events, &CloseAbandon);
    }
}

void TSerCommWriteThread::Execute(const std::shared_ptr<TSerCommThread>& self) {
    for (;;) {
        DataReady.WaitFor(SerInfinite);
        if (Terminated) return;
        const char* data;
        int count;
        {
            TSerLock lock(Port->FWriteLock);
            data = Queue.Data.data();
            count = Queue.Count;
            if (count == 0) {
                // Never clear the signal a closing port gave after setting Terminated.
                if (!Terminated) DataReady.ResetEvent();
                continue;
            }
        }
        // Appends only add behind Count and removal is ours, so the bytes
        // being written stay where they are without the lock.
        ssize_t n = Device->Write(data, size_t(count));
        if (n == 0) {
            if (Device->WaitWritable(Wake.Handle(), -1) == TSerialDevice::TWaitResult::Woken)
                Wake.Clear();
            continue;
        }
        if (n < 0) {
            // The device refuses output for good: drop what waits, say so
            // once, and let further writes fail at once.
            bool first = Device->MarkLost();
            {
                TSerLock lock(Port->FWriteLock);
                Queue.Count = 0;
                if (!Terminated) DataReady.ResetEvent();
            }
            Room.SetEvent();
            if (first) Sync(self, EV_ERR, &CloseAbandon);
            continue;
        }
        bool empty;
        uint64_t queued;
        {
            TSerLock lock(Port->FWriteLock);
            Queue.Remove(int(n));
            empty = Queue.Count == 0;
            queued = Queued;
            if (empty && !Terminated) DataReady.ResetEvent();
        }
        Room.SetEvent();
        if (empty) {
            // Told without waiting: the next bytes need not wait for the main thread.
            auto t = std::static_pointer_cast<TSerCommWriteThread>(self);
            PostCall([t, queued] {
                if (!t->Terminated && t->Queued == queued) t->Port->RunEvents(EV_TXEMPTY);
            });
        }
    }
}

uint32_t BaudrateValue(TSerBaudrate rate) {
    static const uint32_t values[] = {0,     110,   300,   600,   1200,  2400,   4800,   9600,
                                      14400, 19200, 38400, 56000, 57600, 115200, 128000, 256000};
    return values[rate];
}

uint32_t EventBits(const TSerCommEvents& events) {
    static const uint32_t bits[] = {EV_BREAK,    EV_CTS,    EV_DSR,     EV_ERR,    EV_RING,
                                    EV_RLSD,     EV_RXCHAR, EV_TXEMPTY, EV_RXFLAG, EV_PERR,
                                    EV_RX80FULL, EV_EVENT1, EV_EVENT2};
    uint32_t mask = 0;
    for (int e = ceBreak; e <= ceEvent2; ++e)
        if (events.Contains(TSerCommEvent(e))) mask |= bits[e];
    return mask;
}

// ---- attached components

TSerCommComponent::TSerCommComponent() {
    FDispatcher.Owner = this;
    FDispatcher.OnEvents = [this](uint32_t mask) { CommEvents(mask); };
    FDispatcher.OnRxBuf = [this](const char* bytes, int count) { CommRxBuf(bytes, count); };
}

TSerCommComponent::~TSerCommComponent() {
    SetComm(nullptr);
}

void TSerCommComponent::SetComm(TSerCustomComm* comm) {
    if (FDispatcher.Comm == comm) return;
    if (FDispatcher.Comm) FDispatcher.Comm->Detach(&FDispatcher);
    FDispatcher.Comm = comm;
    if (comm) comm->Attach(&FDispatcher);
}

// ---- the display

TSerDisplay::~TSerDisplay() {
    while (!FPorts.empty()) FPorts.back()->SetDisplay(nullptr);
}

void TSerCustomComm::SetDisplay(TSerDisplay* value) {
    if (value == FDisplay) return;
    if (FDisplay) std::erase(FDisplay->FPorts, this);
    FDisplay = value;
    if (value) value->FPorts.push_back(this);
}

// ---- the port

TSerCustomComm::TSerCustomComm()
    : FEventChars(std::make_unique<TSerEventChars>()),
      FFlowControl(std::make_unique<TSerFlowControl>()), FBuffers(std::make_unique<TSerBuffers>()) {
    FEventChars->OnChange = [this](TSerPersistent&) { ApplySettings(); };
    FFlowControl->OnChange = [this](TSerPersistent&) { ApplySettings(); };
    FBuffers->OnChange = [this](TSerPersistent&) { CheckClosed(); };
}

TSerCustomComm::~TSerCustomComm() {
    FDestroying = true;
    *FAlive = false;
    SetDisplay(nullptr);
    Close();
    while (!FDispatchers.empty()) {
        TSerDispatcher* d = FDispatchers.back();
        FDispatchers.pop_back();
        d->Comm = nullptr;
    }
}

void TSerCustomComm::CheckClosed() const {
    if (IsOpen()) throw ESerCommError(PortOpenText);
}

void TSerCustomComm::RaiseLastError(const std::string& format) const {
    throw ESerCommError(FormatError(format, LastSerialError()));
}

void TSerCustomComm::RaiseDcbError() const {
    std::string s = FormatError("Error writing dcb (%d), %s", LastSerialError());
    // A mode run on modem lines, asked of a line without them.
    if (const char* mode = FDevice.Refused())
        s += ": " + ShownName(FormattedDeviceName()) + " has no modem lines for " + mode;
    throw ESerCommError(s);
}

std::string TSerCustomComm::FormattedDeviceName() const {
    std::string s;
    for (size_t i = 0; i < FDeviceName.size(); ++i) {
        if (FDeviceName[i] == '%' && i + 1 < FDeviceName.size()) {
            char c = FDeviceName[i + 1];
            if (c == 'd') {
                s += std::to_string(FPortNum);
                ++i;
                continue;
            }
            if (c == '%') {
                s += '%';
                ++i;
                continue;
            }
        }
        s += FDeviceName[i];
    }
    return s;
}

void TSerCustomComm::Open() {
    CheckClosed();
    FOpenFailure.clear();
    {
        TScopeFail undo([this] {
            StopThreads();
            FDevice.Close();
        });
        OpenDevice();
        CreateThreads();
    }
    if (OnOpen) OnOpen(*this);
}

void TSerCustomComm::OpenDevice() {
    std::string name = FormattedDeviceName();
    // "COM7 (/dev/ttyS6)": the name and the device it stands for here.
    const std::string path = ResolveSerialName(name);
    const std::string where =
        ShownName(name) + (path.empty() || path == ShownName(name) ? "" : " (" + path + ")");
    if (!FDevice.Open(name)) {
        const TSerialError e = LastSerialError();
        FOpenFailure = e.Kind == TSerialError::TKind::NotFound
                           ? "устройство " + where + " не найдено"
                           : "не удалось открыть " + where + ": " + SystemErrorReason(e.Code);
        std::string shown = ShownName(name);
        if (e.Kind == TSerialError::TKind::NotFound)
            throw ESerCommError("Specified device not found (" + shown + ").");
        throw ESerCommError("Can't open specified device " + shown + " (Error " +
                            std::to_string(e.Code) + ", " + e.Text() + ")");
    }
    // The driver's queues and read time-outs need no setting here: the
    // device is read without waiting, as those time-outs asked for.
    if (FUpdateDCB && !FDevice.Configure(MakeSettings())) {
        const char* mode = FDevice.Refused();
        FOpenFailure = "устройство " + where + " не принимает настройки линии: " +
                       SystemErrorReason(LastSerialError().Code) +
                       (mode ? std::string(" (у него нет модемных линий для ") + mode + ")" : "");
        RaiseDcbError();
    }
    FOpenedDevice = where;
    FEventMask = EventBits(FMonitorEvents);
    if (!FDirectWrite) FEventMask &= ~EV_TXEMPTY; // the write thread tells that itself
}

void TSerCustomComm::CreateThreads() {
    if (FEventMask != 0) {
        auto t = std::make_shared<TSerCommEventThread>(this, FEventMask);
        if (!t->Wake.Valid() || !t->Waiter.Init(FDevice.Handle(), t->Wake.Handle()))
            RaiseLastError(" Error setting EventMask (%d), %s");
        FEventThread = t;
        TSerThreadPriority p = FEventPriority;
        t->Thread = std::thread([t, p] {
            t->Tid = CurrentThreadId();
            ApplyPriority(t->Tid, p);
            t->Execute(t);
        });
    }
    if (!FDirectWrite) {
        auto t = std::make_shared<TSerCommWriteThread>(this, FBuffers->WriteSize());
        if (!t->Wake.Valid()) RaiseLastError("Error initializing buffers (%d), %s");
        FWriteThread = t;
        TSerThreadPriority p = FWritePriority;
        t->Thread = std::thread([t, p] {
            t->Tid = CurrentThreadId();
            ApplyPriority(t->Tid, p);
            t->Execute(t);
        });
    }
}

void TSerCustomComm::StopThreads() {
    auto stop = [](TSerCommThread& t) {
        t.Terminated = true;
        SetFlag(t.CloseAbandon, true);
        t.Wake.Signal();
    };
    if (FWriteThread) {
        {
            TSerLock lock(FWriteLock);
            stop(*FWriteThread);
            FWriteThread->DataReady.SetEvent();
        }
    }
    if (FEventThread) stop(*FEventThread);
    FDevice.StopWaits();
    // A thread whose handler is running beneath us cannot be waited for: it
    // is blocked in that very call, and ends by itself once the call returns,
    // touching neither the port nor the device again.
    auto finish = [](auto& t) {
        if (!t) return;
        if (t->Thread.joinable()) {
            if (t->InSync && t->InHandler)
                t->Thread.detach();
            else
                t->Thread.join();
        }
        t.reset();
    };
    finish(FWriteThread);
    finish(FEventThread);
}

void TSerCustomComm::Close() {
    if (!IsOpen()) return;
    {
        TSerLock lock(FReadLock);
        StopThreads();
        FDevice.Close();
    }
    if (!FDestroying && OnClose) OnClose(*this);
}

int TSerCustomComm::Write(const char* bytes, int count) {
    if (!IsOpen() || count <= 0) return 0;
    if (FDevice.Lost())
        throw ESerCommError(FormatError("Write error (%d), %s", TSerialError::LineLost()));
    const TSerBuffers& b = *FBuffers;
    TSerTimeout timeout;
    StartTimeout(timeout, uint32_t(b.WriteTimeout()));
    if (FDirectWrite) {
        TSerLock lock(FWriteLock);
        int done = 0;
        while (done < count) {
            ssize_t n = FDevice.Write(bytes + done, size_t(count - done));
            if (n < 0) RaiseLastError("Write error (%d), %s");
            done += int(n);
            if (done == count || n > 0) continue;
            if (TimedOut(timeout)) break;
            // Elapsed is read once: time passing after the check above must not
            // turn what is left into a huge unsigned wait.
            const uint32_t elapsed = TimeoutElapsed(timeout, GetTickCount());
            const uint32_t left = elapsed >= timeout.Duration ? 0 : timeout.Duration - elapsed;
            if (FDevice.WaitWritable(-1, int(left > 0x7FFFFFFF ? 0x7FFFFFFF : left)) ==
                TSerialDevice::TWaitResult::Failed)
                RaiseLastError("Write error (%d), %s");
        }
        // What did go out is counted: calling it nothing would have it sent twice.
        if (done > 0 && FEventThread && (FEventMask & EV_TXEMPTY)) {
            FEventThread->TxPending = true;
            FEventThread->Wake.Signal();
        }
        return done;
    }
    TSerCommWriteThread& w = *FWriteThread;
    // A block larger than the whole queue can never fit: no use waiting for room.
    if (count > w.Queue.Size()) throw ESerCommError(BufferFullText);
    for (;;) {
        {
            TSerLock lock(FWriteLock);
            if (w.Queue.Count + count <= w.Queue.Size()) {
                w.Queue.Append(bytes, count);
                ++w.Queued;
                w.DataReady.SetEvent();
                return count;
            }
            w.Room.ResetEvent();
        }
        if (FDevice.Lost())
            throw ESerCommError(FormatError("Write error (%d), %s", TSerialError::LineLost()));
        if (TimedOut(timeout)) throw ESerCommError(BufferFullText);
        w.Room.WaitFor(10);
    }
}

bool TSerCustomComm::WriteText(const std::string& s) {
    return Write(s.data(), int(s.size())) == int(s.size());
}

int TSerCustomComm::Read(char* bytes, int count) {
    if (!IsOpen() || count <= 0) return 0;
    TSerLock lock(FReadLock);
    // Bytes that have arrived are taken at once; there is nothing to wait for.
    TSerCommEventThread* t = FEventThread.get();
    if (!t || !t->Ahead.Enabled()) {
        ssize_t n = FDevice.Read(bytes, size_t(count));
        if (n < 0) RaiseLastError("Read error (%d), %s");
        if (FDevice.FollowsFill()) FDevice.FollowFill(size_t(std::max(FDevice.InQueue(), 0)));
        return int(n);
    }
    std::lock_guard<std::mutex> ahead(t->AheadLock);
    size_t done = t->Ahead.Take(bytes, size_t(count));
    if (done > 0 && t->AheadFull.exchange(false)) t->Wake.Signal();
    if (done > 0 && FDevice.FollowsFill()) FDevice.FollowFill(t->Ahead.Count());
    // Behind bytes read ahead, or a read of the event thread under way, the
    // device's bytes are that thread's to take next, and to announce. When
    // it is held up (waiting for one of its own handlers, say) they are read
    // here, as they always were.
    if (done == 0 && !t->Ahead.Filling) {
        ssize_t n = FDevice.Read(bytes, size_t(count));
        if (n < 0) RaiseLastError("Read error (%d), %s");
        done = size_t(n);
        if (FDevice.FollowsFill()) FDevice.FollowFill(size_t(std::max(FDevice.InQueue(), 0)));
    }
    return int(done);
}

size_t TSerCustomComm::ReadAheadCount() {
    TSerCommEventThread* t = FEventThread.get();
    if (!t || !t->Ahead.Enabled()) return 0;
    std::lock_guard<std::mutex> ahead(t->AheadLock);
    return t->Ahead.Count();
}

void TSerCustomComm::ReadText(std::string& s) {
    int n = InQueCount();
    s.clear();
    if (n < 1) return;
    s.resize(size_t(n));
    s.resize(size_t(Read(s.data(), n)));
}

int TSerCustomComm::InQueCount() {
    if (!IsOpen()) return 0;
    TSerLock lock(FReadLock);
    int n = FDevice.InQueue();
    return (n > 0 ? n : 0) + int(ReadAheadCount()); // a hung-up device has nothing to read
}

void TSerCustomComm::GetStatus(uint32_t& errors, TSerialStatus& status) {
    TSerLock lock(FReadLock);
    errors = 0;
    status = {};
    if (!IsOpen()) return;
    if (!FDevice.GetStatus(status)) RaiseLastError("Error retrieving statistics (%d), %s");
    status.InQueue += uint32_t(ReadAheadCount());
    errors = status.Errors;
}

void TSerCustomComm::Loaded() {
    if (AutoOpen) Open();
}

// ---- event handling on the main thread

void TSerCustomComm::RunEvents(uint32_t mask) {
    auto alive = FAlive;
    if (mask & EV_RXCHAR) {
        HandleRxChar();
        mask &= ~EV_RXCHAR;
        if (!*alive || !IsOpen()) return;
    }
    if (mask) HandleEvents(mask);
}

void TSerCustomComm::HandleRxChar() {
    auto t = FEventThread; // alive while its bytes are handed on, closed or not
    if (!FDispatchers.empty() && t && t->Ahead.Enabled()) {
        // The bytes read ahead are handled where they lie, all at once, so
        // the event thread never waits on a copy and reads on behind them;
        // the rest are still that thread's, which announces them next. Not
        // asking the device spares a query that stalls its read. Its own
        // calls never nest, so nothing else is out on loan.
        const char* bytes = nullptr;
        size_t n = 0;
        {
            TSerLock lock(FReadLock);
            std::lock_guard<std::mutex> ahead(t->AheadLock);
            n = t->Ahead.Lend(bytes);
            // Bytes in a handler's hands are taken: the line may bring more.
            if (n > 0 && FDevice.FollowsFill()) FDevice.FollowFill(t->Ahead.Count());
        }
        if (n == 0) return;
        struct TGiveBack {
            TSerCommEventThread& T;
            ~TGiveBack() {
                std::lock_guard<std::mutex> ahead(T.AheadLock);
                T.Ahead.Return();
                if (T.AheadFull.exchange(false)) T.Wake.Signal();
            }
        } giveBack{*t};
        DispatchRxBuf(bytes, int(n));
        return;
    }
    int n = InQueCount();
    if (n <= 0) return;
    if (!FDispatchers.empty()) {
        std::vector<char> bytes(static_cast<size_t>(n));
        int got = Read(bytes.data(), n);
        if (got > 0) DispatchRxBuf(bytes.data(), got);
    } else if (OnRxChar) {
        OnRxChar(*this, n);
    }
}

bool TSerCustomComm::Fire(const TNotifyEvent& event) {
    auto alive = FAlive;
    if (event) event(*this);
    return *alive && IsOpen();
}

void TSerCustomComm::HandleEvents(uint32_t mask) {
    auto alive = FAlive;
    auto goOn = [&] { return *alive && IsOpen(); };
    if (mask & EV_ERR) {
        uint32_t errors;
        TSerialStatus status;
        GetStatus(errors, status);
        if (errors && OnError) {
            OnError(*this, errors);
            if (!goOn()) return;
        }
    }
    if (!FDispatchers.empty()) {
        DispatchEvents(mask);
        if (!goOn()) return;
    }
    const std::pair<uint32_t, TNotifyEvent TSerCustomComm::*> order[] = {
        {EV_RXFLAG, &TSerCustomComm::OnRxFlag},     {EV_CTS, &TSerCustomComm::OnCts},
        {EV_DSR, &TSerCustomComm::OnDsr},           {EV_RING, &TSerCustomComm::OnRing},
        {EV_RLSD, &TSerCustomComm::OnRlsd},         {EV_TXEMPTY, &TSerCustomComm::OnTxEmpty},
        {EV_BREAK, &TSerCustomComm::OnBreak},       {EV_PERR, &TSerCustomComm::OnPErr},
        {EV_RX80FULL, &TSerCustomComm::OnRx80Full}, {EV_EVENT1, &TSerCustomComm::OnEvent1},
        {EV_EVENT2, &TSerCustomComm::OnEvent2},
    };
    for (const auto& [bit, event] : order)
        if ((mask & bit) && (this->*event) && !Fire(this->*event)) return;
}

void TSerCustomComm::DispatchEvents(uint32_t mask) {
    auto alive = FAlive;
    for (size_t i = 0; i < FDispatchers.size(); ++i) {
        TSerDispatcher* d = FDispatchers[i];
        if (d->Active && d->OnEvents) d->OnEvents(mask);
        if (!*alive) return;
    }
}

void TSerCustomComm::DispatchRxBuf(const char* bytes, int count) {
    auto alive = FAlive;
    for (size_t i = 0; i < FDispatchers.size(); ++i) {
        TSerDispatcher* d = FDispatchers[i];
        if (d->Active && d->OnRxBuf) d->OnRxBuf(bytes, count);
        if (!*alive) return;
    }
    if (OnRxBuf) OnRxBuf(*this, bytes, count);
}

void TSerCustomComm::Attach(TSerDispatcher* d) {
    FDispatchers.push_back(d);
}

void TSerCustomComm::Detach(TSerDispatcher* d) {
    for (auto it = FDispatchers.begin(); it != FDispatchers.end(); ++it)
        if (*it == d) {
            FDispatchers.erase(it);
            return;
        }
}

// ---- settings

TSerialSettings TSerCustomComm::MakeSettings() const {
    // The control block is built from zero, so a setting switched off is
    // off on the line too, whatever an earlier one left there.
    uint32_t flags = dcbBinary | FFlowControl->Flags();
    if (FOptions.Contains(coErrorChar)) flags |= dcbErrorChar;
    if (FOptions.Contains(coNullStrip)) flags |= dcbNull;
    if (FOptions.Contains(coParityCheck)) flags |= dcbParity;

    TSerialSettings s;
    s.Baudrate = FBaudrate == brUser ? uint32_t(FUserBaudrate > 0 ? FUserBaudrate : 0)
                                     : BaudrateValue(FBaudrate);
    s.DataBits = 4 + int(FDatabits);
    s.StopBits = FStopbits == sb1 ? 0 : FStopbits == sb15 ? 1 : 2;
    static const TSerialParity parities[] = {TSerialParity::None, TSerialParity::Odd,
                                             TSerialParity::Even, TSerialParity::Mark,
                                             TSerialParity::Space};
    s.Parity = parities[FParity];
    s.ParityCheck = IsFlagSet(dcbParity, flags);
    s.ReplaceErrors = IsFlagSet(dcbErrorChar, flags);
    s.NullStrip = IsFlagSet(dcbNull, flags);
    s.OutCtsFlow = IsFlagSet(dcbOutxCtsFlow, flags);
    s.OutDsrFlow = IsFlagSet(dcbOutxDsrFlow, flags);
    s.DsrSensitivity = IsFlagSet(dcbDsrSensitivity, flags);
    static const TSerialLineControl lineControl[] = {
        TSerialLineControl::Disabled, TSerialLineControl::Enabled, TSerialLineControl::Handshake,
        TSerialLineControl::Toggle};
    s.Dtr = lineControl[(flags >> 4) & 0x3];
    s.Rts = lineControl[(flags >> 12) & 0x3];
    s.XonXoffOut = IsFlagSet(dcbOutX, flags);
    s.XonXoffIn = IsFlagSet(dcbInX, flags);
    s.TxContinueOnXoff = IsFlagSet(dcbTxContinueOnXoff, flags);
    s.XonChar = FEventChars->XonChar();
    s.XoffChar = FEventChars->XoffChar();
    s.ErrorChar = FEventChars->ErrorChar();
    s.EventChar = FEventChars->EventChar();
    s.InputSize = FBuffers->ReadSize();
    s.XonLimit = FBuffers->XonLimit();
    s.XoffLimit = FBuffers->XoffLimit();
    return s;
}

void TSerCustomComm::ApplySettings() {
    if (IsOpen() && FUpdateDCB && !FDevice.Configure(MakeSettings())) RaiseDcbError();
}

void TSerCustomComm::SetBaudrate(TSerBaudrate value) {
    if (value == FBaudrate) return;
    FBaudrate = value;
    if (value != brUser) FUserBaudrate = 0;
    ApplySettings();
}

void TSerCustomComm::SetUserBaudrate(int32_t value) {
    if (value == FUserBaudrate) return;
    FUserBaudrate = value;
    FBaudrate = brUser;
    ApplySettings();
}

void TSerCustomComm::SetParity(TSerParity value) {
    if (value == FParity) return;
    FParity = value;
    ApplySettings();
}

void TSerCustomComm::SetDatabits(TSerDatabits value) {
    if (value == FDatabits) return;
    FDatabits = value;
    ApplySettings();
}

void TSerCustomComm::SetStopbits(TSerStopbits value) {
    if (value == FStopbits) return;
    FStopbits = value;
    ApplySettings();
}

void TSerCustomComm::SetOptions(TSerCommOptions value) {
    if (value == FOptions) return;
    FOptions = value;
    ApplySettings();
}

void TSerCustomComm::SetBuffers(const TSerBuffers& value) {
    CheckClosed();
    FBuffers->Assign(value);
}

void TSerCustomComm::SetPortNum(int32_t value) {
    CheckClosed();
    FPortNum = value;
}

void TSerCustomComm::SetDeviceName(const std::string& value) {
    CheckClosed();
    FDeviceName = value;
}

void TSerCustomComm::SetMonitorEvents(TSerCommEvents value) {
    CheckClosed();
    FMonitorEvents = value;
}

void TSerCustomComm::SetDirectWrite(bool value) {
    CheckClosed();
    FDirectWrite = value;
}

void TSerCustomComm::SetUpdateDCB(bool value) {
    CheckClosed();
    FUpdateDCB = value;
}

void TSerCustomComm::SetEventPriority(TSerThreadPriority value) {
    FEventPriority = value;
    if (FEventThread) ApplyPriority(FEventThread->Tid, value);
}

void TSerCustomComm::SetWritePriority(TSerThreadPriority value) {
    FWritePriority = value;
    if (FWriteThread) ApplyPriority(FWriteThread->Tid, value);
}

} // namespace nuq

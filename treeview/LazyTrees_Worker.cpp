// The validation thread shared by all trees: trees queue themselves, the
// thread validates each one's position cache and reports its progress by
// change-state messages sent to the tree's window.

#include "treeview/LazyTrees_Worker.h"
#include "treeview/LazyTrees.h"

namespace nuq {

namespace {

// Auto-reset: one signal releases one wait.
struct TWorkEvent {
    std::mutex Lock;
    std::condition_variable Changed;
    bool Signalled = false;
    void Set() {
        std::lock_guard<std::mutex> guard(Lock);
        Signalled = true;
        Changed.notify_one();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(Lock);
        Changed.wait(lock, [this] { return Signalled; });
        Signalled = false;
    }
};

std::unique_ptr<TWorkEvent> workEvent;
std::unique_ptr<TWorkerThread> workerThread;

WPARAM EncodeStates(TLazyTreeStates s) {
    WPARAM r = 0;
    if (s & TS(tsStopValidation)) r |= 1;
    if (s & TS(tsUseCache)) r |= 2;
    if (s & TS(tsValidating)) r |= 4;
    if (s & TS(tsValidationNeeded)) r |= 8;
    return r;
}

} // namespace

TLazyTreeStates DecodeChangeStates(uintptr_t bits) {
    TLazyTreeStates s = 0;
    if (bits & 1) s |= TS(tsStopValidation);
    if (bits & 2) s |= TS(tsUseCache);
    if (bits & 4) s |= TS(tsValidating);
    if (bits & 8) s |= TS(tsValidationNeeded);
    return s;
}

TWorkerThread* WorkerThread() {
    return workerThread.get();
}

void SignalWorkEvent() {
    if (workEvent) workEvent->Set();
}

void AddThreadReference() {
    if (!workerThread) {
        workEvent = std::make_unique<TWorkEvent>();
        workerThread = std::make_unique<TWorkerThread>();
    }
    ++workerThread->RefCount;
}

void ReleaseThreadReference(TBaseLazyTree* tree) {
    if (!workerThread) return;
    --workerThread->RefCount;
    if (tree) tree->InterruptValidation();
    if (workerThread->RefCount <= 0) {
        workerThread.reset(); // terminates, signals and waits
        workEvent.reset();
    }
}

TWorkerThread::TWorkerThread() {
    FThread = std::thread([this] { Execute(); });
}

TWorkerThread::~TWorkerThread() {
    FTerminated = true;
    SignalWorkEvent();
    if (FThread.joinable()) FThread.join();
}

void TWorkerThread::AddTree(TBaseLazyTree* tree) {
    tree->DoStateChange(0, TS(tsStopValidation));
    tree->FWithWorker = true;
    std::lock_guard<std::mutex> guard(FListLock);
    for (TWaiter& w : FWaiterList)
        if (w.Tree == tree) {
            w.Window = tree->WindowHandle();
            return;
        }
    FWaiterList.push_back({tree, tree->WindowHandle()});
}

void TWorkerThread::RemoveTree(TBaseLazyTree* tree) {
    std::lock_guard<std::mutex> guard(FListLock);
    std::erase_if(FWaiterList, [tree](const TWaiter& w) { return w.Tree == tree; });
}

bool TWorkerThread::RemoveOrHeld(TBaseLazyTree* tree) {
    std::lock_guard<std::mutex> guard(FListLock);
    std::erase_if(FWaiterList, [tree](const TWaiter& w) { return w.Tree == tree; });
    return FCurrentTree.load() == tree;
}

size_t TWorkerThread::Waiting() const {
    std::lock_guard<std::mutex> guard(FListLock);
    return FWaiterList.size();
}

void TWorkerThread::WaitForRelease(TBaseLazyTree* tree, HWND wnd) {
    for (;;) {
        // One message of the tree's window per turn; the peek also runs
        // what the thread has sent to it.
        TMsg m;
        bool got = wnd && PeekMessage(m, wnd, 0, 0, PM_REMOVE);
        if (got) DispatchMessage(m);
        std::unique_lock<std::mutex> lock(FWakeLock);
        if (FCurrentTree.load() != tree) return;
        if (got) continue;
        // Sleeps until a message is on its way or the tree is let go; while
        // one is on its way, peek again.
        FWake.wait(lock, [&] { return FCurrentTree.load() != tree || FSending; });
        if (FCurrentTree.load() != tree) return;
        lock.unlock();
        std::this_thread::yield();
    }
}

void TWorkerThread::Abandon(TBaseLazyTree* tree) {
    std::lock_guard<std::mutex> guard(FWakeLock);
    if (FCurrentTree.load() == tree) FAbandoned = true;
}

void TWorkerThread::ChangeTreeStates(TLazyTreeStates enter, TLazyTreeStates leave) {
    if (!FCurrentTree.load() || !IsWindow(FCurrentWindow)) return;
    {
        std::lock_guard<std::mutex> guard(FWakeLock);
        FSending = true;
    }
    FWake.notify_all();
    SendMessage(FCurrentWindow, WM_CHANGESTATE, EncodeStates(enter), LPARAM(EncodeStates(leave)));
    std::lock_guard<std::mutex> guard(FWakeLock);
    FSending = false;
}

void TWorkerThread::Release() {
    {
        std::lock_guard<std::mutex> guard(FWakeLock);
        FCurrentTree = nullptr;
        FCurrentWindow = 0;
        FAbandoned = false;
    }
    FWake.notify_all();
}

void TWorkerThread::Execute() {
    while (!FTerminated) {
        workEvent->Wait();
        if (FTerminated) break;
        {
            std::lock_guard<std::mutex> guard(FListLock);
            if (!FWaiterList.empty()) {
                FCurrentTree = FWaiterList.front().Tree;
                FCurrentWindow = FWaiterList.front().Window;
                FWaiterList.erase(FWaiterList.begin());
                if (!FWaiterList.empty()) workEvent->Set(); // the rest still waits
            } else {
                FCurrentTree = nullptr;
            }
        }
        TBaseLazyTree* tree = FCurrentTree.load();
        if (!tree) continue;
        ChangeTreeStates(TS(tsValidating), TS(tsUseCache));
        bool abandoned;
        {
            std::lock_guard<std::mutex> guard(FWakeLock);
            abandoned = FAbandoned;
        }
        bool finished = false;
        if (!abandoned && !(tree->TreeStates() & TS(tsStopValidation)))
            finished = tree->DoValidateCache();
        if (finished)
            ChangeTreeStates(TS(tsUseCache),
                             TS(tsValidating, tsStopValidation, tsValidationNeeded));
        else
            ChangeTreeStates(0, TS(tsValidating, tsStopValidation));
        Release();
    }
}

// --- the tree's side ------------------------------------------------------------------------

void TBaseLazyTree::InterruptValidation() {
    // Already stopped and no thread holds the tree (as at every node added
    // after the first): nothing would change and nothing to tell.
    if (!FWithWorker && !FLastHitNode &&
        (FStates & TS(tsStopValidation, tsUseCache)) == TS(tsStopValidation))
        return;
    DoStateChange(TS(tsStopValidation), TS(tsUseCache));
    TWorkerThread* w = FWithWorker ? WorkerThread() : nullptr;
    if (!w) return;
    // Only queued: out of the queue, nothing more to wait for.
    if (!w->RemoveOrHeld(this)) {
        FWithWorker = false;
        return;
    }
    // The thread may have taken the tree before telling it so: it is waited
    // for all the same, since the tree may be about to change or go. Inside
    // the thread's own message it cannot be waited for (it waits for this
    // message to end): it is told to leave the tree alone instead.
    if (FChangeStateDepth == 0)
        w->WaitForRelease(this, WindowHandle());
    else
        w->Abandon(this);
    // A build that ended meanwhile has let the cache be used again; the
    // change the caller is about to make outdates it.
    DoStateChange(TS(tsValidationNeeded), TS(tsUseCache));
}

void TBaseLazyTree::ReleaseWorker() {
    if (!FThreadReferenced) return;
    FThreadReferenced = false;
    ReleaseThreadReference(this);
}

TLazyStringTree::~TLazyStringTree() {
    ReleaseWorker();
}

} // namespace nuq

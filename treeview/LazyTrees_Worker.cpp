// The validation thread shared by all trees: trees queue themselves, the
// thread validates each one's position cache and reports its progress by
// change-state messages sent to the tree's window.

#include "treeview/LazyTrees.h"

#include "platform/EventLoop.h"

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
    std::lock_guard<std::mutex> guard(FListLock);
    if (std::find(FWaiterList.begin(), FWaiterList.end(), tree) == FWaiterList.end()) FWaiterList.push_back(tree);
}

void TWorkerThread::RemoveTree(TBaseLazyTree* tree) {
    std::lock_guard<std::mutex> guard(FListLock);
    std::erase(FWaiterList, tree);
}

size_t TWorkerThread::Waiting() const {
    std::lock_guard<std::mutex> guard(FListLock);
    return FWaiterList.size();
}

void TWorkerThread::ChangeTreeStates(TLazyTreeStates enter, TLazyTreeStates leave) {
    TBaseLazyTree* tree = FCurrentTree.load();
    if (tree && tree->WindowHandle())
        SendMessage(tree->WindowHandle(), WM_CHANGESTATE, EncodeStates(enter), LPARAM(EncodeStates(leave)));
}

void TWorkerThread::Execute() {
    while (!FTerminated) {
        workEvent->Wait();
        if (FTerminated) break;
        {
            std::lock_guard<std::mutex> guard(FListLock);
            if (!FWaiterList.empty()) {
                FCurrentTree = FWaiterList.front();
                FWaiterList.erase(FWaiterList.begin());
                if (!FWaiterList.empty()) workEvent->Set(); // the rest still waits
            } else {
                FCurrentTree = nullptr;
            }
        }
        TBaseLazyTree* tree = FCurrentTree.load();
        if (!tree) continue;
        ChangeTreeStates(TS(tsValidating), TS(tsUseCache));
        bool finished = false;
        if (!(tree->TreeStates() & TS(tsStopValidation))) finished = tree->DoValidateCache();
        if (finished) ChangeTreeStates(TS(tsUseCache), TS(tsValidating, tsStopValidation, tsValidationNeeded));
        else ChangeTreeStates(0, TS(tsValidating, tsStopValidation));
        FCurrentTree = nullptr;
        PostCall(nullptr); // wakes a tree waiting for its validation to end
    }
}

} // namespace nuq

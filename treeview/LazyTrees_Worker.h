#pragma once
// Private to the tree's own files: the worker thread that validates the node
// caches of the trees queued to it, and the references that keep it.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "treeview/LazyTrees_Node.h"

namespace nuq {

// --- the worker thread ---------------------------------------------------------------------------

class TWorkerThread {
public:
    TWorkerThread();
    ~TWorkerThread(); // terminates and waits for the thread
    void AddTree(TBaseLazyTree* tree);
    void RemoveTree(TBaseLazyTree* tree);
    TBaseLazyTree* CurrentTree() const { return FCurrentTree.load(); }
    int RefCount = 0;
    size_t Waiting() const;
    // Removes Tree from the queue; true when the thread is working on it
    // (checked under the same lock, so it cannot take the tree in between).
    bool RemoveOrHeld(TBaseLazyTree* tree);
    // Returns once the thread has let go of Tree, answering meanwhile the
    // messages the thread sends to Wnd (0: the tree has no window).
    void WaitForRelease(TBaseLazyTree* tree, HWND wnd);
    // For a tree that cannot wait (it is inside the thread's own message):
    // the thread reads nothing more of it and only reports the end.
    void Abandon(TBaseLazyTree* tree);

private:
    struct TWaiter {
        TBaseLazyTree* Tree;
        HWND Window; // taken when queued: the thread never reads the tree's fields for it
    };
    void Execute();
    void ChangeTreeStates(TLazyTreeStates enter, TLazyTreeStates leave);
    void Release();
    std::atomic<TBaseLazyTree*> FCurrentTree{nullptr};
    HWND FCurrentWindow = 0; // the thread's own
    mutable std::mutex FListLock;
    std::vector<TWaiter> FWaiterList;
    std::atomic<bool> FTerminated{false};
    // Wakes a tree waiting for release: a message on its way or the tree let go.
    std::mutex FWakeLock;
    std::condition_variable FWake;
    bool FSending = false;
    bool FAbandoned = false;
    std::thread FThread;
};
void AddThreadReference();
void ReleaseThreadReference(TBaseLazyTree* tree);
TWorkerThread* WorkerThread();
void SignalWorkEvent();
TLazyTreeStates DecodeChangeStates(uintptr_t bits); // the four bits of WM_CHANGESTATE

} // namespace nuq

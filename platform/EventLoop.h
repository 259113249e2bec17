#pragma once
// The main thread's message loop. Code that lets the loop run (a decode
// between blocks, a wait that must keep the program alive) calls
// ProcessMessages; work for the main thread is queued with PostCall.

#include <functional>

namespace nuq {

// Runs every call that was pending when it started, then returns; never
// blocks. Calls posted meanwhile wait for the next pass, so a handler that
// posts again cannot keep a pass from ending.
void ProcessMessages();

// Queues Call to run on the main thread's next message pass. Safe from any thread.
void PostCall(std::function<void()> call);

} // namespace nuq

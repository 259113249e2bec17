#pragma once
// The developer's trace file, written only when the host was started with
// "/TRACE", and the wait that keeps the message loop running.

#include <string>

namespace nuq {

// True when the host's first parameter, upper-cased, is "/TRACE".
bool TracingOn();

// Appends Text to the trace file of the current hour in the settings' log
// folder: one line per non-empty line of Text, all with the same time stamp.
// Several threads and processes may trace at once; each call's lines stay
// together. A missing log folder or a failed write drops the text silently.
void Trace(const std::string& text);

// Returns after at least Milliseconds on the loop's clock, in steps of 100 ms,
// keeping the message loop running meanwhile: timers and posted calls of the
// same thread may run inside it. Delay(0) still waits one step.
void Delay(int milliseconds);

} // namespace nuq

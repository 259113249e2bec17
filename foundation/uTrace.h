#pragma once
// The developer's trace file, written only when the host was started with
// "/TRACE", and the wait that keeps the message loop running.

#include <functional>
#include <string>
#include <string_view>

namespace nuq {

// True when the host's first parameter, upper-cased, is "/TRACE".
bool TracingOn();

// Appends Text to the trace file of the current hour in the settings' log
// folder: one line per non-empty line of Text, all with the same time stamp;
// other control characters are written escaped. Several threads and processes
// may trace at once; each call's lines stay together. A missing log folder
// drops the text silently. The call never waits long on the file: one that is
// locked by someone else, is not a regular file or cannot be written (a full
// disk) loses the text, and the first failure of a run of them goes to the
// failure handler.
void Trace(const std::string& text);

// The log folder the settings name, created when missing: as given (relative
// names from the current folder), else under the host folder. "" when the
// settings name none or it cannot be made, with Problem saying which folder
// and why.
std::string ForceTraceFolder(std::string* problem = nullptr);
// Traces into Folder from now on without reading the settings for each call;
// "" goes back to reading them.
void SetTraceFolder(const std::string& folder);
// Told of a failed trace write once, until a write succeeds again.
void SetTraceFailureHandler(std::function<void(const std::string& message)> handler);

// Text that stays on one line of a log: control characters as "\r", "\n",
// "\t" or "\xHH".
std::string EscapeControlChars(std::string_view text);

// Returns after at least Milliseconds on the loop's clock, in steps of 100 ms,
// keeping the message loop running meanwhile: timers and posted calls of the
// same thread may run inside it. Delay(0) still waits one step.
void Delay(int milliseconds);

} // namespace nuq

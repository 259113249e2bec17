#pragma once
// The developer's trace file, written only when the host was started with
// "/TRACE", and the wait that keeps the message loop running.

#include <string>

namespace nuq {

// Appends Text, one line per line, to the trace file of the current hour.
void Trace(const std::string& text);

} // namespace nuq

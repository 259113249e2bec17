#pragma once
#include <string>

namespace nuq {

// The host executable's folder, with a trailing "/": the folder named by
// NUQ_HOME when it is set, else the folder of the running program.
std::string HostFolder();

// Overrides the host folder for this process (the command line's --home).
void SetHostFolder(const std::string& folder);

} // namespace nuq

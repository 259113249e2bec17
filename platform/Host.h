#pragma once
#include <string>
#include <vector>

namespace nuq {

// The host executable's folder, with a trailing "/": the folder named by
// NUQ_HOME when it is set, else the folder of the running program.
std::string HostFolder();

// The running program's file name, without its folder ("nuq").
std::string HostExeName();

// Overrides the host folder for this process (the command line's --home).
void SetHostFolder(const std::string& folder);

// The parameters the host program was started with ("/TRACE", "/DEBUG"),
// without the program's own name. The host sets them once at start-up;
// until then there are none.
void SetHostParameters(std::vector<std::string> params);

// The host's parameter of number Index, counted from 1 as the runtime counts
// them; "" when there is no such parameter.
std::string HostParameter(int index);
int HostParameterCount();

} // namespace nuq

#pragma once
#include <string>
#include <string_view>

namespace nuq {

// A folder name with its trailing delimiter: empty stays empty; a name already
// ending in ":", "\" or "/" is kept; a single drive letter gets ":\"; a name
// written the Windows way (holding "\" or ":") gets "\", any other name "/".
std::string NormalDir(std::string_view dir);

} // namespace nuq

#include "foundation/fhFileUtil.h"

namespace nuq {

std::string NormalDir(std::string_view dir) {
    std::string d(dir);
    if (d.empty()) return d;
    char last = d.back();
    if (last == ':' || last == '\\' || last == '/') return d;
    if (d.size() == 1 && ((last >= 'A' && last <= 'Z') || (last >= 'a' && last <= 'z')))
        return d + ":\\";
    // Names written the Windows way keep their delimiter; any other is a POSIX path.
    const bool windows = d.find('\\') != std::string::npos || d.find(':') != std::string::npos;
    return d + (windows ? "\\" : "/");
}

} // namespace nuq

#include "foundation/fhFileUtil.h"

namespace nuq {

std::string NormalDir(std::string_view dir) {
    std::string d(dir);
    if (d.empty()) return d;
    char last = d.back();
    if (last == ':' || last == '\\' || last == '/') return d;
    if (d.size() == 1 && ((last >= 'A' && last <= 'Z') || (last >= 'a' && last <= 'z')))
        return d + ":\\";
    bool posix = d.find('/') != std::string::npos && d.find('\\') == std::string::npos;
    return d + (posix ? "/" : "\\");
}

} // namespace nuq

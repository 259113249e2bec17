#include "platform/Host.h"

#include <climits>
#include <cstdlib>
#include <mutex>
#include <unistd.h>

namespace nuq {

namespace {

std::mutex hostLock;
std::string hostOverride;
std::vector<std::string> hostParams;

std::string WithSlash(std::string s) {
    if (!s.empty() && s.back() != '/') s += '/';
    return s;
}

} // namespace

void SetHostFolder(const std::string& folder) {
    std::lock_guard<std::mutex> guard(hostLock);
    hostOverride = WithSlash(folder);
}

void SetHostParameters(std::vector<std::string> params) {
    std::lock_guard<std::mutex> guard(hostLock);
    hostParams = std::move(params);
}

std::string HostParameter(int index) {
    std::lock_guard<std::mutex> guard(hostLock);
    if (index < 1 || size_t(index) > hostParams.size()) return "";
    return hostParams[size_t(index) - 1];
}

int HostParameterCount() {
    std::lock_guard<std::mutex> guard(hostLock);
    return int(hostParams.size());
}

std::string HostFolder() {
    {
        std::lock_guard<std::mutex> guard(hostLock);
        if (!hostOverride.empty()) return hostOverride;
    }
    if (const char* home = std::getenv("NUQ_HOME"); home && *home) return WithSlash(home);
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "./";
    std::string exe(buf, size_t(n));
    return exe.substr(0, exe.rfind('/') + 1);
}

} // namespace nuq

namespace nuq {

std::string HostExeName() {
    char buf[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "nuq";
    std::string exe(buf, size_t(n));
    return exe.substr(exe.rfind('/') + 1);
}

} // namespace nuq

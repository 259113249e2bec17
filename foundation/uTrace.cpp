#include "foundation/uTrace.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "foundation/uNuqSettings.h"
#include "platform/EventLoop.h"
#include "platform/Host.h"
#include "platform/SyncObjs.h"
#include "platform/SysUtils.h"

namespace nuq {

namespace {

// Serialises the threads of this process; the file lock below does the same
// for other processes tracing into the same folder.
const TMutexHandle& TraceMutex() {
    static const TMutexHandle mutex = OpenNamedMutex("TraceMutex");
    return mutex;
}

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The log folder as the settings name it: as given (relative names from the
// current folder), else under the host folder; "" when neither exists.
std::string TraceFolder() {
    // The record is large; keep it off the stack of whichever thread traces.
    auto settings = std::make_unique<TNuqSettings>();
    LoadSettings(SettingsFileName(), *settings);
    std::string dir = Trim(settings->LogDirectory);
    if (dir.empty()) return "";
    if (!DirectoryExists(dir)) {
        dir = HostFolder() + dir;
        if (!DirectoryExists(dir)) return "";
    }
    if (dir.back() != '/') dir += '/';
    return dir;
}

std::string TraceFileName(const std::string& folder, TDateTime now) {
    TDateTimeParts t = DecodeDateTime(now);
    char name[64];
    std::snprintf(name, sizeof name, "trace_%04d_%02d_%02d-%02d.txt", t.Year, t.Month, t.Day,
                  t.Hour);
    return folder + name;
}

// The call's lines: one per non-empty piece between CR and LF characters.
std::string TraceLines(const std::string& text, TDateTime now) {
    const std::string stamp = DateTimeToStr(now) + ":  ";
    std::string out;
    size_t pos = 0;
    while (pos <= text.size()) {
        size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        if (end > pos) out += stamp + text.substr(pos, end - pos) + "\n";
        pos = end + 1;
    }
    return out;
}

// Appends Bytes under an exclusive lock of the file; failures are dropped.
void AppendLocked(const std::string& path, const std::string& bytes) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    int locked = flock(fd, LOCK_EX);
    while (locked != 0 && errno == EINTR) locked = flock(fd, LOCK_EX);
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += size_t(n);
    }
    if (locked == 0) flock(fd, LOCK_UN);
    close(fd);
}

} // namespace

bool TracingOn() {
    return UpperCase(HostParameter(1)) == "/TRACE";
}

void Trace(const std::string& text) {
    if (!TracingOn()) return;
    TMutexHold hold(TraceMutex());
    std::string folder = TraceFolder();
    if (folder.empty()) return;
    // One reading of the clock names the file and stamps every line, so a
    // call at the turn of the hour cannot split across two files.
    TDateTime now = Now();
    std::string lines = TraceLines(text, now);
    AppendLocked(TraceFileName(folder, now), lines);
}

void Delay(int milliseconds) {
    const uint32_t start = GetTickCount();
    do {
        ProcessMessagesUntil({}, 100);
    } while (int64_t(GetTickCount() - start) < int64_t(milliseconds));
}

} // namespace nuq

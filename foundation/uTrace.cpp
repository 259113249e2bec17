#include "foundation/uTrace.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <mutex>

#include "foundation/uNuqSettings.h"
#include "platform/EventLoop.h"
#include "platform/Host.h"
#include "platform/LogFiles.h"
#include "platform/SyncObjs.h"
#include "platform/SysUtils.h"

namespace nuq {

namespace {

// How long a call waits for another process to release the file, and how long
// once a wait has failed: a file kept locked must not slow every call.
constexpr int LockWaitMs = 200;
constexpr int LockWaitFailingMs = 0;

// Serialises the threads of this process; the file lock does the same for
// other processes tracing into the same folder.
const TMutexHandle& TraceMutex() {
    static const TMutexHandle mutex = OpenNamedMutex("TraceMutex");
    return mutex;
}

// Guarded by the trace mutex.
struct TTraceState {
    std::string FixedFolder; // set by the host; empty: from the settings
    bool Failing = false;
    std::function<void(const std::string&)> OnFailure;
};

TTraceState& State() {
    static TTraceState state;
    return state;
}

std::string WithDelimiter(std::string dir) {
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir;
}

std::string LogDirectorySetting() {
    // The record is large; keep it off the stack of whichever thread traces.
    auto settings = std::make_unique<TNuqSettings>();
    LoadSettings(SettingsFileName(), *settings);
    return Trim(settings->LogDirectory);
}

// The log folder as the settings name it: as given (relative names from the
// current folder), else under the host folder; "" when neither exists.
std::string TraceFolder() {
    if (!State().FixedFolder.empty()) return State().FixedFolder;
    std::string dir = LogDirectorySetting();
    if (dir.empty()) return "";
    if (!DirectoryExists(dir)) {
        dir = HostFolder() + dir;
        if (!DirectoryExists(dir)) return "";
    }
    return WithDelimiter(dir);
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
        if (end > pos)
            out += stamp + EscapeControlChars(std::string_view(text).substr(pos, end - pos)) + "\n";
        pos = end + 1;
    }
    return out;
}

} // namespace

std::string EscapeControlChars(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u != 0x7F) {
            out += c;
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        }
    }
    return out;
}

bool TracingOn() {
    return UpperCase(HostParameter(1)) == "/TRACE";
}

void Trace(const std::string& text) {
    if (!TracingOn()) return;
    std::string failure;
    std::function<void(const std::string&)> report;
    {
        TMutexHold hold(TraceMutex());
        TTraceState& state = State();
        const std::string folder = TraceFolder();
        if (folder.empty()) return;
        // One reading of the clock names the file and stamps every line, so a
        // call at the turn of the hour cannot split across two files.
        const TDateTime now = Now();
        const std::string lines = TraceLines(text, now);
        if (lines.empty()) return;
        const std::string file = TraceFileName(folder, now);
        std::string error;
        if (AppendRecord(file, lines, state.Failing ? LockWaitFailingMs : LockWaitMs, error)) {
            state.Failing = false;
        } else if (!state.Failing) {
            state.Failing = true;
            failure = "Трассировка в " + file + " не записана: " + error;
            report = state.OnFailure;
        }
    }
    // Outside the lock: the handler may trace itself.
    if (report) report(failure);
}

std::string ForceTraceFolder(std::string* problem) {
    TMutexHold hold(TraceMutex());
    std::string dir = LogDirectorySetting();
    if (dir.empty()) {
        if (problem) *problem = "папка журналов в setting.ini не задана (LogDirectory)";
        return "";
    }
    if (DirectoryExists(dir)) return WithDelimiter(dir);
    // A relative folder that is not under the current folder belongs under
    // the host folder, where it is made when missing.
    if (dir[0] != '/') dir = HostFolder() + dir;
    errno = 0;
    if (ForceDirectories(dir)) return WithDelimiter(dir);
    if (problem)
        *problem =
            "папка журналов " + dir + " не создана: " + SystemErrorReason(errno ? errno : EIO);
    return "";
}

void SetTraceFolder(const std::string& folder) {
    TMutexHold hold(TraceMutex());
    State().FixedFolder = WithDelimiter(folder);
}

void SetTraceFailureHandler(std::function<void(const std::string& message)> handler) {
    TMutexHold hold(TraceMutex());
    State().OnFailure = std::move(handler);
    State().Failing = false;
}

void Delay(int milliseconds) {
    const uint32_t start = GetTickCount();
    do {
        ProcessMessagesUntil({}, 100);
    } while (int64_t(GetTickCount() - start) < int64_t(milliseconds));
}

} // namespace nuq

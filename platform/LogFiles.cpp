#include "platform/LogFiles.h"

#include "platform/SysUtils.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace nuq {

namespace {

std::string Reason(const char* what, int err) {
    return std::string(what) + ": " + SystemErrorReason(err);
}

// Takes the file's lock, retrying for up to WaitMs; a peer holding it longer
// costs us the record, not the caller's loop.
bool LockWithin(int fd, int waitMs) {
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(waitMs, 0));
    for (;;) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return false;
        if (std::chrono::steady_clock::now() >= deadline) {
            errno = EWOULDBLOCK;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

} // namespace

bool DirectoryExists(const std::string& path) {
    struct stat st;
    return !path.empty() && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ForceDirectories(const std::string& path) {
    if (path.empty()) return false;
    if (DirectoryExists(path)) return true;
    std::string dir = path;
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    const size_t slash = dir.find_last_of('/');
    if (slash != std::string::npos && slash > 0 && !ForceDirectories(dir.substr(0, slash)))
        return false;
    return mkdir(dir.c_str(), 0755) == 0 || (errno == EEXIST && DirectoryExists(dir));
}

bool AppendRecord(const std::string& path, std::string_view bytes, int lockWaitMs,
                  std::string& error) {
    // Non-blocking open: a FIFO without a reader would otherwise wait for one.
    const int fd =
        open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
    if (fd < 0) {
        error = Reason("не удалось открыть", errno);
        return false;
    }
    struct stat st;
    bool ok = false;
    if (fstat(fd, &st) != 0) {
        error = Reason("не удалось получить сведения о файле", errno);
    } else if (!S_ISREG(st.st_mode)) {
        error = "это не обычный файл";
    } else if (!LockWithin(fd, lockWaitMs)) {
        error = errno == EWOULDBLOCK ? "заблокирован другим процессом"
                                     : Reason("не удалось заблокировать", errno);
    } else {
        // The size under the lock is where this record begins.
        off_t start = fstat(fd, &st) == 0 ? st.st_size : -1;
        size_t done = 0;
        int err = 0;
        while (done < bytes.size()) {
            const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                err = n < 0 ? errno : ENOSPC;
                break;
            }
            done += size_t(n);
        }
        if (done == bytes.size()) {
            ok = true;
        } else {
            if (done > 0 && start >= 0 && ftruncate(fd, start) != 0) err = errno;
            error = Reason("не удалось записать", err);
        }
        flock(fd, LOCK_UN);
    }
    close(fd);
    return ok;
}

} // namespace nuq

#include "app/nuq_output.h"

#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace nuq::app {

TLogOutput::TLogOutput(int fd, size_t maxQueued) : FFd(fd), FMax(maxQueued) {
    FFlags = fcntl(fd, F_GETFL);
    if (FFlags >= 0 && !(FFlags & O_NONBLOCK)) fcntl(fd, F_SETFL, FFlags | O_NONBLOCK);
}

TLogOutput::~TLogOutput() {
    FWritable.Stop();
    RestoreFlags();
}

void TLogOutput::RestoreFlags() {
    // The descriptor is shared with whoever started us (a shell's terminal),
    // and often with our own standard error.
    if (FFlags >= 0 && !(FFlags & O_NONBLOCK)) fcntl(FFd, F_SETFL, FFlags);
}

void TLogOutput::Add(std::string_view line) {
    if (FLost) return;
    if (Queued() + line.size() > FMax) {
        ++FDropped;
        return;
    }
    FQueue.append(line);
}

// True when everything queued went out; false when the output does not take
// more now or is lost.
bool TLogOutput::WriteSome() {
    while (!FLost && Queued() > 0) {
        const ssize_t n = write(FFd, FQueue.data() + FHead, Queued());
        if (n > 0) {
            FHead += size_t(n);
            // The output takes lines again: the gap is said where it is.
            NoteDropped();
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return false;
        const int error = n < 0 ? errno : EIO; // before anything else may change it
        FLost = true;
        FQueue.clear();
        FHead = 0;
        FWritable.Stop();
        if (OnLost) OnLost(error);
        return false;
    }
    FQueue.clear();
    FHead = 0;
    NoteDropped();
    return !FLost && Queued() == 0;
}

void TLogOutput::NoteDropped() {
    if (!FDropped || !DroppedLine) return;
    const uint64_t dropped = FDropped;
    FDropped = 0;
    FQueue.append(DroppedLine(dropped));
}

void TLogOutput::Flush() {
    const bool done = WriteSome();
    if (!done && !FLost) {
        // Written bytes are not kept twice: what is left moves to the front
        // once it is the smaller part.
        if (FHead > FQueue.size() / 2) {
            FQueue.erase(0, FHead);
            FHead = 0;
        }
        if (!FWritable.Active()) FWritable.Watch(FFd, fdWrite, [this](short) { Flush(); });
    } else if (FWritable.Active()) {
        FWritable.Stop();
    }
}

bool TLogOutput::Drain(int waitMs) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(waitMs);
    FWritable.Stop();
    while (!WriteSome() && !FLost) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (waitMs >= 0 && left <= 0) break;
        pollfd p{FFd, POLLOUT, 0};
        poll(&p, 1, waitMs < 0 ? -1 : int(left));
    }
    RestoreFlags();
    return !FLost && Queued() == 0;
}

} // namespace nuq::app

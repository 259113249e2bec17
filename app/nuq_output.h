#pragma once
// The log's way out: standard output written without ever waiting on it. A
// reader that stops taking lines (a paused pager, a slow journal) must not
// stop the polling and the timers: what it does not take queues, within a
// bound, and goes out when it is writable again; lines beyond the bound are
// counted and said when it takes lines again.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/EventLoop.h"

namespace nuq::app {

class TLogOutput {
public:
    // Minutes of the log of several hundred boiler rooms (some 1,000 lines
    // of 60 bytes a second).
    static constexpr size_t DefaultMaxQueued = size_t(8) << 20;

    // Makes Fd non-blocking for the life of the object; its flags are put
    // back when it goes.
    explicit TLogOutput(int fd, size_t maxQueued = DefaultMaxQueued);
    ~TLogOutput();
    TLogOutput(const TLogOutput&) = delete;
    TLogOutput& operator=(const TLogOutput&) = delete;

    // The output failed for good (its reader gone, a full disk): Error is
    // the system's number. Nothing is written after it.
    std::function<void(int error)> OnLost;
    // The whole line, line end included, that says how many were dropped.
    std::function<std::string(uint64_t dropped)> DroppedLine;

    // Queues a whole line, line end included; dropped and counted when the
    // queue is full.
    void Add(std::string_view line);
    // Writes what the output takes now; the rest goes out when it is
    // writable, from the loop. Main thread only.
    void Flush();
    // At the end: writes the rest, waiting at most WaitMs of real time (no
    // limit when below 0) for an output that does not take it, and gives the
    // descriptor its flags back. False when lines were left.
    bool Drain(int waitMs);

    size_t Queued() const { return FQueue.size() - FHead; }
    // The descriptor's flags as they were before, for a signal handler that
    // ends the process without this object's destructor.
    int OriginalFlags() const { return FFlags; }

private:
    bool WriteSome();
    void RestoreFlags();
    void NoteDropped();

    int FFd;
    int FFlags = -1;
    size_t FMax;
    std::string FQueue;
    size_t FHead = 0; // bytes of FQueue already written
    uint64_t FDropped = 0;
    bool FLost = false;
    TFdWatch FWritable;
};

} // namespace nuq::app

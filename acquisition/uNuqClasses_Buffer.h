#pragma once
// Receive buffer of a serial or TCP link, and of a modem's dialogue: the link
// appends raw bytes and the owner cuts framed packets out of it, doing its
// framing inside the change event.

#include <functional>
#include <mutex>
#include <string>
#include <string_view>

namespace nuq {

struct tBufferBlock {
    bool Found = false;
    int StartIndex = -1; // first byte of the start marker
    int EndIndex = -1;   // first byte of the end marker
    std::string Text;    // the bytes strictly between the markers
};

class tBuffer {
public:
    std::function<void(tBuffer&)> OnChange; // fired after every change, outside the lock

    // Appends the bytes; fires OnChange once, also for an empty text.
    void AddString(std::string_view s);
    uint8_t Bytes(int index) const; // 0 outside the buffer
    int Count() const;
    // First occurrence of Pattern starting at or after From; -1 when none
    // (also for an empty pattern).
    int Find(std::string_view pattern, int from = 0) const;
    std::string ExtractBetween(std::string_view startMarker, std::string_view endMarker) const;
    tBufferBlock FindBlock(std::string_view startMarker, std::string_view endMarker) const;
    std::string AsString() const;
    // Removes Count bytes from Index (the range is cut to the stored bytes);
    // fires OnChange unless Silent.
    void Delete(int index, int count, bool silent = false);
    void Clear();

private:
    void Changed();
    void ReleaseSpare();
    static constexpr size_t SpareBytes = 64 * 1024;
    int FindLocked(std::string_view pattern, int from) const;

    // Every access takes the lock: a link's thread may append while the main
    // thread reads. It is recursive, so a change handler may change the buffer.
    mutable std::recursive_mutex Lock;
    std::string Data;
};

} // namespace nuq

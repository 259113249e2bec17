#pragma once
// Little-endian integers and counted wide strings of the column and header
// stream records. A record that ends early, or a count the rest of the stream
// cannot hold, is refused before anything is allocated for it; from a stream
// that cannot tell its size, lengths are read in pieces.

#include <algorithm>
#include <cstdint>
#include <istream>
#include <ostream>
#include <string>

#include "treeview/LazyTrees.h"

namespace nuq::headerstream {

inline void WriteInt(std::ostream& s, int32_t v) {
    uint32_t u = uint32_t(v);
    char b[4] = {char(u & 255), char((u >> 8) & 255), char((u >> 16) & 255), char((u >> 24) & 255)};
    s.write(b, 4);
}

// Bytes left in the stream; unknown (a stream that cannot seek) counts as plenty.
inline uint64_t Remaining(std::istream& s) {
    std::streampos at = s.tellg();
    if (at < 0) return UINT64_MAX;
    s.seekg(0, std::ios::end);
    std::streampos end = s.tellg();
    s.seekg(at);
    return end > at ? uint64_t(end - at) : 0;
}

[[noreturn]] inline void ReadError() {
    throw EColumnStreamError("Ошибка чтения потока: данные кончились раньше записи");
}

inline int32_t ReadInt(std::istream& s) {
    unsigned char b[4];
    if (!s.read(reinterpret_cast<char*>(b), 4)) ReadError();
    return int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                   uint32_t(b[3]) << 24);
}

// Refuses N items of ItemSize bytes each when the rest of the stream cannot hold them.
inline void CheckRoom(std::istream& s, int32_t n, uint64_t itemSize) {
    if (n < 0 || uint64_t(n) * itemSize > Remaining(s))
        throw EColumnStreamError("Ошибка чтения потока: длина " + std::to_string(n) +
                                 " больше оставшихся данных");
}

// A count of items of ItemSize bytes each that must still be in the stream.
inline int32_t ReadCount(std::istream& s, uint64_t itemSize) {
    int32_t n = ReadInt(s);
    CheckRoom(s, n, itemSize);
    return n;
}

// N bytes, taken in pieces: a stream that cannot tell its size may still
// end early, and then only what it held has been allocated.
inline std::string ReadBytes(std::istream& s, size_t n) {
    constexpr size_t Piece = 64 * 1024;
    std::string bytes;
    while (bytes.size() < n) {
        size_t at = bytes.size(), take = std::min(Piece, n - at);
        bytes.resize(at + take);
        if (!s.read(bytes.data() + at, std::streamsize(take))) ReadError();
    }
    return bytes;
}

inline void WriteWide(std::ostream& s, const std::u16string& text) {
    WriteInt(s, int32_t(text.size()));
    for (char16_t c : text) {
        char b[2] = {char(c & 255), char(c >> 8)};
        s.write(b, 2);
    }
}

inline std::u16string ReadWide(std::istream& s) {
    int32_t n = ReadCount(s, 2);
    std::string bytes = ReadBytes(s, size_t(n) * 2);
    std::u16string text(size_t(n), u'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = char16_t(uint8_t(bytes[2 * i]) | uint8_t(bytes[2 * i + 1]) << 8);
    return text;
}

} // namespace nuq::headerstream

// Bytes from a controller on a serial or TCP link, cut into arbitrary pieces
// as the port or the socket hands them over: the object's receive buffer
// frames them into lines. Whatever the chunking, every CR LF gives exactly one
// line, trimmed, without "<" and ">", in UTF-8, and only the bytes after the
// last CR LF stay buffered.

#include "FuzzCheck.h"
#include "acquisition/uNuqClasses.h"
#include "platform/Cp1251.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using namespace nuq;

namespace {

// The expected framing, worked out on the whole byte stream at once.
struct TFraming {
    std::vector<std::string> Lines; // as received, cp1251
    std::string Rest;
};

TFraming Frame(const std::string& bytes) {
    TFraming f;
    size_t start = 0, p;
    while ((p = bytes.find("\r\n", start)) != std::string::npos) {
        size_t b = start, e = p + 2;
        while (b < e && static_cast<unsigned char>(bytes[b]) <= ' ') ++b;
        while (e > b && static_cast<unsigned char>(bytes[e - 1]) <= ' ') --e;
        std::string line;
        for (size_t i = b; i < e; ++i)
            if (bytes[i] != '<' && bytes[i] != '>') line += bytes[i];
        f.Lines.push_back(line);
        start = p + 2;
    }
    f.Rest = bytes.substr(start);
    return f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The first byte seeds the piece sizes; the rest is the stream.
    if (size == 0) return 0;
    uint32_t seed = data[0] * 2654435761u + 1;
    const std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);

    TBoilerRoom room;
    std::vector<std::string> got;
    room.OnData = [&](TBoilerRoom&, const std::string& line) { got.push_back(line); };
    for (size_t at = 0; at <= bytes.size();) {
        seed = seed * 1103515245u + 12345u;
        // Pieces of 0 to 16 bytes; an empty one still fires the change event.
        const size_t n = (seed >> 16) % 17;
        room.RxBuffer.AddString(std::string_view(bytes).substr(at, n));
        if (at == bytes.size()) break;
        at += n;
        if (at > bytes.size()) at = bytes.size();
    }

    const TFraming want = Frame(bytes);
    FUZZ_CHECK(got.size() == want.Lines.size());
    for (size_t i = 0; i < got.size(); ++i) {
        FUZZ_CHECK(IsValidUtf8(got[i]));
        FUZZ_CHECK(got[i] == Cp1251ToUtf8(want.Lines[i]));
    }
    FUZZ_CHECK(room.RxBuffer.AsString() == want.Rest);
    return 0;
}

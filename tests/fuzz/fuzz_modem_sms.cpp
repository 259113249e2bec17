// The modem's answers to reading an SMS ("+CMGR") and to listing them
// ("+CMGL"), as the port delivers them (cp1251 bytes, made UTF-8 on the way
// in): the number, the coding, the message line and its decoded text, and the
// indexes of a listing are what the answer's fields say, and every text read
// is UTF-8. Raw bytes that are not UTF-8 must not break the readers either.

#include "FuzzCheck.h"
#include "acquisition/uNuqClasses_Modem.h"
#include "platform/Cp1251.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace nuq;

namespace {

bool Blank(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string TrimOf(const std::string& s) {
    size_t b = 0, e = s.size();
    while (b < e && Blank(s[b])) ++b;
    while (e > b && Blank(s[e - 1])) --e;
    return s.substr(b, e - b);
}

// The N-th (from 1) run of characters between commas; runs of commas count as one.
std::string Word(const std::string& s, int n) {
    int k = 0;
    for (size_t i = 0; i < s.size();) {
        while (i < s.size() && s[i] == ',') ++i;
        if (i == s.size()) break;
        size_t j = i;
        while (j < s.size() && s[j] != ',') ++j;
        if (++k == n) return s.substr(i, j - i);
        i = j;
    }
    return {};
}

bool IsHex(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// UCS-2 hex to UTF-8, for texts without surrogates; false when one is met.
bool Ucs2(const std::string& hex, std::string& out) {
    out.clear();
    // A group starts at every 4th character before the last one.
    for (size_t i = 0; i + 1 < hex.size(); i += 4) {
        const std::string group = hex.substr(i, 4);
        for (char c : group)
            if (!IsHex(c)) return true; // decoding stops here
        const unsigned u = unsigned(std::stoul(group, nullptr, 16));
        if (u >= 0xD800 && u <= 0xDFFF) return false;
        if (u < 0x80) {
            out += char(u);
        } else if (u < 0x800) {
            out += char(0xC0 | (u >> 6));
            out += char(0x80 | (u & 0x3F));
        } else {
            out += char(0xE0 | (u >> 12));
            out += char(0x80 | ((u >> 6) & 0x3F));
            out += char(0x80 | (u & 0x3F));
        }
    }
    return true;
}

void CheckReading(const std::string& answer) {
    const TSmsReading r = ReadSMSAnswer(answer);
    FUZZ_CHECK(IsValidUtf8(r.Phone) && IsValidUtf8(r.Coding) && IsValidUtf8(r.Line) &&
               IsValidUtf8(r.Text));

    std::string phone;
    for (char c : TrimOf(Word(answer, 2)))
        if (c != '"') phone += c;
    FUZZ_CHECK(r.Phone == phone);

    // Empty fields are given a blank first, so they keep their place.
    std::string spaced;
    for (size_t i = 0; i < answer.size(); ++i) {
        if (answer.compare(i, 2, ",,") == 0) {
            spaced += ", ,";
            ++i;
        } else {
            spaced += answer[i];
        }
    }
    FUZZ_CHECK(r.Coding == TrimOf(Word(spaced, 9)));

    // The second non-empty line, lines ending at CR or LF.
    std::vector<std::string> lines;
    std::string line;
    for (char c : answer + "\n") {
        if (c == '\r' || c == '\n') {
            if (!line.empty()) lines.push_back(line);
            line.clear();
        } else {
            line += c;
        }
    }
    const std::string message = lines.size() >= 2 ? TrimOf(lines[1]) : std::string();
    FUZZ_CHECK(r.Line == message);
    if (r.Coding != "8") {
        FUZZ_CHECK(r.Text == message);
    } else {
        std::string text;
        if (Ucs2(message, text)) FUZZ_CHECK(r.Text == text);
    }
}

void CheckListing(const std::string& listing) {
    // Lines end at CR LF, CR or LF; the line after an entry is its text.
    std::vector<std::string> lines;
    for (size_t i = 0; i < listing.size();) {
        size_t j = i;
        while (j < listing.size() && listing[j] != '\r' && listing[j] != '\n') ++j;
        lines.push_back(listing.substr(i, j - i));
        if (j < listing.size() && listing[j] == '\r') ++j;
        if (j < listing.size() && listing[j] == '\n') ++j;
        i = j;
    }
    std::vector<int> want;
    for (size_t i = 0; i < lines.size(); ++i) {
        const size_t p = lines[i].find("+CMGL:");
        if (p == std::string::npos) continue;
        const std::string index = TrimOf(lines[i].substr(p + 6, lines[i].find(',', p) - p - 6));
        bool digits = !index.empty() && index.size() <= 9;
        for (char c : index) digits = digits && c >= '0' && c <= '9';
        if (digits) want.push_back(std::stoi(index));
        ++i;
    }
    FUZZ_CHECK(SmsListIndexes(listing) == want);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = Cp1251ToUtf8(bytes);
    CheckReading(text);
    CheckListing(text);
    // Bytes as they stand.
    (void)ReadSMSAnswer(bytes);
    (void)SmsListIndexes(bytes);
    return 0;
}

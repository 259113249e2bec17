#include "foundation/fhStrUtils.h"

#include "platform/Cp1251.h"

namespace nuq {

std::string ReplaceStr(std::string_view s, std::string_view search, std::string_view replacement) {
    if (search.empty()) return std::string(s);
    std::string out;
    size_t pos = 0;
    for (;;) {
        size_t hit = s.find(search, pos);
        if (hit == std::string_view::npos) break;
        out.append(s.substr(pos, hit - pos));
        out.append(replacement);
        pos = hit + search.size();
    }
    out.append(s.substr(pos));
    return out;
}

std::string MakeStr(char c, int n) {
    return n < 1 ? std::string() : std::string(size_t(n), c);
}

int NPos(std::string_view sub, std::string_view s, int n) {
    if (sub.empty() || n < 1) return 0;
    size_t from = 0;
    for (int found = 0;;) {
        size_t hit = s.find(sub, from);
        if (hit == std::string_view::npos) return 0;
        if (++found == n) return int(hit) + 1;
        from = hit + 1;
    }
}

std::string AddChar(char c, std::string_view s, int n) {
    int len = int(CharLength(s));
    return len >= n ? std::string(s) : std::string(size_t(n - len), c) + std::string(s);
}

std::string AddCharR(char c, std::string_view s, int n) {
    int len = int(CharLength(s));
    return len >= n ? std::string(s) : std::string(s) + std::string(size_t(n - len), c);
}

int WordCount(std::string_view s, const TCharSet& separators) {
    int count = 0;
    bool inWord = false;
    for (char c : s) {
        if (separators.Contains(c)) {
            inWord = false;
        } else if (!inWord) {
            inWord = true;
            ++count;
        }
    }
    return count;
}

int WordPosition(int n, std::string_view s, const TCharSet& separators) {
    int count = 0;
    bool inWord = false;
    for (size_t i = 0; i < s.size(); ++i) {
        if (separators.Contains(s[i])) {
            inWord = false;
        } else if (!inWord) {
            inWord = true;
            if (++count == n) return int(i) + 1;
        }
    }
    return 0;
}

std::string ExtractWord(int n, std::string_view s, const TCharSet& separators) {
    int pos = WordPosition(n, s, separators);
    if (pos == 0) return {};
    size_t end = size_t(pos - 1);
    while (end < s.size() && !separators.Contains(s[end])) ++end;
    return std::string(s.substr(size_t(pos - 1), end - size_t(pos - 1)));
}

std::string IntToBin(int64_t value, int digits, int spaces) {
    if (digits < 1) return {};
    if (digits > 32) digits = 32;
    std::string out;
    for (int remaining = digits; remaining >= 1; --remaining) {
        if (spaces >= 1 && remaining % spaces == 0) out += ' ';
        out += (value >> (remaining - 1)) & 1 ? '1' : '0';
    }
    return out;
}

std::string XorEncode(std::string_view key, std::string_view s) {
    static const char digits[] = "0123456789abcdef";
    std::string k = Utf8ToCp1251(key), bytes = Utf8ToCp1251(s);
    std::string out;
    out.reserve(bytes.size() * 2);
    for (size_t i = 0; i < bytes.size(); ++i) {
        auto b = static_cast<unsigned char>(bytes[i]);
        if (!k.empty()) b ^= static_cast<unsigned char>(k[i % k.size()]);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string XorDecode(std::string_view key, std::string_view hex) {
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string k = Utf8ToCp1251(key), bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) { // an odd last digit is dropped
        int hi = nibble(hex[i]), lo = nibble(hex[i + 1]);
        unsigned char b = (hi < 0 || lo < 0) ? 32 : static_cast<unsigned char>(hi * 16 + lo);
        size_t index = i / 2;
        if (!k.empty()) b ^= static_cast<unsigned char>(k[index % k.size()]);
        bytes += char(b);
    }
    return Cp1251ToUtf8(bytes);
}

} // namespace nuq

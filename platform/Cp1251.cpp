#include "platform/Cp1251.h"

#include <algorithm>

#include <cstdint>
#include <unordered_map>

namespace nuq {

namespace {

// Unicode code points of the bytes 0x80..0xFF.
const uint16_t kHigh[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039,
    0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408,
    0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB,
    0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417,
    0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423,
    0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F,
    0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B,
    0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447,
    0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

const std::unordered_map<uint32_t, char>& ReverseTable() {
    static const std::unordered_map<uint32_t, char> table = [] {
        std::unordered_map<uint32_t, char> t;
        for (int i = 0; i < 128; ++i)
            if (kHigh[i] != 0xFFFD) t[kHigh[i]] = char(0x80 + i);
        return t;
    }();
    return table;
}

} // namespace

std::string Utf8ToCp1251(std::string_view utf8) {
    std::string out;
    out.reserve(utf8.size());
    const auto& rev = ReverseTable();
    for (size_t i = 0; i < utf8.size();) {
        uint32_t cp;
        size_t len = DecodeUtf8Char(utf8, i, cp);
        if (len == 0) {
            out += utf8[i++];
            continue;
        }
        i += len;
        if (cp < 0x80) {
            out += char(cp);
        } else {
            auto it = rev.find(cp);
            out += it == rev.end() ? '?' : it->second;
        }
    }
    return out;
}

std::string Cp1251ToUtf8(std::string_view cp1251) {
    std::string out;
    out.reserve(cp1251.size() * 2);
    for (char c : cp1251) {
        auto b = static_cast<unsigned char>(c);
        if (b < 0x80)
            out += c;
        else
            AppendUtf8Char(out, kHigh[b - 0x80]);
    }
    return out;
}

bool IsValidUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        uint32_t cp;
        size_t len = DecodeUtf8Char(s, i, cp);
        if (len == 0) return false;
        i += len;
    }
    return true;
}

namespace {

bool HasHighBytes(std::string_view s) {
    return std::any_of(s.begin(), s.end(), [](char c) { return c & 0x80; });
}

// Whether a valid UTF-8 line reads as text of ours: mostly characters code
// page 1251 has too (Russian letters, №, °, «», —). A cp1251 line that is
// valid UTF-8 only by chance reads as letters of other alphabets ("Т°" as
// "Ұ") and does not count as UTF-8.
bool ReadsAsOurText(std::string_view utf8) {
    const auto& rev = ReverseTable();
    size_t ours = 0, others = 0;
    for (size_t i = 0; i < utf8.size();) {
        uint32_t cp;
        const size_t len = DecodeUtf8Char(utf8, i, cp);
        if (len == 0) return false; // not UTF-8 at all
        i += len;
        if (cp >= 0x80) ++(rev.count(cp) ? ours : others);
    }
    return ours > others;
}

// Lines with their line ends, split where every reader of ours splits them:
// at CR LF, LF or a lone CR, so the line numbers said agree.
std::vector<std::string_view> FileLines(std::string_view text) {
    std::vector<std::string_view> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos)
            end = text.size();
        else
            end += text.compare(end, 2, "\r\n") == 0 ? 2 : 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

} // namespace

std::string TextFromFileBytes(std::string_view bytes, std::vector<int>* notUtf8Lines) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    // Valid UTF-8 throughout stays UTF-8, whatever it holds: the files we
    // write ourselves are UTF-8 and must read back as they were written
    // (a caption with a sign cp1251 lacks, a replacement character).
    if (IsValidUtf8(bytes)) return std::string(bytes);
    // Lines, not bytes, are weighed: a whole line of cp1251 words is
    // practically never valid UTF-8 by chance, and one that is reads as
    // nothing we would write.
    const std::vector<std::string_view> lines = FileLines(bytes);
    std::vector<bool> asIs(lines.size(), true); // what a mixed file keeps as UTF-8
    size_t utf8Lines = 0, otherLines = 0;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (!HasHighBytes(lines[i])) continue;
        asIs[i] = IsValidUtf8(lines[i]) && ReadsAsOurText(lines[i]);
        ++(asIs[i] ? utf8Lines : otherLines);
    }
    if (utf8Lines == 0 || utf8Lines < otherLines) return Cp1251ToUtf8(bytes);
    std::string out;
    out.reserve(bytes.size() * 2);
    for (size_t i = 0; i < lines.size(); ++i) {
        if (asIs[i]) {
            out += lines[i];
        } else {
            out += Cp1251ToUtf8(lines[i]);
            if (notUtf8Lines) notUtf8Lines->push_back(int(i + 1));
        }
    }
    return out;
}

size_t CharLength(std::string_view utf8) {
    size_t n = 0;
    for (size_t i = 0; i < utf8.size();) {
        uint32_t cp;
        size_t len = DecodeUtf8Char(utf8, i, cp);
        i += len == 0 ? 1 : len;
        ++n;
    }
    return n;
}

size_t DecodeUtf8Char(std::string_view s, size_t i, uint32_t& cp) {
    auto b = static_cast<unsigned char>(s[i]);
    size_t len;
    if (b < 0x80) {
        cp = b;
        return 1;
    } else if ((b & 0xE0) == 0xC0) {
        cp = b & 0x1F;
        len = 2;
    } else if ((b & 0xF0) == 0xE0) {
        cp = b & 0x0F;
        len = 3;
    } else if ((b & 0xF8) == 0xF0) {
        cp = b & 0x07;
        len = 4;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    for (size_t k = 1; k < len; ++k) {
        auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    static const uint32_t minimum[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

void AppendUtf8Char(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
    std::u16string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        uint32_t cp;
        size_t len = DecodeUtf8Char(utf8, i, cp);
        if (len == 0) {
            cp = 0xFFFD;
            len = 1;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out += char16_t(0xD800 + (cp >> 10));
            out += char16_t(0xDC00 + (cp & 0x3FF));
        } else {
            out += char16_t(cp);
        }
    }
    return out;
}

std::string Utf16ToUtf8(std::u16string_view w) {
    std::string out;
    out.reserve(w.size());
    for (size_t i = 0; i < w.size(); ++i) {
        uint32_t cp = w[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < w.size() && w[i + 1] >= 0xDC00 &&
            w[i + 1] < 0xE000) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (w[i + 1] - 0xDC00u);
            ++i;
        } else if (cp >= 0xD800 && cp < 0xE000) {
            cp = 0xFFFD;
        }
        AppendUtf8Char(out, cp);
    }
    return out;
}

} // namespace nuq

#include "foundation/uNuqUtils.h"

#include "platform/Cp1251.h"
#include "platform/SysUtils.h"

namespace nuq {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The whole of a short group as an unsigned hexadecimal number; false when
// it is empty or holds anything else.
bool ReadHexGroup(std::string_view group, uint32_t& value) {
    if (group.empty()) return false;
    uint32_t v = 0;
    for (char c : group) {
        int d = HexDigit(c);
        if (d < 0) return false;
        v = v * 16 + uint32_t(d);
    }
    value = v;
    return true;
}

void AppendUnitHex(std::string& out, uint16_t unit) {
    out += ByteToHex(uint8_t(unit >> 8));
    out += ByteToHex(uint8_t(unit & 0xFF));
}

} // namespace

uint8_t HexByteToInt(std::string_view s) {
    uint32_t v;
    return ReadHexGroup(s.substr(0, 2), v) ? uint8_t(v) : 0;
}

std::string ByteToHex(uint8_t b) {
    static const char digits[] = "0123456789ABCDEF";
    return {digits[b >> 4], digits[b & 15]};
}

std::string UCS2HexToText(std::string_view hex) {
    std::string out;
    uint32_t pendingHigh = 0; // a high surrogate waiting for its low half
    auto flushLoneHigh = [&] {
        if (pendingHigh) AppendUtf8Char(out, 0xFFFD);
        pendingHigh = 0;
    };
    // A group starts wherever at least two digits remain, so a short last
    // group still counts as one code unit.
    for (size_t i = 0; i + 1 < hex.size(); i += 4) {
        uint32_t unit;
        if (!ReadHexGroup(hex.substr(i, 4), unit)) break;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            flushLoneHigh();
            pendingHigh = unit;
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            if (pendingHigh)
                AppendUtf8Char(out, 0x10000 + ((pendingHigh - 0xD800) << 10) + (unit - 0xDC00));
            else
                AppendUtf8Char(out, 0xFFFD);
            pendingHigh = 0;
        } else {
            flushLoneHigh();
            AppendUtf8Char(out, unit);
        }
    }
    flushLoneHigh();
    return out;
}

std::string TextToUCS2Hex(std::string_view s) {
    std::string out;
    out.reserve(s.size() * 4);
    for (size_t i = 0; i < s.size();) {
        uint32_t cp;
        size_t len = DecodeUtf8Char(s, i, cp);
        if (len == 0) {
            // A byte that is not UTF-8 is a cp1251 character, as everywhere else.
            std::string u = Cp1251ToUtf8(s.substr(i, 1));
            DecodeUtf8Char(u, 0, cp);
            len = 1;
        }
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            AppendUnitHex(out, uint16_t(0xD800 + (cp >> 10)));
            AppendUnitHex(out, uint16_t(0xDC00 + (cp & 0x3FF)));
        } else {
            AppendUnitHex(out, uint16_t(cp));
        }
    }
    return out;
}

std::string HexToText(std::string_view hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        uint32_t b;
        if (!ReadHexGroup(hex.substr(i, 2), b)) break;
        bytes += char(b);
    }
    return Cp1251ToUtf8(bytes);
}

TByteList HexToByteList(std::string_view hex) {
    std::string t = Trim(hex);
    if (t.empty() || t.size() % 2 != 0) return {};
    TByteList list;
    list.reserve(t.size() / 2);
    for (size_t i = 0; i < t.size(); i += 2)
        list.push_back(HexByteToInt(std::string_view(t).substr(i, 2)));
    return list;
}

TByteList StringToByteList(std::string_view s) {
    std::string bytes = Utf8ToCp1251(s);
    return TByteList(bytes.begin(), bytes.end());
}

void ByteListToHex(const TByteList& list, std::string& s) {
    s.reserve(s.size() + list.size() * 2);
    for (uint8_t b : list) s += ByteToHex(b);
}

} // namespace nuq

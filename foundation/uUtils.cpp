#include "foundation/uUtils.h"

#include "foundation/fhFileUtil.h"
#include "platform/Cp1251.h"
#include "platform/Host.h"
#include "platform/Sound.h"
#include "platform/SysUtils.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

namespace nuq {

namespace {
// A packet's float as the decoder shows it: the error value for overflow or
// a failed conversion, and with CheckTiny magnitudes below 1E-7 as 0.
float PacketFloat(float v, bool checkTiny) {
    const float magnitude = std::fabs(v);
    if (std::isnan(v) || magnitude >= float(FloatErrorValue)) return float(FloatErrorValue);
    if (checkTiny && magnitude < 1E-7f) return 0;
    return v;
}
} // namespace

double RoundByFactor(int factor, double value) {
    double whole = std::trunc(value);
    double r = std::round((value - whole) * factor); // std::round: half away from zero
    return whole + r / factor;
}

int BinStrToInt(std::string_view s, bool& error) {
    error = false;
    uint32_t result = 0;
    for (char c : s) {
        result <<= 1;
        if (c == '1')
            result |= 1;
        else if (c != '0')
            error = true;
    }
    return static_cast<int>(result);
}

std::string SecondsToStr(int seconds) {
    const int days = seconds / 86400;
    int rest = seconds % 86400;
    const int hours = rest / 3600;
    rest %= 3600;
    const int minutes = rest / 60;
    const int secs = rest % 60;
    std::string out;
    if (days != 0) out += std::to_string(days) + " дн ";
    if (hours != 0) out += std::to_string(hours) + " ч ";
    if (minutes != 0) out += std::to_string(minutes) + " м ";
    if (secs != 0) out += std::to_string(secs) + " с";
    return out;
}

float HexToSingleValue(std::string_view hex) {
    int64_t raw;
    if (hex.empty() || hex.size() > 8 || !TryStrToInt64(std::string("$").append(hex), raw))
        return 0;
    return SingleFromBits(static_cast<uint32_t>(raw));
}

float SingleFromBits(uint32_t bits) {
    if ((bits & 0x7FFFFFFF) == 0) return 0;
    // The 24-bit mantissa scaled by its exponent is exact in a double; only
    // the narrowing to a single rounds.
    const int e = int((bits >> 23) & 0xFF) - 127;
    const uint32_t mantissa = (bits & 0x7FFFFF) | 0x800000;
    const double magnitude = std::ldexp(double(mantissa), e - 23);
    return static_cast<float>((bits & 0x80000000) ? -magnitude : magnitude);
}

float HexStrToFloat(std::string_view s, bool checkTiny) {
    const std::string upper = UpperCase(s);
    if (upper == "$00000000" || upper == "$80000000") return 0;
    std::string hex;
    for (char c : s)
        if (c != '$') hex += c;
    return PacketFloat(HexToSingleValue(hex), checkTiny);
}

float PacketFloatFromBits(uint32_t bits, bool checkTiny) {
    return PacketFloat(SingleFromBits(bits), checkTiny);
}

int SignMagnitudeByteToInt(uint8_t b) {
    return (b & 0x80) ? -int(b & 0x7F) : int(b & 0x7F);
}

bool IsBitSet(int64_t value, int bit) {
    if (bit < 0 || bit > 63) return false;
    return (static_cast<uint64_t>(value) >> bit) & 1;
}

void AddSystemAction(const std::string& list, const std::string& code, const std::string& name,
                     std::string& result, const std::string& description) {
    result = list + code + '\x01' + name + '\x01' + description + '\x02';
}

bool PlaySoundFile(const std::string& fileName) {
    if (fileName.empty()) return false;
    if (FileExists(fileName)) return PlayWaveAsync(fileName);
    return PlayWaveAsync(NormalDir(HostFolder()) + fileName);
}

TMutexHandle CreateOpenMutex(const std::string& name) {
    try {
        return OpenNamedMutex(name);
    } catch (const std::exception& e) {
        throw Exception(std::string("Error CreateMutex: ") + e.what());
    }
}

namespace {

std::string HexUpper(const unsigned char* data, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(n * 2);
    for (size_t i = 0; i < n; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

} // namespace

std::string MD5Hex(std::string_view s) {
    const std::string bytes = Utf8ToCp1251(s);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!EVP_Digest(bytes.data(), bytes.size(), digest, &len, EVP_md5(), nullptr))
        throw Exception("MD5 digest failed");
    return HexUpper(digest, len);
}

std::string NewGuidText() {
    unsigned char b[16];
    if (RAND_bytes(b, sizeof b) != 1) throw Exception("No random bytes for a new GUID");
    b[6] = static_cast<unsigned char>((b[6] & 0x0F) | 0x40); // version 4
    b[8] = static_cast<unsigned char>((b[8] & 0x3F) | 0x80); // variant 1
    const std::string h = HexUpper(b, sizeof b);
    const std::string g = h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" +
                          h.substr(16, 4) + "-" + h.substr(20, 12);
    return "{" + g + "}";
}

std::string NewUniqueKey() {
    return MD5Hex(NewGuidText());
}

std::string PacketSignature(std::string_view s) {
    static const char key[] = "3f9a0c6e1b7d48e2a5c0f9d7364b2e81";
    const std::string bytes = Utf8ToCp1251(s);
    unsigned char mac[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    if (!HMAC(EVP_sha256(), key, int(std::strlen(key)),
              reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), mac, &len))
        throw Exception("HMAC-SHA256 failed");
    unsigned char out[4 * ((EVP_MAX_MD_SIZE + 2) / 3) + 1];
    const int n = EVP_EncodeBlock(out, mac, int(len));
    return std::string(reinterpret_cast<char*>(out), size_t(n));
}

std::string IntToHexStr(int digits, int value) {
    // A negative Integer shows its 32-bit pattern.
    char buf[32];
    std::snprintf(buf, sizeof buf, "%0*X", digits < 0 ? 0 : (digits > 16 ? 16 : digits),
                  static_cast<unsigned>(value));
    return buf;
}

} // namespace nuq

// Any script and any packet: loading and decoding never crash or read outside
// the packet buffer, and what is decoded is what each block's definition and
// its bytes say: one line per plain block, one per described bit whose
// caption and state text are both set, alarms only where a bit's value is its
// alarm value, texts in UTF-8.

#include "FuzzCheck.h"
#include "acquisition/uNuqClasses.h"
#include "acquisition/uScriptClasses.h"
#include "platform/Cp1251.h"
#include "platform/SysUtils.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace nuq;

namespace {

bool ReadHex(const std::string& s, uint64_t& v) {
    if (s.empty() || s.size() > 16) return false;
    v = 0;
    for (char c : s) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            return false;
        v = v * 16 + uint64_t(d);
    }
    return true;
}

// The no-data code of a measured block: its own, else its type's.
std::string NaNOf(const tBlock& b) {
    if (!b.NaNText.empty()) return b.NaNText;
    switch (b.BlockType) {
    case 5:
        return "FFFFFFFF";
    case 6:
        return "FFFF";
    case 7:
        return static_cast<const tRealBlock&>(b).Dimension > 255 ? "FFFF" : "FF";
    default:
        return "FF";
    }
}

int SignMagnitude(unsigned raw, unsigned signBit) {
    const int magnitude = int(raw & (signBit - 1));
    return (raw & signBit) ? -magnitude : magnitude;
}

bool ValidFlag(const bool& flag) {
    unsigned char byte;
    std::memcpy(&byte, &flag, 1);
    return byte <= 1;
}

// Every block's lines against what its definition and the packet imply.
void CheckBlocks(const TBoilerRoom& room, const std::string& packet) {
    auto at = [&](int64_t index) -> unsigned {
        return size_t(index) < packet.size() ? static_cast<unsigned char>(packet[size_t(index)])
                                             : 0xFFu;
    };
    for (int i = 0; i < room.Blocks.Count(); ++i) {
        const tBlock& b = room.Blocks.Items(i);
        const tDecodeList& list = b.DecodeList;
        FUZZ_CHECK(IsValidUtf8(b.GetUnitSuffix()));
        for (int k = 0; k < list.Count(); ++k) {
            const tDecodeResult r = list.GetItem(k);
            FUZZ_CHECK(IsValidUtf8(r.Caption) && IsValidUtf8(r.Value) && ValidFlag(r.Alarm));
            FUZZ_CHECK(r.Alarm == false || b.BlockType == 3);
        }
        const int64_t first = int64_t(b.ByteNo) - 1;
        const int span = b.BlockType == 5   ? 4
                         : b.BlockType == 6 ? 2
                         : b.BlockType == 7 && static_cast<const tRealBlock&>(b).Dimension > 255
                             ? 2
                             : 1;
        const bool inside = first >= 0 && first + span <= PacketBufferSize;
        if (b.BlockType != 3) {
            FUZZ_CHECK(list.Count() == 1 && list.GetItem(0).Caption == b.Caption);
        }
        if (!inside) continue; // shows its no-data state, whatever that is for its type
        const unsigned raw = at(first);
        uint64_t nan = 0;
        const bool haveNaN = ReadHex(NaNOf(b), nan);
        const std::string value = b.BlockType == 3 ? std::string() : list.GetItem(0).Value;
        switch (b.BlockType) {
        case 1:
            if (haveNaN) FUZZ_CHECK(value == (raw == nan ? "-" : std::to_string(raw)));
            break;
        case 2:
            if (haveNaN)
                FUZZ_CHECK(value == (raw == nan ? "-" : std::to_string(SignMagnitude(raw, 0x80))));
            break;
        case 3: {
            const auto& m = static_cast<const tBitMaskBlock&>(b);
            int k = 0;
            for (int bit = 0; bit < 8; ++bit) {
                const tBitRecord& d = m.Bits[size_t(bit)];
                const int v = (raw >> bit) & 1;
                const std::string& state = v ? d.On1 : d.On0;
                if (d.Caption.empty() || state.empty()) continue;
                FUZZ_CHECK(k < list.Count());
                const tDecodeResult r = list.GetItem(k++);
                FUZZ_CHECK(r.Caption == d.Caption && r.Value == state && r.Alarm == (d.Error == v));
            }
            FUZZ_CHECK(k == list.Count());
            break;
        }
        case 4:
            FUZZ_CHECK(value ==
                       static_cast<const tParameterBlock&>(b).Parameters.GetText(int(raw)));
            break;
        case 5: {
            // The no-data code stands for the raw 32 bits, first byte most significant.
            const uint64_t raw32 =
                uint64_t(raw) << 24 | at(first + 1) << 16 | at(first + 2) << 8 | at(first + 3);
            float f;
            const uint32_t bits = uint32_t(raw32);
            std::memcpy(&f, &bits, sizeof f);
            // No data: the code, a reading that is no number, or one past the
            // conversion's error value. Readings below 1E-7 show as 0.
            if ((haveNaN && raw32 == nan) || std::isnan(f) || std::fabs(f) >= 999999995904.0f)
                FUZZ_CHECK(value == "-");
            else
                FUZZ_CHECK(value == SingleToStr(std::fabs(f) < 1E-7f ? 0.0f : f));
            break;
        }
        case 6: {
            const unsigned raw16 = raw * 256 + at(first + 1);
            if (haveNaN && raw16 == nan)
                FUZZ_CHECK(value == "-");
            else if (haveNaN)
                FUZZ_CHECK(value == std::to_string(SignMagnitude(raw16, 0x8000)));
            break;
        }
        case 7: {
            const auto& r = static_cast<const tRealBlock&>(b);
            const unsigned reading = r.Dimension > 255 ? raw * 256 + at(first + 1) : raw;
            if (r.Dimension == 0 || int64_t(reading) > int64_t(r.Dimension) ||
                (haveNaN && reading == nan)) {
                FUZZ_CHECK(value == "-");
                break;
            }
            // Scaled between the limits, then rounded half away from zero to
            // four decimals.
            const double v = r.BottomLimit + reading * ((r.TopLimit - r.BottomLimit) / r.Dimension);
            const double whole = std::trunc(v);
            const double scaled = whole + std::round((v - whole) * 10000) / 10000;
            if (!std::isfinite(scaled) || std::fabs(scaled) >= 999999995904.0)
                FUZZ_CHECK(value == "-");
            else
                FUZZ_CHECK(value == FloatToStr(scaled));
            break;
        }
        default:
            break;
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The input is a script, a NUL byte, then the packet bytes. The script
    // is text, read as a script file is.
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t cut = input.find('\0');
    const std::string script = TextFromFileBytes(input.substr(0, cut));
    std::string packet = cut == std::string::npos ? std::string() : input.substr(cut + 1);

    TBoilerRoom room;
    bool loaded = true;
    try {
        room.LoadScript(script);
    } catch (const Exception&) {
        // Rejected scripts are fine; blocks loaded before the error still decode.
        loaded = false;
    }
    if (loaded) {
        // One block per described byte of a known type, in script order.
        tScriptAnalyser analyser;
        analyser.Analyse(script);
        int n = 0;
        for (int i = 0; i < analyser.Sections.Count(); ++i) {
            const tScriptSection& s = analyser.Sections.Items(i);
            const int type = s.GetType();
            if (type < 1 || type > 7) continue;
            FUZZ_CHECK(n < room.Blocks.Count());
            const tBlock& b = room.Blocks.Items(n++);
            FUZZ_CHECK(b.BlockType == type && b.ByteNo == s.GetByteNumber());
        }
        FUZZ_CHECK(n == room.Blocks.Count());
    }

    room.DecodePacket(packet);
    if (packet.size() > size_t(PacketBufferSize)) packet.resize(PacketBufferSize);
    CheckBlocks(room, packet);
    room.ClearValues();
    for (int i = 0; i < room.Blocks.Count(); ++i)
        for (int k = 0; k < room.Blocks.Items(i).DecodeList.Count(); ++k)
            FUZZ_CHECK(IsValidUtf8(room.Blocks.Items(i).DecodeList.GetItem(k).Value));
    // Stopped: every byte reads $FF.
    room.DecodePacketBuffer();
    CheckBlocks(room, std::string());
    FUZZ_CHECK(room.PacketLength == -1);
    room.AlarmCode = packet.empty() ? 0 : static_cast<unsigned char>(packet[0]);
    FUZZ_CHECK(IsValidUtf8(room.GetAlarmText()));
    return 0;
}

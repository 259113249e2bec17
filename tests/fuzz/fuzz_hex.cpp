// Hex and UCS-2 hex texts as modems and DDE items give them.

#include "foundation/uNuqUtils.h"
#include "platform/Cp1251.h"
#include "platform/SysUtils.h"

#include <cstdint>
#include <cstdlib>
#include <string>

using namespace nuq;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

bool AllHex(const std::string& s) {
    for (char c : s)
        if (!((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'))) return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string in(reinterpret_cast<const char*>(data), size);

    (void)HexByteToInt(in);
    (void)HexToText(in);
    std::string text = UCS2HexToText(in);
    Check(IsValidUtf8(text));

    TByteList list = HexToByteList(in);
    if (!list.empty()) Check(list.size() * 2 == Trim(in).size());
    std::string hex = "X";
    ByteListToHex(list, hex);
    Check(hex.size() == 1 + list.size() * 2 && AllHex(hex.substr(1)));

    std::string ucs = TextToUCS2Hex(in);
    Check(ucs.size() % 4 == 0 && AllHex(ucs));
    if (IsValidUtf8(in)) Check(UCS2HexToText(ucs) == in);

    std::string bytesHex;
    ByteListToHex(StringToByteList(in), bytesHex);
    Check(HexToText(bytesHex) == Cp1251ToUtf8(Utf8ToCp1251(in)));
    return 0;
}

// Any script and any packet: loading and decoding must never crash or read
// outside the packet buffer.

#include "acquisition/uNuqClasses.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The input is a script, a NUL byte, then the packet bytes.
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t cut = input.find('\0');
    const std::string script = input.substr(0, cut);
    const std::string packet = cut == std::string::npos ? std::string() : input.substr(cut + 1);

    nuq::TBoilerRoom room;
    try {
        room.LoadScript(script);
    } catch (const nuq::Exception&) {
        // Rejected scripts are fine; blocks loaded before the error still decode.
    }
    room.DecodePacket(packet);
    for (int i = 0; i < room.Blocks.Count(); ++i) {
        const nuq::tBlock& b = room.Blocks.Items(i);
        for (int k = 0; k < b.DecodeList.Count(); ++k) (void)b.DecodeList.GetItem(k);
        (void)b.GetUnitSuffix();
    }
    room.ClearValues();
    room.DecodePacketBuffer();
    room.AlarmCode = packet.empty() ? 0 : static_cast<unsigned char>(packet[0]);
    (void)room.GetAlarmText();
    return 0;
}

// The DDE item map as read from an object's record: any text must load, save
// back to a text that loads to the same save, and build either a packet of
// one state byte plus every variable's bytes or a clear refusal.

#include "acquisition/uListText.h"
#include "acquisition/uOPCMap.h"
#include "platform/Cp1251.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

using namespace nuq;

namespace {

void Check(bool ok) {
    if (!ok) std::abort();
}

std::string SaveOf(const std::string& text) {
    TOPCMap m;
    m.LoadFromString(text);
    return m.SaveToString();
}

void Try(const std::string& text, const uint8_t* data, size_t size) {
    const std::string s1 = SaveOf(text);
    const std::string s2 = SaveOf(s1);
    Check(s1 == s2);

    TOPCMap m;
    m.LoadFromString(text);
    // Values from the input bytes, as a read cycle would store them.
    size_t at = 0;
    auto next = [&](auto& v) {
        if (at + sizeof v <= size) std::memcpy(&v, data + at, sizeof v);
        at += sizeof v;
    };
    for (int i = 0; i < m.States.Count(); ++i) next(m.States.GetItem(i)->Value);
    size_t bytes = 1;
    bool sound = m.States.Count() <= MaxOPCMapStates;
    for (int i = 0; i < m.Vars.Count(); ++i) {
        TOPCMapVar* v = m.Vars.GetItem(i);
        next(v->Value);
        bytes += v->Size;
        (void)m.FindVarByPosition(v->Position);
        Check(v->CoversPosition(v->Position) == (v->Size > 0));
        if (v->Size != 1 && v->Size != 2 && v->Size != 4) sound = false;
    }
    try {
        TByteList packet = m.BuildPacket();
        Check(packet.size() == bytes);
        Check((packet[0] & 0x0F) == 0);
        // A packet that was built has its variables in position order.
        for (int i = 0; i < m.Vars.Count() - 1; ++i)
            Check(m.Vars.GetItem(i)->Position <= m.Vars.GetItem(i + 1)->Position);
    } catch (const EOPCMapError&) {
        // Only a map that cannot give a sound packet, or a value with no integer form.
        if (sound)
            for (int i = 0; i < m.Vars.Count(); ++i) {
                float f = m.Vars.GetItem(i)->Value;
                if (m.Vars.GetItem(i)->Size != 4 && !(f - f == 0)) sound = false;
            }
        Check(!sound);
    }
    m.SetSize(int(size % 300));
    for (int i = 0; i < m.Vars.Count(); ++i) Check(m.Vars.GetItem(i)->LastByte() <= m.Size);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string raw(reinterpret_cast<const char*>(data), size);
    Try(raw, data, size);
    // The decoded text itself, so the section and field readers are reached.
    Try(EncodeListText(Cp1251ToUtf8(raw)), data, size);
    return 0;
}

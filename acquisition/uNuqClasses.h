#pragma once
// One remote boiler room as the system talks to it. This holds its packet
// buffer, its script blocks and its alarm-code texts, and decodes received
// packets into display lines.

#include <cstdint>
#include <string>
#include <string_view>

#include "acquisition/uScriptClasses_Blocks.h"
#include "platform/SyncObjs.h"
#include "platform/SysUtils.h"

namespace nuq {

// A script that did not pass its check cannot be loaded.
class EScriptError : public Exception {
public:
    using Exception::Exception;
};

class TBoilerRoom {
public:
    TBoilerRoom();
    ~TBoilerRoom();
    TBoilerRoom(const TBoilerRoom&) = delete;
    TBoilerRoom& operator=(const TBoilerRoom&) = delete;

    std::string Name;
    int AlarmCode = 0;  // alarm code of the last packet; 0 = no alarm

    PacketBuffer Packet;
    int PacketLength = -1;  // -1 = no packet

    tBlocks Blocks;
    tCrashList CrashList;

    // Builds the blocks and the alarm table from a script, appending to what
    // is there. A script that fails its check while describing bytes raises
    // EScriptError and adds nothing; a missing scale of a scaled byte raises
    // EConvertError after the blocks before it were added.
    void LoadScript(const std::string& script);

    // Lays a packet into the packet buffer and decodes every block. A packet
    // longer than the buffer is cut to it. The message loop runs once per block.
    void DecodePacket(const PacketBuffer& buffer, int length);
    void DecodePacket(std::string_view bytes);
    // Every block decodes the value 0.
    void ClearValues();
    // Every block goes to its no-data state; PacketLength becomes -1.
    void DecodePacketBuffer();

    bool HasAlarm() const { return AlarmCode != 0; }
    std::string GetAlarmText() const { return CrashList.GetText(AlarmCode); }

private:
    void DecodeBlocks();

    TMutexHandle SIPMutex;
    TMutexHandle OPCRMMutex;
    // Counts decodes, so a pass interrupted by a newer decode of the same
    // object (run from a message handled between blocks) stops instead of
    // mixing two packets.
    uint64_t DecodeGeneration = 0;
};

} // namespace nuq

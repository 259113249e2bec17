// The modem's socket services: accepting controllers' connections, reading
// and reassembling their packets, identification and sending text.
//
// Accepting, reading, reassembly, identification and sending are not built
// yet; until they are, their operations below say so in the trace and report
// failure, so the engine takes its failure paths instead of believing work
// was done.

#include "acquisition/uNuqClasses_Modem.h"

#include <algorithm>

#include "acquisition/uNuqClasses_ModemUtil.h"
#include "foundation/uTrace.h"

namespace nuq {

using namespace modem;

void TGPRSModem::NotBuilt(const char* routine) const {
    Trace(std::string("TGPRSModem.") + routine + ": not available in this build");
}

bool TGPRSModem::ProcessIncomingConnect(int socket) {
    (void)socket;
    NotBuilt("ProcessIncomingConnect");
    return false;
}

bool TGPRSModem::ReadAll() {
    NotBuilt("ReadAll");
    return false;
}

bool TGPRSModem::ReadDataFromSocket(int socket) {
    (void)socket;
    NotBuilt("ReadDataFromSocket");
    return false;
}

void TGPRSModem::ProcessIncomingPacket(int socket, const std::string& data) {
    (void)socket;
    (void)data;
    NotBuilt("ProcessIncomingPacket");
}

void TGPRSModem::QueueWhoIs(int socket) {
    (void)socket;
    NotBuilt("QueueWhoIs");
}

void TGPRSModem::WhoIsTimerTick() {
    FWhoIsTimer->SetEnabled(false);
    NotBuilt("WhoIsTimerTick");
}

void TGPRSModem::ReadTimerTick() {
    if (IsDestroying() || IsNotRunning() || Sending) return;
    AddTask(ttReadData, "");
}

bool TGPRSModem::DoSendText(int socket, const std::string& text) {
    (void)socket;
    (void)text;
    NotBuilt("DoSendText");
    return false;
}

void TGPRSModem::SendText(TBoilerRoom& boilerRoom, const std::string& text) {
    (void)boilerRoom;
    (void)text;
    NotBuilt("SendText");
}

void TGPRSModem::SendTaskText(TAttachedBoilerRoom& a, const std::string& text) {
    (void)a;
    (void)text;
    NotBuilt("SendTaskText");
}

void TGPRSModem::ReconnectSocket(int socket) {
    (void)socket;
    NotBuilt("ReconnectSocket");
}

void TGPRSModem::CloseSocket(int socket) {
    const std::string n = std::to_string(socket);
    if (SendCommand("AT^SISC=" + n + CRLF)) WaitAnswer("OK", 2000);
    if (SendCommand("AT^SISS=" + n + ",srvtype,none" + CRLF)) WaitAnswer("OK", 2000);
    auto it = std::find(Sockets.begin(), Sockets.end(), socket);
    if (it != Sockets.end()) Sockets.erase(it);
}

} // namespace nuq

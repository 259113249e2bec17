// The modem's receive text as a controller's socket and the modem's answers
// bring it: read answers cut out of the stream, their data reassembled per
// socket across reads, identification lines and data packets handed to the
// attached objects. No crash, no hang, no busy flag left set, and a socket's
// buffer never holds a complete packet after a cut.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "acquisition/uNuqClasses_Modem.h"
#include "platform/EventLoop.h"

using namespace nuq;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool once = [] {
        SetMainThread();
        return true;
    }();
    (void)once;
    const std::string text(reinterpret_cast<const char*>(data), size);

    // Reassembly alone, fed in pieces: what stays is at most one unfinished packet.
    {
        std::string buf;
        for (size_t i = 0; i < text.size(); i += 7) {
            buf += text.substr(i, 7);
            for (const std::string& p : CutPackets(buf)) {
                if (p.empty() || p.find('<') != std::string::npos ||
                    p.find('>') != std::string::npos)
                    std::abort();
                (void)IdentOf(p);
            }
            if (!buf.empty() && (buf[0] != '<' || buf.find('>') != std::string::npos)) std::abort();
        }
    }
    (void)ConfigText(text, text, int(size), text, "", "", true, true);
    (void)SmsPieces(text.substr(0, 2000));

    TModemData d;
    d.PortNumber = 251;
    TGPRSModem modem(d);
    modem.Online = true;
    TBoilerRoom room, other;
    room.Name = "fuzz";
    other.Name = "other";
    int delivered = 0;
    room.OnData = [&](TBoilerRoom&, const std::string&) { ++delivered; };
    modem.Attached.Add(&modem, &room, "+79001112233", "77");
    modem.Attached.Add(&modem, &other, "+79001112244", "78");
    modem.Attached.Items(0).Channel = 2;
    modem.Sockets = {1, 2, 3};

    // The raw text as the data of a read answer on two sockets, then through
    // the whole receive path in three pieces.
    modem.ProcessIncomingPacket(2, text);
    modem.ProcessIncomingPacket(3, text);
    const std::string answer =
        "\r\n^SISR: 2," + std::to_string(size) + "\r\n" + text + "\r\nOK\r\n";
    const size_t third = answer.size() / 3;
    modem.ReceiveText(answer.substr(0, third));
    modem.ReceiveText(answer.substr(third, third));
    modem.ReceiveText(answer.substr(2 * third));
    modem.ReceiveText(text);
    modem.ProcessIncomingData();
    modem.ExecuteTasks();
    if (modem.ProcessingSignals || modem.ExecutingTasks || modem.Extracting || modem.ReadingAll ||
        modem.Sending)
        std::abort();
    for (int s : {1, 2, 3}) {
        const std::string left = modem.SocketBuffer(s);
        if (!left.empty() && (left[0] != '<' || left.find('>') != std::string::npos)) std::abort();
    }
    return 0;
}

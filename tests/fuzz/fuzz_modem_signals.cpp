// The modem's receive path fed arbitrary modem text: signals are cut out,
// queued and handled (with no port, so nothing is sent), and the queued tasks run.

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

    // The cutter alone: a cut never adds bytes and always takes the start marker.
    {
        tBuffer rx;
        rx.AddString(text);
        std::string entry;
        const int before = rx.Count();
        while (CutSignal(rx, "^SISR:", "\r\nOK\r\n", entry))
            if (rx.Count() >= before) std::abort();
    }

    TModemData d;
    d.PortNumber = 250;
    TGPRSModem modem(d);
    TBoilerRoom room;
    room.Name = "fuzz";
    modem.Attached.Add(&modem, &room, "+79001112233", "77");
    modem.Attached.Items(0).Channel = 4;
    modem.OnBalance = [](int, const std::string&) {};
    modem.OnSMSReceived = [](const std::string&, const std::string&) {};
    // In two pieces, as a port delivers it.
    const size_t half = size / 2;
    modem.ReceiveText(text.substr(0, half));
    modem.ReceiveText(text.substr(half));
    modem.ProcessIncomingData();
    modem.ExecuteTasks();
    if (modem.ProcessingSignals || modem.ExecutingTasks || modem.Extracting) std::abort();
    return 0;
}

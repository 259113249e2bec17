// The boiler-room object's links: framing of received lines and sending text.

#include "acquisition/uNuqClasses.h"

#include "foundation/uTrace.h"
#include "platform/Cp1251.h"

namespace nuq {

namespace {

// A trace line of link traffic: short texts whole, longer ones as their
// first five characters, "..." and the last one.
std::string TrafficTrace(const char* direction, const std::string& text) {
    if (text.size() < 6) return direction + text;
    return direction + text.substr(0, 5) + "..." + text.substr(text.size() - 1);
}

std::string WithoutBrackets(const std::string& line) {
    std::string out;
    out.reserve(line.size());
    for (char c : line)
        if (c != '<' && c != '>') out += c;
    return out;
}

} // namespace

void TBoilerRoom::RxBufferChange() {
    try {
        for (;;) {
            const int p = RxBuffer.Find("\r\n");
            if (p < 0) return;
            // The controller's text is cp1251 on the wire.
            const std::string line =
                Cp1251ToUtf8(WithoutBrackets(Trim(RxBuffer.AsString().substr(0, size_t(p) + 2))));
            RxBuffer.Delete(0, p + 2, true);
            Trace(TrafficTrace("<<<", line));
            if (OnData) OnData(*this, line);
        }
    } catch (const std::exception& e) {
        // One bad pass must not take the link down; the bytes after it wait
        // for the next change.
        Trace(std::string("<<< framing error: ") + e.what());
    }
}

void TBoilerRoom::SendText(const std::string& text, bool framed) {
    if (State != bsConnected) return;
    const std::string line = framed ? "<" + text + ">" : text;
    Trace(TrafficTrace(">>>", line));
    bool sent = true;
    try {
        SendOnLink(Utf8ToCp1251(line) + "\r\n");
    } catch (const std::exception&) {
        sent = false;
    }
    if (OnDataSent) OnDataSent(*this, line, sent);
}

void TBoilerRoom::SendOnLink(const std::string&) {
    switch (LinkKind) {
    default: break;  // a DDE link sends nothing; the modem manager carries GPRS lines
    }
}

void TBoilerRoom::StartLink() {}

void TBoilerRoom::StopLink() {}

void TBoilerRoom::PauseLink() {}

void TBoilerRoom::EnableLinkTimer(bool) {}

void TBoilerRoom::RestartLinkTimer() {}

void TBoilerRoom::ReleaseLinks() {}

} // namespace nuq

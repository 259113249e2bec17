// The modem's SMS, USSD balance and calls.
//
// Reading and clearing stored SMS and hanging up are built; sending SMS,
// the balance request, dialling and the configuration exchange are not yet:
// until they are, their operations below say so in the trace and report
// failure, so the call cycle takes its failure paths.

#include "acquisition/uNuqClasses_Modem.h"

#include "acquisition/uNuqClasses_ModemUtil.h"
#include "foundation/fhStrUtils.h"
#include "foundation/uNuqUtils.h"
#include "foundation/uTrace.h"
#include "platform/SysUtils.h"

namespace nuq {

using namespace modem;

void TGPRSModem::NotBuilt(const char* routine) const {
    Trace(std::string("TGPRSModem.") + routine + ": not available in this build");
}

bool TGPRSModem::SendSMS(const std::string& phone, const std::string& text) {
    (void)phone;
    (void)text;
    NotBuilt("SendSMS");
    return false;
}

void TGPRSModem::ReadSMS(const std::string& index, std::string& phone, std::string& text) {
    phone.clear();
    text.clear();
    if (!(SendCommand("at+cmgr=" + Trim(index) + CRLF) && WaitAnswer("+CMGR:", 2000) &&
          WaitAnswer("OK", 2000)))
        return;
    const std::string s = RxBuffer.AsString();
    Report("Текст СМС: " + s, true);
    phone = WithoutQuotes(Trim(ExtractWord(2, s, TCharSet{','})));
    Report(" - Телефон: " + phone, true);
    // Empty fields must keep their place among the counted ones.
    const std::string coding = Trim(ExtractWord(9, ReplaceStr(s, ",,", ", ,"), TCharSet{','}));
    Report(" - Кодировка: " + coding, true);
    std::vector<std::string> lines;
    for (const std::string& l : SplitFields(s, "\r\n"))
        if (!l.empty()) lines.push_back(l);
    text = lines.size() >= 2 ? Trim(lines[1]) : "";
    Report(" - Текст: " + text, true);
    if (coding == "8") {
        text = UCS2HexToText(text);
        Report(" - Текст обработанный: " + text, true);
    }
}

void TGPRSModem::ClearSMS() {
    Trace("TGPRSModem.ClearSMS start");
    if (SendCommand("at+cmgl=\"all\"" + CRLF) && WaitAnswer("OK", 5000)) {
        const std::vector<std::string> lines = SplitLines(RxBuffer.AsString());
        for (size_t i = 0; i < lines.size(); ++i) {
            const size_t p = lines[i].find("+CMGL:");
            if (p == std::string::npos) continue;
            const std::string rest = lines[i].substr(p + 6);
            int n = 0;
            // Only a number goes back into a command.
            if (DecimalField(rest.substr(0, rest.find(',')), n)) {
                if (SendCommand("at+cmgd=" + std::to_string(n) + CRLF)) WaitAnswer("OK", 2000);
            }
            ++i; // the message text
        }
    }
    Trace("TGPRSModem.ClearSMS exit");
}

void TGPRSModem::RequestBalance() {
    NotBuilt("RequestBalance");
}

TCallResult TGPRSModem::Call(const std::string& number) {
    (void)number;
    NotBuilt("Call");
    return clrUnknown;
}

void TGPRSModem::CallToBoilerRoom(TAttachedBoilerRoom& a) {
    (void)a;
    NotBuilt("CallToBoilerRoom");
}

void TGPRSModem::CSDIdent(TAttachedBoilerRoom& a) {
    (void)a;
    NotBuilt("CSDIdent");
}

bool TGPRSModem::CSDExchange(TAttachedBoilerRoom& a) {
    (void)a;
    NotBuilt("CSDExchange");
    return false;
}

void TGPRSModem::HangUp() {
    // Bounded: a modem that never answers must not hold the engine here.
    for (int round = 0; round < HangUpTryMax; ++round) {
        if (IsDestroying() || IsNotRunning()) return;
        Delay(1500);
        if (SendCommand("+++")) WaitAnswer("OK", 2000);
        Delay(1000);
        if (SendCommand("ATH" + CRLF) && WaitAnyAnswer({"OK", "NO CARRIER"}, 3000) >= 0) return;
    }
    Trace("TGPRSModem.HangUp: no answer after " + std::to_string(HangUpTryMax) + " tries");
}

void TGPRSModem::SendConfigurationToBoilerRoom(TAttachedBoilerRoom& a) {
    (void)a;
    NotBuilt("SendConfigurationToBoilerRoom");
}

std::string TGPRSModem::BuildConfigText(TAttachedBoilerRoom& a, bool withAddress, bool withAccess) {
    (void)a;
    (void)withAddress;
    (void)withAccess;
    NotBuilt("BuildConfigText");
    return "";
}

} // namespace nuq

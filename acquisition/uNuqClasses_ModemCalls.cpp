// The modem's SMS, USSD balance and calls: configuration texts sent to a
// controller by SMS or inside a data call, and the rings that make it connect.

#include "acquisition/uNuqClasses_Modem.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "acquisition/uNuqClasses_ModemUtil.h"
#include "foundation/fhStrUtils.h"
#include "foundation/uNuqUtils.h"
#include "foundation/uTrace.h"
#include "foundation/uUtils.h"
#include "platform/Cp1251.h"
#include "platform/SysUtils.h"

namespace nuq {

using namespace modem;

namespace {

std::string Quoted(const TAttachedBoilerRoom& a) {
    return "\"" + a.BoilerRoom->Name + "\"";
}

std::string Hex2(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02X", v & 0xFF);
    return buf;
}

// A number as it may stand between the quotes of a command.
std::string PhoneOf(const std::string& phone) {
    std::string r;
    for (char c : Trim(phone))
        if (c != '"' && c != '\r' && c != '\n') r += c;
    return r;
}

} // namespace

std::string SmsPartText(int reference, int count, int part, const std::string& piece) {
    return "050003" + Hex2(reference) + Hex2(count) + Hex2(part) + piece;
}

std::vector<std::string> SmsPieces(const std::string& text) {
    const std::string hex = TextToUCS2Hex(text);
    std::vector<std::string> pieces;
    for (size_t i = 0; i < hex.size(); i += SmsPieceDigits)
        pieces.push_back(hex.substr(i, SmsPieceDigits));
    // An empty text is still one message, not a success with nothing sent.
    if (pieces.empty()) pieces.emplace_back();
    return pieces;
}

std::string ConfigText(const std::string& ident, const std::string& ip, int port,
                       const std::string& apn, const std::string& login,
                       const std::string& password, bool withAddress, bool withAccess) {
    std::string t;
    if (withAddress) t += " ID:" + ident + " IP:" + ip + ":" + std::to_string(port);
    if (withAccess) t += " AP:" + apn + " LG:" + login + " PW:" + password;
    t = Trim(t);
    // The controller counts the whole text, in its own code page.
    char length[16];
    std::snprintf(length, sizeof length, "%03d", int(Utf8ToCp1251(t).size()) + 6);
    return "N:" + std::string(length) + " " + t;
}

TSmsReading ReadSMSAnswer(const std::string& answer) {
    TSmsReading r;
    r.Phone = WithoutQuotes(Trim(ExtractWord(2, answer, TCharSet{','})));
    // Empty fields must keep their place among the counted ones.
    r.Coding = Trim(ExtractWord(9, ReplaceStr(answer, ",,", ", ,"), TCharSet{','}));
    std::vector<std::string> lines;
    for (const std::string& l : SplitFields(answer, "\r\n"))
        if (!l.empty()) lines.push_back(l);
    r.Line = lines.size() >= 2 ? Trim(lines[1]) : "";
    r.Text = r.Coding == "8" ? UCS2HexToText(r.Line) : r.Line;
    return r;
}

std::vector<int> SmsListIndexes(const std::string& listing) {
    std::vector<int> indexes;
    const std::vector<std::string> lines = SplitLines(listing);
    for (size_t i = 0; i < lines.size(); ++i) {
        const size_t p = lines[i].find("+CMGL:");
        if (p == std::string::npos) continue;
        const std::string rest = lines[i].substr(p + 6);
        int n = 0;
        // Only a number goes back into a command.
        if (DecimalField(rest.substr(0, rest.find(',')), n)) indexes.push_back(n);
        ++i; // the message text
    }
    return indexes;
}

// ---- SMS

bool TGPRSModem::SendSMS(const std::string& phone, const std::string& text) {
    if (IsDestroying() || IsNotRunning()) return false;
    const std::string id = NewGuidText();
    Trace("SendSMS " + id + " start");
    Trace("SendSMS " + id + ": SMS-массив = " + TextToUCS2Hex(text));
    const std::vector<std::string> pieces = SmsPieces(text);
    // Part numbers are one byte each.
    if (pieces.size() > 255) {
        Trace("SendSMS " + id + ": слишком длинный текст, " + std::to_string(pieces.size()) +
              " частей");
        return false;
    }
    static std::mt19937 random{std::random_device{}()};
    const int reference = std::uniform_int_distribution<int>(1, 254)(random);
    for (size_t i = 0; i < pieces.size(); ++i)
        if (!SendSMSPart(phone, reference, int(i) + 1, int(pieces.size()), pieces[i], id))
            return false;
    Trace("SendSMS " + id + " exit");
    return true;
}

bool TGPRSModem::SendSMSPart(const std::string& phone, int reference, int part, int count,
                             const std::string& piece, const std::string& id) {
    const std::string pdu = SmsPartText(reference, count, part, piece);
    Trace("SendSMS " + id + ": Отправка части SMS: " + pdu);
    if (!SendCommand("at+cmgs=\"" + PhoneOf(phone) + "\"" + CRLF)) return false;
    if (!WaitAnswer(">", SmsPromptMs)) {
        // A prompt later than the wait would leave the modem taking every
        // following command as message text: the entry is cancelled. A
        // refused command opened none.
        if (RxBuffer.Find("ERROR") < 0) {
            Trace("SendSMS " + id + ": нет приглашения, ввод текста отменён");
            SendCommand("\x1B");
        }
        return false;
    }
    return SendCommand(pdu) && SendCommand("\x1A" + CRLF) && WaitAnswer("OK", NetworkAnswerMs);
}

void TGPRSModem::ReadSMS(const std::string& index, std::string& phone, std::string& text) {
    phone.clear();
    text.clear();
    if (!(SendCommand("at+cmgr=" + Trim(index) + CRLF) && WaitAnswer("+CMGR:", CommandAnswerMs) &&
          WaitAnswer("OK", CommandAnswerMs)))
        return;
    const std::string s = RxBuffer.AsString();
    Report("Текст СМС: " + s, true);
    const TSmsReading r = ReadSMSAnswer(s);
    phone = r.Phone;
    Report(" - Телефон: " + phone, true);
    Report(" - Кодировка: " + r.Coding, true);
    Report(" - Текст: " + r.Line, true);
    text = r.Text;
    if (r.Coding == "8") Report(" - Текст обработанный: " + text, true);
}

void TGPRSModem::ClearSMS() {
    Trace("TGPRSModem.ClearSMS start");
    if (SendCommand("at+cmgl=\"all\"" + CRLF) && WaitAnswer("OK", SlowCommandAnswerMs)) {
        for (int n : SmsListIndexes(RxBuffer.AsString()))
            if (SendCommand("at+cmgd=" + std::to_string(n) + CRLF))
                WaitAnswer("OK", CommandAnswerMs);
    }
    Trace("TGPRSModem.ClearSMS exit");
}

// ---- balance

void TGPRSModem::RequestBalance() {
    const std::string code = Trim(ModemData.CmdGetBalance);
    if (code.empty() || !PortEventSeen) return;
    if (!Initialised) {
        // A modem not yet initialised may not answer for the request's whole
        // minute, and its re-initialisation would wait behind it: the
        // request goes once the initialisation has succeeded.
        BalancePending = true;
        Trace("TGPRSModem.RequestBalance: модем не инициализирован, запрос отложен");
        return;
    }
    const std::string port = PortText();
    if (SendCommand("AT+CUSD=1," + code + CRLF) && WaitAnswer("OK", NetworkAnswerMs))
        Report("Запрос на получение информации о балансе для модема (COM" + port + ") отправлен");
    else
        Report("Не удалось отправить запрос на получение информации о балансе для модема (COM" +
               port + ")");
}

// ---- calls

TCallResult TGPRSModem::Call(const std::string& number) {
    const std::string id = NewGuidText();
    Trace("Call " + id + " start");
    TBusy dialling(Dialling);
    if (!SendCommand("atd" + Trim(number) + CRLF)) {
        Trace("Call " + id + " SendPacketToPort error. Return clrUnknown");
        return clrUnknown;
    }
    Trace("Call " + id + " wait answer");
    const int answer =
        WaitAnyAnswer({"BUSY", "OK", "CONNECT", "NO DIALTONE", "NO CARRIER"}, DialAnswerMs);
    Trace("Call " + id + " answer is " + std::to_string(answer) +
          " - BUSY,OK,CONNECT,NODIALTONE,NOCARRIER");
    TCallResult r = clrUnknown;
    switch (answer) {
    case 0:
        r = clrBusy;
        break;
    case 1:
    case 2:
        r = clrConnect;
        break;
    case 3:
        r = clrNoDialTone;
        break;
    case 4:
        r = clrNoCarrier;
        break;
    default:
        break;
    }
    Trace("Call " + id + " exit");
    return r;
}

void TGPRSModem::NewProcessTimer(TAttachedBoilerRoom& a, int seconds, bool answerWait) {
    a.ProcessTimer = std::make_unique<TTimer>();
    a.ProcessTimer->SetEnabled(false);
    a.ProcessTimer->SetInterval(uint32_t(std::max(seconds, 0)) * 1000u);
    TAttachedBoilerRoom* p = &a;
    if (answerWait)
        a.ProcessTimer->SetOnTimer([this, p] { AnswerWaitTick(*p); });
    else
        a.ProcessTimer->SetOnTimer([this, p] { ReCallTick(*p); });
    a.ProcessTimer->SetEnabled(true);
}

void TGPRSModem::CallToBoilerRoom(TAttachedBoilerRoom& a) {
    TBoilerRoom& room = *a.BoilerRoom;
    Report("Дозвон на " + Quoted(a) + " (" + std::to_string(a.ReCallCount) + " из " +
           std::to_string(Settings.ReCallTryMax) + ")...");
    PauseTimers(true);
    const std::string number = a.Phone + (room.GPRSCallMode == 2 ? ";" : "");
    const TCallResult r = Call(number);
    if (!IsDestroying() && !IsStopping()) {
        if (SendCommand("ATH" + CRLF)) WaitAnswer("OK", CommandAnswerMs);
        switch (r) {
        case clrConnect:
        case clrBusy:
            // The controller never takes the call: somebody else did.
            room.SetState(bsUndefined);
            room.SetNoAnswer(true);
            if (room.OnStatusChange) room.OnStatusChange(room, "", smInfo);
            Report("Произошла ошибка при соединении с " + Quoted(a) +
                       ". Проверьте правильность ввода номера контроллера (" + number + ")",
                   false, true);
            break;
        case clrNoCarrier:
            Report("Команда на подключение " + Quoted(a) + " к терминалу отправлена.", true);
            a.LinkState = lsWaitingConnection;
            room.Connected = false;
            room.SetState(bsConnecting);
            NewProcessTimer(a, Settings.AnswerConnectTimeout, true);
            Trace("Запущен таймер ожидания входящего соединения");
            break;
        default:
            Report("Дозвон к " + Quoted(a) + " не выполнен.", true);
            NewProcessTimer(a, Settings.ReCallStep, false);
            Trace("Запущен таймер на повторный дозвон");
            break;
        }
    }
    PauseTimers(false);
}

void TGPRSModem::CSDIdent(TAttachedBoilerRoom& a) {
    if (Answering) return;
    Report("Дозвон на " + Quoted(a) + " (" + std::to_string(std::max(a.ReCallCount, 1)) + " из " +
           std::to_string(Settings.ReCallTryMax) + ")...");
    TBusy answering(Answering);
    const std::string id = NewGuidText();
    Trace("CSDIdent " + id + " start");
    const bool ok = SendCommand("atd" + Trim(a.Phone) + CRLF) && CSDExchange(a);
    if (ok) {
        a.LinkState = lsWaitingConnection;
        a.BoilerRoom->Connected = false;
        a.BoilerRoom->SetState(bsConnecting);
        NewProcessTimer(a, Settings.AnswerConnectTimeout, true);
        Trace("Запущен таймер ожидания входящего соединения");
    } else {
        NewProcessTimer(a, Settings.ReCallStep, false);
        Trace("Запущен таймер для автодозвона");
    }
    Trace("CSDIdent " + id + " exit");
}

bool TGPRSModem::CSDExchange(TAttachedBoilerRoom& a) {
    TBoilerRoom& room = *a.BoilerRoom;
    const int answer =
        WaitAnyAnswer({"CONNECT", "OK", "BUSY", "NO DIALTONE", "NO CARRIER"}, DialAnswerMs);
    bool ok = false;
    if (answer == 0 || answer == 1) {
        Delay(500);
        // The controller hangs up once it has taken its settings.
        ok = SendCommand(BuildConfigText(a, true, true) + CRLF) &&
             WaitAnswer("NO CARRIER", ConfigTakenMs);
    }
    if (ok) {
        room.SetState(bsConnecting);
        Report("Инициализация " + Quoted(a) + " выполнена. Ждем идентификации");
        return true;
    }
    Report("Инициализация " + Quoted(a) + " не выполнена. Нет ответа");
    room.SetState(bsConfigNotSent);
    room.SetNoAnswer(true);
    HangUp();
    return false;
}

void TGPRSModem::HangUp() {
    // Bounded: a modem that never answers must not hold the engine here.
    for (int round = 0; round < HangUpTryMax; ++round) {
        if (IsDestroying() || IsNotRunning()) return;
        Delay(1500);
        if (SendCommand("+++")) WaitAnswer("OK", CommandAnswerMs);
        Delay(1000);
        if (SendCommand("ATH" + CRLF) && WaitAnyAnswer({"OK", "NO CARRIER"}, HangUpAnswerMs) >= 0)
            return;
    }
    Trace("TGPRSModem.HangUp: no answer after " + std::to_string(HangUpTryMax) + " tries");
}

// ---- configuration

void TGPRSModem::SendConfigurationToBoilerRoom(TAttachedBoilerRoom& a) {
    TBoilerRoom& room = *a.BoilerRoom;
    Trace("Отправка конфигурационной смс для " + room.Name);
    room.SetState(bsConnecting);
    bool sent = true;
    if (!a.Identified) {
        sent = SendSMS(a.Phone, BuildConfigText(a, false, true)) &&
               SendSMS(a.Phone, BuildConfigText(a, true, false));
        if (sent) Report("Инициализация " + Quoted(a) + " выполнена");
    } else {
        // The controller knows its settings since the modem went online: only the ring follows.
        Trace("Объект " + room.Name + " уже идентифицирован, конфигурация не отправляется");
    }
    if (!sent) {
        Report("Инициализация " + Quoted(a) + " не выполнена");
        room.SetNoAnswer(true);
        room.SetState(bsConfigNotSent);
        return;
    }
    a.ProcessTimer.reset();
    a.ReCallCount = 0;
    NewProcessTimer(a, Settings.PauseAfterSendCFG, false);
    Trace("Запущен таймер для автодозвона");
}

std::string TGPRSModem::BuildConfigText(TAttachedBoilerRoom& a, bool withAddress, bool withAccess) {
    const TBoilerRoom& room = *a.BoilerRoom;
    return ConfigText(a.Ident, LocalIP, LocalPort, room.GPRSApn, room.GPRSLogin, room.GPRSPassword,
                      withAddress, withAccess);
}

} // namespace nuq

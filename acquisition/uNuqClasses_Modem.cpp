// The modem object, its port, the command dialogue, initialisation and the
// network connection.

#include "acquisition/uNuqClasses_Modem.h"

#include <algorithm>
#include <cctype>

#include "acquisition/uNuqClasses_ModemUtil.h"
#include "foundation/fhStrUtils.h"
#include "foundation/uTrace.h"
#include "platform/Cp1251.h"
#include "platform/EventLoop.h"
#include "platform/SysUtils.h"

namespace nuq {

using namespace modem;

// ---- helpers

namespace modem {

bool SameText(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

bool ContainsText(const std::vector<std::string>& list, std::string_view entry) {
    return std::any_of(list.begin(), list.end(),
                       [&](const std::string& s) { return SameText(s, entry); });
}

bool DecimalField(std::string_view s, int& value) {
    std::string t = Trim(s);
    if (t.empty() || t.size() > 9) return false;
    for (char c : t)
        if (c < '0' || c > '9') return false;
    value = std::stoi(t);
    return true;
}

std::vector<std::string> SplitFields(std::string_view s, std::string_view separators) {
    std::vector<std::string> fields(1);
    for (char c : s) {
        if (separators.find(c) != std::string_view::npos)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

std::string WithoutQuotes(std::string_view s) {
    std::string r;
    for (char c : s)
        if (c != '"') r += c;
    return r;
}

} // namespace modem

std::string TaskKindName(int kind) {
    switch (kind) {
    case ttConnectToInternet:
        return "ttConnectToInternet";
    case ttProcessIncomingConnect:
        return "ttProcessIncomingConnect";
    case ttReadData:
        return "ttReadData";
    case ttProcessIncomingPacket:
        return "ttProcessIncomingPacket";
    case ttSendConfigurationToBoilerRoom:
        return "ttSendConfigurationToBoilerRoom";
    case ttCallToBoilerRoom:
        return "ttCallToBoilerRoom";
    case ttSendText:
        return "ttSendText";
    case ttGetBalance:
        return "ttGetBalance";
    case ttReconnect:
        return "ttReconnect";
    case ttCSDIdentWithBoilerRoom:
        return "ttCSDIdentWithBoilerRoom";
    case ttSendWhoIS:
        return "ttSendWhoIS";
    default:
        return std::to_string(kind);
    }
}

// ---- attached objects

TAttachedBoilerRoom::TAttachedBoilerRoom(TGPRSModem* modem, TBoilerRoom* boilerRoom,
                                         std::string phone, std::string ident, int ref)
    : Modem(modem), BoilerRoom(boilerRoom), Phone(std::move(phone)), Ident(std::move(ident)),
      Ref(ref) {}

void TAttachedBoilerRoom::SetStatusText(const std::string& text) {
    StatusText = text;
    if (BoilerRoom && BoilerRoom->OnStatusChange)
        BoilerRoom->OnStatusChange(*BoilerRoom, "", smInfo);
}

int TAttachedBoilerRoomList::Add(TGPRSModem* modem, TBoilerRoom* boilerRoom,
                                 const std::string& phone, const std::string& ident) {
    FItems.push_back(
        std::make_unique<TAttachedBoilerRoom>(modem, boilerRoom, phone, ident, NextRef++));
    return int(FItems.size()) - 1;
}

void TAttachedBoilerRoomList::Delete(int index) {
    if (index < 0 || index >= Count())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    FItems.erase(FItems.begin() + index);
}

namespace {
template <class Pred>
TAttachedBoilerRoom* FindIn(const std::vector<std::unique_ptr<TAttachedBoilerRoom>>& items,
                            Pred pred) {
    for (const auto& a : items)
        if (pred(*a)) return a.get();
    return nullptr;
}
} // namespace

TAttachedBoilerRoom*
TAttachedBoilerRoomList::FindByBoilerRoom(const TBoilerRoom* boilerRoom) const {
    return FindIn(FItems, [&](const TAttachedBoilerRoom& a) { return a.BoilerRoom == boilerRoom; });
}
TAttachedBoilerRoom* TAttachedBoilerRoomList::FindByPhone(std::string_view phone) const {
    return FindIn(FItems, [&](const TAttachedBoilerRoom& a) { return a.Phone == phone; });
}
TAttachedBoilerRoom* TAttachedBoilerRoomList::FindByIdent(std::string_view ident) const {
    return FindIn(FItems, [&](const TAttachedBoilerRoom& a) { return a.Ident == ident; });
}
TAttachedBoilerRoom* TAttachedBoilerRoomList::FindByChannel(int channel) const {
    return FindIn(FItems, [&](const TAttachedBoilerRoom& a) { return a.Channel == channel; });
}
TAttachedBoilerRoom* TAttachedBoilerRoomList::FindByRef(int ref) const {
    return FindIn(FItems, [&](const TAttachedBoilerRoom& a) { return a.Ref == ref; });
}

// ---- the object

namespace {

std::unique_ptr<TTimer> NewTimer(uint32_t ms, std::function<void()> tick) {
    auto t = std::make_unique<TTimer>();
    t->SetEnabled(false);
    t->SetInterval(ms);
    t->SetOnTimer(std::move(tick));
    return t;
}

uint32_t Seconds(int s) {
    return s > 0 ? uint32_t(s) * 1000u : 0u;
}

TSerBaudrate RateOf(int baud) {
    static const std::pair<int, TSerBaudrate> rates[] = {
        {110, br110},       {300, br300},       {600, br600},      {1200, br1200},
        {2400, br2400},     {4800, br4800},     {9600, br9600},    {14400, br14400},
        {19200, br19200},   {38400, br38400},   {56000, br56000},  {57600, br57600},
        {115200, br115200}, {128000, br128000}, {256000, br256000}};
    for (auto [value, rate] : rates)
        if (value == baud) return rate;
    return br9600;
}

// The write failures that mean the device itself stopped working: the
// system's "device not functioning" (31) and the I/O error a vanished line gives.
bool IsDeviceFault(const std::string& message) {
    return message.find("(31)") != std::string::npos ||
           message.find("(" + std::to_string(TSerialError::LineLost().Code) + ")") !=
               std::string::npos;
}

} // namespace

TGPRSModem::TGPRSModem(const TModemData& modemData) : ModemData(modemData) {
    FTaskTimer = NewTimer(300, [this] { TaskTimerTick(); });
    FSignalTimer = NewTimer(300, [this] { SignalTimerTick(); });
    FReadTimer = NewTimer(ReadPeriodMs, [this] { ReadTimerTick(); });
    SetupPort();
    FWhoIsTimer = NewTimer(30000, [this] { WhoIsTimerTick(); });
    Trace("GPRS modem on COM" + PortText() + " created");
}

void TGPRSModem::SetupPort() {
    Port = std::make_unique<TSerComm>();
    Port->SetPortNum(ModemData.PortNumber);
    Port->SetBaudrate(RateOf(ModemData.Baudrate));
    const int bits = ModemData.Databits;
    Port->SetDatabits(bits >= 4 && bits <= 7 ? TSerDatabits(bits - 4) : db8);
    Port->SetStopbits(ModemData.StopBits == 2 ? sb2 : sb1);
    Port->SetParity(ModemData.Parity <= 4 ? TSerParity(ModemData.Parity) : paNone);
    Port->Buffers().SetReadSize(8192);
    TSerFlowControl& flow = Port->FlowControl();
    flow.SetControlDtr(dtrEnabled);
    flow.SetControlRts(rtsEnabled);
    flow.SetOutCtsFlow(false);
    flow.SetOutDsrFlow(false);
    flow.SetXonXoffIn(false);
    flow.SetXonXoffOut(false);
    if (ModemData.FlowControl & 1) flow.SetOutDsrFlow(true);
    if (ModemData.FlowControl & 2) flow.SetOutCtsFlow(true);
    if (ModemData.FlowControl & 4) {
        flow.SetXonXoffIn(true);
        flow.SetXonXoffOut(true);
    }
    Port->SetMonitorEvents(TSerCommEvents{ceError, ceRxChar, ceTxEmpty} - ceError);
    Port->OnOpen = [this](TSerCustomComm&) { PortOpened(); };
    Port->OnClose = [this](TSerCustomComm&) { PortClosed(); };
    Port->OnError = [this](TSerCustomComm&, uint32_t errors) { PortError(errors); };
    // With a buffer attached the port reads the bytes itself and hands them
    // over here; its character-count event is not fired then.
    Port->OnRxBuf = [this](TSerCustomComm&, const char* bytes, int count) {
        PortRxBuf(bytes, count);
    };
    PortBuffer = std::make_unique<TSerBuffer>();
    PortBuffer->SetSize(8192);
    PortBuffer->SetComm(Port.get());
}

TGPRSModem::~TGPRSModem() {
    FWhoIsTimer.reset();
    PausedTimers.clear();
    Attached.Clear();
    FReadTimer.reset();
    Tasks.clear();
    FTaskTimer.reset();
    FSignalTimer.reset();
    // Closing while being destroyed tells nobody.
    Port->OnOpen = nullptr;
    Port->OnClose = nullptr;
    Port->OnError = nullptr;
    Port->OnRxBuf = nullptr;
    PortBuffer.reset();
    Port.reset();
    FOpenTimer.reset();
    FInternetTimer.reset();
    FReInitTimer.reset();
    Trace("GPRS modem on COM" + PortText() + " destroyed");
}

void TGPRSModem::Report(const std::string& text, bool verboseOnly, bool showDialog) {
    Trace("___" + text);
    if (OnMessage)
        OnMessage(AddCharR(' ', "COM" + PortText(), 6) + ": " + text, verboseOnly, showDialog);
}

void TGPRSModem::SetStatusTextAll(const std::string& text) {
    for (const auto& a : Attached) a->SetStatusText(text);
}

void TGPRSModem::SetObjectsFailed(uint8_t state) {
    for (const auto& a : Attached) {
        a->BoilerRoom->SetNoAnswer(true);
        a->BoilerRoom->SetState(state);
    }
}

// ---- sending and waiting

bool TGPRSModem::SendCommand(const std::string& text) {
    if (IsDestroying() || !Port->IsOpen() || PortFault) return false;
    if (!IsStopping())
        StopUnanswered = false;
    else if (StopUnanswered)
        return false;
    bool sent = false;
    try {
        const std::string bytes = Utf8ToCp1251(text);
        for (int attempt = 0; attempt < 5 && !sent; ++attempt) {
            RxBuffer.Clear(); // what is found later answers this command
            sent = Port->WriteText(bytes);
            if (!sent) {
                Trace("Ошибка отправки команды на COM" + PortText() +
                      ". Повторная попытка через 0,5 сек");
                Delay(500);
            }
        }
        Trace(sent ? "Отправка команды на COM" + PortText() + " выполнена успешно"
                   : "!!!Отправка команды на COM" + PortText() + " не выполнена");
    } catch (const std::exception& e) {
        sent = false;
        const std::string message = e.what();
        Report("Ошибка записи в порт\r\n" + message, true);
        PortFault = IsDeviceFault(message);
    }
    return sent;
}

void TGPRSModem::PollPort() {
    if (!Port->IsOpen() || Port->InQueCount() <= 0) return;
    std::string bytes;
    Port->ReadText(bytes);
    if (!bytes.empty()) ReceiveText(Cp1251ToUtf8(bytes));
}

bool TGPRSModem::WaitAnswer(const std::string& expected, int timeoutMs) {
    Trace("Start wait " + expected);
    TDepth dialogue(DialogueDepth);
    bool found = false, error = false;
    const uint32_t start = GetTickCount();
    uint32_t polled = start;
    auto done = [&]() -> bool {
        if (WaitStopped()) return true;
        if (GetTickCount() - polled >= 500) {
            polled = GetTickCount();
            PollPort();
        }
        if (!Extracting) {
            const std::string text = RxBuffer.AsString();
            found = text.find(expected) != std::string::npos;
            if (text.find("ERROR") != std::string::npos) {
                Report("Модем вернул сигнал \"Error\".", true);
                error = true;
                return true;
            }
        }
        if (WaitStopped()) return true;
        return found || int64_t(GetTickCount() - start) >= int64_t(timeoutMs);
    };
    if (!done()) ProcessMessagesUntil(done, uint32_t(std::max(timeoutMs, 0)));
    if (found) Trace(expected + " received. Return TRUE");
    if (!found && !error && !WaitStopped() && IsStopping()) StopUnanswered = true;
    return found;
}

int TGPRSModem::WaitAnyAnswer(const std::vector<std::string>& answers, int timeoutMs) {
    for (const auto& a : answers) Trace("Start wait " + a);
    TDepth dialogue(DialogueDepth);
    int index = -1;
    const uint32_t start = GetTickCount();
    uint32_t polled = start;
    auto done = [&]() -> bool {
        if (WaitStopped()) return true;
        if (GetTickCount() - polled >= 500) {
            polled = GetTickCount();
            PollPort();
        }
        if (!Extracting) {
            const std::string text = UpperCase(RxBuffer.AsString());
            for (size_t i = 0; i < answers.size() && index < 0; ++i)
                if (text.find(UpperCase(answers[i])) != std::string::npos) index = int(i);
            if (index >= 0) return true;
            if (text.find("ERROR") != std::string::npos) return true;
        }
        if (WaitStopped()) return true;
        return int64_t(GetTickCount() - start) >= int64_t(timeoutMs);
    };
    if (!done()) ProcessMessagesUntil(done, uint32_t(std::max(timeoutMs, 0)));
    if (index >= 0) Trace(answers[size_t(index)] + " received. Return TRUE");
    return index;
}

// ---- joining and leaving

void TGPRSModem::Connect() {
    Trace("TGPRSModem.Connect");
    Sockets.clear();
    LoadSettings(SettingsFileName(), Settings);
    OpenAttempt = 0;
    OpenPort();
}

void TGPRSModem::OpenPort() {
    if (IsDestroying() || IsNotRunning()) return;
    FOpenTimer = NewTimer(0, [this] { OpenTimerTick(); });
    ++OpenAttempt;
    SetStatusTextAll("Открытие COM-порта...");
    if (OpenAttempt > Settings.MaxConnectTry) {
        Report("Не удалось открыть (COM" + PortText() + "). Следуюшая попытка через " +
               std::to_string(Settings.ReconnectLong) + " сек.");
        SetObjectsFailed(bsComPortError);
        OpenAttempt = 0;
        FOpenTimer->SetInterval(Seconds(Settings.ReconnectLong));
        FOpenTimer->SetEnabled(true);
        return;
    }
    if (!PortEventSeen)
        Report("Открытие COM" + PortText() + " (" + std::to_string(OpenAttempt) + " из " +
               std::to_string(Settings.MaxConnectTry) + ")...");
    try {
        Port->Open();
    } catch (const std::exception& e) {
        Trace("TGPRSModem.OpenPort COM" + PortText() + ": " + e.what());
        // The reason once, not again every series; the series' end is
        // reported on its own.
        if (!Port->OpenFailure().empty() && Port->OpenFailure() != OpenFailureSaid) {
            OpenFailureSaid = Port->OpenFailure();
            Report("Ошибка открытия COM" + PortText() + ": " + OpenFailureSaid);
        }
        // The handler of a successful open may have replaced the timer.
        if (!FOpenTimer) FOpenTimer = NewTimer(0, [this] { OpenTimerTick(); });
        FOpenTimer->SetInterval(Seconds(Settings.ReconnectQuick));
        FOpenTimer->SetEnabled(true);
    }
}

void TGPRSModem::OpenTimerTick() {
    if (!FOpenTimer) return;
    FOpenTimer->SetEnabled(false);
    if (IsDestroying() || (PortEventSeen && !ReopenPending)) return;
    if (InDialogue()) {
        // Reopening closes the port under a running dialogue: wait for it to end.
        FOpenTimer->SetInterval(300);
        FOpenTimer->SetEnabled(true);
        return;
    }
    if (ReopenPending && Port->IsOpen()) Port->Close();
    OpenPort();
}

void TGPRSModem::ResetLinkState() {
    PortEventSeen = true;
    OpenAttempt = 0;
    Online = false;
    Initialised = false;
    InternetAttempt = 0;
    InitAttempt = 0;
    LocalIP.clear();
    LocalPort = 1;
}

void TGPRSModem::PortOpened() {
    const bool reopened = ReopenPending;
    ResetLinkState();
    OpenFailureSaid.clear();
    PortFault = false;
    ReopenPending = false;
    Report("COM" + PortText() + " открыт");
    SetStatusTextAll("COM-порт открыт...");
    // The line failed under the objects: their sockets went with it, and a
    // controller that does not notice would never be called again. Those
    // that were connected or awaited start over once the modem is set up.
    std::vector<TBoilerRoom*> restart;
    if (reopened)
        for (const auto& a : Attached)
            if (a->LinkState != lsIdle) {
                restart.push_back(a->BoilerRoom);
                a->Channel = -1; // closed by the initialisation, not one by one
                Stop(*a->BoilerRoom);
            }
    InitModem();
    for (TBoilerRoom* room : restart) Start(*room);
}

void TGPRSModem::PortClosed() {
    ResetLinkState();
    Report("COM" + PortText() + " закрыт");
}

void TGPRSModem::PortError(uint32_t code) {
    ResetLinkState();
    Report("Ошибка COM" + PortText() + ". Код ошибки: " + std::to_string(code), true);
    // A failed line is reopened as a failed open would be, rather than left
    // offline until someone reconnects by hand.
    if (IsDestroying() || Checking) return;
    ReopenPending = true;
    // The objects' sockets went with the line: until the modem is set up
    // again they are not connected, and a request to one would be lost.
    for (const auto& a : Attached) {
        TBoilerRoom& room = *a->BoilerRoom;
        if (room.State != bsConnected) continue;
        room.Connected = false;
        room.SetState(bsNotConnected);
    }
    FOpenTimer = NewTimer(Seconds(Settings.ReconnectQuick), [this] { OpenTimerTick(); });
    FOpenTimer->SetEnabled(true);
}

void TGPRSModem::PortRxBuf(const char* bytes, int count) {
    if (count > 0) ReceiveText(Cp1251ToUtf8(std::string_view(bytes, size_t(count))));
}

void TGPRSModem::StartReInitTimer() {
    FReInitTimer = NewTimer(Seconds(Settings.ReInitModemStep), [this] { ReInitTimerTick(); });
    FReInitTimer->SetEnabled(true);
}

void TGPRSModem::ReInitTimerTick() {
    if (!FReInitTimer) return;
    FReInitTimer->SetEnabled(false);
    if (IsDestroying() || IsNotRunning()) return;
    if (InDialogue()) {
        // The tick came inside another dialogue's wait: initialising now
        // would interleave two dialogues on one port.
        FReInitTimer->SetInterval(300);
        FReInitTimer->SetEnabled(true);
        return;
    }
    InitModem();
}

void TGPRSModem::InitModem() {
    if (IsDestroying()) return;
    TDepth dialogue(DialogueDepth);
    FReInitTimer.reset();
    Initialised = false;
    SetStatusTextAll("Инициализация модема...");
    ++InitAttempt;
    const std::string port = PortText();
    if (InitAttempt > Settings.ReInitModemTryMax) {
        InitAttempt = 0;
        const std::string msg = "Не удалось произвести инициализацию модема COM" + port +
                                ". Проверьте его работоспособность и корректность настроек.";
        Report(msg, false, true);
        SetObjectsFailed(bsModemInitError);
        if (OnConnectFailed) OnConnectFailed(ModemData.PortNumber, msg);
        return;
    }
    Report("Инициализации модема (COM" + port + ") (" + std::to_string(InitAttempt) + " из " +
           std::to_string(Settings.ReInitModemTryMax) + ")...");
    for (int i = 0; i < Settings.StepCount; ++i) {
        Report("Инициализация модема (COM" + port + "). Шаг " + std::to_string(i + 1) + " из " +
               std::to_string(Settings.StepCount) + "...");
        if (!(SendCommand(Settings.Steps[size_t(i)] + CRLF) &&
              WaitAnswer("OK", InitStepAnswerMs))) {
            if (WaitStopped()) return; // a stop gave up the wait, not the modem
            Report("Ошибка при инициализация модема (COM" + port + "). Шаг " +
                   std::to_string(i + 1));
            StartReInitTimer();
            return;
        }
    }
    Trace("Инициализация модема на COM" + port + " выполнена");
    Trace("Чистим не нужные СМС");
    ClearSMS();
    for (int n = 9; n >= 0; --n) {
        Trace("Закрытие сокета " + std::to_string(n));
        if (SendCommand("AT^SISC=" + std::to_string(n) + CRLF)) WaitAnswer("OK", CommandAnswerMs);
        if (SendCommand("AT^SISS=" + std::to_string(n) + ",srvtype,none" + CRLF))
            WaitAnswer("OK", CommandAnswerMs);
    }
    if (SendCommand("AT^SICC=0" + CRLF)) WaitAnswer("OK", CommandAnswerMs);
    Sockets.clear();
    const std::string profile = "AT^SICS=0,conType,GPRS0;^SICS=0,passwd,\"" + ModemData.GPRS_PW +
                                "\";^SICS=0,user,\"" + ModemData.GPRS_LG + "\";^SICS=0,apn,\"" +
                                ModemData.GPRS_AP + "\"" + CRLF;
    const bool ready =
        SendCommand(profile) && WaitAnswer("OK", ServiceSetupMs) &&
        SendCommand("AT^SISS=0,srvtype,socket" + CRLF) && WaitAnswer("OK", ServiceSetupMs) &&
        SendCommand("AT^SISS=0,address,socktcp://listener:" + std::to_string(ModemData.TCPPort) +
                    CRLF) &&
        WaitAnswer("OK", ServiceSetupMs);
    if (!ready) {
        StartReInitTimer();
        return;
    }
    Initialised = true;
    {
        std::lock_guard lock(SignalLock);
        Signals.clear();
    }
    if (Attached.Count() > 0) AddTask(ttConnectToInternet, "");
    if (BalancePending) {
        BalancePending = false;
        AddTask(ttGetBalance, "");
    }
}

void TGPRSModem::InternetTimerTick() {
    if (FInternetTimer) FInternetTimer->SetEnabled(false);
    if (IsDestroying() || IsNotRunning()) return;
    Trace("Запущена задача на подключение к интернету на COM" + PortText());
    AddTask(ttConnectToInternet, "");
}

namespace {

// The listener's own address in the answer to "AT^SISO?": the sixth field of
// service 0's line, "IP:port" in quotes. False when it is not there in that form.
bool ParseLocalAddress(const std::string& answer, std::string& ip, int& port) {
    const std::string open = "^SISO: 0,";
    size_t b = answer.find(open);
    if (b == std::string::npos) return false;
    b += open.size();
    size_t e = answer.find("^SISO: 1,", b);
    if (e == std::string::npos) e = answer.find_first_of("\r\n", b);
    const std::string line =
        Trim(answer.substr(b, e == std::string::npos ? std::string::npos : e - b));
    const std::string address = WithoutQuotes(ExtractWord(6, line, TCharSet{','}));
    const size_t colon = address.find(':');
    if (colon == std::string::npos || colon == 0) return false;
    int p = 0;
    if (!DecimalField(address.substr(colon + 1), p)) return false;
    ip = Trim(address.substr(0, colon));
    port = p;
    return true;
}

} // namespace

void TGPRSModem::ConnectToInternet() {
    if (IsDestroying() || !PortEventSeen) return;
    TDepth dialogue(DialogueDepth);
    Trace("TGPRSModem.ConnectToInternet");
    FInternetTimer = NewTimer(0, [this] { InternetTimerTick(); });
    SetStatusTextAll("Подключение к сети...");
    ++InternetAttempt;
    const std::string port = PortText();
    if (InternetAttempt > Settings.InternetConnectTryMax) {
        Report("Не удалось подключиться к сети (COM" + port + "). Следующая попытка через " +
                   std::to_string(Settings.ReconnectLong) + " сек. ",
               false, true);
        InternetAttempt = 0;
        FInternetTimer->SetInterval(Seconds(Settings.ReconnectLong));
        FInternetTimer->SetEnabled(true);
        return;
    }
    if (!Online)
        Report("Попытка подключения к сети (COM" + port + ") (" + std::to_string(InternetAttempt) +
               " из " + std::to_string(Settings.InternetConnectTryMax) + ")...");
    Trace("TGPRSModem.ConnectToInternet - выход в сеть");
    bool ok = SendCommand(CRLF + "AT^SISO=0" + CRLF) && WaitAnswer("OK", SocketOpenMs);
    if (ok) {
        Trace("TGPRSModem.ConnectToInternet - чтение сокетов");
        ok = SendCommand("AT^SISO?" + CRLF) && WaitAnswer("OK", SocketStatesMs);
    }
    std::string ip;
    int localPort = 1;
    // An answer without a usable address is no connection: the address is
    // what the controllers are told to call.
    if (ok && ParseLocalAddress(RxBuffer.AsString(), ip, localPort)) {
        LocalIP = ip;
        LocalPort = localPort;
        Online = true;
        Trace("TGPRSModem.ConnectToInternet - IP: " + LocalIP + ":" + std::to_string(LocalPort));
        {
            std::lock_guard lock(SignalLock);
            Signals.clear();
        }
        for (const auto& a : Attached) a->Identified = false;
        Report("Модем (COM" + port + ") подключен к сети");
        return;
    }
    LocalIP.clear();
    LocalPort = 1;
    Online = false;
    if (FInternetTimer) {
        FInternetTimer->SetInterval(Seconds(Settings.ReconnectQuick));
        FInternetTimer->SetEnabled(true);
    }
    Trace("TGPRSModem.ConnectToInternet - не удалось подключиться к сети. Попробум позже");
}

void TGPRSModem::DisconnectFromInternet() {
    if (FInternetTimer) FInternetTimer->SetEnabled(false);
    if (IsDestroying() || !PortEventSeen) return;
    TDepth dialogue(DialogueDepth);
    Trace("TGPRSModem.DisconnectFromInternet start");
    SetStatusTextAll("Завершение соединения...");
    FTaskTimer->SetEnabled(false);
    {
        std::lock_guard lock(TaskLock);
        Tasks.clear();
    }
    {
        std::lock_guard lock(SignalLock);
        Signals.clear();
    }
    FReInitTimer.reset();
    FOpenTimer.reset();
    FInternetTimer.reset();
    Trace("Send ESC to modem");
    SendCommand(std::string(1, '\x1B'));
    if (!PortFault) {
        for (size_t i = 0; i < size_t(Attached.Count()) && !PortFault; ++i) {
            TAttachedBoilerRoom& a = Attached.Items(int(i));
            Trace("Отключаем объект " + a.BoilerRoom->Name);
            Stop(*a.BoilerRoom);
        }
    }
    FSignalTimer->SetEnabled(false);
    FWhoIsTimer->SetEnabled(false);
    if (PortFault) return;
    for (int n = 1; n <= 9; ++n) {
        Trace("Закрываем сокет " + std::to_string(n));
        const bool closed = SendCommand("AT^SISC=" + std::to_string(n) + CRLF) &&
                            WaitAnswer("OK", CommandAnswerMs) &&
                            SendCommand("AT^SISS=" + std::to_string(n) + ",srvtype,none" + CRLF) &&
                            WaitAnswer("OK", CommandAnswerMs);
        if (PortFault) return;
        if (!closed) break;
    }
    Sockets.clear();
    Trace("Закрываем сокет 0");
    if (SendCommand("AT^SISC=0" + CRLF) && WaitAnswer("OK", CommandAnswerMs) &&
        SendCommand("AT^SISS=0,srvtype,none" + CRLF) && WaitAnswer("OK", CommandAnswerMs) &&
        SendCommand("AT^SICC=0" + CRLF))
        WaitAnswer("OK", SlowCommandAnswerMs);
    if (PortFault) return;
    SetStatusTextAll("Не определено");
    Trace("TGPRSModem.DisconnectFromInternet exit");
}

void TGPRSModem::Disconnect() {
    Trace("TGPRSModem.Disconnect");
    Sockets.clear();
    ReopenPending = false;
    DisconnectFromInternet();
    FOpenTimer.reset();
    Port->Close();
}

void TGPRSModem::Reconnect() {
    Trace("TGPRSModem.Reconnect");
    Disconnect();
    Connect();
    for (size_t i = 0; i < size_t(Attached.Count()); ++i) Start(*Attached.Items(int(i)).BoilerRoom);
}

bool TGPRSModem::CheckModem() {
    Trace("TGPRSModem.CheckModem " + PortText());
    Report("Проверка работоспособности модема COM" + PortText() + "...");
    TDepth dialogue(DialogueDepth);
    bool ok = false;
    {
        TBusy checking(Checking);
        auto onOpen = std::move(Port->OnOpen);
        auto onClose = std::move(Port->OnClose);
        Port->OnOpen = nullptr;
        Port->OnClose = nullptr;
        // A port already open belongs to a running link: check on it, leave it open.
        const bool wasOpen = Port->IsOpen();
        try {
            if (!wasOpen) Port->Open();
            RxBuffer.Clear();
            ok = SendCommand("AT" + CRLF) && WaitAnswer("OK", CheckAnswerMs);
        } catch (const std::exception& e) {
            Trace("TGPRSModem.CheckModem: " + std::string(e.what()));
            ok = false;
        }
        if (!wasOpen) Port->Close();
        Port->OnOpen = std::move(onOpen);
        Port->OnClose = std::move(onClose);
    }
    Report(ok ? "Модем COM" + PortText() + " в порядке"
              : "Модем COM" + PortText() + " не отвечает");
    return ok;
}

} // namespace nuq

// The boiler-room object's links: framing of received lines and sending text.

#include "acquisition/uNuqClasses.h"
#include "acquisition/uNuqClasses_Manager.h"

#include "foundation/uNuqUtils.h"
#include "foundation/uTrace.h"

#include "platform/Cp1251.h"
#include "platform/ScopeGuard.h"
#include <algorithm>

namespace nuq {

namespace {

bool IsUtf8Continuation(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// A trace line of link traffic: short texts whole, longer ones as their
// first five characters, "..." and the last one. Control characters of the
// peer's text are escaped, so they cannot start trace lines of their own.
std::string TrafficTrace(const char* direction, const std::string& text) {
    size_t sixth = 0; // where the sixth character begins
    for (int n = 0; n < 5 && sixth < text.size(); ++n) {
        ++sixth;
        while (sixth < text.size() && IsUtf8Continuation(text[sixth])) ++sixth;
    }
    if (sixth >= text.size()) return direction + EscapeControlChars(text);
    size_t last = text.size() - 1;
    while (last > sixth && IsUtf8Continuation(text[last])) --last;
    return direction + EscapeControlChars(std::string_view(text).substr(0, sixth)) + "..." +
           EscapeControlChars(std::string_view(text).substr(last));
}

std::string WithoutBrackets(std::string_view line) {
    std::string out;
    out.reserve(line.size());
    for (char c : line)
        if (c != '<' && c != '>') out += c;
    return out;
}

} // namespace

void TBoilerRoom::RxBufferChange() {
    // OnData may run the loop (a decode does, once per block); bytes arriving
    // meanwhile wait in the buffer for this pass, so the owner gets the lines
    // one at a time and in order.
    if (Framing) return;
    Framing = true;
    const std::shared_ptr<bool> alive = FAlive;
    try {
        FrameLines();
    } catch (const std::exception& e) {
        // One bad pass must not take the link down; the bytes after it wait
        // for the next change.
        Trace(std::string("<<< framing error: ") + e.what());
    }
    if (*alive) Framing = false;
}

void TBoilerRoom::FrameLines() {
    const std::shared_ptr<bool> alive = FAlive;
    for (;;) {
        const int count = RxBuffer.Count();
        const int p = RxBuffer.Find("\r\n", std::min(RxScanFrom, count));
        if (p < 0) {
            // No line end yet. A peer that never sends one must not fill the
            // memory: past the cap the line is dropped, and so is the rest of
            // it up to its CR LF. A CR at the end may begin the line end, so
            // it is kept and not counted against the cap.
            const bool trailingCR = count > 0 && RxBuffer.Bytes(count - 1) == '\r';
            if (!DiscardingLine && count - int(trailingCR) > MaxLineBytes) {
                DiscardingLine = true;
                DroppedBytes = 0;
            }
            if (DiscardingLine) {
                const int dropped = trailingCR ? count - 1 : count;
                DroppedBytes += uint64_t(dropped);
                RxBuffer.Delete(0, dropped, true);
            }
            RxScanFrom = std::max(RxBuffer.Count() - 1, 0);
            return;
        }
        RxScanFrom = 0;
        // Every complete line at once: cutting them one by one would move the
        // rest of the buffer for each.
        const std::string all = RxBuffer.AsString();
        const size_t cut = all.rfind("\r\n") + 2;
        RxBuffer.Delete(0, int(cut), true);
        const uint64_t session = RxSession;
        for (size_t start = 0; start < cut;) {
            const size_t end = all.find("\r\n", start);
            const std::string_view raw(all.data() + start, end - start);
            start = end + 2;
            if (DiscardingLine || raw.size() > size_t(MaxLineBytes)) {
                // A line too long to keep, or the tail of one already cut.
                DroppedBytes = (DiscardingLine ? DroppedBytes : 0) + raw.size();
                DiscardingLine = false;
                LineDropped();
                if (!*alive) return;
                continue;
            }
            try {
                // The controller's text is cp1251 on the wire.
                const std::string line = Cp1251ToUtf8(WithoutBrackets(Trim(raw)));
                Trace(TrafficTrace("<<<", line));
                if (OnData) OnData(*this, line);
            } catch (const std::exception& e) {
                // The lines after it are already out of the buffer: they
                // still go to the owner.
                Trace(std::string("<<< framing error: ") + e.what());
            }
            // The owner destroyed the object from its handler: nothing of it is left.
            if (!*alive) return;
            // The link was opened anew meanwhile: the rest came on the old one.
            if (session != RxSession) break;
        }
    }
}

void TBoilerRoom::LineDropped() {
    const std::string what = "длиннее " + std::to_string(MaxLineBytes) +
                             " байт отброшена, отброшено байт: " + std::to_string(DroppedBytes);
    Trace("<<< line " + what);
    LinkMessage("Строка от ", " " + what, smError);
}

void TBoilerRoom::ResetRxBuffer() {
    // A half line of an earlier connection must not glue onto the first
    // packet of the next one; a long one being dropped is said as it stands,
    // and so is a line the link went down in the middle of.
    if (DiscardingLine) {
        DroppedBytes += uint64_t(RxBuffer.Count()); // the CR kept as a possible line end
        LineDropped();
    } else if (RxBuffer.Count() > 0) {
        LinkMessage("Строка от ",
                    " оборвана разрывом связи, отброшено байт: " + std::to_string(RxBuffer.Count()),
                    smError);
    }
    RxBuffer.Delete(0, RxBuffer.Count(), true);
    RxScanFrom = 0;
    DiscardingLine = false;
    DroppedBytes = 0;
    ++RxSession;
}

void TBoilerRoom::SendText(const std::string& text, bool framed) {
    if (State != bsConnected) return;
    const std::string line = framed ? "<" + text + ">" : text;
    Trace(TrafficTrace(">>>", line));
    bool sent = true;
    try {
        // The modem engine converts on its own way to the port.
        if (LinkKind == lkGPRS) {
            if (Manager) Manager->SendText(*this, line + "\r\n");
        } else {
            SendOnLink(Utf8ToCp1251(line) + "\r\n");
        }
    } catch (const std::exception&) {
        sent = false;
    }
    if (OnDataSent) OnDataSent(*this, line, sent);
}

void TBoilerRoom::LinkMessage(const std::string& before, const std::string& after, int kind) {
    StatusChange(before + "\"" + Name + "\"" + after, kind);
}

void TBoilerRoom::SendOnLink(const std::string& line) {
    switch (LinkKind) {
    case lkComPort:
        if (!ComPort || !ComPort->WriteText(line))
            throw Exception("The line was not written to the port");
        break;
    case lkTCP:
        if (!Socket) throw Exception("No TCP link");
        Socket->SendText(line);
        break;
    default:
        break; // a DDE link sends nothing; the modem manager carries GPRS lines
    }
}

void TBoilerRoom::StartLink() {
    switch (LinkKind) {
    case lkComPort:
        OpenComPort();
        break;
    case lkTCP:
        // Said before the wait, which may last the socket's whole connect limit.
        AttemptMessage();
        TryConnect();
        break;
    case lkDDE:
        OPCServer = std::make_unique<TOPCServer>(DDEServiceName);
        OpenDDEItems();
        SetState(bsConnected);
        LinkMessage("OPC/DDE клиент для ", " запущен", smInfo);
        SetRequestInterval(DDEPeriod);
        break;
    case lkGPRS:
        if (Manager) Manager->StartBoilerRoom(*this);
        break;
    default:
        break;
    }
}

void TBoilerRoom::StopLink() {
    if (FReconnectTimer) FReconnectTimer->SetEnabled(false);
    switch (LinkKind) {
    case lkComPort:
        if (ComPort) ComPort->Close(); // its close event reports it
        ComFailure.clear();
        Connected = false;
        SetState(bsNotConnected);
        break;
    case lkTCP:
        if (Socket) {
            Socket->OnConnect = nullptr;
            Socket->OnDisconnect = nullptr;
            Socket->OnError = nullptr;
            Socket->Close();
        }
        Connected = false;
        SetState(bsNotConnected);
        LinkMessage("Соединение с ", " разорвано", smInfo);
        break;
    case lkDDE:
        if (FDDETimer) FDDETimer->SetEnabled(false);
        OPCServer.reset();
        OPCFailureSaid.clear();
        SetState(bsNotConnected);
        LinkMessage("OPC/DDE клиент для ", " отключен", smInfo);
        break;
    case lkGPRS:
        if (Manager) Manager->StopBoilerRoom(*this);
        break;
    default:
        break;
    }
}

void TBoilerRoom::PauseLink() {
    if (FReconnectTimer) FReconnectTimer->SetEnabled(false);
    if (LinkKind == lkDDE) SetState(bsUndefined);
}

void TBoilerRoom::EnableLinkTimer(bool enable) {
    if (LinkKind == lkDDE && FDDETimer) FDDETimer->SetEnabled(enable);
}

void TBoilerRoom::RestartLinkTimer() {
    if (LinkKind == lkDDE && FDDETimer) {
        FDDETimer->SetEnabled(false);
        FDDETimer->SetEnabled(true);
    }
}

void TBoilerRoom::ReleaseLinks() {
    if (ComPort) {
        ComPort->OnRxBuf = nullptr;
        ComPort->OnError = nullptr;
        ComPort->OnOpen = nullptr;
        ComPort->OnClose = nullptr;
    }
    ComBuffer.reset();
    ComPort.reset();
    FDDETimer.reset();
    OPCServer.reset();
    FReconnectTimer.reset();
    if (Socket) {
        Socket->OnConnect = nullptr;
        Socket->OnDisconnect = nullptr;
        Socket->OnError = nullptr;
        Socket->OnRead = nullptr;
        Socket.reset();
    }
}

// Serial link -----------------------------------------------------------------

void TBoilerRoom::SetComPortConnection(int portNumber, int baudRate, int dataBits, int stopBits,
                                       int parity, int flowControl) {
    LinkKind = lkComPort;
    ReleaseLinks();
    ComPort = std::make_unique<TSerComm>();
    ComPort->SetPortNum(portNumber);
    static const std::pair<int, TSerBaudrate> rates[] = {
        {110, br110},       {300, br300},      {600, br600},     {1200, br1200},
        {2400, br2400},     {4800, br4800},    {14400, br14400}, {19200, br19200},
        {38400, br38400},   {56000, br56000},  {57600, br57600}, {115200, br115200},
        {128000, br128000}, {256000, br256000}};
    TSerBaudrate rate = br9600;
    for (const auto& [bps, code] : rates)
        if (bps == baudRate) rate = code;
    ComPort->SetBaudrate(rate);
    ComPort->SetDatabits(dataBits >= 4 && dataBits <= 7 ? TSerDatabits(dataBits - 4) : db8);
    ComPort->SetStopbits(stopBits == 2 ? sb2 : sb1);
    ComPort->SetParity(parity >= paNone && parity <= paSpace ? TSerParity(parity) : paNone);
    TSerFlowControl& flow = ComPort->FlowControl();
    flow.SetOutCtsFlow(false);
    flow.SetOutDsrFlow(false);
    flow.SetControlDtr(dtrEnabled);
    flow.SetControlRts(rtsEnabled);
    flow.SetXonXoffIn(false);
    flow.SetXonXoffOut(false);
    if (flowControl & 1) flow.SetOutDsrFlow(true);
    if (flowControl & 2) flow.SetOutCtsFlow(true);
    if (flowControl & 4) {
        flow.SetXonXoffIn(true);
        flow.SetXonXoffOut(true);
    }
    ComPort->OnRxBuf = [this](TSerCustomComm&, const char* bytes, int count) {
        // The controller's lines are framed by the receive buffer's change event.
        RxBuffer.AddString(std::string_view(bytes, size_t(count)));
    };
    ComPort->OnError = [this](TSerCustomComm&, uint32_t errors) { ComError(errors); };
    ComPort->OnOpen = [this](TSerCustomComm&) { ComOpen(); };
    ComPort->OnClose = [this](TSerCustomComm&) { ComClose(); };
    ComPort->SetMonitorEvents(ComPort->MonitorEvents() - ceError);
    ComBuffer = std::make_unique<TSerBuffer>();
    ComBuffer->SetComm(ComPort.get());
    ComBuffer->SetSize(8192);
}

void TBoilerRoom::OpenComPort() {
    if (!ComPort) return;
    ResetRxBuffer();
    try {
        ComPort->Open();
    } catch (const std::exception& e) {
        // A port that cannot be opened is reported like a port error, not
        // raised; the same failure again on a retry is not said again.
        SetNoAnswer(true);
        const std::string& why = ComPort->OpenFailure();
        const std::string reason = why.empty() ? e.what() : why;
        if (reason != ComFailure) {
            ComFailure = reason;
            LinkMessage("Ошибка COM-порта для связи с ", ": " + reason, smError);
            ComRetryMessage();
        }
        StartComReopenTimer();
    }
}

void TBoilerRoom::ComError(uint32_t errorCode) {
    SetNoAnswer(true);
    const bool lost = ComPort && ComPort->IsOpen() && ComPort->LineLost();
    LinkMessage("Ошибка COM-порта для связи с ",
                ". Код ошибки: " + std::to_string(errorCode) +
                    (lost ? " (устройство " + ComPort->OpenedDevice() + " отключено)" : ""),
                smError);
    // A device that went away is closed, so that it can be opened again
    // when it comes back.
    if (lost) {
        ComPort->Close();
        ComFailure.clear();
        ComRetryMessage();
        StartComReopenTimer();
    }
}

void TBoilerRoom::ComRetryMessage() {
    if (Running)
        LinkMessage("Повтор открытия COM-порта для связи с ",
                    " через " + std::to_string(ReconnectLongMs() / 1000) + " сек.", smInfo);
}

// While the object runs and its port is shut, the port is tried every
// ReconnectLong seconds, as a TCP link reconnects.
void TBoilerRoom::StartComReopenTimer() {
    if (!Running) return;
    if (!FReconnectTimer) {
        FReconnectTimer = std::make_unique<TTimer>();
        FReconnectTimer->SetOnTimer([this] {
            FReconnectTimer->SetEnabled(false);
            if (Running && ComPort && !ComPort->IsOpen()) OpenComPort();
        });
    }
    FReconnectTimer->SetInterval(ReconnectLongMs());
    FReconnectTimer->SetEnabled(true);
}

void TBoilerRoom::ComOpen() {
    ComFailure.clear();
    Connected = true;
    SetNoAnswer(false);
    StopProcessTimer();
    SetState(bsConnected);
    LinkMessage("COM-порт для связи с ", " открыт", smInfo);
    ConnectAttempt = 0;
    if (FRequestTimer && FRequestTimer->Enabled()) RequestTimerTick();
}

void TBoilerRoom::ComClose() {
    Connected = false;
    SetNoAnswer(false);
    StopProcessTimer();
    AnswerPending = false;
    FAnswerTimer.SetEnabled(false);
    SetState(bsNotConnected);
    LinkMessage("COM-порт для связи с ", " закрыт", smInfo);
}

// TCP link --------------------------------------------------------------------

// Intervals and counts below 1 (a missing settings file reads as all zero)
// would stop reconnecting for good; they take the settings' defaults.
uint32_t TBoilerRoom::ReconnectQuickMs() const {
    return uint32_t(Settings->ReconnectQuick >= 1 ? Settings->ReconnectQuick : 1) * 1000u;
}

uint32_t TBoilerRoom::ReconnectLongMs() const {
    return uint32_t(Settings->ReconnectLong >= 1 ? Settings->ReconnectLong : 60) * 1000u;
}

int TBoilerRoom::MaxConnectTry() const {
    return Settings->MaxConnectTry >= 1 ? Settings->MaxConnectTry : 5;
}

void TBoilerRoom::SetTCPConnection(const std::string& host, int port) {
    LinkKind = lkTCP;
    ReleaseLinks();
    Socket = std::make_unique<TClientSocket>();
    Socket->Host = host;
    Socket->Port = port;
    Socket->OnRead = [this](const std::string& bytes) { RxBuffer.AddString(bytes); };
    AttachSocketEvents();
}

void TBoilerRoom::AttachSocketEvents() {
    Socket->OnConnect = [this] { SocketConnect(); };
    Socket->OnDisconnect = [this] { SocketDisconnect(); };
    Socket->OnError = [this](int& code) { SocketError(code); };
}

void TBoilerRoom::TryConnect() {
    if (!Running || !Socket) return;
    ++ConnectAttempt;
    if (ConnectAttempt <= MaxConnectTry()) {
        AttachSocketEvents();
        ResetRxBuffer();
        Socket->Open();
        return;
    }
    SetNoAnswer(true);
    SetState(bsUndefined);
    ConnectAttempt = 1;
    // The first series may end before any reconnect timer was made.
    if (!FReconnectTimer) {
        FReconnectTimer = std::make_unique<TTimer>();
        FReconnectTimer->SetOnTimer([this] { ReconnectTick(); });
    }
    FReconnectTimer->SetInterval(ReconnectLongMs());
    FReconnectTimer->SetEnabled(false);
    LinkMessage("Количество попыток связи с ",
                " исчерпано. Повтор соединения через " + std::to_string(ReconnectLongMs() / 1000) +
                    " сек.",
                smError);
    FReconnectTimer->SetEnabled(true);
}

void TBoilerRoom::SocketConnect() {
    Connected = true;
    SetNoAnswer(false);
    StopProcessTimer();
    SetState(bsConnected);
    LinkMessage("Соединение с ", " установлено", smInfo);
    ConnectAttempt = 0;
    if (FRequestTimer && FRequestTimer->Enabled()) RequestTimerTick();
}

void TBoilerRoom::SocketDisconnect() {
    // A link that went down carries no more requests, and the owner hears of it.
    const bool wasConnected = Connected;
    Connected = false;
    SetNoAnswer(false);
    AnswerPending = false;
    StopProcessTimer();
    SetState(bsNotConnected);
    if (wasConnected) LinkMessage("Соединение с ", " потеряно", smConnectionLost);
    if (Running) StartReconnectTimer();
}

void TBoilerRoom::SocketError(int& errorCode) {
    if (errorCode != wsaeConnRefused)
        LinkMessage("Ошибка связи с ",
                    ". Код ошибки: " + std::to_string(errorCode) + " (" +
                        SocketErrorText(errorCode) + ")",
                    smError);
    else if (Connected)
        LinkMessage("Соединение с ", " потеряно", smConnectionLost);
    if (Socket) Socket->Close();
    errorCode = 0;
    Connected = false;
    SetState(bsNotConnected);
    SetNoAnswer(ConnectAttempt >= MaxConnectTry());
    StartReconnectTimer();
}

void TBoilerRoom::StartReconnectTimer() {
    if (!Running) return;
    FReconnectTimer = std::make_unique<TTimer>();
    FReconnectTimer->SetInterval(ReconnectQuickMs());
    FReconnectTimer->SetOnTimer([this] { ReconnectTick(); });
    SetState(bsNotConnected);
    StatusChange("", smInfo);
}

void TBoilerRoom::ReconnectTick() {
    FReconnectTimer->SetEnabled(false);
    if (FReconnectTimer->Interval() == ReconnectLongMs())
        FReconnectTimer->SetInterval(ReconnectQuickMs());
    SetState(bsConnecting);
    if (!Connected) AttemptMessage();
    TryConnect();
}

void TBoilerRoom::AttemptMessage() {
    LinkMessage("Попытка соединения с ",
                " (" + std::to_string(ConnectAttempt) + " из " + std::to_string(MaxConnectTry()) +
                    ")...",
                smInfo);
}

// GPRS link -------------------------------------------------------------------

void TBoilerRoom::SetGPRSConnection(int portNumber, const std::string& phone,
                                    const std::string& ident) {
    if (!Manager) throw Exception("Менеджер модемов не назначен");
    LinkKind = lkGPRS;
    Manager->AttachBoilerRoom(*this, portNumber, phone, ident);
}

// DDE link --------------------------------------------------------------------

void TBoilerRoom::SetDDEConnection(const std::string& serviceName) {
    LinkKind = lkDDE;
    DDEServiceName = serviceName;
    State = bsNotConnected;
    Connected = true;
    FDDETimer = std::make_unique<TTimer>();
    FDDETimer->SetOnTimer([this] { PollDDE(); });
    SetRequestInterval(0);
}

void TBoilerRoom::SetRequestInterval(int seconds) {
    if (!FDDETimer) return;
    FDDETimer->SetInterval(uint32_t(std::max(seconds, 1)) * 1000u);
    FDDETimer->SetEnabled(seconds >= 1);
}

// Opens the conversation of every item the object uses; the values are dropped.
void TBoilerRoom::OpenDDEItems() {
    std::string value;
    for (int i = 0; i < Commands.Count(); ++i) {
        const tCommandDefinitionItem& c = *Commands.Items(i);
        OPCServer->ReadItem(c.VarPath, c.VarName, value);
    }
    for (int i = 0; i < OPCMap.States.Count(); ++i) {
        const TOPCMapState& st = *OPCMap.States.GetItem(i);
        OPCServer->ReadItem(st.Path, st.Item, value);
    }
    for (int i = 0; i < OPCMap.Vars.Count(); ++i) {
        const TOPCMapVar& v = *OPCMap.Vars.GetItem(i);
        OPCServer->ReadItem(v.Path, v.Name, value);
    }
}

void TBoilerRoom::PollDDE() {
    // A tick inside the owner's handling of the last packet (a decode runs
    // the loop) waits for the next one: packets of one object never overlap.
    if (Framing) return;
    Framing = true;
    // The owner's handler may free this object: the flag is cleared only if it lives.
    const std::shared_ptr<bool> alive = FAlive;
    TScopeExit done([&] {
        if (*alive) Framing = false;
    });
    const std::string text = ReadOPCValues();
    // A source that stays down is said once as it goes and once as it is back.
    if (OPCReadError != OPCFailureSaid && (OPCReadError.empty() || OPCFailureSaid.empty())) {
        OPCFailureSaid = OPCReadError;
        if (OPCReadError.empty())
            LinkMessage("Чтение OPC/DDE для ", " восстановлено", smInfo);
        else
            LinkMessage("Ошибка чтения OPC/DDE для ", ": " + OPCReadError, smError);
        if (!*alive) return;
    }
    if (OnData) OnData(*this, text);
}

std::string TBoilerRoom::ReadOPCValues() {
    TMutexHold hold(OPCRMMutex);
    OPCReadError = "клиент не запущен";
    if (!OPCServer) return {};
    // Reads one item; false with OPCReadError naming it and the reason.
    auto read = [&](const std::string& topic, const std::string& item, std::string& value) {
        const std::string where =
            "сервис " + DDEServiceName + ", раздел " + topic + ", элемент " + item + ": ";
        if (!OPCServer->ReadItem(topic, item, value)) {
            OPCReadError = where + "нет связи с сервисом";
            return false;
        }
        value = Trim(value);
        if (value.empty()) {
            OPCReadError = where + "значение не получено";
            return false;
        }
        OPCReadError = where + "значение \"" + value + "\" не является числом";
        return true;
    };
    try {
        std::string value;
        for (int i = 0; i < OPCMap.States.Count(); ++i) {
            TOPCMapState& st = *OPCMap.States.GetItem(i);
            if (!st.HasSource()) continue;
            int v;
            if (!read(st.Path, st.Item, value) || !TryStrToInt(value, v)) return {};
            st.Value = v;
        }
        for (int i = 0; i < OPCMap.Vars.Count(); ++i) {
            TOPCMapVar& var = *OPCMap.Vars.GetItem(i);
            if (!read(var.Path, var.Name, value)) return {};
            for (char& c : value)
                if (c == ',' || c == '.') c = DecimalSeparator;
            double d;
            if (!TryStrToFloat(value, d)) return {};
            var.Value = float(d);
        }
        std::string hex;
        ByteListToHex(OPCMap.BuildPacket(), hex);
        OPCReadError.clear();
        return hex;
    } catch (const std::exception& e) {
        // A map that cannot make a sound packet gives no packet at all.
        Trace("DDE: " + std::string(e.what()));
        OPCReadError = e.what();
        return {};
    }
}

void TBoilerRoom::WriteOPCValue(const std::string& path, const std::string& item,
                                const std::string& value) {
    if (State != bsConnected) return;
    bool sent = false;
    {
        TMutexHold hold(OPCRMMutex);
        try {
            // The server's answer counts: a write it refused is not reported as sent.
            sent = LinkKind == lkDDE && OPCServer && OPCServer->WriteItem(path, item, value);
        } catch (const std::exception&) {
            sent = false;
        }
    }
    if (OnDataSent) OnDataSent(*this, path + "." + item + " = " + value, sent);
}

} // namespace nuq

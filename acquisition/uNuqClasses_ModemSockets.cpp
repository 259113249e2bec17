// The modem's socket services: accepting controllers' connections, reading
// and reassembling their packets, identification and sending text.

#include "acquisition/uNuqClasses_Modem.h"

#include <algorithm>

#include "acquisition/uNuqClasses_ModemUtil.h"
#include "foundation/fhStrUtils.h"
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

// Text a controller keeps sending without ever closing its bracket is not
// kept without bound: past this much the unfinished head is given up.
constexpr size_t MaxSocketBuffer = 16384;

} // namespace

// ---- reassembly, on its own

std::vector<std::string> CutPackets(std::string& buf) {
    std::vector<std::string> packets;
    for (;;) {
        const size_t lt = buf.find('<');
        if (lt == std::string::npos) {
            // Text outside brackets is never packet data.
            buf.clear();
            break;
        }
        buf.erase(0, lt);
        const size_t gt = buf.find('>');
        if (gt == std::string::npos) break; // the rest comes with a later read
        // A packet holds no "<": an opening bracket that was never closed
        // before a newer one began is given up, not glued to the newer packet.
        const size_t start = buf.rfind('<', gt);
        std::string packet = buf.substr(start + 1, gt - start - 1);
        buf.erase(0, gt + 1);
        // An empty pair is dropped; left in place it would hold up every
        // packet behind it.
        if (!packet.empty()) packets.push_back(std::move(packet));
    }
    if (buf.size() > MaxSocketBuffer) buf.clear();
    return packets;
}

std::string IdentOf(const std::string& packet) {
    const size_t p = packet.find("ID:");
    if (p == std::string::npos) return "";
    const size_t comma = packet.find(',', p + 3);
    if (comma == std::string::npos) return "";
    return Trim(packet.substr(p + 3, comma - p - 3));
}

// ---- the socket buffers

std::string TGPRSModem::SocketBuffer(int socket) const {
    const std::string name = std::string("S").append(std::to_string(socket)).append("=");
    for (const std::string& s : SocketBuffers)
        if (s.compare(0, name.size(), name) == 0) return s.substr(name.size());
    return "";
}

void TGPRSModem::SetSocketBuffer(int socket, const std::string& text) {
    const std::string name = std::string("S").append(std::to_string(socket)).append("=");
    for (std::string& s : SocketBuffers)
        if (s.compare(0, name.size(), name) == 0) {
            s = name + text;
            return;
        }
    SocketBuffers.push_back(name + text);
}

// ---- accepting and reading

bool TGPRSModem::ProcessIncomingConnect(int socket) {
    const std::string n = std::to_string(socket);
    const bool ok = SendCommand("at^siso=" + n + CRLF) && WaitAnswer("OK", SocketOpenMs);
    if (IsDestroying() || IsStopping()) return ok;
    if (ok) {
        if (std::find(Sockets.begin(), Sockets.end(), socket) == Sockets.end())
            Sockets.push_back(socket);
        FReadTimer->SetEnabled(true);
        FWhoIsTimer->SetEnabled(true);
    } else {
        CloseSocket(socket);
        Report("Не удалось открыть входящий сокет. Закрываем его.", true);
    }
    return ok;
}

void TGPRSModem::ReadTimerTick() {
    if (IsDestroying() || IsNotRunning()) return;
    if (Sending) {
        // Not skipped for a whole period: a socket whose data-ready notice
        // was lost is read only here.
        FReadTimer->SetInterval(300);
        return;
    }
    FReadTimer->SetInterval(ReadPeriodMs);
    AddTask(ttReadData, "");
}

bool TGPRSModem::ReadAll() {
    if (ReadingAll) return false;
    TBusy reading(ReadingAll);
    const std::vector<int> sockets = Sockets; // a read's waits may change the list
    for (int s : sockets) ReadDataFromSocket(s);
    return true;
}

bool TGPRSModem::ReadDataFromSocket(int socket) {
    if (socket < 0) return true;
    const bool ok = SendCommand("AT^SISR=" + std::to_string(socket) + ",1500" + CRLF) &&
                    WaitAnswer("OK", CommandAnswerMs) && WaitAnswer("OK", CommandAnswerMs);
    if (!ok) Trace("--! Не удалось выполнить команду чтения данных. Попробуем в следующий раз.");
    return ok;
}

// ---- packets

void TGPRSModem::ProcessIncomingPacket(int socket, const std::string& data) {
    const std::string n = std::to_string(socket);
    std::string clean;
    for (const std::string& line : SplitLines(ReplaceStr(data, "\x01", CRLF))) {
        if (line.empty() || line == "OK" || line[0] == '^') continue;
        clean += line;
    }
    const std::string old = SocketBuffer(socket);
    Trace("Пакет для обработки: " + clean);
    Trace("<< Буфер данных сокета №" + n + " >>");
    Trace("Был:  " + old);
    std::string buf = old + clean;
    Trace("Стал: " + buf);
    const std::vector<std::string> packets = CutPackets(buf);
    SetSocketBuffer(socket, buf);

    for (const std::string& raw : packets) {
        const std::string packet = Trim(raw);
        Trace(" buffer: " + packet);
        const std::string id = IdentOf(packet);
        if (!id.empty()) {
            Identify(socket, id);
            continue;
        }
        TAttachedBoilerRoom* a = Attached.FindByChannel(socket);
        if (a) {
            TBoilerRoom& room = *a->BoilerRoom;
            for (const std::string& line : SplitLines(packet)) {
                const std::string l = Trim(line);
                if (l.empty()) continue;
                Trace(" process packet " + l + " for " + room.Name);
                const std::shared_ptr<const bool> alive = room.AliveFlag();
                if (room.OnData) room.OnData(room, l);
                // Its owner may have freed the object from the handler, and
                // our entry of it with it: nothing more is read for it now.
                if (!*alive) return;
                room.RecreateRequestTimer();
            }
        } else {
            const std::string upper = UpperCase(packet);
            if (!upper.empty() && upper != "OK") {
                QueueWhoIs(socket);
                Report("Зарегистрирован прием инфопакета без предварительной идентификации. "
                       "Отправлен запрос на аутентификацию.");
            }
        }
    }

    // Sockets nobody uses are closed once every attached object has its own.
    for (const auto& a : Attached)
        if (a->Channel <= 0) return;
    const std::vector<int> sockets = Sockets;
    for (int s : sockets) {
        if (Attached.FindByChannel(s)) continue;
        CloseSocket(s);
        Report("Выполнено закрытие не используемого канала связи.", true);
    }
}

void TGPRSModem::Identify(int socket, const std::string& id) {
    TAttachedBoilerRoom* a = Attached.FindByIdent(id);
    if (!a) {
        CloseSocket(socket);
        Report("Получен запрос на соединение от неизвестного объекта. Идентификатор: " + id +
               ".  Выполнено закрытие канала связи.");
        return;
    }
    TBoilerRoom& room = *a->BoilerRoom;
    a->ProcessTimer.reset();
    if (a->Channel >= 1 && a->Channel != socket) {
        CloseSocket(a->Channel);
        Trace("Освобождение неиспользуемого канала для связи с " + Quoted(*a) + " выполнено.");
    }
    a->Channel = socket;
    a->LinkState = lsConnected;
    room.Connected = true;
    if (!IsStopping() && !IsNotRunning()) room.SetState(bsConnected);
    room.SetNoAnswer(false);
    room.StopProcessTimer();
    room.FailedRequests = 0;
    a->Identified = true;
    if (room.OnStatusChange) room.OnStatusChange(room, "", smInfo);
    if (room.OnConnected) room.OnConnected(room, room.Status == 1 ? room.RequestPeriod : 0);
    Report("Cоединение с " + Quoted(*a) + " установлено");
}

// ---- asking who is there

void TGPRSModem::QueueWhoIs(int socket) {
    if (IsDestroying() || IsNotRunning() || !Online) return;
    AddTask(ttSendWhoIS, std::to_string(socket) + TaskParamSplit + "WHO IS?" + CRLF);
}

void TGPRSModem::WhoIsTimerTick() {
    bool found = false;
    const std::vector<int> sockets = Sockets;
    for (int s : sockets)
        if (!Attached.FindByChannel(s)) {
            found = true;
            QueueWhoIs(s);
        }
    FWhoIsTimer->SetEnabled(found);
}

// ---- sending

bool TGPRSModem::DoSendText(int socket, const std::string& text) {
    if (socket < 0) return true;
    if (ReadingAll || Sending) return false;
    TBusy sending(Sending);
    const std::string n = std::to_string(socket);
    // The modem takes exactly the announced number of bytes as data, counted
    // in the port's code page: the text alone, which carries its own line
    // end. The CR LF behind it ends the data for the modem and never reaches
    // the controller.
    const size_t length = Utf8ToCp1251(text).size();
    if (!SendCommand("AT^SISW=" + n + "," + std::to_string(length) + CRLF)) {
        Trace("!!! Send AT^SISW to port failed");
        return false;
    }
    if (!WaitAnswer("^SISW: " + n, CommandAnswerMs))
        Trace("!!! ^SISW: not detected. Send packet to port immediate");
    if (!SendCommand(text + CRLF)) Trace("!!! Send packet to port failed");
    WaitAnyAnswer({"OK", "^SISW: " + n + ", 1", "^SISW:" + n + ",1"}, CommandAnswerMs);
    return true;
}

void TGPRSModem::SendText(TBoilerRoom& boilerRoom, const std::string& text) {
    TAttachedBoilerRoom* a = Attached.FindByBoilerRoom(&boilerRoom);
    if (!a || a->LinkState != lsConnected) return;
    Trace("TGPRSModem.SendText for BR " + boilerRoom.Name + " add task SendText " + text);
    AddTask(ttSendText, std::to_string(a->Ref) + TaskParamSplit + text);
}

void TGPRSModem::SendTaskText(TAttachedBoilerRoom& a, const std::string& text) {
    DoSendText(a.Channel, text);
    TTimer& answer = a.BoilerRoom->AnswerTimer();
    if (answer.Enabled()) {
        // The answer is awaited from the moment the text went out.
        answer.SetEnabled(false);
        answer.SetEnabled(true);
    }
}

// ---- losing and closing

void TGPRSModem::ReconnectSocket(int socket) {
    if (!Attached.FindByChannel(socket)) return;
    DrainSocket(socket);
    // Its last packets may have bound the socket elsewhere.
    TAttachedBoilerRoom* a = Attached.FindByChannel(socket);
    if (!a) return;
    Report("Потеряна связь с " + Quoted(*a) + ". Запущен процесс переподключения.");
    TBoilerRoom& room = *a->BoilerRoom;
    Stop(room);
    Start(room);
}

// A controller's last packets before it closed its connection may still be
// on their way when the loss is handled: a read answer waiting in the signal
// queue or in the task queue, or data the modem has not announced yet. They
// reach the object before its socket is closed and the object stopped;
// afterwards nobody would own them.
void TGPRSModem::DrainSocket(int socket) {
    std::vector<std::string> answers;
    const std::string queued = std::to_string(ttProcessIncomingPacket) + TaskKindEnd +
                               std::to_string(socket) + TaskParamSplit;
    {
        std::lock_guard lock(TaskLock);
        for (auto it = Tasks.begin(); it != Tasks.end();) {
            if (it->compare(0, queued.size(), queued) == 0) {
                answers.push_back(it->substr(queued.size()));
                it = Tasks.erase(it);
            } else {
                ++it;
            }
        }
    }
    // Takes this socket's read answers out of the signal queue; true when
    // one of them carried data.
    auto takeAnswers = [&]() {
        bool data = false;
        std::lock_guard lock(SignalLock);
        for (auto it = Signals.begin(); it != Signals.end();) {
            int n = 0, len = 0;
            if (it->find("^SISR:") != std::string::npos &&
                it->find("\x01OK") != std::string::npos && ParseReadAnswer(*it, n, len) &&
                n == socket) {
                if (len > 0) {
                    answers.push_back(ReplaceStr(*it, "\x01", CRLF));
                    data = true;
                }
                it = Signals.erase(it);
            } else {
                ++it;
            }
        }
        return data;
    };
    takeAnswers();
    // Bounded by what one socket's reassembly may hold.
    for (size_t reads = 0;; ++reads) {
        for (const std::string& answer : answers) ProcessIncomingPacket(socket, answer);
        answers.clear();
        if (reads * 1500 > MaxSocketBuffer || !ReadDataFromSocket(socket) || !takeAnswers()) break;
    }
}

void TGPRSModem::CloseSocket(int socket) {
    const std::string n = std::to_string(socket);
    if (SendCommand("AT^SISC=" + n + CRLF)) WaitAnswer("OK", CommandAnswerMs);
    if (SendCommand("AT^SISS=" + n + ",srvtype,none" + CRLF)) WaitAnswer("OK", CommandAnswerMs);
    auto it = std::find(Sockets.begin(), Sockets.end(), socket);
    if (it != Sockets.end()) Sockets.erase(it);
}

} // namespace nuq

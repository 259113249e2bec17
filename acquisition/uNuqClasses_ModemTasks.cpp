// The modem's task queue, and the call cycle that brings each attached
// object onto a socket.

#include "acquisition/uNuqClasses_Modem.h"

#include <algorithm>

#include "acquisition/uNuqClasses_ModemUtil.h"
#include "foundation/fhStrUtils.h"
#include "foundation/uTrace.h"
#include "foundation/uUtils.h"
#include "platform/SysUtils.h"

namespace nuq {

using namespace modem;

namespace {

std::string Quoted(const TAttachedBoilerRoom& a) {
    return "\"" + a.BoilerRoom->Name + "\"";
}

void StatusChanged(TBoilerRoom& room) {
    if (room.OnStatusChange) room.OnStatusChange(room, "", smInfo);
}

} // namespace

void TGPRSModem::AddTask(uint8_t kind, const std::string& param) {
    const std::string entry = std::to_string(kind) + TaskKindEnd + param;
    Trace("TGPRSModem.AddTask (" + ReplaceStr(entry, "\r\n", " <CR><LF> ") + ")");
    {
        std::lock_guard lock(TaskLock);
        // Work asked for again while it waits is done once: a busy modem
        // must not let polling requests pile up. A packet read from a socket
        // is data, though: the same text read twice is two packets.
        if (kind == ttProcessIncomingPacket || !ContainsText(Tasks, entry)) Tasks.push_back(entry);
    }
    FTaskTimer->SetEnabled(true);
}

void TGPRSModem::TaskTimerTick() {
    FTaskTimer->SetEnabled(false);
    bool signalsWaiting;
    {
        std::lock_guard lock(SignalLock);
        signalsWaiting = !Signals.empty();
    }
    if (signalsWaiting) {
        // Signals go first; their run enables this timer again when it ends.
        FSignalTimer->SetEnabled(true);
        return;
    }
    if (ProcessingSignals) {
        FTaskTimer->SetEnabled(true);
        return;
    }
    try {
        ExecuteTasks();
    } catch (const std::exception& e) {
        Trace("!!! ExecuteTasks: " + std::string(e.what()));
    }
}

void TGPRSModem::ExecuteTasks() {
    if (IsDestroying() || IsStopping() || IsNotRunning()) return;
    const std::string id = NewGuidText();
    Trace("ExecuteTasks " + id + " start");
    if (ExecutingTasks || Sending || ReadingAll || Extracting || Dialling || ProcessingSignals ||
        Answering) {
        Trace("ExecuteTasks " + id + " another process executing.. Exit;");
        FTaskTimer->SetEnabled(true);
        return;
    }
    TDepth dialogue(DialogueDepth);
    {
        TBusy executing(ExecutingTasks);
        for (;;) {
            if (IsDestroying() || IsStopping() || IsNotRunning()) break;
            std::string entry;
            {
                std::lock_guard lock(TaskLock);
                if (Tasks.empty()) break;
                entry = Tasks.front();
            }
            TraceQueue("--- All tasks ------------------------", "== ", Tasks, TaskLock);
            try {
                RunTask(entry, id);
            } catch (const std::exception& e) {
                // A failing task is dropped: left at the head it would fail
                // on every tick and hold up everything queued behind it.
                Trace("!!! ExecuteTasks " + id + " task " + entry + " failed: " + e.what());
            }
            Trace("ExecuteTasks " + id + " delete task " + entry + " from queue");
            RemoveTask(entry);
        }
        bool empty;
        {
            std::lock_guard lock(TaskLock);
            empty = Tasks.empty();
        }
        if (empty) FTaskTimer->SetEnabled(false);
    }
    Trace("ExecuteTasks " + id + " exit");
}

void TGPRSModem::RemoveTask(const std::string& entry) {
    std::lock_guard lock(TaskLock);
    // By its text: the task itself may have emptied or refilled the queue.
    auto it = std::find(Tasks.begin(), Tasks.end(), entry);
    if (it != Tasks.end()) Tasks.erase(it);
}

TAttachedBoilerRoom* TGPRSModem::TaskObject(const std::string& param) const {
    int ref = 0;
    return DecimalField(param, ref) ? Attached.FindByRef(ref) : nullptr;
}

void TGPRSModem::RunTask(const std::string& entry, const std::string& id) {
    const size_t k = entry.find(TaskKindEnd);
    int kind = -1;
    if (k == std::string::npos || !DecimalField(entry.substr(0, k), kind)) {
        Trace("ExecuteTasks " + id + " unknown task " + entry);
        return;
    }
    const std::string param = entry.substr(k + 1);
    const size_t split = param.find(TaskParamSplit);
    const std::string first = param.substr(0, split);
    const std::string second = split == std::string::npos ? "" : param.substr(split + 1);
    Trace("ExecuteTasks " + id + " start task " + TaskKindName(kind));
    int n = 0;
    auto object = [&]() -> TAttachedBoilerRoom* {
        TAttachedBoilerRoom* a = TaskObject(first);
        if (!a) Trace("ExecuteTasks " + id + " no object for task " + entry);
        return a;
    };
    auto socket = [&]() -> bool {
        if (DecimalField(first, n)) return true;
        Trace("ExecuteTasks " + id + " no socket number in task " + entry);
        return false;
    };
    switch (kind) {
    case ttConnectToInternet:
        ConnectToInternet();
        break;
    case ttProcessIncomingConnect:
        if (socket()) ProcessIncomingConnect(n);
        break;
    case ttReadData:
        ReadAll();
        break;
    case ttProcessIncomingPacket:
        if (socket()) ProcessIncomingPacket(n, second);
        break;
    case ttSendConfigurationToBoilerRoom:
        if (auto* a = object()) SendConfigurationToBoilerRoom(*a);
        break;
    case ttCallToBoilerRoom:
        if (auto* a = object()) CallToBoilerRoom(*a);
        break;
    case ttSendText:
        if (auto* a = object()) SendTaskText(*a, second);
        break;
    case ttGetBalance:
        RequestBalance();
        break;
    case ttReconnect:
        if (socket()) ReconnectSocket(n);
        break;
    case ttCSDIdentWithBoilerRoom:
        if (auto* a = object()) CSDIdent(*a);
        break;
    case ttSendWhoIS:
        if (socket()) DoSendText(n, second);
        break;
    default:
        Trace("ExecuteTasks " + id + " unknown task " + entry);
        break;
    }
}

// ---- call cycle

void TGPRSModem::Start(TBoilerRoom& boilerRoom) {
    Trace("TGPRSModem.Start start for BR " + boilerRoom.Name);
    TAttachedBoilerRoom* a = Attached.FindByBoilerRoom(&boilerRoom);
    if (!a || a->LinkState != lsIdle) return;
    a->SetStatusText("Подключение к сети...");
    a->Channel = -1;
    Trace("TGPRSModem.Start " + boilerRoom.Name + " ChannelNumber = -1");
    a->ProcessTimer = std::make_unique<TTimer>();
    a->ProcessTimer->SetEnabled(false);
    a->ProcessTimer->SetInterval(Online ? uint32_t(std::max(Settings.ReCallStep, 0)) * 1000u
                                        : 500u);
    if (boilerRoom.GPRSCallMode == 1) {
        a->ProcessTimer->SetOnTimer([this, a] { CSDTick(*a); });
        Trace("TGPRSModem.Start " + boilerRoom.Name +
              " запуск таймера для инициализации обмена по CSD");
    } else {
        a->ProcessTimer->SetOnTimer([this, a] { ConfigurationTick(*a); });
        Trace("TGPRSModem.Start " + boilerRoom.Name +
              " запуск таймера для отправки конфигурационнной SMS");
    }
    a->ProcessTimer->SetEnabled(true);
    Trace("TGPRSModem.Start exit for BR " + boilerRoom.Name);
}

void TGPRSModem::ConfigurationTick(TAttachedBoilerRoom& a) {
    if (IsDestroying() || IsNotRunning() || !Online) return;
    a.ProcessTimer->SetEnabled(false);
    AddTask(ttSendConfigurationToBoilerRoom, std::to_string(a.Ref));
    a.SetStatusText("Запрос идентификации...");
}

void TGPRSModem::CSDTick(TAttachedBoilerRoom& a) {
    if (IsDestroying() || IsNotRunning() || !Online) return;
    a.ProcessTimer->SetEnabled(false);
    AddTask(ttCSDIdentWithBoilerRoom, std::to_string(a.Ref));
    a.SetStatusText("Запрос идентификации...");
}

bool TGPRSModem::CallInProgress(TAttachedBoilerRoom& a) {
    if (!Answering && !Dialling) return false;
    // The tick came inside a call's waits: what it may lead to (a recall, a
    // give-up and the operator's reconnect) would write into the live call.
    // It runs once the call has ended.
    a.ProcessTimer->SetInterval(300);
    return true;
}

void TGPRSModem::ReCallTick(TAttachedBoilerRoom& a) {
    if (!Online || CallInProgress(a)) return;
    a.ProcessTimer->SetEnabled(false);
    a.SetStatusText("Дозвон...");
    ProcessReCall(a);
}

void TGPRSModem::AnswerWaitTick(TAttachedBoilerRoom& a) {
    if (!Online || a.LinkState != lsWaitingConnection || CallInProgress(a)) return;
    a.ProcessTimer->SetEnabled(false);
    a.SetStatusText("Нет ответа...");
    ProcessWaitAnswerFromBoilerRoomTimeout(a);
}

void TGPRSModem::ProcessReCall(TAttachedBoilerRoom& a) {
    Trace("TGPRSModem.ProcessReCall");
    TBoilerRoom& room = *a.BoilerRoom;
    if (room.GPRSCallMode == 1 && a.ReCallCount == 0) a.ReCallCount = 1;
    ++a.ReCallCount;
    if (a.ReCallCount <= Settings.ReCallTryMax) {
        if (room.GPRSCallMode == 1) {
            Trace("TGPRSModem.ProcessReCall AddTask ttCSDIdentWithBoilerRoom");
            AddTask(ttCSDIdentWithBoilerRoom, std::to_string(a.Ref));
        } else {
            Trace("TGPRSModem.ProcessReCall AddTask ttCallToBoilerRoom");
            AddTask(ttCallToBoilerRoom, std::to_string(a.Ref));
        }
        return;
    }
    a.ReCallCount = 0;
    if (a.ProcessTimer) a.ProcessTimer->SetEnabled(false);
    a.LinkState = lsIdle;
    room.SetState(bsNotConnected);
    room.SetNoAnswer(true);
    room.Connected = false;
    StatusChanged(room);
    Report("Не удалось подключиться к " + Quoted(a));
    room.SetNoAnswer(true);
    room.SetState(bsNoAnswer);
    CheckNoObjectAnswers();
}

void TGPRSModem::ProcessWaitAnswerFromBoilerRoomTimeout(TAttachedBoilerRoom& a) {
    Trace("TGPRSModem.ProcessWaitAnswerFromBoilerRoomTimeout");
    TBoilerRoom& room = *a.BoilerRoom;
    a.LinkState = lsIdle;
    room.Connected = false;
    room.SetState(bsNotConnected);
    room.SetNoAnswer(true);
    StatusChanged(room);
    Report(Quoted(a) + " не отвечает.");
    ProcessReCall(a);
}

void TGPRSModem::CheckNoObjectAnswers() {
    for (const auto& a : Attached)
        if (a->LinkState == lsConnected || !a->BoilerRoom->NoAnswer) return;
    if (OnNoObjectAnswers) OnNoObjectAnswers(*this);
    Trace("Ни один объект не отвечает. Сообщаем об этом оператору");
}

void TGPRSModem::Stop(TBoilerRoom& boilerRoom) {
    Trace("TGPRSModem.Stop start for BR " + boilerRoom.Name);
    TAttachedBoilerRoom* a = Attached.FindByBoilerRoom(&boilerRoom);
    if (!a) return;
    a->ProcessTimer.reset();
    FReadTimer->SetEnabled(false);
    if (a->Channel >= 0) {
        const int channel = a->Channel;
        Trace("TGPRSModem.Stop for BR " + boilerRoom.Name + " close socket " +
              std::to_string(channel));
        const bool listed = std::find(Sockets.begin(), Sockets.end(), channel) != Sockets.end();
        CloseSocket(channel);
        if (listed)
            Trace("TGPRSModem.Stop delete socket " + std::to_string(channel) +
                  " from process list");
    }
    // The other sockets are still read: one whose data-ready notice was lost
    // is read only by the period, and a silent modem would never switch it
    // on again.
    if (!Sockets.empty()) FReadTimer->SetEnabled(true);
    a->Channel = -1;
    Trace("TGPRSModem.Stop for BR " + boilerRoom.Name + " ChannelNumber := -1");
    a->LinkState = lsIdle;
    boilerRoom.SetState(bsNotConnected);
    boilerRoom.SetNoAnswer(false);
    boilerRoom.StopProcessTimer();
    boilerRoom.Connected = false;
    StatusChanged(boilerRoom);
    Trace("TGPRSModem.Stop exit for BR " + boilerRoom.Name);
}

std::array<TGPRSModem::TPausedTimer, 4> TGPRSModem::PausableTimers(const TAttachedBoilerRoom& a) {
    TBoilerRoom& room = *a.BoilerRoom;
    return {{{a.ProcessTimer.get(), nullptr},
             {room.RequestTimer(), &room},
             {room.ReconnectTimer(), nullptr},
             {&room.AnswerTimer(), nullptr}}};
}

void TGPRSModem::PauseTimers(bool pause) {
    if (pause) {
        PausedTimers.clear();
        for (const auto& a : Attached)
            for (const TPausedTimer& p : PausableTimers(*a))
                if (p.Timer && p.Timer->Enabled()) {
                    PausedTimers.push_back(p);
                    p.Timer->SetEnabled(false);
                }
        return;
    }
    // The call's waits may have freed or replaced some of them: only timers
    // that still belong to an attached object are switched on again.
    auto alive = [this](const TTimer* t) {
        for (const auto& a : Attached)
            for (const TPausedTimer& p : PausableTimers(*a))
                if (p.Timer == t) return true;
        return false;
    };
    std::vector<TPausedTimer> paused;
    paused.swap(PausedTimers);
    for (const TPausedTimer& p : paused) {
        if (!alive(p.Timer)) continue;
        if (p.RequestOf) {
            if (p.Timer == p.RequestOf->RequestTimer() && p.RequestOf->GetStatus() == 1)
                p.Timer->SetEnabled(true);
        } else {
            p.Timer->SetEnabled(true);
        }
        Delay(200);
    }
}

} // namespace nuq

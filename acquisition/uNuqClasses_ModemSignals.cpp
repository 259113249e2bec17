// The modem's receive path: unsolicited signals cut out of its stream into a
// queue, and their handling.

#include "acquisition/uNuqClasses_Modem.h"

#include "acquisition/uNuqClasses_ModemUtil.h"
#include "foundation/fhStrUtils.h"
#include "foundation/uTrace.h"
#include "foundation/uUtils.h"
#include "platform/ScopeGuard.h"
#include "platform/SysUtils.h"

namespace nuq {

using namespace modem;

bool CutSignal(tBuffer& rx, std::string_view start, std::string_view end, std::string& entry) {
    const int s = rx.Find(start);
    if (s < 0) return false;
    const int from = s + int(start.size());
    const int e = rx.Find(end, from);
    if (e < 0) return false;
    const std::string between = rx.AsString().substr(size_t(from), size_t(e - from));
    // The end marker stays: the "OK" closing a read answer belongs to the
    // dialogue that waits for it.
    rx.Delete(s, e - s, true);
    entry = ReplaceStr(std::string(start) + ReplaceStr(between, "\r\n", "\x01") + std::string(end),
                       "\r\nOK\r\n", "\x01OK\x01");
    return true;
}

void TGPRSModem::ReceiveText(const std::string& text) {
    RxBuffer.AddString(text);
    ExtractSignals();
}

bool TGPRSModem::ExtractSignal(std::string_view start, std::string_view end) {
    std::string entry;
    if (!CutSignal(RxBuffer, start, end, entry)) return false;
    // A read answer carries a socket's data: the same packet read twice is
    // two packets, not a repeated notice.
    const bool data = start == "^SISR:";
    try {
        std::lock_guard lock(SignalLock);
        if (!data && ContainsText(Signals, entry)) {
            Trace("-> ???? Зарегистрирован сигнал: " + entry +
                  ". Сигнал в очередь обработки не добавлен, так как он в ней уже присутствует.");
        } else {
            Trace("-> Зарегистрирован сигнал: " + entry);
            Signals.push_back(entry);
            Trace("-> Signal " + entry + " inserted in index - " +
                  std::to_string(Signals.size() - 1));
        }
    } catch (const std::exception& e) {
        Trace("-> ???? Зарегистрирован сигнал: " + entry +
              ". Не удалось добавить его в очередь обработки. Ошибка: " + e.what());
    }
    return true;
}

void TGPRSModem::ExtractSignals() {
    {
        TBusy extracting(Extracting);
        while (!IsDestroying() && !IsStopping() && !IsNotRunning()) {
            bool found = ExtractSignal("+CLIP:", CRLF) || ExtractSignal("^SIS:", CRLF) ||
                         ExtractSignal("+CUSD:", CRLF) || ExtractSignal("+CMTI:", CRLF);
            for (int n = 1; n <= 9; ++n) {
                const std::string ready = "^SISR: " + std::to_string(n) + ", 1\r";
                bool r = ExtractSignal(ready, "\n");
                if (!r) r = ExtractSignal(ready, "\n");
                if (r) {
                    // The read this announces covers every socket: the
                    // periodic one can start its period again.
                    FReadTimer->SetEnabled(false);
                    FReadTimer->SetEnabled(true);
                } else if (!FReadTimer->Enabled()) {
                    // Any other text only switches it on. Restarting it here
                    // would hold it off for as long as the modem talks, and
                    // a socket whose read failed is announced no more.
                    FReadTimer->SetEnabled(true);
                }
                found = found || r;
            }
            if (!found && !ExtractSignal("^SISR:", "\r\nOK\r\n")) break;
        }
        TraceQueue("--- All extracted packets --------------", "++ ", Signals, SignalLock);
    }
    FSignalTimer->SetEnabled(true);
}

void TGPRSModem::TraceQueue(const std::string& title, const std::string& prefix,
                            const std::vector<std::string>& list, std::recursive_mutex& lock) {
    std::string text = title + "\n";
    {
        std::lock_guard hold(lock);
        for (const auto& s : list) text += prefix + s + "\n";
    }
    Trace(text + "----------------------------------------");
}

void TGPRSModem::SignalTimerTick() {
    FSignalTimer->SetEnabled(false);
    if (IsDestroying() || IsNotRunning()) return;
    if (Sending || ReadingAll || Extracting || ExecutingTasks || ProcessingSignals) {
        FSignalTimer->SetEnabled(true);
        return;
    }
    try {
        ProcessIncomingData();
    } catch (const std::exception& e) {
        Trace("!!! ProcessIncomingData: " + std::string(e.what()));
    }
}

namespace {

// The text after Marker in S, upper-cased and trimmed.
std::string AfterMarker(const std::string& s, const std::string& marker) {
    const size_t p = s.find(marker);
    return p == std::string::npos ? "" : Trim(UpperCase(s.substr(p + marker.size())));
}

} // namespace

void TGPRSModem::ProcessIncomingData() {
    if (IsDestroying() || IsStopping() || IsNotRunning() || ProcessingSignals) return;
    const std::string id = NewGuidText();
    if (Extracting) {
        FSignalTimer->SetEnabled(true);
        Trace("ProcessIncomingData " + id + " already executing. skip");
        return;
    }
    TDepth dialogue(DialogueDepth);
    // However the run ends, the modem's tasks go on after it.
    TScopeExit resumeTasks([this] { FTaskTimer->SetEnabled(true); });
    {
        TBusy processing(ProcessingSignals);
        FSignalTimer->SetEnabled(false);
        for (;;) {
            if (IsDestroying() || IsStopping() || IsNotRunning()) break;
            std::string s;
            {
                std::lock_guard lock(SignalLock);
                if (Signals.empty()) break;
                s = Signals.front();
            }
            TraceQueue("--- All processe signals ---------------", ":: ", Signals, SignalLock);
            Trace("-> Обрабатываем сигнал: " + s);
            bool postponed = false;
            // A signal that breaks the run goes with it: left at the head it
            // would break every later run too.
            TScopeExit done([&] {
                if (!postponed) RemoveSignal(s);
            });
            if (s.find("+CLIP:") != std::string::npos) HandleCallerId(s, postponed);
            if (postponed) {
                // A second call while one is being answered: on a later tick.
                processing.Release();
                return;
            }
            if (s.find("^SIS:") != std::string::npos) HandleServiceEvent(s);
            if (s.find("^SISR:") != std::string::npos) {
                if (s.find("\x01OK") == std::string::npos)
                    AddTask(ttReadData, "");
                else
                    HandleReadAnswer(s, id);
            }
            if (s.find("+CUSD:") != std::string::npos) {
                const size_t q1 = s.find('"');
                const size_t q2 = q1 == std::string::npos ? q1 : s.find('"', q1 + 1);
                if (q2 == std::string::npos)
                    Trace("ProcessIncomingData " + id + " +CUSD: no reply text. Skip.");
                else if (OnBalance)
                    OnBalance(ModemData.PortNumber, s.substr(q1 + 1, q2 - q1 - 1));
            }
            if (s.find("+CMTI:") != std::string::npos) HandleNewSms(s);
        }
    }
    Trace("ProcessIncomingData " + id + " exit");
}

void TGPRSModem::RemoveSignal(const std::string& s) {
    Trace("-> Удаляем сигнал: " + s);
    std::lock_guard lock(SignalLock);
    Trace("Signal " + s + " deleting...");
    // By its text: a handler's waits may have changed the queue meanwhile.
    for (auto it = Signals.begin(); it != Signals.end(); ++it)
        if (*it == s) {
            Signals.erase(it);
            break;
        }
    Trace("Signal deleted");
}

void TGPRSModem::HandleCallerId(const std::string& s, bool& postponed) {
    const std::string phone =
        WithoutQuotes(Trim(SplitFields(AfterMarker(s, "+CLIP:"), ",\x01")[0]));
    TAttachedBoilerRoom* a = phone.empty() ? nullptr : Attached.FindByPhone(phone);
    if (!a) {
        if (SendCommand("ATH" + CRLF)) WaitAnswer("OK", SlowCommandAnswerMs);
        return;
    }
    if (a->BoilerRoom->GPRSCallMode == 1) {
        if (Answering) {
            postponed = true;
            return;
        }
        TBusy answering(Answering);
        if (SendCommand("ATA" + CRLF)) CSDExchange(*a);
        return;
    }
    if (SendCommand("ATH" + CRLF)) WaitAnswer("OK", SlowCommandAnswerMs);
    a->Identified = false;
    AddTask(ttSendConfigurationToBoilerRoom, std::to_string(a->Ref));
}

void TGPRSModem::HandleServiceEvent(const std::string& s) {
    const std::vector<std::string> f = SplitFields(AfterMarker(s, "^SIS:"), ",\r\n\x01");
    int f1 = 0, f2 = 0, f3 = 0;
    if (f.size() < 2 || !DecimalField(f[0], f1) || !DecimalField(f[1], f2)) {
        Trace("-> Сигнал " + s + " не разобран. Пропускаем.");
        return;
    }
    if (f2 != 0) {
        if (f.size() < 3 || !DecimalField(f[2], f3)) {
            Trace("-> Сигнал " + s + " не разобран. Пропускаем.");
            return;
        }
        AddTask(ttProcessIncomingConnect, std::to_string(f3));
        return;
    }
    if (f1 <= 0) return;
    Report("Получен сигнал о потере соединения на канале " + std::to_string(f1), true);
    if (TAttachedBoilerRoom* a = Attached.FindByChannel(f1)) {
        Report("Получен сигнал о потере соединения с \"" + a->BoilerRoom->Name + "\".", true);
        if (a->Channel > 0) {
            Report("Активируем задачу на переподключение...", true);
            AddTask(ttReconnect, std::to_string(f1));
        }
        return;
    }
    Trace("Закрываем сокет " + std::to_string(f1) + "...");
    CloseSocket(f1);
}

bool modem::ParseReadAnswer(const std::string& s, int& socket, int& len) {
    const std::vector<std::string> f = SplitFields(AfterMarker(s, "^SISR:"), ",\r\x01");
    return f.size() >= 2 && DecimalField(f[0], socket) && DecimalField(f[1], len);
}

void TGPRSModem::HandleReadAnswer(const std::string& s, const std::string& id) {
    int socket = 0, len = 0;
    if (s.find("\x01OK") == std::string::npos || !ParseReadAnswer(s, socket, len)) {
        Trace("ProcessIncomingData " + id + " ^SISR: malformed answer. Skip.");
        return;
    }
    // Only an answer without data is the modem's own: a short read is the
    // tail of a packet split across reads, and dropping it would corrupt it.
    if (len < 1) {
        Trace("ProcessIncomingData " + id + " ^SISR: system packet detected. Skip.");
        return;
    }
    AddTask(ttProcessIncomingPacket,
            std::to_string(socket) + TaskParamSplit + ReplaceStr(s, "\x01", "\r\n"));
}

void TGPRSModem::HandleNewSms(const std::string& s) {
    Report("Принята СМС: " + s, true);
    int n = 0;
    const std::string index = Trim(ExtractWord(2, UpperCase(s), TCharSet{','}));
    // The index goes back to the modem inside commands: only a number may.
    if (!DecimalField(index, n)) {
        Trace("-> Сигнал " + s + " без номера СМС. Пропускаем.");
        return;
    }
    if (OnSMSReceived) {
        std::string phone, text;
        ReadSMS(index, phone, text);
        OnSMSReceived(text, phone);
    }
    if (SendCommand("at+cmgd=" + index + CRLF)) WaitAnswer("OK", CommandAnswerMs);
}

} // namespace nuq

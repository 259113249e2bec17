#pragma once
// The modems of the terminal and the one entry through which boiler rooms on
// modem links are attached, started, stopped, described and sent text.
//
// The manager carries the seven events the terminal assigns and hands them to
// every modem, including modems added later; each modem's SMS event is set
// by the terminal itself after AddModem.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "acquisition/uNuqClasses_Modem.h"
#include "platform/DateUtils.h"

namespace nuq {

using TModemMessageEvent = decltype(TGPRSModem::OnMessage);
using TModemQueryEvent = decltype(TGPRSModem::OnIsDestroying);
using TModemConnectFailedEvent = decltype(TGPRSModem::OnConnectFailed);
using TModemBalanceEvent = decltype(TGPRSModem::OnBalance);
using TModemNoObjectAnswersEvent = decltype(TGPRSModem::OnNoObjectAnswers);

// Owns its modems; clearing it disconnects each before freeing it.
class TGPRSModemList {
public:
    TGPRSModemList() = default;
    ~TGPRSModemList() { Clear(); }
    TGPRSModemList(const TGPRSModemList&) = delete;
    TGPRSModemList& operator=(const TGPRSModemList&) = delete;

    TModemMessageEvent OnMessage;
    TModemQueryEvent OnIsDestroying;
    TModemQueryEvent OnIsStopping;
    TModemQueryEvent OnIsNotRunning;
    TModemConnectFailedEvent OnConnectFailed;
    TModemBalanceEvent OnBalance;
    TModemNoObjectAnswersEvent OnNoObjectAnswers;

    // Makes a modem with the list's events; its index.
    int AddModem(const TModemData& modemData);
    void Delete(int index);
    void Clear();
    int Count() const { return int(FItems.size()); }
    TGPRSModem& Items(int index) const { return *FItems.at(size_t(index)); }
    // The first modem on Port; null when none.
    TGPRSModem* FindByPort(int port) const;

    void SetOnMessage(TModemMessageEvent e);
    void SetOnIsDestroying(TModemQueryEvent e);
    void SetOnIsStopping(TModemQueryEvent e);
    void SetOnIsNotRunning(TModemQueryEvent e);
    void SetOnConnectFailed(TModemConnectFailedEvent e);
    void SetOnBalance(TModemBalanceEvent e);
    void SetOnNoObjectAnswers(TModemNoObjectAnswersEvent e);

private:
    std::vector<std::unique_ptr<TGPRSModem>> FItems;
};

class TGPRSManager {
public:
    TGPRSManager() = default;
    TGPRSManager(const TGPRSManager&) = delete;
    TGPRSManager& operator=(const TGPRSManager&) = delete;

    TModemMessageEvent OnMessage;
    TModemQueryEvent OnIsDestroying;
    TModemQueryEvent OnIsStopping;
    TModemQueryEvent OnIsNotRunning;
    TModemConnectFailedEvent OnConnectFailed;
    TModemBalanceEvent OnBalance;
    TModemNoObjectAnswersEvent OnNoObjectAnswers;
    // Declared after the events: the modems go first, while the events still exist.
    TGPRSModemList ModemList;

    // Each stores the event here, in the list and in every modem of it.
    void SetOnMessage(TModemMessageEvent e);
    void SetOnIsDestroying(TModemQueryEvent e);
    void SetOnIsStopping(TModemQueryEvent e);
    void SetOnIsNotRunning(TModemQueryEvent e);
    void SetOnConnectFailed(TModemConnectFailedEvent e);
    void SetOnBalance(TModemBalanceEvent e);
    void SetOnNoObjectAnswers(TModemNoObjectAnswersEvent e);

    // Attaches the object to the modem on Port; without such a modem the
    // object stays unattached and has no link.
    void AttachBoilerRoom(TBoilerRoom& boilerRoom, int port, const std::string& phone,
                          const std::string& ident);
    void StartBoilerRoom(TBoilerRoom& boilerRoom);
    void StopBoilerRoom(TBoilerRoom& boilerRoom);
    // The link text of the object's entry on the first modem that has it;
    // "Не определено" when none has.
    std::string StateText(const TBoilerRoom& boilerRoom) const;
    void SendText(TBoilerRoom& boilerRoom, const std::string& text);
};

// One SMS as the terminal keeps it.
class TSMS {
public:
    int Index = 0;
    std::string Phone;
    TDateTime Time = 0;
    std::string Text;
};

} // namespace nuq

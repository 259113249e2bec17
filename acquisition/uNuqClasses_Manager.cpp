// The modem list and the manager.

#include "acquisition/uNuqClasses_Manager.h"

#include "platform/SysUtils.h"

namespace nuq {

// ---- the list

int TGPRSModemList::AddModem(const TModemData& modemData) {
    auto m = std::make_unique<TGPRSModem>(modemData);
    m->OnMessage = OnMessage;
    m->OnIsDestroying = OnIsDestroying;
    m->OnIsStopping = OnIsStopping;
    m->OnIsNotRunning = OnIsNotRunning;
    m->OnConnectFailed = OnConnectFailed;
    m->OnBalance = OnBalance;
    m->OnNoObjectAnswers = OnNoObjectAnswers;
    FItems.push_back(std::move(m));
    return int(FItems.size()) - 1;
}

void TGPRSModemList::Delete(int index) {
    if (index < 0 || index >= Count())
        throw EListError("List index out of bounds (" + std::to_string(index) + ")");
    FItems[size_t(index)]->Disconnect();
    FItems.erase(FItems.begin() + index);
}

void TGPRSModemList::Clear() {
    while (!FItems.empty()) Delete(0);
}

TGPRSModem* TGPRSModemList::FindByPort(int port) const {
    for (const auto& m : FItems)
        if (m->PortNumber() == port) return m.get();
    return nullptr;
}

#define NUQ_LIST_SETTER(Name, Type)                                                                \
    void TGPRSModemList::Set##Name(Type e) {                                                       \
        Name = e;                                                                                  \
        for (const auto& m : FItems) m->Name = e;                                                  \
    }
NUQ_LIST_SETTER(OnMessage, TModemMessageEvent)
NUQ_LIST_SETTER(OnIsDestroying, TModemQueryEvent)
NUQ_LIST_SETTER(OnIsStopping, TModemQueryEvent)
NUQ_LIST_SETTER(OnIsNotRunning, TModemQueryEvent)
NUQ_LIST_SETTER(OnConnectFailed, TModemConnectFailedEvent)
NUQ_LIST_SETTER(OnBalance, TModemBalanceEvent)
NUQ_LIST_SETTER(OnNoObjectAnswers, TModemNoObjectAnswersEvent)
#undef NUQ_LIST_SETTER

// ---- the manager

#define NUQ_MANAGER_SETTER(Name, Type)                                                             \
    void TGPRSManager::Set##Name(Type e) {                                                         \
        Name = e;                                                                                  \
        ModemList.Set##Name(std::move(e));                                                         \
    }
NUQ_MANAGER_SETTER(OnMessage, TModemMessageEvent)
NUQ_MANAGER_SETTER(OnIsDestroying, TModemQueryEvent)
NUQ_MANAGER_SETTER(OnIsStopping, TModemQueryEvent)
NUQ_MANAGER_SETTER(OnIsNotRunning, TModemQueryEvent)
NUQ_MANAGER_SETTER(OnConnectFailed, TModemConnectFailedEvent)
NUQ_MANAGER_SETTER(OnBalance, TModemBalanceEvent)
NUQ_MANAGER_SETTER(OnNoObjectAnswers, TModemNoObjectAnswersEvent)
#undef NUQ_MANAGER_SETTER

void TGPRSManager::AttachBoilerRoom(TBoilerRoom& boilerRoom, int port, const std::string& phone,
                                    const std::string& ident) {
    if (TGPRSModem* m = ModemList.FindByPort(port)) m->Attached.Add(m, &boilerRoom, phone, ident);
}

void TGPRSManager::StartBoilerRoom(TBoilerRoom& boilerRoom) {
    for (int i = 0; i < ModemList.Count(); ++i) ModemList.Items(i).Start(boilerRoom);
}

void TGPRSManager::StopBoilerRoom(TBoilerRoom& boilerRoom) {
    for (int i = 0; i < ModemList.Count(); ++i) ModemList.Items(i).Stop(boilerRoom);
}

std::string TGPRSManager::StateText(const TBoilerRoom& boilerRoom) const {
    for (int i = 0; i < ModemList.Count(); ++i)
        if (const TAttachedBoilerRoom* a =
                ModemList.Items(i).Attached.FindByBoilerRoom(&boilerRoom))
            return a->StatusText;
    return "Не определено";
}

void TGPRSManager::SendText(TBoilerRoom& boilerRoom, const std::string& text) {
    for (int i = 0; i < ModemList.Count(); ++i) ModemList.Items(i).SendText(boilerRoom, text);
}

} // namespace nuq

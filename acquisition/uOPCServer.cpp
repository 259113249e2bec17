#include "acquisition/uOPCServer.h"

#include <algorithm>

namespace nuq {

namespace {
constexpr int WriteAttempts = 6;
}

TOPCServer::TOPCServer(std::string serviceName) : ServiceName(std::move(serviceName)) {}

TOPCServer::~TOPCServer() {
    CloseAll();
}

void TOPCServer::CloseAll() {
    while (!Conversations.empty()) {
        // Taken off the list first: closing may let the loop run.
        std::unique_ptr<TDdeClientConv> conv = std::move(Conversations.front().second);
        Conversations.erase(Conversations.begin());
        conv->CloseLink();
    }
}

TDdeClientConv* TOPCServer::Find(const std::string& key) const {
    for (const auto& [k, conv] : Conversations)
        if (k == key) return conv.get();
    return nullptr;
}

bool TOPCServer::Holds(const TDdeClientConv* conv) const {
    for (const auto& e : Conversations)
        if (e.second.get() == conv) return true;
    return false;
}

TDdeClientConv* TOPCServer::GetConversation(const std::string& topic) {
    const std::string key = ServiceName + "_" + topic;
    if (TDdeClientConv* conv = Find(key)) {
        if (conv->Connected()) return conv;
        // The server went away or stalled: without this the topic would read
        // empty values as success until the object is restarted. Opened again
        // in place, as a caller further up may still be using it.
        if (conv->OpenLink() && Holds(conv)) return conv;
        return nullptr;
    }
    auto conv = std::make_unique<TDdeClientConv>();
    if (!conv->SetLink(ServiceName, topic) || !conv->OpenLink()) return nullptr;
    // The loop ran while linking; a nested call may have linked the topic.
    if (TDdeClientConv* other = Find(key)) return other;
    Conversations.emplace_back(key, std::move(conv));
    return Conversations.back().second.get();
}

bool TOPCServer::ReadItem(const std::string& topic, const std::string& item, std::string& value) {
    value.clear();
    TDdeClientConv* conv = GetConversation(topic);
    if (!conv) return false;
    try {
        value = conv->RequestData(item);
    } catch (const EDdeError&) {
        value.clear();
    }
    return true;
}

bool TOPCServer::WriteItem(const std::string& topic, const std::string& item,
                           const std::string& value) {
    TDdeClientConv* conv = GetConversation(topic);
    if (!conv) return false;
    for (int attempt = 0; attempt < WriteAttempts; ++attempt) {
        try {
            (void)conv->RequestData(item); // the server is asked first; its answer is not used
        } catch (const EDdeError&) {
        }
        // Freed by CloseAll from a handler while the loop ran.
        if (!Holds(conv)) return false;
        if (conv->PokeData(item, value)) return true;
        if (!Holds(conv)) return false;
    }
    return false;
}

} // namespace nuq

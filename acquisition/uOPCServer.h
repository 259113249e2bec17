#pragma once
// Client of one DDE data-source service: one conversation per topic, opened
// on first use and kept, through which items are read and written. Runs on
// the main thread; the owning object holds its own lock around a read cycle.

#include "platform/DdeClient.h"

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace nuq {

class TOPCServer {
public:
    explicit TOPCServer(std::string serviceName);
    ~TOPCServer(); // CloseAll
    TOPCServer(const TOPCServer&) = delete;
    TOPCServer& operator=(const TOPCServer&) = delete;

    const std::string ServiceName;

    // Closes and frees every conversation; the client stays usable.
    void CloseAll();
    // The topic's conversation, opened now if need be; nullptr when the link
    // cannot be set or opened (the next call tries again). A conversation
    // whose link has been lost (server gone, answer timed out) is opened
    // again the same way.
    TDdeClientConv* GetConversation(const std::string& topic);
    // False only without a conversation; a failed request gives an empty
    // Value and still true.
    bool ReadItem(const std::string& topic, const std::string& item, std::string& value);
    // Up to six attempts, each a request of the item and a poke; true when a
    // poke succeeded.
    bool WriteItem(const std::string& topic, const std::string& item, const std::string& value);

    int ConversationCount() const { return int(Conversations.size()); }

private:
    TDdeClientConv* Find(const std::string& key) const;
    bool Holds(const TDdeClientConv* conv) const;

    // Keyed by ServiceName + "_" + topic, compared exactly.
    std::vector<std::pair<std::string, std::unique_ptr<TDdeClientConv>>> Conversations;
};

} // namespace nuq

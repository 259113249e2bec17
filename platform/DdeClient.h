#pragma once
// The client side of a DDE conversation with a data-source server: link to a
// service and a topic, request items, poke items, close.
//
// A service is a Unix-domain stream socket named after the service in the
// folder DdeServiceDir() gives (env NUQ_DDE_DIR, else /tmp/nuq-dde-<uid>).
// One connection is one conversation, linked to one topic.
//
// The line protocol. Each request and each answer is one line of UTF-8 text
// ended by LF; its fields are separated by one TAB; inside a field a
// backslash escapes: "\\" backslash, "\t" TAB, "\n" LF, "\r" CR. Any other
// escape, or a backslash at the end of a line, makes the line malformed.
// The client sends
//     LINK <topic>            link the conversation to a topic (first, once)
//     REQUEST <item>          read an item
//     POKE <item> <value>     write an item
// and the server answers each request, in order, with
//     OK [<value>]            done; a request's answer carries the value
//     ERR <reason>            refused (unknown topic or item, failed poke ...)
// Closing the connection ends the conversation.
//
// As with DDE, a call that waits for its answer keeps the message loop
// running, so timers and watches fire meanwhile. A call gives up after
// Timeout milliseconds on the loop's clock (default DefaultDdeTimeoutMs, or
// env NUQ_DDE_TIMEOUT when set) so a stalled server cannot hang the caller;
// the conversation is then closed, since a late answer would be taken for the
// next one. Calls nested in a wait (from a timer) are answered in order.
// On the virtual clock an unanswered call jumps to its time-out once the loop
// has been idle for the idle grace, as any wait with a peer in flight does.

#include "platform/SysUtils.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace nuq {

class EDdeError : public Exception {
public:
    using Exception::Exception;
};

inline constexpr uint32_t DefaultDdeTimeoutMs = 5000;

// The folder of the services' sockets, and one service's socket; the latter is
// empty for a name that cannot be a socket there (empty, "/", ".", "..", or a
// path too long for a socket address).
std::string DdeServiceDir();
std::string DdeSocketPath(std::string_view service);

// The protocol's fields, escaped and joined into a line without its LF.
std::string DdeJoinLine(const std::vector<std::string>& fields);
// A line (without its LF) split into unescaped fields; false when malformed.
bool DdeSplitLine(std::string_view line, std::vector<std::string>& fields);

// A client conversation. It connects only in OpenLink, as the runtime's
// conversation does in manual connect mode.
class TDdeClientConv {
public:
    TDdeClientConv();
    ~TDdeClientConv(); // closes the link
    TDdeClientConv(const TDdeClientConv&) = delete;
    TDdeClientConv& operator=(const TDdeClientConv&) = delete;

    uint32_t Timeout; // milliseconds one call waits for its answer

    // Names the service and topic to link to; closes a link that is open.
    // False for a service that cannot be a socket or an empty topic.
    bool SetLink(const std::string& service, const std::string& topic);
    // Connects and links the topic; false when the server is absent, refuses
    // the topic or does not answer in time.
    bool OpenLink();
    // The item's value; raises EDdeError when not linked, refused, timed out
    // or the link is lost.
    std::string RequestData(const std::string& item);
    // True when the server took the value.
    bool PokeData(const std::string& item, const std::string& value);
    void CloseLink();

    const std::string& DdeService() const { return FService; }
    const std::string& DdeTopic() const { return FTopic; }
    // Linked and not lost since.
    bool Connected() const;

private:
    struct TLink;
    // Sends one request and waits for its answer (OK: true and the value).
    bool Call(const std::vector<std::string>& request, std::string& answer);

    std::string FService;
    std::string FTopic;
    std::shared_ptr<TLink> FLink;
};

} // namespace nuq

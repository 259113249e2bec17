#include "platform/DdeClient.h"

#include "platform/EventLoop.h"

#include <cerrno>
#include <cstdlib>
#include <map>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace nuq {

namespace {

// A server that sends a line longer than this is not speaking the protocol.
constexpr size_t MaxLineBytes = 1 << 20;

uint32_t TimeoutFromEnvironment() {
    const char* env = std::getenv("NUQ_DDE_TIMEOUT");
    int ms = 0;
    if (env && TryStrToInt(env, ms) && ms > 0) return uint32_t(ms);
    return DefaultDdeTimeoutMs;
}

} // namespace

std::string DdeServiceDir() {
    const char* env = std::getenv("NUQ_DDE_DIR");
    if (env && *env) return env;
    return "/tmp/nuq-dde-" + std::to_string(getuid());
}

std::string DdeSocketPath(std::string_view service) {
    if (service.empty() || service == "." || service == ".." ||
        service.find_first_of(std::string_view("/\0", 2)) != std::string_view::npos)
        return {};
    std::string path = DdeServiceDir() + "/" + std::string(service);
    if (path.size() >= sizeof(sockaddr_un::sun_path)) return {};
    return path;
}

std::string DdeJoinLine(const std::vector<std::string>& fields) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += '\t';
        for (char c : fields[i]) {
            switch (c) {
            case '\\':
                line += "\\\\";
                break;
            case '\t':
                line += "\\t";
                break;
            case '\n':
                line += "\\n";
                break;
            case '\r':
                line += "\\r";
                break;
            default:
                line += c;
            }
        }
    }
    return line;
}

bool DdeSplitLine(std::string_view line, std::vector<std::string>& fields) {
    fields.assign(1, std::string());
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (c == '\t') {
            fields.emplace_back();
        } else if (c == '\n') {
            return false;
        } else if (c != '\\') {
            fields.back() += c;
        } else {
            if (++i == line.size()) return false;
            switch (line[i]) {
            case '\\':
                fields.back() += '\\';
                break;
            case 't':
                fields.back() += '\t';
                break;
            case 'n':
                fields.back() += '\n';
                break;
            case 'r':
                fields.back() += '\r';
                break;
            default:
                return false;
            }
        }
    }
    return true;
}

// One connection. Shared with the calls waiting on it, so a conversation freed
// from a timer inside a wait leaves the waiter something to look at.
struct TDdeClientConv::TLink {
    int Fd = -1;
    TFdWatch Watch;
    std::string In, Out;
    uint64_t Sent = 0, Received = 0;
    std::map<uint64_t, std::string> Answers; // by request number
    bool Lost = false;

    ~TLink() { Close(); }

    void Close() {
        Lost = true;
        Watch.Stop();
        if (Fd >= 0) ::close(Fd);
        Fd = -1;
        Out.clear();
        In.clear();
    }

    void Flush() {
        while (!Lost && !Out.empty()) {
            ssize_t n = ::send(Fd, Out.data(), Out.size(), MSG_NOSIGNAL);
            if (n > 0) {
                Out.erase(0, size_t(n));
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                break;
            } else {
                Close();
                return;
            }
        }
        if (!Lost) Watch.SetEvents(Out.empty() ? fdRead : fdRead | fdWrite);
    }

    void Read() {
        char buf[4096];
        for (;;) {
            ssize_t n = ::recv(Fd, buf, sizeof buf, 0);
            if (n > 0) {
                In.append(buf, size_t(n));
                // Taken as they come, so a server that floods cannot make
                // this pass hold more than a line's worth.
                TakeLines();
                if (Lost) return;
                if (In.size() > MaxLineBytes) {
                    Close();
                    return;
                }
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            Close(); // what came before the end has been taken
            return;
        }
    }

    void TakeLines() {
        size_t start = 0, end;
        while ((end = In.find('\n', start)) != std::string::npos) {
            // An answer nobody asked for: the server does not follow the
            // protocol, and every later answer would be taken for the wrong
            // request. Keeping it would let such a server fill the memory.
            if (Received == Sent) {
                Close();
                return;
            }
            Answers[++Received] = In.substr(start, end - start);
            start = end + 1;
        }
        In.erase(0, start);
    }

    void OnReady(short revents) {
        if (revents & POLLOUT) Flush();
        if (!Lost) Read();
    }
};

TDdeClientConv::TDdeClientConv() : Timeout(TimeoutFromEnvironment()) {}

TDdeClientConv::~TDdeClientConv() {
    CloseLink();
}

bool TDdeClientConv::SetLink(const std::string& service, const std::string& topic) {
    CloseLink();
    if (DdeSocketPath(service).empty() || topic.empty()) return false;
    FService = service;
    FTopic = topic;
    return true;
}

bool TDdeClientConv::Connected() const {
    return FLink && !FLink->Lost;
}

void TDdeClientConv::CloseLink() {
    if (FLink) FLink->Close();
    FLink.reset();
}

bool TDdeClientConv::OpenLink() {
    CloseLink();
    std::string path = DdeSocketPath(FService);
    if (path.empty() || FTopic.empty()) return false;

    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    path.copy(addr.sun_path, path.size());
    int rc;
    do rc = ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    while (rc < 0 && errno == EINTR);
    if (rc < 0) {
        // A local socket connects at once or not at all (absent, no listener,
        // backlog full); the next call tries again.
        ::close(fd);
        return false;
    }
    auto link = std::make_shared<TLink>();
    link->Fd = fd;
    TLink* raw = link.get();
    link->Watch.Watch(fd, fdRead, [raw](short revents) { raw->OnReady(revents); });
    FLink = link;

    std::string answer;
    if (Call({"LINK", FTopic}, answer)) return true;
    // Still ours unless freed meanwhile; Call has closed nothing of ours then.
    link->Close();
    return false;
}

bool TDdeClientConv::Call(const std::vector<std::string>& request, std::string& answer) {
    std::shared_ptr<TLink> link = FLink;
    const uint32_t timeout = Timeout;
    if (!link || link->Lost) {
        answer = "нет связи с сервером";
        return false;
    }
    const uint64_t seq = ++link->Sent;
    link->Out += DdeJoinLine(request);
    link->Out += '\n';
    link->Flush();
    // From here on this conversation may be freed by a handler run in the
    // wait; only the link is touched.
    ProcessMessagesUntil(
        [&] { return link->Lost || link->Answers.count(seq) != 0 || PeerWaitsAbandoned(); },
        timeout);
    auto it = link->Answers.find(seq);
    if (it == link->Answers.end()) {
        if (link->Lost) {
            answer = "связь с сервером потеряна";
        } else {
            answer =
                PeerWaitsAbandoned() ? "ожидание ответа прервано остановкой" : "сервер не ответил";
            link->Close(); // a late answer would be taken for the next request's
        }
        return false;
    }
    std::string line = std::move(it->second);
    link->Answers.erase(it);
    std::vector<std::string> fields;
    if (DdeSplitLine(line, fields) && fields[0] == "OK" && fields.size() <= 2) {
        answer = fields.size() > 1 ? fields[1] : std::string();
        return true;
    }
    if (DdeSplitLine(line, fields) && fields[0] == "ERR") {
        answer = fields.size() > 1 ? fields[1] : std::string("сервер отказал");
        return false;
    }
    answer = "неверный ответ сервера";
    link->Close();
    return false;
}

std::string TDdeClientConv::RequestData(const std::string& item) {
    std::string answer;
    if (!Call({"REQUEST", item}, answer))
        throw EDdeError("Запрос DDE элемента \"" + item + "\" не выполнен: " + answer);
    return answer;
}

bool TDdeClientConv::PokeData(const std::string& item, const std::string& value) {
    std::string answer;
    return Call({"POKE", item, value}, answer);
}

} // namespace nuq

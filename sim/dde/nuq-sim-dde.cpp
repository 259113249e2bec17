// nuq-sim-dde: a stand-in DDE data-source server for tests and the demo.
//
//   nuq-sim-dde [--dir DIR] [--refuse TOPIC] [--failpokes ITEM N] [--stall MS] [FILE]
//
// Serves the services, topics and items of FILE, one Unix-domain socket per
// service in DIR (default: the client's folder, env NUQ_DDE_DIR), speaking the
// line protocol of platform/DdeClient.h. FILE is ini-like:
//
//   # comment (also ";")
//   [Service|Topic]
//   item=value
//
// names and values trimmed of blanks; an item line before a section, or a line
// that is neither, is an error (exit status 2). A poke changes an item's value;
// items and topics not in the file are refused.
//
// Commands on stdin, one per line, words separated by blanks; each is answered
// on stdout by "ok", "error <reason>" or (stats) one line:
//   set SERVICE TOPIC ITEM VALUE   set or add an item (VALUE: rest of the line)
//   refuse TOPIC [N]               refuse links to TOPIC: the next N, or all
//   accept TOPIC                   accept links to TOPIC again
//   failpokes ITEM N               the next N pokes of ITEM fail (0: none)
//   stall MS                       answer each request only after MS ms (0: off)
//   stats                          "stats links=L requests=R pokes=P"
//   quit                           exit
// The options do what the commands of the same name do. "ready" is printed
// once every socket listens. SIGTERM, SIGINT and "quit" exit with status 0 and
// remove the sockets; the end of stdin does not.

#include "platform/DdeClient.h"
#include "platform/EventLoop.h"
#include "platform/SysUtils.h"
#include "platform/Timer.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

using namespace nuq;

namespace {

constexpr size_t MaxLineBytes = 1 << 20;

struct Service {
    std::string Name;
    std::string Path;
    int Fd = -1;
    TFdWatch Watch;
    std::map<std::string, std::map<std::string, std::string>> Topics;
    ~Service() {
        Watch.Stop();
        if (Fd >= 0) {
            ::close(Fd);
            ::unlink(Path.c_str());
        }
    }
};

struct Connection;

std::map<std::string, std::unique_ptr<Service>> Services;
std::map<int, std::unique_ptr<Connection>> Connections; // by fd
std::map<std::string, int> Refused;                     // topic -> refusals left, -1 all
std::map<std::string, int> FailPokes;                   // item -> failures left
uint32_t StallMs = 0;
long Links = 0, Requests = 0, Pokes = 0;
bool Listening = false;

void Drop(int fd);

struct Connection {
    int Fd = -1;
    Service* Svc = nullptr;
    std::string Topic;
    bool Linked = false;
    bool Dead = false;
    std::string In, Out;
    TFdWatch Watch;
    TTimer Stall;
    bool Stalled = false;
    std::vector<std::string> StalledAnswer;

    Connection() {
        Stall.SetEnabled(false);
        Stall.SetOnTimer([this] {
            Stall.SetEnabled(false);
            Stalled = false;
            Send(StalledAnswer);
            Work();
        });
    }

    ~Connection() {
        Watch.Stop();
        ::close(Fd);
    }

    void Kill() {
        if (Dead) return;
        Dead = true;
        Watch.Stop();
        Stall.SetEnabled(false);
        int fd = Fd;
        PostCall([fd] { Drop(fd); });
    }

    void Send(const std::vector<std::string>& answer) {
        Out += DdeJoinLine(answer);
        Out += '\n';
        Flush();
    }

    void Flush() {
        while (!Dead && !Out.empty()) {
            ssize_t n = ::send(Fd, Out.data(), Out.size(), MSG_NOSIGNAL);
            if (n > 0)
                Out.erase(0, size_t(n));
            else if (n < 0 && errno == EINTR)
                continue;
            else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                break;
            else
                return Kill();
        }
        if (!Dead) Watch.SetEvents(Out.empty() ? fdRead : fdRead | fdWrite);
    }

    void OnReady(short revents) {
        if (revents & fdWrite) Flush();
        char buf[4096];
        while (!Dead) {
            ssize_t n = ::recv(Fd, buf, sizeof buf, 0);
            if (n > 0) {
                In.append(buf, size_t(n));
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
            return Kill();
        }
        if (In.size() > MaxLineBytes && In.find('\n') == std::string::npos) return Kill();
        Work();
    }

    // Answers the complete lines in order; a stalled answer holds the rest back.
    void Work() {
        size_t end;
        while (!Dead && !Stalled && (end = In.find('\n')) != std::string::npos) {
            std::string line = In.substr(0, end);
            In.erase(0, end + 1);
            std::vector<std::string> answer = Answer(line);
            if (StallMs > 0 && line.rfind("REQUEST", 0) == 0) {
                Stalled = true;
                StalledAnswer = std::move(answer);
                Stall.SetInterval(StallMs);
                Stall.SetEnabled(true);
                return;
            }
            Send(answer);
        }
    }

    std::vector<std::string> Answer(const std::string& line) {
        std::vector<std::string> f;
        if (!DdeSplitLine(line, f)) return {"ERR", "malformed line"};
        if (f[0] == "LINK" && f.size() == 2) {
            if (Linked) return {"ERR", "already linked"};
            auto r = Refused.find(f[1]);
            if (r != Refused.end()) {
                if (r->second > 0 && --r->second == 0) Refused.erase(r);
                return {"ERR", "topic refused"};
            }
            if (!Svc->Topics.count(f[1])) return {"ERR", "no such topic"};
            Topic = f[1];
            Linked = true;
            ++Links;
            return {"OK"};
        }
        if (f[0] == "REQUEST" && f.size() == 2) {
            ++Requests;
            if (!Linked) return {"ERR", "not linked"};
            auto& items = Svc->Topics[Topic];
            auto it = items.find(f[1]);
            if (it == items.end()) return {"ERR", "no such item"};
            return {"OK", it->second};
        }
        if (f[0] == "POKE" && f.size() == 3) {
            ++Pokes;
            if (!Linked) return {"ERR", "not linked"};
            auto& items = Svc->Topics[Topic];
            auto it = items.find(f[1]);
            if (it == items.end()) return {"ERR", "no such item"};
            auto fail = FailPokes.find(f[1]);
            if (fail != FailPokes.end()) {
                if (--fail->second <= 0) FailPokes.erase(fail);
                return {"ERR", "poke failed"};
            }
            it->second = f[2];
            return {"OK"};
        }
        return {"ERR", "unknown request"};
    }
};

void Drop(int fd) {
    Connections.erase(fd);
}

void Accept(Service* svc) {
    for (;;) {
        int fd = ::accept4(svc->Fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        auto c = std::make_unique<Connection>();
        c->Fd = fd;
        c->Svc = svc;
        Connection* raw = c.get();
        c->Watch.Watch(fd, fdRead, [raw](short revents) { raw->OnReady(revents); });
        Connections[fd] = std::move(c);
    }
}

// Opens the service's socket (once listening has begun) or only records it.
std::string Listen(Service& svc) {
    if (svc.Fd >= 0) return {};
    svc.Path = DdeSocketPath(svc.Name);
    if (svc.Path.empty()) return "service name cannot be a socket: " + svc.Name;
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    svc.Path.copy(addr.sun_path, svc.Path.size());
    ::unlink(svc.Path.c_str()); // left by a server that was killed
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 ||
        ::listen(fd, 16) < 0) {
        std::string why = std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return svc.Path + ": " + why;
    }
    svc.Fd = fd;
    Service* raw = &svc;
    svc.Watch.Watch(fd, fdRead, [raw](short) { Accept(raw); });
    return {};
}

Service& GetService(const std::string& name) {
    auto& s = Services[name];
    if (!s) {
        s = std::make_unique<Service>();
        s->Name = name;
    }
    return *s;
}

std::vector<std::string> Words(const std::string& line, size_t max, std::string* rest) {
    std::vector<std::string> words;
    size_t i = 0;
    while (words.size() < max) {
        i = line.find_first_not_of(" \t", i);
        if (i == std::string::npos) break;
        size_t e = line.find_first_of(" \t", i);
        words.push_back(line.substr(i, e == std::string::npos ? std::string::npos : e - i));
        i = e == std::string::npos ? line.size() : e;
    }
    if (rest) *rest = i < line.size() ? Trim(line.substr(i)) : std::string();
    return words;
}

bool Count(const std::string& s, int& n) {
    return TryStrToInt(s, n) && n >= 0;
}

// One command; the text of its answer.
std::string Command(const std::string& line) {
    std::string rest;
    auto w = Words(line, 4, &rest);
    if (w.empty()) return "error empty command";
    const std::string& cmd = w[0];
    int n = 0;
    if (cmd == "set" && w.size() == 4) {
        Service& svc = GetService(w[1]);
        svc.Topics[w[2]][w[3]] = rest;
        if (Listening) {
            std::string why = Listen(svc);
            if (!why.empty()) return "error " + why;
        }
        return "ok";
    }
    if (!rest.empty()) return "error too many words";
    if (cmd == "refuse" && w.size() == 2) {
        Refused[w[1]] = -1;
        return "ok";
    }
    if (cmd == "refuse" && w.size() == 3 && Count(w[2], n)) {
        if (n > 0) Refused[w[1]] = n;
        return "ok";
    }
    if (cmd == "accept" && w.size() == 2) {
        Refused.erase(w[1]);
        return "ok";
    }
    if (cmd == "failpokes" && w.size() == 3 && Count(w[2], n)) {
        if (n > 0)
            FailPokes[w[1]] = n;
        else
            FailPokes.erase(w[1]);
        return "ok";
    }
    if (cmd == "stall" && w.size() == 2 && Count(w[1], n)) {
        StallMs = uint32_t(n);
        return "ok";
    }
    if (cmd == "stats" && w.size() == 1)
        return "stats links=" + std::to_string(Links) + " requests=" + std::to_string(Requests) +
               " pokes=" + std::to_string(Pokes);
    if (cmd == "quit" && w.size() == 1) {
        QuitLoop();
        return "ok";
    }
    return "error bad command: " + line;
}

std::string StdinText;
TFdWatch StdinWatch;

void OnStdin() {
    char buf[4096];
    ssize_t n = ::read(0, buf, sizeof buf);
    if (n < 0 && errno == EINTR) return;
    if (n <= 0) {
        StdinWatch.Stop(); // no more commands; keep serving
        return;
    }
    StdinText.append(buf, size_t(n));
    size_t end;
    while ((end = StdinText.find('\n')) != std::string::npos) {
        std::string line = StdinText.substr(0, end);
        StdinText.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (Trim(line).empty()) continue;
        std::cout << Command(line) << std::endl;
    }
}

bool LoadFile(const std::string& path, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": cannot open";
        return false;
    }
    std::string line, service, topic;
    bool section = false;
    for (int no = 1; std::getline(in, line); ++no) {
        std::string t = Trim(line);
        if (t.empty() || t[0] == '#' || t[0] == ';') continue;
        const std::string where = path + ":" + std::to_string(no) + ": ";
        if (t.front() == '[' && t.back() == ']') {
            std::string inner = t.substr(1, t.size() - 2);
            size_t bar = inner.find('|');
            if (bar == std::string::npos || Trim(inner.substr(0, bar)).empty() ||
                Trim(inner.substr(bar + 1)).empty()) {
                error = where + "section must be [service|topic]";
                return false;
            }
            service = Trim(inner.substr(0, bar));
            topic = Trim(inner.substr(bar + 1));
            GetService(service).Topics[topic];
            section = true;
            continue;
        }
        size_t eq = t.find('=');
        if (!section || eq == std::string::npos || Trim(t.substr(0, eq)).empty()) {
            error = where + (section ? "expected item=value" : "item before any [service|topic]");
            return false;
        }
        GetService(service).Topics[topic][Trim(t.substr(0, eq))] = Trim(t.substr(eq + 1));
    }
    return true;
}

int Usage() {
    std::cerr << "usage: nuq-sim-dde [--dir DIR] [--refuse TOPIC] [--failpokes ITEM N] "
                 "[--stall MS] [FILE]\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    SetMainThread();
    std::string file;
    std::vector<std::string> commands;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        auto need = [&](int k) { return i + k < argc; };
        if (a == "--dir" && need(1)) {
            ::setenv("NUQ_DDE_DIR", argv[++i], 1);
        } else if ((a == "--refuse" || a == "--stall") && need(1)) {
            commands.push_back(a.substr(2) + " " + argv[i + 1]);
            i += 1;
        } else if (a == "--failpokes" && need(2)) {
            commands.push_back(std::string("failpokes ") + argv[i + 1] + " " + argv[i + 2]);
            i += 2;
        } else if (!a.empty() && a[0] != '-' && file.empty()) {
            file = a;
        } else {
            return Usage();
        }
    }
    for (const auto& c : commands) {
        std::string r = Command(c);
        if (r != "ok") {
            std::cerr << "nuq-sim-dde: " << r << "\n";
            return 2;
        }
    }
    std::string error;
    if (!file.empty() && !LoadFile(file, error)) {
        std::cerr << "nuq-sim-dde: " << error << "\n";
        return 2;
    }

    // Signals arrive as readable data on the loop, so the sockets are removed.
    sigset_t mask;
    sigemptyset(&mask);
    sigaddset(&mask, SIGTERM);
    sigaddset(&mask, SIGINT);
    sigprocmask(SIG_BLOCK, &mask, nullptr);
    int sfd = signalfd(-1, &mask, SFD_CLOEXEC | SFD_NONBLOCK);
    if (sfd < 0) {
        std::cerr << "nuq-sim-dde: signalfd: " << std::strerror(errno) << "\n";
        return 1;
    }
    TFdWatch signals(sfd, fdRead, [sfd](short) {
        signalfd_siginfo si;
        while (::read(sfd, &si, sizeof si) > 0) {
        }
        QuitLoop();
    });

    ::mkdir(DdeServiceDir().c_str(), 0700);
    for (auto& [name, svc] : Services) {
        std::string why = Listen(*svc);
        if (!why.empty()) {
            std::cerr << "nuq-sim-dde: " << why << "\n";
            Services.clear();
            return 1;
        }
    }
    Listening = true;
    StdinWatch.Watch(0, fdRead, [](short) { OnStdin(); });
    std::cout << "ready" << std::endl;

    RunLoop();

    StdinWatch.Stop();
    signals.Stop();
    Connections.clear();
    Services.clear();
    ::close(sfd);
    return 0;
}

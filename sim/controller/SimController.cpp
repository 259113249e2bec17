// nuq-sim-controller: a boiler-room controller for tests and the demo.
//
// Speaks the controller's side of the serial and TCP links: one message per
// line ending in CR LF, packets and commands between "<" and ">", a packet as
// hexadecimal text (two upper-case digits per byte). It serves a TCP port on
// 127.0.0.1 and/or a pseudo-terminal linked under a COMn name, sends packets
// on a period and in answer to requests, logs every line it receives, and
// misbehaves when told to on its control channel (standard input).
//
// In client mode (--connect) it is a controller on a GPRS modem link: it
// connects out to the modem's listener, identifies itself with an "ID:"
// packet, identifies again when asked "WHO IS?", and connects again after a
// pause when the connection goes.
//
// Single-threaded: one epoll loop over the signal pipe, standard input, the
// listener, the connections and the terminal's master side, so thousands of
// idle connections cost nothing while a few of them talk.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace nuq {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

const char* kUsage =
    "usage: nuq-sim-controller [--tcp PORT] [--serial DIR/COMn] [options]\n"
    "  --tcp PORT         serve on 127.0.0.1:PORT (0: any free port; prints \"listening PORT\")\n"
    "  --serial PATH      make a pseudo-terminal linked as PATH (prints \"serial PATH\")\n"
    "  --packet HEX       a packet to send (repeatable; packets are sent in turn)\n"
    "  --packets FILE     packets, one hexadecimal line each (# starts a comment)\n"
    "  --period MS        send the next packet every MS milliseconds\n"
    "  --request TEXT     only a framed TEXT asks for a packet (default: every framed line)\n"
    "  --echo             answer a framed command with \"<OK:\" command \">\"\n"
    "  --log FILE         write the received lines there instead of to stdout\n"
    "  --split N          write every line in pieces of N bytes\n"
    "  --split-pause MS   pause between pieces (default 20)\n"
    "  --stdin-control    read control commands from stdin; exit when it closes\n"
    "  --connect HOST:PORT  connect out to a modem's listener (prints \"connected\")\n"
    "  --ident ID         identifier sent as \"<ID:\" ID \",...>\" on connecting and on \"WHO "
    "IS?\"\n"
    "  --reconnect MS     pause before connecting again after the link went (default 1000)\n"
    "control commands: send [HEX] | unframed TEXT | garbage N | split N [MS] | stall MS |\n"
    "                  drop | ident | quit\n";

struct Options {
    int TcpPort = -1;
    std::string SerialPath;
    std::vector<std::string> Packets; // as sent: upper-case hex text
    int PeriodMs = 0;
    std::optional<std::string> Request;
    bool Echo = false;
    std::string LogFile;
    int Split = 0;
    int SplitPauseMs = 20;
    bool StdinControl = false;
    std::string ConnectHost;
    int ConnectPort = 0;
    std::string Ident;
    int ReconnectMs = 1000;
};

// Hex digits, blanks allowed between bytes; an odd count or another character
// is refused.
bool ParseHex(const std::string& in, std::string& text) {
    std::string digits;
    for (char c : in) {
        if (c == ' ' || c == '\t') continue;
        if (!isxdigit(static_cast<unsigned char>(c))) return false;
        digits += char(toupper(static_cast<unsigned char>(c)));
    }
    if (digits.size() % 2) return false;
    text = digits;
    return true;
}

bool ParseInt(const char* s, int lo, int hi, int& value) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s, &end, 10);
    if (errno || end == s || *end || v < lo || v > hi) return false;
    value = int(v);
    return true;
}

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    [[maybe_unused]] ssize_t r = write(signalPipe[1], "x", 1);
    errno = saved;
}

void SetNonBlocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

// One peer: a TCP connection or the terminal's side of the pseudo-terminal.
struct Link {
    struct Piece {
        std::string Bytes;
        int DelayMs; // before its first byte goes out
    };
    int Fd = -1;
    bool Serial = false;
    bool Closed = false;  // gone; freed after the events of this round
    size_t Index = 0;     // place in Simulator::Links
    bool Pending = false; // in Simulator::Pending: output waits to go
    std::string In;
    std::deque<Piece> Out;
    size_t OutPos = 0;
    Clock::time_point ReadyAt{};

    bool WantsWrite(Clock::time_point now) const { return !Out.empty() && now >= ReadyAt; }
};

class Simulator {
public:
    explicit Simulator(Options o) : Opt(std::move(o)) {}
    ~Simulator();
    int Run();

private:
    bool Start();
    bool StartTcp();
    bool StartSerial();
    void Status(const std::string& line);
    void LogReceived(const std::string& line);

    void Accept();
    void PauseAccepting(bool pause);
    void AddLink(std::unique_ptr<Link> l);
    void CloseLink(Link& l);
    void Flush(Link& l, Clock::time_point now);
    void CheckSerial();
    // False when the link has ended.
    bool ReadLink(Link& l);
    bool WriteLink(Link& l, Clock::time_point now);
    void HandleLine(Link& l, std::string line);
    void Queue(Link& l, const std::string& bytes);
    void Broadcast(const std::string& bytes);
    bool NextPacket(std::string& line);
    bool Stalled() const { return Clock::now() < StallUntil; }
    void ConnectOut();
    void Identify(Link& l);

    void ReadControl();
    void Control(const std::string& line);

    Options Opt;
    int Listener = -1;
    char ListenerTag = 0; // the listener's tag in the epoll set
    // Out of descriptors: the listener is left out of the loop until a link
    // closes or the retry time comes, and the failure is told once per run of them.
    bool AcceptPaused = false;
    bool AcceptFailReported = false;
    Clock::time_point AcceptRetryAt{};
    int Master = -1;
    bool SerialOpen = false;
    bool SerialLinked = false;
    std::vector<std::unique_ptr<Link>> Links; // in no order
    std::vector<std::unique_ptr<Link>> Dead;  // closed in this round of events
    std::vector<Link*> Pending;               // links with output still to send
    int Epoll = -1;
    bool StdinPlain = false; // a file epoll cannot wait on: read it every round
    size_t NextPacketIndex = 0;
    Clock::time_point NextPeriod{};
    Clock::time_point StallUntil{};
    bool StallReported = true;
    std::string ControlIn;
    bool Quit = false;
    std::ofstream Log;
    uint32_t GarbageSeed = 0x2545F491;
    Clock::time_point ConnectAt{};
    Link* Out = nullptr; // the connection made in client mode
};

Simulator::~Simulator() {
    for (auto& l : Links)
        if (!l->Serial) close(l->Fd);
    if (Listener >= 0) close(Listener);
    if (Master >= 0) close(Master);
    if (Epoll >= 0) close(Epoll);
    if (SerialLinked) unlink(Opt.SerialPath.c_str());
}

void Simulator::Status(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void Simulator::LogReceived(const std::string& line) {
    if (Log.is_open()) {
        Log << "rx " << line << '\n';
        Log.flush();
    } else {
        Status("rx " + line);
    }
}

bool Simulator::StartTcp() {
    Listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (Listener < 0) return false;
    int on = 1;
    setsockopt(Listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(Opt.TcpPort));
    socklen_t len = sizeof a;
    if (bind(Listener, reinterpret_cast<sockaddr*>(&a), len) < 0 ||
        listen(Listener, SOMAXCONN) < 0 ||
        getsockname(Listener, reinterpret_cast<sockaddr*>(&a), &len) < 0) {
        std::fprintf(stderr, "cannot listen on port %d: %s\n", Opt.TcpPort, strerror(errno));
        return false;
    }
    Status("listening " + std::to_string(ntohs(a.sin_port)));
    return true;
}

bool Simulator::StartSerial() {
    int slave = -1;
    char name[256];
    if (openpty(&Master, &slave, name, nullptr, nullptr) < 0) {
        std::fprintf(stderr, "cannot make a pseudo-terminal: %s\n", strerror(errno));
        return false;
    }
    // Raw both ways, so CR LF and every byte pass untouched, whoever opens it.
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    close(slave); // until the terminal opens it, the master reports a hang-up
    SetNonBlocking(Master);
    fcntl(Master, F_SETFD, FD_CLOEXEC);
    struct stat st {};
    if (lstat(Opt.SerialPath.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "%s exists and is not a link\n", Opt.SerialPath.c_str());
            return false;
        }
        unlink(Opt.SerialPath.c_str());
    }
    if (symlink(name, Opt.SerialPath.c_str()) < 0) {
        std::fprintf(stderr, "cannot link %s: %s\n", Opt.SerialPath.c_str(), strerror(errno));
        return false;
    }
    SerialLinked = true;
    Status("serial " + Opt.SerialPath);
    return true;
}

bool Simulator::Start() {
    if (!Opt.LogFile.empty()) {
        Log.open(Opt.LogFile, std::ios::app | std::ios::binary);
        if (!Log) {
            std::fprintf(stderr, "cannot open %s\n", Opt.LogFile.c_str());
            return false;
        }
    }
    if (Opt.TcpPort >= 0 && !StartTcp()) return false;
    if (!Opt.SerialPath.empty() && !StartSerial()) return false;
    NextPeriod = Clock::now() + Ms(Opt.PeriodMs);
    ConnectAt = Clock::now();
    return true;
}

// Client mode: a blocking connect on loopback is immediate (or refused).
void Simulator::ConnectOut() {
    ConnectAt = Clock::now() + Ms(Opt.ReconnectMs);
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(Opt.ConnectPort));
    if (inet_pton(AF_INET, Opt.ConnectHost.c_str(), &a.sin_addr) != 1 ||
        connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
        close(fd);
        return;
    }
    SetNonBlocking(fd);
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    auto l = std::make_unique<Link>();
    l->Fd = fd;
    Out = l.get();
    AddLink(std::move(l));
    Status("connected");
    Identify(*Out);
}

void Simulator::Identify(Link& l) {
    if (!Opt.Ident.empty()) Queue(l, "<ID:" + Opt.Ident + ",nuq-sim-controller>\r\n");
}

// Takes every waiting connection: many peers may connect at once.
void Simulator::Accept() {
    for (;;) {
        const int fd = accept4(Listener, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
                // The waiting connection stays waiting: asking again at once
                // would only spin.
                if (!AcceptFailReported)
                    std::fprintf(stderr, "cannot accept: %s\n", strerror(errno));
                AcceptFailReported = true;
                PauseAccepting(true);
            }
            return;
        }
        AcceptFailReported = false;
        int on = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on); // pieces go out as written
        auto l = std::make_unique<Link>();
        l->Fd = fd;
        AddLink(std::move(l));
        Status("connect");
    }
}

// A descriptor closed elsewhere in the system does not wake us: the retry
// time covers that.
void Simulator::PauseAccepting(bool pause) {
    if (Listener < 0 || AcceptPaused == pause) return;
    AcceptPaused = pause;
    AcceptRetryAt = Clock::now() + Ms(1000);
    epoll_event ev{};
    ev.events = pause ? 0u : uint32_t(EPOLLIN);
    ev.data.ptr = &ListenerTag;
    epoll_ctl(Epoll, EPOLL_CTL_MOD, Listener, &ev);
}

// Edge-triggered: a link is read until nothing is left and written until the
// socket is full, and hears again only when that changes.
void Simulator::AddLink(std::unique_ptr<Link> l) {
    epoll_event ev{};
    ev.events = EPOLLIN | EPOLLOUT | EPOLLET;
    ev.data.ptr = l.get();
    epoll_ctl(Epoll, EPOLL_CTL_ADD, l->Fd, &ev);
    l->Index = Links.size();
    Links.push_back(std::move(l));
}

void Simulator::CloseLink(Link& l) {
    if (l.Closed) return;
    l.Closed = true;
    epoll_ctl(Epoll, EPOLL_CTL_DEL, l.Fd, nullptr);
    if (l.Serial) {
        SerialOpen = false;
        Status("serial closed");
    } else {
        close(l.Fd);
        Status("disconnect");
        PauseAccepting(false); // a descriptor is free again
    }
    if (&l == Out) {
        Out = nullptr;
        ConnectAt = Clock::now() + Ms(Opt.ReconnectMs);
    }
    // Out of the list at once, freed once no event of this round can name it.
    const size_t i = l.Index;
    Dead.push_back(std::move(Links[i]));
    if (i + 1 != Links.size()) {
        Links[i] = std::move(Links.back());
        Links[i]->Index = i;
    }
    Links.pop_back();
}

// The master side hangs up while no one has the terminal open; the link
// counts as open exactly while someone does.
void Simulator::CheckSerial() {
    if (Master < 0 || SerialOpen) return;
    pollfd p{Master, 0, 0};
    if (poll(&p, 1, 0) == 1 && (p.revents & POLLHUP)) return;
    SerialOpen = true;
    auto l = std::make_unique<Link>();
    l->Fd = Master;
    l->Serial = true;
    AddLink(std::move(l));
    Status("serial open");
}

bool Simulator::ReadLink(Link& l) {
    char buf[4096];
    for (;;) {
        const ssize_t n = read(l.Fd, buf, sizeof buf);
        if (n > 0) {
            l.In.append(buf, size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        const bool ended = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        size_t p;
        while ((p = l.In.find('\n')) != std::string::npos) {
            std::string line = l.In.substr(0, p);
            l.In.erase(0, p + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            HandleLine(l, line);
        }
        // A line that never ends is logged in parts rather than kept for good.
        if (l.In.size() > 65536) {
            HandleLine(l, l.In);
            l.In.clear();
        }
        return !ended;
    }
}

void Simulator::HandleLine(Link& l, std::string line) {
    LogReceived(line);
    if (line == "WHO IS?") {
        Identify(l);
        return;
    }
    const size_t b = line.find_first_not_of(" \t");
    const size_t e = line.find_last_not_of(" \t");
    if (b == std::string::npos || line[b] != '<' || line[e] != '>' || e == b) return;
    const std::string text = line.substr(b + 1, e - b - 1);
    if (Stalled()) return;
    const bool request = !Opt.Request || text == *Opt.Request;
    if (Opt.Echo && (!Opt.Request || !request)) Queue(l, "<OK:" + text + ">\r\n");
    std::string packet;
    if (request && NextPacket(packet)) Queue(l, packet);
}

bool Simulator::NextPacket(std::string& line) {
    if (Opt.Packets.empty()) return false;
    line = "<" + Opt.Packets[NextPacketIndex] + ">\r\n";
    NextPacketIndex = (NextPacketIndex + 1) % Opt.Packets.size();
    return true;
}

void Simulator::Queue(Link& l, const std::string& bytes) {
    if (l.Out.empty()) l.ReadyAt = Clock::now();
    if (!l.Pending) {
        l.Pending = true;
        Pending.push_back(&l);
    }
    if (Opt.Split <= 0) {
        l.Out.push_back({bytes, 0});
        return;
    }
    for (size_t i = 0; i < bytes.size(); i += size_t(Opt.Split))
        l.Out.push_back({bytes.substr(i, size_t(Opt.Split)), Opt.SplitPauseMs});
}

void Simulator::Broadcast(const std::string& bytes) {
    for (auto& l : Links) Queue(*l, bytes);
}

bool Simulator::WriteLink(Link& l, Clock::time_point now) {
    while (l.WantsWrite(now)) {
        Link::Piece& piece = l.Out.front();
        const ssize_t n =
            l.Serial ? write(l.Fd, piece.Bytes.data() + l.OutPos, piece.Bytes.size() - l.OutPos)
                     : send(l.Fd, piece.Bytes.data() + l.OutPos, piece.Bytes.size() - l.OutPos,
                            MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK;
        }
        l.OutPos += size_t(n);
        if (l.OutPos < piece.Bytes.size()) return true;
        l.Out.pop_front();
        l.OutPos = 0;
        if (!l.Out.empty()) l.ReadyAt = now + Ms(l.Out.front().DelayMs);
    }
    return true;
}

void Simulator::ReadControl() {
    char buf[1024];
    const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
    if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
        Quit = true;
        return;
    }
    if (n < 0) return;
    ControlIn.append(buf, size_t(n));
    size_t p;
    while (!Quit && (p = ControlIn.find('\n')) != std::string::npos) {
        std::string line = ControlIn.substr(0, p);
        ControlIn.erase(0, p + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        Control(line);
    }
}

void Simulator::Control(const std::string& line) {
    const size_t sp = line.find(' ');
    const std::string cmd = line.substr(0, sp);
    const std::string arg = sp == std::string::npos ? "" : line.substr(sp + 1);
    int n = 0, ms = 0;
    if (cmd.empty()) return;
    if (cmd == "send") {
        std::string text;
        if (arg.empty()) {
            if (NextPacket(text)) Broadcast(text);
        } else if (ParseHex(arg, text)) {
            Broadcast("<" + text + ">\r\n");
        } else {
            std::fprintf(stderr, "not a hexadecimal packet: %s\n", arg.c_str());
            return;
        }
    } else if (cmd == "unframed") {
        Broadcast(arg + "\r\n");
    } else if (cmd == "garbage" && ParseInt(arg.c_str(), 1, 1 << 20, n)) {
        // Any byte but CR and LF, brackets and NUL included: it must not end a line.
        std::string junk;
        while (int(junk.size()) < n) {
            GarbageSeed = GarbageSeed * 1103515245u + 12345u;
            const char c = char(GarbageSeed >> 23);
            if (c != '\r' && c != '\n') junk += c;
        }
        Broadcast(junk);
    } else if (cmd == "split") {
        const size_t sp2 = arg.find(' ');
        if (!ParseInt(arg.substr(0, sp2).c_str(), 0, 1 << 20, n) ||
            (sp2 != std::string::npos && !ParseInt(arg.c_str() + sp2 + 1, 0, 60000, ms))) {
            std::fprintf(stderr, "bad control command: %s\n", line.c_str());
            return;
        }
        Opt.Split = n;
        if (sp2 != std::string::npos) Opt.SplitPauseMs = ms;
    } else if (cmd == "stall" && ParseInt(arg.c_str(), 0, 86400000, ms)) {
        StallUntil = Clock::now() + Ms(ms);
        StallReported = false;
    } else if (cmd == "drop") {
        for (size_t i = Links.size(); i-- > 0;)
            if (i < Links.size() && !Links[i]->Serial) CloseLink(*Links[i]);
    } else if (cmd == "ident") {
        if (Out) Identify(*Out);
    } else if (cmd == "quit") {
        Quit = true;
    } else {
        std::fprintf(stderr, "bad control command: %s\n", line.c_str());
        return;
    }
    Status("ok " + cmd);
}

// Sends what is due; a link whose peer went is closed.
void Simulator::Flush(Link& l, Clock::time_point now) {
    if (!l.Closed && !WriteLink(l, now)) CloseLink(l);
}

int Simulator::Run() {
    Epoll = epoll_create1(EPOLL_CLOEXEC);
    if (Epoll < 0) {
        std::perror("epoll_create1");
        return 1;
    }
    if (!Start()) return 1;
    // Tags of the descriptors that are not links; a link's tag is its address.
    static char signalTag, stdinTag;
    auto watch = [this](int fd, void* tag) {
        epoll_event ev{};
        ev.events = EPOLLIN;
        ev.data.ptr = tag;
        return epoll_ctl(Epoll, EPOLL_CTL_ADD, fd, &ev) == 0;
    };
    watch(signalPipe[0], &signalTag);
    if (Opt.StdinControl && !watch(STDIN_FILENO, &stdinTag)) StdinPlain = true;
    if (Listener >= 0) watch(Listener, &ListenerTag);
    std::vector<epoll_event> events(1024);
    while (!Quit) {
        CheckSerial();
        auto now = Clock::now();
        if (!Opt.ConnectHost.empty() && !Out && now >= ConnectAt) ConnectOut();
        if (AcceptPaused && now >= AcceptRetryAt) PauseAccepting(false);
        if (!StallReported && now >= StallUntil) {
            StallReported = true;
            Status("stall end");
        }
        if (Opt.PeriodMs > 0 && now >= NextPeriod) {
            std::string packet;
            if (!Stalled() && !Links.empty() && NextPacket(packet)) Broadcast(packet);
            NextPeriod += Ms(Opt.PeriodMs);
            if (NextPeriod <= now) NextPeriod = now + Ms(Opt.PeriodMs);
        }

        // Output that is due goes now; what is left waits for room or its time.
        auto wake = now + Ms(60000);
        for (size_t i = 0; i < Pending.size();) {
            Link& l = *Pending[i];
            if (!l.Closed && l.WantsWrite(now)) Flush(l, now);
            if (l.Closed || l.Out.empty()) {
                l.Pending = false;
                Pending[i] = Pending.back();
                Pending.pop_back();
                continue;
            }
            wake = std::min(wake, l.ReadyAt);
            ++i;
        }
        Dead.clear();

        // Wake for the period, the end of a stall, the next piece of a split
        // line, and to look for the terminal opening its side.
        if (Opt.PeriodMs > 0) wake = std::min(wake, NextPeriod);
        if (!StallReported) wake = std::min(wake, StallUntil);
        if (Master >= 0 && !SerialOpen) wake = std::min(wake, now + Ms(50));
        if (!Opt.ConnectHost.empty() && !Out) wake = std::min(wake, ConnectAt);
        if (AcceptPaused) wake = std::min(wake, AcceptRetryAt);
        int timeout =
            int(std::max<int64_t>(0, std::chrono::duration_cast<Ms>(wake - now).count() + 1));
        if (StdinPlain) timeout = 0;
        const int n = epoll_wait(Epoll, events.data(), int(events.size()), timeout);
        if (n < 0 && errno != EINTR) {
            std::perror("epoll_wait");
            return 1;
        }
        now = Clock::now();
        bool control = StdinPlain, accept = false;
        for (int i = 0; i < n; ++i) {
            void* tag = events[size_t(i)].data.ptr;
            if (tag == &signalTag) return 0; // SIGTERM or SIGINT
            if (tag == &stdinTag) {
                control = true;
                continue;
            }
            if (tag == &ListenerTag) {
                accept = true;
                continue;
            }
            Link& l = *static_cast<Link*>(tag);
            if (l.Closed) continue;
            const uint32_t r = events[size_t(i)].events;
            bool alive = true;
            if (r & (EPOLLIN | EPOLLHUP | EPOLLERR)) alive = ReadLink(l);
            if (alive) alive = WriteLink(l, now);
            if (!alive) CloseLink(l);
        }
        // After the links: a control command may close some of them.
        if (control) ReadControl();
        if (accept) Accept();
    }
    return 0;
}

int Usage(const char* problem) {
    if (problem) std::fprintf(stderr, "nuq-sim-controller: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

} // namespace
} // namespace nuq

int main(int argc, char** argv) {
    using namespace nuq;
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (a == "--echo") {
            o.Echo = true;
        } else if (a == "--stdin-control") {
            o.StdinControl = true;
        } else if (a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!(v = value())) {
            return Usage(("missing value or unknown option: " + a).c_str());
        } else if (a == "--tcp") {
            if (!ParseInt(v, 0, 65535, o.TcpPort)) return Usage("bad --tcp port");
        } else if (a == "--serial") {
            o.SerialPath = v;
        } else if (a == "--connect") {
            const std::string hp = v;
            const size_t colon = hp.rfind(':');
            if (colon == std::string::npos ||
                !ParseInt(hp.c_str() + colon + 1, 1, 65535, o.ConnectPort))
                return Usage("bad --connect: HOST:PORT expected");
            o.ConnectHost = hp.substr(0, colon);
        } else if (a == "--ident") {
            o.Ident = v;
        } else if (a == "--reconnect") {
            if (!ParseInt(v, 0, 3600000, o.ReconnectMs)) return Usage("bad --reconnect");
        } else if (a == "--packet") {
            std::string text;
            if (!ParseHex(v, text)) return Usage("bad --packet: hexadecimal bytes expected");
            o.Packets.push_back(text);
        } else if (a == "--packets") {
            std::ifstream in(v);
            if (!in) return Usage("cannot read --packets file");
            std::string line;
            while (std::getline(in, line)) {
                if (!line.empty() && line.back() == '\r') line.pop_back();
                if (line.find_first_not_of(" \t") == std::string::npos || line[0] == '#') continue;
                std::string text;
                if (!ParseHex(line, text)) return Usage(("bad packet line: " + line).c_str());
                o.Packets.push_back(text);
            }
        } else if (a == "--period") {
            if (!ParseInt(v, 1, 86400000, o.PeriodMs)) return Usage("bad --period");
        } else if (a == "--request") {
            o.Request = v;
        } else if (a == "--log") {
            o.LogFile = v;
        } else if (a == "--split") {
            if (!ParseInt(v, 0, 1 << 20, o.Split)) return Usage("bad --split");
        } else if (a == "--split-pause") {
            if (!ParseInt(v, 0, 60000, o.SplitPauseMs)) return Usage("bad --split-pause");
        } else {
            return Usage(("unknown option: " + a).c_str());
        }
    }
    if (o.TcpPort < 0 && o.SerialPath.empty() && o.ConnectHost.empty())
        return Usage("give --tcp, --serial or --connect");

    // A connection per object: thousands need more than the usual soft limit.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }
    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) < 0) return 1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Simulator sim(std::move(o));
    return sim.Run();
}

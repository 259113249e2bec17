// nuq-sim-modem: a GSM/GPRS modem for tests and the demo.
//
// Serves a pseudo-terminal linked under a COMn name and speaks the AT
// dialogue the terminal's modem engine uses: echo, any initialisation step,
// stored SMS (list, read, delete), the internet-service commands (^SICS,
// ^SISS, ^SISO, ^SISR, ^SISW, ^SISC, ^SICC), dialling, "+++" and ATH. On
// request it sends unsolicited result codes, and answers a command with
// ERROR, late, or not at all. Every byte it receives is appended to a log
// file, so a test can compare the exact dialogue.
//
// Its internet service is real: with --listen it serves a TCP port on
// 127.0.0.1 standing for the modem's listener. A connection is announced with
// ^SIS, accepted by AT^SISO, its bytes are announced with ^SISR and read by
// AT^SISR; AT^SISW writes to it and AT^SISC closes it; a peer that goes is
// announced with ^SIS. SMS sent with AT+CMGS (prompt, text, Ctrl-Z) are
// printed as status lines, whole messages once every part has come; a USSD
// request is answered with the balance text in UCS-2; a data call (dial
// result CONNECT) takes one line, prints it and is hung up by the far side.
//
// Driven by control lines from standard input (--stdin-control) or from a
// script file run at start (--script). Single-threaded: one poll loop over
// the signal pipe, standard input and the terminal's master side.
//
// Kept open for growth: a command is handled by one entry of the command
// table (Simulator::Command), and the state of the modem's services lives in
// Services.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pty.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace nuq {
namespace {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

const char* kUsage =
    "usage: nuq-sim-modem --serial DIR/COMn [options]\n"
    "  --serial PATH      make a pseudo-terminal linked as PATH (prints \"serial PATH\")\n"
    "  --log FILE         append every byte received to FILE\n"
    "  --ip ADDR          the modem's own address in the network (default 10.0.0.5)\n"
    "  --no-echo          start with command echo off (default on, as after power-up)\n"
    "  --script FILE      control commands run at start, one per line (# comments)\n"
    "  --stdin-control    read control commands from stdin; exit when it closes\n"
    "  --verbose          print \"cmd LINE\" for every command received\n"
    "  --listen PORT      serve the listener on 127.0.0.1:PORT (0: any free port;\n"
    "                     prints \"listening PORT\")\n"
    "  --balance TEXT     the USSD balance reply (default \"Баланс 100,00 р.\")\n"
    "status lines: \"tcp connect N\", \"tcp close N\", \"dial NUMBER\", \"csd TEXT\",\n"
    "  \"smsout PHONE PDU\" per part, \"smstext PHONE TEXT\" per whole message\n"
    "  (\"smsbad PHONE HEX\" when its text is not UCS-2 in groups of four hex digits)\n"
    "control commands (answered \"ok NAME\"):\n"
    "  error PATTERN [N]      answer ERROR to commands starting with PATTERN (N times; 0 always)\n"
    "  silent PATTERN [N]     do not answer them\n"
    "  late PATTERN MS [N]    answer them MS milliseconds late\n"
    "  inject PATTERN TEXT    send TEXT just before the answer to the next such command\n"
    "  clear                  forget every rule\n"
    "  emit TEXT              send TEXT now (escapes \\r \\n \\e \\\\ \\xHH)\n"
    "  ring PHONE             RING and +CLIP with PHONE\n"
    "  sms PHONE TEXT         store an SMS and announce it with +CMTI\n"
    "  store PHONE TEXT       store an SMS silently\n"
    "  cusd TEXT              a USSD reply carrying TEXT in UCS-2\n"
    "  data N TEXT            data for socket N to read, announced with ^SISR: N, 1\n"
    "  dial RESULT            what dialling answers from now on (default NO CARRIER)\n"
    "  csd-hangup yes|no      whether the far side of a data call hangs up after its line\n"
    "  close N                the peer of socket N goes away\n"
    "  hangup                 the line fails: a new pseudo-terminal takes the name\n"
    "  reset-log              empty the log file\n"
    "  quit\n"
    "PATTERN is compared with the start of the command, case ignored; \"+++\" names\n"
    "the escape sequence.\n";

int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const int saved = errno;
    [[maybe_unused]] ssize_t r = write(signalPipe[1], "x", 1);
    errno = saved;
}

bool ParseInt(const std::string& s, int lo, int hi, int& value) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(s.c_str(), &end, 10);
    if (errno || end == s.c_str() || *end || v < lo || v > hi) return false;
    value = int(v);
    return true;
}

std::string Upper(std::string s) {
    for (char& c : s) c = char(toupper(static_cast<unsigned char>(c)));
    return s;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.compare(0, prefix.size(), prefix) == 0;
}

// \r \n \e \\ \xHH in a control text.
std::string Unescape(const std::string& s) {
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 >= s.size()) {
            r += s[i];
            continue;
        }
        const char c = s[++i];
        if (c == 'r')
            r += '\r';
        else if (c == 'n')
            r += '\n';
        else if (c == 'e')
            r += '\x1B';
        else if (c == 'x' && i + 2 < s.size() && isxdigit(static_cast<unsigned char>(s[i + 1])) &&
                 isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            r += char(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else
            r += c;
    }
    return r;
}

// ---- UCS-2 text of SMS and USSD: four hex digits per UTF-16 unit, high
// byte first. The simulator reads and writes it on its own, so what the
// engine sends is checked by a reading independent of the engine's.

void PutUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// The code points of UTF-8 text; a byte that starts no valid sequence is
// U+FFFD.
std::vector<uint32_t> CodePoints(const std::string& s) {
    std::vector<uint32_t> cps;
    for (size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        const int extra = b < 0x80         ? 0
                          : (b >> 5) == 6  ? 1
                          : (b >> 4) == 14 ? 2
                          : (b >> 3) == 30 ? 3
                                           : -1;
        uint32_t cp = extra == 0 ? b : extra == 1 ? b & 0x1F : extra == 2 ? b & 0x0F : b & 0x07;
        bool ok = extra >= 0 && i + size_t(extra) < s.size();
        for (int k = 1; ok && k <= extra; ++k) {
            const auto c = static_cast<unsigned char>(s[i + size_t(k)]);
            ok = (c & 0xC0) == 0x80;
            cp = (cp << 6) | (c & 0x3F);
        }
        if (!ok) {
            cps.push_back(0xFFFD);
            ++i;
            continue;
        }
        cps.push_back(cp);
        i += size_t(extra) + 1;
    }
    return cps;
}

std::string Ucs2Hex(const std::string& text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    auto unit = [&](uint32_t u) {
        for (int shift = 12; shift >= 0; shift -= 4) hex += digits[(u >> shift) & 0xF];
    };
    for (uint32_t cp : CodePoints(text)) {
        if (cp >= 0x10000) {
            unit(0xD800 + ((cp - 0x10000) >> 10));
            unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
        } else {
            unit(cp);
        }
    }
    return hex;
}

// False when Hex is not whole groups of four hex digits; a surrogate without
// its other half reads as U+FFFD.
bool FromUcs2Hex(const std::string& hex, std::string& text) {
    text.clear();
    if (hex.size() % 4) return false;
    std::vector<uint32_t> units;
    for (size_t i = 0; i < hex.size(); i += 4) {
        uint32_t u = 0;
        for (size_t k = i; k < i + 4; ++k) {
            const char c = hex[k];
            const int d = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                                                 : -1;
            if (d < 0) return false;
            u = (u << 4) | uint32_t(d);
        }
        units.push_back(u);
    }
    for (size_t i = 0; i < units.size(); ++i) {
        const uint32_t u = units[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] <= 0xDFFF) {
            PutUtf8(text, 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00));
            ++i;
        } else {
            PutUtf8(text, u >= 0xD800 && u <= 0xDFFF ? 0xFFFD : u);
        }
    }
    return true;
}

// Splits "WORD REST" at the first blank.
void Split(const std::string& s, std::string& word, std::string& rest) {
    const size_t sp = s.find(' ');
    word = s.substr(0, sp);
    rest = sp == std::string::npos ? "" : s.substr(sp + 1);
}

struct Rule {
    enum Kind { Error, Silent, Late, Inject } What;
    std::string Pattern; // upper-cased
    int Count = 0;       // 0: for good
    int DelayMs = 0;
    std::string Text;
};

struct Sms {
    int Index;
    std::string Phone;
    std::string Text; // UTF-8
};

// A controller's connection to the listener: a socket service of the modem.
struct Connection {
    int Fd = -1;
    bool Accepted = false; // by AT^SISO=n
    std::string Out;       // written by AT^SISW, not yet on the wire
};

// Parts of a concatenated SMS being sent, by reference.
struct OutgoingSms {
    std::string Phone;
    int Count = 0;
    std::map<int, std::string> Parts; // number -> UCS-2 hex
};

// The modem's internet services and stored messages.
struct Services {
    int ListenerPort = 2222;
    bool ListenerOpen = false;
    int ListenFd = -1;                     // the real listener standing for the modem's
    std::map<int, Connection> Sockets;     // 1..9
    std::map<int, std::string> SocketData; // waiting to be read
    std::vector<Sms> Messages;
    int NextSmsIndex = 1;
    std::map<int, OutgoingSms> Outgoing;
    int NextReference = 1;
    std::string Balance = "Баланс 100,00 р.";
};

class Simulator {
public:
    Simulator(std::string path, std::string log, std::string ip, bool echo, bool verbose)
        : Path(std::move(path)), LogFile(std::move(log)), Ip(std::move(ip)), Echo(echo),
          Verbose(verbose) {}
    ~Simulator();
    bool Start(int listenPort);
    void SetBalance(const std::string& text) { Srv.Balance = text; }
    int Run(bool stdinControl);
    bool Control(const std::string& line);

private:
    struct Piece {
        std::string Bytes;
        Clock::time_point At;
    };

    bool MakeTerminal();
    void Status(const std::string& line);
    void CheckOpen();
    void ReadTerminal();
    void WriteTerminal();
    void Parse();
    void Send(const std::string& bytes, int delayMs = 0);
    void Answer(const std::string& command, const std::string& answer);
    bool Refused(const std::string& command) const;
    std::string Command(const std::string& line);
    std::string ListMessages();
    std::string ReadMessage(int index);
    void ReadControl();
    bool StartListener(int port);
    void Accept();
    void ReadConnection(int n);
    void WriteConnection(int n);
    void CloseConnection(int n, bool announce);
    void Announce(int n);
    void SmsSubmitted(const std::string& pdu);
    void DataCallLine(const std::string& line);

    std::string Path, LogFile, Ip;
    bool Echo, Verbose;
    int Master = -1;
    bool Linked = false;
    bool Open = false;
    std::string In;
    int DataPending = 0; // bytes of a socket write still to come
    int DataSocket = -1; // where they go
    std::string DataBytes;
    bool SkipLf = false;
    bool SmsPending = false; // AT+CMGS prompted: text up to Ctrl-Z follows
    std::string SmsPhone;
    bool DataCall = false; // a CSD call is up: lines are data
    bool CsdHangup = true;
    std::deque<Piece> Out;
    size_t OutPos = 0;
    std::vector<Rule> Rules;
    std::string DialResult = "NO CARRIER";
    Services Srv;
    std::ofstream Log;
    std::string ControlIn;
    bool Quit = false;
};

Simulator::~Simulator() {
    for (auto& [n, c] : Srv.Sockets) close(c.Fd);
    if (Srv.ListenFd >= 0) close(Srv.ListenFd);
    if (Master >= 0) close(Master);
    if (Linked) unlink(Path.c_str());
}

void Simulator::Status(const std::string& line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool Simulator::MakeTerminal() {
    int slave = -1;
    char name[256];
    if (openpty(&Master, &slave, name, nullptr, nullptr) < 0) {
        std::fprintf(stderr, "cannot make a pseudo-terminal: %s\n", strerror(errno));
        return false;
    }
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    close(slave); // until the terminal opens it, the master reports a hang-up
    fcntl(Master, F_SETFL, fcntl(Master, F_GETFL) | O_NONBLOCK);
    fcntl(Master, F_SETFD, FD_CLOEXEC);
    struct stat st {};
    if (lstat(Path.c_str(), &st) == 0) {
        if (!S_ISLNK(st.st_mode)) {
            std::fprintf(stderr, "%s exists and is not a link\n", Path.c_str());
            return false;
        }
        unlink(Path.c_str());
    }
    if (symlink(name, Path.c_str()) < 0) {
        std::fprintf(stderr, "cannot link %s: %s\n", Path.c_str(), strerror(errno));
        return false;
    }
    Linked = true;
    return true;
}

bool Simulator::StartListener(int port) {
    Srv.ListenFd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (Srv.ListenFd < 0) return false;
    int on = 1;
    setsockopt(Srv.ListenFd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(uint16_t(port));
    socklen_t len = sizeof a;
    if (bind(Srv.ListenFd, reinterpret_cast<sockaddr*>(&a), len) < 0 ||
        listen(Srv.ListenFd, 8) < 0 ||
        getsockname(Srv.ListenFd, reinterpret_cast<sockaddr*>(&a), &len) < 0) {
        std::fprintf(stderr, "cannot listen on port %d: %s\n", port, strerror(errno));
        return false;
    }
    Status("listening " + std::to_string(ntohs(a.sin_port)));
    return true;
}

// A controller connects: it becomes the lowest free socket service, announced
// to the terminal. While the listener service is closed nobody is let in.
void Simulator::Accept() {
    const int fd = accept4(Srv.ListenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0) return;
    int n = 1;
    while (n <= 9 && Srv.Sockets.count(n)) ++n;
    if (!Srv.ListenerOpen || n > 9 || !Open) {
        close(fd);
        return;
    }
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    Srv.Sockets[n] = Connection{fd, false, ""};
    Srv.SocketData[n].clear();
    Status("tcp connect " + std::to_string(n));
    Send("\r\n^SIS: 0,1," + std::to_string(n) + "\r\n");
}

void Simulator::Announce(int n) {
    Send("\r\n^SISR: " + std::to_string(n) + ", 1\r\n");
}

void Simulator::ReadConnection(int n) {
    Connection& c = Srv.Sockets[n];
    std::string& data = Srv.SocketData[n];
    const bool wasEmpty = data.empty();
    char buf[4096];
    for (;;) {
        const ssize_t r = read(c.Fd, buf, sizeof buf);
        if (r > 0) {
            data.append(buf, size_t(r));
            continue;
        }
        if (r < 0 && errno == EINTR) continue;
        if (r == 0 || (errno != EAGAIN && errno != EWOULDBLOCK)) {
            CloseConnection(n, true);
            return;
        }
        break;
    }
    if (wasEmpty && !data.empty() && c.Accepted) Announce(n);
}

void Simulator::WriteConnection(int n) {
    Connection& c = Srv.Sockets[n];
    while (!c.Out.empty()) {
        const ssize_t r = send(c.Fd, c.Out.data(), c.Out.size(), MSG_NOSIGNAL);
        if (r < 0) {
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) CloseConnection(n, true);
            return;
        }
        c.Out.erase(0, size_t(r));
    }
}

// The peer went (Announce) or the terminal closed the service.
void Simulator::CloseConnection(int n, bool announce) {
    auto it = Srv.Sockets.find(n);
    if (it == Srv.Sockets.end()) return;
    close(it->second.Fd);
    Srv.Sockets.erase(it);
    Status("tcp close " + std::to_string(n));
    if (announce)
        Send("\r\n^SIS: " + std::to_string(n) +
             ",0,48,\"Remote peer has closed the connection\"\r\n");
}

// One part of an SMS as AT+CMGS took it: the concatenation header, then the
// text in UCS-2. A message is printed whole once all its parts are in.
void Simulator::SmsSubmitted(const std::string& pdu) {
    Status("smsout " + SmsPhone + " " + pdu);
    int ref = 0, count = 0, part = 0;
    if (pdu.size() < 12 || pdu.compare(0, 6, "050003") != 0) return;
    try {
        ref = std::stoi(pdu.substr(6, 2), nullptr, 16);
        count = std::stoi(pdu.substr(8, 2), nullptr, 16);
        part = std::stoi(pdu.substr(10, 2), nullptr, 16);
    } catch (const std::exception&) {
        return;
    }
    OutgoingSms& m = Srv.Outgoing[ref];
    m.Phone = SmsPhone;
    m.Count = count;
    m.Parts[part] = pdu.substr(12);
    if (int(m.Parts.size()) < count) return;
    std::string hex, text;
    for (auto& [k, v] : m.Parts) hex += v;
    if (FromUcs2Hex(hex, text))
        Status("smstext " + m.Phone + " " + text);
    else
        Status("smsbad " + m.Phone + " " + hex);
    Srv.Outgoing.erase(ref);
}

void Simulator::DataCallLine(const std::string& line) {
    Status("csd " + line);
    if (!CsdHangup) return;
    DataCall = false;
    Send("\r\nNO CARRIER\r\n", 200);
}

bool Simulator::Start(int listenPort) {
    if (listenPort >= 0 && !StartListener(listenPort)) return false;
    if (!LogFile.empty()) {
        Log.open(LogFile, std::ios::app | std::ios::binary);
        if (!Log) {
            std::fprintf(stderr, "cannot open %s\n", LogFile.c_str());
            return false;
        }
    }
    if (!MakeTerminal()) return false;
    Status("serial " + Path);
    return true;
}

// The master side hangs up while no one has the terminal open.
void Simulator::CheckOpen() {
    pollfd p{Master, 0, 0};
    const bool hungUp = poll(&p, 1, 0) == 1 && (p.revents & POLLHUP);
    if (hungUp == !Open) return;
    Open = !hungUp;
    if (!Open) {
        // A modem forgets a half-typed command and unsent answers with its line.
        In.clear();
        Out.clear();
        OutPos = 0;
        DataPending = 0;
    }
    Status(Open ? "serial open" : "serial closed");
}

void Simulator::ReadTerminal() {
    char buf[4096];
    for (;;) {
        const ssize_t n = read(Master, buf, sizeof buf);
        if (n > 0) {
            if (Log.is_open()) {
                Log.write(buf, n);
                Log.flush();
            }
            In.append(buf, size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        break;
    }
    Parse();
}

void Simulator::Send(const std::string& bytes, int delayMs) {
    if (!Open || bytes.empty()) return;
    auto at = Clock::now() + Ms(delayMs);
    // Answers leave in order: one sent late holds back those behind it.
    if (!Out.empty()) at = std::max(at, Out.back().At);
    Out.push_back({bytes, at});
}

void Simulator::WriteTerminal() {
    const auto now = Clock::now();
    while (!Out.empty() && now >= Out.front().At) {
        Piece& p = Out.front();
        const ssize_t n = write(Master, p.Bytes.data() + OutPos, p.Bytes.size() - OutPos);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;
        }
        OutPos += size_t(n);
        if (OutPos < p.Bytes.size()) return;
        Out.pop_front();
        OutPos = 0;
    }
}

void Simulator::Parse() {
    for (;;) {
        if (DataPending > 0) {
            // The LF ending the AT^SISW line is not data.
            if (SkipLf) {
                if (In.empty()) return;
                if (In[0] == '\n') In.erase(0, 1);
                SkipLf = false;
            }
            const size_t take = std::min(In.size(), size_t(DataPending));
            DataBytes += In.substr(0, take);
            In.erase(0, take);
            DataPending -= int(take);
            if (DataPending > 0) return;
            auto c = Srv.Sockets.find(DataSocket);
            if (c != Srv.Sockets.end()) {
                c->second.Out += DataBytes;
                WriteConnection(DataSocket);
            }
            DataBytes.clear();
            Answer("", "\r\nOK\r\n");
            continue;
        }
        if (SmsPending) {
            const size_t z = In.find_first_of("\x1A\x1B");
            if (z == std::string::npos) return;
            const bool sent = In[z] == '\x1A';
            std::string text = In.substr(0, z);
            // The line end of the AT+CMGS command is not message text.
            while (!text.empty() && (text[0] == '\n' || text[0] == '\r')) text.erase(0, 1);
            In.erase(0, z + 1);
            SmsPending = false;
            if (sent) {
                SmsSubmitted(text);
                Answer("AT+CMGS", "\r\n+CMGS: " + std::to_string(Srv.NextReference++ % 256) +
                                      "\r\n\r\nOK\r\n");
            }
            continue;
        }
        if (DataCall) {
            if (StartsWith(In, "+++")) {
                In.erase(0, 3);
                DataCall = false;
                Answer("+++", "\r\nOK\r\n");
                continue;
            }
            const size_t lf = In.find('\n');
            if (lf == std::string::npos) return;
            std::string line = In.substr(0, lf);
            In.erase(0, lf + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) DataCallLine(line);
            continue;
        }
        // Line ends left over from the previous command, and the escape
        // that leaves transparent mode, are no commands.
        size_t skip = 0;
        while (skip < In.size() && (In[skip] == '\n' || In[skip] == '\x1B')) ++skip;
        In.erase(0, skip);
        if (StartsWith(In, "+++")) {
            In.erase(0, 3);
            Answer("+++", "\r\nOK\r\n");
            continue;
        }
        const size_t cr = In.find('\r');
        if (cr == std::string::npos) return;
        const std::string line = In.substr(0, cr);
        In.erase(0, cr + 1);
        if (line.empty()) continue;
        if (Verbose) Status("cmd " + line);
        if (Echo) Send(line + "\r");
        // A refused command has no effect: a refused read leaves the data
        // with the modem.
        const std::string answer = Refused(line) ? "\r\nERROR\r\n" : Command(line);
        Answer(line, answer);
    }
}

// Whether the rule that decides Command's answer refuses it.
bool Simulator::Refused(const std::string& command) const {
    const std::string upper = Upper(command);
    for (const Rule& r : Rules)
        if (r.What != Rule::Inject && StartsWith(upper, r.Pattern)) return r.What == Rule::Error;
    return false;
}

// Sends Answer to Command unless a rule says otherwise.
void Simulator::Answer(const std::string& command, const std::string& answer) {
    const std::string upper = Upper(command);
    int delay = 0;
    std::string text = answer;
    for (size_t i = 0; i < Rules.size();) {
        Rule& r = Rules[i];
        if (command.empty() || !StartsWith(upper, r.Pattern)) {
            ++i;
            continue;
        }
        const Rule::Kind kind = r.What;
        switch (kind) {
        case Rule::Error:
            text = "\r\nERROR\r\n";
            break;
        case Rule::Silent:
            text.clear();
            break;
        case Rule::Late:
            delay = r.DelayMs;
            break;
        case Rule::Inject:
            Send(r.Text);
            break;
        }
        if (r.Count > 0 && --r.Count == 0)
            Rules.erase(Rules.begin() + ptrdiff_t(i));
        else
            ++i;
        if (kind != Rule::Inject) break; // the first answering rule decides
    }
    // A refused submit takes no text: what follows is commands again.
    if (text != answer && StartsWith(upper, "AT+CMGS=")) SmsPending = false;
    Send(text, delay);
}

std::string Simulator::ListMessages() {
    std::string r;
    for (const Sms& m : Srv.Messages)
        r += "\r\n+CMGL: " + std::to_string(m.Index) + ",\"REC UNREAD\",\"" + m.Phone +
             "\",,\"26/01/10,08:00:00+12\"\r\n" + Ucs2Hex(m.Text);
    return r + "\r\n\r\nOK\r\n";
}

std::string Simulator::ReadMessage(int index) {
    for (const Sms& m : Srv.Messages)
        if (m.Index == index) {
            const std::string hex = Ucs2Hex(m.Text);
            return "\r\n+CMGR: \"REC UNREAD\",\"" + m.Phone +
                   "\",,\"26/01/10,08:00:00+12\",145,4,0,8,\"+79000000000\",145," +
                   std::to_string(hex.size() / 2) + "\r\n" + hex + "\r\n\r\nOK\r\n";
        }
    return "\r\nOK\r\n";
}

// The answer to one command line (without its CR).
std::string Simulator::Command(const std::string& line) {
    const std::string c = Upper(line);
    const std::string ok = "\r\nOK\r\n";
    auto number = [&](const std::string& prefix) {
        int n = -1;
        const std::string rest = c.substr(prefix.size());
        ParseInt(rest.substr(0, rest.find(',')), 0, 1000000, n);
        return n;
    };
    if (c == "ATE0") {
        Echo = false;
        return ok;
    }
    if (c == "ATE1" || c == "ATE") {
        Echo = true;
        return ok;
    }
    if (StartsWith(c, "AT+CMGL")) return ListMessages();
    if (StartsWith(c, "AT+CMGR=")) return ReadMessage(number("AT+CMGR="));
    if (StartsWith(c, "AT+CMGD=")) {
        const int n = number("AT+CMGD=");
        auto& m = Srv.Messages;
        m.erase(std::remove_if(m.begin(), m.end(), [&](const Sms& s) { return s.Index == n; }),
                m.end());
        return ok;
    }
    if (c == "AT^SISO?") {
        std::string r =
            "\r\n^SISO: 0,\"Socket\"," + std::string(Srv.ListenerOpen ? "4,3" : "2,1") + ",0,0,\"" +
            (Srv.ListenerOpen ? Ip + ":" + std::to_string(Srv.ListenerPort) : "0.0.0.0:0") +
            "\",\"0.0.0.0:0\"";
        for (int n = 1; n <= 9; ++n) r += "\r\n^SISO: " + std::to_string(n) + ",\"\"";
        return r + "\r\n\r\nOK\r\n";
    }
    if (StartsWith(c, "AT^SISO=")) {
        const int n = number("AT^SISO=");
        if (n == 0) {
            Srv.ListenerOpen = true;
            return ok;
        }
        auto s = Srv.Sockets.find(n);
        if (s == Srv.Sockets.end()) return "\r\nERROR\r\n";
        s->second.Accepted = true;
        if (!Srv.SocketData[n].empty()) return ok + "\r\n^SISR: " + std::to_string(n) + ", 1\r\n";
        return ok;
    }
    if (StartsWith(c, "AT^SISC=")) {
        const int n = number("AT^SISC=");
        if (n == 0) {
            Srv.ListenerOpen = false;
            for (int k = 1; k <= 9; ++k) CloseConnection(k, false);
        } else {
            CloseConnection(n, false);
            Srv.SocketData.erase(n);
        }
        return ok;
    }
    if (StartsWith(c, "AT^SISS=0,ADDRESS,")) {
        const size_t colon = c.rfind(':');
        int port = 0;
        if (colon != std::string::npos && ParseInt(c.substr(colon + 1), 1, 65535, port))
            Srv.ListenerPort = port;
        return ok;
    }
    if (StartsWith(c, "AT^SISR=")) {
        const int n = number("AT^SISR=");
        const size_t comma = c.find(',');
        int len = 0;
        if (comma == std::string::npos || !ParseInt(c.substr(comma + 1), 0, 1500, len))
            return "\r\nERROR\r\n";
        std::string& data = Srv.SocketData[n];
        const std::string part = data.substr(0, size_t(len));
        data.erase(0, part.size());
        std::string r = "\r\n^SISR: " + std::to_string(n) + "," + std::to_string(part.size()) +
                        "\r\n" + part + ok;
        // What did not fit is announced again, as a modem does.
        if (!data.empty()) r += "\r\n^SISR: " + std::to_string(n) + ", 1\r\n";
        return r;
    }
    if (StartsWith(c, "AT^SISW=")) {
        const int n = number("AT^SISW=");
        const size_t comma = c.find(',');
        int len = 0;
        if (comma == std::string::npos || !ParseInt(c.substr(comma + 1), 0, 1500, len))
            return "\r\nERROR\r\n";
        // Data for a socket with no peer is taken and dropped.
        DataPending = len;
        SkipLf = true;
        DataSocket = n;
        DataBytes.clear();
        const std::string prompt =
            "\r\n^SISW: " + std::to_string(n) + "," + std::to_string(len) + ",0\r\n";
        if (len == 0) return prompt + ok;
        return prompt;
    }
    if (StartsWith(c, "ATD")) {
        Status("dial " + line.substr(3));
        // A data call carries lines until the far side hangs up.
        if (StartsWith(DialResult, "CONNECT")) DataCall = true;
        return "\r\n" + DialResult + "\r\n";
    }
    if (StartsWith(c, "ATA") && StartsWith(DialResult, "CONNECT")) {
        // An incoming data call taken: it carries lines as a dialled one does.
        DataCall = true;
        return "\r\n" + DialResult + "\r\n";
    }
    if (StartsWith(c, "ATH")) {
        DataCall = false;
        return ok;
    }
    if (StartsWith(c, "AT+CMGS=")) {
        const size_t q1 = line.find('"');
        const size_t q2 = q1 == std::string::npos ? q1 : line.find('"', q1 + 1);
        if (q2 == std::string::npos) return "\r\nERROR\r\n";
        SmsPhone = line.substr(q1 + 1, q2 - q1 - 1);
        SmsPending = true;
        return "\r\n> ";
    }
    if (StartsWith(c, "AT+CUSD=1,")) {
        Send(ok);
        Send("\r\n+CUSD: 0,\"" + Ucs2Hex(Srv.Balance) + "\",72\r\n", 300);
        return "";
    }
    return ok; // ATH, ATA, AT, every initialisation step, ^SICS, ^SISS, ^SICC ...
}

bool Simulator::Control(const std::string& line) {
    std::string cmd, arg;
    Split(line, cmd, arg);
    if (cmd.empty() || cmd[0] == '#') return true;
    std::string a1, a2;
    Split(arg, a1, a2);
    int n = 0, ms = 0;
    if (cmd == "error" || cmd == "silent") {
        if (a1.empty() || (!a2.empty() && !ParseInt(a2, 0, 1000000, n))) return false;
        Rules.push_back({cmd == "error" ? Rule::Error : Rule::Silent, Upper(a1), n, 0, ""});
    } else if (cmd == "late") {
        std::string a3, a4;
        Split(a2, a3, a4);
        if (a1.empty() || !ParseInt(a3, 0, 600000, ms) ||
            (!a4.empty() && !ParseInt(a4, 0, 1000000, n)))
            return false;
        Rules.push_back({Rule::Late, Upper(a1), n, ms, ""});
    } else if (cmd == "inject") {
        if (a1.empty() || a2.empty()) return false;
        Rules.push_back({Rule::Inject, Upper(a1), 1, 0, Unescape(a2)});
    } else if (cmd == "clear") {
        Rules.clear();
    } else if (cmd == "emit") {
        Send(Unescape(arg));
    } else if (cmd == "ring") {
        if (a1.empty()) return false;
        Send("\r\nRING\r\n\r\n+CLIP: \"" + a1 + "\",145,,,,0\r\n");
    } else if (cmd == "sms" || cmd == "store") {
        if (a1.empty()) return false;
        const int index = Srv.NextSmsIndex++;
        Srv.Messages.push_back({index, a1, a2});
        if (cmd == "sms") Send("\r\n+CMTI: \"SM\"," + std::to_string(index) + "\r\n");
    } else if (cmd == "cusd") {
        Send("\r\n+CUSD: 0,\"" + Ucs2Hex(arg) + "\",72\r\n");
    } else if (cmd == "data") {
        if (!ParseInt(a1, 1, 9, n)) return false;
        Srv.SocketData[n] += Unescape(a2);
        Send("\r\n^SISR: " + std::to_string(n) + ", 1\r\n");
    } else if (cmd == "dial") {
        if (arg.empty()) return false;
        DialResult = arg;
    } else if (cmd == "csd-hangup") {
        if (arg != "yes" && arg != "no") return false;
        CsdHangup = arg == "yes";
    } else if (cmd == "close") {
        if (!ParseInt(a1, 1, 9, n)) return false;
        CloseConnection(n, true);
    } else if (cmd == "hangup") {
        close(Master);
        Master = -1;
        if (Open) {
            Open = false;
            In.clear();
            Out.clear();
            OutPos = 0;
            Status("serial closed");
        }
        if (!MakeTerminal()) return false;
    } else if (cmd == "reset-log") {
        if (Log.is_open()) {
            Log.close();
            Log.open(LogFile, std::ios::trunc | std::ios::binary);
        }
    } else if (cmd == "quit") {
        Quit = true;
    } else {
        return false;
    }
    Status("ok " + cmd);
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
        if (!Control(line)) std::fprintf(stderr, "bad control command: %s\n", line.c_str());
    }
}

int Simulator::Run(bool stdinControl) {
    while (!Quit) {
        CheckOpen();
        if (Open) WriteTerminal();
        auto now = Clock::now();
        int timeout = Open ? 1000 : 20; // a closed side is looked at often for its opening
        if (!Out.empty())
            timeout = std::min<int>(
                timeout, int(std::max<int64_t>(
                             0, std::chrono::duration_cast<Ms>(Out.front().At - now).count() + 1)));
        std::vector<pollfd> fds = {
            {signalPipe[0], POLLIN, 0},
            {stdinControl ? STDIN_FILENO : -1, POLLIN, 0},
            {Open ? Master : -1,
             short(POLLIN | (!Out.empty() && Out.front().At <= now ? POLLOUT : 0)), 0},
            {Srv.ListenFd, POLLIN, 0}};
        std::vector<int> polled;
        for (auto& [n, c] : Srv.Sockets) {
            // Unread data waits in the modem: the peer is not read past it.
            const bool read = Srv.SocketData[n].size() < 65536;
            fds.push_back({c.Fd, short((read ? POLLIN : 0) | (c.Out.empty() ? 0 : POLLOUT)), 0});
            polled.push_back(n);
        }
        if (poll(fds.data(), fds.size(), timeout) < 0 && errno != EINTR) {
            std::perror("poll");
            return 1;
        }
        if (fds[0].revents) break;
        if (fds[2].revents & POLLIN) ReadTerminal();
        for (size_t i = 0; i < polled.size(); ++i) {
            const short r = fds[4 + i].revents;
            if (!r || !Srv.Sockets.count(polled[i])) continue;
            if (r & POLLOUT) WriteConnection(polled[i]);
            if (r & (POLLIN | POLLHUP | POLLERR) && Srv.Sockets.count(polled[i]))
                ReadConnection(polled[i]);
        }
        if (fds[3].revents) Accept();
        if (fds[1].revents) ReadControl();
    }
    return 0;
}

int Usage(const char* problem) {
    if (problem) std::fprintf(stderr, "nuq-sim-modem: %s\n", problem);
    std::fputs(kUsage, stderr);
    return 2;
}

} // namespace
} // namespace nuq

int main(int argc, char** argv) {
    using namespace nuq;
    std::string serial, log, ip = "10.0.0.5", script, balance;
    int listen = -1;
    bool echo = true, stdinControl = false, verbose = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (a == "--no-echo")
            echo = false;
        else if (a == "--stdin-control")
            stdinControl = true;
        else if (a == "--verbose")
            verbose = true;
        else if (a == "--help") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (!(v = value()))
            return Usage(("missing value or unknown option: " + a).c_str());
        else if (a == "--serial")
            serial = v;
        else if (a == "--log")
            log = v;
        else if (a == "--ip")
            ip = v;
        else if (a == "--script")
            script = v;
        else if (a == "--balance")
            balance = v;
        else if (a == "--listen") {
            if (!ParseInt(v, 0, 65535, listen)) return Usage("bad --listen port");
        } else
            return Usage(("unknown option: " + a).c_str());
    }
    if (serial.empty()) return Usage("give --serial");

    if (pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) < 0) return 1;
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Simulator sim(serial, log, ip, echo, verbose);
    if (!balance.empty()) sim.SetBalance(balance);
    if (!script.empty()) {
        std::ifstream in(script);
        if (!in) return Usage("cannot read --script file");
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!sim.Control(line)) return Usage(("bad script line: " + line).c_str());
        }
    }
    if (!sim.Start(listen)) return 1;
    return sim.Run(stdinControl);
}

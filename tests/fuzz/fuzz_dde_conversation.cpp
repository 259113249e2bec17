// A DDE data source that answers with arbitrary bytes, in arbitrary pieces:
// the client reads items and writes one through its conversation. Each answer
// must go to its own request: the k-th line the server sends answers the k-th
// request, an "OK" line gives its value, an "ERR" line a refusal that keeps
// the link, and a malformed or missing answer, or one sent before its request,
// drops the link for good.
//
// The input: one byte n (taken modulo 21), then n piece sizes, then the bytes
// the server sends. The server sends its j-th piece when it has read the j-th
// request (pieces after the n-th: all that is left). The loop runs on the
// virtual clock without idle grace, so a missing answer times out at once.

#include "FuzzCheck.h"
#include "acquisition/uOPCServer.h"
#include "platform/DdeClient.h"
#include "platform/EventLoop.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace nuq;

namespace {

const char* const Service = "fz";

char Dir[] = "/tmp/nuq-fuzz-dde.XXXXXX";

void RemoveDir() {
    unlink((std::string(Dir) + "/" + Service).c_str());
    rmdir(Dir);
}

int ListenFd() {
    static const int fd = [] {
        if (!mkdtemp(Dir)) std::abort();
        setenv("NUQ_DDE_DIR", Dir, 1);
        std::atexit(RemoveDir);
        const int s = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        DdeSocketPath(Service).copy(addr.sun_path, sizeof addr.sun_path - 1);
        if (s < 0 || bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(s, 8) != 0)
            std::abort();
        return s;
    }();
    return fd;
}

// The server's pieces: its j-th (from 1) is sent on its j-th request.
struct TScript {
    std::vector<size_t> Sizes;
    std::string Stream;

    // Bytes sent once the server has read J requests.
    size_t SentAfter(size_t j) const {
        size_t n = 0;
        for (size_t i = 0; i < j; ++i) n += i < Sizes.size() ? Sizes[i] : Stream.size();
        return std::min(n, Stream.size());
    }
    std::string Piece(size_t j) const { // j from 1
        const size_t from = SentAfter(j - 1);
        return Stream.substr(from, SentAfter(j) - from);
    }
};

// The server end: the first connection gets the script, later ones are
// closed at once.
class TServer {
public:
    explicit TServer(const TScript& script) : Script(script) {
        Listen.Watch(ListenFd(), fdRead, [this](short) { Accept(); });
    }
    ~TServer() {
        Conn.Stop();
        if (Fd >= 0) close(Fd);
    }

private:
    void Accept() {
        const int fd = accept4(ListenFd(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) return;
        if (Accepted++ > 0) {
            close(fd);
            return;
        }
        Fd = fd;
        Conn.Watch(Fd, fdRead, [this](short) { Read(); });
    }

    void Read() {
        char buf[4096];
        for (;;) {
            const ssize_t n = recv(Fd, buf, sizeof buf, 0);
            if (n > 0) {
                for (ssize_t i = 0; i < n; ++i)
                    if (buf[i] == '\n') Answer();
                continue;
            }
            if (n < 0 && errno == EAGAIN) return;
            Conn.Stop();
            close(Fd);
            Fd = -1;
            return;
        }
    }

    void Answer() {
        const std::string piece = Script.Piece(++Requests);
        if (!piece.empty() &&
            send(Fd, piece.data(), piece.size(), MSG_NOSIGNAL) != ssize_t(piece.size()))
            std::abort(); // the inputs are far below a socket's buffer
    }

    const TScript& Script;
    TFdWatch Listen, Conn;
    int Fd = -1;
    int Accepted = 0;
    size_t Requests = 0;
};

// What the client must see, worked out from the script alone.
class TOracle {
public:
    explicit TOracle(const TScript& script) : Script(script) {}

    struct TAnswer {
        bool Ok = false;
        std::string Value;
    };

    std::pair<bool, std::string> ReadItem() {
        if (!Conversation()) return {false, ""};
        const TAnswer a = CallIfLinked();
        return {true, a.Ok ? a.Value : std::string()};
    }

    bool WriteItem() {
        if (!Conversation()) return false;
        for (int attempt = 0; attempt < 6; ++attempt) {
            (void)CallIfLinked(); // the request
            if (CallIfLinked().Ok) return true;
        }
        return false;
    }

private:
    bool Conversation() {
        if (Phase == 0) {
            Phase = Call().Ok ? 1 : 2; // the link request
            return Phase == 1;
        }
        if (Phase == 1 && Lost) Phase = 2; // opened again: refused by the server
        return Phase == 1;
    }

    TAnswer CallIfLinked() { return Lost ? TAnswer{} : Call(); }

    TAnswer Call() {
        const size_t j = ++Requests;
        // The j-th line and where it ends.
        size_t start = 0, end = std::string::npos;
        for (size_t k = 0; k < j; ++k) {
            end = Script.Stream.find('\n', start);
            if (end == std::string::npos) break;
            if (k + 1 < j) start = end + 1;
        }
        if (end == std::string::npos || end >= Script.SentAfter(j)) {
            Lost = true; // timed out
            return {};
        }
        // A further line already there answers nothing yet: the client drops
        // the link, though this answer still counts.
        const size_t next = Script.Stream.find('\n', end + 1);
        if (next != std::string::npos && next < Script.SentAfter(j)) Lost = true;
        std::vector<std::string> f;
        const bool split = DdeSplitLine(Script.Stream.substr(start, end - start), f);
        if (split && f[0] == "OK" && f.size() <= 2) return {true, f.size() > 1 ? f[1] : ""};
        if (!(split && f[0] == "ERR")) Lost = true; // malformed
        return {};
    }

    const TScript& Script;
    int Phase = 0; // 0 no conversation yet, 1 linked, 2 none to be had
    bool Lost = false;
    size_t Requests = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool once = [] {
        SetMainThread();
        ListenFd();
        // The tick count wraps at the first time-out, as after 49.7 days up.
        UseVirtualClock(EncodeDateTime(2026, 1, 10, 8), 0xFFFFF000u);
        SetIdleGrace(0);
        return true;
    }();
    (void)once;
    if (size == 0) return 0;

    TScript script;
    size_t at = 1;
    for (size_t i = 0; i < data[0] % 21u && at < size; ++i) script.Sizes.push_back(data[at++]);
    script.Stream.assign(reinterpret_cast<const char*>(data + at), size - at);

    TOracle oracle(script);
    TServer server(script);
    {
        TOPCServer client(Service);
        std::string value;
        for (const char* item : {"T1", "P1"}) {
            const bool ok = client.ReadItem("Boiler1", item, value);
            FUZZ_CHECK(std::make_pair(ok, value) == oracle.ReadItem());
        }
        FUZZ_CHECK(client.WriteItem("Boiler1", "Set", "42") == oracle.WriteItem());
        const bool ok = client.ReadItem("Boiler1", "Level", value);
        FUZZ_CHECK(std::make_pair(ok, value) == oracle.ReadItem());
        FUZZ_CHECK(client.ConversationCount() <= 1);
    }
    // Connections left in the listener's queue are refused.
    while (true) {
        const int fd = accept4(ListenFd(), nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) break;
        close(fd);
    }
    ProcessMessages();
    return 0;
}

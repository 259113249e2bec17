#include "platform/ClientSocket.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace nuq {

namespace {

// Enough per pass to keep a fast peer from starving the rest of the loop,
// and little enough that a flood costs its reader no more than this at once.
constexpr size_t kMaxReadPerPass = 256 * 1024;
// Written-out bytes at the front of the queue are dropped once they pass this.
constexpr size_t kCompactAt = 1 << 20;

// A connect to a free local port of the ephemeral range can meet itself
// (simultaneous open with the same port at both ends); nothing listens there,
// so it is a refusal, not a controller.
bool ConnectedToItself(int fd) {
    sockaddr_storage local{}, peer{};
    socklen_t localLen = sizeof local, peerLen = sizeof peer;
    if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &localLen) < 0 ||
        getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLen) < 0)
        return false;
    return localLen == peerLen && std::memcmp(&local, &peer, localLen) == 0;
}

} // namespace

int SocketErrorFromErrno(int err) {
    switch (err) {
    case EINTR:
        return 10004;
    case EBADF:
        return 10009;
    case EPERM:
    case EACCES:
        return 10013;
    case EFAULT:
        return 10014;
    case EINVAL:
        return 10022;
    case EMFILE:
    case ENFILE:
        return 10024;
    case EWOULDBLOCK:
        return 10035;
    case EINPROGRESS:
        return 10036;
    case EALREADY:
        return 10037;
    case ENOTSOCK:
        return 10038;
    case EDESTADDRREQ:
        return 10039;
    case EMSGSIZE:
        return 10040;
    case EPROTOTYPE:
        return 10041;
    case ENOPROTOOPT:
        return 10042;
    case EPROTONOSUPPORT:
        return 10043;
    case EOPNOTSUPP:
        return 10045;
    case EAFNOSUPPORT:
        return 10047;
    case EADDRINUSE:
        return 10048;
    case EADDRNOTAVAIL:
        return wsaeAddrNotAvail;
    case ENETDOWN:
        return 10050;
    case ENETUNREACH:
        return wsaeNetUnreach;
    case ENETRESET:
        return 10052;
    case ECONNABORTED:
        return wsaeConnAborted;
    // A send after the peer has gone is reported as a reset, as the runtime does.
    case EPIPE:
    case ECONNRESET:
        return wsaeConnReset;
    case ENOMEM:
    case ENOBUFS:
        return 10055;
    case EISCONN:
        return 10056;
    case ENOTCONN:
        return wsaeNotConn;
    case ESHUTDOWN:
        return 10058;
    case ETIMEDOUT:
        return wsaeTimedOut;
    case ECONNREFUSED:
        return wsaeConnRefused;
    case EHOSTDOWN:
        return 10064;
    case EHOSTUNREACH:
        return wsaeHostUnreach;
    }
    // No runtime number: the system's own, which is never 0.
    return err ? err : 10022;
}

int SocketErrorFromResolver(int eaiCode, int err) {
    switch (eaiCode) {
    case EAI_NONAME:
        return wsaHostNotFound;
    case EAI_AGAIN:
        return 11002;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
        return 11004;
    case EAI_MEMORY:
        return 10055;
    case EAI_SYSTEM:
        return SocketErrorFromErrno(err);
    }
    return 11003;
}

std::string SocketErrorText(int code) {
    struct Entry {
        int code;
        const char* text;
    };
    static const Entry texts[] = {
        {10004, "Прерван вызов функции"},
        {10009, "Неверный дескриптор файла"},
        {10013, "Отказано в доступе"},
        {10014, "Неверный адрес"},
        {10022, "Недопустимый аргумент"},
        {10024, "Слишком много открытых файлов"},
        {10035, "Ресурс временно недоступен"},
        {10036, "Операция выполняется"},
        {10037, "Операция уже выполняется"},
        {10038, "Операция с сокетом над объектом, который не является сокетом"},
        {10039, "Требуется адрес назначения"},
        {10040, "Слишком длинное сообщение"},
        {10041, "Неверный тип протокола для сокета"},
        {10042, "Неверный параметр протокола"},
        {10043, "Протокол не поддерживается"},
        {10045, "Операция не поддерживается"},
        {10047, "Семейство адресов не поддерживается протоколом"},
        {10048, "Адрес уже используется"},
        {wsaeAddrNotAvail, "Невозможно назначить запрошенный адрес"},
        {10050, "Сеть не работает"},
        {wsaeNetUnreach, "Сеть недоступна"},
        {10052, "Сеть разорвала соединение при сбросе"},
        {wsaeConnAborted, "Соединение прервано программой"},
        {wsaeConnReset, "Соединение сброшено другой стороной"},
        {10055, "Нет места в буфере"},
        {10056, "Сокет уже подключён"},
        {wsaeNotConn, "Сокет не подключён"},
        {10058, "Отправка невозможна после закрытия сокета"},
        {wsaeTimedOut, "Время ожидания соединения истекло"},
        {wsaeConnRefused, "В соединении отказано"},
        {10064, "Узел не работает"},
        {wsaeHostUnreach, "Нет маршрута до узла"},
        {wsaHostNotFound, "Узел не найден"},
        {11002, "Узел не найден (ответ не окончательный)"},
        {11003, "Неустранимая ошибка"},
        {11004, "Имя верно, но нет записи запрошенного типа"},
    };
    for (const auto& e : texts)
        if (e.code == code) return e.text;
    // Numbers without a runtime meaning are the system's own.
    if (code > 0 && code < 10000) return SystemErrorText(code);
    return "Неизвестная ошибка";
}

TClientSocket::TClientSocket() : FAlive(std::make_shared<char>()) {
    FConnectTimer.SetEnabled(false);
    FConnectTimer.SetOnTimer([this] { ConnectTimedOut(); });
}

TClientSocket::~TClientSocket() {
    FWatch.Stop();
    if (FFd >= 0) close(FFd);
}

void TClientSocket::Open() {
    if (FState != sIdle) return;
    ++FSession;
    FState = sConnecting;
    FAddresses.clear();
    FNextAddress = 0;
    int error = 0;
    if (Port <= 0 || Port > 65535) {
        error = wsaeAddrNotAvail;
    } else if (Host.empty()) {
        error = wsaHostNotFound;
    } else {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags =
            AI_NUMERICSERV; // no AI_ADDRCONFIG: it hides loopback on a host without a network
        addrinfo* list = nullptr;
        errno = 0;
        const int rc = getaddrinfo(Host.c_str(), std::to_string(Port).c_str(), &hints, &list);
        if (rc != 0) {
            error = SocketErrorFromResolver(rc, errno);
        } else {
            for (addrinfo* p = list; p; p = p->ai_next) {
                const char* a = reinterpret_cast<const char*>(p->ai_addr);
                FAddresses.emplace_back(a, a + p->ai_addrlen);
            }
            freeaddrinfo(list);
            if (FAddresses.empty()) error = wsaHostNotFound;
        }
    }
    if (!error && TryNextAddress(error)) {
        FConnectTimer.SetInterval(ConnectTimeoutMs);
        FConnectTimer.SetEnabled(ConnectTimeoutMs > 0);
        return;
    }
    PostFail(error);
}

void TClientSocket::ConnectTimedOut() {
    FConnectTimer.SetEnabled(false);
    if (FState == sConnecting) Fail(wsaeTimedOut);
}

// Starts a connect to the next address that takes one; false with the last
// error when none is left.
bool TClientSocket::TryNextAddress(int& error) {
    while (FNextAddress < FAddresses.size()) {
        const auto& addr = FAddresses[FNextAddress++];
        const auto* sa = reinterpret_cast<const sockaddr*>(addr.data());
        const int fd = socket(sa->sa_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd < 0) {
            error = SocketErrorFromErrno(errno);
            continue;
        }
        int rc;
        do rc = connect(fd, sa, socklen_t(addr.size()));
        while (rc < 0 && errno == EINTR);
        if (rc == 0 || errno == EINPROGRESS) {
            // Writable once the connect has ended either way.
            FFd = fd;
            FWatch.Watch(fd, fdWrite, [this](short revents) { OnFd(revents); });
            return true;
        }
        error = SocketErrorFromErrno(errno);
        close(fd);
    }
    return false;
}

void TClientSocket::OnFd(short revents) {
    if (FState == sConnecting) {
        FinishConnect();
        return;
    }
    if (FState != sConnected) return;
    if (revents & fdWrite) {
        int error = 0;
        WriteQueued(error);
        if (error) {
            Fail(error);
            return;
        }
    }
    if (revents & (POLLIN | POLLHUP | POLLERR)) ReadAvailable();
}

void TClientSocket::FinishConnect() {
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(FFd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) err = errno;
    if (err == EINPROGRESS || err == EALREADY) return; // not decided yet
    if (err == 0 && ConnectedToItself(FFd)) err = ECONNREFUSED;
    if (err != 0) {
        FWatch.Stop();
        close(FFd);
        FFd = -1;
        int error = SocketErrorFromErrno(err);
        if (!TryNextAddress(error)) Fail(error);
        return;
    }
    FState = sConnected;
    FConnectTimer.SetEnabled(false);
    FAddresses.clear();
    FWatch.SetEvents(fdRead);
    if (auto handler = OnConnect) handler();
}

void TClientSocket::ReadAvailable() {
    std::string data;
    int error = 0;
    bool eof = false;
    char buf[65536];
    while (data.size() < kMaxReadPerPass) {
        const ssize_t n = recv(FFd, buf, sizeof buf, 0);
        if (n > 0) {
            data.append(buf, size_t(n));
        } else if (n == 0) {
            eof = true;
            break;
        } else if (errno != EINTR) {
            if (errno != EAGAIN && errno != EWOULDBLOCK) error = SocketErrorFromErrno(errno);
            break;
        }
    }
    if (!data.empty()) {
        const std::weak_ptr<char> alive = FAlive;
        const uint64_t session = FSession;
        if (auto handler = OnRead) handler(data);
        if (alive.expired() || session != FSession) return; // freed, closed or reopened
    }
    if (error) {
        Fail(error);
    } else if (eof) {
        Teardown();
        if (auto handler = OnDisconnect) handler();
    }
}

void TClientSocket::WriteQueued(int& error) {
    while (FOutPos < FOut.size()) {
        const ssize_t n = send(FFd, FOut.data() + FOutPos, FOut.size() - FOutPos, MSG_NOSIGNAL);
        if (n > 0) {
            FOutPos += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else {
            error = SocketErrorFromErrno(n < 0 ? errno : EPIPE);
            return;
        }
    }
    if (FOutPos == FOut.size()) {
        FOut.clear();
        FOutPos = 0;
    } else if (FOutPos >= kCompactAt) {
        FOut.erase(0, FOutPos);
        FOutPos = 0;
    }
    FWatch.SetEvents(short(fdRead | (PendingBytes() ? fdWrite : 0)));
}

void TClientSocket::SendText(const std::string& bytes) {
    if (FState != sConnected) throw ESocketError("Сокет не подключён", wsaeNotConn);
    const bool idle = PendingBytes() == 0;
    FOut += bytes;
    if (!idle) return; // already waiting for the socket to become writable
    int error = 0;
    WriteQueued(error);
    // Reported from the loop, never from inside this call.
    if (error) PostFail(error);
}

void TClientSocket::Close() {
    if (FState != sIdle) Teardown();
}

void TClientSocket::Teardown() {
    FWatch.Stop();
    FConnectTimer.SetEnabled(false);
    if (FFd >= 0) close(FFd);
    FFd = -1;
    FState = sIdle;
    FOut.clear();
    FOutPos = 0;
    FAddresses.clear();
    FNextAddress = 0;
    ++FSession;
}

void TClientSocket::Fail(int errorCode) {
    const std::string where = Host + ":" + std::to_string(Port);
    Teardown();
    if (auto handler = OnError) handler(errorCode);
    // Unhandled: said, not thrown into the loop.
    if (errorCode != 0)
        std::fprintf(stderr, "Socket error %d (%s) on %s\n", errorCode,
                     SocketErrorText(errorCode).c_str(), where.c_str());
}

void TClientSocket::PostFail(int errorCode) {
    PostCall([this, alive = std::weak_ptr<char>(FAlive), session = FSession, errorCode] {
        if (alive.expired() || session != FSession) return;
        Fail(errorCode);
    });
}

} // namespace nuq

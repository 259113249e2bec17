#pragma once
// The runtime's non-blocking TCP client socket on the main thread's loop.
//
// Open resolves Host (a name or a numeric address; synchronously) and starts
// a non-blocking connect, trying each resolved address in turn. Everything
// that follows is reported by events, and every event comes from a message
// pass, never from inside the call that caused it: Open on a refused port,
// SendText on a broken connection and Close fire nothing before they return.
//
// A connection ends in exactly one of three ways, after which the socket is
// inactive and may be opened again (from inside the handler too):
//   - the peer closes it: OnDisconnect, once, after the data that came first;
//   - it fails (refused, reset, unreachable, name not found): OnError with
//     the runtime's socket error number;
//   - the owner calls Close: no event at all; data still queued is dropped.
// OnError's handler sets the number to 0 to say it has dealt with the error.
// One it leaves non-zero, or one without a handler, is written to stderr and
// goes no further: an exception thrown into the loop would reach code that
// knows nothing of this socket.
//
// Close and the destruction of the socket are safe inside any of its
// handlers; nothing of the socket is touched once a handler has freed it.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/SysUtils.h"
#include "platform/Timer.h"

namespace nuq {

class ESocketError : public Exception {
public:
    using Exception::Exception;
};

// The runtime's socket error numbers.
inline constexpr int wsaeConnAborted = 10053;
inline constexpr int wsaeConnReset = 10054;
inline constexpr int wsaeNotConn = 10057;
inline constexpr int wsaeTimedOut = 10060;
inline constexpr int wsaeConnRefused = 10061;
inline constexpr int wsaeNetUnreach = 10051;
inline constexpr int wsaeHostUnreach = 10065;
inline constexpr int wsaeAddrNotAvail = 10049;
inline constexpr int wsaHostNotFound = 11001;

// The runtime's number for a POSIX errno value of a socket call.
int SocketErrorFromErrno(int err);
// The runtime's number for a getaddrinfo result (EAI_...).
int SocketErrorFromResolver(int eaiCode, int err);
// The text of a socket error number, as the runtime words it.
std::string SocketErrorText(int code);

class TClientSocket {
public:
    TClientSocket();
    ~TClientSocket();
    TClientSocket(const TClientSocket&) = delete;
    TClientSocket& operator=(const TClientSocket&) = delete;

    std::string Host; // name or numeric address; read by Open
    int Port = 0;
    // A connect not decided by then fails with 10060, as the runtime's does;
    // the kernel alone would wait over two minutes for a host that is silent.
    uint32_t ConnectTimeoutMs = 20000;

    std::function<void()> OnConnect;
    std::function<void()> OnDisconnect;
    std::function<void(const std::string& bytes)> OnRead; // what arrived, as it came
    std::function<void(int& errorCode)> OnError;

    // Starts connecting; does nothing while active.
    void Open();
    // Ends the connection or the attempt at once, silently.
    void Close();
    void SetActive(bool value) { value ? Open() : Close(); }
    // From Open until the connection ends.
    bool Active() const { return FState != sIdle; }
    // From OnConnect until the connection ends.
    bool Connected() const { return FState == sConnected; }

    // Queues Bytes and writes what the socket takes now; the rest goes out as
    // it becomes writable. Raises ESocketError when not connected. A failure
    // of the connection is reported later by OnError.
    void SendText(const std::string& bytes);
    // Bytes queued and not yet written.
    size_t PendingBytes() const { return FOut.size() - FOutPos; }

private:
    enum TState { sIdle, sConnecting, sConnected };

    bool TryNextAddress(int& error);
    void OnFd(short revents);
    void FinishConnect();
    void ReadAvailable();
    void WriteQueued(int& error);
    void Teardown();
    void Fail(int errorCode);
    void PostFail(int errorCode);
    void ConnectTimedOut();

    TState FState = sIdle;
    int FFd = -1;
    TFdWatch FWatch;
    TTimer FConnectTimer;
    std::vector<std::vector<char>> FAddresses; // sockaddr bytes, in the resolver's order
    size_t FNextAddress = 0;
    std::string FOut;
    size_t FOutPos = 0;
    // Bumped whenever a connection or attempt begins or ends, so a posted
    // event of an earlier one is dropped.
    uint64_t FSession = 0;
    // Expires with the socket; posted calls and handlers check it.
    std::shared_ptr<char> FAlive;
};

} // namespace nuq

#pragma once
// A loopback listener that accepts nothing: its queue has one place, and once
// that is taken the kernel drops every further handshake, as a host that
// never answers does.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

struct TFullListener {
    int Fd = -1;
    uint16_t Port = 0; // 0 when no listener could be made

    TFullListener() {
        Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Address(0);
        socklen_t len = sizeof a;
        if (Fd < 0 || bind(Fd, reinterpret_cast<sockaddr*>(&a), len) != 0 || listen(Fd, 0) != 0 ||
            getsockname(Fd, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        Port = ntohs(a.sin_port);
    }
    ~TFullListener() {
        if (Filler >= 0) close(Filler);
        if (Fd >= 0) close(Fd);
    }
    TFullListener(const TFullListener&) = delete;
    TFullListener& operator=(const TFullListener&) = delete;

    // Takes the queue's one place with a plain connection of our own.
    bool Fill() {
        Filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a = Address(Port);
        return Filler >= 0 && connect(Filler, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    }

private:
    int Filler = -1;
    static sockaddr_in Address(uint16_t port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(port);
        return a;
    }
};

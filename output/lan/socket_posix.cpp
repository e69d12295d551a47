// BSD sockets. Blocking calls are restarted after a signal; sends never raise
// SIGPIPE, so a client that went away is a failed send and not a dead process.

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "output/lan/socket_layer.h"

bool startSocketLayer() {
    return true;
}

void stopSocketLayer() {}

NativeSocket openStreamSocket() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return noSocket;
    // Linux refuses to bind a port that still has a connection in TIME_WAIT,
    // which is the case for a minute after this side closed a client (Run,
    // restart). Without this the next listener could not open for that minute.
    // A port that another socket listens on is still refused.
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    return fd;
}

bool bindAnyAddress(NativeSocket listener, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    return bind(static_cast<int>(listener), reinterpret_cast<const sockaddr*>(&address),
                sizeof address) == 0;
}

bool listenForOne(NativeSocket listener) {
    return listen(static_cast<int>(listener), 1) == 0;
}

NativeSocket acceptClient(NativeSocket listener) {
    alignas(sockaddr_storage) unsigned char peer[128];
    for (;;) {
        socklen_t peerSize = sizeof peer;
        int fd = accept4(static_cast<int>(listener), reinterpret_cast<sockaddr*>(peer), &peerSize,
                         SOCK_CLOEXEC);
        if (fd >= 0) return fd;
        if (errno != EINTR) return noSocket;
    }
}

long receiveBytes(NativeSocket socket, unsigned char* out, size_t count) {
    for (;;) {
        ssize_t got = recv(static_cast<int>(socket), out, count, 0);
        if (got >= 0) return static_cast<long>(got);
        if (errno != EINTR) return -1;
    }
}

long sendBytes(NativeSocket socket, const char* data, size_t length) {
    for (;;) {
        ssize_t sent = send(static_cast<int>(socket), data, length, MSG_NOSIGNAL);
        if (sent >= 0 || errno != EINTR) return static_cast<long>(sent);
    }
}

bool interruptSocket(NativeSocket socket) {
    // Wakes accept (the listener stops listening) and recv (end of stream);
    // the descriptor stays valid until its borrower closes it.
    shutdown(static_cast<int>(socket), SHUT_RDWR);
    return false;
}

void closeNativeSocket(NativeSocket socket) {
    close(static_cast<int>(socket));
}

NativeSocket openBoundSocket(const ListenAddress& address, uint16_t port) {
    if (address.family != ListenFamily::ipv6) {
        const NativeSocket listener = openStreamSocket();
        if (listener == noSocket) return noSocket;
        sockaddr_in v4{};
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        if (address.family == ListenFamily::ipv4)
            std::memcpy(&v4.sin_addr, address.bytes, sizeof v4.sin_addr);
        else
            v4.sin_addr.s_addr = htonl(INADDR_ANY);
        if (bind(static_cast<int>(listener), reinterpret_cast<const sockaddr*>(&v4), sizeof v4) ==
            0)
            return listener;
        closeNativeSocket(listener);
        return noSocket;
    }
    const int fd = socket(AF_INET6, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return noSocket;
    int on = 1, off = 0;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    // "::" then serves IPv4 clients too, whatever the system's default.
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    std::memcpy(&v6.sin6_addr, address.bytes, sizeof v6.sin6_addr);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&v6), sizeof v6) == 0) return fd;
    close(fd);
    return noSocket;
}

// BSD sockets. Blocking calls are restarted after a signal; sends never raise
// SIGPIPE, so a peer that went away is a failed send and not a dead process.

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include "net/datagram_socket.h"
#include "net/socket_platform.h"

bool startSocketLayer() {
    return true;
}

void stopSocketLayer() {}

int lastSocketError() {
    return errno;
}

int resolverError(int result) {
    return result == EAI_SYSTEM ? errno : result;
}

void describeResolverError(int result, char* out, size_t size) {
    copyText(out, size, result == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(result));
}

void describeSocketError(int error, char* out, size_t size) {
    copyText(out, size, std::strerror(error));
}

bool connectMayWorkLater(const SystemResult& failure) {
    const int e = failure.error;
    return e == ECONNREFUSED || e == ETIMEDOUT || e == EHOSTUNREACH || e == ENETUNREACH ||
           e == EINTR;
}

NativeSocket openSocketFor(const addrinfo& address, SocketKind kind) {
    const int flags = SOCK_CLOEXEC | (kind == SocketKind::datagram ? SOCK_NONBLOCK : 0);
    const int fd = socket(address.ai_family, address.ai_socktype | flags, address.ai_protocol);
    return fd < 0 ? noSocket : fd;
}

bool connectSocket(NativeSocket socket, const addrinfo& address) {
    return connect(static_cast<int>(socket), address.ai_addr, address.ai_addrlen) == 0;
}

void sendWithoutDelay(NativeSocket socket) {
    int one = 1;
    setsockopt(static_cast<int>(socket), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

SystemResult openListener(uint16_t port, NativeSocket* listener, const ListenAddress& address) {
    *listener = noSocket;
    SystemResult result;
    TextBuilder reason(result.reason, sizeof result.reason);
    const bool v6 = address.family == ListenFamily::ipv6;
    const int fd = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        reason.append("cannot create a TCP socket");
        failWith(result, reason, errno);
        return result;
    }
    // Linux refuses to bind a port that still has a connection in TIME_WAIT,
    // which is the case for a minute after this side closed a client (Run,
    // restart). Without this the next listener could not open for that minute.
    // A port that another socket listens on is still refused.
    int on = 1, off = 0;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (v6) // "::" then serves IPv4 clients too, whatever the system's default.
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &off, sizeof off);
    sockaddr_storage storage;
    const socklen_t size = static_cast<socklen_t>(fillListenAddress(address, port, &storage));
    const bool bound = bind(fd, reinterpret_cast<const sockaddr*>(&storage), size) == 0;
    if (!bound || listen(fd, 1) != 0) {
        const int error = errno;
        close(fd);
        reason.append(bound ? "cannot listen on " : "cannot bind ");
        appendListenAddress(reason, address, port);
        failWith(result, reason, error);
        return result;
    }
    *listener = fd;
    return result;
}

SystemResult acceptClient(NativeSocket listener, NativeSocket* client) {
    alignas(sockaddr_storage) unsigned char peer[128];
    for (;;) {
        socklen_t peerSize = sizeof peer;
        int fd = accept4(static_cast<int>(listener), reinterpret_cast<sockaddr*>(peer), &peerSize,
                         SOCK_CLOEXEC);
        if (fd >= 0) {
            *client = fd;
            return SystemResult{};
        }
        const int error = errno;
        if (error == EINTR) continue;
        *client = noSocket;
        SystemResult result;
        TextBuilder reason(result.reason, sizeof result.reason);
        reason.append("cannot accept a client on port ");
        reason.appendInteger(boundPort(listener));
        failWith(result, reason, error);
        return result;
    }
}

long receiveBytes(NativeSocket socket, unsigned char* out, size_t count) {
    for (;;) {
        ssize_t got = recv(static_cast<int>(socket), out, count, 0);
        if (got >= 0) return static_cast<long>(got);
        if (errno != EINTR) return -1;
    }
}

long receiveWithin(NativeSocket socket, void* out, size_t count, int timeoutMs) {
    pollfd p{static_cast<int>(socket), POLLIN, 0};
    int ready = poll(&p, 1, timeoutMs);
    if (ready < 0) return errno == EINTR ? -2 : -1;
    if (ready == 0) return -2;
    ssize_t n = recv(static_cast<int>(socket), out, count, 0);
    if (n < 0) return errno == EINTR ? -2 : -1;
    return static_cast<long>(n);
}

bool waitToReceive(NativeSocket socket, int timeoutMs) {
    pollfd p{static_cast<int>(socket), POLLIN, 0};
    const int ready = poll(&p, 1, timeoutMs);
    // A signal cuts the wait short: the caller's next receive waits on.
    return ready != 0;
}

long sendBytes(NativeSocket socket, const void* data, size_t length) {
    for (;;) {
        ssize_t sent = send(static_cast<int>(socket), data, length, MSG_NOSIGNAL);
        if (sent >= 0 || errno != EINTR) return static_cast<long>(sent);
    }
}

void shutdownSending(NativeSocket socket) {
    shutdown(static_cast<int>(socket), SHUT_WR);
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

uint16_t boundPort(NativeSocket socket) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return 0;
    return ntohs(address.sin_port);
}

int sendUdpDatagram(UdpSocket socket, const unsigned char* data, size_t length) {
    for (;;) {
        const ssize_t sent = send(static_cast<int>(socket), data, length, MSG_NOSIGNAL);
        if (sent == static_cast<ssize_t>(length)) return 0;
        if (sent >= 0) return EMSGSIZE;
        if (errno != EINTR) return errno;
    }
}

bool refusedEarlierDatagram(int code) {
    // A connected UDP socket reports an ICMP port unreachable about an earlier
    // datagram as the error of the next send, which does not go out either.
    return code == ECONNREFUSED;
}

// BSD sockets.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "net/datagram_server.h"
#include "net/socket_platform.h"
#include "text/number_text.h"

namespace {

SystemResult failedBind(uint32_t address, uint16_t port, int error) {
    SystemResult result;
    TextBuilder reason(result.reason, sizeof result.reason);
    reason.append("cannot bind UDP ");
    ListenAddress shown;
    shown.family = ListenFamily::ipv4;
    for (int i = 0; i < 4; ++i)
        shown.bytes[i] = static_cast<uint8_t>(address >> (24 - 8 * i));
    appendListenAddress(reason, shown, port);
    failWith(result, reason, error);
    return result;
}

} // namespace

SystemResult openDatagramServer(uint32_t address, uint16_t port, NativeSocket* opened) {
    *opened = noSocket;
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) return failedBind(address, port, errno);
    const sockaddr_in a = ipv4SocketAddress(address, port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        const int error = errno;
        close(fd);
        return failedBind(address, port, error);
    }
    *opened = fd;
    return SystemResult{};
}

BindFailure bindFailureOf(const SystemResult& failure) {
    switch (failure.error) {
    case EADDRINUSE:
        return BindFailure::portInUse;
    case EADDRNOTAVAIL:
        return BindFailure::addressNotHere;
    case EACCES:
        return BindFailure::denied;
    default:
        return BindFailure::other;
    }
}

int waitReadable(NativeSocket socket, int milliseconds) {
    pollfd p{static_cast<int>(socket), POLLIN, 0};
    const int got = poll(&p, 1, milliseconds);
    if (got < 0) return errno == EINTR ? 0 : -1;
    if (got == 0) return 0;
    return (p.revents & (POLLERR | POLLNVAL)) != 0 && (p.revents & POLLIN) == 0 ? -1 : 1;
}

long receiveDatagramFrom(NativeSocket socket, uint8_t* data, size_t capacity, DatagramPeer* from) {
    sockaddr_in a{};
    socklen_t length = sizeof a;
    for (;;) {
        // MSG_TRUNC: the datagram's own size, so that a long one is seen as long.
        const ssize_t got = recvfrom(static_cast<int>(socket), data, capacity, MSG_TRUNC,
                                     reinterpret_cast<sockaddr*>(&a), &length);
        if (got >= 0) {
            from->address = a.sin_family == AF_INET ? ntohl(a.sin_addr.s_addr) : 0;
            from->port = ntohs(a.sin_port);
            return static_cast<long>(got);
        }
        if (errno == EINTR) continue;
        // An ICMP error about an earlier send comes back here; it is no
        // failure of the server.
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNREFUSED) return 0;
        return -1;
    }
}

bool sendDatagramTo(NativeSocket socket, const uint8_t* data, size_t size, const DatagramPeer& to) {
    const sockaddr_in a = ipv4SocketAddress(to.address, to.port);
    for (;;) {
        const ssize_t sent =
            sendto(static_cast<int>(socket), data, size, MSG_DONTWAIT | MSG_NOSIGNAL,
                   reinterpret_cast<const sockaddr*>(&a), sizeof a);
        if (sent == static_cast<ssize_t>(size)) return true;
        if (sent < 0 && errno == EINTR) continue;
        return false;
    }
}

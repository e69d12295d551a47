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

NativeSocket openDatagramServer(uint32_t address, uint16_t port, char* reason, size_t reasonSize) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        describeSocketError(errno, reason, reasonSize);
        return noSocket;
    }
    const sockaddr_in a = ipv4SocketAddress(address, port);
    if (bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        describeSocketError(errno, reason, reasonSize);
        close(fd);
        return noSocket;
    }
    return fd;
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

// BSD sockets. A connected UDP socket reports an ICMP port unreachable or
// host unreachable about an earlier datagram as the error of the next send.

#include <fcntl.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "output/udp/udp_socket.h"
#include "text/number_text.h"

UdpSocket openUdpSocket(const UdpTarget& target, char* reason, size_t reasonSize) {
    char port[8];
    formatInteger(port, sizeof port, target.port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(target.host, port, &hints, &found);
    if (resolved != 0) {
        TextBuilder text(reason, reasonSize);
        text.append("cannot resolve '");
        text.append(target.host);
        text.append("': ");
        text.append(resolved == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(resolved));
        return noUdpSocket;
    }
    int lastError = 0;
    UdpSocket opened = noUdpSocket;
    for (addrinfo* a = found; a != nullptr && opened == noUdpSocket; a = a->ai_next) {
        const int fd =
            socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol);
        if (fd < 0) {
            lastError = errno;
            continue;
        }
        if (connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            lastError = errno;
            close(fd);
            continue;
        }
        opened = fd;
    }
    freeaddrinfo(found);
    if (opened == noUdpSocket) {
        TextBuilder text(reason, reasonSize);
        text.append("no socket for '");
        text.append(target.host);
        text.append("': ");
        text.append(std::strerror(lastError));
    }
    return opened;
}

int sendUdpDatagram(UdpSocket socket, const unsigned char* data, size_t length) {
    for (;;) {
        const ssize_t sent = send(static_cast<int>(socket), data, length, MSG_NOSIGNAL);
        if (sent == static_cast<ssize_t>(length)) return 0;
        if (sent >= 0) return EMSGSIZE;
        if (errno != EINTR) return errno;
    }
}

void describeUdpError(int code, char* out, size_t size) {
    copyText(out, size, std::strerror(code));
}

void closeUdpSocket(UdpSocket socket) {
    close(static_cast<int>(socket));
}

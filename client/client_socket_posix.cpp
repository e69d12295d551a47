#include "client/client_socket.h"

#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "text/number_text.h"

bool startClientSockets() {
    return true;
}

NativeSocket connectClient(const char* host, const char* port) {
    char reason[8];
    bool retryable = false;
    return connectClient(host, port, reason, sizeof reason, &retryable);
}

NativeSocket connectClient(const char* host, const char* port, char* reason, size_t reasonSize,
                           bool* retryable) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    *retryable = false;
    const int resolved = getaddrinfo(host, port, &hints, &found);
    if (resolved != 0) {
        copyText(reason, reasonSize,
                 resolved == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(resolved));
        return noSocket;
    }
    NativeSocket connected = noSocket;
    int error = 0;
    for (addrinfo* a = found; a != nullptr && connected == noSocket; a = a->ai_next) {
        int s = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (s < 0) {
            error = errno;
            continue;
        }
        if (connect(s, a->ai_addr, a->ai_addrlen) == 0) {
            int one = 1;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            connected = s;
        } else {
            error = errno;
            close(s);
        }
    }
    freeaddrinfo(found);
    if (connected == noSocket) {
        copyText(reason, reasonSize, std::strerror(error));
        *retryable = error == ECONNREFUSED || error == ETIMEDOUT || error == EHOSTUNREACH ||
                     error == ENETUNREACH || error == EINTR;
    }
    return connected;
}

bool sendAll(NativeSocket socket, const void* data, size_t length) {
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t n = send(static_cast<int>(socket), p, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

int receiveWithin(NativeSocket socket, void* data, size_t length, int timeoutMs) {
    pollfd p{static_cast<int>(socket), POLLIN, 0};
    int ready = poll(&p, 1, timeoutMs);
    if (ready < 0) return errno == EINTR ? -2 : -1;
    if (ready == 0) return -2;
    ssize_t n = recv(static_cast<int>(socket), data, length, 0);
    if (n < 0) return errno == EINTR ? -2 : -1;
    return static_cast<int>(n);
}

void shutdownSending(NativeSocket socket) {
    shutdown(static_cast<int>(socket), SHUT_WR);
}

void closeClient(NativeSocket socket) {
    if (socket != noSocket) close(static_cast<int>(socket));
}

uint16_t boundPort(NativeSocket socket) {
    sockaddr_in address{};
    socklen_t size = sizeof address;
    if (getsockname(static_cast<int>(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return 0;
    return ntohs(address.sin_port);
}

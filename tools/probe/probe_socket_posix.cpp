#include "tools/probe/probe_socket.h"

#include <cerrno>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int probeSocket = -1;
} // namespace

bool startProbeSockets() {
    return true;
}

bool connectProbe(const char* host, const char* port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, port, &hints, &found) != 0) return false;
    for (addrinfo* a = found; a != nullptr && probeSocket < 0; a = a->ai_next) {
        int s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s < 0) continue;
        if (connect(s, a->ai_addr, a->ai_addrlen) == 0) {
            int one = 1;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            probeSocket = s;
        } else {
            close(s);
        }
    }
    freeaddrinfo(found);
    return probeSocket >= 0;
}

bool sendProbe(const void* data, size_t length) {
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        ssize_t n = send(probeSocket, p, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

int receiveProbe(void* data, size_t length, int timeoutMs) {
    pollfd p{probeSocket, POLLIN, 0};
    int ready = poll(&p, 1, timeoutMs);
    if (ready < 0) return errno == EINTR ? -2 : -1;
    if (ready == 0) return -2;
    ssize_t n = recv(probeSocket, data, length, 0);
    if (n < 0) return errno == EINTR ? -2 : -1;
    return static_cast<int>(n);
}

void closeProbe() {
    if (probeSocket >= 0) close(probeSocket);
    probeSocket = -1;
}

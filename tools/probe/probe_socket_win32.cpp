#include "tools/probe/probe_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace {
SOCKET probeSocket = INVALID_SOCKET;
} // namespace

bool startProbeSockets() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

bool connectProbe(const char* host, const char* port) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host, port, &hints, &found) != 0) return false;
    for (addrinfo* a = found; a != nullptr && probeSocket == INVALID_SOCKET; a = a->ai_next) {
        SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) continue;
        if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
            BOOL one = TRUE;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
                       sizeof one);
            probeSocket = s;
        } else {
            closesocket(s);
        }
    }
    freeaddrinfo(found);
    return probeSocket != INVALID_SOCKET;
}

bool sendProbe(const void* data, size_t length) {
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        int n = send(probeSocket, p, static_cast<int>(length), 0);
        if (n <= 0) return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

int receiveProbe(void* data, size_t length, int timeoutMs) {
    WSAPOLLFD p{};
    p.fd = probeSocket;
    p.events = POLLRDNORM;
    int ready = WSAPoll(&p, 1, timeoutMs);
    if (ready < 0) return -1;
    if (ready == 0) return -2;
    int n = recv(probeSocket, static_cast<char*>(data), static_cast<int>(length), 0);
    return n < 0 ? -1 : n;
}

void closeProbe() {
    if (probeSocket != INVALID_SOCKET) closesocket(probeSocket);
    probeSocket = INVALID_SOCKET;
}

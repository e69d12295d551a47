#include "client/client_socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#include "text/number_text.h"

namespace {
SOCKET asSocket(NativeSocket socket) {
    return static_cast<SOCKET>(socket);
}

// The system's text for a Winsock error, without its line end.
void describeError(int error, char* reason, size_t reasonSize) {
    char message[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             static_cast<DWORD>(error), 0, message, sizeof message, nullptr);
    while (n > 0 && (message[n - 1] == '\r' || message[n - 1] == '\n' || message[n - 1] == ' ' ||
                     message[n - 1] == '.'))
        message[--n] = '\0';
    TextBuilder out(reason, reasonSize);
    if (n > 0) {
        out.append(message);
    } else {
        out.append("Winsock error ");
        out.appendInteger(error);
    }
}
} // namespace

bool startClientSockets() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
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
    if (getaddrinfo(host, port, &hints, &found) != 0) {
        describeError(WSAGetLastError(), reason, reasonSize);
        return noSocket;
    }
    NativeSocket connected = noSocket;
    int error = 0;
    for (addrinfo* a = found; a != nullptr && connected == noSocket; a = a->ai_next) {
        SOCKET s = socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) {
            error = WSAGetLastError();
            continue;
        }
        if (connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) {
            BOOL one = TRUE;
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one),
                       sizeof one);
            connected = static_cast<NativeSocket>(s);
        } else {
            error = WSAGetLastError();
            closesocket(s);
        }
    }
    freeaddrinfo(found);
    if (connected == noSocket) {
        describeError(error, reason, reasonSize);
        *retryable = error == WSAECONNREFUSED || error == WSAETIMEDOUT ||
                     error == WSAEHOSTUNREACH || error == WSAENETUNREACH;
    }
    return connected;
}

bool sendAll(NativeSocket socket, const void* data, size_t length) {
    const char* p = static_cast<const char*>(data);
    while (length > 0) {
        int n = send(asSocket(socket), p, static_cast<int>(length), 0);
        if (n <= 0) return false;
        p += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

int receiveWithin(NativeSocket socket, void* data, size_t length, int timeoutMs) {
    WSAPOLLFD p{};
    p.fd = asSocket(socket);
    p.events = POLLRDNORM;
    int ready = WSAPoll(&p, 1, timeoutMs);
    if (ready < 0) return -1;
    if (ready == 0) return -2;
    int n = recv(asSocket(socket), static_cast<char*>(data), static_cast<int>(length), 0);
    return n < 0 ? -1 : n;
}

void shutdownSending(NativeSocket socket) {
    shutdown(asSocket(socket), SD_SEND);
}

void closeClient(NativeSocket socket) {
    if (socket != noSocket) closesocket(asSocket(socket));
}

uint16_t boundPort(NativeSocket socket) {
    sockaddr_in address{};
    int size = sizeof address;
    if (getsockname(asSocket(socket), reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
    return ntohs(address.sin_port);
}

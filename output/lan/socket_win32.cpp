// Winsock. closesocket wakes a call blocked on the socket, so interrupting a
// socket closes it.

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "output/lan/socket_layer.h"

namespace {
SOCKET asSocket(NativeSocket socket) {
    return static_cast<SOCKET>(socket);
}
} // namespace

bool startSocketLayer() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 0), &data) == 0;
}

void stopSocketLayer() {
    WSACleanup();
}

NativeSocket openStreamSocket() {
    SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
    return socket == INVALID_SOCKET ? noSocket : static_cast<NativeSocket>(socket);
}

bool bindAnyAddress(NativeSocket listener, uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    address.sin_port = htons(port);
    return bind(asSocket(listener), reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
           0;
}

bool listenForOne(NativeSocket listener) {
    return listen(asSocket(listener), 1) == 0;
}

NativeSocket acceptClient(NativeSocket listener) {
    alignas(sockaddr_storage) char peer[128];
    int peerSize = sizeof peer;
    SOCKET socket = accept(asSocket(listener), reinterpret_cast<sockaddr*>(peer), &peerSize);
    return socket == INVALID_SOCKET ? noSocket : static_cast<NativeSocket>(socket);
}

long receiveBytes(NativeSocket socket, unsigned char* out, size_t count) {
    int got = recv(asSocket(socket), reinterpret_cast<char*>(out), static_cast<int>(count), 0);
    return got >= 0 ? got : -1;
}

long sendBytes(NativeSocket socket, const char* data, size_t length) {
    return send(asSocket(socket), data, static_cast<int>(length), 0);
}

bool interruptSocket(NativeSocket socket) {
    closesocket(asSocket(socket));
    return true;
}

void closeNativeSocket(NativeSocket socket) {
    closesocket(asSocket(socket));
}

NativeSocket openBoundSocket(const ListenAddress& address, uint16_t port) {
    const bool v6 = address.family == ListenFamily::ipv6;
    SOCKET socket = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM, 0);
    if (socket == INVALID_SOCKET) return noSocket;
    int bound = SOCKET_ERROR;
    if (v6) {
        // "::" then serves IPv4 clients too; Windows makes IPv6 sockets v6-only.
        DWORD off = 0;
        setsockopt(socket, IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&off),
                   sizeof off);
        sockaddr_in6 address6{};
        address6.sin6_family = AF_INET6;
        address6.sin6_port = htons(port);
        std::memcpy(&address6.sin6_addr, address.bytes, sizeof address6.sin6_addr);
        bound = bind(socket, reinterpret_cast<const sockaddr*>(&address6), sizeof address6);
    } else {
        sockaddr_in address4{};
        address4.sin_family = AF_INET;
        address4.sin_port = htons(port);
        if (address.family == ListenFamily::ipv4)
            std::memcpy(&address4.sin_addr, address.bytes, sizeof address4.sin_addr);
        else
            address4.sin_addr.s_addr = htonl(INADDR_ANY);
        bound = bind(socket, reinterpret_cast<const sockaddr*>(&address4), sizeof address4);
    }
    if (bound == 0) return static_cast<NativeSocket>(socket);
    closesocket(socket);
    return noSocket;
}

// Winsock. closesocket wakes a call blocked on the socket, so interrupting a
// socket closes it.

#include <winsock2.h>

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

#include <winsock2.h>

#include <windows.h>

#include <chrono>
#include <thread>

#include "tests/lan_test_socket.h"

namespace {

SOCKET asSocket(NativeSocket socket) {
    return static_cast<SOCKET>(socket);
}

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

} // namespace

uint16_t findFreePort() {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address);
    int size = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr*>(&address), &size);
    closesocket(s);
    return ntohs(address.sin_port);
}

NativeSocket connectLoopback(uint16_t port, int boundMilliseconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMilliseconds);
    while (std::chrono::steady_clock::now() < deadline) {
        SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
        DWORD timeout = 10000;
        setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout),
                   sizeof timeout);
        setsockopt(s, SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout),
                   sizeof timeout);
        sockaddr_in address = loopback(port);
        if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0)
            return static_cast<NativeSocket>(s);
        closesocket(s);
        std::this_thread::sleep_for(std::chrono::milliseconds(5)); // until it listens
    }
    return noSocket;
}

NativeSocket listenOn(uint16_t port) {
    SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, 1) != 0) {
        closesocket(s);
        return noSocket;
    }
    return static_cast<NativeSocket>(s);
}

bool sendText(NativeSocket socket, const std::string& bytes) {
    return send(asSocket(socket), bytes.data(), static_cast<int>(bytes.size()), 0) ==
           static_cast<int>(bytes.size());
}

std::string receiveCount(NativeSocket socket, size_t count) {
    std::string got;
    char buffer[512];
    while (got.size() < count) {
        size_t want = count - got.size() < sizeof buffer ? count - got.size() : sizeof buffer;
        int n = recv(asSocket(socket), buffer, static_cast<int>(want), 0);
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

std::string receiveUntilClosed(NativeSocket socket, bool* closed) {
    std::string got;
    char buffer[512];
    *closed = false;
    for (;;) {
        int n = recv(asSocket(socket), buffer, sizeof buffer, 0);
        if (n > 0) {
            got.append(buffer, static_cast<size_t>(n));
            continue;
        }
        *closed = n == 0 || WSAGetLastError() != WSAETIMEDOUT;
        return got;
    }
}

void shutdownSending(NativeSocket socket) {
    shutdown(asSocket(socket), SD_SEND);
}

void closeTestSocket(NativeSocket socket) {
    closesocket(asSocket(socket));
}

int openHandleCount() {
    DWORD count = 0;
    GetProcessHandleCount(GetCurrentProcess(), &count);
    return static_cast<int>(count);
}

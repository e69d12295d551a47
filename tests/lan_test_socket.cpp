#include "tests/lan_test_socket.h"

#include <chrono>
#include <thread>

namespace {
constexpr int receiveBoundMs = 10000;
} // namespace

uint16_t findFreePort() {
    NativeSocket s = openStreamSocket();
    uint16_t port = bindAnyAddress(s, 0) ? boundPort(s) : 0;
    closeNativeSocket(s);
    return port;
}

NativeSocket connectLoopback(uint16_t port, int boundMilliseconds) {
    const std::string service = std::to_string(port);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMilliseconds);
    while (std::chrono::steady_clock::now() < deadline) {
        NativeSocket s = connectClient("127.0.0.1", service.c_str());
        if (s != noSocket) return s;
        std::this_thread::sleep_for(std::chrono::milliseconds(5)); // until it listens
    }
    return noSocket;
}

NativeSocket listenOn(uint16_t port) {
    NativeSocket s = openStreamSocket();
    if (s != noSocket && bindAnyAddress(s, port) && listenForOne(s)) return s;
    closeClient(s);
    return noSocket;
}

bool sendText(NativeSocket socket, const std::string& bytes) {
    return sendAll(socket, bytes.data(), bytes.size());
}

std::string receiveCount(NativeSocket socket, size_t count) {
    std::string got;
    char buffer[512];
    while (got.size() < count) {
        size_t want = count - got.size() < sizeof buffer ? count - got.size() : sizeof buffer;
        int n = receiveWithin(socket, buffer, want, receiveBoundMs);
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

std::string receiveUntilClosed(NativeSocket socket, bool* closed) {
    std::string got;
    char buffer[512];
    for (;;) {
        int n = receiveWithin(socket, buffer, sizeof buffer, receiveBoundMs);
        if (n > 0) {
            got.append(buffer, static_cast<size_t>(n));
            continue;
        }
        // A reset counts as closed as well; a time-out does not.
        *closed = n != -2;
        return got;
    }
}

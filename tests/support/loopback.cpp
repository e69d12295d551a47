#include "tests/support/loopback.h"

#include <thread>

namespace {

using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

uint16_t freePort() {
    NativeSocket s = noSocket;
    if (!openListener(0, &s)) return 0;
    const uint16_t port = boundPort(s);
    closeNativeSocket(s);
    return port;
}

NativeSocket connectLoopback(uint16_t port, Bound bound) {
    const std::string service = std::to_string(port);
    const auto deadline = Clock::now() + bound;
    for (;;) {
        NativeSocket s = noSocket;
        if (connectClient("127.0.0.1", service.c_str(), &s) || Clock::now() >= deadline) return s;
        std::this_thread::sleep_for(std::chrono::milliseconds(5)); // until it listens
    }
}

NativeSocket listenOn(uint16_t port) {
    NativeSocket s = noSocket;
    openListener(port, &s);
    return s;
}

bool sendText(NativeSocket socket, const std::string& bytes) {
    return sendAll(socket, bytes.data(), bytes.size());
}

std::string receiveCount(NativeSocket socket, size_t count, Bound bound) {
    const auto deadline = Clock::now() + bound;
    std::string got;
    char buffer[1024];
    while (got.size() < count) {
        size_t want = count - got.size() < sizeof buffer ? count - got.size() : sizeof buffer;
        const long n = receiveWithin(socket, buffer, want, msLeft(deadline));
        if (n <= 0) break;
        got.append(buffer, static_cast<size_t>(n));
    }
    return got;
}

std::string receiveUntilClosed(NativeSocket socket, bool* closed, Bound bound) {
    const auto deadline = Clock::now() + bound;
    std::string got;
    char buffer[512];
    for (;;) {
        const long n = receiveWithin(socket, buffer, sizeof buffer, msLeft(deadline));
        if (n > 0) {
            got.append(buffer, static_cast<size_t>(n));
            continue;
        }
        // A reset counts as closed as well; a time-out does not.
        *closed = n != -2;
        return got;
    }
}

bool Client::connectTo(int port, Bound bound) {
    close();
    fd = connectLoopback(static_cast<uint16_t>(port), bound);
    return fd != noSocket;
}

bool Client::receive(size_t n, std::string* out, Bound bound) {
    *out = receiveCount(fd, n, bound);
    return out->size() == n;
}

bool Client::closedByPeer(Bound bound) {
    bool closed = false;
    receiveUntilClosed(fd, &closed, bound);
    return closed;
}

void Client::close() {
    closeClient(fd);
    fd = noSocket;
}

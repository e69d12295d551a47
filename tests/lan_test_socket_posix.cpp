#include <arpa/inet.h>
#include <cerrno>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "tests/lan_test_socket.h"

namespace {

sockaddr_in loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    return address;
}

} // namespace

uint16_t findFreePort() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(0);
    bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t size = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    close(fd);
    return ntohs(address.sin_port);
}

NativeSocket connectLoopback(uint16_t port, int boundMilliseconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(boundMilliseconds);
    while (std::chrono::steady_clock::now() < deadline) {
        int fd = socket(AF_INET, SOCK_STREAM, 0);
        timeval timeout{10, 0};
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
        sockaddr_in address = loopback(port);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
        close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(5)); // until it listens
    }
    return noSocket;
}

NativeSocket listenOn(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopback(port);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        listen(fd, 1) != 0) {
        close(fd);
        return noSocket;
    }
    return fd;
}

bool sendText(NativeSocket socket, const std::string& bytes) {
    return send(static_cast<int>(socket), bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
}

std::string receiveCount(NativeSocket socket, size_t count) {
    std::string got;
    char buffer[512];
    while (got.size() < count) {
        size_t want = count - got.size() < sizeof buffer ? count - got.size() : sizeof buffer;
        ssize_t n = recv(static_cast<int>(socket), buffer, want, 0);
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
        ssize_t n = recv(static_cast<int>(socket), buffer, sizeof buffer, 0);
        if (n > 0) {
            got.append(buffer, static_cast<size_t>(n));
            continue;
        }
        // A reset counts as closed as well; a time-out does not.
        *closed = n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        return got;
    }
}

void shutdownSending(NativeSocket socket) {
    shutdown(static_cast<int>(socket), SHUT_WR);
}

void closeTestSocket(NativeSocket socket) {
    close(static_cast<int>(socket));
}

int openHandleCount() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    while (readdir(dir) != nullptr)
        ++count;
    closedir(dir);
    return count;
}

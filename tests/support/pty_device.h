#pragma once
// The device's end of a pseudo-terminal, driven by a test in the same process.

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string>
#include <termios.h>
#include <unistd.h>

struct TestDevice {
    int master = -1;
    char path[128] = {};

    bool open() {
        master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
            ptsname_r(master, path, sizeof path) != 0)
            return false;
        // Start raw, as a real port would be before the link sets it up.
        int slave = ::open(path, O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (slave < 0) return false;
        termios tio{};
        tcgetattr(slave, &tio);
        cfmakeraw(&tio);
        tcsetattr(slave, TCSANOW, &tio);
        ::close(slave);
        return true;
    }
    void close() {
        if (master >= 0) ::close(master);
        master = -1;
    }
    bool send(const std::string& bytes) const {
        return write(master, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }
    // What the link wrote, waiting at most timeoutMs for the first byte.
    std::string received(int timeoutMs = 2000) const {
        std::string out;
        pollfd p{master, POLLIN, 0};
        while (poll(&p, 1, out.empty() ? timeoutMs : 0) > 0 && (p.revents & POLLIN)) {
            char buffer[256];
            ssize_t n = read(master, buffer, sizeof buffer);
            if (n <= 0) break;
            out.append(buffer, static_cast<size_t>(n));
        }
        return out;
    }
    ~TestDevice() { close(); }
};

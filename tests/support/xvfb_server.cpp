#include "tests/support/xvfb_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {
constexpr auto startBound = std::chrono::seconds(30);
constexpr auto stopBound = std::chrono::seconds(10);
} // namespace

bool xvfbInstalled() {
    const char* path = std::getenv("PATH");
    if (!path) return false;
    std::string dirs(path);
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/Xvfb";
        if (access(candidate.c_str(), X_OK) == 0) return true;
        start = end + 1;
    }
    return false;
}

bool startXvfb(XvfbServer* server, int width, int height, bool whiteRoot) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return false;
    char screen[32];
    std::snprintf(screen, sizeof screen, "%dx%dx24", width, height);
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return false;
    }
    if (pid == 0) {
        // The display number arrives on descriptor 3 once the server listens.
        dup2(fds[1], 3);
        const int quiet = open("/dev/null", O_RDWR);
        if (quiet >= 0) {
            dup2(quiet, 0);
            dup2(quiet, 1);
            dup2(quiet, 2);
        }
        execlp("Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-noreset", "-screen", "0",
               screen, whiteRoot ? "-wr" : static_cast<char*>(nullptr),
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    server->pid = pid;
    char text[16] = {};
    size_t used = 0;
    const auto deadline = std::chrono::steady_clock::now() + startBound;
    bool done = false;
    while (!done && used + 1 < sizeof text) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        const ssize_t n = read(fds[0], text + used, sizeof text - 1 - used);
        if (n <= 0) break; // the server ended without a display
        used += static_cast<size_t>(n);
        done = std::memchr(text, '\n', used) != nullptr;
    }
    close(fds[0]);
    if (!done) {
        stopXvfb(server);
        return false;
    }
    std::snprintf(server->display, sizeof server->display, ":%d", std::atoi(text));
    return true;
}

void stopXvfb(XvfbServer* server) {
    if (server->pid <= 0) return;
    kill(server->pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + stopBound;
    bool ended = false;
    while (!ended && std::chrono::steady_clock::now() < deadline) {
        ended = waitpid(server->pid, nullptr, WNOHANG) == server->pid;
        if (!ended) usleep(10000);
    }
    if (!ended) {
        kill(server->pid, SIGKILL);
        waitpid(server->pid, nullptr, 0);
    }
    server->pid = -1;
}

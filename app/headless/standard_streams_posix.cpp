#include "app/headless/standard_streams.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

void prepareStandardStreams() {
    // open() takes the lowest free number, so each call fills the lowest
    // closed one of the three; nothing else is open yet that could be lost.
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) continue;
        int opened = open("/dev/null", O_RDWR);
        if (opened >= 0 && opened != fd) {
            dup2(opened, fd);
            close(opened);
        }
    }
    // The sockets send with MSG_NOSIGNAL already; this is for the streams.
    std::signal(SIGPIPE, SIG_IGN);
}

bool writeStandardStream(StandardStream stream, const char* data, size_t size) {
    const int fd = stream == StandardStream::output ? STDOUT_FILENO : STDERR_FILENO;
    while (size > 0) {
        ssize_t n = write(fd, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            // A stream inherited in non-blocking mode: wait for room rather
            // than drop the rest of a line.
            pollfd room{fd, POLLOUT, 0};
            (void)poll(&room, 1, -1);
        } else if (!(n < 0 && errno == EINTR)) {
            return false;
        }
    }
    return true;
}

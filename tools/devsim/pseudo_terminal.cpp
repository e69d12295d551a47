#include "tools/devsim/pseudo_terminal.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "text/number_text.h"

bool openPseudoTerminal(PseudoTerminal* t) {
    int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0) return false;
    if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, t->path, sizeof t->path) != 0) {
        close(m);
        return false;
    }
    // Raw from the start, so that nothing is echoed or translated before the
    // program under test sets the line up itself.
    int s = open(t->path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s >= 0) {
        termios tio{};
        if (tcgetattr(s, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(s, TCSANOW, &tio);
        }
        close(s);
    }
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    t->master = m;
    return true;
}

void closePseudoTerminal(PseudoTerminal* t) {
    if (t->master >= 0) close(t->master);
    t->master = -1;
}

bool makeLink(const char* link, const char* target) {
    char temp[512];
    TextBuilder name(temp, sizeof temp);
    name.append(link);
    name.append(".new");
    if (name.overflow) return false;
    unlink(temp);
    if (symlink(target, temp) != 0) return false;
    return rename(temp, link) == 0;
}

TerminalWait waitForInput(const PseudoTerminal& t, int timeoutMs) {
    pollfd p{t.master, POLLIN, 0};
    const int ready = poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
    if (ready < 0) return errno == EINTR ? TerminalWait::nothing : TerminalWait::failed;
    if (ready == 0) return TerminalWait::nothing;
    if (p.revents & POLLHUP) return TerminalWait::detached;
    return (p.revents & POLLIN) ? TerminalWait::input : TerminalWait::nothing;
}

bool writeAll(const PseudoTerminal& t, const char* data, size_t size,
              const volatile std::sig_atomic_t* quit) {
    while (size > 0 && !*quit) {
        ssize_t n = write(t.master, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            pollfd p{t.master, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
    return size == 0;
}

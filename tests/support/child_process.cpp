#include "tests/support/child_process.h"

#include "tests/support/handles.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;

int msLeft(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    return left.count() < 0 ? 0 : static_cast<int>(left.count());
}
} // namespace

Child::~Child() {
    if (pid > 0) {
        kill(pid, SIGKILL);
        waitpid(pid, nullptr, 0);
    }
    if (out >= 0) ::close(out);
}

bool Child::start(const std::vector<std::string>& argv, const std::string& cwd,
                  const std::string& stderrFile) {
    return start(argv, cwd, stderrFile, ChildSetup{});
}

bool Child::start(const std::vector<std::string>& argv, const std::string& cwd,
                  const std::string& stderrFile, const ChildSetup& setup) {
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return false;
    errPath = stderrFile;
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        dup2(setup.outputTo >= 0 ? setup.outputTo : pipeFds[1], 1);
        if (!setup.closeErrors) {
            int err = open(stderrFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (err >= 0) dup2(err, 2);
            if (err > 2) ::close(err);
        }
        if (chdir(cwd.c_str()) != 0) _exit(126);
        if (setup.user != 0 &&
            (setgroups(0, nullptr) != 0 || setgid(setup.group) != 0 || setuid(setup.user) != 0))
            _exit(126);
        // Closed last, so that nothing above takes their numbers.
        if (setup.closeInput) ::close(0);
        if (setup.closeOutput) ::close(1);
        if (setup.closeErrors) ::close(2);
        execv(args[0], args.data());
        _exit(127);
    }
    ::close(pipeFds[1]);
    out = pipeFds[0];
    return pid > 0;
}

bool Child::readLine(std::string* line, Bound bound) {
    auto deadline = Clock::now() + bound;
    for (;;) {
        size_t end = pending.find('\n');
        if (end != std::string::npos) {
            *line = pending.substr(0, end);
            if (!line->empty() && line->back() == '\r') line->pop_back();
            pending.erase(0, end + 1);
            return true;
        }
        pollfd p{out, POLLIN, 0};
        if (poll(&p, 1, msLeft(deadline)) <= 0) return false;
        char buffer[4096];
        ssize_t n = read(out, buffer, sizeof buffer);
        if (n <= 0) return false;
        pending.append(buffer, static_cast<size_t>(n));
    }
}

void Child::signal(int number) {
    if (pid > 0) kill(pid, number);
}

int Child::waitExit(Bound bound) {
    auto deadline = Clock::now() + bound;
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            pid = -1;
            if (WIFEXITED(status)) return WEXITSTATUS(status);
            return 128 + WTERMSIG(status);
        }
        if (Clock::now() >= deadline) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

bool Child::running() {
    return pid > 0 && waitpid(pid, nullptr, WNOHANG) == 0;
}

std::string Child::errors() const {
    return readFile(errPath);
}

int Child::descriptorCount() const {
    return descriptorCountOf(pid);
}

std::string scratchFolder(const char* name) {
    std::string base = std::string(TOLVANE_BINARY_DIR) + "/scratch";
    mkdir(base.c_str(), 0755);
    std::string pattern = base + "/" + name + "-XXXXXX";
    std::vector<char> text(pattern.begin(), pattern.end());
    text.push_back('\0');
    if (mkdtemp(text.data()) == nullptr) return "";
    return text.data();
}

void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

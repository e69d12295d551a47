#include "settings/replace_file.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "text/number_text.h"

namespace {

bool fail(const char* what, int error, char* reason, size_t reasonSize) {
    TextBuilder out(reason, reasonSize);
    out.append(what);
    out.append(": ");
    out.append(std::strerror(error));
    return false;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The file a path names, through symbolic links, also when the last link
// points at nothing yet: a dangling link is followed like any other. False
// (errno ELOOP) for a loop.
bool targetOf(const char* path, std::string* target) {
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        char link[PATH_MAX];
        const ssize_t n = readlink(current.c_str(), link, sizeof link - 1);
        if (n < 0) {
            *target = current; // no link (or nothing there): this is the file
            return true;
        }
        link[n] = '\0';
        current = link[0] == '/' ? std::string(link) : folderOf(current) + "/" + link;
    }
    errno = ELOOP;
    return false;
}

// While the temporary file exists: a file size limit makes write(2) fail
// instead of killing the process, and Ctrl+C or a stop waits until the
// temporary file is renamed or removed.
struct WriteGuard {
    struct sigaction oldXfsz {};
    sigset_t oldMask{};
    WriteGuard() {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGXFSZ, &ignore, &oldXfsz);
        sigset_t held;
        sigemptyset(&held);
        sigaddset(&held, SIGINT);
        sigaddset(&held, SIGTERM);
        sigaddset(&held, SIGHUP);
        sigprocmask(SIG_BLOCK, &held, &oldMask);
    }
    ~WriteGuard() {
        sigaction(SIGXFSZ, &oldXfsz, nullptr);
        sigprocmask(SIG_SETMASK, &oldMask, nullptr);
    }
};

} // namespace

bool replaceFileText(const char* path, const char* text, size_t length, char* reason,
                     size_t reasonSize) {
    std::string target;
    if (!targetOf(path, &target)) return fail("cannot follow its links", errno, reason, reasonSize);
    const WriteGuard guard;
    std::string temporary = target + ".new-XXXXXX";
    const int file = mkstemp(temporary.data());
    if (file < 0)
        return fail("cannot create a temporary file in its folder", errno, reason, reasonSize);

    // mkstemp makes the file private; take the old file's mode and owner, or
    // what a plain create would give under the current umask.
    struct stat old {};
    if (stat(target.c_str(), &old) == 0) {
        if (fchown(file, old.st_uid, old.st_gid) != 0) {
            // Only root may give a file away; the file stays the writer's.
        }
        fchmod(file, old.st_mode & 07777);
    } else {
        const mode_t mask = umask(0);
        umask(mask);
        fchmod(file, 0666 & ~mask);
    }

    int error = 0;
    const char* step = "cannot write the temporary file";
    for (size_t done = 0; done < length && error == 0;) {
        const ssize_t n = write(file, text + done, length - done);
        if (n > 0)
            done += static_cast<size_t>(n);
        else if (n < 0 && errno != EINTR)
            error = errno;
    }
    if (error == 0 && fsync(file) != 0) error = errno;
    if (close(file) != 0 && error == 0) error = errno;
    if (error == 0 && rename(temporary.c_str(), target.c_str()) != 0) {
        error = errno;
        step = "cannot rename the temporary file over it";
    }
    if (error != 0) {
        unlink(temporary.c_str());
        return fail(step, error, reason, reasonSize);
    }
    // The rename itself reaches the disk with the folder.
    const int folder = open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        fsync(folder);
        close(folder);
    }
    return true;
}

bool lockFileForChange(const char* path, FileLock* lock, char* reason, size_t reasonSize) {
    std::string target;
    if (!targetOf(path, &target)) return fail("cannot follow its links", errno, reason, reasonSize);
    const int folder = open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return fail("cannot open its folder to lock it", errno, reason, reasonSize);
    // Another change takes a few milliseconds; one that holds the lock for
    // ten seconds has hung.
    for (int attempt = 0; flock(folder, LOCK_EX | LOCK_NB) != 0; ++attempt) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || attempt == 1000) {
            const int error = errno;
            close(folder);
            return fail(error == EWOULDBLOCK ? "another program has held its folder's lock for 10 s"
                                             : "cannot lock its folder",
                        error, reason, reasonSize);
        }
        const timespec pause{0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    lock->handle = folder;
    return true;
}

void unlockFile(FileLock* lock) {
    if (lock->handle >= 0) close(static_cast<int>(lock->handle)); // closing releases flock
    lock->handle = -1;
}

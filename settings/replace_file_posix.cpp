#include "settings/replace_file.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
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

// The file a path names, through symbolic links; the path itself when it
// does not exist yet.
std::string targetOf(const char* path) {
    char* real = realpath(path, nullptr);
    if (real == nullptr) return path;
    std::string target = real;
    std::free(real);
    return target;
}

std::string folderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

} // namespace

bool replaceFileText(const char* path, const char* text, size_t length, char* reason,
                     size_t reasonSize) {
    const std::string target = targetOf(path);
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

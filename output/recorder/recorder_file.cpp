#include "output/recorder/recorder_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

// The few calls that differ between the C runtimes.
#ifdef _WIN32
int openForAppend(const char* path) {
    return _open(path, _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
}
long long writeSome(int fd, const char* data, size_t n) {
    return _write(fd, data, static_cast<unsigned>(n));
}
long long seekEnd(int fd) {
    return _lseeki64(fd, 0, SEEK_END);
}
void truncateTo(int fd, int64_t size) {
    (void)_chsize_s(fd, size);
}
void closeDescriptor(int fd) {
    _close(fd);
}
#else
int openForAppend(const char* path) {
    return ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
}
long long writeSome(int fd, const char* data, size_t n) {
    return ::write(fd, data, n);
}
long long seekEnd(int fd) {
    return ::lseek(fd, 0, SEEK_END);
}
void truncateTo(int fd, int64_t size) {
    (void)::ftruncate(fd, static_cast<off_t>(size));
}
void closeDescriptor(int fd) {
    ::close(fd);
}
#endif

} // namespace

bool openRecorderFile(const char* path, RecorderFile* file, int* error) {
    *error = 0;
    const int descriptor = openForAppend(path);
    if (descriptor < 0) {
        *error = errno;
        return false;
    }
    const long long end = seekEnd(descriptor);
    if (end < 0) {
        *error = errno;
        closeDescriptor(descriptor);
        return false;
    }
    file->descriptor = descriptor;
    file->size = static_cast<int64_t>(end);
    return true;
}

bool appendRecorderFile(RecorderFile* file, const char* data, size_t length, int* error) {
    size_t written = 0;
    while (written < length) {
        const long long n = writeSome(file->descriptor, data + written, length - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = n < 0 ? errno : ENOSPC;
            // Half a record would glue itself to whatever comes next.
            if (written > 0) truncateTo(file->descriptor, file->size);
            return false;
        }
        written += static_cast<size_t>(n);
    }
    file->size += static_cast<int64_t>(length);
    return true;
}

void closeRecorderFile(RecorderFile* file) {
    if (file->descriptor >= 0) closeDescriptor(file->descriptor);
    file->descriptor = -1;
}

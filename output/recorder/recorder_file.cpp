#include "output/recorder/recorder_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

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
using FileStatus = struct _stat64;
int openForAppend(const char* path) {
    return _open(path, _O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY, _S_IREAD | _S_IWRITE);
}
int openForReading(const char* path) {
    return _open(path, _O_RDONLY | _O_BINARY);
}
bool statusOf(int fd, FileStatus* status) {
    return _fstat64(fd, status) == 0;
}
bool isRegular(const FileStatus& s) {
    return (s.st_mode & _S_IFMT) == _S_IFREG;
}
bool isStream(const FileStatus& s) {
    return (s.st_mode & _S_IFMT) == _S_IFCHR || (s.st_mode & _S_IFMT) == _S_IFIFO;
}
// The C runtime has no file numbers to compare; the size has to do.
bool sameFile(const FileStatus& a, const FileStatus& b) {
    return a.st_size == b.st_size;
}
long long readSome(int fd, char* data, size_t n) {
    return _read(fd, data, static_cast<unsigned>(n));
}
long long writeSome(int fd, const char* data, size_t n) {
    return _write(fd, data, static_cast<unsigned>(n));
}
long long seekTo(int fd, long long offset, int whence) {
    return _lseeki64(fd, offset, whence);
}
void truncateTo(int fd, int64_t size) {
    (void)_chsize_s(fd, size);
}
void closeDescriptor(int fd) {
    _close(fd);
}
#else
using FileStatus = struct stat;
// Without O_NONBLOCK a FIFO would wait for its reader, a terminal for its
// carrier, and the bridge's start with them, while the stop signals are
// already held back.
int openForAppend(const char* path) {
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd >= 0) {
        // The writes, on the recorder's own thread, may wait for a reader.
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0) (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    return fd;
}
int openForReading(const char* path) {
    return ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
}
bool statusOf(int fd, FileStatus* status) {
    return ::fstat(fd, status) == 0;
}
bool isRegular(const FileStatus& s) {
    return S_ISREG(s.st_mode);
}
bool isStream(const FileStatus& s) {
    return S_ISFIFO(s.st_mode) || S_ISCHR(s.st_mode);
}
bool sameFile(const FileStatus& a, const FileStatus& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}
long long readSome(int fd, char* data, size_t n) {
    return ::read(fd, data, n);
}
long long writeSome(int fd, const char* data, size_t n) {
    return ::write(fd, data, n);
}
long long seekTo(int fd, long long offset, int whence) {
    return ::lseek(fd, static_cast<off_t>(offset), whence);
}
void truncateTo(int fd, int64_t size) {
    (void)::ftruncate(fd, static_cast<off_t>(size));
}
void closeDescriptor(int fd) {
    ::close(fd);
}
#endif

// Up to n bytes from where the descriptor stands; the count read, or -1.
long long readUpTo(int fd, char* data, size_t n) {
    size_t got = 0;
    while (got < n) {
        const long long r = readSome(fd, data + got, n - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return -1;
        if (r == 0) break;
        got += static_cast<size_t>(r);
    }
    return static_cast<long long>(got);
}

} // namespace

bool openRecorderFile(const char* path, RecorderFile* file, int* error) {
    *error = 0;
    const int descriptor = openForAppend(path);
    if (descriptor < 0) {
        *error = errno;
        return false;
    }
    FileStatus status{};
    if (!statusOf(descriptor, &status)) {
        *error = errno;
        closeDescriptor(descriptor);
        return false;
    }
    file->descriptor = descriptor;
    file->size = 0;
    file->kind = isRegular(status)  ? RecorderFileKind::regular
                 : isStream(status) ? RecorderFileKind::stream
                                    : RecorderFileKind::other;
    if (file->kind != RecorderFileKind::regular) return true;
    const long long end = seekTo(descriptor, 0, SEEK_END);
    if (end < 0) {
        *error = errno;
        closeRecorderFile(file);
        return false;
    }
    file->size = static_cast<int64_t>(end);
    return true;
}

bool readRecorderFileEnds(const char* path, const RecorderFile& file, char* head, size_t size,
                          size_t* length, int* last, int* error) {
    *error = 0;
    *length = 0;
    *last = -1;
    const int reader = openForReading(path);
    if (reader < 0) {
        *error = errno;
        return false;
    }
    FileStatus written{}, read{};
    bool ok = statusOf(file.descriptor, &written) && statusOf(reader, &read);
    if (!ok) {
        *error = errno;
    } else if (!isRegular(read) || !sameFile(written, read)) {
        *error = EAGAIN; // the name was given to another file in between
        ok = false;
    }
    long long got = 0;
    if (ok && (got = readUpTo(reader, head, size)) < 0) {
        *error = errno;
        ok = false;
    }
    char end = 0;
    if (ok && got > 0) {
        if (seekTo(reader, -1, SEEK_END) < 0 || readUpTo(reader, &end, 1) != 1) {
            *error = errno != 0 ? errno : EIO;
            ok = false;
        }
    }
    closeDescriptor(reader);
    if (!ok) return false;
    *length = static_cast<size_t>(got);
    if (got > 0) *last = static_cast<unsigned char>(end);
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
            if (written > 0 && file->kind == RecorderFileKind::regular)
                truncateTo(file->descriptor, file->size);
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

#include "output/recorder/recorder_file.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#define O_FLAGS (_O_WRONLY | _O_APPEND | _O_CREAT | _O_BINARY)
#define CLOSE _close
#define WRITE(fd, data, n) _write(fd, data, static_cast<unsigned>(n))
#define SEEK _lseeki64
#define TRUNCATE(fd, n) (_chsize_s(fd, n) == 0 ? 0 : -1)
#define OPEN(path) _open(path, O_FLAGS, _S_IREAD | _S_IWRITE)
#else
#include <unistd.h>
#define CLOSE ::close
#define WRITE ::write
#define SEEK ::lseek
#define TRUNCATE ::ftruncate
#define OPEN(path) ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644)
#endif

bool openRecorderFile(const char* path, RecorderFile* file, int* error) {
    *error = 0;
    const int descriptor = OPEN(path);
    if (descriptor < 0) {
        *error = errno;
        return false;
    }
    const auto end = SEEK(descriptor, 0, SEEK_END);
    if (end < 0) {
        *error = errno;
        CLOSE(descriptor);
        return false;
    }
    file->descriptor = descriptor;
    file->size = static_cast<int64_t>(end);
    return true;
}

bool appendRecorderFile(RecorderFile* file, const char* data, size_t length, int* error) {
    size_t written = 0;
    while (written < length) {
        const auto n = WRITE(file->descriptor, data + written, length - written);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *error = n < 0 ? errno : ENOSPC;
            // Half a record would glue itself to whatever comes next.
            if (written > 0) (void)TRUNCATE(file->descriptor, file->size);
            return false;
        }
        written += static_cast<size_t>(n);
    }
    file->size += static_cast<int64_t>(length);
    return true;
}

void closeRecorderFile(RecorderFile* file) {
    if (file->descriptor >= 0) CLOSE(file->descriptor);
    file->descriptor = -1;
}

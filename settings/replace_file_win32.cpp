#include "settings/replace_file.h"

#include <windows.h>

#include <string>

#include "text/number_text.h"

namespace {

bool fail(const char* what, DWORD error, char* reason, size_t reasonSize) {
    char message[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                             error, 0, message, sizeof message, nullptr);
    while (n > 0 && (message[n - 1] == '\r' || message[n - 1] == '\n' || message[n - 1] == ' ' ||
                     message[n - 1] == '.'))
        message[--n] = '\0';
    TextBuilder out(reason, reasonSize);
    out.append(what);
    out.append(": ");
    if (n > 0) {
        out.append(message);
    } else {
        out.append("error ");
        out.appendInteger(static_cast<long long>(error));
    }
    return false;
}

} // namespace

bool replaceFileText(const char* path, const char* text, size_t length, char* reason,
                     size_t reasonSize) {
    // What a text-mode stream stores.
    std::string content;
    content.reserve(length + 16);
    for (size_t i = 0; i < length; ++i) {
        if (text[i] == '\n') content += '\r';
        content += text[i];
    }

    std::string temporary;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (unsigned attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        char suffix[48];
        TextBuilder name(suffix, sizeof suffix);
        name.append(".new-");
        name.appendInteger(static_cast<long long>(GetCurrentProcessId()));
        name.append("-");
        name.appendInteger(attempt);
        temporary = std::string(path) + suffix;
        file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            return fail("cannot create a temporary file in its folder", GetLastError(), reason,
                        reasonSize);
    }
    if (file == INVALID_HANDLE_VALUE)
        return fail("cannot create a temporary file in its folder", GetLastError(), reason,
                    reasonSize);

    DWORD error = 0;
    const char* step = "cannot write the temporary file";
    DWORD written = 0;
    if (!WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr) ||
        written != content.size())
        error = GetLastError() != 0 ? GetLastError() : ERROR_WRITE_FAULT;
    if (error == 0 && !FlushFileBuffers(file)) error = GetLastError();
    CloseHandle(file);
    if (error == 0 &&
        !MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
        step = "cannot rename the temporary file over it";
    }
    if (error != 0) {
        DeleteFileA(temporary.c_str());
        return fail(step, error, reason, reasonSize);
    }
    return true;
}

bool lockFileForChange(const char* path, FileLock* lock, char* reason, size_t reasonSize) {
    const std::string name = std::string(path) + ".lock";
    // Removed when its last holder closes it; a second holder opens the same
    // file while it is held, and retries while it is being removed.
    for (int attempt = 0;; ++attempt) {
        HANDLE file =
            CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE,
                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            OVERLAPPED at{};
            if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &at)) {
                lock->handle = reinterpret_cast<intptr_t>(file);
                return true;
            }
            const DWORD error = GetLastError();
            CloseHandle(file);
            return fail("cannot lock it", error, reason, reasonSize);
        }
        const DWORD error = GetLastError();
        if (error != ERROR_ACCESS_DENIED || attempt == 500)
            return fail("cannot create its lock file", error, reason, reasonSize);
        Sleep(10);
    }
}

void unlockFile(FileLock* lock) {
    if (lock->handle != -1) CloseHandle(reinterpret_cast<HANDLE>(lock->handle));
    lock->handle = -1;
}

#include "tests/support/handles.h"

#ifdef _WIN32
#include <windows.h>

int openHandleCount() {
    DWORD count = 0;
    if (!GetProcessHandleCount(GetCurrentProcess(), &count)) return -1;
    return static_cast<int>(count);
}
#else
#include <dirent.h>

#include <string>

namespace {
int countEntries(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) return -1;
    int n = 0;
    while (dirent* e = readdir(dir))
        if (e->d_name[0] != '.') ++n;
    closedir(dir);
    return n;
}
} // namespace

int openHandleCount() {
    return countEntries("/proc/self/fd");
}

int descriptorCountOf(pid_t pid) {
    return countEntries("/proc/" + std::to_string(pid) + "/fd");
}
#endif

#include "tools/config/window_program.h"

#include <windows.h>

#include "settings/settings.h"

namespace {

// The volume and the file's index name one file, however it is spelled.
bool fileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
    const HANDLE file = CreateFileA(path, FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    const bool known = GetFileInformationByHandle(file, info) != 0;
    CloseHandle(file);
    return known;
}

} // namespace

bool windowProgramRuns() {
    // The class name of tolvane.exe's main window, from its string table.
    return FindWindowW(L"TOLVANE", nullptr) != nullptr;
}

bool isWindowSettingsFile(const char* path) {
    BY_HANDLE_FILE_INFORMATION given{}, window{};
    return fileIdentity(path, &given) && fileIdentity(settingsFileName, &window) &&
           given.dwVolumeSerialNumber == window.dwVolumeSerialNumber &&
           given.nFileIndexHigh == window.nFileIndexHigh &&
           given.nFileIndexLow == window.nFileIndexLow;
}

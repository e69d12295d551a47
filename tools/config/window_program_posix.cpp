#include "tools/config/window_program.h"

#include <sys/stat.h>

#include "settings/settings.h"

bool windowProgramRuns() {
    return false;
}

bool isWindowSettingsFile(const char* path) {
    struct stat given {
    }, window{};
    return stat(path, &given) == 0 && stat(settingsFileName, &window) == 0 &&
           given.st_dev == window.st_dev && given.st_ino == window.st_ino;
}

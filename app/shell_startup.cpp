#include "app/shell_startup.h"

#include <cstdint>

#include "net/socket_layer.h"
#include "output/pointer/air_mouse.h"
#include "output/pointer/pointer.h"
#include "settings/settings.h"

bool startShell(const char* settingsPath, void (*settingsRead)()) {
    startSocketLayer();
    setDefaults();
    readSettingsFile(settingsPath);
    if (settingsRead != nullptr) settingsRead();
    // After the settings: on Linux they say which pointer to open.
    int32_t width = 0;
    int32_t height = 0;
    const bool display = openPointer() && readScreenSize(&width, &height);
    screenWidth = width;
    screenHeight = height;
    return display;
}

void stopShell() {
    stopSocketLayer();
    closePointer();
}

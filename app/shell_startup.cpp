#include "app/shell_startup.h"

#include <cstdint>
#include <cstdio>

#include "net/socket_layer.h"
#include "output/desktop/pointer.h"
#include "output/hand/air_mouse.h"
#include "output/overlay/overlay_output.h"
#include "settings/settings.h"
#include "settings/settings_table.h"

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
    setOverlayWindowsOpener(openOverlayWindows);
    return display;
}

void stopShell() {
    stopSocketLayer();
    closePointer();
}

namespace {

// The values of the eleven lines, as the settings dialog set them.
struct FixedLines {
    char comPort[comPortSize];
    float screenDistance;
    int32_t scrollSpeed, mouseAveraging, lanAveraging, lanPort, deviceMode;
    uint8_t mouseEnabled, lanEnabled, webSocketEnabled, accelerationOutput;
};

FixedLines fixedLines() {
    FixedLines f{};
    getComPort(f.comPort);
    f.screenDistance = settings.screenDistance;
    f.scrollSpeed = settings.scrollSpeed;
    f.mouseAveraging = settings.mouseAveraging;
    f.lanAveraging = settings.lanAveraging;
    f.lanPort = settings.lanPort;
    f.deviceMode = settings.deviceMode;
    f.mouseEnabled = settings.mouseEnabled;
    f.lanEnabled = settings.lanEnabled;
    f.webSocketEnabled = settings.webSocketEnabled;
    f.accelerationOutput = settings.accelerationOutput;
    return f;
}

void setFixedLines(const FixedLines& f) {
    setComPort(f.comPort);
    settings.screenDistance = f.screenDistance;
    settings.scrollSpeed = f.scrollSpeed;
    settings.mouseAveraging = f.mouseAveraging;
    settings.lanAveraging = f.lanAveraging;
    settings.lanPort = f.lanPort;
    settings.deviceMode = f.deviceMode;
    settings.mouseEnabled = f.mouseEnabled;
    settings.lanEnabled = f.lanEnabled;
    settings.webSocketEnabled = f.webSocketEnabled;
    settings.accelerationOutput = f.accelerationOutput;
}

} // namespace

void readKeyedSettings(const char* path) {
    int error = 0;
    FILE* file = openSettingsFile(path, &error);
    if (file == nullptr) return;
    const FixedLines kept = fixedLines();
    for (int i = 0; i < settingsRowCount; ++i)
        if (isKeyedSetting(i)) settingsTable[i].store(settingsTable[i].defaultText);
    readSettingsStream(file);
    std::fclose(file);
    setFixedLines(kept);
}

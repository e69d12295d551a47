#include "settings/settings.h"

#include <cstring>
#include <mutex>

#include "settings/replace_file.h"
#include "text/number_text.h"

Settings settings;

namespace {
std::mutex comPortLock;

constexpr int settingsLines = 11;
constexpr int lineBufferSize = 256;
} // namespace

void getComPort(char* out) {
    std::lock_guard<std::mutex> guard(comPortLock);
    copyText(out, comPortSize, settings.comPort);
}

void setComPort(const char* name) {
    std::lock_guard<std::mutex> guard(comPortLock);
    copyText(settings.comPort, comPortSize, name);
}

void setDefaults() {
    setComPort("COM19");
    settings.screenDistance = 1.0f;
    settings.scrollSpeed = 4;
    settings.mouseAveraging = 32;
    settings.lanAveraging = 1;
    settings.lanPort = 8096;
    settings.mouseEnabled = 1;
    settings.deviceMode = devicePresetUnset;
    settings.lanEnabled = 0;
    settings.webSocketEnabled = 0;
    settings.accelerationOutput = 0;
}

void readSettingsStream(FILE* file) {
    char line[lineBufferSize];
    for (int index = 0; index < settingsLines; ++index) {
        // A missing line leaves its field (and all later ones) as they are.
        if (std::fgets(line, sizeof line, file) == nullptr) return;
        for (char* p = line; *p != '\0'; ++p)
            if (*p == '\r' || *p == '\n') *p = '\0';

        if (index == 0) {
            setComPort(line); // cut to 31 characters, blanks kept
            continue;
        }
        if (index == 1) {
            float distance;
            if (scanFloat(line, &distance)) settings.screenDistance = distance;
            continue;
        }
        int32_t number;
        if (!scanInteger(line, &number)) continue;
        auto flag = static_cast<uint8_t>(static_cast<uint32_t>(number) & 0xFFu);
        switch (index) {
        case 2:
            settings.scrollSpeed = number;
            break;
        case 3:
            settings.mouseAveraging = number;
            break;
        case 4:
            settings.lanAveraging = number;
            break;
        case 5:
            settings.lanPort = number;
            break;
        case 6:
            settings.mouseEnabled = flag;
            break;
        case 7:
            settings.deviceMode = number;
            break;
        case 8:
            settings.lanEnabled = flag;
            break;
        case 9:
            settings.webSocketEnabled = flag;
            break;
        case 10:
            settings.accelerationOutput = flag;
            break;
        default:
            break;
        }
    }
}

void readSettingsFile(const char* path) {
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) return;
    readSettingsStream(file);
    std::fclose(file);
}

void appendSettingValue(TextBuilder& out, int index) {
    if (index == 0) {
        char port[comPortSize];
        getComPort(port);
        out.append(port);
        return;
    }
    if (index == 1) {
        out.appendFixed(static_cast<double>(settings.screenDistance.load()), 6);
        return;
    }
    const long long numbers[] = {
        settings.scrollSpeed.load(),        settings.mouseAveraging.load(),
        settings.lanAveraging.load(),       settings.lanPort.load(),
        settings.mouseEnabled.load(),       settings.deviceMode.load(),
        settings.lanEnabled.load(),         settings.webSocketEnabled.load(),
        settings.accelerationOutput.load(),
    };
    out.appendInteger(numbers[index - 2]);
}

int formatSettingsText(char* text, size_t size) {
    TextBuilder out(text, size);
    for (int index = 0; index < settingsLines; ++index) {
        appendSettingValue(out, index);
        out.append("\n");
    }
    return out.overflow ? -1 : static_cast<int>(out.length);
}

bool writeSettingsFile(const char* path) {
    // Text mode: on Windows every "\n" is stored as CR LF.
    FILE* file = std::fopen(path, "w");
    if (file == nullptr) return false;
    char text[512];
    bool written = formatSettingsText(text, sizeof text) >= 0 && std::fputs(text, file) >= 0;
    return std::fclose(file) == 0 && written;
}

bool writeSettingsFileAtomically(const char* path, char* reason, size_t reasonSize) {
    char text[512];
    const int length = formatSettingsText(text, sizeof text);
    if (length < 0) {
        copyText(reason, reasonSize, "the settings do not fit the file's line buffer");
        return false;
    }
    return replaceFileText(path, text, static_cast<size_t>(length), reason, reasonSize);
}

#include "settings/settings_check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "settings/settings.h"
#include "text/number_text.h"

namespace {

constexpr int lineBufferSize = 256; // as readSettingsFile reads them

enum Line {
    comPortLine = 1,
    distanceLine,
    scrollLine,
    mouseAveragingLine,
    lanAveragingLine,
    lanPortLine,
    mouseLine,
    modeLine,
    lanLine,
    webSocketLine,
    accelerationLine
};

void add(SettingsFileCheck* check, SettingsIssue issue, int line, long long value = 0) {
    if (check->findingCount < settingsFindingsMax)
        check->findings[check->findingCount++] = SettingsFinding{issue, line, value};
}

// What people write in configuration files of other programs: a comment, an
// ini section, or a name before the value.
bool looksNamed(const char* text) {
    while (*text == ' ' || *text == '\t')
        ++text;
    return *text == '#' || *text == ';' || *text == '[' || std::strncmp(text, "//", 2) == 0 ||
           std::strchr(text, '=') != nullptr;
}

bool isFlagLine(int line) {
    return line == mouseLine || line == lanLine || line == webSocketLine ||
           line == accelerationLine;
}

// The findings of one line's text; *raw gets its integer where it has one.
void checkText(SettingsFileCheck* check, int line, const char* text, bool* scanned, int32_t* raw) {
    *scanned = false;
    if (line == comPortLine) {
        if (looksNamed(text)) add(check, SettingsIssue::namedLine, line);
        return;
    }
    float distance = 0.0f;
    *scanned = line == distanceLine ? scanFloat(text, &distance) : scanInteger(text, raw);
    if (*scanned) return;
    add(check, looksNamed(text) ? SettingsIssue::namedLine : SettingsIssue::noNumber, line);
}

// The findings about the value in effect for this line's field.
void checkValue(SettingsFileCheck* check, int line, bool scanned, int32_t raw) {
    const Settings& s = settings;
    if (line == mouseAveragingLine || line == lanAveragingLine) {
        const long long averaging =
            line == mouseAveragingLine ? s.mouseAveraging.load() : s.lanAveraging.load();
        if (averaging < 1 || averaging > 255)
            add(check, SettingsIssue::averagingOutside, line, averaging);
    } else if (line == lanPortLine) {
        const long long port = s.lanPort.load();
        if ((static_cast<uint32_t>(port) & 0xFFFFu) == 0)
            add(check, SettingsIssue::lanPortZero, line, port);
        else if (port < 1 || port > 65535)
            add(check, SettingsIssue::lanPortWraps, line, port);
    } else if (isFlagLine(line) && scanned && raw != 0 && raw != 1) {
        add(check, SettingsIssue::flagNotBinary, line, raw);
    } else if (line == modeLine) {
        const long long mode = s.deviceMode.load();
        if (mode < devicePresetC || mode > devicePresetUnset)
            add(check, SettingsIssue::presetUnknown, line, mode);
    }
    if (line == lanLine && s.lanEnabled.load() != 0 && s.deviceMode.load() != devicePresetC)
        add(check, SettingsIssue::lanNeedsPresetC, line, s.deviceMode.load());
}

} // namespace

void checkSettingsFile(const char* path, SettingsFileCheck* check) {
    *check = SettingsFileCheck{};
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        check->error = errno;
        check->state = errno == ENOENT ? SettingsFileState::missing : SettingsFileState::unreadable;
    }
    bool missingSaid = false;
    for (int line = 1; line <= settingsFieldCount; ++line) {
        bool scanned = false;
        int32_t raw = 0;
        char text[lineBufferSize];
        if (file != nullptr && std::fgets(text, sizeof text, file) != nullptr) {
            for (char* p = text; *p != '\0'; ++p)
                if (*p == '\r' || *p == '\n') *p = '\0';
            copyText(check->text[line - 1], sizeof check->text[line - 1], text);
            check->lines = line;
            checkText(check, line, text, &scanned, &raw);
        } else if (file != nullptr && !missingSaid) {
            add(check, SettingsIssue::missingLine, line);
            missingSaid = true;
        }
        checkValue(check, line, scanned, raw);
    }
    if (file != nullptr) std::fclose(file);
}

#include "settings/settings_check.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "settings/settings.h"
#include "text/number_text.h"

namespace {

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

SettingsFinding* add(SettingsFileCheck* check, SettingsIssue issue, int line, long long value = 0) {
    thread_local SettingsFinding dropped; // beyond the last: filled and forgotten
    const int room =
        issue == SettingsIssue::keptLinesLost ? settingsFindingsMax : settingsFindingsMax - 1;
    if (check->findingCount >= room) {
        ++check->findingsLeftOut;
        return &dropped;
    }
    SettingsFinding* f = &check->findings[check->findingCount++];
    *f = SettingsFinding{issue, line, value, {}, {}};
    return f;
}

bool isCommentOrBlank(const char* text) {
    while (*text == ' ' || *text == '\t')
        ++text;
    return *text == '\0' || *text == '#' || *text == ';' || std::strncmp(text, "//", 2) == 0;
}

// A line after the eleventh: a keyed setting, or something the reader keeps.
// goodLine holds, per row, the last line that gave it a good value.
void checkKeyedLine(SettingsFileCheck* check, int line, const char* text, bool cut,
                    std::vector<int>& goodLine) {
    const char* equals = std::strchr(text, '=');
    const int index =
        equals == nullptr ? -1 : findSetting(text, static_cast<size_t>(equals - text));
    const bool keyed = index >= 0 && isKeyedSetting(index);
    if (cut && !keyed) add(check, SettingsIssue::lineTooLong, line);
    if (isCommentOrBlank(text)) return;
    if (!keyed) {
        copyText(add(check, SettingsIssue::unknownLine, line)->text, settingsLineShown + 1, text);
        return;
    }
    char reason[sizeof SettingsFinding{}.reason];
    TextBuilder why(reason, sizeof reason);
    // The reader takes no cut value: its end is not what was written.
    if (cut)
        why.append("is longer than the 255 bytes of a line that the programs read");
    else if (checkSettingText(index, equals + 1, why)) {
        // The reader takes the last; a writer keeps that one only.
        int& before = goodLine[static_cast<size_t>(index)];
        if (before > 0)
            copyText(add(check, SettingsIssue::duplicateLine, line, before)->text,
                     settingsLineShown + 1, text);
        before = line;
        return;
    }
    SettingsFinding* f = add(check, SettingsIssue::badValue, line);
    copyText(f->text, sizeof f->text, text);
    copyText(f->reason, sizeof f->reason, reason);
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
        if (isBarePortNumber(text))
            copyText(add(check, SettingsIssue::portIsNumber, line)->text, settingsLineShown + 1,
                     text);
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
    FILE* file = openSettingsFile(path, &check->error);
    if (file == nullptr)
        check->state =
            check->error == ENOENT ? SettingsFileState::missing : SettingsFileState::unreadable;
    bool missingSaid = false;
    for (int line = 1; line <= settingsFieldCount; ++line) {
        bool scanned = false;
        int32_t raw = 0;
        char text[settingsLineSize];
        bool cut = false;
        bool nul = false;
        if (file != nullptr && readSettingsLine(file, text, sizeof text, &cut, &nul)) {
            copyText(check->text[line - 1], sizeof check->text[line - 1], text);
            check->lines = line;
            if (cut) add(check, SettingsIssue::lineTooLong, line);
            if (nul) add(check, SettingsIssue::nulByte, line);
            checkText(check, line, text, &scanned, &raw);
        } else if (file != nullptr && !missingSaid) {
            add(check, SettingsIssue::missingLine, line);
            missingSaid = true;
        }
        checkValue(check, line, scanned, raw);
    }
    if (file == nullptr) return;
    char text[settingsLineSize];
    bool cut = false;
    bool nul = false;
    std::vector<int> goodLine(static_cast<size_t>(settingsRowCount), 0);
    for (int line = settingsFieldCount + 1; readSettingsLine(file, text, sizeof text, &cut, &nul);
         ++line) {
        if (nul) add(check, SettingsIssue::nulByte, line);
        checkKeyedLine(check, line, text, cut, goodLine);
    }
    std::fclose(file);
    int firstLost = 0;
    if (const int lost = lostKeptLines(&firstLost); lost > 0)
        add(check, SettingsIssue::keptLinesLost, firstLost, lost);
}

bool isBarePortNumber(const char* port) {
    if (*port == '\0') return false;
    for (const char* c = port; *c != '\0'; ++c)
        if (*c < '0' || *c > '9') return false;
    return std::strlen(port) <= 3;
}

void appendPortNameHint(TextBuilder& out, const char* digits) {
#ifdef _WIN32
    out.append("a serial port is named COM");
    out.append(digits);
    out.append(", not ");
    out.append(digits);
    out.append(" (`tolvane-config set comPort=COM");
    out.append(digits);
    out.append("`; `tolvane-config ports` lists the COM ports present)");
#else
    out.append("a serial port is named ttyS");
    out.append(digits);
    out.append(" or ttyUSB");
    out.append(digits);
    out.append(" and the like, not ");
    out.append(digits);
    out.append(" (`tolvane-config ports` lists the ports present)");
#endif
}

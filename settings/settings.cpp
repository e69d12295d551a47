#include "settings/settings.h"

#include <cerrno>
#include <cstring>
#include <mutex>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "settings/replace_file.h"
#include "settings/settings_table.h"
#include "text/number_text.h"

Settings settings;

namespace {
std::mutex textLock; // the texts of Settings and the kept lines

constexpr int keptLinesSize = 4096;
char keptLines[keptLinesSize];

void getText(char* out, size_t size, const char* field) {
    std::lock_guard<std::mutex> guard(textLock);
    copyText(out, size, field);
}

void setText(char* field, size_t size, const char* text) {
    std::lock_guard<std::mutex> guard(textLock);
    copyText(field, size, text);
}
} // namespace

void getComPort(char* out) {
    getText(out, comPortSize, settings.comPort);
}
void setComPort(const char* name) {
    setText(settings.comPort, comPortSize, name);
}
void getScreenSize(char* out) {
    getText(out, screenSizeSize, settings.screenSize);
}
void setScreenSize(const char* text) {
    setText(settings.screenSize, screenSizeSize, text);
}
void getUdpTarget(char* out) {
    getText(out, udpTargetSize, settings.udpTarget);
}
void setUdpTarget(const char* text) {
    setText(settings.udpTarget, udpTargetSize, text);
}
void getLanAddress(char* out) {
    getText(out, lanAddressSize, settings.lanAddress);
}
void setLanAddress(const char* text) {
    setText(settings.lanAddress, lanAddressSize, text);
}
void getWebSocketOrigins(char* out) {
    getText(out, webSocketOriginsSize, settings.webSocketOrigins);
}
void setWebSocketOrigins(const char* text) {
    setText(settings.webSocketOrigins, webSocketOriginsSize, text);
}
void getKeptLines(char* out, size_t size) {
    getText(out, size, keptLines);
}
void setKeptLines(const char* lines) {
    setText(keptLines, keptLinesSize, lines);
}

void setDefaults() {
    for (int i = 0; i < settingsRowCount; ++i)
        settingsTable[i].store(settingsTable[i].defaultText);
    setKeptLines("");
}

bool readSettingsLine(FILE* file, char* line, int lineSize, bool* cut) {
    *cut = false;
    if (std::fgets(line, lineSize, file) == nullptr) return false;
    const size_t length = std::strlen(line);
    if (length > 0 && line[length - 1] != '\n') {
        // The rest of a longer line belongs to this line, not to the next.
        for (int c; (c = std::fgetc(file)) != EOF && c != '\n';)
            if (c != '\r') *cut = true;
    }
    line[std::strcspn(line, "\r\n")] = '\0';
    return true;
}

void readSettingsStream(FILE* file) {
    char line[settingsLineSize];
    bool cut = false;
    for (int line1 = 1; line1 <= settingsLineCount; ++line1) {
        // A missing line leaves its field (and all later ones) as they are.
        if (!readSettingsLine(file, line, sizeof line, &cut)) {
            setKeptLines("");
            return;
        }
        settingsTable[settingOfLine(line1)].store(line);
    }
    char kept[keptLinesSize];
    TextBuilder keep(kept, sizeof kept);
    while (readSettingsLine(file, line, sizeof line, &cut)) {
        const char* equals = std::strchr(line, '=');
        const int index =
            equals == nullptr ? -1 : findSetting(line, static_cast<size_t>(equals - line));
        if (index >= 0 && isKeyedSetting(index)) {
            char reason[160];
            TextBuilder why(reason, sizeof reason);
            // A bad value keeps the default; the file check says why.
            if (checkSettingText(index, equals + 1, why)) settingsTable[index].store(equals + 1);
            continue;
        }
        // Another program's (or a later version's) line: written back as read.
        const size_t before = keep.length;
        keep.append(line);
        keep.append("\n");
        if (keep.overflow) {
            kept[before] = '\0';
            break;
        }
    }
    setKeptLines(kept);
}

FILE* openSettingsFile(const char* path, int* error) {
    *error = 0;
#ifdef _WIN32
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) *error = errno;
    return file;
#else
    // O_NONBLOCK: a FIFO must not hold the program in open(2).
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        *error = errno;
        return nullptr;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        close(fd);
        *error = S_ISDIR(status.st_mode) ? EISDIR : settingsNotRegularFile;
        return nullptr;
    }
    FILE* file = fdopen(fd, "r");
    if (file == nullptr) {
        *error = errno;
        close(fd);
    }
    return file;
#endif
}

const char* settingsOpenReason(int error) {
    if (error == settingsNotRegularFile) return "it is not a regular file (a FIFO or a device)";
    return std::strerror(error);
}

void readSettingsFile(const char* path) {
    int error = 0;
    FILE* file = openSettingsFile(path, &error);
    if (file == nullptr) return;
    readSettingsStream(file);
    std::fclose(file);
}

void appendSettingValue(TextBuilder& out, int index) {
    settingsTable[index].format(out);
}

int formatSettingsText(char* text, size_t size) {
    TextBuilder out(text, size);
    for (int index = 0; index < settingsRowCount; ++index) {
        const SettingRow& row = settingsTable[index];
        // Keyed settings only when set, so that a file of defaults is eleven lines.
        if (row.line == 0 && settingAtDefault(index)) continue;
        if (row.line == 0) {
            out.append(row.name);
            out.append("=");
        }
        row.format(out);
        out.append("\n");
    }
    char kept[keptLinesSize];
    getKeptLines(kept, sizeof kept);
    out.append(kept);
    return out.overflow ? -1 : static_cast<int>(out.length);
}

bool writeSettingsFile(const char* path) {
    char text[settingsTextSize];
    if (formatSettingsText(text, sizeof text) < 0) return false;
    // Text mode: on Windows every "\n" is stored as CR LF.
    FILE* file = std::fopen(path, "w");
    if (file == nullptr) return false;
    const bool written = std::fputs(text, file) >= 0;
    return std::fclose(file) == 0 && written;
}

SystemResult writeSettingsFileAtomically(const char* path) {
    char text[settingsTextSize];
    const int length = formatSettingsText(text, sizeof text);
    if (length < 0) {
        SystemResult result{false, 0, ""};
        copyText(result.reason, sizeof result.reason, "the settings do not fit the file's buffer");
        return result;
    }
    return replaceFileText(path, text, static_cast<size_t>(length));
}

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

char keptLines[keptLinesSize];
int keptLost = 0;          // unknown lines of the last read that did not fit
int keptFirstLostLine = 0; // the line number of the first of them

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
void getDsuAddress(char* out) {
    getText(out, dsuAddressSize, settings.dsuAddress);
}
void setDsuAddress(const char* text) {
    setText(settings.dsuAddress, dsuAddressSize, text);
}
void getButtonLine(int button, char* out) {
    getText(out, buttonActionsSize, settings.buttonLines[button]);
}
void setButtonLine(int button, const char* text) {
    setText(settings.buttonLines[button], buttonActionsSize, text);
}
void getFlickLine(int flick, char* out) {
    getText(out, buttonActionsSize, settings.flickLines[flick]);
}
void setFlickLine(int flick, const char* text) {
    setText(settings.flickLines[flick], buttonActionsSize, text);
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
void getComDevice(char* out) {
    getText(out, comDeviceSize, settings.comDevice);
}
void setComDevice(const char* text) {
    setText(settings.comDevice, comDeviceSize, text);
}
void getSerialDeviceName(char* out) {
    std::lock_guard<std::mutex> guard(textLock);
    copyText(out, comDeviceSize,
             settings.comDevice[0] != '\0' ? settings.comDevice : settings.comPort);
}
void getKeptLines(char* out, size_t size) {
    getText(out, size, keptLines);
}
void setKeptLines(const char* lines) {
    std::lock_guard<std::mutex> guard(textLock);
    copyText(keptLines, keptLinesSize, lines);
    keptLost = keptFirstLostLine = 0;
}
int lostKeptLines(int* firstLine) {
    std::lock_guard<std::mutex> guard(textLock);
    if (firstLine != nullptr) *firstLine = keptFirstLostLine;
    return keptLost;
}

void setDefaults() {
    for (int i = 0; i < settingsRowCount; ++i)
        settingsTable[i].store(settingsTable[i].defaultText);
    setKeptLines("");
}

bool readSettingsLine(FILE* file, char* line, int lineSize, bool* cut, bool* nul) {
    *cut = false;
    // Byte by byte up to the line feed: a NUL byte is part of the line, so it
    // can neither end the line early nor make the next line part of this one.
    int length = 0;
    int c = EOF;
    bool any = false;
    while ((c = std::getc(file)) != EOF) {
        any = true;
        if (c == '\n') break;
        if (length < lineSize - 1)
            line[length++] = static_cast<char>(c);
        else if (c != '\r')
            *cut = true; // the rest of a longer line belongs to this line
    }
    if (!any) return false;
    line[length] = '\0';
    // The text ends at the first carriage return, line feed or NUL.
    const size_t text = std::strcspn(line, "\r\n");
    if (nul != nullptr) *nul = static_cast<int>(text) < length && line[text] == '\0';
    line[text] = '\0';
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
    int lost = 0;
    int firstLost = 0;
    for (int number = settingsLineCount + 1; readSettingsLine(file, line, sizeof line, &cut);
         ++number) {
        const char* equals = std::strchr(line, '=');
        const int index =
            equals == nullptr ? -1 : findSetting(line, static_cast<size_t>(equals - line));
        if (index >= 0 && isKeyedSetting(index)) {
            char reason[160];
            TextBuilder why(reason, sizeof reason);
            // A bad value keeps the default; the file check says why. So does
            // a cut one: its end (a port, say) is not what was written.
            if (!cut && checkSettingText(index, equals + 1, why))
                settingsTable[index].store(equals + 1);
            continue;
        }
        // Another program's (or a later version's) line: written back as read.
        const size_t before = keep.length;
        if (lost == 0) {
            keep.append(line);
            keep.append("\n");
        }
        if (lost > 0 || keep.overflow) {
            // Counted, so that no writer drops them without a word.
            kept[before] = '\0';
            keep.length = before;
            if (lost++ == 0) firstLost = number;
        }
    }
    setKeptLines(kept);
    std::lock_guard<std::mutex> guard(textLock);
    keptLost = lost;
    keptFirstLostLine = firstLost;
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

void appendSettingAsTyped(TextBuilder& out, int index) {
    if (settingsTable[index].kind == SettingKind::preset) {
        const int32_t mode = settings.deviceMode.load();
        if (mode == devicePresetC || mode == devicePresetB) {
            out.append(mode == devicePresetC ? "C" : "B");
            return;
        }
    }
    appendSettingValue(out, index);
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
    {
        std::lock_guard<std::mutex> guard(textLock);
        if (keptLost > 0) return -1;
        out.append(keptLines);
    }
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
    int firstLost = 0;
    if (const int lost = lostKeptLines(&firstLost); lost > 0) {
        // Writing would drop them; the person decides what goes.
        SystemResult result{false, 0, ""};
        TextBuilder why(result.reason, sizeof result.reason);
        why.append("it holds more lines that are no setting of this version than it can keep (");
        why.appendInteger(keptLinesSize / 1024);
        why.append(" KiB of them): the ");
        why.appendInteger(lost);
        why.append(lost == 1 ? " line from line " : " lines from line ");
        why.appendInteger(firstLost);
        why.append(" on would be lost; move them to another file or remove them");
        return result;
    }
    const int length = formatSettingsText(text, sizeof text);
    if (length < 0) {
        SystemResult result{false, 0, ""};
        copyText(result.reason, sizeof result.reason, "the settings do not fit the file's buffer");
        return result;
    }
    return replaceFileText(path, text, static_cast<size_t>(length));
}

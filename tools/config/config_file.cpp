#include "tools/config/config.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "settings/settings.h"
#include "settings/settings_check.h"
#include "settings/settings_table.h"
#include "text/command_line.h"
#include "tools/config/console_text.h"

FileState readSettingsForTool(const char* path, std::string* firstLine) {
    setDefaults();
    int error = 0;
    FILE* file = openSettingsFile(path, &error);
    if (file == nullptr) {
        if (error == ENOENT) return FileState::missing;
        std::fprintf(stderr, "%s: cannot read %s: %s\n", configProgram, path,
                     settingsOpenReason(error));
        return FileState::unreadable;
    }
    char line[settingsLineSize] = "";
    bool cut = false;
    if (!readSettingsLine(file, line, sizeof line, &cut)) line[0] = '\0';
    *firstLine = line;
    if (!std::ferror(file)) {
        std::rewind(file);
        readSettingsStream(file);
    }
    const bool failed = std::ferror(file) != 0;
    error = errno;
    std::fclose(file);
    if (failed) {
        std::fprintf(stderr, "%s: cannot read %s: %s\n", configProgram, path, std::strerror(error));
        return FileState::unreadable;
    }
    return FileState::read;
}

void appendEscaped(std::string& out, const char* text) {
    for (const char* c = text; *c != '\0'; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (byte < 0x20 || byte == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", byte);
            out += hex;
        } else {
            out += *c;
        }
    }
}

std::string shownValue(int index) {
    char text[settingsLineSize + udpTargetSize];
    TextBuilder out(text, sizeof text);
    appendSettingAsTyped(out, index);
    std::string shown;
    appendEscaped(shown, text);
    return shown;
}

void noteFileOddities(const char* path, const std::string& firstLine, bool dropping) {
    // The file holds bare values; a heading or "name=value" shifts them all.
    if (!firstLine.empty() &&
        (firstLine[0] == '#' || firstLine[0] == ';' || firstLine.find('=') != std::string::npos)) {
        std::string shown;
        appendEscaped(shown, firstLine.c_str());
        std::fprintf(stderr,
                     "%s: note: the first line of %s, \"%s\", looks like a comment or "
                     "name=value; the file holds bare values, one per line, and the programs "
                     "take this line as the port name\n",
                     configProgram, path, shown.c_str());
    }
    // The check reads the file again; the settings it compares with are
    // those just read from it.
    SettingsFileCheck check;
    checkSettingsFile(path, &check);
    // With lines beyond the room kept for them, nothing is written back.
    const bool lost = lostKeptLines() > 0;
    for (int i = 0; i < check.findingCount; ++i) {
        const SettingsFinding& f = check.findings[i];
        std::string shown;
        appendEscaped(shown, f.text);
        if (f.issue == SettingsIssue::lineTooLong)
            std::fprintf(stderr,
                         "%s: note: line %d of %s is longer than 255 bytes; only its first 255 "
                         "bytes are read%s\n",
                         configProgram, f.line, path, dropping ? " and written back" : "");
        else if (f.issue == SettingsIssue::unknownLine)
            std::fprintf(stderr,
                         "%s: note: line %d of %s, \"%s\", is no setting of this version; it is "
                         "ignored%s\n",
                         configProgram, f.line, path, shown.c_str(),
                         !dropping ? " and kept"
                         : lost    ? ""
                                   : " and written back as it is");
        else if (f.issue == SettingsIssue::badValue)
            std::fprintf(stderr,
                         "%s: note: line %d of %s, \"%s\": the value %s, so the default "
                         "applies%s\n",
                         configProgram, f.line, path, shown.c_str(), f.reason,
                         dropping ? "; the line is dropped" : "");
        else if (f.issue == SettingsIssue::duplicateLine)
            std::fprintf(stderr,
                         "%s: note: line %d of %s, \"%s\", gives a setting that line %lld gave "
                         "already; the later line applies%s\n",
                         configProgram, f.line, path, shown.c_str(), f.value,
                         dropping ? " and is the one written back; the earlier is dropped" : "");
        else if (f.issue == SettingsIssue::nulByte)
            std::fprintf(stderr,
                         "%s: note: line %d of %s holds a NUL byte; only the text before it is "
                         "read%s\n",
                         configProgram, f.line, path, dropping ? " and written back" : "");
        else if (f.issue == SettingsIssue::portIsNumber && !dropping)
            std::fprintf(stderr, "%s: note: comPort %s is only a number: %s\n", configProgram,
                         shown.c_str(), portNameHint(shown.c_str()).c_str());
        else if (f.issue == SettingsIssue::keptLinesLost)
            std::fprintf(stderr,
                         "%s: note: from line %d of %s on, %lld lines that are no setting of "
                         "this version do not fit the %d KiB kept of such lines; the programs "
                         "ignore them%s\n",
                         configProgram, f.line, path, f.value, keptLinesSize / 1024,
                         dropping ? ", and the file is not written, which would lose them" : "");
    }
    if (check.findingsLeftOut > 0)
        std::fprintf(stderr, "%s: note: %d more notes about later lines of %s are not listed\n",
                     configProgram, check.findingsLeftOut, path);
}

std::string portNameHint(const char* digits) {
    char hint[200];
    TextBuilder out(hint, sizeof hint);
    appendPortNameHint(out, digits);
    return hint;
}

std::string escaped(const char* text) {
    std::string shown;
    appendEscaped(shown, text);
    return shown;
}

std::string quoteAdvice(const char* text) {
    const size_t length = std::strlen(text);
    if (length == 0 || (text[0] != '\'' && text[length - 1] != '\'')) return "";
#ifdef _WIN32
    return "; cmd passes single quotes on as part of the text: quote with double quotes, as in "
           "\"NAME=VALUE\"";
#else
    return "; the quote is part of the text here: quote the whole NAME=VALUE, or nothing";
#endif
}

int unknownSettingError(const char* name) {
    const std::string problem =
        "unknown setting '" + escaped(name) + "' (see the list in --help)" + quoteAdvice(name);
    return wrappedUsageError(problem.c_str());
}

int wrappedUsageError(const char* problem) {
    const std::string line = std::string(configProgram) + ": " + problem;
    writeWrapped(stderr, line.c_str(), 0, 4);
    std::fprintf(stderr, "Try '%s --help'.\n", configProgram);
    return usageErrorStatus;
}

bool isButtonSetting(const SettingRow& row) {
    return row.kind == SettingKind::buttonLine || std::strcmp(row.name, "buttonPreset") == 0;
}

std::string buttonsWaitingForClient() {
    if (settings.deviceMode.load() != devicePresetC || settings.lanEnabled.load() == 0) return "";
    std::string names;
    for (int i = 0; i < settingsRowCount; ++i)
        if (isButtonSetting(settingsTable[i]) && !settingAtDefault(i))
            names += (names.empty() ? "" : ", ") + std::string(settingsTable[i].name);
    if (names.empty()) return "";
    return names + (names.find(',') == std::string::npos ? " acts" : " act") +
           " only while a LAN client asks for lines: with the LAN server on under preset C the "
           "device is read only when a client asks, so a press between its requests goes "
           "unseen (with lanEnabled=0 the device is read all the time)";
}

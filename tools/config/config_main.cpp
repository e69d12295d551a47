// tolvane-config: reads and changes "tolv.conf" without an editor, and lists
// the serial ports. "set" goes through the settings dialog's own form logic,
// so that the tool and the dialog can never disagree about a value.
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/settings_form.h"
#include "settings/settings.h"
#include "settings/settings_check.h"
#include "text/command_line.h"
#include "text/help_examples.h"
#include "text/number_text.h"
#include "tools/config/config_check.h"
#include "tools/config/console_text.h"
#include "tools/config/serial_ports.h"

namespace {

const char program[] = "tolvane-config";

const char usage[] =
    "usage: tolvane-config [--file PATH] show [NAME...]\n"
    "       tolvane-config [--file PATH] set NAME=VALUE...\n"
    "       tolvane-config ports\n"
    "       tolvane-config [--file PATH] check\n"
    "\n"
    "Reads and changes the bridge's settings file (\"tolv.conf\" in the working\n"
    "folder) without an editor, and lists the serial ports.\n"
    "\n"
    "  show              every setting with its value and what it means; with\n"
    "                    NAMEs, only their values, one per line\n"
    "  set NAME=VALUE... changes settings as the settings dialog does (values out\n"
    "                    of range are brought into it) and replaces the file in one\n"
    "                    step; prints each change\n"
    "  ports             the serial ports present, with what is known about each\n"
    "  check             what the bridge would make of the settings: the file read,\n"
    "                    the values in effect, warnings, whether the serial port\n"
    "                    opens (and why not), whether the LAN port is free\n"
    "\n"
    "  -f, --file PATH   work on PATH instead of ./tolv.conf\n"
    "  -h, --help        this text\n"
    "      --version     the program's version\n"
    "\n"
    "Settings (NAME=VALUE):\n"
    "  comPort=NAME            serial port: ttyUSB0 or /dev/ttyACM0 (Linux), COM3\n"
    "                          (Windows); at most 31 characters\n"
    "  screenDistance=X        air mouse: virtual screen distance in screen widths,\n"
    "                          0.1 to 10\n"
    "  scrollSpeed=N           air mouse: wheel step while a wheel button is held,\n"
    "                          1 to 64\n"
    "  mouseAveraging=N        air mouse: samples averaged, 1 to 255\n"
    "  lanAveraging=N          LAN replies: samples averaged, 1 to 255\n"
    "  lanPort=N               TCP port of the LAN server (the usual one is 8096)\n"
    "  mouseEnabled=0|1        air mouse off or on\n"
    "  deviceMode=C|B          device preset: C polled (the LAN server can run),\n"
    "                          B streaming (no LAN server)\n"
    "  lanEnabled=0|1          LAN server off or on (only with preset C)\n"
    "  webSocketEnabled=0|1    the LAN server speaks plain text (0) or WebSocket (1)\n"
    "  accelerationOutput=0|1  d values are angles in degrees (0) or the averaged\n"
    "                          acceleration (1)\n"
    "\n"
    "Examples:\n"
    "  tolvane-config ports\n"
    "  tolvane-config set comPort=" TOLVANE_EXAMPLE_PORT " deviceMode=C lanEnabled=1\n"
    "  tolvane-config set webSocketEnabled=1\n"
    "  tolvane-config check\n"
    "  tolvane-config --file " TOLVANE_EXAMPLE_SETTINGS " show\n"
    "\n"
    "Exit status: 0 done, 1 the file could not be read or written (or no serial\n"
    "port was found; for check, the port does not open or the LAN port is\n"
    "taken), 2 a usage error (nothing was written).\n";

enum class ValueKind { text, decimal, integer, flag, preset, outputKind };

struct SettingName {
    const char* name;
    int control; // the dialog control that holds it (for the radio pairs, one of them)
    ValueKind kind;
};

// In the file's order, under the names the bridge's notes use.
constexpr SettingName settingNames[] = {
    {settingsFieldNames[0], idComPort, ValueKind::text},
    {settingsFieldNames[1], idScreenDistance, ValueKind::decimal},
    {settingsFieldNames[2], idScrollSpeed, ValueKind::integer},
    {settingsFieldNames[3], idMouseAveraging, ValueKind::integer},
    {settingsFieldNames[4], idLanAveraging, ValueKind::integer},
    {settingsFieldNames[5], idLanPort, ValueKind::integer},
    {settingsFieldNames[6], idMouseEnabled, ValueKind::flag},
    {settingsFieldNames[7], idPresetB, ValueKind::preset},
    {settingsFieldNames[8], idLanEnabled, ValueKind::flag},
    {settingsFieldNames[9], idWebSocketEnabled, ValueKind::flag},
    {settingsFieldNames[10], idAccelerationOutput, ValueKind::outputKind},
};
constexpr int settingCount = sizeof settingNames / sizeof settingNames[0];
static_assert(settingCount == settingsFieldCount);

int settingIndex(const char* name, size_t length) {
    for (int i = 0; i < settingCount; ++i)
        if (std::strlen(settingNames[i].name) == length &&
            std::strncmp(settingNames[i].name, name, length) == 0)
            return i;
    return -1;
}

// The eleven values as the file holds them, one text each.
std::vector<std::string> fileValues() {
    char text[512];
    formatSettingsText(text, sizeof text);
    std::vector<std::string> values;
    for (const char* line = text; *line != '\0';) {
        const char* end = std::strchr(line, '\n');
        values.emplace_back(line, end - line);
        line = end + 1;
    }
    return values;
}

// What a value means for the bridge, in a few words.
std::string meaning(int index) {
    const int32_t mode = settings.deviceMode;
    switch (index) {
    case 0:
#ifdef _WIN32
        return "serial port of the device";
#else
        return "serial port of the device (a name without \"/\" is looked up in /dev)";
#endif
    case 1:
        return "air mouse: virtual screen distance, in screen widths (0.1 to 10)";
    case 2:
        return "air mouse: wheel step per sample while a wheel button is held (1 to 64)";
    case 3:
        return "air mouse: samples averaged (1 to 255)";
    case 4:
        return "LAN replies: samples averaged (1 to 255)";
    case 5: {
        const auto port = static_cast<uint16_t>(static_cast<uint32_t>(settings.lanPort.load()));
        std::string text = "TCP port of the LAN server";
        if (settings.lanPort != port)
            text += port == 0 ? " (its low 16 bits are 0: no port, the server cannot open)"
                              : " (it listens on " + std::to_string(port) + ", the low 16 bits)";
        return text;
    }
    case 6:
        return settings.mouseEnabled != 0 ? "air mouse on" : "air mouse off";
    case 7:
        if (mode == devicePresetC) return "device preset C: polled, the LAN server can run";
        if (mode == devicePresetB) return "device preset B: the device streams, no LAN server";
        return "no preset chosen yet: polled as C, but no LAN server (set deviceMode=C)";
    case 8:
        if (settings.lanEnabled == 0) return "LAN server off";
        return mode == devicePresetC ? "LAN server on"
                                     : "LAN server on, but it runs only with preset C";
    case 9:
        return settings.webSocketEnabled != 0 ? "the LAN server speaks WebSocket"
                                              : "the LAN server speaks plain text";
    default:
        return settings.accelerationOutput != 0 ? "d values: the averaged acceleration"
                                                : "d values: angles in degrees";
    }
}

enum class FileState { read, missing, unreadable };

// Reads the settings as the bridge does; a file that exists but cannot be
// read is an error here (writing over it would lose it).
FileState readSettings(const char* path, std::string* firstLine) {
    setDefaults();
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) {
        if (errno == ENOENT) return FileState::missing;
        std::fprintf(stderr, "%s: cannot read %s: %s\n", program, path, std::strerror(errno));
        return FileState::unreadable;
    }
    char line[256] = "";
    if (std::fgets(line, sizeof line, file) == nullptr) line[0] = '\0';
    line[std::strcspn(line, "\r\n")] = '\0';
    *firstLine = line;
    if (!std::ferror(file)) {
        std::rewind(file);
        readSettingsStream(file);
    }
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) {
        std::fprintf(stderr, "%s: cannot read %s: %s\n", program, path, std::strerror(error));
        return FileState::unreadable;
    }
    return FileState::read;
}

// The file holds bare values; a heading or "name=value" shifts them all.
void noteOddFirstLine(const char* path, const std::string& firstLine) {
    if (firstLine.empty() ||
        (firstLine[0] != '#' && firstLine[0] != ';' && firstLine.find('=') == std::string::npos))
        return;
    std::fprintf(stderr,
                 "%s: note: the first line of %s, \"%s\", looks like a comment or name=value; "
                 "the file holds bare values, one per line, and the programs take this line as "
                 "the port name\n",
                 program, path, firstLine.c_str());
}

int show(const char* path, char** names, int nameCount) {
    std::string firstLine;
    const FileState state = readSettings(path, &firstLine);
    if (state == FileState::unreadable) return 1;
    const std::vector<std::string> values = fileValues();

    if (nameCount > 0) {
        for (int n = 0; n < nameCount; ++n)
            if (settingIndex(names[n], std::strlen(names[n])) < 0)
                return usageError(program, "unknown setting '%s'", names[n]);
        for (int n = 0; n < nameCount; ++n)
            std::printf(
                "%s\n",
                values[static_cast<size_t>(settingIndex(names[n], std::strlen(names[n])))].c_str());
        return 0;
    }

    if (state == FileState::missing)
        std::fprintf(stderr, "%s: %s does not exist; these are the defaults the programs use\n",
                     program, path);
    else
        noteOddFirstLine(path, firstLine);
    size_t width = 0;
    for (const std::string& v : values)
        width = v.size() > width ? v.size() : width;
    // The meanings broken for an 80-column console, under their own column.
    const int meaningColumn = 19 + 1 + static_cast<int>(width) + 2;
    for (int i = 0; i < settingCount; ++i) {
        std::printf("%-19s %-*s  ", settingNames[i].name, static_cast<int>(width),
                    values[static_cast<size_t>(i)].c_str());
        writeWrapped(stdout, meaning(i).c_str(), meaningColumn, meaningColumn);
    }
    return 0;
}

struct Assignment {
    int index;
    const char* value;
    int64_t number; // integers and flags, as given
};

bool isOneOf(const char* text, const char* a, const char* b) {
    return std::strcmp(text, a) == 0 || std::strcmp(text, b) == 0;
}

// Checks one NAME=VALUE; a value the dialog could not hold is a usage error.
bool parseAssignment(const char* text, Assignment* a) {
    const char* equals = std::strchr(text, '=');
    if (equals == nullptr) {
        usageError(program, "'%s' is not NAME=VALUE", text);
        return false;
    }
    a->index = settingIndex(text, static_cast<size_t>(equals - text));
    a->value = equals + 1;
    a->number = 0;
    if (a->index < 0) {
        usageError(program, "unknown setting '%.*s' (see the list in --help)",
                   static_cast<int>(equals - text), text);
        return false;
    }
    const char* name = settingNames[a->index].name;
    const char* v = a->value;
    if (std::strlen(v) >= formTextSize) {
        usageError(program, "%s: '%s' is longer than %d characters%s", name, v, formTextSize - 1,
                   a->index == 0 ? " (use the short name, for example ttyUSB0)" : "");
        return false;
    }
    double decimal = 0.0;
    switch (settingNames[a->index].kind) {
    case ValueKind::text:
        for (const char* c = v; *c != '\0'; ++c)
            if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F) {
                usageError(program, "%s: the name holds a control character", name);
                return false;
            }
        return true;
    case ValueKind::decimal:
        if (parseDecimalNumber(v, -1e30, 1e30, &decimal)) return true;
        usageError(program, "%s: '%s' is not a number", name, v);
        return false;
    case ValueKind::integer:
        if (parseWholeNumber(v, INT32_MIN, INT32_MAX, &a->number)) return true;
        usageError(program, "%s: '%s' is not a whole number", name, v);
        return false;
    case ValueKind::flag:
    case ValueKind::outputKind:
        if (isOneOf(v, "0", "off") || isOneOf(v, "1", "on")) {
            a->number = isOneOf(v, "1", "on") ? 1 : 0;
            return true;
        }
        usageError(program, "%s: '%s' is neither 0 nor 1", name, v);
        return false;
    case ValueKind::preset:
        if (isOneOf(v, "C", "c") || std::strcmp(v, "0") == 0) {
            a->number = devicePresetC;
            return true;
        }
        if (isOneOf(v, "B", "b") || std::strcmp(v, "1") == 0) {
            a->number = devicePresetB;
            return true;
        }
        usageError(program, "%s: '%s' is no preset: C (or 0) polled, B (or 1) streaming", name, v);
        return false;
    }
    return false;
}

bool checked(const SettingsForm& form, int id) {
    return findFormControl(form, id)->checked;
}

bool enabled(const SettingsForm& form, int id) {
    return findFormControl(form, id)->enabled;
}

// A click as the dialog sees it: the button changes, then its rule runs.
void click(SettingsForm& form, int id) {
    toggleFormControl(form, id);
    applyEnablingRule(form, id);
}

// Fills the form as a user would: types the edits, then clicks the switches
// whose state changes. Preset C goes first, because it enables the LAN
// switch; preset B goes last, because it disables it. A LAN switch that
// changes while preset B stays is reached the way a user reaches it: preset
// C, the switch, preset B again.
void fillForm(SettingsForm& form, const std::vector<Assignment>& assignments) {
    bool want[4] = {checked(form, idMouseEnabled), checked(form, idLanEnabled),
                    checked(form, idWebSocketEnabled), checked(form, idAccelerationOutput)};
    const int switches[4] = {idMouseEnabled, idLanEnabled, idWebSocketEnabled,
                             idAccelerationOutput};
    bool wantB = checked(form, idPresetB);
    for (const Assignment& a : assignments) {
        const SettingName& s = settingNames[a.index];
        if (s.kind == ValueKind::preset) {
            wantB = a.number == devicePresetB;
        } else if (s.kind == ValueKind::flag || s.kind == ValueKind::outputKind) {
            for (int k = 0; k < 4; ++k)
                if (switches[k] == s.control) want[k] = a.number != 0;
        } else {
            copyText(findFormControl(form, s.control)->text, formTextSize, a.value);
        }
    }
    const bool lanChanges =
        want[1] != checked(form, idLanEnabled) || want[2] != checked(form, idWebSocketEnabled);
    if (checked(form, idPresetB) && (!wantB || lanChanges)) click(form, idPresetC);
    for (int k = 0; k < 4; ++k) {
        if (want[k] == checked(form, switches[k])) continue;
        // The output kind is a radio pair: the user clicks the other button.
        if (switches[k] == idAccelerationOutput)
            click(form, want[k] ? idAccelerationOutput : idRotationOutput);
        else
            click(form, switches[k]);
    }
    if (wantB && !checked(form, idPresetB)) click(form, idPresetB);
}

// Values that are saved but will not act, because their control ended up
// disabled (the dialog greys them out), one line per reason.
void noteDisabled(const SettingsForm& form, const std::vector<Assignment>& assignments) {
    const char* reasons[3] = {
        "while the air mouse is off (mouseEnabled=0)",
        "under device preset B: the LAN server runs only with preset C (deviceMode=C)",
        "while the LAN server is off (lanEnabled=0)"};
    std::string names[3];
    int counts[3] = {0, 0, 0};
    auto add = [&](int reason, const char* name) {
        if (names[reason].find(name) != std::string::npos) return;
        names[reason] += (names[reason].empty() ? "" : ", ") + std::string(name);
        ++counts[reason];
    };
    for (const Assignment& a : assignments) {
        const SettingName& s = settingNames[a.index];
        if (s.kind == ValueKind::outputKind) continue;
        if (s.kind == ValueKind::preset) {
            // Choosing preset B leaves a LAN server that was on without effect.
            if (checked(form, idPresetB) && checked(form, idLanEnabled)) add(1, "lanEnabled");
            continue;
        }
        if (enabled(form, s.control)) continue;
        if (s.control == idScreenDistance || s.control == idScrollSpeed ||
            s.control == idMouseAveraging)
            add(0, s.name);
        else
            add(checked(form, idPresetB) ? 1 : 2, s.name);
    }
    for (int r = 0; r < 3; ++r)
        if (!names[r].empty())
            std::fprintf(stderr, "%s: note: %s %s saved but %s no effect %s\n", program,
                         names[r].c_str(), counts[r] == 1 ? "is" : "are",
                         counts[r] == 1 ? "has" : "have", reasons[r]);
}

// Values the dialog's ranges changed, and a LAN port that wraps.
void noteAdjusted(const Assignment& a, const std::vector<std::string>& after) {
    const SettingName& s = settingNames[a.index];
    const std::string& stored = after[static_cast<size_t>(a.index)];
    if (s.kind == ValueKind::decimal) {
        float typed = 0.0f;
        scanFloat(a.value, &typed);
        if (typed != settings.screenDistance)
            std::fprintf(stderr, "%s: note: %s %s is outside 0.1 to 10; saved as %s\n", program,
                         s.name, a.value, stored.c_str());
    } else if (s.kind == ValueKind::integer && s.control != idLanPort) {
        if (std::to_string(a.number) != stored)
            std::fprintf(stderr, "%s: note: %s %s is outside %s; saved as %s\n", program, s.name,
                         a.value, s.control == idScrollSpeed ? "1 to 64" : "1 to 255",
                         stored.c_str());
    } else if (s.control == idLanPort && (a.number < 1 || a.number > 65535)) {
        const auto port = static_cast<uint16_t>(static_cast<uint32_t>(a.number));
        if (port == 0)
            std::fprintf(stderr,
                         "%s: note: lanPort %s is saved as given, but its low 16 bits are 0: "
                         "the server would listen on a port the system picks\n",
                         program, a.value);
        else
            std::fprintf(stderr,
                         "%s: note: lanPort %s is saved as given (as the dialog does); the "
                         "server listens on port %u, its low 16 bits\n",
                         program, a.value, static_cast<unsigned>(port));
    }
}

int set(const char* path, char** arguments, int count) {
    if (count == 0) return usageError(program, "set needs at least one NAME=VALUE");
    std::vector<Assignment> assignments;
    for (int n = 0; n < count; ++n) {
        Assignment a{};
        if (!parseAssignment(arguments[n], &a)) return usageErrorStatus;
        assignments.push_back(a);
    }

    std::string firstLine;
    const FileState state = readSettings(path, &firstLine);
    if (state == FileState::unreadable) return 1;
    if (state == FileState::read) noteOddFirstLine(path, firstLine);
    const std::vector<std::string> before = fileValues();

    SettingsForm form;
    initSettingsForm(form);
    fillForm(form, assignments);
    applySettingsForm(form);

    char reason[256] = "";
    if (!writeSettingsFileAtomically(path, reason, sizeof reason)) {
        std::fprintf(stderr, "%s: %s was not written: %s\n", program, path, reason);
        return 1;
    }

    const std::vector<std::string> after = fileValues();
    for (const Assignment& a : assignments)
        noteAdjusted(a, after);
    noteDisabled(form, assignments);

    if (state == FileState::missing) std::printf("created %s\n", path);
    bool changed = false;
    for (int i = 0; i < settingCount; ++i) {
        const auto k = static_cast<size_t>(i);
        if (before[k] == after[k]) continue;
        std::printf("%s: %s -> %s\n", settingNames[i].name, before[k].c_str(), after[k].c_str());
        changed = true;
    }
    if (!changed && state == FileState::read) std::printf("no setting changed\n");
    return 0;
}

int ports(const std::string& systemRoot) {
    const std::vector<SerialPortInfo> found = listSerialPorts(systemRoot);
    if (found.empty()) {
        std::fprintf(stderr,
                     "%s: no serial ports found. Is the device plugged in and switched on?"
#ifndef _WIN32
                     " 'sudo dmesg | tail' shows whether the system saw it."
#endif
                     "\n",
                     program);
        return 1;
    }
    for (const SerialPortInfo& port : found) {
        std::printf("%s  (comPort=%s)\n", port.path.c_str(), port.name.c_str());
        for (const std::string& line : port.details)
            std::printf("    %s\n", line.c_str());
        if (!port.accessProblem.empty()) std::printf("    %s\n", port.accessProblem.c_str());
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const char* path = settingsFileName;
    std::string systemRoot; // for tests: a fake tree with sys/ and dev/
    enum { versionOption = 256, systemRootOption };
    const option options[] = {
        {"file", required_argument, nullptr, 'f'},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, versionOption},
        {"system-root", required_argument, nullptr, systemRootOption},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int c;
    for (int previous = optind; (c = getopt_long(argc, argv, ":f:h", options, nullptr)) != -1;
         previous = optind) {
        switch (c) {
        case 'f':
            if (optarg[0] == '\0') return usageError(program, "--file needs a path");
            path = optarg;
            break;
        case 'h':
            std::fputs(usage, stdout);
            return 0;
        case versionOption:
            return printVersion(program);
        case systemRootOption:
            systemRoot = optarg;
            break;
        default:
            return optionError(program, c, argc, argv, previous);
        }
    }
    if (optind >= argc) return usageError(program, "no command given (show, set, ports or check)");
    const char* command = argv[optind];
    char** rest = argv + optind + 1;
    const int restCount = argc - optind - 1;
    if (std::strcmp(command, "show") == 0) return show(path, rest, restCount);
    if (std::strcmp(command, "set") == 0) {
        const int status = set(path, rest, restCount);
        if (status == 0) noteWindowProgramAfterSet();
        return status;
    }
    if (std::strcmp(command, "check") == 0) {
        if (restCount > 0) return usageError(program, "check takes no arguments");
        return checkSettings(path);
    }
    if (std::strcmp(command, "ports") == 0) {
        if (restCount > 0) return usageError(program, "ports takes no arguments");
        return ports(systemRoot);
    }
    return usageError(program, "unknown command '%s' (show, set, ports or check)", command);
}

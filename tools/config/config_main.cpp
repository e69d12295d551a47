// tolvane-config: reads and changes "tolv.conf" without an editor, and lists
// the serial ports. The commands live in config_show.cpp and config_set.cpp.
#include <getopt.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "settings/settings_table.h"
#include "text/command_line.h"
#include "text/help_examples.h"
#include "tools/config/config.h"
#include "tools/config/config_check.h"
#include "tools/config/console_text.h"
#include "tools/config/serial_ports.h"

namespace {

const char* const program = configProgram;

const char usage[] =
    "usage: tolvane-config [--file PATH] show [NAME...]\n"
    "       tolvane-config [--file PATH] set NAME=VALUE...\n"
    "       tolvane-config ports\n"
    "       tolvane-config [--file PATH] check\n"
    "\n"
    "Reads and changes the bridge's settings file (\"tolv.conf\" in the working\n"
    "folder) without an editor, and lists the serial ports.\n"
    "\n"
    "  show              every setting with its value and what it means (the\n"
    "                    settings after the first eleven only when set); with\n"
    "                    NAMEs, only their values, one per line\n"
    "  set NAME=VALUE... changes settings as the settings dialog does (values out\n"
    "                    of range are brought into it) and replaces the file in one\n"
    "                    step; prints each change\n"
    "  ports             the serial ports present, with what is known about each\n"
    "  check             what the bridge would make of the settings: the file read,\n"
    "                    the values in effect, warnings, whether the serial port\n"
    "                    opens (and why not), whether the LAN port is free,\n"
    "                    whether the UDP target resolves and takes a datagram\n"
    "\n"
    "  -f, --file PATH   work on PATH instead of ./tolv.conf\n"
    "  -h, --help        this text\n"
    "      --version     the program's version\n"
    "\n"
    "Settings (NAME=VALUE):\n";

const char keyedNote[] =
    "\n"
    "The settings below are kept as NAME=VALUE lines after the eleventh, only\n"
    "when they differ from their defaults; a value out of range is refused.\n"
    "A button's line gives each press kind (press, long, double) one action: a\n"
    "key or chord (A-Z, 0-9, F1-F12, PageDown, PageUp, Home, End, Up, Down, Left,\n"
    "Right, Enter, Space, Esc, Tab, Backspace, Delete, Insert, Period, Comma, after\n"
    "Ctrl+, Shift+, Alt+ or Super+), LeftButton, RightButton, MiddleButton,\n"
    "WheelUp, WheelDown, or the bridge's Recenter, Clutch (toggles), AirMouse\n"
    "(pointing on or off), Precision (held on a short press, else it toggles) and\n"
    "Dwell (the dwell click off or on). Buttons: 0 left, 1 right, 2 wheel forward,\n"
    "3 wheel backward, 4 middle. Keys come only from the device's own buttons.\n";

const char examples[] =
    "\n"
    "Examples:\n"
    "  tolvane-config ports\n"
    "  tolvane-config set comPort=" TOLVANE_EXAMPLE_PORT " deviceMode=C lanEnabled=1\n"
    "  tolvane-config set webSocketEnabled=1\n"
    "  tolvane-config set mouseSmoothing=adaptive udpTarget=127.0.0.1:4242\n"
    "  tolvane-config set buttonPreset=presenter\n"
    "  tolvane-config set " TOLVANE_EXAMPLE_QUOTE
    "button2=press:PageDown long:Shift+F5 double:B" TOLVANE_EXAMPLE_QUOTE "\n"
    "  tolvane-config check\n"
    "  tolvane-config --file " TOLVANE_EXAMPLE_SETTINGS " show\n"
    "\n"
    "Exit status: 0 done, 1 the file could not be read or written (or no serial\n"
    "port was found; for check, the port does not open, the LAN port is\n"
    "taken or the UDP target does not resolve), 2 a usage error (nothing was\n"
    "written).\n";

} // namespace

void printSettingsHelp() {
    for (int i = 0; i < settingsRowCount; ++i) {
        const SettingRow& row = settingsTable[i];
        if (i == settingsLineCount) std::fputs(keyedNote, stdout);
        std::string head = std::string(row.name) + "=";
        switch (row.kind) {
        case SettingKind::text:
            head += "NAME";
            break;
        case SettingKind::decimal:
            head += "X";
            break;
        case SettingKind::integer:
            head += "N";
            break;
        case SettingKind::preset:
            head += "C|B";
            break;
        case SettingKind::choice:
            for (int w = 0; w < row.wordCount; ++w)
                head += std::string(w == 0 ? "" : "|") + row.words[w];
            break;
        case SettingKind::screenSize:
            head += "WxH";
            break;
        case SettingKind::screen:
            head += "primary|all|N";
            break;
        case SettingKind::address:
            head += "HOST:PORT";
            break;
        case SettingKind::ipv4:
            head += "A.B.C.D";
            break;
        case SettingKind::buttonLine:
            head += "KIND:ACTION...";
            break;
        case SettingKind::action:
            head += "ACTION";
            break;
        case SettingKind::flickWhen:
            head += "always|airmouse-off|held:N";
            break;
        case SettingKind::listenAddress:
            head += "ADDRESS";
            break;
        case SettingKind::originList:
            head += "ORIGIN,...";
            break;
        default:
            head += "0|1";
            break;
        }
        // The help text, wrapped at 79 columns under its own column.
        constexpr size_t column = 26;
        std::string line = "  " + head;
        line += line.size() + 1 < column ? std::string(column - line.size(), ' ')
                                         : "\n" + std::string(column, ' ');
        size_t lineStart = line.rfind('\n') == std::string::npos ? 0 : line.rfind('\n') + 1;
        for (const char* word = row.help; *word != '\0';) {
            const char* end = std::strchr(word, ' ');
            const size_t length =
                end == nullptr ? std::strlen(word) : static_cast<size_t>(end - word);
            const bool first = line.size() - lineStart == column;
            if (!first && line.size() - lineStart + 1 + length > 79) {
                line += "\n" + std::string(column, ' ');
                lineStart = line.size() - column;
            } else if (!first) {
                line += ' ';
            }
            line.append(word, length);
            word += length;
            while (*word == ' ')
                ++word;
        }
        std::printf("%s\n", line.c_str());
    }
}

namespace {

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
    for (size_t i = 0; i < found.size(); ++i) {
        const SerialPortInfo& port = found[i];
        std::printf("%s  (comPort=%s)\n", port.path.c_str(), port.name.c_str());
        for (const std::string& line : port.details)
            std::printf("    %s\n", line.c_str());
        if (const std::string choice = comDeviceChoice(found, i); !choice.empty())
            std::printf("    %s\n", choice.c_str());
        if (!port.accessProblem.empty()) std::printf("    %s\n", port.accessProblem.c_str());
    }
    return 0;
}

// What comes before the command.
struct ConfigOptions {
    const char* path = settingsFileName;
    std::string systemRoot; // for tests: a fake tree with sys/ and dev/
};

OptionsResult parseOptions(int argc, char** argv, ConfigOptions* o) {
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
            o->path = optarg;
            break;
        case 'h':
            std::fputs(usage, stdout);
            printSettingsHelp();
            std::fputs(examples, stdout);
            return 0;
        case versionOption:
            return printVersion(program);
        case systemRootOption:
            o->systemRoot = optarg;
            break;
        default:
            return optionError(program, c, argc, argv, previous);
        }
    }
    if (optind >= argc) return usageError(program, "no command given (show, set, ports or check)");
    return OptionsResult::run();
}

} // namespace

int main(int argc, char** argv) {
    ConfigOptions o;
    if (const OptionsResult read = parseOptions(argc, argv, &o); read.exitNow) return read.status;
    const char* path = o.path;
    const char* command = argv[optind];
    char** rest = argv + optind + 1;
    const int restCount = argc - optind - 1;
    if (std::strcmp(command, "show") == 0) return showSettings(path, rest, restCount);
    if (std::strcmp(command, "set") == 0) {
        const int status = setSettings(path, rest, restCount, o.systemRoot);
        if (status == 0) noteWindowProgramAfterSet(path);
        return status;
    }
    if (std::strcmp(command, "check") == 0) {
        if (restCount > 0) return usageError(program, "check takes no arguments");
        return checkSettings(path);
    }
    if (std::strcmp(command, "ports") == 0) {
        if (restCount > 0) return usageError(program, "ports takes no arguments");
        return ports(o.systemRoot);
    }
    return usageError(program, "unknown command '%s' (show, set, ports or check)",
                      escaped(command).c_str());
}

#include "app/headless/diagnostics.h"

#include <cstdint>
#include <cstring>

#include "app/headless/diagnostics_platform.h"
#include "device/serial_device.h"
#include "device/serial_port.h"
#include "settings/settings.h"
#include "settings/settings_check.h"
#include "settings/settings_table.h"
#include "text/listen_address.h"
#include "text/number_text.h"

namespace {

constexpr int noteSize = 1024; // the settings in effect, keyed ones included

// One note, begun with the program's name as every line on standard error is.
struct Note {
    char data[noteSize];
    TextBuilder text{data, sizeof data};
    explicit Note(const char* kind = "") {
        text.append("tolvane-headless: ");
        text.append(kind);
    }
};

uint16_t listenPortOf(int32_t lanPort) {
    return static_cast<uint16_t>(static_cast<uint32_t>(lanPort) & 0xFFFFu);
}

// The value in effect for the field of this line (1..11), as the file holds
// it; a port name that is empty or has blanks in quotes.
void appendSetting(TextBuilder& text, int line) {
    if (line == 1) {
        char port[comPortSize];
        getComPort(port);
        const bool quoted = port[0] == '\0' || std::strpbrk(port, " \t") != nullptr;
        if (quoted) text.append("\"");
        text.append(port);
        if (quoted) text.append("\"");
        return;
    }
    appendSettingAsTyped(text, settingOfLine(line));
}

void appendNameValue(TextBuilder& text, int line, long long value) {
    text.append(settingsTable[settingOfLine(line)].name);
    text.append("=");
    text.appendInteger(value);
}

void appendLineQuote(TextBuilder& text, const SettingsFileCheck& check, int line) {
    text.append("line ");
    text.appendInteger(line);
    text.append(" (");
    text.append(settingsTable[settingOfLine(line)].name);
    text.append(") reads \"");
    text.append(check.text[line - 1]);
    text.append("\"");
}

bool looksLikeComment(const char* text) {
    while (*text == ' ' || *text == '\t')
        ++text;
    return *text == '#' || *text == ';' || std::strncmp(text, "//", 2) == 0;
}

void appendWarning(TextBuilder& text, const SettingsFileCheck& check, const SettingsFinding& f,
                   bool* formatSaid) {
    const int line = f.line;
    switch (f.issue) {
    case SettingsIssue::namedLine:
        appendLineQuote(text, check, line);
        text.append(line == 1 ? ", taken as the port name" : ", which is no number");
        if (line == 1 && looksLikeComment(check.text[0]))
            text.append(", and each line after it is read as the setting after the one meant");
        if (!*formatSaid) {
            *formatSaid = true;
            text.append(": the file holds eleven bare values, one per line in a fixed order, "
                        "without names or comments; `tolvane-config set NAME=VALUE` writes it");
        }
        if (line != 1) {
            text.append("; ");
            text.append(settingsTable[settingOfLine(line)].name);
            text.append(" stays ");
            appendSetting(text, line);
        }
        break;
    case SettingsIssue::noNumber:
        appendLineQuote(text, check, line);
        text.append(", which is no number: ");
        text.append(settingsTable[settingOfLine(line)].name);
        text.append(" stays ");
        appendSetting(text, line);
        break;
    case SettingsIssue::missingLine:
        if (line == 1) {
            text.append("the settings file is empty: the defaults apply");
        } else {
            text.append("the settings file ends after line ");
            text.appendInteger(line - 1);
            text.append(": ");
            text.append(settingsTable[settingOfLine(line)].name);
            text.append(" and the settings after it keep their defaults");
        }
        break;
    case SettingsIssue::averagingOutside:
        appendNameValue(text, line, f.value);
        text.append(" is outside 1..255: the measurement averages over ");
        text.appendInteger(f.value < 1 ? 1 : 255);
        text.append(f.value < 1 ? " sample" : " samples");
        break;
    case SettingsIssue::flagNotBinary:
        appendNameValue(text, line, f.value);
        text.append(" is neither 0 nor 1: only its low 8 bits count, so it is ");
        text.append((f.value & 0xFF) != 0 ? "on" : "off");
        break;
    case SettingsIssue::lanPortWraps:
        appendNameValue(text, line, f.value);
        text.append(" is outside 1..65535: the LAN server listens on port ");
        text.appendInteger(listenPortOf(static_cast<int32_t>(f.value)));
        text.append(" (its low 16 bits)");
        break;
    case SettingsIssue::lanPortZero:
        appendNameValue(text, line, f.value);
        text.append(" is no port to listen on (its low 16 bits are 0): use 1 to 65535");
        break;
    case SettingsIssue::presetUnknown:
        appendNameValue(text, line, f.value);
        text.append(" is no preset (0 is C, 1 is B): the device is polled as in preset C, "
                    "but the LAN server does not run");
        break;
    case SettingsIssue::lanNeedsPresetC:
        text.append("lanEnabled is on, but deviceMode=");
        if (f.value == devicePresetB)
            text.append("B (the device streams)");
        else
            text.appendInteger(f.value);
        text.append(f.value == devicePresetUnset ? " (no preset chosen yet)" : "");
        text.append(": the LAN server only runs with preset C (deviceMode=C, the device "
                    "polled); set the device and deviceMode to preset C to use it");
        break;
    case SettingsIssue::lineTooLong:
        text.append("line ");
        text.appendInteger(line);
        text.append(" is longer than 255 bytes: only its first 255 bytes are read");
        break;
    case SettingsIssue::nulByte:
        text.append("line ");
        text.appendInteger(line);
        text.append(" holds a NUL byte: only the text before it is read (and written back)");
        break;
    case SettingsIssue::portIsNumber:
        text.append("comPort=");
        text.append(f.text);
        text.append(" is only a number: ");
        appendPortNameHint(text, f.text);
        break;
    case SettingsIssue::keptLinesLost:
        text.append("from line ");
        text.appendInteger(line);
        text.append(" on, ");
        text.appendInteger(f.value);
        text.append(f.value == 1 ? " line" : " lines");
        text.append(" that are no setting of this version do not fit the ");
        text.appendInteger(keptLinesSize / 1024);
        text.append(" KiB kept of such lines: the programs ignore them, and neither "
                    "`tolvane-config set` nor the settings dialog writes the file, which would "
                    "lose them; move them to another file or remove them");
        break;
    case SettingsIssue::unknownLine:
        text.append("line ");
        text.appendInteger(line);
        text.append(" reads \"");
        text.append(f.text);
        text.append("\", which is no setting of this version: it is ignored and kept when "
                    "the file is written (`tolvane-config --help` lists the settings)");
        break;
    case SettingsIssue::duplicateLine:
        text.append("line ");
        text.appendInteger(line);
        text.append(" reads \"");
        text.append(f.text);
        text.append("\", a setting that line ");
        text.appendInteger(f.value);
        text.append(" gave already: the later line applies, and a write of the file keeps "
                    "only it");
        break;
    case SettingsIssue::badValue:
        text.append("line ");
        text.appendInteger(line);
        text.append(" reads \"");
        text.append(f.text);
        text.append("\": the value ");
        text.append(f.reason);
        text.append(", so the default applies");
        break;
    }
}

// What the notes of the worker's messages remember; touched by the worker's
// thread only.
int serialErrorSaid = 0; // 0: nothing said since the last successful open
char serialPortSaid[comDeviceSize];
bool lanOpeningSaid = false;
int lanErrorSaid = 0; // 0: nothing said since the last successful open

char comDeviceFoundSaid[comDeviceSize + 8]; // the port comDevice was last said to be

// Which port comDevice's device is this time, said when that changes (after
// a replug under a new name, say).
void noteComDeviceFound(const char* name, NoteSink say) {
    char device[comDeviceSize];
    getComDevice(device);
    char path[comDeviceSize + 8];
    if (device[0] == '\0' || std::strcmp(device, name) != 0 ||
        !findSerialDevice(device, "", path, sizeof path) ||
        std::strcmp(path, comDeviceFoundSaid) == 0 || std::strcmp(path, device) == 0)
        return;
    copyText(comDeviceFoundSaid, sizeof comDeviceFoundSaid, path);
    Note note("the serial port comDevice=");
    note.text.append(device);
    note.text.append(" is ");
    note.text.append(path);
    say(note.data);
}

void noteSerialFailure(const char* port, const SystemResult& failure, NoteSink say) {
    if (failure.error == serialErrorSaid && std::strcmp(port, serialPortSaid) == 0) return;
    serialErrorSaid = failure.error;
    copyText(serialPortSaid, sizeof serialPortSaid, port);
    Note note;
    appendSerialOpenFailure(note.text, port, failure);
    say(note.data);
}

void noteLanOpening(NoteSink say) {
    const int32_t lanPort = settings.lanPort.load();
    char addressText[lanAddressSize];
    getLanAddress(addressText);
    Note note("LAN server: opening ");
    appendListenEndpoint(note.text, addressText, listenPortOf(lanPort));
    if (listenPortOf(lanPort) != lanPort) {
        note.text.append(" (lanPort ");
        note.text.appendInteger(lanPort);
        note.text.append(")");
    }
    ListenAddress address;
    if (addressText[0] == '\0' || !parseListenAddress(addressText, &address, nullptr))
        note.text.append(" on every IPv4 address of this machine");
    else
        note.text.append(lanAddressReach(address));
    note.text.append(", for one client at a time, ");
    note.text.append(settings.webSocketEnabled.load() != 0
                         ? "WebSocket dialect: a client sends \"D\" in a masked text frame and "
                           "gets one JSON text frame"
                         : "plain dialect: a client sends \"D\" and gets twelve comma-separated "
                           "values without a line end");
    char origins[webSocketOriginsSize];
    getWebSocketOrigins(origins);
    if (settings.webSocketEnabled.load() != 0 && origins[0] != '\0') {
        note.text.append("; web pages only from ");
        note.text.append(origins);
        note.text.append(" (webSocketOrigins; others get 403 Forbidden, programs that send no "
                         "Origin are served)");
    }
    say(note.data);
}

// Once per reason: a port in use fails the same way every three seconds.
void noteLanFailure(const WorkerEvent& event, NoteSink say) {
    const SystemResult& failure = event.lanResult;
    const int said = failure.error != 0 ? failure.error : -1;
    if (said == lanErrorSaid) return;
    lanErrorSaid = said;
    Note note("LAN server: ");
    note.text.append(failure.reason);
    appendLanOpenAdvice(note.text, failure, listenPortOf(event.lanPort));
    note.text.append(". The bridge tries again every three seconds");
    say(note.data);
}

// The texts stay as the log has always had them; these say what they mean.
void noteLanStop(const WorkerEvent& event, NoteSink say) {
    Note note("the log's \"OpenSocket port(");
    note.text.appendInteger(event.lanPort);
    note.text.append(") : error\" at this stop is no fault: the LAN server was waiting for a "
                     "client and none was connected");
    say(note.data);
}

void noteClientStop(NoteSink say) {
    say("tolvane-headless: the log's \"ReadSocket error\" at this stop is no fault: the bridge "
        "closed the LAN client's connection");
}

void noteSessionEnd(NoteSink say) {
    say("tolvane-headless: the log's \"ReadSocket error\" and \"Restart....\" here mean the LAN "
        "client ended its session (or its connection broke), the normal end when a client "
        "disconnects: the bridge opens the port and the LAN server again in three seconds for "
        "the next client");
}

} // namespace

const char* lanAddressReach(const ListenAddress& address) {
    if (isEveryAddress(address))
        return address.family == ListenFamily::ipv6
                   ? " (lanAddress): on every IPv6 and IPv4 address of this machine"
                   : " (lanAddress): on every IPv4 address of this machine";
    return isLoopbackAddress(address) ? " (lanAddress): loopback, for programs on this machine only"
                                      : " (lanAddress): for clients that reach this address only";
}

void appendReasonSentence(TextBuilder& text, const char* reason) {
    // A system's message may end its own sentence: "." or "。" (in UTF-8 or
    // in the Japanese code page) and a line end.
    size_t length = std::strlen(reason);
    for (;;) {
        const auto* end = reinterpret_cast<const unsigned char*>(reason) + length;
        if (length >= 1 && (end[-1] == '\r' || end[-1] == '\n' || end[-1] == ' ' || end[-1] == '.'))
            length -= 1;
        else if (length >= 3 && end[-3] == 0xE3 && end[-2] == 0x80 && end[-1] == 0x82)
            length -= 3;
#ifdef _WIN32
        else if (length >= 2 && end[-2] == 0x81 && end[-1] == 0x42)
            length -= 2;
#endif
        else
            break;
    }
    char shown[systemReasonSize];
    copyText(shown, length + 1 < sizeof shown ? length + 1 : sizeof shown, reason);
    text.append(shown);
}

void noteSettingsAtStart(const char* path, NoteSink say) {
    SettingsFileCheck check;
    checkSettingsFile(path, &check);
    {
        Note note;
        if (check.state == SettingsFileState::read) {
            note.text.append("settings read from ");
            appendAbsolutePath(note.text, path);
        } else if (check.state == SettingsFileState::missing) {
            note.text.append("no settings file ");
            appendAbsolutePath(note.text, path);
            note.text.append(": the defaults apply (`tolvane-config set NAME=VALUE` writes one)");
        } else {
            note.text.append("cannot read the settings file ");
            appendAbsolutePath(note.text, path);
            note.text.append(": ");
            note.text.append(settingsOpenReason(check.error));
            note.text.append(": the defaults apply");
        }
        say(note.data);
    }
    {
        Note note("settings in effect:");
        for (int line = 1; line <= settingsFieldCount; ++line) {
            note.text.append(" ");
            note.text.append(settingsTable[settingOfLine(line)].name);
            note.text.append("=");
            appendSetting(note.text, line);
        }
        // The keyed settings only when set: the defaults say nothing new.
        for (int i = settingsFieldCount; i < settingsRowCount; ++i) {
            if (settingAtDefault(i)) continue;
            note.text.append(" ");
            note.text.append(settingsTable[i].name);
            note.text.append("=");
            appendSettingValue(note.text, i);
        }
        say(note.data);
    }
    if (settings.deviceMode.load() == devicePresetUnset) {
        // The value of a file never confirmed in the settings dialog.
        say("tolvane-headless: deviceMode=2 means no preset chosen yet: the device is polled as "
            "with preset C, but the LAN server does not run even with lanEnabled=1 "
            "(`tolvane-config set deviceMode=C` or `deviceMode=B` chooses one)");
    }
    bool formatSaid = false;
    for (int i = 0; i < check.findingCount; ++i) {
        Note note("warning: ");
        appendWarning(note.text, check, check.findings[i], &formatSaid);
        say(note.data);
    }
    if (check.findingsLeftOut > 0) {
        Note note("warning: ");
        note.text.appendInteger(check.findingsLeftOut);
        note.text.append(" more warnings about later lines are not listed");
        say(note.data);
    }
    serialErrorSaid = 0;
    lanOpeningSaid = false;
    lanErrorSaid = 0;
}

void noteNoDisplay(bool recording, NoteSink say) {
    Note note("no display reachable, the air mouse moves nothing; ");
    char target[udpTargetSize];
    getUdpTarget(target);
    const char* going[4];
    int count = 0;
    if (settings.lanEnabled.load() != 0 && settings.deviceMode.load() == devicePresetC)
        going[count++] = "the LAN server";
    if (target[0] != '\0') going[count++] = "the UDP output";
    if (settings.dsuServer.load() == DsuServerSwitch::on) going[count++] = "the DSU server";
    if (recording) going[count++] = "the recording";
    for (int i = 0; i < count; ++i) {
        note.text.append(i == 0 ? "" : i + 1 == count ? " and " : ", ");
        note.text.append(going[i]);
    }
    note.text.append(count == 0   ? "no other output is on, so the device's lines go nowhere"
                     : count == 1 ? " goes on"
                                  : " go on");
    say(note.data);
}

void noteWorkerEvent(const WorkerEvent& event, NoteSink say) {
    if (event.stopping) {
        // A stop makes the open or read in progress fail: the log says
        // "error", which is no fault; say so once where it could mislead.
        if (event.kind == WorkerEventKind::lanOpen && !event.opened) noteLanStop(event, say);
        if (event.kind == WorkerEventKind::socketReadFailed) noteClientStop(say);
        return;
    }
    switch (event.kind) {
    case WorkerEventKind::serialOpen:
        if (!event.opened)
            noteSerialFailure(event.comPort, event.serialResult, say);
        else
            serialErrorSaid = 0; // a later failure is news again
        if (event.opened) noteComDeviceFound(event.comPort, say);
        break;
    case WorkerEventKind::featureEnabled:
        // Logged right before the worker opens the server, every cycle.
        if (event.feature == WorkerFeature::lan && !lanOpeningSaid) noteLanOpening(say);
        if (event.feature == WorkerFeature::lan) lanOpeningSaid = true;
        break;
    case WorkerEventKind::lanOpen:
        if (!event.opened)
            noteLanFailure(event, say);
        else
            lanErrorSaid = 0; // a later failure is news again
        break;
    case WorkerEventKind::socketReadFailed:
        if (event.clientConnected) noteSessionEnd(say);
        break;
    default:
        break;
    }
}

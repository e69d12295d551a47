// set: the eleven lines go through the settings dialog's own form logic, so
// that the tool and the dialog can never disagree about a value; the keyed
// settings are checked against their rows and refused when bad.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/settings_form.h"
#include "device/serial_device.h"
#include "settings/replace_file.h"
#include "settings/settings.h"
#include "settings/settings_check.h"
#include "settings/settings_table.h"
#include "text/command_line.h"
#include "tools/config/config.h"
#include "tools/config/config_check.h"

namespace {

const char* const setProgram = configProgram;

struct Assignment {
    int index; // the table's row
    const char* value;
    int64_t number; // integers and flags, as given
};

bool isOneOf(const char* text, const char* a, const char* b) {
    return std::strcmp(text, a) == 0 || std::strcmp(text, b) == 0;
}

size_t countCharacters(const char* text) {
    size_t count = 0;
    for (const char* c = text; *c != '\0'; ++c)
        if ((static_cast<unsigned char>(*c) & 0xC0) != 0x80) ++count; // UTF-8 lead bytes
    return count;
}

int controlOf(const Assignment& a) {
    return settingControl(settingsTable[a.index].line);
}

// A value the dialog could not hold, or a keyed value its row refuses, is a
// usage error.
bool parseAssignment(const char* text, Assignment* a) {
    const char* equals = std::strchr(text, '=');
    if (equals == nullptr) {
        usageError(setProgram, "'%s' is not NAME=VALUE%s", escaped(text).c_str(),
                   quoteAdvice(text).c_str());
        return false;
    }
    a->index = findSetting(text, static_cast<size_t>(equals - text));
    a->value = equals + 1;
    a->number = 0;
    if (a->index < 0) {
        unknownSettingError(std::string(text, equals).c_str());
        return false;
    }
    const SettingRow& row = settingsTable[a->index];
    const char* name = row.name;
    const char* v = a->value;
    const std::string shown = escaped(v);
    if (isKeyedSetting(a->index)) {
        char reason[512]; // a button's line lists the names it knows
        TextBuilder why(reason, sizeof reason);
        if (checkSettingText(a->index, v, why)) return true;
        // A button's reason begins with the word at fault, which may be all
        // of the value; the names it lists make a paragraph of it.
        std::string problem = std::string(name) + ": ";
        if ((row.kind != SettingKind::buttonLine && row.kind != SettingKind::action) ||
            reason[0] != '\'')
            problem += "'" + shown + "' ";
        problem += escaped(reason) + quoteAdvice(v);
        wrappedUsageError(problem.c_str());
        return false;
    }
    if (std::strlen(v) >= formTextSize) {
        const size_t characters = countCharacters(v);
        if (characters == std::strlen(v))
            usageError(setProgram, "%s: '%s' is longer than %d characters%s", name, shown.c_str(),
                       formTextSize - 1,
                       row.kind == SettingKind::text ? " (use the short name, for example ttyUSB0)"
                                                     : "");
        else
            usageError(setProgram, "%s: '%s' is %d characters in %d bytes; at most %d bytes fit",
                       name, shown.c_str(), static_cast<int>(characters),
                       static_cast<int>(std::strlen(v)), formTextSize - 1);
        return false;
    }
    double decimal = 0.0;
    switch (row.kind) {
    case SettingKind::text:
        for (const char* c = v; *c != '\0'; ++c)
            if (static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F) {
                usageError(setProgram, "%s: the name holds a control character", name);
                return false;
            }
        if (*v == '\0') {
            usageError(setProgram,
                       "%s: an empty name opens no port (give one, for example ttyUSB0)", name);
            return false;
        }
        return true;
    case SettingKind::decimal:
        if (parseDecimalNumber(v, -1e30, 1e30, &decimal)) return true;
        usageError(setProgram, "%s: '%s' is not a number", name, shown.c_str());
        return false;
    case SettingKind::integer:
        if (parseWholeNumber(v, INT32_MIN, INT32_MAX, &a->number)) return true;
        usageError(setProgram, "%s: '%s' is not a whole number", name, shown.c_str());
        return false;
    case SettingKind::flag:
    case SettingKind::outputKind:
        if (isOneOf(v, "0", "off") || isOneOf(v, "1", "on")) {
            a->number = isOneOf(v, "1", "on") ? 1 : 0;
            return true;
        }
        usageError(setProgram, "%s: '%s' is neither 0 nor 1", name, shown.c_str());
        return false;
    case SettingKind::preset:
        if (isOneOf(v, "C", "c") || std::strcmp(v, "0") == 0) {
            a->number = devicePresetC;
            return true;
        }
        if (isOneOf(v, "B", "b") || std::strcmp(v, "1") == 0) {
            a->number = devicePresetB;
            return true;
        }
        usageError(setProgram, "%s: '%s' is no preset: C (or 0) polled, B (or 1) streaming%s", name,
                   shown.c_str(), quoteAdvice(v).c_str());
        return false;
    default:
        return false;
    }
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
        if (isKeyedSetting(a.index)) continue;
        const SettingKind kind = settingsTable[a.index].kind;
        if (kind == SettingKind::preset) {
            wantB = a.number == devicePresetB;
        } else if (kind == SettingKind::flag || kind == SettingKind::outputKind) {
            for (int k = 0; k < 4; ++k)
                if (switches[k] == controlOf(a)) want[k] = a.number != 0;
        } else {
            copyText(findFormControl(form, controlOf(a))->text, formTextSize, a.value);
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

bool isLanKeyed(const SettingRow& row) {
    return std::strcmp(row.name, "lanAddress") == 0 ||
           std::strcmp(row.name, "webSocketOrigins") == 0;
}

// Values that are saved but will not act, one line per reason: under the
// form's final state for the eleven (the dialog greys them out), under the
// settings saved for the LAN server's keyed ones. A switch turned off, or a
// keyed setting given its default, is not among them: that is what it does.
void noteDisabled(const SettingsForm& form, const std::vector<Assignment>& assignments) {
    enum { mouseOff, presetB, lanOff, noPreset, plainDialect, reasonCount };
    const char* reasons[reasonCount] = {
        "while the air mouse is off (mouseEnabled=0)",
        "under device preset B: the LAN server runs only with preset C (deviceMode=C)",
        "while the LAN server is off (lanEnabled=0)",
        "while no device preset is chosen (deviceMode=2): the LAN server runs only with "
        "preset C (deviceMode=C)",
        "in the plain dialect: only a WebSocket client's handshake names a page's origin "
        "(webSocketEnabled=1)"};
    std::string names[reasonCount];
    int counts[reasonCount] = {};
    auto add = [&](int reason, const char* name) {
        if (names[reason].find(name) != std::string::npos) return;
        names[reason] += (names[reason].empty() ? "" : ", ") + std::string(name);
        ++counts[reason];
    };
    const bool underB = settings.deviceMode.load() == devicePresetB;
    const bool noPresetYet = !underB && settings.deviceMode.load() != devicePresetC;
    const bool lanOn = settings.lanEnabled.load() != 0;
    for (const Assignment& a : assignments) {
        const SettingRow& row = settingsTable[a.index];
        if (row.kind == SettingKind::outputKind) continue;
        if (row.line == 0) {
            if (!isLanKeyed(row) || std::strcmp(a.value, row.defaultText) == 0) continue;
            if (underB)
                add(presetB, row.name);
            else if (!lanOn)
                add(lanOff, row.name);
            else if (noPresetYet)
                add(noPreset, row.name);
            else if (std::strcmp(row.name, "webSocketOrigins") == 0 &&
                     settings.webSocketEnabled.load() == 0)
                add(plainDialect, row.name);
            continue;
        }
        if (row.kind == SettingKind::preset) {
            // Choosing preset B leaves a LAN server that was on without effect.
            if (underB && lanOn) add(presetB, "lanEnabled");
            continue;
        }
        if (row.kind == SettingKind::flag && a.number == 0) continue;
        if (enabled(form, controlOf(a))) {
            // The form shows no preset yet as preset C; the file keeps 2.
            if (noPresetYet && lanOn && row.grey != GreyWhen::mouseOff &&
                row.grey != GreyWhen::never)
                add(noPreset, row.name);
            continue;
        }
        if (row.grey == GreyWhen::mouseOff)
            add(mouseOff, row.name);
        else
            add(underB ? presetB : lanOff, row.name);
    }
    for (int r = 0; r < reasonCount; ++r)
        if (!names[r].empty())
            std::fprintf(stderr, "%s: note: %s %s saved but %s no effect %s\n", setProgram,
                         names[r].c_str(), counts[r] == 1 ? "is" : "are",
                         counts[r] == 1 ? "has" : "have", reasons[r]);
}

// With the LAN server on under preset C the device is read only when a
// client asks for a line, and a button press can only act on a line read.
// Said when the set touched the buttons or what reads the device.
void noteButtonsWaitForClient(const std::vector<Assignment>& assignments) {
    bool touched = false;
    for (const Assignment& a : assignments) {
        const SettingRow& row = settingsTable[a.index];
        touched = touched || isButtonSetting(row) || row.kind == SettingKind::preset ||
                  std::strcmp(row.name, "lanEnabled") == 0;
    }
    const std::string waiting = buttonsWaitingForClient();
    if (touched && !waiting.empty())
        std::fprintf(stderr, "%s: note: %s\n", setProgram, waiting.c_str());
}

// Values the dialog's ranges changed, and a LAN port that wraps.
void noteAdjusted(const Assignment& a, const std::vector<std::string>& after) {
    const SettingRow& row = settingsTable[a.index];
    const std::string& stored = after[static_cast<size_t>(a.index)];
    if (row.line == 0) return;
    if (row.kind == SettingKind::decimal) {
        float typed = 0.0f;
        scanFloat(a.value, &typed);
        if (typed != settings.screenDistance)
            std::fprintf(stderr, "%s: note: %s %s is outside 0.1 to 10; saved as %s\n", setProgram,
                         row.name, a.value, stored.c_str());
    } else if (row.kind == SettingKind::integer && row.range == RangeRule::clamp) {
        if (std::to_string(a.number) != stored)
            std::fprintf(stderr, "%s: note: %s %s is outside %lld to %lld; saved as %s\n",
                         setProgram, row.name, a.value, static_cast<long long>(row.low),
                         static_cast<long long>(row.high), stored.c_str());
    } else if (row.kind == SettingKind::integer && (a.number < 1 || a.number > 65535)) {
        const auto port = static_cast<uint16_t>(static_cast<uint32_t>(a.number));
        if (port == 0)
            std::fprintf(stderr,
                         "%s: note: lanPort %s is saved as given, but its low 16 bits are 0: "
                         "the server would listen on a port the system picks\n",
                         setProgram, a.value);
        else
            std::fprintf(stderr,
                         "%s: note: lanPort %s is saved as given (as the dialog does); the "
                         "server listens on port %u, its low 16 bits\n",
                         setProgram, a.value, static_cast<unsigned>(port));
    }
}

// A device that is not plugged in now may be later: saved, with a warning.
void noteComDeviceAbsent(const char* value, const std::string& systemRoot) {
    if (value[0] == '\0') return;
    char path[comDeviceSize + 8];
    const SystemResult found = findSerialDevice(value, systemRoot.c_str(), path, sizeof path);
    if (found) return;
    const char* reason = found.reason;
    if (const char* said = std::strstr(reason, ": "); said != nullptr) reason = said + 2;
    std::fprintf(stderr,
                 "%s: warning: comDevice %s is saved, but it chooses no device now: %s. The bridge "
                 "looks for it at every open; `tolvane-config ports` lists each port with the "
                 "comDevice line that chooses it\n",
                 setProgram, value, reason);
}

std::vector<std::string> allValues() {
    std::vector<std::string> values;
    for (int i = 0; i < settingsRowCount; ++i)
        values.push_back(shownValue(i));
    return values;
}

// Reads, changes and replaces the file; the lock is held throughout.
int changeFile(const char* path, const std::vector<Assignment>& assignments,
               const std::string& systemRoot) {
    std::string firstLine;
    const FileState state = readSettingsForTool(path, &firstLine);
    if (state == FileState::unreadable) return 1;
    if (state == FileState::read) noteFileOddities(path, firstLine, true);
    const std::vector<std::string> before = allValues();

    SettingsForm form;
    initSettingsForm(form);
    fillForm(form, assignments);
    const int32_t modeBefore = settings.deviceMode.load();
    applySettingsForm(form);
    bool modeGiven = false;
    for (const Assignment& a : assignments) {
        if (isKeyedSetting(a.index)) settingsTable[a.index].store(a.value);
        modeGiven = modeGiven || settingsTable[a.index].kind == SettingKind::preset;
    }
    // The form shows "no preset chosen yet" as preset C and would store C;
    // set changes only what it is given, so a new file holds the defaults.
    if (modeBefore == devicePresetUnset && !modeGiven) settings.deviceMode = devicePresetUnset;

    if (const SystemResult written = writeSettingsFileAtomically(path); !written) {
        std::fprintf(stderr, "%s: %s was not written: %s\n", setProgram, path, written.reason);
        return 1;
    }

    const std::vector<std::string> after = allValues();
    for (const Assignment& a : assignments)
        noteAdjusted(a, after);
    noteDisabled(form, assignments);
    for (const Assignment& a : assignments)
        if (settingsTable[a.index].kind == SettingKind::screen) noteMouseScreenAfterSet();
    noteButtonsWaitForClient(assignments);
    char port[comPortSize];
    getComPort(port);
    if (isBarePortNumber(port))
        std::fprintf(stderr,
                     "%s: note: comPort %s is saved as given, but it is only a number: %s\n",
                     setProgram, port, portNameHint(port).c_str());

    for (const Assignment& a : assignments)
        if (std::strcmp(settingsTable[a.index].name, "comDevice") == 0)
            noteComDeviceAbsent(a.value, systemRoot);

    if (state == FileState::missing) std::printf("created %s\n", path);
    bool changed = false;
    for (int i = 0; i < settingsRowCount; ++i) {
        const auto k = static_cast<size_t>(i);
        if (before[k] == after[k]) continue;
        std::printf("%s: %s -> %s\n", settingsTable[i].name,
                    before[k].empty() ? "\"\"" : before[k].c_str(),
                    after[k].empty() ? "\"\"" : after[k].c_str());
        changed = true;
    }
    if (!changed && state == FileState::read) std::printf("no setting changed\n");
    return 0;
}

} // namespace

int setSettings(const char* path, char** arguments, int count, const std::string& systemRoot) {
    if (count == 0) return usageError(setProgram, "set needs at least one NAME=VALUE");
    std::vector<Assignment> assignments;
    for (int n = 0; n < count; ++n) {
        Assignment a{};
        if (!parseAssignment(arguments[n], &a)) return usageErrorStatus;
        for (const Assignment& earlier : assignments)
            if (earlier.index == a.index)
                return usageError(setProgram, "%s given twice", settingsTable[a.index].name);
        assignments.push_back(a);
    }

    // Two sets at once would each write the file as they read it, and the
    // one that renames last would undo the other's change.
    FileLock lock;
    if (const SystemResult locked = lockFileForChange(path, &lock); !locked) {
        std::fprintf(stderr, "%s: %s was not written: %s\n", setProgram, path, locked.reason);
        return 1;
    }
    const int status = changeFile(path, assignments, systemRoot);
    unlockFile(&lock);
    return status;
}

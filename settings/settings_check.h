#pragma once
// What readSettingsFile takes without a word but a person who wrote
// "tolv.conf" by hand would want to hear of: names or comments in a file of
// bare values, lines without a number, values the measurement cannot use as
// written. Read for messages only; the measurement never looks at it.

#include <cstdint>

#include "settings/settings_table.h"

constexpr int settingsFieldCount = settingsLineCount;

enum class SettingsFileState { read, missing, unreadable };

enum class SettingsIssue : uint8_t {
    namedLine,        // "name=value" or a comment: the file holds bare values only
    noNumber,         // a number's line without one: the field keeps its value
    missingLine,      // the file ends before this line (and every later one)
    averagingOutside, // outside 1..255: the measurement uses the nearer bound
    flagNotBinary,    // neither 0 nor 1; only the low 8 bits count
    lanPortWraps,     // outside 1..65535: the server takes the low 16 bits
    lanPortZero,      // its low 16 bits are 0: no port to listen on
    presetUnknown,    // deviceMode neither 0, 1 nor 2
    lanNeedsPresetC,  // lanEnabled with a deviceMode other than 0
    lineTooLong,      // more than 255 bytes: the rest of the line is ignored
    unknownLine,      // after line 11: no "name=value" of a keyed setting (kept as it is)
    badValue,         // after line 11: a keyed setting's value is bad (its default applies)
    nulByte,          // a NUL byte in the line: only the text before it is read
    portIsNumber,     // comPort is a bare number (3 where COM3 or ttyS3 is meant)
    keptLinesLost,    // more unknown lines than are kept: no writer may write the file
    duplicateLine,    // a keyed setting given again (value: the line before); the last applies
};

constexpr int settingsLineShown = 48; // a line's text kept for messages, cut

struct SettingsFinding {
    SettingsIssue issue;
    int line;        // the line in the file: 1..11 for the fields, then the keyed lines
    long long value; // the value as written or in effect, where one applies (keptLinesLost:
                     // the number of lines)
    char text[settingsLineShown + 1]; // keyed lines: the line, cut
    char reason[512]; // badValue: what is wrong ("is outside 0 to 1000"), a button's names whole
};

constexpr int settingsFindingsMax = 24; // more than the eleven lines can raise; the
                                        // last is kept for keptLinesLost

struct SettingsFileCheck {
    SettingsFileState state;
    int error; // of a failed open: errno or settingsNotRegularFile (settingsOpenReason)
    int lines; // lines read, 0..11
    char text[settingsFieldCount][settingsLineShown + 1]; // each line, cut
    int findingCount;
    SettingsFinding findings[settingsFindingsMax];
    int findingsLeftOut; // findings about later lines beyond the room above
};

// Reads path line by line as readSettingsFile does and looks at its texts,
// then at the Settings record, which must hold what the defaults and
// readSettingsFile made of that file. Findings come in line order, a
// keptLinesLost last.
void checkSettingsFile(const char* path, SettingsFileCheck* check);

// For a comPort that is a bare number: what the port is most likely called
// on this system, as a sentence without its full stop.
void appendPortNameHint(TextBuilder& out, const char* digits);
// Whether a port name is a bare number such as 3.
bool isBarePortNumber(const char* port);

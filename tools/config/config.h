#pragma once
// tolvane-config's parts: the settings file as the tool reads and locks it
// (config_file.cpp), show (config_show.cpp), set (config_set.cpp).

#include <string>

#include "settings/settings_table.h"
#include "text/number_text.h"

inline constexpr char configProgram[] = "tolvane-config";

enum class FileState { read, missing, unreadable };

// Reads the settings as the bridge does, from defaults; a file that exists
// but cannot be read is an error here (writing over it would lose it), said
// on standard error. *firstLine gets the file's first line.
FileState readSettingsForTool(const char* path, std::string* firstLine);

// Notes on standard error about what the bridge makes of the file that a
// person may not expect: a heading in place of the port, a long line, lines
// after the eleventh that are no setting (kept) or hold a bad value (dropped
// by set, which says so when dropping is true).
void noteFileOddities(const char* path, const std::string& firstLine, bool dropping);

// The value of a row in effect, as set takes it (deviceMode C or B), with control
// characters shown as \xHH: a value from a file never reaches the terminal raw.
std::string shownValue(int index);
void appendEscaped(std::string& out, const char* text);
std::string escaped(const char* text);
// What a comPort that is a bare number most likely should be (COM3).
std::string portNameHint(const char* digits);

// What to do about a name or value that begins or ends with a single quote
// ("; ..." to follow a message), or "".
std::string quoteAdvice(const char* text);
// Usage errors: an unknown setting's name, and a problem of any length,
// broken for an 80-column console. Both return the usage error's status.
int unknownSettingError(const char* name);
int wrappedUsageError(const char* problem);

bool isButtonSetting(const SettingRow& row);
// With the LAN server on under preset C the device is read only when a
// client asks for a line: the sentence that says so of the button settings
// in effect, or "" when none is set or the device is read all the time.
std::string buttonsWaitingForClient();

int showSettings(const char* path, char** names, int nameCount);
// systemRoot: where a comDevice set is looked for ("" for this machine).
int setSettings(const char* path, char** arguments, int count, const std::string& systemRoot);

// The settings part of --help, from the settings table.
void printSettingsHelp();

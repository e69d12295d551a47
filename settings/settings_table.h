#pragma once
// Every setting in one table: its name, where "tolv.conf" keeps it, its type,
// default and range, when the settings dialog greys it out, and what its
// value means. The file's reader and writer, the file check, the dialog's
// form, tolvane-config and the headless notes all walk this table; adding a
// setting is adding a row (and its field in Settings).

#include <cstddef>
#include <cstdint>

#include "text/number_text.h"

enum class SettingKind : uint8_t {
    text,       // comPort: any text of at most 31 bytes
    decimal,    // a 32-bit float, "." as the decimal point
    integer,    // a signed 32-bit integer
    flag,       // 0 or 1 (the file may hold any number: its low 8 bits)
    preset,     // deviceMode: C (0) or B (1)
    outputKind, // accelerationOutput: 0 angles, 1 acceleration
    choice,     // one of the row's words
    screenSize, // empty or WxH, each 1..100000
    address,    // empty or HOST:PORT: IPv4, a name or [IPv6]; port 1..65535
    ipv4,       // an IPv4 address a.b.c.d, each 0..255
    buttonLine, // empty or what a button does per press kind (button_actions.h)
    // lanAddress: empty, an IPv4 or IPv6 address, or localhost
    listenAddress,
    // webSocketOrigins: empty, or origins separated by commas
    originList,
    screen,    // mouseScreen: primary, all or a monitor's number 1..16
    device,    // comDevice: empty, a path, or usb:VVVV:PPPP[:SERIAL]
    action,    // a flick's line: empty or one action (parseSingleAction)
    flickWhen, // always, airmouse-off or held:N (a button 0..4)
    color,     // #RRGGBB
};

enum class RangeRule : uint8_t {
    none,   // taken as given
    clamp,  // the dialog forces the value into low..high on confirm
    refuse, // a value outside low..high is refused (keyed settings)
    length, // a text of at most high bytes
};

// When the dialog greys a setting's control out.
enum class GreyWhen : uint8_t {
    never,
    mouseOff,        // while the air-mouse switch is off
    lanOffOrPresetB, // while the LAN switch is off, or under preset B
    presetB,         // under preset B
};

constexpr int settingsLineCount = 11; // the fixed lines; keyed lines follow

struct SettingRow {
    const char* name;
    int line; // 1..11: its line in the file; 0: a keyed line "name=value"
    SettingKind kind;
    const char* defaultText; // the value as the file holds it
    RangeRule range;
    double low, high;
    const char* const* words; // choice: the values, in the order of their enum
    int wordCount;
    GreyWhen grey;
    const char* help; // the value's form and meaning, for --help
    // The value in effect as the file holds it.
    void (*format)(TextBuilder& out);
    // Stores a value: for a line, the text as the line reader scans it (no
    // number keeps the value); for a keyed row, a value checkSettingText passed.
    void (*store)(const char* text);
    // What the value in effect means, for tolvane-config show.
    void (*describe)(TextBuilder& out);
};

extern const SettingRow settingsTable[];
extern const int settingsRowCount;

// The row of a name (of length bytes), or -1.
int findSetting(const char* name, size_t length);
// The row of a line 1..11.
inline int settingOfLine(int line) {
    return line - 1;
}
bool isKeyedSetting(int index);
// Whether the value in effect is the row's default.
bool settingAtDefault(int index);

// The longest value in bytes a row takes: what its line in the file holds
// whole (the reader keeps 255 bytes of a line, "name=" included for a keyed
// row) and its field can store.
int settingValueLimit(int index);

// Checks a value for a keyed row as the tools and the file check take it;
// false with the reason ("is not one of average, adaptive") when it is bad.
// A value longer than settingValueLimit is refused with the limit.
bool checkSettingText(int index, const char* text, TextBuilder& reason);

// For the UDP sender: HOST:PORT split; false when text is no such address.
// The host comes without the brackets of an IPv6 address.
bool parseUdpTarget(const char* text, char* host, size_t hostSize, uint16_t* port);
// For the pointer: "WxH"; false when text is empty or no such size.
bool parseScreenSize(const char* text, int32_t* width, int32_t* height);
// For the air mouse: "primary", "all" or a monitor's number 1..16 as
// mouseScreen's value; false for anything else.
bool parseMouseScreen(const char* text, int32_t* which);
// For the flicks: flickWhen's value as flickWhenAlways,
// flickWhenAirMouseOff or a button 0..4; false for anything else.
bool parseFlickWhen(const char* text, int32_t* when);
// A float as the shortest text that reads back as the same float.
void appendShortFloat(TextBuilder& out, float value);

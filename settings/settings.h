#pragma once
// The one settings record of the process, its defaults and "tolv.conf".
//
// The window thread writes the record; the measurement worker reads single
// fields at the moment of use. Scalar fields are atomics so that each is read
// and written whole; the port name is copied under a lock.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "settings/button_actions.h"
#include "settings/com_device.h"
#include "text/listen_address.h"
#include "text/number_text.h"
#include "text/system_result.h"

constexpr int comPortSize = 32;    // at most 31 characters and the terminator
constexpr int screenSizeSize = 16; // "WxH", each 1..100000
constexpr int udpTargetSize = 280; // a host name (253), brackets, ":" and a port
constexpr int dsuAddressSize = 16; // "255.255.255.255"
constexpr int lanAddressSize = static_cast<int>(listenAddressSize);
// What a 255-byte line holds after "webSocketOrigins=", and the NUL.
constexpr int webSocketOriginsSize = 239;

// Values of deviceMode. The file may hold any other number, which neither
// polls as preset C nor counts as preset B.
constexpr int32_t devicePresetC = 0;     // polled: one line per poll byte
constexpr int32_t devicePresetB = 1;     // streams its lines unasked
constexpr int32_t devicePresetUnset = 2; // the default, until a file or the dialog sets one

// Values of mouseScreen: the primary monitor, every monitor, or monitor 1..16.
constexpr int32_t mouseScreenPrimary = 0;
constexpr int32_t mouseScreenAll = -1;
constexpr int32_t mouseScreenMax = 16;

// The flicks, in the order of their lines, and flickWhen's values besides a
// button's number (held:N).
constexpr int flickCount = 4; // left, right, up, down
constexpr int32_t flickWhenAlways = -1;
constexpr int32_t flickWhenAirMouseOff = -2;

// Values of the keyed settings that choose among a few words; the words are
// in the settings table (settings_table.h), in this order.
enum class MouseSmoothing : uint8_t { average, adaptive };
enum class MouseRecenter : uint8_t { none, middleHold, leftRight };
enum class MouseClutch : uint8_t { none, left, right, middle };
enum class DwellClick : uint8_t { off, left, right, doubleClick, drag };
enum class PointerBackend : uint8_t { automatic, x11, uinput };
enum class UdpFormat : uint8_t { opentrack, osc };
enum class DsuServerSwitch : uint8_t { off, on };
enum class ButtonPreset : uint8_t { none, presenter };
enum class PointerMode : uint8_t { absolute, relative, hybrid };
enum class OverlayStyle : uint8_t { spotlight, laser, magnifier };

struct Settings {
    char comPort[comPortSize]; // use getComPort/setComPort across threads
    std::atomic<float> screenDistance;
    std::atomic<int32_t> scrollSpeed;
    std::atomic<int32_t> mouseAveraging;
    std::atomic<int32_t> lanAveraging;
    std::atomic<int32_t> lanPort;
    std::atomic<uint8_t> mouseEnabled;
    std::atomic<int32_t> deviceMode; // devicePresetC, devicePresetB, devicePresetUnset
    std::atomic<uint8_t> lanEnabled;
    std::atomic<uint8_t> webSocketEnabled;
    std::atomic<uint8_t> accelerationOutput;
    // Kept as "name=value" lines after the eleventh, each only when it is not
    // at its default, so that a file of defaults stays eleven lines.
    std::atomic<MouseSmoothing> mouseSmoothing;
    std::atomic<float> mouseMinCutoff; // Hz
    std::atomic<float> mouseBeta;
    std::atomic<int32_t> mouseClickHold; // ms
    std::atomic<MouseRecenter> mouseRecenter;
    std::atomic<MouseClutch> mouseClutch;
    std::atomic<int32_t> mouseScreen; // mouseScreenPrimary, mouseScreenAll or a monitor 1..
    std::atomic<float> mouseReachX;   // gain of the horizontal axis, 1: as screenDistance gives
    std::atomic<float> mouseReachY;
    std::atomic<float> mousePrecision; // the gain is divided by it in precision mode
    std::atomic<DwellClick> dwellClick;
    std::atomic<int32_t> dwellTime;      // ms the cursor rests before a dwell click
    std::atomic<int32_t> dwellRadius;    // px it may move from where the rest began
    std::atomic<PointerBackend> pointer; // Linux only
    char screenSize[screenSizeSize];     // use getScreenSize/setScreenSize; "" or "WxH"
    char udpTarget[udpTargetSize];       // use getUdpTarget/setUdpTarget; "" or "HOST:PORT"
    std::atomic<UdpFormat> udpFormat;
    std::atomic<DsuServerSwitch> dsuServer;
    char dsuAddress[dsuAddressSize]; // use getDsuAddress/setDsuAddress; an IPv4 address
    std::atomic<int32_t> dsuPort;
    // What the buttons do instead of the air mouse's clicks: one line each
    // (button_actions.h), "" for none; use getButtonLine/setButtonLine.
    char buttonLines[buttonCount][buttonActionsSize];
    std::atomic<ButtonPreset> buttonPreset;
    std::atomic<int32_t> longPress;   // ms a press is held to count as long
    std::atomic<int32_t> doublePress; // ms within which a second press makes a double
    char lanAddress[lanAddressSize];  // use getLanAddress/setLanAddress; "" is every address
    char webSocketOrigins[webSocketOriginsSize]; // use get/setWebSocketOrigins; "" is no check
    std::atomic<PointerMode> pointerMode;        // how the air mouse moves the cursor
    std::atomic<float> relativeGain;             // a factor on the relative moves
    // The device by what it is, instead of comPort; "" uses comPort. Use
    // getComDevice/setComDevice (com_device.h says the forms).
    char comDevice[comDeviceSize];
    // Motion as commands (output/hand/gestures.h): the gestures' dead zone
    // and rates, the flicks' lines (left, right, up, down; use
    // getFlickLine/setFlickLine), speed, time and when they act.
    std::atomic<float> gestureDeadZone; // degrees
    std::atomic<float> scrollRate;      // notches a second per degree past the dead zone
    std::atomic<float> scrollMax;       // notches a second
    std::atomic<float> volumeStep;      // degrees of roll per volume key
    char flickLines[flickCount][buttonActionsSize];
    std::atomic<float> flickSpeed;  // degrees a second
    std::atomic<int32_t> flickTime; // ms
    std::atomic<int32_t> flickWhen; // flickWhenAlways, flickWhenAirMouseOff or a button 0..4
    // What a button's Overlay action draws where the device points.
    std::atomic<OverlayStyle> overlay;
    std::atomic<int32_t> overlayRadius; // px
    std::atomic<int32_t> overlayDim;    // percent darker outside the spotlight
    std::atomic<uint32_t> overlayColor; // 0xRRGGBB
    std::atomic<int32_t> overlayTrail;  // ms the laser's trail fades over
    std::atomic<float> overlayZoom;     // the magnifier's factor
};

extern Settings settings;

inline constexpr const char* settingsFileName = "tolv.conf";

void setDefaults();
// Reads "tolv.conf" (or path); a missing or unreadable file changes nothing.
void readSettingsFile(const char* path = settingsFileName);
// Reads the eleven lines and the keyed lines after them from an open stream
// (used by readSettingsFile). Lines the reader does not know are kept, to be
// written back as they were.
void readSettingsStream(FILE* file);
// Writes all eleven fields and the keyed settings not at their defaults; a
// file that cannot be opened is silently skipped. Returns whether the file
// was written (callers in the program ignore it).
bool writeSettingsFile(const char* path = settingsFileName);
// The value of the table's row index as the file holds it.
void appendSettingValue(TextBuilder& out, int index);
// The value as a person gives it to `tolvane-config set`: deviceMode as C or
// B where the file keeps 0 or 1 (any other number as it is); every other
// value as the file holds it.
void appendSettingAsTyped(TextBuilder& out, int index);
// The file as writeSettingsFile stores it, "\n" after each line. Returns the
// length, or -1 when the text does not fit size or when lines the reader
// did not know were left out for want of room (writing would lose them).
int formatSettingsText(char* text, size_t size);
// Room for the lines after the eleventh that the reader does not know: some
// hundred lines, far more than a person writes by hand.
constexpr int keptLinesSize = 32768;
constexpr int settingsTextSize = keptLinesSize + 4096; // what formatSettingsText may need

// Opens a settings file for reading without ever waiting: a FIFO or a device
// is refused (*error = settingsNotRegularFile), a folder too (EISDIR).
// nullptr with *error (an errno value) when it cannot be opened.
FILE* openSettingsFile(const char* path, int* error);
constexpr int settingsNotRegularFile = -1;
// The reason for an error of openSettingsFile, for messages.
const char* settingsOpenReason(int error);

// Reads one line of at most lineSize-1 bytes into line, without its line end;
// the rest of a longer line is read and dropped (*cut set), so that the next
// call reads the next line. A line is everything up to its own line feed: a
// NUL byte in it ends the line's text, as a carriage return does, and *nul
// (when given) says that one did. False at the end of the file.
bool readSettingsLine(FILE* file, char* line, int lineSize, bool* cut, bool* nul = nullptr);
constexpr int settingsLineSize = 256;
// The same file, written to a temporary file in the same folder and renamed
// over the old one, so that a crash or a full disk never leaves half a file.
// For the tools; the settings dialog writes in place, as it always has.
// A failure says why the file could not be replaced.
SystemResult writeSettingsFileAtomically(const char* path);

// Copies the port name out (32 bytes) / in (cut to 31 characters), under a lock.
void getComPort(char* out);
void setComPort(const char* name);
// The same for the two keyed texts (screenSizeSize, udpTargetSize bytes).
void getScreenSize(char* out);
void setScreenSize(const char* text);
void getUdpTarget(char* out);
void setUdpTarget(const char* text);
void getDsuAddress(char* out); // dsuAddressSize bytes
void setDsuAddress(const char* text);
// One button's line (buttonActionsSize bytes), button 0..4.
void getButtonLine(int button, char* out);
void setButtonLine(int button, const char* text);
// And for the LAN server's two (lanAddressSize, webSocketOriginsSize bytes).
void getLanAddress(char* out);
void setLanAddress(const char* text);
void getWebSocketOrigins(char* out);
void setWebSocketOrigins(const char* text);
// One flick's line (buttonActionsSize bytes), 0..3: left, right, up, down.
void getFlickLine(int flick, char* out);
void setFlickLine(int flick, const char* text);
// And comDevice's (comDeviceSize bytes).
void getComDevice(char* out);
void setComDevice(const char* text);
// What the bridge opens, as the user wrote it: comDevice when set, else
// comPort (comDeviceSize bytes).
void getSerialDeviceName(char* out);

// The lines after the eleventh that the reader did not know, as read, each
// followed by "\n"; written back after the known ones.
void getKeptLines(char* out, size_t size);
void setKeptLines(const char* lines);
// The unknown lines of the last read that did not fit keptLinesSize, and the
// line number of the first of them (0: none). While there are any, the file
// is not written: that would lose them.
int lostKeptLines(int* firstLine = nullptr);

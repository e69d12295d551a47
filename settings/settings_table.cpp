#include "settings/settings_table.h"

#include <cstring>

#include "settings/origin_list.h"
#include "settings/settings.h"
#include "text/listen_address.h"

namespace {

constexpr const char* smoothingWords[] = {"average", "adaptive"};
constexpr const char* recenterWords[] = {"none", "middle-hold", "left-right"};
constexpr const char* clutchWords[] = {"none", "left", "right", "middle"};
constexpr const char* dwellWords[] = {"off", "left", "right", "double", "drag"};
constexpr const char* pointerModeWords[] = {"absolute", "relative", "hybrid"};
constexpr const char* pointerWords[] = {"auto", "x11", "uinput"};
constexpr const char* udpFormatWords[] = {"opentrack", "osc"};
constexpr const char* dsuServerWords[] = {"off", "on"};
constexpr const char* buttonPresetWords[] = {"none", "presenter"};
constexpr const char* overlayWords[] = {"spotlight", "laser", "magnifier"};

uint8_t lowBits(int32_t number) {
    return static_cast<uint8_t>(static_cast<uint32_t>(number) & 0xFFu);
}

uint16_t listenPortOf(int32_t lanPort) {
    return static_cast<uint16_t>(static_cast<uint32_t>(lanPort) & 0xFFFFu);
}

// A line of the file scanned as "%d": no number keeps the field.
template <std::atomic<int32_t> Settings::*field> void storeInteger(const char* text) {
    int32_t number;
    if (scanInteger(text, &number)) (settings.*field) = number;
}

template <std::atomic<uint8_t> Settings::*field> void storeFlag(const char* text) {
    int32_t number;
    if (scanInteger(text, &number)) (settings.*field) = lowBits(number);
}

template <std::atomic<int32_t> Settings::*field> void formatInteger(TextBuilder& out) {
    out.appendInteger((settings.*field).load());
}

template <std::atomic<uint8_t> Settings::*field> void formatFlag(TextBuilder& out) {
    out.appendInteger((settings.*field).load());
}

template <std::atomic<float> Settings::*field> void formatShortFloat(TextBuilder& out) {
    appendShortFloat(out, (settings.*field).load());
}

template <std::atomic<float> Settings::*field> void storeFloat(const char* text) {
    float value;
    if (scanFloat(text, &value)) (settings.*field) = value;
}

template <typename Choice, std::atomic<Choice> Settings::*field, const char* const* words>
void formatChoice(TextBuilder& out) {
    out.append(words[static_cast<int>((settings.*field).load())]);
}

template <typename Choice, std::atomic<Choice> Settings::*field, const char* const* words,
          int count>
void storeChoice(const char* text) {
    for (int i = 0; i < count; ++i)
        if (std::strcmp(text, words[i]) == 0) (settings.*field) = static_cast<Choice>(i);
}

template <void (*get)(char*), int size> void formatText(TextBuilder& out) {
    char text[size];
    get(text);
    out.append(text);
}

void formatDistance(TextBuilder& out) {
    out.appendFixed(static_cast<double>(settings.screenDistance.load()), 6);
}

// "#RRGGBB", the digits in either case.
bool parseColor(const char* text, uint32_t* rgb) {
    if (text[0] != '#' || std::strlen(text) != 7) return false;
    uint32_t value = 0;
    for (int i = 1; i < 7; ++i) {
        const char c = text[i];
        const int digit = c >= '0' && c <= '9'   ? c - '0'
                          : c >= 'a' && c <= 'f' ? c - 'a' + 10
                          : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                 : -1;
        if (digit < 0) return false;
        value = value << 4 | static_cast<uint32_t>(digit);
    }
    *rgb = value;
    return true;
}

void formatOverlayColor(TextBuilder& out) {
    const uint32_t rgb = settings.overlayColor.load();
    char text[8] = {'#'};
    for (int i = 0; i < 6; ++i)
        text[1 + i] = "0123456789abcdef"[(rgb >> (20 - 4 * i)) & 0xFu];
    out.append(text);
}

void storeOverlayColor(const char* text) {
    uint32_t rgb = 0;
    if (parseColor(text, &rgb)) settings.overlayColor = rgb;
}

void describeOverlay(TextBuilder& out) {
    const OverlayStyle o = settings.overlay;
    out.append(o == OverlayStyle::laser       ? "Overlay button: a laser dot with a fading trail"
               : o == OverlayStyle::magnifier ? "Overlay button: a magnifier"
                                              : "Overlay button: a spotlight, the rest dimmed");
}
void describeOverlayRadius(TextBuilder& out) {
    out.append("overlay: the circle's radius in px (20 to 800)");
}
void describeOverlayDim(TextBuilder& out) {
    out.append("spotlight: percent darker outside the circle (0 to 95)");
}
void describeOverlayColor(TextBuilder& out) {
    out.append("overlay: the laser's dot and the circle's rim, #RRGGBB");
}
void describeOverlayTrail(TextBuilder& out) {
    out.append("laser: ms its trail takes to fade (0 to 2000)");
}
void describeOverlayZoom(TextBuilder& out) {
    out.append("magnifier: its factor (1.5 to 4)");
}

void describeComPort(TextBuilder& out) {
#ifdef _WIN32
    out.append("serial port of the device");
#else
    out.append("serial port of the device (a name without \"/\" is looked up in /dev)");
#endif
}

void describeDistance(TextBuilder& out) {
    out.append("air mouse: virtual screen distance, in screen widths (0.1 to 10)");
}
void describeScroll(TextBuilder& out) {
    out.append("air mouse: wheel step per sample while a wheel button is held (1 to 64)");
}
void describeMouseAveraging(TextBuilder& out) {
    out.append("air mouse: samples averaged (1 to 255)");
}
void describeLanAveraging(TextBuilder& out) {
    out.append("LAN replies: samples averaged (1 to 255)");
}

void describeLanPort(TextBuilder& out) {
    const int32_t lanPort = settings.lanPort.load();
    const uint16_t port = listenPortOf(lanPort);
    out.append("TCP port of the LAN server");
    if (lanPort == port) return;
    if (port == 0) {
        out.append(" (its low 16 bits are 0: no port, the server cannot open)");
        return;
    }
    out.append(" (it listens on ");
    out.appendInteger(port);
    out.append(", the low 16 bits)");
}

void describeMouse(TextBuilder& out) {
    out.append(settings.mouseEnabled != 0 ? "air mouse on" : "air mouse off");
}

void describeMode(TextBuilder& out) {
    const int32_t mode = settings.deviceMode;
    if (mode == devicePresetC)
        out.append("device preset C: polled, the LAN server can run");
    else if (mode == devicePresetB)
        out.append("device preset B: the device streams, no LAN server");
    else
        out.append("no preset chosen yet: polled as C, but no LAN server (set deviceMode=C)");
}

void describeLan(TextBuilder& out) {
    if (settings.lanEnabled == 0)
        out.append("LAN server off");
    else
        out.append(settings.deviceMode == devicePresetC
                       ? "LAN server on"
                       : "LAN server on, but it runs only with preset C");
}

void describeWebSocket(TextBuilder& out) {
    out.append(settings.webSocketEnabled != 0 ? "the LAN server speaks WebSocket"
                                              : "the LAN server speaks plain text");
}

void describeOutput(TextBuilder& out) {
    out.append(settings.accelerationOutput != 0 ? "d values: the averaged acceleration"
                                                : "d values: angles in degrees");
}

void describeSmoothing(TextBuilder& out) {
    out.append(settings.mouseSmoothing == MouseSmoothing::adaptive
                   ? "air mouse: adaptive smoothing (steady when slow, quick when fast)"
                   : "air mouse: a plain average over mouseAveraging samples");
}
void describeMinCutoff(TextBuilder& out) {
    out.append("adaptive smoothing: cutoff at rest, in Hz (0.01 to 100)");
}
void describeBeta(TextBuilder& out) {
    out.append("adaptive smoothing: how fast the cutoff rises with speed (0 to 100)");
}
void describeClickHold(TextBuilder& out) {
    if (settings.mouseClickHold == 0)
        out.append("air mouse: the pointer moves while a button is pressed");
    else
        out.append("air mouse: the pointer stands still this many ms after a button press");
}
void describeRecenter(TextBuilder& out) {
    const MouseRecenter r = settings.mouseRecenter;
    out.append(r == MouseRecenter::middleHold ? "air mouse: holding the middle button 1 s recenters"
               : r == MouseRecenter::leftRight ? "air mouse: left and right together recenter"
                                               : "air mouse: no recentering gesture");
}
void describeClutch(TextBuilder& out) {
    if (settings.mouseClutch == MouseClutch::none) {
        out.append("air mouse: no clutch button");
        return;
    }
    out.append("air mouse: the pointer holds still while the ");
    formatChoice<MouseClutch, &Settings::mouseClutch, clutchWords>(out);
    out.append(" button is held");
}
void describeReachX(TextBuilder& out) {
    out.append("air mouse: horizontal reach, a factor on screenDistance's gain (0.1 to 10)");
}
void describeReachY(TextBuilder& out) {
    out.append("air mouse: vertical reach, a factor on screenDistance's gain (0.1 to 10)");
}
void describePrecision(TextBuilder& out) {
    out.append("air mouse: precision mode (a button's Precision action) divides the gain by "
               "this (1 to 20)");
}
void describeDwellClick(TextBuilder& out) {
    const DwellClick d = settings.dwellClick;
    out.append(d == DwellClick::off           ? "air mouse: no dwell click"
               : d == DwellClick::left        ? "air mouse: a left click when the cursor rests"
               : d == DwellClick::right       ? "air mouse: a right click when the cursor rests"
               : d == DwellClick::doubleClick ? "air mouse: a double click when the cursor rests"
                                              : "air mouse: a rest presses the left button, the "
                                                "next rest releases it");
}
void describeDwellTime(TextBuilder& out) {
    out.append("dwell click: ms the cursor rests before it clicks (200 to 5000)");
}
void describeDwellRadius(TextBuilder& out) {
    out.append("dwell click: px the cursor may stray from where its rest began (1 to 200)");
}
void describePointer(TextBuilder& out) {
#ifdef _WIN32
    out.append("Linux only: how the pointer is moved (ignored on Windows)");
#else
    out.append(settings.pointer == PointerBackend::x11      ? "the pointer is moved through XTest"
               : settings.pointer == PointerBackend::uinput ? "the pointer is a uinput device"
                                                            : "how the pointer is moved: auto "
                                                              "(uinput under Wayland or without X, "
                                                              "else XTest)");
#endif
}
void describeScreenSize(TextBuilder& out) {
    char size[screenSizeSize];
    getScreenSize(size);
    out.append(size[0] == '\0' ? "screen size: asked of the system"
                               : "screen size in pixels, instead of asking the system");
}
void formatMouseScreen(TextBuilder& out) {
    const int32_t which = settings.mouseScreen.load();
    if (which == mouseScreenPrimary)
        out.append("primary");
    else if (which == mouseScreenAll)
        out.append("all");
    else
        out.appendInteger(which);
}
void storeMouseScreen(const char* text) {
    int32_t which;
    if (parseMouseScreen(text, &which)) settings.mouseScreen = which;
}
void describeMouseScreen(TextBuilder& out) {
    const int32_t which = settings.mouseScreen.load();
    out.append(which == mouseScreenPrimary ? "air mouse: the primary monitor"
               : which == mouseScreenAll   ? "air mouse: every monitor, as one box"
                                           : "air mouse: this one monitor (tolvane-config show "
                                             "lists them), else the primary one");
}
void describeUdpTarget(TextBuilder& out) {
    char target[udpTargetSize];
    getUdpTarget(target);
    out.append(target[0] == '\0' ? "no UDP output" : "UDP output: each sample sent there");
}
void describeUdpFormat(TextBuilder& out) {
    out.append(settings.udpFormat == UdpFormat::osc ? "UDP packets as OSC messages"
                                                    : "UDP packets as opentrack's six doubles");
}

void describeComDevice(TextBuilder& out) {
    char device[comDeviceSize];
    getComDevice(device);
    out.append(device[0] == '\0' ? "the port is comPort's"
                                 : "the port is this device, wherever it was plugged; comPort is "
                                   "not used");
}

void describeDsuServer(TextBuilder& out) {
    out.append(settings.dsuServer == DsuServerSwitch::on
                   ? "DSU (cemuhook) motion server on: emulators take the device as a motion pad"
                   : "no DSU motion server");
}
void describeDsuAddress(TextBuilder& out) {
    char text[dsuAddressSize];
    getDsuAddress(text);
    ListenAddress address;
    address.family = ListenFamily::ipv4;
    parseIpv4Text(text, address.bytes); // the reader stores checked values only
    out.append(isLoopbackAddress(address) ? "DSU server: only this machine's emulators reach it"
               : isEveryAddress(address)
                   ? "DSU server: on every address, reachable from the network (nothing is "
                     "authenticated, and a forged sender can have pad data sent elsewhere)"
                   : "DSU server: on this address only, reachable from the network (nothing is "
                     "authenticated, and a forged sender can have pad data sent elsewhere)");
}
void describeDsuPort(TextBuilder& out) {
    out.append("UDP port of the DSU server (26760 is what emulators expect)");
}

// A button's line is kept as the table spells it, so that show and the file
// read alike whatever case the user typed.
template <int button> void storeButtonLine(const char* text) {
    ButtonActions actions;
    char reason[8];
    TextBuilder ignored(reason, sizeof reason);
    if (!parseButtonActions(text, &actions, ignored)) return;
    char line[buttonActionsSize];
    TextBuilder out(line, sizeof line);
    formatButtonActions(actions, out);
    setButtonLine(button, line);
}
template <int button> void getButtonLineOf(char* out) {
    getButtonLine(button, out);
}
template <int button> void describeButtonLine(TextBuilder& out) {
    char line[buttonActionsSize];
    getButtonLine(button, line);
    if (line[0] != '\0') {
        out.append("its own keys and actions");
        return;
    }
    if (settings.buttonPreset == ButtonPreset::presenter) {
        out.append("the presenter preset: ");
        formatButtonActions(presenterButtonActions(button), out);
        return;
    }
    constexpr const char* meaning[buttonCount] = {"left button", "right button", "wheel forward",
                                                  "wheel backward", "middle button"};
    out.append("the air mouse's ");
    out.append(meaning[button]);
}
void describeButtonPreset(TextBuilder& out) {
    out.append(settings.buttonPreset == ButtonPreset::presenter
                   ? "buttons: a slide show's keys, for the buttons without a line of their own"
                   : "buttons: only what button0..button4 give, else the air mouse's");
}
void describeLongPress(TextBuilder& out) {
    out.append("buttons: ms a press is held to count as long (100 to 5000)");
}
void describeDoublePress(TextBuilder& out) {
    out.append("buttons: ms after a release in which a second press counts as double (50 to 1000)");
}

#define BUTTON_ROW(k, name, help)                                                                  \
    {                                                                                              \
        name, 0, SettingKind::buttonLine, "", RangeRule::length, 0, buttonActionsSize - 1,         \
            nullptr, 0, GreyWhen::never, help, formatText<getButtonLineOf<k>, buttonActionsSize>,  \
            storeButtonLine<k>, describeButtonLine<k>                                              \
    }

void describeLanAddress(TextBuilder& out) {
    char text[lanAddressSize];
    getLanAddress(text);
    ListenAddress address;
    if (text[0] == '\0' || !parseListenAddress(text, &address, nullptr) ||
        (isEveryAddress(address) && address.family != ListenFamily::ipv6))
        out.append("the LAN server listens on every IPv4 address of this machine");
    else if (isEveryAddress(address))
        out.append("the LAN server listens on every IPv6 and IPv4 address of this machine");
    else if (isLoopbackAddress(address))
        out.append("the LAN server listens on loopback only: programs on this machine");
    else
        out.append("the LAN server listens on this address only");
}
void describePointerMode(TextBuilder& out) {
    const PointerMode m = settings.pointerMode;
    out.append(m == PointerMode::relative ? "air mouse: the device's turns move the cursor, beside "
                                            "any other mouse"
               : m == PointerMode::hybrid ? "air mouse: the cursor goes where the device points; "
                                            "past an edge the centre is dragged along"
                                          : "air mouse: the cursor goes where the device points");
}
void describeRelativeGain(TextBuilder& out) {
    out.append("air mouse: a factor on the relative mode's moves (0.1 to 10)");
}
void describeWebSocketOrigins(TextBuilder& out) {
    char text[webSocketOriginsSize];
    getWebSocketOrigins(text);
    const char* cursor = text;
    const char* origin = nullptr;
    size_t length = 0;
    out.append(nextOrigin(&cursor, &origin, &length)
                   ? "WebSocket: only pages of these origins (and programs) may connect"
                   : "WebSocket: pages of every origin may connect");
}

// Motion as commands: the gestures' numbers, the flicks' lines and when
// they act.
void describeGestureDeadZone(TextBuilder& out) {
    out.append("gestures: degrees of turn that do nothing (0 to 30)");
}
void describeScrollRate(TextBuilder& out) {
    out.append("Scroll, HScroll, Zoom: notches a second per degree past the dead zone");
}
void describeScrollMax(TextBuilder& out) {
    out.append("Scroll, HScroll, Zoom: at most this many notches a second");
}
void describeVolumeStep(TextBuilder& out) {
    out.append("Volume: one key per this many degrees of roll");
}
void storeFlickAction(int flick, const char* text) {
    ButtonAction action;
    char reason[8];
    TextBuilder ignored(reason, sizeof reason);
    if (!parseSingleAction(text, &action, ignored)) return;
    char line[buttonActionsSize];
    TextBuilder out(line, sizeof line);
    formatButtonAction(action, out);
    setFlickLine(flick, line);
}
template <int flick> void storeFlickLine(const char* text) {
    storeFlickAction(flick, text);
}
template <int flick> void getFlickLineOf(char* out) {
    getFlickLine(flick, out);
}
template <int flick> void describeFlickLine(TextBuilder& out) {
    char line[buttonActionsSize];
    getFlickLine(flick, line);
    out.append(line[0] == '\0' ? "no flick this way" : "a flick this way sends it");
}
void describeFlickSpeed(TextBuilder& out) {
    out.append("flicks: a turn faster than this many degrees a second");
}
void describeFlickTime(TextBuilder& out) {
    out.append("flicks: ... that lasts at most this many ms");
}
void formatFlickWhen(TextBuilder& out) {
    const int32_t when = settings.flickWhen.load();
    if (when == flickWhenAlways) {
        out.append("always");
    } else if (when == flickWhenAirMouseOff) {
        out.append("airmouse-off");
    } else {
        out.append("held:");
        out.appendInteger(when);
    }
}
void storeFlickWhen(const char* text) {
    int32_t when = 0;
    if (parseFlickWhen(text, &when)) settings.flickWhen = when;
}
void describeFlickWhen(TextBuilder& out) {
    const int32_t when = settings.flickWhen.load();
    if (when == flickWhenAlways) {
        out.append("flicks act always, the air mouse holding still through them");
    } else if (when == flickWhenAirMouseOff) {
        out.append("flicks act while the air mouse is off");
    } else {
        out.append("flicks act while button ");
        out.appendInteger(when);
        out.append(" is held");
    }
}

#define FLICK_ROW(k, name, help)                                                                   \
    {                                                                                              \
        name, 0, SettingKind::action, "", RangeRule::length, 0, buttonActionsSize - 1, nullptr, 0, \
            GreyWhen::never, help, formatText<getFlickLineOf<k>, buttonActionsSize>,               \
            storeFlickLine<k>, describeFlickLine<k>                                                \
    }

#define WORDS(list) list, static_cast<int>(sizeof list / sizeof list[0])

} // namespace

const SettingRow settingsTable[] = {
    {"comPort", 1, SettingKind::text, "COM19", RangeRule::length, 0, comPortSize - 1, nullptr, 0,
     GreyWhen::never,
     "serial port: ttyUSB0 or /dev/ttyACM0 (Linux), COM3 (Windows); at most 31 characters",
     formatText<getComPort, comPortSize>, setComPort, describeComPort},
    {"screenDistance", 2, SettingKind::decimal, "1.000000", RangeRule::clamp, 0.1, 10, nullptr, 0,
     GreyWhen::mouseOff, "air mouse: virtual screen distance in screen widths, 0.1 to 10",
     formatDistance, storeFloat<&Settings::screenDistance>, describeDistance},
    {"scrollSpeed", 3, SettingKind::integer, "4", RangeRule::clamp, 1, 64, nullptr, 0,
     GreyWhen::mouseOff, "air mouse: wheel step while a wheel button is held, 1 to 64",
     formatInteger<&Settings::scrollSpeed>, storeInteger<&Settings::scrollSpeed>, describeScroll},
    {"mouseAveraging", 4, SettingKind::integer, "32", RangeRule::clamp, 1, 255, nullptr, 0,
     GreyWhen::mouseOff, "air mouse: samples averaged, 1 to 255",
     formatInteger<&Settings::mouseAveraging>, storeInteger<&Settings::mouseAveraging>,
     describeMouseAveraging},
    {"lanAveraging", 5, SettingKind::integer, "1", RangeRule::clamp, 1, 255, nullptr, 0,
     GreyWhen::lanOffOrPresetB, "LAN replies: samples averaged, 1 to 255",
     formatInteger<&Settings::lanAveraging>, storeInteger<&Settings::lanAveraging>,
     describeLanAveraging},
    {"lanPort", 6, SettingKind::integer, "8096", RangeRule::none, INT32_MIN, INT32_MAX, nullptr, 0,
     GreyWhen::lanOffOrPresetB, "TCP port of the LAN server (the usual one is 8096)",
     formatInteger<&Settings::lanPort>, storeInteger<&Settings::lanPort>, describeLanPort},
    {"mouseEnabled", 7, SettingKind::flag, "1", RangeRule::none, 0, 1, nullptr, 0, GreyWhen::never,
     "air mouse off or on", formatFlag<&Settings::mouseEnabled>, storeFlag<&Settings::mouseEnabled>,
     describeMouse},
    {"deviceMode", 8, SettingKind::preset, "2", RangeRule::none, 0, 1, nullptr, 0, GreyWhen::never,
     "device preset: C polled (the LAN server can run), B streaming (no LAN server)",
     formatInteger<&Settings::deviceMode>, storeInteger<&Settings::deviceMode>, describeMode},
    {"lanEnabled", 9, SettingKind::flag, "0", RangeRule::none, 0, 1, nullptr, 0, GreyWhen::presetB,
     "LAN server off or on (only with preset C)", formatFlag<&Settings::lanEnabled>,
     storeFlag<&Settings::lanEnabled>, describeLan},
    {"webSocketEnabled", 10, SettingKind::flag, "0", RangeRule::none, 0, 1, nullptr, 0,
     GreyWhen::lanOffOrPresetB, "the LAN server speaks plain text (0) or WebSocket (1)",
     formatFlag<&Settings::webSocketEnabled>, storeFlag<&Settings::webSocketEnabled>,
     describeWebSocket},
    {"accelerationOutput", 11, SettingKind::outputKind, "0", RangeRule::none, 0, 1, nullptr, 0,
     GreyWhen::never, "d values are angles in degrees (0) or the averaged acceleration (1)",
     formatFlag<&Settings::accelerationOutput>, storeFlag<&Settings::accelerationOutput>,
     describeOutput},

    {"mouseSmoothing", 0, SettingKind::choice, "average", RangeRule::none, 0, 0,
     WORDS(smoothingWords), GreyWhen::never,
     "air mouse: a plain average, or adaptive (steady when slow, quick when fast)",
     formatChoice<MouseSmoothing, &Settings::mouseSmoothing, smoothingWords>,
     storeChoice<MouseSmoothing, &Settings::mouseSmoothing, smoothingWords, 2>, describeSmoothing},
    {"mouseMinCutoff", 0, SettingKind::decimal, "0.3", RangeRule::refuse, 0.01, 100, nullptr, 0,
     GreyWhen::never, "adaptive smoothing: cutoff at rest in Hz, 0.01 to 100",
     formatShortFloat<&Settings::mouseMinCutoff>, storeFloat<&Settings::mouseMinCutoff>,
     describeMinCutoff},
    {"mouseBeta", 0, SettingKind::decimal, "6", RangeRule::refuse, 0, 100, nullptr, 0,
     GreyWhen::never, "adaptive smoothing: rise of the cutoff with speed, 0 to 100",
     formatShortFloat<&Settings::mouseBeta>, storeFloat<&Settings::mouseBeta>, describeBeta},
    {"mouseClickHold", 0, SettingKind::integer, "0", RangeRule::refuse, 0, 1000, nullptr, 0,
     GreyWhen::never, "air mouse: ms the pointer stands still after a press, 0 to 1000",
     formatInteger<&Settings::mouseClickHold>, storeInteger<&Settings::mouseClickHold>,
     describeClickHold},
    {"mouseRecenter", 0, SettingKind::choice, "none", RangeRule::none, 0, 0, WORDS(recenterWords),
     GreyWhen::never, "air mouse: recenter gesture: middle-hold (1 s) or left-right (both at once)",
     formatChoice<MouseRecenter, &Settings::mouseRecenter, recenterWords>,
     storeChoice<MouseRecenter, &Settings::mouseRecenter, recenterWords, 3>, describeRecenter},
    {"mouseClutch", 0, SettingKind::choice, "none", RangeRule::none, 0, 0, WORDS(clutchWords),
     GreyWhen::never, "air mouse: the button that holds the pointer still while held",
     formatChoice<MouseClutch, &Settings::mouseClutch, clutchWords>,
     storeChoice<MouseClutch, &Settings::mouseClutch, clutchWords, 4>, describeClutch},
    {"mouseScreen", 0, SettingKind::screen, "primary", RangeRule::refuse, 1, mouseScreenMax,
     nullptr, 0, GreyWhen::never,
     "air mouse: the screen it spans: primary, all (every monitor) or a monitor's number",
     formatMouseScreen, storeMouseScreen, describeMouseScreen},
    {"mouseReachX", 0, SettingKind::decimal, "1", RangeRule::refuse, 0.1, 10, nullptr, 0,
     GreyWhen::never, "air mouse: horizontal reach, a factor on the gain, 0.1 to 10",
     formatShortFloat<&Settings::mouseReachX>, storeFloat<&Settings::mouseReachX>, describeReachX},
    {"mouseReachY", 0, SettingKind::decimal, "1", RangeRule::refuse, 0.1, 10, nullptr, 0,
     GreyWhen::never, "air mouse: vertical reach, a factor on the gain, 0.1 to 10",
     formatShortFloat<&Settings::mouseReachY>, storeFloat<&Settings::mouseReachY>, describeReachY},
    {"mousePrecision", 0, SettingKind::decimal, "4", RangeRule::refuse, 1, 20, nullptr, 0,
     GreyWhen::never, "air mouse: gain divisor while a button's Precision action holds, 1 to 20",
     formatShortFloat<&Settings::mousePrecision>, storeFloat<&Settings::mousePrecision>,
     describePrecision},
    {"dwellClick", 0, SettingKind::choice, "off", RangeRule::none, 0, 0, WORDS(dwellWords),
     GreyWhen::never, "air mouse: click when the cursor rests: off, left, right, double or drag",
     formatChoice<DwellClick, &Settings::dwellClick, dwellWords>,
     storeChoice<DwellClick, &Settings::dwellClick, dwellWords, 5>, describeDwellClick},
    {"dwellTime", 0, SettingKind::integer, "1000", RangeRule::refuse, 200, 5000, nullptr, 0,
     GreyWhen::never, "dwell click: ms the cursor rests before it clicks, 200 to 5000",
     formatInteger<&Settings::dwellTime>, storeInteger<&Settings::dwellTime>, describeDwellTime},
    {"dwellRadius", 0, SettingKind::integer, "8", RangeRule::refuse, 1, 200, nullptr, 0,
     GreyWhen::never, "dwell click: px the cursor may stray while it rests, 1 to 200",
     formatInteger<&Settings::dwellRadius>, storeInteger<&Settings::dwellRadius>,
     describeDwellRadius},
    {"pointer", 0, SettingKind::choice, "auto", RangeRule::none, 0, 0, WORDS(pointerWords),
     GreyWhen::never, "Linux: how the pointer is moved (Windows ignores it)",
     formatChoice<PointerBackend, &Settings::pointer, pointerWords>,
     storeChoice<PointerBackend, &Settings::pointer, pointerWords, 3>, describePointer},
    {"screenSize", 0, SettingKind::screenSize, "", RangeRule::refuse, 1, 100000, nullptr, 0,
     GreyWhen::never, "the screen size in pixels instead of the system's; empty: ask the system",
     formatText<getScreenSize, screenSizeSize>, setScreenSize, describeScreenSize},
    {"udpTarget", 0, SettingKind::address, "", RangeRule::refuse, 1, 65535, nullptr, 0,
     GreyWhen::never, "where each sample goes over UDP; empty: nowhere",
     formatText<getUdpTarget, udpTargetSize>, setUdpTarget, describeUdpTarget},
    {"udpFormat", 0, SettingKind::choice, "opentrack", RangeRule::none, 0, 0, WORDS(udpFormatWords),
     GreyWhen::never, "UDP packets: opentrack or osc",
     formatChoice<UdpFormat, &Settings::udpFormat, udpFormatWords>,
     storeChoice<UdpFormat, &Settings::udpFormat, udpFormatWords, 2>, describeUdpFormat},
    {"dsuServer", 0, SettingKind::choice, "off", RangeRule::none, 0, 0, WORDS(dsuServerWords),
     GreyWhen::never, "DSU (cemuhook) motion server for emulators: off or on",
     formatChoice<DsuServerSwitch, &Settings::dsuServer, dsuServerWords>,
     storeChoice<DsuServerSwitch, &Settings::dsuServer, dsuServerWords, 2>, describeDsuServer},
    {"dsuAddress", 0, SettingKind::ipv4, "127.0.0.1", RangeRule::none, 0, 0, nullptr, 0,
     GreyWhen::never, "DSU server: the IPv4 address it listens on; 0.0.0.0 for every address",
     formatText<getDsuAddress, dsuAddressSize>, setDsuAddress, describeDsuAddress},
    {"dsuPort", 0, SettingKind::integer, "26760", RangeRule::refuse, 1, 65535, nullptr, 0,
     GreyWhen::never, "DSU server: its UDP port, 1 to 65535", formatInteger<&Settings::dsuPort>,
     storeInteger<&Settings::dsuPort>, describeDsuPort},
    BUTTON_ROW(0, "button0",
               "the left button's action per press kind, as press:PageDown long:Shift+F5 "
               "double:B; empty: a left click as always"),
    BUTTON_ROW(1, "button1", "the right button's, as button0's; empty: a right click"),
    BUTTON_ROW(2, "button2", "the wheel-forward button's, as button0's; empty: it scrolls"),
    BUTTON_ROW(3, "button3", "the wheel-backward button's, as button0's; empty: it scrolls"),
    BUTTON_ROW(4, "button4", "the middle button's, as button0's; empty: a middle click"),
    {"buttonPreset", 0, SettingKind::choice, "none", RangeRule::none, 0, 0,
     WORDS(buttonPresetWords), GreyWhen::never,
     "buttons: presenter gives a slide show's keys to every button without a line of its own",
     formatChoice<ButtonPreset, &Settings::buttonPreset, buttonPresetWords>,
     storeChoice<ButtonPreset, &Settings::buttonPreset, buttonPresetWords, 2>,
     describeButtonPreset},
    {"longPress", 0, SettingKind::integer, "500", RangeRule::refuse, 100, 5000, nullptr, 0,
     GreyWhen::never, "buttons: ms a press is held to count as long, 100 to 5000",
     formatInteger<&Settings::longPress>, storeInteger<&Settings::longPress>, describeLongPress},
    {"doublePress", 0, SettingKind::integer, "300", RangeRule::refuse, 50, 1000, nullptr, 0,
     GreyWhen::never, "buttons: ms within which a second press counts as double, 50 to 1000",
     formatInteger<&Settings::doublePress>, storeInteger<&Settings::doublePress>,
     describeDoublePress},
    {"lanAddress", 0, SettingKind::listenAddress, "", RangeRule::length, 0, lanAddressSize - 1,
     nullptr, 0, GreyWhen::never,
     "the address the LAN server listens on: an IPv4 or IPv6 address of this machine, or "
     "localhost (this machine only); empty: every IPv4 address",
     formatText<getLanAddress, lanAddressSize>, setLanAddress, describeLanAddress},
    {"webSocketOrigins", 0, SettingKind::originList, "", RangeRule::length, 0,
     webSocketOriginsSize - 1, nullptr, 0, GreyWhen::never,
     "web pages that may use the WebSocket dialect, as origins separated by commas: null (a page "
     "opened from a file) or http://HOST:PORT; clients that are no browser send none and may; "
     "empty: every page",
     formatText<getWebSocketOrigins, webSocketOriginsSize>, setWebSocketOrigins,
     describeWebSocketOrigins},
    {"pointerMode", 0, SettingKind::choice, "absolute", RangeRule::none, 0, 0,
     WORDS(pointerModeWords), GreyWhen::never,
     "air mouse: absolute (where the device points), relative (its turns move the cursor) or "
     "hybrid (absolute, the centre dragged along past an edge)",
     formatChoice<PointerMode, &Settings::pointerMode, pointerModeWords>,
     storeChoice<PointerMode, &Settings::pointerMode, pointerModeWords, 3>, describePointerMode},
    {"relativeGain", 0, SettingKind::decimal, "1", RangeRule::refuse, 0.1, 10, nullptr, 0,
     GreyWhen::never, "air mouse: a factor on the relative mode's moves, 0.1 to 10",
     formatShortFloat<&Settings::relativeGain>, storeFloat<&Settings::relativeGain>,
     describeRelativeGain},
    {"comDevice", 0, SettingKind::device, "", RangeRule::length, 0, comDeviceSize - 1, nullptr, 0,
     GreyWhen::never,
     "the device to open instead of comPort, found at every open: a path such as "
     "/dev/serial/by-id/usb-...-port0, or usb:VVVV:PPPP or usb:VVVV:PPPP:SERIAL "
     "(tolvane-config ports shows them); empty: comPort",
     formatText<getComDevice, comDeviceSize>, setComDevice, describeComDevice},
    {"gestureDeadZone", 0, SettingKind::decimal, "3", RangeRule::refuse, 0, 30, nullptr, 0,
     GreyWhen::never, "gestures: degrees of turn from the press that do nothing, 0 to 30",
     formatShortFloat<&Settings::gestureDeadZone>, storeFloat<&Settings::gestureDeadZone>,
     describeGestureDeadZone},
    {"scrollRate", 0, SettingKind::decimal, "1", RangeRule::refuse, 0.1, 20, nullptr, 0,
     GreyWhen::never,
     "Scroll, HScroll, Zoom: wheel notches a second per degree past the dead zone, 0.1 to 20",
     formatShortFloat<&Settings::scrollRate>, storeFloat<&Settings::scrollRate>,
     describeScrollRate},
    {"scrollMax", 0, SettingKind::decimal, "20", RangeRule::refuse, 1, 100, nullptr, 0,
     GreyWhen::never, "Scroll, HScroll, Zoom: the most wheel notches a second, 1 to 100",
     formatShortFloat<&Settings::scrollMax>, storeFloat<&Settings::scrollMax>, describeScrollMax},
    {"volumeStep", 0, SettingKind::decimal, "10", RangeRule::refuse, 2, 90, nullptr, 0,
     GreyWhen::never, "Volume: degrees of roll per VolumeUp or VolumeDown key, 2 to 90",
     formatShortFloat<&Settings::volumeStep>, storeFloat<&Settings::volumeStep>,
     describeVolumeStep},
    FLICK_ROW(0, "flickLeft", "what a flick to the left sends, one action (PageUp); empty: none"),
    FLICK_ROW(1, "flickRight", "what a flick to the right sends, as flickLeft's"),
    FLICK_ROW(2, "flickUp", "what a flick upward sends, as flickLeft's"),
    FLICK_ROW(3, "flickDown", "what a flick downward sends, as flickLeft's"),
    {"flickSpeed", 0, SettingKind::decimal, "250", RangeRule::refuse, 50, 2000, nullptr, 0,
     GreyWhen::never, "flicks: a turn faster than this, in degrees a second, 50 to 2000",
     formatShortFloat<&Settings::flickSpeed>, storeFloat<&Settings::flickSpeed>,
     describeFlickSpeed},
    {"flickTime", 0, SettingKind::integer, "150", RangeRule::refuse, 50, 500, nullptr, 0,
     GreyWhen::never, "flicks: ... that lasts at most this many ms and ends, 50 to 500",
     formatInteger<&Settings::flickTime>, storeInteger<&Settings::flickTime>, describeFlickTime},
    {"flickWhen", 0, SettingKind::flickWhen, "airmouse-off", RangeRule::none, 0, 0, nullptr, 0,
     GreyWhen::never,
     "flicks act always, only while the air mouse is off (airmouse-off), or only while button "
     "N is held (held:N, N 0 to 4)",
     formatFlickWhen, storeFlickWhen, describeFlickWhen},
    {"overlay", 0, SettingKind::choice, "spotlight", RangeRule::none, 0, 0, WORDS(overlayWords),
     GreyWhen::never,
     "what a button with the action Overlay draws where the device points: spotlight, laser or "
     "magnifier",
     formatChoice<OverlayStyle, &Settings::overlay, overlayWords>,
     storeChoice<OverlayStyle, &Settings::overlay, overlayWords, 3>, describeOverlay},
    {"overlayRadius", 0, SettingKind::integer, "120", RangeRule::refuse, 20, 800, nullptr, 0,
     GreyWhen::never, "overlay: the spotlight's and the magnifier's radius in px, 20 to 800",
     formatInteger<&Settings::overlayRadius>, storeInteger<&Settings::overlayRadius>,
     describeOverlayRadius},
    {"overlayDim", 0, SettingKind::integer, "60", RangeRule::refuse, 0, 95, nullptr, 0,
     GreyWhen::never, "overlay: percent darker outside the spotlight, 0 to 95",
     formatInteger<&Settings::overlayDim>, storeInteger<&Settings::overlayDim>, describeOverlayDim},
    {"overlayColor", 0, SettingKind::color, "#ff2020", RangeRule::none, 0, 0, nullptr, 0,
     GreyWhen::never, "overlay: the laser's dot and the spotlight's rim, #RRGGBB",
     formatOverlayColor, storeOverlayColor, describeOverlayColor},
    {"overlayTrail", 0, SettingKind::integer, "300", RangeRule::refuse, 0, 2000, nullptr, 0,
     GreyWhen::never, "overlay: ms the laser's trail fades over, 0 to 2000",
     formatInteger<&Settings::overlayTrail>, storeInteger<&Settings::overlayTrail>,
     describeOverlayTrail},
    {"overlayZoom", 0, SettingKind::decimal, "2", RangeRule::refuse, 1.5, 4, nullptr, 0,
     GreyWhen::never, "overlay: the magnifier's factor, 1.5 to 4",
     formatShortFloat<&Settings::overlayZoom>, storeFloat<&Settings::overlayZoom>,
     describeOverlayZoom},
};
#undef FLICK_ROW
#undef BUTTON_ROW
#undef WORDS
const int settingsRowCount = static_cast<int>(sizeof settingsTable / sizeof settingsTable[0]);

int findSetting(const char* name, size_t length) {
    for (int i = 0; i < settingsRowCount; ++i)
        if (std::strlen(settingsTable[i].name) == length &&
            std::strncmp(settingsTable[i].name, name, length) == 0)
            return i;
    return -1;
}

bool parseFlickWhen(const char* text, int32_t* when) {
    if (std::strcmp(text, "always") == 0) {
        *when = flickWhenAlways;
        return true;
    }
    if (std::strcmp(text, "airmouse-off") == 0) {
        *when = flickWhenAirMouseOff;
        return true;
    }
    if (std::strncmp(text, "held:", 5) == 0 && text[5] >= '0' && text[5] < '0' + buttonCount &&
        text[6] == '\0') {
        *when = text[5] - '0';
        return true;
    }
    return false;
}

bool isKeyedSetting(int index) {
    return settingsTable[index].line == 0;
}

bool settingAtDefault(int index) {
    char text[udpTargetSize + 8];
    TextBuilder out(text, sizeof text);
    settingsTable[index].format(out);
    return std::strcmp(text, settingsTable[index].defaultText) == 0;
}

void appendShortFloat(TextBuilder& out, float value) {
    char text[64];
    for (int precision = 1; precision <= 12; ++precision) {
        formatFixed(text, sizeof text, static_cast<double>(value), precision);
        float back = 0.0f;
        if (scanFloat(text, &back) && back == value) break;
    }
    // Trailing zeros say nothing: 1.0 is written 1.
    char* end = text + std::strlen(text);
    if (std::strchr(text, '.') != nullptr) {
        while (end[-1] == '0')
            --end;
        if (end[-1] == '.') --end;
        *end = '\0';
    }
    out.append(text);
}

bool parseScreenSize(const char* text, int32_t* width, int32_t* height) {
    int64_t numbers[2] = {0, 0};
    const char* p = text;
    for (int n = 0; n < 2; ++n) {
        if (*p < '1' || *p > '9') return false;
        while (*p >= '0' && *p <= '9') {
            numbers[n] = numbers[n] * 10 + (*p++ - '0');
            if (numbers[n] > 100000) return false;
        }
        if (n == 0 && *p++ != 'x') return false;
    }
    if (*p != '\0') return false;
    *width = static_cast<int32_t>(numbers[0]);
    *height = static_cast<int32_t>(numbers[1]);
    return true;
}

bool parseMouseScreen(const char* text, int32_t* which) {
    if (std::strcmp(text, "primary") == 0) {
        *which = mouseScreenPrimary;
        return true;
    }
    if (std::strcmp(text, "all") == 0) {
        *which = mouseScreenAll;
        return true;
    }
    int32_t number = 0;
    const char* p = text;
    if (*p < '1' || *p > '9') return false;
    while (*p >= '0' && *p <= '9' && number <= mouseScreenMax)
        number = number * 10 + (*p++ - '0');
    if (*p != '\0' || number > mouseScreenMax) return false;
    *which = number;
    return true;
}

namespace {

bool isHostNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
           c == '.';
}

bool isIpv6Char(char c) {
    return (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || (c >= '0' && c <= '9') || c == ':' ||
           c == '.';
}

} // namespace

bool parseUdpTarget(const char* text, char* host, size_t hostSize, uint16_t* port) {
    const char* colon = std::strrchr(text, ':');
    if (colon == nullptr || colon == text) return false;
    const char* begin = text;
    const char* end = colon;
    if (*text == '[') {
        // [IPv6]:PORT; the address itself is the system's to judge.
        if (colon[-1] != ']' || colon - text < 4) return false;
        begin = text + 1;
        end = colon - 1;
        for (const char* c = begin; c < end; ++c)
            if (!isIpv6Char(*c)) return false;
        if (std::memchr(begin, ':', static_cast<size_t>(end - begin)) == nullptr) return false;
    } else {
        // An IPv4 address or a host name: letters, digits, "-" and ".", at
        // most 253 of them, no empty label.
        if (end - begin > 253 || *begin == '.' || *begin == '-' || end[-1] == '.') return false;
        for (const char* c = begin; c < end; ++c)
            if (!isHostNameChar(*c) || (*c == '.' && c[1] == '.')) return false;
    }
    int64_t number = 0;
    const char* p = colon + 1;
    if (*p < '1' || *p > '9') return false;
    while (*p >= '0' && *p <= '9') {
        number = number * 10 + (*p++ - '0');
        if (number > 65535) return false;
    }
    if (*p != '\0') return false;
    const auto length = static_cast<size_t>(end - begin);
    if (host != nullptr) {
        if (length >= hostSize) return false;
        std::memcpy(host, begin, length);
        host[length] = '\0';
    }
    *port = static_cast<uint16_t>(number);
    return true;
}

int settingValueLimit(int index) {
    const SettingRow& row = settingsTable[index];
    if (row.line == 1) return comPortSize - 1;
    if (row.line != 0) return settingsLineSize - 1; // a number: its own rules say more
    const int line = settingsLineSize - 1 - static_cast<int>(std::strlen(row.name)) - 1;
    const int field = row.kind == SettingKind::screenSize ? screenSizeSize - 1
                      : row.kind == SettingKind::address  ? udpTargetSize - 1
                                                          : line;
    return line < field ? line : field;
}

bool checkSettingText(int index, const char* text, TextBuilder& reason) {
    const SettingRow& row = settingsTable[index];
    // A longer value would be cut when the file is read again.
    if (const size_t length = std::strlen(text);
        row.line == 0 && length > static_cast<size_t>(settingValueLimit(index))) {
        reason.append("is ");
        reason.appendInteger(static_cast<long long>(length));
        reason.append(" bytes long; at most ");
        reason.appendInteger(settingValueLimit(index));
        reason.append(" fit (the programs read 255 bytes of a line, \"");
        reason.append(row.name);
        reason.append("=\" included)");
        return false;
    }
    switch (row.kind) {
    case SettingKind::choice:
        for (int i = 0; i < row.wordCount; ++i)
            if (std::strcmp(text, row.words[i]) == 0) return true;
        reason.append("is not one of ");
        for (int i = 0; i < row.wordCount; ++i) {
            reason.append(i == 0 ? "" : i + 1 == row.wordCount ? " or " : ", ");
            reason.append(row.words[i]);
        }
        return false;
    case SettingKind::decimal: {
        double value = 0.0;
        float stored = 0.0f;
        // The whole text must be the number, as a person typing it means it.
        if (!scanDecimal(text, &value) || !scanFloat(text, &stored)) {
            reason.append("is not a number");
            return false;
        }
        const char* p = text;
        if (*p == '+' || *p == '-') ++p;
        while ((*p >= '0' && *p <= '9') || *p == '.')
            ++p;
        bool whole = true;
        if (*p == 'e' || *p == 'E') {
            ++p;
            if (*p == '+' || *p == '-') ++p;
            whole = *p >= '0' && *p <= '9'; // an exponent needs its digits
            while (*p >= '0' && *p <= '9')
                ++p;
        }
        if (!whole || *p != '\0') {
            reason.append("is not a number");
            return false;
        }
        if (!(value >= row.low && value <= row.high)) {
            reason.append("is outside ");
            appendShortFloat(reason, static_cast<float>(row.low));
            reason.append(" to ");
            appendShortFloat(reason, static_cast<float>(row.high));
            return false;
        }
        return true;
    }
    case SettingKind::integer: {
        int64_t value = 0;
        const char* p = text;
        const bool negative = *p == '-';
        if (*p == '-' || *p == '+') ++p;
        if (*p < '0' || *p > '9') {
            reason.append("is not a whole number");
            return false;
        }
        while (*p >= '0' && *p <= '9' && value <= 1000000000000LL)
            value = value * 10 + (*p++ - '0');
        if (*p != '\0') {
            reason.append("is not a whole number");
            return false;
        }
        if (negative) value = -value;
        if (value < row.low || value > row.high) {
            reason.append("is outside ");
            reason.appendInteger(static_cast<long long>(row.low));
            reason.append(" to ");
            reason.appendInteger(static_cast<long long>(row.high));
            return false;
        }
        return true;
    }
    case SettingKind::screenSize: {
        int32_t width = 0, height = 0;
        if (*text == '\0' || parseScreenSize(text, &width, &height)) return true;
        reason.append("is no size WxH (each 1 to 100000, for example 1920x1080)");
        return false;
    }
    case SettingKind::screen: {
        int32_t which = 0;
        if (parseMouseScreen(text, &which)) return true;
        reason.append("is not primary, all or a monitor's number 1 to 16 (tolvane-config show "
                      "lists the monitors)");
        return false;
    }
    case SettingKind::ipv4: {
        ListenAddress address;
        address.family = ListenFamily::ipv4;
        if (!parseIpv4Text(text, address.bytes)) {
            reason.append("is no IPv4 address a.b.c.d (127.0.0.1 for this machine only, 0.0.0.0 "
                          "for every address)");
            return false;
        }
        const char* why = unlistenableAddressReason(address);
        if (why == nullptr) return true;
        reason.append(why);
        return false;
    }
    case SettingKind::address: {
        uint16_t port = 0;
        if (*text == '\0' || parseUdpTarget(text, nullptr, 0, &port)) return true;
        reason.append("is no HOST:PORT (an IPv4 address, a host name or [IPv6], and a port 1 to "
                      "65535, for example 127.0.0.1:4242)");
        return false;
    }
    case SettingKind::buttonLine: {
        ButtonActions actions;
        if (std::strlen(text) >= buttonActionsSize) {
            reason.append("is longer than ");
            reason.appendInteger(buttonActionsSize - 1);
            reason.append(" characters");
            return false;
        }
        return parseButtonActions(text, &actions, reason);
    }
    case SettingKind::listenAddress: {
        ListenAddress address;
        return parseListenAddress(text, &address, &reason);
    }
    case SettingKind::device: {
        ComDevice device;
        return *text == '\0' || parseComDevice(text, &device, reason);
    }
    case SettingKind::action: {
        ButtonAction action;
        if (std::strlen(text) >= buttonActionsSize) {
            reason.append("is longer than ");
            reason.appendInteger(buttonActionsSize - 1);
            reason.append(" characters");
            return false;
        }
        return *text == '\0' || parseSingleAction(text, &action, reason);
    }
    case SettingKind::flickWhen: {
        int32_t when = 0;
        if (parseFlickWhen(text, &when)) return true;
        reason.append("is not always, airmouse-off or held:N (a button 0 to 4)");
        return false;
    }
    case SettingKind::color: {
        uint32_t rgb = 0;
        if (parseColor(text, &rgb)) return true;
        reason.append("is no colour #RRGGBB (for example #ff2020)");
        return false;
    }
    case SettingKind::originList:
        if (static_cast<double>(std::strlen(text)) > row.high) {
            reason.append("is longer than ");
            reason.appendInteger(static_cast<long long>(row.high));
            reason.append(" bytes");
            return false;
        }
        return checkOriginList(text, reason);
    default:
        return true; // the eleven lines go through the dialog's rules
    }
}

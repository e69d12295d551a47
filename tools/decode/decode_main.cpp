// tolvane-decode: turns captured device traffic into the LAN reply texts that
// the bridge would send, one line per device line found; with --cursor also
// what the air mouse would do with each line.

#include <getopt.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/capture.h"
#include "device/device_line.h"
#include "device/line_search.h"
#include "motion/averaging.h"
#include "output/hand/air_mouse.h"
#include "output/hand/mouse_feel.h"
#include "output/hand/pointer_output.h"
#include "output/overlay/overlay_output.h"
#include "protocol/line_step.h"
#include "protocol/reply_text.h"
#include "settings/assign_setting.h"
#include "settings/settings.h"
#include "settings/settings_table.h"
#include "text/command_line.h"
#include "text/help_examples.h"
#include "text/number_text.h"
#include "tools/decode/printed_pointer.h"

// The tool has no window; nothing is painted.

namespace {

const char program[] = "tolvane-decode";

// The feel options and their settings, in the order of their option codes.
struct FeelOption {
    const char* option;
    const char* setting;
};
const FeelOption feelOptions[] = {
    {"--mouse-smoothing", "mouseSmoothing"},
    {"--mouse-min-cutoff", "mouseMinCutoff"},
    {"--mouse-beta", "mouseBeta"},
    {"--click-hold", "mouseClickHold"},
    {"--recenter", "mouseRecenter"},
    {"--clutch", "mouseClutch"},
    {"--button0", "button0"},
    {"--button1", "button1"},
    {"--button2", "button2"},
    {"--button3", "button3"},
    {"--button4", "button4"},
    {"--button-preset", "buttonPreset"},
    {"--long-press", "longPress"},
    {"--double-press", "doublePress"},
    {"--reach-x", "mouseReachX"},
    {"--reach-y", "mouseReachY"},
    {"--precision", "mousePrecision"},
    {"--dwell-click", "dwellClick"},
    {"--dwell-time", "dwellTime"},
    {"--dwell-radius", "dwellRadius"},
    {"--pointer-mode", "pointerMode"},
    {"--relative-gain", "relativeGain"},
};

const char usage[] =
    "usage: tolvane-decode [options] [FILE]\n"
    "Reads device traffic from FILE or standard input: raw bytes of the serial line,\n"
    "or a capture that \"tolvane-headless --record FILE\" wrote (it begins with\n"
    "\"# tolvane capture 1\"). Prints, per device line, the plain LAN reply the\n"
    "bridge sends for it (or with --json the WebSocket JSON text), \"rejected\", or\n"
    "for a captured line that came cut short (the bridge then restarts),\n"
    "\"incomplete\". Where the bridge started again on the same capture (its\n"
    "\"# appended\" line), the windows and the air mouse start afresh, as they\n"
    "did in the bridge.\n"
    "\n"
    "  --json                 the WebSocket JSON text instead of the plain reply\n"
    "  --acceleration         d values are the averaged acceleration (as\n"
    "                         accelerationOutput 1), not angles\n"
    "  --lan-averaging N      samples averaged for the replies, 1 to 255 (default 1)\n"
    "  --cursor WIDTHxHEIGHT  also print what the air mouse does with each line on a\n"
    "                         screen of this size: \" | cursor X,Y\" and its button\n"
    "                         and wheel events (\" | left down, wheel +4\")\n"
    "  --mouse-averaging N    with --cursor: samples averaged for the air mouse,\n"
    "                         1 to 255 (default 32)\n"
    "  --screen-distance X    with --cursor: virtual screen distance in screen\n"
    "                         widths, 0.1 to 10 (default 1)\n"
    "  --scroll-speed N       with --cursor: wheel step, 1 to 64 (default 4)\n"
    "  --mouse-smoothing average|adaptive\n"
    "                         with --cursor: the window average (default), or\n"
    "                         adaptive smoothing of single samples\n"
    "  --mouse-min-cutoff HZ  with adaptive: cut-off at rest, 0.01 to 100\n"
    "                         (default 0.3)\n"
    "  --mouse-beta B         with adaptive: rise of the cut-off with speed, 0 to\n"
    "                         100 (default 6)\n"
    "  --click-hold MS        with --cursor: the cursor holds still MS ms after a\n"
    "                         button press or release, 0 to 1000 (default 0)\n"
    "  --recenter none|middle-hold|left-right\n"
    "                         with --cursor: the gesture that makes where the device\n"
    "                         points the screen's centre (default none)\n"
    "  --clutch none|left|right|middle\n"
    "                         with --cursor: the button that holds the cursor while\n"
    "                         the device moves (default none)\n"
    "  --button0 .. --button4 " TOLVANE_EXAMPLE_QUOTE
    "press:PageDown long:Shift+F5 double:B" TOLVANE_EXAMPLE_QUOTE "\n"
    "                         with --cursor: what a button does per press kind, as\n"
    "                         \"tolvane-config --help\" explains; keys print as\n"
    "                         \"key F5 down, key F5 up\"\n"
    "  --button-preset none|presenter\n"
    "                         with --cursor: the slide show's keys for the buttons\n"
    "                         without an option of their own (default none)\n"
    "  --long-press MS        with --cursor: a press held this long is long, 100 to\n"
    "                         5000 (default 500)\n"
    "  --double-press MS      with --cursor: a second press this soon after a\n"
    "                         release is double, 50 to 1000 (default 300)\n"
    "  --reach-x X, --reach-y X\n"
    "                         with --cursor: the reach across and up, a factor on\n"
    "                         the gain, 0.1 to 10 (default 1)\n"
    "  --precision X          with --cursor: a button's Precision action divides the\n"
    "                         gain by X, 1 to 20 (default 4)\n"
    "  --dwell-click off|left|right|double|drag\n"
    "                         with --cursor: a click at each rest (default off)\n"
    "  --dwell-time MS        with a dwell click: how long a rest lasts, 200 to 5000\n"
    "                         (default 1000)\n"
    "  --dwell-radius PX      with a dwell click: how far the cursor may stray from\n"
    "                         where the rest began, 1 to 200 (default 8)\n"
    "  --pointer-mode absolute|relative|hybrid\n"
    "                         with --cursor: where the device points (default),\n"
    "                         its turns as moves (\"move +DX,+DY\"), or absolute with\n"
    "                         the centre dragged along past an edge (\"centre\n"
    "                         dragged +DX,+DY\")\n"
    "  --relative-gain X      with relative moves: a factor on them, 0.1 to 10\n"
    "                         (default 1)\n"
    "  --config FILE          the settings of a \"tolv.conf\" (read as the bridge\n"
    "                         reads it) in place of the defaults; the options\n"
    "                         above and --set change them further, in the order\n"
    "                         given\n"
    "  --set NAME=VALUE       one setting, as \"tolvane-config --help\" lists them\n"
    "                         (for example button0=Scroll); repeat for more\n"
    "  --rate HZ              with --cursor: lines a second of raw traffic, for the\n"
    "                         times the air mouse sees, 1 to 10000 (default 150); a\n"
    "                         capture's records carry their own times\n"
    "  -h, --help             this text\n"
    "      --version          the program's version\n"
    "\n"
    "Exit status: 0, or 1 when the input cannot be read or holds lines that are no\n"
    "capture records.\n"
    "\n"
    "Examples:\n"
    "  tolvane-decode " TOLVANE_EXAMPLE_CAPTURE "\n"
    "  tolvane-decode --json --lan-averaging 8 capture.txt\n"
    "  tolvane-decode --cursor 1920x1080 --mouse-averaging 16 capture.txt\n"
    "  tolvane-decode --cursor 1920x1080 --mouse-smoothing adaptive --clutch right\n"
    "                 capture.txt\n"
    "  tolvane-decode --cursor 1920x1080 --button-preset presenter capture.txt\n"
    "  tolvane-decode --cursor 1920x1080 --config tolv.conf --set mouseClutch=right\n"
    "                 capture.txt\n";

// The averaging, the output kind, the screen distance and the scroll speed
// live in the settings record, where --config and --set put them too.
struct Options {
    bool json = false;
    bool cursor = false;
    int32_t width = 0;
    int32_t height = 0;
    double rate = 150.0; // lines a second of raw traffic
    const char* path = nullptr;
    // The air mouse's switch came from --config or --set; otherwise --cursor
    // turns it on.
    bool mouseSwitchGiven = false;
};

// "WIDTHxHEIGHT", each 1 to 100000 pixels.
bool parseScreenSize(const char* text, int32_t* width, int32_t* height) {
    const char* x = std::strchr(text, 'x');
    if (x == nullptr || x - text >= 16) return false;
    char widthText[16];
    std::memcpy(widthText, text, static_cast<size_t>(x - text));
    widthText[x - text] = '\0';
    int64_t w = 0, h = 0;
    if (!parseWholeNumber(widthText, 1, 100000, &w) || !parseWholeNumber(x + 1, 1, 100000, &h))
        return false;
    *width = static_cast<int32_t>(w);
    *height = static_cast<int32_t>(h);
    return true;
}

// --config FILE: the settings as the bridge reads them from its file; -1, or
// the exit status when the file cannot be read.
int readConfig(const char* path) {
    int error = 0;
    FILE* file = openSettingsFile(path, &error);
    if (file == nullptr)
        return usageError(program, "--config %s cannot be read: %s", path,
                          settingsOpenReason(error));
    readSettingsStream(file);
    const bool failed = std::ferror(file) != 0;
    error = errno;
    std::fclose(file);
    if (failed)
        return usageError(program, "--config %s cannot be read: %s", path, std::strerror(error));
    return -1;
}

// -1 when the options are good, else the exit status.
int parseOptions(int argc, char** argv, Options* o) {
    enum {
        jsonOption = 256,
        accelerationOption,
        mouseAveragingOption,
        lanAveragingOption,
        cursorOption,
        screenDistanceOption,
        scrollSpeedOption,
        smoothingOption,
        minCutoffOption,
        betaOption,
        clickHoldOption,
        recenterOption,
        clutchOption,
        button0Option,
        button1Option,
        button2Option,
        button3Option,
        button4Option,
        buttonPresetOption,
        longPressOption,
        doublePressOption,
        reachXOption,
        reachYOption,
        precisionOption,
        dwellClickOption,
        dwellTimeOption,
        dwellRadiusOption,
        pointerModeOption,
        relativeGainOption,
        configOption,
        setOption,
        rateOption,
        versionOption
    };
    const option options[] = {
        {"json", no_argument, nullptr, jsonOption},
        {"acceleration", no_argument, nullptr, accelerationOption},
        {"mouse-averaging", required_argument, nullptr, mouseAveragingOption},
        {"lan-averaging", required_argument, nullptr, lanAveragingOption},
        {"cursor", required_argument, nullptr, cursorOption},
        {"screen-distance", required_argument, nullptr, screenDistanceOption},
        {"scroll-speed", required_argument, nullptr, scrollSpeedOption},
        {"mouse-smoothing", required_argument, nullptr, smoothingOption},
        {"mouse-min-cutoff", required_argument, nullptr, minCutoffOption},
        {"mouse-beta", required_argument, nullptr, betaOption},
        {"click-hold", required_argument, nullptr, clickHoldOption},
        {"recenter", required_argument, nullptr, recenterOption},
        {"clutch", required_argument, nullptr, clutchOption},
        {"button0", required_argument, nullptr, button0Option},
        {"button1", required_argument, nullptr, button1Option},
        {"button2", required_argument, nullptr, button2Option},
        {"button3", required_argument, nullptr, button3Option},
        {"button4", required_argument, nullptr, button4Option},
        {"button-preset", required_argument, nullptr, buttonPresetOption},
        {"long-press", required_argument, nullptr, longPressOption},
        {"double-press", required_argument, nullptr, doublePressOption},
        {"reach-x", required_argument, nullptr, reachXOption},
        {"reach-y", required_argument, nullptr, reachYOption},
        {"precision", required_argument, nullptr, precisionOption},
        {"dwell-click", required_argument, nullptr, dwellClickOption},
        {"dwell-time", required_argument, nullptr, dwellTimeOption},
        {"dwell-radius", required_argument, nullptr, dwellRadiusOption},
        {"pointer-mode", required_argument, nullptr, pointerModeOption},
        {"relative-gain", required_argument, nullptr, relativeGainOption},
        {"config", required_argument, nullptr, configOption},
        {"set", required_argument, nullptr, setOption},
        {"rate", required_argument, nullptr, rateOption},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, versionOption},
        {nullptr, 0, nullptr, 0},
    };
    const char* mouseOnly = nullptr; // an air-mouse option, which needs --cursor
    opterr = 0;
    int c;
    // The file first, wherever --config stands: the options change what it
    // holds, not the other way round.
    const char* config = nullptr;
    while ((c = getopt_long(argc, argv, ":h", options, nullptr)) != -1) {
        if (c != configOption) continue;
        if (config != nullptr) return usageError(program, "--config given twice");
        config = optarg;
    }
    if (config != nullptr) {
        if (const int status = readConfig(config); status >= 0) return status;
        o->mouseSwitchGiven = true;
    }
    optind = 0; // from the start again
    for (int previous = 1; (c = getopt_long(argc, argv, ":h", options, nullptr)) != -1;
         previous = optind) {
        int64_t whole = 0;
        double decimal = 0.0;
        switch (c) {
        case 'h':
            std::fputs(usage, stdout);
            return 0;
        case versionOption:
            return printVersion(program);
        case jsonOption:
            o->json = true;
            break;
        case accelerationOption:
            settings.accelerationOutput = 1;
            break;
        case mouseAveragingOption:
        case lanAveragingOption:
            if (!parseWholeNumber(optarg, 1, 255, &whole))
                return usageError(
                    program, "%s '%s' is not a length from 1 to 255",
                    c == mouseAveragingOption ? "--mouse-averaging" : "--lan-averaging", optarg);
            if (c == mouseAveragingOption) {
                settings.mouseAveraging = static_cast<int32_t>(whole);
                mouseOnly = "--mouse-averaging";
            } else {
                settings.lanAveraging = static_cast<int32_t>(whole);
            }
            break;
        case cursorOption:
            if (!parseScreenSize(optarg, &o->width, &o->height))
                return usageError(program,
                                  "--cursor '%s' is not WIDTHxHEIGHT in pixels (for example "
                                  "1920x1080)",
                                  optarg);
            o->cursor = true;
            break;
        case screenDistanceOption:
            if (!parseDecimalNumber(optarg, 0.1, 10.0, &decimal))
                return usageError(program, "--screen-distance '%s' is not from 0.1 to 10", optarg);
            settings.screenDistance = static_cast<float>(decimal);
            mouseOnly = "--screen-distance";
            break;
        case scrollSpeedOption:
            if (!parseWholeNumber(optarg, 1, 64, &whole))
                return usageError(program, "--scroll-speed '%s' is not from 1 to 64", optarg);
            settings.scrollSpeed = static_cast<int32_t>(whole);
            mouseOnly = "--scroll-speed";
            break;
        case smoothingOption:
        case minCutoffOption:
        case betaOption:
        case clickHoldOption:
        case recenterOption:
        case clutchOption:
        case button0Option:
        case button1Option:
        case button2Option:
        case button3Option:
        case button4Option:
        case buttonPresetOption:
        case longPressOption:
        case doublePressOption:
        case reachXOption:
        case reachYOption:
        case precisionOption:
        case dwellClickOption:
        case dwellTimeOption:
        case dwellRadiusOption:
        case pointerModeOption:
        case relativeGainOption: {
            // The air mouse's feel, checked and stored by the settings'
            // own rules.
            const FeelOption& feel = feelOptions[c - smoothingOption];
            const int row = findSetting(feel.setting, std::strlen(feel.setting));
            char reason[512] = "is not known";
            TextBuilder why(reason, sizeof reason);
            if (row < 0 || !checkSettingText(row, optarg, why))
                return usageError(program, "%s '%s' %s", feel.option, optarg, reason);
            settingsTable[row].store(optarg);
            mouseOnly = feel.option;
            break;
        }
        case configOption:
            break; // read above
        case setOption: {
            char reason[640] = "";
            TextBuilder why(reason, sizeof reason);
            if (!assignSetting(optarg, why)) return usageError(program, "--set %s", reason);
            if (std::strncmp(optarg, "mouseEnabled=", 13) == 0) o->mouseSwitchGiven = true;
            break;
        }
        case rateOption:
            if (!parseDecimalNumber(optarg, 1.0, 10000.0, &decimal))
                return usageError(program, "--rate '%s' is not from 1 to 10000 lines a second",
                                  optarg);
            o->rate = decimal;
            mouseOnly = "--rate";
            break;
        default:
            return optionError(program, c, argc, argv, previous);
        }
    }
    if (mouseOnly != nullptr && !o->cursor)
        return usageError(program, "%s acts on the air mouse: add --cursor WIDTHxHEIGHT",
                          mouseOnly);
    if (optind < argc) o->path = argv[optind++];
    if (optind < argc) return usageError(program, "more than one input file: '%s'", argv[optind]);
    return -1;
}

// " | cursor X,Y | events" after the reply: what the air mouse did; in
// relative mode " | move +DX,+DY", and in hybrid mode the overflow past an
// edge that dragged the centre along as " | centre dragged +DX,+DY"; and
// " | overlay on" or " | overlay off" where a button showed or hid it.
void printPointerActions() {
    if (pointerActions.placed)
        std::printf(" | cursor %ld,%ld", static_cast<long>(pointerActions.x),
                    static_cast<long>(pointerActions.y));
    else if (pointerActions.moved)
        std::printf(" | move %+ld,%+ld", static_cast<long>(pointerActions.dx),
                    static_cast<long>(pointerActions.dy));
    else
        std::fputs(" | cursor stays", stdout);
    float dragX = 0.0f, dragY = 0.0f;
    if (takeCentreDrag(&dragX, &dragY))
        std::printf(" | centre dragged %+.0f,%+.0f", static_cast<double>(dragX),
                    static_cast<double>(dragY));
    static bool overlayWasShown = false;
    if (overlayShown() != overlayWasShown) {
        overlayWasShown = !overlayWasShown;
        std::fputs(overlayWasShown ? " | overlay on" : " | overlay off", stdout);
    }
    // A flick's events come last: " | flick right: key PageDown down, ...".
    int flickEvents = 0;
    const FlickDirection flick = takeFlickOfPass(&flickEvents);
    const char* events = pointerActions.events;
    if (flick == FlickDirection::none) {
        if (pointerActions.eventsLength > 0) std::printf(" | %s", events);
        return;
    }
    int entries = pointerActions.eventsLength > 0 ? 1 : 0;
    for (const char* c = events; (c = std::strstr(c, ", ")) != nullptr; c += 2)
        ++entries;
    const char* own = events; // where the flick's events begin
    for (int n = entries - flickEvents; n > 0; --n)
        own = std::strstr(own, ", ") + 2;
    const int before = static_cast<int>(own - events) - (own > events ? 2 : 0);
    std::printf(" | %.*s%sflick %s%s%s", before, events, before > 0 ? ", " : "", flickName(flick),
                *own != '\0' ? ": " : "", own);
}

// The input for the line search: first the bytes taken while looking for a
// capture's first line, then the rest of the file.
struct Input {
    FILE* file;
    char taken[sizeof captureHeader + 2]; // the header, perhaps a CR, the line feed
    int takenLength = 0;
    int takenAt = 0;
};

bool readFromInput(void* source, char* out, int count, int* got) {
    Input& in = *static_cast<Input*>(source);
    *got = 0;
    while (*got < count && in.takenAt < in.takenLength)
        out[(*got)++] = in.taken[in.takenAt++];
    *got += static_cast<int>(std::fread(out + *got, 1, static_cast<size_t>(count - *got), in.file));
    return *got == count;
}

// Takes the input's first bytes; true when they are a capture's first line
// (with a CR LF line end too).
bool startsAsCapture(Input& in) {
    const int most = static_cast<int>(sizeof in.taken);
    for (int c; in.takenLength < most && (c = std::fgetc(in.file)) != EOF;) {
        in.taken[in.takenLength++] = static_cast<char>(c);
        if (c == '\n') break;
    }
    return in.takenLength > 0 && in.taken[in.takenLength - 1] == '\n' &&
           isCaptureHeader(in.taken, static_cast<size_t>(in.takenLength - 1));
}

// What the bridge does with one line, as text: the reply or "rejected", and
// with --cursor what the air mouse did.
struct Decoder {
    const Options& options;
    LineStepSettings step;
    LineState state{&mouseWindow, &lanWindow};

    // What the Run command and a new worker's first cycle do: empty windows,
    // a fresh step, and an air mouse that forgets its reference, buttons,
    // filter and gestures. Once at the start and at every new start of the
    // bridge in a capture, whose times then count from 0 again.
    void startRun() {
        mouseWindow.count = 0;
        lanWindow.count = 0;
        state = LineState{&mouseWindow, &lanWindow};
        if (!options.cursor) return;
        pointerOutput.prepare();
        pointerOutput.begin();
    }

    // seconds: when the line arrived, for the air mouse's feel.
    void decode(const char* line, int length, double seconds) {
        LinePass pass = stepLine(state, step, line, length);
        pass.received = std::chrono::steady_clock::time_point(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(seconds)));
        if (!pass.accepted) {
            std::fputs("rejected\n", stdout);
            return;
        }
        char reply[replyTextSize];
        int n = options.json
                    ? formatJsonReply(reply, sizeof reply, *pass.lanOutput, *pass.buttons)
                    : formatPlainReply(reply, sizeof reply, *pass.lanOutput, *pass.buttons);
        if (n < 0) {
            std::fputs("rejected", stdout); // the bridge would send no reply either
        } else {
            std::fwrite(reply, 1, static_cast<size_t>(n), stdout);
        }
        if (options.cursor) {
            clearPointerActions();
            pointerOutput.pass(pass);
            printPointerActions();
        }
        std::fputc('\n', stdout);
    }
};

// The records of a capture, each one line as the bridge's line search read
// it. Malformed lines are named on standard error and passed over; returns
// how many there were.
long decodeCapture(Decoder& decoder, FILE* in, const char* name) {
    static char text[captureRecordTextMax + 1];
    CaptureRecord record;
    long malformed = 0;
    size_t length = 0;
    bool cut = false;
    for (long number = 2; readTextLine(in, text, sizeof text, &length, &cut); ++number) {
        const char* reason = "longer than any record";
        const CaptureLineKind kind =
            cut ? CaptureLineKind::malformed : parseCaptureLine(text, length, &record, &reason);
        if (kind == CaptureLineKind::comment) {
            if (isCaptureNewStart(text, length)) decoder.startRun();
            continue;
        }
        if (kind == CaptureLineKind::malformed) {
            std::fprintf(stderr, "%s: %s line %ld passed over: %s\n", program, name, number,
                         reason);
            ++malformed;
            continue;
        }
        // The bridge steps only whole lines; a cut one makes it restart.
        if (record.length != static_cast<size_t>(deviceLineLength)) {
            std::fputs("incomplete\n", stdout);
            continue;
        }
        decoder.decode(record.bytes, static_cast<int>(record.length),
                       static_cast<double>(record.microseconds) / 1e6);
    }
    return malformed;
}

} // namespace

int main(int argc, char** argv) {
    setDefaults(); // the air mouse's feel options start from the settings' defaults
    Options options;
    const int status = parseOptions(argc, argv, &options);
    if (status >= 0) return status;

    FILE* in = stdin;
    const char* name = "standard input";
    if (options.path != nullptr && std::strcmp(options.path, "-") != 0) {
        name = options.path;
        in = std::fopen(options.path, "rb");
        if (in == nullptr) {
            std::fprintf(stderr, "%s: cannot read %s: %s\n", program, name, std::strerror(errno));
            return 1;
        }
    }
    // Input that comes as it is made (a pipe, a FIFO the bridge records to, a
    // terminal) is answered line by line, not when a buffer is full.
    struct stat kind {};
    if (fstat(fileno(in), &kind) == 0 && !S_ISREG(kind.st_mode))
        std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (options.cursor) {
        screenWidth = options.width;
        screenHeight = options.height;
    }

    // The worker's own path: the line search, the per-line step, and the air
    // mouse as the worker's output (moving the printed pointer). With --cursor
    // the air mouse is on, unless the settings given turned it off (the
    // buttons' lines then act alone, as in the bridge).
    if (!options.cursor)
        settings.mouseEnabled = 0;
    else if (!options.mouseSwitchGiven)
        settings.mouseEnabled = 1;
    Decoder decoder{options, {}};
    decoder.step.mouseAveraging =
        mouseWindowLength(mouseFeelFromSettings(), settings.mouseAveraging.load());
    decoder.step.lanAveraging = settings.lanAveraging.load();
    decoder.step.acceleration = settings.accelerationOutput.load() != 0;
    decoder.startRun();
    Input input{in, {}};
    long malformed = 0;
    if (startsAsCapture(input)) {
        malformed = decodeCapture(decoder, in, name);
    } else {
        char line[deviceLineBufferSize];
        // A shorter tail at the end of the input is a line too.
        // Raw traffic has no times: one line every 1/rate seconds.
        long lines = 0;
        for (FoundLine found;
             (found = searchDeviceLine(readFromInput, &input, nullptr, line)).length > 0;)
            decoder.decode(line, found.length, static_cast<double>(lines++) / options.rate);
    }
    const bool failed = std::ferror(in) != 0;
    const int error = errno;
    if (in != stdin) std::fclose(in);
    if (failed) {
        std::fprintf(stderr, "%s: cannot read %s: %s\n", program, name, std::strerror(error));
        return 1;
    }
    if (malformed > 0) {
        std::fprintf(stderr, "%s: %ld lines of %s are no capture records and were passed over\n",
                     program, malformed, name);
        return 1;
    }
    return 0;
}

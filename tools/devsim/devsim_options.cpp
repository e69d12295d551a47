#include "tools/devsim/devsim_options.h"

#include <cstdio>
#include <cstring>
#include <getopt.h>

#include "text/command_line.h"
#include "text/number_text.h"
#include "tools/devsim/sim_lines.h"

namespace {

const char program[] = "tolvane-devsim";

const char usageText[] =
    "usage: tolvane-devsim [options]\n"
    "Simulated motion device on a pseudo-terminal. The first line printed is the\n"
    "terminal's path; after a simulated hang-up the new path is printed again.\n"
    "Point the bridge's comPort at that path (or at the --link path).\n"
    "\n"
    "  --link PATH          also make PATH a symbolic link to the terminal\n"
    "  --stream HZ          preset B: send lines by itself, HZ per second (1..1000),\n"
    "                       ignoring what it receives (default: preset C, one line\n"
    "                       per poll byte \"D\")\n"
    "  --replay FILE        send the lines of FILE in turn (then from the start\n"
    "                       again); blank lines and lines beginning with # are\n"
    "                       skipped; a capture (first line \"# tolvane capture 1\")\n"
    "                       is sent record by record, its bytes as recorded\n"
    "  --timed              with a capture: send each record at its recorded time\n"
    "                       after the first, and the capture only once\n"
    "  --quat X,Y,Z,W       send this quaternion instead of the synthetic motion\n"
    "  --accel X,Y,Z        send this acceleration instead of the synthetic one\n"
    "  --buttons BBBBB      send these five button characters (each 0..9); the\n"
    "                       synthetic motion presses none\n"
    "  --press B@T+D[/P]    press button B (0..4) T seconds after the first line\n"
    "                       for D seconds (and again every P seconds); repeat\n"
    "                       the option for more presses (at most 32)\n"
    "  --delay MS           answer each poll MS milliseconds late (0..60000)\n"
    "  --bad-checksum N     every Nth line has a wrong checksum\n"
    "  --garbage N          N bytes of noise (never \"T\") before every line (0..4096)\n"
    "  --cut N[:LEN]        every Nth line stops after LEN bytes (LEN below 76,\n"
    "                       default 61)\n"
    "  --silence-after N    send nothing more after N lines (0: silent from the\n"
    "                       start)\n"
    "  --hangup-after N     after every N lines the terminal goes away (when the\n"
    "                       next line is due) ...\n"
    "  --back-after MS      ... and a new one appears MS ms later (default 1000)\n"
    "  --log FILE           write every line sent to FILE (one per line, without\n"
    "                       its carriage return; events as lines beginning with #)\n"
    "  -h, --help           this text\n"
    "      --version        the program's version\n"
    "\n"
    "Examples:\n"
    "  tolvane-devsim --link /tmp/tolv-port\n"
    "  tolvane-devsim --stream 100 --buttons 10000\n"
    "  tolvane-devsim --link /tmp/tolv-port --press 0@2+0.3 --press 1@4+0.3\n"
    "  tolvane-devsim --stream 100 --replay trace.cap --timed\n"
    "\n"
    "SIGINT or SIGTERM ends it with status 0; a usage error gives status 2.\n";

// "a,b,c": exactly count decimal numbers, nothing else.
bool parseList(const char* text, double* out, int count) {
    char piece[64];
    const char* at = text;
    for (int i = 0; i < count; ++i) {
        const char* comma = std::strchr(at, ',');
        if ((i + 1 < count) != (comma != nullptr)) return false;
        const size_t length = comma != nullptr ? static_cast<size_t>(comma - at) : std::strlen(at);
        if (length >= sizeof piece) return false;
        std::memcpy(piece, at, length);
        piece[length] = '\0';
        if (!parseDecimalNumber(piece, -1e6, 1e6, &out[i])) return false;
        at = comma != nullptr ? comma + 1 : at;
    }
    return true;
}

// The fixed values must fit the line's eight-character fields.
bool fixedValuesFit(const DevsimOptions& o) {
    Sample sample{};
    ButtonState buttons{};
    for (int i = 0; i < 3; ++i)
        sample.value[i] = static_cast<float>(o.fixed.accelValue[i]);
    for (int i = 0; i < 4; ++i)
        sample.value[3 + i] = static_cast<float>(o.fixed.quatValue[i]);
    char line[simLineSize];
    return formatSimLine(sample, buttons, line);
}

// -1 when the options are good, else the exit status.
} // namespace

OptionsResult parseDevsimOptions(int argc, char** argv, DevsimOptions* o) {
    enum {
        linkOption = 256,
        streamOption,
        replayOption,
        quatOption,
        accelOption,
        buttonsOption,
        delayOption,
        badChecksumOption,
        garbageOption,
        cutOption,
        silenceAfterOption,
        hangupAfterOption,
        backAfterOption,
        logOption,
        timedOption,
        pressOption,
        versionOption
    };
    const option options[] = {
        {"link", required_argument, nullptr, linkOption},
        {"stream", required_argument, nullptr, streamOption},
        {"replay", required_argument, nullptr, replayOption},
        {"quat", required_argument, nullptr, quatOption},
        {"accel", required_argument, nullptr, accelOption},
        {"buttons", required_argument, nullptr, buttonsOption},
        {"delay", required_argument, nullptr, delayOption},
        {"bad-checksum", required_argument, nullptr, badChecksumOption},
        {"garbage", required_argument, nullptr, garbageOption},
        {"cut", required_argument, nullptr, cutOption},
        {"silence-after", required_argument, nullptr, silenceAfterOption},
        {"hangup-after", required_argument, nullptr, hangupAfterOption},
        {"back-after", required_argument, nullptr, backAfterOption},
        {"log", required_argument, nullptr, logOption},
        {"timed", no_argument, nullptr, timedOption},
        {"press", required_argument, nullptr, pressOption},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, versionOption},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int c;
    for (int previous = optind; (c = getopt_long(argc, argv, ":h", options, nullptr)) != -1;
         previous = optind) {
        // A whole number of this option within [low, high].
        auto number = [&](long low, long high, long* out) {
            int64_t value = 0;
            if (!parseWholeNumber(optarg, low, high, &value)) return false;
            *out = static_cast<long>(value);
            return true;
        };
        auto outOfRange = [&](long low, long high) {
            const char* name = "";
            for (const option& known : options)
                if (known.val == c) name = known.name;
            return usageError(program, "--%s '%s' is not a number from %ld to %ld", name, optarg,
                              low, high);
        };
        long value = 0;
        switch (c) {
        case 'h':
            std::fputs(usageText, stdout);
            return 0;
        case versionOption:
            return printVersion(program);
        case linkOption:
            o->link = optarg;
            break;
        case streamOption:
            if (!number(1, 1000, &value)) return outOfRange(1, 1000);
            o->streamHz = static_cast<int>(value);
            break;
        case replayOption:
            o->replay = optarg;
            break;
        case quatOption:
            if (!parseList(optarg, o->fixed.quatValue, 4))
                return usageError(program, "--quat '%s' is not four numbers X,Y,Z,W", optarg);
            o->fixed.quat = true;
            break;
        case accelOption:
            if (!parseList(optarg, o->fixed.accelValue, 3))
                return usageError(program, "--accel '%s' is not three numbers X,Y,Z", optarg);
            o->fixed.accel = true;
            break;
        case buttonsOption:
            if (std::strlen(optarg) != 5 || std::strspn(optarg, "0123456789") != 5)
                return usageError(program, "--buttons '%s' is not five digits", optarg);
            for (int j = 0; j < 5; ++j)
                o->fixed.buttonValue[j] = optarg[j] - '0';
            o->fixed.buttons = true;
            break;
        case delayOption:
            if (!number(0, 60000, &o->delayMs)) return outOfRange(0, 60000);
            break;
        case badChecksumOption:
            if (!number(1, 1000000000, &o->faults.badChecksumEvery))
                return outOfRange(1, 1000000000);
            break;
        case garbageOption:
            if (!number(0, garbageBytesMax, &o->faults.garbageBytes))
                return outOfRange(0, garbageBytesMax);
            break;
        case cutOption: {
            char every[16];
            const char* colon = std::strchr(optarg, ':');
            const size_t length = colon ? static_cast<size_t>(colon - optarg) : std::strlen(optarg);
            int64_t n = 0, cut = o->faults.cutLength;
            bool ok = length < sizeof every;
            if (ok) {
                std::memcpy(every, optarg, length);
                every[length] = '\0';
                ok = parseWholeNumber(every, 1, 1000000000, &n) &&
                     (colon == nullptr ||
                      parseWholeNumber(colon + 1, 0, deviceLineLength - 1, &cut));
            }
            if (!ok)
                return usageError(program, "--cut '%s' is not N[:LEN] with LEN below %d", optarg,
                                  deviceLineLength);
            o->faults.cutEvery = static_cast<long>(n);
            o->faults.cutLength = static_cast<long>(cut);
            break;
        }
        case silenceAfterOption:
            if (!number(0, 1000000000, &o->faults.silenceAfter)) return outOfRange(0, 1000000000);
            if (o->faults.silenceAfter == 0) o->faults.silenceAfter = -1; // silent from the start
            break;
        case hangupAfterOption:
            if (!number(1, 1000000000, &o->faults.hangupAfter)) return outOfRange(1, 1000000000);
            break;
        case backAfterOption:
            if (!number(0, 3600000, &o->backAfterMs)) return outOfRange(0, 3600000);
            break;
        case logOption:
            o->log = optarg;
            break;
        case timedOption:
            o->timed = true;
            break;
        case pressOption: {
            PressPlan& plan = o->fixed.presses;
            if (plan.count == buttonPressesMax)
                return usageError(program, "--press: at most %d presses", buttonPressesMax);
            if (const char* wrong = parseButtonPress(optarg, &plan.press[plan.count]))
                return usageError(program, "--press '%s': %s", optarg, wrong);
            ++plan.count;
            break;
        }
        default:
            return optionError(program, c, argc, argv, previous);
        }
    }
    if (optind < argc) return usageError(program, "unexpected argument '%s'", argv[optind]);
    if (o->timed && o->replay == nullptr)
        return usageError(program, "--timed needs --replay with a capture file");
    if (o->fixed.presses.count > 0 && o->replay != nullptr)
        return usageError(program, "--press works on the synthetic lines; a replay is sent as "
                                   "it is (leave out --replay)");
    if ((o->fixed.quat || o->fixed.accel) && !fixedValuesFit(*o))
        return usageError(program, "--quat or --accel: a value does not fit the line's eight "
                                   "characters");
    return OptionsResult::run();
}

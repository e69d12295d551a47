// How the air mouse's smoothing trades jitter for lag: a seeded model of the
// device's noise at 150 lines a second, a rest and then a sudden 5 degree
// turn, through the per-line path and the air mouse on a 1920x1080 screen.
// Prints, per mode, the cursor's jitter at rest, the samples it takes to
// cover 90 % of the turn, its overshoot and the CPU time per sample; then
// the jitter at rest in precision mode against the plain one, and the dwell
// click's false clicks while a hand wanders slowly against its time to click
// when the hand comes to rest.

#include <getopt.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <random>
#include <vector>

#include "device/device_line.h"
#include "motion/averaging.h"
#include "motion/orientation.h"
#include "output/desktop/keys.h"
#include "output/desktop/pointer.h"
#include "output/hand/air_mouse.h"
#include "output/hand/mouse_feel.h"
#include "output/hand/pointer_output.h"
#include "protocol/line_step.h"
#include "settings/settings.h"
#include "text/command_line.h"
#include "text/number_text.h"

// The pointer backend of this program: it keeps the last position.
namespace {
int32_t cursorX = 0, cursorY = 0;
long leftDowns = 0;  // the dwell's clicks
long wheelUnits = 0; // the gestures' wheel, in 1/120 notches
long keyDowns = 0;   // the flicks' keys
} // namespace

bool openPointer() {
    return true;
}
void closePointer() {}
bool pointerAvailable() {
    return true;
}
bool readScreenSize(int32_t*, int32_t*) {
    return false;
}
bool readMonitors(MonitorList*) {
    return false;
}
void setCursorOrigin(int32_t, int32_t) {}
void placeCursor(int32_t x, int32_t y) {
    cursorX = x;
    cursorY = y;
}
void moveCursorBy(int32_t dx, int32_t dy) {
    cursorX += dx;
    cursorY += dy;
}
void sendMouseEvent(uint32_t flags, int32_t wheelData) {
    if ((flags & mouseEventLeftDown) != 0) ++leftDowns;
    if ((flags & mouseEventWheel) != 0) wheelUnits += wheelData;
}
bool sendKey(KeyId, bool down) {
    if (down) ++keyDowns;
    return true;
}

namespace {

const char program[] = "air_mouse_feel";
const char usage[] =
    "usage: air_mouse_feel [--seeds N] [--noise DEG] [--min-cutoff HZ] [--beta B]\n"
    "                      [--precision X] [--dwell-time MS] [--dwell-radius PX]\n"
    "Prints, for average windows 1, 4, 8, 16, 32 and for adaptive smoothing, the\n"
    "cursor's jitter at rest (px, standard deviation per axis on 1920x1080), the\n"
    "samples until 90 % of a sudden 5 degree turn, the overshoot past it (px) and\n"
    "the CPU time per sample, over N seeded runs (default 20) of device noise of\n"
    "DEG degrees per axis (default 0.15) at 150 lines a second. Then, with the\n"
    "same noise, the jitter at rest with button 4 holding precision mode (gain\n"
    "divided by X, default 4) against without, and for the dwell click (left, a\n"
    "rest of MS ms within PX px, defaults 1000 and 8) the false clicks a minute\n"
    "while the hand wanders without stopping at 0.25 to 2 degrees a second, and\n"
    "the time from the end of a sudden 5 degree turn to the click. Last, motion\n"
    "as commands with their default settings: the wheel's notches a second while\n"
    "a Scroll button is held on a tilt of 20 degrees for 1 s against scrollRate,\n"
    "the flicks a minute while a hand wanders and while it points about at a\n"
    "normal speed, and how many flicks of 300 degrees a second for 100 ms are\n"
    "taken.\n"
    "\n"
    "Example:\n"
    "  air_mouse_feel --seeds 50 --min-cutoff 0.5 --beta 20\n";

constexpr double rate = 150.0;
constexpr int restSamples = 450; // 3 s; jitter is taken over the last 2 s
constexpr int settleSamples = 150;
constexpr int afterSamples = 150; // 1 s after the turn
constexpr double stepDegrees = 5.0;
constexpr double pi = 3.14159265358979323846;

struct Quaternion {
    double x, y, z, w;
};

Quaternion multiply(const Quaternion& a, const Quaternion& b) {
    return {a.w * b.x + a.x * b.w + a.y * b.z - a.z * b.y,
            a.w * b.y - a.x * b.z + a.y * b.w + a.z * b.x,
            a.w * b.z + a.x * b.y - a.y * b.x + a.z * b.w,
            a.w * b.w - a.x * b.x - a.y * b.y - a.z * b.z};
}

// A small rotation of these angles (radians) about the three axes.
Quaternion smallRotation(double ax, double ay, double az) {
    const double angle = std::sqrt(ax * ax + ay * ay + az * az);
    if (angle == 0.0) return {0, 0, 0, 1};
    const double s = std::sin(angle / 2) / angle;
    return {ax * s, ay * s, az * s, std::cos(angle / 2)};
}

// The device line for a quaternion, as the device formats it.
void deviceLine(char* line, const Quaternion& q, const char* buttons) {
    TextBuilder text(line, deviceLineBufferSize);
    text.append("TOL,");
    const double values[7] = {0.0, 0.0, 1.0, q.x, q.y, q.z, q.w};
    for (double v : values) {
        text.appendFixed(v, 5, 8);
        text.append(",");
    }
    text.append(buttons);
    text.append(",");
    const int32_t sum = deviceLineChecksum(line);
    const char digits[3] = {static_cast<char>('0' + sum / 10), static_cast<char>('0' + sum % 10),
                            '\0'};
    text.append(digits);
    text.append("\r");
}

struct Line {
    char text[deviceLineBufferSize];
};

struct Mode {
    const char* name;
    MouseFeel feel;
    int32_t averaging;
};

struct Run {
    double jitter;     // px, per axis
    int samplesTo90;   // samples after the turn; -1: never
    double overshoot;  // px past the turn's end position
    double cpuSeconds; // for every sample of the run
    int samples;
};

double cpuNow() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// The worker's free-running pass, one line after another at `rate`: the
// per-line step with the mouse window only, then the air mouse as the
// worker's output. Starts afresh, with button 4 given `button4`.
struct Feed {
    LineStepSettings step;
    LineState state{&mouseWindow, &lanWindow};

    explicit Feed(const char* button4, int32_t averaging = 32) {
        mouseWindow.count = 0;
        setButtonLine(4, button4);
        resetMouseReference();
        pointerOutput.begin();
        step.mouseAveraging = mouseWindowLength(mouseFeelFromSettings(), averaging);
        step.lanWindow = false;
    }

    // Line n; how many left presses the air mouse sent for it.
    long pass(const char* line, int n) {
        LinePass pass = stepLine(state, step, line, deviceLineLength);
        pass.received = std::chrono::steady_clock::time_point(
            std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                std::chrono::duration<double>(n / rate)));
        const long before = leftDowns;
        pointerOutput.pass(pass);
        return leftDowns - before;
    }
};

// A hand's tremor: a small rotation of `sigma` radians per axis, its draws
// taken last axis first so that the seeds give the numbers the README shows.
Quaternion tremor(std::mt19937& random, std::normal_distribution<double>& noise, double sigma) {
    const double az = sigma * noise(random), ay = sigma * noise(random);
    const double ax = sigma * noise(random);
    return smallRotation(ax, ay, az);
}

const char* modeName(const Mode& mode, char* name, size_t size) {
    if (mode.feel.smoothing == MouseSmoothing::adaptive)
        std::snprintf(name, size, "adaptive %.2g Hz, beta %.3g", mode.feel.minCutoff,
                      mode.feel.beta);
    else
        std::snprintf(name, size, "average %d", mode.averaging);
    return name;
}

// One run: rest, then the turn about the vertical axis; noise of `sigma`
// radians per axis (0: the noise-free response).
Run runMode(const Mode& mode, double sigma, uint32_t seed, bool precise = false) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    // A pose a little off the axes, so that the lines' rounding is not special.
    const Quaternion rest = smallRotation(0.02, -0.03, 0.01);
    const Quaternion turned = multiply(smallRotation(0, stepDegrees * pi / 180.0, 0), rest);
    const int total = restSamples + afterSamples;
    std::vector<int32_t> xs(total), ys(total);
    // The lines first, so that only the bridge's work is timed.
    std::vector<Line> lines(total);
    for (int n = 0; n < total; ++n) {
        const Quaternion truth = n < restSamples ? rest : turned;
        // Precision mode is held by button 4 from the second line on.
        deviceLine(lines[n].text, multiply(tremor(random, noise, sigma), truth),
                   precise && n > 0 ? "00001" : "00000");
    }
    settings.mouseSmoothing = mode.feel.smoothing;
    settings.mouseMinCutoff = mode.feel.minCutoff;
    settings.mouseBeta = mode.feel.beta;
    Feed feed(precise ? "press:Precision" : "", mode.averaging);
    const double started = cpuNow();
    for (int n = 0; n < total; ++n) {
        feed.pass(lines[n].text, n);
        xs[n] = cursorX;
        ys[n] = cursorY;
    }
    const double cpu = cpuNow() - started;

    // The turn's ends as the noise-free cursor sees them.
    MotionOutput ends[2] = {{{0, 0, 0},
                             {static_cast<float>(rest.x), static_cast<float>(rest.y),
                              static_cast<float>(rest.z), static_cast<float>(rest.w)}},
                            {{0, 0, 0},
                             {static_cast<float>(turned.x), static_cast<float>(turned.y),
                              static_cast<float>(turned.z), static_cast<float>(turned.w)}}};
    int32_t fromX = 0, toX = 0, y = 0;
    cursorPosition(ends[0], &fromX, &y);
    cursorPosition(ends[1], &toX, &y);
    const double span = toX - fromX;

    Run run{};
    double sx = 0, sy = 0, sxx = 0, syy = 0;
    const int from = restSamples - settleSamples * 2, count = settleSamples * 2;
    for (int n = from; n < restSamples; ++n) {
        sx += xs[n];
        sy += ys[n];
        sxx += double(xs[n]) * xs[n];
        syy += double(ys[n]) * ys[n];
    }
    const double vx = sxx / count - (sx / count) * (sx / count);
    const double vy = syy / count - (sy / count) * (sy / count);
    run.jitter = std::sqrt(std::max(0.0, (vx + vy) / 2));
    run.samplesTo90 = -1;
    run.overshoot = 0.0;
    for (int n = restSamples; n < total; ++n) {
        const double moved = (xs[n] - fromX) / span;
        if (run.samplesTo90 < 0 && moved >= 0.9) run.samplesTo90 = n - restSamples + 1;
        run.overshoot = std::max(run.overshoot, (moved - 1.0) * std::fabs(span));
    }
    run.cpuSeconds = cpu;
    run.samples = total;
    return run;
}

// The dwell click with the default window: a hand that wanders at `speed`
// degrees a second, never stopping, its heading turning at random, for
// `seconds`; the clicks it made after the first second (the hand starts
// still, the first rest is not the wander's).
long wanderClicks(double speed, double sigma, uint32_t seed, double seconds) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    Feed feed("");
    double yaw = 0.0, pitch = 0.0, heading = 0.0;
    char line[deviceLineBufferSize];
    long clicks = 0;
    const int total = static_cast<int>(seconds * rate);
    for (int n = 0; n < total; ++n) {
        // The heading turns about a radian a second; the hand stays within
        // 15 degrees of the centre by turning back at the edges.
        heading += noise(random) / std::sqrt(rate);
        if (std::fabs(yaw) > 15.0 || std::fabs(pitch) > 10.0)
            heading = std::atan2(-pitch, -yaw) + noise(random) * 0.3;
        yaw += speed * std::cos(heading) / rate;
        pitch += speed * std::sin(heading) / rate;
        const Quaternion truth = multiply(smallRotation(pitch * pi / 180.0, 0, 0),
                                          smallRotation(0, yaw * pi / 180.0, 0));
        deviceLine(line, multiply(tremor(random, noise, sigma), truth), "00000");
        if (feed.pass(line, n) > 0 && n >= rate) ++clicks;
    }
    return clicks;
}

// Seconds from the end of a sudden 5 degree turn to the dwell's click, the
// hand still before and after it (-1: none within 5 s).
double secondsToClick(double sigma, uint32_t seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    Feed feed("");
    const Quaternion rest = smallRotation(0.02, -0.03, 0.01);
    const Quaternion turned = multiply(smallRotation(0, stepDegrees * pi / 180.0, 0), rest);
    char line[deviceLineBufferSize];
    const int turnAt = 3 * static_cast<int>(rate), total = turnAt + 5 * static_cast<int>(rate);
    for (int n = 0; n < total; ++n) {
        deviceLine(line, multiply(tremor(random, noise, sigma), n < turnAt ? rest : turned),
                   "00000");
        if (feed.pass(line, n) > 0 && n >= turnAt) return (n - turnAt + 1) / rate;
    }
    return -1.0;
}

// The device turned `pitch` up and `yaw` to the right (degrees), with tremor.
void gestureLine(char* line, double pitch, double yaw, std::mt19937& random,
                 std::normal_distribution<double>& noise, double sigma, const char* buttons) {
    const Quaternion truth =
        multiply(smallRotation(pitch * pi / 180.0, 0, 0), smallRotation(0, -yaw * pi / 180.0, 0));
    deviceLine(line, multiply(tremor(random, noise, sigma), truth), buttons);
}

// Notches a second while button 4 (Scroll) is held on a tilt of 20 degrees:
// the tilt is reached in 0.1 s after the press, and the notches are counted
// over the next second.
double scrollNotchesPerSecond(double sigma, uint32_t seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    Feed feed("Scroll");
    char line[deviceLineBufferSize];
    const int press = static_cast<int>(rate), tilted = press + static_cast<int>(rate / 10);
    const int end = tilted + static_cast<int>(rate);
    long counted = 0;
    for (int n = 0; n < end; ++n) {
        const double pitch = n < press     ? 0.0
                             : n >= tilted ? 20.0
                                           : 20.0 * (n - press) / (tilted - press);
        gestureLine(line, pitch, 0.0, random, noise, sigma, n < press ? "00000" : "00001");
        const long before = wheelUnits;
        feed.pass(line, n);
        if (n >= tilted) counted += wheelUnits - before;
    }
    return static_cast<double>(counted) / 120.0;
}

// Flicks (keys sent) while the hand wanders at `speed` degrees a second as
// the dwell's run does, or, with speed 0, while it points about: a new
// target every 0.3 to 1.5 s, up to 30 degrees away, reached at 20 to 80
// degrees a second on average along a smooth (minimum-jerk) path.
long handFlicks(double speed, double sigma, uint32_t seed, double seconds) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    Feed feed("");
    double yaw = 0.0, pitch = 0.0, heading = 0.0;
    double fromYaw = 0, fromPitch = 0, toYaw = 0, toPitch = 0, start = 0, duration = 0, next = 0;
    char line[deviceLineBufferSize];
    const long before = keyDowns;
    const int total = static_cast<int>(seconds * rate);
    for (int n = 0; n < total; ++n) {
        const double t = n / rate;
        if (speed > 0.0) {
            heading += noise(random) / std::sqrt(rate);
            if (std::fabs(yaw) > 15.0 || std::fabs(pitch) > 10.0)
                heading = std::atan2(-pitch, -yaw) + noise(random) * 0.3;
            yaw += speed * std::cos(heading) / rate;
            pitch += speed * std::sin(heading) / rate;
        } else {
            if (t >= next) {
                fromYaw = yaw;
                fromPitch = pitch;
                toYaw = std::clamp(yaw + (uniform(random) * 2 - 1) * 30.0, -30.0, 30.0);
                toPitch = std::clamp(pitch + (uniform(random) * 2 - 1) * 20.0, -20.0, 20.0);
                const double distance = std::hypot(toYaw - fromYaw, toPitch - fromPitch);
                duration = std::max(0.15, distance / (20.0 + 60.0 * uniform(random)));
                start = t;
                next = t + duration + 0.3 + 1.2 * uniform(random);
            }
            const double u = std::min(1.0, (t - start) / duration);
            const double s = u * u * u * (10.0 - 15.0 * u + 6.0 * u * u);
            yaw = fromYaw + (toYaw - fromYaw) * s;
            pitch = fromPitch + (toPitch - fromPitch) * s;
        }
        gestureLine(line, pitch, yaw, random, noise, sigma, "00000");
        feed.pass(line, n);
    }
    return keyDowns - before;
}

// Whether a flick of 300 degrees a second for 100 ms, the hand still before
// and after it, sends its key (once), in direction 0..3 (left, right, up,
// down).
bool flickTaken(int direction, double sigma, uint32_t seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0.0, 1.0);
    Feed feed("");
    char line[deviceLineBufferSize];
    const double sign = direction == 0 || direction == 3 ? -1.0 : 1.0;
    const bool across = direction < 2;
    const int flickAt = static_cast<int>(rate / 2),
              flickEnd = flickAt + static_cast<int>(rate / 10);
    const long before = keyDowns;
    for (int n = 0; n < flickEnd + static_cast<int>(rate / 2); ++n) {
        const double turned =
            sign * 30.0 * std::clamp((n - flickAt) / (flickEnd - flickAt + 0.0), 0.0, 1.0);
        gestureLine(line, across ? 0.0 : turned, across ? turned : 0.0, random, noise, sigma,
                    "00000");
        feed.pass(line, n);
    }
    return keyDowns - before == 1;
}

} // namespace

int main(int argc, char** argv) {
    int seeds = 20;
    double noiseDegrees = 0.15;
    MouseFeel adaptive;
    adaptive.smoothing = MouseSmoothing::adaptive;
    double precision = defaultMousePrecision;
    int32_t dwellTime = defaultDwellTimeMs, dwellRadius = defaultDwellRadius;
    enum {
        seedsOption = 256,
        noiseOption,
        cutoffOption,
        betaOption,
        precisionOption,
        dwellTimeOption,
        dwellRadiusOption,
        versionOption
    };
    const option options[] = {
        {"seeds", required_argument, nullptr, seedsOption},
        {"noise", required_argument, nullptr, noiseOption},
        {"min-cutoff", required_argument, nullptr, cutoffOption},
        {"beta", required_argument, nullptr, betaOption},
        {"precision", required_argument, nullptr, precisionOption},
        {"dwell-time", required_argument, nullptr, dwellTimeOption},
        {"dwell-radius", required_argument, nullptr, dwellRadiusOption},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, versionOption},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int c;
    for (int previous = optind; (c = getopt_long(argc, argv, ":h", options, nullptr)) != -1;
         previous = optind) {
        int64_t whole = 0;
        double decimal = 0.0;
        switch (c) {
        case 'h':
            std::fputs(usage, stdout);
            return 0;
        case versionOption:
            return printVersion(program);
        case seedsOption:
            if (!parseWholeNumber(optarg, 1, 10000, &whole))
                return usageError(program, "--seeds '%s' is not from 1 to 10000", optarg);
            seeds = static_cast<int>(whole);
            break;
        case noiseOption:
        case cutoffOption:
        case betaOption:
            if (!parseDecimalNumber(optarg, 0.0, 1000.0, &decimal))
                return usageError(program, "'%s' is not a number from 0 to 1000", optarg);
            if (c == noiseOption) noiseDegrees = decimal;
            if (c == cutoffOption) adaptive.minCutoff = static_cast<float>(decimal);
            if (c == betaOption) adaptive.beta = static_cast<float>(decimal);
            break;
        case precisionOption:
            if (!parseDecimalNumber(optarg, 1.0, 20.0, &decimal))
                return usageError(program, "--precision '%s' is not from 1 to 20", optarg);
            precision = decimal;
            break;
        case dwellTimeOption:
            if (!parseWholeNumber(optarg, 200, 5000, &whole))
                return usageError(program, "--dwell-time '%s' is not from 200 to 5000", optarg);
            dwellTime = static_cast<int32_t>(whole);
            break;
        case dwellRadiusOption:
            if (!parseWholeNumber(optarg, 1, 200, &whole))
                return usageError(program, "--dwell-radius '%s' is not from 1 to 200", optarg);
            dwellRadius = static_cast<int32_t>(whole);
            break;
        default:
            return optionError(program, c, argc, argv, previous);
        }
    }
    if (optind < argc) return usageError(program, "unexpected argument '%s'", argv[optind]);

    setDefaults();
    screenWidth = 1920;
    screenHeight = 1080;
    computeScreenDistancePixels();

    std::vector<Mode> modes;
    for (int32_t window : {1, 4, 8, 16, 32})
        modes.push_back(Mode{"average", MouseFeel{}, window});
    modes.push_back(Mode{"adaptive", adaptive, 1});

    std::printf("noise %.2f deg per axis, %.0f lines/s, %d seeds, 5 deg turn, 1920x1080\n",
                noiseDegrees, rate, seeds);
    std::printf("%-28s %10s %13s %13s %11s %9s\n", "mode", "jitter px", "90% samples",
                "(noise-free)", "overshoot", "CPU ns");
    const double sigma = noiseDegrees * pi / 180.0;
    for (const Mode& mode : modes) {
        double jitter = 0.0, cpu = 0.0;
        long samples = 0;
        std::vector<int> reach;
        for (int s = 0; s < seeds; ++s) {
            const Run run = runMode(mode, sigma, 1000u + static_cast<uint32_t>(s));
            jitter += run.jitter;
            reach.push_back(run.samplesTo90 < 0 ? 9999 : run.samplesTo90);
            cpu += run.cpuSeconds;
            samples += run.samples;
        }
        // Overshoot is the filter's own: noise passes through any filter
        // past the target now and then.
        const Run clean = runMode(mode, 0.0, 1u);
        std::sort(reach.begin(), reach.end());
        char name[64];
        char reachText[32];
        std::snprintf(reachText, sizeof reachText, "%d (%d-%d)", reach[reach.size() / 2],
                      reach.front(), reach.back());
        std::printf("%-28s %10.2f %13s %13d %8.1f px %9.0f\n", modeName(mode, name, sizeof name),
                    jitter / seeds, reachText, clean.samplesTo90, clean.overshoot,
                    cpu / static_cast<double>(samples) * 1e9);
    }

    // Precision mode: the same seeds at rest, with button 4 holding it.
    settings.mousePrecision = static_cast<float>(precision);
    std::printf("\nprecision mode (gain / %.3g), jitter at rest over the same seeds\n", precision);
    std::printf("%-28s %10s %10s %8s %8s\n", "mode", "plain px", "precise px", "ratio", "goal");
    for (const Mode& mode : modes) {
        if (mode.averaging != 1 && mode.averaging != 32) continue;
        double plain = 0.0, precise = 0.0;
        for (int s = 0; s < seeds; ++s) {
            plain += runMode(mode, sigma, 1000u + static_cast<uint32_t>(s)).jitter;
            precise += runMode(mode, sigma, 1000u + static_cast<uint32_t>(s), true).jitter;
        }
        char name[64];
        std::printf("%-28s %10.2f %10.2f %8.3f %8.3f\n", modeName(mode, name, sizeof name),
                    plain / seeds, precise / seeds, precise / plain, 1.0 / precision);
    }
    setButtonLine(4, "");

    // The dwell click with the default window and smoothing.
    settings.mouseSmoothing = MouseSmoothing::average;
    settings.mouseAveraging = 32;
    settings.dwellClick = DwellClick::left;
    settings.dwellTime = dwellTime;
    settings.dwellRadius = dwellRadius;
    std::printf("\ndwell click: a rest of %ld ms within %ld px, average 32, %d seeds\n",
                static_cast<long>(dwellTime), static_cast<long>(dwellRadius), seeds);
    std::printf("%-36s %16s\n", "hand", "clicks a minute");
    for (double speed : {0.25, 0.5, 1.0, 2.0}) {
        long clicks = 0;
        for (int s = 0; s < seeds; ++s)
            clicks += wanderClicks(speed, sigma, 2000u + static_cast<uint32_t>(s), 61.0);
        char name[64];
        std::snprintf(name, sizeof name, "wandering %.2g deg/s (%.0f px/s)", speed,
                      1920.0 * std::tan(speed * pi / 180.0));
        std::printf("%-36s %16.2f\n", name, static_cast<double>(clicks) / seeds);
    }
    std::vector<double> times;
    for (int s = 0; s < seeds; ++s)
        times.push_back(secondsToClick(sigma, 3000u + static_cast<uint32_t>(s)));
    std::sort(times.begin(), times.end());
    std::printf("%-36s %9.2f s (%.2f-%.2f)\n", "still after a 5 deg turn: click after",
                times[times.size() / 2], times.front(), times.back());

    // Motion as commands, with the gestures' and the flicks' defaults.
    settings.dwellClick = DwellClick::off;
    std::printf("\nScroll held on a tilt of 20 deg for 1 s (dead zone %.3g deg), %d seeds\n",
                static_cast<double>(settings.gestureDeadZone.load()), seeds);
    std::printf("%-12s %12s %12s %8s\n", "scrollRate", "expected/s", "notches/s", "error");
    for (float scrollRate : {0.5f, 1.0f, 2.0f}) {
        settings.scrollRate = scrollRate;
        double notches = 0.0;
        for (int s = 0; s < seeds; ++s)
            notches += scrollNotchesPerSecond(sigma, 4000u + static_cast<uint32_t>(s));
        notches /= seeds;
        const double expected = std::min(static_cast<double>(settings.scrollMax.load()),
                                         scrollRate * (20.0 - settings.gestureDeadZone.load()));
        std::printf("%-12.3g %12.2f %12.2f %7.1f%%\n", static_cast<double>(scrollRate), expected,
                    notches, 100.0 * (notches - expected) / expected);
    }
    settings.scrollRate = 1.0f;
    setButtonLine(4, "");
    for (int f = 0; f < flickCount; ++f)
        setFlickLine(f, "PageDown");
    settings.flickWhen = flickWhenAlways;
    std::printf("\nflicks faster than %.4g deg/s for at most %ld ms, %d seeds\n",
                static_cast<double>(settings.flickSpeed.load()),
                static_cast<long>(settings.flickTime.load()), seeds);
    std::printf("%-36s %16s\n", "hand", "flicks a minute");
    for (double speed : {2.0, 0.0}) {
        long flicks = 0;
        for (int s = 0; s < seeds; ++s)
            flicks += handFlicks(speed, sigma, 5000u + static_cast<uint32_t>(s), 60.0);
        std::printf("%-36s %16.2f\n",
                    speed > 0 ? "wandering 2 deg/s" : "pointing about, 20-80 deg/s",
                    static_cast<double>(flicks) / seeds);
    }
    int taken = 0;
    for (int s = 0; s < seeds; ++s)
        for (int direction = 0; direction < 4; ++direction)
            taken += flickTaken(direction, sigma, 6000u + static_cast<uint32_t>(s)) ? 1 : 0;
    std::printf("%-36s %9d of %d\n", "300 deg/s for 100 ms: taken", taken, 4 * seeds);
    return 0;
}

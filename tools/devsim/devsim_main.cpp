// tolvane-devsim: a stand-in for the motion device on a pseudo-terminal.
//
// Prints the terminal's path as its first line of output, then speaks the
// device's side of the link: one line per poll byte "D", or a stream of lines
// at a fixed rate, optionally with faults. Only the master side is kept open,
// so the program under test can close and reopen the terminal; whether it has
// the terminal open is seen from the master (a hang-up while it does not).

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <getopt.h>
#include <poll.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "text/command_line.h"
#include "text/number_text.h"
#include "tools/devsim/sim_lines.h"

namespace {

using Clock = std::chrono::steady_clock;

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
    "                       skipped\n"
    "  --quat X,Y,Z,W       send this quaternion instead of the synthetic motion\n"
    "  --accel X,Y,Z        send this acceleration instead of the synthetic one\n"
    "  --buttons BBBBB      send these five button characters (each 0..9)\n"
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
    "\n"
    "SIGINT or SIGTERM ends it with status 0; a usage error gives status 2.\n";

struct Options {
    const char* link = nullptr;
    int streamHz = 0;
    const char* replay = nullptr;
    bool fixedQuat = false;
    double quat[4] = {};
    bool fixedAccel = false;
    double accel[3] = {};
    bool fixedButtons = false;
    int buttons[5] = {};
    long delayMs = 0;
    long badChecksumEvery = 0;
    long garbageBytes = 0;
    long cutEvery = 0;
    long cutLength = 61;
    long silenceAfter = 0;
    long hangupAfter = 0;
    long backAfterMs = 1000;
    const char* log = nullptr;
};

volatile std::sig_atomic_t quitSignal = 0;

void onSignal(int) {
    quitSignal = 1;
}

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
bool fixedValuesFit(const Options& o) {
    Sample sample{};
    ButtonState buttons{};
    for (int i = 0; i < 3; ++i)
        sample.value[i] = static_cast<float>(o.accel[i]);
    for (int i = 0; i < 4; ++i)
        sample.value[3 + i] = static_cast<float>(o.quat[i]);
    char line[simLineSize];
    return formatSimLine(sample, buttons, line);
}

// -1 when the options are good, else the exit status.
int parseOptions(int argc, char** argv, Options* o) {
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
            if (!parseList(optarg, o->quat, 4))
                return usageError(program, "--quat '%s' is not four numbers X,Y,Z,W", optarg);
            o->fixedQuat = true;
            break;
        case accelOption:
            if (!parseList(optarg, o->accel, 3))
                return usageError(program, "--accel '%s' is not three numbers X,Y,Z", optarg);
            o->fixedAccel = true;
            break;
        case buttonsOption:
            if (std::strlen(optarg) != 5 || std::strspn(optarg, "0123456789") != 5)
                return usageError(program, "--buttons '%s' is not five digits", optarg);
            for (int j = 0; j < 5; ++j)
                o->buttons[j] = optarg[j] - '0';
            o->fixedButtons = true;
            break;
        case delayOption:
            if (!number(0, 60000, &o->delayMs)) return outOfRange(0, 60000);
            break;
        case badChecksumOption:
            if (!number(1, 1000000000, &o->badChecksumEvery)) return outOfRange(1, 1000000000);
            break;
        case garbageOption:
            if (!number(0, 4096, &o->garbageBytes)) return outOfRange(0, 4096);
            break;
        case cutOption: {
            char every[16];
            const char* colon = std::strchr(optarg, ':');
            const size_t length = colon ? static_cast<size_t>(colon - optarg) : std::strlen(optarg);
            int64_t n = 0, cut = o->cutLength;
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
            o->cutEvery = static_cast<long>(n);
            o->cutLength = static_cast<long>(cut);
            break;
        }
        case silenceAfterOption:
            if (!number(0, 1000000000, &o->silenceAfter)) return outOfRange(0, 1000000000);
            if (o->silenceAfter == 0) o->silenceAfter = -1; // silent from the start
            break;
        case hangupAfterOption:
            if (!number(1, 1000000000, &o->hangupAfter)) return outOfRange(1, 1000000000);
            break;
        case backAfterOption:
            if (!number(0, 3600000, &o->backAfterMs)) return outOfRange(0, 3600000);
            break;
        case logOption:
            o->log = optarg;
            break;
        default:
            return optionError(program, c, argc, argv, previous);
        }
    }
    if (optind < argc) return usageError(program, "unexpected argument '%s'", argv[optind]);
    if ((o->fixedQuat || o->fixedAccel) && !fixedValuesFit(*o))
        return usageError(program, "--quat or --accel: a value does not fit the line's eight "
                                   "characters");
    return -1;
}

// The lines of a replay file, kept whole in memory (a tool, not the bridge).
struct Replay {
    char* text = nullptr;
    long count = 0;
    char** lines = nullptr;
};

// Says on standard error why a file gave no lines.
bool loadReplay(const char* path, Replay* r) {
    FILE* f = std::fopen(path, "rb");
    if (!f) {
        std::fprintf(stderr, "%s: cannot read %s: %s\n", program, path, std::strerror(errno));
        return false;
    }
    // Read in pieces, so that a pipe works as well as a file.
    size_t size = 0, capacity = 0;
    for (;;) {
        if (capacity - size < 4096) {
            capacity = capacity * 2 + 4096;
            char* grown = static_cast<char*>(std::realloc(r->text, capacity + 1));
            if (!grown) {
                std::fclose(f);
                std::fprintf(stderr, "%s: %s is too large\n", program, path);
                return false;
            }
            r->text = grown;
        }
        const size_t got = std::fread(r->text + size, 1, capacity - size, f);
        size += got;
        if (got == 0) break;
    }
    const bool failed = std::ferror(f) != 0;
    const int error = errno;
    std::fclose(f);
    if (failed) {
        std::fprintf(stderr, "%s: cannot read %s: %s\n", program, path, std::strerror(error));
        return false;
    }
    r->text[size] = '\0';
    r->lines = static_cast<char**>(std::calloc(size / 2 + 2, sizeof(char*)));
    if (!r->lines) return false;
    for (char* at = r->text; *at;) {
        char* end = std::strchr(at, '\n');
        if (end) *end = '\0';
        size_t len = std::strlen(at);
        while (len > 0 && (at[len - 1] == '\r' || at[len - 1] == '\n'))
            at[--len] = '\0';
        if (len > 0 && at[0] != '#') r->lines[r->count++] = at;
        if (!end) break;
        at = end + 1;
    }
    if (r->count == 0)
        std::fprintf(stderr,
                     "%s: %s holds no device lines (blank lines and lines beginning with # "
                     "are skipped)\n",
                     program, path);
    return r->count > 0;
}

struct Terminal {
    int master = -1;
    char path[128] = {};
};

bool openTerminal(Terminal* t) {
    int m = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (m < 0) return false;
    if (grantpt(m) != 0 || unlockpt(m) != 0 || ptsname_r(m, t->path, sizeof t->path) != 0) {
        close(m);
        return false;
    }
    // Raw from the start, so that nothing is echoed or translated before the
    // program under test sets the line up itself.
    int s = open(t->path, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (s >= 0) {
        termios tio{};
        if (tcgetattr(s, &tio) == 0) {
            cfmakeraw(&tio);
            tcsetattr(s, TCSANOW, &tio);
        }
        close(s);
    }
    fcntl(m, F_SETFL, fcntl(m, F_GETFL) | O_NONBLOCK);
    t->master = m;
    return true;
}

bool makeLink(const char* link, const char* target) {
    char temp[512];
    TextBuilder name(temp, sizeof temp);
    name.append(link);
    name.append(".new");
    if (name.overflow) return false;
    unlink(temp);
    if (symlink(target, temp) != 0) return false;
    return rename(temp, link) == 0;
}

struct Simulator {
    Options options;
    Replay replay;
    Terminal terminal;
    FILE* log = nullptr;
    long linesSent = 0;
    long garbageCount = 0;
    // Polls waiting for their (delayed) answer.
    static constexpr int maxPending = 1024;
    Clock::time_point pending[maxPending];
    int pendingHead = 0;
    int pendingCount = 0;
    bool hungUp = false;
    long hungUpAtLine = 0;
    Clock::time_point backAt;
};

void logEvent(Simulator& sim, const char* text) {
    if (!sim.log) return;
    std::fprintf(sim.log, "# %s\n", text);
    std::fflush(sim.log);
}

// The link first, so that whoever waits for the printed path finds it in place.
void announce(Simulator& sim) {
    if (sim.options.link && !makeLink(sim.options.link, sim.terminal.path))
        std::fprintf(stderr, "%s: cannot link %s: %s\n", program, sim.options.link,
                     std::strerror(errno));
    std::printf("%s\n", sim.terminal.path);
    std::fflush(stdout);
}

// Writes all bytes unless the terminal is gone; waits while its buffer is full.
bool writeAll(Simulator& sim, const char* data, size_t size) {
    while (size > 0 && !quitSignal) {
        ssize_t n = write(sim.terminal.master, data, size);
        if (n > 0) {
            data += n;
            size -= static_cast<size_t>(n);
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            return false;
        } else {
            pollfd p{sim.terminal.master, POLLOUT, 0};
            poll(&p, 1, 100);
        }
    }
    return size == 0;
}

void hangUp(Simulator& sim) {
    close(sim.terminal.master);
    sim.terminal.master = -1;
    if (sim.options.link) unlink(sim.options.link);
    sim.hungUp = true;
    sim.backAt = Clock::now() + std::chrono::milliseconds(sim.options.backAfterMs);
    logEvent(sim, "hang-up");
}

void sendLine(Simulator& sim) {
    const Options& o = sim.options;
    if (o.silenceAfter != 0 && (o.silenceAfter < 0 || sim.linesSent >= o.silenceAfter)) return;
    // The terminal goes away when the line after the Nth is due, so that the
    // Nth still reaches the reader (a hang-up discards what is in flight).
    if (o.hangupAfter > 0 && sim.linesSent > sim.hungUpAtLine &&
        sim.linesSent % o.hangupAfter == 0) {
        sim.hungUpAtLine = sim.linesSent;
        hangUp(sim);
        return;
    }
    long number = ++sim.linesSent; // counted from 1

    char line[256];
    if (sim.replay.count > 0) {
        TextBuilder text(line, sizeof line - 1);
        text.append(sim.replay.lines[(number - 1) % sim.replay.count]);
        text.append("\r");
    } else {
        Sample sample{};
        ButtonState buttons{};
        syntheticMotion(number - 1, &sample, &buttons);
        if (o.fixedAccel)
            for (int i = 0; i < 3; ++i)
                sample.value[i] = static_cast<float>(o.accel[i]);
        if (o.fixedQuat)
            for (int i = 0; i < 4; ++i)
                sample.value[3 + i] = static_cast<float>(o.quat[i]);
        if (o.fixedButtons)
            for (int j = 0; j < 5; ++j)
                buttons.button[j] = o.buttons[j];
        if (!formatSimLine(sample, buttons, line)) {
            std::fputs("tolvane-devsim: a value does not fit the line\n", stderr);
            std::exit(2);
        }
        if (o.badChecksumEvery > 0 && number % o.badChecksumEvery == 0) spoilChecksum(line);
    }
    size_t length = std::strlen(line);
    if (o.cutEvery > 0 && number % o.cutEvery == 0 && static_cast<size_t>(o.cutLength) < length)
        length = static_cast<size_t>(o.cutLength);

    if (o.garbageBytes > 0) {
        static const char noise[] = "xyz\n#0.,-+ab\r7qD";
        char junk[4096];
        for (long k = 0; k < o.garbageBytes; ++k)
            junk[k] = noise[(sim.garbageCount++) % (sizeof noise - 1)];
        writeAll(sim, junk, static_cast<size_t>(o.garbageBytes));
        if (sim.log) std::fprintf(sim.log, "# garbage %ld bytes\n", o.garbageBytes);
    }
    writeAll(sim, line, length);
    if (sim.log) {
        std::fwrite(line, 1, line[length - 1] == '\r' ? length - 1 : length, sim.log);
        std::fputc('\n', sim.log);
        std::fflush(sim.log);
    }
}

int run(Simulator& sim) {
    const Options& o = sim.options;
    const auto period = o.streamHz > 0 ? std::chrono::nanoseconds(1000000000LL / o.streamHz)
                                       : std::chrono::nanoseconds(0);
    auto nextLine = Clock::now();
    while (!quitSignal) {
        auto now = Clock::now();
        if (sim.hungUp) {
            if (now < sim.backAt) {
                std::this_thread::sleep_for(
                    std::min<Clock::duration>(sim.backAt - now, std::chrono::milliseconds(50)));
                continue;
            }
            if (!openTerminal(&sim.terminal)) return 1;
            sim.hungUp = false;
            announce(sim);
            logEvent(sim, "back");
            nextLine = Clock::now();
            continue;
        }

        // Wait for a poll byte, the next streamed line or a delayed answer.
        auto until = now + std::chrono::milliseconds(200);
        if (o.streamHz > 0) until = std::min(until, nextLine);
        if (sim.pendingCount > 0) until = std::min(until, sim.pending[sim.pendingHead]);
        auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        pollfd p{sim.terminal.master, POLLIN, 0};
        int ready = poll(&p, 1, static_cast<int>(std::max<long long>(0, waitMs)));
        bool attached = !(ready > 0 && (p.revents & POLLHUP));
        if (!attached) {
            // Nobody has the terminal open: a streaming device talks to no one.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            nextLine = Clock::now();
            continue;
        }
        if (ready > 0 && (p.revents & POLLIN)) {
            char in[256];
            ssize_t n = read(sim.terminal.master, in, sizeof in);
            for (ssize_t k = 0; k < n && o.streamHz == 0; ++k) {
                if (in[k] != pollByte || sim.pendingCount == Simulator::maxPending) continue;
                sim.pending[(sim.pendingHead + sim.pendingCount++) % Simulator::maxPending] =
                    Clock::now() + std::chrono::milliseconds(o.delayMs);
            }
        }
        now = Clock::now();
        while (!sim.hungUp && sim.pendingCount > 0 && sim.pending[sim.pendingHead] <= now) {
            sim.pendingHead = (sim.pendingHead + 1) % Simulator::maxPending;
            --sim.pendingCount;
            sendLine(sim);
        }
        if (!sim.hungUp && o.streamHz > 0 && now >= nextLine) {
            sendLine(sim);
            nextLine += period;
            if (nextLine < now) nextLine = now + period; // fell behind: no burst
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    static Simulator sim;
    const int status = parseOptions(argc, argv, &sim.options);
    if (status >= 0) return status;
    if (sim.options.replay && !loadReplay(sim.options.replay, &sim.replay)) return 2;
    if (sim.options.log) {
        sim.log = std::fopen(sim.options.log, "w");
        if (!sim.log) {
            std::fprintf(stderr, "%s: cannot write %s: %s\n", program, sim.options.log,
                         std::strerror(errno));
            return 2;
        }
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    if (!openTerminal(&sim.terminal)) {
        std::perror("tolvane-devsim: pseudo-terminal");
        return 1;
    }
    announce(sim);
    const int ended = run(sim);
    if (sim.options.link) unlink(sim.options.link);
    if (sim.log) std::fclose(sim.log);
    return ended;
}

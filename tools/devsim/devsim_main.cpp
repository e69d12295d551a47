// tolvane-devsim: a stand-in for the motion device on a pseudo-terminal.
//
// Prints the terminal's path as its first line of output, then speaks the
// device's side of the link: one line per poll byte "D", or a stream of lines
// at a fixed rate (or at a capture's recorded times), optionally with faults.
// The synthetic motion and the presses go by time, not by the count of polls.

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include <sys/stat.h>
#include <unistd.h>

#include "tools/devsim/devsim_options.h"
#include "tools/devsim/pseudo_terminal.h"

namespace {

using Clock = std::chrono::steady_clock;

const char program[] = "tolvane-devsim";

volatile std::sig_atomic_t quitSignal = 0;

void onSignal(int) {
    quitSignal = 1;
}

struct Simulator {
    DevsimOptions options;
    Replay replay;
    PseudoTerminal terminal;
    FILE* log = nullptr;
    FaultState faults;
    // Polls waiting for their (delayed) answer.
    static constexpr int maxPending = 1024;
    Clock::time_point pending[maxPending];
    int pendingHead = 0;
    int pendingCount = 0;
    bool hungUp = false;
    Clock::time_point backAt;
    // With --timed: when the capture's first record is due (set at the first
    // poll, or when streaming starts).
    bool timedStarted = false;
    Clock::time_point timedOrigin;
    // When the first line went out: the synthetic motion and the presses
    // count from there.
    bool motionStarted = false;
    Clock::time_point motionOrigin;
};

bool timed(const Simulator& sim) {
    return sim.options.timed && sim.replay.capture;
}

// A timed capture is played once.
bool timedCaptureDone(const Simulator& sim) {
    return timed(sim) && sim.faults.linesSent >= sim.replay.count;
}

// When the record of the next line is due after the capture's first.
Clock::duration recordOffset(const Simulator& sim) {
    const long next = std::min(sim.faults.linesSent, sim.replay.count - 1);
    return std::chrono::microseconds(sim.replay.lines[next].microseconds -
                                     sim.replay.lines[0].microseconds);
}

// The capture's clock waits while nobody listens: the next record is due now.
void holdTimedClock(Simulator& sim, Clock::time_point now) {
    sim.timedStarted = true;
    sim.timedOrigin = now - recordOffset(sim);
}

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

void hangUp(Simulator& sim) {
    closePseudoTerminal(&sim.terminal);
    if (sim.options.link) unlink(sim.options.link);
    sim.hungUp = true;
    sim.backAt = Clock::now() + std::chrono::milliseconds(sim.options.backAfterMs);
    logEvent(sim, "hang-up");
}

// When line number is due after the first. Streamed lines keep the device's
// own pace, so line N is (N-1)/HZ s on whatever the machine's load; answers to
// polls take the clock's time, so that a bridge that polls faster sees the
// same motion a second, only more finely.
int64_t lineMicroseconds(Simulator& sim, long number) {
    if (sim.options.streamHz > 0) return (number - 1) * int64_t{1000000} / sim.options.streamHz;
    const auto now = Clock::now();
    if (!sim.motionStarted) {
        sim.motionStarted = true;
        sim.motionOrigin = now;
    }
    return std::chrono::duration_cast<std::chrono::microseconds>(now - sim.motionOrigin).count();
}

void sendLine(Simulator& sim) {
    const DevsimOptions& o = sim.options;
    if (timedCaptureDone(sim)) return;
    long number = 0;
    const LineFate fate = nextLineFate(o.faults, &sim.faults, &number);
    if (fate == LineFate::hangUp) hangUp(sim);
    if (fate != LineFate::send) return;

    static char line[lineBufferSize];
    size_t length = 0;
    if (!makeLine(sim.replay, o.fixed, number, lineMicroseconds(sim, number),
                  spoilsChecksum(o.faults, number), line, sizeof line, &length)) {
        std::fprintf(stderr, "%s: a value does not fit the line\n", program);
        std::exit(2);
    }
    length = sentLength(o.faults, number, length);

    if (o.faults.garbageBytes > 0) {
        static char junk[garbageBytesMax];
        const size_t count = makeGarbage(o.faults, &sim.faults, junk);
        writeAll(sim.terminal, junk, count, &quitSignal);
        if (sim.log) std::fprintf(sim.log, "# garbage %zu bytes\n", count);
    }
    writeAll(sim.terminal, line, length, &quitSignal);
    if (sim.log) logLine(sim.log, line, length);
}

int run(Simulator& sim) {
    const DevsimOptions& o = sim.options;
    const auto period = o.streamHz > 0 ? std::chrono::nanoseconds(1000000000LL / o.streamHz)
                                       : std::chrono::nanoseconds(0);
    auto nextLine = Clock::now();
    if (timed(sim) && o.streamHz > 0) holdTimedClock(sim, nextLine);
    while (!quitSignal) {
        auto now = Clock::now();
        if (sim.hungUp) {
            if (now < sim.backAt) {
                std::this_thread::sleep_for(
                    std::min<Clock::duration>(sim.backAt - now, std::chrono::milliseconds(50)));
                continue;
            }
            if (!openPseudoTerminal(&sim.terminal)) return 1;
            sim.hungUp = false;
            announce(sim);
            logEvent(sim, "back");
            nextLine = Clock::now();
            if (timed(sim) && o.streamHz > 0) holdTimedClock(sim, nextLine);
            continue;
        }
        if (timed(sim) && o.streamHz > 0) nextLine = sim.timedOrigin + recordOffset(sim);

        // Wait for a poll byte, the next streamed line or a delayed answer.
        auto until = now + std::chrono::milliseconds(200);
        if (o.streamHz > 0) until = std::min(until, nextLine);
        if (sim.pendingCount > 0) {
            auto answer = sim.pending[sim.pendingHead];
            if (sim.timedStarted) answer = std::max(answer, sim.timedOrigin + recordOffset(sim));
            until = std::min(until, answer);
        }
        const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(until - now).count();
        const TerminalWait event =
            waitForInput(sim.terminal, static_cast<int>(std::max<long long>(0, waitMs)));
        if (event == TerminalWait::detached) {
            // Nobody has the terminal open: a streaming device talks to no one.
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            nextLine = Clock::now();
            if (timed(sim) && o.streamHz > 0) holdTimedClock(sim, nextLine);
            continue;
        }
        if (event == TerminalWait::input) {
            char in[256];
            const ssize_t n = read(sim.terminal.master, in, sizeof in);
            for (ssize_t k = 0; k < n && o.streamHz == 0; ++k) {
                if (in[k] != pollByte || sim.pendingCount == Simulator::maxPending) continue;
                if (timed(sim) && !sim.timedStarted) holdTimedClock(sim, Clock::now());
                sim.pending[(sim.pendingHead + sim.pendingCount++) % Simulator::maxPending] =
                    Clock::now() + std::chrono::milliseconds(o.delayMs);
            }
        }
        now = Clock::now();
        while (!sim.hungUp && sim.pendingCount > 0 && sim.pending[sim.pendingHead] <= now &&
               (!sim.timedStarted || sim.timedOrigin + recordOffset(sim) <= now)) {
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
    if (const OptionsResult read = parseDevsimOptions(argc, argv, &sim.options); read.exitNow)
        return read.status;
    if (sim.options.replay) {
        FILE* f = std::fopen(sim.options.replay, "rb");
        // A folder opens, and would only fail at its first read, without a word.
        struct stat status {};
        if (f != nullptr && fstat(fileno(f), &status) == 0 && S_ISDIR(status.st_mode)) {
            std::fclose(f);
            f = nullptr;
            errno = EISDIR;
        }
        if (!f) {
            std::fprintf(stderr, "%s: cannot read %s: %s\n", program, sim.options.replay,
                         std::strerror(errno));
            return 2;
        }
        const bool loaded = loadReplay(f, sim.options.replay, &sim.replay, stderr);
        std::fclose(f);
        if (!loaded) return 2;
        if (sim.options.timed && !sim.replay.capture) {
            std::fprintf(stderr,
                         "%s: --timed needs a capture, and %s is not one (its first "
                         "line is not \"%s\")\n",
                         program, sim.options.replay, captureHeader);
            return 2;
        }
    }
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

    if (!openPseudoTerminal(&sim.terminal)) {
        std::perror("tolvane-devsim: pseudo-terminal");
        return 1;
    }
    announce(sim);
    const int ended = run(sim);
    if (sim.options.link) unlink(sim.options.link);
    if (sim.log) std::fclose(sim.log);
    freeReplay(&sim.replay);
    return ended;
}

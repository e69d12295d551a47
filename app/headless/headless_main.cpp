// The headless bridge: the whole measurement without a window. Settings come
// from "tolv.conf" in the working directory (or --config PATH); every
// event-log message is also written to standard output as one line, notes for
// people go to standard error; Ctrl+C (SIGINT, SIGTERM, SIGHUP, SIGQUIT) ends it.
#include <getopt.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "app/headless/diagnostics.h"
#include "app/headless/log_mirror.h"
#include "app/headless/standard_streams.h"
#include "app/headless/stop_signal.h"
#include "app/shell_startup.h"
#include "measurement/event_log.h"
#include "measurement/worker.h"
#include "output/recorder/recorder.h"
#include "protocol/output_note.h"
#include "settings/settings.h"
#include "text/command_line.h"
#include "text/help_examples.h"
#include "text/number_text.h"

namespace {

const char program[] = "tolvane-headless";

const char usage[] =
    "usage: tolvane-headless [--config PATH] [--record FILE]\n"
    "\n"
    "Runs the measurement as the window program's Run command does, without a\n"
    "window, until Ctrl+C. The settings are read from \"tolv.conf\" in the\n"
    "working directory (eleven lines: serial port, screen distance, scroll\n"
    "speed, mouse averaging, LAN averaging, LAN port, mouse on, device preset\n"
    "(0 C, 1 B), LAN on, WebSocket on, acceleration output); without the file\n"
    "the defaults apply. tolvane-config shows and changes the file.\n"
    "\n"
    "Standard output carries the event log, one message per line. Notes for\n"
    "you go to standard error: the file read and the settings in effect,\n"
    "warnings about settings, why the serial port does not open, where the\n"
    "LAN server listens, how the air mouse moves the pointer (on Linux XTest\n"
    "or a uinput device, by the setting pointer=auto|x11|uinput) and why.\n"
    "\n"
    "  --config PATH   read the settings from PATH instead of ./tolv.conf\n"
    "  --record FILE   append every device line the bridge reads (accepted or\n"
    "                  not) with its receive time to FILE, a capture that\n"
#ifdef _WIN32
    // The simulator that replays captures is built for Linux only.
    "                  tolvane-decode reads\n"
#else
    "                  tolvane-decode reads and tolvane-devsim --replay plays;\n"
    "                  a FIFO whose reader is running (tolvane-decode FIFO)\n"
    "                  or a terminal gets the capture as it is made\n"
#endif
    "  -h, --help      print this help and exit\n"
    "  --version       print the version and exit\n"
    "\n"
    "Example:\n"
    "  tolvane-headless --config " TOLVANE_EXAMPLE_SETTINGS " --record trace.txt\n";

// How long a stop waits for the streams' readers (and the recorder's disk)
// before it ends the process without them.
constexpr std::chrono::milliseconds streamsBound(1500);

struct Options {
    const char* settingsPath = settingsFileName;
    const char* recordPath = nullptr;
};

void sayToConsole(const char* line) {
    mirrorLine(StandardStream::errors, line);
}

// Both run on the worker's thread, once per message or event. They only
// queue: the worker never waits for a reader of either stream.
void onLogMessage(const char* message) {
    mirrorLine(StandardStream::output, message);
}

void onWorkerEvent(const WorkerEvent& event) {
    noteWorkerEvent(event, sayToConsole);
}

// What the outputs have to say (the pointer's choice, the UDP target, the
// recorder's disk), from any thread; only queued.
void onOutputNote(const char*, NoteLevel, const char* text) {
    char note[errorLineSize];
    TextBuilder line(note, sizeof note);
    line.append("tolvane-headless: ");
    line.append(text);
    sayToConsole(note);
}

const char* settingsNoted = nullptr;
void noteSettings() {
    noteSettingsAtStart(settingsNoted, sayToConsole);
}

OptionsResult parseOptions(int argc, char** argv, Options* o) {
    enum { versionOption = 1000, configOption, recordOption };
    const option options[] = {{"help", no_argument, nullptr, 'h'},
                              {"version", no_argument, nullptr, versionOption},
                              {"config", required_argument, nullptr, configOption},
                              {"record", required_argument, nullptr, recordOption},
                              {nullptr, 0, nullptr, 0}};
    opterr = 0;
    for (;;) {
        const int previous = optind;
        const int got = getopt_long(argc, argv, ":h", options, nullptr);
        if (got == -1) break;
        switch (got) {
        case 'h':
            std::fputs(usage, stdout);
            return 0;
        case versionOption:
            return printVersion(program);
        case configOption:
            if (optarg[0] == '\0') return usageError(program, "option '--config' needs a path");
            o->settingsPath = optarg;
            break;
        case recordOption:
            if (optarg[0] == '\0') return usageError(program, "option '--record' needs a file");
            o->recordPath = optarg;
            break;
        default:
            return optionError(program, got, argc, argv, previous);
        }
    }
    if (optind < argc) return usageError(program, "unexpected argument '%s'", argv[optind]);
    return OptionsResult::run();
}

} // namespace

int main(int argc, char** argv) {
    // Before anything opens a descriptor that could land on a closed stream.
    prepareStandardStreams();

    Options options;
    if (const OptionsResult read = parseOptions(argc, argv, &options); read.exitNow)
        return read.status;
    const char* settingsPath = options.settingsPath;

    prepareStopSignal();
    // After the stop signals are blocked, so that its writer never takes them.
    if (options.recordPath != nullptr) {
#ifdef SIGXFSZ
        // A file size limit then fails the write instead of ending the bridge.
        std::signal(SIGXFSZ, SIG_IGN);
#endif
        if (const SystemResult started = startRecorder(options.recordPath); !started) {
            std::fprintf(stderr, "%s: %s\n", program, started.reason);
            return 1;
        }
    }
    // Started after the stop signals are blocked, so the writers never take them.
    startLogMirror();
    // Before the shell opens the pointer, which says its choice.
    setNoteListener(onOutputNote);

    // The file and the settings first, then the pointer's choice.
    settingsNoted = settingsPath;
    const bool display = startShell(settingsPath, noteSettings);
    if (!display && settings.mouseEnabled.load() != 0)
        noteNoDisplay(options.recordPath != nullptr, sayToConsole);

    setLogListener(onLogMessage);
    setWorkerEventListener(onWorkerEvent);
    runMeasurement();
    waitForStopSignal();
    shutdownMeasurement();
    setWorkerEventListener(nullptr);
    setLogListener(nullptr);
    stopShell();
    const bool recorderEnded = stopRecorder(streamsBound);
    setNoteListener(nullptr);

    // Port, sockets and display are closed: a writer stuck on a stream nobody
    // reads is all that is left, and it must not hold the process.
    if (!stopLogMirror(streamsBound) || !recorderEnded) std::_Exit(0);
    return 0;
}

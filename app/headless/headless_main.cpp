// The headless bridge: the whole measurement without a window. Settings come
// from "tolv.conf" in the working directory; every event-log message is also
// written to standard output as one line; Ctrl+C (SIGINT, SIGTERM) ends it.
#include <cstdio>
#include <cstring>
#include <mutex>

#include "app/headless/stop_signal.h"
#include "app/shell_startup.h"
#include "measurement/event_log.h"
#include "measurement/worker.h"
#include "settings/settings.h"

#ifndef TOLVANE_VERSION
#define TOLVANE_VERSION "unknown"
#endif

namespace {

const char usage[] = "usage: tolvane-headless [--help | --version]\n"
                     "\n"
                     "Runs the measurement as the window program's Run command does, without a\n"
                     "window, until Ctrl+C. The settings are read from \"tolv.conf\" in the\n"
                     "working directory (eleven lines: serial port, screen distance, scroll\n"
                     "speed, mouse averaging, LAN averaging, LAN port, mouse on, device preset\n"
                     "(0 C, 1 B), LAN on, WebSocket on, acceleration output); without the file\n"
                     "the defaults apply. Every event-log message is printed as one line.\n";

std::mutex printLock;

// Runs on the worker's thread, once per message, with the text as stored.
void printMessage(const char* message) {
    char line[eventLogEntryLength + 1];
    size_t length = std::strlen(message);
    std::memcpy(line, message, length);
    line[length] = '\n';
    std::lock_guard<std::mutex> guard(printLock);
    std::fwrite(line, 1, length + 1, stdout);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
        if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
            std::fputs("tolvane-headless " TOLVANE_VERSION "\n", stdout);
            return 0;
        }
        std::fputs(usage, stderr);
        return 2;
    }

    prepareStopSignal();

    const bool display = startShell(settingsFileName);
    if (!display && settings.mouseEnabled.load() != 0)
        std::fputs("tolvane-headless: no display reachable, the air mouse moves nothing; "
                   "the LAN output goes on\n",
                   stderr);

    setLogListener(printMessage);
    runMeasurement();
    waitForStopSignal();
    shutdownMeasurement();
    setLogListener(nullptr);

    stopShell();
    return 0;
}

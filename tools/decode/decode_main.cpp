// tolvane-decode: turns captured device traffic into the LAN reply texts that
// the bridge would send, one line per device line found.

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "device/device_line.h"
#include "motion/averaging.h"
#include "motion/orientation.h"
#include "output/lan/reply_text.h"
#include "settings/settings.h"
#include "text/number_text.h"

// The tool has no window; nothing is painted.

namespace {

const char usage[] =
    "usage: tolvane-decode [--json] [--acceleration] [--mouse-averaging N]\n"
    "                      [--lan-averaging N] [FILE]\n"
    "Reads raw device traffic (FILE or standard input) and prints, per device line,\n"
    "the plain LAN reply (or with --json the WebSocket JSON text), or \"rejected\".\n";

struct Options {
    bool json = false;
    bool acceleration = false;
    int32_t mouseAveraging = 32;
    int32_t lanAveraging = 1;
    const char* path = nullptr;
};

bool fail(const char* message, const char* what) {
    std::fprintf(stderr, "tolvane-decode: %s%s\n", message, what);
    return false;
}

bool parseOptions(int argc, char** argv, Options* options) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (std::strcmp(arg, "--json") == 0) {
            options->json = true;
        } else if (std::strcmp(arg, "--acceleration") == 0) {
            options->acceleration = true;
        } else if (std::strcmp(arg, "--mouse-averaging") == 0 ||
                   std::strcmp(arg, "--lan-averaging") == 0) {
            int32_t value = 0;
            if (i + 1 >= argc || !scanInteger(argv[i + 1], &value) || value < 1 || value > 255)
                return fail("expects a length of 1 to 255: ", arg);
            (arg[2] == 'm' ? options->mouseAveraging : options->lanAveraging) = value;
            ++i;
        } else if (std::strcmp(arg, "--help") == 0) {
            std::fputs(usage, stdout);
            std::exit(0);
        } else if (arg[0] == '-' && arg[1] != '\0') {
            return fail("unknown option: ", arg);
        } else if (options->path == nullptr) {
            options->path = arg;
        } else {
            return fail("more than one input file: ", arg);
        }
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parseOptions(argc, argv, &options)) {
        std::fputs(usage, stderr);
        return 2;
    }
    FILE* in = stdin;
    if (options.path != nullptr && std::strcmp(options.path, "-") != 0) {
        in = std::fopen(options.path, "rb");
        if (in == nullptr) {
            fail("cannot read ", options.path);
            return 2;
        }
    }

    MotionOutput mouseOutput = identityMotion();
    MotionOutput lanOutput = identityMotion();
    char line[deviceLineBufferSize];
    int c;
    // Found the way the serial reader finds them: skip to the sync byte, then
    // take it and the 75 bytes after it (a shorter tail at the end is a line too).
    while ((c = std::fgetc(in)) != EOF) {
        if (c != syncByte) continue;
        line[0] = syncByte;
        size_t got = std::fread(line + 1, 1, deviceLineLength - 1, in);
        line[1 + got] = '\0';

        Sample sample;
        ButtonState buttons;
        if (!parseDeviceLine(line, &sample, &buttons)) {
            std::fputs("rejected\n", stdout);
            continue;
        }
        int32_t count = pushSample(mouseWindow, sample, options.mouseAveraging);
        mouseOutput = computeMotion(mouseWindow.samples, count, options.acceleration, mouseOutput);
        count = pushSample(lanWindow, sample, options.lanAveraging);
        lanOutput = computeMotion(lanWindow.samples, count, options.acceleration, lanOutput);

        char reply[replyTextSize];
        int n = options.json ? formatJsonReply(reply, sizeof reply, lanOutput, buttons)
                             : formatPlainReply(reply, sizeof reply, lanOutput, buttons);
        if (n < 0) {
            std::fputs("rejected\n", stdout); // the bridge would send no reply either
            continue;
        }
        std::fwrite(reply, 1, static_cast<size_t>(n), stdout);
        std::fputc('\n', stdout);
    }
    if (in != stdin) std::fclose(in);
    return 0;
}

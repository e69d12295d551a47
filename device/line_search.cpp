#include "device/line_search.h"

#include "device/device_line.h"

namespace {

constexpr int lineTail = deviceLineLength - 1; // bytes after the sync byte

} // namespace

FoundLine searchDeviceLine(LineByteSource read, void* source, const std::atomic<bool>* stop,
                           char* line) {
    line[0] = '\0';
    for (;;) {
        char byte = 0;
        int got = 0;
        if (!read(source, &byte, 1, &got) || got != 1) return FoundLine{};
        if (byte == syncByte) break;
        if (stop != nullptr && stop->load()) break;
    }

    line[0] = syncByte;
    int got = 0;
    const bool ok = read(source, line + 1, lineTail, &got);
    if (got < 0) got = 0;
    if (got > lineTail) got = lineTail;
    line[1 + got] = '\0';
    return FoundLine{1 + got, ok && got == lineTail};
}

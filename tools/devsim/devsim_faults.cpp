#include "tools/devsim/devsim_faults.h"

LineFate nextLineFate(const FaultOptions& faults, FaultState* state, long* number) {
    if (faults.silenceAfter < 0 ||
        (faults.silenceAfter > 0 && state->linesSent >= faults.silenceAfter))
        return LineFate::silent;
    // The terminal goes away when the line after the Nth is due, so that the
    // Nth still reaches the reader (a hang-up discards what is in flight).
    if (faults.hangupAfter > 0 && state->linesSent > state->hungUpAtLine &&
        state->linesSent % faults.hangupAfter == 0) {
        state->hungUpAtLine = state->linesSent;
        return LineFate::hangUp;
    }
    *number = ++state->linesSent;
    return LineFate::send;
}

bool spoilsChecksum(const FaultOptions& faults, long number) {
    return faults.badChecksumEvery > 0 && number % faults.badChecksumEvery == 0;
}

size_t sentLength(const FaultOptions& faults, long number, size_t length) {
    if (faults.cutEvery > 0 && number % faults.cutEvery == 0 &&
        static_cast<size_t>(faults.cutLength) < length)
        return static_cast<size_t>(faults.cutLength);
    return length;
}

size_t makeGarbage(const FaultOptions& faults, FaultState* state, char* out) {
    static const char noise[] = "xyz\n#0.,-+ab\r7qD";
    const long count =
        faults.garbageBytes < garbageBytesMax ? faults.garbageBytes : garbageBytesMax;
    for (long k = 0; k < count; ++k)
        out[k] = noise[(state->garbageCount++) % static_cast<long>(sizeof noise - 1)];
    return count > 0 ? static_cast<size_t>(count) : 0;
}

void logLine(FILE* log, const char* line, size_t length) {
    if (length > 0 && line[length - 1] == '\r') --length;
    std::fwrite(line, 1, length, log);
    std::fputc('\n', log);
    std::fflush(log);
}

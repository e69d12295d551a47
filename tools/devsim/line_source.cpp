#include "tools/devsim/line_source.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tools/devsim/sim_lines.h"

namespace {

const char prefix[] = "tolvane-devsim: ";

// Grows a heap array to hold at least need elements.
template <typename T> bool reserve(T** items, size_t* capacity, size_t need) {
    if (need <= *capacity) return true;
    size_t grown = *capacity * 2 + 4096 / sizeof(T);
    if (grown < need) grown = need;
    T* moved = static_cast<T*>(std::realloc(*items, grown * sizeof(T)));
    if (moved == nullptr) return false;
    *items = moved;
    *capacity = grown;
    return true;
}

} // namespace

bool loadReplay(FILE* f, const char* name, Replay* r, FILE* notes) {
    static char
        text[captureRecordTextMax > replayLineMax + 1 ? captureRecordTextMax : replayLineMax + 1];
    size_t bytesCapacity = 0, linesCapacity = 0;
    long lineNumber = 0, skipped = 0;
    size_t length = 0;
    bool cut = false;
    // A new start of the bridge in a capture counts its times from 0 again;
    // played in time, it follows on from the last record before it.
    int64_t sessionStart = 0, latest = 0;
    while (readTextLine(f, text, sizeof text, &length, &cut)) {
        ++lineNumber;
        if (lineNumber == 1 && !cut && isCaptureHeader(text, length)) {
            r->capture = true;
            continue;
        }
        const char* bytes = text;
        size_t count = length;
        int64_t microseconds = 0;
        CaptureRecord record;
        if (r->capture) {
            const char* reason = "longer than a record can be";
            const CaptureLineKind kind =
                cut ? CaptureLineKind::malformed : parseCaptureLine(text, length, &record, &reason);
            if (kind == CaptureLineKind::comment) {
                if (isCaptureNewStart(text, length)) sessionStart = latest;
                continue;
            }
            if (kind == CaptureLineKind::malformed) {
                std::fprintf(notes, "%s%s line %ld skipped: %s\n", prefix, name, lineNumber,
                             reason);
                ++skipped;
                continue;
            }
            bytes = record.bytes;
            count = record.length;
            // Both at most captureMicrosecondsMax: the sum cannot overflow.
            microseconds = std::min(sessionStart + record.microseconds, captureMicrosecondsMax);
            latest = std::max(latest, microseconds);
        } else {
            while (count > 0 && text[count - 1] == '\r')
                --count;
            if (cut) {
                std::fprintf(notes, "%s%s line %ld skipped: longer than %zu bytes\n", prefix, name,
                             lineNumber, replayLineMax);
                ++skipped;
                continue;
            }
            if (count == 0 || text[0] == '#') continue;
        }
        if (r->count == replayLinesMax || r->size + count + 1 > replayBytesMax) {
            std::fprintf(notes,
                         "%s%s: only the first %ld lines are used (at most %ld lines, %zu MiB)\n",
                         prefix, name, r->count, replayLinesMax, replayBytesMax >> 20);
            break;
        }
        if (!reserve(&r->bytes, &bytesCapacity, r->size + count + 1) ||
            !reserve(&r->lines, &linesCapacity, static_cast<size_t>(r->count) + 1)) {
            std::fprintf(notes, "%s%s is too large to keep in memory\n", prefix, name);
            return false;
        }
        ReplayLine& line = r->lines[r->count++];
        line.offset = r->size;
        line.length = count;
        line.microseconds = microseconds;
        std::memcpy(r->bytes + r->size, bytes, count);
        r->size += count;
        if (!r->capture) r->bytes[r->size++] = '\r';
        if (!r->capture) ++line.length;
    }
    if (std::ferror(f)) {
        std::fprintf(notes, "%scannot read %s: %s\n", prefix, name, std::strerror(errno));
        return false;
    }
    if (skipped > 0) std::fprintf(notes, "%s%s: %ld lines skipped\n", prefix, name, skipped);
    if (r->count == 0) {
        std::fprintf(notes,
                     r->capture ? "%s%s holds no records\n"
                                : "%s%s holds no device lines (blank lines and lines beginning "
                                  "with # are skipped)\n",
                     prefix, name);
        return false;
    }
    return true;
}

void freeReplay(Replay* r) {
    std::free(r->bytes);
    std::free(r->lines);
    *r = Replay{};
}

bool makeLine(const Replay& replay, const FixedValues& fixed, long number, int64_t microseconds,
              bool spoil, char* out, size_t size, size_t* length) {
    if (replay.count > 0) {
        const ReplayLine& line = replay.lines[(number - 1) % replay.count];
        const size_t count = line.length < size ? line.length : size;
        std::memcpy(out, replay.bytes + line.offset, count);
        *length = count;
        return true;
    }
    Sample sample{};
    ButtonState buttons{};
    syntheticMotion(static_cast<double>(microseconds) * simStepsPerSecond / 1e6, &sample, &buttons);
    if (fixed.accel)
        for (int i = 0; i < 3; ++i)
            sample.value[i] = static_cast<float>(fixed.accelValue[i]);
    if (fixed.quat)
        for (int i = 0; i < 4; ++i)
            sample.value[3 + i] = static_cast<float>(fixed.quatValue[i]);
    if (fixed.buttons)
        for (int j = 0; j < 5; ++j)
            buttons.button[j] = fixed.buttonValue[j];
    applyPresses(fixed.presses, microseconds, &buttons);
    if (size < simLineSize || !formatSimLine(sample, buttons, out)) return false;
    if (spoil) spoilChecksum(out);
    *length = deviceLineLength;
    return true;
}

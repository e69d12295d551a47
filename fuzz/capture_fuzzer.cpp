#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "device/capture.h"

// Any line through the capture parser; a record it accepts is within the
// latest time, is written again and must read back to the same time and
// bytes, with a LF or a CR LF line end alike.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CaptureRecord record;
    const char* reason = nullptr;
    if (parseCaptureLine(reinterpret_cast<const char*>(data), size, &record, &reason) !=
        CaptureLineKind::record)
        return 0;
    if (record.microseconds < 0 || record.microseconds > captureMicrosecondsMax) std::abort();
    char text[captureRecordTextMax + 1];
    const size_t n =
        formatCaptureRecord(record.microseconds, record.bytes, record.length, text, sizeof text);
    if (n == 0) std::abort();
    text[n - 1] = '\r'; // the line feed's place: a CR LF line end
    for (const size_t length : {n - 1, n}) {
        // A copy of exactly the line, so that a read past it is caught.
        std::vector<char> line(text, text + length);
        CaptureRecord again;
        if (parseCaptureLine(line.data(), length, &again, &reason) != CaptureLineKind::record ||
            again.microseconds != record.microseconds || again.length != record.length ||
            std::memcmp(again.bytes, record.bytes, record.length) != 0)
            std::abort();
    }
    return 0;
}

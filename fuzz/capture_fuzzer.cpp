#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "device/capture.h"

// Any line through the capture parser; a record it accepts is written again
// and must read back to the same time and bytes.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CaptureRecord record;
    const char* reason = nullptr;
    if (parseCaptureLine(reinterpret_cast<const char*>(data), size, &record, &reason) !=
        CaptureLineKind::record)
        return 0;
    char text[captureRecordTextMax];
    const size_t n =
        formatCaptureRecord(record.microseconds, record.bytes, record.length, text, sizeof text);
    if (n == 0) std::abort();
    CaptureRecord again;
    if (parseCaptureLine(text, n - 1, &again, &reason) != CaptureLineKind::record ||
        again.microseconds != record.microseconds || again.length != record.length ||
        std::memcmp(again.bytes, record.bytes, record.length) != 0)
        std::abort();
    return 0;
}

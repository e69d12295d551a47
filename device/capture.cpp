#include "device/capture.h"

#include <cstring>

namespace {

const char hexDigits[] = "0123456789abcdef";

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// A raw CR before the line feed: the line was saved with CR LF line ends.
size_t withoutLineEnd(const char* text, size_t length) {
    return length > 0 && text[length - 1] == '\r' ? length - 1 : length;
}

bool startsWith(const char* text, size_t length, const char* prefix, size_t prefixLength) {
    return length >= prefixLength && std::memcmp(text, prefix, prefixLength) == 0;
}

// Seconds as digits, "." and exactly six decimals, into microseconds (at
// most 12 whole digits, so that the sum cannot overflow).
bool parseSeconds(const char* text, size_t length, int64_t* microseconds) {
    constexpr size_t maxWholeDigits = 12;
    size_t point = 0;
    while (point < length && text[point] >= '0' && text[point] <= '9')
        ++point;
    if (point == 0 || point > maxWholeDigits || point + 7 != length || text[point] != '.')
        return false;
    int64_t value = 0;
    for (size_t k = 0; k < length; ++k) {
        if (k == point) continue;
        if (text[k] < '0' || text[k] > '9') return false;
        value = value * 10 + (text[k] - '0');
    }
    *microseconds = value;
    return true;
}

} // namespace

size_t formatCaptureRecord(int64_t microseconds, const char* bytes, size_t length, char* out,
                           size_t size) {
    if (size == 0) return 0;
    out[0] = '\0';
    if (microseconds < 0 || microseconds > captureMicrosecondsMax || length > captureBytesMax)
        return 0;
    char seconds[32];
    int digits = 0;
    char reversed[24];
    for (int64_t rest = microseconds; digits < 7 || rest > 0; rest /= 10)
        reversed[digits++] = static_cast<char>('0' + rest % 10);
    size_t n = 0;
    for (int k = digits - 1; k >= 0; --k) {
        seconds[n++] = reversed[k];
        if (k == 6) seconds[n++] = '.';
    }

    size_t at = 0;
    auto put = [&](char c) {
        if (at + 1 < size) out[at] = c;
        ++at;
    };
    for (size_t k = 0; k < n; ++k)
        put(seconds[k]);
    put(' ');
    for (size_t k = 0; k < length; ++k) {
        const auto byte = static_cast<unsigned char>(bytes[k]);
        if (byte == '\\') {
            put('\\');
            put('\\');
        } else if (byte == '\r') {
            put('\\');
            put('r');
        } else if (byte == '\n') {
            put('\\');
            put('n');
        } else if (byte >= 0x20 && byte <= 0x7e) {
            put(static_cast<char>(byte));
        } else {
            put('\\');
            put('x');
            put(hexDigits[byte >> 4]);
            put(hexDigits[byte & 0xf]);
        }
    }
    put('\n');
    if (at + 1 > size) {
        out[0] = '\0';
        return 0;
    }
    out[at] = '\0';
    return at;
}

CaptureLineKind parseCaptureLine(const char* text, size_t length, CaptureRecord* record,
                                 const char** reason) {
    *reason = "";
    length = withoutLineEnd(text, length);
    if (length > 0 && text[0] == '#') return CaptureLineKind::comment;
    const void* blank = std::memchr(text, ' ', length);
    if (blank == nullptr) {
        *reason = length == 0 ? "empty line" : "no blank after the seconds";
        return CaptureLineKind::malformed;
    }
    const size_t secondsLength = static_cast<size_t>(static_cast<const char*>(blank) - text);
    int64_t microseconds = 0;
    if (!parseSeconds(text, secondsLength, &microseconds)) {
        *reason = "the seconds are not digits with six decimals";
        return CaptureLineKind::malformed;
    }
    if (microseconds > captureMicrosecondsMax) {
        *reason = "the seconds are beyond 4000000000 (some 126 years), later than any recording";
        return CaptureLineKind::malformed;
    }
    char bytes[captureBytesMax + 1];
    size_t count = 0;
    for (size_t k = secondsLength + 1; k < length; ++k) {
        if (count == captureBytesMax) {
            *reason = "more bytes than a device line buffer holds";
            return CaptureLineKind::malformed;
        }
        const auto c = static_cast<unsigned char>(text[k]);
        if (c < 0x20 || c > 0x7e) {
            *reason = "a byte that should have been escaped";
            return CaptureLineKind::malformed;
        }
        if (c != '\\') {
            bytes[count++] = static_cast<char>(c);
            continue;
        }
        if (k + 1 >= length) {
            *reason = "a backslash at the end of the line";
            return CaptureLineKind::malformed;
        }
        const char kind = text[++k];
        if (kind == '\\') {
            bytes[count++] = '\\';
        } else if (kind == 'r') {
            bytes[count++] = '\r';
        } else if (kind == 'n') {
            bytes[count++] = '\n';
        } else if (kind == 'x' && k + 2 < length && hexValue(text[k + 1]) >= 0 &&
                   hexValue(text[k + 2]) >= 0) {
            bytes[count++] = static_cast<char>(hexValue(text[k + 1]) * 16 + hexValue(text[k + 2]));
            k += 2;
        } else {
            *reason = "an unknown escape (only \\\\, \\r, \\n and \\xHH)";
            return CaptureLineKind::malformed;
        }
    }
    record->microseconds = microseconds;
    record->length = count;
    std::memcpy(record->bytes, bytes, count);
    record->bytes[count] = '\0';
    return CaptureLineKind::record;
}

bool isCaptureHeader(const char* text, size_t length) {
    length = withoutLineEnd(text, length);
    return length == sizeof captureHeader - 1 && std::memcmp(text, captureHeader, length) == 0;
}

bool isCaptureNewStart(const char* text, size_t length) {
    // The recorder's own line, up to its colon; what follows may change.
    constexpr char mark[] = "# appended:";
    return isCaptureHeader(text, length) ||
           startsWith(text, withoutLineEnd(text, length), mark, sizeof mark - 1);
}

bool readTextLine(FILE* f, char* buffer, size_t size, size_t* length, bool* cut) {
    size_t kept = 0;
    bool any = false;
    *cut = false;
    for (int c; (c = std::getc(f)) != EOF;) {
        any = true;
        if (c == '\n') break;
        if (kept + 1 < size)
            buffer[kept++] = static_cast<char>(c);
        else
            *cut = true;
    }
    if (size > 0) buffer[kept] = '\0';
    *length = kept;
    return any;
}

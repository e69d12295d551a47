#include "protocol/origin_check.h"

#include <cstring>

#include "settings/origin_list.h"

namespace {

constexpr char originName[] = "Origin";
constexpr size_t originNameLength = sizeof originName - 1;

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameIgnoringCase(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

bool isFieldBlank(char c) {
    return c == ' ' || c == '\t';
}

bool listed(const char* value, size_t length, const char* allowed) {
    const char* cursor = allowed;
    const char* origin = nullptr;
    size_t originLength = 0;
    while (nextOrigin(&cursor, &origin, &originLength))
        if (originLength == length && sameIgnoringCase(origin, value, length)) return true;
    return false;
}

} // namespace

bool originAllowed(const char* head, size_t length, const char* allowed) {
    const char* cursor = allowed;
    const char* first = nullptr;
    size_t firstLength = 0;
    if (!nextOrigin(&cursor, &first, &firstLength)) return true; // no list: no check
    const size_t end = strnlen(head, length);
    // Header lines start after a line end; every Origin line must be allowed,
    // so that a second one cannot slip past the first.
    for (size_t line = 0; line < end;) {
        const char* lineEnd = static_cast<const char*>(std::memchr(head + line, '\n', end - line));
        if (lineEnd == nullptr) break;
        line = static_cast<size_t>(lineEnd - head) + 1;
        if (end - line < originNameLength ||
            !sameIgnoringCase(head + line, originName, originNameLength))
            continue;
        size_t at = line + originNameLength;
        while (at < end && isFieldBlank(head[at]))
            ++at;
        if (at >= end || head[at] != ':') continue; // a longer name
        ++at;
        while (at < end && isFieldBlank(head[at]))
            ++at;
        size_t valueEnd = at;
        while (valueEnd < end && head[valueEnd] != '\r' && head[valueEnd] != '\n')
            ++valueEnd;
        while (valueEnd > at && isFieldBlank(head[valueEnd - 1]))
            --valueEnd;
        if (!listed(head + at, valueEnd - at, allowed)) return false;
    }
    return true;
}

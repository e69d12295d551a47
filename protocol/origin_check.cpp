#include "protocol/origin_check.h"

#include <cstring>

#include "protocol/websocket.h"
#include "settings/origin_list.h"

namespace {

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameIgnoringCase(const char* a, const char* b, size_t length) {
    for (size_t i = 0; i < length; ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
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
    // Every Origin line must be allowed, so that a second one cannot slip
    // past the first.
    size_t line = 0;
    const char* value = nullptr;
    size_t valueLength = 0;
    while (nextHeaderField(head, length, &line, "Origin", &value, &valueLength))
        if (!listed(value, valueLength, allowed)) return false;
    return true;
}

#include "settings/origin_list.h"

#include <cstring>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

bool isHostChar(char c) {
    return isLetter(c) || isDigit(c) || c == '-' || c == '.' || c == '_';
}

// "null", or SCHEME://HOST[:PORT]: the serialisation of RFC 6454, which is
// all a browser ever puts into Origin.
bool isOrigin(const char* p, const char* end) {
    if (end - p == 4 && std::strncmp(p, "null", 4) == 0) return true;
    if (p == end || !isLetter(*p)) return false;
    while (p < end && (isLetter(*p) || isDigit(*p) || *p == '+' || *p == '-' || *p == '.'))
        ++p;
    if (end - p < 4 || std::strncmp(p, "://", 3) != 0) return false;
    p += 3;
    const char* host = p;
    if (*p == '[') {
        while (p < end && *p != ']')
            ++p;
        if (p == end || p - host < 3) return false;
        ++p;
    } else {
        while (p < end && isHostChar(*p))
            ++p;
        if (p == host) return false;
    }
    if (p == end) return true;
    if (*p++ != ':' || p == end || end - p > 5 || *p == '0') return false;
    long port = 0;
    for (; p < end; ++p) {
        if (!isDigit(*p)) return false;
        port = port * 10 + (*p - '0');
    }
    return port <= 65535;
}

// A "/" after the "://": what a browser's address bar shows, not its origin.
bool hasPath(const char* p, const char* end) {
    for (; end - p >= 3; ++p)
        if (std::strncmp(p, "://", 3) == 0)
            return std::memchr(p + 3, '/', static_cast<size_t>(end - p - 3)) != nullptr;
    return false;
}

} // namespace

bool nextOrigin(const char** cursor, const char** origin, size_t* length) {
    const char* p = *cursor;
    while (isBlank(*p))
        ++p;
    if (*p == '\0') return false;
    const char* comma = std::strchr(p, ',');
    const char* end = comma != nullptr ? comma : p + std::strlen(p);
    *cursor = comma != nullptr ? comma + 1 : end;
    while (end > p && isBlank(end[-1]))
        --end;
    *origin = p;
    *length = static_cast<size_t>(end - p);
    return true;
}

bool checkOriginList(const char* text, TextBuilder& reason) {
    const char* cursor = text;
    const char* origin = nullptr;
    size_t length = 0;
    while (nextOrigin(&cursor, &origin, &length)) {
        if (isOrigin(origin, origin + length)) continue;
        if (length == 0) {
            reason.append("holds an empty origin (two commas)");
            return false;
        }
        char shown[64];
        copyText(shown, length + 1 < sizeof shown ? length + 1 : sizeof shown, origin);
        reason.append("holds '");
        reason.append(shown);
        reason.append(hasPath(origin, origin + length)
                          ? "': an origin ends after the host and port, with no path and no "
                            "\"/\" at the end (http://localhost:8000)"
                          : "', which is no origin: null (a page opened from a file) or "
                            "SCHEME://HOST[:PORT], such as http://localhost:8000");
        return false;
    }
    return true;
}

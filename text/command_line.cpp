#include "text/command_line.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <getopt.h>

#include "text/number_text.h"

#ifndef TOLVANE_VERSION
#define TOLVANE_VERSION "unknown"
#endif

const char* tolvaneVersion() {
    return TOLVANE_VERSION;
}

int printVersion(const char* program) {
    std::printf("%s %s\n", program, TOLVANE_VERSION);
    return 0;
}

int usageError(const char* program, const char* format, ...) {
    std::fprintf(stderr, "%s: ", program);
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(stderr, format, arguments);
    va_end(arguments);
    std::fprintf(stderr, "\nTry '%s --help'.\n", program);
    return usageErrorStatus;
}

int optionError(const char* program, int got, int argc, char** argv, int previous) {
    // The word as the user wrote it, up to a "=" that gives a value.
    const char* written = argv[previous < argc ? previous : argc - 1];
    const char* equals = std::strchr(written, '=');
    const int nameLength =
        static_cast<int>(equals != nullptr ? equals - written : std::strlen(written));
    // A value given to a switch is ':' for the BSD getopt_long of mingw-w64
    // and '?' for glibc's; a missing value is ':' for both.
    const bool valueGiven = equals != nullptr && std::strncmp(written, "--", 2) == 0;
    if (got == ':' && !valueGiven) return usageError(program, "%s needs a value", argv[optind - 1]);
    if (got == ':') return usageError(program, "%.*s takes no value", nameLength, written);
    // For a long option given a value it does not take, getopt_long reports
    // the option's own value; for an unknown one, 0.
    if (optopt != 0 && std::strncmp(written, "--", 2) == 0)
        return usageError(program, "%.*s takes no value", nameLength, written);
    if (optopt != 0) return usageError(program, "unknown option '-%c'", optopt);
    return usageError(program, "unknown option '%.*s'", nameLength, written);
}

bool parseWholeNumber(const char* text, int64_t low, int64_t high, int64_t* value) {
    if (text == nullptr) return false;
    const char* p = text;
    const bool negative = *p == '-';
    if (*p == '-' || *p == '+') ++p;
    if (*p == '\0') return false;
    // Accumulated as a negative number, which reaches INT64_MIN without overflow.
    int64_t v = 0;
    for (; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') return false;
        const int digit = *p - '0';
        if (v < (INT64_MIN + digit) / 10) return false;
        v = v * 10 - digit;
    }
    if (!negative) {
        if (v == INT64_MIN) return false;
        v = -v;
    }
    if (v < low || v > high) return false;
    *value = v;
    return true;
}

bool parseDecimalNumber(const char* text, double low, double high, double* value) {
    if (text == nullptr) return false;
    // The whole text must be the number that scanDecimal reads from its start.
    const char* p = text;
    if (*p == '-' || *p == '+') ++p;
    const size_t whole = std::strspn(p, "0123456789");
    p += whole;
    size_t fraction = 0;
    if (*p == '.') {
        fraction = std::strspn(p + 1, "0123456789");
        p += 1 + fraction;
    }
    if (whole + fraction == 0) return false;
    if (*p == 'e' || *p == 'E') {
        ++p;
        if (*p == '-' || *p == '+') ++p;
        const size_t exponent = std::strspn(p, "0123456789");
        if (exponent == 0) return false;
        p += exponent;
    }
    double v = 0.0;
    if (*p != '\0' || !scanDecimal(text, &v) || !(v >= low && v <= high)) return false;
    *value = v;
    return true;
}

bool parsePortNumber(const char* text, uint16_t* port) {
    int64_t v = 0;
    if (!parseWholeNumber(text, 1, 65535, &v)) return false;
    *port = static_cast<uint16_t>(v);
    return true;
}

bool parseHostPort(const char* text, char* host, int hostSize, uint16_t* port) {
    if (text == nullptr) return false;
    const char* colon = std::strrchr(text, ':');
    if (colon == nullptr || !parsePortNumber(colon + 1, port)) return false;
    const char* begin = text;
    const char* end = colon;
    if (end - begin >= 2 && *begin == '[' && end[-1] == ']') {
        ++begin;
        --end;
    }
    const long length = end - begin;
    if (length <= 0 || length >= hostSize) return false;
    std::memcpy(host, begin, static_cast<size_t>(length));
    host[length] = '\0';
    return true;
}

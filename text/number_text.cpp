#include "text/number_text.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

size_t copyText(char* dst, size_t size, const char* src) {
    if (size == 0) return 0;
    size_t n = 0;
    while (n + 1 < size && src[n] != '\0') {
        dst[n] = src[n];
        ++n;
    }
    dst[n] = '\0';
    return n;
}

namespace {

// Writes text right-aligned in width into out; returns the full length.
int padInto(char* out, size_t size, const char* text, int length, int width) {
    int pad = width > length ? width - length : 0;
    int total = pad + length;
    if (size == 0) return total;
    size_t at = 0;
    for (int i = 0; i < pad && at + 1 < size; ++i)
        out[at++] = ' ';
    for (int i = 0; i < length && at + 1 < size; ++i)
        out[at++] = text[i];
    out[at] = '\0';
    return total;
}

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}
bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

} // namespace

int formatFixed(char* out, size_t size, double value, int precision, int width) {
    // 1e308 with a few decimals needs about 330 characters.
    char text[400];
    int length;
    if (std::isnan(value)) {
        length = std::signbit(value) ? 4 : 3;
        std::memcpy(text, std::signbit(value) ? "-nan" : "nan", static_cast<size_t>(length));
    } else if (std::isinf(value)) {
        length = value < 0 ? 4 : 3;
        std::memcpy(text, value < 0 ? "-inf" : "inf", static_cast<size_t>(length));
    } else {
        if (precision < 0) precision = 6;
        if (precision > 60) precision = 60;
        auto result =
            std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision);
        length = result.ec == std::errc() ? static_cast<int>(result.ptr - text) : 0;
    }
    return padInto(out, size, text, length, width);
}

int formatInteger(char* out, size_t size, long long value, int width) {
    char text[32];
    auto result = std::to_chars(text, text + sizeof text, value);
    return padInto(out, size, text, static_cast<int>(result.ptr - text), width);
}

bool scanInteger(const char* text, int32_t* value) {
    const char* p = text;
    while (isSpace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    if (!isDigit(*p)) return false;
    long long magnitude = 0;
    const long long limit = static_cast<long long>(std::numeric_limits<int32_t>::max()) + 1;
    for (; isDigit(*p); ++p) {
        magnitude = magnitude * 10 + (*p - '0');
        if (magnitude > limit) magnitude = limit; // saturate, keep scanning the digits
    }
    long long signedValue = negative ? -magnitude : magnitude;
    if (signedValue > std::numeric_limits<int32_t>::max())
        signedValue = std::numeric_limits<int32_t>::max();
    *value = static_cast<int32_t>(signedValue);
    return true;
}

namespace {

// One conversion straight into the target type: a text scanned into a float
// must be rounded once, not first to double and then again to float.
template <typename Real> bool scanReal(const char* text, Real* value) {
    const char* p = text;
    while (isSpace(*p))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    const char* start = p;
    int digits = 0;
    long long exponentHint = 0; // decimal exponent of the leading digit, roughly
    bool seenNonZero = false;
    while (isDigit(*p)) {
        if (*p != '0') seenNonZero = true;
        if (seenNonZero) ++exponentHint;
        ++p;
        ++digits;
    }
    if (*p == '.') {
        ++p;
        while (isDigit(*p)) {
            if (*p != '0')
                seenNonZero = true;
            else if (!seenNonZero)
                --exponentHint;
            ++p;
            ++digits;
        }
    }
    if (digits == 0) return false;
    const char* end = p;
    if (*p == 'e' || *p == 'E') {
        const char* q = p + 1;
        bool expNegative = false;
        if (*q == '+' || *q == '-') expNegative = *q++ == '-';
        if (isDigit(*q)) {
            long long e = 0;
            for (; isDigit(*q); ++q)
                if (e < 100000) e = e * 10 + (*q - '0');
            exponentHint += expNegative ? -e : e;
            end = q;
        }
    }
    Real result = 0;
    auto parsed = std::from_chars(start, end, result, std::chars_format::general);
    if (parsed.ec == std::errc::result_out_of_range) {
        result =
            (seenNonZero && exponentHint > 0) ? std::numeric_limits<Real>::infinity() : Real(0);
    } else if (parsed.ec != std::errc()) {
        return false;
    }
    *value = negative ? -result : result;
    return true;
}

} // namespace

bool scanDecimal(const char* text, double* value) {
    return scanReal(text, value);
}

bool scanFloat(const char* text, float* value) {
    return scanReal(text, value);
}

void TextBuilder::append(const char* text) {
    size_t n = std::strlen(text);
    if (length + n + 1 > size) {
        overflow = true;
        length += copyText(data + length, size - length, text);
        return;
    }
    std::memcpy(data + length, text, n + 1);
    length += n;
}

void TextBuilder::appendFixed(double value, int precision, int width) {
    char piece[400];
    int n = formatFixed(piece, sizeof piece, value, precision, width);
    if (n >= static_cast<int>(sizeof piece)) overflow = true;
    append(piece);
}

void TextBuilder::appendInteger(long long value, int width) {
    char piece[64];
    int n = formatInteger(piece, sizeof piece, value, width);
    if (n >= static_cast<int>(sizeof piece)) overflow = true;
    append(piece);
}

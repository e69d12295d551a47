#pragma once
// Numbers as text for the device lines, "tolv.conf" and the LAN replies.
// Always "." as the decimal point and the same bytes on every C runtime:
// nothing here calls printf/scanf/strtod, so neither setlocale nor the
// Windows runtime's own rounding can change a reply.

#include <cstddef>
#include <cstdint>

// Bounded copy: at most size-1 bytes of src, always terminated (size > 0).
// Returns the number of bytes copied.
size_t copyText(char* dst, size_t size, const char* src);

// Like snprintf(out, size, "%*.*f", width, precision, value): right-aligned with
// blanks, round-half-even on the exact binary value, "-0.000" for negative zero,
// "inf"/"nan" as glibc prints them. Returns the full length of the text, which
// may exceed size-1 (then the text is cut, still terminated).
int formatFixed(char* out, size_t size, double value, int precision, int width = 0);

// Like snprintf(out, size, "%*d", width, value).
int formatInteger(char* out, size_t size, long long value, int width = 0);

// Scans like "%d": skips white space, optional sign, decimal digits; the rest is
// ignored. False (and *value untouched) when no digit follows. Values beyond
// the 32-bit range saturate.
bool scanInteger(const char* text, int32_t* value);

// Scans like "%f" (strtod's decimal form only): white space, optional sign,
// digits with optional "." and fraction (at least one digit), optional exponent.
// The longest such prefix is converted, correctly rounded; no hex, inf or nan.
// False (and *value untouched) when the text does not begin with a number.
// Too large a magnitude gives an infinity, too small a zero, as strtod does.
bool scanDecimal(const char* text, double* value);

// The same scan straight into a float, rounded once, as "%f" into a float is.
bool scanFloat(const char* text, float* value);

// Builds a text piece by piece in a fixed buffer; remembers whether anything
// did not fit, so that a caller can refuse to use a cut text.
struct TextBuilder {
    char* data;
    size_t size;
    size_t length = 0;
    bool overflow = false;

    TextBuilder(char* buffer, size_t bufferSize) : data(buffer), size(bufferSize) {
        if (size > 0) data[0] = '\0';
    }
    void append(const char* text);
    void appendFixed(double value, int precision, int width = 0);
    void appendInteger(long long value, int width = 0);
};

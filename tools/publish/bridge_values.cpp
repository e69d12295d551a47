#include "tools/publish/bridge_values.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "text/number_text.h"

namespace {

// Reads a reply from left to right; every step fails once anything is off.
struct Cursor {
    const char* at;
    const char* end;

    void skipBlanks() {
        while (at < end && *at == ' ')
            ++at;
    }
    bool expect(const char* literal) {
        skipBlanks();
        const size_t n = std::strlen(literal);
        if (static_cast<size_t>(end - at) < n || std::memcmp(at, literal, n) != 0) return false;
        at += n;
        return true;
    }
    // The text up to the next of the stop characters (or the end), blanks
    // trimmed on both sides.
    bool token(const char* stops, char* out, size_t size) {
        skipBlanks();
        const char* start = at;
        while (at < end && std::strchr(stops, *at) == nullptr)
            ++at;
        const char* last = at;
        while (last > start && last[-1] == ' ')
            --last;
        const size_t n = static_cast<size_t>(last - start);
        if (n == 0 || n >= size) return false;
        std::memcpy(out, start, n);
        out[n] = '\0';
        return true;
    }
};

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// A number as JSON writes it: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
bool isJsonNumber(const char* p) {
    if (*p == '-') ++p;
    if (*p == '0') {
        ++p;
    } else if (isDigit(*p)) {
        while (isDigit(*p))
            ++p;
    } else {
        return false;
    }
    if (*p == '.') {
        if (!isDigit(*++p)) return false;
        while (isDigit(*p))
            ++p;
    }
    if (*p == 'e' || *p == 'E') {
        ++p;
        if (*p == '+' || *p == '-') ++p;
        if (!isDigit(*p)) return false;
        while (isDigit(*p))
            ++p;
    }
    return *p == '\0';
}

bool takeNumber(char* text, float* value) {
    if (isJsonNumber(text)) return scanFloat(text, value);
    // What the C runtime prints for values that are no numbers.
    const bool negative = text[0] == '-';
    const char* word = negative ? text + 1 : text;
    if (std::strcmp(word, "nan") == 0)
        *value = std::numeric_limits<float>::quiet_NaN();
    else if (std::strcmp(word, "inf") == 0)
        *value = negative ? -std::numeric_limits<float>::infinity()
                          : std::numeric_limits<float>::infinity();
    else
        return false;
    copyText(text, 32, "null");
    return true;
}

bool takeButton(const char* text, int32_t* value) {
    const char* digits = text[0] == '-' ? text + 1 : text;
    const size_t n = std::strlen(digits);
    return n > 0 && n <= 10 && std::strspn(digits, "0123456789") == n && scanInteger(text, value);
}

bool parseNumbers(Cursor& c, BridgeValues* v, int first, int count, const char* last) {
    for (int i = first; i < first + count; ++i) {
        if (!c.token(i + 1 < first + count ? "," : last, v->numberText[i],
                     sizeof v->numberText[i]) ||
            !takeNumber(v->numberText[i], &v->numbers[i]))
            return false;
        if (i + 1 < first + count && !c.expect(",")) return false;
    }
    return true;
}

bool parseButtons(Cursor& c, BridgeValues* v, const char* last) {
    for (int i = 0; i < 5; ++i) {
        char text[16];
        if (!c.token(i < 4 ? "," : last, text, sizeof text) || !takeButton(text, &v->buttons[i]))
            return false;
        if (i < 4 && !c.expect(",")) return false;
    }
    return true;
}

void appendTime(TextBuilder& b, double receivedMs, uint64_t seq) {
    b.append("],\"t\":");
    b.appendFixed(receivedMs, 3);
    b.append(",\"seq\":");
    b.appendInteger(static_cast<long long>(seq));
    b.append("}");
}

void appendButtons(TextBuilder& b, const int32_t buttons[5]) {
    for (int i = 0; i < 5; ++i) {
        if (i > 0) b.append(",");
        b.appendInteger(buttons[i]);
    }
}

} // namespace

bool parseBridgeReply(const char* text, size_t length, bool json, BridgeValues* values) {
    Cursor c{text, text + length};
    BridgeValues v;
    bool ok;
    if (json) {
        ok = c.expect("{\"d\":[") && parseNumbers(c, &v, 0, 3, "]") && c.expect("],\"q\":[") &&
             parseNumbers(c, &v, 3, 4, "]") && c.expect("],\"b\":[") && parseButtons(c, &v, "]") &&
             c.expect("]}");
    } else {
        ok = parseNumbers(c, &v, 0, 7, ",") && c.expect(",") && parseButtons(c, &v, ",");
    }
    c.skipBlanks();
    if (!ok || c.at != c.end) return false;
    *values = v;
    return true;
}

size_t formatMotionPayload(char* out, size_t size, const BridgeValues& values, double receivedMs,
                           uint64_t seq) {
    TextBuilder b(out, size);
    for (int i = 0; i < 7; ++i) {
        b.append(i == 0 ? "{\"d\":[" : i == 3 ? "],\"q\":[" : ",");
        b.append(values.numberText[i]);
    }
    b.append("],\"b\":[");
    appendButtons(b, values.buttons);
    appendTime(b, receivedMs, seq);
    return b.overflow ? 0 : b.length;
}

size_t formatButtonsPayload(char* out, size_t size, const int32_t buttons[5], double receivedMs,
                            uint64_t seq) {
    TextBuilder b(out, size);
    b.append("{\"b\":[");
    appendButtons(b, buttons);
    appendTime(b, receivedMs, seq);
    return b.overflow ? 0 : b.length;
}

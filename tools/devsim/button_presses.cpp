#include "tools/devsim/button_presses.h"

#include <cmath>
#include <cstring>

#include "text/command_line.h"

namespace {

// Ten days: far beyond any demo, and whole microseconds stay exact.
constexpr double secondsMax = 864000.0;

// Seconds from text up to (not including) end, as whole microseconds.
bool readSeconds(const char* text, const char* end, int64_t* microseconds) {
    char piece[32];
    const size_t length = static_cast<size_t>(end - text);
    if (length == 0 || length >= sizeof piece) return false;
    std::memcpy(piece, text, length);
    piece[length] = '\0';
    double seconds = 0;
    if (!parseDecimalNumber(piece, 0.0, secondsMax, &seconds)) return false;
    *microseconds = std::llround(seconds * 1e6);
    return true;
}

} // namespace

const char* parseButtonPress(const char* text, ButtonPress* press) {
    const char* form =
        "not B@T+D[/P] (button B from T s for D s, again every P s), for example 0@2.0+0.3";
    if (text[0] < '0' || text[0] > '9' || text[1] != '@') return form;
    if (text[0] > '4') return "the button is 0 to 4";
    const char* plus = std::strchr(text, '+');
    if (plus == nullptr) return form;
    const char* slash = std::strchr(plus, '/');
    const char* end = text + std::strlen(text);
    ButtonPress read;
    read.button = text[0] - '0';
    if (!readSeconds(text + 2, plus, &read.at) ||
        !readSeconds(plus + 1, slash != nullptr ? slash : end, &read.length) ||
        (slash != nullptr && !readSeconds(slash + 1, end, &read.every)))
        return form;
    if (read.length == 0) return "a press lasts longer than 0 s";
    if (slash != nullptr && read.every <= read.length)
        return "it comes again before it is let go (P must be longer than D)";
    *press = read;
    return nullptr;
}

void applyPresses(const PressPlan& plan, int64_t microseconds, ButtonState* buttons) {
    for (int k = 0; k < plan.count; ++k) {
        const ButtonPress& p = plan.press[k];
        if (microseconds < p.at) continue;
        int64_t into = microseconds - p.at;
        if (p.every > 0) into %= p.every;
        if (into < p.length) buttons->button[p.button] = 1;
    }
}

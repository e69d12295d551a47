#include "tools/config/console_text.h"

#include <cstring>

namespace {

constexpr int lineWidth = 79;

} // namespace

void writeWrapped(FILE* out, const char* text, int column, int indent) {
    for (;;) {
        const int room = lineWidth - column > 1 ? lineWidth - column : 1;
        if (std::strlen(text) <= static_cast<size_t>(room)) break;
        const char* cut = text + room;
        while (cut > text && *cut != ' ')
            --cut;
        if (cut == text) { // one word longer than the line: keep it whole
            cut = std::strchr(text + room, ' ');
            if (cut == nullptr) break;
        }
        std::fprintf(out, "%.*s\n%*s", static_cast<int>(cut - text), text, indent, "");
        text = cut + 1;
        column = indent;
    }
    std::fprintf(out, "%s\n", text);
}

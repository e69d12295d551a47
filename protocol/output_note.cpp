#include "protocol/output_note.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>

namespace {
std::atomic<NoteListener> noteListener{nullptr};
}

void setNoteListener(NoteListener listener) {
    noteListener.store(listener);
}

void sayNote(const char* source, NoteLevel level, const char* format, ...) {
    NoteListener listener = noteListener.load();
    if (!listener) return;
    char text[noteCapacity];
    va_list args;
    va_start(args, format);
    int length = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (length < 0) text[0] = '\0';
    listener(source ? source : "", level, text);
}

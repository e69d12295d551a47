#pragma once
// What an output has to say to people (a target that cannot be reached, a
// key the platform cannot send, the backend it chose) goes through this one
// route. Each program connects it once: the headless bridge to standard
// error, the Windows program to a place a window user sees. An output never
// writes to a stream or the event log itself, and adding one wires nothing
// into the programs.

enum class NoteLevel {
    info,    // what is on, what was chosen
    problem, // something the user should act on
};

// source: a short word for who speaks ("udp", "recorder", "pointer").
// text: one line for people, without a line end, at most noteCapacity - 1
// bytes. Called on any thread; must not wait (queue and return).
using NoteListener = void (*)(const char* source, NoteLevel level, const char* text);
void setNoteListener(NoteListener listener);

constexpr int noteCapacity = 256;

// Formats one note (cut to noteCapacity - 1 bytes) and hands it to the
// listener; without a listener the note is dropped.
void sayNote(const char* source, NoteLevel level, const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 3, 4)))
#endif
    ;

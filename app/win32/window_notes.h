#pragma once
// The notes line at the foot of the main window: what the outputs have to say
// (a UDP target that cannot be used, a run of failed sends) and the program's
// own notes (the measurement stopped by the settings dialog, a second
// tolvane.exe), for a user who has no console. Nothing is drawn while there
// is no note; the event log above keeps its texts and its look.

#include <windows.h>

#include "protocol/output_note.h"

// The route's listener (setNoteListener): keeps the latest note of each
// source, hands it to an attached debugger and asks for a repaint. Any thread.
void showOutputNote(const char* source, NoteLevel level, const char* text);

// Who speaks in the program's own notes: "tolvane" is forgotten at the next
// Run, "instance" stays.
constexpr char measurementSource[] = "tolvane";
constexpr char instanceSource[] = "instance";
// The program's own note: a string of the resource table.
void showProgramNote(const char* source, UINT stringId, NoteLevel level);

// At Run: what the last measurement and its outputs said no longer holds.
void forgetMeasurementNotes();
// The note of one source no longer holds (the other tolvane.exe has gone).
void forgetNote(const char* source);

// Draws the notes at the foot of the client area, over the log's lowest lines
// where both meet; window thread, inside the paint of the log.
void paintNotes(HDC dc, HWND window);

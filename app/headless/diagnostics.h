#pragma once
// Notes for the person at the console: which settings file the headless
// bridge read and what it makes of it, why the serial port does not open,
// where the LAN server opens. Each note is one line handed to a sink (the
// mirror's standard error); the event log itself stays as it is.

#include "protocol/worker_event.h"
#include "text/listen_address.h"

using NoteSink = void (*)(const char* line);

// At start, after the settings were read from path: the file (its absolute
// path) or that there is none, the settings in effect by name, and a warning
// for each setting that cannot do what it was probably meant to do.
void noteSettingsAtStart(const char* path, NoteSink say);

// When no display can be reached and the air mouse is on: that it moves
// nothing, and which outputs go on (recording: --record is given), or that
// none does.
void noteNoDisplay(bool recording, NoteSink say);

// With every worker event, on the worker's thread right after it was logged:
// the reason of a failed serial open (once per distinct reason), where the
// LAN server opens and in which dialect (once), a failed LAN open (once per
// run of failures), and which "error" texts of the log are a stop or the
// normal end of a client's session.
void noteWorkerEvent(const WorkerEvent& event, NoteSink say);

// Whom a lanAddress lets in, for the notes and tolvane-config check:
// " (lanAddress): on every IPv4 address of this machine" and the like.
const char* lanAddressReach(const ListenAddress& address);

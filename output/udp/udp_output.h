#pragma once
// The UDP output: each line's values as one datagram to one target, in
// opentrack's pose format or as the OSC message "/tolvane/motion". Off unless
// a target is set. Used by the measurement worker's thread only.
//
// It never holds the measurement: the name is resolved once per measurement
// cycle, sends never wait, and a send that fails is counted and passed over
// (never an event-log message, never a restart). What people should know goes
// to the note listener: the target once it is open, a target that cannot be
// opened, the first failure of a run of failed sends and the end of that run.

#include <cstdint>

#include "device/device_line.h"
#include "motion/orientation.h"
#include "settings/settings.h"

// One line of text for people, without a line end; called on the worker's
// thread and must not wait. Null: the notes are dropped.
using UdpNoteListener = void (*)(const char* line);
void setUdpNoteListener(UdpNoteListener listener);

// At the start of a measurement cycle: resolves targetText ("HOST:PORT") and
// opens the socket. An empty text turns the output off without a word. False
// when the output is off for this cycle (empty, unusable or unresolvable
// target; the last two are noted once until the target or reason changes).
bool openUdpOutput(const char* targetText, UdpFormat format);

// Whether openUdpOutput left the output on.
bool udpOutputOpen();

// Sends the LAN output's values and the line's buttons as one datagram.
// Nothing when the output is off.
void sendUdpOutput(const MotionOutput& motion, const ButtonState& buttons);

// At the end of a cycle (restart) and when the worker ends.
void closeUdpOutput();

struct UdpOutputCounts {
    uint64_t sent;   // datagrams handed to the system whole and not refused since
    uint64_t failed; // sends the system refused, and datagrams that came back refused
};
// Since the process started; readable from any thread.
UdpOutputCounts udpOutputCounts();

// The datagram of one sample in a format; returns its length (at most 80).
// For the benchmark and the tests; sendUdpOutput uses the same.
constexpr int udpDatagramCapacity = 80;
int encodeUdpDatagram(UdpFormat format, const MotionOutput& motion, const ButtonState& buttons,
                      unsigned char out[udpDatagramCapacity]);

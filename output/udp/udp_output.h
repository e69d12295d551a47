#pragma once
// The UDP output: each line's values as one datagram to one target, in
// opentrack's pose format or as the OSC message "/tolvane/motion". Off unless
// a target is set. Used by the measurement worker's thread only.
//
// It never holds the measurement: a name is looked up on a thread of its own
// when the worker starts, and the output turns on with the first line after
// the answer; sends never wait, and a send that fails is counted and passed
// over (never an event-log message, never a restart). What people should know
// goes out as notes (protocol/output_note.h, source "udp"): the target once it
// is open, a target that cannot be used, the first failure of a run of failed
// sends and the end of that run, and at the worker's end how many went out.

#include <cstdint>

#include "device/device_line.h"
#include "motion/orientation.h"
#include "settings/settings.h"

// Once per worker, before its first cycle: takes targetText ("HOST:PORT")
// and the format. An address opens the socket at once; a name is looked up
// on a thread of its own, unless the last lookup of the same text is still
// under way or failed (a failure is kept until the target changes). An empty
// text turns the output off without a word. Each problem is said once per
// worker.
void prepareUdpOutput(const char* targetText, UdpFormat format);

// Whether the socket is open.
bool udpOutputOpen();
// Whether the output is open or waits for its name: the worker then reads
// lines, so that the first one after the answer goes out.
bool udpOutputWanted();

// At the start of each cycle: if the lookup is still under way, says so once.
void beginUdpCycle();

// Sends the LAN output's values and the line's buttons as one datagram; first
// takes the socket of a lookup that has ended. Nothing when the output is off.
void sendUdpOutput(const MotionOutput& motion, const ButtonState& buttons);

// When the worker ends: closes the socket and says how many datagrams this
// worker sent. A lookup still under way goes on without it; its socket is
// closed when it ends, its failure kept.
void finishUdpOutput();

struct UdpOutputCounts {
    uint64_t sent;    // datagrams handed to the system whole and not refused since
    uint64_t failed;  // sends the system refused, and datagrams that came back refused
    uint64_t lookups; // names looked up (an address or a kept failure is none)
};
// Since the process started; readable from any thread.
UdpOutputCounts udpOutputCounts();

// The datagram of one sample in a format; returns its length (at most 80).
// For the benchmark and the tests; sendUdpOutput uses the same.
constexpr int udpDatagramCapacity = 80;
int encodeUdpDatagram(UdpFormat format, const MotionOutput& motion, const ButtonState& buttons,
                      unsigned char out[udpDatagramCapacity]);

// Whether host (as parseUdpTarget gives it) is an IPv4 or IPv6 address, which
// needs no lookup.
bool isAddressLiteral(const char* host);

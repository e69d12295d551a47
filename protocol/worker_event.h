#pragma once
// What the measurement worker reports, as events with their data. One
// formatter gives each event its text in the event log; whoever wants to act
// on an event (the headless notes) reads the record, never the text.

#include <cstddef>
#include <cstdint>

#include "settings/com_device.h"
#include "text/system_result.h"

enum class WorkerEventKind {
    serialOpen,        // port, opened
    lanOpen,           // lanPort, opened (a client was accepted)
    featureEnabled,    // feature
    portWriteFailed,   // the poll byte did not go out
    portReadFailed,    // no complete device line came
    socketReadFailed,  // the client's request could not be read
    socketWriteFailed, // the reply could not be sent
    restart,           // the cycle ends; the port and sockets are closed
};

enum class WorkerFeature { lan, webSocket, mouse };

struct WorkerEvent {
    WorkerEventKind kind = WorkerEventKind::restart;
    bool opened = false;
    int32_t lanPort = 0;
    char comPort[comDeviceSize] = ""; // comDevice, else comPort, as written at the open
    SystemResult serialResult; // serialOpen: the open's result, with its reason when it failed
    SystemResult lanResult;    // lanOpen: the same for the LAN server's listen and accept
    WorkerFeature feature = WorkerFeature::lan;
    bool clientConnected = false; // for socket and restart events: a LAN client was there
    bool stopping = false;        // a stop was asked for when it happened
};

constexpr size_t workerEventTextSize = 256;

// The event log's text for an event; returns its length.
size_t formatWorkerEvent(const WorkerEvent& event, char* out, size_t size);

// Whether the window is asked to show the log again after this event.
bool workerEventRepaints(const WorkerEvent& event);

#pragma once
// Scripted stand-ins for the serial link, the LAN server and the pointer,
// linked into the worker's unit tests in place of the real ones (the air
// mouse itself is the real one). Every call the worker makes,
// every log line and every paint request lands in one ordered trace, so a
// test can compare whole sequences. Blocking calls (accept, a request read,
// a silent device) block until the matching close, as the real ones do.

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <vector>

struct FakeWorld {
    // Serial link.
    std::deque<bool> serialOpens;        // results of the next opens; then serialOpenDefault
    bool serialOpenDefault = true;       // an open also fails while the port is open (exclusive)
    std::deque<std::string> lines;       // what the next readDeviceLine calls deliver
    bool lineReadBlocks = false;         // no line left: block until closed (else fail at once)
    std::deque<bool> pollResults;        // then true
    std::function<void()> afterLineRead; // runs once a line has been handed out
    // LAN server.
    std::deque<int> lanOpens; // 1 accepted, 0 failed, -1 block in accept until closed
    int lanOpenDefault = -1;
    std::deque<int> requests;      // command bytes; -1 the client closes
    bool requestReadBlocks = true; // none left: block until closed (else fail at once)
    std::deque<bool> sendResults;  // then true
};

// Replaces the world and empties the trace; also resets the event log
// listener so that every message is traced.
void resetFakes(const FakeWorld& world);
// Runs f with the world locked (to script more while a worker runs).
void editFakes(const std::function<void(FakeWorld&)>& f);

std::vector<std::string> traceCopy();
// Waits (bounded) until pred holds for the trace; false on time-out.
bool waitForTrace(const std::function<bool(const std::vector<std::string>&)>& pred,
                  std::chrono::milliseconds bound = std::chrono::milliseconds(15000));
// Waits until the trace holds `entry` at least `times` times.
bool waitForEntry(const std::string& entry, int times = 1,
                  std::chrono::milliseconds bound = std::chrono::milliseconds(15000));
int countEntries(const std::vector<std::string>& trace, const std::string& entry);

bool fakePortOpen();
bool fakeListenOpen();
bool fakeClientOpen();
// Waits until the worker is blocked reading a line from the silent device.
bool waitForBlockedLineRead(std::chrono::milliseconds bound);
std::vector<std::string> fakeReplies();

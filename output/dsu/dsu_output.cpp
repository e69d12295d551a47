#include "output/dsu/dsu_output.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>

#include "device/device_line.h"
#include "net/datagram_server.h"
#include "output/dsu/dsu_motion.h"
#include "protocol/output_note.h"
#include "settings/settings.h"

namespace {

// How long the server's thread waits for a request before it looks at the
// stop flag again: a stop ends it within this.
constexpr int waitMilliseconds = 100;
// The largest datagram read whole; anything longer is no request.
constexpr size_t receiveCapacity = 64;

struct Subscriber {
    bool used = false;
    DatagramPeer peer;
    int64_t expires = 0; // steady microseconds
    uint32_t counter = 0;
};

std::mutex tableLock; // the subscribers; held only to read or change them
Subscriber subscribers[dsuMaxSubscribers];

NativeSocket serverSocket = noSocket;
std::thread serverThread;
std::atomic<bool> running{false};
std::atomic<bool> stopWanted{false};
uint32_t serverId = 0;
const DsuPadInfo padInfo = {{0x02, 0x54, 0x4F, 0x4C, 0x00, 0x01}}; // locally administered

std::atomic<uint64_t> answered{0}, badPackets{0}, refused{0}, padSent{0}, padFailed{0};

DsuMotionTracker tracker; // the worker's

int64_t nowMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// A request from another machine may carry a forged sender: its answer must
// not be larger than itself. From this machine no one can forge one.
bool mayAnswer(const DatagramPeer& from, size_t requestSize, size_t answerSize) {
    return isLoopbackIpv4(from.address) || answerSize <= requestSize;
}

void answer(const DatagramPeer& from, const uint8_t* packet, size_t size) {
    if (sendDatagramTo(serverSocket, packet, size, from)) answered.fetch_add(1);
}

void subscribe(const DatagramPeer& from) {
    const int64_t now = nowMicros();
    std::lock_guard<std::mutex> guard(tableLock);
    Subscriber* free = nullptr;
    for (Subscriber& s : subscribers) {
        if (s.used && s.peer == from) {
            s.expires = now + dsuSubscriptionMicros;
            return;
        }
        if (free == nullptr && (!s.used || s.expires <= now)) free = &s;
    }
    if (free == nullptr) {
        refused.fetch_add(1);
        return;
    }
    *free = Subscriber{true, from, now + dsuSubscriptionMicros, 0};
}

void serve(const uint8_t* data, size_t size, const DatagramPeer& from) {
    const DsuRequest request = parseDsuRequest(data, size);
    switch (request.kind) {
    case DsuRequestKind::bad:
        badPackets.fetch_add(1);
        return;
    case DsuRequestKind::version: {
        if (!mayAnswer(from, size, dsuVersionReplySize)) {
            refused.fetch_add(1);
            return;
        }
        uint8_t reply[dsuVersionReplySize];
        answer(from, reply, buildDsuVersionReply(serverId, reply));
        return;
    }
    case DsuRequestKind::portInfo:
        if (!mayAnswer(from, size, dsuPortReplySize)) {
            refused.fetch_add(1);
            return;
        }
        for (int i = 0; i < request.slotCount; ++i) {
            uint8_t reply[dsuPortReplySize];
            answer(from, reply, buildDsuPortReply(serverId, request.slots[i], padInfo, reply));
        }
        return;
    case DsuRequestKind::padData:
        if (dsuWantsOurPad(request, padInfo.mac)) subscribe(from);
        return;
    }
}

void serverLoop() {
    uint8_t data[receiveCapacity];
    while (!stopWanted.load()) {
        const int ready = waitReadable(serverSocket, waitMilliseconds);
        if (ready < 0) break;
        if (ready == 0) continue;
        // Whatever is waiting, then back to the stop test.
        for (int n = 0; n < 64 && !stopWanted.load(); ++n) {
            DatagramPeer from;
            const long got = receiveDatagramFrom(serverSocket, data, sizeof data, &from);
            if (got < 0) {
                sayNote("dsu", NoteLevel::problem,
                        "DSU server: its socket failed; no more requests are answered until the "
                        "next Run");
                return;
            }
            if (got == 0) break;
            serve(data, static_cast<size_t>(got) > sizeof data ? sizeof data + 1 : got, from);
        }
    }
}

bool serverOn() {
    return running.load();
}

void forgetMotion() {
    tracker = DsuMotionTracker{};
}

void prepareServer() {
    if (settings.dsuServer.load() != DsuServerSwitch::on) return;
    char address[dsuAddressSize];
    getDsuAddress(address);
    const int32_t port = settings.dsuPort.load();
    startDsuServer(address, static_cast<uint16_t>(port < 0 || port > 65535 ? 0 : port));
}

OutputOutcome sendLine(const LinePass& pass) {
    if (!pass.accepted || !running.load() || pass.lanOutput == nullptr) return {};
    Sample sample;
    ButtonState buttons;
    // The line's own acceleration: the window's d holds angles unless
    // accelerationOutput is set.
    if (!parseDeviceLine(pass.line, &sample, &buttons)) return {};
    const int64_t micros =
        std::chrono::duration_cast<std::chrono::microseconds>(pass.received.time_since_epoch())
            .count();
    const DsuPadState state =
        dsuPadStateOf(tracker, pass.lanOutput->quaternion, sample.value, buttons, micros);
    sendDsuPad(state);
    return {}; // a client that is gone is never a restart
}

} // namespace

bool startDsuServer(const char* address, uint16_t port) {
    closeDsuServer();
    uint32_t bindTo = 0;
    if (!parseIpv4Address(address, &bindTo)) {
        sayNote("dsu", NoteLevel::problem,
                "DSU server off: dsuAddress '%s' is no IPv4 address (127.0.0.1 for this machine "
                "only, 0.0.0.0 for every network)",
                address);
        return false;
    }
    char reason[160];
    serverSocket = openDatagramServer(bindTo, port, reason, sizeof reason);
    if (serverSocket == noSocket) {
        sayNote("dsu", NoteLevel::problem,
                "DSU server off: cannot listen on %s port %u (%s); another DSU server may hold "
                "it: set dsuPort",
                address, port, reason);
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(tableLock);
        for (Subscriber& s : subscribers)
            s = Subscriber{};
    }
    serverId = static_cast<uint32_t>(nowMicros() ^ (nowMicros() >> 32)) | 1u;
    stopWanted = false;
    try {
        serverThread = std::thread(serverLoop);
    } catch (const std::system_error&) {
        closeNativeSocket(serverSocket);
        serverSocket = noSocket;
        sayNote("dsu", NoteLevel::problem, "DSU server off: no thread for it");
        return false;
    }
    running = true;
    sayNote("dsu", NoteLevel::info,
            "DSU server: listening on %s port %u; in the emulator choose the DSU (cemuhook) "
            "server %s:%u, pad 1",
            address, dsuServerPort(), bindTo == 0 ? "127.0.0.1" : address, dsuServerPort());
    return true;
}

bool dsuServerRunning() {
    return running.load();
}

uint16_t dsuServerPort() {
    return serverSocket == noSocket ? 0 : boundPort(serverSocket);
}

void stopDsuServer() {
    stopWanted = true;
}

void closeDsuServer() {
    if (!running.load()) return;
    stopWanted = true;
    if (serverThread.joinable()) serverThread.join();
    running = false;
    closeNativeSocket(serverSocket);
    serverSocket = noSocket;
    const DsuServerCounts c = dsuServerCounts();
    sayNote("dsu", NoteLevel::info,
            "DSU server: closed; %llu pad-data packets sent (%llu failed), %llu answers, %llu bad "
            "packets ignored, %llu requests refused",
            static_cast<unsigned long long>(c.padSent),
            static_cast<unsigned long long>(c.padFailed),
            static_cast<unsigned long long>(c.answered), static_cast<unsigned long long>(c.bad),
            static_cast<unsigned long long>(c.refused));
}

void sendDsuPad(const DsuPadState& state) {
    if (!running.load()) return;
    uint8_t packet[dsuPadDataSize];
    buildDsuPadData(serverId, padInfo, state, packet);
    DatagramPeer to[dsuMaxSubscribers];
    uint32_t counter[dsuMaxSubscribers];
    int count = 0;
    const int64_t now = nowMicros();
    {
        std::lock_guard<std::mutex> guard(tableLock);
        for (Subscriber& s : subscribers) {
            if (!s.used) continue;
            if (s.expires <= now) {
                s.used = false;
                continue;
            }
            to[count] = s.peer;
            counter[count] = ++s.counter;
            ++count;
        }
    }
    for (int i = 0; i < count; ++i) {
        stampDsuPadData(counter[i], packet);
        if (sendDatagramTo(serverSocket, packet, sizeof packet, to[i]))
            padSent.fetch_add(1, std::memory_order_relaxed);
        else
            padFailed.fetch_add(1, std::memory_order_relaxed);
    }
}

DsuServerCounts dsuServerCounts() {
    return {answered.load(), badPackets.load(), refused.load(), padSent.load(), padFailed.load()};
}

// The server lives as long as the worker: subscriptions outlast a restart of
// the serial link. A stop only asks its thread to end (it never holds the
// worker); the worker's own thread joins it and closes the socket at finish,
// so that no close races a send.
const LineOutput dsuOutput = {
    .prepare = prepareServer,
    .readsUnasked = serverOn,
    .needsLanOutput = serverOn,
    .begin = forgetMotion,
    .pass = sendLine,
    .restart = forgetMotion,
    .stop = stopDsuServer,
    .finish = closeDsuServer,
};

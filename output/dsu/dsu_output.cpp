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
#include "text/listen_address.h"

namespace {

// How long the server's thread waits for a request before it looks at the
// stop flag again: a stop ends it within this.
constexpr int waitMilliseconds = 100;
// The largest datagram read whole; anything longer is no request.
constexpr size_t receiveCapacity = dsuLargestRequest;

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

// How long a pad-data request keeps its sender subscribed: a packet from
// 127.0.0.0/8 came from this machine, where no one can forge a sender.
int64_t lifetimeOf(const DatagramPeer& peer) {
    return isLoopbackIpv4(peer.address) ? dsuSubscriptionMicros : dsuRemoteSubscriptionMicros;
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
            s.expires = now + lifetimeOf(from);
            return;
        }
        if (free == nullptr && (!s.used || s.expires <= now)) free = &s;
    }
    if (free == nullptr) {
        refused.fetch_add(1);
        return;
    }
    *free = Subscriber{true, from, now + lifetimeOf(from), 0};
}

void serve(const uint8_t* data, size_t size, const DatagramPeer& from) {
    const DsuRequest request = parseDsuRequest(data, size);
    switch (request.kind) {
    case DsuRequestKind::bad:
        badPackets.fetch_add(1);
        return;
    case DsuRequestKind::version: {
        uint8_t reply[dsuVersionReplySize];
        answer(from, reply, buildDsuVersionReply(serverId, reply));
        return;
    }
    case DsuRequestKind::portInfo: {
        // Another machine gets one answer per request, at most a few bytes
        // larger than the request, so that a forged sender gains nothing: the
        // device's slot when asked about, else the first slot asked about.
        // A client takes a slot it hears nothing of as not connected anyway.
        int only = -1;
        if (!isLoopbackIpv4(from.address)) {
            only = 0;
            for (int i = 0; i < request.slotCount; ++i)
                if (request.slots[i] == dsuOurSlot) {
                    only = i;
                    break;
                }
        }
        for (int i = 0; i < request.slotCount; ++i) {
            if (only >= 0 && i != only) continue;
            uint8_t reply[dsuPortReplySize];
            answer(from, reply, buildDsuPortReply(serverId, request.slots[i], padInfo, reply));
        }
        return;
    }
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
    ListenAddress checked;
    checked.family = ListenFamily::ipv4;
    if (!parseIpv4Text(address, checked.bytes)) {
        sayNote("dsu", NoteLevel::problem,
                "DSU server off: dsuAddress '%s' is no IPv4 address (127.0.0.1 for this machine "
                "only, 0.0.0.0 for every address)",
                address);
        return false;
    }
    if (const char* why = unlistenableAddressReason(checked); why != nullptr) {
        sayNote("dsu", NoteLevel::problem, "DSU server off: dsuAddress %s %s", address, why);
        return false;
    }
    uint32_t bindTo = 0;
    parseIpv4Address(address, &bindTo);
    const SystemResult opened = openDatagramServer(bindTo, port, &serverSocket);
    if (!opened) {
        switch (bindFailureOf(opened)) {
        case BindFailure::portInUse:
            sayNote("dsu", NoteLevel::problem,
                    "DSU server off: %s; another program (another DSU server?) holds the port: "
                    "end it, or set another dsuPort",
                    opened.reason);
            break;
        case BindFailure::addressNotHere:
            sayNote("dsu", NoteLevel::problem,
                    "DSU server off: %s; dsuAddress %s is no address of this machine: set one of "
                    "its addresses, 127.0.0.1 for this machine only, or 0.0.0.0 for every address",
                    opened.reason, address);
            break;
        case BindFailure::denied:
            sayNote("dsu", NoteLevel::problem,
                    "DSU server off: %s; the system keeps that port: set another dsuPort",
                    opened.reason);
            break;
        case BindFailure::other:
            sayNote("dsu", NoteLevel::problem, "DSU server off: %s", opened.reason);
            break;
        }
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
    const unsigned bound = dsuServerPort();
    if (isLoopbackAddress(checked))
        sayNote("dsu", NoteLevel::info,
                "DSU server: listening on %s port %u; in the emulator choose the DSU (cemuhook) "
                "server %s:%u, pad 1",
                address, bound, address, bound);
    else
        sayNote("dsu", NoteLevel::info,
                "DSU server: listening on %s port %u%s; in the emulator choose the DSU "
                "(cemuhook) server %s:%u, pad 1. From the network anyone sees the motion, and a "
                "forged request has pad data sent elsewhere for 2 s",
                address, bound, bindTo == 0 ? " (every address)" : "",
                bindTo == 0 ? "127.0.0.1" : address, bound);
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

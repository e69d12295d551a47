#include "tools/probe/probe_dsu.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "net/datagram_server.h"
#include "output/dsu/dsu_protocol.h"
#include "text/number_text.h"

namespace {

using Clock = std::chrono::steady_clock;

const char program[] = "tolvane-probe";
constexpr uint32_t clientId = 0x504C4F54; // "TOLP"

struct Link {
    NativeSocket socket = noSocket;
    DatagramPeer server;
    const volatile std::sig_atomic_t* interrupted = nullptr;
};

bool send(const Link& link, const uint8_t* data, size_t size) {
    return sendDatagramTo(link.socket, data, size, link.server);
}

// The next packet of the server's that parses, of any kind, until deadline
// (in slices, so that Ctrl+C ends the wait); false when none came.
bool receive(const Link& link, Clock::time_point deadline, DsuAnswer* answer) {
    uint8_t data[dsuPadDataSize + 1];
    while (!*link.interrupted) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        const int ready = waitReadable(link.socket, static_cast<int>(left < 100 ? left : 100));
        if (ready < 0) return false;
        if (ready == 0) continue;
        DatagramPeer from;
        const long got = receiveDatagramFrom(link.socket, data, sizeof data, &from);
        if (got <= 0 || from.port != link.server.port) continue;
        *answer = parseDsuAnswer(data, static_cast<size_t>(got));
        if (answer->kind != DsuRequestKind::bad) return true;
    }
    return false;
}

std::string fixed(double value, int precision) {
    char text[48];
    formatFixed(text, sizeof text, value, precision);
    return text;
}

std::string macText(const uint8_t mac[6]) {
    char text[24];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string buttonsText(const DsuPadState& pad) {
    const struct {
        bool down;
        const char* name;
    } buttons[] = {{(pad.buttons2 & 0x20u) != 0, "A"},    {(pad.buttons2 & 0x40u) != 0, "B"},
                   {(pad.buttons2 & 0x10u) != 0, "X"},    {(pad.buttons2 & 0x80u) != 0, "Y"},
                   {(pad.buttons1 & 0x10u) != 0, "up"},   {(pad.buttons1 & 0x40u) != 0, "down"},
                   {(pad.buttons1 & 0x80u) != 0, "left"}, {(pad.buttons1 & 0x20u) != 0, "right"}};
    std::string text;
    for (const auto& b : buttons)
        if (b.down) text += (text.empty() ? "" : ",") + std::string(b.name);
    return text.empty() ? "none" : text;
}

void printPad(const DsuAnswer& a) {
    const DsuPadState& p = a.pad;
    std::printf("pad %u: #%u time %s s buttons %s accel %s %s %s g gyro %s %s %s deg/s\n",
                a.slot + 1u, a.counter,
                fixed(static_cast<double>(p.timestampMicros) * 1e-6, 6).c_str(),
                buttonsText(p).c_str(), fixed(p.accel[0], 3).c_str(), fixed(p.accel[1], 3).c_str(),
                fixed(p.accel[2], 3).c_str(), fixed(p.gyro[0], 2).c_str(),
                fixed(p.gyro[1], 2).c_str(), fixed(p.gyro[2], 2).c_str());
    std::fflush(stdout);
}

void printSlot(const DsuAnswer& a) {
    if (a.state == 0) {
        std::printf("slot %u (pad %u): not connected\n", a.slot, a.slot + 1u);
        return;
    }
    std::printf("slot %u (pad %u): %s, %s, MAC %s\n", a.slot, a.slot + 1u,
                a.state == 2 ? "connected" : "reserved",
                a.model == 2   ? "full gyro"
                : a.model == 1 ? "partial gyro"
                               : "no gyro",
                macText(a.mac).c_str());
}

} // namespace

int probeDsuServer(const DsuProbe& probe, const char* hostText,
                   const volatile std::sig_atomic_t* interrupted) {
    Link link;
    link.server = DatagramPeer{probe.address, probe.port};
    link.interrupted = interrupted;
    if (const SystemResult opened = openDatagramServer(0, 0, &link.socket); !opened) {
        std::fprintf(stderr, "%s: %s\n", program, opened.reason);
        return 1;
    }
    const auto wait = std::chrono::milliseconds(probe.timeoutMs);
    uint8_t request[dsuPortRequestMax];
    DsuAnswer answer;

    // The version: whether anything answers at all.
    bool answered = false;
    if (send(link, request, buildDsuVersionRequest(clientId, request))) {
        const auto deadline = Clock::now() + wait;
        while (receive(link, deadline, &answer))
            if (answer.kind == DsuRequestKind::version) {
                answered = true;
                break;
            }
    }
    if (!answered) {
        closeNativeSocket(link.socket);
        if (*interrupted) return 1;
        std::fprintf(stderr,
                     "%s: no answer from a DSU server at %s:%u within %d ms: is the bridge "
                     "running with dsuServer=on, and do its dsuAddress and dsuPort match? "
                     "(`tolvane-config check` says where it would listen; from another machine "
                     "a firewall may drop UDP)\n",
                     program, hostText, probe.port, probe.timeoutMs);
        return 1;
    }
    std::printf("DSU server at %s:%u: protocol version %u, server id %08x\n", hostText, probe.port,
                answer.version, answer.serverId);

    // The four slots; a server answers another machine about fewer.
    const uint8_t slots[4] = {0, 1, 2, 3};
    int slotsSaid = 0;
    if (send(link, request, buildDsuPortRequest(clientId, 4, slots, request))) {
        const auto deadline = Clock::now() + wait;
        while (slotsSaid < 4 && receive(link, deadline, &answer))
            if (answer.kind == DsuRequestKind::portInfo) {
                printSlot(answer);
                ++slotsSaid;
            }
    }
    if (slotsSaid == 0 && !*interrupted)
        std::fprintf(stderr, "%s: the server answered no port request within %d ms\n", program,
                     probe.timeoutMs);
    std::fflush(stdout);

    // Pad data of slot 0, renewed every second as emulators do.
    long got = 0, empty = 0;
    bool silenceSaid = false;
    auto renewAt = Clock::now();
    const auto start = Clock::now();
    auto last = start;
    auto silentSince = start; // the last packet, or the last empty wait
    while (!*interrupted && (probe.count == 0 || got + empty < probe.count)) {
        if (Clock::now() >= renewAt) {
            send(link, request, buildDsuPadRequest(clientId, dsuOurSlot, request));
            renewAt = Clock::now() + std::chrono::seconds(1);
        }
        bool padCame = false;
        while (receive(link, std::min(silentSince + wait, renewAt), &answer))
            if (answer.kind == DsuRequestKind::padData) {
                padCame = true;
                break;
            }
        if (padCame) {
            ++got;
            last = silentSince = Clock::now();
            if (!probe.quiet) printPad(answer);
            continue;
        }
        if (*interrupted || Clock::now() < silentSince + wait) continue; // a renewal is due
        ++empty;
        silentSince = Clock::now();
        if (!silenceSaid) {
            silenceSaid = true;
            std::fprintf(stderr,
                         "%s: no pad data within %d ms: the server sends a packet for each line "
                         "the device sends; is the device on and its port open? (the bridge's "
                         "event log says)\n",
                         program, probe.timeoutMs);
        }
    }
    closeNativeSocket(link.socket);
    const double seconds = std::chrono::duration<double>(last - start).count();
    std::printf("pad data %ld packets, %ld empty waits, %s packets per second\n", got, empty,
                fixed(seconds > 0 ? static_cast<double>(got) / seconds : 0.0, 1).c_str());
    std::fflush(stdout);
    return got > 0 && slotsSaid > 0 ? 0 : 1;
}

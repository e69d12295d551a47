// tolvane-probe: a LAN client of the bridge, for users and for measurement.
// Sends "D" requests (plain bytes or WebSocket frames) at a fixed rate or as
// fast as replies come, prints each reply, and at the end the number of
// replies, the round-trip latency percentiles and the request rate. With
// --dsu a DSU client instead (probe_dsu.h).
#include <getopt.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "client/bridge_client.h"
#include "net/datagram_server.h"
#include "net/stream_client.h"
#include "text/command_line.h"
#include "text/number_text.h"
#include "tools/probe/probe_dsu.h"

namespace {

using Clock = BridgeClock;

// The probe holds one connection at a time.
BridgeLink probeLink;

const char program[] = "tolvane-probe";

const char usage[] =
    "usage: tolvane-probe [options]\n"
    "Asks the bridge's LAN server for measurements (request \"D\"), prints each\n"
    "reply as it comes and at the end the number of replies, the round-trip latency\n"
    "percentiles and the request rate.\n"
    "\n"
    "  --host NAME        bridge host (default 127.0.0.1)\n"
    "  --port N           LAN port, 1 to 65535 (default 8096)\n"
    "  --websocket        speak the WebSocket dialect (default: plain); use it when\n"
    "                     the bridge's tolv.conf has webSocketEnabled 1\n"
    "  --count N          stop after N requests (default 0: until Ctrl+C)\n"
    "  --rate R           requests per second (default 0: as fast as replies come)\n"
    "  --timeout MS       wait this long for a reply before the next request\n"
    "                     (1 to 3600000, default 1000)\n"
    "  --connect-wait S   while the connection is refused, keep trying for S seconds\n"
    "                     (default 0: give up at once)\n"
    "  --quiet            print only the summary\n"
    "  --dsu              ask the DSU (cemuhook) server instead: its version, its\n"
    "                     slots, then pad data (--count packets), as an emulator\n"
    "                     does; --host is then an IPv4 address or localhost and\n"
    "                     --port defaults to 26760\n"
    "  -h, --help         this text\n"
    "      --version      the program's version\n"
    "\n"
    "Examples:\n"
    "  tolvane-probe --count 10\n"
    "  tolvane-probe --websocket --host 192.168.1.20 --port 8096 --rate 4\n"
    "  tolvane-probe --dsu --count 5\n"
    "\n"
    "Exit status: 0 when replies came (--dsu: the server answered and pad data\n"
    "came), 1 when none came or the connection failed, 2 for a usage error.\n";

struct Options {
    std::string host = "127.0.0.1";
    std::string port = "8096";
    bool webSocket = false;
    long count = 0;
    double rate = 0.0;
    int timeoutMs = 1000;
    double connectWait = 0.0;
    bool quiet = false;
    bool dsu = false;
    bool portGiven = false;
    // What only the LAN client uses, for --dsu's usage error.
    const char* lanOnly = nullptr;
};

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int) {
    interrupted = 1;
}

OptionsResult parseOptions(int argc, char** argv, Options* o) {
    enum {
        hostOption = 256,
        portOption,
        webSocketOption,
        countOption,
        rateOption,
        timeoutOption,
        connectWaitOption,
        quietOption,
        dsuOption,
        versionOption
    };
    const option options[] = {
        {"host", required_argument, nullptr, hostOption},
        {"port", required_argument, nullptr, portOption},
        {"websocket", no_argument, nullptr, webSocketOption},
        {"count", required_argument, nullptr, countOption},
        {"rate", required_argument, nullptr, rateOption},
        {"timeout", required_argument, nullptr, timeoutOption},
        {"connect-wait", required_argument, nullptr, connectWaitOption},
        {"quiet", no_argument, nullptr, quietOption},
        {"dsu", no_argument, nullptr, dsuOption},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, versionOption},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int c;
    for (int previous = optind; (c = getopt_long(argc, argv, ":h", options, nullptr)) != -1;
         previous = optind) {
        int64_t whole = 0;
        uint16_t port = 0;
        double number = 0.0;
        switch (c) {
        case 'h':
            std::fputs(usage, stdout);
            return 0;
        case versionOption:
            return printVersion(program);
        case hostOption:
            if (optarg[0] == '\0') return usageError(program, "--host needs a name");
            o->host = optarg;
            break;
        case portOption:
            if (!parsePortNumber(optarg, &port))
                return usageError(program, "--port '%s' is not a port number (1 to 65535)", optarg);
            o->port = optarg;
            o->portGiven = true;
            break;
        case webSocketOption:
            o->webSocket = true;
            o->lanOnly = "--websocket";
            break;
        case countOption:
            if (!parseWholeNumber(optarg, 0, 1000000000, &whole))
                return usageError(program, "--count '%s' is not a count from 0 to 1000000000",
                                  optarg);
            o->count = static_cast<long>(whole);
            break;
        case rateOption:
            if (!parseDecimalNumber(optarg, 0.0, 1e6, &number) || (number != 0.0 && number < 0.001))
                return usageError(program, "--rate '%s' is not 0 or a rate from 0.001 to 1000000",
                                  optarg);
            o->rate = number;
            o->lanOnly = "--rate";
            break;
        case timeoutOption:
            if (!parseWholeNumber(optarg, 1, 3600000, &whole))
                return usageError(program, "--timeout '%s' is not from 1 to 3600000 ms", optarg);
            o->timeoutMs = static_cast<int>(whole);
            break;
        case connectWaitOption:
            if (!parseDecimalNumber(optarg, 0.0, 86400.0, &number))
                return usageError(program, "--connect-wait '%s' is not from 0 to 86400 seconds",
                                  optarg);
            o->connectWait = number;
            o->lanOnly = "--connect-wait";
            break;
        case quietOption:
            o->quiet = true;
            break;
        case dsuOption:
            o->dsu = true;
            break;
        default:
            return optionError(program, c, argc, argv, previous);
        }
    }
    if (optind < argc) return usageError(program, "unexpected argument '%s'", argv[optind]);
    if (o->dsu && o->lanOnly != nullptr)
        return usageError(program,
                          "%s is for the LAN server; --dsu takes --host, --port, "
                          "--count, --timeout and --quiet",
                          o->lanOnly);
    uint32_t address = 0;
    if (o->dsu && o->host != "localhost" && !parseIpv4Address(o->host.c_str(), &address))
        return usageError(program,
                          "--host '%s' is no IPv4 address: the DSU server listens on IPv4 "
                          "(for example 127.0.0.1 or 192.168.1.20)",
                          o->host.c_str());
    return OptionsResult::run();
}

std::string milliseconds(double seconds) {
    char text[64];
    formatFixed(text, sizeof text, seconds * 1000.0, 3);
    return text;
}

double percentile(const std::vector<double>& sorted, double p) {
    if (sorted.empty()) return 0.0;
    size_t rank = static_cast<size_t>(p / 100.0 * static_cast<double>(sorted.size()) + 0.999999);
    rank = std::clamp<size_t>(rank, 1, sorted.size());
    return sorted[rank - 1];
}

void printSummary(std::vector<double> latencies, long missing, double seconds) {
    std::sort(latencies.begin(), latencies.end());
    char rate[64];
    formatFixed(rate, sizeof rate,
                seconds > 0.0 ? static_cast<double>(latencies.size()) / seconds : 0.0, 1);
    std::printf("replies %zu, no reply %ld\n", latencies.size(), missing);
    if (!latencies.empty())
        std::printf("latency ms: p50 %s  p90 %s  p99 %s  max %s\n",
                    milliseconds(percentile(latencies, 50)).c_str(),
                    milliseconds(percentile(latencies, 90)).c_str(),
                    milliseconds(percentile(latencies, 99)).c_str(),
                    milliseconds(latencies.back()).c_str());
    std::printf("requests per second: %s\n", rate);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    Options o;
    if (const OptionsResult read = parseOptions(argc, argv, &o); read.exitNow) return read.status;
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    startSocketLayer();

    if (o.dsu) {
        DsuProbe probe;
        if (o.host == "localhost") o.host = "127.0.0.1";
        parseIpv4Address(o.host.c_str(), &probe.address);
        uint16_t port = 26760;
        if (o.portGiven) parsePortNumber(o.port.c_str(), &port);
        probe.port = port;
        probe.count = o.count;
        probe.timeoutMs = o.timeoutMs;
        probe.quiet = o.quiet;
        return probeDsuServer(probe, o.host.c_str(), &interrupted);
    }

    // A refused connection means nothing listens there now; only with
    // --connect-wait (for a bridge still starting) is it tried again.
    auto connectDeadline =
        Clock::now() + std::chrono::milliseconds(static_cast<long long>(o.connectWait * 1000));
    for (;;) {
        const SystemResult connected =
            connectClient(o.host.c_str(), o.port.c_str(), &probeLink.socket);
        if (connected) break;
        const bool retryable = connectMayWorkLater(connected);
        if (!retryable || Clock::now() >= connectDeadline || interrupted) {
            std::fprintf(stderr, "%s: %s\n", program, connected.reason);
            if (retryable)
                std::fprintf(stderr,
                             "%s: is the bridge running? It listens only with deviceMode C and "
                             "lanEnabled 1 in its tolv.conf, once its serial port is open, and "
                             "not in the 3 s after a client leaves (--connect-wait S waits)\n",
                             program);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    probeLink.webSocket = o.webSocket;
    probeLink.interrupted = &interrupted;
    if (o.webSocket) {
        std::string reply;
        const auto deadline = Clock::now() + std::chrono::milliseconds(o.timeoutMs + 4000);
        if (!openBridgeWebSocket(probeLink, o.host.c_str(), o.port.c_str(), deadline, &reply)) {
            if (!reply.empty())
                std::fprintf(stderr, "%s: unexpected WebSocket handshake reply:\n%s", program,
                             reply.c_str());
            else if (Clock::now() >= deadline && !interrupted)
                std::fprintf(stderr,
                             "%s: no WebSocket handshake reply: is WebSocket off in the bridge's "
                             "tolv.conf?\n",
                             program);
            else if (!interrupted)
                std::fprintf(stderr,
                             "%s: the bridge closed the connection during the WebSocket "
                             "handshake\n",
                             program);
            closeBridgeLink(probeLink);
            return 1;
        }
    }

    std::vector<double> latencies;
    latencies.reserve(o.count > 0 ? static_cast<size_t>(std::min(o.count, 1L << 20)) : 4096);
    long missing = 0;
    bool broken = false;
    const auto start = Clock::now();
    auto lastReply = start;

    for (long sent = 0; (o.count == 0 || sent < o.count) && !interrupted; ++sent) {
        if (o.rate > 0.0) {
            auto due =
                start + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(static_cast<double>(sent) / o.rate));
            while (Clock::now() < due && !interrupted)
                std::this_thread::sleep_for(
                    std::min<Clock::duration>(due - Clock::now(), std::chrono::milliseconds(100)));
            if (interrupted) break;
        }
        const auto sentAt = Clock::now();
        if (!sendBridgeRequest(probeLink)) {
            broken = true;
            break;
        }
        std::string text;
        auto deadline = sentAt + std::chrono::milliseconds(o.timeoutMs);
        BridgeReply r = readBridgeReply(probeLink, deadline, &text);
        if (r == BridgeReply::closed) {
            broken = true;
            break;
        }
        if (r == BridgeReply::missing) {
            if (interrupted) continue;
            // Said once: a bridge of the other dialect never answers at all.
            if (++missing == 1 && latencies.empty())
                std::fprintf(stderr, "%s: no reply within %d ms: %s\n", program, o.timeoutMs,
                             o.webSocket ? "requests whose device line fails its check get "
                                           "none; the bridge's event log shows the device's state"
                                         : "is WebSocket on in the bridge's tolv.conf? Then add "
                                           "--websocket");
            continue;
        }
        lastReply = Clock::now();
        latencies.push_back(std::chrono::duration<double>(lastReply - sentAt).count());
        if (!o.quiet) {
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fputc('\n', stdout);
            std::fflush(stdout);
        }
    }
    closeBridgeLink(probeLink);
    if (broken)
        std::fprintf(stderr,
                     "%s: the bridge closed the connection (after a device or client error it "
                     "restarts; its event log says which)\n",
                     program);
    printSummary(latencies, missing, std::chrono::duration<double>(lastReply - start).count());
    return broken || latencies.empty() ? 1 : 0;
}

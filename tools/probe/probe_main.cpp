// tolvane-probe: a LAN client of the bridge, for users and for measurement.
// Sends "D" requests (plain bytes or WebSocket frames) at a fixed rate or as
// fast as replies come, prints each reply, and at the end the number of
// replies, the round-trip latency percentiles and the request rate.
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "text/number_text.h"
#include "tools/probe/bridge_client.h"
#include "tools/probe/client_socket.h"

namespace {

using Clock = BridgeClock;

// The probe holds one connection at a time.
BridgeLink probeLink;

const char usage[] =
    "usage: tolvane-probe [options]\n"
    "  --host NAME        bridge host (default 127.0.0.1)\n"
    "  --port N           LAN port (default 8096)\n"
    "  --websocket        speak the WebSocket dialect (default: plain)\n"
    "  --count N          stop after N requests (default: until Ctrl+C)\n"
    "  --rate R           requests per second (default 0: as fast as replies come)\n"
    "  --timeout MS       wait this long for a reply before the next request (default 1000)\n"
    "  --connect-wait S   keep trying to connect for S seconds (default 10)\n"
    "  --quiet            print only the summary\n"
    "  --help             this text\n";

struct Options {
    std::string host = "127.0.0.1";
    std::string port = "8096";
    bool webSocket = false;
    long count = 0;
    double rate = 0.0;
    int timeoutMs = 1000;
    double connectWait = 10.0;
    bool quiet = false;
};

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int) {
    interrupted = 1;
}

// A whole option value within [0, high]; anything else is a usage error, so
// that no later conversion or time computation can overflow.
bool parseNumber(const char* text, double high, double* value) {
    if (std::strspn(text, "0123456789.eE+") != std::strlen(text)) return false;
    double v = 0.0;
    if (!scanDecimal(text, &v) || !(v >= 0.0 && v <= high)) return false;
    *value = v;
    return true;
}

bool parseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char* next = i + 1 < argc ? argv[i + 1] : nullptr;
        double number = 0.0;
        if (a == "--websocket") {
            o->webSocket = true;
        } else if (a == "--quiet") {
            o->quiet = true;
        } else if (next == nullptr) {
            return false;
        } else if (a == "--host") {
            o->host = next, ++i;
        } else if (a == "--port") {
            o->port = next, ++i;
        } else if (a == "--count" && parseNumber(next, 1e9, &number)) {
            o->count = static_cast<long>(number), ++i;
        } else if (a == "--rate" && parseNumber(next, 1e6, &number) &&
                   (number == 0.0 || number >= 0.001)) {
            o->rate = number, ++i;
        } else if (a == "--timeout" && parseNumber(next, 3.6e6, &number)) {
            o->timeoutMs = static_cast<int>(number), ++i;
        } else if (a == "--connect-wait" && parseNumber(next, 86400.0, &number)) {
            o->connectWait = number, ++i;
        } else {
            return false;
        }
    }
    return true;
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
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "--help") == 0) {
            std::fputs(usage, stdout);
            return 0;
        }
    if (!parseOptions(argc, argv, &o)) {
        std::fputs(usage, stderr);
        return 2;
    }
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    startClientSockets();

    auto connectDeadline =
        Clock::now() + std::chrono::milliseconds(static_cast<long long>(o.connectWait * 1000));
    while ((probeLink.socket = connectClient(o.host.c_str(), o.port.c_str())) == noSocket) {
        if (Clock::now() >= connectDeadline || interrupted) {
            std::fprintf(stderr, "tolvane-probe: cannot connect to %s port %s\n", o.host.c_str(),
                         o.port.c_str());
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    probeLink.webSocket = o.webSocket;
    probeLink.interrupted = &interrupted;
    std::string handshake;
    if (o.webSocket &&
        !openBridgeWebSocket(probeLink, o.host.c_str(), o.port.c_str(),
                             Clock::now() + std::chrono::milliseconds(o.timeoutMs + 4000),
                             &handshake)) {
        if (!handshake.empty())
            std::fprintf(stderr, "tolvane-probe: unexpected handshake reply:\n%s",
                         handshake.c_str());
        std::fputs("tolvane-probe: the WebSocket handshake failed\n", stderr);
        closeBridgeLink(probeLink);
        return 1;
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
            if (!interrupted) ++missing;
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
    if (broken) std::fputs("tolvane-probe: the connection was closed\n", stderr);
    printSummary(latencies, missing, std::chrono::duration<double>(lastReply - start).count());
    return broken ? 1 : 0;
}

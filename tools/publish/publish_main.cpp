// tolvane-publish: the bridge's one LAN client, republishing every reply
// through an MQTT broker (and as OSC over UDP), so that any number of
// subscribers on any number of machines receive the device's values.
//
// The main thread asks the bridge for values, one request in flight; the
// broker connection runs on a thread of its own (broker_link.cpp).
#include <signal.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/bridge_client.h"
#include "net/datagram_socket.h"
#include "net/stream_client.h"
#include "output/udp/osc_message.h"
#include "text/number_text.h"
#include "tools/publish/bridge_values.h"
#include "tools/publish/broker_link.h"
#include "tools/publish/publish_options.h"
#include "tools/publish/retry.h"

namespace {

// A reply comes within a few device read time-outs (100 ms each) or never: a
// line that fails its check is not answered, and a silent device makes the
// bridge drop the connection. Past this wait the next request goes out.
constexpr int replyWaitMs = 500;
constexpr int handshakeWaitMs = 5000;
// No reply at all for this long on one connection: say what may be wrong.
constexpr int silenceHintMs = 5000;

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int) {
    interrupted = 1;
}

bool isInterrupted() {
    return interrupted != 0;
}

// An OSC receiver: the socket is opened (the name resolved) with the first
// reply, and again at most every few seconds while that fails.
struct OscTarget {
    UdpTarget target{};
    UdpSocket socket = noUdpSocket;
    BridgeClock::time_point nextOpen{};
    std::string name;
    bool failing = false;
    int sentInRow = 0;
};

constexpr auto oscReopenPause = std::chrono::seconds(5);
// Sends in a row before a failing receiver counts as back: a closed port
// fails every other send (each ICMP error is reported once).
constexpr int oscRecoveryRun = 100;

struct Counts {
    uint64_t seq = 0; // replies received
    uint64_t unpublished = 0;
    uint64_t unanswered = 0;
};

struct Gateway {
    PublishOptions options;
    std::string bridgeName;
    BridgeLink link;
    StateReport report;
    std::vector<OscTarget> osc;
    bool buttonsKnown = false;
    int32_t buttons[5] = {};
    Counts counts;
};

double epochMilliseconds() {
    using namespace std::chrono;
    return static_cast<double>(
               duration_cast<microseconds>(system_clock::now().time_since_epoch()).count()) /
           1000.0;
}

// False with the reason when the socket cannot be opened now.
bool openOscTarget(OscTarget& target, std::string* reason) {
    if (target.socket != noUdpSocket) return true;
    if (BridgeClock::now() < target.nextOpen) return false;
    char text[300];
    target.socket = openUdpSocket(target.target, text, sizeof text);
    target.nextOpen = BridgeClock::now() + oscReopenPause;
    *reason = text;
    return target.socket != noUdpSocket;
}

void sendOsc(Gateway& g, const BridgeValues& v) {
    if (g.osc.empty()) return;
    unsigned char message[oscMotionSize];
    encodeOscMotion(v.numbers, v.buttons, message, sizeof message);
    for (OscTarget& target : g.osc) {
        std::string reason;
        int error = 0;
        if (openOscTarget(target, &reason)) {
            error = sendUdpDatagram(target.socket, message, sizeof message);
            if (error != 0) {
                char text[200];
                describeUdpError(error, text, sizeof text);
                reason = text;
            }
        } else if (reason.empty()) {
            continue; // still failing; the next attempt to open comes later
        }
        const bool failed = target.socket == noUdpSocket || error != 0;
        if (failed && !target.failing)
            std::fprintf(stderr, "tolvane-publish: cannot send OSC to %s (%s)\n",
                         target.name.c_str(), reason.c_str());
        target.sentInRow = failed ? 0 : target.sentInRow + 1;
        if (target.failing && target.sentInRow >= oscRecoveryRun) {
            std::fprintf(stderr, "tolvane-publish: sending OSC to %s again\n", target.name.c_str());
            target.failing = false;
        }
        if (failed) target.failing = true;
    }
}

void handleReply(Gateway& g, const std::string& text, double receivedMs) {
    BridgeValues v;
    if (!parseBridgeReply(text.data(), text.size(), g.options.webSocket, &v)) {
        g.report.say("the bridge at " + g.bridgeName + " sent a reply that is no motion reply: '" +
                     text.substr(0, 120) + "'");
        return;
    }
    const uint64_t seq = ++g.counts.seq;
    char payload[512];
    if (!g.buttonsKnown || std::memcmp(g.buttons, v.buttons, sizeof g.buttons) != 0) {
        std::memcpy(g.buttons, v.buttons, sizeof g.buttons);
        g.buttonsKnown = true;
        const size_t n = formatButtonsPayload(payload, sizeof payload, v.buttons, receivedMs, seq);
        if (n > 0) setButtons(payload, n);
    }
    const size_t n = formatMotionPayload(payload, sizeof payload, v, receivedMs, seq);
    if (n == 0 || !publishMotion(payload, n)) ++g.counts.unpublished;
    sendOsc(g, v);
}

// Requests and replies on one connection until it ends or Ctrl+C.
void serveBridge(Gateway& g) {
    using Clock = BridgeClock;
    const double rate = g.options.rate;
    auto start = Clock::now();
    auto lastReply = start;
    long long sent = 0;
    bool hinted = false;
    bool answered = false;
    while (!interrupted) {
        if (rate > 0.0) {
            auto due = start + std::chrono::duration_cast<Clock::duration>(
                                   std::chrono::duration<double>(static_cast<double>(sent) / rate));
            // Late wake-ups are caught up; after a stall (no bridge, no broker,
            // unanswered requests) the pace starts afresh instead.
            if (Clock::now() - due > std::chrono::milliseconds(500)) {
                start = due = Clock::now();
                sent = 0;
            }
            const auto wait =
                std::chrono::duration_cast<std::chrono::milliseconds>(due - Clock::now());
            if (wait.count() > 0) pauseUnless(static_cast<int>(wait.count()), isInterrupted);
            if (interrupted) return;
        }
        // Replies that nobody would receive are not asked for.
        if (g.osc.empty() && !brokerConnected()) {
            pauseUnless(50, isInterrupted);
            continue;
        }
        if (!sendBridgeRequest(g.link)) return;
        ++sent;
        std::string text;
        const BridgeReply r =
            readBridgeReply(g.link, Clock::now() + std::chrono::milliseconds(replyWaitMs), &text);
        if (r == BridgeReply::closed) return;
        if (r == BridgeReply::missing) {
            if (interrupted) return;
            ++g.counts.unanswered;
            // A bridge of the other dialect never answers at all: said at the
            // first silence, as the probe does. In its own dialect a
            // connection's first request may just meet a failed check.
            if (!hinted && !answered && !g.options.webSocket) {
                hinted = true;
                g.report.say("no reply from the bridge at " + g.bridgeName + " within " +
                             std::to_string(replyWaitMs) +
                             " ms: is WebSocket on in its tolv.conf? Then add --websocket");
            } else if (!hinted &&
                       Clock::now() - lastReply > std::chrono::milliseconds(silenceHintMs)) {
                hinted = true;
                g.report.say("no reply from the bridge at " + g.bridgeName +
                             " for 5 s: are the device's lines failing their check? Its event "
                             "log shows the device's state");
            }
            continue;
        }
        const double receivedMs = epochMilliseconds();
        lastReply = Clock::now();
        // Online once the bridge answers, so that a bridge of the other
        // dialect never shows as online; the status goes out before the
        // first motion message.
        if (!answered) {
            answered = true;
            setBridgeOnline(true);
        }
        handleReply(g, text, receivedMs);
    }
}

void runBridge(Gateway& g) {
    const std::string& host = g.options.bridge.host;
    const std::string& port = g.options.bridge.port;
    const char* dialect = g.options.webSocket ? "WebSocket" : "plain";
    Backoff backoff;
    while (!interrupted) {
        const SystemResult connected = connectClient(host.c_str(), port.c_str(), &g.link.socket);
        if (!connected) {
            if (interrupted) break;
            const std::string reason = connected.reason;
            g.report.say("waiting for the bridge at " + g.bridgeName + " (" + reason +
                         "); it takes a new client about 3 s after the last one left");
            pauseUnless(backoff.next(), isInterrupted);
            continue;
        }
        std::string head;
        if (g.options.webSocket &&
            !openBridgeWebSocket(g.link, host.c_str(), port.c_str(),
                                 BridgeClock::now() + std::chrono::milliseconds(handshakeWaitMs),
                                 &head)) {
            closeBridgeLink(g.link);
            if (interrupted) break;
            g.report.say(head.empty()
                             ? "no WebSocket handshake reply from the bridge at " + g.bridgeName +
                                   ": is WebSocket off in its tolv.conf? Then leave "
                                   "out --websocket"
                             : "the bridge at " + g.bridgeName +
                                   " answered the WebSocket handshake with '" +
                                   head.substr(0, head.find('\r')) + "'");
            pauseUnless(backoff.next(), isInterrupted);
            continue;
        }
        g.report.say("connected to the bridge at " + g.bridgeName + " (" + dialect + ")");
        backoff.reset();
        serveBridge(g);
        closeBridgeLink(g.link);
        setBridgeOnline(false);
        if (interrupted) break;
        g.report.say("the bridge at " + g.bridgeName + " closed the connection");
        pauseUnless(backoff.next(), isInterrupted);
    }
}

} // namespace

int main(int argc, char** argv) {
    static Gateway g;
    if (const OptionsResult read = parsePublishOptions(argc, argv, &g.options); read.exitNow)
        return read.status;
    g.bridgeName = endpointText(g.options.bridge);
    g.link.webSocket = g.options.webSocket;
    g.link.interrupted = &interrupted;

    // No SA_RESTART: a signal must cut short a connect or a wait at once.
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    for (const Endpoint& e : g.options.osc) {
        OscTarget target;
        copyText(target.target.host, sizeof target.target.host, e.host.c_str());
        target.target.port = static_cast<uint16_t>(e.portNumber);
        target.name = endpointText(e);
        g.osc.push_back(target);
    }
    std::string problem, warning;
    if (!loadBrokerSecrets(&g.options, &problem, &warning)) {
        std::fprintf(stderr, "tolvane-publish: %s\n", problem.c_str());
        return 1;
    }
    if (!warning.empty()) std::fprintf(stderr, "tolvane-publish: WARNING: %s\n", warning.c_str());
    if (g.options.tls.insecure)
        std::fprintf(stderr,
                     "tolvane-publish: WARNING: --insecure: the broker's certificate is not "
                     "checked against the name %s; anyone between here and the broker can pose "
                     "as it and read the values%s\n",
                     g.options.broker.host.c_str(),
                     g.options.login.hasPassword ? " and the password" : "");
    const bool started = startBrokerLink(g.options, &problem);
    // libmosquitto holds its own copy.
    std::fill(g.options.login.password.begin(), g.options.login.password.end(), '\0');
    if (!started) {
        std::fprintf(stderr, "tolvane-publish: %s\n", problem.c_str());
        return 1;
    }

    runBridge(g);
    stopBrokerLink();
    for (OscTarget& target : g.osc)
        if (target.socket != noUdpSocket) closeUdpSocket(target.socket);
    // A broker that refused for good has said why in one line; the counts
    // follow only when there was something to count.
    if (brokerGaveUp() && g.counts.seq == 0) return 1;
    // Every message that was not published counts, the retained ones too.
    std::fprintf(stderr,
                 "tolvane-publish: %llu replies, %llu messages not published (no broker), "
                 "%llu requests unanswered\n",
                 static_cast<unsigned long long>(g.counts.seq),
                 static_cast<unsigned long long>(g.counts.unpublished + retainedNotPublished()),
                 static_cast<unsigned long long>(g.counts.unanswered));
    return brokerGaveUp() ? 1 : 0;
}

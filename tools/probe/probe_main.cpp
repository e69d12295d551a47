// tolvane-probe: a LAN client of the bridge, for users and for measurement.
// Sends "D" requests (plain bytes or WebSocket frames) at a fixed rate or as
// fast as replies come, prints each reply, and at the end the number of
// replies, the round-trip latency percentiles and the request rate.
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

#include "text/command_line.h"
#include "text/number_text.h"
#include "tools/probe/client_socket.h"

namespace {

using Clock = std::chrono::steady_clock;

// The probe holds one connection at a time.
NativeSocket probeSocket = noSocket;

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
    "  -h, --help         this text\n"
    "      --version      the program's version\n"
    "\n"
    "Examples:\n"
    "  tolvane-probe --count 10\n"
    "  tolvane-probe --websocket --host 192.168.1.20 --port 8096 --rate 4\n"
    "\n"
    "Exit status: 0 when replies came, 1 when none came or the connection failed,\n"
    "2 for a usage error.\n";

struct Options {
    std::string host = "127.0.0.1";
    std::string port = "8096";
    bool webSocket = false;
    long count = 0;
    double rate = 0.0;
    int timeoutMs = 1000;
    double connectWait = 0.0;
    bool quiet = false;
};

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int) {
    interrupted = 1;
}

// -1 when the options are good, else the exit status (help, version, usage error).
int parseOptions(int argc, char** argv, Options* o) {
    enum {
        hostOption = 256,
        portOption,
        webSocketOption,
        countOption,
        rateOption,
        timeoutOption,
        connectWaitOption,
        quietOption,
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
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, versionOption},
        {nullptr, 0, nullptr, 0},
    };
    opterr = 0;
    int c;
    while ((c = getopt_long(argc, argv, ":h", options, nullptr)) != -1) {
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
            break;
        case webSocketOption:
            o->webSocket = true;
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
            break;
        case quietOption:
            o->quiet = true;
            break;
        case ':':
            return usageError(program, "%s needs a value", argv[optind - 1]);
        default:
            if (optopt > 0 && optopt < 256)
                return usageError(program, "unknown option '-%c'", optopt);
            return usageError(program, "unknown option '%s'", argv[optind - 1]);
        }
    }
    if (optind < argc) return usageError(program, "unexpected argument '%s'", argv[optind]);
    return -1;
}

// Bytes received but not yet taken.
struct Incoming {
    char data[4096];
    size_t length = 0;

    // Receives until at least `want` bytes are held; false on close, error or
    // when the deadline passes.
    bool fill(size_t want, Clock::time_point deadline) {
        while (length < want) {
            auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            if (left.count() < 0 || interrupted) return false;
            int n = receiveWithin(probeSocket, data + length, sizeof data - length,
                                  static_cast<int>(std::min<long long>(left.count(), 200)));
            if (n == -2) continue;
            if (n <= 0) return false;
            length += static_cast<size_t>(n);
        }
        return true;
    }
    void drop(size_t n) {
        std::memmove(data, data + n, length - n);
        length -= n;
    }
};

enum class Reply { received, missing, closed };

// A failed wait is a missing reply when its time ran out (or Ctrl+C came),
// else the connection is gone.
Reply timedOut(Clock::time_point deadline) {
    return Clock::now() >= deadline || interrupted ? Reply::missing : Reply::closed;
}

// A plain reply has no end mark: it is complete with its twelfth value,
// and it arrives from one send, so whatever follows at once belongs to it.
Reply readPlainReply(Incoming& in, Clock::time_point deadline, std::string* text) {
    for (;;) {
        int commas = 0;
        size_t last = 0;
        for (size_t i = 0; i < in.length; ++i)
            if (in.data[i] == ',') ++commas, last = i;
        if (commas >= 11 && in.length > last + 1) {
            int n;
            while (in.length < sizeof in.data &&
                   (n = receiveWithin(probeSocket, in.data + in.length, sizeof in.data - in.length,
                                      0)) > 0)
                in.length += static_cast<size_t>(n);
            text->assign(in.data, in.length);
            in.length = 0;
            return Reply::received;
        }
        if (!in.fill(in.length + 1, deadline)) return timedOut(deadline);
    }
}

Reply readFrameReply(Incoming& in, Clock::time_point deadline, std::string* text) {
    if (!in.fill(2, deadline)) return timedOut(deadline);
    size_t length = static_cast<unsigned char>(in.data[1]) & 0x7F;
    if (!in.fill(2 + length, deadline)) return timedOut(deadline);
    text->assign(in.data + 2, length);
    in.drop(2 + length);
    return Reply::received;
}

enum class Handshake { done, noReply, closed, unexpected };

Handshake webSocketHandshake(Incoming& in, const Options& o) {
    // Host names ignore letter case; in lower case the head holds no "D" that
    // a plain bridge would take for a request. The key is the sample key of
    // RFC 6455, whose accept value is known.
    std::string host = o.host;
    for (char& c : host)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    std::string head = "GET / HTTP/1.1\r\nHost: " + host + ":" + o.port +
                       "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                       "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                       "Sec-WebSocket-Version: 13\r\n\r\n";
    if (!sendAll(probeSocket, head.data(), head.size())) return Handshake::closed;
    auto deadline = Clock::now() + std::chrono::milliseconds(o.timeoutMs + 4000);
    for (;;) {
        const char* end = nullptr;
        for (size_t i = 0; i + 3 < in.length; ++i)
            if (std::memcmp(in.data + i, "\r\n\r\n", 4) == 0) {
                end = in.data + i + 4;
                break;
            }
        if (end != nullptr) {
            std::string reply(static_cast<const char*>(in.data), end);
            in.drop(static_cast<size_t>(end - in.data));
            if (reply.rfind("HTTP/1.1 101", 0) != 0 ||
                reply.find("Sec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n") ==
                    std::string::npos) {
                std::fprintf(stderr, "%s: unexpected WebSocket handshake reply:\n%s", program,
                             reply.c_str());
                return Handshake::unexpected;
            }
            return Handshake::done;
        }
        if (!in.fill(in.length + 1, deadline))
            return timedOut(deadline) == Reply::missing ? Handshake::noReply : Handshake::closed;
    }
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
    const int status = parseOptions(argc, argv, &o);
    if (status >= 0) return status;
    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    startClientSockets();

    // A refused connection means nothing listens there now; only with
    // --connect-wait (for a bridge still starting) is it tried again.
    auto connectDeadline =
        Clock::now() + std::chrono::milliseconds(static_cast<long long>(o.connectWait * 1000));
    char reason[256] = "";
    bool retryable = false;
    while ((probeSocket = connectClient(o.host.c_str(), o.port.c_str(), reason, sizeof reason,
                                        &retryable)) == noSocket) {
        if (!retryable || Clock::now() >= connectDeadline || interrupted) {
            std::fprintf(stderr, "%s: cannot connect to %s port %s: %s\n", program, o.host.c_str(),
                         o.port.c_str(), reason);
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

    Incoming in;
    if (o.webSocket) {
        const Handshake handshake = webSocketHandshake(in, o);
        if (handshake != Handshake::done) {
            if (handshake == Handshake::noReply && !interrupted)
                std::fprintf(stderr,
                             "%s: no WebSocket handshake reply: is WebSocket off in the bridge's "
                             "tolv.conf?\n",
                             program);
            else if (handshake == Handshake::closed)
                std::fprintf(stderr,
                             "%s: the bridge closed the connection during the WebSocket "
                             "handshake\n",
                             program);
            closeClient(probeSocket);
            return 1;
        }
    }

    std::vector<double> latencies;
    latencies.reserve(o.count > 0 ? static_cast<size_t>(std::min(o.count, 1L << 20)) : 4096);
    long missing = 0;
    bool broken = false;
    const auto start = Clock::now();
    auto lastReply = start;
    // Masked as a client must; the mask changes nothing here.
    const unsigned char mask[4] = {0x37, 0xFA, 0x21, 0x3D};
    const unsigned char frame[7] = {
        0x81, 0x81, mask[0], mask[1], mask[2], mask[3], static_cast<unsigned char>('D' ^ mask[0])};

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
        bool ok =
            o.webSocket ? sendAll(probeSocket, frame, sizeof frame) : sendAll(probeSocket, "D", 1);
        if (!ok) {
            broken = true;
            break;
        }
        std::string text;
        auto deadline = sentAt + std::chrono::milliseconds(o.timeoutMs);
        Reply r =
            o.webSocket ? readFrameReply(in, deadline, &text) : readPlainReply(in, deadline, &text);
        if (r == Reply::closed) {
            broken = true;
            break;
        }
        if (r == Reply::missing) {
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
    closeClient(probeSocket);
    if (broken)
        std::fprintf(stderr,
                     "%s: the bridge closed the connection (after a device or client error it "
                     "restarts; its event log says which)\n",
                     program);
    printSummary(latencies, missing, std::chrono::duration<double>(lastReply - start).count());
    return broken || latencies.empty() ? 1 : 0;
}

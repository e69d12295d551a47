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
#include "tools/probe/client_socket.h"

namespace {

using Clock = std::chrono::steady_clock;

// The probe holds one connection at a time.
NativeSocket probeSocket = noSocket;

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

bool webSocketHandshake(Incoming& in, const Options& o) {
    // The sample key of RFC 6455 and the accept value that belongs to it.
    std::string head = "GET / HTTP/1.1\r\nHost: " + o.host + ":" + o.port +
                       "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                       "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
                       "Sec-WebSocket-Version: 13\r\n\r\n";
    if (!sendAll(probeSocket, head.data(), head.size())) return false;
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
                std::fprintf(stderr, "tolvane-probe: unexpected handshake reply:\n%s",
                             reply.c_str());
                return false;
            }
            return true;
        }
        if (!in.fill(in.length + 1, deadline)) return false;
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
    while ((probeSocket = connectClient(o.host.c_str(), o.port.c_str())) == noSocket) {
        if (Clock::now() >= connectDeadline || interrupted) {
            std::fprintf(stderr, "tolvane-probe: cannot connect to %s port %s\n", o.host.c_str(),
                         o.port.c_str());
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }

    Incoming in;
    if (o.webSocket && !webSocketHandshake(in, o)) {
        std::fputs("tolvane-probe: the WebSocket handshake failed\n", stderr);
        closeClient(probeSocket);
        return 1;
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
    closeClient(probeSocket);
    if (broken) std::fputs("tolvane-probe: the connection was closed\n", stderr);
    printSummary(latencies, missing, std::chrono::duration<double>(lastReply - start).count());
    return broken ? 1 : 0;
}

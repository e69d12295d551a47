// CPU cost of the UDP output per sample: the datagram alone in each format,
// and the whole step the worker adds (the LAN window's average, the datagram,
// one send to a receiver on loopback that never reads).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "motion/averaging.h"
#include "motion/orientation.h"
#include "output/udp/udp_output.h"

namespace {

const MotionOutput motion{{10.0f, -0.0f, -0.0f}, {0.08716f, 0.0f, 0.0f, 0.99619f}};
const ButtonState buttons{{1, 0, 0, 0, 0}};

void encode(benchmark::State& state, UdpFormat format) {
    unsigned char out[udpDatagramCapacity];
    for (auto _ : state) {
        benchmark::DoNotOptimize(encodeUdpDatagram(format, motion, buttons, out));
        benchmark::ClobberMemory();
    }
}
BENCHMARK_CAPTURE(encode, opentrack, UdpFormat::opentrack);
BENCHMARK_CAPTURE(encode, osc, UdpFormat::osc);

// A bound UDP socket on loopback; what arrives is left unread (the kernel
// drops what does not fit), so the sender's cost is all that is measured.
struct Sink {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    std::string target;
    Sink() {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        socklen_t size = sizeof a;
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
        target = "127.0.0.1:" + std::to_string(ntohs(a.sin_port));
    }
    ~Sink() { close(fd); }
};

void sendStep(benchmark::State& state, UdpFormat format) {
    Sink sink;
    prepareUdpOutput(sink.target.c_str(), format); // an address: open at once
    if (!udpOutputOpen()) {
        state.SkipWithError("cannot open the UDP output");
        return;
    }
    Sample sample{{0.0f, 0.0f, 1.0f, 0.08716f, 0.0f, 0.0f, 0.99619f}};
    MotionOutput lan = identityMotion();
    lanWindow.count = 0;
    for (auto _ : state) {
        const int32_t n = pushSample(lanWindow, sample, 1);
        lan = computeMotion(lanWindow.samples, n, false, lan);
        sendUdpOutput(lan, buttons);
    }
    finishUdpOutput();
    const UdpOutputCounts counts = udpOutputCounts();
    state.counters["failed"] = static_cast<double>(counts.failed);
}
BENCHMARK_CAPTURE(sendStep, opentrack, UdpFormat::opentrack);
BENCHMARK_CAPTURE(sendStep, osc, UdpFormat::osc);

} // namespace

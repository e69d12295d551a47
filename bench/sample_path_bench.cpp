// Cost of one device sample on the measurement path: parse, push, compute.
#include <benchmark/benchmark.h>

#include "device/device_line.h"
#include "motion/averaging.h"
#include "motion/orientation.h"
#include "output/lan/reply_text.h"

namespace {

const char line[] = "TOL,   0.012,  -0.034,   0.998, 0.70711, 0.00000, 0.70711, 0.00000,10000,23\r";

void parse(benchmark::State& state) {
    Sample s;
    ButtonState b;
    for (auto _ : state)
        benchmark::DoNotOptimize(parseDeviceLine(line, &s, &b));
}
BENCHMARK(parse);

void samplePath(benchmark::State& state) {
    const int32_t capacity = static_cast<int32_t>(state.range(0));
    AveragingWindow& window = mouseWindow;
    window.count = 0;
    Sample s;
    ButtonState b;
    MotionOutput out = identityMotion();
    for (auto _ : state) {
        parseDeviceLine(line, &s, &b);
        int32_t n = pushSample(window, s, capacity);
        out = computeMotion(window.samples, n, false, out);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(samplePath)->Arg(1)->Arg(32)->Arg(255);

void plainReply(benchmark::State& state) {
    MotionOutput out = identityMotion();
    ButtonState b{{1, 0, 0, 0, 0}};
    char text[replyTextSize];
    for (auto _ : state)
        benchmark::DoNotOptimize(formatPlainReply(text, sizeof text, out, b));
}
BENCHMARK(plainReply);

} // namespace

// Cost of one device sample on the measurement path: the per-line step
// (parse, push, compute) and the reply text.
#include <benchmark/benchmark.h>

#include "device/device_line.h"
#include "motion/averaging.h"
#include "motion/orientation.h"
#include "protocol/line_step.h"
#include "protocol/reply_text.h"

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
    // Both windows at the same length, as a client-driven pass averages them.
    LineStepSettings settings;
    settings.mouseAveraging = settings.lanAveraging = static_cast<int32_t>(state.range(0));
    mouseWindow.count = 0;
    lanWindow.count = 0;
    LineState lineState{&mouseWindow, &lanWindow};
    for (auto _ : state)
        benchmark::DoNotOptimize(stepLine(lineState, settings, line, sizeof line - 1));
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

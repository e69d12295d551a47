#pragma once
// Sliding averaging windows over the latest device samples.

#include <atomic>
#include <cstdint>

#include "device/device_line.h"

constexpr int averagingSlots = 256;

struct AveragingWindow {
    Sample samples[averagingSlots]; // slot 0 oldest, slot count-1 newest
    std::atomic<int32_t> count{0};
};

extern AveragingWindow mouseWindow;
extern AveragingWindow lanWindow;

// Puts the sample into the window and returns the count to average over.
// The capacity comes from the settings at this moment; it is clamped to
// 1..255 here, so that no value read from "tolv.conf" can index outside.
int32_t pushSample(AveragingWindow& window, const Sample& sample, int32_t capacity);

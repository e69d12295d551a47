#include "motion/averaging.h"

AveragingWindow mouseWindow;
AveragingWindow lanWindow;

int32_t pushSample(AveragingWindow& window, const Sample& sample, int32_t capacity) {
    capacity = capacity < 1 ? 1 : (capacity > averagingSlots - 1 ? averagingSlots - 1 : capacity);
    // The count is read once: a reset from the window thread in between must
    // never lead to an index outside the storage.
    int32_t count = window.count.load(std::memory_order_relaxed);
    if (count < 0) count = 0;
    if (count < capacity) {
        window.samples[count] = sample;
        ++count;
    } else {
        if (count > averagingSlots - 1) count = averagingSlots - 1;
        for (int32_t k = 0; k + 1 < count; ++k)
            window.samples[k] = window.samples[k + 1];
        window.samples[count - 1] = sample;
    }
    window.count.store(count, std::memory_order_relaxed);
    return count;
}

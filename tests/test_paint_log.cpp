// Test programs have no window: painting only counts its requests.
#include <atomic>

#include "app/event_log.h"

std::atomic<int> paintRequests{0};

void paintLog(bool refresh) {
    if (refresh) ++paintRequests;
}

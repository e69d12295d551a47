// The compositor's outputs through the core wl_output protocol: no toolkit,
// one connection for the moment of the question.
#include <poll.h>
#include <wayland-client.h>

#include <cerrno>
#include <chrono>
#include <cstring>

#include "output/desktop/screen_geometry.h"

namespace {

struct Query {
    OutputGeometry* outputs;
    int max;
    int count;
    wl_output* bound[maxOutputs];
};

void onGeometry(void* data, wl_output* output, int32_t x, int32_t y, int32_t, int32_t, int32_t,
                const char*, const char*, int32_t transform) {
    Query* q = static_cast<Query*>(data);
    for (int i = 0; i < q->count; ++i)
        if (q->bound[i] == output) {
            q->outputs[i].x = x;
            q->outputs[i].y = y;
            q->outputs[i].transform = transform;
        }
}

void onMode(void* data, wl_output* output, uint32_t flags, int32_t width, int32_t height, int32_t) {
    if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
    Query* q = static_cast<Query*>(data);
    for (int i = 0; i < q->count; ++i)
        if (q->bound[i] == output) {
            q->outputs[i].modeWidth = width;
            q->outputs[i].modeHeight = height;
        }
}

void onDone(void*, wl_output*) {}

void onScale(void* data, wl_output* output, int32_t factor) {
    Query* q = static_cast<Query*>(data);
    for (int i = 0; i < q->count; ++i)
        if (q->bound[i] == output) q->outputs[i].scale = factor;
}

const wl_output_listener outputListener = {onGeometry, onMode, onDone, onScale,
#ifdef WL_OUTPUT_NAME_SINCE_VERSION
                                           nullptr,    nullptr
#endif
};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version) {
    Query* q = static_cast<Query*>(data);
    if (std::strcmp(interface, wl_output_interface.name) != 0 || q->count >= q->max) return;
    // Version 2 adds the scale; nothing later is needed.
    const uint32_t wanted = version < 2 ? version : 2;
    wl_output* output =
        static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, wanted));
    if (!output) return;
    q->outputs[q->count] = OutputGeometry{0, 0, 0, 0, 1, 0};
    q->bound[q->count] = output;
    ++q->count;
    wl_output_add_listener(output, &outputListener, q);
}

void onGlobalRemove(void*, wl_registry*, uint32_t) {}

const wl_registry_listener registryListener = {onGlobal, onGlobalRemove};

// A compositor that takes the connection and never answers would hold
// start-up for ever in wl_display_roundtrip; it is given this long in all.
constexpr auto answerWait = std::chrono::seconds(3);

void onSyncDone(void* data, wl_callback*, uint32_t) {
    *static_cast<bool*>(data) = true;
}

const wl_callback_listener syncListener = {onSyncDone};

// wl_display_roundtrip with a deadline: false when the connection fails or
// the compositor has not answered by then.
bool roundTripBy(wl_display* display, std::chrono::steady_clock::time_point deadline) {
    bool answered = false;
    wl_callback* sync = wl_display_sync(display);
    if (!sync) return false;
    wl_callback_add_listener(sync, &syncListener, &answered);
    bool failed = false;
    while (!answered && !failed) {
        if (wl_display_prepare_read(display) != 0) {
            failed = wl_display_dispatch_pending(display) < 0;
            continue;
        }
        const bool unsent = wl_display_flush(display) < 0;
        if (unsent && errno != EAGAIN) {
            wl_display_cancel_read(display);
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd ready{wl_display_get_fd(display),
                     static_cast<short>(POLLIN | (unsent ? POLLOUT : 0)), 0};
        const int got = left.count() > 0 ? poll(&ready, 1, static_cast<int>(left.count())) : 0;
        if (got < 0 && errno == EINTR) {
            wl_display_cancel_read(display);
            continue;
        }
        if (got <= 0) {
            wl_display_cancel_read(display);
            break;
        }
        if (ready.revents & (POLLIN | POLLHUP | POLLERR)) {
            failed = wl_display_read_events(display) < 0;
        } else {
            wl_display_cancel_read(display);
        }
        if (!failed) failed = wl_display_dispatch_pending(display) < 0;
    }
    wl_callback_destroy(sync);
    return answered;
}

} // namespace

int readWaylandOutputs(OutputGeometry* outputs, int max) {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return -1;
    Query q{outputs, max < maxOutputs ? max : maxOutputs, 0, {}};
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &q);
    // The first round trip brings the globals, the second their first events.
    const auto deadline = std::chrono::steady_clock::now() + answerWait;
    int result = -1;
    if (roundTripBy(display, deadline) && roundTripBy(display, deadline)) result = q.count;
    for (int i = 0; i < q.count; ++i)
        wl_output_destroy(q.bound[i]);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return result;
}

// The compositor's outputs through the core wl_output protocol: no toolkit,
// one connection for the moment of the question.
#include <wayland-client.h>

#include <cstring>

#include "output/pointer/screen_geometry.h"

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

} // namespace

int readWaylandOutputs(OutputGeometry* outputs, int max) {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return -1;
    Query q{outputs, max < maxOutputs ? max : maxOutputs, 0, {}};
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &q);
    // The first round trip brings the globals, the second their first events.
    int result = -1;
    if (wl_display_roundtrip(display) >= 0 && wl_display_roundtrip(display) >= 0) result = q.count;
    for (int i = 0; i < q.count; ++i)
        wl_output_destroy(q.bound[i]);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return result;
}

// The overlay on Wayland: one layer-shell surface per output, on the layer
// above every window, with an empty input region so that clicks reach what
// is below. Only compositors with wlroots' layer shell (sway, KDE, Hyprland)
// let a program draw over the others; GNOME and Weston do not.
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "output/overlay/overlay_backends.h"
#include "protocol/output_note.h"
#include <layer_shell-client.h> // made by wayland-scanner in the build tree

namespace {

using Clock = std::chrono::steady_clock;

// A compositor that takes the connection and never answers must not hold
// the drawing thread for ever.
constexpr auto answerWait = std::chrono::seconds(3);
// Three buffers: one shown, one the compositor may still read, one to draw.
constexpr int bufferCount = 3;
// Past this many stale rectangles a buffer is simply copied whole.
constexpr size_t staleMax = 32;

struct Output {
    wl_output* output = nullptr;
    uint32_t name = 0;
    int32_t x = 0, y = 0, modeWidth = 0, modeHeight = 0, scale = 1, transform = 0;
    int32_t refresh = 0; // mHz
};

struct Buffer {
    wl_buffer* buffer = nullptr;
    uint32_t* pixels = nullptr;
    size_t bytes = 0;
    int32_t width = 0, height = 0;
    bool busy = false; // the compositor may read it until it releases it
    bool wholeStale = true;
    std::vector<OverlayRect> stale; // what changed since it was last drawn
};

struct Surface {
    uint32_t outputName = 0;
    wl_surface* surface = nullptr;
    zwlr_layer_surface_v1* layer = nullptr;
    bool configured = false;
    bool closed = false;
    bool fresh = true;               // nothing shown yet: the first commit damages all
    std::vector<OverlayRect> missed; // changed in frames that found no buffer
    OverlayRect area;                // the desktop's pixels it shows
    Buffer buffers[bufferCount];
};

OverlayRect intersect(const OverlayRect& a, const OverlayRect& b) {
    const int32_t left = std::max(a.x, b.x), top = std::max(a.y, b.y);
    const int32_t right = std::min(a.x + a.width, b.x + b.width);
    const int32_t bottom = std::min(a.y + a.height, b.y + b.height);
    if (right <= left || bottom <= top) return {};
    return {left, top, right - left, bottom - top};
}

void dropBuffer(Buffer* b) {
    if (b->buffer) wl_buffer_destroy(b->buffer);
    if (b->pixels) munmap(b->pixels, b->bytes);
    *b = Buffer{};
}

void onRelease(void* data, wl_buffer*) {
    static_cast<Buffer*>(data)->busy = false;
}
const wl_buffer_listener bufferListener = {onRelease};

void onConfigure(void* data, zwlr_layer_surface_v1* layer, uint32_t serial, uint32_t, uint32_t) {
    // Acknowledged at once: the next commit carries the buffer for it.
    zwlr_layer_surface_v1_ack_configure(layer, serial);
    static_cast<Surface*>(data)->configured = true;
}
void onClosed(void* data, zwlr_layer_surface_v1*) {
    static_cast<Surface*>(data)->closed = true;
}
const zwlr_layer_surface_v1_listener layerListener = {onConfigure, onClosed};

void onGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t,
                const char*, const char*, int32_t transform) {
    Output* o = static_cast<Output*>(data);
    o->x = x;
    o->y = y;
    o->transform = transform;
}
void onMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height,
            int32_t refresh) {
    if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
    Output* o = static_cast<Output*>(data);
    o->modeWidth = width;
    o->modeHeight = height;
    o->refresh = refresh;
}
void onOutputDone(void*, wl_output*) {}
void onScale(void* data, wl_output*, int32_t factor) {
    static_cast<Output*>(data)->scale = factor > 0 ? factor : 1;
}
const wl_output_listener outputListener = {onGeometry, onMode, onOutputDone, onScale,
#ifdef WL_OUTPUT_NAME_SINCE_VERSION
                                           nullptr,    nullptr
#endif
};

void onSyncDone(void* data, wl_callback*, uint32_t) {
    *static_cast<bool*>(data) = true;
}
const wl_callback_listener syncListener = {onSyncDone};

class WaylandOverlayWindows final : public OverlayWindows {
  public:
    explicit WaylandOverlayWindows(wl_display* connection) : display(connection) {}
    ~WaylandOverlayWindows() override;

    bool start();
    std::vector<OverlayRect> areas() override;
    OverlayAbilities abilities() override;
    void show(size_t index, const OverlayImage& image,
              const std::vector<OverlayRect>& changed) override;
    void hide() override;
    bool grab(const OverlayRect& area, OverlayImage* out) override;

    // The registry's listener.
    static void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface,
                         uint32_t version);
    static void onGlobalRemove(void* data, wl_registry*, uint32_t name);

  private:
    bool dispatchUntil(const bool* done, Clock::time_point deadline);
    bool roundTrip();
    void dispatchWaiting() { dispatchUntil(nullptr, Clock::now()); }
    bool alive();
    Surface* surfaceFor(const Output& output);
    Buffer* freeBuffer(Surface* s, int32_t width, int32_t height);
    void dropSurface(size_t index);

    wl_display* display;
    wl_registry* registry = nullptr;
    wl_compositor* compositor = nullptr;
    uint32_t compositorVersion = 0;
    wl_shm* shm = nullptr;
    zwlr_layer_shell_v1* layerShell = nullptr;
    std::vector<std::unique_ptr<Output>> outputs;   // listeners hold their addresses
    std::vector<std::unique_ptr<Surface>> surfaces; // by output name, at most one each
    bool lostSaid = false;
    bool grabSaid = false;
};

void WaylandOverlayWindows::onGlobal(void* data, wl_registry* registry, uint32_t name,
                                     const char* interface, uint32_t version) {
    auto* self = static_cast<WaylandOverlayWindows*>(data);
    if (std::strcmp(interface, wl_compositor_interface.name) == 0 && !self->compositor) {
        // Version 4 damages in buffer pixels.
        self->compositorVersion = std::min(version, 4u);
        self->compositor = static_cast<wl_compositor*>(
            wl_registry_bind(registry, name, &wl_compositor_interface, self->compositorVersion));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0 && !self->shm) {
        self->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    } else if (std::strcmp(interface, zwlr_layer_shell_v1_interface.name) == 0 &&
               !self->layerShell) {
        self->layerShell = static_cast<zwlr_layer_shell_v1*>(
            wl_registry_bind(registry, name, &zwlr_layer_shell_v1_interface, 1));
    } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
        auto output = std::make_unique<Output>();
        output->name = name;
        // Version 2 adds the scale; nothing later is needed.
        output->output = static_cast<wl_output*>(
            wl_registry_bind(registry, name, &wl_output_interface, std::min(version, 2u)));
        if (!output->output) return;
        wl_output_add_listener(output->output, &outputListener, output.get());
        self->outputs.push_back(std::move(output));
    }
}

void WaylandOverlayWindows::onGlobalRemove(void* data, wl_registry*, uint32_t name) {
    auto* self = static_cast<WaylandOverlayWindows*>(data);
    for (size_t i = 0; i < self->surfaces.size(); ++i)
        if (self->surfaces[i]->outputName == name) self->dropSurface(i--);
    for (size_t i = 0; i < self->outputs.size(); ++i)
        if (self->outputs[i]->name == name) {
            wl_output_destroy(self->outputs[i]->output);
            self->outputs.erase(self->outputs.begin() + static_cast<std::ptrdiff_t>(i));
            return;
        }
}

// Dispatches the compositor's events until *done (never, when null) or the
// deadline; false when the connection failed or *done did not come.
bool WaylandOverlayWindows::dispatchUntil(const bool* done, Clock::time_point deadline) {
    for (;;) {
        if (wl_display_dispatch_pending(display) < 0) return false;
        if (done && *done) return true;
        if (wl_display_prepare_read(display) != 0) continue;
        const bool unsent = wl_display_flush(display) < 0 && errno == EAGAIN;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd ready{wl_display_get_fd(display),
                     static_cast<short>(POLLIN | (unsent ? POLLOUT : 0)), 0};
        const int got = poll(&ready, 1, left > 0 ? static_cast<int>(left) : 0);
        if (got < 0 && errno == EINTR) {
            wl_display_cancel_read(display);
            continue;
        }
        if (got <= 0 || !(ready.revents & (POLLIN | POLLHUP | POLLERR))) {
            wl_display_cancel_read(display);
            if (got < 0) return false;
            if (Clock::now() < deadline) continue;
            if (wl_display_dispatch_pending(display) < 0) return false;
            return done ? *done : true;
        }
        if (wl_display_read_events(display) < 0) return false;
    }
}

const wl_registry_listener registryListener = {WaylandOverlayWindows::onGlobal,
                                               WaylandOverlayWindows::onGlobalRemove};

bool WaylandOverlayWindows::roundTrip() {
    bool answered = false;
    wl_callback* sync = wl_display_sync(display);
    if (!sync) return false;
    wl_callback_add_listener(sync, &syncListener, &answered);
    const bool ok = dispatchUntil(&answered, Clock::now() + answerWait);
    wl_callback_destroy(sync);
    return ok;
}

bool WaylandOverlayWindows::start() {
    registry = wl_display_get_registry(display);
    if (!registry) return false;
    wl_registry_add_listener(registry, &registryListener, this);
    // The first round trip brings the globals, the second the outputs' events.
    if (!roundTrip() || !roundTrip()) return false;
    if (!layerShell)
        sayNote("overlay", NoteLevel::problem,
                "the overlay cannot be drawn on this desktop: its Wayland compositor offers no "
                "layer shell (sway, KDE Plasma and Hyprland do; GNOME and Weston do not)");
    else if (!compositor || !shm)
        sayNote("overlay", NoteLevel::problem,
                "the overlay cannot be drawn: the Wayland compositor offers no shared-memory "
                "buffers");
    return true;
}

WaylandOverlayWindows::~WaylandOverlayWindows() {
    while (!surfaces.empty())
        dropSurface(surfaces.size() - 1);
    for (auto& o : outputs)
        wl_output_destroy(o->output);
    if (layerShell) zwlr_layer_shell_v1_destroy(layerShell);
    if (shm) wl_shm_destroy(shm);
    if (compositor) wl_compositor_destroy(compositor);
    if (registry) wl_registry_destroy(registry);
    wl_display_flush(display);
    wl_display_disconnect(display);
}

bool WaylandOverlayWindows::alive() {
    if (wl_display_get_error(display) == 0) return true;
    if (!lostSaid)
        sayNote("overlay", NoteLevel::problem,
                "the overlay is no longer drawn: the Wayland compositor closed its connection");
    lostSaid = true;
    return false;
}

// An output's place in the desktop in logical pixels: its mode over its
// scale, turned by a quarter when the output stands upright.
OverlayRect logicalArea(const Output& o) {
    int32_t width = o.modeWidth / o.scale, height = o.modeHeight / o.scale;
    if (o.transform % 2 == 1) std::swap(width, height);
    return {o.x, o.y, width, height};
}

std::vector<OverlayRect> WaylandOverlayWindows::areas() {
    if (alive()) dispatchWaiting();
    std::vector<OverlayRect> list;
    if (!layerShell || !compositor || !shm || !alive()) return list;
    for (const auto& o : outputs) {
        const OverlayRect area = logicalArea(*o);
        if (area.width > 0 && area.height > 0) list.push_back(area);
    }
    return list;
}

OverlayAbilities WaylandOverlayWindows::abilities() {
    OverlayAbilities a;
    a.canDraw = !areas().empty();
    a.canBlend = a.canDraw; // shm's ARGB8888 is premultiplied, as the picture is
    int32_t fastest = 0;
    for (const auto& o : outputs)
        fastest = std::max(fastest, o->refresh);
    if (fastest >= 1000) a.framesPerSecond = (fastest + 500) / 1000;
    return a;
}

Surface* WaylandOverlayWindows::surfaceFor(const Output& output) {
    for (size_t i = 0; i < surfaces.size(); ++i) {
        if (surfaces[i]->outputName != output.name) continue;
        if (!surfaces[i]->closed) return surfaces[i].get();
        dropSurface(i); // the compositor took it away: a new one
        break;
    }
    auto s = std::make_unique<Surface>();
    s->outputName = output.name;
    s->surface = wl_compositor_create_surface(compositor);
    if (!s->surface) return nullptr;
    // An empty input region: every click and touch goes to what is below.
    wl_region* nothing = wl_compositor_create_region(compositor);
    wl_surface_set_input_region(s->surface, nothing);
    wl_region_destroy(nothing);
    s->layer =
        zwlr_layer_shell_v1_get_layer_surface(layerShell, s->surface, output.output,
                                              ZWLR_LAYER_SHELL_V1_LAYER_OVERLAY, "tolvane-overlay");
    zwlr_layer_surface_v1_add_listener(s->layer, &layerListener, s.get());
    zwlr_layer_surface_v1_set_anchor(
        s->layer, ZWLR_LAYER_SURFACE_V1_ANCHOR_TOP | ZWLR_LAYER_SURFACE_V1_ANCHOR_BOTTOM |
                      ZWLR_LAYER_SURFACE_V1_ANCHOR_LEFT | ZWLR_LAYER_SURFACE_V1_ANCHOR_RIGHT);
    // -1: the whole output, panels included, and nothing moves aside for it.
    zwlr_layer_surface_v1_set_exclusive_zone(s->layer, -1);
    zwlr_layer_surface_v1_set_keyboard_interactivity(s->layer, 0);
    zwlr_layer_surface_v1_set_size(s->layer, 0, 0);
    wl_surface_commit(s->surface);
    surfaces.push_back(std::move(s));
    Surface* made = surfaces.back().get();
    // The first buffer may be attached only after the first configure.
    dispatchUntil(&made->configured, Clock::now() + answerWait);
    return made;
}

void WaylandOverlayWindows::dropSurface(size_t index) {
    Surface* s = surfaces[index].get();
    for (Buffer& b : s->buffers)
        dropBuffer(&b);
    if (s->layer) zwlr_layer_surface_v1_destroy(s->layer);
    if (s->surface) wl_surface_destroy(s->surface);
    surfaces.erase(surfaces.begin() + static_cast<std::ptrdiff_t>(index));
}

// A buffer the compositor does not hold, of the picture's size; waits a
// little for a release when all three are held.
Buffer* WaylandOverlayWindows::freeBuffer(Surface* s, int32_t width, int32_t height) {
    for (int round = 0; round < 2; ++round) {
        for (Buffer& b : s->buffers) {
            if (b.busy) continue;
            if (b.buffer && b.width == width && b.height == height) return &b;
            dropBuffer(&b);
            const size_t bytes = static_cast<size_t>(width) * static_cast<size_t>(height) * 4u;
            const int fd = memfd_create("tolvane-overlay", MFD_CLOEXEC);
            if (fd < 0) return nullptr;
            if (ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
                close(fd);
                return nullptr;
            }
            void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            if (memory == MAP_FAILED) {
                close(fd);
                return nullptr;
            }
            wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<int32_t>(bytes));
            b.buffer = wl_shm_pool_create_buffer(pool, 0, width, height, width * 4,
                                                 WL_SHM_FORMAT_ARGB8888);
            wl_shm_pool_destroy(pool);
            close(fd);
            b.pixels = static_cast<uint32_t*>(memory);
            b.bytes = bytes;
            b.width = width;
            b.height = height;
            b.wholeStale = true;
            wl_buffer_add_listener(b.buffer, &bufferListener, &b);
            return &b;
        }
        // Releases come as events: read them for up to 100 ms.
        bool never = false;
        for (int wait = 0; wait < 20; ++wait) {
            if (!dispatchUntil(&never, Clock::now() + std::chrono::milliseconds(5)) && !alive())
                return nullptr;
            if (std::any_of(std::begin(s->buffers), std::end(s->buffers),
                            [](const Buffer& b) { return !b.busy; }))
                break;
        }
    }
    return nullptr;
}

void copyRect(const OverlayImage& image, Buffer* b, const OverlayRect& r) {
    for (int32_t y = r.y; y < r.y + r.height; ++y) {
        const size_t row = static_cast<size_t>(y - image.area.y) * static_cast<size_t>(b->width);
        const size_t from = row + static_cast<size_t>(r.x - image.area.x);
        std::memcpy(b->pixels + from, image.pixels.data() + from,
                    static_cast<size_t>(r.width) * 4u);
    }
}

void WaylandOverlayWindows::show(size_t index, const OverlayImage& image,
                                 const std::vector<OverlayRect>& changed) {
    if (!alive()) return;
    dispatchWaiting();
    std::vector<Output*> shown;
    for (auto& o : outputs) {
        const OverlayRect area = logicalArea(*o);
        if (area.width > 0 && area.height > 0) shown.push_back(o.get());
    }
    const OverlayRect& area = image.area;
    if (!layerShell || !compositor || !shm || index >= shown.size() || area.width <= 0 ||
        area.height <= 0 ||
        image.pixels.size() < static_cast<size_t>(area.width) * static_cast<size_t>(area.height))
        return;
    Surface* s = surfaceFor(*shown[index]);
    if (!s || !s->configured) return;
    if (s->area.x != area.x || s->area.y != area.y || s->area.width != area.width ||
        s->area.height != area.height) {
        // The output moved or changed: what the buffers hold is of no use.
        for (Buffer& other : s->buffers)
            other.wholeStale = true;
        s->missed.clear();
        s->fresh = true;
        s->area = area;
    }
    std::vector<OverlayRect> damage;
    for (const OverlayRect& c : changed) {
        const OverlayRect r = intersect(c, area);
        if (r.width > 0) damage.push_back(r);
    }
    Buffer* b = freeBuffer(s, area.width, area.height);
    if (!b) {
        // The compositor holds every buffer: this frame's change waits for
        // the next, which copies and damages it too.
        for (Buffer& other : s->buffers) {
            other.stale.insert(other.stale.end(), damage.begin(), damage.end());
            if (other.stale.size() > staleMax) other.wholeStale = true;
        }
        s->missed.insert(s->missed.end(), damage.begin(), damage.end());
        if (s->missed.size() > staleMax) s->missed.assign(1, area);
        return;
    }
    damage.insert(damage.end(), s->missed.begin(), s->missed.end());
    s->missed.clear();
    // This buffer has missed whatever changed while the others were shown.
    if (b->wholeStale) {
        copyRect(image, b, area);
    } else {
        for (const OverlayRect& r : b->stale)
            copyRect(image, b, r);
        for (const OverlayRect& r : damage)
            copyRect(image, b, r);
    }
    b->stale.clear();
    b->wholeStale = false;
    for (Buffer& other : s->buffers) {
        if (&other == b || other.wholeStale) continue;
        other.stale.insert(other.stale.end(), damage.begin(), damage.end());
        if (other.stale.size() > staleMax) other.wholeStale = true;
    }

    wl_surface_attach(s->surface, b->buffer, 0, 0);
    if (s->fresh) damage.assign(1, area);
    for (const OverlayRect& r : damage) {
        if (compositorVersion >= 4)
            wl_surface_damage_buffer(s->surface, r.x - area.x, r.y - area.y, r.width, r.height);
        else
            wl_surface_damage(s->surface, r.x - area.x, r.y - area.y, r.width, r.height);
    }
    wl_surface_commit(s->surface);
    b->busy = true;
    s->fresh = false;
    wl_display_flush(display);
}

void WaylandOverlayWindows::hide() {
    while (!surfaces.empty())
        dropSurface(surfaces.size() - 1);
    if (alive()) {
        wl_display_flush(display);
        dispatchWaiting();
    }
}

bool WaylandOverlayWindows::grab(const OverlayRect&, OverlayImage*) {
    if (!grabSaid)
        sayNote("overlay", NoteLevel::info,
                "the magnifier cannot read the screen under Wayland, which keeps other programs' "
                "pixels from the bridge");
    grabSaid = true;
    return false;
}

} // namespace

std::unique_ptr<OverlayWindows> openWaylandOverlayWindows() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (!name || name[0] == '\0') return nullptr;
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return nullptr;
    auto windows = std::make_unique<WaylandOverlayWindows>(display);
    if (!windows->start()) return nullptr; // no answer: not a desktop to draw on
    return windows;
}

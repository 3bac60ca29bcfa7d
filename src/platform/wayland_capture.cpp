// The snapshot in a Wayland session: the wlroots screen-copy protocol
// (sway, Hyprland, river, labwc, ...). Each step waits for the compositor's
// answer with a bounded roundtrip, so a compositor that never answers
// cannot hang start-up.

#include "platform/wayland_capture.hpp"

#include "wlr-screencopy-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/mman.h>
#include <utility>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace platform
{
namespace
{

struct Output
{
    wl_output* output = nullptr;
    int x = 0;
    int y = 0;
};

struct Frame
{
    std::uint32_t format = 0;
    int width = 0;
    int height = 0;
    int stride = 0;
    bool bufferKnown = false;
    bool yInverted = false;
    bool ready = false;
    bool failed = false;
};

struct Globals
{
    wl_shm* shm = nullptr;
    zwlr_screencopy_manager_v1* screenCopy = nullptr;
    std::vector<Output> outputs;
};

void onOutputGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char*,
                      const char*, int32_t)
{
    Output* output = static_cast<Output*>(data);
    output->x = x;
    output->y = y;
}
void onOutputMode(void*, wl_output*, uint32_t, int32_t, int32_t, int32_t) {}
void onOutputDone(void*, wl_output*) {}
void onOutputScale(void*, wl_output*, int32_t) {}
void onOutputName(void*, wl_output*, const char*) {}
void onOutputDescription(void*, wl_output*, const char*) {}
const wl_output_listener outputListener = {onOutputGeometry, onOutputMode,        onOutputDone,
                                           onOutputScale,    onOutputName, onOutputDescription};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t)
{
    Globals* globals = static_cast<Globals*>(data);
    if (std::strcmp(interface, wl_shm_interface.name) == 0)
        globals->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
    else if (std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) == 0)
        globals->screenCopy = static_cast<zwlr_screencopy_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_screencopy_manager_v1_interface, 1));
    else if (std::strcmp(interface, wl_output_interface.name) == 0)
        globals->outputs.push_back({static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, 1))});
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener registryListener = {onGlobal, onGlobalRemove};

void onBuffer(void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width, uint32_t height, uint32_t stride)
{
    Frame* frame = static_cast<Frame*>(data);
    *frame = {format, static_cast<int>(width), static_cast<int>(height), static_cast<int>(stride), true};
}
void onFlags(void* data, zwlr_screencopy_frame_v1*, uint32_t flags)
{
    static_cast<Frame*>(data)->yInverted = (flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT) != 0;
}
void onReady(void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t)
{
    static_cast<Frame*>(data)->ready = true;
}
void onFailed(void* data, zwlr_screencopy_frame_v1*)
{
    static_cast<Frame*>(data)->failed = true;
}
const zwlr_screencopy_frame_v1_listener frameListener = {onBuffer, onFlags, onReady, onFailed};

// Dispatches events until `done` holds, the connection breaks or two
// seconds pass without any event.
template <typename Done>
bool dispatchUntil(wl_display* display, Done done)
{
    while (!done())
    {
        while (wl_display_prepare_read(display) != 0)
            if (wl_display_dispatch_pending(display) < 0)
                return false;
        if (done())
        {
            wl_display_cancel_read(display);
            return true;
        }
        wl_display_flush(display);
        pollfd connection{wl_display_get_fd(display), POLLIN, 0};
        if (poll(&connection, 1, 2000) <= 0)
        {
            wl_display_cancel_read(display);
            return false;
        }
        if (wl_display_read_events(display) < 0 || wl_display_dispatch_pending(display) < 0)
            return false;
    }
    return true;
}

// A shared-memory buffer for the compositor to copy into.
struct ShmBuffer
{
    ShmBuffer(wl_shm* shm, const Frame& frame) : size(static_cast<std::size_t>(frame.stride) * frame.height)
    {
        const int fd = memfd_create("quorvel-snapshot", MFD_CLOEXEC);
        if (fd < 0 || ftruncate(fd, static_cast<off_t>(size)) != 0)
        {
            if (fd >= 0)
                close(fd);
            return;
        }
        void* mapped = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (mapped != MAP_FAILED)
        {
            data = static_cast<std::uint8_t*>(mapped);
            wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<int32_t>(size));
            buffer = wl_shm_pool_create_buffer(pool, 0, frame.width, frame.height, frame.stride, frame.format);
            wl_shm_pool_destroy(pool);
        }
        close(fd);
    }
    ~ShmBuffer()
    {
        if (buffer != nullptr)
            wl_buffer_destroy(buffer);
        if (data != nullptr)
            munmap(data, size);
    }
    ShmBuffer(const ShmBuffer&) = delete;
    ShmBuffer& operator=(const ShmBuffer&) = delete;

    std::size_t size;
    std::uint8_t* data = nullptr;
    wl_buffer* buffer = nullptr;
};

// The 32-bit layouts a compositor offers: XRGB8888 and ARGB8888 are stored
// little-endian, so their bytes already run blue, green, red, fourth;
// XBGR8888 and ABGR8888 run red, green, blue, fourth.
bool isBgrx(std::uint32_t format) { return format == WL_SHM_FORMAT_XRGB8888 || format == WL_SHM_FORMAT_ARGB8888; }
bool isRgbx(std::uint32_t format) { return format == WL_SHM_FORMAT_XBGR8888 || format == WL_SHM_FORMAT_ABGR8888; }

} // namespace

std::vector<std::uint8_t> scaledToBgrx(const SourceImage& source, int width, int height)
{
    std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
    {
        int sourceY = static_cast<int>(static_cast<long long>(y) * source.height / height);
        if (source.bottomUp)
            sourceY = source.height - 1 - sourceY;
        const std::uint8_t* row = source.pixels + static_cast<std::size_t>(sourceY) * source.stride;
        std::uint8_t* target = out.data() + static_cast<std::size_t>(y) * width * 4;
        if (source.width == width)
        {
            std::memcpy(target, row, static_cast<std::size_t>(width) * 4);
            continue;
        }
        for (int x = 0; x < width; ++x)
            std::memcpy(target + x * 4, row + static_cast<std::size_t>(x) * source.width / width * 4, 4);
    }
    if (source.redFirst)
        for (std::size_t i = 0; i < out.size(); i += 4)
            std::swap(out[i], out[i + 2]);
    return out;
}

bool inWaylandSession()
{
    const char* waylandDisplay = std::getenv("WAYLAND_DISPLAY");
    const char* sessionType = std::getenv("XDG_SESSION_TYPE");
    return (waylandDisplay != nullptr && *waylandDisplay != '\0') ||
           (sessionType != nullptr && std::strcmp(sessionType, "wayland") == 0);
}

ScreenPixels grabWithScreenCopy(int x, int y, int width, int height)
{
    ScreenPixels pixels{width, height, {}, {}};
    wl_display* display = wl_display_connect(nullptr);
    if (display == nullptr)
    {
        pixels.problem = "nessuna connessione al compositore Wayland";
        return pixels;
    }
    Globals globals;
    wl_registry* registry = wl_display_get_registry(display);
    wl_registry_add_listener(registry, &registryListener, &globals);
    bool roundtrip = wl_display_roundtrip(display) >= 0;
    for (Output& output : globals.outputs)
        wl_output_add_listener(output.output, &outputListener, &output);
    roundtrip = roundtrip && wl_display_roundtrip(display) >= 0;

    if (!roundtrip)
        pixels.problem = "il compositore Wayland non risponde";
    else if (globals.screenCopy == nullptr || globals.shm == nullptr)
        pixels.problem = "il compositore non offre la copia dello schermo (wlr-screencopy)";
    else if (globals.outputs.empty())
        pixels.problem = "il compositore non ha uscite video";
    else
    {
        const Output* chosen = &globals.outputs.front();
        for (const Output& output : globals.outputs)
            if (output.x == x && output.y == y)
            {
                chosen = &output;
                break;
            }
        Frame frame;
        zwlr_screencopy_frame_v1* copy =
            zwlr_screencopy_manager_v1_capture_output(globals.screenCopy, 0, chosen->output);
        zwlr_screencopy_frame_v1_add_listener(copy, &frameListener, &frame);
        if (!dispatchUntil(display, [&] { return frame.bufferKnown || frame.failed; }) || frame.failed)
            pixels.problem = "la copia dello schermo non è riuscita";
        else if (!(isBgrx(frame.format) || isRgbx(frame.format)) || frame.stride < frame.width * 4)
            pixels.problem = "formato della copia dello schermo non gestito";
        else
        {
            ShmBuffer buffer(globals.shm, frame);
            if (buffer.buffer == nullptr)
                pixels.problem = std::string("memoria condivisa non disponibile: ") + std::strerror(errno);
            else
            {
                zwlr_screencopy_frame_v1_copy(copy, buffer.buffer);
                if (!dispatchUntil(display, [&] { return frame.ready || frame.failed; }) || !frame.ready)
                    pixels.problem = "la copia dello schermo non è riuscita";
                else
                    pixels.bgrx = scaledToBgrx({buffer.data, frame.width, frame.height,
                                                static_cast<std::size_t>(frame.stride), isRgbx(frame.format),
                                                frame.yInverted},
                                               width, height);
            }
        }
        zwlr_screencopy_frame_v1_destroy(copy);
    }

    for (Output& output : globals.outputs)
        wl_output_destroy(output.output);
    if (globals.screenCopy != nullptr)
        zwlr_screencopy_manager_v1_destroy(globals.screenCopy);
    if (globals.shm != nullptr)
        wl_shm_destroy(globals.shm);
    wl_registry_destroy(registry);
    wl_display_disconnect(display);
    return pixels;
}

} // namespace platform

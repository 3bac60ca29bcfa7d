// X11 platform layer: XRandR for the primary monitor, MIT-SHM (or plain
// XGetImage) for the snapshot, EWMH for the topmost request, GLX to tell
// beforehand whether a window can be opened at all.
//
// Each call opens its own short-lived session: the window handle is a
// server-side id, usable from any connection, and this keeps Xlib state out
// of SFML's way.

#include "messages.hpp"
#include "platform/platform.hpp"
#include "platform/wayland_capture.hpp"
#include "platform/x11_image.hpp"

#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib-xcb.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ipc.h>
#include <sys/shm.h>
#include <unistd.h>
#include <xcb/glx.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <thread>

namespace platform
{
namespace
{

struct MonitorRect
{
    int x;
    int y;
    int width;
    int height;
};

// One connection to the X server for one platform call. Xlib's default error
// handler ends the process; while a session is open, an error on its
// connection is kept, with Xlib's text for it, instead. Errors on other
// connections (SFML's) go to whatever handler was there before.
class XSession
{
public:
    XSession() : display(XOpenDisplay(nullptr))
    {
        if (display == nullptr)
            return;
        m_outer = activeSession;
        activeSession = this;
        m_previous = XSetErrorHandler(&XSession::keepError);
    }

    ~XSession()
    {
        if (display == nullptr)
            return;
        XSync(display, False);
        XSetErrorHandler(m_previous);
        activeSession = m_outer;
        XCloseDisplay(display);
    }

    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    explicit operator bool() const { return display != nullptr; }

    // Waits for the server to answer everything sent so far, then gives the
    // first error since the last look ("BadMatch (invalid parameter
    // attributes) in request 73"), or an empty text when all went well.
    std::string takeError()
    {
        XSync(display, False);
        std::string error;
        error.swap(m_error);
        return error;
    }

    Display* const display;

private:
    static int keepError(Display* display, XErrorEvent* error)
    {
        XSession* session = activeSession;
        while (session != nullptr && session->display != display)
            session = session->m_outer;
        if (session == nullptr)
            return activeSession != nullptr && activeSession->m_previous != nullptr
                       ? activeSession->m_previous(display, error)
                       : 0;
        if (session->m_error.empty())
        {
            char text[256] = {};
            XGetErrorText(display, error->error_code, text, sizeof text);
            session->m_error = std::string(text) + " in request " + std::to_string(error->request_code);
        }
        return 0;
    }

    static inline XSession* activeSession = nullptr;
    XSession* m_outer = nullptr;
    XErrorHandler m_previous = nullptr;
    std::string m_error;
};

bool hasRandr(Display* display, int wantedMinor)
{
    int eventBase = 0;
    int errorBase = 0;
    int major = 0;
    int minor = 0;
    return XRRQueryExtension(display, &eventBase, &errorBase) &&
           XRRQueryVersion(display, &major, &minor) && (major > 1 || (major == 1 && minor >= wantedMinor));
}

// RandR 1.5 monitors: the one flagged primary, else the first.
bool primaryFromMonitors(Display* display, Window root, MonitorRect& rect)
{
    if (!hasRandr(display, 5))
        return false;
    int count = 0;
    XRRMonitorInfo* monitors = XRRGetMonitors(display, root, True, &count);
    if (monitors == nullptr)
        return false;
    int chosen = -1;
    for (int i = 0; i < count && chosen < 0; ++i)
        if (monitors[i].primary)
            chosen = i;
    if (chosen < 0 && count > 0)
        chosen = 0;
    if (chosen >= 0)
        rect = {monitors[chosen].x, monitors[chosen].y, monitors[chosen].width, monitors[chosen].height};
    XRRFreeMonitors(monitors);
    return chosen >= 0 && rect.width > 0 && rect.height > 0;
}

// RandR 1.3: the primary output's CRTC, else the first CRTC that shows a mode.
bool primaryFromCrtcs(Display* display, Window root, MonitorRect& rect)
{
    if (!hasRandr(display, 3))
        return false;
    XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root);
    if (resources == nullptr)
        return false;

    RRCrtc crtc = 0;
    const RROutput primary = XRRGetOutputPrimary(display, root);
    if (primary != 0)
    {
        if (XRROutputInfo* output = XRRGetOutputInfo(display, resources, primary))
        {
            crtc = output->crtc;
            XRRFreeOutputInfo(output);
        }
    }

    bool found = false;
    for (int i = -1; i < resources->ncrtc && !found; ++i)
    {
        const RRCrtc candidate = i < 0 ? crtc : resources->crtcs[i];
        if (candidate == 0)
            continue;
        if (XRRCrtcInfo* info = XRRGetCrtcInfo(display, resources, candidate))
        {
            if (info->mode != 0 && info->width > 0 && info->height > 0)
            {
                rect = {info->x, info->y, static_cast<int>(info->width), static_cast<int>(info->height)};
                found = true;
            }
            XRRFreeCrtcInfo(info);
        }
    }
    XRRFreeScreenResources(resources);
    return found;
}

MonitorRect primaryMonitor(XSession& session)
{
    Display* display = session.display;
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    MonitorRect rect{0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
    if (!primaryFromMonitors(display, root, rect))
        primaryFromCrtcs(display, root, rect);
    session.takeError(); // a RandR that answers with errors leaves the whole screen
    return rect;
}

void sendToWindowManager(Display* display, Window window, const char* messageType, long data0, long data1)
{
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, messageType, False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = data0;
    event.xclient.data.l[1] = data1;
    XSendEvent(display, DefaultRootWindow(display), False, SubstructureRedirectMask | SubstructureNotifyMask,
               &event);
}

// Owners for what a grab allocates, so that every way out releases it.
struct ImageOwner
{
    explicit ImageOwner(XImage* owned) : image(owned) {}
    ~ImageOwner()
    {
        if (image == nullptr)
            return;
        if (shmData) // the segment and its description are not Xlib's to free
        {
            image->data = nullptr;
            image->obdata = nullptr;
        }
        XDestroyImage(image);
    }
    ImageOwner(const ImageOwner&) = delete;
    ImageOwner& operator=(const ImageOwner&) = delete;

    XImage* image;
    bool shmData = false;
};

// A private shared-memory segment, marked for removal as soon as both sides
// have it, so that it cannot outlive a crash.
struct SharedSegment
{
    explicit SharedSegment(std::size_t size)
    {
        info.shmid = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (info.shmid < 0)
            return;
        info.shmaddr = static_cast<char*>(shmat(info.shmid, nullptr, 0));
        if (info.shmaddr == reinterpret_cast<char*>(-1))
        {
            info.shmaddr = nullptr;
            markForRemoval();
        }
        info.readOnly = False;
    }
    ~SharedSegment()
    {
        if (attachedTo != nullptr)
            XShmDetach(attachedTo, &info); // the server lets go when it reads this
        if (info.shmaddr == nullptr)
            return;
        shmdt(info.shmaddr); // only our mapping; the removed segment lives while the server holds it
        markForRemoval();
    }
    void markForRemoval()
    {
        if (!removed)
            shmctl(info.shmid, IPC_RMID, nullptr);
        removed = true;
    }
    SharedSegment(const SharedSegment&) = delete;
    SharedSegment& operator=(const SharedSegment&) = delete;

    XShmSegmentInfo info{};
    Display* attachedTo = nullptr;
    bool removed = false;
};

// Empty when the grab worked; otherwise why not.
std::string grabWithShm(XSession& session, Window root, const MonitorRect& rect, std::vector<std::uint8_t>& out)
{
    Display* display = session.display;
    if (!XShmQueryExtension(display))
        return "MIT-SHM assente";
    const int screen = DefaultScreen(display);
    ImageOwner image(XShmCreateImage(display, DefaultVisual(display, screen), DefaultDepth(display, screen), ZPixmap,
                                     nullptr, nullptr, static_cast<unsigned>(rect.width),
                                     static_cast<unsigned>(rect.height)));
    if (image.image == nullptr)
        return "XShmCreateImage non riuscita";
    SharedSegment segment(static_cast<std::size_t>(image.image->bytes_per_line) * image.image->height);
    if (segment.info.shmaddr == nullptr)
        return std::string("memoria condivisa non disponibile: ") + std::strerror(errno);
    image.image->data = segment.info.shmaddr;
    image.shmData = true;
    image.image->obdata = reinterpret_cast<char*>(&segment.info);

    // A remote or sandboxed server cannot attach; that shows as an X error.
    XShmAttach(display, &segment.info);
    if (std::string error = session.takeError(); !error.empty())
        return "XShmAttach: " + error;
    segment.attachedTo = display;
    segment.markForRemoval();

    const Bool got = XShmGetImage(display, root, image.image, rect.x, rect.y, AllPlanes);
    if (std::string error = session.takeError(); !error.empty() || !got)
        return "XShmGetImage: " + (error.empty() ? std::string("non riuscita") : error);
    if (!convertImageToBgrx(*image.image, out))
        return "formato dei pixel senza maschere di colore";
    return {};
}

std::string grabWithGetImage(XSession& session, Window root, const MonitorRect& rect, std::vector<std::uint8_t>& out)
{
    ImageOwner image(XGetImage(session.display, root, rect.x, rect.y, static_cast<unsigned>(rect.width),
                               static_cast<unsigned>(rect.height), AllPlanes, ZPixmap));
    const std::string error = session.takeError();
    if (image.image == nullptr)
        return "XGetImage: " + (error.empty() ? std::string("non riuscita") : error);
    if (!convertImageToBgrx(*image.image, out))
        return "formato dei pixel senza maschere di colore";
    return {};
}

[[noreturn]] int onDisplayLost(Display*)
{
    // No stdio here: only write(2) and _exit(2), which skip the library
    // destructors that race with SFML's audio thread.
    const ssize_t ignored = write(STDERR_FILENO, messages::displayLost, sizeof messages::displayLost - 1);
    (void)ignored;
    _exit(255);
}

// The visuals that OpenGL can draw into in RGBA, as the server's GLX
// extension lists them. Asked in the GLX protocol itself: glXGetConfig would
// load the OpenGL driver for this connection, and the window library's own
// connection would then load and set it up a second time (some 20-30 ms
// with Mesa's llvmpipe).
std::vector<VisualID> rgbaGlVisuals(Display* display, int screen)
{
    std::vector<VisualID> found;
    xcb_connection_t* connection = XGetXCBConnection(display);
    xcb_generic_error_t* error = nullptr;
    xcb_glx_get_visual_configs_reply_t* reply = xcb_glx_get_visual_configs_reply(
        connection, xcb_glx_get_visual_configs(connection, static_cast<std::uint32_t>(screen)), &error);
    std::free(error);
    if (reply == nullptr)
        return found;
    // Each visual's list starts with its id, its class and whether it is RGBA.
    const std::uint32_t* properties = xcb_glx_get_visual_configs_property_list(reply);
    const std::size_t perVisual = reply->num_properties;
    const auto length = static_cast<std::size_t>(xcb_glx_get_visual_configs_property_list_length(reply));
    for (std::size_t i = 0; perVisual >= 3 && (i + 1) * perVisual <= length && i < reply->num_visuals; ++i)
        if (properties[i * perVisual + 2] != 0)
            found.push_back(properties[i * perVisual]);
    std::free(reply);
    return found;
}

// What the window library needs to open an OpenGL window: GLX, and a visual
// of the screen's own depth, true colour at 24 bits or more, that OpenGL can
// draw into. SFML 2.5 crashes without GLX or on an 8-bit screen, and asks
// for a window of another depth than the screen's on a 16-bit one.
std::string openGlProblem(Display* display, const std::string& name)
{
    int errorBase = 0;
    int eventBase = 0;
    if (!glXQueryExtension(display, &errorBase, &eventBase))
        return messages::noGlx(name);

    const int screen = DefaultScreen(display);
    const int depth = DefaultDepth(display, screen);
    const std::vector<VisualID> glVisuals = rgbaGlVisuals(display, screen);
    XVisualInfo wanted{};
    wanted.screen = screen;
    wanted.depth = depth;
    int count = 0;
    XVisualInfo* visuals = XGetVisualInfo(display, VisualScreenMask | VisualDepthMask, &wanted, &count);
    bool usable = false;
    for (int i = 0; i < count && !usable && depth >= 24; ++i)
        usable = (visuals[i].c_class == TrueColor || visuals[i].c_class == DirectColor) &&
                 std::find(glVisuals.begin(), glVisuals.end(), visuals[i].visualid) != glVisuals.end();
    if (visuals != nullptr)
        XFree(visuals);
    return usable ? std::string() : messages::noTrueColourGl(name, depth);
}

// SFML 2.5 centres a new window on the X screen by its width in both
// directions: y = (screen width - window height) / 2. On a screen at least
// about three times as wide as the window is tall, that is wholly below the
// screen. After mapping, SFML waits for a VisibilityNotify that is not
// "fully obscured", which such a window never gets, and spins forever. A
// window manager places the window itself and hides the fault; without one,
// this watcher moves a wholly off-screen window with our title onto the
// primary monitor as soon as it is mapped. It runs on its own thread, since
// SFML holds the main one, and speaks XCB on a connection of its own: XCB
// returns errors as values, so no process-wide Xlib error handler is shared
// with SFML's thread.
//
// The same watcher takes the snapshot when our window is mapped (before any
// rescue, which would drag the undrawn window's stale pixels along), with a
// plain GetImage on its XCB connection: as fast here as MIT-SHM (see
// BENCHMARKS.md), and without Xlib's process-wide error handler, which SFML
// swaps while it creates the OpenGL context on the main thread.
class OffscreenWindowRescuer
{
public:
    OffscreenWindowRescuer(const std::string& title, const MonitorRect& primary, bool grabAtMap)
        : m_title(title), m_primary(primary), m_grabAtMap(grabAtMap), m_connection(xcb_connect(nullptr, nullptr))
    {
        if (xcb_connection_has_error(m_connection))
            return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data;
        // Selected before SFML creates its window, so its MapNotify cannot be missed.
        const std::uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_void_cookie_t cookie =
            xcb_change_window_attributes_checked(m_connection, m_root->root, XCB_CW_EVENT_MASK, &mask);
        if (xcb_generic_error_t* error = xcb_request_check(m_connection, cookie))
        {
            std::free(error);
            return;
        }
        if (pipe2(m_wake, O_CLOEXEC) != 0)
            return;
        m_thread = std::thread([this] { watch(); });
    }

    ~OffscreenWindowRescuer()
    {
        stop();
        for (int end : m_wake)
            if (end >= 0)
                close(end);
        xcb_disconnect(m_connection);
    }

    OffscreenWindowRescuer(const OffscreenWindowRescuer&) = delete;
    OffscreenWindowRescuer& operator=(const OffscreenWindowRescuer&) = delete;

    // Ends the watch once every event sent before the call has been handled.
    void stop()
    {
        m_stop = true;
        if (!m_thread.joinable())
            return;
        const char wake = 0;
        const ssize_t ignored = write(m_wake[1], &wake, 1);
        (void)ignored;
        m_thread.join();
    }

    std::optional<ScreenPixels> takeSnapshot()
    {
        stop();
        return std::move(m_snapshot);
    }

private:
    void watch()
    {
        pollfd watched[] = {{xcb_get_file_descriptor(m_connection), POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        while (!xcb_connection_has_error(m_connection))
        {
            const bool last = m_stop;
            if (last)
            {
                // A round trip: every event the server sent before it has arrived.
                std::free(xcb_get_input_focus_reply(m_connection, xcb_get_input_focus(m_connection), nullptr));
            }
            while (xcb_generic_event_t* event = xcb_poll_for_event(m_connection))
            {
                if ((event->response_type & 0x7f) == XCB_MAP_NOTIFY)
                    mapped(reinterpret_cast<xcb_map_notify_event_t*>(event)->window);
                std::free(event);
            }
            if (last)
                return;
            poll(watched, 2, 1000);
        }
    }

    void mapped(xcb_window_t window)
    {
        if (!hasOurTitle(window))
            return;
        if (m_grabAtMap && !m_snapshot)
            m_snapshot = grab();
        rescue(window);
    }

    // The primary monitor's rectangle of the root window, converted as the Xlib grab converts it.
    std::optional<ScreenPixels> grab()
    {
        const xcb_setup_t* setup = xcb_get_setup(m_connection);
        const xcb_visualtype_t* visual = nullptr;
        for (xcb_depth_iterator_t depth = xcb_screen_allowed_depths_iterator(m_root); depth.rem && !visual;
             xcb_depth_next(&depth))
            for (xcb_visualtype_iterator_t type = xcb_depth_visuals_iterator(depth.data); type.rem;
                 xcb_visualtype_next(&type))
                if (type.data->visual_id == m_root->root_visual)
                {
                    visual = type.data;
                    break;
                }
        const xcb_format_t* format = nullptr;
        for (xcb_format_iterator_t f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f))
            if (f.data->depth == m_root->root_depth)
                format = f.data;
        if (visual == nullptr || format == nullptr || format->bits_per_pixel < 8)
            return std::nullopt;

        xcb_get_image_reply_t* reply = xcb_get_image_reply(
            m_connection,
            xcb_get_image(m_connection, XCB_IMAGE_FORMAT_Z_PIXMAP, m_root->root, static_cast<std::int16_t>(m_primary.x),
                          static_cast<std::int16_t>(m_primary.y), static_cast<std::uint16_t>(m_primary.width),
                          static_cast<std::uint16_t>(m_primary.height), ~0u),
            nullptr);
        if (reply == nullptr)
            return std::nullopt;
        const int rowBits = m_primary.width * format->bits_per_pixel;
        const int pad = format->scanline_pad;
        XImage image{};
        image.width = m_primary.width;
        image.height = m_primary.height;
        image.format = ZPixmap;
        image.data = reinterpret_cast<char*>(xcb_get_image_data(reply));
        image.byte_order = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST ? MSBFirst : LSBFirst;
        image.bits_per_pixel = format->bits_per_pixel;
        image.bytes_per_line = (rowBits + pad - 1) / pad * pad / 8;
        image.depth = m_root->root_depth;
        image.red_mask = visual->red_mask;
        image.green_mask = visual->green_mask;
        image.blue_mask = visual->blue_mask;
        std::optional<ScreenPixels> pixels;
        const std::size_t needed = static_cast<std::size_t>(image.bytes_per_line) * static_cast<std::size_t>(image.height);
        if (static_cast<std::size_t>(xcb_get_image_data_length(reply)) >= needed)
        {
            pixels.emplace(ScreenPixels{m_primary.width, m_primary.height, {}, {}});
            if (!convertImageToBgrx(image, pixels->bgrx))
                pixels.reset();
        }
        std::free(reply);
        return pixels;
    }

    void rescue(xcb_window_t window)
    {
        xcb_get_geometry_reply_t* geometry =
            xcb_get_geometry_reply(m_connection, xcb_get_geometry(m_connection, window), nullptr);
        if (geometry == nullptr)
            return;
        const bool offscreen = geometry->x >= m_root->width_in_pixels || geometry->y >= m_root->height_in_pixels ||
                               geometry->x + geometry->width <= 0 || geometry->y + geometry->height <= 0;
        std::free(geometry);
        if (!offscreen)
            return;
        const std::uint32_t values[] = {static_cast<std::uint32_t>(m_primary.x),
                                        static_cast<std::uint32_t>(m_primary.y)};
        xcb_configure_window(m_connection, window, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, values);
        xcb_flush(m_connection);
    }

    bool hasOurTitle(xcb_window_t window)
    {
        xcb_get_property_reply_t* name = xcb_get_property_reply(
            m_connection,
            xcb_get_property(m_connection, 0, window, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, 256), nullptr);
        if (name == nullptr)
            return false;
        const char* text = static_cast<const char*>(xcb_get_property_value(name));
        const bool ours = std::string(text, static_cast<std::size_t>(xcb_get_property_value_length(name))) == m_title;
        std::free(name);
        return ours;
    }

    const std::string m_title;
    const MonitorRect m_primary;
    const bool m_grabAtMap;
    std::optional<ScreenPixels> m_snapshot; // written by the watcher, read after it has stopped
    xcb_connection_t* const m_connection;
    int m_wake[2] = {-1, -1}; // written by stop() so that the watcher need not wait out its poll
    xcb_screen_t* m_root = nullptr;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

} // namespace

void prepareProcess()
{
    // open() takes the lowest free descriptor, so this fills 0, 1 and 2 in turn.
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd)
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) == -1)
            _exit(255);
    // A reader that goes away makes writes fail with EPIPE instead of killing us.
    std::signal(SIGPIPE, SIG_IGN);
}

std::string displayProblem()
{
    const char* name = std::getenv("DISPLAY");
    XSession session;
    if (!session)
    {
        if (name == nullptr || *name == '\0')
            return messages::noDisplaySet;
        return messages::cannotConnect(name);
    }
    return openGlProblem(session.display, DisplayString(session.display));
}

void endOnDisplayLoss()
{
    XSetIOErrorHandler(&onDisplayLost);
}

ScreenSize primaryScreenSize()
{
    XSession session;
    if (!session)
        return {0, 0};
    const MonitorRect rect = primaryMonitor(session);
    return {rect.width, rect.height};
}

struct WindowCreationGuard::Watcher
{
    OffscreenWindowRescuer rescuer;
};

WindowCreationGuard::WindowCreationGuard(const std::string& title)
{
    XSession session;
    // Through XWayland the root window reads back black: the compositor is asked later instead.
    if (session)
        m_watcher.reset(new Watcher{{title, primaryMonitor(session), !inWaylandSession()}});
}

WindowCreationGuard::~WindowCreationGuard() = default;

std::optional<ScreenPixels> WindowCreationGuard::snapshotAtMap()
{
    if (!m_watcher)
        return std::nullopt;
    return m_watcher->rescuer.takeSnapshot();
}

void makeWindowTopmost(sf::WindowHandle window)
{
    XSession session;
    if (!session)
        return;
    Display* display = session.display;

    const long netWmStateAdd = 1;
    const long sourceIsApplication = 1;
    sendToWindowManager(display, window, "_NET_WM_STATE", netWmStateAdd,
                        static_cast<long>(XInternAtom(display, "_NET_WM_STATE_ABOVE", False)));
    // Wayland compositors ignore "above" for XWayland windows: a window opened
    // later would cover the overlay and take the keyboard. Fullscreen covers
    // the output and keeps it.
    if (inWaylandSession())
        sendToWindowManager(display, window, "_NET_WM_STATE", netWmStateAdd,
                            static_cast<long>(XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False)));
    sendToWindowManager(display, window, "_NET_ACTIVE_WINDOW", sourceIsApplication, CurrentTime);
    XRaiseWindow(display, window);

    // Without a window manager nobody acts on the requests above; take the
    // keyboard focus directly so that Escape reaches the overlay.
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable)
        XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
}

void placeOverPrimaryMonitor(sf::WindowHandle window)
{
    XSession session;
    if (!session)
        return;
    const MonitorRect rect = primaryMonitor(session);
    XMoveResizeWindow(session.display, window, rect.x, rect.y, static_cast<unsigned>(rect.width),
                      static_cast<unsigned>(rect.height));
}

// Its own XCB connection, so that nothing is shared with SFML's Xlib one:
// several clients may select key presses on one window, and each gets them.
// A close request from a window manager goes to SFML's connection alone; a
// pager's or taskbar's (_NET_CLOSE_WINDOW to the root window) is seen here.
struct KeyWatch::State
{
    xcb_connection_t* connection = nullptr;
    xcb_window_t window = 0;
    std::vector<xcb_keycode_t> escapeKeys;
    xcb_atom_t closeWindow = XCB_ATOM_NONE;
};

KeyWatch::KeyWatch(sf::WindowHandle window) : m_state(new State)
{
    State& s = *m_state;
    s.connection = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(s.connection))
        return;
    s.window = static_cast<xcb_window_t>(window);
    const xcb_setup_t* setup = xcb_get_setup(s.connection);
    const xcb_window_t root = xcb_setup_roots_iterator(setup).data->root;

    // The keycodes that give Escape.
    constexpr xcb_keysym_t escape = 0xff1b;
    const std::uint8_t count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
    if (xcb_get_keyboard_mapping_reply_t* mapping = xcb_get_keyboard_mapping_reply(
            s.connection, xcb_get_keyboard_mapping(s.connection, setup->min_keycode, count), nullptr))
    {
        const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping);
        const int perKeycode = mapping->keysyms_per_keycode;
        for (int code = 0; code < count; ++code)
            for (int i = 0; i < perKeycode; ++i)
                if (keysyms[code * perKeycode + i] == escape)
                    s.escapeKeys.push_back(static_cast<xcb_keycode_t>(setup->min_keycode + code));
        std::free(mapping);
    }
    if (xcb_intern_atom_reply_t* atom = xcb_intern_atom_reply(
            s.connection, xcb_intern_atom(s.connection, 0, 17, "_NET_CLOSE_WINDOW"), nullptr))
    {
        s.closeWindow = atom->atom;
        std::free(atom);
    }

    const std::uint32_t keys = XCB_EVENT_MASK_KEY_PRESS;
    xcb_change_window_attributes(s.connection, s.window, XCB_CW_EVENT_MASK, &keys);
    // Selecting on the root replaces only this connection's own mask there.
    const std::uint32_t rootEvents = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(s.connection, root, XCB_CW_EVENT_MASK, &rootEvents);
    xcb_flush(s.connection);
}

KeyWatch::~KeyWatch()
{
    if (m_state->connection != nullptr)
        xcb_disconnect(m_state->connection);
}

bool KeyWatch::waitForQuit(int timeoutMilliseconds)
{
    State& s = *m_state;
    if (xcb_connection_has_error(s.connection))
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(timeoutMilliseconds));
        return false;
    }
    pollfd connection{xcb_get_file_descriptor(s.connection), POLLIN, 0};
    poll(&connection, 1, timeoutMilliseconds);
    bool quit = false;
    while (xcb_generic_event_t* event = xcb_poll_for_event(s.connection))
    {
        const int type = event->response_type & 0x7f;
        if (type == XCB_KEY_PRESS)
        {
            const auto* key = reinterpret_cast<xcb_key_press_event_t*>(event);
            quit = quit || std::find(s.escapeKeys.begin(), s.escapeKeys.end(), key->detail) != s.escapeKeys.end();
        }
        else if (type == XCB_CLIENT_MESSAGE)
        {
            const auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            quit = quit || (message->type == s.closeWindow && message->window == s.window);
        }
        std::free(event);
    }
    return quit;
}

ScreenPixels grabPrimaryScreenBehind(sf::WindowHandle)
{
    // X11 without a compositor shows the desktop through a window that has
    // not drawn; in a Wayland session the compositor's copy is asked for.
    return grabPrimaryScreen();
}

ScreenPixels grabPrimaryScreen()
{
    XSession session;
    if (!session)
        return {0, 0, {}, "nessun display X"};

    const MonitorRect rect = primaryMonitor(session);
    if (inWaylandSession())
    {
        // Through XWayland the root window reads back black, and MIT-SHM even
        // says it worked: ask the compositor instead.
        ScreenPixels pixels = grabWaylandOutput(rect.x, rect.y, rect.width, rect.height);
        if (!pixels.problem.empty())
            pixels.bgrx.assign(static_cast<std::size_t>(rect.width) * rect.height * 4, 0);
        return pixels;
    }
    ScreenPixels pixels{rect.width, rect.height, {}, {}};
    const Window root = DefaultRootWindow(session.display);
    const std::string shmProblem = grabWithShm(session, root, rect, pixels.bgrx);
    if (shmProblem.empty())
        return pixels;
    const std::string getImageProblem = grabWithGetImage(session, root, rect, pixels.bgrx);
    if (getImageProblem.empty())
        return pixels;
    pixels.bgrx.assign(static_cast<std::size_t>(rect.width) * rect.height * 4, 0);
    pixels.problem = shmProblem + "; " + getImageProblem;
    return pixels;
}

} // namespace platform

// X11 platform layer: XRandR for the primary monitor, MIT-SHM (or plain
// XGetImage) for the snapshot, EWMH for the topmost request.
//
// Each call opens its own short-lived connection: the window handle is a
// server-side id, usable from any connection, and this keeps Xlib state out
// of SFML's way.

#include "platform/platform.hpp"
#include "platform/x11_image.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrandr.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

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

// Xlib's default error handler ends the process. While a trap is alive, an
// error on its connection is only recorded; errors on other connections
// (SFML's) go to whatever handler was there before.
class ErrorTrap
{
public:
    explicit ErrorTrap(Display* display) : m_display(display), m_outer(activeTrap)
    {
        activeTrap = this;
        m_previous = XSetErrorHandler(&ErrorTrap::handle);
    }

    ~ErrorTrap()
    {
        XSync(m_display, False);
        XSetErrorHandler(m_previous);
        activeTrap = m_outer;
    }

    ErrorTrap(const ErrorTrap&) = delete;
    ErrorTrap& operator=(const ErrorTrap&) = delete;

    // Waits for the server to answer everything sent so far, then tells
    // whether any of it failed since the last look.
    bool failedSinceLastCheck()
    {
        XSync(m_display, False);
        const bool failed = m_failed;
        m_failed = false;
        return failed;
    }

private:
    static int handle(Display* display, XErrorEvent* error)
    {
        if (activeTrap != nullptr && display == activeTrap->m_display)
        {
            activeTrap->m_failed = true;
            return 0;
        }
        return activeTrap != nullptr && activeTrap->m_previous != nullptr
                   ? activeTrap->m_previous(display, error)
                   : 0;
    }

    static inline ErrorTrap* activeTrap = nullptr;
    Display* m_display;
    ErrorTrap* m_outer;
    XErrorHandler m_previous = nullptr;
    bool m_failed = false;
};

struct Connection
{
    Connection() : display(XOpenDisplay(nullptr)) {}
    ~Connection()
    {
        if (display != nullptr)
            XCloseDisplay(display);
    }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    Display* display;
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

MonitorRect primaryMonitor(Display* display)
{
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    MonitorRect rect{0, 0, DisplayWidth(display, screen), DisplayHeight(display, screen)};
    ErrorTrap trap(display);
    if (!primaryFromMonitors(display, root, rect))
        primaryFromCrtcs(display, root, rect);
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

bool grabWithShm(Display* display, Window root, const MonitorRect& rect, ErrorTrap& trap,
                 std::vector<std::uint8_t>& out)
{
    if (!XShmQueryExtension(display))
        return false;
    const int screen = DefaultScreen(display);
    XShmSegmentInfo segment{};
    XImage* image = XShmCreateImage(display, DefaultVisual(display, screen), DefaultDepth(display, screen),
                                    ZPixmap, nullptr, &segment, rect.width, rect.height);
    if (image == nullptr)
        return false;

    bool grabbed = false;
    segment.shmid = shmget(IPC_PRIVATE, static_cast<std::size_t>(image->bytes_per_line) * image->height,
                           IPC_CREAT | 0600);
    if (segment.shmid >= 0)
    {
        segment.shmaddr = image->data = static_cast<char*>(shmat(segment.shmid, nullptr, 0));
        segment.readOnly = False;
        if (segment.shmaddr != reinterpret_cast<char*>(-1))
        {
            // A remote or sandboxed server cannot attach; that shows as an X error.
            const bool attached = XShmAttach(display, &segment) && !trap.failedSinceLastCheck();
            // Marked for removal now, so the segment cannot outlive a crash.
            shmctl(segment.shmid, IPC_RMID, nullptr);
            if (attached)
            {
                grabbed = XShmGetImage(display, root, image, rect.x, rect.y, AllPlanes) &&
                          !trap.failedSinceLastCheck() && convertImageToBgrx(*image, out);
                // Only our mapping goes with shmdt; the server lets go when it
                // reads the detach, and the removed segment lives until then.
                XShmDetach(display, &segment);
            }
            shmdt(segment.shmaddr);
        }
        else
        {
            shmctl(segment.shmid, IPC_RMID, nullptr);
        }
    }
    image->data = nullptr;
    XDestroyImage(image);
    return grabbed;
}

bool grabWithGetImage(Display* display, Window root, const MonitorRect& rect, ErrorTrap& trap,
                      std::vector<std::uint8_t>& out)
{
    XImage* image = XGetImage(display, root, rect.x, rect.y, static_cast<unsigned>(rect.width),
                              static_cast<unsigned>(rect.height), AllPlanes, ZPixmap);
    trap.failedSinceLastCheck();
    if (image == nullptr)
        return false;
    const bool converted = convertImageToBgrx(*image, out);
    XDestroyImage(image);
    return converted;
}

[[noreturn]] int onDisplayLost(Display*)
{
    // No stdio here: only write(2) and _exit(2), which skip the library
    // destructors that race with SFML's audio thread.
    const char message[] = "Connessione al display X persa: il programma termina.\n";
    const ssize_t ignored = write(STDERR_FILENO, message, std::strlen(message));
    (void)ignored;
    _exit(255);
}

} // namespace

std::string displayProblem()
{
    Connection connection;
    if (connection.display != nullptr)
        return {};
    const char* name = std::getenv("DISPLAY");
    if (name == nullptr || *name == '\0')
        return "Nessun display X disponibile: la variabile DISPLAY non è impostata.";
    return std::string("Impossibile connettersi al display X ") + name + ".";
}

void endOnDisplayLoss()
{
    XSetIOErrorHandler(&onDisplayLost);
}

ScreenSize primaryScreenSize()
{
    Connection connection;
    if (connection.display == nullptr)
        return {0, 0};
    const MonitorRect rect = primaryMonitor(connection.display);
    return {rect.width, rect.height};
}

void makeWindowTopmost(sf::WindowHandle window)
{
    Connection connection;
    Display* display = connection.display;
    if (display == nullptr)
        return;
    ErrorTrap trap(display);

    const long netWmStateAdd = 1;
    const long sourceIsApplication = 1;
    sendToWindowManager(display, window, "_NET_WM_STATE", netWmStateAdd,
                        static_cast<long>(XInternAtom(display, "_NET_WM_STATE_ABOVE", False)));
    sendToWindowManager(display, window, "_NET_ACTIVE_WINDOW", sourceIsApplication, CurrentTime);
    XRaiseWindow(display, window);

    // Without a window manager nobody acts on the requests above; take the
    // keyboard focus directly so that Escape reaches the overlay.
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes) && attributes.map_state == IsViewable)
        XSetInputFocus(display, window, RevertToPointerRoot, CurrentTime);
    XSync(display, False);
}

void placeOverPrimaryMonitor(sf::WindowHandle window)
{
    Connection connection;
    Display* display = connection.display;
    if (display == nullptr)
        return;
    ErrorTrap trap(display);
    const MonitorRect rect = primaryMonitor(display);
    XMoveResizeWindow(display, window, rect.x, rect.y, static_cast<unsigned>(rect.width),
                      static_cast<unsigned>(rect.height));
}

ScreenPixels grabPrimaryScreen()
{
    Connection connection;
    Display* display = connection.display;
    if (display == nullptr)
        return {0, 0, {}};

    const MonitorRect rect = primaryMonitor(display);
    ScreenPixels pixels{rect.width, rect.height, {}};
    ErrorTrap trap(display);
    const Window root = DefaultRootWindow(display);
    if (!grabWithShm(display, root, rect, trap, pixels.bgrx) &&
        !grabWithGetImage(display, root, rect, trap, pixels.bgrx))
        pixels.bgrx.assign(static_cast<std::size_t>(rect.width) * rect.height * 4, 0);
    return pixels;
}

} // namespace platform

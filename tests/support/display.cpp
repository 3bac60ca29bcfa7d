#include "display.hpp"
#include "process.hpp"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport
{
namespace
{

struct Connection
{
    Connection() : display(XOpenDisplay(nullptr))
    {
        if (display == nullptr)
            throw std::runtime_error("cannot open the test display");
    }
    ~Connection() { XCloseDisplay(display); }
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;
    Display* display;
};

void stop(pid_t& pid)
{
    if (pid <= 0)
        return;
    kill(pid, SIGTERM);
    for (int i = 0; i < 200 && waitpid(pid, nullptr, WNOHANG) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

std::string windowTitle(Display* display, Window window)
{
    Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom netWmName = XInternAtom(display, "_NET_WM_NAME", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::string title;
    if (XGetWindowProperty(display, window, netWmName, 0, 1024, False, utf8, &type, &format, &count, &after,
                           &data) == Success &&
        data != nullptr)
    {
        title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    if (title.empty())
    {
        char* name = nullptr;
        if (XFetchName(display, window, &name) && name != nullptr)
        {
            title = name;
            XFree(name);
        }
    }
    return title;
}

bool titleMatches(const std::string& actual, const std::string& wanted, bool prefix)
{
    return prefix ? actual.rfind(wanted, 0) == 0 : actual == wanted;
}

Window findByTitle(Display* display, Window parent, const std::string& title, bool prefix = false)
{
    Window root = 0, parentOut = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, parent, &root, &parentOut, &children, &count))
        return 0;
    Window found = 0;
    for (unsigned int i = 0; i < count && found == 0; ++i)
        if (titleMatches(windowTitle(display, children[i]), title, prefix))
            found = children[i];
    for (unsigned int i = 0; i < count && found == 0; ++i)
        found = findByTitle(display, children[i], title, prefix);
    if (children != nullptr)
        XFree(children);
    return found;
}

int ignoreErrors(Display*, XErrorEvent*) { return 0; }

// One colour channel of a visual: where its bits sit and their largest value.
struct Channel
{
    explicit Channel(unsigned long mask) : mask(mask)
    {
        while (((mask >> shift) & 1UL) == 0)
            ++shift;
        max = mask >> shift;
    }
    unsigned long encode(std::uint8_t value) const { return ((value * max + 127) / 255) << shift; }
    std::uint8_t decode(unsigned long pixel) const
    {
        return static_cast<std::uint8_t>((((pixel & mask) >> shift) * 255 + max / 2) / max);
    }

    unsigned long mask;
    int shift = 0;
    unsigned long max = 0;
};

} // namespace

std::string describe(const Rgb& colour)
{
    return "(" + std::to_string(colour.r) + "," + std::to_string(colour.g) + "," + std::to_string(colour.b) + ")";
}

VirtualDisplay::VirtualDisplay(int width, int height, int depth, const std::vector<std::string>& extraArgs)
{
    int fds[2];
    if (pipe(fds) != 0)
        throw std::runtime_error("pipe failed");
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x" + std::to_string(depth);
    std::vector<std::string> argv = {"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen,
                                     "-noreset", "-nolisten", "tcp"};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    m_server = startChild(argv, {{}, {}, "/dev/null", "/dev/null", fds[1]});
    close(fds[1]);
    std::string number;
    char c = 0;
    while (read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty())
        throw std::runtime_error("Xvfb did not start (is it installed?)");
    m_name = ":" + number;
    setenv("DISPLAY", m_name.c_str(), 1);
    // A plain X11 session, whatever session the tests were started from: a
    // Wayland terminal's variables would send the snapshot to the compositor.
    unsetenv("WAYLAND_DISPLAY");
    setenv("XDG_SESSION_TYPE", "x11", 1);
}

VirtualDisplay::~VirtualDisplay()
{
    stop(m_windowManager);
    stop(m_server);
}

void VirtualDisplay::startWindowManager()
{
    m_windowManager = startChild({"openbox", "--sm-disable"});
    // Ready once it has claimed the EWMH check window on the root.
    Connection connection;
    const Atom check = XInternAtom(connection.display, "_NET_SUPPORTING_WM_CHECK", False);
    for (int i = 0; i < 500; ++i)
    {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, after = 0;
        unsigned char* data = nullptr;
        XGetWindowProperty(connection.display, DefaultRootWindow(connection.display), check, 0, 1, False,
                           XA_WINDOW, &type, &format, &count, &after, &data);
        if (data != nullptr)
            XFree(data);
        if (count == 1)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    throw std::runtime_error("openbox did not start");
}

void VirtualDisplay::stopWindowManager() { stop(m_windowManager); }

void VirtualDisplay::stopServer()
{
    stop(m_windowManager);
    stop(m_server);
}

void paintDesktop(const std::function<Rgb(int x, int y)>& pattern)
{
    Connection connection;
    Display* display = connection.display;
    const int screen = DefaultScreen(display);
    const int width = DisplayWidth(display, screen);
    const int height = DisplayHeight(display, screen);
    const Window root = RootWindow(display, screen);
    Visual* visual = DefaultVisual(display, screen);
    const int depth = DefaultDepth(display, screen);

    XImage* image = XCreateImage(display, visual, static_cast<unsigned>(depth), ZPixmap, 0, nullptr,
                                 static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    image->data = static_cast<char*>(std::calloc(static_cast<std::size_t>(image->bytes_per_line), height));
    const Channel red(visual->red_mask), green(visual->green_mask), blue(visual->blue_mask);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
        {
            const Rgb colour = pattern(x, y);
            XPutPixel(image, x, y, red.encode(colour.r) | green.encode(colour.g) | blue.encode(colour.b));
        }
    const Pixmap pixmap = XCreatePixmap(display, root, static_cast<unsigned>(width), static_cast<unsigned>(height),
                                        static_cast<unsigned>(depth));
    const GC gc = XCreateGC(display, pixmap, 0, nullptr);
    XPutImage(display, pixmap, gc, image, 0, 0, 0, 0, static_cast<unsigned>(width), static_cast<unsigned>(height));
    XSetWindowBackgroundPixmap(display, root, pixmap);
    XClearWindow(display, root);
    XFreeGC(display, gc);
    XFreePixmap(display, pixmap);
    XDestroyImage(image);
    XSync(display, False);
}

void paintDesktop(Rgb colour)
{
    paintDesktop([colour](int, int) { return colour; });
}

Screenshot takeScreenshot()
{
    Connection connection;
    Display* display = connection.display;
    const int screen = DefaultScreen(display);
    Screenshot shot;
    shot.width = DisplayWidth(display, screen);
    shot.height = DisplayHeight(display, screen);
    XImage* image = XGetImage(display, RootWindow(display, screen), 0, 0, static_cast<unsigned>(shot.width),
                              static_cast<unsigned>(shot.height), AllPlanes, ZPixmap);
    if (image == nullptr)
        throw std::runtime_error("XGetImage failed");
    const Channel red(image->red_mask), green(image->green_mask), blue(image->blue_mask);
    shot.pixels.reserve(static_cast<std::size_t>(shot.width) * shot.height);
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x)
        {
            const unsigned long pixel = XGetPixel(image, x, y);
            shot.pixels.push_back({red.decode(pixel), green.decode(pixel), blue.decode(pixel)});
        }
    XDestroyImage(image);
    return shot;
}

bool savePng(const Screenshot& shot, const std::string& path)
{
    const std::string ppm = path + ".ppm";
    FILE* file = std::fopen(ppm.c_str(), "wb");
    if (file == nullptr)
        return false;
    std::fprintf(file, "P6\n%d %d\n255\n", shot.width, shot.height);
    for (const Rgb& pixel : shot.pixels)
        std::fwrite(&pixel, 3, 1, file);
    std::fclose(file);
    const bool converted = std::system(("convert '" + ppm + "' '" + path + "'").c_str()) == 0;
    std::remove(ppm.c_str());
    return converted;
}

WindowInfo findWindow(const std::string& title)
{
    return findWindowTitled(title, false);
}

std::string titleOf(unsigned long window)
{
    Connection connection;
    XSetErrorHandler(ignoreErrors);
    return windowTitle(connection.display, window);
}

WindowInfo findWindowTitled(const std::string& title, bool prefix)
{
    Connection connection;
    Display* display = connection.display;
    XSetErrorHandler(ignoreErrors);
    WindowInfo info;
    const Window root = DefaultRootWindow(display);
    const Window window = findByTitle(display, root, title, prefix);
    if (window == 0)
        return info;
    info.id = window;
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display, window, &attributes))
    {
        Window child = 0;
        XTranslateCoordinates(display, window, root, 0, 0, &info.x, &info.y, &child);
        info.width = attributes.width;
        info.height = attributes.height;
        info.viewable = attributes.map_state == IsViewable;
    }
    return info;
}

std::vector<std::string> windowStates(unsigned long window)
{
    Connection connection;
    Display* display = connection.display;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<std::string> names;
    if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_STATE", False), 0, 64, False, XA_ATOM,
                           &type, &format, &count, &after, &data) == Success &&
        data != nullptr)
    {
        const auto* atoms = reinterpret_cast<const Atom*>(data);
        for (unsigned long i = 0; i < count; ++i)
        {
            char* name = XGetAtomName(display, atoms[i]);
            names.emplace_back(name);
            XFree(name);
        }
        XFree(data);
    }
    return names;
}

void sendCloseRequest(unsigned long window)
{
    Connection connection;
    Display* display = connection.display;
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
}

} // namespace testsupport

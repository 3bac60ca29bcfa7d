#pragma once

// A private virtual X server per test program, and the few X operations the
// tests need: paint the desktop, read the screen back, send events.
// Includes no Xlib header, so SFML headers may sit beside it.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport
{

struct Rgb
{
    std::uint8_t r, g, b;
    bool operator==(const Rgb& other) const { return r == other.r && g == other.g && b == other.b; }
};

std::string describe(const Rgb& colour);

// Xvfb with one screen of the given size and depth, reset-proof (-noreset).
// Sets DISPLAY in this process, so that the library under test and every
// child started afterwards use it, and makes the session a plain X11 one
// (no WAYLAND_DISPLAY, XDG_SESSION_TYPE=x11).
class VirtualDisplay
{
public:
    VirtualDisplay(int width, int height, int depth = 24, const std::vector<std::string>& extraArgs = {});
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    const std::string& name() const { return m_name; }
    // Starts openbox on this display; stopped with the display.
    void startWindowManager();
    void stopWindowManager();
    // Ends the X server now, as a crash or a logout would.
    void stopServer();

private:
    pid_t m_server = -1;
    pid_t m_windowManager = -1;
    std::string m_name;
};

// Sets the root window's background to the pattern (x, y) -> colour over the
// whole X screen and clears it, so the desktop shows the pattern.
void paintDesktop(const std::function<Rgb(int x, int y)>& pattern);
void paintDesktop(Rgb colour);

struct Screenshot
{
    int width = 0;
    int height = 0;
    std::vector<Rgb> pixels;
    Rgb at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

// The whole X screen as it shows now.
Screenshot takeScreenshot();
bool savePng(const Screenshot& shot, const std::string& path);

struct WindowInfo
{
    unsigned long id = 0;
    int x = 0, y = 0, width = 0, height = 0;
    bool viewable = false;
};

// The top-level window with this title (WM_NAME or _NET_WM_NAME), if any.
WindowInfo findWindow(const std::string& title);
// The same, for a title that starts with `title` when `prefix` is set.
WindowInfo findWindowTitled(const std::string& title, bool prefix);
// The window's title now.
std::string titleOf(unsigned long window);
// The window's _NET_WM_STATE atoms, by name.
std::vector<std::string> windowStates(unsigned long window);
// Sends WM_DELETE_WINDOW, as a window manager does for a close request.
void sendCloseRequest(unsigned long window);

} // namespace testsupport

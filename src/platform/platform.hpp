#pragma once

// The few things the overlay needs from the operating system, behind one
// header with no OS types. One implementation per platform, picked by CMake:
// platform_x11.cpp (Xlib, XRandR, MIT-SHM) and platform_win32.cpp (USER32, GDI).

#include <SFML/Window/WindowHandle.hpp>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform
{

struct ScreenSize
{
    int width;
    int height;
};

// The primary monitor's pixels: top row first, rows without padding, four
// bytes per pixel in the order blue, green, red, fourth byte.
struct ScreenPixels
{
    int width;
    int height;
    std::vector<std::uint8_t> bgrx;
    std::string problem; // why the grab failed (the pixels are then all 0); empty when it worked
};

// A file name as a sequence file writes it, as a path to open. The same
// show folder names the same files everywhere: on Windows the bytes are read
// as UTF-8 (as Notepad and every editor save today), and as the ANSI code
// page only when they are not valid UTF-8, and files are then opened through
// the wide-character API; elsewhere the bytes are the name.
std::filesystem::path pathFromSequenceText(const std::string& text);

// When a file was last written, in nanoseconds of the system's own clock,
// and its size; false when it does not exist. Finer than std::filesystem
// gives on Windows, where MinGW's last_write_time counts whole seconds.
bool fileVersion(const std::filesystem::path& path, std::int64_t& modifiedNanoseconds, std::uint64_t& size);

// Call first in main, before anything opens a file: makes sure standard
// input, output and error are open (else the display connection could land
// on descriptor 1 and receive our console lines), and that a console reader
// going away does not end the process.
void prepareProcess();

// Empty when a window can be opened; otherwise one line saying why not
// (no X display, for one), so the caller can end cleanly instead of letting
// the window library abort the process.
std::string displayProblem();

// From now on, losing the display (the X server ending while the show plays)
// ends the process at once with one line on standard error and status -1.
// Left to Xlib, it would exit() with the audio library's streaming thread
// still running, and OpenAL's clean-up can then abort the process.
void endOnDisplayLoss();

ScreenSize primaryScreenSize();

// Alive while the window library creates and maps the overlay: SFML 2.5 on
// X11 can place a screen-sized window wholly below the screen and then wait
// forever for it to become visible (see platform_x11.cpp). Does nothing
// where the window library needs no help.
//
// On X11 it also takes the snapshot the moment the overlay is mapped, while
// the window library goes on creating its OpenGL context: the overlay
// exists and has not drawn, as when the snapshot is taken after creation,
// and the grab no longer adds to the start-up.
class WindowCreationGuard
{
public:
    explicit WindowCreationGuard(const std::string& title);
    ~WindowCreationGuard();
    WindowCreationGuard(const WindowCreationGuard&) = delete;
    WindowCreationGuard& operator=(const WindowCreationGuard&) = delete;

    // Call once the window has been created: the snapshot taken when it was
    // mapped, or nothing when none could be taken then (a window manager
    // that frames the window, a Wayland session, a failed grab); the caller
    // then grabs as usual.
    std::optional<ScreenPixels> snapshotAtMap();

private:
    struct Watcher;
    std::unique_ptr<Watcher> m_watcher;
};

// Puts the window in the topmost band and activates it; position and size
// stay as they are.
void makeWindowTopmost(sf::WindowHandle window);

// Moves the window onto the primary monitor where the window library did not
// put it there (SFML 2.5 on X11 centres it on the whole X screen, and
// vertically by the screen's width). Call it after the snapshot: on X11 a
// window that has not drawn yet still shows the desktop beneath it, but
// moving it drags those stale pixels along.
void placeOverPrimaryMonitor(sf::WindowHandle window);

// Escape pressed on the overlay (and, on X11, a pager's or taskbar's close
// request), seen apart from the window library's event queue, which the
// frame loop cannot read while a frame is being drawn.
class KeyWatch
{
public:
    explicit KeyWatch(sf::WindowHandle window);
    ~KeyWatch();
    KeyWatch(const KeyWatch&) = delete;
    KeyWatch& operator=(const KeyWatch&) = delete;

    // Waits up to the timeout for Escape or a close request; whether one came.
    bool waitForQuit(int timeoutMilliseconds);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// Reads the screen size again and grabs that rectangle of the primary monitor.
// A failed grab leaves a zero-filled buffer of that size and says why.
ScreenPixels grabPrimaryScreen();

// The same, with the overlay just shown and not yet drawn kept out of the
// picture. On Windows the desktop compositor fades a new window in (and
// paints it white first on Windows 10 and 11), so the overlay is cloaked
// from composition while the screen is read; elsewhere, and where the
// compositor offers no cloak (Wine), this is grabPrimaryScreen().
ScreenPixels grabPrimaryScreenBehind(sf::WindowHandle overlay);

} // namespace platform

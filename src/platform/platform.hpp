#pragma once

// The few things the overlay needs from the operating system, behind one
// header with no OS types. One implementation per platform, picked by CMake:
// platform_x11.cpp (Xlib, XRandR, MIT-SHM) and platform_win32.cpp (USER32, GDI).

#include <SFML/Window/WindowHandle.hpp>

#include <cstdint>
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
};

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

// Puts the window in the topmost band and activates it; position and size
// stay as they are.
void makeWindowTopmost(sf::WindowHandle window);

// Moves the window onto the primary monitor where the window library did not
// put it there (SFML 2.5 on X11 centres it on the whole X screen, and
// vertically by the screen's width). Call it after the snapshot: on X11 a
// window that has not drawn yet still shows the desktop beneath it, but
// moving it drags those stale pixels along.
void placeOverPrimaryMonitor(sf::WindowHandle window);

// Reads the screen size again and grabs that rectangle of the primary monitor.
// A failed grab leaves the zero-filled buffer.
ScreenPixels grabPrimaryScreen();

} // namespace platform

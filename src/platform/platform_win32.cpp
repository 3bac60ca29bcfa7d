// Win32 platform layer: USER32 for the screen size and the topmost request,
// GDI for the snapshot.

#include "platform/platform.hpp"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <cstring>

namespace platform
{

std::string displayProblem()
{
    // Every interactive Windows session has a desktop to draw on.
    return {};
}

void endOnDisplayLoss()
{
    // A Windows session's desktop does not go away under a running program.
}

ScreenSize primaryScreenSize()
{
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    return {width, height};
}

void makeWindowTopmost(sf::WindowHandle window)
{
    // Without SWP_NOACTIVATE this also activates the window, so Escape reaches it.
    SetWindowPos(window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
}

void placeOverPrimaryMonitor(sf::WindowHandle)
{
    // SFML on Windows centres a screen-sized window on the primary monitor,
    // which puts it at the origin already.
}

ScreenPixels grabPrimaryScreen()
{
    HDC hScreenDC = GetDC(nullptr);
    HDC hMemoryDC = CreateCompatibleDC(hScreenDC);
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    HBITMAP hBitmap = CreateCompatibleBitmap(hScreenDC, width, height);
    SelectObject(hMemoryDC, hBitmap);
    // CAPTUREBLT: include layered windows in the copy.
    BitBlt(hMemoryDC, 0, 0, width, height, hScreenDC, 0, 0, SRCCOPY | CAPTUREBLT);

    BITMAPINFO bmi;
    std::memset(&bmi, 0, sizeof(bmi));
    bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    bmi.bmiHeader.biWidth = width;
    bmi.bmiHeader.biHeight = -height; // negative: top row first
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;

    // GetSystemMetrics answers 0 when it fails; never size the buffer from a negative.
    const std::size_t pixelCount = width > 0 && height > 0 ? static_cast<std::size_t>(width) * height : 0;
    ScreenPixels pixels{width, height, std::vector<std::uint8_t>(pixelCount * 4)};
    GetDIBits(hMemoryDC, hBitmap, 0, static_cast<UINT>(height), pixels.bgrx.data(), &bmi, DIB_RGB_COLORS);

    DeleteDC(hMemoryDC);
    DeleteObject(hBitmap);
    ReleaseDC(nullptr, hScreenDC);
    return pixels;
}

} // namespace platform

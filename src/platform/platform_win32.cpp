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

#include <algorithm>
#include <cstring>
#include <string>

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

namespace
{

std::string failed(const char* call)
{
    return std::string(call) + " non riuscita (errore " + std::to_string(GetLastError()) + ")";
}

} // namespace

ScreenPixels grabPrimaryScreen()
{
    const int width = GetSystemMetrics(SM_CXSCREEN);
    const int height = GetSystemMetrics(SM_CYSCREEN);
    // GetSystemMetrics answers 0 when it fails; never size the buffer from a negative.
    const std::size_t pixelCount = width > 0 && height > 0 ? static_cast<std::size_t>(width) * height : 0;
    ScreenPixels pixels{width, height, std::vector<std::uint8_t>(pixelCount * 4), {}};
    if (pixelCount == 0)
    {
        pixels.problem = "dimensioni dello schermo non disponibili";
        return pixels;
    }

    HDC hScreenDC = GetDC(nullptr);
    if (hScreenDC == nullptr)
    {
        pixels.problem = failed("GetDC");
        return pixels;
    }
    HDC hMemoryDC = CreateCompatibleDC(hScreenDC);
    HBITMAP hBitmap = hMemoryDC != nullptr ? CreateCompatibleBitmap(hScreenDC, width, height) : nullptr;
    HGDIOBJ hOldBitmap = hBitmap != nullptr ? SelectObject(hMemoryDC, hBitmap) : nullptr;

    if (hMemoryDC == nullptr)
        pixels.problem = failed("CreateCompatibleDC");
    else if (hBitmap == nullptr)
        pixels.problem = failed("CreateCompatibleBitmap");
    else if (hOldBitmap == nullptr || hOldBitmap == HGDI_ERROR)
        pixels.problem = failed("SelectObject");
    // CAPTUREBLT: include layered windows in the copy.
    else if (!BitBlt(hMemoryDC, 0, 0, width, height, hScreenDC, 0, 0, SRCCOPY | CAPTUREBLT))
        pixels.problem = failed("BitBlt");
    else
    {
        BITMAPINFO bmi;
        std::memset(&bmi, 0, sizeof(bmi));
        bmi.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        bmi.bmiHeader.biWidth = width;
        bmi.bmiHeader.biHeight = -height; // negative: top row first
        bmi.bmiHeader.biPlanes = 1;
        bmi.bmiHeader.biBitCount = 32;
        bmi.bmiHeader.biCompression = BI_RGB;
        // The bitmap must not be selected into a device context while GetDIBits reads it.
        SelectObject(hMemoryDC, hOldBitmap);
        hOldBitmap = nullptr;
        if (GetDIBits(hMemoryDC, hBitmap, 0, static_cast<UINT>(height), pixels.bgrx.data(), &bmi, DIB_RGB_COLORS) !=
            height)
        {
            pixels.problem = failed("GetDIBits");
            std::fill(pixels.bgrx.begin(), pixels.bgrx.end(), std::uint8_t(0));
        }
    }

    // A GDI object is deleted only once no device context holds it: the
    // bitmap goes back out of the memory context first.
    if (hOldBitmap != nullptr && hOldBitmap != HGDI_ERROR)
        SelectObject(hMemoryDC, hOldBitmap);
    if (hMemoryDC != nullptr)
        DeleteDC(hMemoryDC);
    if (hBitmap != nullptr)
        DeleteObject(hBitmap);
    ReleaseDC(nullptr, hScreenDC);
    return pixels;
}

void prepareProcess()
{
    // Before the first size is read: a process that is not DPI-aware is told
    // scaled sizes (two thirds of the screen at 150 %) while GDI copies
    // physical pixels, and SFML only declares awareness inside its window
    // creation, after main has sized the window. Per-monitor v2 where Windows
    // has it (10, 1703 on), else the older calls. Looked up at run time so
    // that the program still starts on older Windows.
    using SetContext = BOOL(WINAPI*)(HANDLE);
    using SetAwareness = HRESULT(WINAPI*)(int);
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    const auto setContext =
        user32 != nullptr ? reinterpret_cast<SetContext>(
                                reinterpret_cast<void*>(GetProcAddress(user32, "SetProcessDpiAwarenessContext")))
                          : nullptr;
    const HANDLE perMonitorV2 = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(-4));
    if (setContext != nullptr && setContext(perMonitorV2))
        return;
    if (HMODULE shcore = LoadLibraryW(L"shcore.dll"))
    {
        const auto setAwareness = reinterpret_cast<SetAwareness>(
            reinterpret_cast<void*>(GetProcAddress(shcore, "SetProcessDpiAwareness")));
        const int perMonitor = 2;
        const bool done = setAwareness != nullptr && SUCCEEDED(setAwareness(perMonitor));
        FreeLibrary(shcore);
        if (done)
            return;
    }
    SetProcessDPIAware();
    // The console streams of a Windows program fail quietly when closed: nothing else to do.
}

struct WindowCreationGuard::Watcher
{
};

WindowCreationGuard::WindowCreationGuard(const std::string&)
{
    // SFML on Windows places and shows the window without waiting on it.
}

WindowCreationGuard::~WindowCreationGuard() = default;

std::optional<ScreenPixels> WindowCreationGuard::snapshotAtMap()
{
    return std::nullopt;
}

std::filesystem::path pathFromSequenceText(const std::string& text)
{
    if (text.empty())
        return {};
    const int size = static_cast<int>(text.size());
    // MB_ERR_INVALID_CHARS: bytes that are not UTF-8 fail instead of becoming U+FFFD.
    int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text.data(), size, nullptr, 0);
    UINT codePage = CP_UTF8;
    DWORD flags = MB_ERR_INVALID_CHARS;
    if (length == 0)
    {
        codePage = CP_ACP;
        flags = 0;
        length = MultiByteToWideChar(codePage, flags, text.data(), size, nullptr, 0);
    }
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(codePage, flags, text.data(), size, &wide[0], length);
    return std::filesystem::path(wide);
}

ScreenPixels grabPrimaryScreenBehind(sf::WindowHandle overlay)
{
    // dwmapi is looked up rather than linked: it may lack the attributes
    // (Wine answers that it does not implement them), and then the grab
    // goes on as it is.
    using SetWindowAttribute = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
    using Flush = HRESULT(WINAPI*)();
    constexpr DWORD transitionsForceDisabled = 3; // DWMWA_TRANSITIONS_FORCEDISABLED
    constexpr DWORD cloak = 13;                   // DWMWA_CLOAK, Windows 8 and later
    HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
    // Through void (*)(): GetProcAddress's type says nothing of the function's own.
    const auto lookUp = [dwm](const char* name) {
        return dwm != nullptr ? reinterpret_cast<void (*)()>(GetProcAddress(dwm, name)) : nullptr;
    };
    const auto setAttribute = reinterpret_cast<SetWindowAttribute>(lookUp("DwmSetWindowAttribute"));
    const auto flush = reinterpret_cast<Flush>(lookUp("DwmFlush"));
    const BOOL on = TRUE;
    const BOOL off = FALSE;
    bool cloaked = false;
    if (setAttribute != nullptr && overlay != nullptr)
    {
        setAttribute(overlay, transitionsForceDisabled, &on, sizeof on);
        cloaked = SUCCEEDED(setAttribute(overlay, cloak, &on, sizeof on));
    }
    // The compositor shows the cloak from its next frame on.
    if (cloaked && flush != nullptr)
        flush();
    ScreenPixels pixels = grabPrimaryScreen();
    if (cloaked)
        setAttribute(overlay, cloak, &off, sizeof off);
    if (dwm != nullptr)
        FreeLibrary(dwm);
    return pixels;
}

bool fileVersion(const std::filesystem::path& path, std::int64_t& modifiedNanoseconds, std::uint64_t& size)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data))
        return false;
    // FILETIME counts 100 ns.
    modifiedNanoseconds = ((static_cast<std::int64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                           data.ftLastWriteTime.dwLowDateTime) *
                          100;
    size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

// The window's messages go to the thread that created it, which is the one
// inside the long frame; the keyboard's state can be read from any thread.
// A close request (WM_CLOSE) is a message, and is not seen here.
struct KeyWatch::State
{
    HWND window = nullptr;
};

KeyWatch::KeyWatch(sf::WindowHandle window) : m_state(new State)
{
    m_state->window = window;
}

KeyWatch::~KeyWatch() = default;

bool KeyWatch::waitForQuit(int timeoutMilliseconds)
{
    Sleep(static_cast<DWORD>(timeoutMilliseconds));
    return GetForegroundWindow() == m_state->window && (GetAsyncKeyState(VK_ESCAPE) & 0x8000) != 0;
}

} // namespace platform

// Runs the Win32 platform layer for real (under Wine in CI) and reports what
// it saw, for win32_platform_test on the Linux side to check:
//   metrics W H      GetSystemMetrics
//   screen W H       primaryScreenSize()
//   grab W H         grabPrimaryScreen(), whose bytes go to the file argv[1]
//   topmost 0|1      WS_EX_TOPMOST after makeWindowTopmost(), and 0|1 before
//   dpiaware N N     DPI awareness after prepareProcess(), and before (0 unaware,
//                    1 system, 2 per monitor; -1 where Windows cannot tell)
//   problem TEXT     what grabPrimaryScreen() said went wrong (empty when nothing)

#include "platform/platform.hpp"

#include <windows.h>

#include <cstdio>

// The thread's DPI awareness, through the Windows 10 calls looked up at run time.
int dpiAwareness()
{
    using GetContext = HANDLE(WINAPI*)();
    using AwarenessOf = int(WINAPI*)(HANDLE);
    HMODULE user32 = GetModuleHandleA("user32.dll");
    const auto getContext =
        reinterpret_cast<GetContext>(reinterpret_cast<void*>(GetProcAddress(user32, "GetThreadDpiAwarenessContext")));
    const auto awarenessOf = reinterpret_cast<AwarenessOf>(
        reinterpret_cast<void*>(GetProcAddress(user32, "GetAwarenessFromDpiAwarenessContext")));
    return getContext != nullptr && awarenessOf != nullptr ? awarenessOf(getContext()) : -1;
}

int main(int argc, char** argv)
{
    if (argc != 2)
    {
        std::fprintf(stderr, "usage: platform_probe OUTPUT.bgrx\n");
        return 2;
    }

    const int awareBefore = dpiAwareness();
    platform::prepareProcess();
    std::printf("dpiaware %d %d\n", dpiAwareness(), awareBefore);

    std::printf("metrics %d %d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    const platform::ScreenSize size = platform::primaryScreenSize();
    std::printf("screen %d %d\n", size.width, size.height);

    const platform::ScreenPixels pixels = platform::grabPrimaryScreen();
    std::printf("grab %d %d\n", pixels.width, pixels.height);
    std::printf("problem %s\n", pixels.problem.c_str());
    if (FILE* file = std::fopen(argv[1], "wb"))
    {
        std::fwrite(pixels.bgrx.data(), 1, pixels.bgrx.size(), file);
        std::fclose(file);
    }

    // A small plain window, away from the area the grab reads.
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = DefWindowProcA;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "QuorvelProbe";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(0, "QuorvelProbe", "probe", WS_POPUP | WS_VISIBLE, 0, 0, 8, 8, nullptr, nullptr,
                                  windowClass.hInstance, nullptr);
    const bool topmostBefore = (GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    platform::makeWindowTopmost(window);
    const bool topmostAfter = (GetWindowLongPtrA(window, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    std::printf("topmost %d %d\n", topmostAfter ? 1 : 0, topmostBefore ? 1 : 0);
    DestroyWindow(window);
    std::fflush(stdout);
    return 0;
}

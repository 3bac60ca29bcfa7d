// The desktop grab against memcpy of the same number of bytes, on whatever X
// server DISPLAY names (bench/run.sh starts them: two sizes, with and
// without MIT-SHM). Prints medians of repeated runs and their ratio.

#include "platform/platform.hpp"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace
{

template <typename Work>
double medianMilliseconds(int runs, Work work)
{
    std::vector<double> times;
    for (int i = 0; i < runs; ++i)
    {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main(int argc, char** argv)
{
    const char* label = argc > 1 ? argv[1] : "";
    const int runs = 21;
    const platform::ScreenSize size = platform::primaryScreenSize();
    const std::size_t bytes = static_cast<std::size_t>(size.width) * size.height * 4;

    platform::grabPrimaryScreen(); // warm up the server's and our first-use paths
    const double grab = medianMilliseconds(runs, [] {
        const platform::ScreenPixels pixels = platform::grabPrimaryScreen();
        if (pixels.bgrx.empty())
            std::abort();
    });

    // Into a fresh buffer each time, as the grab has to: page faults included.
    std::vector<std::uint8_t> source(bytes, 7);
    const double copy = medianMilliseconds(runs, [&] {
        std::vector<std::uint8_t> target(bytes);
        std::memcpy(target.data(), source.data(), bytes);
        if (target[bytes / 2] != 7)
            std::abort();
    });

    std::printf("%-28s %5dx%-5d grab %8.2f ms   memcpy %6.2f ms   ratio %6.2f\n", label, size.width, size.height,
                grab, copy, grab / copy);
    return 0;
}

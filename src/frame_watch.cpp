#include "frame_watch.hpp"

#include "messages.hpp"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef _WIN32
#include <io.h>
#define QUORVEL_WRITE _write
#else
#include <unistd.h>
#define QUORVEL_WRITE write
#endif

namespace
{

// A frame this long is late: the loop is not reading its events.
constexpr std::int64_t lateNanoseconds = 200'000'000;
constexpr int watchIntervalMilliseconds = 50;

// Ends the process at once: the loop's thread is inside the driver and no
// destructor can run safely beside it.
[[noreturn]] void endNow(int status, const std::string& line)
{
    if (!line.empty())
    {
        const std::string text = line + "\n";
        const auto ignored = QUORVEL_WRITE(2, text.data(), static_cast<unsigned>(text.size()));
        (void)ignored;
    }
    std::_Exit(status);
}

} // namespace

std::int64_t FrameWatch::nowNanoseconds()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

FrameWatch::FrameWatch(sf::WindowHandle window, const std::vector<ShaderItem>& steps, int limitSeconds)
    : m_keys(window), m_steps(steps), m_limitSeconds(limitSeconds), m_frameStartNanoseconds(nowNanoseconds())
{
    m_thread = std::thread([this] { watch(); });
}

FrameWatch::~FrameWatch()
{
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void FrameWatch::watch()
{
    bool quitAsked = false;
    while (!m_stop)
    {
        // Escape seen here is also in the loop's own queue: it acts on it
        // itself unless a frame is late when it comes or after it.
        quitAsked = m_keys.waitForQuit(watchIntervalMilliseconds) || quitAsked;
        if (m_stop)
            return;
        const std::int64_t running = nowNanoseconds() - m_frameStartNanoseconds.load(std::memory_order_acquire);
        if (quitAsked && running > lateNanoseconds)
            endNow(0, {});
        if (running > static_cast<std::int64_t>(m_limitSeconds) * 1'000'000'000)
        {
            const std::size_t index = m_drawnIndex.load(std::memory_order_relaxed);
            const std::string shader = index < m_steps.size() ? m_steps[index].shaderPath : std::string("?");
            endNow(255, messages::frameTooLong(shader, m_limitSeconds));
        }
    }
}

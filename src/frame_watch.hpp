#pragma once

#include "platform/platform.hpp"
#include "sequence/shader_sequence.hpp"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// Watches the frame loop from a thread of its own. A shader that loops for
// ever, or merely runs long, keeps the loop inside one frame, where it reads
// no events: the overlay covers the screen and holds the keyboard, and the
// user could not end it. While a frame is late, Escape (or a close request
// the platform can see from outside) ends the process at once with status 0;
// a frame that takes longer than the limit ends it with one line naming the
// step's shader and status -1. A normal frame costs the loop one clock read
// and two atomic stores.
class FrameWatch
{
public:
    FrameWatch(sf::WindowHandle window, const std::vector<ShaderItem>& steps, int limitSeconds = 10);
    ~FrameWatch();
    FrameWatch(const FrameWatch&) = delete;
    FrameWatch& operator=(const FrameWatch&) = delete;

    // Called by the loop before it draws step `drawnIndex`.
    void frameStarts(std::size_t drawnIndex)
    {
        m_drawnIndex.store(drawnIndex, std::memory_order_relaxed);
        m_frameStartNanoseconds.store(nowNanoseconds(), std::memory_order_release);
    }

    static std::int64_t nowNanoseconds();

private:
    void watch();

    platform::KeyWatch m_keys;
    const std::vector<ShaderItem>& m_steps;
    const int m_limitSeconds;
    std::atomic<std::int64_t> m_frameStartNanoseconds;
    std::atomic<std::size_t> m_drawnIndex{0};
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

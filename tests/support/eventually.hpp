#pragma once

#include <chrono>
#include <thread>

namespace testsupport
{

// Asks `condition` until it holds or `timeout` has passed; whether it held.
template <typename Condition>
bool eventually(Condition condition, std::chrono::milliseconds timeout,
                std::chrono::milliseconds interval = std::chrono::milliseconds(10))
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;)
    {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(interval);
    }
}

} // namespace testsupport

#pragma once

#include <cstddef>

// Moves to the next step once the active one has had its duration of music:
// elapsed >= duration, measured from the step's start. The new step starts at
// this frame's music time, the index wraps after the last step, and at most
// one step is taken per call. Elapsed time is not clamped, so a position that
// falls back below the start time simply holds the active step. Returns
// whether it switched.
inline bool applySwitchRule(float musicTime, float durationSeconds, std::size_t itemCount,
                            std::size_t& currentShaderIndex, float& shaderStartTime)
{
    if (musicTime - shaderStartTime < durationSeconds)
        return false;
    shaderStartTime = musicTime;
    currentShaderIndex = (currentShaderIndex + 1) % itemCount;
    return true;
}

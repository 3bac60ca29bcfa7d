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

// What one frame draws, decided from the music time alone.
struct FrameStep
{
    std::size_t drawnIndex; // the step drawn this frame: on a switching frame, the outgoing one
    float shaderTime;       // its `time`, measured after the switch test: 0 on a switching frame
    bool switched;          // whether the frame announces the new index
};

// One frame of the loop: the switch rule, then the step to draw and its time.
// The step is the one that was active when the frame began, so the outgoing
// shader is drawn once more, with time 0, on the frame that switches away.
inline FrameStep stepFrame(float musicTime, float currentDurationSeconds, std::size_t itemCount,
                           std::size_t& currentShaderIndex, float& shaderStartTime)
{
    const std::size_t drawnIndex = currentShaderIndex;
    const bool switched =
        applySwitchRule(musicTime, currentDurationSeconds, itemCount, currentShaderIndex, shaderStartTime);
    return {drawnIndex, musicTime - shaderStartTime, switched};
}

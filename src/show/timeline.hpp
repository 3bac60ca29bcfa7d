#pragma once

// When each step of a show is on screen against its music: the ideal
// timeline (each step exactly its duration) and the one the player's switch
// rule gives when it reads the music once a frame.

#include <cstddef>
#include <optional>
#include <vector>

struct StepTimeline
{
    std::optional<double> firstStartSeconds; // nothing: the track ends before the step comes
    long long plays = 0;                     // how many times it becomes the active step
};

struct SwitchAt
{
    long long frame;      // the frame that switched
    double musicSeconds;  // the music time of that frame
    std::size_t newIndex; // the step that takes over
};

struct Timeline
{
    std::vector<StepTimeline> steps;
    long long loops = 0;              // times the sequence went back to its first step
    std::optional<std::size_t> endStep; // on screen when the track ends; nothing when it switches every frame
    bool switchesEveryFrame = false;    // every duration is 0 or less
    long long switchCount = 0;
    std::vector<SwitchAt> firstSwitches; // frame timelines keep the first ones
    // Frame timelines: the last switch against the sum of the durations
    // before it (0 for the ideal timeline).
    double lastSwitchSeconds = 0;
    double lastSwitchIdealSeconds = 0;
};

// Each step lasts exactly its duration (0 for 0 or less); a switch that
// would fall on or after the end of the track does not happen.
Timeline idealTimeline(const std::vector<float>& durations, double trackSeconds);

// The player's switch rule applied once a frame at music time n / fps
// (as a float, as the player reads it) for every frame before the end of
// the track. Keeps the first `keepSwitches` switches.
Timeline frameTimeline(const std::vector<float>& durations, double trackSeconds, double fps,
                       std::size_t keepSwitches = 0);

// The music time of frame n at fps frames a second, computed from n, never
// accumulated, as the float the switch rule and `time` use.
float frameMusicTime(long long frame, double fps);

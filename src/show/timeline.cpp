#include "show/timeline.hpp"

#include "switch_rule.hpp"

#include <algorithm>
#include <cmath>

namespace
{

double shownSeconds(float duration)
{
    return std::max(0.0, static_cast<double>(duration));
}

void becomesActive(Timeline& timeline, std::size_t index, double musicSeconds)
{
    StepTimeline& step = timeline.steps[index];
    if (!step.firstStartSeconds)
        step.firstStartSeconds = musicSeconds;
    ++step.plays;
}

} // namespace

float frameMusicTime(long long frame, double fps)
{
    return static_cast<float>(static_cast<double>(frame) / fps);
}

Timeline idealTimeline(const std::vector<float>& durations, double trackSeconds)
{
    Timeline timeline;
    timeline.steps.resize(durations.size());
    if (durations.empty())
        return timeline;
    double cycleSeconds = 0;
    for (float duration : durations)
        cycleSeconds += shownSeconds(duration);
    if (cycleSeconds <= 0)
    {
        timeline.switchesEveryFrame = true;
        for (StepTimeline& step : timeline.steps)
            step.firstStartSeconds = 0.0;
        return timeline;
    }

    // Whole cycles are counted rather than walked, so that tiny durations
    // against a long track cost no more than one cycle.
    const long long wholeCycles = std::max(0LL, static_cast<long long>(std::floor(trackSeconds / cycleSeconds)) - 1);
    double start = 0;
    std::size_t index = 0;
    becomesActive(timeline, 0, 0.0);
    bool skipped = false;
    for (;;)
    {
        const double switchAt = start + shownSeconds(durations[index]);
        if (switchAt >= trackSeconds)
            break;
        start = switchAt;
        index = (index + 1) % durations.size();
        ++timeline.switchCount;
        if (index == 0)
        {
            ++timeline.loops;
            if (!skipped && wholeCycles > 0)
            {
                skipped = true;
                for (StepTimeline& step : timeline.steps)
                    step.plays += wholeCycles;
                timeline.loops += wholeCycles;
                timeline.switchCount += wholeCycles * static_cast<long long>(durations.size());
                start += cycleSeconds * static_cast<double>(wholeCycles);
            }
        }
        becomesActive(timeline, index, start);
    }
    timeline.endStep = index;
    timeline.lastSwitchSeconds = timeline.lastSwitchIdealSeconds = start;
    return timeline;
}

Timeline frameTimeline(const std::vector<float>& durations, double trackSeconds, double fps, std::size_t keepSwitches)
{
    Timeline timeline;
    timeline.steps.resize(durations.size());
    if (durations.empty() || !(fps > 0))
        return timeline;
    timeline.switchesEveryFrame = std::all_of(durations.begin(), durations.end(), [](float d) { return d <= 0; });

    std::size_t index = 0;
    float startTime = 0.0f;
    double idealSum = 0;
    becomesActive(timeline, 0, 0.0);
    for (long long frame = 0; static_cast<double>(frame) / fps < trackSeconds; ++frame)
    {
        const float musicTime = frameMusicTime(frame, fps);
        const float duration = durations[index];
        const FrameStep step = stepFrame(musicTime, duration, durations.size(), index, startTime);
        if (!step.switched)
            continue;
        idealSum += shownSeconds(duration);
        ++timeline.switchCount;
        if (index == 0)
            ++timeline.loops;
        if (timeline.firstSwitches.size() < keepSwitches)
            timeline.firstSwitches.push_back({frame, musicTime, index});
        timeline.lastSwitchSeconds = musicTime;
        timeline.lastSwitchIdealSeconds = idealSum;
        becomesActive(timeline, index, musicTime);
    }
    if (!timeline.switchesEveryFrame)
        timeline.endStep = index;
    return timeline;
}

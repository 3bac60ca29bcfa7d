// The music as a clock: plays MUSIC for its whole length while drawing frames
// like the player, reads the position as the player does (a backward read
// is read again), and reports the step between reads, the raw backward reads
// and those that stood after the second read, and how late the switch rule
// fires for a show of STEP-second steps (music time at the switch minus the
// due time).
//   clock_bench MUSIC STEP_SECONDS

#include "music_clock.hpp"
#include "switch_rule.hpp"

#include <SFML/Audio/Music.hpp>
#include <SFML/Graphics.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{

double percentile(std::vector<float> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * (values.size() - 1))];
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
    {
        std::fprintf(stderr, "usage: clock_bench MUSIC STEP_SECONDS\n");
        return 2;
    }
    const float stepSeconds = static_cast<float>(std::atof(argv[2]));
    sf::RenderWindow window(sf::VideoMode(640, 360, 32), "clock", sf::Style::None);
    sf::Texture texture;
    texture.create(640, 360);
    sf::Sprite sprite(texture);
    sf::Music music;
    if (!music.openFromFile(argv[1]))
        return 1;
    const float length = music.getDuration().asSeconds();
    music.play();

    std::vector<float> steps, backJumps, overshoots;
    std::size_t frames = 0, index = 0, rawBackwardReads = 0;
    float startTime = 0, previous = 0, runningSum = 0, behindRunningSum = 0;
    sf::Clock wall;
    while (wall.getElapsedTime().asSeconds() < length + 1.0f)
    {
        const auto read = [&] {
            const float seconds = music.getPlayingOffset().asSeconds();
            rawBackwardReads += seconds < previous && seconds > 0 ? 1 : 0;
            return seconds;
        };
        const float musicTime =
            steadyPlayingPosition(read, [&] { return music.getStatus() == sf::Music::Playing; }, previous);
        ++frames;
        if (musicTime < previous)
        {
            if (musicTime > 0) // after the end the position reads 0: not a jump
                backJumps.push_back(previous - musicTime);
        }
        else if (musicTime > previous)
            steps.push_back(musicTime - previous);
        previous = musicTime;
        const float dueTime = startTime + stepSeconds;
        if (stepFrame(musicTime, stepSeconds, 2, index, startTime).switched)
        {
            overshoots.push_back(musicTime - dueTime);
            runningSum += stepSeconds;
            behindRunningSum = musicTime - runningSum;
        }
        window.clear();
        window.draw(sprite);
        window.display();
    }

    std::printf("frames %zu over %.1f s of music (%.0f a second)\n", frames, length,
                frames / wall.getElapsedTime().asSeconds());
    std::printf("position advances: %zu; step median %.2f ms, p99 %.2f ms, max %.2f ms\n", steps.size(),
                percentile(steps, 0.5) * 1000, percentile(steps, 0.99) * 1000, percentile(steps, 1.0) * 1000);
    std::printf("frames reading the same position as the one before: %zu\n", frames - steps.size() - backJumps.size());
    std::printf("raw backward reads: %zu; backward positions used after reading again: %zu", rawBackwardReads,
                backJumps.size());
    if (!backJumps.empty())
        std::printf("; size median %.1f ms, max %.1f ms", percentile(backJumps, 0.5) * 1000,
                    percentile(backJumps, 1.0) * 1000);
    std::printf("\nswitches %zu; overshoot of the switch over its due time: median %.2f ms, max %.2f ms; "
                "last switch behind the running sum by %.1f ms\n",
                overshoots.size(), percentile(overshoots, 0.5) * 1000, percentile(overshoots, 1.0) * 1000,
                behindRunningSum * 1000.0);
    return 0;
}

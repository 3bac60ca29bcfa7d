// The music as a clock: plays MUSIC for its whole length while drawing frames
// like the player, and computes `time` as the player does (the steadied
// reading, then the position filled in between readings). For the raw
// reading and for the player's position it reports the share of frames that
// repeat the previous frame's time while the music plays, the spread of
// (wall clock - time), and how late the switch rule fires for a show of
// STEP-second steps (music time at the switch minus the due time). It also
// reports the raw backward reads and whether the position went back after
// the end of the track.
//   clock_bench MUSIC STEP_SECONDS

#include "audio_device.hpp"
#include "music_clock.hpp"
#include "switch_rule.hpp"

#include <SFML/Audio/Music.hpp>
#include <SFML/Graphics.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

// What one way of reading the clock gave over the run.
struct ClockFigures
{
    std::size_t frames = 0;
    std::size_t repeats = 0;
    std::vector<double> lag; // wall clock since the music moved minus time
    std::vector<double> overshoots;
    float previous = 0;
    std::size_t index = 0;
    float startTime = 0;
    float stepSeconds = 0;

    void frame(float time, double wallSeconds)
    {
        ++frames;
        repeats += time == previous ? 1 : 0;
        lag.push_back(wallSeconds - time);
        const float due = startTime + stepSeconds;
        if (stepFrame(time, stepSeconds, 2, index, startTime).switched)
            overshoots.push_back(time - due);
        previous = time;
    }

    void print(const char* name) const
    {
        const double p1 = percentile(lag, 0.01), p99 = percentile(lag, 0.99);
        std::printf("%-8s frames repeating the previous time: %5.1f %%; wall - time p1..p99 spread %.1f ms; "
                    "switch overshoot median %.2f ms, max %.2f ms\n",
                    name, 100.0 * static_cast<double>(repeats) / static_cast<double>(std::max<std::size_t>(frames, 1)),
                    (p99 - p1) * 1000, percentile(overshoots, 0.5) * 1000, percentile(overshoots, 1.0) * 1000);
    }
};

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
    const double period = audioMixingPeriodSeconds();
    music.play();

    ClockFigures raw, player;
    raw.stepSeconds = player.stepSeconds = stepSeconds;
    std::size_t rawBackwardReads = 0, framesAfterEnd = 0;
    float reading = 0, lastPlayingTime = 0, lowestAfterEnd = 1e9f;
    SmoothedPosition clock;
    double movedAt = -1;
    const double start = steadySeconds();
    while (steadySeconds() - start < length + 1.0)
    {
        const auto read = [&] {
            const float seconds = music.getPlayingOffset().asSeconds();
            rawBackwardReads += seconds < reading && seconds > 0 ? 1 : 0;
            return seconds;
        };
        const auto playing = [&] { return music.getStatus() == sf::Music::Playing; };
        reading = steadyPlayingPosition(read, playing, reading);
        const double now = steadySeconds();
        const bool plays = playing();
        const float time = smoothPlayingPosition(clock, reading, plays, now, period);
        if (movedAt < 0 && reading > 0)
            movedAt = now - reading; // the wall time at which the music was at 0
        if (plays && movedAt >= 0)
        {
            raw.frame(reading, now - movedAt);
            player.frame(time, now - movedAt);
            lastPlayingTime = time;
        }
        else if (!plays)
        {
            ++framesAfterEnd;
            lowestAfterEnd = std::min(lowestAfterEnd, time);
        }
        window.clear();
        window.draw(sprite);
        window.display();
    }

    std::printf("frames %zu while the music played, over %.1f s of music (%.0f a second); mixing period %.2f ms\n",
                player.frames, length, static_cast<double>(player.frames) / length, period * 1000);
    raw.print("reading");
    player.print("player");
    std::printf("raw backward reads: %zu; after the end (%zu frames) time went back by %.1f ms\n", rawBackwardReads,
                framesAfterEnd, framesAfterEnd > 0 ? std::max(0.0f, lastPlayingTime - lowestAfterEnd) * 1000.0 : 0.0);
    return 0;
}

#pragma once

#include <algorithm>
#include <chrono>

// SFML 2.5.1 reads the playing position without a lock while its streaming
// thread swaps buffers: now and then a read comes back about a second early
// (one buffer), and that frame would draw with `time` a second behind. While
// the track plays its position only moves forward (the program never seeks
// or loops), so a read below the previous one is read again, and while the
// music still plays after that, the previous position stands for this frame.
// When the track has ended the position reads 0; the last position the music
// reached stands instead, so the step left on screen keeps its last picture
// rather than being drawn at a time that never played.
template <typename ReadSeconds, typename IsPlaying>
float steadyPlayingPosition(ReadSeconds readSeconds, IsPlaying isPlaying, float previousSeconds)
{
    const float seconds = readSeconds();
    if (seconds >= previousSeconds)
        return seconds;
    if (!isPlaying())
        return previousSeconds;
    const float again = readSeconds();
    if (again >= previousSeconds)
        return again;
    return previousSeconds;
}

// The music's position as SFML reads it moves once per mixing period of the
// sound device (1024 samples, 23 ms, at 44.1 kHz), so most frames would see
// the time of the frame before. Between two changes of the reading the
// position goes on with a steady clock from the moment the reading changed,
// never more than one mixing period past it: it is still the music's
// position, filled in, and it never leads the music by more than the
// device's own granularity. It does not move before the music has been seen
// to move, nor after it stops, and never goes back while the music plays.
struct SmoothedPosition
{
    float reading = 0.0f;           // the music's position as last read
    double readingSince = -1.0;     // steady seconds at which that reading came; negative until it first moves
    float position = 0.0f;          // the position last given
};

inline float smoothPlayingPosition(SmoothedPosition& clock, float reading, bool playing, double nowSeconds,
                                   double mixingPeriodSeconds)
{
    if (reading != clock.reading)
    {
        clock.reading = reading;
        clock.readingSince = nowSeconds;
    }
    float position = reading;
    if (playing && clock.readingSince >= 0.0)
        position = reading + static_cast<float>(std::min(std::max(nowSeconds - clock.readingSince, 0.0),
                                                         mixingPeriodSeconds));
    clock.position = std::max(position, clock.position);
    return clock.position;
}

inline double steadySeconds()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The music's position as a show uses it, read once a frame: the steadied
// reading, filled in between the device's mixes.
struct MusicPosition
{
    float reading = 0.0f;
    SmoothedPosition smoothed;

    template <typename ReadSeconds, typename IsPlaying>
    float update(ReadSeconds readSeconds, IsPlaying isPlaying, double mixingPeriodSeconds)
    {
        reading = steadyPlayingPosition(readSeconds, isPlaying, reading);
        return smoothPlayingPosition(smoothed, reading, isPlaying(), steadySeconds(), mixingPeriodSeconds);
    }

    // After a seek: the position stands at `seconds` until the music moves on from there.
    void restartAt(float seconds)
    {
        reading = seconds;
        smoothed = SmoothedPosition{};
        smoothed.reading = smoothed.position = seconds;
    }
};

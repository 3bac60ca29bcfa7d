#pragma once

// SFML 2.5.1 reads the playing position without a lock while its streaming
// thread swaps buffers: now and then a read comes back about a second early
// (one buffer), and that frame would draw with `time` a second behind. While
// the track plays its position only moves forward (the program never seeks
// or loops), so a read below the previous one is read again, and while the
// music still plays after that, the previous position stands for this frame.
// The one real move back, the end of the track (the position then reads 0),
// comes with the music no longer playing and is believed at once.
template <typename ReadSeconds, typename IsPlaying>
float steadyPlayingPosition(ReadSeconds readSeconds, IsPlaying isPlaying, float previousSeconds)
{
    const float seconds = readSeconds();
    if (seconds >= previousSeconds || !isPlaying())
        return seconds;
    const float again = readSeconds();
    if (again >= previousSeconds || !isPlaying())
        return again;
    return previousSeconds;
}

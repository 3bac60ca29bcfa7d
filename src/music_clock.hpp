#pragma once

// SFML 2.5.1 reads the playing position without a lock while its streaming
// thread swaps buffers: about once a minute one read comes back about a
// second early, and that frame would draw with `time` a second behind. A
// read below the previous one while the music plays is therefore read again
// before it is believed. A real move back reads the same twice, or comes
// with the music no longer playing (after the track ends the position reads
// 0), and stands.
template <typename ReadSeconds, typename IsPlaying>
float steadyPlayingPosition(ReadSeconds readSeconds, IsPlaying isPlaying, float previousSeconds)
{
    const float seconds = readSeconds();
    if (seconds >= previousSeconds || !isPlaying())
        return seconds;
    return readSeconds();
}

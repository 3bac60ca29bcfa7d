#pragma once

// Whether the audio library has a sound device to play on. Ask after the
// first sf::Music exists: SFML opens the device for its first audio object.
bool audioDeviceIsOpen();

// How often the device mixes, as the seconds between two mixes: the
// granularity of the music's playing position.
double audioMixingPeriodSeconds();

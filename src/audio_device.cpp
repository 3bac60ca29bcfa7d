#include "audio_device.hpp"

namespace
{

// OpenAL Soft's default: 1024 samples at 44.1 kHz.
constexpr double usualMixingPeriodSeconds = 1024.0 / 44100.0;

} // namespace

#ifdef QUORVEL_HAVE_OPENAL_HEADERS
#include "alc.h"

bool audioDeviceIsOpen()
{
    // SFML makes its context current once it has opened a device; without
    // a device there is no context.
    return alcGetCurrentContext() != nullptr;
}

double audioMixingPeriodSeconds()
{
    ALCcontext* const context = alcGetCurrentContext();
    ALCdevice* const device = context != nullptr ? alcGetContextsDevice(context) : nullptr;
    ALCint mixesPerSecond = 0;
    if (device != nullptr)
        alcGetIntegerv(device, ALC_REFRESH, 1, &mixesPerSecond);
    return mixesPerSecond > 0 ? 1.0 / mixesPerSecond : usualMixingPeriodSeconds;
}
#else
bool audioDeviceIsOpen()
{
    // Built without OpenAL's headers (SFML's Windows SDK has none): assume
    // the device is there, as SFML itself does.
    return true;
}

double audioMixingPeriodSeconds()
{
    return usualMixingPeriodSeconds;
}
#endif

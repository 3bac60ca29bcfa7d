#include "audio_device.hpp"

#ifdef QUORVEL_HAVE_OPENAL_HEADERS
#include "alc.h"

bool audioDeviceIsOpen()
{
    // SFML makes its context current once it has opened a device; without
    // a device there is no context.
    return alcGetCurrentContext() != nullptr;
}
#else
bool audioDeviceIsOpen()
{
    // Built without OpenAL's headers (SFML's Windows SDK has none): assume
    // the device is there, as SFML itself does.
    return true;
}
#endif

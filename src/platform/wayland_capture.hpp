#pragma once

// The snapshot in a Wayland session, where the X root window that XWayland
// offers reads back black. Shared by the Linux layer and its tests only; no
// X11 or SFML header here.

#include "platform/platform.hpp"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform
{

// A compositor's or portal's picture of 32-bit pixels as blue, green, red,
// fourth byte rows of width x height, nearest pixel when the sizes differ
// (output scaling). redFirst: the source's bytes run red, green, blue;
// bottomUp: its rows run from the bottom.
struct SourceImage
{
    const std::uint8_t* pixels;
    int width;
    int height;
    std::size_t stride;
    bool redFirst;
    bool bottomUp;
};
std::vector<std::uint8_t> scaledToBgrx(const SourceImage& source, int width, int height);

// Whether this process runs in a Wayland session (WAYLAND_DISPLAY or
// XDG_SESSION_TYPE say so), where the X11 grab cannot be trusted.
bool inWaylandSession();

// The output at (x, y) of the compositor's layout (else the first one),
// through the wlroots screen-copy protocol, scaled to width x height when
// the compositor's pixels are more or fewer (output scaling). Empty problem
// when it worked; otherwise why not (a compositor without the protocol, for
// one), with the pixels left empty.
ScreenPixels grabWithScreenCopy(int x, int y, int width, int height);

// The whole desktop through the desktop portal (org.freedesktop.portal.
// Screenshot, not interactive), which GNOME and KDE offer, scaled to
// width x height. GNOME asks the user once for permission.
ScreenPixels grabWithPortal(int width, int height);

// The Wayland snapshot: screen copy, else the portal. QUORVEL_SNAPSHOT set
// to "screencopy" or "portal" takes only that path.
ScreenPixels grabWaylandOutput(int x, int y, int width, int height);

} // namespace platform

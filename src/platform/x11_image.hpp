#pragma once

// Shared by the X11 layer and its tests only. Includes Xlib: keep it away
// from SFML headers.

#include <X11/Xlib.h>

#include <cstdint>
#include <vector>

namespace platform
{

// Converts a TrueColor/DirectColor image of any depth, pixel size, byte
// order and row padding into rows of blue, green, red, fourth byte, without
// padding. Images of 32 bits per pixel in the usual 0xRRGGBB layout are
// copied unchanged, fourth byte included; converted pixels get a fourth byte
// of 0, as GDI delivers it. Returns false (leaving out untouched) for
// layouts that carry no colour masks, such as palette images.
//
// out is filled by assignment, not zero-filled first: for a screen-sized
// image the zero fill and its page faults cost as much as the copy itself.
bool convertImageToBgrx(const XImage& image, std::vector<std::uint8_t>& out);

} // namespace platform

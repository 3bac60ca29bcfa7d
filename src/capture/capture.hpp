#pragma once

#include "platform/platform.hpp"

#include <SFML/Graphics/Image.hpp>
#include <SFML/Graphics/Texture.hpp>

// One snapshot of the primary monitor as a texture of its size. The bytes
// arrive unchanged: each texel's red holds the screen's blue, its blue the
// screen's red, and alpha whatever the platform put in the fourth byte.
sf::Texture captureDesktop();

// The same, taken behind the overlay just shown (see grabPrimaryScreenBehind).
sf::Texture captureDesktopBehind(sf::WindowHandle overlay);

// The texture of grabbed pixels, uploaded as captureDesktop() does. Pixels
// beyond the driver's largest texture give a one-texel black texture (to be
// stretched over the window) and the snapshot line that says why.
sf::Texture textureFromSnapshot(const platform::ScreenPixels& pixels);

// A picture standing in for the desktop, as the grab would have given it:
// nearest pixel to width x height, bytes blue, green, red, then 0 as the
// X11 and GDI grabs leave the fourth byte.
platform::ScreenPixels snapshotFromPicture(const sf::Image& picture, int width, int height);

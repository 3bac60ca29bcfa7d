#pragma once

#include <SFML/Graphics/Texture.hpp>

// One snapshot of the primary monitor as a texture of its size. The bytes
// arrive unchanged: each texel's red holds the screen's blue, its blue the
// screen's red, and alpha whatever the platform put in the fourth byte.
sf::Texture captureDesktop();

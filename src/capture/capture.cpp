#include "capture/capture.hpp"

#include "platform/platform.hpp"

sf::Texture captureDesktop()
{
    sf::Texture texture;
    {
        // The pixel buffer lives only until it is uploaded.
        const platform::ScreenPixels pixels = platform::grabPrimaryScreen();
        texture.create(static_cast<unsigned>(pixels.width), static_cast<unsigned>(pixels.height));
        texture.update(pixels.bgrx.data());
    }
    return texture;
}

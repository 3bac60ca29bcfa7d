#include "capture/capture.hpp"

#include "messages.hpp"
#include "platform/platform.hpp"

#include <iostream>

sf::Texture captureDesktop()
{
    sf::Texture texture;
    {
        // The pixel buffer lives only until it is uploaded.
        const platform::ScreenPixels pixels = platform::grabPrimaryScreen();
        if (!pixels.problem.empty())
            std::cerr << messages::snapshotFailed(pixels.problem) << std::endl;
        texture.create(static_cast<unsigned>(pixels.width), static_cast<unsigned>(pixels.height));
        texture.update(pixels.bgrx.data());
    }
    return texture;
}

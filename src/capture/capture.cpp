#include "capture/capture.hpp"

#include "messages.hpp"
#include "platform/platform.hpp"

#include <cstdint>
#include <iostream>

sf::Texture textureFromSnapshot(const platform::ScreenPixels& pixels)
{
    sf::Texture texture;
    const unsigned width = static_cast<unsigned>(pixels.width);
    const unsigned height = static_cast<unsigned>(pixels.height);
    const unsigned limit = sf::Texture::getMaximumSize();
    if (width > limit || height > limit)
    {
        // Asked anyway, SFML would say so in English and leave no texture.
        std::cerr << messages::snapshotFailed(messages::snapshotTooLarge(pixels.width, pixels.height, limit))
                  << std::endl;
        const std::uint8_t black[4] = {0, 0, 0, 0};
        texture.create(1, 1);
        texture.update(black);
        return texture;
    }
    // The bytes go up as they are: blue, green, red, fourth byte land in a
    // texture read as red, green, blue, alpha.
    texture.create(width, height);
    texture.update(pixels.bgrx.data());
    return texture;
}

namespace
{

sf::Texture textureSayingWhy(const platform::ScreenPixels& pixels)
{
    if (!pixels.problem.empty())
        std::cerr << messages::snapshotFailed(pixels.problem) << std::endl;
    return textureFromSnapshot(pixels);
}

} // namespace

// The pixel buffers live only until they are uploaded.
sf::Texture captureDesktop()
{
    return textureSayingWhy(platform::grabPrimaryScreen());
}

sf::Texture captureDesktopBehind(sf::WindowHandle overlay)
{
    return textureSayingWhy(platform::grabPrimaryScreenBehind(overlay));
}

platform::ScreenPixels snapshotFromPicture(const sf::Image& picture, int width, int height)
{
    platform::ScreenPixels pixels{width, height, {}, {}};
    const int pictureWidth = static_cast<int>(picture.getSize().x);
    const int pictureHeight = static_cast<int>(picture.getSize().y);
    pixels.bgrx.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    if (pictureWidth <= 0 || pictureHeight <= 0)
        return pixels;
    const std::uint8_t* const rgba = picture.getPixelsPtr();
    for (int y = 0; y < height; ++y)
    {
        const std::size_t sourceY = static_cast<std::size_t>(static_cast<long long>(y) * pictureHeight / height);
        for (int x = 0; x < width; ++x)
        {
            const std::size_t sourceX = static_cast<std::size_t>(static_cast<long long>(x) * pictureWidth / width);
            const std::uint8_t* in = rgba + (sourceY * static_cast<std::size_t>(pictureWidth) + sourceX) * 4;
            std::uint8_t* out = pixels.bgrx.data() + (static_cast<std::size_t>(y) * width + x) * 4;
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            out[3] = 0;
        }
    }
    return pixels;
}

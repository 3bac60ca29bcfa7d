#include "platform/x11_image.hpp"

#include <cstring>

namespace platform
{
namespace
{

struct Channel
{
    unsigned long mask;
    int shift;
    unsigned long maxValue;
};

Channel channelFromMask(unsigned long mask)
{
    Channel channel{mask, 0, 0};
    if (mask == 0)
        return channel;
    while (((mask >> channel.shift) & 1UL) == 0)
        ++channel.shift;
    channel.maxValue = mask >> channel.shift;
    return channel;
}

std::uint8_t scaleTo8Bits(unsigned long pixel, const Channel& channel)
{
    if (channel.maxValue == 0)
        return 0;
    const unsigned long value = (pixel & channel.mask) >> channel.shift;
    if (channel.maxValue == 255)
        return static_cast<std::uint8_t>(value);
    // Rounded, so that a channel at its maximum maps to 255 at any depth.
    return static_cast<std::uint8_t>((value * 255 + channel.maxValue / 2) / channel.maxValue);
}

unsigned long readPixel(const unsigned char* at, int bytesPerPixel, bool msbFirst)
{
    unsigned long pixel = 0;
    for (int i = 0; i < bytesPerPixel; ++i)
    {
        const int significance = msbFirst ? bytesPerPixel - 1 - i : i;
        pixel |= static_cast<unsigned long>(at[i]) << (8 * significance);
    }
    return pixel;
}

} // namespace

bool convertImageToBgrx(const XImage& image, std::vector<std::uint8_t>& out)
{
    const int width = image.width;
    const int height = image.height;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * 4;
    const auto* source = reinterpret_cast<const unsigned char*>(image.data);
    if (source == nullptr || width <= 0 || height <= 0)
        return false;

    const bool usualLayout = image.bits_per_pixel == 32 && image.byte_order == LSBFirst &&
                             image.red_mask == 0xff0000 && image.green_mask == 0xff00 &&
                             image.blue_mask == 0xff;
    if (usualLayout && static_cast<std::size_t>(image.bytes_per_line) == rowBytes)
    {
        out.assign(source, source + rowBytes * static_cast<std::size_t>(height));
        return true;
    }
    if (usualLayout)
    {
        out.resize(rowBytes * static_cast<std::size_t>(height));
        for (int y = 0; y < height; ++y)
            std::memcpy(out.data() + rowBytes * y, source + static_cast<std::size_t>(image.bytes_per_line) * y,
                        rowBytes);
        return true;
    }

    const int bitsPerPixel = image.bits_per_pixel;
    if (image.red_mask == 0 || image.green_mask == 0 || image.blue_mask == 0 ||
        (bitsPerPixel != 8 && bitsPerPixel != 16 && bitsPerPixel != 24 && bitsPerPixel != 32))
        return false;

    const Channel red = channelFromMask(image.red_mask);
    const Channel green = channelFromMask(image.green_mask);
    const Channel blue = channelFromMask(image.blue_mask);
    const int bytesPerPixel = bitsPerPixel / 8;
    const bool msbFirst = image.byte_order == MSBFirst;
    out.resize(rowBytes * static_cast<std::size_t>(height));
    for (int y = 0; y < height; ++y)
    {
        const unsigned char* row = source + static_cast<std::size_t>(image.bytes_per_line) * y;
        std::uint8_t* target = out.data() + rowBytes * y;
        for (int x = 0; x < width; ++x)
        {
            const unsigned long pixel = readPixel(row + x * bytesPerPixel, bytesPerPixel, msbFirst);
            target[4 * x + 0] = scaleTo8Bits(pixel, blue);
            target[4 * x + 1] = scaleTo8Bits(pixel, green);
            target[4 * x + 2] = scaleTo8Bits(pixel, red);
            target[4 * x + 3] = 0;
        }
    }
    return true;
}

} // namespace platform

// GoogleTest first: Xlib's None and Bool macros would break its headers.
#include <gtest/gtest.h>

#include "platform/x11_image.hpp"
#include "support/case_name.hpp"

#include <array>
#include <cstring>
#include <vector>

namespace
{

using Bgrx = std::array<std::uint8_t, 4>;

// Three pixels wide, two rows high: red, green, blue / white, black, a mid tone.
struct LayoutCase
{
    const char* name;
    int bitsPerPixel;
    int byteOrder;
    unsigned long redMask, greenMask, blueMask;
    int rowPadding; // bytes after each row
    std::array<unsigned long, 6> pixelValues;
    std::array<Bgrx, 6> expected;
};

// GoogleTest names the case by its description rather than its bytes.
void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

const std::array<Bgrx, 6> primaries = {{{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0},
                                        {255, 255, 255, 0}, {0, 0, 0, 0}, {0x40, 0x80, 0xc0, 0}}};

const LayoutCase layoutCases[] = {
    {"32 bits LSB first with row padding", 32, LSBFirst, 0xff0000, 0xff00, 0xff, 8,
     {0xff0000, 0xff00, 0xff, 0xffffff, 0, 0xc08040}, primaries},
    {"32 bits MSB first", 32, MSBFirst, 0xff0000, 0xff00, 0xff, 0,
     {0xff0000, 0xff00, 0xff, 0xffffff, 0, 0xc08040}, primaries},
    {"32 bits with red in the low byte", 32, LSBFirst, 0xff, 0xff00, 0xff0000, 0,
     {0xff, 0xff00, 0xff0000, 0xffffff, 0, 0x4080c0}, primaries},
    {"24 bits packed with row padding", 24, LSBFirst, 0xff0000, 0xff00, 0xff, 3,
     {0xff0000, 0xff00, 0xff, 0xffffff, 0, 0xc08040}, primaries},
    // 5-6-5: 16 of 31 is 132 of 255, 32 of 63 is 130, 8 of 31 is 66.
    {"16 bits 565 LSB first", 16, LSBFirst, 0xf800, 0x07e0, 0x001f, 2,
     {0xf800, 0x07e0, 0x001f, 0xffff, 0, (16ul << 11) | (32ul << 5) | 8ul},
     {{{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}, {255, 255, 255, 0}, {0, 0, 0, 0}, {66, 130, 132, 0}}}},
    {"16 bits 565 MSB first", 16, MSBFirst, 0xf800, 0x07e0, 0x001f, 0,
     {0xf800, 0x07e0, 0x001f, 0xffff, 0, (16ul << 11) | (32ul << 5) | 8ul},
     {{{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}, {255, 255, 255, 0}, {0, 0, 0, 0}, {66, 130, 132, 0}}}},
    {"15 bits 555 in 16", 16, LSBFirst, 0x7c00, 0x03e0, 0x001f, 0,
     {0x7c00, 0x03e0, 0x001f, 0x7fff, 0, (16ul << 10) | (16ul << 5) | 8ul},
     {{{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}, {255, 255, 255, 0}, {0, 0, 0, 0}, {66, 132, 132, 0}}}},
    {"30 bits 10-10-10", 32, LSBFirst, 0x3ff00000, 0x000ffc00, 0x000003ff, 0,
     {0x3ff00000, 0x000ffc00, 0x000003ff, 0x3fffffff, 0, (0x302ul << 20) | (0x201ul << 10) | 0x100ul},
     {{{0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}, {255, 255, 255, 0}, {0, 0, 0, 0}, {64, 128, 192, 0}}}},
};

std::vector<char> encode(const LayoutCase& c, int bytesPerLine)
{
    std::vector<char> data(static_cast<std::size_t>(bytesPerLine) * 2, 0x55);
    const int bytesPerPixel = c.bitsPerPixel / 8;
    for (int i = 0; i < 6; ++i)
    {
        char* at = data.data() + (i / 3) * bytesPerLine + (i % 3) * bytesPerPixel;
        for (int b = 0; b < bytesPerPixel; ++b)
        {
            const int significance = c.byteOrder == MSBFirst ? bytesPerPixel - 1 - b : b;
            at[b] = static_cast<char>((c.pixelValues[i] >> (8 * significance)) & 0xff);
        }
    }
    return data;
}

XImage imageOf(const LayoutCase& c, std::vector<char>& data, int bytesPerLine)
{
    XImage image{};
    image.width = 3;
    image.height = 2;
    image.format = ZPixmap;
    image.data = data.data();
    image.byte_order = c.byteOrder;
    image.bits_per_pixel = c.bitsPerPixel;
    image.bytes_per_line = bytesPerLine;
    image.red_mask = c.redMask;
    image.green_mask = c.greenMask;
    image.blue_mask = c.blueMask;
    return image;
}

class ImageLayoutTest : public testing::TestWithParam<LayoutCase>
{
};

TEST_P(ImageLayoutTest, GivesBlueGreenRedRowsTopFirst)
{
    const LayoutCase& c = GetParam();
    const int bytesPerLine = 3 * c.bitsPerPixel / 8 + c.rowPadding;
    std::vector<char> data = encode(c, bytesPerLine);
    const XImage image = imageOf(c, data, bytesPerLine);

    std::vector<std::uint8_t> out(3, 0xaa);
    ASSERT_TRUE(platform::convertImageToBgrx(image, out));
    ASSERT_EQ(out.size(), 3u * 2u * 4u);
    for (int i = 0; i < 6; ++i)
    {
        SCOPED_TRACE("pixel " + std::to_string(i));
        for (int channel = 0; channel < 3; ++channel)
            EXPECT_EQ(out[4 * i + channel], c.expected[i][channel]) << "channel " << channel;
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, ImageLayoutTest, testing::ValuesIn(layoutCases),
                         [](const testing::TestParamInfo<LayoutCase>& info) {
                             return testsupport::caseName(info.param.name);
                         });

TEST(ImageLayout, UsualLayoutKeepsTheFourthByte)
{
    std::vector<char> data = {1, 2, 3, 4, 5, 6, 7, 8};
    XImage image{};
    image.width = 2;
    image.height = 1;
    image.data = data.data();
    image.byte_order = LSBFirst;
    image.bits_per_pixel = 32;
    image.bytes_per_line = 8;
    image.red_mask = 0xff0000;
    image.green_mask = 0xff00;
    image.blue_mask = 0xff;
    std::vector<std::uint8_t> out;
    ASSERT_TRUE(platform::convertImageToBgrx(image, out));
    ASSERT_EQ(out.size(), 8u);
    EXPECT_EQ(std::memcmp(out.data(), data.data(), 8), 0);
}

TEST(ImageLayout, PaletteImageIsRefusedAndLeavesTheBufferAlone)
{
    std::vector<char> data(4, 7);
    XImage image{};
    image.width = 4;
    image.height = 1;
    image.data = data.data();
    image.byte_order = LSBFirst;
    image.bits_per_pixel = 8;
    image.bytes_per_line = 4;
    std::vector<std::uint8_t> out(16, 0);
    EXPECT_FALSE(platform::convertImageToBgrx(image, out));
    EXPECT_EQ(out, std::vector<std::uint8_t>(16, 0));
}

} // namespace

// The desktop snapshot from a real X server: exact bytes, row order, size,
// and only the primary monitor.

#include "capture/capture.hpp"
#include "platform/platform.hpp"
#include "support/case_name.hpp"
#include "support/display.hpp"
#include "support/process.hpp"

#include <SFML/Graphics/Image.hpp>
#include <gtest/gtest.h>

#include <memory>

namespace
{

using testsupport::Rgb;

// Distinct per row and per column, so a flipped, shifted or padded copy shows.
Rgb pattern(int x, int y)
{
    return {static_cast<std::uint8_t>(y * 7 + 3), static_cast<std::uint8_t>(x * 5 + 1),
            static_cast<std::uint8_t>((x + y) & 1 ? 200 : 40)};
}

::testing::AssertionResult bytesMatch(const platform::ScreenPixels& pixels, int originX,
                                      const std::function<Rgb(int, int)>& desktop)
{
    for (int y = 0; y < pixels.height; ++y)
        for (int x = 0; x < pixels.width; ++x)
        {
            const std::uint8_t* p = &pixels.bgrx[(static_cast<std::size_t>(y) * pixels.width + x) * 4];
            const Rgb want = desktop(originX + x, y);
            if (p[0] != want.b || p[1] != want.g || p[2] != want.r)
                return ::testing::AssertionFailure()
                       << "pixel (" << x << "," << y << ") holds B,G,R " << int(p[0]) << "," << int(p[1]) << ","
                       << int(p[2]) << ", the desktop shows " << testsupport::describe(want);
        }
    return ::testing::AssertionSuccess();
}

// The X server variants the capture must cope with.
struct ServerCase
{
    const char* name;
    int depth;
    std::vector<std::string> extraArgs;
};

// GoogleTest names the case by its description rather than its bytes.
void PrintTo(const ServerCase& c, std::ostream* os) { *os << c.name; }

const ServerCase serverCases[] = {
    {"depth 24 with MIT-SHM", 24, {}},
    {"depth 24 without MIT-SHM", 24, {"-extension", "MIT-SHM"}},
    {"depth 16", 16, {}},
    {"without RandR", 24, {"-extension", "RANDR"}},
};

class CaptureTest : public testing::TestWithParam<ServerCase>
{
protected:
    void SetUp() override
    {
        display = std::make_unique<testsupport::VirtualDisplay>(96, 64, GetParam().depth, GetParam().extraArgs);
    }
    std::unique_ptr<testsupport::VirtualDisplay> display;
};

TEST_P(CaptureTest, PureRedComesBackAsBlueGreenRedBytes)
{
    testsupport::paintDesktop(Rgb{255, 0, 0});
    const platform::ScreenPixels pixels = platform::grabPrimaryScreen();
    ASSERT_EQ(pixels.width, 96);
    ASSERT_EQ(pixels.height, 64);
    ASSERT_EQ(pixels.bgrx.size(), 96u * 64u * 4u);
    EXPECT_TRUE(bytesMatch(pixels, 0, [](int, int) { return Rgb{255, 0, 0}; }));
}

TEST_P(CaptureTest, RowsRunTopFirstWithoutPadding)
{
    // At depth 16 only the top bits survive; keep the pattern exact there.
    const int depth = GetParam().depth;
    auto desktop = [depth](int x, int y) {
        Rgb c = pattern(x, y);
        if (depth == 16)
            c = {static_cast<std::uint8_t>(c.r & 0x80 ? 255 : 0), static_cast<std::uint8_t>(c.g & 0x80 ? 255 : 0),
                 static_cast<std::uint8_t>(c.b & 0x80 ? 255 : 0)};
        return c;
    };
    testsupport::paintDesktop(desktop);
    EXPECT_TRUE(bytesMatch(platform::grabPrimaryScreen(), 0, desktop));
}

INSTANTIATE_TEST_SUITE_P(Servers, CaptureTest, testing::ValuesIn(serverCases),
                         [](const testing::TestParamInfo<ServerCase>& info) {
                             return testsupport::caseName(info.param.name);
                         });

// A palette (PseudoColor) screen has no colour masks to convert from: the
// grab fails and, as a failed GetDIBits would, leaves zero bytes of the full size.
TEST(Capture, FailedGrabLeavesAZeroFilledBufferOfTheScreenSize)
{
    testsupport::VirtualDisplay display(40, 30, 8);
    const platform::ScreenPixels pixels = platform::grabPrimaryScreen();
    EXPECT_EQ(pixels.width, 40);
    EXPECT_EQ(pixels.height, 30);
    EXPECT_EQ(pixels.bgrx, std::vector<std::uint8_t>(40 * 30 * 4, 0));
    EXPECT_NE(pixels.problem, "") << "a black snapshot is never a silent success";
}

TEST(Capture, TextureHoldsTheBytesUnchangedSoRedReadsAsBlue)
{
    testsupport::VirtualDisplay display(64, 48);
    testsupport::paintDesktop([](int x, int y) { return y < 24 ? Rgb{255, 0, 0} : Rgb{0, 255, 0}; });
    const sf::Texture texture = captureDesktop();
    ASSERT_EQ(texture.getSize(), sf::Vector2u(64, 48));
    const sf::Image image = texture.copyToImage();
    const sf::Color top = image.getPixel(10, 5);
    const sf::Color bottom = image.getPixel(50, 40);
    EXPECT_EQ(top, sf::Color(0, 0, 255, top.a)) << "top row: a red desktop pixel must arrive with red and blue swapped";
    EXPECT_EQ(bottom, sf::Color(0, 255, 0, bottom.a));
}

// Two monitors side by side on one X screen; the right one is primary.
TEST(Capture, TakesOnlyThePrimaryMonitor)
{
    testsupport::VirtualDisplay display(200, 60);
    ASSERT_EQ(testsupport::shell("xrandr --output screen --noprimary && "
                                 "xrandr --setmonitor left 80/20x60/20+0+0 none && "
                                 "xrandr --setmonitor '*right' 120/30x60/20+80+0 none"),
              0);
    auto desktop = [](int x, int y) { return x < 80 ? Rgb{0, 0, 255} : pattern(x - 80, y); };
    testsupport::paintDesktop(desktop);

    const platform::ScreenSize size = platform::primaryScreenSize();
    EXPECT_EQ(size.width, 120);
    EXPECT_EQ(size.height, 60);
    const platform::ScreenPixels pixels = platform::grabPrimaryScreen();
    ASSERT_EQ(pixels.width, 120);
    ASSERT_EQ(pixels.height, 60);
    EXPECT_TRUE(bytesMatch(pixels, 80, desktop));
}

TEST(Capture, SizeFollowsTheScreenAtTheMomentOfTheCall)
{
    testsupport::VirtualDisplay display(100, 80);
    EXPECT_EQ(platform::primaryScreenSize().width, 100);
    ASSERT_EQ(testsupport::shell("xrandr --setmonitor '*half' 50/10x40/10+0+0 none && "
                                 "xrandr --output screen --noprimary"),
              0);
    const platform::ScreenPixels pixels = platform::grabPrimaryScreen();
    EXPECT_EQ(pixels.width, 50);
    EXPECT_EQ(pixels.height, 40);
}

} // namespace

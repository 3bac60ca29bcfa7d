// The Win32 platform layer, cross-compiled with mingw-w64 and run under Wine
// on a private X server: Wine's GDI reads the X root window, so a desktop
// painted here must come back from GetDIBits byte for byte.

#include "support/display.hpp"
#include "support/process.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>

namespace
{

using testsupport::Rgb;

constexpr int screenWidth = 96;
constexpr int screenHeight = 72;

Rgb pattern(int x, int y)
{
    return {static_cast<std::uint8_t>(y * 3 + 1), static_cast<std::uint8_t>(x * 2 + 5),
            static_cast<std::uint8_t>((x / 8 + y / 8) % 2 ? 0x99 : 0x33)};
}

struct ProbeReport
{
    std::string console;
    std::string bytes;
    int exitStatus = -1;
};

class Win32PlatformTest : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        display = std::make_unique<testsupport::VirtualDisplay>(screenWidth, screenHeight);
        testsupport::paintDesktop(pattern);
        prefix = std::make_unique<testsupport::TempDir>();
        const std::vector<std::string> env = {"WINEPREFIX=" + prefix->path(), "WINEDEBUG=-all",
                                              "WINEDLLOVERRIDES=mscoree,mshtml="};
        // The first start creates the Wine prefix, which takes a few seconds.
        const testsupport::RunResult run = testsupport::runProgram(
            {WINE_PROGRAM, WIN32_PLATFORM_PROBE, prefix->file("grab.bgrx")}, prefix->path(), std::chrono::seconds(180),
            env);
        report.console = run.out;
        report.exitStatus = run.exitStatus;
        report.bytes = testsupport::readFile(prefix->file("grab.bgrx"));
        testsupport::runProgram({WINESERVER_PROGRAM, "-k"}, prefix->path(), std::chrono::seconds(30), env);
    }

    static void TearDownTestSuite()
    {
        prefix.reset();
        display.reset();
    }

    static std::pair<int, int> field(const std::string& name)
    {
        std::istringstream lines(report.console);
        std::string line;
        while (std::getline(lines, line))
        {
            std::istringstream words(line);
            std::string word;
            std::pair<int, int> values{-1, -1};
            if (words >> word && word == name && words >> values.first >> values.second)
                return values;
        }
        return {-1, -1};
    }

    static inline std::unique_ptr<testsupport::VirtualDisplay> display;
    static inline std::unique_ptr<testsupport::TempDir> prefix;
    static inline ProbeReport report;
};

TEST_F(Win32PlatformTest, ScreenSizeIsWhatGetSystemMetricsReports)
{
    ASSERT_EQ(report.exitStatus, 0) << report.console;
    EXPECT_EQ(field("metrics"), std::make_pair(screenWidth, screenHeight));
    EXPECT_EQ(field("screen"), std::make_pair(screenWidth, screenHeight));
    EXPECT_EQ(field("grab"), std::make_pair(screenWidth, screenHeight));
}

TEST_F(Win32PlatformTest, GrabGivesBlueGreenRedBytesTopRowFirst)
{
    ASSERT_EQ(report.exitStatus, 0) << report.console;
    ASSERT_EQ(report.bytes.size(), static_cast<std::size_t>(screenWidth) * screenHeight * 4);
    int wrong = 0;
    for (int y = 0; y < screenHeight; ++y)
        for (int x = 0; x < screenWidth; ++x)
        {
            const auto* p = reinterpret_cast<const std::uint8_t*>(&report.bytes[(y * screenWidth + x) * 4]);
            const Rgb want = pattern(x, y);
            if ((p[0] != want.b || p[1] != want.g || p[2] != want.r) && wrong++ < 5)
                ADD_FAILURE() << "pixel (" << x << "," << y << ") holds B,G,R " << int(p[0]) << "," << int(p[1])
                              << "," << int(p[2]) << ", the desktop shows " << testsupport::describe(want);
        }
    EXPECT_EQ(wrong, 0);
}

TEST_F(Win32PlatformTest, ProcessIsPerMonitorDpiAwareOnceItIsPrepared)
{
    ASSERT_EQ(report.exitStatus, 0) << report.console;
    // Wine starts processes system-aware already, so only the state after is checked.
    EXPECT_EQ(field("dpiaware").first, 2) << "per-monitor aware after prepareProcess(); before: "
                                          << field("dpiaware").second;
}

TEST_F(Win32PlatformTest, AGoodGrabReportsNoProblem)
{
    ASSERT_EQ(report.exitStatus, 0) << report.console;
    std::string problem = "(no problem line)";
    for (std::string line : testsupport::lines(report.console))
    {
        if (!line.empty() && line.back() == '\r') // the console of a Windows program ends lines in CR LF
            line.pop_back();
        if (line.rfind("problem", 0) == 0)
            problem = line.substr(7);
    }
    EXPECT_EQ(problem, " ") << report.console;
}

TEST_F(Win32PlatformTest, TopmostCallSetsTheTopmostStyle)
{
    ASSERT_EQ(report.exitStatus, 0) << report.console;
    EXPECT_EQ(field("topmost"), std::make_pair(1, 0)) << "WS_EX_TOPMOST after the call, and not before";
}

} // namespace

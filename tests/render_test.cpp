// quorvel-render, the real binary: its files decoded back with FFmpeg's own
// tools, frame by frame against the player's switch rule, byte for byte
// against the live player's screen, and what it leaves when it fails.

#include "support/case_name.hpp"
#include "support/display.hpp"
#include "support/eventually.hpp"
#include "support/show.hpp"

#include <SFML/Graphics/Image.hpp>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>

namespace
{

using namespace std::chrono_literals;
using testsupport::Rgb;
using testsupport::RunResult;
using testsupport::TempDir;

constexpr int width = 64;
constexpr int height = 48;

std::vector<std::string> environment()
{
    return {"WAYLAND_DISPLAY=", "XDG_SESSION_TYPE=x11", "ALSOFT_DRIVERS=null"};
}

// The frames of a video as rows of RGB pixels, decoded by the ffmpeg command.
struct Frames
{
    int width = 0;
    int height = 0;
    std::string rgb;
    std::size_t count() const { return rgb.size() / (static_cast<std::size_t>(width) * height * 3); }
    Rgb at(std::size_t frame, int x, int y) const
    {
        const std::size_t i = ((frame * height + static_cast<std::size_t>(y)) * width + static_cast<std::size_t>(x)) * 3;
        return {static_cast<std::uint8_t>(rgb[i]), static_cast<std::uint8_t>(rgb[i + 1]),
                static_cast<std::uint8_t>(rgb[i + 2])};
    }
};

Frames decode(const std::string& video, int w, int h)
{
    const std::string raw = video + ".rgb";
    EXPECT_EQ(testsupport::shell("ffmpeg -v error -y -i '" + video + "' -f rawvideo -pix_fmt rgb24 '" + raw + "'"), 0);
    Frames frames{w, h, testsupport::readFile(raw)};
    std::remove(raw.c_str());
    return frames;
}

std::string commandOutput(const std::string& command)
{
    const RunResult result = testsupport::runProgram({"sh", "-c", command}, "", 60s);
    return result.out;
}

// An MD5 of the audio packets as they are stored, whatever the container.
std::string audioPacketsHash(const std::string& file)
{
    return commandOutput("ffmpeg -v error -i '" + file + "' -map 0:a -c copy -f hash -hash md5 -");
}

// The audio's length, by decoding it: containers disagree on where they keep a stream's duration.
double audioSeconds(const std::string& file)
{
    const std::string samples = commandOutput("ffmpeg -v error -i '" + file + "' -map 0:a -f s16le -ac 1 -ar 48000 -");
    return static_cast<double>(samples.size()) / 2 / 48000;
}

bool near(const Rgb& a, const Rgb& b, int tolerance)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

// The time a clock shader painted: whole seconds in green, the fraction in red.
double paintedTime(const Rgb& colour)
{
    return colour.g + colour.r / 255.0;
}

class RenderTest : public testing::Test
{
protected:
    static void SetUpTestSuite() { display = std::make_unique<testsupport::VirtualDisplay>(160, 120); }
    static void TearDownTestSuite() { display.reset(); }

    // Red half a second, green half a second, then a clock for a second, over 2.5 s of music.
    void writeClockShow() const
    {
        show.write("red.frag", testsupport::solidShader(1, 0, 0));
        show.write("green.frag", testsupport::solidShader(0, 1, 0));
        show.write("clock.frag", "uniform float time;\n"
                                 "void main() { gl_FragColor = vec4(fract(time), floor(time) / 255.0, 0.0, 1.0); }\n");
        show.write("shader_sequence.txt", "red.frag 0.5\ngreen.frag 0.5\nclock.frag 1.0\n");
        testsupport::writeTone(show.file("music.ogg"), 2.5);
    }

    // A picture whose every pixel differs in all three channels from its neighbours'.
    std::string writeDesktopPicture(int w, int h) const
    {
        sf::Image picture;
        picture.create(static_cast<unsigned>(w), static_cast<unsigned>(h));
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                picture.setPixel(static_cast<unsigned>(x), static_cast<unsigned>(y),
                                 sf::Color(static_cast<sf::Uint8>(x * 4), static_cast<sf::Uint8>(y * 5),
                                           static_cast<sf::Uint8>(255 - x * 3 - y), 255));
        const std::string path = out.file("desktop.png");
        picture.saveToFile(path);
        return path;
    }

    RunResult render(const std::vector<std::string>& args, const std::vector<std::string>& env = environment()) const
    {
        std::vector<std::string> argv = {QUORVEL_RENDER_BINARY};
        argv.insert(argv.end(), args.begin(), args.end());
        return testsupport::runProgram(argv, out.path(), 120s, env);
    }

    std::vector<std::string> outputFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(out.path()))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    static std::unique_ptr<testsupport::VirtualDisplay> display;
    TempDir show;
    TempDir out;
};

std::unique_ptr<testsupport::VirtualDisplay> RenderTest::display;

const Rgb red{255, 0, 0};
const Rgb green{0, 255, 0};

TEST_F(RenderTest, MatroskaFramesFollowTheSwitchRuleAndCarryTheMusicUnchanged)
{
    writeClockShow();
    const std::string picture = writeDesktopPicture(width, height);
    const RunResult result = render({"--desktop", picture, "--fps", "30", show.path(), "show.mkv"});
    ASSERT_EQ(result.exitStatus, 0) << result.out << result.err;
    EXPECT_NE(result.out.find("Rendered 75 frames"), std::string::npos) << result.out;

    const Frames frames = decode(out.file("show.mkv"), width, height);
    // Every frame before the end of the 2.5 s track: 0 .. 74.
    ASSERT_EQ(frames.count(), 75u);
    for (std::size_t n = 0; n < frames.count(); ++n)
    {
        const Rgb colour = frames.at(n, width / 2, height / 2);
        // Frame 15 (0.5 s) switches and still draws the outgoing red; so do
        // frame 30 for green and frame 60 for the clock, whose time there is 0.
        if (n <= 15 || n >= 61)
            EXPECT_EQ(colour, red) << "frame " << n << ": " << testsupport::describe(colour);
        else if (n <= 30)
            EXPECT_EQ(colour, green) << "frame " << n << ": " << testsupport::describe(colour);
        else
        {
            const double expected = n == 60 ? 0.0 : n / 30.0 - 1.0;
            EXPECT_NEAR(paintedTime(colour), expected, 0.6 / 255) << "frame " << n << ": " << testsupport::describe(colour);
            EXPECT_EQ(colour.b, 0) << "frame " << n;
        }
    }
    const std::string musicHash = audioPacketsHash(show.file("music.ogg"));
    EXPECT_FALSE(musicHash.empty());
    EXPECT_EQ(audioPacketsHash(out.file("show.mkv")), musicHash);
    const std::string streams = commandOutput("ffprobe -v error -show_entries stream=codec_name,pix_fmt "
                                              "-of default=nw=1 '" + out.file("show.mkv") + "'");
    EXPECT_NE(streams.find("codec_name=ffv1"), std::string::npos) << streams;
    EXPECT_NE(streams.find("codec_name=vorbis"), std::string::npos) << streams;
}

TEST_F(RenderTest, TheSnapshotsBytesArriveUnchangedWithRedAndBlueSwapped)
{
    show.write("pass.frag", testsupport::passThroughShader());
    show.write("shader_sequence.txt", "pass.frag 10\n");
    testsupport::writeTone(show.file("music.ogg"), 1);
    const std::string picture = writeDesktopPicture(width, height);
    const RunResult result = render({"--desktop", picture, "--seconds", "0.1", show.path(), "pass.mkv"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;

    sf::Image desktop;
    ASSERT_TRUE(desktop.loadFromFile(picture));
    const Frames frames = decode(out.file("pass.mkv"), width, height);
    ASSERT_EQ(frames.count(), 6u);
    int wrong = 0;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
        {
            const sf::Color p = desktop.getPixel(static_cast<unsigned>(x), static_cast<unsigned>(y));
            wrong += frames.at(5, x, y) == Rgb{p.b, p.g, p.r} ? 0 : 1;
        }
    EXPECT_EQ(wrong, 0) << "pixels that differ from the picture with red and blue swapped, e.g. top-left "
                        << testsupport::describe(frames.at(5, 0, 0));
}

TEST_F(RenderTest, ARenderedFrameIsTheLivePlayersScreenByteForByte)
{
    // Position, resolution and the snapshot all shape the picture.
    show.write("shape.frag", "uniform sampler2D texture;\nuniform vec2 resolution;\n"
                             "void main()\n{\n"
                             "    vec3 c = texture2D(texture, gl_TexCoord[0].xy).rgb;\n"
                             "    vec2 p = gl_FragCoord.xy / resolution;\n"
                             "    gl_FragColor = vec4(0.5 * c.b + 0.5 * p.x, c.g, 0.5 * c.r + 0.5 * p.y, 1.0);\n"
                             "}\n");
    show.write("shader_sequence.txt", "shape.frag 100\n");
    testsupport::writeTone(show.file("music.ogg"), 20);
    testsupport::paintDesktop([](int x, int y) {
        return Rgb{static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(2 * y), static_cast<std::uint8_t>(x ^ y)};
    });
    const testsupport::Screenshot desktop = testsupport::takeScreenshot();
    ASSERT_TRUE(testsupport::savePng(desktop, out.file("desktop.png")));

    const RunResult result =
        render({"--desktop", out.file("desktop.png"), "--seconds", "0.05", show.path(), out.file("frames/")});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    sf::Image rendered;
    ASSERT_TRUE(rendered.loadFromFile(out.file("frames/00000.png")));
    ASSERT_EQ(rendered.getSize(), sf::Vector2u(160, 120));
    const auto differing = [&](const testsupport::Screenshot& shot) {
        int count = 0;
        for (int y = 0; y < 120; ++y)
            for (int x = 0; x < 160; ++x)
            {
                const sf::Color r = rendered.getPixel(static_cast<unsigned>(x), static_cast<unsigned>(y));
                count += shot.at(x, y) == Rgb{r.r, r.g, r.b} ? 0 : 1;
            }
        return count;
    };
    ASSERT_GT(differing(desktop), 1000) << "the shader leaves the desktop as it is: the comparison would show nothing";

    testsupport::RunningProgram player({QUORVEL_BINARY}, show.path(), environment());
    int lastDifference = -1;
    const bool same = testsupport::eventually(
        [&] {
            lastDifference = differing(testsupport::takeScreenshot());
            return lastDifference == 0;
        },
        20s, 50ms);
    EXPECT_TRUE(same) << lastDifference << " pixels of the live player's screen differ from the rendered frame";
}

TEST_F(RenderTest, Mp4ForSharing)
{
    show.write("warm.frag", "void main() { gl_FragColor = vec4(200.0, 60.0, 30.0, 255.0) / 255.0; }\n");
    show.write("cool.frag", "void main() { gl_FragColor = vec4(20.0, 180.0, 220.0, 255.0) / 255.0; }\n");
    show.write("shader_sequence.txt", "warm.frag 0.5\ncool.frag 0.5\n");
    testsupport::writeTone(show.file("music.ogg"), 3);
    const RunResult result =
        render({"--size", "64x48", "--fps", "30", "--seconds", "1", "--desktop", writeDesktopPicture(64, 48),
                show.path(), "share.mp4"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;

    const Frames frames = decode(out.file("share.mp4"), width, height);
    ASSERT_EQ(frames.count(), 30u);
    for (std::size_t n : {0u, 8u, 15u})
        EXPECT_TRUE(near(frames.at(n, 32, 24), {200, 60, 30}, 2)) << n << ": " << testsupport::describe(frames.at(n, 32, 24));
    for (std::size_t n : {16u, 22u, 29u})
        EXPECT_TRUE(near(frames.at(n, 32, 24), {20, 180, 220}, 2)) << n << ": " << testsupport::describe(frames.at(n, 32, 24));

    const std::string streams =
        commandOutput("ffprobe -v error -show_entries stream=codec_name,pix_fmt,color_space,color_range,"
                      "color_primaries,color_transfer -of default=nw=1 '" + out.file("share.mp4") + "'");
    for (const char* field : {"codec_name=h264", "pix_fmt=yuv420p", "color_space=bt709", "color_range=tv",
                              "color_primaries=bt709", "color_transfer=bt709", "codec_name=aac"})
        EXPECT_NE(streams.find(field), std::string::npos) << field << "\n" << streams;
    EXPECT_NEAR(audioSeconds(out.file("share.mp4")), 1.0, 0.05);
    // +faststart: the index comes before the media data.
    const std::string bytes = testsupport::readFile(out.file("share.mp4"));
    EXPECT_LT(bytes.find("moov"), bytes.find("mdat"));
}

TEST_F(RenderTest, FromStartsLaterOnTheSameTimeline)
{
    writeClockShow();
    const std::string picture = writeDesktopPicture(width, height);
    // 0.6 s is frame 18: green until frame 30, the clock from frame 31.
    const RunResult result =
        render({"--desktop", picture, "--fps", "30", "--from", "0.6", "--seconds", "0.5", show.path(), "later.mkv"});
    ASSERT_EQ(result.exitStatus, 0) << result.err;
    const Frames frames = decode(out.file("later.mkv"), width, height);
    ASSERT_EQ(frames.count(), 15u);
    for (std::size_t i = 0; i <= 12; ++i)
        EXPECT_EQ(frames.at(i, 10, 10), green) << "frame " << 18 + i;
    for (std::size_t i = 13; i < 15; ++i)
        EXPECT_NEAR(paintedTime(frames.at(i, 10, 10)), (18.0 + i) / 30.0 - 1.0, 0.6 / 255) << "frame " << 18 + i;
    EXPECT_NEAR(audioSeconds(out.file("later.mkv")), 0.5, 0.05);
}

TEST_F(RenderTest, PngFramesWithTheMusicBeside)
{
    writeClockShow();
    const std::string picture = writeDesktopPicture(width, height);
    const struct
    {
        const char* output;
        std::vector<std::string> files;
    } cases[] = {
        {"frames", {"00000.png", "00001.png", "00002.png", "music.ogg"}},
        {"shot-%03d.png", {"desktop.png", "frames", "music.ogg", "shot-000.png", "shot-001.png", "shot-002.png"}},
    };
    for (const auto& c : cases)
    {
        const RunResult result = render({"--desktop", picture, "--fps", "30", "--seconds", "0.1", show.path(), c.output});
        ASSERT_EQ(result.exitStatus, 0) << result.err;
        const std::string folder = std::string(c.output) == "frames" ? out.file("frames") : out.path();
        std::vector<std::string> files;
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            files.push_back(entry.path().filename().string());
        std::sort(files.begin(), files.end());
        EXPECT_EQ(files, c.files) << c.output;
        EXPECT_EQ(testsupport::readFile(folder + "/music.ogg"), testsupport::readFile(show.file("music.ogg")));
        sf::Image frame;
        ASSERT_TRUE(frame.loadFromFile(folder + "/" + c.files[c.files.size() - 2]));
        EXPECT_EQ(frame.getPixel(5, 5), sf::Color::Red) << c.output;
        std::filesystem::remove(folder + "/music.ogg");
    }
}

struct FailureCase
{
    const char* name;
    std::vector<std::string> args; // SHOW stands for the show folder
    int status;
    const char* said;
    bool breakShow = false;
    bool withoutDisplay = false;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.name; }

const FailureCase failureCases[] = {
    {"unknown output kind", {"SHOW", "show.avi"}, 2, "OUTPUT must end in .mkv or .mp4"},
    {"no frame rate", {"--fps", "0", "SHOW", "show.mkv"}, 2, "--fps takes"},
    {"bad size", {"--size", "64by48", "SHOW", "show.mkv"}, 2, "--size takes"},
    {"missing output folder", {"SHOW", "no/such/folder/show.mkv"}, 1, "does not exist"},
    {"show that does not load", {"SHOW", "show.mkv"}, 1, "the show does not load", true},
    {"odd size for yuv420p", {"--size", "63x47", "SHOW", "show.mp4"}, 1, "even width and height"},
    {"unreadable picture", {"--desktop", "nothing.png", "SHOW", "show.mkv"}, 1, "cannot read the picture"},
    {"no display", {"SHOW", "show.mkv"}, 1, "no display to draw with", false, true},
};

class RenderFailure : public RenderTest, public testing::WithParamInterface<FailureCase>
{
};

TEST_P(RenderFailure, OneLineAStatusAndNothingLeft)
{
    const FailureCase& c = GetParam();
    writeClockShow();
    if (c.breakShow)
        show.write("shader_sequence.txt", "missing.frag 1\n");
    std::vector<std::string> args;
    for (const std::string& arg : c.args)
        args.push_back(arg == "SHOW" ? show.path() : arg);
    std::vector<std::string> env = environment();
    if (c.withoutDisplay)
        env.push_back("DISPLAY=");
    const RunResult result = render(args, env);
    EXPECT_EQ(result.exitStatus, c.status) << result.err;
    EXPECT_NE(result.err.find(c.said), std::string::npos) << result.err;
    EXPECT_EQ(outputFiles(), std::vector<std::string>{}) << "left behind in the output folder";
}

INSTANTIATE_TEST_SUITE_P(Cases, RenderFailure, testing::ValuesIn(failureCases),
                         [](const testing::TestParamInfo<FailureCase>& info) {
                             return testsupport::caseName(info.param.name);
                         });

TEST_F(RenderTest, AnInterruptedRenderLeavesNothing)
{
    show.write("red.frag", testsupport::solidShader(1, 0, 0));
    show.write("shader_sequence.txt", "red.frag 1\n");
    testsupport::writeTone(show.file("music.ogg"), 600);
    testsupport::RunningProgram renderer({QUORVEL_RENDER_BINARY, "--size", "64x48", show.path(), "long.mkv"},
                                         out.path(), environment());
    // Interrupted once the file is being written.
    ASSERT_TRUE(testsupport::eventually([&] { return !outputFiles().empty(); }, 30s)) << renderer.err();
    ::kill(renderer.pid(), SIGINT);
    ASSERT_TRUE(renderer.waitForExit(30s));
    EXPECT_EQ(renderer.exitStatus(), 1) << renderer.err();
    EXPECT_NE(renderer.err().find("interrupted"), std::string::npos) << renderer.err();
    EXPECT_EQ(outputFiles(), std::vector<std::string>{});
}

} // namespace

// quorvel-preview, the real binary on a private X server: saved files
// reloaded once and whole, the last good shader kept through a compile error,
// the keys, and the window read back.

#include "support/display.hpp"
#include "support/eventually.hpp"
#include "support/show.hpp"

#include <SFML/Graphics/Image.hpp>
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <regex>
#include <thread>

namespace
{

using namespace std::chrono_literals;
using testsupport::Rgb;
using testsupport::TempDir;

const char* const titleStart = "Quorvel preview";
const Rgb red{255, 0, 0};
const Rgb green{0, 255, 0};
const Rgb blue{0, 0, 255};

class PreviewTest : public testing::Test
{
protected:
    void SetUp() override
    {
        display = std::make_unique<testsupport::VirtualDisplay>(400, 300);
        sf::Image picture;
        picture.create(160, 120, sf::Color(40, 80, 120));
        picture.saveToFile(pictures.file("desktop.png"));
        testsupport::writeTone(show.file("music.ogg"), 30);
    }

    void start()
    {
        preview = std::make_unique<testsupport::RunningProgram>(
            std::vector<std::string>{QUORVEL_PREVIEW_BINARY, "--desktop", pictures.file("desktop.png"), show.path()},
            show.path(), std::vector<std::string>{"ALSOFT_DRIVERS=null"});
        ASSERT_TRUE(testsupport::eventually([] { return window().viewable; }, 20s)) << preview->err();
    }

    static testsupport::WindowInfo window() { return testsupport::findWindowTitled(titleStart, true); }

    // The colour near the bottom middle of the preview's window, below where
    // errors are written over the picture.
    static Rgb centre()
    {
        const testsupport::WindowInfo info = window();
        const testsupport::Screenshot shot = testsupport::takeScreenshot();
        const int x = std::clamp(info.x + info.width / 2, 0, shot.width - 1);
        const int y = std::clamp(info.y + info.height - 8, 0, shot.height - 1);
        return shot.at(x, y);
    }

    // Whether the error panel darkens the top of the window.
    static bool errorPanelShown(const Rgb& picture)
    {
        const testsupport::WindowInfo info = window();
        const testsupport::Screenshot shot = testsupport::takeScreenshot();
        const Rgb top = shot.at(std::clamp(info.x + info.width - 4, 0, shot.width - 1), std::clamp(info.y + 4, 0, shot.height - 1));
        return top.r < picture.r / 2 + 10 && !(top == picture);
    }

    static bool showsColour(const Rgb& colour, std::chrono::milliseconds timeout)
    {
        return testsupport::eventually([&] { return centre() == colour; }, timeout);
    }

    // The step's `time` as the title bar shows it; negative when it shows none.
    static double titleTime()
    {
        std::smatch match;
        const std::string title = testsupport::titleOf(window().id);
        static const std::regex time(" - time (-?[0-9.]+) - ");
        return std::regex_search(title, match, time) ? std::stod(match[1]) : -1;
    }

    static void pressKey(const std::string& key)
    {
        ASSERT_EQ(testsupport::shell("xdotool windowfocus --sync " + std::to_string(window().id) + " key " + key), 0);
    }

    static int count(const std::string& text, const std::string& what)
    {
        int found = 0;
        for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
            ++found;
        return found;
    }

    std::unique_ptr<testsupport::VirtualDisplay> display;
    TempDir show;
    TempDir pictures;
    std::unique_ptr<testsupport::RunningProgram> preview;
};

TEST_F(PreviewTest, ABrokenShaderKeepsTheLastGoodPictureUntilItCompilesAgain)
{
    show.write("step.frag", testsupport::solidShader(1, 0, 0));
    show.write("shader_sequence.txt", "step.frag 100\n");
    start();
    ASSERT_TRUE(showsColour(red, 20s));

    show.write("step.frag", "void main()\n{\n    gl_FragColor = vec4(nothing);\n}\n");
    ASSERT_TRUE(testsupport::eventually([&] { return preview->err().find("step.frag:3: error:") != std::string::npos; },
                                        5s))
        << preview->err();
    EXPECT_EQ(centre(), red) << "the last good version stays on screen";
    EXPECT_TRUE(testsupport::eventually(
        [] { return testsupport::titleOf(window().id).find("problem") != std::string::npos; }, 2s));
    EXPECT_TRUE(testsupport::eventually([] { return errorPanelShown(red); }, 2s)) << "the error is shown in the window";
    EXPECT_EQ(centre(), red);

    show.write("step.frag", testsupport::solidShader(0, 1, 0));
    EXPECT_TRUE(showsColour(green, 5s)) << "the fixed shader is shown";
    EXPECT_TRUE(testsupport::eventually(
        [] { return testsupport::titleOf(window().id).find("problem") == std::string::npos; }, 2s));
    EXPECT_TRUE(preview->running());
}

TEST_F(PreviewTest, ABurstOfWritesIsReadOnceAndWhole)
{
    show.write("step.frag", testsupport::solidShader(1, 0, 0));
    show.write("shader_sequence.txt", "step.frag 100\n");
    start();
    ASSERT_TRUE(showsColour(red, 20s));

    // An editor saving in pieces: half a shader, then the whole, fifty times.
    const std::string whole = testsupport::solidShader(0, 0, 1);
    for (int i = 0; i < 50; ++i)
    {
        show.write("step.frag", whole.substr(0, whole.size() / 2));
        show.write("step.frag", whole);
        std::this_thread::sleep_for(2ms);
    }
    ASSERT_TRUE(showsColour(blue, 5s));
    ASSERT_TRUE(testsupport::eventually([&] { return count(preview->out(), "reloaded") >= 1; }, 5s));
    EXPECT_EQ(count(preview->out(), "reloading step.frag"), 1) << preview->out();
    EXPECT_EQ(preview->err().find("error"), std::string::npos) << "a half file was compiled: " << preview->err();
}

TEST_F(PreviewTest, RightGoesToTheNextStepWithItsTimeFromZero)
{
    // time / 10 in red, then in green.
    show.write("first.frag", "uniform float time;\nvoid main() { gl_FragColor = vec4(time / 10.0, 0.0, 0.0, 1.0); }\n");
    show.write("second.frag", "uniform float time;\nvoid main() { gl_FragColor = vec4(0.0, time / 10.0, 0.0, 1.0); }\n");
    show.write("shader_sequence.txt", "first.frag 10\nsecond.frag 10\n");
    start();
    ASSERT_TRUE(testsupport::eventually([] { return titleTime() >= 1.0; }, 20s)) << "the music does not move";
    pressKey("Right");
    ASSERT_TRUE(testsupport::eventually(
        [] { return testsupport::titleOf(window().id).find("step 2/2 second.frag") != std::string::npos; }, 5s));
    const double time = titleTime();
    EXPECT_GE(time, 0.0);
    EXPECT_LT(time, 0.8) << "the step's time starts from 0";
    const Rgb colour = centre();
    EXPECT_EQ(colour.r, 0);
    EXPECT_LT(colour.g, 40) << testsupport::describe(colour);
}

TEST_F(PreviewTest, SpaceHoldsTimeUntilPressedAgain)
{
    show.write("clock.frag", "uniform float time;\nvoid main() { gl_FragColor = vec4(time / 30.0, 0.0, 0.0, 1.0); }\n");
    show.write("shader_sequence.txt", "clock.frag 100\n");
    start();
    ASSERT_TRUE(testsupport::eventually([] { return titleTime() >= 0.5; }, 20s));
    pressKey("space");
    ASSERT_TRUE(testsupport::eventually(
        [] { return testsupport::titleOf(window().id).find(" - paused") != std::string::npos; }, 5s));
    const double held = titleTime();
    const Rgb heldColour = centre();
    // The title is redrawn five times a second; time must stand through them.
    EXPECT_FALSE(testsupport::eventually([&] { return titleTime() != held; }, 1500ms)) << "time moved while paused";
    EXPECT_EQ(centre(), heldColour);
    pressKey("space");
    EXPECT_TRUE(testsupport::eventually([&] { return titleTime() > held + 0.2; }, 5s)) << "time did not go on";
}

TEST_F(PreviewTest, LLoopsTheCurrentStep)
{
    show.write("first.frag", "uniform float time;\nvoid main() { gl_FragColor = vec4(time, 0.0, 0.0, 1.0); }\n");
    show.write("second.frag", testsupport::solidShader(0, 1, 0));
    show.write("shader_sequence.txt", "first.frag 1\nsecond.frag 10\n");
    start();
    ASSERT_TRUE(testsupport::eventually([] { return titleTime() >= 0.1; }, 20s));
    pressKey("l");
    ASSERT_TRUE(testsupport::eventually(
        [] { return testsupport::titleOf(window().id).find(" - loop") != std::string::npos; }, 5s));
    // Two whole turns of the one-second step: time goes back to 0 and the next step never comes.
    double previous = titleTime();
    int wraps = 0;
    ASSERT_TRUE(testsupport::eventually(
        [&] {
            const double time = titleTime();
            wraps += time + 0.3 < previous ? 1 : 0;
            previous = time;
            return wraps >= 2;
        },
        10s, 50ms));
    EXPECT_NE(testsupport::titleOf(window().id).find("step 1/2 first.frag"), std::string::npos);
    EXPECT_FALSE(centre() == green);
}

TEST_F(PreviewTest, ARemovedSequenceFileIsAnErrorNotAnEnd)
{
    show.write("step.frag", testsupport::solidShader(1, 0, 0));
    show.write("shader_sequence.txt", "step.frag 100\n");
    start();
    ASSERT_TRUE(showsColour(red, 20s));
    std::remove(show.file("shader_sequence.txt").c_str());
    ASSERT_TRUE(testsupport::eventually(
        [&] { return preview->err().find("shader_sequence.txt: error:") != std::string::npos; }, 5s))
        << preview->err();
    EXPECT_TRUE(preview->running());
    show.write("shader_sequence.txt", "step.frag 100\n");
    EXPECT_TRUE(showsColour(red, 5s));
    ASSERT_EQ(testsupport::shell("xdotool windowfocus --sync " + std::to_string(window().id) + " key Escape"), 0);
    ASSERT_TRUE(preview->waitForExit(10s));
    EXPECT_EQ(preview->exitStatus(), 0);
}

} // namespace

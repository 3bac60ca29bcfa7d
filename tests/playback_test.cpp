// The real binary playing shows on a private X server: what reaches the
// screen, the console and the sound device, and how it ends.

#include "support/display.hpp"
#include "support/eventually.hpp"
#include "support/show.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <thread>

namespace
{

using namespace std::chrono_literals;
using testsupport::Rgb;
using testsupport::RunningProgram;
using testsupport::TempDir;

constexpr int screenWidth = 160;
constexpr int screenHeight = 120;
const char* const title = "Quorvel Desktop Overlay";

// How long the overlay may take to come up and draw: the sanitizer build on
// a loaded two-core machine has needed more than ten seconds.
constexpr auto overlayStart = 20s;

const Rgb red{255, 0, 0};
const Rgb green{0, 255, 0};
const Rgb blue{0, 0, 255};

class PlaybackTest : public testing::Test
{
protected:
    void SetUp() override { display = std::make_unique<testsupport::VirtualDisplay>(screenWidth, screenHeight); }

    std::unique_ptr<RunningProgram> start(const std::vector<std::string>& extraEnv = {"ALSOFT_DRIVERS=null"})
    {
        return std::make_unique<RunningProgram>(std::vector<std::string>{QUORVEL_BINARY}, folder.path(), extraEnv);
    }

    // The overlay is up and has drawn once it has mapped and the screen is no longer the desktop.
    static testsupport::WindowInfo waitForOverlay()
    {
        testsupport::eventually([] { return testsupport::findWindow(title).viewable; }, 5s);
        return testsupport::findWindow(title);
    }

    // The colour that fills the whole screen, or nothing when it is not uniform.
    static std::optional<Rgb> uniformColour(const testsupport::Screenshot& shot)
    {
        const Rgb first = shot.pixels.front();
        if (std::all_of(shot.pixels.begin(), shot.pixels.end(), [&](const Rgb& p) { return p == first; }))
            return first;
        return std::nullopt;
    }

    // Screenshots until the screen is uniformly `colour`.
    static bool waitForScreen(const Rgb& colour, std::chrono::milliseconds timeout)
    {
        return testsupport::eventually([&] { return uniformColour(testsupport::takeScreenshot()) == colour; },
                                       timeout);
    }

    // One red step that outlasts any test, over a 20 s tone.
    void writeRedShow() const
    {
        folder.write("red.frag", testsupport::solidShader(1, 0, 0));
        folder.write("shader_sequence.txt", "red.frag 100\n");
        testsupport::writeTone(folder.file("music.ogg"), 20);
    }

    static void pressKeys(const std::string& keys)
    {
        ASSERT_EQ(testsupport::shell("xdotool key --delay 20 " + keys), 0);
    }

    std::unique_ptr<testsupport::VirtualDisplay> display;
    TempDir folder;
};

TEST_F(PlaybackTest, StepsFollowTheMusicAndWrapAround)
{
    folder.write("red.frag", testsupport::solidShader(1, 0, 0));
    folder.write("green.frag", testsupport::solidShader(0, 1, 0));
    folder.write("shader_sequence.txt", "# two steps\nred.frag 1.0\ngreen.frag 0.6\n");
    testsupport::writeTone(folder.file("music.ogg"), 8);
    auto player = start();

    ASSERT_TRUE(player->waitForOutput("Shader caricate: 2\n", 10s));
    // Red first, then green after a second of music, then red again.
    EXPECT_TRUE(waitForScreen(red, 5s));
    ASSERT_TRUE(player->waitForOutput("Shader cambiata -> indice 1\n", 5s));
    EXPECT_TRUE(waitForScreen(green, 3s));
    ASSERT_TRUE(player->waitForOutput("Shader cambiata -> indice 0\n", 5s));
    EXPECT_TRUE(waitForScreen(red, 3s));
    ASSERT_TRUE(player->waitForOutput("Shader cambiata -> indice 1\nShader cambiata -> indice 0\n"
                                      "Shader cambiata -> indice 1\n",
                                      5s));

    // A frame read while no switch line is being written shows the step the console names.
    for (int i = 0; i < 20; ++i)
    {
        const std::string before = player->out();
        const std::optional<Rgb> colour = uniformColour(testsupport::takeScreenshot());
        std::this_thread::sleep_for(30ms);
        if (player->out() != before || before.size() < 2)
            continue;
        const bool onGreen = before[before.size() - 2] == '1';
        ASSERT_TRUE(colour.has_value()) << "every frame fills the whole screen with one step";
        EXPECT_EQ(*colour, onGreen ? green : red);
    }

    pressKeys("Escape");
    ASSERT_TRUE(player->waitForExit(10s));
    EXPECT_EQ(player->exitStatus(), 0);
    const std::vector<std::string> outLines = testsupport::lines(player->out());
    ASSERT_GE(outLines.size(), 4u);
    EXPECT_EQ(outLines[0], "Shader caricate: 2");
    for (std::size_t i = 1; i < outLines.size(); ++i)
        EXPECT_EQ(outLines[i], "Shader cambiata -> indice " + std::to_string(i % 2)) << "line " << i;
}

// With and without a window manager: either way the snapshot is the desktop,
// not the overlay's own unpainted window or a frame around it.
class SnapshotTest : public PlaybackTest, public testing::WithParamInterface<bool>
{
};

TEST_P(SnapshotTest, ReachesTheShaderWithRedAndBlueSwapped)
{
    if (GetParam())
        display->startWindowManager();
    // Top half red, bottom half green: red must show as blue, and the picture must not be flipped or shifted.
    testsupport::paintDesktop([](int, int y) { return y < screenHeight / 2 ? red : green; });
    folder.write("pass.frag", testsupport::passThroughShader());
    folder.write("shader_sequence.txt", "pass.frag 100\n");
    testsupport::writeTone(folder.file("music.ogg"), 3);
    auto player = start();
    ASSERT_TRUE(waitForOverlay().viewable);

    testsupport::Screenshot shot;
    const bool seen = testsupport::eventually(
        [&] {
            shot = testsupport::takeScreenshot();
            for (int y = 0; y < screenHeight; ++y)
                for (int x = 0; x < screenWidth; x += 7)
                    if (!(shot.at(x, y) == (y < screenHeight / 2 ? blue : green)))
                        return false;
            return true;
        },
        3s);
    EXPECT_TRUE(seen) << "the desktop's red top half shows as blue, its green bottom half as green; at (0,0) "
                      << testsupport::describe(shot.at(0, 0)) << ", at the bottom right "
                      << testsupport::describe(shot.at(screenWidth - 1, screenHeight - 1));
    pressKeys("Escape");
    ASSERT_TRUE(player->waitForExit(10s));
    EXPECT_EQ(player->exitStatus(), 0);
}

INSTANTIATE_TEST_SUITE_P(WindowManager, SnapshotTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "WithOpenbox" : "WithoutWindowManager";
                         });

TEST_F(PlaybackTest, TimeAndResolutionReachTheShader)
{
    // red = time / 4 s, green = width / 1024, blue = height / 1024.
    folder.write("uniforms.frag", "uniform float time;\nuniform vec2 resolution;\n"
                                  "void main() { gl_FragColor = vec4(time / 4.0, resolution / 1024.0, 1.0); }\n");
    folder.write("shader_sequence.txt", "uniforms.frag 1.5\n");
    testsupport::writeTone(folder.file("music.ogg"), 10);
    const Rgb desktop{12, 34, 56};
    testsupport::paintDesktop(desktop);
    auto player = start();
    ASSERT_TRUE(waitForOverlay().viewable);
    ASSERT_TRUE(testsupport::eventually([&] { return !(uniformColour(testsupport::takeScreenshot()) == desktop); }, 5s));

    const auto expectedGreen = static_cast<int>(std::lround(screenWidth / 1024.0 * 255));
    const auto expectedBlue = static_cast<int>(std::lround(screenHeight / 1024.0 * 255));
    float largestTime = 0;
    bool sawRestart = false;
    float previousTime = 0;
    const auto deadline = std::chrono::steady_clock::now() + 4s;
    while (std::chrono::steady_clock::now() < deadline)
    {
        const std::optional<Rgb> colour = uniformColour(testsupport::takeScreenshot());
        ASSERT_TRUE(colour.has_value());
        EXPECT_NEAR(colour->g, expectedGreen, 1);
        EXPECT_NEAR(colour->b, expectedBlue, 1);
        const float time = colour->r / 255.0f * 4.0f;
        // The clock restarts at every switch of this one-step show, and never passes its duration by much.
        EXPECT_LE(time, 1.5f + 0.1f);
        if (time + 0.5f < previousTime)
            sawRestart = true;
        largestTime = std::max(largestTime, time);
        previousTime = time;
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_GT(largestTime, 1.0f) << "time grows with the music";
    EXPECT_TRUE(sawRestart) << "time starts again from 0 at each switch";
    EXPECT_TRUE(player->waitForOutput("Shader cambiata -> indice 0\n", 1s));
}

TEST_F(PlaybackTest, EscapeEndsAndOtherKeysDoNot)
{
    // One red step that restarts every 0.2 s: its lines show that frames have run since the keys.
    folder.write("red.frag", testsupport::solidShader(1, 0, 0));
    folder.write("shader_sequence.txt", "red.frag 0.2\n");
    testsupport::writeTone(folder.file("music.ogg"), 20);

    for (const char* escape : {"Escape", "shift+Escape", "ctrl+alt+Escape"})
    {
        SCOPED_TRACE(escape);
        auto player = start();
        ASSERT_TRUE(waitForScreen(red, overlayStart));
        pressKeys("a space Return F1 q ctrl+w alt+F4");
        const std::size_t linesAfterKeys = testsupport::lines(player->out()).size();
        ASSERT_TRUE(testsupport::eventually(
            [&] { return testsupport::lines(player->out()).size() >= linesAfterKeys + 2 || !player->running(); }, 5s));
        EXPECT_TRUE(player->running()) << "keys other than Escape change nothing";
        pressKeys(escape);
        ASSERT_TRUE(player->waitForExit(10s));
        EXPECT_EQ(player->exitStatus(), 0);
        EXPECT_EQ(testsupport::lines(player->out()).front(), "Shader caricate: 1");
    }
}

// A shader that declares our uniforms with other types is said once, at load
// time, and plays; OpenGL's error report must not repeat on every frame.
TEST_F(PlaybackTest, UniformsOfAnotherTypeDoNotFloodStandardError)
{
    folder.write("odd.frag", "uniform int time;\nuniform vec3 resolution;\n"
                             "void main() { gl_FragColor = vec4(1.0, 0.0, 0.0, "
                             "1.0 + abs(float(time)) + abs(resolution.x)); }\n");
    folder.write("shader_sequence.txt", "odd.frag 0.2\n");
    testsupport::writeTone(folder.file("music.ogg"), 20);
    auto player = start();
    ASSERT_TRUE(waitForScreen(red, overlayStart));
    // A second of frames: five switches of the 0.2 s step.
    ASSERT_TRUE(player->waitForOutput("Shader cambiata -> indice 0\nShader cambiata -> indice 0\n"
                                      "Shader cambiata -> indice 0\nShader cambiata -> indice 0\n"
                                      "Shader cambiata -> indice 0\n",
                                      10s));
    pressKeys("Escape");
    ASSERT_TRUE(player->waitForExit(10s));
    EXPECT_EQ(player->exitStatus(), 0);
    const std::string err = player->err();
    for (const char* line : {"odd.frag: la uniform time è dichiarata int, il programma la imposta float: resta senza "
                             "valore.\n",
                             "odd.frag: la uniform resolution è dichiarata vec3, il programma la imposta vec2: resta "
                             "senza valore.\n"})
    {
        const std::size_t first = err.find(line);
        EXPECT_NE(first, std::string::npos) << err;
        EXPECT_EQ(err.find(line, first + 1), std::string::npos) << "said once";
    }
    // Hundreds of frames have run; SFML's report would be seven lines each.
    EXPECT_LT(err.size(), 512u) << err.substr(0, 2000);
}

TEST_F(PlaybackTest, CloseRequestEnds)
{
    writeRedShow();
    auto player = start();
    const testsupport::WindowInfo window = waitForOverlay();
    ASSERT_TRUE(window.viewable);
    testsupport::sendCloseRequest(window.id);
    ASSERT_TRUE(player->waitForExit(10s));
    EXPECT_EQ(player->exitStatus(), 0);
}

TEST_F(PlaybackTest, UnderAWindowManagerTheOverlayIsTopmostAndClosable)
{
    display->startWindowManager();
    writeRedShow();
    auto player = start();
    ASSERT_TRUE(waitForScreen(red, overlayStart)) << "the overlay covers the whole screen";

    const testsupport::WindowInfo window = testsupport::findWindow(title);
    EXPECT_EQ(window.x, 0);
    EXPECT_EQ(window.y, 0);
    EXPECT_EQ(window.width, screenWidth);
    EXPECT_EQ(window.height, screenHeight);
    const std::vector<std::string> states = testsupport::windowStates(window.id);
    EXPECT_NE(std::find(states.begin(), states.end(), "_NET_WM_STATE_ABOVE"), states.end());

    // The window manager has activated the overlay, so Escape would reach it; close it the way a user's
    // desktop does instead: the window manager's close request.
    ASSERT_EQ(testsupport::shell("wmctrl -c '" + std::string(title) + "'"), 0);
    ASSERT_TRUE(player->waitForExit(10s));
    EXPECT_EQ(player->exitStatus(), 0);
}

TEST_F(PlaybackTest, UnderAWindowManagerEscapeReachesTheOverlay)
{
    display->startWindowManager();
    writeRedShow();
    auto player = start();
    ASSERT_TRUE(waitForScreen(red, overlayStart)) << player->err();
    pressKeys("Escape");
    ASSERT_TRUE(player->waitForExit(10s));
    EXPECT_EQ(player->exitStatus(), 0);
}

TEST_F(PlaybackTest, OverlayCoversOnlyThePrimaryMonitor)
{
    ASSERT_EQ(testsupport::shell("xrandr --output screen --noprimary && "
                                 "xrandr --setmonitor left 60/20x120/20+0+0 none && "
                                 "xrandr --setmonitor '*right' 100/30x120/20+60+0 none"),
              0);
    testsupport::paintDesktop(Rgb{0, 0, 0});
    writeRedShow();
    auto player = start();
    ASSERT_TRUE(waitForOverlay().viewable);

    const bool placed = testsupport::eventually(
        [] {
            const testsupport::Screenshot shot = testsupport::takeScreenshot();
            return shot.at(59, 0) == Rgb{0, 0, 0} && shot.at(59, 119) == Rgb{0, 0, 0} && shot.at(60, 0) == red &&
                   shot.at(159, 119) == red;
        },
        3s);
    EXPECT_TRUE(placed) << "red exactly over the primary monitor, the other left as it was";
    const testsupport::WindowInfo window = testsupport::findWindow(title);
    EXPECT_EQ(window.x, 60);
    EXPECT_EQ(window.y, 0);
    EXPECT_EQ(window.width, 100);
    EXPECT_EQ(window.height, 120);
}

TEST_F(PlaybackTest, TheMusicIsReallyPlayed)
{
    folder.write("red.frag", testsupport::solidShader(1, 0, 0));
    folder.write("shader_sequence.txt", "red.frag 0.5\n");
    testsupport::writeTone(folder.file("music.ogg"), 1.5, 440);
    folder.write("alsoft.conf", "[general]\ndrivers=wave\n[wave]\nfile=" + folder.file("played.wav") + "\n");
    auto player = start({"ALSOFT_DRIVERS=", "ALSOFT_CONF=" + folder.file("alsoft.conf")});
    ASSERT_TRUE(player->waitForOutput("Shader caricate: 1\n", 10s));
    ASSERT_TRUE(player->waitForOutput("Shader cambiata -> indice 0\nShader cambiata -> indice 0\n", 10s));
    std::this_thread::sleep_for(1500ms);
    pressKeys("Escape");
    ASSERT_TRUE(player->waitForExit(10s));
    EXPECT_EQ(player->exitStatus(), 0);

    // sox reports the dominant frequency and the level of what OpenAL wrote.
    const testsupport::Recording played = testsupport::measureRecording(folder.file("played.wav"));
    EXPECT_NEAR(played.frequencyHz, 440, 15) << played.report;
    EXPECT_GT(played.rmsAmplitude, 0.1) << played.report;
    EXPECT_NEAR(played.lengthSeconds, 1.5, 0.05) << "the whole track, once";
}

// The audio library streams the music on a thread of its own, which ends
// with the track: the one outside sign that the music has stopped.
bool waitForTheMusicToStop(pid_t pid, std::size_t threadsWhilePlaying)
{
    return testsupport::eventually([&] { return testsupport::threadCount(pid) < threadsWhilePlaying; }, 20s);
}

TEST_F(PlaybackTest, AfterTheTrackEndsTheActiveStepStays)
{
    folder.write("red.frag", testsupport::solidShader(1, 0, 0));
    folder.write("green.frag", testsupport::solidShader(0, 1, 0));
    folder.write("shader_sequence.txt", "red.frag 0.4\ngreen.frag 0.4\n");
    testsupport::writeTone(folder.file("music.ogg"), 1.0);
    auto player = start();
    ASSERT_TRUE(player->waitForOutput("Shader caricate: 2\n", overlayStart));
    ASSERT_TRUE(player->waitForOutput("Shader cambiata -> indice 1\n", 10s));
    const std::size_t threadsWhilePlaying = testsupport::threadCount(player->pid());
    ASSERT_TRUE(player->waitForOutput("Shader cambiata -> indice 1\nShader cambiata -> indice 0\n", 10s));
    ASSERT_TRUE(waitForTheMusicToStop(player->pid(), threadsWhilePlaying));

    // Many frames after the end: no switch, and the same step on every one.
    const std::string settled = player->out();
    ASSERT_GE(settled.size(), 2u);
    const Rgb expected = settled[settled.size() - 2] == '1' ? green : red;
    for (int i = 0; i < 20; ++i)
    {
        EXPECT_EQ(uniformColour(testsupport::takeScreenshot()), expected) << "screenshot " << i;
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(player->out(), settled) << "no switches once the music has stopped";
    EXPECT_TRUE(player->running());
    pressKeys("Escape");
    ASSERT_TRUE(player->waitForExit(10s));
    EXPECT_EQ(player->exitStatus(), 0);
}

// The step left on screen keeps the picture it had when the music stopped:
// its `time` stays where the music left it instead of going back.
TEST_F(PlaybackTest, AfterTheTrackEndsTheLastPictureStays)
{
    folder.write("red.frag", testsupport::solidShader(1, 0, 0));
    // Green for its first 0.6 s, blue after.
    folder.write("late.frag", "uniform float time;\n"
                              "void main() { gl_FragColor = time < 0.6 ? vec4(0.0, 1.0, 0.0, 1.0) : vec4(0.0, 0.0, 1.0, 1.0); }\n");
    folder.write("shader_sequence.txt", "red.frag 0.8\nlate.frag 100\n");
    testsupport::writeTone(folder.file("music.ogg"), 1.8);
    auto player = start();
    ASSERT_TRUE(player->waitForOutput("Shader caricate: 2\n", overlayStart));
    ASSERT_TRUE(player->waitForOutput("Shader cambiata -> indice 1\n", 10s));
    const std::size_t threadsWhilePlaying = testsupport::threadCount(player->pid());
    ASSERT_TRUE(waitForScreen(blue, 10s)) << "the late step's time passes 0.6 s before the end";
    ASSERT_TRUE(waitForTheMusicToStop(player->pid(), threadsWhilePlaying));
    for (int i = 0; i < 20; ++i)
    {
        EXPECT_EQ(uniformColour(testsupport::takeScreenshot()), blue) << "screenshot " << i << ": time went back";
        std::this_thread::sleep_for(20ms);
    }
    pressKeys("Escape");
    ASSERT_TRUE(player->waitForExit(10s));
    EXPECT_EQ(player->exitStatus(), 0);
}

TEST_F(PlaybackTest, EscapeEndsAShowStuckInARunawayShader)
{
    folder.write("runaway.frag", testsupport::runawayShader());
    folder.write("shader_sequence.txt", "runaway.frag 100\n");
    testsupport::writeTone(folder.file("music.ogg"), 20);
    auto player = start();
    ASSERT_TRUE(player->waitForOutput("Shader caricate: 1\n", overlayStart));
    ASSERT_TRUE(testsupport::eventually([] { return testsupport::findWindow(title).viewable; }, overlayStart));
    // Pressed until it ends: the first press may come before the loop has begun.
    const bool ended = testsupport::eventually(
        [&] {
            testsupport::shell("xdotool key Escape");
            return !player->running();
        },
        5s, 300ms);
    ASSERT_TRUE(ended) << "Escape did not end a show stuck in one frame";
    EXPECT_EQ(player->exitStatus(), 0) << player->err();
}

TEST_F(PlaybackTest, AFrameLongerThanTenSecondsEndsTheShowWithALine)
{
    folder.write("red.frag", testsupport::solidShader(1, 0, 0));
    folder.write("runaway.frag", testsupport::runawayShader());
    folder.write("shader_sequence.txt", "red.frag 0.3\nrunaway.frag 100\n");
    testsupport::writeTone(folder.file("music.ogg"), 30);
    auto player = start();
    ASSERT_TRUE(player->waitForOutput("Shader cambiata -> indice 1\n", overlayStart));
    ASSERT_TRUE(player->waitForExit(30s)) << "the runaway frame was never stopped";
    EXPECT_EQ(player->exitStatus(), 255);
    EXPECT_EQ(testsupport::ourLines(player->err()), std::vector<std::string>{});
    EXPECT_NE(player->err().find("La shader runaway.frag ha impiegato più di 10 secondi per disegnare un fotogramma: "
                                 "il programma termina.\n"),
              std::string::npos)
        << player->err();
}

// OpenAL finds no device (a backend name that does not exist stands in for a
// machine without a sound card): one line says so, nothing floods standard
// error, and the show holds its first step until Escape.
TEST_F(PlaybackTest, WithoutASoundDeviceTheShowHoldsItsFirstStepQuietly)
{
    folder.write("red.frag", testsupport::solidShader(1, 0, 0));
    folder.write("green.frag", testsupport::solidShader(0, 1, 0));
    folder.write("shader_sequence.txt", "red.frag 0.2\ngreen.frag 0.2\n");
    testsupport::writeTone(folder.file("music.ogg"), 5);
    auto player = start({"ALSOFT_DRIVERS=nosuchdriver"});
    ASSERT_TRUE(waitForScreen(red, overlayStart));
    std::this_thread::sleep_for(1s);
    const std::size_t errorLines = testsupport::lines(player->err()).size();
    std::this_thread::sleep_for(1s);
    EXPECT_EQ(testsupport::lines(player->err()).size(), errorLines) << "standard error stays quiet while it plays";
    EXPECT_TRUE(waitForScreen(red, 1s)) << "still the first step";
    EXPECT_EQ(player->out(), "Shader caricate: 2\n") << "the position never moves, so nothing switches";

    pressKeys("Escape");
    ASSERT_TRUE(player->waitForExit(10s));
    EXPECT_EQ(player->exitStatus(), 0);
    const std::string err = player->err();
    const std::string line = "Nessun dispositivo audio: la musica non suona e la sequenza resta ferma.\n";
    const std::size_t first = err.find(line);
    EXPECT_NE(first, std::string::npos) << err;
    EXPECT_EQ(err.find(line, first + 1), std::string::npos) << "said once";
}

TEST_F(PlaybackTest, WindowManagerExitingLeavesTheShowPlaying)
{
    display->startWindowManager();
    writeRedShow();
    auto player = start();
    ASSERT_TRUE(waitForScreen(red, overlayStart));
    display->stopWindowManager();
    std::this_thread::sleep_for(500ms);
    EXPECT_TRUE(player->running());
    EXPECT_TRUE(waitForScreen(red, 3s)) << "still drawing over the whole screen";
    testsupport::sendCloseRequest(testsupport::findWindow(title).id);
    ASSERT_TRUE(player->waitForExit(10s));
    EXPECT_EQ(player->exitStatus(), 0);
}

TEST_F(PlaybackTest, XServerGoingAwayEndsThePlayerWithoutACrash)
{
    writeRedShow();
    auto player = start();
    ASSERT_TRUE(waitForScreen(red, overlayStart));
    display->stopServer();
    ASSERT_TRUE(player->waitForExit(10s)) << "it must not hang";
    EXPECT_EQ(player->signal(), 0) << "no abort, no core dump:\n" << player->err();
    EXPECT_EQ(player->exitStatus(), 255);
    EXPECT_EQ(testsupport::ourLines(player->err()), std::vector<std::string>{}) << "none of the start-up or playback lines is due";
    EXPECT_NE(player->err().find("Connessione al display X persa: il programma termina.\n"), std::string::npos)
        << player->err();
}

} // namespace

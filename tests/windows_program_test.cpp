// The Windows program as a user gets it: quorvel.exe and its DLLs out of the
// zip that scripts/build-windows.sh packs, run under Wine on a private X
// server. Wine's GDI reads the X root window and its windows are X windows,
// so the desktop, the screen and the keys are the same real ones as in the
// Linux tests. Console lines of a Windows program end in CR LF: lines are
// compared, not bytes.

#include "support/display.hpp"
#include "support/eventually.hpp"
#include "support/show.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

namespace
{

using namespace std::chrono_literals;
using testsupport::Rgb;
using testsupport::TempDir;
using Lines = std::vector<std::string>;

constexpr int screenWidth = 160;
constexpr int screenHeight = 120;
const char* const title = "Quorvel Desktop Overlay";
const Rgb red{255, 0, 0};
const Rgb green{0, 255, 0};
const Rgb blue{0, 0, 255};

// Lines without their CR.
Lines windowsLines(const std::string& text)
{
    Lines result = testsupport::lines(text);
    for (std::string& line : result)
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
    return result;
}

std::string withoutCarriageReturns(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

std::string windowsPath(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

bool screenIs(const Rgb& colour)
{
    const testsupport::Screenshot shot = testsupport::takeScreenshot();
    return std::all_of(shot.pixels.begin(), shot.pixels.end(), [&](const Rgb& p) { return p == colour; });
}

class WindowsProgramTest : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        display = std::make_unique<testsupport::VirtualDisplay>(screenWidth, screenHeight);
        prefix = std::make_unique<TempDir>();
        program = std::make_unique<TempDir>();
        ASSERT_EQ(testsupport::shell("unzip -q '" WINDOWS_PACKAGE_ZIP "' -d '" + program->path() + "'"), 0);
        programFolder = program->path() + "/" WINDOWS_PACKAGE_NAME;
        // The first start creates the Wine prefix, which takes a while; later starts take seconds.
        testsupport::runProgram({WINE_PROGRAM, "cmd", "/c", "exit"}, prefix->path(), 180s, wineEnvironment());
    }

    static void TearDownTestSuite()
    {
        testsupport::runProgram({WINESERVER_PROGRAM, "-k"}, prefix->path(), 30s, wineEnvironment());
        program.reset();
        prefix.reset();
        display.reset();
    }

    static std::vector<std::string> wineEnvironment(const std::vector<std::string>& extra = {"ALSOFT_DRIVERS=null"})
    {
        std::vector<std::string> env = {"WINEPREFIX=" + prefix->path(), "WINEDEBUG=-all",
                                        "WINEDLLOVERRIDES=mscoree,mshtml="};
        env.insert(env.end(), extra.begin(), extra.end());
        return env;
    }

    std::unique_ptr<testsupport::RunningProgram> start(const std::vector<std::string>& extraEnv = {"ALSOFT_DRIVERS=null"})
    {
        return std::make_unique<testsupport::RunningProgram>(
            std::vector<std::string>{WINE_PROGRAM, programFolder + "/quorvel.exe"}, folder.path(),
            wineEnvironment(extraEnv));
    }

    void writeTwoStepShow(double musicSeconds = 20) const
    {
        folder.write("red.frag", testsupport::solidShader(1, 0, 0));
        folder.write("green.frag", testsupport::solidShader(0, 1, 0));
        folder.write("shader_sequence.txt", "red.frag 0.5\r\ngreen.frag 0.5\r\n");
        testsupport::writeTone(folder.file("music.ogg"), musicSeconds);
    }

    static void pressEscapeAndExpectZero(testsupport::RunningProgram& player)
    {
        ASSERT_EQ(testsupport::shell("xdotool key Escape"), 0);
        ASSERT_TRUE(player.waitForExit(30s)) << "Escape must end it";
        EXPECT_EQ(player.exitStatus(), 0) << player.err();
    }

    static inline std::unique_ptr<testsupport::VirtualDisplay> display;
    static inline std::unique_ptr<TempDir> prefix;
    static inline std::unique_ptr<TempDir> program;
    static inline std::string programFolder;
    TempDir folder;
};

struct StartupCase
{
    const char* name;
    std::function<void(const TempDir&)> prepare;
    Lines out;
    Lines err;
};

TEST_F(WindowsProgramTest, StartUpFailuresEndWithTheirLinesAndStatus)
{
    const StartupCase cases[] = {
        {"no sequence file", [](const TempDir&) {}, {}, {"Errore apertura file: shader_sequence.txt", "Nessuna shader caricata!"}},
        {"no loadable shader",
         [](const TempDir& f) {
             f.write("broken.frag", "void main() { not glsl }\n");
             f.write("shader_sequence.txt", "broken.frag 1\nmissing.frag 2\n");
         },
         {"Shader caricate: 0"},
         {"Errore nel caricamento dello shader: broken.frag", "Errore nel caricamento dello shader: missing.frag",
          "Nessuna shader caricata!"}},
        {"music that is not music",
         [](const TempDir& f) {
             f.write("red.frag", testsupport::solidShader(1, 0, 0));
             f.write("shader_sequence.txt", "red.frag 1\n");
             f.write("music.ogg", "not an Ogg file");
         },
         {"Shader caricate: 1"},
         {"Errore nel caricamento della musica!"}},
    };
    for (const StartupCase& c : cases)
    {
        SCOPED_TRACE(c.name);
        TempDir show;
        c.prepare(show);
        const testsupport::RunResult run = testsupport::runProgram(
            {WINE_PROGRAM, programFolder + "/quorvel.exe"}, show.path(), 60s, wineEnvironment());
        EXPECT_EQ(run.exitStatus, 255);
        EXPECT_EQ(windowsLines(run.out), c.out);
        EXPECT_EQ(testsupport::ourLines(withoutCarriageReturns(run.err)), c.err) << run.err;
        if (!run.out.empty())
            EXPECT_NE(run.out.find("\r\n"), std::string::npos) << "console lines end in CR LF";
    }
}

TEST_F(WindowsProgramTest, StepsFollowTheMusicAndEscapeEnds)
{
    writeTwoStepShow();
    auto player = start();
    ASSERT_TRUE(player->waitForOutput("Shader caricate: 2\r\n", 60s)) << player->out() << player->err();
    EXPECT_TRUE(testsupport::eventually([] { return screenIs(red); }, 10s));
    ASSERT_TRUE(player->waitForOutput("Shader cambiata -> indice 1\r\n", 10s)) << player->out();
    EXPECT_TRUE(testsupport::eventually([] { return screenIs(green); }, 5s));
    ASSERT_TRUE(player->waitForOutput("Shader cambiata -> indice 0\r\n", 10s)) << player->out();
    EXPECT_TRUE(testsupport::eventually([] { return screenIs(red); }, 5s));
    pressEscapeAndExpectZero(*player);
}

TEST_F(WindowsProgramTest, SnapshotReachesTheShaderWithRedAndBlueSwapped)
{
    testsupport::paintDesktop(red);
    folder.write("pass.frag", testsupport::passThroughShader());
    folder.write("shader_sequence.txt", "pass.frag 100\n");
    testsupport::writeTone(folder.file("music.ogg"), 20);
    auto player = start();
    ASSERT_TRUE(player->waitForOutput("Shader caricate: 1\r\n", 60s)) << player->err();
    EXPECT_TRUE(testsupport::eventually([] { return screenIs(blue); }, 10s))
        << "the red desktop shows blue through a shader that does not swap";
    pressEscapeAndExpectZero(*player);
    testsupport::paintDesktop(Rgb{0, 0, 0});
}

TEST_F(WindowsProgramTest, CloseRequestEnds)
{
    writeTwoStepShow();
    auto player = start();
    ASSERT_TRUE(testsupport::eventually([] { return testsupport::findWindow(title).viewable; }, 60s));
    ASSERT_TRUE(player->waitForOutput("Shader cambiata -> indice 1\r\n", 10s));
    testsupport::sendCloseRequest(testsupport::findWindow(title).id);
    ASSERT_TRUE(player->waitForExit(30s));
    EXPECT_EQ(player->exitStatus(), 0);
}

TEST_F(WindowsProgramTest, UnderAWindowManagerTheWindowIsTopmost)
{
    display->startWindowManager();
    writeTwoStepShow();
    auto player = start();
    ASSERT_TRUE(player->waitForOutput("Shader cambiata -> indice 1\r\n", 60s));
    const testsupport::WindowInfo window = testsupport::findWindow(title);
    const std::vector<std::string> states = testsupport::windowStates(window.id);
    EXPECT_NE(std::find(states.begin(), states.end(), "_NET_WM_STATE_ABOVE"), states.end());
    pressEscapeAndExpectZero(*player);
    display->stopWindowManager();
}

TEST_F(WindowsProgramTest, TheMusicIsHeard)
{
    folder.write("red.frag", testsupport::solidShader(1, 0, 0));
    folder.write("shader_sequence.txt", "red.frag 0.5\n");
    testsupport::writeTone(folder.file("music.ogg"), 1.5, 440);
    folder.write("alsoft.ini", "[general]\r\ndrivers=wave\r\n[wave]\r\nfile=" + windowsPath(folder.file("played.wav")) +
                                   "\r\n");
    auto player = start({"ALSOFT_CONF=" + windowsPath(folder.file("alsoft.ini"))});
    ASSERT_TRUE(player->waitForOutput("Shader cambiata -> indice 0\r\nShader cambiata -> indice 0\r\n", 60s))
        << player->err();
    // The track ends while the switch lines stop: its last half second.
    ASSERT_TRUE(testsupport::eventually(
        [&] {
            const std::string before = player->out();
            std::this_thread::sleep_for(700ms);
            return player->out() == before;
        },
        20s));
    pressEscapeAndExpectZero(*player);

    const testsupport::Recording played = testsupport::measureRecording(folder.file("played.wav"));
    EXPECT_NEAR(played.frequencyHz, 440, 15) << played.report;
    EXPECT_GT(played.rmsAmplitude, 0.1) << played.report;
    EXPECT_NEAR(played.lengthSeconds, 1.5, 0.05) << "the whole track, once";
}

TEST_F(WindowsProgramTest, PlayExampleBatchFilePlaysTheShowBesideIt)
{
    testsupport::paintDesktop([](int x, int y) { return (x / 20 + y / 20) % 2 ? red : Rgb{240, 240, 240}; });
    const std::vector<std::string> env = wineEnvironment();
    testsupport::RunningProgram player({WINE_PROGRAM, "cmd", "/c", programFolder + "/play-example.bat"},
                                       program->path(), env);
    ASSERT_TRUE(player.waitForOutput("Shader caricate: 14\r\n", 60s)) << player.out() << player.err();
    ASSERT_TRUE(player.waitForOutput("Shader cambiata -> indice 1\r\n", 10s)) << player.out();
    const testsupport::Screenshot shot = testsupport::takeScreenshot();
    EXPECT_FALSE(std::all_of(shot.pixels.begin(), shot.pixels.end(),
                             [&](const Rgb& p) { return p == shot.pixels.front(); }))
        << "the example's effects draw more than one plain colour";
    pressEscapeAndExpectZero(player);
}

} // namespace

namespace
{

// quorvel-check.exe from the zip compiles with the real driver there (Wine's
// OpenGL on the X server) and agrees with the player on the same folder.
TEST_F(WindowsProgramTest, CheckExplainsAShowWithTheDriver)
{
    writeTwoStepShow(2);
    folder.write("broken.frag", "void main()\r\n{\r\n    gl_FragColor = vec4(nothing);\r\n}\r\n");
    folder.write("shader_sequence.txt", "red.frag 0.5\r\nbroken.frag 1\r\ngreen.frag x\r\ngreen.frag 0.5\r\n");
    const testsupport::RunResult check =
        testsupport::runProgram({WINE_PROGRAM, programFolder + "/quorvel-check.exe"}, folder.path(), 120s,
                                wineEnvironment());
    EXPECT_EQ(check.exitStatus, 1) << check.out << check.err;
    const Lines lines = windowsLines(check.out);
    const auto has = [&](const std::string& start) {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.rfind(start, 0) == 0; });
    };
    EXPECT_TRUE(has("shader_sequence.txt:3: error: unreadable duration 'x'")) << check.out;
    EXPECT_TRUE(has("broken.frag:3: error: ")) << check.out;
    EXPECT_TRUE(has("shader_sequence.txt: note: 2 of 3 steps load; music.ogg lasts 2.000 s")) << check.out;
    EXPECT_NE(check.out.find("\r\n"), std::string::npos) << "console lines on Windows end in CR LF";

    // The player on the same folder loads the same two steps.
    const auto player = start();
    ASSERT_TRUE(player->waitForOutput("Shader caricate: 2", 60s)) << player->out() << player->err();
}

} // namespace

namespace
{

// As on Linux: when the track ends, `time` stays where the music stopped. The
// music streams on a thread of the program's own (a thread of the Wine
// process), which ends with the track.
TEST_F(WindowsProgramTest, AfterTheTrackEndsTheLastPictureStays)
{
    folder.write("red.frag", testsupport::solidShader(1, 0, 0));
    folder.write("late.frag", "uniform float time;\r\n"
                              "void main() { gl_FragColor = time < 0.6 ? vec4(0.0, 1.0, 0.0, 1.0) : vec4(0.0, 0.0, 1.0, 1.0); }\r\n");
    folder.write("shader_sequence.txt", "red.frag 0.8\r\nlate.frag 100\r\n");
    testsupport::writeTone(folder.file("music.ogg"), 1.8);
    const auto player = start();
    ASSERT_TRUE(player->waitForOutput("Shader cambiata -> indice 1", 60s)) << player->out() << player->err();
    const std::size_t threadsWhilePlaying = testsupport::threadCount(player->pid());
    ASSERT_TRUE(testsupport::eventually([] { return screenIs(blue); }, 20s))
        << "the late step's time passes 0.6 s before the end";
    ASSERT_TRUE(testsupport::eventually([&] { return testsupport::threadCount(player->pid()) < threadsWhilePlaying; }, 20s))
        << "the music's thread did not end";
    for (int i = 0; i < 20; ++i)
    {
        EXPECT_TRUE(screenIs(blue)) << "screenshot " << i << ": time went back";
        std::this_thread::sleep_for(20ms);
    }
    pressEscapeAndExpectZero(*player);
}

} // namespace

namespace
{

// The frame watch of the Windows program: a frame that takes minutes ends
// the show after 10 s with one line naming the shader. (Escape during such
// a frame is read from the keyboard's state, which Wine updates only on the
// window's own thread, the one inside the frame: it is not tested here.)
TEST_F(WindowsProgramTest, AFrameLongerThanTenSecondsEndsTheShowWithALine)
{
    folder.write("runaway.frag", testsupport::runawayShader());
    folder.write("shader_sequence.txt", "runaway.frag 100\r\n");
    testsupport::writeTone(folder.file("music.ogg"), 30);
    const auto player = start();
    ASSERT_TRUE(player->waitForExit(90s)) << "the runaway frame was never stopped";
    EXPECT_EQ(player->exitStatus(), 255);
    EXPECT_NE(withoutCarriageReturns(player->err())
                  .find("La shader runaway.frag ha impiegato più di 10 secondi per disegnare un fotogramma: "
                        "il programma termina.\n"),
              std::string::npos)
        << player->err();
}

} // namespace

namespace
{

// The same show folder loads the same shaders as on Linux: names in a UTF-8
// sequence file (as Notepad saves it) are UTF-8, and only bytes that are not
// UTF-8 are read in the ANSI code page (here Windows-1252).
TEST_F(WindowsProgramTest, NonAsciiShaderNamesLoadAsOnLinux)
{
    writeTwoStepShow();
    folder.write("citt\xc3\xa0.frag", testsupport::solidShader(1, 0, 0));
    folder.write("\xc3\xa8.frag", testsupport::solidShader(0, 1, 0));
    const struct
    {
        const char* name;
        std::string sequence;
        const char* loaded;
    } cases[] = {
        {"UTF-8", "citt\xc3\xa0.frag 0.5\r\n\xc3\xa8.frag 0.5\r\n", "Shader caricate: 2"},
        {"Windows-1252", "citt\xe0.frag 0.5\r\nred.frag 0.5\r\n", "Shader caricate: 2"},
        {"a name that is nowhere", "citt\xc3\xa1.frag 0.5\r\nred.frag 0.5\r\n", "Shader caricate: 1"},
    };
    for (const auto& c : cases)
    {
        folder.write("shader_sequence.txt", c.sequence);
        testsupport::RunningProgram player({WINE_PROGRAM, programFolder + "/quorvel.exe"}, folder.path(),
                                           wineEnvironment({"ALSOFT_DRIVERS=null", "LANG=C.UTF-8", "LC_ALL="}));
        EXPECT_TRUE(player.waitForOutput(c.loaded, 60s)) << c.name << ": " << player.out() << player.err();
        ASSERT_TRUE(testsupport::eventually([] { return testsupport::findWindow(title).viewable; }, 60s));
        pressEscapeAndExpectZero(player);
    }
}

} // namespace

namespace
{

// quorvel-preview.exe from the zip: an ordinary window, not above others
// under a window manager. (Its reload on save passes run alone under Wine
// but not yet at the end of this whole suite; not checked here until that is
// understood.)
TEST_F(WindowsProgramTest, PreviewIsAnOrdinaryWindow)
{
    display->startWindowManager();
    folder.write("step.frag", testsupport::solidShader(1, 0, 0));
    folder.write("shader_sequence.txt", "step.frag 100\r\n");
    testsupport::writeTone(folder.file("music.ogg"), 30);
    testsupport::RunningProgram preview({WINE_PROGRAM, programFolder + "/quorvel-preview.exe"}, folder.path(),
                                        wineEnvironment());
    const auto window = [] { return testsupport::findWindowTitled("Quorvel preview", true); };
    const auto middleIs = [&](const Rgb& colour) {
        const testsupport::WindowInfo info = window();
        const testsupport::Screenshot shot = testsupport::takeScreenshot();
        const int x = std::clamp(info.x + info.width / 2, 0, shot.width - 1);
        const int y = std::clamp(info.y + info.height - 8, 0, shot.height - 1);
        return info.viewable && shot.at(x, y) == colour;
    };
    ASSERT_TRUE(testsupport::eventually([&] { return middleIs(red); }, 60s)) << preview.err();
    const std::vector<std::string> states = testsupport::windowStates(window().id);
    EXPECT_EQ(std::find(states.begin(), states.end(), "_NET_WM_STATE_ABOVE"), states.end());
    display->stopWindowManager();
}

} // namespace

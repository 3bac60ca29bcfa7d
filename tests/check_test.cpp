// quorvel-check, the real binary: its verdicts against the real player's on
// the same folders, compile errors at their lines with either compiler, the
// music, and its exit statuses.

#include "support/case_name.hpp"
#include "support/display.hpp"
#include "support/eventually.hpp"
#include "support/show.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>

namespace
{

using namespace std::chrono_literals;
using testsupport::RunResult;
using testsupport::TempDir;

// The children see this display and nothing of a desktop session around the test.
std::vector<std::string> withDisplay()
{
    return {"WAYLAND_DISPLAY=", "XDG_SESSION_TYPE=x11", "ALSOFT_DRIVERS=null"};
}
std::vector<std::string> withoutDisplay()
{
    return {"DISPLAY=", "WAYLAND_DISPLAY=", "XDG_SESSION_TYPE=", "ALSOFT_DRIVERS=null"};
}

RunResult runCheck(const TempDir& folder, const std::vector<std::string>& args, const std::vector<std::string>& env)
{
    std::vector<std::string> argv = {QUORVEL_CHECK_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    return testsupport::runProgram(argv, folder.path(), 60s, env);
}

// The JSON fields the tests read, by pattern: the output is one flat object per entry.
int jsonInt(const std::string& json, const std::string& field)
{
    std::smatch match;
    if (!std::regex_search(json, match, std::regex("\"" + field + "\": (-?\\d+)")))
        return -1;
    return std::stoi(match[1]);
}

// Shaders named by steps that do not load, by the JSON's steps.
std::set<std::string> failedShaders(const std::string& json)
{
    std::set<std::string> shaders;
    static const std::regex step(R"re(\{"line": \d+, "shader": "([^"]*)", "duration": [^,]+, "ok": false)re");
    for (auto it = std::sregex_iterator(json.begin(), json.end(), step); it != std::sregex_iterator(); ++it)
        shaders.insert((*it)[1]);
    return shaders;
}

// Lines of the sequence file reported as errors.
std::vector<int> sequenceErrorLines(const std::string& json)
{
    std::vector<int> found;
    static const std::regex problem(R"re(\{"file": "shader_sequence.txt", "line": (\d+), "severity": "error")re");
    for (auto it = std::sregex_iterator(json.begin(), json.end(), problem); it != std::sregex_iterator(); ++it)
        if (std::stoi((*it)[1]) > 0)
            found.push_back(std::stoi((*it)[1]));
    return found;
}

class CheckTest : public testing::Test
{
protected:
    static void SetUpTestSuite() { display = std::make_unique<testsupport::VirtualDisplay>(160, 120); }
    static void TearDownTestSuite() { display.reset(); }

    // Shaders that compile, one that does not, and the music.
    void writeShaders() const
    {
        folder.write("red.frag", testsupport::solidShader(1, 0, 0));
        folder.write("green.frag", testsupport::solidShader(0, 1, 0));
        folder.write("blue.frag", testsupport::solidShader(0, 0, 1));
        folder.write("broken.frag", "void main() { gl_FragColor = vec4(nothing); }\n");
        folder.write("citt\xc3\xa0.frag", testsupport::solidShader(1, 1, 0));
        testsupport::writeTone(folder.file("music.ogg"), 10);
    }

    // The player's own account of the folder: how many steps it loaded and which shaders failed.
    struct PlayerVerdict
    {
        int loaded = -1;
        std::set<std::string> failed;
    };
    PlayerVerdict runPlayer() const
    {
        testsupport::RunningProgram player({QUORVEL_BINARY}, folder.path(), withDisplay());
        const std::string loadedLine = "Shader caricate: ";
        const bool announced = testsupport::eventually(
            [&] { return player.out().find(loadedLine) != std::string::npos || !player.running(); }, 30s);
        PlayerVerdict verdict;
        if (!announced)
            return verdict;
        const std::string out = player.out();
        const std::size_t at = out.find(loadedLine);
        if (at != std::string::npos)
            verdict.loaded = std::stoi(out.substr(at + loadedLine.size()));
        const std::string failedLine = "Errore nel caricamento dello shader: ";
        for (const std::string& line : testsupport::lines(player.err()))
            if (line.rfind(failedLine, 0) == 0)
                verdict.failed.insert(line.substr(failedLine.size()));
        return verdict;
    }

    static std::unique_ptr<testsupport::VirtualDisplay> display;
    TempDir folder;
};

std::unique_ptr<testsupport::VirtualDisplay> CheckTest::display;

struct SequenceCase
{
    const char* name;
    std::string sequence;
    int loaded;                      // as the player reports it
    std::vector<int> skippedLines;   // lines the checker reports as giving no step
};

void PrintTo(const SequenceCase& c, std::ostream* os) { *os << c.name; }

std::string utf16(const std::string& ascii)
{
    std::string out = "\xff\xfe";
    for (char c : ascii)
        out += std::string{c, '\0'};
    return out;
}

const SequenceCase sequenceCases[] = {
    {"plain with comments and blank lines", "# intro\n\nred.frag 1\n   \ngreen.frag 2\n", 2, {}},
    {"CR LF line ends", "# intro\r\nred.frag 1\r\n\r\ngreen.frag 2\r\n", 2, {}},
    {"unreadable and out of range durations", "red.frag x\ngreen.frag 1e39\nblue.frag 2,5\nred.frag\n", 1, {1, 2, 4}},
    {"byte order mark glued to the first path", "\xef\xbb\xbfred.frag 1\ngreen.frag 1\n", 1, {1}},
    {"byte order mark before a comment", "\xef\xbb\xbf# intro\nred.frag 1\n", 1, {1}},
    {"lone CR line ends", "red.frag 1\rgreen.frag 1\rblue.frag 1\r", 1, {1}},
    {"broken, missing and folder shaders", "broken.frag 1\nmissing.frag 1\nred.frag 1\nsub 1\n", 1, {}},
    {"over-long line", std::string(70000, 'x') + " 1\nred.frag 1\n", 1, {1}},
    {"UTF-16", utf16("red.frag 1\n"), 0, {1}},
    {"non-ASCII name in UTF-8", "citt\xc3\xa0.frag 1\nred.frag 1\n", 2, {}},
    {"non-ASCII name in Latin-1 does not name the UTF-8 file", "citt\xe0.frag 1\nred.frag 1\n", 1, {}},
    {"nothing loads", "broken.frag 1\n", 0, {}},
};

class CheckAgreesWithThePlayer : public CheckTest, public testing::WithParamInterface<SequenceCase>
{
};

TEST_P(CheckAgreesWithThePlayer, OnStepsSkippedLinesAndFailedShaders)
{
    const SequenceCase& c = GetParam();
    writeShaders();
    std::filesystem::create_directory(folder.file("sub"));
    folder.write("shader_sequence.txt", c.sequence);

    const PlayerVerdict player = runPlayer();
    ASSERT_EQ(player.loaded, c.loaded) << "the case's expectation no longer matches the player";

    const RunResult check = runCheck(folder, {"--json"}, withDisplay());
    EXPECT_EQ(jsonInt(check.out, "loaded_steps"), player.loaded) << check.out;
    EXPECT_EQ(failedShaders(check.out), player.failed) << check.out;
    EXPECT_EQ(sequenceErrorLines(check.out), c.skippedLines) << check.out;
    const bool clean = c.skippedLines.empty() && player.failed.empty() && player.loaded > 0;
    EXPECT_EQ(check.exitStatus, clean ? 0 : 1) << check.out << check.err;
}

INSTANTIATE_TEST_SUITE_P(Sequences, CheckAgreesWithThePlayer, testing::ValuesIn(sequenceCases),
                         [](const testing::TestParamInfo<SequenceCase>& info) {
                             return testsupport::caseName(info.param.name);
                         });

// The steps the check lists as loading are the ones the player shows, in its order.
TEST_F(CheckTest, StepsListedInTheOrderThePlayerShowsThem)
{
    writeShaders();
    folder.write("shader_sequence.txt", "blue.frag 1\nbroken.frag 1\nred.frag x\nred.frag 1\ngreen.frag 1\n");
    const RunResult check = runCheck(folder, {"--json"}, withDisplay());
    std::vector<std::string> listed;
    static const std::regex loaded(R"re("shader": "([^"]*)", "duration": [^,]+, "ok": true)re");
    for (auto it = std::sregex_iterator(check.out.begin(), check.out.end(), loaded); it != std::sregex_iterator(); ++it)
        listed.push_back((*it)[1]);
    ASSERT_EQ(listed, (std::vector<std::string>{"blue.frag", "red.frag", "green.frag"})) << check.out;

    const std::map<std::string, testsupport::Rgb> colours = {
        {"red.frag", {255, 0, 0}}, {"green.frag", {0, 255, 0}}, {"blue.frag", {0, 0, 255}}};
    testsupport::RunningProgram player({QUORVEL_BINARY}, folder.path(), withDisplay());
    std::vector<testsupport::Rgb> seen;
    testsupport::eventually(
        [&] {
            const testsupport::Rgb centre = testsupport::takeScreenshot().at(80, 60);
            const bool ours = std::any_of(colours.begin(), colours.end(), [&](auto& c) { return c.second == centre; });
            if (ours && (seen.empty() || !(seen.back() == centre)))
                seen.push_back(centre);
            return seen.size() >= 4;
        },
        30s, 20ms);
    ASSERT_GE(seen.size(), 4u) << "the player did not go round its steps";
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(seen[i], colours.at(listed[i % 3])) << "step " << i << ": " << testsupport::describe(seen[i]);
}

struct CompilerCase
{
    const char* name;
    bool display;
    const char* compiler; // as named in the message
};

void PrintTo(const CompilerCase& c, std::ostream* os) { *os << c.name; }

class CompileErrors : public CheckTest, public testing::WithParamInterface<CompilerCase>
{
};

TEST_P(CompileErrors, ReportedAtTheirLineWithTheSourceAndTheCompiler)
{
    writeShaders();
    folder.write("seeded.frag", "uniform float time;\n"
                                "\n"
                                "void main()\n"
                                "{\n"
                                "    float a = time;\n"
                                "    // the next line calls radians with an int\n"
                                "    float b = radians(180);\n"
                                "    gl_FragColor = vec4(a, b, 0.0, 1.0);\n"
                                "}\n");
    folder.write("shader_sequence.txt", "red.frag 1\nseeded.frag 1\n");
    const RunResult check = runCheck(folder, {}, GetParam().display ? withDisplay() : withoutDisplay());
    EXPECT_EQ(check.exitStatus, 1);
    const std::regex located("(^|\\n)seeded\\.frag:7: error: [^\\n]*radians[^\\n]*\\[" +
                             std::string(GetParam().compiler) + "[^\\n]*\\n +7 \\|     float b = radians\\(180\\);");
    EXPECT_TRUE(std::regex_search(check.out, located)) << check.out;
    EXPECT_EQ(check.out.find("red.frag:"), std::string::npos) << check.out;
    EXPECT_NE(check.out.find("1 of 2 steps load"), std::string::npos) << check.out;
}

INSTANTIATE_TEST_SUITE_P(Compilers, CompileErrors,
                         testing::Values(CompilerCase{"the OpenGL driver on a display", true, "driver: "},
                                         CompilerCase{"glslang without a display", false, "glslang"}),
                         [](const testing::TestParamInfo<CompilerCase>& info) {
                             return testsupport::caseName(info.param.name);
                         });

TEST_F(CheckTest, WhatTheDriverAcceptsButGlsl110DoesNotIsAWarning)
{
    writeShaders();
    folder.write("suffix.frag", "void main()\n{\n    float a = 1.0f;\n    gl_FragColor = vec4(a);\n}\n");
    folder.write("shader_sequence.txt", "suffix.frag 1\n");
    const RunResult check = runCheck(folder, {}, withDisplay());
    EXPECT_EQ(check.exitStatus, 0) << check.out;
    EXPECT_NE(check.out.find("suffix.frag:3: warning: this driver accepts it, but GLSL 1.10 does not"),
              std::string::npos)
        << check.out;
}

TEST_F(CheckTest, UniformsOfAnotherTypeAreWarnedAtTheirDeclaration)
{
    writeShaders();
    folder.write("typed.frag", "uniform int time;\nuniform vec3 resolution;\n"
                               "void main() { gl_FragColor = vec4(float(time), resolution); }\n");
    folder.write("shader_sequence.txt", "typed.frag 1\n");
    for (const auto& env : {withDisplay(), withoutDisplay()})
    {
        const RunResult check = runCheck(folder, {}, env);
        EXPECT_EQ(check.exitStatus, 0) << check.out;
        EXPECT_NE(check.out.find("typed.frag:1: warning: uniform time is declared int, the player sets a float"),
                  std::string::npos)
            << check.out;
        EXPECT_NE(check.out.find("typed.frag:2: warning: uniform resolution is declared vec3, the player sets a vec2"),
                  std::string::npos)
            << check.out;
    }
}

TEST_F(CheckTest, MusicThatIsNotOggVorbisIsNamedWithAConversion)
{
    writeShaders();
    folder.write("shader_sequence.txt", "red.frag 1\n");
    const struct
    {
        const char* make; // shell command run in the folder; empty: no music file
        int status;
        const char* said;
    } cases[] = {
        {"ffmpeg -v error -y -f lavfi -i sine=d=2 -c:a libopus -f ogg music.ogg", 1,
         "music.ogg: error: Ogg Opus, not Ogg Vorbis: the player cannot open it; convert it with: ffmpeg -i music.ogg"},
        {"ffmpeg -v error -y -f lavfi -i sine=d=2 -c:a libmp3lame -f mp3 music.ogg", 1,
         "music.ogg: error: MP3, not Ogg Vorbis: the player cannot open it"},
        {"sox -q -n -r 44100 -c 1 -t wav music.ogg synth 2 sine 440", 0, "music.ogg: note: WAV, not Ogg Vorbis"},
        {"echo not music > music.ogg", 1, "music.ogg: error: not a sound file the player can read"},
        {"rm -f music.ogg", 1, "music.ogg: error: missing"},
        {"sox -q -n -r 44100 -c 2 music.ogg synth 2.5 sine 440", 0, "music.ogg lasts 2.500 s"},
    };
    for (const auto& c : cases)
    {
        ASSERT_EQ(testsupport::shell("cd '" + folder.path() + "' && rm -f music.ogg && " + c.make), 0) << c.make;
        const RunResult check = runCheck(folder, {}, withoutDisplay());
        EXPECT_EQ(check.exitStatus, c.status) << c.make << "\n" << check.out;
        EXPECT_NE(check.out.find(c.said), std::string::npos) << c.make << "\n" << check.out;
    }
}

TEST_F(CheckTest, TheTimelineOfTheExampleShowAndItsFrames)
{
    const std::string example = QUORVEL_SOURCE_DIR "/examples/show";
    const RunResult text = testsupport::runProgram({QUORVEL_CHECK_BINARY, "--fps", "60", example}, folder.path(),
                                                   60s, withoutDisplay());
    EXPECT_EQ(text.exitStatus, 0) << text.out;
    EXPECT_NE(text.out.find("14 of 14 steps load; music.ogg lasts 32.000 s"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("step 13 (crt.frag, line 16) is on screen and stays"), std::string::npos) << text.out;
    EXPECT_NE(text.out.find("frame     120       2.000 s  -> step 1"), std::string::npos) << text.out;

    const RunResult json = testsupport::runProgram({QUORVEL_CHECK_BINARY, "--json", example}, folder.path(), 60s,
                                                   withoutDisplay());
    EXPECT_EQ(jsonInt(json.out, "end_step"), 13) << json.out;
    EXPECT_EQ(jsonInt(json.out, "loops"), 0) << json.out;
    EXPECT_NE(json.out.find("\"music\": {\"ok\": true, \"codec\": \"Vorbis\", \"seconds\": 32}"), std::string::npos)
        << json.out;
}

TEST_F(CheckTest, ExitStatuses)
{
    writeShaders();
    folder.write("shader_sequence.txt", "red.frag 1\n");
    const struct
    {
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {{}, 0},
        {{"."}, 0},
        {{"--bogus"}, 2},
        {{".", "."}, 2},
        {{"--fps", "0"}, 2},
        {{"--fps"}, 2},
        {{"no-such-folder"}, 1},
        {{"red.frag"}, 1},
    };
    for (const auto& c : cases)
    {
        const RunResult check = runCheck(folder, c.args, withoutDisplay());
        EXPECT_EQ(check.exitStatus, c.status) << testing::PrintToString(c.args) << "\n" << check.out << check.err;
    }
}

} // namespace

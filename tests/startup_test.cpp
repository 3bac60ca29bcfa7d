// The real binary's start-up failures: exact lines on the right stream, in
// order, and exit status 255 (-1 from main).

#include "support/case_name.hpp"
#include "support/display.hpp"
#include "support/show.hpp"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace
{

using testsupport::TempDir;
using Lines = std::vector<std::string>;

struct StartupCase
{
    const char* name;
    std::function<void(const TempDir&)> prepare;
    std::vector<std::string> args;
    Lines out;    // standard output, complete
    Lines err;    // our lines on standard error
    Lines merged; // our lines of both streams as they interleave
};

// GoogleTest names the case by its description rather than its bytes.
void PrintTo(const StartupCase& c, std::ostream* os) { *os << c.name; }

void oneGoodShader(const TempDir& folder)
{
    folder.write("good.frag", testsupport::solidShader(1, 0, 0));
    folder.write("shader_sequence.txt", "good.frag 2\n");
}

const Lines noSequence = {"Errore apertura file: shader_sequence.txt", "Nessuna shader caricata!"};
const Lines musicFails = {"Shader caricate: 1", "Errore nel caricamento della musica!"};

const StartupCase startupCases[] = {
    {"no sequence file", [](const TempDir&) {}, {}, {}, noSequence, noSequence},
    {"no sequence file, music present",
     [](const TempDir& folder) { testsupport::writeTone(folder.file("music.ogg"), 1); }, {}, {}, noSequence,
     noSequence},
    {"arguments are ignored", [](const TempDir&) {}, {"--help", "-v", "shader_sequence.txt"}, {}, noSequence,
     noSequence},
    {"no usable shader",
     [](const TempDir& folder) {
         folder.write("broken.frag", "void main() { not glsl }\n");
         folder.write("shader_sequence.txt", "# only bad steps\n\nbroken.frag 1\nmissing.frag 2\nlonely.frag\n");
         testsupport::writeTone(folder.file("music.ogg"), 1);
     },
     {},
     {"Shader caricate: 0"},
     {"Errore nel caricamento dello shader: broken.frag", "Errore nel caricamento dello shader: missing.frag",
      "Nessuna shader caricata!"},
     {"Errore nel caricamento dello shader: broken.frag", "Errore nel caricamento dello shader: missing.frag",
      "Shader caricate: 0", "Nessuna shader caricata!"}},
    {"no music", oneGoodShader, {}, {"Shader caricate: 1"}, {"Errore nel caricamento della musica!"}, musicFails},
    {"music of garbage",
     [](const TempDir& folder) {
         oneGoodShader(folder);
         std::string garbage;
         for (int i = 0; i < 4096; ++i)
             garbage += static_cast<char>((i * 7919) % 251);
         folder.write("music.ogg", garbage);
     },
     {},
     {"Shader caricate: 1"},
     {"Errore nel caricamento della musica!"},
     musicFails},
    {"empty music file",
     [](const TempDir& folder) {
         oneGoodShader(folder);
         folder.write("music.ogg", "");
     },
     {},
     {"Shader caricate: 1"},
     {"Errore nel caricamento della musica!"},
     musicFails},
};

class StartupTest : public testing::TestWithParam<StartupCase>
{
protected:
    static void SetUpTestSuite() { display = std::make_unique<testsupport::VirtualDisplay>(160, 120); }
    static void TearDownTestSuite() { display.reset(); }
    static inline std::unique_ptr<testsupport::VirtualDisplay> display;
};

std::string joined(const Lines& lines)
{
    std::string text;
    for (const std::string& line : lines)
        text += line + "\n";
    return text;
}

TEST_P(StartupTest, EndsWithItsErrorLinesAndStatus)
{
    const StartupCase& c = GetParam();
    TempDir folder;
    c.prepare(folder);

    const testsupport::RunResult result = testsupport::runPlayer(folder, c.args);
    EXPECT_FALSE(result.timedOut);
    EXPECT_EQ(result.signal, 0);
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.out, joined(c.out)) << "standard output holds only our lines";
    EXPECT_EQ(testsupport::ourLines(result.err), c.err) << result.err;

    // Once more with both streams in one pipe, to see the order across them.
    const testsupport::RunResult merged = testsupport::runProgram(
        testsupport::playerWithMergedStreams(c.args), folder.path(), std::chrono::seconds(60), {"ALSOFT_DRIVERS=null"});
    EXPECT_EQ(merged.exitStatus, 255);
    EXPECT_EQ(testsupport::ourLines(merged.out), c.merged);
}

INSTANTIATE_TEST_SUITE_P(Folders, StartupTest, testing::ValuesIn(startupCases),
                         [](const testing::TestParamInfo<StartupCase>& info) {
                             return testsupport::caseName(info.param.name);
                         });

// Without a display the window library would abort the process; we end with one line instead.
struct NoDisplayCase
{
    const char* name;
    std::string displayEnv;
    std::string expectedErr;
};

// GoogleTest names the case by its description rather than its bytes.
void PrintTo(const NoDisplayCase& c, std::ostream* os) { *os << c.name; }

const NoDisplayCase noDisplayCases[] = {
    {"DISPLAY unset", "DISPLAY=", "Nessun display X disponibile: la variabile DISPLAY non è impostata.\n"},
    {"DISPLAY names no server", "DISPLAY=:4711", "Impossibile connettersi al display X :4711.\n"},
};

class NoDisplayTest : public testing::TestWithParam<NoDisplayCase>
{
};

TEST_P(NoDisplayTest, EndsWithOneClearLine)
{
    TempDir folder;
    oneGoodShader(folder);
    testsupport::writeTone(folder.file("music.ogg"), 1);
    const testsupport::RunResult result = testsupport::runPlayer(folder, {}, {GetParam().displayEnv});
    EXPECT_EQ(result.signal, 0) << "no abort, no core dump";
    EXPECT_EQ(result.exitStatus, 255);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, GetParam().expectedErr);
}

INSTANTIATE_TEST_SUITE_P(Environments, NoDisplayTest, testing::ValuesIn(noDisplayCases),
                         [](const testing::TestParamInfo<NoDisplayCase>& info) {
                             return testsupport::caseName(info.param.name);
                         });

} // namespace

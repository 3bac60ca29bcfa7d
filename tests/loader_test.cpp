// The loader with real shader compiles, on a private virtual X server.

#include "sequence/shader_sequence.hpp"
#include "support/case_name.hpp"
#include "support/display.hpp"
#include "support/process.hpp"
#include "support/show.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <sys/resource.h>
#include <unistd.h>

namespace
{

using testsupport::TempDir;

const char* const solidShader = "void main() { gl_FragColor = vec4(1.0, 0.0, 0.0, 1.0); }\n";
const char* const brokenShader = "void main() { this is not GLSL }\n";

struct LoadResult
{
    std::vector<ShaderItem> sequence;
    std::string out;
    std::string err;
};

class LoaderTest : public testing::Test
{
protected:
    static void SetUpTestSuite() { display = std::make_unique<testsupport::VirtualDisplay>(64, 64); }
    static void TearDownTestSuite() { display.reset(); }

    void SetUp() override
    {
        folder = std::make_unique<TempDir>();
        folder->write("a.frag", solidShader);
        folder->write("b.frag", solidShader);
        folder->write("broken.frag", brokenShader);
        ASSERT_EQ(chdir(folder->path().c_str()), 0);
    }

    void TearDown() override { ASSERT_EQ(chdir("/"), 0); }

    // Loads the given sequence text with standard output and error captured.
    LoadResult load(const std::string& sequenceText, const std::string& name = "shader_sequence.txt")
    {
        folder->write(name, sequenceText);
        return loadExisting(name);
    }

    LoadResult loadExisting(const std::string& name)
    {
        std::ostringstream out;
        std::ostringstream err;
        LoadResult result;
        result.sequence = loadShaderSequence(name, out, err);
        result.out = out.str();
        result.err = err.str();
        return result;
    }

    static std::vector<float> durations(const std::vector<ShaderItem>& sequence)
    {
        std::vector<float> result;
        for (const ShaderItem& item : sequence)
            result.push_back(item.durationSeconds);
        return result;
    }

    static inline std::unique_ptr<testsupport::VirtualDisplay> display;
    std::unique_ptr<TempDir> folder;
};

TEST_F(LoaderTest, BrokenAndMissingShadersAreReportedAndSkippedInOrder)
{
    const LoadResult result = load("a.frag 1\n"
                                   "broken.frag 2\n"
                                   "b.frag 3\n"
                                   "missing.frag 4\n"
                                   "a.frag 5\n");
    EXPECT_EQ(durations(result.sequence), (std::vector<float>{1, 3, 5}));
    EXPECT_EQ(testsupport::ourLines(result.err),
              (std::vector<std::string>{"Errore nel caricamento dello shader: broken.frag",
                                        "Errore nel caricamento dello shader: missing.frag"}));
    EXPECT_EQ(result.out, "Shader caricate: 3\n");
    for (const ShaderItem& item : result.sequence)
        ASSERT_NE(item.shader, nullptr);
}

TEST_F(LoaderTest, SameFileOnTwoLinesGivesTwoShaderObjects)
{
    const LoadResult result = load("a.frag 1\na.frag 2\n");
    ASSERT_EQ(result.sequence.size(), 2u);
    EXPECT_NE(result.sequence[0].shader.get(), result.sequence[1].shader.get());
    EXPECT_NE(result.sequence[0].shader->getNativeHandle(), result.sequence[1].shader->getNativeHandle());
}

TEST_F(LoaderTest, MissingFileIsReportedWithItsNameAndGivesNoCountLine)
{
    const LoadResult result = loadExisting("no_such_sequence.txt");
    EXPECT_TRUE(result.sequence.empty());
    EXPECT_EQ(result.err, "Errore apertura file: no_such_sequence.txt\n");
    EXPECT_EQ(result.out, "");
}

struct WholeFileCase
{
    const char* name;
    std::string contents;
    std::vector<float> durations;
    std::vector<std::string> errorLines;
};

// GoogleTest names the case by its description rather than its bytes.
void PrintTo(const WholeFileCase& c, std::ostream* os) { *os << c.name; }

const WholeFileCase wholeFileCases[] = {
    {"empty file", "", {}, {}},
    {"comments and blank lines only", "# intro\n\n#a.frag 1\n", {}, {}},
    {"no final line feed", "a.frag 1\nb.frag 2", {1, 2}, {}},
    {"CRLF line ends", "# intro\r\na.frag 1\r\n\r\nb.frag 2.5\r\n", {1, 2.5f}, {}},
    {"byte-order mark joins the first path", "\xef\xbb\xbf" "a.frag 1\nb.frag 2\n", {2},
     {"Errore nel caricamento dello shader: \xef\xbb\xbf" "a.frag"}},
    {"byte-order mark spoils a first-line comment", "\xef\xbb\xbf# intro 1\nb.frag 2\n", {2}, {}},
    {"hash after a blank is a path", " #fx.frag 3\na.frag 1\n", {1},
     {"Errore nel caricamento dello shader: #fx.frag"}},
    {"a line past the length bound is skipped like any malformed line",
     "a.frag 1" + std::string(maxSequenceLineBytes, ' ') + "\nb.frag 2\n", {2}, {}},
    {"a line of exactly the bound is read", "a.frag 1" + std::string(maxSequenceLineBytes - 8, ' ') + "\n", {1}, {}},
    {"lone CR line ends make one line", "a.frag 1\rb.frag 2\r", {1}, {}},
    {"malformed lines skipped silently", "a.frag\na.frag abc\na.frag 1e39\na.frag 2.5e\n  # note 3\nb.frag -1\na.frag 0\n",
     {-1, 0}, {}},
};

class WholeFileTest : public LoaderTest, public testing::WithParamInterface<WholeFileCase>
{
};

TEST_P(WholeFileTest, LoadsTheStepsItHolds)
{
    const WholeFileCase& c = GetParam();
    const LoadResult result = load(c.contents);
    EXPECT_EQ(durations(result.sequence), c.durations);
    EXPECT_EQ(testsupport::ourLines(result.err), c.errorLines);
    EXPECT_EQ(result.out, "Shader caricate: " + std::to_string(c.durations.size()) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Files, WholeFileTest, testing::ValuesIn(wholeFileCases),
                         [](const testing::TestParamInfo<WholeFileCase>& info) {
                             return testsupport::caseName(info.param.name);
                         });

// Peak resident memory of this process so far, in bytes.
long peakResidentBytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss * 1024L;
}

TEST_F(LoaderTest, AbsurdFilesAreRefusedWithoutBeingHeldInMemory)
{
    constexpr long gigabyte = 1024L * 1024 * 1024;
    // Sparse files of zeros: one line with no line end, and a "shader" of a gigabyte.
    ASSERT_EQ(testsupport::shell("truncate -s 1G '" + folder->file("huge_sequence.txt") + "' '" +
                                 folder->file("huge.frag") + "'"),
              0);
    load("a.frag 1\n"); // the OpenGL driver's own start-up is not the loader's
    const long before = peakResidentBytes();

    const LoadResult noLineEnd = loadExisting("huge_sequence.txt");
    EXPECT_TRUE(noLineEnd.sequence.empty());
    EXPECT_EQ(noLineEnd.out, "Shader caricate: 0\n");
    EXPECT_EQ(noLineEnd.err, "");

    const LoadResult hugeShader = load("huge.frag 1\na.frag 2\n");
    EXPECT_EQ(durations(hugeShader.sequence), (std::vector<float>{2}));
    EXPECT_EQ(hugeShader.err, "Errore nel caricamento dello shader: huge.frag\n");

    // Held whole, each would take more than a gigabyte; the sanitizer build adds its own overhead.
    EXPECT_LT(peakResidentBytes() - before, gigabyte / 4) << "the loader must not hold these files";
}

TEST_F(LoaderTest, ShaderSizeBoundIsInclusive)
{
    std::string source = solidShader;
    source.resize(maxShaderFileBytes, ' ');
    folder->write("largest.frag", source);
    folder->write("too_large.frag", source + " ");
    const LoadResult result = load("largest.frag 1\ntoo_large.frag 2\n");
    EXPECT_EQ(durations(result.sequence), (std::vector<float>{1}));
    EXPECT_EQ(result.err, "Errore nel caricamento dello shader: too_large.frag\n");
}

struct UniformCase
{
    const char* name;
    std::string declarations;
    std::string colour; // uses both names, so that neither is optimised away
    bool setsTime;
    bool setsResolution;
    std::string err;
};

void PrintTo(const UniformCase& c, std::ostream* os) { *os << c.name; }

const UniformCase uniformCases[] = {
    {"the types the loop sets", "uniform float time; uniform vec2 resolution;", "vec4(time, resolution, 1.0)", true,
     true, ""},
    {"time as int", "uniform int time; uniform vec2 resolution;", "vec4(float(time), resolution, 1.0)", false, true,
     "u.frag: la uniform time è dichiarata int, il programma la imposta float: resta senza valore.\n"},
    {"resolution as vec3", "uniform float time; uniform vec3 resolution;", "vec4(time, resolution)", true, false,
     "u.frag: la uniform resolution è dichiarata vec3, il programma la imposta vec2: resta senza valore.\n"},
    {"both wrong", "uniform vec4 time; uniform float resolution;", "time * resolution", false, false,
     "u.frag: la uniform time è dichiarata vec4, il programma la imposta float: resta senza valore.\n"
     "u.frag: la uniform resolution è dichiarata float, il programma la imposta vec2: resta senza valore.\n"},
};

class UniformTypeTest : public LoaderTest, public testing::WithParamInterface<UniformCase>
{
};

TEST_P(UniformTypeTest, WrongTypesAreSaidOnceAndLeftUnset)
{
    const UniformCase& c = GetParam();
    folder->write("u.frag", c.declarations + "\nvoid main() { gl_FragColor = " + c.colour + "; }\n");
    const LoadResult result = load("u.frag 1\n");
    ASSERT_EQ(result.sequence.size(), 1u) << result.err;
    EXPECT_EQ(result.sequence[0].setsTime, c.setsTime);
    EXPECT_EQ(result.sequence[0].setsResolution, c.setsResolution);
    EXPECT_EQ(result.err, c.err);
    EXPECT_EQ(result.out, "Shader caricate: 1\n");
}

INSTANTIATE_TEST_SUITE_P(Declarations, UniformTypeTest, testing::ValuesIn(uniformCases),
                         [](const testing::TestParamInfo<UniformCase>& info) {
                             return testsupport::caseName(info.param.name);
                         });

} // namespace

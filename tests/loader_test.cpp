// The loader with real shader compiles, on a private virtual X server.

#include "sequence/shader_sequence.hpp"
#include "support/case_name.hpp"
#include "support/display.hpp"
#include "support/process.hpp"
#include "support/show.hpp"

#include <gtest/gtest.h>

#include <memory>
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
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        LoadResult result;
        result.sequence = loadShaderSequence(name);
        result.out = testing::internal::GetCapturedStdout();
        result.err = testing::internal::GetCapturedStderr();
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
    EXPECT_EQ(result.sequence[0].shader.use_count(), 1);
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

} // namespace

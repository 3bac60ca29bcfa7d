#include "sequence/shader_sequence.hpp"

#include "support/case_name.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <locale>
#include <sstream>

namespace
{

struct LineCase
{
    const char* name;
    std::string line;
    bool isStep;
    std::string path;
    float durationSeconds;
};

// GoogleTest names the case by its description rather than its bytes.
void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

const LineCase lineCases[] = {
    {"plain", "waves.frag 4.5", true, "waves.frag", 4.5f},
    {"integer", "glitch.frag 2", true, "glitch.frag", 2.0f},
    {"extra fields ignored", "waves.frag 0.5 extra words", true, "waves.frag", 0.5f},
    {"unit suffix ignored", "waves.frag 2.5s", true, "waves.frag", 2.5f},
    {"comma ends the number", "waves.frag 2,5", true, "waves.frag", 2.0f},
    {"exponent", "waves.frag 1.5e1", true, "waves.frag", 15.0f},
    {"negative exponent", "waves.frag 25E-1", true, "waves.frag", 2.5f},
    {"leading point", "waves.frag .5", true, "waves.frag", 0.5f},
    {"trailing point", "waves.frag 3.", true, "waves.frag", 3.0f},
    {"plus sign", "waves.frag +2", true, "waves.frag", 2.0f},
    {"negative", "waves.frag -1", true, "waves.frag", -1.0f},
    {"zero", "waves.frag 0", true, "waves.frag", 0.0f},
    {"tabs and leading blanks", "\t  waves.frag\t\t3 ", true, "waves.frag", 3.0f},
    {"carriage return", "waves.frag 2.5\r", true, "waves.frag", 2.5f},
    {"second point ends the number", "waves.frag 1.2.3", true, "waves.frag", 1.2f},
    {"hex stops after the zero", "waves.frag 0x10", true, "waves.frag", 0.0f},
    {"largest float", "waves.frag 3.4e38", true, "waves.frag", 3.4e38f},
    {"hash after blank is a path", " #fx.frag 3", true, "#fx.frag", 3.0f},
    {"hash inside the path", "a#b.frag 1", true, "a#b.frag", 1.0f},
    {"non-ASCII path", "\xc3\xa9t\xc3\xa9.frag 1", true, "\xc3\xa9t\xc3\xa9.frag", 1.0f},
    {"byte-order mark begins the path", "\xef\xbb\xbfwaves.frag 1", true, "\xef\xbb\xbfwaves.frag", 1.0f},
    {"byte-order mark before a comment", "\xef\xbb\xbf#intro 1", true, "\xef\xbb\xbf#intro", 1.0f},

    {"empty", "", false, "", 0},
    {"comment", "# intro", false, "", 0},
    {"comment that looks like a step", "#waves.frag 2", false, "", 0},
    {"exponent without digits", "waves.frag 2.5e", false, "", 0},
    {"exponent sign without digits", "waves.frag 2.5e+", false, "", 0},
    {"too large for a float", "waves.frag 1e39", false, "", 0},
    {"too large negative", "waves.frag -1e39", false, "", 0},
    {"letters", "waves.frag abc", false, "", 0},
    {"lone point", "waves.frag .", false, "", 0},
    {"lone sign", "waves.frag -", false, "", 0},
    {"inf is not a number here", "waves.frag inf", false, "", 0},
    {"nan is not a number here", "waves.frag nan", false, "", 0},
    {"path only", "waves.frag", false, "", 0},
    {"path only with CR", "waves.frag\r", false, "", 0},
    {"white space only", " \t \r", false, "", 0},
    {"blanks then hash", "  # note 3", false, "", 0},
};

class SequenceLineTest : public testing::TestWithParam<LineCase>
{
};

TEST_P(SequenceLineTest, ReadsPathAndDuration)
{
    const LineCase& c = GetParam();
    const std::optional<StepLine> parsed = parseSequenceLine(c.line);
    ASSERT_EQ(parsed.has_value(), c.isStep);
    if (!c.isStep)
        return;
    EXPECT_EQ(parsed->shaderPath, c.path);
    EXPECT_FLOAT_EQ(parsed->durationSeconds, c.durationSeconds);
}

INSTANTIATE_TEST_SUITE_P(Lines, SequenceLineTest, testing::ValuesIn(lineCases),
                         [](const testing::TestParamInfo<LineCase>& info) { return testsupport::caseName(info.param.name); });

// Why a line gives no step, and how much of its second field the duration took:
// what the checker tells an author, decided by the same reading as the loader's.
TEST(SequenceLine, SaysWhyALineGivesNoStep)
{
    const struct
    {
        std::string line;
        LineKind kind;
        std::size_t durationChars;
    } cases[] = {
        {"", LineKind::blank, 0},
        {"# intro", LineKind::comment, 0},
        {"waves.frag", LineKind::noDuration, 0},
        {"waves.frag \t ", LineKind::noDuration, 0},
        {"   ", LineKind::noDuration, 0},
        {"waves.frag abc", LineKind::unreadableDuration, 0},
        {"waves.frag inf", LineKind::unreadableDuration, 0},
        {"waves.frag -inf", LineKind::unreadableDuration, 0},
        {"waves.frag 2.5e", LineKind::unreadableDuration, 0},
        {"waves.frag 1e39", LineKind::durationOutOfRange, 0},
        {"waves.frag -4e38", LineKind::durationOutOfRange, 0},
        {"waves.frag 2.5", LineKind::step, 3},
        {"waves.frag   2,5 more", LineKind::step, 1},
        {"waves.frag 2.5s", LineKind::step, 3},
        {"waves.frag 2.5\r", LineKind::step, 3},
    };
    for (const auto& c : cases)
    {
        const SequenceLine read = readStepLine(c.line);
        EXPECT_EQ(read.kind, c.kind) << c.line;
        EXPECT_EQ(read.step.has_value(), c.kind == LineKind::step) << c.line;
        EXPECT_EQ(read.step.has_value(), parseSequenceLine(c.line).has_value()) << c.line;
        if (read.step)
            EXPECT_EQ(read.durationChars, c.durationChars) << c.line;
    }
}

TEST(SequenceLine, AnOverLongLineIsSaidToBeSo)
{
    std::istringstream file(std::string(maxSequenceLineBytes + 1, 'a') + " 2\nwaves.frag 1\n");
    std::string line;
    bool tooLong = false;
    ASSERT_TRUE(readSequenceLine(file, line, tooLong));
    EXPECT_TRUE(tooLong);
    EXPECT_TRUE(line.empty());
    ASSERT_TRUE(readSequenceLine(file, line, tooLong));
    EXPECT_FALSE(tooLong);
    EXPECT_EQ(line, "waves.frag 1");
}

// Regional settings that write two and a half as "2,5", as many users have.
struct DecimalComma : std::numpunct<char>
{
    char do_decimal_point() const override { return ','; }
    char do_thousands_sep() const override { return '.'; }
    std::string do_grouping() const override { return "\3"; }
};

TEST(SequenceLine, IgnoresTheGlobalLocale)
{
    const std::locale previous = std::locale::global(std::locale(std::locale::classic(), new DecimalComma));
    const std::optional<StepLine> point = parseSequenceLine("waves.frag 2.5");
    const std::optional<StepLine> comma = parseSequenceLine("waves.frag 2,5");
    std::locale::global(previous);

    ASSERT_TRUE(point.has_value());
    EXPECT_FLOAT_EQ(point->durationSeconds, 2.5f);
    ASSERT_TRUE(comma.has_value());
    EXPECT_FLOAT_EQ(comma->durationSeconds, 2.0f);
}

} // namespace

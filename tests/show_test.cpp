// The pieces the authoring commands add around the player's core: the
// timeline against the music, compiler logs read as lines, the music's codec.

#include "show/compiler_log.hpp"
#include "show/music_file.hpp"
#include "show/timeline.hpp"

#include "support/case_name.hpp"

#include <gtest/gtest.h>

#include <cmath>

namespace
{

// --- The ideal timeline -----------------------------------------------------

TEST(IdealTimeline, StartsPlaysLoopsAndTheStepLeftAtTheEnd)
{
    // 1 + 2 + 0.5 = 3.5 s a cycle over 9 s of music: two whole cycles, then
    // step 0 (7..8) and step 1 from 8, cut by the end at 9.
    const Timeline timeline = idealTimeline({1.0f, 2.0f, 0.5f}, 9.0);
    ASSERT_EQ(timeline.steps.size(), 3u);
    EXPECT_DOUBLE_EQ(*timeline.steps[0].firstStartSeconds, 0.0);
    EXPECT_DOUBLE_EQ(*timeline.steps[1].firstStartSeconds, 1.0);
    EXPECT_DOUBLE_EQ(*timeline.steps[2].firstStartSeconds, 3.0);
    EXPECT_EQ(timeline.steps[0].plays, 3);
    EXPECT_EQ(timeline.steps[1].plays, 3);
    EXPECT_EQ(timeline.steps[2].plays, 2);
    EXPECT_EQ(timeline.loops, 2);
    ASSERT_TRUE(timeline.endStep.has_value());
    EXPECT_EQ(*timeline.endStep, 1u);
}

TEST(IdealTimeline, ASwitchDueExactlyAtTheEndDoesNotHappen)
{
    // The position never reads the track's full length: the step due to end
    // there is the one left on screen, and the next never starts.
    const Timeline timeline = idealTimeline({2.0f, 2.0f}, 4.0);
    EXPECT_EQ(*timeline.endStep, 1u);
    EXPECT_EQ(timeline.loops, 0);
    EXPECT_EQ(timeline.steps[0].plays, 1);
}

TEST(IdealTimeline, StepsNeverReachedHaveNoStart)
{
    const Timeline timeline = idealTimeline({10.0f, 1.0f}, 4.0);
    EXPECT_FALSE(timeline.steps[1].firstStartSeconds.has_value());
    EXPECT_EQ(timeline.steps[1].plays, 0);
    EXPECT_EQ(*timeline.endStep, 0u);
}

TEST(IdealTimeline, ZeroAndNegativeDurationsTakeNoTime)
{
    const Timeline timeline = idealTimeline({0.0f, 1.0f, -3.0f, 1.0f}, 2.5);
    EXPECT_DOUBLE_EQ(*timeline.steps[1].firstStartSeconds, 0.0);
    EXPECT_DOUBLE_EQ(*timeline.steps[2].firstStartSeconds, 1.0);
    EXPECT_DOUBLE_EQ(*timeline.steps[3].firstStartSeconds, 1.0);
    EXPECT_EQ(timeline.loops, 1);
    EXPECT_EQ(*timeline.endStep, 1u);
}

TEST(IdealTimeline, AllDurationsAtOrBelowZeroSwitchForEver)
{
    const Timeline timeline = idealTimeline({0.0f, -1.0f}, 30.0);
    EXPECT_TRUE(timeline.switchesEveryFrame);
    EXPECT_FALSE(timeline.endStep.has_value());
}

TEST(IdealTimeline, ALongTrackOfTinyStepsCountsEveryPlay)
{
    // Ten hours of 1 ms steps: counted without walking a billion switches.
    const Timeline timeline = idealTimeline({0.001f, 0.001f}, 36000.0);
    const double cycle = 2.0 * static_cast<double>(0.001f);
    const long long expectedLoops = static_cast<long long>(std::ceil(36000.0 / cycle)) - 1;
    EXPECT_NEAR(static_cast<double>(timeline.loops), static_cast<double>(expectedLoops), 1.0);
    EXPECT_NEAR(static_cast<double>(timeline.steps[0].plays), static_cast<double>(expectedLoops + 1), 1.0);
}

// --- The player's frames ----------------------------------------------------

TEST(FrameTimeline, SwitchesWaitForTheNextFrameAndTheDelayIsNeverMadeUp)
{
    // Half-second steps at 3 frames a second: frames fall at 0, 1/3, 2/3, ...
    // Each switch comes on the first frame at least 0.5 s after the last one,
    // so every two frames: at 2/3, 4/3, 2 s, while the durations add up to
    // 0.5, 1.0, 1.5.
    const Timeline timeline = frameTimeline({0.5f, 0.5f}, 2.1, 3.0, 10);
    ASSERT_EQ(timeline.firstSwitches.size(), 3u);
    const long long frames[] = {2, 4, 6};
    const std::size_t indices[] = {1, 0, 1};
    for (std::size_t i = 0; i < 3; ++i)
    {
        EXPECT_EQ(timeline.firstSwitches[i].frame, frames[i]);
        EXPECT_EQ(timeline.firstSwitches[i].newIndex, indices[i]);
        EXPECT_NEAR(timeline.firstSwitches[i].musicSeconds, static_cast<double>(frames[i]) / 3.0, 1e-6);
    }
    EXPECT_NEAR(timeline.lastSwitchSeconds, 2.0, 1e-6);
    EXPECT_NEAR(timeline.lastSwitchIdealSeconds, 1.5, 1e-6);
    EXPECT_EQ(timeline.loops, 1);
    EXPECT_EQ(*timeline.endStep, 1u);
}

TEST(FrameTimeline, AStepOfZeroDurationHoldsOneFrame)
{
    const Timeline timeline = frameTimeline({0.0f, 1.0f}, 0.5, 10.0, 10);
    ASSERT_EQ(timeline.firstSwitches.size(), 1u);
    EXPECT_EQ(timeline.firstSwitches[0].frame, 0);
    EXPECT_EQ(*timeline.endStep, 1u);
}

TEST(FrameTimeline, FrameTimesAreComputedNotAccumulated)
{
    // Adding 1/60 a frame in float drifts by milliseconds within an hour.
    const long long frame = 60LL * 3600;
    EXPECT_EQ(frameMusicTime(frame, 60.0), 3600.0f);
    float accumulated = 0.0f;
    for (long long i = 0; i < frame; ++i)
        accumulated += 1.0f / 60.0f;
    EXPECT_GT(std::fabs(accumulated - 3600.0f), 0.01f) << "the comparison would not show a drift";
}

// --- Compiler logs ----------------------------------------------------------

struct LogCase
{
    const char* name;
    std::string log;
    std::vector<CompilerMessage> expected;
};

void PrintTo(const LogCase& c, std::ostream* os) { *os << c.name; }

const LogCase logCases[] = {
    {"Mesa", "0:12(5): error: `foo' undeclared\n0:14(1): warning: `a' used uninitialized\n",
     {{12, "error", "`foo' undeclared"}, {14, "warning", "`a' used uninitialized"}}},
    {"Mesa candidates joined",
     "0:3(12): error: no matching function for call to `radians(int)'; candidates are:\n"
     "0:3(12): error:    float radians(float)\n",
     {{3, "error", "no matching function for call to `radians(int)'; candidates are: float radians(float)"}}},
    {"NVIDIA", "0(7) : error C1008: undefined variable \"foo\"\n", {{7, "error", "undefined variable \"foo\""}}},
    {"AMD and Intel", "ERROR: 0:9: 'foo' : undeclared identifier\nERROR: 1 compilation errors.\n",
     {{9, "error", "'foo' : undeclared identifier"}, {0, "error", "1 compilation errors."}}},
    {"glslang with a path", "ERROR: /tmp/x.frag:4: 'radians' : no matching overloaded function found\n",
     {{4, "error", "'radians' : no matching overloaded function found"}}},
    {"no line", "error: linking failed\n\nsomething else\n",
     {{0, "error", "linking failed"}, {0, "error", "something else"}}},
};

class CompilerLogTest : public testing::TestWithParam<LogCase>
{
};

TEST_P(CompilerLogTest, MessagesLandAtTheirLines)
{
    const std::vector<CompilerMessage> messages = parseCompilerLog(GetParam().log);
    const std::vector<CompilerMessage>& expected = GetParam().expected;
    ASSERT_EQ(messages.size(), expected.size());
    for (std::size_t i = 0; i < messages.size(); ++i)
    {
        EXPECT_EQ(messages[i].line, expected[i].line) << i;
        EXPECT_EQ(messages[i].severity, expected[i].severity) << i;
        EXPECT_EQ(messages[i].text, expected[i].text) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Vendors, CompilerLogTest, testing::ValuesIn(logCases),
                         [](const testing::TestParamInfo<LogCase>& info) { return testsupport::caseName(info.param.name); });

// --- What a music file holds ------------------------------------------------

std::string oggPage(const std::string& packet)
{
    std::string page = "OggS";
    page += std::string(22, '\0');
    page += '\x01'; // one segment
    page += static_cast<char>(packet.size());
    return page + packet;
}

TEST(MusicCodec, NamedByTheFirstBytes)
{
    const struct
    {
        std::string bytes;
        const char* codec;
        const char* container;
    } cases[] = {
        {oggPage(std::string("\x01vorbis") + std::string(23, '\0')), "Vorbis", "Ogg"},
        {oggPage("OpusHead" + std::string(11, '\0')), "Opus", "Ogg"},
        {oggPage(std::string("\x7f" "FLAC") + std::string(8, '\0')), "FLAC", "Ogg"},
        {oggPage("something"), "unknown", "Ogg"},
        {std::string("fLaC\0\0\0\x22", 8), "FLAC", ""},
        {std::string("RIFF\x24\0\0\0WAVEfmt ", 16), "WAV", ""},
        {"ID3\x04\0\0\0\0\0\0", "MP3", ""},
        {"\xff\xfb\x90\x64", "MP3", ""},
        {std::string("\0\0\0\x20" "ftypM4A ", 12), "MP4 audio (AAC or ALAC)", ""},
        {"plain text", "unknown", ""},
        {"", "unknown", ""},
    };
    for (const auto& c : cases)
    {
        std::string container = "stale";
        EXPECT_EQ(sniffAudioCodec(c.bytes, container), c.codec) << c.codec;
        EXPECT_EQ(container, c.container) << c.codec;
    }
}

} // namespace

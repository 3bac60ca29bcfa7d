#include "music_clock.hpp"
#include "switch_rule.hpp"

#include "support/case_name.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace
{

// Frames of one run: each frame's music time and the step's duration, and
// what the rule must leave behind.
struct Frame
{
    float musicTime;
    float durationSeconds;
    bool switches;
    std::size_t indexAfter;
    float startAfter;
};

struct SwitchCase
{
    const char* name;
    std::size_t itemCount;
    std::vector<Frame> frames;
};

// GoogleTest names the case by its description rather than its bytes.
void PrintTo(const SwitchCase& c, std::ostream* os) { *os << c.name; }

const SwitchCase switchCases[] = {
    {"waits for the duration", 3, {{0.0f, 2.0f, false, 0, 0.0f}, {1.99f, 2.0f, false, 0, 0.0f}, {2.5f, 2.0f, true, 1, 2.5f}}},
    {"equality switches", 3, {{2.0f, 2.0f, true, 1, 2.0f}}},
    {"the new step counts from the switching frame", 3,
     {{2.5f, 2.0f, true, 1, 2.5f}, {4.4f, 2.0f, false, 1, 2.5f}, {4.5f, 2.0f, true, 2, 4.5f}}},
    {"one switch per frame however late", 3, {{100.0f, 1.0f, true, 1, 100.0f}, {100.0f, 1.0f, false, 1, 100.0f}}},
    {"wraps after the last step", 2, {{1.0f, 1.0f, true, 1, 1.0f}, {2.0f, 1.0f, true, 0, 2.0f}}},
    {"a single step restarts itself", 1, {{3.0f, 3.0f, true, 0, 3.0f}, {5.0f, 3.0f, false, 0, 3.0f}, {6.0f, 3.0f, true, 0, 6.0f}}},
    {"zero duration switches every frame, even standing still", 2,
     {{0.0f, 0.0f, true, 1, 0.0f}, {0.0f, 0.0f, true, 0, 0.0f}, {0.0f, 0.0f, true, 1, 0.0f}}},
    {"negative duration switches every frame", 3, {{0.0f, -1.0f, true, 1, 0.0f}, {0.0f, -1.0f, true, 2, 0.0f}}},
    {"position below the start holds the step", 3, {{5.0f, 2.0f, true, 1, 5.0f}, {4.0f, 2.0f, false, 1, 5.0f}}},
    {"zero duration holds while elapsed is negative", 3, {{5.0f, 1.0f, true, 1, 5.0f}, {4.9f, 0.0f, false, 1, 5.0f}}},
    {"negative duration still switches once elapsed reaches it", 3,
     {{5.0f, 1.0f, true, 1, 5.0f}, {2.0f, -2.0f, false, 1, 5.0f}, {3.0f, -2.0f, true, 2, 3.0f}}},
    {"position back to 0 after the track ends holds the step for good", 2,
     {{30.0f, 2.0f, true, 1, 30.0f}, {0.0f, 2.0f, false, 1, 30.0f}, {0.0f, 2.0f, false, 1, 30.0f}}},
};

class SwitchRuleTest : public testing::TestWithParam<SwitchCase>
{
};

TEST_P(SwitchRuleTest, FollowsTheMusic)
{
    const SwitchCase& c = GetParam();
    std::size_t currentShaderIndex = 0;
    float shaderStartTime = 0.0f;
    for (std::size_t i = 0; i < c.frames.size(); ++i)
    {
        const Frame& frame = c.frames[i];
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_EQ(applySwitchRule(frame.musicTime, frame.durationSeconds, c.itemCount, currentShaderIndex,
                                  shaderStartTime),
                  frame.switches);
        EXPECT_EQ(currentShaderIndex, frame.indexAfter);
        EXPECT_FLOAT_EQ(shaderStartTime, frame.startAfter);
    }
}

INSTANTIATE_TEST_SUITE_P(Frames, SwitchRuleTest, testing::ValuesIn(switchCases),
                         [](const testing::TestParamInfo<SwitchCase>& info) { return testsupport::caseName(info.param.name); });

// Whole frames of the loop: the step drawn, its time and whether the frame
// announces a switch, for a show of given durations.
struct DrawnFrame
{
    float musicTime;
    std::size_t drawnIndex;
    float shaderTime;
    bool switched;
};

struct FrameCase
{
    const char* name;
    std::vector<float> durations;
    std::vector<DrawnFrame> frames;
};

void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }

const FrameCase frameCases[] = {
    {"the outgoing step is drawn once more with time 0", {2.0f, 1.0f},
     {{0.0f, 0, 0.0f, false}, {1.5f, 0, 1.5f, false}, {2.25f, 0, 0.0f, true}, {2.5f, 1, 0.25f, false},
      {3.25f, 1, 0.0f, true}, {3.5f, 0, 0.25f, false}}},
    {"a zero-length step is drawn on exactly one frame", {1.0f, 0.0f, 1.0f},
     {{1.0f, 0, 0.0f, true}, {1.1f, 1, 0.0f, true}, {1.2f, 2, 0.1f, false}}},
    {"all steps zero-length: a switch on every frame, each drawn with time 0", {0.0f, 0.0f},
     {{0.0f, 0, 0.0f, true}, {0.0f, 1, 0.0f, true}, {0.5f, 0, 0.0f, true}}},
    {"after the end the last position stands: the last picture stays, no more switches", {1.0f, 5.0f},
     {{1.5f, 0, 0.0f, true}, {2.0f, 1, 0.5f, false}, {2.0f, 1, 0.5f, false}, {2.0f, 1, 0.5f, false}}},
    {"after the end steps of 0 or less still switch on every frame", {0.0f, -1.0f},
     {{2.0f, 0, 0.0f, true}, {2.0f, 1, 0.0f, true}, {2.0f, 0, 0.0f, true}}},
};

class FrameStepTest : public testing::TestWithParam<FrameCase>
{
};

TEST_P(FrameStepTest, DrawsTheStepActiveWhenTheFrameBegan)
{
    const FrameCase& c = GetParam();
    std::size_t currentShaderIndex = 0;
    float shaderStartTime = 0.0f;
    for (std::size_t i = 0; i < c.frames.size(); ++i)
    {
        const DrawnFrame& expected = c.frames[i];
        SCOPED_TRACE("frame " + std::to_string(i));
        const FrameStep frame = stepFrame(expected.musicTime, c.durations[currentShaderIndex], c.durations.size(),
                                          currentShaderIndex, shaderStartTime);
        EXPECT_EQ(frame.drawnIndex, expected.drawnIndex);
        EXPECT_FLOAT_EQ(frame.shaderTime, expected.shaderTime);
        EXPECT_EQ(frame.switched, expected.switched);
    }
}

INSTANTIATE_TEST_SUITE_P(Shows, FrameStepTest, testing::ValuesIn(frameCases),
                         [](const testing::TestParamInfo<FrameCase>& info) { return testsupport::caseName(info.param.name); });

// The playing position read through a stand-in source: scripted reads, and
// whether the music plays.
struct PositionCase
{
    const char* name;
    float previous;
    std::vector<float> reads;
    bool playing;
    float believed;
    std::size_t readsUsed;
};

void PrintTo(const PositionCase& c, std::ostream* os) { *os << c.name; }

const PositionCase positionCases[] = {
    {"forward is believed at once", 10.0f, {10.02f}, true, 10.02f, 1},
    {"the same position is believed at once", 10.0f, {10.0f}, true, 10.0f, 1},
    {"a one-read jump back is read again", 61.0f, {60.0f, 61.02f}, true, 61.02f, 2},
    {"a jump back that reads twice while playing keeps the previous position", 61.0f, {60.0f, 60.0f}, true, 61.0f,
     2},
    {"at the end of the track the position reads 0: the last one stands", 31.9f, {0.0f}, false, 31.9f, 1},
    {"an end not yet marked stopped waits for the stop", 31.9f, {0.0f, 0.0f}, true, 31.9f, 2},
};

class MusicPositionTest : public testing::TestWithParam<PositionCase>
{
};

TEST_P(MusicPositionTest, NeverGoesBack)
{
    const PositionCase& c = GetParam();
    std::size_t readsUsed = 0;
    const auto read = [&] { return c.reads.at(readsUsed++); };
    EXPECT_FLOAT_EQ(steadyPlayingPosition(read, [&] { return c.playing; }, c.previous), c.believed);
    EXPECT_EQ(readsUsed, c.readsUsed);
}

INSTANTIATE_TEST_SUITE_P(Reads, MusicPositionTest, testing::ValuesIn(positionCases),
                         [](const testing::TestParamInfo<PositionCase>& info) { return testsupport::caseName(info.param.name); });

// The position between two readings: a steady clock fills the gap from the
// moment the reading changed, at most one mixing period past it.
TEST(SmoothedPosition, FillsTheGapsBetweenReadingsWithoutLeadingTheMusic)
{
    constexpr double period = 0.02;
    const struct
    {
        const char* what;
        float reading;
        bool playing;
        double now;
        float expected;
    } frames[] = {
        {"before the music moves, its 0 stands", 0.0f, true, 10.000, 0.0f},
        {"still 0 a while later", 0.0f, true, 10.050, 0.0f},
        {"the first change is taken as it is", 0.02f, true, 10.060, 0.02f},
        {"5 ms later", 0.02f, true, 10.065, 0.025f},
        {"15 ms later", 0.02f, true, 10.075, 0.035f},
        {"never more than a period past the reading", 0.02f, true, 10.200, 0.04f},
        {"a late reading below what was given: what was given stands", 0.03f, true, 10.201, 0.04f},
        {"and goes on from the new reading once it passes", 0.03f, true, 10.215, 0.044f},
        {"a reading caught up", 0.06f, true, 10.220, 0.06f},
        {"stopped: no filling in", 0.06f, false, 10.300, 0.06f},
        {"stopped: no going back either", 0.05f, false, 10.400, 0.06f},
    };
    SmoothedPosition clock;
    for (const auto& f : frames)
        EXPECT_NEAR(smoothPlayingPosition(clock, f.reading, f.playing, f.now, period), f.expected, 1e-5) << f.what;
}

} // namespace

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

} // namespace

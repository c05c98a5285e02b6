// Frame lists as users type them, mapped onto the plug-in's Start, End and Every: the lists that
// are one evenly spaced range, and the ones refused because the plug-in cannot sample them.
#include "cli/plan/FrameList.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/core/CliError.h"
#include "cli/plan/SamplingPlan.h"

using namespace framemeld::cli;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

SliderRanges pluginLikeRanges()
{
    SliderRanges ranges;
    ranges.start = {"Start Frame", 0, 9999, 1};
    ranges.end = {"End Frame", 0, 9999, 1};
    ranges.every = {"Every n-th Frame", 1, 100, 1};
    ranges.divergence = {"Divergence", 0, 100, 2};
    ranges.ratingRange = {"Rating Range", 0.1, 9999, 1};
    return ranges;
}

EvenFrames evenOf(const std::string &text)
{
    return evenFrames(parseFrameList(text), "--frames " + text);
}

std::string usageErrorOf(const std::function<void()> &action)
{
    try {
        action();
    } catch (const UsageError &error) {
        return error.what();
    }
    return "no usage error";
}

TEST(FrameList, EvenlySpacedListsBecomeOneRange)
{
    const EvenFrames fours = evenOf("1001-1100x4");
    EXPECT_EQ(fours.start, 1001);
    EXPECT_EQ(fours.end, 1097); // the last frame the step reaches
    EXPECT_EQ(fours.every, 4);
    EXPECT_EQ(fours.count, 25);

    // Lists, ranges and repeats that make one range, in any order.
    const EvenFrames joined = evenOf("1001-1049x4,1053-1097x4 1001");
    EXPECT_EQ(joined.start, 1001);
    EXPECT_EQ(joined.end, 1097);
    EXPECT_EQ(joined.every, 4);
    const EvenFrames listed = evenOf("1009,1001,1005");
    EXPECT_EQ(listed.every, 4);
    EXPECT_EQ(listed.end, 1009);
    const EvenFrames single = evenOf("-5");
    EXPECT_EQ(single.start, -5);
    EXPECT_EQ(single.end, -5);
    EXPECT_EQ(single.every, 1);
    EXPECT_EQ(evenOf("-8--2x3").start, -8);
    EXPECT_EQ(evenOf("100000000001-100000000003").end, 100000000003LL);
}

TEST(FrameList, WhatThePluginCannotSampleIsRefusedSayingWhere)
{
    const std::string broken = usageErrorOf([] { evenOf("1001-1040,1100-1150x2"); });
    EXPECT_THAT(broken, HasSubstr("--frames 1001-1040,1100-1150x2 is not one evenly spaced range"));
    EXPECT_THAT(broken, HasSubstr("frames 1001 to 1040 are 1 apart, then 1040 to 1100 60"));
    EXPECT_THAT(usageErrorOf([] { evenOf("1,2,4"); }), HasSubstr("then 2 to 4 2"));

    for (const std::string text : {"", ",", "1001-", "1001-1100x", "1001-1100x0", "1100-1001",
                                   "a-b", "1001x4", "10-20x2y", "1234567890123456"}) {
        SCOPED_TRACE(text);
        EXPECT_THAT(usageErrorOf([&] { parseFrameList(text); }), HasSubstr("--frames needs"));
    }
    EXPECT_THAT(usageErrorOf([] { evenOf("1-999999999999"); }), HasSubstr("names more than"));
}

TEST(FrameList, SamplingPlanTakesAListInPlaceOfStartEndAndEvery)
{
    const FrameNumbering numbering{100, 1001, true};
    SliderRequest request;
    request.frames = "1001-1100x4";
    const SamplingPlan plan = planSampling(request, pluginLikeRanges(), numbering);
    EXPECT_EQ(plan.start, 0);
    EXPECT_EQ(plan.end, 96);
    EXPECT_EQ(plan.every, 4);
    EXPECT_EQ(plan.frames.size(), 25u);
    EXPECT_EQ(plan.frames.back(), 96);

    // Frames outside the clip and steps the slider lacks, named as the list.
    request.frames = "990-1100x4";
    EXPECT_THAT(usageErrorOf([&] { planSampling(request, pluginLikeRanges(), numbering); }),
                HasSubstr("--frames 990-1100x4: its first frame, 990 is a number no file"));
    request.frames = "1001-1200x4";
    EXPECT_THAT(usageErrorOf([&] { planSampling(request, pluginLikeRanges(), numbering); }),
                HasSubstr("its last frame, 1197 is past the end of the clip"));
    request.frames = "1001,1202";
    const FrameNumbering longer{300, 1001, true};
    EXPECT_THAT(usageErrorOf([&] { planSampling(request, pluginLikeRanges(), longer); }),
                HasSubstr("its step, 201 is outside the valid range of \"Every n-th Frame\""));
    request.frames = "1001-1100x4";
    request.every = 2;
    EXPECT_THAT(usageErrorOf([&] { planSampling(request, pluginLikeRanges(), numbering); }),
                HasSubstr("without --start, --end and --every"));
}

TEST(FrameList, TwelveDigitFrameNumbersAreExact)
{
    const FrameNumbering numbering{10, 100000000001LL, true};
    SliderRequest request;
    request.start = 100000000003.0;
    request.end = 100000000009.0;
    const SamplingPlan plan = planSampling(request, pluginLikeRanges(), numbering);
    EXPECT_EQ(plan.start, 2);
    EXPECT_EQ(plan.end, 8);
    request.start = 100000000000.0;
    EXPECT_THAT(usageErrorOf([&] { planSampling(request, pluginLikeRanges(), numbering); }),
                HasSubstr("--start 100000000000 is a number no file"));
}

} // namespace

#include "cli/plan/SamplingPlan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli/core/CliError.h"

using namespace framemeld::cli;
using testing::ElementsAre;
using testing::HasSubstr;

namespace {

// Shaped like the plug-in's registrations, with its odd corners: the valid maximum of the frame
// numbers is 9999 and the rating range may go below its slider's 1.
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

std::string usageErrorOf(const SliderRequest &options, const FrameNumbering &numbering)
{
    try {
        planSampling(options, pluginLikeRanges(), numbering);
    } catch (const UsageError &error) {
        return error.what();
    }
    ADD_FAILURE() << "no usage error";
    return {};
}

TEST(SamplingPlan, DefaultsTakeTheWholeClipAndThePluginsSliderDefaults)
{
    const SamplingPlan plan = planSampling(SliderRequest{}, pluginLikeRanges(), FrameNumbering{6});
    EXPECT_EQ(plan.start, 0); // not the slider's default of 1: the whole clip
    EXPECT_EQ(plan.end, 5);
    EXPECT_EQ(plan.every, 1);
    EXPECT_EQ(plan.divergence, 2.0);
    EXPECT_EQ(plan.ratingRange, 1.0);
    EXPECT_THAT(plan.frames, ElementsAre(0, 1, 2, 3, 4, 5));
}

TEST(SamplingPlan, FramesFollowThePluginsGrid)
{
    EXPECT_THAT(sampledFrames(0, 9, 4), ElementsAre(0, 4, 8)); // 9 is off the grid
    EXPECT_THAT(sampledFrames(2, 8, 3), ElementsAre(2, 5, 8)); // the end on the grid is in
    EXPECT_THAT(sampledFrames(10, 20, 3), ElementsAre(10, 13, 16, 19));
    EXPECT_THAT(sampledFrames(7, 7, 5), ElementsAre(7));

    SliderRequest options;
    options.start = 3;
    options.every = 8;
    EXPECT_THAT(planSampling(options, pluginLikeRanges(), FrameNumbering{30}).frames,
                ElementsAre(3, 11, 19, 27));
}

TEST(SamplingPlan, ValuesOutsideASlidersRangeAreRefusedWithTheRange)
{
    SliderRequest every;
    every.every = 0;
    EXPECT_THAT(
        usageErrorOf(every, FrameNumbering{10}),
        HasSubstr("--every 0 is outside the valid range of \"Every n-th Frame\": 1 to 100"));
    SliderRequest rating;
    rating.ratingRange = SliderChoice::of(0.05);
    EXPECT_THAT(usageErrorOf(rating, FrameNumbering{10}),
                HasSubstr("\"Rating Range\": 0.1 to 9999"));
    SliderRequest divergence;
    divergence.divergence = SliderChoice::of(100.5);
    EXPECT_THAT(usageErrorOf(divergence, FrameNumbering{10}),
                HasSubstr("\"Divergence\": 0 to 100"));
    SliderRequest start;
    start.start = -1;
    EXPECT_THAT(usageErrorOf(start, FrameNumbering{10}), HasSubstr("\"Start Frame\": 0 to 9999"));
    SliderRequest end;
    end.end = 10000;
    EXPECT_THAT(usageErrorOf(end, FrameNumbering{20000}), HasSubstr("\"End Frame\": 0 to 9999"));

    // The range check alone, as main() runs it before touching the footage.
    EXPECT_THROW(checkSliderRanges(every, pluginLikeRanges()), UsageError);
    EXPECT_NO_THROW(checkSliderRanges(SliderRequest{}, pluginLikeRanges()));
}

TEST(SamplingPlan, FramesPastTheClipNameItsLength)
{
    SliderRequest end;
    end.end = 795;
    EXPECT_THAT(usageErrorOf(end, FrameNumbering{795}),
                HasSubstr("--end 795 is past the end of the clip: the clip "
                          "has 795 frames (0 to 794)"));
    SliderRequest start;
    start.start = 3;
    EXPECT_THAT(usageErrorOf(start, FrameNumbering{1}),
                HasSubstr("the clip has 1 frame (frame 0)"));
}

// A sequence shot.1001.png ... shot.1100.png: --start and --end take the files' numbers and the
// plug-in gets layer frames from 0.
TEST(SamplingPlan, ANumberedSequenceGoesByItsFileNumbers)
{
    const FrameNumbering shot{100, 1001, true};
    const SamplingPlan whole = planSampling(SliderRequest{}, pluginLikeRanges(), shot);
    EXPECT_EQ(whole.start, 0);
    EXPECT_EQ(whole.end, 99);

    SliderRequest options;
    options.start = 1001;
    options.end = 1010;
    options.every = 3;
    const SamplingPlan plan = planSampling(options, pluginLikeRanges(), shot);
    EXPECT_EQ(plan.start, 0);
    EXPECT_EQ(plan.end, 9);
    EXPECT_THAT(plan.frames, ElementsAre(0, 3, 6, 9));
    EXPECT_EQ(shot.describe(), "file numbers 1001 to 1100");
    EXPECT_EQ(FrameNumbering{795}.describe(), "frames counted from 0: 0 to 794");

    SliderRequest before;
    before.start = 5; // a frame number counted from 0, on a clip that goes by file numbers
    EXPECT_THAT(usageErrorOf(before, shot),
                HasSubstr("--start 5 is a number no file of the clip carries: the clip has 100 "
                          "frames (file numbers 1001 to 1100)"));
    SliderRequest after;
    after.end = 1101;
    EXPECT_THAT(usageErrorOf(after, shot),
                HasSubstr("--end 1101 is past the end of the clip: the clip has 100 frames "
                          "(file numbers 1001 to 1100)"));
    SliderRequest reversed;
    reversed.start = 1050;
    reversed.end = 1020;
    EXPECT_THAT(usageErrorOf(reversed, shot), HasSubstr("--start 1050 comes after --end 1020"));
    SliderRequest one;
    one.end = 8;
    EXPECT_THAT(usageErrorOf(one, FrameNumbering{1, 7, true}),
                HasSubstr("the clip has 1 frame (file number 7)"));
    // The slider's limit applies to the layer frame the number maps to.
    SliderRequest far;
    far.end = 20000;
    EXPECT_THAT(usageErrorOf(far, FrameNumbering{30000, 1000, true}),
                HasSubstr("--end 20000 (frame 19000 of the layer, counted from 0) is outside the "
                          "valid range of \"End Frame\": 0 to 9999"));
}

TEST(SamplingPlan, AReversedRangeHasNoFrames)
{
    SliderRequest options;
    options.start = 8;
    options.end = 2;
    EXPECT_THAT(usageErrorOf(options, FrameNumbering{10}),
                HasSubstr("--start 8 comes after --end 2"));
}

TEST(SamplingPlan, AClipLongerThanTheEndSliderIsRefusedUnlessTheEndIsGiven)
{
    // The plug-in cannot reach frame 10000 on: taking the first 10000 frames unasked would pass
    // them off as the whole clip.
    const std::string refusal = usageErrorOf(SliderRequest{}, FrameNumbering{12000});
    EXPECT_THAT(refusal, HasSubstr("the clip has 12000 frames (0 to 11999)"));
    EXPECT_THAT(refusal,
                HasSubstr("\"End Frame\" reaches (up to layer frame 9999); give --end 9999"));

    SliderRequest upToTheSlider;
    upToTheSlider.end = 9999;
    const SamplingPlan plan =
        planSampling(upToTheSlider, pluginLikeRanges(), FrameNumbering{12000});
    EXPECT_EQ(plan.end, 9999);
    EXPECT_EQ(plan.frames.size(), 10000u);
    // A clip the slider covers exactly still defaults to its last frame.
    EXPECT_EQ(planSampling(SliderRequest{}, pluginLikeRanges(), FrameNumbering{10000}).end, 9999);
}

} // namespace

// The rendered clean plate, pixel for pixel, against the consensus rule applied to the test's own
// samples: at every depth, on several worker threads, for awkward output sizes, at the edges of
// the 16-bit and float scales, and with frames that are null or smaller than the output.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RenderHarness.h"

namespace framemeld::rendertest {
namespace {

const rn::PixelDepth kDepths[] = {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16,
                                  rn::PixelDepth::Float32};

std::string DepthName(rn::PixelDepth depth)
{
    return std::to_string(rn::bitsPerChannel(depth)) + "-bit";
}

Sliders EveryOtherFrame()
{
    Sliders sliders;
    sliders.start = 1;
    sliders.end = 11;
    sliders.every = 2;
    return sliders;
}

// Renders and checks the plate against the oracle; returns the result for further checks.
rn::RenderResult RenderAndCompare(rn::Host &host, rn::FrameSource &clip, const Sliders &sliders,
                                  const rn::FaultPlan &faults = {})
{
    rn::RenderResult result = host.render(clip);
    EXPECT_EQ(result.err(), PF_Err_NONE);
    EXPECT_TRUE(Balanced(result.accounting));
    const rn::World expected = ExpectedPlate(SampledFrames(clip, sliders, faults), sliders,
                                             clip.width(), clip.height(), clip.depth());
    EXPECT_TRUE(SamePixels(expected, result.output));
    return result;
}

TEST(SmartRender, EveryPixelIsTheConsensusOfItsSamples)
{
    Sliders tight = EveryOtherFrame();
    Sliders loose = EveryOtherFrame();
    loose.divergence = 5;
    loose.ratingRange = 2.5;
    for (rn::PixelDepth depth : kDepths) {
        auto clip = MakeClip(19, 23, depth, 13, 7);
        for (unsigned threads : {1u, 3u}) {
            for (const Sliders &sliders : {tight, loose}) {
                SCOPED_TRACE(DepthName(depth) + ", " + std::to_string(threads) +
                             " threads, divergence " + std::to_string(sliders.divergence));
                auto host = MakeHost(sliders, HostSetup{threads, 0x5A});
                RenderAndCompare(*host, *clip, sliders);
            }
        }
    }
}

TEST(SmartRender, OddOutputSizesAreCoveredExactly)
{
    struct Size {
        int width;
        int height;
    };
    const Size sizes[] = {{6, 0}, {6, 7}, {6, 10}, {6, 23}, {0, 5}, {1, 1}};
    const Sliders sliders = EveryOtherFrame();
    const A_long n = 6;
    for (rn::PixelDepth depth : kDepths) {
        for (const Size &size : sizes) {
            SCOPED_TRACE(DepthName(depth) + " " + std::to_string(size.width) + "x" +
                         std::to_string(size.height));
            auto host = MakeHost(sliders, HostSetup{3, 0xC3});
            auto clip = MakeClip(size.width, size.height, depth, 12, 3);
            const rn::RenderResult result = RenderAndCompare(*host, *clip, sliders);
            if (depth == rn::PixelDepth::Float32) {
                // One pass of the float iterate per sampled frame and band of ten rows.
                const long bands = (size.height + 9) / 10;
                EXPECT_EQ(result.record.calls.of(rn::HostFunction::IterateFloat), bands * n);
            } else {
                EXPECT_EQ(result.record.calls.of(rn::HostFunction::IterateGeneric), 1);
            }
        }
    }
}

TEST(SmartRender, ASingleSampledFrameComesThroughAtEveryDepth)
{
    Sliders sliders;
    sliders.start = sliders.end = 2;
    for (rn::PixelDepth depth : kDepths) {
        SCOPED_TRACE(DepthName(depth));
        auto host = MakeHost(sliders);
        auto clip = MakeClip(7, 12, depth, 4, 11);
        const rn::RenderResult result = RenderAndCompare(*host, *clip, sliders);
        if (depth != rn::PixelDepth::Bits16) { // 16-bit values beyond full scale are clamped
            rn::World frame = clip->frame(2).clone();
            EXPECT_TRUE(SamePixels(frame, result.output));
        }
    }
}

TEST(SmartRender, SixteenBitValuesAreScaledBy32768AndTruncated)
{
    // One frame: every value comes back, clamped to full scale.
    const A_u_short in[] = {0, 1, 16384, 32767, 32768, 40000, 65535};
    const A_u_short out[] = {0, 1, 16384, 32767, 32768, 32768, 32768};
    Sliders single;
    auto host = MakeHost(single);
    const int width = static_cast<int>(std::size(in));
    rn::InMemoryFrameSource clip(width, 1, rn::PixelDepth::Bits16);
    rn::World &frame = clip.addFrame();
    for (int x = 0; x < width; ++x) {
        frame.at<PF_Pixel16>(x, 0) = PF_Pixel16{in[x], in[x], in[x], in[x]};
    }
    rn::RenderResult result = host->render(clip);
    ASSERT_EQ(result.err(), PF_Err_NONE);
    for (int x = 0; x < width; ++x) {
        const PF_Pixel16 &p = result.output.at<PF_Pixel16>(x, 0);
        EXPECT_EQ(p.alpha, out[x]) << x;
        EXPECT_EQ(p.red, out[x]) << x;
        EXPECT_EQ(p.blue, out[x]) << x;
    }

    // Two agreeing frames whose mean falls between host values: truncated, not rounded.
    Sliders pair;
    pair.end = 1;
    host = MakeHost(pair);
    rn::InMemoryFrameSource two(1, 1, rn::PixelDepth::Bits16);
    two.addFrame().at<PF_Pixel16>(0, 0) = PF_Pixel16{32768, 1, 32767, 100};
    two.addFrame().at<PF_Pixel16>(0, 0) = PF_Pixel16{32768, 2, 32768, 301};
    result = host->render(two);
    ASSERT_EQ(result.err(), PF_Err_NONE);
    const PF_Pixel16 &mean = result.output.at<PF_Pixel16>(0, 0);
    EXPECT_EQ(mean.alpha, 32768);
    EXPECT_EQ(mean.red, 1);       // 1.5
    EXPECT_EQ(mean.green, 32767); // 32767.5
    EXPECT_EQ(mean.blue, 200);    // 200.5
}

TEST(SmartRender, FloatResultsOutsideTheUnitRangeAreWrittenUnchanged)
{
    Sliders single;
    auto host = MakeHost(single);
    rn::InMemoryFrameSource clip(2, 1, rn::PixelDepth::Float32);
    rn::World &frame = clip.addFrame();
    frame.at<PF_PixelFloat>(0, 0) = PF_PixelFloat{1.0f, -0.25f, 1.5f, 3.0f};
    frame.at<PF_PixelFloat>(1, 0) = PF_PixelFloat{-1.0f, 0.5f, 0.0f, 100.0f};
    const rn::RenderResult result = host->render(clip);
    ASSERT_EQ(result.err(), PF_Err_NONE);
    EXPECT_TRUE(SamePixels(frame.clone(), result.output));
}

TEST(SmartRender, FramesWithoutPixelsForAPositionContributeTransparentBlack)
{
    const Sliders sliders = EveryOtherFrame(); // ids 0..5
    struct Case {
        const char *name;
        rn::FaultPlan faults;
    };
    std::vector<Case> cases(6);
    cases[0].name = "first frame null: the output gives the depth";
    cases[0].faults.nullWorldCheckouts = {0};
    cases[1].name = "last frame null";
    cases[1].faults.nullWorldCheckouts = {5};
    cases[2].name = "middle frames smaller";
    cases[2].faults.smallerWorldCheckouts = {{1, {5, 13}}, {3, {19, 4}}};
    cases[3].name = "last frame smaller";
    cases[3].faults.smallerWorldCheckouts = {{5, {3, 12}}};
    cases[4].name = "every frame null";
    cases[4].faults.nullWorldCheckouts = {0, 1, 2, 3, 4, 5};
    cases[5].name = "first frame empty";
    cases[5].faults.smallerWorldCheckouts = {{0, {0, 0}}};
    for (rn::PixelDepth depth : kDepths) {
        auto clip = MakeClip(11, 17, depth, 12, 5);
        for (const Case &c : cases) {
            SCOPED_TRACE(DepthName(depth) + ": " + c.name);
            auto host = MakeHost(sliders, HostSetup{3, 0x77});
            host->faults() = c.faults;
            RenderAndCompare(*host, *clip, sliders, c.faults);
        }
    }
}

} // namespace
} // namespace framemeld::rendertest

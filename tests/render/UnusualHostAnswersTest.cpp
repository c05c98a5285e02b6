// Answers a host should not give but may: slider values far outside their valid ranges (an
// expression is not clamped), and sampled frames in a pixel format the effect does not draw.
#include <string>

#include <gtest/gtest.h>

#include "AE_EffectPixelFormat.h"
#include "RenderHarness.h"

namespace framemeld::rendertest {
namespace {

constexpr unsigned char kFill = 0x5C;

long PixelsHoldingFill(const rn::World &world)
{
    long count = 0;
    for (int y = 0; y < world.height(); ++y) {
        for (int x = 0; x < world.width(); ++x) {
            count += HoldsFill(world, x, y, kFill) ? 1 : 0;
        }
    }
    return count;
}

// Frame sliders from far outside 0..9999 are held to that range: at most the 10000 requests the
// valid ranges allow, never billions, and every requested time is a frame inside it.
TEST(UnusualHostAnswers, FrameSlidersBeyondTheirRangeSampleInsideIt)
{
    auto host = MakeHost(Sliders{}, HostSetup{2, kFill});
    auto clip = MakeClip(1, 1, rn::PixelDepth::Bits8, 3);

    host->faults().rawSliderValues = {{1, -2e9}, {2, 2e9}, {3, 1.0}};
    const rn::RenderResult everything = host->render(*clip);
    ASSERT_EQ(everything.err(), PF_Err_NONE);
    ASSERT_EQ(everything.record.layerRequests.size(), 10000u);
    EXPECT_EQ(everything.record.layerRequests.front().whatTime, 0);
    EXPECT_EQ(everything.record.layerRequests.back().whatTime, 9999);
    EXPECT_TRUE(Balanced(everything.accounting));

    host->faults().rawSliderValues = {{1, 2e9}, {2, 2e9}, {3, 1.0}};
    const rn::RenderResult past = host->render(*clip);
    ASSERT_EQ(past.err(), PF_Err_NONE);
    ASSERT_EQ(past.record.layerRequests.size(), 1u);
    EXPECT_EQ(past.record.layerRequests.front().whatTime, 9999);
    EXPECT_TRUE(Balanced(past.accounting));
}

// The query succeeds but names a format that is none of the three: the render returns the
// query's own result, makes no engine, asks for no pixels and leaves the output as the host
// filled it.
TEST(UnusualHostAnswers, AnUndrawableFormatLeavesTheOutputAlone)
{
    Sliders sliders;
    sliders.end = 2;
    for (PF_PixelFormat format :
         {PF_PixelFormat_INVALID, PF_PixelFormat_BGRA32, PF_PixelFormat_GPU_BGRA128}) {
        for (rn::PixelDepth depth :
             {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16, rn::PixelDepth::Float32}) {
            SCOPED_TRACE(std::to_string(format) + " over " +
                         std::to_string(rn::bitsPerChannel(depth)) + "-bit frames");
            auto host = MakeHost(sliders, HostSetup{2, kFill});
            auto clip = MakeClip(5, 7, depth, 3);
            host->faults().forcedPixelFormat = format;
            const rn::RenderResult result = host->render(*clip);
            EXPECT_EQ(result.err(), PF_Err_NONE);
            EXPECT_EQ(result.record.calls.of(rn::HostFunction::GetPixelFormat), 1);
            EXPECT_EQ(result.record.calls.of(rn::HostFunction::GetPixelData8), 0);
            EXPECT_EQ(result.record.calls.of(rn::HostFunction::GetPixelData16), 0);
            EXPECT_EQ(result.record.calls.of(rn::HostFunction::IterateGeneric), 0);
            EXPECT_EQ(result.record.calls.of(rn::HostFunction::IterateFloat), 0);
            ASSERT_TRUE(result.output.valid());
            EXPECT_EQ(PixelsHoldingFill(result.output), 5 * 7);
            EXPECT_TRUE(Balanced(result.accounting));
        }
    }
}

} // namespace
} // namespace framemeld::rendertest

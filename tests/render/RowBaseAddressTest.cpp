// The 8-bit and 16-bit row workers ask the host for a frame's base address once per row, not once
// per pixel, and only for frames that have pixels in that row; a refused request stops its row
// before any of the row is written, and the other rows still come out as the plate.
#include <gtest/gtest.h>

#include "RenderHarness.h"

namespace framemeld::rendertest {
namespace {

constexpr unsigned char kFill = 0x5C;

rn::HostFunction PixelDataCall(rn::PixelDepth depth)
{
    return depth == rn::PixelDepth::Bits8 ? rn::HostFunction::GetPixelData8
                                          : rn::HostFunction::GetPixelData16;
}

TEST(RowBaseAddress, AskedOncePerFrameAndRowAndOnlyWhereTheFrameHasTheRow)
{
    Sliders sliders;
    sliders.end = 3; // four sampled frames
    const int width = 11;
    const int height = 6;
    for (rn::PixelDepth depth : {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16}) {
        SCOPED_TRACE(rn::bitsPerChannel(depth));
        auto clip = MakeClip(width, height, depth, 4);
        rn::FaultPlan faults;
        faults.nullWorldCheckouts = {1};
        faults.smallerWorldCheckouts = {{2, {4, 2}}}; // frame 2 has rows 0 and 1 only
        auto host = MakeHost(sliders);
        host->faults() = faults;
        const rn::RenderResult result = host->render(*clip);
        ASSERT_EQ(result.err(), PF_Err_NONE);
        EXPECT_TRUE(SamePixels(
            ExpectedPlate(SampledFrames(*clip, sliders, faults), sliders, width, height, depth),
            result.output));
        // The output's once, then frames 0 and 3 on every row, frame 2 on its two rows, the null
        // frame never.
        EXPECT_EQ(result.record.calls.of(PixelDataCall(depth)), 1 + 2 * height + 2);
    }
}

TEST(RowBaseAddress, ARefusedRequestLeavesItsRowUnwritten)
{
    Sliders sliders;
    sliders.end = 2; // three sampled frames
    const int width = 7;
    const int height = 5;
    for (rn::PixelDepth depth : {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16}) {
        SCOPED_TRACE(rn::bitsPerChannel(depth));
        auto clip = MakeClip(width, height, depth, 3);
        const rn::World expected =
            ExpectedPlate(SampledFrames(*clip, sliders), sliders, width, height, depth);
        // One worker takes the rows in order, so the 8th request is the second frame of row 2.
        auto host = MakeHost(sliders, HostSetup{1, kFill});
        host->faults().callFaults = {{PixelDataCall(depth), 8, PF_Err_OUT_OF_MEMORY}};
        const rn::RenderResult result = host->render(*clip);
        EXPECT_EQ(result.err(), PF_Err_OUT_OF_MEMORY);
        EXPECT_TRUE(Balanced(result.accounting));
        ASSERT_TRUE(result.output.valid());
        for (int x = 0; x < width; ++x) {
            EXPECT_TRUE(HoldsFill(result.output, x, 2, kFill))
                << "pixel " << x << " of the refused row was written";
        }
        EXPECT_TRUE(SamePixels(expected.cropped(width, 2), result.output.cropped(width, 2)));
    }
}

} // namespace
} // namespace framemeld::rendertest

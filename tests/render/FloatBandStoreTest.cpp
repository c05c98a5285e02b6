// A float render keeps each band's samples in one store that every band reuses: a frame that
// fills one band completely and the next one not at all must leave nothing of the first band in
// the second. Checked against the plate computed from the test's own frames.
#include <gtest/gtest.h>

#include "RenderHarness.h"

namespace framemeld::rendertest {
namespace {

TEST(FloatBandStore, LaterBandsSeeNoSamplesOfEarlierOnes)
{
    Sliders sliders;
    sliders.end = 4; // five sampled frames
    const int width = 7;
    const int height = 34; // three whole bands of ten rows and a short one
    auto clip = MakeClip(width, height, rn::PixelDepth::Float32, 5, 7);
    rn::FaultPlan faults;
    faults.smallerWorldCheckouts = {{1, {width, 10}},
                                    {3, {width, 20}}}; // end exactly at band edges
    faults.nullWorldCheckouts = {4};                   // the last frame: an extra pass
    for (unsigned threads : {1u, 3u}) {
        SCOPED_TRACE(threads);
        auto host = MakeHost(sliders, HostSetup{threads, 0});
        host->faults() = faults;
        const rn::RenderResult result = host->render(*clip);
        ASSERT_EQ(result.err(), PF_Err_NONE);
        EXPECT_TRUE(Balanced(result.accounting));
        EXPECT_TRUE(SamePixels(ExpectedPlate(SampledFrames(*clip, sliders, faults), sliders, width,
                                             height, rn::PixelDepth::Float32),
                               result.output));
    }
}

} // namespace
} // namespace framemeld::rendertest

// Which frames a render requests, at what times, under which ids, and how large the output is,
// observed from the host side through the runner.
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "RenderHarness.h"

namespace framemeld::rendertest {
namespace {

std::vector<A_long> RequestedFrames(const rn::RenderRecord &record)
{
    std::vector<A_long> frames;
    for (const rn::LayerRequest &request : record.layerRequests) {
        frames.push_back(request.frame.value_or(-1));
    }
    return frames;
}

TEST(SmartPreRender, RequestsEachSampledFrameUnderItsIdAtItsTime)
{
    Sliders sliders;
    sliders.start = 10;
    sliders.end = 20;
    sliders.every = 3;
    auto host = MakeHost(sliders);
    auto clip = MakeClip(4, 3, rn::PixelDepth::Bits8, 25);

    for (A_long timeStep : {1, 2}) {
        SCOPED_TRACE(timeStep);
        rn::RenderRequest request;
        request.frame = 7; // the rendered frame does not move the sampling
        request.timeStep = timeStep;
        request.timeScale = 25;
        const rn::RenderResult result = host->render(*clip, request);
        ASSERT_EQ(result.err(), PF_Err_NONE);
        EXPECT_TRUE(Balanced(result.accounting));

        const std::vector<A_long> frames = {10, 13, 16, 19};
        ASSERT_EQ(result.record.layerRequests.size(), frames.size());
        for (std::size_t i = 0; i < frames.size(); ++i) {
            const rn::LayerRequest &made = result.record.layerRequests[i];
            EXPECT_EQ(made.checkoutId, static_cast<A_long>(i));
            EXPECT_EQ(made.layer, 0);
            EXPECT_EQ(made.whatTime, frames[i] * timeStep);
            EXPECT_EQ(made.timeStep, timeStep);
            EXPECT_EQ(made.timeScale, 25u);
            EXPECT_EQ(made.frame, frames[i]);
        }
        ASSERT_EQ(result.record.pixelCheckouts.size(), frames.size());
        for (std::size_t i = 0; i < frames.size(); ++i) {
            EXPECT_EQ(result.record.pixelCheckouts[i].checkoutId, static_cast<A_long>(i));
        }
        EXPECT_TRUE(SamePixels(
            ExpectedPlate(SampledFrames(*clip, sliders), sliders, 4, 3, rn::PixelDepth::Bits8),
            result.output));
    }
}

struct SamplingCase {
    const char *name;
    Sliders sliders;
    std::vector<A_long> frames;
};

TEST(SmartPreRender, TruncatesAndCorrectsTheSliders)
{
    auto slider = [](double start, double end, double every) {
        Sliders s;
        s.start = start;
        s.end = end;
        s.every = every;
        return s;
    };
    const SamplingCase cases[] = {
        {"single frame", slider(5, 5, 1), {5}},
        {"end below start", slider(8, 3, 2), {8}},
        {"fractional sliders", slider(2.9, 8.7, 2.9), {2, 4, 6, 8}},
        {"step below two", slider(3, 6, 1.9), {3, 4, 5, 6}},
        {"end off the grid", slider(0, 9, 4), {0, 4, 8}},
        {"frames past the clip", slider(9, 14, 2), {9, 11, -1}},
    };
    auto clip = MakeClip(5, 4, rn::PixelDepth::Bits8, 12);
    for (const SamplingCase &c : cases) {
        SCOPED_TRACE(c.name);
        auto host = MakeHost(c.sliders, HostSetup{2, 0});
        const rn::RenderResult result = host->render(*clip);
        ASSERT_EQ(result.err(), PF_Err_NONE);
        EXPECT_EQ(RequestedFrames(result.record), c.frames);
        EXPECT_TRUE(Balanced(result.accounting));
        EXPECT_TRUE(SamePixels(
            ExpectedPlate(SampledFrames(*clip, c.sliders), c.sliders, 5, 4, rn::PixelDepth::Bits8),
            result.output));
    }
}

TEST(SmartPreRender, TheWholeSliderRangeGivesTenThousandRequests)
{
    Sliders sliders;
    sliders.end = 9999;
    auto host = MakeHost(sliders, HostSetup{2, 0});
    auto clip = MakeClip(1, 1, rn::PixelDepth::Bits8, 3);
    const rn::RenderResult result = host->render(*clip);
    ASSERT_EQ(result.err(), PF_Err_NONE);
    ASSERT_EQ(result.record.layerRequests.size(), 10000u);
    EXPECT_EQ(result.record.layerRequests.back().checkoutId, 9999);
    EXPECT_EQ(result.record.layerRequests.back().whatTime, 9999);
    EXPECT_EQ(result.record.pixelCheckouts.size(), 10000u);
    EXPECT_TRUE(Balanced(result.accounting));
}

TEST(SmartPreRender, NeverRequestsATimeBeyondTheHostsRange)
{
    // At 300000 units per frame, frames past 7158 have no 32-bit time.
    Sliders sliders;
    sliders.start = 7150;
    sliders.end = 7170;
    auto host = MakeHost(sliders, HostSetup{2, 0});
    auto clip = MakeClip(3, 2, rn::PixelDepth::Float32, 2);
    rn::RenderRequest request;
    request.timeStep = 300000;
    request.timeScale = 30000000;
    const rn::RenderResult result = host->render(*clip, request);
    ASSERT_EQ(result.err(), PF_Err_NONE);
    ASSERT_EQ(result.record.layerRequests.size(), 9u);
    EXPECT_EQ(result.record.layerRequests.back().whatTime, 7158 * 300000);
    EXPECT_EQ(result.record.pixelCheckouts.size(), 9u);
    EXPECT_TRUE(Balanced(result.accounting));

    // Not even the first frame fits: nothing is requested and nothing is sampled.
    host->setParameter(1, 9999);
    host->setParameter(2, 9999);
    const rn::RenderResult none = host->render(*clip, request);
    EXPECT_EQ(none.err(), PF_Err_NONE);
    EXPECT_TRUE(none.record.layerRequests.empty());
    EXPECT_TRUE(none.record.pixelCheckouts.empty());
    EXPECT_TRUE(Balanced(none.accounting));
}

TEST(SmartPreRender, TheOutputCoversTheLastAnswersResultRectangle)
{
    Sliders sliders;
    sliders.end = 2;
    auto host = MakeHost(sliders);
    auto clip = MakeClip(6, 5, rn::PixelDepth::Bits16, 3);
    rn::RenderRequest request;
    request.area = PF_LRect{2, 1, 9, 4}; // reaches past the layer's right edge
    const rn::RenderResult result = host->render(*clip, request);
    ASSERT_EQ(result.err(), PF_Err_NONE);
    ASSERT_TRUE(result.output.valid());
    EXPECT_EQ(result.output.width(), 4);
    EXPECT_EQ(result.output.height(), 3);
    EXPECT_EQ(result.output.effectWorld()->origin_x, 2);
    EXPECT_EQ(result.output.effectWorld()->origin_y, 1);
}

TEST(SmartPreRender, AFailedCheckoutEndsTheRequestsButTheRecordIsStillFreed)
{
    Sliders sliders;
    sliders.end = 6;
    auto clip = MakeClip(3, 3, rn::PixelDepth::Bits8, 7);
    constexpr PF_Err kCode = PF_Err_INVALID_INDEX;

    auto host = MakeHost(sliders);
    host->faults().callFaults = {{rn::HostFunction::CheckoutParam, 3, kCode}};
    rn::RenderResult result = host->render(*clip);
    EXPECT_EQ(result.preRender.err, kCode);
    EXPECT_EQ(result.record.calls.of(rn::HostFunction::CheckoutParam), 3);
    EXPECT_TRUE(result.record.layerRequests.empty());
    EXPECT_TRUE(result.accounting.preRenderDataAttached);
    EXPECT_EQ(result.accounting.preRenderDataDeletes, 1);
    EXPECT_TRUE(Balanced(result.accounting));

    host->faults().callFaults = {{rn::HostFunction::CheckoutLayer, 3, kCode}};
    result = host->render(*clip);
    EXPECT_EQ(result.preRender.err, kCode);
    EXPECT_EQ(result.record.layerRequests.size(), 3u);
    EXPECT_EQ(result.record.calls.of(rn::HostFunction::CheckinParam), 5);
    EXPECT_TRUE(result.accounting.preRenderDataAttached);
    EXPECT_TRUE(Balanced(result.accounting));
}

} // namespace
} // namespace framemeld::rendertest

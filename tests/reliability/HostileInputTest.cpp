// Input a host or a project file may hand the plug-in: slider values outside their ranges or
// between whole frames, sampled frames that are missing or smaller than the output, rows padded
// in every way, and footage with NaN, infinities and values beyond full scale. Every render must
// finish whole with exactly the plate of what it was given, and leave the footage alone.
#include <map>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "ReliabilityKit.h"

namespace framemeld::reliability {
namespace {

const rn::PixelDepth kDepths[] = {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16,
                                  rn::PixelDepth::Float32};

std::string DepthName(rn::PixelDepth depth)
{
    return std::to_string(rn::bitsPerChannel(depth)) + "-bit";
}

void ExpectWholePlate(rn::Host &host, rn::FrameSource &clip, const Sliders &stored,
                      const rn::FaultPlan &faults = {})
{
    const rn::World plate = ExpectedPlate(clip, stored, faults);
    const ClipSnapshot footage(clip);
    const CheckedRender run =
        RenderAndCheck(host, clip, Expectation{&plate, kFill, true, &footage});
    EXPECT_TRUE(run.ok()) << run.Report();
}

TEST(HostileInput, SliderValuesOutsideTheirRangesOrBetweenFrames)
{
    struct Case {
        const char *what;
        Sliders wanted;
    };
    const Case cases[] = {
        {"fractional frames and step", {2.9, 7.99, 2.5, 2.0, 1.0}},
        {"end before start", {9.0, 3.0, 1.0, 2.0, 1.0}},
        {"step below its minimum", {0.0, 5.0, 0.5, 2.0, 1.0}},
        {"negative start", {-5.0, 4.0, 1.0, 2.0, 1.0}},
        {"frames past the clip and the slider", {9990.0, 20000.0, 1.0, 2.0, 1.0}},
        {"step past its maximum", {0.0, 11.0, 1000.0, 2.0, 1.0}},
        {"no divergence", {0.0, 11.0, 1.0, 0.0, 1.0}},
        {"divergence past its maximum", {0.0, 11.0, 1.0, 150.0, 1.0}},
        {"fractional divergence", {0.0, 11.0, 1.0, 2.9, 1.0}},
        {"rating range below its minimum", {0.0, 11.0, 3.0, 2.0, 0.05}},
        {"rating range past its maximum", {0.0, 11.0, 1.0, 2.0, 1.0e9}},
        {"fractional rating range", {0.0, 11.0, 1.0, 2.0, 1.5}},
    };
    for (rn::PixelDepth depth : kDepths) {
        auto clip = MakeHostileClip(6, 13, depth, 12, 31);
        auto host = NewHost(3);
        for (const Case &c : cases) {
            SCOPED_TRACE(DepthName(depth) + ", " + c.what);
            const Sliders stored = SetSliders(*host, c.wanted);
            ExpectWholePlate(*host, *clip, stored);
        }
    }
}

TEST(HostileInput, MissingOrSmallerFramesAnywhereInTheSampling)
{
    struct Case {
        const char *what;
        std::set<A_long> nullWorlds;
        std::map<A_long, rn::SmallerWorld> smallerWorlds;
    };
    const Case cases[] = {
        {"first frame null", {0}, {}},
        {"every frame null", {0, 1, 2, 3, 4}, {}},
        {"last frame null", {4}, {}},
        {"first frame empty", {}, {{0, {0, 0}}}},
        {"frames narrower and shorter", {}, {{1, {1, 13}}, {3, {6, 1}}}},
        {"last frame smaller", {}, {{4, {3, 4}}}},
        {"mixed", {2}, {{0, {5, 12}}, {4, {0, 13}}}},
    };
    Sliders wanted;
    wanted.end = 4;
    wanted.divergence = 5;
    for (rn::PixelDepth depth : kDepths) {
        auto clip = MakeHostileClip(6, 13, depth, 5, 41);
        auto host = NewHost(3);
        const Sliders stored = SetSliders(*host, wanted);
        for (const Case &c : cases) {
            SCOPED_TRACE(DepthName(depth) + ", " + c.what);
            host->faults().nullWorldCheckouts = c.nullWorlds;
            host->faults().smallerWorldCheckouts = c.smallerWorlds;
            ExpectWholePlate(*host, *clip, stored, host->faults());
        }
        host->faults() = {};
    }
}

// Rows padded by nothing at all, by whole pixels only, by bytes that are no whole pixel, and a lot.
TEST(HostileInput, RowsPaddedInEveryWay)
{
    for (rn::PixelDepth depth : kDepths) {
        const int channel = static_cast<int>(rn::bytesPerChannel(depth));
        const rn::RowPadding paddings[] = {
            {0, 0}, {1, 0}, {0, channel}, {0, 3 * channel}, {37, 5 * channel}};
        for (const rn::RowPadding &input : paddings) {
            for (const rn::RowPadding &output : paddings) {
                SCOPED_TRACE(DepthName(depth) + ", input rows +" + std::to_string(input.pixels) +
                             " px +" + std::to_string(input.bytes) + " B, output rows +" +
                             std::to_string(output.pixels) + " px +" +
                             std::to_string(output.bytes) + " B");
                auto clip = MakeHostileClip(5, 11, depth, 4, 51, input);
                rn::HostOptions options;
                options.threads = 2;
                options.outputFill = kFill;
                options.outputPadding = output;
                rn::Host host(Module(), options);
                ASSERT_TRUE(host.setup().ok());
                Sliders wanted;
                wanted.end = 3;
                ExpectWholePlate(host, *clip, SetSliders(host, wanted));
            }
        }
    }
}

} // namespace
} // namespace framemeld::reliability

// Float footage with broken frames, through the built module: a frame of NaN (or one with a NaN
// or an infinite channel) drops out of the plate, which keeps the value of the good frames.
#include <cmath>
#include <limits>
#include <string>

#include <gtest/gtest.h>

#include "RenderHarness.h"

namespace framemeld::rendertest {
namespace {

constexpr int kWidth = 4;
constexpr int kHeight = 2;
constexpr int kGoodFrames = 6;
constexpr int kBrokenFrame = 3; // among the sampled frames 0 .. 6
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInfinity = std::numeric_limits<float>::infinity();

// The good frames' value at a position: 0.25 in the first column, then distinct per pixel.
PF_PixelFloat Background(int x, int y)
{
    const float level = 0.25f + 0.125f * static_cast<float>(x + kWidth * y);
    return PF_PixelFloat{1.0f, level, level, 0.25f};
}

// Six good frames around one broken one. The broken frame is NaN throughout but for column 1
// (NaN in green only) and column 2 (+infinity in red); column 3 of row 1 is NaN in every frame.
rn::InMemoryFrameSource BrokenClip()
{
    rn::InMemoryFrameSource clip(kWidth, kHeight, rn::PixelDepth::Float32);
    for (int k = 0; k <= kGoodFrames; ++k) {
        rn::World &frame = clip.addFrame();
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                PF_PixelFloat pixel = Background(x, y);
                if (k == kBrokenFrame) {
                    pixel = PF_PixelFloat{kNaN, kNaN, kNaN, kNaN};
                    if (x == 1) {
                        pixel = Background(x, y);
                        pixel.green = kNaN;
                    } else if (x == 2) {
                        pixel = Background(x, y);
                        pixel.red = kInfinity;
                    }
                }
                if (x == 3 && y == 1) {
                    pixel = PF_PixelFloat{kNaN, kNaN, kNaN, kNaN};
                }
                frame.at<PF_PixelFloat>(x, y) = pixel;
            }
        }
    }
    return clip;
}

TEST(NonFiniteFootage, ABrokenFrameIsDroppedFromTheFloatPlate)
{
    rn::InMemoryFrameSource clip = BrokenClip();
    Sliders usual;
    usual.end = kGoodFrames;
    Sliders plainMean = usual; // would take in every frame it may
    plainMean.ratingRange = 9999;
    Sliders noAgreement = usual; // every frame rated alike
    noAgreement.divergence = 0;
    for (const Sliders &sliders : {usual, plainMean, noAgreement}) {
        SCOPED_TRACE("divergence " + std::to_string(sliders.divergence) + ", rating range " +
                     std::to_string(sliders.ratingRange));
        auto host = MakeHost(sliders, HostSetup{2, 0x5A});
        const rn::RenderResult result = host->render(clip);
        ASSERT_EQ(result.err(), PF_Err_NONE);
        EXPECT_TRUE(Balanced(result.accounting));
        EXPECT_TRUE(SamePixels(ExpectedPlate(SampledFrames(clip, sliders), sliders, kWidth, kHeight,
                                             rn::PixelDepth::Float32),
                               result.output));
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                SCOPED_TRACE("pixel " + std::to_string(x) + ", " + std::to_string(y));
                const bool nothingGood = x == 3 && y == 1;
                const PF_PixelFloat want =
                    nothingGood ? PF_PixelFloat{0.0f, 0.0f, 0.0f, 0.0f} : Background(x, y);
                const PF_PixelFloat &got = result.output.at<PF_PixelFloat>(x, y);
                EXPECT_EQ(got.alpha, want.alpha);
                EXPECT_EQ(got.red, want.red);
                EXPECT_EQ(got.green, want.green);
                EXPECT_EQ(got.blue, want.blue);
            }
        }
    }
}

} // namespace
} // namespace framemeld::rendertest

// The verdicts the other reliability checks rest on must be able to say no: a plate pixel that
// is wrong, a pixel left undrawn, padding written, footage touched, and float values compared by
// value with any NaN matching any NaN.
#include <cmath>
#include <cstring>
#include <limits>

#include <gtest/gtest.h>

#include "ReliabilityKit.h"

namespace framemeld::reliability {
namespace {

rn::World Filled(int width, int height, rn::PixelDepth depth, unsigned char byte)
{
    rn::World world(width, height, depth);
    world.fillBytes(byte);
    return world;
}

TEST(Checker, FindsWrongUndrawnAndPaddingBytes)
{
    for (rn::PixelDepth depth :
         {rn::PixelDepth::Bits8, rn::PixelDepth::Bits16, rn::PixelDepth::Float32}) {
        SCOPED_TRACE(rn::bitsPerChannel(depth));
        const rn::World plate = Filled(4, 3, depth, 0x11);
        // Drawn as the plate, padding as the host left it.
        rn::World output = Filled(4, 3, depth, kFill);
        for (int y = 0; y < 3; ++y) {
            std::memcpy(output.row(y), plate.row(y), 4 * rn::bytesPerPixel(depth));
        }
        Expectation expectation{&plate, kFill, true, nullptr};
        EXPECT_TRUE(OutputProblems(output, expectation).empty());

        std::memset(output.row(1) + rn::bytesPerPixel(depth), kFill,
                    rn::bytesPerPixel(depth)); // (1, 1)
        EXPECT_EQ(UndrawnPixels(output), 1);
        EXPECT_EQ(OutputProblems(output, expectation).size(), 1u);
        expectation.complete = false;
        EXPECT_TRUE(OutputProblems(output, expectation).empty());

        output.row(2)[0] ^= 0x01; // (0, 2): neither the plate nor untouched
        EXPECT_EQ(OutputProblems(output, expectation).size(), 1u);
        output.row(2)[0] ^= 0x01;

        output.row(0)[static_cast<std::size_t>(output.rowStride()) - 1] = 0x00; // row 0's padding
        EXPECT_EQ(OutputProblems(output, expectation).size(), 1u);
    }
}

TEST(Checker, ComparesFloatsByValueWithNaNMatchingNaN)
{
    rn::World a(2, 1, rn::PixelDepth::Float32);
    rn::World b(2, 1, rn::PixelDepth::Float32);
    a.at<PF_PixelFloat>(0, 0).red = std::numeric_limits<float>::quiet_NaN();
    b.at<PF_PixelFloat>(0, 0).red = -std::numeric_limits<float>::quiet_NaN();
    EXPECT_TRUE(SameValue(a, 0, 0, b, 0, 0));
    a.at<PF_PixelFloat>(1, 0).green = 0.0f;
    b.at<PF_PixelFloat>(1, 0).green = -0.0f;
    EXPECT_FALSE(SameValue(a, 1, 0, b, 1, 0)); // the sign of zero is part of the plate
}

TEST(Checker, NoticesFootageThatChanged)
{
    auto clip = MakeHostileClip(3, 2, rn::PixelDepth::Bits16, 2, 9);
    const ClipSnapshot snapshot(*clip);
    EXPECT_TRUE(snapshot.Matches(*clip));
    clip->frameForWriting(1).at<PF_Pixel16>(2, 1).blue ^= 1;
    EXPECT_FALSE(snapshot.Matches(*clip));
}

// A render that must succeed is held to it: withholding the world suite fails the verdict.
TEST(Checker, HoldsARenderThatMustSucceedToIt)
{
    auto clip = MakeHostileClip(3, 4, rn::PixelDepth::Bits8, 2, 10);
    auto host = NewHost(1);
    Sliders wanted;
    wanted.end = 1;
    const rn::World plate = ExpectedPlate(*clip, SetSliders(*host, wanted));
    EXPECT_TRUE(RenderAndCheck(*host, *clip, Expectation{&plate, kFill, true, nullptr}).ok());
    host->faults().withheldSuites = {"PF World Suite"};
    EXPECT_FALSE(RenderAndCheck(*host, *clip, Expectation{&plate, kFill, true, nullptr}).ok());
    EXPECT_TRUE(RenderAndCheck(*host, *clip, Expectation{&plate, kFill, false, nullptr}).ok());
}

} // namespace
} // namespace framemeld::reliability

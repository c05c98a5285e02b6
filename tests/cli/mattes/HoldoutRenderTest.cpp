// Holdout mattes through the built Framemeld module: frames prepared with held-out codes, the
// plug-in's own plate, then the tool's honest holes, at 8, 16 and 32 bits and Rating Range 1
// and 2. Each plate is compared whole with the rule applied to the visible samples alone.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "MatteClip.h"
#include "RenderHarness.h"
#include "cli/mattes/HoldoutCodes.h"

using framemeld::mattes::HoldoutCodes;
using framemeld::rendertest::SamePixels;
using namespace framemeld::mattestest;

namespace {

const Colour kLingerer{0.9f, 0.15f, 0.6f, 1.0f};
const Box kSpot{2, 1, 5, 4};
constexpr int kFrames = 20;

class Holdout : public ::testing::TestWithParam<std::tuple<rn::PixelDepth, double>> {
protected:
    rn::PixelDepth depth() const { return std::get<0>(GetParam()); }
    double ratingRange() const { return std::get<1>(GetParam()); }
};

// A lingerer standing at kSpot in `standing` of the 20 frames, held out by its own matte: the
// plate is the background where it stood, exactly what the rule makes of the visible samples.
void expectLingererHeldOut(const MatteClip &clip, double ratingRange)
{
    const HoldoutCodes codes(clip.depth(), clip.divergence());
    auto prepared = clip.prepared(codes);
    rn::World plate = renderPlate(*prepared, clip.divergence(), ratingRange);
    ASSERT_TRUE(plate.valid());
    EXPECT_EQ(makeHoles(clip, *prepared, codes, ratingRange, plate), 0);
    EXPECT_TRUE(SamePixels(expectedPlate(clip, ratingRange), plate));
    for (int y = kSpot.top; y < kSpot.bottom; ++y) {
        for (int x = kSpot.left; x < kSpot.right; ++x) {
            EXPECT_TRUE(agreesWith(plate, x, y, clip.background(x, y), clip.divergence()))
                << "at (" << x << ", " << y << ")";
        }
    }
}

TEST_P(Holdout, ALingererHeldOutByItsOwnMatteGivesTheBackground)
{
    MatteClip clip(depth(), kFrames);
    const std::vector<int> standing = frameRange(0, 12); // 60 %
    clip.placeObject(kSpot, standing, kLingerer);

    auto untouched = clip.unprepared();
    const rn::World withoutMatte = renderPlate(*untouched, clip.divergence(), ratingRange());
    ASSERT_TRUE(withoutMatte.valid());
    EXPECT_TRUE(agreesWith(withoutMatte, 3, 2, kLingerer, clip.divergence()))
        << "without a matte the lingerer should win";

    clip.holdOut(kSpot, standing);
    expectLingererHeldOut(clip, ratingRange());
}

TEST_P(Holdout, HeldOutInSeventyPercentItGivesTheBackgroundOfTheOtherThirty)
{
    MatteClip clip(depth(), kFrames);
    const std::vector<int> standing = frameRange(3, 17); // 14 of 20
    clip.placeObject(kSpot, standing, kLingerer);
    clip.holdOut(kSpot, standing);
    expectLingererHeldOut(clip, ratingRange());

    // The naive holdout, transparent black: its 14 identical samples win, a hole.
    auto naive = clip.naivelyPrepared();
    const rn::World naivePlate = renderPlate(*naive, clip.divergence(), ratingRange());
    ASSERT_TRUE(naivePlate.valid());
    EXPECT_TRUE(isTransparentBlack(naivePlate, 3, 2));
}

TEST_P(Holdout, HolesAreTransparentWhereTooFewVisibleSamplesAgree)
{
    MatteClip clip(depth(), kFrames);
    const int needed = static_cast<int>(ratingRange()) + 1; // visible samples the rule needs
    const Box everywhere{0, 0, 3, 2};                       // held out in every frame
    const Box tooFew{4, 0, 6, 2};                           // visible in needed - 1 frames
    const Box enough{7, 0, 9, 2};                           // visible in needed frames
    clip.holdOut(everywhere, frameRange(0, kFrames));
    clip.holdOut(tooFew, frameRange(needed - 1, kFrames));
    clip.holdOut(enough, frameRange(needed, kFrames));
    const HoldoutCodes codes(clip.depth(), clip.divergence());
    auto prepared = clip.prepared(codes);
    rn::World plate = renderPlate(*prepared, clip.divergence(), ratingRange());
    ASSERT_TRUE(plate.valid());
    // The plug-in itself blends the codes there: the step after the render is what makes holes.
    EXPECT_FALSE(isTransparentBlack(plate, 0, 0));
    EXPECT_FALSE(isTransparentBlack(plate, 4, 0));

    EXPECT_EQ(makeHoles(clip, *prepared, codes, ratingRange(), plate), 6 + 4);
    EXPECT_TRUE(SamePixels(expectedPlate(clip, ratingRange()), plate));
    EXPECT_TRUE(isTransparentBlack(plate, 2, 1));
    EXPECT_TRUE(isTransparentBlack(plate, 5, 1));
    EXPECT_TRUE(agreesWith(plate, 8, 1, clip.background(8, 1), clip.divergence()));
}

std::string caseName(const ::testing::TestParamInfo<Holdout::ParamType> &info)
{
    const char *depths[] = {"Bits8", "Bits16", "Float32"};
    return std::string(depths[static_cast<int>(std::get<0>(info.param))]) + "RatingRange" +
           std::to_string(static_cast<int>(std::get<1>(info.param)));
}

INSTANTIATE_TEST_SUITE_P(Depths, Holdout,
                         ::testing::Combine(::testing::Values(rn::PixelDepth::Bits8,
                                                              rn::PixelDepth::Bits16,
                                                              rn::PixelDepth::Float32),
                                            ::testing::Values(1.0, 2.0)),
                         caseName);

} // namespace

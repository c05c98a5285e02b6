// Confidence and difference mattes of plates the built module renders, at 8, 16 and 32 bits
// and Rating Range 1 and 2: their counts are known from how the clip was made.
#include "cli/mattes/PlateAgreement.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "MatteClip.h"

using framemeld::mattes::AgreementRowInput;
using framemeld::mattes::AgreementTest;
using framemeld::mattes::kAgrees;
using framemeld::mattes::kDiffers;
using namespace framemeld::mattestest;

namespace {

constexpr int kFrames = 20;

struct Agreement {
    std::vector<float> confidence;                      // per pixel
    std::vector<std::vector<std::uint8_t>> differences; // per frame, per pixel
};

Agreement agreementOf(rn::FrameSource &frames, const rn::World &plate, double divergence)
{
    const AgreementTest test(plate.depth(), divergence);
    const int n = frames.frameCount();
    const auto width = static_cast<std::size_t>(plate.width());
    Agreement result;
    result.confidence.resize(width * static_cast<std::size_t>(plate.height()));
    result.differences.assign(static_cast<std::size_t>(n),
                              std::vector<std::uint8_t>(result.confidence.size(), 77));
    std::vector<const unsigned char *> rows(static_cast<std::size_t>(n));
    std::vector<std::uint8_t *> differenceRows(rows.size());
    for (int y = 0; y < plate.height(); ++y) {
        const std::size_t offset = static_cast<std::size_t>(y) * width;
        for (std::size_t k = 0; k < rows.size(); ++k) {
            rows[k] = frames.frame(static_cast<int>(k)).row(y);
            differenceRows[k] = result.differences[k].data() + offset;
        }
        AgreementRowInput input;
        input.test = &test;
        input.frameCount = n;
        input.width = plate.width();
        input.frameRows = rows.data();
        input.plateRow = plate.row(y);
        framemeld::mattes::plateAgreementRow(input, result.confidence.data() + offset,
                                             differenceRows.data());
    }
    return result;
}

class PlateAgreement : public ::testing::TestWithParam<std::tuple<rn::PixelDepth, double>> {
protected:
    rn::PixelDepth depth() const { return std::get<0>(GetParam()); }
    double ratingRange() const { return std::get<1>(GetParam()); }
};

TEST_P(PlateAgreement, AStaticClipIsCertainEverywhereAndItsMattesAreEmpty)
{
    MatteClip clip(depth(), kFrames);
    auto frames = clip.unprepared();
    const rn::World plate = renderPlate(*frames, clip.divergence(), ratingRange());
    ASSERT_TRUE(plate.valid());
    const Agreement agreement = agreementOf(*frames, plate, clip.divergence());
    for (float share : agreement.confidence) {
        ASSERT_EQ(share, 1.0f);
    }
    for (const auto &matte : agreement.differences) {
        for (std::uint8_t value : matte) {
            ASSERT_EQ(value, kAgrees);
        }
    }
}

// An object contesting the background: at one spot it stands in 9 of 20 frames (the background
// wins with 11), at another in exactly half (the two groups tie and are averaged, so the plate
// there is neither). Everything else is background in every frame.
TEST_P(PlateAgreement, ConfidenceDropsExactlyWhereAnObjectStandsAboutHalfTheTime)
{
    MatteClip clip(depth(), kFrames);
    const Colour object{0.9f, 0.15f, 0.6f, 1.0f};
    const Box nineOfTwenty{1, 1, 4, 3};
    const Box half{6, 4, 9, 7};
    const std::vector<int> nine{0, 2, 4, 6, 8, 10, 12, 14, 16};
    clip.placeObject(nineOfTwenty, nine, object);
    clip.placeObject(half, frameRange(5, 15), object);
    auto frames = clip.unprepared();
    const rn::World plate = renderPlate(*frames, clip.divergence(), ratingRange());
    ASSERT_TRUE(plate.valid());
    const Agreement agreement = agreementOf(*frames, plate, clip.divergence());

    for (int y = 0; y < MatteClip::kHeight; ++y) {
        for (int x = 0; x < MatteClip::kWidth; ++x) {
            const float share =
                agreement.confidence[static_cast<std::size_t>(y * MatteClip::kWidth + x)];
            const float expected = nineOfTwenty.contains(x, y) ? 11.0f / 20.0f
                                   : half.contains(x, y)       ? 0.0f
                                                               : 1.0f;
            EXPECT_EQ(share, expected) << "at (" << x << ", " << y << ")";
        }
    }
    // Frame by frame, the difference matte is the object where it stands at the first spot.
    for (int k = 0; k < kFrames; ++k) {
        const bool standing = k % 2 == 0 && k <= 16;
        const auto &matte = agreement.differences[static_cast<std::size_t>(k)];
        EXPECT_EQ(matte[1 * MatteClip::kWidth + 2], standing ? kDiffers : kAgrees) << k;
        EXPECT_EQ(matte[5 * MatteClip::kWidth + 10], kAgrees) << k;
        EXPECT_EQ(matte[5 * MatteClip::kWidth + 7], kDiffers) << k; // nobody agrees with a blend
    }
}

std::string caseName(const ::testing::TestParamInfo<PlateAgreement::ParamType> &info)
{
    const char *depths[] = {"Bits8", "Bits16", "Float32"};
    return std::string(depths[static_cast<int>(std::get<0>(info.param))]) + "RatingRange" +
           std::to_string(static_cast<int>(std::get<1>(info.param)));
}

INSTANTIATE_TEST_SUITE_P(Depths, PlateAgreement,
                         ::testing::Combine(::testing::Values(rn::PixelDepth::Bits8,
                                                              rn::PixelDepth::Bits16,
                                                              rn::PixelDepth::Float32),
                                            ::testing::Values(1.0, 2.0)),
                         caseName);

} // namespace

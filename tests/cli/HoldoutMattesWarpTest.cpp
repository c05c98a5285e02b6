// A holdout matte is drawn on its frame as shot; on an aligned run it must move with the frame
// into the reference's pixels, or the held-out object's samples would count where it moved to.
#include "cli/footage/HoldoutMattes.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

using namespace framemeld::cli;

namespace {

constexpr int kWidth = 70; // more than one 64-pixel word per row
constexpr int kHeight = 20;

// Mattes for two sampled frames, both holding out columns [0, x1) of rows [y0, y1): made by
// holding out what lies outside each row's span, as the coverage of a warp does.
HoldoutMattes boxMattes(int x1, int y0, int y1)
{
    Clip clip;
    clip.frameCount = 2;
    HoldoutMattes mattes = HoldoutMattes::nothingHeldOut(clip, kWidth, kHeight, {0, 1});
    for (int k = 0; k < 2; ++k) {
        std::vector<align::CoverageSpan> covered(kHeight, align::CoverageSpan{0, kWidth});
        for (int y = y0; y < y1; ++y) {
            covered[static_cast<std::size_t>(y)] = align::CoverageSpan{x1, kWidth};
        }
        mattes.holdOutUncovered(k, covered);
    }
    return mattes;
}

std::vector<std::uint8_t> rowOf(const HoldoutMattes &mattes, int k, int y)
{
    std::vector<std::uint8_t> out(kWidth);
    mattes.row(k, y, 0, kWidth, out.data());
    return out;
}

align::Transform translation(double dx, double dy)
{
    align::Transform t = align::identityTransform();
    t.m[2] = dx;
    t.m[5] = dy;
    return t;
}

TEST(HoldoutMattesWarp, AMatteMovesWithItsFrameAndOnlyThatFrames)
{
    // Frame 0 is held out in columns [0, 30) of rows [5, 12).
    HoldoutMattes mattes = boxMattes(30, 5, 12);
    const std::uint64_t before = mattes.heldOutSamples();
    ASSERT_EQ(before, 2U * 30 * 7);

    // A whole-pixel move lands each matte pixel on one reference pixel: the box shifted exactly.
    mattes.warpToReference(0, translation(3.0, 2.0));
    for (int y = 0; y < kHeight; ++y) {
        const std::vector<std::uint8_t> row = rowOf(mattes, 0, y);
        for (int x = 0; x < kWidth; ++x) {
            const bool expected = y >= 7 && y < 14 && x >= 3 && x < 33;
            EXPECT_EQ(row[static_cast<std::size_t>(x)] != 0, expected) << x << "," << y;
        }
        EXPECT_EQ(mattes.rowHeldOut(0, y), y >= 7 && y < 14) << y;
        // The other frame keeps its own matte where it was.
        const std::vector<std::uint8_t> other = rowOf(mattes, 1, y);
        for (int x = 0; x < kWidth; ++x) {
            EXPECT_EQ(other[static_cast<std::size_t>(x)] != 0, y >= 5 && y < 12 && x < 30);
        }
    }
    // The columns [0, 3) now come from outside the frame: those are for the coverage to say.
    EXPECT_EQ(mattes.heldOutSamples(), before);
}

TEST(HoldoutMattesWarp, BetweenPixelsEveryMattePixelAroundThePlaceHoldsOut)
{
    HoldoutMattes mattes = boxMattes(30, 5, 12);
    mattes.warpToReference(0, translation(0.5, 0.0));
    // Reference column x comes from x - 0.5, between frame columns x - 1 and x: held out while
    // either is in [0, 30), so the box grows by the one column its edge was mixed into.
    const std::vector<std::uint8_t> row = rowOf(mattes, 0, 8);
    for (int x = 0; x < kWidth; ++x) {
        EXPECT_EQ(row[static_cast<std::size_t>(x)] != 0, x <= 30) << x;
    }
    EXPECT_EQ(mattes.heldOutSamples(), 30U * 7 + 31U * 7);

    // A transform without an inverse is a caller's fault, not a matte.
    align::Transform flat = translation(0, 0);
    flat.m[0] = 0.0;
    flat.m[1] = 0.0;
    EXPECT_THROW(mattes.warpToReference(1, flat), std::invalid_argument);
}

} // namespace

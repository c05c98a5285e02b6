// The small pure helpers of the render: frame sampling, rectangle union, 16-bit conversion and
// world addressing.
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "render/Deep16Conversion.h"
#include "render/FrameSampling.h"
#include "render/RectUnion.h"
#include "render/WorldAddressing.h"

namespace {

constexpr A_long kLongMax = std::numeric_limits<A_long>::max();
constexpr A_long kLongMin = std::numeric_limits<A_long>::min();

// (id, time) of every visited frame.
std::vector<std::pair<A_long, A_long>> Visit(const FrameSampling &sampling, A_long time_step,
                                             A_long *count)
{
    std::vector<std::pair<A_long, A_long>> visits;
    *count = ForEachSampledFrame(sampling, time_step,
                                 [&](A_long id, A_long time) { visits.emplace_back(id, time); });
    return visits;
}

TEST(FrameSampling, TruncatesSliderValuesTowardZeroAndSaturates)
{
    EXPECT_EQ(TruncateSliderValue(2.9), 2);
    EXPECT_EQ(TruncateSliderValue(-2.9), -2);
    EXPECT_EQ(TruncateSliderValue(9999.0), 9999);
    EXPECT_EQ(TruncateSliderValue(std::nan("")), 0);
    EXPECT_EQ(TruncateSliderValue(1e12), kLongMax);
    EXPECT_EQ(TruncateSliderValue(-1e12), kLongMin);
    EXPECT_EQ(TruncateSliderValue(std::numeric_limits<double>::infinity()), kLongMax);
}

TEST(FrameSampling, CorrectsEndBelowStartAndStepsBelowOne)
{
    const FrameSampling reversed = MakeFrameSampling(20.0, 5.0, 3.0);
    EXPECT_EQ(reversed.start, 20);
    EXPECT_EQ(reversed.end, 20);
    EXPECT_EQ(reversed.step, 3);
    EXPECT_EQ(MakeFrameSampling(0.0, 9.0, 0.5).step, 1);
    EXPECT_EQ(MakeFrameSampling(0.0, 9.0, -4.0).step, 1);
    EXPECT_EQ(MakeFrameSampling(0.0, 9.0, 2.9).step, 2);
}

TEST(FrameSampling, VisitsTheGridWithConsecutiveIdsAndScaledTimes)
{
    A_long count = 0;
    const auto visits = Visit(MakeFrameSampling(10.0, 20.0, 3.0), 2, &count);
    const std::vector<std::pair<A_long, A_long>> expected = {{0, 20}, {1, 26}, {2, 32}, {3, 38}};
    EXPECT_EQ(visits, expected);
    EXPECT_EQ(count, 4);

    const auto exclusive = Visit(MakeFrameSampling(0.0, 9.0, 4.0), 1, &count);
    ASSERT_EQ(count, 3);
    EXPECT_EQ(exclusive.back().second, 8); // frame 9 is off the grid

    Visit(MakeFrameSampling(0.0, 9999.0, 1.0), 1, &count);
    EXPECT_EQ(count, 10000);
    Visit(MakeFrameSampling(7.0, 7.0, 1.0), 1, &count);
    EXPECT_EQ(count, 1);
}

TEST(FrameSampling, StopsBeforeATimeThatWouldOverflow)
{
    // 9999 × 300000 exceeds the A_long range; frames up to 7158 still fit.
    A_long count = 0;
    const auto visits = Visit(MakeFrameSampling(0.0, 9999.0, 1.0), 300000, &count);
    EXPECT_EQ(count, kLongMax / 300000 + 1);
    EXPECT_EQ(visits.back().second, (kLongMax / 300000) * 300000);

    // A first frame already out of range samples nothing rather than a wrapped time.
    Visit(MakeFrameSampling(9999.0, 9999.0, 1.0), kLongMax, &count);
    EXPECT_EQ(count, 0);

    // Negative time steps are bounded the same way.
    Visit(MakeFrameSampling(0.0, 9999.0, 1.0), -300000, &count);
    EXPECT_EQ(count, kLongMax / 300000 + 1);

    // The frame number itself is never formed in 32 bits: an end at the top of the range ends.
    Visit(FrameSampling{kLongMax - 2, kLongMax, 2}, 0, &count);
    EXPECT_EQ(count, 2);
}

TEST(FrameSampling, HoldsStartAndEndToTheFrameSlidersRange)
{
    // Values from beyond the sliders' range would otherwise ask for some 2^32 frames.
    const FrameSampling huge = MakeFrameSampling(-2e9, 2e9, 1.0);
    EXPECT_EQ(huge.start, 0);
    EXPECT_EQ(huge.end, 9999);
    A_long count = 0;
    Visit(huge, 1, &count);
    EXPECT_EQ(count, 10000);

    const FrameSampling saturated = MakeFrameSampling(
        -std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(), -1e12);
    EXPECT_EQ(saturated.start, 0);
    EXPECT_EQ(saturated.end, 9999);
    EXPECT_EQ(saturated.step, 1);

    // Both beyond one edge: one frame at that edge, as an end below the start gives.
    const FrameSampling above = MakeFrameSampling(12000.0, 20000.0, 1.0);
    EXPECT_EQ(above.start, 9999);
    EXPECT_EQ(above.end, 9999);
    const FrameSampling below = MakeFrameSampling(-30.0, -10.0, 1.0);
    EXPECT_EQ(below.start, 0);
    EXPECT_EQ(below.end, 0);

    // Inside the range nothing changes.
    const FrameSampling inside = MakeFrameSampling(0.0, 9999.0, 100.0);
    EXPECT_EQ(inside.start, 0);
    EXPECT_EQ(inside.end, 9999);
    EXPECT_EQ(inside.step, 100);
}

TEST(RectUnion, EmptinessIsByEdgesNotArea)
{
    const PF_LRect normal = {0, 0, 4, 3};
    const PF_LRect flat = {0, 2, 4, 2};
    const PF_LRect inverted = {5, 0, 4, 3};
    EXPECT_FALSE(IsEmptyRect(&normal));
    EXPECT_TRUE(IsEmptyRect(&flat));
    EXPECT_TRUE(IsEmptyRect(&inverted));
}

TEST(RectUnion, EmptyDestinationTakesTheSourceEvenWhenEmpty)
{
    const PF_LRect source = {2, 3, 1, 9}; // empty
    PF_LRect destination = {0, 0, 0, 0};
    UnionLRect(&source, &destination);
    EXPECT_EQ(destination.left, 2);
    EXPECT_EQ(destination.top, 3);
    EXPECT_EQ(destination.right, 1);
    EXPECT_EQ(destination.bottom, 9);
}

TEST(RectUnion, GrowsToTheBoundingBoxAndIgnoresEmptySources)
{
    PF_LRect destination = {10, 10, 20, 20};
    const PF_LRect source = {5, 12, 15, 30};
    UnionLRect(&source, &destination);
    EXPECT_EQ(destination.left, 5);
    EXPECT_EQ(destination.top, 10);
    EXPECT_EQ(destination.right, 20);
    EXPECT_EQ(destination.bottom, 30);

    const PF_LRect empty = {-100, -100, -100, 100};
    UnionLRect(&empty, &destination);
    EXPECT_EQ(destination.left, 5);
    EXPECT_EQ(destination.top, 10);
}

TEST(Deep16Conversion, ScalesByTwoToTheMinusFifteenOnTheWayIn)
{
    EXPECT_EQ(Deep16ToFloat(32768), 1.0f);
    EXPECT_EQ(Deep16ToFloat(16384), 0.5f);
    EXPECT_EQ(Deep16ToFloat(0), 0.0f);
    EXPECT_EQ(Deep16ToFloat(1), std::ldexp(1.0f, -15));
}

TEST(Deep16Conversion, ClampsScalesAndTruncatesOnTheWayOut)
{
    EXPECT_EQ(FloatToDeep16(1.0f), 32768);
    EXPECT_EQ(FloatToDeep16(0.5f), 16384);
    EXPECT_EQ(FloatToDeep16(0.99999f), 32767);
    EXPECT_EQ(FloatToDeep16(1.2f), 32768);
    EXPECT_EQ(FloatToDeep16(-0.1f), 0);
    EXPECT_EQ(FloatToDeep16(std::nanf("")), 0);
    EXPECT_EQ(FloatToDeep16(std::numeric_limits<float>::infinity()), 32768);
    EXPECT_EQ(FloatToDeep16(-std::numeric_limits<float>::infinity()), 0);
    // Every host value survives the round trip.
    for (int v = 0; v <= 32768; ++v) {
        ASSERT_EQ(FloatToDeep16(Deep16ToFloat(static_cast<A_u_short>(v))), v);
    }
}

TEST(WorldAddressing, UsesRowbytesNotWidth)
{
    PF_Pixel16 pixels[40] = {};
    PF_Pixel16 *pixel = WorldPixel(pixels, 10 * static_cast<A_long>(sizeof(PF_Pixel16)), 3, 2);
    EXPECT_EQ(pixel - pixels, 23);
    // Rows padded to a length that is no multiple of the pixel size are stepped in bytes.
    alignas(8) PF_Pixel16 padded[16] = {};
    const char *first = reinterpret_cast<const char *>(padded);
    EXPECT_EQ(reinterpret_cast<const char *>(WorldPixel(padded, 20, 1, 3)) - first, 3 * 20 + 8);
}

TEST(WorldAddressing, ReadsOnlyTheWorldsOwnPixels)
{
    PF_EffectWorld world{};
    world.width = 4;
    world.height = 3;
    world.rowbytes = 4 * static_cast<A_long>(sizeof(PF_Pixel8)) + 12;
    EXPECT_EQ(ReadableWidth<PF_Pixel8>(&world, 2), 4); // padding is not pixels
    EXPECT_EQ(ReadableWidth<PF_Pixel8>(&world, 3), 0);
    EXPECT_EQ(ReadableWidth<PF_Pixel8>(&world, -1), 0);
    EXPECT_EQ(ReadableWidth<PF_Pixel8>(nullptr, 0), 0);
    // Rows too short for the width: the reads stop where the row ends.
    world.rowbytes = 2 * static_cast<A_long>(sizeof(PF_Pixel16)) + 3;
    EXPECT_EQ(ReadableWidth<PF_Pixel16>(&world, 0), 2);
    world.rowbytes = -64;
    EXPECT_EQ(ReadableWidth<PF_Pixel16>(&world, 0), 0);
}

} // namespace

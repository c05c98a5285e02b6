// The consensus engine on hand-made strings whose results are known in advance. The oracle runs
// on the same strings, so these examples also vouch for the oracle used by the generated tests.
#include <cmath>
#include <limits>
#include <vector>

#include <gtest/gtest.h>

#include "ConsensusOracle.h"
#include "EngineHarness.h"
#include "engine/FramemeldCoreEngine.h"

namespace {

using framemeld::enginetest::makeEngine;
using framemeld::enginetest::parameterFor;
using framemeld::enginetest::runEngine;
using Pixel8 = Pixel<unsigned char>;
using PixelF = Pixel<float>;

constexpr int kEightBit = 0;
constexpr int kFloat = 2;
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInfinity = std::numeric_limits<float>::infinity();

void expectPixel(const Pixel8 &actual, int red, int green, int blue, int alpha)
{
    EXPECT_EQ(actual.red, red);
    EXPECT_EQ(actual.green, green);
    EXPECT_EQ(actual.blue, blue);
    EXPECT_EQ(actual.alpha, alpha);
}

void expectPixel(const PixelF &actual, float red, float green, float blue, float alpha)
{
    EXPECT_FLOAT_EQ(actual.red, red);
    EXPECT_FLOAT_EQ(actual.green, green);
    EXPECT_FLOAT_EQ(actual.blue, blue);
    EXPECT_FLOAT_EQ(actual.alpha, alpha);
}

// The engine's result, after checking that the oracle gives the same bits.
template <typename T>
Pixel<T> consensus(const FramemeldParameter &parameter, const std::vector<Pixel<T>> &samples)
{
    auto engine = makeEngine<T>();
    const Pixel<T> result = runEngine(*engine, parameter, samples);
    FramemeldParameter counted = parameter;
    counted.frameCount = static_cast<int>(samples.size());
    EXPECT_TRUE(framemeld::enginetest::sameResult(
        result, framemeld::oracle::consensusPixel(samples.data(), counted)))
        << "engine and oracle differ";
    return result;
}

TEST(FramemeldCoreEngine, FactoryMakesTheCoreEngineOfEachDepth)
{
    FramemeldEngine<Pixel8> *eightBit = FramemeldEngine<Pixel8>::create();
    FramemeldEngine<PixelF> *floating = FramemeldEngine<PixelF>::create();
    EXPECT_NE(dynamic_cast<FramemeldCoreEngine<Pixel8> *>(eightBit), nullptr);
    EXPECT_NE(dynamic_cast<FramemeldCoreEngine<PixelF> *>(floating), nullptr);
    delete eightBit;
    delete floating;
}

TEST(FramemeldCoreEngine, OutlierDropsOutOfTheMeanWhichIsTruncated)
{
    const std::vector<Pixel8> samples = {{100, 100, 100, 255},
                                         {104, 98, 101, 255},
                                         {30, 40, 50, 255},
                                         {108, 100, 100, 255},
                                         {100, 100, 100, 255}};
    const FramemeldParameter parameter = parameterFor(kEightBit, 10.0f, 1.0f, 5);
    std::vector<float> ratings;
    framemeld::oracle::consensusPixel(samples.data(), parameter, &ratings);
    EXPECT_EQ(ratings, (std::vector<float>{4, 4, 1, 4, 4}));
    // Means 103.0, 99.5, 100.25, 255.0: truncated, never rounded up.
    expectPixel(consensus(parameter, samples), 103, 99, 100, 255);
}

TEST(FramemeldCoreEngine, GroupsTiedForTheBestRatingAreAveragedTogether)
{
    const std::vector<Pixel8> samples = {
        {0, 0, 0, 255}, {2, 2, 2, 255}, {200, 200, 200, 255}, {202, 202, 202, 255}};
    expectPixel(consensus(parameterFor(kEightBit, 10.0f, 1.0f, 0), samples), 101, 101, 101, 255);
}

TEST(FramemeldCoreEngine, RatingRangeDecidesHowFarBelowTheBestASampleMayBe)
{
    const std::vector<Pixel8> samples = {{50, 50, 50, 255},
                                         {200, 200, 200, 255},
                                         {50, 50, 50, 255},
                                         {200, 200, 200, 255},
                                         {50, 50, 50, 255}};
    expectPixel(consensus(parameterFor(kEightBit, 10.0f, 1.0f, 0), samples), 50, 50, 50, 255);
    expectPixel(consensus(parameterFor(kEightBit, 10.0f, 0.1f, 0), samples), 50, 50, 50, 255);
    // Ratings 3 and 2: a range above 1 takes in the samples one below the best, here every sample.
    expectPixel(consensus(parameterFor(kEightBit, 10.0f, 1.5f, 0), samples), 110, 110, 110, 255);
    expectPixel(consensus(parameterFor(kEightBit, 10.0f, 2.0f, 0), samples), 110, 110, 110, 255);
    expectPixel(consensus(parameterFor(kEightBit, 10.0f, 9999.0f, 0), samples), 110, 110, 110, 255);
    // Nothing is rated above the best rating itself.
    expectPixel(consensus(parameterFor(kEightBit, 10.0f, 0.0f, 0), samples), 0, 0, 0, 0);
    expectPixel(consensus(parameterFor(kEightBit, 10.0f, -1.0f, 0), samples), 0, 0, 0, 0);
}

TEST(FramemeldCoreEngine, FloatDivergenceIsAPercentOfFullScale)
{
    const std::vector<PixelF> samples = {
        {0.50f, 0.50f, 0.50f, 1.0f}, {0.51f, 0.50f, 0.49f, 1.0f}, {0.90f, 0.10f, 0.10f, 1.0f}};
    expectPixel(consensus(parameterFor(kFloat, 2.0f, 1.0f, 0), samples), 0.505f, 0.50f, 0.495f,
                1.0f);
}

TEST(FramemeldCoreEngine, EmptyOrNegativeCountGivesTransparentBlack)
{
    auto eightBit = makeEngine<unsigned char>();
    auto floating = makeEngine<float>();
    for (int frameCount : {0, -1, std::numeric_limits<int>::min()}) {
        FramemeldParameter parameter = parameterFor(kEightBit, 2.0f, 1.0f, frameCount);
        PixelString<Pixel8> bytes(0, 0, 0);
        Pixel8 out8{9, 9, 9, 9};
        eightBit->process(&parameter, &bytes, &out8);
        expectPixel(out8, 0, 0, 0, 0);

        parameter.bitDepth = kFloat;
        PixelString<PixelF> floats(0, 0, 0);
        PixelF outF{9, 9, 9, 9};
        floating->process(&parameter, &floats, &outF);
        expectPixel(outF, 0, 0, 0, 0);
    }
}

TEST(FramemeldCoreEngine, SingleSampleComesBackUnchanged)
{
    for (float range : {0.1f, 1.0f, 1.5f, 9999.0f}) {
        expectPixel(consensus(parameterFor(kEightBit, 2.0f, range, 0),
                              std::vector<Pixel8>{{1, 128, 254, 77}}),
                    1, 128, 254, 77);
        const PixelF sample{-0.25f, 0.5f, 3.0f, 0.125f};
        expectPixel(consensus(parameterFor(kFloat, 2.0f, range, 0), std::vector<PixelF>{sample}),
                    -0.25f, 0.5f, 3.0f, 0.125f);
    }
}

TEST(FramemeldCoreEngine, ZeroDivergenceSeparatesEvenEqualSamples)
{
    // Every rating is 1, so any positive range gives the plain mean of all samples.
    const std::vector<Pixel8> bytes = {{10, 20, 30, 255}, {10, 20, 30, 255}, {11, 20, 30, 255}};
    expectPixel(consensus(parameterFor(kEightBit, 0.0f, 0.1f, 0), bytes), 10, 20, 30, 255);
    const std::vector<Pixel8> moreBytes = {
        {10, 20, 30, 255}, {10, 20, 30, 255}, {12, 20, 30, 255}, {200, 0, 0, 0}};
    expectPixel(consensus(parameterFor(kEightBit, 0.0f, 1.0f, 0), moreBytes), 58, 15, 22, 191);

    const std::vector<PixelF> floats = {
        {0.5f, 0.5f, 0.5f, 1.0f}, {0.5f, 0.5f, 0.5f, 1.0f}, {0.8f, 0.5f, 0.5f, 1.0f}};
    expectPixel(consensus(parameterFor(kFloat, 0.0f, 1.0f, 0), floats), 0.6f, 0.5f, 0.5f, 1.0f);
}

TEST(FramemeldCoreEngine, EightBitToleranceIsTheDivergenceTruncated)
{
    const std::vector<Pixel8> samples = {{100, 0, 0, 255}, {102, 0, 0, 255}, {102, 0, 0, 255}};
    // Tolerance 2: a difference of exactly 2 disagrees, so only the two equal samples pair up.
    expectPixel(consensus(parameterFor(kEightBit, 2.9f, 1.0f, 0), samples), 102, 0, 0, 255);
    expectPixel(consensus(parameterFor(kEightBit, 2.0f, 1.0f, 0), samples), 102, 0, 0, 255);
    // Tolerance 3: all three agree.
    expectPixel(consensus(parameterFor(kEightBit, 3.0f, 1.0f, 0), samples), 101, 0, 0, 255);
}

TEST(FramemeldCoreEngine, EightBitToleranceSaturatesForDivergenceOutsideTheByteRange)
{
    const std::vector<Pixel8> spread = {
        {0, 0, 0, 255}, {254, 0, 0, 255}, {255, 0, 0, 255}, {255, 0, 0, 255}};
    // Tolerance 255: 0 and 254 agree, 0 and 255 do not. Ratings 2, 4, 3, 3.
    for (float divergence : {255.0f, 300.0f, 1e30f, kInfinity}) {
        SCOPED_TRACE(divergence);
        expectPixel(consensus(parameterFor(kEightBit, divergence, 1.0f, 0), spread), 254, 0, 0,
                    255);
    }
    // Tolerance 0: nothing agrees, the plain mean (764 / 4 = 191).
    for (float divergence : {kNaN, -kInfinity, -5.0f, -0.5f, 0.5f}) {
        SCOPED_TRACE(divergence);
        expectPixel(consensus(parameterFor(kEightBit, divergence, 1.0f, 0), spread), 191, 0, 0,
                    255);
    }
}

TEST(FramemeldCoreEngine, FloatDifferenceEqualToTheToleranceDisagrees)
{
    const float tolerance = 0.02f; // divergence 2
    const std::vector<PixelF> samples = {
        {0.0f, 0.0f, 0.0f, 1.0f}, {0.0f, tolerance, 0.0f, 1.0f}, {0.0f, 0.0f, 0.0f, 1.0f}};
    expectPixel(consensus(parameterFor(kFloat, 2.0f, 1.0f, 0), samples), 0.0f, 0.0f, 0.0f, 1.0f);

    const std::vector<PixelF> justInside = {{0.0f, 0.0f, 0.0f, 1.0f},
                                            {0.0f, std::nextafter(tolerance, 0.0f), 0.0f, 1.0f},
                                            {0.5f, 0.0f, 0.0f, 1.0f}};
    expectPixel(consensus(parameterFor(kFloat, 2.0f, 1.0f, 0), justInside), 0.0f,
                justInside[1].green / 2.0f, 0.0f, 1.0f);
}

TEST(FramemeldCoreEngine, FloatToleranceIsTheDivergenceScaledInDoublePrecision)
{
    // For 2.1 the single-precision product 2.1f * 0.01f lies one step below the double-precision
    // one, so a difference of exactly that value agrees only when the product is formed in double.
    const float divergence = 2.1f;
    const float tolerance = static_cast<float>(static_cast<double>(divergence) * 0.01);
    const float belowTolerance = std::nextafter(tolerance, 0.0f);
    const std::vector<PixelF> atEdge = {
        {0.0f, 0.0f, 0.0f, 1.0f}, {belowTolerance, 0.0f, 0.0f, 1.0f}, {0.5f, 0.0f, 0.0f, 1.0f}};
    expectPixel(consensus(parameterFor(kFloat, divergence, 1.0f, 0), atEdge), belowTolerance / 2.0f,
                0.0f, 0.0f, 1.0f);
    const std::vector<PixelF> pastEdge = {
        {0.0f, 0.0f, 0.0f, 1.0f}, {tolerance, 0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 0.0f, 1.0f}};
    expectPixel(consensus(parameterFor(kFloat, divergence, 1.0f, 0), pastEdge), 0.0f, 0.0f, 0.0f,
                1.0f);
}

TEST(FramemeldCoreEngine, FloatValuesOutsideFullScaleAreAveragedUnclamped)
{
    const std::vector<PixelF> samples = {
        {1.5f, -0.5f, 2.0f, 1.0f}, {1.5f, -0.5f, 2.0f, 1.0f}, {0.5f, 0.5f, 0.5f, 1.0f}};
    expectPixel(consensus(parameterFor(kFloat, 2.0f, 1.0f, 0), samples), 1.5f, -0.5f, 2.0f, 1.0f);
    expectPixel(consensus(parameterFor(kFloat, 2.0f, 3.0f, 0), samples), 3.5f / 3.0f, -0.5f / 3.0f,
                4.5f / 3.0f, 1.0f);
}

TEST(FramemeldCoreEngine, TransparentNeverAgreesWithOpaqueAtTheLargestDivergence)
{
    const std::vector<Pixel8> bytes = {
        {10, 10, 10, 0}, {10, 10, 10, 255}, {10, 10, 10, 0}, {10, 10, 10, 255}, {10, 10, 10, 255}};
    expectPixel(consensus(parameterFor(kEightBit, 100.0f, 1.0f, 0), bytes), 10, 10, 10, 255);
    const std::vector<PixelF> floats = {{0.1f, 0.1f, 0.1f, 0.0f},
                                        {0.1f, 0.1f, 0.1f, 1.0f},
                                        {0.1f, 0.1f, 0.1f, 0.0f},
                                        {0.1f, 0.1f, 0.1f, 1.0f}};
    // Two groups of two, tied: both enter the mean.
    expectPixel(consensus(parameterFor(kFloat, 100.0f, 1.0f, 0), floats), 0.1f, 0.1f, 0.1f, 0.5f);
}

} // namespace

// Float samples holding NaN or infinities, as broken renders and scans deliver them: such a
// sample agrees with no other and never enters the mean, so it cannot spoil the plate. Every
// case runs through process() and through every set of rating kernels, against the oracle.
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ConsensusOracle.h"
#include "EngineHarness.h"
#include "engine/ConsensusPass.h"
#include "engine/RatingKernels.h"

namespace {

using framemeld::enginetest::makeEngine;
using framemeld::enginetest::parameterFor;
using framemeld::enginetest::sameBits;
using framemeld::enginetest::sameResult;
using PixelF = Pixel<float>;

constexpr int kFloat = 2;
constexpr float kPlainMean = 9999.0f; // a rating range above every rating
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInfinity = std::numeric_limits<float>::infinity();
const PixelF kBackground{0.25f, 0.25f, 0.25f, 1.0f};
const PixelF kNaNPixel{kNaN, kNaN, kNaN, kNaN};

// The engine's result; process() and every kernel set this processor runs must give the
// oracle's bits.
PixelF consensus(float divergence, float ratingRange, const std::vector<PixelF> &samples)
{
    const FramemeldParameter parameter =
        parameterFor(kFloat, divergence, ratingRange, static_cast<int>(samples.size()));
    const PixelF expected = framemeld::oracle::consensusPixel(samples.data(), parameter);
    auto engine = makeEngine<float>();
    const PixelF result = framemeld::enginetest::runEngine(*engine, parameter, samples);
    EXPECT_TRUE(sameResult(result, expected)) << "process() and the oracle differ";

    PixelString<PixelF> string(0, 0, parameter.frameCount);
    framemeld::enginetest::fillString(string, samples);
    using framemeld::rating::Isa;
    for (Isa isa : {Isa::Portable, Isa::Sse2, Isa::Avx2}) {
        if (const framemeld::rating::RatingKernels *kernels = framemeld::rating::kernelsFor(isa)) {
            const PixelF got = framemeld::consensus::consensusOf(*kernels, parameter, string);
            EXPECT_TRUE(sameResult(got, expected)) << kernels->name << " kernels and oracle differ";
        }
    }
    return result;
}

void expectPixel(const PixelF &actual, const PixelF &expected)
{
    EXPECT_EQ(actual.red, expected.red);
    EXPECT_EQ(actual.green, expected.green);
    EXPECT_EQ(actual.blue, expected.blue);
    EXPECT_EQ(actual.alpha, expected.alpha);
}

TEST(NonFiniteSamples, ANaNFrameAmongAgreeingFramesLeavesTheirValue)
{
    // Six frames at 0.25 and one NaN frame, the NaN in every position of the string; also under
    // the rating ranges and tolerances that would let the NaN frame be selected.
    for (std::size_t at = 0; at < 7; ++at) {
        std::vector<PixelF> samples(6, kBackground);
        samples.insert(samples.begin() + static_cast<std::ptrdiff_t>(at), kNaNPixel);
        for (float divergence : {2.0f, 0.0f, 100.0f, kNaN}) {
            for (float range : {1.0f, 3.0f, kPlainMean}) {
                SCOPED_TRACE("NaN at " + std::to_string(at) + ", divergence " +
                             std::to_string(divergence) + ", range " + std::to_string(range));
                expectPixel(consensus(divergence, range, samples), kBackground);
            }
        }
    }

    // A string long enough for every vector width, one frame in five broken.
    std::vector<PixelF> longString(45, kBackground);
    for (std::size_t k = 2; k < longString.size(); k += 5) {
        longString[k] = kNaNPixel;
    }
    expectPixel(consensus(2.0f, 1.0f, longString), kBackground);
    expectPixel(consensus(2.0f, kPlainMean, longString), kBackground);
}

TEST(NonFiniteSamples, ANaNInOneComponentKeepsTheWholeSampleOut)
{
    const PixelF good{0.25f, 0.5f, 0.75f, 1.0f};
    for (int component = 0; component < 4; ++component) {
        SCOPED_TRACE("NaN in component " + std::to_string(component));
        PixelF broken{0.9f, 0.1f, 0.3f, 0.0f};
        float *values[] = {&broken.red, &broken.green, &broken.blue, &broken.alpha};
        *values[component] = kNaN;
        const std::vector<PixelF> samples = {good, broken, good, good};
        // Its finite components would move the plain mean if any of them were taken.
        expectPixel(consensus(2.0f, kPlainMean, samples), good);
        expectPixel(consensus(0.0f, 1.0f, samples), good);
    }

    // The NaN sample no longer agrees with both neighbours, which disagree with each other: all
    // three are rated 1, and the mean is that of the two finite ones.
    const std::vector<PixelF> between = {
        {0.2f, 0.5f, 0.5f, 1.0f}, {0.8f, 0.5f, 0.5f, 1.0f}, {kNaN, 0.5f, 0.5f, 1.0f}};
    std::vector<float> ratings;
    framemeld::oracle::consensusPixel(between.data(), parameterFor(kFloat, 2.0f, 1.0f, 3),
                                      &ratings);
    EXPECT_EQ(ratings, (std::vector<float>{1, 1, 1}));
    expectPixel(consensus(2.0f, 1.0f, between), PixelF{0.5f, 0.5f, 0.5f, 1.0f});
}

TEST(NonFiniteSamples, InfinitiesNeitherAgreeNorEnterTheMean)
{
    // Equal infinities differ by NaN: they do not pair up and outvote the finite sample.
    const std::vector<PixelF> equal = {
        {kInfinity, 0.0f, 0.0f, 1.0f}, {kInfinity, 0.0f, 0.0f, 1.0f}, {1.0f, 0.0f, 0.0f, 1.0f}};
    expectPixel(consensus(100.0f, 1.0f, equal), PixelF{1.0f, 0.0f, 0.0f, 1.0f});

    // Opposite infinities in a plain mean would sum to NaN.
    const std::vector<PixelF> opposite = {{kInfinity, 0.5f, 0.5f, 1.0f},
                                          {-kInfinity, 0.5f, 0.5f, 1.0f},
                                          {0.5f, 0.5f, 0.5f, 1.0f},
                                          {0.5f, 0.5f, -kInfinity, 1.0f}};
    expectPixel(consensus(2.0f, kPlainMean, opposite), PixelF{0.5f, 0.5f, 0.5f, 1.0f});

    // One infinite alpha throughout but for one sample: equal alphas that never agree, across
    // every vector width.
    std::vector<PixelF> infiniteAlpha(37, PixelF{0.25f, 0.25f, 0.25f, kInfinity});
    infiniteAlpha[30] = PixelF{0.3f, 0.3f, 0.3f, 1.0f};
    expectPixel(consensus(2.0f, 1.0f, infiniteAlpha), PixelF{0.3f, 0.3f, 0.3f, 1.0f});
}

TEST(NonFiniteSamples, NoFiniteSampleGivesTransparentBlack)
{
    const std::vector<std::vector<PixelF>> strings = {
        {kNaNPixel},
        {kNaNPixel, kNaNPixel, kNaNPixel},
        std::vector<PixelF>(20, kNaNPixel),
        {{kInfinity, 0.5f, 0.5f, 1.0f}, kNaNPixel, {0.5f, -kInfinity, 0.5f, 1.0f}},
        std::vector<PixelF>(19, PixelF{0.25f, 0.25f, 0.25f, kInfinity}),
    };
    for (std::size_t s = 0; s < strings.size(); ++s) {
        for (float range : {1.0f, kPlainMean}) {
            SCOPED_TRACE("string " + std::to_string(s) + ", range " + std::to_string(range));
            // +0.0 in every component, as when nothing is selected.
            EXPECT_TRUE(sameBits(consensus(2.0f, range, strings[s]), PixelF{}));
        }
    }
}

TEST(NonFiniteSamples, UnderANaNToleranceOnlyNaNDifferencesDisagree)
{
    // A NaN "Divergence" keeps letting every other difference agree, infinite ones included.
    const std::vector<PixelF> samples = {{0.0f, 0.0f, 0.0f, 1.0f},
                                         {0.9f, 0.0f, 0.0f, 1.0f},
                                         {kInfinity, 0.0f, 0.0f, 1.0f},
                                         {kNaN, 0.0f, 0.0f, 1.0f},
                                         {kInfinity, 0.0f, 0.0f, 1.0f}};
    std::vector<float> ratings;
    framemeld::oracle::consensusPixel(samples.data(), parameterFor(kFloat, kNaN, 1.0f, 5),
                                      &ratings);
    EXPECT_EQ(ratings, (std::vector<float>{4, 4, 3, 1, 3}));
    expectPixel(consensus(kNaN, 1.0f, samples), PixelF{0.45f, 0.0f, 0.0f, 1.0f});
}

} // namespace

// The tool's agreement test against the consensus oracle's ratings: two samples agree exactly
// when the rule rates each of them 2.
#include "cli/mattes/AgreementTest.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "tests/engine/ConsensusOracle.h"

using framemeld::mattes::AgreementTest;
using framemeld::mattes::engineValue;
using framemeld::runner::PixelDepth;

namespace {

template <typename T> bool oracleAgrees(const Pixel<T> &a, const Pixel<T> &b, float divergence)
{
    FramemeldParameter parameter;
    parameter.bitDepth = std::is_same<T, float>::value ? 2 : 0;
    parameter.divergence = divergence;
    parameter.frameCount = 2;
    const Pixel<T> samples[2] = {a, b};
    std::vector<float> ratings;
    framemeld::oracle::consensusPixel(samples, parameter, &ratings);
    return ratings.at(0) == 2.0f;
}

const float kDivergences[] = {0.0f, 0.5f, 1.0f, 2.0f, 2.9f, 3.0f, 13.0f, 37.5f, 100.0f};

TEST(AgreementTest, EightBitMatchesTheRuleAroundEveryTolerance)
{
    for (float divergence : kDivergences) {
        const AgreementTest test(PixelDepth::Bits8, divergence);
        const int tolerance = static_cast<int>(divergence);
        for (int component = 0; component < 4; ++component) {
            for (int difference : {0, tolerance - 1, tolerance, tolerance + 1, 255}) {
                if (difference < 0 || difference > 255) {
                    continue;
                }
                const A_u_char base = 0;
                A_u_char other[4] = {0, 0, 0, 0};
                other[component] = static_cast<A_u_char>(difference);
                const PF_Pixel8 a{base, base, base, base};
                const PF_Pixel8 b{other[3], other[0], other[1], other[2]}; // alpha first
                const bool expected = oracleAgrees(
                    Pixel<unsigned char>{0, 0, 0, 0},
                    Pixel<unsigned char>{other[0], other[1], other[2], other[3]}, divergence);
                EXPECT_EQ(test.agrees(a, b), expected)
                    << "divergence " << divergence << ", difference " << difference
                    << " in component " << component;
                EXPECT_EQ(test.agrees(b, a), expected);
            }
        }
    }
}

TEST(AgreementTest, SixteenBitIsComparedAsTheFloatEngineSeesIt)
{
    for (float divergence : kDivergences) {
        const AgreementTest test(PixelDepth::Bits16, divergence);
        const auto edge =
            static_cast<int>(std::ceil(static_cast<double>(test.floatTolerance()) * 32768.0));
        for (int difference : {0, edge - 1, edge, edge + 1, 32768}) {
            if (difference < 0 || difference > 32768) {
                continue;
            }
            const PF_Pixel16 a{32768, 100, 0, 0};
            const PF_Pixel16 b{32768, static_cast<A_u_short>(100 + difference), 0, 0};
            const bool expected =
                oracleAgrees(Pixel<float>{engineValue(a.red), 0, 0, 1},
                             Pixel<float>{engineValue(b.red), 0, 0, 1}, divergence);
            EXPECT_EQ(test.agrees(a, b), expected)
                << "divergence " << divergence << ", difference " << difference;
        }
    }
}

TEST(AgreementTest, FloatKeepsTheEnginesBoundaryNaNsAndInfinities)
{
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float divergence : kDivergences) {
        const AgreementTest test(PixelDepth::Float32, divergence);
        const float t = test.floatTolerance();
        for (float other :
             {0.5f, 0.5f + t, std::nextafter(0.5f + t, 0.0f), 0.5f - t, inf, nan, -inf, 7.0f}) {
            const PF_PixelFloat a{1.0f, 0.5f, 0.5f, 0.2f};
            const PF_PixelFloat b{1.0f, 0.5f, other, 0.2f}; // green alone differs
            const bool expected = oracleAgrees(Pixel<float>{0.5f, 0.5f, 0.2f, 1.0f},
                                               Pixel<float>{0.5f, other, 0.2f, 1.0f}, divergence);
            EXPECT_EQ(test.agrees(a, b), expected) << "divergence " << divergence << ", " << other;
            EXPECT_EQ(test.agrees(b, a), expected) << "divergence " << divergence << ", " << other;
        }
        const PF_PixelFloat infinite{1.0f, inf, 0.0f, 0.0f};
        EXPECT_FALSE(test.agrees(infinite, infinite)) << "inf - inf is NaN, which never agrees";
    }
}

} // namespace

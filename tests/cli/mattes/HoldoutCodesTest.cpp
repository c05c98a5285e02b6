// Held-out codes: how many frames they hold apart at each depth and Divergence, that no two of
// them agree under the rule (checked with the consensus oracle, not the tool's own test), and
// that the quick search for footage agreeing with a code finds what a full scan finds.
#include "cli/mattes/HoldoutCodes.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <stdexcept>
#include <vector>

#include "tests/engine/ConsensusOracle.h"

using framemeld::mattes::engineValue;
using framemeld::mattes::HoldoutCodes;
using framemeld::runner::PixelDepth;
using testing::HasSubstr;

namespace {

struct CapacityCase {
    PixelDepth depth;
    double divergence;
    std::int64_t capacity;
};

TEST(HoldoutCodes, CapacityIsTheGridLessTheTransparentBlackPoint)
{
    const CapacityCase cases[] = {
        {PixelDepth::Bits8, 1.0, 256LL * 256 * 256 - 1},
        {PixelDepth::Bits8, 2.0, 128LL * 128 * 128 - 1},
        {PixelDepth::Bits8, 13.0, 20 * 20 * 20 - 1},
        {PixelDepth::Bits8, 13.99, 20 * 20 * 20 - 1},
        {PixelDepth::Bits8, 85.0, 4 * 4 * 4 - 1},
        {PixelDepth::Bits8, 86.0, 3 * 3 * 3 - 1},
        {PixelDepth::Bits8, 100.0, 3 * 3 * 3 - 1},
        {PixelDepth::Bits8, 0.9, HoldoutCodes::kUnlimited},
        // 0.02 is 655.36 steps of 1/32768: 656 apart, 50 levels in 0..32768.
        {PixelDepth::Bits16, 2.0, 50LL * 50 * 50 - 1},
        {PixelDepth::Float32, 2.0, 50LL * 50 * 50 - 1},
        {PixelDepth::Float32, 5.13, 20 * 20 * 20 - 1},
        {PixelDepth::Bits16, 50.0, 3 * 3 * 3 - 1},
        {PixelDepth::Bits16, 50.01, 2 * 2 * 2 - 1},
        {PixelDepth::Float32, 100.0, 2 * 2 * 2 - 1},
        {PixelDepth::Float32, 0.0, HoldoutCodes::kUnlimited},
    };
    for (const CapacityCase &c : cases) {
        EXPECT_EQ(HoldoutCodes(c.depth, c.divergence).capacity(), c.capacity)
            << "divergence " << c.divergence << " at " << static_cast<int>(c.depth);
    }
}

TEST(HoldoutCodes, ARunPastTheCapacityIsRefusedWithTheNumbers)
{
    const HoldoutCodes codes(PixelDepth::Bits8, 100.0);
    EXPECT_EQ(codes.capacityProblem(26), std::nullopt);
    const auto problem = codes.capacityProblem(27);
    ASSERT_TRUE(problem.has_value());
    EXPECT_THAT(*problem, HasSubstr("Divergence 100"));
    EXPECT_THAT(*problem, HasSubstr("at most 26"));
    EXPECT_THAT(*problem, HasSubstr("samples 27"));
    EXPECT_NO_THROW(codes.code8(25));
    EXPECT_THROW(codes.code8(26), std::out_of_range);
    EXPECT_THROW(codes.code8(-1), std::out_of_range);
    EXPECT_EQ(HoldoutCodes(PixelDepth::Bits8, 0.0).capacityProblem(1000000), std::nullopt);
}

// Every code of a grid, plus transparent black, rated by the oracle: all must rate 1.
template <typename T> void expectNoCodeAgrees(std::vector<Pixel<T>> samples, double divergence)
{
    samples.push_back(Pixel<T>{0, 0, 0, 0});
    FramemeldParameter parameter;
    parameter.bitDepth = std::is_same<T, float>::value ? 2 : 0;
    parameter.divergence = static_cast<float>(divergence);
    parameter.frameCount = static_cast<int>(samples.size());
    std::vector<float> ratings;
    framemeld::oracle::consensusPixel(samples.data(), parameter, &ratings);
    for (std::size_t k = 0; k < ratings.size(); ++k) {
        ASSERT_EQ(ratings[k], 1.0f) << "sample " << k << " of " << ratings.size()
                                    << " agrees with another at divergence " << divergence;
    }
}

TEST(HoldoutCodes, NoTwoCodesAgreeNorAnyWithTransparentBlack)
{
    for (double divergence : {1.0, 13.0, 37.5, 86.0, 100.0}) {
        const HoldoutCodes codes(PixelDepth::Bits8, divergence);
        std::vector<Pixel<unsigned char>> samples;
        for (long k = 0; k < std::min<std::int64_t>(codes.capacity(), 8000); ++k) {
            const PF_Pixel8 code = codes.code8(k);
            EXPECT_EQ(code.alpha, 0);
            samples.push_back({code.red, code.green, code.blue, code.alpha});
        }
        expectNoCodeAgrees(samples, divergence);
    }
    for (double divergence : {2.0, 5.13, 50.0, 50.01, 100.0}) {
        const HoldoutCodes codes16(PixelDepth::Bits16, divergence);
        const HoldoutCodes codesFloat(PixelDepth::Float32, divergence);
        std::vector<Pixel<float>> samples;
        for (long k = 0; k < std::min<std::int64_t>(codes16.capacity(), 8000); ++k) {
            const PF_Pixel16 code = codes16.code16(k);
            const PF_PixelFloat asFloat = codesFloat.codeFloat(k);
            // The same code at both depths, as the engine sees it.
            EXPECT_EQ(engineValue(code.red), asFloat.red);
            EXPECT_EQ(engineValue(code.blue), asFloat.blue);
            samples.push_back({asFloat.red, asFloat.green, asFloat.blue, asFloat.alpha});
        }
        expectNoCodeAgrees(samples, divergence);
    }
}

// Premultiplied transparent footage (colours no greater than an alpha below the tolerance, the
// faint edges of a key) agrees with none of the first codes, and with the next one.
TEST(HoldoutCodes, TheFirstCodesStayClearOfPremultipliedTransparentFootage)
{
    const HoldoutCodes codes(PixelDepth::Bits8, 13.0);
    const std::int64_t clear = codes.clearOfTransparentFootage();
    EXPECT_EQ(clear, 18 * (20 * 20 + 20 + 1));
    std::vector<std::uint8_t> heldOut(static_cast<std::size_t>(clear) + 1, 1);
    bool nextMet = false;
    for (int a = 0; a < 13; ++a) {
        for (int r = 0; r <= a; ++r) {
            for (int g = 0; g <= a; ++g) {
                for (int b = 0; b <= a; ++b) {
                    const PF_Pixel8 sample{static_cast<A_u_char>(a), static_cast<A_u_char>(r),
                                           static_cast<A_u_char>(g), static_cast<A_u_char>(b)};
                    ASSERT_FALSE(codes.agreesWithHeldOutCode(sample, heldOut.data(),
                                                             static_cast<int>(clear)))
                        << "alpha " << a << " colours " << r << " " << g << " " << b;
                    nextMet |= codes.test().agrees(sample, codes.code8(clear));
                }
            }
        }
    }
    EXPECT_TRUE(nextMet) << "the count of clear codes is not tight";
    EXPECT_EQ(HoldoutCodes(PixelDepth::Float32, 100.0).clearOfTransparentFootage(), 0);
}

// Nearly transparent footage can agree with a code; the quick search must find exactly the
// held-out frames a scan of every code finds.
TEST(HoldoutCodes, TheSearchForAgreeingCodesFindsWhatAScanFinds)
{
    std::mt19937 random(24);
    for (PixelDepth depth : {PixelDepth::Bits8, PixelDepth::Bits16, PixelDepth::Float32}) {
        for (double divergence : {3.0, 10.0, 40.0}) {
            const HoldoutCodes codes(depth, divergence);
            const int frames = static_cast<int>(std::min<std::int64_t>(60, codes.capacity()));
            int found = 0;
            for (int trial = 0; trial < 400; ++trial) {
                std::vector<std::uint8_t> heldOut(static_cast<std::size_t>(frames));
                for (auto &h : heldOut) {
                    h = random() % 3 == 0 ? 1 : 0;
                }
                const std::uint8_t *held = heldOut.data();
                // Colours near codes half the time, anywhere the rest; alpha within tolerance.
                const long near = static_cast<long>(random() % static_cast<unsigned>(frames));
                const double jitter = static_cast<double>(random() % 7) - 3.0;
                bool scanned = false;
                bool searched = false;
                if (depth == PixelDepth::Bits8) {
                    PF_Pixel8 sample = codes.code8(near);
                    if (trial % 2 == 1) {
                        sample = PF_Pixel8{0, static_cast<A_u_char>(random() % 256),
                                           static_cast<A_u_char>(random() % 256),
                                           static_cast<A_u_char>(random() % 256)};
                    }
                    sample.red = static_cast<A_u_char>(std::clamp(sample.red + jitter, 0.0, 255.0));
                    sample.alpha = static_cast<A_u_char>(random() % 3);
                    for (long k = 0; k < frames; ++k) {
                        scanned |= held[k] != 0 && codes.test().agrees(sample, codes.code8(k));
                    }
                    searched = codes.agreesWithHeldOutCode(sample, held, frames);
                } else if (depth == PixelDepth::Bits16) {
                    PF_Pixel16 sample = codes.code16(near);
                    if (trial % 2 == 1) {
                        sample.green = static_cast<A_u_short>(random() % 32769);
                    }
                    sample.red = static_cast<A_u_short>(
                        std::clamp(sample.red + jitter * codes.step() / 2, 0.0, 32768.0));
                    sample.alpha = static_cast<A_u_short>(random() % 40);
                    for (long k = 0; k < frames; ++k) {
                        scanned |= held[k] != 0 && codes.test().agrees(sample, codes.code16(k));
                    }
                    searched = codes.agreesWithHeldOutCode(sample, held, frames);
                } else {
                    PF_PixelFloat sample = codes.codeFloat(near);
                    if (trial % 2 == 1) {
                        sample.blue = static_cast<float>(random() % 1000) / 999.0f;
                    }
                    sample.red += static_cast<float>(jitter) * codes.test().floatTolerance() / 2;
                    sample.alpha = static_cast<float>(random() % 100) / 1000.0f;
                    for (long k = 0; k < frames; ++k) {
                        scanned |= held[k] != 0 && codes.test().agrees(sample, codes.codeFloat(k));
                    }
                    searched = codes.agreesWithHeldOutCode(sample, held, frames);
                }
                ASSERT_EQ(searched, scanned) << "trial " << trial << " at divergence " << divergence
                                             << ", depth " << static_cast<int>(depth);
                found += scanned ? 1 : 0;
            }
            EXPECT_GT(found, 20) << "the trials hardly ever met a code; the check proves little";
        }
    }
}

} // namespace

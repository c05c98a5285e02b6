// The rule from the clip's noise to the Divergence `auto` sets: values the host's slider holds,
// growing with the noise, tight on clean footage, and the slider's ends for nonsense.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "cli/plan/AutoSettings.h"

using framemeld::cli::agreementTolerance;
using framemeld::cli::automaticDivergence;
using framemeld::cli::kToleranceFloorLevels;
using framemeld::cli::kToleranceSigmas;
using framemeld::cli::kToleranceSigmas8Bit;
using framemeld::runner::PixelDepth;

namespace {

// The value is one the host's slider holds, so setting the slider to it gives the same plate:
// whole levels at 8 bits, hundredths of a percent at 16 and 32 bits, each within half a step of
// the tolerance the rule means.
TEST(AutoSettings, DivergenceIsWhatTheSliderHoldsAndFollowsTheNoise)
{
    double previousEight = 0.0;
    double previousFloat = 0.0;
    for (double levels = 0.0; levels < 30.0; levels += 0.37) {
        const double sigma = levels / 255.0;
        const double wanted = kToleranceSigmas * levels + kToleranceFloorLevels;
        const double wantedAtEight = kToleranceSigmas8Bit * levels + kToleranceFloorLevels;
        const double eight = automaticDivergence(sigma, PixelDepth::Bits8);
        EXPECT_EQ(eight, std::floor(eight));
        // Differences strictly below the Divergence agree at 8 bits: one level above the widest,
        // up to the slider's 100.
        EXPECT_LE(std::fabs(eight - std::min(100.0, 1.0 + wantedAtEight)), 0.5);
        const double sixteen = automaticDivergence(sigma, PixelDepth::Bits16);
        EXPECT_EQ(sixteen, automaticDivergence(sigma, PixelDepth::Float32));
        EXPECT_NEAR(sixteen * 100.0, std::round(sixteen * 100.0), 1e-9);
        // The slider's smallest step is the least it can hold.
        EXPECT_NEAR(sixteen, std::max(0.01, wanted / 255.0 * 100.0), 0.005 + 1e-12);
        EXPECT_GE(eight, previousEight);
        EXPECT_GE(sixteen, previousFloat);
        previousEight = eight;
        previousFloat = sixteen;
    }
}

// Clean footage must get a tolerance a nearly-still person's few levels of sway cannot cross;
// nonsense in gives the widest or the narrowest value, never a NaN on the slider.
TEST(AutoSettings, NoiselessFootageGetsATightToleranceAndTheEndsHold)
{
    EXPECT_LE(automaticDivergence(0.0, PixelDepth::Bits8), 3.0);
    EXPECT_LE(automaticDivergence(0.0, PixelDepth::Float32), 3.0 / 255.0 * 100.0);
    EXPECT_EQ(automaticDivergence(-1.0, PixelDepth::Bits8),
              automaticDivergence(0.0, PixelDepth::Bits8));
    EXPECT_EQ(automaticDivergence(10.0, PixelDepth::Bits8), 100.0);
    EXPECT_EQ(automaticDivergence(10.0, PixelDepth::Float32), 100.0);
    EXPECT_EQ(agreementTolerance(std::numeric_limits<double>::quiet_NaN(), PixelDepth::Bits8), 1.0);
    EXPECT_EQ(automaticDivergence(std::numeric_limits<double>::infinity(), PixelDepth::Bits16),
              100.0);
}

} // namespace

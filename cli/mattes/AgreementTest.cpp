#include "cli/mattes/AgreementTest.h"

namespace framemeld::mattes {

namespace {

// The engine's truncation into 0..255, NaN and negatives giving 0.
int truncatedLevels(float divergence)
{
    if (!(divergence > 0.0f)) {
        return 0;
    }
    if (divergence >= 255.0f) {
        return 255;
    }
    return static_cast<int>(divergence);
}

} // namespace

AgreementTest::AgreementTest(runner::PixelDepth depth, double divergence) : depth_(depth)
{
    // The render stores the slider value in a 32-bit float before anything is derived from it.
    const float slider = static_cast<float>(divergence);
    byteTolerance_ = truncatedLevels(slider);
    floatTolerance_ = static_cast<float>(static_cast<double>(slider) * 0.01);
}

} // namespace framemeld::mattes

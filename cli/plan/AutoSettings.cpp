#include "cli/plan/AutoSettings.h"

#include <algorithm>
#include <cmath>

namespace framemeld::cli {

using runner::PixelDepth;

double agreementTolerance(double sigma, PixelDepth depth)
{
    const double noise = std::isfinite(sigma) ? std::max(0.0, sigma) : 1.0;
    const double sigmas = depth == PixelDepth::Bits8 ? kToleranceSigmas8Bit : kToleranceSigmas;
    return std::min(1.0, sigmas * noise + kToleranceFloorLevels / 255.0);
}

double divergenceForTolerance(double tolerance, PixelDepth depth)
{
    if (depth == PixelDepth::Bits8) {
        // The 8-bit engine lets differences strictly below the whole Divergence agree: one
        // level more than the widest difference meant to agree.
        return std::min(100.0, 1.0 + std::round(tolerance * 255.0));
    }
    // Elsewhere Divergence is hundredths of full scale, held by the slider to two decimals.
    return std::clamp(std::round(tolerance * 100.0 * 100.0) / 100.0, 0.01, 100.0);
}

double automaticDivergence(double sigma, PixelDepth depth)
{
    return divergenceForTolerance(agreementTolerance(sigma, depth), depth);
}

double ratingRangeFor(std::size_t sampledFrames)
{
    if (sampledFrames < kWideRatingMinFrames) {
        return 1.0;
    }
    return kWideRatingRange;
}

AutoSettings automaticSliders(const SliderChoice &divergence, const SliderChoice &ratingRange)
{
    AutoSettings automatic;
    automatic.divergence = !divergence.isValue();
    automatic.ratingRange = ratingRange.isAuto() || (ratingRange.isUnset() && automatic.divergence);
    return automatic;
}

} // namespace framemeld::cli

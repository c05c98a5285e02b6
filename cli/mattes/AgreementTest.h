// The plug-in decides that two samples agree with a test the tool needs too: to keep held-out
// samples from agreeing with anything, to find where a plate rests on held-out samples, and to
// say how many frames agree with the plate. A test of its own that differed from the plug-in's
// at one tolerance boundary would make confidence images and difference mattes lie exactly where
// they matter, so this one follows the engine step for step: the slider value held as a 32-bit
// float; at 8 bits truncated to whole levels and compared strictly; at 16 and 32 bits scaled by
// 0.01 in double and rounded to float once, a component agreeing unless its difference is NaN or
// at least the tolerance; 16-bit channels seen as value / 32768.
#pragma once

#include <cmath>

#include "AE_Effect.h"
#include "runner/World.h"

namespace framemeld::mattes {

// A 16-bit host channel as the float engine sees it. Exact: every 16-bit value divided by a
// power of two is a float.
inline float engineValue(A_u_short channel)
{
    return static_cast<float>(channel) / 32768.0f;
}

class AgreementTest {
public:
    // `divergence` is the "Divergence" slider value the render runs with.
    AgreementTest(runner::PixelDepth depth, double divergence);

    runner::PixelDepth depth() const noexcept { return depth_; }
    // In levels of 255; used at 8 bits.
    int byteTolerance() const noexcept { return byteTolerance_; }
    // In units of full scale (1.0); used at 16 and 32 bits.
    float floatTolerance() const noexcept { return floatTolerance_; }

    bool componentAgrees(int a, int b) const noexcept
    {
        const int difference = a > b ? a - b : b - a;
        return difference < byteTolerance_;
    }
    bool componentAgrees(float a, float b) const noexcept
    {
        // A NaN difference (a NaN sample, equal infinities) never agrees in the engine: it would
        // let a broken sample collect every other one as a partner.
        const float difference = a - b;
        return !std::isnan(difference) && !(std::fabs(difference) >= floatTolerance_);
    }

    // All four components, in any order: the engine's red-first order only saves work.
    bool agrees(const PF_Pixel8 &a, const PF_Pixel8 &b) const noexcept
    {
        return componentAgrees(a.red, b.red) && componentAgrees(a.green, b.green) &&
               componentAgrees(a.blue, b.blue) && componentAgrees(a.alpha, b.alpha);
    }
    bool agrees(const PF_Pixel16 &a, const PF_Pixel16 &b) const noexcept
    {
        return componentAgrees(engineValue(a.red), engineValue(b.red)) &&
               componentAgrees(engineValue(a.green), engineValue(b.green)) &&
               componentAgrees(engineValue(a.blue), engineValue(b.blue)) &&
               componentAgrees(engineValue(a.alpha), engineValue(b.alpha));
    }
    bool agrees(const PF_PixelFloat &a, const PF_PixelFloat &b) const noexcept
    {
        return componentAgrees(a.red, b.red) && componentAgrees(a.green, b.green) &&
               componentAgrees(a.blue, b.blue) && componentAgrees(a.alpha, b.alpha);
    }

private:
    runner::PixelDepth depth_;
    int byteTolerance_ = 0;
    float floatTolerance_ = 0.0f;
};

} // namespace framemeld::mattes

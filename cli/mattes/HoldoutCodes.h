// What a held-out sample is handed to the plug-in as. The plug-in only sees values: a sample that
// must not count has to be a value that agrees with no other sample, held out or real, so that it
// rates 1 and the rule leaves it out wherever anything visible agrees with itself. Transparent
// black (what a track matte gives) fails at once: all held-out samples of a pixel agree with one
// another, and a lingerer held out in 70 % of the frames wins as a transparent hole. Here sampled
// frame k gets its own code instead: a colour on a grid whose points lie a full tolerance apart
// in each channel (so any two codes differ by at least the tolerance in some channel), with
// alpha 0 (so none agrees with footage whose alpha is at or above the tolerance, and a pixel that
// ends up made of codes is transparent). The grid point with all three colours 0 is never used:
// it would agree with transparent black, the most common transparent footage value and what the
// host hands out for times past the clip; and the codes whose colours all lie within a tolerance
// of black, which premultiplied footage's faint edges could agree with, are handed out last. At
// 16 and 32 bits the codes are the same multiples of
// 1/32768 inside 0..1, so they are exact in the float engine, its differences are exact, and
// both depths can hold the same frames.
//
// Footage that is itself transparent (alpha below the tolerance) can still agree with a code, as
// any colour lies within the tolerance of some grid point; HonestHoles finds those pixels and
// makes them holes (they were nearly transparent there anyway).
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "AE_Effect.h"
#include "cli/mattes/AgreementTest.h"
#include "runner/World.h"

namespace framemeld::mattes {

class HoldoutCodes {
public:
    // Capacity when the tolerance is 0: no two finite values agree, so codes may repeat.
    static constexpr std::int64_t kUnlimited = std::numeric_limits<std::int64_t>::max();

    // `divergence` is the "Divergence" slider value the render runs with.
    HoldoutCodes(runner::PixelDepth depth, double divergence);

    const AgreementTest &test() const noexcept { return test_; }
    runner::PixelDepth depth() const noexcept { return test_.depth(); }
    // Grid points per colour channel, and their spacing in host units (levels of 255 at 8 bits,
    // steps of 1/32768 at 16 and 32 bits).
    int levels() const noexcept { return levels_; }
    int step() const noexcept { return step_; }
    // How many sampled frames get codes that agree with no other: levels^3 - 1, or kUnlimited.
    std::int64_t capacity() const noexcept { return capacity_; }

    // How many of the first sampled frames have codes with a colour at least twice the
    // tolerance, which no premultiplied transparent sample (alpha below the tolerance, colours
    // no greater than alpha) can agree with: (levels - 2) (levels^2 + levels + 1), or kUnlimited.
    std::int64_t clearOfTransparentFootage() const noexcept { return clearOfTransparent_; }

    // Nothing when a run of `sampledFrames` fits, else the message that refuses it.
    std::optional<std::string> capacityProblem(long sampledFrames) const;

    // The code of sampled frame `frameIndex` (0 = the first sampled frame). Throws
    // std::out_of_range for a negative index or, unless unlimited, one at or past capacity().
    PF_Pixel8 code8(long frameIndex) const;
    PF_Pixel16 code16(long frameIndex) const;
    PF_PixelFloat codeFloat(long frameIndex) const;
    template <class HostPixel> HostPixel code(long frameIndex) const;

    // Whether `sample` agrees with the code of some frame k < frameCount with heldOut[k] != 0.
    // O(1) in frameCount while codes do not repeat.
    bool agreesWithHeldOutCode(const PF_Pixel8 &sample, const std::uint8_t *heldOut,
                               int frameCount) const;
    bool agreesWithHeldOutCode(const PF_Pixel16 &sample, const std::uint8_t *heldOut,
                               int frameCount) const;
    bool agreesWithHeldOutCode(const PF_PixelFloat &sample, const std::uint8_t *heldOut,
                               int frameCount) const;

private:
    struct Levels {
        int count = 0;
        int level[4] = {};
    };
    std::int64_t gridPoint(long frameIndex) const;
    int channelLevel(std::int64_t point, int channel) const;
    std::int64_t pointOf(const int (&level)[3]) const;
    // Levels 0 and 1 go last: digit d is level (d + shift) mod levels.
    int levelShift() const noexcept { return 2 % levels_; }
    int digitOf(int level) const;
    Levels agreeingLevels(int channel8) const;
    Levels agreeingLevels(float engineChannel) const;
    bool anyHeldOut(const Levels (&colours)[3], const std::uint8_t *heldOut, int frameCount) const;

    AgreementTest test_;
    double divergence_;
    int levels_ = 0;
    int step_ = 1;
    std::int64_t points_ = 0;     // levels^3 - 1: codes before they repeat
    std::int64_t blackPoint_ = 0; // the grid point with all colours 0, never a code
    std::int64_t capacity_ = 0;
    std::int64_t clearOfTransparent_ = 0;
};

template <> inline PF_Pixel8 HoldoutCodes::code<PF_Pixel8>(long frameIndex) const
{
    return code8(frameIndex);
}
template <> inline PF_Pixel16 HoldoutCodes::code<PF_Pixel16>(long frameIndex) const
{
    return code16(frameIndex);
}
template <> inline PF_PixelFloat HoldoutCodes::code<PF_PixelFloat>(long frameIndex) const
{
    return codeFloat(frameIndex);
}

} // namespace framemeld::mattes

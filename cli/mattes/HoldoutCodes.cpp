#include "cli/mattes/HoldoutCodes.h"

#include <algorithm>
#include <cmath>
#include <sstream>
#include <stdexcept>

namespace framemeld::mattes {

namespace {

constexpr int kFloatScale = 32768; // the 16-bit host scale, and the float codes' denominator

float floatLevelValue(int level, int step)
{
    return static_cast<float>(level * step) / static_cast<float>(kFloatScale);
}

const char *depthName(runner::PixelDepth depth)
{
    switch (depth) {
    case runner::PixelDepth::Bits8: return "an 8-bit";
    case runner::PixelDepth::Bits16: return "a 16-bit";
    case runner::PixelDepth::Float32: return "a 32-bit float";
    }
    return "unknown-depth";
}

} // namespace

HoldoutCodes::HoldoutCodes(runner::PixelDepth depth, double divergence)
    : test_(depth, divergence), divergence_(divergence)
{
    bool unlimited = false;
    if (depth == runner::PixelDepth::Bits8) {
        const int tolerance = test_.byteTolerance();
        unlimited = tolerance == 0;
        step_ = unlimited ? 1 : tolerance;
        levels_ = 255 / step_ + 1;
    } else {
        const float tolerance = test_.floatTolerance();
        unlimited = !(tolerance > 0.0f);
        // The smallest whole number of 1/32768 steps that is at least the tolerance: scaling by
        // a power of two is exact, so this is the exact ceiling.
        const double steps = std::ceil(static_cast<double>(tolerance) * kFloatScale);
        step_ = unlimited ? 1 : static_cast<int>(std::min(steps, double{kFloatScale + 1}));
        levels_ = step_ > kFloatScale ? 1 : kFloatScale / step_ + 1;
    }
    const std::int64_t levels = levels_;
    points_ = levels * levels * levels - 1;
    capacity_ = unlimited ? kUnlimited : points_;
    const std::int64_t blackDigit = digitOf(0);
    blackPoint_ = blackDigit * (1 + levels + levels * levels);
    clearOfTransparent_ = unlimited ? kUnlimited : blackPoint_;
}

std::optional<std::string> HoldoutCodes::capacityProblem(long sampledFrames) const
{
    if (sampledFrames <= capacity_) {
        return std::nullopt;
    }
    std::ostringstream message;
    message << "--holdout: at Divergence " << divergence_ << " " << depthName(depth())
            << " render can keep at most " << capacity_
            << " sampled frames apart, and this run samples " << sampledFrames
            << "; lower the Divergence or sample fewer frames (--every, --start, --end)";
    return message.str();
}

std::int64_t HoldoutCodes::gridPoint(long frameIndex) const
{
    if (frameIndex < 0 || (capacity_ != kUnlimited && frameIndex >= capacity_)) {
        throw std::out_of_range("no held-out code for sampled frame " + std::to_string(frameIndex) +
                                " (capacity " + std::to_string(capacity_) + ")");
    }
    const std::int64_t code = static_cast<std::int64_t>(frameIndex) % points_;
    return code < blackPoint_ ? code : code + 1;
}

// Points count levels 2, 3, ..., then 0 and 1 last, so that the codes whose every colour lies
// within a tolerance of black come last of all.
int HoldoutCodes::channelLevel(std::int64_t point, int channel) const
{
    const std::int64_t levels = levels_;
    for (int c = 0; c < channel; ++c) {
        point /= levels;
    }
    return static_cast<int>((point % levels + levelShift()) % levels);
}

int HoldoutCodes::digitOf(int level) const
{
    return (level + levels_ - levelShift()) % levels_;
}

std::int64_t HoldoutCodes::pointOf(const int (&level)[3]) const
{
    const std::int64_t levels = levels_;
    std::int64_t point = 0;
    for (int c = 2; c >= 0; --c) {
        point = point * levels + digitOf(level[c]);
    }
    return point;
}

PF_Pixel8 HoldoutCodes::code8(long frameIndex) const
{
    const std::int64_t point = gridPoint(frameIndex);
    PF_Pixel8 code{};
    code.alpha = 0;
    code.red = static_cast<A_u_char>(channelLevel(point, 0) * step_);
    code.green = static_cast<A_u_char>(channelLevel(point, 1) * step_);
    code.blue = static_cast<A_u_char>(channelLevel(point, 2) * step_);
    return code;
}

PF_Pixel16 HoldoutCodes::code16(long frameIndex) const
{
    const std::int64_t point = gridPoint(frameIndex);
    PF_Pixel16 code{};
    code.alpha = 0;
    code.red = static_cast<A_u_short>(channelLevel(point, 0) * step_);
    code.green = static_cast<A_u_short>(channelLevel(point, 1) * step_);
    code.blue = static_cast<A_u_short>(channelLevel(point, 2) * step_);
    return code;
}

PF_PixelFloat HoldoutCodes::codeFloat(long frameIndex) const
{
    const std::int64_t point = gridPoint(frameIndex);
    PF_PixelFloat code{};
    code.alpha = 0.0f;
    code.red = floatLevelValue(channelLevel(point, 0), step_);
    code.green = floatLevelValue(channelLevel(point, 1), step_);
    code.blue = floatLevelValue(channelLevel(point, 2), step_);
    return code;
}

// Grid points lie at least a tolerance apart, so a value agrees with at most the two around it.
HoldoutCodes::Levels HoldoutCodes::agreeingLevels(int channel8) const
{
    Levels found;
    const int below = channel8 / step_;
    for (int level = below; level <= below + 1 && level < levels_; ++level) {
        if (test_.componentAgrees(channel8, level * step_)) {
            found.level[found.count++] = level;
        }
    }
    return found;
}

HoldoutCodes::Levels HoldoutCodes::agreeingLevels(float engineChannel) const
{
    Levels found;
    if (std::isnan(engineChannel)) {
        return found; // a NaN difference agrees with nothing
    }
    // Rounding in the division may put the value one grid point off; the neighbours are tried.
    const double position = std::clamp(static_cast<double>(engineChannel) * kFloatScale / step_,
                                       -2.0, static_cast<double>(levels_) + 1.0);
    const int below = static_cast<int>(std::floor(position));
    for (int level = std::max(0, below - 1); level <= below + 2 && level < levels_; ++level) {
        if (found.count < 4 &&
            test_.componentAgrees(engineChannel, floatLevelValue(level, step_))) {
            found.level[found.count++] = level;
        }
    }
    return found;
}

bool HoldoutCodes::anyHeldOut(const Levels (&colours)[3], const std::uint8_t *heldOut,
                              int frameCount) const
{
    for (int r = 0; r < colours[0].count; ++r) {
        for (int g = 0; g < colours[1].count; ++g) {
            for (int b = 0; b < colours[2].count; ++b) {
                const int level[3] = {colours[0].level[r], colours[1].level[g],
                                      colours[2].level[b]};
                const std::int64_t point = pointOf(level);
                if (point == blackPoint_) {
                    continue; // never a code
                }
                // Codes repeat only when unlimited, i.e. when nothing agrees with them anyway.
                const std::int64_t first = point < blackPoint_ ? point : point - 1;
                for (std::int64_t k = first; k < frameCount; k += points_) {
                    if (heldOut[k] != 0) {
                        return true;
                    }
                }
            }
        }
    }
    return false;
}

bool HoldoutCodes::agreesWithHeldOutCode(const PF_Pixel8 &sample, const std::uint8_t *heldOut,
                                         int frameCount) const
{
    if (!test_.componentAgrees(sample.alpha, 0)) {
        return false;
    }
    const Levels colours[3] = {agreeingLevels(int{sample.red}), agreeingLevels(int{sample.green}),
                               agreeingLevels(int{sample.blue})};
    return anyHeldOut(colours, heldOut, frameCount);
}

bool HoldoutCodes::agreesWithHeldOutCode(const PF_Pixel16 &sample, const std::uint8_t *heldOut,
                                         int frameCount) const
{
    const PF_PixelFloat engine{engineValue(sample.alpha), engineValue(sample.red),
                               engineValue(sample.green), engineValue(sample.blue)};
    return agreesWithHeldOutCode(engine, heldOut, frameCount);
}

bool HoldoutCodes::agreesWithHeldOutCode(const PF_PixelFloat &sample, const std::uint8_t *heldOut,
                                         int frameCount) const
{
    if (!test_.componentAgrees(sample.alpha, 0.0f)) {
        return false;
    }
    const Levels colours[3] = {agreeingLevels(sample.red), agreeingLevels(sample.green),
                               agreeingLevels(sample.blue)};
    return anyHeldOut(colours, heldOut, frameCount);
}

} // namespace framemeld::mattes

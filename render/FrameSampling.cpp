#include "render/FrameSampling.h"

#include <cmath>

A_long TruncateSliderValue(double value)
{
    if (std::isnan(value)) {
        return 0;
    }
    const double truncated = std::trunc(value);
    if (truncated <= static_cast<double>(std::numeric_limits<A_long>::min())) {
        return std::numeric_limits<A_long>::min();
    }
    if (truncated >= static_cast<double>(std::numeric_limits<A_long>::max())) {
        return std::numeric_limits<A_long>::max();
    }
    return static_cast<A_long>(truncated);
}

namespace {

// The frame sliders' valid range. The host keeps typed-in values inside it, but an expression or
// a damaged project can still deliver anything; held to it, a render asks for at most 10000
// frames instead of billions (and the frame count plus the output height stays far from the
// A_long limit).
constexpr A_long kFirstFrame = 0;
constexpr A_long kLastFrame = 9999;

A_long ClampFrame(A_long frame)
{
    return frame < kFirstFrame ? kFirstFrame : (frame > kLastFrame ? kLastFrame : frame);
}

} // namespace

FrameSampling MakeFrameSampling(double start_value, double end_value, double every_value)
{
    FrameSampling sampling{};
    sampling.start = ClampFrame(TruncateSliderValue(start_value));
    sampling.end = ClampFrame(TruncateSliderValue(end_value));
    if (sampling.end < sampling.start) {
        sampling.end = sampling.start;
    }
    sampling.step = TruncateSliderValue(every_value);
    if (sampling.step <= 0) {
        sampling.step = 1;
    }
    return sampling;
}

bool FrameTime(std::int64_t frame, A_long time_step, A_long *time)
{
    // |frame| and |time_step| are both below 2^32, so the product cannot overflow 64 bits.
    const std::int64_t product = frame * static_cast<std::int64_t>(time_step);
    if (product < std::numeric_limits<A_long>::min() ||
        product > std::numeric_limits<A_long>::max()) {
        return false;
    }
    *time = static_cast<A_long>(product);
    return true;
}

#include "cli/SamplingPlan.h"

#include <algorithm>
#include <cstdio>

#include "cli/CliError.h"

namespace framemeld::cli {
namespace {

std::string formatNumber(double value)
{
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%g", value);
    return buffer;
}

double checkedValue(const char *option, const std::optional<double> &given,
                    const SliderRange &range, double fallback)
{
    if (!given) {
        return fallback;
    }
    if (*given < range.validMin || *given > range.validMax) {
        throw UsageError(std::string(option) + " " + formatNumber(*given) +
                         " is outside the valid range of \"" + range.label + "\": " +
                         formatNumber(range.validMin) + " to " + formatNumber(range.validMax));
    }
    return *given;
}

std::string clipExtent(int clipLength)
{
    return "the clip has " + std::to_string(clipLength) +
           (clipLength == 1 ? " frame (frame 0)"
                            : " frames (0 to " + std::to_string(clipLength - 1) + ")");
}

} // namespace

std::vector<int> sampledFrames(int start, int end, int every)
{
    std::vector<int> frames;
    if (every < 1) {
        every = 1;
    }
    for (long long f = start; f <= end; f += every) {
        frames.push_back(static_cast<int>(f));
    }
    return frames;
}

void checkSliderRanges(const Options &options, const SliderRanges &ranges)
{
    checkedValue("--start", options.start, ranges.start, 0.0);
    checkedValue("--end", options.end, ranges.end, 0.0);
    checkedValue("--every", options.every, ranges.every, 0.0);
    checkedValue("--divergence", options.divergence, ranges.divergence, 0.0);
    checkedValue("--rating-range", options.ratingRange, ranges.ratingRange, 0.0);
}

SamplingPlan planSampling(const Options &options, const SliderRanges &ranges, int clipLength)
{
    SamplingPlan plan;
    const int lastFrame = clipLength - 1;

    plan.start = static_cast<int>(checkedValue("--start", options.start, ranges.start, 0.0));
    // The "End Frame" slider stops at its valid maximum: the plug-in cannot reach the frames of a
    // longer clip, and ending there unasked would pass a part of the clip off as all of it.
    if (!options.end && lastFrame > ranges.end.validMax) {
        throw UsageError(clipExtent(clipLength) + ", more than the plug-in's \"" +
                         ranges.end.label + "\" reaches (up to " +
                         formatNumber(ranges.end.validMax) + "); give --end " +
                         formatNumber(ranges.end.validMax) +
                         " or less to use the frames up to it, or split the clip");
    }
    const double defaultEnd = lastFrame;
    plan.end = static_cast<int>(checkedValue("--end", options.end, ranges.end, defaultEnd));
    plan.every = static_cast<int>(checkedValue("--every", options.every, ranges.every, 1.0));
    plan.divergence = checkedValue("--divergence", options.divergence, ranges.divergence,
                                   ranges.divergence.defaultValue);
    plan.ratingRange = checkedValue("--rating-range", options.ratingRange, ranges.ratingRange,
                                    ranges.ratingRange.defaultValue);

    if (plan.start > lastFrame) {
        throw UsageError("--start " + std::to_string(plan.start) +
                         " is past the end of the clip: " + clipExtent(clipLength));
    }
    if (plan.end > lastFrame) {
        throw UsageError("--end " + std::to_string(plan.end) +
                         " is past the end of the clip: " + clipExtent(clipLength));
    }
    // The plug-in would quietly sample only the start frame here; on the command line a
    // reversed range is far more likely a typo than a wish for a one-frame plate.
    if (plan.start > plan.end) {
        throw UsageError("--start " + std::to_string(plan.start) + " comes after --end " +
                         std::to_string(plan.end) + ": the range has no frames");
    }
    plan.frames = sampledFrames(plan.start, plan.end, plan.every);
    return plan;
}

} // namespace framemeld::cli

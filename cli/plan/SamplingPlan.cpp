#include "cli/plan/SamplingPlan.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "cli/core/CliError.h"
#include "cli/plan/FrameList.h"

namespace framemeld::cli {
namespace {

std::string formatNumber(double value)
{
    char buffer[32];
    // Whole numbers in full: a 12-digit frame number must read as the file's, not as 1e+11.
    if (value == std::floor(value) && std::fabs(value) < 1e15) {
        std::snprintf(buffer, sizeof buffer, "%.0f", value);
    } else {
        std::snprintf(buffer, sizeof buffer, "%g", value);
    }
    return buffer;
}

double checkedValue(const std::string &option, const std::optional<double> &given,
                    const SliderRange &range, double fallback)
{
    if (!given) {
        return fallback;
    }
    if (*given < range.validMin || *given > range.validMax) {
        throw UsageError(option + " " + formatNumber(*given) + " is outside the valid range of \"" +
                         range.label + "\": " + formatNumber(range.validMin) + " to " +
                         formatNumber(range.validMax));
    }
    return *given;
}

std::string clipExtent(const FrameNumbering &numbering)
{
    const std::string first = std::to_string(numbering.first);
    const std::string last = std::to_string(numbering.last());
    if (numbering.fileNumbers) {
        return "the clip has " + std::to_string(numbering.frameCount) +
               (numbering.frameCount == 1 ? " frame (file number " + first + ")"
                                          : " frames (file numbers " + first + " to " + last + ")");
    }
    return "the clip has " + std::to_string(numbering.frameCount) +
           (numbering.frameCount == 1 ? " frame (frame 0)" : " frames (0 to " + last + ")");
}

// A number the user gave for the slider; nothing for `auto` and for no value.
std::optional<double> valueOf(const SliderChoice &choice)
{
    return choice.isValue() ? std::optional<double>(choice.value) : std::nullopt;
}

// The layer frame that the clip's frame `given` is, checked against the clip and the slider.
int layerFrame(const std::string &option, double given, const SliderRange &range,
               const FrameNumbering &numbering)
{
    const std::string named = option + " " + formatNumber(given);
    if (numbering.fileNumbers && given < static_cast<double>(numbering.first)) {
        throw UsageError(named +
                         " is a number no file of the clip carries: " + clipExtent(numbering));
    }
    const double layer = given - static_cast<double>(numbering.first);
    if (layer < range.validMin || layer > range.validMax) {
        throw UsageError(named +
                         (numbering.fileNumbers
                              ? " (frame " + formatNumber(layer) + " of the layer, counted from 0)"
                              : std::string()) +
                         " is outside the valid range of \"" + range.label + "\": " +
                         formatNumber(range.validMin) + " to " + formatNumber(range.validMax));
    }
    if (layer > static_cast<double>(numbering.frameCount - 1)) {
        throw UsageError(named + " is past the end of the clip: " + clipExtent(numbering));
    }
    return static_cast<int>(layer);
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

std::string FrameNumbering::describe() const
{
    const std::string span = std::to_string(first) + " to " + std::to_string(last());
    return fileNumbers ? "file numbers " + span : "frames counted from 0: " + span;
}

FrameNumbering numberingOf(const Clip &clip)
{
    return FrameNumbering{clip.frameCount, clip.firstNumber, clip.fileNumbers};
}

void checkSliderRanges(const SliderRequest &request, const SliderRanges &ranges)
{
    checkedValue("--every", request.every, ranges.every, 0.0);
    checkedValue("--divergence", valueOf(request.divergence), ranges.divergence, 0.0);
    checkedValue("--rating-range", valueOf(request.ratingRange), ranges.ratingRange, 0.0);
}

namespace {

// The request with a frame list turned into the start, end and every it stands for; the options
// named in messages as the list.
struct FrameOptions {
    SliderRequest request;
    std::string start = "--start";
    std::string end = "--end";
    std::string every = "--every";
};

FrameOptions frameOptionsOf(const SliderRequest &request)
{
    FrameOptions options;
    options.request = request;
    if (!request.frames) {
        return options;
    }
    const std::string list = "--frames " + *request.frames;
    if (request.start || request.end || request.every) {
        throw UsageError(list + " names the frames itself: give it without --start, --end and "
                                "--every");
    }
    const EvenFrames even = evenFrames(parseFrameList(*request.frames), list);
    options.request.start = static_cast<double>(even.start);
    options.request.end = static_cast<double>(even.end);
    options.request.every = static_cast<double>(even.every);
    options.start = list + ": its first frame,";
    options.end = list + ": its last frame,";
    options.every = list + ": its step,";
    return options;
}

} // namespace

SamplingPlan planSampling(const SliderRequest &given, const SliderRanges &ranges,
                          const FrameNumbering &numbering)
{
    const FrameOptions options = frameOptionsOf(given);
    const SliderRequest &request = options.request;
    SamplingPlan plan;
    plan.start =
        request.start ? layerFrame(options.start, *request.start, ranges.start, numbering) : 0;
    // The "End Frame" slider stops at its valid maximum: the plug-in cannot reach the frames of a
    // longer clip, and ending there unasked would pass a part of the clip off as all of it.
    const double lastLayerFrame = static_cast<double>(numbering.frameCount - 1);
    if (!request.end && lastLayerFrame > ranges.end.validMax) {
        const double lastReachable = static_cast<double>(numbering.first) + ranges.end.validMax;
        throw UsageError(clipExtent(numbering) + ", more than the plug-in's \"" + ranges.end.label +
                         "\" reaches (up to layer frame " + formatNumber(ranges.end.validMax) +
                         "); give --end " + formatNumber(lastReachable) +
                         " or less to use the frames up to it, or split the clip");
    }
    plan.end = request.end ? layerFrame(options.end, *request.end, ranges.end, numbering)
                           : static_cast<int>(lastLayerFrame);
    plan.every = static_cast<int>(checkedValue(options.every, request.every, ranges.every, 1.0));
    plan.divergence = checkedValue("--divergence", valueOf(request.divergence), ranges.divergence,
                                   ranges.divergence.defaultValue);
    plan.ratingRange = checkedValue("--rating-range", valueOf(request.ratingRange),
                                    ranges.ratingRange, ranges.ratingRange.defaultValue);

    // The plug-in would quietly sample only the start frame here; on the command line a
    // reversed range is far more likely a typo than a wish for a one-frame plate.
    if (plan.start > plan.end) {
        throw UsageError("--start " + std::to_string(numbering.first + plan.start) +
                         " comes after --end " + std::to_string(numbering.first + plan.end) +
                         ": the range has no frames");
    }
    plan.frames = sampledFrames(plan.start, plan.end, plan.every);
    return plan;
}

} // namespace framemeld::cli

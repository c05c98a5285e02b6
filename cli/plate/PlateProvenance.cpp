#include "cli/plate/PlateProvenance.h"

#include <cstdio>

#include "cli/core/ToolVersion.h"
#include "cli/plan/Sliders.h"

namespace framemeld::cli {
namespace {

std::string number(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.10g", value);
    return text;
}

} // namespace

std::string plateProvenance(const std::string &input, const SamplingPlan &plan, Depth depth)
{
    return std::string("framemeld ") + toolVersion() + "; input " + input + "; " +
           kStartFrameLabel + " " + number(plan.start) + ", " + kEndFrameLabel + " " +
           number(plan.end) + ", " + kEveryFrameLabel + " " + number(plan.every) + ", " +
           kDivergenceLabel + " " + number(plan.divergence) + ", " + kRatingRangeLabel + " " +
           number(plan.ratingRange) + "; " + std::to_string(runner::bitsPerChannel(depth)) +
           "-bit render";
}

} // namespace framemeld::cli

#include "cli/job/AlignmentReport.h"

#include "cli/text/JsonText.h"

namespace framemeld::cli {

std::string AlignedFrameReport::json() const
{
    std::vector<std::string> numbers;
    for (const double value : matrix) {
        numbers.push_back(jsonNumber(value));
    }
    JsonObject entry;
    entry.addNumber("frame", static_cast<double>(frame))
        .add("frame_to_reference", jsonArray(numbers))
        .addNumber("support", support)
        .addNumber("residual", residual)
        .addNumber("features", features)
        .addNumber("matches", matches)
        .addNumber("inliers", inliers);
    return entry.text();
}

std::string AlignmentReport::json() const
{
    std::vector<std::string> entries;
    for (const AlignedFrameReport &frame : frames) {
        entries.push_back(frame.json());
    }
    JsonObject object;
    object.addString("model", model)
        .addNumber("reference", static_cast<double>(reference))
        .addNumber("passes", passes)
        .addNumber("largest_displacement", largestDisplacement)
        .add("still", still ? "true" : "false")
        .add("frames", jsonArray(entries));
    return object.text();
}

} // namespace framemeld::cli

#include "cli/job/AlignmentReport.h"

#include "cli/text/JsonText.h"

namespace framemeld::cli {

std::string AlignmentReport::json() const
{
    std::vector<std::string> entries;
    for (const AlignedFrameReport &frame : frames) {
        std::vector<std::string> numbers;
        for (const double value : frame.matrix) {
            numbers.push_back(jsonNumber(value));
        }
        JsonObject entry;
        entry.addNumber("frame", static_cast<double>(frame.frame))
            .add("frame_to_reference", jsonArray(numbers))
            .addNumber("support", frame.support)
            .addNumber("residual", frame.residual)
            .addNumber("features", frame.features)
            .addNumber("matches", frame.matches)
            .addNumber("inliers", frame.inliers);
        entries.push_back(entry.text());
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

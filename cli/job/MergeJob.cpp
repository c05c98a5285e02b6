#include "cli/job/MergeJob.h"

#include <utility>

#include "cli/farm/FarmStrips.h"
#include "cli/job/MemoryBudget.h"

namespace framemeld::cli {

MergeJob::MergeJob(MergeJobSpec spec) : spec_(std::move(spec)) {}

RunReport MergeJob::run(const JobControl &control) const
{
    RunReport report;
    report.output = spec_.output;
    try {
        std::atomic<bool> ownCancel{false};
        const std::atomic<bool> *cancel = control.cancel != nullptr ? control.cancel : &ownCancel;
        const MergedPlate plate =
            mergeStrips(spec_.output, spec_.strips, memoryBudget(spec_.memory), cancel);
        report.plateWidth = plate.width;
        report.plateHeight = plate.height;
        report.renderBits = plate.bits;
        report.stripsMerged = static_cast<int>(spec_.strips.size());
        report.plateDataType = plate.dataType;
        report.clippedSamples = plate.clippedSamples;
    } catch (...) {
        recordFailure(std::current_exception(), report);
    }
    return report;
}

} // namespace framemeld::cli

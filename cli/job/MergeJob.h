#pragma once
// The strips of a plate rendered across a render farm (RenderJobSpec::rows) joined into the plate
// a single run writes, as one call: what `framemeld merge` runs.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/job/JobControl.h"
#include "cli/job/RunReport.h"

namespace framemeld::cli {

struct MergeJobSpec {
    std::string output;              // the plate
    std::vector<std::string> strips; // in any order; each with its record beside it
    std::optional<std::uint64_t> memory =
        std::nullopt; // the budget the plate must fit; unset: see MemoryBudget
};

class MergeJob {
public:
    explicit MergeJob(MergeJobSpec spec);

    // Checks the strips against their records and one another, then writes the plate. Never
    // throws: the report says what was done, or the exit status and message (see RunReport).
    RunReport run(const JobControl &control = {}) const;

private:
    MergeJobSpec spec_;
};

} // namespace framemeld::cli

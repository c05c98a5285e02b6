#pragma once
// `framemeld align INPUT -o MOTION.json`: the frames a render with the same options samples,
// registered to the reference, and the transforms written to a motion file (MotionFile.h);
// nothing is rendered. A farm registers once and hands the file to every node (--motion).

#include <optional>
#include <string>

#include "cli/formats/AlignModule.h"
#include "cli/job/JobControl.h"
#include "cli/job/RunReport.h"
#include "cli/plan/SamplingPlan.h"

namespace framemeld::cli {

struct AlignJobSpec {
    std::string input;
    std::string output; // the motion file
    // Only the frames count (start, end, every or a list): the run samples as a render would.
    SliderRequest sliders;
    std::optional<int> depthBits; // the depth the render registers at; unset: the footage's
    int threads = 0;              // 0: one per core
    std::string plugin;           // its slider ranges shape the sampling, as for a render
    align::MotionModel model = align::MotionModel::Similarity; // None is refused
    std::optional<long long> reference;                        // unset: the middle sampled frame
};

class AlignJob {
public:
    explicit AlignJob(AlignJobSpec spec);

    // Registers and writes the file. Never throws: the report holds the alignment, or the exit
    // status and message (see RunReport). No file is left by a run that fails or is cancelled.
    RunReport run(const JobControl &control = {}) const;

private:
    void registerFrames(const JobControl &control, RunReport &report) const;

    AlignJobSpec spec_;
};

} // namespace framemeld::cli

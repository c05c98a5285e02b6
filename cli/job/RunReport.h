#pragma once
// What one run did, filled in as it goes: what a job hands back to its caller, and what --json
// prints, the run's outcome as one JSON object, so that pipeline tools read it instead of parsing
// messages. A failed run reports what it had reached, with the exit status and the message.

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "cli/core/FrameWindows.h"
#include "cli/footage/MotionEstimate.h"
#include "cli/job/AlignmentReport.h"
#include "cli/plan/MemoryPlan.h"
#include "cli/plan/RowSpan.h"
#include "cli/plan/SamplingPlan.h"
#include "cli/workspace/WorkingSpace.h"

namespace framemeld::cli {

struct RunReport {
    std::string input;
    std::string output;
    std::string plugin; // the module file, once found
    std::optional<FrameNumbering> numbering;
    std::optional<SamplingPlan> plan;
    // The file of each frame in plan->frames, for an image sequence.
    std::optional<std::vector<std::string>> sampledFiles;
    bool divergenceAuto = false;      // `--divergence auto` (the default)
    bool ratingRangeAuto = false;     // `--rating-range auto` (the default with auto Divergence)
    std::optional<double> noiseSigma; // the measured noise in full scale, once measured
    std::string workingSpace;         // the working space's name, once chosen
    bool workingSpaceAuto = false;    // chosen by `--working-space auto` (the default)
    WorkingSpaceUnits workingSpaceUnits{"levels of 255", 255.0}; // what the noise is said in
    std::string footageSpace; // a named working space: the footage's colour space
    int renderBits = 0;       // 0 until known
    int rotation = 0;         // clockwise degrees a movie's pictures were turned by
    int plateWidth = 0;
    int plateHeight = 0;
    bool plateAlpha = false; // the plate file has alpha (the footage had): holes are transparent
    std::vector<std::pair<std::string, double>> phaseSeconds; // in the order run
    // Holdout and mattes: the matte read, the plate pixels made holes (once counted), the files
    // written beside the plate.
    std::string holdout;
    std::optional<long> holes;
    std::string confidenceFile;
    std::vector<std::string> matteFiles;
    // --align: the reference, the model and each frame's transform, once registered.
    std::optional<AlignmentReport> alignment;
    // Whether the sampled frames move against each other (clip frames as in plan), once the run
    // has rendered; not measured, with the reason, by runs that align or see only some rows.
    std::optional<MotionMeasurement> motion;
    int exitStatus = 0;
    std::string message; // empty on success
    // The plug-in rendered with plan's Divergence and Rating Range; until then those two are
    // only asked for (or not yet measured), and the JSON shows them as null.
    bool slidersSettled = false;

    // Beside the JSON, for the summary a caller prints: how the run fitted its memory.
    std::optional<RowSpan> rows;      // a farm node's rows
    std::optional<MemoryPlan> memory; // once planned
    std::uint64_t memoryBudget = 0;
    std::uint64_t scratchBytes = 0; // frames written aside, when they were
    int stripsMerged = 0;           // a merge: how many strips
    std::string plateDataType;      // the samples the plate file stores, once written
    long long clippedSamples = 0;   // samples outside 0..1 that an integer plate type clipped
    bool lossyPlate = false;        // a format that does not store the plate as rendered
    FrameWindows windows;           // the footage's display and data windows, once probed

    // Seconds of the phase `name`, 0 when it did not run.
    double seconds(const std::string &name) const;

    std::string json() const;
};

// Records `failure` (the exception a job or the command line stopped with) in `report`: its exit
// status (see CliError) and a message that says what happened and that nothing was written.
void recordFailure(const std::exception_ptr &failure, RunReport &report);

} // namespace framemeld::cli

#pragma once
// --align for the render job: the sampled frames registered to the reference before any frame is
// held, and, unless the clip turns out still, the warp stage the frame sources apply first and
// the pixels each warped frame leaves uncovered added to the holdout mattes, so that they are
// held out by the matte's rule (codes that agree with nothing, honest holes where too few frames
// cover a pixel) and counted with the plate's holes.

#include <atomic>
#include <memory>
#include <vector>

#include "cli/core/Clip.h"
#include "cli/core/FootageFormat.h"
#include "cli/footage/FrameStages.h"
#include "cli/footage/HoldoutMattes.h"
#include "cli/formats/AlignModule.h"
#include "cli/job/AlignmentReport.h"

namespace framemeld::cli {

struct PlateAlignmentRequest {
    const Clip *clip = nullptr;
    FootageFormat format;
    Depth depth = Depth::Bits8;
    std::vector<int> frames; // sampled clip frames
    int reference = 0;       // a clip frame among them
    long long firstNumber = 0;
    align::MotionModel model = align::MotionModel::Similarity;
    int threads = 1;
    const std::atomic<bool> *cancel = nullptr;
};

struct PlateAlignment {
    std::shared_ptr<const FrameStage> warp; // null when the clip is still
    AlignmentReport report;
};

// Registers the frames (see alignFrames for the refusals). When they move, `mattes` gets each
// frame's uncovered pixels; it is made, holding nothing else out, when null.
PlateAlignment alignPlate(const PlateAlignmentRequest &request,
                          std::shared_ptr<HoldoutMattes> &mattes);

} // namespace framemeld::cli

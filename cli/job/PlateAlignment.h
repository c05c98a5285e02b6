#pragma once
// --align for the render job: the sampled frames registered to the reference before any frame is
// held, and, unless the clip turns out still, the warp stage the frame sources apply first and
// the pixels each warped frame leaves uncovered added to the holdout mattes, so that they are
// held out by the matte's rule (codes that agree with nothing, honest holes where too few frames
// cover a pixel) and counted with the plate's holes.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "cli/core/Clip.h"
#include "cli/core/FootageFormat.h"
#include "cli/footage/FrameStages.h"
#include "cli/footage/HoldoutMattes.h"
#include "cli/formats/AlignModule.h"
#include "cli/job/AlignmentReport.h"
#include "cli/plan/SamplingPlan.h"

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
    std::uint64_t memory = 0; // what registration may hold at once, bytes; 0: no bound
    // Where the frames are already held whole at `depth`: each clip frame as held, so that
    // registration reads them there instead of decoding them again (alignHeldFrames). Empty:
    // registration decodes.
    std::function<align::HostFrameView(int frame)> heldFrame;
    // Told how far registration is (see FrameAlignmentRequest); none: nobody.
    std::function<void(long long done, long long total)> decoded;
    std::function<void()> registering;
};

struct PlateAlignment {
    std::shared_ptr<const FrameStage> warp; // null when the clip is still
    AlignmentReport report;
};

// The two steps of --align, apart so that a motion file (MotionFile.h) can stand for the first:
// registering the frames, and the warp from the transforms found.
//
// Registers the frames (see alignFrames for the refusals): one entry per entry of
// request.frames, in that order; a still clip's matrices are the identity, as its frames are
// left unwarped.
AlignmentReport registerPlate(const PlateAlignmentRequest &request);

// The warp for transforms already known, `motion` as registerPlate makes it (request.model is
// not used). When the frames move, `mattes` gets each frame's uncovered pixels; it is made,
// holding nothing else out, when null. Throws std::invalid_argument when `motion` does not hold
// one transform per sampled frame.
PlateAlignment warpPlate(const PlateAlignmentRequest &request, const AlignmentReport &motion,
                         std::shared_ptr<HoldoutMattes> &mattes);

// Both steps.
PlateAlignment alignPlate(const PlateAlignmentRequest &request,
                          std::shared_ptr<HoldoutMattes> &mattes);

// A digest of the frames and the transforms they are warped with, for a strip's record: strips
// whose frames were warped differently are not merged.
std::string transformsDigest(const AlignmentReport &motion);

// The clip frame --align registers to: `reference` by the clip's numbering, or, unset, the
// middle sampled frame. Throws UsageError for a frame the plan does not sample.
int referenceFrame(const std::optional<long long> &reference, const SamplingPlan &plan,
                   long long firstNumber);

} // namespace framemeld::cli

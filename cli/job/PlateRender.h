#pragma once
// The one way a plate is rendered, whatever holds the frames: the sampled frames made ready, the
// automatic sliders measured from them, the five sliders set, and the plate (or a farm node's
// rows of it) rendered in one request or band by band as the memory plan says. Progress is shown
// the same way for every run that holds its frames the same way.

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "cli/footage/ClipFrameSource.h"
#include "cli/footage/HoldoutMattes.h"
#include "cli/footage/NoiseMeasurement.h"
#include "cli/job/JobProgress.h"
#include "cli/mattes/HoldoutCodes.h"
#include "cli/plan/AutoSettings.h"
#include "cli/plan/MemoryPlan.h"
#include "cli/plan/RowSpan.h"
#include "cli/plan/SamplingPlan.h"
#include "cli/plugin/PluginSession.h"
#include "cli/workspace/WorkingSpace.h"
#include "runner/World.h"

namespace framemeld::cli {

struct RenderedPlate;

struct PlateRenderInput {
    SamplingPlan plan;      // its automatic sliders are set here
    AutoSettings automatic; // which sliders to measure
    SliderRanges ranges;    // what the sliders accept
    MemoryPlan memory;      // how the frames are held and how tall a band is
    std::optional<RowSpan> rows;
    int threads = 1; // what the measurements of the frames run on
    // The space the frames were encoded into (an Encode frame stage), which the plate is
    // decoded back from; null: none.
    const WorkingSpace *workingSpace = nullptr;
    // Held-out samples become their codes once the sliders are known (see HoldoutStage.h).
    std::shared_ptr<const HoldoutMattes> holdout;
    // The option whose warp left the pixels that mattes without a file hold out.
    std::string warpedBy = "--align";
    // Called with the plate as the plug-in made it, in the working space's values, before it is
    // decoded out of them: what compares the plate with the frames runs here. Its time is not the
    // render's. None: nothing.
    std::function<void(runner::World &plate, const RenderedPlate &rendered)> examine;
    // The frames were read already (readFrames), with the progress they report.
    bool framesRead = false;
};

struct RenderedPlate {
    runner::World plate; // the plate, or the rows asked for
    SamplingPlan plan;   // with the values the render used
    NoiseEstimate noise; // when the Divergence was measured
    double readSeconds = 0;
    double estimateSeconds = 0;
    double renderSeconds = 0; // the plate's decoding out of the working space included
    std::optional<mattes::HoldoutCodes> holdoutCodes; // the codes the frames were given
};

// Reads the sampled frames into `frames` as the render's first phase, with its progress, for a
// run that works on the held frames before the render (registration); renderPlate then goes on
// from there when input.framesRead says so. Throws as renderPlate does.
void readFrames(ClipFrameSource &frames, const PlateRenderInput &input, JobProgress &progress);

// Throws CancelledError when cancelled, RunError for footage or plug-in failures.
RenderedPlate renderPlate(PluginSession &session, ClipFrameSource &frames,
                          const PlateRenderInput &input, JobProgress &progress);

} // namespace framemeld::cli

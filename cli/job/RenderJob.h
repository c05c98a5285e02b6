#pragma once
// One clean plate, from the footage on disk to the plate on disk, as one call: what the command
// line runs for `framemeld INPUT -o OUTPUT`, and what a pipeline or a language binding can run
// with no command line at all. The job makes every cheap check before the long work (the output,
// the module, the sliders, the clip, the memory budget), renders through the Framemeld module
// with the frames held as the memory plan says, and writes the plate whole or not at all.

#include <cstdint>
#include <optional>
#include <string>

#include "cli/formats/AlignModule.h"
#include "cli/job/JobControl.h"
#include "cli/job/RunReport.h"
#include "cli/plan/RowSpan.h"
#include "cli/plan/SamplingPlan.h"
#include "cli/plan/WorkingSpaceChoice.h"

namespace framemeld::cli {

struct RenderJobSpec {
    std::string input;  // an image sequence pattern, a folder of frames, a movie or one image
    std::string output; // the plate; its extension names the format
    // The five sliders as asked: frames in the clip's own numbering, unset for the whole clip,
    // every frame and the plug-in's defaults; Divergence and Rating Range also `auto`.
    SliderRequest sliders;
    std::optional<int> depthBits;        // 8, 16 or 32; unset: the footage's own depth
    int threads = 0;                     // decoding and rendering threads; 0: one per core
    std::optional<std::uint64_t> memory; // the budget in bytes; unset: a share of what is free
    std::string plugin;                  // the module; empty: the one beside or built with this
    std::optional<RowSpan> rows;         // a render-farm node's rows; unset: the whole plate
    std::string dataType;    // the plate's samples, oiiotool's names; empty: see PlateStorage.h
    std::string compression; // the plate format's own name; empty: the format's default
    WorkingSpaceRequest workingSpace; // what the consensus runs in; auto by default
    std::string ocioConfig;           // for a named colour space; empty: $OCIO
    // What the artist knows and where the plate is unsure (README: "Holdout mattes, confidence
    // and difference mattes"); empty: none.
    std::string holdout;        // a matte per frame, or one still for every frame
    bool holdoutInvert = false; // the matte's foreground is below half of full scale
    std::string confidence;     // the share of sampled frames agreeing with the plate
    std::string mattes;         // where each sampled frame differs: a pattern with its number
    // Moving cameras (README: "Moving cameras"): each sampled frame registered to the reference
    // and warped into it before the plug-in sees it; None (or unset) renders the frames as they
    // are.
    std::optional<align::MotionModel> align;
    std::optional<long long> reference; // the clip's numbering; unset: the middle sampled frame
    // A motion file (`framemeld align`, MotionFile.h) whose transforms are used instead of
    // registering; `align` and `reference` may then be unset, and must match the file if set.
    std::string motion;
};

class RenderJob {
public:
    explicit RenderJob(RenderJobSpec spec);

    // Renders and writes the plate. Never throws: the report says what was done or how far the
    // run got, with its exit status and message (see RunReport and recordFailure). No output is
    // left by a run that fails or is cancelled.
    RunReport run(const JobControl &control = {}) const;

    const RenderJobSpec &spec() const { return spec_; }

private:
    void render(const JobControl &control, RunReport &report) const;

    RenderJobSpec spec_;
};

} // namespace framemeld::cli

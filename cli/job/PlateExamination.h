#pragma once
// After the render, the plate is held against the frames the plug-in read: where a holdout left
// nothing visible to agree on, the plug-in's blend of held-out codes becomes an honest hole (all
// four components 0, counted); then every sampled frame is asked whether it agrees with the plate
// by the plug-in's own test, which gives the confidence (the share that agrees) and each frame's
// difference matte (where it does not). One pass over the frames per pixel, O(n), row by row:
// frames held in memory are read where they lie, the others a band of the memory plan's height at
// a time, the band's rows of every frame as the render read them, so the pass keeps within the
// budget the render kept.

#include <atomic>
#include <cstdint>
#include <vector>

#include "cli/footage/ClipFrameSource.h"
#include "cli/footage/HoldoutMattes.h"
#include "cli/mattes/HoldoutCodes.h"
#include "cli/plan/MemoryPlan.h"
#include "runner/World.h"

namespace framemeld::cli {

struct PlateExaminationRequest {
    std::vector<int> frames; // the sampled frames, in sampled order
    double divergence = 0;   // the sliders the render used
    double ratingRange = 0;
    // The holdout, when the run has one; then both are set.
    const HoldoutMattes *holdout = nullptr;
    const mattes::HoldoutCodes *codes = nullptr;
    bool confidence = false;  // keep the share of agreeing frames per pixel
    bool differences = false; // keep where each frame differs
    int top = 0;              // the frame row of the plate's first row (a farm node's rows)
    MemoryPlan memory;        // how the frames are held, and the band height
    int threads = 1;
    const std::atomic<bool> *cancel = nullptr;
};

struct PlateExamination {
    int width = 0;
    int height = 0;
    long holes = 0;                // plate pixels made holes
    std::vector<float> confidence; // width x height, rows from the top; empty unless asked
    // Bits of where each sampled frame differs from the plate, rowWords per row; empty unless
    // asked.
    std::vector<std::vector<std::uint64_t>> differences;
    int rowWords = 0;

    bool differs(int k, int x, int y) const
    {
        const std::uint64_t word = differences[static_cast<std::size_t>(k)]
                                              [static_cast<std::size_t>(y * rowWords + x / 64)];
        return ((word >> (x % 64)) & 1u) != 0;
    }

    // What a run with these outputs keeps beside the render's own memory.
    static std::uint64_t bytesFor(int width, int height, int frames, bool confidence,
                                  bool differences);
};

// Makes the holes in `plate` (rows request.top onwards of the frames, the plate's whole width)
// and measures it. Throws CancelledError, and what reading the frames throws.
PlateExamination examinePlate(ClipFrameSource &frames, runner::World &plate,
                              const PlateExaminationRequest &request);

} // namespace framemeld::cli

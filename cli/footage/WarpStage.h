#pragma once
// The alignment as a frame stage: each sampled frame is resampled into the reference frame's
// pixels before anything else sees it, so the consensus compares the same part of the scene at
// every pixel. A warp moves pixels between rows, so it needs whole frames: the sources apply it
// as they decode (held in memory, or before the frame reaches the scratch file). Pixels the
// warped frame has no footage for are left transparent black here; the holdout stage, which runs
// after, gives them the frame's held-out code (see HoldoutMattes::holdOutUncovered), so they
// agree with nothing instead of with one another.

#include <map>

#include "cli/core/FootageFormat.h"
#include "cli/footage/FrameStages.h"
#include "cli/formats/AlignModule.h"

namespace framemeld::cli {

// How the footage's alpha stands to its colour, as the warp must filter it.
align::AlphaKind alphaKindOf(const FootageFormat &format);

class WarpStage final : public FrameStage {
public:
    // `frameToReference` by clip frame; frames without an entry, and those whose transform is
    // the identity, pass unchanged.
    WarpStage(const align::AlignModule &module, std::map<int, align::Transform> frameToReference,
              align::AlphaKind alpha, runner::PixelDepth depth,
              align::WarpSettings settings = align::WarpSettings{});

    bool wholeFrame() const override { return true; }
    void apply(int frame, const PF_LRect &area, unsigned char *pixels,
               std::ptrdiff_t rowBytes) const override;

private:
    const align::AlignModule &module_;
    std::map<int, align::Transform> frameToReference_;
    align::AlphaKind alpha_;
    runner::PixelDepth depth_;
    align::WarpSettings settings_;
};

} // namespace framemeld::cli

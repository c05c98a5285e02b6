#pragma once
// The holdout as a frame stage: where the matte of sampled frame k says foreground, the sample
// the plug-in reads is frame k's held-out code (mattes/HoldoutCodes.h), a value that agrees with
// no other sample, so it drops out wherever the visible background agrees with itself. The codes
// depend on the Divergence, so the stage is made once the sliders are known, after an automatic
// Divergence was measured from the frames as decoded. A warp that runs before it (--align) may
// leave pixels it has no footage for; those count as held out by the same rule, which is why the
// matte is drawn on the frames as the warp leaves them.

#include <memory>

#include "cli/footage/FrameStages.h"
#include "cli/footage/HoldoutMattes.h"
#include "cli/mattes/HoldoutCodes.h"

namespace framemeld::cli {

class HoldoutStage final : public FrameStage {
public:
    // `codes` must hold every sampled frame of `mattes` apart (capacityProblem is empty).
    HoldoutStage(std::shared_ptr<const HoldoutMattes> mattes, mattes::HoldoutCodes codes);

    void apply(int frame, const PF_LRect &area, unsigned char *pixels,
               std::ptrdiff_t rowBytes) const override;

    const mattes::HoldoutCodes &codes() const { return codes_; }

private:
    std::shared_ptr<const HoldoutMattes> mattes_;
    mattes::HoldoutCodes codes_;
};

} // namespace framemeld::cli
